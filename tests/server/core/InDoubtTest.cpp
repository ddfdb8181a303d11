// The in-doubt question: forced and assumed decisions, an unreachable
// leader (undecided, or the fatal CANTCONNECT when an answer is required),
// and a live leader asked over its queues.
#include "CoreFixture.h"

#include <cstdio>
#include "TestServer.h"

#include <zfound/DbConnection.h>

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

}  // namespace
}  // namespace coretest
