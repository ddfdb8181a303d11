// Regular expressions and file-name patterns: a table of searches (anchors,
// classes, groups and back references, repetitions), whole-text matching,
// compile errors, backward search, expansion of the matched text, and runs far
// longer than any fixed repetition limit.
#include <zfound/RegExp.h>
#include <zfound/String.h>

#include <gtest/gtest.h>

#include <string>
#include "TestSupport.h"

namespace {

using zftest::str;

struct SearchCase {
  char const* pattern;
  bool fileMode;
  char const* text;
  int64_t from;
  int64_t pos;  // expected match position, -1 none
  int64_t len;  // expected match length
};

TEST(RegExpTest, SearchTable) {
  SearchCase const cases[] = {
      {"abc", false, "xxabcxx", 0, 2, 3},
      {"^ab", false, "abab", 0, 0, 2},
      {"^ab", false, "abab", 1, -1, 0},  // anchored, search begins after 0
      {"ab$", false, "abab", 0, 2, 2},
      {"a$b", false, "xa$b", 0, 1, 3},  // '$' not last is itself
      {"*a", false, "x*a", 0, 1, 2},    // leading '*' is itself
      {"a.c", false, "abcadc", 1, 3, 3},
      {"ab*c", false, "ac abbbc", 0, 0, 2},
      {"ab+c", false, "ac abbc", 0, 3, 4},
      {"ab+c", false, "ac", 0, -1, 0},
      {"+a", false, "x+a", 0, 1, 2},
      {"a{2,3}", false, "a aa aaaa", 0, 2, 2},
      {"a{2,3}", false, "aaaa", 0, 0, 3},
      {"a{2}", false, "aaaa", 0, 0, 2},
      {"xa{2,}", false, "xaaaaa", 0, 0, 6},
      {"[abc]+", false, "xxbcaz", 0, 2, 3},
      {"[]x]", false, "a]", 0, 1, 1},  // ']' first in a class is itself
      {"[a-c-]", false, "z-", 0, 1, 1},
      {"[^a-z]", false, "abc1", 0, 3, 1},
      {"[^a]", false, "a\xe9", 0, -1, 0},  // negated 7-bit class never takes bytes above 127
      {"[\xe9-\xea]", false, "a\xea", 0, 1, 1},
      {"[^\xe9]", false, "\xe9\xe8", 0, 1, 1},
      {"\\(ab\\)\\1", false, "abxabab", 0, 3, 4},
      {"\\(a*\\)b\\1", false, "aabaa", 0, 0, 5},
      {"\\(x\\)\\1*y", false, "xxxxy", 0, 0, 5},
      {"a\\.b", false, "axb a.b", 0, 4, 3},
      {"a\\{", false, "a{", 0, 0, 2},
      {"\\(\\*\\)", false, "a*", 0, 1, 1},
      {"a?c*.dat", true, "abc.dat", 0, 0, 7},
      {"a?c*.dat", true, "abcx.dat", 0, 0, 8},
      {"a?c*.dat", true, "xabc.dat", 0, -1, 0},
      {"*.tab", true, "x.tab", 0, 0, 5},
      {"d[0-9]", true, "d7", 0, 0, 2},
      {"^x$", true, "^x$", 0, 0, 3},  // file mode: '^', '$' and '.' are themselves
      {"$", false, "abc", 0, 3, 0},     // an empty match at the end of the text
      {"x*", false, "", 0, 0, 0},
      {"c*$", false, "abc", 3, 3, 0},
  };
  for (SearchCase const& c : cases) {
    RegExp re(c.pattern, c.fileMode);
    ASSERT_TRUE(re) << c.pattern << " error " << re.error();
    String text(c.text);
    EXPECT_EQ(c.pos, re.search(text, c.from)) << c.pattern << " in " << c.text;
    EXPECT_EQ(c.len, re.length()) << c.pattern << " in " << c.text;
  }
}

TEST(RegExpTest, NegatedClassNeverTakesANulOfACountedText) {
  struct {
    char const* pattern;
    int64_t pos;
  } const cases[] = {{"[^\xe9]", 2}, {"[^a]", 2}, {"[^\xe9]*x", 2}};
  char const text[] = {'\xe9', '\0', 'x'};
  for (auto const& c : cases) {
    RegExp re(c.pattern);
    ASSERT_TRUE(re) << c.pattern;
    EXPECT_EQ(c.pos, re.search(text, 0, 0, 3)) << c.pattern;
    EXPECT_EQ(1, re.length()) << c.pattern;
  }
}

TEST(RegExpTest, WholeTextMatch) {
  LRegExp p("a?c*.dat");
  EXPECT_TRUE(p.match("abc.dat"));
  EXPECT_TRUE(p.match("abcx.dat"));
  EXPECT_FALSE(p.match("xabc.dat"));
  EXPECT_FALSE(p.match("abcxdat"));
  EXPECT_TRUE(LRegExp("*.d").match("a.d.d"));
  RegExp r("ab");
  EXPECT_FALSE(r.match("abc"));  // only in part
  EXPECT_TRUE(r.match("xab", 1));
  EXPECT_FALSE(r.match("ab", 3));  // beyond the length
  // The end item must be reached at the end: a shorter first success is not enough.
  EXPECT_TRUE(RegExp("a*a*b*").match("aaab"));
  EXPECT_TRUE(RegExp("x{0,2}y*").match("xxyy"));
  EXPECT_TRUE(RegExp("x\\{0,2\\}").match("x{0,2}"));  // escaped braces are themselves
}

TEST(RegExpTest, CompileErrors) {
  struct {
    char const* pattern;
    int32_t code;
  } const cases[] = {
      {"a{300}", 11}, {"a{x}", 16}, {"\\(a\\1\\)", 25}, {"a\\\n", 36}, {"\nabc", 41},
      {"\\(a", 42},   {"a\\)", 42}, {"\\(\\(\\(\\(\\(\\(\\(\\(\\(\\(a\\)\\)\\)\\)\\)\\)\\)\\)\\)\\)", 43},
      {"a{1,2,3}", 44}, {"a{1", 45}, {"a{3,2}", 46}, {"[abc", 49},
  };
  for (auto const& c : cases) {
    RegExp re(c.pattern);
    EXPECT_EQ(c.code, re.error()) << c.pattern;
    EXPECT_FALSE(re);
    EXPECT_EQ(-1, re.search(String("aaa abc")));
    EXPECT_FALSE(re.match("a"));
    EXPECT_TRUE(re.expand("&").isNull());
  }
  std::string big;
  for (int i = 0; i < 70; ++i) big += "[a-z]";
  EXPECT_EQ(50, RegExp(big.c_str()).error());
  RegExp none{String()};
  EXPECT_EQ(-1, none.search(String("x")));
}

TEST(RegExpTest, ExpandBackSearchAndProgramQueries) {
  RegExp re("\\([a-z]*\\)=\\([0-9]*\\)");
  EXPECT_EQ(2, re.search(String("  key=42;")));
  EXPECT_EQ("key=42 [42:key] & \\ \t", str(re.expand("&\\ [\\2:\\1] \\& \\\\ \\t\\")));
  EXPECT_EQ("", str(re.expand("\\5")));  // beyond the group count

  RegExp b("ab");
  EXPECT_EQ(3, b.backSearch(String("ab ab x"), 100));
  EXPECT_EQ(0, b.backSearch(String("ab ab x"), 2));
  EXPECT_EQ(-1, b.backSearch(String("ab"), -1));
  EXPECT_EQ(0, RegExp("^a").backSearch(String("aaa"), 2));

  EXPECT_FALSE(RegExp("abc").hasMetaChars());
  EXPECT_TRUE(RegExp("a.c").hasMetaChars());
  EXPECT_TRUE(RegExp("^abc").hasMetaChars());
  EXPECT_FALSE(LRegExp("abc").hasMetaChars());
  EXPECT_EQ('a', RegExp("abc").firstChar());
  EXPECT_EQ(0, RegExp("a*bc").firstChar());
  EXPECT_EQ(3, RegExp::slashOrAmpersand(String("abc&\\"), 0));
  EXPECT_EQ(4, RegExp::slashOrAmpersand(String("abc&\\"), 4));
  EXPECT_EQ(-1, RegExp::slashOrAmpersand(String(), 0));

  // The relative form searches a window of a text.
  RegExp w("b");
  EXPECT_EQ(1, w.search("abcab", 0, 3, -1));
  EXPECT_EQ(-1, w.search("abcab", 0, 0, 1));
}

TEST(RegExpTest, UnboundedRepetitionsCoverLongTexts) {
  std::string t(60000, 'a');
  t += 'b';
  String text(static_cast<long>(t.size()), t.data());
  for (char const* p : {"a+b", "a*b", "a{3,}b", "^[a-z]+$", ".*b"}) {
    RegExp re(p);
    EXPECT_EQ(0, re.search(text)) << p;
    EXPECT_EQ(60001, re.length()) << p;
  }
  EXPECT_TRUE(LRegExp("*b").match(text));
}

TEST(RegExpTest, DecodeTypedEscapes) {
  String s("a\\tb\\x41\\0101\\x00\\(\\1\\\\z");
  s.decodeRegExp();
  EXPECT_EQ(std::string("a\tbA\b1\x1f\\(\\1\\z"), str(s));  // \010 then 1
  String n;
  EXPECT_TRUE(n.decodeRegExp().isNull());
}

}  // namespace

