// Open indexes: the node path, key building and transfer, search in every
// mode, maintenance with its undo, the modified list and header writes,
// verification and listings. See SvIndex.h for the states.
#include <sindex/SvIndex.h>

#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>

#include <zfound/BoolArray.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/Portable.h>

#include <algorithm>
#include <cstring>

using svstore::StorageEnv;

SvIndex* SvIndex::modList_ = nullptr;

namespace {

// Flags an exhaustive verification starts with; more come as records are met.
constexpr long kFirstMarks = 1L << 16;

void report(String const& text) { warning(String("%S"), &text); }

}  // namespace

SvIndex::SvIndex(SvIndRep* rep, svstore::IndexTable* table, int32_t version)
    : rep_(rep), table_(table), version_(version) {
  temporary_ = rep->isTemp();
  ++rep_->nOpen;
  if (version == -1)
    rep_->current = this;
  int32_t d = rep_->rDepth(version);
  if (d < 2 || d > kMaxDepth) {
    StorageEnv::exception(InvalidData(String("index ") + rep_->qualifiedName() + " has a stored depth of " +
                                      toString(long(d))));
    ok_ = false;
    d = 2;
  }
  depth_ = d;
  if (rep_->length() != 0 || rep_->nFields() != 0)
    reBuildNodes();
  if (root_ && root_->nSlots() > root_->maxSlots()) {
    StorageEnv::exception(InvalidData(String("index ") + rep_->qualifiedName() + " has a stored root of " +
                                      toString(long(root_->nSlots())) + " slots"));
    root_->setCount(0);
    root_->setUnreadable();
    ok_ = false;
  }
  if (table_)
    table_->addIndex(this);
}

SvIndex::~SvIndex() {
  removeFromModList();
  destroyNodes();
  if (table_)
    table_->delIndex(this);
  if (rep_->current == this)
    rep_->current = nullptr;
  if (--rep_->nOpen == 0 && (temporary_ || version_ == -1))
    delete rep_;
}

String SvIndex::objType() {
  String s = "SvIndex";
  if (version_ != -1)
    s += String(" - version ") + toString(long(version_));
  return s;
}

void SvIndex::getMethInfo(String& s, int64_t* schemaHits, int64_t* schemaTries) {
  if (schemaHits)
    *schemaHits += rep_->nObjHits() - shownHits_;
  if (schemaTries)
    *schemaTries += rep_->nObjTries() - shownTries_;
  shownHits_ = rep_->nObjHits();
  shownTries_ = rep_->nObjTries();
  String head = name() + "(" + objType() + ")" + " Related Table: " + (table_ ? table_->tableName() : String(""));
  head.center(50);
  s = head + "\t\t";
  for (int i = 0; i < 6; ++i)
    s += String("\t") + String(12L, '-');
  if (StorageEnv::profiling_sd) {
    int64_t values[2] = {rep_->nObjReads() - shownReads_, rep_->nObjWrites() - shownWrites_};
    shownReads_ = rep_->nObjReads();
    shownWrites_ = rep_->nObjWrites();
    for (int64_t v : values) {
      String col = toString(long(v));
      col.center(12);
      s += String("\t") + col;
    }
  }
  s += "\n";
}

// ---- path ---------------------------------------------------------------------

void SvIndex::destroyNodes() {
  IndexNode* below = root_ ? root_->son() : nullptr;
  delete root_;  // writes the root chain first when it is on the list
  root_ = nullptr;
  while (below) {
    IndexNode* n = below->son();
    delete below;
    below = n;
  }
  leaf_ = nullptr;
  delete[] key_;
  key_ = nullptr;
  posState_ = 0;
}

bool SvIndex::setLength(int32_t l) {
  if (!rep_->setLength(l))
    return false;
  reBuildNodes();
  return true;
}

