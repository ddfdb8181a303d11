// Text output of dates and times on streams: the date with format flag 4,
// the time with flags 6 (seconds, ':' separators).
#include <zfound/Date.h>
#include <zfound/Stream.h>
#include <zfound/Time.h>

OutputStream& OutputStream::operator<<(Date const& d) { return *this << toCharPtr(d, 4); }

OutputStream& OutputStream::operator<<(Time const& t) { return *this << toCharPtr(t, 6); }
