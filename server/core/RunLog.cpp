// RunLog: recording and replay of a server run (form in the header).
//
// Every read checks the item against the file's size before anything is
// copied or allocated, so a damaged or hostile log is refused as
// "INVRUNLOG". Files are opened with O_NOFOLLOW: the log is never written or
// read through a symbolic link, and a recorded log is the server user's own
// regular file, mode 0600.
#include <svcore/RunLog.h>

#include <zfound/FileOps.h>
#include <zfound/Message.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool littleEndianHost() {
  uint32_t one = 1;
  unsigned char b;
  std::memcpy(&b, &one, 1);
  return b == 1;
}

void putBE(unsigned char* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

uint32_t getBE(unsigned char const* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

RunLog::RunLog(String const& name, bool read, int32_t write, Hooks const& hooks) : hooks_(hooks), name_(name) {
  if (read) {
    fd_ = fileOps().open(toCharPtr(name), O_RDONLY | O_NOFOLLOW, 0);
    if (fd_ < 0)
      throw RunLogError{"CANTRDRUNLOG", name};
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      close();
      throw RunLogError{"CANTRDRUNLOG", name};
    }
    size_ = int64_t(st.st_size);
    mode_ = Replaying;
    if (size_ < 8) {
      close();
      throw RunLogError{"INVRUNLOG", name};
    }
    uint32_t magic = readLong();
    uint32_t own = littleEndianHost() ? kMagicLittle : kMagicBig;
    uint32_t other = littleEndianHost() ? kMagicBig : kMagicLittle;
    if (magic == other) {
      close();
      throw RunLogError{"CANTINVERT", name};
    }
    if (magic != own) {
      close();
      throw RunLogError{"INVRUNLOG", name};
    }
    uint32_t n = readLong();
    // Every message item takes at least 20 bytes.
    if (n > uint32_t((size_ - 8) / 20)) {
      close();
      throw RunLogError{"INVRUNLOG", name};
    }
    total_ = int32_t(n);
    return;
  }
  if (write == -1)
    return;
  // Opened before anything is cut: a symbolic link fails here, and what is
  // not a regular file of the server's own user with one name (a device, a
  // pipe, another user's file, a hard link to a file elsewhere) is left
  // untouched; the server then runs without recording.
  fd_ = fileOps().open(toCharPtr(name), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kFileMode);
  struct stat st {};
  bool const own = fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                   st.st_nlink == 1;
  if (!own || fchmod(fd_, kFileMode) != 0 || fileOps().ftruncate(fd_, 0) != 0) {
    close();
    String text = String(appMsg("CANTWRRUNLOG", "Cannot write the run log")) + " " + name;
    if (hooks_.warning)
      hooks_.warning(toCharPtr(text));
    else
      warning(String("%S"), &text);
    return;
  }
  mode_ = Recording;
  total_ = 0;
  writeLong(littleEndianHost() ? kMagicLittle : kMagicBig);
  writeLong(0);
}

RunLog::~RunLog() { close(); }

void RunLog::close() {
  if (fd_ >= 0)
    fileOps().close(fd_);
  fd_ = -1;
}

void RunLog::invalid() const { throw RunLogError{"INVRUNLOG", name_}; }

// ---- raw access -------------------------------------------------------------------

void RunLog::writeRaw(void const* p, int32_t n) {
  if (mode_ != Recording || n <= 0)
    return;
  auto const* b = static_cast<char const*>(p);
  int32_t left = n;
  while (left > 0) {
    ssize_t w = fileOps().pwrite(fd_, b, size_t(left), off_t(pos_));
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      String text = String(appMsg("CANTWRRUNLOG", "Cannot write the run log")) + " " + name_;
      if (hooks_.warning)
        hooks_.warning(toCharPtr(text));
      else
        warning(String("%S"), &text);
      close();
      mode_ = Off;
      return;
    }
    b += w;
    left -= int32_t(w);
    pos_ += w;
  }
}

void RunLog::readRaw(void* p, int32_t n) {
  if (n < 0 || pos_ + n > size_)
    invalid();
  auto* b = static_cast<char*>(p);
  int32_t left = n;
  while (left > 0) {
    ssize_t r = fileOps().pread(fd_, b, size_t(left), off_t(pos_));
    if (r < 0 && errno == EINTR)
      continue;
    if (r <= 0)
      invalid();
    b += r;
    left -= int32_t(r);
    pos_ += r;
  }
}

