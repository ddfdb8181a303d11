// Editing a text: writing it back byte for byte, region copy, insertion and
// deletion, and the cursor primitives that keep the tab layout (each tab at
// the last column of its stop, preceded by the fill bytes that reach it).
#include <winkit/EditText.h>

#include <zfound/CharClass.h>
#include <zfound/FileOps.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr char kFill = 0x1F;
// A column past the end of any line.
constexpr long kLineEnd = String::kMaxLength + 1;

long tabsIn(String const& s) { return std::max(s.count('\t'), 0L); }

int cmpPos(long l1, long c1, long l2, long c2) {
  if (l1 != l2) return l1 < l2 ? -1 : 1;
  if (c1 != c2) return c1 < c2 ? -1 : 1;
  return 0;
}

long lineLength(Text& t, long line) {
  ListNode* n = t.nodeAt(line);
  return n ? static_cast<StringN*>(n)->str.length() : 0;
}

}  // namespace

// ---- EditableText ---------------------------------------------------------

EditableText::EditableText(String const& name) : Text(name) { type_ |= TextEditable; }

EditableText::EditableText() { type_ |= TextEditable; }

EditableText::EditableText(String const& command, bool deferRead) : Text(command, deferRead) {
  type_ |= TextEditable;
}

void EditableText::deActivate() {
  bool wasActive = active_;
  Text::deActivate();
  if (wasActive && !active_) type_ = TextEditable;
}

// Replaces the whole content of fd: the space reserved first (so a full
// disk is found before a byte changes), written from offset 0, cut to its
// length, synced. A failure before the first byte leaves the file as it was.
bool EditableText::rewriteFile(int fd, std::string const& data) {
  FileOps const& ops = fileOps();
  if (!data.empty()) {
    // The size stays: a failed write must not leave the file longer.
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(data.size())) != 0 &&
        (errno == ENOSPC || errno == EFBIG || errno == EIO || errno == EDQUOT))
      return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ops.pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += size_t(n);
  }
  // A device (a terminal, /dev/null) has no length to cut and nothing to sync.
  struct stat st;
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && ops.ftruncate(fd, static_cast<off_t>(data.size())) != 0) return false;
  return ops.fsync(fd) == 0 || (!regular && errno == EINVAL);
}

bool EditableText::store() {
  if (!active_) {
    errNo_ = EINVAL;
    return false;
  }
  std::string data;
  TextCursor c(*this);
  int32_t prev = 0;
  for (c.goToFirst(); c.valid(); ++c) {
    c.goToCol(0);
    String line = decodeTabs(decodeAttrs(c, prev, -1));
    if (!line.isNull()) data.append(toCharPtr(line), static_cast<size_t>(line.length()));
    data += '\n';
  }
  // The file is rewritten in place, never truncated first: a write that
  // fails leaves the old contents (a full disk is found before any byte).
  FileOps const& ops = fileOps();
  int fd = ops.open(toCharPtr(name_), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    errNo_ = errno;
    return false;
  }
  int err = rewriteFile(fd, data) ? 0 : (errno ? errno : EIO);
  if (ops.close(fd) != 0 && err == 0) err = errno ? errno : EIO;
  if (err != 0) {
    errNo_ = err;
    return false;
  }
  markStored();
  return true;
}

void EditableText::markStored() {
  errNo_ = 0;
  stored_ = true;
  type_ = TextEditable;
  resetModif();
}

bool EditableText::insertText(StringList& lines, EditableTextCursor& at) {
  if (at.list() != this) return false;
  if (lines.size() == 0) return true;
  long l0 = at.line(), c0 = at.column();
  String first = lines.first();
  at.makeLine();
  at.delFillTabs();
  at.insRaw(first);
  // Marks the end of the inserted characters; it follows later edits.
  TextCursor end(at);
  end.goToCol(c0 + first.length());
  if (lines.size() == 1) {
    at.reAssignNextTab(c0, tabsIn(first) + 1);
    encodeAttrs(l0, c0, end.line(), end.column());
    at.goTo(l0, c0);
    return true;
  }
  at.goToCol(end.column());
  at.insNewLine(false);
  String last = lines.last();
  at.goToCol(0);
  at.insRaw(last);
  end = at;
  end.goToCol(last.length());
  StringListCursor li(lines);
  for (++li; li.valid() && li.order() < lines.size() - 1; ++li) at.ins(li.value());
  at.goToCol(0);
  at.reAssignNextTab(0, tabsIn(last) + 1);
  EditableTextCursor mid(at);
  for (long l = l0 + 1; l < at.line(); ++l) {
    mid.goTo(l, 0);
    mid.reAssignNextTab(0, tabsIn(mid.value()));
  }
  mid.goTo(l0, c0);
  mid.reAssignNextTab(c0, tabsIn(first) + 1);
  encodeAttrs(l0, c0, end.line(), end.column());
  at.goTo(l0, c0);
  return true;
}

