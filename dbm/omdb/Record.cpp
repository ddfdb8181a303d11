// Records, keys, stamps and the client table cache of a table on its
// server.
//
// Every call takes a handle naming schema, table and index (low byte). A
// read joins the program's transaction only when the user began one; a
// write joins it, or runs in a transaction of its own that ends right
// after it (OmdbTrans.h). Writes are void requests: they travel with the
// next request that expects a reply, and a failure on the server reaches
// the program as the abort of its transaction.
//
// Table cache (one per table slot, made by SetTableCache): a ring of n
// entries of record length + 4 bytes (the record buffer and its number).
// States: none -> filling (write position advances after each exact read
// without locks) -> wrapped (the oldest entry is overwritten next) -> none
// again with SetTableCache(h, 0). A write of a key (PutRecord, DelRecord,
// UpdateRecord) zeroes the entry of that primary key, so the next read of
// it goes to the server.
// The foundation first: the interface's TimeStamp() call must not hide
// the foundation's TimeStamp class.
#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/Time.h>

#include "Omdb.h"
#include "OmdbRecords.h"
#include "OmdbTrans.h"

#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

namespace {

using omdb::kWireDateHigh;
using omdb::kWireDateNull;

DbHandler gHandler = nullptr;

void defaultHandler(int32_t table, char const* key, char const* detail) {
  s_table* t = _GetTabPtr(table & 0xffff00);
  char const* fmt = __DbErrmsg(key);
  Warning(fmt, t && t->schema ? t->schema->d.name : "", t ? t->d.name : "", detail ? detail : "");
}

// The table, its index slot and the library part of a record call's
// handle; false (after a report) when the handle names no index of an
// attached table.
struct Target {
  s_table* t = nullptr;
  om_table* ot = nullptr;
  int32_t idx = 0;
  s_index* ip = nullptr;
  char* buf = nullptr;
};

bool target(int32_t h, Target& x, bool needIndex = true) {
  x.t = omTable(h & 0xffff00);
  if (!x.t) return false;
  x.ot = omOf(x.t);
  x.buf = _GetTabBuff(h & 0xffff00);
  if (!x.ot || !x.ot->conn || !x.buf || x.t->d.len < kOmPrefixBytes) return false;
  if (!needIndex) return true;
  x.idx = dbLowByte(h);
  if (x.idx >= x.t->nindexes || !x.t->indexes || x.t->indexes[x.idx].d.nparts == 0 || !x.t->indexes[x.idx].parts ||
      size_t(x.idx) >= x.ot->indexes.size()) {
    Warning(__DbErrmsg("IO_INV_HANDLE"), long(h));
    return false;
  }
  x.ip = &x.t->indexes[x.idx];
  return true;
}

int32_t serverIndex(Target const& x) { return omIndexNumber(x.ot, x.idx, true); }

void noMoreRecno(Target const& x, char const* op) {
  Warning(__DbErrmsg("IO_NO_MORE_RECNO"), op, x.t->schema ? x.t->schema->d.name : "", x.t->d.name);
}

// ---- table cache ---------------------------------------------------------------------
// One def_Alloc block: this head, then the entries.
struct CacheHead {
  int32_t entries;
  int32_t entryBytes;
  int32_t write;
  int32_t wrapped;
};

tab_array* slotOf(int32_t h) {
  s_schema* sp = _GetSchPtr(h & 0xff0000);
  int32_t s = dbTableSlot(h);
  if (!sp || !sp->tables || s < 1 || s > kDbMaxTables) return nullptr;
  return &sp->tables[s];
}

CacheHead* cacheOf(int32_t h) {
  tab_array* a = slotOf(h);
  return a ? static_cast<CacheHead*>(a->cache) : nullptr;
}

char* entryAt(CacheHead* c, int32_t i) {
  return reinterpret_cast<char*>(c + 1) + size_t(i) * size_t(c->entryBytes);
}

int32_t liveEntries(CacheHead const* c) { return c->wrapped ? c->entries : c->write; }

bool sameKey(s_index const* ip, char const* a, char const* b) {
  std::vector<char> ka(size_t(ip->d.klen) + 4, 0), kb(size_t(ip->d.klen) + 4, 0);
  _BuildKey(ka.data(), ip, a, 0);
  _BuildKey(kb.data(), ip, b, 0);
  return _KeyCmp(ip, ka.data(), kb.data()) == 0;
}

int32_t cacheLookup(Target const& x, int32_t h) {
  CacheHead* c = cacheOf(h);
  if (!c || c->entryBytes != x.t->d.len + 4) return -1;
  for (int32_t i = 0; i < liveEntries(c); ++i) {
    char* e = entryAt(c, i);
    int32_t recno = ldlong(e + x.t->d.len);
    if (recno <= 0 || !sameKey(x.ip, e, x.buf)) continue;
    std::memcpy(x.buf, e, size_t(c->entryBytes));
    return recno;
  }
  return -1;
}

void cacheAdd(Target const& x, int32_t h) {
  CacheHead* c = cacheOf(h);
  if (!c || c->entryBytes != x.t->d.len + 4 || c->entries < 1) return;
  std::memcpy(entryAt(c, c->write), x.buf, size_t(c->entryBytes));
  if (c->write + 1 < c->entries) {
    ++c->write;
  } else {
    c->write = 0;
    c->wrapped = 1;
  }
}

// Zeroes the entry holding the primary key of the buffer.
void cacheDrop(Target const& x, int32_t h) {
  CacheHead* c = cacheOf(h);
  if (!c || c->entryBytes != x.t->d.len + 4 || x.t->nindexes < 1 || x.t->indexes[0].d.nparts == 0) return;
  for (int32_t i = 0; i < liveEntries(c); ++i) {
    char* e = entryAt(c, i);
    if (ldlong(e + x.t->d.len) > 0 && sameKey(&x.t->indexes[0], e, x.buf)) std::memset(e, 0, size_t(c->entryBytes));
  }
}

// ---- request helpers -------------------------------------------------------------------

// Receives a record reply (prefix and fields) into a copy of the buffer;
// the buffer takes it, with its number behind it, only when well formed.
bool receiveInto(DbConnection& c, Target const& x, int32_t recno, int32_t const* list, int32_t n) {
  std::vector<char> img(x.buf, x.buf + x.t->d.len + 4);
  if (!omdb::receivePrefix(c, x.t, img.data()) || !omdb::receiveFields(c, x.t, img.data(), list, n) ||
      omReplyBad(c)) {
    Warning(__DbErrmsg("IO_BAD_RECORD"), x.t->schema ? x.t->schema->d.name : "", x.t->d.name, "GetRecord");
    return false;
  }
  stlong(recno, img.data() + x.t->d.len);
  std::memcpy(x.buf, img.data(), img.size());
  return true;
}

void keyText(Target const& x, char* out, size_t n) {
  std::vector<char> k(size_t(x.ip->d.klen) + 4, 0);
  _BuildKey(k.data(), x.ip, x.buf, 0);
  _KeyText(x.ip, k.data(), out, n);
}

// A read: GetRecord, and GetObject through it.
int32_t readRecord(int32_t h, int32_t mode, int32_t flags, int32_t value) {
  Target x;
  if (!target(h, x)) return -1;
  if (!omdb::joinTrans(x.ot->conn, true)) return -3;
  if (mode == 0) {
    noMoreRecno(x, "GetRecord");
    return -1;
  }
  bool cacheable = mode == 1 && (flags == 0 || flags == 4);
  if (cacheable) {
    int32_t r = cacheLookup(x, h);
    if (r != -1) return r;
  }
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_GETRECORD);
  c << serverIndex(x) << omdb::convertFlags(mode, flags) << int32_t((flags & 2) ? 0 : -1)
    << int32_t(DbConnection::multiServerLock(x.ot->conn) ? 1 : 0) << int32_t((mode & 0x20) ? value : 0);
  omdb::sendKey(c, x.t, x.ip, x.buf, mode, true);
  int32_t r = omExecute(c);
  if (r == -1) {
    int32_t code = omLastError();
    if (flags & 4) {
      if (code != 0) {
        Exception::last().raise();
        return -1;
      }
      // The caller asked for a record that must exist: a fatal report, as
      // the local library gives it.
      char text[256];
      keyText(x, text, sizeof text);
      Error(__DbErrmsg("IO_REC_NOT_FOUND"), x.t->schema ? x.t->schema->d.name : "", x.t->d.name, text);
      return -1;
    }
    return omdb::failure(h, code);
  }
  if (r < 1 || !receiveInto(c, x, r, nullptr, 0)) return -1;
  if (flags & 0x4001) x.ot->conn->didLock();
  if (cacheable) cacheAdd(x, h);
  return r;
}

