// Date's stored forms: in memory the sortable 4-byte form (value +
// 0x80000000, most significant byte first) and the 2-byte short form, on a
// FILE the plain 4-byte value.
#include <zfound/Date.h>
#include <zfound/Portable.h>

#include <cstdio>

void Date::store(char*& pos) const { stInt(value_, pos); }

Date& Date::load(char const*& pos) {
  value_ = ldInt(pos);
  return *this;
}

void Date::store(FILE* f) const { stInt(f, value_); }

Date& Date::load(FILE* f) {
  value_ = ldInt(f);
  return *this;
}

void Date::storeShort(char*& pos) const {
  uint16_t u;
  if (value_ < -32767)
    u = 0x0000;
  else if (value_ >= 32766)
    u = 0xFFFE;
  else
    u = uint16_t(uint16_t(int16_t(value_)) ^ 0x8000u);
  stshort(u, pos);
  pos += 2;
}

Date& Date::loadShort(char const*& pos) {
  uint16_t u = ldushort(pos);
  pos += 2;
  if (u == 0x0000)
    value_ = kNull;
  else if (u >= 0xFFFE)
    value_ = kHigh;
  else
    value_ = int16_t(u ^ 0x8000u);
  return *this;
}
