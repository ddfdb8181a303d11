// Edit masks: compiling the mask source language, laying a value into an
// edit string, checking each position, and String's compileMask and format.
//
// Invariants: compiled buffers never exceed kMaskEditSize / kMaskCheckSize;
// processMask writes at most outSize bytes; a String holding a compiled mask
// is 1, edit string, 1, check string, with one check byte per placeholder.
#include <zfound/EditMask.h>

#include <zfound/Assert.h>
#include <zfound/CharClass.h>
#include <zfound/String.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One position of an edit string.
struct MaskItem {
  char c;         // the character shown (placeholder or literal)
  bool literal;   // escaped or not a placeholder character
};

bool isPlaceholderChar(char c) { return c == '_' || c == '#' || c == kMaskMarker; }

bool isModeChar(char c) { return c == 'l' || c == 'L' || c == 'r' || c == 'R'; }

// Reads an edit string into its mode and positions. A backslash makes the
// next character literal (a trailing backslash is itself a literal).
char parseEdit(char const* edit, size_t len, std::vector<MaskItem>& items) {
  char mode = 'l';
  size_t i = 0;
  if (len > 0 && isModeChar(edit[0])) {
    mode = edit[0];
    i = 1;
  }
  while (i < len) {
    char c = edit[i++];
    if (c == '\\' && i < len) {
      items.push_back({edit[i++], true});
    } else {
      items.push_back({c, c == '\\' || !isPlaceholderChar(c)});
    }
  }
  return mode;
}

// One attribute of the mask source: its repeat count and what each of its
// positions is.
struct Attribute {
  int repeat = 1;          // the count (1 without one)
  bool counted = false;    // a count was written
  unsigned flags = 0;      // check flags of a placeholder
  char placeholder = '_';  // "_", "#" or the check-digit 1
  bool literal = false;    // a literal position
  char lit = 0;            // its character
  bool checkDigit = false;
};

// Reads one attribute at p (an optional count, then letters until one ends
// the attribute) and moves p past it. False when it is invalid: a count
// above the most positions, a source that ends inside the attribute, or a
// check digit that carries a count or is not last.
bool processAttribute(char const*& p, Attribute& a) {
  a = Attribute();
  if (*p >= '0' && *p <= '9') {
    a.counted = true;
    a.repeat = 0;
    while (*p >= '0' && *p <= '9') {
      a.repeat = a.repeat * 10 + (*p++ - '0');
      if (a.repeat > kMaskMaxPositions) return false;
    }
  }
  for (;;) {
    char c = *p;
    if (c == '\0') return false;  // the attribute never ended
    ++p;
    if (c == '#') { a.placeholder = '#'; continue; }
    if (c == '<') { a.flags |= MASK_LOWER; continue; }
    if (c == '>') { a.flags |= MASK_UPPER; continue; }
    switch (c) {
      case 'x': case '_': a.flags |= MASK_ANY; break;
      case 'X': a.flags |= MASK_ANY | MASK_REQUIRED; break;
      case 'a': a.flags |= MASK_ALPHA; break;
      case 'A': a.flags |= MASK_ALPHA | MASK_REQUIRED; break;
      case 'n': a.flags |= MASK_DIGIT; break;
      case 'N': a.flags |= MASK_DIGIT | MASK_REQUIRED; break;
      case 'h': a.flags |= MASK_HEX; break;
      case 'H': a.flags |= MASK_HEX | MASK_REQUIRED; break;
      case 'c': case 'C':
        if (a.counted || *p != '\0') return false;
        a.flags |= MASK_CHECK | (c == 'C' ? MASK_REQUIRED : 0);
        a.placeholder = kMaskMarker;
        a.checkDigit = true;
        break;
      case '\\':
        if (*p == '\0') return false;
        a.literal = true;
        a.lit = *p++;
        break;
      default:
        a.literal = true;
        a.lit = c;
        break;
    }
    return true;
  }
}

