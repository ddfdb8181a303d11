// omdbtorture SECONDS [SEED]: a server under load while its clients are
// killed with SIGKILL.
//
// The driver starts a journalled server in a temporary directory and makes
// schema "torture" with two tables (raw protocol, as the library writes it):
//   acct: id (int, unique index "pk"), amount (int); kAccounts rows of
//         kStart each, so the total is kAccounts * kStart;
//   seqs: cli (int), seq (int), unique index "pk" on both.
// It keeps kClients (or TORTURE_CLIENTS) client processes (this program, "client" mode, on the
// server-client library) busy. Each client does, at random: plain reads by
// key, a cursor scan of acct, a locking read that waits followed by its
// release, and transactions that lock two accounts in ascending order, move
// an amount between them and add the row (client, sequence) — written to the
// client's own file once EndTransaction reported the commit.
// States of the driver: running (once a second it kills a random client and
// starts another; a client that ends by itself is a failure and is replaced)
// -> draining (every client killed; it waits for the server to drop the dead
// clients) -> checking -> stopped and restarted -> checking again -> done.
// Each check: the server answers, lists no client whose process is gone,
// every account can be locked without waiting (no lock left), the total is
// unchanged, and every sequence a client saw committed is present.
// The last line is "torture: N committed, K killed, L lost"; the status is
// 0 only when L is 0 and every check held. Every process it started is
// killed by its id, the server's queues and semaphores are removed
// (TestServer) and the directory is deleted (TempDir), also after INT/TERM.
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/MsgHeader.h>
#include <zfound/Portable.h>
#include <zfound/Process.h>
#include <zfound/String.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>

#include "RawClient.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using zftest::RawClient;
using zftest::RawReply;

constexpr int32_t kServerObject = 0x70000000;
constexpr int32_t kAccounts = 20;
constexpr int32_t kStart = 1000;
constexpr int32_t kTotal = kAccounts * kStart;
constexpr int kClients = 64;
constexpr int32_t kInt = 10;      // server field type of an int
constexpr int32_t kExact = 0x80;  // exact key search
constexpr char const* kServer = "tsrv";

volatile sig_atomic_t interrupted = 0;

// Request words written as the client library writes them.
class Body {
public:
  Body& w(int32_t v) {
    con_ << v;
    return *this;
  }
  Body& s(char const* v) {
    con_ << String(v);
    return *this;
  }
  Body& e() {
    con_ << Expr();
    return *this;
  }
  std::vector<uint32_t> words() const { return con_.words(); }

private:
  LoopConnection con_{4096};
};

bool ok(RawReply const& r) { return r.ok && r.status == 0; }

// ---- client ---------------------------------------------------------------------------------

struct Tab {
  int32_t h = -1;
  char* buf = nullptr;
  int32_t off1 = 0, off2 = 0;
  bool open(int32_t schema, char const* name) {
    h = FindDbTable(schema, name);
    if (h <= 0 || !_GetTabPtr(h)) return false;  // attaches the table
    buf = _GetTabBuff(h);
    s_field* f1 = _GetFldPtr(h | 1);
    s_field* f2 = _GetFldPtr(h | 2);
    if (!buf || !f1 || !f2) return false;
    off1 = f1->d.offset;
    off2 = f2->d.offset;
    return true;
  }
  void set(int32_t a, int32_t b) {
    InitRecord(h);
    stlong(a, buf + off1);
    stlong(b, buf + off2);
  }
  int32_t first() const { return ldlong(buf + off1); }
  int32_t second() const { return ldlong(buf + off2); }
};

[[noreturn]] void fail(int32_t cli, char const* what, int32_t r) {
  std::fprintf(stderr, "client %d: %s gave %d\n", cli, what, r);
  std::_Exit(4);
}

// Reads account id (lockflags as GetRecord: 1 lock and wait); its amount.
int32_t readAccount(Tab& acct, int32_t cli, int32_t id, int32_t lockflags) {
  acct.set(id, 0);
  int32_t r = GetRecord(acct.h, 1, lockflags, 0);
  if (r <= 0 || acct.first() != id) fail(cli, lockflags ? "a locking read" : "a read", r);
  return acct.second();
}