// FindRecord and _FindKey: the key found goes into buf.
int32_t findKey(Target const& x, char* buf, int32_t mode, int32_t value) {
  if (mode == 0) {
    noMoreRecno(x, "FindRecord");
    return -1;
  }
  if (!omdb::joinTrans(x.ot->conn, true)) return -3;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_FINDRECORD);
  c << serverIndex(x) << omdb::convertFlags(mode, 0) << int32_t(int16_t(value));
  omdb::sendKey(c, x.t, x.ip, buf, mode, true);
  int32_t r = omExecute(c);
  if (r == -1) return omLastError() == kExcLocked ? -2 : -1;
  std::vector<char> img(buf, buf + x.t->d.len + 4);
  if (r < 1 || !omdb::receiveKeyParts(c, x.t, x.ip, img.data()) || omReplyBad(c)) {
    Warning(__DbErrmsg("IO_BAD_RECORD"), x.t->schema ? x.t->schema->d.name : "", x.t->d.name, "FindRecord");
    return -1;
  }
  stlong(r, img.data() + x.t->d.len);
  std::memcpy(buf, img.data(), img.size());
  return r;
}

// Joins a write; false (nothing is to be sent) when refused.
bool joinWrite(Target const& x) { return omdb::joinTrans(x.ot->conn, false); }

