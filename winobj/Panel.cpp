// Panels and message boxes (see Panel.h).
#include <winkit/Panel.h>

#include <zfound/Assert.h>
#include <zfound/Message.h>

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
