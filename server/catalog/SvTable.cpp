// SvTable: a table attachment: record buffer, open indexes, statistics,
// diagnostics and the record primitives.
#include <svcatalog/SvTable.h>

#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>
#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvField.h>
#include <svcatalog/TableEnv.h>
#include <svcatalog/TableSchema.h>
#include <svobject/Client.h>
#include <zfound/AnyValue.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/Portable.h>

#include <algorithm>
#include <cstring>

using svcatalog::TableEnv;
using svstore::StorageEnv;

namespace {

constexpr int32_t kStatTypes = 8;

void say(String const& line) { warning(String("%S"), &line); }

}  // namespace

// ---- construction ---------------------------------------------------------------------------

SvTable::SvTable(SvTabRep* rep, int32_t version) : rep_(rep), version_(version) {
  SV_ASSERT(rep != nullptr, "rep != (0)");
  temporary_ = rep->isTemp();
  indexes_.reserve(8);
  resizeBuffer();
  for (int32_t i = 0; i < rep->nIndexSlots(); ++i) {
    SvIndRep* d = rep->index(i);
    if (d != nullptr && !d->name().isNull())
      new SvIndex(d, this, version);  // it adds itself through addIndex
  }
  rep->addTable(this);
  if (StorageEnv::profiling_sd) {
    for (int32_t t = 1; t <= kStatTypes; ++t) {
      auto st = std::make_unique<GServObjStats>();
      st->statType(GServObjStats::sttype(t));
      getSObjs().push_back(std::move(st));
    }
  }
}

SvTable::~SvTable() {
  bool owns = ownsRep_ && (version_ == -1 || rep_->isTemp());
  // The older versions' attachments go first: they use the fields and
  // index definitions that the representation is about to destroy.
  if (owns)
    rep_->destroyOlderAttachments();
  std::vector<SvIndex*> open = indexes_;
  for (SvIndex* ix : open) {
    if (ix == nullptr)
      continue;
    if (ix->isTemporary() && ix->creator() != nullptr && TableEnv::objects != nullptr)
      TableEnv::objects->delObject(ix->creator(), ix);
    else
      delete ix;
  }
  indexes_.clear();
  rep_->delTable(this);
  if (owns)
    delete rep_;
}

void SvTable::resizeBuffer() {
  int32_t n = rep_->recordLength();
  buffer_.assign(size_t(n > 0 ? n : 0), 0);
}

String SvTable::objType() {
  String s = "SvTable";
  if (version_ != -1)
    s += String(" - version ") + toString(long(version_));
  return s;
}

// ---- indexes --------------------------------------------------------------------------------

SvIndex* SvTable::index(int32_t n) const {
  return n >= 0 && n < nIndexSlots() ? indexes_[size_t(n)] : nullptr;
}

SvIndex* SvTable::index(String const& name) const {
  for (SvIndex* ix : indexes_)
    if (ix != nullptr && !ix->name().isNull() && cmp(ix->name(), name) == 0)
      return ix;
  return nullptr;
}

int32_t SvTable::nIndex(SvIndex const* ix) const { return ix ? rep_->indexNumber(ix->indRep()) : -1; }

int32_t SvTable::nIndices() const {
  int32_t n = 0;
  for (SvIndex const* ix : indexes_)
    if (ix != nullptr && !ix->isTemporary())
      ++n;
  return n;
}

void SvTable::addIndex(SvIndex* ix) {
  if (ix == nullptr || std::find(indexes_.begin(), indexes_.end(), ix) != indexes_.end())
    return;
  rep_->addIndexRep(ix->indRep());
  int32_t n = rep_->indexNumber(ix->indRep());
  if (n < 0)
    return;
  if (nIndexSlots() <= n)
    indexes_.resize(size_t(n) + 1, nullptr);
  indexes_[size_t(n)] = ix;
}

void SvTable::delIndex(SvIndex* ix) {
  for (SvIndex*& x : indexes_)
    if (x == ix)
      x = nullptr;
}

// ---- record image ---------------------------------------------------------------------------

