// The real server process: start-up and its refusals, Connect, hostile
// requests, dead and flooding clients, Stop, the run log and -p. Each test
// runs `ombrel -f` in a temporary server directory with keys unique to the
// test; TestServer kills it and removes its IPC objects even on failure.
#include "ChildRun.h"
#include "RawClient.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <zfound/MsgHeader.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>

using zftest::RawClient;
using zftest::RawReply;
using zftest::TestServer;

namespace {

constexpr int32_t kServerObj = 0x70000000;

// Error codes as error-reply statuses.
constexpr int16_t kInvalidObjectId = -17;
constexpr int16_t kMsgOutOfBounds = -18;
constexpr int16_t kInvalidClientId = -19;
constexpr int16_t kInvalidMsgOnObject = -22;
constexpr int16_t kIncompatibleVersions = -25;
constexpr int16_t kInvalidData = -35;

std::vector<uint32_t> cat(std::vector<uint32_t> a, std::vector<uint32_t> const& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Bytes from..from+n of s as hex pairs.
constexpr auto& hex = zftest::hexBytes;

// Waits up to `sec` seconds for `pred`.
template <class F>
bool within(int sec, F pred) {
  time_t end = time(nullptr) + sec;
  while (time(nullptr) <= end) {
    if (pred())
      return true;
    usleep(50000);
  }
  return pred();
}

// The number of clients GetClientsInfo reports.
int32_t clientCount(RawClient& c) {
  RawReply r = c.request(kServerObj, DBM_GETCLIENTSINFO, {0});
  if (!r.ok || r.status != 0)
    ADD_FAILURE() << "GetClientsInfo: ok " << r.ok << " status " << r.status;
  return r.ok && r.status == 0 ? r.result : -1;
}

// Attach of kind 16 creating `name`.
RawReply createSchema(RawClient& c, std::string const& name, int32_t kind = 16) {
  return c.request(kServerObj, DBM_ATTACH, cat(cat({uint32_t(kind), 0, 1}, RawClient::text(name)), RawClient::text("")));
}

class ProcessTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "the server must be started by root";
  }
};

TEST_F(ProcessTest, StartsServesAndRefusesASecondStart) {
  TestServer sv;
  ASSERT_TRUE(sv.start({"-u", "2"})) << sv.log();
  EXPECT_TRUE(sv.ipcExists());
  zftest::RunResult second = sv.run({"-f", sv.name()});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE((second.out + second.err).find("already running"), std::string::npos) << second.err;
  // Also under -p, which makes no IPC object of its own: refused before any
  // file is touched.
  zftest::RunResult check = sv.run({"-f", "-p", sv.name()});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE((check.out + check.err).find("already running"), std::string::npos) << check.err;
  RawClient c(sv.serverId());
  RawReply r = c.connect(1101);
  ASSERT_TRUE(r.ok) << sv.log();
  EXPECT_EQ(r.status, 0);
  EXPECT_GE(r.result, 0);
  EXPECT_TRUE(sv.running());
}

// The pid of the process holding the running-server lock of `sv` (the last
// to operate on semaphore 0), when it is an ombrel started on sv's server
// directory; -1 otherwise. Only such a process is ever ended by the test.
pid_t daemonOf(TestServer& sv) {
  int sem = semget(key_t(uint32_t(sv.serverId()) << 8), 2, 0);
  if (sem < 0 || semctl(sem, 0, GETVAL) <= 0)
    return -1;
  pid_t pid = pid_t(semctl(sem, 0, GETPID));
  if (pid <= 0 || pid == getpid())
    return -1;
  std::string env = zftest::readFile("/proc/" + std::to_string(pid) + "/environ");
  std::string want = std::string("OMBREL=") + sv.dir().path();
  if (env.find(want + '\0') == std::string::npos)
    return -1;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  return !ec && exe.filename() == "ombrel" ? pid : -1;
}

