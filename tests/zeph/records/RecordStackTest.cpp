// The record stack of table slots and the initial values of fields.
#include <dbm/DbInterface.h>
#include <zeph/Records.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TestSupport.h"

namespace {

TEST(RecordStack, SavesPerTableSlotLastOnTop) {
  zftest::startUpOnce("zephtest-1.0");
  char a[4] = {'a', 'a', 'a', 0}, b[4] = {'b', 'b', 'b', 0}, c[4] = {'c', 'c', 'c', 0};
  int32_t const t1 = 0x10100, t2 = 0x10200;
  EXPECT_EQ(_PushRecord(t1, a, 4), 0);
  EXPECT_EQ(_PushRecord(t1 | 3, b, 4), 0);  // an index handle names the same slot
  EXPECT_EQ(_PushRecord(t2, c, 4), 0);
  EXPECT_EQ(_PushRecord(t2, nullptr, 4), -1);
  char out[8] = {};
  ASSERT_EQ(_PopRecord(t1, out, 2), 1);  // at most len bytes
  EXPECT_EQ(std::string(out, 3), std::string("bb\0", 3));
  ASSERT_EQ(_PopRecord(t1, out, 4), 1);
  EXPECT_STREQ(out, "aaa");
  EXPECT_EQ(_PopRecord(t1, out, 4), 0);
  _ForgetRecordStack(t2);
  EXPECT_EQ(_PopRecord(t2, out, 4), 0);
}

TEST(RecordStack, InitialValuesAreTheNullsOfEveryType) {
  zftest::startUpOnce("zephtest-1.0");
  struct Case {
    uint16_t itype, len;
  } const cases[] = {{DB_IT_TEXT, 5}, {DB_IT_BYTE, 2}, {DB_IT_SHORT, 4}, {DB_IT_LONG, 9}, {DB_IT_DOUBLE, 15},
                     {DB_IT_DATE, 0}, {DB_IT_TIME, 0}, {DB_IT_NUM, 20}, {DB_IT_OBJECT, 0}, {DB_IT_BINARY, 0}};
  for (Case const& c : cases) {
    s_field f{};
    f.d.f_itype = c.itype;
    f.d.len = c.len;
    f.d.offset = 4;
    f.d.dim = 2;
    std::vector<char> rec(size_t(4 + 2 * dbElemSize(c.itype, c.len) + 4), 0x11);
    _InitDbField(&f, rec.data(), 1);
    EXPECT_FALSE(_IsNull(&f, rec.data(), 0)) << c.itype;
    EXPECT_TRUE(_IsNull(&f, rec.data(), 1)) << c.itype;
    EXPECT_EQ(rec.back(), 0x11) << c.itype;
    _InitDbField(&f, rec.data(), 2);  // outside the field: nothing written
    EXPECT_EQ(rec.back(), 0x11) << c.itype;
  }
}

}  // namespace
