// Virtual files and region locks.
//
// The table of entries is allocated on the first _DbOpen with the size that
// "NFILES" gives; real descriptors are opened on demand, kept at 6 and above
// (0 to 5 stay free for the program) and close-on-exec, and closed least
// recently used first when the budget is reached. Every system call is
// retried while _SysError asks for it; _SysError grants only a bounded run
// of retries, so no loop here is endless.
#include "VFile.h"

#include <dbm/DbInterface.h>
#include <zeph/Proc.h>

#include <zfound/FileLock.h>
#include <zfound/FileOps.h>
#include <zfound/Environ.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int32_t kDefaultBudget = 12;
constexpr int32_t kDefaultTable = 100;
constexpr int kLowFds = 5;  // descriptors 0..5 stay free for the program

s_vfile* table = nullptr;
int32_t max_vfiles = 0;
int32_t nfiles = 0;
int32_t nopen = 0;
s_vfile* first = nullptr;
int32_t tp_no_flush = 0;

// A number from the start of `s` (digits only); -1 when there is none or it
// is too large to mean anything.
long leadingNumber(char const* s, char const** end) {
  long v = 0;
  char const* p = s;
  while (*p >= '0' && *p <= '9') {
    if (v < 10000000) v = v * 10 + (*p - '0');
    ++p;
  }
  *end = p;
  return p == s ? -1 : v;
}

void readBudget() {
  nfiles = kDefaultBudget;
  max_vfiles = kDefaultTable;
  ReadEnvHandler old = SetReadEnvHandler(nullptr);
  char const* v = def_ReadEnv("NFILES", __FILE__, __LINE__);
  SetReadEnvHandler(old);
  if (v) {
    char const* end;
    long budget = leadingNumber(v, &end);
    struct rlimit rl{};
    long limit = 1024;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) limit = long(rl.rlim_cur);
    if (budget >= 1 && budget <= limit - kLowFds - 1) nfiles = int32_t(budget);
    if (*end == ':') {
      long size = leadingNumber(end + 1, &end);
      if (size >= 1 && size <= 65535) max_vfiles = int32_t(size);
    }
  }
}

bool ensureTable() {
  if (table) return true;
  readBudget();
  table = static_cast<s_vfile*>(def_Alloc(sizeof(s_vfile) * size_t(max_vfiles), __FILE__, __LINE__));
  for (int32_t i = 0; i < max_vfiles; ++i) table[i].fd = -1;
  return true;
}

bool live(s_vfile const* vf) {
  if (!table || !vf || vf < table || vf >= table + max_vfiles) return false;
  if ((reinterpret_cast<char const*>(vf) - reinterpret_cast<char const*>(table)) % sizeof(s_vfile) != 0)
    return false;
  return vf->owner != nullptr;
}

void unlinkRing(s_vfile* vf) {
  if (!vf->next) return;
  if (vf->next == vf) {
    first = nullptr;
  } else {
    vf->prev->next = vf->next;
    vf->next->prev = vf->prev;
    if (first == vf) first = vf->next;
  }
  vf->next = vf->prev = nullptr;
}

void linkFirst(s_vfile* vf) {
  if (!first) {
    vf->next = vf->prev = vf;
  } else {
    vf->next = first;
    vf->prev = first->prev;
    first->prev->next = vf;
    first->prev = vf;
  }
  first = vf;
}

void closeEntry(s_vfile* vf) {
  unlinkRing(vf);
  if (vf->fd >= 0) {
    fileOps().close(vf->fd);
    --nopen;
  }
  vf->fd = -1;
  vf->locks = 0;
}

bool closeLeastUsed() {
  if (!first) return false;
  s_vfile* vf = first->prev;
  for (int32_t n = 0; n < nopen; ++n, vf = vf->prev)
    if (vf->locks < 1) {
      closeEntry(vf);
      return true;
    }
  return false;
}

// Makes room for one more descriptor; false (after "locks.lis" and
// "IO_MANY_LOCKS") when every open file holds locks.
bool closeOne() {
  if (closeLeastUsed()) return true;
  _FlushAll();
  if (closeLeastUsed()) return true;
  int out = open("locks.lis", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out >= 0) {
    s_vfile* vf = first;
    for (int32_t n = 0; vf && n < nopen; ++n, vf = vf->next) {
      char line[128];
      zfSnprintf(line, sizeof line, "%s\t%.*s.%.*s\tLocks=%d\n", vf->owner->d.name, int(strnlen(vf->name, 10)),
                 vf->name, int(strnlen(vf->ext, 4)), vf->ext, int(vf->locks));
      ssize_t w = write(out, line, std::strlen(line));
      (void)w;
    }
    close(out);
  }
  Error(__DbErrmsg("IO_MANY_LOCKS"), long(nopen));
  return false;
}