// True once pid has ended (gone, or a zombie nobody reaped yet).
bool ended(pid_t pid) {
  std::string stat = zftest::readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return stat.empty() || (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z');
}

// Started without -f the server detaches: the command returns 0 at once,
// the daemon serves a client and stops on Stop, leaving no IPC object.
TEST_F(ProcessTest, DaemonDetachesServesAndStops) {
  TestServer sv;
  zftest::RunResult r = sv.run({sv.name()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  pid_t daemon = -1;
  ASSERT_TRUE(within(30, [&] { return (daemon = daemonOf(sv)) > 0; })) << "no daemon of the test's directory";
  // Ends the daemon if the test stops early, and waits for it to be gone so
  // that it makes no queue after TestServer removed the IPC objects.
  struct Reaper {
    pid_t pid;
    TestServer& sv;
    ~Reaper() {
      if (!ended(pid) && daemonOf(sv) == pid) {
        ::kill(pid, SIGKILL);
        within(30, [this] { return ended(pid); });
      }
    }
  } reaper{daemon, sv};
  // The daemon takes its lock before it makes its queues: a client comes
  // once both are there.
  ASSERT_TRUE(within(30, [&] { return sv.ready(); })) << "the daemon made no queues";
  EXPECT_NE(getsid(daemon), getsid(0)) << "the daemon runs in a session of its own";
  // The daemon syncs its files before it answers Connect (its first
  // checkpoint) and Stop (its last ones) and before it ends: on a busy disk
  // one flush can outlast a request's usual wait, so these waits are long.
  // They end as soon as the answer is there.
  constexpr int kSyncedSec = 180;
  RawClient c(sv.serverId());
  ASSERT_TRUE(c.ok());
  RawReply cr = c.connect(RawClient::connectBody(1101), -1, kSyncedSec);
  ASSERT_TRUE(cr.ok);
  ASSERT_EQ(cr.status, 0);
  RawReply info = c.request(kServerObj, DBM_GETINFO, {2});
  ASSERT_TRUE(info.ok);
  ASSERT_FALSE(info.body.empty());
  EXPECT_EQ(int32_t(info.body[0]), sv.serverId());
  RawReply stop = c.request(kServerObj, DBM_STOP, {0}, kSyncedSec);
  ASSERT_TRUE(stop.ok);
  EXPECT_EQ(stop.result, 0);
  EXPECT_TRUE(within(kSyncedSec, [&] { return ended(daemon); }));
  EXPECT_TRUE(within(5, [&] { return !sv.ipcExists(); }));
}

// A server ended by SIGTERM removes its queues and semaphore set, and a test
// process that dies without its destructors (killed, timed out) takes its
// server with it, so no IPC object outlives either.
TEST_F(ProcessTest, NeitherASignalledServerNorAKilledTestLeavesIpcObjects) {
  {
    TestServer sv;
    ASSERT_TRUE(sv.start()) << sv.log();
    ASSERT_EQ(::kill(sv.pid(), SIGTERM), 0);
    EXPECT_NE(sv.wait(30), -1) << sv.log();
    EXPECT_FALSE(sv.ipcExists()) << sv.log();
  }
  zftest::TempDir dir;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t const test = fork();
  ASSERT_GE(test, 0);
  if (test == 0) {
    close(fds[0]);
    TestServer sv(dir, "demo");
    int32_t const id = sv.start() ? sv.serverId() : -1;
    if (write(fds[1], &id, sizeof id) != ssize_t(sizeof id))
      _exit(2);
    pause();
    _exit(0);
  }
  close(fds[1]);
  int32_t id = -1;
  bool const read = ::read(fds[0], &id, sizeof id) == ssize_t(sizeof id);
  close(fds[0]);
  ::kill(test, SIGKILL);
  waitpid(test, nullptr, 0);
  ASSERT_TRUE(read);
  ASSERT_GT(id, 0);
  auto const anyLeft = [id] {
    return RawClient(id).ok() || semget(key_t(uint32_t(id) << 8), 2, 0) >= 0;
  };
  bool const gone = within(30, [&] { return !anyLeft(); });
  EXPECT_TRUE(gone);
  if (!gone) {
    // Leave nothing behind even so: a server that is still there serves
    // its Stop; the objects of one that is not are removed by their keys.
    RawClient c(id);
    if (c.ok() && c.connect().status == 0)
      c.send(kServerObj, DBM_STOP, {1});
    within(10, [&] { return !anyLeft(); });
    for (int w : {'s', 'c', 'r'})
      if (int q = msgget(key_t((uint32_t(id) << 8) | uint32_t(w)), 0); q >= 0)
        msgctl(q, IPC_RMID, nullptr);
    if (int sem = semget(key_t(uint32_t(id) << 8), 2, 0); sem >= 0)
      semctl(sem, 0, IPC_RMID);
  }
}

TEST_F(ProcessTest, ConnectVersions) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  for (int32_t v : {1100, 10000}) {
    SCOPED_TRACE(v);
    RawClient c(sv.serverId());
    RawReply r = c.connect(v);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, kIncompatibleVersions);
    EXPECT_EQ(r.body, (std::vector<uint32_t>{uint32_t(v), 1101}));
  }
  for (int32_t v : {1101, 9999}) {
    RawClient c(sv.serverId());
    EXPECT_EQ(c.connect(v).status, 0) << v;
  }
}

// Each start-up refusal exits 1 and leaves no IPC object.
TEST_F(ProcessTest, StartUpRefusals) {
  struct Case {
    char const* name;
    std::string extraKeys;         // added to the configuration
    std::vector<std::string> args; // empty: the server's name alone
    bool dropDbase;
    bool dropConfig;
  };
  std::vector<Case> const cases = {
      {"no operand", "", {"-f"}, false, false},
      {"two operands", "", {"-f", "demo", "other"}, false, false},
      {"no configuration", "", {}, false, true},
      {"journal directory that is a file", "JournalDir\t@FILE@\n", {}, false, false},
      {"missing database directory", "", {}, true, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer sv;
    std::string extra = c.extraKeys;
    size_t at = extra.find("@FILE@");
    if (at != std::string::npos)
      extra.replace(at, 6, sv.dir().write("afile", "x"));
    sv.writeConfig(extra);
    if (c.dropDbase)
      std::filesystem::remove_all(sv.dbase());
    if (c.dropConfig)
      std::filesystem::remove(sv.configFile());
    std::vector<std::string> args = c.args.empty() ? std::vector<std::string>{"-f", sv.name()} : c.args;
    zftest::RunResult r = sv.run(args);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_FALSE(sv.ipcExists());
  }
}

TEST_F(ProcessTest, ServerIdOutOfRangeIsRefused) {
  TestServer sv;
  for (std::string id : {"0", "8388608", "-4"}) {
    SCOPED_TRACE(id);
    std::string text = zftest::readFile(sv.configFile());
    text.replace(text.find("ServerId\t") + 9, text.find('\n') - text.find("ServerId\t") - 9, id);
    sv.dir().write("servers/demo.sv", text);
    zftest::RunResult r = sv.run({"-f", "demo"});
    EXPECT_EQ(r.status, 1) << r.err;
    sv.writeConfig("");
  }
}

TEST_F(ProcessTest, NonRootUserIsRefusedBeforeAnyIpcObject) {
  TestServer sv;
  std::string bin = zftest::binPath("ombrel");
  std::string dir = sv.dir().path();
  zftest::RunResult r = zftest::runInChild([&]() {
    setenv("OMBREL", dir.c_str(), 1);
    if (setgid(65534) != 0 || setuid(65534) != 0)
      return 99;
    execl(bin.c_str(), bin.c_str(), "-f", "demo", static_cast<char*>(nullptr));
    return 98;
  });
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_FALSE(sv.ipcExists());
}

// A table of hostile requests: each gets its error reply and the next
// request is answered.
TEST_F(ProcessTest, HostileRequestsGetErrorRepliesAndServingGoesOn) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  RawClient a(sv.serverId());
  ASSERT_EQ(a.connect().status, 0);
  RawClient b(sv.serverId());
  ASSERT_EQ(b.connect().status, 0);
  RawReply sch = createSchema(b, "bschema");
  ASSERT_TRUE(sch.ok) << sv.log();
  ASSERT_EQ(sch.status, 0) << sv.log();
  int32_t foreignObject = sch.result;

  long t = a.ownType();
  std::vector<uint32_t> full = cat(RawClient::header(t, kServerObj, DBM_GETINFO, 253, true), std::vector<uint32_t>(253, 1));
  struct Case {
    char const* name;
    std::function<void()> send;
    int16_t status;      // expected status of the reply (0: any)
    int32_t result;      // expected result when status is 0
  };
  std::vector<Case> const cases = {
      {"code 48", [&] { a.send(kServerObj, 48, {}); }, kMsgOutOfBounds, 0},
      {"unknown client id",
       [&] { a.sendRaw('s', 501, cat(RawClient::header(501, kServerObj, DBM_GETINFO, 1, false), {2})); },
       0, 0},
      {"object id 0", [&] { a.send(0, DBM_GETINFO, {1}); }, kInvalidObjectId, 0},
      {"object id 0x10000000", [&] { a.send(0x10000000, DBM_GETINFO, {1}); }, kInvalidObjectId, 0},
      {"another client's object", [&] { a.send(foreignObject, DBM_GETTABLES, {}); }, kInvalidObjectId, 0},
      {"message the class lacks", [&] { a.send(kServerObj, DBM_GETRECORD, {}); }, kInvalidMsgOnObject, 0},
      {"short continuation part",
       [&] {
         a.sendRaw('s', t, full);
         a.goAhead();
         a.sendRaw('c', t, cat(RawClient::header(t, kServerObj, DBM_GETINFO, 3, true), {1, 2, 3}));
       },
       kInvalidData, 0},
      {"foreign batch",
       [&] {
         std::vector<uint32_t> w = cat(RawClient::header(t, kServerObj, DBM_GETINFO, 1, false), {2});
         w = cat(w, cat(RawClient::header(b.ownType(), kServerObj, DBM_GETINFO, 1, false), {2}));
         a.sendRaw('s', t, w);
       },
       kInvalidData, 0},
      {"attach kind 5", [&] { createSchema(a, "five", 5); }, 1, -1},
      {"schema a/b", [&] { createSchema(a, "a/b"); }, 1, -1},
      {"schema ..", [&] { createSchema(a, ".."); }, 1, -1},
      {"oversize request", [&] { a.send(kServerObj, DBM_GETINFO, std::vector<uint32_t>(300000, 1)); },
       kInvalidData, 0},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    c.send();
    if (c.status == 1) {
      // createSchema read the reply itself: checked through the next one.
    } else if (std::string(c.name) == "unknown client id") {
      RawReply r = a.reply(501, 20);
      ASSERT_TRUE(r.ok);
      EXPECT_EQ(r.status, kInvalidClientId);
    } else {
      RawReply r = a.reply();
      ASSERT_TRUE(r.ok) << sv.log();
      EXPECT_EQ(r.status, c.status);
    }
    RawReply next = a.request(kServerObj, DBM_GETINFO, {2});
    ASSERT_TRUE(next.ok) << sv.log();
    EXPECT_EQ(next.status, 0);
    ASSERT_FALSE(next.body.empty());
    EXPECT_EQ(int32_t(next.body[0]), sv.serverId());
  }
  EXPECT_EQ(createSchema(a, "five", 5).result, -1);
  EXPECT_EQ(createSchema(a, "a/b").result, -1);
  EXPECT_TRUE(sv.running());
}

// A client process that connects, takes the process lock, says it is
// ready and waits to be killed.
zftest::ChildRun lockHolder(int32_t serverId) {
  return zftest::startChild([serverId]() {
    RawClient c(serverId);
    if (c.connect().status != 0)
      return 1;
    if (c.request(kServerObj, DBM_LOCK, {}).status != 0)
      return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    pause();
    return 0;
  });
}

TEST_F(ProcessTest, KilledLockHolderIsFoundDeadAndCheckpointsGoOn) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  RawClient a(sv.serverId());
  ASSERT_EQ(a.connect().status, 0);
  zftest::ChildRun holder = lockHolder(sv.serverId());
  ASSERT_EQ(holder.readLine(), "ready");
  EXPECT_EQ(clientCount(a), 2);
  holder.stop();
  EXPECT_TRUE(within(15, [&] { return clientCount(a) == 1; })) << sv.log();
  EXPECT_NE(sv.log().find("died"), std::string::npos) << sv.log();
  RawReply cp = a.request(kServerObj, DBM_CHECKPOINT, {0});
  ASSERT_TRUE(cp.ok);
  EXPECT_EQ(cp.status, 0);
  EXPECT_NE(cp.result, -1) << sv.log();
}

