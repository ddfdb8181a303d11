// String: the shared, counted text block and the operations on it.
//
// Invariants (see String.h): a block's allocated character area holds at
// least roundUp16(length) + 1 bytes, so a writer may grow a block held once
// in place while the new length stays below roundUp16(length); lengths stay
// within 1..65535 (a result that would pass 65535 is cut there); a count of
// 65535 is never increased (the block is copied instead); an empty result is
// null. Writers make a shared block their own before touching it.
#include <zfound/String.h>
#include <zfound/OutOfMemory.h>

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <zfound/Assert.h>
#include <zfound/CharClass.h>
#include <zfound/EnvVar.h>

namespace {

// The capacity class of a length: the next multiple of 16.
long roundUp16(long n) { return (n + 15) / 16 * 16; }

long clampLen(long n) { return n > String::kMaxLength ? String::kMaxLength : n; }

char const* const kHighPtr = reinterpret_cast<char const*>(uintptr_t(1));

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

// --- the block -----------------------------------------------------------

String::srep* String::newRep(long n) {
  // Room for the capacity class of n and the terminator.
  size_t bytes = sizeof(srep) + size_t(roundUp16(n)) + 1;
  srep* r = static_cast<srep*>(std::malloc(bytes));
  if (r == nullptr) zfOutOfMemory(bytes);
  r->refs = 1;
  r->len_ = uint16_t(n);
  std::memset(r->s(), 0, size_t(roundUp16(n)) + 1);
  return r;
}

void String::release(srep* r) {
  if (r == nullptr || r == highRep()) return;
  if (--r->refs == 0) std::free(r);
}

String::srep* String::share(srep* r) {
  if (r == nullptr || r == highRep()) return r;
  if (r->refs == 0xFFFF) {
    // The count cannot grow: give this holder a copy of its own.
    srep* c = newRep(r->len_);
    std::memcpy(c->s(), r->s(), r->len_);
    return c;
  }
  ++r->refs;
  return r;
}

void String::realloc(long n) {
  if (p == highRep()) return;
  n = clampLen(n < 0 ? 0 : n);
  if (p == nullptr) {
    if (n == 0) return;
    p = newRep(n);
    p->len_ = 0;
    p->s()[0] = '\0';
    return;
  }
  long len = p->len_;
  if (n >= roundUp16(len) || p->refs > 1) {
    srep* r = newRep(n > len ? n : len);
    std::memcpy(r->s(), p->s(), size_t(len));
    r->len_ = uint16_t(len);
    r->s()[len] = '\0';
    release(p);
    p = r;
  }
}

void String::setLen(long n) {
  if (p == nullptr || p == highRep()) return;
  if (n <= 0) {
    release(p);
    p = nullptr;
    return;
  }
  p->len_ = uint16_t(n);
  p->s()[n] = '\0';
}

void String::append(char const* s, long n) {
  if (p == highRep() || n <= 0) return;
  long len = length();
  long total = clampLen(len + n);
  n = total - len;
  if (n <= 0) return;
  // The source may lie in this very block, which realloc may free.
  std::string keep;
  if (p != nullptr && s >= p->s() && s <= p->s() + len) {
    keep.assign(s, size_t(n));
    s = keep.data();
  }
  realloc(total);
  std::memcpy(p->s() + len, s, size_t(n));
  setLen(total);
}

// --- construction and assignment ----------------------------------------

String::String(char const* s, long len) : p(nullptr) {
  if (s == nullptr || len == 0) return;
  if (s == kHighPtr || len == kHighLength) {
    p = highRep();
    return;
  }
  if (*s == '\0') return;
  if (len == -1) len = long(std::strlen(s));
  if (len <= 0) return;
  len = clampLen(len);
  long have = long(strnlen(s, size_t(len)));
  p = newRep(len);
  std::memcpy(p->s(), s, size_t(have));
  std::memset(p->s() + have, ' ', size_t(len - have));
}

String::String(long len, char const* bytes) : p(nullptr) {
  if (len == kHighLength) {
    p = highRep();
    return;
  }
  if (len <= 0 || bytes == nullptr || bytes == kHighPtr) return;
  len = clampLen(len);
  p = newRep(len);
  std::memcpy(p->s(), bytes, size_t(len));
}

String::String(long n, char c) : p(nullptr) {
  if (n < 1) return;
  if (n >= kMaxLength) {
    p = highRep();
    return;
  }
  p = newRep(n);
  std::memset(p->s(), c, size_t(n));
}

String::String(String const& s, long len) : p(nullptr) {
  if (len <= 0) return;
  if (s.p != nullptr && s.p != highRep() && s.p->len_ == len) {
    p = share(s.p);
    return;
  }
  len = clampLen(len);
  long have = (s.p == nullptr || s.p == highRep()) ? 0 : s.p->len_;
  if (have > len) have = len;
  p = newRep(len);
  if (have > 0) std::memcpy(p->s(), s.p->s(), size_t(have));
  std::memset(p->s() + have, ' ', size_t(len - have));
}

String::String(String const& s) : p(share(s.p)) {}

String::~String() { release(p); }

String& String::operator=(char const* s) {
  String t(s);
  return *this = std::move(t);
}

String& String::operator=(char c) {
  String t(c == '\0' ? 0L : 1L, c);
  return *this = std::move(t);
}

String& String::operator=(String const& s) {
  if (s.p != p) {
    srep* r = share(s.p);
    release(p);
    p = r;
  }
  return *this;
}

String& String::operator=(String&& s) noexcept {
  if (this != &s) {
    release(p);
    p = s.p;
    s.p = nullptr;
  }
  return *this;
}

char* String::getBuffer(long n) {
  if (n == kHighLength) {
    release(p);
    p = highRep();
    return const_cast<char*>(kHighPtr);
  }
  if (n <= 0) {
    release(p);
    p = nullptr;
    return nullptr;
  }
  n = clampLen(n);
  if (p != nullptr && p != highRep() && p->refs == 1 && roundUp16(n) == roundUp16(p->len_)) {
    setLen(n);
    return p->s();
  }
  release(p);
  p = newRep(n);
  return p->s();
}

// --- access ----------------------------------------------------------------

long String::length() const {
  if (p == nullptr) return 0;
  if (p == highRep()) return kHighLength;
  return p->len_;
}

char String::operator[](long i) const {
  if (p == nullptr || p == highRep() || i < 0 || i >= p->len_) return 0;
  return p->s()[i];
}

char const* toCharPtr(String const& s) {
  if (s.p == nullptr) return "";
  if (s.p == String::highRep()) return kHighPtr;
  return s.p->s();
}

char const* debugString(long addr) {
  String const* s = reinterpret_cast<String const*>(addr);
  if (s == nullptr || s->isNull()) return "";
  if (s->isHighest()) return "(high value)";
  return toCharPtr(*s);
}

long String::storeLength() const {
  // The highest string is stored as its length word alone.
  if (p == highRep()) return 4;
  return length() + 4;
}

char const* String::disect(long from, long len) {
  if (p == highRep()) return kHighPtr;
  if (p == nullptr || from < 0 || from >= p->len_) return "";
  if (len < 0 || from + len > p->len_) return p->s() + from;
  if (p->refs > 1) realloc(p->len_);   // never write into a shared block
  long end = p->len_;
  p->s()[end] = p->s()[from + len];
  p->s()[from + len] = '\0';
  return p->s() + from;
}

void String::restore(long from, long len) {
  if (p == nullptr || p == highRep() || from < 0 || from >= p->len_ || len < 0 ||
      from + len > p->len_)
    return;
  if (!ZF_ASSERT(p->s()[from + len] == '\0')) return;
  long end = p->len_;
  if (p->s()[end] == '\0') return;
  p->s()[from + len] = p->s()[end];
  p->s()[end] = '\0';
}

// --- comparison ----------------------------------------------------------

namespace {

// Orders the kinds: null 0, text 1, highest 2.
int kind(String const& s) { return s.isNull() ? 0 : (s.isHighest() ? 2 : 1); }
int kind(char const* s) { return s == kHighPtr ? 2 : ((s == nullptr || *s == '\0') ? 0 : 1); }

template <class B, class F>
int compareWith(String const& a, B const& b, F textCmp) {
  int ka = kind(a), kb = kind(b);
  if (ka != kb) return ka < kb ? -1 : 1;
  if (ka != 1) return 0;
  return textCmp();
}

}  // namespace

int cmp(String const& a, String const& b) {
  if (a.p == b.p) return 0;
  return compareWith(a, b, [&] { return sign(std::strcmp(a.p->s(), b.p->s())); });
}

int cmp(String const& a, char const* b) {
  return compareWith(a, b, [&] { return sign(std::strcmp(a.p->s(), b)); });
}

int icmp(String const& a, String const& b) {
  if (a.p == b.p) return 0;
  return compareWith(a, b, [&] { return sign(strcasecmp(a.p->s(), b.p->s())); });
}

int icmp(String const& a, char const* b) {
  return compareWith(a, b, [&] { return sign(strcasecmp(a.p->s(), b)); });
}

// --- concatenation ---------------------------------------------------------

String& String::operator+=(String const& s) {
  if (s.p == highRep()) {
    *this = s;
  } else if (s.p == nullptr || p == highRep()) {
  } else if (p == nullptr) {
    p = share(s.p);
  } else {
    append(s.p->s(), s.p->len_);
  }
  return *this;
}

String& String::operator+=(char const* s) {
  if (s == kHighPtr) {
    release(p);
    p = highRep();
  } else if (s != nullptr && *s != '\0' && p != highRep()) {
    append(s, long(std::strlen(s)));
  }
  return *this;
}

String& String::operator+=(char c) {
  if (c != '\0') append(&c, 1);
  return *this;
}

String operator+(String const& a, String const& b) {
  String r(a);
  r += b;
  return r;
}

String operator+(String const& a, char const* b) {
  String r(a);
  r += b;
  return r;
}

// --- search ----------------------------------------------------------------

long String::count(char c, long from) const {
  if (p == nullptr || p == highRep() || from >= p->len_) return -1;
  if (from < 0) from = 0;
  long n = 0;
  for (long i = from; i < p->len_; ++i)
    if (p->s()[i] == c) ++n;
  return n;
}

long String::index(char c, long from) const {
  if (p == nullptr || p == highRep() || from >= p->len_) return -1;
  if (from < 0) from = 0;
  for (long i = from; i < p->len_; ++i)
    if (p->s()[i] == c) return i;
  return -1;
}

long String::backIndex(char c, long from) const {
  if (p == nullptr || p == highRep() || from < 0) return -1;
  long i = from < p->len_ - 1 ? from : p->len_ - 1;
  for (; i >= 0; --i)
    if (p->s()[i] == c) return i;
  return -1;
}

bool String::startsWith(String const& q) const {
  if (q.p == nullptr) return true;
  if (q.p == highRep() || p == highRep()) return q.p == p;
  if (p == nullptr || p->len_ < q.p->len_) return false;
  return std::memcmp(p->s(), q.p->s(), q.p->len_) == 0;
}

SubString String::field(long n, String const& sep) { return SubString(this, sep, n); }
SubString String::field(long n, char const* sep) { return SubString(this, sep, n); }
const SubString String::field(long n, String const& sep) const { return SubString(this, sep, n); }
const SubString String::field(long n, char const* sep) const { return SubString(this, sep, n); }
SubString String::operator()(long from) { return SubString(this, from, kMaxLength); }
SubString String::operator()(long from, long len) { return SubString(this, from, len); }
const SubString String::operator()(long from) const { return SubString(this, from, kMaxLength); }
const SubString String::operator()(long from, long len) const { return SubString(this, from, len); }

// --- case and character sets -----------------------------------------------

namespace {

// A copy of s with every character passed through f.
template <class F>
String mapChars(String const& s, F f) {
  if (!s) return s;
  String r(s.length(), toCharPtr(s));
  char* b = const_cast<char*>(toCharPtr(r));
  for (long i = 0; i < r.length(); ++i) b[i] = char(f(static_cast<unsigned char>(b[i])));
  return r;
}

}  // namespace

String String::toUpper() const { return mapChars(*this, [](int c) { return toUpperCase(c); }); }
String String::toLower() const { return mapChars(*this, [](int c) { return toLowerCase(c); }); }
String String::toAscii() const { return mapChars(*this, [](int c) { return zeph_toascii(c); }); }
String String::fromAscii() const { return mapChars(*this, [](int c) { return fromascii(c); }); }

// --- paths -----------------------------------------------------------------

String String::baseFullName() const { return String(field(-1, "/")); }

String String::baseName() const {
  String b = baseFullName();
  return String(b.field(0, "."));
}

String String::extName() const {
  if (baseFullName().index('.') < 0) return String();
  return String(field(-1, "."));
}

String String::pathName() const {
  long i = backIndex('/');
  if (i <= 0) return String();
  return String(i, p->s());
}

// --- trims and reshaping ---------------------------------------------------

String& String::rTrim() {
  if (!*this) return *this;
  long n = p->len_;
  while (n > 0 && isSpaceChar(p->s()[n - 1])) --n;
  if (n == p->len_) return *this;
  if (n > 0 && p->refs > 1) {
    *this = String(n, p->s());
    return *this;
  }
  setLen(n);
  return *this;
}

String& String::lTrim() {
  if (!*this) return *this;
  long k = 0;
  while (k < p->len_ && isSpaceChar(p->s()[k])) ++k;
  if (k == 0) return *this;
  *this = String(p->len_ - k, p->s() + k);
  return *this;
}

String& String::fullTrim() { return rTrim().lTrim(); }

String& String::prune() {
  fullTrim();
  if (!*this) return *this;
  std::string out;
  bool inWhite = false;
  for (long i = 0; i < p->len_; ++i) {
    char c = p->s()[i];
    if (isSpaceChar(c)) {
      if (!inWhite) out += ' ';
      inWhite = true;
    } else {
      out += c;
      inWhite = false;
    }
  }
  if (long(out.size()) != p->len_ || std::memcmp(out.data(), p->s(), out.size()) != 0)
    *this = String(long(out.size()), out.data());
  return *this;
}

String& String::center(int width) {
  if (!*this) return *this;
  long w = clampLen(width);
  long pad = w - p->len_;
  if (pad <= 0) return *this;
  std::string out(size_t(pad / 2), ' ');
  out.append(p->s(), size_t(p->len_));
  out.append(size_t(pad - pad / 2), ' ');
  *this = String(long(out.size()), out.data());
  return *this;
}

String& String::reverse() {
  if (!*this) return *this;
  realloc(p->len_);  // own block (copy when shared)
  char* s = p->s();
  for (long i = 0, j = p->len_ - 1; i < j; ++i, --j) {
    char t = s[i];
    s[i] = s[j];
    s[j] = t;
  }
  return *this;
}

bool String::setChar(char c, long pos) {
  if (p == highRep() || pos < 0 || pos >= kMaxLength) return false;
  long len = length();
  realloc(pos + 1 > len ? pos + 1 : len);
  if (pos >= len) {
    std::memset(p->s() + len, ' ', size_t(pos - len));
    setLen(pos + 1);
  }
  p->s()[pos] = c;
  return true;
}

bool String::delChar(long pos) {
  if (p == nullptr || p == highRep() || pos < 0 || pos >= p->len_) return false;
  long len = p->len_;
  if (len == 1) {
    setLen(0);
    return true;
  }
  if (p->refs > 1) {
    std::string t(p->s(), size_t(len));
    t.erase(size_t(pos), 1);
    *this = String(long(t.size()), t.data());
    return true;
  }
  std::memmove(p->s() + pos, p->s() + pos + 1, size_t(len - pos - 1));
  setLen(len - 1);
  return true;
}

bool String::insChar(char c, long pos) {
  if (p == highRep()) return false;
  long len = length();
  if (pos < 0 || pos >= len) return setChar(c, pos);
  if (len >= kMaxLength) return false;
  realloc(len + 1);
  std::memmove(p->s() + pos + 1, p->s() + pos, size_t(len - pos));
  p->s()[pos] = c;
  setLen(len + 1);
  return true;
}

String& String::operator-=(String const& s) {
  *this = replace(s, String());
  return *this;
}

String String::replace(String const& from, String const& to) const {
  if (!*this || !from) return *this;
  std::string out;
  char const* s = p->s();
  long len = p->len_, flen = from.p->len_;
  long i = 0;
  bool high = false;
  while (i <= len - flen) {
    if (std::memcmp(s + i, from.p->s(), size_t(flen)) == 0) {
      if (to.isHighest()) high = true;
      else out.append(toCharPtr(to), size_t(to.length()));
      i += flen;
    } else {
      out += s[i++];
    }
  }
  if (high) return String(kHighPtr);
  out.append(s + i, size_t(len - i));
  return String(long(out.size() > size_t(kMaxLength) ? kMaxLength : out.size()), out.data());
}

// --- escapes ---------------------------------------------------------------

namespace {

// The letter that encode writes after a backslash for c, or 0.
char escapeLetter(unsigned char c) {
  switch (c) {
    case 8: return 'b';
    case 9: return 't';
    case 10: return 'n';
    case 11: return 'v';
    case 12: return 'f';
    case 13: return 'r';
    case 27: return 'e';
    case '\\': return '\\';
    case '"': return '"';
    case '\'': return '\'';
    case '^': return '^';   // keeps "^X" from reading as a control escape
    case 31: return '0';
    default: return 0;
  }
}

}  // namespace

String& String::encode() {
  if (!*this) return *this;
  std::string out;
  for (long i = 0; i < p->len_; ++i) {
    unsigned char c = static_cast<unsigned char>(p->s()[i]);
    char e = escapeLetter(c);
    size_t need = e ? 2 : 1;
    if (out.size() + need > size_t(kMaxLength)) break;   // never a half escape
    if (e) {
      out += '\\';
      out += e;
    } else {
      out += char(c);
    }
  }
  *this = String(long(out.size()), out.data());
  return *this;
}

String& String::decode() {
  if (!*this) return *this;
  std::string out;
  char const* s = p->s();
  long n = p->len_;
  for (long i = 0; i < n; ++i) {
    char c = s[i];
    if (c == '^' && i + 1 < n) {
      int v = toUpperCase(static_cast<unsigned char>(s[++i])) & 0x1F;
      out += char(v == 0 ? 31 : v);
      continue;
    }
    if (c != '\\' || i + 1 >= n) {
      out += c;
      continue;
    }
    char e = s[++i];
    int v = -1;
    switch (e) {
      case 'a': case 'A': out += char(7); break;
      case 'b': case 'B': out += char(8); break;
      case 't': case 'T': out += char(9); break;
      case 'n': case 'N': out += char(10); break;
      case 'v': case 'V': out += char(11); break;
      case 'f': case 'F': out += char(12); break;
      case 'r': case 'R': out += char(13); break;
      case 'e': case 'E': out += char(27); break;
      case 'x': case 'X':
        v = 0;
        for (int k = 0; k < 2 && i + 1 < n && hexDigitValue(s[i + 1]) >= 0; ++k) v = v * 16 + hexDigitValue(s[++i]);
        break;
      case 'd': case 'D':
        v = 0;
        for (int k = 0; k < 3 && i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '9'; ++k)
          v = v * 10 + (s[++i] - '0');
        break;
      default:
        if (e >= '0' && e <= '7') {
          v = e - '0';
          for (int k = 1; k < 3 && i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '7'; ++k)
            v = v * 8 + (s[++i] - '0');
        } else {
          out += e;
        }
    }
    if (v >= 0) {
      v &= 0xFF;
      out += char(v == 0 ? 31 : v);
    }
  }
  *this = String(long(out.size()), out.data());
  return *this;
}

// --- argument replacement ---------------------------------------------------

String String::replaceArgs(String const* args, long nargs) const {
  if (!*this) return String();
  std::string out;
  char const* s = p->s();
  long n = p->len_;
  for (long i = 0; i < n; ++i) {
    if (s[i] != '#') {
      out += s[i];
      continue;
    }
    if (++i >= n) break;
    char c = s[i];
    if (c >= '0' && c <= '9') {
      long d = c - '0';
      if (args != nullptr && d < nargs) {
        String const& a = args[d];
        if (a.isHighest()) out += "(high value)";
        else out.append(toCharPtr(a), size_t(a.length()));
      }
    } else {
      out += c;   // "##" gives "#", "#x" gives "x"
    }
  }
  return String(long(out.size() > size_t(kMaxLength) ? kMaxLength : out.size()), out.data());
}

// --- environment -------------------------------------------------------------

String String::getEnv() const {
  if (!*this) return *this;
  return String(readEnvVar(p->s()));
}

void String::putEnv() const {
  if (!*this) return;
  putEnvVar(p->s());
}

// --- free functions -------------------------------------------------------

int32_t toInt(String const& s, long base) {
  if (s.isNull()) return INT32_MIN;
  if (s.isHighest()) return INT32_MAX;
  char const* c = toCharPtr(s);
  char const* end = c + s.length();
  while (c < end && isSpaceChar(*c)) ++c;
  bool neg = false;
  if (c < end && *c == '-') {
    neg = true;
    ++c;
  }
  if (base == 0) {
    if (c < end && *c == '0') {
      if (c + 1 < end && (c[1] == 'x' || c[1] == 'X')) {
        base = 16;
        c += 2;
      } else {
        base = 8;
      }
    } else {
      base = 10;
    }
  }
  if (base < 2 || base > 36) base = 10;
  uint32_t v = 0;
  for (; c < end; ++c) {
    int d = digitValue(*c);
    if (d < 0 || d >= base) break;
    v = v * uint32_t(base) + uint32_t(d);
  }
  if (neg) v = 0u - v;
  return int32_t(v);
}

String toString(long value, long width, long base) { return String(toCharPtr(value, width, base)); }

long hashVal(String const& s, long size) {
  if (size < 1) return 0;
  if (s.isNull()) return 0;
  if (s.isHighest()) return 1 % size;
  uint32_t h = 0;
  char const* c = toCharPtr(s);
  for (long i = 0; i < s.length(); ++i) h = h * 31u + uint32_t(int32_t(static_cast<signed char>(c[i])));
  return long(uint64_t(h) % uint64_t(size));
}
