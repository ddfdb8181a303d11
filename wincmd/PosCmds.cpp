// The cursor-movement commands, registered in the order of their table.
#include <winkit/PosCmds.h>

#include <winkit/View.h>

using winkit_cmd::bindDefault;

ZF_WINCMD_DEFINE(PosCursDown)
ZF_WINCMD_REGISTER(PosCursDown, 0x87)
ZF_WINCMD_DEFINE(PosCursUp)
ZF_WINCMD_REGISTER(PosCursUp, 0x85)
ZF_WINCMD_DEFINE(PosCursLeft)
ZF_WINCMD_REGISTER(PosCursLeft, 0x86)
ZF_WINCMD_DEFINE(PosPageUp)
ZF_WINCMD_REGISTER(PosPageUp, 0x89)
ZF_WINCMD_DEFINE(PosPageDown)
ZF_WINCMD_REGISTER(PosPageDown, 0x8B)
ZF_WINCMD_DEFINE(PosCursRight)
ZF_WINCMD_REGISTER(PosCursRight, 0x88)
ZF_WINCMD_DEFINE(PosWordRight)
ZF_WINCMD_REGISTER(PosWordRight, 0x9B88)
ZF_WINCMD_DEFINE(PosWordLeft)
ZF_WINCMD_REGISTER(PosWordLeft, 0x9B86)
ZF_WINCMD_DEFINE(PosBegOfLine)
ZF_WINCMD_REGISTER(PosBegOfLine, 0x9A86)
ZF_WINCMD_DEFINE(PosEndOfLine)
ZF_WINCMD_REGISTER(PosEndOfLine, 0x9A88)
ZF_WINCMD_DEFINE(PosBegOfFile)
ZF_WINCMD_REGISTER(PosBegOfFile, 0x9A89)
ZF_WINCMD_DEFINE(PosEndOfFile)
ZF_WINCMD_REGISTER(PosEndOfFile, 0x9A8B)
ZF_WINCMD_DEFINE(PosBegOfScr)
ZF_WINCMD_REGISTER(PosBegOfScr, 0x9A85)
ZF_WINCMD_DEFINE(PosMidOfScr)
ZF_WINCMD_REGISTER(PosMidOfScr, 0x9A6D)
ZF_WINCMD_DEFINE(PosEndOfScr)
ZF_WINCMD_REGISTER(PosEndOfScr, 0x9A87)

bool PosCursDown::redo() {
  currView()->cursDown(1);
  return true;
}

bool PosCursUp::redo() {
  currView()->cursUp(1);
  return true;
}

bool PosCursLeft::redo() {
  currView()->cursLeft(1, false);
  return true;
}

bool PosPageUp::redo() {
  currView()->pageUp(1);
  return true;
}

bool PosPageDown::redo() {
  currView()->pageDown(1);
  return true;
}

bool PosCursRight::redo() {
  currView()->cursRight(1, false);
  return true;
}

bool PosWordRight::redo() {
  currView()->wordRight(1);
  return true;
}

bool PosWordLeft::redo() {
  currView()->wordLeft(1);
  return true;
}

bool PosBegOfLine::redo() {
  View* v = currView();
  long c = v->getCol();
  if (c > 0) v->cursLeft(c, false);
  return true;
}

bool PosEndOfLine::redo() {
  View* v = currView();
  TextCursor& cur = v->getCursor();
  // No line, or an empty one, has length 0; the highest string is as long as
  // a text may be.
  long n = 0;
  if (cur.valid()) n = cur.value().isHighest() ? 0x7fffffffL : cur.value().length();
  long c = v->getCol();
  if (n > c) v->cursRight(n - c, false);
  return true;
}

bool PosBegOfFile::redo() {
  currView()->goToBegOfFile();
  return true;
}

bool PosEndOfFile::redo() {
  currView()->goToEndOfFile();
  return true;
}

bool PosBegOfScr::redo() {
  currView()->goToBegOfScreen();
  return true;
}

bool PosMidOfScr::redo() {
  currView()->goToMiddleOfScreen();
  return true;
}

bool PosEndOfScr::redo() {
  currView()->goToEndOfScreen();
  return true;
}

void bindPosCmds(CmdBinding* b) {
  bindDefault<PosCursDown>(b);
  bindDefault<PosCursUp>(b);
  bindDefault<PosCursLeft>(b);
  bindDefault<PosCursRight>(b);
  bindDefault<PosPageDown>(b);
  bindDefault<PosPageUp>(b);
  bindDefault<PosBegOfLine>(b);
  bindDefault<PosEndOfLine>(b);
  bindDefault<PosBegOfFile>(b);
  bindDefault<PosEndOfFile>(b);
  bindDefault<PosBegOfScr>(b);
  bindDefault<PosMidOfScr>(b);
  bindDefault<PosEndOfScr>(b);
  bindDefault<PosWordRight>(b);
  bindDefault<PosWordLeft>(b);
}
