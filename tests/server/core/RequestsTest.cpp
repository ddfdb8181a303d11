// Requests on the server object driven through the dispatch with a loop
// channel: request words in, reply words out. Covers Connect, the hostile
// requests, GetInfo, GetClientsInfo, Monitor, SetAttrib, Attach and Drop,
// the process lock with CheckPoint and the state file's parity, Stop, Shut,
// clients' liveness and transactions.
#include "InProcessFixture.h"

#include <svcore/SchemaFiles.h>
#include <svcore/ServerObject.h>

#include <blkfile/CacheBuffer.h>
#include <svcatalog/SvSchema.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/Transaction.h>

#include <zfound/LoopConnection.h>
#include <zfound/PhysLayout.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

using namespace coretest;

namespace {

// The reply port of the tests: replies are recorded as they are sent.
class LoopPort : public SvReplyPort {
public:
  struct Reply {
    int32_t cid = 0, status = 0, result = 0;
    std::vector<uint32_t> body;
  };

  Connection& channel() override { return lc_; }
  void reply(int32_t cid, int32_t status, int32_t result) override {
    cur_ = Reply{cid, status, result, {}};
    begin_ = lc_.words().size();
    begun_ = true;
  }
  void reply() override {
    if (!begun_) return;
    std::vector<uint32_t> const w = lc_.words();
    cur_.body.assign(w.begin() + long(begin_), w.end());
    sent.push_back(cur_);
    begun_ = false;
  }
  void getRemainder() override {
    int32_t w = 0;
    while (lc_.wordsLeft() > 0) lc_.popWord(w);
  }
  void clear() override {
    begun_ = false;
    getRemainder();
  }
  void request(std::vector<uint32_t> const& body) {
    lc_.feed(body);
    lc_.clearBad();
    sent.clear();
  }

  std::vector<Reply> sent;

private:
  LoopConnection lc_{253};
  Reply cur_;
  size_t begin_ = 0;
  bool begun_ = false;
};

// Request bodies built with the channel's own encoders.
class Body {
public:
  Body& operator<<(int32_t w) {
    words_.push_back(uint32_t(w));
    return *this;
  }
  Body& operator<<(char const* s) {
    LoopConnection enc(4096);
    enc << String(s);
    for (uint32_t w : enc.words()) words_.push_back(w);
    return *this;
  }
  std::vector<uint32_t> const& words() const { return words_; }

private:
  std::vector<uint32_t> words_;
};

// A reply body read back.
class Reader {
public:
  explicit Reader(std::vector<uint32_t> const& w) { lc_.feed(w); }
  int32_t word() {
    int32_t v = 0;
    lc_ >> v;
    return v;
  }
  std::string text() {
    String s;
    lc_ >> s;
    if (s.isHighest()) return "<highest>";
    return s.isNull() ? std::string() : std::string(toCharPtr(s), size_t(s.length()));
  }
  bool bad() const { return lc_.bad(); }
  int32_t left() const { return lc_.wordsLeft(); }

private:
  LoopConnection lc_{4096};
};

constexpr uint32_t kServer = 0x70000000u;
constexpr int32_t kConnectFlag = 0x40000000;

class RequestsTest : public InProcessTest {
protected:
  void SetUp() override {
    startServer("NextSchemaId\t1.1.1\n");
    ASSERT_EQ(GServObj::nObjects(), 0);
    server_ = std::make_unique<ServerObject>();
    ASSERT_EQ(server_->getId(), kServer);
    SvObject::setPort(&port_);
    Server::installRequests();
  }
  void TearDown() override {
    for (Client*& c : Server::clients) {
      if (c != nullptr) c->setServerLock(false);
      delete c;
      c = nullptr;
    }
    Server::clients.clear();
    while (SvSchema::first() != nullptr) delete SvSchema::first();
    server_.reset();
    SvObject::setPort(nullptr);
    InProcessTest::TearDown();
  }

