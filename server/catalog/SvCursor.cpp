// Cursors over a key range of one index and their block reads.
#include <svcatalog/SvCursor.h>

#include <svcatalog/RequestEnv.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTable.h>
#include <sindex/SvIndex.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Field lists longer than this are refused unread (a table has at most 255
// fields; a list may name one more than once, but not without bound).
constexpr int32_t kMaxListed = 1024;
// Build adds keys of at most this many bytes per request.
constexpr int32_t kBuildBytes = 1024;

bool pastEnd(SvCursor const* cu, SvIndex* ix, char const* toKey) {
  int32_t const d = ix->cmpCurrKeyTo(toKey, ix->nFields());
  return d > 0 || (d == 0 && (cu->rangeFlags() & SvCursor::kToExcl) != 0);
}

bool beforeStart(SvCursor const* cu, SvIndex* ix, char const* fromKey) {
  int32_t const d = ix->cmpCurrKeyTo(fromKey, ix->nFields());
  return d < 0 || (d == 0 && (cu->rangeFlags() & SvCursor::kFromExcl) != 0);
}

void copyCurrent(SvIndex* ix, std::vector<char>& to) {
  char const* k = ix->currentKey();
  if (k != nullptr && !to.empty()) std::memcpy(to.data(), k, to.size());
}

// Outcome of the lock try on one record of a block.
enum class Try { kDone, kWait, kError };

Try tryLock(SvTable* t, Client* c, int32_t recno, int32_t mode) {
  if ((mode & SvTable::kModeNotify) != 0) {
    t->addNotify(c, recno);
  } else {
    svcatalog::LockObject* lk = nullptr;
    bool created = false;
    bool const goesOn = t->applyLock(c, recno, uint16_t((mode & SvTable::kModeExclusive) != 0 ? 1 : 0),
                                     (mode & SvTable::kModeNoWait) != 0 ? 0 : -1,
                                     (mode & SvTable::kModeAcquire) != 0, &lk, created);
    if (!goesOn && (mode & SvTable::kModeAcquire) != 0) return Try::kWait;
  }
  return Exception::last().code() != 0 ? Try::kError : Try::kDone;
}

}  // namespace

SvCursor::SvCursor(SvTable* table, SvIndex* index, int32_t lockMode, int32_t maxRecs)
    : table_(table), index_(index), lockMode_(lockMode), maxRecs_(maxRecs <= 0 ? kPast : maxRecs) {
  size_t const n = size_t(index_->keyLength());
  toKey_.assign(n, 0);
  fromKey_.assign(n, 0);
  backKey_.assign(n, 0);
  nextKey_.assign(n, 0);
  temporary_ = true;
}

SvCursor::~SvCursor() = default;

void SvCursor::goFirst() {
  backKey_ = toKey_;
  nextKey_ = fromKey_;
  posFlags_ = rangeFlags_;
  recno_ = kBefore;
}

void SvCursor::goLast() {
  backKey_ = toKey_;
  nextKey_ = fromKey_;
  posFlags_ = rangeFlags_;
  recno_ = kPast;
}

bool SvCursor::answerRangeError() {
  if (!rangeError_) return false;
  Exception::last(*rangeError_);
  rangeError_.reset();
  if (con != nullptr) con->setRetValue(-1);
  return true;
}

long SvCursor::setRange(Client* /*c*/) {
  // Everything is read into locals first: a range that cannot be read
  // leaves the cursor as it was.
  int32_t flags = 0, count = 0;
  *con >> flags >> count;
  std::vector<int32_t> list;
  std::vector<char> from(fromKey_.size()), to(toKey_.size());
  bool ok = !con->bad();
  String why;
  if (ok && count > kMaxListed) {
    ok = false;
    why = String("field list of ") + toString(long(count)) + " entries";
  }
  for (int32_t i = 0; ok && i < count; ++i) {
    int32_t f = 0;
    *con >> f;
    SvField* const fd = con->bad() ? nullptr : table_->field(f);
    if (fd == nullptr || fd->isVirtual()) {
      ok = false;
      why = String("field number ") + toString(long(f));
    }
    list.push_back(f);
  }
  if (ok && (!index_->receiveKey(from.data(), false) || !index_->receiveKey(to.data(), false))) {
    ok = false;
    why = Exception::last().code() != 0 ? Exception::last().message() : String("bad range key");
  }
  if (!ok || con->bad()) {
    if (why.isNull()) why = "bad range";
    rangeError_.reset(new InvalidData(String("cursor range: ") + why));
    Exception::last(*rangeError_);
    con->setRetValue(-1);
    return -1;
  }
  rangeError_.reset();
  fields_ = count > 0 ? list : std::vector<int32_t>();
  rangeFlags_ = flags;
  fromKey_ = from;
  toKey_ = to;
  if ((flags & kAtEnd) != 0)
    goLast();
  else
    goFirst();
  con->setRetValue(0);
  return 0;
}

