// The held requests of a table attachment: reading one record by key and
// locking the whole table, each a Coroutine (svobject/Coroutine.h) that may
// have to wait for a lock without stopping the server.
//
// How a handler uses one (SvTable::getRecord, SvTable::lock):
//   GetRecord gr(table, index, key, mode, seconds, nParts);
//   if (!gr.exec(c)) c->setPending(gr, Client::STATE_BLK_LOCK, giveUp);
// exec answers as every request does (RequestEnv.h): the result word, the
// record after it, or the pending error. The work is the table's own
// (SvTable::execGetRecord, SvTable::execLockTable), so a request run at
// once and one resumed after its wait answer alike.
//
// Mode word: see SvTable's kMode... bits and the search modes of SvIndex.
//
// Invariants: the key copy has the index's key length (with the record
// number of an index with duplicates); an index number is checked again at
// every run, so an index dropped while the request waited is answered with
// InvalidIndexNum.
#pragma once

#include <svcatalog/SvTable.h>
#include <svobject/Coroutine.h>

#include <cstdint>

namespace svcatalog {

class GetRecord : public Coroutine {
public:
  // key: the searched key (copied), ignored for a first or last search.
  GetRecord(SvTable* table, int32_t index, char const* key, int32_t mode, int32_t seconds, int32_t nParts);
  GetRecord(GetRecord const& o) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new GetRecord(*this); }
  int32_t mode() const { return req_.mode; }
  int32_t seconds() const { return seconds_; }
  // The answer of the last run.
  long result() const { return result_; }

private:
  SvTable* table_;
  SvTable::HeldRead req_;
  int32_t seconds_;
  long result_ = -1;
};

class LockTable : public Coroutine {
public:
  LockTable(SvTable* table, int32_t mode, int32_t seconds) : table_(table), mode_(mode), seconds_(seconds) {}
  LockTable(LockTable const& o) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new LockTable(*this); }
  int32_t mode() const { return mode_; }
  int32_t seconds() const { return seconds_; }
  long result() const { return result_; }

private:
  SvTable* table_;
  int32_t mode_;
  int32_t seconds_;
  long result_ = -1;
};

}  // namespace svcatalog
