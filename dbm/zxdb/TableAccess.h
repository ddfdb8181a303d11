// What the library's cursor code uses of the record and key operations:
// the open table of a handle, a key search with the position remembered
// for a caller, and the read of one record slot.
#pragma once

#include <dbm/DbDescr.h>

#include <cstdint>

namespace zxdb {

// The open table of a handle; null when it names none.
s_table* openTable(int32_t handle);
// Searches index `number` of `t` as _FindKey does: the record number, -1
// none, -2 busy; *keyout points at the key in the current leaf.
int32_t searchIndex(void const* caller, s_table* t, int32_t number, char const* record, int32_t mode,
                    char** keyout, int32_t lockmode);
// Reads live record `n`, a number an index gave, into `out` (record +
// number): 0, -1 not a live record, -2 locked elsewhere (lock mode of
// _DbRead).
int32_t readRecord(s_table* t, int32_t n, char* out, int32_t lockmode);
// Reads and locks the header of index `number` of `t` once for a cursor's
// block that locks no records: the searches of the block skip their own
// header read. True when held; releaseIndexForBlock ends the hold.
bool holdIndexForBlock(s_table* t, int32_t number);
void releaseIndexForBlock(s_table* t, int32_t number);
// Releases the lock of record n's slot.
void freeRecordLock(s_table* t, int32_t n);
// True when another process holds a lock on record n's slot.
bool recordLockedElsewhere(s_table* t, int32_t n);

}  // namespace zxdb
