// The server's exposure to other local users, against a real server: the
// modes of its queues, semaphore set, state file and run log; Connect tied
// to the identity the kernel knows; Stop, Shut, SetAttrib and Debug kept to
// root and the administrator; links refused where root writes a file.
//
// Clients of another user are real processes that took that user's ids
// (a forked child that calls setgid and setuid), never a claim alone.
#include "ChildRun.h"
#include "RawClient.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <zfound/Exception.h>
#include <zfound/MsgHeader.h>

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

using zftest::RawClient;
using zftest::RawReply;
using zftest::TestServer;

namespace {

constexpr int32_t kServerObj = 0x70000000;
constexpr uint32_t kNobody = 65534;

key_t keyOf(int32_t id, int what) { return key_t((uint32_t(id) << 8) | uint32_t(what)); }

// Runs `body` in a child that first takes uid and gid `id` for real.
zftest::RunResult asUser(uint32_t id, std::function<int()> const& body) {
  return zftest::runInChild([&]() {
    if (setgroups(0, nullptr) != 0 || setgid(gid_t(id)) != 0 || setuid(uid_t(id)) != 0) return 99;
    return body();
  });
}

mode_t modeOf(std::string const& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

// GetInfo 2's body: the settings a SetAttrib would change.
std::vector<uint32_t> settings(RawClient& c) { return c.request(kServerObj, DBM_GETINFO, {2}).body; }

class SecurityTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the server must be started by root";
  }
};