// The run-time's check of the record before a write: a refusal marks the
// transaction corrupt and goes to the refusal handler; nothing is sent.
bool writable(Target const& x, int32_t h) {
  // The server writes a record only through a primary index it holds. An
  // index defined here and never made there (CompleteIndex, BuildIndex)
  // would have every write refused at the end of the transaction: the write
  // is refused now instead.
  if (x.ot->indexes.empty() || x.ot->indexes[0].kept == -1) {
    omdb::corruptTrans();
    omdb::refuse(h, "IO_REC_REFUSED", __DbErrmsg("IO_NO_SERVER_INDEX"));
    return false;
  }
  char field[64] = "";
  int32_t detail = _CheckRecord(h & 0xffff00, x.buf, field, sizeof field);
  if (detail == 0) return true;
  omdb::corruptTrans();
  // The detail text names the field where it has a "%s".
  std::string d = _detailMsg(detail) ? _detailMsg(detail) : "";
  size_t at = d.find("%s");
  if (at != std::string::npos) d.replace(at, 2, field);
  else d += std::string(" ") + field;
  omdb::refuse(h, "IO_REC_REFUSED", d.c_str());
  return false;
}

// One UpdateRecord item, read from the caller's arguments.
struct Item {
  int32_t field = 0;  // 0-based
  int32_t op = 0;
  int32_t first = 0, last = 0;
  Num num;
  std::string text;
  bool textNull = false;
  int32_t word = 0;
  int kind = 0;  // 0 Num, 1 text, 2 word
};

// A date or time operand in its wire form.
int32_t dateWord(int32_t d) { return d == kWireDateNull ? int32_t(0x80000000) : (d == kWireDateHigh ? 0x7fffffff : d); }
int32_t timeWord(int32_t t) { return t == 0 ? int32_t(0x80000000) : t * 2 - 2; }

}  // namespace

// ---- marshalling (OmdbRecords.h) ----------------------------------------------------------

namespace omdb {

void sendStamp(Connection& c, time_stamp const& ts, bool nullPartsAsZero) {
  c << stampSeconds(ts, nullPartsAsZero);
  c << int32_t((uint32_t(uint16_t(ts.spare)) << 16) | uint16_t(ts.user));
}

// The record-number part names no field of its table (low byte 0) and
// lies on the record number, the long at prefix bytes 4-7, as a described
// table and CreateIndex both make it.
bool isRecnoPart(s_index_field const& p) {
  return dbLowByte(p.field) == 0 && p.itype == DB_IT_LONG && p.offset == kPfxInst && p.len == 4;
}

s_field* partField(s_table* t, s_index_field const& p) {
  int32_t n = dbLowByte(p.field);
  if (n < 1 || n > t->d.nfields || !t->fields) return nullptr;
  return &t->fields[n - 1];
}

namespace {

ZxField* converter(s_table* t, s_field* f) {
  om_table* ot = omOf(t);
  size_t i = size_t(f - t->fields);
  return ot && i < ot->fields.size() ? ot->fields[i].conv : nullptr;
}

bool partFits(s_table* t, s_index_field const& p) { return int32_t(p.offset) + p.len <= t->d.len; }

}  // namespace

void sendKey(DbConnection& c, s_table* t, s_index const* ip, char const* buf, int32_t mode, bool trailer) {
  if (mode == 8 || mode == 16) return;
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    s_index_field const& p = ip->parts[i];
    if (isRecnoPart(p)) {
      c << ldlong(buf + kPfxInst);
      continue;
    }
    s_field* f = partField(t, p);
    ZxField* z = f ? converter(t, f) : nullptr;
    if (!z || !partFits(t, p)) {
      c << int32_t(0);
      continue;
    }
    z->send(c, buf + p.offset, p.len, false);
  }
  if (trailer && !(ip->d.flags & 1))
    c << (mode == 5 ? 0x7fffffff : ((mode & 1) ? 0 : ldlong(buf + t->d.len)));
}

void sendEndKey(DbConnection& c, s_table* t, s_index const* ip, bool high) {
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    s_index_field const& p = ip->parts[i];
    // A descending part sorts its highest value first.
    bool top = (p.flags & 1) ? !high : high;
    if (isRecnoPart(p)) {
      c << (top ? 0x7fffffff : 0);
      continue;
    }
    s_field* f = partField(t, p);
    int32_t type = f ? f->d.type : 10;
    switch (type) {
      case 0:
      case 4: {
        Num n;
        LToNum(top ? 0x7fffffff : int32_t(0x80000000), n);
        c << n;
        break;
      }
      case 1: c << (top ? reinterpret_cast<char const*>(1) : static_cast<char const*>(nullptr)); break;
      case 5: c << int32_t(top ? 1 : 0); break;
      case 8: c << int32_t(top ? -1 : 0) << int32_t(top ? -1 : 0); break;
      case 9: c << int32_t(top ? -1 : 0) << int32_t(top ? -1 : 0) << int32_t(top ? -1 : 0); break;
      default: c << (top ? 0x7fffffff : int32_t(0x80000000)); break;
    }
  }
}

