// Num arithmetic: construction from integers, normalisation, addition,
// subtraction, multiplication, division, decimal shifts, comparison,
// truncation and rounding.
//
// Every result goes through NumImpl::pack, which takes a run of base-10,000
// digits with its exponent, drops leading zeros, keeps seven digits (cut or
// rounded on the eighth), drops trailing zeros and saturates the exponent:
// above the range to highest or null by the sign, below it to zero. So no
// operation leaves an unnormalised number behind.
#include <zfound/Num.h>

#include <zfound/Assert.h>
#include "NumImpl.h"

#include <climits>
#include <cstring>

static_assert(sizeof(Num) == 16, "a Num is seven 16-bit digits, the exponent byte and the count");

// ---- NumImpl ----------------------------------------------------------------------

void NumImpl::setZero(Num& n) {
  std::memset(n.dig, 0, sizeof n.dig);
  n.exp = 0;
  n.len = 0;
}

void NumImpl::setNull(Num& n) {
  std::memset(n.dig, 0, sizeof n.dig);
  n.exp = Num::kNullExp;
  n.len = 0;
}

void NumImpl::setHigh(Num& n) {
  std::memset(n.dig, 0, sizeof n.dig);
  n.exp = Num::kHighExp;
  n.len = 0;
}

void NumImpl::setInfinite(Num& n, int sign) {
  if (sign < 0)
    setNull(n);
  else
    setHigh(n);
}

void NumImpl::pack(Num& n, int sign, int32_t e, uint32_t const* d, int count, bool round) {
  int first = 0;
  while (first < count && d[first] == 0) {
    ++first;
    --e;
  }
  if (first == count) {
    setZero(n);
    return;
  }
  uint32_t w[Num::kDigits + 1] = {};
  int m = count - first;
  int keep = m < Num::kDigits ? m : Num::kDigits;
  for (int i = 0; i < keep; ++i) w[i + 1] = d[first + i];
  if (round && m > Num::kDigits && d[first + Num::kDigits] >= 5000) {
    int i = keep;  // w[1..7] hold the digits; w[0] takes a carry out
    while (true) {
      if (++w[i] < 10000) break;
      w[i] = 0;
      if (--i < 0) break;
    }
  }
  uint32_t const* r = w + 1;
  if (w[0] != 0) {  // carry out of d0: one more leading digit, the last one lost
    r = w;
    ++e;
  }
  int k = keep;
  while (k > 0 && r[k - 1] == 0) --k;
  if (e > kMaxE) {
    setInfinite(n, sign);
    return;
  }
  if (e < kMinE) {
    setZero(n);
    return;
  }
  std::memset(n.dig, 0, sizeof n.dig);
  for (int i = 0; i < k; ++i) n.dig[i] = static_cast<uint16_t>(r[i]);
  n.len = static_cast<uint8_t>(k);
  n.exp = static_cast<int8_t>(sign < 0 ? -(e + 50) : (e + 50));
}

void NumImpl::fromMagnitude(Num& n, int sign, uint64_t mag) {
  uint32_t d[5];
  int k = 0;
  uint32_t rev[5];
  while (mag != 0) {
    rev[k++] = static_cast<uint32_t>(mag % 10000);
    mag /= 10000;
  }
  for (int i = 0; i < k; ++i) d[i] = rev[k - 1 - i];
  pack(n, sign, k, d, k, false);
}

void NumImpl::fromInt(Num& n, int64_t v, int64_t nullValue, int64_t highValue) {
  if (v == nullValue) {
    setNull(n);
    return;
  }
  if (v == highValue) {
    setHigh(n);
    return;
  }
  uint64_t mag = v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  fromMagnitude(n, v < 0 ? -1 : 1, mag);
}

