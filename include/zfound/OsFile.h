// The system's file object: one logical file stored as one or more physical
// parts (PhysFile). A file opened by directory, name and extension has one
// part; a file placed by a disk-layout entry has as many parts as the entry
// names, and each 64-bit logical offset is mapped to a part and an offset in
// it. Descriptors open on first use and come from one process-wide pool.
//
// Every failing system call goes through PhysFile::osError, which reports,
// asks the installed handler (or the arithmetic-error report) whether to
// retry, and records errno in the file (errNo()). A process without a
// terminal never waits on a retry loop: it gives up after the answer.
//
// Mode bits of open(): 1 read, 2 write, 16 create, 16|0x400 create-exclusive,
// 32 truncate, 0x200 append, 0x800 synchronous writes, 0x1000 never through a
// symbolic link (the open fails with ELOOP), 64 open every part now
// (quietly; the result tells whether all opened). Lock-mode bits: 0x80 take
// an exclusive lock waiting, 0x80|0x100 take it only if free now, 0x100 only
// test.
#pragma once

#include <zfound/PhysFile.h>
#include <zfound/String.h>

#include <cstdint>

class PhysLayout;
class PhysLayoutEntry;
class Time;

class OsFile {
public:
  // The error handler: the report text and errno; 0 asks for a retry, any
  // other answer ends the program.
  typedef int (*ErrFunc)(char const* report, int err);

  enum : int32_t {
    Read = 1, Write = 2, Create = 16, Truncate = 32, OpenNow = 64, Append = 0x200, Exclusive = 0x400,
    Sync = 0x800, NoFollow = 0x1000,
    LockWait = 0x80, LockNoWait = 0x180, LockTest = 0x100
  };

  OsFile();
  OsFile(String const& name, int32_t mode);
  OsFile(String const& dir, String const& name, String const& ext, int32_t mode);
  // open(layout, ...) below; `layout` must outlive the file.
  OsFile(PhysLayout& layout, String const& logicalName, String const& ext, int32_t mode, int32_t blockSize,
         String const& name = String());
  virtual ~OsFile();
  OsFile(OsFile const&) = delete;
  OsFile& operator=(OsFile const&) = delete;

  // Whether a part that holds locks may lose its descriptor to the pool;
  // OsFile's answer is false.
  virtual bool flush();
  virtual bool syncCache();

  // One part in directory dir (null: the current directory); then open(mode).
  bool open(String const& dir, String const& name, String const& ext, int32_t mode);
  // The parts of the first layout entry matching logicalName ("NOPARTS",
  // fatal, when none); name (or the logical name) is the file name.
  // `layout` must outlive this file: the file keeps a pointer to its entry.
  bool open(PhysLayout& layout, String const& logicalName, String const& ext, int32_t mode, int32_t blockSize,
            String const& name = String());
  // Sets every part's open flags from mode; under bit 64 opens every part now
  // quietly. True when the error number is 0.
  bool open(int32_t mode);
  // Closes every part's descriptor; the parts stay defined.
  void close();
  // close(), then the parts go.
  void closeAndDelete();
  // unLink(), close(), open(115): an empty file.
  void empty();

  // Transfers at a 64-bit logical offset: read gives the bytes read (fewer
  // at the end of the data), write the length; -1 on failure. A transfer over
  // a stripe or range boundary is split between the parts it touches.
  int64_t read(void* buffer, int64_t offset, int64_t length);
  int64_t write(void const* buffer, int64_t offset, int64_t length);
  int64_t awrite(void const* buffer, int64_t offset, int64_t length) { return write(buffer, offset, length); }
  void waitForWrites() {}
  // Reads part `part` at an in-part offset (layout-placed files only).
  int64_t read(int32_t part, void* buffer, int64_t offset, int64_t length);
  // Syncs every part written since its last sync; 0, or -1 when a part
  // could not be synced (its error in errNo(); it stays due for the next
  // sync).
  int sync();
  void resetCounters();
  // The first part's descriptor, opened if needed.
  int getFd();
  static void syncAllCache();
  static void flushAll();

  String const& name() const { return name_; }
  String const& ext() const { return ext_; }
  String nameExt() const;
  String const& logicalName() const { return logicalName_; }
  String fullName();
  String fullName(int32_t i) const;
  String path();
  bool isOpen();
  bool isPacked() const;
  int32_t nparts() const { return nparts_; }
  PhysFile& pfiles(int32_t i);
  int32_t bsize() const { return bsize_; }
  void bsize(int32_t b) { bsize_ = b < 0 ? 0 : b; }

  void rename(String const& name, String const& ext);
  void rename(String const& dir, String const& name, String const& ext);
  void unLink();

  // Ends the program with "OSFOPERNOTALLOWED" when the file is layout-placed.
  void checkMethod(char const* op) const;

  // ---- locks and status (single-file where noted) ----
  // Single-file: the first part's lock(mode), a FileLockResult (PhysFile.h).
  int lock(int32_t mode);
  // The mapped part's lock, a RangeLockResult (PhysFile.h).
  int lock(int64_t offset, int64_t length, int32_t mode);
  void free(int64_t offset, int64_t length);
  int lockOwner(int64_t offset, int64_t length);
  // Locking read (not counted as an object read).
  int64_t read(void* buffer, int64_t offset, int64_t length, int32_t mode);
  // Single-file status: -1 / the null Time when the query fails.
  int64_t size();
  Time mtime();
  int64_t owner();

  uint16_t errNo() const { return errNo_; }
  bool ok() const { return errNo_ == 0; }
  bool operator!() const { return errNo_ != 0; }
  explicit operator bool() const { return errNo_ == 0; }
  void errNo(int e) { errNo_ = static_cast<uint16_t>(e); }

  int64_t nObjReads() const { return nObjReads_; }
  int64_t nObjWrites() const { return nObjWrites_; }
  static int64_t nReads() { return PhysFile::nReads(); }
  static int64_t nWrites() { return PhysFile::nWrites(); }

  // Installs the process-wide error handler (null removes it).
  static void setHandler(ErrFunc f) { errFunc = f; }
  static ErrFunc handler() { return errFunc; }
  static bool isAborting() { return aborting; }

private:
  friend class PhysFile;
  // The part index for a logical offset; offset becomes the in-part offset.
  int32_t physFile(int64_t& offset) const;
  // The part and in-part offset of a transfer's first run and the run's
  // length (at most length): a transfer never crosses into another stripe or
  // range within one physical call.
  int32_t physRun(int64_t offset, int64_t length, int64_t& partOffset, int64_t& runLength) const;
  void deleteParts();

  String name_;
  String ext_;
  uint16_t errNo_;
  String logicalName_;
  int32_t nparts_;
  PhysFile* pfiles_;
  PhysLayoutEntry* plentry_;
  int32_t bsize_;
  int64_t nObjReads_;
  int64_t nObjWrites_;

  static ErrFunc errFunc;
  static bool aborting;
};
