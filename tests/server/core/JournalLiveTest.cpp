// The journal and the transaction requests in the real server: the first
// journal file, checkpoint rotation with Backup 1 and 0, the state file's
// journal position, and the transaction requests' answers and records.
// Each test runs `ombrel -f` in a temporary directory; TestServer kills it
// and removes its IPC objects even on failure.
#include <svcore/Journal.h>
#include <svcore/StateFile.h>

#include "RawClient.h"
#include "SysVEndpoint.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <zfound/Exception.h>
#include <zfound/MsgHeader.h>
#include <zfound/Portable.h>
#include <zfound/TimeStamp.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

using zftest::RawClient;
using zftest::RawReply;
using zftest::TestServer;

namespace {

constexpr int32_t kServerObj = 0x70000000;

std::vector<std::string> journalFiles(std::string const& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d))
    if (std::strncmp(e->d_name, "rlog", 4) == 0) out.push_back(e->d_name);
  closedir(d);
  return out;
}

std::string fileText(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The record kinds of a journal file, read as recovery reads them.
std::vector<int32_t> kindsOf(std::string const& dir, std::string const& name) {
  Journal r(32, String(dir.c_str()));
  std::vector<int32_t> kinds;
  if (!r.restart(String(name.c_str()), Journal::kPrefixSize)) return {-9};
  int32_t cid, tn, off, len;
  SvTable* t;
  for (int32_t k; (k = r.nextOp(cid, tn, t, off, len)) != -1;) {
    kinds.push_back(k);
    if (k == Journal::kDamaged) break;
  }
  return kinds;
}

std::vector<uint32_t> readyBody(std::string const& leader, int32_t n, TimeStamp const& ts) {
  return zftest::encodeWords([&](Connection& c) { c << String(leader.c_str()) << n << ts; });
}

TimeStamp stampOf(RawReply const& r) {
  zftest::WireCodec rc;
  rc.feed(r.body);
  TimeStamp ts;
  rc >> ts;
  return ts;
}

// Waits up to `sec` seconds for `pred` (the server finishes its start-up
// after its queues exist).
template <class F>
bool within(int sec, F pred) {
  time_t const end = time(nullptr) + sec;
  while (time(nullptr) <= end) {
    if (pred()) return true;
    usleep(50000);
  }
  return pred();
}

class JournalLiveTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the server must be started by root";
  }
  static std::string keys(std::string const& journalDir, int backup) {
    return "JournalDir\t" + journalDir + "\nBackup\t" + std::to_string(backup) + "\n";
  }
};

TEST_F(JournalLiveTest, FirstFileAndCheckpointRotation) {
  for (int backup : {1, 0}) {
    SCOPED_TRACE(backup);
    zftest::TempDir dir;
    std::string const jdir = dir.file("journal");
    mkdir(jdir.c_str(), 0700);
    TestServer sv(dir, "jsv", keys(jdir, backup));
    ASSERT_TRUE(sv.start()) << sv.log();
    // The file is made before its prefix is written: wait for both.
    within(60, [&] {
      std::vector<std::string> const f = journalFiles(jdir);
      return !f.empty() && fileText(jdir + "/" + f[0]).size() >= 80u;
    });
    std::vector<std::string> files = journalFiles(jdir);
    ASSERT_EQ(1u, files.size()) << sv.log();
    std::string const first = files[0];
    std::string text = fileText(jdir + "/" + first);
    ASSERT_GE(text.size(), 80u);
    EXPECT_EQ(std::string("\x7F\x83\x2B\xC1", 4), text.substr(0, 4));
    EXPECT_EQ(0, ldlong(text.data() + 8));

    RawClient a(sv.serverId());
    ASSERT_EQ(0, a.connect().status);
    RawReply cp = a.request(kServerObj, DBM_CHECKPOINT, {0});
    ASSERT_TRUE(cp.ok);
    EXPECT_EQ(0, cp.status) << sv.log();
    files = journalFiles(jdir);
    std::string second;
    for (std::string const& f : files)
      if (f != first) second = f;
    ASSERT_FALSE(second.empty()) << sv.log();
    std::string const now = fileText(jdir + "/" + second);
    ASSERT_GE(now.size(), 80u);
    EXPECT_EQ(first, std::string(now.data() + 48));
    EXPECT_EQ(0, ldlong(now.data() + 8));
    if (backup == 1) {
      ASSERT_EQ(2u, files.size());
      text = fileText(jdir + "/" + first);
      EXPECT_EQ(1, ldlong(text.data() + 8));
      EXPECT_EQ(second, std::string(text.data() + 16));
    } else {
      EXPECT_EQ(1u, files.size());
    }
    // The connected client is the first record of the new file, and the
    // state file points at it.
    EXPECT_EQ((std::vector<int32_t>{Journal::ADDCLIENT}), kindsOf(jdir, second));
    StateFile st(String(sv.stateFile().c_str()));
    ASSERT_TRUE(st.readHeader());
    EXPECT_EQ(String(second.c_str()), st.journalFile);
    EXPECT_EQ(80, st.journalPos);
    EXPECT_EQ(0, sv.stop());
  }
}

