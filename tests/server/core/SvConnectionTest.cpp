// The server end of the transport, in process: a connection on keys unique
// to the test, parts put on its queues by a raw client beforehand, requests
// taken with receive() and replies read back from the reply queue.
#include "CoreFixture.h"
#include "RawClient.h"
#include "SysVEndpoint.h"

#include <svcore/SvConnection.h>

#include <zfound/MsgHeader.h>

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>

#include <memory>

#include <unistd.h>

using namespace coretest;
using zftest::RawClient;
using zftest::RawReply;

namespace {

constexpr int32_t kServerObj = 0x70000000;

// The words of one part: header then body.
std::vector<uint32_t> part(long type, int32_t op, std::vector<uint32_t> const& body, bool cont = false,
                           int32_t lengthField = -1) {
  std::vector<uint32_t> w =
      RawClient::header(type, kServerObj, op, lengthField < 0 ? int32_t(body.size()) : lengthField, cont);
  w.insert(w.end(), body.begin(), body.end());
  return w;
}

std::vector<uint32_t> iota(int32_t n, uint32_t from = 1) {
  std::vector<uint32_t> v;
  for (int32_t i = 0; i < n; ++i)
    v.push_back(from + uint32_t(i));
  return v;
}

class SvConnectionTest : public CoreTest {
protected:
  void SetUp() override {
    CoreTest::SetUp();
    id = zftest::uniqueServerId();
    con = std::make_unique<SvConnection>(id, hooks);
    client = std::make_unique<RawClient>(id);
    ASSERT_TRUE(client->ok());
    client->setClientId(4);
  }
  void TearDown() override {
    client.reset();
    con.reset();  // removes the queues and the semaphore set
    CoreTest::TearDown();
  }
  // The body words of the current request, read through the channel.
  std::vector<uint32_t> readBody(int32_t n) {
    std::vector<uint32_t> out;
    for (int32_t i = 0; i < n; ++i) {
      int32_t w = 0;
      con->recInt(w);
      out.push_back(uint32_t(w));
    }
    return out;
  }
  long type() const { return client->ownType(); }