void NumImpl::add(Num& a, Num const& bIn) {
  Num b = bIn;  // a and b may be the same object
  if (b.isZero()) return;
  if (a.isZero()) {
    a = b;
    return;
  }
  if (isInfinite(a)) {
    if (isInfinite(b) && a.exp != b.exp) setZero(a);
    return;
  }
  if (isInfinite(b)) {
    a = b;
    return;
  }
  int32_t ea = e(a), eb = e(b);
  int32_t top = ea > eb ? ea : eb;
  // Both magnitudes aligned on the larger exponent, seven places each;
  // digits of the smaller operand that fall beyond them are lost.
  uint32_t x[Num::kDigits] = {}, y[Num::kDigits] = {};
  auto place = [top](Num const& v, int32_t ev, uint32_t* out) {
    int32_t off = top - ev;
    for (int j = 0; j < v.len; ++j)
      if (off + j < Num::kDigits) out[off + j] = v.dig[j];
  };
  place(a, ea, x);
  place(b, eb, y);
  int sa = sign(a), sb = sign(b);
  uint32_t r[Num::kDigits + 1] = {};
  int rs = sa;
  if (sa == sb) {
    uint32_t carry = 0;
    for (int i = Num::kDigits - 1; i >= 0; --i) {
      uint32_t s = x[i] + y[i] + carry;
      carry = s >= 10000;
      r[i + 1] = carry ? s - 10000 : s;
    }
    r[0] = carry;
    pack(a, rs, top + 1, r, Num::kDigits + 1, false);
    return;
  }
  int c = 0;
  for (int i = 0; i < Num::kDigits && c == 0; ++i) c = x[i] < y[i] ? -1 : x[i] > y[i] ? 1 : 0;
  uint32_t const* big = x;
  uint32_t const* small = y;
  if (c < 0) {
    big = y;
    small = x;
    rs = sb;
  }
  int32_t borrow = 0;
  for (int i = Num::kDigits - 1; i >= 0; --i) {
    int32_t s = int32_t(big[i]) - int32_t(small[i]) - borrow;
    borrow = s < 0;
    r[i] = static_cast<uint32_t>(borrow ? s + 10000 : s);
  }
  pack(a, rs, top, r, Num::kDigits, false);
}

void NumImpl::mul(Num& a, Num const& bIn) {
  Num b = bIn;
  if (a.isZero()) return;
  if (b.isZero()) {
    setZero(a);
    return;
  }
  int s = sign(a) * sign(b);
  if (isInfinite(a) || isInfinite(b)) {
    setInfinite(a, s);
    return;
  }
  uint64_t p[2 * Num::kDigits] = {};
  for (int i = a.len - 1; i >= 0; --i)
    for (int j = b.len - 1; j >= 0; --j) p[i + j + 1] += uint64_t(a.dig[i]) * b.dig[j];
  uint32_t d[2 * Num::kDigits];
  uint64_t carry = 0;
  for (int k = 2 * Num::kDigits - 1; k >= 0; --k) {
    uint64_t v = p[k] + carry;
    d[k] = static_cast<uint32_t>(v % 10000);
    carry = v / 10000;
  }
  // d[0] stands for 10000^(ea+eb-1).
  pack(a, s, e(a) + e(b), d, 2 * Num::kDigits, true);
}

void NumImpl::div(Num& a, Num const& bIn) {
  Num b = bIn;
  if (a.isZero()) return;
  if (isInfinite(a)) {
    if (isInfinite(b)) {
      fromInt(a, a.exp == b.exp ? 1 : -1, 0, 0);
    } else if (sign(b) < 0 && !b.isZero()) {
      a.exp = static_cast<int8_t>(-a.exp);
    }
    return;
  }
  if (isInfinite(b)) {
    setZero(a);
    return;
  }
  if (b.isZero()) {
    setInfinite(a, sign(a));
    return;
  }
  // Mantissas as integers of seven digits: a / b = (ma / mb) * 10000^(ea-eb).
  // The quotient's digits come one at a time by long division; the
  // remainder stays below mb < 10^28, so ten thousand times it fits.
  unsigned __int128 ma = 0, mb = 0;
  for (int i = 0; i < Num::kDigits; ++i) {
    ma = ma * 10000 + (i < a.len ? a.dig[i] : 0);
    mb = mb * 10000 + (i < b.len ? b.dig[i] : 0);
  }
  constexpr int kQ = Num::kDigits + 2;  // one possibly zero digit, seven, the rounding one
  uint32_t q[kQ];
  unsigned __int128 r = ma;
  for (int i = 0; i < kQ; ++i) {
    q[i] = static_cast<uint32_t>(r / mb);
    r = (r % mb) * 10000;
  }
  // q[0] stands for 10000^(ea-eb).
  pack(a, sign(a) * sign(b), e(a) - e(b) + 1, q, kQ, true);
}

