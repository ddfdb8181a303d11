// Num: the exact decimal number of the system, up to 28 significant digits.
//
// A Num holds seven base-10,000 digits d0..d6 (most significant first), a
// signed exponent byte b and a digit count. With e = |b| - 50 the value is
//   sign(b) * (0.d0 d1 d2 ... in base 10,000) * 10000^e,
// so d0 stands for d0 * 10000^(e-1). Positive numbers have b in 1..99,
// negative numbers b in -99..-1.
//
// Invariants kept by every operation:
//  - a normalised number has d0 != 0, no trailing zero digit within the
//    count, count 1..7 and every digit 0..9999;
//  - zero is b = 0, count 0; null is b = -100 (0x9C), count 0, and is also
//    minus infinity; highest is b = 100 (0x64), count 0, plus infinity;
//  - arithmetic never fails: overflow saturates to highest or null (by the
//    sign), division by zero gives highest or null by the dividend's sign,
//    underflow gives zero;
//  - NumCmp returns a signed difference, not only -1/0/1: callers test its
//    sign only;
//  - text forms are written into one static 256-byte buffer that the next
//    call overwrites; width and precision are bounded so that nothing is
//    written past it;
//  - every digit, exponent and count read from a channel, a file or a
//    stored form is range-checked: a malformed value yields null and an
//    error result, never an unnormalised Num.
//
// Stored forms (byte-sortable, big-endian):
//  - natural, 16 bytes: 2 bytes (b + 100) then the seven digits as 16-bit
//    words, complemented for a negative number; unused digits 0x0000
//    (0xFFFF when negative);
//  - packed, for a field of `len` digits of which `dec` are decimals:
//    one 16-bit word per base-10,000 digit aligned on the decimal point;
//    null 0x0000.., zero 0x8000 0.., highest 0xFFFF 0..; the first byte of a
//    positive number has its top bit set; a negative number is the bytewise
//    complement.
// Connection form (32-bit words): first word (b << 24) | (count << 16) | d0
// (d0 only when count != 0), then d1.. two to a word (the earlier digit in
// the high half), a last odd digit in the high half of its own word. A first
// word 0x7FFFFFFE announces a counter word read into Connection::counter().
#pragma once

#include <cstdint>

class String;
class Connection;

class Num {
public:
  static constexpr int kDigits = 7;          // base-10,000 digits held
  static constexpr int8_t kNullExp = -100;   // exponent byte of null
  static constexpr int8_t kHighExp = 100;    // exponent byte of highest
  static constexpr int32_t kMaxPrecision = 2147483647;  // "all decimals"

  // ---- construction -----------------------------------------------------
  // The null number.
  Num() : dig{}, exp(kNullExp), len(0) {}
  // -2147483648 gives null and 2147483647 highest (the null and highest
  // 32-bit integers); any other value exactly.
  Num(int v);
  // As Num(int) for -2147483648 and 2147483647; any other 64-bit value exactly.
  Num(long v);
  // 0.0 gives zero; -1e50, minus infinity and NaN null; 1e50 and plus
  // infinity highest; else the 15 significant digits of v.
  Num(double v);
  // The text form (see toNum(char const*)).
  Num(char const* s);
  Num(String const& s);
  // Loads the packed form (see load(char const*&, len, dec)).
  Num(char const*& p, int32_t length, int32_t decimals);

  // Builds a Num from its raw parts (digits d0..d6, exponent byte, count), as
  // a file or a peer hands them over. The parts are checked: a count above 7,
  // a digit above 9999, an exponent byte outside -100..100, a count of 0 with
  // an exponent byte other than 0/-100/100, or a finite exponent with count 0
  // make the number null and return false. A valid value is normalised.
  bool setRaw(uint16_t const digits[kDigits], int8_t expByte, uint8_t count);

  // ---- raw parts ----------------------------------------------------------
  uint16_t digit(int i) const { return (i >= 0 && i < kDigits) ? dig[i] : 0; }
  int8_t expByte() const { return exp; }
  uint8_t count() const { return len; }

