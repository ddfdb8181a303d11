// The lexer of the expression language and its lexeme store.
//
// The lexer reads the source text of the expression being compiled one
// character at a time by index (the character past the end reads as NUL),
// counting lines at every newline it reads and uncounting them when it
// pushes one back. Token texts are interned in the lexeme store, which the
// parse empties when it ends. Keywords are found by an exact, case-sensitive
// binary search over a table sorted by byte value.
#include <zfound/Assert.h>
#include <zfound/CharClass.h>
#include <zfound/Expr.h>
#include <zfound/String.h>

#include <cstring>
#include <vector>

#include "ExprCompileImpl.h"

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

// Source reading: one character at a time by index.

int Expr::get() {
  if (current_ < 0 || text_.isHighest() || current_ >= text_.length()) return 0;
  return (unsigned char)text_[current_];
}

int Expr::fetch() {
  if (errorLine_ == 0) errorLine_ = 1;
  ZF_ASSERT(current_ == 0 || text_[current_ - 1]);
  int c = get();
  ++current_;
  if (c == '\n') ++errorLine_;
  return c;
}

int Expr::unfetch() {
  if (!ZF_ASSERT(current_ > 0 && errorLine_ > 0)) return 0;
  --current_;
  int c = get();
  if (c == '\n') --errorLine_;
  return c;
}

int Expr::lex(void* value) {
  char const* src = toCharPtr(text_);
  // Characters are read with fetch() and pushed back with unfetch(), which
  // keep the line count; a 0 read at the end is pushed back before anything
  // reads on.
  auto setText = [&](String const& s) {
    if (value != nullptr) *static_cast<char const**>(value) = highLander(s);
  };

  int c;
  for (;;) {
    do {
      c = fetch();
    } while (c != 0 && isSpaceChar(c));
    if (c != '/') break;
    int d = fetch();
    if (d == '*') {
      int prev = 0;
      for (;;) {
        int e = fetch();
        if (e == 0) {
          unfetch();
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
        e = fetch();
      } while (e != 0 && e != '\n');
      if (e == 0) unfetch();
      continue;
    }
    unfetch();
    break;
  }

  if (c == 0) {
    unfetch();  // stay at the end, so reading again ends again
    return -1;
  }

  if (c == '$') {
    long start = current_;
    while (isWordChar(fetch())) {
    }
    unfetch();
    if (current_ == start) return exprtok::LEXERROR;
    setText(String(src + start, current_ - start));
    return exprtok::ENVNAME;
  }

  if (isDigitChar(c)) {
    long start = current_ - 1;
    bool point = false;
    for (;;) {
      int d = fetch();
      if (isDigitChar(d)) continue;
      if (d == '.' && !point) {
        point = true;
        continue;
      }
      unfetch();
      break;
    }
    setText(String(src + start, current_ - start));
    return exprtok::NUMBER;
  }

  if (c == '"' || c == '\'') {
    long startLine = errorLine_;
    long start = current_;
    for (;;) {
      int d = fetch();
      if (d == 0) {
        unfetch();
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
    if (fetch() == second) return twoCode;
    unfetch();
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
  while (isWordChar(fetch())) {
  }
  unfetch();
  String word(src + start, current_ - start);
  int kw = findKeyword(word);
  if (kw >= 0) return kw;
  int d;
  do {
    d = fetch();
  } while (d != 0 && isSpaceChar(d));
  unfetch();
  char const* interned = highLander(word);
  if (value != nullptr) *static_cast<char const**>(value) = interned;
  if (isMsgTab_ != nullptr && isMsgTab_(interned) != 0) return exprtok::MSGTABLE;
  return exprtok::IDENT;
}
