// SvConnection: set-up of the endpoint, reception of requests in parts,
// batches of void requests, replies under the queue-full policy, draining
// and the stop flag. The receive state machine is described in the header.
//
// The received request sits in rcv_ as it came off the queues: part k at
// word k * 256, each part a 3-word header and its body. A batch (several
// requests in the first part) is checked as a whole before any request of
// it is handed out, so every header used later is known to lie inside the
// received data.
#include <svcore/SvConnection.h>

#include <svcore/RunLog.h>

#include <svobject/Client.h>

#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/MsgHeader.h>
#include <zfound/String.h>

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <unistd.h>

namespace {

constexpr int32_t kSlotWords = MSG_PART_BYTES / 4;  // 256: one part's room
constexpr int32_t kMaxRequestWords = SvConnection::kMaxRequestBytes / 4;
// The reply queue's byte limit asked for at creation.
constexpr unsigned long kReplyQueueBytes = 1024ul * 1024ul;
// Rounds of the queue-full policy before a reply is given up.
constexpr int kSendRounds = 4;

key_t keyOf(int32_t serverId, int32_t what) { return key_t((uint32_t(serverId) << 8) | uint32_t(what)); }

void onAlarm(int) {}

// The alarm of a blocking receive: the handler is installed without
// restart so that msgrcv returns EINTR. It is installed before every wait
// (a client connection of the server, as the in-doubt query makes, sets
// SIGALRM to be ignored after its own calls) and stays in place. It is set
// to the time the next housekeeping pass falls due and is not cancelled
// when a request arrives: an alarm that falls due while a request is
// handled runs the empty handler and interrupts nothing (outside the wait
// the server makes no blocking call that a signal cuts short but the retry
// sleep of a file error, which retries all the same); the due pass is then
// found by its time before the next request. The destructor cancels it.
void armWaitAlarm(unsigned seconds) {
  struct sigaction sa {};
  sa.sa_handler = onAlarm;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGALRM, &sa, nullptr);
  alarm(seconds);
}

// True when a process of that pid exists (EPERM: it exists, not ours).
bool processExists(int32_t pid) { return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno == EPERM); }

[[noreturn]] void fatalSys(char const* key, int err) {
  String text = libMsg(key, key);
  error(String("%S%d"), &text, err);
  _exit(1);
}

}  // namespace

// ---- set-up ------------------------------------------------------------------------

SvConnection::SvConnection(int32_t serverId, Hooks const& hooks) : hooks_(hooks) {
  capacity_ = kPartWords;
  peerId_ = -1;
  key_t key = keyOf(serverId, 0);
  bool existed = true;
  semId_ = semget(key, 2, 0);
  if (semId_ < 0) {
    existed = false;
    semId_ = semget(key, 2, IPC_CREAT | IPC_EXCL | kSemMode);
    if (semId_ < 0 && errno == EEXIST) {
      // Made meanwhile (a server starting beside this one): its lock decides.
      existed = true;
      semId_ = semget(key, 2, 0);
    }
    if (semId_ < 0)
      throw SvConnectionError{errno == ENOSPC ? "NOMSEM" : "SYSCFAILED", "semget", errno};
  }
  auto takeLock = [this]() {
    struct sembuf ops[2] = {{0, 0, IPC_NOWAIT}, {0, 1, SEM_UNDO}};
    return semop(semId_, ops, 2);
  };
  if (takeLock() < 0) {
    int err = errno;
    semId_ = -1;  // not ours: never removed here
    if (err == EAGAIN)
      throw SvConnectionError{"SVALREADYRUN", "", 0};
    throw SvConnectionError{"SYSCFAILED", "semop", err};
  }
  if (existed) {
    // A set left by an earlier run: start afresh with both values 0.
    semctl(semId_, 0, IPC_RMID);
    semId_ = semget(key, 2, IPC_CREAT | IPC_EXCL | kSemMode);
    if (semId_ < 0)
      throw SvConnectionError{errno == ENOSPC ? "NOMSEM" : "SYSCFAILED", "semget", errno};
    if (takeLock() < 0) {
      int err = errno;
      semctl(semId_, 0, IPC_RMID);
      semId_ = -1;
      throw SvConnectionError{err == EAGAIN ? "SVALREADYRUN" : "SYSCFAILED", "semop", err};
    }
  }
  int* ids[3] = {&reqQ_, &contQ_, &repQ_};
  char const tags[3] = {'s', 'c', 'r'};
  for (int i = 0; i < 3; ++i) {
    // Always a queue of its own: one left under the key (by an earlier run
    // or by another user) is removed, and the new one is made exclusively,
    // so that nobody else owns a queue the server reads or answers on.
    key_t k = keyOf(serverId, tags[i]);
    for (int tries = 0;; ++tries) {
      int old = msgget(k, 0);
      if (old >= 0)
        msgctl(old, IPC_RMID, nullptr);
      *ids[i] = msgget(k, IPC_CREAT | IPC_EXCL | kQueueMode);
      if (*ids[i] >= 0)
        break;
      int err = errno;
      if (err != EEXIST || tries >= 16)
        throw SvConnectionError{err == ENOSPC ? "NOMQ" : "SYSCFAILED", "msgget", err};
    }
  }
  // Room for the replies of many clients: a full reply queue must not be
  // the normal state (root may raise the limit).
  struct msqid_ds ds {};
  if (msgctl(repQ_, IPC_STAT, &ds) == 0 && ds.msg_qbytes < kReplyQueueBytes) {
    ds.msg_qbytes = kReplyQueueBytes;
    msgctl(repQ_, IPC_SET, &ds);
  }
  rcv_.assign(kSlotWords, 0);
  buffer_ = send_;
  writePos_ = send_ + 3;
  writeLeft_ = capacity_;
}

