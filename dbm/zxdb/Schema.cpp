// Open schemas of a process: slots, opening, rewriting, flushing, closing
// and listing.
//
// State: slots[1] and slots[2] hold the open schemas, slots[0] the current
// one (equal to one of them, or null). A schema's descriptor is read whole
// at open and its file entry closed again; a rewrite writes the new image,
// synced, to a side file "<name>.scw" in the schema directory, then over the
// descriptor in place (same inode), cut to its length, then removes the side
// file. An open that finds a complete side file (its trailer names its
// length) finishes that copy first; an incomplete one is discarded.
#include "Descriptor.h"
#include "Design.h"
#include "SchemaLock.h"
#include "Trans.h"
#include "VFile.h"

#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Environ.h>
#include <zfound/Expr.h>
#include <zfound/FileOps.h>
#include <zfound/Format.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>

#include <dirent.h>
#include <pwd.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

s_schema* slots[kDbMaxSchemas + 1] = {};
bool stopRegistered = false;
constexpr char kSideExt[] = "scw";
constexpr char kSideMark[] = "SCW1";

std::string dbaseDir(std::string d) {
  if (d.empty() || (d.back() != '/' && d.back() != '\\')) d += '/';
  return d;
}

std::vector<std::string> dbaseDirs() {
  std::vector<std::string> out;
  ReadEnvHandler old = SetReadEnvHandler(nullptr);
  char const* v = def_ReadEnv("dbase", __FILE__, __LINE__);
  SetReadEnvHandler(old);
  if (!v) return out;
  std::string all = v;
  size_t at = 0;
  while (at <= all.size()) {
    size_t c = all.find(':', at);
    if (c == std::string::npos) c = all.size();
    std::string d = all.substr(at, c - at);
    if (!d.empty() && d.size() <= 997) out.push_back(dbaseDir(d));
    at = c + 1;
  }
  return out;
}

// The whole contents of a virtual file (at most the size a descriptor may
// have); false when it cannot be read.
bool readWhole(s_vfile* vf, std::vector<uint8_t>& out) {
  int64_t size = _DbStat(vf, 1);
  if (size < 0 || size > zxdb::kMaxDescriptor) return false;
  out.resize(size_t(size));
  return size == 0 || _DbRead(vf, out.data(), int32_t(size), 0, 0) == 0;
}

// Writes `image` (then `trailer`) at the start of the file `ext` of the
// schema, cuts the file to that length and syncs it.
bool writeSynced(s_schema* sp, char const* ext, int32_t flags, std::vector<uint8_t> const& image,
                 uint8_t const* trailer, int32_t trailerLength) {
  s_vfile* vf = _DbOpen(sp, sp->d.name, ext, flags);
  if (!vf) return false;
  int32_t n = int32_t(image.size());
  bool ok = _DbWrite(vf, image.data(), n, 0) == 0 && (!trailer || _DbWrite(vf, trailer, trailerLength, n) == 0) &&
            zxdb::truncateFile(vf, int64_t(n) + (trailer ? trailerLength : 0)) && zxdb::syncFile(vf);
  _DbClose(vf);
  return ok;
}

// Finishes or discards a side file left by a rewrite that did not end: a
// complete one (its trailer names its length) is copied over the
// descriptor; the side file goes once the descriptor is whole.
void settleSideFile(s_schema* sp) {
  s_vfile* side = _DbOpen(sp, sp->d.name, kSideExt, O_RDONLY);
  if (!side) return;
  std::vector<uint8_t> img;
  bool ok = readWhole(side, img);
  _DbClose(side);
  if (ok && img.size() >= 8 && std::memcmp(&img[img.size() - 4], kSideMark, 4) == 0 &&
      ldLe32(&img[img.size() - 8]) == img.size() - 8) {
    img.resize(img.size() - 8);
    if (!writeSynced(sp, "sco", O_WRONLY, img, nullptr, 0)) return;  // kept for the next open
  }
  _DbUnlink(sp, sp->d.name, kSideExt);
}

