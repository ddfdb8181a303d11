// The editable view's typing, tab, line and block operations.
//
// Each operation changes the text through the view's EditableTextCursor,
// then moves the cursor and redraws: the cursor's line alone when no origin
// moved and the line count stayed, the whole view otherwise.
#include <winkit/EditView.h>

#include <zfound/Assert.h>
#include <zfound/CharClass.h>

#include <algorithm>

namespace {

constexpr char kFill = 0x1F;

String fills(long n) { return n > 0 ? String(n, kFill) : String(); }

}  // namespace

Text* EditableView::editText(String const& name, Text* given) {
  if (given) return given;
  View* other = existText(name);
  if (other) {
    ZF_ASSERT(other->edText() != nullptr);
    return &other->getText();
  }
  return new EditableText(name);
}

EditableView::EditableView(String const& name, Text* text, TextCursor* cursor)
    : View(name, editText(name, text), cursor ? cursor : new EditableTextCursor()), block_(new TextCursor()) {
  flags_ |= FlagInsert;
}

EditableView::EditableView(String const& command, bool deferRead, Text* text, TextCursor* cursor)
    : View(command, deferRead, text ? text : new EditableText(command, deferRead),
           cursor ? cursor : new EditableTextCursor()),
      block_(new TextCursor()) {
  flags_ |= FlagInsert;
}

EditableView::~EditableView() { delete block_; }

EditableText* EditableView::edText() {
  ZF_ASSERT_TEXT(text_->edText() != nullptr, "text->edText() != ((void *) 0)");
  return text_->edText();
}

EditableTextCursor* EditableView::edCursor() {
  ZF_ASSERT_TEXT(cursor_->edTextCur() != nullptr, "_cursor->edTextCur() != ((void *) 0)");
  return cursor_->edTextCur();
}

bool EditableView::exit(bool force) {
  if (easyExit_) return true;
  if (dontExit_) return false;
  if (!text_->modif() || text_->isType(TextStream)) return true;
  return existActText() != nullptr && (force || viewNumber_ != 0);
}

void EditableView::_writeStLine() {
  View::_writeStLine();
  goTo(height_, 3);
  *this << (inInsMode() ? "Ins" : "Ovr");
}

void EditableView::chgInsMode(bool redrawStatus) {
  flags_ ^= FlagInsert;
  if (redrawStatus) writeStLine();
}

bool EditableView::store() {
  // A help view's text lives in memory only.
  if (helpView()) return false;
  return edText()->store();
}

bool EditableView::chgFileName(String const& name) {
  if (sameFile(name, text_->getTextName())) return true;
  View* other = existText(name);
  if (other && other != this) return false;
  text_->setFile(name, false);
  chgLabel(name);
  return true;
}

void EditableView::redrawAfterEdit() {
  text_->setModif();
  if (actOrigins())
    redraw();
  else
    redrawCurrLine();
}

// ---- typing -------------------------------------------------------------------

void EditableView::insChar(unsigned char uc) {
  char c = static_cast<char>(uc);
  if (c == '\t') return tab();
  EditableTextCursor& cur = *edCursor();
  long col = cur.column();
  if (col >= String::kMaxLength) {
    beep();
    return;
  }
  if (cur.valid()) {
    // A character that would not fit is refused before anything changes.
    long len = cur.value().length();
    char under = cur.getChar();
    long grows = col >= len ? col + 1 - len
                 : under == '\t' ? (inInsMode() ? Text::tabSize() : 0)
                 : (under != kFill && inInsMode()) ? 1 : 0;
    if (len + grows > String::kMaxLength) {
      beep();
      return;
    }
  }
  if (!cur.valid()) {
    cur.makeLine();
    cur.setChar(c);
  } else {
    long len = cur.value().length();
    char under = cur.getChar();
    if (col >= len) {
      cur.setChar(c);
    } else if (under == '\t') {
      cur.delFillTabs();
      if (inInsMode())
        cur.insRaw(fills(Text::tabSize() - 1));
      else
        cur.delChar();
      cur.insChar(c);
    } else if (under == kFill) {
      cur.delFillTabs();
      cur.delChar();
      cur.insChar(c);
    } else {
      if (!inInsMode()) cur.delChar();
      cur.insChar(c);
    }
    cur.reAssignNextTab(col, 1);
  }
  bool lastColumn = col - colOrigin_ >= width_ - 1;
  cur.goToCol(col + 1);
  text_->setModif();
  if (actOrigins() || lastColumn)
    redraw();
  else
    redrawCurrLine();
}

