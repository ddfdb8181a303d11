// Physical parts: lazily opened descriptors, the process-wide pool of them
// (a ring ordered by recent use), the error routine, and positioned reads and
// writes at 64-bit offsets.
//
// Pool rules: after the first EMFILE the pool keeps its size two below the
// point where the system refused; a descriptor is taken back from the least
// recently used end, never from a part that holds locks and never from a part
// of a file on which another part holds locks (closing any descriptor of a
// file drops every lock the process holds on it).
#include <zfound/Assert.h>
#include <zfound/Report.h>
#include <zfound/OsFile.h>
#include <zfound/FileOps.h>
#include <zfound/PhysFile.h>
#include <zfound/ProcessHooks.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

PhysFile* PhysFile::first_sd = nullptr;
int32_t PhysFile::openFiles_sd = 0;
int32_t PhysFile::maxFiles_sd = -1;
int64_t PhysFile::nReads_sd = 0;
int64_t PhysFile::nWrites_sd = 0;

namespace {

// Retries a handler may ask for in a process without a terminal before the
// operation gives up (nobody can change the situation in between).
constexpr int kQuietRetries = 3;

bool haveTerminal() { return ::isatty(0) == 1; }

// The operation text of a read or write: "<name>: read(<buf>, <off>, <len>)".
String rwText(String const& name, char const* what, void const* buf, int64_t off, int64_t len) {
  char tmp[96];
  std::snprintf(tmp, sizeof tmp, ": %s(%ld, %lld, %lld)", what, static_cast<long>(reinterpret_cast<intptr_t>(buf)),
                static_cast<long long>(off), static_cast<long long>(len));
  return name + tmp;
}

}  // namespace

namespace {

// Descriptors whose closing had to wait because another part of the same file
// held locks (closing any descriptor of a file drops all of the process's
// locks on it). They are closed once no part of that file holds locks.
struct Parked {
  int fd;
  dev_t dev;
  ino_t ino;
  int flags;      // the open(2) flags it was opened with
  bool reusable;  // its part took no locks (whose ranges it would keep)
};
std::vector<Parked> parked_sd;

// The open(2) flags that decide whether a parked descriptor serves an opening.
constexpr int kReuseFlags = O_ACCMODE | O_APPEND | O_SYNC;

// Takes a parked descriptor of the file at `name` that was opened as `flags`
// ask and whose part took no locks, so that a file locked elsewhere does not
// gather descriptors while its objects come and go; -1 when there is none (or
// the opening must create, truncate or refuse an existing file). A descriptor
// whose part took locks waits for the file's last lock, whose going closes it
// and so lets that part's ranges go too.
int takeParked(String const& name, int flags, struct stat& st) {
  if (parked_sd.empty() || (flags & (O_EXCL | O_TRUNC))) return -1;
  if (::stat(toCharPtr(name), &st) != 0) return -1;
  for (size_t i = 0; i < parked_sd.size(); ++i) {
    Parked const& p = parked_sd[i];
    if (p.reusable && p.dev == st.st_dev && p.ino == st.st_ino &&
        (p.flags & kReuseFlags) == (flags & kReuseFlags)) {
      int fd = p.fd;
      parked_sd.erase(parked_sd.begin() + static_cast<long>(i));
      return fd;
    }
  }
  return -1;
}

}  // namespace

PhysFile::PhysFile()
    : fd_(-1), lockCount_(0), nWrites_(0), nReads_(0), flags_(O_RDONLY), osfile_(nullptr), next_(nullptr),
      prev_(nullptr), dev_(0), ino_(0), openedFlags_(0) {}

PhysFile::~PhysFile() {
  close();
  if (next_) unlinkRing();  // a part left in the ring without a descriptor
}

void PhysFile::open(OsFile* owner, String const& dir) {
  osfile_ = owner;
  path_ = dir;
}

String PhysFile::fullName(String const& dir, String const& name, String const& ext) {
  String s;
  if (!dir.isNull()) {
    s = dir;
    s += "/";
  }
  s += name;
  if (!ext.isNull()) {
    s += ".";
    s += ext;
  }
  return s;
}

String PhysFile::fullName() const {
  ZF_ASSERT(osfile_ != nullptr);
  return fullName(path_, osfile_->name_, osfile_->ext_);
}

void PhysFile::unlinkRing() {
  if (next_ == nullptr) return;
  if (next_ == this) {
    first_sd = nullptr;
  } else {
    prev_->next_ = next_;
    next_->prev_ = prev_;
    if (first_sd == this) first_sd = next_;
  }
  next_ = prev_ = nullptr;
}

void PhysFile::linkHead() {
  if (first_sd == nullptr) {
    next_ = prev_ = this;
  } else {
    next_ = first_sd;
    prev_ = first_sd->prev_;
    prev_->next_ = this;
    first_sd->prev_ = this;
  }
  first_sd = this;
}

