// Character classes and small utilities: the system's own 8-bit character
// class table (covering the national letters of the upper half), case
// mappings built on it, the national-letter/ASCII translation, overflow-
// checked 32-bit arithmetic, integer-to-text conversion, text search, the
// check-digit routine.
//
// The table is indexed by character + 1 (entry 0 is end of file), so every
// classifier accepts any unsigned char value and -1. Classification never
// consults the C library's locale.
#pragma once

#include <cstdint>

// Class bits of _zfx_ctype.
enum : unsigned char {
  ZFX_UPPER = 1,     // A-Z, 0xC0-0xDE (0xD7 excepted)
  ZFX_LOWER = 2,     // a-z, 0xDF-0xFF (0xF7 excepted)
  ZFX_DIGIT = 4,     // 0-9
  ZFX_SPACE = 8,     // blank, tab, newline, vertical tab, form feed, return
  ZFX_PUNCT = 16,    // printable non-alphanumerics of both halves
  ZFX_CNTRL = 32,    // 0x00-0x1F, 0x7F, 0x80-0x9F
  ZFX_BLANK = 64,    // the blank alone
  ZFX_XDIGIT = 128,  // 0-9, A-F, a-f
};

// 257 entries: [0] end of file, [c + 1] the classes of character c.
extern unsigned char const _zfx_ctype[257];

// The class bits of c (a char, an unsigned char value or -1).
inline unsigned charClass(int c) {
  if (c < -1 || c > 255) c = static_cast<unsigned char>(c);
  return _zfx_ctype[c + 1];
}
inline unsigned charClass(char c) { return _zfx_ctype[static_cast<unsigned char>(c) + 1]; }
template <class C> inline bool isUpperChar(C c) { return charClass(c) & ZFX_UPPER; }
template <class C> inline bool isLowerChar(C c) { return charClass(c) & ZFX_LOWER; }
template <class C> inline bool isAlphaChar(C c) { return charClass(c) & (ZFX_UPPER | ZFX_LOWER); }
template <class C> inline bool isDigitChar(C c) { return charClass(c) & ZFX_DIGIT; }
template <class C> inline bool isAlnumChar(C c) { return charClass(c) & (ZFX_UPPER | ZFX_LOWER | ZFX_DIGIT); }
template <class C> inline bool isSpaceChar(C c) { return charClass(c) & ZFX_SPACE; }
template <class C> inline bool isPunctChar(C c) { return charClass(c) & ZFX_PUNCT; }
template <class C> inline bool isCntrlChar(C c) { return charClass(c) & ZFX_CNTRL; }
template <class C> inline bool isBlankChar(C c) { return charClass(c) & ZFX_BLANK; }
template <class C> inline bool isXDigitChar(C c) { return charClass(c) & ZFX_XDIGIT; }

// --- characters ----------------------------------------------------------
// c - 32 when c is a lower-case letter by the table (0xDF and 0xFF, which
// have no upper-case partner in the table, stay), else c. Returns a value of
// the same kind as given: a char for a char, 0..255/-1 for an int.
int toUpperCase(int c);
char toUpperCase(char c);
// c + 32 when c is an upper-case letter by the table, else c.
int toLowerCase(int c);
char toLowerCase(char c);
// The value of c as a digit of a base up to 36 (0-9, then a-z or A-Z as
// 10-35); -1 for any other character. ASCII only, whatever the table says.
inline int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return -1;
}
// The value of c as a hexadecimal digit (0-9, a-f, A-F); -1 otherwise.
inline int hexDigitValue(char c) {
  int d = digitValue(c);
  return d < 16 ? d : -1;
}
// Compares n characters through toUpperCase; the difference of the first
// unequal pair (as unsigned chars), 0 when n <= 0 or all are equal.
int memCmpI(char const* a, char const* b, long n);

// National letter to plain ASCII: below 0xC0 unchanged, 0xC0-0xFF through
// the 64-byte table (the built-in one, or the first 64 bytes of
// "$ZEPHRA/data/$LANGUAGE/codetab.bin" when that file exists).
int zeph_toascii(int c);
// Back: below 0x80 unchanged, others through the reverse table.
int fromascii(int c);
// Translate a NUL-terminated text in place.
void StrToAscii(char* s);
void StrFromAscii(char* s);
// Forgets the loaded translation tables so that the next use reads the
// environment and "codetab.bin" again (for a changed ZEPHRA or LANGUAGE).
void resetAsciiTables();

// --- search ----------------------------------------------------------------
// The first occurrence of pattern in text, or nullptr (an empty text or an
// empty pattern finds nothing; null pointers find nothing).
char const* strStr(char const* text, char const* pattern);
// The last occurrence of pattern that begins at or after start and before
// end, or nullptr.
char const* strStrBackw(char const* start, char const* pattern, char const* end);

// --- 32-bit integers -----------------------------------------------------
// (The saturating arithmetic of day numbers and seconds is in Date.h.)
// Exchanges a and b.
void swap(int32_t& a, int32_t& b);
// The C library's atol (the 32-bit value).
int32_t toInt(char const* s);
// The text of value (taken as 32 bits) in a static buffer of 256 characters
// that the next call overwrites. base < 0: signed in base -base; base > 0:
// unsigned; digits "0123456789abcdef"; base outside 2..16 is taken as 10. In
// base 10 or -10 the null value -2147483648 gives "". |width| pads on the
// left: "0" when width < 0, blanks when width > 0.
char const* toCharPtr(long value, long width, long base);

// --- check digits ----------------------------------------------------------
// The check digit of n with the weights, modulus and method of "CHECKDIGIT"
// (weights[:modulus[:method]]; default 1397139713:10:0); -1 for a negative n
// or a result above 9.
extern "C" int32_t CheckDigit(int32_t n);
// Replaces the weights.
extern "C" void SetCheckFactor(int32_t weights);
// Reads "CHECKDIGIT" again at the next CheckDigit (for tests).
void TEST_resetCheckDigit();

