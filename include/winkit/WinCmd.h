// Commands: the process-wide registry of named commands and the bases that
// every command derives from.
//
// A command is a class derived from WinCmd with exactly one static instance,
// registered under the class name; its index in the registry is its id. The
// frame's key loop turns a key into an id through a CmdBinding, fetches the
// command with getCmd and calls execute with the low byte of the key code.
//
// Registry: 255 entries (ids 0..254), made on the first registration with
// every entry free and filled from 0 upwards without gaps; nothing is ever
// unregistered. Because the registry is made on demand and every class's
// cmdId and eventId are constant-initialised (to -1), the static instances
// may register in any order of static initialisation.
//
// The family pattern (every concrete command class C):
//   class C : public PosCmd {               // or another base below
//     ZF_WINCMD_CLASS(C)                    // statics, clone(), id()
//   public:
//     C() = default;
//     explicit C(char const* name);         // the registering constructor
//     bool redo() override; ...
//   };
//   ZF_WINCMD_DEFINE(C)                     // in the family's source: the
//                                           // statics and the static instance
//   C::C(char const* name) { cmdId = WinCmd::registerCmd(name, this, KEY, eventId); }
// KEY is the default key code, or 0 for a command without a key, whose
// eventId becomes cmdId | 0x8000 (a code that no key produces).
//
// Binding functions: each family provides one, binding each command's
// eventId to its cmdId in the family's order:
//   bindPosCmds, bindEditCmds, bindBlockCmds, bindFileCmds, bindDesktopCmds,
//   bindSysCmds (declared below). The help family has none.
//
// Invocation: execute stores the key and the application (both overwritten
// at every invocation), then clear() and _redo(). What a redo changes is
// recorded in the command so that the matching undo could reverse that one
// invocation; nothing in the frame calls undo.
#pragma once

#include <winkit/Text.h>

#include <zfound/String.h>

#include <cstdint>

class WinApp;
class CmdBinding;
class View;
class EditableView;
class WinCmd;

// One registry entry: free while its name is null. The name is not copied
// and must live as long as the process (a class's literal name does).
struct CmdItem {
  char const* name = nullptr;
  WinCmd* cmd = nullptr;
  long eventId = -1;  // the default key given at registration
};

class WinCmd {
public:
  static constexpr long kMaxCmds = 255;
  static constexpr long kNoKey = 0x8000;

  WinCmd() = default;
  WinCmd(WinCmd const&) = default;
  WinCmd& operator=(WinCmd const&) = default;
  virtual ~WinCmd();

  // Runs the command for `key` (the low byte of the key code) in `app`.
  virtual void execute(unsigned char key, WinApp* app) = 0;
  virtual bool _redo() = 0;
  // Forgets what an earlier invocation kept; nothing here.
  virtual void clear() {}
  // The command's id (its class's cmdId).
  virtual long id() const = 0;
  virtual void print() = 0;

  // Registers `cmd` under `name` in the first free entry; its id. A name
  // already registered keeps its command and answers its id; a full
  // registry answers -1.
  static long addCmd(char const* name, WinCmd* cmd);
  // addCmd, then sets `eventId` to `key`, or to id | 0x8000 when key is 0
  // (-1 when registration failed); the id.
  static long registerCmd(char const* name, WinCmd* cmd, long key, long& eventId);
  // The command of id (null outside 0..254 or for a free entry).
  static WinCmd* getCmd(long id);
  // The registered name of id (null outside 0..254 or for a free entry).
  static String getName(long id);
  // The id registered under `name`, -1 when none.
  static long findCmd(char const* name);
  // The default key of id as registered, -1 when none.
  static long getEventId(long id);

  void idCheck() const {}
  static void idStart() {}
  static void idStop() {}

  unsigned char key() const { return key_; }
  WinApp* app() const { return app_; }

protected:
  unsigned char key_ = 0;
  WinApp* app_ = nullptr;
};

