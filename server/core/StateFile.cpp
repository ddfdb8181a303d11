// The state file: reading and checking its header and stamps, and replacing
// it atomically through the durable-I/O seam. See StateFile.h for the byte
// table.
#include <svcore/StateFile.h>

#include <blkfile/StorageEnv.h>

#include <zfound/FileOps.h>
#include <zfound/Message.h>
#include <zfound/Portable.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Splits a path into its directory (null for none) and its last component.
void splitPath(String const& path, String& dir, String& base) {
  char const* s = toCharPtr(path);
  long slash = -1;
  for (long i = 0; i < path.length(); ++i)
    if (s[i] == '/')
      slash = i;
  if (slash < 0) {
    dir = String();
    base = path;
  } else {
    dir = slash == 0 ? String("/") : String(s, slash);
    base = String(s + slash + 1, path.length() - slash - 1);
  }
}

void putName(char* at, String const& name) {
  std::memset(at, 0, StateFile::kNameLength);
  long n = name.length();
  if (n > StateFile::kNameLength - 1)
    n = StateFile::kNameLength - 1;
  if (n > 0)
    std::memcpy(at, toCharPtr(name), size_t(n));
}

String getName(char const* at) {
  size_t n = strnlen(at, StateFile::kNameLength - 1);
  return n ? String(at, long(n)) : String();
}

}  // namespace

bool StateFile::acceptablePath(String const& name) {
  int const fd = fileOps().open(toCharPtr(name), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kFileMode);
  struct stat st {};
  if (fd < 0) {
    if (errno == ELOOP)
      return false;
    // A directory, say; other failures are the file layer's to report.
    return !(::lstat(toCharPtr(name), &st) == 0 && !S_ISREG(st.st_mode));
  }
  bool const regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  fileOps().close(fd);
  return regular;
}

StateFile::StateFile(String const& name) : path_(name) {
  // A link (or a name that is no regular file) stops the server with a
  // report naming it rather than have root write where the link points.
  if (!acceptablePath(name))
    notRegular();
  String dir, base;
  splitPath(name, dir, base);
  file_.open(dir, base, String(), OsFile::Read | OsFile::Write | OsFile::Create | OsFile::NoFollow);
}

void StateFile::notRegular() {
  String text = String(appMsg("STFILELINK")) + " " + path_;
  error(String("%S"), &text);
}

StateFile::~StateFile() { delete[] stamps_; }

void StateFile::corrupt() { error(appMsg("CORRUPTSTFILE"), toCharPtr(path_)); }

int32_t StateFile::readAll(char* buf) {
  std::memset(buf, 0, storeLength);
  int64_t n = file_.read(buf, 0, storeLength);
  return n < 0 ? -1 : int32_t(n);
}

bool StateFile::readHeader() {
  int64_t size = file_.size();
  if (size == 0)
    return false;
  char buf[headerStoreLength];
  std::memset(buf, 0, sizeof buf);
  int64_t n = file_.read(buf, 0, headerStoreLength);
  if (n < headerStoreLength || uint32_t(ldlong(buf)) != kMagic) {
    corrupt();
    return false;
  }
  int32_t par = ldlong(buf + 4);
  if (par != 0 && par != 1) {
    corrupt();
    return false;
  }
  parity = par;
  char const* sp = buf + 8;
  lastChkPoint.load(sp);
  restartMarker = ldlong(buf + 16);
  journalPos = ldlong(buf + 20);
  journalFile = getName(buf + 24);
  secondName = getName(buf + 56);
  cachePageSize = ldlong(buf + 88);
  return true;
}

bool StateFile::readStamps() {
  int64_t size = file_.size();
  if (size == 0 || size == headerStoreLength)
    return false;
  char buf[stampsStoreLength];
  std::memset(buf, 0, sizeof buf);
  int64_t n = file_.read(buf, headerStoreLength, stampsStoreLength);
  int32_t count = ldlong(buf);
  if (n < stampsStoreLength || count < 0 || count > kNStamps) {
    corrupt();
    return false;
  }
  nStamps = count;
  char const* p = buf + 4;
  for (int32_t i = 0; i < count; ++i)
    versionStamp(i).load(p);
  return true;
}

