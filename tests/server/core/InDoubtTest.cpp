// The in-doubt question: forced and assumed decisions, an unreachable
// leader (undecided, or the fatal CANTCONNECT when an answer is required),
// and a live leader asked over its queues.
#include "CoreFixture.h"

#include <cstdio>
#include "RawClient.h"
#include "SysVEndpoint.h"
#include "TestServer.h"

#include <svobject/Client.h>

#include <zfound/DbConnection.h>
#include <zfound/MsgHeader.h>

#include <sys/stat.h>

namespace coretest {
namespace {

// Reports of a child reach its collected output.
int toStderr(int, char const*, char const* text) {
  std::fprintf(stderr, "%s\n", text);
  return 0;
}

class InDoubtTest : public CoreTest {};

// A leader name no configuration knows.
constexpr char kNoLeader[] = "noleader";

TEST_F(InDoubtTest, DecisionsWithoutALeader) {
  struct Case {
    int32_t behaviour;
    bool mustAnswer;
    int32_t expect;
    char const* text;  // shown at verbose level 1
  } const cases[] = {
      {2, true, 1, "*** Forcing EndTransaction in a two phase commit transaction."},
      {4, true, 0, "*** Forcing AbortTransaction in a two phase commit transaction."},
      {0, true, 1, "Assuming EndTransaction in a two phase commit transaction."},
      {1, true, 0, "Assuming AbortTransaction in a two phase commit transaction."},
      {-1, false, -1, "Cannot connect to the leader server noleader"},
  };
  Server::verboseLevel_sd = 1;
  TimeStamp ts;
  for (Case const& c : cases) {
    SCOPED_TRACE(c.behaviour);
    shown().clear();
    EXPECT_EQ(Server::isCompleteTrans(c.behaviour, kNoLeader, ts, c.mustAnswer), c.expect);
    EXPECT_TRUE(sawWarning(c.text));
  }
}

TEST_F(InDoubtTest, UnreachableLeaderEndsTheStartWhenAnAnswerIsRequired) {
  zftest::RunResult r = zftest::runInChild([] {
    displayErrorHandler(toStderr);
    int32_t const d = Server::isCompleteTrans(-1, kNoLeader, TimeStamp(), true);
    return d == -1 ? 3 : 4;
  });
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find("Cannot connect to the leader server noleader"), std::string::npos) << (r.out + r.err);
}

TEST_F(InDoubtTest, StoppedLeaderIsUnreachable) {
  zftest::TestServer lead(tmp, "lead");
  ASSERT_TRUE(lead.start());
  lead.stop();
  lead.removeIpc();
  shown().clear();
  EXPECT_EQ(Server::isCompleteTrans(-1, "lead", TimeStamp(), false), -1);
  EXPECT_TRUE(sawWarning("Cannot connect to the leader server lead"));
}

// A live leader answers over its queues: 0 (end) while its complete entry
// lives, not 0 (abort) once its own EndTransact dropped it. The question
// runs in a child with a bound, so a hang fails the test instead of
// stopping it.
TEST_F(InDoubtTest, LiveLeaderIsAsked) {
  zftest::TestServer lead(tmp, "lead");
  ASSERT_TRUE(lead.start()) << lead.log();
  zftest::RawClient a(lead.serverId());
  ASSERT_EQ(0, a.connect().status);
  zftest::RawReply begin = a.request(0x70000000, DBM_BEGTRANSACT, {0});
  ASSERT_EQ(0, begin.status) << lead.log();
  zftest::WireCodec rc;
  rc.feed(begin.body);
  TimeStamp ts;
  rc >> ts;
  std::vector<uint32_t> const vote =
      zftest::encodeWords([&](Connection& c) { c << String("lead") << int32_t(2) << ts; });
  ASSERT_EQ(0, a.request(0x70000000, DBM_READYTOEND, vote).status) << lead.log();

  auto ask = [&] {
    return zftest::runInChild(
        [&] {
          displayErrorHandler(toStderr);
          return 10 + Server::isCompleteTrans(-1, "lead", ts, false);
        },
        40);
  };
  zftest::RunResult r = ask();
  EXPECT_EQ(11, r.status) << r.out << r.err << lead.log();
  ASSERT_EQ(0, a.request(0x70000000, DBM_ENDTRANSACT, {0}).status);
  r = ask();
  EXPECT_EQ(10, r.status) << r.out << r.err << lead.log();
  // The leader still serves its client.
  EXPECT_EQ(0, a.request(0x70000000, DBM_BEGTRANSACT, {0}).status) << lead.log();
  EXPECT_EQ(0, lead.stop()) << lead.log();
}

// A removed client whose leader can't be reached stays in doubt: its slot,
// its transaction and its locks kept, nothing served under its id; the
// leader is asked again only once the retry interval passed, and its answer
// ends the transaction and removes the client.
TEST_F(InDoubtTest, RemovedClientStaysInDoubtUntilItsLeaderAnswers) {
  std::string const jdir = tmp.file("lead.jrnl");
  mkdir(jdir.c_str(), 0700);
  zftest::TestServer lead(tmp, "lead", "JournalDir\t" + jdir + "\n");
  ASSERT_TRUE(lead.start()) << lead.log();
  TimeStamp ts;
  {
    zftest::RawClient a(lead.serverId());
    ASSERT_EQ(0, a.connect().status);
    zftest::RawReply begin = a.request(0x70000000, DBM_BEGTRANSACT, {0});
    ASSERT_EQ(0, begin.status) << lead.log();
    zftest::WireCodec rc;
    rc.feed(begin.body);
    rc >> ts;
    std::vector<uint32_t> const vote =
        zftest::encodeWords([&](Connection& c) { c << String("lead") << int32_t(2) << ts; });
    ASSERT_EQ(0, a.request(0x70000000, DBM_READYTOEND, vote).status) << lead.log();
  }
  // The leader goes down with the transaction complete in its journal.
  lead.kill();
  lead.removeIpc();

  Client* c = new Client(4343, "voter", "", 0, 0, "node", "tty", false);
  Server::addClient(c);
  int32_t const id = c->id();
  ASSERT_TRUE(Server::beginTrans(c, -1, 0));
  c->setTransLeader("lead", ts);
  c->readyToEnd();
  shown().clear();
  Server::delClient(c);
  EXPECT_TRUE(sawWarning("Cannot connect to the leader server lead"));
  ASSERT_EQ(c, Server::clientOfId(id));
  EXPECT_TRUE(Server::isInDoubt(c));
  EXPECT_TRUE(c->hasTrans());
  EXPECT_EQ(Client::STATE_ZOMBIE, c->state());
  EXPECT_EQ(1, Server::activeTrans);
  // The heartbeat passes it by; a question before the interval is not asked.
  EXPECT_FALSE(Server::heartBeat(nullptr));
  shown().clear();
  EXPECT_FALSE(Server::askInDoubt());
  EXPECT_FALSE(sawWarning("Asking the leader server"));
  ASSERT_EQ(c, Server::clientOfId(id));

  ASSERT_TRUE(lead.start()) << lead.log();
  Server::inDoubtRetry = 0;
  // First in a child with a bound, so that a question that hangs fails
  // the test instead of stopping it; then here.
  EXPECT_EQ(0, zftest::runInChild([] { return Server::askInDoubt() ? 0 : 1; }, 40).status);
  EXPECT_TRUE(Server::askInDoubt());
  Server::inDoubtRetry = 30;
  EXPECT_EQ(nullptr, Server::clientOfId(id));
  EXPECT_TRUE(Server::inDoubt.empty());
  EXPECT_EQ(0, Server::activeTrans);
  EXPECT_EQ(0, lead.stop()) << lead.log();
}

// A leader that lives but never answers (it could be asking this server in
// turn) does not hold the run-time question: after the reply wait it counts
// as unreachable.
TEST_F(InDoubtTest, MuteLeaderCountsAsUnreachableAtRunTime) {
  int32_t const id = zftest::uniqueServerId();
  writeConfig("mute", "ServerId\t" + std::to_string(id) + "\n");
  zftest::SysVEndpoint mute(id, tmp.file("mute.log"), "m", [](zftest::EndpointRequest const&) {
    ::pause();
    return zftest::EndpointReply();
  });
  ASSERT_TRUE(mute.start());
  zftest::RunResult r = zftest::runInChild(
      [] {
        displayErrorHandler(toStderr);
        Server::leaderReplyWait = 1;
        return 10 + Server::isCompleteTrans(-1, "mute", TimeStamp(), false);
      },
      30);
  EXPECT_EQ(9, r.status) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find("Cannot connect to the leader server mute"), std::string::npos) << r.out << r.err;
  mute.kill();
  mute.removeIpc();
}

}  // namespace
}  // namespace coretest