int PhysFile::osError(char const* op, int tries) {
  if (OsFile::aborting) return 0;
  int err = errno;
  if (osfile_) osfile_->errNo_ = static_cast<uint16_t>(err);
  char num[16];
  std::snprintf(num, sizeof num, "%d", err);
  String report = String(op) + ":  (" + num + ")\n\tOsFile: " + fullName() + "\n";
  if (OsFile::errFunc) {
    int answer = OsFile::errFunc(toCharPtr(report), err);
    if (answer != 0) {
      OsFile::aborting = true;
      stop(-1);
      return 0;
    }
    if (!haveTerminal() && tries >= kQuietRetries) return 0;
    return 1;
  }
  int answer = ariError(String("%s"), toCharPtr(report));
  // Nobody to ask (no handler installed), or no terminal to answer from: the
  // operation gives up instead of repeating a call that fails the same way.
  if (answer == -1 || !haveTerminal()) return 0;
  return answer;
}

bool PhysFile::closable() const { return !lockedElsewhere(dev_, ino_, this); }

bool PhysFile::freeAnFd(char const* op) {
  if (first_sd == nullptr) return false;
  for (PhysFile* p = first_sd->prev_; p != first_sd; p = p->prev_)
    if (p->fd_ >= 0 && p->lockCount_ == 0 && p->closable()) {
      p->close();
      return true;
    }
  for (PhysFile* p = first_sd->prev_; p != first_sd; p = p->prev_)
    if (p->fd_ >= 0 && p->osfile_ && p->osfile_->flush() && p->closable()) {
      p->close();
      return true;
    }
  return false;
}

bool PhysFile::updateFd(char const* op, bool quiet) {
  ZF_ASSERT(osfile_ != nullptr);
  if (osfile_->name_.isNull()) {
    for (int tries = 0;; ++tries) {
      errno = EBADF;
      if (quiet || !osError(op, tries)) break;
    }
    osfile_->errNo_ = EBADF;
    return false;
  }
  if (first_sd != this) {
    unlinkRing();
    linkHead();
  }
  if (fd_ >= 0) return true;

  if (maxFiles_sd != -1 && openFiles_sd >= maxFiles_sd && !freeAnFd(op) && !quiet) {
    // Every other descriptor serves a file with locks: say so, then try anyway.
    for (int tries = 0;; ++tries) {
      errno = ENOLCK;
      if (!osError(op, tries)) break;
    }
  }
  String name = fullName();
  struct stat pst;
  int reused = takeParked(name, flags_, pst);
  if (reused >= 0) {
    osfile_->errNo_ = 0;
    dev_ = pst.st_dev;
    ino_ = pst.st_ino;
    fd_ = reused;
    openedFlags_ = flags_;
    ++openFiles_sd;
    return true;
  }
  for (int tries = 0;;) {
    osfile_->errNo_ = 0;
    int fd = fileOps().open(toCharPtr(name), flags_ | O_CLOEXEC, 0666);
    if (fd >= 0) {
      struct stat st;
      if (::fstat(fd, &st) == 0) {
        dev_ = st.st_dev;
        ino_ = st.st_ino;
      }
      fd_ = fd;
      openedFlags_ = flags_;
      flags_ &= ~(O_EXCL | O_TRUNC);
      ++openFiles_sd;
      return true;
    }
    int err = errno;
    if (err == EINTR) continue;
    if (err == EMFILE) {
      // The process limit: learn the pool size from it.
      int freed = freeAnFd(op) ? 1 : 0;
      freed += freeAnFd(op) ? 1 : 0;
      maxFiles_sd = openFiles_sd > 1 ? openFiles_sd : 1;
      freed += freeAnFd(op) ? 1 : 0;
      if (freed > 0) continue;
      errno = err;  // nothing of ours left to give back
    }
    osfile_->errNo_ = static_cast<uint16_t>(err);
    if (quiet || !osError(op, tries++)) {
      unlinkRing();
      return false;
    }
  }
}


bool PhysFile::lockedElsewhere(dev_t dev, ino_t ino, PhysFile const* self) {
  for (PhysFile* p = first_sd; p; p = p->next_) {
    if (p != self && p->fd_ >= 0 && p->lockCount_ > 0 && p->dev_ == dev && p->ino_ == ino) return true;
    if (p->next_ == first_sd) break;
  }
  return false;
}

