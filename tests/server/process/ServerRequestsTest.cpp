// The server object's requests against a real server process: Connect,
// GetInfo, Attach, the process lock with CheckPoint and the state file's
// parity, a hostile request followed by a sound one, administrator mode,
// SetAttrib, Drop and Stop.
#include "ChildRun.h"
#include "RawClient.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <zfound/Exception.h>

#include <gtest/gtest.h>

#include <grp.h>

#include <cstdio>
#include <functional>
#include <fstream>
#include <iterator>
#include <sstream>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int32_t kServer = 0x70000000;

int32_t parityInStateFile(std::string const& path) {
  std::ifstream f(path, std::ios::binary);
  std::string const s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (s.size() < 8) return -1;
  return int32_t(uint8_t(s[7]));
}

std::vector<uint32_t> words(std::initializer_list<int32_t> w) {
  std::vector<uint32_t> out;
  for (int32_t v : w) out.push_back(uint32_t(v));
  return out;
}

TEST(ServerProcessRequests, ConnectLockCheckpointAndStop) {
  if (geteuid() != 0) GTEST_SKIP() << "the server runs as root";
  zftest::TestServer srv;
  ASSERT_TRUE(srv.start()) << srv.log();
  zftest::RawClient a(srv.serverId());
  ASSERT_TRUE(a.ok());
  zftest::RawReply r = a.connect(1100);
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_LT(r.status, 0);
  r = a.connect();
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.status, 0);
  a.setClientId(r.result);

  r = a.request(kServer, 6, words({1}));  // GetInfo 1, no schema
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(r.body.empty());

  std::vector<uint32_t> att = words({16, 0, 1});
  for (uint32_t w : zftest::RawClient::text("sales")) att.push_back(w);
  for (uint32_t w : zftest::RawClient::text("a schema")) att.push_back(w);
  r = a.request(kServer, 0, att);
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.status, 0);
  ASSERT_FALSE(r.body.empty());
  EXPECT_EQ(r.body[0], 3302u);

  r = a.request(0x10000000, 6, words({16}));  // an invalid object id
  ASSERT_TRUE(r.ok);
  EXPECT_LT(r.status, 0);
  r = a.request(kServer, 12);  // a message the server lacks
  ASSERT_TRUE(r.ok);
  EXPECT_LT(r.status, 0);
  r = a.request(kServer, 6, words({1}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 1);

  r = a.request(kServer, 2);  // Lock
  ASSERT_TRUE(r.ok);
  r = a.request(kServer, 27, words({0}));
  ASSERT_TRUE(r.ok);
  int32_t const parity = r.result & 1;
  EXPECT_EQ(r.result & 16, 16);
  ASSERT_TRUE(a.send(kServer, 3));  // Free: void, no reply
  r = a.request(kServer, 27, words({0}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, (parity ^ 1) | 8);
  EXPECT_EQ(parityInStateFile(srv.stateFile()), parity ^ 1);

  zftest::RawClient b(srv.serverId());
  zftest::RawReply rb = b.connect();
  ASSERT_TRUE(rb.ok);
  b.setClientId(rb.result);
  r = a.request(kServer, 26, words({0}));  // Stop, force 0, another client
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, -1);
  ASSERT_TRUE(b.send(kServer, 9));  // Disconnect
  r = a.request(kServer, 26, words({0}));
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(srv.wait(), 0) << srv.log();
  EXPECT_EQ(parityInStateFile(srv.stateFile()), 0);
  EXPECT_FALSE(srv.ipcExists());
}

// Everything `cmd` prints on its standard output.
std::string outputOf(char const* cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd, "r")) {
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

std::string hexKey(int32_t id, int what) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", unsigned((uint32_t(id) << 8) | uint32_t(what)));
  return buf;
}

// The perms column (the fourth) of the ipcs line of `key`; "" when absent.
std::string permsOf(std::string const& listing, std::string const& key) {
  size_t at = listing.find(key);
  if (at == std::string::npos) return "";
  std::istringstream line(listing.substr(at, listing.find('\n', at) - at));
  std::string k, id, owner, perms;
  line >> k >> id >> owner >> perms;
  return perms;
}