void SvCursor::freeRecords(Client* c) {
  if ((rangeFlags_ & kKeepLocks) != 0 || (lockMode_ & SvTable::kModeAcquire) == 0 || nLocked_ == 0) return;
  if (nLocked_ > 0) {
    index_->setKey(backKey_.data());
    for (int32_t r = index_->findKey(c, SvIndex::kExact | SvIndex::kNext); r > 0; r = index_->realNext(c)) {
      if (index_->cmpCurrKeyTo(nextKey_.data(), 0) > 0) break;
      table_->freeLock(c, r);
    }
  } else {
    index_->setKey(nextKey_.data());
    for (int32_t r = index_->findKey(c, SvIndex::kExact | SvIndex::kPrev); r > 0; r = index_->realPrev(c)) {
      if (index_->cmpCurrKeyTo(backKey_.data(), 0) < 0) break;
      table_->freeLock(c, r);
    }
  }
  index_->unLock();
  nLocked_ = 0;
}

long SvCursor::getNextBlock(Client* c) {
  if (answerRangeError()) return -1;
  GetNextBlock g(this);
  bool const answered = g.exec(c);
  int32_t const result = con != nullptr ? con->retValue() : 0;
  if (!answered)
    c->setPending(g, Client::STATE_BLK_LOCK, (rangeFlags_ & kGiveUp) != 0 ? svcatalog::RequestEnv::services().lockWait() : -1);
  table_->countFetch(result < 0 ? -result : result);
  return result;
}

long SvCursor::getPrevBlock(Client* c) {
  if (answerRangeError()) return -1;
  table_->countFetch(0);
  GetPrevBlock g(this);
  bool const answered = g.exec(c);
  if (!answered)
    c->setPending(g, Client::STATE_BLK_LOCK, (rangeFlags_ & kGiveUp) != 0 ? svcatalog::RequestEnv::services().lockWait() : -1);
  return con != nullptr ? con->retValue() : 0;
}

long SvCursor::cardinal(Client* /*c*/) {
  if (answerRangeError()) return -1;
  int32_t n = 0;
  if (index_->nKeys() > 0)
    n = index_->count((rangeFlags_ & kFromIncl) != 0, fromKey_.data(), (rangeFlags_ & kToIncl) != 0, toKey_.data());
  index_->unLock();
  con->setRetValue(n);
  return n;
}

long SvCursor::build(Client* c) {
  int32_t number = 0, clear = 0;
  *con >> number >> clear;
  if (answerRangeError()) return -1;
  SvIndex* const target = con->bad() ? nullptr : table_->index(number);
  if (target == nullptr || target == index_) {
    con->setRetValue(-1);
    return -1;
  }
  // At least one key per request, whatever the key length: a batch of 0
  // would read as a complete build.
  int32_t const batch = std::max<int32_t>(1, kBuildBytes / std::max<int32_t>(1, target->keyLength()));
  con->setRetValue(0);
  if (recno_ == kPast) return 0;
  if (recno_ == kBefore && clear != 0) target->empty(c);
  index_->setKey(nextKey_.data());
  int32_t r = index_->findKey(c, (posFlags_ & 2) != 0 ? (SvIndex::kExact | SvIndex::kNext) : SvIndex::kNext);
  int32_t added = 0;
  bool failed = false;
  while (r > 0 && added < batch) {
    recno_ = r;
    if (pastEnd(this, index_, toKey_.data())) {
      r = -1;
      break;
    }
    char* const image = table_->get(r);
    if (image == nullptr) {
      failed = true;
      break;
    }
    std::vector<char> copy(image, image + table_->recordLength());
    target->buildKey(copy.data(), r);
    if (!target->addKey(c, r, true)) {
      failed = true;
      break;
    }
    ++added;
    r = index_->realNext(c);
  }
  if (!failed) {
    if (r == -1) {
      recno_ = kPast;
    } else {
      recno_ = r;
      copyCurrent(index_, nextKey_);
      posFlags_ = (posFlags_ | 2) & ~1;
    }
  }
  index_->unLock();
  target->unLock();
  if (failed) {
    // The key that could not be added (a duplicate in a unique index) is
    // the answer; the position stays at that record, so nothing is skipped.
    if (Exception::last().code() == 0) Exception::last(InvalidData("index build"));
    con->setRetValue(-1);
    return -1;
  }
  int32_t const result = added == 0 ? 0 : (recno_ == kPast ? -added : added);
  con->setRetValue(result);
  return result;
}

