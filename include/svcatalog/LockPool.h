// Fixed pools of lock entries and the hash tables that find held entries.
//
// State machine of a pool entry: free (on the free list) -> in use (taken by
// `take`) -> free (returned by `give`). A pool is resized only while every
// entry is free; a refused resize leaves the pool and its hash table as they
// were. Entries never come from the general heap one by one: the pool holds
// all of them in one array allocated at resize.
//
// Hash tables: bucket = ((table serial << 16) + record) modulo the bucket
// count, computed in unsigned 64-bit arithmetic so that negative records and
// large serials stay in range; there is always at least one bucket.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace svcatalog {

// Largest pool that may be asked for; beyond it a resize is refused.
constexpr long kMaxLockPool = 1L << 24;

template <class T>
class FixedPool {
public:
  // Sets the number of entries. True at once when `n` is the present size;
  // false while any entry is in use, for a negative or too large `n`, or
  // when the entries cannot be allocated (the old pool then stays).
  bool resize(long n) {
    if (n == size_) return true;
    if (inUse() != 0 || n < 0 || n > kMaxLockPool) return false;
    std::unique_ptr<T[]> fresh;
    if (n > 0) {
      fresh.reset(new (std::nothrow) T[static_cast<size_t>(n)]);
      if (!fresh) return false;
    }
    entries_ = std::move(fresh);
    size_ = n;
    free_.clear();
    // Popped from the back, so entries are handed out in array order.
    for (long i = n - 1; i >= 0; --i) free_.push_back(&entries_[static_cast<size_t>(i)]);
    return true;
  }
  // The next free entry, reset to its default state, or null when none is left.
  T* take() {
    if (free_.empty()) return nullptr;
    T* e = free_.back();
    free_.pop_back();
    *e = T();
    return e;
  }
  // Returns an entry taken from this pool.
  void give(T* e) {
    *e = T();
    free_.push_back(e);
  }
  long size() const { return size_; }
  long inUse() const { return size_ - static_cast<long>(free_.size()); }

private:
  std::unique_ptr<T[]> entries_;
  std::vector<T*> free_;
  long size_ = 0;
};

// Bucket of (table serial, record) among `buckets` (at least 1).
inline size_t lockBucket(uint32_t serial, int32_t record, size_t buckets) {
  uint64_t const h = (static_cast<uint64_t>(serial) << 16) + static_cast<uint64_t>(static_cast<int64_t>(record));
  return static_cast<size_t>(h % (buckets == 0 ? 1 : buckets));
}

// Chained hash of entries with members `serial`, `record` and `hashNext`.
template <class T>
class LockHash {
public:
  explicit LockHash(size_t buckets) : heads_(buckets == 0 ? 1 : buckets, nullptr) {}
  size_t buckets() const { return heads_.size(); }
  // The entry of (serial, record), or null.
  T* find(uint32_t serial, int32_t record) const {
    for (T* e = heads_[lockBucket(serial, record, heads_.size())]; e != nullptr; e = e->hashNext)
      if (e->serial == serial && e->record == record) return e;
    return nullptr;
  }
  // Adds an entry whose key is not yet in the table.
  void insert(T* e) {
    T*& head = heads_[lockBucket(e->serial, e->record, heads_.size())];
    e->hashNext = head;
    head = e;
  }
  // Takes an entry out; false when it was not in the table.
  bool remove(T* e) {
    for (T** p = &heads_[lockBucket(e->serial, e->record, heads_.size())]; *p != nullptr; p = &(*p)->hashNext) {
      if (*p == e) {
        *p = e->hashNext;
        e->hashNext = nullptr;
        return true;
      }
    }
    return false;
  }

  // Every entry, bucket by bucket; `f` must not change the table.
  template <class F>
  void forEach(F f) const {
    for (T* head : heads_)
      for (T* e = head; e != nullptr; e = e->hashNext) f(e);
  }

private:
  std::vector<T*> heads_;
};

}  // namespace svcatalog
