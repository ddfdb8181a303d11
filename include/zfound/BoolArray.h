// BoolArray: a fixed-size array of flags packed 32 to a word.
//
// Flag i is bit (i mod 32) of word i / 32. Storage holds
// ((dimension - 1) / 32) + 1 words and is null for dimension 0; the bits of
// the last word beyond the dimension are always clear. Indexed access goes
// through the selected index: arr[i] selects flag i and returns the array,
// which reads the flag through operator int() and writes it through
// operator=(int). Indexes outside 0..dim()-1 read as 0 and write nothing.
#pragma once

#include <cstdint>

class BoolArray {
public:
  // n flags (a negative n counts as 0), all clear; selected index 0.
  explicit BoolArray(long n = 0);
  // Copies the dimension, the selected index and the flags.
  BoolArray(BoolArray const& a);
  BoolArray& operator=(BoolArray const& a);
  ~BoolArray();

  // Selects flag i; returns the array itself.
  BoolArray& operator[](long i) {
    selected = i;
    return *this;
  }
  // The selected flag (non-zero when set); 0 outside the array.
  operator int() const;
  // Sets the selected flag when v is non-zero, clears it otherwise; nothing
  // outside the array. Returns v.
  int operator=(int v);

  // Changes the dimension (a negative n counts as 0), keeping the flags of
  // the common part and clearing the new ones. False (nothing changed) when
  // the storage cannot be had.
  bool realloc(long n);
  // Sets or clears every flag.
  void setAll(bool v);
  // True when some flag is set.
  bool any() const;
  // A copy of this array whose words shared with `a` (up to the smaller
  // dimension) are the AND of both; the rest keeps this array's flags.
  BoolArray operator&(BoolArray const& a) const;
  BoolArray& operator&=(BoolArray const& a);
  // True when some flag is set in both arrays within the smaller dimension.
  bool intersects(BoolArray const& a) const;
  // The number of flags.
  long dim() const { return dimension; }

private:
  static long wordsFor(long n) { return n <= 0 ? 0 : (n - 1) / 32 + 1; }
  // Clears the bits of the last word beyond the dimension.
  void trimTail();

  uint32_t* bits;   // words of 32 flags; null when the dimension is 0
  long dimension;   // number of flags, never negative
  long selected;    // the flag chosen by the last operator[]
};
