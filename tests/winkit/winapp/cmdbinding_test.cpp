// CmdBinding: binding, rebinding, 16-bit keys and menu prefixes.
#include <winkit/CmdBinding.h>

#include <gtest/gtest.h>

namespace {

TEST(CmdBinding, BindLookUpAndRebind) {
  CmdBinding b;
  EXPECT_EQ(b.getCmdId(132), -1);
  b.bind(132, 7);
  b.bind(0x9A6D, -2);
  EXPECT_EQ(b.getCmdId(132), 7);
  EXPECT_EQ(b.getCmdId(0x9A6D), -2);
  b.bind(132, 9);
  EXPECT_EQ(b.getCmdId(132), 9) << "the last binding of a key wins";
  EXPECT_EQ(b.getCmdId(133), -1);
}

TEST(CmdBinding, OnlyTheLow16BitsOfAKeyCount) {
  CmdBinding b;
  b.bind(0x9B78, -4);
  EXPECT_EQ(b.getCmdId(0x19B78), -4);
  EXPECT_EQ(b.getCmdId(0x7FFF9B78L), -4);
  b.bind(0x59B78, 3);
  EXPECT_EQ(b.getCmdId(0x9B78), 3);
  // Every 16-bit key has its own slot, including those that share a chain.
  for (long k = 0; k < 0x10000; k += 383) b.bind(k, k + 1);
  for (long k = 0; k < 0x10000; k += 383) EXPECT_EQ(b.getCmdId(k), k + 1) << k;
}

TEST(CmdBinding, MenuTitlesBindBothCases) {
  CmdBinding b;
  b.bindMenu("File");
  EXPECT_EQ(b.getCmdId(0x9B46), -3);
  EXPECT_EQ(b.getCmdId(0x9B66), -3);
  CmdBinding lower;
  lower.bindMenu("edit");
  EXPECT_EQ(lower.getCmdId(0x9B65), -3);
  EXPECT_EQ(lower.getCmdId(0x9B45), -1) << "a lower-case title binds the same code twice";
  CmdBinding empty;
  empty.bindMenu(String());
  EXPECT_EQ(empty.getCmdId(0x9B00), -3);
}

TEST(IntIntHashTab, AddFindDelete) {
  IntIntHashTab t(255);
  EXPECT_EQ(t.modulo(), 383);
  EXPECT_EQ(t.add(5, 50), 50);
  EXPECT_EQ(t.add(5 + 0x10000, 51), 51);
  EXPECT_EQ(t.entries(), 1);
  ASSERT_NE(t.find(5), nullptr);
  EXPECT_EQ(*t.find(5), 51);
  EXPECT_EQ(t.del(5), 0);
  EXPECT_EQ(t.find(5), nullptr);
  EXPECT_NE(t.del(5), 0);
}

}  // namespace
