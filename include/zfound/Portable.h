// Portable binary load and store: every integer the system puts into a file,
// a key or a header is stored most significant byte first, so stored data
// does not depend on the machine.
//
// Three settings of the forms, and which are byte-sortable (bytes compared
// unsigned order the values as the type orders them):
//
//   value     memory buffer             FILE stream       system stream     sortable
//   int32_t   stlong/ldlong (plain)     stInt/ldInt       store/load        none
//             stInt/ldInt, stSortKey/   (plain, NOT the                     the memory stInt
//             ldSortKey (top bit        memory stInt                        and stSortKey
//             inverted)                 form)
//   int16_t   stshort/ldshort           stShort/ldShort   store/load        none
//   byte      -                         stByte/ldByte ..  -                 -
//   bool      -                         stBool/ldBool     store/load        -
//   double    stdbl/lddbl (host order)  -                 store/load        none
//   String    String::store (String.h)  stString          store/load        none
//   Num       Num natural and packed    stNum (16 bytes)  store/load        memory forms only
//             forms (Num.h)
//   Date,     Date/Time::store(char*&)  Date/Time::store  Date/Time::store  memory form only
//   Time      (value + 0x80000000)      (FILE*): plain    (stream): plain
//   Boolean   Boolean::store (plain)    -                 -                 none (null FF..)
//
// One name writes two forms: stInt on a memory pointer writes the sortable
// form, stInt on a FILE the plain big-endian one (-1 is 7F FF FF FF in memory
// and FF FF FF FF on a FILE). Both stay as stored files rely on them; new
// code that builds keys uses stSortKey/ldSortKey, which say what they are.
//
// Widths are fixed: a stored "long" is exactly 4 bytes (int32_t), a short 2.
// A double is kept in the machine's own memory order (not byte-swapped).
//
// String form on a FILE or stream: a 16-bit length word, most significant byte
// first, then the characters without a terminator. Length 0 is the null
// string; 65535 alone is the highest-value string; 1..65533 are that many
// characters. The two longest texts share the word 65534 as an escape: it is
// followed by one byte holding (length - 65534), 0 or 1, and then the
// characters. A 2-byte word has room for only 65536 codes, which null,
// highest and 65535 text lengths would overflow by one; this keeps the
// forms of null, highest and every text up to 65533 characters unchanged and
// lets a 65535-character text reload as itself instead of as highest.
//
// Loads check what they read. On a FILE a short read leaves stdio's
// end-of-file or error indicator set, and content that cannot be a stored
// value (a Num digit out of range) sets the error indicator; ldFailed(f)
// tells either. The loaded value is then 0, the null String or the null Num,
// never partial bytes. On a stream a value cut short by the end of input sets
// the stream's error bit (a clean end before the first byte sets only the
// end-of-file bit); the value is again 0 or null.
#pragma once

#include <cstdint>
#include <cstdio>

class String;
class Num;
class InputStream;
class OutputStream;

// ---- memory forms ----------------------------------------------------------

// Writes the 4 bytes of v at p, most significant first.
inline void stlong(int32_t v, void* p) {
  unsigned char* b = static_cast<unsigned char*>(p);
  uint32_t u = static_cast<uint32_t>(v);
  b[0] = static_cast<unsigned char>(u >> 24);
  b[1] = static_cast<unsigned char>(u >> 16);
  b[2] = static_cast<unsigned char>(u >> 8);
  b[3] = static_cast<unsigned char>(u);
}
// Reads 4 bytes at p, most significant first.
inline int32_t ldlong(void const* p) {
  unsigned char const* b = static_cast<unsigned char const*>(p);
  return static_cast<int32_t>((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) |
                              (uint32_t(b[2]) << 8) | uint32_t(b[3]));
}
// Writes the 2 bytes of v at p, most significant first.
inline void stshort(int32_t v, void* p) {
  unsigned char* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>((static_cast<uint32_t>(v) >> 8) & 0xff);
  b[1] = static_cast<unsigned char>(static_cast<uint32_t>(v) & 0xff);
}
// Reads 2 bytes at p as a signed 16-bit value.
inline int16_t ldshort(void const* p) {
  unsigned char const* b = static_cast<unsigned char const*>(p);
  return static_cast<int16_t>((uint16_t(b[0]) << 8) | uint16_t(b[1]));
}
// Reads 2 bytes at p as an unsigned 16-bit value.
inline uint16_t ldushort(void const* p) {
  unsigned char const* b = static_cast<unsigned char const*>(p);
  return static_cast<uint16_t>((uint16_t(b[0]) << 8) | uint16_t(b[1]));
}

