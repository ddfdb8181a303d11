// The program's transaction as the record, cursor and design requests use
// it: every request joins first; a write without a transaction begun by
// the user runs in one of its own, ended right after it.
#pragma once

#include <cstdint>

class DbConnection;

namespace omdb {

// Joins conn to the program's transaction before a request: false when the
// transaction is corrupt (the request must not be sent). A read outside a
// user transaction (readOnly) joins nothing.
bool joinTrans(DbConnection* conn, bool readOnly);
// Ends the transaction a write began on its own (the user began none):
// true when it did.
bool endImplicit();
// After a write the server refused and rolled back: the transaction a write
// began on its own is aborted without a report; the program's own is
// marked corrupt, for its end to abort and report.
void failedWrite();
// Commits (sync: the servers sync their journals) or, when the
// transaction is corrupt, aborts and reports "IO_TRANS_CORRUPT"; restart
// begins a new one at once. True when committed.
bool endTrans(bool sync, bool restart);
// Marks the transaction corrupt.
void corruptTrans();
// The flags & 4 of the last BeginTrans: corrupt transactions and record
// errors inside one are errors rather than warnings.
int32_t transMode();
// Whether any connection is in a transaction.
bool inTrans();
// Forgets the "SYNCLOG" value read at the first EndTransaction, so that the
// next one reads the variable again. A program reads it once; only tests,
// which set it case by case in one process, call this.
void rereadSyncLog();

}  // namespace omdb