SvConnection::SvConnection(SvQueueCalls const& calls, Hooks const& hooks) : hooks_(hooks), calls_(calls) {
  capacity_ = kPartWords;
  peerId_ = -1;
  reqQ_ = 0;
  contQ_ = 1;
  repQ_ = 2;
  rcv_.assign(kSlotWords, 0);
  buffer_ = send_;
  writePos_ = send_ + 3;
  writeLeft_ = capacity_;
}

SvConnection::~SvConnection() { removeSystemObjects(); }

void SvConnection::removeSystemObjects() {
  if (calls_.receive)
    return;  // nothing of the system's was made
  alarm(0);  // the alarm of the last wait
  if (semId_ >= 0)
    semctl(semId_, 0, IPC_RMID);
  semId_ = -1;
  for (int* q : {&reqQ_, &contQ_, &repQ_}) {
    if (*q >= 0)
      msgctl(*q, IPC_RMID, nullptr);
    *q = -1;
  }
}

bool SvConnection::serverRunning(int32_t serverId) {
  int id = semget(keyOf(serverId, 0), 2, 0);
  if (id < 0)
    return false;
  int v = semctl(id, 0, GETVAL);
  return v > 0;
}

long SvConnection::rcvPart(int q, SysVMsgPart* m, long type, int flags) {
  if (calls_.receive)
    return calls_.receive(calls_.ctx, q, m, type, flags | MSG_NOERROR);
  return long(msgrcv(q, m, MSG_PART_BYTES, type, flags | MSG_NOERROR));
}

int SvConnection::sndPart(int q, SysVMsgPart const* m, unsigned long bytes, int flags) {
  if (calls_.send)
    return calls_.send(calls_.ctx, q, m, bytes, flags);
  return msgsnd(q, m, size_t(bytes), flags);
}

void SvConnection::warn(char const* text) const {
  if (hooks_.warning)
    hooks_.warning(text);
  else
    warning(String("%s"), text);
}

// ---- receiving ------------------------------------------------------------------

