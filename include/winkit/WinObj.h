// WinObj: the abstract base of every widget. It owns one Window, created
// hidden with the widget and deleted with it, and keeps the widget's
// placement, label, border, attribute, action and hot key. Panels and the
// application frame drive widgets through its virtual operations.
//
// States: hidden (the window has no terminal window) and shown (after
// display); unDisplay hides it again and the widget stays usable.
// Invariants: `wi` is never null; width and height are -1 until set or read
// back from the layer by display.
#pragma once

#include <winkit/BaseAction.h>
#include <winkit/Window.h>

#include <zfound/String.h>

class WinObj {
public:
  // A widget at (row, col); -1 leaves the position open.
  WinObj(long row, long col);
  virtual ~WinObj();
  WinObj(WinObj const&) = delete;
  WinObj& operator=(WinObj const&) = delete;

  // Brings the widget's window to the front (asserts it is shown).
  virtual void front();
  // Destroys the terminal window; the widget can be displayed again.
  virtual void unDisplay();
  // Creates the terminal window: -1 takes the widget's own position, and
  // when that is -1 too, two rows below and one column right of the root
  // window's cursor. Width and height are read back. Returns true.
  virtual bool display(long row, long col);
  // Runs the widget's own key loop; the result is the widget's convention.
  virtual long execute(unsigned char key) = 0;
  // True only for the default button.
  virtual bool isDefault() const;
  // The hot key field (-1 for none).
  virtual long hotKey() const;
  // Focus hooks.
  virtual void enter();
  virtual void leave();

  Window* window() const { return wi; }
  void setLabel(String const& text) { label = text; }
  void setBorder(long code) { border = code; }
  void setNAttr(long attr) { nAttr = attr; }
  // The action is not owned; it must outlive the widget's use of it.
  void setAction(BaseAction* a) { action = a; }
  void setActive(bool on) { active = on; }
  bool isActive() const { return active; }
  // The key that ended the last execute.
  unsigned char lastKey() const { return lastKey_; }

protected:
  Window* wi;
  long width = -1;
  long height = -1;
  long row;
  long col;
  String label;
  long border = 242;
  long nAttr = 0;
  BaseAction* action = nullptr;
  long hotKey_ = -1;
  bool active = true;
  unsigned char lastKey_ = 0;
};
