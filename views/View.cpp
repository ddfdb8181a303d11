// Views: the process-wide list, numbering, display, drawing and movement.
//
// Drawing never changes the text: a line is turned into display bytes
// (tabs, fill bytes and control bytes mapped), cut to the visible columns
// and written in runs of equal attribute. The status line lives in the
// bottom frame row, which the interior's scrolling never touches.
#include <winkit/FileText.h>
#include <winkit/Pipes.h>
#include <winkit/View.h>

#include <zfound/Assert.h>
#include <zfound/CharClass.h>
#include <zfound/MsgTable.h>
#include <zfound/OsServ.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>

View* View::head = nullptr;
MsgTable* View::msgs = nullptr;
Window* View::defViewPar = nullptr;
bool View::fullRedraw = true;

namespace {

constexpr char kFill = 0x1F;
constexpr int kBorderCurrent = 243;
constexpr int kBorderOther = 242;

bool isWordChar(char c) { return isAlphaChar(c) || isDigitChar(c) || c == '_' || c == ':'; }

String numText(long n) {
  std::string s = std::to_string(n);
  return String(static_cast<long>(s.size()), s.data());
}

// Directory part of a name ("." without one) and its last component.
void splitName(String const& name, std::string& dir, std::string& base) {
  std::string s = name.isNull() ? std::string() : std::string(toCharPtr(name));
  size_t slash = s.rfind('/');
  if (slash == std::string::npos) {
    dir.assign(1, '.');
    base = s;
  } else {
    dir.assign(s, 0, slash == 0 ? 1 : slash);
    base.assign(s, slash + 1, std::string::npos);
  }
}

// Renumbers the views of text above `number` after one of them left.
void subText(Text* text, long number) {
  for (View* v = View::firstView(); v; v = v->nextView())
    if (&v->getText() == text && v->viewNumber() > number) v->renumber(v->viewNumber() - 1);
}

}  // namespace

// ---- construction -----------------------------------------------------------

Text* View::constructText(String const& name) {
  View* other = existText(name);
  return other ? other->text_ : new Text(name);
}

View::View(String const& name, Text* text, TextCursor* cursor)
    : text_(text ? text : constructText(name)), cursor_(cursor ? cursor : new TextCursor(*text_)), flags_(0) {
  registerView();
}

View::View(String const& command, bool deferRead, Text* text, TextCursor* cursor)
    : text_(text ? text : new Text(command, deferRead)),
      cursor_(cursor ? cursor : new TextCursor(*text_)),
      flags_(0),
      created_(Time::now()),
      readDone_(!deferRead) {
  registerView();
}

void View::registerView() {
  if (!cursor_->list()) *cursor_ = *text_;
  View** end = &head;
  while (*end) end = &(*end)->next_;
  *end = this;
  viewNumber_ = static_cast<int32_t>(text_->nroViews());
  text_->incViews();
  label_ = text_->getTextName();
  if (viewNumber_ == 1) relabelTextViews();
}

View::~View() {
  if (!hidden()) {
    savedLine_ = cursor_->line();
    savedCol_ = cursor_->column();
    unDisplay();
  }
  ZF_ASSERT(text_->nroViews() > 0);
  text_->decViews();
  for (View** p = &head; *p; p = &(*p)->next_)
    if (*p == this) {
      *p = next_;
      break;
    }
  delete cursor_;
  cursor_ = nullptr;
  if (text_->nroViews() > 0) {
    subText(text_, viewNumber_);
    if (!existActText()) text_->deActivate();
    else relabelTextViews();
  } else {
    text_->deActivate();
    delete text_;
  }
  text_ = nullptr;
}

void View::renumber(long n) { viewNumber_ = static_cast<int32_t>(n); }

void View::relabelTextViews() {
  for (View* v = head; v; v = v->next_)
    if (v->text_ == text_ && !v->hidden()) v->drawLabel();
}

View* View::existText(String const& name) {
  if (name.isNull()) return nullptr;
  for (View* v = head; v; v = v->next_)
    if (!v->helpView() && !v->text_->isType(TextStream) && sameFile(v->text_->getTextName(), name)) return v;
  return nullptr;
}