  // One request as the main loop hands it on; the reply sent, if any.
  std::optional<LoopPort::Reply> send(int32_t cid, uint32_t oid, int32_t msg, Body const& b = Body()) {
    port_.request(b.words());
    Exception::last(Exception(0));
    if (isConnect(msg)) {
      Server::connectClient(cid);
    } else {
      Client* const c = Server::clientOfId(cid);
      GServObj* const o = GServObj::object(oid);
      if (c == nullptr || o == nullptr) {
        Exception const& e = c == nullptr ? static_cast<Exception const&>(InvalidClientId(cid))
                                          : static_cast<Exception const&>(InvalidObjectId(int32_t(oid)));
        port_.reply(cid, -e.code(), -1);
        port_.reply();
      } else {
        o->execute(msg, c);
      }
    }
    if (port_.sent.empty()) return std::nullopt;
    return port_.sent.back();
  }

  Body connectBody(int32_t version, int32_t uid, int32_t stoppable = 0, char const* path = "/usr/bin/demo") {
    Body b;
    b << version << uid << int32_t(getegid()) << path << "-x" << "node1" << "tty5" << stoppable;
    return b;
  }

  // Connects a client of process pid; its id.
  int32_t connect(pid_t pid = getpid(), int32_t stoppable = 0, char const* path = "/usr/bin/demo") {
    auto r = send(int32_t(pid) | kConnectFlag, kServer, DBM_CONNECT,
                  connectBody(Server::kProtocolVersion, int32_t(geteuid()), stoppable, path));
    EXPECT_TRUE(r && r->status == 0);
    return r ? r->result : -1;
  }

  std::optional<LoopPort::Reply> attach(int32_t cid, char const* name, bool create, int32_t kind = 16) {
    Body b;
    b << kind << int32_t(1) << int32_t(create ? 1 : 0) << name;
    if (create) b << "a schema";
    return send(cid, kServer, DBM_ATTACH, b);
  }

  int32_t result(int32_t cid, int32_t msg, Body const& b = Body()) {
    auto r = send(cid, kServer, msg, b);
    return r ? r->result : -999;
  }