// The new image goes, synced, to the side file, then over the descriptor in
// place (same inode), cut to its length; then the side file goes.
bool durableRewrite(s_schema* sp, std::vector<uint8_t> const& image) {
  _DbUnlink(sp, sp->d.name, kSideExt);
  uint8_t trailer[8];
  stLe32(uint32_t(image.size()), trailer);
  std::memcpy(trailer + 4, kSideMark, 4);
  if (!writeSynced(sp, kSideExt, O_WRONLY | O_CREAT | O_EXCL, image, trailer, 8)) {
    _DbUnlink(sp, sp->d.name, kSideExt);
    return false;
  }
  if (!writeSynced(sp, "sco", O_WRONLY, image, nullptr, 0)) return false;  // the next open completes it
  _DbUnlink(sp, sp->d.name, kSideExt);
  return true;
}

void freeSchema(s_schema* sp) {
  if (!sp) return;
  zxdb::closeSchemaFiles(sp);
  if (sp->u.zx) zxdb::dropSchemaLock(sp);
  if (sp->tables) {
    for (int32_t s = 1; s <= kDbMaxTables; ++s) {
      s_table* t = sp->tables[s].tab;
      if (!t || sp->tables[s].alias) continue;
      _ForgetTableState(t);
      delete t->check;
      for (int32_t i = 0; i < t->d.nfields && t->fields; ++i) {
        delete t->fields[i].deflt;
        delete t->fields[i].check;
        delete t->fields[i].incheck;
      }
      def_Free(sp->tables[s].buffer, __FILE__, __LINE__);
    }
  }
  if (sp->u.zx) {
    for (void* p : sp->u.zx->allocs) def_Free(p, __FILE__, __LINE__);
    delete sp->u.zx;
  }
  def_Free(sp->tables, __FILE__, __LINE__);
  def_Free(sp, __FILE__, __LINE__);
}

// True when some live process has an id that agrees with `low` modulo
// 65,536 (a temporary name keeps only that much of the id).
bool pidFamilyAlive(unsigned low) {
  long pidMax = 4194304;
  if (FILE* f = std::fopen("/proc/sys/kernel/pid_max", "r")) {
    long v = 0;
    if (std::fscanf(f, "%ld", &v) == 1 && v > 0 && v <= 4194304) pidMax = v;
    std::fclose(f);
  }
  for (long p = low; p < pidMax; p += 65536)
    if (p > 0 && (kill(pid_t(p), 0) == 0 || errno == EPERM)) return true;
  return false;
}

// Removes the temporary tables and indexes ("t" or "i", two digits of a
// counter, five of a pid; ".tab" or the temporary index extension) left in
// the schema's directory by processes that are gone: no live process has an
// id that agrees with the name's.
void removeDeadTemporaries(s_schema* sp) {
  std::string dir = std::string(sp->dir) + sp->d.name + "/";
  DIR* dp = opendir(dir.c_str());
  if (!dp) return;
  while (dirent* e = readdir(dp)) {
    char const* n = e->d_name;
    if (std::strlen(n) != 12 || (n[0] != 't' && n[0] != 'i') || n[8] != '.') continue;
    bool digits = true;
    for (int i = 1; i < 8; ++i) digits = digits && std::isdigit(static_cast<unsigned char>(n[i]));
    if (!digits) continue;
    char const* ext = n + 9;
    if (!(n[0] == 't' && std::strcmp(ext, "tab") == 0) && !(n[0] == 'i' && std::strcmp(ext, zxdb::kTempIndexExt) == 0))
      continue;
    unsigned low = unsigned(std::atoi(n + 3));
    if (low > 65535 || pidFamilyAlive(low)) continue;
    fileOps().unlink((dir + n).c_str());
  }
  closedir(dp);
}

