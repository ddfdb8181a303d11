// Time's stored forms: in memory the sortable 4-byte form (value +
// 0x80000000, most significant byte first) and the 2-byte short form
// (toShort), on a FILE the plain 4-byte value.
#include <zfound/Portable.h>
#include <zfound/Time.h>

#include <cstdio>

void Time::store(char*& pos) const { stInt(value_, pos); }

Time& Time::load(char const*& pos) {
  value_ = ldInt(pos);
  return *this;
}

void Time::store(FILE* f) const { stInt(f, value_); }

Time& Time::load(FILE* f) {
  value_ = ldInt(f);
  return *this;
}

void Time::storeShort(char*& pos) const {
  stshort(toShort(), pos);
  pos += 2;
}

Time& Time::loadShort(char const*& pos) {
  *this = Time(ldushort(pos));
  pos += 2;
  return *this;
}