  std::string stateBytes() const {
    std::ifstream f(tmp.file("state"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  static int32_t be32(std::string const& s, size_t at) {
    return int32_t(uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
                   uint32_t(uint8_t(s[at + 2])) << 8 | uint32_t(uint8_t(s[at + 3])));
  }

  LoopPort port_;
};

TEST_F(RequestsTest, ConnectChecksVersionAdministratorAndProcess) {
  pid_t const dead = [] {
    pid_t p = fork();
    if (p == 0) _exit(0);
    waitpid(p, nullptr, 0);
    return p;
  }();
  int32_t const me = int32_t(getpid()) | kConnectFlag;
  int32_t const uid = int32_t(geteuid());
  int32_t const gid = int32_t(getegid());
  struct Case {
    char const* what;
    int32_t headerId, version, adminUid, status;
    int32_t claimedUid, claimedGid;  // the identity the Connect claims
  } const cases[] = {
      {"current version", me, 1101, -1, 0, uid, gid},
      {"highest version", me, 9999, -1, 0, uid, gid},
      {"flag bits above the version", me, 1101 | int32_t(0x40000000), -1, 0, uid, gid},
      {"too old", me, 1100, -1, -kExcIncompatibleVersions, uid, gid},
      {"too new", me, 10000, -1, -kExcIncompatibleVersions, uid, gid},
      {"another administrator", me, 1101, uid + 1, -kExcAdminMode, uid, gid},
      {"the administrator", me, 1101, uid, 0, uid, gid},
      {"pid 0 names a process group", kConnectFlag, 1101, -1, -kExcInvalidClientId, uid, gid},
      {"a pid naming no process", int32_t(dead) | kConnectFlag, 1101, -1, -kExcInvalidClientId, uid, gid},
      {"a uid the process does not run under", me, 1101, -1, -kExcInvalidLogin, uid + 1, gid},
      {"a gid the process does not run under", me, 1101, -1, -kExcInvalidLogin, uid, gid + 1},
      {"the administrator's uid claimed by another", me, 1101, uid + 1, -kExcInvalidLogin, uid + 1, gid},
  };
  for (Case const& k : cases) {
    Server::admin_sd = k.adminUid;
    int32_t const before = Server::clientCount();
    Body body;
    body << k.version << k.claimedUid << k.claimedGid << "/usr/bin/demo" << "-x" << "node1" << "tty5" << 0;
    auto r = send(k.headerId, kServer, DBM_CONNECT, body);
    ASSERT_TRUE(r) << k.what;
    EXPECT_EQ(r->cid, k.headerId) << k.what;
    EXPECT_EQ(r->status, k.status) << k.what;
    EXPECT_EQ(Server::clientCount(), before + (k.status == 0 ? 1 : 0)) << k.what;
    if (k.status == 0) {
      EXPECT_EQ(r->result, before) << k.what;
      Client const* c = Server::clientOfId(r->result);
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->pid(), getpid());
      EXPECT_EQ(std::string(toCharPtr(c->proc())), "demo");
    }
    if (k.status == -kExcIncompatibleVersions) {
      Reader rd(r->body);
      EXPECT_EQ(rd.word(), k.version);
      EXPECT_EQ(rd.word(), 1101);
    }
    if (k.status == -kExcAdminMode) {
      EXPECT_EQ(Reader(r->body).text(), std::to_string(uid + 1));
    }
    if (k.status == -kExcInvalidLogin) {
      EXPECT_TRUE(sawWarning("Invalid login of process " + std::to_string(getpid()))) << k.what;
    }
  }
}

// Stop, Shut, SetAttrib and Debug end or reconfigure the service for every
// client: a client that is neither root nor the administrator of -a gets
// NoPrivilege and nothing changes; the administrator uid is served.
TEST_F(RequestsTest, AdministrationIsRefusedToOtherUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "a client of another uid needs a child that can change its uid";
  int32_t const nobody = 65534;
  auto child = [nobody](bool asNobody) {
    pid_t p = fork();
    if (p == 0) {
      if (asNobody && (setgid(gid_t(nobody)) != 0 || setuid(uid_t(nobody)) != 0)) _exit(99);
      pause();
      _exit(0);
    }
    return p;
  };
  pid_t const user = child(true);
  pid_t const worker = child(false);
  // The child must run as nobody before it connects as nobody.
  int32_t u = -1, g = -1;
  for (int i = 0; i < 500 && !(Client::processIds(int32_t(user), u, g) && u == nobody); ++i) usleep(10000);
  Body claim;
  claim << Server::kProtocolVersion << nobody << nobody << "/usr/bin/demo" << "" << "node1" << "tty5" << 0;
  auto made = send(int32_t(user) | kConnectFlag, kServer, DBM_CONNECT, claim);
  ASSERT_TRUE(made && made->status == 0) << (made ? made->status : 0);
  int32_t const n = made->result;
  connect(worker, 1, "/bin/worker");  // stoppable: Shut would signal it
  int32_t const clients = Server::clientCount();
  int32_t const freq = Server::configFile->ckPointFreq();
  int32_t const locks = Server::nProcessLock;
  std::string const runLog = toCharPtr(Server::configFile->runLogFile());
  Body force, shutAll, settings, cpoff;
  force << 1;
  shutAll << "worker";
  settings << freq + 100 << 60 << 20 << 4096 << 64 << 50 << 10 << "" << 0 << 0 << tmp.file("db").c_str() << 256 << 25
           << 1 << 0 << 0 << 0 << runLog.c_str();
  cpoff << "cpoff" << 0;
  struct Case {
    char const* what;
    int32_t msg;
    Body const* body;
  } const cases[] = {
      {"Stop", DBM_STOP, &force},
      {"Shut", DBM_SHUT, &shutAll},
      {"SetAttrib", DBM_SETATTRIB, &settings},
      {"Debug", DBM_DEBUG, &cpoff},
  };
  for (Case const& k : cases) {
    auto r = send(n, kServer, k.msg, *k.body);
    ASSERT_TRUE(r) << k.what;
    EXPECT_EQ(r->status, -kExcNoPrivilege) << k.what;
    EXPECT_EQ(r->result, -1) << k.what;
    EXPECT_EQ(Server::clientCount(), clients) << k.what;
    EXPECT_EQ(Server::configFile->ckPointFreq(), freq) << k.what;
    EXPECT_EQ(Server::nProcessLock, locks) << k.what;
    EXPECT_EQ(waitpid(worker, nullptr, WNOHANG), 0) << k.what << ": the worker was signalled";
  }
  EXPECT_TRUE(stateBytes().empty()) << "a refused Stop took no checkpoint";
  // The administrator of -a is served.
  Server::admin_sd = nobody;
  EXPECT_EQ(result(n, DBM_DEBUG, cpoff), 0);
  EXPECT_EQ(Server::nProcessLock, locks + 1);
  Body cpon;
  cpon << "cpon" << 0;
  EXPECT_EQ(result(n, DBM_DEBUG, cpon), 0);
  EXPECT_EQ(Server::nProcessLock, locks);
  for (pid_t p : {user, worker}) {
    kill(p, SIGKILL);
    waitpid(p, nullptr, 0);
  }
}

TEST_F(RequestsTest, HostileRequestsGetTheirErrorAndTheNextIsAnswered) {
  int32_t const a = connect();
  int32_t const b = connect();
  auto made = attach(b, "other", true);
  ASSERT_TRUE(made && made->status == 0);
  uint32_t const othersSchema = uint32_t(made->result);
  struct Case {
    char const* what;
    int32_t cid;
    uint32_t oid;
    int32_t msg;
    Body body;
    int32_t status, result;
  };
  Body kind5, slash, dots, dot, empty, cut, backslash, bracket, plus, dotted, comma;
  kind5 << 5 << 0 << 0 << "x";
  slash << 16 << 0 << 0 << "a/b";
  dots << 16 << 0 << 1 << ".." << "d";
  dot << 16 << 0 << 1 << "." << "d";
  empty << 16 << 0 << 1 << "" << "d";
  cut << 16;
  // Names that the disk layout's patterns or the configuration's schema list
  // could not hold.
  backslash << 16 << 0 << 1 << "\\" << "d";
  bracket << 16 << 0 << 1 << "a[" << "d";
  plus << 16 << 0 << 1 << "a+b" << "d";
  dotted << 16 << 0 << 1 << "a.b" << "d";
  comma << 16 << 0 << 1 << "a,b:1" << "d";
  Case const cases[] = {
      {"unknown client id", 77, kServer, DBM_GETINFO, Body(), -kExcInvalidClientId, -1},
      {"object id 0", a, 0u, DBM_GETINFO, Body(), -kExcInvalidObjectId, -1},
      {"object id 0x10000000", a, 0x10000000u, DBM_GETINFO, Body(), -kExcInvalidObjectId, -1},
      {"another client's schema", a, othersSchema, DBM_GETTABLES, Body(), -kExcInvalidObjectId, -1},
      {"a message the server lacks", a, kServer, DBM_GETRECORD, Body(), -kExcInvalidMsgOnObject, -1},
      {"attach of kind 5", a, kServer, DBM_ATTACH, kind5, 0, -1},
      {"schema a/b", a, kServer, DBM_ATTACH, slash, 0, -1},
      {"schema ..", a, kServer, DBM_ATTACH, dots, 0, -1},
      {"schema .", a, kServer, DBM_ATTACH, dot, 0, -1},
      {"empty schema name", a, kServer, DBM_ATTACH, empty, 0, -1},
      {"attach cut short", a, kServer, DBM_ATTACH, cut, 0, -1},
      {"schema \\", a, kServer, DBM_ATTACH, backslash, 0, -1},
      {"schema a[", a, kServer, DBM_ATTACH, bracket, 0, -1},
      {"schema a+b", a, kServer, DBM_ATTACH, plus, 0, -1},
      {"schema a.b", a, kServer, DBM_ATTACH, dotted, 0, -1},
      {"schema a,b:1", a, kServer, DBM_ATTACH, comma, 0, -1},
  };
  for (Case const& k : cases) {
    auto r = send(k.cid, k.oid, k.msg, k.body);
    ASSERT_TRUE(r) << k.what;
    EXPECT_EQ(r->status, k.status) << k.what;
    EXPECT_EQ(r->result, k.result) << k.what;
    Body info;
    info << 16;
    auto next = send(a, kServer, DBM_GETINFO, info);
    ASSERT_TRUE(next) << k.what;
    EXPECT_EQ(next->status, 0) << k.what;
    EXPECT_EQ(next->result, 0) << k.what;
  }
  EXPECT_EQ(SvSchema::find(String("..")), nullptr);
  ASSERT_NE(SvSchema::first(), nullptr);
  EXPECT_EQ(SvSchema::first()->next(), nullptr);
}

TEST_F(RequestsTest, GetInfoKinds) {
  int32_t const a = connect();
  auto info = [&](int32_t kind) {
    Body b;
    b << kind;
    return send(a, kServer, DBM_GETINFO, b);
  };
  auto none = info(1);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->result, 0);
  EXPECT_TRUE(none->body.empty());  // no schema: the count alone
  for (int32_t kind : {0, 3, 5, 32, -1}) EXPECT_EQ(info(kind)->result, -1) << kind;
  EXPECT_EQ(info(8)->result, 1);
  EXPECT_EQ(info(16)->result, 0);
  auto settings = info(2);
  EXPECT_EQ(settings->result, 0);
  Reader rd(settings->body);
  EXPECT_EQ(rd.word(), 9);  // the server id first
  ASSERT_TRUE(attach(a, "sales", true));
  ASSERT_TRUE(attach(a, "hr", true));
  auto two = info(1);
  EXPECT_EQ(two->result, 2);
  std::string const names = Reader(two->body).text();
  EXPECT_TRUE(names == "sales\thr" || names == "hr\tsales") << names;
}

TEST_F(RequestsTest, AttachCreatesListsAndDropChecksUse) {
  int32_t const a = connect();
  int32_t const b = connect();
  auto made = attach(a, "demo", true);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->status, 0);
  EXPECT_EQ(Reader(made->body).word(), 3302);
  EXPECT_EQ(attach(b, "demo", true)->result, -1);   // exists already
  EXPECT_EQ(attach(b, "nosuch", false)->result, -1);
  auto again = attach(b, "demo", false);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 0);
  EXPECT_EQ(uint32_t(again->result), uint32_t(made->result));
  Reader rd(again->body);
  EXPECT_EQ(rd.word(), 1101);
  EXPECT_EQ(rd.word(), int32_t(geteuid()));  // the owner, info flag set
  EXPECT_EQ(rd.text(), "a schema");
  Body drop;
  drop << "demo";
  auto busy = send(a, kServer, DBM_DROP, drop);
  EXPECT_EQ(busy->status, -kExcBeingUsed);
  Body detach;
  detach << made->result;
  EXPECT_EQ(result(b, DBM_DETACH, detach), 0);
  EXPECT_EQ(result(b, DBM_DETACH, detach), -1);  // no longer attached
  Body self;
  self << int32_t(kServer);
  EXPECT_EQ(result(b, DBM_DETACH, self), -1);
  EXPECT_EQ(result(a, DBM_DROP, drop), 0);
  EXPECT_EQ(SvSchema::find(String("demo")), nullptr);
  EXPECT_EQ(Server::clientOfId(a)->nObjects(), 0);
  EXPECT_EQ(result(a, DBM_DROP, drop), -1);
  ClientEnv::maxAttachsPerClient = 1;
  ASSERT_EQ(attach(b, "one", true)->status, 0);
  auto full = attach(b, "two", true);
  EXPECT_EQ(full->status, -kExcTooManyAttachs);
  EXPECT_EQ(Reader(full->body).word(), 1);
  EXPECT_EQ(SvSchema::find(String("two")), nullptr);
}