bool EditableText::getRegion(StringList& out, TextCursor const& from, TextCursor const& to, bool inclusiveEnd) {
  if (from.list() != this || to.list() != this || !from.valid() || size() == 0) return false;
  long l2, cEnd;  // cEnd: the column after the last one copied
  if (!to.valid()) {
    l2 = size() - 1;
    cEnd = lineLength(*this, l2);
    if (cmpPos(from.line(), from.column(), l2, cEnd) >= 0) return false;
  } else {
    if (from.cmp(to) >= 0) return false;
    l2 = to.line();
    cEnd = to.column() + (inclusiveEnd ? 1 : 0);
  }
  int32_t prev = 0;
  TextCursor c(from);
  if (from.line() == l2) {
    out.add(decodeAttrs(c, prev, cEnd - from.column()));
    return true;
  }
  out.add(decodeAttrs(c, prev, -1));
  for (long l = from.line() + 1; l < l2; ++l) {
    c.goTo(l, 0);
    out.add(decodeAttrs(c, prev, -1));
  }
  c.goTo(l2, 0);
  out.add(decodeAttrs(c, prev, cEnd));
  return true;
}

bool EditableText::delRegion(EditableTextCursor& from, TextCursor& to, bool remove, bool exclusiveEnd) {
  if (from.list() != this || to.list() != this || !from.valid() || size() == 0) return false;
  long l2, c2;
  if (!to.valid()) {
    l2 = size() - 1;
    c2 = lineLength(*this, l2) - 1;
    if (cmpPos(from.line(), from.column(), l2, c2 + 1) >= 0) return false;
  } else {
    if (from.cmp(to) >= 0) return false;
    l2 = to.line();
    c2 = to.column();
    if (exclusiveEnd) {
      if (c2 > 0) {
        --c2;
      } else {
        // The end of the line above: its line end belongs to the region.
        --l2;
        c2 = lineLength(*this, l2);
      }
    }
  }
  from.delTo(l2, std::max(c2, 0L), true, remove);
  return true;
}

// ---- EditableTextCursor ---------------------------------------------------

void EditableTextCursor::makeLine() {
  if (!node_ && list_) set(String());
}

void EditableTextCursor::setChar(char c) {
  makeLine();
  if (!node_) return;
  if (value().setChar(c, column_)) list_->setModif();
}

char EditableTextCursor::getChar() const { return node_ ? value()[column_] : 0; }

void EditableTextCursor::insRaw(String const& s) {
  makeLine();
  for (long i = s.length() - 1; i >= 0; --i)
    if (!insChar(s[i])) break;
}

void EditableTextCursor::insString(String const& s) {
  makeLine();
  if (!node_) return;
  delFillTabs();
  long col = column_;
  insRaw(s);
  reAssignNextTab(col, tabsIn(s) + 1);
}

void EditableTextCursor::delFillTabs() {
  if (!node_) return;
  String& s = value();
  bool changed = false;
  for (long i = std::min(static_cast<long>(column_), s.length()) - 1; i >= 0 && s[i] == kFill; --i) {
    s.setChar(' ', i);
    changed = true;
  }
  if (changed) list_->setModif();
}

void EditableTextCursor::reAssignNextTab(long from, long count) {
  if (!node_) return;
  long tab = Text::tabSize();
  int32_t saved = column_;
  long pos = std::max(from, 0L);
  for (long k = 0; k < count; ++k) {
    String const& s = value();
    long t = s.index('\t', pos);
    if (t < 0) break;
    long f = t;
    while (f > pos && s[f - 1] == kFill) --f;
    long want = tab - f % tab - 1;  // fill bytes the run starting at f must hold
    long have = t - f;
    column_ = static_cast<int32_t>(f);
    bool ok = true;
    for (; have > want; --have) delChar();
    for (; have < want && ok; ++have) ok = insChar(kFill);
    if (!ok) break;
    pos = f + want + 1;
  }
  column_ = saved;
}

void EditableTextCursor::del() {
  if (!node_) return;
  long line = order_, col = column_;
  Text* t = text();
  if (t) {
    // The line's zones go with it instead of moving onto the next line,
    // those that start past its last character (or on an empty line) too.
    TextCursor a(*this), b(*this);
    a.goToCol(0);
    b.goToCol(kLineEnd);
    t->delAttr(a, b, -1);
  }
  BaseListCursor::del();
  TextCursor::goTo(line, col);
}

bool EditableTextCursor::delRange(long first, long last, bool remove) {
  if (!node_) return false;
  long len = value().length();
  first = std::max(first, 0L);
  last = std::min(last, len - 1);
  if (first > last) return false;
  column_ = static_cast<int32_t>(first);
  delFillTabs();
  bool changed = false;
  if (remove || last >= len - 1) {
    changed = delChars(last - first + 1) > 0;
  } else {
    String& s = value();
    for (long i = first; i <= last; ++i) changed |= s.setChar(' ', i);
    if (changed) list_->setModif();
  }
  reAssignNextTab(first, 1);
  column_ = static_cast<int32_t>(first);
  return changed;
}

