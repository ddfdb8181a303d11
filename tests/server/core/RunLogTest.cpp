// The run log: its bytes as recorded, replay of messages and housekeeping
// rounds, progress lines, and refusal of damaged or foreign logs.
#include "CoreFixture.h"

#include <svcore/RunLog.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>

using namespace coretest;

namespace {

std::string bytes(std::string const& path) { return zftest::readFile(path); }

std::string hex(std::string const& s, size_t from, size_t n) { return zftest::hexBytes(s, from, n); }

std::vector<int32_t> dead;
void onDead(int32_t id) { dead.push_back(id); }
RunLog* replaying = nullptr;
int rounds = 0;
void onRound() {
  ++rounds;
  replaying->readHouseKeeping();
}

class RunLogTest : public CoreTest {
protected:
  std::string path() const { return tmp.file("run.log"); }
  RunLogHooks hooks() {
    RunLogHooks h;
    h.stamp = &stamp;
    h.clientDead = &onDead;
    h.houseKeeping = &onRound;
    return h;
  }
  // Records n messages of 3 words (the i-th holding i), a housekeeping
  // round with dead clients 2 and 5 after the first.
  void record(int32_t n) {
    RunLog log(String(path().c_str()), false, 0, hooks());
    ASSERT_TRUE(log.recording());
    for (int32_t i = 0; i < n; ++i) {
      uint32_t w[3] = {uint32_t(i), 0x70000000u, 6};
      stamp = TimeStamp(toTime(1000 + i));
      log.writeMsg(w, 12);
      if (i == 0) {
        stamp = TimeStamp(toTime(5000));
        log.beginHouseKeeping();
        log.writeInt(2);
        log.writeInt(5);
        log.endHouseKeeping();
      }
    }
  }
  TimeStamp stamp;
};

TEST_F(RunLogTest, RecordedBytesStartWithMagicAndCount) {
  record(3);
  std::string b = bytes(path());
  EXPECT_EQ(hex(b, 0, 4), "7E 3A C1 C0");
  EXPECT_EQ(hex(b, 4, 4), "00 00 00 03");
  // First item: marker, length 12 and its complement.
  EXPECT_EQ(hex(b, 8, 12), "F3 A2 9E 72 00 00 00 0C FF FF FF F3");
  // 8 + 3 * (12 + 8 + 12) + round (4 + 8 + 2 * 4 + 4).
  EXPECT_EQ(b.size(), size_t(8 + 3 * 32 + 24));
}

TEST_F(RunLogTest, ReplayGivesTheMessagesStampsAndRoundsThenRunsOut) {
  record(3);
  dead.clear();
  rounds = 0;
  RunLog log(String(path().c_str()), true, -1, hooks());
  replaying = &log;
  EXPECT_EQ(log.total(), 3);
  for (int32_t i = 0; i < 3; ++i) {
    int32_t len = log.readMsgSize();
    ASSERT_EQ(len, 12);
    uint32_t w[3] = {};
    log.readMsg(w, len);
    EXPECT_EQ(w[0], uint32_t(i));
    EXPECT_EQ(stamp.time().value(), 1000 + i);
  }
  EXPECT_EQ(rounds, 1);
  EXPECT_EQ(dead, (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(log.readMsgSize(), -1);
  EXPECT_EQ(log.mode(), RunLog::Off);
  EXPECT_TRUE(sawWarning("Log file has been exhausted."));
}

TEST_F(RunLogTest, ProgressLinesEveryHundredMessagesAndAtTheEnd) {
  {
    RunLog log(String(path().c_str()), false, 0, hooks());
    uint32_t w[3] = {1, 2, 3};
    for (int i = 0; i < 250; ++i)
      log.writeMsg(w, 12);
  }
  RunLog log(String(path().c_str()), true, -1, hooks());
  shown().clear();
  uint32_t w[3];
  while (log.replaying()) {
    int32_t len = log.readMsgSize();
    if (len < 0)
      break;
    log.readMsg(w, len);
  }
  std::vector<std::string> lines;
  for (std::string const& s : shown())
    if (s.find("Processed") != std::string::npos)
      lines.push_back(s);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("Processed 40% of run log (101/250 messages)."), std::string::npos);
  EXPECT_NE(lines[1].find("(201/250 messages)"), std::string::npos);
  EXPECT_NE(lines[2].find("Processed 100% of run log (250/250 messages)."), std::string::npos);
}

TEST_F(RunLogTest, DamagedLogsAreRefusedAsInvalid) {
  record(2);
  std::string good = bytes(path());
  struct Case {
    char const* name;
    size_t at;        // byte to change
    char value;       // its new value
    size_t cut;       // keep this many bytes (0: all)
    char const* key;  // refusal at open, or null: at the first read
  } const cases[] = {
      {"wrong magic", 0, 0x11, 0, "INVRUNLOG"},
      {"other byte order", 0, char(0xBE), 0, "CANTINVERT"},
      {"count beyond the file", 7, 0x7F, 0, "INVRUNLOG"},
      {"huge count", 4, char(0xFF), 0, "INVRUNLOG"},
      {"bad marker", 8, 0x00, 0, nullptr},
      {"complement that does not match", 19, 0x00, 0, nullptr},
      {"huge length", 12, 0x7F, 0, nullptr},
      {"cut in the middle of a message", 0, 0x7E, 30, nullptr},
      {"too short for a header", 0, 0x7E, 5, "INVRUNLOG"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    std::string b = good;
    b[c.at] = c.value;
    if (c.cut)
      b.resize(c.cut);
    tmp.write("run.log", b);
    try {
      RunLog log(String(path().c_str()), true, -1, hooks());
      ASSERT_EQ(c.key, nullptr) << "opened";
      uint32_t w[3];
      int32_t len = log.readMsgSize();
      if (len == 12)
        log.readMsg(w, len);
      ADD_FAILURE() << "read a damaged log";
    } catch (RunLogError const& e) {
      EXPECT_STREQ(e.key, c.key ? c.key : "INVRUNLOG");
    }
  }
}

TEST_F(RunLogTest, NeverThroughASymbolicLink) {
  std::string target = tmp.file("target");
  tmp.write("target", "keep");
  ASSERT_EQ(symlink(target.c_str(), path().c_str()), 0);
  {
    RunLog log(String(path().c_str()), false, 0, hooks());
    EXPECT_EQ(log.mode(), RunLog::Off);
  }
  EXPECT_EQ(bytes(target), "keep");
  EXPECT_TRUE(sawWarning(path()));
  try {
    RunLog log(String(path().c_str()), true, -1, hooks());
    ADD_FAILURE() << "replayed through a link";
  } catch (RunLogError const& e) {
    EXPECT_STREQ(e.key, "CANTRDRUNLOG");
  }
}

// A recorded log is the server user's own regular file of one name, 0600:
// any other thing under the name (a pipe, a hard link to a file elsewhere,
// another user's file) is refused with "CANTWRRUNLOG" and left untouched,
// and the server runs without recording.
TEST_F(RunLogTest, RecordsOnlyIntoItsOwnRegularFile) {
  mode_t const oldMask = umask(022);
  tmp.write("run.log", "old");
  ASSERT_EQ(chmod(path().c_str(), 0644), 0);
  {
    RunLog log(String(path().c_str()), false, 0, hooks());
    EXPECT_TRUE(log.recording());
  }
  umask(oldMask);
  struct stat st {};
  ASSERT_EQ(stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 8);

  struct Case {
    char const* what;
    bool needsRoot;
    std::function<void(std::string const&)> make;
  } const cases[] = {
      {"pipe", false, [](std::string const& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
      {"hard link", false,
       [&](std::string const& p) {
         ASSERT_EQ(link(tmp.write("other", "keep").c_str(), p.c_str()), 0);
       }},
      {"another user's file", true,
       [&](std::string const& p) {
         tmp.write(p.substr(tmp.path().size() + 1), "keep");
         ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
       }},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && geteuid() != 0) continue;
    std::string const p = tmp.file(std::string("log-") + c.what);
    c.make(p);
    shown().clear();
    {
      RunLog log(String(p.c_str()), false, 0, hooks());
      EXPECT_EQ(log.mode(), RunLog::Off);
    }
    EXPECT_TRUE(sawWarning("Cannot write the run log " + p));
    struct stat after {};
    ASSERT_EQ(lstat(p.c_str(), &after), 0);
    if (S_ISREG(after.st_mode)) {
      EXPECT_EQ(bytes(p), "keep");
    }
  }
}

TEST_F(RunLogTest, EmptyCountGoesOverToTheQueueAtOnce) {
  record(0);
  RunLog log(String(path().c_str()), true, -1, hooks());
  EXPECT_EQ(log.readMsgSize(), -1);
  EXPECT_TRUE(sawWarning("Log file has been exhausted."));
}

}  // namespace