// ---- block reads ------------------------------------------------------------

bool GetNextBlock::exec(Client* c) {
  SvCursor* const cu = cursor_;
  SvIndex* const ix = cu->index_;
  Connection* const con = SvObject::con;
  SvObject::reply(c, 0);
  con->setRetValue(0);
  if ((cu->lockMode_ & SvTable::kModeAcquire) != 0 && cu->nLocked_ != 0) cu->freeRecords(c);
  if (cu->recno_ == SvCursor::kPast) return true;
  ix->setKey(cu->nextKey_.data());
  cu->recno_ = ix->findKey(c, (cu->posFlags_ & 2) != 0 ? (SvIndex::kExact | SvIndex::kNext) : SvIndex::kNext);
  int32_t n = 0, left = cu->maxRecs_, estimate = -1;
  bool flushed = false;
  while (cu->recno_ != -1) {
    con->setRetValue(n + 1);
    if (pastEnd(cu, ix, cu->toKey_.data())) {
      cu->recno_ = -1;
      break;
    }
    if ((cu->lockMode_ & (SvTable::kModeAcquire | SvTable::kModeNoWait)) != 0) {
      int32_t const mode = n == 0 ? cu->lockMode_ : (cu->lockMode_ | SvTable::kModeNoWait);
      Try const t = tryLock(cu->table_, c, cu->recno_, mode);
      if (n == 0 && t == Try::kWait) {
        con->setRetValue(0);
        ix->unLock();
        return false;
      }
      if (n == 0 && t == Try::kError) {
        // The error travels in the block reply (its code as the status,
        // result 0); it is answered, no longer pending.
        std::unique_ptr<Exception> const e(Exception::last().clone());
        Exception::last(Exception(0));
        SvObject::sendException(*e);
        con->setRetValue(0);
        if ((cu->lockMode_ & SvTable::kModeAcquire) == 0) {
          // Step past the record whose test failed.
          copyCurrent(ix, cu->backKey_);
          cu->posFlags_ = (cu->posFlags_ | 4) & ~8;
          int32_t const r = ix->realNext(c);
          cu->recno_ = r == -1 ? SvCursor::kPast : r;
          copyCurrent(ix, cu->nextKey_);
          cu->posFlags_ = (cu->posFlags_ | 2) & ~1;
        }
        ix->unLock();
        return true;
      }
      if (t == Try::kError) {
        // A later record that cannot be had ends the block before it; its
        // error is not this block's answer.
        Exception::last(Exception(0));
        break;
      }
    }
    int32_t const freeBefore = con->getCnt();
    int32_t sent;
    if ((cu->rangeFlags_ & SvCursor::kKeysOnly) != 0) {
      ix->sendKey(ix->currentKey());
      sent = cu->recno_;
    } else if (!cu->fields_.empty()) {
      sent = cu->table_->sendFields(cu->fields_.data(), int32_t(cu->fields_.size()), cu->recno_);
    } else {
      sent = cu->table_->sendRecord(c, cu->recno_);
    }
    if (sent != cu->recno_) {
      // A record the index names but the file does not hold: the block
      // ends before it, answered with the error.
      if (Exception::last().code() == 0) Exception::last(InvalidData("cursor record out of range"));
      break;
    }
    *con << cu->recno_;
    if (n == 0) {
      copyCurrent(ix, cu->backKey_);
      cu->posFlags_ = (cu->posFlags_ | 4) & ~8;
    }
    int32_t const freeAfter = con->getCnt();
    if (freeAfter > freeBefore) flushed = true;  // a part went out during this record
    int32_t const used = freeBefore - freeAfter;
    estimate = estimate < 0 ? used : (estimate + used) / 2;
    ++n;
    cu->recno_ = ix->realNext(c);
    if (--left == 0 || flushed || estimate > con->getCnt()) break;
  }
  if (n > 0 && (cu->lockMode_ & SvTable::kModeAcquire) != 0) cu->nLocked_ = n;
  if (cu->recno_ == -1 || pastEnd(cu, ix, cu->toKey_.data())) cu->recno_ = SvCursor::kPast;
  if (n == 0) {
    ix->unLock();
    con->setRetValue(0);
    return true;
  }
  copyCurrent(ix, cu->nextKey_);
  ix->unLock();
  cu->posFlags_ = (cu->posFlags_ | 2) & ~1;
  con->setRetValue(cu->recno_ == SvCursor::kPast ? -n : n);
  return true;
}

