// The system's own allocator: block sizes and alignment, heap growth,
// merging, a randomized allocate/resize/free run with full heap checks, and
// the reports of misused or corrupted blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <zfound/Alloc.h>
#include <zfound/OutOfMemory.h>

#include "ChildRun.h"

namespace {

std::vector<std::string> reports;
void recordReport(char const* text) { reports.push_back(text); }

// Installs the recording report handler for one test.
struct RecordReports {
  RecordReports() {
    reports.clear();
    old = allocReportHandler(recordReport);
  }
  ~RecordReports() { allocReportHandler(old); }
  AllocReportFn old;
};

constexpr char kFreed[] = "free: memory block already freed (or never malloc'ed).\n";
constexpr char kClobbered[] = "free: clobbered space detected.\n";

}  // namespace

TEST(Alloc, BlockSizesAndAlignment) {
  struct { size_t request, block; } cases[] = {
      {0, 32}, {1, 32}, {16, 32}, {17, 48}, {32, 48}, {33, 64}, {1000, 1024}, {SIZE_MAX, 0}, {SIZE_MAX - 20, 0}};
  for (auto const& c : cases) EXPECT_EQ(MemHeap::blockSize(c.request), c.block) << c.request;

  MemHeap h;
  for (auto const& c : cases) {
    if (c.block == 0) continue;
    void* p = h.allocate(c.request);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    EXPECT_EQ(h.usableSize(p), c.block - 16) << c.request;
  }
  EXPECT_TRUE(h.verify());
}

TEST(Alloc, BinsAreFourToAPowerOfTwo) {
  EXPECT_EQ(MemHeap::binOf(32), 4);
  EXPECT_EQ(MemHeap::binOf(48), 6);
  EXPECT_EQ(MemHeap::binOf(64), 8);
  EXPECT_EQ(MemHeap::binOf(112), 11);
  EXPECT_EQ(MemHeap::binOf(SIZE_MAX & ~size_t(15)), MemHeap::kBins - 1);
  for (size_t s = 32; s < (size_t(1) << 20); s += 16) ASSERT_LE(MemHeap::binOf(s), MemHeap::binOf(s + 16));
}

TEST(Alloc, HeapGrowsInWhole32KSteps) {
  MemHeap small;
  EXPECT_EQ(small.heapSize(), 0u);
  small.allocate(1);
  EXPECT_EQ(small.heapSize(), 32768u);

  MemHeap big;
  big.allocate(40000);
  EXPECT_EQ(big.heapSize(), 65536u);

  // Growing again continues the same region: the rest of the first step
  // and the new memory become one block, so a block larger than either
  // part fits without a third step.
  void* a = small.allocate(20000);
  void* b = small.allocate(30000);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(small.heapSize(), 65536u);
  EXPECT_TRUE(small.verify());
}

TEST(Alloc, FreedNeighboursMergeBeforeTheHeapGrows) {
  MemHeap h;
  std::vector<void*> blocks;
  for (int i = 0; i < 100; ++i) blocks.push_back(h.allocate(200));
  size_t size = h.heapSize();
  for (void* p : blocks) h.release(p);
  EXPECT_TRUE(h.verify());
  // Only merged free blocks can serve this request without growing.
  void* whole = h.allocate(100 * 200);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(h.heapSize(), size);
  EXPECT_TRUE(h.verify());
}

TEST(Alloc, RandomizedAllocateResizeFreeKeepsTheHeapSound) {
  MemHeap h;
  std::mt19937 rng(20261210);
  struct Live {
    unsigned char* p;
    size_t n;
    unsigned char fill;
  };
  std::vector<Live> live;
  auto sizeOf = [&]() -> size_t {
    unsigned kind = rng() % 8;
    if (kind < 3) return rng() % 24;
    if (kind < 6) return rng() % 256;
    if (kind < 7) return rng() % 4096;
    return rng() % 70000;
  };
  auto intact = [](Live const& l) {
    for (size_t i = 0; i < l.n; ++i)
      if (l.p[i] != (unsigned char)(l.fill + i)) return false;
    return true;
  };
  auto paint = [](Live& l) {
    for (size_t i = 0; i < l.n; ++i) l.p[i] = (unsigned char)(l.fill + i);
  };
  for (int step = 0; step < 12000; ++step) {
    unsigned op = rng() % 10;
    if (op < 4 || live.empty()) {
      Live l{nullptr, sizeOf(), (unsigned char)rng()};
      l.p = static_cast<unsigned char*>(h.allocate(l.n));
      ASSERT_NE(l.p, nullptr);
      ASSERT_GE(h.usableSize(l.p), l.n);
      paint(l);
      live.push_back(l);
    } else if (op < 8) {
      size_t k = rng() % live.size();
      ASSERT_TRUE(intact(live[k])) << step;
      h.release(live[k].p);
      live[k] = live.back();
      live.pop_back();
    } else {
      Live& l = live[rng() % live.size()];
      size_t n = sizeOf();
      auto* q = static_cast<unsigned char*>(h.resize(l.p, n));
      ASSERT_NE(q, nullptr);
      for (size_t i = 0; i < std::min(n, l.n); ++i) ASSERT_EQ(q[i], (unsigned char)(l.fill + i)) << step;
      l.p = q;
      l.n = n;
      paint(l);
    }
    if (step % 500 == 0) {
      ASSERT_TRUE(h.verify()) << step;
    }
  }
  for (Live const& l : live) {
    ASSERT_TRUE(intact(l));
    h.release(l.p);
  }
  EXPECT_TRUE(h.verify());
  // Everything was given back: after merging, the whole heap but its
  // markers is one block again.
  size_t size = h.heapSize();
  EXPECT_NE(h.allocate(size - 64), nullptr);
  EXPECT_EQ(h.heapSize(), size);
  EXPECT_TRUE(h.verify());
}

