// The formatting engine: format reading, the conversion table and its
// initial conversions, the sinks of the printf family, and the String
// builders doFormat/toStr.
//
// Invariants: every conversion writes into the work buffer of kFmtWorkSize
// bytes with a bound; precisions and implied decimals are clamped to 254 for
// numbers; a counted argument list never yields an argument it does not
// hold, so a conversion without one prints nothing (no padding either).
#include <zfound/Format.h>

#include <zfound/Assert.h>
#include <zfound/CharClass.h>
#include <zfound/Config.h>
#include <zfound/EditMask.h>
#include <zfound/Environ.h>
#include <zfound/Boolean.h>
#include <zfound/Message.h>
#include <zfound/Num.h>
#include <zfound/String.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

// --- argument lists ------------------------------------------------------------

FmtArgs::FmtArgs(va_list ap) : isVa_(true) { va_copy(ap_, ap); }

FmtArgs::FmtArgs(FmtArg const* list, size_t count) : isVa_(false), list_(list), count_(list ? count : 0) {}

FmtArgs::~FmtArgs() {
  if (isVa_) va_end(ap_);
}

FmtArg const* FmtArgs::takeCounted() {
  if (pos_ >= count_) return nullptr;
  return &list_[pos_++];
}

bool FmtArgs::nextInt(int32_t& v) {
  v = 0;
  if (isVa_) {
    v = va_arg(ap_, int);
    return true;
  }
  int64_t w = 0;
  if (!nextLong(w)) return false;
  v = int32_t(uint32_t(uint64_t(w)));
  return true;
}

bool FmtArgs::nextLong(int64_t& v) {
  v = 0;
  if (isVa_) {
    v = va_arg(ap_, long long);
    return true;
  }
  FmtArg const* a = takeCounted();
  if (!a) return false;
  if (a->kind() == FmtArg::Int) {
    v = a->integer();
    return true;
  }
  if (a->kind() == FmtArg::Double) {
    double d = a->real();
    if (std::isnan(d)) return false;
    v = d >= 9.2e18 ? INT64_MAX : d <= -9.2e18 ? INT64_MIN : int64_t(d);
    return true;
  }
  return false;
}

bool FmtArgs::nextDouble(double& v) {
  v = 0;
  if (isVa_) {
    v = va_arg(ap_, double);
    return true;
  }
  FmtArg const* a = takeCounted();
  if (!a) return false;
  if (a->kind() == FmtArg::Double) v = a->real();
  else if (a->kind() == FmtArg::Int) v = double(a->integer());
  else return false;
  return true;
}

namespace {
bool isPointerKind(FmtArg::Kind k) { return k != FmtArg::Int && k != FmtArg::Double; }
}  // namespace

bool FmtArgs::nextPtr(void const*& v) {
  v = nullptr;
  if (isVa_) {
    v = va_arg(ap_, void const*);
    return true;
  }
  FmtArg const* a = takeCounted();
  if (!a || !isPointerKind(a->kind())) return false;
  v = a->pointer();
  return true;
}

bool FmtArgs::nextPtr(void const*& v, FmtArg::Kind want) {
  v = nullptr;
  if (isVa_) {
    v = va_arg(ap_, void const*);
    return true;
  }
  FmtArg const* a = takeCounted();
  if (!a || !isPointerKind(a->kind())) return false;
  if (a->kind() != want && a->pointer() != nullptr) return false;
  v = a->pointer();
  return true;
}

