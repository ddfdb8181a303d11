// Lock and notification entries of the tables' lock manager, with their
// process-wide pools and hash tables.
//
// A `LockObject` is free (record -1, on its pool's free list), held (in its
// table's acquired ring and the lock hash, or in a holder ring), waiting at
// table level (in the table's pending list) or waiting on a record (in a held
// entry's wait ring). A `NotifyLock` is free or in one record's chain, whose
// head is in the notification hash.
//
// Invariants: the lock hash exists exactly while the lock pool has entries,
// with max(1, size / 2) buckets; a resize is refused, with pool and hash left
// as they were, while any entry of that pool is in use. The notification hash
// has 32 buckets and exists from the first notification request until the
// notification pool is set to 0.
#pragma once

#include <cstdint>

#include <svcatalog/LockPool.h>

class SvTabRep;

namespace svcatalog {

class LockClient;

struct LockObject {
  // Type bits: exclusive, free deferred to the end of the transaction,
  // deferred delete, asked for explicitly.
  static constexpr uint8_t kWrite = 1;
  static constexpr uint8_t kFree = 2;
  static constexpr uint8_t kDefDel = 4;
  static constexpr uint8_t kExplicit = 8;

  LockClient* client = nullptr;
  SvTabRep* table = nullptr;
  uint32_t serial = 0;   // the table's lock identity
  int32_t record = -1;   // 0: the whole table; -1: free
  uint8_t type = 0;
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
};

struct NotifyLock {
  LockClient* client = nullptr;
  SvTabRep* table = nullptr;
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
  // Sets both pools; true only when both succeed.
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
