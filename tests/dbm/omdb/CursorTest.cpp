// Cursors over a live server's table of 1,200 records: blocks come forward
// and backward in key order, the last block of a walk is negative, the
// count equals the table's, a range is sent once per walk (not with every
// block), a range of keys is honoured, a key-fields-only cursor gets keys,
// counting in the middle of a walk neither resends the range nor restarts
// the walk, and a first record locked by another client gives -2.
#include <gtest/gtest.h>

#include <zeph/Cursors.h>

#include <vector>

#include "RecordSupport.h"

namespace {

using namespace omtest;

constexpr int32_t kRows = 1200;

class Cursors : public RecordFixture {
protected:
  void SetUp() override {
    RecordFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    BeginTransaction();
    for (int32_t id = 1; id <= kRows; ++id) {
      fill(id, id % 2 ? "odd" : "even", id, 1, 1, id, 0, 0);
      ASSERT_EQ(AddRecord(table_), 0);
    }
    ASSERT_EQ(EndTransaction(), 1);
    ASSERT_EQ(TabNRecords(table_), kRows);
  }

  // Walks the cursor to its end in one direction: the ids met, and the
  // blocks fetched (a block starts where the position lands on its first
  // entry).
  std::vector<int32_t> walk(int32_t cur, bool forward, int32_t* blocks = nullptr) {
    std::vector<int32_t> ids;
    s_dbcurs* c = _GetCursorPtr(cur);
    int32_t n = 0;
    for (;;) {
      int32_t r = forward ? FetchCursor(cur) : FetchCursorPrev(cur);
      if (r < 0) break;
      if (c->pos == (forward ? 0 : c->capacity - 1)) ++n;
      EXPECT_EQ(recno(), r);
      ids.push_back(getLong(fId));
    }
    if (blocks) *blocks = n;
    return ids;
  }
};

TEST_F(Cursors, BlocksComeForwardAndBackwardInKeyOrderWithOneRangeAWalk) {
  int32_t cur = CreateCursor(table_, 0);
  ASSERT_GT(cur, 0) << server().log();
  int32_t blocks = 0;
  std::vector<int32_t> ids;
  int32_t requests = sent([&] { ids = walk(cur, true, &blocks); });
  ASSERT_EQ(ids.size(), size_t(kRows));
  for (int32_t i = 0; i < kRows; ++i) ASSERT_EQ(ids[size_t(i)], i + 1);
  EXPECT_GT(blocks, 1);
  EXPECT_LT(_GetCursorPtr(cur)->fnrec, 0);  // the last block is negative
  EXPECT_EQ(requests, blocks + 1);          // the blocks and one range

  ASSERT_EQ(_RewindCursor(cur), 0);
  ids = walk(cur, false);
  ASSERT_EQ(ids.size(), size_t(kRows));
  for (int32_t i = 0; i < kRows; ++i) ASSERT_EQ(ids[size_t(i)], kRows - i);
  EXPECT_LT(_GetCursorPtr(cur)->bnrec, 0);

  EXPECT_EQ(CountCursor(cur), TabNRecords(table_));
  // Counting starts the walk again.
  EXPECT_GT(FetchCursor(cur), 0);
  EXPECT_EQ(getLong(fId), 1);
  EXPECT_EQ(DeleteCursor(cur), 0);
}

TEST_F(Cursors, ARangeOfKeysAndAnIndexWithDuplicates) {
  int32_t cur = CreateCursor(table_, 0);
  ASSERT_GT(cur, 0);
  InitRecord(table_);
  setLong(fId, 100);
  ASSERT_EQ(SetCursorFromFld(cur, 1), 0);
  setLong(fId, 199);
  ASSERT_EQ(SetCursorFromFld(cur, 2), 0);
  std::vector<int32_t> ids = walk(cur, true);
  ASSERT_EQ(ids.size(), 100u);
  EXPECT_EQ(ids.front(), 100);
  EXPECT_EQ(ids.back(), 199);
  EXPECT_EQ(CountCursor(cur), 100);
  // The high end excluded.
  setLong(fId, 199);
  ASSERT_EQ(SetCursorFromFld(cur, 1 | 2 | 8), 0);
  EXPECT_EQ(CountCursor(cur), 0);
  EXPECT_EQ(DeleteCursor(cur), 0);

  // Index 1 (name, duplicates): "even" then "odd", each in record order.
  int32_t byName = CreateCursor(table_ | 1, 0);
  ASSERT_GT(byName, 0);
  ids = walk(byName, true);
  ASSERT_EQ(ids.size(), size_t(kRows));
  EXPECT_EQ(ids[0] % 2, 0);
  EXPECT_EQ(ids[kRows - 1] % 2, 1);
  // Both ends on one key of that index: its every record.
  InitRecord(table_);
  setText(fName, "odd");
  ASSERT_EQ(SetCursorFromFld(byName, 1 | 2), 0);
  EXPECT_EQ(CountCursor(byName), kRows / 2);
  ids = walk(byName, true);
  ASSERT_EQ(ids.size(), size_t(kRows / 2));
  for (int32_t id : ids) EXPECT_EQ(id % 2, 1) << id;
  EXPECT_EQ(DeleteCursor(byName), 0);
}

TEST_F(Cursors, AKeyFieldsOnlyCursorGetsTheKeysInKeyOrder) {
  int32_t cur = CreateCursor(table_, 0x200);
  ASSERT_GT(cur, 0);
  InitRecord(table_);
  setLong(fId, 500);
  ASSERT_EQ(SetCursorFromFld(cur, 1), 0);
  for (int32_t id = 500; id <= kRows; ++id) {
    int32_t r = FetchCursor(cur);
    ASSERT_GT(r, 0) << id;
    EXPECT_EQ(recno(), r);
    ASSERT_EQ(getLong(fId), id);
    // Only the key travels: the other fields stay empty.
    EXPECT_EQ(getText(fName), "");
    EXPECT_EQ(getLong(fCode), 0);
  }
  EXPECT_EQ(FetchCursor(cur), -1);
  EXPECT_EQ(DeleteCursor(cur), 0);
}

TEST_F(Cursors, CountingInAWalkSendsNoRangeAndTheWalkGoesOn) {
  int32_t cur = CreateCursor(table_, 0);
  ASSERT_GT(cur, 0);
  ASSERT_GT(FetchCursor(cur), 0);
  ASSERT_EQ(getLong(fId), 1);
  // Records of a block carry their creation stamp from the prefix.
  EXPECT_EQ(getShort(fCdate), CTimeStamp(table_).date);
  EXPECT_NE(getShort(fCdate), 0);
  int32_t n = -1;
  EXPECT_EQ(sent([&] { n = CountCursor(cur); }), 1);  // Cardinal only
  EXPECT_EQ(n, kRows);
  ASSERT_GT(FetchCursor(cur), 0);
  EXPECT_EQ(getLong(fId), 2);
  // A range set anew is sent with the count, and the walk starts again.
  InitRecord(table_);
  setLong(fId, 1001);
  ASSERT_EQ(SetCursorFromFld(cur, 1), 0);
  EXPECT_EQ(sent([&] { n = CountCursor(cur); }), 2);
  EXPECT_EQ(n, kRows - 1000);
  ASSERT_GT(FetchCursor(cur), 0);
  EXPECT_EQ(getLong(fId), 1001);
  EXPECT_EQ(DeleteCursor(cur), 0);
}

TEST_F(Cursors, AFirstRecordLockedElsewhereGivesMinusTwo) {
  zftest::RawReply r =
      raw().request(rawTable_, DBM_GETRECORD, Body().w(0).w(0x80 | 1 | 8).w(0).w(0).w(0).w(1).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server().log();
  int32_t cur = CreateCursor(table_, 2);  // lock each record, never wait
  ASSERT_GT(cur, 0);
  EXPECT_EQ(FetchCursor(cur), -2);
  ASSERT_TRUE(raw().send(rawTable_, DBM_FREERECORD, Body().w(0).w(0x80).w(0).w(1).words()));
  EXPECT_EQ(DeleteCursor(cur), 0);
}

}  // namespace
