// svtorture ITERATIONS [SEED]: crash torture of a journalled server.
//
// In a temporary directory it makes a server with a journal and a table T (id, name, val) of
// schema "torture" with a primary key on id and a unique index on name.
// Each iteration a worker process runs transactions on the raw protocol:
// adds, updates and deletes of ids 1..kIds, most ended by EndTransact with
// sync, some by AbortTransact (the worker then reads the rows back: they
// must be as before), and a checkpoint every few transactions. At
// a random moment the server is killed (SIGKILL); sometimes its restart is
// killed again while it recovers; then it is restarted and checked:
//   - every acknowledged commit is present (else: committed rows lost);
//   - nothing of a transaction that never sent EndTransact is present, and
//     the one whose EndTransact was in flight is whole or absent (else:
//     uncommitted rows found);
//   - the unique index finds each row by its name, the table counts its
//     rows, and after a Stop `ombrel -p -e 1` verifies every file (else:
//     verification failures); this runs after every crash, so that a
//     damaged file is pinned to the crash that made it, and the server is
//     started again for the next one.
// The worker writes one line per step into worker.log before (or, for
// an acknowledgement, after) the step, so the checker knows what the server
// acknowledged:
//   S id name val   a row present when the worker started (written by the
//                   driver from the last check)
//   T n             transaction n begun
//   O id name val   row added or updated in n;  D id: row deleted in n
//   E n             EndTransact of n sent;  C n: acknowledged;  A n: refused
//   B n             AbortTransact of n sent;  R n: acknowledged
//   U id            after an acknowledged abort, row id is not as before
// It ends with the line "crash torture: R of N crashes recovered, L committed
// rows lost, U uncommitted rows found, V verification failures" and exits 0
// only when R = N and L = U = V = 0. Every process it started is killed by its
// id and the server's queues and semaphores are removed (TestServer).
#include "ChildRun.h"
#include "RawClient.h"
#include "RequestBody.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <svcatalog/SvField.h>
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/MsgHeader.h>
#include <zfound/String.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zftest::RawClient;
using zftest::RawReply;

constexpr int32_t kServerObject = 0x70000000;
constexpr int32_t kIds = 40;
constexpr int32_t kExactKey = 0x80;

volatile sig_atomic_t interrupted = 0;

struct Row {
  std::string name;
  int32_t val = 0;
  bool operator==(Row const& o) const { return name == o.name && val == o.val; }
  bool operator!=(Row const& o) const { return !(*this == o); }
};
using State = std::map<int32_t, Row>;

using Body = zftest::RequestBody;

std::vector<uint32_t> rowWords(int32_t id, Row const& r) { return Body().w(id).s(r.name).w(r.val).words(); }

void field(Body& b, char const* name, int32_t type, int32_t len) {
  b.s(name).s("").w(1).w(type).w(0).w(len).w(0).w(0).e().s("").s("");
}

bool ok(RawReply const& r) { return r.ok && r.status == 0; }

// Creates (create = true) or attaches schema and table; the table's object
// id, or 0.
int32_t openTable(RawClient& a, bool create) {
  Body sch;
  sch.w(16).w(0).w(create ? 1 : 0).s("torture");
  if (create) sch.s("crash torture");
  RawReply r = a.request(kServerObject, DBM_ATTACH, sch.words(), 60);
  if (!ok(r)) return 0;
  Body tab;
  if (create) {
    tab.w(32).w(0).w(1).s("T").s("").w(0).w(0).w(3);
    field(tab, "id", SvField::INT, 0);
    field(tab, "name", SvField::STRING, 10);
    field(tab, "val", SvField::INT, 0);
  } else {
    tab.w(32).w(0).w(0).s("T").w(0);
  }
  r = a.request(r.result, DBM_ATTACH, tab.words(), 60);
  if (!ok(r)) return 0;
  int32_t const t = r.result;
  if (create) {
    // Index 0 on id, index 1 on name; flags 0: unique.
    for (auto const& [name, fieldNo] : {std::pair<char const*, int32_t>{"pk", 0}, {"byname", 1}}) {
      r = a.request(t, DBM_CREATE, Body().s(name).w(0).w(1).w(fieldNo).w(0).w(0).w(0).words());
      if (!ok(r)) return 0;
    }
  }
  return t;
}