bool receiveKeyParts(DbConnection& c, s_table* t, s_index const* ip, char* buf) {
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    s_index_field const& p = ip->parts[i];
    if (isRecnoPart(p)) {
      int32_t v = 0;
      c >> v;
      stlong(omOf(t)->number, buf + kPfxTable);
      stlong(v, buf + kPfxInst);
      continue;
    }
    s_field* f = partField(t, p);
    ZxField* z = f ? converter(t, f) : nullptr;
    if (!z || !partFits(t, p)) return false;
    // Into a copy of the whole field: a text part may start inside it.
    int32_t size = dbElemSize(f->d.f_itype, f->d.len) * (f->d.dim > 1 ? f->d.dim : 1);
    if (size <= 0 || f->d.offset + size > t->d.len) return false;
    std::vector<char> tmp(buf + f->d.offset, buf + f->d.offset + size);
    if (!z->receive(c, tmp.data()) || c.bad()) return false;
    int32_t from = int32_t(p.offset) - f->d.offset;
    if (from < 0 || from + p.len > size) return false;
    std::memcpy(buf + p.offset, tmp.data() + from, p.len);
  }
  return !c.bad();
}

void sendPrefix(DbConnection& c, s_table* t, char const* buf) {
  if (t->d.flags & kTabIdKey) c << ldlong(buf + kPfxInst);
  if (t->d.flags & kTabStampKey) sendStamp(c, loadStamp(buf + kPfxCreated), false);
}

bool receivePrefix(DbConnection& c, s_table* t, char* buf) {
  int32_t inst = 0, s = 0, w = 0;
  c >> inst >> s >> w;
  stlong(omOf(t)->number, buf + kPfxTable);
  stlong(inst, buf + kPfxInst);
  storeStamp(stampFromWire(s, w), buf + kPfxModified);
  if (t->d.flags & kTabCreation) {
    c >> s >> w;
    storeStamp(stampFromWire(s, w), buf + kPfxCreated);
  }
  if (t->d.flags & (kTabCreation | kTabModStamp | kTabStampKey)) resolveStamps(t, buf);
  return !c.bad();
}

void resolveStamps(s_table* t, char* buf) {
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field const* f = &t->fields[i];
    if (!(f->d.flags & kStampBits)) continue;
    time_stamp ts = loadStamp(buf + ((f->d.flags & 0x140) ? kPfxCreated : kPfxModified));
    char* p = buf + f->d.offset;
    switch (f->d.f_itype) {
      case DB_IT_LONG:
        if (f->d.offset + 4 <= t->d.len) stlong(ts.user, p);
        break;
      case DB_IT_DATE:
        if (f->d.offset + 2 <= t->d.len) stshort(int16_t(ts.date), p);
        break;
      case DB_IT_TIME:
        if (f->d.offset + 2 <= t->d.len) stshort(int16_t(ts.time), p);
        break;
      default: break;
    }
  }
}

void sendRecord(DbConnection& c, s_table* t, char const* buf) {
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field* f = &t->fields[i];
    if (f->d.flags & kStampBits) continue;
    if (ZxField* z = converter(t, f)) z->send(c, buf + f->d.offset, f->d.len, false);
  }
}

bool receiveFields(DbConnection& c, s_table* t, char* buf, int32_t const* list, int32_t n) {
  int32_t count = list ? n : t->d.nfields;
  for (int32_t k = 0; k < count; ++k) {
    int32_t i = list ? list[k] - 1 : k;
    if (i < 0 || i >= t->d.nfields) return false;
    s_field* f = &t->fields[i];
    if (f->d.flags & kStampBits) continue;
    ZxField* z = converter(t, f);
    if (!z || !z->receive(c, buf + f->d.offset) || c.bad()) return false;
  }
  return true;
}

void refuse(int32_t table, char const* key, char const* detail) {
  (gHandler ? gHandler : defaultHandler)(table, key, detail);
}

int32_t failure(int32_t table, int32_t code) {
  if (code == 0) return -1;
  if (code == kExcLocked) return -2;
  bool inTrans = omdb::inTrans();
  if (code == kExcNoPrivilege) {
    String m = Exception::last().message();
    refuse(table, "IO_NO_PERMS", m.isNull() ? "" : toCharPtr(m));
    if (!inTrans) return -1;
    omdb::corruptTrans();
    return -3;
  }
  if (inTrans) {
    omdb::corruptTrans();
    if (omdb::transMode() & 4) Exception::last().raise();
    return -3;
  }
  Exception::last().raise();
  return -1;
}

}  // namespace omdb

