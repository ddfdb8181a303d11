// The small widgets of dialogs: Label (static text) and the buttons over
// TextButton: PushButton and DefaultButton run an action, CheckBox holds an
// on/off state, RadioButton a group of at most 10 exclusive options.
//
// Every button's execute: a button hidden at the start is hidden again at
// the end; the key that ended it is its lastKey(). A button left with Esc
// (129) answers -1 whatever its action would have said, so a panel never
// reads an accept from a cancelled widget.
// Invariants: a RadioButton with options has a selected index in
// 0..nopts; its option boxes live as long as the group.
#pragma once
#include <winkit/WinObj.h>

#include <zfound/String.h>

class TextButton : public WinObj {
public:
  // The first '~' of label marks the hot-key letter and is removed (none:
  // the first letter); width -1 is the label's length.
  TextButton(long row, long col, String const& label, long width, BaseAction* action);
  // The label character at the hot-key position; 0 when out of range, -1
  // when there is no hot key.
  long hotKey() const override;
  String const& text() const { return text_; }

protected:
  // Writes the label at the cursor, the hot-key letter in attr | 0x800 while
  // the widget is active.
  void drawText(long attr);
  // Shown: front(); hidden: creates the window, no wrapping, and draws.
  bool showButton(long row, long col);
  virtual void drawUnfocused() = 0;
  // True when key is this widget's hot key (compared in upper case).
  bool isOwnHotKey(unsigned char key) const;

  String text_;
  long labelWidth_;
};

class PushButton : public TextButton {
public:
  PushButton(long row, long col, String const& label, long width, BaseAction* action);
  bool display(long row, long col) override;
  // Space/Enter press the button and run its action; 1 or -1 from the action
  // ends, and so do keys 129, 133..136, 146, 155. -1 after Esc, else the
  // last action result (-2 when none ran).
  long execute(unsigned char key) override;
  // Draws the button (nothing when hidden).
  virtual void draw(bool focused, bool pressed);

protected:
  void drawUnfocused() override { draw(false, false); }
  void drawFrame(bool focused, bool pressed, int brackets);
};

class DefaultButton : public PushButton {
public:
  using PushButton::PushButton;
  bool isDefault() const override { return true; }
  void draw(bool focused, bool pressed) override;
};

class CheckBox : public TextButton {
public:
  CheckBox(long row, long col, String const& label, bool value, long width);
  bool display(long row, long col) override;
  // Space flips the value; any other key ends. -1 after Esc; else the
  // action's result when there is one, otherwise 0.
  long execute(unsigned char key) override;
  void draw(bool focused);
  bool value() const { return value_; }
  void setValue(bool v) { value_ = v; }
  void setSelectPttr(String const& p) { selected_ = p; }
  void setUnSelectPttr(String const& p) { unselected_ = p; }
  void setInactivePttr(String const& p) { inactive_ = p; }

protected:
  void drawUnfocused() override { draw(false); }

private:
  bool value_;
  String selected_;
  String unselected_;
  String inactive_;
};

class RadioButton : public TextButton {
public:
  static constexpr long kMaxOptions = 10;
  RadioButton(long row, long col, String const& title, long width, char mark);
  ~RadioButton() override;
  bool display(long row, long col) override;
  void unDisplay() override;
  // Up/Down step through the options (wrapping), a letter picks the option
  // with that hot key, the group's own hot key again steps on; 129, 132,
  // 134, 136, 146, 155 end. Result as CheckBox.
  long execute(unsigned char key) override;
  void draw(bool focused);
  // Appends an option (at most 10; later calls are ignored).
  void addItem(String const& text, bool selected);
  // Moves the selection to option i, wrapping below 0 and past the last.
  void select(long i);
  long value() const { return selected_; }
  // Sets the selection without drawing; v must be in 0..nopts.
  void setValue(long v);
  long nopts() const { return nopts_; }

protected:
  void drawUnfocused() override { draw(false); }

private:
  long nopts_ = -1;
  long selected_ = -1;
  char mark_;
  CheckBox* opts_[kMaxOptions] = {};
};

class Label : public WinObj {
public:
  // text at (row, col); width is the wrap width (-1 none); attr -1 leaves
  // the window's attribute.
  Label(String const& text, long row, long col, long width, long attr);
  bool display(long row, long col) override;
  // Labels are never focused; calling this fails the assertion "0".
  long execute(unsigned char key) override;
  void draw();
  String const& value() const { return text_; }
  // Sets the text and the window size it needs (wrapping at the wrap width).
  void setValue(String const& text);
  // Breaks text at blanks into lines of at most width characters (a longer
  // word is cut into pieces); returns 1 + the number of lines.
  static long wordWrap(String& text, long width);

private:
  long lrow_;
  long lcol_;
  String text_;
  long attr_;
  long wrapWidth_;
};
