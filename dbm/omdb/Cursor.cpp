// Cursors on the server and the blocks of records they fetch.
//
// The run-time layer owns the cursor (s_dbcurs: range records, block,
// position); this library keeps beside it (in `u`) the cursor's object on
// the server, the range last sent and where the server's cursor stands.
//
// Server position states: unsent (no range sent yet) -> at start / at end
// (a SetRange just sent, without / with the at-end flag) -> moved (a block
// was fetched: the next block in either direction continues from it) ->
// at start / at end again when a fresh walk (the run-time layer holds no
// block) needs it or the range changed. A range is sent only then: an
// unchanged range is never sent with every block.
//
// Block entries are record length + 4 bytes: the record image (prefix,
// fields, stamp fields filled from the prefix) and its number big-endian.
// A forward block fills entries 0.., a backward one capacity-1 downwards;
// the block grows to the count the server sends.
// The foundation first: the interface's TimeStamp() call must not hide
// the foundation's TimeStamp class.
#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>

#include "Omdb.h"
#include "OmdbRecords.h"
#include "OmdbTrans.h"

#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <cstring>
#include <vector>

namespace {

// Range flags of SetRange.
constexpr int32_t kFromExcl = 1, kFromIncl = 2, kToExcl = 4, kToIncl = 8, kAtEnd = 0x80, kGiveUp = 0x100,
                  kKeysOnly = 0x200;

enum class Where { kUnsent, kStart, kEnd, kMoved };

struct OmCursor {
  int32_t objId = -1;
  DbConnection* conn = nullptr;
  std::vector<char> low, high;  // the range records last sent (empty: open end)
  uint8_t lowx = 0, highx = 0;
  Where where = Where::kUnsent;
};

OmCursor* stateOf(s_dbcurs* c) { return c ? static_cast<OmCursor*>(c->u) : nullptr; }

struct CursorTarget {
  s_dbcurs* c = nullptr;
  OmCursor* oc = nullptr;
  s_table* t = nullptr;
  om_table* ot = nullptr;
  s_index* ip = nullptr;
};

bool cursorTarget(s_dbcurs* c, CursorTarget& x) {
  x.c = c;
  x.oc = stateOf(c);
  if (!c || !x.oc || !x.oc->conn || x.oc->objId == -1) return false;
  x.t = omTable(c->table & 0xffff00);
  x.ot = x.t ? omOf(x.t) : nullptr;
  int32_t idx = dbLowByte(c->index);
  if (!x.ot || idx >= x.t->nindexes || !x.t->indexes || x.t->indexes[idx].d.nparts == 0 ||
      !x.t->indexes[idx].parts)
    return false;
  x.ip = &x.t->indexes[idx];
  return true;
}

std::vector<char> rangeOf(char const* rec, int32_t len) {
  return rec ? std::vector<char>(rec, rec + len) : std::vector<char>();
}

// Sends the range when it changed since it was last sent, or when the
// server's cursor must stand at the start (forward) or the end of it (with
// kMoved: only when it changed). True when it was sent.
bool sendRange(CursorTarget const& x, Where need) {
  s_dbcurs* c = x.c;
  OmCursor* oc = x.oc;
  int32_t len = x.t->d.len + 4;
  std::vector<char> low = rangeOf(c->low, len), high = rangeOf(c->high, len);
  bool changed = oc->where == Where::kUnsent || low != oc->low || high != oc->high || c->lowx != oc->lowx ||
                 c->highx != oc->highx;
  if (!changed && (need == Where::kMoved || oc->where == need)) return false;
  // A key-fields-only cursor asks the server for keys: its blocks are read
  // as keys.
  int32_t flags =
      (c->lowx ? kFromExcl : kFromIncl) | (c->highx ? kToExcl : kToIncl) | (c->flags & (kGiveUp | kKeysOnly));
  if (need == Where::kEnd) flags |= kAtEnd;
  DbConnection& w = omBegin(*oc->conn, oc->objId, DBM_SETRANGE);
  w << flags << int32_t(0);
  if (c->low) omdb::sendKey(w, x.t, x.ip, c->low, 0, false);
  else omdb::sendEndKey(w, x.t, x.ip, false);
  if (c->high) omdb::sendKey(w, x.t, x.ip, c->high, 0, false);
  else omdb::sendEndKey(w, x.t, x.ip, true);
  omExecute(w);
  oc->low = std::move(low);
  oc->high = std::move(high);
  oc->lowx = c->lowx;
  oc->highx = c->highx;
  oc->where = need == Where::kEnd ? Where::kEnd : Where::kStart;
  return true;
}

int32_t blockFailure(int32_t code) {
  if (code == 0) return -1;
  if (code == kExcLocked) return -2;
  if (omdb::inTrans()) {
    omdb::corruptTrans();
    if (omdb::transMode() & 4) Exception::last().raise();
  } else {
    Exception::last().raise();
  }
  return -3;
}

int32_t fetchBlock(s_dbcurs* cursor, bool forward) {
  CursorTarget x;
  if (!cursorTarget(cursor, x)) return -1;
  s_dbcurs* c = x.c;
  bool fresh = c->fnrec == 0 && c->bnrec == 0;
  if (!omdb::joinTrans(x.oc->conn, true)) return -3;
  sendRange(x, fresh ? (forward ? Where::kStart : Where::kEnd) : Where::kMoved);
  DbConnection& w = omBegin(*x.oc->conn, x.oc->objId, forward ? DBM_GETNEXTBLOCK : DBM_GETPREVBLOCK);
  int32_t r = omExecute(w);
  int32_t code = omLastError();
  x.oc->where = Where::kMoved;
  int32_t n = int16_t(r);
  if (n == 0 || code != 0) return blockFailure(code);
  int32_t count = n < 0 ? -n : n;
  int32_t step = x.t->d.len + 4;
  if (c->capacity < count || !c->block) {
    def_Free(c->block, __FILE__, __LINE__);
    c->block = static_cast<char*>(def_Alloc(size_t(count) * size_t(step), __FILE__, __LINE__));
    c->capacity = count;
  }
  bool keysOnly = (c->flags & kKeysOnly) != 0;
  std::vector<char> img(size_t(step), 0);
  for (int32_t i = 0; i < count; ++i) {
    std::memset(img.data(), 0, img.size());
    bool ok = keysOnly ? omdb::receiveKeyParts(w, x.t, x.ip, img.data())
                       : omdb::receivePrefix(w, x.t, img.data()) &&
                             omdb::receiveFields(w, x.t, img.data(), nullptr, 0);
    int32_t recno = 0;
    w >> recno;
    if (!ok || omReplyBad(w)) {
      // A block that does not read whole is dropped: the walk starts again.
      Warning(__DbErrmsg("IO_BAD_RECORD"), x.t->schema ? x.t->schema->d.name : "", x.t->d.name, "GetNextBlock");
      c->fnrec = c->bnrec = 0;
      x.oc->where = Where::kUnsent;
      return -1;
    }
    stlong(recno, img.data() + x.t->d.len);
    int32_t at = forward ? i : c->capacity - 1 - i;
    std::memcpy(c->block + size_t(at) * size_t(step), img.data(), img.size());
  }
  if (forward) {
    c->fnrec = n;
    c->bnrec = 0;
    c->pos = -1;
  } else {
    c->bnrec = n;
    c->fnrec = 0;
    c->pos = c->capacity;
  }
  return count;
}

}  // namespace

