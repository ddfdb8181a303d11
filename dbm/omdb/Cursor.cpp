// Cursors on the server and the blocks of records they fetch.
// (Bodies to come: each call refuses with -1 until then.)
#include <dbm/DbInterface.h>

#include "Omdb.h"

int32_t CreateCursor(int32_t, int32_t) { return -1; }
int32_t DeleteCursor(int32_t) { return -1; }
int32_t CountCursor(int32_t) { return -1; }
int32_t _GetNextBlock(s_dbcurs*) { return -1; }
int32_t _GetPrevBlock(s_dbcurs*) { return -1; }
void _FreeCursorCache(s_dbcurs*) {}
