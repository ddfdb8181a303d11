// The record requests of a table attachment: finding, reading, locking and
// freeing records and the whole table, emptying and counting it, and
// putting, adding, updating and deleting records.
//
// Every request reads its arguments from SvObject::con and answers as
// RequestEnv.h describes. Nothing a client sends reaches an assertion: index
// numbers, record numbers, field numbers and update codes are checked
// before use, and a record image is received into a scratch copy, so a
// value that does not fit changes neither the buffer nor the file.
#include <svcatalog/SvTable.h>

#include "RequestArgs.h"

#include <blkfile/StorageEnv.h>
#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/RequestEnv.h>
#include <svcatalog/SvField.h>
#include <svcatalog/TableEnv.h>
#include <svcatalog/TableSchema.h>
#include <svobject/Client.h>
#include <svcatalog/HeldRequests.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>

#include <cstring>
#include <memory>
#include <vector>

using svstore::StorageEnv;
using svcatalog::abortPending;
using svcatalog::abortWith;
using svcatalog::answer;
using svcatalog::failWith;
using svcatalog::RequestEnv;
using svcatalog::TableEnv;

using svcatalog::args::pending;
using svcatalog::args::readString;
using svcatalog::args::readWord;
using svcatalog::args::truncated;

namespace {


// The give-up seconds of a held lock request: -1 waits without end; any
// other count gives up that many seconds from now, so 0 (or a count below
// -1) gives up at the next housekeeping pass.
int32_t giveUpSeconds(int32_t s) { return s == -1 ? -1 : (s < 0 ? 0 : s); }


// The pending error, or InvalidData(what) when none was recorded.
void ensureError(String const& what) {
  if (!pending())
    Exception::last(InvalidData(what));
}

}  // namespace

// ---- held requests ---------------------------------------------------------------------------

namespace svcatalog {

GetRecord::GetRecord(SvTable* table, int32_t index, char const* key, int32_t mode, int32_t seconds, int32_t nParts)
    : table_(table), seconds_(seconds) {
  req_.index = index;
  req_.mode = mode;
  req_.parts = nParts;
  SvIndex* ix = table != nullptr ? table->index(index) : nullptr;
  if (ix != nullptr && key != nullptr && (mode & (SvIndex::kFirst | SvIndex::kLast)) == 0)
    req_.key.assign(key, key + ix->length() + (ix->isDup() ? 4 : 0));
}

bool GetRecord::exec(Client* c) {
  bool held = false;
  result_ = table_->execGetRecord(c, req_, held);
  return !held;
}

bool LockTable::exec(Client* c) {
  bool held = false;
  result_ = table_->execLockTable(c, mode_, held);
  return !held;
}

}  // namespace svcatalog

// ---- record output ---------------------------------------------------------------------------

int32_t SvTable::sendRecord(Client* c, int32_t recno) {
  if (recno < 1 || recno > getLast() || SvObject::con == nullptr)
    return -1;
  char* rec = rep_->get(recno);
  if (rec == nullptr)
    return -1;
  std::vector<char> img(rec, rec + recordLength());
  sendPrefixOf(img.data());
  char* p = nullptr;
  for (int32_t i = 0; i < nFields(); ++i) {
    SvField* f = field(i);
    if (f->isVirtual())
      continue;
    p = img.data() + f->tableOffset();
    f->send(SvObject::con, p, true);
  }
  return recno;
}

int32_t SvTable::sendFields(int32_t const* list, int32_t n, int32_t recno) {
  if (recno < 1 || recno > getLast() || SvObject::con == nullptr)
    return -1;
  for (int32_t i = 0; i < n; ++i)
    if (field(list[i]) == nullptr || field(list[i])->isVirtual())
      return -1;
  char* rec = rep_->get(recno);
  if (rec == nullptr)
    return -1;
  std::vector<char> img(rec, rec + recordLength());
  sendPrefixOf(img.data());
  for (int32_t i = 0; i < n; ++i) {
    SvField* f = field(list[i]);
    char* p = img.data() + f->tableOffset();
    f->send(SvObject::con, p, true);
  }
  return recno;
}

