// B-tree nodes of an open index: search, walking, insertion with splits,
// deletion with joins, copy on write, the in-memory root and its stored
// chain, counting, checking and printing. See IndexNode.h for the layouts.
#include <sindex/IndexNode.h>

#include <sindex/SvIndex.h>

#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>

#include <zfound/BoolArray.h>
#include <zfound/Message.h>
#include <zfound/Portable.h>
#include <zfound/TimeStamp.h>

#include <algorithm>
#include <cstring>
#include <vector>

using svstore::StorageEnv;

namespace {

constexpr int32_t kRootNodes = 16;
constexpr int32_t kChainLink = 4;

// Where a node points after a failed load: zeros as large as any page, so
// the rest of a failing operation reads and writes within memory.
char* zeroArea() {
  static char area[2 * 16384 + 64];
  return area;
}

void report(String const& text) { warning(String("%S"), &text); }

}  // namespace

// ---- IndexNode ------------------------------------------------------------

IndexNode::IndexNode(SvIndex* ix, IndexNode* son, uint16_t sLen)
    : sindex(ix), son_(son), sLen_(sLen), tStamp_(new TimeStamp()) {}

IndexNode::~IndexNode() {
  unLock();
  delete tStamp_;
}

int32_t IndexNode::slotsPerNode() const {
  return (sindex->indRep()->recordLength() - SvIndRep::kPrefix) / sLen_;
}

void IndexNode::poison() {
  std::memset(zeroArea(), 0, 2 * 16384 + 64);
  slots_ = zeroArea();
  key_ = slots_;
  nSlots_ = 0;
  cSlot_ = 0;
  lastOff_ = -sLen_;
}

uint16_t IndexNode::slotCount(int32_t i) const { return ldushort(slotAt(i) + sLen_ - 6); }

int32_t IndexNode::slotRec(int32_t i) const { return ldlong(slotAt(i) + sLen_ - 4); }

int32_t IndexNode::cmp(char const* a, char const* b) const {
  int32_t k = sindex->keyLength();
  if (sindex->hasDescending() || k == 0)
    return sindex->indRep()->cmpKeys(a, b, 0);
  return std::memcmp(a, b, size_t(k));
}

bool IndexNode::sonIsNew() const { return *son_->tStamp_ > StorageEnv::lastChkPoint; }

void IndexNode::setSlotValues(uint16_t i, char const* key, int32_t rec, uint16_t n) {
  char* s = slotAt(i);
  int32_t k = sLen_ - 6;
  if (key && key != s)
    std::memmove(s, key, size_t(k));
  stshort(n, s + k);
  stlong(rec, s + k + 2);
}

bool IndexNode::get(int32_t rec) {
  unLock();
  char* p = nullptr;
  CacheBuffer* cb = nullptr;
  if (rec >= 1 && rec <= sindex->indRep()->last())
    cb = sindex->indRep()->get(p, rec, true);
  if (!cb || !p) {
    sindex->fail(String("node record ") + toString(long(rec)) + " cannot be read");
    poison();
    return false;
  }
  cb_ = cb;
  slots_ = p;
  key_ = slotAt(std::min(cSlot_, std::max(nSlots_ - 1, 0)));
  char const* sp = p - 8;
  tStamp_->load(sp);
  sindex->countRead();
  return true;
}

bool IndexNode::setNumSlots(int32_t n) {
  if (n < 0 || (this != sindex->root() && n > slotsPerNode()) ||
      (this == sindex->root() && n > static_cast<RootNode*>(this)->maxSlots())) {
    sindex->fail(String("slot count ") + toString(long(n)) + " out of range");
    nSlots_ = 0;
    lastOff_ = -sLen_;
    return false;
  }
  nSlots_ = n;
  lastOff_ = (n - 1) * sLen_;
  return true;
}