namespace {

// Checks the layout of a whole received request of n words (parts at
// 256-word slots): the first part a chain of whole requests of one client
// type, of which only the last may go on; every further part one full
// header of the same type, continued but for the last. `why` names the
// first fault.
bool checkRequest(uint32_t const* w, int32_t n, int32_t type, char const*& why) {
  int32_t nParts = n <= 0 ? 0 : (n + kSlotWords - 1) / kSlotWords;
  if (nParts == 0) {
    why = "empty request";
    return false;
  }
  int32_t first = nParts == 1 ? n : kSlotWords;
  std::vector<MsgBatchItem> items;
  if (!splitMsgWords(w, first, items)) {
    why = "malformed part";
    return false;
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].h.clientId != type) {
      why = "batched request of another client";
      return false;
    }
    if (items[i].h.continued() && i + 1 != items.size()) {
      why = "continued request inside a batch";
      return false;
    }
  }
  bool goesOn = items.back().h.continued();
  if (goesOn != (nParts > 1) || (goesOn && items.size() != 1)) {
    why = "continuation part missing or not full";
    return false;
  }
  for (int32_t k = 1; k < nParts; ++k) {
    uint32_t const* p = w + k * kSlotWords;
    int32_t size = k + 1 == nParts ? n - k * kSlotWords : kSlotWords;
    if (size < 3) {
      why = "short continuation part";
      return false;
    }
    s_MsgBuff h = s_MsgBuff::read(p);
    bool last = k + 1 == nParts;
    if (h.clientId != type || h.length() != size - 3 || h.continued() == last) {
      why = "malformed continuation part";
      return false;
    }
  }
  return true;
}

}  // namespace

void SvConnection::refuse(int32_t cid, int32_t msg, char const* why) {
  String text = String("request of client ") + toString(cid) + ": " + why;
  cur_ = reqStart_ = -1;
  rcvEnd_ = 0;
  if (msg < 0 || (validSvMessage(msg) && isVoid(SvMessage(msg)))) {
    warn(toCharPtr(text + " (dropped)"));
    return;
  }
  InvalidData e(text);
  replyError(cid, e);
}

bool SvConnection::setCurrent(int32_t at) {
  if (at < 0 || at + 3 > rcvEnd_)
    return false;
  s_MsgBuff h = s_MsgBuff::read(&rcv_[size_t(at)]);
  cur_ = reqStart_ = at;
  // The type is the sender's word: any value, the lowest included. The id
  // it gives is checked against the clients by the dispatch.
  clientId_ = int32_t(uint32_t(h.clientId) - 1u);
  objectId_ = h.objId;
  msg_ = h.serverOp;
  curVoid_ = validSvMessage(msg_) && isVoid(SvMessage(msg_));
  readPos_ = &rcv_[size_t(at)] + 3;
  readLeft_ = h.length();
  clearBad();
  counter_ = -1;
  return true;
}

// The word index just after the request whose header is at `at` (a request
// that goes on ends with the received data).
static int32_t requestEnd(std::vector<uint32_t> const& w, int32_t at, int32_t end) {
  s_MsgBuff h = s_MsgBuff::read(&w[size_t(at)]);
  if (h.continued())
    return end;
  return at + 3 + h.length();
}

bool SvConnection::isBufferingMsg() const {
  return reqStart_ >= 0 && requestEnd(rcv_, reqStart_, rcvEnd_) < rcvEnd_;
}

int32_t SvConnection::receive(int32_t& objectId, int32_t& msg) {
  if (reqStart_ >= 0) {
    int32_t next = requestEnd(rcv_, reqStart_, rcvEnd_);
    if (next < rcvEnd_) {
      if (curVoid_) {
        if (trace_)
          std::fputs("B>", stderr);
        setCurrent(next);  // checked with the whole batch
        objectId = objectId_;
        msg = msg_;
        return clientId_;
      }
      warn(toCharPtr(String(appMsg("MSGAFTERNONVOIDMSG", "Requests after a request with a reply dropped, client")) +
                     " " + toString(clientId_)));
    }
  }
  cur_ = reqStart_ = -1;
  rcvEnd_ = 0;
  clientId_ = -1;
  for (;;) {
    bool fromLog = runLog_ && runLog_->replaying() && receiveFromLog();
    if (!fromLog)
      receiveFromQueues();
    if (rcvEnd_ == 0)
      continue;  // refused: wait for the next request
    if (runLog_ && runLog_->recording())
      runLog_->writeMsg(rcv_.data(), rcvEnd_ * 4);
    setCurrent(0);
    objectId = objectId_;
    msg = msg_;
    return clientId_;
  }
}

