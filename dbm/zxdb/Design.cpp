// Design calls on tables, fields and indexes: creating, renaming, dropping
// and emptying tables, adding fields, setting expressions and checks,
// creating and dropping indexes, and the equivalence of two definitions.
//
// Every change to a stored object needs design privilege (level 8; 2 for a
// temporary object), the schema opened with its design texts and the
// schema's exclusive lock (-2 when another process has the schema open);
// it marks the descriptor for rewriting. A change that renames or removes
// files writes the descriptor at once, so that the files and the
// descriptor on disk agree; renaming a table and dropping an index that
// moves later index files do so through one synced journal, which the next
// open finishes after a kill. Temporary tables and indexes get generated file
// names (created exclusively) and are removed when the schema closes.
//
// Refusals leave everything as it was: every limit of a stored width
// (fields and indexes of a table, key parts, record and key lengths, node
// sizes, stored expression and check sizes) is checked before anything is
// changed.
#include "Descriptor.h"
#include "Design.h"
#include "VFile.h"

#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <zfound/Expr.h>
#include <zfound/FileOps.h>
#include <zfound/Format.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/String.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kMaxExprStored = 8190;
constexpr int32_t kMaxCheckStored = 8192;
constexpr int32_t kMaxKey = 255;
constexpr int32_t kMaxRecord = 65535;
constexpr int32_t kMaxNodeKb = 63;  // node sizes are stored in 16 bits

int32_t tempCounter = 0;

zxdb::TableDesign& designOf(s_table const* t) { return t->schema->u.zx->design[t]; }

void lower10(char* out, char const* name) {
  size_t n = strnlen(name, 10);
  for (size_t i = 0; i < n; ++i) out[i] = char(std::tolower(static_cast<unsigned char>(name[i])));
  out[n] = 0;
}

// The privilege check of a design call: 0, or -1 with _io_errno_ 1 (stored)
// or 13 (temporary), reported when bit 2 of `flags` is set.
int32_t privRefused(s_schema* sp, bool temp, int32_t flags) {
  if (sp->privg >= (temp ? DB_SCH_WRITE : DB_SCH_DESIGN)) return 0;
  _io_errno_ = temp ? 13 : 1;
  if (flags & 4) Error(__DbErrmsg(temp ? "(13)" : "(1)"), sp->d.name);
  return -1;
}

// What a change to a stored object needs besides the privilege: the design
// texts loaded (else "(17)") and the exclusive lock. 0, -1 or -2.
int32_t storedChange(s_schema* sp, char const* call) {
  if (!sp->u.zx->designLoaded) {
    Error(__DbErrmsg("(17)"), call, sp->d.name);
    _io_errno_ = 17;
    return -1;
  }
  int32_t r = LockSchema(sp->handle, 3);
  return r == 0 ? 0 : (r == -2 ? -2 : -1);
}

s_table* tableOfHandle(int32_t handle) {
  if (dbTableSlot(handle) == 0) return nullptr;
  return _GetTabPtr(handle & 0xffff00);
}

int32_t handleOf(s_table const* t) {
  s_schema* sp = t->schema;
  for (int32_t s = 1; s <= kDbMaxTables; ++s)
    if (sp->tables[s].tab == t && !sp->tables[s].alias) return dbTableHandle(sp->handle, s);
  return 0;
}

// Frees what a table holds in memory besides its schema's allocations.
void forgetTable(s_schema* sp, int32_t slot) {
  s_table* t = sp->tables[slot].tab;
  _ForgetTableState(t);
  delete t->check;
  t->check = nullptr;
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    delete t->fields[i].deflt;
    delete t->fields[i].check;
    delete t->fields[i].incheck;
    t->fields[i].deflt = nullptr;
    t->fields[i].check = nullptr;
    t->fields[i].incheck = nullptr;
  }
  def_Free(sp->tables[slot].buffer, __FILE__, __LINE__);
  sp->u.zx->design.erase(t);
  _FreeTbSlot(sp, slot);
}

// Writes a pending rewrite of a stored change now.
void writeNow(s_schema* sp) {
  sp->rewrite = 1;
  _WriteSchema(sp->handle);
}

char const* dataName(s_table const* t) {
  auto it = t->schema->u.zx->design.find(t);
  return it != t->schema->u.zx->design.end() && !it->second.dataName.empty() ? it->second.dataName.c_str()
                                                                              : t->d.name;
}

