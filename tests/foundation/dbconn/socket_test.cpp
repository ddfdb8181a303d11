// The socket transport through the relay program to a test endpoint: the
// same requests as on System V queues over TCP on the loopback address, over
// TCP with a relay of the other byte order, and over a local socket. Peers
// that send bad sizes, the acceptor's checks of a local peer, notifications,
// and the start of a local service.
#include <gtest/gtest.h>

#include <zfound/DbConfigFile.h>
#include <zfound/IpcConnection.h>
#include <zfound/ProcValues.h>
#include <zfound/RemoteConnection.h>
#include <zfound/TimeStamp.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "ChildRun.h"
#include "dbconn_fixture.h"
#include "TestSupport.h"

using namespace dbconntest;
using zftest::EndpointReply;
using zftest::EndpointRequest;
using zftest::WireCodec;
using zftest::encodeWords;
using zftest::errorReply;

namespace {

using zftest::str;

std::string localHost() {
  char h[256] = {};
  gethostname(h, sizeof h - 1);
  return h;
}

// A program run in the background whose first output line is kept (its
// error output goes to errFile when one is given); killed and reaped on
// destruction.
class Background {
public:
  Background(std::vector<std::string> const& argv, std::string const& errFile = "") {
    child_ = zftest::startChild([&]() -> int {
      if (!errFile.empty()) {
        int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (e >= 0) dup2(e, 2);
      }
      std::vector<char*> av;
      for (auto const& a : argv) av.push_back(const_cast<char*>(a.c_str()));
      av.push_back(nullptr);
      execv(av[0], av.data());
      return 127;
    });
    line_ = child_.readLine();
  }
  std::string const& line() const { return line_; }

private:
  zftest::ChildRun child_;
  std::string line_;
};

enum class Road { Tcp, TcpSwapped, Local };

std::string roadName(::testing::TestParamInfo<Road> const& i) {
  return i.param == Road::Tcp ? "Tcp" : i.param == Road::TcpSwapped ? "TcpOtherByteOrder" : "LocalSocket";
}

std::vector<std::shared_ptr<Exception>> const& scriptedErrors() {
  static std::vector<std::shared_ptr<Exception>> e = {
      std::make_shared<DuplicatedKey>("ix_name", "k1"), std::make_shared<InvalidMsgOnObject>(3, 4),
      std::make_shared<NoIntegrity>(), std::make_shared<InvalidTimeStamp>("tab", toTime(3600), toTime(7200), toTime(60))};
  return e;
}

// The endpoint side of every scenario, writing longs in its own byte order.
zftest::EndpointHandler scenario(std::string me, bool swapped) {
  return [me, swapped](EndpointRequest const& r) {
    EndpointReply rep;
    switch (r.op) {
      case DBM_GETINFO:
        rep.retValue = 1000 + firstLong(r, swapped);
        rep.body = encodeWords([](Connection& c) { c << String("answer") << int32_t(-5); }, swapped);
        break;
      case DBM_GETRECORD:
        rep.retValue = int32_t(r.body.size());
        rep.body = encodeWords([](Connection& c) {
          for (int32_t i = 0; i < 600; ++i) c << i * 3 + 1;
        }, swapped);
        break;
      case DBM_LOCK:
        return errorReply(*scriptedErrors().at(size_t(firstLong(r, swapped))), false, swapped);
      case DBM_GETTABLES:
        rep.retValue = 5;
        rep.before.push_back(errorReply(PendLockNotif("waiting for", "bob"), false, swapped));
        break;
      case DBM_BEGTRANSACT:
        rep.body = encodeWords([&](Connection& c) { c << TimeStamp(toTime(1000 + int32_t(me[0]))); }, swapped);
        break;
      default:
        break;
    }
    return rep;
  };
}

class SocketRoadTest : public EndpointFixture, public ::testing::WithParamInterface<Road> {
protected:
  bool swapped() const { return GetParam() == Road::TcpSwapped; }

