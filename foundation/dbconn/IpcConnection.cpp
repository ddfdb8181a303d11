// IpcConnection: the System V transport of a client: opening the server's
// endpoint, the connect request, sending parts (with the go-ahead wait of a
// request in several parts), receiving reply parts, and the 10-second alarm
// with the liveness test of the server around every blocking queue call.
//
// Received parts are checked (size, length field) before they are used; a
// malformed one fails the receive.
#include <zfound/IpcConnection.h>

#include <zfound/Assert.h>
#include <zfound/DbConfigFile.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/MsgHeader.h>
#include <zfound/OsServ.h>
#include <zfound/Process.h>
#include <zfound/ProcValues.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <unistd.h>

namespace {

void onAlarm(int) {}

// What semaphore 0 tells of the server, which holds it above zero while it
// lives: a wait for zero that would block means it runs; one that succeeds,
// or a set that is gone, means it ended; any other failure tells nothing.
enum class ServerState { running, ended, unknown };

ServerState serverState(int semId) {
  sembuf test{0, 0, IPC_NOWAIT};
  if (semop(semId, &test, 1) == 0) return ServerState::ended;
  if (errno == EAGAIN) return ServerState::running;
  return errno == EIDRM || errno == EINVAL ? ServerState::ended : ServerState::unknown;
}

// Arms the alarm around one blocking queue call.
void armAlarm(int32_t seconds) {
  Signal(SIGALRM, onAlarm);
  alarm(unsigned(seconds));
}

// Cancels the alarm after the call. A call that failed also sets SIGALRM
// to be ignored (a retry installs the handler again). After a successful
// one the empty handler stays: no alarm is pending, and the way from a
// reply to the next request costs one system call less.
void disarmAlarm(bool failed) {
  alarm(0);
  if (failed) Signal(SIGALRM, SIG_IGN);
}

}  // namespace

IpcConnection::IpcConnection(DbConfigFile const& cfg, ConnMode mode) : DbConnection(cfg, mode) {
  type_ = 'i';
  initialize(cfg.getServerId());
}

IpcConnection::IpcConnection(int32_t id, String const& name, ConnMode mode)
    : DbConnection('i', String(), id, name, mode) {
  initialize(id);
}

IpcConnection::~IpcConnection() = default;

void IpcConnection::createError(char const* call, int expected) {
  int err = errno;
  lastErrno_ = err;
  status_ = -1;
  if (!(mode_ & abortOnInit)) return;
  // The connection leaves the list before the report ends the process.
  unlinkFromList();
  // One report: a fatal report does not return, so both parts go in it.
  String text;
  if (err == expected || expected == -1) {
    text = msgText("SERNOTRUNN");
    text += "\n";
  }
  text += call;
  text += msgText("SYSCFAILED");
  text += toString(long(err));
  error(String("%s"), toCharPtr(text));
}

void IpcConnection::initialize(int32_t id) {
  setPeerId(-1);
  int32_t key = int32_t(uint32_t(id) << 8);
  semId_ = semget(key, 2, 0);
  if (semId_ < 0) {
    createError("semget", ENOENT);
    return;
  }
  reqQ_ = msgget(key + 's', 0);
  contQ_ = msgget(key + 'c', 0);
  repQ_ = msgget(key + 'r', 0);
  if (reqQ_ < 0 || contQ_ < 0 || repQ_ < 0) {
    createError("msgget", ENOENT);
    return;
  }
  sembuf test {0, 0, IPC_NOWAIT};
  if (semop(semId_, &test, 1) == 0) {
    errno = 0;
    createError("semop", -1);  // nobody holds semaphore 0: not running
    return;
  }
  if (errno != EAGAIN) {
    createError("semop", EAGAIN);
    return;
  }
  capacity_ = MSG_PART_WORDS;
  std::memset(buf_, 0, sizeof buf_);
  buffer_ = buf_;
  readPos_ = writePos_ = buf_ + 3;
  writeLeft_ = capacity_;
  readLeft_ = 0;
  contState_ = 0;
}

