// The command registry and the run of each command base.
#include <winkit/WinCmd.h>

#include <winkit/Desktop.h>
#include <winkit/EditView.h>
#include <winkit/WinApp.h>

#include <zfound/Assert.h>

#include <cstring>

namespace {

// Made on the first registration; a constant-initialised null pointer, so
// registrations from any module's static initialisation find it.
constinit CmdItem* commands = nullptr;

CmdItem* table() {
  if (!commands) commands = new CmdItem[WinCmd::kMaxCmds]();
  return commands;
}

bool inRange(long id) { return id >= 0 && id < WinCmd::kMaxCmds; }

}  // namespace

WinCmd::~WinCmd() = default;

long WinCmd::addCmd(char const* name, WinCmd* cmd) {
  if (!name) return -1;
  CmdItem* t = table();
  for (long i = 0; i < kMaxCmds; ++i) {
    if (!t[i].name) {
      t[i].name = name;
      t[i].cmd = cmd;
      return i;
    }
    if (std::strcmp(t[i].name, name) == 0) return i;
  }
  return -1;
}

long WinCmd::registerCmd(char const* name, WinCmd* cmd, long key, long& eventId) {
  long id = addCmd(name, cmd);
  eventId = id < 0 ? -1 : key != 0 ? key : (id | kNoKey);
  if (id >= 0 && commands[id].cmd == cmd) commands[id].eventId = eventId;
  return id;
}

WinCmd* WinCmd::getCmd(long id) { return inRange(id) && commands ? commands[id].cmd : nullptr; }

String WinCmd::getName(long id) {
  return inRange(id) && commands && commands[id].name ? String(commands[id].name) : String();
}

long WinCmd::findCmd(char const* name) {
  if (!name || !commands) return -1;
  for (long i = 0; i < kMaxCmds && commands[i].name; ++i)
    if (std::strcmp(commands[i].name, name) == 0) return i;
  return -1;
}

long WinCmd::getEventId(long id) { return inRange(id) && commands ? commands[id].eventId : -1; }

// --- view commands ------------------------------------------------------

void ViewCmd::execute(unsigned char key, WinApp* app) {
  ZF_ASSERT_TEXT(app != nullptr, "app != (0)");
  app_ = app;
  if (!currView()) {
    app->beep();
    return;
  }
  key_ = key;
  clear();
  _redo();
}

bool ViewCmd::cannotEdit() {
  app_->beep();
  return false;
}

View* ViewCmd::currView() const { return app_ ? app_->getDesktop()->currentOrNull() : nullptr; }

EditableView* ViewCmd::currEdView() const {
  View* v = currView();
  return v ? v->edView() : nullptr;
}

namespace {

// Runs `move` with a marked block lifted first and laid again from a copy
// of its anchor afterwards, so the region follows the cursor.
template <class F>
bool keepingBlock(EditableView* ev, F move) {
  if (ev && ev->hasBlock()) {
    TextCursor anchor(ev->getBlock());
    ev->delBlock(false);
    bool r = move();
    ev->setBlock(anchor);
    return r;
  }
  return move();
}

}  // namespace

bool PosCmd::_redo() {
  EditableView* ev = currEdView();
  View* v = currView();
  ZF_ASSERT_TEXT(ev != nullptr || v != nullptr, "(!(eview == (0)) || ( view != (0)))");
  line = v->getRow();
  column = v->getCol();
  bool r = keepingBlock(ev, [this] { return redo(); });
  v->writeStLine(String());
  return r;
}

void PosCmd::_undo() {
  View* v = currView();
  ZF_ASSERT_TEXT(v != nullptr, "view != (0)");
  undo();
  keepingBlock(currEdView(), [&] {
    v->goCursor(line, column, false);
    return true;
  });
  v->writeStLine(String());
}

bool EdPosCmd::_redo() {
  View* v = currView();
  ZF_ASSERT_TEXT(v != nullptr, "view != (0)");
  line = v->getRow();
  column = v->getCol();
  bool r = keepingBlock(v->edView(), [this] { return redo(); });
  v->writeStLine(String());
  return r;
}

void EdPosCmd::_undo() {
  View* v = currView();
  ZF_ASSERT_TEXT(v != nullptr, "view != (0)");
  undo();
  keepingBlock(v->edView(), [&] {
    v->goCursor(line, column, false);
    return true;
  });
  v->writeStLine(String());
}

bool BlockCmd::_redo() {
  EditableView* ev = currEdView();
  if (!ev) return cannotEdit();
  if (!ev->hasBlock()) return false;
  TextCursor anchor(ev->getBlock());
  line = anchor.line();
  column = anchor.column();
  ev->delBlock(true);
  bool r = redo(anchor);
  if (!r) ev->setBlock(anchor);
  return r;
}

void BlockCmd::_undo() {
  EditableView* ev = currEdView();
  ZF_ASSERT_TEXT(ev != nullptr, "view != (0)");
  undo();
  TextCursor anchor(ev->getText());
  anchor.goTo(line, column);
  ev->setBlock(anchor);
}

bool EditCmd::_redo() {
  EditableView* ev = currEdView();
  if (!ev) return cannotEdit();
  bool marked = ev->hasBlock();
  TextCursor anchor;
  line = -1;
  column = -1;
  if (marked) {
    anchor = ev->getBlock();
    line = anchor.line();
    column = anchor.column();
    ev->delBlock(true);
  }
  bool r = redo();
  if (!r && marked) ev->setBlock(anchor);
  ev->writeStLine(String());
  return r;
}

void EditCmd::_undo() {
  EditableView* ev = currEdView();
  ZF_ASSERT_TEXT(ev != nullptr, "view != (0)");
  undo();
  if (line != -1 || column != -1) {
    TextCursor anchor(ev->getText());
    anchor.goTo(line, column);
    ev->setBlock(anchor);
  }
  ev->writeStLine(String());
}

// --- desktop commands ---------------------------------------------------

void DesktopCmd::execute(unsigned char key, WinApp* app) {
  ZF_ASSERT_TEXT(app != nullptr, "app != (0)");
  app_ = app;
  if (!allowEmptyDesktop() && app->getDesktop()->getViews() == 0) {
    app->beep();
    return;
  }
  key_ = key;
  clear();
  _redo();
}