uint32_t SvTable::recInstId() const { return buffer_.empty() ? 0u : SvTabRep::recInstId(buffer()); }

void SvTable::setRecInstId(uint32_t id) {
  if (!buffer_.empty())
    stlong(int32_t(id), buffer() + SvTabRep::kInstIdAt);
}

TimeStamp SvTable::mTimeStamp(char const* image) const {
  char const* p = (image ? image : buffer()) + SvTabRep::kMStampAt;
  TimeStamp ts;
  ts.load(p);
  return ts;
}

void SvTable::setMTimeStamp(TimeStamp const& ts) {
  char* p = buffer() + SvTabRep::kMStampAt;
  ts.store(p);
}

TimeStamp SvTable::cTimeStamp(char const* image) const {
  SV_ASSERT(hasCreationStamp(), "hasCreationStamp()");
  char const* p = (image ? image : buffer()) + SvTabRep::kCStampAt;
  TimeStamp ts;
  ts.load(p);
  return ts;
}

void SvTable::setCTimeStamp(TimeStamp const& ts) {
  SV_ASSERT(hasCreationStamp(), "hasCreationStamp()");
  char* p = buffer() + SvTabRep::kCStampAt;
  ts.store(p);
}

bool SvTable::fillBuffer(int32_t recno) { return !buffer_.empty() && rep_->fill(buffer(), recno); }

void SvTable::initRecord(char* image) {
  for (int32_t i = 0; i < nFields(); ++i) {
    SvField* f = field(i);
    // A virtual field has no bytes to hold a value.
    if (f->isVirtual())
      continue;
    String v;
    if (f->deflt() != nullptr) {
      f->deflt()->setInfo(rep_, i, image);
      v = toString(f->deflt()->eval());
    }
    for (int32_t e = 0; e < f->dim(); ++e) {
      char* p = image + f->tableOffset() + e * f->ilength(true);
      f->store(p, v, true, -1);
    }
  }
}

int32_t SvTable::readThis(Client* c) {
  SvIndex* ix = index(0);
  if (ix == nullptr || buffer_.empty())
    return -1;
  ix->buildKey(buffer(), 0);
  int32_t rec = ix->findKey(c, SvIndex::kExact);
  ix->unLock();
  if (rec == -1)
    return -1;
  return fillBuffer(rec) ? rec : -1;
}

void SvTable::setRecLength(int32_t length) {
  rep_->setRecLength(length);
  // Every attachment's buffer follows the new length, not only this one's.
  for (SvTable* t : rep_->attachments())
    t->resizeBuffer();
  resizeBuffer();
}

bool SvTable::updateRecLength(Client* c, int32_t length) {
  svcatalog::TableSchema* s = schema();
  if (s != nullptr && s->classFile() != nullptr && !isTemp()) {
    svcatalog::TableRow row;
    row.name = rep_->name();
    row.file = rep_->phName();
    row.descr = rep_->descr();
    row.flags = rep_->flags();
    row.recLength = length;
    row.size = rep_->size();
    row.expr = rep_->expr() ? rep_->expr()->getExpr() : String("");
    if (!s->updateTableRow(c, rep_, row))
      return false;
  }
  if (rep_->length() != length || int32_t(buffer_.size()) != rep_->recordLength())
    setRecLength(length);
  return true;
}

// ---- privileges -----------------------------------------------------------------------------

bool SvTable::allowed(Client* c, int32_t priv) const {
  if ((priv & (kPrivAdd | kPrivDel | kPrivUpdate)) != 0 && version_ != -1)
    return false;
  // A catalog table changes only through the structure requests: a client's
  // record change there is refused to everyone.
  if ((priv & (kPrivAdd | kPrivDel | kPrivUpdate)) != 0 && structTab() && c != nullptr)
    return false;
  int32_t uid = c ? c->uid() : 0;
  int32_t gid = c ? c->gid() : 0;
  int32_t owner = schema() ? schema()->owner() : -1;
  if (uid == 0 || uid == owner)
    return true;
  return privileges().allowed(owner, uid, gid, priv);
}

