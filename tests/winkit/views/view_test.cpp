// Views, editable views and help views in a headless session: numbering and
// relabelling, the movement limits, deferred stream reading, the typing
// rules on tabs, joining, region clearing, exit answers, and cross
// references.
#include <winkit/EditView.h>
#include <winkit/HelpView.h>
#include <winkit/View.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "HeadlessScreen.h"
#include "TestSupport.h"
#include "ViewsSupport.h"

namespace {

using zftest::giveKeys;
using zftest::screenLine;
using zftest::TempDir;
using viewstest::caret;

bool startsWith(std::string const& a, std::string const& b) { return a.compare(0, b.size(), b) == 0; }

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s), size_t(s.length())); }

class ViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("viewtests-1.0");
    zftest::headlessOnce();
    Window::rootWindow()->front();
    Window::rootWindow()->erase();
    bells_ = WiTestBells();
    Text::tabSize(4);
  }
  void TearDown() override { WiTestKeys(""); }
  int bells() const { return WiTestBells() - bells_; }
  std::string line(View& v, long n) {
    TextCursor c(v.getText());
    c.goTo(n, 0);
    return c.valid() ? caret(c.value()) : std::string("<none>");
  }
  int bells_ = 0;
  TempDir tmp;
};

TEST_F(ViewTest, SecondViewSharesTheTextAndClosingTheFirstRelabels) {
  std::string f = tmp.write("f", "one\ntwo\n");
  String name(f.c_str());
  auto* a = new View(name);
  auto* b = new View(name);
  EXPECT_EQ(&a->getText(), &b->getText());
  EXPECT_EQ(a->viewNumber(), 0);
  EXPECT_EQ(b->viewNumber(), 1);
  EXPECT_EQ(str(a->getLabel(true)), f + " [0]");
  a->activate(1, 1, 5, 60, false);
  b->activate(10, 1, 5, 60, true);
  EXPECT_NE(screenLine(9).find(" [1] "), std::string::npos) << screenLine(9);
  EXPECT_PRED2(startsWith, screenLine(1), "│one");
  delete a;
  EXPECT_EQ(b->viewNumber(), 0);
  EXPECT_EQ(str(b->getLabel(true)), f);
  EXPECT_EQ(screenLine(9).find("["), std::string::npos) << "bare name: " << screenLine(9);
  EXPECT_NE(screenLine(9).find(f), std::string::npos);
  EXPECT_TRUE(b->getText().isActive()) << "a displayed view keeps its text";
  // Another spelling of the same file shares the text too.
  View c(String((tmp.path() + "/./f").c_str()));
  EXPECT_EQ(&c.getText(), &b->getText());
  EXPECT_FALSE(View::sameFile(String(f.c_str()), String((tmp.path() + "/g").c_str())));
  delete b;
}

TEST_F(ViewTest, MovementLimitsBeep) {
  std::string f = tmp.write("f", "1\n2\n3\n4\n5\n");
  View v(String(f.c_str()));
  v.activate(1, 1, 20, 70, true);
  // Five lines, 20 rows: down to line 5 + 20 - 2 = 23, then a beep.
  v.cursDown(23);
  EXPECT_EQ(v.getRow(), 23);
  EXPECT_EQ(bells(), 0);
  v.cursDown(1);
  EXPECT_EQ(v.getRow(), 23);
  EXPECT_EQ(bells(), 1);
  v.cursUp(24);
  EXPECT_EQ(bells(), 2) << "past line 0";
  v.goCursor(3, 0, false);
  v.pageUp(1);
  EXPECT_EQ(v.getRow(), 0);
  EXPECT_EQ(v.topOrigin(), 0);
  EXPECT_EQ(bells(), 3);
  v.cursLeft(1);
  EXPECT_EQ(bells(), 4) << "line 0, column 0";
  v.pageDown(2);
  EXPECT_EQ(v.getRow(), 23);
  EXPECT_EQ(v.topOrigin(), 4) << "the last line on top";
  EXPECT_EQ(bells(), 5);
  EXPECT_EQ(str(v.msg("ANY")), "(No message table)");
  // Help mode: "Help" at column 60 of the status line; a message after the position.
  v.chgHelpMode();
  v.writeStLine(String("note"));
  std::string status = screenLine(21);
  size_t help = status.find("Help");
  ASSERT_NE(help, std::string::npos) << status;
  long column = -1;  // interior column: code points before it, less the frame
  for (size_t i = 0; i < help; ++i) column += (static_cast<unsigned char>(status[i]) & 0xC0) != 0x80;
  EXPECT_EQ(column, 60) << status;
  EXPECT_NE(status.find("▒24:1  note▒"), std::string::npos) << status;
}

