// Record locks and file status.
//
// A waiting lock arms a three-second alarm; when it fires the library
// message "TRYLOCK" goes to the message stream and the wait goes on without a
// limit. An alarm that was already pending (a server's tick) is saved and
// given back afterwards, its elapsed time deducted, and delivered at once if
// it fell due meanwhile. A lock request that ends in an error is reported as
// not held (-1). Locks taken through a part count in its lock count, so the
// descriptor pool spares its descriptor.
#include <zfound/FileLock.h>
#include <zfound/Report.h>
#include <zfound/OsFile.h>
#include <zfound/PhysFile.h>
#include <zfound/Stream.h>
#include <zfound/Time.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

volatile int had_alarm = 0;

extern "C" void set_alarm(int) { had_alarm = 1; }

namespace {

void fillLock(struct flock& fl, short type, int64_t offset, int64_t length) {
  fl = {};
  fl.l_type = type;
  if (offset == -1) {
    fl.l_whence = SEEK_CUR;
    fl.l_start = 0;
  } else {
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
  }
  fl.l_len = length;
}

// The three-second alarm of a waiting lock, keeping an alarm already pending.
class LockAlarm {
public:
  void arm() {
    struct sigaction sa = {};
    sa.sa_handler = set_alarm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: the alarm must interrupt the wait
    sigaction(SIGALRM, &sa, &old_);
    clock_gettime(CLOCK_MONOTONIC, &start_);
    prev_ = alarm(3);
    armed_ = true;
  }
  void disarm() {
    if (!armed_) return;
    alarm(0);
    sigaction(SIGALRM, &old_, nullptr);
    armed_ = false;
    if (prev_ == 0) return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t elapsed = now.tv_sec - start_.tv_sec;
    if (elapsed < static_cast<int64_t>(prev_))
      alarm(static_cast<unsigned>(prev_ - elapsed));
    else
      raise(SIGALRM);  // it fell due while we waited
  }

private:
  struct sigaction old_ = {};
  struct timespec start_ = {};
  unsigned prev_ = 0;
  bool armed_ = false;
};

String lockMessage() { return msgTablesReady() ? libMsg("TRYLOCK") : String("TRYLOCK"); }

}  // namespace

int lockFile(int fd, bool lock, bool noWait, int64_t offset, int64_t length) {
  if (!lock && !noWait) return 0;
  struct flock fl;
  fillLock(fl, F_WRLCK, offset, length);
  errno = -1;
  int r;
  if (!lock) {
    r = fcntl(fd, F_GETLK, &fl);
    if (r == 0 && fl.l_type != F_UNLCK) r = -1;
  } else {
    r = fcntl(fd, noWait ? F_SETLK : F_SETLKW, &fl);
  }
  if (r == -1 && errno == -1) errno = EACCES;
  return r;
}

int freeFile(int fd, int64_t offset, int64_t length) {
  struct flock fl;
  fillLock(fl, F_UNLCK, offset, length);
  return fcntl(fd, F_SETLK, &fl);
}

int fdLockOwner(int fd, int64_t offset, int64_t length) {
  struct flock fl;
  fillLock(fl, F_WRLCK, offset, length);
  if (fcntl(fd, F_GETLK, &fl) == -1) return -1;
  return fl.l_type == F_UNLCK ? 0 : fl.l_pid;
}

int PhysFile::lock(int64_t offset, int64_t length, int32_t mode) {
  mode &= 0x180;
  if (mode == 0) return 0;
  bool shown = false;
  bool flushed = false;
  for (int tries = 0;;) {
    if (!updateFd("lock")) return -1;
    int err;
    for (;;) {
      LockAlarm al;
      if (!had_alarm && mode == 0x80) al.arm();
      int r = lockFile(fd_, (mode & 0x80) != 0, (mode & 0x100) != 0, offset, length);
      err = errno;
      al.disarm();
      if (r == -1 && err == EDEADLK && !flushed) {
        flushed = true;
        PhysFile::flushAll();
        continue;
      }
      if (had_alarm && !shown) {
        stdMsg() << lockMessage();
        stdMsg().endMsg();
        shown = true;
        if (r == 0) {
          // Taken just as the alarm came: fall through to the end.
        } else {
          continue;
        }
      }
      if (r == -1 && err == EINTR && mode == 0x80) continue;  // another signal: wait on
      if (shown) stdMsg().closeMsg();
      had_alarm = 0;
      if (r == 0) {
        if (mode & 0x80) ++lockCount_;
        return 0;
      }
      if (err == EACCES || err == EAGAIN) return 1;
      break;
    }
    errno = err;
    if (!osError("lock", tries++)) return -1;
  }
}

int PhysFile::lock(int32_t mode) {
  int r = lock(0, 0, mode);
  if (r == kRangeLockBusy) return kFileLockBusy;
  if (r == kRangeLockError) return kFileLockError;
  lockCount_ = 1;
  return kFileLocked;
}

void PhysFile::free(int64_t offset, int64_t length) {
  for (int tries = 0;;) {
    if (!updateFd("free")) return;
    if (freeFile(fd_, offset, length) == 0) break;
    if (errno == EINTR) continue;
    if (!osError("free", tries++)) return;
  }
  if (length == 0)
    lockCount_ = 0;
  else if (lockCount_ > 0)
    --lockCount_;
  if (lockCount_ == 0) closeParked(dev_, ino_);
}

int64_t PhysFile::read(void* buffer, int64_t offset, int64_t length, int32_t mode) {
  int r = lock(offset, length, mode);
  if (r == 1) return -2;
  if (r < 0) return -1;
  int64_t n = read(buffer, offset, length);
  if (n == -1 && (mode & 0x80) && (mode & 0x180) != 0x100) free(offset, length);
  return n;
}

int PhysFile::lockOwner(int64_t offset, int64_t length) {
  if (!updateFd("lockOwner")) return -1;
  return fdLockOwner(fd_, offset, length);
}

namespace {

bool statPart(PhysFile& p, char const* op, struct stat& st) {
  for (int tries = 0;;) {
    if (!p.updateFd(op)) return false;
    if (::fstat(p.fd(), &st) == 0) return true;
    if (!p.osError(op, tries++)) return false;
  }
}

}  // namespace

int64_t PhysFile::size() {
  struct stat st;
  if (!statPart(*this, "size", st)) return -1;
  return st.st_size;
}

Time PhysFile::mtime() {
  struct stat st;
  if (!statPart(*this, "mtime", st)) return Time();
  return Time::osTime(static_cast<int64_t>(st.st_mtime));
}

int64_t PhysFile::owner() {
  struct stat st;
  if (!statPart(*this, "owner", st)) return -1;
  return st.st_uid;
}
