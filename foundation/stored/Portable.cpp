// The portable forms of integers, bytes, booleans and doubles in memory, on
// C-library FILE streams and on the system's streams.
//
// Every FILE load reads its bytes with one fread and checks the count: a
// short read returns 0 (stdio has set its end-of-file or error indicator, which
// ldFailed reports). Stream loads cut short by the end of input return 0 and
// set the stream's error bit when part of the value had been read.
#include <zfound/Portable.h>
#include <zfound/Stream.h>

#include <cstring>

#include "PortableMark.h"

void stdbl(double v, void* p) { std::memcpy(p, &v, sizeof v); }

double lddbl(void const* p) {
  double v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// ---- FILE forms ----------------------------------------------------------------

bool putBytes(FILE* f, unsigned char const* b, size_t n) { return std::fwrite(b, 1, n, f) == n; }

bool getBytes(FILE* f, unsigned char* b, size_t n) {
  if (std::fread(b, 1, n, f) == n) return true;
  std::memset(b, 0, n);
  return false;
}

bool stShort(FILE* f, int16_t v) {
  unsigned char b[2];
  stshort(v, b);
  return putBytes(f, b, 2);
}

bool stUnShort(FILE* f, uint16_t v) {
  unsigned char b[2];
  stshort(v, b);
  return putBytes(f, b, 2);
}

int16_t ldShort(FILE* f) {
  unsigned char b[2];
  getBytes(f, b, 2);
  return ldshort(b);
}

uint16_t ldUnShort(FILE* f) {
  unsigned char b[2];
  getBytes(f, b, 2);
  return ldushort(b);
}

bool stInt(FILE* f, int32_t v) {
  unsigned char b[4];
  stlong(v, b);
  return putBytes(f, b, 4);
}

int32_t ldInt(FILE* f) {
  unsigned char b[4];
  getBytes(f, b, 4);
  return ldlong(b);
}

bool stChar(FILE* f, signed char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return putBytes(f, &b, 1);
}
bool stByte(FILE* f, signed char c) { return stChar(f, c); }
bool stUnByte(FILE* f, unsigned char c) { return putBytes(f, &c, 1); }

signed char ldChar(FILE* f) {
  unsigned char b;
  getBytes(f, &b, 1);
  return static_cast<signed char>(b);
}
signed char ldByte(FILE* f) { return ldChar(f); }
unsigned char ldUnByte(FILE* f) {
  unsigned char b;
  getBytes(f, &b, 1);
  return b;
}

bool stBool(FILE* f, bool v) { return stUnByte(f, v ? 1 : 0); }
bool ldBool(FILE* f) { return ldUnByte(f) != 0; }

bool ldFailed(FILE* f) { return std::feof(f) || std::ferror(f); }

// ---- stream forms --------------------------------------------------------------

bool getBytes(InputStream& is, unsigned char* b, int n) {
  int got = 0;
  for (; got < n; ++got) {
    b[got] = static_cast<unsigned char>(is.getc());
    if (!is.ok()) break;
  }
  if (got == n) return true;
  if (got > 0) is.addState(Stream::ErrorBit);
  std::memset(b, 0, static_cast<size_t>(n));
  return false;
}

void putBytes(OutputStream& os, unsigned char const* b, int n) {
  os.write(reinterpret_cast<char const*>(b), n);
}

void store(OutputStream& os, int16_t v) {
  unsigned char b[2];
  stshort(v, b);
  putBytes(os, b, 2);
}
void store(OutputStream& os, uint16_t v) {
  unsigned char b[2];
  stshort(v, b);
  putBytes(os, b, 2);
}
void store(OutputStream& os, int32_t v) {
  unsigned char b[4];
  stlong(v, b);
  putBytes(os, b, 4);
}
void store(OutputStream& os, uint32_t v) { store(os, static_cast<int32_t>(v)); }
void store(OutputStream& os, double const& v) {
  unsigned char b[8];
  stdbl(v, b);
  putBytes(os, b, 8);
}
void store(OutputStream& os, bool v) { os.put(v ? 1 : 0); }

InputStream& load(InputStream& is, int16_t& v) {
  unsigned char b[2];
  getBytes(is, b, 2);
  v = ldshort(b);
  return is;
}
InputStream& load(InputStream& is, uint16_t& v) {
  unsigned char b[2];
  getBytes(is, b, 2);
  v = ldushort(b);
  return is;
}
InputStream& load(InputStream& is, int32_t& v) {
  unsigned char b[4];
  getBytes(is, b, 4);
  v = ldlong(b);
  return is;
}
InputStream& load(InputStream& is, uint32_t& v) {
  unsigned char b[4];
  getBytes(is, b, 4);
  v = static_cast<uint32_t>(ldlong(b));
  return is;
}
InputStream& load(InputStream& is, double& v) {
  unsigned char b[8];
  if (getBytes(is, b, 8))
    v = lddbl(b);
  else
    v = 0.0;
  return is;
}
InputStream& load(InputStream& is, bool& v) {
  unsigned char b[1];
  getBytes(is, b, 1);
  v = b[0] != 0;
  return is;
}

// Sets stdio's error indicator of f for content that cannot be a stored value.
void ldMarkBad(FILE* f) {
#ifdef _IO_ERR_SEEN
  f->_flags |= _IO_ERR_SEEN;
#else
  // Without access to the indicator, reading past the end sets end of file.
  std::fseek(f, 0, SEEK_END);
  std::fgetc(f);
#endif
}