// Reads schema `name` from `dir` (a dbase directory or the given one) into a
// new descriptor that takes no slot: 0, or the open code.
int32_t loadSchema(std::string const& dir, char const* name, int32_t flags, s_schema** out) {
  *out = nullptr;
  auto sp = static_cast<s_schema*>(def_Alloc(sizeof(s_schema), __FILE__, __LINE__));
  sp->u.zx = new zx_schema();
  sp->tables = static_cast<tab_array*>(def_Alloc(sizeof(tab_array) * (kDbMaxTables + 1), __FILE__, __LINE__));
  std::strncpy(sp->dir, dir.c_str(), sizeof sp->dir - 1);
  std::strncpy(sp->d.name, name, 10);
  sp->oflags = flags;
  if (!(flags & (0x20 | 0x800))) removeDeadTemporaries(sp);
  if (int32_t code = zxdb::openLock(sp, flags)) {
    freeSchema(sp);
    return code;
  }
  settleSideFile(sp);
  zxdb::settleConversion(sp);
  s_vfile* vf = _DbOpen(sp, name, "sco", O_RDONLY);
  if (!vf) {
    freeSchema(sp);
    return 11;
  }
  std::vector<uint8_t> image;
  struct stat st{};
  int fd = vfd(vf, 1);
  bool ok = fd >= 0 && fstat(fd, &st) == 0 && readWhole(vf, image);
  _DbClose(vf);
  if (!ok) {
    freeSchema(sp);
    return zxdb::kNotDescriptor;
  }
  sp->owner = int32_t(st.st_uid);
  int32_t code = zxdb::readDescriptor(image, name, (flags & 0x10) != 0, sp);
  if (code == 0) {
    sp->privg = _FindSchPrivg(sp);
    if (sp->privg == 0) code = 16;
  }
  if (code == zxdb::kDamagedTable && sp->u.zx->badTable.empty()) sp->u.zx->badTable = "none";
  if (code) {
    std::string bad = sp->u.zx->badTable;
    freeSchema(sp);
    if (code == zxdb::kDamagedTable && (flags & 4)) Error(__DbErrmsg("(5)"), bad.c_str());
    return code;
  }
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    s_table* t = sp->tables[s].tab;
    if (!t) continue;
    t->privg = _FindUserPrivg(t);
    t->data = _DbOpen(sp, t->d.name, "tab", O_RDWR | O_CREAT | 0x1000);
  }
  *out = sp;
  return 0;
}

int32_t slotOfHandle(int32_t h) {
  int32_t s = dbSchemaSlot(h);
  return (s >= 1 && s <= kDbMaxSchemas && slots[s]) ? s : 0;
}

void failOpen(int32_t code, int32_t flags, char const* name) {
  _io_errno_ = code;
  if (!(flags & 4) || code == zxdb::kDamagedTable) return;  // a damaged table is reported with its name
  char key[8];
  zfSnprintf(key, sizeof key, "(%d)", int(code));
  Error(__DbErrmsg(key), name);
}

int32_t openIn(std::string const& dir, char const* name, int32_t flags, int32_t slot) {
  s_schema* sp = nullptr;
  int32_t code = loadSchema(dir, name, flags, &sp);
  if (code) return code;
  sp->handle = dbSchemaHandle(slot);
  for (int32_t s = 1; s <= kDbMaxTables; ++s)
    if (sp->tables[s].tab) {
      s_table* t = sp->tables[s].tab;
      sp->tables[s].buffer = static_cast<char*>(def_Alloc(size_t(t->d.len) + 4, __FILE__, __LINE__));
    }
  slots[slot] = sp;
  slots[0] = sp;
  if (!stopRegistered) {
    stopRegistered = true;
    OnStop(CloseAllSchemas);
  }
  return 0;
}

// Takes slot `slot` for a schema made here, as an open does.
void takeSlot(s_schema* sp, int32_t slot) {
  int32_t previous = slots[0] ? slots[0]->handle : -1;
  sp->handle = dbSchemaHandle(slot);
  slots[slot] = sp;
  slots[0] = sp;
  if (!stopRegistered) {
    stopRegistered = true;
    OnStop(CloseAllSchemas);
  }
  zxdb::logSchemaOpen(sp, previous);
}

}  // namespace

