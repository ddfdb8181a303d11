// The lock manager's pools and hash tables: sizing, refusal while in use,
// hand-out order, and look-ups that survive a refused resize.
#include <gtest/gtest.h>

#include <svcatalog/LockObject.h>

namespace {

using svcatalog::LockHash;
using svcatalog::LockObject;
using svcatalog::LockTables;
using svcatalog::NotifyLock;

class LockPoolTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(LockTables::initLocks(8, 4)); }
  void TearDown() override { LockTables::cleanUpLocks(); }
};

TEST_F(LockPoolTest, EntriesComeInArrayOrderUntilThePoolIsEmpty) {
  auto& pool = LockTables::lockPool();
  LockObject* taken[8];
  for (int i = 0; i < 8; ++i) {
    taken[i] = pool.take();
    ASSERT_NE(taken[i], nullptr);
    EXPECT_EQ(taken[i]->record, -1);
    if (i > 0) {
      EXPECT_EQ(taken[i], taken[i - 1] + 1);
    }
  }
  EXPECT_EQ(pool.take(), nullptr);
  EXPECT_EQ(pool.inUse(), 8);
  for (LockObject* e : taken) pool.give(e);
  EXPECT_EQ(pool.inUse(), 0);
}

TEST_F(LockPoolTest, ResizeIsRefusedWhileAnEntryIsInUseAndTheHashStays) {
  LockObject* e = LockTables::lockPool().take();
  ASSERT_NE(e, nullptr);
  e->serial = 7;
  e->record = 42;
  LockHash<LockObject>* hash = LockTables::hashtab();
  ASSERT_NE(hash, nullptr);
  EXPECT_EQ(hash->buckets(), 4u);
  hash->insert(e);
  EXPECT_FALSE(LockTables::setNumLocks(100));
  EXPECT_FALSE(LockTables::setNumLocks(0));
  EXPECT_EQ(LockTables::hashtab(), hash);
  EXPECT_EQ(LockTables::hashtab()->find(7, 42), e);
  EXPECT_EQ(LockTables::lockPool().size(), 8);
  EXPECT_TRUE(LockTables::setNumLocks(8));  // the present size: nothing to do

  NotifyLock* n = LockTables::notifyPool().take();
  ASSERT_NE(n, nullptr);
  EXPECT_FALSE(LockTables::setNumNotifies(0));
  LockTables::notifyPool().give(n);

  EXPECT_TRUE(hash->remove(e));
  EXPECT_FALSE(hash->remove(e));
  LockTables::lockPool().give(e);
  EXPECT_TRUE(LockTables::setNumLocks(100));
  EXPECT_EQ(LockTables::hashtab()->buckets(), 50u);
}

TEST_F(LockPoolTest, SizesAtTheEdges) {
  // A pool of one still has a bucket to hash into.
  ASSERT_TRUE(LockTables::setNumLocks(1));
  ASSERT_NE(LockTables::hashtab(), nullptr);
  EXPECT_EQ(LockTables::hashtab()->buckets(), 1u);
  LockObject* e = LockTables::lockPool().take();
  e->serial = 0xFFFFFFFFu;
  e->record = -5;
  LockTables::hashtab()->insert(e);
  EXPECT_EQ(LockTables::hashtab()->find(0xFFFFFFFFu, -5), e);
  EXPECT_EQ(LockTables::hashtab()->find(0xFFFFFFFFu, 5), nullptr);
  LockTables::hashtab()->remove(e);
  LockTables::lockPool().give(e);
  // Sizes that cannot be had are refused and the pool stays.
  EXPECT_FALSE(LockTables::setNumLocks(-1));
  EXPECT_FALSE(LockTables::setNumLocks(svcatalog::kMaxLockPool + 1));
  EXPECT_EQ(LockTables::lockPool().size(), 1);
  // No pool, no hash.
  ASSERT_TRUE(LockTables::setNumLocks(0));
  EXPECT_EQ(LockTables::hashtab(), nullptr);
  EXPECT_EQ(LockTables::lockPool().take(), nullptr);
}

TEST_F(LockPoolTest, NotificationHashIsMadeOnFirstUseAndDroppedAtZero) {
  EXPECT_EQ(LockTables::notiftab(), nullptr);
  ASSERT_NE(LockTables::notiftab(true), nullptr);
  EXPECT_EQ(LockTables::notiftab()->buckets(), 32u);
  ASSERT_TRUE(LockTables::setNumNotifies(0));
  EXPECT_EQ(LockTables::notiftab(), nullptr);
}

// Several keys in few buckets: each look-up finds its own entry.
TEST_F(LockPoolTest, CollidingKeysAreKeptApart) {
  LockHash<LockObject> hash(2);
  LockObject a, b, c;
  a.serial = 1, a.record = 0;
  b.serial = 1, b.record = 2;
  c.serial = 2, c.record = 0;
  hash.insert(&a);
  hash.insert(&b);
  hash.insert(&c);
  EXPECT_EQ(hash.find(1, 0), &a);
  EXPECT_EQ(hash.find(1, 2), &b);
  EXPECT_EQ(hash.find(2, 0), &c);
  EXPECT_TRUE(hash.remove(&b));
  EXPECT_EQ(hash.find(1, 2), nullptr);
  EXPECT_EQ(hash.find(1, 0), &a);
}

}  // namespace
