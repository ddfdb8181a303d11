// Num stored forms: the 16-byte natural form and the packed form of a field
// declared with digits and decimals.
//
// Both Num byte forms are big-endian and ordered: comparing two stored values
// byte by byte as unsigned bytes gives the numeric order (null lowest,
// highest last). Every load checks what it reads: an exponent, a digit or a
// word pattern that no store produces gives the null Num and an error
// result, never an unnormalised number.
#include <zfound/Num.h>

#include <zfound/Portable.h>

#include <cstring>

namespace {

// The exponent range of a finite number (e = |b| - 50, b in 1..99).
constexpr int32_t kMaxE = Num::kHighExp - 51;
constexpr int32_t kMinE = -kMaxE;

// Makes n one of the values without digits: zero, null or highest by its
// exponent byte.
void setSpecial(Num& n, int8_t expByte) {
  uint16_t const none[Num::kDigits] = {};
  n.setRaw(none, expByte, 0);
}

}  // namespace

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
    setSpecial(*this, kNullExp);
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
    setSpecial(*this, kNullExp);
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
  int32_t e = (exp < 0 ? -exp : exp) - 50;
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
    setSpecial(*this, kNullExp);
    return nullptr;
  }
  unsigned char const* b = reinterpret_cast<unsigned char const*>(p);
  uint32_t w[(kMaxFieldDigits + 3) / 4 + 2] = {};  // room for the longest declaration (65 words)
  bool restZero = true;
  for (int32_t i = 0; i < words; ++i) {
    w[i] = ldushort(b + 2 * i);
    if (i > 0 && w[i] != 0) restZero = false;
  }
  if (w[0] == 0x0000 || w[0] == 0xFFFF) {
    if (!restZero) {
      setSpecial(*this, kNullExp);
      return nullptr;
    }
    if (w[0] == 0)
      setSpecial(*this, kNullExp);
    else
      setSpecial(*this, kHighExp);
    return p + 2 * words;
  }
  bool neg = (b[0] & 0x80) == 0;
  for (int32_t i = 0; i < words; ++i) {
    if (neg) w[i] = ~w[i] & 0xFFFF;
    if (i == 0) w[i] &= 0x7FFF;
    if (w[i] > 9999) {
      setSpecial(*this, kNullExp);
      return nullptr;
    }
  }
  int32_t lead = 0;
  while (lead < words && w[lead] == 0) ++lead;
  int32_t end = words;
  while (end > lead && w[end - 1] == 0) --end;
  if (lead == words) {
    setSpecial(*this, 0);
    return p + 2 * words;
  }
  int32_t e = words - decWords - lead;
  if (end - lead > kDigits || e > kMaxE || e < kMinE) {
    setSpecial(*this, kNullExp);  // more digits or a larger exponent than a Num holds
    return nullptr;
  }
  uint16_t d[kDigits] = {};
  for (int32_t i = lead; i < end; ++i) d[i - lead] = static_cast<uint16_t>(w[i]);
  int32_t expByte = neg ? -(e + 50) : e + 50;
  setRaw(d, static_cast<int8_t>(expByte), static_cast<uint8_t>(end - lead));
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