// Queues 0666, semaphore set 0644. A process of another user is served, but
// cannot raise the stop flag, and its Stop, Shut, SetAttrib and Debug get
// NoPrivilege with the server still serving and its settings unchanged.
// Root's Stop then ends the server and removes its queues.
TEST_F(SecurityTest, AnotherUserIsServedButCannotStopOrReconfigure) {
  TestServer sv;
  ASSERT_TRUE(sv.start({"-w", "0"})) << sv.log();
  int32_t const id = sv.serverId();
  for (int w : {'s', 'c', 'r'}) {
    struct msqid_ds ds {};
    ASSERT_EQ(msgctl(msgget(keyOf(id, w), 0), IPC_STAT, &ds), 0) << char(w);
    EXPECT_EQ(ds.msg_perm.mode & 0777, 0666u) << char(w);
  }
  struct semid_ds sds {};
  union {
    int val;
    struct semid_ds* buf;
  } arg;
  arg.buf = &sds;
  ASSERT_EQ(semctl(semget(keyOf(id, 0), 2, 0), 0, IPC_STAT, arg), 0);
  EXPECT_EQ(sds.sem_perm.mode & 0777, 0644u);

  RawClient root(id);
  ASSERT_EQ(root.connect().status, 0) << sv.log();
  std::vector<uint32_t> const before = settings(root);
  ASSERT_FALSE(before.empty());

  zftest::RunResult r = asUser(kNobody, [id]() {
    RawClient c(id);
    ZF_CHILD_CHECK(c.ok());
    RawReply cr = c.connect();
    ZF_CHILD_CHECK(cr.ok && cr.status == 0);
    ZF_CHILD_CHECK(c.request(kServerObj, DBM_GETINFO, {2}).status == 0);
    // The stop flag is the server user's alone; waiting for zero on the
    // running-server lock (the clients' liveness test) still works.
    int sem = semget(keyOf(id, 0), 2, 0);
    ZF_CHILD_CHECK(sem >= 0);
    struct sembuf raise = {1, 1, IPC_NOWAIT};
    ZF_CHILD_CHECK(semop(sem, &raise, 1) != 0 && errno == EACCES);
    struct sembuf test = {0, 0, IPC_NOWAIT};
    ZF_CHILD_CHECK(semop(sem, &test, 1) != 0 && errno == EAGAIN);
    std::vector<uint32_t> setAttrib = c.request(kServerObj, DBM_GETINFO, {2}).body;
    setAttrib.erase(setAttrib.begin(), setAttrib.begin() + 2);  // server id, schemas (null)
    setAttrib[0] += 55;                                        // CkPointFreq
    std::vector<uint32_t> debug = RawClient::text("cpoff");
    debug.push_back(0);
    struct Req {
      int32_t op;
      std::vector<uint32_t> body;
    } const reqs[] = {
        {DBM_STOP, {1}}, {DBM_SHUT, {0xffffffffu}}, {DBM_SETATTRIB, setAttrib}, {DBM_DEBUG, debug}};
    for (Req const& q : reqs) {
      RawReply rr = c.request(kServerObj, q.op, q.body);
      ZF_CHILD_CHECK(rr.ok);
      ZF_CHILD_CHECK(rr.status == -kExcNoPrivilege);
      ZF_CHILD_CHECK(rr.result == -1);
    }
    ZF_CHILD_CHECK(c.request(kServerObj, DBM_GETINFO, {2}).status == 0);
    c.send(kServerObj, DBM_DISCONNECT, {});
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err << sv.log();
  EXPECT_TRUE(sv.running());
  EXPECT_EQ(settings(root), before);
  // Checkpoints were not held by the refused "cpoff".
  RawReply cp = root.request(kServerObj, DBM_CHECKPOINT, {0});
  ASSERT_TRUE(cp.ok);
  EXPECT_EQ(cp.result & 8, 8) << cp.result;

  EXPECT_EQ(modeOf(sv.runLogFile()), 0600u);
  EXPECT_EQ(modeOf(sv.stateFile()), 0600u);
  RawReply stop = root.request(kServerObj, DBM_STOP, {1});
  ASSERT_TRUE(stop.ok) << sv.log();
  EXPECT_EQ(stop.result, 0);
  EXPECT_EQ(sv.wait(), 0) << sv.log();
  EXPECT_FALSE(sv.ipcExists());
  EXPECT_EQ(modeOf(sv.stateFile()), 0600u);
}

// A Connect must come from the process it names, under that process's
// ids: uid 0 claimed by a process of nobody, or the pid of another live
// process of the same user sent on an idle queue, is InvalidLogin with a
// warning, and no client is made.
TEST_F(SecurityTest, ConnectClaimingAnotherIdentityIsRefused) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  int32_t const id = sv.serverId();
  zftest::RunResult r = asUser(kNobody, [id]() {
    RawClient c(id);
    RawReply cr = c.connect(RawClient::connectBody(1101, 0, 0));
    ZF_CHILD_CHECK(cr.ok);
    ZF_CHILD_CHECK(cr.status == -kExcInvalidLogin);
    ZF_CHILD_CHECK(cr.result == -1);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err << sv.log();

  zftest::ChildRun other = zftest::startChild([]() {
    pause();
    return 0;
  });
  RawClient liar(id);
  RawReply lr = liar.connect(RawClient::connectBody(1101), int32_t(other.pid()));
  ASSERT_TRUE(lr.ok) << sv.log();
  EXPECT_EQ(lr.status, -kExcInvalidLogin);
  other.stop();

  RawClient honest(id);
  ASSERT_EQ(honest.connect().status, 0) << sv.log();
  RawReply n = honest.request(kServerObj, DBM_GETCLIENTSINFO, {0});
  ASSERT_TRUE(n.ok);
  EXPECT_EQ(n.result, 1) << "no client was made for a refused Connect";
  EXPECT_NE(sv.log().find("Invalid login of process"), std::string::npos) << sv.log();
}

// Root never writes through a link: a run log named by a link leaves the
// link's target untouched and the server serves without recording; a state
// file that is a link stops the start with a report naming it.
TEST_F(SecurityTest, LinksWhereRootWritesAreRefused) {
  {
    TestServer sv;
    std::string const target = sv.dir().write("precious", "keep");
    ASSERT_EQ(::symlink(target.c_str(), sv.runLogFile().c_str()), 0);
    ASSERT_TRUE(sv.start({"-w", "0"})) << sv.log();
    RawClient c(sv.serverId());
    ASSERT_EQ(c.connect().status, 0) << sv.log();
    EXPECT_EQ(sv.stop(), 0) << sv.log();
    EXPECT_EQ(zftest::readFile(target), "keep");
    EXPECT_NE(sv.log().find("Cannot write the run log " + sv.runLogFile()), std::string::npos) << sv.log();
  }
  {
    TestServer sv;
    std::string const target = sv.dir().write("precious", "keep");
    ASSERT_EQ(::symlink(target.c_str(), sv.stateFile().c_str()), 0);
    zftest::RunResult r = sv.run({"-f", sv.name()});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("not a regular file; the server does not start: " + sv.stateFile()), std::string::npos)
        << r.out << r.err;
    EXPECT_EQ(zftest::readFile(target), "keep");
    EXPECT_FALSE(sv.ipcExists());
  }
}

}  // namespace