void IpcConnection::connect(bool secondary) {
  if (status_ == -1) return;
  int32_t version;
  String node, program, args, tty;
  getProcessValues(version, node, program, args, tty);
  setPeerId(int32_t(uint32_t(getpid()) | 0x40000000u));
  (*this)(kServerObject, DBM_CONNECT) << version << int32_t(geteuid()) << int32_t(getegid()) << program << args
                                      << node << tty << int32_t(secondary ? 1 : 0);
  int32_t id = int32_t(*this);
  // A refused connect (an error reply, a dead server) leaves no usable
  // client id: the connection is not kept.
  if (Exception::last().code() != 0 || id < 0) {
    setPeerId(-1);
    status_ = -1;
    return;
  }
  setPeerId(id);
  connected_ = true;
}

void IpcConnection::begin(int32_t objid, SvMessage op) {
  DbConnection::begin(objid, op);
  if (buffer_ == nullptr) return;
  setMsgClientId(buffer_, ipcClientId());
  if (nMsgs_ == 1) contState_ = 0;
}

bool IpcConnection::serverAlive() {
  if (!valid_) return false;
  if (serverState(semId_) != ServerState::ended) return true;
  valid_ = false;
  return false;
}

bool IpcConnection::stopSv() {
  sembuf op {1, 1, 0};
  if (semId_ >= 0 && semop(semId_, &op, 1) == 0) return true;
  int err = errno;
  if (mode_ & reportErrors) {
    String text("semop");
    text += msgText("SYSCFAILED");
    text += toString(long(err));
    error(String("%s"), toCharPtr(text));
  }
  return false;
}

bool IpcConnection::waitForServerHalt() {
  sembuf op {0, 0, 0};
  for (;;) {
    if (semop(semId_, &op, 1) == 0) return true;
    if (errno == EINTR) continue;
    return errno == EIDRM || errno == EINVAL;
  }
}

bool IpcConnection::addSchema(String const& s) {
  if (config_ && config_->objectRepository().length() > 0 && procUserServer()) {
    DbConfigFile remote;
    if (remote.findServer(serverName_, true, 'r')) remote.addSchema(s);
  }
  return true;
}

bool IpcConnection::delSchema(String const& s) {
  if (config_ && config_->objectRepository().length() > 0 && procUserServer()) {
    DbConfigFile remote;
    if (remote.findServer(serverName_, true, 'r')) remote.delSchema(s);
  }
  return true;
}

void IpcConnection::setDefCurrMsgLength() { setCurrMsgLength(int32_t(writePos_ - buffer_) - 3); }

void IpcConnection::setCurrMsgLength(int32_t n) {
  s_MsgBuff h = header();
  h.setLength(n);
  setHeader(h);
}

void IpcConnection::setBuffFlags(int16_t f) {
  s_MsgBuff h = header();
  h.setFlags(f);
  setHeader(h);
}

int32_t IpcConnection::getBuffFlags() const { return header().flags(); }

bool IpcConnection::checkIntr(char const* what, int err) {
  lastErrno_ = err;
  ServerState const state = serverState(semId_);
  if (state == ServerState::running && err == EINTR) return true;  // the alarm fired; the server lives
  if (state != ServerState::ended) {
    if (mode_ & reportErrors) {
      String text = msgText(what);
      text += toString(long(err));
      error(String("%s"), toCharPtr(text));
    }
    return false;
  }
  // Nobody holds semaphore 0, or the set is gone: the server has ended.
  valid_ = false;
  if (mode_ & reportErrors) error(msgText("SERVERDEAD"), toCharPtr(serverName_));
  return false;
}

bool IpcConnection::waitGoAhead() {
  SysVMsgPart in;
  for (;;) {
    armAlarm(kAlarmSeconds);
    ssize_t r = msgrcv(repQ_, &in, MSG_PART_BYTES, long(ipcClientId()), 0);
    int err = errno;
    disarmAlarm(r < 0);
    if (r == 0) return true;
    if (r > 0) {
      // Anything but the empty go-ahead: the server did not take the request.
      lastErrno_ = EPROTO;
      return false;
    }
    if (!checkIntr("ERRRMSG", err)) return false;
  }
}