void SvIndex::reBuildNodes() {
  updateHeader();
  destroyNodes();
  keyLen_ = rep_->length() + (rep_->isDup() ? 4 : 0);
  key_ = new char[size_t(keyLen_) + 4]();
  posKey_.assign(size_t(keyLen_) + 4, 0);
  posState_ = 0;
  leaf_ = new LeafNode(this, uint16_t(rep_->length() + 4));
  IndexNode* top = leaf_;
  for (int32_t i = 0; i < depth_ - 2; ++i)
    top = new MiddleNode(this, top, uint16_t(keyLen_ + 6));
  root_ = new RootNode(this, top, uint16_t(keyLen_ + 6), rep_->rBegin(version_));
  int32_t n = rep_->rSlots(version_);
  root_->setCount(n <= root_->maxSlots() ? n : 0);
  if (n > root_->maxSlots()) {
    fail(String("root slot count ") + toString(long(n)) + " out of range");
    root_->setUnreadable();
  }
}

bool SvIndex::incDepth() {
  if (!root_ || depth_ >= kMaxDepth) {
    fail("index too deep");
    return false;
  }
  root_->setSon(new MiddleNode(this, root_->son(), uint16_t(keyLen_ + 6)));
  ++depth_;
  return true;
}

bool SvIndex::decDepth() {
  if (depth_ < 3 || !root_)
    return false;
  IndexNode* m = root_->son();
  root_->setSon(m->son());
  m->setSon(nullptr);
  delete m;
  --depth_;
  return true;
}

void SvIndex::fail(String const& what) {
  if (!failed_)
    failure_ = what;
  if (!failed_)
    StorageEnv::exception(InvalidData(String("damaged index ") + rep_->qualifiedName() + ": " + what));
  failed_ = true;
}

void SvIndex::unLock() {
  if (!root_)
    return;
  // The position is saved only while the leaf still holds its page: once
  // let go, its slots point into a cache page that may since have been
  // reused or freed (a cache resize frees every unpinned page), and the
  // position saved when it was let go stands.
  if (leaf_ && leaf_->held()) {
    posState_ = 0;
    if (leaf_->nSlots() > 0 && leaf_->slots() && !failed_) {
      int32_t c = leaf_->cSlot();
      int32_t at = std::min(c, leaf_->nSlots() - 1);
      if (c >= 0) {
        std::memcpy(posKey_.data(), leaf_->slotAt(at), size_t(keyLen_));
        posState_ = c > at ? 2 : 1;
      }
    }
  }
  for (IndexNode* n = root_; n; n = n->son())
    n->unLock();
}

bool SvIndex::descend(char const* key) {
  if (!root_ || !root_->get() || nKeys() == 0)
    return false;
  bool found = root_->find(key);
  IndexNode* up = root_;
  for (IndexNode* s = root_->son(); s && !failed_; s = s->son()) {
    if (!s->get(up->nRec()))
      return false;
    found = s->find(key);
    up = s;
  }
  return found && !failed_;
}

// ---- search -------------------------------------------------------------------

int32_t SvIndex::nKeys() const { return root_ ? root_->nSlots() : 0; }

int32_t SvIndex::searchKey() {
  if (nKeys() == 0)
    return -1;
  posState_ = 0;
  bool found = descend(key_);
  return found ? leaf_->nRec() : -1;
}

int32_t SvIndex::next() {
  if (nKeys() == 0)
    return -1;
  if (!leaf_->held()) {
    if (posState_ == 0)
      return -1;
    std::vector<char> k(posKey_);
    posState_ = 0;
    bool found = descend(k.data());
    if (failed_)
      return -1;
    if (!found)
      return leaf_->cSlot() < leaf_->nSlots() ? leaf_->nRec() : root_->next();
  }
  return root_->next();
}

int32_t SvIndex::prev() {
  if (nKeys() == 0)
    return -1;
  if (!leaf_->held()) {
    if (posState_ == 0)
      return -1;
    std::vector<char> k(posKey_);
    bool wasPast = posState_ == 2;
    posState_ = 0;
    bool found = descend(k.data());
    if (failed_)
      return -1;
    if (found && wasPast)
      return leaf_->nRec();
  }
  return root_->prev();
}

int32_t SvIndex::skipHidden(Client* c, int32_t rec, bool forward) {
  while (rec != -1 && !failed_ && table_ && table_->isDeferredDel(c, rec))
    rec = forward ? root_->next() : root_->prev();
  return failed_ ? -1 : rec;
}

