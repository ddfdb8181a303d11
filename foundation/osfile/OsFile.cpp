// Logical files over physical parts: opening by directory or by disk-layout
// entry, the mapping of 64-bit logical offsets to parts, and the operations
// that act on every part or on the first part only.
#include <zfound/Assert.h>
#include <zfound/Report.h>
#include <zfound/OsFile.h>
#include <zfound/PhysLayout.h>
#include <zfound/Time.h>

#include <cerrno>
#include <fcntl.h>
#include <vector>

OsFile::ErrFunc OsFile::errFunc = nullptr;
bool OsFile::aborting = false;

OsFile::OsFile()
    : errNo_(0), nparts_(0), pfiles_(nullptr), plentry_(nullptr), bsize_(0), nObjReads_(0), nObjWrites_(0) {}

OsFile::OsFile(String const& name, int32_t mode) : OsFile() { open(String(), name, String(), mode); }

OsFile::OsFile(String const& dir, String const& name, String const& ext, int32_t mode) : OsFile() {
  open(dir, name, ext, mode);
}

OsFile::OsFile(PhysLayout& layout, String const& logicalName, String const& ext, int32_t mode, int32_t blockSize,
               String const& name)
    : OsFile() {
  open(layout, logicalName, ext, mode, blockSize, name);
}

OsFile::~OsFile() { closeAndDelete(); }

bool OsFile::flush() { return false; }
bool OsFile::syncCache() { return false; }

void OsFile::deleteParts() {
  delete[] pfiles_;
  pfiles_ = nullptr;
  nparts_ = 0;
}

void OsFile::close() {
  for (int32_t i = 0; i < nparts_; ++i) pfiles_[i].close();
}

void OsFile::closeAndDelete() {
  close();
  deleteParts();
}

bool OsFile::open(String const& dir, String const& name, String const& ext, int32_t mode) {
  closeAndDelete();
  name_ = name;
  ext_ = ext;
  logicalName_ = String();
  bsize_ = 0;
  errNo_ = 0;
  plentry_ = nullptr;
  nparts_ = 1;
  pfiles_ = new PhysFile[1];
  pfiles_[0].open(this, dir);
  return open(mode);
}

bool OsFile::open(PhysLayout& layout, String const& logicalName, String const& ext, int32_t mode,
                  int32_t blockSize, String const& name) {
  ZF_ASSERT(blockSize >= 0);
  closeAndDelete();
  logicalName_ = logicalName;
  name_ = name.isNull() ? logicalName : name;
  ext_ = ext;
  bsize_ = blockSize < 0 ? 0 : blockSize;
  errNo_ = 0;
  plentry_ = layout.find(logicalName, 0);
  if (plentry_ == nullptr) {
    String lf = layout.fileName();
    error(libMsg("NOPARTS"), &name_, &ext_, &lf);
    errNo_ = ENOENT;
    return false;
  }
  nparts_ = plentry_->nParts();
  pfiles_ = new PhysFile[static_cast<size_t>(nparts_)];
  for (int32_t i = 0; i < nparts_; ++i) pfiles_[i].open(this, plentry_->part(i));
  return open(mode);
}

bool OsFile::open(int32_t mode) {
  int fl;
  if ((mode & Read) && (mode & Write))
    fl = O_RDWR;
  else if (mode & Write)
    fl = O_WRONLY;
  else
    fl = O_RDONLY;
  if (mode & Create) {
    fl |= O_CREAT;
    if (mode & Exclusive) fl |= O_EXCL;
  }
  if (mode & Truncate) fl |= O_TRUNC;
  if (mode & Append) fl |= O_APPEND;
  if (mode & Sync) fl |= O_SYNC;
  if (mode & NoFollow) fl |= O_NOFOLLOW;
  for (int32_t i = 0; i < nparts_; ++i) {
    pfiles_[i].flags(fl);
    pfiles_[i].resetCounters();
  }
  if (mode & OpenNow)
    for (int32_t i = 0; i < nparts_; ++i)
      if (!pfiles_[i].updateFd("open", true)) break;
  return errNo_ == 0;
}