// ---- the interface -----------------------------------------------------------------------

extern "C" {

DbHandler SetDbHandler(DbHandler h) {
  DbHandler old = gHandler;
  gHandler = h;
  return old;
}

int32_t GetRecord(int32_t table, int32_t mode, int32_t lockflags, int32_t number) {
  int32_t r = readRecord(table, mode, lockflags, number);
  // A table with a relation reads the related record too.
  if (r >= 0) _GetRel(table & 0xffff00);
  return r;
}

int32_t FindRecord(int32_t table, int32_t mode, int32_t nparts) {
  Target x;
  if (!target(table, x)) return -1;
  return findKey(x, x.buf, mode, nparts);
}

int32_t _FindKey(void const*, int32_t index, char const* record, int32_t mode, int32_t nparts, char** keyout,
                 int32_t) {
  Target x;
  if (!target(index, x) || !record) return -1;
  std::vector<char> work(record, record + x.t->d.len + 4);
  int32_t r = findKey(x, work.data(), mode, nparts);
  if (keyout) *keyout = nullptr;
  return r;
}

int32_t AddRecord(int32_t table) {
  Target x;
  if (!target(table, x, false) || !writable(x, table)) return -1;
  if (!joinWrite(x)) return -1;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_ADDRECORD);
  c << int32_t(1);
  omdb::sendPrefix(c, x.t, x.buf);
  omdb::sendRecord(c, x.t, x.buf);
  omExecute(c);
  omdb::endImplicit();
  return 0;
}

int32_t AddRecordTest(int32_t table) {
  Target x;
  if (!target(table, x, false) || !writable(x, table)) return -1;
  if (!joinWrite(x)) return -1;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_ADDRECORDTEST);
  omdb::sendPrefix(c, x.t, x.buf);
  omdb::sendRecord(c, x.t, x.buf);
  int32_t r = omExecute(c);
  int32_t code = omLastError();
  if (r == -1 && code != 0) {
    omdb::corruptTrans();
    if (code == kExcNoPrivilege) {
      String m = Exception::last().message();
      omdb::refuse(table, "IO_NO_PERMS", m.isNull() ? "" : toCharPtr(m));
    } else if (omdb::transMode() & 4) {
      Exception::last().raise();
    }
    omdb::endImplicit();
    return -3;
  }
  if (r > 0) {
    std::vector<char> img(x.buf, x.buf + x.t->d.len + 4);
    if (omdb::receivePrefix(c, x.t, img.data()) && !omReplyBad(c)) {
      stlong(r, img.data() + x.t->d.len);
      std::memcpy(x.buf, img.data(), img.size());
    } else {
      r = -1;
    }
  }
  omdb::endImplicit();
  return r > 0 ? r : -1;
}

int32_t AddRecordTS(int32_t table, time_stamp const* creation, time_stamp const* modification) {
  Target x;
  if (!target(table, x, false) || !writable(x, table)) return -1;
  if (!joinWrite(x)) return -1;
  time_stamp const none{0, kWireDateNull, 0, 0};
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_ADDRECORD);
  c << int32_t(0);
  // The server reads the instance id of a table keyed by it first.
  if (x.t->d.flags & omdb::kTabIdKey) c << ldlong(x.buf + omdb::kPfxInst);
  omdb::sendStamp(c, creation ? *creation : none, true);
  omdb::sendStamp(c, modification ? *modification : none, true);
  omdb::sendRecord(c, x.t, x.buf);
  omExecute(c);
  omdb::endImplicit();
  return 0;
}

int32_t PutRecord(int32_t table) {
  Target x;
  if (!target(table, x, false) || !writable(x, table)) return -1;
  if (!joinWrite(x)) return -1;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_PUTRECORD);
  omdb::sendPrefix(c, x.t, x.buf);
  omdb::sendRecord(c, x.t, x.buf);
  omExecute(c);
  cacheDrop(x, table);
  omdb::endImplicit();
  return 0;
}

int32_t DelRecord(int32_t table) {
  Target x;
  if (!target(table & 0xffff00, x)) return -1;
  if (!joinWrite(x)) return -1;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_DELRECORD);
  omdb::sendKey(c, x.t, x.ip, x.buf, 1, true);
  omExecute(c);
  cacheDrop(x, table);
  omdb::endImplicit();
  return 0;
}

