// Menu items, pop-up menus and the menu bar (see Menu.h).
#include <winkit/Menu.h>

#include <zfound/Assert.h>

#include <cctype>

namespace {

constexpr unsigned char kEsc = 129;
constexpr unsigned char kEnter = 132;
constexpr unsigned char kUp = 133;
constexpr unsigned char kLeft = 134;
constexpr unsigned char kDown = 135;
constexpr unsigned char kRight = 136;
constexpr unsigned char kPgUp = 137;
constexpr unsigned char kPgDn = 139;
constexpr unsigned char kTab = 146;
constexpr unsigned char kHelp = 148;
constexpr unsigned char kFind = 154;
constexpr unsigned char kAlt = 155;

constexpr char kLine = '\xA1';
constexpr char kJoinLeft = '\xA7';
constexpr char kJoinRight = '\xA5';
constexpr char kSubMark = '\xAF';

int upper(int c) { return std::toupper(static_cast<unsigned char>(c)); }

// Keys that look for an item by its hot key.
bool isLetterKey(unsigned char k) { return k > ' ' && k < 127; }

long len(String const& s) { return s.isHighest() ? 0 : s.length(); }

}  // namespace

// ------------------------------------------------------------- MenuItem

MenuItem::MenuItem(String const& text, char marker, long attr) : attr_(attr) { init(text, marker, kCod); }

MenuItem::MenuItem(String const& text, long code, char marker, long attr) : attr_(attr), code_(code) {
  init(text, marker, kCod);
}

MenuItem::MenuItem(String const& text, PoppableMenu& sub, char marker, long attr) : attr_(attr), sub_(&sub) {
  init(text, marker, kMenu);
}

MenuItem::MenuItem(String const& text, long (*func)(), char marker, long attr) : attr_(attr), func_(func) {
  init(text, marker, kFunc);
}

void MenuItem::init(String const& text, char marker, Kind kind) {
  text_ = text;
  kind_ = text.isNull() || text.isHighest() ? kLine : kind;
  if (kind_ != kLine) setHotKey(marker);
}

void MenuItem::setHotKey(char marker) {
  long at = marker ? text_.index(marker) : -1;
  if (at >= 0 && at < text_.length() - 1) {
    text_.delChar(at);
    hotPos_ = at;
  } else {
    if (at >= 0) text_.delChar(at);
    hotPos_ = text_.length() > 0 ? 0 : -1;
  }
}

int MenuItem::hotKeyChar() const {
  if (kind_ == kLine || hotPos_ < 0 || hotPos_ >= text_.length()) return 0;
  return upper(text_[hotPos_]);
}

long MenuItem::execute() {
  switch (kind_) {
    case kMenu: {
      if (!sub_) return -1;
      long r = sub_->execute(0);
      lastKey_ = sub_->lastKey();
      return r == -1 ? -1 : sub_->currOpt();
    }
    case kCod: return code_;
    case kFunc: return func_ ? func_() : -1;
    case kLine: break;
  }
  return -1;
}

// ------------------------------------------------------------- Menu

Menu::Menu(long r, long c) : WinObj(r, c) {
  border = 242;
  nAttr = 0;
}

Menu::~Menu() { clearItems(); }

void Menu::clearItems() {
  for (long i = 0; i < nitems_; ++i) {
    delete items_[i];
    items_[i] = nullptr;
  }
  nitems_ = 0;
}

void Menu::addItem(MenuItem const& item) {
  if (nitems_ >= kMaxItems) return;
  items_[nitems_++] = new MenuItem(item);
}

void Menu::newCurrItem(long) {}

Menu& Menu::operator<<(MenuItem const& item) {
  addItem(item);
  return *this;
}

Menu& Menu::operator<<(String const& text) { return *this << MenuItem(text, -1L, '~', 0L); }

void Menu::setCurrent(long start, bool remember) {
  start_ = start;
  remember_ = remember;
}