namespace {

char const kHighText[] = "(high value)";
constexpr int32_t kNumLimit = 254;    // most digits / decimals of a number
constexpr int32_t kRepeatLimit = 65535;

char const* highPtr() { return reinterpret_cast<char const*>(uintptr_t(1)); }

int32_t clampNum(int32_t v) { return v < 0 ? 0 : v > kNumLimit ? kNumLimit : v; }

// Copies text into work (bounded) and returns work.
char const* toWork(char* work, char const* text) {
  std::snprintf(work, kFmtWorkSize, "%s", text ? text : "");
  return work;
}

// Text laid through an edit mask source (or a compiled mask).
char const* masked(char* work, char const* text, char const* mask) {
  String out = String(text).format(String(mask));
  return toWork(work, toCharPtr(out));
}

// %$: the environment variable named after the "$".
char const* environmentVar(int, char const*& fmt, char, int32_t&, FmtArgs& args, char* work,
                           char const*, int32_t&) {
  std::string name;
  if (*fmt == '{') {
    ++fmt;
    while (*fmt && *fmt != '}') name += *fmt++;
    if (*fmt == '}') ++fmt;
  } else if (*fmt == '*') {
    ++fmt;
    void const* p = nullptr;
    if (!args.nextPtr(p, FmtArg::Chars)) return nullptr;
    if (p && p != highPtr()) name = static_cast<char const*>(p);
  } else {
    while (*fmt && isAlnumChar(*fmt)) name += *fmt++;
  }
  char const* value = name.empty() ? nullptr : readEnvVar(name.c_str());
  return toWork(work, value ? value : "");
}

// %B: the true or false text of the catalogue mask "BOOLMASK" (its own
// text while the catalogues are not open yet); null gives the empty text.
char const* boolConversion(int, char const*&, char, int32_t&, FmtArgs& args, char* work,
                           char const*, int32_t&) {
  int32_t v = 0;
  if (!args.nextInt(v)) return nullptr;
  if (v < 0) return toWork(work, "");
  Boolean b(v);
  return toWork(work, msgTablesReady() ? b.format(static_cast<char const*>(nullptr)) : b.format("TRUE\nFALSE\n"));
}

// Puts the configured decimal point in place of "." or, with implied
// decimals, removes it and adds the digits after it to the decimals.
char const* placePoint(char* work, int32_t& decimals) {
  char* dot = std::strchr(work, '.');
  if (!dot) return work;
  if (decimals >= 0) {
    int32_t after = 0;
    for (char* q = dot + 1; *q >= '0' && *q <= '9'; ++q) ++after;
    std::memmove(dot, dot + 1, std::strlen(dot + 1) + 1);
    decimals += after;
  } else {
    *dot = decPoint();
  }
  return work;
}

// %N, %e, %f, %g: numbers.
char const* numConversion(int c, char const*&, char, int32_t& precision, FmtArgs& args, char* work,
                          char const*, int32_t& decimals) {
  int32_t prec = precision < 0 ? 7 : clampNum(precision);
  precision = kFmtNoPrecision;
  if (c == 'N') {
    void const* p = nullptr;
    if (!args.nextPtr(p, FmtArg::NumPtr)) return nullptr;
    if (!p) return toWork(work, "");
    toWork(work, toCharPtr(*static_cast<Num const*>(p), 255, prec));
  } else {
    double d = 0;
    if (!args.nextDouble(d)) return nullptr;
    floatToStr(d, work, kFmtWorkSize, prec, c == 'e' ? 0 : c == 'f' ? 1 : 2);
  }
  return placePoint(work, decimals);
}

// %S: a String const*.
char const* stringConversion(int, char const*&, char, int32_t&, FmtArgs& args, char* work,
                             char const* quoted, int32_t&) {
  void const* p = nullptr;
  if (!args.nextPtr(p, FmtArg::Str)) return nullptr;
  // A null pointer (of any kind: the format may be a catalogue text that asks
  // %S where the program passes a text pointer) prints nothing.
  if (!p) return nullptr;
  String const& s = *static_cast<String const*>(p);
  if (s.isHighest()) return kHighText;
  if (quoted) return masked(work, toCharPtr(s), quoted);
  return toCharPtr(s);
}

// %s: a char const*.
char const* charPtrConversion(int, char const*&, char, int32_t&, FmtArgs& args, char* work,
                              char const* quoted, int32_t&) {
  void const* p = nullptr;
  if (!args.nextPtr(p, FmtArg::Chars)) return nullptr;
  if (!p) return "(null)";
  if (p == highPtr()) return kHighText;
  if (quoted) return masked(work, static_cast<char const*>(p), quoted);
  return static_cast<char const*>(p);
}

// %d %u %o %x %X %b: integers.
char const* integerConversion(int c, char const*&, char size, int32_t& precision, FmtArgs& args,
                              char* work, char const*, int32_t&) {
  int32_t minDigits = precision < 0 ? 1 : clampNum(precision);
  precision = kFmtNoPrecision;
  int64_t v = 0;
  int bits = 32;
  if (size == 'L') {
    if (!args.nextLong(v)) return nullptr;
    bits = 64;
  } else if (size == 'l') {
    if (!args.nextLong(v)) return nullptr;
    v = int32_t(uint32_t(uint64_t(v)));
  } else {
    int32_t i = 0;
    if (!args.nextInt(i)) return nullptr;
    v = i;
    if (size == 'h') {
      v = int16_t(uint16_t(uint32_t(i)));
      bits = 16;
    }
  }
  if ((c == 'd' || c == 'u') && bits == 32 && v == INT32_MIN) return toWork(work, "");

  bool neg = false;
  uint64_t u;
  if (c == 'd') {
    neg = v < 0;
    u = neg ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  } else {
    u = uint64_t(v);
    if (bits == 16) u &= 0xFFFFu;
    else if (bits == 32) u &= 0xFFFFFFFFu;
  }
  unsigned base = c == 'o' ? 8 : (c == 'x' || c == 'X') ? 16 : c == 'b' ? 2 : 10;
  char const* digitSet = c == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char rev[80];
  int n = 0;
  do {
    rev[n++] = digitSet[u % base];
    u /= base;
  } while (u);
  int k = 0;
  if (neg) work[k++] = '-';
  for (int z = n; z < minDigits; ++z) work[k++] = '0';
  while (n) work[k++] = rev[--n];
  work[k] = '\0';
  return work;
}

// The conversion table, built on first use.
ConvertFunction (&fpArray())[95] {
  static ConvertFunction table[95] = {};
  static bool ready = false;
  if (!ready) {
    ready = true;
    auto set = [](int c, ConvertFunction f) { table[c - 32] = f; };
    set('$', environmentVar);
    set('B', boolConversion);
    set('N', numConversion);
    set('e', numConversion);
    set('f', numConversion);
    set('g', numConversion);
    set('S', stringConversion);
    set('s', charPtrConversion);
    for (int c : {'d', 'u', 'o', 'x', 'X', 'b'}) set(c, integerConversion);
  }
  return table;
}

// Counts what goes to the sink and remembers a refusal.
struct Emitter {
  FmtSink sink;
  void* arg;
  int count = 0;
  bool put(char c) {
    if (sink(static_cast<unsigned char>(c), arg) == -1) return false;
    ++count;
    return true;
  }
};

char mapCase(char c, int caseMode) {
  return caseMode == 1 ? toUpperCase(c) : caseMode == 2 ? toLowerCase(c) : c;
}

// Reads decimal digits (bounded) at p.
int32_t readNumber(char const*& p) {
  int32_t v = 0;
  while (*p >= '0' && *p <= '9') {
    if (v < kRepeatLimit) v = v * 10 + (*p - '0');
    ++p;
  }
  return v > kRepeatLimit ? kRepeatLimit : v;
}

// --- sinks -------------------------------------------------------------------------

int fileSink(int c, void* arg) { return std::fputc(c, static_cast<FILE*>(arg)) == EOF ? -1 : c; }

// The sink of aprintf: each character through the national-to-ASCII
// translation.
int aputc(int c, void* arg) {
  return std::fputc(zeph_toascii(c), static_cast<FILE*>(arg)) == EOF ? -1 : c;
}

struct BufferSink {
  char* buf;
  size_t size;  // SIZE_MAX: unbounded
  size_t n;
};

// The sink of the buffer forms (bounded unless the size is SIZE_MAX).
int spsub(int c, void* arg) {
  BufferSink* b = static_cast<BufferSink*>(arg);
  if (b->size == SIZE_MAX || b->n + 1 < b->size) b->buf[b->n] = char(c);
  ++b->n;
  return c;
}

// A String holds at most kMaxLength characters: once they are there the
// sink refuses, which ends the format instead of working out the rest.
int stringSink(int c, void* arg) {
  std::string* s = static_cast<std::string*>(arg);
  if (s->size() >= size_t(String::kMaxLength)) return -1;
  s->push_back(char(c));
  return c;
}

String toStringValue(std::string const& s) {
  size_t n = s.size() > size_t(String::kMaxLength) ? size_t(String::kMaxLength) : s.size();
  return String(long(n), s.data());
}

char const* fmtChars(String const& fmt) {
  return fmt.isHighest() ? kHighText : toCharPtr(fmt);
}

}  // namespace

