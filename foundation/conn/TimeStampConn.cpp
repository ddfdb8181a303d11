// TimeStamp on the word channel: the time's value, then one word holding
// the sequence (high half) and the user id (low half).
#include <zfound/Connection.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

Connection& operator<<(Connection& c, TimeStamp const& ts) {
  c << int32_t(ts.time().value());
  c << int32_t((uint32_t(ts.nSec()) << 16) | ts.userId());
  return c;
}

Connection& operator>>(Connection& c, TimeStamp& ts) {
  int32_t t = 0, w = 0;
  c >> t;
  c >> w;
  ts = TimeStamp(toTime(t));
  ts.setNSec(int32_t(uint32_t(w) >> 16));
  ts.setUserId(int32_t(uint32_t(w) & 0xFFFF));
  return c;
}
