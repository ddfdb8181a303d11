// Enumerations, server expressions over a table's fields, and the server's
// input checks on the wire and as catalog value texts.
#include "FieldFixture.h"

#include <map>

#include <svcatalog/SvEnum.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvInCheck.h>
#include <zfound/Num.h>

namespace {

// ---- enumerations ------------------------------------------------------------------

TEST(SvEnumTest, ValuesAndMissingItems) {
  SvEnum e(String("E"));
  e.addItem(String("A"), 1);
  e.addItem(String("B"), 2);
  e.addItem(String("A"), 9);  // a duplicate: the first wins
  EXPECT_EQ(e.nItems(), 3);
  EXPECT_EQ(e.itemValue(String("B")), 2);
  EXPECT_EQ(e.itemValue(String("A")), 1);
  EXPECT_EQ(e.itemValue(String("C")), 0x7fffffff);
  EXPECT_EQ(e.item(3), nullptr);
  int32_t* v = e.itemsValues();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 9);
  EXPECT_EQ(v[3], 0x7fffffff);
  delete[] v;
  SvEnum empty(String("Z"));
  EXPECT_EQ(empty.itemsValues(), nullptr);
}

// A schema's answer to the compiler, over its enumerations.
class TestSchema : public SvEnumSource {
public:
  std::map<std::string, SvEnum*> enums;
  ~TestSchema() override {
    for (auto& e : enums) delete e.second;
  }
  bool getEnumInfo(String const& enumName, String const& itemName, int32_t*& values) override {
    auto it = enums.find(zftest::str(enumName));
    if (it == enums.end()) return false;
    if (!itemName.isNull()) {
      int32_t v = it->second->itemValue(itemName);
      if (v == SvEnum::kNoValue) return false;
      values = new int32_t[1]{v};
      return true;
    }
    values = it->second->itemsValues();
    return values != nullptr;
  }
};

class ServerExpr : public FieldTest {
protected:
  void SetUp() override {
    FieldTest::SetUp();
    table = makeTable();
    a = add(*table, SvField::INT, 0, 0, 1, 0, "a");
    b = add(*table, SvField::NUM, 7, 2, 1, 0, "b");
    s = add(*table, SvField::STRING, 6, 0, 1, 0, "s");
    rec1 = record(*table);
    rec2 = record(*table);
    fill(a, rec1, {"3"});
    fill(b, rec1, {"1.5"});
    fill(s, rec1, {"one"});
    fill(a, rec2, {"10"});
    fill(b, rec2, {"-2"});
    fill(s, rec2, {"two"});
  }
  std::unique_ptr<SvTabRep> table;
  SvField *a = nullptr, *b = nullptr, *s = nullptr;
  std::vector<char> rec1, rec2;
};

TEST_F(ServerExpr, EvaluatesOnEachRecordsValues) {
  SvExpr e(String("a + b"), nullptr);
  ASSERT_FALSE(!e) << zftest::str(e.errorDescr());
  ASSERT_TRUE(e.resolveFields(table.get(), -1)) << zftest::str(e.errorDescr());
  e.setInfo(table.get(), -1, rec1.data());
  EXPECT_EQ(zftest::str(toString(e.eval())), "4.5");
  e.setInfo(table.get(), -1, rec2.data());
  EXPECT_EQ(zftest::str(toString(e.eval())), "8");
  SvExpr t(String("s == \"two\""), nullptr);
  ASSERT_TRUE(t.resolveFields(table.get(), -1));
  t.setInfo(table.get(), -1, rec1.data());
  EXPECT_FALSE(toBool(t.eval()));
  t.setInfo(table.get(), -1, rec2.data());
  EXPECT_TRUE(toBool(t.eval()));
}