ConvertFunction functionPointer(int c) {
  if (c < 32 || c > 126) return nullptr;
  return fpArray()[c - 32];
}

void addConvertFunction(long c, ConvertFunction f) {
  long i = c - 32;
  if (!ZF_ASSERT(i >= 0 && i < 95)) return;
  fpArray()[i] = f;
}

int doFormat(FmtSink sink, void* sinkArg, char const* fmt, FmtArgs& args) {
  if (!sink || !fmt) return 0;
  if (fmt == highPtr()) fmt = kHighText;
  Emitter out{sink, sinkArg};
  char work[kFmtWorkSize];
  char quotedBuf[kFmtWorkSize];
  char numBuf[kFmtWorkSize];
  std::string repeat;
  char const* p = fmt;
  while (*p) {
    if (*p != '%') {
      if (!out.put(*p++)) return -1;
      continue;
    }
    if (p[1] == '%') {
      if (!out.put('%')) return -1;
      p += 2;
      continue;
    }
    ++p;
    bool left = false;
    char fill = ' ';
    int32_t width = 0, precision = kFmtNoPrecision, decimals = -1;
    bool thousands = false;
    char const* quoted = nullptr;
    int caseMode = 0;
    char size = ' ';

    if (*p == '-') { left = true; ++p; }
    if (*p == '0') { fill = '0'; ++p; }
    if (*p == '*') {
      ++p;
      int32_t w = 0;
      args.nextInt(w);
      if (w < 0) { left = true; w = w == INT32_MIN ? kRepeatLimit : -w; }
      width = w > kRepeatLimit ? kRepeatLimit : w;
    } else {
      width = readNumber(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        ++p;
        int32_t v = 0;
        precision = args.nextInt(v) && v >= 0 ? (v > kRepeatLimit ? kRepeatLimit : v) : kFmtNoPrecision;
      } else {
        precision = readNumber(p);
      }
    }
    if (*p == '#') {
      ++p;
      if (*p == ',') { thousands = true; ++p; }
      if (*p == '*') {
        ++p;
        int32_t v = 0;
        decimals = args.nextInt(v) && v > 0 ? v : 0;
      } else {
        decimals = readNumber(p);
      }
      decimals = clampNum(decimals);
    }
    if (*p == '"' || *p == '\'') {
      char q = *p++;
      if (p[0] == '*' && p[1] == q) {
        p += 2;
        void const* m = nullptr;
        if (args.nextPtr(m, FmtArg::Chars) && m && m != highPtr()) quoted = static_cast<char const*>(m);
      } else {
        size_t n = 0;
        while (*p && *p != q) {
          if (n + 1 < sizeof quotedBuf) quotedBuf[n++] = *p;
          ++p;
        }
        if (*p == q) ++p;
        quotedBuf[n] = '\0';
        quoted = quotedBuf;
      }
    }
    if (*p == '>') { caseMode = 1; ++p; }
    else if (*p == '<') { caseMode = 2; ++p; }
    if (*p == 'l') {
      ++p;
      size = 'l';
      if (*p == 'l') { size = 'L'; ++p; }
    } else if (*p == 'h') {
      size = 'h';
      ++p;
    }
    char c = *p;
    if (!c) break;
    ++p;

    char const* text = nullptr;
    size_t len = 0;
    int32_t cut = kFmtNoPrecision;
    if (ConvertFunction f = functionPointer(static_cast<unsigned char>(c))) {
      cut = precision;
      text = f(static_cast<unsigned char>(c), p, size, cut, args, work, quoted, decimals);
      if (text) len = std::strlen(text);
    } else {
      char ch = c;
      bool have = true;
      if (c == 'c') {
        int32_t v = 0;
        have = args.nextInt(v);
        ch = char(v);
      } else if (c == '%') {
        if (!*p) break;
        ch = *p++;
      }
      if (have) {
        repeat.assign(size_t(precision < 0 ? 1 : precision), ch);
        text = repeat.data();
        len = repeat.size();
      }
    }
    if (!text) continue;  // no argument for this conversion: nothing at all

    if (decimals >= 0 && len <= 39) {
      std::string digits(text, len);
      FmtNum(numBuf, sizeof numBuf, digits.c_str(), left ? 0 : (width > 255 ? 255 : width), decimals,
             thousands);
      text = numBuf;
      len = std::strlen(numBuf);
    }
    if (cut >= 0 && len > size_t(cut)) len = size_t(cut);

    size_t i = 0;
    if (left) {
      for (; i < len; ++i)
        if (!out.put(mapCase(text[i], caseMode))) return -1;
      for (size_t k = len; k < size_t(width); ++k)
        if (!out.put(' ')) return -1;
    } else {
      if (fill == '0' && len > 0 && (text[0] == '-' || text[0] == '+')) {
        if (!out.put(text[0])) return -1;
        i = 1;
      }
      for (size_t k = len; k < size_t(width); ++k)
        if (!out.put(fill)) return -1;
      for (; i < len; ++i)
        if (!out.put(mapCase(text[i], caseMode))) return -1;
    }
  }
  return out.count;
}

