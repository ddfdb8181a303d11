// Arithmetic updates of field elements, as the record-update request applies
// them: one operand read from the channel for n elements.
#include "FieldFixture.h"

#include <zfound/Num.h>

namespace {

class FieldUpdate : public FieldTest {};

enum class Operand { None, Number, Long, Text };

struct UpdateCase {
  char const* what;
  int32_t type, len, dec;
  std::vector<std::string> before;
  int32_t op;
  Operand kind;
  std::string operand;
  bool answer;
  std::vector<std::string> after;
  std::string error;  // the pending error's text, "" for none
};

bool apply(SvField* f, Connection* c, char* p, int32_t n, int32_t op) {
  switch (op) {
    case SvField::ADD: return f->receiveAdd(c, p, n);
    case SvField::SUB: return f->receiveSub(c, p, n);
    case SvField::MUL: return f->receiveMul(c, p, n);
    case SvField::DIV: return f->receiveDiv(c, p, n);
    default: return f->receiveSet(c, p, n);
  }
}

TEST_F(FieldUpdate, OperationsOnEveryClass) {
  using S = std::vector<std::string>;
  std::vector<UpdateCase> const cases = {
      {"number overflow skips one element", SvField::NUM, 4, 0, S{"9999", "1", "5"}, SvField::ADD, Operand::Number,
       "1", true, S{"9999", "2", "6"}, "Invalid data: s.t.f = 10000"},
      {"number subtract", SvField::NUM, 7, 2, S{"10.5", ""}, SvField::SUB, Operand::Number, "0.25", true,
       S{"10.25", ""}, ""},
      {"number multiply", SvField::NUM, 7, 2, S{"1.5", "-2"}, SvField::MUL, Operand::Number, "3", true,
       S{"4.5", "-6"}, ""},
      {"number divide", SvField::NUM, 7, 2, S{"9", "1"}, SvField::DIV, Operand::Number, "4", true,
       S{"2.25", "0.25"}, ""},
      {"number set", SvField::NUM, 7, 2, S{"9", "1"}, SvField::SET, Operand::Number, "12.5", true,
       S{"12.5", "12.5"}, ""},
      {"int wraps to null", SvField::INT, 0, 0, S{"2147483647"}, SvField::ADD, Operand::Long, "1", true, S{""}, ""},
      {"int subtract wraps", SvField::INT, 0, 0, S{"-2147483647"}, SvField::SUB, Operand::Long, "2", true,
       S{"2147483647"}, ""},
      {"int multiply wraps", SvField::INT, 0, 0, S{"65536", "-3"}, SvField::MUL, Operand::Long, "65536", true,
       S{"0", "-196608"}, ""},
      {"int divide", SvField::INT, 0, 0, S{"-7", "7"}, SvField::DIV, Operand::Long, "2", true, S{"-3", "3"}, ""},
      {"int divide by zero", SvField::INT, 0, 0, S{"5"}, SvField::DIV, Operand::Long, "0", true, S{""}, ""},
      {"int null by -1", SvField::INT, 0, 0, S{""}, SvField::DIV, Operand::Long, "-1", true, S{""}, ""},
      {"int set", SvField::INT, 0, 0, S{"1", "2"}, SvField::SET, Operand::Long, "-9", true, S{"-9", "-9"}, ""},
      {"float add", SvField::FLOAT, 0, 0, S{"1.5", "2"}, SvField::ADD, Operand::Number, "0.25", true,
       S{"1.75", "2.25"}, ""},
      {"float multiply", SvField::FLOAT, 0, 0, S{"1.5"}, SvField::MUL, Operand::Number, "1e30", true,
       S{"1500000000000000000000000000000"}, ""},
      {"float divide by zero", SvField::FLOAT, 0, 0, S{"3"}, SvField::DIV, Operand::Number, "0", true,
       S{"(high)"}, ""},
      {"float set", SvField::FLOAT, 0, 0, S{"3"}, SvField::SET, Operand::Number, "-0.5", true, S{"-0.5"}, ""},
      {"string set cut to length", SvField::STRING, 5, 0, S{"x", "y"}, SvField::SET, Operand::Text, "abcdefgh",
       true, S{"abcde", "abcde"}, ""},
      {"string add", SvField::STRING, 5, 0, S{"x"}, SvField::ADD, Operand::None, "", false, S{"x"}, ""},
      {"date add", SvField::DATE, 0, 0, S{"01/01/2000"}, SvField::ADD, Operand::None, "", false, S{"01/01/2000"},
       ""},
      {"date set", SvField::DATE, 0, 0, S{"01/01/2000"}, SvField::SET, Operand::None, "", false,
       S{"01/01/2000"}, ""},
      {"time subtract", SvField::TIME, 0, 0, S{"10:00:00"}, SvField::SUB, Operand::None, "", false,
       S{"10:00:00"}, ""},
      {"time multiply", SvField::TIME, 0, 0, S{"10:00:00"}, SvField::MUL, Operand::None, "", false,
       S{"10:00:00"}, ""},
      {"bool set", SvField::BOOL, 0, 0, S{"1"}, SvField::SET, Operand::None, "", false, S{"1"}, ""},
      {"object set", SvField::OBJECT, 0, 0, S{"<1, 2>"}, SvField::SET, Operand::None, "", false, S{"<1, 2>"}, ""},
      {"vso add", SvField::VSO, 0, 0, S{"<1, 2, 3>"}, SvField::ADD, Operand::None, "", false, S{"<1, 2, 3>"}, ""},
  };
  for (auto const& uc : cases) {
    SCOPED_TRACE(uc.what);
    clearError();
    auto t = makeTable();
    SvField* f = add(*t, uc.type, uc.len, uc.dec, int32_t(uc.before.size()));
    auto rec = record(*t);
    fill(f, rec, uc.before);
    ASSERT_EQ(pending(), 0) << pendingText();
    LoopConnection c;
    switch (uc.kind) {
      case Operand::Number: c << toNum(uc.operand.c_str()); break;
      case Operand::Long: c << int32_t(std::stol(uc.operand)); break;
      case Operand::Text: c << String(uc.operand.c_str()); break;
      case Operand::None: c << int32_t(12345); break;
    }
    c.rewind();
    EXPECT_EQ(apply(f, &c, rec.data() + f->tableOffset(), f->dim(), uc.op), uc.answer);
    EXPECT_EQ(texts(f, rec), uc.after);
    EXPECT_EQ(pending() == 0 ? std::string() : pendingText(), uc.error);
    // The operand is read once (and not at all when the class refuses).
    EXPECT_EQ(c.wordsLeft(), uc.kind == Operand::None ? 1 : 0);
  }
}

TEST_F(FieldUpdate, ARunMarkerBeforeANumberOperandIsIgnored) {
  auto t = makeTable();
  SvField* n = add(*t, SvField::NUM, 5, 0, 2);
  auto rec = record(*t);
  fill(n, rec, {"1", "2"});
  LoopConnection c;
  c.sendCounter(2);
  c << Num(10);
  c.rewind();
  EXPECT_TRUE(n->receiveAdd(&c, rec.data() + n->tableOffset(), 2));
  EXPECT_EQ(texts(n, rec), (std::vector<std::string>{"11", "12"}));
}

TEST_F(FieldUpdate, CountsOutsideTheFieldAndDryChannelsAreRefused) {
  auto t = makeTable();
  SvField* i = add(*t, SvField::INT, 0, 0, 2, 0, "i");
  SvField* guard = add(*t, SvField::INT, 0, 0, 1, 0, "guard");
  auto rec = record(*t);
  fill(i, rec, {"1", "2"});
  fill(guard, rec, {"77"});
  {
    LoopConnection c;
    c << int32_t(5);
    c.rewind();
    EXPECT_FALSE(i->receiveSet(&c, rec.data() + i->tableOffset(), 3));
    EXPECT_EQ(pending(), 35);
  }
  clearError();
  {
    LoopConnection c;
    c.feed({});
    EXPECT_FALSE(i->receiveAdd(&c, rec.data() + i->tableOffset(), 2));
    EXPECT_TRUE(c.bad());
    EXPECT_EQ(pending(), 35);
  }
  EXPECT_EQ(texts(i, rec), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(texts(guard, rec), (std::vector<std::string>{"77"}));
}

TEST(IntArithmetic, WrapsAndNeverTraps) {
  EXPECT_EQ(SvIntField::apply(INT32_MAX, 1, SvField::ADD), INT32_MIN);
  EXPECT_EQ(SvIntField::apply(INT32_MIN, 1, SvField::SUB), INT32_MAX);
  EXPECT_EQ(SvIntField::apply(INT32_MIN, -1, SvField::MUL), INT32_MIN);
  EXPECT_EQ(SvIntField::apply(INT32_MIN, -1, SvField::DIV), INT32_MIN);
  EXPECT_EQ(SvIntField::apply(0, 0, SvField::DIV), INT32_MIN);
  EXPECT_EQ(SvIntField::apply(-9, 2, SvField::DIV), -4);
  EXPECT_EQ(SvIntField::apply(3, 8, SvField::SET), 8);
}

}  // namespace
