// The lexer of the expression language and its lexeme store.
//
// The lexer reads the source text of the expression being compiled one
// character at a time by index (the character past the end reads as NUL),
// counting lines at every newline it reads and uncounting them when it
// pushes one back. Token texts are interned in the lexeme store, which the
// parse empties when it ends. Keywords are found by an exact, case-sensitive
// binary search over a table sorted by byte value.
#include <zfound/CharClass.h>
#include <zfound/Expr.h>
#include <zfound/String.h>

#include <cstring>
#include <vector>

#include "exprcomp_internal.h"

namespace {

// The arrays of the lexeme store, freed together.
std::vector<char*>& lexemes() {
  static std::vector<char*> store;
  return store;
}

struct Keyword {
  char const* word;
  int code;
};

// Sorted by byte value (strcmp order).
Keyword const kKeywords[] = {
    {"and", exprtok::AND},         {"between", exprtok::BETWEEN}, {"break", exprtok::BREAK},
    {"by", exprtok::BY},           {"continue", exprtok::CONTINUE}, {"each", exprtok::EACH},
    {"else", exprtok::ELSE},       {"false", exprtok::FALSE_},    {"for", exprtok::FOR},
    {"from", exprtok::FROM},       {"hour", exprtok::HOUR},       {"if", exprtok::IF},
    {"in", exprtok::IN},           {"like", exprtok::LIKE},       {"match", exprtok::MATCH},
    {"not", exprtok::NOT},         {"null", exprtok::NULL_},      {"object", exprtok::OBJECT},
    {"or", exprtok::OR},           {"return", exprtok::RETURN},   {"this", exprtok::THIS},
    {"to", exprtok::TO},           {"today", exprtok::TODAY},     {"true", exprtok::TRUE_},
    {"user", exprtok::USER},       {"using", exprtok::USING},     {"void", exprtok::VOID_},
    {"when", exprtok::WHEN},       {"while", exprtok::WHILE},
};

bool isWordChar(int c) { return c == '_' || isAlnumChar(c); }

}  // namespace

char const* highLander(String const& s) {
  std::vector<char*>& store = lexemes();
  if (s.isHighest()) {
    for (char* p : store) delete[] p;
    store.clear();
    return nullptr;
  }
  long n = s.length();
  char* copy = new char[size_t(n) + 1];
  if (n > 0) std::memcpy(copy, toCharPtr(s), size_t(n));
  copy[n] = '\0';
  store.push_back(copy);
  return copy;
}

int Expr::findKeyword(String const& word) {
  char const* w = toCharPtr(word);
  long lo = 0, hi = long(sizeof kKeywords / sizeof kKeywords[0]) - 1;
  while (lo <= hi) {
    long mid = (lo + hi) / 2;
    int c = std::strcmp(w, kKeywords[mid].word);
    if (c == 0) return kKeywords[mid].code;
    if (c < 0) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  return -1;
}

int Expr::lex(void* value) {
  char const* src = toCharPtr(text_);
  long const srcLen = text_.isHighest() ? 0 : text_.length();
  // Reads the next character (NUL past the end), counting lines.
  auto next = [&]() -> int {
    if (errorLine_ == 0) errorLine_ = 1;
    int c = (current_ >= 0 && current_ < srcLen) ? static_cast<unsigned char>(src[current_]) : 0;
    ++current_;
    if (c == '\n') ++errorLine_;
    return c;
  };
  // Pushes the last character read back.
  auto back = [&]() {
    if (current_ <= 0) return;
    --current_;
    if (current_ < srcLen && src[current_] == '\n' && errorLine_ > 1) --errorLine_;
  };
  auto setText = [&](String const& s) {
    if (value != nullptr) *static_cast<char const**>(value) = highLander(s);
  };

  int c;
  for (;;) {
    do {
      c = next();
    } while (c != 0 && isSpaceChar(c));
    if (c != '/') break;
    int d = next();
    if (d == '*') {
      int prev = 0;
      for (;;) {
        int e = next();
        if (e == 0) {
          FmtArg line{int32_t(errorLine_)};
          exprFirstError(this, exprMessage("UNTERMINATEDCOMMENT", &line, 1));
          return exprtok::LEXERROR;
        }
        if (prev == '*' && e == '/') break;
        prev = e;
      }
      continue;
    }
    if (d == '/') {
      int e;
      do {
        e = next();
      } while (e != 0 && e != '\n');
      continue;
    }
    back();
    break;
  }

  if (c == 0) {
    back();  // stay at the end, so reading again ends again
    return -1;
  }

  if (c == '$') {
    long start = current_;
    while (isWordChar(next())) {
    }
    back();
    if (current_ == start) return exprtok::LEXERROR;
    setText(String(src + start, current_ - start));
    return exprtok::ENVNAME;
  }

  if (isDigitChar(c)) {
    long start = current_ - 1;
    bool point = false;
    for (;;) {
      int d = next();
      if (isDigitChar(d)) continue;
      if (d == '.' && !point) {
        point = true;
        continue;
      }
      back();
      break;
    }
    setText(String(src + start, current_ - start));
    return exprtok::NUMBER;
  }

  if (c == '"' || c == '\'') {
    long startLine = errorLine_;
    long start = current_;
    for (;;) {
      int d = next();
      if (d == 0) {
        FmtArg line{int32_t(startLine)};
        exprFirstError(this, exprMessage("UNTERMINATEDSTRING", &line, 1));
        return exprtok::LEXERROR;
      }
      if (d == c) break;
    }
    setText(String(src + start, current_ - 1 - start));
    return exprtok::STRING;
  }

  // Two-character tokens, then single punctuation characters.
  auto pair = [&](int second, int twoCode, int oneCode) {
    if (next() == second) return twoCode;
    back();
    return oneCode;
  };
  switch (c) {
    case '!':
      return pair('=', exprtok::NE, exprtok::LEXERROR);
    case '=':
      return pair('=', exprtok::EQ, '=');
    case '<':
      return pair('=', exprtok::LE, exprtok::LT);
    case '>':
      return pair('=', exprtok::GE, exprtok::GT);
    case '+':
      return pair('=', exprtok::ADDASSIGN, '+');
    case '-':
      return pair('=', exprtok::SUBASSIGN, '-');
    case '*':
      return pair('=', exprtok::MULASSIGN, '*');
    case '/':
      return pair('=', exprtok::DIVASSIGN, '/');
    case ':':
      return pair(':', exprtok::COLONCOLON, ':');
    case '(':
    case ')':
    case ',':
    case '.':
    case ';':
    case '?':
    case '[':
    case ']':
    case '{':
    case '}':
      return c;
    default:
      break;
  }

  // An identifier, a keyword or a message-table name.
  if (!isWordChar(c)) return exprtok::LEXERROR;  // cannot begin any token
  long start = current_ - 1;
  while (isWordChar(next())) {
  }
  back();
  String word(src + start, current_ - start);
  int kw = findKeyword(word);
  if (kw >= 0) return kw;
  int d;
  do {
    d = next();
  } while (d != 0 && isSpaceChar(d));
  back();
  char const* interned = highLander(word);
  if (value != nullptr) *static_cast<char const**>(value) = interned;
  if (isMsgTab_ != nullptr && isMsgTab_(interned) != 0) return exprtok::MSGTABLE;
  return exprtok::IDENT;
}