void OsFile::empty() {
  unLink();
  close();
  open(Read | Write | Create | Truncate | OpenNow);
}

int32_t OsFile::physFile(int64_t& offset) const {
  if (plentry_ == nullptr || nparts_ == 1) return 0;
  return plentry_->part(offset, bsize_);
}

// The part, in-part offset and length of the first run of a transfer at
// `offset`: the bytes up to where the layout moves on to another part or to a
// place that does not follow on in the same part. Stripes and ranges start at
// multiples of the block size, so only those boundaries are looked at.
int32_t OsFile::physRun(int64_t offset, int64_t length, int64_t& partOffset, int64_t& runLength) const {
  partOffset = offset;
  int32_t part = physFile(partOffset);
  if (plentry_ == nullptr || nparts_ == 1 || bsize_ <= 0) {
    runLength = length;
    return part;
  }
  int64_t run = bsize_ - offset % bsize_;
  while (run < length) {
    int64_t next = offset + run;
    int32_t p = physFile(next);
    if (p != part || next != partOffset + run) break;
    run += bsize_;
  }
  runLength = run < length ? run : length;
  return part;
}

int64_t OsFile::read(void* buffer, int64_t offset, int64_t length) {
  ++nObjReads_;
  if (nparts_ == 0) {
    errNo_ = EBADF;
    return -1;
  }
  if (length < 0 || offset < 0) return pfiles_[0].read(buffer, offset, length);  // refused there
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  do {
    int64_t partOffset, run;
    int32_t i = physRun(offset + done, length - done, partOffset, run);
    int64_t n = pfiles_[i].read(out + done, partOffset, run);
    if (n < 0) return -1;
    done += n;
    if (n < run) break;  // the end of the data
  } while (done < length);
  return done;
}

int64_t OsFile::write(void const* buffer, int64_t offset, int64_t length) {
  ++nObjWrites_;
  if (nparts_ == 0) {
    errNo_ = EBADF;
    return -1;
  }
  if (length < 0 || offset < 0) return pfiles_[0].write(buffer, offset, length);  // refused there
  char const* in = static_cast<char const*>(buffer);
  int64_t done = 0;
  do {
    int64_t partOffset, run;
    int32_t i = physRun(offset + done, length - done, partOffset, run);
    if (pfiles_[i].write(in + done, partOffset, run) < 0) return -1;
    done += run;
  } while (done < length);
  return length;
}

int64_t OsFile::read(int32_t part, void* buffer, int64_t offset, int64_t length) {
  ZF_ASSERT(plentry_ != nullptr);
  ++nObjReads_;
  return pfiles(part).read(buffer, offset, length);
}

int OsFile::sync() {
  int result = 0;
  for (int32_t i = 0; i < nparts_; ++i)
    if (pfiles_[i].sync() != 0) result = -1;
  return result;
}

void OsFile::resetCounters() {
  for (int32_t i = 0; i < nparts_; ++i) pfiles_[i].resetCounters();
}

void OsFile::syncAllCache() { PhysFile::syncAllCache(); }
void OsFile::flushAll() { PhysFile::flushAll(); }

PhysFile& OsFile::pfiles(int32_t i) {
  ZF_ASSERT(pfiles_ != nullptr);
  ZF_ASSERT(i >= 0 && i < nparts_);
  return pfiles_[i];
}

void OsFile::checkMethod(char const* op) const {
  if (plentry_ == nullptr) return;
  String o(op);
  String n = nameExt();
  error(libMsg("OSFOPERNOTALLOWED"), &o, &n);
}

int OsFile::getFd() {
  checkMethod("getFd");
  return pfiles(0).fd();
}

