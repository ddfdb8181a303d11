// Schemas: names, connections, the open-schema table, open and close.
//
// Open-schema table: slots 1 and 2 hold open schemas, slot 0 the current
// one (an alias of slot 1 or 2, or empty). A schema is named
// "server/schema" (or "schema", found through the client configuration)
// and compared whole, lower case, with its server and version.
//
// Opening (state of a slot): free -> descriptor made and stored (current)
// -> schema attached on its server -> privileges and enumerations read ->
// protocol checked -> table list read into unattached tables -> locked when
// asked -> open. A failure at any step undoes every earlier one (OpenError):
// the slot is free again, nothing stays attached and the connection's
// reference is given back.
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/DbConfigFile.h>
#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Privilege.h>
#include <zfound/String.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Omdb.h"

namespace {

s_schema* slots[kDbMaxSchemas + 1];
// (server table number, table handle), sorted by the number and then the
// handle. A number is unique within one server only: two schemas on two
// servers may list the same number, so each schema keeps its own entry.
std::vector<std::pair<int32_t, int32_t>> dbTables;
bool stopHookSet = false;

std::string lowerCase(std::string s) {
  for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// Splits "server/schema" at its first slash; a name without one has no
// server part.
void _ExtractServer(char const* name, std::string& server, std::string& schema) {
  char const* slash = std::strchr(name, '/');
  if (slash) {
    server.assign(name, size_t(slash - name));
    schema = slash + 1;
  } else {
    server.clear();
    schema = name;
  }
  schema = lowerCase(schema);
}

void notify(String const& text) { Warning("%s", omChars(text)); }

// A report of open error `code` with the schema's name.
void reportOpen(int32_t code, char const* name) {
  char key[8];
  std::snprintf(key, sizeof key, "(%d)", int(code));
  Warning(__DbErrmsg(key), name);
}

// c, or null (its reference given back) when its server has ended: a
// connection kept open for another schema may lead to a server that has
// stopped since, which is as unreachable as one never found.
DbConnection* alive(DbConnection* c) {
  if (c && !c->serverAlive()) {
    DbConnection::dispose(c);
    return nullptr;
  }
  return c;
}

// The connection of "server/schema", or of a plain schema name through the
// client configuration (the listed server that holds it). Never the
// abort-on-failure mode: an unreachable or unknown server is a refusal.
DbConnection* _FindConnection(std::string const& server, std::string const& schema) {
  std::string path = server.empty() ? schema : server + "/" + schema;
  return alive(DbConnection::findSchema(String(path.c_str()), true, ConnMode(reportErrors)));
}

}  // namespace

DbConnection* omServerConnection(std::string const& server) {
  String name(server.c_str());
  if (server.empty()) {
    std::vector<String> listed = DbConfigFile::serverList();
    if (listed.empty()) return nullptr;
    name = listed.front();
  }
  return alive(DbConnection::findServer(name, true, ConnMode(reportErrors)));
}

namespace {

void freeField(s_field& f) {
  delete[] f.d.name;
  delete[] f.d.descr;
  delete[] f.d.mask;
  delete f.deflt;
  delete f.check;
  delete f.incheck;
  def_Free(f.cmask, __FILE__, __LINE__);
  f = s_field{};
}

// Frees what an attached table holds and makes it unattached (no request).
void clearAttached(s_table* tp) {
  om_table* ot = omOf(tp);
  for (int32_t i = 0; i < tp->d.nfields && tp->fields; ++i) {
    if (ot && size_t(i) < ot->fields.size()) delete ot->fields[size_t(i)].conv;
    freeField(tp->fields[i]);
  }
  delete[] tp->fields;
  tp->fields = nullptr;
  for (int32_t i = 0; i < tp->nindexes && tp->indexes; ++i) {
    delete[] tp->indexes[i].parts;
    delete[] tp->indexes[i].d.name;
  }
  delete[] tp->indexes;
  tp->indexes = nullptr;
  tp->nindexes = 0;
  delete tp->check;
  tp->check = nullptr;
  def_Free(tp->d.privs, __FILE__, __LINE__);
  tp->d.privs = nullptr;
  tp->d.nprivs = 0;
  tp->d.nfields = 0;
  tp->d.nindex = 0;
  tp->d.len = 0;
  tp->d.flags = 0;
  tp->privg = 0;
  if (ot) {
    ot->fields.clear();
    ot->indexes.clear();
    ot->objId = -1;
    ot->recnoIndex = -1;
  }
}

// Detaches an attached table on the server (request 1 on the schema).
void detachOnServer(s_table* tp) {
  om_table* ot = omOf(tp);
  om_schema* os = tp->schema ? omOf(tp->schema) : nullptr;
  if (!ot || !os || ot->objId == -1 || !os->conn || os->objId == -1) return;
  omBegin(*os->conn, os->objId, DBM_DETACH) << ot->objId;
  omExecute(*os->conn);
}

void freeTable(s_schema* sp, int32_t slot, bool detach) {
  tab_array& e = sp->tables[slot];
  s_table* tp = e.tab;
  if (tp && !e.alias) {
    if (om_table* ot = omOf(tp)) delDbTable(ot->number, sp->handle);
    if (detach && tp->d.len != 0) detachOnServer(tp);
    clearAttached(tp);
    delete[] tp->d.descr;
    delete omOf(tp);
    delete tp;
  }
  def_Free(e.buffer, __FILE__, __LINE__);
  def_Free(e.cache, __FILE__, __LINE__);
  e = tab_array{};
}

// Frees the descriptor and every table of it; `detach` sends the detach
// requests of attached tables and of the schema.
void freeSchema(s_schema* sp, bool detach) {
  if (!sp) return;
  om_schema* os = omOf(sp);
  if (sp->tables)
    for (int32_t i = 1; i <= kDbMaxTables; ++i) freeTable(sp, i, detach);
  delete[] sp->tables;
  if (detach && os && os->conn && os->objId != -1) {
    omBegin(*os->conn, kOmServerObject, DBM_DETACH) << os->objId;
    omExecute(*os->conn);
  }
  __DropAllEnums(sp);
  def_Free(sp->d.privs, __FILE__, __LINE__);
  delete[] sp->d.descr;
  delete os;
  delete sp;
}

void _FreeSchSlot(int32_t slot) {
  if (slots[0] == slots[slot]) slots[0] = nullptr;
  slots[slot] = nullptr;
}

// Undoes a failed open: detaches, gives the connection back, frees the
// slot; sets and reports the error. Always -1.
int32_t OpenError(int32_t code, s_schema* sp, int32_t slot, int32_t detail) {
  DbConnection* conn = sp && omOf(sp) ? omOf(sp)->conn : nullptr;
  if (slot > 0) _FreeSchSlot(slot);  // first, as in _CloseSchema
  freeSchema(sp, true);
  if (conn) DbConnection::dispose(conn);
  _io_err_detail = detail;
  _io_errno_ = code;
  return -1;
}

// Reads the enumerations of the attach reply; false when a count is out of
// bounds or the reply ended.
bool readEnums(DbConnection& c, s_schema* sp) {
  int32_t n = 0;
  c >> n;
  if (c.bad() || n < 0 || n > 255) return false;
  sp->enums = new s_enum[size_t(n)]();
  sp->d.nenums = uint8_t(n);
  for (int32_t e = 0; e < n; ++e) {
    String name;
    int32_t items = 0;
    c >> name >> items;
    sp->enums[e].name = omKeepText(name);
    if (c.bad() || items < 0 || items > 65535) return false;
    sp->enums[e].items = new s_enum_item[size_t(items)]();
    sp->enums[e].nitems = items;
    for (int32_t i = 0; i < items; ++i) {
      String text;
      int32_t value = 0;
      c >> text >> value;
      if (c.bad()) return false;
      sp->enums[e].items[i].text = omKeepText(text);
      sp->enums[e].items[i].value = value;
    }
  }
  return true;
}

// Parses the table list "name:number\tname:number..." into pairs; false
// when an entry is malformed or the count differs from `n`.
bool parseTables(char const* list, int32_t n, std::vector<std::pair<std::string, int32_t>>& out) {
  out.clear();
  if (n == 0) return list == nullptr || *list == 0;
  if (!list) return false;
  char const* p = list;
  for (;;) {
    char const* end = std::strchr(p, '\t');
    std::string entry = end ? std::string(p, size_t(end - p)) : std::string(p);
    size_t colon = entry.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string digits = entry.substr(colon + 1);
    if (digits.empty() || digits.size() > 10) return false;
    int64_t number = 0;
    for (char ch : digits) {
      if (ch < '0' || ch > '9') return false;
      number = number * 10 + (ch - '0');
    }
    if (number > INT32_MAX) return false;
    out.emplace_back(entry.substr(0, colon), int32_t(number));
    if (int32_t(out.size()) > n) return false;
    if (!end) break;
    p = end + 1;
  }
  return int32_t(out.size()) == n;
}

// The slot of an open schema by server, whole lower-case name and version.
int32_t _FindSchSlot(std::string const& server, std::string const& name, int32_t version) {
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s) {
    om_schema* os = slots[s] ? omOf(slots[s]) : nullptr;
    if (os && os->name == name && os->server == server && os->version == version) return s;
  }
  return 0;
}

int32_t _NewSchSlot() {
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s)
    if (!slots[s]) return s;
  return 0;
}

