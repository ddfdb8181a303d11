// The client table cache: an exact read without locks is served from it
// without a request; it holds the last n records read; a write of a key
// (PutRecord, DelRecord, UpdateRecord) sends the next read of it to the
// server. The server's count of this process's requests shows what was
// sent.
#include <gtest/gtest.h>

#include "RecordSupport.h"

namespace {

using namespace omtest;

class Cache : public RecordFixture {
protected:
  void SetUp() override {
    RecordFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int32_t id = 1; id <= 5; ++id) {
      fill(id, "r", id * 100, 1, 1, 0, 0, 0);
      ASSERT_EQ(AddRecord(table_), 0);
    }
    ASSERT_EQ(TabNRecords(table_), 5);
  }
};

TEST_F(Cache, CachedReadsSendNothingUntilEvictedOrWritten) {
  EXPECT_EQ(TableCacheSize(table_), -1);
  EXPECT_EQ(SetTableCache(table_, -1), -1);
  ASSERT_EQ(SetTableCache(table_, 3), 0);
  EXPECT_EQ(TableCacheSize(table_), 3);

  EXPECT_EQ(sent([&] { EXPECT_GT(readId(1), 0); }), 1);
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(1), 0); }), 0);
  EXPECT_EQ(getLong(fPrice), 100);
  // A locking read is never served from the cache.
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(1, 1), 0); }), 1);

  // Four distinct reads into three entries: the first is gone.
  for (int32_t id : {2, 3, 4}) EXPECT_EQ(sent([&] { EXPECT_GT(readId(id), 0); }), 1) << id;
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(4), 0); }), 0);
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(1), 0); }), 1);

  // A put or an update of a cached key sends the next read to the server,
  // which answers the new value.
  ASSERT_EQ(sent([&] { EXPECT_GT(readId(4), 0); }), 0);
  setLong(fPrice, 444);
  ASSERT_EQ(PutRecord(table_), 0);
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(4), 0); }), 1);
  EXPECT_EQ(getLong(fPrice), 444);

  ASSERT_EQ(sent([&] { EXPECT_GT(readId(4), 0); }), 0);
  ASSERT_EQ(UpdateRecord(table_, fPrice, 4, 55500, 0), 0);
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(4), 0); }), 1);
  EXPECT_EQ(getLong(fPrice), 55500);

  ASSERT_EQ(DelRecord(table_), 0);
  EXPECT_EQ(sent([&] { EXPECT_EQ(readId(4), -1); }), 1);

  // Resizing keeps what fits; 0 frees the cache.
  ASSERT_EQ(SetTableCache(table_, 5), 0);
  EXPECT_EQ(TableCacheSize(table_), 5);
  EXPECT_EQ(SetTableCache(table_, -1), -1);
  EXPECT_EQ(TableCacheSize(table_), 5);
  ASSERT_EQ(SetTableCache(table_, 0), 0);
  EXPECT_EQ(TableCacheSize(table_), -1);
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(3), 0); }), 1);
}

// A dropped entry is zeroed, which makes its key the key of id 0: it must
// never answer a read of that key.
TEST_F(Cache, ADroppedEntryAnswersNoRead) {
  ASSERT_EQ(SetTableCache(table_, 3), 0);
  ASSERT_GT(readId(2), 0);
  ASSERT_EQ(PutRecord(table_), 0);
  EXPECT_EQ(sent([&] { EXPECT_EQ(readId(0), -1); }), 1);
  // A record of id 0 is read from the server and cached like any other.
  fill(0, "zero", 7, 1, 1, 0, 0, 0);
  ASSERT_EQ(AddRecord(table_), 0);
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(0), 0); }), 1);
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(0), 0); }), 0);
  EXPECT_EQ(getText(fName), "zero");
}

}  // namespace
