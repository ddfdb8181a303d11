// Schema locks: one System V semaphore set of two semaphores per schema
// descriptor file. Semaphore 0 counts the processes that hold the schema
// shared, semaphore 1 is its exclusive holder (0 or 1). A second, advisory
// mark records in the descriptor itself (16 bits at offset 2) the user who
// holds the schema for design work.
//
// State of a schema in a process: none (semid -1) -> shared (semid set) <->
// exclusive (exclusive flag) ; shared -> none at the release. A forked child
// holds none of its parent's locks: the state counts only in the process that
// took it.
//
// Invariants: every request is one semop with IPC_NOWAIT, and every change is
// made with SEM_UNDO, so the kernel drops a dead process's holds. A release
// removes the set only once it took it exclusively, in one semop that also
// sees no holder left, so no other process holds it at removal; a request
// that meets a removed set makes it again and retries, and one that meets a
// removal in progress (semaphore 1 at 2, not an exclusive holder's 1)
// waits for it. The key is never IPC_PRIVATE.
#include "Descriptor.h"
#include "SchemaLock.h"

#include <dbm/DbInterface.h>
#include <zeph/Proc.h>

#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

constexpr int32_t kExclusive = 1;
constexpr int32_t kShared = 0x200;
constexpr int32_t kRelease = 0x400;
constexpr int32_t kRecordHolder = 0x4000;
constexpr int kBusyRetries = 20000;  // 100 us waits for a removal in progress
// Semaphore 1 while the last holder removes the set (an exclusive holder
// makes it 1): a request that meets it waits for the removal.
constexpr short kRemoving = 2;

[[noreturn]] void noMoreQueue() {
  int e = errno;
  Error("%s (%s)", __WiErrmsg("NO_MORE_QUEUE"), std::strerror(e));
  _exit(1);  // not reached: an error report ends the process
}

bool removedSet(int e) { return e == EINVAL || e == EIDRM; }

// The descriptor file of `sp`, opened read-write (read-only when the user
// may not write it); -1 when it does not exist.
int openDescriptor(s_schema* sp) {
  char path[DB_PATH_MAX];
  _DbFileName(path, sp, sp->d.name, "sco");
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path, O_RDONLY | O_CLOEXEC);
  return fd;
}

// Permissions of the set: every class that may read or write the descriptor
// may hold the schema.
int setPermissions(int fd) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return 0600;
  int perms = 0;
  for (int shift : {6, 3, 0})
    if (st.st_mode & (06 << shift)) perms |= 06 << shift;
  return perms;
}

bool writeHolder(int fd, uint16_t uid) {
  uint8_t b[2];
  stLe16(uid, b);
  return pwrite(fd, b, 2, 2) == 2;
}

// The holder recorded in the descriptor file now; -1 when unreadable.
int32_t readHolder(int fd) {
  uint8_t b[2];
  return pread(fd, b, 2, 2) == 2 ? int32_t(ldLe16(b)) : -1;
}

// Gives up the shared hold; removes the set when no process is left.
void release(int semid) {
  sembuf one = {0, -1, SEM_UNDO | IPC_NOWAIT};
  if (semop(semid, &one, 1) != 0) {
    if (removedSet(errno)) return;
    noMoreQueue();
  }
  // Taken exclusively only while nobody holds it, in one semop: then no
  // process holds the set and it can go. Of several last holders leaving at
  // once, each tries; one removes it.
  sembuf last[3] = {{0, 0, IPC_NOWAIT}, {1, 0, IPC_NOWAIT}, {1, kRemoving, SEM_UNDO | IPC_NOWAIT}};
  if (semop(semid, last, 3) == 0) {
    if (semctl(semid, 0, IPC_RMID) != 0 && !removedSet(errno)) noMoreQueue();
    return;
  }
  if (!removedSet(errno) && errno != EAGAIN) noMoreQueue();
}

zxdb::SchemaState& lockState(s_schema* sp) {
  zxdb::SchemaState& z = *sp->u.zx;
  if (z.semid >= 0 && z.lockPid != int(getpid())) {
    z.semid = -1;
    z.exclusive = false;
  }
  return z;
}

}  // namespace

