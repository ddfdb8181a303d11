// Table descriptors from the server's description of a table.
//
// A table is described at its first use: Attach (kind 32, with the full
// description) on the schema object answers the table's object id and then,
// in order, its description, flags, size, check expression, class id, the
// fields, the indexes (with their key parts) and the privilege list. The
// whole reply is read and checked into a staging area first; only a reply
// that is complete and within bounds becomes the descriptor, so a bad reply
// leaves the table unattached and nothing half made.
//
// Layout of the record buffer: the 32-byte prefix, then the fields in order
// (each element dbElemSize bytes, times the dimension), then the record
// number (4 bytes, big-endian) after the record.
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <zfound/DbConnection.h>
#include <zfound/Environ.h>
#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/ObjectId.h>
#include <zfound/Privilege.h>
#include <zfound/String.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Omdb.h"

namespace {

// The longest record the 16-bit record length holds with the number after it.
constexpr int32_t kMaxRecord = 0xffff - 4;

// Field flags, server to interface.
uint16_t fieldFlags(int32_t srv, int32_t second) {
  uint16_t f = 0;
  if (srv & 0x01) f |= 0x001;
  if (srv & 0x10) f |= 0x004;
  if (srv & 0x40) f |= 0x008;
  if (srv & 0x20) f |= 0x010;
  if (srv & 0x04) f |= 0x080;
  if (srv & 0x08) f |= (second & 1) ? 0x100 : 0x040;
  return f;
}

// Table flags, server to interface.
uint16_t tableFlags(int32_t srv) {
  uint16_t f = 0;
  if (srv & 1) f |= 0x02;
  if (srv & 2) f |= 0x08;
  if (srv & 4) f |= 0x20;
  return f;
}

// What a reply describes, held until it has been read whole.
struct Staged {
  std::vector<s_field> fields;
  std::vector<om_field> extra;
  std::vector<s_index> indexes;
  std::vector<om_index> ixExtra;
  Expr* check = nullptr;
  char* descr = nullptr;
  int32_t* privs = nullptr;
  uint16_t nprivs = 0;

