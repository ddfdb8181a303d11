// Cursors of local tables: creating, deleting and counting them, and the
// block fetch that fills the run-time layer's cursor blocks.
//
// A fetch starts after (before) the outermost record of the block on its
// side, or at the range's end on that side for a cursor without a block,
// and reads records through the cursor's index in key order, each search
// continuing from the position the previous one left. It stops at the
// block's end, at the end of the index or of the range (the count is then
// negative), or at a record locked elsewhere (the count stays positive: the
// next fetch starts at that record again). A cursor that skips locked
// records steps past them by their key, without reading them.
//
// Invariants: a fetch that finds nothing leaves the block and its counts as
// they were, so the cursor keeps its place; the records a block keeps
// locked are listed per cursor and released before the next fetch, by
// _FreeCursorCache and when the cursor is deleted.
#include "TableAccess.h"

#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Proc.h>

#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>

#include <cstring>
#include <map>
#include <vector>

using namespace zxdb;

namespace {

// The records each cursor's block holds locked.
std::map<s_dbcurs const*, std::vector<int32_t>> gLocked;

// Whether a leaf key lies beyond the range end `limit` in direction `dir`.
// The limit carries the record number that puts it after (before) every
// duplicate of its key that the range takes in, so that a non-unique
// index's keys compare whole.
bool beyond(s_index const* ip, char const* key, std::vector<char> const& limit, bool exclusive, int32_t dir) {
  int32_t c = _KeyCmp(ip, key, limit.data());
  if (dir > 0) return exclusive ? c >= 0 : c > 0;
  return exclusive ? c <= 0 : c < 0;
}

int32_t fetchBlock(s_dbcurs* c, int32_t dir) {
  s_table* t = openTable(c->table);
  int32_t idx = dbLowByte(c->index);
  if (!t || openTable(c->index) != t || idx >= t->nindexes || t->indexes[idx].d.nparts == 0 || !c->block ||
      c->capacity < 1)
    return -1;
  s_index* ip = &t->indexes[idx];
  for (int32_t i = 0; i < ip->d.nparts; ++i)
    if (!ip->parts || int32_t(ip->parts[i].offset) + ip->parts[i].len > t->d.len) return -1;
  _FreeCursorCache(c);
  int32_t len = t->d.len, step = len + 4, cap = c->capacity;

  // Where to start: the block's outermost record on this side, else the
  // range's end, else the first (last) key.
  std::vector<char> cur(size_t(step), 0);
  int32_t mode;
  int32_t lo = -1, hi = -1;
  if (c->fnrec) lo = 0, hi = (c->fnrec < 0 ? -c->fnrec : c->fnrec) - 1;
  else if (c->bnrec) lo = cap - (c->bnrec < 0 ? -c->bnrec : c->bnrec), hi = cap - 1;
  if (lo >= 0 && lo <= hi && hi < cap) {
    memcpy(cur.data(), c->block + size_t(dir > 0 ? hi : lo) * step, size_t(step));
    mode = dir > 0 ? 2 : 4;
  } else if (char const* bound = dir > 0 ? c->low : c->high) {
    memcpy(cur.data(), bound, size_t(step));
    bool excl = dir > 0 ? c->lowx : c->highx;
    if (dir > 0) {
      // Next-or-equal finds the first duplicate; past every duplicate, a
      // search from the highest record number.
      mode = excl ? 2 : 3;
      stlong(excl ? 0x7fffffff : 0, cur.data() + len);
    } else {
      mode = excl ? 4 : 5;
      stlong(0, cur.data() + len);
    }
  } else {
    mode = dir > 0 ? 8 : 16;
  }

  // The range's far end in this direction, as a key.
  char const* far = dir > 0 ? c->high : c->low;
  bool farExcl = dir > 0 ? c->highx : c->lowx;
  std::vector<char> limit;
  if (far) {
    limit.assign(size_t(ip->d.klen) + 4, 0);
    _BuildKey(limit.data(), ip, far, (dir > 0) != farExcl ? 0x7fffffff : 0);
  }

  bool keep = (c->flags & 1) != 0, skip = (c->flags & 2) != 0;
  // A block that waits for no record lock reads the index header once.
  struct BlockHold {
    s_table* t;
    int32_t idx;
    bool held;
    ~BlockHold() {
      if (held) releaseIndexForBlock(t, idx);
    }
  } blockHold{t, idx, !keep && holdIndexForBlock(t, idx)};
  std::vector<int32_t>& locked = gLocked[c];
  std::vector<char> rec(static_cast<size_t>(step), 0);
  int32_t n = 0;
  bool end = false, stoppedLocked = false;
  while (n < cap) {
    char* key = nullptr;
    int32_t recno = searchIndex(c, t, idx, cur.data(), mode, &key, 0);
    if (recno < 0 || !key) {
      end = true;
      break;
    }
    mode = (dir > 0 ? 2 : 4) | 0x40;
    if (far && beyond(ip, key, limit, farExcl, dir)) {
      end = true;
      break;
    }
    // The next search continues from this key should the saved position
    // be lost to another process's change.
    _UnBuildKey(cur.data(), ip, key);
    stlong(recno, cur.data() + len);
    int32_t lk = keep ? ((n == 0 && !skip) ? 1 : 3) : 0;
    int32_t r;
    if (skip && !keep && recordLockedElsewhere(t, recno)) r = -2;
    else r = readRecord(t, recno, rec.data(), lk);
    if (r == -2) {
      if (skip) continue;
      stoppedLocked = true;
      break;
    }
    if (r != 0) {
      // A slot the index still names but that holds no live record.
      if (lk) freeRecordLock(t, recno);
      continue;
    }
    if (lk) locked.push_back(recno);
    int32_t at = dir > 0 ? n : cap - 1 - n;
    memcpy(c->block + size_t(at) * step, rec.data(), size_t(step));
    ++n;
  }
  c->nlocked = int32_t(locked.size());
  if (n == 0) return stoppedLocked ? -2 : 0;
  if (dir > 0) {
    c->fnrec = end ? -n : n;
    c->bnrec = 0;
    c->pos = -1;
  } else {
    c->bnrec = end ? -n : n;
    c->fnrec = 0;
    c->pos = cap;
  }
  return n;
}

}  // namespace

