// Recovery of a real server process with a journal: a start after SIGKILL
// replays the journal and reports its progress at verbose level 1, a start
// with -i names what it skips, and every start leaves one new journal file
// behind the state file's position.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "TestServer.h"

namespace {

int journalFiles(std::string const& dir) {
  int n = 0;
  for (auto const& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().rfind("rlog", 0) == 0) ++n;
  return n;
}

// The server answers once its queues exist, before its recovery ends: a
// wait (bounded) for what the start leaves.
template <class F>
bool waitFor(F const& done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    ::usleep(50000);
  }
  return done();
}

TEST(RecoveryLive, KilledServerRestartsFromItsJournal) {
  zftest::TempDir dir;
  dir.write("jrnl/.keep", "");
  zftest::TestServer sv(dir, "rec", "JournalDir\t" + dir.file("jrnl") + "\n");
  ASSERT_TRUE(sv.start()) << sv.log();
  EXPECT_TRUE(waitFor([&] { return journalFiles(dir.file("jrnl")) >= 1; })) << sv.log();
  sv.kill();
  sv.removeIpc();

  ASSERT_TRUE(sv.start({"-v", "-i", "3,4"})) << sv.log();
  waitFor([&] { return sv.log().find("No transactions were found.") != std::string::npos; });
  sv.kill();
  sv.removeIpc();
  std::string const log = sv.log();
  EXPECT_NE(log.find("Reading journal from file rlog"), std::string::npos) << log;
  EXPECT_NE(log.find("Rolling back incomplete transactions"), std::string::npos) << log;
  EXPECT_NE(log.find("No transactions were found."), std::string::npos) << log;
  EXPECT_EQ(log.find("assertion"), std::string::npos) << log;

  // A third start still finds a sound journal and state.
  ASSERT_TRUE(sv.start()) << sv.log();
  sv.stop();
}

}  // namespace
