// The text model: reading texts from files, commands and the administered
// store with tabs laid out and escape sequences turned into zones, the text
// cursor's character operations, and the escape-sequence table.
#include <winkit/EditText.h>
#include <winkit/Pipes.h>
#include <winkit/Text.h>

#include <zfound/CharClass.h>
#include <zfound/Message.h>
#include <zfound/OsServ.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

long Text::tabSize_ = 4;

namespace {

constexpr char kFill = 0x1F;
constexpr long kEndCol = 0x7fffffff;
char const kReset[] = "\033[0m";

// The escape-sequence table, in the order in which parameters are matched
// and written.
struct AttrEntry {
  char const* name;
  int32_t bits;
  char const* param;
};
AttrEntry const kAttrTable[] = {
    {"Bold", 0x800, "1"},          {"Underline", 0x100, "4"},   {"Blink", 0x400, "5"},
    {"Reverse", 0x200, "7"},       {"Red", 0x10000, "31"},      {"Green", 0x20000, "32"},
    {"Blue", 0x40000, "34"},       {"Yellow", 0x30000, "33"},   {"Cyan", 0x60000, "36"},
    {"Magenta", 0x50000, "35"},    {"White", 0x70000, "37"},    {"RedBg", 0x100000, "41;1"},
    {"GreenBg", 0x200000, "42"},   {"BlueBg", 0x400000, "44"},  {"YellowBg", 0x300000, "43"},
    {"CyanBg", 0x600000, "46;1"},  {"MagentaBg", 0x500000, "45"}, {"WhiteBg", 0x700000, "47"},
};

// The bits that escape sequences can carry (the display mark is not written).
constexpr int32_t kStoredBits = AttrFlags | AttrFgMask | AttrBgMask;

// Lays tabs out: a tab met at column i gets tabSize - (i mod tabSize + 1)
// fill bytes before it.
void expandTabs(char const* p, size_t n, std::string& out) {
  long tab = Text::tabSize();
  out.clear();
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == '\t') {
      long col = static_cast<long>(out.size());
      out.append(static_cast<size_t>(tab - (col % tab + 1)), kFill);
    }
    out.push_back(p[i]);
  }
}

String fromStd(std::string const& s) {
  size_t n = std::min(s.size(), static_cast<size_t>(String::kMaxLength));
  return String(static_cast<long>(n), s.data());
}

// The name as one shell word in single quotes.
String shellQuote(String const& name) {
  std::string q = "'";
  char const* p = toCharPtr(name);
  for (long i = 0; i < name.length(); ++i) {
    if (p[i] == '\'')
      q += "'\\''";
    else
      q += p[i];
  }
  q += "'";
  return fromStd(q);
}

}  // namespace

// ---- TextCursor -----------------------------------------------------------

TextCursor::TextCursor(Text const& t) : StringListCursor(t), column_(0) {}

TextCursor::~TextCursor() = default;

TextCursor& TextCursor::operator=(TextCursor const& o) {
  if (this != &o) {
    BaseListCursor::operator=(o);
    column_ = o.column_;
  }
  return *this;
}

TextCursor& TextCursor::operator=(Text const& t) {
  BaseListCursor::operator=(t);
  column_ = 0;
  return *this;
}

long TextCursor::cmp(BaseListCursor const& o) const {
  long d = static_cast<long>(order_) - o.order();
  if (d != 0) return d;
  auto t = dynamic_cast<TextCursor const*>(&o);
  return t ? static_cast<long>(column_) - t->column_ : 0;
}

void TextCursor::reset() {
  order_ = 0;
  column_ = 0;
}

void TextCursor::goToFirst() {
  BaseListCursor::goToFirst();
  if (node_) column_ = 0;
}

void TextCursor::goToLast() {
  BaseListCursor::goToLast();
  if (node_) column_ = 0;
}

Text* TextCursor::text() const { return dynamic_cast<Text*>(list_); }

void TextCursor::moveCol(long n, bool countLineEnd) {
  column_ = static_cast<int32_t>(column_ + n);
  while (column_ < 0) {
    if (order_ <= 0) {
      column_ = 0;
      break;
    }
    next(-1);
    column_ = static_cast<int32_t>(column_ + value().length() + (countLineEnd ? 1 : 0));
  }
}

