// Data definition through a server: schemas, tables with their fields,
// indexes with their key parts, enumerations, field and table attributes,
// drops, renames, index builds and table conversion.
//
// A new table or index is defined locally first, in the interface's
// descriptors, and sent to the server in one request: a table when its last
// declared field has been added, an index by CompleteIndex (or BuildIndex).
// Attributes, drops and renames go to the server at once. Every request
// joins the program's transaction first; one that cannot join is refused
// (_io_errno_ 15).
//
// States of a table descriptor made here:
//   defined   (CreateTable)  record length 32 + fields so far, no object on
//             the server, `declared` fields expected
//   sent      (the last AddTabField: _CreateTable)  attached like a table
//             the server described: object id, server number, converters
//   gone      (DeleteTable / DropTable)  dropped on the server, slot freed
// A table whose create request fails stays defined (it can be dropped
// locally); an index stays local (server number -1) until its Create
// request succeeds.
//
// Everything a caller or a reply gives is checked before a request is
// sent or a descriptor changed: field types, lengths, key sizes, value
// checks over 8 KB, schema privilege levels, reply lengths.
#include <zfound/DbConnection.h>
#include <zfound/Environ.h>
#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/Format.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/ObjectId.h>

#include "Omdb.h"
#include "OmdbRecords.h"
#include "OmdbTrans.h"

#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t kMaxKey = 255;
constexpr int32_t kMaxCheckStored = 8 * 1024;
constexpr int32_t kMaxRecord = 65535;
// Error codes of the server's replies used here.
constexpr int32_t kNoPrivilege = 3;
constexpr int32_t kBeingUsed = 6;
constexpr int32_t kCantConvert = 16;
// SetAttrib codes.
constexpr int32_t kAttrInCheck = 1, kAttrRelCheck = 2, kAttrDefault = 4, kAttrCollate = 8, kAttrTabCheck = 16,
                  kAttrObjRef = 32;
// Activation answers while a copy job has work left.
constexpr int32_t kActivationMore = 30;

std::string lowered(char const* name, size_t max) {
  std::string s;
  for (size_t i = 0; name != nullptr && name[i] && i < max; ++i)
    s += char(std::tolower(static_cast<unsigned char>(name[i])));
  return s;
}

// The first free slot of the open-schema table, -1 none.
int32_t freeSchemaSlot() {
  bool used[kDbMaxSchemas + 1] = {};
  for (int32_t h = FindNextSchema(0); h > 0; h = FindNextSchema(h)) used[dbSchemaSlot(h)] = true;
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s)
    if (!used[s]) return s;
  return -1;
}

// The descriptor of a schema just created on its server, stored in `slot`
// and made current (a schema without tables, open mode 16).
s_schema* makeSchema(int32_t slot, std::string const& name, std::string const& server, DbConnection* conn,
                     int32_t objId, char const* description) {
  static bool stopHookSet = false;
  auto* sp = new s_schema{};
  auto* os = new om_schema{};
  sp->u.om = os;
  os->name = name;
  os->server = server;
  os->version = -1;
  os->mode = 0x10;
  os->conn = conn;
  os->objId = objId;
  os->protocol = kOmProtocol;
  os->ntables = 1;
  std::snprintf(sp->d.name, sizeof sp->d.name, "%.10s", name.c_str());
  sp->d.descr = omKeepText(description ? description : "");
  sp->d.n_tables = 1;
  sp->tables = new tab_array[kDbMaxTables + 1]();
  sp->handle = dbSchemaHandle(slot);
  sp->oflags = 0x10;
  sp->owner = int32_t(ProcUserId());
  sp->privg = DB_SCH_DESIGN;
  _SetSchPtr(slot, sp);
  if (!stopHookSet) {
    OnStop(CloseAllSchemas);
    stopHookSet = true;
  }
  return sp;
}

// A table defined here, not yet on the server, with room for `nfields`.
s_table* makeTable(s_schema* sp, std::string const& name, int32_t nfields) {
  auto* tp = new s_table{};
  auto* ot = new om_table{};
  tp->u.om = ot;
  tp->schema = sp;
  ot->name = name;
  std::snprintf(tp->d.name, sizeof tp->d.name, "%.10s", name.c_str());
  tp->fields = new s_field[size_t(nfields) + 1]();
  tp->indexes = new s_index[1]();
  return tp;
}

void freeMadeTable(s_table* tp) {
  delete[] tp->fields;
  delete[] tp->indexes;
  delete omOf(tp);
  delete tp;
}

// The table descriptor of a handle as it stands: a table defined here and
// not sent yet is not attached.
s_table* tableOf(int32_t handle) {
  if (dbTableSlot(handle) == 0) return nullptr;
  s_schema* sp = omSchema(handle & 0xff0000);
  if (sp == nullptr || sp->tables == nullptr) return nullptr;
  s_table* t = sp->tables[dbTableSlot(handle)].tab;
  if (t == nullptr) return nullptr;
  if (omOf(t)->declared > 0) return t;
  return omTable(handle & 0xffff00);
}

s_field* fieldOf(int32_t handle, s_table*& t) {
  t = tableOf(handle);
  if (t == nullptr || dbLowByte(handle) < 1 || dbLowByte(handle) > t->d.nfields) return nullptr;
  return &t->fields[dbLowByte(handle) - 1];
}

bool onServer(s_table const* t) { return omOf(const_cast<s_table*>(t))->objId != -1; }

// The schema's own object and its connection; null when not attached.
DbConnection* schemaConn(s_schema* sp) {
  om_schema* os = omOf(sp);
  return os->objId != -1 ? os->conn : nullptr;
}

// The error of the last request raised (a report that ends the program
// after start-up, as every unexpected server error does).
void raiseLast() {
  if (Exception::last().code() != 0) Exception::last().raise();
}

// Interface table flags to the server's: bit 1 creation stamps, bit 3 the
// stamp in the primary key, 0x20 as it is.
int32_t convTabFlags(int32_t f) {
  int32_t r = 0;
  if (f & 2) r |= 1;
  if (f & 8) r |= 2;
  if (f & 0x20) r |= 0x20;
  return r;
}

// Interface field flags to the server's.
int32_t convFldFlags(int32_t f) {
  int32_t r = f & 1;
  if (f & 4) r |= 0x10;
  if (f & 8) r |= 0x40;
  if (f & 0x10) r |= 0x20;
  if (f & 0x1c0) r |= 2;
  if (f & 0x140) r |= 8;
  if (f & 0x80) r |= 4;
  return r;
}

// The field types a table may hold (CalcItype's).
bool knownType(int32_t type) {
  return type == 0 || type == 1 || type == 2 || type == 3 || type == 4 || type == 5 || type == 8 || type == 9 ||
         type == 10;
}

// The slot of table t in its schema, 0 when it has none.
int32_t slotOf(s_table const* t) {
  s_schema* sp = t->schema;
  for (int32_t s = 1; sp != nullptr && sp->tables != nullptr && s <= kDbMaxTables; ++s)
    if (sp->tables[s].tab == t && !sp->tables[s].alias) return s;
  return 0;
}

// True when a table of the schema other than `self` is named `name`
// (lower case). Whole names are compared, as the server and the table
// lookups compare them.
bool nameTaken(s_schema* sp, std::string const& name, s_table const* self) {
  for (int32_t s = 1; sp->tables != nullptr && s <= kDbMaxTables; ++s) {
    s_table* t = sp->tables[s].tab;
    if (t == nullptr || t == self || sp->tables[s].alias) continue;
    if (lowered(omOf(t)->name.c_str(), std::string::npos) == name) return true;
  }
  return false;
}

