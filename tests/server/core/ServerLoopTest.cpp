// The main loop's pieces that run without a process: the file-error
// handler's retry policy and the client registry.
#include "CoreFixture.h"

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <svcore/RunLog.h>
#include <svcore/Journal.h>
#include <svcore/Server.h>
#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>
#include <svobject/Client.h>
#include <zfound/PhysLayout.h>
#include <zfound/Portable.h>

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

// A pass with nothing heavier to do writes the headers of files left alone
// for MatureTime seconds into the copy of the current parity, without
// moving their level on; a file changed more recently, or MatureTime 0,
// leaves the header on disk as it was.
TEST_F(ServerLoopTest, HouseKeepingWritesMatureHeaders) {
  struct Case {
    int32_t mature;
    int32_t age;  // seconds since the file's change
    bool written;
  } const cases[] = {{600, 1000, true}, {600, 10, false}, {0, 1000, false}};
  int n = 0;
  for (Case const& c : cases) {
    SCOPED_TRACE(c.mature * 10000 + c.age);
    Server::reset();
    Server::cachePageSize_sd = 1024;
    Server::currCP = 0;
    tmp.write("layout", "p*\tPACKED\t" + tmp.path() + "\n");
    PhysLayout layout(String(tmp.file("layout").c_str()));
    Server::physLayout_sd = &layout;
    ASSERT_TRUE(CacheBuffer::init(64));
    Server::configFile = new SvConfigFile();
    Server::configFile->setCkPointFreq(0);
    ASSERT_EQ(Server::configFile->ckPointFreq(), 0);
    Server::configFile->setMatureTime(c.mature);
    std::string const name = "pmature" + std::to_string(n++);
    {
      BlockedFile f;
      ASSERT_TRUE(f.open(String(name.c_str()), String(), "blk", 80, 0));
      Server::timeStamp = TimeStamp(Time::now() - c.age);
      char* p = nullptr;
      int32_t recno = 0;
      CacheBuffer* cb = f.add(p, recno, true);
      ASSERT_NE(cb, nullptr);
      cb->unlock();
      ASSERT_EQ(f.mlevel(), 3);
      // The pass starts a new second of the process's stamps.
      TimeStamp::lastStamp() = TimeStamp(Time::now() - 2 * c.age);
      Server::houseKeeping(nullptr);
      std::string const bytes = zftest::readFile(tmp.file(name + ".blk"));
      // A new file has no header on disk until one is written.
      int32_t const onDisk = bytes.size() >= 4 ? ldlong(bytes.data()) : 0;
      EXPECT_EQ(onDisk, c.written ? 1 : 0);
      EXPECT_EQ(f.mlevel(), 3);
      EXPECT_TRUE(f.inModList());
    }
    CacheBuffer::cleanUp();
    Server::physLayout_sd = nullptr;
  }
}

// A timed checkpoint is due once CkPointFreq - CkPointLowBound seconds
// passed since the last try; CkPointFreq 0 turns them off however long ago.
TEST_F(ServerLoopTest, TimedCheckpointDueOnlyWithAFrequency) {
  struct Case {
    int32_t freq;
    int32_t low;
    int32_t since;
    bool due;
  } const cases[] = {{0, 0, 100000, false}, {0, 10, 100000, false}, {60, 10, 100, true},
                     {60, 10, 20, false},   {60, 0, 100, true}};
  for (Case const& c : cases) {
    SCOPED_TRACE(std::to_string(c.freq) + "/" + std::to_string(c.low) + "/" + std::to_string(c.since));
    Server::reset();
    Server::configFile = new SvConfigFile();
    Server::configFile->setCkPointFreq(c.freq);
    Server::configFile->setCkPointLowBound(c.low);
    ASSERT_EQ(Server::configFile->ckPointFreq(), c.freq);
    ASSERT_EQ(Server::configFile->ckPointLowBound(), c.low);
    Server::lastTry = Time::now() - c.since;
    EXPECT_EQ(Server::shouldDoCP(), c.due);
  }
}

// The time since the last checkpoint is taken in 64 bits: a last
// checkpoint recorded more than 2^31 seconds ago (a state file or a replayed
// run log may hold one) makes the checkpoint due, not "in the future".
TEST_F(ServerLoopTest, HouseKeepingCheckpointDueAfterAFarPastLastTry) {
  for (int32_t const past : {-2000000000, INT32_MIN + 1}) {
    SCOPED_TRACE(past);
    Server::reset();
    Server::retrySeconds = 0;
    Server::configFile = new SvConfigFile();
    Server::configFile->setCkPointFreq(60);
    Server::activeTrans = 1;  // due, but not taken while a transaction runs
    Server::lastTry = toTime(past);
    // A recording run log makes the pass run within the same second too.
    Server::runLog = new RunLog(String(tmp.file("run.log").c_str()), false, 0);
    Server::houseKeeping(nullptr);
    EXPECT_TRUE(Server::cpTime);
    delete Server::runLog;
    Server::runLog = nullptr;
    Server::activeTrans = 0;
  }
}