TEST_F(RequestsTest, ClientsInfoLevelsMonitorAndSettings) {
  int32_t const a = connect();
  connect();
  for (int32_t level : {0, 1, 2}) {
    Body b;
    b << level;
    auto r = send(a, kServer, DBM_GETCLIENTSINFO, b);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->result, 2);
    Reader rd(r->body);
    for (int32_t cl = 0; cl < 2; ++cl) {
      EXPECT_EQ(rd.word(), getpid());
      EXPECT_EQ(rd.text(), "tty5");
      rd.text();
      EXPECT_EQ(rd.text(), "demo -x");
      if (level > 0) {
        EXPECT_EQ(rd.text(), "node1");
        rd.text();
        rd.text();
        rd.word();
      }
      if (level > 1) {
        rd.text();
        EXPECT_EQ(rd.word(), 0);
        EXPECT_EQ(rd.word(), cl);
        EXPECT_EQ(rd.word(), int32_t('N'));
      }
    }
    EXPECT_FALSE(rd.bad()) << level;
    EXPECT_EQ(rd.left(), 0) << level;
  }
  auto m = send(a, kServer, DBM_MONITOR);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->result, 0);
  EXPECT_EQ(m->body.size(), 11u);

  std::string const runLog = toCharPtr(Server::configFile->runLogFile());
  auto settings = [&](int32_t freq, std::string const& log) {
    Body set;
    set << freq << 60 << 20 << 4096 << 64 << 50 << 10 << "" << 0 << 0 << tmp.file("db").c_str() << 256 << 25 << 1
        << 0 << 0 << 0 << log.c_str();
    return set;
  };
  EXPECT_EQ(result(a, DBM_SETATTRIB, settings(600, runLog)), 0);
  EXPECT_EQ(Server::configFile->ckPointFreq(), 600);
  EXPECT_EQ(Server::configFile->numLocksPClient(), 64);
  EXPECT_EQ(ClientEnv::locksPerClient, 64);
  EXPECT_EQ(Server::configFile->hkMsgBound(), 25);
  // The run log cannot change while the server runs; the rest still does.
  EXPECT_EQ(result(a, DBM_SETATTRIB, settings(900, "/elsewhere")), -1);
  EXPECT_EQ(Server::configFile->ckPointFreq(), 900);
  Body cut;
  cut << 700;
  EXPECT_EQ(result(a, DBM_SETATTRIB, cut), -1);
  EXPECT_EQ(Server::configFile->ckPointFreq(), 900);  // a cut request changes nothing
}

