// CollateSet: a national collating sequence read from a text file.
//
// It maps each character of a text to its position in the sequence, so
// that byte comparison of mapped texts gives the national order, and maps
// positions back to characters. Letters written with two characters (a
// digraph that sorts as one letter) map to two bytes: the first character's
// position, then a code from the top of the byte range chosen by the second
// character's place in the first character's list.
//
// File: lines up to a newline; empty lines and lines starting with "#" are
// skipped; every other line holds TAB-separated fields, field 0 the letter
// (one or two characters). Lines define positions in order from 32; the
// control characters 0-31 and 0x80-0x9F take positions 0-63 (the first 32
// letters share positions 32-63 with the upper control characters).
//
// Character-to-position entries: 0 not in the file, k > 0 the position,
// -1 only a second character of a two-character letter, -k both a second
// character and a letter of its own at position k.
//
// A file that cannot be opened or is damaged (too many letters, a letter
// longer than two characters, more than 8 second characters for one first
// character) is reported through the display-error handler; reading stops
// there and ok() answers false; what was read before stays in force.
#pragma once

#include <cstdint>

#include <zfound/String.h>

// The second characters of the two-character letters that start with `ch`.
struct DoubleChar {
  static constexpr int kMax = 8;
  unsigned char ch;              // the first character
  uint8_t nch;                   // count of second characters (at most 8)
  unsigned char second[kMax];    // the second characters, in file order
  DoubleChar* next;              // the next first character's entry
};

class CollateSet {
public:
  // Reads the collating sequence of the file at `path`.
  explicit CollateSet(String const& path);
  // Copies own their list of two-character letters.
  CollateSet(CollateSet const& c);
  CollateSet& operator=(CollateSet const& c);
  ~CollateSet();

  // The base name of the file.
  String const& name() const { return name_; }
  // False when the file could not be opened or was damaged.
  bool ok() const { return ok_; }

  // Maps n characters of `in` to positions in `out` (n bytes).
  void map(char* out, char const* in, long n) const;
  String map(String const& s) const;
  // Maps n positions of `in` back to characters in `out` (n bytes).
  void unMap(char* out, char const* in, long n) const;
  String unMap(String const& s) const;

  // The position of character c (the character-to-position entry).
  int16_t position(unsigned char c) const { return charToPos[c]; }
  // The character at position p.
  unsigned char character(unsigned char p) const { return posToChar[p]; }
  // The number of two-character letters.
  uint8_t doubles() const { return ndouble; }

private:
  void read(String const& path);
  // Adds c2 to c1's list; false when the list is full.
  bool addDouble(unsigned char c1, unsigned char c2);
  DoubleChar const* listOf(unsigned char c) const;
  void freeList();
  void copyFrom(CollateSet const& c);

  String name_;                   // base name of the file
  unsigned char posToChar[256];   // position to character
  int16_t charToPos[256];         // character to position (see above)
  DoubleChar* list;               // one entry per first character
  uint8_t ndouble;                // count of two-character letters
  bool ok_;
};