// At start a clock behind the last checkpoint is reported and the server's
// stamps go on after the checkpoint's, so they keep their order; a clock
// ahead of it is taken as it is.
TEST_F(ServerLoopTest, StartWithAClockBehindTheLastCheckpoint) {
  struct Case {
    int32_t ahead;  // seconds the last checkpoint lies ahead of the clock
    bool reported;
  } const cases[] = {{3600, true}, {-3600, false}};
  for (Case const& c : cases) {
    SCOPED_TRACE(c.ahead);
    Server::reset();
    shown().clear();
    std::string const path = tmp.file("state" + std::to_string(c.ahead));
    TimeStamp cp(Time::now() + c.ahead);
    {
      StateFile s(String(path.c_str()));
      s.parity = 1;
      s.lastChkPoint = cp;
      s.restartMarker = 0;
      s.cachePageSize = 1;
      ASSERT_TRUE(s.writeHeader());
    }
    Server::cachePageSize_sd = 1024;
    Server::stateFile = new StateFile(String(path.c_str()));
    Server::timeStamp.setNow();
    TimeStamp const clock = Server::timeStamp;
    Server::readState();
    EXPECT_EQ(Server::currCP, 1);
    EXPECT_EQ(Server::lastChkPoint, cp);
    EXPECT_EQ(sawWarning("is later than the clock"), c.reported);
    if (c.reported)
      EXPECT_GT(Server::timeStamp, cp);
    else
      EXPECT_EQ(Server::timeStamp, clock);
  }
}

// The state file keeps 122 version stamps: a new version past them is
// refused and nothing is written past the table.
TEST_F(ServerLoopTest, NewVersionPastTheStampTableRefused) {
  Server::configFile = new SvConfigFile();
  ASSERT_TRUE(Server::configFile->setHandleVersions(true));
  Server::stateFile = new StateFile(String(tmp.file("state").c_str()));
  for (int32_t v : {StateFile::kNStamps, StateFile::kNStamps + 5}) {
    Server::currVersion = v;
    EXPECT_EQ(Server::newVers(), -1) << v;
    EXPECT_EQ(Server::currVers(), v);
  }
}

// A journal file near its offset limit is left only by a checkpoint with no
// transaction active: while one is open the checkpoint is made pending
// (new transactions held, nothing written into the full file), and once
// none is, the next round starts a new file.
TEST_F(ServerLoopTest, JournalNearItsOffsetLimitIsLeftOnceTransactionsDrain) {
  Server::reset();
  tmp.write("layout", "p*\tPACKED\t" + tmp.path() + "\n");
  PhysLayout layout(String(tmp.file("layout").c_str()));
  Server::physLayout_sd = &layout;
  ASSERT_TRUE(CacheBuffer::init(64));
  Server::configFile = new SvConfigFile();
  Server::configFile->setCkPointFreq(0);
  tmp.write("jrnl/.keep", "");
  Server::journal_ = new Journal(32, String(tmp.file("jrnl").c_str()));
  ASSERT_TRUE(Server::journal_->newFile());
  Server::journal_->setOffsetLimit(1 << 20, (1 << 20) - Journal::kPrefixSize);
  ASSERT_TRUE(Server::journal_->nearLimit());
  String const first = Server::journal_->baseName();

  Server::activeTrans = 1;
  TimeStamp::lastStamp() = TimeStamp(Time::now() - 10);
  Server::houseKeeping(nullptr);
  EXPECT_TRUE(Server::cpTime);
  EXPECT_EQ(Server::journal_->baseName(), first);
  EXPECT_EQ(Server::journal_->currWrOffset(), Journal::kPrefixSize);

  Server::activeTrans = 0;
  TimeStamp::lastStamp() = TimeStamp(Time::now() - 10);
  Server::houseKeeping(nullptr);
  EXPECT_FALSE(Server::cpTime);
  EXPECT_NE(Server::journal_->baseName(), first);

  Server::closeJournal();
  CacheBuffer::cleanUp();
  Server::physLayout_sd = nullptr;
}

}  // namespace
