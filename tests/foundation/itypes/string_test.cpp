// Tests of String: values, sharing and copy on write, the 16-bit limits,
// comparison with null and highest, search, paths, trims, editing, escapes,
// argument replacement, numbers and the environment.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ShowString.h"
#include "TestSupport.h"
#include <zfound/CharClass.h>
#include <zfound/String.h>

namespace {

using zftest::show;

char const* const kHigh = reinterpret_cast<char const*>(uintptr_t(1));

TEST(String, ConstructionGivesNullHighestOrText) {
  struct Case { String value; std::string expect; } cases[] = {
      {String(), "<null>"},
      {String(""), "<null>"},
      {String(static_cast<char const*>(nullptr)), "<null>"},
      {String("abc", 0), "<null>"},
      {String("", 5), "<null>"},
      {String("ab", 5), "ab   "},
      {String("abcdef", 3), "abc"},
      {String(kHigh), "<high>"},
      {String("x", 2147483647), "<high>"},
      {String(3L, "a\0b"), std::string("a\0b", 3)},
      {String(0L, "abc"), "<null>"},
      {String(4L, kHigh), "<null>"},
      {String(2147483647L, "x"), "<high>"},
      {String(3L, 'z'), "zzz"},
      {String(0L, 'z'), "<null>"},
      {String(70000L, 'z'), "<high>"},
      {String(65535L, 'z'), "<high>"},
      {String(String("abc"), 5), "abc  "},
      {String(String("abcdef"), 2), "ab"},
      {String(String(), 2), "  "},
      {String(String(kHigh), 2), "  "},
      {String(String("abc"), 0), "<null>"},
  };
  for (auto const& c : cases) EXPECT_EQ(show(c.value), c.expect);

  String big(65534L, 'q');
  EXPECT_EQ(big.length(), 65534);
  EXPECT_EQ(big[65533], 'q');

  String a;
  a = "";
  EXPECT_TRUE(a.isNull());
  a = kHigh;
  EXPECT_TRUE(a.isHighest());
  a = 'c';
  EXPECT_EQ(show(a), "c");
}

TEST(String, NullAndHighestAccess) {
  String n, h(kHigh), t("ab");
  EXPECT_TRUE(!n);
  EXPECT_TRUE(!h);
  EXPECT_FALSE(!t);
  EXPECT_TRUE(bool(t));
  EXPECT_FALSE(bool(h));
  EXPECT_EQ(n.length(), 0);
  EXPECT_EQ(h.length(), 2147483647);
  EXPECT_EQ(h[0], 0);
  EXPECT_EQ(t[1], 'b');
  EXPECT_EQ(t[2], 0);
  EXPECT_EQ(t[-1], 0);
  EXPECT_STREQ(toCharPtr(n), "");
  EXPECT_EQ(toCharPtr(h), kHigh);
  EXPECT_STREQ(debugString(reinterpret_cast<long>(&h)), "(high value)");
  EXPECT_STREQ(debugString(reinterpret_cast<long>(&n)), "");
  EXPECT_STREQ(debugString(reinterpret_cast<long>(&t)), "ab");
  EXPECT_EQ(t.storeLength(), 6);
  EXPECT_EQ(n.storeLength(), 4);
  EXPECT_EQ(h.storeLength(), 4);
}

TEST(String, CopiesShareAndWritersCopyFirst) {
  String a("abc");
  String b(a);
  EXPECT_EQ(a.rep(), b.rep());
  EXPECT_EQ(a.rep()->refs, 2);
  b += "def";
  EXPECT_EQ(show(a), "abc");
  EXPECT_EQ(show(b), "abcdef");
  EXPECT_NE(a.rep(), b.rep());
  EXPECT_EQ(a.rep()->refs, 1);

  // Held once: appended in place within the 16-character class, then moved.
  String::srep* r = b.rep();
  b += "ghijklmno";  // 15 characters
  EXPECT_EQ(b.rep(), r);
  b += "pq";         // 17 characters: a larger block
  EXPECT_NE(b.rep(), r);
  EXPECT_EQ(show(b), "abcdefghijklmnopq");

  // Every in-place writer leaves other holders alone.
  String base("  Hello  World  ");
  struct Writer { char const* name; void (*op)(String&); } writers[] = {
      {"rTrim", [](String& s) { s.rTrim(); }},  {"lTrim", [](String& s) { s.lTrim(); }},
      {"prune", [](String& s) { s.prune(); }},  {"reverse", [](String& s) { s.reverse(); }},
      {"setChar", [](String& s) { s.setChar('x', 2); }},
      {"delChar", [](String& s) { s.delChar(2); }},
      {"insChar", [](String& s) { s.insChar('x', 2); }},
      {"encode", [](String& s) { s.encode(); }}, {"center", [](String& s) { s.center(30); }},
      {"disect", [](String& s) { s.disect(2, 5); }},
  };
  for (auto const& w : writers) {
    String copy(base);
    w.op(copy);
    EXPECT_EQ(show(base), "  Hello  World  ") << w.name;
  }
}

TEST(String, SelfAppendAndSelfAssign) {
  String a("abcdefghij");
  a += a;
  EXPECT_EQ(show(a), "abcdefghijabcdefghij");
  a = a;
  EXPECT_EQ(show(a), "abcdefghijabcdefghij");
  String b("xy");
  b += toCharPtr(b);
  EXPECT_EQ(show(b), "xyxy");
}

TEST(String, ConcatenationRules) {
  String n, h(kHigh), t("ab");
  String x = n;
  x += t;
  EXPECT_EQ(x.rep(), t.rep());  // null + text shares the text
  x = t;
  x += h;
  EXPECT_TRUE(x.isHighest());
  x = h;
  x += t;
  EXPECT_TRUE(x.isHighest());
  x = t;
  x += n;
  EXPECT_EQ(show(x), "ab");
  x += static_cast<char const*>(nullptr);
  x += "";
  EXPECT_EQ(show(x), "ab");
  x += kHigh;
  EXPECT_TRUE(x.isHighest());
  x = n;
  x += 'q';
  EXPECT_EQ(show(x), "q");
  x = h;
  x += 'q';
  EXPECT_TRUE(x.isHighest());
  EXPECT_EQ(show(String("a") + String("b")), "ab");
  EXPECT_EQ(show(String("a") + "bc"), "abc");
  EXPECT_EQ(show(String() + ""), "<null>");
}

TEST(String, LengthNeverPassesTheSixteenBitLimit) {
  String a(65530L, 'a');
  a += "0123456789";
  EXPECT_EQ(a.length(), 65535);
  EXPECT_EQ(a[65534], '4');
  a += 'z';
  a += a;
  EXPECT_EQ(a.length(), 65535);
  EXPECT_FALSE(a.insChar('x', 3));
  EXPECT_FALSE(a.setChar('x', 65535));
  EXPECT_TRUE(a.setChar('x', 65534));
  EXPECT_EQ((String(40000L, 'a') + String(40000L, 'b')).length(), 65535);
  EXPECT_EQ(String(70000L, 'a').length(), 2147483647);       // repeat: highest
  EXPECT_EQ(String(std::string(70000, 'c').c_str()).length(), 65535);
  EXPECT_EQ(String(String("ab"), 70000).length(), 65535);
  EXPECT_EQ(String(30000L, 'a').replace("a", "aaa").length(), 65535);
  String e(40000L, '\\');
  e.encode();
  EXPECT_EQ(e.length(), 65534);  // whole escapes only
  String buf;
  EXPECT_NE(buf.getBuffer(100000), nullptr);
  EXPECT_EQ(buf.length(), 65535);
}

TEST(String, ReferenceCountNeverWraps) {
  String a("shared");
  std::vector<String> copies;
  copies.reserve(70000);
  for (int i = 0; i < 70000; ++i) copies.push_back(a);
  EXPECT_EQ(a.rep()->refs, 65535);
  EXPECT_NE(copies.back().rep(), a.rep());
  EXPECT_EQ(show(copies.back()), "shared");
  copies.clear();
  EXPECT_EQ(a.rep()->refs, 1);
  EXPECT_EQ(show(a), "shared");
}

TEST(String, GetBuffer) {
  String a("abcdefghij");  // 10 characters: class 16
  String::srep* r = a.rep();
  char* b = a.getBuffer(12);
  EXPECT_EQ(a.rep(), r);  // same class, held once: kept
  std::memcpy(b, "0123456789AB", 12);
  EXPECT_EQ(show(a), "0123456789AB");
  String c(a);
  b = c.getBuffer(12);
  EXPECT_NE(c.rep(), a.rep());  // shared: a new block, the other keeps its text
  EXPECT_EQ(show(a), "0123456789AB");
  EXPECT_EQ(c.getBuffer(0), nullptr);
  EXPECT_TRUE(c.isNull());
  EXPECT_EQ(c.getBuffer(2147483647), kHigh);
  EXPECT_TRUE(c.isHighest());
  b = c.getBuffer(3);
  std::memcpy(b, "xyz", 3);
  EXPECT_EQ(show(c), "xyz");
}

TEST(String, Comparison) {
  String n, h(kHigh), a("abc"), b("abd"), A("ABC");
  struct Case { String const* x; String const* y; int cmp; int icmp; } cases[] = {
      {&n, &n, 0, 0},   {&h, &h, 0, 0},   {&n, &h, -1, -1}, {&h, &n, 1, 1},
      {&n, &a, -1, -1}, {&a, &n, 1, 1},   {&h, &a, 1, 1},   {&a, &h, -1, -1},
      {&a, &b, -1, -1}, {&b, &a, 1, 1},   {&A, &a, -1, 0},  {&a, &a, 0, 0},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(cmp(*c.x, *c.y), c.cmp) << show(*c.x) << " vs " << show(*c.y);
    EXPECT_EQ(icmp(*c.x, *c.y), c.icmp) << show(*c.x) << " vs " << show(*c.y);
  }
  EXPECT_EQ(cmp(a, String("abc")), 0);  // different blocks, same text
  EXPECT_EQ(cmp(n, ""), 0);
  EXPECT_EQ(cmp(n, static_cast<char const*>(nullptr)), 0);
  EXPECT_EQ(cmp(a, ""), 1);
  EXPECT_EQ(cmp(h, ""), 1);
  EXPECT_EQ(cmp(h, kHigh), 0);
  EXPECT_EQ(cmp(a, kHigh), -1);
  EXPECT_EQ(cmp(a, "abd"), -1);
  EXPECT_EQ(icmp(A, "abc"), 0);
  EXPECT_TRUE(n < h);
  EXPECT_TRUE(a == "abc");
  EXPECT_TRUE(a >= "abc");
  EXPECT_TRUE(h > b);
  EXPECT_TRUE(String() == "");
}

TEST(String, SearchAndCount) {
  String s("abcabc"), n, h(kHigh);
  EXPECT_EQ(s.count('b', 0), 2);
  EXPECT_EQ(s.count('b', 2), 1);
  EXPECT_EQ(s.count('b', 6), -1);
  EXPECT_EQ(n.count('b', 0), -1);
  EXPECT_EQ(h.count('b', 0), -1);
  EXPECT_EQ(s.index('c'), 2);
  EXPECT_EQ(s.index('c', 3), 5);
  EXPECT_EQ(s.index('z'), -1);
  EXPECT_EQ(s.index('a', 6), -1);
  EXPECT_EQ(h.index('a'), -1);
  EXPECT_EQ(s.backIndex('a'), 3);
  EXPECT_EQ(s.backIndex('a', 2), 0);
  EXPECT_EQ(s.backIndex('a', 100), 3);
  EXPECT_EQ(s.backIndex('a', -1), -1);
  EXPECT_EQ(n.backIndex('a'), -1);
  EXPECT_TRUE(s.startsWith("abc"));
  EXPECT_TRUE(s.startsWith(String()));
  EXPECT_TRUE(n.startsWith(String()));
  EXPECT_FALSE(s.startsWith("abd"));
  EXPECT_FALSE(s.startsWith("abcabcx"));
  EXPECT_FALSE(n.startsWith("a"));
}

TEST(String, Paths) {
  struct Case { char const* path; char const* full; char const* base; char const* ext; char const* dir; } cases[] = {
      {"/a/b.c/d.tar.gz", "d.tar.gz", "d", "gz", "/a/b.c"},
      {"a/b", "b", "b", "<null>", "a"},
      {"/ab", "ab", "ab", "<null>", "<null>"},
      {"file.txt", "file.txt", "file", "txt", "<null>"},
      {"dir/", "<null>", "<null>", "<null>", "dir"},
      {"a.b/c", "c", "c", "<null>", "a.b"},
  };
  for (auto const& c : cases) {
    String p(c.path);
    EXPECT_EQ(show(p.baseFullName()), c.full) << c.path;
    EXPECT_EQ(show(p.baseName()), c.base) << c.path;
    EXPECT_EQ(show(p.extName()), c.ext) << c.path;
    EXPECT_EQ(show(p.pathName()), c.dir) << c.path;
  }
  EXPECT_TRUE(String().pathName().isNull());
  EXPECT_TRUE(String(kHigh).pathName().isNull());
}

TEST(String, TrimsAndReshaping) {
  struct Case { char const* in; String& (String::*op)(); char const* out; } cases[] = {
      {"  ab c \t\n", &String::rTrim, "  ab c"},
      {"  ab c \t\n", &String::lTrim, "ab c \t\n"},
      {"  ab c \t\n", &String::fullTrim, "ab c"},
      {" \t\n ", &String::rTrim, "<null>"},
      {" \t\n ", &String::lTrim, "<null>"},
      {"  a \t\n b  c ", &String::prune, "a b c"},
      {"a\tb", &String::prune, "a b"},
      {"abc", &String::reverse, "cba"},
  };
  for (auto const& c : cases) {
    String s(c.in);
    (s.*c.op)();
    EXPECT_EQ(show(s), c.out) << c.in;
  }
  String h(kHigh), n;
  EXPECT_TRUE(h.fullTrim().prune().reverse().isHighest());
  EXPECT_TRUE(n.fullTrim().isNull());

  String c("ab");
  EXPECT_EQ(show(c.center(7)), "  ab   ");
  EXPECT_EQ(show(String("abc").center(2)), "abc");
}

TEST(String, CharacterEditing) {
  String s("abc");
  EXPECT_TRUE(s.setChar('X', 1));
  EXPECT_EQ(show(s), "aXc");
  EXPECT_TRUE(s.setChar('Z', 5));
  EXPECT_EQ(show(s), "aXc  Z");
  EXPECT_TRUE(s.delChar(0));
  EXPECT_EQ(show(s), "Xc  Z");
  EXPECT_FALSE(s.delChar(5));
  EXPECT_FALSE(s.delChar(-1));
  EXPECT_TRUE(s.insChar('-', 1));
  EXPECT_EQ(show(s), "X-c  Z");
  EXPECT_TRUE(s.insChar('!', 8));  // beyond the end: padded like setChar
  EXPECT_EQ(show(s), "X-c  Z  !");
  String one("q");
  EXPECT_TRUE(one.delChar(0));
  EXPECT_TRUE(one.isNull());
  String n;
  EXPECT_FALSE(n.delChar(0));
  EXPECT_TRUE(n.setChar('a', 2));
  EXPECT_EQ(show(n), "  a");
  String h(kHigh);
  EXPECT_FALSE(h.setChar('a', 0));
  EXPECT_FALSE(h.insChar('a', 0));
  EXPECT_FALSE(h.delChar(0));
  EXPECT_FALSE(String("a").setChar('a', -1));
}

TEST(String, ReplaceAndRemove) {
  struct Case { char const* in; char const* from; char const* to; char const* out; } cases[] = {
      {"a.b.c", ".", "::", "a::b::c"},
      {"aaaa", "aa", "b", "bb"},
      {"aaa", "aa", "", "a"},
      {"abc", "x", "y", "abc"},
      {"abc", "abc", "", "<null>"},
      {"abc", "", "y", "abc"},
      {"line1\nline2\n", "\n", " ", "line1 line2 "},
  };
  for (auto const& c : cases) EXPECT_EQ(show(String(c.in).replace(c.from, c.to)), c.out) << c.in;
  EXPECT_EQ(show(String("abc").replace(String(kHigh), "y")), "abc");
  String s("a-b-c");
  s -= "-";
  EXPECT_EQ(show(s), "abc");
}

TEST(String, Escapes) {
  struct Case { char const* in; char const* out; } decodes[] = {
      {"\\a\\b\\t\\n\\v\\f\\r\\e", "\a\b\t\n\v\f\r\x1b"},
      {"\\A\\B\\T\\N\\V\\F\\R\\E", "\a\b\t\n\v\f\r\x1b"},
      {"\\\\ \\\" \\'", "\\ \" '"},
      {"\\x41\\X4a\\x7", "AJ\x07"},
      {"\\d65\\D066x\\d1000", "ABx\x64" "0"},
      {"\\101\\0", "A\x1f"},
      {"\\x0", "\x1f"},
      {"^a^[", "\x01\x1b"},
      {"^@", "\x1f"},
      {"\\q", "q"},
      {"end\\", "end\\"},
  };
  for (auto const& c : decodes) EXPECT_EQ(show(String(c.in).decode()), c.out) << c.in;
  EXPECT_EQ(show(String("\a\b\t\n\v\f\r\x1b\\\"'\x1f^").encode()), "\a\\b\\t\\n\\v\\f\\r\\e\\\\\\\"\\'\\0\\^");

  // encode then decode gives every text without character 31 back.
  std::string all;
  for (int c = 1; c < 256; ++c)
    if (c != 31) all += char(c);
  all += "^A\\x41\\";
  String s(all.c_str());
  s.encode();
  s.decode();
  EXPECT_EQ(show(s), all);
  EXPECT_TRUE(String(kHigh).encode().isHighest());
  EXPECT_TRUE(String().decode().isNull());
}

TEST(String, ReplaceArgs) {
  String args[] = {"a", "b"};
  EXPECT_EQ(show(String("#0 #1 ## #x").replaceArgs(args, 2)), "a b # x");
  EXPECT_EQ(show(String("[#5]#").replaceArgs(args, 2)), "[]");  // beyond the arguments: nothing
  EXPECT_TRUE(String().replaceArgs(args, 2).isNull());
  EXPECT_TRUE(String(kHigh).replaceArgs(args, 2).isNull());
  String h[] = {String(kHigh)};
  EXPECT_EQ(show(String("<#0>").replaceArgs(h, 1)), "<(high value)>");
}

TEST(String, CaseMapping) {
  zftest::TempDir dir;  // no translation file there: the built-in table
  zftest::ScopedEnv z("ZEPHRA", dir.path());
  resetAsciiTables();
  EXPECT_EQ(show(String("abC\xe9\xdf").toUpper()), "ABC\xc9\xdf");
  EXPECT_EQ(show(String("ABc\xc9").toLower()), "abc\xe9");
  EXPECT_EQ(show(String("\xe9t\xc9").toAscii()), "etE");
  EXPECT_TRUE(String(kHigh).toUpper().isHighest());
  EXPECT_TRUE(String().toLower().isNull());
}

TEST(String, Numbers) {
  struct Case { String s; long base; int32_t v; } cases[] = {
      {String(), 10, INT32_MIN},
      {String(kHigh), 10, INT32_MAX},
      {" -0x1F", 0, -31},
      {"12ab", 10, 12},
      {"12ab", 16, 0x12ab},
      {"017", 0, 15},
      {"17", 0, 17},
      {"  ", 10, 0},
      {"-", 10, 0},
      {"zz", 36, 35 * 36 + 35},
      {"4294967297", 10, 1},  // 32 bits, no overflow check
  };
  for (auto const& c : cases) EXPECT_EQ(toInt(c.s, c.base), c.v) << show(c.s);
  EXPECT_EQ(show(toString(5, -3, -10)), "005");
  EXPECT_EQ(show(toString(-2147483648L, 0, -10)), "<null>");
  EXPECT_EQ(show(toString(255, 0, 16)), "ff");
}

TEST(String, Hash) {
  EXPECT_EQ(hashVal(String(), 7), 0);
  EXPECT_EQ(hashVal(String(kHigh), 7), 1);
  EXPECT_EQ(hashVal(String(kHigh), 1), 0);
  EXPECT_EQ(hashVal(String("ab"), 1000), (97 * 31 + 98) % 1000);
  uint32_t h = uint32_t(int32_t(static_cast<signed char>('\xe9')));
  EXPECT_EQ(hashVal(String("\xe9"), 1000003), long(h % 1000003u));
  EXPECT_EQ(hashVal(String("ab"), 0), 0);
}

TEST(String, DisectAndRestore) {
  String s("hello world");
  String other(s);
  EXPECT_STREQ(s.disect(0, 5), "hello");
  EXPECT_EQ(show(other), "hello world");  // the shared block is untouched
  EXPECT_STREQ(s.disect(0, 50), "hello") << "already cut";
  s.restore(0, 5);
  EXPECT_EQ(show(s), "hello world");
  EXPECT_STREQ(s.disect(6, 5), "world");
  s.restore(6, 5);
  EXPECT_STREQ(s.disect(6, 50), "world");
  EXPECT_STREQ(s.disect(20, 1), "");
  EXPECT_STREQ(String().disect(0, 1), "");
  EXPECT_EQ(String(kHigh).disect(0, 1), kHigh);
  EXPECT_EQ(show(s), "hello world");
}

TEST(String, Environment) {
  zftest::ScopedEnv v("ZF_STRING_TEST_VAR", "value1");
  zftest::ScopedEnv u("LANGUAGE", "", true);
  EXPECT_EQ(show(String("ZF_STRING_TEST_VAR").getEnv()), "value1");
  EXPECT_EQ(show(String("LANGUAGE").getEnv()), "english");
  EXPECT_TRUE(String("ZF_STRING_TEST_UNSET_VAR").getEnv().isNull());
  EXPECT_TRUE(String(kHigh).getEnv().isHighest());
  String("ZF_STRING_TEST_VAR=value2").putEnv();
  EXPECT_EQ(show(String("ZF_STRING_TEST_VAR").getEnv()), "value2");
}

}  // namespace
