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
#include <zfound/Portable.h>

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
  // The cursor holds its table: Replace, Alter and Drop see it in use.
  table_->incReference();
}

SvCursor::~SvCursor() { table_->decReference(); }

void SvCursor::goFirst() {
  completing_ = false;
  backKey_ = toKey_;
  nextKey_ = fromKey_;
  posFlags_ = rangeFlags_;
  recno_ = kBefore;
}

void SvCursor::goLast() {
  completing_ = false;
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
  if (index_->isDup()) {
    // The record number behind a bound of an index with duplicates puts it
    // before or after every duplicate of its key, so that counting and
    // positioning take all of them in or leave all of them out, as the
    // range's flags say (a key arrives without a record number).
    stlong((flags & kFromExcl) != 0 ? 0x7fffffff : 0, from.data() + index_->length());
    stlong((flags & kToExcl) != 0 ? 0 : 0x7fffffff, to.data() + index_->length());
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
  if (completing_) {
    int32_t added = 0;
    bool done = false;
    if (!completeBuild(c, target, batch, added, done)) {
      con->setRetValue(-1);
      return -1;
    }
    if (done) {
      completing_ = false;
      recno_ = kPast;
    }
    markBuild(number, target, done);
    int32_t const result = added == 0 ? 0 : (done ? -added : added);
    con->setRetValue(result);
    return result;
  }
  if (recno_ == kPast) return 0;
  markBuild(number, target, false);
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
  if (!failed && recno_ == kPast && !target->isTemporary() && !target->hasNotNull()) {
    // The range is done; the records outside it follow (see the top of
    // SvCursor.h), in this request while the batch has room.
    completing_ = true;
    completeKey_.clear();
    recno_ = 0;
    int32_t more = 0;
    bool done = false;
    if (!completeBuild(c, target, batch - added, more, done)) {
      failed = true;
    } else {
      added += more;
      if (done) {
        completing_ = false;
        recno_ = kPast;
      }
    }
  }
  if (failed) {
    // The key that could not be added (a duplicate in a unique index) is
    // the answer; the position stays at that record, so nothing is skipped.
    if (Exception::last().code() == 0) Exception::last(InvalidData("index build"));
    con->setRetValue(-1);
    return -1;
  }
  markBuild(number, target, recno_ == kPast && !completing_);
  int32_t const result = added == 0 ? 0 : (recno_ == kPast ? -added : added);
  con->setRetValue(result);
  return result;
}

void SvCursor::markBuild(int32_t number, SvIndex* target, bool finished) {
  auto const at = std::find(unfinished_.begin(), unfinished_.end(), std::make_pair(number, target));
  if (finished) {
    if (at != unfinished_.end()) unfinished_.erase(at);
  } else if (at == unfinished_.end() && !target->isTemporary() && !target->hasNotNull()) {
    unfinished_.emplace_back(number, target);
  }
}

void SvCursor::abandonBuilds(Client* c) {
  std::vector<std::pair<int32_t, SvIndex*>> const open = std::move(unfinished_);
  unfinished_.clear();
  std::unique_ptr<Exception> const keep(Exception::last().clone());
  for (auto const& [number, target] : open) {
    // An index dropped since, or a new one under the same number, is not
    // this build's.
    if (table_->index(number) != target) continue;
    index_->unLock();
    completeKey_.clear();
    int32_t added = 0;
    bool done = false;
    bool const ok = completeBuild(c, target, kPast, added, done);
    target->unLock();
    if (!ok || !done) {
      target->empty(c);
      target->unLock();
    }
  }
  Exception::last(*keep);
}

bool SvCursor::completeBuild(Client* c, SvIndex* target, int32_t room, int32_t& added, bool& done) {
  added = 0;
  done = false;
  // The walk goes over an index that holds every record: the cursor's own
  // when it does, else the first such index of the table.
  SvIndex* walk = nullptr;
  auto full = [&](SvIndex* ix) { return ix != nullptr && ix != target && !ix->isTemporary() && !ix->hasNotNull(); };
  if (full(index_)) walk = index_;
  for (int32_t i = 0; walk == nullptr && i < table_->nIndexSlots(); ++i)
    if (full(table_->index(i))) walk = table_->index(i);
  if (walk == nullptr) {
    done = true;
    return true;
  }
  int32_t r = -1;
  if (completeKey_.empty()) {
    completeKey_.assign(size_t(walk->keyLength()), 0);
    r = walk->findKey(c, SvIndex::kFirst);
  } else {
    walk->setKey(completeKey_.data());
    r = walk->findKey(c, SvIndex::kNext);
  }
  bool ok = true;
  // A walk that finds only keys already present still ends: each record is
  // looked at once, and the batch counts keys added.
  while (r > 0 && added < std::max<int32_t>(1, room)) {
    char* const image = table_->get(r);
    if (image == nullptr) {
      ok = false;
      break;
    }
    std::vector<char> copy(image, image + table_->recordLength());
    target->buildKey(copy.data(), r);
    int32_t const there = target->searchKey();
    target->unLock();
    if (there != r) {
      target->buildKey(copy.data(), r);
      bool const put = target->addKey(c, r, true);
      target->unLock();
      if (!put) {
        ok = false;
        break;
      }
      ++added;
    }
    copyCurrent(walk, completeKey_);
    r = walk->realNext(c);
  }
  walk->unLock();
  if (ok && r <= 0) done = true;
  return ok;
}

// ---- block reads ------------------------------------------------------------

// One block in either direction. Forward reads from the key ahead
// (nextKey_) towards toKey_ and ends past the end; backward reads from
// backKey_ towards fromKey_ and ends before the start. The key behind the
// block and the one ahead are kept with their position bits, so the next
// block in either direction starts where this one ended.
bool SvCursor::readBlock(Client* c, bool forward) {
  SvIndex* const ix = index_;
  Connection* const con = SvObject::con;
  int32_t const done = forward ? kPast : kBefore;
  std::vector<char>& ahead = forward ? nextKey_ : backKey_;
  std::vector<char>& behind = forward ? backKey_ : nextKey_;
  // Position bits: the key ahead is exact (2 forward, 8 backward) and the
  // one behind (4 forward, 1 backward); each clears its counterpart.
  int32_t const aheadSet = forward ? 2 : 8, aheadClear = forward ? 1 : 4;
  int32_t const behindSet = forward ? 4 : 1, behindClear = forward ? 8 : 2;
  auto outside = [&] { return forward ? pastEnd(this, ix, toKey_.data()) : beforeStart(this, ix, fromKey_.data()); };
  auto step = [&] { return forward ? ix->realNext(c) : ix->realPrev(c); };

  SvObject::reply(c, 0);
  con->setRetValue(0);
  if ((lockMode_ & SvTable::kModeAcquire) != 0 && nLocked_ != 0) freeRecords(c);
  if (recno_ == done) return true;
  ix->setKey(ahead.data());
  int32_t const dir = forward ? SvIndex::kNext : SvIndex::kPrev;
  recno_ = ix->findKey(c, (posFlags_ & aheadSet) != 0 ? (SvIndex::kExact | dir) : dir);
  int32_t n = 0, left = maxRecs_, estimate = -1;
  bool flushed = false;
  while (recno_ != -1) {
    con->setRetValue(n + 1);
    if (outside()) {
      recno_ = -1;
      break;
    }
    if ((lockMode_ & (SvTable::kModeAcquire | SvTable::kModeNoWait)) != 0) {
      int32_t const mode = n == 0 ? lockMode_ : (lockMode_ | SvTable::kModeNoWait);
      Try const t = tryLock(table_, c, recno_, mode);
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
        if ((lockMode_ & SvTable::kModeAcquire) == 0) {
          // Step past the record whose test failed.
          copyCurrent(ix, behind);
          posFlags_ = (posFlags_ | behindSet) & ~behindClear;
          int32_t const r = step();
          recno_ = r == -1 ? done : r;
          copyCurrent(ix, ahead);
          posFlags_ = (posFlags_ | aheadSet) & ~aheadClear;
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
    if ((rangeFlags_ & kKeysOnly) != 0) {
      ix->sendKey(ix->currentKey());
      sent = recno_;
    } else if (!fields_.empty()) {
      sent = table_->sendFields(fields_.data(), int32_t(fields_.size()), recno_);
    } else {
      sent = table_->sendRecord(c, recno_);
    }
    if (sent != recno_) {
      // A record the index names but the file does not hold: the block
      // ends before it, answered with the error.
      if (Exception::last().code() == 0) Exception::last(InvalidData("cursor record out of range"));
      break;
    }
    *con << recno_;
    if (n == 0) {
      copyCurrent(ix, behind);
      posFlags_ = (posFlags_ | behindSet) & ~behindClear;
    }
    int32_t const freeAfter = con->getCnt();
    if (freeAfter > freeBefore) flushed = true;  // a part went out during this record
    int32_t const used = freeBefore - freeAfter;
    estimate = estimate < 0 ? used : (estimate + used) / 2;
    ++n;
    recno_ = step();
    if (--left == 0 || flushed || estimate > con->getCnt()) break;
  }
  if (n > 0 && (lockMode_ & SvTable::kModeAcquire) != 0) nLocked_ = forward ? n : -n;
  if (recno_ == -1 || outside()) recno_ = done;
  if (n == 0) {
    ix->unLock();
    con->setRetValue(0);
    return true;
  }
  copyCurrent(ix, ahead);
  ix->unLock();
  posFlags_ = (posFlags_ | aheadSet) & ~aheadClear;
  con->setRetValue(recno_ == done ? -n : n);
  return true;
}

bool GetNextBlock::exec(Client* c) { return cursor_->readBlock(c, true); }

bool GetPrevBlock::exec(Client* c) { return cursor_->readBlock(c, false); }
