// The expression compiler: a table of sources with their values or their
// error texts and lines (precedence, null rules, dates, `in`, `between`,
// `like`/`match`, statements, variables, functions, messages, lazy
// arguments, every syntax error), then the lexer's tokens, the emitted code
// layout, the code buffer's growth, copies and binding.
#include <gtest/gtest.h>

#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/ExprCompile.h>
#include <zfound/Message.h>
#include <zfound/Num.h>
#include <zfound/Process.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

using zftest::ScopedEnv;

namespace {

using zftest::str;

// A value as "<kind>:<text>": N number, S text, D date, T time, L logical,
// V void.
std::string show(AnyValue const& v) {
  char const* kinds = "NSDT?L";
  int16_t ty = v.deref().getType();
  std::string kind = ty < 0 ? "V" : ty < 6 ? std::string(1, kinds[ty]) : std::to_string(ty);
  return kind + ":" + str(toString(v));
}

// Calls of bump() so far: shows whether an argument was run.
int bumps = 0;
void bump(ExprStack& st) { st.push(AnyValue(++bumps)); }
// Delivers its first argument and never fetches the others.
void first(ExprStack& st) { st.push(st.value()); }

int isMsgTable(char const* name) { return std::strcmp(name, "msgs") == 0; }

// Enumeration "color": red 1, green 2, blue 3.
bool colors(String const& en, String const& value, int32_t*& out) {
  if (str(en) != "color") return false;
  if (value.isNull()) {
    out = new int32_t[4]{1, 2, 3, 2147483647};
    return true;
  }
  std::map<std::string, int32_t> v = {{"red", 1}, {"green", 2}, {"blue", 3}};
  auto it = v.find(str(value));
  if (it == v.end()) return false;
  out = new int32_t[1]{it->second};
  return true;
}

// Named objects of the program.
class Props : public Properties {
public:
  AnyValue* lookup(String const& name) override {
    auto it = values.find(str(name));
    return it == values.end() ? nullptr : &it->second;
  }
  std::map<std::string, AnyValue> values;
};

// An expression kind that answers messages and lets tests read tokens.
class TestExpr : public Expr {
public:
  explicit TestExpr(String const& text) : Expr(text, isMsgTable, colors) {}
  // Foreign objects: "o" is object 9 of class 4, "tab.fld" object 77 of class 5.
  bool resolveForeignObj(String const& name, int32_t& id, int32_t& classId) override {
    if (str(name) == "o") {
      id = 9;
      classId = 4;
      return true;
    }
    if (str(name) == "tab.fld") {
      id = 77;
      classId = 5;
      return true;
    }
    return false;
  }
  String getMsg(String const& table, String const& section, String const& key) override {
    return String((str(table) + "/" + str(section) + "/" + str(key) + ": #1 after #0").c_str());
  }
  // The tokens of `text` with their texts ("<code>" or "<code>=<text>").
  std::vector<std::string> tokens(String const& text) {
    text_ = text;
    current_ = 0;
    errorLine_ = 0;
    std::vector<std::string> out;
    for (int i = 0; i < 50; ++i) {
      char const* value = nullptr;
      int t = lex(&value);
      std::string tok = t < 256 && t > 0 ? std::string(1, char(t)) : std::to_string(t);
      if (value != nullptr && (t == 272 || t == 273 || t == 274 || t == 275 || t == 276))
        tok += "=" + std::string(value);
      out.push_back(tok);
      if (t == -1 || t == 277) break;
    }
    highLander(String(String::kHighLength, nullptr));
    return out;
  }
};

class ExprComp : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    zftest::startUpOnce("exprcomp");
  }

  // Compiles, binds and evaluates `src`: the value shown, or "error: <text>
  // @<line>" for a compilation error, "bind: <text>" for a binding error.
  std::string run(std::string const& src) {
    TestExpr e{String(src.c_str())};
    if (e.isNull()) {
      String text;
      long line = e.parseError(text);
      return "error: " + str(text) + " @" + std::to_string(line);
    }
    e.setProperties(&props);
    e.addFunction("first", first);
    e.addFunction("bump", bump);
    if (!e.resolveObjects()) return "bind: " + str(e.errorDescr());
    AnyValue v = e.eval();
    if (e.failed()) return "fault: " + str(e.errorDescr());
    return show(v);
  }

  Props props;
};