  SvConnectionHooks hooks;
  int32_t id = 0;
  std::unique_ptr<SvConnection> con;
  std::unique_ptr<RawClient> client;
};

TEST_F(SvConnectionTest, SecondServerOfTheIdIsRefusedAndTheFirstKeepsItsQueues) {
  try {
    SvConnection second(id);
    ADD_FAILURE() << "a second connection was made";
  } catch (SvConnectionError const& e) {
    EXPECT_STREQ(e.key, "SVALREADYRUN");
  }
  EXPECT_TRUE(SvConnection::serverRunning(id));
  EXPECT_TRUE(RawClient(id).ok());
}

TEST_F(SvConnectionTest, SetLeftByACrashedServerIsRenewedWithStopFlagClear) {
  con.reset();
  int32_t other = zftest::uniqueServerId();
  // A set left behind with the stop flag raised and no lock holder.
  int sem = semget(key_t(uint32_t(other) << 8), 2, IPC_CREAT | 0666);
  ASSERT_GE(sem, 0);
  struct sembuf up = {1, 1, 0};
  ASSERT_EQ(semop(sem, &up, 1), 0);
  SvConnection c(other);
  EXPECT_FALSE(c.stopTime());
  EXPECT_TRUE(SvConnection::serverRunning(other));
  struct sembuf stop = {1, 1, 0};
  ASSERT_EQ(semop(c.semaphores(), &stop, 1), 0);
  EXPECT_TRUE(c.stopTime());
}

// A queue's byte limit above kernel.msgmnb (16384 by default) may only be
// set by a process with CAP_SYS_RESOURCE; root in a container often runs
// without it, and then the limit stays at msgmnb whatever the server asks
// (the queue-full policy still keeps the server going). The probe tells
// which case this machine is.
TEST_F(SvConnectionTest, ReplyQueueLimitIsRaisedWhereTheSystemAllows) {
  int probe = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
  ASSERT_GE(probe, 0);
  struct msqid_ds pd {};
  msgctl(probe, IPC_STAT, &pd);
  unsigned long const initial = pd.msg_qbytes;
  pd.msg_qbytes = 1024u * 1024u;
  bool allowed = msgctl(probe, IPC_SET, &pd) == 0;
  int const err = errno;
  msgctl(probe, IPC_RMID, nullptr);
  if (!allowed) {
    struct msqid_ds ds {};
    ASSERT_EQ(msgctl(con->replyQueue(), IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.msg_qbytes, initial) << "the server's queue keeps the system's limit";
    std::string const status = zftest::readFile("/proc/self/status");
    size_t const at = status.find("CapEff:");
    std::string const capEff = at == std::string::npos ? "?" : status.substr(at + 8, status.find('\n', at) - at - 8);
    GTEST_SKIP() << "raising msg_qbytes above kernel.msgmnb (" << initial << ") fails with errno " << err
                 << ": this process lacks CAP_SYS_RESOURCE (CapEff " << capEff << ", bit 24)";
  }
  struct msqid_ds ds {};
  ASSERT_EQ(msgctl(con->replyQueue(), IPC_STAT, &ds), 0);
  EXPECT_GE(ds.msg_qbytes, 1024u * 1024u);
}

TEST_F(SvConnectionTest, RequestSizesAcrossPartsWithOneGoAhead) {
  for (int32_t n : {0, 1, 253, 254, 506, 700}) {
    SCOPED_TRACE(n);
    std::vector<uint32_t> body = iota(n, 100);
    int32_t parts = msgPartCount(n);
    for (int32_t i = 0; i < parts; ++i) {
      MsgPartSpan s = msgPart(n, i);
      std::vector<uint32_t> b(body.begin() + s.first, body.begin() + s.first + s.words);
      ASSERT_TRUE(client->sendRaw(i == 0 ? 's' : 'c', type(), part(type(), DBM_GETINFO, b, s.continued)));
    }
    int32_t oid = 0, msg = 0;
    EXPECT_EQ(con->receive(oid, msg), 4);
    EXPECT_EQ(oid, kServerObj);
    EXPECT_EQ(msg, DBM_GETINFO);
    EXPECT_EQ(readBody(n), body);
    EXPECT_FALSE(con->bad());
    // One go-ahead exactly when the request took more than one part.
    EXPECT_EQ(client->goAhead(0), parts > 1);
    EXPECT_FALSE(client->goAhead(0));
    con->clear();
  }
}

TEST_F(SvConnectionTest, ReadPastTheRequestMarksTheChannelBad) {
  ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_GETINFO, {7})));
  int32_t oid = 0, msg = 0;
  con->receive(oid, msg);
  EXPECT_EQ(readBody(1), std::vector<uint32_t>{7});
  EXPECT_FALSE(con->bad());
  EXPECT_EQ(readBody(2), (std::vector<uint32_t>{0, 0}));
  EXPECT_TRUE(con->bad());
}

TEST_F(SvConnectionTest, BatchOfVoidRequestsIsServedInOrderWithOneReply) {
  std::vector<uint32_t> w = part(type(), DBM_ADDRECORD, {1, 2});
  std::vector<uint32_t> b = part(type(), DBM_PUTRECORD, {3});
  std::vector<uint32_t> c = part(type(), DBM_GETRECORD, {4, 5, 6});
  w.insert(w.end(), b.begin(), b.end());
  w.insert(w.end(), c.begin(), c.end());
  ASSERT_TRUE(client->sendRaw('s', type(), w));
  struct Step {
    int32_t msg;
    std::vector<uint32_t> body;
  } const steps[] = {{DBM_ADDRECORD, {1, 2}}, {DBM_PUTRECORD, {3}}, {DBM_GETRECORD, {4, 5, 6}}};
  for (Step const& s : steps) {
    int32_t oid = 0, msg = 0;
    EXPECT_EQ(con->receive(oid, msg), 4);
    EXPECT_EQ(msg, s.msg);
    EXPECT_EQ(readBody(int32_t(s.body.size())), s.body);
    EXPECT_EQ(con->isBufferingMsg(), s.msg != DBM_GETRECORD);
  }
  con->reply(4, 0, 77);
  *con << int32_t(9);
  con->reply();
  RawReply r = client->reply(0, 5);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 77);
  EXPECT_EQ(r.body, std::vector<uint32_t>{9});
  EXPECT_EQ(client->pendingReplies(), 0);
}

