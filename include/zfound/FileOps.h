// The durable-I/O seam: every system call that opens, reads, writes, syncs,
// truncates, renames, removes or closes a stored file goes through the one
// operations table here (PhysFile and so OsFile and the file streams, the
// configuration file store, the message-file editor, the server's state
// file), and so does the sync of a directory after a rename in it. Production uses the
// plain system calls; a test installs its own table to fail the Nth write or
// sync, count syncs, or drop what was never synced (the test support's FaultFs).
//
// Each entry has the contract of the system call it is named after,
// including errno on failure. The table in force is reached through one
// pointer, so the seam costs one indirect call per system call.
#pragma once

#include <sys/types.h>

#include <functional>

struct FileOps {
  int (*open)(char const* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*pread)(int fd, void* buffer, size_t length, off_t offset);
  ssize_t (*pwrite)(int fd, void const* buffer, size_t length, off_t offset);
  ssize_t (*write)(int fd, void const* buffer, size_t length);
  int (*fsync)(int fd);
  int (*ftruncate)(int fd, off_t length);
  int (*rename)(char const* from, char const* to);
  int (*unlink)(char const* path);
};

// The plain system calls.
FileOps const& systemFileOps();

namespace zf_detail {
extern FileOps const* fileOps;
}

// The table in force.
inline FileOps const& fileOps() { return *zf_detail::fileOps; }

// Installs `ops` and returns the table it replaces; nullptr puts the system
// calls back. `ops` must stay alive while installed. Not thread-safe: tests
// swap it while no other thread does I/O.
FileOps const* setFileOps(FileOps const* ops);

// Writes all `length` bytes to `fd` through the seam, repeating partial and
// interrupted writes; false with errno set when a write fails.
bool writeAll(int fd, void const* buffer, size_t length);

// Replaces the file at `path` by `length` bytes so that a crash leaves the
// old file or the new one, never a mix: the bytes go into a file created
// exclusively beside it (with the old file's permission bits when there is
// one), are synced, pass `check` when given (called with the new file's
// name), are renamed over `path`, and the directory is synced. Answers 0,
// kReplaceCheckFailed when `check` refused, or the errno of the failed step;
// on failure the old file is untouched and nothing new is left.
inline constexpr int kReplaceCheckFailed = -1;
int replaceFile(char const* path, void const* bytes, size_t length,
                std::function<bool(char const* newFile)> const& check = {});

// Syncs the directory `dir` through the seam (open read-only, fsync, close),
// so that a file created, renamed or removed in it stays so after a crash;
// false with errno set when it cannot be opened or synced.
bool syncDirectory(char const* dir);