int client(int32_t cli, char const* logPath, uint32_t seed) {
  int32_t const schema = OpenSchema((std::string(kServer) + "/torture").c_str(), 0);
  if (schema < 0) fail(cli, "OpenSchema", schema);
  Tab acct, seqs;
  if (!acct.open(schema, "acct") || !seqs.open(schema, "seqs")) fail(cli, "FindDbTable", -1);
  int const log = ::open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (log < 0) fail(cli, "open of the log", -1);
  std::mt19937 rnd(seed);
  for (int32_t seq = 1;;) {
    uint32_t const op = rnd() % 10;
    int32_t const a = 1 + int32_t(rnd() % kAccounts);
    if (op < 2) {
      readAccount(acct, cli, a, 0);
    } else if (op == 2) {
      int32_t cur = CreateCursor(acct.h, 0);
      if (cur <= 0) fail(cli, "CreateCursor", cur);
      int32_t n = 0;
      while (FetchCursor(cur) >= 0) ++n;
      if (n != kAccounts) fail(cli, "a cursor scan's count", n);
      DeleteCursor(cur);
    } else if (op == 3) {
      readAccount(acct, cli, a, 1);
      acct.set(a, 0);
      FreeRecord(acct.h, 1, 0);
    } else {
      int32_t b = 1 + int32_t(rnd() % (kAccounts - 1));
      if (b >= a) ++b;
      int32_t const lo = a < b ? a : b, hi = a < b ? b : a;
      int32_t const x = int32_t(rnd() % 50);
      BeginTransaction();
      int32_t const amLo = readAccount(acct, cli, lo, 1);
      int32_t const amHi = readAccount(acct, cli, hi, 1);
      acct.set(lo, amLo - x);
      int32_t r = PutRecord(acct.h);
      if (r < 0) fail(cli, "PutRecord", r);
      acct.set(hi, amHi + x);
      if ((r = PutRecord(acct.h)) < 0) fail(cli, "PutRecord", r);
      seqs.set(cli, seq);
      if ((r = AddRecord(seqs.h)) < 0) fail(cli, "AddRecord", r);
      if ((r = EndTransaction()) != 1) fail(cli, "EndTransaction", r);
      std::string const line = std::to_string(seq) + "\n";
      if (::write(log, line.data(), line.size()) != ssize_t(line.size())) fail(cli, "write of the log", -1);
      ++seq;
    }
  }
}

// Writes every row of seqs as "cli seq" lines to `out` (a cursor walk, a
// block of rows a request); 0 when done.
int dump(char const* out) {
  int32_t const schema = OpenSchema((std::string(kServer) + "/torture").c_str(), 0);
  Tab seqs;
  if (schema < 0 || !seqs.open(schema, "seqs")) return 3;
  FILE* f = std::fopen(out, "w");
  if (!f) return 3;
  int32_t cur = CreateCursor(seqs.h, 0);
  if (cur <= 0) return 3;
  while (FetchCursor(cur) >= 0) std::fprintf(f, "%d %d\n", seqs.first(), seqs.second());
  DeleteCursor(cur);
  CloseAllSchemas();
  return std::fclose(f) == 0 ? 0 : 3;
}

// ---- driver ---------------------------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  int32_t cli = 0;
};

std::string self() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// Starts client `cli` writing its commits to dir/c<cli>.log.
Child spawn(std::string const& prog, zftest::TempDir& dir, int32_t cli, uint32_t seed) {
  std::string const logPath = dir.file("c" + std::to_string(cli) + ".log");
  std::string const errPath = dir.file("c" + std::to_string(cli) + ".err");
  std::string const cs = std::to_string(cli), ss = std::to_string(seed);
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::close(fd);
    }
    char const* args[] = {prog.c_str(), "client", cs.c_str(), logPath.c_str(), ss.c_str(), nullptr};
    ::execv(prog.c_str(), const_cast<char* const*>(args));
    std::_Exit(127);
  }
  return Child{pid, cli};
}

