// The undo log's byte stream: a 4096-byte window over a private temporary
// file. Every byte passes through putByte/getByte, which move the window
// when the stream position reaches its end.
#include <winkit/Log.h>

#include <zfound/Message.h>
#include <zfound/OsServ.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

char Log::buffer_[Log::kWindow];
int32_t Log::fileOffset_ = 0;
int32_t Log::currOffset_ = 0;
bool Log::modBuffer_ = false;
int Log::fd_ = -1;

namespace {

bool writeAllAt(int fd, char const* p, size_t n, off_t at) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}

ssize_t readAllAt(int fd, char* p, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, p + done, n - done, at + static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

// ---- the window -------------------------------------------------------------

bool Log::openFile(char const* who) {
  if (fd_ >= 0) return true;
  char const* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  // The name is created exclusively and removed at once: the file lives only
  // as long as this process holds it open.
  char* name = zfTempnam(dir, "zlog");
  if (name) {
    fd_ = ::open(name, O_RDWR | O_CLOEXEC);
    ::unlink(name);
    std::free(name);
  }
  if (fd_ < 0) {
    error(String("%s - can not create Log's temporary file."), who);
    return false;
  }
  return true;
}

bool Log::writeWindow() {
  if (fd_ < 0) return false;
  if (!writeAllAt(fd_, buffer_, kWindow, fileOffset_)) return false;
  modBuffer_ = false;
  return true;
}

void Log::readWindow() {
  std::memset(buffer_, 0, sizeof buffer_);
  if (fd_ >= 0) readAllAt(fd_, buffer_, kWindow, fileOffset_);
}

void Log::flush() {
  if (!openFile("Log::flush")) return;
  writeWindow();
  fileOffset_ += kWindow;
  modBuffer_ = false;
}

void Log::advance() {
  if (fd_ < 0) {
    error(String("Can not advance (there wasn't any flush)."));
    return;
  }
  if (modBuffer_) writeWindow();
  fileOffset_ += kWindow;
  readWindow();
}

void Log::goTo(int32_t pos) {
  if (pos < 0) pos = 0;
  if (pos >= fileOffset_ && pos <= fileOffset_ + kWindow) {
    currOffset_ = pos;
    return;
  }
  if (modBuffer_) {
    if (!openFile("Log::goTo")) return;
    writeWindow();
  }
  fileOffset_ = pos;
  readWindow();
  modBuffer_ = false;
  currOffset_ = pos;
}

void Log::putByte(char c) {
  if (currOffset_ - fileOffset_ >= kWindow) {
    flush();
    if (currOffset_ - fileOffset_ >= kWindow) return;  // no file: nowhere to go
  }
  buffer_[currOffset_ - fileOffset_] = c;
  ++currOffset_;
  modBuffer_ = true;
}

char Log::getByte() {
  if (currOffset_ - fileOffset_ >= kWindow) {
    advance();
    if (currOffset_ - fileOffset_ >= kWindow) return 0;
  }
  return buffer_[currOffset_++ - fileOffset_];
}

// ---- raw stream operations --------------------------------------------------

void Log::write(int32_t const& v) {
  char b[4];
  std::memcpy(b, &v, 4);
  for (char c : b) putByte(c);
}

void Log::read(int32_t& v) {
  char b[4];
  for (char& c : b) c = getByte();
  std::memcpy(&v, b, 4);
}

void Log::write(String const& s) {
  char const* p = toCharPtr(s);
  for (long i = 0; i < s.length() && p[i] != '\0'; ++i) putByte(p[i]);
  putByte('\0');
}

void Log::read(String& s) {
  char chunk[256];
  size_t n = 0;
  s = String();
  for (;;) {
    char c = getByte();
    if (c == '\0') break;
    if (n == sizeof chunk) {
      s += String(static_cast<long>(n), chunk);
      n = 0;
    }
    chunk[n++] = c;
  }
  if (n > 0) s += String(static_cast<long>(n), chunk);
}

void Log::purge(int32_t n) {
  if (n <= 0) return;
  int32_t end = currOffset_;
  n = std::min(n, end);
  if (fd_ >= 0) {
    if (modBuffer_) writeWindow();
    char piece[kWindow];
    for (int32_t off = n; off < end; off += kWindow) {
      size_t len = static_cast<size_t>(std::min(kWindow, end - off));
      ssize_t got = readAllAt(fd_, piece, len, off);
      if (got > 0) writeAllAt(fd_, piece, static_cast<size_t>(got), off - n);
    }
    currOffset_ = end - n;
    fileOffset_ = std::max(currOffset_ - kWindow, 0);
    readWindow();
  } else {
    // Never spilled: the whole stream is in the window, from offset 0.
    std::memmove(buffer_, buffer_ + n, static_cast<size_t>(end - n));
    currOffset_ = end - n;
    fileOffset_ = 0;
    // The window is the only copy of these bytes: a later move must keep them.
    modBuffer_ = currOffset_ > 0;
    return;
  }
  modBuffer_ = false;
}

void Log::cleanUp() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---- records ------------------------------------------------------------------

Log::Log() : start_(currOffset_), size_(0), remaining_(0), recordStart_(currOffset_) {}

void Log::openOutput() {
  size_ = 0;
  goTo(currOffset_);
}

void Log::put(LogItem const& item) {
  int32_t before = currOffset_;
  write(item.row);
  write(item.col);
  write(item.length);
  write(item.string);
  size_ += currOffset_ - before;
}

void Log::put(StringList& lines) {
  StringListCursor c(lines);
  for (c.goToFirst(); c.valid(); ++c) put(LogItem(0, 0, 0, c.value()));
}

void Log::closeOutput() { write(size_); }

void Log::openInput() {
  int32_t end = currOffset_;
  size_ = remaining_ = 0;
  recordStart_ = end;
  if (end < 4) return;
  goTo(end - 4);
  int32_t sz = 0;
  read(sz);
  if (sz < 0 || sz > end - 4) sz = 0;  // not a record: read nothing
  size_ = remaining_ = sz;
  recordStart_ = end - 4 - sz;
  goTo(recordStart_);
}

LogItem Log::get() {
  if (remaining_ <= 0) return LogItem();
  int32_t before = currOffset_;
  LogItem item;
  read(item.row);
  read(item.col);
  read(item.length);
  read(item.string);
  remaining_ -= currOffset_ - before;
  return item;
}

void Log::get(StringList& lines) {
  while (remaining_ > 0) lines.add(get().string);
}

void Log::closeInput() {
  goTo(recordStart_);
  remaining_ = 0;
}
