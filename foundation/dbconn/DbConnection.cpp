// DbConnection and ClientObject: request framing and batching, completion of
// a request with its reply or error, the list of open connections,
// transactions over several servers and the lookup of connections.
//
// A request's failure is always visible: a part that could not be sent and a
// receive that failed on a live connection both end the request with -1 and
// an error object as the current exception; a dead server gives
// ServerIsDead. The two-phase end aborts every participant, prepared or not,
// when one of them cannot prepare, and tells the leader last.
#include <zfound/DbConnection.h>

#include <zfound/Assert.h>
#include <zfound/DbConfigFile.h>
#include <zfound/Exception.h>
#include <zfound/IpcConnection.h>
#include <zfound/Message.h>
#include <zfound/Process.h>
#include <zfound/RemoteConnection.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

// ---- ClientObject ---------------------------------------------------------------------

ClientObject::ClientObject(String const& name, DbConnection* conn) : name_(name), objId_(0), nRef_(0), conn_(conn) {}

ClientObject::~ClientObject() = default;

DbConnection& ClientObject::operator()(int32_t op) { return (*this)(objId_, op); }

DbConnection& ClientObject::operator()(int32_t objid, int32_t op) {
  if (!ZF_PRECOND(conn_)) {
    std::abort();
  }
  conn_->begin(objid, SvMessage(op));
  return *conn_;
}

int32_t ClientObject::flush() { return conn_ ? conn_->execute() : -1; }

// ---- statics ------------------------------------------------------------------------------

DbConnection* DbConnection::head_ = nullptr;
bool DbConnection::userBeganTrans = false;
bool DbConnection::raiseOnReply_ = true;
DbConnection::NotifHandler DbConnection::notifHandler = nullptr;

String DbConnection::msgText(char const* key) { return msgTablesReady() ? libMsg(key) : String(key); }

DbConnection::DbConnection(DbConfigFile const& cfg, ConnMode mode)
    : ClientObject(cfg.getHost(), this),
      type_(cfg.getType()),
      serverId_(cfg.getServerId()),
      serverName_(cfg.getServerName()),
      mode_(mode),
      config_(new DbConfigFile(cfg)) {
  registerConnection();
}

DbConnection::DbConnection(char type, String const& host, int32_t serverId, String const& serverName,
                           ConnMode mode)
    : ClientObject(host, this), type_(type), serverId_(serverId), serverName_(serverName), mode_(mode) {
  registerConnection();
}

void DbConnection::registerConnection() {
  static bool hooked = false;
  if (!hooked) {
    onAbnormalStop(&DbConnection::invalidate);
    hooked = true;
  }
  Exception::init(true);
  objId_ = kServerObject;
  next_ = head_;
  head_ = this;
  attach();
}

void DbConnection::unlinkFromList() {
  if (head_ == this) {
    head_ = next_;
  } else {
    for (DbConnection* c = head_; c; c = c->next_) {
      if (c->next_ == this) {
        c->next_ = next_;
        break;
      }
    }
  }
  next_ = nullptr;
}

DbConnection::~DbConnection() {
  unlinkFromList();
  delete config_;
}

// ---- default transport operations ---------------------------------------------------

bool DbConnection::stopSv() { return false; }

bool DbConnection::serverAlive() { return valid_; }

bool DbConnection::connExists(char type, String const& host, int32_t id, String const& name) const {
  return type == type_ && host == name_ && id == serverId_ && name == serverName_;
}

bool DbConnection::isInvert() { return false; }
void DbConnection::connect(bool) {}
bool DbConnection::waitForServerHalt() { return false; }

bool DbConnection::addSchema(String const& s) { return true; }
bool DbConnection::delSchema(String const& s) { return true; }

int32_t DbConnection::sendPart() { return -1; }
int32_t DbConnection::fillPart() { return -1; }

void DbConnection::_flush() {
  if (sendPart() != 0) dropBatch();
}

void DbConnection::_fill() {
  // Only the rest of a reply that announced more parts is read; anything
  // else is a read past the reply.
  if (!replyInHand_ || buffer_ == nullptr || !header().continued() || fillPart() < 0) {
    readLeft_ = -1;
    replyInHand_ = false;
  }
}

void DbConnection::reportFailure(String const& text) {
  if (mode_ & reportErrors) error(String("%s"), toCharPtr(text));
}