// The compiler shared by compileMask and sizeOfMask. Writes into the given
// buffers (sized kMaskEditSize / kMaskCheckSize) and counts the positions.
int compileCore(char const* source, char* checks, char* edit, int* positions) {
  size_t ei = 0, ci = 0;
  int count = 0;
  edit[ei++] = 'l';
  auto fail = [&]() {
    edit[0] = '\0';
    checks[0] = '\0';
    return -1;
  };
  char const* p = source ? source : "";
  while (*p) {
    Attribute a;
    if (!processAttribute(p, a)) return fail();
    if (count + a.repeat > kMaskMaxPositions) return fail();
    for (int k = 0; k < a.repeat; ++k) {
      if (a.literal) {
        if (a.lit == '\\' || isPlaceholderChar(a.lit)) edit[ei++] = '\\';
        edit[ei++] = a.lit;
      } else {
        edit[ei++] = a.placeholder;
        checks[ci++] = char(a.flags);
      }
    }
    count += a.repeat;
    if (a.checkDigit) edit[0] = 'L';
  }
  edit[ei] = '\0';
  checks[ci] = '\0';
  if (positions) *positions = count;
  return 0;
}

// The value of the decimal digits of `whole`, or -1 when there are none or
// it does not fit 32 bits.
int32_t digitsValue(char const* whole) {
  int64_t n = 0;
  bool any = false;
  for (char const* p = whole ? whole : ""; *p; ++p) {
    if (*p < '0' || *p > '9') continue;
    any = true;
    n = n * 10 + (*p - '0');
    if (n > INT32_MAX) return -1;
  }
  return any ? int32_t(n) : -1;
}

}  // namespace

int compileMask(char const* source, char* checks, char* edit) {
  return compileCore(source, checks, edit, nullptr);
}

int sizeOfMask(char const* source) {
  char edit[kMaskEditSize];
  char checks[kMaskCheckSize];
  int positions = 0;
  if (compileCore(source, checks, edit, &positions) != 0) return -1;
  return positions;
}

size_t processMask(char* out, size_t outSize, char const* edit, char const* value) {
  if (!out || outSize == 0) return 0;
  std::vector<MaskItem> items;
  char mode = parseEdit(edit ? edit : "", edit ? std::strlen(edit) : 0, items);
  char const* v = value ? value : "";
  size_t vlen = std::strlen(v);
  size_t room = outSize - 1;
  size_t n = 0;
  if (mode == 'l' || mode == 'L') {
    size_t vi = 0;
    for (MaskItem const& it : items) {
      if (mode == 'l' && vi >= vlen) break;
      if (n >= room) break;
      char ch = it.c;
      if (!it.literal) {
        if (vi < vlen) {
          ch = v[vi++];
          if (ch == kMaskMarker) ch = ' ';
          if (it.c == '#') ch = '#';
        } else {
          ch = ' ';
        }
      }
      out[n++] = ch;
    }
  } else {
    size_t width = items.size();
    size_t vi = vlen;
    std::string buf(width, ' ');
    for (size_t i = width; i-- > 0;) {
      MaskItem const& it = items[i];
      if (!it.literal && it.c == '_') {
        char ch = vi > 0 ? v[--vi] : ' ';
        buf[i] = ch == kMaskMarker ? ' ' : ch;
      } else {
        buf[i] = (vi > 0 || mode == 'R') ? it.c : ' ';
      }
    }
    n = width < room ? width : room;
    std::memcpy(out, buf.data(), n);
  }
  out[n] = '\0';
  return n;
}

