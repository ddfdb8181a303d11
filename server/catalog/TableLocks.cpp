// The lock manager of a table and the lock side of clients.
#include <svcatalog/TableLocks.h>

#include <svobject/Client.h>
#include <svobject/ClientEnv.h>

#include <blkfile/StorageEnv.h>

#include <zfound/Assert.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

#include <algorithm>
#include <vector>

namespace svcatalog {

namespace {

using Link = LockObject* LockObject::*;

constexpr uint8_t kFlags = LockObject::kFree | LockObject::kDefDel | LockObject::kExplicit;

template <Link P, Link N>
void selfLink(LockObject* e) {
  e->*P = e;
  e->*N = e;
}

// Inserts e before pos (at the tail of a ring whose head is pos).
template <Link P, Link N>
void insertBefore(LockObject* pos, LockObject* e) {
  e->*P = pos->*P;
  e->*N = pos;
  (pos->*P)->*N = e;
  pos->*P = e;
}

template <Link P, Link N>
void unlink(LockObject* e) {
  if (e->*N != nullptr && e->*N != e) {
    (e->*P)->*N = e->*N;
    (e->*N)->*P = e->*P;
  }
  e->*P = nullptr;
  e->*N = nullptr;
}

// e takes old's place in a ring; old leaves it.
template <Link P, Link N>
void replaceIn(LockObject* old, LockObject* e) {
  if (old->*N == old) {
    selfLink<P, N>(e);
  } else {
    e->*P = old->*P;
    e->*N = old->*N;
    (old->*P)->*N = e;
    (old->*N)->*P = e;
  }
  old->*P = nullptr;
  old->*N = nullptr;
}

constexpr auto kAcq = &LockObject::acqPrev;
constexpr auto kAcqN = &LockObject::acqNext;
constexpr auto kHold = &LockObject::holdPrev;
constexpr auto kHoldN = &LockObject::holdNext;
constexpr auto kWait = &LockObject::waitPrev;
constexpr auto kWaitN = &LockObject::waitNext;

bool hasWaiters(LockObject const* h) { return h->waitNext != nullptr && h->waitNext != h; }
bool hasOtherHolders(LockObject const* h) { return h->holdNext != nullptr && h->holdNext != h; }

// The client's entry in the holder ring of h, or null.
LockObject* holderOf(LockObject* h, Client const* c) {
  if (h == nullptr) return nullptr;
  LockObject* e = h;
  do {
    if (e->client == c) return e;
    e = e->holdNext;
  } while (e != h);
  return nullptr;
}

void recordError(Exception const& e) { svstore::StorageEnv::exception(e); }

// Ends a waiter's wait: the client destroys its entry and joins the wake-up
// list. An entry that is not the one its client waits for is destroyed here.
void wake(LockObject* w) {
  Client* const c = w->client;
  if (c->pendingLock() == w) {
    c->toBeWaken();
    // Without the lock manager's hook the entry is still queued.
    if (w->state != LockObject::kFreeEntry) TableLocks::destroyWaiting(w);
  } else {
    TableLocks::destroyWaiting(w);
    ClientEnv::addWakeUpClient(c);
  }
}

// The client's held entries on table t, in list order.
std::vector<LockObject*> heldOn(Client const* c, TableLocks const* t) {
  std::vector<LockObject*> v;
  for (LockObject* l = c->locks(); l != nullptr; l = l->clNext)
    if (l->table == t && l->state == LockObject::kHeld) v.push_back(l);
  return v;
}

TableLocks* g_tables = nullptr;  // registry head
uint32_t g_lastSerial = 0;
bool g_unifying = false;

}  // namespace

// ---- entries ---------------------------------------------------------------------

LockObject* LockObject::lockOwner() const {
  if (state == kTableWait) return table->firstAcqLock();
  if (state != kRecordWait) return nullptr;
  for (LockObject* e = waitPrev; e != nullptr && e != this; e = e->waitPrev)
    if (e->state == kHeld) return e;
  return nullptr;
}

bool LockObject::free(bool force, bool freeP) { return TableLocks::freeEntry(this, force, freeP); }

void NotifyLock::free() { table->freeNotify(this); }

String LockObject::print() const {
  String s = String("Table: '") + table->lockTableName() + "', Record: " + toString(long(record)) + ", Client: '(" +
             toString(long(client->id())) + ") " + client->proc() + "', Type: " + (exclusive() ? "W" : "R") +
             ", Flags: ";
  if (type & kDefDel) s += "D";
  if (type & kFree) s += "F";
  if (type & kExplicit) s += "P";
  return s;
}

// ---- the table -------------------------------------------------------------------

TableLocks::TableLocks(bool temp) : temp_(temp) {
  if (++g_lastSerial == 0) ++g_lastSerial;
  serial_ = g_lastSerial;
  regNext_ = g_tables;
  if (g_tables != nullptr) g_tables->regPrev_ = this;
  g_tables = this;
}

TableLocks::~TableLocks() {
  while (pendLockList_ != nullptr) wake(pendLockList_);
  while (acqList_ != nullptr) {
    LockObject* const h = acqList_;
    while (hasWaiters(h)) wake(h->waitNext);
    while (hasOtherHolders(h)) {
      LockObject* const o = h->holdNext;
      ClientLocks::delLock(o->client, o);
      unlink<kHold, kHoldN>(o);
      LockTables::lockPool().give(o);
    }
    ClientLocks::delLock(h->client, h);
    removeAcq(h);
    LockTables::lockPool().give(h);
  }
  if (LockHash<NotifyLock>* nt = LockTables::notiftab()) {
    std::vector<NotifyLock*> heads;
    nt->forEach([&](NotifyLock* n) {
      if (n->serial == serial_) heads.push_back(n);
    });
    for (NotifyLock* head : heads) {
      nt->remove(head);
      for (NotifyLock* n = head; n != nullptr;) {
        NotifyLock* const next = n->chainNext;
        ClientLocks::delNotify(n->client, n);
        LockTables::notifyPool().give(n);
        n = next;
      }
    }
  }
  (regPrev_ != nullptr ? regPrev_->regNext_ : g_tables) = regNext_;
  if (regNext_ != nullptr) regNext_->regPrev_ = regPrev_;
}

bool TableLocks::completeDefDel(Client*, int32_t) { return true; }

LockObject* TableLocks::findLock(int32_t record) const {
  LockHash<LockObject>* h = LockTables::hashtab();
  return h != nullptr ? h->find(serial_, record) : nullptr;
}

NotifyLock* TableLocks::findNotifyLock(int32_t record) const {
  LockHash<NotifyLock>* h = LockTables::notiftab();
  return h != nullptr ? h->find(serial_, record) : nullptr;
}

LockObject* TableLocks::newEntry(Client* c, int32_t record, Type type) {
  LockObject* e = LockTables::lockPool().take();
  if (e == nullptr) {
    recordError(LockTableFull(int32_t(LockTables::lockPool().size())));
    return nullptr;
  }
  e->client = c;
  e->table = this;
  e->serial = serial_;
  e->record = record;
  e->type = uint8_t(type);
  return e;
}

void TableLocks::addAcq(LockObject* e) {
  e->state = LockObject::kHeld;
  selfLink<kHold, kHoldN>(e);
  selfLink<kWait, kWaitN>(e);
  if (acqList_ == nullptr) {
    selfLink<kAcq, kAcqN>(e);
    acqList_ = e;
  } else {
    insertBefore<kAcq, kAcqN>(acqList_, e);
    if (e->isTableLock()) acqList_ = e;
  }
  LockTables::hashtab()->insert(e);
}

void TableLocks::removeAcq(LockObject* e) {
  if (acqList_ == e) acqList_ = e->acqNext != e ? e->acqNext : nullptr;
  unlink<kAcq, kAcqN>(e);
  unlink<kWait, kWaitN>(e);
  unlink<kHold, kHoldN>(e);
  LockTables::hashtab()->remove(e);
}

// The next holder becomes the ring's hashed entry in place of old; each
// entry stays with its own client, so no caller's lock pointer changes
// owner.
void TableLocks::replaceHashed(LockObject* old, LockObject* next) {
  LockHash<LockObject>* h = LockTables::hashtab();
  h->remove(old);
  replaceIn<kAcq, kAcqN>(old, next);
  if (acqList_ == old) acqList_ = next;
  replaceIn<kWait, kWaitN>(old, next);
  h->insert(next);
}

// Only an exclusive table lock first blocks every waiter for certain; under
// a shared one a waiter may be its own holder upgrading, or be blocked by
// the lock that just went, and would otherwise never be woken.
void TableLocks::retryPendLocks() {
  if (retrying_ || (acqList_ != nullptr && acqList_->isTableLock() && acqList_->exclusive())) return;
  retrying_ = true;
  while (pendLockList_ != nullptr) wake(pendLockList_);
  retrying_ = false;
}

bool TableLocks::give(Client* c, LockObject* e, int32_t rec, LockObject** out) {
  LockObject* lk = e;
  if (!ClientLocks::addLock(c, lk)) {
    // Refused: the new entry goes again, unless unification already took it
    // (its slot then holds another lock, with another record).
    if (e->record == rec && e->client == c && e->state == LockObject::kHeld) freeEntry(e, true, true);
    if (out != nullptr) *out = nullptr;
    return true;
  }
  if (out != nullptr) *out = lk;
  return true;
}

void TableLocks::recordLocked(LockObject const* holder) const {
  String owner = holder != nullptr ? holder->client->descr() : String();
  recordError(Locked(owner + ", table: " + lockTableName()));
}

// A held entry with a holder of another client; with `exclusive` any such
// holder, otherwise an exclusive one.
LockObject* TableLocks::otherHolder(Client* c, bool exclusive) const {
  if (acqList_ == nullptr) return nullptr;
  LockObject* a = acqList_;
  do {
    LockObject* h = a;
    do {
      if (h->client != c && (exclusive || h->exclusive())) return h;
      h = h->holdNext;
    } while (h != a);
    a = a->acqNext;
  } while (a != acqList_);
  return nullptr;
}

bool TableLocks::applyLock(Client* c, int32_t rec, Type type, int32_t wait, bool acquire, LockObject** out,
                           bool& created) {
  created = false;
  if (out != nullptr) *out = nullptr;
  // Record 0 is the whole table (applyTabLock); no record is negative.
  if (rec <= 0) {
    Exception::last(InvalidData(String("bad record number ") + toString(long(rec)) + " for a record lock"));
    return true;
  }
  if (temp_) return true;
  type = Type(type & ~LockObject::kDefDel);
  if (!acquire) wait = 0;
  LockObject* const R = findLock(rec);
  LockObject* H = acqList_;
  if (H != nullptr && !H->isTableLock()) H = R;

  if (H == nullptr) {
    if (pendLockList_ != nullptr) return queueTable(c, rec, type, wait, nullptr);
    if (!acquire) return true;
    LockObject* e = newEntry(c, rec, type);
    if (e == nullptr) return true;
    addAcq(e);
    created = true;
    return give(c, e, rec, out);
  }

  if ((type & LockObject::kWrite) == 0) {
    LockObject* own = holderOf(H, c);
    // Under a shared table lock the record may still have a ring of its own.
    if (own == nullptr && R != nullptr && R != H) own = holderOf(R, c);
    if (own != nullptr) {
      if (out != nullptr) *out = own;
      return true;
    }
    if (pendLockList_ != nullptr) return queueTable(c, rec, type, wait, nullptr);
    if (H->exclusive()) return queueBehind(H, c, rec, type, wait);
    if (H == R && hasWaiters(H)) return queueBehind(H, c, rec, type, wait);
    if (R != nullptr && R != H && (R->exclusive() || hasWaiters(R))) return queueBehind(R, c, rec, type, wait);
    if (!acquire) return true;
    LockObject* e = newEntry(c, rec, type);
    if (e == nullptr) return true;
    if (R != nullptr) {
      e->state = LockObject::kHeld;
      insertBefore<kHold, kHoldN>(R, e);
    } else {
      addAcq(e);
    }
    created = true;
    return give(c, e, rec, out);
  }

  // Exclusive.
  if (H->client != c) return queueBehind(H, c, rec, type, wait);
  if (!H->exclusive()) {
    if (pendLockList_ != nullptr) return queueTable(c, rec, type, wait, nullptr);
    // The only holder upgrades in place even when others wait: they wait
    // for it either way, and queued behind its own lock it would never be
    // woken.
    if (hasOtherHolders(H)) return queueBehind(H, c, rec, type, wait);
    // Upgrading one's own shared table lock must not pass over another
    // client's locks on the table.
    if (H != R) {
      if (LockObject* o = otherHolder(c, true)) {
        while (o->state != LockObject::kHeld || findLock(o->record) != o) o = o->holdPrev;
        return queueBehind(o, c, rec, type, wait);
      }
    }
    if (acquire) H->type = uint8_t(type | (H->type & kFlags));
  } else if (acquire) {
    H->type = uint8_t(H->type | (type & kFlags));
  }
  if (out != nullptr) *out = H;
  return true;
}

bool TableLocks::applyTabLock(Client* c, Type type, int32_t wait, bool acquire, LockObject** out) {
  if (out != nullptr) *out = nullptr;
  if (temp_) return true;
  type = Type(type & ~LockObject::kDefDel);
  if (!acquire) wait = 0;
  // A table lock of the client's that already covers the request stands
  // for it (a second entry of one client in the ring would be a duplicate).
  if (LockObject* mine = holderOf(findLock(0), c);
      mine != nullptr && (mine->exclusive() || !(type & LockObject::kWrite))) {
    if (acquire) mine->type = uint8_t(mine->type | (type & kFlags));
    if (out != nullptr) *out = mine;
    return true;
  }
  if (pendLockList_ != nullptr) return queueTable(c, 0, type, wait, nullptr);
  // Waiters behind a lock the client holds wait for it anyway: waiting for
  // them would never end.
  if (acqList_ != nullptr) {
    LockObject* a = acqList_;
    do {
      if (hasWaiters(a) && holderOf(a, c) == nullptr) return queueTable(c, 0, type, wait, a);
      a = a->acqNext;
    } while (a != acqList_);
  }
  if (LockObject* o = otherHolder(c, (type & LockObject::kWrite) != 0)) return queueTable(c, 0, type, wait, o);
  if (!acquire) {
    if (out != nullptr) *out = holderOf(findLock(0), c);
    return true;
  }
  LockObject* e = newEntry(c, 0, type);
  if (e == nullptr) return true;
  e->type = uint8_t(freeIncludedLocks(c, type, true, false));
  // Another client's shared table lock: join its ring.
  if (LockObject* t = findLock(0)) {
    e->state = LockObject::kHeld;
    insertBefore<kHold, kHoldN>(t, e);
  } else {
    addAcq(e);
  }
  LockObject* lk = e;
  if (!ClientLocks::addLock(c, lk)) {
    if (lk == e && e->state == LockObject::kHeld && e->client == c) freeEntry(e, true, true);
    return true;
  }
  if (out != nullptr) *out = lk;
  return true;
}

TableLocks::Type TableLocks::freeIncludedLocks(Client* c, Type type, bool force, bool clearP) {
  bool const excl = (type & LockObject::kWrite) != 0;
  bool const freeP = (type & LockObject::kExplicit) != 0;
  for (LockObject* h : heldOn(c, this)) {
    if (!excl && h->exclusive()) continue;
    if (h->type & (LockObject::kFree | LockObject::kDefDel)) type |= LockObject::kFree;
    if (clearP) h->type = uint8_t(h->type & ~LockObject::kExplicit);
    freeEntry(h, force, freeP);
  }
  return type;
}

bool TableLocks::freeLock(Client* c, int32_t rec) {
  bool gone = true;
  if (LockObject* own = holderOf(findLock(rec), c)) {
    own->type = uint8_t(own->type & ~LockObject::kExplicit);
    gone = freeEntry(own, false, false);
  }
  for (NotifyLock* n = findNotifyLock(rec); n != nullptr; n = n->chainNext) {
    if (n->client == c) {
      freeNotify(n);
      break;
    }
  }
  return gone;
}

bool TableLocks::freeTabLock(Client* c) {
  for (LockObject* h : heldOn(c, this)) {
    if (h->type & (LockObject::kFree | LockObject::kDefDel)) continue;
    h->type = uint8_t(h->type & ~LockObject::kExplicit);
    freeEntry(h, false, false);
  }
  retryPendLocks();
  return true;
}

bool TableLocks::freeEntry(LockObject* e, bool force, bool freeP) {
  if (!ZF_ASSERT(e != nullptr && e->state == LockObject::kHeld)) return false;
  if (!force && (e->type & (LockObject::kFree | LockObject::kDefDel))) return false;
  if (!freeP && (e->type & LockObject::kExplicit)) return false;
  TableLocks* const t = e->table;
  if (e->type & LockObject::kDefDel) ZF_ASSERT_TEXT(t->completeDefDel(e->client, e->record), "completeDefDel");
  ClientLocks::delLock(e->client, e);
  if (hasOtherHolders(e)) {
    LockObject* hashed = t->findLock(e->record);
    if (hashed == e) {
      hashed = e->holdNext;
      t->replaceHashed(e, hashed);
    }
    unlink<kHold, kHoldN>(e);
    LockTables::lockPool().give(e);
    // A holder left alone that waits on this table (an upgrade, behind its
    // own ring or at table level) can now go on; nobody else is woken.
    if (hashed != nullptr && !hasOtherHolders(hashed)) {
      LockObject* const w = hashed->client->pendingLock();
      if (w != nullptr && w->table == t && (w->state == LockObject::kTableWait || w->lockOwner() == hashed)) wake(w);
    }
    return true;
  }
  while (hasWaiters(e)) wake(e->waitNext);
  t->removeAcq(e);
  t->retryPendLocks();
  LockTables::lockPool().give(e);
  return true;
}

void TableLocks::destroyWaiting(LockObject* w) {
  if (w == nullptr || w->state == LockObject::kFreeEntry) return;
  if (!ZF_ASSERT(w->state != LockObject::kHeld)) return;
  TableLocks* const t = w->table;
  bool const head = w->state == LockObject::kTableWait && t->pendLockList_ == w;
  if (head) t->pendLockList_ = w->waitNext != w ? w->waitNext : nullptr;
  unlink<kWait, kWaitN>(w);
  LockTables::lockPool().give(w);
  // The first table-level waiter gone (its client went, gave up or was a
  // victim): those queued only behind it may go on now.
  if (head && t->pendLockList_ != nullptr) t->retryPendLocks();
}

// ---- waiting and deadlocks -------------------------------------------------------

struct TableLocks::Search {
  Client* requester;
  std::vector<Client const*> visited;