void Menu::setSecText(String const& text, long code) {
  for (long i = 0; i < nitems_; ++i)
    if (items_[i]->isCod() && items_[i]->retCod() == code) items_[i]->setSecText(text);
}

void Menu::unDisplay() {
  WinObj::unDisplay();
  curr_ = -1;
}

// ------------------------------------------------------------- PoppableMenu

PoppableMenu::PoppableMenu(String const& title, long r, long c, bool hilit) : Menu(r, c), hilit_(hilit) {
  label = title;
}

PoppableMenu::PoppableMenu(long r, long c, bool hilit) : Menu(r, c), hilit_(hilit) {}

void PoppableMenu::placeIfOpen(long r, long c) {
  if (row == -1) row = r;
  if (col == -1) col = c;
}

void PoppableMenu::calcDim(long& rows, long& cols) {
  rows = nitems_;
  long longest = 0;
  bool sub = false;
  for (long i = 0; i < nitems_; ++i) {
    long n = len(items_[i]->getText()) + len(items_[i]->getSecText());
    if (n > longest) longest = n;
    if (items_[i]->isMenu()) sub = true;
  }
  cols = longest + 2 + (sub ? 2 : 0);
}

bool PoppableMenu::display(long r, long c) {
  if (!wi->hidden()) {
    front();
    fillWindow(false);
    Window::refresh();
    return true;
  }
  if (nitems_ == 0 && !dspAlways_) return false;
  long rows, cols;
  calcDim(rows, cols);
  height = rows > 0 ? rows : 1;
  width = cols > 0 ? cols : 1;
  WinObj::display(r, c);
  // Full rows must not scroll the window when the last one is drawn.
  wi->wrap(false);
  fillWindow(false);
  Window::refresh();
  return true;
}

// One row: a separator is a line joined to the frame; an item is a blank,
// its text (cut to leave room for the right part), blanks, the sub-menu mark
// and the secondary text.
void PoppableMenu::drawRow(long i, long attr, bool hot) {
  MenuItem const& it = *items_[i];
  long w = width;
  wi->setAttr(attr);
  if (it.isLine()) {
    wi->goTo(i, -1);
    *wi << kJoinLeft;
    wi->goTo(i, 0);
    *wi << String(w, kLine);
    wi->goTo(i, w);
    *wi << kJoinRight;
    wi->setAttr(0);
    return;
  }
  String right = it.isMenu() ? String(1L, &kSubMark) : String();
  if (len(it.getSecText()) > 0) right += it.getSecText();
  long room = w - 2 - len(right);
  String text = it.getText();
  if (room < 0) room = 0;
  if (len(text) > room) text = String(text, room);
  wi->goTo(i, 0);
  *wi << ' ';
  long n = len(text);
  for (long k = 0; k < n; ++k) {
    if (hot && k == it.getNHKey()) {
      wi->setAttr(attr | hkAttr_);
      *wi << text[k];
      wi->setAttr(attr);
    } else {
      *wi << text[k];
    }
  }
  for (long k = 1 + n; k < w - len(right) - 1; ++k) *wi << ' ';
  *wi << right;
  for (long k = w - 1; k < w; ++k) *wi << ' ';
  wi->setAttr(0);
}

void PoppableMenu::fillWindow(bool passive) {
  if (wi->hidden()) return;
  wi->erase();
  for (long i = 0; i < nitems_; ++i) {
    if (i == curr_)
      drawRow(i, oAttr_, hilit_);
    else if (passive && i + firstShown() == start_)
      drawRow(i, hkAttr_, false);
    else
      drawRow(i, items_[i]->getDspAttr(), hilit_);
  }
  wi->goTo(curr_ >= 0 ? curr_ : 0, 0);
}

bool PoppableMenu::incCurrItem(long n) {
  if (nitems_ == 0) return false;
  curr_ = (curr_ + n) % nitems_;
  for (long k = 0; k < nitems_ && items_[curr_]->isLine(); ++k) curr_ = (curr_ + 1) % nitems_;
  newCurrItem(curr_);
  return true;
}

