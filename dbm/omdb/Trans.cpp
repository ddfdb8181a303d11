// One transaction of the program over every server it is connected to.
//
// States (process-wide, beside each connection's own in-transaction mark):
//   none      -- BeginTrans -------------------> begun (user flag, nothing sent)
//   none      -- a write (joinTrans) ----------> implicit (one connection in)
//   begun     -- first request of a connection -> joined (BegTransact sent)
//   joined    -- a request fails (CorruptTrans) -> corrupt (transOk_ clear)
//   corrupt   -- joinTrans on another server ---> refused (false)
//   joined    -- EndTrans: commit over all ------> none (or begun again: restart)
//   corrupt   -- EndTrans: abort over all -------> none, "IO_TRANS_CORRUPT" reported
//   implicit  -- endImplicit (after the write) --> none
// A read outside a transaction joins nothing and sends no begin.
// The foundation first: the interface's TimeStamp() call must not hide
// the foundation's TimeStamp class.
#include <zfound/DbConnection.h>
#include <zfound/Environ.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>

#include "Omdb.h"
#include "OmdbTrans.h"

#include <dbm/DbInterface.h>
#include <zeph/Proc.h>

#include <cstdlib>
#include <string>

namespace {

bool transOk_ = true;     // the program's transaction is sound
int32_t transMode_ = 0;   // flags & 4 of the last BeginTrans
int32_t syncLog_ = -1;    // SYNCLOG, read at the first EndTransaction (-1 not yet)

void reportCorrupt() {
  std::string why;
  Exception& e = Exception::last();
  if (e.code() != 0) {
    String m = e.message();
    if (!m.isNull()) why = toCharPtr(m);
  }
  if (why.empty()) {
    char const* u = __DbErrmsg("UNKNOWNF");
    why = std::string(u ? u : "") + ".";
  }
  char const* fmt = __DbErrmsg("IO_TRANS_CORRUPT");
  if (transMode_ & 4)
    Error(fmt, why.c_str());
  else
    Warning(fmt, why.c_str());
}

// The missing-variable handler while SYNCLOG is read: a missing variable is
// normal there.
void quietEnv(char const*, char const*, int) {}

// The interface's calls decide themselves which server errors end the
// program (a locked record gives -2): error replies are only recorded.
struct ReplyErrorsRecorded {
  ReplyErrorsRecorded() { DbConnection::raiseOnReply(false); }
} const gReplyErrorsRecorded;

}  // namespace

namespace omdb {

bool joinTrans(DbConnection* conn, bool readOnly) {
  if (!conn) return false;
  if (conn->inTransaction()) return transOk_;
  if (DbConnection::inTransac() && !transOk_) return false;
  if (!readOnly || DbConnection::userBegTrans()) {
    conn->begTrans();
    if (!conn->inTransaction()) return false;
    transOk_ = true;
  }
  return true;
}

bool endImplicit() {
  if (!DbConnection::didTransaction()) return false;
  endTrans(false, false);
  return true;
}

void failedWrite() {
  if (!DbConnection::didTransaction()) {
    transOk_ = false;
    return;
  }
  if (DbConnection::inTransac()) DbConnection::abortTransaction();
  transOk_ = true;
}

bool endTrans(bool sync, bool restart) {
  if (!DbConnection::inTransac()) {
    transOk_ = true;
    DbConnection::userBegTrans(false);
    return true;
  }
  if (transOk_ && DbConnection::endTransaction(sync)) return true;
  if (!transOk_) DbConnection::abortTransaction();
  reportCorrupt();
  if (restart) {
    DbConnection::beginTransaction();
    transOk_ = false;
  } else {
    transOk_ = true;
  }
  return false;
}

void corruptTrans() { transOk_ = false; }
int32_t transMode() { return transMode_; }
bool inTrans() { return DbConnection::inTransac(); }
void rereadSyncLog() { syncLog_ = -1; }

}  // namespace omdb

extern "C" {

int32_t BeginTrans(int32_t flags) {
  if (DbConnection::inTransac()) return 0;
  transMode_ = flags & 4;
  transOk_ = false;
  DbConnection::beginTransaction();
  return 0;
}

int32_t BeginTransaction(void) { return BeginTrans(4); }

int32_t OptimisticTransaction(void) {
  if (DbConnection::inTransac() || DbConnection::userBegTrans()) return 0;
  DbConnection::optimisticTransaction();
  transOk_ = true;
  return 0;
}

int32_t EndTrans(void) { return omdb::endTrans(false, false) ? 1 : 0; }

int32_t EndTransaction(void) {
  if (syncLog_ < 0) {
    ReadEnvHandler old = SetReadEnvHandler(quietEnv);
    char const* v = def_ReadEnv("SYNCLOG", __FILE__, __LINE__);
    SetReadEnvHandler(old);
    syncLog_ = v && *v ? std::atoi(v) : 0;
  }
  return omdb::endTrans(syncLog_ != 0, false) ? 1 : 0;
}

int32_t EndSyncTransaction(void) { return omdb::endTrans(true, false) ? 1 : 0; }

int32_t RollBack(void) { return DbConnection::abortTransaction(); }

int32_t TransOk(void) {
  if (transOk_ && !DbConnection::transOk()) transOk_ = false;
  return transOk_ ? 1 : 0;
}

int32_t CorruptTrans(void) {
  transOk_ = false;
  return 0;
}

int32_t InTransaction(void) { return DbConnection::inTransac() ? 1 : 0; }

int32_t GetTransMode(void) { return transMode_; }

// The check of a sound transaction has no meaning against a server: it is
// refused with a report instead of stopping the program.
int32_t SaneTrans(void) {
  Warning(__DbErrmsg("IO_NOT_HERE"), "SaneTrans");
  _io_errno_ = 0;
  return -1;
}

}  // extern "C"
