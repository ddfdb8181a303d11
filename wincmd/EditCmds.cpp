// The editing commands, registered in the order of their table.
//
// Every command works on the desktop's current editable view (the EditCmd
// base beeps in a view that cannot edit).
#include <winkit/EditCmds.h>

#include <winkit/EditView.h>
#include <winkit/WinApp.h>

#include <zfound/CharClass.h>

using winkit_cmd::bindDefault;

ZF_WINCMD_DEFINE(EditInsChar)
ZF_WINCMD_REGISTER(EditInsChar, 0x8F)
ZF_WINCMD_DEFINE(EditInsAsciiChar)
ZF_WINCMD_REGISTER(EditInsAsciiChar, 0x9B23)
ZF_WINCMD_DEFINE(EditDelChar)
ZF_WINCMD_REGISTER(EditDelChar, 0x90)
ZF_WINCMD_DEFINE(EditDelLine)
ZF_WINCMD_REGISTER(EditDelLine, 0x9A64)
ZF_WINCMD_DEFINE(EditDelWord)
ZF_WINCMD_REGISTER(EditDelWord, 0x9A77)
ZF_WINCMD_DEFINE(EditDelEndOfLine)
ZF_WINCMD_REGISTER(EditDelEndOfLine, 0x9A65)
ZF_WINCMD_DEFINE(EditBackSpace)
ZF_WINCMD_REGISTER(EditBackSpace, 0x8D)
ZF_WINCMD_DEFINE(EditEnter)
ZF_WINCMD_REGISTER(EditEnter, 0x84)
ZF_WINCMD_DEFINE(EditAddNewLine)
ZF_WINCMD_REGISTER(EditAddNewLine, 0x9A6F)
ZF_WINCMD_DEFINE(EditInsNewLine)
ZF_WINCMD_REGISTER(EditInsNewLine, 0x9A4F)
ZF_WINCMD_DEFINE(EditJoinLines)
ZF_WINCMD_REGISTER(EditJoinLines, 0x9A6A)
ZF_WINCMD_DEFINE(EditTab)
ZF_WINCMD_REGISTER(EditTab, 0x92)
ZF_WINCMD_DEFINE(EditBackTab)
ZF_WINCMD_REGISTER(EditBackTab, 0x9A8D)
ZF_WINCMD_DEFINE(ChgInsMode)
ZF_WINCMD_REGISTER(ChgInsMode, 0x8F)
ZF_WINCMD_DEFINE(ChgCtrolMode)
ZF_WINCMD_REGISTER(ChgCtrolMode, 0x9A6C)

namespace {

constexpr char kFill = 0x1F;

// n characters of s from `from` (null when there are none).
String piece(String const& s, long from, long n) {
  if (from < 0 || n <= 0 || from + n > s.length()) return String();
  return String(toCharPtr(s) + from, n);
}

// The cursor's line (null without one).
String lineAt(TextCursor const& c) { return c.valid() ? c.value() : String(); }

// The character at col of the cursor's line, 0 past its end or without one.
char charAt(TextCursor const& c, long col) {
  if (!c.valid() || col < 0 || col >= c.value().length()) return 0;
  return c.value()[col];
}

// The tab cell before a tab or fill byte at col: the b = col mod tab size
// characters that begin at col - b (null when b is 0).
String tabCell(TextCursor const& c, long col) {
  long b = col % Text::tabSize();
  return b > 0 ? piece(lineAt(c), col - b, b) : String();
}

void rebuild(EditableTextCursor& c, String const& cell) {
  if (cell.isNull()) return;
  String s(cell);
  c.rebuildTab(s);
}

}  // namespace

#define EDIT_VIEW_OR_FALSE()                \
  EditableView* v = currEdView();           \
  if (!v) return cannotEdit();              \
  EditableTextCursor& cur = *v->edCursor(); \
  (void)cur

#define EDIT_VIEW_OR_RETURN()               \
  EditableView* v = currEdView();           \
  if (!v) return;                           \
  EditableTextCursor& cur = *v->edCursor(); \
  (void)cur

// ---- typing -------------------------------------------------------------

bool EditInsChar::redo() {
  EDIT_VIEW_OR_FALSE();
  long col = cur.column();
  insMode_ = v->inInsMode();
  under_ = charAt(cur, col);
  tabCell_ = charAt(cur, col - 1) == kFill ? tabCell(cur, col) : String();
  linesBefore_ = v->sizeOfText();
  if (cur.line() > linesBefore_ - 1) {
    addLine_ = linesBefore_ > 0 ? linesBefore_ - 1 : 0;
    TextCursor last(cur);
    last.goTo(addLine_);
    addCol_ = lineAt(last).length();
  } else {
    addLine_ = -1;
    long len = lineAt(cur).length();
    addCol_ = col > len ? len : -1;
  }
  v->insChar(key_);
  return true;
}