// The default text of a field compiled as an expression: null when there is
// none or it does not compile.
std::unique_ptr<Expr> compiledDefault(om_field const& of) {
  if (of.defaultText.empty()) return nullptr;
  auto e = std::make_unique<Expr>(String(of.defaultText.c_str()));
  if (e->isNull()) return nullptr;
  return e;
}

}  // namespace

// ---- schemas -------------------------------------------------------------------------------

extern "C" {

int32_t CreateSchema(char const* path, char const* description) {
  if (path == nullptr || *path == 0) return -1;
  std::string whole(path), server, name;
  size_t slash = whole.find('/');
  if (slash != std::string::npos) {
    server = whole.substr(0, slash);
    name = whole.substr(slash + 1);
  } else {
    name = whole;
  }
  if (name.empty() || name.find('/') != std::string::npos) return -1;
  int32_t slot = freeSchemaSlot();
  if (slot < 0) {
    _io_errno_ = 14;
    return -1;
  }
  DbConnection* conn = omServerConnection(server);
  if (conn == nullptr) {
    _io_errno_ = 2;
    return -1;
  }
  if (!omdb::joinTrans(conn, false)) {
    _io_errno_ = 15;
    DbConnection::dispose(conn);
    return -1;
  }
  omBegin(*conn, kOmServerObject, DBM_ATTACH)
      << int32_t(kOmAttachSchema) << int32_t(0) << int32_t(1) << name.c_str() << description;
  int32_t objId = omExecute(*conn);
  int32_t kept = 0;
  if (objId != -1) *conn >> kept;
  omdb::endImplicit();
  if (objId == -1) {
    _io_errno_ = 3;
    DbConnection::dispose(conn);
    return -1;
  }
  conn->addSchema(String(name.c_str()));
  return makeSchema(slot, name, server, conn, objId, description)->handle;
}

int32_t _DropSchema(int32_t schema, int32_t checkpoint) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr) return -1;
  om_schema* os = omOf(sp);
  if (LockSchema(sp->handle, 1) != 0) return -2;
  DbConnection* conn = os->conn;
  if (conn == nullptr) return -1;
  omBegin(*conn, kOmServerObject, DBM_DROP) << os->name.c_str();
  int32_t r = omExecute(*conn);
  if (r == -1) {
    int32_t code = omLastError();
    FreeSchema(sp->handle);
    if (code == 0) return -1;
    if (code == kNoPrivilege) {
      _io_errno_ = 1;
      return -1;
    }
    if (code == kBeingUsed) return -2;
    raiseLast();
    return -1;
  }
  int32_t result = 0;
  if (checkpoint) {
    omBegin(*conn, kOmServerObject, DBM_CHECKPOINT) << int32_t(0);
    if (omExecute(*conn) & 0x16) result = -1;
  }
  // The server dropped the schema: it is forgotten here whatever the
  // checkpoint answered.
  conn->delSchema(String(os->name.c_str()));
  // No detach goes for the dropped schema's object.
  os->objId = -1;
  CloseSchema(sp->handle);
  return result;
}

int32_t DropSchema(int32_t schema) { return _DropSchema(schema, 0); }

int32_t DbCheckPoint(int32_t schema) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr || omOf(sp)->conn == nullptr) return 0;
  DbConnection& c = *omOf(sp)->conn;
  omBegin(c, kOmServerObject, DBM_CHECKPOINT) << int32_t(0);
  return (omExecute(c) & 0x16) == 0 ? 1 : 0;
}

int32_t LockSchema(int32_t schema, int32_t mode) {
  (void)mode;  // the server has one schema lock
  s_schema* sp = omSchema(schema);
  if (sp == nullptr) return -1;
  DbConnection* conn = schemaConn(sp);
  if (conn == nullptr) return -1;
  omBegin(*conn, omOf(sp)->objId, DBM_LOCK);
  return omExecute(*conn) == -1 ? -2 : 0;
}

int32_t FreeSchema(int32_t schema) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr) return -1;
  DbConnection* conn = schemaConn(sp);
  if (conn == nullptr) return -1;
  // Free is a void request: it travels with the next request.
  omBegin(*conn, omOf(sp)->objId, DBM_FREE);
  omExecute(*conn);
  return 0;
}

char* GetSchemas(void) {
  static char* buffer = nullptr;
  static size_t capacity = 0;
  String all = DbConnection::accessiblesSchemas(String());
  char const* text = all.isNull() ? "" : toCharPtr(all);
  size_t n = std::strlen(text) + 1;
  if (n > capacity) {
    char* grown = static_cast<char*>(def_Alloc(n, __FILE__, __LINE__));
    if (buffer != nullptr) def_Free(buffer, __FILE__, __LINE__);
    buffer = grown;
    capacity = n;
  }
  std::memcpy(buffer, text, n);
  return buffer;
}

// ---- tables ----------------------------------------------------------------------------------

int32_t CreateTable(int32_t schema, char const* name, char const* description, int32_t flags, int32_t reserved,
                    int32_t nfields) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr) return -1;
  bool temp = (flags & 1) != 0;
  if (nfields <= 0) {
    Error(__DbErrmsg("IO_NEED_TABFIELDS"), name ? name : "");
    return -1;
  }
  if (nfields > kDbMaxFields) return -1;
  std::string lname = temp ? std::string() : lowered(name, 10);
  if (!temp && lname.empty()) return -1;
  // Names are cut to 10 characters: a cut name that names a table already
  // would put two tables under one name.
  if (!temp && nameTaken(sp, lname, nullptr)) {
    _io_errno_ = 7;
    return -1;
  }
  s_table* t = makeTable(sp, lname, nfields);
  if (t == nullptr) return -1;
  int32_t handle = _NewTabSlot(sp, t);
  if (handle < 0) {
    freeMadeTable(t);
    _io_errno_ = 7;
    return -1;
  }
  om_table* ot = omOf(t);
  t->d.flags = uint16_t(flags & 0x5);
  t->d.descr = omKeepText(description);
  t->d.size = reserved;
  t->d.len = uint16_t(kOmPrefixBytes);
  t->privg = DB_TAB_ALL;
  ot->declared = nfields;
  ot->conn = omOf(sp)->conn;
  int32_t slot = dbTableSlot(handle);
  sp->tables[slot].buffer = static_cast<char*>(def_Alloc(size_t(t->d.len) + 4, __FILE__, __LINE__));
  std::memset(sp->tables[slot].buffer, 0, size_t(t->d.len) + 4);
  return handle;
}

