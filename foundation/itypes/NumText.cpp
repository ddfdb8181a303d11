// Num text and double conversions: reading a number from text, the fixed
// and exponent text forms, and conversion to and from double.
//
// The text forms always use "." as the decimal point; the formatting engine
// puts the national decimal point in its place when it shows a number.
// Every text form is built in a 256-byte buffer and never passes it: the
// width is kept within 10..255 and padding zeros stop at the buffer's end.
#include <zfound/Num.h>

#include <zfound/Assert.h>
#include <zfound/CharClass.h>
#include <zfound/String.h>
#include "NumImpl.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kBufSize = 256;  // text buffer, NUL included
char numBuffer[kBufSize];

// The significant decimal digits of a finite non-zero n (no leading or
// trailing zeros) into out; returns their number. *x gets the decimal
// exponent of the first digit (its place is 10^x).
int32_t significant(Num const& n, char* out, int32_t* x) {
  char all[4 * Num::kDigits + 1];
  int32_t k = 0;
  for (int i = 0; i < n.count(); ++i) {
    uint32_t d = n.digit(i);
    for (int j = 3; j >= 0; --j, d /= 10) all[k + j] = char('0' + d % 10);
    k += 4;
  }
  int32_t lead = 0;
  while (lead < k && all[lead] == '0') ++lead;
  int32_t end = k;
  while (end > lead && all[end - 1] == '0') --end;
  std::memcpy(out, all + lead, size_t(end - lead));
  out[end - lead] = '\0';
  *x = 4 * (NumImpl::e(n) - 1) + 3 - lead;
  return end - lead;
}

void expForm(Num const& n, char* buffer, int32_t width) {
  if (width > kBufSize - 1) width = kBufSize - 1;
  if (n.isNull()) {
    buffer[0] = '\0';
    return;
  }
  if (n.isMax()) {
    std::strcpy(buffer, "(high value)");
    return;
  }
  if (n.isZero()) {
    std::strcpy(buffer, "0");
    return;
  }
  char digits[4 * Num::kDigits + 1];
  int32_t x = 0;
  int32_t nd = significant(n, digits, &x);
  char expo[16] = "";
  if (x != 0) std::snprintf(expo, sizeof expo, "e%c%d", x < 0 ? '-' : '+', x < 0 ? -x : x);
  int32_t neg = NumImpl::sign(n) < 0;
  int32_t room = width - neg - 2 - int32_t(std::strlen(expo));
  int32_t more = nd - 1;
  if (more > room) more = room;
  if (more < 0) more = 0;
  while (more > 0 && digits[more] == '0') --more;
  char* p = buffer;
  if (neg) *p++ = '-';
  *p++ = digits[0];
  if (more > 0) {
    *p++ = '.';
    std::memcpy(p, digits + 1, size_t(more));
    p += more;
  }
  std::strcpy(p, expo);
}

// The text form of n into out (kBufSize bytes).
void textForm(Num const& n, int32_t width, int32_t precision, char* out) {
  if (precision < 0) precision = 0;
  if (width < 10) width = 10;
  if (width > kBufSize - 1) width = kBufSize - 1;
  int32_t const maxChars = kBufSize - 1;
  if (n.isNull()) {
    out[0] = '\0';
    return;
  }
  if (n.isMax()) {
    std::strcpy(out, "(high value)");
    return;
  }
  Num x = n;
  int32_t nint = 0, ndec = 0;
  x.totDigits(nint, ndec);
  if (precision != Num::kMaxPrecision && ndec > precision) {
    NumRound(&x, precision);
    x.totDigits(nint, ndec);
  }
  if (x.isMax() || x.isNull()) {  // rounding ran past the largest number
    textForm(x, width, precision, out);
    return;
  }
  char* p = out;
  if (x.isZero()) {
    *p++ = '0';
  } else {
    int32_t neg = NumImpl::sign(x) < 0;
    int32_t intChars = nint > 0 ? nint : 1;
    int32_t length = neg + intChars + (ndec > 0 ? 1 + ndec : 0);
    if (length > width - 1) {
      expForm(x, out, width);
      return;
    }
    if (neg) *p++ = '-';
    if (nint == 0) *p++ = '0';
    for (int32_t k = nint; k >= 1; --k) *p++ = char('0' + x.nthDig(k));
    if (ndec > 0) {
      *p++ = '.';
      for (int32_t k = 0; k > -ndec; --k) *p++ = char('0' + x.nthDig(k));
    }
  }
  if (precision != Num::kMaxPrecision && precision > 0 && ndec < precision) {
    if (ndec == 0 && p - out < maxChars) *p++ = '.';
    for (int32_t i = ndec; i < precision && p - out < maxChars; ++i) *p++ = '0';
  }
  *p = '\0';
}

}  // namespace

// ---- reading ---------------------------------------------------------------------