// ---- maintenance ----------------------------------------------------------------------------

bool SvTable::flush(bool release) {
  bool ok = true;
  for (SvIndex* ix : indexes_)
    if (ix != nullptr && !ix->flush(release))
      ok = false;
  return rep_->BlockedFile::flush(release) && ok;
}

bool SvTable::newVers() {
  bool ok = true;
  for (SvIndex* ix : indexes_)
    if (ix != nullptr && !ix->isTemporary() && !ix->newVers(-1))
      ok = false;
  return ok;
}

bool SvTable::verify(bool check) {
  bool ok = true;
  for (SvIndex* ix : indexes_)
    if (ix != nullptr && !ix->isTemporary() && !ix->verify(check))
      ok = false;
  return ok;
}

void SvTable::emptyStructure() {
  std::vector<SvIndex*> open = indexes_;
  for (SvIndex* ix : open)
    delete ix;
  indexes_.clear();
  rep_->emptyStructure();
}

void SvTable::unlink() {
  rep_->BlockedFile::unlink(rep_->schemaName());
  for (int32_t i = 0; i < rep_->nIndexSlots(); ++i)
    if (SvIndRep* r = rep_->index(i))
      r->unlink();
}

// ---- statistics -----------------------------------------------------------------------------

void SvTable::countFetch(int32_t records) {
  if (!StorageEnv::profiling_sd)
    return;
  for (auto& st : getSObjs())
    if (st->statType() == GServObjStats::kFetch) {
      st->nTimes(1);
      st->extraInfo(records);
      return;
    }
}

void SvTable::profile(int32_t type) {
  if (!StorageEnv::profiling_sd)
    return;
  for (auto& st : getSObjs()) {
    int32_t t = st->statType();
    if (t == type && t >= 1 && t <= 6)
      st->nTimes(1);
    if (t == GServObjStats::kRead) {
      st->resetNTimes();
      st->nTimes(int32_t(nReads()));
    }
    if (t == GServObjStats::kWrite) {
      st->resetNTimes();
      st->nTimes(int32_t(nWrites()));
    }
  }
}

void SvTable::getMethInfo(String& s) { getMethInfo(s, nullptr, nullptr); }

void SvTable::getMethInfo(String& s, int64_t* schemaHits, int64_t* schemaTries) {
  // Only what happened since the last line reaches the schema's totals.
  if (schemaHits)
    *schemaHits += rep_->nObjHits() - shownHits_;
  if (schemaTries)
    *schemaTries += rep_->nObjTries() - shownTries_;
  shownHits_ = rep_->nObjHits();
  shownTries_ = rep_->nObjTries();
  String head = name() + "(" + objType() + ")";
  head.center(50);
  s = head + "\t\t";
  for (auto& st : getSObjs()) {
    String col;
    switch (st->statType()) {
      case GServObjStats::kDel:
      case GServObjStats::kFind:
      case GServObjStats::kGet:
      case GServObjStats::kPut:
        col = toString(long(st->nTimes()));
        break;
      case GServObjStats::kFetch:
        col = toString(long(st->nTimes())) + "/" + toString(long(st->extraInfo()));
        break;
      case GServObjStats::kRead:
        st->resetNTimes();
        col = toString(long(st->nTimes(int32_t(nReads()))));
        break;
      case GServObjStats::kWrite:
        st->resetNTimes();
        col = toString(long(st->nTimes(int32_t(nWrites()))));
        break;
      default:
        col = String(12L, '-');
        break;
    }
    col.center(12);
    s += String("\t") + col;
  }
  s += "\n";
}

// ---- diagnostics ----------------------------------------------------------------------------

void SvTable::debug() const { say(String("farray.dim() = ") + toString(long(nFields()))); }