bool SvConnection::receiveFromLog() {
  int32_t len = runLog_->readMsgSize();
  if (len < 0)
    return false;
  if (len < 12 || len % 4 != 0 || len > kMaxRequestBytes)
    runLog_->invalid();
  int32_t n = len / 4;
  rcv_.resize(size_t((n + kSlotWords - 1) / kSlotWords * kSlotWords));
  runLog_->readMsg(rcv_.data(), len);
  rcvEnd_ = n;
  char const* why = nullptr;
  if (!checkRequest(rcv_.data(), n, msgClientId(rcv_.data()), why))
    runLog_->invalid();
  return true;
}

unsigned SvConnection::houseKeepingPeriod() const { return runLog_ && runLog_->recording() ? 30u : 2u; }

void SvConnection::passHouseKeeping() {
  if (hooks_.houseKeeping)
    hooks_.houseKeeping();
  houseKeepingDue_ = std::chrono::steady_clock::now() + std::chrono::seconds(houseKeepingPeriod());
}

void SvConnection::receiveFromQueues() {
  SysVMsgPart in;
  for (;;) {  // one request
    int32_t part = 0;
    int32_t type = 0;
    int32_t passes = 0;
    bool oversize = false;
    int32_t firstOp = -1;
    rcvEnd_ = 0;
    if (trace_)
      std::fputs(">", stderr);
    for (;;) {  // one part
      // A pass due by the request count, or by its time on the queues (a
      // connection with its own calls has no clock of housekeeping).
      auto const now = std::chrono::steady_clock::now();
      bool const timed = !calls_.receive;
      if (timed && houseKeepingDue_ == std::chrono::steady_clock::time_point{})
        houseKeepingDue_ = now + std::chrono::seconds(houseKeepingPeriod());
      if ((hooks_.isHouseKeepingTime && hooks_.houseKeeping && hooks_.isHouseKeepingTime()) ||
          (timed && now >= houseKeepingDue_))
        passHouseKeeping();
      ssize_t r = -1;
      // A request already queued is taken without a wait (and so without
      // the alarm's system calls). While such tries find nothing, as with
      // a single client that waits for each reply, they are made ever more
      // seldom (up to one in kNoWaitSkipMax + 1 waits).
      bool waited = true;
      if (part == 0 && noWaitSkip_ == 0) {
        r = rcvPart(reqQ_, &in, 0, IPC_NOWAIT);
        if (r >= 0) {
          waited = false;
          noWaitBackoff_ = 0;
        } else if (errno != ENOMSG) {
          fatalSys("ERRRMSG", errno);
        } else {
          noWaitBackoff_ = noWaitBackoff_ == 0 ? 1 : std::min(noWaitBackoff_ * 2, kNoWaitSkipMax);
          noWaitSkip_ = noWaitBackoff_;
        }
      } else if (part == 0) {
        --noWaitSkip_;
      }
      if (waited) {
        if (timed) {
          // Whole seconds to the due pass, rounded up (at least one).
          auto const left = std::chrono::ceil<std::chrono::seconds>(houseKeepingDue_ - std::chrono::steady_clock::now());
          armWaitAlarm(unsigned(std::clamp<int64_t>(int64_t(left.count()), 1, int64_t(houseKeepingPeriod()))));
        }
        r = rcvPart(part == 0 ? reqQ_ : contQ_, &in, part == 0 ? 0 : long(type), 0);
      }
      if (r < 0) {
        int err = errno;
        if (err != EINTR)
          fatalSys("ERRRMSG", err);
        passHouseKeeping();
        if (part > 0) {
          int32_t cid = type - 1;
          bool gone = (cid & kConnectFlag) ? !processExists(cid & ~kConnectFlag)
                                           : (hooks_.knownClient && !hooks_.knownClient(cid));
          if (++passes >= kContinuationPasses || gone) {
            String t = String(appMsg("NOMSGCONT", "No continuation of a request from client")) + " " + toString(cid);
            warn(toCharPtr(t));
            break;  // drop the partial request
          }
        }
        continue;
      }
      s_MsgBuff h;
      std::vector<MsgBatchItem> items;
      if (part == 0) {
        // One request, or a batch of them: the headers must chain exactly.
        type = int32_t(in.mtype);
        if (r >= 12)
          firstOp = msgServerOp(in.words);
        if (type <= 0 || !splitSysVBatch(in, long(r), items)) {
          refuse(type - 1, firstOp, "malformed part");
          break;
        }
      } else {
        SysVPartKind kind = unpackSysVPart(in, long(r), h);
        if (trace_)
          std::fputs("|", stderr);
        if (kind != SysVPartKind::Part || h.clientId != type) {
          refuse(type - 1, firstOp, "malformed continuation part");
          drainQueue(contQ_, long(type), nullptr);
          break;
        }
        passes = 0;
      }
      // The last header of the part tells whether the request goes on.
      bool goesOn = part == 0 ? items.back().h.continued() : h.continued();
      if (goesOn && r != MSG_PART_BYTES) {
        refuse(type - 1, firstOp, "continuation part that is not full");
        if (part > 0)
          drainQueue(contQ_, long(type), nullptr);
        break;
      }
      if (!oversize) {
        if ((part + 1) * kSlotWords > kMaxRequestWords) {
          oversize = true;  // read on to its last part, keep nothing more
        } else {
          if (rcv_.size() < size_t((part + 1) * kSlotWords))
            rcv_.resize(size_t((part + 1) * kSlotWords));
          std::memcpy(&rcv_[size_t(part * kSlotWords)], in.words, size_t(r));
          rcvEnd_ = part * kSlotWords + int32_t(r / 4);
        }
      }
      if (!goesOn) {
        if (oversize) {
          refuse(type - 1, firstOp, "request above the size bound");
          break;
        }
        char const* why = nullptr;
        if (!checkRequest(rcv_.data(), rcvEnd_, type, why)) {
          refuse(type - 1, firstOp, why);
          break;
        }
        return;
      }
      if (part == 0) {
        // The go-ahead for the other parts: an empty message of the type.
        if (!sendPart(long(type), in.words, 0)) {
          rcvEnd_ = 0;
          break;
        }
      }
      ++part;
    }
    rcvEnd_ = 0;
    cur_ = reqStart_ = -1;
    return;  // refused or dropped: the caller waits again
  }
}