// Each hostile input gets an error reply (or, void, is dropped) and the
// request after it is still served.
TEST_F(SvConnectionTest, HostileTransportInputsAreAnsweredAndServingGoesOn) {
  long other = type() + 5;
  struct Case {
    char const* name;
    std::vector<std::vector<uint32_t>> firstParts;  // on the request queue
    std::vector<std::vector<uint32_t>> contParts;   // on the continuation queue
    bool replied;                                   // an error reply comes
  };
  std::vector<uint32_t> foreign = part(type(), DBM_ADDRECORD, {1});
  std::vector<uint32_t> f2 = part(other, DBM_GETRECORD, {2});
  foreign.insert(foreign.end(), f2.begin(), f2.end());
  std::vector<uint32_t> full = part(type(), DBM_GETINFO, iota(253), true);
  Case const cases[] = {
      {"continued first part that is not full", {part(type(), DBM_GETINFO, iota(10), true)}, {}, true},
      {"length field larger than the part", {part(type(), DBM_GETINFO, iota(3), false, 9)}, {}, true},
      // The sender's own request in that batch is void: dropped with a warning.
      {"batch naming another client", {foreign}, {}, false},
      {"short continuation part", {full}, {part(type(), DBM_GETINFO, iota(10), true)}, true},
      {"continuation part of another type field", {full}, {part(other, DBM_GETINFO, iota(4))}, true},
      {"message shorter than a header", {{1, 2}}, {}, false},
      {"malformed void request", {part(type(), DBM_ADDRECORD, iota(3), false, 7)}, {}, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    for (auto const& p : c.firstParts)
      ASSERT_TRUE(client->sendRaw('s', type(), p));
    for (auto const& p : c.contParts)
      ASSERT_TRUE(client->sendRaw('c', type(), p));
    ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_GETTABLES, {42})));
    int32_t oid = 0, msg = 0;
    EXPECT_EQ(con->receive(oid, msg), 4);
    EXPECT_EQ(msg, DBM_GETTABLES);
    EXPECT_EQ(readBody(1), std::vector<uint32_t>{42});
    if (!c.contParts.empty()) {
      EXPECT_TRUE(client->goAhead(0));  // sent before the part that was refused
    }
    if (c.replied) {
      RawReply r = client->reply(0, 5);
      ASSERT_TRUE(r.ok);
      EXPECT_EQ(r.status, -35);  // InvalidData
      EXPECT_EQ(r.result, -1);
    }
    EXPECT_EQ(client->pendingReplies(), 0);
    con->clear();
  }
}