int doFormatV(FmtSink sink, void* sinkArg, char const* fmt, va_list ap) {
  FmtArgs args(ap);
  return doFormat(sink, sinkArg, fmt, args);
}

// --- Strings -------------------------------------------------------------------------

String toStr(char const* fmt, FmtArgs& args) {
  std::string s;
  doFormat(stringSink, &s, fmt, args);
  return toStringValue(s);
}

String toStr(String const& fmt, FmtArgs& args) { return toStr(fmtChars(fmt), args); }

String toStr(char const* fmt, va_list ap) {
  FmtArgs args(ap);
  return toStr(fmt, args);
}

String toStr(String const& fmt, va_list ap) {
  FmtArgs args(ap);
  return toStr(fmtChars(fmt), args);
}

String toStrArgs(char const* fmt, FmtArg const* list, size_t count) {
  FmtArgs args(list, count);
  return toStr(fmt, args);
}

String doFormat(char const* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  String s = toStr(fmt, ap);
  va_end(ap);
  return s;
}

String doFormat(String fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  String s = toStr(fmtChars(fmt), ap);
  va_end(ap);
  return s;
}

// --- the printf family -----------------------------------------------------------

int zfVfprintf(FILE* f, char const* fmt, va_list ap) {
  if (!f) return -1;
  return doFormatV(fileSink, f, fmt, ap);
}