struct Row {
  char const* src;
  char const* expect;
};

TEST_F(ExprComp, SourcesGiveTheirValues) {
  ScopedEnv env("ZFXEXPRVAR", "from the environment");
  props.values["g"] = AnyValue(21);
  props.values["name"] = AnyValue("Ann");

  Row const rows[] = {
      // precedence and associativity
      {"1 + 2 * 3", "N:7"},
      {"(1 + 2) * 3", "N:9"},
      {"10 - 4 - 3", "N:3"},
      {"24 / 4 / 2", "N:3"},
      {"- 2 * 3 + 1", "N:-5"},
      {"2 - -3", "N:5"},
      {"not 1 == 2 and 2 == 2", "L:1"},
      {"not 1 == 2 and 1 == 2", "L:0"},  // (not (1 == 2)) and (1 == 2)
      {"1 == 1 or 1 == 2 and 1 == 2", "L:1"},
      {"(1 == 1 or 1 == 2) and 1 == 2", "L:0"},
      {"1 == 2 ? 5 : 6 + 1", "N:7"},
      {"1 == 1 ? 2 == 3 ? 3 : 4 : 5", "N:4"},
      {"1 == 2 ? 5", "V:"},
      {"5 when 1 == 2 6 when 2 == 2 7", "N:6"},
      {"5 when 1 == 1", "N:5"},
      {"(5 when 1 == 2) + 1", "V:"},
      {"(5 when 2 == 2) + 1", "N:6"},
      // null rules
      {"1 + null", "N:"},
      {"null + 'x'", "S:x"},
      {"'ab' + null + 'c'", "S:abc"},
      {"date(10) - null", "D:"},
      {"null == ''", "L:1"},
      // dates and times
      {"date(40) - date(10)", "N:30"},
      {"date(10) + 5 == date(15)", "L:1"},
      {"date(10) - 'x' == date(10)", "L:1"},
      {"day(date(0)) + month(date(0)) * 100", "N:101"},
      {"year(date(366))", "N:1985"},
      {"num(time(3600) + time(60))", "N:3660"},
      {"today - today", "N:0"},
      // in, between, like, match
      {"2 in (1, 2, 3)", "L:1"},
      {"4 in (1, 2, 3)", "L:0"},
      {"3 in (1, (2 in (5, 2) ? 3 : 0), 4)", "L:1"},
      {"0 in ((2 in (5, 6, 7) ? 3 : 0), 1)", "L:1"},
      {"2 in color", "L:1"},
      {"9 in color", "L:0"},
      {"color::blue * 10", "N:30"},
      {"color::pink", "N:(high value)"},
      {"5 between 1 and 10", "L:1"},
      {"11 between 1 and 10", "L:0"},
      {"'b' between 'a' and 'c' and 1 == 1", "L:1"},
      {"'hello' like 'he'", "L:1"},
      {"'hello' like 'll'", "L:0"},
      {"'hello' match 'll'", "L:1"},
      // statements and variables
      {"object i = 0; object s = 0; while (i < 5) { i += 1; s += i; } s", "N:15"},
      {"object i = 0; while (i < 10) { i += 1; if (i == 3) break; } i", "N:3"},
      {"object i = 0; object s = 0;\nwhile (i < 5) { i += 1; if (i == 2) continue; s += i; }\ns", "N:13"},
      {"object x = 3; if (x > 2) x = 10; else x = 20; x", "N:10"},
      {"object x = 1; if (x > 2) x = 10; else { x = 20; x *= 2; } x", "N:40"},
      {"object i = 0; while (i < 10) { i += 1; if (i == 4) return i * 2; } 99", "N:8"},
      {"object a = 0; object b = 0; a = b = 4; a + b", "N:8"},
      {"object x; x", "V:"},
      {"x = 1;", "bind: Unknown object x."},
      {"g * 2", "N:42"},
      {"g = g + 1; g", "N:22"},
      {"'Hi ' + name", "S:Hi Ann"},
      {"g[1 + 1] * 2 + g[0]", "N:66"},  // g is 22 after the row before
      {"g[5] = 3; g", "N:3"},
      {"$ZFXEXPRVAR", "S:from the environment"},
      {"1 + 2 // a comment that the text ends", "N:3"},
      // default functions, messages, lazy arguments
      {"string(12) + 'a'", "S:12a"},
      {"num('3.5') * 2 == 7", "L:1"},
      {"first(7, bump())", "N:7"},
      {"first(bump(), bump()) + first(bump())", "N:3"},
      {"msgs('KEY')(1, 'two')", "S:msgs//KEY: two after 1"},
      {"msgs('sect', 'KEY')", "S:msgs/sect/KEY:  after "},
      {"nosuch + 1", "bind: Unknown object nosuch."},
  };
  for (Row const& r : rows) {
    bumps = 0;
    EXPECT_EQ(run(r.src), r.expect) << r.src;
    if (std::strncmp(r.src, "first(7", 7) == 0) {
      EXPECT_EQ(bumps, 0) << "the unused argument ran";
    }
    if (std::strncmp(r.src, "first(bump(), bump())", 21) == 0) {
      EXPECT_EQ(bumps, 2);
    }
  }
}

