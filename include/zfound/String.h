// String: the text value of the whole system.
//
// A String is one pointer wide. The pointer is 0 for the null string (which
// is also the empty string), the sentinel 1 for the highest string (sorts
// above every other text, length 2147483647), or the address of a shared,
// counted block laid out as {uint16_t refcount, uint16_t length, characters,
// NUL}. Copies share the block; writers copy it first when it is shared.
//
// Invariants kept by every operation:
//  - a text block has length 1..65535 and a NUL after the last character;
//  - no operation produces a length beyond 65535: concatenation, insertion
//    and repetition that would pass it stop at 65535 characters (saturate),
//    and no copy moves more bytes than the source block holds;
//  - a reference count never wraps: a block whose count reached 65535 is
//    copied instead of shared;
//  - an empty result is always null, never a block of length 0.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

class SubString;

class String {
public:
  // The shared block: reference count, length, then the characters and a NUL.
  struct srep {
    uint16_t refs;   // holders of this block (1..65535)
    uint16_t len_;   // characters in use (1..65535)
    // The character area that follows the two counts.
    char* s() { return reinterpret_cast<char*>(this + 1); }
    char const* s() const { return reinterpret_cast<char const*>(this + 1); }
    long len() const { return len_; }
  };

  // Largest length of a text; the highest string reports kHighLength.
  static constexpr long kMaxLength = 65535;
  static constexpr long kHighLength = 2147483647;

  // --- construction and assignment -------------------------------------
  // The null string.
  String() : p(nullptr) {}
  // s null, s empty or len 0: null; s == (char const*)1 or len 2147483647:
  // highest; len -1: strlen(s); else len characters, the first
  // min(len, strlen(s)) taken from s and blanks after them (len above 65535
  // is cut to 65535).
  String(char const* s, long len = -1);
  // len bytes taken as they are (NULs included); len 0 or a null/sentinel
  // pointer: null; len 2147483647: highest.
  String(long len, char const* bytes);
  // n copies of c; n below 1: null; n of 65535 or more: highest.
  String(long n, char c);
  // s itself (shared) when s is a text of exactly len characters; len 0: null;
  // else len characters: s's first min(len, length) and blanks after them.
  String(String const& s, long len);
  // The text of a slice (see SubString).
  String(SubString const& sub);
  // Shares s's block.
  String(String const& s);
  // Takes s's value; s becomes null.
  String(String&& s) noexcept : p(s.p) { s.p = nullptr; }
  ~String();

  // As the constructor with len -1.
  String& operator=(char const* s);
  // A one-character string (NUL gives null).
  String& operator=(char c);
  // Shares s's block (assignment to itself does nothing).
  String& operator=(String const& s);
  String& operator=(String&& s) noexcept;

  // Lets go of the value and gives a writable area of n characters, kept
  // NUL-terminated at n: the block is reused when held once and in the same
  // 16-character capacity class; n 2147483647 makes the highest string and
  // returns (char*)1; n 0 (or below) makes null and returns nullptr; n above
  // 65535 is cut to 65535.
  char* getBuffer(long n);

  // --- access and tests -------------------------------------------------
  // 0 for null, 2147483647 for highest, else the stored length.
  long length() const;
  // True for null only.
  bool isNull() const { return p == nullptr; }
  // True for highest only.
  bool isHighest() const { return p == highRep(); }
  // True for null and highest.
  bool operator!() const { return p == nullptr || p == highRep(); }
  // True for a text.
  explicit operator bool() const { return !(p == nullptr || p == highRep()); }
  // The character at i; 0 for null, highest, a negative i or i past the end.
  char operator[](long i) const;
  // The characters ("" for null, (char const*)1 for highest).
  friend char const* toCharPtr(String const& s);
  // Bytes of the stored form: length + 4.
  long storeLength() const;
  static long storeLength(long n) { return n + 4; }

