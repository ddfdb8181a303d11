// The saturating 32-bit arithmetic of day numbers and seconds: the highest
// and null values (2147483647, -2147483648) act as plus and minus infinity,
// and every result stays within 32 bits.
#include <zfound/Date.h>

#include <cstdint>

int32_t add(int32_t a, int32_t b) {
  if (a == INT32_MIN && b == INT32_MIN) return INT32_MIN;   // minus infinity twice
  if (int64_t(a) + int64_t(b) == 0) return 0;
  int64_t s = int64_t(a) + int64_t(b);
  if (a > 0 && b > 0 && s >= INT32_MAX) return INT32_MAX;
  if (a < 0 && b < 0 && s <= -int64_t(INT32_MAX)) return INT32_MIN;
  if (a == INT32_MAX || a == INT32_MIN) return a;
  if (b == INT32_MAX || b == INT32_MIN) return b;
  return int32_t(s);
}

namespace {
int32_t saturate(int64_t v) {
  if (v >= INT32_MAX) return INT32_MAX;
  if (v <= INT32_MIN) return INT32_MIN;
  return int32_t(v);
}
}  // namespace

int32_t mult(int32_t a, int32_t b) { return saturate(int64_t(a) * int64_t(b)); }

int32_t intDiv(int32_t a, int32_t b) {
  if (b == 0) return a < 0 ? INT32_MIN : INT32_MAX;
  return saturate(int64_t(a) / int64_t(b));
}
