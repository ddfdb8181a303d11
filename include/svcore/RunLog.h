// RunLog: the record of a server run, to replay it exactly.
//
// File form (every long 4 bytes, most significant byte first; a time stamp
// is its 8-byte stored form):
//   offset 0  magic  0x7E3AC1C0 written on a little-endian machine,
//                    0xBE3AC1C0 on a big-endian one
//   offset 4  the number of messages (rewritten after every message)
//   offset 8  items, back to back:
//     message       0xF3A29E72, length L, ~L, time stamp, L bytes (the
//                   request as received: headers and bodies in the
//                   recording machine's order)
//     housekeeping  0xF3A29E70, time stamp, ids of the clients found dead
//                   (one long each), 0xF3A29E71
//     value         one long, read back at the same point of the run
//
// Modes: Off (no file), Replaying (until the recorded messages are used up,
// then Off), Recording (the whole run). A log that breaks this form is
// refused with RunLogError "INVRUNLOG" (never an assertion, never an
// allocation beyond the request bound); the log is never opened through a
// symbolic link.
#pragma once

#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>

// A refused run log: the catalogue key ("CANTRDRUNLOG", "INVRUNLOG",
// "CANTINVERT") and the file name.
struct RunLogError {
  char const* key;
  String file;
};

// What the log asks of the server. Null hooks do nothing.
struct RunLogHooks {
  // The server's current time stamp (read when recording, set on replay).
  TimeStamp* stamp = nullptr;
  // A housekeeping pass at the recorded point (it calls readHouseKeeping).
  void (*houseKeeping)() = nullptr;
  // Removes the client of that id found dead in a recorded pass.
  void (*clientDead)(int32_t id) = nullptr;
  // Reports a warning text.
  void (*warning)(char const* text) = nullptr;
};

class RunLog {
public:
  enum Mode : int32_t { Off = 0, Replaying = 1, Recording = 2 };
  static constexpr uint32_t kMagicLittle = 0x7E3AC1C0u;
  static constexpr uint32_t kMagicBig = 0xBE3AC1C0u;
  static constexpr uint32_t kMsg = 0xF3A29E72u;
  static constexpr uint32_t kHkStart = 0xF3A29E70u;
  static constexpr uint32_t kHkEnd = 0xF3A29E71u;
  // The largest message item accepted on replay, in bytes.
  static constexpr int32_t kMaxMsgBytes = 1024 * 1024;
  // Mode of a recorded log: it holds every request of every client.
  static constexpr int kFileMode = 0600;

  using Hooks = RunLogHooks;

  // read: replay `name` (RunLogError "CANTRDRUNLOG" when it cannot be
  // opened, "INVRUNLOG" for a wrong magic or count, "CANTINVERT" for a log
  // of the other byte order). Otherwise write != -1: record into `name`
  // (created 0600 or truncated; a warning "CANTWRRUNLOG" and mode Off when
  // it cannot be, or when `name` is a symbolic link, not a regular file,
  // not the server user's own or has another name: such a file is left
  // untouched). Otherwise Off.
  RunLog(String const& name, bool read, int32_t write, Hooks const& hooks = Hooks());
  ~RunLog();
  RunLog(RunLog const&) = delete;
  RunLog& operator=(RunLog const&) = delete;

  Mode mode() const { return mode_; }
  bool replaying() const { return mode_ == Replaying; }
  bool recording() const { return mode_ == Recording; }
  // Messages in the log (-1 when none) and read or written so far.
  int32_t total() const { return total_; }
  int32_t done() const { return done_; }
  String const& name() const { return name_; }

  // ---- recording ----
  // Appends a message item with the current stamp and rewrites the count.
  void writeMsg(void const* buf, int32_t len);
  void beginHouseKeeping();
  void endHouseKeeping();
  void writeInt(int32_t v);
  void writeTimeStamp(TimeStamp const& ts);
  void storeNMsg();

  // ---- replaying ----
  // The length of the next message (recorded housekeeping passes before it
  // are run first); -1 when the log is used up (mode Off then).
  int32_t readMsgSize();
  // Reads the message item of `len` bytes into buf and sets the stamp.
  void readMsg(void* buf, int32_t len);
  // Replays one recorded housekeeping pass.
  void readHouseKeeping();
  int32_t readInt();
  TimeStamp readTimeStamp();

  // Refuses the log as damaged: throws RunLogError "INVRUNLOG".
  [[noreturn]] void invalid() const;

private:
  void writeRaw(void const* p, int32_t n);
  void readRaw(void* p, int32_t n);
  void writeLong(uint32_t v);
  uint32_t readLong();
  void progress();
  void close();

  Hooks hooks_;
  String name_;
  Mode mode_ = Off;
  int fd_ = -1;
  int64_t pos_ = 0;
  int64_t size_ = 0;
  int32_t total_ = -1;
  int32_t done_ = 0;
  int32_t countdown_ = -1;
};
