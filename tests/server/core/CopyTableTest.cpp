// Table copy in slices: Activation answers 30 while work remains and 0 when
// done (and again after), the target keeps the source's record numbers with
// the gaps, and a key the target refuses ends the copy with the target
// emptied again and its locks and tables freed.
#include "../catalog/TableFixture.h"

#include <svcore/CopyTable.h>

namespace tabletest {
namespace {

class CopyTableTest : public TableTest {
protected:
  void SetUp() override {
    TableTest::SetUp();
    Exception::init(true);
    makeTable(0, sourceIndexed());
    for (int32_t id = 1; id <= 40; ++id) {
      std::string code = "c" + std::to_string(id);
      ASSERT_EQ(add(id, "n", code.c_str()), id);
    }
    for (int32_t gap : {3, 17, 18, 40}) ASSERT_EQ(current->delRecordNo(nullptr, gap, nullptr, false), gap);
    twin(0, target);
  }
  void TearDown() override {
    delete target;  // the twin's current attachment owns its representation
    target = nullptr;
    TableTest::TearDown();
  }
  virtual bool sourceIndexed() const { return true; }
  std::vector<long> activate(CopyTable& job) {
    std::vector<long> answers;
    for (int i = 0; i < 20; ++i) {
      Exception::last(Exception(0));
      answers.push_back(job.activation(&alice));
      if (answers.back() != 30) break;
    }
    return answers;
  }

  SvTable* target = nullptr;
};

TEST_F(CopyTableTest, SlicesKeepRecordNumbersAndGaps) {
  CopyTable job(current, target);
  EXPECT_EQ(job.estimation(&alice), -1);  // a copy gives no estimate
  std::vector<long> const answers = activate(job);
  ASSERT_GE(answers.size(), 2u);
  EXPECT_EQ(answers.front(), 30);
  EXPECT_EQ(answers.back(), 0);
  EXPECT_EQ(job.activation(&alice), 0);  // after the end, 0 again
  EXPECT_EQ(job.state(), CopyTable::kDone);

  SvIndex* const pk = target->index(0);
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->count(false, nullptr, false, nullptr), 36);
  pk->unLock();
  for (int32_t n = 0; n < target->nIndexSlots(); ++n)
    if (SvIndex* ix = target->index(n)) {
      EXPECT_TRUE(ix->verify(true));
    }
  for (int32_t id = 1; id <= 39; ++id) {
    bool const gap = id == 3 || id == 17 || id == 18;
    SCOPED_TRACE(id);
    std::fill(target->buffer(), target->buffer() + target->recordLength(), 0);
    target->setFld(0, id);
    pk->buildKey(target->buffer(), 0);
    EXPECT_EQ(pk->findKey(&alice, SvIndex::kExact), gap ? -1 : id);
    pk->unLock();
    if (gap) continue;
    ASSERT_TRUE(target->fillBuffer(id));
    int32_t got = 0;
    target->getFld(0, got);
    EXPECT_EQ(got, id);
    EXPECT_EQ(target->recInstId(), current->recInstId(id));
  }
  // Both table locks were freed: bob may lock either table.
  svcatalog::LockObject* out = nullptr;
  EXPECT_TRUE(target->applyTabLock(&bob, 1, 0, true, &out));
  EXPECT_EQ(Exception::last().code(), 0);
  target->tabRep()->freeTabLock(&bob);
}

// The records in use are found from the source's free lists, not from an
// index: a source without any index copies every record and keeps its gaps.
class CopyUnindexedTest : public CopyTableTest {
protected:
  bool sourceIndexed() const override { return false; }
};

TEST_F(CopyUnindexedTest, EveryRecordInUseIsCopied) {
  ASSERT_EQ(current->nIndexSlots(), 0);
  CopyTable job(current, target);
  std::vector<long> const answers = activate(job);
  ASSERT_GE(answers.size(), 2u);
  EXPECT_EQ(answers.back(), 0);
  SvIndex* const pk = target->index(0);
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->count(false, nullptr, false, nullptr), 36);
  pk->unLock();
  EXPECT_TRUE(pk->verify(true));
  EXPECT_EQ(target->tabRep()->nReg(), 36);
  for (int32_t id = 1; id <= 39; ++id) {
    SCOPED_TRACE(id);
    std::fill(target->buffer(), target->buffer() + target->recordLength(), 0);
    target->setFld(0, id);
    pk->buildKey(target->buffer(), 0);
    bool const gap = id == 3 || id == 17 || id == 18;
    EXPECT_EQ(pk->findKey(&alice, SvIndex::kExact), gap ? -1 : id);
    pk->unLock();
    if (gap) continue;
    ASSERT_TRUE(target->fillBuffer(id));
    String code;
    target->getFld(2, code);
    EXPECT_EQ(zftest::str(code), "c" + std::to_string(id));
  }
}