void EditInsChar::undo() {
  EDIT_VIEW_OR_RETURN();
  if (addLine_ < 0 && addCol_ < 0) {
    cur.moveCol(-1, false);
    cur.delChar();
    if (!insMode_ && under_ != kFill && under_ != 0) cur.insChar(under_);
    rebuild(cur, tabCell_);
    cur.reAssignNextTab(cur.column(), 1);
  } else if (addLine_ < 0) {
    long col = cur.column();
    cur.delRange(addCol_, col - 1, true);
    cur.goToCol(col - 1);
  } else {
    // The lines typing added go, then the padding it put on the old last line.
    long line = cur.line(), col = cur.column();
    EditableTextCursor d(cur);
    while (v->sizeOfText() > linesBefore_) {
      d.goTo(v->sizeOfText() - 1, 0);
      d.del();
    }
    if (linesBefore_ > 0) {
      d.goTo(addLine_, 0);
      long len = lineAt(d).length();
      if (len > addCol_) d.delRange(addCol_, len - 1, true);
    }
    cur.goTo(line, col > 0 ? col - 1 : 0);
  }
  v->getText().setModif();
  v->redraw();
}

// ---- deleting -------------------------------------------------------------

bool EditDelChar::redo() {
  EDIT_VIEW_OR_FALSE();
  long col = cur.column();
  ch_ = charAt(cur, col);
  tabCell_ = (ch_ == '\t' || ch_ == kFill) ? tabCell(cur, col) : String();
  long before = v->sizeOfText();
  v->delChar();
  joined_ = v->sizeOfText() < before;
  return ch_ != 0 || joined_;
}

void EditDelChar::undo() {
  EDIT_VIEW_OR_RETURN();
  long line = cur.line(), col = cur.column();
  if (ch_ != 0) {
    rebuild(cur, tabCell_);
    cur.insChar(ch_ == kFill ? '\t' : ch_);
    cur.reAssignNextTab(col, 2);
    cur.goToCol(col);
  } else if (joined_) {
    cur.insNewLine(false);
    cur.goTo(line, col);
  }
  v->getText().setModif();
  v->redraw();
}

bool EditDelLine::redo() {
  EDIT_VIEW_OR_FALSE();
  if (!cur.valid()) {
    v->delLine();  // beeps
    return false;
  }
  saved_ = cur.value();
  col_ = cur.column();
  long line = cur.line();
  v->delLine();
  v->goCursor(line, 0, false);
  return true;
}

void EditDelLine::undo() {
  EDIT_VIEW_OR_RETURN();
  long line = cur.line();
  v->insLine(Text::decodeTabs(saved_));
  v->goCursor(line, col_, false);
}

bool EditDelWord::redo() {
  EDIT_VIEW_OR_FALSE();
  col_ = cur.column();
  line_ = lineAt(cur);
  TextCursor next(cur);
  next.goTo(cur.line() + 1);
  next_ = lineAt(next);
  long before = v->sizeOfText();
  v->delWord();
  joined_ = v->sizeOfText() < before;
  return true;
}

void EditDelWord::undo() {
  EDIT_VIEW_OR_RETURN();
  if (!cur.valid()) return;
  cur.value() = line_;
  if (joined_) {
    EditableTextCursor n(cur);
    n.add(next_);
  }
  cur.goToCol(col_);
  v->getText().setModif();
  v->redraw();
}

bool EditDelEndOfLine::redo() {
  EDIT_VIEW_OR_FALSE();
  long col = cur.column();
  String line = lineAt(cur);
  tail_ = piece(line, col, line.length() - col);
  bool had = cur.valid();
  v->delEndOfLine();
  return had && !tail_.isNull();
}

void EditDelEndOfLine::undo() {
  EDIT_VIEW_OR_RETURN();
  if (!cur.valid() || tail_.isNull()) return;
  v->setLine(Text::decodeTabs(cur.value() + tail_));
}

bool EditBackSpace::redo() {
  EDIT_VIEW_OR_FALSE();
  line_ = cur.line();
  col_ = cur.column();
  ch_ = col_ > 0 ? charAt(cur, col_ - 1) : 0;
  tabCell_ = (ch_ == '\t' || ch_ == kFill) && col_ > 0 ? tabCell(cur, col_ - 1) : String();
  long before = v->sizeOfText();
  v->backSpace();
  joined_ = v->sizeOfText() < before;
  return true;
}