  // A NUL-terminated view of [from, from+len) without copying: (char*)1 for
  // highest, "" for null or from past the end, the characters from `from`
  // unchanged when from+len lies past the end; else saves the character at
  // from+len in the terminator place, puts a NUL at from+len and returns the
  // characters from `from`. A shared block is first made this string's own.
  char const* disect(long from, long len);
  // Undoes disect(from, len).
  void restore(long from, long len);

  // --- comparison ------------------------------------------------------
  // null < every text < highest; texts byte-wise (strcmp). "" is null.
  friend int cmp(String const& a, String const& b);
  friend int cmp(String const& a, char const* b);
  // As cmp, case-insensitive (strcasecmp).
  friend int icmp(String const& a, String const& b);
  friend int icmp(String const& a, char const* b);

  // --- concatenation ---------------------------------------------------
  // Appends s (null this: shares s; s highest: this highest; s null or this
  // highest: unchanged). Stops at 65535 characters.
  String& operator+=(String const& s);
  // As above with a character string ((char const*)1 is highest).
  String& operator+=(char const* s);
  // Appends c (null this: the one character; highest: unchanged; at 65535
  // characters: unchanged).
  String& operator+=(char c);

  // --- search and counting ----------------------------------------------
  // Occurrences of c from `from`; -1 for null, highest, from past the end.
  long count(char c, long from = 0) const;
  // First position of c at or after `from`, or -1.
  long index(char c, long from = 0) const;
  // Last position of c at or before min(from, length-1), or -1.
  long backIndex(char c, long from = kHighLength) const;
  // True when p equals this string's first length(p) characters.
  bool startsWith(String const& p) const;
  // Field n (0-based, negative from the end) separated by sep.
  SubString field(long n, String const& sep);
  SubString field(long n, char const* sep);
  const SubString field(long n, String const& sep) const;
  const SubString field(long n, char const* sep) const;
  // The slice from `from` to the end, or of len characters.
  SubString operator()(long from);
  SubString operator()(long from, long len);
  const SubString operator()(long from) const;
  const SubString operator()(long from, long len) const;

  // --- case and character sets (new values; null/highest unchanged) ----
  String toUpper() const;
  String toLower() const;
  // National letters to plain ASCII and back (see CharClass.h).
  String toAscii() const;
  String fromAscii() const;

  // --- paths -----------------------------------------------------------
  // The last "/"-field: "d.tar.gz" of "/a/b.c/d.tar.gz".
  String baseFullName() const;
  // baseFullName up to its first ".": "d".
  String baseName() const;
  // The last "."-field when the last "/"-field holds a ".", else null: "gz".
  String extName() const;
  // The text before the last "/"; null without one or when it is the first
  // character: "/a/b.c".
  String pathName() const;

  // --- trims and reshaping (in place; null and highest unchanged) ------
  String& rTrim();
  String& lTrim();
  String& fullTrim();
  // fullTrim, then every white-space run becomes one blank.
  String& prune();
  // Pads with blanks on both sides to `width` (p/2 left, the rest right).
  String& center(int width);
  String& reverse();
  // Puts c at pos (blanks from the old end up to pos); false for highest or
  // pos outside 0..65534.
  bool setChar(char c, long pos);
  // Removes the character at pos; false for null, highest, pos outside.
  bool delChar(long pos);
  // Inserts c before pos (pos within the text), else setChar(c, pos); false
  // for highest or when the text is already 65535 characters long.
  bool insChar(char c, long pos);
  // Removes every occurrence of s.
  String& operator-=(String const& s);
  // A copy with every occurrence of `from` (left to right, not overlapping)
  // replaced by `to`; a null or highest `from` changes nothing.
  String replace(String const& from, String const& to) const;

  // --- escapes (in place; null and highest unchanged) ------------------
  // Control characters, backslash and quotes to backslash escapes.
  String& encode();
  // Backslash escapes, "^X" control escapes and numeric escapes back to
  // characters; a numeric value of 0 becomes 31.
  String& decode();
  // Escapes of a typed regular expression (implemented with RegExp).
  String& decodeRegExp();

