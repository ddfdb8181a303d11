// TableLocks: the lock manager of one table: shared and exclusive locks on
// single records and on the whole table, the queues of clients waiting for
// them, deadlock detection with the choice of a victim, deferred deletes,
// the merging of many record locks of one client into one table lock, and
// notification requests. The table representation derives from it and
// answers the three hooks (name, number of records, deferred-delete
// completion).
//
// A client that must wait is never blocked: a waiting entry is queued, the
// client is set waiting on it (`Client::waitFor`) and the request answers
// false so that the caller holds it; when the lock may be free the client
// is woken (`Client::toBeWaken`: its entry is destroyed, it joins the
// wake-up list) and its request asks again from the start. No grant is ever
// handed to a waiter directly.
//
// Invariants:
//  - a table lock (record 0), when held, is the first entry of the
//    acquired ring; every other ring member is a record's hashed entry;
//  - each (serial, record) has at most one hashed entry; an exclusive
//    entry is the only holder of its ring;
//  - the pending list holds only table-level waiters, in arrival order;
//  - a temporary table is never locked: every request is granted and
//    nothing is recorded;
//  - every table of the process is in one registry (for unification over
//    all tables); its serial, the lock hashes' key, is unique and not 0.
#pragma once

#include <svcatalog/LockObject.h>

#include <zfound/String.h>

#include <cstdint>

class Client;

namespace svcatalog {

class TableLocks {
public:
  using Type = uint16_t;

  explicit TableLocks(bool temp = false);
  // Frees every lock still held on the table (forced) and wakes every
  // waiter, so no client keeps an entry of a vanished table.
  virtual ~TableLocks();
  TableLocks(TableLocks const&) = delete;
  TableLocks& operator=(TableLocks const&) = delete;

  // ---- hooks of the table ----
  // The table's name in Locked details and listings.
  virtual String lockTableName() const { return String(); }
  // The table's number of records (unification by percentage).
  virtual int32_t lockRecordCount() const { return 0; }
  // Completes the deferred delete of `record` when its "D" lock is freed.
  virtual bool completeDefDel(Client* c, int32_t record);

  uint32_t lockSerial() const { return serial_; }
  bool lockTemp() const { return temp_; }
  void setLockTemp(bool t) { temp_ = t; }

  // ---- requests ----
  // Asks for a lock of `type` on `record`. wait 0: the client may not wait.
  // acquire false: only tests (out then names the client's own lock, if
  // any). True: the request goes on (granted, or an error recorded); false:
  // the client was made to wait and its request must be held. out: the lock
  // that stands for the grant, null when none was made or the client's
  // allowance was exceeded; created: whether a new entry was made.
  bool applyLock(Client* c, int32_t record, Type type, int32_t wait, bool acquire, LockObject** out, bool& created);
  // The same for a lock on the whole table (record 0).
  bool applyTabLock(Client* c, Type type, int32_t wait, bool acquire, LockObject** out);
  // Frees the client's lock on the record ("P" cleared; "F"/"D" locks stay)
  // and its notification request there. True when no lock of it remains.
  bool freeLock(Client* c, int32_t record);
  // Frees every lock of the client on this table but "F"/"D" ones, then
  // retries the table-level waiters. Always true.
  bool freeTabLock(Client* c);
  // Releases the client's locks that a lock of `type` covers (all for an
  // exclusive type, the shared ones otherwise); the type, with "F" added
  // when a released lock carried "F" or "D".
  Type freeIncludedLocks(Client* c, Type type, bool force, bool clearP);
  // Merges the client's record locks on this table into a table lock when
  // they reach the unification bound or percentage; `lock` becomes the
  // table lock when it belonged here. True when a table lock resulted.
  bool unifyLocks(Client* c, LockObject*& lock);
  // unifyLocks over every table of the process.
  static void unifyAll(Client* c, LockObject*& lock);

  // Notification requests: the client is sent SIGUSR1 when the record changes.
  bool addNotify(Client* c, int32_t record);
  // Tells every client of the record's chain (SIGUSR1) and drops the chain.
  void notifyClients(int32_t record);
  // Frees one notification entry of this table.
  void freeNotify(NotifyLock* n);

  // Deferred deletes: set / clear / test "D" (false when already so).
  bool deferDel(LockObject* lock);
  bool unDeferDel(LockObject* lock);
  bool deferredDel(LockObject const* lock) const;
  // Re-keys a held lock (and its ring) under a new record number.
  void changeLock(LockObject* lock, int32_t record);

  // ---- access ----
  LockObject* findLock(int32_t record) const;
  NotifyLock* findNotifyLock(int32_t record) const;
  // Held table locks and record locks, every holder counted.
  void nLocks(int32_t& tabLocks, int32_t& recLocks) const;
  int32_t nDefDels() const;
  LockObject* firstAcqLock() const { return acqList_; }
  LockObject* pendLockList() const { return pendLockList_; }
  // The listing of queued and acquired locks, one warning per line.
  void listLocks() const;

  // ---- entries (used by clients and the pools' users) ----
  // Releases a held entry: "F"/"D" stay without force, "P" without freeP.
  // True when it was released.
  static bool freeEntry(LockObject* lock, bool force, bool freeP);
  // Destroys a waiting entry: out of its queue, back to the pool.
  static void destroyWaiting(LockObject* lock);
  // Tests only: turns the deadlock search off (to build a cycle it would
  // have refused) and on again.
  static void TEST_deadlockSearch(bool on);

private:
  struct Search;

  LockObject* newEntry(Client* c, int32_t record, Type type);
  bool give(Client* c, LockObject* e, int32_t record, LockObject** out);
  void addAcq(LockObject* e);
  void removeAcq(LockObject* e);
  void replaceHashed(LockObject* old, LockObject* next);
  void retryPendLocks();
  bool queueTable(Client* c, int32_t record, Type type, int32_t wait, LockObject* holder);
  bool queueBehind(LockObject* held, Client* c, int32_t record, Type type, int32_t wait);
  bool deadLock(Client* c, LockObject* victim);
  void recordLocked(LockObject const* holder) const;
  LockObject* otherHolder(Client* c, bool exclusive) const;
  LockObject* detectCycle(Search& s, Type type, Client const* skipped);
  static LockObject* detectCycleFrom(LockObject* start, Search& s, Client const* skipped);

  uint32_t serial_;
  bool temp_;
  LockObject* acqList_ = nullptr;
  LockObject* pendLockList_ = nullptr;
  bool retrying_ = false;  // retryPendLocks is waking the pending list
  TableLocks* regPrev_ = nullptr;
  TableLocks* regNext_ = nullptr;
};

// The lock manager's side of a client: its lock and notify lists.
class ClientLocks {
public:
  // Links the lock first into the client's list; above LocksPerClient (and
  // not while the journal is replayed) unifies the client's record locks in
  // every table and, still above it, records ClLockTableFull and answers
  // false (the caller frees the lock). `lock` may become a table lock.
  static bool addLock(Client* c, LockObject*& lock);
  static void delLock(Client* c, LockObject* lock);
  static void addNotify(Client* c, NotifyLock* n);
  static void delNotify(Client* c, NotifyLock* n);
  // The holder of the lock the client waits for; null when it waits for none.
  static LockObject* waitsForAcquired(Client const* c);
  // "+++ Locks acquired by client '<proc>' +++", each lock, and the closing
  // "--- ... ---" line, as warnings.
  static void listLocks(Client const* c);
  // Frees the waiting entry, every lock (forced) and every notify lock.
  static void freeAllLocks(Client* c, bool freeP);
};

}  // namespace svcatalog