TEST_F(ServerExpr, TheEmptyNameReadsTheFieldItself) {
  SvExpr e(String("this * 2"), nullptr);
  ASSERT_TRUE(e.resolveFields(table.get(), 1)) << zftest::str(e.errorDescr());
  EXPECT_EQ(e.mapField(String()), 1);
  e.setInfo(table.get(), 1, rec1.data());
  EXPECT_EQ(zftest::str(toString(e.eval())), "3");
  e.setInfo(table.get(), 1, rec2.data());
  EXPECT_EQ(zftest::str(toString(e.eval())), "-4");
  // A table's expression (field -1) has no field of its own.
  SvExpr t(String("this > 0"), nullptr);
  EXPECT_FALSE(t.resolveFields(table.get(), -1));
}

TEST_F(ServerExpr, UnresolvedAndUnboundNamesEndWithAnError) {
  SvExpr unknown(String("zz + 1"), nullptr);
  EXPECT_FALSE(unknown.resolveFields(table.get(), -1));
  SvExpr empty(String(), nullptr);
  EXPECT_FALSE(empty.resolveFields(table.get(), -1));
  // An assignment to a field is no server expression: it ends with an error.
  SvExpr set(String("a = 5"), nullptr);
  ASSERT_TRUE(set.resolveFields(table.get(), -1));
  set.setInfo(table.get(), -1, rec1.data());
  set.eval();
  EXPECT_TRUE(set.failed());
  EXPECT_EQ(texts(a, rec1)[0], "3");
  SvExpr unbound(String("a + 1"), nullptr);
  EXPECT_EQ(unbound.mapField(String("a")), -1);  // no table yet

  // Bound and resolved, but evaluated without a record.
  SvExpr e(String("a + 1"), nullptr);
  ASSERT_TRUE(e.resolveFields(table.get(), -1));
  AnyValue v = e.eval();
  EXPECT_TRUE(e.failed());
  EXPECT_TRUE(v.isVoid());
  EXPECT_FALSE(zftest::str(e.errorDescr()).empty());

  // Resolved on this table, evaluated on a table that has fewer fields.
  SvExpr far(String("s"), nullptr);
  ASSERT_TRUE(far.resolveFields(table.get(), -1));
  auto small = makeTable();
  add(*small, SvField::INT, 0, 0, 1, 0, "x");
  auto srec = record(*small);
  far.setInfo(small.get(), -1, srec.data());
  far.eval();
  EXPECT_TRUE(far.failed());
  far.setInfo(table.get(), -1, rec2.data());
  EXPECT_EQ(zftest::str(toString(far.eval())), "two");
  EXPECT_FALSE(far.failed());
}

TEST_F(ServerExpr, EnumerationsResolveAgainstTheSchema) {
  TestSchema schema;
  auto* colors = new SvEnum(String("Color"));
  colors->addItem(String("Red"), 1);
  colors->addItem(String("Blue"), 4);
  schema.enums["Color"] = colors;
  schema.enums["Empty"] = new SvEnum(String("Empty"));
  SvExpr item(String("Color::Blue + a"), &schema);
  ASSERT_TRUE(item.resolveFields(table.get(), -1)) << zftest::str(item.errorDescr());
  item.setInfo(table.get(), -1, rec1.data());
  EXPECT_EQ(zftest::str(toString(item.eval())), "7");
  SvExpr in(String("a in Color"), &schema);
  ASSERT_TRUE(in.resolveFields(table.get(), -1));
  in.setInfo(table.get(), -1, rec1.data());
  EXPECT_FALSE(toBool(in.eval()));
  fill(a, rec2, {"4"});
  in.setInfo(table.get(), -1, rec2.data());
  EXPECT_TRUE(toBool(in.eval()));
  int32_t* values = nullptr;
  EXPECT_FALSE(schema.getEnumInfo(String("Empty"), String(), values));
  EXPECT_FALSE(SvExpr::enumHandler(String("Color"), String("Red"), values));  // no schema compiling now
}

