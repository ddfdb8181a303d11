// The pattern compiler and the backtracking matcher.
//
// Program items: an opcode byte and its operands, ended by the end item.
// Opcode low bits add repetition: +1 zero or more times, +3 from a low to a
// high count held in two bytes after the item (high 255: no upper bound).
//
//    2 group open (n)        4 literal (c)           8 any character but NUL
//   12 7-bit class (16-byte map)                    16 8-bit class (32-byte map)
//   20 end of text          22 end of program       24 group close (n)
//   36 back-reference (n)   40 negated 7-bit class (16-byte map)
//
// A repeated item takes as many characters as it may, then gives them back
// one at a time, retrying the rest of the program at each position. Runs are
// counted in 64 bits, so unbounded repetitions cover any text a String holds.
// Without back-references the rest of the program from a given item and text
// position always has the same outcome, so each (repetition, position) pair
// that failed is remembered and never tried again: a search takes at most
// repetitions x positions retries instead of a number exponential in the
// repetitions. With back-references the outcome depends on the groups, so
// a step budget ends a search that would run for too long.
#include <zfound/RegExp.h>

#include <cstring>

unsigned char RegExp::compile_buf[RegExp::kCompileBuf];

namespace {

enum : unsigned char {
  OP_GOPEN = 2, OP_CHR = 4, OP_DOT = 8, OP_CCL = 12, OP_CCL8 = 16, OP_DOL = 20, OP_END = 22, OP_GCLOSE = 24,
  OP_BREF = 36, OP_NCCL = 40
};
constexpr unsigned char STAR = 1;
constexpr unsigned char RNGE = 3;
constexpr unsigned char kUnbounded = 255;

// The operand bytes that follow an opcode (without repetition counts).
int operandBytes(unsigned char base) {
  switch (base) {
    case OP_GOPEN: case OP_GCLOSE: case OP_CHR: case OP_BREF: return 1;
    case OP_CCL: case OP_NCCL: return 16;
    case OP_CCL8: return 32;
    default: return 0;
  }
}

unsigned char baseOf(unsigned char op) { return op & static_cast<unsigned char>(~3u); }

bool inMap(unsigned char const* map, unsigned char c) { return (map[c >> 3] >> (c & 7)) & 1; }
void setMap(unsigned char* map, unsigned char c) { map[c >> 3] |= static_cast<unsigned char>(1u << (c & 7)); }

}  // namespace

RegExp::RegExp(bool filePattern)
    : ngroups_(0), matchStart_(-1), matchEnd_(-1), anchored_(filePattern), program_(nullptr), programLen_(0),
      error_(0), matchLen_(0), fileMode_(filePattern), notAtStart_(false), wholeText_(false) {
  for (int i = 0; i < 9; ++i) braslist_[i] = braelist_[i] = -1;
}

RegExp::RegExp(String const& pattern, bool filePattern) : RegExp(filePattern) {
  pattern_ = pattern;
  compile();
}

RegExp::RegExp(char const* pattern, bool filePattern) : RegExp(filePattern) {
  pattern_ = String(pattern);
  compile();
}

RegExp::RegExp(RegExp const& other, bool filePattern) : RegExp(filePattern) {
  pattern_ = other.pattern_;
  compile();
}

RegExp::RegExp(RegExp const& other) : RegExp(other, other.fileMode_) {}

RegExp::~RegExp() { delete[] program_; }

RegExp& RegExp::operator=(RegExp const& other) {
  if (this == &other) return *this;
  pattern_ = other.pattern_;
  compile();
  return *this;
}

RegExp& RegExp::operator=(String const& pattern) {
  pattern_ = pattern;
  compile();
  return *this;
}

