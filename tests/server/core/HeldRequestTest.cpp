// Held requests in the server core: a record read and a table lock that
// wait for another client's lock and answer from the wake-up list, a wait
// that answers at once (no-wait mode), an answer replaced by the abort
// cause, a held transaction begin resumed after the checkpoint, and the
// cursors the schema asks the core for.
#include "../catalog/TableFixture.h"

#include "LoopPort.h"

#include <svcatalog/RequestEnv.h>
#include <svcatalog/SvCursor.h>
#include <svcore/HeldRequests.h>
#include <svcore/Server.h>
#include <svobject/ClientEnv.h>

#include <algorithm>

namespace tabletest {
namespace {

class HeldRequestTest : public TableTest {
protected:
  void SetUp() override {
    TableTest::SetUp();
    Exception::init(true);
    svcore::installHeldRequests();
    makeTable();
    for (int32_t id = 1; id <= 8; ++id) {
      std::string code = "c" + std::to_string(id);
      ASSERT_GT(add(id, "n", code.c_str()), 0);
    }
  }
  void TearDown() override {
    for (Client* c : {&alice, &bob}) c->clearPending();
    svcatalog::RequestEnv::reset();
    Server::resumeClientsHook = nullptr;
    Server::resumeBeginHook = nullptr;
    TableTest::TearDown();
  }

  // Serves one request as the dispatch does: the reply the operation
  // began, or its error or result; nothing while the client is held.
  void serve(Client* c, std::vector<uint32_t> const& words, std::function<long()> const& op) {
    port.feed(words);
    Exception::last(Exception(0));
    long const r = op();
    if (!port.begun()) {
      if (Exception::last().code() != 0)
        port.reply(c->id(), -Exception::last().code(), -1);
      else
        port.reply(c->id(), 0, int32_t(r));
    }
    if (c->isReady())
      port.reply();
    else
      port.clear();
  }
  // GetRecord words: index 0, mode, wait seconds, server-wait flag 0,
  // part count 0, the int key.
  void getRecord(Client* c, int32_t mode, int32_t wait, int32_t key) {
    serve(c, {0, uint32_t(mode), uint32_t(wait), 0, 0, uint32_t(key)}, [&] { return current->getRecord(c); });
  }
  void holdRecord(Client* c, int32_t key) {
    LockObject* lk = nullptr;
    bool created = false;
    ASSERT_TRUE(current->applyLock(c, key, 1, 0, true, &lk, created));  // keys were added as records 1..8
    ASSERT_NE(lk, nullptr);
  }

  zftest::LoopPort port;
};

constexpr int32_t kExact = SvIndex::kExact;
constexpr int32_t kWaitX = kExact | SvTable::kModeAcquire | SvTable::kModeExclusive;

TEST_F(HeldRequestTest, RecordReadWaitsForTheLockAndAnswersWhenItIsFreed) {
  holdRecord(&bob, 5);
  getRecord(&alice, kWaitX, 3, 5);
  EXPECT_TRUE(port.replies.empty());  // held: no answer
  EXPECT_EQ(alice.state(), Client::STATE_BLK_LOCK);
  EXPECT_EQ(alice.lockGiveUpTime(), ClientEnv::stamp().time() + 3);
  // No-wait mode is answered at once with Locked, the wait stays.
  Client carol{103, "/bin/c", "", 7, 7, "node", "tty3", true};
  getRecord(&carol, kExact, 0, 4);
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0].result, 4);  // another client is served meanwhile
  getRecord(&carol, kWaitX | SvTable::kModeNoWait, 0, 5);
  ASSERT_EQ(port.replies.size(), 2u);
  EXPECT_EQ(port.replies[1].status, -kExcLocked);
  EXPECT_EQ(carol.pending(), nullptr);

