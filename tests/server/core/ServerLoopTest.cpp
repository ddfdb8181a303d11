// The main loop's pieces that run without a process: the file-error
// handler's retry policy and the client registry.
#include "CoreFixture.h"

#include <svcore/Server.h>
#include <svobject/Client.h>

#include <cerrno>

using namespace coretest;

namespace {

class ServerLoopTest : public CoreTest {
protected:
  void SetUp() override {
    CoreTest::SetUp();
    Server::retrySeconds = 0;
  }
  void TearDown() override {
    Server::retrySeconds = 30;
    CoreTest::TearDown();
  }
};

// EACCES and EFBIG are retried, but the third try in a row ends the
// server; ENOSPC keeps its retry; any other error ends it at once.
TEST_F(ServerLoopTest, FileErrorRetryPolicy) {
  struct Case {
    int err;
    int retries;  // answers 0 before the fatal report (-1: never fatal)
  } const cases[] = {{EACCES, 2}, {EFBIG, 2}, {ENOSPC, -1}, {EINTR, -1}, {EIO, 0}};
  for (Case const& c : cases) {
    SCOPED_TRACE(c.err);
    zftest::RunResult r = zftest::runInChild([&]() {
      for (int i = 0; i < 5; ++i)
        if (Server::errHandler("write failed", c.err) != 0)
          return 10 + i;
      return 0;
    });
    if (c.retries < 0) {
      EXPECT_EQ(r.status, 0) << r.err;
    } else {
      EXPECT_NE(r.status, 0) << r.err;
    }
  }
}

TEST_F(ServerLoopTest, ClientsTakeTheFirstFreeSlotAndLeaveIt) {
  Client* a = new Client(getpid(), "a", "", 0, 0, "n", "t", false);
  Client* b = new Client(getpid(), "b", "", 0, 0, "n", "t", false);
  Server::addClient(a);
  Server::addClient(b);
  EXPECT_EQ(a->id(), 0);
  EXPECT_EQ(b->id(), 1);
  EXPECT_EQ(Server::nClients(), 2);
  EXPECT_FALSE(Server::delClient(a));  // no Disconnect pending: no connection
  EXPECT_TRUE(Server::delClient(nullptr));
  EXPECT_EQ(Server::client(0), nullptr);
  Client* c = new Client(getpid(), "c", "", 0, 0, "n", "t", false);
  Server::addClient(c);
  EXPECT_EQ(c->id(), 0);
  EXPECT_EQ(Server::nClients(), 2);
  EXPECT_EQ(Server::client(5), nullptr);
  EXPECT_EQ(Server::client(-1), nullptr);
}

TEST_F(ServerLoopTest, HouseKeepingIsDueAfterTheMessageBound) {
  Server::hkMsgBound = 3;
  Server::nMethodsSinceLast = 3;
  EXPECT_FALSE(Server::isHouseKeepingTime());
  Server::nMethodsSinceLast = 4;
  EXPECT_TRUE(Server::isHouseKeepingTime());
}

}  // namespace
