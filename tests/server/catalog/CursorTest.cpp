// Cursors and held record reads over the fixture table: block replies in
// both directions, counting, a range that cannot be read, locking cursors,
// index building, and requests held for a lock and resumed.
#include "TableFixture.h"

#include <svcatalog/SvCursor.h>
#include "LoopPort.h"

#include <blkfile/CacheBuffer.h>
#include <zfound/LoopConnection.h>

#include <cstring>
#include <functional>

namespace tabletest {
namespace {

// One request's answer: status, result word and body words.
struct Reply {
  int32_t result;
  std::vector<uint32_t> body;
  int32_t status = 0;
};

class CursorTest : public TableTest {
protected:
  void SetUp() override {
    TableTest::SetUp();
    Exception::init(true);
    makeTable();
    static char const* const names[] = {"n01", "n02", "n03", "n04", "n05", "n06",
                                        "n07", "n08", "n09", "n10", "n11", "n12"};
    // Keys 1..12 added out of order so record numbers differ from keys.
    for (int32_t id : {7, 1, 12, 3, 9, 5, 2, 11, 4, 8, 10, 6}) {
      std::string code = "c" + std::to_string(id);
      ASSERT_GT(add(id, names[id - 1], code.c_str()), 0);
      recOf[id] = current->getLast();
    }
  }
  void TearDown() override {
    delete cursor;
    cursor = nullptr;
    SvObject::con = nullptr;
    TableTest::TearDown();
  }

  // Runs fn with `in` as the request's words and answers as the dispatch
  // does: the reply the operation began, else its pending error or result.
  Reply run(std::vector<uint32_t> const& in, std::function<long()> const& fn) {
    zftest::LoopPort port;
    port.feed(in);
    Exception::last(Exception(0));
    long const r = fn();
    if (port.begun()) {
      zftest::LoopPort::Reply const got = port.take();
      return Reply{got.result, got.body, got.status};
    }
    if (Exception::last().code() != 0) return Reply{-1, {}, -Exception::last().code()};
    return Reply{int32_t(r), {}, 0};
  }
  void open(int32_t lockMode, int32_t maxRecs) {
    delete cursor;
    cursor = new SvCursor(current, current->index(0), lockMode, maxRecs);
  }
  Reply setRange(int32_t flags, int32_t from, int32_t to, std::vector<int32_t> fields = {}) {
    std::vector<uint32_t> in{uint32_t(flags), uint32_t(fields.size())};
    for (int32_t f : fields) in.push_back(uint32_t(f));
    in.push_back(uint32_t(from));
    in.push_back(uint32_t(to));
    return run(in, [&] { return cursor->setRange(&alice); });
  }
  Reply next(Client* c) { return run({}, [&] { return cursor->getNextBlock(c); }); }
  Reply prev(Client* c) { return run({}, [&] { return cursor->getPrevBlock(c); }); }
  // The keys of a keys-only block (key word, record number word per record).
  std::vector<int32_t> keysOf(Reply const& r) {
    std::vector<int32_t> keys;
    for (size_t i = 0; i + 1 < r.body.size(); i += 2) {
      keys.push_back(int32_t(r.body[i]));
      EXPECT_EQ(int32_t(r.body[i + 1]), recOf[int32_t(r.body[i])]) << "record number of key " << r.body[i];
    }
    return keys;
  }

