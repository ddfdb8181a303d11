// Labels and buttons (see Buttons.h).
#include <winkit/Buttons.h>

#include <zfound/Assert.h>
#include <zfound/CharClass.h>

#include <cctype>
#include <string>

namespace {

constexpr unsigned char kEsc = 129;
constexpr unsigned char kEnter = 132;
constexpr long kFocusAttr = 512;
constexpr long kHotAttr = 0x800;

int upper(int c) { return std::toupper(static_cast<unsigned char>(c)); }

// The result of a check box or radio group: Esc always cancels.
long boxResult(unsigned char last, BaseAction* action) {
  if (last == kEsc) return -1;
  return action ? action->execute() : 0;
}

}  // namespace

// ------------------------------------------------------------- TextButton

TextButton::TextButton(long r, long c, String const& lbl, long w, BaseAction* act) : WinObj(r, c) {
  border = 0;
  height = 1;
  action = act;
  text_ = lbl;
  long tilde = text_.isNull() ? -1 : text_.index('~');
  if (tilde >= 0) {
    text_.delChar(tilde);
    hotKey_ = tilde;
  } else {
    hotKey_ = 0;
  }
  labelWidth_ = w == -1 ? text_.length() : w;
}

long TextButton::hotKey() const {
  if (hotKey_ == -1) return -1;
  if (hotKey_ < 0 || hotKey_ >= text_.length()) return 0;
  return static_cast<unsigned char>(text_[hotKey_]);
}

bool TextButton::isOwnHotKey(unsigned char key) const {
  long hk = hotKey();
  return key != 0 && hk > 0 && upper(key) == upper(static_cast<int>(hk));
}

void TextButton::drawText(long attr) {
  wi->setAttr(attr);
  long n = text_.length();
  for (long i = 0; i < n; ++i) {
    if (i == hotKey_) {
      wi->setAttr(active ? (attr | kHotAttr) : attr);
      *wi << text_[i];
      wi->setAttr(attr);
    } else {
      *wi << text_[i];
    }
  }
}

bool TextButton::showButton(long r, long c) {
  if (!wi->hidden()) {
    front();
    return true;
  }
  WinObj::display(r, c);
  wi->wrap(false);
  drawUnfocused();
  return true;
}

// ------------------------------------------------------------- PushButton

PushButton::PushButton(long r, long c, String const& lbl, long w, BaseAction* act) : TextButton(r, c, lbl, w, act) {
  width = labelWidth_;
}

bool PushButton::display(long r, long c) { return showButton(r, c); }

void PushButton::drawFrame(bool focused, bool pressed, int brackets) {
  if (wi->hidden()) return;
  long w = wi->width();
  wi->goTo(0, 0);
  wi->setAttr(focused ? kFocusAttr : 0);
  std::string frame;
  std::string open(static_cast<size_t>(brackets), '['), close(static_cast<size_t>(brackets), ']');
  long inner = w - 2 * brackets - (pressed ? 2 : 0);
  if (inner < 0) inner = 0;
  frame = (pressed ? " " : "") + open + std::string(static_cast<size_t>(inner), ' ') + close + (pressed ? " " : "");
  *wi << frame.c_str();
  long at = (w - text_.length()) / 2;
  wi->goTo(0, at < 0 ? 0 : at);
  drawText(focused ? kFocusAttr : 0);
  wi->setAttr(0);
  Window::refresh();
}

void PushButton::draw(bool focused, bool pressed) { drawFrame(focused, pressed, 1); }

void DefaultButton::draw(bool focused, bool pressed) { drawFrame(focused, pressed, 2); }

