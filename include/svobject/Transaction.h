// Transaction: one client's open transaction as the server records it: its
// number, when it began and last worked, whether it is optimistic, its
// two-phase-commit role and the cause of its abort.
//
// State machine: sound (abort cause code 0) -> optionally ready to end ->
// ended or rolled back and destroyed; sound -> aborted (cause set, final
// until destroyed).
//
// Invariants: the abort cause always exists; the transaction is aborted
// exactly when its code is not 0; start and last-operation stamps come from
// the server time stamp, so two transactions begun in one second are still
// ordered by the stamp's sequence number.
#pragma once

#include <zfound/Exception.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>
#include <memory>

class Transaction {
public:
  static constexpr int32_t kOptimistic = 4;
  static constexpr int32_t kLeader = 8;
  static constexpr int32_t kReadyToEnd = 16;

  // Stamps from the server time stamp; options 1 makes it optimistic.
  Transaction(int32_t number, int32_t options);
  ~Transaction();
  Transaction(Transaction const&) = delete;
  Transaction& operator=(Transaction const&) = delete;

  // True when this transaction began later than t.
  bool workedLess(Transaction const* t) const;
  // The last-operation stamp becomes the server time stamp.
  void tic();
  // The abort cause becomes a copy of e.
  void abort(Exception const& e);
  Exception const& exception() const { return *except_; }
  bool ok() const { return except_->code() == 0; }
  bool isAborted() const { return !ok(); }
  // Stores the leader; marks this server the leader when the name is its own.
  void setLeader(String const& name, TimeStamp const& stamp);
  void setReadyToEnd() { flags_ |= kReadyToEnd; }

  int32_t flags() const { return flags_; }
  int32_t number() const { return number_; }
  TimeStamp const& startStamp() const { return start_; }
  TimeStamp const& lastOpStamp() const { return lastOp_; }
  String const& leader() const { return leader_; }
  TimeStamp const& leaderStamp() const { return leaderStamp_; }

private:
  int32_t flags_ = 0;
  TimeStamp start_;
  int32_t number_;
  String leader_;
  TimeStamp leaderStamp_;
  TimeStamp lastOp_;
  std::unique_ptr<Exception> except_;
};
