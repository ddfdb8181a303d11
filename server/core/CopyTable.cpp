// Table copy in slices.
#include <svcore/CopyTable.h>

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <sindex/SvIndex.h>
#include <svcatalog/RequestEnv.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <svcore/Server.h>
#include <svobject/Client.h>
#include <zfound/BoolArray.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Portable.h>
#include <zfound/Message.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr int32_t kPrefix = 20;       // links, modification stamp, instance id
constexpr int32_t kCreation = 20;     // offset of the creation stamp
constexpr uint32_t kNoTarget = 0x1fffffff;

}  // namespace

CopyTable::CopyTable(SvTable* from, SvTable* to) : tabFrom_(from), tabTo_(to) {
  tabFrom_->incReference();
  tabTo_->incReference();
}

CopyTable::~CopyTable() {
  tabFrom_->decReference();
  tabTo_->decReference();
}

long CopyTable::estimation(Client*) { return -1; }

void CopyTable::changeState(State s) {
  nrec1_ = -1;
  nrec2_ = -1;
  state_ = s;
}

long CopyTable::finish(Client* c, bool failed) {
  std::unique_ptr<Exception> err;
  if (failed) err.reset(Exception::last().code() != 0 ? Exception::last().clone()
                                                      : new InvalidData(String("table copy failed")));
  if (locked_) {
    tabTo_->tabRep()->freeTabLock(c);
    tabFrom_->tabRep()->freeTabLock(c);
    locked_ = false;
  }
  changeState(kDone);
  if (err) return svcatalog::replyAbort(c, *err);
  Exception::last(Exception(0));
  return 0;
}

long CopyTable::activation(Client* c) {
  if (state_ == kDone) return finish(c, false);
  if (state_ == kStart) {
    svcatalog::LockObject* out = nullptr;
    bool ok = tabTo_->tabRep()->applyTabLock(c, 1, 0, true, &out) && Exception::last().code() == 0;
    if (ok) {
      locked_ = true;
      ok = tabFrom_->tabRep()->applyTabLock(c, 0, 0, true, &out) && Exception::last().code() == 0;
    }
    if (!ok) {
      Server::convLastException();
      return finish(c, true);
    }
    for (int32_t i = 0; i < tabTo_->nIndexSlots(); ++i)
      if (SvIndex* ix = tabTo_->index(i)) ix->empty(c);
    if (!tabTo_->tabRep()->empty(c) || Exception::last().code() != 0) return finish(c, true);
    changeState(kCopyContents);
  }
  int32_t n = 0;
  if (state_ == kCopyContents) {
    n = copyContents(c, n);
    if (n < 0) return finish(c, true);
    if (n == kQuantum) return 30;
    changeState(kMarkPool);
  }
  if (state_ == kMarkPool) {
    n = markPool(c, n);
    if (n < 0) return finish(c, true);
    if (n == kQuantum) return 30;
    changeState(kBuildIndices);
  }
  if (state_ == kBuildIndices) {
    n = buildIndices(c, n);
    if (n < 0) return finish(c, true);
    if (n == kQuantum) return 30;
  }
  return finish(c, false);
}

int32_t CopyTable::copyContents(Client* c, int32_t n) {
  SvTabRep* const from = tabFrom_->tabRep();
  SvTabRep* const to = tabTo_->tabRep();
  if (nrec1_ == -1) {
    nrec1_ = 1;
    equiv_.clear();
    for (int32_t i = 0; i < from->nFields(); ++i) equiv_.push_back(to->fieldEquiv(from->field(i)));
    findLive(c);
  }
  int32_t const last = from->last();
  std::vector<char> image(size_t(to->recordLength()));
  for (; nrec1_ <= last && n < kQuantum - 1; ++nrec1_, ++n) {
    // The target slot of the same number (slots are taken in order).
    char* slot = nullptr;
    int32_t got = to->last();
    while (got < nrec1_) {
      if (to->add(slot, got, false) == nullptr && slot == nullptr) return -1;
    }
    if (live_[size_t(nrec1_)] == 0) {
      gaps_.push_back(nrec1_);
      continue;
    }
    char const* const src = from->get(nrec1_);
    if (src == nullptr) return -1;
    std::vector<char> srcImage(src, src + from->recordLength());
    std::fill(image.begin(), image.end(), 0);
    tabTo_->initRecord(image.data());
    std::memcpy(image.data(), srcImage.data(), kPrefix);
    if (to->hasCreationStamp())
      std::memcpy(image.data() + kCreation, srcImage.data() + (from->hasCreationStamp() ? kCreation : 8), 8);
    for (int32_t i = 0; i < from->nFields(); ++i) {
      uint32_t const eq = equiv_[size_t(i)];
      if (eq > kNoTarget) continue;
      SvField* const sf = from->field(i);
      SvField* const tf = to->field(int32_t(eq & 0xFFFFFFu));
      if (sf == nullptr || tf == nullptr || sf->isVirtual() || tf->isVirtual()) continue;
      int32_t const dims = std::min(sf->dim(), tf->dim());
      char const* sp = srcImage.data() + sf->tableOffset();
      char* tp = image.data() + tf->tableOffset();
      for (int32_t e = 0; e < dims; ++e) {
        String text;
        sf->load(text, sp, true, -1);
        char* before = tp;
        if (!tf->store(tp, text, true, -1)) {
          // A value the target field does not take stays initial.
          Exception::last(Exception(0));
          tp = before + tf->ilength(true);
        }
      }
    }
    CacheBuffer* cb = nullptr;
    char* cp = nullptr;
    cb = to->get(cp, nrec1_, true);
    if (cp == nullptr) return -1;
    to->flush(image.data(), cb, cp, 8);
    if (cb != nullptr) cb->unlock();
    if (Exception::last().code() != 0) {
      if (Exception::last().code() != kExcInvalidData) return -1;
      Exception::last(Exception(0));
    }
  }
  return nrec1_ <= last ? kQuantum : n;
}