int32_t IndexNode::setSlot(int32_t i, char* key) {
  cSlot_ = i;
  key_ = key ? key : slotAt(i);
  if (i < 0 || i >= nSlots_) {
    nRec_ = -1;
    return -1;
  }
  int32_t n = ldushort(key_ + sLen_ - 6);
  int32_t r = ldlong(key_ + sLen_ - 4);
  if (r < 1 || r > sindex->indRep()->last() || n < 1) {
    sindex->fail(String("child record ") + toString(long(r)) + " with " + toString(long(n)) +
                 " slots out of range");
    son_->setNumSlots(0);
    nRec_ = -1;
    return -1;
  }
  if (!son_->setNumSlots(n)) {
    nRec_ = -1;
    return -1;
  }
  nRec_ = r;
  return r;
}

CacheBuffer* IndexNode::unLock() {
  CacheBuffer* cb = cb_;
  if (cb)
    cb->unlock();
  cb_ = nullptr;
  return cb;
}

void IndexNode::markSon() {
  if (!son_->cb_) {
    sindex->fail("child page not held");
    return;
  }
  son_->cb_->mod = true;
  sindex->countWrite();
}

bool IndexNode::find(char const* key) {
  if (!key)
    key = sindex->getKey();
  int32_t n = nSlots_;
  if (n == 0) {
    cSlot_ = 0;
    key_ = slots_;
    if (isLeaf())
      nRec_ = -1;
    return false;
  }
  int32_t lo = 0, hi = n - 1, m = n - 1;
  int32_t c = cmp(key, slotAt(m));
  bool found = c == 0;
  if (!found && c < 0) {
    hi = m - 1;
    while (lo <= hi) {
      m = (lo + hi) / 2;
      c = cmp(key, slotAt(m));
      if (c == 0) {
        found = true;
        break;
      }
      if (c > 0)
        lo = m + 1;
      else
        hi = m - 1;
    }
  }
  if (!found) {
    if (isLeaf()) {
      if (c > 0)
        ++m;
    } else if (c < 0 && m > 0) {
      --m;
    }
  }
  setSlot(m);
  return found;
}

void IndexNode::insSlot(uint16_t i, char const* key, int32_t rec, uint16_t n) {
  char* at = slotAt(i);
  int32_t tail = (nSlots_ - i) * sLen_;
  if (tail > 0)
    std::memmove(at + sLen_, at, size_t(tail));
  setNumSlots(nSlots_ + 1);
  setSlotValues(i, key, rec, n);
}

void IndexNode::delSlot(int32_t i) {
  if (i < 0 || i >= nSlots_)
    return;
  char* at = slotAt(i);
  int32_t tail = (nSlots_ - i - 1) * sLen_;
  if (tail > 0)
    std::memmove(at, at + sLen_, size_t(tail));
  setNumSlots(nSlots_ - 1);
}

bool IndexNode::chgIdent(int32_t& rec) {
  IndexNode* s = son_;
  if (!s->cb_ && !s->get(rec))
    return false;
  char* p;
  int32_t nr = 0;
  CacheBuffer* ncb = sindex->indRep()->add(p, nr, true);
  if (!ncb) {
    sindex->fail("no record for a copied node");
    return false;
  }
  std::memcpy(p, s->slots_, size_t(s->nSlots_) * s->sLen_);
  int64_t off = s->key_ - s->slots_;
  CacheBuffer* ocb = s->unLock();
  if (!ocb || ocb->mod) {
    // A node reached twice, or a marked page of a checkpointed node:
    // the file is damaged; the copy stands and the old page is kept.
    sindex->fail("checkpointed node page already changed");
  } else {
    ocb->free();
    sindex->indRep()->clearMicroCache();
    sindex->indRep()->del(rec);
  }
  s->cb_ = ncb;
  s->slots_ = p;
  s->key_ = off >= 0 && off <= int64_t(s->nSlots_) * s->sLen_ ? p + off : p;
  *s->tStamp_ = StorageEnv::timeStamp;
  sindex->countWrite();
  rec = nr;
  return true;
}

bool IndexNode::settleSon(bool& copied) {
  copied = false;
  if (sonIsNew()) {
    markSon();
    return !sindex->failed();
  }
  copied = true;
  return chgIdent(nRec_);
}

