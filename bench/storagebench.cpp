// storagebench [N] [--page-kb K] [--cache-mb M]: the index engine against
// two embedded engines on the same work in the same run.
//
// N random 8-byte keys (big-endian, all distinct) are inserted in random
// order into a unique index over a blocked file through the page cache,
// then looked up at random, then scanned in key order. The same work goes
// through SQLite (a table keyed by the integer, one transaction, prepared
// statements, no sync, the same cache size; the reads share one more) and,
// when built with it, LMDB
// (one write transaction without sync, a read transaction, a cursor).
// One line per phase: "<phase> ours=<n>/s sqlite=<n>/s ratio_sqlite=<r>"
// (with LMDB also " lmdb=<n>/s ratio_lmdb=<r>"), ratio = ours / peer; then
// "cache_kb=<configured cache> peak_rss_kb=<peak after our phases>".
#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>
#include <sindex/IndexHost.h>
#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>

#include <zfound/Exception.h>
#include <zfound/PhysLayout.h>
#include <zfound/Portable.h>
#include <zfound/Process.h>

#include <sqlite3.h>
#if STORAGEBENCH_LMDB
#include <lmdb.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using svstore::StorageEnv;

namespace {

// The key: 8 bytes compared as they are.
class KeyField : public svstore::IndexField {
public:
  String fieldName() const override { return "k"; }
  int32_t fieldOffset() const override { return 20; }
  int32_t keyLength() const override { return 8; }
  bool keyStore(SvTable*, char*& key, char const* src, int32_t len, char const*) override {
    std::memcpy(key, src, size_t(len));
    key += len;
    return true;
  }
  void keyLoad(String& s, char const*& p, int32_t len) const override {
    s = "key";
    p += len;
  }
  void keySend(Connection*, char*& p) override { p += 8; }
  bool keyReceive(Connection*, char*& p, int32_t len) override {
    p += len;
    return true;
  }
  bool keyIsNull(char const*) const override { return false; }
  bool keyDiffer(SvTable*, char const* a, char const* b, int32_t len) const override {
    return std::memcmp(a, b, size_t(len)) != 0;
  }
  bool sameField(svstore::IndexField const* o) const override { return o == this; }
  void useIndex(int32_t) override {}
  void unuseIndex(int32_t) override {}
};

// One table with one attachment and no deferred deletes.
class Table : public svstore::IndexTableRep, public svstore::IndexTable {
public:
  String qualifiedName() const override { return "bench.t"; }
  String schemaName() const override { return "bench"; }
  uint32_t schemaId() const override { return 1; }
  String physName() const override { return "_t.tab"; }
  String newFileName(String const& base, String const& ext) override { return String("_") + base + "." + ext; }
  String newIndExt() override { return "i00"; }
  int32_t lastTableRec() override { return last; }
  int32_t nRecords() override { return last; }
  int32_t nDefDels() const override { return 0; }
  int32_t verifyFree(BoolArray*) override { return 0; }
  void addIndexRep(SvIndRep* r) override { rep = r; }
  void delIndexRep(SvIndRep*) override { rep = nullptr; }
  int32_t indexNumber(SvIndRep const*) const override { return 0; }
  svstore::IndexTable* findTable(int32_t v) override { return v == -1 ? this : nullptr; }
  void checkIndepKeys() override {}
  SvTable* table() override { return nullptr; }
  bool isDeferredDel(Client*, int32_t) override { return false; }
  bool delByMe(Client*, int32_t) override { return false; }
  void addIndex(SvIndex* i) override {
    ix = i;
    rep = i->indRep();
  }
  void delIndex(SvIndex*) override { ix = nullptr; }
  String tableName() const override { return "t"; }
  int32_t last = 0;
  SvIndRep* rep = nullptr;
  SvIndex* ix = nullptr;
};

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void die(char const* what) {
  std::fprintf(stderr, "storagebench: %s\n", what);
  std::exit(1);
}

struct Rates {
  double insert = 0, lookup = 0, scan = 0;
};

Rates runOurs(std::string const& dir, std::vector<uint64_t> const& keys, std::vector<uint64_t> const& probes,
              int32_t pageKb, int32_t cacheKb) {
  StorageEnv::cachePageSize_sd = pageKb * 1024;
  StorageEnv::currCP = 0;
  StorageEnv::timeStamp.setNow();
  StorageEnv::lastChkPoint = StorageEnv::timeStamp;
  ++StorageEnv::timeStamp;
  std::string layoutFile = dir + "/layout";
  FILE* f = std::fopen(layoutFile.c_str(), "w");
  if (!f)
    die("cannot write the layout file");
  std::fprintf(f, "*\tPACKED\t%s\n", dir.c_str());
  std::fclose(f);
  PhysLayout layout{String(layoutFile.c_str())};
  StorageEnv::physLayout_sd = &layout;
  if (!CacheBuffer::init(cacheKb))
    die("cannot make the page cache");
  Rates r;
  {
    Table t;
    KeyField kf;
    SvIndRep* rep = SvIndRep::consIndex(nullptr, &t, 0, "k", 8, 1, 0);
    if (!rep || !t.ix)
      die("cannot create the index");
    SvIndFld::consIndField(nullptr, rep, 0, &kf, 0, -1, 0);
    SvIndex* ix = t.ix;
    char key[8];
    size_t n = keys.size();
    double t0 = now();
    for (size_t i = 0; i < n; ++i) {
      stlong(int32_t(keys[i] >> 32), key);
      stlong(int32_t(keys[i]), key + 4);
      ix->setKey(key);
      if (!ix->addKey(nullptr, int32_t(i + 1), true))
        die("insert refused");
    }
    t.last = int32_t(n);
    double t1 = now();
    r.insert = double(n) / (t1 - t0);
    int64_t found = 0;
    t0 = now();
    for (uint64_t k : probes) {
      stlong(int32_t(k >> 32), key);
      stlong(int32_t(k), key + 4);
      ix->setKey(key);
      found += ix->searchKey() > 0;
    }
    t1 = now();
    if (found != int64_t(probes.size()))
      die("a lookup failed");
    r.lookup = double(probes.size()) / (t1 - t0);
    t0 = now();
    size_t seen = 0;
    for (int32_t rec = ix->findKey(nullptr, SvIndex::kFirst); rec != -1; rec = ix->next())
      ++seen;
    t1 = now();
    if (seen != n)
      die("the scan missed keys");
    r.scan = double(n) / (t1 - t0);
    delete ix;
  }
  CacheBuffer::cleanUp();
  StorageEnv::physLayout_sd = nullptr;
  return r;
}

Rates runSqlite(std::string const& dir, std::vector<uint64_t> const& keys, std::vector<uint64_t> const& probes,
                int32_t cacheKb) {
  std::string path = dir + "/bench.sqlite";
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
    die("cannot open the SQLite database");
  std::string pragmas = "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF; PRAGMA cache_size=-" +
                        std::to_string(cacheKb) + "; CREATE TABLE t(k INTEGER PRIMARY KEY, v INTEGER);";
  if (sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
    die("cannot set up the SQLite table");
  Rates r;
  sqlite3_stmt* ins;
  sqlite3_prepare_v2(db, "INSERT INTO t(k, v) VALUES(?, ?)", -1, &ins, nullptr);
  double t0 = now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (size_t i = 0; i < keys.size(); ++i) {
    sqlite3_bind_int64(ins, 1, int64_t(keys[i] ^ 0x8000000000000000ull));
    sqlite3_bind_int(ins, 2, int(i + 1));
    if (sqlite3_step(ins) != SQLITE_DONE)
      die("SQLite insert failed");
    sqlite3_reset(ins);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  double t1 = now();
  sqlite3_finalize(ins);
  r.insert = double(keys.size()) / (t1 - t0);
  sqlite3_stmt* sel;
  sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = ?", -1, &sel, nullptr);
  int64_t found = 0;
  t0 = now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (uint64_t k : probes) {
    sqlite3_bind_int64(sel, 1, int64_t(k ^ 0x8000000000000000ull));
    found += sqlite3_step(sel) == SQLITE_ROW;
    sqlite3_reset(sel);
  }
  t1 = now();
  sqlite3_finalize(sel);
  if (found != int64_t(probes.size()))
    die("a SQLite lookup failed");
  r.lookup = double(probes.size()) / (t1 - t0);
  sqlite3_stmt* scan;
  sqlite3_prepare_v2(db, "SELECT k, v FROM t ORDER BY k", -1, &scan, nullptr);
  size_t seen = 0;
  t0 = now();
  while (sqlite3_step(scan) == SQLITE_ROW)
    ++seen;
  t1 = now();
  sqlite3_finalize(scan);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (seen != keys.size())
    die("the SQLite scan missed keys");
  r.scan = double(seen) / (t1 - t0);
  sqlite3_close(db);
  ::unlink(path.c_str());
  return r;
}

#if STORAGEBENCH_LMDB
Rates runLmdb(std::string const& dir, std::vector<uint64_t> const& keys, std::vector<uint64_t> const& probes) {
  MDB_env* env;
  mdb_env_create(&env);
  mdb_env_set_mapsize(env, size_t(keys.size()) * 128 + (size_t(64) << 20));
  if (mdb_env_open(env, dir.c_str(), MDB_NOSYNC | MDB_NOMETASYNC, 0600) != 0)
    die("cannot open the LMDB environment");
  Rates r;
  MDB_txn* txn;
  MDB_dbi dbi;
  double t0 = now();
  mdb_txn_begin(env, nullptr, 0, &txn);
  mdb_dbi_open(txn, nullptr, 0, &dbi);
  for (size_t i = 0; i < keys.size(); ++i) {
    unsigned char kb[8];
    for (int j = 0; j < 8; ++j)
      kb[j] = (unsigned char)(keys[i] >> (56 - 8 * j));
    uint32_t v = uint32_t(i + 1);
    MDB_val k{8, kb}, d{4, &v};
    if (mdb_put(txn, dbi, &k, &d, MDB_NOOVERWRITE) != 0)
      die("LMDB insert failed");
  }
  mdb_txn_commit(txn);
  double t1 = now();
  r.insert = double(keys.size()) / (t1 - t0);
  mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn);
  int64_t found = 0;
  t0 = now();
  for (uint64_t key : probes) {
    unsigned char kb[8];
    for (int j = 0; j < 8; ++j)
      kb[j] = (unsigned char)(key >> (56 - 8 * j));
    MDB_val k{8, kb}, d;
    found += mdb_get(txn, dbi, &k, &d) == 0;
  }
  t1 = now();
  if (found != int64_t(probes.size()))
    die("an LMDB lookup failed");
  r.lookup = double(probes.size()) / (t1 - t0);
  MDB_cursor* cur;
  mdb_cursor_open(txn, dbi, &cur);
  MDB_val k, d;
  size_t seen = 0;
  t0 = now();
  for (int rc = mdb_cursor_get(cur, &k, &d, MDB_FIRST); rc == 0; rc = mdb_cursor_get(cur, &k, &d, MDB_NEXT))
    ++seen;
  t1 = now();
  mdb_cursor_close(cur);
  mdb_txn_abort(txn);
  if (seen != keys.size())
    die("the LMDB scan missed keys");
  r.scan = double(seen) / (t1 - t0);
  mdb_env_close(env);
  ::unlink((dir + "/data.mdb").c_str());
  ::unlink((dir + "/lock.mdb").c_str());
  return r;
}
#endif

void removeDir(std::string const& dir) {
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0)
    std::fprintf(stderr, "storagebench: could not remove %s\n", dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  long n = 1000000;
  int32_t pageKb = 1;
  int32_t cacheMb = 64;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--page-kb" && i + 1 < argc)
      pageKb = std::atoi(argv[++i]);
    else if (a == "--cache-mb" && i + 1 < argc)
      cacheMb = std::atoi(argv[++i]);
    else if (!a.empty() && a[0] != '-')
      n = std::atol(a.c_str());
    else
      die("usage: storagebench [N] [--page-kb K] [--cache-mb M]");
  }
  if (n < 1 || n > 100000000 || pageKb < 1 || pageKb > 16 || cacheMb < 1)
    die("usage: storagebench [N] [--page-kb 1..16] [--cache-mb M]; N from 1 to 100000000");
  svstore::StorageEnv::startUpAsServer();

  std::mt19937_64 rng(20261210);
  std::set<uint64_t> seen;
  std::vector<uint64_t> keys;
  keys.reserve(size_t(n));
  while (keys.size() < size_t(n)) {
    uint64_t k = rng();
    if (seen.insert(k).second)
      keys.push_back(k);
  }
  seen.clear();
  std::vector<uint64_t> probes = keys;
  std::shuffle(probes.begin(), probes.end(), rng);

  char tmpl[] = "/tmp/storagebench.XXXXXX";
  char const* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/storagebench.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  char* dirp = mkdtemp(buf.data());
  if (!dirp)
    dirp = mkdtemp(tmpl);
  if (!dirp)
    die("cannot make a temporary directory");
  std::string dir = dirp;
  int32_t cacheKb = cacheMb * 1024;

  Rates ours = runOurs(dir, keys, probes, pageKb, cacheKb);
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  long peak = ru.ru_maxrss;
  Rates lite = runSqlite(dir, keys, probes, cacheKb);
#if STORAGEBENCH_LMDB
  Rates lm = runLmdb(dir, keys, probes);
#endif
  removeDir(dir);

  auto line = [&](char const* phase, double o, double s, [[maybe_unused]] double l) {
    std::printf("%s ours=%.0f/s sqlite=%.0f/s ratio_sqlite=%.2f", phase, o, s, o / s);
#if STORAGEBENCH_LMDB
    std::printf(" lmdb=%.0f/s ratio_lmdb=%.2f", l, o / l);
#endif
    std::printf("\n");
  };
#if STORAGEBENCH_LMDB
  line("insert", ours.insert, lite.insert, lm.insert);
  line("lookup", ours.lookup, lite.lookup, lm.lookup);
  line("scan", ours.scan, lite.scan, lm.scan);
#else
  line("insert", ours.insert, lite.insert, 1);
  line("lookup", ours.lookup, lite.lookup, 1);
  line("scan", ours.scan, lite.scan, 1);
#endif
  std::printf("cache_kb=%d peak_rss_kb=%ld\n", cacheKb, peak);
  return 0;
}
