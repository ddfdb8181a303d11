// Local tables: the data file's header and free chain, the index file's
// header and root entries, find modes, and random changes checked against an
// in-memory model through every index.
#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Date.h>
#include <zfound/Portable.h>
#include <zfound/ShortDate.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <algorithm>
#include <map>
#include <random>
#include <string>

#include "ChildRun.h"
#include "DescrEncoder.h"
#include "SchemaSets.h"
#include "TestSupport.h"
#include "LocalTable.h"

using namespace zftest;

namespace {

using namespace zxdbtest;

// In a child: opens "shop" and adds records with codes from..to.
int addRange(int32_t from, int32_t to, bool end) {
  if (OpenSchema("shop", 0) != 0x10000) return 2;
  char* b = _GetTabBuff(0x10100);
  for (int32_t i = from; i <= to; ++i) {
    stlong(i, b + 4);
    stlong(i % 5, b + 8);
    stlong(i, b + 12);
    if (AddRecord(0x10100) <= 0) return 3;
  }
  if (end) EndTransaction();
  return 0;
}

TEST_F(LocalTable, DataFileHeaderAndFreeChain) {
  open(0);
  for (int i = 1; i <= 3; ++i) {
    set(i, 7, i * 10);
    EXPECT_EQ(AddRecord(tab_), i);
  }
  EXPECT_EQ(EndTransaction(), 1);
  std::string f = file("tab");
  EXPECT_EQ(at(f, 0), 3);
  EXPECT_EQ(at(f, 4), 0);
  EXPECT_EQ(at(f, 8), 3);
  EXPECT_EQ(at(f, 1024), 16);
  for (int i = 4; i <= 5; ++i) set(i, 7, 0), AddRecord(tab_);
  set(3, 0, 0);
  EXPECT_EQ(DelRecord(tab_), 3);
  set(5, 0, 0);
  EXPECT_EQ(DelRecord(tab_), 5);
  EndTransaction();
  f = file("tab");
  EXPECT_EQ(at(f, 4), 5);
  EXPECT_EQ(at(f, 1024 + 4 * 16), -3);
  EXPECT_EQ(at(f, 1024 + 2 * 16), 0);
  EXPECT_EQ(GetRecord(tab_, 0, 0, 3), -1);
  set(8, 1, 0);
  EXPECT_EQ(AddRecord(tab_), 5);
  set(9, 1, 0);
  EXPECT_EQ(AddRecord(tab_), 3);
  EXPECT_EQ(TabNRecords(tab_), 5);
}

TEST_F(LocalTable, CapacityWarningsAndFull) {
  // A full table is an error that ends the process: run it in a child.
  for (int32_t size : {100, 0}) {
    writeDescriptorFile(tmp_.path(), itemSchema(size));
    RunResult r = runInChild([&] {
      if (OpenSchema("shop", 0) != 0x10000) return 2;
      char* b = _GetTabBuff(0x10100);
      for (int32_t i = 1; i <= 101; ++i) {
        stlong(i, b + 4);
        if (AddRecord(0x10100) != i) return 3;
        if (i == 100) EndTransaction();
      }
      return 4;
    });
    std::string all = r.out + r.err;
    if (size == 0) {
      EXPECT_EQ(r.status, 4);
      EXPECT_EQ(all.find("full"), std::string::npos) << all;
      continue;
    }
    size_t pos = 0;
    for (char const* want : {"75% full", "85% full", "90% full", "95% full", "98% full", "100% full",
                             "is full (100 records)"}) {
      size_t p = all.find(want, pos);
      ASSERT_NE(p, std::string::npos) << want << "\n" << all;
      pos = p;
    }
    EXPECT_EQ(all.find("80%"), std::string::npos);
    // The refused add changed nothing: 100 records, highest number 100.
    std::string f = file("tab");
    EXPECT_EQ(at(f, 0), 100);
    EXPECT_EQ(at(f, 8), 100);
    std::remove((tmp_.path() + "/shop/item.tab").c_str());
    std::remove((tmp_.path() + "/shop/item.i00").c_str());
    std::remove((tmp_.path() + "/shop/item.i01").c_str());
  }
}

TEST_F(LocalTable, IndexHeaderAndRootEntries) {
  open(0);
  // 8-byte slots: 128 per 1 KB leaf; ascending keys fill each leaf.
  for (int i = 1; i <= 300; ++i) {
    set(i, i % 3, 0);
    ASSERT_EQ(AddRecord(tab_), i);
  }
  EndTransaction();
  std::string f = file("i00");
  EXPECT_EQ(ldushort(f.data()), 1);  // one header write
  EXPECT_EQ(ldushort(f.data() + 2), 3);
  EXPECT_EQ(at(f, 4), 0);
  EXPECT_EQ(at(f, 8), 3);
  struct {
    int32_t key, count, node;
  } want[] = {{1, 128, 1}, {129, 128, 2}, {257, 44, 3}};
  for (int e = 0; e < 3; ++e) {
    size_t off = 12 + size_t(e) * 8;
    EXPECT_EQ(at(f, off), want[e].key) << e;
    EXPECT_EQ(ldushort(f.data() + off + 4), want[e].count) << e;
    EXPECT_EQ(ldushort(f.data() + off + 6), want[e].node) << e;
  }
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10100), 0);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10101), 0);
}