// A running server shows its three queues and its semaphore set under the
// keys of its ServerId; GetInfo answers the kinds it knows and -1 for the
// others.
TEST(ServerProcessRequests, IpcObjectsAndGetInfoKinds) {
  if (geteuid() != 0) GTEST_SKIP() << "the server runs as root";
  zftest::TestServer srv;
  ASSERT_TRUE(srv.start()) << srv.log();
  // Listed with their modes: queues 666 for every local client, the
  // semaphore set 644 (only root raises the stop flag).
  std::string const queues = outputOf("ipcs -q");
  for (int w : {'s', 'c', 'r'}) EXPECT_EQ(permsOf(queues, hexKey(srv.serverId(), w)), "666") << char(w);
  EXPECT_EQ(permsOf(outputOf("ipcs -s"), hexKey(srv.serverId(), 0)), "644");

  zftest::RawClient a(srv.serverId());
  ASSERT_TRUE(a.ok());
  zftest::RawReply r = a.connect();
  ASSERT_TRUE(r.ok) << srv.log();
  ASSERT_EQ(r.status, 0);
  a.setClientId(r.result);
  struct Case {
    std::vector<uint32_t> args;
    int32_t result;
  } const cases[] = {
      {words({16}), 0},      {words({8}), 1},       {words({4, 0, 0}), -1}, {words({0}), -1},
      {words({3}), -1},      {words({5}), -1},
  };
  for (Case const& c : cases) {
    r = a.request(kServer, 6, c.args);
    ASSERT_TRUE(r.ok) << c.args[0] << srv.log();
    EXPECT_EQ(r.result, c.result) << c.args[0];
  }
  r = a.request(kServer, 6, words({2}));
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.result, 0);
  ASSERT_FALSE(r.body.empty());
  EXPECT_EQ(int32_t(r.body[0]), srv.serverId());

  // GetClientsInfo: per client 4, 8 or 12 fields by the level asked.
  struct Level {
    int32_t level;
    char const* fields;  // i: a word, t: a text
  } const levels[] = {{0, "ittt"}, {1, "itttttti"}, {2, "ittttttitiii"}};
  for (Level const& l : levels) {
    r = a.request(kServer, 10, words({l.level}));
    ASSERT_TRUE(r.ok) << l.level << srv.log();
    EXPECT_EQ(r.result, 1) << l.level;
    ASSERT_FALSE(r.body.empty());
    EXPECT_EQ(int32_t(r.body[0]), int32_t(getpid()));
    size_t at = 0;
    for (char const* f = l.fields; *f && at < r.body.size(); ++f) {
      uint32_t const w = r.body[at++];
      if (*f == 't' && w != 0xffffffffu) at += (w + 3) / 4;
    }
    EXPECT_EQ(at, r.body.size()) << l.level;
  }

  // Monitor: the time and ten counters; Drop of a schema that does not
  // exist is refused.
  r = a.request(kServer, 35);
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body.size(), 11u);
  r = a.request(kServer, 21, zftest::RawClient::text("nosuch"));
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_TRUE(r.result == -1 || r.status < 0) << r.result;

  r = a.request(kServer, 26, words({1}));  // Stop
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(srv.wait(), 0) << srv.log();
  EXPECT_FALSE(srv.ipcExists());
}

// Runs `body` in a child that first takes uid and gid `id` for real.
zftest::RunResult asUser(uint32_t id, std::function<int()> const& body) {
  return zftest::runInChild([&]() {
    if (setgroups(0, nullptr) != 0 || setgid(gid_t(id)) != 0 || setuid(uid_t(id)) != 0) return 99;
    return body();
  });
}