bool PoppableMenu::decCurrItem(long n) {
  if (nitems_ == 0) return false;
  curr_ = ((curr_ + nitems_ - n % nitems_) % nitems_ + nitems_) % nitems_;
  for (long k = 0; k < nitems_ && items_[curr_]->isLine(); ++k) curr_ = (curr_ + nitems_ - 1) % nitems_;
  newCurrItem(curr_);
  return true;
}

bool PoppableMenu::incFind() { return false; }

void PoppableMenu::startItem() {
  curr_ = start_ >= 0 && start_ < nitems_ ? start_ : 0;
  for (long k = 0; k < nitems_ && items_[curr_]->isLine(); ++k) curr_ = (curr_ + 1) % nitems_;
  if (nitems_ == 0) curr_ = -1;
}

long PoppableMenu::execute(unsigned char) {
  if (!active) return -1;
  bool wasHidden = wi->hidden();
  startItem();
  if (wasHidden) {
    if (!display(-1, -1)) {
      curr_ = -1;
      return -1;
    }
  }
  fillWindow(leaveHilit_);
  Window::refresh();
  if (curr_ >= 0) newCurrItem(curr_ + firstShown());
  result_ = -1;
  wi->cursor(false);
  for (;;) {
    unsigned char k;
    *wi >> k;
    lastKey_ = k;
    bool choose = false;
    if (k == kEsc) break;
    if (k == kUp || k == kDown || k == kPgUp || k == kPgDn) {
      long n = k == kUp || k == kDown ? 1 : (height > 0 ? height : 1);
      bool moved = k == kUp || k == kPgUp ? decCurrItem(n) : incCurrItem(n);
      if (!moved) wi->beep();
      fillWindow(false);
      Window::refresh();
      continue;
    }
    if (k == kLeft || k == kRight || k == kTab || k == kAlt) {
      if (pullDown_ || movedKeys_) break;
      wi->beep();
      continue;
    }
    if (k == kFind) {
      choose = incFind();
      if (!choose) continue;
    } else if (k == ' ' || k == kEnter || k == kHelp) {
      if (nitems_ == 0 || curr_ < 0) {
        lastKey_ = kRight;
        break;
      }
      choose = true;
    } else if (isLetterKey(k)) {
      long found = -1;
      for (long i = 0; i < nitems_ && found < 0; ++i)
        if (hilit_ && items_[i]->hotKeyChar() == upper(k)) found = i;
      if (found < 0) {
        wi->beep();
        continue;
      }
      curr_ = found;
      newCurrItem(curr_ + firstShown());
      fillWindow(false);
      choose = true;
    } else {
      wi->beep();
      continue;
    }
    if (choose && curr_ >= 0) {
      long r = items_[curr_]->execute();
      if (r == -1) {
        if (!wi->hidden()) {
          front();
          fillWindow(false);
          Window::refresh();
        }
        continue;
      }
      result_ = r;
      break;
    }
  }
  wi->cursor(true);
  if (remember_ && result_ != -1) start_ = curr_ + firstShown();
  if (wasHidden) {
    unDisplay();
  } else {
    curr_ = -1;
    fillWindow(leaveHilit_);
    Window::refresh();
  }
  return lastKey_ == kEsc ? -1 : 0;
}

// ------------------------------------------------------------- PullDownMenu

PullDownMenu::PullDownMenu(long r, long c, long h, long w) : Menu(r, c) {
  border = 0;
  nAttr = 512;
  oAttr_ = 0;
  height = h > 20 ? 20 : h;
  width = w;
}

void PullDownMenu::addItem(MenuItem const& item) {
  if (nitems_ >= kMaxItems) return;
  if (item.isMenu()) ZF_ASSERT_TEXT(item.subMenu(), "items[nitems]->subMenu()");
  Menu::addItem(item);
  if (item.isMenu()) item.subMenu()->setPullDown(true);
}