View* View::existActText() const {
  for (View* v = head; v; v = v->next_)
    if (v != this && v->text_ == text_ && !v->hidden()) return v;
  return nullptr;
}

bool View::sameFile(String const& a, String const& b) {
  if (a.isNull() || b.isNull()) return false;
  if (a == b) return true;
  std::string da, ba, db, bb;
  splitName(a, da, ba);
  splitName(b, db, bb);
  if (ba != bb) return false;
  struct stat sa, sb;
  if (::stat(da.c_str(), &sa) != 0 || ::stat(db.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// ---- labels and display -------------------------------------------------------

String View::getLabel(bool numbered) const {
  if (!numbered || text_->nroViews() < 2) return label_;
  return label_ + String(" [") + numText(viewNumber_) + String("]");
}

void View::drawLabel() {
  if (hidden()) return;
  setBorder(isCurrent() ? kBorderCurrent : kBorderOther, getLabel(true));
  writeStLine();
}

void View::chgLabel(String const& label) {
  label_ = label;
  drawLabel();
}

void View::displayFramed(long row, long col, long height, long width) {
  int border = isCurrent() ? kBorderCurrent : kBorderOther;
  if (defViewPar)
    display(defViewPar, row, col, height, width, border, getLabel(true), 0);
  else
    display(row, col, height, width, border, getLabel(true), 0);
  wrap(false);
}

void View::activate(long row, long col, long height, long width, bool current) {
  if (!hidden()) return;
  text_->activate();
  cursor_->goTo(savedLine_, savedCol_);
  if (current) flags_ |= FlagCurrent;
  displayFramed(row, col, height, width);
  height_ = orgHeight_ = Window::height();
  width_ = orgWidth_ = Window::width();
  Window* par = defViewPar ? defViewPar : Window::rootWindow();
  orgRow_ = Window::orgRow() - std::max(par->orgRow(), 0L);
  orgCol_ = Window::orgCol() - std::max(par->orgCol(), 0L);
  flags_ |= FlagOwnSize;
  actOrigins();
  redraw();
  if (!readDone_) readStream();
}

void View::readStream() {
  reading_ = true;
  {
    InputPipe in(text_->getTextName(), true, true, 1024);
    std::string raw;
    for (;;) {
      char c = in.getc();
      if (!in.ok()) {
        if (!raw.empty()) appendLine(Text::encodeTabs(String(static_cast<long>(raw.size()), raw.data())));
        break;
      }
      if (c == '\n') {
        appendLine(Text::encodeTabs(String(static_cast<long>(raw.size()), raw.data())));
        raw.clear();
        if (isAborted()) break;
      } else if (c != '\r') {
        raw.push_back(c);
      }
    }
  }
  text_->resetModif();
  reading_ = false;
  readDone_ = true;
  redraw();
}

void View::deActivate() {
  if (hidden()) return;
  savedLine_ = cursor_->line();
  savedCol_ = cursor_->column();
  unDisplay();
  if (!existActText()) text_->deActivate();
  flags_ &= ~FlagCurrent;
}

void View::setCurrent(bool on) {
  bool was = isCurrent();
  if (on)
    flags_ |= FlagCurrent;
  else
    flags_ &= ~FlagCurrent;
  if (!hidden() && was != on) drawLabel();
}

void View::placeCursor() {
  if (hidden()) return;
  goTo(cursor_->line() - topOrigin_, cursor_->column() - colOrigin_);
}

void View::update() {
  if (hidden()) return;
  erase();
  String ext = extension();
  TextCursor c(*text_);
  for (long r = 0; r < height_; ++r) {
    c.goTo(topOrigin_ + r, 0);
    if (c.valid()) redrawLine(c, ext);
  }
  writeStLine();
}

void View::redraw() {
  update();
  if (fullRedraw) updateOtherViews();
  placeCursor();
}

void View::redrawCurrLine() {
  if (hidden()) return;
  String ext = extension();
  redrawLine(*cursor_, ext);
  writeStLine();
  updateOtherViews();
  placeCursor();
}

void View::updateOtherViews() {
  if (text_->nroViews() < 2) return;
  for (View* v = head; v; v = v->next_)
    if (v != this && v->text_ == text_ && !v->hidden()) {
      v->actOrigins();
      v->update();
    }
  placeCursor();
}

String View::extension() const {
  std::string d, b;
  splitName(text_->getTextName(), d, b);
  size_t dot = b.rfind('.');
  if (dot == std::string::npos) return String();
  std::string e = b.substr(dot + 1);
  return String(static_cast<long>(e.size()), e.data());
}

long View::keyWordAttrib(String const&, String const&) { return -1; }

Decoration* View::getDecoration(char const* line, String& ext) {
  Decoration* first = nullptr;
  Decoration** tail = &first;
  for (long i = 0; line[i];) {
    if (!isAlphaChar(line[i])) {
      ++i;
      continue;
    }
    long s = i;
    while (line[i] && isAlphaChar(line[i])) ++i;
    long a = keyWordAttrib(String(line + s, i - s), ext);
    if (a == -1) continue;
    if (a == static_cast<long>(static_cast<int32_t>(0x80000000))) a = 0x800;
    *tail = new Decoration(s, i - s, static_cast<int32_t>(a));
    tail = &(*tail)->next;
  }
  return first;
}

void View::redrawLine(TextCursor& line, String& ext) {
  long row = line.line() - topOrigin_;
  if (hidden() || row < 0 || row >= height_) return;
  goTo(row, 0);
  eraseEol();
  if (!line.valid()) return;
  bool ctrl = (flags_ & FlagControl) != 0;
  String const& s = line.value();
  long len = s.length();
  Decoration* decos = ctrl ? nullptr : getDecoration(toCharPtr(s), ext);
  long end = std::min(len, colOrigin_ + width_);
  long written = 0;  // attribute in the window
  std::string run;
  long runAttr = 0;
  auto flush = [&]() {
    if (run.empty()) return;
    if (runAttr != written) {
      setAttr(runAttr);
      written = runAttr;
    }
    *this << String(static_cast<long>(run.size()), run.data());
    run.clear();
  };
  TextCursor at(line);
  long zoneAttr = 0, zoneLast = -1;
  goTo(row, 0);
  for (long c = colOrigin_; c < end; ++c) {
    if (c > zoneLast) {
      at.goToCol(c);
      zoneAttr = text_->getAttr(at, zoneLast);
    }
    long a = zoneAttr;
    for (Decoration* d = decos; d; d = d->next)
      if (c >= d->start && c <= d->end) a |= d->attrib;
    char ch = s[c];
    unsigned char out;
    if (ch == '\t')
      out = ctrl ? 0xAB : ' ';
    else if (ch == kFill)
      out = ctrl ? '.' : ' ';
    else if (static_cast<unsigned char>(ch) < 32)
      out = 0xFF;
    else
      out = static_cast<unsigned char>(ch);
    if (a != runAttr) {
      flush();
      runAttr = a;
    }
    run.push_back(static_cast<char>(out));
  }
  flush();
  while (decos) {
    Decoration* n = decos->next;
    delete decos;
    decos = n;
  }
  if (written != 0) setAttr(0);
  if (ctrl && len >= colOrigin_ && len < colOrigin_ + width_) {
    goTo(row, len - colOrigin_);
    *this << '$';
  }
}

void View::writeStLine(String const& message) {
  if (hidden()) return;
  goTo(height_, 0);
  *this << String(width_, static_cast<char>(isCurrent() ? 0xB1 : 0xA1));
  _writeStLine();
  if (flags_ & FlagHelp) {
    goTo(height_, 60);
    *this << "Help";
  }
  if (!message.isNull()) {
    String pos = numText(cursor_->line() + 1) + String(":") + numText(cursor_->column() + 1);
    goTo(height_, 7 + pos.length());
    *this << "  " << message;
  }
  placeCursor();
}

void View::_writeStLine() {
  goTo(height_, 7);
  *this << numText(cursor_->line() + 1) + String(":") + numText(cursor_->column() + 1);
}

String View::msg(String const& key) const {
  if (!msgs) return String("(No message table)");
  return msgs->find(key);
}

void View::chgCtrolMode() {
  flags_ ^= FlagControl;
  redraw();
}

void View::chgHelpMode() {
  flags_ ^= FlagHelp;
  redraw();
}

void View::setSize(long row, long col, long height, long width) {
  if (hidden()) return;
  flags_ &= ~FlagOwnSize;
  unDisplay();
  displayFramed(row, col, height, width);
  height_ = Window::height();
  width_ = Window::width();
  actOrigins();
  redraw();
}

void View::chgOrgSize(long row, long col, long height, long width) {
  setSize(row, col, height, width);
  orgRow_ = row;
  orgCol_ = col;
  orgHeight_ = height_;
  orgWidth_ = width_;
  flags_ |= FlagOwnSize;
}

void View::setOrgSize() {
  if (flags_ & FlagOwnSize) return;
  setSize(orgRow_, orgCol_, orgHeight_, orgWidth_);
  flags_ |= FlagOwnSize;
}

void View::resize() {
  if (hidden()) return;
  Window::resize();
  height_ = Window::height();
  width_ = Window::width();
  actOrigins();
  redraw();
}

void View::move() {
  if (hidden()) return;
  Window::move();
  Window* par = defViewPar ? defViewPar : Window::rootWindow();
  orgRow_ = Window::orgRow() - std::max(par->orgRow(), 0L);
  orgCol_ = Window::orgCol() - std::max(par->orgCol(), 0L);
  actOrigins();
  writeStLine();
}

TextCursor& View::getCursor() const {
  ZF_ASSERT(cursor_ != nullptr);
  return *cursor_;
}

Text& View::getText() const {
  ZF_ASSERT(text_ != nullptr);
  return *text_;
}

bool View::exit(bool) { return !dontExit_; }

bool View::isAborted() {
  ZF_ASSERT(!hidden());
  if (!keyReady()) return false;
  return getKey() == 129;
}

void View::appendLine(String const& line) {
  text_->add(line);
  long top = topOrigin_, left = colOrigin_;
  cursor_->goTo(text_->nLines(), 0);
  actOrigins();
  if (top != topOrigin_ || left != colOrigin_) {
    redraw();
  } else if (!hidden()) {
    TextCursor c(*text_);
    c.goTo(text_->nLines() - 1, 0);
    String ext = extension();
    redrawLine(c, ext);
    writeStLine();
  }
  if (!hidden()) refresh();
}

void View::clear() {
  ZF_ASSERT(text_ != nullptr);
  text_->delAll();
  topOrigin_ = colOrigin_ = 0;
  cursor_->goTo(0, 0);
  redraw();
}

bool View::load(String name) {
  if (hidden()) return false;
  View* other = existText(name);
  if (other && other->text_ == text_) {
    // Already this view's text.
  } else if (other || text_->nroViews() > 1) {
    Text* old = text_;
    old->decViews();
    subText(old, viewNumber_);
    cursor_->clear();
    text_ = other ? other->text_ : constructText(name);
    if (old->nroViews() == 0) {
      old->deActivate();
      delete old;
    } else {
      bool shown = false;
      for (View* v = head; v; v = v->next_)
        if (v != this && v->text_ == old && !v->hidden()) shown = true;
      if (!shown) old->deActivate();
      for (View* v = head; v; v = v->next_)
        if (v != this && v->text_ == old && !v->hidden()) v->drawLabel();
    }
    viewNumber_ = static_cast<int32_t>(text_->nroViews());
    text_->incViews();
    text_->activate();
    *cursor_ = *text_;
  } else {
    text_->setFile(name, true);
  }
  label_ = text_->getTextName();
  topOrigin_ = colOrigin_ = 0;
  cursor_->goTo(0, 0);
  relabelTextViews();
  redraw();
  return true;
}

void View::reload() { text_->setFile(text_->getTextName(), true); }

void View::deleteView(View* v) {
  if (!v) return;
  if (v->fileView() && v->text_->nroViews() == 1 && v->text_->fileText()) v->text_->fileText()->rmFiles();
  delete v;
}

bool View::findTokenBounds(long& first, long& last) {
  first = last = -1;
  if (!cursor_->valid()) return false;
  String const& s = cursor_->value();
  long c = cursor_->column();
  if (c >= s.length() || !isWordChar(s[c])) return false;
  first = last = c;
  while (first > 0 && isWordChar(s[first - 1])) --first;
  while (last + 1 < s.length() && isWordChar(s[last + 1])) ++last;
  return true;
}

void View::highlightToken(long first, long last) {
  TextCursor a(*cursor_), b(*cursor_);
  a.goToCol(first);
  b.goToCol(last);
  text_->setAttr(a, b, AttrDisplayMark);
  redrawCurrLine();
  refresh();
  text_->delAttr(a, b, AttrDisplayMark);
  redrawCurrLine();
}

String View::getToken() {
  long first, last;
  if (!findTokenBounds(first, last)) return String();
  highlightToken(first, last);
  return String(cursor_->value(), last + 1)(first);
}

// ---- origins and movement -----------------------------------------------------

bool View::actTopOrigin() {
  if (cursor_->line() >= topOrigin_) return false;
  topOrigin_ = std::max(cursor_->line(), 0L);
  return true;
}

bool View::actBotOrigin() {
  if (height_ <= 0 || cursor_->line() < topOrigin_ + height_) return false;
  topOrigin_ = cursor_->line() - height_ + 1;
  return true;
}

bool View::actColOrigin() {
  long c = cursor_->column();
  if (c < colOrigin_) {
    colOrigin_ = c;
    return true;
  }
  if (width_ > 0 && c >= colOrigin_ + width_) {
    colOrigin_ = c - width_ + 1;
    return true;
  }
  return false;
}

bool View::actOrigins() {
  bool a = actTopOrigin();
  bool b = actBotOrigin();
  bool c = actColOrigin();
  return a || b || c;
}

void View::endMove(bool moved) {
  if (hidden()) return;
  if (moved)
    redraw();
  else
    writeStLine();
}

void View::actCurrLine(long n) {
  long top = topOrigin_, left = colOrigin_;
  cursor_->goTo(cursor_->line() + n);
  actOrigins();
  if (hidden()) return;
  long d = topOrigin_ - top;
  if (left == colOrigin_ && (d == 1 || d == -1)) {
    scroll(d);
    String ext = extension();
    redrawLine(*cursor_, ext);
    writeStLine();
  } else {
    endMove(d != 0 || left != colOrigin_);
  }
}

long View::lastReachable() const { return std::max(text_->nLines(), 1L) + height_ - 2; }

void View::cursDown(long n) {
  if (cursor_->line() + n > lastReachable()) {
    beep();
    return;
  }
  actCurrLine(n);
}

void View::cursUp(long n) {
  if (cursor_->line() - n < 0) {
    beep();
    return;
  }
  actCurrLine(-n);
}

void View::cursLeft(long n, bool) {
  if (cursor_->line() == 0 && cursor_->column() == 0) {
    beep();
    return;
  }
  cursor_->moveCol(-n, true);
  endMove(actOrigins());
}

void View::cursRight(long n, bool) {
  cursor_->goToCol(cursor_->column() + n);
  endMove(actOrigins());
}

bool View::findNextWord(long n, long& line, long& col) const {
  line = col = -1;
  if (!cursor_->valid()) return false;
  TextCursor c(*cursor_);
  long l = c.line(), k = c.column();
  long last = text_->nLines() - 1;
  for (long i = 0; i < n; ++i) {
    String const* s = &c.value();
    while (k < s->length() && isWordChar((*s)[k])) ++k;
    for (;;) {
      while (k < s->length() && !isWordChar((*s)[k])) ++k;
      if (k < s->length()) break;
      if (l >= last) {
        line = l;
        col = s->length();
        return true;
      }
      c.goTo(++l, 0);
      s = &c.value();
      k = 0;
    }
  }
  line = l;
  col = k;
  return true;
}

bool View::findPrevWord(long n, long& line, long& col) const {
  line = col = -1;
  if (!cursor_->valid()) return false;
  TextCursor c(*cursor_);
  long l = c.line(), k = std::min(static_cast<long>(c.column()), c.value().length());
  for (long i = 0; i < n; ++i) {
    // Back over non-word characters (line ends included) to a word's end.
    for (;;) {
      if (k > 0 && isWordChar(c.value()[k - 1])) break;
      if (k > 0) {
        --k;
        continue;
      }
      if (l == 0) {
        line = col = 0;
        return true;
      }
      c.goTo(--l, 0);
      k = c.value().length();
    }
    while (k > 0 && isWordChar(c.value()[k - 1])) --k;
  }
  line = l;
  col = k;
  return true;
}

void View::wordRight(long n) { n < 0 ? wordLeft(-n) : moveToWord(n, true); }

void View::wordLeft(long n) { n < 0 ? wordRight(-n) : moveToWord(n, false); }

void View::moveToWord(long n, bool forward) {
  long l, c;
  bool found = forward ? findNextWord(n, l, c) : findPrevWord(n, l, c);
  if (!found || (l == cursor_->line() && c == cursor_->column())) {
    beep();
    return;
  }
  goCursor(l, c, false);
}

void View::goFirstNonSp() {
  cursor_->goToCol(cursor_->goFirstNonSp());
  endMove(actOrigins());
}

void View::goToBegOfFile() {
  cursor_->goTo(0, 0);
  topOrigin_ = colOrigin_ = 0;
  redraw();
}

void View::goToEndOfFile() {
  long last = std::max(text_->nLines() - 1, 0L);
  cursor_->goTo(last, 0);
  topOrigin_ = std::max(last - height_ + 1, 0L);
  colOrigin_ = 0;
  redraw();
}

void View::goToBegOfScreen() {
  cursor_->goTo(topOrigin_);
  endMove(actOrigins());
}

void View::goToMiddleOfScreen() {
  cursor_->goTo(topOrigin_ + (height_ - 1) / 2);
  endMove(actOrigins());
}

void View::goToEndOfScreen() {
  cursor_->goTo(topOrigin_ + height_ - 1);
  endMove(actOrigins());
}

void View::pageDown(long n) {
  long step = n * height_;
  long target = cursor_->line() + step;
  long lastLine = std::max(text_->nLines() - 1, 0L);
  if (target > lastReachable()) {
    cursor_->goTo(lastReachable());
    topOrigin_ = lastLine;
    beep();
  } else {
    cursor_->goTo(target);
    topOrigin_ = std::min(topOrigin_ + step, lastLine);
  }
  actOrigins();
  redraw();
}

void View::pageUp(long n) {
  long step = n * height_;
  long target = cursor_->line() - step;
  if (target < 0) {
    cursor_->goTo(0);
    topOrigin_ = 0;
    beep();
  } else {
    cursor_->goTo(target);
    topOrigin_ = std::max(topOrigin_ - step, 0L);
  }
  actOrigins();
  redraw();
}

void View::goCursor(long line, long col, bool center) {
  if (line < 0) line = 0;
  cursor_->goTo(line, col);
  bool moved;
  if (center && (line < topOrigin_ || line >= topOrigin_ + height_)) {
    topOrigin_ = std::max(line - height_ / 2, 0L);
    actColOrigin();
    moved = true;
  } else {
    moved = actOrigins();
  }
  endMove(moved);
}

void View::adjustRanges(long& first, long& last) const {
  long count = text_->nLines();
  if (last == -1) last = count;
  if (first > last) std::swap(first, last);
  if (first < 1) first = 1;
  if (last < 1) last = 1;
  if (first > count) first = count;
  if (last > count) last = count;
}