bool IndexNode::splitSon() {
  IndexNode* s = son_;
  int32_t h = s->nSlots_;
  int32_t m = s->cSlot_ < h ? h / 2 : 1;
  if (m < 1 || h < 2) {
    sindex->fail("split of a node with fewer than 2 slots");
    return false;
  }
  char* p;
  int32_t r = 0;
  CacheBuffer* ncb = sindex->indRep()->add(p, r, true);
  if (!ncb) {
    sindex->fail("no record for a split node");
    return false;
  }
  std::memcpy(p, s->slotAt(h - m), size_t(m) * s->sLen_);
  s->setNumSlots(h - m);
  setSlotValues(uint16_t(cSlot_), nullptr, nRec_, uint16_t(h - m));
  insSlot(uint16_t(cSlot_ + 1), p, r, uint16_t(m));
  ncb->unlock();
  sindex->countWrite();
  if (s->cSlot_ >= h - m) {
    int32_t pos = s->cSlot_ - (h - m);
    setSlot(cSlot_ + 1);
    if (!s->get(r))
      return false;
    s->setSlot(pos);
  }
  return !sindex->failed();
}

bool IndexNode::joinSons(int32_t i) {
  IndexNode* s = son_;
  int32_t h = s->nSlots_;
  int32_t d = slotCount(i);
  int32_t nr = slotRec(i);
  int32_t spn = s->slotsPerNode();
  if (h + d > spn)
    return false;
  if (d < 1 || nr < 1 || nr > sindex->indRep()->last()) {
    sindex->fail(String("neighbour record ") + toString(long(nr)) + " with " + toString(long(d)) +
                 " slots out of range");
    return false;
  }
  if (!s->cb_ && !s->get(nRec_))
    return false;
  if (i > cSlot_) {
    char* p;
    CacheBuffer* acb = sindex->indRep()->get(p, nr, true);
    if (!acb || !p) {
      sindex->fail(String("neighbour record ") + toString(long(nr)) + " cannot be read");
      return false;
    }
    std::memcpy(s->slotAt(h), p, size_t(d) * s->sLen_);
    acb->unlock();
    delSlot(cSlot_ + 1);
    sindex->indRep()->del(nr);
  } else {
    std::vector<char> kept(size_t(h) * s->sLen_);
    std::memcpy(kept.data(), s->slots_, kept.size());
    int32_t oldRec = nRec_;
    s->unLock();
    if (!s->get(nr))
      return false;
    std::memcpy(s->slotAt(d), kept.data(), kept.size());
    delSlot(cSlot_);
    --cSlot_;
    key_ = slotAt(cSlot_);
    nRec_ = nr;
    sindex->indRep()->del(oldRec);
  }
  s->setNumSlots(h + d);
  return true;
}

int32_t IndexNode::delKey() {
  int32_t r = son_->delKey();
  if (sindex->failed())
    return kError;
  bool copied;
  if (r == kSame) {
    if (!settleSon(copied))
      return kError;
    if (!copied)
      return kDone;
    setSlotValues(uint16_t(cSlot_), son_->firstKey(), nRec_, uint16_t(son_->nSlots_));
    return kSame;
  }
  if (r != kChanged)
    return kDone;
  if (son_->nSlots_ == 0) {
    son_->unLock();
    sindex->indRep()->del(nRec_);
    delSlot(cSlot_);
    return kChanged;
  }
  bool joined = false;
  if (cSlot_ > 0)
    joined = joinSons(cSlot_ - 1);
  if (!joined && !sindex->failed() && cSlot_ + 1 < nSlots_)
    joined = joinSons(cSlot_ + 1);
  if (sindex->failed())
    return kError;
  int32_t ans = joined || (cSlot_ == 0 && son_->cSlot_ == 0) ? kChanged : kSame;
  if (!settleSon(copied))
    return kError;
  setSlotValues(uint16_t(cSlot_), son_->firstKey(), nRec_, uint16_t(son_->nSlots_));
  return ans;
}