TEST_F(ProcessTest, ClientThatDisconnectedLeavesWithoutDeathWarning) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  RawClient a(sv.serverId());
  ASSERT_EQ(a.connect().status, 0);
  {
    RawClient b(sv.serverId());
    ASSERT_EQ(b.connect().status, 0);
    EXPECT_EQ(clientCount(a), 2);
    b.send(kServerObj, DBM_DISCONNECT, {});
  }
  EXPECT_TRUE(within(15, [&] { return clientCount(a) == 1; }));
  EXPECT_EQ(sv.log().find("died"), std::string::npos) << sv.log();
}

// A client sending requests without reading replies, alive or killed,
// never stops the server answering others.
TEST_F(ProcessTest, FloodingClientNeverFreezesTheServer) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  RawClient a(sv.serverId());
  ASSERT_EQ(a.connect().status, 0);
  for (bool killIt : {false, true}) {
    SCOPED_TRACE(killIt ? "killed" : "alive");
    zftest::ChildRun flooder = zftest::startChild([&]() {
      RawClient f(sv.serverId());
      if (f.connect().status != 0)
        return 1;
      std::printf("ready\n");
      std::fflush(stdout);
      for (int i = 0; i < 3000; ++i)
        f.send(kServerObj, DBM_GETINFO, {2});
      pause();
      return 0;
    });
    ASSERT_EQ(flooder.readLine(), "ready");
    if (killIt) {
      usleep(300000);
      flooder.stop();
    }
    for (int i = 0; i < 20; ++i) {
      RawReply r = a.request(kServerObj, DBM_GETINFO, {2}, 30);
      ASSERT_TRUE(r.ok) << sv.log();
      EXPECT_EQ(r.status, 0);
    }
    flooder.stop();
  }
  EXPECT_TRUE(sv.running());
}