namespace zxdb {

bool rewriteImage(s_schema* sp, std::vector<uint8_t> const& image) { return durableRewrite(sp, image); }

}  // namespace zxdb

char const* _ExtractDir(char const* path, char* dir) {
  dir[0] = 0;
  if (!path) return nullptr;
  if (path[0] != '/' && path[0] != '.') return path;
  char const* slash = std::strrchr(path, '/');
  if (!slash) return path;
  size_t n = size_t(slash - path) + 1;
  if (n > 1023) return nullptr;
  std::memcpy(dir, path, n);
  dir[n] = 0;
  return slash + 1;
}

s_schema* _GetSchPtr(int32_t handle) {
  int32_t s = dbSchemaSlot(handle);
  if (s == 0) {
    if (!slots[0]) Error(__DbErrmsg("IO_NO_CURR_SCHEMA"));
    return slots[0];
  }
  if (s > kDbMaxSchemas || !slots[s] || (handle & 0xffff) != 0) {
    Error(__DbErrmsg("IO_INV_SCHEMA"), long(handle));
    return nullptr;
  }
  return slots[s];
}

void _SetSchPtr(int32_t slot, s_schema* schema) {
  if (slot >= 0 && slot <= kDbMaxSchemas) slots[slot] = schema;
}

int32_t OpenSchema(char const* path, int32_t flags) {
  char dir[1024];
  char const* rest = _ExtractDir(path, dir);
  if (!rest || !*rest || std::strlen(path) > 1023 + 10) {
    failOpen(11, flags, path ? path : "");
    return -1;
  }
  char name[11];
  _AddSchemaSuffix(name, rest);
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s) {
    s_schema* sp = slots[s];
    if (sp && std::strncmp(sp->d.name, name, 10) == 0 && (!dir[0] || std::strcmp(sp->dir, dir) == 0)) {
      if (zxdb::adoptLock(sp) != 0) {
        failOpen(10, flags, name);
        return -1;
      }
      int32_t previous = slots[0] ? slots[0]->handle : -1;
      slots[0] = sp;
      if (previous != sp->handle) zxdb::logSwitch(previous, sp->handle);
      return sp->handle;
    }
  }
  int32_t slot = slots[1] ? slots[2] ? 0 : 2 : 1;
  if (!slot) {
    failOpen(14, flags, name);
    return -1;
  }
  int32_t previous = slots[0] ? slots[0]->handle : -1;
  int32_t code = 11;
  if (dir[0]) {
    code = openIn(dir, name, flags, slot);
  } else {
    for (std::string const& d : dbaseDirs()) {
      code = openIn(d, name, flags, slot);
      if (code != 11) break;
    }
  }
  if (code) {
    failOpen(code, flags, name);
    return -1;
  }
  zxdb::logSchemaOpen(slots[slot], previous);
  // A process killed while it changed this schema left its log: undone
  // before anything here reads the schema.
  zxdb::recoverDeadLogs(slots[slot]);
  return dbSchemaHandle(slot);
}

int32_t OpenSchemaVersion(char const* path, int32_t flags, int32_t) { return OpenSchema(path, flags); }

int32_t _ModifySchema(int32_t schema) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp) return -1;
  sp->rewrite = 1;
  return 0;
}

int32_t SetDescrSchema(int32_t schema, char const* text) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp) return -1;
  if (!sp->u.zx->designLoaded) {
    Error(__DbErrmsg("(17)"), "SetDescrSchema", sp->d.name);
    _io_errno_ = 17;
    return -1;
  }
  sp->d.descr = zxdb::keepText(sp, text);
  sp->rewrite = 1;
  return 0;
}