TEST_F(ViewTest, OriginsFollowTheCursorAndStatusLineShowsThePosition) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += "line " + std::to_string(i) + "\n";
  std::string f = tmp.write("f", text);
  View v(String(f.c_str()));
  v.activate(1, 1, 5, 20, true);
  v.cursDown(7);
  EXPECT_EQ(v.topOrigin(), 3);
  EXPECT_PRED2(startsWith, screenLine(5), "║line 7");
  EXPECT_NE(screenLine(6).find("8:1"), std::string::npos) << screenLine(6);
  v.cursRight(25);
  EXPECT_EQ(v.colOrigin(), 6);
  v.wordRight(1);
  EXPECT_EQ(v.getRow(), 8) << "past the line end to the next word";
  EXPECT_EQ(v.getCol(), 0);
  v.wordRight(1);
  EXPECT_EQ(v.getCol(), 5);
  v.wordLeft(2);
  EXPECT_EQ(v.getRow(), 7);
  EXPECT_EQ(v.getCol(), 5);
  v.goToEndOfFile();
  EXPECT_EQ(v.getRow(), 29);
  EXPECT_EQ(v.topOrigin(), 25);
}

TEST_F(ViewTest, DeferredStreamViewStoppedByEscKeepsTheLinesRead) {
  View v(String("echo one; echo two; sleep 1; echo three"), true);
  EXPECT_EQ(v.sizeOfText(), 0);
  giveKeys("esc");
  v.activate(1, 1, 5, 40, true);
  EXPECT_FALSE(v.isReading());
  EXPECT_GE(v.sizeOfText(), 1);
  EXPECT_LE(v.sizeOfText(), 2) << "stopped before the slow part";
  EXPECT_EQ(line(v, 0), "one");
  EXPECT_PRED2(startsWith, screenLine(1), "║one");
  EXPECT_FALSE(v.getText().modif());
  // Not stopped: every line.
  View w(String("echo a; echo b"), true);
  w.activate(8, 1, 5, 40, false);
  EXPECT_EQ(w.sizeOfText(), 2);
}

TEST_F(ViewTest, TypingOnFillBytesAndTabs) {
  std::string f = tmp.write("f", "\t\nab\tc\n");
  EditableView v(String(f.c_str()));
  v.activate(1, 1, 5, 40, true);
  EXPECT_EQ(line(v, 0), "^_^_^_^I");
  v.insChar('x');  // on the first fill byte
  EXPECT_EQ(line(v, 0), "x^_^_^I") << "the tab still ends in column 3";
  // Overwrite on a tab replaces it.
  v.chgInsMode(true);
  v.goCursor(1, 3, false);
  EXPECT_EQ(line(v, 1), "ab^_^Ic");
  v.insChar('y');
  EXPECT_EQ(line(v, 1), "ab yc");
  v.chgInsMode(true);
  // Insert mode on a tab: the tab moves to the next stop.
  v.goCursor(0, 3, false);
  v.insChar('z');
  EXPECT_EQ(line(v, 0), "x  z^_^_^_^I");
  EXPECT_TRUE(v.isTextMod());
}