TEST_F(RequestsTest, ProcessLockDefersCheckpointsAndParityToggles) {
  int32_t const a = connect();
  int32_t const b = connect();
  int32_t const parity = Server::currCP;
  ASSERT_EQ(parity, 1);  // no state file yet
  EXPECT_EQ(result(a, DBM_LOCK), 0);
  EXPECT_EQ(result(a, DBM_LOCK), 0);
  EXPECT_EQ(Server::nProcessLock, 1);  // twice by one client counts once
  Body cp;
  cp << 0;
  EXPECT_EQ(result(b, DBM_CHECKPOINT, cp), parity | 16);
  EXPECT_TRUE(Server::cpTime);
  EXPECT_TRUE(stateBytes().empty());
  EXPECT_FALSE(send(b, kServer, DBM_FREE));  // void, and b holds nothing
  EXPECT_EQ(Server::nProcessLock, 1);
  EXPECT_FALSE(send(a, kServer, DBM_FREE));
  EXPECT_EQ(Server::nProcessLock, 0);
  EXPECT_EQ(result(b, DBM_CHECKPOINT, cp), 0 | 8);
  EXPECT_FALSE(Server::cpTime);
  std::string st = stateBytes();
  ASSERT_GE(st.size(), 92u);
  EXPECT_EQ(be32(st, 4), 0);
  EXPECT_EQ(be32(st, 16), -1);  // not a stop
  EXPECT_EQ(result(b, DBM_CHECKPOINT, cp), 1 | 8);
  EXPECT_EQ(be32(stateBytes(), 4), 1);
  Server::corrupt = true;
  EXPECT_EQ(result(b, DBM_CHECKPOINT, cp), 1 | 2);  // refused, nothing written
  EXPECT_EQ(be32(stateBytes(), 4), 1);
  cp = Body();
  cp << 2;  // forced
  EXPECT_EQ(result(b, DBM_CHECKPOINT, cp), 0 | 8);
  EXPECT_FALSE(Server::corrupt);
}

