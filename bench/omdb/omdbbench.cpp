// omdbbench: the server-client library against a live server, beside a raw
// System V request/reply ping-pong measured in the same run. Run as root
// (the server must be started by root).
//
// A server is started on a temporary directory (TestServer). One client
// process makes schema "bench" with table "b": an integer key "k" (unique
// index 0), a 20-character text "t" and a number "n", then
//   load   adds rows 1..100,000 in transactions of 1,000 records;
//   scan   reads every row in key order through a cursor (blocks).
// Then per client count C in 1, 4, 16, in kRounds rounds that alternate
// the two (so that a change of the machine's load between them weighs on
// both alike):
//   reads      C processes each open the schema and read by a random unique
//              key (GetRecord) for kSeconds;
//   ping-pong  C processes each send a request to one echo process on a
//              private queue and wait for its reply on another, for the
//              same time. Request and reply have the sizes of a read's
//              (kPingRequest, kPingReply bytes of message text), and like
//              the library's, the two queues are shared by every client.
// Both phases start their processes together and run a warm-up of
// kWarmUp seconds before the measured kSeconds. A figure is the mean of
// its rounds.
// The server's page cache (CacheSize) holds the table and its index, as
// a server would be set up for the data it serves: the reads measure the
// request path, not the operating system's file reads.
// Output:
//   load: N rows/s
//   scan: N rows/s
//   clients C: R reads/s, ping-pong P round trips/s, ratio X  (goal ...)
// Every read checks the record it got; a mismatch or a refusal ends the run
// with status 1. Whatever the outcome, the server is stopped, its queues and
// semaphores, the ping-pong queues and the directory removed, and every
// process started is ended by its pid.
// The time stamp class before the interface, whose function TimeStamp
// hides it (the request body writes stamps).
#include <zfound/TimeStamp.h>

#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Portable.h>

#include <zfound/MsgHeader.h>
#include <zfound/String.h>

// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>