TEST_F(ExprComp, EverySyntaxErrorHasItsTextAndLine) {
  std::string deep(10001, '(');
  deep += "1";
  Row const rows[] = {
      {"1 +", "error: parse error @1"},
      {"1 +\n\n* 2", "error: parse error @3"},
      {"true and 1 == 1", "error: parse error @1"},
      {"return;", "error: parse error @1"},
      {"1 == 1 == 1", "error: parse error @1"},
      {"x or y", "error: parse error @1"},
      {"not x", "error: parse error @1"},
      {"if (x) 1;", "error: parse error @1"},
      {"1 2", "error: parse error @1"},
      {"1 ! 2", "error: parse error @1"},
      {"1 + @", "error: parse error @1"},
      {"{ 1; ", "error: parse error @1"},
      {"f(1,)", "error: parse error @1"},
      {"break;", "error: break or continue outside a loop. @1"},
      {"object i = 0;\nif (i == 0) continue;", "error: break or continue outside a loop. @2"},
      {"{ object x; }", "error: Objects may be declared only outside blocks. @1"},
      {"1 /* open", "error: Unterminated comment at line 1. @1"},
      {"1\n/* open\n", "error: Unterminated comment at line 3. @3"},
      {"'open", "error: Unterminated string starting at line 1. @1"},
      {"1 +\n 'open\n more", "error: Unterminated string starting at line 2. @3"},
      {deep.c_str(), "error: parser stack overflow @1"},
  };
  for (Row const& r : rows) EXPECT_EQ(run(r.src), r.expect) << std::string(r.src).substr(0, 40);

  // The parser's stacks grow past their first 200 entries.
  std::string nested = std::string(2000, '(') + "7" + std::string(2000, ')');
  EXPECT_EQ(run(nested), "N:7");

  // Comments and strings across lines are accepted; the error line of a
  // good compilation is reset.
  TestExpr ok{String("/* a\n comment */ 'two\nlines' // rest\n")};
  String text;
  EXPECT_EQ(ok.parseError(text), 0);
  EXPECT_TRUE(text.isNull());
  EXPECT_EQ(show(ok.eval()), "S:two\nlines");
}

TEST_F(ExprComp, LexerTokens) {
  TestExpr e{String()};
  using V = std::vector<std::string>;
  EXPECT_EQ(e.tokens("a<=b"), (V{"273=a", "299", "273=b", "-1"}));
  EXPECT_EQ(e.tokens("a<b>=c>d"), (V{"273=a", "298", "273=b", "301", "273=c", "300", "273=d", "-1"}));
  EXPECT_EQ(e.tokens("1.5.2"), (V{"272=1.5", ".", "272=2", "-1"}));
  EXPECT_EQ(e.tokens("'say \"hi\"' \"it's\""), (V{"274=say \"hi\"", "274=it's", "-1"}));
  EXPECT_EQ(e.tokens("x+=1 -= *= /= == != = :: : !"),
            (V{"273=x", "290", "272=1", "291", "292", "293", "296", "297", "=", "265", ":", "277"}));
  EXPECT_EQ(e.tokens("$HOME_1 msgs While while_x"), (V{"275=HOME_1", "276=msgs", "273=While", "273=while_x", "-1"}));
  EXPECT_EQ(e.tokens("and between user hour in not or this today true false null void return break "
                     "continue while if else for each by from to using object when like match"),
            (V{"258", "259", "260", "261", "262", "263", "264", "266", "267", "268", "269", "270", "271", "278",
               "279", "280", "281", "282", "283", "284", "285", "286", "287", "288", "289", "294", "295", "302",
               "303", "-1"}));
  EXPECT_EQ(e.tokens("( ) , . ; ? [ ] { } + - * /"),
            (V{"(", ")", ",", ".", ";", "?", "[", "]", "{", "}", "+", "-", "*", "/", "-1"}));
  EXPECT_EQ(e.findKeyword("while"), 281);
  EXPECT_LT(e.findKeyword("While"), 0);
}

