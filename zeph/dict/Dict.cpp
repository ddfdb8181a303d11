// Data dictionary: handles to descriptors, slots, lookups by name,
// enumerations and the user's privileges.
//
// Every handle is taken apart into slot numbers and each is checked against
// its array before it is used, so a stale or forged handle is reported and
// never reads outside a descriptor.
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <dbm/DbInterface.h>

#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>

#include <unistd.h>

#include <cctype>
#include <cstring>
#include <vector>

namespace {

bool sameName(char const* a, char const* b, size_t n) {
  if (!a || !b) return false;
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower((unsigned char)a[i]);
    int cb = std::tolower((unsigned char)b[i]);
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
  return true;
}

void badHandle(int32_t h) { Error(__DbErrmsg("IO_INV_HANDLE"), long(h)); }

s_table* tableOf(int32_t h, bool report) {
  if (dbSchemaSlot(h) < 1 || dbSchemaSlot(h) > kDbMaxSchemas) {
    if (report) badHandle(h);
    return nullptr;
  }
  s_schema* sp = _GetSchPtr(h & 0xff0000);
  if (!sp) return nullptr;
  int32_t slot = dbTableSlot(h);
  if (slot < 1 || slot > kDbMaxTables || !sp->tables || !sp->tables[slot].tab) {
    if (report) badHandle(h);
    return nullptr;
  }
  return sp->tables[slot].tab;
}

// The user's groups: the effective group and the supplementary ones.
std::vector<gid_t> userGroups() {
  std::vector<gid_t> g;
  g.push_back(getegid());
  int n = getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> more(static_cast<size_t>(n), gid_t(0));
    n = getgroups(n, more.data());
    for (int i = 0; i < n; ++i) g.push_back(more[size_t(i)]);
  }
  return g;
}

int32_t levelOf(int32_t bits) {
  if (bits & 8) return 8;
  if (bits & 4) return 4;
  if (bits & 2) return 2;
  return bits & 1;
}

}  // namespace

s_table* _GetTabPtr(int32_t handle) {
  s_table* t = tableOf(handle, true);
  if (t && t->d.len == 0) return _AttachTable(t);
  return t;
}

s_field* _GetFldPtr(int32_t handle) {
  s_table* t = tableOf(handle, true);
  // A table not yet described gets its fields on first use, as _GetTabPtr does.
  if (t && t->d.len == 0) t = _AttachTable(t);
  if (!t) return nullptr;
  int32_t n = dbLowByte(handle);
  if (n < 1 || n > t->d.nfields || !t->fields) {
    badHandle(handle);
    return nullptr;
  }
  return &t->fields[n - 1];
}

s_index* _GetIndPtr(int32_t handle) {
  s_table* t = tableOf(handle, true);
  if (!t) return nullptr;
  int32_t n = dbLowByte(handle);
  if (n >= t->nindexes || !t->indexes || t->indexes[n].d.nparts == 0) {
    badHandle(handle);
    return nullptr;
  }
  return &t->indexes[n];
}

char* _GetTabBuff(int32_t handle) {
  if (!tableOf(handle, true)) return nullptr;
  s_schema* sp = _GetSchPtr(handle & 0xff0000);
  return sp ? sp->tables[dbTableSlot(handle)].buffer : nullptr;
}

char* _GetFldBuff(int32_t field, int32_t elem) {
  s_field* f = _GetFldPtr(field);
  char* buf = f ? _GetTabBuff(field) : nullptr;
  return buf ? _FldAddr(f, buf, elem) : nullptr;
}

int32_t FindDbTable(int32_t schema, char const* name) {
  s_schema* sp = _GetSchPtr(schema & 0xff0000);
  if (!sp || !name) return -1;
  int32_t slot = _FindTabSlot(sp, name);
  return slot > 0 ? dbTableHandle(sp->handle, slot) : -1;
}

int32_t FindDbField(int32_t table, char const* name) {
  s_table* t = tableOf(table, false);
  if (!t || !name) return -1;
  // As FindDbIndex: a table not yet described gets its fields first.
  if (t->d.len == 0) t = _AttachTable(t);
  if (!t) return -1;
  for (int32_t i = 0; i < t->d.nfields; ++i)
    if (t->fields[i].d.name && std::strlen(name) == std::strlen(t->fields[i].d.name) &&
        sameName(t->fields[i].d.name, name, std::strlen(name)))
      return (table & 0xffff00) | (i + 1);
  return -1;
}

