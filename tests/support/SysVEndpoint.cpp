// The test-only System V endpoint: see SysVEndpoint.h.
#include "SysVEndpoint.h"

#include <zfound/MsgHeader.h>
#include <zfound/RemoteConnection.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zftest {

namespace {

void noop(int) {}

// Removes the request, continuation and reply queues of key k. Only system
// calls, so it is safe in a signal handler.
void removeQueues(int32_t k) {
  for (int32_t q : {k + 's', k + 'c', k + 'r'}) {
    int id = msgget(q, 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
  }
}

// Removes the queues and the semaphore set of key k (signal-safe as above).
void removeKeyIpc(int32_t k) {
  removeQueues(k);
  int s = semget(k, 2, 0);
  if (s >= 0) semctl(s, 0, IPC_RMID);
}

// The endpoint's key, for the handler below.
volatile sig_atomic_t endpointKey = 0;

// The test process ended without destroying the endpoint (a fatal report, a
// crash): remove the queues and the semaphore set, then end.
void orphaned(int) {
  removeKeyIpc(endpointKey);
  _exit(3);
}

}  // namespace

int32_t uniqueServerId() {
  static int32_t counter = 0;
  int32_t n = counter++ & 63;
  return 0x400000 | ((int32_t(getpid()) & 0xFFFF) << 6) | n;
}

Connection& WireCodec::operator<<(int32_t w) {
  return LoopConnection::operator<<(swapped_ ? int32_t(RemoteConnection::invI(uint32_t(w))) : w);
}

Connection& WireCodec::operator>>(int32_t& w) {
  LoopConnection::operator>>(w);
  if (swapped_) w = int32_t(RemoteConnection::invI(uint32_t(w)));
  return *this;
}

std::vector<uint32_t> encodeWords(std::function<void(Connection&)> const& write, bool swapped) {
  WireCodec c(swapped);
  write(c);
  return c.words();
}

EndpointReply errorReply(Exception const& e, bool raise, bool swapped) {
  EndpointReply r;
  r.retValue = -1;
  r.status = int16_t(raise ? -e.code() : e.code());
  r.body = encodeWords([&](Connection& c) { e.send(&c); }, swapped);
  return r;
}

SysVEndpoint::SysVEndpoint(int32_t serverId, std::string logFile, std::string tag, EndpointHandler handler,
                           bool swapped)
    : serverId_(serverId), log_(std::move(logFile)), tag_(std::move(tag)), handler_(std::move(handler)),
      swapped_(swapped) {}

SysVEndpoint::~SysVEndpoint() {
  kill();
  removeIpc();
}

void SysVEndpoint::kill() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
}