extern "C" {

int32_t _GetNextBlock(s_dbcurs* cursor) { return cursor ? fetchBlock(cursor, 1) : -1; }

int32_t _GetPrevBlock(s_dbcurs* cursor) { return cursor ? fetchBlock(cursor, -1) : -1; }

void _FreeCursorCache(s_dbcurs* cursor) {
  if (!cursor) return;
  auto it = gLocked.find(cursor);
  if (it == gLocked.end()) return;
  if (s_table* t = openTable(cursor->table))
    for (int32_t n : it->second) freeRecordLock(t, n);
  gLocked.erase(it);
  cursor->nlocked = 0;
}

int32_t CreateCursor(int32_t index, int32_t flags) {
  s_table* t = openTable(index);
  if (!t) return -1;
  if (!(t->privg & DB_TAB_SELECT)) {
    Warning(__DbErrmsg("(21)"), t->schema->d.name, t->d.name, "SELECT");
    _io_errno_ = 21;
    return -1;
  }
  int32_t h = _CreateCursor(index, flags);
  if (h < 0) return -1;
  s_dbcurs* c = _GetCursorPtr(h);
  gLocked.erase(c);
  c->nlocked = 0;
  return h;
}

int32_t DeleteCursor(int32_t cursor) { return _DeleteCursor(cursor); }

int32_t CountCursor(int32_t cursor) {
  s_dbcurs* c = _GetCursorPtr(cursor);
  if (!c || _RewindCursor(cursor) != 0) return -1;
  // Counting locks nothing; a cursor that skips locked records counts
  // without them.
  int32_t flags = c->flags;
  c->flags &= ~1;
  int32_t total = 0;
  for (;;) {
    int32_t n = _GetNextBlock(c);
    if (n < 0) {
      total = n;
      break;
    }
    total += n;
    if (n == 0 || c->fnrec < 0) break;
  }
  c->flags = flags;
  _RewindCursor(cursor);
  return total;
}

}  // extern "C"