void SvTable::listIndices() const {
  for (int32_t n = 0; n < nIndexSlots(); ++n) {
    SvIndex* ix = indexes_[size_t(n)];
    if (ix == nullptr)
      continue;
    say(String("Index #") + toString(long(n)) + " (" + ix->name() + "):");
    for (int32_t i = 0; i < ix->nFields(); ++i) {
      SvIndFld* part = ix->iField(i);
      int32_t type = -1;
      if (part->field() != nullptr)
        if (SvField const* f = dynamic_cast<SvField const*>(part->field()))
          type = f->getType();
      say(String("    Field #") + toString(long(i)) + ": type = " + toString(long(type)));
    }
  }
}

void SvTable::listContents() const {
  say(String("Table '") + qualifiedName() + "' (file: '" + phName() + "')");
  for (SvIndex* ix : indexes_)
    if (ix != nullptr)
      ix->listContents();
}

void SvTable::dumpTable(Client* c) {
  say(String("Contents of table '") + qualifiedName() + "'...");
  SvIndex* ix = index(0);
  if (ix == nullptr || buffer_.empty())
    return;
  int32_t rec = ix->findKey(c, SvIndex::kFirst);
  while (rec != -1 && fillBuffer(rec)) {
    String text;
    load(text);
    say(toString(long(recInstId())) + " (" + toString(long(rec)) + "): " + text);
    ix->buildKey(buffer(), rec);
    rec = ix->findKey(c, SvIndex::kNext);
  }
  ix->unLock();
}

// ---- record primitives ----------------------------------------------------------------------

namespace {

// A new error recorded since `before` is dropped.
void dropNewError(int32_t before) {
  if (before == 0 && Exception::last().code() != 0)
    Exception::last(Exception(0));
}

}  // namespace

SvTable::LockObject* SvTable::canWrite(Client* c, int32_t recno, bool& created) {
  created = false;
  SV_ASSERT(!isTemp(), "!isTemp()");
  uint16_t type = uint16_t(kLockWrite | (TableEnv::journal != nullptr ? kLockKeep : 0));
  LockObject* out = nullptr;
  rep_->applyLock(c, recno, type, 0, true, &out, created);
  if (Exception::last().code() != 0)
    return nullptr;
  return out;
}

// Only a change inside a transaction is deferred: it may still be rolled
// back. A client outside a transaction commits each change alone, so its
// delete is completed at once; deferred, it would live in the files until
// the client went and, across a checkpoint, come back after a crash.
bool SvTable::isDeferrable(LockObject const* lk) const {
  return TableEnv::journalActive() && !structTab() && lk != nullptr && lk->record != 0 && lk->client != nullptr &&
         lk->client->hasTrans();
}

SvTable::LockObject* SvTable::deferredDel(Client* c, int32_t recno) {
  if (c == nullptr || !c->hasTrans())
    return nullptr;
  int32_t before = Exception::last().code();
  LockObject* lk = nullptr;
  bool created = false;
  rep_->applyLock(c, recno, kLockWrite, 0, false, &lk, created);
  if (before == 0 && Exception::last().code() != 0) {
    dropNewError(before);
    return nullptr;
  }
  if (lk != nullptr && isDeferrable(lk) && rep_->deferredDel(lk))
    return lk;
  return nullptr;
}

bool SvTable::delByMe(Client* c, int32_t recno) {
  if (StorageEnv::restarting)
    return true;
  LockObject* lk = deferredDel(c, recno);
  return lk != nullptr && lk->client == c;
}

void SvTable::delKeys(char const* image, int32_t recno) {
  for (SvIndex* ix : indexes_) {
    if (ix == nullptr)
      continue;
    ix->buildKey(image, recno);
    ix->delKey(recno);
    ix->unLock();
  }
}

void SvTable::completeDefDel(Client*, int32_t recno) {
  if (!fillBuffer(recno))
    return;
  delKeys(buffer(), recno);
  rep_->del(recno);
}

bool SvTable::indepIndChanged(char const* oldImage) {
  if (!hasIndepKey())
    return false;
  bool changed = false;
  for (SvIndex* ix : indexes_)
    if (ix != nullptr && ix->isIndep() && ix->indepChanged(oldImage, buffer()))
      changed = true;
  return changed;
}