void SvTable::sendPrefix() {
  if (buffer() != nullptr)
    sendPrefixOf(buffer());
}

void SvTable::sendPrefixOf(char const* image) {
  Connection* c = SvObject::con;
  if (c == nullptr)
    return;
  *c << int32_t(SvTabRep::recInstId(image));
  *c << mTimeStamp(image);
  if (hasCreationStamp())
    *c << cTimeStamp(image);
}

bool SvTable::receiveRecord(bool withRecno, int32_t& recno) {
  recno = -1;
  if (buffer() == nullptr) {
    Exception::last(InvalidData(String("table ") + qualifiedName() + " has no record layout"));
    return false;
  }
  if (withRecno && !readWord(recno)) {
    Exception::last(truncated("record number"));
    return false;
  }
  // Into a copy first: a value that does not fit leaves the buffer as it was.
  std::vector<char> img(buffer(), buffer() + recordLength());
  for (int32_t i = 0; i < nFields(); ++i) {
    SvField* f = field(i);
    if (f->isVirtual())
      continue;
    char* p = img.data() + f->tableOffset();
    if (SvObject::con == nullptr || !f->receive(SvObject::con, p, true, -1) || SvObject::con->bad()) {
      ensureError(String("value of field ") + f->name() + " cannot be received");
      return false;
    }
  }
  std::memcpy(buffer(), img.data(), img.size());
  return true;
}

bool SvTable::liveRecord(Client* c, int32_t recno) {
  if (recno < 1 || recno > getLast())
    return false;
  SvIndex* pk = index(0);
  if (pk == nullptr)
    return false;
  std::vector<char> img(size_t(recordLength()), 0);
  int32_t before = Exception::last().code();
  if (!rep_->fill(img.data(), recno)) {
    if (before == 0)
      Exception::last(Exception(0));
    return false;
  }
  pk->buildKey(img.data(), recno);
  int32_t found = pk->findKey(c, SvIndex::kExact);
  pk->unLock();
  return found == recno;
}

// ---- reads and locks ---------------------------------------------------------------------------

long SvTable::detach(Client* c) {
  int32_t id = 0;
  if (!readWord(id))
    return failWith(truncated("object id"));
  if (!GServObj::validObject(uint32_t(id)))
    return answer(c, -1);
  SvObject* o = GServObj::object(uint32_t(id))->getSvObject();
  if (o == nullptr || !RequestEnv::services().delObject(c, o))
    return answer(c, -1);
  return answer(c, 0);
}

bool SvTable::readSearch(int32_t& ind, int32_t& mode, int32_t& parts, SvIndex*& ix) {
  ix = nullptr;
  if (!readWord(ind) || !readWord(mode) || !readWord(parts)) {
    Exception::last(truncated("search arguments"));
    return false;
  }
  ix = index(ind);
  if (ix == nullptr) {
    Exception::last(InvalidIndexNum(ind));
    return false;
  }
  return true;
}

// The part count (only with the partial mode) and, unless the mode positions
// on the first or last key, the key; false with the error pending.
static bool receiveSearchKey(SvIndex* ix, int32_t mode, int32_t parts) {
  if ((mode & SvIndex::kPartial) != 0 && (parts < 1 || parts > ix->nFields())) {
    Exception::last(InvalidData(String("bad key part count ") + toString(long(parts))));
    return false;
  }
  ix->setNParts((mode & SvIndex::kPartial) != 0 ? parts : 0);
  if ((mode & (SvIndex::kFirst | SvIndex::kLast)) == 0 && !ix->receiveKey(nullptr, false)) {
    ensureError(String("bad key"));
    return false;
  }
  return true;
}