TEST_F(LocalTable, HeldIndexShowsHolderAndFindModes) {
  open(0);
  int32_t codes[] = {10, 20, 30, 40};
  for (int i = 0; i < 4; ++i) set(codes[i], i < 2 ? 5 : 6, 0), AddRecord(tab_);
  std::string f = file("i00");
  EXPECT_EQ(at(f, 4), -1);
  EXPECT_NE(f.substr(8, 40).find(std::to_string(getpid())), std::string::npos);
  struct Case {
    int32_t index, mode, key;
    int32_t want;
  } cases[] = {
      {0, 1, 20, 2}, {0, 1, 25, -1}, {0, 2, 20, 3}, {0, 2, 25, 3}, {0, 4, 20, 1}, {0, 8, 0, 1},
      {0, 16, 0, 4}, {0, 2, 40, -1}, {0, 4, 10, -1}, {1, 1, 6, 3},  {1, 5, 5, 2},
  };
  for (auto const& c : cases) {
    set(c.key, c.key, 0);
    stlong(0, buf_ + 16);
    EXPECT_EQ(GetRecord(tab_ | c.index, c.mode, 0, 0), c.want) << c.index << " " << c.mode << " " << c.key;
  }
  set(30, 9, 1);
  EXPECT_EQ(AddRecordTest(tab_), -1);
  set(30, 9, 77);
  EXPECT_EQ(PutRecord(tab_), 3);
  set(30, 0, 0);
  EXPECT_EQ(GetRecord(tab_, 1, 0, 0), 3);
  EXPECT_EQ(ldlong(buf_ + 12), 77);
  set(0, 9, 0);
  EXPECT_EQ(GetRecord(tab_ | 1, 1, 0, 0), 3);
}

TEST_F(LocalTable, RandomChangesMatchModel) {
  // Without caches, with record and node caches, and with the record cache
  // in window mode.
  for (int32_t cacheMode : {0, 1, 2}) {
  SCOPED_TRACE(cacheMode);
  TempDir d;
  SchemaSetSweep sweep(d.path());
  ScopedEnv env("dbase", d.path());
  writeDescriptorFile(d.path(), itemSchema(0));
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  tab_ = 0x10100;
  buf_ = _GetTabBuff(tab_);
  if (cacheMode) {
    ASSERT_EQ(SetDataCache(tab_, 1, cacheMode == 2 ? 0x1000 : 0), 0);
    ASSERT_EQ(SetIndexCache(tab_, 3), 0);
    ASSERT_EQ(SetIndexCache(tab_ | 1, 2), 0);
  }
  std::mt19937 rng(7);
  std::map<int32_t, std::pair<int32_t, int32_t>> model;  // code -> grp, val
  for (int step = 0; step < 3000; ++step) {
    int32_t code = int32_t(rng() % 700), grp = int32_t(rng() % 20), op = int32_t(rng() % 3);
    set(code, grp, step);
    if (op == 0) {
      int32_t n = AddRecord(tab_);
      EXPECT_EQ(n > 0, !model.count(code));
      if (n > 0) model[code] = {grp, step};
    } else if (op == 1) {
      EXPECT_GT(PutRecord(tab_), 0);
      model[code] = {grp, step};
    } else {
      EXPECT_EQ(DelRecord(tab_) > 0, model.count(code) == 1);
      model.erase(code);
    }
    if (step % 500 == 0) EndTransaction();
  }
  EndTransaction();
  EXPECT_EQ(TabNRecords(tab_), int32_t(model.size()));
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10100), 0);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10101), 0);
  for (auto const& [code, gv] : model) {
    set(code, 0, 0);
    ASSERT_GT(GetRecord(tab_, 1, 0, 0), 0) << code;
    EXPECT_EQ(ldlong(buf_ + 8), gv.first);
    EXPECT_EQ(ldlong(buf_ + 12), gv.second);
  }
  // Walk the non-unique index from its first key: every record once, in order.
  int32_t seen = 0, last = INT32_MIN;
  for (int32_t n = GetRecord(tab_ | 1, 8, 0, 0); n > 0; n = GetRecord(tab_ | 1, 2 | 0x40, 0, 0)) {
    EXPECT_GE(ldlong(buf_ + 8), last);
    last = ldlong(buf_ + 8);
    ++seen;
  }
  EXPECT_EQ(seen, int32_t(model.size()));
  // Cursors in blocks of 9 over both indexes: the model's order forward,
  // the same backward, and the table's count.
  std::vector<int32_t> codes;
  for (auto const& e : model) codes.push_back(e.first);
  for (int32_t idx : {0, 1}) {
    int32_t h = CreateCursor(tab_ | idx, 0);
    ASSERT_GT(h, 0);
    _GetCursorPtr(h)->capacity = 9;
    std::vector<int32_t> fwd, back;
    int32_t lastGrp = INT32_MIN;
    while (FetchCursor(h) > 0) {
      fwd.push_back(ldlong(buf_ + 4));
      if (idx == 1) {
        EXPECT_GE(ldlong(buf_ + 8), lastGrp);
      }
      lastGrp = ldlong(buf_ + 8);
    }
    EXPECT_EQ(CountCursor(h), TabNRecords(tab_));
    while (FetchCursorPrev(h) > 0) back.insert(back.begin(), ldlong(buf_ + 4));
    EXPECT_EQ(back, fwd);
    if (idx == 1) std::sort(fwd.begin(), fwd.end());
    EXPECT_EQ(fwd, codes);
    DeleteCursor(h);
  }
  CloseAllSchemas();
  }
}

