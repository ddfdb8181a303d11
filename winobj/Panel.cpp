// Panels and message boxes (see Panel.h).
#include <winkit/Panel.h>

#include <zfound/Assert.h>
#include <zfound/Message.h>
#include <winkit/WaitHook.h>

#include <cctype>

namespace {

constexpr unsigned char kEsc = 129;
constexpr unsigned char kEnter = 132;

int lower(long c) { return std::tolower(static_cast<unsigned char>(c)); }

}  // namespace

Panel::Panel(String const& title, long h, long w, long r, long c) : WinObj(r, c) {
  label = title;
  height = h;
  width = w;
}

Panel::~Panel() = default;

bool Panel::isAccepted() const {
  ZF_ASSERT(!accepted_.isNull());
  return static_cast<bool>(accepted_);
}

bool Panel::display(long r, long c) {
  if (!wi->hidden()) {
    front();
    for (long i = 0; i < nObjs_; ++i)
      if (objs_[i] && !objs_[i]->window()->hidden()) objs_[i]->front();
    return true;
  }
  WinObj::display(r, c);
  Window* prev = Window::setDefPar(wi);
  for (long i = 0; i < nLabels_; ++i)
    if (labels_[i]) labels_[i]->display(-1, -1);
  Window::refresh();
  for (long i = 0; i < nObjs_; ++i)
    if (objs_[i]) objs_[i]->display(-1, -1);
  Window::setDefPar(prev);
  return true;
}

void Panel::unDisplay() {
  for (long i = 0; i < nLabels_; ++i)
    if (labels_[i]) labels_[i]->unDisplay();
  for (long i = 0; i < nObjs_; ++i)
    if (objs_[i]) objs_[i]->unDisplay();
  WinObj::unDisplay();
}

long Panel::hotKeyObject(unsigned char key) const {
  for (long i = 0; i < nObjs_; ++i)
    if (objs_[i] && objs_[i]->hotKey() > 0 && lower(objs_[i]->hotKey()) == lower(key)) return i;
  return -1;
}

long Panel::execute(unsigned char start) {
  if (!active || nObjs_ <= 0 || !objs_) return -2;
  bool anyActive = false;
  for (long i = 0; i < nObjs_; ++i)
    if (objs_[i] && objs_[i]->isActive()) anyActive = true;
  if (!anyActive) return -2;

  accepted_ = Boolean();
  bool wasHidden = wi->hidden();
  display(-1, -1);
  long focus = start < nObjs_ ? start : 0;
  unsigned char key = start;
  unsigned char last = 146;
  long res = 0;
  for (;;) {
    WinObj* obj = objs_[focus];
    if (obj && obj->isActive()) {
      obj->enter();
      do res = obj->execute(key);
      while (res == 3);
      obj->leave();
      key = ' ';
      last = obj->lastKey();
    }
    if (res == 1 || res == -1) break;
    // A widget that ended on Esc cancels, whatever it answered.
    if (last == kEsc) {
      res = -1;
      break;
    }
    ZF_ASSERT(res == 0 || res == -2);
    if (last == 146 || last == 135 || last == 136 || last == kEnter || last == ' ') {
      focus = (focus + 1) % nObjs_;
    } else if (last == 133 || last == 134) {
      focus = (focus + nObjs_ - 1) % nObjs_;
    } else if (last == 155) {
      unsigned char k;
      *wi >> k;
      if (k == kEnter) {
        long r = defaultAction_ ? defaultAction_->execute() : 1;
        if (r != 0 && r != -2) {
          res = r;
          break;
        }
      } else {
        long i = hotKeyObject(k);
        if (i >= 0 && objs_[i]->isActive())
          focus = i;
        else
          wi->beep();
      }
      last = 0;
    } else {
      long i = hotKeyObject(last);
      if (i >= 0 && objs_[i]->isActive()) {
        focus = i;
        key = last;
      }
    }
  }
  if (wasHidden) unDisplay();
  if (accepted_.isNull()) accepted_ = Boolean(res == 1);
  return res == 0 || res == 1 ? 0 : -2;
}

// ------------------------------------------------------------- MsgBox

MsgBox::MsgBox(String const& title, String const& message, long h, long w, long r, long c)
    : Panel(title, h < 5 ? 5 : h, w < 10 ? 10 : w, r, c), okAction_(this, &MsgBox::ok) {
  layOut(message);
}

void MsgBox::layOut(String const& message) {
  delete button_;
  delete label_;
  button_ = new DefaultButton(height - 2, (width - 10) / 2, libMsg("OK"), 10, &okAction_);
  label_ = new Label(message, 1, 1, width - 2, -1);
  objArray_[0] = button_;
  labelArray_[0] = label_;
  InitObjs(objArray_, 1);
  InitLabels(labelArray_, 1);
}

MsgBox::~MsgBox() {
  delete button_;
  delete label_;
}

// Laid out at its final size, so the button is centred and the text wraps
// at 38 columns.
CntrBox::CntrBox(String const& title, String const& message) : MsgBox(title, message, 5, 40, -1, -1) {
  Window* root = Window::rootWindow();
  row = (root->height() - 5) / 2;
  col = (root->width() - 40) / 2;
}