void RegExp::compile() {
  delete[] program_;
  program_ = nullptr;
  programLen_ = 0;
  error_ = 0;
  ngroups_ = 0;
  anchored_ = fileMode_;
  matchStart_ = matchEnd_ = -1;
  matchLen_ = 0;
  pointOf_.clear();
  points_ = 0;
  backRefs_ = false;
  failed_.clear();
  if (pattern_.isNull() || pattern_.isHighest()) return;

  char const* pat = toCharPtr(pattern_);
  int64_t plen = pattern_.length();
  unsigned char* buf = compile_buf;
  int32_t n = 0;        // bytes in the program so far
  int32_t last = -1;    // start of the previous repeatable item, -1 when none
  int stack[9];
  int depth = 0;
  bool closed[10] = {};
  int64_t i = 0;
  auto fail = [&](int32_t code) {
    error_ = code;
    return;
  };
  auto room = [&](int32_t k) { return n + k + 1 <= kCompileBuf; };  // keep room for the end item
  auto atEnd = [&](int64_t k) { return k >= plen || pat[k] == '\n' || pat[k] == '\0'; };

  if (atEnd(0)) return fail(ErrEmpty);
  if (!fileMode_ && pat[0] == '^') {
    anchored_ = true;
    i = 1;
  }
  while (!atEnd(i)) {
    unsigned char c = static_cast<unsigned char>(pat[i++]);
    int32_t itemStart = n;
    bool repeatable = true;

    // Repetition of the previous item.
    if (c == '*' && !fileMode_ && last >= 0) {
      buf[last] |= STAR;
      last = -1;
      continue;
    }
    if ((c == '+' || c == '{') && last >= 0 && baseOf(buf[last]) != OP_BREF && (buf[last] & 3) == 0) {
      int32_t low = 1, high = kUnbounded;
      if (c == '{') {
        int32_t nums[2] = {-1, -1};
        int count = 0;
        bool comma = false;
        for (;;) {
          if (atEnd(i)) return fail(ErrCountNotClosed);
          char d = pat[i];
          if (d == '}') {
            ++i;
            break;
          }
          if (d == ',') {
            if (comma) return fail(ErrTooManyCounts);
            comma = true;
            ++i;
            continue;
          }
          if (d < '0' || d > '9') return fail(ErrCountDigit);
          int slot = comma ? 1 : 0;
          if (slot == 0 && count > 0 && nums[0] < 0) return fail(ErrCountDigit);
          int64_t v = 0;
          while (!atEnd(i) && pat[i] >= '0' && pat[i] <= '9') {
            v = v * 10 + (pat[i] - '0');
            if (v > 100000) v = 100000;
            ++i;
          }
          if (nums[slot] >= 0) return fail(ErrTooManyCounts);
          if (v > 254) return fail(ErrCountTooBig);
          nums[slot] = static_cast<int32_t>(v);
          ++count;
        }
        if (nums[0] < 0) return fail(ErrCountDigit);
        low = nums[0];
        high = comma ? (nums[1] < 0 ? kUnbounded : nums[1]) : low;
        if (high != kUnbounded && low > high) return fail(ErrCountOrder);
      }
      if (!room(2)) return fail(ErrTooLong);
      buf[last] |= RNGE;
      buf[n++] = static_cast<unsigned char>(low);
      buf[n++] = static_cast<unsigned char>(high);
      last = -1;
      continue;
    }

    switch (c) {
      case '.':
        if (fileMode_) goto literal;
        if (!room(1)) return fail(ErrTooLong);
        buf[n++] = OP_DOT;
        break;
      case '?':
        if (!fileMode_) goto literal;
        if (!room(1)) return fail(ErrTooLong);
        buf[n++] = OP_DOT;
        break;
      case '*':
        if (!fileMode_) goto literal;  // nothing to repeat: itself
        if (!room(1)) return fail(ErrTooLong);
        buf[n++] = OP_DOT | STAR;
        repeatable = false;
        break;
      case '$':
        if (fileMode_ || !atEnd(i)) goto literal;
        if (!room(1)) return fail(ErrTooLong);
        buf[n++] = OP_DOL;
        repeatable = false;
        break;
      case '[': {
        unsigned char map[32] = {};
        bool negate = false;
        if (!atEnd(i) && pat[i] == '^') {
          negate = true;
          ++i;
        }
        bool first = true;
        bool eight = false;
        for (;;) {
          if (atEnd(i)) return fail(ErrClassNotClosed);
          unsigned char d = static_cast<unsigned char>(pat[i++]);
          if (d == ']' && !first) break;
          first = false;
          if (!atEnd(i + 1) && pat[i] == '-' && pat[i + 1] != ']') {
            unsigned char e = static_cast<unsigned char>(pat[i + 1]);
            i += 2;
            for (unsigned v = d; v <= e; ++v) {
              setMap(map, static_cast<unsigned char>(v));
              if (v >= 128) eight = true;
            }
            continue;
          }
          setMap(map, d);
          if (d >= 128) eight = true;
        }
        if (eight) {
          if (!room(33)) return fail(ErrTooLong);
          buf[n++] = OP_CCL8;
          for (int k = 0; k < 32; ++k) buf[n + k] = negate ? static_cast<unsigned char>(~map[k]) : map[k];
          if (negate) buf[n] &= static_cast<unsigned char>(~1u);  // NUL never matches
          n += 32;
        } else {
          if (!room(17)) return fail(ErrTooLong);
          buf[n++] = negate ? OP_NCCL : OP_CCL;
          std::memcpy(buf + n, map, 16);
          n += 16;
        }
        break;
      }
      case '\\': {
        if (i >= plen || pat[i] == '\0') goto literal;  // a final backslash is itself
        unsigned char d = static_cast<unsigned char>(pat[i++]);
        if (d == '\n') return fail(ErrBackslashNewline);
        if (d == '(') {
          if (ngroups_ >= 9) return fail(ErrTooManyGroups);
          if (!room(2)) return fail(ErrTooLong);
          stack[depth++] = ngroups_;
          buf[n++] = OP_GOPEN;
          buf[n++] = static_cast<unsigned char>(ngroups_++);
          last = -1;
          continue;
        }
        if (d == ')') {
          if (depth == 0) return fail(ErrUnbalanced);
          int g = stack[--depth];
          if (!room(2)) return fail(ErrTooLong);
          buf[n++] = OP_GCLOSE;
          buf[n++] = static_cast<unsigned char>(g);
          closed[g] = true;
          last = -1;
          continue;
        }
        if (d >= '1' && d <= '9') {
          int g = d - '1';
          if (!closed[g]) return fail(ErrGroupOpen);
          if (!room(2)) return fail(ErrTooLong);
          buf[n++] = OP_BREF;
          buf[n++] = static_cast<unsigned char>(g);
          break;
        }
        if (d == 'n') d = '\n';
        if (!room(2)) return fail(ErrTooLong);
        buf[n++] = OP_CHR;
        buf[n++] = d;
        break;
      }
      default:
      literal:
        if (!room(2)) return fail(ErrTooLong);
        buf[n++] = OP_CHR;
        buf[n++] = c;
        break;
    }
    last = repeatable ? itemStart : -1;
  }
  if (depth != 0) return fail(ErrUnbalanced);
  buf[n++] = OP_END;
  program_ = new unsigned char[static_cast<size_t>(n)];
  std::memcpy(program_, buf, static_cast<size_t>(n));
  programLen_ = n;
  // Index the offsets that follow a repeated item: the points from which the
  // matcher retries the rest of the program.
  pointOf_.assign(static_cast<size_t>(n) + 1, -1);
  for (int32_t at = 0; at < n && program_[at] != OP_END;) {
    unsigned char op = program_[at];
    unsigned char base = (op == OP_GOPEN || op == OP_DOL) ? op : baseOf(op);
    int rep = base == op ? 0 : op & 3;
    if (base == OP_BREF) backRefs_ = true;
    at += 1 + operandBytes(base) + (rep == RNGE ? 2 : 0);
    if (rep != 0 && at <= n) pointOf_[static_cast<size_t>(at)] = points_++;
  }
}