// Little-endian forms, for files whose format fixes that byte order (the
// local library's schema descriptors and privilege arrays).
inline void stLe32(uint32_t v, void* p) {
  unsigned char* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline uint32_t ldLe32(void const* p) {
  unsigned char const* b = static_cast<unsigned char const*>(p);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
inline void stLe16(uint32_t v, void* p) {
  unsigned char* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}
inline uint16_t ldLe16(void const* p) {
  unsigned char const* b = static_cast<unsigned char const*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

// The sortable form: stlong with the top bit of byte 0 inverted, so that the
// bytes compared unsigned order the values as signed numbers. p (a pointer to
// char or unsigned char) advances by 4.
template <class B>
  requires(sizeof(B) == 1)
inline void stInt(int32_t v, B*& p) {
  stlong(static_cast<int32_t>(static_cast<uint32_t>(v) ^ 0x80000000u), p);
  p += 4;
}
// Reads the sortable form and advances p by 4.
template <class B>
  requires(sizeof(B) == 1)
inline int32_t ldInt(B*& p) {
  int32_t v = static_cast<int32_t>(static_cast<uint32_t>(ldlong(p)) ^ 0x80000000u);
  p += 4;
  return v;
}

// The sortable key form of a 32-bit integer (the memory stInt form): for
// building keys, whose bytes must sort as the values do. p advances by 4.
template <class B>
  requires(sizeof(B) == 1)
inline void stSortKey(int32_t v, B*& p) {
  stInt(v, p);
}
// Reads the sortable key form and advances p by 4.
template <class B>
  requires(sizeof(B) == 1)
inline int32_t ldSortKey(B*& p) {
  return ldInt(p);
}

// Copies the 8 bytes of a double to p in memory order.
void stdbl(double v, void* p);
// Copies 8 bytes at p into a double in memory order.
double lddbl(void const* p);

// ---- FILE forms --------------------------------------------------------------
// Each st* returns true when every byte was written; a failed write also leaves
// the FILE's error indicator set.

bool stShort(FILE* f, int16_t v);
bool stUnShort(FILE* f, uint16_t v);
// 2 bytes as a signed value; 0 on a short read.
int16_t ldShort(FILE* f);
// 2 bytes as an unsigned value; 0 on a short read.
uint16_t ldUnShort(FILE* f);

// 4 bytes of v, most significant first: the plain form, NOT the sortable
// form that stInt writes into memory (see the table above).
bool stInt(FILE* f, int32_t v);
// 4 bytes, most significant first; 0 on a short read.
int32_t ldInt(FILE* f);

bool stChar(FILE* f, signed char c);
bool stByte(FILE* f, signed char c);
bool stUnByte(FILE* f, unsigned char c);
// One byte; 0 on a short read.
signed char ldChar(FILE* f);
signed char ldByte(FILE* f);
unsigned char ldUnByte(FILE* f);

// The value's byte (0 false, 1 true).
bool stBool(FILE* f, bool v);
// True when the byte read is not 0; false on a short read.
bool ldBool(FILE* f);

// The String form described at the top of this file.
bool stString(FILE* f, String const& s);
// Reads the String form; the null String on a short read.
String ldString(FILE* f);
// Bytes that stString writes for s: 2 for null and highest, 2 + length up to
// 65533 characters, 3 + length for 65534 and 65535.
int32_t stStringLength(String const& s);

// Num as 16 bytes: seven 16-bit base-10,000 digit words (most significant
// byte first, in the order Num holds them), the exponent byte, the count byte.
bool stNum(FILE* f, Num const& n);
// Reads the 16-byte form. A short read or a digit word, exponent or count
// outside the ranges a Num can hold yields the null Num and sets the error
// indicator (ldFailed).
Num ldNum(FILE* f);

// True when a load on f came up short or read impossible content (stdio's
// end-of-file or error indicator is set). clearerr(f) resets it.
bool ldFailed(FILE* f);

// ---- stream forms (each byte through the stream's byte operators) ----------

void store(OutputStream& os, int16_t v);
void store(OutputStream& os, uint16_t v);
void store(OutputStream& os, int32_t v);
void store(OutputStream& os, uint32_t v);
void store(OutputStream& os, double const& v);
void store(OutputStream& os, bool v);
// The String form described at the top of this file.
void store(OutputStream& os, String const& s);
// The 16-byte Num form of stNum.
void store(OutputStream& os, Num const& n);

// Each load assembles the bytes most significant first (doubles in memory
// order) and returns the stream for chaining; see the top of this file for
// what a cut-short value gives.
InputStream& load(InputStream& is, int16_t& v);
InputStream& load(InputStream& is, uint16_t& v);
InputStream& load(InputStream& is, int32_t& v);
InputStream& load(InputStream& is, uint32_t& v);
InputStream& load(InputStream& is, double& v);
InputStream& load(InputStream& is, bool& v);
InputStream& load(InputStream& is, String& s);
InputStream& load(InputStream& is, Num& n);