TEST(Alloc, ResizeAndZeroedAllocation) {
  MemHeap h;
  EXPECT_EQ(h.usableSize(nullptr), 0u);
  char* p = static_cast<char*>(h.resize(nullptr, 10));  // acts as allocate
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abcdefghi", 10);
  char* q = static_cast<char*>(h.resize(p, 5000));
  ASSERT_NE(q, nullptr);
  EXPECT_STREQ(q, "abcdefghi");
  EXPECT_EQ(h.usableSize(p), 0u);  // the old block was released

  // A request that cannot be represented fails and keeps the block; the
  // out-of-memory handler is called.
  static int oomCalls = 0;
  std::new_handler old = std::set_new_handler([] { ++oomCalls; });
  EXPECT_EQ(h.resize(q, SIZE_MAX - 8), nullptr);
  EXPECT_EQ(h.allocate(SIZE_MAX), nullptr);
  EXPECT_EQ(h.allocateZeroed(SIZE_MAX / 2, 3), nullptr);
  std::set_new_handler(old);
  EXPECT_EQ(oomCalls, 3);
  EXPECT_STREQ(q, "abcdefghi");

  // Zeroed memory is zero even where a dirty block is reused.
  std::memset(q, 0x5a, 5000);
  h.release(q);
  auto* z = static_cast<unsigned char*>(h.allocateZeroed(100, 40));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 4000; ++i) ASSERT_EQ(z[i], 0) << i;
  EXPECT_TRUE(h.verify());
}

TEST(Alloc, MisusedAndCorruptedBlocksAreReported) {
  RecordReports rec;
  MemHeap h;
  char* p = static_cast<char*>(h.allocate(24));
  char* keep = static_cast<char*>(h.allocate(24));
  h.release(p);
  h.release(p);  // twice
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], kFreed);

  // The first byte of the end copy of the size word, just past the usable
  // area: releasing and resizing both see it.
  size_t usable = h.usableSize(keep);
  keep[usable] ^= 0x10;
  EXPECT_EQ(h.usableSize(keep), 0u);
  h.release(keep);
  EXPECT_EQ(h.resize(keep, 100), nullptr);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1], kClobbered);
  EXPECT_EQ(reports[2], "malloc: clobbered space detected.\n");
  keep[usable] ^= 0x10;  // mended: the block is still in use and whole
  EXPECT_EQ(h.usableSize(keep), usable);
  EXPECT_TRUE(h.verify());

  // Pointers that never came from this heap.
  long local[4] = {};
  h.release(&local[2]);
  h.release(keep + 1);
  MemHeap other;
  void* foreign = other.allocate(10);
  h.release(foreign);
  EXPECT_EQ(h.resize(foreign, 10), nullptr);
  ASSERT_EQ(reports.size(), 7u);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(reports[i], kFreed) << i;
  EXPECT_EQ(reports[6], "malloc: memory block already freed (or never malloc'ed).\n");
  EXPECT_TRUE(h.verify());
  EXPECT_TRUE(other.verify());
}

TEST(Alloc, DefaultReportAbortsWithTheMessage) {
  EXPECT_DEATH(
      {
        MemHeap h;
        void* p = h.allocate(8);
        h.release(p);
        h.release(p);
      },
      "free: memory block already freed \\(or never malloc'ed\\)\\.");
  EXPECT_DEATH(
      {
        MemHeap h;
        char* p = static_cast<char*>(h.allocate(8));
        p[h.usableSize(p)] = 0x7f;
        h.release(p);
      },
      "free: clobbered space detected\\.");
}

TEST(Alloc, ProcessHeapAndTracingEntryPoints) {
  char* p = static_cast<char*>(zfMalloc(9));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(zfMallocUsableSize(p), 16u);
  p = static_cast<char*>(zfRealloc(p, 100));
  EXPECT_GE(zfMallocUsableSize(p), 100u);
  zfFree(p);
  zfFree(nullptr);
  int* z = static_cast<int*>(zfCalloc(10, sizeof(int)));
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(z[9], 0);
  zfFree(z);
  void* t = _tr_malloc(5, __FILE__, __LINE__);
  EXPECT_EQ(zfMallocUsableSize(t), 16u);
  zfFree(t);

  EXPECT_STREQ(tr_type_name(), "must compile trmalloc with TRACE_MEMORY\n");
  testing::internal::CaptureStderr();
  tr_mem_check();
  tr_mem_used_list();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "must compile trmalloc with TRACE_MEMORY\nmust compile trmalloc with TRACE_MEMORY\n");

  std::string* s = new (__FILE__, __LINE__) std::string("x");
  EXPECT_EQ(*s, "x");
  delete s;
}

// A failed allocation is one fatal report: the text on standard error and
// status 1, whether the foundation's own code or a plain new ran out.
TEST(OutOfMemory, IsAFatalReport) {
  zftest::RunResult r = zftest::runInChild([] {
    zfOutOfMemory(123);
    return 0;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Out of memory (123 bytes).\n");
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer answers a failed new itself";
#else
  r = zftest::runInChild([] {
    static void* volatile sink;
    size_t volatile huge = size_t(1) << 62;
    sink = ::operator new(huge);
    return sink == nullptr ? 2 : 3;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Out of memory (0 bytes).\n");
#endif
}
