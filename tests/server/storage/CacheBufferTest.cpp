// The page cache: sizing, victim choice, long blocks, failed writes, the
// all-pinned case, resizing with pins, and the cache check.
#include "StorageFixture.h"

#include <unistd.h>

using namespace storagetest;

namespace {

class CacheBufferTest : public StorageTest {
protected:
  void SetUp() override { setUpWith(1, 0); }
};

// Sizing cases: page size, requested KB, result, buffers, corrected size
// warned (0 for none).
struct SizeCase {
  int32_t pageKb;
  int32_t kb;
  bool ok;
  int32_t buffers;
  int32_t warned;
};

TEST_F(CacheBufferTest, SizingTable) {
  SizeCase const cases[] = {
      {1, 63, false, 0, 0},
      {1, 256, true, 256, 0},
      {2, 65, true, 32, 64},
      {2, 64, true, 32, 0},
      {4, 66, true, 16, 64},
      {2, 129, true, 64, 128},
      {1, 1024 * 1024, true, 1024 * 1024, 0},
      {1, 1024 * 1024 + 1, false, 0, 0},
      {1, INT32_MAX, false, 0, 0},
  };
  for (SizeCase const& c : cases) {
    SCOPED_TRACE(std::to_string(c.pageKb) + "K pages, " + std::to_string(c.kb) + " KB");
    CacheBuffer::cleanUp();
    StorageEnv::cachePageSize_sd = c.pageKb * 1024;
    shown().clear();
    EXPECT_EQ(CacheBuffer::init(c.kb), c.ok);
    EXPECT_EQ(CacheBuffer::size(), c.buffers);
    EXPECT_EQ(CacheBuffer::nFree(), c.buffers);
    if (c.warned)
      EXPECT_TRUE(sawWarning(std::to_string(c.warned) + " KB")) << (shown().empty() ? "" : shown()[0]);
    else
      EXPECT_TRUE(shown().empty());
  }
  // A refused resize leaves the cache as it was.
  CacheBuffer::cleanUp();
  StorageEnv::cachePageSize_sd = 1024;
  ASSERT_TRUE(CacheBuffer::init(64));
  for (int32_t kb : {63, 1024 * 1024 + 1, INT32_MAX}) {
    EXPECT_FALSE(CacheBuffer::setSize(kb)) << kb;
    EXPECT_EQ(CacheBuffer::size(), 64) << kb;
  }
}

// Fills the cache with one-block pages of a file whose record is a page.
struct Ring : CacheBufferTest {
  void SetUp() override {
    CacheBufferTest::SetUp();
    ASSERT_TRUE(CacheBuffer::init(64));
    f = &openFile("pring", 1004);  // slot 1024: one record per block
    for (int i = 0; i < 64; ++i)
      addRec(*f);
    ASSERT_EQ(CacheBuffer::nFree(), 0);
    CacheBuffer::flushAll(nullptr, false);
  }
  // The buffers from the cold end.
  static std::vector<CacheBuffer*> cold() {
    std::vector<CacheBuffer*> v;
    CacheBuffer* b = CacheBuffer::head->prev;
    for (int i = 0; i < CacheBuffer::size(); ++i, b = b->prev)
      v.push_back(b);
    return v;
  }
  PrefixFile* f = nullptr;
};

TEST_F(Ring, ColdestDirtyIsWrittenAndReusedWhenTheThreeColdestAreDirty) {
  std::vector<CacheBuffer*> c = cold();
  for (int i = 0; i < 3; ++i)
    c[size_t(i)]->mod = true;
  int32_t block = c[0]->block;
  CacheBuffer* victim = CacheBuffer::getFree();
  EXPECT_EQ(victim, c[0]);
  EXPECT_EQ(CacheBuffer::find(f, block), nullptr);
  EXPECT_EQ(CacheBuffer::nMod(), 2);
  victim->addToFree();
}

TEST_F(Ring, FourthIsReusedWhenTheThreeColdestArePinned) {
  std::vector<CacheBuffer*> c = cold();
  for (int i = 0; i < 3; ++i) {
    c[size_t(i)]->locked = true;
    ++CacheBuffer::nLocked_;
  }
  CacheBuffer* victim = CacheBuffer::getFree();
  EXPECT_EQ(victim, c[3]);
  victim->addToFree();
  for (int i = 0; i < 3; ++i)
    c[size_t(i)]->unlock();
}

TEST_F(Ring, AllPinnedTakesOneMoreBufferAndGivesItBack) {
  std::vector<CacheBuffer*> pins;
  for (int32_t r = 1; r <= 64; ++r) {
    char* p;
    pins.push_back(f->get(p, r, true));
  }
  shown().clear();
  int32_t r = addRec(*f);  // a 65th block
  EXPECT_GT(r, 0);
  int32_t r2 = addRec(*f);
  EXPECT_GT(r2, 0);
  // Each extra went back as soon as its page was unpinned.
  EXPECT_EQ(CacheBuffer::nExtra(), 0);
  EXPECT_EQ(shown().size(), 1u) << "one warning for the episode";
  char* q;
  CacheBuffer* extra = f->get(q, r, true);
  EXPECT_EQ(CacheBuffer::nExtra(), 1);
  for (CacheBuffer* b : pins)
    b->unlock();
  extra->unlock();
  EXPECT_EQ(CacheBuffer::nExtra(), 0);
  EXPECT_EQ(CacheBuffer::nUsed() + CacheBuffer::nFree(), 64);
  EXPECT_TRUE(CacheBuffer::checkCache());
  // Every record is still there.
  char* p;
  f->get(p, r2, false);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(ldlong(p + 20), r2);
}

TEST_F(Ring, ResizeAndCleanUpWriteBackAndKeepPinnedBuffers) {
  char* p;
  CacheBuffer* pin = f->get(p, 5, true);
  stlong(555, p + 20);
  pin->mod = true;
  f->get(p, 6, false);
  stlong(666, p + 20);
  f->mark(6);
  EXPECT_TRUE(CacheBuffer::setSize(128));
  EXPECT_EQ(CacheBuffer::size(), 128);
  EXPECT_EQ(CacheBuffer::find(f, 4), pin) << "the pinned page stays cached";
  EXPECT_EQ(ldlong(pin->data + 20), 555);
  CacheBuffer::cleanUp();
  EXPECT_EQ(CacheBuffer::nUsed(), 1);
  pin->unlock();
  EXPECT_EQ(CacheBuffer::nUsed(), 0);
  std::string bytes = fileBytes("pring.blk");
  EXPECT_EQ(ldlong(bytes.data() + 2048 + 5 * 1024 + 20), 666);
  EXPECT_EQ(ldlong(bytes.data() + 2048 + 4 * 1024 + 20), 555);
  EXPECT_TRUE(CacheBuffer::init(64));
}

TEST_F(Ring, CheckCacheReportsPinsAsAWarning) {
  char* p;
  CacheBuffer* pin = f->get(p, 1, true);
  shown().clear();
  EXPECT_FALSE(CacheBuffer::checkCache());
  EXPECT_FALSE(shown().empty());
  pin->unlock();
  EXPECT_TRUE(CacheBuffer::checkCache());
}

TEST_F(Ring, CheckCacheReportsADuplicatedBlockAsAWarning) {
  std::vector<CacheBuffer*> c = cold();
  int32_t saved = c[0]->block;
  c[0]->block = c[1]->block;
  shown().clear();
  EXPECT_FALSE(CacheBuffer::checkCache());
  EXPECT_TRUE(sawWarning("A duplicated block was found in the cache\n"));
  c[0]->block = saved;
  EXPECT_TRUE(CacheBuffer::checkCache());
}

TEST_F(Ring, FlushSomeWritesBoundedCountFromTheColdEnd) {
  for (CacheBuffer* b : cold())
    b->mod = true;
  CacheBuffer::flushSome(5);
  EXPECT_EQ(CacheBuffer::nMod(), 59);
  std::vector<CacheBuffer*> c = cold();
  for (int i = 0; i < 5; ++i)
    EXPECT_FALSE(c[size_t(i)]->mod);
  CacheBuffer::flushSome(0);
  EXPECT_EQ(CacheBuffer::nMod(), 59);
}

TEST_F(CacheBufferTest, BlockOfTwoAndAHalfPagesTakesThreeBuffersWrittenByOneFlush) {
  ASSERT_TRUE(CacheBuffer::init(64));
  PrefixFile& f = openFile("plong", 2540);  // slot 2560 = 2.5 pages
  EXPECT_EQ(f.blockLength(), 2560);
  int32_t r = addRec(f);
  EXPECT_EQ(CacheBuffer::nUsed(), 3);
  CacheBuffer* first = CacheBuffer::find(&f, 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->chain, nullptr);
  ASSERT_NE(first->chain->chain, nullptr);
  EXPECT_EQ(first->chain->offset, 1024);
  EXPECT_EQ(first->chain->chain->offset, 2048);
  // Write a mark into each piece through the record image.
  std::vector<char> img(2560, 0);
  ASSERT_TRUE(f.fill(img.data(), r));
  img[100] = 'a';
  img[1500] = 'b';
  img[2555] = 'c';
  f.flush(img.data(), first, first->data, 0);
  EXPECT_TRUE(first->flush());
  std::string bytes = fileBytes("plong.blk");
  ASSERT_EQ(bytes.size(), size_t(2048 + 2560));
  EXPECT_EQ(bytes[2048 + 100], 'a');
  EXPECT_EQ(bytes[2048 + 1500], 'b');
  EXPECT_EQ(bytes[2048 + 2555], 'c');
  EXPECT_EQ(ldlong(bytes.data() + 2048 + 20), r);
}

TEST_F(CacheBufferTest, FailedWriteKeepsThePageDirtyAndCached) {
  ASSERT_TRUE(CacheBuffer::init(64));
  // The data file is the full device: reads give zeros, writes fail.
  ASSERT_EQ(::symlink("/dev/full", tmp.file("pfull.blk").c_str()), 0);
  PrefixFile& f = openFile("pfull", 80);
  int32_t r = addRec(f);
  CacheBuffer* cb = CacheBuffer::find(&f, 0);
  ASSERT_NE(cb, nullptr);
  EXPECT_FALSE(cb->flush());
  EXPECT_TRUE(cb->mod);
  CacheBuffer::takeWriteFailed();
  EXPECT_FALSE(f.flush(true));
  EXPECT_EQ(CacheBuffer::find(&f, 0), cb) << "never freed while dirty";
  EXPECT_FALSE(cb->free());
  EXPECT_TRUE(sawWarning("pfull.blk"));
  // Eviction passes it over: fill the rest of the cache with another file.
  PrefixFile& g = openFile("pother", 1004);
  for (int i = 0; i < 100; ++i)
    addRec(g);
  EXPECT_EQ(CacheBuffer::find(&f, 0), cb);
  char* p;
  f.get(p, r, false);
  EXPECT_EQ(ldlong(p + 20), r);
}

}  // namespace

namespace {

// A page freed and its buffer reused for another file's block: the first
// file reads its own record again, not the other file's bytes.
TEST_F(CacheBufferTest, FreedPageIsNotServedFromTheFileLookupCache) {
  ASSERT_TRUE(CacheBuffer::init(64));
  PrefixFile& f = openFile("pfreed", 1004);
  PrefixFile& g = openFile("pother", 1004);
  for (int i = 0; i < 3; ++i) {
    addRec(f);
    addRec(g);
  }
  CacheBuffer::flushAll(nullptr, false);
  char* p = nullptr;
  CacheBuffer* cb = f.get(p, 2, true);
  ASSERT_NE(cb, nullptr);
  ASSERT_EQ(ldlong(p + 20), 2);
  cb->unlock();
  ASSERT_TRUE(cb->free());
  g.get(p, 3, false);  // takes the freed buffer
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(ldlong(p + 20), 3);
  f.get(p, 2, false);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(ldlong(p + 20), 2);
}

}  // namespace