int32_t _ReCreateTable(int32_t schema, char const* name, char const* description, int32_t flags,
                       int32_t reserved, int32_t nfields) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr) return -1;
  if (nfields <= 0) {
    Error(__DbErrmsg("IO_NEED_TABFIELDS"), name ? name : "");
    return -1;
  }
  if (nfields > kDbMaxFields) return -1;
  // The table of that whole name; else the one a creation under that name
  // made (its name cut to 10 characters).
  int32_t slot = 0;
  for (std::string lname : {lowered(name, std::string::npos), lowered(name, 10)})
    for (int32_t s = 1; sp->tables != nullptr && s <= kDbMaxTables && slot == 0; ++s) {
      s_table* t = sp->tables[s].tab;
      if (t != nullptr && !sp->tables[s].alias && lowered(omOf(t)->name.c_str(), std::string::npos) == lname)
        slot = s;
    }
  if (slot == 0) {
    _io_errno_ = 7;
    return -1;
  }
  s_table* t = sp->tables[slot].tab;
  // The old definition goes (and its attachment on the server, which the
  // create request replaces).
  omResetTable(t);
  delete[] t->fields;
  delete[] t->indexes;
  t->fields = new s_field[size_t(nfields) + 1]();
  t->indexes = new s_index[1]();
  t->nindexes = 0;
  t->d.nfields = 0;
  t->d.nindex = 0;
  om_table* ot = omOf(t);
  t->d.flags = uint16_t((flags & 0x5) | 0x10);
  t->d.descr = omKeepText(description);
  t->d.size = reserved;
  t->d.len = uint16_t(kOmPrefixBytes);
  t->privg = DB_TAB_ALL;
  ot->declared = nfields;
  ot->conn = omOf(sp)->conn;
  def_Free(sp->tables[slot].buffer, __FILE__, __LINE__);
  sp->tables[slot].buffer = static_cast<char*>(def_Alloc(size_t(t->d.len) + 4, __FILE__, __LINE__));
  std::memset(sp->tables[slot].buffer, 0, size_t(t->d.len) + 4);
  return dbTableHandle(sp->handle, slot);
}

int32_t AddTabField(int32_t table, char const* name, char const* description, int32_t dimension, int32_t type,
                    int32_t attribute, int32_t length, int32_t decimals, int32_t flags, char const* deflt,
                    char const* mask) {
  s_table* t = tableOf(table);
  if (t == nullptr || name == nullptr || *name == 0) return -1;
  om_table* ot = omOf(t);
  // A table on the server already has all the fields it was made for: a
  // further field is refused with the same report as one past the count.
  // The report is a warning: a caller's extra field never ends the program.
  if (ot->declared <= 0 || t->d.nfields >= ot->declared) {
    Warning(__DbErrmsg("IO_TOO_MUCH_FIELDS"), t->d.name, int(t->d.nfields));
    return -1;
  }
  if (!knownType(type)) {
    Warning(__DbErrmsg("IO_BAD_FLD_TYPE"), name, int(type));
    return -1;
  }
  if (dimension < 0 || dimension > 65535 || length < 0 || length > 65534 || decimals < 0 || decimals > 255)
    return -1;
  if (type == 0 && length > 28) length = 28;
  int32_t itype = CalcItype(type, length);
  if (itype < 0) return -1;
  std::string lname = lowered(name, 255);
  if (FindDbField(table & 0xffff00, lname.c_str()) >= 0) {
    _io_errno_ = 7;
    return -1;
  }
  int32_t dim = dimension < 2 ? 0 : dimension;
  int64_t size = int64_t(dbElemSize(uint16_t(itype), uint16_t(length))) * (dim ? dim : 1);
  if (t->d.len + size > kMaxRecord) return -1;
  // A mask beginning with the byte 1 names the environment variable that
  // holds it: the descriptor keeps the variable's value, as a described
  // table does, and the server keeps the name. A variable that is not set
  // gives no mask (a caller's mistake never ends the program).
  char const* maskValue = mask;
  if (mask != nullptr && mask[0] == 1) {
    ReadEnvHandler old = SetReadEnvHandler(nullptr);
    maskValue = def_ReadEnv(mask + 1, __FILE__, __LINE__);
    SetReadEnvHandler(old);
  }
  char* cmask = nullptr;
  bool hasMask = mask != nullptr && mask[0] != 0;
  if (hasMask && (flags & 2) && (maskValue == nullptr || CompileMask(maskValue, &cmask) != 0)) {
    _io_errno_ = 8;
    return -1;
  }
  int32_t n = t->d.nfields;
  s_field& f = t->fields[n];
  f = s_field{};
  f.d.name = omKeepText(lname.c_str());
  f.d.descr = omKeepText(description);
  f.d.mask = hasMask ? omKeepText(maskValue ? maskValue : "") : nullptr;
  f.cmask = cmask;
  f.d.dim = uint16_t(dim);
  f.d.type = uint16_t(type);
  f.d.len = uint16_t(length);
  f.d.f_itype = uint16_t(itype);
  f.d.attr = uint16_t(attribute);
  f.d.dec = uint8_t(decimals);
  f.d.flags = uint16_t(flags & ~2);
  f.d.offset = t->d.len;
  if (dim == 0) {
    auto named = [&](char const* s) { return lname == s; };
    if ((type == 2 && named("cdate")) || (type == 3 && named("ctime")) || (type == 0 && length == 5 && named("cuid"))) {
      f.d.flags = uint16_t(f.d.flags | 0x40);
      t->d.flags = uint16_t(t->d.flags | 2);
    } else if ((type == 2 && named("mdate")) || (type == 3 && named("mtime")) ||
               (type == 0 && length == 5 && named("muid"))) {
      f.d.flags = uint16_t(f.d.flags | 0x80);
      t->d.flags = uint16_t(t->d.flags | 4);
    }
  }
  ot->fields.resize(size_t(n + 1));
  om_field& of = ot->fields[size_t(n)];
  of = om_field{};
  of.kept = attribute;
  of.defaultText = deflt ? deflt : "";
  of.maskText = hasMask ? mask : "";
  of.conv = BuildZxField(&f);
  int32_t oldLen = t->d.len;
  t->d.len = uint16_t(t->d.len + size);
  t->d.nfields = uint8_t(n + 1);
  s_schema* sp = t->schema;
  int32_t slot = dbTableSlot(table);
  char* old = sp->tables[slot].buffer;
  char* buf = static_cast<char*>(def_Alloc(size_t(t->d.len) + 4, __FILE__, __LINE__));
  std::memset(buf, 0, size_t(t->d.len) + 4);
  if (old != nullptr) std::memcpy(buf, old, size_t(oldLen));
  def_Free(old, __FILE__, __LINE__);
  sp->tables[slot].buffer = buf;
  int32_t fh = (table & 0xffff00) | (n + 1);
  if (t->d.nfields == ot->declared && _CreateTable(sp->handle, t) != 0) return -1;
  return fh;
}

int32_t _CreateTable(int32_t schema, s_table* t) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr || t == nullptr || t->schema != sp) return -1;
  om_table* ot = omOf(t);
  DbConnection* conn = schemaConn(sp);
  if (conn == nullptr) return -1;
  if (!omdb::joinTrans(conn, false)) {
    _io_errno_ = 15;
    return -1;
  }
  bool temp = (t->d.flags & 1) != 0;
  int32_t create = (t->d.flags & 0x10) ? 3 : 1;
  DbConnection& c = omBegin(*conn, omOf(sp)->objId, DBM_ATTACH);
  c << int32_t(kOmAttachTable) << int32_t(1) << create << (temp ? static_cast<char const*>(nullptr) : ot->name.c_str())
    << t->d.descr << convTabFlags(t->d.flags) << t->d.size << int32_t(t->d.nfields);
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field const& f = t->fields[i];
    om_field const& of = ot->fields[size_t(i)];
    c << f.d.name << f.d.descr << int32_t(f.d.dim) << int32_t(f.d.type) << of.kept << int32_t(f.d.len)
      << int32_t(f.d.dec) << convFldFlags(f.d.flags);
    std::unique_ptr<Expr> e = compiledDefault(of);
    if (e) c << *e;
    else c << Expr();
    c << (of.maskText.empty() ? static_cast<char const*>(nullptr) : of.maskText.c_str()) << of.collate.c_str();
  }
  int32_t objId = omExecute(c);
  if (objId == -1) {
    int32_t code = omLastError();
    omdb::endImplicit();
    if (code == kNoPrivilege) {
      _io_errno_ = temp ? 13 : 1;
      if (t->d.flags & 4) Error(__DbErrmsg(temp ? "(13)" : "(1)"), sp->d.name);
      return -1;
    }
    raiseLast();
    return -1;
  }
  int32_t number = -1;
  c >> number;
  std::string given;
  if (temp) {
    char* tmp = nullptr;
    c >> tmp;
    if (tmp != nullptr && tmp != reinterpret_cast<char*>(1)) given = tmp;
    if (tmp != reinterpret_cast<char*>(1)) delete[] tmp;
  }
  if (omReplyBad(c) || number < 0 || (temp && given.empty())) {
    // A reply without the server's table number or a temporary table's
    // name: the table cannot be named; the server's object is let go.
    omBegin(*conn, omOf(sp)->objId, DBM_DETACH) << objId;
    omExecute(*conn);
    omdb::endImplicit();
    Warning(__DbErrmsg("IO_BAD_DDL_REPLY"), "CreateTable");
    return -1;
  }
  omdb::endImplicit();
  if (temp) {
    ot->name = given;
    std::strncpy(t->d.name, given.c_str(), 10);
    t->d.name[10] = 0;
  }
  ot->objId = objId;
  ot->number = number;
  ot->declared = 0;
  t->d.flags = uint16_t(t->d.flags & ~0x10);
  int32_t slot = slotOf(t);
  if (slot > 0) addDbTable(number, dbTableHandle(sp->handle, slot));
  return 0;
}

