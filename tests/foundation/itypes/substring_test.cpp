// Tests of SubString (slices, fields, writing through a slice) and
// StrCursor (walking fields forwards and backwards).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ShowString.h"
#include <zfound/SubString.h>

namespace {

using zftest::show;

char const* const kHigh = reinterpret_cast<char const*>(uintptr_t(1));

TEST(SubString, Fields) {
  struct Case { char const* text; char const* sep; long n; char const* out; } cases[] = {
      {"abc", "\t", 0, "abc"},
      {"abc", "\t", 1, "<null>"},
      {"abc", "\t", -1, "abc"},
      {"a\t\tb", "\t", 0, "a"},
      {"a\t\tb", "\t", 1, "<null>"},
      {"a\t\tb", "\t", 2, "b"},
      {"a\t\tb", "\t", -1, "b"},
      {"a\t\tb", "\t", -3, "a"},
      {"a\t\tb", "\t", -4, "<null>"},
      {"a\t\tb", "\t", 3, "<null>"},
      {"one::two::three", "::", 1, "two"},
      {"one::two::three", "::", -1, "three"},
      {"a:::b", "::", 1, ":b"},
      {"x.", ".", 1, "<null>"},
      {"abc", "", 0, "<null>"},
  };
  for (auto const& c : cases) {
    String t(c.text);
    EXPECT_EQ(show(String(t.field(c.n, c.sep))), c.out) << c.text << " field " << c.n;
    EXPECT_EQ(show(String(t.field(c.n, String(c.sep)))), c.out) << c.text << " field " << c.n;
  }
  String n, h(kHigh);
  EXPECT_TRUE(String(n.field(0, "\t")).isNull());
  EXPECT_TRUE(String(h.field(0, "\t")).isHighest());
  String t("abc");
  EXPECT_TRUE(String(t.field(0, kHigh)).isNull());
  EXPECT_TRUE(String(t.field(0, static_cast<char const*>(nullptr))).isNull());
}

TEST(SubString, Slices) {
  String s("hello world");
  EXPECT_EQ(show(String(s(6))), "world");
  EXPECT_EQ(show(String(s(0, 5))), "hello");
  EXPECT_EQ(show(String(s(6, 100))), "world");
  EXPECT_EQ(show(String(s(11))), "<null>");
  EXPECT_EQ(show(String(s(3, 0))), "<null>");
  // Positions that do not fit 16 bits: the empty slice at 0, never wrapped.
  for (long from : {65536L, 65536L + 2, -1L}) {
    SubString sub = s(from, 3);
    EXPECT_EQ(sub.start(), 0) << from;
    EXPECT_EQ(sub.len(), 0) << from;
    EXPECT_TRUE(String(sub).isNull()) << from;
  }
  EXPECT_EQ(s(2, 65536 + 3).len(), 0);
  EXPECT_TRUE(String(String()(0, 3)).isNull());
  EXPECT_TRUE(String(String(kHigh)(0, 3)).isHighest());
}

TEST(SubString, WritingThroughASlice) {
  struct Case { char const* owner; long from; long len; char const* value; char const* out; } cases[] = {
      {"hello world", 0, 5, "HOWDY", "HOWDY world"},
      {"hello world", 5, 1, "", "helloworld"},
      {"hello world", 6, 65535, "there", "hello there"},
      {"abc", 5, 2, "x", "abc  x"},
      {"abc", 1, 5, "Z", "aZ"},
      {"", 2, 1, "x", "  x"},
      {"abc", 0, 3, "", "<null>"},
  };
  for (auto const& c : cases) {
    String o(c.owner);
    String keep(o);
    o(c.from, c.len) = c.value;
    EXPECT_EQ(show(o), c.out) << c.owner;
    EXPECT_EQ(show(keep), show(String(c.owner))) << "a copy sharing the block is untouched";
  }
  String o("abc");
  o.field(1, ",") = "x";  // field 1 missing: the empty slice at the end
  EXPECT_EQ(show(o), "abcx");
  String a("k1,k2,k3");
  a.field(1, ",") = "KEY";
  EXPECT_EQ(show(a), "k1,KEY,k3");
  String h(kHigh);
  h(0, 1) = "x";
  EXPECT_TRUE(h.isHighest());
  String t("abc");
  t(0, 1) = String(kHigh);
  EXPECT_TRUE(t.isHighest());
  // A slice whose positions do not fit takes no writes.
  String w("abc");
  w(65536 + 1) = "x";
  w(-1, 2) = "y";
  w(1, 65536 + 2) = "z";
  EXPECT_EQ(show(w), "abc");
  // Results are cut at 65535 characters.
  String big(65000L, 'a');
  big(10, 0) = String(1000L, 'b');
  EXPECT_EQ(big.length(), 65535);
}

std::vector<std::string> walkForward(StrCursor c) {
  std::vector<std::string> out;
  for (; c.ok(); ++c) out.push_back(show(c.value()));
  return out;
}

TEST(StrCursor, WalksForwards) {
  using V = std::vector<std::string>;
  struct Case { String text; String sep; V fields; } cases[] = {
      {"a\t\tb", "\t", {"a", "<null>", "b"}},
      {"a\t", "\t", {"a", "<null>"}},
      {"abc", "\t", {"abc"}},
      {"x::y", "::", {"x", "y"}},
      {String(), "\t", {}},
      {"abc", String(), {}},
      {String(kHigh), "\t", {"<high>"}},
  };
  for (auto const& c : cases) EXPECT_EQ(walkForward(StrCursor(c.text, c.sep)), c.fields) << show(c.text);
  EXPECT_EQ(walkForward(StrCursor(String("p\tq"))), (V{"p", "q"}));
}

TEST(StrCursor, WalksBackwardsAndRestarts) {
  StrCursor c(String("a\t\tbb\tc"), String("\t"));
  ++c;
  ++c;
  ++c;
  EXPECT_EQ(show(c), "c");
  --c;
  EXPECT_EQ(show(c), "bb");
  --c;
  EXPECT_EQ(show(c), "<null>");
  EXPECT_TRUE(c.ok());
  --c;
  EXPECT_EQ(show(c), "a");
  --c;
  EXPECT_FALSE(c.ok());
  EXPECT_EQ(show(c), "<null>");
  c.reStart();
  EXPECT_EQ(show(c), "a");

  StrCursor m(String("x::yy::z"), String("::"));
  ++m;
  ++m;
  --m;
  EXPECT_EQ(show(m), "yy");
  --m;
  EXPECT_EQ(show(m), "x");

  StrCursor copy(c);
  ++copy;
  EXPECT_EQ(show(copy), "<null>");
  EXPECT_EQ(show(c), "a");
  EXPECT_TRUE(copy ? true : false);
}

}  // namespace