// Closes every file of a table (index files unlinked when temporary, the
// data file too when the table is) and forgets its state.
void closeTableFiles(s_table* t, bool removeStored) {
  int32_t h = handleOf(t);
  if (h) FlushTable(h);
  s_schema* sp = t->schema;
  for (int32_t i = 0; i < t->nindexes; ++i) {
    s_index& ix = t->indexes[i];
    if (!ix.d.nparts && !ix.file) continue;
    bool temp = ix.d.flags & 2;
    if (h) EmptyIndex(h | i);
    if (!temp && removeStored) {
      char ext[8];
      zfSnprintf(ext, sizeof ext, "i%02d", int(i));
      _DbUnlink(sp, t->d.name, ext);
    }
  }
  if (t->data) _DbClose(t->data);
  t->data = nullptr;
  if ((t->d.flags & 1) || removeStored) _DbUnlink(sp, dataName(t), "tab");
}

int32_t setExpression(s_table* t, s_blob& blob, Expr*& obj, Expr const* e, char const* call) {
  if (!e || blob.data) return -1;
  int32_t len = e->storeLength();
  if (len <= 0 || len > kMaxExprStored) return -1;
  s_schema* sp = t->schema;
  bool temp = t->d.flags & 1;
  if (!temp)
    if (int32_t r = storedChange(sp, call)) return r;
  std::vector<uint8_t> bytes(static_cast<size_t>(len));
  if (e->store(bytes.data()) != len) return -1;
  Expr* loaded = DbExpr(bytes.data(), len);
  if (!loaded) return -1;
  blob.data = static_cast<uint8_t const*>(zxdb::keepBytes(sp, bytes.data(), bytes.size()));
  blob.len = len;
  obj = loaded;
  if (!temp) sp->rewrite = 1;
  return 0;
}

s_field* fieldOfHandle(int32_t field, s_table*& t) {
  t = tableOfHandle(field);
  if (!t || dbLowByte(field) < 1 || dbLowByte(field) > t->d.nfields) return nullptr;
  return &t->fields[dbLowByte(field) - 1];
}

// Square root by Newton's iteration to a difference below 0.1.
double newtonSqrt(double v) {
  if (v <= 0) return 0;
  double x = v > 1 ? v / 2 : 1, prev;
  do {
    prev = x;
    x = (x + v / x) / 2;
  } while (prev - x > 0.1 || x - prev > 0.1);
  return x;
}

}  // namespace

namespace zxdb {

bool plainName(char const* name) {
  return name && name[0] && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && !std::strchr(name, '/');
}

std::string makeTempName(s_schema* sp, char const* prefix, char const* ext) {
  for (int32_t tries = 0; tries < 100; ++tries) {
    tempCounter = tempCounter % 100 + 1;
    char name[16];
    // The id of this very process, also in a forked child.
    zfSnprintf(name, sizeof name, "%.2s%02d%05u", prefix, int(tempCounter % 100), unsigned(getpid() % 65536));
    char path[DB_PATH_MAX];
    _DbFileName(path, sp, name, ext);
    int fd = fileOps().open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fileOps().close(fd);
      return name;
    }
    if (errno != EEXIST) return "";
  }
  return "";
}

char const* tempIndexName(s_table const* t, int32_t number) {
  if (!t->schema || !t->schema->u.zx) return nullptr;
  auto& design = t->schema->u.zx->design;
  auto it = design.find(t);
  if (it == design.end()) return nullptr;
  auto ix = it->second.tempIndex.find(number);
  return ix == it->second.tempIndex.end() ? nullptr : ix->second.c_str();
}

bool hasTemporaries(s_schema* sp) {
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    s_table* t = sp->tables[s].tab;
    if (!t || sp->tables[s].alias) continue;
    if (t->d.flags & 1) return true;
    for (int32_t i = 0; i < t->nindexes; ++i)
      if ((t->indexes[i].d.flags & 2) && t->indexes[i].d.nparts) return true;
  }
  return false;
}

void dropTemporaries(s_schema* sp) {
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    s_table* t = sp->tables[s].tab;
    if (!t || sp->tables[s].alias) continue;
    if (t->d.flags & 1) {
      closeTableFiles(t, false);
      forgetTable(sp, s);
      continue;
    }
    for (int32_t i = 0; i < t->nindexes; ++i)
      if ((t->indexes[i].d.flags & 2) && t->indexes[i].d.nparts) EmptyIndex(dbTableHandle(sp->handle, s) | i);
  }
}

}  // namespace zxdb

