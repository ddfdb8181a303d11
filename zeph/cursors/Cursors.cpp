// Cursors and table aliases of the run-time layer.
//
// States of a cursor: fresh (no block: fnrec = bnrec = 0) -> walking (one
// block, filled forward or backward, and a position in or next to it) ->
// fresh again when its range is set or it is rewound. The position moves
// inside the block's valid entries; stepping off either end asks the
// database library for the next block in that direction, which starts from
// the block's outermost record on that side. A block whose count is
// negative reached the end of the range on its side: stepping off that side
// ends with -1 without asking the library again.
//
// Invariants: a live cursor sits in exactly one slot and its `handle` names
// that slot; its block holds `capacity` entries of record length + 4 bytes
// and its range buffers one entry each; a cursor over a table is deleted
// before that table's alias slot is freed.
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <dbm/DbInterface.h>

#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Portable.h>

#include <cstring>

namespace {

s_dbcurs* gCursors[kDbMaxCursors + 1];

int32_t slotOf(int32_t h) { return int32_t((uint32_t(h) >> 24) & 0x7f); }

s_dbcurs* live(int32_t h) {
  int32_t s = slotOf(h);
  if (h < 0 || s < 1 || s > kDbMaxCursors || !gCursors[s] || gCursors[s]->handle != h) return nullptr;
  return gCursors[s];
}

int32_t entryBytes(s_dbcurs const* c) {
  s_table* t = _GetTabPtr(c->table);
  return t ? t->d.len + 4 : 0;
}

void freeCursor(int32_t s) {
  s_dbcurs* c = gCursors[s];
  _FreeCursorCache(c);
  def_Free(c->block, __FILE__, __LINE__);
  def_Free(c->low, __FILE__, __LINE__);
  def_Free(c->high, __FILE__, __LINE__);
  def_Free(c, __FILE__, __LINE__);
  gCursors[s] = nullptr;
}

// The valid entries of the block: false when it holds none.
bool validEntries(s_dbcurs const* c, int32_t& lo, int32_t& hi) {
  if (c->fnrec) {
    lo = 0, hi = (c->fnrec < 0 ? -c->fnrec : c->fnrec) - 1;
    return true;
  }
  if (c->bnrec) {
    lo = c->capacity - (c->bnrec < 0 ? -c->bnrec : c->bnrec), hi = c->capacity - 1;
    return true;
  }
  return false;
}

// Copies entry `pos` into the table's record buffer; the record number.
int32_t deliver(s_dbcurs* c, int32_t pos) {
  char* buf = _GetTabBuff(c->table);
  int32_t step = entryBytes(c);
  if (!buf || step <= 0) return -1;
  char const* e = c->block + size_t(pos) * size_t(step);
  memcpy(buf, e, size_t(step));
  c->pos = pos;
  return ldlong(e + step - 4);
}

int32_t fetch(int32_t h, int32_t dir) {
  s_dbcurs* c = _GetCursorPtr(h);
  if (!c) return -1;
  int32_t lo = 0, hi = -1;
  bool valid = validEntries(c, lo, hi);
  int32_t next = c->pos + dir;
  if (valid && next >= lo && next <= hi) return deliver(c, next);
  // Off the block: the end, or the next block on that side.
  if (valid && dir > 0 && c->fnrec < 0 && c->pos >= hi) {
    c->pos = hi + 1;
    return -1;
  }
  if (valid && dir < 0 && c->bnrec < 0 && c->pos <= lo) {
    c->pos = lo - 1;
    return -1;
  }
  int32_t n = dir > 0 ? _GetNextBlock(c) : _GetPrevBlock(c);
  if (n == -2) return -2;
  if (n <= 0) {
    // Nothing more on that side: stay just past the block.
    if (valid) c->pos = dir > 0 ? hi + 1 : lo - 1;
    return -1;
  }
  return deliver(c, dir > 0 ? 0 : c->capacity - 1);
}

}  // namespace

