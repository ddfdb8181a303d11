// Requests to server objects and the reading of their replies.
#include <zfound/DbConnection.h>
#include <zfound/Exception.h>

#include "Omdb.h"

DbConnection& omBegin(DbConnection& c, int32_t objId, SvMessage op) {
  c.begin(objId, op);
  return c;
}

int32_t omExecute(DbConnection& c) { return c.execute(); }

int32_t omLastError() { return Exception::last().code(); }

bool omReplyBad(DbConnection& c) { return c.bad(); }