int32_t SvIndex::realNext(Client* c) { return skipHidden(c, next(), true); }

int32_t SvIndex::realPrev(Client* c) { return skipHidden(c, prev(), false); }

char* SvIndex::currentKey() { return leaf_ ? leaf_->key() : nullptr; }

int32_t SvIndex::findKey(Client* c, int32_t mode) {
  failed_ = false;
  if (nKeys() == 0)
    return -1;
  posState_ = 0;
  int32_t r;
  if (mode & kFirst) {
    r = skipHidden(c, root_->goToFirst(), true);
  } else if (mode & kLast) {
    r = skipHidden(c, root_->goToLast(), false);
  } else {
    bool found = descend(key_);
    if (failed_)
      return -1;
    r = leaf_->nRec();
    if (mode & kExact) {
      if (!found && isDup()) {
        if (leaf_->cSlot() >= leaf_->nSlots())
          r = root_->next();
        found = r != -1 && std::memcmp(leaf_->key(), key_, size_t(rep_->length())) == 0;
      }
      if (found && !(table_ && table_->isDeferredDel(c, r)))
        return r;
    }
    if (mode & kNext) {
      if (found || leaf_->cSlot() >= leaf_->nSlots())
        r = root_->next();
      else
        r = leaf_->nRec();
      r = skipHidden(c, r, true);
    } else if (mode & kPrev) {
      r = skipHidden(c, root_->prev(), false);
    } else {
      r = -1;
    }
    if ((mode & kPartial) && rep_->nParts != 0 && r != -1) {
      if (rep_->nParts < 0 || rep_->nParts > rep_->nFields()) {
        warning(appMsg("IOILLEGALNPARTS"));
        return -1;
      }
      if (rep_->cmpKeys(leaf_->key(), key_, rep_->nParts) != 0)
        return -1;
    }
  }
  if (failed_)
    return -1;
  if (r != -1 && r <= 0) {
    fail(String("record number ") + toString(long(r)) + " in a leaf");
    return -1;
  }
  return r;
}

int32_t SvIndex::count(bool loInc, char* lo, bool hiInc, char* hi) {
  failed_ = false;
  if (nKeys() == 0 || !root_->get())
    return 0;
  posState_ = 0;
  int32_t n = root_->count(loInc, lo, hiInc, hi);
  return failed_ ? 0 : n;
}

int32_t SvIndex::cmpCurrKeyTo(char const* key, int32_t n) { return rep_->cmpKeys(leaf_->key(), key, n); }

void SvIndex::empty(Client* c) {
  removeFromModList();
  IndexNode* below = root_ ? root_->son() : nullptr;
  if (root_)
    root_->setCount(0);
  delete root_;
  root_ = nullptr;
  while (below) {
    IndexNode* n = below->son();
    delete below;
    below = n;
  }
  leaf_ = new LeafNode(this, uint16_t(rep_->length() + 4));
  root_ = new RootNode(this, leaf_, uint16_t(keyLen_ + 6), 0);
  root_->setCount(0);
  depth_ = 2;
  markModified();
  rep_->empty(c);
}

// ---- keys ---------------------------------------------------------------------

void SvIndex::buildKey(char const* record, int32_t recno) {
  char* p = key_;
  SvTable* t = table_ ? table_->table() : nullptr;
  for (int32_t i = 0; i < rep_->nFields(); ++i)
    rep_->iField(i)->store(t, p, record);
  if (isDup())
    stlong(recno, key_ + rep_->length());
}

void SvIndex::setKey(char const* key) { std::memcpy(key_, key, size_t(keyLen_)); }

void SvIndex::setRecno(int32_t recno) {
  if (isDup())
    stlong(recno, key_ + rep_->length());
}