void EditableTextCursor::delTo(long line, long col, bool join, bool remove) {
  long l1 = order_, c1 = column_, l2 = line, c2 = col;
  if (cmpPos(l1, c1, l2, c2) > 0) {
    std::swap(l1, l2);
    std::swap(c1, c2);
  }
  TextCursor::goTo(l1, c1);
  if (!node_) return;
  bool joinBoth = join && remove;
  // A range reaches a line's end when it covers the column after the last
  // character; only then does the line end (and the next line) go with it.
  if (l1 == l2) {
    long len = value().length();
    if (joinBoth && c1 == 0 && c2 >= len) {
      del();
      return;
    }
    bool reachedEnd = c2 >= len;
    delRange(c1, c2, remove);
    if (reachedEnd && joinBoth) {
      if (c1 > value().length()) value().setChar(' ', c1 - 1);  // pad up to the cursor
      joinLines();
    }
    column_ = static_cast<int32_t>(c1);
    return;
  }
  // The lines between.
  TextCursor::goTo(l1 + 1, 0);
  for (long l = l1 + 1; l < l2 && node_; ++l) {
    if (remove) {
      del();
    } else {
      delRange(0, value().length() - 1, true);
      TextCursor::goTo(order_ + 1, 0);
    }
  }
  if (remove) l2 = l1 + 1;
  // The last line up to col.
  TextCursor::goTo(l2, 0);
  bool joinAfter = false;
  if (node_) {
    long lastLen = value().length();
    joinAfter = joinBoth && c2 >= lastLen;
    delRange(0, c2, remove);
  }
  // The first line from the cursor on.
  TextCursor::goTo(l1, c1);
  long firstLen = value().length();
  if (c1 < firstLen) delRange(c1, firstLen - 1, remove);
  if (remove) {
    if (c1 > value().length()) value().setChar(' ', c1 - 1);
    joinLines();
    if (joinAfter) joinLines();
  }
  column_ = static_cast<int32_t>(c1);
}

bool EditableTextCursor::joinLines() {
  if (!node_ || !list_ || node_ == list_->tail()) return false;
  ListNode* nx = node_->next;
  String& cur = value();
  String const& nextLine = static_cast<StringN*>(nx)->str;
  long len = cur.length();
  if (len + nextLine.length() > String::kMaxLength) return false;  // would not fit: nothing lost
  cur += nextLine;
  for (BaseListCursor* o = list_->listCursorHead(); o; o = o->nextCursor()) {
    if (o == this || o->node() != nx) continue;
    o->place(node_, order_);
    if (auto t = dynamic_cast<TextCursor*>(o)) t->goToCol(t->column() + len);
  }
  list_->delNode(nx, order_ + 1);
  column_ = static_cast<int32_t>(len);
  list_->setModif();
  // The joined part's first tab was laid out for column 0; the rest follows it.
  reAssignNextTab(len, 1);
  return true;
}

bool EditableTextCursor::backTab() {
  if (getChar() != '\t') return false;
  while (column_ > 0 && value()[column_ - 1] == kFill) {
    --column_;
    delChar();
  }
  return true;
}

void EditableTextCursor::rebuildTab(String& s) {
  column_ = static_cast<int32_t>(std::max(column_ - s.length(), 0L));
  for (long i = 0; i < s.length(); ++i) {
    setChar(s[i]);
    ++column_;
  }
}

String EditableTextCursor::findIndentSpace() const {
  if (!node_) return String();
  String const& s = value();
  long n = 0;
  while (n < s.length() && (s[n] == kFill || isSpaceChar(s[n]))) ++n;
  return n > 0 ? String(s, n) : String();
}

long EditableTextCursor::insNewLine(bool indent) {
  if (!list_) return 0;
  if (!node_) {
    makeLine();
    next(1);
    column_ = 0;
    return 0;
  }
  String& s = value();
  long len = s.length();
  if (column_ == 0 && len > 0) {
    ins(String());
    return 0;
  }
  String prefix = indent ? findIndentSpace() : String();
  long c = column_;
  if (c >= len) {
    if (c > len) s.setChar(' ', c - 1);  // pad up to the cursor
    add(prefix);
  } else {
    delFillTabs();
    String rest(value()(c, len - c));
    value() = String(value(), c);
    add(prefix + rest);
  }
  list_->setModif();
  ListNode* newNode = node_->next;
  long shift = prefix.length() - c;
  for (BaseListCursor* o = list_->listCursorHead(); o; o = o->nextCursor()) {
    if (o == this || o->node() != node_) continue;
    auto t = dynamic_cast<TextCursor*>(o);
    if (!t || t->column() < c) continue;
    o->place(newNode, order_ + 1);
    t->goToCol(t->column() + shift);
  }
  next(1);
  column_ = static_cast<int32_t>(prefix.length());
  reAssignNextTab(column_, 1);
  return column_;
}