// Asks the server for the number of a schema version (request 37 with 0):
// -1 for version 0 (the current one, nothing sent).
int32_t _GetSchemaVersion(DbConnection* conn, int32_t version) {
  if (version == 0 || !conn) return -1;
  omBegin(*conn, kOmServerObject, DBM_GETVERSINFO) << int32_t(0) << version;
  return omExecute(*conn);
}

// Opens schema `path` into `slot` (0: a free one) with connection `conn`
// (null: found here; a reference is taken either way).
int32_t openInSlot(char const* path, int32_t mode, int32_t version, int32_t slot, DbConnection* given) {
  if (!path || !*path) {
    _io_errno_ = 11;
    _io_err_detail = 2;
    return -1;
  }
  std::string server, name;
  _ExtractServer(path, server, name);
  if (name.empty()) {
    _io_errno_ = 11;
    _io_err_detail = 2;
    if (mode & 4) reportOpen(11, path);
    return -1;
  }
  if (slot == 0) {
    // An open schema of the same name and version is not opened twice; a
    // version other than the current one is asked of the server first.
    int32_t same = version == 0 ? _FindSchSlot(server, name, -1) : 0;
    if (same) {
      slots[0] = slots[same];
      return dbSchemaHandle(same);
    }
    slot = _NewSchSlot();
    if (!slot) {
      if (mode & 4) Warning(__DbErrmsg("(14)"), path);
      _io_errno_ = 14;
      return -1;
    }
  }
  DbConnection* conn = given;
  if (conn)
    conn->attach();
  else
    conn = _FindConnection(server, name);
  if (!conn) {
    if (mode & 4) reportOpen(11, path);
    _io_err_detail = 0;
    _io_errno_ = 2;
    return -1;
  }
  int32_t vnum = _GetSchemaVersion(conn, version);
  if (vnum < -1) {
    DbConnection::dispose(conn);
    _io_err_detail = 0;
    _io_errno_ = 11;
    return -1;
  }
  if (vnum != -1) {
    int32_t same = _FindSchSlot(server, name, vnum);
    if (same && !given) {
      DbConnection::dispose(conn);
      slots[0] = slots[same];
      return dbSchemaHandle(same);
    }
  }

  auto* sp = new s_schema{};
  auto* os = new om_schema{};
  sp->u.om = os;
  os->name = name;
  os->server = server;
  os->version = vnum;
  os->mode = mode;
  os->conn = conn;
  std::snprintf(sp->d.name, sizeof sp->d.name, "%.10s", name.c_str());
  sp->tables = new tab_array[kDbMaxTables + 1]();
  sp->handle = dbSchemaHandle(slot);
  sp->oflags = mode;
  slots[slot] = sp;
  slots[0] = sp;
  if (!stopHookSet) {
    OnStop(CloseAllSchemas);
    stopHookSet = true;
  }
  DbConnection::setNotifHandler(notify);

  // Attach the schema: kind 16, with its owner and description.
  omBegin(*conn, kOmServerObject, DBM_ATTACH) << int32_t(kOmAttachSchema) << int32_t(1) << int32_t(0)
                                              << String(name.c_str());
  int32_t objId = omExecute(*conn);
  if (objId == -1) {
    int32_t code = omLastError();
    int32_t open = 11, detail = 2;
    if (code == 3) {
      open = 16;
      auto const* np = dynamic_cast<NoPrivilege const*>(&Exception::last());
      detail = np ? np->b() : 0;
    } else if (code == 4) {
      open = 10;
      detail = 0;
    }
    if (mode & 4) reportOpen(open, path);
    return OpenError(open, sp, slot, detail);
  }
  os->objId = objId;
  int32_t protocol = 0, owner = 0;
  String descr;
  Privilege privs;
  *conn >> protocol >> owner >> descr >> privs;
  sp->owner = owner;
  sp->d.descr = omKeepText(descr);
  os->protocol = protocol;
  if (conn->bad() || !readEnums(*conn, sp)) {
    if (mode & 4) reportOpen(11, path);
    return OpenError(11, sp, slot, 0);
  }
  sp->d.privs = omToInterfacePrivs(privs, sp->d.nprivs, true);
  sp->privg = _FindSchPrivg(sp);
  if ((protocol & 0x7fffffff) <= kOmOldestRefused) {
    Warning(__DbErrmsg("IO_PROTOCOL"), long(kOmProtocol), long(protocol & 0x7fffffff));
    return OpenError(11, sp, slot, protocol & 0x7fffffff);
  }

  // The table list: unattached tables numbered from 1 in list order.
  omBegin(*conn, objId, DBM_GETTABLES);
  int32_t n = omExecute(*conn);
  String list;
  *conn >> list;
  std::vector<std::pair<std::string, int32_t>> tables;
  if (n < 0 || conn->bad() || n > kDbMaxTables || !parseTables(omChars(list), n, tables)) {
    if (mode & 4) reportOpen(11, path);
    return OpenError(11, sp, slot, n > kDbMaxTables ? n : 0);
  }
  for (auto const& t : tables)
    if (omNewTable(sp, t.first, t.second) < 0) return OpenError(11, sp, slot, 0);
  os->ntables = n + 1;
  sp->d.n_tables = uint8_t(n + 1);

  int32_t handle = dbSchemaHandle(slot);
  if (mode & (1 | 0x800)) {
    int32_t r = LockSchema(handle, mode & (1 | 0x800));
    if (r != 0) {
      int32_t code = r == -2 ? 10 : 11;
      if (mode & 4) reportOpen(code, path);
      return OpenError(code, sp, slot, 0);
    }
  }
  return handle;
}