bool RegExp::knownFailure(unsigned char const* pc, int64_t tp) const {
  int32_t p = pointOf_[static_cast<size_t>(pc - program_)];
  if (p < 0 || failed_.empty()) return false;
  uint64_t bit = uint64_t(p) * uint64_t(text_.length() + 1) + uint64_t(tp);
  return (failed_[bit >> 6] >> (bit & 63)) & 1;
}

void RegExp::markFailure(unsigned char const* pc, int64_t tp) {
  int32_t p = pointOf_[static_cast<size_t>(pc - program_)];
  if (p < 0) return;
  uint64_t positions = uint64_t(text_.length() + 1);
  if (failed_.empty()) failed_.assign(static_cast<size_t>((uint64_t(points_) * positions + 63) / 64), 0);
  uint64_t bit = uint64_t(p) * positions + uint64_t(tp);
  failed_[bit >> 6] |= uint64_t(1) << (bit & 63);
}

bool RegExp::advanceAfter(unsigned char const* pc, int64_t tp) {
  if (backRefs_) {
    if (error_ == ErrTooComplex) return false;
    if (++steps_ > kMaxSteps) {
      error_ = ErrTooComplex;
      return false;
    }
    return advance(pc, tp);
  }
  if (knownFailure(pc, tp)) return false;
  if (advance(pc, tp)) return true;
  markFailure(pc, tp);
  return false;
}

