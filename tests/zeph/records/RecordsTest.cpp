// Stored forms of value checks and expressions, masks and key checks.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <gtest/gtest.h>

#include <zfound/AnyValue.h>
#include <zfound/Expr.h>
#include <zfound/InCheck.h>

#include <cstring>

#include "DescrEncoder.h"
#include "SchemaSets.h"
#include "TestSupport.h"

namespace {

TEST(StoredForms, ValueCheckRoundTripAndDamage) {
  zftest::startUpOnce("zephtest-1.0");
  zftest::Bytes b = zftest::inListBytes({"A", "B"});
  InCheck* c = LoadInCheck(b.data(), int32_t(b.size()));
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(InCheckIsInList(c));
  EXPECT_FALSE(InCheckIsNegated(c));
  EXPECT_EQ(InCheckNKeyVal(c), 2);
  EXPECT_EQ(InCheckGetKeyVal(c, 2), nullptr);
  AnyValue a(String("A")), z(String("Z"));
  EXPECT_TRUE(InCheckAccepts(c, &a));
  EXPECT_FALSE(InCheckAccepts(c, &z));
  int32_t len = 0;
  uint8_t* again = StoreInCheck(c, &len);
  ASSERT_EQ(len, int32_t(b.size()));
  EXPECT_EQ(std::memcmp(again, b.data(), b.size()), 0);
  def_Free(again, __FILE__, __LINE__);
  delete c;

  // Shorter than its length word, a length that is not whole words, a count
  // larger than the values, trailing words: all refused.
  EXPECT_EQ(LoadInCheck(b.data(), int32_t(b.size()) - 1), nullptr);
  zftest::Bytes odd = b;
  odd[0] = uint8_t(odd[0] - 1);
  EXPECT_EQ(LoadInCheck(odd.data(), int32_t(odd.size())), nullptr);
  zftest::Bytes many = b;
  many[2 + 4 * 2 + 3] = 50;  // key count
  EXPECT_EQ(LoadInCheck(many.data(), int32_t(many.size())), nullptr);
  zftest::Bytes extra = b;
  extra.insert(extra.end(), 4, 0);
  extra[0] = uint8_t(extra.size());
  EXPECT_EQ(LoadInCheck(extra.data(), int32_t(extra.size())), nullptr);
}

TEST(StoredForms, ExpressionsAndMasks) {
  zftest::startUpOnce("zephtest-1.0");
  zftest::Bytes e = zftest::exprBytes("2 * 21");
  Expr* x = DbExpr(e.data(), int32_t(e.size()));
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->storeLength(), int32_t(e.size()));
  EXPECT_EQ(toInt(x->eval()), 42);
  delete x;
  EXPECT_EQ(DbExpr(e.data(), int32_t(e.size()) - 3), nullptr);
  zftest::Bytes bad = e;
  bad[bad.size() - 2] ^= 0x5a;
  Expr* y = DbExpr(bad.data(), int32_t(bad.size()));
  delete y;  // refused or read, never a crash

  char* m = nullptr;
  ASSERT_EQ(CompileMask("3n-4n", &m), 0);
  EXPECT_GT(std::strlen(m), 0u);
  EXPECT_GT(std::strlen(m + std::strlen(m) + 1), 0u);
  def_Free(m, __FILE__, __LINE__);
  zftest::ScopedEnv env("ZXMASK", "3n");
  ASSERT_EQ(CompileMask("\001ZXMASK", &m), 0);
  def_Free(m, __FILE__, __LINE__);
  EXPECT_NE(CompileMask("\001ZXNOMASK", &m), 0);
}

TEST(Keys, CheckKeyWantsPartsInsideTheRecord) {
  s_index_field parts[1] = {{DB_IT_LONG, 0, 4, 0, 10, 0x102}};
  s_index ix{};
  ix.d.nparts = 1;
  ix.d.klen = 4;
  ix.parts = parts;
  char r[16] = {};
  EXPECT_EQ(_CheckKey(&ix, r, 14), 1);
  EXPECT_EQ(_CheckKey(&ix, r, 13), 0);
}

}  // namespace

namespace {

TEST(References, CorrectedWhenATableMoves) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0x10);
  ASSERT_EQ(h, 0x10000);
  s_schema* sp = _GetSchPtr(h);
  EXPECT_EQ(_CorrectRefs(sp, 2, 4), 0);
  EXPECT_EQ(sp->rewrite, 0);
  EXPECT_EQ(_CorrectRefs(sp, 1, 4), 1);
  EXPECT_EQ(sp->rewrite, 1);
  s_field const& f = sp->tables[3].tab->fields[3];
  InCheck* again = LoadInCheck(f.d.incheck.data, f.d.incheck.len);
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->getType(), InCheck::INTEGRITY);
  EXPECT_EQ(static_cast<Integrity*>(again)->index().instId(), uint32_t(4 << 8));
  delete again;
  CloseSchema(h);
}

}  // namespace


namespace {

// Display texts: a number kept as a scaled integer shows its decimal point;
// a byte element reads signed.
TEST(Fields, DisplayTextsAndBytes) {
  zftest::SampleSchemaDir dir("shop");
  int32_t h = OpenSchema("shop", 0);
  ASSERT_EQ(h, 0x10000);
  int32_t count = FindDbField(0x10300, "count");
  ASSERT_GT(count, 0);
  char out[32];
  struct Case {
    char const* value;
    uint8_t dec;
    char const* shown;
  } cases[] = {{"12345", 2, "123.45"}, {"-5", 2, "-0.05"}, {"0", 2, "0.00"}, {"7", 0, "7"}, {"-100", 1, "-10.0"}};
  for (Case const& c : cases) {
    _GetFldPtr(count)->d.dec = c.dec;
    ASSERT_EQ(SFld(count, 0, c.value), 0) << c.value;
    EXPECT_EQ(GetDspFld(count, 0, out, sizeof out), 0);
    EXPECT_STREQ(out, c.shown) << c.value;
    EXPECT_EQ(GetFld(count, 0, out, sizeof out), 0);
    EXPECT_STREQ(out, c.value);
  }
  int32_t code = FindDbField(0x10300, "code");
  ASSERT_EQ(SFld(code, 0, "AB"), 0);
  EXPECT_EQ(GetDspFld(code, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "AB");
  EXPECT_EQ(GetDspFld(FindDbField(0x10300, "hist"), 3, out, sizeof out), -1);

  signed char const bytes[] = {-1, 127, 0, -128};
  EXPECT_EQ(BtoI(&bytes[0]), -1);
  EXPECT_EQ(BtoI(&bytes[1]), 127);
  EXPECT_EQ(BtoI(&bytes[2]), 0);
  EXPECT_EQ(BtoI(&bytes[3]), -128);
  CloseSchema(h);
}

}  // namespace