int32_t RenameTable(int32_t table, char const* name) {
  s_table* t = tableOf(table);
  if (t == nullptr || name == nullptr || *name == 0) return -1;
  s_schema* sp = t->schema;
  // The new name is cut to 14 characters (the server holds at most 16) and
  // goes to the server as it is kept here; the descriptor's own name holds
  // its first 10.
  std::string lname = lowered(name, 14);
  if (nameTaken(sp, lname, t)) {
    _io_errno_ = 7;
    return -1;
  }
  om_table* ot = omOf(t);
  if (onServer(t)) {
    if (!omdb::joinTrans(ot->conn, false)) {
      _io_errno_ = 15;
      return -1;
    }
    omBegin(*ot->conn, ot->objId, DBM_RENAME) << lname.c_str();
    int32_t r = omExecute(*ot->conn);
    int32_t code = r == -1 ? omLastError() : 0;
    omdb::endImplicit();
    if (r == -1) {
      if (code == 0) return -1;
      if (code == kBeingUsed) return -2;
      raiseLast();
      return -1;
    }
  }
  ot->name = lname;
  std::strncpy(t->d.name, lname.c_str(), 10);
  t->d.name[10] = 0;
  return 0;
}

int32_t RenameField(int32_t field, char const* name) {
  (void)field;
  (void)name;
  return 1;
}

int32_t DeleteTable(int32_t table) {
  if (dbTableSlot(table) == 0) return -1;
  s_schema* sp = omSchema(table & 0xff0000);
  if (sp == nullptr || sp->tables == nullptr) return -1;
  int32_t slot = dbTableSlot(table);
  if (sp->tables[slot].alias) return 0;
  s_table* t = sp->tables[slot].tab;
  if (t == nullptr) return -1;
  om_table* ot = omOf(t);
  bool stored = ot->declared <= 0 && !(t->d.flags & 1);
  if (ot->declared <= 0) {
    DbConnection* conn = schemaConn(sp);
    if (conn == nullptr) return -1;
    if (!omdb::joinTrans(conn, false)) {
      _io_errno_ = 15;
      return -1;
    }
    if (stored || ot->objId != -1) {
      // Drop on the schema: a table only this client holds goes (force),
      // one that another client holds is refused.
      omBegin(*conn, omOf(sp)->objId, DBM_DROP) << int32_t(kOmAttachTable) << int32_t(1) << ot->name.c_str();
      int32_t r = omExecute(*conn);
      int32_t code = r == -1 ? omLastError() : 0;
      omdb::endImplicit();
      if (r == -1) {
        if (code == kNoPrivilege) {
          _io_errno_ = (t->d.flags & 1) ? 13 : 1;
          if (t->d.flags & 4) Error(__DbErrmsg((t->d.flags & 1) ? "(13)" : "(1)"), sp->d.name);
          return -1;
        }
        if (code == kBeingUsed) return -2;
        if (code != 0) raiseLast();
        return -1;
      }
    } else {
      omdb::endImplicit();
    }
    // The server's object went with the table: nothing is detached.
    ot->objId = -1;
    if (ot->number > 0) delDbTable(ot->number, sp->handle);
  }
  omForgetTable(sp, slot);
  return 0;
}

int32_t DropTable(int32_t table) {
  s_table* t = tableOf(table);
  if (t == nullptr) return -1;
  // Another table whose value check looks keys up in this one refers to it.
  int32_t ref = FindTabReference(table);
  if (ref != -1) {
    _io_errno_ = 12;
    if (t->d.flags & 4) Error(__DbErrmsg("(12)"), t->d.name, t->schema->tables[dbTableSlot(ref)].tab->d.name);
    return -1;
  }
  return DeleteTable(table);
}

int32_t DelAllRecords(int32_t table) {
  s_table* t = tableOf(table);
  if (t == nullptr || !onServer(t)) return -1;
  om_table* ot = omOf(t);
  if (!omdb::joinTrans(ot->conn, false)) return -3;
  omBegin(*ot->conn, ot->objId, DBM_CLEAR);
  int32_t r = omExecute(*ot->conn);
  if (r == -1) {
    int32_t code = omLastError();
    if (code == 4) {
      omdb::endImplicit();
      return -2;
    }
    omdb::corruptTrans();
    if (omdb::transMode() & 4) raiseLast();
    omdb::endImplicit();
    return -3;
  }
  omdb::endImplicit();
  return r;
}

}  // extern "C"

// ---- indexes ---------------------------------------------------------------------------------