TEST_F(LocalTable, TwoProcessesAddWithoutLoss) {
  writeDescriptorFile(tmp_.path(), itemSchema(0));
  auto writer = [&](int32_t base) {
    return [base]() {
      if (OpenSchema("shop", 0) != 0x10000) return 2;
      char* b = _GetTabBuff(0x10100);
      for (int32_t i = 0; i < 5000; ++i) {
        stlong(base + i, b + 4);
        stlong(i % 7, b + 8);
        stlong(i, b + 12);
        if (AddRecord(0x10100) <= 0) return 3;
        if (i % 10 == 9) EndTransaction();
      }
      EndTransaction();
      CloseAllSchemas();
      return 0;
    };
  };
  pid_t a = fork();
  if (a == 0) _exit(writer(0)());
  pid_t b = fork();
  if (b == 0) _exit(writer(100000)());
  int sa = 0, sb = 0;
  waitpid(a, &sa, 0);
  waitpid(b, &sb, 0);
  EXPECT_EQ(WEXITSTATUS(sa), 0);
  EXPECT_EQ(WEXITSTATUS(sb), 0);
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  EXPECT_EQ(TabNRecords(0x10100), 10000);
  char* rec = _GetTabBuff(0x10100);
  int32_t found = 0;
  for (int32_t base : {0, 100000})
    for (int32_t i = 0; i < 5000; ++i) {
      stlong(base + i, rec + 4);
      found += GetRecord(0x10100, 1, 0, 0) > 0 && ldlong(rec + 12) == i;
    }
  EXPECT_EQ(found, 10000);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10100), 0);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10101), 0);
}

TEST_F(LocalTable, CrashedWriterIsRepairedByTheNextUser) {
  writeDescriptorFile(tmp_.path(), itemSchema(0));
  std::string dir = tmp_.path() + "/shop/";
  // A writer that dies while it holds the table and both indexes.
  RunResult crash = runInChild([] {
    if (addRange(1, 3, false)) return 2;
    char* b = _GetTabBuff(0x10100);
    stlong(2, b + 4);
    if (DelRecord(0x10100) != 2) return 3;
    _exit(0);
  });
  ASSERT_EQ(crash.status, 0) << crash.err;
  EXPECT_EQ(at(readFile(dir + "item.i00"), 4), -1);
  EXPECT_EQ(at(readFile(dir + "item.tab"), 0), -1);
  // Without a log nothing can be undone: the next user rebuilds the marked
  // headers from the data file and goes on.
  RunResult next = runInChild([] {
    OpenSchema("shop", 0);
    stlong(1, _GetTabBuff(0x10100) + 4);
    return GetRecord(0x10100, 1, 0, 0) == 1 ? 0 : 2;
  });
  EXPECT_EQ(next.status, 0) << next.out << next.err;
  std::string tab = readFile(dir + "item.tab");
  EXPECT_EQ(at(tab, 0), 3);
  EXPECT_EQ(at(tab, 4), 2);
  EXPECT_EQ(at(tab, 8), 2);
  EXPECT_EQ(at(tab, 1024 + 16), 0);
  EXPECT_NE(at(readFile(dir + "item.i00"), 4), -1);
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  tab_ = 0x10100;
  buf_ = _GetTabBuff(tab_);
  set(3, 0, 0);
  EXPECT_EQ(GetRecord(tab_, 1, 0, 0), 3);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10100), 0);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10101), 0);
  set(9, 0, 0);
  EXPECT_EQ(AddRecord(tab_), 2);  // the rebuilt free chain
}

