// Internal helpers of Num shared by its arithmetic, text and stored-form
// sources. Not a public header: only the Num sources include it.
#pragma once

#include <zfound/Num.h>

#include <cstdint>

struct NumImpl {
  static constexpr int32_t kMaxE = 49;   // largest base-10,000 exponent e
  static constexpr int32_t kMinE = -49;  // smallest
  // Decimal shifts, cut places and digit places beyond this lie outside
  // every representable number; they are clamped to it.
  static constexpr int32_t kShiftBound = 1000;

  // e = |b| - 50 of a finite number.
  static int32_t e(Num const& n) { return (n.exp < 0 ? -n.exp : n.exp) - 50; }
  static int sign(Num const& n) { return n.exp < 0 ? -1 : 1; }
  static bool isInfinite(Num const& n) { return n.len == 0 && (n.exp == Num::kNullExp || n.exp == Num::kHighExp); }

  static void setZero(Num& n);
  static void setNull(Num& n);
  static void setHigh(Num& n);
  // highest for sign > 0, null for sign < 0.
  static void setInfinite(Num& n, int sign);

  // n = sign * 0.d[0] d[1] ... * 10000^e (base 10,000; count digits, each
  // 0..9999): leading zeros dropped, seven digits kept (rounded half up on
  // the eighth when `round`, else cut), trailing zeros dropped, exponent
  // saturated (above: highest/null by sign; below: zero).
  static void pack(Num& n, int sign, int32_t e, uint32_t const* d, int count, bool round);
  static void fromMagnitude(Num& n, int sign, uint64_t mag);
  // v exactly, except nullValue -> null and highValue -> highest.
  static void fromInt(Num& n, int64_t v, int64_t nullValue, int64_t highValue);

  static void add(Num& a, Num const& b);
  static void mul(Num& a, Num const& b);
  static void div(Num& a, Num const& b);
  static void shift(Num& a, int32_t places);
  static int32_t cmp(Num const& a, Num const& b);
  static void trunc(Num& n, int32_t dec, bool up);

  // Text reading (StrToNum).
  static void parse(Num& n, char const* s);
};