long PushButton::execute(unsigned char key) {
  bool wasHidden = wi->hidden();
  display(-1, -1);
  draw(true, false);
  long result = -2;
  unsigned char k = isOwnHotKey(key) ? kEnter : 0;
  for (;;) {
    if (k == 0) *wi >> k;
    lastKey_ = k;
    if (k == ' ' || k == kEnter) {
      draw(true, true);
      if (action) result = action->execute();
      draw(true, false);
      if (action && (result == 1 || result == -1)) break;
    } else if (k == kEsc || k == 133 || k == 134 || k == 135 || k == 136 || k == 146 || k == 155) {
      break;
    }
    k = 0;
  }
  draw(false, false);
  if (wasHidden) unDisplay();
  return lastKey_ == kEsc ? -1 : result;
}

// ------------------------------------------------------------- CheckBox

CheckBox::CheckBox(long r, long c, String const& lbl, bool v, long w)
    : TextButton(r, c, lbl, w, nullptr), value_(v), selected_("[X]"), unselected_("[ ]") {
  char in[] = {'[', static_cast<char>(0xFF), ']', 0};
  inactive_ = in;
  width = labelWidth_ + 4;
}

bool CheckBox::display(long r, long c) { return showButton(r, c); }

void CheckBox::draw(bool focused) {
  if (wi->hidden()) return;
  wi->goTo(0, 0);
  wi->setAttr(focused ? kFocusAttr : 0);
  *wi << (!active ? inactive_ : value_ ? selected_ : unselected_);
  wi->setAttr(0);
  if (text_) {
    *wi << ' ';
    drawText(0);
  }
  Window::flush();
  Window::refresh();
}

long CheckBox::execute(unsigned char key) {
  bool wasHidden = wi->hidden();
  display(-1, -1);
  draw(true);
  unsigned char k = isOwnHotKey(key) ? ' ' : 0;
  for (;;) {
    if (k == 0) *wi >> k;
    lastKey_ = k;
    if (k != ' ') break;
    value_ = !value_;
    draw(true);
    k = 0;
  }
  draw(false);
  if (wasHidden) unDisplay();
  return boxResult(lastKey_, action);
}

// ------------------------------------------------------------- RadioButton

RadioButton::RadioButton(long r, long c, String const& title, long w, char mark)
    : TextButton(r, c, title, w, nullptr), mark_(mark) {
  width = labelWidth_ + 4;
}

RadioButton::~RadioButton() {
  for (CheckBox* b : opts_) delete b;
}

void RadioButton::addItem(String const& text, bool selected) {
  if (nopts_ + 1 >= kMaxOptions) return;
  long i = ++nopts_;
  auto* box = new CheckBox(row + i + 2, col + 2, text, selected, -1);
  char sel[] = {'(', mark_, ')', 0};
  char in[] = {'(', static_cast<char>(0xFF), ')', 0};
  box->setSelectPttr(sel);
  box->setUnSelectPttr("( )");
  box->setInactivePttr(in);
  opts_[i] = box;
  if (selected) {
    if (selected_ >= 0 && selected_ != i) opts_[selected_]->setValue(false);
    selected_ = i;
  }
}

bool RadioButton::display(long r, long c) {
  bool shown = !wi->hidden();
  showButton(r, c);
  if (shown)
    for (long i = 0; i <= nopts_; ++i) opts_[i]->display(-1, -1);
  return true;
}

void RadioButton::unDisplay() {
  for (long i = 0; i <= nopts_; ++i) opts_[i]->unDisplay();
  WinObj::unDisplay();
}

void RadioButton::draw(bool focused) {
  if (wi->hidden()) return;
  wi->goTo(0, 0);
  drawText(focused ? kFocusAttr : 0);
  wi->setAttr(0);
  for (long i = 0; i <= nopts_; ++i) opts_[i]->display(-1, -1);
  Window::refresh();
}

void RadioButton::select(long i) {
  if (nopts_ < 0) return;
  if (i < 0) i = nopts_;
  if (i > nopts_) i = 0;
  if (selected_ >= 0) {
    opts_[selected_]->setValue(false);
    opts_[selected_]->draw(false);
  }
  selected_ = i;
  opts_[i]->setValue(true);
  opts_[i]->draw(false);
}

