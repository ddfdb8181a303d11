// Schema locks inside the library: what opening and closing a schema ask of
// the semaphore set (see the lock source for its states).
#pragma once

#include <cstdint>

#include <dbm/DbDescr.h>

namespace zxdb {

// LockSchema on a schema that need not have a slot yet: 0 granted, -1 the
// descriptor cannot be opened or the lock was refused for good, -2 refused.
int32_t lockSchema(s_schema* sp, int32_t mode);
// The lock an open asks for (flag 1 exclusive, 0x800 a test only, else
// shared): 0, 10 refused, 11 no descriptor file.
int32_t openLock(s_schema* sp, int32_t flags);
// Gives up every hold of the process on the schema's set (removing the set
// when no holder is left).
void dropSchemaLock(s_schema* sp);
// In a process forked from the one that opened `sp`: takes the lock the
// open took for the process itself (the child inherits none). 0, or the
// refusal.
int32_t adoptLock(s_schema* sp);
// The set the process holds, -1 none.
int holderSet(s_schema* sp);

}  // namespace zxdb