TEST_F(RequestsTest, StopRefusedWithOthersThenStopsWithParityZeroAndTheUser) {
  int32_t const a = connect();
  int32_t const b = connect();
  Body soft;
  soft << 0;
  EXPECT_EQ(result(a, DBM_STOP, soft), -1);
  EXPECT_EQ(Server::clientCount(), 2);
  EXPECT_EQ(result(b, DBM_DISCONNECT), -999);  // no reply of its own
  EXPECT_EQ(Server::clientCount(), 1);
  auto r = send(a, kServer, DBM_STOP, soft);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0);
  EXPECT_EQ(r->result, 0);
  EXPECT_EQ(Server::clientCount(), 0);
  std::string const st = stateBytes();
  ASSERT_GE(st.size(), 20u);
  EXPECT_EQ(st.substr(0, 8), std::string("\xCA\xBE\x90\x10\x00\x00\x00\x00", 8));
  EXPECT_EQ(be32(st, 16), int32_t(geteuid()));
  EXPECT_EQ(Server::currCP, 0);
}

TEST_F(RequestsTest, StopReleasesTheCallersLockAndTransaction) {
  int32_t const a = connect();
  ASSERT_EQ(result(a, DBM_LOCK), 0);
  ASSERT_TRUE(Server::beginTrans(Server::clientOfId(a), -1, 0));
  EXPECT_EQ(Server::activeTrans, 1);
  Body force;
  force << 1;
  EXPECT_EQ(result(a, DBM_STOP, force), 0);
  EXPECT_EQ(Server::nProcessLock, 0);
  EXPECT_EQ(Server::activeTrans, 0);
  EXPECT_EQ(Server::clientCount(), 0);
}