void DbConnection::recordFailure(bool sending) {
  if (!valid_) {
    Exception::last(ServerIsDead(serverName_));
    return;
  }
  String text = failText_;
  if (text.isNull()) {
    text = msgText(sending ? "ERRSMSG" : "ERRRMSG");
    text += " ";
    text += toString(long(lastErrno_));
  }
  failText_ = String();
  Exception::last(ShadowError(text));
}

// ---- framing -----------------------------------------------------------------------------

void DbConnection::closeHeader() {
  s_MsgBuff h = header();
  h.setFlags(0);
  h.setLength(int32_t(writePos_ - buffer_) - 3);
  setHeader(h);
}

void DbConnection::setValues() {
  buffer_ = beginOfBuffer();
  if (!buffer_) return;
  writePos_ = readPos_ = buffer_ + 3;
  writeLeft_ = capacity_;
  readLeft_ = 0;  // no reply in hand: a read finds nothing
  replyInHand_ = false;
  actBuffSize_ = 8;
  setMsgObjId(buffer_, 0);
  setMsgServerOp(buffer_, 0);
}

void DbConnection::begin(int32_t objid, SvMessage op) {
  ZF_PRECOND(objid != -1);
  // A request that expects a reply is completed before another is begun.
  if (pending_ && nMsgs_ > 0 && !isVoid(SvMessage(curOp_))) execute();
  uint32_t* start = beginOfBuffer();
  if (!start || !valid_) {
    // No transport buffer (the transport could not be set up), or a server
    // found dead: nothing is framed or batched, whatever the buffer holds
    // (a request the server's death interrupted, when this one comes from a
    // stop hook run by its report). The request is pending so that
    // completing it fails instead of answering the previous return value.
    buffer_ = writePos_ = readPos_ = nullptr;
    writeLeft_ = 0;
    readLeft_ = 0;
    replyInHand_ = false;
    nMsgs_ = 0;
    partsSent_ = false;
    curOp_ = op;
    retValue_ = kReplyPending;
    pending_ = true;
    return;
  }
  clearBad();
  sendFailed_ = false;
  replyInHand_ = false;
  if (nMsgs_ == kMaxBatch) {
    closeHeader();
    if (sendPart() != 0) recordFailure(true);
    nMsgs_ = 0;
  }
  if (nMsgs_ > 0 && partsSent_) {
    // The previous (void) request went out in several parts: its last part
    // is a continuation part and goes alone, so this request starts a part
    // of its own instead of riding behind it unseen.
    closeHeader();
    if (sendPart() != 0) recordFailure(true);
    nMsgs_ = 0;
  }
  partsSent_ = false;
  ++nMsgs_;
  bool atStart = true;
  if (nMsgs_ > 1) {
    ZF_PRECOND(isVoid(SvMessage(msgServerOp(buffer_))));
    closeHeader();
    int32_t remainder = capacity_ - int32_t(writePos_ - start);
    if (remainder > 0) {
      buffer_ = writePos_;
      writePos_ = buffer_ + 3;
      writeLeft_ = remainder;
      atStart = false;
    } else {
      if (sendPart() != 0) recordFailure(true);
      nMsgs_ = 1;
    }
  }
  if (atStart) {
    buffer_ = start;
    writePos_ = buffer_ + 3;
    writeLeft_ = capacity_;
  }
  s_MsgBuff h;
  h.clientId = objId_;
  h.objId = objid;
  h.serverOp = int16_t(op);
  h.lenFlags = MSG_CONT;
  setHeader(h);
  curOp_ = op;
  retValue_ = kReplyPending;
  pending_ = true;
}