// Reads id by the primary key: the row, none when absent; false when the
// server did not answer soundly.
bool readRow(RawClient& a, int32_t tab, int32_t id, std::optional<Row>& out, int32_t* recno = nullptr) {
  out.reset();
  RawReply r = a.request(tab, DBM_GETRECORD, Body().w(0).w(kExactKey).w(0).w(0).w(0).w(id).words());
  if (!r.ok) return false;
  if (r.status != 0 || r.result == -1) return true;
  if (recno) *recno = r.result;
  // Instance id, stamp (2 words), then the fields.
  if (r.body.size() < 5 || int32_t(r.body[3]) != id) return false;
  uint32_t const len = r.body[4];
  if (len > 10) return false;
  size_t const nw = (len + 3) / 4;
  if (r.body.size() < 5 + nw + 1) return false;
  std::string name(len, '\0');
  for (uint32_t i = 0; i < len; ++i) name[i] = char((r.body[5 + i / 4] >> (8 * (i % 4))) & 0xff);
  Row row{name, int32_t(r.body[5 + nw])};
  if (rowWords(id, row) != std::vector<uint32_t>(r.body.begin() + 3, r.body.begin() + 3 + long(5 + nw + 1 - 3)))
    return false;
  out = row;
  return true;
}

class Log {
public:
  explicit Log(std::string const& path) : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600)) {}
  ~Log() {
    if (fd_ >= 0) ::close(fd_);
  }
  void line(std::string const& s) {
    std::string const t = s + "\n";
    if (::write(fd_, t.data(), t.size()) != ssize_t(t.size())) std::_Exit(3);
  }

private:
  int fd_;
};

std::string rowText(int32_t id, Row const& r) {
  return std::to_string(id) + " " + r.name + " " + std::to_string(r.val);
}

// The worker: runs transactions until it is killed or the server is gone.
int work(int32_t serverId, std::string const& logPath, uint32_t seed, int32_t firstTx) {
  RawClient a(serverId);
  if (!a.ok() || !ok(a.connect())) return 2;
  int32_t const tab = openTable(a, false);
  if (tab == 0) return 2;
  Log log(logPath);
  State st;
  for (int32_t id = 1; id <= kIds; ++id) {
    std::optional<Row> r;
    if (!readRow(a, tab, id, r)) return 2;
    if (r) st[id] = *r;
  }
  std::mt19937 rnd(seed);
  for (int32_t tx = firstTx;; ++tx) {
    if (tx % 5 == 0 && !ok(a.request(kServerObject, DBM_CHECKPOINT, {0}, 60))) return 2;
    log.line("T " + std::to_string(tx));
    if (!ok(a.request(kServerObject, DBM_BEGTRANSACT, {0}))) return 2;
    State next = st;
    int32_t const ops = 1 + int32_t(rnd() % 4);
    std::vector<int32_t> touched;
    for (int32_t k = 0; k < ops; ++k) {
      int32_t id = 1 + int32_t(rnd() % kIds);
      bool again = false;
      for (int32_t t : touched) again = again || t == id;
      if (again) continue;
      touched.push_back(id);
      Row row{"n" + std::to_string(id) + "." + std::to_string(tx % 10000), tx};
      auto it = next.find(id);
      if (it == next.end()) {
        log.line("O " + rowText(id, row));
        if (!a.send(tab, DBM_ADDRECORD, Body().w(1).w(id).s(row.name).w(row.val).words())) return 2;
        next[id] = row;
      } else if (rnd() % 2 == 0) {
        log.line("D " + std::to_string(id));
        if (!a.send(tab, DBM_DELRECORD, Body().w(id).words())) return 2;
        next.erase(it);
      } else {
        std::optional<Row> cur;
        int32_t recno = -1;
        if (!readRow(a, tab, id, cur, &recno) || !cur) return 2;
        log.line("O " + rowText(id, row));
        if (!a.send(tab, DBM_UPDATERECORD, Body().w(0).w(recno).w(id).s(row.name).w(row.val).words())) return 2;
        next[id] = row;
      }
    }
    if (rnd() % 6 == 0) {
      log.line("B " + std::to_string(tx));
      RawReply r = a.request(kServerObject, DBM_ABORTTRANSACT);
      if (!r.ok) return 2;
      if (r.status != 0 || r.result != 0) {
        std::fprintf(stderr, "abort of transaction %d refused: status %d, result %d\n", tx, r.status, r.result);
        return 4;
      }
      log.line("R " + std::to_string(tx));
      for (int32_t id : touched) {
        std::optional<Row> cur;
        if (!readRow(a, tab, id, cur)) return 2;
        auto const was = st.find(id);
        if (cur != (was == st.end() ? std::nullopt : std::optional<Row>(was->second)))
          log.line("U " + std::to_string(id));
      }
      continue;
    }
    log.line("E " + std::to_string(tx));
    RawReply r = a.request(kServerObject, DBM_ENDTRANSACT, {1});
    if (!r.ok) return 2;
    if (r.status != 0) {
      log.line("A " + std::to_string(tx));
      std::fprintf(stderr, "transaction %d refused: status %d\n", tx, r.status);
      return 4;
    }
    log.line("C " + std::to_string(tx));
    st = next;
  }
}