  // --- argument replacement and masks ---------------------------------
  // "#d" by args[d] (d < nargs, else nothing), "##" by "#", "#x" by "x";
  // null and highest give null.
  String replaceArgs(String const* args, long nargs = 10) const;
  // Compiles this edit mask in place; an invalid mask gives null.
  // (Implemented with the edit masks, EditMask.h.)
  String& compileMask();
  // This string laid out through an edit mask (compiled first unless its
  // first character is 1). (Implemented with the edit masks, EditMask.h.)
  String format(String mask) const;

  // --- environment -----------------------------------------------------
  // The value of the environment variable named by this string (readEnvVar,
  // with the built-in defaults); null and highest unchanged.
  String getEnv() const;
  // Puts this "name=value" text into the environment (putEnvVar).
  void putEnv() const;

  // --- stored form in a memory buffer (implemented with Num stored forms) --
  // Reads a 4-byte big-endian length (0 null, 2147483647 highest) and that
  // many bytes at pos; pos moves past them.
  String& load(char const*& pos);
  // Writes the same form at pos; pos moves past it.
  void store(char*& pos) const;

  // The representation pointer (for code that keeps Strings in raw storage).
  srep* rep() const { return p; }

private:
  friend class SubString;
  static srep* highRep() { return reinterpret_cast<srep*>(uintptr_t(1)); }
  static srep* newRep(long n);           // count 1, length n, NUL at n
  static void release(srep* r);          // drops one holder
  static srep* share(srep* r);           // one more holder (or a copy at 65535)
  // Copy on write: makes room for n characters in a block held once.
  void realloc(long n);
  // Sets the length of an own block and the NUL after it (0 makes null).
  void setLen(long n);
  // Appends n bytes (saturates at 65535).
  void append(char const* s, long n);

  srep* p;
};

// Relational operators, all on cmp.
inline bool operator==(String const& a, String const& b) { return cmp(a, b) == 0; }
inline bool operator==(String const& a, char const* b) { return cmp(a, b) == 0; }
inline bool operator<(String const& a, String const& b) { return cmp(a, b) < 0; }
inline bool operator<(String const& a, char const* b) { return cmp(a, b) < 0; }
inline bool operator>(String const& a, String const& b) { return cmp(a, b) > 0; }
inline bool operator>(String const& a, char const* b) { return cmp(a, b) > 0; }
inline bool operator<=(String const& a, String const& b) { return cmp(a, b) <= 0; }
inline bool operator<=(String const& a, char const* b) { return cmp(a, b) <= 0; }
inline bool operator>=(String const& a, String const& b) { return cmp(a, b) >= 0; }
inline bool operator>=(String const& a, char const* b) { return cmp(a, b) >= 0; }

// A copy of a with b appended.
String operator+(String const& a, String const& b);
String operator+(String const& a, char const* b);

// Given the address of a String: its characters; "" for null and
// "(high value)" for highest. For use from a debugger.
char const* debugString(long addr);

// Text to integer: null gives -2147483648, highest 2147483647; leading white
// space skipped; "-" negates; base 0 reads 0x.. as hexadecimal, 0.. as octal,
// else decimal; digits below the base until the first other character;
// 32-bit arithmetic without overflow check.
int32_t toInt(String const& s, long base);
// toCharPtr(value, width, base) as a String (see CharClass.h).
String toString(long value, long width = 0, long base = -10);

// The formatting engine with a sink that appends to a String. The argument
// list is that of the engine's format language. (Implemented with the
// formatting engine.)
String doFormat(char const* fmt, ...);
String doFormat(String fmt, ...);
// The same over an argument list the caller has started with va_start.
String toStr(char const* fmt, va_list args);
String toStr(String const& fmt, va_list args);

// h = h*31 + c (c a signed char) in unsigned 32 bits, then h mod size; null
// hashes as 0, highest as 1 mod size; size below 1 gives 0.
long hashVal(String const& s, long size);

#include <zfound/SubString.h>