void DbConnection::flushBuff() {
  if (sendFailed_ || buffer_ == nullptr) return;  // pushWord marks the channel bad
  uint32_t* start = beginOfBuffer();
  if (nMsgs_ > 1) {
    // Send the complete requests before the current one, then move the
    // current one to the buffer start.
    uint32_t* cur = buffer_;
    uint32_t* end = writePos_;
    int32_t partial = int32_t(end - cur);
    uint32_t saved[MSG_PART_BYTES / 4];
    if (partial > int32_t(sizeof saved / 4)) partial = int32_t(sizeof saved / 4);
    std::memcpy(saved, cur, size_t(partial) * 4);
    writePos_ = cur;
    if (sendPart() != 0) {
      dropBatch();
      return;
    }
    std::memcpy(start, saved, size_t(partial) * 4);
    buffer_ = start;
    writePos_ = start + partial;
    writeLeft_ = capacity_ - 1 - (partial - 3);
    ZF_PRECOND(writeLeft_ > 0);
    nMsgs_ = 1;
    return;
  }
  ZF_PRECOND(buffer_ == start);
  s_MsgBuff h = header();
  h.setLength(int32_t(writePos_ - buffer_) - 3);  // MSG_CONT stays set
  setHeader(h);
  if (sendPart() != 0)
    dropBatch();
  else
    partsSent_ = true;
}

void DbConnection::dropBatch() {
  // What was not sent is dropped whole, so that no part of it can go out
  // later as if it were complete; the rest of the current request is
  // refused (the channel turns bad) and the request fails.
  recordFailure(true);
  setValues();
  nMsgs_ = 0;
  partsSent_ = false;
  writeLeft_ = -1;
  sendFailed_ = true;
}

// ---- completing a request -------------------------------------------------------------

int32_t DbConnection::execute() {
  if (!pending_) return retValue_;
  if (isVoid(SvMessage(curOp_))) return -1;
  // Completed from here on, whatever the reply holds: a return word equal to
  // kReplyPending is an ordinary value, and reading an error's fields below
  // never comes back here.
  pending_ = false;
  if (!buffer_) {
    retValue_ = -1;
    if (curOp_ == DBM_DISCONNECT && !valid_)
      Exception::last(Exception(0));  // nothing to leave on a dead server
    else
      recordFailure(true);
    return -1;
  }
  closeHeader();
  // The batch leaves the connection's state before it is sent: a send that
  // fails reports, and the report may run stop hooks whose requests begin
  // afresh on this connection.
  nMsgs_ = 0;
  partsSent_ = false;
  bool const failedBefore = sendFailed_;
  sendFailed_ = false;
  bool sent = !failedBefore && sendPart() == 0;
  if (curOp_ == DBM_DISCONNECT) {
    Exception::last(Exception(0));
    setValues();
    retValue_ = retValue();
    return retValue_;
  }
  if (!sent) {
    // Nothing went out: no reply can come.
    setValues();
    recordFailure(true);
    retValue_ = -1;
    return -1;
  }
  bool notified = false;
  int32_t rv = 0;
  retValue_ = 0;  // the transport may read an error's fields while receiving
  for (;;) {
    Exception::last(Exception(0));
    clearBad();
    s_MsgBuff h = header();
    h.setContinued(true);
    setHeader(h);
    int32_t r = fillPart();
    bool failed = r < 0;
    if (failed) {
      setValues();
      rv = retValue();
    } else {
      ++readLeft_;  // the first body word has not been taken yet
      replyInHand_ = true;
      rv = retValue();
    }
    if (!valid_) {
      rv = -1;
      replyInHand_ = false;
      Exception::last(ServerIsDead(serverName_));
      break;
    }
    if (failed) {
      if (curOp_ == DBM_STOP) break;  // Stop gets no reply
      recordFailure(false);
      rv = -1;
      break;
    }
    retValue_ = rv;  // the error's fields are read without re-entering here
    int16_t st = header().status();
    if (st != 0) Exception::receive(this, st < 0 && !raiseOnReply_ ? -int32_t(st) : int32_t(st));
    if (Exception::last().isPendNotification()) {
      if (!notified) msgCtrl(1);
      notified = true;
      notification(Exception::last().message());
      continue;
    }
    break;
  }
  if (notified) msgCtrl(4);
  retValue_ = rv;
  return rv;
}

DbConnection::operator int32_t() { return execute(); }

Connection& DbConnection::operator>>(int32_t& w) {
  if (pending_) execute();
  return Connection::operator>>(w);
}
Connection& DbConnection::operator>>(String& s) {
  if (pending_) execute();
  return Connection::operator>>(s);
}
Connection& DbConnection::operator>>(char*& p) {
  if (pending_) execute();
  return Connection::operator>>(p);
}
Connection& DbConnection::operator>>(Num& n) {
  if (pending_) execute();
  return Connection::operator>>(n);
}
Connection& DbConnection::operator>>(Date& d) {
  if (pending_) execute();
  return Connection::operator>>(d);
}
Connection& DbConnection::operator>>(Time& t) {
  if (pending_) execute();
  return Connection::operator>>(t);
}
void DbConnection::pop(void* p, int32_t n) {
  if (n > 0 && pending_) execute();
  Connection::pop(p, n);
}

