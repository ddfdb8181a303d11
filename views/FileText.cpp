// File texts: the data file held open and locked while edited, the
// preserve file kept beside the edit.
//
// Locks are open-file-description locks over the whole file: they belong to
// the descriptor the text holds, so no other open or close of the same file
// in this process drops them, they conflict between two texts of one
// process as between two processes, and they go when the process ends.
#include <winkit/DirView.h>
#include <winkit/FileText.h>

#include <zfound/FileOps.h>
#include <zfound/OsServ.h>
#include <zfound/Stream.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

String FileText::preserveDir;
String FileText::cwdir;

namespace {

constexpr char kFill = 0x1F;

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s), size_t(s.length())); }
String fromStd(std::string const& s) { return String(static_cast<long>(s.size()), s.data()); }

std::string baseName(std::string const& s) {
  size_t slash = s.rfind('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

// Takes (wait) or tries the write lock of the whole file; 1 locked, -2 held
// elsewhere, -1 error.
int lockWhole(int fd, bool wait) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 1;
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EACCES) ? -2 : -1;
  }
}

// Reads the whole file from offset 0.
std::string readAll(int fd) {
  std::string out;
  char buf[8192];
  off_t off = 0;
  for (;;) {
    ssize_t n = fileOps().pread(fd, buf, sizeof buf, off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, size_t(n));
    off += n;
  }
  return out;
}

}  // namespace

FileText::FileText(String name, bool restore) {
  if (restore) {
    preserveName_ = name;
    type_ = TextPreserved;
    return;
  }
  name_ = name;
  // A name that is no file may be in the administered store: no files then.
  if (statFile(name) != 0 && loadAdminFile(name)) {
    type_ |= TextEditable;
    return;
  }
  preserveName_ = tempFile();
  type_ = TextEditable;
}

FileText::~FileText() {
  if (active_ && !isType(TextStream | TextAdmin)) rmFiles();
}

String FileText::tempFile() {
  std::string dir = preserveDir.isNull() ? std::string("/tmp") : str(preserveDir);
  return fromStd(dir + "/fileXXXXXX");
}

String const& FileText::getCwd() {
  if (cwdir.isNull()) {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf)) cwdir = String(buf);
  }
  return cwdir;
}

String FileText::textName() const {
  if (!active_ && isType(TextPreserved)) return preserveName_;
  return name_;
}

String FileText::dataPath() const {
  std::string name = str(name_);
  size_t slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : name.substr(0, slash);
  std::string base = baseName(name);
  if (name.empty() || name[0] != '/') {
    std::string cwd = str(getCwd());
    dir = dir.empty() ? cwd : cwd + "/" + dir;
  }
  if (dir.empty() && !name.empty() && name[0] == '/') dir = "";
  return fromStd(dir + "/" + base);
}

void FileText::addPath() {
  std::string name = str(name_);
  if (name.empty()) return;
  size_t slash = name.rfind('/');
  DirName d(getCwd(), false);
  if (slash != std::string::npos) d.chDir(fromStd(slash == 0 ? "/" : name.substr(0, slash)), false);
  std::string dir = str(d.value());
  if (dir.empty() || dir.back() != '/') dir += "/";
  name_ = fromStd(dir + baseName(name));
}

bool FileText::mkFiles() {
  if (isType(TextStream | TextAdmin)) return false;
  FileOps const& ops = fileOps();
  // 1. The preserve file.
  if (isType(TextPreserved)) {
    preserveFd_ = ops.open(toCharPtr(preserveName_), O_RDWR | O_CLOEXEC, 0);
    if (preserveFd_ < 0) return false;
    lockWhole(preserveFd_, true);
    std::string all = readAll(preserveFd_);
    std::string header = all.substr(0, all.find('\n'));
    name_ = fromStd(baseName(header.substr(0, header.find('\t'))));
  } else {
    std::string templ = str(preserveName_);
    if (templ.size() < 6 || templ.compare(templ.size() - 6, 6, "XXXXXX") != 0) templ = str(tempFile());
    // Exclusive, mode 0600. Without one the file is still edited; only the
    // preserve copy is missing (storePreserve answers false).
    int fd = ::mkstemp(templ.data());
    if (fd >= 0) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      preserveFd_ = fd;
      preserveName_ = fromStd(templ);
      lockWhole(preserveFd_, true);
    }
  }
  // 2-4. The data file: open for writing and lock it, else read-only.
  String path = dataPath();
  createdData_ = false;
  stored_ = false;
  filePerm_ = PermReadOnly;
  dataFd_ = ops.open(toCharPtr(path), O_RDWR | O_CLOEXEC, 0);
  if (dataFd_ >= 0) {
    stored_ = true;
  } else if (errno == ENOENT) {
    // A new file: made now so that it can be locked, removed again unless stored.
    dataFd_ = ops.open(toCharPtr(path), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    createdData_ = dataFd_ >= 0;
  }
  if (dataFd_ >= 0) {
    int r = lockWhole(dataFd_, false);
    if (r == 1) {
      filePerm_ = PermLocked;
      return true;
    }
    filePerm_ = r == -2 ? PermBusy : PermReadOnly;
    ops.close(dataFd_);
    if (createdData_) {
      ops.unlink(toCharPtr(path));
      createdData_ = false;
    }
  }
  dataFd_ = ops.open(toCharPtr(path), O_RDONLY | O_CLOEXEC, 0);
  if (dataFd_ >= 0) stored_ = true;
  return true;
}