TEST_F(ViewTest, BackspaceInColumnZeroJoinsOntoTheLineAbove) {
  std::string f = tmp.write("f", "l0\nl1\nl2\nl3\nfour\nfive\n");
  EditableView v(String(f.c_str()));
  v.activate(1, 1, 8, 40, true);
  v.goCursor(5, 0, false);
  v.backSpace();
  EXPECT_EQ(line(v, 4), "fourfive");
  EXPECT_EQ(v.getRow(), 4);
  EXPECT_EQ(v.getCol(), 4);
  EXPECT_EQ(v.sizeOfText(), 5);
  v.goCursor(0, 0, false);
  v.backSpace();
  EXPECT_EQ(bells(), 1) << "column 0 of the first line";
  // Past the line end Backspace only moves left: nothing joins or changes.
  for (long col : {4, 3}) {
    v.goCursor(0, col, false);
    v.backSpace();
    EXPECT_EQ(line(v, 0), "l0") << col;
    EXPECT_EQ(line(v, 1), "l1") << col;
    EXPECT_EQ(v.getCol(), col - 1);
  }
  v.backSpace();
  EXPECT_EQ(line(v, 0), "l");
}

TEST_F(ViewTest, AJoinThatWouldPassTheLineLimitChangesNothing) {
  std::string f = tmp.write("f", std::string(65535, 'a') + "\nb\n");
  EditableView v(String(f.c_str()));
  v.activate(1, 1, 5, 40, true);
  struct {
    long line, col;
    bool backspace;
  } cases[] = {{1, 0, true}, {0, 65535, false}};
  for (auto const& c : cases) {
    v.goCursor(c.line, c.col, false);
    int before = bells();
    if (c.backspace)
      v.backSpace();
    else
      v.delChar();
    EXPECT_EQ(bells(), before + 1) << c.backspace;
    EXPECT_EQ(v.sizeOfText(), 2);
    EXPECT_EQ(line(v, 1), "b");
    EXPECT_EQ(v.getRow(), c.line);
    EXPECT_EQ(v.getCol(), c.col);
    EXPECT_FALSE(v.isTextMod()) << c.backspace;
  }
}

TEST_F(ViewTest, TypingOnAFullLineBeepsAndChangesNothing) {
  std::string f = tmp.write("f", std::string(65535, 'a') + "\n");
  EditableView v(String(f.c_str()));
  v.activate(1, 1, 5, 40, true);
  for (long col : {0L, 65535L}) {
    v.goCursor(0, col, false);
    int before = bells();
    v.insChar('x');
    EXPECT_EQ(bells(), before + 1) << col;
    EXPECT_EQ(v.getCol(), col);
    EXPECT_FALSE(v.isTextMod()) << col;
  }
  v.chgInsMode(false);
  v.goCursor(0, 0, false);
  v.insChar('x');
  EXPECT_EQ(line(v, 0), "x" + std::string(65534, 'a')) << "overwriting needs no room";
}

TEST_F(ViewTest, ClearingARegionKeepsTheLines) {
  struct {
    bool remove;
    char const* lines[4];
  } cases[] = {
      {false, {"ab", "", "  cde", "<none>"}},  // the first line's rest reaches its end
      {true, {"abcde", "<none>", "<none>", "<none>"}},
  };
  for (auto const& c : cases) {
    std::string f = tmp.write("f", "abxyz\nmiddle\nqrcde\n");
    EditableView v(String(f.c_str()));
    v.activate(1, 1, 5, 40, true);
    v.goCursor(0, 2, false);
    TextCursor mark(v.getCursor());
    v.goCursor(2, 2, false);
    ASSERT_TRUE(v.delRegion(mark, c.remove));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(line(v, i), c.lines[i]) << c.remove << " line " << i;
    EXPECT_EQ(v.getRow(), 0);
    EXPECT_EQ(v.getCol(), 2);
  }
}

TEST_F(ViewTest, RegionRuleAndBlockDisplay) {
  struct {
    long mark, cursor;
    char const* got;
  } cases[] = {{3, 7, "defg"}, {7, 3, "defgh"}};
  for (auto const& c : cases) {
    std::string f = tmp.write("f", "x\nabcdefghij\n");
    EditableView v(String(f.c_str()));
    v.activate(1, 1, 5, 40, true);
    v.goCursor(1, c.mark, false);
    v.beginBlock();
    v.goCursor(1, c.cursor, false);
    v.showBlock();
    long from = std::min(c.mark, c.cursor), to = std::max(c.mark, c.cursor);
    long last = c.mark > c.cursor ? to : to - 1;
    for (long col = 0; col < 10; ++col)
      EXPECT_EQ(WiTestAttr(2, int(col + 1)) & 0x2000, col >= from && col <= last ? 0x2000 : 0) << col;
    EXPECT_FALSE(v.isTextMod()) << "the display mark is no change";
    StringList out;
    ASSERT_TRUE(v.getRegion(out, v.getBlock()));
    EXPECT_EQ(str(out.first()), c.got);
    v.delBlock(true);
    EXPECT_EQ(WiTestAttr(2, int(from + 1)) & 0x2000, 0);
  }
}