TEST_F(ProcessTest, StopFromTheOnlyClientLeavesNoIpcAndRecordsTheStop) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  RawClient a(sv.serverId());
  ASSERT_EQ(a.connect().status, 0);
  {
    RawClient b(sv.serverId());
    ASSERT_EQ(b.connect().status, 0);
    RawReply refused = a.request(kServerObj, DBM_STOP, {0});
    ASSERT_TRUE(refused.ok);
    EXPECT_EQ(refused.result, -1);
    b.send(kServerObj, DBM_DISCONNECT, {});
  }
  EXPECT_TRUE(within(15, [&] { return clientCount(a) == 1; }));
  RawReply r = a.request(kServerObj, DBM_STOP, {0});
  ASSERT_TRUE(r.ok) << sv.log();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(sv.wait(30), 0) << sv.log();
  EXPECT_FALSE(sv.ipcExists());
  std::string state = zftest::readFile(sv.stateFile());
  EXPECT_EQ(hex(state, 0, 8), "CA BE 90 10 00 00 00 00");
  EXPECT_EQ(hex(state, 16, 4), "00 00 00 00");  // the stopping uid: root
}

TEST_F(ProcessTest, RecordedRunReplaysToTheSameSchemasAndDamageIsRefused) {
  zftest::TempDir copy;
  TestServer sv;
  // The starting directory, before the recorded run.
  std::filesystem::copy(sv.dir().path(), copy.path(),
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(sv.start({"-w", "0"})) << sv.log();
  {
    // The schema comes from a process that is gone before the replay: the
    // replay takes its Connect's recorded verdict, not a look at its pid.
    int32_t const id = sv.serverId();
    zftest::RunResult made = zftest::runInChild([id]() {
      RawClient a(id);
      ZF_CHILD_CHECK(a.connect().status == 0);
      ZF_CHILD_CHECK(createSchema(a, "sales").status == 0);
      return 0;
    });
    ASSERT_EQ(made.status, 0) << made.err << sv.log();
    EXPECT_EQ(sv.stop(), 0) << sv.log();
  }
  std::string log = zftest::readFile(sv.runLogFile());
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(hex(log, 0, 4), "7E 3A C1 C0");
  uint32_t count = (uint32_t(uint8_t(log[4])) << 24) | (uint32_t(uint8_t(log[5])) << 16) |
                   (uint32_t(uint8_t(log[6])) << 8) | uint32_t(uint8_t(log[7]));
  EXPECT_GE(count, 3u);

  // Replay on the copy: the paths of the configuration name the original
  // directory, so the copy gets its own configuration.
  TestServer replay(copy, "demo");
  std::filesystem::copy_file(sv.runLogFile(), replay.runLogFile(),
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(replay.start({"-r"})) << replay.log();
  EXPECT_EQ(replay.wait(60), 0) << replay.log();
  EXPECT_TRUE(std::filesystem::is_directory(replay.dbase() + "/sales")) << replay.log();

  // A damaged log: INVRUNLOG, exit 1.
  std::string bad = log;
  bad[16] = 0;  // the marker of the first message item (after the start stamp)
  copy.write("demo.runlog", bad);
  zftest::RunResult r = replay.run({"-f", "-r", "demo"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE((r.out + r.err).find("damaged"), std::string::npos) << r.err;
}

// Data files written with one cache page size are never read with another:
// a start whose configuration changed it ends with INCCACHEPAGESIZE.
TEST_F(ProcessTest, AChangedCachePageSizeStopsStartUp) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  {
    RawClient a(sv.serverId());
    ASSERT_EQ(a.connect().status, 0);
    EXPECT_EQ(sv.stop(), 0) << sv.log();
  }
  sv.removeIpc();
  sv.writeConfig("CachePageSize\t8\n");
  zftest::RunResult r = sv.run({"-f", "demo"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find("cache page size (8 KB)"), std::string::npos) << r.out << r.err;
  EXPECT_FALSE(sv.ipcExists());
}

TEST_F(ProcessTest, CheckPreviousCheckpointExitsWith255WhenEveryFileVerifies) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  {
    RawClient a(sv.serverId());
    ASSERT_EQ(a.connect().status, 0);
    ASSERT_EQ(createSchema(a, "sales").status, 0) << sv.log();
    EXPECT_EQ(sv.stop(), 0) << sv.log();
  }
  zftest::RunResult ok = sv.run({"-f", "-p", "-e", "1", "demo"});
  EXPECT_EQ(ok.status, 255) << ok.out << ok.err;
  EXPECT_FALSE(sv.ipcExists());
}

// After a clean stop, -p -e 1 verifies; a catalog file whose header is
// overwritten is named and the exit status is 1.
TEST_F(ProcessTest, CheckPreviousCheckpointRefusesADamagedCatalogHeader) {
  TestServer sv;
  ASSERT_TRUE(sv.start()) << sv.log();
  {
    RawClient a(sv.serverId());
    ASSERT_EQ(a.connect().status, 0);
    ASSERT_EQ(createSchema(a, "sales").status, 0) << sv.log();
    EXPECT_EQ(sv.stop(), 0) << sv.log();
  }
  std::string const rel = sv.name() + ".db/sales/$class.tab";
  std::string const file = sv.dir().file(rel);
  std::string const good = zftest::readFile(file);
  ASSERT_GT(good.size(), 1056u);
  struct Damage {
    char const* what;
    char byte;
  };
  for (Damage const d : {Damage{"zeros", '\0'}, Damage{"all ones", '\xFF'}, Damage{"letters", 'A'}}) {
    SCOPED_TRACE(d.what);
    std::string bad = good;
    // Both header copies (one per checkpoint parity, a 1 KB page apart).
    std::fill(bad.begin(), bad.begin() + 32, d.byte);
    std::fill(bad.begin() + 1024, bad.begin() + 1056, d.byte);
    sv.dir().write(rel, bad);
    zftest::RunResult r = sv.run({"-f", "-p", "-e", "1", "demo"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("$class"), std::string::npos) << r.out << r.err;
    EXPECT_FALSE(sv.ipcExists());
  }
  sv.dir().write(rel, good);
  zftest::RunResult ok = sv.run({"-f", "-p", "-e", "1", "demo"});
  EXPECT_EQ(ok.status, 255) << ok.out << ok.err;
}

}  // namespace