  // True the first time a client's wait is followed.
  bool visit(Client const* c) {
    if (std::find(visited.begin(), visited.end(), c) != visited.end()) return false;
    visited.push_back(c);
    return true;
  }
};

namespace {
bool g_search = true;
}  // namespace

void TableLocks::TEST_deadlockSearch(bool on) { g_search = on; }

bool TableLocks::queueTable(Client* c, int32_t rec, Type type, int32_t wait, LockObject* holder) {
  if (wait == 0) {
    recordLocked(holder != nullptr ? holder : acqList_);
    return true;
  }
  // A table-level waiter that one of the requester's locks blocks waits for
  // the requester, which would now wait behind it: a cycle the search over
  // the holders does not see.
  if (g_search && pendLockList_ != nullptr) {
    std::vector<LockObject*> const mine = heldOn(c, this);
    LockObject* w = pendLockList_;
    do {
      for (LockObject* h : mine) {
        bool const overlap = w->record == 0 || h->record == 0 || w->record == h->record;
        if (w->client != c && overlap && (w->exclusive() || h->exclusive()))
          return deadLock(c, w->client->workedLess(c, c) ? w : h);
      }
      w = w->waitNext;
    } while (w != pendLockList_ && !mine.empty());
  }
  Search s{c, {}};
  if (LockObject* v = g_search ? detectCycle(s, type, c) : nullptr) return deadLock(c, v);
  // Waiting for the waiters of a lock means waiting for its holders too,
  // whether or not they conflict with the request.
  if (holder != nullptr && hasWaiters(holder) && g_search) {
    if (LockObject* v = detectCycleFrom(holder, s, c)) return deadLock(c, v);
  }
  LockObject* e = newEntry(c, rec, type);
  if (e == nullptr) return true;
  e->state = LockObject::kTableWait;
  if (pendLockList_ == nullptr) {
    selfLink<kWait, kWaitN>(e);
    pendLockList_ = e;
  } else {
    insertBefore<kWait, kWaitN>(pendLockList_, e);
  }
  c->waitFor(e);
  return false;
}

bool TableLocks::queueBehind(LockObject* held, Client* c, int32_t rec, Type type, int32_t wait) {
  if (wait == 0) {
    recordLocked(held);
    return true;
  }
  Search s{c, {}};
  if (LockObject* v = g_search ? detectCycleFrom(held, s, c) : nullptr) return deadLock(c, v);
  LockObject* e = newEntry(c, rec, type);
  if (e == nullptr) return true;
  e->state = LockObject::kRecordWait;
  insertBefore<kWait, kWaitN>(held, e);
  c->waitFor(e);
  return false;
}

bool TableLocks::deadLock(Client* c, LockObject* victim) {
  Client* const vc = victim->client;
  if (!vc->hasTrans()) {
    recordError(DeadLock(String()));
    return true;
  }
  if (!vc->transAborted()) vc->abortTrans(DeadLock(String()));
  vc->toBeWaken();
  c->toBeWaken();
  return false;
}

LockObject* TableLocks::detectCycle(Search& s, Type type, Client const* skipped) {
  if (acqList_ == nullptr) return nullptr;
  LockObject* a = acqList_;
  do {
    LockObject* h = a;
    do {
      if (h->client != skipped) {
        if (h->client == s.requester) return h;
        if ((type & LockObject::kWrite) || h->exclusive()) {
          // The ring, still without the skipped client: its own share of
          // the ring is not what it waits for.
          if (LockObject* v = detectCycleFrom(a, s, skipped)) return v;
          break;
        }
      }
      h = h->holdNext;
    } while (h != a);
    a = a->acqNext;
  } while (a != acqList_);
  return nullptr;
}

// The victim is chosen among the holders the cycle passes through: a holder
// that shares the lock but waits for nobody would, aborted, break nothing,
// and the requester would be woken into the same search for ever.
LockObject* TableLocks::detectCycleFrom(LockObject* start, Search& s, Client const* skipped) {
  LockObject* h = start;
  do {
    if (h->client != skipped) {
      if (h->client == s.requester) return h;
      LockObject* w = h->client->pendingLock();
      if (w != nullptr && s.visit(h->client)) {
        LockObject* v = nullptr;
        if (w->state == LockObject::kRecordWait) {
          if (LockObject* owner = w->lockOwner()) v = detectCycleFrom(owner, s, h->client);
        } else if (w->state == LockObject::kTableWait) {
          v = w->table->detectCycle(s, w->type, h->client);
        }
        if (v != nullptr) return v->client->workedLess(h->client, s.requester) ? v : h;
      }
    }
    h = h->holdNext;
  } while (h != start);
  return nullptr;
}

// ---- unification -------------------------------------------------------------------

bool TableLocks::unifyLocks(Client* c, LockObject*& lock) {
  int32_t count = 0;
  Type bits = 0;
  for (LockObject* l : heldOn(c, this)) {
    if (l->isTableLock()) continue;
    ++count;
    bits = Type(bits | (l->type & (LockObject::kWrite | LockObject::kFree)));
  }
  if (count == 0) return false;
  int64_t const pct = ClientEnv::lockUnifyPercent;
  bool const unify = count >= ClientEnv::lockUnifyBound || (pct >= 1 && count > pct * lockRecordCount() / 100);
  if (!unify) return false;
  bool const mine = lock != nullptr && lock->table == this;
  LockObject* t = nullptr;
  applyTabLock(c, bits, 0, true, &t);
  if (t == nullptr) return false;
  if (mine) lock = t;
  return true;
}

void TableLocks::unifyAll(Client* c, LockObject*& lock) {
  for (TableLocks* t = g_tables; t != nullptr; t = t->regNext_) t->unifyLocks(c, lock);
}

// ---- notifications -------------------------------------------------------------------

bool TableLocks::addNotify(Client* c, int32_t rec) {
  LockHash<NotifyLock>* nt = LockTables::notiftab(true);
  NotifyLock* const head = nt->find(serial_, rec);
  for (NotifyLock* n = head; n != nullptr; n = n->chainNext)
    if (n->client == c) return true;
  NotifyLock* e = LockTables::notifyPool().take();
  if (e == nullptr) {
    recordError(NotifyTableFull(int32_t(LockTables::notifyPool().size())));
    return false;
  }
  e->client = c;
  e->table = this;
  e->serial = serial_;
  e->record = rec;
  if (head != nullptr) {
    e->chainNext = head->chainNext;
    head->chainNext = e;
  } else {
    nt->insert(e);
  }
  ClientLocks::addNotify(c, e);
  return true;
}

void TableLocks::notifyClients(int32_t rec) {
  NotifyLock* const head = findNotifyLock(rec);
  if (head == nullptr) return;
  LockTables::notiftab()->remove(head);
  for (NotifyLock* n = head; n != nullptr;) {
    NotifyLock* const next = n->chainNext;
    n->client->notify();
    ClientLocks::delNotify(n->client, n);
    LockTables::notifyPool().give(n);
    n = next;
  }
}

// Frees one notification entry; the successor of a freed head becomes the
// chain's hashed head.
void TableLocks::freeNotify(NotifyLock* n) {
  LockHash<NotifyLock>* nt = LockTables::notiftab();
  NotifyLock* const head = nt != nullptr ? nt->find(n->serial, n->record) : nullptr;
  if (!ZF_ASSERT(head != nullptr)) return;
  ClientLocks::delNotify(n->client, n);
  if (n == head) {
    nt->remove(head);
    if (head->chainNext != nullptr) nt->insert(head->chainNext);
  } else {
    NotifyLock* p = head;
    while (p->chainNext != n) p = p->chainNext;
    p->chainNext = n->chainNext;
  }
  LockTables::notifyPool().give(n);
}

// ---- deferred deletes, re-keying, counts, listing ------------------------------------------

bool TableLocks::deferDel(LockObject* l) {
  if (!ZF_PRECOND(l != nullptr) || (l->type & LockObject::kDefDel)) return false;
  l->type = uint8_t(l->type | LockObject::kDefDel);
  return true;
}

bool TableLocks::unDeferDel(LockObject* l) {
  if (!ZF_PRECOND(l != nullptr) || !(l->type & LockObject::kDefDel)) return false;
  l->type = uint8_t(l->type & ~LockObject::kDefDel);
  return true;
}

bool TableLocks::deferredDel(LockObject const* l) const {
  return ZF_PRECOND(l != nullptr) && (l->type & LockObject::kDefDel) != 0;
}

void TableLocks::changeLock(LockObject* l, int32_t rec) {
  // Only a record lock moves to another record; a table lock stays.
  if (l == nullptr || l->record == 0 || rec <= 0) return;
  if (!ZF_PRECOND(findLock(l->record) == l)) return;
  LockTables::hashtab()->remove(l);
  LockObject* e = l;
  do {
    e->record = rec;
    e = e->holdNext;
  } while (e != l);
  for (e = l->waitNext; e != l; e = e->waitNext) e->record = rec;
  LockTables::hashtab()->insert(l);
}

void TableLocks::nLocks(int32_t& tabLocks, int32_t& recLocks) const {
  tabLocks = recLocks = 0;
  if (acqList_ == nullptr) return;
  LockObject* a = acqList_;
  do {
    LockObject* h = a;
    do {
      ++(h->isTableLock() ? tabLocks : recLocks);
      h = h->holdNext;
    } while (h != a);
    a = a->acqNext;
  } while (a != acqList_);
}

int32_t TableLocks::nDefDels() const {
  int32_t n = 0;
  if (acqList_ == nullptr) return 0;
  LockObject* a = acqList_;
  do {
    LockObject* h = a;
    do {
      if (h->type & LockObject::kDefDel) ++n;
      h = h->holdNext;
    } while (h != a);
    a = a->acqNext;
  } while (a != acqList_);
  return n;
}

void TableLocks::listLocks() const {
  auto line = [](String const& s) { warning(String("%S"), &s); };
  String const name = lockTableName();
  line(String("+++ Locks queued at table '") + name + "' +++");
  if (pendLockList_ != nullptr) {
    LockObject* w = pendLockList_;
    do {
      line(w->print());
      w = w->waitNext;
    } while (w != pendLockList_);
  }
  line(String("+++ Acquired locks in table '") + name + "' +++");
  if (acqList_ == nullptr) return;
  LockObject* a = acqList_;
  do {
    LockObject* h = a;
    do {
      line(h->print());
      h = h->holdNext;
    } while (h != a);
    if (hasWaiters(a)) {
      line(String("Pending for this lock:"));
      for (LockObject* w = a->waitNext; w != a; w = w->waitNext) line(w->print());
    }
    a = a->acqNext;
  } while (a != acqList_);
}

// ---- the client's side -------------------------------------------------------------------

bool ClientLocks::addLock(Client* c, LockObject*& lock) {
  lock->clPrev = nullptr;
  lock->clNext = c->locks_;
  if (c->locks_ != nullptr) c->locks_->clPrev = lock;
  c->locks_ = lock;
  ++c->nLocks_;
  if (svstore::StorageEnv::restarting || g_unifying || c->nLocks_ <= ClientEnv::locksPerClient) return true;
  // One unification at a time: the table locks it makes are linked here
  // too and must not start another.
  g_unifying = true;
  if (ClientEnv::hooks().unifyLocks != nullptr)
    ClientEnv::hooks().unifyLocks(c, lock);
  else
    TableLocks::unifyAll(c, lock);
  g_unifying = false;
  Exception::last(Exception(0));
  if (c->nLocks_ <= ClientEnv::locksPerClient) return true;
  recordError(ClLockTableFull(ClientEnv::locksPerClient));
  return false;
}

void ClientLocks::delLock(Client* c, LockObject* lock) {
  if (lock->clPrev != nullptr)
    lock->clPrev->clNext = lock->clNext;
  else if (c->locks_ == lock)
    c->locks_ = lock->clNext;
  else
    return;  // not in the list
  if (lock->clNext != nullptr) lock->clNext->clPrev = lock->clPrev;
  lock->clPrev = lock->clNext = nullptr;
  --c->nLocks_;
}

void ClientLocks::addNotify(Client* c, NotifyLock* n) {
  n->clPrev = nullptr;
  n->clNext = c->notifyLocks_;
  if (c->notifyLocks_ != nullptr) c->notifyLocks_->clPrev = n;
  c->notifyLocks_ = n;
}

void ClientLocks::delNotify(Client* c, NotifyLock* n) {
  if (n->clPrev != nullptr)
    n->clPrev->clNext = n->clNext;
  else if (c->notifyLocks_ == n)
    c->notifyLocks_ = n->clNext;
  else
    return;
  if (n->clNext != nullptr) n->clNext->clPrev = n->clPrev;
  n->clPrev = n->clNext = nullptr;
}

LockObject* ClientLocks::waitsForAcquired(Client const* c) {
  return c->pendLock_ != nullptr ? c->pendLock_->lockOwner() : nullptr;
}

void ClientLocks::listLocks(Client const* c) {
  auto line = [](String const& s) { warning(String("%S"), &s); };
  line(String("+++ Locks acquired by client '") + c->proc() + "' +++");
  for (LockObject* l = c->locks_; l != nullptr; l = l->clNext) line(l->print());
  line(String("--- Locks acquired by client '") + c->proc() + "' ---");
}

void ClientLocks::freeAllLocks(Client* c, bool freeP) {
  c->clearPendLock();
  std::vector<LockObject*> all;
  for (LockObject* l = c->locks_; l != nullptr; l = l->clNext) all.push_back(l);
  for (LockObject* l : all) TableLocks::freeEntry(l, true, freeP);
  while (c->notifyLocks_ != nullptr) c->notifyLocks_->table->freeNotify(c->notifyLocks_);
}

}  // namespace svcatalog