  ASSERT_TRUE(current->freeLock(&bob, 5));
  Server::resumeWokenClients();
  ASSERT_EQ(port.replies.size(), 3u);
  zftest::LoopPort::Reply const& r = port.replies[2];
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 5);
  ASSERT_GE(r.body.size(), 4u);
  EXPECT_EQ(int32_t(r.body[3]), 5);  // the id after instance id and stamp
  EXPECT_EQ(alice.pending(), nullptr);
  EXPECT_EQ(alice.state(), Client::STATE_READY);
  EXPECT_NE(current->findLock(5), nullptr);  // alice holds it now
  EXPECT_EQ(current->findLock(5)->client, &alice);
}

TEST_F(HeldRequestTest, GiveUpAnswersDeadLock) {
  Client* carol = new Client(105, "/bin/c", "", 7, 7, "node", "tty3", true);
  Server::addClient(carol);
  holdRecord(&bob, 5);
  getRecord(carol, kWaitX, 3, 5);
  ASSERT_NE(carol->pending(), nullptr);
  svcore::giveUpWaits();  // not yet
  EXPECT_TRUE(port.replies.empty());
  Server::timeStamp = TimeStamp(Server::timeStamp.time() + 3);
  svcore::giveUpWaits();
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0].status, kExcDeadLock);
  EXPECT_EQ(port.replies[0].result, -1);
  EXPECT_EQ(carol->pending(), nullptr);
  EXPECT_EQ(carol->state(), Client::STATE_READY);
  EXPECT_EQ(carol->pendingLock(), nullptr);
  // The holder frees the record: nobody is woken any more.
  ASSERT_TRUE(current->freeLock(&bob, 5));
  EXPECT_EQ(ClientEnv::wakeUpClient(), nullptr);
  Server::delClient(carol);
}

// A waiter past its notification time is told which table it waits on and
// who holds the lock, once; its request stays held and is answered later.
TEST_F(HeldRequestTest, PendingLockNotificationTellsTheWaiterOnce) {
  ClientEnv::pendLockNotifTime = 2;
  Client* carol = new Client(106, "/bin/c", "", 7, 7, "node", "tty3", true);
  Server::addClient(carol);
  holdRecord(&bob, 5);
  getRecord(carol, kWaitX, -1, 5);
  ClientEnv::pendLockNotifTime = 0;
  ASSERT_NE(carol->pending(), nullptr);
  EXPECT_FALSE(carol->pendLockNotifTime().isNull());
  svcore::giveUpWaits();  // not yet
  EXPECT_TRUE(port.replies.empty());
  Server::timeStamp = TimeStamp(Server::timeStamp.time() + 2);
  svcore::giveUpWaits();
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0].status, kExcPendLockNotif);
  LoopConnection enc;
  enc << rep->qualifiedName() << bob.descr();
  std::vector<uint32_t> const want = enc.words();
  std::vector<uint32_t> const& body = port.replies[0].body;
  ASSERT_GE(body.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), body.end() - std::ptrdiff_t(want.size())));
  EXPECT_TRUE(carol->pendLockNotifTime().isNull());
  EXPECT_EQ(carol->state(), Client::STATE_BLK_LOCK);
  ASSERT_NE(carol->pending(), nullptr);
  Server::timeStamp = TimeStamp(Server::timeStamp.time() + 5);
  svcore::giveUpWaits();  // told once only, and no give-up without a time
  EXPECT_EQ(port.replies.size(), 1u);
  ASSERT_TRUE(current->freeLock(&bob, 5));
  Server::resumeWokenClients();
  ASSERT_EQ(port.replies.size(), 2u);
  EXPECT_EQ(port.replies[1].status, 0);
  EXPECT_EQ(port.replies[1].result, 5);
  Server::delClient(carol);
}