// Items: field number (1-based, 0 ends), operation 0-5; for 0-4 an array
// field's first and last element (two ints) and the operand in the form
// of the field's elements in the record buffer (a number in its buffer
// type: int for 1, 2 and 4-byte numbers, double for doubles, a pointer to
// the 16-byte form; a text pointer; a date or time short as int; an
// object or other field as int); for 5 the number of the field to copy.
int32_t UpdateRecord(int32_t table, ...) {
  Target x;
  if (!target(table & 0xffff00, x)) return -1;
  std::vector<Item> items;
  va_list ap;
  va_start(ap, table);
  bool bad = false;
  for (;;) {
    int32_t n = va_arg(ap, int32_t);
    if (n == 0) break;
    Item it;
    it.field = n - 1;
    it.op = va_arg(ap, int32_t);
    if (n < 1 || n > x.t->d.nfields || (x.t->fields[n - 1].d.flags & omdb::kStampBits)) {
      Warning(__DbErrmsg("IO_BAD_UPDATE"), x.t->d.name, "field", long(n));
      bad = true;
      break;
    }
    if (it.op < 0 || it.op > 5) {
      Warning(__DbErrmsg("IO_BAD_UPDATE"), x.t->d.name, "operation", long(it.op));
      bad = true;
      break;
    }
    s_field const* f = &x.t->fields[it.field];
    if (it.op == 5) {
      int32_t from = va_arg(ap, int32_t);
      if (from < 1 || from > x.t->d.nfields) {
        Warning(__DbErrmsg("IO_BAD_UPDATE"), x.t->d.name, "field", long(from));
        bad = true;
        break;
      }
      it.word = from - 1;
      items.push_back(it);
      continue;
    }
    if (f->d.dim > 1) {
      it.first = va_arg(ap, int32_t);
      it.last = va_arg(ap, int32_t);
    }
    switch (f->d.type) {
      case 0:
      case 4: {
        switch (f->d.f_itype) {
          case DB_IT_DOUBLE:
          case DB_IT_FLOAT: FToNum(va_arg(ap, double), &it.num); break;
          case DB_IT_NUM: {
            char const* p = va_arg(ap, char const*);
            if (!p || ldnum(&it.num, p) != 0) it.num = Num();
            break;
          }
          // A byte or short operand has its own null and highest values
          // (-128 / 127, -32768 / 32767), as the buffer holds them.
          case DB_IT_BYTE: it.num = toNum(char(va_arg(ap, int32_t))); break;
          case DB_IT_SHORT: it.num = toNum(int16_t(va_arg(ap, int32_t))); break;
          default: LToNum(va_arg(ap, int32_t), it.num); break;
        }
        // The operand is in the buffer's form, the number times 10^decimals.
        if (f->d.dec && !it.num.isNull() && !it.num.isMax()) NumShift(&it.num, -int32_t(f->d.dec));
        it.kind = 0;
        break;
      }
      case 1: {
        char const* s = va_arg(ap, char const*);
        it.textNull = s == nullptr;
        if (s) it.text.assign(s, strnlen(s, f->d.len));
        it.kind = 1;
        break;
      }
      case 2: it.word = dateWord(va_arg(ap, int32_t)); it.kind = 2; break;
      case 3: it.word = timeWord(va_arg(ap, int32_t)); it.kind = 2; break;
      default: it.word = va_arg(ap, int32_t); it.kind = 2; break;
    }
    items.push_back(it);
  }
  va_end(ap);
  if (bad) return -1;
  if (!joinWrite(x)) return -1;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_UPDATERECORD);
  c << int32_t(1);
  omdb::sendKey(c, x.t, &x.t->indexes[0], x.buf, 1, true);
  for (Item const& it : items) {
    c << it.field << it.op;
    if (it.op == 5) {
      c << it.word;
      continue;
    }
    if (x.t->fields[it.field].d.dim > 1) c << it.first << it.last;
    if (it.kind == 0) c << it.num;
    else if (it.kind == 1) c << (it.textNull ? static_cast<char const*>(nullptr) : it.text.c_str());
    else c << it.word;
  }
  c << int32_t(-1);
  omExecute(c);
  cacheDrop(x, table);
  omdb::endImplicit();
  return 0;
}

int32_t FreeRecord(int32_t table, int32_t mode, int32_t nparts) {
  Target x;
  if (!target(table, x)) return -1;
  if (mode == 0) {
    noMoreRecno(x, "FreeRecord");
    return -1;
  }
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_FREERECORD);
  c << serverIndex(x) << omdb::convertFlags(mode, 0) << int32_t((mode & 0x20) ? nparts : 0);
  omdb::sendKey(c, x.t, x.ip, x.buf, mode, true);
  omExecute(c);
  if (!omdb::inTrans()) DbFlushReq(table & 0xff0000);
  return 0;
}

int32_t LockTable(int32_t table, int32_t mode) {
  Target x;
  if (!target(table, x, false)) return -1;
  if (!omdb::joinTrans(x.ot->conn, true)) return -3;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_LOCK);
  c << omdb::convertFlags(0, mode) << int32_t((mode & 2) ? 0 : -1)
    << int32_t(DbConnection::multiServerLock(x.ot->conn) ? 1 : 0);
  int32_t r = omExecute(c);
  if (r == 0 || (r == -1 && omLastError() == 0)) {
    if (mode & 1) x.ot->conn->didLock();
    return 0;
  }
  if (r == -1) return omdb::failure(table, omLastError());
  return r;
}

