// The run-time dictionary: handles and names to descriptors, field access
// through handles, and the user's privileges from privilege arrays.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <zfound/Num.h>

#include <string>

#include <gtest/gtest.h>

#include "DescrEncoder.h"
#include "SchemaSets.h"
#include "TestSupport.h"

namespace {

TEST(Privileges, EntriesForUserGroupAndEveryone) {
  zftest::startUpOnce("zephtest-1.0");
  int32_t uid = ProcUserId();
  int32_t privs[] = {dbPrivEntry(uint16_t(uid + 1), DB_PRIV_USER, 8), dbPrivEntry(0, DB_PRIV_EVERYONE, 2),
                     dbPrivEntry(uint16_t(uid), DB_PRIV_USER, 4)};
  EXPECT_EQ(_PrivgOf(privs, 3, 1), 4);
  EXPECT_EQ(_PrivgOf(privs, 2, 1), 2);
  EXPECT_EQ(_PrivgOf(privs, 3, 0), 6);
  EXPECT_EQ(_PrivgOf(nullptr, 0, 1), 0);
}

}  // namespace

namespace {

TEST(Fields, SetAndGetThroughHandles) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0);
  ASSERT_EQ(h, 0x10000);
  int32_t item = FindDbTable(h, "ITEM");
  ASSERT_EQ(item, 0x10300);
  EXPECT_EQ(FindDbTable(h, "gone"), -1);
  int32_t code = FindDbField(item, "code");
  int32_t count = FindDbField(item, "count");
  int32_t hist = FindDbField(item, "hist");
  EXPECT_EQ(code, 0x10301);
  EXPECT_EQ(FindDbIndex(item, "byqty"), -1);  // index names come with the design texts
  s_field* f = _GetFldPtr(code);
  char* rec = _GetTabBuff(item);
  ASSERT_NE(rec, nullptr);
  EXPECT_TRUE(_IsNull(f, rec, 0));
  char out[32];
  EXPECT_EQ(SFld(code, 0, "ABCDEFGHIJ"), 0);  // cut to the field's 8 characters
  EXPECT_EQ(GetFld(code, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "ABCDEFGH");
  EXPECT_EQ(SFld(count, 0, "-42"), 0);
  EXPECT_EQ(GetFld(count, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "-42");
  EXPECT_EQ(SFld(count, 0, "12x"), -1);
  EXPECT_EQ(SFld(hist, 2, "7"), 0);
  EXPECT_EQ(SFld(hist, 3, "7"), -1);  // past the array
  EXPECT_EQ(GetFld(hist, 2, out, sizeof out), 0);
  EXPECT_STREQ(out, "7");
  CloseSchema(h);
}

}  // namespace

namespace {

// A 16-byte number field: its stored null is not all zero bytes, and its
// elements read and set as text like the other number fields.
TEST(Fields, SixteenByteNumbers) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0);
  ASSERT_EQ(h, 0x10000);
  int32_t total = FindDbField(FindDbTable(h, "item"), "total");
  ASSERT_GT(total, 0);
  s_field* f = _GetFldPtr(total);
  char* rec = _GetTabBuff(total & 0xffff00);
  char* at = _FldAddr(f, rec, 0);
  ASSERT_NE(at, nullptr);
  Num value;
  stnum(&value, at);  // the stored null
  EXPECT_TRUE(_IsNull(f, rec, 0));
  char out[64];
  EXPECT_EQ(GetFld(total, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "");
  LToNum(0, &value);
  stnum(&value, at);
  EXPECT_FALSE(_IsNull(f, rec, 0));  // zero is a value
  EXPECT_EQ(SFld(total, 0, "-1234567890123.25"), 0);
  EXPECT_FALSE(_IsNull(f, rec, 0));
  EXPECT_EQ(GetFld(total, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "-1234567890123.25");
  EXPECT_EQ(ldnum(&value, at), 0);
  EXPECT_EQ(NumCmpF(&value, -1234567890123.25), 0);
  for (char const* bad : {"12x", "1-2", "1.2.3", "", "-", "1e", ".", "e5"}) EXPECT_EQ(SFld(total, 0, bad), -1) << bad;
  EXPECT_EQ(SFld(total, 0, " +2.5e3"), 0);
  EXPECT_EQ(GetFld(total, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "2500");
  CloseSchema(h);
}

}  // namespace

namespace {

// A time element holds 0 (null) or 1 + seconds / 2 up to 43200, past the
// range of a signed short.
TEST(Fields, TimesPastTheSignedRange) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0);
  ASSERT_EQ(h, 0x10000);
  int32_t at = FindDbField(FindDbTable(h, "item"), "at");
  ASSERT_GT(at, 0);
  char out[32];
  EXPECT_EQ(SFld(at, 0, "40000"), 0);  // a time after 18:12
  EXPECT_EQ(GetFld(at, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "40000");
  EXPECT_EQ(SFld(at, 0, "43201"), -1);
  EXPECT_EQ(SFld(at, 0, "-1"), -1);
  CloseSchema(h);
}

}  // namespace