int32_t _CursorBuildIndex(s_dbcurs* cursor, int32_t index, int32_t flag) {
  CursorTarget x;
  if (!cursorTarget(cursor, x)) return -1;
  s_index* target = _GetIndPtr(index);
  int32_t idx = dbLowByte(index);
  if (!target || size_t(idx) >= x.ot->indexes.size()) return -1;
  sendRange(x, Where::kStart);
  if (!omdb::joinTrans(x.oc->conn, false)) {
    _io_errno_ = 15;
    return -1;
  }
  int32_t total = 0;
  for (;;) {
    DbConnection& w = omBegin(*x.oc->conn, x.oc->objId, DBM_BUILD);
    w << omIndexNumber(x.ot, idx, true) << int32_t(flag & 0xff);
    int32_t r = omExecute(w);
    x.oc->where = Where::kMoved;
    if (r > 0) {
      total += r;
      continue;
    }
    if (r < 0 && omLastError() == 0) total += -r;
    else if (r < 0) total = -1;
    break;
  }
  omdb::endImplicit();
  return total;
}

extern "C" {

int32_t CreateCursor(int32_t index, int32_t flags) {
  s_table* t = omTable(index & 0xffff00);
  s_schema* sp = omSchema(index & 0xff0000);
  om_table* ot = t ? omOf(t) : nullptr;
  om_schema* os = sp ? omOf(sp) : nullptr;
  int32_t idx = dbLowByte(index);
  if (!ot || !os || !os->conn || size_t(idx) >= ot->indexes.size()) return -1;
  int32_t h = _CreateCursor(index, flags);
  if (h < 0) return -1;
  s_dbcurs* c = _GetCursorPtr(h);
  if (!c) return -1;
  int32_t conv = ((flags & 1) ? 9 : 0) | ((flags & 2) ? 0x0a : 0) | ((flags & 0x4000) ? 4 : 0);
  DbConnection& w = omBegin(*os->conn, os->objId, DBM_ATTACH);
  w << kOmAttachCursor << int32_t(0) << conv << ot->objId << omIndexNumber(ot, idx, true) << int32_t(0);
  int32_t id = omExecute(w);
  if (id == -1) {
    int32_t code = omLastError();
    _DeleteCursor(h);
    if (code == 0) return -1;
    if (omdb::inTrans()) {
      omdb::corruptTrans();
      if (omdb::transMode() & 4) Exception::last().raise();
    } else {
      Exception::last().raise();
    }
    return -1;
  }
  auto* oc = new OmCursor;
  oc->objId = id;
  oc->conn = os->conn;
  c->u = oc;
  if (flags & 0x4001) {
    os->conn->didLock();
    if (DbConnection::multiServerLock(os->conn)) c->flags |= kGiveUp;
  }
  return h;
}

int32_t DeleteCursor(int32_t cursor) {
  s_dbcurs* c = _GetCursorPtr(cursor);
  if (!c) return -1;
  OmCursor* oc = stateOf(c);
  if (oc && oc->conn && oc->objId != -1) {
    s_schema* sp = omSchema(c->table & 0xff0000);
    om_schema* os = sp ? omOf(sp) : nullptr;
    if (os && os->objId != -1) {
      DbConnection& w = omBegin(*oc->conn, kOmServerObject, DBM_DETACH);
      w << oc->objId;
      omExecute(w);
    }
  }
  delete oc;
  c->u = nullptr;
  return _DeleteCursor(cursor);
}

int32_t CountCursor(int32_t cursor) {
  s_dbcurs* c = _GetCursorPtr(cursor);
  CursorTarget x;
  if (!cursorTarget(c, x)) return -1;
  if (!omdb::joinTrans(x.oc->conn, true)) return -3;
  // Counting needs no position: an unchanged range is not sent, and the
  // walk goes on. A range sent now puts the server's cursor at its start,
  // so the walk starts again.
  bool sent = sendRange(x, Where::kMoved);
  omBegin(*x.oc->conn, x.oc->objId, DBM_CARDINAL);
  int32_t n = omExecute(*x.oc->conn);
  if (sent) _RewindCursor(cursor);
  return n;
}

int32_t _GetNextBlock(s_dbcurs* cursor) { return fetchBlock(cursor, true); }

int32_t _GetPrevBlock(s_dbcurs* cursor) { return fetchBlock(cursor, false); }

// The server frees what a block locked when the next block is read.
void _FreeCursorCache(s_dbcurs*) {}

}  // extern "C"