namespace {

// Room for one more index at the end of the table's index array.
void growIndexes(s_table* t) {
  auto* grown = new s_index[size_t(t->nindexes) + 2]();
  for (int32_t i = 0; i < t->nindexes; ++i) grown[i] = t->indexes[i];
  delete[] t->indexes;
  t->indexes = grown;
  ++t->nindexes;
}

void addKeyPart(s_index* ip, s_index_field const& p) {
  auto* parts = new s_index_field[size_t(ip->d.nparts) + 1]();
  for (int32_t k = 0; k < ip->d.nparts; ++k) parts[k] = ip->parts[k];
  parts[ip->d.nparts] = p;
  delete[] ip->parts;
  ip->parts = parts;
  ip->d.nparts = uint16_t(ip->d.nparts + 1);
}

// The table of an open schema that holds index descriptor ip, and the
// index's number; null when none does.
s_table* tableOfIndex(s_index const* ip, int32_t& number) {
  for (int32_t h = FindNextSchema(0); h > 0; h = FindNextSchema(h)) {
    s_schema* sp = omSchema(h);
    for (int32_t s = 1; sp != nullptr && sp->tables != nullptr && s <= kDbMaxTables; ++s) {
      s_table* t = sp->tables[s].tab;
      if (t == nullptr || sp->tables[s].alias || t->indexes == nullptr) continue;
      if (ip >= t->indexes && ip < t->indexes + t->nindexes) {
        number = int32_t(ip - t->indexes);
        return t;
      }
    }
  }
  return nullptr;
}

// Removes index `number`; the later ones move down one place.
void clearIndex(s_table* t, int32_t number) {
  om_table* ot = omOf(t);
  delete[] t->indexes[number].parts;
  delete[] t->indexes[number].d.name;
  for (int32_t i = number; i + 1 < t->nindexes; ++i) t->indexes[i] = t->indexes[i + 1];
  t->indexes[t->nindexes - 1] = s_index{};
  if (size_t(number) < ot->indexes.size()) ot->indexes.erase(ot->indexes.begin() + number);
  --t->nindexes;
  if (t->d.nindex > 0) t->d.nindex = uint8_t(t->d.nindex - 1);
}

// After index `number` of table `slot` of schema sp left the library's
// numbering (the later ones moved down one), the value checks and object
// references of the schema's described tables that name a later index of
// that table name it by its new number, and those that named the dropped
// one name no index: the server keeps its own numbers, so these still
// name the same index there.
void renumberReferences(s_schema* sp, int32_t slot, int32_t number) {
  s_table* dropped = sp->tables[slot].tab;
  uint32_t const srvNumber = uint32_t(omOf(dropped)->number);
  auto moved = [number](uint32_t n) {
    int32_t k = int32_t(n & 0xff);
    return uint32_t(k == number ? kOmNoIndex : k > number && k != kOmNoIndex ? k - 1 : k);
  };
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    s_table* o = sp->tables[s].tab;
    if (o == nullptr || sp->tables[s].alias || o->d.len == 0 || o->fields == nullptr) continue;
    om_table* oo = omOf(o);
    for (int32_t i = 0; i < o->d.nfields; ++i) {
      InCheck* check = o->fields[i].incheck;
      if (check != nullptr && check->getType() == InCheck::INTEGRITY) {
        ObjectId& ix = static_cast<Integrity*>(check)->index();
        int32_t schema = int32_t(ix.instId() & 0xff0000);
        if (ix.classId() == 0 && dbTableSlot(int32_t(ix.instId())) == slot &&
            (schema == 0 || schema == (sp->handle & 0xff0000)))
          ix = ObjectId(0, (ix.instId() & ~uint32_t(0xff)) | moved(ix.instId()));
      }
      if (size_t(i) < oo->fields.size() && srvNumber != 0 && oo->fields[size_t(i)].refClass == srvNumber)
        oo->fields[size_t(i)].refInst = moved(oo->fields[size_t(i)].refInst);
    }
  }
}

bool partNamesNoField(s_index_field const& p) { return dbLowByte(p.field) == 0; }

s_index* indexOf(int32_t handle, s_table*& t) {
  t = tableOf(handle);
  if (t == nullptr || dbLowByte(handle) >= t->nindexes) return nullptr;
  s_index* ip = &t->indexes[dbLowByte(handle)];
  return ip->d.name != nullptr || ip->d.nparts > 0 || (ip->d.flags & 2) ? ip : nullptr;
}

}  // namespace

extern "C" {

int32_t CreateIndex(int32_t table, char const* name, int32_t flags, int32_t nodekilobytes) {
  (void)nodekilobytes;  // the server sizes its nodes
  s_table* t = tableOf(table);
  if (t == nullptr) return -1;
  bool temp = (t->d.flags & 1) || (flags & 2);
  std::string lname = temp ? std::string() : lowered(name, 255);
  if (!temp && lname.empty()) return -1;
  if (!temp)
    for (int32_t i = 0; i < t->nindexes; ++i)
      if (t->indexes[i].d.name != nullptr && lname == t->indexes[i].d.name) {
        _io_errno_ = 7;
        return -1;
      }
  int32_t slot = _FindIndSlot(t);
  if (slot < 0) return -1;
  om_table* ot = omOf(t);
  if (slot == t->nindexes) {
    growIndexes(t);
  }
  if (ot->indexes.size() < size_t(t->nindexes)) ot->indexes.resize(size_t(t->nindexes));
  s_index& ix = t->indexes[slot];
  ix = s_index{};
  ix.d.name = temp ? nullptr : omKeepText(lname.c_str());
  ix.d.flags = uint16_t((flags & 5) | (temp ? 2 : 0) | (slot == 0 ? 1 : 0));
  ix.state = 0;
  ot->indexes[size_t(slot)] = om_index{};
  ot->indexes[size_t(slot)].kept = -1;  // not on the server yet
  return (table & 0xffff00) | slot;
}

int32_t AddIndField(int32_t index, int32_t field, int32_t flags, int32_t offset, int32_t length) {
  s_table* t = nullptr;
  s_index* ip = indexOf(index, t);
  if (ip == nullptr) return -1;
  om_table* ot = omOf(t);
  int32_t number = dbLowByte(index);
  if (ot->indexes[size_t(number)].kept != -1) return -1;  // on the server already
  if (ip->d.nparts >= 32 || flags < 0 || flags > 0xffff || offset < 0 || length < 0) return -1;
  s_index_field p{};
  if (field == 0 || dbLowByte(field) == 0) {
    // The record number: the second long of the prefix's object id, as a
    // described table has it.
    p.itype = DB_IT_LONG;
    p.len = 4;
    p.offset = 4;
    p.field = index & 0xffff00;
    if (number == 0) t->d.flags = uint16_t(t->d.flags | 0x20);
  } else {
    s_table* ft = nullptr;
    s_field* f = fieldOf(field, ft);
    if (f == nullptr || ft != t || f->d.dim != 0 || f->d.type == 9) return -1;
    if (number == 0 && (f->d.flags & 0x80)) return -1;
    int32_t len;
    if (f->d.f_itype == DB_IT_TEXT) {
      if (offset > f->d.len) return -1;
      len = length > 0 ? length : f->d.len - offset;
      if (len <= 0 || offset + len > f->d.len) return -1;
    } else {
      offset = 0;
      len = dbElemSize(f->d.f_itype, f->d.len);
    }
    p.itype = f->d.f_itype;
    p.len = uint8_t(std::min(len, kMaxKey));
    p.offset = uint16_t(f->d.offset + offset);
    p.field = field & 0xffff;
    if (ip->d.klen + len > kMaxKey) return -1;
    for (int32_t k = 0; k < ip->d.nparts; ++k)
      if (!partNamesNoField(ip->parts[k]) && ip->parts[k].offset == p.offset) {
        _io_errno_ = 7;
        return -1;
      }
    if (number == 0 && (f->d.flags & 0x40)) {
      f->d.flags = uint16_t((f->d.flags & ~0x40) | 0x100);
      t->d.flags = uint16_t(t->d.flags | 8);
    }
  }
  if (ip->d.klen + p.len > kMaxKey) return -1;
  p.flags = uint16_t(flags);
  addKeyPart(ip, p);
  ip->d.klen = uint16_t(ip->d.klen + p.len);
  return 0;
}

int32_t _CreateIndex(s_index* ip) {
  if (ip == nullptr) return -1;
  // The table that holds it.
  int32_t number = -1;
  s_table* t = tableOfIndex(ip, number);
  if (t == nullptr || !onServer(t)) return -1;
  om_table* ot = omOf(t);
  om_index& oi = ot->indexes[size_t(number)];
  if (oi.kept != -1) return oi.kept;
  if (ip->d.nparts == 0) return -1;
  if (!omdb::joinTrans(ot->conn, false)) {
    _io_errno_ = 15;
    return -1;
  }
  bool temp = (ip->d.flags & 2) != 0;
  int32_t iflags = ((ip->d.flags & 1) ? 2 : 1) | (temp ? 0 : 0x10);
  DbConnection& c = omBegin(*ot->conn, ot->objId, DBM_CREATE);
  c << (temp ? static_cast<char const*>(nullptr) : ip->d.name) << iflags << int32_t(ip->d.nparts);
  for (int32_t k = 0; k < ip->d.nparts; ++k) {
    s_index_field const& p = ip->parts[k];
    if (partNamesNoField(p)) {
      c << int32_t(-1) << int32_t(0) << int32_t(0) << int32_t(0);
      continue;
    }
    int32_t fno = dbLowByte(p.field);
    s_field const& f = t->fields[fno - 1];
    int32_t pflags = ((p.flags & 1) ? 2 : 1) | ((p.flags & 2) ? 4 : 0);
    c << int32_t(fno - 1) << pflags << int32_t(p.offset - f.d.offset) << int32_t(p.len);
  }
  int32_t r = omExecute(c);
  int32_t code = r == -1 ? omLastError() : 0;
  omdb::endImplicit();
  if (r == -1) {
    if (code == kNoPrivilege) {
      _io_errno_ = temp ? 13 : 1;
      if (ip->d.flags & 4) Error(__DbErrmsg(temp ? "(13)" : "(1)"), t->schema->d.name);
      return -1;
    }
    if (code != 0) raiseLast();
    return -1;
  }
  oi.kept = r;
  return r;
}

int32_t CompleteIndex(int32_t index) {
  s_table* t = nullptr;
  s_index* ip = indexOf(index, t);
  return ip != nullptr ? _CreateIndex(ip) : -1;
}

int32_t BuildIndex(int32_t index, int32_t flags) {
  s_table* t = nullptr;
  s_index* ip = indexOf(index, t);
  if (ip == nullptr) return -1;
  om_table* ot = omOf(t);
  int32_t number = dbLowByte(index);
  if (ot->indexes[size_t(number)].kept == -1) {
    if (_CreateIndex(ip) < 0) return -1;
  } else if (!(flags & 0x80) && !(ip->d.flags & 2)) {
    return -1;
  }
  // The records are walked through the table's first index other than
  // the one being built.
  int32_t through = -1;
  for (int32_t i = 0; i < t->nindexes && through < 0; ++i)
    if (i != number && ot->indexes[size_t(i)].kept != -1) through = i;
  // The server builds an index only through another one: with no other
  // index the rows cannot be walked, and a table holding rows is refused
  // rather than answered with an index left empty.
  if (through < 0) return TabNRecords(index & 0xffff00) == 0 ? 0 : -1;
  int32_t cursor = CreateCursor((index & 0xffff00) | through, 0);
  if (cursor < 0) return -1;
  s_dbcurs* cp = _GetCursorPtr(cursor);
  int32_t n = cp != nullptr ? _CursorBuildIndex(cp, index, (flags & 0x80) ? 1 : 0) : -1;
  DeleteCursor(cursor);
  return n;
}

// The server keeps index files itself: nothing to empty here.
int32_t EmptyIndex(int32_t index) {
  (void)index;
  return -1;
}

int32_t DropIndex(int32_t index) {
  s_table* t = nullptr;
  s_index* ip = indexOf(index, t);
  if (ip == nullptr) return -1;
  om_table* ot = omOf(t);
  int32_t number = dbLowByte(index);
  int32_t server = ot->indexes[size_t(number)].kept;
  if (server != -1) {
    if (!omdb::joinTrans(ot->conn, false)) {
      _io_errno_ = 15;
      return -1;
    }
    omBegin(*ot->conn, ot->objId, DBM_DROP) << server;
    int32_t r = omExecute(*ot->conn);
    int32_t code = r == -1 ? omLastError() : 0;
    omdb::endImplicit();
    if (r == -1) {
      bool temp = (ip->d.flags & 2) != 0;
      if (code == 0) return -1;
      if (code == kNoPrivilege) {
        _io_errno_ = temp ? 13 : 1;
        if (ip->d.flags & 4) Error(__DbErrmsg(temp ? "(13)" : "(1)"), t->schema->d.name);
        return -1;
      }
      if (code == kBeingUsed) return -2;
      raiseLast();
      return -1;
    }
  }
  clearIndex(t, number);
  renumberReferences(t->schema, dbTableSlot(index), number);
  return 0;
}

}  // extern "C"