TEST_F(CopyTableTest, RefusedKeyEndsTheCopyWithLocksFreed) {
  // A unique index on name in the target: every source record is named "n".
  SvTabRep* const keep = rep;
  rep = target->tabRep();
  std::swap(current, target);
  ASSERT_NE(addIndex("uname", 0, {"name"}), nullptr);
  std::swap(current, target);
  rep = keep;
  alice.beginTrans(1, 0);
  int32_t const fromRefs = current->refCount();
  int32_t const toRefs = target->refCount();
  CopyTable job(current, target);
  std::vector<long> const answers = activate(job);
  EXPECT_EQ(answers.back(), -1);
  EXPECT_EQ(Exception::last().code(), kExcDuplicatedKey);
  EXPECT_TRUE(alice.transAborted());
  EXPECT_EQ(job.state(), CopyTable::kDone);
  EXPECT_EQ(job.activation(&alice), 0);
  // The records copied before the refusal are gone with their keys, and the
  // job, though not yet detached, holds neither table.
  EXPECT_EQ(target->tabRep()->nReg(), 0);
  for (int32_t n = 0; n < target->nIndexSlots(); ++n)
    if (SvIndex* ix = target->index(n)) {
      EXPECT_EQ(ix->count(false, nullptr, false, nullptr), 0) << n;
      ix->unLock();
      EXPECT_TRUE(ix->verify(true)) << n;
    }
  EXPECT_FALSE(job.uses(current));
  EXPECT_EQ(current->refCount(), fromRefs);
  EXPECT_EQ(target->refCount(), toRefs);
  alice.delTrans();
  svcatalog::LockObject* out = nullptr;
  for (SvTable* t : {current, target}) {
    EXPECT_TRUE(t->applyTabLock(&bob, 1, 0, true, &out));
    EXPECT_EQ(Exception::last().code(), 0);
    t->tabRep()->freeTabLock(&bob);
  }
}

TEST_F(CopyTableTest, IndexRebuildOfATableOntoItself) {
  ASSERT_TRUE(CopyTable::rebuildIndices(&alice, current));
  for (int32_t n = 0; n < current->nIndexSlots(); ++n) {
    SvIndex* const ix = current->index(n);
    ASSERT_NE(ix, nullptr);
    EXPECT_EQ(ix->count(false, nullptr, false, nullptr), 36);
    ix->unLock();
    EXPECT_TRUE(ix->verify(true));
  }
}

TEST_F(CopyTableTest, ACopyGivenUpHalfWayFreesItsTableLocks) {
  {
    CopyTable job(current, target);
    ASSERT_EQ(job.activation(&alice), 30);  // both tables locked, work left
  }
  svcatalog::LockObject* out = nullptr;
  for (SvTable* t : {current, target}) {
    EXPECT_TRUE(t->applyTabLock(&bob, 1, 0, true, &out));
    EXPECT_EQ(Exception::last().code(), 0);
    t->tabRep()->freeTabLock(&bob);
  }
}

TEST_F(CopyTableTest, BusyTargetEndsTheCopyAtOnce) {
  svcatalog::LockObject* out = nullptr;
  ASSERT_TRUE(target->applyTabLock(&bob, 1, 0, true, &out));
  alice.beginTrans(1, 0);
  CopyTable job(current, target);
  EXPECT_EQ(job.activation(&alice), -1);
  EXPECT_EQ(Exception::last().code(), kExcModLocked);
  EXPECT_TRUE(alice.transAborted());  // answered as an abort
  EXPECT_EQ(job.activation(&alice), 0);
  alice.delTrans();
  target->tabRep()->freeTabLock(&bob);
  // The source is not left locked by the refused copy.
  EXPECT_TRUE(current->applyTabLock(&bob, 1, 0, true, &out));
  EXPECT_EQ(Exception::last().code(), 0);
  current->tabRep()->freeTabLock(&bob);
}

}  // namespace
}  // namespace tabletest
