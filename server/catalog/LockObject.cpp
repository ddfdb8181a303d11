// The shared lock and notification pools and their hash tables.
#include <svcatalog/LockObject.h>

#include <svcatalog/TableLocks.h>

#include <svobject/ClientEnv.h>

#include <blkfile/StorageEnv.h>

#include <memory>

namespace svcatalog {

namespace {

constexpr size_t kNotifyBuckets = 32;

struct Shared {
  FixedPool<LockObject> locks;
  FixedPool<NotifyLock> notifies;
  std::unique_ptr<LockHash<LockObject>> hash;
  std::unique_ptr<LockHash<NotifyLock>> notifHash;
};

Shared& shared() {
  static Shared s;
  return s;
}

}  // namespace

bool LockTables::initLocks(long locks, long notifies) {
  ClientHooks& h = ClientEnv::hooks();
  h.destroyWaiting = &TableLocks::destroyWaiting;
  h.freeAllLocks = &ClientLocks::freeAllLocks;
  if (h.unifyLocks == nullptr) h.unifyLocks = &TableLocks::unifyAll;
  ClientEnv::setStamp(&svstore::StorageEnv::timeStamp);
  bool const a = setNumLocks(locks);
  bool const b = setNumNotifies(notifies);
  return a && b;
}

bool LockTables::setNumLocks(long n) {
  Shared& s = shared();
  if (n == s.locks.size()) return true;
  // Refused before the hash is touched: a held lock stays findable.
  if (!s.locks.resize(n)) return false;
  s.hash.reset();
  if (n >= 1) s.hash = std::make_unique<LockHash<LockObject>>(static_cast<size_t>(n / 2));
  return true;
}

bool LockTables::setNumNotifies(long n) {
  Shared& s = shared();
  if (!s.notifies.resize(n)) return false;
  if (n == 0) s.notifHash.reset();
  return true;
}

void LockTables::cleanUpLocks() {
  setNumLocks(0);
  setNumNotifies(0);
}

FixedPool<LockObject>& LockTables::lockPool() { return shared().locks; }
FixedPool<NotifyLock>& LockTables::notifyPool() { return shared().notifies; }
LockHash<LockObject>* LockTables::hashtab() { return shared().hash.get(); }

LockHash<NotifyLock>* LockTables::notiftab(bool create) {
  Shared& s = shared();
  if (!s.notifHash && create) s.notifHash = std::make_unique<LockHash<NotifyLock>>(kNotifyBuckets);
  return s.notifHash.get();
}

}  // namespace svcatalog
