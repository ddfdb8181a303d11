// Expression code forms: stored form and wire form round trips (byte for
// byte, and evaluating the same), name binding on load, refusal of truncated
// and damaged forms, and the listing.
#include <gtest/gtest.h>

#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/Portable.h>
#include <zfound/Process.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "exprasm.h"

using namespace exprtest;

namespace {

void twice(ExprStack& s) {
  AnyValue v = s.value();
  v *= AnyValue(2);
  s.push(v);
}

void echo(ExprObject& o, ExprStack& s) {
  s.push(AnyValue(o.name() + toString(s.value())));
}

void bind(Expr& e) {
  e.addFunction("twice", twice);
  e.addMethod("echo", echo);
}

// if (twice(2.5) == 5) s = s + obj.echo(time 01:00:00) else s = 'no'; s + date 100 + true
void buildBranches(Asm& a) {
  a.text("a").decl("s", 0, true).op(I::resetStack);
  long f = a.pos();
  a.op(I::if_inst).op(0).op(0).op(0);
  a.call("twice", -1).num(Num("2.5")).op(I::arg_end).num(5).op(I::eq).op(I::stop);
  a.patch(f + 1, a.pos());
  a.local("s", 0, I::local_set).local("s", 0, I::local_get);
  a.text("echo").lng(-1).op(I::method);
  a.text("obj").logical(false).lng(-1).lng(-1).op(I::foreign_obj_get).op(I::arg_separ);
  a.time(3600).op(I::arg_end).op(I::add).op(I::assign).op(I::resetStack).op(I::stop);
  a.patch(f + 2, a.pos());
  a.local("s", 0, I::local_set).text("no").op(I::assign).op(I::resetStack).op(I::stop);
  a.patch(f + 3, a.pos());
  a.local("s", 0, I::local_get).date(100).op(I::add).logical(true).op(I::add);
}

// object s = 'a'; while (s < 'aaa') s += 'a'; then the branches above.
void buildProgram(Asm& a) {
  a.text("a").decl("w", 0, true).op(I::resetStack);
  long w = a.pos();
  a.op(I::while_inst).op(0).op(0);
  a.local("w", 0, I::local_get).text("aaa").op(I::lt).op(I::stop);
  a.patch(w + 1, a.pos());
  a.local("w", 0, I::local_set).text("a").op(I::assign_add).op(I::resetStack).op(I::stop);
  a.patch(w + 2, a.pos());
  Asm rest;
  buildBranches(rest);
  // The branch program's variable is the second one here.
  a.text("a").decl("s", 1, true).op(I::resetStack);
  long f = a.pos();
  a.op(I::if_inst).op(0).op(0).op(0);
  a.call("twice", -1).num(Num("2.5")).op(I::arg_end).num(5).op(I::eq).op(I::stop);
  a.patch(f + 1, a.pos());
  a.local("s", 1, I::local_set).local("s", 1, I::local_get);
  a.text("echo").lng(-1).op(I::method);
  a.text("obj").logical(false).lng(-1).lng(-1).op(I::foreign_obj_get).op(I::arg_separ);
  a.time(3600).op(I::arg_end).op(I::add).op(I::assign).op(I::resetStack).op(I::stop);
  a.patch(f + 2, a.pos());
  a.local("s", 1, I::local_set).text("no").op(I::assign).op(I::resetStack).op(I::stop);
  a.patch(f + 3, a.pos());
  a.local("s", 1, I::local_get).local("w", 0, I::local_get).op(I::add).date(100).op(I::add);
  a.logical(true).op(I::add);
}

std::vector<char> stored(Expr const& e) {
  std::vector<char> buf(size_t(e.storeLength()));
  EXPECT_EQ(e.store(buf.data()), e.storeLength());
  return buf;
}

bool sameCode(Expr const& a, Expr const& b) {
  if (a.codeLength() != b.codeLength() || a.flags() != b.flags() || cmp(a.getExpr(), b.getExpr()) != 0) return false;
  if (a.codeLength() && std::memcmp(a.code(), b.code(), size_t(a.codeLength()) * 2) != 0) return false;
  if (a.stringCount() != b.stringCount()) return false;
  for (int32_t i = 0; i < a.stringCount(); ++i)
    if (cmp(a.stringAt(i), b.stringAt(i)) != 0) return false;
  return true;
}

class Code : public ::testing::Test {
protected:
  void SetUp() override {
    Asm a;
    buildProgram(a);
    ASSERT_TRUE(a.install(original, "the source text")) << toCharPtr(original.errorDescr());
    bind(original);
    want = text(original.eval());
    ASSERT_FALSE(original.failed()) << toCharPtr(original.errorDescr());
  }
  void TearDown() override { EXPECT_EQ(Expr::last(), Expr::stack()); }
  Expr original;
  std::string want;
};

TEST_F(Code, ProgramRunsAsAssembled) { EXPECT_EQ(want, "aobj01:00:00aaa10/04/19841"); }

TEST_F(Code, StoredFormRoundTripsByteForByte) {
  std::vector<char> bytes = stored(original);
  Expr loaded;
  ASSERT_TRUE(loaded.load(bytes.data(), int32_t(bytes.size()))) << toCharPtr(loaded.errorDescr());
  EXPECT_EQ(loaded.storeLength(), int32_t(bytes.size()));
  EXPECT_TRUE(sameCode(original, loaded));
  EXPECT_EQ(stored(loaded), bytes);
  // Handlers are bound by name after loading.
  EXPECT_FALSE(loaded.checkBindings());
  bind(loaded);
  EXPECT_TRUE(loaded.checkBindings());
  EXPECT_EQ(text(loaded.eval()), want);
  EXPECT_EQ(text(loaded.eval()), want);
  // Loading again into a used expression starts afresh.
  ASSERT_TRUE(loaded.load(bytes.data(), int32_t(bytes.size())));
  EXPECT_EQ(stored(loaded), bytes);
}

TEST_F(Code, WireFormRoundTrips) {
  for (int32_t part : {1, 7, 256}) {
    LoopConnection c(part);
    c << original;
    c.rewind();
    Expr got;
    c >> got;
    EXPECT_FALSE(c.bad()) << part;
    EXPECT_EQ(c.wordsLeft(), 0) << part;
    EXPECT_TRUE(sameCode(original, got)) << part << ": " << toCharPtr(got.errorDescr());
    EXPECT_EQ(stored(got), stored(original)) << part;
    bind(got);
    EXPECT_EQ(text(got.eval()), want) << part;
  }
  // A null expression travels as a null expression.
  LoopConnection c;
  Expr none, got;
  c << none;
  c.rewind();
  c >> got;
  EXPECT_FALSE(c.bad());
  EXPECT_TRUE(got.isNull());
}

TEST_F(Code, LoadingBindsNamesInTheLoadingExpression) {
  Asm a;
  a.call("later", -1).op(I::arg_end);
  Expr e;
  e.addFunction("aaa");
  e.addFunction("bbb");
  ASSERT_TRUE(a.install(e));
  EXPECT_EQ(Expr::readLong(e.code() + 6), e.addFunction("later"));
  EXPECT_EQ(e.addFunction("later"), 12);
  std::vector<char> bytes = stored(e);
  Expr loaded;
  ASSERT_TRUE(loaded.load(bytes.data(), int32_t(bytes.size())));
  EXPECT_EQ(loaded.addFunction("later"), 10);
  EXPECT_EQ(Expr::readLong(loaded.code() + 6), 10);
  // The default functions are bound again.
  EXPECT_EQ(loaded.addFunction("year"), 9);
  EXPECT_NE(loaded.functionAt(9)->run, nullptr);
}

TEST_F(Code, EmptyCodeLoadsAsTheNullExpression) {
  char buf[32];
  char* p = buf;
  stlong(3, p);
  std::memcpy(p + 4, "abc", 3);
  stlong(0, p + 7);
  stlong(0, p + 11);
  Expr e;
  ASSERT_TRUE(e.load(buf, 15));
  EXPECT_TRUE(e.isNull());
  EXPECT_EQ(e.storeLength(), 15);
  EXPECT_EQ(toCharPtr(e.getExpr()), std::string("abc"));
  EXPECT_EQ(std::string(toCharPtr(e.debugExpr())), "nil");
}

TEST_F(Code, EveryTruncatedStoredFormIsRefused) {
  std::vector<char> bytes = stored(original);
  for (size_t n = 0; n < bytes.size(); ++n) {
    // A copy of exactly n bytes, so that a read past it is seen by the sanitizer.
    std::vector<char> cut(bytes.begin(), bytes.begin() + long(n));
    Expr e;
    EXPECT_FALSE(e.load(cut.data(), int32_t(n))) << n;
    EXPECT_TRUE(e.isNull()) << n;
    EXPECT_NE(std::string(toCharPtr(e.errorDescr())).find("Damaged"), std::string::npos) << n;
  }
  Expr e;
  EXPECT_FALSE(e.load(nullptr, 100));
}

TEST_F(Code, CorruptedStoredFormsAreRefusedOrRunSafely) {
  Asm a;
  buildBranches(a);
  Expr base;
  ASSERT_TRUE(a.install(base));
  std::vector<char> bytes = stored(base);
  int refused = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    for (unsigned char x : {0x01, 0x10, 0x80, 0xFF}) {
      std::vector<char> bad = bytes;
      bad[i] = char(bad[i] ^ x);
      Expr e;
      if (!e.load(bad.data(), int32_t(bad.size()))) {
        ++refused;
        EXPECT_TRUE(e.isNull());
        continue;
      }
      // Accepted: a form that is whole again; it stores back to the same length
      // and runs (loops excepted) to a value or a fault.
      EXPECT_EQ(stored(e).size(), size_t(e.storeLength()));
      // (Program arguments are read only in a started process: get_env is left out.)
      std::string listing = toCharPtr(e.debugExpr());
      if (listing.find("while") == std::string::npos && listing.find("get_env") == std::string::npos) {
        bind(e);
        e.eval();
      }
    }
  }
  EXPECT_GT(refused, 0);
}

