// TimeStamp's 8-byte stored form: the time's sortable form, then the
// sequence and the user id, 2 bytes each, most significant byte first.
#include <zfound/Portable.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

void TimeStamp::store(char*& pos) const {
  time_.store(pos);
  stshort(nSec_, pos);
  stshort(userId_, pos + 2);
  pos += 4;
}

TimeStamp& TimeStamp::load(char const*& pos) {
  time_.load(pos);
  nSec_ = ldushort(pos);
  userId_ = ldushort(pos + 2);
  pos += 4;
  return *this;
}