long SvTable::findRecord(Client* c) {
  profile(GServObjStats::kFind);
  int32_t ind = 0, mode = 0, parts = 0;
  SvIndex* ix = nullptr;
  if (!readSearch(ind, mode, parts, ix))
    return -1;
  if (!receiveSearchKey(ix, mode, parts))
    return -1;
  int32_t recno = ix->findKey(c, mode);
  answer(c, recno);
  if (recno != -1 && SvObject::con != nullptr)
    ix->sendKey(ix->currentKey());
  ix->setNParts(0);
  ix->unLock();
  return recno;
}

long SvTable::getRecord(Client* c) {
  profile(GServObjStats::kGet);
  int32_t ind = 0, mode = 0, wait = 0, useDefault = 0, parts = 0;
  if (!readWord(ind) || !readWord(mode) || !readWord(wait) || !readWord(useDefault) || !readWord(parts))
    return abortWith(c, truncated("GetRecord arguments"));
  SvIndex* ix = index(ind);
  if (ix == nullptr)
    return abortWith(c, InvalidIndexNum(ind));
  if (!receiveSearchKey(ix, mode, parts)) {
    ix->setNParts(0);
    return -1;
  }
  ix->setNParts(0);
  HeldRead req;
  req.index = ind;
  req.mode = mode;
  req.parts = (mode & SvIndex::kPartial) != 0 ? parts : 0;
  if ((mode & (SvIndex::kFirst | SvIndex::kLast)) == 0)
    req.key.assign(ix->getKey(), ix->getKey() + ix->length() + (ix->isDup() ? 4 : 0));
  if (c == nullptr)
    return failWith(DeadLock(String()));
  svcatalog::GetRecord co(this, req.index, req.key.empty() ? nullptr : req.key.data(), req.mode, wait, req.parts);
  if (co.exec(c))
    return co.result();
  c->setPending(co, Client::STATE_BLK_LOCK, giveUpSeconds(useDefault != 0 ? RequestEnv::services().lockWait() : wait));
  return kHeld;
}

long SvTable::execGetRecord(Client* c, HeldRead const& req, bool& held) {
  held = false;
  if (!allowed(c, kPrivRead))
    return abortWith(c, NoPrivilege(kPrivRead, -1));
  SvIndex* ix = index(req.index);
  if (ix == nullptr)
    return abortWith(c, InvalidIndexNum(req.index));
  if ((req.mode & (SvIndex::kFirst | SvIndex::kLast)) == 0 && !req.key.empty())
    std::memcpy(ix->getKey(), req.key.data(), req.key.size());
  ix->setNParts(req.parts);
  int32_t recno = ix->findKey(c, req.mode);
  ix->setNParts(0);
  ix->unLock();
  if (pending() && recno == -1)
    return abortPending(c);
  if (recno != -1) {
    if ((req.mode & kModeNotify) != 0) {
      rep_->addNotify(c, recno);
    } else if ((req.mode & (kModeAcquire | kModeNoWait)) != 0) {
      uint16_t type = lockType(req.mode);
      LockObject* out = nullptr;
      bool created = false;
      bool goesOn = rep_->applyLock(c, recno, type, (req.mode & kModeNoWait) != 0 ? 0 : -1,
                                    (req.mode & kModeAcquire) != 0, &out, created);
      if (!goesOn && (req.mode & kModeAcquire) != 0) {
        held = true;
        return kHeld;
      }
    }
    if (pending()) {
      // A plain conflict is the answer; any other error aborts.
      if (Exception::last().code() == kExcLocked) {
        std::unique_ptr<Exception> keep(Exception::last().clone());
        return failWith(*keep);
      }
      return abortPending(c);
    }
  }
  bool found = recno >= 1 && recno <= getLast();
  answer(c, found ? recno : -1);
  return found ? sendRecord(c, recno) : -1;
}

uint16_t SvTable::lockType(int32_t mode) {
  uint16_t type = (mode & kModeExclusive) != 0 ? 1 : 0;
  if ((mode & kModeOtherType) != 0)
    type = uint16_t(type | 8);
  return type;
}