TEST_F(SvConnectionTest, OversizeRequestIsRefusedAndItsPartsDrained) {
  int32_t words = SvConnection::kMaxRequestBytes / 4 + 600;
  std::vector<uint32_t> body = iota(words);
  int32_t parts = msgPartCount(words);
  // The server reads the parts as the client sends them: a child sends,
  // then another client's request follows.
  zftest::ChildRun sender = zftest::startChild([&]() {
    RawClient c(id);
    c.setClientId(4);
    if (!c.send(kServerObj, DBM_GETINFO, body))
      return 1;
    c.setClientId(5);
    return c.sendRaw('s', c.ownType(), part(c.ownType(), DBM_GETTABLES, {1})) ? 0 : 2;
  });
  int32_t oid = 0, msg = 0;
  EXPECT_EQ(con->receive(oid, msg), 5);
  EXPECT_EQ(msg, DBM_GETTABLES);
  EXPECT_EQ(sender.wait(30).status, 0);
  RawReply r = client->reply(0, 5);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, -35);
  struct msqid_ds ds {};
  ASSERT_EQ(msgctl(con->continuationQueue(), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.msg_qnum, 0u) << parts << " parts";
}

// Requests already queued are taken without a wait, others are waited
// for; both are served alike and in order, whatever the mix. The alarm of
// a wait stays set after its request came: when it falls due while that
// request is still handled, nothing is disturbed.
TEST_F(SvConnectionTest, QueuedAndAwaitedRequestsAreServedAlikeAndALateAlarmDisturbsNothing) {
  // Rounds of one, three and no queued requests, each followed by one that
  // a child sends while the server waits.
  int32_t next = 1;
  for (int32_t queued : {1, 3, 0, 3, 0, 0, 2}) {
    int32_t const first = next;
    for (int32_t i = 0; i < queued; ++i, ++next)
      ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_GETINFO, {uint32_t(next)})));
    uint32_t const late = uint32_t(next++);
    zftest::ChildRun sender = zftest::startChild([&]() {
      usleep(50000);
      RawClient c(id);
      c.setClientId(4);
      return c.sendRaw('s', c.ownType(), part(c.ownType(), DBM_GETINFO, {late})) ? 0 : 1;
    });
    for (int32_t want = first; want < next; ++want) {
      int32_t oid = 0, msg = 0;
      EXPECT_EQ(con->receive(oid, msg), 4);
      EXPECT_EQ(msg, DBM_GETINFO);
      EXPECT_EQ(readBody(1), std::vector<uint32_t>{uint32_t(want)});
    }
    EXPECT_EQ(sender.wait(30).status, 0);
  }
  // The last request came through a wait: its alarm falls due now.
  sleep(3);
  ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_GETINFO, {99})));
  int32_t oid = 0, msg = 0;
  EXPECT_EQ(con->receive(oid, msg), 4);
  EXPECT_EQ(readBody(1), std::vector<uint32_t>{99});
}

int housekeepingPasses = 0;
void countPass() { ++housekeepingPasses; }

// Sleeps the whole time, across the signals that cut a sleep short.
void sleepFully(unsigned seconds) {
  while (seconds > 0)
    seconds = sleep(seconds);
}

// Housekeeping falls due two seconds after the last pass, also for a server
// that never waits that long: one request handled for longer than that,
// and requests that keep coming a fraction of it apart (a mirror polled by
// its readers), each lead to a pass before the next request is taken.
TEST_F(SvConnectionTest, HousekeepingThatFallsDueWhileRequestsAreServedStillRuns) {
  housekeepingPasses = 0;
  hooks.houseKeeping = &countPass;
  con.reset();
  con = std::make_unique<SvConnection>(id, hooks);
  client = std::make_unique<RawClient>(id);
  client->setClientId(4);
  int32_t oid = 0, msg = 0;

  // A request handled for three seconds.
  ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_GETINFO, {1})));
  EXPECT_EQ(con->receive(oid, msg), 4);
  sleepFully(3);
  ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_GETINFO, {2})));
  EXPECT_EQ(con->receive(oid, msg), 4);
  EXPECT_EQ(readBody(1), std::vector<uint32_t>{2});
  EXPECT_EQ(housekeepingPasses, 1);

  // Requests 250 ms apart for three seconds, taken with waits.
  housekeepingPasses = 0;
  constexpr int32_t kSent = 12;
  zftest::ChildRun sender = zftest::startChild([&]() {
    RawClient c(id);
    c.setClientId(4);
    for (int32_t i = 0; i < kSent; ++i) {
      usleep(250000);
      if (!c.sendRaw('s', c.ownType(), part(c.ownType(), DBM_GETINFO, {uint32_t(10 + i)})))
        return 1;
    }
    return 0;
  });
  for (int32_t i = 0; i < kSent; ++i) {
    EXPECT_EQ(con->receive(oid, msg), 4);
    EXPECT_EQ(readBody(1), std::vector<uint32_t>{uint32_t(10 + i)});
  }
  EXPECT_EQ(sender.wait(30).status, 0);
  EXPECT_GE(housekeepingPasses, 1);
}