void FileText::closeData() {
  if (dataFd_ >= 0) fileOps().close(dataFd_);
  dataFd_ = -1;
}

bool FileText::rmFiles() {
  if (!active_ || isType(TextStream | TextAdmin)) return false;
  FileOps const& ops = fileOps();
  if (preserveFd_ >= 0) {
    ops.close(preserveFd_);
    preserveFd_ = -1;
    if (!preserveName_.isNull()) ops.unlink(toCharPtr(preserveName_));
  }
  String path = dataPath();
  closeData();
  if (createdData_ && !stored_) ops.unlink(toCharPtr(path));
  createdData_ = false;
  filePerm_ = PermReadOnly;
  return true;
}

bool FileText::load() {
  if (!active_ || isType(TextStream | TextAdmin)) return false;
  delAll();
  std::string all;
  if (isType(TextPreserved)) {
    if (preserveFd_ >= 0) all = readAll(preserveFd_);
  } else if (dataFd_ >= 0) {
    all = readAll(dataFd_);
  }
  size_t pos = 0;
  long count = -1;
  if (isType(TextPreserved)) {
    size_t nl = all.find('\n');
    std::string header = all.substr(0, nl);
    size_t tab = header.find('\t');
    count = tab == std::string::npos ? 0 : std::strtol(header.c_str() + tab + 1, nullptr, 10);
    if (count < 0) count = 0;
    pos = nl == std::string::npos ? all.size() : nl + 1;
  }
  long lineNo = 0;
  while (pos < all.size() && (count < 0 || lineNo < count)) {
    size_t nl = all.find('\n', pos);
    std::string raw = all.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    // The preserve file keeps the tab layout; it is laid out again here.
    if (isType(TextPreserved)) raw.erase(std::remove(raw.begin(), raw.end(), kFill), raw.end());
    addRead(raw, ++lineNo);
    pos = nl == std::string::npos ? all.size() : nl + 1;
  }
  encodeAttrs(-1, -1, -1, -1);
  resetModif();
  return true;
}

bool FileText::activate() {
  if (active_ || isType(TextStream | TextAdmin) || preserveName_.isNull()) return false;
  active_ = true;
  mkFiles();
  load();
  return true;
}

void FileText::deActivate() {
  if (!active_ || isType(TextStream | TextAdmin)) return;
  rmFiles();
  delAll();
  resetModif();
  type_ = TextEditable;
  active_ = false;
}

void FileText::setFile(String const& name, bool reload) {
  if (isType(TextStream | TextAdmin)) return;
  if (!active_) {
    type_ = TextEditable;
    name_ = name;
    preserveName_ = tempFile();
    return;
  }
  rmFiles();
  type_ = TextEditable;
  preserveName_ = tempFile();
  name_ = name;
  mkFiles();
  if (reload) load();
  resetModif();
}

bool FileText::storePreserve() {
  if (!active_ || isType(TextStream | TextAdmin) || preserveFd_ < 0) return false;
  std::string data = baseName(str(name_)) + "\t" + std::to_string(nLines()) + "\n";
  TextCursor c(*this);
  int32_t prev = 0;
  for (c.goToFirst(); c.valid(); ++c) {
    c.goToCol(0);
    data += str(decodeAttrs(c, prev, -1));
    data += '\n';
  }
  return rewriteFile(preserveFd_, data);
}

bool FileText::store() {
  if (!active_) return false;
  if (filePerm_ != PermLocked || dataFd_ < 0) {
    errNo_ = filePerm_ == PermBusy ? EBUSY : EACCES;
    return false;
  }
  if (isType(TextEditable)) storePreserve();
  std::string data;
  TextCursor c(*this);
  int32_t prev = 0;
  for (c.goToFirst(); c.valid(); ++c) {
    c.goToCol(0);
    data += str(decodeTabs(decodeAttrs(c, prev, -1)));
    data += '\n';
  }
  if (!rewriteFile(dataFd_, data)) {
    errNo_ = errno ? errno : EIO;
    return false;
  }
  markStored();
  return true;
}
