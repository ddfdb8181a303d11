// RawClient: raw System V parts to and from a running server.
#include "RawClient.h"

#include <zfound/MsgHeader.h>

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace zftest {

namespace {

key_t keyOf(int32_t id, int what) { return key_t((uint32_t(id) << 8) | uint32_t(what)); }

// msgrcv without waiting, retried for up to timeoutSec seconds.
ssize_t receiveBounded(int q, SysVMsgPart& m, long type, int timeoutSec) {
  time_t end = time(nullptr) + timeoutSec;
  for (;;) {
    ssize_t r = msgrcv(q, &m, MSG_PART_BYTES, type, IPC_NOWAIT | MSG_NOERROR);
    if (r >= 0)
      return r;
    if (errno != ENOMSG && errno != EINTR)
      return -1;
    if (timeoutSec <= 0 || time(nullptr) > end)
      return -1;
    usleep(2000);
  }
}

}  // namespace

RawClient::RawClient(int32_t serverId) {
  reqQ_ = msgget(keyOf(serverId, 's'), 0);
  contQ_ = msgget(keyOf(serverId, 'c'), 0);
  repQ_ = msgget(keyOf(serverId, 'r'), 0);
}

std::vector<uint32_t> RawClient::text(std::string const& s) {
  std::vector<uint32_t> w;
  w.push_back(uint32_t(s.size()));
  for (size_t i = 0; i < s.size(); i += 4) {
    uint32_t x = 0;
    std::memcpy(&x, s.data() + i, s.size() - i < 4 ? s.size() - i : 4);
    w.push_back(x);
  }
  return w;
}

std::vector<uint32_t> RawClient::connectBody(int32_t version, int32_t uid, int32_t gid, std::string const& program) {
  if (uid == kOwnId) uid = int32_t(geteuid());
  if (gid == kOwnId) gid = int32_t(getegid());
  std::vector<uint32_t> b = {uint32_t(version), uint32_t(uid), uint32_t(gid)};
  for (std::string const& s : {program, std::string(), std::string("node"), std::string("tty")}) {
    std::vector<uint32_t> t = text(s);
    b.insert(b.end(), t.begin(), t.end());
  }
  b.push_back(1);
  return b;
}

std::vector<uint32_t> RawClient::header(long type, int32_t objId, int32_t op, int32_t words, bool continued) {
  s_MsgBuff h;
  h.clientId = int32_t(type);
  h.objId = objId;
  h.serverOp = int16_t(op);
  h.setLength(words);
  h.setContinued(continued);
  uint32_t w[3];
  h.write(w);
  return {w[0], w[1], w[2]};
}

bool RawClient::sendRaw(char queue, long type, std::vector<uint32_t> const& words) {
  SysVMsgPart p;
  p.mtype = type;
  if (words.size() > size_t(MSG_PART_BYTES / 4))
    return false;
  if (!words.empty())
    std::memcpy(p.words, words.data(), words.size() * 4);
  int q = queue == 'c' ? contQ_ : reqQ_;
  for (int i = 0; i < 2000; ++i) {
    if (msgsnd(q, &p, words.size() * 4, IPC_NOWAIT) == 0)
      return true;
    if (errno != EAGAIN && errno != EINTR)
      return false;
    usleep(5000);
  }
  return false;
}

bool RawClient::goAhead(int timeoutSec) {
  SysVMsgPart m;
  ssize_t r = receiveBounded(repQ_, m, ownType(), timeoutSec);
  return r == 0;
}

bool RawClient::send(int32_t objId, int32_t op, std::vector<uint32_t> const& body) {
  int32_t n = int32_t(body.size());
  int32_t parts = msgPartCount(n);
  for (int32_t i = 0; i < parts; ++i) {
    MsgPartSpan s = msgPart(n, i);
    std::vector<uint32_t> w = header(ownType(), objId, op, s.words, s.continued);
    w.insert(w.end(), body.begin() + s.first, body.begin() + s.first + s.words);
    if (!sendRaw(i == 0 ? 's' : 'c', ownType(), w))
      return false;
    if (i == 0 && parts > 1 && !goAhead())
      return false;
  }
  return true;
}

RawReply RawClient::reply(long type, int timeoutSec) {
  RawReply out;
  long t = type ? type : ownType();
  out.type = t;
  for (;;) {
    SysVMsgPart m;
    ssize_t r = receiveBounded(repQ_, m, t, timeoutSec);
    if (r < 12 || r % 4 != 0)
      return out;
    s_MsgBuff h = s_MsgBuff::read(m.words);
    if (out.parts == 0) {
      out.result = h.objId;
      out.status = h.serverOp;
    }
    ++out.parts;
    out.body.insert(out.body.end(), m.words + 3, m.words + r / 4);
    if (!h.continued()) {
      out.ok = true;
      return out;
    }
  }
}

RawReply RawClient::request(int32_t objId, int32_t op, std::vector<uint32_t> const& body, int timeoutSec) {
  if (!send(objId, op, body))
    return RawReply();
  return reply(0, timeoutSec);
}

RawReply RawClient::connect(std::vector<uint32_t> const& body, int32_t pid, int timeoutSec) {
  int32_t p = pid < 0 ? int32_t(getpid()) : pid;
  long type = long(p | 0x40000000) + 1;
  std::vector<uint32_t> w = header(type, 0x70000000, DBM_CONNECT, int32_t(body.size()), false);
  w.insert(w.end(), body.begin(), body.end());
  if (!sendRaw('s', type, w))
    return RawReply();
  RawReply r = reply(type, timeoutSec);
  if (r.ok && r.status == 0)
    clientId_ = r.result;
  return r;
}

int32_t RawClient::pendingReplies() const {
  struct msqid_ds ds {};
  if (msgctl(repQ_, IPC_STAT, &ds) != 0)
    return -1;
  return int32_t(ds.msg_qnum);
}

}  // namespace zftest