TEST_F(ViewTest, ExitAnswers) {
  std::string f = tmp.write("f", "a\n");
  auto* v = new EditableView(String(f.c_str()));
  v->activate(1, 1, 5, 40, true);
  EXPECT_TRUE(v->exit(false));
  v->insChar('x');
  EXPECT_FALSE(v->exit(false)) << "modified, only view";
  auto* w = new EditableView(String(f.c_str()));
  w->activate(10, 1, 5, 40, false);
  EXPECT_FALSE(v->exit(false)) << "first view, not forced";
  EXPECT_TRUE(v->exit(true));
  EXPECT_TRUE(w->exit(false)) << "not the first view of the text";
  delete w;
  delete v;
  EditableView s(String("echo x"), false);
  s.activate(1, 1, 5, 40, true);
  s.insChar('y');
  EXPECT_TRUE(s.exit(false)) << "a stream text";
}

TEST_F(ViewTest, DelWordCases) {
  struct {
    char const* text;
    long line, col;
    char const* lines[3];
  } cases[] = {
      {"foo bar\n", 0, 0, {"bar", "<none>", "<none>"}},             // the next word on the line
      {"foo\nbar\n", 0, 1, {"f", "bar", "<none>"}},                // on a later line: to the line end
      {"foo\n  bar\n", 0, 5, {"foo  bar", "<none>", "<none>"}},    // past the end: padded and joined
      {"foo\n\n\nbar\n", 0, 3, {"foo", "", "bar"}},               // further down: the next line goes
  };
  for (auto const& c : cases) {
    std::string f = tmp.write("f", c.text);
    EditableView v(String(f.c_str()));
    v.activate(1, 1, 5, 40, true);
    v.goCursor(c.line, c.col, false);
    v.delWord();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(line(v, i), c.lines[i]) << c.text << " line " << i;
    EXPECT_EQ(v.getCol(), c.col);
  }
}

TEST_F(ViewTest, InsertFileTokenAndRename) {
  std::string f = tmp.write("f", "alpha beta\nlast\n");
  std::string g = tmp.write("g", "one\n\x1b[1mtwo\x1b[0m\n");
  EditableView v(String(f.c_str()));
  v.activate(1, 1, 5, 40, true);
  v.goCursor(1, 2, false);
  EXPECT_EQ(v.insertFile(String(g.c_str())), 2);
  EXPECT_EQ(line(v, 1), "one");
  EXPECT_EQ(line(v, 2), "two");
  EXPECT_EQ(line(v, 3), "last");
  EXPECT_EQ(v.getRow(), 1) << "the cursor keeps its line number";
  EXPECT_EQ(viewstest::zones(v.getText()), "2,0-2,2:800;");
  v.goCursor(0, 7, false);
  EXPECT_EQ(str(v.getToken()), "beta");
  v.goCursor(0, 5, false);
  EXPECT_TRUE(v.getToken().isNull()) << "a blank";
  // Renaming: refused onto a file another view shows, accepted elsewhere.
  View other(String(g.c_str()));
  EXPECT_FALSE(v.chgFileName(String(g.c_str())));
  std::string h = tmp.file("h");
  EXPECT_TRUE(v.chgFileName(String(h.c_str())));
  EXPECT_NE(screenLine(0).find(" " + h + " "), std::string::npos) << screenLine(0);
  ASSERT_TRUE(v.store());
  // The text's store carries the bold across the line end and resets it there.
  EXPECT_EQ(zftest::readFile(h), "alpha beta\none\n\x1b[1mtwo\n\x1b[0mlast\n");
  EXPECT_EQ(zftest::readFile(f), "alpha beta\nlast\n");
}