TEST(RegExpTest, ManyUnboundedRepetitionsStayPolynomial) {
  // Each failed (repetition, position) pair is tried once: these took
  // minutes when every split of the text among the repetitions was tried.
  std::string as(128, 'a');
  RegExp dots(".*.*.*.*.*x");
  EXPECT_EQ(-1, dots.search(String(as.c_str())));
  EXPECT_EQ(0, dots.error());
  EXPECT_EQ(5, dots.search(String(("aaaaa" + as.substr(0, 100) + "x").c_str()), 5));
  EXPECT_EQ(101, dots.length());
  std::string as64(64, 'a');
  LRegExp stars("*******x");
  EXPECT_FALSE(stars.match(String(as64.c_str())));
  EXPECT_TRUE(stars.match(String((as64 + "x").c_str())));
  EXPECT_FALSE(RegExp("a*a*a*a*a*a*a*a*a*a*b").match(String(std::string(200, 'a').c_str())));
  // Groups still hold the first whole match found.
  RegExp g("\\(a*\\)\\(a*\\)\\(a*\\)c");
  EXPECT_EQ(0, g.search(String("aaaac")));
  EXPECT_EQ("aaaa||", str(g.expand("\\1|\\2|\\3")));
}

TEST(RegExpTest, BackReferenceSearchEndsWithinItsStepBudget) {
  std::string p = "\\(a*\\)";
  for (int i = 0; i < 8; ++i) p += "\\1*";
  p += "x";
  RegExp re(p.c_str());
  ASSERT_TRUE(re);
  EXPECT_EQ(-1, re.search(String(std::string(200, 'a').c_str())));
  EXPECT_EQ(RegExp::ErrTooComplex, re.error());
  EXPECT_FALSE(re);
  // The next search starts afresh.
  EXPECT_EQ(0, re.search(String("aax")));
  EXPECT_EQ(0, re.error());
  EXPECT_EQ(3, re.length());
}