// Closes a schema: false (nothing done) inside a transaction.
bool _CloseSchema(s_schema* sp) {
  om_schema* os = omOf(sp);
  if (os->conn && os->conn->inTransaction()) {
    Warning(__DbErrmsg("IO_CANT_CLOSESCH"), sp->d.name);
    return false;
  }
  int32_t handle = sp->handle;
  DeleteAllCursors(handle);
  DeleteAllAlias(handle);
  DbConnection* conn = os->conn;
  int32_t slot = dbSchemaSlot(handle);
  // Out of the table first: a report that ends the program while the
  // schema is closed runs CloseAllSchemas, which must not find it again.
  _FreeSchSlot(slot);
  // A server that has ended gets no detach requests.
  freeSchema(sp, conn && conn->serverAlive());
  if (conn) DbConnection::dispose(conn);
  return true;
}

}  // namespace

char* omKeepText(char const* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text);
  char* out = new char[n + 1];
  std::memcpy(out, text, n + 1);
  return out;
}

char* omKeepText(String const& text) { return omKeepText(omChars(text)); }

char const* omChars(String const& text) {
  // The highest value has no characters (its pointer is a mark, not a text).
  return text.isNull() || text.isHighest() ? "" : toCharPtr(text);
}

// ---- lookups ------------------------------------------------------------------------