// Keywords of ".c" files: "int" underlined, "return" with the stand-in for bold.
class KeywordView : public View {
public:
  using View::View;
  long keyWordAttrib(String const& word, String const& ext) override {
    if (str(ext) != "c") return -1;
    if (str(word) == "int") return 0x100;
    if (str(word) == "return") return static_cast<int32_t>(0x80000000);
    return -1;
  }
};

TEST_F(ViewTest, DecorationsAndZonesCombine) {
  std::string f = tmp.write("k.c", "int x; return\x1b[7m int\x1b[0m\n");
  KeywordView v{String(f.c_str())};
  v.activate(1, 1, 3, 40, false);
  EXPECT_PRED2(startsWith, screenLine(1), "│int x; return int");
  struct {
    int col;
    int32_t attr;
  } cells[] = {{0, 0x100}, {2, 0x100}, {3, 0}, {7, 0x800}, {12, 0x800}, {13, 0x200}, {14, 0x300}, {16, 0x300}, {17, 0}};
  for (auto const& c : cells) EXPECT_EQ(WiTestAttr(1, c.col + 1), c.attr) << c.col;
  // Control mode shows no decorations.
  v.chgCtrolMode();
  EXPECT_EQ(WiTestAttr(1, 1), 0);
  EXPECT_EQ(WiTestAttr(1, 15), 0x200);
}

TEST_F(ViewTest, LoadSharesOrLeavesTheText) {
  std::string f = tmp.write("f", "eff\n");
  std::string g = tmp.write("g", "gee\nline 2\n");
  auto* a = new EditableView(String(f.c_str()));
  auto* b = new EditableView(String(f.c_str()));
  EXPECT_FALSE(a->load(String(g.c_str()))) << "undisplayed";
  a->activate(1, 1, 4, 40, false);
  b->activate(8, 1, 4, 40, true);
  Text* shared = &a->getText();
  // a leaves the shared text for a new editable one; b is relabelled.
  ASSERT_TRUE(a->load(String(g.c_str())));
  EXPECT_NE(&a->getText(), shared);
  EXPECT_NE(a->edText(), nullptr);
  EXPECT_EQ(line(*a, 1), "line 2");
  EXPECT_EQ(str(a->getLabel(true)), g);
  EXPECT_EQ(str(b->getLabel(true)), f);
  EXPECT_EQ(b->viewNumber(), 0);
  // Loading a file another view shows shares its text.
  ASSERT_TRUE(b->load(String(g.c_str())));
  EXPECT_EQ(&b->getText(), &a->getText());
  EXPECT_EQ(str(b->getLabel(true)), g + " [1]");
  delete a;
  delete b;
}

TEST_F(ViewTest, SetSizeKeepsTheCursorVisible) {
  std::string text;
  for (int i = 0; i < 20; ++i) text += "row " + std::to_string(i) + "\n";
  std::string f = tmp.write("f", text);
  View v(String(f.c_str()));
  v.activate(1, 1, 10, 40, true);
  v.cursDown(9);
  v.setSize(1, 1, 4, 40);
  EXPECT_FALSE(v.inOrgSize());
  EXPECT_EQ(v.getHeight(), 4);
  EXPECT_EQ(v.topOrigin(), 6);
  EXPECT_PRED2(startsWith, screenLine(4), "║row 9");
  v.setOrgSize();
  EXPECT_TRUE(v.inOrgSize());
  EXPECT_EQ(v.getHeight(), 10);
}

// ---- help views --------------------------------------------------------------------

class Labels : public HelpLabelSource {
public:
  String getHlpLabel(String const& key) override {
    if (str(key) == "HelpIndex") return String("Index");
    return String(reinterpret_cast<char const*>(1));  // the highest String: no label
  }
};