namespace {

// A table moved to another slot keeps a descriptor that opens again: its key
// parts name their fields through the new slot.
TEST(Slots, MovedTableIsRewrittenConsistently) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0x10);
  ASSERT_EQ(h, 0x10000);
  s_schema* sp = _GetSchPtr(h);
  ASSERT_EQ(FindDbTable(h, "item"), 0x10300);
  ASSERT_EQ(_ChangeTabSlot(sp, 3, 5), 0x10500);
  s_index* ip = _GetIndPtr(0x10500);
  ASSERT_NE(ip, nullptr);
  for (int32_t k = 0; k < ip->d.nparts; ++k) EXPECT_EQ(dbTableSlot(ip->parts[k].field), 5) << k;
  ASSERT_EQ(_ModifySchema(h), 0);
  ASSERT_EQ(CloseSchema(h), 0);
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000) << _io_errno_;
  EXPECT_EQ(FindDbTable(0x10000, "item"), 0x10500);
  EXPECT_EQ(FindDbIndex(0x10500, "byqty"), 0x10501);
  CloseSchema(0x10000);
}

}  // namespace

namespace {

// A floating field takes only finite numbers: a NaN compares equal to every
// key and an infinity passes the highest value.
TEST(Fields, FloatingFieldsTakeFiniteNumbersOnly) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0);
  ASSERT_EQ(h, 0x10000);
  int32_t item = FindDbTable(h, "item");
  for (char const* name : {"price", "ratio"}) {
    int32_t f = FindDbField(item, name);
    ASSERT_GT(f, 0) << name;
    for (char const* bad : {"nan", "NAN", "inf", "-infinity", "1e999"}) EXPECT_EQ(SFld(f, 0, bad), -1) << name << bad;
    EXPECT_EQ(SFld(f, 0, "2.5"), 0) << name;
  }
  CloseSchema(h);
}

}  // namespace

namespace {

// Enumerations the layer keeps in a schema descriptor: made on their first
// item (or with none), extended in order, found by name, all dropped.
TEST(Enums, AddedItemByItemAndDroppedTogether) {
  s_schema sp{};
  EXPECT_EQ(__AddEnumItem(&sp, "colour", "red", 1), 1);
  EXPECT_EQ(__AddEnumItem(&sp, "size", nullptr, 0), 1);  // made with no item
  EXPECT_EQ(__AddEnumItem(&sp, "colour", "green", 2), 1);
  EXPECT_EQ(__AddEnumItem(&sp, "size", "small", 10), 1);
  EXPECT_EQ(__AddEnumItem(&sp, nullptr, "x", 1), 0);
  EXPECT_EQ(__AddEnumItem(&sp, "", "x", 1), 0);
  ASSERT_EQ(sp.d.nenums, 2);
  EXPECT_STREQ(sp.enums[0].name, "colour");
  ASSERT_EQ(sp.enums[0].nitems, 2);
  EXPECT_STREQ(sp.enums[0].items[1].text, "green");
  int32_t v = 0;
  EXPECT_TRUE(_FindEnumItem(&sp, "size", "small", &v));
  EXPECT_EQ(v, 10);
  EXPECT_FALSE(_FindEnumItem(&sp, "colour", "small", &v));
  // At most 255 enumerations.
  for (int32_t e = 2; e < 255; ++e) ASSERT_EQ(__AddEnumItem(&sp, ("e" + std::to_string(e)).c_str(), nullptr, 0), 1);
  EXPECT_EQ(__AddEnumItem(&sp, "one more", nullptr, 0), 0);
  EXPECT_EQ(__AddEnumItem(&sp, "colour", "blue", 3), 1) << "an existing one still grows";
  __DropAllEnums(&sp);
  EXPECT_EQ(sp.d.nenums, 0);
  EXPECT_EQ(sp.enums, nullptr);
  EXPECT_FALSE(_FindEnumItem(&sp, "colour", "red", &v));
}

// "item" looks keys up in "clients" through a reference check: clients is
// referred to, item is not.
TEST(Dictionary, TableReferencesKeyPartsFieldPlacesAndCallNames) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0);
  ASSERT_EQ(h, 0x10000);
  EXPECT_EQ(FindTabReference(0x10100), 0x10300);
  EXPECT_EQ(FindTabReference(0x10300), -1);
  EXPECT_EQ(FindTabReference(0x10200), -1);  // a free slot

  int32_t count = FindDbField(0x10300, "count");
  s_field* f = _GetFldPtr(count);
  EXPECT_EQ(_GetFldBuff(count, 0), _FldAddr(f, _GetTabBuff(0x10300), 0));
  int32_t hist = FindDbField(0x10300, "hist");
  EXPECT_EQ(_GetFldBuff(hist, 2), _FldAddr(_GetFldPtr(hist), _GetTabBuff(0x10300), 2));
  EXPECT_EQ(_GetFldBuff(hist, 3), nullptr);  // past the array

  EXPECT_EQ(KeyDbField(0x10300, 0), FindDbField(0x10300, "code"));
  EXPECT_EQ(KeyDbField(0x10301, 0), FindDbField(0x10300, "qty"));
  EXPECT_EQ(KeyDbField(0x10301, 1), count);
  EXPECT_EQ(KeyDbField(0x10301, 2), -1);
  EXPECT_EQ(KeyDbField(0x10301, -1), -1);

  EXPECT_STREQ(_MakeFullDbFuncCall("GetFld", count), "GetFld(shop.item.count)");
  EXPECT_STREQ(_MakeFullDbFuncCall("GetRecord", 0x10300), "GetRecord(shop.item)");
  EXPECT_STREQ(_MakeFullDbFuncCall("GetRecord", 0x10200), "GetRecord(shop)");
  EXPECT_STREQ(_MakeFullDbFuncCall("OpenSchema", 0x20000), "OpenSchema()");
  CloseSchema(h);
  EXPECT_STREQ(_MakeFullDbFuncCall("GetFld", count), "GetFld()");
}

}  // namespace