void CopyTable::findLive(Client*) {
  // A slot is in use unless it lies on one of the two free lists, on the
  // chain of slots freed in a retained version, or in the group reserved
  // for a version header page (object id -2).
  SvTabRep* const from = tabFrom_->tabRep();
  int32_t const last = std::max(0, from->last());
  live_.assign(size_t(last) + 1, 1);
  live_[0] = 0;
  BoolArray freed(long(last) + 1);
  from->verifyFree(&freed);  // a damaged list is reported; what it reached counts
  for (int32_t r = 1; r <= last; ++r)
    if (freed[r]) live_[size_t(r)] = 0;
  for (int32_t v = 0; v < BlockedFile::kNVersions; ++v) {
    int32_t steps = 0;
    for (uint32_t link = uint32_t(from->version(v).chain); (link & 0x7FFFFFFFu) != 0 && steps <= last; ++steps) {
      int32_t const r = int32_t(link & 0x7FFFFFFFu);
      if (r > last || live_[size_t(r)] == 0) break;
      live_[size_t(r)] = 0;
      char const* const rec = from->get(r);
      if (rec == nullptr) break;
      link = uint32_t(ldlong(rec + ((link & 0x80000000u) != 0 ? 4 : 0)));
    }
  }
  int32_t const group = std::max(1, from->sizeOfVersionHeader());
  for (int32_t r = 1; r <= last; ++r) {
    if (live_[size_t(r)] == 0) continue;
    char const* const rec = from->get(r);
    if (rec != nullptr && ldlong(rec + SvTabRep::kInstIdAt) == -2) {
      for (int32_t k = 0; k < group && r + k <= last; ++k) live_[size_t(r + k)] = 0;
      r += group - 1;
    }
  }
  Exception::last(Exception(0));
}

bool CopyTable::rebuildIndices(Client* c, SvTable* t) {
  CopyTable job(t, t);
  job.findLive(c);
  for (int32_t i = 0; i < t->nIndexSlots(); ++i)
    if (SvIndex* ix = t->index(i)) ix->empty(c);
  job.changeState(kBuildIndices);
  for (;;) {
    int32_t const n = job.buildIndices(c, 0);
    if (n < 0) return false;
    if (n != kQuantum) return true;
  }
}

int32_t CopyTable::markPool(Client*, int32_t n) {
  if (nrec1_ == -1) nrec1_ = 0;
  while (nrec1_ < int32_t(gaps_.size()) && n < kQuantum - 1) {
    if (!tabTo_->tabRep()->del(gaps_[size_t(nrec1_)])) return -1;
    ++nrec1_;
    ++n;
  }
  return nrec1_ < int32_t(gaps_.size()) ? kQuantum : n;
}

int32_t CopyTable::buildIndices(Client* c, int32_t n) {
  SvTabRep* const to = tabTo_->tabRep();
  if (nrec1_ == -1) nrec1_ = 1;
  int32_t const last = to->last();
  for (; nrec1_ <= last && n < kQuantum - 1; ++nrec1_) {
    if (nrec1_ >= int32_t(live_.size()) || live_[size_t(nrec1_)] == 0) continue;
    char const* const rec = to->get(nrec1_);
    if (rec == nullptr) return -1;
    std::vector<char> image(rec, rec + to->recordLength());
    for (int32_t i = 0; i < tabTo_->nIndexSlots(); ++i) {
      SvIndex* const ix = tabTo_->index(i);
      if (ix == nullptr) continue;
      ix->buildKey(image.data(), nrec1_);
      bool const added = ix->addKey(c, nrec1_, true);
      ix->unLock();
      // A key the target refuses (a duplicate in a unique index) ends the copy.
      if (!added) return -1;
    }
    ++n;
  }
  return nrec1_ <= last ? kQuantum : n;
}
