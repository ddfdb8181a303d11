// Scroll menus over lists, string arrays and directories (see ScrollMenu.h).
#include <winkit/ScrollMenu.h>

#include <zfound/Assert.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr unsigned char kEsc = 129;
constexpr unsigned char kEnter = 132;
constexpr unsigned char kFind = 154;
constexpr char kTopMark = '\xAC';
constexpr char kBottomMark = '\xAD';
constexpr char kReadOnly = '\xAB';

String workingDir() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? String(buf) : String("/");
}

// True when `text`, in upper case, contains `what` (already upper case).
bool containsUpper(String const& text, String const& what) {
  if (text.isNull() || text.isHighest()) return false;
  String up = text.toUpper();
  return std::strstr(toCharPtr(up), toCharPtr(what)) != nullptr;
}

}  // namespace

// ------------------------------------------------------------- UserAccess

// Every supplementary group, sized by asking first: a fixed table would make
// getgroups fail for users in more groups, and every mark and check with it.
UserAccess UserAccess::read() {
  UserAccess u;
  u.uid_ = ::geteuid();
  u.groups_.push_back(::getegid());
  int n = ::getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> g(static_cast<size_t>(n));
    n = ::getgroups(n, g.data());
    if (n > 0) u.groups_.insert(u.groups_.end(), g.begin(), g.begin() + n);
  }
  return u;
}

UserAccess const& UserAccess::current() {
  static UserAccess const u = read();
  return u;
}

long UserAccess::rights(long mode, long uid, long gid) const {
  if (uid_ == 0) return kRead | kWrite | kSearch;
  long shift;
  if (static_cast<uid_t>(uid) == uid_) {
    shift = 6;
  } else {
    shift = 0;
    for (gid_t g : groups_)
      if (static_cast<gid_t>(gid) == g) shift = 3;
  }
  long bits = (mode >> shift) & 7;
  return (bits & 4 ? kRead : 0) | (bits & 2 ? kWrite : 0) | (bits & 1 ? kSearch : 0);
}

// ------------------------------------------------------------- ScrollMenu

ScrollMenu::ScrollMenu(String const& title, TextFunc text, long rows, long width, long r, long c, bool hilit)
    : PoppableMenu(title, r, c, hilit), text_(text), rows_(rows > kMaxRows ? kMaxRows : rows), width_(width) {}

ScrollMenu::ScrollMenu(TextFunc text, long rows, long width, long r, long c, bool hilit)
    : ScrollMenu(String(), text, rows, width, r, c, hilit) {}

String ScrollMenu::highest() { return String(2147483647L, static_cast<char const*>(nullptr)); }

void ScrollMenu::fpRead(long i, String& text, String& sec, long& attr) {
  attr = 0;
  sec = highest();
  text = text_ ? text_(i) : highest();
}

void ScrollMenu::newSMenu(TextFunc text, long rows, long width) {
  text_ = text;
  rows_ = rows > kMaxRows ? kMaxRows : rows;
  width_ = width;
  reFill();
}

void ScrollMenu::calcDim(long& rows, long& cols) {
  rows = rows_;
  cols = width_;
}

MenuItem ScrollMenu::makeItem(long i, String const& text, String const& sec, long attr, char marker) const {
  MenuItem it(text, i, hilit_ ? marker : '\0', attr);
  it.setSecText(sec.isHighest() ? String() : sec);
  if (!hilit_) it.setNHKey(-1);
  return it;
}

void ScrollMenu::fillItems(long cur) {
  if (cur < 0) cur = 0;
  for (int pass = 0; pass < 2; ++pass) {
    clearItems();
    top_ = cur >= rows_ - 1 ? cur + 1 - rows_ : 0;
    if (top_ < 0) top_ = 0;
    for (long i = top_; nitems_ < rows_; ++i) {
      String text, sec;
      long attr;
      fpRead(i, text, sec, attr);
      if (isEnd(text, sec)) break;
      addItem(makeItem(i, text, sec, attr, '\x01'));
    }
    if (cur - top_ < nitems_) break;
    // The list became shorter than the remembered entry: start at its top.
    cur = 0;
  }
  curr_ = nitems_ == 0 ? -1 : cur - top_;
}

void ScrollMenu::startItem() { fillItems(start_ >= 0 ? start_ : 0); }

bool ScrollMenu::display(long r, long c) {
  if (wi->hidden()) {
    bool open = curr_ >= 0;
    fillItems(open ? top_ + curr_ : (start_ >= 0 ? start_ : 0));
    if (!open) curr_ = -1;
  }
  return PoppableMenu::display(r, c);
}