long SvTable::freeRecord(Client* c) {
  int32_t ind = 0, mode = 0, parts = 0;
  SvIndex* ix = nullptr;
  if (!readSearch(ind, mode, parts, ix))
    return -1;
  if (!receiveSearchKey(ix, mode, parts)) {
    ix->setNParts(0);
    return -1;
  }
  if (!allowed(c, kPrivRead)) {
    ix->setNParts(0);
    return failWith(NoPrivilege(kPrivRead, -1));
  }
  int32_t recno = ix->findKey(c, mode);
  ix->setNParts(0);
  if (recno != -1)
    rep_->freeLock(c, recno);
  ix->unLock();
  return answer(c, recno);
}

long SvTable::lock(Client* c) {
  int32_t mode = 0, wait = 0, useDefault = 0;
  if (!readWord(mode) || !readWord(wait) || !readWord(useDefault))
    return failWith(truncated("Lock arguments"));
  if (c == nullptr)
    return failWith(DeadLock(String()));
  svcatalog::LockTable co(this, mode, wait);
  if (co.exec(c))
    return co.result();
  c->setPending(co, Client::STATE_BLK_LOCK, giveUpSeconds(useDefault != 0 ? RequestEnv::services().lockWait() : wait));
  return kHeld;
}

long SvTable::execLockTable(Client* c, int32_t mode, bool& held) {
  held = false;
  LockObject* out = nullptr;
  bool goesOn = rep_->applyTabLock(c, lockType(mode), (mode & kModeNoWait) != 0 ? 0 : -1,
                                   (mode & kModeAcquire) != 0, &out);
  if (!goesOn && (mode & kModeAcquire) != 0) {
    held = true;
    return kHeld;
  }
  if (pending()) {
    std::unique_ptr<Exception> keep(Exception::last().clone());
    return failWith(*keep);
  }
  return answer(c, 0);
}

long SvTable::free(Client* c) { return answer(c, rep_->freeTabLock(c) ? 1 : 0); }

long SvTable::clear(Client* c) {
  LockObject* out = nullptr;
  rep_->applyTabLock(c, kLockWrite, 0, true, &out);
  if (pending())
    return abortPending(c);
  // A refused erase gives the table lock back: the request is answered once,
  // with the refusal, and the table stays free for others.
  if (!allowed(c, kPrivDel)) {
    rep_->freeTabLock(c);
    return abortWith(c, NoPrivilege(kPrivDel, -1));
  }
  for (SvIndex* ix : indexes_)
    if (ix != nullptr)
      ix->empty(c);
  rep_->empty(c);
  if (pending()) {
    rep_->freeTabLock(c);
    return abortPending(c);
  }
  rep_->freeTabLock(c);
  return answer(c, 0);
}

long SvTable::cardinal(Client* c) {
  SvIndex* pk = index(0);
  if (pk == nullptr)
    return failWith(NoIndexes());
  if (version_ == -1)
    return answer(c, rep_->nReg());
  int32_t n = pk->count(false, nullptr, false, nullptr);
  pk->unLock();
  return answer(c, n);
}

long SvTable::getInfo(Client* c) {
  int32_t type = 0;
  if (!readWord(type))
    return failWith(truncated("object type"));
  if (type != kObjectType)
    return answer(c, -1);
  answer(c, 0);
  if (SvObject::con != nullptr)
    *SvObject::con << rep_->lastMod();
  return 0;
}

// ---- updates --------------------------------------------------------------------------------------