bool TextCursor::insChar(char c) {
  if (!node_ || !list_) return false;
  String& s = value();
  if (!s.insChar(c, column_)) return false;
  list_->setModif();
  long newLen = s.length();
  for (BaseListCursor* o = list_->listCursorHead(); o; o = o->nextCursor()) {
    if (o == this || o->node() != node_) continue;
    auto t = dynamic_cast<TextCursor*>(o);
    if (t && t->column_ >= column_ && t->column_ < newLen - 1) ++t->column_;
  }
  return true;
}

// Before characters go: a zone that begins or ends among them would, once
// its cursors are moved, cover the characters after them (or overlap the next
// zone), so the zones are cut back to what remains. A zone that strictly
// holds the characters just shrinks with its end cursor.
void TextCursor::dropZonesOver(long n) {
  Text* t = text();
  if (!t || t->zones().count() == 0 || n <= 0) return;
  AttributeZones& z = t->zones();
  TextCursor a(*this), b(*this);
  b.goToCol(column_ + n - 1);
  long i = z.find(AttributeBlock(a));
  if (i < 0) i = ~i;
  bool beginsIn = i < z.count() && z.zone(i).begin <= b;
  bool endsIn = i > 0 && z.zone(i - 1).end >= a && z.zone(i - 1).end <= b;
  if (beginsIn || endsIn) z.delAttribute(a, b, -1);
}

bool TextCursor::delChar() {
  if (!node_ || !list_) return false;
  String& s = value();
  if (column_ < 0 || column_ >= s.length()) return false;
  dropZonesOver(1);
  if (!s.delChar(column_)) return false;
  list_->setModif();
  long newLen = s.length();
  for (BaseListCursor* o = list_->listCursorHead(); o; o = o->nextCursor()) {
    if (o == this || o->node() != node_) continue;
    auto t = dynamic_cast<TextCursor*>(o);
    if (t && t->column_ > column_ && t->column_ < newLen + 1) --t->column_;
  }
  return true;
}

long TextCursor::delChars(long n) {
  if (!node_ || !list_ || n <= 0) return 0;
  String& s = value();
  long len = s.length();
  if (column_ < 0 || column_ >= len) return 0;
  n = std::min(n, len - column_);
  dropZonesOver(n);
  std::string rest(toCharPtr(s) + column_ + n, static_cast<size_t>(len - column_ - n));
  s = String(s, column_) + fromStd(rest);
  list_->setModif();
  // A cursor on a character after the deleted ones moves left with it; one
  // inside them stops at the column; one past the line's end stays.
  for (BaseListCursor* o = list_->listCursorHead(); o; o = o->nextCursor()) {
    if (o == this || o->node() != node_) continue;
    auto t = dynamic_cast<TextCursor*>(o);
    if (t && t->column_ > column_ && t->column_ <= len - 1)
      t->column_ = static_cast<int32_t>(t->column_ - std::min(n, static_cast<long>(t->column_ - column_)));
  }
  return n;
}

long TextCursor::goFirstNonSp() {
  if (!node_) return 0;
  String const& s = value();
  long n = s.length();
  for (long i = 0; i < n; ++i)
    if (s[i] != kFill && !isSpaceChar(s[i])) return i;
  return n;
}

// ---- Text -----------------------------------------------------------------

Text::Text() : StringList(String()), type_(0), active_(false), stored_(false), reserved_(0), views_(0) {}

Text::Text(String const& name) : Text() {
  name_ = name;
  if (statFile(name) != 0) loadAdminFile(name);
}

Text::Text(String const& command, bool noRead) : Text() {
  type_ = TextStream;
  active_ = true;
  stored_ = true;
  name_ = command;
  if (noRead) return;
  if (textWaitMsg) textWaitMsg("Processing InputStream ...");
  {
    InputPipe in(command, true, true, 1024);
    readLines(in);
  }
  resetModif();
  if (textWaitMsg) textWaitMsg(nullptr);
}

Text::~Text() = default;

void Text::tabSize(long n) {
  if (n >= 1 && n <= 256) tabSize_ = n;
}

void Text::delAll() {
  zones_.clear();
  BaseList::delAll();
}

void Text::addRead(std::string const& raw, long lineNo) {
  std::string line;
  expandTabs(raw.data(), raw.size(), line);
  if (line.size() > static_cast<size_t>(String::kMaxLength))
    warning(String("%s: line %ld is longer than 65535 characters and was cut."), toCharPtr(name_), lineNo);
  add(fromStd(line));
}