void RunLog::writeLong(uint32_t v) {
  unsigned char b[4];
  putBE(b, v);
  writeRaw(b, 4);
}

uint32_t RunLog::readLong() {
  unsigned char b[4];
  readRaw(b, 4);
  return getBE(b);
}

// ---- recording ----------------------------------------------------------------------

void RunLog::storeNMsg() {
  if (mode_ != Recording)
    return;
  int64_t keep = pos_;
  pos_ = 4;
  writeLong(uint32_t(total_));
  pos_ = keep;
}

void RunLog::writeTimeStamp(TimeStamp const& ts) {
  char b[8];
  char* p = b;
  ts.store(p);
  writeRaw(b, 8);
}

void RunLog::writeMsg(void const* buf, int32_t len) {
  if (mode_ != Recording)
    return;
  writeLong(kMsg);
  writeLong(uint32_t(len));
  writeLong(~uint32_t(len));
  writeTimeStamp(hooks_.stamp ? *hooks_.stamp : TimeStamp());
  writeRaw(buf, len);
  ++total_;
  ++done_;
  storeNMsg();
}

void RunLog::beginHouseKeeping() {
  if (mode_ != Recording)
    return;
  writeLong(kHkStart);
  writeTimeStamp(hooks_.stamp ? *hooks_.stamp : TimeStamp());
}

void RunLog::endHouseKeeping() {
  if (mode_ == Recording)
    writeLong(kHkEnd);
}

void RunLog::writeInt(int32_t v) {
  if (mode_ == Recording)
    writeLong(uint32_t(v));
}

// ---- replaying -------------------------------------------------------------------------

TimeStamp RunLog::readTimeStamp() {
  char b[8];
  readRaw(b, 8);
  char const* p = b;
  TimeStamp ts;
  ts.load(p);
  return ts;
}

int32_t RunLog::readInt() { return int32_t(readLong()); }

int32_t RunLog::readMsgSize() {
  if (mode_ != Replaying)
    return -1;
  if (done_ >= total_) {
    mode_ = Off;
    if (hooks_.warning)
      hooks_.warning("Log file has been exhausted.");
    else
      warning(String("Log file has been exhausted."));
    close();
    total_ = -1;
    return -1;
  }
  uint32_t n = readLong();
  while (n == kHkStart) {
    pos_ -= 4;
    if (hooks_.houseKeeping)
      hooks_.houseKeeping();
    else
      readHouseKeeping();
    n = readLong();
  }
  if (n != kMsg)
    invalid();
  uint32_t len = readLong();
  uint32_t cpl = readLong();
  if (cpl != ~len || len > uint32_t(kMaxMsgBytes) || pos_ + 8 + int64_t(len) > size_)
    invalid();
  pos_ -= 12;
  return int32_t(len);
}

void RunLog::readMsg(void* buf, int32_t len) {
  if (readLong() != kMsg)
    invalid();
  uint32_t l = readLong();
  uint32_t c = readLong();
  if (l != uint32_t(len) || c != ~l)
    invalid();
  TimeStamp ts = readTimeStamp();
  if (hooks_.stamp)
    hooks_.stamp->setTime(ts);
  readRaw(buf, len);
  ++done_;
  progress();
}

void RunLog::progress() {
  if (countdown_ == 0) {
    int32_t p = int32_t(int64_t(100) * done_ / (total_ > 0 ? total_ : 1));
    String text = String("Processed ") + toString(p) + "% of run log (" + toString(done_) + "/" +
                  toString(total_) + " messages).";
    if (hooks_.warning)
      hooks_.warning(toCharPtr(text));
    else
      warning(String("%S"), &text);
  }
  if (countdown_ <= 0) {
    int32_t left = total_ - done_;
    countdown_ = left < 100 ? left : 100;
  }
  --countdown_;
}

void RunLog::readHouseKeeping() {
  if (mode_ != Replaying)
    return;
  if (readLong() != kHkStart)
    invalid();
  TimeStamp ts = readTimeStamp();
  if (hooks_.stamp)
    hooks_.stamp->setTime(ts);
  for (;;) {
    uint32_t n = readLong();
    if (n == kHkEnd)
      break;
    if (hooks_.clientDead)
      hooks_.clientDead(int32_t(n));
  }
}