// ------------------------------------------------------------- MLDBox

namespace {

// The first n characters of s (s itself when shorter).
String cut(String const& s, long n) { return s.length() > n ? String(s, n) : s; }

}  // namespace

MLDBox::MLDBox(String const& title, String const& message, long defaultAnswer)
    : Panel(title, 5, 40, -1, -1),
      default_(defaultAnswer < 0 || defaultAnswer > 2 ? 2 : defaultAnswer),
      yes_(this, &MLDBox::yes),
      no_(this, &MLDBox::no),
      cancel_(this, &MLDBox::cancel) {
  Window* root = Window::rootWindow();
  long rootW = root->width(), rootH = root->height();
  String lines[kMaxLines];
  long n = message.length(), start = 0;
  for (long i = 0; i <= n && nLines_ < kMaxLines; ++i) {
    if (i < n && message[i] != '\n') continue;
    lines[nLines_++] = i > start ? String(String(message)(start, i - start)) : String();
    start = i + 1;
  }
  long w = n + 2 >= 40 ? n + 2 : 40;
  for (long i = 0; i < nLines_; ++i)
    if (lines[i].length() + 2 > w) w = lines[i].length() + 2;
  if (w > rootW) w = rootW;
  for (long i = 0; i < nLines_; ++i) lines_[i] = new Label(cut(lines[i], w - 2), i + 1, 1, -1, -1);
  width = w + 2;
  height = nLines_ + 4;
  row = (rootH - height) / 2;
  col = (rootW - width) / 2;
  long x = (width - 36) / 2;
  MemberAction<MLDBox>* acts[3] = {&yes_, &no_, &cancel_};
  char const* keys[3] = {"YES", "NO", "CANCEL"};
  for (long i = 0; i < 3; ++i) {
    if (i == default_)
      buttons_[i] = new DefaultButton(height - 2, x + 12 * i, libMsg(keys[i]), 10, acts[i]);
    else
      buttons_[i] = new PushButton(height - 2, x + 12 * i, libMsg(keys[i]), 10, acts[i]);
  }
  InitObjs(buttons_, 3);
  InitLabels(lines_, nLines_);
}

MLDBox::~MLDBox() {
  for (WinObj* b : buttons_) delete b;
  for (Label* l : lines_) delete l;
}

long MLDBox::execute(unsigned char) {
  opt_ = 2;
  return Panel::execute(static_cast<unsigned char>(default_));
}

long MLDBox::getOpt() const { return !accepted_.isNull() && static_cast<bool>(accepted_) ? opt_ : 2; }

// ------------------------------------------------------------- InfoPanel

InfoPanel::InfoPanel(String const& title, long h, long w, long r, long c) : Panel(title, h, w, r, c), nfil_(h) {
  ZF_ASSERT(nfil_ < 20);
  long la = 0;
  for (; la < nfil_; ++la) rows_[la] = new Label(String(), la, 2, w - 2, -1);
  ZF_ASSERT(la == nfil_);
  InitLabels(rows_, nfil_);
}

InfoPanel::~InfoPanel() {
  for (Label* l : rows_) delete l;
}

void InfoPanel::show(String const& text) {
  long n = text.length(), start = 0, r = 0;
  for (long i = 0; i <= n && r < nfil_; ++i) {
    if (i < n && text[i] != '\n') continue;
    rows_[r++]->setValue(cut(i > start ? String(String(text)(start, i - start)) : String(), width - 2));
    start = i + 1;
  }
  for (; r < nfil_; ++r) rows_[r]->setValue(String());
  for (long i = 0; i < nfil_; ++i) rows_[i]->draw();
  Window::refresh();
}

// ------------------------------------------------------------- WaitMsg

WaitMsg::WaitMsg(String const& message, String const& title, unsigned char abortKey)
    : WinObj(-1, -1), message_(message), abortKey_(abortKey) {
  border = 242;
  label = title;
  height = 3;
  width = (message.length() > title.length() ? message.length() : title.length()) + 4;
  Window* root = Window::rootWindow();
  row = (root->height() - 3) / 2;
  col = (root->width() - width - 8) / 2;
}

long WaitMsg::execute(unsigned char) {
  if (!wi->hidden()) return 0;
  display(-1, -1);
  wi->setAttr(1024);
  *wi << "\n  " << message_;
  Window::refresh();
  return 0;
}

bool WaitMsg::isAborted() {
  ZF_ASSERT(!wi->hidden());
  if (abortKey_ == 0 || !wi->keyReady()) return false;
  unsigned char k;
  *wi >> k;
  return k == abortKey_;
}

// ------------------------------------------------------------- wait hook

namespace {

WaitMsg* waitBox = nullptr;

// Shows the text model's wait message, and only on a screen already open,
// so tools without a screen never open one.
void showWaitMsg(char const* text) {
  if (!text) {
    delete waitBox;
    waitBox = nullptr;
    return;
  }
  if (!Window::connected() || waitBox) return;
  waitBox = new WaitMsg(text, String(), 0);
  waitBox->execute(0);
}

struct InstallWaitHook {
  InstallWaitHook() { textWaitMsg = showWaitMsg; }
} installWaitHook;

}  // namespace