// The code checker on unit arrays that a stored form could bring.
TEST_F(Code, DamagedCodeIsRefused) {
  auto check = [](std::vector<uint16_t> units, std::vector<String> strings = {String("x")}) {
    Expr e;
    bool ok = e.setCode(units, strings, 0, String("t"));
    if (!ok) {
      EXPECT_TRUE(e.isNull());
    }
    return ok;
  };
  uint16_t const P = I::pad, S = I::stop, N = I::null;
  // A valid base: pad, string 0, stop, null.
  EXPECT_TRUE(check({P, I::string_type, 0, 0, S, N}));
  EXPECT_FALSE(check({P, I::string_type, 1, 0, S, N}));          // no text 1
  EXPECT_FALSE(check({I::string_type, 0, 0, S, N}));             // operand not aligned
  EXPECT_FALSE(check({P, I::string_type, 0, N}));                // operand past the end
  EXPECT_FALSE(check({P, I::string_type, 0, 0, S}));             // no null
  EXPECT_FALSE(check({S, N, S, N}));                             // code after the end
  EXPECT_FALSE(check({60, S, N}));                               // unknown instruction
  EXPECT_FALSE(check({P, I::num_type, 0xFFFF, 0, 0, 0, 0, 0, 0, 0, S, N}));  // not a number
  // if (true) with addresses: then 6, next 7.
  EXPECT_TRUE(check({I::if_inst, 6, 0, 7, I::bool_type, 1, S, S, N}));
  EXPECT_FALSE(check({I::if_inst, 6, 0, 9, I::bool_type, 1, S, S, N}));   // past the end
  EXPECT_FALSE(check({I::if_inst, 5, 0, 7, I::bool_type, 1, S, S, N}));   // into an operand
  EXPECT_FALSE(check({S, I::if_inst, 0, 0, 8, I::bool_type, 1, S, S, N})); // then address 0
  EXPECT_FALSE(check({I::if_inst, 0, 0, 7, I::bool_type, 1, S, S, N}));   // backwards
  // Calls need their name, their index and a closed argument list.
  EXPECT_TRUE(check({P, I::string_type, 0, 0, P, I::int_type, 0, 0, I::function, I::arg_end, S, N}));
  EXPECT_FALSE(check({P, I::int_type, 0, 0, I::function, I::arg_end, S, N}));
  EXPECT_FALSE(check({P, I::string_type, 0, 0, P, I::int_type, 0, 0, I::function, S, N}));
  // Declarations must get the index they were stored with.
  EXPECT_TRUE(check({I::bool_type, 0, P, I::string_type, 0, 0, P, I::int_type, 0, 0, I::local_decl, S, N}));
  EXPECT_FALSE(check({I::bool_type, 0, P, I::string_type, 0, 0, P, I::int_type, 3, 0, I::local_decl, S, N}));
  // A variable must be known under its index.
  EXPECT_FALSE(check({P, I::string_type, 0, 0, I::bool_type, 0, I::int_type, 0, 0, I::local_get, S, N}));
}