TEST_F(LocalTable, TableHeldMarkWithoutHolderIsRebuilt) {
  writeDescriptorFile(tmp_.path(), itemSchema(0));
  ASSERT_EQ(runInChild([] { return addRange(1, 2, true); }).status, 0);
  poke(tmp_.path() + "/shop/item.tab", 0, be32(-1));
  RunResult r = runInChild([] { return addRange(5, 5, true); });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string tab = file("tab");
  EXPECT_EQ(at(tab, 0), 3);
  EXPECT_EQ(at(tab, 8), 3);
}

TEST_F(LocalTable, BuildProgressAndDuplicateKey) {
  writeDescriptorFile(tmp_.path(), itemSchema(0));
  ASSERT_EQ(runInChild([] { return addRange(1, 250, true); }).status, 0);
  RunResult r = runInChild([] {
    OpenSchema("shop", 0);
    return BuildIndex(0x10101, 128 | 256) == 250 ? 0 : 2;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\b\b\b050"), std::string::npos);
  size_t hundred = r.out.find("\b\b\b100");
  ASSERT_NE(hundred, std::string::npos);
  EXPECT_NE(r.out.find("250 records", hundred), std::string::npos) << r.out;
  // A second record with key 7 written behind the index's back.
  std::string tab = readFile(tmp_.path() + "/shop/item.tab");
  std::string rec = tab.substr(1024 + 6 * 16, 16);
  poke(tmp_.path() + "/shop/item.tab", 1024 + 250 * 16, std::vector<uint8_t>(rec.begin(), rec.end()));
  poke(tmp_.path() + "/shop/item.tab", 0, be32(251));
  RunResult d = runInChild([] {
    OpenSchema("shop", 0);
    BuildIndex(0x10100, 128);
    return 9;
  });
  EXPECT_NE(d.status, 9);
  EXPECT_NE((d.out + d.err).find("records 7 and 251"), std::string::npos) << d.out << d.err;
  EXPECT_EQ(at(readFile(tmp_.path() + "/shop/item.i00"), 4), -1);  // left for rebuilding
  EXPECT_EQ(readFile(tmp_.path() + "/shop/item.tab").substr(1024 + 250 * 16, 16), rec);
}

TEST_F(LocalTable, IndexBadReportsTamperedCount) {
  writeDescriptorFile(tmp_.path(), itemSchema(0));
  ASSERT_EQ(runInChild([] { return addRange(1, 3, true); }).status, 0);
  mkdir((tmp_.path() + "/adm").c_str(), 0777);
  poke(tmp_.path() + "/shop/item.tab", 8, be32(2));
  // "INDEX_BAD" is read once per process: a fresh one.
  RunResult r = runProgram({ZXDB_PROBE, "add", "shop", "4"}, "",
                           {{"dbase", tmp_.path()}, {"INDEX_BAD", "1"}, {"ZEPHRA", tmp_.path()}});
  EXPECT_EQ(r.out, "add 4\n") << r.err;
  std::string line = readFile(tmp_.path() + "/adm/index.bad");
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 12 * 2) << line;  // both indexes
  EXPECT_NE(line.find("\titem\t0\t2\t4\t3\n"), std::string::npos) << line;
}

TEST_F(LocalTable, ReaderWaitsForWriterThenFindsItsRecords) {
  writeDescriptorFile(tmp_.path(), itemSchema(0));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t w = fork();
  if (w == 0) {
    ::close(ready[0]);
    int rc = addRange(1, 20, false);
    ssize_t n = ::write(ready[1], "x", 1);
    (void)n;
    sleep(5);
    EndTransaction();
    CloseAllSchemas();
    _exit(rc);
  }
  ::close(ready[1]);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  RunResult r = runInChild([] {
    if (OpenSchema("shop", 0) != 0x10000) return 2;
    stlong(17, _GetTabBuff(0x10100) + 4);
    return GetRecord(0x10100, 1, 0, 0) == 17 ? 0 : 3;
  });
  int st = 0;
  waitpid(w, &st, 0);
  EXPECT_EQ(WEXITSTATUS(st), 0);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string all = r.out + r.err;
  EXPECT_NE(all.find("Process " + std::to_string(w) + " holds a lock on item.i00"), std::string::npos) << all;
}

// Damaged bytes of either file: an error naming the file, never a crash.
TEST_F(LocalTable, DamagedFilesAreReported) {
  struct Case {
    char const* name;
    char const* ext;
    int64_t off;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"node count", "i00", 2, be16(0x7fff)},
      {"free-node head", "i00", 4, be32(999)},
      {"root count", "i00", 8, be32(5000)},
      {"root entry count", "i00", 12 + 4, be16(0)},
      {"root entry node", "i00", 12 + 6, be16(77)},
      {"root order", "i00", 12 + 8, be32(0)},
      {"highest record", "tab", 0, be32(100000)},
      {"free-record head", "tab", 4, be32(400)},
      {"record count", "tab", 8, be32(-5)},
      {"free-record link", "tab", 4, be32(3)},
  };
  for (auto const& c : cases) {
    TempDir d;
    SchemaSetSweep sweep(d.path());
    ScopedEnv env("dbase", d.path());
    writeDescriptorFile(d.path(), itemSchema(0));
    ASSERT_EQ(runInChild([] { return addRange(1, 300, true); }).status, 0);
    poke(d.path() + "/shop/item." + c.ext, c.off, c.bytes);
    std::string before = readFile(d.path() + "/shop/item." + c.ext);
    RunResult r = runInChild([] {
      if (OpenSchema("shop", 0) != 0x10000) return 2;
      char* b = _GetTabBuff(0x10100);
      stlong(1000, b + 4);
      if (AddRecord(0x10100) > 0) EndTransaction();
      stlong(150, b + 4);
      GetRecord(0x10100, 1, 0, 0);
      return 9;
    });
    EXPECT_FALSE(r.signalled) << c.name;
    EXPECT_NE(r.status, 9) << c.name;
    EXPECT_NE((r.out + r.err).find("item." + std::string(c.ext) + " is damaged"), std::string::npos)
        << c.name << ": " << r.out << r.err;
    EXPECT_EQ(readFile(d.path() + "/shop/item." + c.ext), before) << c.name;
  }
}