// ---- list-wide operations ----------------------------------------------------------

DbConnection::NotifHandler DbConnection::setNotifHandler(NotifHandler f) {
  NotifHandler old = notifHandler;
  notifHandler = f;
  return old;
}

void DbConnection::notification(String const& msg) {
  if (notifHandler) notifHandler(msg);
}

void DbConnection::invalidate() {
  for (DbConnection* c = head_; c; c = c->next_) c->valid_ = false;
}

bool DbConnection::multiServerLock(DbConnection* c) {
  for (DbConnection* d = head_; d; d = d->next_)
    if (d != c && d->didLock_) return true;
  return false;
}

bool DbConnection::inTransac() {
  for (DbConnection* c = head_; c; c = c->next_)
    if (c->inTrans_) return true;
  return false;
}

// ---- transactions --------------------------------------------------------------------

void DbConnection::beginTransaction() { userBeganTrans = true; }

bool DbConnection::didTransaction() { return !userBeganTrans; }

void DbConnection::begTrans() {
  if (inTrans_) return;
  (*this)(kServerObject, DBM_BEGTRANSACT) << int32_t(0);
  *this >> transTS_;
  int32_t code = Exception::last().code();
  if (code != 0 && code != 13) {
    Exception::last().raise();
    return;
  }
  inTrans_ = true;
}

bool DbConnection::optimisticTransaction() {
  if (inTransac()) return false;
  for (DbConnection* c = head_; c; c = c->next_) {
    (*c)(kServerObject, DBM_BEGTRANSACT) << int32_t(1);
    *c >> c->transTS_;
    int32_t code = Exception::last().code();
    if (code != 0 && code != 13) Exception::last().raise();
    c->inTrans_ = true;
  }
  userBeganTrans = true;
  return true;
}

bool DbConnection::transOk() {
  for (DbConnection* c = head_; c; c = c->next_) {
    if (!c->inTrans_) continue;
    (*c)(kServerObject, DBM_GETINFO) << int32_t(8);
    if (c->execute() == 0) return false;
  }
  return true;
}

bool DbConnection::endTrans(bool commit) {
  if (userBeganTrans) return commit;
  return endTransaction(commit);
}

namespace {

// The connections in a transaction in the order of their server names, so
// that the leader (the greatest name) comes last.
std::vector<DbConnection*> participants(DbConnection*& leader) {
  std::vector<DbConnection*> all;
  for (DbConnection* c = DbConnection::head(); c; c = c->next())
    if (c->inTransaction()) all.push_back(c);
  std::stable_sort(all.begin(), all.end(),
                   [](DbConnection* x, DbConnection* y) { return cmp(x->serverName(), y->serverName()) < 0; });
  leader = all.empty() ? nullptr : all.back();
  return all;
}

// Aborts the transaction on every connection in `list` (in its order): each
// leaves the transaction; a valid one gets AbortTransact whether it was
// prepared or not. Returns the last answer, -1 when none was sent.
int32_t abortAll(std::vector<DbConnection*> const& list, bool raiseErrors) {
  int32_t last = -1;
  for (DbConnection* c : list) {
    c->inTransaction(false);
    c->readyToEnd(false);
    if (!c->isValid()) continue;
    (*c)(DbConnection::kServerObject, DBM_ABORTTRANSACT);
    last = c->execute();
    if (raiseErrors && Exception::last().code() != 0) Exception::last().raise();
  }
  return last;
}

}  // namespace