int32_t FreeTable(int32_t table) {
  Target x;
  if (!target(table, x, false)) return -1;
  omBegin(*x.ot->conn, x.ot->objId, DBM_FREE);
  omExecute(*x.ot->conn);
  if (!omdb::inTrans()) DbFlushReq(table & 0xff0000);
  return 0;
}

int32_t FlushTable(int32_t table) { return FreeTable(table); }

int32_t _FlushTable(int32_t, int32_t) { return 0; }

time_stamp TableTimeStamp(int32_t table) {
  time_stamp ts{0, 0, 0, 0};
  Target x;
  if (!target(table, x, false)) return ts;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_GETINFO);
  c << int32_t(32);
  if (omExecute(c) != 0) return ts;
  int32_t s = 0, w = 0;
  c >> s >> w;
  return omReplyBad(c) ? ts : omdb::stampFromWire(s, w);
}

int32_t TabNRecords(int32_t table) {
  Target x;
  if (!target(table, x, false)) return -1;
  omBegin(*x.ot->conn, x.ot->objId, DBM_CARDINAL);
  return omExecute(*x.ot->conn);
}

int32_t TabActualSize(int32_t table) { return TabNRecords(table); }

int32_t InitRecord(int32_t table) {
  Target x;
  if (!target(table, x, false)) return -1;
  std::memset(x.buf, 0, size_t(kOmPrefixBytes));
  for (int32_t i = 0; i < x.t->d.nfields; ++i) {
    s_field const* f = &x.t->fields[i];
    int32_t n = f->d.dim > 1 ? f->d.dim : 1;
    for (int32_t e = 0; e < n; ++e) _InitDbField(f, x.buf, e);
  }
  // A new record has no number yet.
  stlong(0, x.buf + x.t->d.len);
  return 0;
}

// The record stack holds the record buffer with its number; PopRecord
// reads the record of the restored key again.
int32_t PushRecord(int32_t table) {
  Target x;
  if (!target(table, x, false)) return -1;
  return _PushRecord(table & 0xffff00, x.buf, x.t->d.len + 4);
}

int32_t PopRecord(int32_t table) {
  Target x;
  if (!target(table, x, false)) return 0;
  if (_PopRecord(table & 0xffff00, x.buf, x.t->d.len + 4) != 1) return 0;
  return readRecord(table & 0xffff00, 1, 0, 0) > 0 ? 1 : 0;
}

int32_t DiscardRecord(int32_t table) {
  Target x;
  if (!target(table, x, false)) return -1;
  std::vector<char> scratch(size_t(x.t->d.len) + 4);
  return _PopRecord(table & 0xffff00, scratch.data(), int32_t(scratch.size())) == 1 ? 0 : -1;
}

time_stamp MTimeStamp(int32_t table) {
  Target x;
  if (!target(table, x, false)) return time_stamp{0, kWireDateNull, 0, 0};
  return omdb::loadStamp(x.buf + omdb::kPfxModified);
}

time_stamp CTimeStamp(int32_t table) {
  Target x;
  if (!target(table, x, false)) return time_stamp{0, kWireDateNull, 0, 0};
  return omdb::loadStamp(x.buf + omdb::kPfxCreated);
}

time_stamp TimeStamp(int32_t table, int32_t tableflags, int32_t fieldflags) {
  Target x;
  if (!target(table, x, false) || !(x.t->d.flags & tableflags)) return time_stamp{0, kWireDateNull, 0, 0};
  return omdb::loadStamp(x.buf + ((fieldflags & 0x140) ? omdb::kPfxCreated : omdb::kPfxModified));
}

int32_t SetFieldStamps(int32_t table, char* buffer, time_stamp const* creation, time_stamp const* modification) {
  Target x;
  if (!target(table, x, false) || !buffer) return -1;
  if (creation) omdb::storeStamp(*creation, buffer + omdb::kPfxCreated);
  if (modification) omdb::storeStamp(*modification, buffer + omdb::kPfxModified);
  omdb::resolveStamps(x.t, buffer);
  return 0;
}

// The download stamp belongs to local data files: refused here.
time_stamp GetDownLoadTS(int32_t) {
  Warning(__DbErrmsg("IO_NOT_HERE"), "GetDownLoadTS");
  return time_stamp{0, kWireDateNull, 0, 0};
}

int32_t SetDownLoadTS(int32_t, time_stamp const*) {
  Warning(__DbErrmsg("IO_NOT_HERE"), "SetDownLoadTS");
  return -1;
}

int32_t SetDataCache(int32_t, int32_t, int32_t) { return 0; }
int32_t SetIndexCache(int32_t, int32_t) { return 0; }
void _ForgetTableState(s_table*) {}