  void startRelay() {
    std::string relay = zftest::binPath("zfrelay");
    if (GetParam() == Road::Local) {
      relay_ = std::make_unique<Background>(std::vector<std::string>{relay, "--unix", "vod-ade-deb"});
      ASSERT_EQ(relay_->line(), "ready");
      host_ = localHost();
      service_ = "";
      shdbg_ = std::make_unique<zftest::ScopedEnv>("SHDBG", "1");
    } else {
      std::vector<std::string> argv{relay, "--tcp", "127.0.0.1:0"};
      if (swapped()) argv.push_back("--swap");
      relay_ = std::make_unique<Background>(argv);
      ASSERT_EQ(relay_->line().rfind("port ", 0), 0u) << relay_->line();
      host_ = "127.0.0.1";
      service_ = "zf-relay-test/" + relay_->line().substr(5);
    }
  }

  RemoteConnection* open(std::string const& server) {
    auto* c = new RemoteConnection(String(host_.c_str()), String(server.c_str()), ConnMode(0),
                                   String(service_.c_str()), nullptr);
    EXPECT_EQ(c->status(), 0);
    c->connect(false);
    EXPECT_EQ(c->status(), 0);
    EXPECT_EQ(Exception::last().code(), 0);
    return c;
  }

  void TearDown() override {
    EndpointFixture::TearDown();
    shdbg_.reset();
    relay_.reset();
  }

  std::unique_ptr<Background> relay_;
  std::unique_ptr<zftest::ScopedEnv> shdbg_;
  std::string host_, service_;
};

TEST_P(SocketRoadTest, SameResultsAsOnTheQueues) {
  endpoint("alpha", scenario("alpha", swapped()), swapped());
  startRelay();
  RemoteConnection* c = open("alpha");
  EXPECT_EQ(c->isInvert(), swapped());
  EXPECT_EQ(c->objId(), zftest::SysVEndpoint::kClientId);

  // Batched void requests, then one with a reply.
  for (int32_t i = 0; i < 11; ++i) {
    (*c)(100 + i, DBM_FREE) << i;
    EXPECT_EQ(c->execute(), -1);
  }
  (*c)(DbConnection::kServerObject, DBM_GETINFO) << int32_t(42);
  EXPECT_EQ(int32_t(*c), 1042);
  String s;
  int32_t v = 0;
  *c >> s >> v;
  EXPECT_EQ(str(s), "answer");
  EXPECT_EQ(v, -5);

  // A request and a reply in several parts.
  auto write = [](Connection& w) {
    w << String("text with \xe9 and more") << int32_t(-1);
    for (int32_t i = 0; i < 600; ++i) w << i * 7 + 1;
  };
  std::vector<uint32_t> expected = encodeWords(write, swapped());
  write((*c)(5, DBM_GETRECORD));
  EXPECT_EQ(int32_t(*c), int32_t(expected.size()));
  for (int32_t i = 0; i < 600; ++i) {
    int32_t w = 0;
    *c >> w;
    ASSERT_EQ(w, i * 3 + 1) << i;
  }
  EXPECT_FALSE(c->bad());

  // Scripted errors.
  for (size_t i = 0; i < scriptedErrors().size(); ++i) {
    (*c)(DbConnection::kServerObject, DBM_LOCK) << int32_t(i);
    EXPECT_EQ(c->execute(), -1);
    EXPECT_EQ(Exception::last().code(), scriptedErrors()[i]->code());
    EXPECT_EQ(str(Exception::last().message()), str(scriptedErrors()[i]->message()));
  }

  // A notification before the reply is shown and the wait goes on.
  static std::vector<std::string> shown;
  shown.clear();
  DbConnection::NotifHandler old = DbConnection::setNotifHandler([](String const& m) { shown.push_back(str(m)); });
  (*c)(DbConnection::kServerObject, DBM_GETTABLES);
  EXPECT_EQ(c->execute(), 5);
  DbConnection::setNotifHandler(old);
  EXPECT_EQ(shown, std::vector<std::string>{str(PendLockNotif("waiting for", "bob").message())});

  std::vector<LogLine> log = readLog(logPath_);
  ASSERT_EQ(log.size(), 1u + 11u + 1u + 1u + scriptedErrors().size() + 1u);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(log[i].msg, log[1].msg);
  EXPECT_EQ(log[12].op, DBM_GETINFO);
  EXPECT_EQ(log[12].msg, log[11].msg);
  EXPECT_EQ(log[13].op, DBM_GETRECORD);
  EXPECT_EQ(log[13].parts, 3);
  EXPECT_EQ(log[13].words, expected);  // byte for byte, in the relay's byte order
}

TEST_P(SocketRoadTest, TwoServerTransaction) {
  endpoint("b", scenario("b", swapped()), swapped());
  endpoint("a", scenario("a", swapped()), swapped());
  startRelay();
  RemoteConnection* cb = open("b");
  RemoteConnection* ca = open("a");
  ca->begTrans();
  cb->begTrans();
  EXPECT_EQ(ca->transTimeStamp().time().value(), 1000 + 'a');
  EXPECT_TRUE(DbConnection::endTransaction(true));
  EXPECT_EQ(opsOf(readLog(logPath_), {DBM_READYTOEND, DBM_ENDTRANSACT, DBM_ABORTTRANSACT}),
            (std::vector<std::string>{"a 45", "b 45", "a 29", "b 29"}));
  DbConnection::dispose(ca);
  DbConnection::dispose(cb);
}

TEST_P(SocketRoadTest, ServerFoundDeadIsReportedAsOnTheQueues) {
  auto& ep = endpoint("alpha", scenario("alpha", swapped()), swapped());
  startRelay();
  RemoteConnection* c = open("alpha");
  // Killed with its endpoint gone, so that the relay finds it dead at once
  // rather than after its 10-second alarm.
  ep.kill();
  ep.removeIpc();
  (*c)(DbConnection::kServerObject, DBM_GETINFO) << int32_t(1);
  EXPECT_EQ(c->execute(), -1);
  EXPECT_EQ(Exception::last().code(), 24) << "ServerIsDead, recorded (the error carries no server name)";
}

TEST_P(SocketRoadTest, ClientThatGoesAwayIsDisconnectedFromTheServer) {
  endpoint("alpha", scenario("alpha", swapped()), swapped());
  startRelay();
  delete open("alpha");  // the socket closes without a Disconnect request
  std::vector<LogLine> log = logOf(2);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].op, DBM_DISCONNECT);
}