void SvTable::clearIndepChanged() {
  for (SvIndex* ix : indexes_)
    if (ix != nullptr)
      ix->resetIndepChanged();
}

bool SvTable::optimisticOk(Client* c, TimeStamp const& recStamp) const {
  if (c == nullptr || !c->hasOptimisticTrans())
    return true;
  TimeStamp start = c->transStamp();
  if (recStamp < start)
    return true;
  Exception::last(OptTransCorrupt(qualifiedName(), Time(recStamp), Time(start)));
  return false;
}

int32_t SvTable::addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                               uint32_t instId) {
  if (buffer_.empty())
    return -1;
  char* img = buffer();
  if (stampNow) {
    setRecInstId(instId != 0 ? instId : rep_->newInstId());
    setMTimeStamp(StorageEnv::timeStamp);
    if (hasCreationStamp())
      setCTimeStamp(StorageEnv::timeStamp);
  }
  // The instance id goes back to the counter on failure only when it is
  // the one last taken from it.
  auto giveBackId = [this]() {
    if (idFromCounter_ && uint32_t(rep_->lastRecId()) == recInstId() && recInstId() != 0)
      rep_->dropInstId();
  };

  // Choose the slot.
  std::vector<char> oldImg;
  bool indepChg = false;
  bool allKeys = keyFirst;
  int32_t recno = -1;
  char* page = nullptr;
  CacheBuffer* cb = nullptr;
  if (oldRec != -1) {
    oldImg.assign(buffer_.size(), 0);
    if (!rep_->fill(oldImg.data(), oldRec)) {
      giveBackId();
      return -1;
    }
    indepChg = indepIndChanged(oldImg.data());
    if (!indepChg && mTimeStamp(oldImg.data()) > StorageEnv::lastChkPoint) {
      recno = oldRec;
      cb = rep_->get(page, oldRec, true);
    } else {
      cb = rep_->add(page, recno, true);
    }
    allKeys = true;
  } else {
    cb = rep_->add(page, recno, true);
  }
  if (cb == nullptr) {
    giveBackId();
    if (indepChg)
      clearIndepChanged();
    return -1;
  }
  bool newSlot = recno != oldRec;

  // Every open index takes the key, in slot order; a refusal undoes the
  // indexes already done.
  std::vector<SvIndex*> done;
  std::vector<bool> tookOver(indexes_.size(), false);
  for (size_t i = 0; i < indexes_.size(); ++i) {
    SvIndex* ix = indexes_[i];
    if (ix == nullptr)
      continue;
    bool primary = i == 0;
    ix->buildKey(img, recno);
    if (!ix->addKey(c, recno, primary ? allKeys : true)) {
      ix->unLock();
      for (auto it = done.rbegin(); it != done.rend(); ++it) {
        (*it)->reverseAdd(img, recno);
        (*it)->unLock();
      }
      cb->unlock();
      if (newSlot)
        rep_->del(recno);
      giveBackId();
      if (indepChg)
        clearIndepChanged();
      return -1;
    }
    tookOver[i] = oldRec != -1 && ix->prevRec() == oldRec;
    ix->unLock();
    done.push_back(ix);
  }

  if (TableEnv::journalActive())
    TableEnv::journal->putAdd(c, this, recno, img);
  rep_->flush(img, cb, page, SvTabRep::kMStampAt);
  cb->unlock();
  ++writes_;
  if (oldRec != -1 && !indepChg) {
    for (size_t i = 0; i < indexes_.size(); ++i) {
      SvIndex* ix = indexes_[i];
      if (ix == nullptr || tookOver[i])
        continue;
      ix->buildKey(oldImg.data(), oldRec);
      ix->delKey(oldRec);
      ix->unLock();
    }
    if (newSlot)
      rep_->del(oldRec);
  }
  if (isDeferrable(lk) && !indepChg) {
    SV_ASSERT(oldRec != -1 && rep_->deferredDel(lk), "lk deferred && oldRec != -1");
    rep_->unDeferDel(lk);
    if (newSlot)
      rep_->changeLock(lk, recno);
  }
  if (indepChg)
    clearIndepChanged();
  return recno;
}