char TstChrMask(char c, char flags, char const* whole) {
  unsigned f = static_cast<unsigned char>(flags);
  unsigned char uc = static_cast<unsigned char>(c);
  if (c == '\0') return 0;
  if (c == ' ') return (f & MASK_REQUIRED) ? 0 : ' ';
  if (uc >= 0x80 && uc <= 0x9F) return (f & MASK_REQUIRED) ? 0 : c;
  if (f & MASK_UPPER)
    c = toUpperCase(c);
  else if (f & MASK_LOWER)
    c = toLowerCase(c);
  if (f & MASK_ANY) return c;
  if ((f & MASK_DIGIT) && isDigitChar(c)) return c;
  if ((f & MASK_ALPHA) && isAlphaChar(c)) return c;
  if ((f & MASK_HEX) && isXDigitChar(c)) return c;
  if (f & MASK_CHECK) {
    int32_t n = digitsValue(whole);
    int32_t digit = n < 0 ? -1 : CheckDigit(n);
    if (digit >= 0 && c == char('0' + digit)) return c;
  }
  return 0;
}

bool MaskIsNum(char const* checks) {
  if (!checks) return false;
  for (char const* p = checks; *p; ++p)
    if ((static_cast<unsigned char>(*p) & ~unsigned(MASK_REQUIRED)) != MASK_DIGIT) return false;
  return true;
}

bool splitCompiledMask(char const* body, size_t len, size_t* editLen, char const** checks) {
  if (!body) return false;
  size_t i = 0, placeholders = 0;
  if (len > 0 && isModeChar(body[0])) i = 1;
  while (i < len) {
    char c = body[i];
    if (c == kMaskMarker) {
      // The separator is the 1 after which exactly one byte per placeholder
      // remains; any other 1 is the check-digit placeholder.
      if (len - i - 1 == placeholders) {
        if (editLen) *editLen = i;
        if (checks) *checks = body + i + 1;
        return true;
      }
      ++placeholders;
      ++i;
    } else if (c == '\\') {
      i += 2;
    } else {
      if (c == '_' || c == '#') ++placeholders;
      ++i;
    }
  }
  return false;
}

String& String::compileMask() {
  if (!*this) {
    *this = String();
    return *this;
  }
  if ((*this)[0] == kMaskMarker) return *this;  // already compiled
  char edit[kMaskEditSize];
  char checks[kMaskCheckSize];
  if (::compileMask(toCharPtr(*this), checks, edit) != 0) {
    *this = String();
    return *this;
  }
  std::string compiled;
  compiled += kMaskMarker;
  compiled += edit;
  compiled += kMaskMarker;
  compiled += checks;
  *this = String(long(compiled.size()), compiled.data());
  return *this;
}

String String::format(String mask) const {
  if (isHighest()) return *this;
  if (!mask) return String();
  std::string edit;
  std::string checks;
  char const* m = toCharPtr(mask);
  size_t mlen = size_t(mask.length());
  if (m[0] == kMaskMarker) {
    size_t editLen = 0;
    char const* chk = nullptr;
    // A mask beginning with the marker may be any text (a catalogue text, a
    // mask quoted in a format): one that does not split is refused.
    if (!splitCompiledMask(m + 1, mlen - 1, &editLen, &chk)) return String();
    edit.assign(m + 1, editLen);
    checks.assign(chk, (m + mlen) - chk);
  } else {
    char ebuf[kMaskEditSize];
    char cbuf[kMaskCheckSize];
    if (::compileMask(m, cbuf, ebuf) != 0) return String();
    edit = ebuf;
    checks = cbuf;
  }

  std::vector<MaskItem> items;
  parseEdit(edit.data(), edit.size(), items);
  size_t leng = items.size();
  std::string out(leng + 1, ' ');
  size_t n = processMask(out.data(), out.size(), edit.c_str(), toCharPtr(*this));
  out[n] = ' ';
  out.resize(leng);

  // Checks pair with the placeholder positions in order; literals pass.
  size_t k = 0, cut = leng;
  for (size_t i = 0; i < leng; ++i) {
    if (items[i].literal) continue;
    char flags = k < checks.size() ? checks[k] : char(MASK_ANY);
    ++k;
    std::string whole = out.substr(0, i);
    char kept = TstChrMask(out[i], flags, whole.c_str());
    if (kept == 0) {
      cut = i;
      break;
    }
    out[i] = kept;
  }
  String ret(long(cut), out.data());
  ZF_ASSERT(ret.length() <= long(leng));
  return ret;
}