bool SvIndex::receiveKey(char* buf, bool withRec) {
  char* p = buf ? buf : key_;
  char* start = p;
  if (!con) {
    StorageEnv::exception(InvalidData("no client connection for a key"));
    return false;
  }
  for (int32_t i = 0; i < rep_->nFields(); ++i) {
    char* before = p;
    if (!rep_->iField(i)->receive(con, p) || con->bad()) {
      StorageEnv::exception(InvalidData(String("bad key received for index ") + rep_->qualifiedName()));
      return false;
    }
    p = before + rep_->iField(i)->length();
  }
  if (isDup()) {
    int32_t rec = 0;
    if (withRec) {
      *con >> rec;
      if (con->bad() || rec < 0) {
        StorageEnv::exception(InvalidData(String("bad record number ") + toString(long(rec)) +
                                          " in a key for index " + rep_->qualifiedName()));
        return false;
      }
    }
    stlong(rec, start + rep_->length());
  }
  return true;
}

void SvIndex::sendKey(char* buf) {
  char* p = buf ? buf : key_;
  if (!con)
    return;
  for (int32_t i = 0; i < rep_->nFields(); ++i) {
    char* before = p;
    rep_->iField(i)->send(con, p);
    p = before + rep_->iField(i)->length();
  }
}

bool SvIndex::differ(char const* a, char const* b) {
  SvTable* t = table_ ? table_->table() : nullptr;
  for (int32_t i = 0; i < rep_->nFields(); ++i)
    if (rep_->iField(i)->differ(t, a, b))
      return true;
  return false;
}

bool SvIndex::indepChanged(char const* a, char const* b) {
  rep_->indepChanged_ = isIndep() && differ(a, b);
  return rep_->indepChanged_;
}

void SvIndex::delField(SvIndFld* f) {
  if (f && f->field())
    f->field()->unuseIndex(number());
  rep_->removeField(f);
}

// ---- maintenance ------------------------------------------------------------------

bool SvIndex::addCurrent(int32_t recno) {
  if (!root_)
    return false;
  if (root_->unreadable()) {
    // It only looks empty: a new tree would replace the stored one.
    fail("root not readable; the index must be emptied and rebuilt");
    return false;
  }
  int32_t r = root_->addKey(recno);
  if (r == IndexNode::kError || failed_)
    return false;
  markModified();
  return true;
}

bool SvIndex::delCurrent() {
  if (!root_ || nKeys() == 0)
    return false;
  int32_t r = root_->delKey();
  if (r == IndexNode::kError || failed_)
    return false;
  markModified();
  // Leave a whole path: position again on the key just removed.
  if (nKeys() > 0)
    descend(key_);
  return !failed_;
}

bool SvIndex::addKey(Client* c, int32_t recno, bool unique) {
  failed_ = false;
  rep_->prevRec = -1;
  rep_->addedRec = -1;
  if (!root_)
    return false;
  if (temporary_ && !isPublic()) {
    SV_ASSERT(c != nullptr, "cl != (0)");
    if (c != creator())
      return true;
  }
  if (hasNotNull()) {
    char const* p = key_;
    for (int32_t i = 0; i < rep_->nFields(); ++i) {
      SvIndFld* f = rep_->iField(i);
      if (f->notNull() && f->isNull(p))
        return true;
      p += f->length();
    }
  }
  int32_t r = searchKey();
  if (failed_)
    return false;
  if (unique && r != -1) {
    bool mine = table_ ? table_->delByMe(c, r) : StorageEnv::restarting;
    if (!mine) {
      String text;
      char const* p = key_;
      rep_->load(text, p);
      StorageEnv::exception(DuplicatedKey(rep_->qualifiedName(), text));
      unLock();
      return false;
    }
    rep_->prevRec = r;
    if (r == recno) {
      unLock();
      return true;
    }
    if (!delCurrent())
      return false;
    searchKey();
    if (failed_)
      return false;
  }
  bool ok = addCurrent(recno);
  if (ok)
    rep_->addedRec = recno;
  unLock();
  return ok;
}

bool SvIndex::delKey(int32_t recno) {
  failed_ = false;
  int32_t r = searchKey();
  if (r == -1 || (recno != -1 && r != recno)) {
    unLock();
    return false;
  }
  bool ok = delCurrent();
  unLock();
  return ok;
}