int zfPrintf(char const* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = zfVfprintf(stdout, fmt, ap);
  va_end(ap);
  return n;
}

int zfFprintf(FILE* f, char const* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = zfVfprintf(f, fmt, ap);
  va_end(ap);
  return n;
}

int aprintf(FILE* f, char const* fmt, ...) {
  if (!f) return -1;
  va_list ap;
  va_start(ap, fmt);
  int n = doFormatV(aputc, f, fmt, ap);
  va_end(ap);
  return n;
}

int zfSprintf(char* buf, char const* fmt, ...) {
  if (!buf) return -1;
  BufferSink b{buf, SIZE_MAX, 0};
  va_list ap;
  va_start(ap, fmt);
  int n = doFormatV(spsub, &b, fmt, ap);
  va_end(ap);
  buf[b.n] = '\0';
  return n;
}

int zfVsnprintf(char* buf, size_t size, char const* fmt, va_list ap) {
  BufferSink b{buf, size == SIZE_MAX ? SIZE_MAX - 1 : size, 0};
  if (!buf) b.size = 0;
  int n = doFormatV(spsub, &b, fmt, ap);
  if (buf && size > 0) buf[b.n < size ? b.n : size - 1] = '\0';
  return n;
}

int zfSnprintf(char* buf, size_t size, char const* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = zfVsnprintf(buf, size, fmt, ap);
  va_end(ap);
  return n;
}

// --- small conversions -------------------------------------------------------------

char* IToStr(short v, char* buf) {
  if (v == -32768) buf[0] = '\0';
  else if (v == 32767) std::snprintf(buf, kFmtSmallBuffer, "%s", kHighText);
  else std::snprintf(buf, kFmtSmallBuffer, "%d", int(v));
  return buf;
}

