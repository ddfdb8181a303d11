// Client identity, state, transaction and the lock side's data.
#include <svobject/Client.h>

#include <svobject/ClientEnv.h>
#include <svobject/SvObject.h>
#include <svobject/Transaction.h>

#include <zfound/Assert.h>
#include <zfound/UserInfo.h>

#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

Client::Client(int32_t pid, String const& path, String const& args, int32_t uid, int32_t gid, String const& node,
               String const& tty, bool stoppable)
    : pid_(pid), proc_(path.baseFullName()), args_(args), uid_(uid), gid_(gid), node_(node), tty_(tty),
      connTime_(Time::now()), stoppable_(stoppable), procStart_(processStartTime(pid)) {}

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

void Client::getUser(String& user, String& group) const {
  // The account database names the group of the user's account.
  Password pw{int64_t(uid_)};
  user = pw.userName();
  group = pw.groupName();
}

// The client's own process lock is released by the server before the
// client goes (the server keeps the count of holders).
Client::~Client() {
  ClientEnv::delWakeUpClient(this);
  freeAllLocks(true);
  if (state_ == STATE_BLK_LOCK || state_ == STATE_BLK_TRANS) chgState(STATE_READY);
  if (trans_ && !trans_->isAborted() && ClientEnv::hooks().lostTrans != nullptr) ClientEnv::hooks().lostTrans(this);
  trans_.reset();
  for (size_t i = objects_.size(); i-- > 0;) {
    if (i < objects_.size() && objects_[i]->objectType() == 64) delObject(objects_[i]);
  }
  while (!objects_.empty())
    delObject(objects_.back());
}

bool Client::processExists(int32_t pid) {
  // kill of 0 or a negative pid reaches process groups, never one process.
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

namespace {

// The second number after `label` ("Uid:" or "Gid:") at the start of a line
// of a /proc status text: the effective id.
bool effectiveId(char const* text, char const* label, int32_t& id) {
  size_t const n = std::strlen(label);
  for (char const* line = text; line != nullptr && *line != '\0';) {
    if (std::strncmp(line, label, n) == 0) {
      char const* p = line + n;
      char* end = nullptr;
      errno = 0;
      std::strtoll(p, &end, 10);  // the real id
      if (end == p || errno != 0) return false;
      p = end;
      long long const v = std::strtoll(p, &end, 10);
      if (end == p || errno != 0 || v < 0 || v > 0xffffffffLL) return false;
      id = int32_t(uint32_t(v));
      return true;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return false;
}

}  // namespace

bool Client::processIds(int32_t pid, int32_t& uid, int32_t& gid) {
  if (pid <= 0) return false;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/status", int(pid));
  int const fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // The ids come within the first lines; a longer text is cut.
  char buf[4096];
  size_t got = 0;
  for (;;) {
    ssize_t const n = ::read(fd, buf + got, sizeof buf - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
    if (got == sizeof buf - 1) break;
  }
  ::close(fd);
  buf[got] = '\0';
  return effectiveId(buf, "Uid:", uid) && effectiveId(buf, "Gid:", gid);
}

// Field 22 of /proc/<pid>/stat, counted after the command name's closing
// parenthesis (the name itself may hold blanks and parentheses).
int64_t Client::processStartTime(int32_t pid) {
  if (pid <= 0) return -1;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
  int const fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char buf[1024];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return -1;
  buf[n] = '\0';
  char const* p = std::strrchr(buf, ')');
  if (p == nullptr) return -1;
  ++p;
  // After ")": field 3 (state) is the first; the start time is field 22.
  for (int field = 3; field < 22; ++field) {
    while (*p == ' ') ++p;
    while (*p != ' ' && *p != '\0') ++p;
    if (*p == '\0') return -1;
  }
  while (*p == ' ') ++p;
  char* end = nullptr;
  errno = 0;
  long long const v = std::strtoll(p, &end, 10);
  if (end == p || errno != 0 || v < 0) return -1;
  return int64_t(v);
}

bool Client::heartBeat() {
  if (!processExists(pid_)) return false;
  if (procStart_ >= 0) {
    int64_t const now = processStartTime(pid_);
    // The pid was handed to a process started after the Connect.
    if (now >= 0 && now != procStart_) return false;
  }
  // A voted transaction waits for its end, which its leader may have
  // decided already: it never times out.
  if (ClientEnv::transTimeOut != 0 && trans_ && !trans_->isAborted() && !hasReadyToEndTrans() &&
      state_ != STATE_ZOMBIE) {
    int64_t const idle = int64_t(ClientEnv::stamp().time().value()) - int64_t(trans_->lastOpStamp().time().value());
    if (idle >= ClientEnv::transTimeOut) {
      abortTrans(ZombieClient(id_));
      chgState(STATE_ZOMBIE);
    }
  }
  return true;
}

void Client::stopAsap() const {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

bool Client::canAttach() const {
  if (ClientEnv::maxAttachsPerClient > 0 && nObjects() >= ClientEnv::maxAttachsPerClient) {
    if (Exception::last().code() == 0) Exception::last(TooManyAttachs(ClientEnv::maxAttachsPerClient));
    return false;
  }
  return true;
}

bool Client::addObject(SvObject* o) {
  if (o == nullptr || !canAttach()) return false;
  objects_.push_back(o);
  o->incReference();
  return true;
}

int32_t Client::findObject(SvObject const* o) const {
  for (size_t i = 0; i < objects_.size(); ++i)
    if (objects_[i] == o) return int32_t(i);
  return -1;
}

int32_t Client::delObject(SvObject* o) {
  int32_t const i = findObject(o);
  if (o == nullptr || i < 0) return -1;
  objects_.erase(objects_.begin() + i);
  o->decReference();
  bool const destroy =
      ClientEnv::hooks().detachObject != nullptr ? ClientEnv::hooks().detachObject(this, o) : o->isTemp();
  if (destroy) delete o;
  return 0;
}

int32_t Client::takeObject(SvObject const* o) {
  int32_t n = 0;
  for (size_t i = objects_.size(); i-- > 0;) {
    if (objects_[i] != o) continue;
    objects_[i]->decReference();
    objects_.erase(objects_.begin() + std::ptrdiff_t(i));
    ++n;
  }
  return n;
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
