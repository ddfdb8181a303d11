// The 16-byte Num form on FILE streams and on the system's streams: seven
// 16-bit digit words (most significant byte first, in the order Num holds
// them), the exponent byte, the digit-count byte.
//
// Loads go through Num::setRaw, which refuses parts no Num can hold; a short
// read or refused parts give the null Num and a visible failure (ldFailed on a
// FILE, the error bit on a stream).
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>

#include "PortableMark.h"

#include <cstring>

namespace {

constexpr int kNumBytes = 16;

void encode(Num const& n, unsigned char* b) {
  for (int i = 0; i < Num::kDigits; ++i) stshort(n.digit(i), b + 2 * i);
  b[14] = static_cast<unsigned char>(n.expByte());
  b[15] = n.count();
}

bool decode(unsigned char const* b, Num& n) {
  uint16_t d[Num::kDigits];
  for (int i = 0; i < Num::kDigits; ++i) d[i] = ldushort(b + 2 * i);
  Num r;
  // Only the bytes that encode() writes are a value, so that one value has
  // one byte form: unnormalised digits, digits past the count and digits
  // under zero, null or highest are refused.
  unsigned char back[kNumBytes];
  bool ok = r.setRaw(d, static_cast<int8_t>(b[14]), b[15]);
  if (ok) encode(r, back);
  if (!ok || std::memcmp(back, b, kNumBytes) != 0) {
    n = Num();
    return false;
  }
  n = r;
  return true;
}

}  // namespace

bool stNum(FILE* f, Num const& n) {
  unsigned char b[kNumBytes];
  encode(n, b);
  return putBytes(f, b, kNumBytes);
}

Num ldNum(FILE* f) {
  unsigned char b[kNumBytes];
  Num n;
  if (!getBytes(f, b, kNumBytes)) return Num();
  if (!decode(b, n)) ldMarkBad(f);
  return n;
}

void store(OutputStream& os, Num const& n) {
  unsigned char b[kNumBytes];
  encode(n, b);
  putBytes(os, b, kNumBytes);
}

InputStream& load(InputStream& is, Num& n) {
  unsigned char b[kNumBytes];
  n = Num();
  if (!getBytes(is, b, kNumBytes)) return is;
  if (!decode(b, n)) is.addState(Stream::ErrorBit);
  return is;
}