int32_t FindDbIndex(int32_t table, char const* name) {
  s_table* t = tableOf(table, false);
  if (!t || !name) return -1;
  // A table a server described without its indexes gets them on first use,
  // as _GetTabPtr does; without that a name lookup would miss every index.
  if (t->d.len == 0) t = _AttachTable(t);
  if (!t) return -1;
  for (int32_t i = 0; i < t->nindexes; ++i) {
    char const* n = t->indexes[i].d.name;
    if (n && t->indexes[i].d.nparts && std::strlen(n) == std::strlen(name) &&
        sameName(n, name, std::strlen(name)))
      return (table & 0xffff00) | i;
  }
  return -1;
}

int32_t _NewTabSlot(s_schema* sp, s_table* tab) {
  if (!sp || !sp->tables) return -1;
  for (int32_t s = 1; s <= kDbMaxTables; ++s)
    if (!sp->tables[s].tab) {
      sp->tables[s].tab = tab;
      return dbTableHandle(sp->handle, s);
    }
  return -1;
}

int32_t _FindTabSlot(s_schema* sp, char const* name) {
  if (!sp || !sp->tables || !name) return 0;
  size_t n = std::strlen(name);
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    s_table* t = sp->tables[s].tab;
    // An alias slot names its table under the table's name: the table's
    // own slot is the one found. Names are compared whole (as the
    // database library keeps them), so two tables sharing their first
    // characters are never taken for one another.
    if (!t || sp->tables[s].alias) continue;
    char const* whole = _TabName(t);
    if (whole && std::strlen(whole) == n && sameName(whole, name, n)) return s;
  }
  return 0;
}

void _SetTabPtr(s_schema* sp, int32_t slot, s_table* tab) {
  if (sp && sp->tables && slot >= 1 && slot <= kDbMaxTables) sp->tables[slot].tab = tab;
}

void _FreeTbSlot(s_schema* sp, int32_t slot) {
  if (sp && sp->tables && slot >= 1 && slot <= kDbMaxTables) sp->tables[slot] = tab_array{};
}

int32_t _ChangeTabSlot(s_schema* sp, int32_t from, int32_t to) {
  if (!sp || !sp->tables || from < 1 || from > kDbMaxTables || to < 1 || to > kDbMaxTables) return -1;
  if (!sp->tables[from].tab || (to != from && sp->tables[to].tab)) return -1;
  if (to != from) {
    sp->tables[to] = sp->tables[from];
    sp->tables[from] = tab_array{};
    // Key parts name their fields through the table's slot.
    s_table* t = sp->tables[to].tab;
    for (int32_t i = 0; i < t->nindexes && t->indexes; ++i)
      for (int32_t k = 0; k < t->indexes[i].d.nparts && t->indexes[i].parts; ++k) {
        int32_t& f = t->indexes[i].parts[k].field;
        f = int32_t((uint32_t(f) & ~uint32_t(0xff00)) | (uint32_t(to) << 8));
      }
  }
  return dbTableHandle(sp->handle, to);
}

int32_t _FindIndSlot(s_table* tab) {
  if (!tab) return -1;
  for (int32_t i = 0; i < tab->nindexes; ++i)
    if (tab->indexes[i].d.nparts == 0) return i;
  return tab->nindexes < kDbMaxIndexes ? tab->nindexes : -1;
}

char* _AddSchemaSuffix(char* out, char const* name) {
  out[0] = 0;
  if (!name) return out;
  char const* base = std::strrchr(name, '/');
  base = base ? base + 1 : name;
  size_t i = 0;
  for (; i < 10 && base[i]; ++i) out[i] = char(std::tolower((unsigned char)base[i]));
  out[i] = 0;
  return out;
}

int32_t _PrivgOf(int32_t const* privs, int32_t count, int32_t schemaLevel) {
  if (!privs || count <= 0) return 0;
  uid_t uid = uid_t(ProcUserId());
  std::vector<gid_t> groups = userGroups();
  int32_t bits = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t e = privs[i];
    uint16_t id = dbPrivId(e), type = dbPrivType(e);
    bool match = false;
    if (type == DB_PRIV_EVERYONE) match = true;
    else if (type == DB_PRIV_USER) match = id == uid;
    else if (type == DB_PRIV_GROUP)
      for (gid_t g : groups) match = match || g == gid_t(id);
    if (!match) continue;
    int32_t p = dbPrivBits(e);
    if (schemaLevel) {
      int32_t l = levelOf(p);
      if (l > bits) bits = l;
    } else {
      bits |= p;
    }
  }
  return bits;
}