void EditableView::tab() {
  EditableTextCursor& cur = *edCursor();
  long ts = Text::tabSize();
  long col = cur.column();
  long stop = (col / ts + 1) * ts;
  if (!cur.valid()) {
    cur.makeLine();
    cur.value() = fills(stop - 1) + String("\t");
  } else {
    long len = cur.value().length();
    char under = cur.getChar();
    if (col > len) cur.value().setChar(' ', col - 1);
    if (under == kFill) cur.delFillTabs();
    cur.insRaw(String("\t"));
    cur.reAssignNextTab(col, 2);
  }
  cur.goToCol(stop);
  text_->setModif();
  if (actOrigins())
    redraw();
  else
    redrawCurrLine();
}

void EditableView::delChar() {
  EditableTextCursor& cur = *edCursor();
  if (!cur.valid()) return;
  long col = cur.column();
  long len = cur.value().length();
  if (col >= len) {
    TextCursor next(cur);
    next.goTo(cur.line() + 1, 0);
    // A join that would pass the line limit is refused.
    if (next.valid() && std::max(col, len) + next.value().length() > String::kMaxLength) {
      beep();
      return;
    }
    if (col > len) cur.value().setChar(' ', col - 1);
    cur.joinLines();
    cur.goToCol(col);
    text_->setModif();
    redraw();
    return;
  }
  char under = cur.getChar();
  if (under == '\t') {
    cur.delFillTabs();
    if (cur.value()[col + 1] == kFill && col + 1 < len)
      cur.delChars(Text::tabSize());
    else
      cur.delChar();
  } else if (under == kFill) {
    cur.delFillTabs();
    long t = cur.value().index('\t', col);
    cur.delChars(t < 0 ? 1 : t - col + 1);
  } else {
    cur.delChar();
  }
  cur.reAssignNextTab(col, 1);
  cur.goToCol(col);
  redrawAfterEdit();
}

void EditableView::backSpace() {
  EditableTextCursor& cur = *edCursor();
  if (!cur.valid()) return cursLeft(1);
  long col = cur.column();
  if (col > 0) {
    cur.goToCol(col - 1);
    // In the blank past the line end there is nothing to delete: only a
    // move, never a join with the next line.
    if (col - 1 >= cur.value().length()) return endMove(actOrigins());
    actOrigins();
    return delChar();
  }
  if (cur.line() == 0) {
    beep();
    return;
  }
  cur.goTo(cur.line() - 1);
  if (!cur.joinLines()) {
    // The joined line would pass the line limit: nothing changes.
    cur.goTo(cur.line() + 1, 0);
    beep();
    return;
  }
  text_->setModif();
  actOrigins();
  redraw();
}

void EditableView::backTab() {
  if (edCursor()->backTab()) redrawAfterEdit();
}

void EditableView::insNewLine(bool indent) {
  edCursor()->insNewLine(indent);
  text_->setModif();
  colOrigin_ = 0;
  actOrigins();
  redraw();
}

void EditableView::delLine() {
  EditableTextCursor& cur = *edCursor();
  if (!cur.valid()) {
    beep();
    return;
  }
  cur.del();
  text_->setModif();
  redraw();
}

void EditableView::insLine(String const& line) {
  EditableTextCursor& cur = *edCursor();
  String s = Text::encodeTabs(line);
  if (cur.valid()) {
    long l = cur.line();
    cur.ins(s);
    cur.goTo(l);
  } else {
    cur.set(s);
  }
  text_->setModif();
  actOrigins();
  redraw();
}

void EditableView::setLine(String const& line) {
  edCursor()->set(Text::encodeTabs(line));
  redrawAfterEdit();
}

void EditableView::joinLines() {
  if (edCursor()->joinLines()) {
    actOrigins();
    redraw();
  }
}

void EditableView::delWord() {
  EditableTextCursor& cur = *edCursor();
  if (!cur.valid()) return;
  long line = cur.line(), col = cur.column(), len = cur.value().length();
  long l, c;
  if (!findNextWord(1, l, c)) return;
  if (l == line) {
    if (c > col) cur.delRange(col, c - 1, true);
  } else if (col < len) {
    return delEndOfLine();
  } else if (l == line + 1) {
    if (col > len) cur.value().setChar(' ', col - 1);
    cur.joinLines();
    if (c > 0) cur.delRange(col, col + c - 1, true);
  } else {
    EditableTextCursor next(cur);
    next.goTo(line + 1, 0);
    next.del();
  }
  cur.goTo(line, col);
  text_->setModif();
  redraw();
}

void EditableView::delEndOfLine() {
  EditableTextCursor& cur = *edCursor();
  if (!cur.valid()) {
    beep();
    return;
  }
  long col = cur.column();
  cur.delRange(col, cur.value().length() - 1, true);
  cur.goToCol(col);
  redrawAfterEdit();
}