void NumImpl::shift(Num& a, int32_t places) {
  if (a.len == 0) return;
  if (places > kShiftBound) places = kShiftBound;
  if (places < -kShiftBound) places = -kShiftBound;
  int32_t groups = places >= 0 ? places / 4 : -((-places + 3) / 4);
  int32_t rest = places - 4 * groups;  // 0..3
  static uint32_t const pow10[4] = {1, 10, 100, 1000};
  uint32_t d[Num::kDigits + 1] = {};
  uint32_t carry = 0;
  for (int i = a.len - 1; i >= 0; --i) {
    uint32_t v = a.dig[i] * pow10[rest] + carry;
    d[i + 1] = v % 10000;
    carry = v / 10000;
  }
  d[0] = carry;
  pack(a, sign(a), e(a) + groups + 1, d, a.len + 1, false);
}

int32_t NumImpl::cmp(Num const& a, Num const& b) {
  int32_t d = int32_t(a.exp) - int32_t(b.exp);
  if (d != 0) return d;
  int neg = a.exp < 0 ? -1 : 1;
  int n = a.len < b.len ? a.len : b.len;
  for (int i = 0; i < n; ++i)
    if (a.dig[i] != b.dig[i]) return neg * (int32_t(a.dig[i]) - int32_t(b.dig[i]));
  return neg * (int32_t(a.len) - int32_t(b.len));
}

void NumImpl::trunc(Num& n, int32_t dec, bool up) {
  if (n.len == 0) return;
  if (dec > kShiftBound) dec = kShiftBound;
  if (dec < -kShiftBound) dec = -kShiftBound;
  // The last kept decimal place is 10^(-dec); it lies in the base-10,000
  // group g at offset o (its digit keeps the part from 10^o up).
  int32_t place = -dec;
  int32_t g = place >= 0 ? place / 4 : -((-place + 3) / 4);
  int32_t o = place - 4 * g;
  int32_t i = e(n) - 1 - g;  // index of the digit holding that group
  if (i >= n.len) return;    // nothing lies below the cut
  int s = sign(n);
  if (i < 0) {               // every digit lies below the cut
    setZero(n);
    if (up) {
      fromInt(n, s, 0, 0);
      shift(n, -dec);
    }
    return;
  }
  static uint32_t const pow10[4] = {1, 10, 100, 1000};
  bool cut = n.dig[i] % pow10[o] != 0;
  for (int j = i + 1; j < n.len; ++j) cut = cut || n.dig[j] != 0;
  if (!cut) return;
  uint32_t d[Num::kDigits];
  for (int j = 0; j <= i; ++j) d[j] = n.dig[j];
  d[i] -= d[i] % pow10[o];
  pack(n, s, e(n), d, i + 1, false);
  if (up) {
    Num unit;
    fromInt(unit, s, 0, 0);
    shift(unit, -dec);
    add(n, unit);
  }
}

// ---- Num members --------------------------------------------------------------

Num::Num(int v) : dig{}, exp(0), len(0) { NumImpl::fromInt(*this, v, INT32_MIN, INT32_MAX); }

Num::Num(long v) : dig{}, exp(0), len(0) { NumImpl::fromInt(*this, v, INT32_MIN, INT32_MAX); }

bool Num::setRaw(uint16_t const digits[kDigits], int8_t expByte, uint8_t count) {
  bool ok = count <= kDigits && expByte >= kNullExp && expByte <= kHighExp;
  for (int i = 0; ok && i < kDigits; ++i) ok = digits[i] <= 9999;
  bool special = expByte == 0 || expByte == kNullExp || expByte == kHighExp;
  if (ok && count == 0) ok = special;
  if (ok && count != 0) ok = !special;
  if (!ok) {
    NumImpl::setNull(*this);
    return false;
  }
  if (count == 0) {
    std::memset(dig, 0, sizeof dig);
    exp = expByte;
    len = 0;
    return true;
  }
  uint32_t d[kDigits];
  for (int i = 0; i < count; ++i) d[i] = digits[i];
  int32_t e = (expByte < 0 ? -expByte : expByte) - 50;
  NumImpl::pack(*this, expByte < 0 ? -1 : 1, e, d, count, false);
  return true;
}