void SvConnection::fillBuff() { _fill(); }

void SvConnection::_fill() {
  // The words of the current part are used up: the request must go on in
  // the next part, which must lie inside the received data.
  if (cur_ < 0 || cur_ + 3 > rcvEnd_) {
    readPos_ = nullptr;
    readLeft_ = -1;
    return;
  }
  s_MsgBuff h = s_MsgBuff::read(&rcv_[size_t(cur_)]);
  int32_t next = cur_ + kSlotWords;
  if (!h.continued() || next + 3 > rcvEnd_) {
    readPos_ = nullptr;
    readLeft_ = -1;
    return;
  }
  s_MsgBuff nh = s_MsgBuff::read(&rcv_[size_t(next)]);
  cur_ = next;
  readPos_ = &rcv_[size_t(next)] + 3;
  readLeft_ = nh.length() - 1;
}

void SvConnection::recInt(int32_t& w) { popWord(w); }

void SvConnection::getRemainder() {
  if (reqStart_ < 0)
    return;
  s_MsgBuff h = s_MsgBuff::read(&rcv_[size_t(cur_)]);
  while (h.continued() && cur_ + kSlotWords + 3 <= rcvEnd_) {
    cur_ += kSlotWords;
    h = s_MsgBuff::read(&rcv_[size_t(cur_)]);
  }
  readLeft_ = 0;
  readPos_ = nullptr;
}

void SvConnection::clear() {
  s_MsgBuff h = s_MsgBuff::read(send_);
  h.setFlags(0);
  h.write(send_);
  cur_ = reqStart_ = -1;
  rcvEnd_ = 0;
  readLeft_ = 0;
  readPos_ = nullptr;
}

// ---- replying ---------------------------------------------------------------------

void SvConnection::startSendPart() {
  buffer_ = send_;
  writePos_ = send_ + 3;
  writeLeft_ = capacity_;
}