void PhysFile::closeParked(dev_t dev, ino_t ino) {
  if (parked_sd.empty() || lockedElsewhere(dev, ino, nullptr)) return;
  for (size_t i = 0; i < parked_sd.size();) {
    if (parked_sd[i].dev == dev && parked_sd[i].ino == ino) {
      fileOps().close(parked_sd[i].fd);
      parked_sd.erase(parked_sd.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
}

void PhysFile::close() {
  if (fd_ < 0) return;
  // Another part of the file holds locks: closing would drop them all, so
  // the descriptor waits (with this part's own locks) for the file's last lock.
  if (lockedElsewhere(dev_, ino_, this))
    parked_sd.push_back(Parked{fd_, dev_, ino_, openedFlags_, lockCount_ == 0});
  else
    fileOps().close(fd_);
  fd_ = -1;
  lockCount_ = 0;
  --openFiles_sd;
  unlinkRing();
  closeParked(dev_, ino_);
}

int PhysFile::fd() {
  if (!updateFd("fd")) return -1;
  return fd_;
}

int64_t PhysFile::read(void* buffer, int64_t offset, int64_t length) {
  if (length < 0 || offset < 0) {
    if (osfile_) osfile_->errNo_ = EINVAL;
    return -1;
  }
  for (int tries = 0;;) {
    if (!updateFd("read")) return -1;
    ssize_t n = fileOps().pread(fd_, buffer, static_cast<size_t>(length), offset);
    if (n >= 0) {
      ++nReads_;
      ++nReads_sd;
      return n;
    }
    if (errno == EINTR) continue;
    String op = rwText(fullName(), "read", buffer, offset, length);
    if (!osError(toCharPtr(op), tries++)) return -1;
  }
}

int64_t PhysFile::write(void const* buffer, int64_t offset, int64_t length) {
  if (length < 0 || offset < 0) {
    if (osfile_) osfile_->errNo_ = EINVAL;
    return -1;
  }
  char const* p = static_cast<char const*>(buffer);
  int64_t done = 0;
  for (int tries = 0;;) {
    if (!updateFd("write")) return -1;
    while (done < length) {
      ssize_t n = fileOps().pwrite(fd_, p + done, static_cast<size_t>(length - done), offset + done);
      if (n < 0) break;
      if (n == 0) {
        errno = ENOSPC;
        break;
      }
      done += n;
    }
    if (done == length) {
      ++nWrites_;
      ++nWrites_sd;
      return length;
    }
    if (errno == EINTR) continue;
    String op = rwText(fullName(), "write", buffer, offset + done, length);
    if (!osError(toCharPtr(op), tries++)) return -1;
  }
}

int PhysFile::sync() {
  if (nWrites_ == 0) return 0;
  if (!updateFd("sync")) return -1;
  for (int tries = 0;;) {
    if (fileOps().fsync(fd_) == 0) break;
    if (errno == EINTR) continue;
    // Given up: the writes stay due, so the next sync tries them again.
    if (!osError("sync", tries++)) return -1;
  }
  nReads_ = nWrites_ = 0;
  return 0;
}

void PhysFile::renameTo(String const& dir, String const& name, String const& ext) {
  ZF_ASSERT(osfile_ != nullptr);
  if (osfile_->name_.isNull()) {
    for (int tries = 0;; ++tries) {
      errno = EBADF;
      if (!osError("rename", tries)) return;
    }
  }
  String from = fullName();
  String to = fullName(dir, name, ext);
  for (int tries = 0;;) {
    if (fileOps().rename(toCharPtr(from), toCharPtr(to)) == 0) break;
    if (!osError("rename", tries++)) return;
  }
  path_ = dir;
}

void PhysFile::rename(String const& name, String const& ext) { renameTo(path_, name, ext); }

void PhysFile::rename(String const& dir, String const& name, String const& ext) { renameTo(dir, name, ext); }

void PhysFile::unLink() {
  ZF_ASSERT(osfile_ != nullptr);
  if (osfile_->name_.isNull()) {
    for (int tries = 0;; ++tries) {
      errno = EBADF;
      if (!osError("unlink", tries)) return;
    }
  }
  String name = fullName();
  for (int tries = 0;;) {
    if (fileOps().unlink(toCharPtr(name)) == 0 || errno == ENOENT) return;
    if (!osError("unlink", tries++)) return;
  }
}

bool PhysFile::flush() { return osfile_ ? osfile_->flush() : false; }
bool PhysFile::syncCache() { return osfile_ ? osfile_->syncCache() : false; }

void PhysFile::flushAll() {
  PhysFile* p = first_sd;
  while (p) {
    PhysFile* n = p->next_;
    p->flush();
    if (n == first_sd || n == nullptr) break;
    p = n;
  }
}

void PhysFile::syncAllCache() {
  PhysFile* p = first_sd;
  while (p) {
    PhysFile* n = p->next_;
    p->syncCache();
    if (n == first_sd || n == nullptr) break;
    p = n;
  }
}