om_schema* omOf(s_schema* sp) { return sp ? sp->u.om : nullptr; }

s_schema* omSchema(int32_t handle) { return _GetSchPtr(handle & 0xff0000); }

DbConnection* omConnection(int32_t handle) {
  s_schema* sp = omSchema(handle);
  return sp ? omOf(sp)->conn : nullptr;
}

namespace {

// The entry of `number` in schema `schema`, or the end.
std::vector<std::pair<int32_t, int32_t>>::iterator dbTableEntry(int32_t number, int32_t schema) {
  auto it = std::lower_bound(dbTables.begin(), dbTables.end(), std::make_pair(number, INT32_MIN));
  for (; it != dbTables.end() && it->first == number; ++it)
    if ((it->second & 0xff0000) == (schema & 0xff0000)) return it;
  return dbTables.end();
}

}  // namespace

int32_t findDbTable(int32_t number) {
  // The current schema's table first, then the first open schema's.
  if (slots[0]) {
    int32_t h = findDbTable(number, slots[0]->handle);
    if (h != -1) return h;
  }
  auto it = std::lower_bound(dbTables.begin(), dbTables.end(), std::make_pair(number, INT32_MIN));
  return it != dbTables.end() && it->first == number ? it->second : -1;
}

int32_t findDbTable(int32_t number, int32_t schema) {
  auto it = dbTableEntry(number, schema);
  return it != dbTables.end() ? it->second : -1;
}