  // ---- tests ----------------------------------------------------------------
  bool isZero() const { return exp == 0 && len == 0; }
  bool isNull() const { return exp == kNullExp && len == 0; }
  bool isMin() const { return isNull(); }
  bool isMax() const { return exp == kHighExp && len == 0; }
  // True for zero, null and highest (count 0).
  bool operator!() const { return len == 0; }
  // Negated exponent byte: highest <-> null, zero unchanged.
  Num operator-() const;

  // ---- arithmetic -----------------------------------------------------------
  Num& operator+=(Num const& b);
  Num& operator-=(Num const& b);
  Num& operator*=(Num const& b);
  Num& operator/=(Num const& b);
  Num& operator++();
  Num& operator--();
  Num operator++(int);
  Num operator--(int);
  // Decimal shift: multiply (n > 0) or divide (n < 0) by 10^|n|.
  Num& shift(int32_t n);
  Num& operator<<=(int32_t n) { return shift(n); }
  Num& operator>>=(int32_t n) { return shift(-n); }
  Num operator<<(int32_t n) const { Num r(*this); return r.shift(n); }
  Num operator>>(int32_t n) const { Num r(*this); return r.shift(-n); }

  // The decimal digit k places left of the point (1: units, 2: tens) or,
  // for k <= 0, place 1 - k after the point (0: tenths); 0 outside.
  int32_t nthDig(int32_t k) const;
  // Integer and decimal digit counts (see NumTotDigits); returns their sum.
  int32_t totDigits(int32_t& nint, int32_t& ndec) const;
  // Signed difference as NumCmp; test the sign only.
  int32_t cmp(Num const& b) const;

  // ---- natural stored form (16 bytes) --------------------------------------
  static int32_t storeLength() { return 16; }
  // Writes the 16 bytes at p; p moves past them.
  void store(char*& p) const;
  // Reads 16 bytes at p; p moves past them. A malformed form (first byte not
  // 0, exponent above 200, digit out of range, inconsistent unused digits)
  // gives null and returns false.
  bool load(char const*& p);

  // ---- packed stored form ----------------------------------------------------
  // Words of a field of `length` digits with `decimals` decimals: in all and
  // after the point. Declarations outside 1 <= length <= 255,
  // 0 <= decimals <= length give 0 and 0.
  static void intLength(int32_t length, int32_t decimals, int32_t& words, int32_t& decWords);
  // True when both declarations give the same word counts.
  static bool sameRep(int32_t len1, int32_t dec1, int32_t len2, int32_t dec2);
  // Room a value of that declaration takes on a connection.
  static int32_t conLength(int32_t length, int32_t decimals);
  // Writes the packed form at p; returns the position after it, or nullptr
  // (nothing written) when the number does not fit or the declaration is
  // invalid. Decimals beyond the field's are cut off.
  char* _store(char* p, int32_t length, int32_t decimals) const;
  // Reads the packed form at p; returns the position after it, or nullptr
  // when the declaration is invalid or the bytes are not a packed number
  // (the number is then null).
  char const* _load(char const* p, int32_t length, int32_t decimals);
  // As _store/_load, moving p past the area on success.
  bool store(char*& p, int32_t length, int32_t decimals) const;
  bool load(char const*& p, int32_t length, int32_t decimals);

private:
  friend struct NumImpl;

  uint16_t dig[kDigits];  // base-10,000 digits, most significant first
  int8_t exp;             // signed exponent byte (|exp| - 50 is e)
  uint8_t len;            // digits in use, 0..7
};

// ---- relational operators (on NumCmp's sign) -----------------------------------
bool operator==(Num const& a, Num const& b);
bool operator!=(Num const& a, Num const& b);
bool operator<(Num const& a, Num const& b);
bool operator>(Num const& a, Num const& b);
bool operator<=(Num const& a, Num const& b);
bool operator>=(Num const& a, Num const& b);

// ---- binary arithmetic on a copy of the left operand ---------------------------
Num operator+(Num a, Num const& b);
Num operator-(Num a, Num const& b);
Num operator*(Num a, Num const& b);
Num operator/(Num a, Num const& b);

