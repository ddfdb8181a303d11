// SubString: a slice of a String that reads as a value and can be replaced in
// place; StrCursor: walks the fields of a text separated by a separator text.
//
// A SubString keeps its owner's address and a 16-bit start and length; the
// length 65535 means "to the end". Positions that do not fit 16 bits give
// the empty slice at 0 without an owner (never a wrapped position): it reads
// as null and writing it changes nothing. A StrCursor keeps its own
// copies of the text and the separator, the position of the current field
// (-1 past either end) and its length (-1 while unknown).
#pragma once

#include <cstdint>

#include <zfound/String.h>

class SubString {
public:
  // The slice [from, from+len) of *s; from or len outside 0..65535 (a negative
  // len included) gives the empty slice at 0 without an owner, which reads as
  // null and ignores writes; len 65535 means to the end.
  SubString(String const* s, long from, long len);
  // Field n of *s separated by sep (see make); a null or highest s, or a null,
  // empty or highest separator gives the empty slice at 0.
  SubString(String const* s, String const& sep, long n);
  SubString(String const* s, char const* sep, long n);

  // Replaces the slice in its owner by v: owner highest: unchanged; v highest:
  // owner highest; a slice within the owner: before + v + after; else the
  // owner's characters before the start (padded with blanks up to it) + v.
  SubString& operator=(String const& v);
  SubString& operator=(char const* v) { return *this = String(v); }

  // Copying and assigning a SubString copies the three fields.
  SubString(SubString const&) = default;
  SubString& operator=(SubString const&) = default;

  // Start and length of the slice (length 65535 = to the end of the owner).
  long start() const { return from_; }
  long len() const { return len_; }
  // The owner (null for a slice whose positions did not fit).
  String const* owner() const { return str_; }

private:
  friend class String;
  // Sets the slice to field n of s: negative n counts from the end; a missing
  // or empty field is the empty slice at the end of s.
  void make(String const& s, char const* sep, uint16_t seplen, long n);

  String const* str_;
  uint16_t from_;
  uint16_t len_;
};

class StrCursor {
public:
  // A cursor over the fields of text separated by sep (a tab by default):
  // at the first field when sep is a text, else past the end.
  StrCursor(String const& text, String const& sep);
  explicit StrCursor(String const& text);
  StrCursor(StrCursor const&) = default;
  StrCursor& operator=(StrCursor const&) = default;

  // Back to the first field.
  void reStart();
  // True while the cursor is on a field.
  bool ok() const { return pos_ != -1; }
  operator void*() const { return ok() ? const_cast<StrCursor*>(this) : nullptr; }
  // The current field (null past the end; the whole text when it is null or
  // highest).
  String value();
  operator String() { return value(); }
  // To the next field; past the end the cursor is no longer ok().
  StrCursor& operator++();
  // To the previous field; before the first the cursor is no longer ok().
  StrCursor& operator--();

private:
  long fieldLen();   // length of the current field (computed once)

  String str_;
  String sep_;
  int32_t len_;      // length of the current field, -1 while unknown
  int32_t pos_;      // position of the current field, -1 past either end
};
