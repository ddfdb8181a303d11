// Operating-system services: the system's few direct uses of the operating
// system in one place: signal installation, byte order, user and group
// look-ups, local time, file status and removal, a raw terminal mode for
// single-key answers, and temporary names.
//
// Invariants: signal handlers are installed with sigaction without
// SA_RESTART, so a signal interrupts a blocking call; user and group ids are
// kept whole (32-bit ids, -1 for "none"); the local zone offset is taken for
// each moment asked, so it follows daylight-saving changes; a temporary name
// is returned only for a file this process has just created exclusively.
// Texts returned by the look-ups live in a static buffer of each function,
// valid until its next call. Nothing here replaces a C library symbol.
#pragma once

#include <zfound/DateSettings.h>
#include <zfound/ProcessHooks.h>
#include <zfound/String.h>

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// --- signals and machine -------------------------------------------------------
typedef void (*SigHandler)(int);
// Installs `handler` for `sig` (sigaction, no SA_RESTART); returns the
// previous handler, or SIG_ERR when the signal cannot be handled.
SigHandler Signal(int sig, SigHandler handler);
// True when the machine stores the most significant byte first.
bool isBigEndian();

// --- users and groups (the system account database) -----------------------------
// The user's id, or -1.
int64_t userId(String const& name);
// The user's group id, or -1.
int64_t userGid(int64_t uid);
// The user name; the id in decimal when there is no such user.
char const* userName(int64_t uid);
// The home directory; the id in decimal when there is no such user.
char const* userHomeDir(int64_t uid);
// The comment (full name) field; the id in decimal when there is no such user.
char const* fullUserName(int64_t uid);
// The group's id, or -1.
int64_t groupId(String const& name);
// The group name; the id in decimal when there is no such group.
char const* groupName(int64_t gid);

// --- local time ------------------------------------------------------------------
// _osTimeZoneAdj(t) and _osTime(): DateSettings.h (included above).

// --- files -----------------------------------------------------------------------
// stat of path into buf (a static buffer when buf is null); -1 for a null or
// highest path or when stat fails, else 0.
int statFile(String const& path, struct stat* buf = nullptr);
// Removes path: rmdir for a directory, else unlink; -1 when it cannot be
// examined, else the call's result.
int unlinkFile(String const& path);

// --- terminal (standard input) ---------------------------------------------------------
// Raw single-key mode: no canonical input, no echo, signals kept, one byte
// at a time, CR not turned into NL, output post-processing toggled, the
// suspend character disabled. Saves the previous attributes. Returns the
// result of tcsetattr (-1 when standard input is not a terminal).
int setTerminal();
// Puts back the attributes saved by setTerminal; marks the terminal not set.
int resetTerminal();
// True between setTerminal and resetTerminal.
bool terminalIsSet();
// getChar(), one byte from standard input: ProcessHooks.h (included above).

// --- temporary names -------------------------------------------------------------------
// Size of the buffer zfTmpnam fills.
inline constexpr size_t kTmpNameSize = 64;
// A new name dir/prefixN ("/tmp" when dir is null; N a process-wide counter
// started at the time plus the process id): the file is created empty and
// exclusively (O_CREAT|O_EXCL, mode 0666 less the umask), trying the next N
// on a clash. Returns a malloc'ed copy the caller frees, or null when no
// file could be created.
char* zfTempnam(char const* dir, char const* prefix);
// zfTempnam("/tmp", ""): copied into buffer (kTmpNameSize bytes) when it is
// given, else the allocated name. Null on failure.
char* zfTmpnam(char* buffer);
// A new temporary file opened "w+b" whose name is removed at once, so the
// file disappears when closed. Null on failure.
FILE* zfTmpfile();