TEST_F(LocalTable, RefusedAddMovesNothing) {
  open(0);
  _GetTabPtr(tab_)->privg &= ~DB_TAB_INSERT;  // the descriptor's owner holds every right
  std::string got;
  static std::string* sink;
  sink = &got;
  DbHandler old = SetDbHandler([](int32_t, char const* key, char const* detail) {
    *sink += std::string(key) + " " + detail + ";";
  });
  set(1, 1, 1);
  EXPECT_EQ(AddRecord(tab_), -1);
  SetDbHandler(old);
  EXPECT_EQ(got, "IO_NO_PERMS INSERT;");
  EndTransaction();
  struct stat st{};
  EXPECT_TRUE(stat((tmp_.path() + "/shop/item.tab").c_str(), &st) != 0 || st.st_size == 0);
}

// Table "word" with a 250-byte text key: 4 slots per 1 KB leaf, 3 root
// entries in the header, a fourth moves the root behind the last node.
EncSchema wordSchema() {
  EncSchema s;
  s.name = "shop";
  s.longs = {privEntry(0, 2, 8)};
  EncTable t;
  t.name = "word";
  t.longs = {privEntry(0, 2, 1023)};
  t.size = 0;
  t.len = 254;
  EncField w;
  w.name = "w", w.type = 1, w.itype = 0, w.len = 249, w.offset = 4;
  t.fields = {w};
  EncIndex i0;
  i0.name = "byw", i0.flags = 1, i0.klen = 250, i0.parts = {{0, 0, 250, 0, 4, 0x101}};
  t.indexes = {i0};
  s.tables = {t};
  return s;
}

TEST_F(LocalTable, IndexGoldenSplitsMergesAndRootBehindNodes) {
  writeDescriptorFile(tmp_.path(), wordSchema());
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  int32_t tab = 0x10100;
  char* b = _GetTabBuff(tab);
  std::string path = tmp_.path() + "/shop/word.i00";
  auto put = [&](char const* w) {
    memset(b + 4, 0, 250);
    strcpy(b + 4, w);
  };
  auto add = [&](char const* w) {
    put(w);
    return AddRecord(tab);
  };
  auto del = [&](char const* w) {
    put(w);
    return DelRecord(tab);
  };
  struct Entry {
    char const* key;
    int32_t count, node;
  };
  // The root as stored: in the header or behind the last node.
  auto root = [&](std::vector<Entry> const& want, int32_t nodes, int32_t freeHead) {
    std::string f = readFile(path);
    ASSERT_GE(f.size(), 1024u);
    EXPECT_EQ(ldushort(f.data() + 2), nodes);
    EXPECT_EQ(at(f, 4), freeHead);
    ASSERT_EQ(at(f, 8), int32_t(want.size()));
    size_t base = want.size() * 254 <= 1012 ? 12 : 1024 + size_t(nodes) * 1024;
    ASSERT_GE(f.size(), base + want.size() * 254);
    for (size_t e = 0; e < want.size(); ++e) {
      char const* p = f.data() + base + e * 254;
      EXPECT_STREQ(p, want[e].key) << e;
      EXPECT_EQ(ldushort(p + 250), want[e].count) << e;
      EXPECT_EQ(ldushort(p + 252), want[e].node) << e;
    }
  };
  for (char const* w : {"b", "d", "f", "h"}) ASSERT_GT(add(w), 0);
  std::string held = readFile(path);
  EXPECT_EQ(at(held, 4), -1);
  char pid[8];
  snprintf(pid, sizeof pid, "%6d", int(getpid()));
  EXPECT_EQ(held.substr(8, 6), pid);
  EndTransaction();
  root({{"b", 4, 1}}, 1, 0);
  EXPECT_EQ(ldushort(readFile(path).data()), 1);
  add("j");  // at the end of a full leaf: a new empty node
  EndTransaction();
  root({{"b", 4, 1}, {"j", 1, 2}}, 2, 0);
  add("c");  // in the middle: the upper half moves
  EndTransaction();
  root({{"b", 3, 1}, {"f", 2, 3}, {"j", 1, 2}}, 3, 0);
  for (char const* w : {"k", "l", "m", "n"}) add(w);
  EndTransaction();
  root({{"b", 3, 1}, {"f", 2, 3}, {"j", 4, 2}, {"n", 1, 4}}, 4, 0);
  EXPECT_EQ(ldushort(readFile(path).data()), 4);  // one header write per transaction
  // Reopened, the root comes back from behind the last node.
  CloseAllSchemas();
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  b = _GetTabBuff(tab);
  for (char const* w : {"b", "c", "d", "f", "h", "j", "k", "l", "m", "n"}) {
    put(w);
    EXPECT_GT(GetRecord(tab, 1, 0, 0), 0) << w;
  }
  EXPECT_EQ(_DbVerifyConsist("t", 1, tab), 0);
  // Deletes merge a leaf with its neighbour and free the emptied node.
  EXPECT_GT(del("n"), 0);
  EndTransaction();
  root({{"b", 3, 1}, {"f", 2, 3}, {"j", 4, 4}}, 4, 2);
  EXPECT_GT(del("c"), 0);
  EndTransaction();
  root({{"b", 4, 1}, {"j", 4, 4}}, 4, 3);
  EXPECT_EQ(ldushort(readFile(path).data() + 1024 + 2 * 1024), 2);  // node 3 links to node 2
  EXPECT_EQ(_DbVerifyConsist("t", 1, tab), 0);
  CloseAllSchemas();
}