int32_t _WriteSchema(int32_t schema) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp || sp->d.magic != zxdb::kMagic || !sp->rewrite) return -1;
  if (!sp->u.zx->designLoaded) {
    Error(__DbErrmsg("(17)"), "_WriteSchema", sp->d.name);
    return -1;
  }
  if (LockSchema(schema, 2) != 0) return -2;
  std::vector<uint8_t> image;
  if (!zxdb::writeDescriptor(sp, image)) {
    Error(__DbErrmsg("IO_SCHEMA_TOO_BIG"), sp->d.name);
    return -1;
  }
  if (!durableRewrite(sp, image)) {
    Error(__DbErrmsg("IO_SCHEMA_NOT_WRITTEN"), sp->d.name, std::strerror(errno));
    return -1;
  }
  sp->rewrite = 0;
  return 0;
}

int32_t CloseSchema(int32_t schema) {
  int32_t s = slotOfHandle(schema);
  if (!s || (schema & 0xffff) != 0) return -1;
  s_schema* sp = slots[s];
  zxdb::logSchemaClose(sp, slots[0] ? slots[0]->handle : -1);
  zxdb::dropTemporaries(sp);
  if (sp->rewrite) _WriteSchema(schema);
  DeleteAllCursors(schema);
  DeleteAllAlias(schema);
  for (int32_t t = 1; t <= kDbMaxTables; ++t)
    if (sp->tables[t].tab && !sp->tables[t].alias) FreeTable(dbTableHandle(sp->handle, t));
  FreeSchema(schema);
  slots[s] = nullptr;
  if (slots[0] == sp) slots[0] = slots[1] ? slots[1] : slots[2];
  freeSchema(sp);
  return 0;
}

void CloseAllSchemas(void) {
  CloseLog();
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s)
    if (slots[s]) CloseSchema(dbSchemaHandle(s));
}

void _flush_schemas(int32_t from) {
  s_schema* current = slots[0];
  int32_t currentSlot = current ? dbSchemaSlot(current->handle) : 0;
  for (int32_t s = (from < 0 ? 0 : from) + 1; s <= kDbMaxSchemas; ++s) {
    s_schema* sp = slots[s];
    if (!sp) continue;
    // A schema with temporary tables or indexes is written in place: they
    // live only in this process and would not survive a reopening.
    if (sp->rewrite && zxdb::hasTemporaries(sp)) _WriteSchema(sp->handle);
    if (!sp->rewrite) {
      for (int32_t t = 1; t <= kDbMaxTables; ++t)
        if (sp->tables[t].tab) _FlushTable(dbTableHandle(sp->handle, t), -1);
      continue;
    }
    std::string dir = sp->dir;
    char name[11];
    std::memcpy(name, sp->d.name, 11);
    int32_t flags = sp->oflags | 4;
    CloseSchema(dbSchemaHandle(s));
    if (int32_t code = openIn(dir, name, flags, s)) failOpen(code, flags, name);
    else zxdb::logSchemaOpen(slots[s], currentSlot ? dbSchemaHandle(currentSlot) : -1);  // the log's map of slots
  }
  slots[0] = currentSlot ? slots[currentSlot] : nullptr;
}

int32_t SwitchToSchema(int32_t schema) {
  int32_t old = slots[0] ? slots[0]->handle : -1;
  int32_t s = slotOfHandle(schema);
  if (!s) {
    Error(__DbErrmsg("IO_INV_SCHEMA"), long(schema));
    return old;
  }
  slots[0] = slots[s];
  if (old != slots[s]->handle) zxdb::logSwitch(old, slots[s]->handle);
  return old;
}

int32_t CurrentSchema(void) { return slots[0] ? slots[0]->handle : -1; }

int32_t FindSchema(char const* name) {
  if (!name) return CurrentSchema();
  char dir[1024];
  char const* rest = _ExtractDir(name, dir);
  if (!rest) return -1;
  char lname[11];
  _AddSchemaSuffix(lname, rest);
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s)
    if (slots[s] && std::strncmp(slots[s]->d.name, lname, 10) == 0 && (!dir[0] || std::strcmp(slots[s]->dir, dir) == 0))
      return slots[s]->handle;
  return -1;
}

int32_t FindSchemaVersion(char const* name, int32_t) { return FindSchema(name); }

