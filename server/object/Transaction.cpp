// A client's transaction record.
#include <svobject/Transaction.h>

#include <svobject/ClientEnv.h>

#include <zfound/Assert.h>

Transaction::Transaction(int32_t number, int32_t options)
    : start_(ClientEnv::stamp()), number_(number), lastOp_(ClientEnv::stamp()), except_(new Exception(0)) {
  if (options == 1) flags_ |= kOptimistic;
}

Transaction::~Transaction() { ZF_ASSERT_TEXT(except_ != nullptr, "except != (0)"); }

bool Transaction::workedLess(Transaction const* t) const {
  if (!ZF_ASSERT_TEXT(t != nullptr, "t != (0)")) return false;
  return start_.cmp(t->start_) > 0;
}

void Transaction::tic() { lastOp_ = ClientEnv::stamp(); }

void Transaction::abort(Exception const& e) { except_.reset(e.clone()); }

void Transaction::setLeader(String const& name, TimeStamp const& stamp) {
  leader_ = name;
  leaderStamp_ = stamp;
  if (!name.isNull() && name == ClientEnv::serverName) flags_ |= kLeader;
}