// The units of an expression's code, without the operand units.
std::vector<std::string> listing(Expr const& e) {
  std::vector<std::string> out;
  uint16_t const* c = e.code();
  for (long i = 0; i < e.codeLength(); i += 1 + Instruction::operandUnits(c[i])) {
    std::string s = Instruction::descr(Instruction::Id(c[i]));
    if (c[i] == Instruction::int_type) s += " " + std::to_string(Expr::readLong(c + i + 1));
    if (c[i] == Instruction::string_type) s += " \"" + str(e.readString(c + i + 1)) + "\"";
    if (c[i] == Instruction::bool_type) s += c[i + 1] ? " true" : " false";
    out.push_back(std::to_string(i) + " " + s);
  }
  return out;
}

TEST_F(ExprComp, EmittedCodeLayout) {
  using V = std::vector<std::string>;
  // A long at an odd position needs no pad; a text or number at an even
  // one gets one; a logical never does.
  Expr in{String("x in (1, 2, 3)")};
  EXPECT_EQ(listing(in), (V{"0 pad", "1 string_type \"x\"", "4 bool_type false", "6 pad", "7 int_type -1",
                            "10 id_get", "11 num_type", "20 pad", "21 num_type", "30 pad", "31 num_type",
                            "40 pad", "41 int_type 3", "44 in", "45 stop", "46 null"}));

  Expr oddLong{String("void in (void, void)")};
  EXPECT_EQ(listing(oddLong), (V{"0 void_value", "1 void_value", "2 void_value", "3 int_type 2", "6 in",
                                 "7 stop", "8 null"}));

  Expr call{String("f()")};
  EXPECT_EQ(listing(call), (V{"0 pad", "1 string_type \"f\"", "4 pad", "5 int_type 10", "8 function",
                              "9 arg_end", "10 stop", "11 null"}));
  EXPECT_TRUE(call.isComplex());

  // Unary minus binds tighter than "*": - a * b negates a first.
  Expr neg{String("- a * b")};
  EXPECT_EQ(listing(neg), (V{"0 pad", "1 string_type \"a\"", "4 bool_type false", "6 pad", "7 int_type -1",
                             "10 id_get", "11 umin", "12 pad", "13 string_type \"b\"", "16 bool_type false",
                             "18 pad", "19 int_type -1", "22 id_get", "23 mult", "24 stop", "25 null"}));

  Expr like{String("a like b; a match b")};
  V l = listing(like);
  EXPECT_NE(std::find(l.begin(), l.end(), "21 like"), l.end());
  EXPECT_NE(std::find(l.begin(), l.end(), "43 match"), l.end());

  Expr loop{String("while (1 == 2) ;")};
  uint16_t const* c = loop.code();
  EXPECT_EQ(listing(loop), (V{"0 while_inst", "3 num_type", "12 pad", "13 num_type", "22 eq", "23 stop",
                              "24 resetStack", "25 stop", "26 stop", "27 null"}));
  EXPECT_EQ(c[1], 24);  // body
  EXPECT_EQ(c[2], 26);  // next

  Expr cond{String("if (1 == 2) 3; else 4;")};
  c = cond.code();
  ASSERT_EQ(c[0], Instruction::if_inst);
  V cl = listing(cond);
  EXPECT_EQ(cl[6], "25 stop");  // the condition's end
  EXPECT_EQ(c[1], 26);          // then
  EXPECT_EQ(c[3], cond.codeLength() - 2);  // next: the program's stop
  EXPECT_EQ(c[c[2] - 1], Instruction::stop);  // else follows the then-block's stop

  Expr noElse{String("if (1 == 2) 3;")};
  EXPECT_EQ(noElse.code()[2], 0);

  Expr decl{String("object x = 1; x")};
  EXPECT_EQ(listing(decl)[2], "10 bool_type true");
  EXPECT_EQ(listing(decl)[4], "13 string_type \"x\"");
  EXPECT_EQ(listing(decl)[7], "20 local_decl");

  Expr env{String("$HOME")};
  EXPECT_TRUE(env.haveEnvVars());
  Expr v{String("void")};
  EXPECT_TRUE(v.canBeVoid());
  Expr m{String("o.f(1)")};
  EXPECT_EQ(listing(m), (V{"0 pad", "1 string_type \"f\"", "4 pad", "5 int_type 0", "8 method",
                           "9 string_type \"o\"", "12 bool_type false", "14 pad", "15 int_type -1", "18 pad",
                           "19 int_type -1", "22 foreign_obj_get", "23 arg_separ", "24 pad", "25 num_type",
                           "34 arg_end", "35 stop", "36 null"}));

  // The empty source is the single unit null.
  Expr empty{String()};
  EXPECT_EQ(empty.codeLength(), 1);
  EXPECT_EQ(empty.code()[0], Instruction::null);
  EXPECT_TRUE(empty.isNull());
  EXPECT_EQ(show(empty.eval()), "S:");
}

