// The held requests of a table attachment and the record output they end
// with.
#include <svcatalog/HeldRequests.h>

#include <svcatalog/SvField.h>
#include <svcatalog/SvTable.h>
#include <sindex/SvIndex.h>
#include <svobject/Client.h>
#include <svobject/SvObject.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/TimeStamp.h>

#include <cstring>

namespace svcatalog {

namespace {

// Records e as the request's error and, when the client's transaction is
// still sound, aborts it with e: the client learns the error either way.
void answerAbort(Client* c, Exception const& e) {
  Exception::last(e);
  if (c != nullptr && c->hasTrans() && !c->transAborted()) c->abortTrans(e);
}

int32_t keyCopyLength(SvIndex const* ix) { return ix == nullptr ? 0 : ix->keyLength(); }

}  // namespace

uint16_t lockTypeOf(int32_t mode, bool withHigh) {
  uint16_t t = (mode & kModeExclusive) != 0 ? 1 : 0;
  if (withHigh && (mode & kModeTypeHigh) != 0) t = uint16_t(t | 8);
  return t;
}

GetRecord::GetRecord(SvTable* table, int32_t index, char const* key, int32_t mode, int32_t seconds, int32_t nParts)
    : table_(table), mode_(mode), seconds_(seconds), nParts_(nParts), index_(index) {
  SvIndex* const ix = table_ != nullptr ? table_->index(index_) : nullptr;
  if (ix != nullptr && key != nullptr && (mode_ & (SvIndex::kFirst | SvIndex::kLast)) == 0) {
    int32_t const n = keyCopyLength(ix);
    if (n > 0) key_.assign(key, key + n);
  }
}

bool GetRecord::exec(Client* c) {
  Connection* const con = SvObject::con;
  if (!table_->allowed(c, SvTable::kPrivRead)) {
    answerAbort(c, NoPrivilege(SvTable::kPrivRead, -1));
    if (con != nullptr) con->setRetValue(-1);
    return true;
  }
  SvIndex* const ix = table_->index(index_);
  if (ix == nullptr) {
    answerAbort(c, InvalidIndexNum(index_));
    if (con != nullptr) con->setRetValue(-1);
    return true;
  }
  if ((mode_ & (SvIndex::kFirst | SvIndex::kLast)) == 0 && !key_.empty()) ix->setKey(key_.data());
  ix->setNParts(nParts_);
  int32_t const recno = ix->findKey(c, mode_);
  ix->unLock();
  if (recno > 0) {
    if ((mode_ & kModeNotify) != 0) {
      table_->addNotify(c, recno);
    } else if ((mode_ & (kModeAcquire | kModeNoWait)) != 0) {
      LockObject* lk = nullptr;
      bool created = false;
      bool const goesOn = table_->applyLock(c, recno, lockTypeOf(mode_, true), (mode_ & kModeNoWait) != 0 ? 0 : -1,
                                            (mode_ & kModeAcquire) != 0, &lk, created);
      if (!goesOn && (mode_ & kModeAcquire) != 0) return false;
    }
    if (Exception::last().code() != 0) {
      if (Exception::last().code() != kExcLocked) {
        Exception* const e = Exception::last().clone();
        answerAbort(c, *e);
        delete e;
      }
      if (con != nullptr) con->setRetValue(-1);
      return true;
    }
  }
  table_->sendRecord(c, recno, true);
  return true;
}

bool LockTable::exec(Client* c) {
  LockObject* lk = nullptr;
  bool const goesOn = table_->applyTabLock(c, lockTypeOf(mode_, true), (mode_ & kModeNoWait) != 0 ? 0 : -1,
                                           (mode_ & kModeAcquire) != 0, &lk);
  if (!goesOn && (mode_ & kModeAcquire) != 0) return false;
  if (SvObject::con != nullptr) SvObject::con->setRetValue(Exception::last().code() != 0 ? -1 : 0);
  return true;
}

}  // namespace svcatalog

// ---- record output ----------------------------------------------------------

int32_t SvTable::sendRecord(Client* /*c*/, int32_t recno, bool withReply) {
  Connection* const con = SvObject::con;
  char* image = (recno >= 1 && recno <= getLast()) ? get(recno) : nullptr;
  if (image == nullptr) {
    Exception::last(Exception(0));
    if (withReply && con != nullptr) con->setRetValue(-1);
    return -1;
  }
  if (con == nullptr) return recno;
  if (withReply) con->setRetValue(recno);
  // The image may live in a staging buffer that the next cache access
  // reuses: take a copy before sending.
  std::vector<char> copy(image, image + recordLength());
  char* p = copy.data();
  *con << int32_t(SvTabRep::recInstId(p)) << mTimeStamp(p);
  if (hasCreationStamp()) *con << cTimeStamp(p);
  for (int32_t i = 0; i < nFields(); ++i) {
    SvField* const f = field(i);
    if (f == nullptr || f->isVirtual()) continue;
    char* q = p + f->tableOffset();
    f->send(con, q, true);
  }
  return recno;
}

int32_t SvTable::sendFields(int32_t const* fields, int32_t n, int32_t recno) {
  Connection* const con = SvObject::con;
  for (int32_t i = 0; i < n; ++i) {
    SvField* const f = field(fields[i]);
    if (f == nullptr || f->isVirtual()) return -1;
  }
  char* image = (recno >= 1 && recno <= getLast()) ? get(recno) : nullptr;
  if (image == nullptr) {
    Exception::last(Exception(0));
    return -1;
  }
  if (con == nullptr) return recno;
  std::vector<char> copy(image, image + recordLength());
  char* p = copy.data();
  *con << int32_t(SvTabRep::recInstId(p)) << mTimeStamp(p);
  if (hasCreationStamp()) *con << cTimeStamp(p);
  for (int32_t i = 0; i < n; ++i) {
    SvField* const f = field(fields[i]);
    char* q = p + f->tableOffset();
    f->send(con, q, true);
  }
  return recno;
}