std::string readFile(std::string const& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void field(Body& b, char const* name) { b.s(name).s("").w(0).w(kInt).w(0).w(0).w(0).w(0).e().s("").s(""); }

// Makes the schema, its tables and indexes and the accounts; true when done.
bool makeTables(RawClient& a) {
  RawReply r = a.request(kServerObject, DBM_ATTACH, Body().w(16).w(0).w(1).s("torture").s("torture").words(), 60);
  if (!ok(r)) return false;
  int32_t const schema = r.result;
  int32_t tabs[2] = {0, 0};
  char const* names[2][3] = {{"acct", "id", "amount"}, {"seqs", "cli", "seq"}};
  for (int t = 0; t < 2; ++t) {
    Body b;
    b.w(32).w(0).w(1).s(names[t][0]).s("").w(0).w(0).w(2);
    field(b, names[t][1]);
    field(b, names[t][2]);
    r = a.request(schema, DBM_ATTACH, b.words(), 60);
    if (!ok(r)) return false;
    tabs[t] = r.result;
  }
  if (!ok(a.request(tabs[0], DBM_CREATE, Body().s("pk").w(0).w(1).w(0).w(0).w(0).w(0).words())) ||
      !ok(a.request(tabs[1], DBM_CREATE, Body().s("pk").w(0).w(2).w(0).w(0).w(0).w(0).w(1).w(0).w(0).w(0).words())))
    return false;
  for (int32_t id = 1; id <= kAccounts; ++id)
    if (!a.send(tabs[0], DBM_ADDRECORD, Body().w(1).w(id).w(kStart).words())) return false;
  RawReply card = a.request(tabs[0], DBM_CARDINAL);
  return ok(card) && card.result == kAccounts && ok(a.request(kServerObject, DBM_CHECKPOINT, {0}, 60));
}

// Attaches schema and table `name` for a raw client; the table's object id
// or 0.
int32_t attach(RawClient& a, char const* name) {
  RawReply r = a.request(kServerObject, DBM_ATTACH, Body().w(16).w(0).w(0).s("torture").words(), 60);
  if (!ok(r)) return 0;
  r = a.request(r.result, DBM_ATTACH, Body().w(32).w(0).w(0).s(name).w(0).words(), 60);
  return ok(r) ? r.result : 0;
}

// The number of clients the server lists; -1 when it does not answer.
int32_t clientCount(RawClient& a) {
  // Its housekeeping may first roll back many dead clients' transactions.
  RawReply r = a.request(kServerObject, DBM_GETCLIENTSINFO, Body().w(0).words(), 300);
  return ok(r) ? r.result : -1;
}

// One check of the server; `why` collects what failed, `missing` the
// committed sequences not found.
bool check(zftest::TestServer& sv, std::map<int32_t, std::vector<int32_t>> const& committed,
           std::set<std::pair<int32_t, int32_t>>& missing, std::string& why, int waitSec) {
  RawClient a(sv.serverId());
  if (!a.ok() || !ok(a.connect())) {
    why += " the server does not answer;";
    return false;
  }
  bool good = true;
  // Every client process is gone by now: the one client left is this
  // check's own. Dead clients go within a few housekeeping passes.
  for (int i = 0;; ++i) {
    int32_t const n = clientCount(a);
    if (n == 1) break;
    if (n < 0 || i >= waitSec * 4) {
      why += " " + std::to_string(n) + " clients listed where one lives;";
      good = false;
      break;
    }
    ::usleep(250000);
  }
  int32_t const acct = attach(a, "acct"), seqs = attach(a, "seqs");
  if (acct == 0 || seqs == 0) {
    why += " tables not attached;";
    return false;
  }
  int32_t total = 0;
  for (int32_t id = 1; id <= kAccounts; ++id) {
    // Lock without waiting: a lock left behind refuses it.
    RawReply r = a.request(acct, DBM_GETRECORD, Body().w(0).w(kExact | 1 | 8).w(0).w(0).w(0).w(id).words());
    if (!ok(r) || r.result <= 0 || r.body.size() < 5 || int32_t(r.body[3]) != id) {
      why += " account " + std::to_string(id) + " not locked (status " + std::to_string(r.status) + ");";
      good = false;
      continue;
    }
    total += int32_t(r.body[4]);
    a.send(acct, DBM_FREERECORD, Body().w(0).w(kExact).w(0).w(id).words());
  }
  if (total != kTotal) {
    why += " total " + std::to_string(total) + " for " + std::to_string(kTotal) + ";";
    good = false;
  }
  // The rows of seqs, read by a library client through a cursor.
  std::string const out = sv.dir().file("seqs.dump");
  std::string const prog = self();
  pid_t pid = ::fork();
  if (pid == 0) {
    char const* args[] = {prog.c_str(), "dump", out.c_str(), nullptr};
    ::execv(prog.c_str(), const_cast<char* const*>(args));
    std::_Exit(127);
  }
  int st = -1;
  if (pid < 0 || ::waitpid(pid, &st, 0) != pid || !WIFEXITED(st) || WEXITSTATUS(st) != 0) {
    why += " the rows of seqs could not be read;";
    good = false;
  }
  std::set<std::pair<int32_t, int32_t>> present;
  {
    std::ifstream in(out);
    int32_t c = 0, q = 0;
    while (in >> c >> q) present.insert({c, q});
  }
  ::unlink(out.c_str());
  for (auto const& [cli, list] : committed)
    for (int32_t seq : list)
      if (!present.count({cli, seq})) missing.insert({cli, seq});
  return good;
}

int driver(long seconds, uint32_t seed) {
  std::string const prog = self();
  std::mt19937 rnd(seed);
  zftest::TempDir dir;
  dir.write("journal/.keep", "");
  zftest::TestServer sv(dir, kServer, "JournalDir\t" + dir.file("journal") + "\nBackup\t1\n");
  if (!sv.start()) {
    std::fprintf(stderr, "omdbtorture: the server did not start\n%s\n", sv.log().c_str());
    return 2;
  }
  {
    RawClient a(sv.serverId());
    // It disconnects: what it made stays held by it until then.
    if (!a.ok() || !ok(a.connect()) || !makeTables(a) || !a.send(kServerObject, DBM_DISCONNECT)) {
      std::fprintf(stderr, "omdbtorture: cannot make the tables\n%s\n", sv.log().c_str());
      sv.stop();
      return 2;
    }
  }
  zftest::ScopedEnv ombrel("OMBREL", dir.path());
  zftest::ScopedEnv servers("SERVERS", kServer);

  std::vector<Child> live;
  int32_t nextCli = 1;
  long killed = 0, failures = 0;
  int clients = kClients;
  if (char const* e = std::getenv("TORTURE_CLIENTS")) clients = std::max(1, std::min(kClients, std::atoi(e)));
  for (int i = 0; i < clients; ++i) live.push_back(spawn(prog, dir, nextCli++, uint32_t(rnd())));
  time_t const end = ::time(nullptr) + seconds;
  while (!interrupted && ::time(nullptr) < end) {
    ::usleep(1000000);
    // A client that ended by itself is a failure.
    for (Child& c : live) {
      int st = 0;
      if (::waitpid(c.pid, &st, WNOHANG) == c.pid) {
        ++failures;
        std::string err = readFile(dir.file("c" + std::to_string(c.cli) + ".err"));
        std::fprintf(stderr, "client %d ended by itself (%d): %s", c.cli, st, err.c_str());
        c = spawn(prog, dir, nextCli++, uint32_t(rnd()));
      }
    }
    Child& victim = live[rnd() % live.size()];
    ::kill(victim.pid, SIGKILL);
    ::waitpid(victim.pid, nullptr, 0);
    ++killed;
    victim = spawn(prog, dir, nextCli++, uint32_t(rnd()));
  }
  for (Child& c : live) {
    int st = 0;
    if (::waitpid(c.pid, &st, WNOHANG) == c.pid) {
      ++failures;
      std::fprintf(stderr, "client %d ended by itself (%d): %s", c.cli, st,
                   readFile(dir.file("c" + std::to_string(c.cli) + ".err")).c_str());
      continue;
    }
    ::kill(c.pid, SIGKILL);
    ::waitpid(c.pid, nullptr, 0);
    ++killed;
  }
  live.clear();

  // What the clients saw committed.
  std::map<int32_t, std::vector<int32_t>> committed;
  long n = 0;
  for (int32_t cli = 1; cli < nextCli; ++cli) {
    std::ifstream in(dir.file("c" + std::to_string(cli) + ".log"));
    long seq = 0;
    while (in >> seq) {
      committed[cli].push_back(int32_t(seq));
      ++n;
    }
  }
  std::set<std::pair<int32_t, int32_t>> missing;
  std::string why;
  bool good = failures == 0;
  if (!check(sv, committed, missing, why, 120)) {
    good = false;
    std::fprintf(stderr, "under load:%s\n", why.c_str());
  }
  // Stopped and restarted: the same again.
  int const stopped = sv.stop(1, 120);
  sv.removeIpc();
  why.clear();
  if (stopped != 0 || !sv.start({}, 120)) {
    good = false;
    std::fprintf(stderr, "stop %d, no restart\n%s\n", stopped, sv.log().c_str());
  } else if (!check(sv, committed, missing, why, 10)) {
    good = false;
    std::fprintf(stderr, "after the restart:%s\n", why.c_str());
  }
  if (sv.running()) sv.stop(1, 120);
  sv.kill();
  sv.removeIpc();
  if (!good || !missing.empty()) {
    std::string const out = sv.log();
    std::fprintf(stderr, "%s\n", out.substr(out.size() > 3000 ? out.size() - 3000 : 0).c_str());
  }
  std::printf("torture: %ld committed, %ld killed, %zu lost\n", n, killed, missing.size());
  return good && missing.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "dump") == 0) {
    int one = 1;
    startUp("omdbtorture-1.0", one, argv);
    return dump(argv[2]);
  }
  if (argc >= 5 && std::strcmp(argv[1], "client") == 0) {
    int one = 1;
    startUp("omdbtorture-1.0", one, argv);
    return client(int32_t(std::strtol(argv[2], nullptr, 10)), argv[3], uint32_t(std::strtoul(argv[4], nullptr, 10)));
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: omdbtorture SECONDS [SEED]\n");
    return 2;
  }
  long const seconds = std::strtol(argv[1], nullptr, 10);
  if (seconds < 1 || seconds > 86400) {
    std::fprintf(stderr, "omdbtorture: bad duration %s\n", argv[1]);
    return 2;
  }
  uint32_t const seed = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : uint32_t(::getpid());
  // INT and TERM end the run early: the clients are killed and everything
  // removed as at the end.
  struct sigaction sa {};
  sa.sa_handler = [](int) { interrupted = 1; };
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  // A closed output must not end the run before it cleaned up.
  ::signal(SIGPIPE, SIG_IGN);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::fprintf(stderr, "omdbtorture: seed %u\n", seed);
  zftest::startUpOnce("omdbtorture");
  return driver(seconds, seed);
}
