// The formatting engine and the system's printf family.
//
// doFormat reads a format of the system's format language and hands every
// produced character to a sink. A directive is, each part optional and
// in this order:
//   %  [-] [0] [width|*] [.precision|.*] [#[,]decimals|#[,]*] ["mask"|"*"]
//      [>|<] [l|ll|h] conversion
// "-" aligns left, "0" fills with zeros, "#n" shows the value with its
// decimal point n places further left (",": thousands separators), a quoted
// text is handed to the conversion (the edit mask of %s), ">"/"<" upper- or
// lower-case the output. Conversions come from a table of 95 entries (one
// per printable character) that addConvertFunction extends; initially:
//   $ environment variable (name, {name} or * from the arguments)
//   B Boolean int     N Num const*     e f g double     S String const*
//   s char const*     d u o x X b integers (int; "l" 32-bit long; "ll"
//   64-bit; "h" short).  Without an entry: c writes a character argument,
//   % writes the next format character, any other character itself, each
//   repeated precision times (once by default).
//
// Arguments come through FmtArgs: either a C va_list (the printf family), or
// a counted list of FmtArg values. A counted list is safe for formats that
// come from outside (catalogue texts): a conversion with no argument left,
// or with an argument of the wrong kind, prints nothing.
//
// None of these functions replaces a C library symbol: the printf family is
// zfPrintf, zfFprintf, zfSprintf, zfSnprintf and their v-forms; system code
// calls them explicitly.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <zfound/String.h>

class Num;

// A sink: takes a character (0..255) and its argument; returns the character
// or -1, which ends doFormat with -1.
typedef int (*FmtSink)(int c, void* arg);

// One argument of a counted argument list, tagged with its kind. Pointers
// keep what they point to (characters, a String, a Num, anything else), so
// that a conversion never reads one kind of object as another.
class FmtArg {
public:
  enum Kind : uint8_t { Int, Double, Ptr, Chars, Str, NumPtr };
  FmtArg(int v) : kind_(Int), i_(v) {}
  FmtArg(unsigned v) : kind_(Int), i_(v) {}
  FmtArg(long v) : kind_(Int), i_(v) {}
  FmtArg(unsigned long v) : kind_(Int), i_(int64_t(v)) {}
  FmtArg(long long v) : kind_(Int), i_(v) {}
  FmtArg(unsigned long long v) : kind_(Int), i_(int64_t(v)) {}
  FmtArg(short v) : kind_(Int), i_(v) {}
  FmtArg(char v) : kind_(Int), i_(v) {}
  FmtArg(bool v) : kind_(Int), i_(v) {}
  FmtArg(double v) : kind_(Double), d_(v) {}
  FmtArg(char const* v) : kind_(Chars), p_(v) {}
  FmtArg(unsigned char const* v) : kind_(Chars), p_(v) {}
  FmtArg(signed char const* v) : kind_(Chars), p_(v) {}
  FmtArg(String const* v) : kind_(Str), p_(v) {}
  FmtArg(Num const* v) : kind_(NumPtr), p_(v) {}
  FmtArg(void const* v) : kind_(Ptr), p_(v) {}
  FmtArg(std::nullptr_t) : kind_(Ptr), p_(nullptr) {}

  Kind kind() const { return kind_; }
  int64_t integer() const { return i_; }
  double real() const { return d_; }
  void const* pointer() const { return p_; }

private:
  Kind kind_;
  union {
    int64_t i_;
    double d_;
    void const* p_;
  };
};

// The engine's argument list: a va_list, or a counted list of FmtArg.
class FmtArgs {
public:
  // Over a started va_list (copied: the caller still ends its own).
  explicit FmtArgs(va_list ap);
  // Over `count` tagged arguments.
  FmtArgs(FmtArg const* list, size_t count);
  ~FmtArgs();
  FmtArgs(FmtArgs const&) = delete;
  FmtArgs& operator=(FmtArgs const&) = delete;

  // Each takes the next argument. On a counted list they return false (the
  // value 0 or null) when no argument is left or it is of another kind
  // (integers and doubles convert into each other); on a va_list they trust
  // the format.
  bool nextInt(int32_t& v);   // an int
  bool nextLong(int64_t& v);  // a 64-bit integer
  bool nextDouble(double& v);
  // Any pointer (for conversions of other Parts' types).
  bool nextPtr(void const*& v);
  // A pointer of the given kind (Chars, Str or NumPtr); a null pointer of
  // any kind is taken as well.
  bool nextPtr(void const*& v, FmtArg::Kind want);
  // True for a counted list.
  bool counted() const { return !isVa_; }
  // Arguments left on a counted list (0 for a va_list).
  size_t remaining() const { return isVa_ ? 0 : count_ - pos_; }

private:
  FmtArg const* takeCounted();
  bool isVa_;
  va_list ap_;
  FmtArg const* list_ = nullptr;
  size_t count_ = 0;
  size_t pos_ = 0;
};