void addDbTable(int32_t number, int32_t handle) {
  auto it = dbTableEntry(number, handle);
  if (it != dbTables.end()) {
    it->second = handle;
    return;
  }
  dbTables.insert(std::upper_bound(dbTables.begin(), dbTables.end(), std::make_pair(number, handle)),
                  {number, handle});
}

void delDbTable(int32_t number, int32_t schema) {
  auto it = dbTableEntry(number, schema);
  if (it != dbTables.end()) dbTables.erase(it);
}

int32_t omNewTable(s_schema* sp, std::string const& name, int32_t number) {
  if (!sp || !sp->tables || name.empty()) return -1;
  int32_t slot = 0;
  for (int32_t s = 1; s <= kDbMaxTables && !slot; ++s)
    if (!sp->tables[s].tab) slot = s;
  if (!slot) return -1;
  auto* tp = new s_table{};
  auto* ot = new om_table{};
  tp->u.om = ot;
  ot->name = name;
  ot->number = number;
  ot->conn = omOf(sp)->conn;
  std::snprintf(tp->d.name, sizeof tp->d.name, "%.10s", ot->name.c_str());
  tp->schema = sp;
  sp->tables[slot].tab = tp;
  int32_t handle = dbTableHandle(sp->handle, slot);
  addDbTable(number, handle);
  return handle;
}

void omForgetTable(s_schema* sp, int32_t slot) {
  if (!sp || !sp->tables || slot < 1 || slot > kDbMaxTables || !sp->tables[slot].tab) return;
  freeTable(sp, slot, true);
}

void omResetTable(s_table* tp) {
  if (!tp || tp->d.len == 0) return;
  detachOnServer(tp);
  clearAttached(tp);
}

// ---- the interface ----------------------------------------------------------------------

int32_t OpenSchema(char const* name, int32_t mode) { return OpenSchemaVersion(name, mode, 0); }

int32_t OpenSchemaVersion(char const* name, int32_t mode, int32_t version) {
  return openInSlot(name, mode, version, 0, nullptr);
}

int32_t CloseSchema(int32_t handle) {
  s_schema* sp = omSchema(handle);
  if (!sp) return -1;
  return _CloseSchema(sp) ? 0 : -1;
}

void CloseAllSchemas(void) {
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s)
    if (slots[s]) _CloseSchema(slots[s]);
}

int32_t SwitchToSchema(int32_t handle) {
  int32_t prev = CurrentSchema();
  int32_t slot = dbSchemaSlot(handle);
  if (slot == 0) return prev;
  s_schema* sp = _GetSchPtr(handle);
  if (!sp) return -1;
  slots[0] = sp;
  return prev;
}

int32_t CurrentSchema(void) {
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s)
    if (slots[s] && slots[s] == slots[0]) return dbSchemaHandle(s);
  return -1;
}