bool ScrollMenu::incCurrItem(long n) {
  if (nitems_ == 0 || curr_ < 0) return false;
  long moved = 0;
  for (; moved < n; ++moved) {
    if (curr_ < nitems_ - 1) {
      ++curr_;
      continue;
    }
    String text, sec;
    long attr;
    fpRead(top_ + nitems_, text, sec, attr);
    if (isEnd(text, sec)) break;
    delete items_[0];
    for (long i = 1; i < nitems_; ++i) items_[i - 1] = items_[i];
    items_[nitems_ - 1] = new MenuItem(makeItem(top_ + nitems_, text, sec, attr, '~'));
    ++top_;
  }
  if (moved == 0) return false;
  newCurrItem(top_ + curr_);
  return true;
}

bool ScrollMenu::decCurrItem(long n) {
  if (nitems_ == 0 || curr_ < 0) return false;
  long moved = 0;
  for (; moved < n; ++moved) {
    if (curr_ > 0) {
      --curr_;
      continue;
    }
    if (top_ == 0) break;
    String text, sec;
    long attr;
    fpRead(top_ - 1, text, sec, attr);
    if (isEnd(text, sec)) break;
    delete items_[nitems_ - 1];
    for (long i = nitems_ - 1; i > 0; --i) items_[i] = items_[i - 1];
    items_[0] = new MenuItem(makeItem(top_ - 1, text, sec, attr, '\x01'));
    --top_;
  }
  if (moved == 0) return false;
  newCurrItem(top_ + curr_);
  return true;
}

void ScrollMenu::fillWindow(bool passive) {
  if (wi->hidden()) return;
  wi->setBorder(border, label);
  PoppableMenu::fillWindow(passive);
  if (top_ > 0) {
    wi->goTo(-1, width - 1);
    *wi << kTopMark;
  }
  String text, sec;
  long attr;
  fpRead(top_ + nitems_, text, sec, attr);
  if (nitems_ > 0 && !isEnd(text, sec)) {
    wi->goTo(height, width - 1);
    *wi << kBottomMark;
  }
  wi->goTo(curr_ >= 0 ? curr_ : 0, 0);
}

bool ScrollMenu::incFind() {
  String what;
  for (;;) {
    unsigned char k;
    *wi >> k;
    lastKey_ = k;
    if (k == kFind) {
      what = String();
    } else if (k == kEnter) {
      return curr_ >= 0;
    } else if (k == kEsc) {
      return false;
    } else if (k >= ' ' && k != 127 && k < 128 && curr_ >= 0) {
      what += static_cast<char>(std::toupper(k));
      for (long i = top_ + curr_;; ++i) {
        String text, sec;
        long attr;
        fpRead(i, text, sec, attr);
        if (isEnd(text, sec)) {
          wi->beep();
          what = String();
          break;
        }
        if (containsUpper(text, what)) {
          if (i != top_ + curr_) {
            fillItems(i);
            newCurrItem(i);
          }
          fillWindow(false);
          Window::refresh();
          break;
        }
      }
    } else {
      wi->beep();
    }
  }
}

void ScrollMenu::refreshItems() {
  long cur = curr_ >= 0 ? top_ + curr_ : -1;
  long keepTop = top_;
  clearItems();
  for (long i = keepTop; nitems_ < rows_; ++i) {
    String text, sec;
    long attr;
    fpRead(i, text, sec, attr);
    if (isEnd(text, sec)) break;
    addItem(makeItem(i, text, sec, attr, '\x01'));
  }
  top_ = keepTop;
  if (cur >= 0) curr_ = cur - top_ < nitems_ ? cur - top_ : nitems_ - 1;
}

void ScrollMenu::reFill() {
  bool open = curr_ >= 0;
  fillItems(0);
  if (!open) curr_ = -1;
}

void ScrollMenu::refresh() {
  refreshItems();
  if (!wi->hidden()) {
    fillWindow(false);
    Window::refresh();
  }
}

// ------------------------------------------------------------- StringMenu

long StringMenu::widthFor(String const* arr, long count, long width) {
  long rootW = Window::rootWindow()->width();
  long w = 0;
  bool tooLong = false;
  for (long i = 0; i < count && arr && !arr[i].isNull(); ++i) {
    long n = arr[i].isHighest() ? 0 : arr[i].length();
    if (n > w) w = n;
    if (n > rootW - 6) tooLong = true;
  }
  if (tooLong) w = rootW - 4;
  if (width != -1 && w > width) w = width;
  return w + 2;
}

