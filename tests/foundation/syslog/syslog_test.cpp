// The system log writer, observed through a recording sink: identifier and
// facility, one line per message, texts logged as they stand, priorities,
// and which object closes the log.
#include <gtest/gtest.h>

#include <syslog.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ChildRun.h"
#include <zfound/SysLog.h>

namespace {

struct Record {
  std::vector<std::string> events;
  std::string openedIdent;
  char const* identText = nullptr;
} rec;

void recOpen(char const* ident, int option, int facility) {
  rec.identText = ident;
  rec.openedIdent = ident;
  rec.events.push_back("open " + std::string(ident) + " " + std::to_string(option) + " " + std::to_string(facility));
}
void recWrite(int priority, char const* text) {
  rec.events.push_back(std::to_string(priority) + " " + text);
}
void recClose() { rec.events.push_back("close"); }

class SysLogTest : public testing::Test {
protected:
  void SetUp() override {
    rec = Record();
    old = SysLog::setSink(SysLogSink{recOpen, recWrite, recClose});
  }
  void TearDown() override { SysLog::setSink(old); }
  SysLogSink old;
};

}  // namespace

TEST_F(SysLogTest, OpensWithIdentAndFacilityAndLogsEachPriority) {
  {
    SysLog log(String("srv"), true);
    log.logAlert("a");
    log.logError("e");
    log.logWarning("w");
    log.logNotice("n");
    log.logInfo("i");
    log.logDebug("d");
    // The logger keeps the pointer it was given: it must still hold the name.
    EXPECT_STREQ(rec.identText, "srv");
  }
  SysLog user(String("cli"));
  std::vector<std::string> want = {
      "open srv " + std::to_string(LOG_PID) + " " + std::to_string(LOG_LOCAL0),
      "1 a", "3 e", "4 w", "5 n", "6 i", "7 d", "close",
      "open cli " + std::to_string(LOG_PID) + " " + std::to_string(LOG_USER)};
  EXPECT_EQ(rec.events, want);
}

TEST_F(SysLogTest, TextIsOneLineAndNeverAFormat) {
  SysLog log(String("srv"));
  struct { char const* in; char const* out; } cases[] = {
      {"first\nsecond", "first second"},
      {"100% done %s %n %x", "100% done %s %n %x"},
      {"a\n\nb\n", "a  b "},
      {"", ""},
  };
  for (auto const& c : cases) {
    rec.events.clear();
    log.logInfo(String(c.in));
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0], std::string("6 ") + c.out);
  }
  rec.events.clear();
  log.logInfo(String((char const*)1));
  EXPECT_EQ(rec.events, std::vector<std::string>{"6 (high value)"});
}

TEST_F(SysLogTest, OnlyTheOpenerClosesTheLog) {
  {
    SysLog log(String("srv"));
    {
      SysLog copy(log);
      SysLog assigned(String("other"));  // reopens: now "other" is in force
      assigned = log;
      EXPECT_EQ(assigned.ident(), String("srv"));
      copy.logNotice("via copy");
    }
    // "other" closed the log it opened; the copy closed nothing.
    EXPECT_EQ(rec.events.back(), "close");
    rec.events.clear();
    log.logNotice("still here");
  }
  // "srv"'s opening was no longer in force: destroying it closes nothing.
  EXPECT_EQ(rec.events, std::vector<std::string>{"5 still here"});
  EXPECT_EQ(rec.openedIdent, "other");

  rec.events.clear();
  {
    SysLog log(String("srv"));
    { SysLog copy(log); }
    EXPECT_EQ(rec.events.back().rfind("open srv", 0), 0u);  // the copy closed nothing
    log.logError("after copy");
  }
  EXPECT_EQ(rec.events.size(), 3u);
  EXPECT_EQ(rec.events[1], "3 after copy");
  EXPECT_EQ(rec.events[2], "close");
}

// The system logger's own sink hands the text over as an argument: with the
// logger echoing to standard error, conversions in the text come out as
// they stand instead of being expanded (or writing through "%n"). Run only
// where no log daemon listens, so that the test leaves no trace in a real log.
TEST(SysLogSystemSink, PassesTheTextAsAnArgument) {
  if (::access(_PATH_LOG, F_OK) == 0) GTEST_SKIP() << "a system logger is listening on " << _PATH_LOG;
  zftest::RunResult r = zftest::runInChild([] {
    SysLogSink s = SysLog::systemSink();
    s.open("zftest", LOG_PERROR, LOG_USER);
    s.write(LOG_DEBUG, "100% done %s %n %x");
    s.close();
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("zftest: 100% done %s %n %x\n"), std::string::npos) << r.err;
}
