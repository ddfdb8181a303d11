// Streams over OsFile: buffered reading and writing at 64-bit file offsets.
//
// InputFile reads whole blocks at the stream's position; seeking within the
// buffered block only moves the cursor. OutputFile writes its buffer at the
// stream's position; reopening it first writes out what it holds for the file
// it had and then starts over at offset 0 with a clear state.
#include <zfound/OsFile.h>
#include <zfound/Stream.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstring>
#include <unistd.h>

// ---- InputFile ------------------------------------------------------------------

InputFile::InputFile(int32_t size) : InputStream(size > 0 ? size : 1), file_(nullptr), owned_(false) {}

InputFile::InputFile(OsFile& f, int32_t size) : InputStream(size > 0 ? size : 1), file_(&f), owned_(false) {}

InputFile::InputFile(String const& name, String const& ext, int32_t size)
    : InputStream(size > 0 ? size : 1), file_(nullptr), owned_(false) {
  open(name, ext);
}

InputFile::InputFile(char const* dirList, String const& name, String const& ext, int32_t size)
    : InputStream(size > 0 ? size : 1), file_(nullptr), owned_(false) {
  String list = dirList ? String(dirList) : String("PATH").getEnv();
  file_ = new OsFile;
  owned_ = true;
  char const* p = list.isHighest() ? "" : toCharPtr(list);
  for (;;) {
    char const* e = std::strchr(p, ':');
    size_t n = e ? static_cast<size_t>(e - p) : std::strlen(p);
    String dir = n == 0 ? String("./") : String(static_cast<long>(n), p);
    if (dir[dir.length() - 1] != '/') dir += '/';
    if (file_->open(dir, name, ext, OsFile::Read | OsFile::OpenNow)) {
      reset();
      return;
    }
    if (!e) break;
    p = e + 1;
  }
  state_ = ErrorBit;
}

InputFile::~InputFile() {
  if (owned_) delete file_;
}

bool InputFile::open(String const& name, String const& ext) {
  if (file_ == nullptr) {
    file_ = new OsFile;
    owned_ = true;
  } else {
    file_->close();
  }
  if (file_->open(String(), name, ext, OsFile::Read | OsFile::OpenNow)) {
    reset();
    return true;
  }
  reset();
  state_ = ErrorBit;
  return false;
}

int InputFile::fill() {
  if ((state_ & ErrorBit) || file_ == nullptr || bsize_ == 0) {
    count_ = 0;
    addState(ErrorBit);
    return 0;
  }
  cur_ = buf_;
  int64_t n = file_->read(buf_, pos_, bsize_);
  return filled(n);
}

int64_t InputFile::seek(int64_t offset) {
  if (offset < 0) offset = 0;
  int64_t held = (cur_ - buf_) + (count_ > 0 ? count_ : 0);  // bytes of the buffered block
  int64_t blockStart = pos_ - held;
  if (!(state_ & EofBit) && held > 0 && offset >= blockStart && offset < pos_) {
    count_ = static_cast<int32_t>(pos_ - offset);
    cur_ = buf_ + (offset - blockStart);
    return pos_ - count_;
  }
  state_ &= static_cast<uint8_t>(~EofBit);
  pos_ = bsize_ > 0 ? offset - offset % bsize_ : offset;
  int64_t start = pos_;
  count_ = 0;
  cur_ = buf_;
  fill();
  int64_t got = pos_ - start;
  if (offset >= pos_) {
    cur_ = buf_ + got;
    count_ = 0;
    return pos_;
  }
  count_ = static_cast<int32_t>(pos_ - offset);
  cur_ = buf_ + (offset - start);
  return pos_ - count_;
}

Time InputFile::mtime() { return file_ ? file_->mtime() : Time(); }

// ---- OutputFile ------------------------------------------------------------------

OutputFile::OutputFile(int32_t size) : OutputStream(size > 0 ? size : 1), file_(nullptr), owned_(false) {}

OutputFile::OutputFile(OsFile& f, int32_t size) : OutputStream(size > 0 ? size : 1), file_(&f), owned_(false) {}

OutputFile::OutputFile(String const& name, String const& ext, bool append, int32_t size)
    : OutputStream(size > 0 ? size : 1), file_(nullptr), owned_(false) {
  open(name, ext, append);
}

OutputFile::~OutputFile() {
  flush();
  if (owned_) delete file_;
}

void OutputFile::flush() {
  if (state_ & ErrorBit) return;
  if (file_ == nullptr || bsize_ == 0) {
    addState(ErrorBit);
    count_ = -1;
    return;
  }
  int64_t n = cur_ - buf_;
  cur_ = buf_;
  if (n > 0 && file_->write(buf_, pos_, n) != n) {
    addState(ErrorBit);
    count_ = -1;
    return;
  }
  pos_ += n;
  count_ = bsize_ - 1;
}

bool OutputFile::open(String const& name, String const& ext, bool append) {
  if (file_ != nullptr && cur_ != buf_) flush();
  if (file_ == nullptr) {
    file_ = new OsFile;
    owned_ = true;
  } else {
    file_->close();
  }
  int32_t mode = append ? (OsFile::Write | OsFile::Create | OsFile::Append)
                        : (OsFile::Write | OsFile::Create | OsFile::Truncate);
  bool ok = file_->open(String(), name, ext, mode);
  reset();
  if (!ok) {
    state_ = ErrorBit;
    return false;
  }
  return true;
}

int64_t OutputFile::seek(int64_t offset) {
  flush();
  pos_ = offset < 0 ? 0 : offset;
  return pos_;
}

int OutputFile::sync() {
  if (file_ == nullptr) return 0;
  flush();
  return file_->sync();
}

int OutputFile::capture(int fd) {
  if (file_ == nullptr) return -1;
  int own = file_->getFd();
  if (own < 0) return -1;
  if (::dup2(own, fd) < 0) return -1;
  return 0;
}