// Under -a 1000 only a process of uid 1000 connects: a real process of uid
// 500, and root, get AdminMode naming 1000 and no client is made; the
// administrator's Stop ends the server.
TEST(ServerProcessRequests, AdministratorModeServesOnlyItsUid) {
  if (geteuid() != 0) GTEST_SKIP() << "the server runs as root";
  zftest::TestServer srv;
  ASSERT_TRUE(srv.start({"-a", "1000"})) << srv.log();
  int32_t const id = srv.serverId();
  auto refusedAs = [id](uint32_t uid) {
    return asUser(uid, [id]() {
      zftest::RawClient c(id);
      ZF_CHILD_CHECK(c.ok());
      zftest::RawReply r = c.connect();
      ZF_CHILD_CHECK(r.ok);
      ZF_CHILD_CHECK(r.status == -kExcAdminMode);
      ZF_CHILD_CHECK(r.result == -1);
      // The error's field: the administrator's uid as text.
      ZF_CHILD_CHECK(r.body == zftest::RawClient::text("1000"));
      return 0;
    });
  };
  zftest::RunResult r = refusedAs(500);
  EXPECT_EQ(r.status, 0) << r.err << srv.log();
  zftest::RawClient root(id);
  zftest::RawReply rr = root.connect();
  ASSERT_TRUE(rr.ok) << srv.log();
  EXPECT_EQ(rr.status, -kExcAdminMode);
  EXPECT_TRUE(srv.running());

  r = asUser(1000, [id]() {
    zftest::RawClient c(id);
    zftest::RawReply cr = c.connect();
    ZF_CHILD_CHECK(cr.ok && cr.status == 0);
    zftest::RawReply info = c.request(kServer, 10, words({0}));  // GetClientsInfo
    ZF_CHILD_CHECK(info.ok && info.result == 1);
    zftest::RawReply stop = c.request(kServer, 26, words({0}));
    ZF_CHILD_CHECK(stop.ok && stop.status == 0 && stop.result == 0);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err << srv.log();
  EXPECT_EQ(srv.wait(), 0) << srv.log();
  EXPECT_FALSE(srv.ipcExists());
}

// The fields of a reply body by a pattern: 'i' one word, 't' a String.
std::vector<std::vector<uint32_t>> fields(std::vector<uint32_t> const& body, char const* pattern) {
  std::vector<std::vector<uint32_t>> out;
  size_t at = 0;
  for (char const* f = pattern; *f != '\0' && at < body.size(); ++f) {
    size_t n = 1;
    if (*f == 't' && body[at] != 0xffffffffu) n += (body[at] + 3) / 4;
    if (at + n > body.size()) break;
    out.emplace_back(body.begin() + long(at), body.begin() + long(at + n));
    at += n;
  }
  return out;
}

// GetInfo 2's fields, and the SetAttrib body made of them (its order).
char const kInfo2[] = "itiiiiiiitiittiiiiiitiii";
std::vector<uint32_t> settingsOf(std::vector<std::vector<uint32_t>> const& info, int32_t ckPointFreq) {
  std::vector<uint32_t> body = {uint32_t(ckPointFreq)};
  for (size_t i : {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15, 16, 17, 18, 19, 20})
    body.insert(body.end(), info[i].begin(), info[i].end());
  return body;
}

// SetAttrib and Drop against the live server: a setting changes and shows
// in GetInfo 2; a schema the client made is dropped and no longer listed.
TEST(ServerProcessRequests, SetAttribAndDropOnTheLiveServer) {
  if (geteuid() != 0) GTEST_SKIP() << "the server runs as root";
  zftest::TestServer srv;
  ASSERT_TRUE(srv.start()) << srv.log();
  zftest::RawClient a(srv.serverId());
  ASSERT_EQ(a.connect().status, 0) << srv.log();
  zftest::RawReply r = a.request(kServer, 6, words({2}));
  ASSERT_TRUE(r.ok) << srv.log();
  std::vector<std::vector<uint32_t>> info = fields(r.body, kInfo2);
  ASSERT_EQ(info.size(), 24u);
  int32_t const freq = int32_t(info[2][0]);
  r = a.request(kServer, 33, settingsOf(info, freq + 77));
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 0) << srv.log();
  r = a.request(kServer, 6, words({2}));
  ASSERT_TRUE(r.ok);
  std::vector<std::vector<uint32_t>> after = fields(r.body, kInfo2);
  ASSERT_EQ(after.size(), 24u);
  EXPECT_EQ(int32_t(after[2][0]), freq + 77);
  for (size_t i = 3; i < after.size(); ++i) EXPECT_EQ(after[i], info[i]) << "field " << i;
  // A cache size far beyond any real use is refused, and nothing changes.
  std::vector<std::vector<uint32_t>> huge = after;
  huge[14] = {0x7fffffffu};  // CacheSize, KB
  r = a.request(kServer, 33, settingsOf(huge, freq + 77));
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.result, -1);
  r = a.request(kServer, 6, words({2}));
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(fields(r.body, kInfo2), after);

  std::vector<uint32_t> att = words({16, 0, 1});
  for (uint32_t w : zftest::RawClient::text("sales")) att.push_back(w);
  for (uint32_t w : zftest::RawClient::text("")) att.push_back(w);
  r = a.request(kServer, 0, att);
  ASSERT_TRUE(r.ok && r.status == 0) << srv.log();
  EXPECT_EQ(a.request(kServer, 6, words({1})).result, 1);
  r = a.request(kServer, 21, zftest::RawClient::text("sales"));  // Drop
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 0);
  r = a.request(kServer, 6, words({1}));
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(r.body.empty());
  EXPECT_EQ(a.request(kServer, 21, zftest::RawClient::text("sales")).result, -1);
  EXPECT_EQ(a.request(kServer, 26, words({0})).result, 0);
  EXPECT_EQ(srv.wait(), 0) << srv.log();
}