int32_t SvTable::updateRecNo(Client* c, int32_t recno, bool keyMayChange, LockObject* lk, bool optCheck,
                             uint32_t instId) {
  if (buffer_.empty())
    return -1;
  char* img = buffer();
  char* oldPage = nullptr;
  CacheBuffer* ocb = rep_->get(oldPage, recno, true);
  if (ocb == nullptr)
    return -1;
  std::vector<char> oldImg(buffer_.size(), 0);
  if (!rep_->fill(oldImg.data(), recno)) {
    ocb->unlock();
    return -1;
  }
  TimeStamp oldStamp = mTimeStamp(oldImg.data());
  if (optCheck && !optimisticOk(c, oldStamp)) {
    ocb->unlock();
    return -1;
  }
  setRecInstId(instId != 0 ? instId : SvTabRep::recInstId(oldImg.data()));
  setMTimeStamp(StorageEnv::timeStamp);
  if (hasCreationStamp())
    setCTimeStamp(cTimeStamp(oldImg.data()));
  bool indepChg = isDeferrable(lk) && indepIndChanged(oldImg.data());

  int32_t newNo = recno;
  char* page = oldPage;
  CacheBuffer* cb = ocb;
  if (indepChg || !(oldStamp > StorageEnv::lastChkPoint)) {
    cb = rep_->add(page, newNo, true);
    if (cb == nullptr) {
      ocb->unlock();
      if (indepChg)
        clearIndepChanged();
      return -1;
    }
  }
  bool moved = newNo != recno;

  std::vector<SvIndex*> done;
  bool pKeyChanged = false;
  for (size_t i = 0; i < indexes_.size(); ++i) {
    SvIndex* ix = indexes_[i];
    if (ix == nullptr || (i == 0 && !keyMayChange && !moved))
      continue;
    if (!ix->update(c, oldImg.data(), img, newNo, recno)) {
      ix->unLock();
      for (auto it = done.rbegin(); it != done.rend(); ++it) {
        (*it)->reverseUpdate(c, oldImg.data(), img, newNo, recno);
        (*it)->unLock();
      }
      if (moved) {
        cb->unlock();
        rep_->del(newNo);
      }
      ocb->unlock();
      if (indepChg)
        clearIndepChanged();
      return -1;
    }
    if (i == 0 && ix->isModByUpdate())
      pKeyChanged = true;
    ix->unLock();
    done.push_back(ix);
  }

  if (TableEnv::journalActive())
    TableEnv::journal->putUpdate(c, this, newNo, recno, img, oldImg.data(), keyMayChange && pKeyChanged);
  rep_->flush(img, cb, page, SvTabRep::kMStampAt);
  ++writes_;
  rep_->notifyClients(recno);
  if (moved)
    cb->unlock();
  ocb->unlock();
  if (moved) {
    if (indepChg) {
      // The old record stays as this client's deferred delete; the new one
      // is written under a lock of its own.
      SV_ASSERT(lk != nullptr, "lk != (0)");
      bool deferred = rep_->deferDel(lk);
      SV_ASSERT(deferred, "deferDel(lk)");
      bool created = false;
      canWrite(c, newNo, created);
    } else {
      rep_->del(recno);
      if (lk != nullptr && lk->record != 0)
        rep_->changeLock(lk, newNo);
    }
  }
  if (indepChg)
    clearIndepChanged();
  return newNo;
}

int32_t SvTable::delRecordNo(Client* c, int32_t recno, LockObject* lk, bool optCheck) {
  if (!fillBuffer(recno))
    return -1;
  if (optCheck && !optimisticOk(c, mTimeStamp()))
    return -1;
  if (isDeferrable(lk)) {
    if (!rep_->deferDel(lk))
      return -1;
  } else {
    delKeys(buffer(), recno);
    rep_->del(recno);
  }
  if (TableEnv::journalActive())
    TableEnv::journal->putDel(c, this, recno, buffer());
  ++writes_;
  return recno;
}