void Text::readLines(InputStream& in) {
  std::string raw;
  long lineNo = 0;
  for (;;) {
    char c = in.getc();
    if (!in.ok()) {
      if (!raw.empty()) addRead(raw, ++lineNo);
      break;
    }
    if (c == '\n') {
      addRead(raw, ++lineNo);
      raw.clear();
    } else if (c != '\r') {  // carriage returns are dropped, as by every line reader
      raw.push_back(c);
    }
  }
}

bool Text::loadAdminFile(String const& name) {
  String command = String("checkout -p ") + shellQuote(name);
  bool failed;
  {
    InputPipe in(command, true, true, 1024);
    readLines(in);
    failed = (in.state() & Stream::ErrorBit) != 0;
  }
  if (failed) {
    delAll();
    return false;
  }
  type_ = TextAdmin;
  name_ = name;
  stored_ = true;
  active_ = true;
  reserved_ = 0;
  encodeAttrs(-1, -1, -1, -1);
  resetModif();
  return true;
}

void Text::setFile(String const& name, bool reload) {
  if (!active_ && !isType(TextStream | TextAdmin)) {
    type_ = 0;
    name_ = name;
    return;
  }
  type_ = 0;
  name_ = name;
  if (reload) load();
  resetModif();
}

bool Text::load() {
  if (!active_ || isType(TextStream | TextAdmin)) return false;
  delAll();
  int fd = ::open(toCharPtr(name_), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    InputFdFile in(fd, 1024);
    readLines(in);
    ::close(fd);
  }
  encodeAttrs(-1, -1, -1, -1);
  resetModif();
  return true;
}

bool Text::activate() {
  if (active_ || isType(TextStream | TextAdmin)) return false;
  active_ = true;
  load();
  return true;
}

void Text::deActivate() {
  if (!active_ || isType(TextStream | TextAdmin)) return;
  delAll();
  resetModif();
  type_ = 0;
  active_ = false;
}

String Text::encodeTabs(String const& line) {
  std::string out;
  expandTabs(toCharPtr(line), static_cast<size_t>(line.length()), out);
  return fromStd(out);
}

String Text::decodeTabs(String const& line) {
  std::string out;
  char const* p = toCharPtr(line);
  for (long i = 0; i < line.length(); ++i)
    if (p[i] != kFill) out.push_back(p[i]);
  return fromStd(out);
}

bool Text::setAttr(TextCursor const& from, TextCursor const& to, int32_t bits) {
  bool done = zones_.setAttribute(from, to, bits);
  if (done && bits != AttrDisplayMark) setModif();
  return done;
}

bool Text::delAttr(TextCursor const& from, TextCursor const& to, int32_t bits) {
  bool done = zones_.delAttribute(from, to, bits);
  if (done && bits != AttrDisplayMark) setModif();
  return done;
}

int32_t Text::sequenceToAttrib(char const* seq, long& length) {
  if (seq[0] != '\033' || seq[1] != '[') {
    length = seq[0] ? 1 : 0;
    return -1;
  }
  long i = 2;
  int32_t bits = 0;
  for (;;) {
    AttrEntry const* hit = nullptr;
    size_t plen = 0;
    for (AttrEntry const& e : kAttrTable) {
      plen = std::strlen(e.param);
      // A parameter matches only as a whole: the entry's text must be
      // followed by the separator or the final "m".
      if (std::strncmp(seq + i, e.param, plen) == 0 && (seq[i + plen] == ';' || seq[i + plen] == 'm')) {
        hit = &e;
        break;
      }
    }
    if (!hit) break;
    if (hit->bits & AttrFgMask)
      bits = (bits & ~AttrFgMask) | hit->bits;
    else if (hit->bits & AttrBgMask)
      bits = (bits & ~AttrBgMask) | hit->bits;
    else
      bits |= hit->bits;
    i += static_cast<long>(plen);
    if (seq[i] != ';') break;
    ++i;
  }
  if (seq[i] == 'm') {
    length = i + 1;
    return bits;
  }
  length = i;
  return -1;
}

String Text::attribToSequence(int32_t bits) {
  std::string s;
  for (AttrEntry const& e : kAttrTable) {
    bool has;
    if (e.bits & AttrFgMask)
      has = (bits & AttrFgMask) == e.bits;
    else if (e.bits & AttrBgMask)
      has = (bits & AttrBgMask) == e.bits;
    else
      has = (bits & e.bits) == e.bits;
    if (!has) continue;
    s += s.empty() ? "\033[" : ";";
    s += e.param;
  }
  if (s.empty()) return String();
  s += "m";
  return fromStd(s);
}

