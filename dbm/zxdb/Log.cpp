// Transactions and the private before-image log of a process, with the
// recovery of the log of a process that was killed.
//
// Log file "<LOGDIR>/l_XXXXXX" (created exclusively; its first byte is
// locked while its process has it open), a sequence of records, numbers
// little-endian:
//   @0     u16 length L of the record
//   @2     u16 operation
//   @4     body, L - 6 bytes
//   @L-2   u16 L again
//   op 1 schema closed   i32 current, i32 closed, dir NUL, name NUL, u16 flags
//   op 2 schema opened   i32 previous, i32 opened, dir NUL, name NUL, u16 flags
//   op 3 transaction begins, op 4 transaction ends (commit): no body
//   op 5 record deleted  i32 table, the record before (record length bytes)
//   op 6 record replaced i32 table, the record before, the record after
//   op 7 record added    i32 table, the new record
//   op 8 current schema  i32 previous, i32 new
//
// Log status: 0 undecided -> 1 logging | 2 no log; 1 -> 3 while undoing ->
// 1; 1 -> 2 at CloseLog. A transaction: begun (mark only) -> active at its
// first change (op 3) -> committed (op 4) or rolled back (the log cut back
// to its op 3).
//
// Invariants: every change reaches the log, written whole, before a data or
// index file changes; op 4 is written only once the files are complete, and
// the headers are released after it. A log whose first byte no process holds
// is dead: the next process that opens a schema it names takes it over
// (locking that byte), rebuilds the marked headers, undoes the unfinished
// tail and removes it. Every length read from a log is checked before use.
#include "Descriptor.h"
#include "Trans.h"

#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Environ.h>
#include <zfound/FileLock.h>
#include <zfound/FileOps.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

zxdb::Trans gTrans;
int logFd = -1;
int lockFd = -1;  // the descriptor the log was created with: it keeps the lock
int logPid = 0;
int64_t logPos = 0;        // end of the last record written
std::string logName;
int syncr = 0;             // 2 "S:" synchronous writes, 1 "s:", 0 none
bool logSchemasNext = true;  // the next transaction logs the open schemas
bool recovering = false;

constexpr int32_t kMaxLen = 0xffff;

// ---- records ------------------------------------------------------------------

struct LogRec {
  int32_t op = 0;
  int64_t at = 0;  // offset of the record
  int32_t len = 0;
  int32_t a = 0, b = 0;  // the longs: table handle in a for ops 5-7
  std::string dir, name;
  int32_t flags = 0;
  char const* image = nullptr;  // before image (5, 6) or new record (7)
  int32_t ilen = 0;
};

// Parses one record of L bytes at `p` (both lengths, a known operation, a
// body that fits it, names ending inside it): false when damaged.
bool parseRecord(uint8_t const* p, int32_t L, LogRec& r) {
  if (L < 6 || ldLe16(p) != uint32_t(L) || ldLe16(p + L - 2) != uint32_t(L)) return false;
  r.op = int32_t(ldLe16(p + 2));
  r.len = L;
  uint8_t const* body = p + 4;
  int32_t blen = L - 6;
  switch (r.op) {
    case 3:
    case 4:
      return blen == 0;
    case 1:
    case 2: {
      if (blen < 12) return false;
      r.a = int32_t(ldLe32(body));
      r.b = int32_t(ldLe32(body + 4));
      auto s = reinterpret_cast<char const*>(body + 8);
      int32_t room = blen - 10;
      auto d = static_cast<char const*>(std::memchr(s, 0, size_t(room)));
      if (!d) return false;
      int32_t used = int32_t(d - s) + 1;
      auto n = static_cast<char const*>(std::memchr(d + 1, 0, size_t(room - used)));
      if (!n || n - s + 1 != room) return false;
      r.dir.assign(s, d);
      r.name.assign(d + 1, n);
      r.flags = int32_t(ldLe16(body + blen - 2));
      return !r.name.empty() && r.name.size() <= 10;
    }
    case 5:
    case 7:
    case 6: {
      if (blen < 8) return false;
      r.a = int32_t(ldLe32(body));
      int32_t images = blen - 4;
      if (r.op == 6 && images % 2) return false;
      r.ilen = r.op == 6 ? images / 2 : images;
      r.image = reinterpret_cast<char const*>(body + 4);
      return true;
    }
    case 8:
      if (blen != 8) return false;
      r.a = int32_t(ldLe32(body));
      r.b = int32_t(ldLe32(body + 4));
      return true;
    default:
      return false;
  }
}

