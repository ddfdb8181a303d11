// String's buffer form: a 4-byte length, most significant byte first (0 the
// null String, 0x7FFFFFFF the highest), then the characters without a
// terminator. A length that no store writes loads as the null String.
#include <zfound/Portable.h>
#include <zfound/String.h>

#include <cstring>

String& String::load(char const*& pos) {
  int32_t n = ldlong(pos);
  pos += 4;
  if (n == 0 || n < 0 || (n > kMaxLength && n != kHighLength)) {
    *this = String();  // 0 is null; a length no store writes reads as null too
  } else if (n == kHighLength) {
    *this = String(reinterpret_cast<char const*>(1));
  } else {
    *this = String(long(n), pos);
    pos += n;
  }
  return *this;
}

void String::store(char*& pos) const {
  long n = length();
  stlong(static_cast<int32_t>(n), pos);
  pos += 4;
  if (n > 0 && n != kHighLength) {
    std::memcpy(pos, toCharPtr(*this), size_t(n));
    pos += n;
  }
}