bool DbConnection::endTransaction(bool commit) {
  userBeganTrans = false;
  DbConnection* leader = nullptr;
  std::vector<DbConnection*> list = participants(leader);
  if (list.empty()) return true;
  int32_t n = int32_t(list.size());
  if (n > 1) {
    DbConnection* failed = nullptr;
    for (DbConnection* c : list) {
      if (c == leader) {
        for (DbConnection* d : list) d->readyToEnd_ = true;
      }
      (*c)(kServerObject, DBM_READYTOEND) << leader->serverName_ << n << leader->transTS_;
      if (c->execute() == -1) {
        failed = c;
        break;
      }
    }
    if (failed) {
      // Every participant is aborted, the prepared ones included, the leader
      // last; the failure stays the current exception.
      Exception* why = Exception::last().clone();
      abortAll(list, false);
      Exception::last(*why);
      delete why;
      warning(msgText("TWOPHASEABORT"), toCharPtr(failed->serverName_));
      return false;
    }
  }
  bool ok = true;
  Exception* firstError = nullptr;
  for (DbConnection* c : list) {
    c->inTrans_ = false;
    c->readyToEnd_ = false;
    if (n > 1 && c == leader && !ok) {
      // A participant did not end: the leader must keep the transaction as
      // complete so that the participant learns the outcome when it asks.
      // It is told nothing and this process stops using its connection.
      c->didLock_ = false;
      c->setInvalid();
      break;
    }
    (*c)(kServerObject, DBM_ENDTRANSACT) << int32_t(commit ? 1 : 0);
    int32_t r = c->execute();
    c->didLock_ = false;
    if (r != 0) {
      ok = false;
      if (!firstError && Exception::last().code() != 0) firstError = Exception::last().clone();
    }
  }
  if (firstError) {
    Exception::last(*firstError);
    delete firstError;
  }
  return ok;
}

int32_t DbConnection::abortTransaction() {
  userBeganTrans = false;
  DbConnection* leader = nullptr;
  return abortAll(participants(leader), true);
}

// ---- finding connections ---------------------------------------------------------------

namespace {

void reportNoConnection(ConnMode mode) {
  if (!(mode & abortOnInit)) return;
  int32_t code = Exception::last().code();
  if (code != 0)
    error(String("%s"), toCharPtr(Exception::last().message()));
  else
    error(msgTablesReady() ? libMsg("CANTCONNECT") : String("CANTCONNECT"));
}

// Sets up and connects a new connection; null (destroyed) when it fails.
DbConnection* openNew(DbConnection* c, bool connect, bool secondary) {
  if (c->status() != -1 && connect) c->connect(secondary);
  if (c->status() == -1) {
    delete c;
    return nullptr;
  }
  return c;
}

}  // namespace

DbConnection* DbConnection::find(DbConfigFile const& cfg, bool connect, bool secondary, ConnMode mode,
                                 String const& service, StringRefStringRefBaseAction* action) {
  for (DbConnection* c = head_; c; c = c->next_) {
    if (c->status() != -1 && c->connExists(cfg.getType(), cfg.getHost(), cfg.getServerId(), cfg.getServerName())) {
      c->attach();
      return c;
    }
  }
  if (Exception::getException(0) == nullptr) Exception::init(true);
  Exception::last(Exception(0));
  DbConnection* c = cfg.getType() == 'r' ? static_cast<DbConnection*>(new RemoteConnection(cfg, mode, service, action))
                                         : static_cast<DbConnection*>(new IpcConnection(cfg, mode));
  c = openNew(c, connect, secondary);
  if (!c) reportNoConnection(mode);
  return c;
}

DbConnection* DbConnection::findIpc(int32_t id, String const& name, bool connect, bool secondary, ConnMode mode) {
  for (DbConnection* c = head_; c; c = c->next_) {
    if (c->status() != -1 && c->connExists('i', String(), id, name)) {
      c->attach();
      return c;
    }
  }
  if (secondary) return nullptr;
  Exception::init(true);
  Exception::last(Exception(0));
  DbConnection* c = openNew(new IpcConnection(id, name, mode), connect, secondary);
  if (!c) reportNoConnection(mode);
  return c;
}

namespace {

// Reads the configuration to use for a server: the remote one when the
// server names an object repository and this process is not a user server.
bool serverConfig(DbConfigFile& cfg, String const& name, ConnMode mode) {
  if (!cfg.findServer(name, false)) {
    if (mode & abortOnInit) error(msgTablesReady() ? libMsg("CANTCONNECT") : String("CANTCONNECT"));
    return false;
  }
  if (!cfg.objectRepository().isNull() && cfg.objectRepository().length() > 0 && !procUserServer()) {
    DbConfigFile remote;
    if (!remote.read(name, 'r')) {
      if (mode & abortOnInit) error(msgTablesReady() ? libMsg("CANTCONNECT_RSV") : String("CANTCONNECT_RSV"), toCharPtr(name));
      return false;
    }
    cfg = remote;
  }
  return true;
}

}  // namespace

