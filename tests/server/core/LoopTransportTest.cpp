// The main loop over the transport's own receive and reply code, its queue
// calls replaced by in-memory queues: what the loop refuses before dispatch,
// and which requests get a reply.
#include "InProcessFixture.h"

#include <svcore/ConnectionPort.h>
#include <svcore/ServerObject.h>
#include <svcore/SvConnection.h>

#include <blkfile/CacheBuffer.h>
#include <svcore/SchemaFiles.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/SvObject.h>

#include <zfound/LoopConnection.h>
#include <zfound/MsgHeader.h>
#include <zfound/PhysLayout.h>

#include <sys/ipc.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <unistd.h>

using namespace coretest;

namespace {

struct EndOfInput {};

// Request parts in, reply parts out.
struct Queues {
  std::deque<SysVMsgPart> in;
  std::vector<s_MsgBuff> replies;  // the header of every reply part
  std::vector<unsigned long> sizes;  // and its size

  static long receive(void* ctx, int queue, SysVMsgPart* part, long type, int flags) {
    Queues& q = *static_cast<Queues*>(ctx);
    if (queue != 0 || q.in.empty()) {
      if (queue == 0 && !(flags & IPC_NOWAIT)) throw EndOfInput();
      errno = ENOMSG;
      return -1;
    }
    *part = q.in.front();
    q.in.pop_front();
    return 12 + 4 * long(s_MsgBuff::read(part->words).length());
  }
  static int send(void* ctx, int, SysVMsgPart const* part, unsigned long bytes, int) {
    if (bytes >= 12) {
      static_cast<Queues*>(ctx)->replies.push_back(s_MsgBuff::read(part->words));
      static_cast<Queues*>(ctx)->sizes.push_back(bytes);
    }
    return 0;
  }
  void push(int32_t type, uint32_t obj, int32_t op, std::vector<uint32_t> const& body = {}) {
    SysVMsgPart p;
    s_MsgBuff h;
    h.clientId = type;
    h.objId = int32_t(obj);
    h.serverOp = int16_t(op);
    h.setLength(int32_t(body.size()));
    packSysVPart(p, h, body.data(), int32_t(body.size()));
    in.push_back(p);
  }
};

constexpr uint32_t kServer = 0x70000000u;

class LoopTransportTest : public InProcessTest {
protected:
  void SetUp() override {
    startServer();
    server_ = std::make_unique<ServerObject>();
    SvQueueCalls calls;
    calls.receive = &Queues::receive;
    calls.send = &Queues::send;
    calls.ctx = &q_;
    Server::svCon = new SvConnection(calls, SvConnectionHooks());
    SvObject::con = Server::svCon;
    port_ = std::make_unique<ConnectionPort>(*Server::svCon);
    SvObject::setPort(port_.get());
    Server::installRequests();
  }
  void TearDown() override {
    for (Client* c : std::vector<Client*>(Server::clients))
      if (c != nullptr) Server::delClient(c);
    server_.reset();
    SvObject::setPort(nullptr);
    SvObject::con = nullptr;
    port_.reset();
    delete Server::svCon;
    Server::svCon = nullptr;
    InProcessTest::TearDown();
  }

  // Runs the loop over what was queued.
  void run() {
    try {
      Server::execute();
    } catch (EndOfInput const&) {
    }
  }

  // A connected client of this process; its id.
  int32_t connect() {
    LoopConnection enc(4096);
    enc << Server::kProtocolVersion << int32_t(geteuid()) << int32_t(getegid()) << String("/usr/bin/t")
        << String("") << String("n") << String("t") << int32_t(0);
    q_.push(int32_t(getpid() | SvConnection::kConnectFlag) + 1, kServer, DBM_CONNECT, enc.words());
    run();
    EXPECT_EQ(q_.replies.size(), 1u);
    int32_t id = q_.replies.empty() ? -1 : q_.replies.back().objId;
    q_.replies.clear();
    return id;
  }

  Queues q_;
  std::unique_ptr<ConnectionPort> port_;
};

// A void request the loop refuses (unknown client, invalid object) is
// dropped without a reply: its sender reads none, and one sent anyway would
// be taken as the answer to its next request. A request with a reply gets
// its error reply.
TEST_F(LoopTransportTest, RefusedVoidRequestsGetNoReply) {
  int32_t const id = connect();
  ASSERT_GE(id, 0);
  struct Case {
    char const* what;
    int32_t type;
    uint32_t obj;
    int32_t op;
    size_t replies;
  };
  Case const cases[] = {
      {"void Free of an unknown client", id + 50 + 1, kServer, DBM_FREE, 0},
      {"void AddRecord to an invalid object", id + 1, 0x10000077u, DBM_ADDRECORD, 0},
      {"void SetRange to an invalid object", id + 1, 0x10000077u, DBM_SETRANGE, 0},
      {"GetInfo of an unknown client", id + 50 + 1, kServer, DBM_GETINFO, 1},
      {"GetInfo to an invalid object", id + 1, 0x10000077u, DBM_GETINFO, 1},
      {"an operation out of range", id + 1, kServer, 60, 1},
  };
  for (Case const& c : cases) {
    q_.replies.clear();
    q_.push(c.type, c.obj, c.op, {0, 0});
    run();
    EXPECT_EQ(q_.replies.size(), c.replies) << c.what;
    for (s_MsgBuff const& h : q_.replies) {
      EXPECT_EQ(h.clientId, c.type) << c.what;
      EXPECT_LT(h.serverOp, 0) << c.what;
    }
  }
  // The client's next request that waits for a reply gets the refusal of
  // its dropped void request, once, as one reply; the one after is served.
  for (int16_t expected : {int16_t(InvalidObjectId(0).code()), int16_t(0)}) {
    q_.replies.clear();
    q_.push(id + 1, kServer, DBM_MONITOR);
    run();
    ASSERT_EQ(q_.replies.size(), 1u);
    EXPECT_EQ(q_.replies[0].serverOp, expected == 0 ? 0 : -expected);
  }
}

// A reply longer than one part goes in full parts of 253 body words and a
// last one; no part is longer than the 1024 bytes a queue message holds.
TEST_F(LoopTransportTest, LongRepliesGoInWholePartsOfAtMost1024Bytes) {
  int32_t id = -1;
  for (int i = 0; i < 64; ++i) id = connect();
  ASSERT_GE(id, 0);
  q_.replies.clear();
  q_.sizes.clear();
  q_.push(id + 1, kServer, DBM_GETCLIENTSINFO, {2});
  run();
  ASSERT_GT(q_.replies.size(), 2u);  // the answer spans three parts or more
  for (size_t i = 0; i < q_.replies.size(); ++i) {
    EXPECT_LE(q_.sizes[i], 1024u);
    EXPECT_EQ(q_.sizes[i], 12u + 4u * unsigned(q_.replies[i].length()));
    EXPECT_EQ(q_.replies[i].continued(), i + 1 < q_.replies.size());
    if (i + 1 < q_.replies.size()) {
      EXPECT_EQ(q_.replies[i].length(), 253);
    }
  }
}

}  // namespace