struct Expected {
  State committed;             // every acknowledged transaction applied
  std::optional<State> whole;  // plus the one in flight, when there is one
  int32_t lastTx = 0;
  std::vector<int32_t> notUndone;  // rows an acknowledged abort left changed
};

Expected replay(std::string const& logPath) {
  Expected ex;
  std::ifstream in(logPath);
  std::string line;
  State open;
  bool sent = false;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    char kind = 0;
    ls >> kind;
    int32_t n = 0;
    if (kind == 'S') {
      Row r;
      ls >> n >> r.name >> r.val;
      ex.committed[n] = r;
    } else if (kind == 'T') {
      ls >> n;
      ex.lastTx = n;
      open = ex.committed;
      sent = false;
    } else if (kind == 'O') {
      Row r;
      ls >> n >> r.name >> r.val;
      open[n] = r;
    } else if (kind == 'D') {
      ls >> n;
      open.erase(n);
    } else if (kind == 'E') {
      sent = true;
    } else if (kind == 'C') {
      ex.committed = open;
      sent = false;
    } else if (kind == 'A' || kind == 'B') {
      sent = false;
    } else if (kind == 'U') {
      ls >> n;
      ex.notUndone.push_back(n);
    }
  }
  if (sent) ex.whole = open;
  return ex;
}

struct Totals {
  int32_t recovered = 0, lost = 0, uncommitted = 0, verify = 0;
};

// Reads the table back and compares; the state found.
bool check(int32_t serverId, Expected const& ex, Totals& tot, std::string& why, State& found) {
  RawClient a(serverId);
  if (!a.ok() || !ok(a.connect())) {
    why = "no connection";
    return false;
  }
  int32_t const tab = openTable(a, false);
  if (tab == 0) {
    why = "table not attached";
    return false;
  }
  found.clear();
  for (int32_t id : ex.notUndone) {
    ++tot.uncommitted;
    why += " abort left row " + std::to_string(id) + " changed";
  }
  for (int32_t id = 1; id <= kIds; ++id) {
    std::optional<Row> r;
    if (!readRow(a, tab, id, r)) {
      why = "row " + std::to_string(id) + " unreadable";
      ++tot.verify;
      continue;
    }
    if (!r) continue;
    found[id] = *r;
    // The unique index finds the row by its name.
    RawReply byName = a.request(tab, DBM_GETRECORD, Body().w(1).w(kExactKey).w(0).w(0).w(0).s(r->name).words());
    if (!ok(byName) || byName.body.size() < 4 || int32_t(byName.body[3]) != id) {
      why += " name index misses " + r->name;
      ++tot.verify;
    }
  }
  RawReply card = a.request(tab, DBM_CARDINAL);
  if (!ok(card) || card.result != int32_t(found.size())) {
    why += " cardinal " + std::to_string(card.result) + " for " + std::to_string(found.size()) + " rows";
    ++tot.verify;
  }
  if (found == ex.committed || (ex.whole && found == *ex.whole)) return true;
  for (int32_t id = 1; id <= kIds; ++id) {
    auto f = found.find(id);
    auto c = ex.committed.find(id);
    std::optional<Row> w;
    if (ex.whole && ex.whole->count(id)) w = ex.whole->at(id);
    bool const inWhole = ex.whole.has_value();
    std::optional<Row> fr = f == found.end() ? std::nullopt : std::optional<Row>(f->second);
    std::optional<Row> cr = c == ex.committed.end() ? std::nullopt : std::optional<Row>(c->second);
    if (fr == cr) continue;
    if (cr && (!inWhole || fr != w)) {
      ++tot.lost;
      why += " lost " + rowText(id, *cr) + " (found " + (fr ? rowText(id, *fr) : std::string("none")) + ")";
    } else {
      ++tot.uncommitted;
      why += " uncommitted " + (fr ? rowText(id, *fr) : std::to_string(id) + " deleted");
    }
  }
  return true;
}