int32_t FindNextSchema(int32_t schema) {
  int32_t from = schema == 0 ? 0 : dbSchemaSlot(schema);
  for (int32_t s = from + 1; s <= kDbMaxSchemas; ++s)
    if (slots[s]) return slots[s]->handle;
  return -1;
}

char* GetSchemas(void) {
  std::string list;
  for (std::string const& d : dbaseDirs()) {
    DIR* dp = opendir(d.c_str());
    if (!dp) continue;
    while (dirent* e = readdir(dp)) {
      if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
      if (d.size() + std::strlen(e->d_name) >= 256 || std::strlen(e->d_name) > 10) continue;
      struct stat st{};
      std::string full = d + e->d_name;
      if (stat(full.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      char name[11];
      _AddSchemaSuffix(name, e->d_name);
      if (std::strcmp(name, e->d_name) != 0) continue;
      bool listed = false;
      for (int32_t s = 1; s <= kDbMaxSchemas; ++s)
        listed = listed || (slots[s] && !std::strcmp(slots[s]->d.name, name) && d == slots[s]->dir);
      if (!listed) {
        s_schema* sp = nullptr;
        if (loadSchema(d, name, 0x20, &sp) != 0) continue;
        freeSchema(sp);
      }
      if (!list.empty()) list += '\t';
      list += name;
    }
    closedir(dp);
  }
  if (list.empty()) return nullptr;
  size_t cap = (list.size() + 1 + 127) / 128 * 128;
  auto out = static_cast<char*>(def_Alloc(cap, __FILE__, __LINE__));
  std::memcpy(out, list.c_str(), list.size() + 1);
  return out;
}

char* _StrValPut(s_schema* schema, char const* text) {
  return schema && text ? zxdb::keepText(schema, text) : nullptr;
}

void* _MemValPut(s_schema* schema, void const* bytes, int32_t length) {
  return schema && bytes && length >= 0 ? zxdb::keepBytes(schema, bytes, size_t(length)) : nullptr;
}


// ---- schemas made, dropped and given away --------------------------------------

int32_t CreateSchema(char const* path, char const* description) {
  char dir[1024];
  char const* rest = _ExtractDir(path, dir);
  if (!rest || !zxdb::plainName(rest)) return -1;
  char name[11];
  _AddSchemaSuffix(name, rest);
  if (!zxdb::plainName(name)) return -1;
  int32_t slot = slots[1] ? slots[2] ? 0 : 2 : 1;
  if (!slot) {
    _io_errno_ = 14;
    return -1;
  }
  std::string base = dir;
  if (base.empty()) {
    std::vector<std::string> dirs = dbaseDirs();
    if (dirs.empty()) {
      _io_errno_ = 4;
      return -1;
    }
    base = dirs.front();
  }
  // The directory and files take the caller's umask as it is.
  std::string schemaDir = base + name;
  if (schemaDir.size() > 1000 || mkdir(schemaDir.c_str(), 0777) != 0) {
    _io_errno_ = 4;
    return -1;
  }
  auto sp = static_cast<s_schema*>(def_Alloc(sizeof(s_schema), __FILE__, __LINE__));
  sp->u.zx = new zx_schema();
  sp->tables = static_cast<tab_array*>(def_Alloc(sizeof(tab_array) * (kDbMaxTables + 1), __FILE__, __LINE__));
  std::strncpy(sp->dir, base.c_str(), sizeof sp->dir - 1);
  std::memcpy(sp->d.name, name, 11);
  sp->d.magic = zxdb::kMagic;
  sp->d.version = zxdb::kVersion;
  sp->d.descr = zxdb::keepText(sp, description);
  sp->d.n_tables = 1;
  sp->owner = ProcUserId();
  sp->privg = DB_SCH_DESIGN;
  sp->oflags = 0x10;
  sp->u.zx->designLoaded = true;
  std::vector<uint8_t> image;
  s_vfile* vf = _DbOpen(sp, name, "sco", O_RDWR | O_CREAT | O_EXCL);
  if (!vf) {
    freeSchema(sp);
    rmdir(schemaDir.c_str());
    _io_errno_ = 3;
    return -1;
  }
  _DbClose(vf);
  // Written at once: the descriptor is never left empty.
  if (!zxdb::writeDescriptor(sp, image) || !durableRewrite(sp, image) || zxdb::openLock(sp, 0) != 0) {
    // A rewrite that failed part way keeps its side file for the next open;
    // here nothing is kept, so the directory can go.
    _DbUnlink(sp, name, kSideExt);
    _DbUnlink(sp, name, "sco");
    freeSchema(sp);
    rmdir(schemaDir.c_str());
    _io_errno_ = 3;
    return -1;
  }
  takeSlot(sp, slot);
  return sp->handle;
}

int32_t DropSchema(int32_t schema) {
  int32_t s = slotOfHandle(schema);
  if (!s || (schema & 0xffff) != 0) return -1;
  s_schema* sp = slots[s];
  if (LockSchema(schema, 1) != 0) return -2;
  DeleteAllCursors(schema);
  DeleteAllAlias(schema);
  // The descriptor goes too: what it holds need not have been read whole.
  sp->u.zx->designLoaded = true;
  for (int32_t t = 1; t <= kDbMaxTables; ++t)
    if (sp->tables[t].tab && !sp->tables[t].alias) DeleteTable(dbTableHandle(sp->handle, t));
  std::string schemaDir = std::string(sp->dir) + sp->d.name;
  char sco[DB_PATH_MAX];
  _DbFileName(sco, sp, sp->d.name, "sco");
  sp->rewrite = 0;
  zxdb::closeSchemaFiles(sp);
  _DbUnlink(sp, sp->d.name, kSideExt);
  // The set goes with the last holder, before its file does.
  CloseSchema(schema);
  unlink(sco);
  return rmdir(schemaDir.c_str()) == 0 ? 0 : -1;
}

int32_t ChownSchema(int32_t schema, int32_t uid) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp) return -1;
  int32_t me = ProcUserId();
  if (me != 0 && me != sp->owner) return -1;
  sp->owner = uid;
  char path[DB_PATH_MAX];
  _DbFileName(path, sp, sp->d.name, "sco");
  struct passwd* pw = getpwuid(uid_t(uid));
  gid_t gid = pw ? pw->pw_gid : gid_t(-1);
  return chown(path, uid_t(uid), gid) == 0 ? 1 : 0;
}

