// Cursors of local tables through the interface: ranges walked both ways
// over a unique and a non-unique index across block boundaries, changes of
// direction, counting, records locked by another process (kept, skipped,
// stopping a block), the SELECT refusal, and table aliases.
#include <dbm/DbInterface.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>

#include <zfound/Portable.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "LocalTable.h"

using namespace zxdbtest;

namespace {

class LocalCursor : public LocalTable {
protected:
  // Records 1..300: code 2i (unique index 0), grp i % 4 (non-unique 1).
  void fill() {
    open(0);
    for (int32_t i = 1; i <= 300; ++i) {
      set(i * 2, i % 4, i);
      ASSERT_EQ(AddRecord(tab_), i);
    }
    EndTransaction();
  }
  // A cursor over index `idx` with a block of `cap` records.
  int32_t cursor(int32_t idx, int32_t cap, int32_t flags = 0) {
    int32_t h = CreateCursor(tab_ | idx, flags);
    EXPECT_GT(h, 0);
    if (h > 0) _GetCursorPtr(h)->capacity = cap;
    return h;
  }
  // Sets one end of the range to `value` of the index's field.
  void bound(int32_t h, int32_t idx, int32_t value, int32_t which) {
    stlong(value, buf_ + (idx == 0 ? 4 : 8));
    ASSERT_EQ(SetCursorFromFld(h, which), 0);
  }
  // The codes of every fetch in one direction until -1.
  std::vector<int32_t> walk(int32_t h, int32_t dir, char const* into = nullptr) {
    std::vector<int32_t> out;
    char const* b = into ? into : buf_;
    for (int32_t n; (n = dir > 0 ? FetchCursor(h) : FetchCursorPrev(h)) > 0;) {
      EXPECT_EQ(ldlong(b + 16), n);
      out.push_back(ldlong(b + 4));
    }
    return out;
  }
};

// The codes of records 1..300 in the order of index `idx` whose key lies
// within the range; -1 marks an open end.
std::vector<int32_t> model(int32_t idx, int32_t low, bool lowx, int32_t high, bool highx) {
  std::vector<std::pair<int32_t, int32_t>> keys;  // key, record number
  for (int32_t i = 1; i <= 300; ++i) keys.push_back({idx == 0 ? i * 2 : i % 4, i});
  std::sort(keys.begin(), keys.end());
  std::vector<int32_t> out;
  for (auto [k, n] : keys) {
    if (low >= 0 && (lowx ? k <= low : k < low)) continue;
    if (high >= 0 && (highx ? k >= high : k > high)) continue;
    out.push_back(n * 2);
  }
  return out;
}

TEST_F(LocalCursor, RangesWalkBothWaysAcrossBlocks) {
  fill();
  struct Case {
    int32_t idx, low;
    bool lowx;
    int32_t high;
    bool highx;
    int32_t cap;
  };
  Case const cases[] = {
      {0, -1, false, -1, false, 7},   {0, 100, false, 150, false, 7}, {0, 100, true, 150, true, 7},
      {0, 101, false, 149, false, 1}, {0, 590, false, -1, false, 3},  {0, -1, false, 9, true, 2},
      {0, 151, false, 151, false, 7}, {0, 150, true, 152, true, 7},   {0, 300, false, 300, false, 300},
      {1, -1, false, -1, false, 7},   {1, 1, false, 2, false, 7},     {1, 1, true, 3, true, 16},
      {1, 0, true, 3, false, 75},     {1, 2, false, 2, false, 1},     {1, 4, false, -1, false, 7},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(::testing::Message() << "index " << k.idx << " [" << k.low << (k.lowx ? "x" : "") << ", "
                                      << k.high << (k.highx ? "x" : "") << "] block " << k.cap);
    int32_t h = cursor(k.idx, k.cap);
    if (k.low >= 0) bound(h, k.idx, k.low, 1 | (k.lowx ? 4 : 0));
    if (k.high >= 0) bound(h, k.idx, k.high, 2 | (k.highx ? 8 : 0));
    std::vector<int32_t> want = model(k.idx, k.low, k.lowx, k.high, k.highx);
    EXPECT_EQ(walk(h, 1), want);
    EXPECT_EQ(FetchCursor(h), -1);  // stays at the end
    EXPECT_EQ(CountCursor(h), int32_t(want.size()));
    std::reverse(want.begin(), want.end());
    EXPECT_EQ(walk(h, -1), want);  // a new start goes backward from the last
    EXPECT_EQ(DeleteCursor(h), 0);
  }
  for (int32_t idx : {0, 1}) {
    int32_t h = cursor(idx, 7);
    EXPECT_EQ(CountCursor(h), TabNRecords(tab_));
    DeleteCursor(h);
  }
}

TEST_F(LocalCursor, DirectionChangesAcrossBlockBoundaries) {
  fill();
  int32_t h = cursor(0, 3);
  // Fetch f, prev p; the codes expected (-1: none).
  struct Step {
    char op;
    int32_t code;
  };
  Step const steps[] = {{'f', 2}, {'f', 4}, {'f', 6}, {'f', 8}, {'p', 6}, {'p', 4}, {'p', 2},
                        {'p', -1}, {'p', -1}, {'f', 2}, {'f', 4}};
  for (Step const& s : steps) {
    int32_t n = s.op == 'f' ? FetchCursor(h) : FetchCursorPrev(h);
    EXPECT_EQ(n > 0 ? ldlong(buf_ + 4) : -1, s.code) << s.op;
  }
  // From the end backward, then forward again off the end.
  bound(h, 0, 590, 1);
  EXPECT_EQ(walk(h, 1), (std::vector<int32_t>{590, 592, 594, 596, 598, 600}));
  EXPECT_EQ(FetchCursorPrev(h), 300);
  EXPECT_EQ(ldlong(buf_ + 4), 600);
  EXPECT_EQ(FetchCursorPrev(h), 299);
  EXPECT_EQ(FetchCursor(h), 300);
  EXPECT_EQ(FetchCursor(h), -1);
  // Counting starts the cursor again at its first record.
  EXPECT_EQ(CountCursor(h), 6);
  EXPECT_EQ(FetchCursor(h), 295);
  // A change made after a block was fetched: the next block sees it.
  stlong(0, buf_ + 4);
  EXPECT_EQ(SetCursorFromFld(h, 0), 0);
  EXPECT_EQ(FetchCursor(h), 1);  // the block holds codes 2, 4, 6
  set(7, 3, 0);
  EXPECT_EQ(AddRecord(tab_), 301);
  EndTransaction();
  EXPECT_EQ(FetchCursor(h), 2);
  EXPECT_EQ(FetchCursor(h), 3);
  EXPECT_EQ(FetchCursor(h), 301);
  EXPECT_EQ(ldlong(buf_ + 4), 7);
  DeleteCursor(h);
}

// In a child: holds the record with `code` locked until a byte arrives on
// `go`, after writing one to `ready`.
pid_t holdLocked(int32_t code, int ready, int go) {
  pid_t p = fork();
  if (p == 0) {
    CloseAllSchemas();
    OpenSchema("shop", 0);
    stlong(code, _GetTabBuff(0x10100) + 4);
    int32_t r = GetRecord(0x10100, 1, 1, 0);
    char ch = 'x';
    ssize_t w = ::write(ready, &ch, 1);
    w = ::read(go, &ch, 1);
    (void)w;
    _exit(r > 0 ? 0 : 1);
  }
  return p;
}

// In a child: whether the record with `code` can be locked without waiting
// (0), is locked elsewhere (1), or another status.
int tryLock(int32_t code) {
  return runInChild([code] {
           CloseAllSchemas();
           OpenSchema("shop", 0);
           stlong(code, _GetTabBuff(0x10100) + 4);
           int32_t r = GetRecord(0x10100, 1, 3, 0);
           return r == -2 ? 1 : (r > 0 ? 0 : 2);
         })
      .status;
}

TEST_F(LocalCursor, LockedRecordsAreSkippedKeptOrStopTheBlock) {
  fill();
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t p = holdLocked(110, ready[1], go[0]);
  char ch;
  ASSERT_EQ(::read(ready[0], &ch, 1), 1);
  std::vector<int32_t> all = model(0, 100, false, 150, false), but = all;
  but.erase(std::find(but.begin(), but.end(), 110));
  // Skipping, without and with keeping locks: 110 is the first record of
  // the second block of 5, stepped past by its key.
  for (int32_t flags : {2, 3}) {
    SCOPED_TRACE(flags);
    int32_t h = cursor(0, 5, flags);
    bound(h, 0, 100, 1);
    bound(h, 0, 150, 2);
    EXPECT_EQ(walk(h, 1), but);
    std::vector<int32_t> back(but.rbegin(), but.rend());
    EXPECT_EQ(walk(h, -1), back);
    EXPECT_EQ(CountCursor(h), int32_t(but.size()));
    DeleteCursor(h);
  }
  // Not skipping and not locking: every record is read.
  int32_t h = cursor(0, 5, 0);
  bound(h, 0, 100, 1);
  bound(h, 0, 150, 2);
  EXPECT_EQ(walk(h, 1), all);
  DeleteCursor(h);
  // Keeping locks: the block stops before the locked record without
  // ending the walk, and holds its records until the cursor moves on.
  h = cursor(0, 50, 1);
  bound(h, 0, 100, 1);
  bound(h, 0, 150, 2);
  EXPECT_EQ(FetchCursor(h), 50);
  s_dbcurs* c = _GetCursorPtr(h);
  EXPECT_EQ(c->fnrec, 5);
  EXPECT_EQ(c->nlocked, 5);
  EXPECT_EQ(tryLock(104), 1);
  EXPECT_EQ(tryLock(112), 0);
  EXPECT_EQ(DeleteCursor(h), 0);
  EXPECT_EQ(tryLock(104), 0);
  ASSERT_EQ(::write(go[1], "x", 1), 1);
  int st = 0;
  waitpid(p, &st, 0);
  EXPECT_EQ(WEXITSTATUS(st), 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
  // Released, the record is read again by a keeping cursor.
  h = cursor(0, 50, 1);
  bound(h, 0, 100, 1);
  bound(h, 0, 150, 2);
  EXPECT_EQ(walk(h, 1), all);
  DeleteCursor(h);
}

TEST_F(LocalCursor, CursorWithoutSelectIsRefused) {
  fill();
  RunResult r = runInChild([] {
    _GetTabPtr(0x10100)->privg &= ~DB_TAB_SELECT;
    return CreateCursor(0x10100, 0) == -1 ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_NE((r.out + r.err).find("Schema shop, table item: no SELECT privilege."), std::string::npos)
      << r.out << r.err;
}

TEST_F(LocalCursor, AliasHasItsOwnBufferOverTheSameTable) {
  fill();
  int32_t alias = _CreateAlias(tab_);
  ASSERT_GT(alias, 0);
  EXPECT_NE(alias & 0xff00, tab_ & 0xff00);
  EXPECT_EQ(_GetTabPtr(alias), _GetTabPtr(tab_));
  char* ab = _GetTabBuff(alias);
  ASSERT_NE(ab, buf_);
  // A record added through the alias is found through the table.
  stlong(1001, ab + 4), stlong(1, ab + 8), stlong(7, ab + 12);
  EXPECT_EQ(AddRecord(alias), 301);
  EndTransaction();
  set(1001, 0, 0);
  EXPECT_EQ(GetRecord(tab_, 1, 0, 0), 301);
  EXPECT_EQ(ldlong(buf_ + 12), 7);
  // A cursor over the alias fills the alias's buffer only.
  int32_t h = CreateCursor(alias | 0, 0);
  ASSERT_GT(h, 0);
  stlong(1000, ab + 4);
  SetCursorFromFld(h, 1);
  EXPECT_EQ(walk(h, 1, ab), (std::vector<int32_t>{1001}));
  EXPECT_EQ(ldlong(buf_ + 4), 1001);
  set(4, 0, 0);
  EXPECT_EQ(FetchCursorPrev(h), 301);
  EXPECT_EQ(ldlong(buf_ + 4), 4);
  // A refusal names the slot the caller used.
  static int32_t told;
  DbHandler old = SetDbHandler([](int32_t table, char const*, char const*) { told = table; });
  _GetTabPtr(tab_)->privg &= ~DB_TAB_INSERT;
  for (int32_t h : {alias, tab_, alias}) {
    told = 0;
    stlong(2000 + h, _GetTabBuff(h) + 4);
    EXPECT_EQ(AddRecord(h), -1);
    EXPECT_EQ(told, h);
  }
  _GetTabPtr(tab_)->privg |= DB_TAB_INSERT;
  SetDbHandler(old);
  // Each slot keeps its own record stack.
  EXPECT_EQ(GetRecord(tab_, 0, 0, 5), 5);
  EXPECT_EQ(PushRecord(tab_), 0);
  EXPECT_EQ(GetRecord(alias, 0, 0, 7), 7);
  EXPECT_EQ(PushRecord(alias), 0);
  EXPECT_EQ(GetRecord(tab_, 0, 0, 9), 9);
  EXPECT_EQ(PopRecord(tab_), 1);
  EXPECT_EQ(ldlong(buf_ + 4), 10);
  EXPECT_EQ(PopRecord(tab_), 0);
  EXPECT_EQ(PopRecord(alias), 1);
  EXPECT_EQ(ldlong(ab + 4), 14);
  // Closing the schema frees the alias and its cursor (the sanitizer
  // build sees a leak otherwise) and leaves the table to its own slot.
  CloseAllSchemas();
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  EXPECT_EQ(FindDbTable(0x10000, "item"), tab_);
  EXPECT_EQ(TabNRecords(tab_), 301);
  EXPECT_EQ(_GetSchPtr(0x10000)->tables[2].tab, nullptr);
}

// An alias that takes a slot below its table's: the table is still found
// under its name in its own slot.
TEST_F(LocalCursor, TableIsFoundInItsOwnSlotNotItsAlias) {
  EncSchema s = itemSchema(0);
  EncTable empty;
  empty.present = false;
  for (EncIndex& i : s.tables[0].indexes)
    for (EncPart& p : i.parts) p.field = 0x200 | (p.field & 0xff);
  s.tables.insert(s.tables.begin(), empty);
  writeDescriptorFile(tmp_.path(), s);
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  ASSERT_EQ(FindDbTable(0x10000, "item"), 0x10200);
  EXPECT_EQ(_CreateAlias(0x10200), 0x10100);
  EXPECT_EQ(FindDbTable(0x10000, "item"), 0x10200);
}

}  // namespace