int32_t IndexNode::numSlots(bool loInc, char* lo, bool hiInc, char* hi) {
  if (son_->isLeaf() && !lo && !hi)
    return slotCount(cSlot_);
  if (!son_->get(nRec_))
    return 0;
  return son_->count(loInc, lo, hiInc, hi);
}

int32_t IndexNode::count(bool loInc, char* lo, bool hiInc, char* hi) {
  if (nSlots_ == 0)
    return 0;
  int32_t first = 0, last = nSlots_ - 1;
  if (lo) {
    find(lo);
    first = cSlot_;
  }
  if (hi) {
    find(hi);
    last = cSlot_;
  }
  if (first > last || sindex->failed())
    return 0;
  if (first == last) {
    setSlot(first);
    return numSlots(loInc, lo, hiInc, hi);
  }
  int32_t sum = 0;
  setSlot(first);
  sum += numSlots(loInc, lo, false, nullptr);
  for (int32_t i = first + 1; i < last && !sindex->failed(); ++i) {
    setSlot(i);
    sum += numSlots(false, nullptr, false, nullptr);
  }
  setSlot(last);
  sum += numSlots(false, nullptr, hiInc, hi);
  return sindex->failed() ? 0 : sum;
}

int32_t IndexNode::verifyNode(uint16_t n, int32_t rec, int32_t level, int32_t& badRec, int32_t& badLevel,
                              int32_t& badSlot, char const* parentKey) {
  badRec = rec;
  badLevel = level;
  badSlot = 0;
  if (!get(rec) || !setNumSlots(n))
    return 5;
  if (parentKey && n > 0 && cmp(parentKey, slotAt(0)) != 0)
    return 1;
  for (int32_t i = 0; i + 1 < n; ++i)
    if (cmp(slotAt(i), slotAt(i + 1)) >= 0) {
      badSlot = i;
      return 2;
    }
  return 0;
}

int32_t IndexNode::verify(uint16_t n, int32_t rec, int32_t level, bool exh, BoolArray* marks, int32_t& badRec,
                          int32_t& badLevel, int32_t& badSlot, int32_t& count, char const* parentKey) {
  if (int32_t r = verifyNode(n, rec, level, badRec, badLevel, badSlot, parentKey); r != 0)
    return r;
  if (!exh)
    return 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t c = slotCount(i);
    int32_t r = slotRec(i);
    if (c < 1 || c > son_->slotsPerNode() || r < 1 || r > sindex->indRep()->last()) {
      sindex->fail(String("child record ") + toString(long(r)) + " with " + toString(long(c)) +
                   " slots out of range");
      badSlot = i;
      return 5;
    }
    int32_t res = son_->verify(uint16_t(c), r, level + 1, exh, marks, badRec, badLevel, badSlot, count, slotAt(i));
    if (res != 0)
      return res;
    if (son_->isLeaf())
      count += c;
  }
  badRec = rec;
  badLevel = level;
  badSlot = 0;
  return 0;
}

void IndexNode::printTree(uint16_t n, int32_t rec, int32_t level) {
  if (!get(rec) || !setNumSlots(n))
    return;
  String indent(long(3 * level), ' ');
  for (int32_t i = 0; i < n && !sindex->failed(); ++i) {
    String k;
    char const* p = slotAt(i);
    sindex->load(k, p);
    int32_t c = slotCount(i);
    int32_t r = slotRec(i);
    report(indent + "Key: " + k + ", # Sons: " + toString(long(c)) + ", Son's recno: " + toString(long(r)));
    if (c < 1 || c > son_->slotsPerNode() || r < 1 || r > sindex->indRep()->last()) {
      sindex->fail(String("child record ") + toString(long(r)) + " out of range");
      return;
    }
    son_->printTree(uint16_t(c), r, level + 1);
  }
}

// ---- LeafNode ---------------------------------------------------------------

void LeafNode::setSlotValues(uint16_t i, char const* key, int32_t rec, uint16_t) {
  char* s = slotAt(i);
  int32_t k = sLen_ - 4;
  if (key && key != s)
    std::memmove(s, key, size_t(k));
  stlong(rec, s + k);
}