namespace {

// Where the next reset lies, searched from `from` across lines up to the
// end line (and, on it, before endCol): found as (line, col), else false.
bool findReset(TextCursor const& from, long endLine, long endCol, long& rl, long& rc) {
  TextCursor c(from);
  long col = from.column();
  while (c.valid() && c.line() <= endLine) {
    String const& s = c.value();
    long stop = c.line() == endLine ? std::min(endCol, s.length()) : s.length();
    char const* p = toCharPtr(s);
    for (long i = col; i + 4 <= stop; ++i) {
      if (p[i] == '\033' && std::memcmp(p + i, kReset, 4) == 0) {
        rl = c.line();
        rc = i;
        return true;
      }
    }
    c.next(1);
    col = 0;
  }
  return false;
}

}  // namespace

namespace {

// One sequence (bits > 0) or reset (bits 0) met while reading a whole text,
// at its column in the line without sequences.
struct AttrEvent {
  int32_t line;
  int32_t col;
  int32_t bits;
};

// Strips the sequences and resets of one line, recording them as events,
// and lays its tabs out for what remains (a fill run before a tab is made
// again; any other byte stays).
String stripLine(String const& s, int32_t line, std::vector<AttrEvent>& events) {
  long tab = Text::tabSize();
  char const* p = toCharPtr(s);
  long len = s.length();
  std::string out;
  out.reserve(static_cast<size_t>(len));
  for (long i = 0; i < len;) {
    char c = p[i];
    if (c == kFill) {
      long j = i;
      while (j < len && p[j] == kFill) ++j;
      if (j < len && p[j] == '\t') {
        i = j;  // laid out again with the tab
      } else {
        out.append(p + i, static_cast<size_t>(j - i));
        i = j;
      }
      continue;
    }
    if (c == '\033') {
      int32_t col = static_cast<int32_t>(out.size());
      if (len - i >= 4 && std::memcmp(p + i, kReset, 4) == 0) {
        events.push_back({line, col, 0});
        i += 4;
        continue;
      }
      if (len - i >= 2 && p[i + 1] == '[') {
        long seqLen = 0;
        int32_t bits = Text::sequenceToAttrib(p + i, seqLen);
        if (bits > 0) {
          events.push_back({line, col, bits});
          i += seqLen;
          continue;
        }
        seqLen = std::max(seqLen, 1L);  // not understood: the bytes stay
        out.append(p + i, static_cast<size_t>(seqLen));
        i += seqLen;
        continue;
      }
    }
    if (c == '\t') out.append(static_cast<size_t>(tab - (static_cast<long>(out.size()) % tab + 1)), kFill);
    out.push_back(c);
    ++i;
  }
  return fromStd(out);
}

}  // namespace

// Reading a whole text: every line is stripped first, then each sequence
// becomes a zone up to the character before the next reset (or the end of
// the text). Positions are known once the lines are stripped, so no cursor
// has to follow the deletions and the cursors move only forward.
void Text::encodeWholeText() {
  std::vector<AttrEvent> events;
  {
    TextCursor c(*this);
    for (c.goToFirst(); c.valid(); ++c) {
      String& s = c.value();
      if (s.index('\033') < 0) continue;
      s = stripLine(s, static_cast<int32_t>(c.line()), events);
      setModif();
    }
  }
  if (events.empty()) return;
  // The next reset after each event, found from the end.
  std::vector<long> nextReset(events.size(), -1);
  long reset = -1;
  for (long i = static_cast<long>(events.size()) - 1; i >= 0; --i) {
    nextReset[i] = reset;
    if (events[i].bits == 0) reset = i;
  }
  TextCursor from(*this), to(*this);
  for (size_t i = 0; i < events.size(); ++i) {
    AttrEvent const& e = events[i];
    if (e.bits == 0) continue;
    long el, ec;
    if (nextReset[i] >= 0) {
      el = events[nextReset[i]].line;
      ec = events[nextReset[i]].col;
    } else {
      el = size() - 1;
      ec = kEndCol;
    }
    to.next(el - to.line());
    if (ec == kEndCol) ec = to.value().length();
    // The character before the end.
    if (ec > 0) {
      --ec;
    } else if (el > 0) {
      to.next(-1);
      --el;
      ec = std::max(to.value().length() - 1, 0L);
    } else {
      continue;
    }
    to.goToCol(ec);
    from.next(e.line - from.line());
    from.goToCol(e.col);
    setAttr(from, to, e.bits);
  }
}