DbConnection* DbConnection::findServer(String const& name, bool connect, ConnMode mode) {
  DbConfigFile cfg;
  if (!serverConfig(cfg, name, mode)) return nullptr;
  return find(cfg, connect, false, mode, String(), nullptr);
}

DbConnection* DbConnection::findSchema(String const& schema, bool connect, ConnMode mode) {
  char const* s = toCharPtr(schema);
  char const* slash = std::strchr(s, '/');
  // The caller's mode holds for the server part too: a caller that takes a
  // missing server as an answer is not ended by it.
  if (slash) return findServer(String(s, long(slash - s)), connect, mode);
  DbConfigFile cfg;
  if (!cfg.find(schema)) {
    if (mode & abortOnInit) error(msgTablesReady() ? libMsg("CANTCONNECT") : String("CANTCONNECT"));
    return nullptr;
  }
  String server = cfg.getServerName();
  if (!cfg.objectRepository().isNull() && cfg.objectRepository().length() > 0 && !procUserServer()) {
    if (!serverConfig(cfg, server, mode)) return nullptr;
  }
  return find(cfg, connect, false, mode, cfg.isNameSpace() ? schema : String(), nullptr);
}

DbConnection* DbConnection::createSecConn(String const& server) {
  DbConfigFile cfg;
  if (!cfg.findServer(server, false)) return nullptr;
  return find(cfg, true, true, ConnMode(3), String(), nullptr);
}

String DbConnection::accessiblesServers() { return DbConfigFile::accessiblesServers(); }

String DbConnection::accessiblesSchemas(String const& server) {
  std::vector<String> names;
  if (server.isNull() || server.length() == 0)
    names = DbConfigFile::serverList();
  else
    names.push_back(server);
  String result;
  for (String const& n : names) {
    DbConnection* c = findServer(n, true, ConnMode(0));
    if (!c) continue;
    (*c)(kServerObject, DBM_GETINFO) << int32_t(1);
    String list;
    *c >> list;
    if (list.length() > 0) {
      if (result.length() > 0) result += "\t";
      result += list;
    }
    dispose(c);
  }
  return result;
}

bool DbConnection::stopServer(String const& server) {
  DbConnection* c = findServer(server, false, ConnMode(3));
  if (!c) return false;
  bool ok = c->stopSv();
  dispose(c);
  return ok;
}

void DbConnection::dispose(DbConnection* c) {
  if (!c) return;
  if (c->detach() > 0) return;
  if (c->inTrans_) {
    warning(msgText("EXECABORTTRANS"));
    abortTransaction();
  }
  if (c->connected_ && procMsgCounts())
    notice(msgText("NMETHODS"), toCharPtr(c->serverName_), long(ClientMonitor::nMethods(c)));
  if (c->connected_) {
    (*c)(kServerObject, DBM_DISCONNECT);
    c->execute();
  }
  delete c;
}

// ---- request counts -----------------------------------------------------------------------

int32_t ClientMonitor::nMethods(DbConnection* c) {
  if (!ZF_PRECOND(c)) return -1;
  (*c)(DbConnection::kServerObject, DBM_GETCLIENTSINFO) << int32_t(1);
  // The number of client records is the reply's result; the records follow.
  int32_t n = c->execute();
  int32_t found = -1;
  for (int32_t i = 0; i < n && !c->bad(); ++i) {
    int32_t pid = 0, count = 0;
    String s;
    *c >> pid;
    for (int k = 0; k < 6; ++k) *c >> s;
    *c >> count;
    if (!c->bad() && pid == int32_t(getpid())) found = count;
  }
  if (found < 0 && c->getType() == 'r') warning(msgTablesReady() ? libMsg("NMETHODSLOCAL") : String("NMETHODSLOCAL"));
  return found;
}

String ClientMonitor::nMethods(String const& server) {
  String out;
  for (DbConnection* c = DbConnection::head(); c; c = c->next()) {
    if (!server.isNull() && server.length() > 0 && !(c->serverName() == server)) continue;
    out += c->serverName();
    out += ":";
    out += toString(long(nMethods(c)));
    out += "\t";
  }
  return out;
}
