// One physical part of a logical file (OsFile): an ordinary operating-system
// file, its lazily opened descriptor and the process-wide descriptor pool.
//
// Invariants:
//  - a part is in the pool's ring exactly while it holds a descriptor (and,
//    transiently, while one is being opened for it); the ring is circular and
//    doubly linked, its head the part used most recently;
//  - openFiles_sd counts the descriptors the ring holds;
//  - after the first EMFILE the pool keeps at most maxFiles_sd descriptors,
//    freeing the least recently used first;
//  - the pool never closes a descriptor while a part of the same file (same
//    device and inode) holds record locks, since closing any descriptor of a
//    file drops all of the process's locks on it; an explicit close of a part
//    in that situation keeps the descriptor (and with it any locks the part
//    took) aside until the file's last lock goes, and a later opening of the
//    same file with the same access takes it up again;
//  - offsets are 64-bit throughout.
#pragma once

#include <zfound/String.h>

#include <cstdint>
#include <sys/types.h>

class OsFile;
class Time;

// The two result encodings of the lock calls, fixed by the design: a range
// lock answers 0/1/-1, a whole-file lock (and a locking read) 1/-2/-1.
// Callers compare with these names, never with the numbers.
enum RangeLockResult : int { kRangeLocked = 0, kRangeLockBusy = 1, kRangeLockError = -1 };
enum FileLockResult : int { kFileLocked = 1, kFileLockBusy = -2, kFileLockError = -1 };

class PhysFile {
public:
  PhysFile();
  ~PhysFile();
  PhysFile(PhysFile const&) = delete;
  PhysFile& operator=(PhysFile const&) = delete;

  // Binds the part to its owner and directory; no system call.
  void open(OsFile* owner, String const& dir);
  // Closes the descriptor, which drops the process's locks on the file; while
  // another part of the file holds locks the descriptor is kept aside instead
  // and closed when the file's last lock goes.
  void close();
  // The descriptor, opened if needed; -1 when it cannot be opened.
  int fd();
  // Reads up to length bytes at offset; the bytes read, or -1.
  int64_t read(void* buffer, int64_t offset, int64_t length);
  // Writes all length bytes at offset; length, or -1.
  int64_t write(void const* buffer, int64_t offset, int64_t length);
  int64_t awrite(void const* buffer, int64_t offset, int64_t length) { return write(buffer, offset, length); }
  // fsync when the part was written since the last sync; 0, or -1 when the
  // fsync failed and the error handler gave up (the writes stay due, so the
  // next sync tries again).
  int sync();
  void rename(String const& name, String const& ext);
  void rename(String const& dir, String const& name, String const& ext);
  void unLink();
  String fullName() const;
  String const& path() const { return path_; }
  void clearPath() { path_ = String(); }
  // Sets the open(2) flags for the next opening.
  void flags(int f) { flags_ = f; }
  int flags() const { return flags_; }
  bool isOpen() const { return fd_ >= 0; }
  OsFile* osfile() const { return osfile_; }
  void resetCounters() { nWrites_ = nReads_ = 0; }
  bool flush();
  bool syncCache();
  static void flushAll();
  static void syncAllCache();

  // The error routine: reports the failed call op (errno holds the error),
  // records the error in the owner, and returns non-zero when the caller
  // should retry. `tries` is how often the caller has already retried.
  int osError(char const* op, int tries = 0);

  // Makes the part the ring's head and opens its descriptor when it has
  // none; false (error recorded in the owner) when that fails.
  bool updateFd(char const* op, bool quiet = false);

  // ---- locks and status ----
  // Exclusive lock of [offset, offset+length) (length 0: to the end and
  // beyond): a RangeLockResult. kRangeLocked also when nothing is asked;
  // kRangeLockBusy when the mode does not wait; kRangeLockError: not held.
  int lock(int64_t offset, int64_t length, int32_t mode);
  // lock(0, 0, mode) as a FileLockResult; when locked the lock count is 1.
  int lock(int32_t mode);
  // Releases the range; length 0 zeroes the lock count, else one less.
  void free(int64_t offset, int64_t length);
  // Locks the range with mode (-2 busy, -1 error), then reads; a failed read
  // under a waiting lock releases the range again.
  int64_t read(void* buffer, int64_t offset, int64_t length, int32_t mode);
  // The process id holding a conflicting lock on the range; -1 on failure.
  int lockOwner(int64_t offset, int64_t length);
  int64_t size();
  Time mtime();
  int64_t owner();
  uint32_t lockCount() const { return lockCount_; }

  static int64_t nReads() { return nReads_sd; }
  static int64_t nWrites() { return nWrites_sd; }
  static int32_t openFiles() { return openFiles_sd; }
  static int32_t maxFiles() { return maxFiles_sd; }
  // The head of the ring (most recently used); null when empty.
  static PhysFile* first() { return first_sd; }
  PhysFile* next() const { return next_; }
  PhysFile* prev() const { return prev_; }

  // dir + "/" (when dir is not null) + name + "." + ext (when ext is not null).
  static String fullName(String const& dir, String const& name, String const& ext);

private:
  friend class OsFile;
  void unlinkRing();
  void linkHead();
  bool freeAnFd(char const* op);
  bool closable() const;
  static bool lockedElsewhere(dev_t dev, ino_t ino, PhysFile const* self);
  static void closeParked(dev_t dev, ino_t ino);
  void renameTo(String const& dir, String const& name, String const& ext);

  String path_;
  int fd_;
  uint32_t lockCount_;
  int64_t nWrites_;
  int64_t nReads_;
  int flags_;
  OsFile* osfile_;
  PhysFile* next_;
  PhysFile* prev_;
  dev_t dev_;
  ino_t ino_;
  int openedFlags_;  // the open(2) flags of the descriptor held

  static PhysFile* first_sd;
  static int32_t openFiles_sd;
  static int32_t maxFiles_sd;
  static int64_t nReads_sd;
  static int64_t nWrites_sd;
};
