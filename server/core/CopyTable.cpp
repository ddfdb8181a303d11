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
// Flags the free-list walk starts with; more come as free slots are met.
constexpr long kFirstFlags = 1L << 16;

// A chain head read from a version header page: -1 (the page cannot be
// read) is no chain; any other value, the top bit included, is the head.
int32_t savedChain(int32_t head) { return head == -1 ? 0 : head; }

}  // namespace

CopyTable::CopyTable(SvTable* from, SvTable* to) : tabFrom_(from), tabTo_(to) {
  tabFrom_->incReference();
  tabTo_->incReference();
}

CopyTable::~CopyTable() {
  // A copy given up before its end leaves no table locked.
  if (locked_ && locker_ != nullptr && tabTo_ != nullptr) {
    tabTo_->tabRep()->freeTabLock(locker_);
    tabFrom_->tabRep()->freeTabLock(locker_);
  }
  letTablesGo();
}

void CopyTable::letTablesGo() {
  if (tabFrom_ != nullptr) tabFrom_->decReference();
  if (tabTo_ != nullptr) tabTo_->decReference();
  tabFrom_ = nullptr;
  tabTo_ = nullptr;
}

bool CopyTable::emptyTarget(Client* c) {
  for (int32_t i = 0; i < tabTo_->nIndexSlots(); ++i)
    if (SvIndex* ix = tabTo_->index(i)) ix->empty(c);
  return tabTo_->tabRep()->empty(c) && Exception::last().code() == 0;
}

long CopyTable::estimation(Client*) { return -1; }

void CopyTable::changeState(State s) {
  nrec1_ = -1;
  nrec2_ = -1;
  nver1_ = -1;
  nver2_ = -1;
  state_ = s;
}

long CopyTable::finish(Client* c, bool failed) {
  std::unique_ptr<Exception> err;
  if (failed) err.reset(Exception::last().code() != 0 ? Exception::last().clone()
                                                      : new InvalidData(String("table copy failed")));
  // A copy refused after the target was emptied empties it again: the copy
  // writes records outside any transaction, so a rollback does not take
  // them back, and indexes built part-way would miss records.
  if (failed && locked_ && state_ != kStart) emptyTarget(c);
  if (locked_) {
    tabTo_->tabRep()->freeTabLock(c);
    tabFrom_->tabRep()->freeTabLock(c);
    locked_ = false;
  }
  // A refused copy holds neither table: its job may stay with the client
  // (the detach is refused while the client's transaction is aborted)
  // without keeping the tables in use.
  if (failed) letTablesGo();
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
      locker_ = c;
      ok = tabFrom_->tabRep()->applyTabLock(c, 0, 0, true, &out) && Exception::last().code() == 0;
    }
    if (!ok) {
      Server::convLastException();
      return finish(c, true);
    }
    if (!emptyTarget(c)) return finish(c, true);
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
    if (kindOf(nrec1_) == kGap) {
      gaps_.push_back(nrec1_);
      continue;
    }
    if (kindOf(nrec1_) == kRetained) ++nRetained_;
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
  if (nrec1_ <= last) return kQuantum;
  return copyVersions(n);
}

int32_t CopyTable::copyVersions(int32_t n) {
  SvTabRep* const from = tabFrom_->tabRep();
  SvTabRep* const to = tabTo_->tabRep();
  if (nver1_ == -1) nver1_ = 0;
  // One header page per retained version, made past the copied records.
  // Before it is made, the target's chains are those the source's page
  // saved, so the page saves the same; the target's version entry then
  // names its own page.
  for (; nver1_ < BlockedFile::kNVersions && n < kQuantum - 1; ++nver1_) {
    int32_t const v = nver1_;
    if (from->version(v).header <= 0) continue;
    for (int32_t w = 0; w < BlockedFile::kNVersions; ++w)
      to->version(w).chain = w < v && w < BlockedFile::kNShortVersions ? savedChain(from->versionChain(v, w)) : 0;
    if (!to->BlockedFile::newVers(v)) return -1;
    ++n;
  }
  if (nver1_ < BlockedFile::kNVersions) return kQuantum;
  if (!versionsDone_) {
    // The live chains as the source keeps them; the retained records are
    // deleted records of the current data, not counted in use.
    for (int32_t w = 0; w < BlockedFile::kNVersions; ++w) to->version(w).chain = from->version(w).chain;
    to->nReg() -= nRetained_;
    to->markModified();
    versionsDone_ = true;
  }
  return n;
}

char CopyTable::kindOf(int32_t r) const {
  if (r < 1 || r > liveLast_)
    return kGap;  // no slot of the source when it was surveyed
  auto const it = live_.find(r);
  return it == live_.end() ? kInUse : it->second;
}

void CopyTable::setKind(int32_t r, char kind) {
  if (kind == kInUse)
    live_.erase(r);
  else
    live_[r] = kind;
}