namespace zxdb {

int32_t lockSchema(s_schema* sp, int32_t mode) {
  SchemaState& z = lockState(sp);
  if (z.exclusive && !(mode & kRelease)) return 0;
  if ((mode & kRelease) && z.semid < 0) return 0;
  int fd = openDescriptor(sp);
  if (fd < 0) return -1;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  bool testOnly = !(mode & (kExclusive | kShared | kRelease));
  bool held = z.semid >= 0;
  if (held && (mode & kShared) && !(mode & kExclusive)) return 0;
  if (mode & kRelease) {
    if (z.exclusive) {
      _unlock(z.semid);
      z.exclusive = false;
    }
    release(z.semid);
    z.semid = -1;
    return 0;
  }
  int32_t r = 0;
  int semid = z.semid;
  for (int attempt = 0;; ++attempt) {
    if (semid < 0) {
      key_t key = _get_key(fd);
      semid = testOnly ? semget(key, 2, 0) : semget(key, 2, IPC_CREAT | setPermissions(fd));
      if (semid < 0) {
        if (testOnly && errno == ENOENT) return 0;  // no set: no holder, and none is made
        noMoreQueue();
      }
    }
    r = _try_to_lock(semid, mode, held);
    int e = errno;
    if (r == -1 && !held && removedSet(e) && attempt < kBusyRetries) {
      semid = -1;
      continue;
    }
    // The last holder's release holds the set for the moment it takes to
    // remove it: a request that meets that waits for the removal.
    if (r != 0 && !held && e == EAGAIN && attempt < kBusyRetries) {
      int v = semctl(semid, 1, GETVAL);
      if (v == kRemoving || (v < 0 && removedSet(errno))) {
        if (v < 0) semid = -1;
        timespec pause{0, 100000};
        nanosleep(&pause, nullptr);
        continue;
      }
    }
    break;
  }
  if (testOnly && !held) return r;  // a test holds nothing
  if (r == -2) return -2;
  if (r == -1) {
    z.semid = -1;
    z.exclusive = false;
    return -1;
  }
  z.semid = semid;
  z.lockPid = int(getpid());
  bool tookExclusive = (mode & kExclusive) && !z.exclusive;
  if (mode & kExclusive) z.exclusive = true;
  if (!(mode & kRecordHolder)) return 0;
  int32_t uid = ProcUserId();
  int32_t result = 0;
  if (uid < 0 || uid > 0xffff) {
    Warning(__DbErrmsg("IO_UID_TOO_BIG"), int(uid), sp->d.name);
    _io_errno_ = 10;
    result = -1;
  } else {
    int32_t stored = readHolder(fd);
    if (stored < 0 || (stored != 0 && stored != uid)) {
      result = -2;  // another user holds it: nothing recorded
    } else if (writeHolder(fd, uint16_t(uid))) {
      sp->d.lockuid = uint16_t(uid);
    } else {
      result = -1;
    }
  }
  if (tookExclusive) {
    _unlock(semid);
    z.exclusive = false;
  }
  return result;
}

void dropSchemaLock(s_schema* sp) {
  SchemaState& z = lockState(sp);
  if (z.semid < 0) return;
  if (z.exclusive) _unlock(z.semid);
  release(z.semid);
  z.semid = -1;
  z.exclusive = false;
}

int32_t openLock(s_schema* sp, int32_t flags) {
  int32_t mode = (flags & 1) ? kExclusive : (flags & 0x800) ? 0x800 : kShared;
  int fd = openDescriptor(sp);
  if (fd < 0) return 11;
  ::close(fd);
  return lockSchema(sp, mode) == 0 ? 0 : 10;
}

int holderSet(s_schema* sp) { return lockState(sp).semid; }

int32_t adoptLock(s_schema* sp) {
  SchemaState& z = *sp->u.zx;
  if (z.semid < 0 || z.lockPid == int(getpid())) return 0;
  lockState(sp);
  int32_t mode = (sp->oflags & 1) ? kExclusive : (sp->oflags & 0x800) ? 0 : kShared;
  return mode ? lockSchema(sp, mode) : 0;
}

}  // namespace zxdb

extern "C" {

key_t _get_key(int fd) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return key_t(1);
  // Mixes every bit of both numbers; a 32-bit key cannot hold them whole.
  uint64_t h = uint64_t(st.st_dev) * 0x9E3779B97F4A7C15ull ^ uint64_t(st.st_ino);
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  auto key = key_t(uint32_t(h) ^ uint32_t(h >> 32));
  return key == IPC_PRIVATE ? key_t(1) : key;
}

int32_t _try_to_lock(int semid, int32_t mode, int32_t held) {
  sembuf ops[4];
  int n = 0;
  ops[n++] = {1, 0, IPC_NOWAIT};
  if (mode & kExclusive) {
    if (held) ops[n++] = {0, -1, SEM_UNDO | IPC_NOWAIT};
    ops[n++] = {0, 0, IPC_NOWAIT};
    ops[n++] = {1, 1, SEM_UNDO | IPC_NOWAIT};
  } else if (mode & kShared) {
    ops[n++] = {0, 1, SEM_UNDO | IPC_NOWAIT};
  }
  if (semop(semid, ops, size_t(n)) == 0) return 0;
  if (errno == EAGAIN) return ((mode & kExclusive) && !held) || (mode & kShared) ? -1 : -2;
  if (removedSet(errno)) return -1;
  noMoreQueue();
}

int32_t _unlock(int semid) {
  sembuf ops[2] = {{1, -1, SEM_UNDO | IPC_NOWAIT}, {0, 1, SEM_UNDO | IPC_NOWAIT}};
  if (semop(semid, ops, 2) != 0 && !removedSet(errno)) noMoreQueue();
  return 0;
}

int32_t LockSchema(int32_t schema, int32_t mode) {
  s_schema* sp = _GetSchPtr(schema);
  return sp ? zxdb::lockSchema(sp, mode) : -1;
}

int32_t FreeSchema(int32_t schema) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp) return -1;
  if (sp->d.lockuid && sp->d.lockuid == ProcUserId()) {
    int fd = openDescriptor(sp);
    if (fd >= 0) {
      if (readHolder(fd) == sp->d.lockuid) writeHolder(fd, 0);
      ::close(fd);
    }
    sp->d.lockuid = 0;
  }
  zxdb::SchemaState& z = lockState(sp);
  if (z.exclusive) {
    _unlock(z.semid);
    z.exclusive = false;
  }
  return 0;
}

}  // extern "C"
