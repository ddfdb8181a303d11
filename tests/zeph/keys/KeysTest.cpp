// The run-time layer's key form and order, and binary search.
#include <dbm/DbDescr.h>
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Proc.h>

#include <gtest/gtest.h>

#include <zfound/Num.h>
#include <zfound/Portable.h>

#include <cerrno>
#include <cstring>

#include "TestSupport.h"

namespace {

// A record of a text(5) at 4, a long at 10 and a short at 14.
s_index_field parts[3] = {{DB_IT_TEXT, 0, 5, 0, 4, 0x101}, {DB_IT_LONG, 0, 4, 0, 10, 0x102},
                          {DB_IT_SHORT, 0, 2, 0, 14, 0x103}};

s_index makeIndex(uint16_t flags) {
  s_index ix{};
  ix.d.flags = flags;
  ix.d.klen = 11;
  ix.d.nparts = 3;
  ix.parts = parts;
  return ix;
}

void record(char* r, char const* text, int32_t l, int32_t s) {
  std::memset(r, 0x55, 16);
  std::strcpy(r + 4, text);
  stlong(l, r + 10);
  stshort(s, r + 14);
}

TEST(Keys, FormIsBufferBytesAndRecordNumber) {
  zftest::startUpOnce("zephtest-1.0");
  s_index ix = makeIndex(0);
  char r[16], key[16];
  record(r, "ab", -2, 7);
  ASSERT_EQ(_BuildKey(key, &ix, r, 0x01020304), 15);
  unsigned char const want[15] = {'a', 'b', 0, 0, 0, 0xff, 0xff, 0xff, 0xfe, 0, 7, 1, 2, 3, 4};
  EXPECT_EQ(std::memcmp(key, want, 15), 0);
  s_index u = makeIndex(1);
  EXPECT_EQ(_BuildKey(key, &u, r, 9), 11);
}

TEST(Keys, OrderByStorageTypeThenRecordNumber) {
  zftest::startUpOnce("zephtest-1.0");
  s_index ix = makeIndex(0);
  struct Row {
    char const* text;
    int32_t l, s, recno;
  } rows[] = {{"a", 5, 0, 1}, {"a", -5, 0, 1}, {"b", -100, 0, 1}, {"a", 5, -1, 1}, {"a", 5, 0, 2}, {"", 0, 0, 1}};
  // Expected order: "" < a,-5 < a,5,-1 < a,5,0,#1 < a,5,0,#2 < b
  int order[] = {5, 1, 3, 0, 4, 2};
  char keys[6][16];
  for (int i = 0; i < 6; ++i) {
    char r[16];
    record(r, rows[i].text, rows[i].l, rows[i].s);
    _BuildKey(keys[i], &ix, r, rows[i].recno);
  }
  for (int i = 0; i + 1 < 6; ++i) {
    EXPECT_LT(_KeyCmp(&ix, keys[order[i]], keys[order[i + 1]]), 0) << i;
    EXPECT_GT(_KeyCmp(&ix, keys[order[i + 1]], keys[order[i]]), 0) << i;
  }
  _SetKeyCmpIp(&ix);
  _SetKeyParts(1);
  EXPECT_EQ(XKeyCmp(keys[0], keys[1]), 0);
  _SetKeyParts(0);
  EXPECT_GT(XKeyCmp(keys[0], keys[1]), 0);

  char sorted[6][16];
  for (int i = 0; i < 6; ++i) std::memcpy(sorted[i], keys[order[i]], 16);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Locate(sorted[i], sorted, 6, 16, XKeyCmp), i);
  char r[16], probe[16];
  record(r, "a", 6, 0);
  _BuildKey(probe, &ix, r, 1);
  EXPECT_EQ(Locate(probe, sorted, 6, 16, XKeyCmp), ~5);
}

}  // namespace

namespace {

// Parts of 8-byte doubles and 16-byte numbers order by value, not by bytes.
TEST(Keys, NumbersOrderByValue) {
  zftest::startUpOnce("zephtest-1.0");
  s_index_field dparts[2] = {{DB_IT_DOUBLE, 0, 8, 0, 4, 0x101}, {DB_IT_NUM, 0, 16, 0, 12, 0x102}};
  s_index ix{};
  ix.d.flags = 1;
  ix.d.klen = 24;
  ix.d.nparts = 2;
  ix.parts = dparts;
  struct Row {
    double d;
    int n;
  } rows[] = {{-1.5, 7}, {0, 7}, {2.25, -10}, {2.25, 3}, {2.25, 100}};
  char keys[5][32];
  for (int i = 0; i < 5; ++i) {
    char r[28] = {};
    stdbl(rows[i].d, r + 4);
    char* p = r + 12;
    Num(rows[i].n).store(p);
    _BuildKey(keys[i], &ix, r, 0);
  }
  for (int i = 0; i + 1 < 5; ++i) EXPECT_LT(_KeyCmp(&ix, keys[i], keys[i + 1]), 0) << i;
  char text[64];
  s_index_field tparts[1] = {{DB_IT_TEXT, 0, 5, 0, 4, 0x101}};
  s_index tx{};
  tx.d.flags = 1;
  tx.d.klen = 5;
  tx.d.nparts = 1;
  tx.parts = tparts;
  EXPECT_STREQ(_KeyText(&tx, "abc\0\0", text, sizeof text), "abc");
}

// Times are stored as 0 (null) or 1 + seconds / 2, up to 43200 (highest):
// past 32767 they still sort, and show, after the earlier ones.
TEST(Keys, TimesOrderAsUnsignedShorts) {
  zftest::startUpOnce("zephtest-1.0");
  s_index_field tparts[1] = {{DB_IT_TIME, 0, 2, 0, 4, 0x101}};
  s_index ix{};
  ix.d.flags = 1;
  ix.d.klen = 2;
  ix.d.nparts = 1;
  ix.parts = tparts;
  int32_t times[] = {0, 1, 30000, 32767, 32768, 40000, 43200};
  char keys[7][2];
  for (int i = 0; i < 7; ++i) {
    char r[8] = {};
    stshort(times[i], r + 4);
    _BuildKey(keys[i], &ix, r, 0);
  }
  for (int i = 0; i + 1 < 7; ++i) EXPECT_LT(_KeyCmp(&ix, keys[i], keys[i + 1]), 0) << times[i];
  char text[32];
  EXPECT_STREQ(_KeyText(&ix, keys[5], text, sizeof text), "40000");
}

}  // namespace
