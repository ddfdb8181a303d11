// Pointer arrays, their cursors and the sorted-table search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <zfound/Message.h>
#include <zfound/PtrArray.h>

#include <unistd.h>

class Val {
public:
  long v;
};
ZF_PTRARRAY(Val);

namespace {

int cmpVal(void const* a, void const* b) {
  long x = (*static_cast<Val* const*>(a))->v;
  long y = (*static_cast<Val* const*>(b))->v;
  return x < y ? -1 : x > y ? 1 : 0;
}

int cmpLong(void const* a, void const* b) {
  long x = *static_cast<long const*>(a);
  long y = *static_cast<long const*>(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

void* P(uintptr_t n) { return reinterpret_cast<void*>(n); }

}  // namespace

TEST(PtrArray, StorageGrowsInWholeSteps) {
  BasePtrArray a(3, 4);
  EXPECT_EQ(a.dim(), 3);
  EXPECT_EQ(a.capacity(), 4);
  void* const* before = a.entries();
  ASSERT_TRUE(a.reAlloc(4));
  EXPECT_EQ(a.entries(), before);  // 3 -> 4 keeps the storage
  a.elemTest(3) = P(9);
  ASSERT_TRUE(a.reAlloc(5));
  EXPECT_EQ(a.capacity(), 8);
  EXPECT_EQ(a.elemTest(3), P(9));
  EXPECT_EQ(a.elemTest(4), nullptr);

  // Shrinking within the same capacity nulls the cut entries.
  a.elemTest(4) = P(5);
  ASSERT_TRUE(a.reAlloc(6));
  ASSERT_TRUE(a.reAlloc(4));
  ASSERT_TRUE(a.reAlloc(5));
  EXPECT_EQ(a.elemTest(4), nullptr);

  ASSERT_TRUE(a.reAlloc(0));
  EXPECT_EQ(a.entries(), nullptr);
  EXPECT_FALSE(a.reAlloc(-1));
  EXPECT_EQ(a.dim(), 0);
}

TEST(PtrArray, AddInsDelAndFind) {
  BasePtrArray a(0, 4);
  EXPECT_EQ(a.add(P(1)), 0);
  EXPECT_EQ(a.add(P(2)), 1);
  EXPECT_EQ(a.add(P(3)), 2);
  EXPECT_EQ(a.del(static_cast<void const*>(P(2))), 1);  // nulls, no shift
  EXPECT_EQ(a.dim(), 3);
  EXPECT_FALSE(a.isValid(1));
  EXPECT_EQ(a.nextFree(), 1);
  EXPECT_EQ(a.add(P(4)), 1);  // reuses the nulled entry
  EXPECT_EQ(a.dim(), 3);
  EXPECT_EQ(a.nextFree(), 3);
  EXPECT_EQ(a.del(static_cast<void const*>(P(7))), -1);

  ASSERT_TRUE(a.ins(0, P(5)));  // 5 1 4 3
  ASSERT_TRUE(a.ins(4, P(6)));  // at the end: 5 1 4 3 6
  EXPECT_EQ(a.dim(), 5);
  std::vector<void*> got(a.entries(), a.entries() + a.dim());
  EXPECT_EQ(got, (std::vector<void*>{P(5), P(1), P(4), P(3), P(6)}));
  EXPECT_EQ(a.find(P(3)), 3);
  EXPECT_EQ(a.find(P(8)), -1);

  ASSERT_TRUE(a.del(4L));  // the last entry: shrinks by one
  EXPECT_EQ(a.dim(), 4);
  ASSERT_TRUE(a.del(0L));
  got.assign(a.entries(), a.entries() + a.dim());
  EXPECT_EQ(got, (std::vector<void*>{P(1), P(4), P(3)}));

  a.clear();
  EXPECT_EQ(a.dim(), 3);
  EXPECT_EQ(a.nextFree(), 0);
}

TEST(PtrArray, IndexesOutsideTheArrayAreRefused) {
  BasePtrArray a(3, 4);
  a.elemTest(0) = P(1);
  for (long i : {-1L, 3L, 4L, 1L << 40}) {
    void*& r = a.elemTest(i);
    EXPECT_EQ(r, nullptr) << i;
    r = P(77);  // writes into scratch, never into the array or past it
    EXPECT_FALSE(a.del(i)) << i;
  }
  EXPECT_FALSE(a.ins(-1, P(2)));
  EXPECT_FALSE(a.ins(4, P(2)));
  EXPECT_EQ(a.dim(), 3);
  EXPECT_EQ(a.find(P(77)), -1);
  EXPECT_EQ(a.elemTest(0), P(1));
  EXPECT_EQ(a.elemTest(7), nullptr);  // scratch is null again on each call
}

TEST(PtrArray, ReportsOutOfBoundsIndex) {
  EXPECT_DEATH(
      {
        fatalErrorHandler([](int, char const*, char const* text) {
          fprintf(stderr, "[%s]\n", text);
          fflush(stderr);
          _exit(3);
          return 0;
        });
        BasePtrArray a(3);
        a.elemTest(5);
      },
      "\\[Index 5 is out of bounds \\(0 - 3\\)\\.\\]");
}

TEST(PtrArray, CopiesHoldTheSamePointers) {
  BasePtrArray a(0, 2);
  a.add(P(1));
  a.add(P(2));
  a.add(P(3));
  BasePtrArray b(a);
  b.elemTest(0) = P(9);
  EXPECT_EQ(a.elemTest(0), P(1));
  EXPECT_EQ(b.dim(), 3);
  EXPECT_EQ(b.elemTest(2), P(3));
  BasePtrArray c;
  c = b;
  EXPECT_EQ(c.elemTest(0), P(9));
  EXPECT_EQ(c.capacity(), 4);
}

TEST(PtrArray, CursorSkipsNullEntriesBothWays) {
  Val p, q;
  p.v = 1;
  q.v = 2;
  ValPtrArray a(4);
  a[0] = &p;
  a[3] = &q;  // p, null, null, q

  std::vector<Val*> fwd, back;
  for (ValPtrArrayCursor c(a); c; ++c) fwd.push_back(c());
  for (ValPtrArrayCursor c(a, GoToLast()); c; --c) back.push_back(c());
  EXPECT_EQ(fwd, (std::vector<Val*>{&p, &q}));
  EXPECT_EQ(back, (std::vector<Val*>{&q, &p}));

  ValPtrArrayCursor c(a);
  EXPECT_EQ(c.index(), 0);
  c.goTo(1);
  EXPECT_EQ(c.index(), 3);
  EXPECT_EQ(c->v, 2);
  c += 1;
  EXPECT_FALSE(c);
  EXPECT_EQ(c(), nullptr);
  c.goToLast();
  c -= 4;
  EXPECT_TRUE(!c);
  c.goTo(-5);
  EXPECT_FALSE(c);

  // assign: positioned at entry 0 without skipping; an empty array resets.
  c.assign(a);
  EXPECT_EQ(c.index(), 0);
  EXPECT_EQ(&*c, &p);
  ValPtrArray none;
  c.assign(none);
  EXPECT_FALSE(c);
  ++c;
  EXPECT_FALSE(c);
  ValPtrArrayCursor over(none, GoToLast());
  EXPECT_FALSE(over);
}

TEST(PtrArray, LocateProbesBySortedOrder) {
  long t[] = {10, 20, 30};
  struct { long key, want; } cases[] = {{20, 1}, {10, 0}, {30, 2}, {5, ~0L}, {15, ~1L}, {25, ~2L}, {40, ~3L}};
  for (auto const& c : cases) EXPECT_EQ(locate(&c.key, t, 3, sizeof(long), cmpLong), c.want) << c.key;
  long k = 7;
  EXPECT_EQ(locate(&k, t, 0, sizeof(long), cmpLong), -1);

  // Every key of every table size from 1 to 40 is found; every gap gives
  // its insertion point.
  for (long n = 1; n <= 40; ++n) {
    std::vector<long> v;
    for (long i = 0; i < n; ++i) v.push_back(i * 2 + 1);
    for (long key = 0; key <= 2 * n + 1; ++key) {
      long r = locate(&key, v.data(), (unsigned long)n, sizeof(long), cmpLong);
      if (key % 2 && key / 2 < n) {
        EXPECT_EQ(r, key / 2) << n << " " << key;
      } else {
        EXPECT_EQ(~r, std::min(n, (key + 1) / 2)) << n << " " << key;
      }
    }
  }
}

TEST(PtrArray, SortAndSortedFindUseWholePointers) {
  std::vector<Val> vals;
  for (long i = 0; i < 100; ++i) vals.push_back(Val{(i * 37) % 101});
  ValPtrArray a(0, 16);
  EXPECT_EQ(a.find(nullptr, cmpVal), -1);  // no storage
  for (Val& v : vals) a.add(&v);
  a.sort(cmpVal);
  for (long i = 1; i < a.dim(); ++i) ASSERT_LT(a[i - 1]->v, a[i]->v);
  for (Val& v : vals) {
    Val key{v.v};
    Val* kp = &key;
    long r = a.find(&kp, cmpVal);
    ASSERT_GE(r, 0);
    EXPECT_EQ(a[r], &v);
  }
  Val missing{1000};
  Val* mp = &missing;
  EXPECT_EQ(~a.find(&mp, cmpVal), 100);
}
