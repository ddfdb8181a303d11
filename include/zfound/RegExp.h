// Regular expressions in the classic line-editor syntax, compiled into a
// compact byte program and run by a backtracking matcher; and the same syntax
// read as a file-name pattern (file-pattern mode: '?' one character, '*' any
// run, '.', '^' and '$' themselves, always anchored).
//
// Invariants: the program is null exactly when the pattern is null or did not
// compile (error() tells why); match positions refer to the copy of the text
// last searched, so expand() follows a successful search on the same object.
// Repetitions without an upper bound match runs of any length a String holds.
// Without back-references a search remembers which (repetition, position)
// pairs failed, so its time is polynomial in the text; with them a search
// ends as a failure (ErrTooComplex) after kMaxSteps steps.
#pragma once

#include <zfound/String.h>

#include <cstdint>
#include <vector>

class RegExp {
public:
  // Compilation error codes.
  enum : int32_t {
    ErrCountTooBig = 11, ErrCountDigit = 16, ErrGroupOpen = 25, ErrBackslashNewline = 36, ErrEmpty = 41,
    ErrUnbalanced = 42, ErrTooManyGroups = 43, ErrTooManyCounts = 44, ErrCountNotClosed = 45,
    ErrCountOrder = 46, ErrClassNotClosed = 49, ErrTooLong = 50,
    // Set by a search (not by compiling): a pattern with back-references
    // needed more than kMaxSteps steps; the search failed. The next search
    // clears it.
    ErrTooComplex = 51
  };
  // Matching steps a search with back-references may take.
  static constexpr int64_t kMaxSteps = 1000000;

  explicit RegExp(bool filePattern = false);
  RegExp(String const& pattern, bool filePattern = false);
  RegExp(char const* pattern, bool filePattern = false);
  // Compiles other's pattern text in the given mode.
  RegExp(RegExp const& other, bool filePattern);
  RegExp(RegExp const& other);
  virtual ~RegExp();

  // Compile a new pattern; the mode is kept.
  RegExp& operator=(RegExp const& other);
  RegExp& operator=(String const& pattern);

  // The position of the first match at or after from, or -1.
  int64_t search(String const& text, int64_t from = 0);
  // The same within length characters (-1: up to the NUL) of the text from
  // base (negative taken as 0); the result is relative to base.
  int64_t search(char const* text, int64_t from, int64_t base, int64_t length);
  int64_t search(String const& text, int64_t from, int64_t base, int64_t length);
  // The position of the last match starting at or before from (clamped to
  // the length); -1 when none or from is negative.
  int64_t backSearch(String const& text, int64_t from);
  // True when a match starts exactly at from and covers the rest of the text.
  bool match(String const& text, int64_t from = 0);
  // The last match's length (0 after a failed search).
  int64_t length() const { return matchLen_; }
  // The last match's start (-1 after a failed search).
  int64_t start() const { return matchStart_; }
  bool fromBeginning() const { return anchored_; }
  void fromBeginning(bool b) { anchored_ = b; }

  // The replacement text with '&' as the whole last match, \1..\9 as groups,
  // \n and \t as newline and tab, '\' before any other character as that
  // character; null when the pattern did not compile.
  String expand(String const& replacement) const;
  // False when the program is only literal characters.
  bool hasMetaChars() const;
  // The first character when the program starts with a literal, else 0.
  char firstChar() const;
  // The first '\' or '&' at or after from; -1 when none or text is null.
  static int64_t slashOrAmpersand(String const& text, int64_t from);

  String const& pattern() const { return pattern_; }
  int32_t error() const { return error_; }
  int32_t groups() const { return ngroups_; }
  explicit operator bool() const { return error_ == 0; }
  bool operator!() const { return error_ != 0; }
  bool filePattern() const { return fileMode_; }

  void idCheck() {}
  void idStart() {}
  void idStop() {}

  // The buffer every pattern is compiled in.
  static constexpr int kCompileBuf = 1024;
  static unsigned char compile_buf[kCompileBuf];

private:
  void compile();
  bool tryAt(int64_t pos);
  bool advance(unsigned char const* pc, int64_t tp);
  int64_t runLength(unsigned char const* item, int64_t tp, int64_t max) const;
  int64_t prepare(char const* text, int64_t len, int64_t from);
  // The rest of the program from pc is known to fail at tp.
  bool knownFailure(unsigned char const* pc, int64_t tp) const;
  void markFailure(unsigned char const* pc, int64_t tp);
  // Continues the program at pc from tp after a repeated item: remembers
  // failures (no back-references) or counts steps (with them).
  bool advanceAfter(unsigned char const* pc, int64_t tp);

  int64_t braslist_[9];
  int64_t braelist_[9];
  int32_t ngroups_;
  int64_t matchStart_;
  int64_t matchEnd_;
  bool anchored_;
  unsigned char* program_;
  int32_t programLen_;
  String pattern_;
  String text_;
  int32_t error_;
  int64_t matchLen_;
  bool fileMode_;
  bool notAtStart_;
  bool wholeText_;   // the end item succeeds only at the end of the text
  std::vector<int32_t> pointOf_;  // program offset -> repetition point index, or -1
  int32_t points_ = 0;            // program offsets that follow a repeated item
  bool backRefs_ = false;         // the program holds a back-reference
  std::vector<uint64_t> failed_;  // bit per (point, position) known to fail
  int64_t steps_ = 0;             // steps of this search (back-references only)
};

// A RegExp always in file-pattern mode.
class LRegExp : public RegExp {
public:
  LRegExp() : RegExp(true) {}
  LRegExp(String const& pattern) : RegExp(pattern, true) {}
  LRegExp(char const* pattern) : RegExp(pattern, true) {}
  LRegExp(LRegExp const& other) : RegExp(other, true) {}
  LRegExp& operator=(String const& pattern) {
    RegExp::operator=(pattern);
    return *this;
  }
};
