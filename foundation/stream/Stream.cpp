// The stream core: buffer ownership, the byte operators that need no value
// types, the manipulators, and the descriptor streams.
//
// Descriptor output loops until every buffered byte is written: a partial
// write resumes after the bytes taken, an interrupted call is repeated, and
// only a real failure sets the error bit.
#include <zfound/Stream.h>
#include <zfound/Portable.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

Stream::Stream(int32_t size)
    : bsize_(size > 0 ? size : 0), count_(0), cur_(nullptr), buf_(nullptr), pos_(0), state_(0) {
  if (bsize_ > 0) buf_ = new char[static_cast<size_t>(bsize_)];
  reset();
}

Stream::~Stream() {
  if (bsize_ > 0) delete[] buf_;
}

void Stream::reset() {
  count_ = 0;
  pos_ = 0;
  state_ = 0;
  cur_ = buf_;
}

InputStream::~InputStream() = default;

int InputStream::fill() {
  count_ = 0;
  return 0;
}

InputStream& InputStream::operator>>(int32_t& v) { return load(*this, v); }

void InputStream::unget(char c) {
  if (cur_ == nullptr || cur_ <= buf_) {
    addState(ErrorBit);
    return;
  }
  if (cur_[-1] != c) {
    // A buffer that is not the stream's own (a text being read) is never
    // written to.
    if (bsize_ == 0) {
      addState(ErrorBit);
      return;
    }
    cur_[-1] = c;
  }
  --cur_;
  if (count_ < 0) count_ = 0;
  ++count_;
}

OutputStream::~OutputStream() = default;
void OutputStream::flush() {}
void OutputStream::endMsg() { flush(); }
void OutputStream::closeMsg() { flush(); }
int OutputStream::pause() {
  flush();
  return 0;
}
int OutputStream::pause(String const&, String const&) {
  flush();
  return 0;
}

OutputStream& OutputStream::operator<<(char const* s) {
  if (s == nullptr) return *this;
  if (s == reinterpret_cast<char const*>(1)) s = "(high value)";
  while (*s) put(*s++);
  return *this;
}

OutputStream& OutputStream::operator<<(long v) {
  if (v >= 0) return *this << static_cast<unsigned long>(v);
  put('-');
  return *this << (0 - static_cast<unsigned long>(v));
}

OutputStream& OutputStream::operator<<(unsigned long v) {
  char tmp[24];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) put(tmp[--n]);
  return *this;
}

OutputStream& OutputStream::operator<<(void const* p) {
  // Hexadecimal, right-aligned in 10 places.
  char tmp[24];
  int n = 0;
  uint64_t u = reinterpret_cast<uintptr_t>(p);
  do {
    tmp[n++] = "0123456789abcdef"[u % 16];
    u /= 16;
  } while (u);
  for (int pad = n; pad < 10; ++pad) put(' ');
  while (n) put(tmp[--n]);
  return *this;
}

OutputStream& OutputStream::operator<<(bool b) { return *this << (b ? "true" : "false"); }

OutputStream& flush(OutputStream& os) {
  os.flush();
  return os;
}
OutputStream& endl(OutputStream& os) {
  os.put('\n');
  os.flush();
  return os;
}
OutputStream& endMsg(OutputStream& os) {
  os.endMsg();
  return os;
}

char load(InputStream& is, char& c) {
  c = is.getc();
  return c;
}
unsigned char load(InputStream& is, unsigned char& c) {
  c = static_cast<unsigned char>(is.getc());
  return c;
}
void store(OutputStream& os, char c) { os.put(c); }
void store(OutputStream& os, unsigned char c) { os.put(static_cast<char>(c)); }

// ---- descriptor streams ------------------------------------------------------

InputFdFile::InputFdFile(int fd, int32_t size) : InputStream(size > 0 ? size : 1), fd_(fd) {}
InputFdFile::~InputFdFile() = default;

int InputFdFile::fill() {
  if (state_ & ErrorBit) {
    count_ = 0;
    return 0;
  }
  cur_ = buf_;
  ssize_t n;
  do {
    n = ::read(fd_, buf_, static_cast<size_t>(bsize_));
  } while (n < 0 && errno == EINTR);
  return filled(n);
}

int InputStream::filled(int64_t n) {
  if (n <= 0) {
    count_ = 0;
    addState(n == 0 ? EofBit : ErrorBit);
    return 0;
  }
  pos_ += n;
  count_ = static_cast<int32_t>(n) - 1;
  return static_cast<unsigned char>(*cur_++);
}

// Writes all n bytes of p to fd; false on a real failure.
static bool writeAll(int fd, char const* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

OutputFdFile::OutputFdFile(int fd, int32_t size) : OutputStream(size > 0 ? size : 1), fd_(fd) {}

OutputFdFile::~OutputFdFile() { flush(); }

void OutputFdFile::flush() {
  if (state_ & ErrorBit) return;
  if (bsize_ == 0) return;
  size_t n = static_cast<size_t>(cur_ - buf_);
  cur_ = buf_;
  if (n > 0 && !writeAll(fd_, buf_, n)) {
    addState(ErrorBit);
    count_ = -1;
    return;
  }
  pos_ += static_cast<int64_t>(n);
  count_ = bsize_ - 1;
}

void OutputFdFile::endMsg() { endl(*this); }
