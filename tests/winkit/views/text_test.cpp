// The text model: tab layout, escape sequences both ways, texts read from
// files, commands and the administered store, and the text cursor's moves.
#include <winkit/Text.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ViewsSupport.h"

namespace {

using viewstest::caret;
using viewstest::zones;

std::vector<std::string> lines(Text& t) {
  std::vector<std::string> out;
  TextCursor c(t);
  for (c.goToFirst(); c.valid(); ++c) out.push_back(caret(c.value()));
  return out;
}

// Restores the tab width after a test that changes it.
struct TabWidth {
  explicit TabWidth(long n) { Text::tabSize(n); }
  ~TabWidth() { Text::tabSize(4); }
};

TEST(TextTabs, LayoutAndBack) {
  struct {
    long width;
    char const* raw;
    char const* laidOut;
  } const cases[] = {
      {4, "a\tb", "a^_^_^Ib"},         {4, "abc\td", "abc^Id"},
      {4, "\t", "^_^_^_^I"},           {4, "\t\tx", "^_^_^_^I^_^_^_^Ix"},
      {4, "abcd\te", "abcd^_^_^_^Ie"}, {8, "ab\tc", "ab^_^_^_^_^_^Ic"},
      {4, "", ""},                     {4, "\351t\351", "\351t\351"},
  };
  for (auto const& k : cases) {
    TabWidth w(k.width);
    String laid = Text::encodeTabs(String(k.raw));
    EXPECT_EQ(caret(laid), k.laidOut) << k.raw;
    EXPECT_EQ(zftest::str(Text::decodeTabs(laid)), k.raw);
  }
  Text::tabSize(0);  // refused
  EXPECT_EQ(Text::tabSize(), 4);
}

TEST(TextSequences, ReadingParameters) {
  struct {
    char const* seq;
    int32_t bits;
    long length;
  } const cases[] = {
      {"\033[1m", 0x800, 4},
      {"\033[1;4m", 0x900, 6},
      {"\033[4;1m", 0x900, 6},
      {"\033[5;7m", 0x600, 6},
      {"\033[31m", 0x10000, 5},
      {"\033[33m", 0x30000, 5},
      {"\033[41;1m", 0x100000, 7},
      {"\033[42m", 0x200000, 5},  // a background, not Underline followed by "2"
      {"\033[31;42m", 0x210000, 8},
      {"\033[1;46;1m", 0x600800, 9},
      {"\033[31;32m", 0x20000, 8},  // the foreground is one field: the last colour wins
      {"\033[9m", -1, 2},
      {"\033[1;9m", -1, 4},
      {"\033[14m", -1, 2},
      {"\033[41m", -1, 2},
      {"\033[1", -1, 2},
  };
  for (auto const& k : cases) {
    long length = 0;
    EXPECT_EQ(Text::sequenceToAttrib(k.seq, length), k.bits) << caret(String(k.seq));
    EXPECT_EQ(length, k.length) << caret(String(k.seq));
  }
}

TEST(TextSequences, WritingAttributes) {
  struct {
    int32_t bits;
    char const* seq;
  } const cases[] = {
      {0x800, "\033[1m"},          {0x900, "\033[1;4m"},       {0xF00, "\033[1;4;5;7m"},
      {0x10000, "\033[31m"},       {0x30000, "\033[33m"},      {0x70000, "\033[37m"},
      {0x210000, "\033[31;42m"},   {0x100800, "\033[1;41;1m"}, {0x600000, "\033[46;1m"},
      {0, ""},                     {0x2000, ""},
  };
  for (auto const& k : cases) {
    String s = Text::attribToSequence(k.bits);
    EXPECT_EQ(zftest::str(s), k.seq) << std::hex << k.bits;
    if (k.seq[0]) {
      long length = 0;
      EXPECT_EQ(Text::sequenceToAttrib(toCharPtr(s), length), k.bits) << "round trip " << std::hex << k.bits;
    }
  }
}

class TextFiles : public ::testing::Test {
protected:
  zftest::TempDir dir;
  // A text read from a file holding content, activated.
  std::unique_ptr<Text> load(std::string const& content) {
    auto t = std::make_unique<Text>(String(dir.write("f.txt", content).c_str()));
    t->activate();
    return t;
  }
};

TEST_F(TextFiles, SequencesBecomeZones) {
  struct {
    char const* content;
    std::vector<std::string> lines;
    char const* zones;
  } const cases[] = {
      {"\033[1mab\033[4mcd\033[0mef\n", {"abcdef"}, "0,0-0,1:800;0,2-0,3:900;"},
      {"x\033[9my\n", {"x^[[9my"}, ""},
      {"a\033[31mbc\nde\nf\n", {"abc", "de", "f"}, "0,1-2,0:10000;"},
      {"a\033[31mbc\n\n", {"abc", ""}, "0,1-0,2:10000;"},
      {"\033[1;4mab\033[0mcd\n", {"abcd"}, "0,0-0,1:900;"},
      {"start \033[31;42mcol\nacross\033[0m end\n", {"start col", "across end"}, "0,6-1,5:210000;"},
      {"\033[44mbg\n\033[0mnext\n", {"bg", "next"}, "0,0-0,1:400000;"},
      {"\033[1m\033[0mx\n", {"x"}, ""},
      {"a\033[0mb\033x\033[m\n", {"ab^[x^[[m"}, ""},
      {"a\tb\033[1mc\033[0m\n", {"a^_^_^Ibc"}, "0,5-0,5:800;"},
      // A tab after a sequence is laid out for the line without it.
      {"\033[31mab\tc\n", {"ab^_^Ic"}, "0,0-0,4:10000;"},
      {"\033[1mx\033[0m\tc\tm\n", {"x^_^_^Ic^_^_^Im"}, "0,0-0,0:800;"},
  };
  for (auto const& k : cases) {
    auto t = load(k.content);
    EXPECT_EQ(lines(*t), k.lines) << caret(String(k.content));
    EXPECT_EQ(zones(*t), k.zones) << caret(String(k.content));
    EXPECT_FALSE(t->modif());
  }
}

TEST_F(TextFiles, WritingBackCarriesTheAttribute) {
  auto t = load("\033[1mab\033[4mcd\033[0mef\nx\033[31my\nz\n");
  TextCursor c(*t);
  int32_t prev = 0;
  std::vector<std::string> out;
  for (c.goToFirst(); c.valid(); ++c) {
    c.goToCol(0);
    out.push_back(caret(t->decodeAttrs(c, prev, -1)));
  }
  EXPECT_EQ(out, (std::vector<std::string>{"^[[1mab^[[0m^[[1;4mcd^[[0mef", "x^[[31my", "z"}));
  EXPECT_EQ(prev, 0x10000);  // a zone reaching the end of the text gets no reset
  TextCursor mid(*t);
  mid.goTo(0, 1);
  prev = 0;
  EXPECT_EQ(caret(t->decodeAttrs(mid, prev, 2)), "^[[1mb^[[0m^[[1;4mc");
  mid.goTo(0, 9);
  EXPECT_TRUE(t->decodeAttrs(mid, prev, -1).isNull());
}

TEST_F(TextFiles, ActivationAndTypes) {
  auto t = std::make_unique<Text>(String(dir.write("g.txt", "one\ntwo").c_str()));
  EXPECT_FALSE(t->isActive());
  EXPECT_EQ(t->nLines(), 0);
  EXPECT_TRUE(t->activate());
  EXPECT_FALSE(t->activate());
  EXPECT_EQ(lines(*t), (std::vector<std::string>{"one", "two"}));
  t->deActivate();
  EXPECT_FALSE(t->isActive());
  EXPECT_EQ(t->nLines(), 0);
  // A missing file whose administered read fails is an empty text of type 0.
  zftest::ScopedEnv path("PATH", dir.path());
  Text missing(String(dir.file("nothing-here").c_str()));
  EXPECT_EQ(missing.type(), 0);
  EXPECT_TRUE(missing.activate());
  EXPECT_EQ(missing.nLines(), 0);
  // Renaming an active text keeps its lines unless it is reloaded.
  t->activate();
  t->setFile(String(dir.file("nothing-here").c_str()), false);
  EXPECT_EQ(t->nLines(), 2);
  t->setFile(String(dir.file("nothing-here").c_str()), true);
  EXPECT_EQ(t->nLines(), 0);
}

// A "checkout" on PATH that prints its arguments, or fails.
TEST_F(TextFiles, AdministeredStoreGetsTheNameAsOneArgument) {
  dir.write("bin/checkout",
            "#!/bin/sh\n"
            "[ \"$2\" = fail ] && { echo partial; exit 3; }\n"
            "echo \"args:$#\"\n"
            "printf 'name:%s\\n' \"$2\"\n"
            "printf '\\033[1mb\\tx\\033[0m\\n'\n"
            "echo oops >&2\n");
  ASSERT_EQ(::chmod(dir.file("bin/checkout").c_str(), 0755), 0);
  zftest::ScopedEnv path("PATH", dir.file("bin") + ":/usr/bin:/bin");
  String odd("no such; touch PWNED $(touch PWNED2) 'q\" x");
  // The children run in the test's directory, where PWNED must not appear.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  Text t(odd);
  Text failed(String("fail"));
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(t.type(), TextAdmin);
  EXPECT_TRUE(t.isActive());
  EXPECT_TRUE(t.isStored());
  EXPECT_EQ(lines(t), (std::vector<std::string>{"args:2", "name:no such; touch PWNED $(touch PWNED2) 'q\" x",
                                                "b^_^_^Ix"}));
  EXPECT_EQ(zones(t), "2,0-2,4:800;");
  EXPECT_NE(::access(dir.file("PWNED").c_str(), F_OK), 0);
  EXPECT_NE(::access(dir.file("PWNED2").c_str(), F_OK), 0);
  EXPECT_FALSE(t.activate());  // never reloaded

  EXPECT_EQ(failed.type(), 0);
  EXPECT_FALSE(failed.isActive());
  EXPECT_EQ(failed.nLines(), 0);
}

TEST(TextStream, ReadsTheWholeOutputWithTheWaitMessage) {
  static std::vector<std::string> shown;
  shown.clear();
  textWaitMsg = [](char const* text) { shown.push_back(text ? text : "(removed)"); };
  Text t(String("printf 'a\\tb\\n\\033[1mx\\n'"), false);
  textWaitMsg = nullptr;
  EXPECT_EQ(shown, (std::vector<std::string>{"Processing InputStream ...", "(removed)"}));
  EXPECT_EQ(t.type(), TextStream);
  EXPECT_TRUE(t.isActive());
  EXPECT_FALSE(t.modif());
  // Sequences are not decoded in a stream text.
  EXPECT_EQ(lines(t), (std::vector<std::string>{"a^_^_^Ib", "^[[1mx"}));
  EXPECT_FALSE(t.load());
  t.deActivate();
  EXPECT_TRUE(t.isActive());

  Text deferred(String("echo never"), true);
  EXPECT_EQ(deferred.nLines(), 0);
  EXPECT_EQ(zftest::str(deferred.getTextName()), "echo never");
}

TEST(TextCursorMoves, MoveColAndCharacters) {
  Text t;
  t.add(String("abc"));
  t.add(String("defgh"));
  t.add(String("ij"));
  t.add(String(""));
  TextCursor c(t);
  c.goTo(3, 0);
  c.moveCol(-1, true);
  EXPECT_EQ(c.line(), 2);
  EXPECT_EQ(c.column(), 2);
  c.moveCol(-4, false);
  EXPECT_EQ(c.line(), 1);
  EXPECT_EQ(c.column(), 3);
  c.moveCol(-20, true);
  EXPECT_EQ(c.line(), 0);
  EXPECT_EQ(c.column(), 0);
  c.moveCol(30, true);  // moving right is not limited by the line
  EXPECT_EQ(c.column(), 30);

  // Other cursors on the line follow inserted and deleted characters.
  TextCursor ins(t), other(t), pastEnd(t);
  ins.goTo(1, 1);
  other.goTo(1, 3);
  pastEnd.goTo(1, 5);
  EXPECT_TRUE(ins.insChar('X'));
  EXPECT_EQ(zftest::str(ins.value()), "dXefgh");
  EXPECT_EQ(other.column(), 4);
  EXPECT_EQ(pastEnd.column(), 5);
  EXPECT_TRUE(ins.delChar());
  EXPECT_EQ(other.column(), 3);
  TextCursor none(t);
  none.goTo(10, 0);
  EXPECT_FALSE(none.insChar('x'));
  EXPECT_FALSE(none.delChar());

  // Deleting several characters at once moves other cursors exactly as
  // deleting them one by one.
  for (long n : {1L, 3L, 8L, 20L}) {
    Text one, many;
    one.add(String("abcdefghij"));
    many.add(String("abcdefghij"));
    std::vector<std::unique_ptr<TextCursor>> a, b;
    for (long col = 0; col <= 12; ++col) {
      a.push_back(std::make_unique<TextCursor>(one));
      a.back()->goToCol(col);
      b.push_back(std::make_unique<TextCursor>(many));
      b.back()->goToCol(col);
    }
    TextCursor d1(one), d2(many);
    d1.goToCol(2);
    d2.goToCol(2);
    long done = 0;
    for (long i = 0; i < n; ++i) done += d1.delChar() ? 1 : 0;
    EXPECT_EQ(d2.delChars(n), done);
    EXPECT_EQ(zftest::str(many.first()), zftest::str(one.first()));
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(b[i]->column(), a[i]->column()) << n << " " << i;
  }

  Text sp;
  sp.add(String("  \037x"));
  sp.add(String("   "));
  TextCursor s(sp);
  EXPECT_EQ(s.goFirstNonSp(), 3);
  ++s;
  EXPECT_EQ(s.goFirstNonSp(), 3);
  EXPECT_FALSE(s < TextCursor(sp));
  EXPECT_TRUE(TextCursor(sp) < s);
}

}  // namespace