  ~Staged() {
    for (s_field& f : fields) {
      delete[] f.d.name;
      delete[] f.d.descr;
      delete[] f.d.mask;
      delete f.deflt;
      delete f.check;
      delete f.incheck;
      def_Free(f.cmask, __FILE__, __LINE__);
    }
    for (om_field& e : extra) delete e.conv;
    for (s_index& ix : indexes) {
      delete[] ix.parts;
      delete[] ix.d.name;
    }
    delete check;
    delete[] descr;
    def_Free(privs, __FILE__, __LINE__);
  }
};

Expr* receiveExpr(DbConnection& c) {
  Expr e;
  c >> e;
  return e.isNull() ? nullptr : new Expr(e);
}

// Reads one field into the staging area; false on a malformed reply (the
// text says what).
bool receiveField(DbConnection& c, s_field& f, om_field& x, char const*& why) {
  String name, mask, collate, descr;
  int32_t type = 0, dim = 0, len = 0, dec = 0, indices = 0, flags = 0;
  c >> name >> type >> x.kept;
  f.d.name = omKeepText(name);
  f.deflt = receiveExpr(c);
  c >> mask >> dim >> len >> dec >> indices;
  // A mask beginning with the byte 1 names the environment variable that
  // holds it.
  char const* m = omChars(mask);
  if (m[0] == 1) m = def_ReadEnv(m + 1, __FILE__, __LINE__);
  f.d.mask = omKeepText(m ? m : "");
  if (c.bad()) return why = "field", false;
  int32_t kind = InCheck::receive(c);
  if (kind == InCheck::INTEGRITY) {
    f.incheck = new ZxIntegrity(c);
  } else if (kind == InCheck::INLIST) {
    f.incheck = new ZxInList(c);
    String en;
    c >> en;
    x.enumName = omChars(en);
  }
  f.check = receiveExpr(c);
  ObjectId ref;
  c >> collate >> ref >> descr >> flags;
  if (c.bad()) return why = "field", false;
  x.collate = omChars(collate);
  x.refClass = ref.classId();
  x.refInst = ref.instId();
  x.srvFlags = flags;
  f.d.descr = omKeepText(descr);
  if (type == 10) len = 9;
  if (dim < 0 || dim > 0xffff || len < 0 || len > 0xffff || dec < 0 || dec > 0xff)
    return why = "field size", false;
  int32_t it = CalcItype(type, len);
  if (it < 0) return why = "field type", false;
  f.d.type = uint16_t(type);
  f.d.f_itype = uint16_t(it);
  f.d.len = uint16_t(len);
  f.d.dec = uint8_t(dec);
  f.d.dim = uint16_t(dim < 2 ? 0 : dim);
  f.d.flags = fieldFlags(flags, indices);
  if (f.d.mask && *f.d.mask) {
    char* compiled = nullptr;
    if (CompileMask(f.d.mask, &compiled) == 0) f.cmask = compiled;
  }
  return true;
}

// Reads one index; its parts are checked against the staged fields.
bool receiveIndex(DbConnection& c, int32_t tableHandle, Staged const& st, s_index& ix, om_index& x,
                  char const*& why) {
  String name;
  int32_t flags = 0, nparts = 0;
  c >> x.kept >> name >> flags >> nparts;
  ix.d.name = omKeepText(name);
  x.srvFlags = flags;
  if (c.bad() || nparts < 1 || nparts > 32) return why = "index key parts", false;
  ix.d.flags = (flags & 1) ? 0 : 1;
  ix.d.nparts = uint16_t(nparts);
  ix.parts = new s_index_field[size_t(nparts)]();
  int32_t klen = 0;
  for (int32_t p = 0; p < nparts; ++p) {
    int32_t fno = 0, pflags = 0, off = 0, plen = 0;
    c >> fno >> pflags >> off >> plen;
    if (c.bad()) return why = "key part", false;
    s_index_field& part = ix.parts[p];
    // The server's part flags (2 descending, 4 may not be null) in this
    // library's form (bit 0 descending, bit 1 not null), as AddIndField
    // keeps them and the key checks read them.
    part.flags = uint16_t(((pflags & 2) ? 1 : 0) | ((pflags & 4) ? 2 : 0));
    if (fno == -1) {
      // The record number: the second long of the prefix's object id.
      part.itype = DB_IT_LONG;
      part.offset = 4;
      part.len = 4;
      part.field = tableHandle;
    } else {
      if (fno < 0 || fno >= int32_t(st.fields.size())) return why = "key part field", false;
      s_field const& f = st.fields[size_t(fno)];
      part.itype = f.d.f_itype;
      part.field = tableHandle | (fno + 1);
      int32_t len = 0, at = f.d.offset;
      if (f.d.f_itype == DB_IT_TEXT) {
        if (off < 0 || off >= f.d.len || plen < 0 || off + plen > f.d.len) return why = "key part length", false;
        len = plen != 0 ? plen : f.d.len - off;
        at += off;
      } else {
        len = dbElemSize(f.d.f_itype, f.d.len);
      }
      if (len < 1 || len > 255) return why = "key part length", false;
      part.offset = uint16_t(at);
      part.len = uint8_t(len);
    }
    klen += part.len;
  }
  if (klen > 0xffff) return why = "key length", false;
  ix.d.klen = uint16_t(klen);
  return true;
}

}  // namespace

om_table* omOf(s_table* tp) { return tp ? tp->u.om : nullptr; }

s_table* omTable(int32_t handle) { return _GetTabPtr(handle & 0xffff00); }

int32_t omIndexNumber(om_table const* ot, int32_t n, bool toServer) {
  if (!ot || n < 0) return -1;
  if (toServer) return size_t(n) < ot->indexes.size() ? ot->indexes[size_t(n)].kept : -1;
  for (size_t i = 0; i < ot->indexes.size(); ++i)
    if (ot->indexes[i].kept == n) return int32_t(i);
  return -1;
}