// Each wrong use is answered and the next request served; the vote and the
// end are journalled.
TEST_F(JournalLiveTest, TransactionRequestsAnswerEveryWrongUse) {
  zftest::TempDir dir;
  std::string const jdir = dir.file("journal");
  mkdir(jdir.c_str(), 0700);
  TestServer sv(dir, "jtx", keys(jdir, 1));
  ASSERT_TRUE(sv.start()) << sv.log();
  RawClient a(sv.serverId());
  ASSERT_EQ(0, a.connect().status);

  RawReply r = a.request(kServerObj, DBM_ENDTRANSACT, {1});
  ASSERT_TRUE(r.ok) << sv.log();
  EXPECT_EQ(NotInTrans().code(), std::abs(r.status));
  r = a.request(kServerObj, DBM_ABORTTRANSACT);
  EXPECT_EQ(NotInTrans().code(), std::abs(r.status));
  r = a.request(kServerObj, DBM_READYTOEND, readyBody("other", 2, TimeStamp()));
  EXPECT_EQ(NotInTrans().code(), std::abs(r.status));

  RawReply begin = a.request(kServerObj, DBM_BEGTRANSACT, {0});
  ASSERT_TRUE(begin.ok);
  ASSERT_EQ(0, begin.status) << sv.log();
  TimeStamp const ts = stampOf(begin);
  r = a.request(kServerObj, DBM_BEGTRANSACT, {0});
  EXPECT_EQ(InTrans().code(), std::abs(r.status));

  // Leading with a stamp that is not the transaction's: refused.
  TimeStamp wrong = ts;
  ++wrong;
  r = a.request(kServerObj, DBM_READYTOEND, readyBody("jtx", 1, wrong));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(-InvalidData(String()).code(), r.status);
  // A participant's vote, twice: the second changes nothing.
  r = a.request(kServerObj, DBM_READYTOEND, readyBody("other", 2, ts));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0, r.result);
  r = a.request(kServerObj, DBM_READYTOEND, readyBody("other", 2, ts));
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0, r.result);
  r = a.request(kServerObj, DBM_ENDTRANSACT, {0});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0, r.result);

  // Led here: the complete entry is answered by GetInfo 4 until EndTransact.
  begin = a.request(kServerObj, DBM_BEGTRANSACT, {0});
  ASSERT_EQ(0, begin.status);
  TimeStamp const led = stampOf(begin);
  r = a.request(kServerObj, DBM_READYTOEND, readyBody("jtx", 2, led));
  EXPECT_EQ(0, r.status);
  std::vector<uint32_t> ask = zftest::encodeWords([&](Connection& c) { c << int32_t(4) << led; });
  EXPECT_EQ(0, a.request(kServerObj, DBM_GETINFO, ask).result);
  r = a.request(kServerObj, DBM_ENDTRANSACT, {0});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(-1, a.request(kServerObj, DBM_GETINFO, ask).result);

  std::vector<std::string> const files = journalFiles(jdir);
  ASSERT_EQ(1u, files.size());
  EXPECT_EQ((std::vector<int32_t>{Journal::ADDCLIENT, Journal::READYTOEND, Journal::ENDTRANSACTION,
                                  Journal::READYTOEND, Journal::ENDTRANSACTION}),
            kindsOf(jdir, files[0]));
  EXPECT_EQ(0, sv.stop());
}

}  // namespace