int32_t LeafNode::setSlot(int32_t i, char* key) {
  cSlot_ = i;
  key_ = key ? key : slotAt(i);
  nRec_ = i >= 0 && i < nSlots_ ? ldlong(key_ + sLen_ - 4) : -1;
  return nRec_;
}

int32_t LeafNode::goToFirst() { return nSlots_ > 0 ? setSlot(0) : -1; }

int32_t LeafNode::goToLast() { return nSlots_ > 0 ? setSlot(nSlots_ - 1) : -1; }

int32_t LeafNode::next() {
  if (cSlot_ + 1 >= nSlots_)
    return -1;
  return setSlot(cSlot_ + 1);
}

int32_t LeafNode::prev() {
  if (cSlot_ < 1 || nSlots_ == 0)
    return -1;
  return setSlot(std::min(cSlot_, nSlots_) - 1);
}

int32_t LeafNode::addKey(int32_t rec) {
  if (sindex->nKeys() != 0) {
    if (nSlots_ >= slotsPerNode())
      return kFull;
    if (!cb_) {
      sindex->fail("leaf page not held");
      return kError;
    }
    int32_t at = std::clamp(cSlot_, 0, nSlots_);
    insSlot(uint16_t(at), sindex->getKey(), rec, 0);
    setSlot(at);
    return kChanged;
  }
  char* p;
  int32_t r = 0;
  CacheBuffer* cb = sindex->indRep()->add(p, r, true);
  if (!cb) {
    sindex->fail("no record for the first leaf");
    return kError;
  }
  unLock();
  cb_ = cb;
  slots_ = p;
  *tStamp_ = StorageEnv::timeStamp;
  nSlots_ = 0;
  insSlot(0, sindex->getKey(), rec, 0);
  setSlot(0);
  return r;
}

int32_t LeafNode::delKey() {
  if (!cb_ || cSlot_ < 0 || cSlot_ >= nSlots_) {
    sindex->fail("leaf page not held on deletion");
    return kError;
  }
  delSlot(cSlot_);
  key_ = slotAt(cSlot_);
  nRec_ = cSlot_ < nSlots_ ? ldlong(key_ + sLen_ - 4) : -1;
  return kChanged;
}

int32_t LeafNode::count(bool loInc, char* lo, bool hiInc, char* hi) {
  int32_t first = 0, last = nSlots_ - 1;
  if (lo) {
    bool f = find(lo);
    first = cSlot_ + (f && !loInc ? 1 : 0);
  }
  if (hi) {
    bool f = find(hi);
    last = f && hiInc ? cSlot_ : cSlot_ - 1;
  }
  return std::max(last - first + 1, 0);
}

int32_t LeafNode::verify(uint16_t n, int32_t rec, int32_t level, bool, BoolArray* marks, int32_t& badRec,
                         int32_t& badLevel, int32_t& badSlot, int32_t&, char const* parentKey) {
  if (int32_t r = verifyNode(n, rec, level, badRec, badLevel, badSlot, parentKey); r != 0)
    return r;
  if (marks) {
    int32_t lastRec = sindex->lastTableRec();
    for (int32_t i = 0; i < n; ++i) {
      int32_t r = ldlong(slotAt(i) + sLen_ - 4);
      badSlot = i;
      if (r < 1 || r > lastRec)
        return 4;
      if (!BlockedFile::markRecord(*marks, r))
        return 3;
    }
  }
  badSlot = 0;
  return 0;
}

void LeafNode::printTree(uint16_t n, int32_t rec, int32_t level) {
  if (!get(rec) || !setNumSlots(n))
    return;
  String indent(long(3 * level), ' ');
  for (int32_t i = 0; i < n; ++i) {
    String k;
    char const* p = slotAt(i);
    sindex->load(k, p);
    report(indent + "Key: " + k + ", Data recno: " + toString(long(ldlong(slotAt(i) + sLen_ - 4))));
  }
}

// ---- Walking internal nodes ---------------------------------------------------