extern "C" {

int32_t _CreateCursor(int32_t index, int32_t flags) {
  s_table* t = _GetTabPtr(index);
  if (!t || !_GetIndPtr(index)) return -1;
  int32_t s = 1;
  while (s <= kDbMaxCursors && gCursors[s]) ++s;
  if (s > kDbMaxCursors) return -1;
  int32_t step = t->d.len + 4;
  auto* c = static_cast<s_dbcurs*>(def_Alloc(sizeof(s_dbcurs), __FILE__, __LINE__));
  *c = s_dbcurs{};
  c->handle = (s << 24) | (index & 0xffffff);
  c->table = index & 0xffff00;
  c->index = index & 0xffffff;
  c->flags = flags;
  c->capacity = kDbCursorBlock / step > 0 ? kDbCursorBlock / step : 1;
  c->block = static_cast<char*>(def_Alloc(size_t(c->capacity) * size_t(step), __FILE__, __LINE__));
  c->pos = -1;
  gCursors[s] = c;
  return c->handle;
}

s_dbcurs* _GetCursorPtr(int32_t cursor) {
  s_dbcurs* c = live(cursor);
  if (!c) Error(__DbErrmsg("IO_INV_HANDLE"), long(cursor));
  return c;
}

int32_t _DeleteCursor(int32_t cursor) {
  if (!live(cursor)) return -1;
  freeCursor(slotOf(cursor));
  return 0;
}

void DeleteAllCursors(int32_t schema) {
  for (int32_t s = 1; s <= kDbMaxCursors; ++s)
    if (gCursors[s] && dbSchemaSlot(gCursors[s]->table) == dbSchemaSlot(schema)) freeCursor(s);
}

int32_t FetchCursor(int32_t cursor) { return fetch(cursor, 1); }

int32_t FetchCursorPrev(int32_t cursor) { return fetch(cursor, -1); }

int32_t _RewindCursor(int32_t cursor) {
  s_dbcurs* c = _GetCursorPtr(cursor);
  if (!c) return -1;
  _FreeCursorCache(c);
  c->fnrec = c->bnrec = 0;
  c->pos = -1;
  return 0;
}

int32_t SetCursorFromFld(int32_t cursor, int32_t which) {
  s_dbcurs* c = _GetCursorPtr(cursor);
  if (!c) return -1;
  char const* buf = _GetTabBuff(c->table);
  int32_t step = entryBytes(c);
  if (!buf || step <= 0) return -1;
  auto take = [&](char*& end, uint8_t& excl, bool set, bool exclusive) {
    if (!set) {
      if (which == 0) {
        def_Free(end, __FILE__, __LINE__);
        end = nullptr, excl = 0;
      }
      return;
    }
    if (!end) end = static_cast<char*>(def_Alloc(size_t(step), __FILE__, __LINE__));
    memcpy(end, buf, size_t(step));
    excl = exclusive ? 1 : 0;
  };
  take(c->low, c->lowx, (which & 1) != 0, (which & 4) != 0);
  take(c->high, c->highx, (which & 2) != 0, (which & 8) != 0);
  return _RewindCursor(cursor);
}

int32_t _CreateAlias(int32_t table) {
  s_table* t = _GetTabPtr(table);
  s_schema* sp = t ? _GetSchPtr(table & 0xff0000) : nullptr;
  if (!t || !sp) return -1;
  int32_t h = _NewTabSlot(sp, t);
  if (h < 0) return -1;
  tab_array& a = sp->tables[dbTableSlot(h)];
  a.alias = 1;
  a.buffer = static_cast<char*>(def_Alloc(size_t(t->d.len) + 4, __FILE__, __LINE__));
  memset(a.buffer, 0, size_t(t->d.len) + 4);
  return h;
}

void DeleteAllAlias(int32_t schema) {
  s_schema* sp = _GetSchPtr(schema & 0xff0000);
  if (!sp || !sp->tables) return;
  for (int32_t s = 1; s <= kDbMaxTables; ++s) {
    if (!sp->tables[s].tab || !sp->tables[s].alias) continue;
    int32_t h = dbTableHandle(sp->handle, s);
    for (int32_t k = 1; k <= kDbMaxCursors; ++k)
      if (gCursors[k] && (gCursors[k]->table & 0xffff00) == h) freeCursor(k);
    def_Free(sp->tables[s].buffer, __FILE__, __LINE__);
    _FreeTbSlot(sp, s);
  }
}

}  // extern "C"