Num Num::operator-() const {
  Num r(*this);
  r.exp = static_cast<int8_t>(-r.exp);
  return r;
}

Num& Num::operator+=(Num const& b) {
  NumImpl::add(*this, b);
  return *this;
}

Num& Num::operator-=(Num const& b) {
  if (b.isZero()) return *this;
  NumImpl::add(*this, -b);
  return *this;
}

Num& Num::operator*=(Num const& b) {
  NumImpl::mul(*this, b);
  return *this;
}

Num& Num::operator/=(Num const& b) {
  NumImpl::div(*this, b);
  return *this;
}

Num& Num::operator++() { return *this += Num(1); }
Num& Num::operator--() { return *this -= Num(1); }

Num Num::operator++(int) {
  Num old(*this);
  ++*this;
  return old;
}

Num Num::operator--(int) {
  Num old(*this);
  --*this;
  return old;
}

Num& Num::shift(int32_t n) {
  NumImpl::shift(*this, n);
  return *this;
}

int32_t Num::nthDig(int32_t k) const {
  if (len == 0) return 0;
  if (k > NumImpl::kShiftBound || k < -NumImpl::kShiftBound) return 0;
  int32_t place = k - 1;  // the digit stands for 10^place
  int32_t g = place >= 0 ? place / 4 : -((-place + 3) / 4);
  int32_t o = place - 4 * g;
  int32_t i = NumImpl::e(*this) - 1 - g;
  if (i < 0 || i >= len) return 0;
  static int32_t const pow10[4] = {1, 10, 100, 1000};
  return (dig[i] / pow10[o]) % 10;
}

int32_t Num::totDigits(int32_t& nint, int32_t& ndec) const {
  nint = ndec = 0;
  if (len == 0) return 0;
  int32_t e = NumImpl::e(*this);
  if (e > 0) {
    int32_t lead = dig[0] >= 1000 ? 0 : dig[0] >= 100 ? 1 : dig[0] >= 10 ? 2 : 3;
    nint = 4 * e - lead;
  } else if (e < 0) {
    nint = 1;
  }
  int32_t after = len - e;  // digit positions after the point
  if (after > 0) {
    uint32_t last = dig[len - 1];
    int32_t trail = 0;
    while (trail < 3 && last % 10 == 0) {
      last /= 10;
      ++trail;
    }
    ndec = 4 * after - trail;
  }
  return nint + ndec;
}

int32_t Num::cmp(Num const& b) const { return NumImpl::cmp(*this, b); }

// ---- free operators ---------------------------------------------------------------

bool operator==(Num const& a, Num const& b) { return NumImpl::cmp(a, b) == 0; }
bool operator!=(Num const& a, Num const& b) { return NumImpl::cmp(a, b) != 0; }
bool operator<(Num const& a, Num const& b) { return NumImpl::cmp(a, b) < 0; }
bool operator>(Num const& a, Num const& b) { return NumImpl::cmp(a, b) > 0; }
bool operator<=(Num const& a, Num const& b) { return NumImpl::cmp(a, b) <= 0; }
bool operator>=(Num const& a, Num const& b) { return NumImpl::cmp(a, b) >= 0; }

Num operator+(Num a, Num const& b) { return a += b; }
Num operator-(Num a, Num const& b) { return a -= b; }
Num operator*(Num a, Num const& b) { return a *= b; }
Num operator/(Num a, Num const& b) { return a /= b; }

Num toNum(int32_t v) { return Num(v); }
Num toNum(long v) { return Num(v); }

Num toNum(int16_t v) {
  Num n;
  NumImpl::fromInt(n, v, INT16_MIN, INT16_MAX);
  return n;
}

Num toNum(char v) {
  Num n;
  NumImpl::fromInt(n, static_cast<signed char>(v), -128, 127);
  return n;
}

int32_t toInt(Num const& n) {
  if (n.isNull()) return INT32_MIN;
  if (n.isMax()) return INT32_MAX;
  if (n.count() == 0) return 0;
  int32_t e = NumImpl::e(n);
  if (e <= 0) return 0;
  int64_t mag = 0;
  if (e > 3) {
    mag = int64_t(1) << 40;  // at least 10000^3: beyond the 32-bit range
  } else {
    for (int i = 0; i < e; ++i) mag = mag * 10000 + (i < n.count() ? n.digit(i) : 0);
  }
  if (mag >= int64_t(2147483648LL)) return NumImpl::sign(n) < 0 ? INT32_MIN : INT32_MAX;
  return static_cast<int32_t>(NumImpl::sign(n) * mag);
}

