// Boolean on the word channel: one word holding the value (null -1).
#include <zfound/Boolean.h>
#include <zfound/Connection.h>

Connection& operator<<(Connection& c, Boolean const& b) { return c << int32_t(b.value()); }

Connection& operator>>(Connection& c, Boolean& b) {
  int32_t w = 0;
  c >> w;
  b = toBoolean(w);
  return c;
}