int32_t _FindSchPrivg(s_schema* sp) {
  if (!sp) return 0;
  int32_t uid = ProcUserId();
  if (uid == 0 || uid == sp->owner) return DB_SCH_DESIGN;
  return _PrivgOf(sp->d.privs, sp->d.nprivs, 1);
}

int32_t _FindUserPrivg(s_table* tab) {
  if (!tab) return 0;
  int32_t uid = ProcUserId();
  if (uid == 0 || (tab->schema && uid == tab->schema->owner)) return DB_TAB_ALL;
  return _PrivgOf(tab->d.privs, tab->d.nprivs, 0) & DB_TAB_ALL;
}

int32_t _FindEnumItem(s_schema* sp, char const* enumName, char const* name, int32_t* value) {
  if (!sp || !sp->enums || !enumName || !name) return 0;
  for (int32_t e = 0; e < sp->d.nenums; ++e) {
    s_enum const& en = sp->enums[e];
    if (!en.name || std::strcmp(en.name, enumName) != 0) continue;
    for (int32_t i = 0; i < en.nitems; ++i)
      if (en.items[i].text && std::strcmp(en.items[i].text, name) == 0) {
        if (value) *value = en.items[i].value;
        return 1;
      }
  }
  return 0;
}

namespace {

char* keptText(char const* text) {
  size_t n = std::strlen(text);
  char* out = new char[n + 1];
  std::memcpy(out, text, n + 1);
  return out;
}

}  // namespace

int32_t __AddEnumItem(s_schema* sp, char const* enumName, char const* text, int32_t value) {
  if (!sp || !enumName || !*enumName || (sp->d.nenums && !sp->enums)) return 0;
  int32_t e = 0;
  while (e < sp->d.nenums && !(sp->enums[e].name && std::strcmp(sp->enums[e].name, enumName) == 0)) ++e;
  if (e == sp->d.nenums) {
    if (sp->d.nenums >= 255) return 0;
    auto* grown = new s_enum[size_t(e) + 1]();
    for (int32_t i = 0; i < e; ++i) grown[i] = sp->enums[i];
    grown[e].name = keptText(enumName);
    delete[] sp->enums;
    sp->enums = grown;
    sp->d.nenums = uint8_t(e + 1);
  }
  if (!text) return 1;
  s_enum& en = sp->enums[e];
  if (en.nitems >= 65535 || en.nitems < 0) return 0;
  auto* items = new s_enum_item[size_t(en.nitems) + 1]();
  for (int32_t i = 0; i < en.nitems; ++i) items[i] = en.items[i];
  items[en.nitems] = s_enum_item{keptText(text), value};
  delete[] en.items;
  en.items = items;
  en.nitems += 1;
  return 1;
}

void __DropAllEnums(s_schema* sp) {
  if (!sp) return;
  for (int32_t e = 0; e < sp->d.nenums && sp->enums; ++e) {
    for (int32_t i = 0; i < sp->enums[e].nitems && sp->enums[e].items; ++i) delete[] sp->enums[e].items[i].text;
    delete[] sp->enums[e].items;
    delete[] sp->enums[e].name;
  }
  delete[] sp->enums;
  sp->enums = nullptr;
  sp->d.nenums = 0;
}

int32_t FindTabReference(int32_t table) {
  if (!tableOf(table, false)) return -1;
  s_schema* sp = _GetSchPtr(table & 0xff0000);
  int32_t slot = dbTableSlot(table);
  if (!sp || !sp->tables) return -1;
  s_table* t = sp->tables[slot].tab;
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    s_table* o = sp->tables[s].tab;
    if (!o || o == t || sp->tables[s].alias) continue;
    // A table not described yet may hold a reference check too.
    if (o->d.len == 0) o = _AttachTable(o);
    if (!o || !o->fields) continue;
    for (int32_t i = 0; i < o->d.nfields; ++i) {
      InCheck* check = o->fields[i].incheck;
      if (!check || check->getType() != InCheck::INTEGRITY) continue;
      // The index a reference check names is (0, table handle | index).
      ObjectId const& ix = static_cast<Integrity*>(check)->index();
      if (ix.classId() == 0 && dbTableSlot(int32_t(ix.instId())) == slot) return dbTableHandle(sp->handle, s);
    }
  }
  return -1;
}
