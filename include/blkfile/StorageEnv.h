// StorageEnv: the server-wide state that the storage engine reads and the
// calls it makes into the server, gathered in one class that storage owns.
//
// The server core's `Server` derives from this class, so every name here is
// also reachable as `Server::currCP`, `Server::cachePageSize()` and so on;
// storage itself never includes a server-core header. The statics are
// defined in one translation unit; `reset()` puts them back to their start
// values for tests. The calls whose answer depends on server-core state
// (`versNum`, `deferUnlink`, the assertion report) go through a small table
// of hooks that the server core installs; without it they answer as a server
// that keeps no versions and defers nothing would.
//
// Invariants:
//  - cachePageSize_sd is a whole number of kilobytes (1..16 KB) in bytes;
//  - currCP is 0, 1, or -1 while the parity is unknown;
//  - currVersion is -1 (no version known) or the number of data versions
//    taken, 0..122: the state file keeps 122 version stamps, so version
//    numbers in use are 0..121 and a 123rd version is refused.
#pragma once

#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>

class Exception;
class PhysLayout;

namespace svstore {

// The server-core side of the calls that storage makes; each member may be
// null, and a null member gives the default answer.
struct StorageHooks {
  // Version number of a stamp (-1 when versions are not kept).
  int32_t (*versNum)(TimeStamp const& ts) = nullptr;
  // Records a file for removal at the next checkpoint.
  void (*deferUnlink)(String const& path, String const& schema, String const& file) = nullptr;
  // The assertion report; with fatal set it must not return.
  void (*assertReport)(char const* expr, char const* file, int line, bool fatal) = nullptr;
};

class StorageEnv {
public:
  // Page size in bytes: header copy k lies at k x page size; the cache's
  // buffer size and sizing unit.
  static int32_t cachePageSize_sd;
  // Current checkpoint parity (0 or 1); -1 while unknown.
  static int32_t currCP;
  // Stamp of the last completed checkpoint.
  static TimeStamp lastChkPoint;
  // Number of the version in progress, -1 when versions are not kept.
  static int32_t currVersion;
  // Stamp of the operation in progress.
  static TimeStamp timeStamp;
  // Disk layout through which every blocked file is opened.
  static PhysLayout* physLayout_sd;
  // Requests served so far (quoted by consistency reports).
  static int64_t nMeth;
  // Last temporary object id handed out.
  static uint32_t lastTempId;
  // Profiling on: index reads and writes are counted.
  static bool profiling_sd;
  // The journal is being replayed at start.
  static bool restarting;

  static int32_t cachePageSize() { return cachePageSize_sd; }
  static int32_t currChkPoint() { return currCP; }

  // Version of a stamp: -1 without versions, else 1 + the newest retained
  // version whose stamp is earlier, or 0 (the server core answers).
  static int32_t versNum(TimeStamp const& ts);
  // Hands a file to the server's deferred-removal list.
  static void deferUnlink(String const& path, String const& schema, String const& file);
  // Records e as the current exception unless one is already recorded.
  static void exception(Exception const& e);
  // Starts a program that drives the engine without the server up as the
  // server ("ombrel"), so that the server's catalogue gives its texts.
  static void startUpAsServer();
  // The server's assertion report (see StorageHooks); fatal ends the process.
  static void _assert(char const* expr, char const* file, int line, bool fatal);
  // The text of an assertion report: "file:line assertion failed (expr).".
  static String assertText(char const* expr, char const* file, int line);
  // Installs the server core's hooks (null members fall back to defaults).
  static void setHooks(StorageHooks const& h);

  // Back to the start values: page size 1 KB, parity -1, null stamps, no
  // version, no layout, zero counters, default hooks.
  static void reset();

private:
  static StorageHooks hooks_;
};

}  // namespace svstore

// A storage precondition checked through the server's assertion report.
#define SV_ASSERT(cond, text) ((cond) ? (void)0 : ::svstore::StorageEnv::_assert(text, __FILE__, __LINE__, true))
// A check reported as a warning; the caller goes on.
#define SV_WARN_ASSERT(cond, text) \
  ((cond) ? (void)0 : ::svstore::StorageEnv::_assert(text, __FILE__, __LINE__, false))
