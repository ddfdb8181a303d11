// Edit masks: the layout of a field's text and the check of each position.
//
// A mask source (for example "3n-4n") compiles into an edit string and a
// check string. The edit string begins with its mode ("l", "L", "r", "R")
// and holds one item per position: a placeholder ("_" shown, "#" hidden, the
// character 1 for a check digit) or a literal; a backslash makes the next
// character literal. The check string holds one flag byte (never 0) for each
// placeholder position, in order; literal positions have none.
//
// Invariants: a compiled mask has at most kMaskMaxPositions positions, so its
// edit string fits kMaskEditSize bytes and its check string kMaskCheckSize
// bytes, NUL included. Every writer here is told the size of its output and
// never writes past it. Case is forced with the system's own case mapping.
#pragma once

#include <cstddef>
#include <cstdint>

// Check flags of one position.
enum : unsigned char {
  MASK_ANY = 1,        // any character
  MASK_ALPHA = 2,      // a letter
  MASK_DIGIT = 4,      // a decimal digit
  MASK_HEX = 8,        // a hexadecimal digit
  MASK_UPPER = 16,     // force upper case
  MASK_LOWER = 32,     // force lower case
  MASK_REQUIRED = 64,  // a blank is refused
  MASK_CHECK = 128,    // check digit
};

// Most positions of a mask, and the buffer sizes that hold a compiled one:
// the mode, every position escaped, the NUL; one byte a position and the NUL.
inline constexpr int kMaskMaxPositions = 511;
inline constexpr size_t kMaskEditSize = 1 + 2 * kMaskMaxPositions + 1;
inline constexpr size_t kMaskCheckSize = kMaskMaxPositions + 1;

// The character that begins a compiled mask held in a String, and separates
// its edit string from its check string: 1, edit, 1, checks.
inline constexpr char kMaskMarker = '\1';

// Compiles `source` into `edit` (kMaskEditSize bytes, beginning with mode
// "l", or "L" when the mask ends in a check digit) and `checks`
// (kMaskCheckSize bytes). Returns 0, or -1 when an attribute is invalid, a
// check digit is not last or carries a count, or the mask exceeds 511
// positions (the outputs are then empty).
int compileMask(char const* source, char* checks, char* edit);

// The number of positions of `source`, or -1 when it is invalid or has 512
// positions or more.
int sizeOfMask(char const* source);

// Lays `value` into the edit string `edit` and writes the result, NUL-ended,
// into `out` of `outSize` bytes (a longer result is cut). Returns the number
// of characters written.
//  Left modes ("l", "L", or no mode letter): each placeholder takes the next
//  value character (1 becomes a blank; "#" shows "#"), a blank when the value
//  is used up; literals are copied; mode "l" stops once the value is used up.
//  Right modes ("r", "R"): the output has the mask's width and is filled from
//  its end with the value's last characters; only "_" is a placeholder;
//  literals are copied while value characters remain (always in "R"), else
//  blanks.
size_t processMask(char* out, size_t outSize, char const* edit, char const* value);

// Checks one character against its flags; returns the character to keep
// (case forced as asked) or 0 when it is refused. `whole` is the text before
// the position: its decimal digits form the number whose check digit a
// MASK_CHECK position must hold.
char TstChrMask(char c, char flags, char const* whole);

// True when every check byte, apart from the required bit, is "digit".
bool MaskIsNum(char const* checks);

// Splits a compiled mask as kept in a String (1, edit, 1, checks, without
// the leading 1: `body` starts at the edit string) into the edit string's
// length and the start of the check string. False when it is not sound.
bool splitCompiledMask(char const* body, size_t bodyLen, size_t* editLen, char const** checks);