bool SvTable::readStamps(Client* c, bool normal, TimeStamp& cStamp, TimeStamp& mStamp, uint32_t& instId) {
  instId = 0;
  if (hasIdInPKey()) {
    int32_t id = 0;
    if (!readWord(id)) {
      abortWith(c, truncated("instance id"));
      return false;
    }
    instId = uint32_t(id);
  }
  TimeStamp const& now = StorageEnv::timeStamp;
  if (normal) {
    mStamp = now;
    cStamp = now;
    if (hasStampInPKey()) {
      *SvObject::con >> cStamp;
      if (cStamp.isNull())
        cStamp = now;
    }
  } else {
    *SvObject::con >> cStamp >> mStamp;
    if (mStamp.isNull())
      mStamp = now;
    if (cStamp.isNull()) {
      cStamp = mStamp;
      --cStamp;
    }
  }
  if (SvObject::con->bad()) {
    abortWith(c, truncated("time stamps"));
    return false;
  }
  if (!normal) {
    int32_t user = c != nullptr ? c->uid() : 0;
    if (user != 0 && user != schema()->owner()) {
      abortWith(c, NoPrivilege(kPrivAdd, -1));
      return false;
    }
    if (cStamp > now || mStamp > now || cStamp > mStamp) {
      abortWith(c, InvalidTimeStamp(qualifiedName(), cStamp.time(), mStamp.time(), now.time()));
      return false;
    }
  }
  return true;
}

long SvTable::putRecord(Client* c) {
  profile(GServObjStats::kPut);
  if (SvObject::con == nullptr)
    return abortWith(c, truncated("record"));
  uint32_t instId = 0;
  if (hasIdInPKey()) {
    int32_t id = 0;
    if (!readWord(id))
      return abortWith(c, truncated("instance id"));
    instId = uint32_t(id);
  }
  TimeStamp cStamp;
  if (hasStampInPKey()) {
    *SvObject::con >> cStamp;
    if (cStamp.isNull())
      cStamp = StorageEnv::timeStamp;
  }
  int32_t unused = 0;
  if (!receiveRecord(false, unused))
    return abortPending(c);
  SvIndex* pk = index(0);
  if (pk == nullptr)
    return abortWith(c, NoIndexes());
  bool tookId = false;
  if (hasIdInPKey()) {
    if (instId == 0) {
      instId = rep_->newInstId();
      tookId = true;
    }
    setRecInstId(instId);
  }
  if (hasStampInPKey())
    setCTimeStamp(cStamp);
  setMTimeStamp(StorageEnv::timeStamp);
  pk->buildKey(buffer(), 0);
  int32_t found = pk->searchKey();
  pk->unLock();
  LockObject* lk = nullptr;
  bool created = false;
  int32_t oldRec = -1;
  if (found != -1) {
    if (!isTemp()) {
      lk = canWrite(c, found, created);
      if (lk == nullptr) {
        if (tookId)
          rep_->dropInstId();
        return abortPending(c);
      }
    }
    if (lk != nullptr && rep_->deferredDel(lk)) {
      oldRec = found;
    } else {
      if (!allowed(c, kPrivUpdate)) {
        if (created)
          rep_->freeLock(c, found);
        return abortWith(c, NoPrivilege(kPrivUpdate, -1));
      }
      return finishUpdate(c, updateRecNo(c, found, false, lk, created, 0), lk);
    }
  }
  if (!allowed(c, kPrivAdd)) {
    if (tookId)
      rep_->dropInstId();
    return abortWith(c, NoPrivilege(kPrivAdd, -1));
  }
  if (hasCreationStamp() && !hasStampInPKey())
    setCTimeStamp(StorageEnv::timeStamp);
  if (!hasIdInPKey()) {
    setRecInstId(rep_->newInstId());
    tookId = true;
  }
  idFromCounter_ = tookId;
  int32_t r = addCurrRecord(c, false, false, oldRec, lk, 0);
  idFromCounter_ = true;
  return finishAdd(c, r, true);
}

long SvTable::addRecord(Client* c) {
  int32_t normal = 0;
  if (!readWord(normal))
    return abortWith(c, truncated("normal flag"));
  return addCommon(c, normal != 0, false);
}

long SvTable::addRecordTest(Client* c) { return addCommon(c, true, true); }