// How many characters from tp match the single-character item at `item`,
// counting at most max.
int64_t RegExp::runLength(unsigned char const* item, int64_t tp, int64_t max) const {
  char const* t = toCharPtr(text_);
  int64_t len = text_.length();
  unsigned char base = baseOf(item[0]);
  int64_t k = 0;
  while (k < max && tp + k < len) {
    unsigned char c = static_cast<unsigned char>(t[tp + k]);
    bool ok;
    switch (base) {
      case OP_CHR: ok = c == item[1]; break;
      case OP_DOT: ok = c != 0; break;
      case OP_CCL: ok = c < 128 && inMap(item + 1, c); break;
      case OP_NCCL: ok = c != 0 && c < 128 && !inMap(item + 1, c); break;
      case OP_CCL8: ok = inMap(item + 1, c); break;
      default: ok = false; break;
    }
    if (!ok) break;
    ++k;
  }
  return k;
}

bool RegExp::advance(unsigned char const* pc, int64_t tp) {
  char const* t = toCharPtr(text_);
  int64_t len = text_.length();
  for (;;) {
    unsigned char op = *pc;
    // Items that never repeat are told by their whole opcode (2 and 22 share
    // low bits with repetition marks).
    unsigned char base = (op == OP_END || op == OP_GOPEN || op == OP_DOL) ? op : baseOf(op);
    int rep = base == op ? 0 : op & 3;
    switch (base) {
      case OP_END:
        if (wholeText_ && tp != len) return false;
        matchEnd_ = tp;
        return true;
      case OP_GOPEN:
        braslist_[pc[1]] = tp;
        pc += 2;
        continue;
      case OP_GCLOSE:
        braelist_[pc[1]] = tp;
        pc += 2;
        continue;
      case OP_DOL:
        if (tp != len) return false;
        ++pc;
        continue;
      case OP_BREF: {
        int g = pc[1];
        int64_t gl = braelist_[g] - braslist_[g];
        if (braslist_[g] < 0 || gl < 0) return false;
        char const* gs = t + braslist_[g];
        if (rep == 0) {
          if (tp + gl > len || std::memcmp(gs, t + tp, static_cast<size_t>(gl)) != 0) return false;
          tp += gl;
          pc += 2;
          continue;
        }
        // Starred: as many whole copies as possible, then back off copy by copy.
        int64_t copies = 0;
        if (gl > 0)
          while (tp + (copies + 1) * gl <= len && std::memcmp(gs, t + tp + copies * gl, static_cast<size_t>(gl)) == 0)
            ++copies;
        steps_ += copies;  // the copies compared count against the step budget
        for (int64_t k = copies; k >= 0; --k)
          if (advanceAfter(pc + 2, tp + k * gl)) return true;
        return false;
      }
      default: {
        int opn = operandBytes(base);
        unsigned char const* item = pc;
        pc += 1 + opn;
        if (rep == 0) {
          if (runLength(item, tp, 1) != 1) return false;
          ++tp;
          continue;
        }
        int64_t low = 0;
        int64_t max = len - tp;
        if (rep == RNGE) {
          low = pc[0];
          if (pc[1] != kUnbounded) max = pc[1];
          pc += 2;
        }
        int64_t got = runLength(item, tp, max);
        if (got < low) return false;
        for (int64_t k = got; k >= low; --k)
          if (advanceAfter(pc, tp + k)) return true;
        return false;
      }
    }
  }
}

bool RegExp::tryAt(int64_t pos) {
  if (error_ == ErrTooComplex) return false;  // the search ran out of steps
  for (int i = 0; i < 9; ++i) braslist_[i] = braelist_[i] = -1;
  if (advance(program_, pos)) {
    matchStart_ = pos;
    matchLen_ = matchEnd_ - pos;
    return true;
  }
  return false;
}

// Takes a copy of the text and clears the last match; -1 when no search can
// succeed, else 0.
int64_t RegExp::prepare(char const* text, int64_t len, int64_t from) {
  matchStart_ = matchEnd_ = -1;
  matchLen_ = 0;
  wholeText_ = false;
  failed_.clear();
  steps_ = 0;
  if (error_ == ErrTooComplex) error_ = 0;
  text_ = (text && len > 0) ? String(len, text) : String();
  if (program_ == nullptr || from < 0 || from > text_.length()) return -1;
  notAtStart_ = from > 0;
  return 0;
}

