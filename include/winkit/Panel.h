// Panel: a dialog window holding labels and focusable widgets, with a focus
// loop that hands each widget the keyboard in turn until one accepts (1) or
// cancels (-1). MsgBox, CntrBox, MLDBox and InfoPanel are the ready-made
// dialogs on it; WaitMsg is a small waiting-message window.
//
// Focus loop states: idle (accepted null) -> running (a widget has the
// keyboard) -> ended (accepted set). A widget left with Esc, or an Esc that
// ends a widget, cancels the panel. A panel with no active object returns
// -2 at once, since its loop reads keys only through its objects.
// The arrays given to InitObjs/InitLabels are the caller's and must outlive
// the panel's use of them.
#pragma once
#include <winkit/Buttons.h>
#include <winkit/WinObj.h>

#include <zfound/Boolean.h>
#include <zfound/String.h>

class Panel : public WinObj {
public:
  Panel(String const& title, long height, long width, long row, long col);
  ~Panel() override;
  void InitObjs(WinObj** objs, long n) {
    objs_ = objs;
    nObjs_ = n;
  }
  void InitLabels(Label** labels, long n) {
    labels_ = labels;
    nLabels_ = n;
  }
  // Run by prefix 155 then Enter; not owned.
  void setDefaultAction(BaseAction* a) { defaultAction_ = a; }
  // Whether the last loop ended by accepting (asserts that one ended).
  bool isAccepted() const;
  bool display(long row, long col) override;
  void unDisplay() override;
  // The focus loop, starting on object `start` with `start` as first key.
  // 0 after accept or an ordinary end, -2 after cancel or when nothing can
  // take the focus.
  long execute(unsigned char start) override;

protected:
  WinObj** objs_ = nullptr;
  Label** labels_ = nullptr;
  long nObjs_ = 0;
  long nLabels_ = 0;
  BaseAction* defaultAction_ = nullptr;
  Boolean accepted_;

private:
  long hotKeyObject(unsigned char key) const;
};

// A BaseAction calling a member function of a dialog.
template <class D>
class MemberAction : public BaseAction {
public:
  MemberAction(D* d, long (D::*f)()) : d_(d), f_(f) {}
  long execute() override { return (d_->*f_)(); }

private:
  D* d_;
  long (D::*f_)();
};

class MsgBox : public Panel {
public:
  // At least 5 rows and 10 columns: the message wrapped at width - 2 and a
  // centred "OK" button.
  MsgBox(String const& title, String const& message, long height, long width, long row, long col);
  ~MsgBox() override;
  long ok() { return 1; }

protected:
  void layOut(String const& message);
  MemberAction<MsgBox> okAction_;
  DefaultButton* button_ = nullptr;
  Label* label_ = nullptr;
  WinObj* objArray_[1] = {};
  Label* labelArray_[1] = {};
};

// A 5 by 40 message box centred on the screen.
class CntrBox : public MsgBox {
public:
  CntrBox(String const& title, String const& message);
};

// Yes / no / cancel: up to 10 message lines and three buttons; getOpt()
// gives 0 yes, 1 no, 2 cancel (also when the box was not accepted).
class MLDBox : public Panel {
public:
  static constexpr long kMaxLines = 10;
  MLDBox(String const& title, String const& message, long defaultAnswer);
  ~MLDBox() override;
  // The panel loop, starting on the default answer's button.
  long execute(unsigned char key) override;
  long getOpt() const;
  long yes() { return answer(0); }
  long no() { return answer(1); }
  long cancel() { return answer(2); }

private:
  long answer(long a) {
    opt_ = a;
    return 1;
  }
  long default_;
  long opt_ = 2;
  long nLines_ = 0;
  MemberAction<MLDBox> yes_, no_, cancel_;
  Label* lines_[kMaxLines] = {};
  WinObj* buttons_[3] = {};
};

// Rows of text to show; show() replaces them all.
class InfoPanel : public Panel {
public:
  InfoPanel(String const& title, long height, long width, long row, long col);
  ~InfoPanel() override;
  // One line of text per row (cut to width - 2); rows past the text empty.
  void show(String const& text);

private:
  long nfil_;
  Label* rows_[20] = {};
};

// A small window showing a message while work goes on; it can watch for an
// abort key.
class WaitMsg : public WinObj {
public:
  WaitMsg(String const& message, String const& title, unsigned char abortKey);
  // Shows the message (only when hidden); 0.
  long execute(unsigned char key) override;
  // True when the abort key is waiting (the key is read). Must be shown.
  bool isAborted();

private:
  String message_;
  unsigned char abortKey_;
};
