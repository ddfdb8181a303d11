// Shared pieces of the date, time and time-stamp sources: the saturating
// arithmetic that treats null and highest as minus and plus infinity, the
// clock readings, the national day and month names as bounded character
// texts, and a bounded text builder that never writes past its buffer.
#pragma once

#include <zfound/CharClass.h>
#include <zfound/Date.h>
#include <zfound/DateSettings.h>
#include <zfound/EnvVar.h>
#include <zfound/String.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace dtx {

constexpr int32_t kNull = INT32_MIN;
constexpr int32_t kHigh = INT32_MAX;
// Days between 1970-01-01 and 1984-01-01, and the same in seconds.
constexpr int64_t kEpochDays = 5113;
constexpr int64_t kEpochSeconds = 441763200;

// Saturating integer operations (null and highest act as infinities).
inline int32_t sadd(int32_t a, int32_t b) { return add(a, b); }
inline int32_t smul(int32_t a, int32_t b) { return mult(a, b); }
inline int32_t sdiv(int32_t a, int32_t b) { return intDiv(a, b); }
// Negation that keeps the infinities apart (null <-> highest).
inline int32_t sneg(int32_t a) { return a == kNull ? kHigh : a == kHigh ? kNull : -a; }

// A 64-bit value limited to the 32-bit range: below it null, above highest.
inline int32_t clamp32(int64_t v) {
  if (v <= int64_t(kNull)) return kNull;
  if (v >= int64_t(kHigh)) return kHigh;
  return int32_t(v);
}

// Floor division and remainder for a positive divisor.
inline int64_t fdiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline int64_t fmod64(int64_t a, int64_t b) { return a - fdiv(a, b) * b; }

// The operating system's clock in seconds since 1970 (UTC).
inline int64_t clockNow() { return int64_t(::time(nullptr)); }
// The current local time in seconds since 1970 (zone offset applied).
inline int64_t localNow() { return int64_t(_osTime()); }
// A clock value moved by the local zone offset.
inline int64_t localOf(int64_t t) { return int64_t(_osTimeZoneAdj(t)); }

// The weekday (0 Sunday) and month (0 January) names of the national
// settings; "" when the settings have no such name.
inline char const* dayName(int32_t d) {
  String const& s = dayOfWeekName(d);
  return s ? toCharPtr(s) : "";
}
inline char const* monName(int32_t m) {
  String const& s = monthName(m);
  return s ? toCharPtr(s) : "";
}

// Reads at most maxDigits decimal digits at p, moving p past them; n is the
// count read (0 when p is not at a digit). Returns their value.
inline int32_t readDigits(char const*& p, char const* end, size_t maxDigits, size_t& n) {
  int32_t v = 0;
  n = 0;
  while (p < end && n < maxDigits && isDigitChar(*p)) {
    v = v * 10 + (*p - '0');
    ++p;
    ++n;
  }
  return v;
}

// Narrows [p, end) to the text without leading blanks and tabs and without
// trailing blanks, tabs and newlines.
inline void trimText(char const*& p, char const*& end) {
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  while (end > p && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\n')) --end;
}

// Appends to a fixed buffer; text that does not fit is cut, and the buffer
// always ends with a NUL.
class Out {
public:
  Out(char* buf, size_t size) : buf_(buf), size_(size), len_(0) {
    if (size_ > 0) buf_[0] = '\0';
  }
  void put(char c) {
    if (len_ + 1 < size_) {
      buf_[len_++] = c;
      buf_[len_] = '\0';
    }
  }
  // At most n characters of s.
  void put(char const* s, size_t n = SIZE_MAX) {
    for (size_t i = 0; i < n && s[i]; ++i) put(s[i]);
  }
  // v in decimal, zero-padded to `width` digits ("-" before negatives).
  void num(int64_t v, int width) {
    char tmp[32];
    int n = 0;
    bool neg = v < 0;
    uint64_t u = neg ? uint64_t(0) - uint64_t(v) : uint64_t(v);
    do {
      tmp[n++] = char('0' + u % 10);
      u /= 10;
    } while (u);
    if (neg) put('-');
    for (int i = n; i < width; ++i) put('0');
    while (n) put(tmp[--n]);
  }
  size_t length() const { return len_; }
  char const* c_str() const { return buf_; }

private:
  char* buf_;
  size_t size_;
  size_t len_;
};

}  // namespace dtx
