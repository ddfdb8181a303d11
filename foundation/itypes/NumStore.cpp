// Num stored and wire forms: the 16-byte natural form, the packed form of a
// field declared with digits and decimals, the Connection form, and the
// buffer form of a String (a 4-byte length and the characters).
//
// Both Num byte forms are big-endian and ordered: comparing two stored values
// byte by byte as unsigned bytes gives the numeric order (null lowest,
// highest last). Every load checks what it reads: an exponent, a digit or a
// word pattern that no store produces gives the null Num and an error
// result, never an unnormalised number.
#include <zfound/Num.h>

#include <zfound/Connection.h>
#include <zfound/Portable.h>
#include <zfound/String.h>
#include "NumImpl.h"

#include <cstring>

// ---- natural form -------------------------------------------------------------------

void Num::store(char*& p) const {
  unsigned char* b = reinterpret_cast<unsigned char*>(p);
  stshort(int32_t(exp) + 100, b);
  bool neg = exp < 0;
  for (int i = 0; i < kDigits; ++i) {
    uint16_t d = i < len ? dig[i] : 0;
    if (neg) d = static_cast<uint16_t>(~d);
    stshort(d, b + 2 + 2 * i);
  }
  p += storeLength();
}

bool Num::load(char const*& p) {
  unsigned char const* b = reinterpret_cast<unsigned char const*>(p);
  p += storeLength();
  if (b[0] != 0 || b[1] > 200) {
    NumImpl::setNull(*this);
    return false;
  }
  int8_t x = static_cast<int8_t>(int32_t(b[1]) - 100);
  uint16_t d[kDigits];
  uint8_t c = 0;
  if (x != 0 && x != kNullExp && x != kHighExp) {
    for (int i = 0; i < kDigits; ++i) {
      uint16_t w = ldushort(b + 2 + 2 * i);
      d[i] = x < 0 ? static_cast<uint16_t>(~w) : w;
      if (d[i] != 0) c = static_cast<uint8_t>(i + 1);
    }
  } else {
    std::memset(d, 0, sizeof d);
  }
  // setRaw refuses digits above 9999 and a finite exponent without digits.
  if (!setRaw(d, x, c)) return false;
  // Only the bytes that store() writes are a value: digits under zero, null
  // or highest and unnormalised digits would give one value two byte forms,
  // and byte comparison of keys would break.
  char back[16];
  char* q = back;
  store(q);
  if (std::memcmp(back, b, sizeof back) != 0) {
    NumImpl::setNull(*this);
    return false;
  }
  return true;
}

void stnum(Num const* n, char* p) {
  if (n == nullptr || p == nullptr) return;
  n->store(p);
}

int32_t ldnum(Num* n, char const* p) {
  if (n == nullptr || p == nullptr) return -1;
  return n->load(p) ? 0 : -1;
}

// ---- packed form ----------------------------------------------------------------------

namespace {

constexpr int32_t kMaxFieldDigits = 255;

bool validDecl(int32_t length, int32_t decimals) {
  return length >= 1 && length <= kMaxFieldDigits && decimals >= 0 && decimals <= length;
}

}  // namespace

void Num::intLength(int32_t length, int32_t decimals, int32_t& words, int32_t& decWords) {
  if (!validDecl(length, decimals)) {
    words = decWords = 0;
    return;
  }
  decWords = (decimals + 3) / 4;
  words = (length - decimals + 3) / 4 + decWords;
}

bool Num::sameRep(int32_t len1, int32_t dec1, int32_t len2, int32_t dec2) {
  int32_t w1, d1, w2, d2;
  intLength(len1, dec1, w1, d1);
  intLength(len2, dec2, w2, d2);
  return w1 == w2 && d1 == d2;
}

int32_t Num::conLength(int32_t length, int32_t decimals) {
  int32_t words, decWords;
  intLength(length, decimals, words, decWords);
  if (words == 0) return 0;
  return ((2 * words - 1) / 4) * 4 + 16;
}

char* Num::_store(char* p, int32_t length, int32_t decimals) const {
  int32_t words, decWords;
  intLength(length, decimals, words, decWords);
  if (words == 0 || p == nullptr) return nullptr;
  unsigned char* b = reinterpret_cast<unsigned char*>(p);
  if (len == 0) {
    std::memset(b, 0, size_t(2 * words));
    if (isZero()) b[0] = 0x80;
    if (isMax()) b[0] = b[1] = 0xFF;
    return p + 2 * words;
  }
  int32_t e = NumImpl::e(*this);
  if (e + decWords < 0 || e + decWords > words) return nullptr;
  std::memset(b, 0, size_t(2 * words));
  int32_t slot = words - decWords - e;
  int32_t n = e + decWords < len ? e + decWords : len;
  bool any = false;
  for (int32_t i = 0; i < n; ++i) {
    stshort(dig[i], b + 2 * (slot + i));
    any = any || dig[i] != 0;
  }
  b[0] |= 0x80;
  // A number whose digits all lie below the field's last decimal stores as
  // zero, so that equal loaded values have equal bytes.
  if (any && exp < 0)
    for (int32_t i = 0; i < 2 * words; ++i) b[i] = static_cast<unsigned char>(~b[i]);
  return p + 2 * words;
}

