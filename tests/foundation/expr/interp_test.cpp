// The interpreter run on hand-assembled code: operators and their null rules,
// statements and loops, variables, named objects, calls with lazy arguments,
// messages, and the faults that end an evaluation without ending the process.
#include <gtest/gtest.h>

#include <zfound/Expr.h>

#include <functional>
#include <string>

#include "exprasm.h"

using namespace exprtest;

namespace {

// Every test starts and ends with an empty evaluation stack.
class Interp : public ::testing::Test {
protected:
  void TearDown() override { EXPECT_EQ(Expr::last(), Expr::stack()); }
};

std::string evalText(std::function<void(Asm&)> build) {
  Asm a;
  build(a);
  Expr e;
  EXPECT_TRUE(a.install(e)) << toCharPtr(e.errorDescr());
  AnyValue v = e.eval();
  EXPECT_FALSE(e.failed()) << toCharPtr(e.errorDescr());
  return text(v);
}

TEST_F(Interp, OperatorsAndTheirNullRules) {
  struct Case {
    char const* what;
    std::function<void(Asm&)> build;
    char const* want;
  } cases[] = {
      {"1 + 2 * 3", [](Asm& a) { a.num(1).num(2).num(3).op(I::mult).op(I::add); }, "7"},
      {"7 - 2 - 1", [](Asm& a) { a.num(7).num(2).op(I::dif).num(1).op(I::dif); }, "4"},
      {"-(4) / 8", [](Asm& a) { a.num(4).op(I::umin).num(8).op(I::div); }, "-0.5"},
      {"'ab' + 3", [](Asm& a) { a.text("ab").num(3).op(I::add); }, "ab3"},
      {"number + null", [](Asm& a) { a.num(5).num(Num()).op(I::add); }, ""},
      {"text + null", [](Asm& a) { a.text("ab").text(String()).op(I::add); }, "ab"},
      {"null date - 1 is null", [](Asm& a) { a.date(INT32_MIN).num(1).op(I::dif); }, ""},
      {"date - date", [](Asm& a) { a.date(100).date(40).op(I::dif); }, "60"},
      {"2 == 2", [](Asm& a) { a.num(2).num(2).op(I::eq); }, "1"},
      {"2 != 2", [](Asm& a) { a.num(2).num(2).op(I::ne); }, "0"},
      {"3 > 2", [](Asm& a) { a.num(3).num(2).op(I::gt); }, "1"},
      {"3 < 2", [](Asm& a) { a.num(3).num(2).op(I::lt); }, "0"},
      {"2 >= 2", [](Asm& a) { a.num(2).num(2).op(I::ge); }, "1"},
      {"3 <= 2", [](Asm& a) { a.num(3).num(2).op(I::le); }, "0"},
      {"1 between 1 and 3", [](Asm& a) { a.num(1).num(1).num(3).op(I::between); }, "1"},
      {"4 between 1 and 3", [](Asm& a) { a.num(4).num(1).num(3).op(I::between); }, "0"},
      {"4 in (1,2,3)", [](Asm& a) { a.num(4).num(1).num(2).num(3).lng(3).op(I::in); }, "0"},
      {"2 in (1,2,3)", [](Asm& a) { a.num(2).num(1).num(2).num(3).lng(3).op(I::in); }, "1"},
      {"2 in ()", [](Asm& a) { a.num(2).lng(0).op(I::in); }, "0"},
      {"1==1 and 1==2", [](Asm& a) { a.logical(true).logical(false).op(I::and_); }, "0"},
      {"1==1 or 1==2", [](Asm& a) { a.logical(true).logical(false).op(I::or_); }, "1"},
      {"not 1==2", [](Asm& a) { a.logical(false).op(I::not_); }, "1"},
      {"c ? x : y", [](Asm& a) { a.logical(false).text("x").text("y").op(I::cond_if); }, "y"},
      {"x when false v", [](Asm& a) { a.text("x").logical(false).text("v").op(I::when); }, "v"},
      {"x when true v", [](Asm& a) { a.text("x").logical(true).text("v").op(I::when); }, "x"},
      {"like anchors", [](Asm& a) { a.text("xabc").text("abc").op(I::like); }, "0"},
      {"like at start", [](Asm& a) { a.text("abcx").text("ab.").op(I::like); }, "1"},
      {"match anywhere", [](Asm& a) { a.text("xabc").text("abc").op(I::match); }, "1"},
      {"void", [](Asm& a) { a.op(I::void_value); }, ""},
      {"long constant", [](Asm& a) { a.lng(0).lng(-12).op(I::add); }, "-12"},
      {"time constant", [](Asm& a) { a.time(3661).num(1).op(I::add); }, "01:01:02"},
      {"year(date)", [](Asm& a) { a.call("year", 9).date(0).op(I::arg_end); }, "1984"},
      {"num('12') * 2", [](Asm& a) { a.call("num", 2).text("12").op(I::arg_end).num(2).op(I::mult); }, "24"},
  };
  for (Case const& c : cases) EXPECT_EQ(evalText(c.build), c.want) << c.what;
}

TEST_F(Interp, NullExpressionIsTheNullText) {
  Expr e;
  AnyValue v = e.eval();
  EXPECT_TRUE(v.isString());
  EXPECT_TRUE(v.isNull());
}

// Counts the additions it runs.
class CountingExpr : public Expr {
public:
  void add() override {
    ++adds;
    Expr::add();
  }
  int adds = 0;
};

TEST_F(Interp, ConstantResultsAreKeptOthersRunAgain) {
  Asm k;
  k.num(1).num(2).op(I::add);
  CountingExpr constant;
  ASSERT_TRUE(k.install(constant));
  EXPECT_EQ(text(constant.eval()), "3");
  EXPECT_EQ(text(constant.eval()), "3");
  EXPECT_EQ(constant.adds, 1);

  // A variable makes the expression run again.
  Asm v;
  v.num(1).decl("x", 0, true).op(I::resetStack).local("x", 0, I::local_get).num(2).op(I::add);
  CountingExpr withVar;
  ASSERT_TRUE(v.install(withVar));
  EXPECT_EQ(text(withVar.eval()), "3");
  EXPECT_EQ(text(withVar.eval()), "3");
  EXPECT_EQ(withVar.adds, 2);
}

TEST_F(Interp, StatementsOnlyGiveVoidAndKeepTheirVariables) {
  // object x; x = 1;
  Asm a;
  a.decl("x", 0, false).op(I::resetStack);
  a.local("x", 0, I::local_set).num(1).op(I::assign).op(I::resetStack);
  Expr e;
  ASSERT_TRUE(a.install(e)) << toCharPtr(e.errorDescr());
  AnyValue v = e.eval();
  EXPECT_FALSE(e.failed());
  EXPECT_TRUE(v.isVoid());
  EXPECT_EQ(text(e.localObjectValue(0)), "1");
}

TEST_F(Interp, WhileLoopLeavesNothingBehind) {
  // object i = 0; while (i < 5) { i += 1; } i
  Asm a;
  a.num(0).decl("i", 0, true).op(I::resetStack);
  long w = a.pos();
  a.op(I::while_inst).op(0).op(0);
  a.local("i", 0, I::local_get).num(5).op(I::lt).op(I::stop);
  long body = a.pos();
  a.local("i", 0, I::local_set).num(1).op(I::assign_add).op(I::resetStack).op(I::stop);
  a.patch(w + 1, body);
  a.patch(w + 2, a.pos());
  a.local("i", 0, I::local_get);
  Expr e;
  ASSERT_TRUE(a.install(e)) << toCharPtr(e.errorDescr());
  // A base below the evaluation: the loop must not touch it.
  Expr::stack()[0].set(AnyValue("caller"));
  ++Expr::last();
  EXPECT_EQ(text(e.eval()), "5");
  EXPECT_EQ(Expr::last(), Expr::stack() + 1);
  EXPECT_EQ(text(Expr::stack()[0]), "caller");
  --Expr::last();
  Expr::stack()[0].set(AnyValue());
}

TEST_F(Interp, ReturnInsideWhileEndsTheEvaluation) {
  // object i = 0; while (i < 10) { i += 1; if (i == 3) return i * 100; else ; } i
  Asm a;
  a.num(0).decl("i", 0, true).op(I::resetStack);
  long w = a.pos();
  a.op(I::while_inst).op(0).op(0);
  a.local("i", 0, I::local_get).num(10).op(I::lt).op(I::stop);
  long body = a.pos();
  a.local("i", 0, I::local_set).num(1).op(I::assign_add).op(I::resetStack);
  long f = a.pos();
  a.op(I::if_inst).op(0).op(0).op(0);
  a.local("i", 0, I::local_get).num(3).op(I::eq).op(I::stop);
  long then = a.pos();
  a.local("i", 0, I::local_get).num(100).op(I::mult).op(I::return_inst).op(I::stop);
  long els = a.pos();
  a.op(I::resetStack).op(I::stop);
  a.patch(f + 1, then);
  a.patch(f + 2, els);
  a.patch(f + 3, a.pos());
  a.op(I::stop);
  a.patch(w + 1, body);
  a.patch(w + 2, a.pos());
  a.local("i", 0, I::local_get);
  Expr e;
  ASSERT_TRUE(a.install(e)) << toCharPtr(e.errorDescr());
  EXPECT_EQ(text(e.eval()), "300");
  EXPECT_EQ(text(e.localObjectValue(0)), "3");
}

TEST_F(Interp, BreakAndContinue) {
  // object n = 0; object i = 0;
  // while (i < 10) { i += 1; if (i == 2) continue; if (i == 5) break; n += i; } n
  Asm a;
  a.num(0).decl("n", 0, true).op(I::resetStack);
  a.num(0).decl("i", 1, true).op(I::resetStack);
  long w = a.pos();
  a.op(I::while_inst).op(0).op(0);
  a.local("i", 1, I::local_get).num(10).op(I::lt).op(I::stop);
  long body = a.pos();
  a.local("i", 1, I::local_set).num(1).op(I::assign_add).op(I::resetStack);
  auto ifJump = [&](int value, uint16_t jump) {
    long f = a.pos();
    a.op(I::if_inst).op(0).op(0).op(0);
    a.local("i", 1, I::local_get).num(value).op(I::eq).op(I::stop);
    a.patch(f + 1, a.pos());
    a.op(jump).op(I::resetStack).op(I::stop);
    a.patch(f + 3, a.pos());
  };
  ifJump(2, I::continue_inst);
  ifJump(5, I::break_inst);
  a.local("n", 0, I::local_set).local("i", 1, I::local_get).op(I::assign_add).op(I::resetStack).op(I::stop);
  a.patch(w + 1, body);
  a.patch(w + 2, a.pos());
  a.local("n", 0, I::local_get);
  Expr e;
  ASSERT_TRUE(a.install(e)) << toCharPtr(e.errorDescr());
  EXPECT_EQ(text(e.eval()), "8");  // 1 + 3 + 4
}

TEST_F(Interp, AssignmentLeavesTheReferenceAsItsValue) {
  // object x; x = 5   (the last expression needs no ";")
  Asm a;
  a.decl("x", 0, false).op(I::resetStack);
  a.local("x", 0, I::local_set).num(5).op(I::assign);
  Expr e;
  ASSERT_TRUE(a.install(e));
  AnyValue v = e.eval();
  EXPECT_EQ(v.getType(), AnyValue::T_NUM);
  EXPECT_EQ(text(v), "5");
  EXPECT_EQ(text(e.localObjectValue(0)), "5");
}

TEST_F(Interp, IndexedVariablesTakeTheirIndexOff) {
  // object x = 'v'; x[1] = 'w'; x[2]
  Asm a;
  a.text("v").decl("x", 0, true).op(I::resetStack);
  a.num(1).local("x", 0, I::local_set, true).text("w").op(I::assign).op(I::resetStack);
  a.num(2).local("x", 0, I::local_get, true);
  a.num(3).op(I::add);  // the index value must not be taken as the left operand
  Expr e;
  ASSERT_TRUE(a.install(e));
  EXPECT_EQ(text(e.eval()), "w3");
}

class Props : public Properties {
public:
  AnyValue* lookup(String const& name) override {
    if (name == "salary") return &salary;
    return nullptr;
  }
  AnyValue salary{1000};
};

TEST_F(Interp, NamedObjectsReadAndWriteThroughTheProgramsTable) {
  Props p;
  Asm a;
  a.global("salary", I::global_obj_set).global("salary", I::global_obj_get).num(2).op(I::mult);
  a.op(I::assign).op(I::resetStack).global("salary", I::global_obj_get);
  Expr e;
  e.setProperties(&p);
  ASSERT_TRUE(a.install(e));
  EXPECT_EQ(text(e.eval()), "2000");
  EXPECT_EQ(text(p.salary), "2000");
  EXPECT_EQ(text(e.eval()), "4000");  // named objects are run again each time
  EXPECT_EQ(e.resolveGlobalObj("salary"), Expr::kGlobalObjId);
  EXPECT_EQ(e.resolveGlobalObj("wages"), -1);
  // A variable cannot take the name of a named object.
  EXPECT_EQ(e.installLocalObject("salary"), -1);
  EXPECT_NE(std::string(toCharPtr(e.errorDescr())).find("salary"), std::string::npos);
}

TEST_F(Interp, FaultsEndTheEvaluationNotTheProcess) {
  Props p;
  struct Case {
    char const* what;
    std::function<void(Asm&)> build;
    bool withProps;
    char const* inText;
  } cases[] = {
      {"unknown named object", [](Asm& a) { a.global("wages", I::global_obj_get); }, true, "wages"},
      {"no table of named objects", [](Asm& a) { a.global("salary", I::global_obj_get); }, false, "salary"},
      {"unresolved object", [](Asm& a) { a.global("salary", I::global_obj_get, -1); }, true, "salary"},
      {"identifier never bound", [](Asm& a) { a.text("x").logical(false).lng(-1).op(I::id_get); }, true, "id_get"},
      {"operator without operands", [](Asm& a) { a.num(1).op(I::add); }, false, "cannot run"},
      {"break outside a loop", [](Asm& a) { a.num(1).op(I::break_inst); }, false, "loop"},
      {"unbound function", [](Asm& a) { a.call("mine", 0).op(I::arg_end); }, false, "mine"},
      {"calls nested too deep",
       [](Asm& a) {
         for (int i = 0; i < Expr::kMaxDepth; ++i) a.call("num", 2);
         a.num(1);
         for (int i = 0; i < Expr::kMaxDepth; ++i) a.op(I::arg_end);
       },
       false, "nesting"},
      {"stack overflow",
       [](Asm& a) {
         for (int i = 0; i < Expr::kStackSize + 5; ++i) a.logical(true);
       },
       false, "1024"},
  };
  for (Case const& c : cases) {
    Asm a;
    c.build(a);
    Expr e;
    if (c.withProps) e.setProperties(&p);
    ASSERT_TRUE(a.install(e)) << c.what << ": " << toCharPtr(e.errorDescr());
    AnyValue v = e.eval();
    EXPECT_TRUE(e.failed()) << c.what;
    EXPECT_TRUE(v.isVoid()) << c.what;
    EXPECT_NE(std::string(toCharPtr(e.errorDescr())).find(c.inText), std::string::npos)
        << c.what << ": " << toCharPtr(e.errorDescr());
    EXPECT_EQ(Expr::last(), Expr::stack()) << c.what;
  }
}

// ---- calls -------------------------------------------------------------------------

int sideEffects = 0;
void noteCall(ExprStack& s) {
  ++sideEffects;
  s.push(AnyValue("noted"));
}
void firstOnly(ExprStack& s) { s.push(s.value()); }
void countArgs(ExprStack& s) {
  int n = 0;
  while (!s.noMoreArgs()) {
    s.value();
    ++n;
  }
  s.push(AnyValue(n));
}
void silent(ExprStack&) {}

TEST_F(Interp, ArgumentsRunOnlyWhenFetched) {
  // first('a', note(note()), note())   -- nested calls in skipped arguments
  Asm a;
  a.call("first", -1).text("a").op(I::arg_separ);
  a.call("note", -1).call("note", -1).op(I::arg_end).op(I::arg_end).op(I::arg_separ);
  a.call("note", -1).op(I::arg_end).op(I::arg_end);
  a.text("!").op(I::add);
  Expr e;
  ASSERT_TRUE(a.install(e));
  EXPECT_FALSE(e.checkBindings());
  EXPECT_NE(std::string(toCharPtr(e.errorDescr())).find("first"), std::string::npos);
  e.addFunction("FIRST", firstOnly);
  e.addFunction("note", noteCall);
  EXPECT_EQ(e.addFunction("First"), e.addFunction("first"));
  EXPECT_TRUE(e.checkBindings());
  sideEffects = 0;
  EXPECT_EQ(text(e.eval()), "a!");
  EXPECT_EQ(sideEffects, 0);
  EXPECT_EQ(text(e.eval()), "a!");  // a call makes the expression run again
}

TEST_F(Interp, CallsWithoutArgumentsAndSilentHandlers) {
  Asm a;
  a.call("count", -1).op(I::arg_end).call("count", -1).num(1).op(I::arg_separ).num(2).op(I::arg_end);
  a.op(I::add).call("silent", -1).op(I::arg_end).op(I::add);
  Expr e;
  ASSERT_TRUE(a.install(e));
  e.addFunction("count", countArgs);
  e.addFunction("silent", silent);
  // 0 + 2, then the silent call's value is its name.
  EXPECT_EQ(text(e.eval()), "2");
  Asm b;
  b.call("silent", -1).num(1).op(I::arg_end);
  Expr f;
  ASSERT_TRUE(b.install(f));
  f.addFunction("silent", silent);
  EXPECT_EQ(text(f.eval()), "silent");
}

class MsgExpr : public Expr {
public:
  String getMsg(String const& t1, String const& t2, String const& key) override {
    return String(toCharPtr(key)) + " #1 before #0, ## #a";
  }
};

TEST_F(Interp, MessagesFillTheirArguments) {
  Asm a;
  a.text("tab").text(String()).text("KEY").op(I::msg);
  a.num(3).op(I::arg_separ).num(7);
  for (int i = 2; i < 10; ++i) a.op(I::arg_separ).num(i);
  a.op(I::arg_separ).call("note", -1).op(I::arg_end).op(I::arg_end);  // the eleventh
  MsgExpr e;
  ASSERT_TRUE(a.install(e));
  e.addFunction("note", noteCall);
  sideEffects = 0;
  EXPECT_EQ(text(e.eval()), "KEY 7 before 3, # a");
  EXPECT_EQ(sideEffects, 0);
  // The base kind knows no messages.
  Asm b;
  b.text("tab").text(String()).text("KEY").op(I::msg).op(I::arg_end);
  Expr plainExpr;
  ASSERT_TRUE(b.install(plainExpr));
  EXPECT_EQ(text(plainExpr.eval()), "");
}

Expr* inner = nullptr;
void evalInner(ExprStack& s) {
  AnyValue arg = s.value();
  AnyValue v = inner->eval();
  s.push(AnyValue((text(arg) + text(v)).c_str()));
}

TEST_F(Interp, NestedEvaluationKeepsTheCallersOperands) {
  // inner: object t = 1; t = t + 1; t   (statements reset the stack)
  Asm in;
  in.num(1).decl("t", 0, true).op(I::resetStack);
  in.local("t", 0, I::local_set).local("t", 0, I::local_get).num(1).op(I::add).op(I::assign).op(I::resetStack);
  in.local("t", 0, I::local_get);
  Expr innerExpr;
  ASSERT_TRUE(in.install(innerExpr));
  inner = &innerExpr;
  // outer: 'x' + 'y' + nest('z')   the operands 'x' and 'y' wait below the call
  Asm out;
  out.text("x").text("y").call("nest", -1).text("z").op(I::arg_end).op(I::add).op(I::add);
  Expr outer;
  ASSERT_TRUE(out.install(outer));
  outer.addFunction("nest", evalInner);
  EXPECT_EQ(text(outer.eval()), "xyz2");
  EXPECT_FALSE(outer.failed());
  inner = nullptr;
}

}  // namespace