// Precision given to and returned by a conversion: none given (in), no cut
// (out).
inline constexpr int32_t kFmtNoPrecision = -1;
// Size of the work buffer handed to a conversion function.
inline constexpr size_t kFmtWorkSize = 1024;

// A conversion function: c the conversion character; fmt the format position
// after it (a conversion may read further, as "$" does, and moves it past
// what it read); size 'l', 'L' (for "ll"), 'h' or ' '; precision in: as
// given or kFmtNoPrecision, out: the length to cut to or kFmtNoPrecision;
// args the argument list, advanced past what is taken; work a buffer of
// kFmtWorkSize bytes; quoted the quoted text of the directive or null;
// decimals in/out: the implied decimals, -1 when none were given. Returns the
// produced NUL-terminated text (null for none).
typedef char const* (*ConvertFunction)(int c, char const*& fmt, char size, int32_t& precision,
                                       FmtArgs& args, char* work, char const* quoted,
                                       int32_t& decimals);

// The engine: returns the number of characters given to the sink, or -1.
int doFormat(FmtSink sink, void* sinkArg, char const* fmt, FmtArgs& args);
// The same over a va_list.
int doFormatV(FmtSink sink, void* sinkArg, char const* fmt, va_list ap);

// The table entry for c; null outside 32..126 or when empty.
ConvertFunction functionPointer(int c);
// Sets the entry for c; c outside 32..126 fails the assertion
// "c >= 0 && c < int(sizeof(fpArray) / sizeof(fpArray[0]))".
void addConvertFunction(long c, ConvertFunction f);

// The text of a format over a counted argument list.
String toStr(char const* fmt, FmtArgs& args);
String toStr(String const& fmt, FmtArgs& args);

// The text of a format with the given arguments, through a counted list:
// the safe way to fill a format that comes from a catalogue.
String toStrArgs(char const* fmt, FmtArg const* list, size_t count);
template <class... A>
String formatText(char const* fmt, A const&... a) {
  if constexpr (sizeof...(A) == 0) {
    return toStrArgs(fmt, nullptr, 0);
  } else {
    FmtArg const list[] = {FmtArg(a)...};
    return toStrArgs(fmt, list, sizeof...(A));
  }
}

// --- the printf family (plain functions with unmangled names) ------------------
extern "C" {
// To standard output / the given stream; the count of characters or -1.
int zfPrintf(char const* fmt, ...);
int zfFprintf(FILE* f, char const* fmt, ...);
int zfVfprintf(FILE* f, char const* fmt, va_list ap);
// Into buf, NUL-ended, with no bound: for plain-function code whose buffer
// is known to be large enough. System code uses zfSnprintf.
int zfSprintf(char* buf, char const* fmt, ...);
// Into buf of `size` bytes (at most size-1 characters and a NUL when size >
// 0); returns the length the whole text has, as snprintf does.
int zfSnprintf(char* buf, size_t size, char const* fmt, ...);
int zfVsnprintf(char* buf, size_t size, char const* fmt, va_list ap);
// To f, each character through the national-to-ASCII translation.
int aprintf(FILE* f, char const* fmt, ...);
}  // extern "C"

// --- small conversions ---------------------------------------------------
// Buffers of these hold at least kFmtSmallBuffer bytes.
inline constexpr size_t kFmtSmallBuffer = 32;
// -32768: "", 32767: "(high value)", else decimal.
char* IToStr(short v, char* buf);
// -2147483648: "", 2147483647: "(high value)", else decimal.
char* LToStr(int32_t v, char* buf);
// -1e50: "", 1e50: "(high value)", magnitude 1e16 or more: "(Overflow)",
// else fixed notation without decimals.
char* FToStr(double v, char* buf);
// -1e50: "", else "%*.*g" with width and precision both `width` (0..64);
// buf holds at least 128 bytes.
char* FmtFloat(char* buf, double v, int32_t width);
// Rewrites the digits of `text` (leading non-digits skipped, a "-" among
// them kept as the sign) right-aligned into `width` characters: the last
// `decimals` digits after the decimal point (zeros in front when too few, and
// a 0 before the point), the thousands separator every three integer digits
// when `thousands` is set, blanks in front. Width 0 (or too small) gives the
// exact length. Writes at most outSize bytes including the NUL.
char* FmtNum(char* out, size_t outSize, char const* text, int32_t width, int32_t decimals,
             bool thousands);
// A double as text: mode 0 exponent, 1 fixed, 2 general, with `precision`
// (digits after the point in mode 1, significant digits otherwise); trailing
// zeros removed; -1e50 "", 1e50 "(high value)". Writes at most outSize bytes.
char* floatToStr(double v, char* out, size_t outSize, int32_t precision, int mode);