StringMenu::StringMenu(String const& title, String const* arr, long count, long r, long c, long width)
    : ScrollMenu(title, nullptr, count < kMaxRows ? count : kMaxRows, widthFor(arr, count, width), r, c, true),
      arr_(arr),
      count_(count) {}

void StringMenu::fpRead(long i, String& text, String& sec, long& attr) {
  attr = 0;
  if (i < 0 || i >= count_ || !arr_ || arr_[i].isNull()) {
    text = sec = highest();
    return;
  }
  text = arr_[i];
  sec = String();
}

// ------------------------------------------------------------- ExtStringMenu

ExtStringMenu::ExtStringMenu(String const& title, String const* arr, long count, long infoHeight, long r, long c,
                             long width)
    : StringMenu(title, arr, count, r, c, width) {
  rows_ = 5;
  allowMovedKeys();
  info_ = new InfoPanel(String(), infoHeight, width_, r - infoHeight - 2, c);
}

ExtStringMenu::~ExtStringMenu() { delete info_; }

void ExtStringMenu::fpRead(long i, String& text, String& sec, long& attr) {
  StringMenu::fpRead(i, text, sec, attr);
  if (isEnd(text, sec)) return;
  text.prune();
  if (text.length() > width_ - 2) text = String(text, width_ - 2 > 0 ? width_ - 2 : 0);
  // An entry of blanks only still shows as one row.
  if (text.isNull()) text = " ";
}

void ExtStringMenu::newCurrItem(long i) {
  last_ = i;
  showInfo(i);
}

void ExtStringMenu::showInfo(long i) {
  ZF_ASSERT(info_);
  info_->show(i >= 0 && i < count_ && arr_ ? arr_[i] : String());
}

void ExtStringMenu::dispinfo(long hide) {
  infoWanted_ = hide != 1;
  if (!infoWanted_) {
    info_->unDisplay();
    return;
  }
  if (wi->hidden()) return;
  info_->display(-1, -1);
  if (last_ >= 0) showInfo(last_);
  front();
}

bool ExtStringMenu::display(long r, long c) {
  bool shown = StringMenu::display(r, c);
  if (shown && infoWanted_ && info_->window()->hidden()) {
    info_->display(-1, -1);
    showInfo(last_ >= 0 ? last_ : start_ >= 0 ? start_ : 0);
    front();
  }
  return shown;
}

void ExtStringMenu::unDisplay() {
  info_->unDisplay();
  StringMenu::unDisplay();
}

// ------------------------------------------------------------- FileMenu

FileMenu::FileMenu(String const& title, String const& pattern, long rows, long width, long r, long c, String const& dir)
    : ScrollMenu(title, nullptr, rows, width, r, c, true), pattern_(pattern) {
  init(dir);
}

FileMenu::FileMenu(String const& title, long rows, long width, long r, long c, String const& dir)
    : ScrollMenu(title, nullptr, rows, width, r, c, true) {
  init(dir);
}

FileMenu::FileMenu(long rows, long width, long r, long c, String const& dir, String const& pattern)
    : ScrollMenu(String(), nullptr, rows, width, r, c, true), pattern_(pattern) {
  init(dir);
}

void FileMenu::init(String const& dir) {
  cwd_ = workingDir();
  dir_ = dir.isNull() ? cwd_ : dir;
  allowMovedKeys();
  setDspAlways(true);
}

void FileMenu::setDir(String const& dir) {
  dir_ = dir.isNull() ? cwd_ : dir;
  // A remembered entry of another listing means nothing here.
  start_ = -1;
  reFill();
  if (!wi->hidden()) {
    fillWindow(false);
    Window::refresh();
  }
}

void FileMenu::setFile(String const& pattern) {
  pattern_ = pattern;
  // A remembered entry of another listing means nothing here.
  start_ = -1;
  reFill();
  if (!wi->hidden()) {
    fillWindow(false);
    Window::refresh();
  }
}

// Entry i of the listing of dir (read again when it is stale) into text,
// with the user's rights on it in r; false, with text and sec the highest
// text, outside the listing.
static bool listedEntry(DirView& view, bool& read, String const& dir, String const& pat, long select, long i, String& text,
                 String& sec, long& r) {
  if (!read || cmp(view.dir(), dir) != 0 || cmp(view.rexp(), pat) != 0) {
    view.reset(dir, pat, select, DirView::kByName);
    read = true;
  }
  if (!view.isInRange(i)) {
    text = sec = ScrollMenu::highest();
    return false;
  }
  DirElem const& e = view.elem(i);
  text = e.name;
  r = UserAccess::current().rights(e.mode, e.uid, e.gid);
  return true;
}

