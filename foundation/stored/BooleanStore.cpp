// Boolean's 4-byte stored form: the value big-endian, null FF FF FF FF;
// loading gives null for any negative word, false for 0 and true for any
// other.
#include <zfound/Boolean.h>
#include <zfound/Portable.h>

void Boolean::store(char*& pos) const {
  stlong(value_, pos);
  pos += 4;
}

Boolean& Boolean::load(char const*& pos) {
  int32_t w = ldlong(pos);
  pos += 4;
  *this = toBoolean(w);
  return *this;
}