// ---- enumerations and attributes ---------------------------------------------------------------

namespace {

// The stored form of a value check, or empty when it passes 8 KB (or
// cannot be stored).
std::vector<uint8_t> storedCheck(InCheck const* check) {
  int32_t len = 0;
  uint8_t* bytes = StoreInCheck(check, &len);
  std::vector<uint8_t> out;
  if (bytes != nullptr && len > 0 && len <= kMaxCheckStored) out.assign(bytes, bytes + len);
  if (bytes != nullptr) def_Free(bytes, __FILE__, __LINE__);
  return out;
}

// Appends a sent enumeration to the schema's descriptor; false when the
// run-time layer refuses it.
bool addEnum(s_schema* sp, om_schema::PendingEnum const& e) {
  bool ok = __AddEnumItem(sp, e.name.c_str(), nullptr, 0) != 0;
  for (size_t i = 0; ok && i < e.items.size(); ++i)
    ok = __AddEnumItem(sp, e.name.c_str(), e.items[i].first.c_str(), e.items[i].second) != 0;
  return ok;
}

// After the server gave table `newSlot` the place of table `oldSlot` (the
// old one dropped): the old descriptor goes, the new one moves into the old
// slot under the old name, so the old handles name the new definition.
void takeOver(s_schema* sp, int32_t oldSlot, int32_t newSlot) {
  s_table* ot = sp->tables[oldSlot].tab;
  s_table* nt = sp->tables[newSlot].tab;
  std::string name = omOf(ot)->name;
  int32_t number = omOf(nt)->number;
  // The old table's object went on the server: nothing is detached.
  omOf(ot)->objId = -1;
  omForgetTable(sp, oldSlot);
  _ChangeTabSlot(sp, newSlot, oldSlot);
  omOf(nt)->name = name;
  std::snprintf(nt->d.name, sizeof nt->d.name, "%.10s", name.c_str());
  addDbTable(number, dbTableHandle(sp->handle, oldSlot));
}

// A copy of an expression through its stored form; null when it has none.
Expr* copyExpr(Expr const* e) {
  if (e == nullptr) return nullptr;
  int32_t len = e->storeLength();
  if (len <= 0) return nullptr;
  std::vector<uint8_t> bytes(static_cast<size_t>(len), 0);
  if (e->store(bytes.data()) != len) return nullptr;
  return DbExpr(bytes.data(), len);
}

// Ends the implicit transaction of a request that may have failed, keeping
// the request's error (with the server's text) as the last one: the end
// makes a request of its own, which would replace it.
void endImplicitKeepingError(bool failed) {
  std::unique_ptr<Exception> why(failed && Exception::last().code() != 0 ? Exception::last().clone() : nullptr);
  omdb::endImplicit();
  if (why) Exception::last(*why);
}

// An attribute other than a collating set goes to the server at once and
// is not part of the create request: on a table still defined only here it
// is refused (-1), stored nowhere, rather than kept where it never reaches
// the server.
bool attribRefused(s_table const* t) { return !onServer(t); }

// Sends SetAttrib on table t for field number `field` (0-based, -1 the
// table); `value` writes the attribute's value. 0, or -1 when the request
// failed or could not join the transaction.
template <class Value>
int32_t setAttrib(s_table* t, int32_t field, int32_t code, Value const& value) {
  om_table* ot = omOf(t);
  if (!onServer(t)) return 0;  // a collating set: sent with the table
  if (!omdb::joinTrans(ot->conn, false)) {
    _io_errno_ = 15;
    return -1;
  }
  DbConnection& c = omBegin(*ot->conn, ot->objId, DBM_SETATTRIB);
  c << field << code;
  value(c);
  int32_t r = omExecute(c);
  endImplicitKeepingError(r == -1);
  return r == -1 ? -1 : 0;
}

// Puts a copy of `expression` in `held` (a field's default or relational
// check, the table's check) and sends it as attribute `code` of field
// number `field` (-1 the table); no expression is sent as an empty one.
int32_t setExprAttrib(s_table* t, int32_t field, int32_t code, Expr*& held, Expr const* expression) {
  Expr* copy = copyExpr(expression);
  delete held;
  held = copy;
  return setAttrib(t, field, code, [&](DbConnection& c) {
    if (copy != nullptr) c << *copy;
    else c << Expr();
  });
}

}  // namespace