// The wait seconds of a held request: -1 waits without end, 0 and other
// counts give up at now + seconds (0 or below: the next housekeeping).
TEST_F(HeldRequestTest, WaitSecondsGiveTheGiveUpTime) {
  holdRecord(&bob, 5);
  struct Case {
    int32_t wait;
    bool never;
    int32_t after;
  } const cases[] = {{-1, true, 0}, {0, false, 0}, {-7, false, 0}, {4, false, 4}};
  for (Case const& k : cases) {
    SCOPED_TRACE(k.wait);
    getRecord(&alice, kWaitX, k.wait, 5);
    ASSERT_EQ(alice.state(), Client::STATE_BLK_LOCK);
    if (k.never)
      EXPECT_TRUE(alice.lockGiveUpTime().isNull());
    else
      EXPECT_EQ(alice.lockGiveUpTime(), ClientEnv::stamp().time() + k.after);
    alice.clearPendLock();
    alice.clearPending();
  }
  EXPECT_TRUE(port.replies.empty());
}

TEST_F(HeldRequestTest, TableLockWaitsLikeARecordRead) {
  holdRecord(&bob, 2);
  serve(&alice, {uint32_t(SvTable::kModeAcquire | SvTable::kModeExclusive), uint32_t(-1), 0},
        [&] { return current->lock(&alice); });
  EXPECT_TRUE(port.replies.empty());
  EXPECT_TRUE(alice.lockGiveUpTime().isNull());  // -1 seconds: no give-up
  ASSERT_TRUE(current->freeLock(&bob, 2));
  Server::resumeWokenClients();
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0].status, 0);
  EXPECT_EQ(port.replies[0].result, 0);
}

TEST_F(HeldRequestTest, AbortedWhileHeldAnswersTheAbortCause) {
  alice.beginTrans(1, 0);
  holdRecord(&bob, 5);
  getRecord(&alice, kWaitX, 0, 5);
  ASSERT_NE(alice.pending(), nullptr);
  alice.abortTrans(DeadLock(String()));
  ASSERT_TRUE(current->freeLock(&bob, 5));
  Server::resumeWokenClients();
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0].status, kExcDeadLock);
  EXPECT_EQ(port.replies[0].result, -1);
  EXPECT_EQ(alice.pending(), nullptr);
  alice.delTrans();
}

TEST_F(HeldRequestTest, BeginHeldUntilTheCheckpointKeepsItsOptions) {
  auto* c = new Client(104, "/bin/d", "", 7, 7, "node", "tty4", true);
  Server::addClient(c);
  Server::cpTime = true;
  svcore::BeginTransaction begin(nullptr, 1);
  ASSERT_FALSE(begin.exec(c));
  c->setPending(begin, Client::STATE_BLK_TRANS, -1);
  EXPECT_EQ(c->state(), Client::STATE_BLK_TRANS);
  Server::cpTime = false;
  Server::resumeBegTrans();
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0].result, 0);
  EXPECT_EQ(port.replies[0].body.size(), 2u);  // the start stamp
  EXPECT_TRUE(c->hasOptimisticTrans());
  EXPECT_EQ(c->pending(), nullptr);
  // A second begin in the transaction is refused, not held.
  svcore::BeginTransaction again(nullptr, 0);
  EXPECT_TRUE(again.exec(c));
  EXPECT_EQ(Exception::last().code(), kExcInTrans);
  c->delTrans();
  Server::activeTrans = 0;
  Server::delClient(c);
}

TEST_F(HeldRequestTest, CursorsComeFromTheCore) {
  auto& services = svcatalog::RequestEnv::services();
  EXPECT_EQ(services.newCursor(&alice, current, 9, 0, 5), nullptr);
  EXPECT_EQ(Exception::last().code(), kExcInvalidIndexNum);
  SvObject* o = services.newCursor(&alice, current, 0, 0, 0);
  ASSERT_NE(o, nullptr);
  ASSERT_NE(o->getCursor(), nullptr);
  EXPECT_EQ(o->getCursor()->maxRecs(), SvCursor::kPast);  // 0: no limit
  services.addObject(&alice, o);
  EXPECT_GE(alice.findObject(o), 0);
  EXPECT_TRUE(services.delObject(&alice, o));  // a temporary object goes with it
}

}  // namespace
}  // namespace tabletest