void RadioButton::setValue(long v) {
  ZF_ASSERT(v >= 0);
  ZF_ASSERT(v <= nopts_);
  ZF_ASSERT(selected_ != (-1));
  opts_[selected_]->setValue(false);
  selected_ = v;
  opts_[v]->setValue(true);
}

long RadioButton::execute(unsigned char key) {
  ZF_ASSERT(selected_ != (-1));
  bool wasHidden = wi->hidden();
  display(-1, -1);
  draw(true);
  for (;;) {
    unsigned char k;
    *wi >> k;
    lastKey_ = k;
    if (k == 133) {
      select(selected_ - 1);
    } else if (k == 135) {
      select(selected_ + 1);
    } else if (k == kEsc || k == kEnter || k == 134 || k == 136 || k == 146 || k == 155) {
      break;
    } else if (isOwnHotKey(k)) {
      select(selected_ + 1);
    } else {
      for (long i = 0; i <= nopts_; ++i)
        if (opts_[i]->hotKey() > 0 && upper(k) == upper(static_cast<int>(opts_[i]->hotKey()))) {
          select(i);
          break;
        }
    }
  }
  draw(false);
  if (wasHidden) unDisplay();
  return boxResult(lastKey_, action);
}

// ------------------------------------------------------------- Label

Label::Label(String const& text, long r, long c, long w, long attr)
    : WinObj(r, c), lrow_(r), lcol_(c), attr_(attr), wrapWidth_(w) {
  border = 0;
  setValue(text);
}

long Label::wordWrap(String& text, long width) {
  if (width < 1) width = 1;
  std::string in = text.isNull() ? std::string() : std::string(toCharPtr(text), static_cast<size_t>(text.length()));
  std::string out, line;
  long lines = 0;
  auto endLine = [&] {
    out += line + "\n";
    line.clear();
    ++lines;
  };
  size_t i = 0;
  while (i < in.size()) {
    while (i < in.size() && in[i] == ' ') ++i;
    if (i >= in.size()) break;
    size_t j = in.find(' ', i);
    if (j == std::string::npos) j = in.size();
    std::string word = in.substr(i, j - i);
    i = j;
    if (!line.empty() && static_cast<long>(line.size() + word.size()) > width) endLine();
    // A word longer than a line is cut into pieces, each ending a line.
    while (static_cast<long>(word.size()) > width) {
      if (!line.empty()) endLine();
      line = word.substr(0, static_cast<size_t>(width));
      word.erase(0, static_cast<size_t>(width));
      endLine();
    }
    if (word.empty()) continue;
    line += word;
    if (static_cast<long>(line.size()) < width) line += ' ';
  }
  if (!line.empty()) endLine();
  if (!out.empty()) out.pop_back();
  text = String(static_cast<long>(out.size()), out.data());
  return 1 + lines;
}

void Label::setValue(String const& text) {
  text_ = text;
  long n = text_.length();
  if (wrapWidth_ < 0 || wrapWidth_ >= n) {
    height = 1;
    width = wrapWidth_ >= 0 ? wrapWidth_ : (n > 0 ? n : 1);
  } else {
    height = wordWrap(text_, wrapWidth_) + 1;
    width = wrapWidth_;
  }
}

bool Label::display(long r, long c) {
  if (wi->hidden()) {
    WinObj::display(r, c);
    wi->wrap(false);
  }
  draw();
  return true;
}

long Label::execute(unsigned char) {
  ZF_ASSERT(0);
  return -1;
}

void Label::draw() {
  if (wi->hidden()) return;
  if (attr_ != -1) wi->setAttr(attr_);
  long line = 0, start = 0, n = text_.length();
  for (long i = 0; i <= n; ++i) {
    if (i < n && text_[i] != '\n') continue;
    wi->goTo(line, 0);
    if (i > start) *wi << String(text_(start, i - start));
    wi->eraseEol();
    ++line;
    start = i + 1;
  }
  if (n == 0) {
    wi->goTo(0, 0);
    wi->eraseEol();
  }
  if (attr_ != -1) wi->setAttr(0);
}