TEST_F(Code, StoredLengthFieldsAreChecked) {
  std::vector<char> bytes = stored(original);
  size_t textLen = 4 + std::strlen("the source text");
  auto refused = [&](size_t at, int32_t value) {
    std::vector<char> bad = bytes;
    stlong(value, bad.data() + at);
    Expr e;
    return !e.load(bad.data(), int32_t(bad.size()));
  };
  EXPECT_TRUE(refused(0, 70000));                      // text longer than a String
  EXPECT_TRUE(refused(0, -5));
  EXPECT_TRUE(refused(0, int32_t(bytes.size())));      // text past the end
  EXPECT_TRUE(refused(textLen + 4, original.codeLength() + 1));
  EXPECT_TRUE(refused(textLen + 4, original.codeLength() - 1));
  EXPECT_TRUE(refused(textLen + 4, 0x7FFFFFFF));
  EXPECT_TRUE(refused(textLen + 4, -1));
}

TEST_F(Code, DamagedWireFormsAreRefused) {
  LoopConnection c;
  c << original;
  std::vector<uint32_t> words = c.words();
  // Every cut of the words.
  for (size_t n = 0; n < words.size(); ++n) {
    LoopConnection in;
    in.feed(std::vector<uint32_t>(words.begin(), words.begin() + long(n)));
    Expr e;
    in >> e;
    EXPECT_TRUE(in.bad()) << n;
    EXPECT_TRUE(e.isNull()) << n;
  }
  // An unknown instruction, an address that is no unit, and an endless stream.
  std::vector<uint32_t> head = {0, 0};  // null text, flags 0
  auto refused = [&](std::vector<uint32_t> body) {
    std::vector<uint32_t> all = head;
    all.insert(all.end(), body.begin(), body.end());
    LoopConnection in;
    in.feed(all);
    Expr e;
    in >> e;
    return in.bad() && e.isNull();
  };
  EXPECT_FALSE(refused({I::bool_type, 1, 1}));
  EXPECT_TRUE(refused({61, 1}));
  EXPECT_TRUE(refused({I::if_inst, 70000, 0, 7, 1}));
  EXPECT_TRUE(refused({I::if_inst, 9, 0, 7, I::bool_type, 1, I::stop, I::stop, 1}));
  EXPECT_TRUE(refused(std::vector<uint32_t>(size_t(Expr::kMaxUnits) + 10, I::pad)));
}