TEST_F(ExprComp, LongCodeGrowsTheBufferAndAddressesMustFitAUnit) {
  std::string sum = "0";
  for (int i = 1; i <= 400; ++i) sum += " + " + std::to_string(i);
  Expr e{String(sum.c_str())};
  EXPECT_GT(e.codeLength(), 3 * 1024);
  EXPECT_EQ(show(e.eval()), "N:80200");

  // A loop whose end lies beyond what one unit can address is refused.
  std::string body;
  for (int i = 0; i < 7000; ++i) body += "1;";
  Expr big{String(("while (1 == 2) {" + body + "} 5").c_str())};
  EXPECT_TRUE(big.isNull());
  EXPECT_EQ(str(big.errorDescr()), "Expression too long.");
}

TEST_F(ExprComp, CopiesAndRepeatedBinding) {
  TestExpr e{String("object n = 2; n *= k; n + first(1, bump())")};
  props.values["k"] = AnyValue(5);
  e.setProperties(&props);
  e.addFunction("first", first);
  e.addFunction("bump", bump);
  Expr copy(e);
  ASSERT_TRUE(e.resolveObjects());
  EXPECT_EQ(show(e.eval()), "N:11");
  // Binding again starts the variables empty again.
  ASSERT_TRUE(e.resolveObjects());
  EXPECT_EQ(show(e.eval()), "N:11");

  EXPECT_EQ(copy.codeLength(), e.codeLength());
  EXPECT_EQ(str(copy.getExpr()), str(e.getExpr()));
  ASSERT_TRUE(copy.resolveObjects()) << str(copy.errorDescr());
  EXPECT_EQ(show(copy.eval()), "N:11");

  // A name that is a named object cannot be declared.
  props.values["taken"] = AnyValue(1);
  TestExpr clash{String("object taken = 1;")};
  clash.setProperties(&props);
  EXPECT_FALSE(clash.resolveObjects());
  EXPECT_TRUE(clash.isNull());
  EXPECT_FALSE(clash.errorDescr().isNull());

  // A call of a function that was never bound is refused at binding.
  TestExpr unbound{String("nothing(1)")};
  EXPECT_FALSE(unbound.resolveObjects());
  EXPECT_FALSE(unbound.errorDescr().isNull());
}

// Method "twice": the object's id times 100 plus twice the first argument.
void twiceRun(ExprObject& o, ExprStack& st) {
  AnyValue v = st.value();
  v *= AnyValue(2);
  v += AnyValue(100 * o.id());
  st.push(v);
}
// The resolve callback of "twice": binds the object in the code itself.
bool bindObject(ExprObject& o, ExprStack&) {
  o.id(9);
  return true;
}

