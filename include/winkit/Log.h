// The undo log: one process-wide stack of records in a byte stream, held in
// a 4096-byte window in memory and spilled to a private temporary file when
// it outgrows the window.
//
// Stream form (numbers are 4-byte native integers, texts end with a NUL):
//   item:   row | col | length | text bytes | NUL          (text length + 13)
//   record: item ... item | size of the items in bytes (4)
// The last record's size word is the last 4 bytes before currOffset.
//
// Window states: clean (modBuffer false: the window equals the file's bytes
// at fileOffset, or nothing was ever spilled) / dirty (modBuffer true). A
// write makes it dirty; flush, goTo to a place outside the window and purge
// write a dirty window at fileOffset first (creating the file on first
// need). The file is created exclusively and unlinked at once, so it never
// outlives the process whether or not cleanUp is called.
#pragma once
#include <winkit/List.h>
#include <zfound/String.h>

#include <cstdint>

// One item of a record: a position, a length and a text.
class LogItem {
public:
  LogItem() : row(-1), col(-1), length(-1) {}
  LogItem(int32_t r, int32_t c, int32_t l, String const& s) : row(r), col(c), length(l), string(s) {}
  // None of the three numbers is -1.
  bool isValid() const { return row != -1 && col != -1 && length != -1; }
  // Bytes of the item in the stream.
  int32_t storeSize() const { return static_cast<int32_t>(string.length()) + 13; }
  int32_t row;
  int32_t col;
  int32_t length;
  String string;
};

class Log {
public:
  static constexpr int32_t kWindow = 4096;

  // start is the current end of the stream; nothing is written.
  Log();
  Log& operator=(Log const& o) = default;

  // Starts a record at the end of the stream.
  void openOutput();
  // Writes an item / every line of the list as an item at row, col, length 0.
  void put(LogItem const& item);
  void put(StringList& lines);
  // Ends the record with its size word.
  void closeOutput();
  // Opens the last record for reading.
  void openInput();
  // The next item; an invalid item when the record has no more.
  LogItem get();
  // Appends the texts of the remaining items.
  void get(StringList& lines);
  // Drops the last record (read or not): the stream ends where it began.
  void closeInput();

  // Raw stream operations at currOffset (4 bytes / the text and its NUL).
  static void write(int32_t const& v);
  static void write(String const& s);
  static void read(int32_t& v);
  static void read(String& s);
  // Moves currOffset to pos, moving the window when pos lies outside it.
  static void goTo(int32_t pos);
  // Writes the window at fileOffset and moves the window on by 4096.
  static void flush();
  // Moves the window on by 4096 and reads it from the file.
  static void advance();
  // Drops the first n bytes of the stream (the oldest records).
  static void purge(int32_t n);
  // Closes the temporary file (its name is already gone).
  static void cleanUp();

  static int32_t currOffset() { return currOffset_; }
  static int32_t fileOffset() { return fileOffset_; }
  // True once the stream has been spilled to its file.
  static bool spilled() { return fd_ >= 0; }
  int32_t start() const { return start_; }
  int32_t size() const { return size_; }
  int32_t remaining() const { return remaining_; }

private:
  static bool openFile(char const* who);
  static bool writeWindow();
  static void readWindow();
  static void putByte(char c);
  static char getByte();

  static char buffer_[kWindow];
  static int32_t fileOffset_;
  static int32_t currOffset_;
  static bool modBuffer_;
  static int fd_;

  int32_t start_;
  int32_t size_;
  int32_t remaining_;
  int32_t recordStart_;  // first byte of the record opened for input
};