long SvTable::addCommon(Client* c, bool normal, bool test) {
  if (SvObject::con == nullptr)
    return abortWith(c, truncated("record"));
  TimeStamp cStamp, mStamp;
  uint32_t instId = 0;
  if (!readStamps(c, normal, cStamp, mStamp, instId))
    return -1;
  profile(GServObjStats::kAdd);
  if (hasStampInPKey() && buffer() != nullptr)
    setCTimeStamp(cStamp);
  int32_t unused = 0;
  if (!receiveRecord(false, unused))
    return abortPending(c);
  SvIndex* pk = index(0);
  if (pk == nullptr)
    return abortWith(c, NoIndexes());
  setMTimeStamp(mStamp);
  if (hasIdInPKey())
    setRecInstId(instId);
  pk->buildKey(buffer(), 0);
  int32_t found = pk->searchKey();
  if (!allowed(c, kPrivAdd)) {
    pk->unLock();
    return abortWith(c, NoPrivilege(kPrivAdd, -1));
  }
  LockObject* lk = nullptr;
  int32_t oldRec = -1;
  if (found != -1) {
    if (!isTemp())
      lk = deferredDel(c, found);
    if (lk == nullptr) {
      String keyText;
      char const* k = pk->getKey();
      pk->load(keyText, k);
      pk->unLock();
      if (test)
        return answer(c, -1);
      return abortWith(c, DuplicatedKey(pk->qualifiedName(), keyText));
    }
    oldRec = found;
  }
  pk->unLock();
  if (hasCreationStamp() && !hasStampInPKey())
    setCTimeStamp(cStamp);
  bool tookId = !hasIdInPKey() || instId == 0;
  if (tookId)
    setRecInstId(rep_->newInstId());
  idFromCounter_ = tookId;
  int32_t r = addCurrRecord(c, false, false, oldRec, lk, 0);
  idFromCounter_ = true;
  return finishAdd(c, r, normal);
}

long SvTable::finishAdd(Client* c, int32_t r, bool withPrefix) {
  bool created = false;
  if (r != -1 && TableEnv::journal != nullptr && !isTemp() && canWrite(c, r, created) == nullptr)
    return abortPending(c);
  if (r == -1)
    return abortPending(c);
  answer(c, r);
  if (withPrefix)
    sendPrefix();
  return r;
}

long SvTable::finishUpdate(Client* c, int32_t r, LockObject* lk) {
  if (r == -1)
    return abortPending(c);
  if (TableEnv::journal == nullptr && lk != nullptr)
    rep_->freeLock(c, r);
  answer(c, r);
  sendPrefix();
  return r;
}

long SvTable::delRecord(Client* c) {
  profile(GServObjStats::kDel);
  SvIndex* pk = index(0);
  if (pk == nullptr)
    return abortWith(c, NoIndexes());
  if (!pk->receiveKey(nullptr, false)) {
    ensureError(String("bad key"));
    return abortPending(c);
  }
  if (!allowed(c, kPrivDel))
    return abortWith(c, NoPrivilege(kPrivDel, -1));
  int32_t found = pk->searchKey();
  pk->unLock();
  if (found == -1)
    return answer(c, -1);
  LockObject* lk = nullptr;
  bool created = false;
  if (!isTemp()) {
    lk = canWrite(c, found, created);
    if (lk == nullptr)
      return abortPending(c);
  }
  int32_t r = delRecordNo(c, found, lk, created);
  if (r == -1) {
    // The optimistic check refused: the client's transaction must learn it.
    if (Exception::last().code() == kExcOptTransCorrupt)
      return abortPending(c);
    return answer(c, -1);
  }
  return answer(c, r);
}

