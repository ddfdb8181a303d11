// Lock and notification entries of the tables' lock manager, with their
// process-wide pools and hash tables.
//
// State machine of a `LockObject`: free (record -1, on its pool's free list)
// -> held (the ring's hashed entry: in its table's acquired ring, the lock
// hash and a holder ring; any other holder: only in the holder ring) or
// waiting at table level (in the table's pending list) or waiting on a
// record (in the held entry's wait ring) -> free. A waiting entry never
// becomes held: its client is woken, destroys it and asks again. A
// `NotifyLock` is free or in one record's chain, whose head is in the
// notification hash.
//
// Rings are circular and doubly linked; an entry alone in a ring links to
// itself. A held hashed entry is part of its own wait ring, so the waiters
// behind it are the ring's other members.
//
// Invariants: the lock hash exists exactly while the lock pool has entries,
// with max(1, size / 2) buckets; a resize is refused, with pool and hash left
// as they were, while any entry of that pool is in use. The notification hash
// has 32 buckets and exists from the first notification request until the
// notification pool is set to 0.
#pragma once

#include <cstdint>

#include <svcatalog/LockPool.h>

#include <zfound/String.h>

class Client;

namespace svcatalog {

class TableLocks;

struct LockObject {
  // Type bits: exclusive, free deferred to the end of the transaction,
  // deferred delete, asked for explicitly.
  static constexpr uint8_t kWrite = 1;
  static constexpr uint8_t kFree = 2;
  static constexpr uint8_t kDefDel = 4;
  static constexpr uint8_t kExplicit = 8;

  enum State : uint8_t { kFreeEntry, kHeld, kTableWait, kRecordWait };

  Client* client = nullptr;
  TableLocks* table = nullptr;
  uint32_t serial = 0;   // the table's lock identity
  int32_t record = -1;   // 0: the whole table; -1: free
  uint8_t type = 0;
  State state = kFreeEntry;
  LockObject* acqPrev = nullptr;
  LockObject* acqNext = nullptr;
  LockObject* holdPrev = nullptr;
  LockObject* holdNext = nullptr;
  LockObject* waitPrev = nullptr;
  LockObject* waitNext = nullptr;
  LockObject* clPrev = nullptr;
  LockObject* clNext = nullptr;
  LockObject* hashNext = nullptr;

  bool exclusive() const { return (type & kWrite) != 0; }
  bool isTableLock() const { return record == 0; }
  // The holder a waiter waits behind (record level), or the table's first
  // acquired lock (table level); null for a held entry.
  LockObject* lockOwner() const;
  // "Table: '<name>', Record: <n>, Client: '(<id>) <proc>', Type: W|R,
  // Flags: " and D, F, P as set.
  String print() const;
};

struct NotifyLock {
  Client* client = nullptr;
  TableLocks* table = nullptr;
  uint32_t serial = 0;
  int32_t record = -1;
  NotifyLock* clPrev = nullptr;
  NotifyLock* clNext = nullptr;
  NotifyLock* chainNext = nullptr;
  NotifyLock* hashNext = nullptr;
};

// The shared pools and hash tables of every table's lock manager.
class LockTables {
public:
  // Sets both pools; true only when both succeed. Installs the lock
  // manager's hooks for clients (waiting entries, freeing all locks,
  // unification over every table) and points clients at the server stamp.
  static bool initLocks(long locks, long notifies);
  // Resizes the lock pool and rebuilds its hash; false (nothing changed)
  // while a lock is in use or for a size that cannot be allocated.
  static bool setNumLocks(long n);
  // Resizes the notification pool; at 0 the notification hash is dropped.
  static bool setNumNotifies(long n);
  // Sets both pools to 0 (server shutdown).
  static void cleanUpLocks();

  static FixedPool<LockObject>& lockPool();
  static FixedPool<NotifyLock>& notifyPool();
  // The lock hash, null while the pool is empty.
  static LockHash<LockObject>* hashtab();
  // The notification hash; with `create` it is made on first use.
  static LockHash<NotifyLock>* notiftab(bool create = false);
};

}  // namespace svcatalog