TEST_F(Code, AddressesThatLookLikeConstantsTravelUnchanged) {
  // 0: if_inst then=7 else=0 next=10; condition at 4; then-block at 7; 10: text.
  std::vector<uint16_t> units = {I::if_inst, 7, 0, 10, I::bool_type, 1, I::stop,
                                 I::bool_type, 0, I::stop, I::pad, I::string_type, 0, 0, I::stop, I::null};
  Expr e;
  ASSERT_TRUE(e.setCode(units, {String("done")}, 0, String("if")));
  std::vector<char> bytes = stored(e);
  Expr loaded;
  ASSERT_TRUE(loaded.load(bytes.data(), int32_t(bytes.size())));
  EXPECT_TRUE(sameCode(e, loaded));
  LoopConnection c;
  c << e;
  c.rewind();
  Expr got;
  c >> got;
  EXPECT_TRUE(sameCode(e, got));
  EXPECT_EQ(text(got.eval()), "done");
  EXPECT_EQ(std::string(toCharPtr(e.debugExpr())),
            "0:if () 7:then 10:next \n 4:1 \n 6:INST(stop) \n 7:0 \n 9:INST(stop) \n 10:INST(pad) \n "
            "11:\"done\" \n 14:INST(stop) \n ");
}

TEST_F(Code, ListingShowsEveryKindOfElement) {
  Asm a;
  a.num(Num("1.5")).lng(-3).date(0).time(3661).op(I::add);
  long w = a.pos();
  a.op(I::while_inst).op(0).op(0).logical(false).op(I::stop);
  a.patch(w + 1, a.pos());
  a.op(I::stop);
  a.patch(w + 2, a.pos());
  Expr e;
  ASSERT_TRUE(a.install(e));
  std::string l = toCharPtr(e.debugExpr());
  for (char const* part : {"0:INST(pad) \n ", "1:1.5 \n ", "11:-3 \n ", "15:01/01/1984 \n ", "19:01:01:01 \n ",
                           "22:INST(add) \n ", "23:while () ", ":body ", ":next \n "})
    EXPECT_NE(l.find(part), std::string::npos) << part << " in " << l;
}

// ---- compiled sources ------------------------------------------------------------

class NamedValues : public Properties {
public:
  AnyValue* lookup(String const& name) override { return name == "k" ? &k : nullptr; }
  AnyValue k{5};
};

int bumps = 0;
void firstArg(ExprStack& s) { s.push(s.value()); }
void bump(ExprStack& s) {
  ++bumps;
  s.push(AnyValue(bumps));
}