INSTANTIATE_TEST_SUITE_P(Roads, SocketRoadTest, ::testing::Values(Road::Tcp, Road::TcpSwapped, Road::Local),
                         roadName);

// ---- peers that break the protocol ---------------------------------------------------

// A peer on the loopback address that sends the test number, then `capacity`
// and, after reading the first part, the bytes of `reply`.
class FakeRelay {
public:
  FakeRelay(uint32_t capacity, std::vector<uint32_t> reply, bool swapTestNum = false) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 1);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    child_ = zftest::startChild([&]() -> int {
      int s = accept(listen_, nullptr, nullptr);
      uint32_t t = SocketConnection::kTestNum;
      if (swapTestNum) t = RemoteConnection::invI(t);
      ssize_t w = write(s, &t, 4);
      w = write(s, &capacity, 4);
      uint32_t head[3];
      if (read(s, head, 12) == 12) {
        std::vector<char> rest(head[0] > 12 && head[0] < 100000 ? head[0] - 12 : 0);
        size_t got = 0;
        while (got < rest.size()) {
          ssize_t r = read(s, rest.data() + got, rest.size() - got);
          if (r <= 0) break;
          got += size_t(r);
        }
        w = write(s, reply.data(), reply.size() * 4);
      }
      (void)w;
      char c;
      while (read(s, &c, 1) > 0) {
      }
      return 0;
    });
    close(listen_);
  }
  std::string service() const { return "zf-relay-test/" + std::to_string(port_); }

private:
  int listen_ = -1;
  int port_ = 0;
  zftest::ChildRun child_;  // ended and reaped with the peer
};