char const* Num::_load(char const* p, int32_t length, int32_t decimals) {
  int32_t words, decWords;
  intLength(length, decimals, words, decWords);
  if (words == 0 || p == nullptr) {
    NumImpl::setNull(*this);
    return nullptr;
  }
  unsigned char const* b = reinterpret_cast<unsigned char const*>(p);
  uint32_t w[(kMaxFieldDigits + 3) / 4 + 2];  // room for the longest declaration (65 words)
  bool restZero = true;
  for (int32_t i = 0; i < words; ++i) {
    w[i] = ldushort(b + 2 * i);
    if (i > 0 && w[i] != 0) restZero = false;
  }
  if (w[0] == 0x0000 || w[0] == 0xFFFF) {
    if (!restZero) {
      NumImpl::setNull(*this);
      return nullptr;
    }
    if (w[0] == 0)
      NumImpl::setNull(*this);
    else
      NumImpl::setHigh(*this);
    return p + 2 * words;
  }
  bool neg = (b[0] & 0x80) == 0;
  for (int32_t i = 0; i < words; ++i) {
    if (neg) w[i] = ~w[i] & 0xFFFF;
    if (i == 0) w[i] &= 0x7FFF;
    if (w[i] > 9999) {
      NumImpl::setNull(*this);
      return nullptr;
    }
  }
  int32_t lead = 0;
  while (lead < words && w[lead] == 0) ++lead;
  int32_t end = words;
  while (end > lead && w[end - 1] == 0) --end;
  if (lead == words) {
    NumImpl::setZero(*this);
    return p + 2 * words;
  }
  int32_t e = words - decWords - lead;
  if (end - lead > kDigits || e > NumImpl::kMaxE || e < NumImpl::kMinE) {
    NumImpl::setNull(*this);  // more digits or a larger exponent than a Num holds
    return nullptr;
  }
  NumImpl::pack(*this, neg ? -1 : 1, e, w + lead, end - lead, false);
  return p + 2 * words;
}

bool Num::store(char*& p, int32_t length, int32_t decimals) const {
  char* end = _store(p, length, decimals);
  if (end == nullptr) return false;
  p = end;
  return true;
}

bool Num::load(char const*& p, int32_t length, int32_t decimals) {
  char const* end = _load(p, length, decimals);
  if (end == nullptr) return false;
  p = end;
  return true;
}

Num::Num(char const*& p, int32_t length, int32_t decimals) : dig{}, exp(0), len(0) {
  load(p, length, decimals);
}

// ---- Connection form ---------------------------------------------------------------

Connection& Connection::operator<<(Num const& n) {
  uint32_t c = n.count();
  uint32_t first = (uint32_t(uint8_t(n.expByte())) << 24) | (c << 16) | (c != 0 ? n.digit(0) : 0u);
  *this << static_cast<int32_t>(first);
  for (uint32_t i = 1; i < c; i += 2) {
    uint32_t w = uint32_t(n.digit(int(i))) << 16;
    if (i + 1 < c) w |= n.digit(int(i + 1));
    *this << static_cast<int32_t>(w);
  }
  return *this;
}

Connection& Connection::operator>>(Num& n) {
  int32_t first = 0;
  recFirstInt(first);
  uint32_t w0 = static_cast<uint32_t>(first);
  int8_t x = static_cast<int8_t>(w0 >> 24);
  uint16_t d[Num::kDigits] = {};
  if (x == 0 || x == Num::kNullExp || x == Num::kHighExp) {
    n.setRaw(d, x, 0);
    return *this;
  }
  uint32_t c = (w0 >> 16) & 0xFF;
  if (c < 1 || c > uint32_t(Num::kDigits)) {
    // The digit words that follow cannot be counted: the channel is lost.
    n = Num();
    setBad();
    return *this;
  }
  d[0] = static_cast<uint16_t>(w0 & 0xFFFF);
  for (uint32_t i = 1; i < c; i += 2) {
    int32_t w = 0;
    *this >> w;
    d[i] = static_cast<uint16_t>(static_cast<uint32_t>(w) >> 16);
    if (i + 1 < c) d[i + 1] = static_cast<uint16_t>(static_cast<uint32_t>(w) & 0xFFFF);
  }
  if (!n.setRaw(d, x, static_cast<uint8_t>(c))) setBad();
  return *this;
}

// ---- String buffer form ----------------------------------------------------------

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