int32_t IpcConnection::sendPart() {
  if (!valid_) return -1;
  int32_t nWords = int32_t(writePos_ - buf_);
  std::vector<MsgBatchItem> items;
  if (!splitMsgWords(buf_, nWords, items)) {
    lastErrno_ = EINVAL;
    return -1;
  }
  bool continued = items.back().h.continued();
  int queue = reqQ_;
  switch (contState_) {
    case 0:
      if (continued) contState_ = 1;
      break;
    case 1:
      if (!waitGoAhead()) return -1;
      contState_ = 2;
      queue = contQ_;
      break;
    case 2:
      queue = contQ_;
      break;
    default:
      ZF_PRECOND(0);
      return -1;
  }
  SysVMsgPart out;
  int32_t size = packSysVWords(out, buf_, nWords);
  if (size < 0) {
    lastErrno_ = EINVAL;
    return -1;
  }
  // A queue with room takes the part at once: no wait, so no alarm. Only
  // a full queue makes the send wait, under the alarm.
  bool sent = msgsnd(queue, &out, size_t(size), IPC_NOWAIT) == 0;
  if (!sent && errno != EAGAIN && !checkIntr("ERRSMSG", errno)) return -1;
  while (!sent) {
    armAlarm(kAlarmSeconds);
    int r = msgsnd(queue, &out, size_t(size), 0);
    int err = errno;
    disarmAlarm(r != 0);
    if (r == 0) break;
    if (!checkIntr("ERRSMSG", err)) return -1;
  }
  if (!continued) contState_ = 0;
  buffer_ = buf_;
  readPos_ = writePos_ = buf_ + 3;
  writeLeft_ = readLeft_ = capacity_ - 1;
  return 0;
}

int32_t IpcConnection::fillPart() {
  ZF_PRECOND(buffer_ == buf_);
  ZF_PRECOND(header().continued());
  if (!valid_) return -1;
  SysVMsgPart in;
  ssize_t r;
  int32_t waited = 0;
  for (;;) {
    int32_t const round =
        replyLimit_ > 0 && replyLimit_ - waited < kAlarmSeconds ? replyLimit_ - waited : kAlarmSeconds;
    armAlarm(round);
    r = msgrcv(repQ_, &in, MSG_PART_BYTES, long(ipcClientId()), 0);
    int err = errno;
    disarmAlarm(r < 0);
    if (r >= 0) break;
    lastErrno_ = err;
    if (curOp_ == DBM_STOP) return -1;  // no answer comes
    if (!checkIntr("ERRRMSG", err)) return -1;
    // A live server that does not answer within the limit: given up.
    waited += round;
    if (replyLimit_ > 0 && waited >= replyLimit_) {
      lastErrno_ = ETIMEDOUT;
      timedOut_ = true;
      return -1;
    }
  }
  s_MsgBuff h;
  if (unpackSysVPart(in, long(r), h) != SysVPartKind::Part) {
    lastErrno_ = EPROTO;
    return -1;
  }
  std::memcpy(buf_, in.words, size_t(r));
  setMsgClientId(buf_, ipcClientId());
  buffer_ = buf_;
  readPos_ = writePos_ = buf_ + 3;
  writeLeft_ = capacity_ - 1;
  readLeft_ = h.length() - 1;
  actBuffSize_ = int32_t(r);
  return int32_t(r);
}

int32_t IpcConnection::passPart(uint32_t const* words, int32_t n, SvMessage op) {
  if (!words || n < 3 || n > MSG_PART_BYTES / 4) return -1;
  std::memcpy(buf_, words, size_t(n) * 4);
  buffer_ = buf_;
  writePos_ = buf_ + n;
  curOp_ = op;
  return sendPart();
}

int32_t IpcConnection::takePart(uint32_t* out, SvMessage op) {
  buffer_ = buf_;
  s_MsgBuff h = header();
  h.setContinued(true);
  setHeader(h);
  curOp_ = op;
  int32_t r = fillPart();
  if (r < 0) return -1;
  std::memcpy(out, buf_, size_t(r));
  return r / 4;
}