void SvConnection::reply(int32_t cid, int32_t status, int32_t result) {
  s_MsgBuff h;
  h.clientId = int32_t(uint32_t(cid) + 1u);  // back to the type the request came under
  h.objId = result;
  h.serverOp = int16_t(status);
  if (int32_t(h.serverOp) != status)
    h.serverOp = -1;
  h.setContinued(true);
  h.write(send_);
  startSendPart();
}

void SvConnection::reply() {
  s_MsgBuff h = s_MsgBuff::read(send_);
  h.setFlags(0);
  h.write(send_);
  _flush();
}

void SvConnection::reply(Client* c, Exception const& e) {
  reply(c ? c->id() : clientId_, e.code(), -1);
  e.send(this);
}

void SvConnection::replyError(Client* c, Exception const& e) {
  String text = e.message();
  warn(toCharPtr(text));
  reply(c ? c->id() : clientId_, -e.code(), -1);
  e.send(this);
}

void SvConnection::replyError(int32_t cid, Exception const& e) {
  String text = e.message();
  warn(toCharPtr(text));
  reply(cid, -e.code(), -1);
  e.send(this);
  getRemainder();
  reply();
}

void SvConnection::sendException(Exception const& e) {
  if (writePos_ != send_ + 3)
    startSendPart();
  setMsgServerOp(send_, int16_t(e.code()));
  e.send(this);
}

void SvConnection::_flush() {
  int32_t n = int32_t(writePos_ - (send_ + 3));
  s_MsgBuff h = s_MsgBuff::read(send_);
  h.setLength(n);
  h.write(send_);
  if (!(runLog_ && runLog_->replaying()) && h.clientId > 0) {
    if (trace_)
      std::fputs("<", stderr);
    sendPart(long(h.clientId), send_, 12 + 4 * n);
  }
  startSendPart();
  // Called by pushWord when the part is full: the word about to be written
  // is the first of the new part, so one less is left (a full part is 253
  // body words, never one more past the send buffer).
  writeLeft_ = capacity_ - 1;
  ++nFlushs_;
}

bool SvConnection::sendPart(long type, void const* text, int32_t n) {
  SysVMsgPart out;
  out.mtype = type;
  if (n > 0)
    std::memcpy(out.words, text, size_t(n));
  int32_t removed = -1;
  for (int round = 0; round < kSendRounds; ++round) {
    if (sndPart(repQ_, &out, unsigned(n), IPC_NOWAIT) == 0)
      return true;
    int err = errno;
    if (err != EAGAIN && err != EINTR)
      fatalSys("ERRSMSG", err);
    if (removed >= 0 && removed == int32_t(type) - 1)
      return false;  // the addressee was removed: its reply goes nowhere
    switch (round) {
    case 0:
      if (hooks_.heartBeat)
        hooks_.heartBeat();
      break;
    case 1: {
      // Replies of clients the server does not know any more.
      SysVMsgPart m;
      std::vector<std::pair<long, std::vector<uint32_t>>> keep;
      ssize_t r;
      while ((r = rcvPart(repQ_, &m, 0, IPC_NOWAIT)) >= 0) {
        int32_t cid = int32_t(m.mtype) - 1;
        bool known = (cid & kConnectFlag) ? processExists(cid & ~kConnectFlag)
                                          : (!hooks_.knownClient || hooks_.knownClient(cid));
        if (known)
          keep.emplace_back(m.mtype, std::vector<uint32_t>(m.words, m.words + r / 4));
      }
      for (auto const& k : keep) {
        SysVMsgPart back;
        back.mtype = k.first;
        std::memcpy(back.words, k.second.data(), k.second.size() * 4);
        sndPart(repQ_, &back, k.second.size() * 4, IPC_NOWAIT);
      }
      break;
    }
    default: {
      int32_t heavy = heaviestReader();
      if (heavy < 0 || !hooks_.removeClient)
        break;
      String t = String(appMsg("QUEUEFULL", "Reply queue full: client removed")) + " " + toString(heavy);
      warn(toCharPtr(t));
      removed = heavy;
      drain(heavy);
      hooks_.removeClient(heavy);
      break;
    }
    }
  }
  String t = String(appMsg("QUEUEFULL", "Reply queue full: client removed")) + " " + toString(int32_t(type) - 1);
  warn(toCharPtr(t));
  return false;
}

