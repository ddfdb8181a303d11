// Cursors and table aliases of the run-time layer.
//
// A cursor walks one index of a table between two range records, a block of
// records at a time: the layer owns the descriptor (s_dbcurs), its block and
// range buffers and its position; the database library fills the block
// (_GetNextBlock, _GetPrevBlock) and releases what a block locked
// (_FreeCursorCache). FetchCursor and FetchCursorPrev copy the record at the
// new position, with its number behind it, into the record buffer of the
// cursor's table handle.
//
// A cursor handle is the index handle with the cursor's slot (1..127) in bits
// 24-30, so it also names its schema, table and index. An alias is a second
// table slot of a schema naming the same table with a record buffer of its
// own; its slot carries the alias mark, and the schema's rewrite, close and
// table deletion leave the table itself to the original slot.
#pragma once

#include <cstdint>

#include <dbm/DbDescr.h>

inline constexpr int32_t kDbMaxCursors = 127;   // cursors of a process
inline constexpr int32_t kDbCursorBlock = 4096;  // bytes of a cursor's block

extern "C" {
#pragma GCC visibility push(default)

// A cursor over the index of handle `index` (a key index of an open table);
// flags: bit 0 keep the block's records locked, 2 skip locked records. Its
// handle, or -1 when the index is not one or every slot is taken.
int32_t _CreateCursor(int32_t index, int32_t flags);
// The descriptor of a live cursor; reports ("IO_INV_HANDLE") and gives null
// otherwise.
s_dbcurs* _GetCursorPtr(int32_t cursor);
// Releases what the cursor's block locked and frees the cursor; 0, -1 when
// the handle names no live cursor.
int32_t _DeleteCursor(int32_t cursor);
// Deletes every cursor over the tables of schema handle `schema`.
void DeleteAllCursors(int32_t schema);
// Moves to the next (previous) record of the range and copies it into the
// table's record buffer: its number, -1 past the end (before the start),
// -2 when the record is locked by another process. A new cursor, or one
// whose range was set again, starts at the first (last) record.
int32_t FetchCursor(int32_t cursor);
int32_t FetchCursorPrev(int32_t cursor);
// Sets the range from the table's record buffer: bit 1 the low record, 2
// the high one, 4 the low end excludes its key, 8 the high end does; 0
// clears both ends. The cursor starts again. 0, -1 for a bad handle.
int32_t SetCursorFromFld(int32_t cursor, int32_t which);
// Forgets the cursor's position (and releases its block's locks): the next
// fetch starts at the first (last) record of the range.
int32_t _RewindCursor(int32_t cursor);

// A new slot of the table's schema naming the same table, with a record
// buffer of its own and the alias mark: its table handle, -1 when the
// handle names no table or every slot is taken.
int32_t _CreateAlias(int32_t table);
// Frees every alias slot of schema handle `schema` (its cursors first).
void DeleteAllAlias(int32_t schema);

#pragma GCC visibility pop
}  // extern "C"