TEST_F(RequestsTest, ForcedStopOfACorruptServerWritesItsFinalCheckpoint) {
  ASSERT_EQ(Server::currCP, 1);  // one checkpoint only: the final one
  Server::corrupt = true;
  Body soft, force;
  soft << 0;
  force << 1;
  int32_t const b = connect();
  EXPECT_EQ(result(b, DBM_STOP, soft), -1);  // corrupt: refused and removed
  EXPECT_EQ(Server::clientOfId(b), nullptr);
  EXPECT_TRUE(stateBytes().empty());
  int32_t const a = connect();
  EXPECT_EQ(result(a, DBM_STOP, force), 0);
  std::string const st = stateBytes();
  ASSERT_GE(st.size(), 20u);
  EXPECT_EQ(be32(st, 4), 0);
  EXPECT_EQ(be32(st, 16), int32_t(geteuid()));
}

TEST_F(RequestsTest, ShutSignalsStoppableClientsButNoZombie) {
  auto child = [] {
    pid_t p = fork();
    if (p == 0) {
      pause();
      _exit(0);
    }
    return p;
  };
  pid_t const one = child();
  pid_t const two = child();
  connect(one, 1, "/bin/worker");
  int32_t const z = connect(two, 1, "/bin/worker");
  int32_t const me = connect(getpid(), 0, "/bin/worker");
  Server::clientOfId(z)->chgState(Client::STATE_ZOMBIE);
  Body other, mine;
  other << "other";
  mine << "worker";
  EXPECT_EQ(result(me, DBM_SHUT, other), 0);
  EXPECT_EQ(result(me, DBM_SHUT, mine), 1);
  int status = 0;
  // The signalled child ends; one that was not is killed after a while, so
  // that a failing case never leaves a process behind.
  pid_t ended = 0;
  for (int i = 0; i < 1000 && ended == 0; ++i) {
    ended = waitpid(one, &status, WNOHANG);
    if (ended == 0) usleep(10000);
  }
  if (ended == 0) {
    kill(one, SIGKILL);
    waitpid(one, &status, 0);
  }
  EXPECT_EQ(ended, one);
  EXPECT_EQ(waitpid(two, &status, WNOHANG), 0);  // the zombie client was spared
  kill(two, SIGKILL);
  waitpid(two, &status, 0);
  EXPECT_FALSE(Server::clientOfId(z)->heartBeat());  // its process is gone
  EXPECT_TRUE(Server::clientOfId(me)->heartBeat());
}

// A pid that names a process started after the Connect is another program
// now: the client counts as dead. An unknown start time is not checked.
TEST_F(RequestsTest, PidReusedAfterConnectCountsDead) {
  Client* const c = Server::clientOfId(connect());
  ASSERT_NE(c, nullptr);
  int64_t const start = c->processStart();
  ASSERT_GE(start, 0);
  struct Case {
    int64_t recorded;
    bool alive;
  } const cases[] = {{start, true}, {start - 1, false}, {start + 1, false}, {-1, true}};
  for (Case const& k : cases) {
    c->setProcessStart(k.recorded);
    EXPECT_EQ(c->heartBeat(), k.alive) << k.recorded - start;
  }
  c->setProcessStart(start);
}