int64_t RegExp::search(String const& text, int64_t from) {
  if (text.isHighest()) return -1;
  return search(toCharPtr(text), from, 0, text.length());
}

int64_t RegExp::search(String const& text, int64_t from, int64_t base, int64_t length) {
  if (text.isHighest()) return -1;
  if (base < 0) base = 0;
  int64_t tl = text.length();
  if (base > tl) base = tl;
  if (length < 0 || base + length > tl) length = tl - base;
  return search(toCharPtr(text), from, base, length);
}

int64_t RegExp::search(char const* text, int64_t from, int64_t base, int64_t length) {
  if (base < 0) base = 0;
  char const* t = text ? text + base : nullptr;
  if (t && length < 0) length = static_cast<int64_t>(std::strlen(t));
  if (!t) length = 0;
  if (prepare(t, length, from) < 0) return -1;
  int64_t len = text_.length();
  if (anchored_) {
    if (notAtStart_) return -1;
    return tryAt(0) ? 0 : -1;
  }
  char const* s = toCharPtr(text_);
  if (program_[0] == OP_CHR) {
    for (int64_t p = from; p < len; ++p)
      if (static_cast<unsigned char>(s[p]) == program_[1] && tryAt(p)) return p;
    return -1;
  }
  for (int64_t p = from; p <= len; ++p)
    if (tryAt(p)) return p;
  return -1;
}

int64_t RegExp::backSearch(String const& text, int64_t from) {
  if (text.isHighest()) return -1;
  int64_t len = text.length();
  if (from > len) from = len;
  if (prepare(toCharPtr(text), len, from < 0 ? -1 : 0) < 0) return -1;
  if (anchored_) return tryAt(0) ? 0 : -1;
  char const* s = toCharPtr(text_);
  for (int64_t p = from; p >= 0; --p) {
    if (program_[0] == OP_CHR && (p >= len || static_cast<unsigned char>(s[p]) != program_[1])) continue;
    if (tryAt(p)) return p;
  }
  return -1;
}

bool RegExp::match(String const& text, int64_t from) {
  if (text.isHighest()) return false;
  if (prepare(toCharPtr(text), text.length(), from) < 0) return false;
  wholeText_ = true;
  bool ok = tryAt(from);
  wholeText_ = false;
  return ok;
}

String RegExp::expand(String const& repl) const {
  if (program_ == nullptr || error_ != 0) return String();
  String out;
  char const* t = toCharPtr(text_);
  auto add = [&](int64_t from, int64_t to) {
    if (from >= 0 && to > from) out += String(to - from, t + from);
  };
  if (repl.isNull() || repl.isHighest()) return out;
  char const* r = toCharPtr(repl);
  int64_t n = repl.length();
  for (int64_t i = 0; i < n; ++i) {
    char c = r[i];
    if (c == '&') {
      if (matchStart_ >= 0) add(matchStart_, matchEnd_);
      continue;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= n) break;  // a final backslash gives nothing
    char d = r[i];
    if (d >= '1' && d <= '9') {
      int g = d - '1';
      if (g < ngroups_ && matchStart_ >= 0) add(braslist_[g], braelist_[g]);
    } else if (d == 'n') {
      out += '\n';
    } else if (d == 't') {
      out += '\t';
    } else {
      out += d;
    }
  }
  return out;
}

bool RegExp::hasMetaChars() const {
  if (program_ == nullptr) return false;
  if (anchored_ && !fileMode_) return true;
  for (unsigned char const* pc = program_; *pc != OP_END; pc += 2)
    if (*pc != OP_CHR) return true;
  return false;
}

char RegExp::firstChar() const {
  if (program_ && program_[0] == OP_CHR) return static_cast<char>(program_[1]);
  return 0;
}

int64_t RegExp::slashOrAmpersand(String const& text, int64_t from) {
  if (text.isNull() || text.isHighest()) return -1;
  char const* s = toCharPtr(text);
  for (int64_t i = from < 0 ? 0 : from; i < text.length(); ++i)
    if (s[i] == '\\' || s[i] == '&') return i;
  return -1;
}
