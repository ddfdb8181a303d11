// Transactions and the before-image log inside the library: what the table
// and schema sources ask of the log, and what recovery asks of the tables.
#pragma once

#include <cstdint>

#include <dbm/DbDescr.h>

namespace zxdb {

// Transaction state of the process.
struct Trans {
  int32_t logStatus = 0;  // 0 undecided, 1 logging, 2 no log, 3 undoing
  bool active = false;    // a change has begun the transaction
  bool ok = true;         // the transaction may commit
  bool begun = false;     // begun explicitly and not ended
  bool corruptFirst = false;  // CorruptTrans before the first change
  int32_t mode = 0;       // bit 2 of BeginTrans's flags
};
Trans& trans();

// Starts the transaction of a change (deciding the log first).
void beginChange();
// Logs a change of table `t` before it is made: op 5 (deleted, `before`),
// 6 (replaced, `before` and `after`) or 7 (added, `after`), images of
// t->d.len bytes. False: the change must not be made; the log could not
// take it and the transaction will roll back.
bool logRecord(s_table* t, int32_t op, char const* before, char const* after);
// Ends the transaction of a single change made outside an explicit one.
void endSingleChange();
// True while a rollback or a recovery puts before images back: such
// changes skip privileges, checks and stamps.
bool undoing();
// Logs a schema opened (op 2), closed (op 1) or made current (op 8).
void logSchemaOpen(s_schema const* sp, int32_t previous);
void logSchemaClose(s_schema const* sp, int32_t current);
void logSwitch(int32_t previous, int32_t current);
// Recovers every dead log that names schema `sp` (just opened).
void recoverDeadLogs(s_schema* sp);
// A held mark whose holder is gone was met on table `t`: recovers the dead
// logs of its schema and rebuilds what is still marked. True when the table
// and its indexes are free of marks now.
bool repairDeadMark(s_table* t);

// ---- table side -------------------------------------------------------------
// Writes a table's held headers, nodes and cached records while keeping its
// holds: its files are complete, and no other process may use them yet.
int32_t writeKeepingHolds(s_table* t);
// The table's handle in its open schema (0 when it has no slot).
int32_t tableHandle(s_table const* t);
// Undoes an add on a table without indexes: frees the last slot whose bytes
// equal `image` (t->d.len bytes). Its number, 0 when none does, -1 failed.
int32_t undoKeylessAdd(s_table* t, char const* image);
// Rebuilds a table whose header or index headers carry a held mark that no
// process holds (every index through BuildIndex); true when none is left.
bool rebuildMarked(s_table* t);

}  // namespace zxdb