bool SvIndex::update(Client* c, char const* oldRec, char const* newRec, int32_t newNo, int32_t oldNo) {
  rep_->modifByUpdate = newNo != oldNo;
  if (newNo == oldNo) {
    SV_ASSERT(!rep_->indepChanged_, "!r->indepChanged_");
    rep_->modifByUpdate = differ(oldRec, newRec);
    if (!rep_->modifByUpdate)
      return true;
  }
  bool ret;
  if (rep_->indepChanged_) {
    buildKey(newRec, newNo);
    ret = addKey(c, newNo, true);
  } else {
    buildKey(oldRec, oldNo);
    delKey(oldNo);
    buildKey(newRec, newNo);
    ret = addKey(c, newNo, true);
    if (!ret && !failed_) {
      int32_t took = rep_->prevRec;
      buildKey(oldRec, oldNo);
      if (!addKey(c, oldNo, true))
        fail("the old entry of a refused update could not be put back");
      rep_->prevRec = took;
    }
  }
  unLock();
  return ret;
}

void SvIndex::reverseAdd(char const* record, int32_t recno) {
  int32_t taken = rep_->prevRec;
  if (taken == recno || rep_->addedRec != recno) {
    rep_->prevRec = -1;
    return;
  }
  buildKey(record, recno);
  delKey(recno);
  if (taken != -1) {
    searchKey();
    if (!failed_)
      addCurrent(taken);
  }
  rep_->prevRec = -1;
  rep_->addedRec = -1;
  unLock();
}

void SvIndex::reverseUpdate(Client* c, char const* oldRec, char const* newRec, int32_t newNo, int32_t oldNo) {
  if (!rep_->indepChanged_ && !rep_->modifByUpdate)
    return;
  if (rep_->indepChanged_ && !rep_->modifByUpdate)
    return;
  reverseAdd(newRec, newNo);
  if (!rep_->indepChanged_) {
    buildKey(oldRec, oldNo);
    addKey(c, oldNo, true);
    SV_WARN_ASSERT(rep_->prevRec == -1, "r->prevRec == (-1)");
    unLock();
  }
}

// ---- modified list and headers ---------------------------------------------------------

void SvIndex::markModified() {
  if (!inList_) {
    nextMod_ = modList_;
    modList_ = this;
    inList_ = true;
  }
  lastMod_ = StorageEnv::timeStamp.time();
}

bool SvIndex::removeFromModList() {
  if (!inList_)
    return false;
  for (SvIndex** p = &modList_; *p; p = &(*p)->nextMod_)
    if (*p == this) {
      *p = nextMod_;
      break;
    }
  nextMod_ = nullptr;
  inList_ = false;
  lastMod_ = Time();
  return true;
}

void SvIndex::clearModified() { removeFromModList(); }

bool SvIndex::updateHeader() {
  if (!inList_ || !root_)
    return true;
  bool ok = root_->flush();
  rep_->updateHeader(uint16_t(depth_), uint16_t(root_->nSlots()), root_->getRecBegin());
  clearModified();
  return ok;
}

int32_t SvIndex::updateAllHeaders(Time const& t) {
  int32_t n = 0;
  for (SvIndex* ix = modList_; ix;) {
    SvIndex* nx = ix->nextMod_;
    if (t.isNull() || !(ix->lastMod_ > t)) {
      ix->updateHeader();
      ++n;
    }
    ix = nx;
  }
  return n;
}

bool SvIndex::flush(bool release) {
  updateHeader();
  unLock();
  bool ok = rep_->BlockedFile::flush(release);
  rep_->writeHeader(false);
  return ok;
}

bool SvIndex::newVers(int32_t v) {
  updateHeader();
  return rep_->newVers(v);
}

bool SvIndex::chgPhName(String const& file) {
  flush(true);
  bool ok = rep_->chgPhName(file);
  int32_t d = rep_->rDepth(version_);
  depth_ = d >= 2 && d <= kMaxDepth ? d : 2;
  if (root_)
    root_->setCount(0);
  reBuildNodes();
  return ok;
}

// ---- verification and listings ---------------------------------------------------------

