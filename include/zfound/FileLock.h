// Descriptor-level record locks (advisory, exclusive, per process) and the
// alarm flag of the waiting lock.
//
// An offset of -1 means "from the descriptor's current position"; any other
// offset counts from the start of the file. A length of 0 means to the end of
// the file and beyond.
#pragma once

#include <cstdint>

// With neither flag: 0, nothing done. noWait alone: a test, 0 when the range
// is free, else -1 with errno EACCES. Otherwise an exclusive lock, taken at
// once (noWait) or waiting; 0 on success, -1 on failure (errno set).
int lockFile(int fd, bool lock, bool noWait, int64_t offset, int64_t length);
// Releases the range; the fcntl result.
int freeFile(int fd, int64_t offset, int64_t length);
// The process id reported for a conflicting lock on the range (0 when the
// range is free); -1 when the call fails.
int fdLockOwner(int fd, int64_t offset, int64_t length);

// Set by set_alarm, the SIGALRM handler the waiting lock installs.
extern volatile int had_alarm;
extern "C" void set_alarm(int);