long SvTable::updateRecord(Client* c) {
  if (!allowed(c, kPrivUpdate))
    return abortWith(c, NoPrivilege(kPrivUpdate, -1));
  SvIndex* pk = index(0);
  if (pk == nullptr)
    return abortWith(c, NoIndexes());
  if (buffer() == nullptr)
    return abortWith(c, NoIndexes());
  int32_t mode = 0;
  if (!readWord(mode))
    return abortWith(c, truncated("update mode"));
  int32_t recno = -1;
  std::vector<char> save(buffer(), buffer() + recordLength());
  if (mode == 0) {
    if (!readWord(recno))
      return abortWith(c, truncated("record number"));
    if (!liveRecord(c, recno))
      return abortWith(c, InvalidData(String("record ") + toString(long(recno)) + " of " + qualifiedName() +
                                       " is not in use"));
    fillBuffer(recno);
    int32_t unused = 0;
    if (!receiveRecord(false, unused)) {
      std::memcpy(buffer(), save.data(), save.size());
      return abortPending(c);
    }
  } else {
    if (!pk->receiveKey(nullptr, false)) {
      ensureError(String("bad key"));
      return abortPending(c);
    }
    recno = pk->searchKey();
    if (recno == -1) {
      String keyText;
      char const* k = pk->getKey();
      pk->load(keyText, k);
      pk->unLock();
      return abortWith(c, KeyDoesNotExist(pk->qualifiedName(), keyText));
    }
    pk->unLock();
    fillBuffer(recno);
    if (!receiveItems()) {
      std::memcpy(buffer(), save.data(), save.size());
      return abortPending(c);
    }
  }
  LockObject* lk = nullptr;
  bool created = false;
  if (!isTemp()) {
    lk = canWrite(c, recno, created);
    if (lk == nullptr || rep_->deferredDel(lk)) {
      ensureError(String("record deleted in this transaction"));
      return abortPending(c);
    }
  }
  return finishUpdate(c, updateRecNo(c, recno, true, lk, created, 0), lk);
}

bool SvTable::receiveItems() {
  // Items change a copy of the record; the buffer takes it only when every
  // item was read and applied.
  std::vector<char> img(buffer(), buffer() + recordLength());
  for (;;) {
    int32_t n = 0;
    if (!readWord(n)) {
      Exception::last(truncated("field item"));
      return false;
    }
    if (n == -1)
      break;
    SvField* f = field(n);
    if (f == nullptr || f->isVirtual()) {
      Exception::last(InvalidData(String("no field ") + toString(long(n)) + " in " + qualifiedName()));
      return false;
    }
    int32_t code = 0;
    if (!readWord(code)) {
      Exception::last(truncated("update code"));
      return false;
    }
    if (code == SvField::COPY) {
      int32_t m = 0;
      if (!readWord(m)) {
        Exception::last(truncated("source field"));
        return false;
      }
      SvField* from = field(m);
      if (from == nullptr || !f->copyFrom(img.data(), from)) {
        Exception::last(InvalidData(String("field ") + toString(long(m)) + " cannot be copied into " + f->name()));
        return false;
      }
      continue;
    }
    if (code < SvField::ADD || code > SvField::SET) {
      Exception::last(InvalidData(String("bad update code ") + toString(long(code))));
      return false;
    }
    int32_t first = 0, last = 0;
    if (f->dim() > 1) {
      if (!readWord(first) || !readWord(last)) {
        Exception::last(truncated("element range"));
        return false;
      }
      if (first > last) {
        Exception::last(InvalidData(String("element range ") + toString(long(first)) + ".." +
                                    toString(long(last)) + " is empty"));
        return false;
      }
      int32_t top = f->dim() - 1;
      first = first < 0 ? 0 : (first > top ? top : first);
      last = last < 0 ? 0 : (last > top ? top : last);
    }
    char* p = img.data() + f->tableOffset() + first * f->ilength(true);
    int32_t count = last - first + 1;
    bool ok = false;
    switch (code) {
    case SvField::ADD: ok = f->receiveAdd(SvObject::con, p, count); break;
    case SvField::SUB: ok = f->receiveSub(SvObject::con, p, count); break;
    case SvField::MUL: ok = f->receiveMul(SvObject::con, p, count); break;
    case SvField::DIV: ok = f->receiveDiv(SvObject::con, p, count); break;
    default: ok = f->receiveSet(SvObject::con, p, count); break;
    }
    if (!ok || SvObject::con->bad() || pending()) {
      ensureError(String("update of field ") + f->name() + " refused");
      return false;
    }
  }
  std::memcpy(buffer(), img.data(), img.size());
  return true;
}