TEST_F(LocalTable, OneLeafEmptiedFreesNodeOneForReuse) {
  open(0);
  set(5, 5, 0);
  AddRecord(tab_);
  set(6, 5, 0);
  AddRecord(tab_);
  set(7, 6, 0);
  AddRecord(tab_);
  EndTransaction();
  // Non-unique root entry: key, record number, count, node.
  std::string f = file("i01");
  EXPECT_EQ(at(f, 12), 5);
  EXPECT_EQ(at(f, 16), 1);
  EXPECT_EQ(ldushort(f.data() + 20), 3);
  EXPECT_EQ(ldushort(f.data() + 22), 1);
  for (int32_t k : {5, 6, 7}) set(k, 0, 0), DelRecord(tab_);
  EndTransaction();
  f = file("i00");
  EXPECT_EQ(at(f, 8), 0);
  EXPECT_EQ(at(f, 4), 1);
  set(9, 1, 0);
  AddRecord(tab_);
  EndTransaction();
  f = file("i00");
  EXPECT_EQ(ldushort(f.data() + 2), 1);
  EXPECT_EQ(at(f, 4), 0);
  EXPECT_EQ(ldushort(f.data() + 12 + 6), 1);
}

}  // namespace

TEST_F(LocalTable, FindRecordFillsOnlyKeyFieldsAndLocks) {
  open(0);
  for (int32_t i = 1; i <= 5; ++i) {
    set(i, i % 2, i * 10);
    ASSERT_EQ(AddRecord(tab_), i);
  }
  EndTransaction();
  struct Case {
    int32_t index, mode, nparts, code, grp, want;
  } const cases[] = {
      {0, 1, 0, 3, 99, 3},   // equal through the unique index
      {0, 1, 0, 9, 99, -1},  // no such key
      {0, 2, 0, 3, 99, 4},   // next
      {0, 4, 0, 3, 99, 2},   // previous
      {0, 8, 0, 0, 99, 1},   // first
      {0, 16, 0, 0, 99, 5},  // last
      {1, 1, 1, 99, 0, 2},   // first duplicate of grp 0
      {1, 1, 1, 99, 1, 1},   // first duplicate of grp 1
  };
  for (Case const& c : cases) {
    set(c.code, c.grp, 777);
    stlong(0, buf_ + 16);
    int32_t n = FindRecord(tab_ + c.index, c.mode, c.nparts);
    EXPECT_EQ(n, c.want) << c.index << " " << c.mode;
    if (n > 0) {
      EXPECT_EQ(ldlong(buf_ + 16), n);
      // The key field is the found record's; the other fields are untouched.
      EXPECT_EQ(ldlong(buf_ + 4 + 4 * c.index), c.index == 0 ? n : n % 2);
      EXPECT_EQ(ldlong(buf_ + 8 - 4 * c.index), c.index == 0 ? c.grp : c.code);
      EXPECT_EQ(ldlong(buf_ + 12), 777);
    }
    // The buffer now holds the found key: an equal search frees that record.
    if (n > 0) {
      EXPECT_EQ(FreeRecord(tab_ + c.index, 1, c.nparts), n);
    }
  }
  // A found record is locked against other processes until FreeRecord.
  auto tryLock = [] {
    stlong(3, _GetTabBuff(0x10100) + 4);
    return GetRecord(0x10100, 1, 3, 0) + 10;
  };
  set(3, 0, 0);
  ASSERT_EQ(FindRecord(tab_, 1, 0), 3);
  EXPECT_EQ(runInChild(tryLock).status, 8);
  set(3, 0, 0);
  EXPECT_EQ(FreeRecord(tab_, 1, 0), 3);
  EXPECT_EQ(runInChild(tryLock).status, 13);
  // Mode 0 (by record number) is an error for both calls.
  for (auto call : {&FindRecord, &FreeRecord}) {
    RunResult r = runInChild([&] { return call(0x10100, 0, 0) + 10; });
    EXPECT_NE((r.out + r.err).find("records are found by key only"), std::string::npos) << r.out << r.err;
  }
}