bool SvIndex::verify(bool exhaustive) {
  failed_ = false;
  SV_ASSERT(root_ != nullptr, "root != (0)");
  if (nKeys() == 0)
    return true;
  String head = String("Inconsistency in index '") + qualifiedName() + "'\n";
  String tail = String(".  nMethods ") + toString(long(StorageEnv::nMeth)) + ".\n";
  if (!root_->get()) {
    report(head + "Damaged index: " + failure_ + tail);
    unLock();
    return false;
  }
  BoolArray* marks = nullptr;
  if (exhaustive) {
    // Sized by the records met, never by the table header's last record
    // alone: a damaged header does not make the check allocate.
    marks = new BoolArray(std::min(long(lastTableRec()) + 1, kFirstMarks));
    report(String("Exhaustively verifying index '") + qualifiedName() + "'...");
  }
  int32_t badRec = 0, badLevel = 0, badSlot = 0, keys = 0;
  int32_t code = root_->verify(uint16_t(root_->nSlots()), 0, 0, exhaustive, marks, badRec, badLevel, badSlot,
                               keys, nullptr);
  bool reported = false;
  String where = String("recno ") + toString(long(badRec)) + ", level " + toString(long(badLevel)) + ", slot " +
                 toString(long(badSlot));
  switch (code) {
  case 0:
    if (exhaustive) {
      int32_t f = rep_->tableRep()->verifyFree(marks);
      if (f) {
        report(head + "Found free table recno " + toString(long(f)) + tail);
        reported = true;
      }
    }
    break;
  case 1: report(head + "Inter-level disordered: " + where + tail); reported = true; break;
  case 2: report(head + "Level disordered: " + where + tail); reported = true; break;
  case 3: report(head + "Record duplicated: " + where + tail); reported = true; break;
  case 4: report(head + "Record out of range: " + where + tail); reported = true; break;
  case 5:
    report(head + "Damaged node (" + failure_ + "): " + where + tail);
    reported = true;
    break;
  default: report(head + "UNKNOWN: " + where + tail); reported = true; break;
  }
  if (code == 0 && !exhaustive)
    keys = count(false, nullptr, false, nullptr);
  if (code == 0 && !failed_ && version_ == -1) {
    int32_t t = rep_->tableRep()->nRecords();
    int32_t d = rep_->tableRep()->nDefDels();
    bool full = !temporary_ && !hasNotNull();
    bool pass = keys <= t && (!full || keys == t);
    if (!pass) {
      String cnt = String("Count: table says ") + toString(long(t)) + ", index says " + toString(long(keys));
      if (d <= 0) {
        report(head + cnt + tail);
        reported = true;
      } else if (keys > t) {
        report(head + cnt + ", defdels: " + toString(long(d)) + tail);
        reported = true;
      }
    }
  }
  delete marks;
  bool result = !reported;
  if (result)
    result = rep_->BlockedFile::verify(exhaustive);
  unLock();
  return result;
}

void SvIndex::printTree() {
  failed_ = false;
  if (!root_)
    return;
  String h = String("Tree for index '") + qualifiedName() + "'";
  if (version_ != -1)
    h += String("[") + toString(long(version_)) + "]";
  h += String(" (depth: ") + toString(long(depth_)) + ", root slots: " + toString(long(nKeys())) +
       ", root recno: " + toString(long(root_->getRecBegin())) + ")";
  report(h);
  String f = "Fields: (";
  for (int32_t i = 0; i < rep_->nFields(); ++i) {
    if (i)
      f += ", ";
    SvIndFld* p = rep_->iField(i);
    f += p->field() ? p->field()->fieldName() : String("OID");
  }
  report(f + ")");
  if (nKeys() > 0 && root_->get())
    root_->printTree(uint16_t(nKeys()), 0, 0);
  unLock();
}

void SvIndex::list() const {
  int32_t level = 0;
  for (IndexNode* n = root_; n; n = n->son(), ++level)
    report(String("Level: ") + toString(long(level)) + ", cslot: " + toString(long(n->cSlot())) +
           ", nslots: " + toString(long(n->nSlots())));
}

void SvIndex::listContents() const { report(String("Index '") + qualifiedName() + "'"); }