  std::map<int32_t, int32_t> recOf;  // key -> record number
  SvCursor* cursor = nullptr;
};

std::vector<int32_t> range(int32_t a, int32_t b) {
  std::vector<int32_t> v;
  for (int32_t i = a; a <= b ? i <= b : i >= b; a <= b ? ++i : --i) v.push_back(i);
  return v;
}

TEST_F(CursorTest, BlocksForwardAndBackward) {
  struct Case {
    int32_t flags;
    bool forward;
    std::vector<int32_t> results;
    std::vector<std::vector<int32_t>> keys;
  };
  int32_t const all = SvCursor::kFromIncl | SvCursor::kToIncl | SvCursor::kKeysOnly;
  std::vector<Case> const cases = {
      {all, true, {5, 5, -2, 0}, {range(1, 5), range(6, 10), range(11, 12), {}}},
      {all | SvCursor::kAtEnd, false, {5, 5, -2, 0}, {range(12, 8), range(7, 3), range(2, 1), {}}},
      // At the end, forward reading has nothing left.
      {all | SvCursor::kAtEnd, true, {0}, {{}}},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(k.flags);
    open(0, 5);
    ASSERT_EQ(setRange(k.flags, 1, 12).result, 0);
    for (size_t i = 0; i < k.results.size(); ++i) {
      Reply const r = k.forward ? next(&alice) : prev(&alice);
      EXPECT_EQ(r.result, k.results[i]) << "block " << i;
      EXPECT_EQ(keysOf(r), k.keys[i]) << "block " << i;
    }
  }
}

TEST_F(CursorTest, DirectionChangesAndWholeRecords) {
  open(0, 5);
  ASSERT_EQ(setRange(SvCursor::kFromIncl | SvCursor::kToIncl | SvCursor::kKeysOnly, 1, 12).result, 0);
  EXPECT_EQ(keysOf(next(&alice)), range(1, 5));
  EXPECT_EQ(keysOf(next(&alice)), range(6, 10));
  // Backwards from the first record of the last block.
  Reply const back = prev(&alice);
  EXPECT_EQ(back.result, -5);
  EXPECT_EQ(keysOf(back), range(5, 1));
  EXPECT_EQ(keysOf(next(&alice)), range(6, 10));  // after the highest of that block

  // Whole records: instance id, stamp (2 words), then the five fields.
  open(0, 0);
  ASSERT_EQ(setRange(SvCursor::kFromIncl | SvCursor::kToIncl, 3, 4).result, 0);
  Reply const whole = next(&alice);
  ASSERT_EQ(whole.result, -2);
  ASSERT_FALSE(whole.body.empty());
  EXPECT_EQ(int32_t(whole.body[3]), 3);  // the id field after the prefix
  EXPECT_EQ(int32_t(whole.body.back()), recOf[4]);
  // A field list: prefix and the id only, per record.
  open(0, 0);
  ASSERT_EQ(setRange(SvCursor::kFromIncl | SvCursor::kToIncl, 3, 4, {0}).result, 0);
  Reply const listed = next(&alice);
  ASSERT_EQ(listed.result, -2);
  EXPECT_EQ(listed.body, (std::vector<uint32_t>{uint32_t(current->recInstId(recOf[3])), listed.body[1], listed.body[2],
                                                3u, uint32_t(recOf[3]), uint32_t(current->recInstId(recOf[4])),
                                                listed.body[6], listed.body[7], 4u, uint32_t(recOf[4])}));
}

TEST_F(CursorTest, BlockEndsBeforeItOutgrowsItsPart) {
  // Parts of 16 words hold one whole record: the block ends after the
  // record that filled the part (at most one part sent), and the next
  // block goes on right after it.
  open(0, 0);
  ASSERT_EQ(setRange(SvCursor::kFromIncl | SvCursor::kToIncl, 1, 12).result, 0);
  int32_t sent = 0;
  for (int round = 0; round < 12 && sent < 12; ++round) {
    zftest::LoopPort small(16);
    Exception::last(Exception(0));
    cursor->getNextBlock(&alice);
    ASSERT_TRUE(small.begun());
    zftest::LoopPort::Reply const r = small.take();
    int32_t const n = r.result < 0 ? -r.result : r.result;
    ASSERT_GE(n, 1);
    ASSERT_LE(n, 2);
    ASSERT_GE(r.body.size(), 4u);
    EXPECT_EQ(int32_t(r.body[3]), sent + 1);  // the id of its first record
    EXPECT_EQ(int32_t(r.body.back()), recOf[sent + n]);
    sent += n;
    EXPECT_EQ(r.result < 0, sent == 12);
  }
  EXPECT_EQ(sent, 12);
}

TEST_F(CursorTest, Cardinal) {
  struct Case {
    int32_t flags, from, to, want;
  };
  int32_t const inc = SvCursor::kFromIncl | SvCursor::kToIncl;
  for (Case const k : {Case{inc, 1, 12, 12}, Case{inc, 3, 6, 4}, Case{0, 3, 6, 2}, Case{inc, 13, 20, 0}}) {
    open(0, 5);
    ASSERT_EQ(setRange(k.flags, k.from, k.to).result, 0);
    EXPECT_EQ(run({}, [&] { return cursor->cardinal(&alice); }).result, k.want) << k.from << ".." << k.to;
  }
}

TEST_F(CursorTest, RangeThatFailsChangesNothingAndIsAnsweredNext) {
  int32_t const flags = SvCursor::kFromIncl | SvCursor::kToIncl | SvCursor::kKeysOnly;
  struct Case {
    char const* what;
    std::vector<uint32_t> words;
  };
  std::vector<Case> const cases = {
      {"no such field", {uint32_t(flags), 1, 99, 1, 12}},
      {"negative field", {uint32_t(flags), 1, uint32_t(-1), 1, 12}},
      {"huge list", {uint32_t(flags), 0x7fffffff}},
      {"keys missing", {uint32_t(flags), 0}},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(k.what);
    open(0, 5);
    ASSERT_EQ(setRange(flags, 1, 12).result, 0);
    ASSERT_EQ(keysOf(next(&alice)), range(1, 5));
    EXPECT_EQ(run(k.words, [&] { return cursor->setRange(&alice); }).result, -1);
    // The next request answers the error; the one after goes on where the
    // cursor was.
    Reply const answered = next(&alice);
    EXPECT_EQ(answered.result, -1);
    EXPECT_TRUE(answered.body.empty());
    EXPECT_EQ(answered.status, -kExcInvalidData);
    EXPECT_EQ(keysOf(next(&alice)), range(6, 10));
    // Cardinal answers it the same way.
    EXPECT_EQ(run(k.words, [&] { return cursor->setRange(&alice); }).result, -1);
    EXPECT_EQ(run({}, [&] { return cursor->cardinal(&alice); }).result, -1);
    EXPECT_EQ(run({}, [&] { return cursor->cardinal(&alice); }).result, 12);
  }
}

TEST_F(CursorTest, LockingCursorFreesThePreviousBlock) {
  int32_t const flags = SvCursor::kFromIncl | SvCursor::kToIncl | SvCursor::kKeysOnly;
  open(SvTable::kModeAcquire | SvTable::kModeExclusive, 5);
  ASSERT_EQ(setRange(flags, 1, 12).result, 0);
  ASSERT_EQ(next(&alice).result, 5);
  EXPECT_EQ(recordLocks(), 5);
  EXPECT_EQ(cursor->nLocked(), 5);
  ASSERT_EQ(next(&alice).result, 5);
  EXPECT_EQ(recordLocks(), 5);
  EXPECT_NE(current->findLock(recOf[6]), nullptr);
  EXPECT_EQ(current->findLock(recOf[1]), nullptr);
  ASSERT_EQ(prev(&alice).result, -5);
  EXPECT_EQ(recordLocks(), 5);
  EXPECT_EQ(cursor->nLocked(), -5);
  cursor->freeRecords(&alice);
  EXPECT_EQ(recordLocks(), 0);

  // With 0x800 the locks of each block stay.
  open(SvTable::kModeAcquire, 5);
  ASSERT_EQ(setRange(flags | SvCursor::kKeepLocks, 1, 12).result, 0);
  ASSERT_EQ(next(&alice).result, 5);
  ASSERT_EQ(next(&alice).result, 5);
  EXPECT_EQ(recordLocks(), 10);
}

TEST_F(CursorTest, BlockWaitsForItsFirstRecordAndStopsBeforeALaterOne) {
  int32_t const flags = SvCursor::kFromIncl | SvCursor::kToIncl | SvCursor::kKeysOnly;
  LockObject* lk = nullptr;
  bool created = false;
  // Bob holds key 3 exclusively: alice's block stops before it.
  ASSERT_TRUE(current->applyLock(&bob, recOf[3], 1, 0, true, &lk, created));
  open(SvTable::kModeAcquire | SvTable::kModeExclusive, 5);
  ASSERT_EQ(setRange(flags, 1, 12).result, 0);
  Reply const first = next(&alice);
  EXPECT_EQ(first.result, 2);
  EXPECT_EQ(keysOf(first), range(1, 2));
  EXPECT_EQ(first.status, 0);
  // The next block starts at key 3 and must wait: held, no answer.
  Reply const held = next(&alice);
  EXPECT_EQ(held.result, 0);
  EXPECT_TRUE(held.body.empty());
  ASSERT_NE(alice.pending(), nullptr);
  EXPECT_EQ(alice.state(), Client::STATE_BLK_LOCK);
  EXPECT_TRUE(alice.lockGiveUpTime().isNull());  // no give-up without 0x100
  // Bob frees the record: alice is woken and her block answers.
  ASSERT_TRUE(current->freeLock(&bob, recOf[3]));
  ASSERT_EQ(ClientEnv::wakeUpClient(), &alice);
  Reply const resumed = run({}, [&] { return alice.pending()->resume(&alice) ? SvObject::con->retValue() : -99; });
  EXPECT_EQ(resumed.result, 5);
  EXPECT_EQ(keysOf(resumed), range(3, 7));
  alice.clearPending();
  EXPECT_EQ(alice.state(), Client::STATE_READY);

  // A test-only cursor (bit 0x2 without 0x1) gets the error with result 0
  // and steps past the record.
  cursor->freeRecords(&alice);
  ASSERT_TRUE(current->applyLock(&bob, recOf[3], 1, 0, true, &lk, created));
  ASSERT_NE(lk, nullptr);
  open(SvTable::kModeNoWait | SvTable::kModeExclusive, 5);
  ASSERT_EQ(setRange(flags, 3, 12).result, 0);
  Reply const refused = next(&alice);
  EXPECT_EQ(refused.result, 0);
  EXPECT_EQ(refused.status, kExcLocked);  // in the block reply, not an error reply
  EXPECT_EQ(keysOf(next(&alice)), range(4, 8));
}

TEST_F(CursorTest, BuildFillsAnotherIndexInBatches) {
  SvIndex* const target = current->index(2);  // bycode
  open(0, 5);
  ASSERT_EQ(setRange(SvCursor::kFromIncl | SvCursor::kToIncl, 1, 12).result, 0);
  // The own index and a missing one are refused.
  EXPECT_EQ(run({0, 1}, [&] { return cursor->build(&alice); }).result, -1);
  EXPECT_EQ(run({9, 1}, [&] { return cursor->build(&alice); }).result, -1);
  EXPECT_EQ(run({uint32_t(-3), 1}, [&] { return cursor->build(&alice); }).result, -1);
  // Batch size 1024 / key length 6: all twelve at once, emptied first.
  EXPECT_EQ(run({2, 1}, [&] { return cursor->build(&alice); }).result, -12);
  EXPECT_EQ(run({2, 1}, [&] { return cursor->build(&alice); }).result, 0);
  EXPECT_EQ(target->count(false, nullptr, false, nullptr), 12);
  target->unLock();
  EXPECT_TRUE(target->verify(true));
  // Without clearing, the keys are already there: the duplicate is the
  // answer and the index stays whole.
  open(0, 5);
  ASSERT_EQ(setRange(SvCursor::kFromIncl | SvCursor::kToIncl, 1, 12).result, 0);
  Reply const dup = run({2, 0}, [&] { return cursor->build(&alice); });
  EXPECT_EQ(dup.result, -1);
  EXPECT_EQ(dup.status, -kExcDuplicatedKey);
  EXPECT_EQ(target->count(false, nullptr, false, nullptr), 12);
  target->unLock();
}

// Keys longer than 1024 bytes (16 KB pages): Build still adds one record
// per request instead of answering "complete" at once.
class WideBuildTest : public TableTest {
protected:
  void SetUp() override {
    TableTest::SetUp();
    tearDownCache();
    svstore::StorageEnv::cachePageSize_sd = 16 * 1024;
    ASSERT_TRUE(CacheBuffer::init(1024));
    rep = new SvTabRep(&schema, 21, "wide", "_wide.tab", "wide keys", 0, 2, 2, 0, 10, false);
    ASSERT_TRUE(rep->opened());
    addField(SvField::INT, 0, 0, "id");
    addField(SvField::STRING, 1100, 0, "text");
    rep->setRecLength(rep->nextOffset() - rep->prefixSize());
    current = new SvTable(rep, -1);
    ASSERT_NE(addIndex("pk", 0, {"id"}), nullptr);
    ASSERT_NE(addIndex("bytext", IndFlag::kDup, {"text"}), nullptr);
    for (int32_t id = 1; id <= 3; ++id) {
      std::fill(current->buffer(), current->buffer() + current->recordLength(), 0);
      current->initRecord(current->buffer());
      current->setFld(0, id);
      current->setFld(1, String(std::string(1000, char('a' + id)).c_str()));
      ++svstore::StorageEnv::timeStamp;
      ASSERT_EQ(current->addCurrRecord(nullptr, true, true, -1, nullptr, 0), id);
    }
  }
};

TEST_F(WideBuildTest, BuildAddsAtLeastOneKeyPerRequest) {
  SvIndex* const target = current->index(1);
  ASSERT_GT(target->keyLength(), 1024);
  SvCursor cursor(current, current->index(0), 0, 0);
  zftest::LoopPort port;
  LoopConnection enc;
  enc << int32_t(SvCursor::kFromIncl | SvCursor::kToIncl) << int32_t(0) << int32_t(1) << int32_t(3);
  port.feed(enc.words());
  ASSERT_EQ(cursor.setRange(&alice), 0);
  std::vector<long> answers;
  for (int i = 0; i < 5; ++i) {
    port.feed({1, 1});
    answers.push_back(cursor.build(&alice));
    if (answers.back() <= 0) break;
  }
  EXPECT_EQ(answers, (std::vector<long>{1, 1, -1}));
  EXPECT_EQ(target->count(false, nullptr, false, nullptr), 3);
  target->unLock();
}

}  // namespace
}  // namespace tabletest