bool GetPrevBlock::exec(Client* c) {
  SvCursor* const cu = cursor_;
  SvIndex* const ix = cu->index_;
  Connection* const con = SvObject::con;
  SvObject::reply(c, 0);
  con->setRetValue(0);
  if ((cu->lockMode_ & SvTable::kModeAcquire) != 0 && cu->nLocked_ != 0) cu->freeRecords(c);
  if (cu->recno_ == SvCursor::kBefore) return true;
  ix->setKey(cu->backKey_.data());
  cu->recno_ = ix->findKey(c, (cu->posFlags_ & 8) != 0 ? (SvIndex::kExact | SvIndex::kPrev) : SvIndex::kPrev);
  int32_t n = 0, left = cu->maxRecs_, estimate = -1;
  bool flushed = false;
  while (cu->recno_ != -1) {
    con->setRetValue(n + 1);
    if (beforeStart(cu, ix, cu->fromKey_.data())) {
      cu->recno_ = -1;
      break;
    }
    if ((cu->lockMode_ & (SvTable::kModeAcquire | SvTable::kModeNoWait)) != 0) {
      int32_t const mode = n == 0 ? cu->lockMode_ : (cu->lockMode_ | SvTable::kModeNoWait);
      Try const t = tryLock(cu->table_, c, cu->recno_, mode);
      if (n == 0 && t == Try::kWait) {
        con->setRetValue(0);
        ix->unLock();
        return false;
      }
      if (n == 0 && t == Try::kError) {
        // The error travels in the block reply (its code as the status,
        // result 0); it is answered, no longer pending.
        std::unique_ptr<Exception> const e(Exception::last().clone());
        Exception::last(Exception(0));
        SvObject::sendException(*e);
        con->setRetValue(0);
        if ((cu->lockMode_ & SvTable::kModeAcquire) == 0) {
          copyCurrent(ix, cu->nextKey_);
          cu->posFlags_ = (cu->posFlags_ | 1) & ~2;
          int32_t const r = ix->realPrev(c);
          cu->recno_ = r == -1 ? SvCursor::kBefore : r;
          copyCurrent(ix, cu->backKey_);
          cu->posFlags_ = (cu->posFlags_ | 8) & ~4;
        }
        ix->unLock();
        return true;
      }
      if (t == Try::kError) {
        Exception::last(Exception(0));
        break;
      }
    }
    int32_t const freeBefore = con->getCnt();
    int32_t sent;
    if ((cu->rangeFlags_ & SvCursor::kKeysOnly) != 0) {
      ix->sendKey(ix->currentKey());
      sent = cu->recno_;
    } else if (!cu->fields_.empty()) {
      sent = cu->table_->sendFields(cu->fields_.data(), int32_t(cu->fields_.size()), cu->recno_);
    } else {
      sent = cu->table_->sendRecord(c, cu->recno_);
    }
    if (sent != cu->recno_) {
      if (Exception::last().code() == 0) Exception::last(InvalidData("cursor record out of range"));
      break;
    }
    *con << cu->recno_;
    if (n == 0) {
      copyCurrent(ix, cu->nextKey_);
      cu->posFlags_ = (cu->posFlags_ | 1) & ~2;
    }
    int32_t const freeAfter = con->getCnt();
    if (freeAfter > freeBefore) flushed = true;
    int32_t const used = freeBefore - freeAfter;
    estimate = estimate < 0 ? used : (estimate + used) / 2;
    ++n;
    cu->recno_ = ix->realPrev(c);
    if (--left == 0 || flushed || estimate > con->getCnt()) break;
  }
  if (n > 0 && (cu->lockMode_ & SvTable::kModeAcquire) != 0) cu->nLocked_ = -n;
  if (cu->recno_ == -1 || beforeStart(cu, ix, cu->fromKey_.data())) cu->recno_ = SvCursor::kBefore;
  if (n == 0) {
    ix->unLock();
    con->setRetValue(0);
    return true;
  }
  copyCurrent(ix, cu->backKey_);
  ix->unLock();
  cu->posFlags_ = (cu->posFlags_ | 8) & ~4;
  con->setRetValue(cu->recno_ == SvCursor::kBefore ? -n : n);
  return true;
}
