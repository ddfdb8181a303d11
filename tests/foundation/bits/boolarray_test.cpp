// Packed flag arrays: storage layout, bounds, resizing and word operations.
#include <gtest/gtest.h>

#include <zfound/BoolArray.h>

TEST(BoolArray, EmptyArrayReadsZeroAndIgnoresWrites) {
  for (long n : {0L, -7L}) {
    BoolArray a(n);
    EXPECT_EQ(a.dim(), 0);
    a[0] = 1;
    EXPECT_EQ(int(a[0]), 0);
    EXPECT_FALSE(a.any());
  }
}

TEST(BoolArray, FlagsPackAcrossWordsAndBoundsAreIgnored) {
  BoolArray a(33);
  a[32] = 1;
  EXPECT_EQ(int(a[32]), 1);
  EXPECT_EQ(int(a[0]), 0);
  EXPECT_EQ(int(a[31]), 0);
  a[32];
  EXPECT_EQ(a = 0, 0);  // writes through the selected flag
  EXPECT_EQ(int(a[32]), 0);
  EXPECT_FALSE(a.any());

  for (long i : {-1L, 33L, 1000L}) {
    EXPECT_EQ(a[i] = 7, 7);
    EXPECT_EQ(int(a[i]), 0);
  }
  EXPECT_FALSE(a.any());
  a[5] = 9;
  EXPECT_NE(int(a[5]), 0);
  EXPECT_TRUE(a.any());
}

TEST(BoolArray, ReallocKeepsCommonFlagsAndClearsNewOnes) {
  BoolArray a(10);
  a.setAll(true);
  ASSERT_TRUE(a.realloc(40));
  for (long i = 0; i < 40; ++i) EXPECT_EQ(int(a[i]), i < 10 ? 1 : 0) << i;

  // Shrinking then growing again must not bring old flags back.
  a.setAll(true);
  a.realloc(35);
  a.realloc(64);
  for (long i = 0; i < 64; ++i) EXPECT_EQ(int(a[i]), i < 35 ? 1 : 0) << i;
  a.realloc(5);
  a.realloc(20);
  for (long i = 0; i < 20; ++i) EXPECT_EQ(int(a[i]), i < 5 ? 1 : 0) << i;
  a.realloc(-3);
  EXPECT_EQ(a.dim(), 0);
}

TEST(BoolArray, CopyAndAssignAreIndependent) {
  BoolArray a(70);
  a[69] = 1;
  BoolArray b(a);
  b[69] = 0;
  EXPECT_EQ(int(a[69]), 1);
  BoolArray c(3);
  c = a;
  EXPECT_EQ(c.dim(), 70);
  EXPECT_EQ(int(c[69]), 1);
  c = c;
  EXPECT_EQ(int(c[69]), 1);
}

TEST(BoolArray, AndAndIntersectWorkOnSharedWords) {
  BoolArray a(100), b(40);
  a[3] = 1;
  a[50] = 1;
  a[90] = 1;
  b[3] = 1;
  b[39] = 1;
  EXPECT_TRUE(a.intersects(b));
  BoolArray c = a & b;
  EXPECT_EQ(c.dim(), 100);
  EXPECT_EQ(int(c[3]), 1);
  EXPECT_EQ(int(c[90]), 1);  // beyond b's words: a's flag kept
  EXPECT_EQ(int(c[39]), 0);
  EXPECT_EQ(int(a[50]), 1);  // operator& leaves a unchanged

  b[3] = 0;
  EXPECT_FALSE(a.intersects(b));
  a &= b;
  EXPECT_EQ(int(a[3]), 0);
  EXPECT_EQ(int(a[90]), 1);
}