TEST_F(ViewTest, HelpViewReferences) {
  Labels labels;
  HelpView h(String("help"), String("See @HelpIndex@ now\n@a@ and @b@\nmail me@host\nend"), String("Help"),
             &labels);
  h.activate(1, 1, 6, 60, true);
  EXPECT_EQ(screenLine(1), "║See [Index]  now" + std::string(44, ' ') + "║");
  for (int col = 4; col <= 11; ++col) EXPECT_EQ(WiTestAttr(1, col + 1) & 0x800, 0x800) << col;
  EXPECT_EQ(WiTestAttr(1, 3 + 1) & 0x800, 0);
  EXPECT_EQ(WiTestAttr(1, 12 + 1) & 0x800, 0);
  ASSERT_EQ(h.xrefCount(), 3);
  EXPECT_EQ(h.xref(0).startCol, 4);
  EXPECT_EQ(h.xref(0).endCol, 10);
  // Two on a line: columns on the displayed line "[a]  and [b] ".
  EXPECT_PRED2(startsWith, screenLine(2), "║[a]  and [b]");
  EXPECT_EQ(h.xref(1).startCol, 0);
  EXPECT_EQ(h.xref(1).endCol, 2);
  EXPECT_EQ(h.xref(2).startCol, 9);
  EXPECT_EQ(h.xref(2).endCol, 11);
  EXPECT_PRED2(startsWith, screenLine(3), "║mail me@host");  // a lone at sign
  // Wrapping both ways.
  h.goToNext();
  EXPECT_EQ(h.currentXRef(), 0);
  h.goToPrev();
  EXPECT_EQ(h.currentXRef(), 2);
  EXPECT_EQ(h.getRow(), 1);
  EXPECT_EQ(h.getCol(), 9);
  h.goToNext();
  EXPECT_EQ(h.currentXRef(), 0);
  EXPECT_EQ(str(h.getXRefKey()), "HelpIndex");
  h.goCursor(0, 14, false);
  EXPECT_EQ(str(h.getXRefKey()), "");
  EXPECT_EQ(h.currentXRef(), 1) << "the next one after the cursor";
  EXPECT_EQ(h.getRow(), 1);
  EXPECT_TRUE(h.exit(false));
  EXPECT_FALSE(h.store());
  EXPECT_FALSE(h.edText()->store()) << "not even through its text";
}

TEST_F(ViewTest, HelpTextIsNeverAFile) {
  // A file named like the command in the working directory changes nothing,
  // and a file view of that name stays apart from the help.
  std::string cwd = tmp.path();
  std::string old(1024, '\0');
  ASSERT_NE(::getcwd(old.data(), old.size()), nullptr);
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  tmp.write("Edit", "file line\n");
  // A "checkout" that leaves a mark when it runs.
  tmp.write("bin/checkout", "#!/bin/sh\ntouch \"$0.ran\"\nexit 1\n");
  ASSERT_EQ(::chmod(tmp.file("bin/checkout").c_str(), 0755), 0);
  zftest::ScopedEnv path("PATH", tmp.file("bin") + ":/usr/bin:/bin");
  {
    HelpView alone(String("Nofile"), String("x"), String(), nullptr);
    EXPECT_NE(::access(tmp.file("bin/checkout.ran").c_str(), F_OK), 0) << "no command runs for a help view";
  }
  {
    EditableView file(String("Edit"));
    file.activate(12, 1, 5, 40, false);
    HelpView h(String("Edit"), String("help line"), String("Edit help"), nullptr);
    h.activate(1, 1, 5, 40, true);
    EXPECT_NE(&h.getText(), &file.getText());
    EXPECT_EQ(h.sizeOfText(), 1);
    EXPECT_EQ(line(h, 0), "help line");
    EXPECT_EQ(View::existText(String("Edit")), &file);
    h.reload();
    EXPECT_EQ(line(h, 0), "help line") << "reloading reads no file";
    h.deActivate();
    EXPECT_EQ(h.sizeOfText(), 1) << "kept while hidden";
    EXPECT_EQ(file.sizeOfText(), 1);
  }
  {
    // Alone (no file view of the name): loading the command's name reads no file either.
    HelpView h(String("Edit"), String("help line"), String(), nullptr);
    h.activate(1, 1, 5, 40, true);
    h.load(String("Edit"));
    EXPECT_EQ(h.sizeOfText(), 1);
    EXPECT_EQ(line(h, 0), "help line");
    EXPECT_EQ(View::existText(String("Edit")), nullptr) << "still no file view";
  }
  EXPECT_EQ(zftest::readFile(cwd + "/Edit"), "file line\n");
  ASSERT_EQ(::chdir(old.c_str()), 0);
}

}  // namespace