extern "C" {

int32_t CalcItype(int32_t type, int32_t length) {
  switch (type) {
    case 0:
      if (length < 0) return -1;
      if (length <= 2) return DB_IT_BYTE;
      if (length <= 4) return DB_IT_SHORT;
      if (length <= 9) return DB_IT_LONG;
      if (length <= 15) return DB_IT_DOUBLE;
      if (length <= 28) return DB_IT_NUM;
      return -1;
    case 1: return DB_IT_TEXT;
    case 2: return DB_IT_DATE;
    case 3: return DB_IT_TIME;
    case 4: return DB_IT_DOUBLE;
    case 5: return DB_IT_BYTE;
    case 10: return DB_IT_LONG;
    default: return -1;
  }
}

int32_t CreateTable(int32_t schema, char const* name, char const* description, int32_t flags, int32_t,
                    int32_t nfields) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp) return -1;
  if (nfields <= 0) {
    Error(__DbErrmsg("IO_NEED_TABFIELDS"), name ? name : "");
    return -1;
  }
  bool temp = flags & 1;
  if (nfields > kDbMaxFields || !zxdb::plainName(name)) return -1;
  if (privRefused(sp, temp, flags)) return -1;
  if (!temp)
    if (int32_t r = storedChange(sp, "CreateTable")) return r;
  char lname[11];
  lower10(lname, name);
  if (_FindTabSlot(sp, lname)) {
    _io_errno_ = 7;
    return -1;
  }
  auto t = static_cast<s_table*>(def_Alloc(sizeof(s_table), __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(t);
  int32_t h = _NewTabSlot(sp, t);
  if (h < 0) {
    _io_errno_ = 7;
    return -1;
  }
  t->schema = sp;
  std::memcpy(t->d.name, lname, 11);
  t->d.descr = zxdb::keepText(sp, description);
  t->d.flags = uint16_t(flags);
  t->d.len = 4;
  t->d.size = 1024;
  int32_t priv = dbPrivEntry(uint16_t(ProcUserId()), DB_PRIV_USER, DB_TAB_ALL);
  t->d.privs = static_cast<int32_t*>(zxdb::keepBytes(sp, &priv, sizeof priv));
  t->d.nprivs = 1;
  t->fields = static_cast<s_field*>(def_Alloc(sizeof(s_field) * size_t(nfields), __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(t->fields);
  zxdb::TableDesign& td = designOf(t);
  td.capacity = nfields;
  if (temp) {
    td.dataName = zxdb::makeTempName(sp, "t", "tab");
    if (!td.dataName.empty()) t->data = _DbOpen(sp, td.dataName.c_str(), "tab", O_RDWR);
  } else {
    t->data = _DbOpen(sp, lname, "tab", O_RDWR | O_CREAT | O_TRUNC);
  }
  int32_t slot = dbTableSlot(h);
  sp->tables[slot].buffer = static_cast<char*>(def_Alloc(size_t(t->d.len) + 4, __FILE__, __LINE__));
  if (!t->data) {
    if (temp && !td.dataName.empty()) _DbUnlink(sp, td.dataName.c_str(), "tab");
    forgetTable(sp, slot);
    _io_errno_ = 5;
    return -1;
  }
  t->privg = _FindUserPrivg(t);
  if (!temp) sp->rewrite = 1;
  return h;
}

int32_t _ReCreateTable(int32_t schema, char const* name, char const* description, int32_t flags, int32_t reserved,
                       int32_t nfields) {
  s_schema* sp = _GetSchPtr(schema);
  if (!sp || !zxdb::plainName(name)) return -1;
  char lname[11];
  lower10(lname, name);
  if (int32_t slot = _FindTabSlot(sp, lname))
    if (DeleteTable(dbTableHandle(sp->handle, slot)) != 0) return -1;
  return CreateTable(schema, name, description, flags, reserved, nfields);
}

int32_t AddTabField(int32_t table, char const* name, char const* description, int32_t dimension, int32_t type,
                    int32_t attribute, int32_t length, int32_t decimals, int32_t flags, char const* deflt,
                    char const* mask) {
  s_table* t = tableOfHandle(table);
  if (!t || type == 8 || type == 9 || !zxdb::plainName(name)) return -1;
  s_schema* sp = t->schema;
  // A table read from the descriptor was made for the fields it has.
  auto& design = sp->u.zx->design;
  int32_t capacity = design.count(t) ? design[t].capacity : t->d.nfields;
  if (t->d.nfields >= capacity) {
    Error(__DbErrmsg("IO_TOO_MUCH_FIELDS"), t->d.name, int(capacity));
    return -1;
  }
  if (dimension < 0 || dimension > 65535 || length < 0 || length > 65534 || decimals < 0 || decimals > 255 ||
      attribute < 0 || attribute > 65535)
    return -1;
  if (type == 0 && length > 28) length = 28;
  int32_t itype = CalcItype(type, length);
  if (itype < 0) return -1;
  int64_t size = int64_t(dbElemSize(uint16_t(itype), uint16_t(length))) * (dimension ? dimension : 1);
  if (t->d.len + size > kMaxRecord) return -1;
  bool temp = t->d.flags & 1;
  if (!temp)
    if (int32_t r = storedChange(sp, "AddTabField")) return r;
  char lname[11];
  lower10(lname, name);
  if (FindDbField(table & 0xffff00, lname) >= 0) {
    _io_errno_ = 7;
    return -1;
  }
  char* cmask = nullptr;
  bool hasMask = mask && mask[0];
  if (hasMask && (flags & 2) && CompileMask(mask, &cmask) != 0) {
    _io_errno_ = 8;
    return -1;
  }
  s_field& f = t->fields[t->d.nfields];
  f = s_field{};
  f.d.name = zxdb::keepText(sp, lname);
  f.d.descr = zxdb::keepText(sp, description);
  f.d.mask = hasMask ? zxdb::keepText(sp, mask) : nullptr;
  if (cmask) {
    f.cmask = cmask;
    sp->u.zx->allocs.push_back(cmask);
  }
  f.d.dim = uint16_t(dimension);
  f.d.type = uint16_t(type);
  f.d.len = uint16_t(length);
  f.d.f_itype = uint16_t(itype);
  f.d.attr = uint16_t(attribute);
  f.d.dec = uint8_t(decimals);
  f.d.flags = uint16_t(flags & ~2);
  f.d.offset = t->d.len;
  auto named = [&](char const* s) { return std::strcmp(lname, s) == 0; };
  if ((type == 2 && named("cdate")) || (type == 3 && named("ctime")) || (type == 0 && length == 5 && named("cuid"))) {
    f.d.flags |= 0x40;
    t->d.flags |= 2;
  } else if ((type == 2 && named("mdate")) || (type == 3 && named("mtime")) ||
             (type == 0 && length == 5 && named("muid"))) {
    f.d.flags |= 0x80;
    t->d.flags |= 4;
  }
  int32_t slot = dbTableSlot(table);
  int32_t oldLen = t->d.len;
  t->d.len = uint16_t(t->d.len + size);
  t->d.nfields = uint8_t(t->d.nfields + 1);
  int32_t fh = (table & 0xffff00) | t->d.nfields;
  // The record buffer grows with the record: record, then its number.
  char* old = sp->tables[slot].buffer;
  char* buf = static_cast<char*>(def_Alloc(size_t(t->d.len) + 4, __FILE__, __LINE__));
  if (old) std::memcpy(buf, old, size_t(oldLen));
  def_Free(old, __FILE__, __LINE__);
  sp->tables[slot].buffer = buf;
  if (deflt && deflt[0]) {
    Expr e{String(deflt)};
    if (!e.isNull()) SetDeflt(fh, &e);
  }
  if (!temp) sp->rewrite = 1;
  return fh;
}

int32_t RenameTable(int32_t table, char const* name) {
  s_table* t = tableOfHandle(table);
  if (!t || !zxdb::plainName(name)) return -1;
  s_schema* sp = t->schema;
  char lname[11];
  lower10(lname, name);
  if (_FindTabSlot(sp, lname)) {
    _io_errno_ = 7;
    return -1;
  }
  bool temp = t->d.flags & 1;
  if (!temp)
    if (int32_t r = storedChange(sp, "RenameTable")) return r;
  FlushTable(table & 0xffff00);
  if (!temp) {
    // The renames and the new descriptor go through one journal: a kill
    // between two renames never leaves a descriptor naming files that are
    // gone (the next open would find the table empty).
    std::string ops;
    auto renamed = [&](char const* ext) {
      ops += std::string("R ") + t->d.name + "." + ext + " " + lname + "." + ext + "\n";
    };
    for (int32_t i = 0; i < t->nindexes; ++i) {
      s_index& ix = t->indexes[i];
      if (!ix.d.nparts || (ix.d.flags & 2)) continue;
      if (ix.file) _DbClose(ix.file);
      ix.file = nullptr;
      char ext[8];
      zfSnprintf(ext, sizeof ext, "i%02d", int(i));
      renamed(ext);
    }
    renamed("tab");
    if (t->data) _DbClose(t->data);
    t->data = nullptr;
    char oldName[11];
    std::memcpy(oldName, t->d.name, 11);
    std::memcpy(t->d.name, lname, 11);
    if (zxdb::journalledChange(sp, ops) != 0) {
      std::memcpy(t->d.name, oldName, 11);
      t->data = _DbOpen(sp, oldName, "tab", O_RDWR | O_CREAT | 0x1000);
      return -1;
    }
    t->data = _DbOpen(sp, lname, "tab", O_RDWR | O_CREAT | 0x1000);
  } else {
    std::memcpy(t->d.name, lname, 11);
  }
  return 0;
}

int32_t RenameField(int32_t field, char const* name) {
  s_table* t = nullptr;
  s_field* f = fieldOfHandle(field, t);
  if (!f || !zxdb::plainName(name)) return -1;
  char lname[11];
  lower10(lname, name);
  if (FindDbField(field & 0xffff00, lname) >= 0) {
    _io_errno_ = 7;
    return -1;
  }
  bool temp = t->d.flags & 1;
  if (!temp)
    if (int32_t r = storedChange(t->schema, "RenameField")) return r;
  f->d.name = zxdb::keepText(t->schema, lname);
  if (!temp) t->schema->rewrite = 1;
  return 0;
}

int32_t DeleteTable(int32_t table) {
  s_schema* sp = _GetSchPtr(table & 0xff0000);
  if (!sp) return -1;
  int32_t slot = dbTableSlot(table);
  if (slot < 1 || slot > kDbMaxTables || !sp->tables[slot].tab) return -1;
  if (sp->tables[slot].alias) return 0;
  s_table* t = sp->tables[slot].tab;
  bool temp = t->d.flags & 1;
  if (privRefused(sp, temp, t->d.flags)) return -1;
  if (!temp)
    if (int32_t r = storedChange(sp, "DeleteTable")) return r;
  closeTableFiles(t, !temp);
  forgetTable(sp, slot);
  if (!temp) writeNow(sp);
  return 0;
}

int32_t DropTable(int32_t table) {
  s_table* t = tableOfHandle(table);
  if (!t) return -1;
  // A reference check of another table's field that names this table.
  int32_t ref = FindTabReference(table);
  if (ref != -1) {
    _io_errno_ = 12;
    if (t->d.flags & 4) Error(__DbErrmsg("(12)"), t->d.name, t->schema->tables[dbTableSlot(ref)].tab->d.name);
    return -1;
  }
  return DeleteTable(table);
}

int32_t DelAllRecords(int32_t table) {
  s_table* t = tableOfHandle(table);
  if (!t) return -1;
  if (!(t->privg & DB_TAB_DELETE)) {
    Warning(__DbErrmsg("(21)"), t->schema->d.name, t->d.name, "DELETE");
    return -1;
  }
  int32_t th = table & 0xffff00;
  if (!(t->d.flags & 1)) {
    int32_t r = LockTable(th, 3);
    if (r != 0) return r == -2 ? -2 : -1;
  }
  int32_t rc = zxdb::truncateTableFiles(t);
  if (FreeTable(th) != 0) rc = -1;
  return rc;
}

int32_t SetTabRelCheck(int32_t table, Expr const* expression) {
  s_table* t = tableOfHandle(table);
  return t ? setExpression(t, t->d.check, t->check, expression, "SetTabRelCheck") : -1;
}

int32_t SetDeflt(int32_t field, Expr const* expression) {
  s_table* t = nullptr;
  s_field* f = fieldOfHandle(field, t);
  return f ? setExpression(t, f->d.deflt, f->deflt, expression, "SetDeflt") : -1;
}

int32_t SetRelCheck(int32_t field, Expr const* expression) {
  s_table* t = nullptr;
  s_field* f = fieldOfHandle(field, t);
  return f ? setExpression(t, f->d.check, f->check, expression, "SetRelCheck") : -1;
}

int32_t _SetInCheck(int32_t field, InCheck const* check, char const* text) {
  s_table* t = nullptr;
  s_field* f = fieldOfHandle(field, t);
  if (!f || !check || f->d.incheck.data || check->getType() != InCheck::INLIST) return -1;
  int32_t len = 0;
  uint8_t* bytes = StoreInCheck(check, &len);
  if (!bytes) return -1;
  std::vector<uint8_t> stored(bytes, bytes + std::max<int32_t>(len, 0));
  def_Free(bytes, __FILE__, __LINE__);
  if (len < 2 || len > kMaxCheckStored) return -1;
  bool temp = t->d.flags & 1;
  if (!temp)
    if (int32_t r = storedChange(t->schema, "_SetInCheck")) return r;
  InCheck* loaded = LoadInCheck(stored.data(), len);
  if (!loaded) return -1;
  f->d.incheck.data = static_cast<uint8_t const*>(zxdb::keepBytes(t->schema, stored.data(), stored.size()));
  f->d.incheck.len = len;
  f->incheck = loaded;
  f->d.inctext = zxdb::keepText(t->schema, text);
  if (!temp) t->schema->rewrite = 1;
  return 0;
}

int32_t CreateIndex(int32_t table, char const* name, int32_t flags, int32_t nodekilobytes) {
  s_table* t = tableOfHandle(table);
  if (!t) return -1;
  if (name && !zxdb::plainName(name)) return -1;
  s_schema* sp = t->schema;
  if (t->d.flags & 1) flags |= 2;
  bool temp = flags & 2;
  if (nodekilobytes > kMaxNodeKb) return -1;
  if (privRefused(sp, temp, flags)) return -1;
  if (!temp) {
    if (!sp->u.zx->designLoaded) {
      Error(__DbErrmsg("(17)"), "CreateIndex", sp->d.name);
      _io_errno_ = 17;
      return -1;
    }
    if (int32_t r = storedChange(sp, "CreateIndex")) return r;
  }
  char lname[11] = {};
  if (name) lower10(lname, name);
  int32_t th = table & 0xffff00;
  if (name && FindDbIndex(th, lname) >= 0) {
    _io_errno_ = 7;
    return -1;
  }
  int32_t slot = _FindIndSlot(t);
  if (slot < 0) return -1;
  // Stored indexes come before temporary ones: the descriptor numbers them
  // in order.
  if (!temp)
    for (int32_t i = 0; i < slot; ++i)
      if (t->indexes[i].d.nparts && (t->indexes[i].d.flags & 2)) return -1;
  std::string tempName;
  if (temp) {
    tempName = zxdb::makeTempName(sp, "i", zxdb::kTempIndexExt);
    if (tempName.empty()) {
      _io_errno_ = 5;
      return -1;
    }
  }
  if (slot == t->nindexes) {
    // A longer array: what the process keeps per index goes first.
    FlushTable(th);
    auto grown = static_cast<s_index*>(def_Alloc(sizeof(s_index) * size_t(t->nindexes + 1), __FILE__, __LINE__));
    sp->u.zx->allocs.push_back(grown);
    if (t->nindexes) std::memcpy(grown, t->indexes, sizeof(s_index) * size_t(t->nindexes));
    t->indexes = grown;
    t->nindexes += 1;
  }
  s_index& ix = t->indexes[slot];
  ix = s_index{};
  ix.d.name = name ? zxdb::keepText(sp, lname) : nullptr;
  ix.d.flags = uint16_t(flags & ~4);
  if (slot == 0) ix.d.flags |= 1;
  ix.d.node = uint16_t((nodekilobytes > 0 ? nodekilobytes : 1) * 1024);
  if (!temp && t->d.size > 0 && nodekilobytes <= 0) ix.d.flags |= 4;
  if (temp) {
    designOf(t).tempIndex[slot] = tempName;
  } else {
    char ext[8];
    zfSnprintf(ext, sizeof ext, "i%02d", int(slot));
    ix.file = _DbOpen(sp, t->d.name, ext, O_RDWR | O_CREAT | O_TRUNC);
    if (!ix.file) {
      ix = s_index{};
      _io_errno_ = 5;
      return -1;
    }
    int32_t n = 0;
    for (int32_t i = 0; i < t->nindexes; ++i) n += (t->indexes[i].d.flags & 2) == 0;
    t->d.nindex = uint8_t(std::min(n, 255));
    sp->rewrite = 1;
  }
  return th | slot;
}

int32_t AddIndField(int32_t index, int32_t field, int32_t flags, int32_t offset, int32_t length) {
  s_table* t = tableOfHandle(index);
  if (!t || field == 0) return -1;
  int32_t number = dbLowByte(index);
  if (number >= t->nindexes) return -1;
  s_index& ix = t->indexes[number];
  s_table* ft = nullptr;
  s_field* f = fieldOfHandle(field, ft);
  if (!f || ft != t || f->d.type == 9) return -1;
  if (ix.d.nparts >= 65535 || offset < 0 || length < 0 || flags < 0 || flags > 65535) return -1;
  int32_t len;
  if (f->d.f_itype == DB_IT_TEXT) {
    if (offset > f->d.len) return -1;
    len = length > 0 ? length : f->d.len - offset;
    if (len <= 0 || offset + len > f->d.len) return -1;
  } else {
    offset = 0;
    len = dbElemSize(f->d.f_itype, f->d.len);
  }
  if (ix.d.klen + len > kMaxKey) return -1;
  bool temp = ix.d.flags & 2;
  if (!temp)
    if (int32_t r = storedChange(t->schema, "AddIndField")) return r;
  int32_t at = f->d.offset + offset;
  for (int32_t k = 0; k < ix.d.nparts; ++k)
    if (ix.parts[k].offset == at) {
      _io_errno_ = 7;
      return -1;
    }
  uint16_t pflags = uint16_t(flags);
  if (number == 0) {
    pflags &= uint16_t(~2);
    if (f->d.flags & 0x40) {
      f->d.flags = uint16_t((f->d.flags & ~0x40) | 0x100);
      if (t->d.flags & 2) t->d.flags = uint16_t((t->d.flags & ~2) | 8);
    }
  }
  s_schema* sp = t->schema;
  auto parts = static_cast<s_index_field*>(
      def_Alloc(sizeof(s_index_field) * size_t(ix.d.nparts + 1), __FILE__, __LINE__));
  sp->u.zx->allocs.push_back(parts);
  if (ix.d.nparts) std::memcpy(parts, ix.parts, sizeof(s_index_field) * ix.d.nparts);
  s_index_field& p = parts[ix.d.nparts];
  p.itype = f->d.f_itype;
  p.flags = pflags;
  p.len = uint8_t(len);
  p.spare = 0;
  p.offset = uint16_t(at);
  p.field = field & 0xffff;  // table slot and field: the stored form names no schema slot
  ix.parts = parts;
  ix.d.nparts = uint16_t(ix.d.nparts + 1);
  ix.d.klen = uint16_t(ix.d.klen + len);
  if (ix.d.flags & 4) {
    double kb = newtonSqrt(double(t->d.size)) * (ix.d.klen + 4) / 1000;
    int32_t n = std::clamp<int32_t>(int32_t(kb), 1, kMaxNodeKb);
    ix.d.node = uint16_t(n * 1024);
  }
  if (!temp) {
    if (number == 0 && t->d.nindex == 0) t->d.nindex = 1;
    sp->rewrite = 1;
  }
  return 0;
}

int32_t DropIndex(int32_t index) {
  s_table* t = tableOfHandle(index);
  if (!t) return -1;
  int32_t number = dbLowByte(index);
  if (number >= t->nindexes || !t->indexes[number].d.nparts) return -1;
  s_schema* sp = t->schema;
  s_index& ix = t->indexes[number];
  bool temp = ix.d.flags & 2;
  if (privRefused(sp, temp, ix.d.flags)) return -1;
  if (!temp)
    if (int32_t r = storedChange(sp, "DropIndex")) return r;
  int32_t th = index & 0xffff00;
  // Every index file closed and what the process keeps forgotten: the
  // entries move.
  FlushTable(th);
  for (int32_t i = 0; i < t->nindexes; ++i)
    if (t->indexes[i].d.nparts || t->indexes[i].file) EmptyIndex(th | i);
  auto& tempIndex = designOf(t).tempIndex;
  auto extOf = [](int32_t i) {
    char ext[8];
    zfSnprintf(ext, sizeof ext, "i%02d", int(i));
    return std::string(ext);
  };
  // The stored index files that move down one place, and what their
  // headers hold where the rebuild mark goes.
  std::vector<int32_t> moving;
  std::vector<std::array<uint8_t, 4>> heads;
  std::vector<bool> headRead;  // false: a header too short to hold the mark keeps it
  std::string ops;
  if (!temp) {
    for (int32_t i = number + 1; i < t->nindexes; ++i)
      if (t->indexes[i].d.nparts && !(t->indexes[i].d.flags & 2)) moving.push_back(i);
    // A moving file is marked for rebuilding before any name changes:
    // after a kill, whichever descriptor holds finds each of them rebuilt
    // from the records rather than read under another index's definition.
    for (int32_t i : moving) {
      std::array<uint8_t, 4> h{};
      bool read = false;
      if (s_vfile* vf = _DbOpen(sp, t->d.name, extOf(i).c_str(), O_RDONLY)) {
        read = _DbRead(vf, h.data(), 4, 4, 0) == 0;
        _DbClose(vf);
      }
      heads.push_back(h);
      headRead.push_back(read);
      if (!zxdb::markIndexForRebuild(sp, t->d.name, extOf(i).c_str())) return -1;
    }
    std::string name(t->d.name);
    for (int32_t i : moving) ops += "R " + name + "." + extOf(i) + " " + name + "." + extOf(i - 1) + "\n";
    for (int32_t i : moving) ops += "M " + name + "." + extOf(i - 1) + "\n";
    if (moving.empty()) ops += "U " + name + "." + extOf(number) + "\n";
  }
  tempIndex.erase(number);
  // With flag 3 the entry is only cleared; a stored one is cleared only
  // when it is the last, since the descriptor numbers stored indexes in
  // order and their files would no longer match.
  if ((ix.d.flags & 8) && (temp || number + 1 == t->nindexes)) {
    ix = s_index{};
  } else {
    for (int32_t i = number + 1; i < t->nindexes; ++i) {
      t->indexes[i - 1] = t->indexes[i];
      auto it = tempIndex.find(i);
      if (it != tempIndex.end()) {
        tempIndex[i - 1] = it->second;
        tempIndex.erase(i);
      }
    }
    t->nindexes -= 1;
    // Reference checks that name a later index of this table follow it
    // down, and those naming the dropped one name no index; their stored
    // forms go with the new descriptor.
    _CorrectIndexRefs(sp, dbTableSlot(index), number);
  }
  int32_t n = 0;
  for (int32_t i = 0; i < t->nindexes; ++i) n += t->indexes[i].d.nparts && !(t->indexes[i].d.flags & 2);
  t->d.nindex = uint8_t(std::min(n, 255));
  if (!temp) {
    // The removal, the renames and the new descriptor go through one
    // journal; once it is carried out, the moved files lose their marks.
    if (zxdb::journalledChange(sp, ops) != 0) {
      // No journal could be written: the files move unprotected, each
      // still marked for rebuilding.
      if (moving.empty()) _DbUnlink(sp, t->d.name, extOf(number).c_str());
      for (int32_t i : moving) _DbRename(sp, t->d.name, extOf(i).c_str(), t->d.name, extOf(i - 1).c_str());
      writeNow(sp);
      return 0;
    }
    for (size_t m = 0; m < moving.size(); ++m) {
      if (!headRead[m]) continue;
      if (s_vfile* vf = _DbOpen(sp, t->d.name, extOf(moving[m] - 1).c_str(), O_RDWR)) {
        _DbWrite(vf, heads[m].data(), 4, 4);
        _DbClose(vf);
      }
    }
  }
  return 0;
}

uint32_t* GetTabEquiv(int32_t newTable, int32_t oldTable) {
  s_table* nt = tableOfHandle(newTable);
  s_table* ot = tableOfHandle(oldTable);
  if (!nt || !ot) return nullptr;
  auto words = static_cast<uint32_t*>(def_Alloc(sizeof(uint32_t) * (ot->d.nfields ? ot->d.nfields : 1), __FILE__,
                                                __LINE__));
  for (int32_t i = 0; i < ot->d.nfields; ++i) {
    s_field const& of = ot->fields[i];
    int32_t fh = FindDbField(newTable & 0xffff00, of.d.name);
    if (fh < 0) {
      words[i] = 0x20000000u;
      continue;
    }
    s_field const& nf = nt->fields[dbLowByte(fh) - 1];
    uint32_t w = uint32_t(fh) & 0xffffffu;
    if (nf.d.type != of.d.type) w |= 0x40000000u;
    if ((nf.d.flags & 1) && !(of.d.flags & 1) && !nf.d.deflt.data) w |= 0x80000000u;
    if (nf.d.len < of.d.len) w |= 0x8000000u;
    if (nf.d.dec < of.d.dec) w |= 0x10000000u;
    if (nf.d.dim < of.d.dim) w |= 0x2000000u;
    bool sameSize = nf.d.f_itype == DB_IT_TEXT ? nf.d.len == of.d.len : nf.d.dec == of.d.dec;
    if (dbLowByte(fh) - 1 == i && nf.d.f_itype == of.d.f_itype && nf.d.dim == of.d.dim && sameSize &&
        nf.d.type == of.d.type)
      w |= 0x1000000u;
    words[i] = w;
  }
  return words;
}

}  // extern "C"