void EditBackSpace::undo() {
  EDIT_VIEW_OR_RETURN();
  if (joined_) {
    cur.insNewLine(false);
    cur.goTo(line_, col_);
  } else if (ch_ == '\t' || ch_ == kFill || ch_ == 0) {
    long col = cur.column();
    rebuild(cur, tabCell_);
    if (ch_ != 0) {
      cur.insChar('\t');
      cur.reAssignNextTab(col, 2);
    }
    cur.goToCol(col + 1);
  } else {
    long col = cur.column();
    cur.insChar(ch_);
    cur.goToCol(col + 1);
  }
  v->getText().setModif();
  v->redraw();
}

// ---- new lines --------------------------------------------------------------

namespace {

// Joins the cursor's line, less its first `count` characters (the
// indentation a new line got), onto the line above.
void unsplit(EditableView* v, long count) {
  EditableTextCursor& cur = *v->edCursor();
  cur.goToCol(0);
  if (count > 0) cur.delChars(count);
  v->backSpace();
}

}  // namespace

bool EditEnter::redo() {
  EDIT_VIEW_OR_FALSE();
  v->insNewLine(true);
  count_ = v->getCol();
  return true;
}

void EditEnter::undo() {
  EDIT_VIEW_OR_RETURN();
  unsplit(v, count_);
}

bool EditAddNewLine::redo() {
  EDIT_VIEW_OR_FALSE();
  line_ = cur.line();
  col_ = cur.column();
  v->goCursor(line_, lineAt(cur).length(), false);
  v->insNewLine(true);
  count_ = v->getCol();
  return true;
}

void EditAddNewLine::undo() {
  EDIT_VIEW_OR_RETURN();
  unsplit(v, count_);
  v->goCursor(line_, col_, false);
}

bool EditInsNewLine::redo() {
  EDIT_VIEW_OR_FALSE();
  line_ = cur.line();
  col_ = cur.column();
  v->goFirstNonSp();
  v->insNewLine(true);
  count_ = v->getCol();
  v->cursUp(1);
  return true;
}

void EditInsNewLine::undo() {
  EDIT_VIEW_OR_RETURN();
  // The split moved the line's text down one line; join it back up.
  v->goCursor(line_ + 1, 0, false);
  unsplit(v, count_);
  v->goCursor(line_, col_, false);
}

bool EditJoinLines::redo() {
  EDIT_VIEW_OR_FALSE();
  line_ = cur.line();
  col_ = cur.column();
  long before = v->sizeOfText();
  v->joinLines();
  return v->sizeOfText() < before;
}

void EditJoinLines::undo() {
  EDIT_VIEW_OR_RETURN();
  v->insNewLine(false);
  v->goCursor(line_, col_, false);
}

// ---- tabs and modes -----------------------------------------------------------

bool EditTab::redo() {
  EDIT_VIEW_OR_FALSE();
  if (v->inInsMode())
    v->tab();
  else
    v->cursRight(Text::tabSize(), false);
  return true;
}

void EditTab::undo() {
  EDIT_VIEW_OR_RETURN();
  if (v->inInsMode())
    v->backTab();
  else
    v->cursLeft(Text::tabSize(), false);
}

bool EditBackTab::redo() {
  EDIT_VIEW_OR_FALSE();
  String before = lineAt(cur);
  long col = cur.column();
  v->backTab();
  return cur.column() != col || cmp(lineAt(cur), before) != 0;
}

void EditBackTab::undo() {
  EDIT_VIEW_OR_RETURN();
  v->tab();
}

bool ChgInsMode::redo() {
  EDIT_VIEW_OR_FALSE();
  v->chgInsMode(true);
  return true;
}

void ChgInsMode::undo() {
  EDIT_VIEW_OR_RETURN();
  v->chgInsMode(false);
}

bool ChgCtrolMode::redo() {
  View* v = currView();
  if (!v) return cannotEdit();
  v->chgCtrolMode();
  return true;
}

void bindEditCmds(CmdBinding* b) {
  for (int c = 0; c < 255; ++c)
    if (_zfx_ctype[c + 1] & 0x57) b->bind(c, EditInsChar::cmdId);
  bindDefault<EditEnter>(b);
  bindDefault<EditAddNewLine>(b);
  bindDefault<EditInsNewLine>(b);
  bindDefault<EditJoinLines>(b);
  bindDefault<EditInsChar>(b);
  bindDefault<EditDelChar>(b);
  bindDefault<EditBackSpace>(b);
  bindDefault<EditDelLine>(b);
  bindDefault<EditDelWord>(b);
  bindDefault<EditDelEndOfLine>(b);
  bindDefault<EditInsAsciiChar>(b);
  bindDefault<EditTab>(b);
  bindDefault<EditBackTab>(b);
  bindDefault<ChgInsMode>(b);
  bindDefault<ChgCtrolMode>(b);
}