TEST_F(LocalTable, PushPopDiscardAndLockTable) {
  open(0);
  for (int32_t i = 1; i <= 4; ++i) {
    set(i, 0, i * 10);
    ASSERT_EQ(AddRecord(tab_), i);
  }
  EndTransaction();
  auto get = [&](int32_t code) {
    set(code, 0, 0);
    return GetRecord(tab_, 1, 0, 0);
  };
  EXPECT_EQ(DiscardRecord(tab_), -1);
  EXPECT_EQ(PopRecord(tab_), 0);
  ASSERT_EQ(get(2), 2);
  EXPECT_EQ(PushRecord(tab_), 0);
  ASSERT_EQ(get(4), 4);
  EXPECT_EQ(PushRecord(tab_), 0);
  ASSERT_EQ(get(1), 1);
  EXPECT_EQ(PushRecord(tab_), 0);
  EXPECT_EQ(DiscardRecord(tab_), 0);  // drops record 1
  set(0, 0, 0);
  EXPECT_EQ(PopRecord(tab_), 1);
  EXPECT_EQ(ldlong(buf_ + 4), 4);
  EXPECT_EQ(ldlong(buf_ + 12), 40);
  // A saved record deleted meanwhile is not found again.
  set(2, 0, 0);
  ASSERT_EQ(DelRecord(tab_), 2);
  EndTransaction();
  EXPECT_EQ(PopRecord(tab_), 0);
  EXPECT_EQ(PopRecord(tab_), 0);

  // The whole table locked here: another process is refused the table and a
  // record until FreeTable.
  ASSERT_EQ(LockTable(tab_, 3), 0);
  EXPECT_EQ(LockTable(tab_, 3), 0);
  auto other = [] {
    // A fresh open: the forked copy of this process's lock state is not the child's.
    CloseAllSchemas();
    if (OpenSchema("shop", 0) != 0x10000) return 99;
    int32_t whole = LockTable(0x10100, 3);
    stlong(1, _GetTabBuff(0x10100) + 4);
    int32_t one = GetRecord(0x10100, 1, 3, 0);
    return (whole + 2) * 10 + one + 2;
  };
  EXPECT_EQ(runInChild(other).status, 0);  // -2 and -2
  // Records read and written under the whole lock keep it.
  set(3, 1, 31);
  EXPECT_EQ(PutRecord(tab_), 3);
  EndTransaction();
  EXPECT_EQ(runInChild(other).status, 0);
  EXPECT_EQ(FreeTable(tab_), 0);
  EXPECT_EQ(runInChild(other).status, 23);  // 0 and 1
}

TEST_F(LocalTable, RecordNotFoundShowsTheKey) {
  open(0);
  set(1, 0, 0);
  ASSERT_EQ(AddRecord(tab_), 1);
  EndTransaction();
  RunResult r = runInChild([] {
    stlong(42, _GetTabBuff(0x10100) + 4);
    return GetRecord(0x10100, 1, 4, 0) + 10;
  });
  std::string all = r.out + r.err;
  EXPECT_NE(all.find("Schema shop, table item: no record with key 42 ."), std::string::npos) << all;
}

// Table "item" with creation (cdate, ctime, cuser) and modification stamps.
EncSchema stampSchema() {
  EncSchema s = itemSchema(0);
  EncTable& t = s.tables[0];
  t.flags = 2 | 4;
  t.len = 28;
  auto field = [](char const* name, uint16_t type, uint16_t itype, uint16_t len, uint16_t off, uint16_t flags) {
    EncField f;
    f.name = name, f.type = type, f.itype = itype, f.len = len, f.offset = off, f.flags = flags;
    return f;
  };
  t.fields.push_back(field("cdate", 2, 2, 2, 16, 0x40));
  t.fields.push_back(field("ctime", 3, 2, 2, 18, 0x40));
  t.fields.push_back(field("cuser", 0, 3, 5, 20, 0x40));
  t.fields.push_back(field("mdate", 2, 2, 2, 24, 0x80));
  t.fields.push_back(field("mtime", 3, 2, 2, 26, 0x80));
  return s;
}