void NumImpl::parse(Num& n, char const* s) {
  if (s == nullptr) {
    setNull(n);
    return;
  }
  if (s == reinterpret_cast<char const*>(1)) {
    setHigh(n);
    return;
  }
  while (*s && isSpaceChar(*s)) ++s;
  if (*s == '\0') {
    setNull(n);
    return;
  }
  int sgn = 1;
  if (*s == '-') {
    sgn = -1;
    ++s;
  } else if (*s == '+') {
    ++s;
  }
  while (*s == '0') ++s;
  char const* ib = s;
  while (isDigitChar(*s)) ++s;
  int64_t ni = s - ib;
  char const* fb = s;
  int64_t nf = 0;
  if (*s == '.') {
    fb = ++s;
    while (isDigitChar(*s)) ++s;
    nf = s - fb;
  }
  int32_t shiftBy = 0;
  if (*s == 'E' || *s == 'e') {
    ++s;
    bool neg = false;
    if (*s == '-') {
      neg = true;
      ++s;
    } else if (*s != '\0' && !isDigitChar(*s)) {
      ++s;
    }
    while (isDigitChar(*s)) {
      if (shiftBy < 100000) shiftBy = shiftBy * 10 + (*s - '0');
      ++s;
    }
    if (neg) shiftBy = -shiftBy;
  }
  // Base-10,000 groups: the integer digits grouped from the point (the
  // first group takes the remainder), the fraction digits in fours after
  // it. Only the groups from the first non-zero one on are significant;
  // eight of them are enough (pack keeps seven and cuts the rest).
  constexpr int kKeep = Num::kDigits + 1;
  uint32_t groups[kKeep];
  int kept = 0;
  bool started = false;
  int64_t intGroups = (ni + 3) / 4;
  int32_t e = 0;
  auto take = [&](uint32_t g) {
    if (!started && g == 0) {
      --e;  // a leading zero group of the fraction
      return;
    }
    started = true;
    if (kept < kKeep) groups[kept++] = g;
  };
  int64_t first = ni - 4 * (intGroups - 1);
  char const* q = ib;
  for (int64_t gi = 0; gi < intGroups && kept < kKeep; ++gi) {
    int64_t w = gi == 0 ? first : 4;
    uint32_t g = 0;
    for (int64_t j = 0; j < w; ++j) g = g * 10 + uint32_t(*q++ - '0');
    take(g);
  }
  if (intGroups > NumImpl::kShiftBound) {  // far past the largest number
    pack(n, sgn, NumImpl::kShiftBound, groups, kept, false);
    return;
  }
  for (int64_t fi = 0; fi < nf && kept < kKeep && e > -NumImpl::kShiftBound; fi += 4) {
    uint32_t g = 0;
    for (int64_t j = 0; j < 4; ++j) g = g * 10 + (fi + j < nf ? uint32_t(fb[fi + j] - '0') : 0);
    take(g);
  }
  pack(n, sgn, int32_t(intGroups) + e, groups, kept, false);
  if (shiftBy != 0) shift(n, shiftBy);
}

Num::Num(char const* s) : dig{}, exp(0), len(0) { NumImpl::parse(*this, s); }

Num::Num(String const& s) : dig{}, exp(0), len(0) { NumImpl::parse(*this, toCharPtr(s)); }

Num::Num(double v) : dig{}, exp(0), len(0) {
  // -1e50 and 1e50 are the double images of null and highest; other values
  // beyond them are numbers too (a Num reaches about 1e196).
  if (std::isnan(v) || v == -1e50 || v == -HUGE_VAL) {
    NumImpl::setNull(*this);
  } else if (v == 1e50 || v == HUGE_VAL) {
    NumImpl::setHigh(*this);
  } else if (v == 0.0) {
    NumImpl::setZero(*this);
  } else {
    char text[64];
    std::snprintf(text, sizeof text, "%.14e", v);  // 15 significant digits
    NumImpl::parse(*this, text);
  }
}

Num toNum(double v) { return Num(v); }
Num toNum(char const* s) { return Num(s); }
Num toNum(String const& s) { return Num(s); }

double toDouble(Num const& n) {
  if (n.isMax()) return 1e50;
  if (n.isNull()) return -1e50;
  char text[kBufSize];
  textForm(n, kBufSize - 1, Num::kMaxPrecision, text);
  return std::strtod(text, nullptr);
}

char const* toCharPtr(Num const& n, int32_t width, int32_t precision) {
  return NumToStr(&n, width, precision);
}

String toString(Num const& n, int32_t width, int32_t precision) {
  return String(NumToStr(&n, width, precision));
}

char* NumToStr(Num const* n, int32_t width, int32_t precision) {
  ZF_ASSERT(n != nullptr);
  ZF_ASSERT(precision >= 0);
  if (n == nullptr) {
    numBuffer[0] = '\0';
    return numBuffer;
  }
  textForm(*n, width, precision, numBuffer);
  return numBuffer;
}

void NumExpFmt(Num const* n, char* buffer, int32_t width) {
  ZF_ASSERT(n != nullptr);
  if (n == nullptr || buffer == nullptr) return;
  if (width < 1) width = 1;
  if (width > kBufSize - 1) width = kBufSize - 1;
  // The first digit, the exponent and a sign (or the highest text) must
  // all be shown; when they do not fit in the width, the field is filled
  // with '*' rather than written past the caller's width + 1 bytes.
  char text[kBufSize];
  expForm(*n, text, width);
  size_t len = std::strlen(text);
  if (len > size_t(width)) {
    std::memset(buffer, '*', size_t(width));
    buffer[width] = '\0';
    return;
  }
  std::memcpy(buffer, text, len + 1);
}

double NumToF(Num const* n) {
  ZF_ASSERT(n != nullptr);
  return n ? toDouble(*n) : -1e50;
}

void StrToNum(char const* s, Num* n) {
  ZF_ASSERT(n != nullptr);
  if (n) NumImpl::parse(*n, s);
}

void FToNum(double v, Num* n) {
  ZF_ASSERT(n != nullptr);
  if (n) *n = Num(v);
}
