// Schema locks between real processes: the semaphore set of an open
// schema, exclusive requests against other openers, the set's removal by the
// last closer, a killed exclusive holder, the test-only open, the design
// holder mark and many processes opening and closing at once.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Portable.h>
#include <zfound/Process.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "DescrEncoder.h"
#include "SchemaSets.h"
#include "TestSupport.h"

using namespace zftest;

namespace {

EncSchema lockSchema() {
  EncSchema s;
  s.name = "lk";
  s.longs = {privEntry(0, 2, 8)};
  return s;
}

// A process that opens the schema with `flags`, reports the open's result
// on a pipe and then waits until it is told to end (or is killed).
struct Opener {
  pid_t pid = -1;
  int ready = -1, go = -1;
  int32_t opened = 0;

  explicit Opener(int32_t flags, int32_t (*then)(int32_t) = nullptr) {
    int r[2], g[2];
    if (pipe(r) != 0 || pipe(g) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(r[0]), close(g[1]);
      int32_t h = OpenSchema("lk", flags);
      int32_t out = h;
      if (write(r[1], &out, 4) != 4) _exit(3);
      char c;
      if (read(g[0], &c, 1) != 1) _exit(0);
      int32_t rc = then ? then(h) : 0;
      if (write(r[1], &rc, 4) != 4) _exit(3);
      CloseAllSchemas();
      _exit(0);
    }
    close(r[1]), close(g[0]);
    ready = r[0], go = g[1];
    if (read(ready, &opened, 4) != 4) opened = -99;
  }
  // Lets the process run `then`; its result.
  int32_t run() {
    int32_t rc = -99;
    if (write(go, "g", 1) != 1 || read(ready, &rc, 4) != 4) return -99;
    return rc;
  }
  int end() {
    int st = 0;
    if (pid > 0) {
      if (go >= 0) close(go), go = -1;
      waitpid(pid, &st, 0);
      pid = -1;
    }
    return st;
  }
  void kill9() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      end();
    }
  }
  ~Opener() {
    kill9();
    if (ready >= 0) close(ready);
  }
};

class SchemaLocks : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("zxdbtest-1.0");
    env_ = std::make_unique<ScopedEnv>("dbase", tmp_.path());
    sco_ = writeDescriptorFile(tmp_.path(), lockSchema());
    int fd = ::open(sco_.c_str(), O_RDONLY);
    key_ = _get_key(fd);
    ::close(fd);
  }
  void TearDown() override {
    CloseAllSchemas();
    // Whatever a failed test left: the set of this test's descriptor goes.
    int id = semget(key_, 2, 0);
    if (id >= 0) semctl(id, 0, IPC_RMID);
  }
  // The set's id, -1 when there is none.
  int set() const { return semget(key_, 2, 0); }
  int val(int n) const { return semctl(set(), n, GETVAL); }
  int32_t holderOnFile() const { return int32_t(ldLe16(reinterpret_cast<uint8_t const*>(readFile(sco_).data()) + 2)); }

  TempDir tmp_;
  SchemaSetSweep sweep_{tmp_.path()};
  std::unique_ptr<ScopedEnv> env_;
  std::string sco_;
  key_t key_ = 0;
};

TEST_F(SchemaLocks, KeyIsNeverPrivateAndFollowsTheFile) {
  EXPECT_NE(key_, IPC_PRIVATE);
  int fd = ::open(sco_.c_str(), O_RDONLY);
  EXPECT_EQ(_get_key(fd), key_);
  ::close(fd);
  std::string other = writeDescriptorFile(tmp_.path() + "/o", lockSchema());
  fd = ::open(other.c_str(), O_RDONLY);
  EXPECT_NE(_get_key(fd), key_);
  ::close(fd);
}