int32_t SvConnection::heaviestReader() {
  // Count the replies waiting per type by reading them and sending them back
  // in order.
  SysVMsgPart m;
  std::vector<std::pair<long, std::vector<uint32_t>>> all;
  ssize_t r;
  while ((r = rcvPart(repQ_, &m, 0, IPC_NOWAIT)) >= 0)
    all.emplace_back(m.mtype, std::vector<uint32_t>(m.words, m.words + r / 4));
  std::map<long, int32_t> count;
  for (auto const& a : all)
    ++count[a.first];
  for (auto const& a : all) {
    SysVMsgPart back;
    back.mtype = a.first;
    std::memcpy(back.words, a.second.data(), a.second.size() * 4);
    sndPart(repQ_, &back, a.second.size() * 4, IPC_NOWAIT);
  }
  long best = 0;
  int32_t most = 0;
  for (auto const& c : count)
    if (c.second > most) {
      most = c.second;
      best = c.first;
    }
  return most > 0 ? int32_t(best) - 1 : -1;
}

// ---- clients and the stop flag ------------------------------------------------------

void SvConnection::drainQueue(int q, long type, int32_t* disconnects) {
  SysVMsgPart m;
  ssize_t r;
  while ((r = rcvPart(q, &m, type, IPC_NOWAIT)) >= 0) {
    if (!disconnects)
      continue;
    std::vector<MsgBatchItem> items;
    if (splitSysVBatch(m, long(r), items)) {
      for (MsgBatchItem const& it : items)
        if (validSvMessage(it.h.serverOp) && isDisconnect(SvMessage(it.h.serverOp)))
          ++*disconnects;
    } else if (r >= 12 && msgServerOp(m.words) == DBM_DISCONNECT) {
      ++*disconnects;
    }
  }
  int err = errno;
  if (err != ENOMSG && err != EINTR)
    fatalSys(q == repQ_ ? "ERRSMSG" : "ERRRMSG", err);
}

bool SvConnection::drain(Client* c) { return c ? drain(c->id()) : false; }

bool SvConnection::drain(int32_t cid) {
  if (runLog_ && runLog_->replaying())
    return false;
  long type = long(cid) + 1;
  if (type <= 0)
    return false;
  int32_t disconnects = 0;
  drainQueue(reqQ_, type, &disconnects);
  drainQueue(contQ_, type, nullptr);
  drainQueue(repQ_, type, nullptr);
  if (reqStart_ >= 0 && clientId_ == cid) {
    s_MsgBuff h = s_MsgBuff::read(&rcv_[size_t(reqStart_)]);
    if (validSvMessage(h.serverOp) && isDisconnect(SvMessage(h.serverOp)))
      ++disconnects;
    cur_ = reqStart_ = -1;
    rcvEnd_ = 0;
  }
  return disconnects > 0;
}

bool SvConnection::stopTime() {
  if (semId_ < 0)
    return false;
  struct sembuf op = {1, 0, IPC_NOWAIT};
  if (semop(semId_, &op, 1) == 0)
    return false;
  int err = errno;
  if (err == EAGAIN)
    return true;
  String text = String("semop") + String(libMsg("SYSCFAILED", " system call failed, error number "));
  error(String("%S%d"), &text, err);
  _exit(1);
}

int32_t SvConnection::idleRequestSender() const {
  struct msqid_ds ds {};
  if (reqQ_ < 0 || msgctl(reqQ_, IPC_STAT, &ds) != 0)
    return -1;
  return ds.msg_qnum == 0 ? int32_t(ds.msg_lspid) : 0;
}

void SvConnection::awaitRepliesRead(int32_t ms) {
  for (int32_t waited = 0; waited < ms; waited += 10) {
    struct msqid_ds ds {};
    if (calls_.receive || repQ_ < 0 || msgctl(repQ_, IPC_STAT, &ds) != 0 || ds.msg_qnum == 0)
      return;
    usleep(10000);
  }
}