bool SysVEndpoint::running() {
  if (pid_ <= 0) return false;
  if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void SysVEndpoint::removeIpc() { removeKeyIpc(key()); }

bool SysVEndpoint::start() {
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::fflush(nullptr);
  pid_t parent = getpid();
  pid_t p = fork();
  if (p < 0) return false;
  if (p == 0) {
    // The endpoint never outlives the test that started it, and takes its
    // queues and semaphores with it when the test could not.
    endpointKey = key();
    struct sigaction act {};
    act.sa_handler = orphaned;
    sigaction(SIGTERM, &act, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) orphaned(0);
    close(fds[0]);
    serve(fds[1]);
  }
  close(fds[1]);
  pid_ = p;
  char ok = 0;
  ssize_t r;
  do {
    r = read(fds[0], &ok, 1);
  } while (r < 0 && errno == EINTR);
  close(fds[0]);
  return r == 1 && ok == 1;
}

void SysVEndpoint::serve(int readyFd) {
  int32_t k = key();
  removeQueues(k);
  int reqQ = msgget(k + 's', IPC_CREAT | 0666);
  int contQ = msgget(k + 'c', IPC_CREAT | 0666);
  int repQ = msgget(k + 'r', IPC_CREAT | 0666);
  int sem = semget(k, 2, IPC_CREAT | 0666);
  sembuf hold[2] = {{0, 0, IPC_NOWAIT}, {0, 1, SEM_UNDO}};
  char ok = (reqQ >= 0 && contQ >= 0 && repQ >= 0 && sem >= 0 && semop(sem, hold, 2) == 0) ? 1 : 0;
  ssize_t w = write(readyFd, &ok, 1);
  (void)w;
  close(readyFd);
  if (!ok) _exit(2);

  struct sigaction act {};
  act.sa_handler = noop;  // no SA_RESTART: the alarm interrupts msgrcv
  sigaction(SIGALRM, &act, nullptr);

  int logFd = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  int32_t msgNo = 0;
  auto logRequest = [&](EndpointRequest const& rq) {
    std::string line = tag_ + " " + std::to_string(msgNo) + " " + std::to_string(rq.op) + " " + std::to_string(rq.objId) + " " +
                       std::to_string(rq.parts);
    char hex[16];
    for (uint32_t word : rq.body) {
      std::snprintf(hex, sizeof hex, " %08x", word);
      line += hex;
    }
    line += "\n";
    ssize_t n = write(logFd, line.data(), line.size());
    (void)n;
  };
  auto stopRaised = [&] { return semctl(sem, 1, GETVAL) > 0; };
  // One blocking receive, interrupted each second to look at the stop flag.
  auto receive = [&](int q, long type, SysVMsgPart& part, int maxSeconds) -> ssize_t {
    for (int waited = 0;; ++waited) {
      if (stopRaised()) _exit(0);
      alarm(1);
      ssize_t r = msgrcv(q, &part, MSG_PART_BYTES, type, 0);
      alarm(0);
      if (r >= 0) return r;
      // A queue taken away under a running server: it lives on without it
      // (as a server does) until it is stopped or killed.
      if (errno != EINTR) sleep(1);
      if (maxSeconds > 0 && waited >= maxSeconds) return -1;
    }
  };
  auto sendReply = [&](int32_t type, EndpointReply const& rep) {
    int32_t n = int32_t(rep.body.size());
    int32_t parts = msgPartCount(n);
    for (int32_t i = 0; i < parts; ++i) {
      s_MsgBuff h;
      h.clientId = type;
      h.objId = rep.retValue;
      h.serverOp = rep.status;
      SysVMsgPart out;
      int32_t size = packSysVMsgPart(out, h, rep.body.data(), n, i);
      if (size < 0) _exit(4);
      while (msgsnd(repQ, &out, size_t(size), 0) != 0)
        if (errno != EINTR) return;
    }
  };

  for (;;) {
    SysVMsgPart in;
    ssize_t size = receive(reqQ, 0, in, 0);
    std::vector<MsgBatchItem> items;
    if (!splitSysVBatch(in, long(size), items)) continue;  // malformed: dropped
    ++msgNo;
    for (MsgBatchItem const& it : items) {
      EndpointRequest rq;
      rq.clientId = it.h.clientId;
      rq.objId = it.h.objId;
      rq.op = it.h.serverOp;
      rq.body.assign(in.words + it.bodyWord, in.words + it.bodyWord + it.h.length());
      if (it.h.continued()) {
        // Go-ahead, then the other parts on the continuation queue.
        SysVMsgPart go;
        go.mtype = rq.clientId;
        while (msgsnd(repQ, &go, 0, 0) != 0)
          if (errno != EINTR) break;
        bool more = true;
        while (more) {
          SysVMsgPart c;
          ssize_t cs = receive(contQ, rq.clientId, c, 30);
          s_MsgBuff ch;
          if (cs < 0 || unpackSysVPart(c, long(cs), ch) != SysVPartKind::Part) break;
          rq.body.insert(rq.body.end(), c.body(), c.body() + ch.length());
          ++rq.parts;
          more = ch.continued();
        }
      }
      logRequest(rq);
      if (!validSvMessage(rq.op)) continue;
      SvMessage op = SvMessage(rq.op);
      if (op == DBM_STOP) _exit(0);
      if (isVoid(op) || op == DBM_DISCONNECT) continue;
      EndpointReply rep;
      if (op == DBM_CONNECT && refuse_)
        rep = errorReply(*refuse_, false, swapped_);
      else if (op == DBM_CONNECT)
        rep.retValue = kClientId;
      else if (handler_)
        rep = handler_(rq);
      for (EndpointReply const& b : rep.before) sendReply(rq.clientId, b);
      sendReply(rq.clientId, rep);
    }
  }
}

}  // namespace zftest