// A range of a text (text inserted by insertText): sequences are deleted
// through the scanning cursor, so the zones already made and the end of the
// range follow the deletions.
void Text::encodeAttrs(long line1, long col1, long line2, long col2) {
  if (size() == 0) return;
  if (line1 < 0 && col1 < 0 && line2 < 0 && col2 < 0) {
    encodeWholeText();
    return;
  }
  TextCursor scan(*this);
  scan.goTo(line1, col1);
  TextCursor endC(*this);
  endC.goTo(line2, col2);
  // Tabs were laid out with the sequences in the line: a line that lost
  // sequence bytes has its tabs laid out again for what remains.
  bool lineChanged = false;
  auto relayout = [&](TextCursor const& at) {
    if (!lineChanged) return;
    lineChanged = false;
    EditableTextCursor fix(at);
    fix.goToCol(0);
    fix.reAssignNextTab(0, at.value().count('\t'));
  };
  while (scan.valid() && scan.line() <= endC.line()) {
    String const& line = scan.value();
    long len = line.length();
    long stop = scan.line() == endC.line() ? std::min(static_cast<long>(endC.column()), len) : len;
    long col = line.index('\033', scan.column());
    if (col < 0 || col >= stop) {
      relayout(scan);
      scan.next(1);
      scan.goToCol(0);
      continue;
    }
    scan.goToCol(col);
    char const* p = toCharPtr(line) + col;
    if (len - col >= 4 && std::memcmp(p, kReset, 4) == 0) {
      scan.delChars(4);
      lineChanged = true;
      continue;
    }
    if (len - col < 2 || p[1] != '[') {
      scan.goToCol(col + 1);
      continue;
    }
    long seqLen = 0;
    int32_t bits = sequenceToAttrib(p, seqLen);
    if (bits <= 0) {  // not understood (or no attribute): the bytes stay
      scan.goToCol(col + std::max(seqLen, 1L));
      continue;
    }
    scan.delChars(seqLen);
    lineChanged = true;
    // The zone runs to the character before the next reset, or to the
    // character before the end of the range.
    TextCursor zoneEnd(scan);
    long rl, rc;
    long endLine = endC.line();
    long endCol = endC.column();
    if (findReset(scan, endLine, endCol, rl, rc)) {
      zoneEnd.next(rl - scan.line());
      zoneEnd.goToCol(rc);
    } else {
      // An end at the line's end does not move with deletions: clamp it.
      zoneEnd.next(endLine - scan.line());
      zoneEnd.goToCol(std::min(endCol, zoneEnd.value().length()));
    }
    if (zoneEnd.column() > 0) {
      zoneEnd.goToCol(zoneEnd.column() - 1);
    } else if (zoneEnd.line() > 0) {
      zoneEnd.next(-1);
      zoneEnd.goToCol(std::max(zoneEnd.value().length() - 1, 0L));
    } else {
      continue;  // nothing lies before the end
    }
    setAttr(scan, zoneEnd, bits);
  }
}

String Text::decodeAttrs(TextCursor const& at, int32_t& prevAttrib, long count) {
  if (!at.valid()) return String();
  String const& line = at.value();
  long len = line.length();
  long col = at.column();
  long end = count < 0 ? len : std::min(len, col + count);
  if (col < 0 || col >= end) return String();
  std::string out;
  char const* p = toCharPtr(line);
  TextCursor pos(at);
  while (col < end) {
    pos.goToCol(col);
    long lastCol = kEndCol;
    int32_t a = getAttr(pos, lastCol) & kStoredBits;
    long runEnd = std::min(lastCol, end - 1);
    if (runEnd < col) runEnd = col;
    if (a != prevAttrib) {
      if (prevAttrib != 0) out += kReset;
      String seq = attribToSequence(a);
      out.append(toCharPtr(seq), static_cast<size_t>(seq.length()));
      prevAttrib = a;
    }
    out.append(p + col, static_cast<size_t>(runEnd - col + 1));
    col = runEnd + 1;
  }
  return fromStd(out);
}
