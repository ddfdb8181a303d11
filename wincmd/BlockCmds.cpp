// The block commands, registered in the order of their table.
//
// Positions are (line, column) of the view's text. The BlockCmd base has
// removed the mark before redo runs and passes a copy of the anchor; it
// lays the mark again when redo answers false.
#include <winkit/BlockCmds.h>

#include <winkit/EditView.h>
#include <winkit/WinApp.h>

#include <zfound/Assert.h>

using winkit_cmd::bindDefault;
using winkit_cmd::deskEdView;

ZF_WINCMD_DEFINE(BlockBegin)
ZF_WINCMD_REGISTER(BlockBegin, 0x9A9A)
ZF_WINCMD_DEFINE(BlockEndMode)
ZF_WINCMD_REGISTER(BlockEndMode, 0x81)
ZF_WINCMD_DEFINE(BlockCopy)
ZF_WINCMD_REGISTER(BlockCopy, 0x9A8F)
ZF_WINCMD_DEFINE(BlockCut)
ZF_WINCMD_REGISTER(BlockCut, 0x9A90)
ZF_WINCMD_DEFINE(BlockPaste)
ZF_WINCMD_REGISTER(BlockPaste, 0x9A84)
ZF_WINCMD_DEFINE(BlockDelete)
ZF_WINCMD_REGISTER(BlockDelete, 0x9A44)
ZF_WINCMD_DEFINE(BlockClear)
ZF_WINCMD_REGISTER(BlockClear, 0x9A20)

namespace {

StringList& clipboard() {
  ZF_ASSERT_TEXT(WinApp::clipboard != nullptr, "clipboard != (0)");
  return *WinApp::clipboard;
}

// Writes a list as one record of the log.
void save(Log& log, StringList& lines) {
  log.openOutput();
  log.put(lines);
  log.closeOutput();
}

// Reads the log's last record into `lines` (appended) and drops it.
void restore(Log& log, StringList& lines) {
  log.openInput();
  log.get(lines);
  log.closeInput();
}

// The clipboard as it is now, into the log.
void saveClipboard(Log& log) {
  StringList old(clipboard());
  save(log, old);
}

void restoreClipboard(Log& log) {
  clipboard().delAll();
  restore(log, clipboard());
}

bool after(long l1, long c1, long l2, long c2) { return l1 > l2 || (l1 == l2 && c1 > c2); }

}  // namespace

bool BlockBegin::redo() {
  EditableView* v = deskEdView(app_);
  if (!v) {
    app_->beep();
    return false;
  }
  v->beginBlock();
  return v->hasBlock();
}

void BlockBegin::undo() {
  if (EditableView* v = deskEdView(app_)) v->delBlock(true);
}

bool BlockEndMode::redo(TextCursor&) {
  currEdView()->writeStLine();
  return true;
}

bool BlockCopy::redo(TextCursor& anchor) {
  EditableView* v = currEdView();
  saveClipboard(log_);
  clipboard().delAll();
  v->getRegion(clipboard(), anchor);
  return true;
}

void BlockCopy::undo() { restoreClipboard(log_); }

bool BlockCut::redo(TextCursor& anchor) {
  EditableView* v = currEdView();
  saveClipboard(log_);
  curLine_ = v->getRow();
  curCol_ = v->getCol();
  clipboard().delAll();
  v->getRegion(clipboard(), anchor);
  long a = anchor.line(), b = anchor.column();
  v->delRegion(anchor, true);
  if (after(curLine_, curCol_, a, b)) v->goCursor(a, b, false);
  return true;
}

void BlockCut::undo() {
  EditableView* v = currEdView();
  v->insertText(clipboard());
  v->goCursor(curLine_, curCol_, false);
  restoreClipboard(log_);
}

bool BlockPaste::redo() {
  EditableView* v = currEdView();
  StringList& clip = clipboard();
  if (clip.size() == 0) return false;
  long n = clip.size();
  long lastLen = clip.last().length();
  long l = v->getRow(), c = v->getCol();
  if (!v->insertText(clip)) return false;
  endLine_ = l + n - 1;
  endCol_ = n == 1 ? c + lastLen - 1 : lastLen - 1;
  return true;
}

void BlockPaste::undo() {
  EditableView* v = currEdView();
  EditableTextCursor from(*v->edCursor());
  from.delTo(endLine_, endCol_, false, true);
  v->getText().setModif();
  v->redraw();
}

bool BlockDelete::redo(TextCursor& anchor) {
  EditableView* v = currEdView();
  StringList region;
  v->getRegion(region, anchor);
  save(log_, region);
  curLine_ = v->getRow();
  curCol_ = v->getCol();
  long a = anchor.line(), b = anchor.column();
  bool cursorAfter = after(curLine_, curCol_, a, b);
  v->delRegion(anchor, true);
  if (cursorAfter) v->goCursor(a, b, false);
  return true;
}

void BlockDelete::undo() {
  EditableView* v = currEdView();
  StringList region;
  restore(log_, region);
  v->insertText(region);
  v->goCursor(curLine_, curCol_, false);
}

bool BlockClear::redo(TextCursor& anchor) {
  EditableView* v = currEdView();
  StringList region;
  v->getRegion(region, anchor);
  save(log_, region);
  curLine_ = v->getRow();
  curCol_ = v->getCol();
  ancLine_ = anchor.line();
  ancCol_ = anchor.column();
  v->delRegion(anchor, false);
  return true;
}

void BlockClear::undo() {
  EditableView* v = currEdView();
  // Blanking keeps every position, so the blanked area lies between the
  // same two places: remove it, joining, and put the region back.
  v->goCursor(curLine_, curCol_, false);
  TextCursor mark(v->getCursor());
  mark.goTo(ancLine_, ancCol_);
  v->delRegion(mark, true);
  if (after(v->getRow(), v->getCol(), ancLine_, ancCol_)) v->goCursor(ancLine_, ancCol_, false);
  StringList region;
  restore(log_, region);
  v->insertText(region);
  v->goCursor(curLine_, curCol_, false);
}

void bindBlockCmds(CmdBinding* b) {
  bindDefault<BlockBegin>(b);
  bindDefault<BlockEndMode>(b);
  bindDefault<BlockClear>(b);
  bindDefault<BlockDelete>(b);
  bindDefault<BlockCut>(b);
  bindDefault<BlockPaste>(b);
  bindDefault<BlockCopy>(b);
}