extern "C" {

int32_t _AddEnumItem(int32_t schema, char const* enumeration, char const* name, int32_t value) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr || enumeration == nullptr || *enumeration == 0) return 0;
  om_schema* os = omOf(sp);
  // A null item declares the enumeration with `value` items; it is sent
  // to the server when its last item has been added.
  om_schema::PendingEnum* e = nullptr;
  for (om_schema::PendingEnum& p : os->pending)
    if (p.name == enumeration) e = &p;
  if (name == nullptr) {
    if (e != nullptr || value < 0 || value > 65535) return 0;
    os->pending.push_back(om_schema::PendingEnum{enumeration, value, {}});
    e = &os->pending.back();
  } else {
    if (e == nullptr) return 0;
    if (int32_t(e->items.size()) >= e->declared) return 0;
    e->items.emplace_back(name, value);
  }
  if (int32_t(e->items.size()) < e->declared) return 1;
  DbConnection* conn = schemaConn(sp);
  bool ok = conn != nullptr && omdb::joinTrans(conn, false);
  if (ok) {
    DbConnection& c = omBegin(*conn, os->objId, DBM_ATTACH);
    c << int32_t(4096) << int32_t(1) << e->name.c_str() << int32_t(e->items.size());
    for (auto const& item : e->items) c << item.first.c_str() << item.second;
    ok = omExecute(c) != -1;
    omdb::endImplicit();
  }
  if (ok) ok = addEnum(sp, *e);
  os->pending.erase(os->pending.begin() + (e - os->pending.data()));
  return ok ? 1 : 0;
}

int32_t _DropAllEnums(int32_t schema) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr) return -1;
  DbConnection* conn = schemaConn(sp);
  if (conn == nullptr || !omdb::joinTrans(conn, false)) return -1;
  omBegin(*conn, omOf(sp)->objId, DBM_DROP) << int32_t(4096);
  int32_t r = omExecute(*conn);
  omdb::endImplicit();
  if (r == -1) {
    _io_errno_ = 1;
    raiseLast();
    return -1;
  }
  __DropAllEnums(sp);
  return 0;
}

int32_t SetDeflt(int32_t field, Expr const* expression) {
  s_table* t = nullptr;
  s_field* f = fieldOf(field, t);
  if (f == nullptr || attribRefused(t)) return -1;
  return setExprAttrib(t, dbLowByte(field) - 1, kAttrDefault, f->deflt, expression);
}

int32_t SetRelCheck(int32_t field, Expr const* expression) {
  s_table* t = nullptr;
  s_field* f = fieldOf(field, t);
  if (f == nullptr || attribRefused(t)) return -1;
  return setExprAttrib(t, dbLowByte(field) - 1, kAttrRelCheck, f->check, expression);
}

int32_t SetTabRelCheck(int32_t table, Expr const* expression) {
  s_table* t = tableOf(table);
  if (t == nullptr || attribRefused(t)) return -1;
  return setExprAttrib(t, -1, kAttrTabCheck, t->check, expression);
}

int32_t SetCollateSet(int32_t field, char const* name) {
  s_table* t = nullptr;
  s_field* f = fieldOf(field, t);
  if (f == nullptr) return -1;
  // Kept only once the server took it: a set the server cannot load is
  // refused (-1, its error the last one) and the field keeps its old set.
  int32_t r = setAttrib(t, dbLowByte(field) - 1, kAttrCollate, [&](DbConnection& c) { c << name; });
  if (r == 0) omOf(t)->fields[size_t(dbLowByte(field) - 1)].collate = name ? name : "";
  return r;
}

int32_t SetObjReference(int32_t field, int32_t index) {
  s_table* t = nullptr;
  s_field* f = fieldOf(field, t);
  if (f == nullptr || attribRefused(t)) return -1;
  // The server keeps the index by its own number; an index it does not
  // hold is refused rather than stored as the one that has that number.
  ObjectId ref;
  if (tableOf(index & 0xffff00) == nullptr || !omServerIndex(index, ref)) return -1;
  om_field& of = omOf(t)->fields[size_t(dbLowByte(field) - 1)];
  of.refClass = ref.classId();
  of.refInst = uint32_t(dbLowByte(index));
  return setAttrib(t, dbLowByte(field) - 1, kAttrObjRef, [&](DbConnection& c) { c << ref; });
}

int32_t _SetInCheck(int32_t field, InCheck const* check, char const* text) {
  s_table* t = nullptr;
  s_field* f = fieldOf(field, t);
  if (f == nullptr || attribRefused(t)) return -1;
  bool list = check == nullptr || check->getType() == InCheck::INLIST;
  if (check != nullptr && check->getType() != InCheck::INLIST && check->getType() != InCheck::INTEGRITY)
    return -1;
  // The index a referential check looks keys up in goes by the server's
  // number: an index the server does not hold is refused.
  if (check != nullptr && check->getType() == InCheck::INTEGRITY) {
    ObjectId ix = const_cast<Integrity*>(static_cast<Integrity const*>(check))->index();
    ObjectId srv;
    if (ix.classId() == 0 && ix.instId() != 0 && !omServerIndex(int32_t(ix.instId()), srv)) return -1;
  }
  std::vector<uint8_t> stored;
  if (check != nullptr) {
    stored = storedCheck(check);
    if (stored.empty()) {
      Warning(__DbErrmsg("IO_CHECK_TOO_BIG"), f->d.name, int(kMaxCheckStored));
      return -1;
    }
  }
  InCheck* copy = stored.empty() ? nullptr : LoadInCheck(stored.data(), int32_t(stored.size()));
  delete f->incheck;
  f->incheck = copy;
  om_field& of = omOf(t)->fields[size_t(dbLowByte(field) - 1)];
  of.enumName = list && text ? text : "";
  return setAttrib(t, dbLowByte(field) - 1, kAttrInCheck, [&](DbConnection& c) {
    if (check == nullptr) {
      InList empty(false);
      empty.send(c);
    } else {
      sendCheck(c, *check);
    }
    if (list) c << of.enumName.c_str();
  });
}

// ---- tables between definitions -------------------------------------------------------------

uint32_t* GetTabEquiv(int32_t newTable, int32_t oldTable) {
  (void)newTable;
  (void)oldTable;
  return nullptr;
}

