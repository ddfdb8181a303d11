// RemoteConnection: the socket transport to a relay, its byte-order
// conversion and the checked reading of parts.
#include <zfound/RemoteConnection.h>

#include <zfound/Assert.h>
#include <zfound/DbConfigFile.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/OsServ.h>
#include <zfound/Process.h>
#include <zfound/ProcValues.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

uint16_t RemoteConnection::invS(uint16_t v) { return uint16_t((v >> 8) | (v << 8)); }

uint32_t RemoteConnection::invI(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void RemoteConnection::invH(void* header) {
  s_MsgBuff h = s_MsgBuff::read(header);
  h.clientId = int32_t(invI(uint32_t(h.clientId)));
  h.objId = int32_t(invI(uint32_t(h.objId)));
  h.serverOp = int16_t(invS(uint16_t(h.serverOp)));
  h.lenFlags = invS(h.lenFlags);
  h.write(header);
}

void RemoteConnection::invHeaders(uint32_t* first, int32_t words, bool toHost) {
  int32_t at = 0;
  while (at + 3 <= words) {
    uint32_t* h = first + at;
    int32_t before = s_MsgBuff::read(h).length();
    invH(h);
    at += 3 + (toHost ? s_MsgBuff::read(h).length() : before);
  }
}

RemoteConnection::RemoteConnection(DbConfigFile const& cfg, ConnMode mode, String const& service,
                                   StringRefStringRefBaseAction* action)
    : DbConnection(cfg, mode), action_(action ? action->clone() : nullptr) {
  type_ = 'r';
  initialize(cfg.getHost(), service);
}

RemoteConnection::RemoteConnection(String const& host, String const& serverName, ConnMode mode,
                                   String const& service, StringRefStringRefBaseAction* action)
    : DbConnection('r', host, -1, serverName, mode), action_(action ? action->clone() : nullptr) {
  initialize(host, service);
}

RemoteConnection::~RemoteConnection() {
  delete scon_;
  delete action_;
}

void RemoteConnection::initialize(String const& host, String const& service) {
  setPeerId(-1);
  String svc = service.isNull() || service.length() == 0 ? String(kDefaultService) : service;
  bool start = true;
  String dbg = String("SHDBG").getEnv();
  if (dbg == "1") {
    svc += "-deb";
    start = false;
  } else if (!dbg.isNull() && dbg.length() > 0) {
    svc = dbg;
  }
  scon_ = new SocketConnection(svc, host, start);
  if (scon_->status() != SocketConnection::OKEY) {
    int err = errno;
    if (mode_ & abortOnInit) {
      String text = msgText("CANT_OPCON");
      text += " Status: ";
      text += toString(long(scon_->status()));
      text += ", errno: ";
      text += toString(long(err));
      text += ". ";
      text += std::strerror(err);
      error(String("%s"), toCharPtr(text));
    }
    status_ = -1;
    return;
  }
  ZF_PRECOND(scon_->convType() != NULL_TYPE);
  needConvert_ = scon_->convType() != SAME_TYPE;
  char b[4];
  uint32_t cap = 0;
  bool got = scon_->receive(4, b) == 4;
  if (got) {
    std::memcpy(&cap, b, 4);
    if (needConvert_) cap = invI(cap);
  }
  // A capacity the length field cannot describe is refused like a missing one.
  if (!got || cap < 1 || cap > uint32_t(kMaxCapacity)) {
    if (mode_ & abortOnInit) error(String("Couldn't receive size."));
    scon_->shut(scon_->status() == SocketConnection::OKEY ? SocketConnection::BAD_ORDER : scon_->status());
    status_ = -1;
    return;
  }
  capacity_ = int32_t(cap);
  buf_.assign(size_t(cap) + 3, 0);
  buffer_ = buf_.data();
  readPos_ = writePos_ = buffer_ + 3;
  writeLeft_ = capacity_;
  readLeft_ = 0;
}

void RemoteConnection::connect(bool secondary) {
  if (status_ == -1) return;
  int32_t version;
  String node, program, args, tty;
  getProcessValues(version, node, program, args, tty);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    String user, password;
    user = String(userName(int64_t(startUpDone() ? procUserId() : geteuid())));
    if (action_) {
      password = name_;
      if (action_->execute(user, password) == -1) {
        status_ = -1;
        return;
      }
    }
    objId_ = kServerObject;
    Exception::last(Exception(0));
    (*this)(kServerObject, DBM_CONNECT) << version << serverName_ << node << program << args << tty
                                        << int32_t(secondary ? 1 : 0) << user;
    if (action_)
      *this << int32_t(1) << password;
    else
      *this << int32_t(0);
    objId_ = int32_t(*this);
    if (!action_ || Exception::last().code() != 33) break;
  }
  if (objId_ < 0 || Exception::last().code() != 0) {
    status_ = -1;
    return;
  }
  setPeerId(objId_);
  connected_ = true;
}