String OsFile::nameExt() const {
  String s = name_;
  if (!ext_.isNull()) {
    s += ".";
    s += ext_;
  }
  return s;
}

String OsFile::fullName() {
  checkMethod("fullName");
  return pfiles(0).fullName();
}

String OsFile::fullName(int32_t i) const {
  ZF_ASSERT(plentry_ != nullptr);
  ZF_ASSERT(i >= 0 && i < nparts_);
  return pfiles_[i].fullName();
}

String OsFile::path() {
  checkMethod("path");
  return pfiles(0).path();
}

bool OsFile::isOpen() {
  checkMethod("isOpen");
  return nparts_ > 0 && pfiles_[0].isOpen();
}

bool OsFile::isPacked() const { return plentry_ != nullptr && plentry_->packedEntry() != nullptr; }

void OsFile::rename(String const& name, String const& ext) {
  for (int32_t i = 0; i < nparts_; ++i) pfiles_[i].rename(name, ext);
  name_ = name;
  ext_ = ext;
}

void OsFile::rename(String const& dir, String const& name, String const& ext) {
  checkMethod("rename");
  pfiles(0).rename(dir, name, ext);
  name_ = name;
  ext_ = ext;
}

void OsFile::unLink() {
  for (int32_t i = 0; i < nparts_; ++i) pfiles_[i].unLink();
}

// ---- locks and status ----

int OsFile::lock(int32_t mode) {
  checkMethod("lock");
  return pfiles(0).lock(mode);
}

int OsFile::lock(int64_t offset, int64_t length, int32_t mode) {
  if (nparts_ == 0) return -1;
  int32_t i = physFile(offset);
  return pfiles_[i].lock(offset, length, mode);
}

void OsFile::free(int64_t offset, int64_t length) {
  if (nparts_ == 0) return;
  int32_t i = physFile(offset);
  pfiles_[i].free(offset, length);
}

int OsFile::lockOwner(int64_t offset, int64_t length) {
  if (nparts_ == 0) return -1;
  int32_t i = physFile(offset);
  return pfiles_[i].lockOwner(offset, length);
}

int64_t OsFile::read(void* buffer, int64_t offset, int64_t length, int32_t mode) {
  if (nparts_ == 0) return -1;
  int64_t partOffset, run;
  int32_t i = physRun(offset, length, partOffset, run);
  if (length <= 0 || offset < 0 || run >= length) return pfiles_[i].read(buffer, partOffset, length, mode);

  // The range spans parts: lock every run, then read the runs in turn. A busy
  // or failed lock, or a failed read, lets the runs already locked go again.
  struct Run {
    int32_t part;
    int64_t offset;
    int64_t length;
  };
  std::vector<Run> runs;
  for (int64_t done = 0; done < length; done += run) {
    i = physRun(offset + done, length - done, partOffset, run);
    runs.push_back(Run{i, partOffset, run});
  }
  auto release = [&](size_t count) {
    if (mode & LockWait)
      for (size_t k = 0; k < count; ++k) pfiles_[runs[k].part].free(runs[k].offset, runs[k].length);
  };
  for (size_t k = 0; k < runs.size(); ++k) {
    int r = pfiles_[runs[k].part].lock(runs[k].offset, runs[k].length, mode);
    if (r != kRangeLocked) {
      release(k);
      return r == kRangeLockBusy ? kFileLockBusy : kFileLockError;
    }
  }
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  for (Run const& x : runs) {
    int64_t n = pfiles_[x.part].read(out + done, x.offset, x.length);
    if (n < 0) {
      release(runs.size());
      return -1;
    }
    done += n;
    if (n < x.length) break;
  }
  return done;
}

int64_t OsFile::size() {
  checkMethod("size");
  return pfiles(0).size();
}

Time OsFile::mtime() {
  checkMethod("mtime");
  return pfiles(0).mtime();
}

int64_t OsFile::owner() {
  checkMethod("owner");
  return pfiles(0).owner();
}