// ---- blocks and regions -----------------------------------------------------------

bool EditableView::regionEnds(TextCursor const& mark, TextCursor& from, TextCursor& to, bool& inclusive) const {
  if (mark.list() != text_ || !mark.valid() || mark.cmp(*cursor_) == 0) return false;
  bool markFirst = mark.cmp(*cursor_) < 0;
  from = markFirst ? mark : *cursor_;
  to = markFirst ? *cursor_ : mark;
  inclusive = !markFirst;
  return true;
}

void EditableView::setAttribute(TextCursor& mark, long bits) {
  TextCursor from, to;
  bool inclusive;
  if (!regionEnds(mark, from, to, inclusive)) return;
  if (!inclusive) {
    if (to.column() > 0) {
      to.goToCol(to.column() - 1);
    } else {
      to.goTo(to.line() - 1);
      if (!to.valid()) return;
      to.goToCol(std::max(to.value().length(), 1L) - 1);
    }
  }
  if (!to.valid()) to.goTo(text_->nLines() - 1, std::max(text_->last().length(), 1L) - 1);
  text_->setAttr(from, to, static_cast<int32_t>(bits));
}

void EditableView::delAttribute(TextCursor& mark, long bits) {
  TextCursor from, to;
  bool inclusive;
  if (!regionEnds(mark, from, to, inclusive)) return;
  if (!to.valid()) to.goTo(text_->nLines() - 1);
  to.goToCol(std::max(to.column(), to.valid() ? to.value().length() : 0L));
  text_->delAttr(from, to, static_cast<int32_t>(bits));
}

void EditableView::blockOn(bool redrawNow) {
  if (!hasBlock()) return;
  setAttribute(*block_, AttrDisplayMark);
  if (redrawNow) redraw();
}

void EditableView::blockOff(bool redrawNow) {
  if (text_->nLines() > 0) {
    TextCursor a(*text_), b(*text_);
    b.goTo(text_->nLines() - 1, std::max(text_->last().length(), 1L));
    text_->delAttr(a, b, AttrDisplayMark);
  }
  if (redrawNow) redraw();
}

void EditableView::showBlock() {
  if (!hasBlock()) return;
  blockOff(false);
  blockOn(true);
}

void EditableView::beginBlock() {
  if (!cursor_->valid()) {
    beep();
    return;
  }
  if (hasBlock()) delBlock(false);
  *block_ = *cursor_;
  blockOn(true);
}

void EditableView::setBlock(TextCursor& mark) {
  if (hasBlock()) delBlock(false);
  *block_ = mark;
  blockOn(true);
}

void EditableView::delBlock(bool redrawNow) {
  if (!hasBlock()) return;
  blockOff(false);
  block_->clear();
  if (redrawNow) redraw();
}

bool EditableView::getRegion(StringList& out, TextCursor& mark) {
  TextCursor from, to;
  bool inclusive;
  if (!regionEnds(mark, from, to, inclusive)) return false;
  return edText()->getRegion(out, from, to, inclusive);
}

bool EditableView::delRegion(TextCursor& mark, bool remove) {
  TextCursor from, to;
  bool inclusive;
  if (!regionEnds(mark, from, to, inclusive)) return false;
  EditableTextCursor start(from);
  bool ok = edText()->delRegion(start, to, remove, !inclusive);
  if (ok) {
    cursor_->goTo(from.line(), from.column());
    text_->setModif();
    actOrigins();
    redraw();
  }
  return ok;
}

bool EditableView::insertText(StringList& lines) {
  bool ok = edText()->insertText(lines, *edCursor());
  if (!ok) return false;
  text_->setModif();
  if (lines.size() == 1 && !actOrigins())
    redrawCurrLine();
  else
    redraw();
  return true;
}

long EditableView::insertFile(String const& name) {
  EditableText file;
  file.setFile(name, false);
  file.activate();
  long n = file.nLines();
  if (n == 0) return 0;
  StringList lines;
  TextCursor first(file);
  TextCursor end;  // no line: the end of the text
  end = file;
  end.goTo(n);
  if (!file.getRegion(lines, first, end, false)) return 0;
  EditableTextCursor& cur = *edCursor();
  if (!cur.valid()) cur.makeLine();
  long l0 = cur.line();
  StringListCursor li(lines);
  for (; li.valid(); ++li) cur.ins(li.value());
  cur.goTo(l0, cur.column());
  text_->encodeAttrs(l0, 0, l0 + n - 1, String::kMaxLength);
  text_->setModif();
  redraw();
  return n;
}