char* LToStr(int32_t v, char* buf) {
  if (v == INT32_MIN) buf[0] = '\0';
  else if (v == INT32_MAX) std::snprintf(buf, kFmtSmallBuffer, "%s", kHighText);
  else std::snprintf(buf, kFmtSmallBuffer, "%ld", long(v));
  return buf;
}

char* FToStr(double v, char* buf) {
  if (v == -1e50) buf[0] = '\0';
  else if (v == 1e50) std::snprintf(buf, kFmtSmallBuffer, "%s", kHighText);
  else if (!(std::fabs(v) < 1e16)) std::snprintf(buf, kFmtSmallBuffer, "(Overflow)");
  else std::snprintf(buf, kFmtSmallBuffer, "%.0f", v);
  return buf;
}

char* FmtFloat(char* buf, double v, int32_t width) {
  if (v == -1e50) {
    buf[0] = '\0';
    return buf;
  }
  int w = width < 0 ? 0 : width > 64 ? 64 : width;
  std::snprintf(buf, 128, "%*.*g", w, w, v);
  return buf;
}

char* FmtNum(char* out, size_t outSize, char const* text, int32_t width, int32_t decimals,
             bool thousands) {
  if (!out || outSize == 0) return out;
  char const* p = text ? text : "";
  bool neg = false;
  while (*p && !(*p >= '0' && *p <= '9')) {
    if (*p == '-') neg = true;
    ++p;
  }
  std::string digits;
  while (*p >= '0' && *p <= '9') digits += *p++;
  int32_t dec = clampNum(decimals);
  std::string body;
  if (!digits.empty()) {
    if (digits.size() <= size_t(dec)) digits.insert(0, size_t(dec) - digits.size() + 1, '0');
    std::string intPart = digits.substr(0, digits.size() - size_t(dec));
    std::string frac = digits.substr(digits.size() - size_t(dec));
    if (thousands && intPart.size() > 3) {
      char sep = thousandSep();
      std::string grouped;
      size_t lead = intPart.size() % 3;
      for (size_t i = 0; i < intPart.size(); ++i) {
        if (i > 0 && (i - lead) % 3 == 0 && i >= lead) grouped += sep;
        grouped += intPart[i];
      }
      intPart = grouped;
    }
    body = (neg ? "-" : "") + intPart;
    if (dec > 0) body += decPoint() + frac;
  }
  if (width > 255) width = 255;
  if (width > 0 && body.size() < size_t(width)) body.insert(0, size_t(width) - body.size(), ' ');
  std::snprintf(out, outSize, "%s", body.c_str());
  return out;
}

namespace {

// Removes trailing zeros of the fraction (and a bare point) of a number
// text, keeping an exponent part that follows.
void trimZeros(char* s) {
  char* dot = std::strchr(s, '.');
  if (!dot) return;
  char* e = std::strpbrk(s, "eE");
  char* end = e ? e : s + std::strlen(s);
  char* q = end;
  while (q > dot + 1 && q[-1] == '0') --q;
  if (q == dot + 1) q = dot;
  std::memmove(q, end, std::strlen(end) + 1);
}

}  // namespace

char* floatToStr(double v, char* out, size_t outSize, int32_t precision, int mode) {
  if (!out || outSize == 0) return out;
  if (v == -1e50) {
    out[0] = '\0';
    return out;
  }
  if (v == 1e50) {
    std::snprintf(out, outSize, "%s", kHighText);
    return out;
  }
  int prec = clampNum(precision);
  if (mode == 1) {
    int n = std::snprintf(out, outSize, "%.*f", prec, v);
    if (n < 0 || size_t(n) >= outSize) std::snprintf(out, outSize, "%.*e", prec, v);
  } else if (mode == 0) {
    int sig = prec + 6 > kNumLimit ? kNumLimit : prec + 6;
    std::snprintf(out, outSize, "%.*e", sig - 1, v);
  } else {
    std::snprintf(out, outSize, "%.*g", prec < 1 ? 1 : prec, v);
  }
  trimZeros(out);
  return out;
}
