// Privilege lists and the owner of a schema on its server.
// (Bodies to come: each call refuses with -1 until then.)
#include <dbm/DbInterface.h>

#include "Omdb.h"

int32_t ChownSchema(int32_t, int32_t) { return -1; }
int32_t _FlushSchPrivileges(s_schema*) { return -1; }
int32_t _FlushTabPrivileges(s_schema*) { return -1; }