void pathOf(s_vfile const* vf, char* path) {
  char name[11], ext[5];
  std::memcpy(name, vf->name, 10);
  name[10] = 0;
  std::memcpy(ext, vf->ext, 4);
  ext[4] = 0;
  _DbFileName(path, vf->owner, name, ext);
}

// Retries `call` while it fails and _SysError grants a retry.
template <class F>
long retried(char const* text, F call) {
  for (;;) {
    long r = call();
    if (r >= 0) return r;
    if (!_SysError(text)) return -1;
  }
}

// The process's own alarm, saved while the lock wait ticks.
struct SavedAlarm {
  struct sigaction old{};
  unsigned remaining = 0;  // seconds left of the program's alarm, 0 none
  timespec started{};
};

double secondsSince(timespec const& t) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec - t.tv_sec) + double(now.tv_nsec - t.tv_nsec) / 1e9;
}

// Installs the tick: our handler without SA_RESTART and an alarm of three
// seconds, or less when the program's own alarm falls due sooner.
void startTick(SavedAlarm& s, bool first) {
  struct sigaction sa{};
  sa.sa_handler = set_alarm;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGALRM, &sa, first ? &s.old : nullptr);
  unsigned left = alarm(0);
  if (first) {
    s.remaining = left;
    clock_gettime(CLOCK_MONOTONIC, &s.started);
  }
  unsigned tick = 3;
  if (s.remaining) {
    double due = double(s.remaining) - secondsSince(s.started);
    if (due < 1) due = 1;
    if (due < tick) tick = unsigned(due);
  }
  alarm(tick);
}

// Stops the tick and gives the program its handler back; true when the
// program's own alarm is due (it is then delivered).
bool stopTick(SavedAlarm& s) {
  alarm(0);
  sigaction(SIGALRM, &s.old, nullptr);
  if (!s.remaining) return false;
  double due = double(s.remaining) - secondsSince(s.started);
  if (due <= 0.5) {
    s.remaining = 0;
    raise(SIGALRM);
    return true;
  }
  alarm(unsigned(due + 0.5));
  return false;
}

// Takes the lock of `length` bytes at `offset` when no other process holds
// them, without waiting and in one call (mode 1 and 3 lock, 2 tests): true
// when done (mode 0 asks for nothing). False leaves the waiting (or refusing) path to zeph_lock.
bool lockNow(int fd, int32_t mode, int64_t offset, int64_t length) {
  if (!(mode & 3)) return true;
  return lockFile(fd, (mode & 1) != 0, true, offset, length) == 0;
}

s_vfile* entryOfFd(int fd) {
  if (!table) return nullptr;
  for (int32_t i = 0; i < max_vfiles; ++i)
    if (table[i].owner && table[i].fd == fd) return &table[i];
  return nullptr;
}

void showWaiting(int fd, int64_t length) {
  msgCtrl(1);
  int holder = fdLockOwner(fd, -1, length);
  s_vfile* vf = entryOfFd(fd);
  char name[11] = "", ext[5] = "";
  if (vf) {
    std::memcpy(name, vf->name, 10);
    std::memcpy(ext, vf->ext, 4);
  }
  Warning(__DbErrmsg("IO_TRY_TO_LOCK"), holder, name, ext);
}

}  // namespace

namespace zxdb {

int32_t vfileBudget() {
  ensureTable();
  return nfiles;
}
int32_t vfileTableSize() {
  ensureTable();
  return max_vfiles;
}
int32_t vfileOpenCount() { return nopen; }

bool truncateFile(s_vfile* vf, int64_t length) {
  int fd = vfd(vf, 0);
  return fd >= 0 && retried("_DbWrite", [&] { return long(fileOps().ftruncate(fd, off_t(length))); }) >= 0;
}

bool syncFile(s_vfile* vf) {
  int fd = vfd(vf, 0);
  return fd >= 0 && retried("_DbWrite", [&] { return long(fileOps().fsync(fd)); }) >= 0;
}

void closeSchemaFiles(s_schema* owner) {
  if (!table) return;
  for (int32_t i = 0; i < max_vfiles; ++i)
    if (table[i].owner == owner) _DbClose(&table[i]);
}

}  // namespace zxdb

char* _DbFileName(char* buffer, s_schema* schema, char const* name, char const* ext) {
  zfSnprintf(buffer, DB_PATH_MAX, "%s%.*<s/%.*<s.%.*<s", schema->dir, 10, schema->d.name, 10, name, 4, ext);
  return buffer;
}

