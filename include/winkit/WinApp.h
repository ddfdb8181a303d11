// WinApp: the frame of a full-screen toolkit application.
//
// It owns the menu bar, the four key bindings (application, default
// editable view, help view, special keys), the desktop of views, a
// background window between the menu bar and the bottom line, the working
// directory and, process-wide, the clipboard. An application derives from
// it, fills the menu bar in loadMenus, may add bindings in bindCmds, and
// calls init and then execute.
//
// Key loop (sense): a key code is built from bytes; prefix keys (154, 155)
// shift into the high byte, so two prefixes in a row keep only the last.
// States: normal -> help key (148) -> help mode (the current view marked)
// -> a bound key shows that command's help and runs nothing, or the help key
// again -> normal. The leave key (155 'x' / 'X') or a menu item of value -4
// ends the loop.
#pragma once

#include <winkit/HelpView.h>

#include <zfound/String.h>

class CmdBinding;
class Desktop;
class MsgTable;
class PullDownMenu;
class StrHistory;
class StringList;
class View;
class Window;
class ZqlApp;

class WinApp : public HelpLabelSource {
public:
  explicit WinApp(String const& name);
  WinApp(WinApp const&) = delete;
  WinApp& operator=(WinApp const&) = delete;
  ~WinApp() override;

  // Fills the menu bar; nothing here.
  virtual void loadMenus();
  // The key loop; 0 when left.
  virtual long execute();
  // Fills the bindings (the frame's defaults; applications add theirs).
  virtual void bindCmds();
  // The "help" text and the "disp" label of a command name (the highest
  // String when there is none).
  virtual String getHlpContents(String const& name);
  String getHlpLabel(String const& name) override;
  // Hooks of the file commands; nothing here.
  virtual void newFile(String const& name);
  virtual void openFile(String const& name);
  virtual void loadFile(String const& name);
  virtual void saveFile(String const& name);
  virtual ZqlApp* zqlApp();

  // bindCmds, loadMenus, then the menu bar shown; true.
  bool init();

  Desktop* getDesktop() const;
  CmdBinding* getAppBinding() const;
  CmdBinding* getDefViewBinding() const;
  CmdBinding* getHlpBinding() const;
  CmdBinding* getSpecialKeyBinding() const;
  PullDownMenu* getMenuBar() const { return menuBar_; }
  Window* getBackground() const { return background_; }
  String const& getWorkingDir() const { return workingDir_; }
  // Makes `dir` the directory the selectors start in.
  void setWorkingDir(String const& dir) { workingDir_ = dir; }

  // Gives `v` the binding `b` (null: the default view binding) and adds it
  // to the desktop; true when added. On false `v` has been deleted.
  bool addView(View* v, CmdBinding* b, long row, long col, long height, long width);
  // Shows the help of a command name: its open help view made current, or a
  // new one; a box when there is no help.
  void addHelpView(String const& name);
  // A one-line question on the bottom line; 0 with `result` set, -1 when
  // cancelled.
  long dialogLine(String const& prompt, String& result, StrHistory* history);
  // The next key byte (from the current view when views are displayed).
  unsigned char getKey();
  // Reads one event: its code, or -1 to leave; `key` holds the key code.
  long sense(unsigned short& key);
  // The command bound to an event (view binding first), -1 when unbound.
  long getCmdId(long event);
  void beep();

  // Texts of the catalogue "winapp".
  static String wappMsg(String const& key);
  static String wappErrMsg(String const& key);
  static String wappDispMsg(String const& key);
  static String wappHlpMsg(String const& key);
  static String wappHlpLabelMsg(String const& key);

  // The lines cut or copied by the block commands, shared by all views.
  static StringList* clipboard;

private:
  // The current view when the desktop has displayed views, else null.
  View* displayedView() const;

  Window* background_ = nullptr;
  Desktop* desktop_ = nullptr;
  String workingDir_;
  PullDownMenu* menuBar_ = nullptr;
  CmdBinding* appBinding_ = nullptr;
  CmdBinding* defViewBinding_ = nullptr;
  CmdBinding* helpBinding_ = nullptr;
  CmdBinding* specialKeyBinding_ = nullptr;

  static MsgTable* wappMsg_;
  static MsgTable* wappErrMsg_;
  static MsgTable* wappDispMsg_;
  static MsgTable* wappHlpMsg_;
  static MsgTable* wappHlpLabelMsg_;
};

// Links the toolkit's build stamp into the program: the library "libwinkit"
// registers with its build text once.
void foolink();