TEST_F(ExprComp, MethodsAndForeignObjectsAreBoundByTheExpressionKind) {
  TestExpr m{String("o.twice(21, bump())")};
  m.addMethod("twice", twiceRun, bindObject);
  m.addFunction("bump", bump);
  ASSERT_TRUE(m.resolveObjects()) << str(m.errorDescr());
  bumps = 0;
  EXPECT_EQ(show(m.eval()), "N:942");
  EXPECT_EQ(bumps, 0);

  // A method without a resolve callback cannot be bound.
  TestExpr noCheck{String("o.twice(1)")};
  noCheck.addMethod("twice", twiceRun);
  EXPECT_FALSE(noCheck.resolveObjects());
  EXPECT_TRUE(noCheck.isNull());

  // The object a field expression begins with.
  TestExpr field{String("tab.fld")};
  EXPECT_EQ(field.address(), -1);
  ASSERT_TRUE(field.resolveObjects());
  EXPECT_EQ(field.address(), 77);
  EXPECT_EQ(str(field.symAddress()), "tab.fld");
  TestExpr plain{String("1 + 2")};
  EXPECT_EQ(plain.address(), -1);
  EXPECT_TRUE(plain.symAddress().isNull());

  TestExpr unknown{String("tab.other + 1")};
  EXPECT_FALSE(unknown.resolveObjects());
  EXPECT_EQ(str(unknown.errorDescr()), "Unknown object tab.other.");

  // A for-each loop compiles to its header, the index name, the table and
  // the three argument lists; the base kind cannot bind it.
  TestExpr loop{String("for each tab by byname from (1) to (2, 3) using (tab.fld) ;")};
  ASSERT_FALSE(loop.isNull()) << str(loop.errorDescr());
  std::vector<std::string> l = listing(loop);
  uint16_t const* c = loop.code();
  EXPECT_EQ(l[0], "0 foreach_inst");
  EXPECT_EQ(l[1], "3 string_type \"byname\"");
  EXPECT_EQ(l[3], "7 string_type \"tab\"");
  EXPECT_EQ(c[c[1]], Instruction::resetStack);  // the body
  EXPECT_EQ(c[c[2] - 1], Instruction::stop);
  EXPECT_FALSE(loop.resolveObjects());
  TestExpr brk{String("for each tab break;")};
  EXPECT_FALSE(brk.isNull()) << "break is allowed inside a for-each loop";
}

// The stored form of e (storeLength() bytes).
std::vector<char> stored(Expr const& e) {
  std::vector<char> buf(size_t(e.storeLength()) + 8, '\x55');
  EXPECT_EQ(e.store(buf.data()), e.storeLength());
  buf.resize(size_t(e.storeLength()));
  return buf;
}

TEST_F(ExprComp, CompiledCodeStoredAndSentIsTheSameAndEvaluatesTheSame) {
  props.values["g"] = AnyValue(4);
  char const* src =
      "object i = 0; object s = '';\n"
      "while (i < g) { i += 1; if (i in (2, 3)) continue; s += string(i) + msgs('K')(i); }\n"
      "s + first(date(2) - date(1), bump())";
  TestExpr e{String(src)};
  ASSERT_FALSE(e.isNull()) << str(e.errorDescr());
  std::vector<char> form = stored(e);

  TestExpr fromStore{String()};
  ASSERT_TRUE(fromStore.load(form.data(), int32_t(form.size()))) << str(fromStore.errorDescr());
  EXPECT_EQ(stored(fromStore), form);

  LoopConnection c(16);
  c << e;
  c.rewind();
  TestExpr fromWire{String()};
  c >> fromWire;
  ASSERT_FALSE(c.bad());
  EXPECT_EQ(stored(fromWire), form);

  for (TestExpr* x : {&e, &fromStore, &fromWire}) {
    x->setProperties(&props);
    x->addFunction("first", first);
    x->addFunction("bump", bump);
    ASSERT_TRUE(x->resolveObjects()) << str(x->errorDescr());
    bumps = 0;
    EXPECT_EQ(show(x->eval()), "S:1msgs//K:  after 14msgs//K:  after 41");
    EXPECT_EQ(bumps, 0);
  }

  // A cut stored form is refused.
  TestExpr cut{String()};
  EXPECT_FALSE(cut.load(form.data(), int32_t(form.size()) - 3));
  EXPECT_TRUE(cut.isNull());
}

}  // namespace
