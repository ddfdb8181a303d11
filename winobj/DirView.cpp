// DirName normalisation and DirView snapshots (see DirView.h).
#include <winkit/DirView.h>

#include <zeph/IoPipe.h>
#include <zfound/Assert.h>
#include <zfound/RegExp.h>

#include <sys/stat.h>

#include <algorithm>

// ---------------------------------------------------------------- DirName

DirName::DirName(String const& path, bool compressIt) : path_(path) {
  if (compressIt) compress();
}

namespace {

// Applies one component to `value`. ".." cuts at the last "/", but a cut at
// the root keeps the "/" itself, so no path climbs above the root.
void applyComponent(String& value, String const& comp) {
  if (comp.isNull() || cmp(comp, ".") == 0) return;
  if (cmp(comp, "..") == 0) {
    long slash = value.isNull() ? -1 : value.backIndex('/');
    if (slash < 0)
      value = String();
    else if (slash == 0)
      value = "/";
    else
      value = String(value, slash);
    return;
  }
  long n = value.length();
  if (n == 0 || value[n - 1] != '/') value += '/';
  value += comp;
}

}  // namespace

void DirName::chDir(String const& path, bool skipFirst) {
  if (path.isNull()) return;
  if (!skipFirst && isAbsolutePath(toCharPtr(path))) {
    path_ = path;
    return;
  }
  long n = path.length();
  long start = 0;
  bool first = true;
  for (long i = 0; i <= n; ++i) {
    if (i < n && path[i] != '/') continue;
    if (!(first && skipFirst)) applyComponent(path_, i > start ? String(path(start, i - start)) : String());
    first = false;
    start = i + 1;
  }
}

void DirName::compress() {
  String old = path_;
  if (old.isNull()) return;
  long slash = old.index('/');
  if (slash < 0) return;
  // The part before the first "/"; an absolute path starts at the root.
  path_ = slash == 0 ? String("/") : String(old(0, slash));
  chDir(old, true);
}

// ---------------------------------------------------------------- DirView

DirView::DirView() : dir_(String(2147483647L, static_cast<char const*>(nullptr))) {}

DirView::DirView(String const& dir, String const& pattern, long select, long sortBy) {
  reset(dir, pattern, select, sortBy);
}

DirView::DirView(DirBrowser& browser, long select, long sortBy) {
  reset(browser, select, sortBy);
}

DirView::~DirView() = default;

void DirView::reset(String const& dir, String const& pattern, long select, long sortBy) {
  dir_ = dir;
  rexp_ = pattern;
  RegExp re(pattern, true);
  re.fromBeginning(true);
  DirBrowser browser(dir, &re);
  reset(browser, select, sortBy);
}

void DirView::reset(DirBrowser& browser, long select, long sortBy) {
  clear();
  for (; browser; browser.next()) {
    long mode = 0, size = 0, uid = 0, gid = 0;
    Time mtime;
    browser.info(mode, size, uid, gid, mtime);
    String name = browser.name();
    bool keep;
    if (S_ISREG(mode) && (select & kRegular)) {
      keep = true;
    } else if ((select & kDirs) && S_ISDIR(mode)) {
      if (cmp(name, ".") == 0)
        keep = (select & kDot) != 0;
      else if (cmp(name, "..") == 0)
        keep = (select & kDotDot) != 0;
      else
        keep = true;
    } else {
      keep = (select & kOther) && !S_ISREG(mode);
    }
    if (keep)
      add(new DirElem(name, static_cast<int32_t>(size), static_cast<int32_t>(mode), static_cast<int32_t>(uid),
                      static_cast<int32_t>(gid), mtime));
  }
  sort(sortBy);
}

void DirView::sort(long sortBy) {
  using P = std::unique_ptr<DirElem>;
  auto by = [](auto key) {
    return [key](P const& a, P const& b) {
      // Empty slots sort first.
      if (!a || !b) return !a && b;
      return key(*a, *b) < 0;
    };
  };
  switch (sortBy) {
    case kUnsorted:
      return;
    case kByName:
      std::stable_sort(elems_.begin(), elems_.end(), by([](DirElem const& a, DirElem const& b) { return cmp(a.name, b.name); }));
      return;
    case kBySize:
      std::stable_sort(elems_.begin(), elems_.end(),
                       by([](DirElem const& a, DirElem const& b) { return a.size < b.size ? -1 : a.size > b.size; }));
      return;
    case kByMode:
      std::stable_sort(elems_.begin(), elems_.end(),
                       by([](DirElem const& a, DirElem const& b) { return a.mode < b.mode ? -1 : a.mode > b.mode; }));
      return;
    case kByTime:
      std::stable_sort(elems_.begin(), elems_.end(),
                       by([](DirElem const& a, DirElem const& b) { return a.modTime.cmp(b.modTime); }));
      return;
    default:
      ZF_ASSERT(0);
  }
}

DirElem& DirView::elem(long n) {
  ZF_ASSERT(isInRange(n));
  return *elems_[static_cast<size_t>(n)];
}

void DirView::elem(long n, String& name, long& size, long& mode, long& uid, long& gid, Time& modTime) const {
  if (!isInRange(n) || !elems_[static_cast<size_t>(n)]) {
    name = String(2147483647L, static_cast<char const*>(nullptr));
    size = mode = uid = gid = -1;
    modTime = Time();
    return;
  }
  DirElem const& e = *elems_[static_cast<size_t>(n)];
  name = e.name;
  size = e.size;
  mode = e.mode;
  uid = e.uid;
  gid = e.gid;
  modTime = e.modTime;
}

void DirView::elem(long n, String& name, long& size, long& mode, long& uid, long& gid) const {
  Time t;
  elem(n, name, size, mode, uid, gid, t);
}