// Writes one record at the end of the log. False (with a warning) when it
// could not be written whole.
bool writeRecord(int32_t op, std::vector<std::pair<void const*, size_t>> const& parts) {
  size_t body = 0;
  for (auto const& p : parts) body += p.second;
  size_t L = body + 6;
  if (L > size_t(kMaxLen)) return false;
  std::vector<uint8_t> rec(L);
  stLe16(uint16_t(L), rec.data());
  stLe16(uint16_t(op), rec.data() + 2);
  size_t at = 4;
  for (auto const& p : parts) {
    if (p.second) std::memcpy(rec.data() + at, p.first, p.second);
    at += p.second;
  }
  stLe16(uint16_t(L), rec.data() + L - 2);
  ssize_t done = 0;
  while (done < ssize_t(L)) {
    ssize_t w = fileOps().pwrite(logFd, rec.data() + done, L - size_t(done), logPos + done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += w;
  }
  if (done != ssize_t(L)) {
    int e = errno;
    Warning("Len = %d, Offset diff = %ld\n Oper = %d", int(L), long(done), int(op));
    Warning(__DbErrmsg("IO_LOG_WRITE"), logName.c_str(), std::strerror(e ? e : ENOSPC));
    // Whatever reached the file past the last whole record is cut off.
    (void)fileOps().ftruncate(logFd, logPos);
    return false;
  }
  logPos += int64_t(L);
  return true;
}

bool writeSchemaRecord(int32_t op, int32_t first, int32_t handle, char const* dir, char const* name, int32_t flags) {
  uint8_t longs[8], fl[2];
  stLe32(uint32_t(first), longs);
  stLe32(uint32_t(handle), longs + 4);
  stLe16(uint16_t(flags), fl);
  return writeRecord(op, {{longs, 8}, {dir, std::strlen(dir) + 1}, {name, std::strlen(name) + 1}, {fl, 2}});
}

bool writeLongs(int32_t op, int32_t a, int32_t b) {
  uint8_t longs[8];
  stLe32(uint32_t(a), longs);
  stLe32(uint32_t(b), longs + 4);
  return writeRecord(op, {{longs, 8}});
}

// The open schemas in slot order.
std::vector<s_schema*> openSchemas() {
  std::vector<s_schema*> out;
  for (int32_t h = FindNextSchema(0); h > 0; h = FindNextSchema(h)) out.push_back(_GetSchPtr(h));
  return out;
}

// The LOGDIR setting: the directory, and the sync mode of its prefix.
bool logDir(std::string& dir, int& mode) {
  ReadEnvHandler old = SetReadEnvHandler(nullptr);
  char const* v = def_ReadEnv("LOGDIR", __FILE__, __LINE__);
  SetReadEnvHandler(old);
  if (!v) return false;
  dir = v;
  mode = 0;
  if (dir.rfind("S:", 0) == 0) mode = 2, dir.erase(0, 2);
  else if (dir.rfind("s:", 0) == 0) mode = 1, dir.erase(0, 2);
  return true;
}

// The process id, asked of the system again only after a fork (every
// record call checks it).
int pidAfterFork = 0;
void forgetPid() { pidAfterFork = 0; }
int selfPid() {
  static bool const hooked = pthread_atfork(nullptr, nullptr, forgetPid) == 0;
  if (!pidAfterFork || !hooked) pidAfterFork = int(getpid());
  return pidAfterFork;
}

// A process forked from the one that opened the log has no log of its own
// yet: it must not write into its parent's.
void forgetInheritedLog() {
  if (logFd >= 0 && logPid != selfPid()) {
    fileOps().close(logFd);
    if (lockFd >= 0) ::close(lockFd);
    logFd = lockFd = -1;
    logName.clear();
    gTrans = zxdb::Trans{};
    logSchemasNext = true;
  }
}

void removeLog(int fd, std::string const& name) {
  ReadEnvHandler old = SetReadEnvHandler(nullptr);
  char const* keep = def_ReadEnv("ROLLFORW", __FILE__, __LINE__);
  SetReadEnvHandler(old);
  if (keep) {
    std::string to = name;
    size_t base = to.rfind('/');
    base = base == std::string::npos ? 0 : base + 1;
    if (to.size() >= base + 2) to.replace(base, 2, "f_");
    (void)fileOps().rename(name.c_str(), to.c_str());
  } else {
    (void)fileOps().unlink(name.c_str());
  }
  fileOps().close(fd);
}

// ---- undoing ----------------------------------------------------------------

// Whether `handle` is the handle of an open schema (nothing reported).
bool schemaOpen(int32_t handle) {
  int32_t s = dbSchemaSlot(handle);
  return s >= 1 && s <= kDbMaxSchemas && (handle & 0xffff) == 0 && FindNextSchema(dbSchemaHandle(s - 1)) == handle;
}

// The table of a handle of this process, null when none (nothing reported).
s_table* liveTable(int32_t handle) {
  int32_t s = dbSchemaSlot(handle), t = dbTableSlot(handle);
  if (t < 1 || t > kDbMaxTables || !schemaOpen(dbSchemaHandle(s))) return nullptr;
  s_schema* sp = _GetSchPtr(dbSchemaHandle(s));
  return sp && sp->tables ? sp->tables[t].tab : nullptr;
}

// Puts one record change back through the ordinary record calls, on the
// table of `handle` in this process. False when it cannot be applied.
bool undoRecord(LogRec const& r, int32_t handle, std::vector<int32_t>& touched) {
  s_table* t = liveTable(handle);
  if (!t) {
    Warning(__DbErrmsg("IO_ROLLBACK_FAILED"), "?");
    return false;
  }
  if (r.ilen != t->d.len) {
    Warning("LOG-FILE:('%s'%x) Different length, tp->d.len=%d, len=%d", t->d.name, unsigned(handle), int(t->d.len),
            int(r.ilen));
    return false;
  }
  handle &= 0xffff00;
  if (std::find(touched.begin(), touched.end(), handle) == touched.end()) touched.push_back(handle);
  char* buf = _GetTabBuff(handle);
  std::memcpy(buf, r.image, size_t(r.ilen));
  stlong(0, buf + r.ilen);
  if (r.op == 7) {
    if (t->nindexes > 0) {
      DelRecord(handle);  // gone already, or never written: nothing to undo
      return true;
    }
    if (zxdb::undoKeylessAdd(t, r.image) >= 0) return true;
    Warning(__DbErrmsg("IO_ROLLBACK_FAILED"), t->d.name);
    return false;
  }
  if (PutRecord(handle) <= 0) {
    Warning(__DbErrmsg("IO_ROLLBACK_FAILED"), t->d.name);
    return false;
  }
  return true;
}

// Walks the log in `fd` back from `end`, undoing record changes (and, with
// `schemas`, schema opens, closes and switches) until an op 3 or 4. `map`
// gives this process's handle for a logged table handle at a record's
// offset (0: none). `stop` becomes where the next transaction starts. 0, or
// -1 when the log is damaged or a change could not be undone.
int32_t walkBack(int fd, int64_t end, bool schemas, std::function<int32_t(int64_t, int32_t)> const& map,
                 int64_t& stop, std::vector<int32_t>& touched) {
  int64_t pos = end;
  int32_t rc = 0;
  std::vector<uint8_t> buf;
  stop = end;
  while (pos > 0) {
    uint8_t lb[2];
    if (pos < 6) {
      Warning("Log file corrupted     1,offset:%d, sizeof(len):%d\n", int(pos), 2);
      return -1;
    }
    if (fileOps().pread(fd, lb, 2, pos - 2) != 2) {
      Warning("Log file corrupted     2");
      return -1;
    }
    int32_t L = int32_t(ldLe16(lb));
    if (L < 6 || L > pos) {
      Warning("Log file corrupted     3");
      return -1;
    }
    int64_t start = pos - L;
    buf.resize(size_t(L));
    LogRec r;
    if (fileOps().pread(fd, buf.data(), size_t(L), start) != L) {
      Warning("Log file corrupted     4");
      return -1;
    }
    if (!parseRecord(buf.data(), L, r)) {
      int32_t op = int32_t(ldLe16(buf.data() + 2));
      if (ldLe16(buf.data()) == uint32_t(L) && (op < 1 || op > 8)) Warning("LOG-FILE: Operador %d DESCONOCIDO", int(op));
      else Warning("Log file corrupted     4");
      return -1;
    }
    r.at = start;
    if (r.op == 3) {
      stop = start;
      return rc;
    }
    if (r.op == 4) {
      stop = pos;  // a commit stays: the next transaction goes after it
      return rc;
    }
    switch (r.op) {
      case 5:
      case 6:
      case 7: {
        int32_t h = map(start, r.a);
        if (!undoRecord(r, h, touched)) rc = -1;
        break;
      }
      case 1:
        if (schemas) {
          std::string path = r.dir + r.name;
          int32_t h = OpenSchema(path.c_str(), r.flags & ~4);
          if (h < 0) rc = -1;
          else if (schemaOpen(r.a)) SwitchToSchema(r.a);
        }
        break;
      case 2:
        if (schemas) {
          if (schemaOpen(r.a)) SwitchToSchema(r.a);
          if (schemaOpen(r.b)) CloseSchema(r.b);
        }
        break;
      case 8:
        if (schemas && schemaOpen(r.a)) SwitchToSchema(r.a);
        break;
      default:
        Warning("LOG-FILE: Operador %d DESCONOCIDO", int(r.op));
        return -1;
    }
    pos = start;
  }
  stop = 0;
  return rc;
}

void flushTouched(std::vector<int32_t> const& touched) {
  for (int32_t h : touched)
    if (liveTable(h)) FreeTable(h);
}

// ---- recovery -----------------------------------------------------------------

struct SchemaId {
  std::string dir, name;
  bool operator<(SchemaId const& o) const { return dir != o.dir ? dir < o.dir : name < o.name; }
};

// Reads a dead log forward: its whole records, and for each record change
// of the unfinished tail the schema its table lives in. The end of the last
// whole record goes to `end`.
struct DeadLog {
  std::vector<uint8_t> bytes;
  int64_t end = 0;
  int64_t tailStart = 0;  // just after the last op 3 / op 4
  std::map<int64_t, SchemaId> schemaAt;  // record offset -> schema of its table
  std::set<SchemaId> named;              // every schema the log names
  std::set<SchemaId> tail;               // schemas the tail changes
};

bool readDead(int fd, DeadLog& d) {
  struct stat st{};
  if (fstat(fd, &st) != 0 || st.st_size < 0 || st.st_size > (int64_t(1) << 31)) return false;
  d.bytes.resize(size_t(st.st_size));
  if (st.st_size && fileOps().pread(fd, d.bytes.data(), d.bytes.size(), 0) != st.st_size) return false;
  std::map<int32_t, SchemaId> slots;
  std::vector<std::pair<int64_t, SchemaId>> changes;
  int64_t pos = 0, size = int64_t(d.bytes.size());
  while (pos + 6 <= size) {
    int32_t L = int32_t(ldLe16(&d.bytes[size_t(pos)]));
    LogRec r;
    if (L < 6 || pos + L > size || !parseRecord(&d.bytes[size_t(pos)], L, r)) break;  // a torn last record
    if (r.op == 1) {
      slots.erase(dbSchemaSlot(r.b));
      d.named.insert({r.dir, r.name});
    } else if (r.op == 2) {
      slots[dbSchemaSlot(r.b)] = {r.dir, r.name};
      d.named.insert({r.dir, r.name});
    } else if (r.op == 3 || r.op == 4) {
      d.tailStart = pos + L;
      changes.clear();
    } else if (r.op >= 5 && r.op <= 7) {
      auto it = slots.find(dbSchemaSlot(r.a));
      if (it != slots.end()) changes.push_back({pos, it->second});
    }
    pos += L;
  }
  d.end = pos;
  for (auto const& c : changes) {
    d.schemaAt[c.first] = c.second;
    d.tail.insert(c.second);
  }
  return true;
}

bool sameSchema(s_schema const* sp, SchemaId const& id) {
  return std::strncmp(sp->d.name, id.name.c_str(), 10) == 0 && id.dir == sp->dir;
}

s_schema* openByName(SchemaId const& id) {
  for (s_schema* sp : openSchemas())
    if (sameSchema(sp, id)) return sp;
  return nullptr;
}

// Takes over the dead log `fd` (its first byte locked by this process) and
// undoes it. False when a schema it needs cannot be opened: the log stays.
bool recoverLog(int fd, std::string const& name, DeadLog& d) {
  int32_t current = CurrentSchema();
  std::vector<int32_t> openedHere;
  bool ok = true;
  for (SchemaId const& id : d.named) {
    if (openByName(id)) continue;
    std::string path = id.dir + id.name;
    if (id.dir.empty() || !d.tail.count(id)) continue;
    int32_t h = OpenSchema(path.c_str(), 0);
    if (h < 0) {
      ok = false;
      break;
    }
    openedHere.push_back(h);
  }
  if (ok) {
    // Marks first: the tail is then undone on whole files.
    for (SchemaId const& id : d.named)
      if (s_schema* sp = openByName(id))
        for (int32_t s = 1; s <= kDbMaxTables; ++s)
          if (sp->tables[s].tab && !sp->tables[s].alias) zxdb::rebuildMarked(sp->tables[s].tab);
    int32_t saved = gTrans.logStatus;
    gTrans.logStatus = 3;
    std::vector<int32_t> touched;
    int64_t stop = 0;
    auto map = [&](int64_t at, int32_t h) -> int32_t {
      auto it = d.schemaAt.find(at);
      if (it == d.schemaAt.end()) return 0;
      s_schema* sp = openByName(it->second);
      return sp ? (sp->handle | (h & 0xff00)) : 0;
    };
    if (d.end > d.tailStart) walkBack(fd, d.end, false, map, stop, touched);
    flushTouched(touched);
    gTrans.logStatus = saved;
    Warning(__DbErrmsg("IO_LOG_RECOVERED"), name.c_str());
    removeLog(fd, name);
  }
  for (int32_t h : openedHere) CloseSchema(h);
  if (schemaOpen(current)) SwitchToSchema(current);
  return ok;
}

// Whether `name` still names the file open on `fd`: a recoverer that took
// a log over removes (or renames) it before it lets the lock go, so a log
// opened before that and locked after it is not undone a second time.
bool stillNamed(int fd, std::string const& name) {
  struct stat a{}, b{};
  return fstat(fd, &a) == 0 && stat(name.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Recovers the dead logs of LOGDIR that name a schema `want` accepts.
void recoverWhere(std::function<bool(DeadLog const&)> const& want) {
  std::string dir;
  int mode;
  if (recovering || !logDir(dir, mode)) return;
  recovering = true;
  if (DIR* dp = opendir(dir.c_str())) {
    std::vector<std::string> names;
    while (dirent* e = readdir(dp))
      if (std::strncmp(e->d_name, "l_", 2) == 0) names.push_back(dir + "/" + e->d_name);
    closedir(dp);
    for (std::string const& name : names) {
      if (name == logName && logFd >= 0) continue;
      int fd = fileOps().open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
      if (fd < 0) continue;
      if (lockFile(fd, true, true, 0, 1) != 0 || !stillNamed(fd, name)) {  // alive, or recovered already
        fileOps().close(fd);
        continue;
      }
      DeadLog d;
      bool read = readDead(fd, d);
      if (read && d.named.empty() && d.end == int64_t(d.bytes.size()))
        removeLog(fd, name);  // killed before it logged anything: nothing to undo
      else if (!read || !want(d) || !recoverLog(fd, name, d))
        fileOps().close(fd);
    }
  }
  recovering = false;
}

}  // namespace

namespace zxdb {

Trans& trans() {
  forgetInheritedLog();
  return gTrans;
}

bool undoing() { return gTrans.logStatus == 3; }

void beginChange() {
  forgetInheritedLog();
  if (gTrans.logStatus == 3) return;
  LogStatus();
  if (!gTrans.active) InitTrans();
}

bool logRecord(s_table* t, int32_t op, char const* before, char const* after) {
  forgetInheritedLog();
  if (gTrans.logStatus != 1) return true;
  int32_t len = t->d.len;
  int64_t L = 10 + int64_t(len) * (op == 6 ? 2 : 1);
  if (L > kMaxLen) {
    Warning(__DbErrmsg("IO_RECORD_TOO_BIG"), t->d.name, int(len));
    return false;
  }
  if (!gTrans.active) InitTrans();
  uint8_t h[4];
  stLe32(uint32_t(tableHandle(t)), h);
  bool ok = op == 6 ? writeRecord(op, {{h, 4}, {before, size_t(len)}, {after, size_t(len)}})
                    : writeRecord(op, {{h, 4}, {op == 5 ? before : after, size_t(len)}});
  if (!ok) gTrans.ok = false;
  return ok;
}

void endSingleChange() {
  if (gTrans.logStatus == 1 && gTrans.active && !gTrans.begun) EndTransaction();
}

void logSchemaOpen(s_schema const* sp, int32_t previous) {
  forgetInheritedLog();
  if (gTrans.logStatus == 1) writeSchemaRecord(2, previous, sp->handle, sp->dir, sp->d.name, sp->oflags);
}

void logSchemaClose(s_schema const* sp, int32_t current) {
  forgetInheritedLog();
  if (gTrans.logStatus == 1) writeSchemaRecord(1, current, sp->handle, sp->dir, sp->d.name, sp->oflags);
}

void logSwitch(int32_t previous, int32_t current) {
  forgetInheritedLog();
  if (gTrans.logStatus == 1) writeLongs(8, previous, current);
}

void recoverDeadLogs(s_schema* sp) {
  recoverWhere([sp](DeadLog const& d) {
    for (SchemaId const& id : d.named)
      if (sameSchema(sp, id)) return true;
    return false;
  });
}

bool repairDeadMark(s_table* t) {
  if (recovering) return false;
  recoverDeadLogs(t->schema);
  return rebuildMarked(t);
}

}  // namespace zxdb

using zxdb::Trans;

extern "C" {

int32_t InitLog(void) {
  forgetInheritedLog();
  std::string dir;
  if (!logDir(dir, syncr)) {
    gTrans.logStatus = 2;
    return -1;
  }
  // Made exclusively under another name and locked before it is named
  // "l_": no process ever sees a log of a live process unlocked. The name is
  // given by a link, which never replaces another process's log of the same
  // suffix; such a clash takes a fresh name.
  std::vector<char> tmpl;
  std::string final;
  int hold = -1;
  auto failed = [&](bool named) {
    int e = errno;
    if (hold >= 0) {
      ::close(hold);
      (void)unlink(tmpl.data());
      if (named) (void)unlink(final.c_str());
    }
    Warning(__DbErrmsg("IO_CANT_CR_LOG"), final.c_str(), std::strerror(e));
    gTrans.logStatus = 2;
    return -1;
  };
  for (int attempt = 0;; ++attempt) {
    std::string name = dir + "/n_XXXXXX";
    tmpl.assign(name.begin(), name.end());
    tmpl.push_back(0);
    hold = mkostemp(tmpl.data(), O_CLOEXEC);
    final = tmpl.data();
    final.replace(final.size() - 8, 2, "l_");
    if (hold < 0) return failed(false);
    if (lockFile(hold, true, true, 0, 1) != 0) return failed(false);
    if (link(tmpl.data(), final.c_str()) == 0) break;
    if (errno != EEXIST || attempt == 9) return failed(false);
    ::close(hold);
    (void)unlink(tmpl.data());
  }
  (void)unlink(tmpl.data());
  if (OpenLog(final.c_str(), "w+") != 0) return failed(true);
  if (lockFd >= 0) ::close(lockFd);
  lockFd = hold;
  gTrans.logStatus = 1;
  logSchemasNext = true;
  for (s_schema* sp : openSchemas()) writeSchemaRecord(2, 0, sp->handle, sp->dir, sp->d.name, sp->oflags);
  writeLongs(8, 0, -1);
  writeRecord(4, {});
  return 0;
}

int32_t OpenLog(char const* name, char const* mode) {
  if (!name || !mode) return -1;
  int flags = O_RDWR | O_CLOEXEC | (syncr == 2 ? O_SYNC : 0);
  if (mode[0] == 'w') flags |= O_TRUNC;
  int fd = fileOps().open(name, flags, 0);
  if (fd < 0 && mode[0] == 'w' && errno == ENOENT) fd = fileOps().open(name, flags | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return -1;
  sync();
  if (lockFile(fd, true, true, 0, 1) != 0) {
    fileOps().close(fd);
    return -1;
  }
  struct stat st{};
  fstat(fd, &st);
  if (logFd >= 0) fileOps().close(logFd);
  logFd = fd;
  logPid = selfPid();
  logName = name;
  logPos = int64_t(st.st_size);
  return 0;
}

int32_t CloseLog(void) {
  forgetInheritedLog();
  if (gTrans.logStatus == 1 && gTrans.active) {
    RollBack();
    _flush_schemas(0);
  }
  if (gTrans.logStatus == 1 || gTrans.logStatus == 3) gTrans.logStatus = 2;
  if (logFd < 0) return 0;
  removeLog(logFd, logName);
  if (lockFd >= 0) ::close(lockFd);
  logFd = lockFd = -1;
  logName.clear();
  return 0;
}

int32_t InitTrans(void) {
  forgetInheritedLog();
  gTrans.active = true;
  gTrans.ok = !gTrans.corruptFirst;
  gTrans.corruptFirst = false;
  EnableInterrupts(1);
  if (gTrans.logStatus != 1) return 0;
  if (logSchemasNext) {
    logSchemasNext = false;
    int32_t before = -1;
    for (s_schema* sp : openSchemas()) {
      writeSchemaRecord(2, before, sp->handle, sp->dir, sp->d.name, 4);
      before = sp->handle;
    }
  }
  if (!writeRecord(3, {})) gTrans.ok = false;
  return 0;
}

int32_t _DbRLog(int32_t op, ...) {
  forgetInheritedLog();
  if (gTrans.logStatus != 1) return 0;
  va_list ap;
  va_start(ap, op);
  bool ok = true;
  switch (op) {
    case 1:
    case 2: {
      int32_t a = va_arg(ap, int32_t), b = va_arg(ap, int32_t);
      char const* dir = va_arg(ap, char const*);
      char const* name = va_arg(ap, char const*);
      int32_t flags = va_arg(ap, int32_t);
      ok = writeSchemaRecord(op, a, b, dir ? dir : "", name ? name : "", flags);
      break;
    }
    case 3:
    case 4:
      ok = writeRecord(op, {});
      break;
    case 5:
    case 6:
    case 7: {
      int32_t table = va_arg(ap, int32_t);
      char const* first = va_arg(ap, char const*);
      char const* second = op == 6 ? va_arg(ap, char const*) : nullptr;
      s_table* t = liveTable(table);
      if (!t) {
        ok = false;
        break;
      }
      ok = zxdb::logRecord(t, op, op == 7 ? nullptr : first, op == 7 ? first : second);
      break;
    }
    case 8: {
      int32_t a = va_arg(ap, int32_t), b = va_arg(ap, int32_t);
      ok = writeLongs(8, a, b);
      break;
    }
    default:
      ok = false;
  }
  va_end(ap);
  return ok ? 0 : -1;
}

int32_t _DbLog(int32_t op, ...) {
  forgetInheritedLog();
  LogStatus();
  if (gTrans.logStatus == 3) return 0;
  if (!gTrans.active && op != 3 && op != 4) InitTrans();
  if (gTrans.logStatus != 1) return 0;
  va_list ap;
  va_start(ap, op);
  int32_t rc = 0;
  if (op == 8) {
    int32_t a = va_arg(ap, int32_t), b = va_arg(ap, int32_t);
    rc = writeLongs(8, a, b) ? 0 : -1;
  } else if (op >= 5 && op <= 7) {
    int32_t table = va_arg(ap, int32_t);
    char const* first = va_arg(ap, char const*);
    char const* second = op == 6 ? va_arg(ap, char const*) : nullptr;
    s_table* t = liveTable(table);
    rc = t && zxdb::logRecord(t, op, op == 7 ? nullptr : first, op == 7 ? first : second) ? 0 : -1;
  } else if (op == 3 || op == 4) {
    rc = writeRecord(op, {}) ? 0 : -1;
  }
  va_end(ap);
  return rc;
}

int32_t LogStatus(void) {
  forgetInheritedLog();
  if (gTrans.logStatus == 0) InitLog();
  return gTrans.logStatus;
}

int32_t SetLogStatus(int32_t value) {
  forgetInheritedLog();
  int32_t old = gTrans.logStatus;
  gTrans.logStatus = value;
  return old;
}

int32_t BeginTrans(int32_t flags) {
  Trans& t = zxdb::trans();
  if (!t.active) {
    t.mode = flags & 4;
    t.ok = (flags & 4) != 0;
    t.begun = true;
  }
  return 0;
}

int32_t BeginTransaction(void) { return BeginTrans(4); }
int32_t OptimisticTransaction(void) { return BeginTrans(4); }

int32_t RollBack(void) {
  forgetInheritedLog();
  if (gTrans.logStatus != 1 || logFd < 0) return -1;
  gTrans.logStatus = 3;
  std::vector<int32_t> touched;
  int64_t stop = logPos;
  int32_t rc = walkBack(logFd, logPos, true, [](int64_t, int32_t h) { return h; }, stop, touched);
  gTrans.logStatus = 1;
  gTrans.active = false;
  gTrans.begun = false;
  gTrans.corruptFirst = false;
  EnableInterrupts(0);
  if (rc == 0) {
    // The undone part goes: a later walk must never meet it again.
    if (fileOps().ftruncate(logFd, stop) != 0) {
      Warning("Rollback: fseek fails");
      rc = -1;
    } else {
      logPos = stop;
    }
  }
  if (rc != 0) Warning(__DbErrmsg("IO_ROLLBACK_FAILED"), logName.c_str());
  return rc;
}

// Ends a transaction that cannot commit: rolled back, flushed, interrupts
// let through again; 0.
static int32_t rollBackAtEnd(Trans& t) {
  RollBack();
  _flush_schemas(0);
  t.active = false;
  t.ok = true;
  EnableInterrupts(0);
  return 0;
}

int32_t EndTransaction(void) {
  Trans& t = zxdb::trans();
  t.begun = false;
  if (t.active && !t.ok) {
    return rollBackAtEnd(t);
  }
  if (!t.active) {
    t.ok = true;
    t.corruptFirst = false;
    _flush_schemas(0);
    return 1;
  }
  if (t.logStatus == 1) {
    // The files complete first, the commit record next, the holds last.
    bool written = true;
    for (s_schema* sp : openSchemas())
      for (int32_t s = 1; s <= kDbMaxTables; ++s)
        if (sp->tables[s].tab && !sp->tables[s].alias && zxdb::writeKeepingHolds(sp->tables[s].tab) != 0)
          written = false;
    if (!written || !writeRecord(4, {})) {
      return rollBackAtEnd(t);
    }
  }
  _flush_schemas(0);
  if (syncr) sync();
  EnableInterrupts(0);
  t.active = false;
  return 1;
}

int32_t EndTrans(void) { return EndTransaction(); }
int32_t EndSyncTransaction(void) { return EndTransaction(); }
int32_t InTransaction(void) { return zxdb::trans().active || gTrans.begun; }
int32_t TransOk(void) { return zxdb::trans().ok; }

int32_t SaneTrans(void) {
  zxdb::trans().ok = true;
  return 1;
}

int32_t CorruptTrans(void) {
  Trans& t = zxdb::trans();
  t.ok = false;
  if (!t.active && t.begun) t.corruptFirst = true;
  return 0;
}

int32_t GetTransMode(void) { return zxdb::trans().mode; }

}  // extern "C"