class Compiled : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    zftest::startUpOnce("exprcode");
  }
  void TearDown() override { EXPECT_EQ(Expr::last(), Expr::stack()); }
  // Binds what a program binds after compiling or loading, and evaluates.
  std::string run(Expr& e) {
    e.setProperties(&props);
    e.addFunction("first", firstArg);
    e.addFunction("bump", bump);
    bumps = 0;
    AnyValue v = e.eval();
    EXPECT_FALSE(e.failed()) << toCharPtr(e.errorDescr());
    return std::to_string(v.getType()) + ":" + text(v);
  }
  NamedValues props;
};

TEST_F(Compiled, StoredAndSentCodeIsTheSameAndRunsTheSame) {
  char const* sources[] = {
      "1 + 2 * 3 - -4",
      "object i = 0; while (i < 5) { i += 1; if (i == 3) continue; } i",
      "object s = 'x'; if (s like 'x') s = s + (today - today); else s = 'n'; s",
      "k in (1, 2, 5) ? 'in' : 'out'",
      "first(10, bump()) + k",
      "year(date(0)) between 1980 and 1990",
      "object n = 3; n *= 2; return n - 1;",
      "'a' when 1 == 2 'b'",
      "12.5 / 4; k = k + 1;",
      "string(monthname(date(40)))",
  };
  for (char const* src : sources) {
    Expr e{String(src)};
    ASSERT_FALSE(e.isNull()) << src;
    e.setProperties(&props);
    e.addFunction("first", firstArg);
    e.addFunction("bump", bump);
    ASSERT_TRUE(e.resolveObjects()) << src << ": " << toCharPtr(e.errorDescr());
    std::string want = run(e);
    props.k = AnyValue(5);
    std::vector<char> bytes = stored(e);

    Expr loaded;
    ASSERT_TRUE(loaded.load(bytes.data(), int32_t(bytes.size()))) << src << ": " << toCharPtr(loaded.errorDescr());
    EXPECT_TRUE(sameCode(e, loaded)) << src;
    EXPECT_EQ(stored(loaded), bytes) << src;
    EXPECT_EQ(run(loaded), want) << src;
    props.k = AnyValue(5);
    // Binding the loaded code again changes nothing.
    ASSERT_TRUE(loaded.resolveObjects()) << src << ": " << toCharPtr(loaded.errorDescr());
    EXPECT_EQ(stored(loaded), bytes) << src;
    EXPECT_EQ(run(loaded), want) << src;
    props.k = AnyValue(5);

    LoopConnection c(16);
    c << e;
    c.rewind();
    Expr sent;
    c >> sent;
    EXPECT_FALSE(c.bad()) << src;
    EXPECT_TRUE(sameCode(e, sent)) << src;
    EXPECT_EQ(stored(sent), bytes) << src;
    EXPECT_EQ(run(sent), want) << src;
    props.k = AnyValue(5);
  }
}

}  // namespace

TEST(CodeNesting, CodeNestedDeeperThanAnEvaluationRunsIsRefused) {
  // Stored or received code of 50,000 nested calls is refused when it is
  // loaded, before binding or running could walk it.
  Asm a;
  for (int i = 0; i < 50000; ++i) a.call("twice", -1);
  a.num(1);
  for (int i = 0; i < 50000; ++i) a.op(I::arg_end);
  Expr deep;
  EXPECT_FALSE(a.install(deep));
  EXPECT_NE(std::string(toCharPtr(deep.errorDescr())).find("nesting too deep"), std::string::npos)
      << toCharPtr(deep.errorDescr());
  // Compiled code: binding refuses nesting past the evaluation's limit with a
  // text and binds code at the limit.
  auto nested = [](int levels) {
    std::string src;
    for (int i = 0; i < levels; ++i) src += "twice(";
    src += "1";
    src.append(size_t(levels), ')');
    return src;
  };
  Expr fits{String(nested(Expr::kMaxDepth - 1).c_str())};
  if (!fits.isNull()) {
    fits.addFunction("twice", twice);
    EXPECT_TRUE(fits.resolveObjects()) << toCharPtr(fits.errorDescr());
  }
  Expr tooDeep{String(nested(3 * Expr::kMaxDepth).c_str())};
  if (!tooDeep.isNull()) {
    tooDeep.addFunction("twice", twice);
    EXPECT_FALSE(tooDeep.resolveObjects());
    EXPECT_FALSE(tooDeep.errorDescr().isNull());
  }
}