int32_t IndexNode::descendTo(int32_t i, bool first) {
  if (i < 0 || i >= nSlots_ || setSlot(i) == -1 || !son_->get(nRec_))
    return -1;
  return first ? son_->goToFirst() : son_->goToLast();
}

int32_t IndexNode::stepSon(bool forward) {
  int32_t r = forward ? son_->next() : son_->prev();
  if (r != -1 || sindex->failed())
    return r;
  return descendTo(forward ? cSlot_ + 1 : cSlot_ - 1, forward);
}

// ---- MiddleNode ---------------------------------------------------------------

int32_t MiddleNode::goToFirst() { return descendTo(0, true); }

int32_t MiddleNode::goToLast() { return descendTo(nSlots_ - 1, false); }

int32_t MiddleNode::next() { return stepSon(true); }

int32_t MiddleNode::prev() { return stepSon(false); }

int32_t MiddleNode::addKey(int32_t rec) {
  bool split = false;
  int32_t r;
  while ((r = son_->addKey(rec)) == kFull) {
    if (nSlots_ >= slotsPerNode())
      return kFull;
    if (!splitSon())
      return kError;
    split = true;
  }
  if (r == kError || sindex->failed())
    return kError;
  if (r == kDone)
    return split ? kChanged : kDone;
  bool copied;
  if (!settleSon(copied))
    return kError;
  if (!copied && r == kSame && !split)
    return kDone;
  setSlotValues(uint16_t(cSlot_), son_->firstKey(), nRec_, uint16_t(son_->nSlots()));
  if (split)
    return kChanged;
  return cSlot_ == 0 && son_->cSlot() == 0 ? kChanged : kSame;
}

// ---- RootNode -----------------------------------------------------------------

RootNode::RootNode(SvIndex* ix, IndexNode* son, uint16_t sLen, int32_t rBegin)
    : IndexNode(ix, son, sLen), nodeSize_(sLen * slotsPerNode()), rBegin_(rBegin) {}

RootNode::~RootNode() {
  flush();
  delete[] arr_;
  arr_ = nullptr;
  slots_ = nullptr;
}

int32_t RootNode::maxSlots() const { return kRootNodes * slotsPerNode(); }

void RootNode::setSlotValues(uint16_t i, char const* key, int32_t rec, uint16_t n) {
  IndexNode::setSlotValues(i, key, rec, n);
  sindex->markModified();
}

bool RootNode::realloc(int32_t n, bool adjust) {
  if (n == 0) {
    delete[] arr_;
    arr_ = nullptr;
    slots_ = nullptr;
    min_ = max_ = 0;
    nSlots_ = 0;
    lastOff_ = -sLen_;
    if (adjust)
      while (sindex->depth() > 2)
        sindex->decDepth();
    return false;
  }
  if (adjust && !loading_) {
    if (n > maxSlots())
      return incDepth();
    if (n <= kRootNodes && decDepth())
      return true;
  }
  if (arr_ && n >= min_ && n <= max_)
    return false;
  int32_t spn = slotsPerNode();
  int32_t pages = (n * sLen_ + nodeSize_ - 1) / nodeSize_;
  max_ = pages * spn;
  min_ = spn * (pages - 1) + 1;
  char* a = new char[size_t(max_) * sLen_ + 1]();
  if (arr_)
    std::memcpy(a, arr_, size_t(std::min(nSlots_, n)) * sLen_);
  int64_t off = arr_ && key_ ? key_ - arr_ : 0;
  delete[] arr_;
  arr_ = a;
  slots_ = a;
  key_ = off >= 0 && off < int64_t(max_) * sLen_ ? a + off : a;
  return false;
}