void FileMenu::fpRead(long i, String& text, String& sec, long& attr) {
  attr = 0;
  long r;
  if (!listedEntry(view_, read_, dir_, pattern_.isNull() ? String("*") : pattern_, DirView::kRegular, i, text, sec, r))
    return;
  sec = !(r & UserAccess::kRead) ? String("-") : !(r & UserAccess::kWrite) ? String(1L, &kReadOnly) : String();
}

String FileMenu::name(long i) {
  String text, sec;
  long attr;
  fpRead(i, text, sec, attr);
  return isEnd(text, sec) ? String() : text;
}

long FileMenu::execute(unsigned char key) {
  if (!active) return -1;
  long r = PoppableMenu::execute(key);
  if (r != 0) return r;
  return action ? action->execute() : 0;
}

// ------------------------------------------------------------- DirMenu

DirMenu::DirMenu(String const& title, FileMenu* files, long rows, long width, long r, long c, String const& dir)
    : ScrollMenu(title, nullptr, rows, width, r, c, true), files_(files) {
  init(dir);
}

DirMenu::DirMenu(FileMenu* files, long rows, long width, long r, long c, String const& dir)
    : ScrollMenu(String(), nullptr, rows, width, r, c, true), files_(files) {
  init(dir);
}

DirMenu::DirMenu(long rows, long width, long r, long c, String const& dir)
    : ScrollMenu(String(), nullptr, rows, width, r, c, true), files_(nullptr) {
  init(dir);
}

void DirMenu::init(String const& dir) {
  cwd_ = workingDir();
  dir_ = dir.isNull() ? cwd_ : dir;
  // Tab and the cursor keys leave the list, as in the file list beside it.
  allowMovedKeys();
}

void DirMenu::setDir(String const& dir) {
  dir_ = dir.isNull() ? cwd_ : dir;
  // A remembered entry of another listing means nothing here.
  start_ = -1;
  reFill();
  if (!wi->hidden()) {
    fillWindow(false);
    Window::refresh();
  }
}

String DirMenu::buildDirStr(String const& name) const {
  if (!name.isNull() && name[0] == '/') return name;
  if (cmp(name, "..") == 0) {
    if (cmp(dir_, "/") == 0) return dir_;
    long slash = dir_.isNull() ? -1 : dir_.backIndex('/');
    String last = slash < 0 ? dir_ : String(dir_(slash + 1));
    if (last.isNull() || cmp(last, ".") == 0) return slash < 0 ? String("..") : String(dir_ + "/..");
    if (cmp(last, "..") == 0) return dir_ + "/..";
    // The root stays the root.
    if (slash == 0) return String("/");
    return slash < 0 ? String(".") : String(dir_, slash);
  }
  String d = dir_;
  if (d.isNull() || d[d.length() - 1] != '/') d += '/';
  d += name;
  return d;
}

void DirMenu::fpRead(long i, String& text, String& sec, long& attr) {
  attr = 0;
  long r;
  if (!listedEntry(view_, read_, dir_, "*", DirView::kDirs | DirView::kDotDot, i, text, sec, r))
    return;
  sec = (r & (UserAccess::kSearch | UserAccess::kRead)) != (UserAccess::kSearch | UserAccess::kRead) ? String("-")
        : !(r & UserAccess::kWrite) ? String(1L, &kReadOnly)
                                    : String();
}

long DirMenu::execute(unsigned char key) {
  if (!active) return -1;
  bool selfHidden = wi->hidden();
  bool filesHidden = files_ && files_->window()->hidden();
  display(-1, -1);
  if (files_) files_->display(-1, -1);
  long r;
  for (;;) {
    r = PoppableMenu::execute(key);
    if (r != 0 || lastKey_ != kEnter || currOpt() < 0) break;
    String text, sec;
    long attr;
    fpRead(currOpt(), text, sec, attr);
    if (isEnd(text, sec) || cmp(sec, "-") == 0) continue;
    String next = buildDirStr(text);
    setDir(next);
    if (files_) files_->setDir(next);
    if (action) action->execute();
  }
  if (selfHidden) unDisplay();
  if (filesHidden) files_->unDisplay();
  return r;
}