#include "RawClient.h"
#include "RequestBody.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Set by SIGINT, SIGTERM or SIGHUP in the parent: the run stops at its next
// wait and its destructors end the children and the server and remove
// every IPC object and the directory.
volatile sig_atomic_t gStop = 0;
void onStop(int) { gStop = 1; }
// Installed after the run's own start-up, which sets handlers of its own.
// No SA_RESTART: a signal ends the parent's blocking read with EINTR.
void catchStop() {
  struct sigaction sa = {};
  sa.sa_handler = onStop;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

constexpr int32_t kRows = 100000;
constexpr int32_t kTransaction = 1000;
constexpr int32_t kTextLen = 20;
constexpr int kRounds = 3;
constexpr double kSeconds = 1.0;
constexpr double kWarmUp = 0.5;
// The message text of a read by key on this table: a 36-byte request (the
// header and six words) and a 60-byte reply (the header, the record
// number, the stamp and the three fields).
constexpr size_t kPingRequest = 36;
constexpr size_t kPingReply = 60;
// Kilobytes of server page cache: room for the rows and the index.
constexpr int32_t kCacheKb = 32768;
char const kServer[] = "omsrv";
char const kSchemaPath[] = "omsrv/bench";

struct Fail : std::runtime_error {
  using std::runtime_error::runtime_error;
};

double since(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void textOf(int32_t k, char* out) { std::snprintf(out, kTextLen + 1, "row%017d", k); }

// Offsets of the table's fields in its record buffer.
struct Layout {
  int32_t table = -1, k = 0, t = 0, n = 0;
};

Layout layoutOf(int32_t table) {
  Layout l;
  l.table = table;
  // Fields by number from 1, in the order they were made.
  l.k = _GetFldPtr(table | 1)->d.offset;
  l.t = _GetFldPtr(table | 2)->d.offset;
  l.n = _GetFldPtr(table | 3)->d.offset;
  return l;
}

// ---- child processes ---------------------------------------------------------

// A child process started by the run; its result comes back on a pipe.
struct Child {
  pid_t pid = -1;
  int fd = -1;  // read end of its result pipe
};

// Two figures a child sends back (the first negative: it failed).
struct Res {
  double a = -1, b = 0;
};

// Runs `work` in a child that writes its result to a pipe and ends with
// _exit, so no destructor of the parent's objects runs there.
Child spawn(std::function<Res()> const& work) {
  int p[2];
  if (pipe(p) != 0) throw Fail("cannot make a pipe");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw Fail("cannot fork");
  if (pid == 0) {
    ::close(p[0]);
    Res r;
    try {
      r = work();
    } catch (std::exception const& e) {
      std::fprintf(stderr, "omdbbench: %s\n", e.what());
    }
    ssize_t w = ::write(p[1], &r, sizeof r);
    _exit(r.a >= 0 && w == ssize_t(sizeof r) ? 0 : 1);
  }
  ::close(p[1]);
  return Child{pid, p[0]};
}

// Collects a child's result and reaps it; throws when it failed.
Res collect(Child& c) {
  Res r;
  ssize_t got = gStop ? -1 : ::read(c.fd, &r, sizeof r);
  if (got < 0 && (gStop || errno == EINTR)) throw Fail("interrupted");
  ::close(c.fd);
  int st = 0;
  waitpid(c.pid, &st, 0);
  c.pid = -1;
  if (got != ssize_t(sizeof r) || !WIFEXITED(st) || WEXITSTATUS(st) != 0 || r.a < 0)
    throw Fail("a client process failed (wait status " + std::to_string(st) + ")");
  return r;
}

// Children still running when the run fails: ended by their pid.
struct Children {
  std::vector<Child> list;
  ~Children() {
    for (Child& c : list)
      if (c.pid > 0) {
        ::kill(c.pid, SIGKILL);
        waitpid(c.pid, nullptr, 0);
        ::close(c.fd);
      }
  }
};

// A start line for the measuring children: each reports ready on one pipe
// and waits until the parent closes the other.
struct Barrier {
  int ready[2] = {-1, -1}, go[2] = {-1, -1};
  Barrier() {
    if (pipe(ready) != 0 || pipe(go) != 0) throw Fail("cannot make a pipe");
  }
  ~Barrier() {
    for (int fd : {ready[0], ready[1], go[0], go[1]})
      if (fd >= 0) ::close(fd);
  }
  // In a child.
  void arrive() {
    // Every child holds a copy of the write end of `go` from its fork:
    // dropping its own is what lets the parent's close reach end of file.
    ::close(go[1]);
    go[1] = -1;
    ::close(ready[0]);
    ready[0] = -1;
    char b = 1;
    if (::write(ready[1], &b, 1) != 1) throw Fail("barrier");
    if (::read(go[0], &b, 1) != 0) throw Fail("barrier");
  }
  // In the parent, once every child was started.
  void release(int count) {
    ::close(ready[1]);
    ready[1] = -1;
    for (int i = 0; i < count; ++i) {
      char b;
      if (gStop || ::read(ready[0], &b, 1) != 1) throw Fail(gStop ? "interrupted" : "a client process failed before it was ready");
    }
    ::close(go[1]);
    go[1] = -1;
  }
};

// Starts `count` children running `work`, releases them together and sums
// their results.
double measure(int count, std::function<double(Barrier&)> const& work) {
  Barrier bar;
  Children kids;
  for (int i = 0; i < count; ++i) kids.list.push_back(spawn([&] { return Res{work(bar), 0}; }));
  bar.release(count);
  double sum = 0;
  for (Child& c : kids.list) sum += collect(c).a;
  return sum;
}

// Shows a refusal of the library with its key and detail.
void showRefusal(int32_t table, char const* key, char const* detail) {
  std::fprintf(stderr, "omdbbench: refused on table %#x: %s %s\n", unsigned(table), key ? key : "",
               detail ? detail : "");
}

// ---- the library's work --------------------------------------------------------

// Makes the schema and table, loads the rows and scans them: the load and
// scan rates.
Res loadAndScan() {
  SetDbHandler(showRefusal);
  int32_t sh = OpenSchema(kSchemaPath, 0);
  if (sh < 0) throw Fail("OpenSchema refused, error " + std::to_string(_io_errno_));
  int32_t t = FindDbTable(sh, "b");
  if (t <= 0) throw Fail("table b is missing");
  Layout l = layoutOf(t);
  char* buf = _GetTabBuff(t);
  int32_t const len = _GetTabPtr(t)->d.len;
  char text[kTextLen + 1];

  auto t0 = std::chrono::steady_clock::now();
  for (int32_t k = 1; k <= kRows;) {
    BeginTransaction();
    for (int32_t j = 0; j < kTransaction && k <= kRows; ++j, ++k) {
      std::memset(buf, 0, size_t(len));
      stlong(k, buf + l.k);
      textOf(k, text);
      std::memcpy(buf + l.t, text, kTextLen + 1);
      stdbl(k * 0.5, buf + l.n);
      if (AddRecord(t) < 0) throw Fail("AddRecord refused");
    }
    if (EndTransaction() != 1) throw Fail("a transaction did not commit");
  }
  Res r;
  r.a = kRows / since(t0);

  t0 = std::chrono::steady_clock::now();
  int32_t cur = CreateCursor(t, 0);
  if (cur <= 0) throw Fail("CreateCursor refused");
  int32_t seen = 0, last = 0;
  while (FetchCursor(cur) >= 0) {
    int32_t k = ldlong(buf + l.k);
    if (k <= last || lddbl(buf + l.n) != k * 0.5) throw Fail("the cursor read out of order or a wrong row");
    last = k;
    ++seen;
  }
  DeleteCursor(cur);
  if (seen != kRows) throw Fail("the cursor did not see every row");
  r.b = kRows / since(t0);
  CloseAllSchemas();
  return r;
}

// Runs `batch` (64 operations) for the warm-up, then for kSeconds: the
// operations per second of the measured part.
double timed(std::function<void()> const& batch) {
  auto t0 = std::chrono::steady_clock::now();
  do batch();
  while (since(t0) < kWarmUp);
  int64_t n = 0;
  t0 = std::chrono::steady_clock::now();
  double el = 0;
  do {
    batch();
    n += 64;
  } while ((el = since(t0)) < kSeconds);
  return double(n) / el;
}

double reads(Barrier& bar) {
  SetDbHandler(showRefusal);
  int32_t sh = OpenSchema(kSchemaPath, 0);
  if (sh < 0) throw Fail("OpenSchema refused, error " + std::to_string(_io_errno_));
  int32_t t = FindDbTable(sh, "b");
  if (t <= 0) throw Fail("table b is missing");
  Layout l = layoutOf(t);
  char* buf = _GetTabBuff(t);
  std::mt19937 rng{uint32_t(getpid())};
  std::uniform_int_distribution<int32_t> key(1, kRows);
  auto batch = [&] {
    for (int i = 0; i < 64; ++i) {
      int32_t k = key(rng);
      stlong(k, buf + l.k);
      if (GetRecord(t, 1, 0, 0) < 0) throw Fail("GetRecord did not find a key");
      if (ldlong(buf + l.k) != k || lddbl(buf + l.n) != k * 0.5) throw Fail("GetRecord read a wrong record");
    }
  };
  bar.arrive();
  double r = timed(batch);
  CloseAllSchemas();
  return r;
}

// ---- the raw ping-pong ---------------------------------------------------------------

struct PingMsg {
  long mtype;
  char body[kPingReply > kPingRequest ? kPingReply : kPingRequest];
};
constexpr long kStop = 1;  // no client has pid 1

struct PingQueues {
  int req = -1, rep = -1;
  PingQueues() {
    req = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    rep = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    if (req < 0 || rep < 0) throw Fail("cannot make the ping-pong queues");
  }
  ~PingQueues() {
    if (req >= 0) msgctl(req, IPC_RMID, nullptr);
    if (rep >= 0) msgctl(rep, IPC_RMID, nullptr);
  }
};

// The echo process: answers each request on the reply queue with the
// sender's pid as type, until a stop message.
double echo(PingQueues const& q) {
  PingMsg m;
  for (;;) {
    if (msgrcv(q.req, &m, sizeof m.body, 0, 0) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (m.mtype == kStop) return 0;
    if (msgsnd(q.rep, &m, kPingReply, 0) != 0) return -1;
  }
}

double pings(PingQueues const& q, Barrier& bar) {
  PingMsg m{};
  long const me = long(getpid());
  int64_t n = 0;
  auto batch = [&] {
    for (int i = 0; i < 64; ++i, ++n) {
      m.mtype = me;
      std::memset(m.body, int(n & 0x7f), kPingRequest);
      if (msgsnd(q.req, &m, kPingRequest, 0) != 0) throw Fail("msgsnd");
      if (msgrcv(q.rep, &m, sizeof m.body, me, 0) != ssize_t(kPingReply)) throw Fail("msgrcv");
    }
  };
  bar.arrive();
  return timed(batch);
}

double pingPong(int count) {
  PingQueues q;
  Children echoer;
  echoer.list.push_back(spawn([&] { return Res{echo(q), 0}; }));
  double r = measure(count, [&](Barrier& bar) { return pings(q, bar); });
  PingMsg stop{};
  stop.mtype = kStop;
  if (msgsnd(q.req, &stop, sizeof stop.body, 0) != 0) throw Fail("cannot stop the echo process");
  collect(echoer.list[0]);
  return r;
}

char const* goalOf(int count) {
  switch (count) {
  case 1: return "  (goal: ratio >= 0.6, ~21600 reads/s)";
  case 4: return "  (goal: ratio >= 0.6, ~92000 reads/s)";
  default: return "";
  }
}

using Body = zftest::RequestBody;

// Makes schema "bench", table "b" (k integer, t text of 20, n number of 15
// with 2 decimals) and its unique index on k with a raw client.
void makeTable(int32_t serverId) {
  constexpr int32_t kServerObj = 0x70000000;
  zftest::RawClient raw(serverId);
  if (!raw.ok() || raw.connect().status != 0) throw Fail("cannot connect a raw client");
  Body b;
  b.w(16).w(0).w(1).s("bench").s("");
  zftest::RawReply r = raw.request(kServerObj, DBM_ATTACH, b.words());
  if (!r.ok || r.status != 0 || r.result <= 0) throw Fail("the schema was refused");
  struct F {
    char const* name;
    int32_t type, length, decimals;
  } const fields[] = {{"k", 10, 0, 0}, {"t", 1, kTextLen, 0}, {"n", 0, 15, 2}};
  Body tb;
  tb.w(32).w(0).w(1).s("b").s("").w(0).w(0).w(3);
  for (F const& f : fields) tb.s(f.name).s("").w(0).w(f.type).w(0).w(f.length).w(f.decimals).w(0).e().s("").s("");
  r = raw.request(r.result, DBM_ATTACH, tb.words());
  if (!r.ok || r.status != 0 || r.result <= 0) throw Fail("the table was refused");
  Body ib;
  ib.s("byk").w(0).w(1).w(0).w(0).w(0).w(0);
  r = raw.request(r.result, DBM_CREATE, ib.words());
  if (!r.ok || r.status != 0) throw Fail("the index was refused");
}

int run() {
  // The server program of this build, unless the caller names another place.
  setenv("ZF_BIN_DIR", OMDBBENCH_BIN_DIR, 0);
  zftest::startUpOnce("omdbbench");
  zftest::TestServer server(kServer, "CacheSize\t" + std::to_string(kCacheKb) + "\n");
  if (!server.start()) throw Fail("the server did not start:\n" + server.log());
  zftest::ScopedEnv ombrel("OMBREL", server.dir().path());
  zftest::ScopedEnv servers("SERVERS", kServer);
  catchStop();
  makeTable(server.serverId());
  Children loader;
  loader.list.push_back(spawn(loadAndScan));
  Res ls = collect(loader.list[0]);
  std::printf("load: %.0f rows/s\nscan: %.0f rows/s\n", ls.a, ls.b);
  std::fflush(stdout);
  for (int count : {1, 4, 16}) {
    double r = 0, p = 0;
    for (int round = 0; round < kRounds; ++round) {
      r += measure(count, reads) / kRounds;
      p += pingPong(count) / kRounds;
    }
    std::printf("clients %d: %.0f reads/s, ping-pong %.0f round trips/s, ratio %.2f%s\n", count, r, p, r / p,
                goalOf(count));
    std::fflush(stdout);
  }
  if (server.stop() != 0) {
    std::fprintf(stderr, "omdbbench: the server did not stop cleanly\n");
    return 1;
  }
  server.removeIpc();
  return 0;
}

}  // namespace

int main() {
  if (geteuid() != 0) {
    std::fprintf(stderr, "omdbbench: run as root (the server must be started by root)\n");
    return 1;
  }
  try {
    return run();
  } catch (std::exception const& e) {
    std::fprintf(stderr, "omdbbench: %s\n", e.what());
    return 1;
  }
}
