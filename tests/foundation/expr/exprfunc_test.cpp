// Calls out of expression code: the default functions, object references as
// arguments, methods, and the catalogue texts of binding and call faults in
// a started process.
#include <gtest/gtest.h>

#include <zfound/Date.h>
#include <zfound/Expr.h>
#include <zfound/Process.h>

#include <string>

#include "TestSupport.h"
#include "exprasm.h"

using namespace exprtest;

namespace {

class Calls : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    zftest::startUpOnce("exprfunc");
  }
  void TearDown() override { EXPECT_EQ(Expr::last(), Expr::stack()); }

  // Evaluates name(arg) with one constant argument (or none).
  std::string call(char const* name, void (*arg)(Asm&)) {
    Asm a;
    a.call(name, -1);
    if (arg) arg(a);
    a.op(I::arg_end);
    Expr e;
    EXPECT_TRUE(a.install(e));
    AnyValue v = e.eval();
    EXPECT_FALSE(e.failed()) << toCharPtr(e.errorDescr());
    kind = v.getType();
    return text(v);
  }
  int16_t kind = 0;
};

TEST_F(Calls, DefaultFunctions) {
  Expr e;
  char const* names[] = {"time", "date", "num", "float", "string", "monthname", "dayname", "month", "day", "year"};
  for (long i = 0; i < 10; ++i) EXPECT_EQ(e.addFunction(names[i]), i) << names[i];

  Date d(15, 3, 1999);
  static int32_t day;
  day = d.value();
  EXPECT_EQ(call("date", [](Asm& a) { a.num(day); }), std::string(toCharPtr(d, 4)));
  EXPECT_EQ(kind, AnyValue::T_DATE);
  EXPECT_EQ(call("time", [](Asm& a) { a.num(3723); }), "01:02:03");
  EXPECT_EQ(kind, AnyValue::T_TIME);
  EXPECT_EQ(call("num", [](Asm& a) { a.text(" 12.50"); }), "12.5");
  EXPECT_EQ(kind, AnyValue::T_NUM);
  EXPECT_EQ(call("float", [](Asm& a) { a.text("-3"); }), "-3");
  EXPECT_EQ(call("string", [](Asm& a) { a.num(Num("4.25")); }), "4.25");
  EXPECT_EQ(kind, AnyValue::T_STRING);
  EXPECT_EQ(call("month", [](Asm& a) { a.date(day); }), "3");
  EXPECT_EQ(call("day", [](Asm& a) { a.date(day); }), "15");
  EXPECT_EQ(call("year", [](Asm& a) { a.date(day); }), "1999");
  EXPECT_EQ(call("monthname", [](Asm& a) { a.date(day); }), std::string(toCharPtr(d.monthName())));
  EXPECT_EQ(call("dayname", [](Asm& a) { a.date(day); }), std::string(toCharPtr(d.dayOfWeekName())));
  // Without an argument the functions get void.
  EXPECT_EQ(call("num", nullptr), "");
  EXPECT_EQ(kind, AnyValue::T_NUM);
  EXPECT_EQ(call("date", nullptr), "");
  EXPECT_EQ(kind, AnyValue::T_DATE);
}

TEST_F(Calls, EnvironmentAndProgramArguments) {
  Asm a;
  a.text("0").op(I::get_env).text("-").op(I::add).text("EXPRFUNC_TEST_VAR").op(I::get_env).op(I::add);
  Expr e;
  ASSERT_TRUE(a.install(e));
  EXPECT_TRUE(e.haveEnvVars());
  zftest::ScopedEnv env("EXPRFUNC_TEST_VAR", "value");
  // Another suite of this program may have started the process first, with
  // other arguments: program argument 0 is there in every start.
  std::string arg0 = toCharPtr(argVal(0));
  ASSERT_FALSE(arg0.empty());
  EXPECT_EQ(text(e.eval()), arg0 + "-value");
}

// Records what a handler saw of its object-reference arguments.
std::string seen;
void refs(ExprStack& s) {
  seen.clear();
  ExprObject o(s.expression());
  if (s.getAddress(o)) seen += toCharPtr(o.name()) + std::string(o.hasClassId() ? "+class" : "");
  seen += "|" + std::to_string(s.reference());
  seen += "|" + std::string(toCharPtr(s.referenceName()));
  seen += "|" + text(s.value());
  seen += s.noMoreArgs() ? "|end" : "|more";
  s.push(AnyValue(seen.c_str()));
}

TEST_F(Calls, ObjectReferencesAsArguments) {
  // refs(a.b, c, d, 'v')  -- references read in place, not run
  Asm a;
  a.call("refs", -1);
  a.text("a.b").logical(false).lng(4).lng(9).op(I::foreign_obj_get).op(I::arg_separ);
  a.text("c").logical(false).lng(12).op(I::global_obj_set).op(I::arg_separ);
  a.text("d").logical(false).lng(-1).op(I::local_get).op(I::arg_separ);
  a.text("v").op(I::arg_end);
  Expr e;
  ASSERT_TRUE(a.install(e)) << toCharPtr(e.errorDescr());
  e.addFunction("refs", refs);
  EXPECT_EQ(text(e.eval()), "a.b+class|12|d|v|end");
}

void rowMethod(ExprObject& o, ExprStack& s) {
  AnyValue arg = s.value();
  std::string r = std::string(toCharPtr(o.name())) + "@" + std::to_string(o.row()) + ":" + text(arg);
  s.push(AnyValue(r.c_str()));
}

TEST_F(Calls, MethodsGetTheirObjectAndRow) {
  Asm a;
  a.num(7);  // the row, below the call
  a.text("show").lng(-1).op(I::method);
  a.text("tab").logical(true).lng(-1).lng(-1).op(I::foreign_obj_get).op(I::arg_separ);
  a.text("x").op(I::arg_end);
  Expr e;
  ASSERT_TRUE(a.install(e));
  EXPECT_FALSE(e.checkBindings());
  EXPECT_NE(std::string(toCharPtr(e.errorDescr())).find("show"), std::string::npos);
  EXPECT_EQ(e.addMethod("SHOW", rowMethod), 0);
  EXPECT_TRUE(e.checkBindings());
  EXPECT_EQ(text(e.eval()), "tab@7:x");
}

TEST_F(Calls, UnboundCallsAndClashingNamesGiveTheirTexts) {
  Asm a;
  a.call("nowhere", -1).op(I::arg_end);
  Expr e;
  ASSERT_TRUE(a.install(e, "nowhere()"));
  e.eval();
  EXPECT_TRUE(e.failed());
  std::string t = toCharPtr(e.errorDescr());
  EXPECT_NE(t.find("nowhere"), std::string::npos) << t;
  EXPECT_EQ(t.find("not found"), std::string::npos) << t;  // the catalogue has the text
  Expr d;
  EXPECT_EQ(d.installLocalObject("v"), 0);
  EXPECT_EQ(d.installLocalObject("v"), -1);
  t = toCharPtr(d.errorDescr());
  EXPECT_NE(t.find("v"), std::string::npos) << t;
  EXPECT_EQ(t.find("not found"), std::string::npos) << t;
}

}  // namespace