bool RootNode::get(int32_t) {
  if (arr_)
    return true;
  int32_t n = nSlots_;
  if (n == 0)
    return true;
  if (n > maxSlots()) {
    sindex->fail(String("root slot count ") + toString(long(n)) + " out of range");
    nSlots_ = 0;
    unreadable_ = true;
    return false;
  }
  loading_ = true;
  realloc(n, false);
  loading_ = false;
  int32_t bytes = n * sLen_;
  int32_t per = sindex->indRep()->recordLength() - SvIndRep::kPrefix - kChainLink;
  std::vector<int32_t> seen;
  int32_t rec = rBegin_;
  for (int32_t off = 0; off < bytes;) {
    if (rec < 1 || rec > sindex->indRep()->last() || std::find(seen.begin(), seen.end(), rec) != seen.end()) {
      sindex->fail(String("root chain broken at record ") + toString(long(rec)));
      realloc(0, false);
      unreadable_ = true;
      return false;
    }
    seen.push_back(rec);
    char* p;
    CacheBuffer* cb = sindex->indRep()->get(p, rec, true);
    if (!cb || !p) {
      sindex->fail(String("root chain record ") + toString(long(rec)) + " cannot be read");
      realloc(0, false);
      unreadable_ = true;
      return false;
    }
    int32_t len = std::min(per, bytes - off);
    std::memcpy(arr_ + off, p + kChainLink, size_t(len));
    rec = ldlong(p);
    cb->unlock();
    off += len;
  }
  nSlots_ = n;
  lastOff_ = (n - 1) * sLen_;
  sindex->countRead();
  sindex->clearModified();
  // A root loaded small at depth 3 or more keeps its depth: loading never
  // changes the file, and the next deletion that reaches the root pulls
  // the level below up with every slot in place.
  return !sindex->failed();
}

bool RootNode::write() {
  if (!sindex->inModList())
    return true;
  SvIndRep* rep = sindex->indRep();
  if (sindex->vers() == -1) {
    std::vector<int32_t> seen;
    for (int32_t rec = rBegin_; rec != 0;) {
      if (rec < 1 || rec > rep->last() || std::find(seen.begin(), seen.end(), rec) != seen.end() ||
          int32_t(seen.size()) > kRootNodes * 16384)
        break;  // a damaged old chain is left to the free-list check
      seen.push_back(rec);
      char* p;
      CacheBuffer* cb = rep->get(p, rec, true);
      if (!cb || !p)
        break;
      int32_t nx = ldlong(p);
      cb->unlock();
      rep->del(rec);
      rec = nx;
    }
  }
  rBegin_ = 0;
  if (!arr_ || nSlots_ == 0)
    return true;
  int32_t bytes = nSlots_ * sLen_;
  int32_t per = rep->recordLength() - SvIndRep::kPrefix - kChainLink;
  CacheBuffer* prevCb = nullptr;
  char* prevP = nullptr;
  for (int32_t off = 0; off < bytes;) {
    char* p;
    int32_t r = 0;
    CacheBuffer* cb = rep->add(p, r, true);
    if (!cb) {
      if (prevCb)
        prevCb->unlock();
      sindex->fail("no record for the root chain");
      return false;
    }
    if (!rBegin_)
      rBegin_ = r;
    else {
      stlong(r, prevP);
      prevCb->unlock();
    }
    int32_t len = std::min(per, bytes - off);
    std::memcpy(p + kChainLink, arr_ + off, size_t(len));
    stlong(0, p);
    prevCb = cb;
    prevP = p;
    off += len;
    sindex->countWrite();
  }
  if (prevCb)
    prevCb->unlock();
  return true;
}

bool RootNode::flush() {
  bool ok = write();
  sindex->clearModified();
  return ok;
}

int32_t RootNode::goToFirst() { return get() ? descendTo(0, true) : -1; }

int32_t RootNode::goToLast() { return get() ? descendTo(nSlots_ - 1, false) : -1; }

int32_t RootNode::next() { return stepSon(true); }

int32_t RootNode::prev() { return stepSon(false); }