int32_t CopyTable(int32_t destination, int32_t source, uint32_t const* equivalence, int32_t flags) {
  (void)equivalence;  // the server pairs the fields by name
  if (!(flags & 1)) {
    Error(__DbErrmsg("IO_NEED_CSTAMPS_FLAG"));
    return -1;
  }
  s_table* to = tableOf(destination);
  s_table* from = tableOf(source);
  if (to == nullptr || from == nullptr || !onServer(to) || !onServer(from)) return -1;
  om_table* of = omOf(from);
  DbConnection& conn = *of->conn;
  if (!omdb::joinTrans(&conn, false)) {
    _io_errno_ = 15;
    return -1;
  }
  omBegin(conn, of->objId, DBM_COPY) << omOf(to)->objId;
  int32_t job = omExecute(conn);
  if (job == -1) {
    omdb::endImplicit();
    return -1;
  }
  // The job works in slices: 30 while work remains, 0 when done. The first
  // failed slice (an error or -1) ends the copy; a later answer never turns
  // a failure into success.
  int32_t r = 0;
  do {
    omBegin(conn, job, DBM_ACTIVATION);
    r = omExecute(conn);
  } while (r == kActivationMore);
  bool failed = r != 0;
  std::unique_ptr<Exception> why(failed && Exception::last().code() != 0 ? Exception::last().clone() : nullptr);
  // A failed slice rolled the server's transaction back, and the server
  // answers nothing but the end of a rolled-back transaction: a transaction
  // of the copy's own is ended first, so that the job can be let go. The
  // program's own transaction is only marked corrupt, for its end to
  // report; the job's detach is refused then and the job stays with this
  // client until it disconnects, holding neither table: a refused copy is
  // over on the server, its destination emptied again.
  if (failed) omdb::failedWrite();
  omBegin(conn, kOmServerObject, DBM_DETACH) << job;
  omExecute(conn);
  if (failed) {
    if (why) Exception::last(*why);
    String m = why ? why->message() : String();
    Warning(__DbErrmsg("IO_COPY_FAILED"), omOf(from)->name.c_str(), omOf(to)->name.c_str(),
            m.isNull() ? "" : toCharPtr(m));
    return -1;
  }
  omdb::endImplicit();
  return TabNRecords(destination & 0xffff00);
}

int32_t ReplaceTable(int32_t oldTable, int32_t newTable) {
  s_table* ot = tableOf(oldTable);
  s_table* nt = tableOf(newTable);
  if (ot == nullptr || nt == nullptr || ot == nt || ot->schema != nt->schema || !onServer(ot) || !onServer(nt))
    return -1;
  om_table* on = omOf(nt);
  if (!omdb::joinTrans(on->conn, false)) {
    _io_errno_ = 15;
    return -1;
  }
  // The table the request names keeps its records and takes the other's
  // name; the other goes with its files.
  omBegin(*on->conn, on->objId, DBM_REPLACE) << omOf(ot)->objId;
  int32_t r = omExecute(*on->conn);
  omdb::endImplicit();
  if (r == -1) return -1;
  takeOver(ot->schema, dbTableSlot(oldTable), dbTableSlot(newTable));
  return 0;
}

int32_t AlterTable(int32_t oldTable, int32_t newTable, int32_t flag, int32_t** indices) {
  if (indices != nullptr) *indices = nullptr;
  s_table* ot = tableOf(oldTable);
  s_table* nt = tableOf(newTable);
  if (ot == nullptr || nt == nullptr || ot == nt || ot->schema != nt->schema || !onServer(ot) || !onServer(nt))
    return -1;
  om_table* on = omOf(nt);
  if (!omdb::joinTrans(on->conn, false)) {
    _io_errno_ = 15;
    return -1;
  }
  DbConnection& c = omBegin(*on->conn, on->objId, DBM_ALTER);
  c << omOf(ot)->objId << flag;
  int32_t r = omExecute(c);
  if (r == 1) {
    // The indexes to build, ended by -1: never more than the new table has.
    std::vector<int32_t> list;
    bool ended = false;
    for (int32_t i = 0; i <= nt->nindexes; ++i) {
      int32_t v = -2;
      c >> v;
      if (omReplyBad(c)) break;
      if (v == -1) {
        ended = true;
        break;
      }
      list.push_back(v);
    }
    omdb::endImplicit();
    if (!ended) {
      Warning(__DbErrmsg("IO_BAD_DDL_REPLY"), "AlterTable");
      return -1;
    }
    // The server gave the new table the old one's identity and dropped the
    // old one.
    omOf(nt)->number = omOf(ot)->number;
    takeOver(ot->schema, dbTableSlot(oldTable), dbTableSlot(newTable));
    if (indices != nullptr) {
      auto* out = static_cast<int32_t*>(def_Alloc(sizeof(int32_t) * (list.size() + 1), __FILE__, __LINE__));
      for (size_t i = 0; i < list.size(); ++i) out[i] = list[i];
      out[list.size()] = -1;
      *indices = out;
    }
    return 1;
  }
  // A refusal's error (with the server's text) outlives the end of the
  // implicit transaction.
  endImplicitKeepingError(r == -1);
  return r == 0 ? 0 : -1;
}

int32_t ConvertTable(int32_t oldTable, int32_t newTable, int32_t ignore, int32_t reserved, DbConvMessage message,
                     DbConvProgress progress, int32_t indexkilobytes, int32_t datakilobytes, int32_t correctrefs) {
  (void)reserved;
  (void)indexkilobytes;
  (void)datakilobytes;
  (void)correctrefs;
  s_table* ot = tableOf(oldTable);
  s_table* nt = tableOf(newTable);
  if (ot == nullptr || nt == nullptr) return -1;
  std::string oldName = omOf(ot)->name;
  int32_t* indices = nullptr;
  int32_t r = AlterTable(oldTable, newTable, ignore ? 1 : 0, &indices);
  if (r == 0) {
    if (progress != nullptr) progress(toCharPtr(formatText(__DbErrmsg("IO_CONV_TABLE"), oldName.c_str())));
    if (CopyTable(newTable & 0xffff00, oldTable & 0xffff00, nullptr, 1) < 0) return -1;
    return ReplaceTable(oldTable & 0xffff00, newTable & 0xffff00) == 0 ? 0 : -1;
  }
  if (r == 1) {
    // The new definition now lives in the old table's slot.
    int32_t table = oldTable & 0xffff00;
    s_table* t = tableOf(table);
    int32_t result = 0;
    for (int32_t i = 0; indices != nullptr && indices[i] != -1 && t != nullptr; ++i) {
      int32_t k = omIndexNumber(omOf(t), indices[i], false);
      if (k >= 0) {
        char const* iname = t->indexes[k].d.name ? t->indexes[k].d.name : "";
        if (progress != nullptr)
          progress(toCharPtr(formatText(__DbErrmsg("IO_BUILD_INDEX"), iname, oldName.c_str())));
        if (BuildIndex(table | int32_t(k), 0x80) < 0) result = -1;
      }
    }
    def_Free(indices, __FILE__, __LINE__);
    return result;
  }
  // Refused: the server's text goes to the caller, whose nonzero answer
  // asks for the new table to be deleted.
  if (omLastError() == kCantConvert) {
    String m = Exception::last().message();
    int32_t answer = message != nullptr ? message(m.isNull() ? "" : toCharPtr(m)) : 0;
    if (answer != 0) DeleteTable(newTable & 0xffff00);
  }
  return -1;
}

// ---- requests without a descriptor --------------------------------------------------------------

int32_t DbFlushReq(int32_t schema) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr || omOf(sp)->conn == nullptr) return 0;
  DbConnection& c = *omOf(sp)->conn;
  omBegin(c, kOmServerObject, DBM_GETINFO) << int32_t(16);
  return omExecute(c) == -1 ? 0 : 1;
}

int32_t NMethods(char const* name) {
  int32_t n = 0;
  for (DbConnection* c = DbConnection::head(); c != nullptr; c = c->next())
    if (name == nullptr || c->serverName() == String(name)) {
      int32_t k = ClientMonitor::nMethods(c);
      if (k > 0) n += k;
    }
  return n;
}

}  // extern "C"
