// Buffered streams: all byte input and output of the system, text and binary.
//
// Stream keeps a buffer, a cursor into it, the remaining count and two state
// bits (16 end of file, 32 error). Streams never report: a failing fill() or
// flush() sets a state bit that callers test, after which input yields 0 bytes
// and output stops writing.
//
// Invariants:
//  - input: count is the bytes still unread after the cursor; when a read
//    takes it below 0 the virtual fill() supplies the byte;
//  - output: count is the free bytes after the one being written; when a write
//    takes it below 0 the virtual flush() makes room. When flush() could not
//    make room (error, no buffer) the byte is dropped, never written outside
//    the buffer;
//  - sizes and counts are 32-bit, so buffers and lines past 32,767 bytes do
//    not wrap; positions are 64-bit file offsets;
//  - descriptor and file streams always have a buffer (a size below 1 gives
//    a buffer of one byte).
//
// The binary forms of multi-byte values on streams (load/store of shorts,
// longs, doubles, Strings, Nums) are declared in Portable.h.
#pragma once

#include <cstdint>

class String;
class Date;
class Time;
class OsFile;

class Stream {
public:
  enum : uint8_t { EofBit = 16, ErrorBit = 32 };

  // Allocates an owned buffer of `size` bytes when size > 0; then reset().
  explicit Stream(int32_t size = 0);
  virtual ~Stream();
  Stream(Stream const&) = delete;
  Stream& operator=(Stream const&) = delete;

  // Count 0, position 0, state 0; the cursor goes back to the buffer start.
  void reset();
  // True when neither state bit is set.
  bool ok() const { return (state_ & (EofBit | ErrorBit)) == 0; }
  bool operator!() const { return !ok(); }
  explicit operator bool() const { return ok(); }
  // Sets state bits.
  void addState(uint8_t bits) { state_ |= bits; }
  // Clears the end-of-file and error bits.
  void clearError() { state_ &= static_cast<uint8_t>(~(EofBit | ErrorBit)); }
  uint8_t state() const { return state_; }

protected:
  int32_t bsize_;   // buffer size; 0 when the stream owns no buffer
  int32_t count_;   // remaining count (see the invariants above)
  char* cur_;       // next byte to read or write
  char* buf_;       // start of the buffer
  int64_t pos_;     // input: offset past the bytes fetched; output: offset of buf_[0]
  uint8_t state_;   // EofBit, ErrorBit
};

class InputStream : public Stream {
public:
  explicit InputStream(int32_t size = 0) : Stream(size) {}
  ~InputStream() override;

  // Refills the buffer and returns its first byte (as unsigned char, the
  // count already lowered for it), or returns 0 and sets a state bit when
  // nothing more comes. The base version returns 0.
  virtual int fill();

  // The next byte (0 at end of input or after an error).
  char getc() {
    if (--count_ < 0) return static_cast<char>(fill());
    return *cur_++;
  }

  InputStream& operator>>(char& c) { c = getc(); return *this; }
  InputStream& operator>>(unsigned char& c) { c = static_cast<unsigned char>(getc()); return *this; }
  // Binary form: 4 bytes, most significant first (load of Portable.h).
  InputStream& operator>>(int32_t& v);
  // get(s, '\n').
  InputStream& operator>>(String& s);

  // Reads a line (or, with delim NUL, a word of letters and digits) into s,
  // dropping carriage returns; stops without keeping the delimiter at the
  // delimiter, the end of input or an error. Lines of any length are whole.
  InputStream& get(String& s, char delim);

  // Steps back one byte so that c is read next. At the buffer start, or when
  // the buffer is not the stream's own and holds a different byte there, only
  // the error bit is set.
  void unget(char c);

  bool eof() const { return (state_ & EofBit) != 0; }
  bool withError() const { return (state_ & ErrorBit) != 0; }

protected:
  // Ends a refill that read n bytes into buf_ (0 at the end of input, below
  // 0 on an error): sets the state and count and returns the first byte as
  // fill() does.
  int filled(int64_t n);
};

class OutputStream;
typedef OutputStream& (*OsManip)(OutputStream&);

class OutputStream : public Stream {
public:
  explicit OutputStream(int32_t size = 0) : Stream(size) {}
  ~OutputStream() override;

  // Writes the buffered bytes out and makes room; the base does nothing.
  virtual void flush();
  // End of a message; the base calls flush().
  virtual void endMsg();
  // Closes a message shown while waiting; the base calls flush().
  virtual void closeMsg();
  // Asks the user to hit a key; the base flushes and returns 0.
  virtual int pause();
  // Offers two answers; the base flushes and returns 0.
  virtual int pause(String const& a, String const& b);

  // One byte.
  void put(char c) {
    if (--count_ < 0) {
      flush();
      if (count_ < 0) {  // no room could be made: drop the byte
        count_ = 0;
        return;
      }
    }
    *cur_++ = c;
  }
  // n bytes from p.
  void write(char const* p, int64_t n) {
    for (int64_t i = 0; i < n; ++i) put(p[i]);
  }