TEST_F(SchemaLocks, OpenersHoldSharedAndTheLastCloseRemovesTheSet) {
  chmod(sco_.c_str(), 0640);
  ASSERT_EQ(OpenSchema("lk", 0), 0x10000);
  ASSERT_GE(set(), 0);
  semid_ds ds{};
  ASSERT_EQ(semctl(set(), 0, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.sem_nsems, 2u);
  EXPECT_EQ(ds.sem_perm.mode & 0777, 0660u);  // as the descriptor, not 0666
  Opener other(0, [](int32_t h) { return LockSchema(h, 3); });
  ASSERT_EQ(other.opened, 0x10000);
  EXPECT_EQ(val(0), 2);
  EXPECT_EQ(LockSchema(0x10000, 3), -2);
  EXPECT_EQ(other.run(), -2);
  EXPECT_EQ(other.end(), 0);
  EXPECT_EQ(val(0), 1);
  EXPECT_EQ(CloseSchema(0x10000), 0);
  EXPECT_LT(set(), 0);
  ASSERT_EQ(OpenSchema("lk", 0), 0x10000);
  EXPECT_GE(set(), 0);
  // Alone now: the exclusive request is granted, and FreeSchema gives it back.
  EXPECT_EQ(LockSchema(0x10000, 3), 0);
  EXPECT_EQ(val(1), 1);
  EXPECT_EQ(val(0), 0);
  EXPECT_EQ(FreeSchema(0x10000), 0);
  EXPECT_EQ(val(1), 0);
  EXPECT_EQ(val(0), 1);
}

TEST_F(SchemaLocks, ExclusiveHolderRefusesOpensUntilKilled) {
  Opener holder(1);
  ASSERT_EQ(holder.opened, 0x10000);
  EXPECT_EQ(val(1), 1);
  struct Case {
    int32_t flags;
  } const cases[] = {{0}, {0x800}, {1}};
  for (Case const& c : cases) {
    _io_errno_ = 0;
    EXPECT_EQ(OpenSchema("lk", c.flags), -1) << c.flags;
    EXPECT_EQ(_io_errno_, 10) << c.flags;
  }
  holder.kill9();
  EXPECT_EQ(OpenSchema("lk", 1), 0x10000);
  EXPECT_EQ(val(1), 1);
}

TEST_F(SchemaLocks, TestOnlyOpenMakesNoSetAndHoldsNothing) {
  ASSERT_EQ(OpenSchema("lk", 0x800), 0x10000);
  EXPECT_LT(set(), 0);
  Opener other(1);
  EXPECT_EQ(other.opened, 0x10000);  // the test-only opener holds nothing
  other.end();
  EXPECT_EQ(OpenSchema("/nowhere/lk", 0), -1);
  EXPECT_EQ(_io_errno_, 11);
}

// The design holder, as a user other than the super-user.
TEST_F(SchemaLocks, DesignHolderIsRecordedAndCleared) {
  chmod(tmp_.path().c_str(), 0755);
  chmod((tmp_.path() + "/lk").c_str(), 0777);
  chmod(sco_.c_str(), 0666);
  RunResult r = runInChild([this] {
    if (geteuid() == 0) {
      ZF_CHILD_CHECK(setgid(65534) == 0 && setuid(65534) == 0);
      setProcUserId(65534);
    }
    int32_t me = int32_t(geteuid());
    ZF_CHILD_CHECK(OpenSchema("lk", 0) == 0x10000);
    ZF_CHILD_CHECK(LockSchema(0x10000, 0x4001) == 0);
    ZF_CHILD_CHECK(holderOnFile() == me);
    ZF_CHILD_CHECK(val(1) == 0);  // the exclusive hold taken for it is given back
    ZF_CHILD_CHECK(FreeSchema(0x10000) == 0);
    ZF_CHILD_CHECK(holderOnFile() == 0);
    // Another user recorded: refused, and the record stays as it was.
    int fd = ::open(sco_.c_str(), O_WRONLY);
    uint8_t b[2];
    stLe16(1234, b);
    ZF_CHILD_CHECK(pwrite(fd, b, 2, 2) == 2);
    ::close(fd);
    ZF_CHILD_CHECK(LockSchema(0x10000, 0x4001) == -2);
    ZF_CHILD_CHECK(holderOnFile() == 1234);
    ZF_CHILD_CHECK(FreeSchema(0x10000) == 0);
    ZF_CHILD_CHECK(holderOnFile() == 1234);
    // A user id the 16-bit field cannot hold is refused.
    stLe16(0, b);
    fd = ::open(sco_.c_str(), O_WRONLY);
    ZF_CHILD_CHECK(pwrite(fd, b, 2, 2) == 2);
    ::close(fd);
    setProcUserId(70000);
    ZF_CHILD_CHECK(LockSchema(0x10000, 0x4001) == -1);
    ZF_CHILD_CHECK(holderOnFile() == 0);
    CloseAllSchemas();
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// Processes open and close at once; a lock is never lost and no open is
// refused by a release in progress.
TEST_F(SchemaLocks, ManyOpenersNeverLoseALock) {
  for (bool parentHolds : {false, true}) {
    if (parentHolds) {
      ASSERT_EQ(OpenSchema("lk", 0), 0x10000);
    }
    std::vector<pid_t> kids;
    for (int k = 0; k < 6; ++k) {
      pid_t p = fork();
      if (p == 0) {
        for (int i = 0; i < 60; ++i) {
          if (OpenSchema("lk", 0) != 0x10000) _exit(10 + int(_io_errno_));
          if (parentHolds && LockSchema(0x10000, 3) != -2) _exit(3);
          CloseSchema(0x10000);
        }
        _exit(0);
      }
      kids.push_back(p);
    }
    for (pid_t p : kids) {
      int st = 0;
      waitpid(p, &st, 0);
      EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << parentHolds << " " << st;
    }
    if (parentHolds) {
      ASSERT_GE(set(), 0);
      EXPECT_EQ(val(0), 1);
      EXPECT_EQ(val(1), 0);
      CloseSchema(0x10000);
    }
    EXPECT_LT(set(), 0) << parentHolds;
  }
}

}  // namespace