// GetClientsInfo over many clients: a reply longer than one part reads back
// whole, every client's twelve fields at level 2, each live pid listed once.
TEST(ServerProcessRequests, ClientsInfoOfManyClientsReadsBackWhole) {
  if (geteuid() != 0) GTEST_SKIP() << "the server runs as root";
  zftest::TestServer srv;
  ASSERT_TRUE(srv.start()) << srv.log();
  int32_t const id = srv.serverId();
  constexpr int kChildren = 64;
  int hold[2];
  ASSERT_EQ(::pipe(hold), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  std::set<int32_t> pids;
  for (int i = 0; i < kChildren; ++i) {
    pid_t const pid = ::fork();
    if (pid == 0) {
      ::close(hold[1]);
      ::close(ready[0]);
      zftest::RawClient c(id);
      char const ok = (c.ok() && c.connect().status == 0) ? 'y' : 'n';
      if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
      char b;
      while (::read(hold[0], &b, 1) > 0) {
      }
      ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    pids.insert(int32_t(pid));
  }
  ::close(hold[0]);
  ::close(ready[1]);
  int connected = 0;
  for (int i = 0; i < kChildren; ++i) {
    char b = 'n';
    if (::read(ready[0], &b, 1) != 1) break;
    if (b == 'y') ++connected;
  }
  ::close(ready[0]);
  EXPECT_EQ(connected, kChildren) << srv.log();

  zftest::RawClient a(id);
  ASSERT_TRUE(a.ok() && a.connect().status == 0) << srv.log();
  pids.insert(int32_t(getpid()));
  zftest::RawReply r = a.request(kServer, 10, words({2}), 60);
  ::close(hold[1]);  // the children end
  for (int i = 0; i < kChildren; ++i) ::wait(nullptr);
  ASSERT_TRUE(r.ok) << srv.log();
  EXPECT_EQ(r.result, kChildren + 1);
  std::set<int32_t> listed;
  size_t at = 0;
  int records = 0;
  while (at < r.body.size()) {
    listed.insert(int32_t(r.body[at]));
    for (char const* f = "ittttttitiii"; *f; ++f) {
      ASSERT_LT(at, r.body.size()) << "record " << records << " cut short";
      uint32_t const w = r.body[at++];
      if (*f == 't' && w != 0xffffffffu) at += (w + 3) / 4;
    }
    ++records;
  }
  EXPECT_EQ(at, r.body.size());
  EXPECT_EQ(records, kChildren + 1);
  EXPECT_EQ(listed, pids);
}

}  // namespace