  OutputStream& operator<<(char c) { put(c); return *this; }
  OutputStream& operator<<(unsigned char c) { put(static_cast<char>(c)); return *this; }
  // Bytes up to the NUL; a null pointer writes nothing, the highest-value
  // pointer (1) writes "(high value)".
  OutputStream& operator<<(char const* s);
  // The characters; highest writes "(high value)", null nothing.
  OutputStream& operator<<(String const& s);
  // Signed decimal text.
  OutputStream& operator<<(long v);
  OutputStream& operator<<(long long v) { return *this << static_cast<long>(v); }
  OutputStream& operator<<(int v) { return *this << static_cast<long>(v); }
  OutputStream& operator<<(short v) { return *this << static_cast<long>(v); }
  // Unsigned decimal text.
  OutputStream& operator<<(unsigned long v);
  OutputStream& operator<<(unsigned long long v) { return *this << static_cast<unsigned long>(v); }
  OutputStream& operator<<(unsigned int v) { return *this << static_cast<unsigned long>(v); }
  OutputStream& operator<<(unsigned short v) { return *this << static_cast<unsigned long>(v); }
  // Hexadecimal text, width 10.
  OutputStream& operator<<(void const* p);
  // "true" or "false".
  OutputStream& operator<<(bool b);
  // The date's text with format flag 4.
  OutputStream& operator<<(Date const& d);
  // The time's text with flags 6 (seconds, ':' separators).
  OutputStream& operator<<(Time const& t);
  // Calls the manipulator with the stream.
  OutputStream& operator<<(OsManip m) { return m(*this); }
};

// Manipulators.
OutputStream& flush(OutputStream& os);
OutputStream& endl(OutputStream& os);   // "\n" then flush
OutputStream& endMsg(OutputStream& os);

// One byte through the stream's byte operators; the load forms also return it.
char load(InputStream& is, char& c);
unsigned char load(InputStream& is, unsigned char& c);
void store(OutputStream& os, char c);
void store(OutputStream& os, unsigned char c);

// Reads a text in memory, a String, or a list of texts. Owns no buffer: the
// buffer points into the text.
class InputString : public InputStream {
public:
  // The text up to its NUL (a null pointer reads as empty).
  explicit InputString(char const* text);
  // A copy of s (highest is taken as null).
  explicit InputString(String const& s);
  // list[0] (empty when null) and then each further entry up to a null one,
  // a newline before each following entry and one after the last.
  explicit InputString(char const* const* list);
  ~InputString() override;
  int fill() override;

private:
  String* str_;              // the String kept alive; null unless built from one
  char const* const* list_;  // null unless built from a list
  int32_t index_;            // next entry of the list; 0 when the list is done
};

// Buffered reading of an open descriptor it does not close.
class InputFdFile : public InputStream {
public:
  explicit InputFdFile(int fd, int32_t size = 1024);
  ~InputFdFile() override;
  int fill() override;
  int fd() const { return fd_; }

private:
  int fd_;
};

// Buffered writing to an open descriptor it does not close. Every flush
// writes all buffered bytes, resuming after partial writes and interrupted
// calls; a real failure sets the error bit.
class OutputFdFile : public OutputStream {
public:
  explicit OutputFdFile(int fd, int32_t size = 1024);
  ~OutputFdFile() override;
  void flush() override;
  // endl.
  void endMsg() override;
  // Writes the library message "HITANY", ends the line and returns one byte
  // read from the terminal.
  int pause() override;
  // Writes a, a blank, b and a newline, reads bytes until one equals the first
  // character of a or of b; 0 for a, 1 for b.
  int pause(String const& a, String const& b) override;
  int fd() const { return fd_; }

private:
  int fd_;
};

// Buffered reading of an OsFile at 64-bit offsets.
class InputFile : public InputStream {
public:
  // No file yet.
  explicit InputFile(int32_t size = 1024);
  // Reads a file it does not own.
  InputFile(OsFile& f, int32_t size = 1024);
  // Creates and owns an OsFile and calls open(name, ext).
  InputFile(String const& name, String const& ext, int32_t size = 1024);
  // Searches the ':'-separated directory list (null: $PATH; an empty element
  // is "./") for name.ext and reads the first that opens.
  InputFile(char const* dirList, String const& name, String const& ext, int32_t size = 1024);
  ~InputFile() override;
  int fill() override;

  // Opens name.ext for reading (no directory); on success the stream is reset
  // and true returned; on failure the state is the error bit alone.
  bool open(String const& name, String const& ext);
  // The offset of the next byte.
  int64_t tell() const { return pos_ - count_; }
  // Moves to offset (within the buffered block without reading); returns the
  // offset reached.
  int64_t seek(int64_t offset);
  // The file's modification time.
  Time mtime();
  OsFile* file() const { return file_; }

private:
  OsFile* file_;
  bool owned_;
};

// Buffered writing to an OsFile at 64-bit offsets.
class OutputFile : public OutputStream {
public:
  explicit OutputFile(int32_t size = 1024);
  // Writes a file it does not own.
  OutputFile(OsFile& f, int32_t size = 1024);
  // Creates and owns an OsFile and calls open(name, ext, append).
  OutputFile(String const& name, String const& ext, bool append = false, int32_t size = 1024);
  ~OutputFile() override;
  void flush() override;

  // Flushes what the stream holds for its present file, then opens name.ext
  // for writing (create; append or truncate). The stream starts over at
  // offset 0 with a clear state. On failure the state is the error bit alone
  // and the result false.
  bool open(String const& name, String const& ext, bool append = false);
  // Position plus the bytes in the buffer.
  int64_t tell() const { return pos_ + (cur_ - buf_); }
  // flush(), then writing continues at offset; returns it.
  int64_t seek(int64_t offset);
  // The file's sync(); 0 without a file.
  int sync();
  // dup2 of the file's descriptor onto fd; -1 without a file or descriptor or
  // when dup2 fails, else 0.
  int capture(int fd);
  OsFile* file() const { return file_; }

private:
  OsFile* file_;
  bool owned_;
};

// The message stream: what stdMsg_address points to, or stdErr while it is
// null. Programs may point it at a stream of their own.
extern OutputStream* stdMsg_address;
OutputStream& stdMsg();
