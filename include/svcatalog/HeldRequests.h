// The held requests of a table attachment: reading one record by key and
// locking the whole table, each a Coroutine (svobject/Coroutine.h) that
// answers at once or reports that it must wait for a lock.
//
// How a handler uses one (SvTable::getRecord, SvTable::lock):
//
//   GetRecord gr(table, index, key, mode, seconds, nParts);
//   if (!gr.exec(c)) c->setPending(gr, Client::STATE_BLK_LOCK, giveUp);
//   return SvObject::con->retValue();
//
// where giveUp is the server's LockWait when the request's server-wait flag
// is set, else its own seconds (-1: never). A held request answers later
// from the server's wake-up list; the dispatch sends nothing meanwhile.
//
// Mode word (GetRecord, LockTable; cursors use bits 0-4):
//   0x1    acquire; when the lock cannot be had at once, the request waits
//   0x2    do not wait (a conflict is an error at once); without 0x1 the
//          lock is only tested
//   0x8    exclusive lock (type 1 instead of 0)
//   0x10   a notify lock instead of a lock (GetRecord)
//   0x2000 lock type 9 (with 0x8) or 8 (without) instead of 1 or 0
//   0x80, 0x100, 0x200, 0x400, 0x800, 0x1000: GetRecord's find mode (the
//          whole word is passed to SvIndex::findKey)
//
// Invariants: a GetRecord's index number was checked by its handler (the
// constructor and exec check it again and answer InvalidIndexNum rather
// than trust it); the key copy holds the index's key length, or nothing
// for a first/last search.
#pragma once

#include <svobject/Coroutine.h>

#include <cstdint>
#include <vector>

class Client;
class SvTable;

namespace svcatalog {

inline constexpr int32_t kModeAcquire = 0x1;
inline constexpr int32_t kModeNoWait = 0x2;
inline constexpr int32_t kModeExclusive = 0x8;
inline constexpr int32_t kModeNotify = 0x10;
inline constexpr int32_t kModeTypeHigh = 0x2000;

// The lock type a mode word asks for: 0 or 1 (bit 0x8), plus 8 with 0x2000
// when `withHigh`.
uint16_t lockTypeOf(int32_t mode, bool withHigh);

// Reads one record by key, locking or watching it as the mode says; answers
// the record number (-1 when no key matched) and the record.
class GetRecord : public Coroutine {
public:
  // key: the searched key (the index's key length is copied), ignored for
  // a first or last search (0x400, 0x800).
  GetRecord(SvTable* table, int32_t index, char const* key, int32_t mode, int32_t seconds, int32_t nParts);
  GetRecord(GetRecord const& o) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new GetRecord(*this); }

  int32_t mode() const { return mode_; }
  int32_t seconds() const { return seconds_; }

private:
  SvTable* table_;
  std::vector<char> key_;
  int32_t mode_;
  int32_t seconds_;
  int32_t nParts_;
  int32_t index_;
};

// Locks the whole table; answers 0 or the pending error.
class LockTable : public Coroutine {
public:
  LockTable(SvTable* table, int32_t mode, int32_t seconds) : table_(table), mode_(mode), seconds_(seconds) {}
  LockTable(LockTable const& o) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new LockTable(*this); }

  int32_t mode() const { return mode_; }
  int32_t seconds() const { return seconds_; }

private:
  SvTable* table_;
  int32_t mode_;
  int32_t seconds_;
};

}  // namespace svcatalog