// Stops the server; after the Stop every file verifies (the check answers
// 255). False with what was seen.
bool stopAndVerify(zftest::TestServer& sv, std::string& why) {
  int const stopped = sv.running() ? sv.stop(1, 120) : -1;
  sv.removeIpc();
  zftest::RunResult const verify = sv.run({"-f", "-p", "-e", "1", sv.name()}, 300);
  sv.removeIpc();
  if (stopped == 0 && verify.status == 255) return true;
  why = "stop " + std::to_string(stopped) + ", verification " + std::to_string(verify.status) + "\n" + verify.out +
        verify.err;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: svtorture ITERATIONS [SEED]\n");
    return 2;
  }
  long const iterations = std::strtol(argv[1], nullptr, 10);
  if (iterations < 1 || iterations > 100000) {
    std::fprintf(stderr, "svtorture: bad iteration count %s\n", argv[1]);
    return 2;
  }
  uint32_t const seed = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : uint32_t(::getpid());
  // INT and TERM end the loop, so the server is killed and its queues and
  // directory removed as after the last iteration.
  struct sigaction sa {};
  sa.sa_handler = [](int) { interrupted = 1; };
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  std::fprintf(stderr, "svtorture: seed %u\n", seed);
  std::mt19937 rnd(seed);
  zftest::TempDir dir;
  std::string const jdir = dir.file("journal");
  dir.write("journal/.keep", "");
  zftest::TestServer sv(dir, "torture", "JournalDir\t" + jdir + "\nBackup\t0\n");
  if (!sv.start()) {
    std::fprintf(stderr, "svtorture: the server did not start\n%s\n", sv.log().c_str());
    return 2;
  }
  {
    RawClient a(sv.serverId());
    // The making of the table is journalled outside a transaction; an
    // empty transaction ended with sync puts it on disk before any crash.
    if (!a.ok() || !ok(a.connect()) || openTable(a, true) == 0 ||
        !ok(a.request(kServerObject, DBM_BEGTRANSACT, {0})) || !ok(a.request(kServerObject, DBM_ENDTRANSACT, {1}))) {
      std::fprintf(stderr, "svtorture: cannot make the table\n%s\n", sv.log().c_str());
      return 2;
    }
  }
  std::string const logPath = dir.file("worker.log");
  Totals tot;
  int32_t nextTx = 1;
  long n = 0;
  State known;  // the rows of the last check
  for (; n < iterations && !interrupted; ++n) {
    ::unlink(logPath.c_str());
    {
      Log log(logPath);
      for (auto const& [id, row] : known) log.line("S " + rowText(id, row));
    }
    int32_t const first = nextTx;
    uint32_t const wseed = uint32_t(rnd());
    zftest::ChildRun worker =
        zftest::startChild([&] { return work(sv.serverId(), logPath, wseed, first); });
    ::usleep(useconds_t(50000 + rnd() % 700000));
    sv.kill();
    worker.stop();
    sv.removeIpc();
    Expected const ex = replay(logPath);
    if (ex.lastTx >= nextTx) nextTx = ex.lastTx + 1;
    if (rnd() % 4 == 0) {
      // Killed again while the restart recovers.
      if (sv.start()) ::usleep(useconds_t(rnd() % 150000));
      sv.kill();
      sv.removeIpc();
    }
    if (!sv.start({}, 120)) {
      std::fprintf(stderr, "iteration %ld: no restart\n%s\n", n + 1, sv.log().c_str());
      ++n;
      break;
    }
    std::string why;
    if (check(sv.serverId(), ex, tot, why, known))
      ++tot.recovered;
    if (!why.empty()) {
      // The end of the server's output tells why it did not answer.
      std::string const out = sv.log();
      std::fprintf(stderr, "iteration %ld:%s\n%s\n", n + 1, why.c_str(),
                   out.substr(out.size() > 2000 ? out.size() - 2000 : 0).c_str());
    }
    // Every file verifies after this crash (the last one is verified below).
    if (n + 1 < iterations && !interrupted) {
      std::string bad;
      if (!stopAndVerify(sv, bad)) {
        ++tot.verify;
        std::fprintf(stderr, "iteration %ld: verification failed: %s\n", n + 1, bad.c_str());
      }
      if (!sv.start({}, 120)) {
        std::fprintf(stderr, "iteration %ld: no start after the verification\n%s\n", n + 1, sv.log().c_str());
        ++n;
        break;
      }
    }
  }
  std::string bad;
  if (!stopAndVerify(sv, bad)) {
    ++tot.verify;
    std::fprintf(stderr, "%s\n", bad.c_str());
  }
  sv.kill();
  sv.removeIpc();
  std::printf("crash torture: %d of %ld crashes recovered, %d committed rows lost, %d uncommitted rows found, "
              "%d verification failures\n",
              tot.recovered, iterations, tot.lost, tot.uncommitted, tot.verify);
  return tot.recovered == iterations && tot.lost == 0 && tot.uncommitted == 0 && tot.verify == 0 ? 0 : 1;
}
