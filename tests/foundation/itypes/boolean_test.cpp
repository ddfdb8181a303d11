// Boolean: construction from numbers and texts, order, text, the three-line
// mask form (with the catalogue's default mask), and the stored form, in
// which a stored null reloads as null.
#include <gtest/gtest.h>

#include <zfound/Boolean.h>
#include <zfound/Num.h>
#include <zfound/Process.h>
#include <zfound/String.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ChildRun.h"
#include "dates_support.h"

using dates_test::storedHex;

TEST(BooleanValue, ConstructionAndOrder) {
  struct Case {
    Boolean b;
    int32_t value;
  } const cases[] = {
      {Boolean(), -1},          {Boolean(-5), -1},         {Boolean(0), 0},
      {Boolean(3), 1},          {Boolean(true), 1},        {Boolean(false), 0},
      {Boolean(""), -1},        {Boolean("7"), 1},         {Boolean("-1"), -1},
      {Boolean("0"), 0},        {Boolean((char const*)nullptr), -1},
      {toBoolean(int32_t(0)), 0}, {toBoolean(int32_t(9)), 1}, {toBoolean(int32_t(-2)), -1},
      {toBoolean(toNum(int32_t(12))), 1}, {toBoolean(toNum(int32_t(0))), 0},
      {toBoolean(Num()), -1},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) EXPECT_EQ(cases[i].b.value(), cases[i].value) << i;

  Boolean n, f(false), t(true);
  EXPECT_TRUE(n.isNull());
  EXPECT_LT(n, f);
  EXPECT_LT(f, t);
  EXPECT_TRUE(static_cast<bool>(t));
  EXPECT_FALSE(static_cast<bool>(f));
  EXPECT_FALSE(static_cast<bool>(n));
  EXPECT_TRUE(!n);
  EXPECT_TRUE(!f);
  EXPECT_FALSE(!t);
  EXPECT_EQ(toCharPtr(n), nullptr);
  EXPECT_STREQ(toCharPtr(f), "0");
  EXPECT_STREQ(toCharPtr(t), "1");
}

TEST(BooleanValue, MaskForm) {
  struct Case {
    char const* mask;
    char const *t, *f, *n;
  } const cases[] = {
      {"yes\nno", "yes", "no", ""},
      {"yes\nno\nunknown", "yes", "no", "unknown"},
      {"on", "on", "", ""},
      {"\nfalse only\n", "", "false only", ""},
      {"a\nb\nc\nd", "a", "b", "c"},
  };
  for (auto const& c : cases) {
    EXPECT_STREQ(Boolean(true).format(c.mask), c.t) << c.mask;
    EXPECT_STREQ(Boolean(false).format(c.mask), c.f) << c.mask;
    EXPECT_STREQ(Boolean().format(String(c.mask)), c.n) << c.mask;
  }
  // A part longer than the result buffer is cut, not written past it.
  std::string longMask(1000, 'y');
  EXPECT_EQ(strlen(Boolean(true).format(longMask.c_str())), 255u);
}

TEST(BooleanValue, DefaultMaskFromTheCatalogue) {
  if (getenv("DATADIR") == nullptr) GTEST_SKIP() << "DATADIR must point at the built catalogues";
  zftest::RunResult r = zftest::runInChild([] {
    zftest::startUpOnce("boolean_test");
    // One static buffer serves every call: take each text before the next.
    std::string out = Boolean(true).format("");
    out += "|";
    out += Boolean(false).format((char const*)nullptr);
    out += "|";
    out += Boolean().format(String());
    fputs(out.c_str(), stdout);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "TRUE|FALSE|");
}

TEST(BooleanStored, GoldenBytesAndNullReloadsAsNull) {
  struct Case {
    Boolean b;
    char const* hex;
  } const cases[] = {{Boolean(), "FFFFFFFF"}, {Boolean(false), "00000000"}, {Boolean(true), "00000001"}};
  for (auto const& c : cases) {
    EXPECT_EQ(storedHex(c.b, 4), c.hex);
    char buf[4];
    char* p = buf;
    c.b.store(p);
    char const* q = buf;
    Boolean back(true);
    back.load(q);
    EXPECT_EQ(q, buf + 4);
    EXPECT_EQ(back, c.b) << c.hex;
  }
  // Words other than the three written forms: positive is true, negative null.
  char const other[] = {0x00, 0x00, 0x01, 0x00, char(0x80), 0x00, 0x00, 0x00};
  char const* q = other;
  Boolean a, b;
  a.load(q);
  b.load(q);
  EXPECT_EQ(a, Boolean(true));
  EXPECT_TRUE(b.isNull());
  EXPECT_EQ(Boolean::storeLength(), 4);
}