int32_t* omToInterfacePrivs(Privilege const& p, uint16_t& count, bool schema) {
  count = 0;
  int32_t n = p.size();
  if (n <= 0) return nullptr;
  std::vector<int32_t> out;
  for (int32_t i = 0; i < n && i < 0xffff; ++i) {
    uint16_t id = 0, type = 0, priv = 0;
    if (!p.elem(i, id, type, priv)) continue;
    uint16_t mine = 0;
    if (schema)
      mine = (priv & 8) ? 8 : (priv & 4) ? 4 : (priv & 2) ? 2 : uint16_t(priv & 1);
    else
      mine = uint16_t(priv & 0x3cf);
    out.push_back(dbPrivEntry(id, type, mine));
  }
  if (out.empty()) return nullptr;
  auto* a = static_cast<int32_t*>(def_Alloc(out.size() * sizeof(int32_t), __FILE__, __LINE__));
  std::memcpy(a, out.data(), out.size() * sizeof(int32_t));
  count = uint16_t(out.size());
  return a;
}

s_table* _AttachTable(s_table* tp) {
  if (!tp) return nullptr;
  if (tp->d.len != 0) return tp;
  s_schema* sp = tp->schema;
  om_table* ot = omOf(tp);
  om_schema* os = omOf(sp);
  if (!sp || !ot || !os || !os->conn || os->objId == -1) return nullptr;
  int32_t slot = 0;
  for (int32_t s = 1; s <= kDbMaxTables && !slot; ++s)
    if (sp->tables[s].tab == tp && !sp->tables[s].alias) slot = s;
  if (!slot) return nullptr;
  int32_t const handle = dbTableHandle(sp->handle, slot);
  DbConnection& c = *os->conn;

  omBegin(c, os->objId, DBM_ATTACH) << int32_t(kOmAttachTable) << int32_t(1) << int32_t(0)
                                     << String(ot->name.c_str()) << int32_t(os->version == -1 ? 0 : os->version + 1);
  int32_t id = omExecute(c);
  if (id == -1) {
    if (omLastError() != 0) Warning("%s", toCharPtr(Exception::last().message()));
    return nullptr;
  }
  Staged st;
  char const* why = nullptr;
  String descr;
  int32_t flags = 0, size = 0, classId = 0, nfields = 0, nindexes = 0;
  c >> descr >> flags >> size;
  st.descr = omKeepText(descr);
  st.check = receiveExpr(c);
  c >> classId >> nfields;
  bool ok = !c.bad();
  if (!ok) why = "table";
  if (ok && (nfields < 0 || nfields > kDbMaxFields)) ok = false, why = "field count";
  uint16_t tflags = tableFlags(flags);
  int32_t reclen = kOmPrefixBytes;
  if (ok) {
    st.fields.resize(size_t(nfields));
    st.extra.resize(size_t(nfields));
    for (int32_t i = 0; ok && i < nfields; ++i) {
      s_field& f = st.fields[size_t(i)];
      ok = receiveField(c, f, st.extra[size_t(i)], why);
      if (!ok) break;
      // Every field of an attached table has its wire converter; a field
      // that has none (a binary array) could not travel.
      std::unique_ptr<ZxField> conv(BuildZxField(&f));
      if (!conv) {
        ok = false, why = "field type";
        break;
      }
      int32_t elems = f.d.dim > 1 ? f.d.dim : 1;
      int64_t bytes = int64_t(dbElemSize(f.d.f_itype, f.d.len)) * elems;
      if (int64_t(reclen) + bytes > kMaxRecord) {
        ok = false, why = "record length";
        break;
      }
      f.d.offset = uint16_t(reclen);
      reclen += int32_t(bytes);
      if (f.d.flags & 0x40)
        tflags |= 2;
      else if (f.d.flags & 0x80)
        tflags |= 4;
    }
  }
  if (ok) {
    c >> nindexes;
    if (c.bad() || nindexes < 0 || nindexes > kDbMaxIndexes) ok = false, why = "index count";
  }
  int32_t recnoIndex = -1;
  if (ok) {
    st.indexes.resize(size_t(nindexes));
    st.ixExtra.resize(size_t(nindexes));
    for (int32_t i = 0; ok && i < nindexes; ++i) {
      s_index& ix = st.indexes[size_t(i)];
      ok = receiveIndex(c, handle, st, ix, st.ixExtra[size_t(i)], why);
      if (ok && recnoIndex == -1 && ix.d.nparts == 1 && ix.parts[0].offset == 4 &&
          ix.parts[0].field == handle && (ix.d.flags & 1))
        recnoIndex = handle | i;
    }
  }
  Privilege privs;
  if (ok) {
    c >> privs;
    if (c.bad()) ok = false, why = "privileges";
  }
  if (!ok) {
    Warning(__DbErrmsg("IO_BAD_REPLY"), sp->d.name, ot->name.c_str(), why ? why : "");
    omBegin(c, os->objId, DBM_DETACH) << id;
    omExecute(c);
    _io_errno_ = 5;
    return nullptr;
  }

  // The reply was whole: it becomes the descriptor.
  st.privs = omToInterfacePrivs(privs, st.nprivs, false);
  delete[] tp->d.descr;
  tp->d.descr = st.descr;
  st.descr = nullptr;
  tp->d.flags = tflags;
  tp->d.size = size;
  tp->d.nfields = uint8_t(nfields);
  tp->d.nindex = uint8_t(nindexes);
  tp->d.privs = st.privs;
  tp->d.nprivs = st.nprivs;
  st.privs = nullptr;
  tp->check = st.check;
  st.check = nullptr;
  tp->fields = new s_field[size_t(nfields) + 1]();
  for (int32_t i = 0; i < nfields; ++i) tp->fields[i] = st.fields[size_t(i)];
  st.fields.clear();
  tp->indexes = new s_index[size_t(nindexes) + 1]();
  for (int32_t i = 0; i < nindexes; ++i) tp->indexes[i] = st.indexes[size_t(i)];
  st.indexes.clear();
  tp->nindexes = nindexes;
  ot->fields = std::move(st.extra);
  st.extra.clear();
  for (int32_t i = 0; i < nfields; ++i) ot->fields[size_t(i)].conv = BuildZxField(&tp->fields[i]);
  ot->indexes = std::move(st.ixExtra);
  ot->objId = id;
  ot->kept1 = size;
  ot->kept2 = classId;
  ot->srvFlags = flags;
  ot->recnoIndex = recnoIndex;
  ot->conn = os->conn;
  // Record length last: a table is attached once it is set.
  tp->d.len = uint16_t(reclen);
  tab_array& e = sp->tables[slot];
  def_Free(e.buffer, __FILE__, __LINE__);
  e.buffer = static_cast<char*>(def_Alloc(size_t(reclen) + 4, __FILE__, __LINE__));
  std::memset(e.buffer, 0, size_t(reclen) + 4);
  tp->privg = _FindUserPrivg(tp);

  // The value checks and object references name tables and indexes in the
  // server's numbers. They take the library's once the table is attached:
  // the index a reference names is looked up in its table, which may be
  // this one or one whose own references name this one again.
  for (int32_t i = 0; i < nfields; ++i) {
    s_field& f = tp->fields[i];
    if (f.incheck && !convertZx(*f.incheck, sp)) {
      Warning(__DbErrmsg("IO_BAD_REPLY"), sp->d.name, ot->name.c_str(), "value check");
      omResetTable(tp);
      _io_errno_ = 5;
      return nullptr;
    }
  }
  for (om_field& x : ot->fields) {
    if (x.refClass == 0) continue;
    // A reference to a table the schema does not know keeps its table
    // number (SetObjFld compares it) and names no index.
    ObjectId ref(x.refClass, x.refInst);
    x.refInst = omLibraryIndex(sp, ref) ? uint32_t(dbLowByte(int32_t(ref.instId()))) : uint32_t(kOmNoIndex);
  }
  return tp;
}