int32_t FindSchema(char const* name) { return FindSchemaVersion(name, 0); }

int32_t FindSchemaVersion(char const* name, int32_t version) {
  if (!name) return CurrentSchema();
  std::string server, schema;
  _ExtractServer(name, server, schema);
  for (int32_t s = 1; s <= kDbMaxSchemas; ++s) {
    om_schema* os = slots[s] ? omOf(slots[s]) : nullptr;
    if (!os || os->name != schema || (!server.empty() && os->server != server)) continue;
    if (version == 0 ? os->version == -1 : os->version == version) return dbSchemaHandle(s);
  }
  return -1;
}

int32_t FindNextSchema(int32_t handle) {
  for (int32_t s = dbSchemaSlot(handle) + 1; s <= kDbMaxSchemas; ++s)
    if (slots[s]) return dbSchemaHandle(s);
  return -1;
}

s_schema* _GetSchPtr(int32_t handle) {
  int32_t s = dbSchemaSlot(handle);
  if (s == 0) {
    if (!slots[0]) Error(__DbErrmsg("IO_NO_CURR_SCHEMA"));
    return slots[0];
  }
  if (s > kDbMaxSchemas || !slots[s]) {
    Error(__DbErrmsg("IO_INV_SCHEMA"), long(handle));
    return nullptr;
  }
  return slots[s];
}

void _SetSchPtr(int32_t slot, s_schema* schema) {
  if (slot < 0 || slot > kDbMaxSchemas) return;
  if (slot == 0) {
    slots[0] = schema;
    return;
  }
  if (!schema && slots[0] == slots[slot]) slots[0] = nullptr;
  slots[slot] = schema;
  if (schema) slots[0] = schema;
}

char* _StrValPut(s_schema* schema, char const* text) {
  if (!text) return nullptr;
  return static_cast<char*>(_MemValPut(schema, text, int32_t(std::strlen(text) + 1)));
}

void* _MemValPut(s_schema* schema, void const* bytes, int32_t length) {
  om_schema* os = omOf(schema);
  if (!bytes || !os || length < 0) return nullptr;
  std::unique_ptr<char[]> copy(new char[size_t(length) + 1]());
  std::memcpy(copy.get(), bytes, size_t(length));
  char* p = copy.get();
  os->kept.push_back(std::move(copy));
  return p;
}

int32_t VersionNumber(char const* name, int32_t version) {
  if (version == -32768 || !name) return 0;
  std::string server, schema;
  _ExtractServer(name, server, schema);
  DbConnection* conn = _FindConnection(server, schema);
  if (!conn) {
    _io_errno_ = 2;
    return -1;
  }
  omBegin(*conn, kOmServerObject, DBM_GETVERSINFO) << int32_t(1) << (version == 32766 ? kOmWireHigh : version);
  int32_t r = omExecute(*conn);
  DbConnection::dispose(conn);
  return r + 1;
}

int32_t SchemaVersion(int32_t handle) {
  s_schema* sp = omSchema(handle);
  return sp ? omOf(sp)->version + 1 : -1;
}

void _ReOpenSchema(int32_t handle) {
  s_schema* sp = omSchema(handle);
  if (!sp) return;
  om_schema* os = omOf(sp);
  std::string path = os->server.empty() ? os->name : os->server + "/" + os->name;
  int32_t mode = os->mode, version = os->version == -1 ? 0 : os->version;
  DbConnection* conn = os->conn;
  conn->attach();  // kept across the close
  int32_t slot = dbSchemaSlot(sp->handle);
  if (_CloseSchema(sp)) openInSlot(path.c_str(), mode, version, slot, conn);
  DbConnection::dispose(conn);
}

int32_t GetDbTable(int32_t number) { return findDbTable(number); }

char const* _TabName(s_table const* table) {
  if (!table) return nullptr;
  om_table const* ot = table->u.om;
  return ot && !ot->name.empty() ? ot->name.c_str() : table->d.name;
}
int32_t SetDescrSchema(int32_t, char const*) { return 0; }
int32_t _ModifySchema(int32_t) { return 0; }
