// File and directory selectors (see Selectors.h).
#include <winkit/Selectors.h>

#include <winkit/DirView.h>
#include <zeph/PathSearch.h>

#include <zfound/Assert.h>
#include <zfound/Message.h>
#include <zfound/RegExp.h>

#include <sys/stat.h>

#include <cerrno>

namespace {

constexpr unsigned char kEsc = 129;
constexpr unsigned char kEnter = 132;
constexpr long kDirLabelWidth = 39;

// dir + "/" + name without a doubled "/" after the root.
String joinPath(String const& dir, String const& name) {
  String out = dir;
  if (out.isNull() || out[out.length() - 1] != '/') out += '/';
  out += name;
  return out;
}

bool isDirectory(String const& path) {
  struct stat st;
  return !path.isNull() && ::stat(toCharPtr(path), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// ------------------------------------------------------------- DirSelector

DirSelector::DirSelector(String const& title, long h, long w, long r, long c, String const& start)
    : Panel(title, h, w, r, c),
      start_(start),
      cell_(299, 25, 0, 1, 2, nullptr),
      dirs_(8, 20, 4, 4, start),
      getDirAction_(this, &DirSelector::getDir),
      okAction_(this, &DirSelector::ok),
      cancelAction_(this, &DirSelector::cancel),
      okButton_(14, 3, libMsg("OK"), 10, &okAction_),
      cancelButton_(14, 17, libMsg("CANCEL"), 10, &cancelAction_),
      objs_{&cell_, &dirs_, &okButton_, &cancelButton_} {
  cell_.setValue(start);
  dirs_.setAction(&getDirAction_);
  InitObjs(objs_, 4);
  setDefaultAction(&okAction_);
}

DirSelector::~DirSelector() { unDisplay(); }

long DirSelector::getDir() {
  cell_.setValue(dirs_.retDir());
  cell_.writeStr();
  return 0;
}

long DirSelector::ok() {
  result_ = expandEnvVars(cell_.value());
  return cmp(result_, start_) != 0 ? 1 : -1;
}

// ------------------------------------------------------------- FileSelector

FileSelector::FileSelector(String const& title, long h, long w, long r, long c, String const& dir,
                           String const& pattern, String const& path, StrHistory* history)
    : Panel(title, h, w, r, c),
      start_(dir),
      curDir_(dir),
      path_(path),
      cell_(64, 39, 0, 1, 2, history),
      files_(10, 16, 5, 2, dir, pattern),
      dirs_(&files_, 10, 16, 5, 23, dir),
      setFileAction_(this, &FileSelector::setFile),
      selectAction_(this, &FileSelector::doSelection),
      dirAction_(this, &FileSelector::setDirectory),
      okAction_(this, &FileSelector::ok),
      cancelAction_(this, &FileSelector::cancel),
      okButton_(16, 8, libMsg("OK"), 10, &okAction_),
      cancelButton_(16, 23, libMsg("CANCEL"), 10, &cancelAction_),
      dirLabel_(String(), 2, 2, kDirLabelWidth, -1),
      filterLabel_(String(), 3, 2, 10, -1),
      objs_{&cell_, &files_, &dirs_, &okButton_, &cancelButton_},
      labels_{&dirLabel_, &filterLabel_} {
  cell_.setAction(&setFileAction_);
  files_.setAction(&selectAction_);
  files_.setCurrent(-1, true);
  dirs_.setAction(&dirAction_);
  shrunkDirLabel(dir);
  updateFilterLabel(pattern);
  InitObjs(objs_, 5);
  InitLabels(labels_, 2);
  setDefaultAction(&okAction_);
}

FileSelector::~FileSelector() { unDisplay(); }

void FileSelector::shrunkDirLabel(String const& dir) {
  ZF_ASSERT_TEXT(dirLabel_.window() != nullptr, "wi != (0)");
  String shown = dir;
  if (shown.length() > kDirLabelWidth) shown = String(dir, 10) + " ... " + String(dir(dir.length() - 23));
  dirLabel_.setValue(shown);
  dirLabel_.draw();
}

void FileSelector::updateFilterLabel(String const& pattern) {
  ZF_ASSERT_TEXT(filterLabel_.window() != nullptr, "wi != (0)");
  filterLabel_.setValue(pattern);
  filterLabel_.draw();
}

String FileSelector::calcStr(String const& name, bool fromCell) const {
  String dir = files_.retDir();
  if (cmp(dir, start_) == 0 || (fromCell && name.index('/') >= 0)) return name;
  String under = joinPath(start_, String());
  if (dir.startsWith(under) && dir.length() > under.length()) return joinPath(String(dir(under.length())), name);
  return joinPath(dir, name);
}

String FileSelector::calcCellStr(String const& name) const { return calcStr(name, true); }

String FileSelector::calcMenuStr(String const& name) const { return calcStr(name, false); }

String FileSelector::resolve(String const& name) const {
  return !name.isNull() && name[0] == '/' ? name : joinPath(start_, name);
}

void FileSelector::showError(char const* key, String const& text, long w) {
  MsgBox box(libMsg("ERR"), libMsg(key) + text, 5, w, 6, 20);
  box.execute(0);
  if (!wi->hidden()) display(-1, -1);
}

long FileSelector::checkPerms() {
  UserAccess const& user = UserAccess::current();
  String accepted;
  long all = 3;
  bool any = false;
  String sel = selection_;
  long n = sel.isHighest() ? 0 : sel.length();
  for (long i = 0; i < n;) {
    while (i < n && sel[i] == ' ') ++i;
    long from = i;
    while (i < n && sel[i] != ' ') ++i;
    if (i == from) break;
    String name = String(sel(from, i - from));
    String expanded = expandEnvVars(name);
    String found = findInPath(expanded, path_);
    if (found.isNull()) found = expanded;
    String full = resolve(found);
    long flags = 3;
    long slash = found.backIndex('/');
    if (slash >= 0) {
      String dir = slash == 0 ? String("/") : resolve(String(found, slash));
      struct stat st;
      if (::stat(toCharPtr(dir), &st) != 0 || !S_ISDIR(st.st_mode)) {
        showError("CANTACCESSDIR", " (" + name + ")", 35);
        continue;
      }
      long r = user.rights(st.st_mode, st.st_uid, st.st_gid);
      if (!(r & UserAccess::kSearch)) flags = 0;
      if (!(r & UserAccess::kRead)) flags &= ~1;
      if (!(r & UserAccess::kWrite)) flags &= ~2;
    }
    struct stat st;
    if (::stat(toCharPtr(full), &st) == 0) {
      if (!S_ISREG(st.st_mode)) {
        showError("NOTREGFILE", "(" + name + ")", 40);
        continue;
      }
      long r = user.rights(st.st_mode, st.st_uid, st.st_gid);
      if (!(r & UserAccess::kRead)) flags &= ~1;
      if (!(r & UserAccess::kWrite)) flags &= ~2;
    } else if (errno != ENOENT) {
      flags = 0;
    }
    if (any) accepted += ' ';
    accepted += found;
    all &= flags;
    any = true;
  }
  selection_ = accepted;
  perms_ = any ? all : 0;
  return any ? 0 : -1;
}

long FileSelector::ok() {
  if (!cell_.value().isNull()) {
    selection_ = calcCellStr(cell_.value());
  } else {
    // The list's last choice: a file chosen with Space stays chosen after
    // the list was left (each run of the list starts without a result).
    long i = files_.currOpt();
    if (i < 0) i = files_.remembered();
    if (i < 0 || files_.name(i).isNull()) return -1;
    selection_ = calcMenuStr(files_.name(i));
  }
  return checkPerms() == 0 ? 1 : 0;
}

void FileSelector::clearCell() {
  cell_.setValue(String());
  cell_.writeStr();
}

long FileSelector::setFile() {
  if (cell_.lastKey() == kEsc) return -1;
  String text = expandEnvVars(cell_.value());
  if (text.isNull()) return 0;
  String full = text[0] == '/' ? text : joinPath(curDir_, text);
  if (isDirectory(full)) {
    DirName next(dirs_.buildDirStr(text), true);
    curDir_ = next.value();
    dirs_.setDir(curDir_);
    files_.setDir(curDir_);
    files_.clearOpt();
    clearCell();
    shrunkDirLabel(curDir_);
    return 3;
  }
  RegExp re(text, true);
  if (!re) {
    showError("NOTREGFILE", "(" + text + ")", 40);
    return 3;
  }
  if (cell_.lastKey() != kEnter) return 0;
  if (!re.hasMetaChars()) {
    selection_ = calcCellStr(text);
    return checkPerms() == 0 ? 1 : 3;
  }
  files_.setFile(text);
  updateFilterLabel(text);
  clearCell();
  return 3;
}

long FileSelector::doSelection() {
  unsigned char k = files_.lastKey();
  long i = files_.currOpt();
  if (k == ' ') {
    if (userFunc_ && i >= 0) {
      selection_ = calcMenuStr(files_.name(i));
      if (checkPerms() == 0) userFunc_(*this);
      display(-1, -1);
    }
    return 3;
  }
  if (k == kEnter) {
    if (i < 0) return 0;
    selection_ = calcMenuStr(files_.name(i));
    return checkPerms() == 0 ? 1 : 0;
  }
  if (k == kEsc) return -1;
  return 0;
}

long FileSelector::setDirectory() {
  String dir = dirs_.retDir();
  if (cmp(dir, curDir_) != 0) {
    curDir_ = dir;
    files_.clearOpt();
  }
  shrunkDirLabel(curDir_);
  return 0;
}
