// The catalog tables' columns: offsets and record lengths byte for byte, the
// bytes of a stored row, and the checks that refuse a value a column cannot
// hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <svcatalog/CatalogDefs.h>

#include "FieldFixture.h"

namespace {

using svcatalog::Cat;

class CatalogDefsTest : public FieldTest {};

TEST_F(CatalogDefsTest, ColumnOffsetsAndRecordLengths) {
  struct Case {
    Cat cat;
    char const* file;
    std::vector<int32_t> offsets;
    int32_t recLength;
  } const cases[] = {
      {Cat::Class, "$class.tab", {20, 37, 102, 167, 169, 173, 179}, 436},
      {Cat::Member,
       "$member.tab",
       {20, 28, 30, 47, 112, 114, 116, 118, 120, 122, 124, 253, 382, 384, 386, 394, 523, 540, 548},
       613},
      {Cat::MIndex, "$mindex.tab", {20, 28, 30, 47, 64, 66, 70}, 72},
      {Cat::MIMembr, "$mimembr.tab", {20, 28, 30, 38, 40, 44}, 46},
      {Cat::Privg, "$privg.tab", {20, 28, 30, 34, 36}, 38},
      {Cat::Integr, "$integr.tab", {20, 28, 30, 32}, 97},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_STREQ(svcatalog::catalogDef(c.cat).file, c.file);
    auto t = makeTable();
    ASSERT_TRUE(svcatalog::buildCatalogColumns(t.get(), c.cat));
    ASSERT_EQ(t->nFields(), int32_t(c.offsets.size()));
    for (size_t i = 0; i < c.offsets.size(); ++i) EXPECT_EQ(t->field(int32_t(i))->tableOffset(), c.offsets[i]) << i;
    EXPECT_EQ(t->nextOffset(), c.recLength);
  }
}

// A "$mindex.tab" row (class <0x1011, 17>, indnum 1, "byName", "_custome.i01",
// flags 1, len 22, nfields 2) as the file holds it after the prefix.
TEST_F(CatalogDefsTest, IndexRowBytes) {
  auto t = makeTable();
  ASSERT_TRUE(svcatalog::buildCatalogColumns(t.get(), Cat::MIndex));
  std::vector<char> rec = record(*t);
  using namespace svcatalog::MIndexCol;
  ASSERT_TRUE(t->setFld(Class, 0x1011u, 17u, rec.data()));
  ASSERT_TRUE(t->setFld(IndNum, 1, rec.data()));
  ASSERT_TRUE(t->setFld(Name, String("byName"), rec.data()));
  ASSERT_TRUE(t->setFld(File, String("_custome.i01"), rec.data()));
  ASSERT_TRUE(t->setFld(Flags, 1, rec.data()));
  ASSERT_TRUE(t->setFld(Len, 22, rec.data()));
  ASSERT_TRUE(t->setFld(NFields, 2, rec.data()));
  std::string hex;
  for (size_t i = 20; i < rec.size(); ++i) {
    char b[3];
    snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(rec[i]));
    hex += b;
  }
  EXPECT_EQ(hex,
            "0000101100000011"                    // class
            "8001"                                // indnum
            "62794e616d650000000000000000000000"  // name, 16 + 1
            "5f637573746f6d652e6930310000000000"  // file, 16 + 1
            "8001"                                // flags
            "80000016"                            // len, two units
            "8002");                              // nfields
}

TEST_F(CatalogDefsTest, ValuesAColumnCannotHoldAreRefused) {
  struct Case {
    Cat cat;
    int32_t col;
    int32_t value;
    bool fits;
  } const nums[] = {
      {Cat::Member, svcatalog::MemberCol::Len, 9999, true},     // declared 2 digits, one unit
      {Cat::Member, svcatalog::MemberCol::Len, 10000, false},
      {Cat::Member, svcatalog::MemberCol::Dim, -9999, true},
      {Cat::Member, svcatalog::MemberCol::Dim, -10000, false},
      {Cat::Integr, svcatalog::IntegrCol::Type, 9999, true},
      {Cat::Integr, svcatalog::IntegrCol::Type, 12345, false},
      {Cat::Class, svcatalog::ClassCol::Len, 99999999, true},   // two units
      {Cat::Class, svcatalog::ClassCol::Len, 100000000, false},
      {Cat::Class, svcatalog::ClassCol::Size, INT32_MAX, true},  // three units
      {Cat::Class, svcatalog::ClassCol::Name, 1, false},         // not a number column
  };
  for (Case const& c : nums) {
    SCOPED_TRACE(std::to_string(c.col) + " " + std::to_string(c.value));
    clearError();
    EXPECT_EQ(svcatalog::columnFits(c.cat, c.col, c.value), c.fits);
    EXPECT_EQ(pending() == 0, c.fits);
  }
  clearError();
  EXPECT_TRUE(svcatalog::columnFits(Cat::Class, svcatalog::ClassCol::Name, String("sixteen_chars_ab")));
  EXPECT_FALSE(svcatalog::columnFits(Cat::Class, svcatalog::ClassCol::Name, String("seventeen_chars_a")));
  EXPECT_NE(pendingText().find("$class.tab.name"), std::string::npos) << pendingText();
}

// What a column keeps is what the check lets through: a stored value at the
// limit reads back the same.
TEST_F(CatalogDefsTest, ValuesAtTheLimitsReadBack) {
  auto t = makeTable();
  ASSERT_TRUE(svcatalog::buildCatalogColumns(t.get(), Cat::Member));
  std::vector<char> rec = record(*t);
  for (int32_t v : {9999, -9999, 0}) {
    ASSERT_TRUE(t->setFld(svcatalog::MemberCol::Len, v, rec.data()));
    int32_t back = 1;
    ASSERT_TRUE(t->getFld(svcatalog::MemberCol::Len, back, rec.data()));
    EXPECT_EQ(back, v);
  }
}

}  // namespace