Connection& RemoteConnection::operator<<(int32_t w) {
  return Connection::operator<<(needConvert_ ? int32_t(invI(uint32_t(w))) : w);
}

Connection& RemoteConnection::operator>>(int32_t& w) {
  DbConnection::operator>>(w);
  if (needConvert_) w = int32_t(invI(uint32_t(w)));
  return *this;
}

void RemoteConnection::convertHeaders(uint32_t* first, int32_t size) {
  if (!ZF_PRECOND(needConvert_)) return;
  invHeaders(first, size / 4, false);
}

int32_t RemoteConnection::sendTo() {
  uint32_t* start = beginOfBuffer();
  int32_t size = int32_t(writePos_ - start) * 4;
  setMsgClientId(start, size);
  if (needConvert_) convertHeaders(start, size);
  int32_t w = scon_->send(size, reinterpret_cast<char const*>(start));
  if (w != size) return -7;
  if (needConvert_) {
    // Back to host order: the header is reused for the next part.
    invHeaders(start, size / 4, true);
  }
  return 0;
}

int32_t RemoteConnection::receiveFrom() {
  uint32_t* start = beginOfBuffer();
  ZF_PRECOND(buffer_ == start);
  if (scon_->receive(12, reinterpret_cast<char*>(start)) != 12) {
    scon_->shut(SocketConnection::BAD_ORDER);
    failText_ = msgText("ERRRECFRM");
    return -8;
  }
  if (needConvert_) invH(start);
  s_MsgBuff h = s_MsgBuff::read(start);
  int64_t size = h.clientId;
  int64_t limit = int64_t(buf_.size()) * 4;
  // Every size from the peer is checked before a byte goes into the buffer.
  if (size < 12 || size > limit || (size - 12) % 4 != 0 || h.length() != (size - 12) / 4) {
    scon_->shut(SocketConnection::BAD_ORDER);
    failText_ = msgText("ERRRECFRM");
    failText_ += " (size ";
    failText_ += toString(long(size));
    failText_ += ")";
    return -8;
  }
  int32_t body = int32_t(size - 12);
  if (body > 0 && scon_->receive(body, reinterpret_cast<char*>(start + 3)) != body) {
    scon_->shut(SocketConnection::BAD_ORDER);
    failText_ = msgText("ERRRECFRM");
    return -8;
  }
  setMsgClientId(start, -1);
  return body;
}

int32_t RemoteConnection::sendPart() {
  if (!scon_ || scon_->status() != SocketConnection::OKEY || buf_.empty()) {
    if (mode_ & reportErrors) error(msgText("ERR_SHA_RCON"));
    failText_ = msgText("ERR_SHA_RCON");
    return -1;
  }
  if (sendTo() != 0) {
    if (mode_ & reportErrors) error(msgText("ERRSENDTO"));
    failText_ = msgText("ERRSENDTO");
    scon_->shut(SocketConnection::NO_CONNECT);
    return -1;
  }
  buffer_ = beginOfBuffer();
  readPos_ = writePos_ = buffer_ + 3;
  writeLeft_ = readLeft_ = capacity_ - 1;
  return 0;
}

int32_t RemoteConnection::fillPart() {
  if (!scon_ || scon_->status() != SocketConnection::OKEY || buf_.empty()) {
    if (mode_ & reportErrors) error(msgText("ERR_SHA_RCON"));
    failText_ = msgText("ERR_SHA_RCON");
    return -1;
  }
  uint32_t* start = beginOfBuffer();
  if (!header().continued() || buffer_ != start) {
    if (mode_ & reportErrors) error(msgText("ERRRMSG"));
    return -1;
  }
  for (;;) {
    int32_t r = receiveFrom();
    if (r < 0) {
      if (curOp_ != DBM_STOP && (mode_ & reportErrors)) {
        String text = msgText("ERRRECFRM");
        text += " (";
        text += toString(long(r));
        text += ").";
        error(String("%s"), toCharPtr(text));
      }
      return -1;
    }
    readPos_ = start + 3;
    readLeft_ = r / 4 - 1;
    writePos_ = start + 3;
    writeLeft_ = capacity_ - 1;
    int16_t st = header().status();
    if (st == 20) {
      Exception* c = Exception::getException(20);
      ZF_PRECOND(c != nullptr);
      if (c) {
        ++readLeft_;
        c->fill(this);
        Exception::last(*c);
        c->raise();
        readPos_ = start + 3;
        readLeft_ = r / 4 - 1;
      }
    }
    if (st == 21) {
      // A notification between request and reply: wait for the reply.
      s_MsgBuff h = header();
      h.setContinued(true);
      setHeader(h);
      continue;
    }
    return r;
  }
}
