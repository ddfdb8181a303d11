// StateFile: the server's small persistent record of its last checkpoint.
//
// File format (longs 4 bytes big-endian, TimeStamp in its 8-byte form):
//
//   offset size field
//   0      4    magic 0xCABE9010
//   4      4    checkpoint parity (0 or 1)
//   8      8    stamp of the last checkpoint
//   16     4    restart marker (-1: restart after a failure)
//   20     4    journal position where recovery starts
//   24     32   journal file name, NUL-terminated, at most 31 characters
//   56     32   second name, NUL-terminated, at most 31 characters
//   88     4    cache page size in KB
//   92     4    number of version stamps n (0..122)
//   96     976  122 slots of 8 bytes: the first n hold version stamps
//
// The header is 92 bytes, the stamps area 980, the whole 1072.
//
// State machine: Unread --readHeader--> Read (fields loaded) --writeHeader /
// writeStamps--> Written. Every write replaces the whole file atomically: a
// new file beside it is written, synced, renamed over it, and the directory
// synced, so a crash leaves the old or the new state whole. The part not
// being written (stamps for writeHeader, header for writeStamps) is carried
// over from the file as it stands; when that cannot be read, nothing is
// replaced.
//
// Invariants: the stamp count read is 0..122 (else "CORRUPTSTFILE"); names
// are stored cut to 31 characters. The file is created 0600 and never
// opened through a symbolic link: a state file that is a link or not a
// regular file stops the server ("STFILELINK", fatal, naming it).
#pragma once

#include <zfound/OsFile.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>

class StateFile {
public:
  static constexpr uint32_t kMagic = 0xCABE9010u;
  static constexpr int32_t headerStoreLength = 92;
  static constexpr int32_t stampsStoreLength = 980;
  static constexpr int32_t storeLength = 1072;
  static constexpr int32_t kNStamps = 122;
  static constexpr int32_t kNameLength = 32;
  // Mode of a state file the server creates.
  static constexpr int kFileMode = 0600;

  // False when `name` is a symbolic link or names no regular file; a
  // missing file is created, 0600, without following a link.
  static bool acceptablePath(String const& name);
  // Opens the file (created 0600 when missing, as acceptablePath does);
  // every field at its start value. A link or a name that is no regular
  // file: "STFILELINK" (fatal).
  explicit StateFile(String const& name);
  ~StateFile();
  StateFile(StateFile const&) = delete;
  StateFile& operator=(StateFile const&) = delete;

  // False for an empty file; "CORRUPTSTFILE" (fatal) for a short header or
  // a wrong magic; else loads the header fields.
  bool readHeader();
  // Replaces the header with the fields; false when it cannot be written.
  bool writeHeader();
  // False for an empty or header-only file; "CORRUPTSTFILE" (fatal) for a
  // short stamps area or a count above 122; else loads count and stamps.
  bool readStamps();
  // Replaces the stamps area with count and stamps; false on failure.
  bool writeStamps();
  // Entry v of the stamp table (0 <= v < 122).
  TimeStamp& versionStamp(int32_t v);

  OsFile& name() { return file_; }
  String const& path() const { return path_; }

  int32_t parity = -1;
  TimeStamp lastChkPoint;
  int32_t restartMarker = -1;
  int32_t journalPos = -1;
  String journalFile;
  String secondName;
  int32_t cachePageSize = -1;  // KB
  int32_t nStamps = -1;

private:
  // The 92 header bytes from the fields.
  void buildHeader(char* buf) const;
  // The 980 stamps bytes from count and table.
  void buildStamps(char* buf);
  // Replaces the file's content with len bytes, atomically.
  bool replace(char const* buf, int32_t len);
  // Reads the current file content (up to storeLength bytes); -1 on error.
  int32_t readAll(char* buf);
  void corrupt();
  // The state file is a link or not a regular file: fatal report.
  void notRegular();
  // A read of the file as it stands failed: nothing is replaced; false.
  bool cantCarryOver();

  String path_;
  OsFile file_;
  TimeStamp* stamps_ = nullptr;
};