// ---- conversions ---------------------------------------------------------------
Num toNum(int32_t v);
Num toNum(long v);
// -32768 gives null, 32767 highest.
Num toNum(int16_t v);
// -128 gives null, 127 highest.
Num toNum(char v);
Num toNum(double v);
// Text: a null pointer gives null, (char const*)1 highest; leading white
// space skipped; empty rest null; optional sign; digits in groups of four
// from the point (at most 28 significant digits kept, further digits cut);
// no digits zero; "E"/"e", an optional sign and digits shift by that power
// of ten.
Num toNum(char const* s);
Num toNum(String const& s);
// e <= 0 gives 0, null -2147483648; the integer part, the fraction cut off;
// 2147483648 or more in magnitude gives 2147483647 / -2147483648 by sign.
int32_t toInt(Num const& n);
// Highest 1e50, null -1e50, else the value.
double toDouble(Num const& n);
// The text form (see NumToStr) in the static buffer.
char const* toCharPtr(Num const& n, int32_t width = 255, int32_t precision = Num::kMaxPrecision);
String toString(Num const& n, int32_t width = 255, int32_t precision = Num::kMaxPrecision);

// ---- plain functions --------------------------------------------------------------
// a += b etc. with the null and highest rules; b is left unchanged.
void NumAdd(Num* a, Num const* b);
void NumSub(Num* a, Num const* b);
void NumMul(Num* a, Num const* b);
void NumDiv(Num* a, Num const* b);
void NumAddL(Num* a, int32_t b);
void NumSubL(Num* a, int32_t b);
void NumMulL(Num* a, int32_t b);
void NumDivL(Num* a, int32_t b);
void NumAddF(Num* a, double b);
void NumSubF(Num* a, double b);
void NumMulF(Num* a, double b);
void NumDivF(Num* a, double b);
// Signed difference (not only -1/0/1): exponent bytes first, then the first
// differing digit, then the counts, negated for negative numbers.
int32_t NumCmp(Num const* a, Num const* b);
int32_t NumCmpL(Num const* a, int32_t b);
int32_t NumCmpF(Num const* a, double b);
// Drops trailing zero digits, shifts out leading ones, saturates the exponent.
void NumNorm(Num* a);
// Decimal shift by n places (see Num::shift).
void NumShift(Num* a, int32_t n);
// Cuts n to dec places after the point (negative: tens, hundreds, ...);
// with up set and something non-zero cut, adds one unit of the last kept
// place with n's sign.
void NumTrunc(Num* n, int32_t dec, bool up);
// Rounds half away from zero to dec places.
void NumRound(Num* n, int32_t dec);
// Integer digits and decimal digits; returns their sum.
int32_t NumTotDigits(Num const* n, int32_t* nint, int32_t* ndec);
// Text form: null "", highest "(high value)", zero "0" (with precision
// zeros after a point unless precision is 0 or 2147483647), else rounded to
// `precision` decimals, fixed notation, or the exponent form when it needs
// more than width - 1 characters. A width below 10 counts as 10, above 255
// as 255; padding zeros never pass the buffer. Returns the static buffer.
char* NumToStr(Num const* n, int32_t width, int32_t precision);
// Exponent form into buffer (which holds width + 1 bytes, width at most 255):
// one digit, ".", further digits as they fit, "e", sign, exponent digits;
// no exponent part for exponent 0. A width too small for the first digit,
// the sign and the exponent (or for "(high value)") gives width '*'s.
void NumExpFmt(Num const* n, char* buffer, int32_t width);
int32_t NumToL(Num const* n);
double NumToF(Num const* n);
void StrToNum(char const* s, Num* n);
void LToNum(int32_t v, Num* n);
void LToNum(int32_t v, Num& n);
void IToNum(int16_t v, Num* n);
void ByteToNum(signed char v, Num* n);
void FToNum(double v, Num* n);
// The natural stored form at p (16 bytes).
void stnum(Num const* n, char* p);
// Reads the natural stored form at p; 0, or -1 (n null) when malformed.
int32_t ldnum(Num* n, char const* p);