int32_t _AddKey(int32_t index, int32_t recno, char* record, int32_t) {
  if (recno == 0) return -1;
  Target x;
  if (!target(index, x)) return -1;
  if (serverIndex(x) < 0 && (CompleteIndex(index) < 0 || serverIndex(x) < 0)) return 0;
  char const* rec = record ? record : x.buf;
  DbConnection& c = omBegin(*x.ot->conn, x.ot->objId, DBM_INSKEY);
  c << serverIndex(x);
  // The server reads the key's parts, then one record number.
  omdb::sendKey(c, x.t, x.ip, rec, 0, false);
  c << recno;
  return omExecute(c);
}

// The server takes keys into an index (InsKey) but has no request that
// takes one out: a key goes with its record (DelRecord) or its index.
int32_t _DelKey(int32_t, int32_t, char const*) { return -1; }

int32_t SetTableCache(int32_t table, int32_t n) {
  if (n < 0) return -1;
  tab_array* a = slotOf(table);
  if (!a) return -1;
  CacheHead* old = static_cast<CacheHead*>(a->cache);
  if (n == 0) {
    def_Free(old, __FILE__, __LINE__);
    a->cache = nullptr;
    a->ncache = 0;
    return 0;
  }
  Target x;
  if (!target(table, x, false)) return -1;
  int32_t bytes = x.t->d.len + 4;
  auto* c = static_cast<CacheHead*>(def_Alloc(sizeof(CacheHead) + size_t(n) * size_t(bytes), __FILE__, __LINE__));
  std::memset(c, 0, sizeof(CacheHead) + size_t(n) * size_t(bytes));
  c->entries = n;
  c->entryBytes = bytes;
  if (old && old->entryBytes == bytes) {
    int32_t keep = liveEntries(old) < n ? liveEntries(old) : n;
    for (int32_t i = 0; i < keep; ++i) std::memcpy(entryAt(c, i), entryAt(old, i), size_t(bytes));
    c->write = keep < n ? keep : 0;
    c->wrapped = keep == n ? 1 : 0;
  }
  def_Free(old, __FILE__, __LINE__);
  a->cache = c;
  a->ncache = uint16_t(n > 0xffff ? 0xffff : n);
  return 0;
}

int32_t TableCacheSize(int32_t table) {
  CacheHead* c = cacheOf(table);
  return c ? c->entries : -1;
}

int32_t stDbObj(void* place, uint32_t const* objectId) {
  if (!place || !objectId) return -1;
  stlong(int32_t(objectId[0]), static_cast<char*>(place));
  stlong(int32_t(objectId[1]), static_cast<char*>(place) + 4);
  return 0;
}

int32_t ldDbObj(void const* place, uint32_t* objectId) {
  if (!place || !objectId) return -1;
  objectId[0] = uint32_t(ldlong(static_cast<char const*>(place)));
  objectId[1] = uint32_t(ldlong(static_cast<char const*>(place) + 4));
  return 0;
}

int32_t ObjFld(int32_t field, int32_t element, uint32_t* objectId) {
  s_field* f = _GetFldPtr(field);
  char* buf = f ? _GetTabBuff(field & 0xffff00) : nullptr;
  if (!f || !buf || !objectId) return -1;
  if (f->d.type != 8) {
    _ConvHandler("IO_NOT_OBJECT", f->d.name);
    return -1;
  }
  char* p = _FldAddr(f, buf, element);
  return p ? ldDbObj(p, objectId) : -1;
}

int32_t SetObjFld(char* record, uint32_t const* objectId, int32_t field, int32_t element) {
  s_field* f = _GetFldPtr(field);
  s_table* t = f ? _GetTabPtr(field & 0xffff00) : nullptr;
  if (!f || !t || !record || !objectId) return -1;
  if (f->d.type != 8) {
    _ConvHandler("IO_NOT_OBJECT", f->d.name);
    return -1;
  }
  om_table* ot = omOf(t);
  size_t i = size_t(f - t->fields);
  // The field refers to (table number, index): the id's table word must
  // name that table unless the id is the lowest, the highest or null.
  bool bound = objectId[0] == 0 || objectId[0] == 0x7fffffff || objectId[0] == 0xffffffff;
  if (!bound && ot && i < ot->fields.size() && ot->fields[i].refClass != 0 && objectId[0] != ot->fields[i].refClass)
    _ConvHandler("IO_DIFF_DBOBJECT", f->d.name);
  char* p = _FldAddr(f, record, element);
  return p ? stDbObj(p, objectId) : -1;
}

int32_t GetObject(uint32_t const* objectId, int32_t flags) {
  if (!objectId) return -1;
  int32_t h = findDbTable(int32_t(objectId[0]));
  if (h < 0) return -1;
  s_table* t = omTable(h);
  om_table* ot = t ? omOf(t) : nullptr;
  if (!ot || ot->recnoIndex < 0) return -1;
  char* buf = _GetTabBuff(h);
  if (!buf) return -1;
  stDbObj(buf, objectId);
  return readRecord((h & 0xffff00) | dbLowByte(ot->recnoIndex), 1, flags, 0);
}

}  // extern "C"