TEST_F(SvConnectionTest, DrainFindsDisconnectAmongAClientsMessages) {
  ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_GETINFO, {1})));
  ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_DISCONNECT, {})));
  ASSERT_TRUE(client->sendRaw('s', type(), part(type(), DBM_DISCONNECT, {})));  // a second one
  ASSERT_TRUE(client->sendRaw('s', type(), {5}));                                 // short
  ASSERT_TRUE(client->sendRaw('c', type(), part(type(), DBM_GETINFO, {1})));
  con->reply(4, 0, 1);
  con->reply();
  ASSERT_TRUE(client->sendRaw('s', type() + 1, part(type() + 1, DBM_GETINFO, {1})));
  EXPECT_TRUE(con->drain(4));
  EXPECT_EQ(client->pendingReplies(), 0);
  // The other client's request stays.
  int32_t oid = 0, msg = 0;
  EXPECT_EQ(con->receive(oid, msg), 5);
  EXPECT_FALSE(con->drain(5));
}

bool knownNone(int32_t) { return false; }

TEST_F(SvConnectionTest, FullReplyQueueDrainsRepliesOfUnknownClients) {
  hooks.knownClient = &knownNone;
  con.reset();
  con = std::make_unique<SvConnection>(id, hooks);
  client = std::make_unique<RawClient>(id);
  client->setClientId(4);
  struct msqid_ds ds {};
  ASSERT_EQ(msgctl(con->replyQueue(), IPC_STAT, &ds), 0);
  ds.msg_qbytes = 4096;
  ASSERT_EQ(msgctl(con->replyQueue(), IPC_SET, &ds), 0);
  // Replies nobody reads until the queue is full: the sends never block.
  for (int i = 0; i < 40; ++i) {
    con->reply(9, 0, i);
    for (int k = 0; k < 100; ++k)
      *con << int32_t(k);
    con->reply();
  }
  con->reply(4, 0, 123);
  con->reply();
  RawReply r = client->reply(0, 5);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 123);
}

int32_t removed = -1;
bool knownAll(int32_t) { return true; }
void removeIt(int32_t id) { removed = id; }

TEST_F(SvConnectionTest, FullReplyQueueRemovesTheClientWithMostUnreadReplies) {
  hooks.knownClient = &knownAll;
  hooks.removeClient = &removeIt;
  removed = -1;
  con.reset();
  con = std::make_unique<SvConnection>(id, hooks);
  client = std::make_unique<RawClient>(id);
  client->setClientId(4);
  struct msqid_ds ds {};
  ASSERT_EQ(msgctl(con->replyQueue(), IPC_STAT, &ds), 0);
  ds.msg_qbytes = 4096;
  ASSERT_EQ(msgctl(con->replyQueue(), IPC_SET, &ds), 0);
  con->reply(6, 0, 1);
  con->reply();
  for (int i = 0; i < 40; ++i) {
    con->reply(9, 0, i);
    for (int k = 0; k < 100; ++k)
      *con << int32_t(k);
    con->reply();
  }
  EXPECT_EQ(removed, 9);
  EXPECT_TRUE(sawWarning("removed"));
  RawReply r = client->reply(7, 5);  // client 6 still has its reply
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 1);
}

}  // namespace