TEST_F(RequestsTest, AbortedTransactionAnswersItsCauseAndVoidRequestsNothing) {
  int32_t const a = connect();
  Client* const c = Server::clientOfId(a);
  ASSERT_TRUE(Server::beginTrans(c, -1, 0));
  c->abortTrans(DeadLock(String("victim")));
  auto r = send(a, kServer, DBM_MONITOR);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, kExcDeadLock);
  EXPECT_EQ(Reader(r->body).text(), "victim");
  Body info;
  info << 8;
  EXPECT_EQ(result(a, DBM_GETINFO, info), 0);  // ends a transaction: served
  // EndTransact ends the aborted transaction with its cause.
  Body end;
  end << 0;
  EXPECT_EQ(send(a, kServer, DBM_ENDTRANSACT, end)->status, kExcDeadLock);
  EXPECT_FALSE(c->hasTrans());
  EXPECT_FALSE(send(a, kServer, DBM_FREE));
}

TEST_F(RequestsTest, TransactionsTimeOutAndLostOnesMarkTheServerCorrupt) {
  int32_t const a = connect();
  Client* const c = Server::clientOfId(a);
  ClientEnv::transTimeOut = 5;
  ASSERT_TRUE(Server::beginTrans(c, -1, 0));
  EXPECT_EQ(c->transNum(), 1);
  Server::timeStamp = TimeStamp(Server::timeStamp.time() + 4);
  EXPECT_TRUE(c->heartBeat());
  EXPECT_FALSE(c->isZombie());
  Server::timeStamp = TimeStamp(Server::timeStamp.time() + 2);
  EXPECT_TRUE(c->heartBeat());
  EXPECT_TRUE(c->isZombie());
  EXPECT_EQ(c->abortionCause().code(), kExcZombieClient);

  // A transaction that voted waits for its end however long it takes.
  int32_t const v = connect();
  Client* const voter = Server::clientOfId(v);
  ASSERT_TRUE(Server::beginTrans(voter, -1, 0));
  voter->setTransLeader("elsewhere", TimeStamp());
  voter->readyToEnd();
  Server::timeStamp = TimeStamp(Server::timeStamp.time() + 60);
  EXPECT_TRUE(voter->heartBeat());
  EXPECT_FALSE(voter->isZombie());
  EXPECT_FALSE(voter->transAborted());
  voter->delTrans();
  --Server::activeTrans;

  int32_t const b = connect();
  ASSERT_TRUE(Server::beginTrans(Server::clientOfId(b), -1, 0));
  EXPECT_EQ(Server::clientOfId(b)->transNum(), 3);
  Server::corrupt = false;
  Server::delClient(Server::clientOfId(b));  // a sound transaction without a journal
  EXPECT_TRUE(Server::corrupt);
  EXPECT_EQ(Server::activeTrans, 0);
}

TEST_F(RequestsTest, VersionNumbersFromUsers) {
  Server::currVersion = 3;
  struct Case {
    int32_t in;
    bool ok;
    int32_t out;
  } const cases[] = {{0, true, -1}, {4, true, -1}, {2, true, 1}, {5, false, 5},
                     {-1, true, 2}, {-3, true, 0}, {-4, false, -4}};
  for (Case const& k : cases) {
    int32_t v = k.in;
    EXPECT_EQ(Server::checkVersion(v), k.ok) << k.in;
    EXPECT_EQ(v, k.out) << k.in;
  }
}

}  // namespace

namespace {

TEST_F(RequestsTest, DataFilesListTablesStateAndConfiguration) {
  int32_t const a = connect();
  ASSERT_TRUE(attach(a, "demo", true));
  Body b;
  b << (1 | 2 | 4 | 8);
  auto r = send(a, kServer, DBM_GETDATAFILES, b);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->result, 0);
  Reader rd(r->body);
  EXPECT_EQ(rd.word(), 0);
  EXPECT_EQ(rd.word(), Server::configFile->serverOptions());
  std::vector<std::string> texts;
  while (rd.left() > 0 && !rd.bad()) texts.push_back(rd.text());
  EXPECT_FALSE(rd.bad());
  auto has = [&](std::string const& t) { return std::find(texts.begin(), texts.end(), t) != texts.end(); };
  EXPECT_TRUE(has("$class.tab"));
  EXPECT_TRUE(has(tmp.file("db/demo")) || has(tmp.file("db") + "/demo")) << texts.size();
  EXPECT_TRUE(has(tmp.file("state")));
  EXPECT_TRUE(has("<highest>"));
  ASSERT_GE(texts.size(), 1u);
  EXPECT_EQ(texts.back(), "");  // the journal part: none
}

}  // namespace
