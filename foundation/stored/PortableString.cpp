// The String form on FILE streams and on the system's streams: a 16-bit
// length word, most significant byte first, then the characters.
//
//   0            the null string (nothing follows)
//   65535        the highest-value string (nothing follows)
//   1..65533     that many characters follow
//   65534, x     x (0 or 1) is the length minus 65534; that many characters
//                follow (65534 + x)
//
// A load that comes up short gives the null string and leaves the failure
// visible (ldFailed on a FILE, the error bit on a stream); so does an escape
// byte other than 0 or 1.
#include <zfound/Portable.h>
#include <zfound/Stream.h>
#include <zfound/String.h>

#include "PortableMark.h"

namespace {

constexpr uint16_t kHighWord = 65535;
constexpr uint16_t kLongWord = 65534;

// The length word (and escape byte) of s; returns the count of header bytes.
int header(String const& s, unsigned char* h, long& n) {
  if (s.isHighest()) {
    n = 0;
    stshort(kHighWord, h);
    return 2;
  }
  n = s.length();
  if (n >= kLongWord) {
    stshort(kLongWord, h);
    h[2] = static_cast<unsigned char>(n - kLongWord);
    return 3;
  }
  stshort(static_cast<int32_t>(n), h);
  return 2;
}

}  // namespace

int32_t stStringLength(String const& s) {
  unsigned char h[3];
  long n;
  return header(s, h, n) + static_cast<int32_t>(n);
}

bool stString(FILE* f, String const& s) {
  unsigned char h[3];
  long n;
  int hl = header(s, h, n);
  if (std::fwrite(h, 1, static_cast<size_t>(hl), f) != static_cast<size_t>(hl)) return false;
  if (n == 0) return true;
  return std::fwrite(toCharPtr(s), 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
}

String ldString(FILE* f) {
  unsigned char h[2];
  if (std::fread(h, 1, 2, f) != 2) return String();
  long n = ldushort(h);
  if (n == 0) return String();
  if (n == kHighWord) return String(reinterpret_cast<char const*>(1));
  if (n == kLongWord) {
    unsigned char x;
    if (std::fread(&x, 1, 1, f) != 1) return String();
    if (x > 1) {
      ldMarkBad(f);
      return String();
    }
    n += x;
  }
  String s;
  char* p = s.getBuffer(n);
  if (std::fread(p, 1, static_cast<size_t>(n), f) != static_cast<size_t>(n)) return String();
  return s;
}

void store(OutputStream& os, String const& s) {
  unsigned char h[3];
  long n;
  int hl = header(s, h, n);
  putBytes(os, h, hl);
  os.write(toCharPtr(s), n);
}

InputStream& load(InputStream& is, String& s) {
  s = String();
  uint16_t w;
  load(is, w);
  if (!is.ok()) return is;
  long n = w;
  if (n == 0) return is;
  if (n == kHighWord) {
    s = String(reinterpret_cast<char const*>(1));
    return is;
  }
  if (n == kLongWord) {
    char x = is.getc();
    if (!is.ok() || static_cast<unsigned char>(x) > 1) {
      is.addState(Stream::ErrorBit);
      return is;
    }
    n += static_cast<unsigned char>(x);
  }
  String t;
  char* p = t.getBuffer(n);
  for (long i = 0; i < n; ++i) {
    p[i] = is.getc();
    if (!is.ok()) {
      is.addState(Stream::ErrorBit);
      return is;
    }
  }
  s = t;
  return is;
}