class SocketPeerTest : public EndpointFixture {};

// A reply header: size word, return value, status, length and flags.
std::vector<uint32_t> part(int32_t size, int32_t ret, int16_t status, uint16_t lenFlags,
                           std::vector<uint32_t> body = {}) {
  std::vector<uint32_t> w(3);
  s_MsgBuff h;
  h.clientId = size;
  h.objId = ret;
  h.serverOp = status;
  h.lenFlags = lenFlags;
  h.write(w.data());
  w.insert(w.end(), body.begin(), body.end());
  return w;
}

TEST_F(SocketPeerTest, BadPartSizesCloseTheConnectionWithAnError) {
  struct Case {
    char const* what;
    std::vector<uint32_t> reply;
  };
  std::vector<Case> cases = {
      // Every byte it claims follows, so that believing it would write them
      // past the buffer.
      {"larger than the buffer", part(5000, 9, 0, 1247, std::vector<uint32_t>(1247, 0xABABABABu))},
      {"negative", part(-4, 9, 0, 0)},
      {"shorter than a header", part(8, 9, 0, 0)},
      {"length field disagrees", part(16, 9, 0, 7, {0})},
      {"not whole words", part(14, 9, 0, 0, {0})},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(k.what);
    FakeRelay peer(64, k.reply);
    RemoteConnection c("127.0.0.1", "srv", ConnMode(0), String(peer.service().c_str()), nullptr);
    ASSERT_EQ(c.status(), 0);
    c.connect(false);
    EXPECT_EQ(c.status(), -1);
    EXPECT_EQ(Exception::last().code(), 20);
    EXPECT_NE(c.socket()->status(), SocketConnection::OKEY) << "the connection is closed";
    // Later requests fail at once.
    c(DbConnection::kServerObject, DBM_GETINFO) << int32_t(1);
    EXPECT_EQ(c.execute(), -1);
  }
}

TEST_F(SocketPeerTest, ServiceFromTheEnvironment) {
  FakeRelay peer(64, {});
  zftest::ScopedEnv dbg("SHDBG", peer.service());
  RemoteConnection c("127.0.0.1", "srv", ConnMode(0), String(), nullptr);
  EXPECT_EQ(c.status(), 0) << "the service named in SHDBG is used";
}