TEST_F(ServerExpr, TheTableBindsItsFieldsExpressions) {
  SvField* checked = SvField::mkField(table.get(), 0, String("c"), String(), new SvExpr(String("this + a"), nullptr),
                                      String(), 0, 0, SvField::INT, -1, 0, 1, nullptr,
                                      new SvExpr(String("this > a"), nullptr), nullptr, ObjectId(), String());
  table->setExpression(new SvExpr(String("a > 0"), nullptr));
  EXPECT_TRUE(table->resolveExpressions());
  rec1.resize(size_t(table->nextOffset()));  // room for the new field
  fill(checked, rec1, {"5"});
  checked->expression()->setInfo(table.get(), checked->number(), rec1.data());
  EXPECT_TRUE(toBool(checked->expression()->eval()));
  checked->deflt()->setInfo(table.get(), checked->number(), rec1.data());
  EXPECT_EQ(zftest::str(toString(checked->deflt()->eval())), "8");
  checked->setExpression(new SvExpr(String("nothing"), nullptr));
  EXPECT_FALSE(table->resolveExpressions());
}

// ---- checks --------------------------------------------------------------------------

class Checks : public FieldTest {};

TEST_F(Checks, ListAndReferentialChecksOnTheWire) {
  SvInList list(true);
  list.addKeyVal(AnyValue(String("x")));
  list.addKeyVal(AnyValue(Num(5)));
  list.addDspFld(AnyValue(String("ex")));
  LoopConnection c;
  list.send(c);
  std::vector<uint32_t> w = c.words();
  c.rewind();
  ASSERT_GE(w.size(), 4u);
  EXPECT_EQ(w[0], 1u);  // kind
  EXPECT_EQ(w[1], 1u);  // negated
  EXPECT_EQ(w[2], 2u);
  EXPECT_EQ(w[3], 1u);
  ASSERT_EQ(InCheck::receive(c), 1);
  SvInList back(c);
  EXPECT_FALSE(c.bad());
  EXPECT_TRUE(back.negation());
  ASSERT_EQ(back.nKeyValues(), 2);
  EXPECT_EQ(zftest::str(toString(*back.keyValue(0))), "x");
  EXPECT_EQ(zftest::str(toString(*back.dspField(0))), "ex");

  SvInList plain;  // null negation: sent as 0
  LoopConnection c2;
  plain.send(c2);
  EXPECT_EQ(c2.words(), (std::vector<uint32_t>{1, 0, 0, 0}));

  SvIntegrity ref(false, ObjectId(0x3003, 12));
  LoopConnection c3;
  ref.send(c3);
  EXPECT_EQ(c3.words(), (std::vector<uint32_t>{0, 0, 0, 0, 0x3003, 12}));

  InCheck none;
  LoopConnection c4;
  sendInCheck(&none, c4);
  sendInCheck(nullptr, c4);
  EXPECT_EQ(c4.words(), (std::vector<uint32_t>{2, 2}));
  EXPECT_TRUE(zftest::str(ref.toString(0)).empty());
}

TEST_F(Checks, ObjectIdValueTexts) {
  AnyValue id = integrValue(String("\x1a" "12,34"));
  ASSERT_EQ(id.getType(), AnyValue::T_OBJID);
  EXPECT_EQ(toObjectId(id), ObjectId(12, 34));
  EXPECT_EQ(zftest::str(integrValueText(AnyValue(ObjectId(12, 34)))), "\x1a" "12,34");
  EXPECT_EQ(zftest::str(integrValueText(AnyValue(ObjectId(0x80000000u, 0xFFFFFFFFu)))), "\x1a-2147483648,-1");
  EXPECT_EQ(toObjectId(integrValue(String("\x1a-2147483648,-1"))), ObjectId(0x80000000u, 0xFFFFFFFFu));
  EXPECT_EQ(zftest::str(integrValueText(AnyValue(String("red")))), "red");
  // A damaged id text stays a text.
  AnyValue bad = integrValue(String("\x1a" "12;34"));
  EXPECT_EQ(bad.getType(), AnyValue::T_STRING);
  EXPECT_EQ(integrValue(String("plain")).getType(), AnyValue::T_STRING);
}

}  // namespace
