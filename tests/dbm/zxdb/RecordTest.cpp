// Local tables: the data file's header and free chain, the index file's
// header and root entries, find modes, and random changes checked against an
// in-memory model through every index.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Portable.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <random>
#include <string>

#include "ChildRun.h"
#include "DescrEncoder.h"
#include "TestSupport.h"

using namespace zftest;

namespace {

// Table "item": code (long, unique index 0), grp (long, non-unique index 1).
EncSchema itemSchema(int32_t size) {
  EncSchema s;
  s.name = "shop";
  s.longs = {privEntry(0, 2, 8)};
  EncTable t;
  t.name = "item";
  t.longs = {privEntry(0, 2, 1023)};
  t.size = size;
  t.len = 16;
  EncField code;
  code.name = "code", code.itype = 3, code.len = 9, code.offset = 4;
  EncField grp;
  grp.name = "grp", grp.itype = 3, grp.len = 9, grp.offset = 8;
  EncField val;
  val.name = "val", val.itype = 3, val.len = 9, val.offset = 12;
  t.fields = {code, grp, val};
  EncIndex i0;
  i0.name = "bycode", i0.flags = 1, i0.klen = 4, i0.parts = {{3, 0, 4, 0, 4, 0x101}};
  EncIndex i1;
  i1.name = "bygrp", i1.flags = 0, i1.klen = 4, i1.parts = {{3, 0, 4, 0, 8, 0x102}};
  t.indexes = {i0, i1};
  s.tables = {t};
  return s;
}

class LocalTable : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("zxdbtest-1.0");
    env_ = std::make_unique<ScopedEnv>("dbase", tmp_.path());
  }
  void TearDown() override {
    EndTransaction();
    CloseAllSchemas();
  }
  void open(int32_t size) {
    writeDescriptorFile(tmp_.path(), itemSchema(size));
    ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
    tab_ = 0x10100;
    buf_ = _GetTabBuff(tab_);
  }
  void set(int32_t code, int32_t grp, int32_t val) {
    stlong(code, buf_ + 4);
    stlong(grp, buf_ + 8);
    stlong(val, buf_ + 12);
  }
  std::string file(char const* ext) { return readFile(tmp_.path() + "/shop/item." + ext); }

  TempDir tmp_;
  std::unique_ptr<ScopedEnv> env_;
  int32_t tab_ = 0;
  char* buf_ = nullptr;
};

int32_t at(std::string const& f, size_t off) { return ldlong(f.data() + off); }

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
  open(0);
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
}

TEST_F(LocalTable, TwoProcessesAddWithoutLoss) {
  writeDescriptorFile(tmp_.path(), itemSchema(0));
  auto writer = [&](int32_t base) {
    return [base]() {
      if (OpenSchema("shop", 0) != 0x10000) return 2;
      char* b = _GetTabBuff(0x10100);
      for (int32_t i = 0; i < 500; ++i) {
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
  EXPECT_EQ(TabNRecords(0x10100), 1000);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10100), 0);
  EXPECT_EQ(_DbVerifyConsist("t", 1, 0x10101), 0);
}

}  // namespace