void CopyTable::findLive(Client*) {
  // A slot is in use (kInUse) unless it lies on one of the two free lists
  // or in the group reserved for a version header page (object id -2); a
  // slot on the chain of a retained version is kept for it (kRetained).
  // Only the slots met that are not in use are kept, never a kind per slot
  // up to the header's last record number: a damaged header does not make
  // the copy allocate.
  SvTabRep* const from = tabFrom_->tabRep();
  int32_t const last = std::max(0, from->last());
  live_.clear();
  liveLast_ = last;
  BoolArray freed(std::min(long(last) + 1, kFirstFlags));  // grows with the free slots met
  from->verifyFree(&freed);  // a damaged list is reported; what it reached counts
  for (int32_t r = 1; r <= last && r < freed.dim(); ++r)
    if (freed[r]) setKind(r, kGap);
  // The chains as the live header keeps them, and as each version's header
  // page saved them when the version was made.
  auto walkChain = [&](int32_t head) {
    int32_t steps = 0;
    for (uint32_t link = uint32_t(head); (link & 0x7FFFFFFFu) != 0 && steps <= last; ++steps) {
      int32_t const r = int32_t(link & 0x7FFFFFFFu);
      if (r > last || kindOf(r) != kInUse) break;
      setKind(r, kRetained);
      char const* const rec = from->get(r);
      if (rec == nullptr) break;
      link = uint32_t(ldlong(rec + ((link & 0x80000000u) != 0 ? 4 : 0)));
    }
  };
  for (int32_t v = 0; v < BlockedFile::kNVersions; ++v) {
    walkChain(from->version(v).chain);
    if (from->version(v).header > 0)
      for (int32_t w = 0; w < v && w < BlockedFile::kNShortVersions; ++w)
        walkChain(savedChain(from->versionChain(v, w)));
  }
  int32_t const group = std::max(1, from->sizeOfVersionHeader());
  for (int32_t r = 1; r <= last; ++r) {
    if (kindOf(r) == kGap) continue;
    char const* const rec = from->get(r);
    if (rec != nullptr && ldlong(rec + SvTabRep::kInstIdAt) == -2) {
      for (int32_t k = 0; k < group && r + k <= last; ++k) setKind(r + k, kGap);
      r += group - 1;
    }
  }
  Exception::last(Exception(0));
}

bool CopyTable::rebuildIndices(Client* c, SvTable* t) {
  CopyTable job(t, t);
  job.currentOnly_ = true;
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
  SvTabRep* const from = tabFrom_->tabRep();
  // One pass per retained version and one for the current data (see the
  // top of CopyTable.h). Index pages of an older pass are stamped as of its
  // version, so that later passes leave them to that version.
  int32_t const passes = (currentOnly_ ? 0 : std::max<int32_t>(0, Server::nVersions())) + 1;
  TimeStamp const savedStamp = Server::timeStamp;
  TimeStamp const savedCP = Server::lastChkPoint;
  struct Restore {
    TimeStamp const& stamp;
    TimeStamp const& cp;
    ~Restore() {
      Server::timeStamp = stamp;
      Server::lastChkPoint = cp;
    }
  } const restore{savedStamp, savedCP};
  if (nver1_ == -1) {
    nver1_ = 0;
    nrec1_ = -1;
  }
  int32_t const last = to->last();
  std::vector<char> image(size_t(to->recordLength()));
  for (; nver1_ < passes; ++nver1_) {
    int32_t const pass = nver1_;
    bool const lastPass = pass == passes - 1;
    if (lastPass) {
      Server::timeStamp = savedStamp;
      Server::lastChkPoint = savedCP;
    } else {
      Server::timeStamp = Server::versStamp(pass);
      Server::lastChkPoint = Server::timeStamp;
      --Server::lastChkPoint;
    }
    if (nrec1_ == -1) {
      // The records deleted since the version before: their keys go.
      dels_.clear();
      for (int32_t w = 0; w < pass && !currentOnly_; ++w) {
        int32_t const head = lastPass ? from->version(w).chain
                                      : (w < BlockedFile::kNShortVersions ? savedChain(from->versionChain(pass, w)) : 0);
        int32_t steps = 0;
        for (uint32_t link = uint32_t(head); (link & 0x7FFFFFFFu) != 0 && steps <= last; ++steps) {
          int32_t const r = int32_t(link & 0x7FFFFFFFu);
          if (r > last || kindOf(r) != kRetained) break;
          dels_.push_back(r);
          char const* const rec = from->get(r);
          if (rec == nullptr) break;
          link = uint32_t(ldlong(rec + ((link & 0x80000000u) != 0 ? 4 : 0)));
        }
      }
      Exception::last(Exception(0));
      nrec1_ = 1;
      nver2_ = 0;
    }
    for (; nver2_ < int32_t(dels_.size()) && n < kQuantum - 1; ++nver2_, ++n) {
      int32_t const r = dels_[size_t(nver2_)];
      char const* const rec = to->get(r);
      if (rec == nullptr) return -1;
      std::copy(rec, rec + image.size(), image.begin());
      for (int32_t i = 0; i < tabTo_->nIndexSlots(); ++i) {
        SvIndex* const ix = tabTo_->index(i);
        if (ix == nullptr) continue;
        ix->buildKey(image.data(), r);
        ix->delKey(r);
        ix->unLock();
      }
      Exception::last(Exception(0));
    }
    if (nver2_ < int32_t(dels_.size())) return kQuantum;
    for (; nrec1_ <= last && n < kQuantum - 1; ++nrec1_) {
      char const kind = kindOf(nrec1_);
      if (kind == kGap || (currentOnly_ && kind != kInUse)) continue;
      char const* const rec = to->get(nrec1_);
      if (rec == nullptr) return -1;
      std::copy(rec, rec + image.size(), image.begin());
      if (!currentOnly_) {
        char const* sp = image.data() + SvTabRep::kMStampAt;
        TimeStamp stamp;
        stamp.load(sp);
        int32_t const v = Server::versNum(stamp);
        if ((v == -1 ? 0 : v) != pass) continue;
      }
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
    if (nrec1_ <= last) return kQuantum;
    if (!lastPass) {
      for (int32_t i = 0; i < tabTo_->nIndexSlots(); ++i) {
        SvIndex* const ix = tabTo_->index(i);
        if (ix == nullptr || ix->isTemporary()) continue;
        if (!ix->newVers(pass) || !ix->flush(false)) return -1;
      }
    }
    nrec1_ = -1;
  }
  return n;
}