void StateFile::buildHeader(char* buf) const {
  std::memset(buf, 0, headerStoreLength);
  stlong(int32_t(kMagic), buf);
  stlong(parity, buf + 4);
  char* sp = buf + 8;
  lastChkPoint.store(sp);
  stlong(restartMarker, buf + 16);
  stlong(journalPos, buf + 20);
  putName(buf + 24, journalFile);
  putName(buf + 56, secondName);
  stlong(cachePageSize, buf + 88);
}

void StateFile::buildStamps(char* buf) {
  std::memset(buf, 0, stampsStoreLength);
  int32_t count = nStamps < 0 ? 0 : (nStamps > kNStamps ? kNStamps : nStamps);
  stlong(count, buf);
  char* p = buf + 4;
  for (int32_t i = 0; i < count; ++i)
    versionStamp(i).store(p);
}

bool StateFile::writeHeader() {
  char buf[storeLength];
  int32_t cur = readAll(buf);
  if (cur < 0)
    return cantCarryOver();
  buildHeader(buf);
  // The stamps area as it stands is carried over.
  return replace(buf, cur >= storeLength ? storeLength : headerStoreLength);
}

bool StateFile::writeStamps() {
  char buf[storeLength];
  int32_t cur = readAll(buf);
  if (cur < 0)
    return cantCarryOver();
  if (cur < headerStoreLength || uint32_t(ldlong(buf)) != kMagic)
    buildHeader(buf);
  buildStamps(buf + headerStoreLength);
  return replace(buf, storeLength);
}

bool StateFile::cantCarryOver() {
  // The part not being written cannot be carried over: the file stays.
  warning(appMsg("CANTWRITESTFILE"), toCharPtr(path_));
  return false;
}

bool StateFile::replace(char const* buf, int32_t len) {
  static uint32_t serial = 0;
  String dir, base;
  splitPath(path_, dir, base);
  // The new file beside the old one: created exclusively (never through a
  // link left under its name) and 0600 whatever the umask. Its writes go
  // through the file layer, so a full disk is retried as for data files.
  OsFile tmp;
  String tmpBase;
  bool opened = false;
  for (int tries = 0; tries < 100 && !opened; ++tries) {
    tmpBase = base + ".new" + toString(long(::getpid())) + "." + toString(long(++serial));
    tmp.close();
    tmp.open(dir, tmpBase, String(),
             OsFile::Write | OsFile::Create | OsFile::Exclusive | OsFile::NoFollow | OsFile::OpenNow);
    opened = tmp.ok();
    if (!opened && tmp.errNo() != EEXIST)
      break;
  }
  String tmpPath = dir.isNull() ? tmpBase : (dir == "/" ? String("/") + tmpBase : dir + "/" + tmpBase);
  bool ok = opened && ::fchmod(tmp.getFd(), kFileMode) == 0 && tmp.write(buf, 0, len) == len && tmp.sync() == 0;
  tmp.close();
  if (ok)
    ok = fileOps().rename(toCharPtr(tmpPath), toCharPtr(path_)) == 0;
  if (!ok) {
    if (opened)
      fileOps().unlink(toCharPtr(tmpPath));
    warning(appMsg("CANTWRITESTFILE"), toCharPtr(path_));
    return false;
  }
  syncDirectory(dir.isNull() ? "." : toCharPtr(dir));
  // The old descriptor names the replaced file: open the new one.
  file_.close();
  file_.open(dir, base, String(), OsFile::Read | OsFile::Write | OsFile::Create | OsFile::NoFollow);
  return true;
}

TimeStamp& StateFile::versionStamp(int32_t v) {
  SV_ASSERT(v >= 0 && v < kNStamps, "v >= 0 && v < 122");
  if (!stamps_)
    stamps_ = new TimeStamp[kNStamps];
  if (v < 0 || v >= kNStamps)
    v = 0;
  return stamps_[v];
}
