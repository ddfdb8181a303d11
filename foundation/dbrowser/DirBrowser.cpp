// Directory browsing by name pattern.
//
// Invariants: dirp is non-null only while status_ is 0, and then current is
// the entry last read, whose name matched the pattern; name(), fullName()
// and info() look at nothing when the status is not 0.
#include <zfound/DirBrowser.h>

#include <sys/stat.h>

#include <zfound/Assert.h>
#include <zfound/OsServ.h>
#include <zfound/RegExp.h>

DirBrowser::DirBrowser(String const& dir, RegExp const* rexp)
    : pattern(nullptr), dirp(nullptr), current(nullptr), status_(1) {
  reset(dir, rexp);
}

DirBrowser::~DirBrowser() { close(); }

void DirBrowser::close() {
  if (dirp != nullptr) ::closedir(dirp);
  dirp = nullptr;
  current = nullptr;
}

bool DirBrowser::matches() {
  return current != nullptr && const_cast<RegExp*>(pattern)->match(String(current->d_name), 0);
}

void DirBrowser::reset(String const& dir, RegExp const* rexp) {
  directory = dir.isNull() ? String(".") : dir;
  pattern = rexp;
  close();
  status_ = 1;
  if (!ZF_ASSERT(rexp != nullptr)) return;
  if (directory.isHighest()) return;
  dirp = ::opendir(toCharPtr(directory));
  if (dirp == nullptr) return;
  status_ = 0;
  _next();
  if (status_ == 0 && !matches()) next();
}

void DirBrowser::reset() { reset(directory, pattern); }
void DirBrowser::setDir(String const& dir) { reset(dir, pattern); }
void DirBrowser::setFiles(RegExp const* rexp) { reset(directory, rexp); }

void DirBrowser::_next() {
  if (!ZF_ASSERT(dirp != nullptr)) {
    status_ = status_ == 1 ? 1 : 2;
    return;
  }
  current = ::readdir(dirp);
  if (current == nullptr) {
    status_ = 2;
    close();
  }
}

void DirBrowser::next() {
  if (status_ != 0) return;
  do _next();
  while (status_ == 0 && !matches());
}

DirBrowser::operator void*() const { return status_ == 0 ? const_cast<DirBrowser*>(this) : nullptr; }

String DirBrowser::name() {
  if (status_ != 0 || current == nullptr) return String();
  return String(current->d_name);
}

String DirBrowser::fullName() {
  if (status_ != 0 || current == nullptr) return String();
  String full = directory;
  if (full.length() == 0 || full[full.length() - 1] != '/') full += '/';
  full += name();
  return full;
}

bool DirBrowser::info(long& mode, long& size, long& uid, long& gid, Time& mtime) {
  mode = size = uid = gid = 0;
  mtime = Time();
  struct stat st;
  if (status_ != 0 || statFile(fullName(), &st) != 0) return false;
  mode = long(st.st_mode);
  size = long(st.st_size);
  uid = long(st.st_uid);
  gid = long(st.st_gid);
  mtime = Time::osTime(int64_t(st.st_mtime));
  return true;
}
