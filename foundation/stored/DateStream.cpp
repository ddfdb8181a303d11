// Date and Time on the buffered streams: the plain 32-bit value (day number
// or seconds, without the offset of the memory-buffer form) as 4 bytes, most
// significant first, through the stream forms of Portable.h.
#include <zfound/Date.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>
#include <zfound/Time.h>

void Date::store(OutputStream& os) const { ::store(os, value_); }

Date& Date::load(InputStream& is) {
  int32_t v = 0;
  ::load(is, v);
  value_ = is.withError() ? 0 : v;
  return *this;
}

void Time::store(OutputStream& os) const { ::store(os, value_); }

Time& Time::load(InputStream& is) {
  int32_t v = 0;
  ::load(is, v);
  value_ = is.withError() ? 0 : v;
  return *this;
}