// Commands on the current view. The saved position (line and column, from
// 0) has the meaning each base below gives it; `extra` is the subclass's.
class ViewCmd : public WinCmd {
public:
  // Asserts the application; without a current view it beeps and runs
  // nothing (a menu may reach a view command on an empty desktop).
  void execute(unsigned char key, WinApp* app) override;
  virtual void _undo() = 0;
  virtual WinCmd* clone() = 0;

protected:
  // The desktop's current view / editable view (null: none).
  View* currView() const;
  EditableView* currEdView() const;
  // The answer to a key that edits in a view that cannot edit: a beep and
  // false.
  bool cannotEdit();

  long line = 0;
  long column = 0;
  long extra = 0;
};

// Cursor movement: the saved position is the cursor before the move; a
// marked block keeps its anchor and re-marks up to the new cursor.
class PosCmd : public ViewCmd {
public:
  bool _redo() override;
  void _undo() override;
  void clear() override {}
  void print() override {}
  virtual bool redo() = 0;
  virtual void undo() {}
};

// Movement inside an editable view; as PosCmd, reached through the view.
class EdPosCmd : public ViewCmd {
public:
  bool _redo() override;
  void _undo() override;
  void clear() override {}
  void print() override {}
  virtual bool redo() = 0;
  virtual void undo() {}
};

// Operations on the marked block: the saved position is the anchor. Without
// a block _redo answers false and redo is not called; redo gets a copy of
// the anchor (the mark already removed) and false from it lays the mark
// again.
class BlockCmd : public ViewCmd {
public:
  bool _redo() override;
  void _undo() override;
  void clear() override {}
  void print() override {}
  virtual bool redo(TextCursor& anchor) = 0;
  virtual void undo() = 0;
};

// Text changes: the saved position is the anchor lifted before the change,
// (-1, -1) without a block; false from redo lays the block again.
class EditCmd : public ViewCmd {
public:
  bool _redo() override;
  void _undo() override;
  void clear() override {}
  void print() override {}
  virtual bool redo() = 0;
  virtual void undo() = 0;
};

// Commands on the desktop or the application.
class DesktopCmd : public WinCmd {
public:
  // Asserts the application; when the command needs a view and the desktop
  // has none it only beeps (the key is not stored).
  void execute(unsigned char key, WinApp* app) override;
  virtual void _undo() = 0;
  virtual WinCmd* clone() = 0;
  virtual bool allowEmptyDesktop() = 0;
};

class EmptyDesktopCmd : public DesktopCmd {
public:
  bool _redo() override { return redo(); }
  void _undo() override { undo(); }
  void clear() override {}
  void print() override {}
  bool allowEmptyDesktop() override { return true; }
  virtual bool redo() = 0;
  virtual void undo() = 0;
};

class NoEmptyDesktopCmd : public DesktopCmd {
public:
  bool _redo() override { return redo(); }
  void _undo() override { undo(); }
  void clear() override {}
  void print() override {}
  bool allowEmptyDesktop() override { return false; }
  virtual bool redo() = 0;
  virtual void undo() = 0;
};

// Inside the class body of a command C: its statics, clone() and id().
#define ZF_WINCMD_CLASS(C)                             \
public:                                                \
  static long cmdId;                                   \
  static long eventId;                                 \
  static C instance;                                   \
  WinCmd* clone() override { return new C(*this); }    \
  long id() const override { return C::cmdId; }        \
                                                       \
private:

// In the family's source: the constant-initialised statics of C and its
// registered instance (named after the class).
#define ZF_WINCMD_DEFINE(C)        \
  constinit long C::cmdId = -1;    \
  constinit long C::eventId = -1;  \
  C C::instance(#C);

// The families' binding functions (each command's eventId to its cmdId).
void bindPosCmds(CmdBinding* binding);
void bindEditCmds(CmdBinding* binding);
void bindBlockCmds(CmdBinding* binding);
void bindFileCmds(CmdBinding* binding);
void bindDesktopCmds(CmdBinding* binding);
void bindSysCmds(CmdBinding* binding);