TEST_F(SocketPeerTest, InsaneCapacityIsRefused) {
  for (uint32_t cap : {0u, 0x4000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    FakeRelay peer(cap, {});
    RemoteConnection c("127.0.0.1", "srv", ConnMode(0), String(peer.service().c_str()), nullptr);
    EXPECT_EQ(c.status(), -1) << cap;
    // A request on it fails; it does not answer an earlier value.
    Exception::last(Exception(0));
    c(DbConnection::kServerObject, DBM_GETINFO) << int32_t(1);
    EXPECT_EQ(c.execute(), -1);
    EXPECT_EQ(Exception::last().code(), 20);
  }
}

TEST_F(SocketPeerTest, NotificationIsPassedOverAndOtherByteOrderIsConverted) {
  for (bool swap : {false, true}) {
    std::vector<uint32_t> reply = part(12, 0, 21, 0);
    std::vector<uint32_t> answer = part(16, 9, 0, 1, {swap ? RemoteConnection::invI(77) : 77u});
    reply.insert(reply.end(), answer.begin(), answer.end());
    if (swap) {
      RemoteConnection::invH(reply.data());
      RemoteConnection::invH(reply.data() + 3);
    }
    uint32_t cap = swap ? RemoteConnection::invI(64) : 64;
    FakeRelay peer(cap, reply, swap);
    RemoteConnection c("127.0.0.1", "srv", ConnMode(0), String(peer.service().c_str()), nullptr);
    ASSERT_EQ(c.status(), 0);
    EXPECT_EQ(c.isInvert(), swap);
    c.connect(false);
    EXPECT_EQ(c.status(), 0);
    EXPECT_EQ(c.objId(), 9);
    int32_t w = 0;
    c >> w;
    EXPECT_EQ(w, 77);
  }
}

// ---- the acceptor's checks of a local peer -------------------------------------------

TEST_F(SocketPeerTest, LocalPeerSocketFileIsChecked) {
  struct Case {
    char const* what;
    mode_t mode;
    uid_t owner;  // -1: the caller's
    int ageMs;    // milliseconds
    bool taken;
  };
  std::vector<Case> cases = {
      {"fresh, 0700, own", 0700, uid_t(-1), 0, true},
      {"31 seconds old", 0700, uid_t(-1), 31000, false},
      {"just over 30 seconds old", 0700, uid_t(-1), 30500, false},
      {"mode 0755", 0755, uid_t(-1), 0, false},
      {"owned by another user", 0700, 4242, 0, false},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(k.what);
    SocketConnection acceptor;
    acceptor.unixCreate(54321);
    ASSERT_EQ(acceptor.status(), SocketConnection::OKEY);
    struct stat st {};
    ASSERT_EQ(stat(toCharPtr(SocketConnection::svSockName(54321)), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u) << "any user may reach the service";

    int sd = socket(AF_UNIX, SOCK_STREAM, 0);
    std::string own = dir_.file("peer.sock");
    sockaddr_un a {};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, own.c_str());
    ASSERT_EQ(bind(sd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    chmod(own.c_str(), k.mode);
    if (k.owner != uid_t(-1) && chown(own.c_str(), k.owner, -1) != 0) GTEST_SKIP() << "needs root";
    if (k.ageMs) {
      timeval tv[2];
      gettimeofday(&tv[0], nullptr);
      int64_t at = int64_t(tv[0].tv_sec) * 1000000 + tv[0].tv_usec - int64_t(k.ageMs) * 1000;
      tv[0].tv_sec = time_t(at / 1000000);
      tv[0].tv_usec = suseconds_t(at % 1000000);
      tv[1] = tv[0];
      ASSERT_EQ(utimes(own.c_str(), tv), 0);
    }
    sockaddr_un to {};
    to.sun_family = AF_UNIX;
    std::strcpy(to.sun_path, toCharPtr(SocketConnection::svSockName(54321)));
    ASSERT_EQ(connect(sd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    SocketConnection taken;
    taken.unixAccept(acceptor.listenDescr());
    EXPECT_EQ(taken.status() == SocketConnection::OKEY, k.taken);
    if (k.taken) {
      EXPECT_NE(access(own.c_str(), F_OK), 0) << "the peer's name is removed";
    }
    close(sd);
    unlink(own.c_str());
  }
}

TEST_F(SocketPeerTest, ClientSocketNameIsItsProcesssOwnAndPrivate) {
  SocketConnection acceptor;
  acceptor.unixCreate(54322);
  ASSERT_EQ(acceptor.status(), SocketConnection::OKEY);
  SocketConnection client;
  client.unixConnect(54322);
  ASSERT_EQ(client.status(), SocketConnection::OKEY);
  // Until the acceptor takes it, the client's name carries its process id.
  std::string own = toCharPtr(SocketConnection::sockName("cl", int32_t(getpid())));
  struct stat st {};
  ASSERT_EQ(lstat(own.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  SocketConnection taken;
  taken.unixAccept(acceptor.listenDescr());
  EXPECT_EQ(taken.status(), SocketConnection::OKEY);
  EXPECT_NE(access(own.c_str(), F_OK), 0);
}

// ---- process values and the start of a local service ----------------------------------

TEST(ProcValuesTest, StartedServiceReportsReadyAndIsReachable) {
  startUpOnce();
  zftest::TempDir dir;
  zftest::ScopedEnv tmp("TMPDIR", dir.path());
  std::string relay = zftest::binPath("zfrelay");
  char const* argv[] = {relay.c_str(), nullptr};
  pid_t pid = execProcess(argv);
  ASSERT_GT(pid, 0);
  SocketConnection c;
  c.unixConnect(int32_t(pid));
  EXPECT_EQ(c.status(), SocketConnection::OKEY);
  uint32_t cap = 0;
  EXPECT_EQ(c.receive(4, reinterpret_cast<char*>(&cap)), 4);
  EXPECT_EQ(cap, uint32_t(MSG_PART_WORDS));
  EXPECT_NE(access(toCharPtr(SocketConnection::sockName("cl", int32_t(getpid()))), F_OK), 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);

  // A program that ends at once, or cannot be run: -1, and no child left.
  char const* quick[] = {"true", nullptr};
  EXPECT_EQ(execProcess(quick), -1);
  char const* missing[] = {"/nonexistent/program", nullptr};
  EXPECT_EQ(execProcess(missing), -1);
  // A program that never reports ready is killed when the wait ends.
  char const* silent[] = {"sleep", "30", nullptr};
  EXPECT_EQ(execProcess(silent, 1), -1);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(ProcValuesTest, ServiceCommandAndArgumentVector) {
  zftest::TempDir dir;
  std::string conf = dir.write("inetd.conf",
                               "# comment\n"
                               "\n"
                               "other stream tcp nowait root /bin/other other\n"
                               "svc stream tcp nowait root /usr/bin/prog prog -a -b\n");
  String cmd;
  getCmdByService(cmd, "svc", conf.c_str());
  EXPECT_EQ(str(cmd), "/usr/bin/prog -a -b");
  getCmdByService(cmd, "none", conf.c_str());
  EXPECT_TRUE(cmd.isNull());
  getCmdByService(cmd, "svc", dir.file("missing").c_str());
  EXPECT_TRUE(cmd.isNull());

  struct Case {
    char const* line;
    int max;
    std::vector<std::string> words;
  };
  std::vector<Case> cases = {
      {"  prog  -x \"two words\" 'q' tail ", 50, {"prog", "-x", "two words", "q", "tail"}},
      {"\"prog\" a", 50, {"\"prog\"", "a"}},
      {"a b c d", 3, {"a", "b"}},
      {"", 50, {}},
  };
  for (Case const& k : cases) {
    char const* argv[64];
    int n = cmdLineToArgv(k.line, argv, k.max);
    std::vector<std::string> got(argv, argv + n);
    EXPECT_EQ(got, k.words) << k.line;
    EXPECT_EQ(argv[n], nullptr);
  }
}

TEST(ProcValuesTest, ArgumentsTextStopsAfterSeventyCharacters) {
  std::string word(30, 'w');
  std::vector<char const*> argv{"prog"};
  for (int i = 0; i < 10; ++i) argv.push_back(word.c_str());
  String a = joinProcessArgs(int(argv.size()), argv.data());
  EXPECT_EQ(a.length(), 3 * 30 + 2) << "the third word is added to 61 characters, then no more";
  char const* few[] = {"prog", "a", "b c", nullptr};
  EXPECT_EQ(str(joinProcessArgs(3, few)), "a b c");
}

TEST(ProcValuesTest, ValuesAreMadeOnceAndKept) {
  startUpOnce();
  int32_t version;
  String node, program, args, tty;
  getProcessValues(version, node, program, args, tty);
  EXPECT_EQ(version, int32_t(0x8000044D));
  EXPECT_EQ(str(program), "dbconntest");
  EXPECT_FALSE(node.isNull());
  setProcessValues(1, "n", "p", "a", "t");
  int32_t v2;
  String n2, p2, a2, t2;
  getProcessValues(v2, n2, p2, a2, t2);
  EXPECT_EQ(v2, 1);
  EXPECT_EQ(str(n2) + str(p2) + str(a2) + str(t2), "npat");
  setProcessValues(version, node, program, args, tty);
}

}  // namespace

namespace {

// A login that names another user than the one running the client.
class OtherUser : public StringRefStringRefBaseAction {
public:
  StringRefStringRefBaseAction* clone() const override { return new OtherUser(*this); }
  int32_t execute(String& user, String& password) override {
    ++calls;
    user = "nobody";
    password = "secret";
    return 0;
  }
  static int calls;
};
int OtherUser::calls = 0;

class RelayTest : public EndpointFixture {};

TEST_F(RelayTest, ClosesOnAPartSizeOutsideItsBuffer) {
  // The relay's own error output shows a write past its buffer (under the
  // address sanitizer) in the process that serves the client.
  std::string errors = dir_.file("relay.err");
  Background relay({zftest::binPath("zfrelay"), "--tcp", "127.0.0.1:0"}, errors);
  ASSERT_EQ(relay.line().rfind("port ", 0), 0u);
  for (int32_t size : {5000, -4, 6}) {
    int sd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(std::stoi(relay.line().substr(5))));
    ASSERT_EQ(connect(sd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    uint32_t hello[2];
    ASSERT_EQ(recv(sd, hello, 8, MSG_WAITALL), 8);
    EXPECT_EQ(hello[0], SocketConnection::kTestNum);
    EXPECT_EQ(hello[1], uint32_t(MSG_PART_WORDS));
    // As many bytes as the size claims, so that a relay that believed it
    // would write them past its buffer.
    std::vector<uint32_t> bad = part(size, 0x70000000, DBM_CONNECT, 0);
    bad.resize(std::max<size_t>(40, size > 0 ? size_t(size) / 4 : 0), 0);
    ssize_t w = send(sd, bad.data(), bad.size() * 4, MSG_NOSIGNAL);
    EXPECT_GT(w, 0);
    char c;
    EXPECT_LE(read(sd, &c, 1), 0) << "closed (or reset) for size " << size;
    close(sd);
  }
  EXPECT_EQ(zftest::readFile(errors).find("Sanitizer"), std::string::npos) << zftest::readFile(errors);
}

TEST_F(RelayTest, ServerNameThatIsNotAPlainNameIsRefused) {
  // A configuration outside the servers directory that names a live server:
  // reaching it through "../" would be a read of any ".sv" file.
  zftest::SysVEndpoint& ep = endpoint("alpha");
  dir_.write("outside.sv", "ServerId\t" + std::to_string(ep.serverId()) + "\n");
  std::string errors = dir_.file("relay.err");
  Background relay({zftest::binPath("zfrelay"), "--tcp", "127.0.0.1:0"}, errors);
  ASSERT_EQ(relay.line().rfind("port ", 0), 0u);
  std::string service = "zf-relay-test/" + relay.line().substr(5);
  for (std::string name : {"../outside", "servers/../../outside", ".", ".."}) {
    // The relay's refusal is an error object that the client raises.
    zftest::RunResult r = zftest::runInChild([&] {
      RemoteConnection c(String("127.0.0.1"), String(name.c_str()), ConnMode(0), String(service.c_str()), nullptr);
      if (c.status() != 0) return 2;
      c.connect(false);
      return c.status() == -1 ? 3 : 0;
    });
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find("No configuration for the server: " + name), std::string::npos) << name << ": " << r.err;
  }
  EXPECT_TRUE(readLog(logPath_).empty()) << "the server never saw a connect";
  DbConfigFile cfg;
  EXPECT_FALSE(cfg.read(String("../outside"), 'i'));
  EXPECT_TRUE(cfg.read(String("alpha"), 'i'));
}

TEST_F(RelayTest, LocalClientMustNameTheUserOfItsSocket) {
  endpoint("alpha");
  Background relay({zftest::binPath("zfrelay"), "--unix", "vod-ade-deb"});
  ASSERT_EQ(relay.line(), "ready");
  zftest::ScopedEnv dbg("SHDBG", "1");
  OtherUser login;
  RemoteConnection c(String(localHost().c_str()), "alpha", ConnMode(0), String(), &login);
  ASSERT_EQ(c.status(), 0);
  c.connect(false);
  EXPECT_EQ(c.status(), -1);
  EXPECT_GE(OtherUser::calls, 1);
  EXPECT_TRUE(readLog(logPath_).empty()) << "the server never saw a connect";
}

}  // namespace
