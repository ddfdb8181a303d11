// Client identity, state, transaction and the lock side's data.
#include <svobject/Client.h>

#include <svobject/ClientEnv.h>
#include <svobject/Transaction.h>

#include <zfound/Assert.h>
#include <zfound/UserInfo.h>

#include <csignal>
#include <sys/types.h>

Client::Client(int32_t pid, String const& path, String const& args, int32_t uid, int32_t gid, String const& node,
               String const& tty, bool stoppable)
    : pid_(pid), proc_(path.baseFullName()), args_(args), uid_(uid), gid_(gid), node_(node), tty_(tty),
      connTime_(Time::now()), stoppable_(stoppable) {}

String Client::descr() const {
  String s = proc_;
  if (!args_.isNull())
    s += String(" ") + args_;
  Password pw{int64_t(uid_)};
  return s + ":" + pw.userName() + ":" + node_ + ":" + tty_ + ":" + toString(long(pid_));
}

char const* Client::stateLetter(int32_t st) {
  switch (st) {
  case STATE_READY: return "N";
  case STATE_BLK_LOCK: return "L";
  case STATE_BLK_TRANS: return "B";
  case STATE_ZOMBIE: return "Z";
  default: return "?";
  }
}

Client::~Client() {
  ClientEnv::delWakeUpClient(this);
  freeAllLocks(true);
}

void Client::chgState(ClientState s) {
  state_ = s;
  if (s != STATE_BLK_LOCK && !giveUp_.isNull()) lockGiveUp(Time());
}

// A pid from outside that is 0 or negative names a process group (the
// server's own, or every process); only a single process is signalled.
void Client::notify() const {
  if (pid_ > 0) ::kill(pid_, SIGUSR1);
}

void Client::waitFor(svcatalog::LockObject* lock) {
  state_ = STATE_BLK_LOCK;
  pendLock_ = lock;
  if (ClientEnv::pendLockNotifTime > 0)
    pendLockNotif(ClientEnv::stamp().time() + ClientEnv::pendLockNotifTime);
}

void Client::clearPendLock() {
  svcatalog::LockObject* const lock = pendLock_;
  pendLock_ = nullptr;
  if (lock != nullptr && ClientEnv::hooks().destroyWaiting != nullptr) ClientEnv::hooks().destroyWaiting(lock);
}

void Client::toBeWaken() {
  clearPendLock();
  chgState(STATE_READY);
  ClientEnv::addWakeUpClient(this);
}

void Client::freeAllLocks(bool freeP) {
  if (ClientEnv::hooks().freeAllLocks != nullptr) {
    ClientEnv::hooks().freeAllLocks(this, freeP);
    return;
  }
  // Without a lock manager no entry was ever linked; only the pointer goes.
  pendLock_ = nullptr;
}

void Client::setPending(Coroutine const& co, ClientState st, int32_t seconds) {
  pending_.reset(co.clone());
  chgState(st);
  lockGiveUp(seconds < 0 ? Time() : ClientEnv::stamp().time() + seconds);
}

void Client::clearPending() {
  chgState(STATE_READY);
  pendLockNotif(Time());
  pending_.reset();
}

bool Client::workedLess(Client const* cl, Client const* requester) const {
  if (!ZF_ASSERT_TEXT(cl != nullptr, "cl != (0)")) return false;
  if (!trans_) return this == requester;
  if (!cl->trans_) return cl != requester;
  return trans_->workedLess(cl->trans_.get());
}

void Client::lockGiveUp(Time const& t) {
  giveUp_ = t;
  updateEvent(t);
}

void Client::pendLockNotif(Time const& t) {
  notifAt_ = t;
  updateEvent(t);
}

void Client::updateEvent(Time const& t) {
  if (!t.isNull()) {
    if (nextEvent_.isNull() || t < nextEvent_) {
      nextEvent_ = t;
      if (ClientEnv::hooks().eventAt != nullptr) ClientEnv::hooks().eventAt(t);
    }
    return;
  }
  if (giveUp_.isNull())
    nextEvent_ = notifAt_;
  else if (notifAt_.isNull() || giveUp_ < notifAt_)
    nextEvent_ = giveUp_;
  else
    nextEvent_ = notifAt_;
}

void Client::beginTrans(int32_t number, int32_t options) {
  if (!ZF_ASSERT_TEXT(trans_ == nullptr, "trans == (0)")) return;
  trans_ = std::make_unique<Transaction>(number, options);
}

void Client::delTrans() {
  ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)");
  trans_.reset();
}

void Client::abortTrans(Exception const& e) {
  if (!ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)")) return;
  if (!ZF_ASSERT_TEXT(!trans_->isAborted(), "!trans->isAborted()")) return;
  trans_->abort(e);
  if (ClientEnv::hooks().abortTrans != nullptr) ClientEnv::hooks().abortTrans(this, true);
}

Exception const& Client::abortionCause() const {
  static Exception const none(0);
  if (!ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)")) return none;
  ZF_ASSERT_TEXT(trans_->isAborted(), "trans->isAborted()");
  return trans_->exception();
}

bool Client::transAborted() const { return trans_ && trans_->isAborted(); }
bool Client::hasOptimisticTrans() const { return trans_ && (trans_->flags() & Transaction::kOptimistic) != 0; }

void Client::transTic() {
  if (trans_) trans_->tic();
}

int32_t Client::transNum() const { return trans_ ? trans_->number() : -1; }

TimeStamp const& Client::transStamp() const {
  static TimeStamp const none;
  if (!ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)")) return none;
  return trans_->startStamp();
}

TimeStamp Client::leaderTS() const { return trans_ ? trans_->leaderStamp() : TimeStamp(); }
String Client::leader() const { return trans_ ? trans_->leader() : String(); }

void Client::setTransLeader(String const& name, TimeStamp const& stamp) {
  if (ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)")) trans_->setLeader(name, stamp);
}

void Client::readyToEnd() {
  if (ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)")) trans_->setReadyToEnd();
}

bool Client::hasLeaderTrans() const {
  return ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)") && (trans_->flags() & Transaction::kLeader) != 0;
}

bool Client::hasReadyToEndTrans() const {
  return ZF_ASSERT_TEXT(trans_ != nullptr, "trans != (0)") && (trans_->flags() & Transaction::kReadyToEnd) != 0;
}