// ---- plain functions ------------------------------------------------------------
// A null pointer fails the assertion and the call does nothing (the report
// returns only before start-up).

namespace {

bool checkA(void const* a) { return ZF_ASSERT(a != nullptr); }

bool checkN(void const* n) { return ZF_ASSERT(n != nullptr); }

bool checkShift(Num const* a) { return ZF_ASSERT(a != nullptr && a->count() <= 7); }

}  // namespace

void NumAdd(Num* a, Num const* b) {
  if (!checkA(a) || !checkA(b)) return;
  *a += *b;
}

void NumSub(Num* a, Num const* b) {
  if (!checkA(a) || !checkA(b)) return;
  *a -= *b;
}

void NumMul(Num* a, Num const* b) {
  if (!checkA(a) || !checkA(b)) return;
  *a *= *b;
}

void NumDiv(Num* a, Num const* b) {
  if (!checkA(a) || !checkA(b)) return;
  *a /= *b;
}

void NumAddL(Num* a, int32_t b) { Num t(b); NumAdd(a, &t); }
void NumSubL(Num* a, int32_t b) { Num t(b); NumSub(a, &t); }
void NumMulL(Num* a, int32_t b) { Num t(b); NumMul(a, &t); }
void NumDivL(Num* a, int32_t b) { Num t(b); NumDiv(a, &t); }
void NumAddF(Num* a, double b) { Num t(b); NumAdd(a, &t); }
void NumSubF(Num* a, double b) { Num t(b); NumSub(a, &t); }
void NumMulF(Num* a, double b) { Num t(b); NumMul(a, &t); }
void NumDivF(Num* a, double b) { Num t(b); NumDiv(a, &t); }

int32_t NumCmp(Num const* a, Num const* b) {
  if (!checkA(a) || !checkA(b)) return 0;
  return NumImpl::cmp(*a, *b);
}

int32_t NumCmpL(Num const* a, int32_t b) { Num t(b); return NumCmp(a, &t); }
int32_t NumCmpF(Num const* a, double b) { Num t(b); return NumCmp(a, &t); }

void NumNorm(Num* a) {
  if (!checkShift(a)) return;
  uint16_t d[Num::kDigits];
  for (int i = 0; i < Num::kDigits; ++i) d[i] = a->digit(i);
  // Trailing zeros may have left the count at a digit that is 0.
  uint8_t c = a->count();
  while (c > 0 && d[c - 1] == 0) --c;
  int8_t x = a->expByte();
  if (c == 0 && x != Num::kNullExp && x != Num::kHighExp) x = 0;
  a->setRaw(d, x, c);
}

void NumShift(Num* a, int32_t n) {
  if (!checkShift(a)) return;
  a->shift(n);
}

void NumTrunc(Num* n, int32_t dec, bool up) {
  if (!checkN(n)) return;
  NumImpl::trunc(*n, dec, up);
}

void NumRound(Num* n, int32_t dec) {
  if (!checkN(n)) return;
  if (dec > NumImpl::kShiftBound) return;  // no digit lies that far out
  if (dec < -NumImpl::kShiftBound) dec = -NumImpl::kShiftBound;
  NumImpl::trunc(*n, dec, n->nthDig(-dec) >= 5);
}

int32_t NumTotDigits(Num const* n, int32_t* nint, int32_t* ndec) {
  checkN(n);
  int32_t i = 0, d = 0, sum = n ? n->totDigits(i, d) : 0;
  if (nint) *nint = i;
  if (ndec) *ndec = d;
  return sum;
}

int32_t NumToL(Num const* n) {
  return checkN(n) ? toInt(*n) : INT32_MIN;
}

void LToNum(int32_t v, Num* n) {
  if (checkN(n)) *n = Num(v);
}

void LToNum(int32_t v, Num& n) { n = Num(v); }

void IToNum(int16_t v, Num* n) {
  if (checkN(n)) *n = toNum(v);
}

void ByteToNum(signed char v, Num* n) {
  if (checkN(n)) *n = toNum(static_cast<char>(v));
}