int32_t _AddEnumItem(int32_t schema, char const* enumeration, char const* name, int32_t value) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp || !enumeration || !name) return -1;
  int32_t e = 0;
  while (e < sp->d.nenums && std::strcmp(sp->enums[e].name, enumeration) != 0) ++e;
  if (e == sp->d.nenums) {
    if (sp->d.nenums >= 255) return -1;
    auto grown = static_cast<s_enum*>(def_Alloc(sizeof(s_enum) * size_t(e + 1), __FILE__, __LINE__));
    sp->u.zx->allocs.push_back(grown);
    if (e) std::memcpy(grown, sp->enums, sizeof(s_enum) * size_t(e));
    grown[e] = s_enum{zxdb::keepText(sp, enumeration), 0, nullptr};
    sp->enums = grown;
    sp->d.nenums = uint8_t(e + 1);
  }
  s_enum& en = sp->enums[e];
  if (en.nitems >= 65535) return -1;
  auto items = static_cast<s_enum_item*>(def_Alloc(sizeof(s_enum_item) * size_t(en.nitems + 1), __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(items);
  if (en.nitems) std::memcpy(items, en.items, sizeof(s_enum_item) * size_t(en.nitems));
  items[en.nitems] = s_enum_item{zxdb::keepText(sp, name), value};
  en.items = items;
  en.nitems += 1;
  sp->rewrite = 1;
  return 1;
}

int32_t _DropAllEnums(int32_t schema) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp) return -1;
  sp->enums = nullptr;
  sp->d.nenums = 0;
  sp->rewrite = 1;
  return 0;
}