int32_t RootNode::addKey(int32_t rec) {
  if (nSlots_ == 0) {
    while (sindex->depth() > 2)
      sindex->decDepth();
    realloc(1, false);
    int32_t r = sindex->root()->son()->addKey(rec);
    if (r < 1 || sindex->failed())
      return kError;
    nRec_ = r;
    insSlot(0, son_->firstKey(), r, 1);
    setSlot(0);
    return kDone;
  }
  int32_t r;
  while ((r = son_->addKey(rec)) == kFull) {
    if (realloc(nSlots_ + 1, true)) {
      // The depth changed: find the insertion point again along the new path.
      if (sindex->failed())
        return kError;
      sindex->searchKey();
      continue;
    }
    if (sindex->failed() || !splitSon())
      return kError;
  }
  if (r == kError || sindex->failed())
    return kError;
  if (r == kDone)
    return kDone;
  bool copied;
  if (!settleSon(copied))
    return kError;
  if (copied || r != kSame)
    setSlotValues(uint16_t(cSlot_), son_->firstKey(), nRec_, uint16_t(son_->nSlots()));
  return kDone;
}

int32_t RootNode::delKey() {
  int32_t r = IndexNode::delKey();
  if (r == kChanged) {
    sindex->markModified();
    if (nSlots_ == 0) {
      realloc(0, true);
    } else if (realloc(nSlots_, true)) {
      cSlot_ = 0;
      key_ = slots_;
    }
  }
  return r;
}

bool RootNode::incDepth() {
  int32_t spn = slotsPerNode();
  if (nSlots_ != kRootNodes * spn) {
    sindex->fail("root grows a level with a partial array");
    return false;
  }
  SvIndRep* rep = sindex->indRep();
  int32_t recs[kRootNodes];
  for (int32_t i = 0; i < kRootNodes; ++i) {
    char* p;
    CacheBuffer* cb = rep->add(p, recs[i], true);
    if (!cb) {
      sindex->fail("no record for a new middle node");
      return false;
    }
    std::memcpy(p, slotAt(i * spn), size_t(spn) * sLen_);
    cb->unlock();
    sindex->countWrite();
  }
  std::vector<char> tops(size_t(kRootNodes) * sLen_);
  int32_t k = sLen_ - 6;
  for (int32_t i = 0; i < kRootNodes; ++i) {
    char* s = tops.data() + size_t(i) * sLen_;
    std::memcpy(s, slotAt(i * spn), size_t(k));
    stshort(spn, s + k);
    stlong(recs[i], s + k + 2);
  }
  int32_t old = cSlot_;
  sindex->incDepth();
  std::memcpy(arr_, tops.data(), tops.size());
  nSlots_ = kRootNodes;
  lastOff_ = (kRootNodes - 1) * sLen_;
  realloc(kRootNodes, false);
  setSlot(old / spn);
  if (son_->get(nRec_))
    son_->setSlot(old % spn);
  sindex->markModified();
  return true;
}

bool RootNode::decDepth() {
  if (sindex->depth() < 3)
    return false;
  SvIndRep* rep = sindex->indRep();
  int32_t spn = slotsPerNode();
  son_->unLock();
  std::vector<char> all;
  std::vector<int32_t> recs;
  for (int32_t i = 0; i < nSlots_; ++i) {
    int32_t c = slotCount(i);
    int32_t r = slotRec(i);
    char* p;
    CacheBuffer* cb = nullptr;
    if (c >= 1 && c <= spn && r >= 1 && r <= rep->last())
      cb = rep->get(p, r, true);
    if (!cb || !p) {
      sindex->fail(String("child record ") + toString(long(r)) + " with " + toString(long(c)) +
                   " slots out of range");
      return false;
    }
    all.insert(all.end(), p, p + size_t(c) * sLen_);
    cb->unlock();
    recs.push_back(r);
  }
  int32_t total = int32_t(all.size() / sLen_);
  if (total > maxSlots()) {
    sindex->fail("root children hold more slots than a root may");
    return false;
  }
  sindex->decDepth();
  for (int32_t r : recs)
    rep->del(r);
  delete[] arr_;
  arr_ = nullptr;
  nSlots_ = 0;
  if (total == 0) {
    realloc(0, false);
  } else {
    realloc(total, false);
    std::memcpy(arr_, all.data(), all.size());
  }
  nSlots_ = total;
  lastOff_ = (total - 1) * sLen_;
  cSlot_ = 0;
  key_ = slots_;
  sindex->markModified();
  return true;
}