int vfd(s_vfile* vf, int32_t quiet) {
  if (!live(vf)) {
    if (!quiet) Error(__DbErrmsg("IO_INVALID_VFILE"));
    return -1;
  }
  if (vf->fd >= 0) {
    if (first != vf) {
      unlinkRing(vf);
      linkFirst(vf);
    }
    return vf->fd;
  }
  if (nopen >= nfiles && !closeOne()) return -1;
  char path[DB_PATH_MAX];
  pathOf(vf, path);
  int fd;
  for (;;) {
    fd = fileOps().open(path, (vf->flags & ~0x1000) | O_CLOEXEC, 0666);
    if (fd >= 0) break;
    _io_err_detail = errno;
    if (quiet && errno != EMFILE) return -1;
    if (!_SysError("vfd")) return -1;
  }
  // A descriptor in the program's low range is held while the file is
  // opened again (it exists now), so the one kept also came through the
  // I/O seam; the held ones are closed afterwards.
  int held[kLowFds + 1];
  int nheld = 0;
  while (fd >= 0 && fd <= kLowFds && nheld <= kLowFds) {
    held[nheld++] = fd;
    fd = fileOps().open(path, (vf->flags & ~(0x1000 | O_CREAT | O_EXCL | O_TRUNC)) | O_CLOEXEC, 0666);
  }
  int e = errno;
  for (int i = 0; i < nheld; ++i) fileOps().close(held[i]);
  if (fd < 0 || fd <= kLowFds) {
    if (fd >= 0) fileOps().close(fd);
    _io_err_detail = e;
    errno = e;
    if (!quiet) _SysError("vfd");
    return -1;
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  // A file entered unopened is made empty (or exclusively) at its first
  // opening only; reopening it after the budget closed it keeps its data.
  vf->flags &= ~(O_EXCL | O_TRUNC);
  vf->fd = fd;
  ++nopen;
  linkFirst(vf);
  return fd;
}

s_vfile* _DbOpen(s_schema* schema, char const* name, char const* ext, int32_t flags) {
  ensureTable();
  if (!schema || !name || !ext) return nullptr;
  char n10[10] = {}, e4[4] = {};
  std::memcpy(n10, name, strnlen(name, 10));  // kept unterminated when 10 long
  std::memcpy(e4, ext, strnlen(ext, 4));
  s_vfile* freeEntry = nullptr;
  for (int32_t i = 0; i < max_vfiles; ++i) {
    s_vfile* vf = &table[i];
    if (!vf->owner) {
      if (!freeEntry) freeEntry = vf;
      continue;
    }
    if (vf->owner == schema && std::memcmp(vf->name, n10, 10) == 0 && std::memcmp(vf->ext, e4, 4) == 0) return vf;
  }
  if (!freeEntry) {
    Error(__DbErrmsg("IO_MANY_OPEN"), long(max_vfiles), name, ext);
    return nullptr;
  }
  s_vfile* vf = freeEntry;
  *vf = s_vfile{};
  vf->owner = schema;
  std::memcpy(vf->name, n10, 10);
  std::memcpy(vf->ext, e4, 4);
  vf->fd = -1;
  vf->flags = flags;
  if (flags & 0x1000) {
    vf->flags = flags & ~0x1000;
    return vf;
  }
  if (vfd(vf, 1) < 0) {
    vf->owner = nullptr;
    return nullptr;
  }
  vf->flags &= ~(O_CREAT | O_EXCL | O_TRUNC);
  return vf;
}

void _DbClose(s_vfile* vf) {
  if (!live(vf)) return;
  closeEntry(vf);
  vf->owner = nullptr;
}

int32_t _DbRead(s_vfile* vf, void* buffer, int32_t length, int64_t offset, int32_t lockmode) {
  if (length < 0) return -1;
  int fd = vfd(vf, 0);
  if (fd < 0) {
    std::memset(buffer, 0, size_t(length));
    return -1;
  }
  // The text a failing call is reported with, made only when one fails.
  char what[40] = {};
  auto named = [&] {
    if (!what[0]) {
      char name[11] = {}, ext[5] = {};
      std::memcpy(name, vf->name, 10);
      std::memcpy(ext, vf->ext, 4);
      zfSnprintf(what, sizeof what, "_DbRead: %s.%s", name, ext);
    }
    return what;
  };
  if (lockmode & 3) {
    // A free region is taken at once, in one call; one held by another
    // process is waited for (or refused) from the position set here.
    if (!lockNow(fd, lockmode & 3, offset, length)) {
      if (retried(named(), [&] { return long(lseek(fd, offset, SEEK_SET)); }) < 0) {
        std::memset(buffer, 0, size_t(length));
        return -1;
      }
      if (zeph_lock(fd, lockmode & 3, length)) return -2;
    }
    if (lockmode & 1) ++vf->locks;
  }
  auto out = static_cast<char*>(buffer);
  int32_t done = 0;
  while (done < length) {
    long r = fileOps().pread(fd, out + done, size_t(length - done), offset + done);
    if (r < 0) r = retried(named(), [&] { return long(fileOps().pread(fd, out + done, size_t(length - done), offset + done)); });
    if (r < 0) {
      std::memset(buffer, 0, size_t(length));
      return -1;
    }
    if (r == 0) break;
    done += int32_t(r);
  }
  std::memset(out + done, 0, size_t(length - done));
  return 0;
}

int32_t _DbWrite(s_vfile* vf, void const* buffer, int32_t length, int64_t offset) {
  if (length < 0) return -1;
  int fd = vfd(vf, 0);
  if (fd < 0) return -1;
  auto in = static_cast<char const*>(buffer);
  int32_t done = 0;
  while (done < length) {
    long r = retried("_DbWrite", [&] {
      ssize_t w = fileOps().pwrite(fd, in + done, size_t(length - done), offset + done);
      if (w == 0) {
        errno = ENOSPC;
        return -1L;
      }
      return long(w);
    });
    if (r < 0) return -1;
    done += int32_t(r);
  }
  return 0;
}

int32_t _DbFree(s_vfile* vf, int32_t length, int64_t offset) {
  int fd = vfd(vf, 0);
  if (fd < 0) return -1;
  if (retried("_DbFree", [&] { return long(freeFile(fd, offset, length)); }) < 0) return -1;
  if (length == 0) vf->locks = 0;
  else if (vf->locks > 0) --vf->locks;
  return 0;
}

int32_t _DbLockf(s_vfile* vf, int32_t mode) {
  int fd = vfd(vf, 0);
  if (fd < 0) return -1;
  if (!lockNow(fd, mode & 3, 0, 0)) {
    if (retried("_DbLockf", [&] { return long(lseek(fd, 0, SEEK_SET)); }) < 0) return -1;
    if (zeph_lock(fd, mode & 3, 0)) return -2;
  }
  vf->locks = 1;
  return 0;
}

int64_t _DbStat(s_vfile* vf, int32_t what) {
  int fd = vfd(vf, 0);
  if (fd < 0) return -1;
  struct stat st{};
  if (retried("_DbStat", [&] { return long(fstat(fd, &st)); }) < 0) return -1;
  return what == 0 ? int64_t(st.st_mtime) : int64_t(st.st_size);
}

int32_t _DbUnlink(s_schema* schema, char const* name, char const* ext) {
  char path[DB_PATH_MAX];
  _DbFileName(path, schema, name, ext);
  char what[DB_PATH_MAX + 16];
  zfSnprintf(what, sizeof what, "_DbUnlink(%s)", path);
  long r = retried(what, [&] { return (fileOps().unlink(path) == 0 || errno == ENOENT) ? 0L : -1L; });
  return r < 0 ? -1 : 0;
}

int32_t _DbRename(s_schema* schema, char const* name1, char const* ext1, char const* name2, char const* ext2) {
  char from[DB_PATH_MAX], to[DB_PATH_MAX];
  _DbFileName(from, schema, name1, ext1);
  _DbFileName(to, schema, name2, ext2);
  // rename replaces a file of the new name in one step: no moment without it.
  return retried("_DbRename", [&] { return long(fileOps().rename(from, to)); }) < 0 ? -1 : 0;
}

int32_t zeph_lock(int fd, int32_t mode, int64_t length) {
  mode &= 3;
  if (mode == 0) return 0;
  if (mode != 1) {
    for (;;) {
      if (lockFile(fd, (mode & 1) != 0, true, -1, length) == 0) return 0;
      if (errno == EACCES || errno == EAGAIN) return 1;
      if (!_SysError("lock")) return 1;
    }
  }
  SavedAlarm saved;
  bool shown = false, deadlockRetried = false, firstTick = true;
  int32_t result = 0;
  had_alarm = 0;
  for (;;) {
    if (!shown) {
      startTick(saved, firstTick);
      firstTick = false;
    }
    int r = lockFile(fd, true, false, -1, length);
    int e = errno;
    bool programAlarm = false;
    if (!shown) programAlarm = stopTick(saved);
    if (r == 0) break;
    if (e == EINTR) {
      if (had_alarm && !shown && !programAlarm) {
        showWaiting(fd, length);
        shown = true;
        _FlushAll();
      }
      had_alarm = 0;
      continue;
    }
    if (e == EDEADLK && !deadlockRetried) {
      deadlockRetried = true;
      _FlushAll();
      continue;
    }
    if (e == EACCES || e == EAGAIN) {
      result = 1;
      break;
    }
    errno = e;
    if (!_SysError("lock")) {
      result = 1;
      break;
    }
  }
  if (shown) msgCtrl(4);
  had_alarm = 0;
  return result;
}

void _lockFlush(int32_t) { tp_no_flush = 1; }
void _releaseFlush(void) { tp_no_flush = 0; }
void _FlushAll(void) {}