long PullDownMenu::titleCol(long i) const {
  long c = 0;
  for (long k = 0; k < i; ++k) c += 1 + len(items_[k]->getText());
  if (right_ && i == nitems_ - 1 && i > 0) {
    long rc = width - 1 - len(items_[i]->getText());
    if (rc > c) c = rc;
  }
  return c;
}

bool PullDownMenu::display(long r, long c) {
  if (!wi->hidden()) {
    front();
    fillWindow();
    Window::refresh();
    return true;
  }
  WinObj::display(r, c);
  wi->wrap(false);
  fillWindow();
  Window::refresh();
  return true;
}

void PullDownMenu::fillWindow() {
  if (wi->hidden()) return;
  wi->setAttr(nAttr);
  wi->erase();
  for (long i = 0; i < nitems_; ++i) {
    MenuItem const& it = *items_[i];
    long attr = i == curr_ ? oAttr_ : nAttr;
    wi->goTo(0, titleCol(i));
    wi->setAttr(attr);
    *wi << ' ';
    String const& t = it.getText();
    for (long k = 0; k < len(t); ++k) {
      wi->setAttr(k == it.getNHKey() ? attr | hkAttr_ : attr);
      *wi << t[k];
    }
  }
  wi->setAttr(0);
  wi->goTo(0, curr_ >= 0 ? titleCol(curr_) : 0);
}

// Runs the current title's item; `next` tells which title to open after a
// sub-menu left by Left or Right (-1: none).
long PullDownMenu::choose(long& next) {
  next = -1;
  MenuItem& it = *items_[curr_];
  if (it.isMenu()) it.subMenu()->placeIfOpen(wi->orgRow() + 2, wi->orgCol() + titleCol(curr_) + 1);
  long r = it.execute();
  if (it.isMenu()) {
    lastKey_ = it.lastKey();
    if (r == -1 && lastKey_ != kEsc)
      next = lastKey_ == kRight ? (curr_ + 1) % nitems_ : (curr_ + nitems_ - 1) % nitems_;
  }
  return r;
}

long PullDownMenu::execute(unsigned char key) {
  if (!active) return -1;
  bool wasHidden = wi->hidden();
  result_ = -1;
  curr_ = start_ >= 0 && start_ < nitems_ ? start_ : 0;
  display(-1, -1);
  bool given = key != 0;
  unsigned char k = key;
  if (!given) *wi >> k;
  for (;;) {
    lastKey_ = k;
    bool fromCall = given;
    given = false;
    bool choose = false;
    if (k == kEsc || nitems_ == 0) break;
    if (k == kLeft || k == kRight) {
      curr_ = k == kLeft ? (curr_ + nitems_ - 1) % nitems_ : (curr_ + 1) % nitems_;
    } else if (k == kEnter || k == kDown || k == kHelp) {
      choose = true;
    } else if (isLetterKey(k)) {
      long found = -1;
      for (long i = 0; i < nitems_ && found < 0; ++i)
        if (items_[i]->hotKeyChar() == upper(k)) found = i;
      if (found < 0) {
        wi->beep();
      } else {
        curr_ = found;
        // A title letter given by the caller only opens the bar on a plain
        // command: the user confirms it with the next key.
        choose = !(fromCall && items_[curr_]->isCod());
      }
    } else {
      wi->beep();
    }
    fillWindow();
    Window::refresh();
    while (choose) {
      long next;
      long r = choose ? this->choose(next) : -1;
      choose = false;
      if (r != -1) {
        result_ = r;
        break;
      }
      if (lastKey_ == kEsc && items_[curr_]->isMenu()) break;
      if (next >= 0) {
        curr_ = next;
        choose = items_[curr_]->isMenu();
      }
      fillWindow();
      Window::refresh();
    }
    if (result_ != -1 || (lastKey_ == kEsc && items_[curr_]->isMenu())) break;
    *wi >> k;
  }
  if (remember_ && result_ != -1) start_ = curr_;
  if (wasHidden) {
    unDisplay();
  } else {
    curr_ = -1;
    fillWindow();
    Window::refresh();
  }
  return lastKey_ == kEsc ? -1 : 0;
}
