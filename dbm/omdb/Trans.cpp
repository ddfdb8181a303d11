// The program's one transaction over every server it uses.
// (Bodies to come: each call refuses with -1 until then.)
#include <dbm/DbInterface.h>

#include "Omdb.h"

int32_t BeginTrans(int32_t) { return -1; }
int32_t BeginTransaction(void) { return -1; }
int32_t OptimisticTransaction(void) { return -1; }
int32_t EndTransaction(void) { return -1; }
int32_t EndTrans(void) { return -1; }
int32_t EndSyncTransaction(void) { return -1; }
int32_t RollBack(void) { return -1; }
int32_t InTransaction(void) { return -1; }
int32_t TransOk(void) { return -1; }
int32_t SaneTrans(void) { return -1; }
int32_t CorruptTrans(void) { return -1; }
int32_t GetTransMode(void) { return -1; }