TEST_F(LocalTable, StampsAreShortDatesAndKeptOrGiven) {
  writeDescriptorFile(tmp_.path(), stampSchema());
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  buf_ = _GetTabBuff(tab_ = 0x10100);
  int16_t before = Today();
  set(1, 0, 0);
  ASSERT_EQ(AddRecord(tab_), 1);
  int16_t after = Today();
  time_stamp c = CTimeStamp(tab_), m = MTimeStamp(tab_);
  // Days from 1 January 1984, the time in two-second units plus 1.
  EXPECT_TRUE(c.date == before || c.date == after) << c.date;
  EXPECT_TRUE(c.time >= 1 && c.time <= 43200) << c.time;
  EXPECT_EQ(c.user, int16_t(ProcUserId()));
  EXPECT_EQ(m.date, c.date);
  // A replacement keeps the stored creation stamp whatever the buffer holds.
  stshort(5, buf_ + 16);
  stshort(6, buf_ + 18);
  ASSERT_EQ(PutRecord(tab_), 1);
  set(1, 0, 0);
  ASSERT_EQ(GetRecord(tab_, 1, 0, 0), 1);
  time_stamp c2 = CTimeStamp(tab_);
  EXPECT_EQ(c2.date, c.date);
  EXPECT_EQ(c2.time, c.time);

  // Given stamps are stored as they are, the automatic ones switched off.
  time_stamp given[] = {{100, 1234, 0, 7}, {200, -2, 0, 8}};
  set(2, 0, 0);
  ASSERT_EQ(AddRecordTS(tab_, &given[0], &given[1]), 2);
  EndTransaction();
  set(2, 0, 0);
  ASSERT_EQ(GetRecord(tab_, 1, 0, 0), 2);
  c = CTimeStamp(tab_), m = MTimeStamp(tab_);
  EXPECT_EQ(c.time, 100);
  EXPECT_EQ(c.date, 1234);
  EXPECT_EQ(c.user, 7);
  EXPECT_EQ(m.time, 200);
  EXPECT_EQ(m.date, -2);
  EXPECT_EQ(ldshort(buf_ + 16), 1234);

  // The download stamp at 512 survives header holds.
  time_stamp d{300, 15000, 0, 9};
  ASSERT_EQ(SetDownLoadTS(tab_, &d), 0);
  set(3, 0, 0);
  ASSERT_EQ(AddRecord(tab_), 3);
  EndTransaction();
  time_stamp back = GetDownLoadTS(tab_);
  EXPECT_EQ(back.time, 300);
  EXPECT_EQ(back.date, 15000);
  EXPECT_EQ(back.user, 9);
  std::string f = file("tab");
  EXPECT_EQ(at(f, 512), 300);
  EXPECT_EQ(at(f, 516), 15000);
  EXPECT_EQ(ldshort(f.data() + 522), 9);
  EXPECT_EQ(at(f, 0), 3);

  // The data file's modification time in the short forms.
  struct stat st{};
  ASSERT_EQ(stat((tmp_.path() + "/shop/item.tab").c_str(), &st), 0);
  struct tm tmv;
  time_t mt = st.st_mtime;
  localtime_r(&mt, &tmv);
  time_stamp tt = TableTimeStamp(tab_);
  EXPECT_EQ(tt.date, _dmy_to_date(tmv.tm_mday, tmv.tm_mon + 1, tmv.tm_year + 1900));
  EXPECT_EQ(tt.time, (tmv.tm_hour * 3600 + tmv.tm_min * 60 + tmv.tm_sec) / 2 + 1);
  EXPECT_EQ(tt.spare, -1);
  EXPECT_EQ(tt.user, -1);
}

// Records added in order through a record cache smaller than them reach
// the data file each in its own slot (the cache writes runs of them at
// once), and a new slot is never read before it is written.
TEST_F(LocalTable, CachedAddsReachTheirSlots) {
  open(0);
  ASSERT_EQ(SetDataCache(tab_, 1, 0), 0);  // 64 records of 16 bytes
  BeginTransaction();
  for (int32_t i = 1; i <= 300; ++i) {
    set(i * 3, i % 5, -i);
    ASSERT_EQ(AddRecord(tab_), i);
  }
  ASSERT_EQ(EndTransaction(), 1);
  CloseAllSchemas();
  std::string f = file("tab");
  ASSERT_EQ(f.size(), size_t(1024 + 300 * 16));
  for (int32_t i = 1; i <= 300; ++i) {
    size_t off = 1024 + size_t(i - 1) * 16;
    ASSERT_EQ(at(f, off), 16) << i;
    EXPECT_EQ(at(f, off + 4), i * 3);
    EXPECT_EQ(at(f, off + 12), -i);
  }
}
