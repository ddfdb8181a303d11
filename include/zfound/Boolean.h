// Boolean: the logical value of record fields and of the expression
// language: true, false or null.
//
// Invariants:
//  - The value is 1 (true), 0 (false) or -1 (null); the default is null.
//  - Order is null < false < true.
//  - The 4-byte stored form is the value big-endian (null FF FF FF FF);
//    loading gives null for any negative word, false for 0 and true for
//    any other, so a stored null reloads as null. This form does not sort
//    byte-wise (null's bytes come last); keys that need order compare
//    loaded values.
//  - The mask form writes into a static buffer of 256 bytes and never past
//    it.
#pragma once

#include <cstdint>

class String;
class Num;
class Connection;

class Boolean {
public:
  static constexpr int32_t kNull = -1;

  // Null.
  Boolean() : value_(kNull) {}
  // Negative: null; else v != 0.
  Boolean(int v) : value_(v < 0 ? kNull : v != 0 ? 1 : 0) {}
  Boolean(bool v) : value_(v ? 1 : 0) {}
  // Null or empty: null; else the decimal number of the text: negative
  // null, else != 0.
  explicit Boolean(char const* s);

  // 1, 0 or -1.
  int32_t value() const { return value_; }
  bool isNull() const { return value_ == kNull; }
  // True only for true.
  explicit operator bool() const { return value_ == 1; }
  // True for false and for null.
  bool operator!() const { return value_ != 1; }
  static int32_t storeLength() { return 4; }

  // The mask holds three texts separated by newlines: for true, for false,
  // for null; a missing part is the empty text. An empty or null mask takes
  // the library message "BOOLMASK".
  char const* format(char const* mask) const;
  char const* format(String const& mask) const;

  // 4 bytes big-endian of the value; pos moves past them.
  void store(char*& pos) const;
  Boolean& load(char const*& pos);

  friend Boolean toBoolean(int32_t v);

private:
  int32_t value_;
};

// 0 false, positive true, negative null.
inline Boolean toBoolean(int32_t v) {
  Boolean b;
  b.value_ = v < 0 ? Boolean::kNull : v > 0 ? 1 : 0;
  return b;
}
// toBoolean of the number's integer value.
Boolean toBoolean(Num const& n);

inline bool operator==(Boolean a, Boolean b) { return a.value() == b.value(); }
inline bool operator!=(Boolean a, Boolean b) { return a.value() != b.value(); }
inline bool operator<(Boolean a, Boolean b) { return a.value() < b.value(); }
inline bool operator<=(Boolean a, Boolean b) { return a.value() <= b.value(); }
inline bool operator>(Boolean a, Boolean b) { return a.value() > b.value(); }
inline bool operator>=(Boolean a, Boolean b) { return a.value() >= b.value(); }

// A null pointer for null, else "0" or "1".
char const* toCharPtr(Boolean b);

// One word on a connection: the value (-1 null); a received negative word
// is null, 0 false, any other true.
Connection& operator<<(Connection& c, Boolean const& b);
Connection& operator>>(Connection& c, Boolean& b);
