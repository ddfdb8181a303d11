// zxdbbench [records...]: the local database library beside SQLite on the
// same work in the same run (default sizes 100000 and 1000000).
//
// Per size, a table of an integer key "k" (unique index 0), a 20-character
// text "t" and a number "n", declared size 0 (unlimited):
//   insert  every key 1..records in shuffled order, inside one transaction,
//           with the before-image log on (LOGDIR in the run's directory) and
//           the node and record caches of the interface set;
//   read    as many point reads by a random key (GetRecord);
//   scan    one pass over every record in key order through a cursor.
// SQLite does the same on a file in the same directory: a table with
// "k INTEGER PRIMARY KEY", default journal and synchronous settings,
// prepared statements, the inserts in one transaction.
// One line per size and measure:
//   insert|read|scan <records> zxdb <rate>/s sqlite <rate>/s ratio <x.xx>
// with ratio = zxdb / sqlite. Every phase checks what it read; a mismatch
// ends the run with status 1.
#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Portable.h>
#include <zfound/Process.h>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>


namespace {

constexpr int32_t kTextLen = 20;
// Record layout: prefix 4, k (long) at 4, t (20 characters and its end) at
// 8, n (8-byte number) at 29.
constexpr int32_t kOffK = 4, kOffT = 8, kOffN = 29, kRecLen = 37;

[[noreturn]] void die(char const* what) {
  std::fprintf(stderr, "zxdbbench: %s\n", what);
  std::exit(1);
}

double seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// The text stored with key k: 20 characters that differ between keys.
void textOf(int32_t k, char* out) {
  std::snprintf(out, kTextLen + 1, "row%017d", k);
}

struct Rates {
  double insert = 0, read = 0, scan = 0;
};

// Schema "bench" with one table per size, "t0", "t1", ..., made through
// the design calls; each table's declared size is set to 0 (unlimited) in
// its descriptor, as the schema tools do. False when a call refused.
bool makeSchema(size_t tables) {
  int32_t sh = CreateSchema("bench", "zxdbbench");
  if (sh < 0) return false;
  for (size_t i = 0; i < tables; ++i) {
    std::string name = "t" + std::to_string(i);
    int32_t t = CreateTable(sh, name.c_str(), "", 0, 0, 3);
    if (t < 0 || AddTabField(t, "k", "", 0, 0, 0, 9, 0, 0, nullptr, nullptr) < 0 ||
        AddTabField(t, "t", "", 0, 1, 0, kTextLen, 0, 0, nullptr, nullptr) < 0 ||
        AddTabField(t, "n", "", 0, 0, 0, 15, 2, 0, nullptr, nullptr) < 0)
      return false;
    int32_t i0 = CreateIndex(t, "byk", 1, 0);
    if (i0 < 0 || AddIndField(i0, FindDbField(t, "k"), 0, 0, 0) != 0) return false;
    s_table* tp = _GetTabPtr(t);
    if (tp->d.len != kRecLen || _GetFldPtr(FindDbField(t, "n"))->d.offset != kOffN) return false;
    tp->d.size = 0;
    _ModifySchema(sh);
  }
  return CloseSchema(sh) == 0;
}

Rates runZxdb(int32_t slot, std::vector<int32_t> const& keys, std::vector<int32_t> const& probes) {
  int32_t const tab = 0x10000 | (slot + 1) << 8;
  int32_t const n = int32_t(keys.size());
  char* buf = _GetTabBuff(tab);
  // Record cache: the most the interface allows; node cache: room for every
  // leaf of the index.
  if (SetDataCache(tab, 64, 0) != 0) die("SetDataCache refused");
  if (SetIndexCache(tab, std::clamp(n / 32, 64, 65535)) != 0) die("SetIndexCache refused");
  Rates r;
  char text[kTextLen + 1];

  auto t0 = std::chrono::steady_clock::now();
  BeginTransaction();
  for (int32_t k : keys) {
    std::memset(buf, 0, kRecLen);
    stlong(k, buf + kOffK);
    textOf(k, text);
    std::memcpy(buf + kOffT, text, kTextLen + 1);
    stdbl(k * 0.5, buf + kOffN);
    if (AddRecord(tab) <= 0) die("AddRecord refused");
  }
  if (EndTransaction() != 1) die("the transaction did not commit");
  r.insert = n / seconds(t0);

  t0 = std::chrono::steady_clock::now();
  for (int32_t k : probes) {
    stlong(k, buf + kOffK);
    if (GetRecord(tab, 1, 0, 0) <= 0) die("GetRecord did not find a key");
    if (ldlong(buf + kOffK) != k || lddbl(buf + kOffN) != k * 0.5) die("GetRecord read a wrong record");
  }
  r.read = n / seconds(t0);

  t0 = std::chrono::steady_clock::now();
  int32_t cur = CreateCursor(tab, 0);
  if (cur <= 0) die("CreateCursor refused");
  int32_t seen = 0, last = 0;
  while (FetchCursor(cur) > 0) {
    int32_t k = ldlong(buf + kOffK);
    if (k <= last) die("the cursor is out of key order");
    last = k;
    ++seen;
  }
  DeleteCursor(cur);
  if (seen != n) die("the cursor did not see every record");
  r.scan = n / seconds(t0);
  return r;
}

void check(int rc, sqlite3* db, int want) {
  if (rc != want) {
    std::fprintf(stderr, "zxdbbench: sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

Rates runSqlite(std::string const& file, std::vector<int32_t> const& keys, std::vector<int32_t> const& probes) {
  sqlite3* db = nullptr;
  check(sqlite3_open(file.c_str(), &db), db, SQLITE_OK);
  check(sqlite3_exec(db, "CREATE TABLE b(k INTEGER PRIMARY KEY, t TEXT, n REAL)", nullptr, nullptr, nullptr), db,
        SQLITE_OK);
  Rates r;
  double const n = double(keys.size());
  char text[kTextLen + 1];

  sqlite3_stmt* ins = nullptr;
  check(sqlite3_prepare_v2(db, "INSERT INTO b VALUES(?, ?, ?)", -1, &ins, nullptr), db, SQLITE_OK);
  auto t0 = std::chrono::steady_clock::now();
  check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, SQLITE_OK);
  for (int32_t k : keys) {
    textOf(k, text);
    sqlite3_bind_int(ins, 1, k);
    sqlite3_bind_text(ins, 2, text, kTextLen, SQLITE_STATIC);
    sqlite3_bind_double(ins, 3, k * 0.5);
    check(sqlite3_step(ins), db, SQLITE_DONE);
    sqlite3_reset(ins);
  }
  check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, SQLITE_OK);
  r.insert = n / seconds(t0);
  sqlite3_finalize(ins);

  sqlite3_stmt* get = nullptr;
  check(sqlite3_prepare_v2(db, "SELECT k, t, n FROM b WHERE k = ?", -1, &get, nullptr), db, SQLITE_OK);
  t0 = std::chrono::steady_clock::now();
  for (int32_t k : probes) {
    sqlite3_bind_int(get, 1, k);
    check(sqlite3_step(get), db, SQLITE_ROW);
    if (sqlite3_column_int(get, 0) != k || sqlite3_column_double(get, 2) != k * 0.5)
      die("sqlite read a wrong row");
    sqlite3_reset(get);
  }
  r.read = n / seconds(t0);
  sqlite3_finalize(get);

  sqlite3_stmt* all = nullptr;
  check(sqlite3_prepare_v2(db, "SELECT k, t, n FROM b ORDER BY k", -1, &all, nullptr), db, SQLITE_OK);
  t0 = std::chrono::steady_clock::now();
  int64_t seen = 0;
  int32_t last = 0;
  int rc;
  while ((rc = sqlite3_step(all)) == SQLITE_ROW) {
    int32_t k = sqlite3_column_int(all, 0);
    if (k <= last || !sqlite3_column_text(all, 1)) die("sqlite scan out of key order");
    last = k;
    ++seen;
  }
  check(rc, db, SQLITE_DONE);
  if (seen != int64_t(keys.size())) die("sqlite scan did not see every row");
  r.scan = n / seconds(t0);
  sqlite3_finalize(all);
  sqlite3_close(db);
  return r;
}

// Removes the schema's lock semaphore set (keyed by its descriptor file).
void removeSchemaSet(std::string const& sco) {
  int fd = ::open(sco.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  int id = semget(_get_key(fd), 2, 0);
  if (id >= 0) semctl(id, 0, IPC_RMID);
  ::close(fd);
}

void removeDir(std::string const& dir) {
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "zxdbbench: could not remove %s\n", dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int32_t> sizes;
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    long v = std::strtol(argv[i], &end, 10);
    if (!end || *end || v < 1 || v > 10000000) die("usage: zxdbbench [records...], each from 1 to 10000000");
    sizes.push_back(int32_t(v));
  }
  if (sizes.empty()) sizes = {100000, 1000000};

  char const* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zxdbbench.XXXXXX";
  std::vector<char> tmpl(pattern.begin(), pattern.end());
  tmpl.push_back(0);
  char* dirp = mkdtemp(tmpl.data());
  if (!dirp) die("cannot make a temporary directory");
  std::string dir = dirp;
  std::string logdir = dir + "/log";
  if (mkdir(logdir.c_str(), 0700) != 0) die("cannot make the log directory");
  setenv("dbase", dir.c_str(), 1);
  setenv("LOGDIR", logdir.c_str(), 1);
  int one = 1;
  char* noArgs[] = {argv[0], nullptr};
  char** av = noArgs;
  startUp("zxdbbench-1.0", one, av);

  std::string sco = dir + "/bench/bench.sco";
  if (!makeSchema(sizes.size()) || OpenSchema("bench", 0) != 0x10000) {
    removeDir(dir);
    die("cannot open the schema");
  }

  std::mt19937 rng(20261211);
  for (size_t i = 0; i < sizes.size(); ++i) {
    int32_t n = sizes[i];
    std::vector<int32_t> keys(static_cast<size_t>(n), 0);
    for (int32_t k = 0; k < n; ++k) keys[size_t(k)] = k + 1;
    std::shuffle(keys.begin(), keys.end(), rng);
    std::vector<int32_t> probes = keys;
    std::shuffle(probes.begin(), probes.end(), rng);

    Rates z = runZxdb(int32_t(i), keys, probes);
    Rates s = runSqlite(dir + "/sqlite" + std::to_string(i) + ".db", keys, probes);
    auto line = [n](char const* what, double a, double b) {
      std::printf("%s %d zxdb %.0f/s sqlite %.0f/s ratio %.2f\n", what, n, a, b, a / b);
    };
    line("insert", z.insert, s.insert);
    line("read", z.read, s.read);
    line("scan", z.scan, s.scan);
    std::fflush(stdout);
  }
  CloseAllSchemas();
  removeSchemaSet(sco);
  removeDir(dir);
  return 0;
}
