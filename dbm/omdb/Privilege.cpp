// Privileges of schemas and tables as the interface keeps them, and the
// requests that store them and the schema's owner on the server.
//
// The server keeps a Privilege list (entries of a user or group id, an id
// type and privilege bits); the interface keeps an array of 32-bit entries
// (DbDescr.h: id, id type, privilege) beside a 16-bit count. A schema entry
// holds one level (8 design, 4, 2, 1 attach), which the server holds as the
// level and every lower bit: server bits 0, 1 and 2 read as 4 and 4 is sent
// back as 7. A table entry keeps bits 0-3 and 6-9 both ways (bits 4 and 5
// have no meaning to the interface). An entry whose id and id type are both
// 0 is empty and never sent.
//
// Every request goes through the program's transaction; a request that
// cannot join it is refused with false. A schema level the interface does
// not know is refused before anything is sent.
#include <zfound/DbConnection.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Privilege.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>
#include <zeph/Proc.h>

#include "Omdb.h"
#include "OmdbTrans.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// Table bits the interface keeps (bits 4 and 5 dropped).
constexpr uint16_t kTableBits = 0x3cf;

// A schema level as the server holds it: the level and every lower bit;
// -1 for a value that is no level.
int32_t omSchemaLevelToServer(int32_t level) {
  switch (level) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 3;
    case 4: return 7;
    case 8: return 15;
    default: return -1;
  }
}

// The server's list of an interface array; false (nothing to send) when a
// schema entry holds a level the interface does not know.
bool omToServerPrivs(int32_t const* privs, int32_t count, bool schema, Privilege& out) {
  out.clear();
  for (int32_t i = 0; privs != nullptr && i < count; ++i) {
    int32_t e = privs[i];
    uint16_t id = dbPrivId(e), type = dbPrivType(e), bits = dbPrivBits(e);
    if (id == 0 && type == 0) continue;
    if (schema) {
      int32_t server = omSchemaLevelToServer(bits);
      if (server < 0) {
        Warning(__DbErrmsg("IO_BAD_SCH_PRIV"), int(bits));
        out.clear();
        return false;
      }
      bits = uint16_t(server);
    } else {
      bits = uint16_t(bits & kTableBits);
    }
    out.add(id, type, bits);
  }
  return true;
}

}  // namespace

extern "C" {

int32_t _FlushSchPrivileges(s_schema* sp) {
  if (sp == nullptr || sp->u.om == nullptr) {
    Warning(__DbErrmsg("IO_INV_SCHEMA"), long(0));
    return 0;
  }
  om_schema* os = omOf(sp);
  Privilege list;
  if (!omToServerPrivs(sp->d.privs, sp->d.nprivs, true, list)) return 0;
  if (os->conn == nullptr || os->objId == -1 || !omdb::joinTrans(os->conn, false)) return 0;
  omBegin(*os->conn, os->objId, DBM_SETPRIVG) << int32_t(1) << list << int32_t(4) << int32_t(sp->owner)
                                              << int32_t(0);
  int32_t r = omExecute(*os->conn);
  omdb::endImplicit();
  return r != -1 ? 1 : 0;
}

int32_t _FlushTabPrivileges(s_schema* sp) {
  if (sp == nullptr || sp->u.om == nullptr) {
    Warning(__DbErrmsg("IO_INV_SCHEMA"), long(0));
    return 0;
  }
  om_schema* os = omOf(sp);
  // Every table is attached first: its list and whole name come from the
  // server, and only then may they be sent back.
  for (int32_t slot = 1; slot <= kDbMaxTables; ++slot) {
    if (sp->tables == nullptr || sp->tables[slot].tab == nullptr || sp->tables[slot].alias) continue;
    if (omTable(dbTableHandle(sp->handle, slot)) == nullptr) return 0;
  }
  std::vector<Privilege> lists;
  std::vector<std::string> names;
  for (int32_t slot = 1; slot <= kDbMaxTables; ++slot) {
    if (sp->tables == nullptr || sp->tables[slot].tab == nullptr || sp->tables[slot].alias) continue;
    s_table* t = sp->tables[slot].tab;
    lists.emplace_back();
    omToServerPrivs(t->d.privs, t->d.nprivs, false, lists.back());
    names.push_back(omOf(t)->name);
  }
  if (os->conn == nullptr || os->objId == -1 || !omdb::joinTrans(os->conn, false)) return 0;
  DbConnection& c = omBegin(*os->conn, os->objId, DBM_SETPRIVG);
  for (size_t i = 0; i < lists.size(); ++i) c << int32_t(2) << names[i].c_str() << lists[i];
  c << int32_t(0);
  int32_t r = omExecute(*os->conn);
  omdb::endImplicit();
  return r != -1 ? 1 : 0;
}

int32_t ChownSchema(int32_t schema, int32_t uid) {
  s_schema* sp = omSchema(schema);
  if (sp == nullptr) return 0;
  om_schema* os = omOf(sp);
  if (os->conn == nullptr || os->objId == -1 || !omdb::joinTrans(os->conn, false)) return 0;
  omBegin(*os->conn, os->objId, DBM_SETPRIVG) << int32_t(4) << uid << int32_t(0);
  int32_t r = omExecute(*os->conn);
  omdb::endImplicit();
  if (r == -1) return 0;
  sp->owner = uid;
  return 1;
}

char* _StrValPutOrAlloc(char* old, char const* text) {
  char* copy = nullptr;
  if (text != nullptr) {
    size_t n = std::strlen(text) + 1;
    copy = static_cast<char*>(def_Alloc(n, __FILE__, __LINE__));
    std::memcpy(copy, text, n);
  }
  if (old != nullptr) def_Free(old, __FILE__, __LINE__);
  return copy;
}

void* _MemValPutOrAlloc(void* old, void const* bytes, int32_t length) {
  void* copy = nullptr;
  if (bytes != nullptr && length > 0) {
    copy = def_Alloc(size_t(length), __FILE__, __LINE__);
    std::memcpy(copy, bytes, size_t(length));
  }
  if (old != nullptr) def_Free(old, __FILE__, __LINE__);
  return copy;
}

}  // extern "C"
