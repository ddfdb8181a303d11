// The terminal window layer in headless mode: placement, frames, stacking,
// output with wrap and scrolling, glyphs, attributes, the field editor and
// the call log, read back from the composed screen.
#include <zeph/Wi.h>
#include <zeph/WiTest.h>

#include <zfound/EditMask.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "HeadlessScreen.h"

namespace {

using zftest::countCalls;
using zftest::giveKeys;
using zftest::screenLine;
using zftest::screenRow;

class Layer : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::headlessOnce();
    WiSwitchTo(0);
    WiErase();
    WiSetAttr(0);
    WiSetBackGr(0);
    WiWrap(1);
    WiSetScroll(0, WiTestRows() - 1, 0, WiTestCols() - 1);
    WiTestClearCalls();
  }
  void TearDown() override {
    for (int h : made_) WiDelete(h);
    WiTestKeys("");
  }
  int make(int parent, int row, int col, int rows, int cols, int border = 0, char const* label = "",
           int32_t attr = 0) {
    int h = WiCreate(parent, row, col, rows, cols, border, label, attr);
    made_.push_back(h);
    return h;
  }
  struct Box {
    int row, col, rows, cols;
  };
  static Box box(int h) { return {WiOrgRow(h), WiOrgCol(h), WiHeight(h), WiWidth(h)}; }

  std::vector<int> made_;
};

// Screen text of row r from column c, n characters.
std::string cells(int r, int c, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    int ch = WiTestChar(r, c + i);
    std::string row;
    if (ch < 0x80) {
      out += char(ch);
    } else {
      char buf[5] = {};
      if (ch < 0x800) {
        buf[0] = char(0xC0 | (ch >> 6));
        buf[1] = char(0x80 | (ch & 0x3F));
      } else {
        buf[0] = char(0xE0 | (ch >> 12));
        buf[1] = char(0x80 | ((ch >> 6) & 0x3F));
        buf[2] = char(0x80 | (ch & 0x3F));
      }
      out += buf;
    }
  }
  return out;
}

TEST_F(Layer, PlacementFollowsTheRules) {
  struct Case {
    char const* what;
    int row, col, rows, cols, border;
    Box want;
  } const cases[] = {
      {"plain interior origin", 2, 3, 4, 10, 0, {2, 3, 4, 10}},
      {"frame one cell outside", 1, 1, 16, 20, 242, {1, 1, 16, 20}},
      {"row and column -1 centre", -1, -1, 4, 10, 0, {10, 35, 4, 10}},
      {"centred with a frame", -1, -1, 4, 10, 242, {10, 35, 4, 10}},
      {"width 0 reaches the far edge", 1, 1, 16, 0, 242, {1, 1, 16, 78}},
      {"width -1 reaches the far edge", 1, 1, 16, -1, 242, {1, 1, 16, 78}},
      {"height 0 without frame", 3, 0, 0, 5, 0, {3, 0, 21, 5}},
      {"sticking out is shifted back", 20, 75, 5, 10, 242, {18, 69, 5, 10}},
      {"the bottom line row H is the last row", 24, 1, 1, 30, 0, {23, 1, 1, 30}},
      {"too large is shrunk to the parent", 0, 0, 40, 100, 242, {1, 1, 22, 78}},
      {"negative positions come inside", -5, -7, 3, 3, 243, {1, 1, 3, 3}},
  };
  for (Case const& c : cases) {
    int h = make(0, c.row, c.col, c.rows, c.cols, c.border);
    Box b = box(h);
    EXPECT_EQ(b.row, c.want.row) << c.what;
    EXPECT_EQ(b.col, c.want.col) << c.what;
    EXPECT_EQ(b.rows, c.want.rows) << c.what;
    EXPECT_EQ(b.cols, c.want.cols) << c.what;
  }
}

TEST_F(Layer, ChildIsPlacedInItsParentsInterior) {
  int p = make(0, 2, 4, 10, 30, 242);
  int c = make(p, 1, 2, 3, 5, 242);
  EXPECT_EQ(WiOrgRow(c), 3);
  EXPECT_EQ(WiOrgCol(c), 6);
  // A child too wide for its parent is shrunk to the parent's interior.
  int w = make(p, 0, 0, 2, 99, 242);
  EXPECT_EQ(WiWidth(w), 28);
  EXPECT_EQ(WiOrgCol(w), 5);
}

TEST_F(Layer, FramesAndLabels) {
  make(0, 1, 1, 2, 10, 242, "Title");
  EXPECT_EQ(cells(0, 0, 12), "┌─ Title ──┐");
  EXPECT_EQ(cells(1, 0, 1), "│");
  EXPECT_EQ(cells(3, 0, 12), "└──────────┘");
  make(0, 6, 1, 1, 6, 243, "Much too long");
  EXPECT_EQ(cells(5, 0, 8), "╔ Much ╗");
  EXPECT_EQ(cells(7, 0, 8), "╚══════╝");
  make(0, 10, 1, 1, 4, 7, "");
  EXPECT_EQ(cells(9, 0, 6), "┌────┐") << "other codes draw a single line";
  make(0, 13, 1, 1, 4, 0, "None");
  EXPECT_EQ(cells(12, 0, 6), "      ") << "border 0 draws no frame";
}

TEST_F(Layer, OutputOnTheFrameAndSetBorder) {
  int h = make(0, 1, 1, 3, 6, 242, "x");
  WiWrap(0);
  WiMoveTo(-1, -1);
  WiPutc(0xAC);
  WiMoveTo(3, 6);
  WiPutc(0xAD);
  WiMoveTo(1, 6);
  WiPrintf("%s", "ab");  // the frame column takes 'a', the rest is clipped
  EXPECT_EQ(cells(0, 0, 1), "▲");
  EXPECT_EQ(cells(4, 7, 1), "▼");
  EXPECT_EQ(cells(2, 7, 2), "a ");
  WiSetBorder(243, "New");
  EXPECT_EQ(cells(0, 0, 8), "╔ New ═╗");
  EXPECT_EQ(WiCurrent(), h);
}

TEST_F(Layer, StackingAndCurrentWindow) {
  int a = make(0, 2, 2, 3, 10, 0);
  WiPrintf("%s", "AAAA");
  int b = make(0, 2, 4, 3, 10, 0);
  WiPrintf("%s", "BB");
  int child = make(a, 1, 0, 1, 3, 0);
  WiPrintf("%s", "cc");
  EXPECT_EQ(screenLine(2), "  AABB");
  EXPECT_EQ(screenLine(3), "  cc");
  // A switch raises the window with its children and answers the previous.
  EXPECT_EQ(WiSwitchTo(b), child);
  EXPECT_EQ(screenLine(3), "  cc") << "b's blank row covers no cell of a's child yet";
  EXPECT_EQ(WiSwitchTo(a), b);
  EXPECT_EQ(screenLine(2), "  AAAA");
  EXPECT_EQ(screenLine(3), "  cc");
  EXPECT_EQ(WiSwitchTo(987), -1);
  EXPECT_EQ(WiSwitchTo(a), a) << "an unknown handle changes nothing";
  // Deleting a window removes its children; the top remaining is current.
  WiDelete(a);
  EXPECT_EQ(WiHeight(child), -1);
  EXPECT_EQ(screenLine(2), "    BB");
  EXPECT_EQ(WiCurrent(), b);
  // A deleted current handle is still the previous one for the next switch.
  WiDelete(b);
  EXPECT_EQ(WiSwitchTo(0), b);
  WiDelete(0);
  WiDelete(4711);
  EXPECT_EQ(WiHeight(0), WiTestRows()) << "handle 0 is never removed";
  EXPECT_EQ(WiCurrent(), 0);
}

TEST_F(Layer, WrapScrollsTheRegionAndOffClips) {
  make(0, 0, 0, 3, 4, 0);
  WiPrintf("%s", "abcdefghijklmn");
  EXPECT_EQ(screenLine(0), "efgh");
  EXPECT_EQ(screenLine(1), "ijkl");
  EXPECT_EQ(screenLine(2), "mn");
  WiErase();
  WiWrap(0);
  WiPrintf("%s", "abcdefgh");
  EXPECT_EQ(screenLine(0), "abcd");
  EXPECT_EQ(screenLine(1), "");
  // Output that runs past the last interior column stops there: the frame
  // column keeps its line (only a cursor placed on the frame writes there).
  make(0, 6, 1, 1, 4, 242);
  WiWrap(0);
  WiPrintf("%s", "abcdefgh");
  EXPECT_EQ(cells(6, 0, 6), "│abcd│");
  WiMoveTo(-1, 2);
  WiPrintf("%s", "xyz");
  EXPECT_EQ(cells(5, 0, 6), "┌──xy┐") << "a frame row is clipped at the same column";
  WiSwitchTo(made_[0]);
  // "\n" goes to the next row's start; at the region's bottom it scrolls.
  WiErase();
  WiWrap(1);
  WiPrintf("%s", "1\n2\n3\n4");
  EXPECT_EQ(screenLine(0), "2");
  EXPECT_EQ(screenLine(2), "4");
}

// The application frame's background: a window one column too wide is
// shifted back inside, and its last row, written with wrap off, does not
// scroll the rows above.
TEST_F(Layer, BackgroundFillKeepsItsLastRow) {
  int rows = WiTestRows(), cols = WiTestCols();
  int h = make(0, 1, 1, rows - 2, cols, 0);
  EXPECT_EQ(WiOrgCol(h), 0);
  std::string line(size_t(cols), '\xFF');
  for (int i = 0; i < rows - 3; ++i) WiPrintf("%s", line.c_str());
  WiWrap(0);
  WiPrintf("%s", line.c_str());
  WiWrap(1);
  std::string shade;
  for (int i = 0; i < cols; ++i) shade += "░";
  EXPECT_EQ(screenLine(0), "");
  for (int r = 1; r <= rows - 2; ++r) EXPECT_EQ(screenRow(r), shade) << r;
  EXPECT_EQ(screenLine(rows - 1), "");
}

TEST_F(Layer, ScrollRegionInsertAndDelete) {
  make(0, 0, 0, 4, 6, 0);
  for (char const* row : {"aaaaaa", "bbbbbb", "cccccc", "dddddd"}) WiPrintf("%s", row);
  // The wrap after the last cell scrolled once: b c d and a blank row.
  EXPECT_EQ(screenLine(0), "bbbbbb");
  WiSetScroll(1, 2, 1, 3);
  WiScroll(1);
  EXPECT_EQ(screenLine(1), "cdddcc");
  EXPECT_EQ(screenLine(2), "d   dd");
  WiScroll(-1);
  EXPECT_EQ(screenLine(1), "c   cc");
  EXPECT_EQ(screenLine(2), "dddddd");
  WiSetScroll(0, 3, 0, 5);
  WiErase();
  for (char const* row : {"111111", "222222", "333333"}) WiPrintf("%s", row);
  WiInsLines(1, 1);
  EXPECT_EQ(screenLine(1), "");
  EXPECT_EQ(screenLine(2), "222222");
  EXPECT_EQ(screenLine(3), "333333");
  WiDelLines(0, 2);
  EXPECT_EQ(screenLine(0), "222222");
  EXPECT_EQ(screenLine(1), "333333");
  WiMoveTo(0, 2);
  WiInsChar(2, 0);
  EXPECT_EQ(screenLine(0), "22  22");
  WiDelChar(3, 0);
  EXPECT_EQ(screenLine(0), "222");
}

TEST_F(Layer, GlyphsOfTheCharacterCodes) {
  struct Case {
    int code;
    char const* shown;
  } const cases[] = {
      {0xA0, " "}, {0xA1, "─"}, {0xA5, "┤"}, {0xA7, "├"}, {0xAB, "«"}, {0xAC, "▲"}, {0xAD, "▼"},
      {0xAE, "◄"}, {0xAF, "►"}, {0xB1, "▒"}, {0xFF, "░"}, {0xE9, "é"}, {0xA2, "¢"}, {0xFE, "þ"},
      {'A', "A"},  {1, "?"},    {27, "?"},   {0x7F, "?"}, {0x80, "?"}, {0x9F, "?"},
  };
  for (Case const& c : cases) {
    WiMoveTo(0, 0);
    WiPutc(c.code);
    EXPECT_EQ(cells(0, 0, 1), c.shown) << "code " << c.code;
  }
  int before = WiTestBells();
  WiPutc(7);
  WiPrintf("%s", "\a");
  EXPECT_EQ(WiTestBells(), before + 2);
}

TEST_F(Layer, AttributesReachTheCells) {
  make(0, 0, 0, 1, 10, 0, "", 0x00120000);
  WiPrintf("%s", "a");
  WiSetAttr(0x200 | 0x800);
  WiPrintf("%s", "b");
  EXPECT_EQ(WiTestAttr(0, 0), 0x00120000);
  EXPECT_EQ(WiTestAttr(0, 1), 0x200 | 0x800);
  WiSetBackGr(0x100);
  WiEraEol();
  EXPECT_EQ(WiTestAttr(0, 5), 0x100);
}

TEST_F(Layer, PrintfConversions) {
  make(0, 0, 0, 1, 40, 0);
  long v = -42;
  WiPrintf("%s|%c|%ld", "txt", 'Z', v);
  EXPECT_EQ(screenLine(0), "txt|Z|-42");
  EXPECT_EQ(zftest::wiCalls().back(), "WiPrintf(txt|Z|-42)");
}

TEST_F(Layer, KeyNames) {
  struct Case {
    int key;
    char const* name;
  } const cases[] = {
      {129, "Esc"},  {130, "F4"},    {131, "F5"},    {132, "Enter"},  {133, "Up"},     {134, "Left"},
      {135, "Down"}, {136, "Right"}, {137, "PgUp"},  {138, "Home"},   {139, "PgDn"},   {140, "End"},
      {141, "Backspace"}, {143, "Ins"}, {144, "Del"}, {146, "Tab"},   {147, "F2"},     {148, "F1"},
      {150, "F3"},   {128, "F6"},    {154, "^K"},    {155, "Alt"},    {'a', "a"},      {3, "^C"},
      {0, "^@"},     {127, "^?"},    {142, "142"},   {159, "159"},    {0xE9, "\xE9"},  {0x1FF, "\xFF"},
  };
  for (Case const& c : cases) {
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_STREQ(WiKeyHelp(c.key, buf), c.name) << c.key;
    EXPECT_LE(std::strlen(buf), 15u);
  }
}

TEST_F(Layer, KeyScriptTokens) {
  giveKeys(
      "esc close zoom enter up left down right pgup home pgdn end bs ins del tab save help open k154 k155\n"
      "# a comment 77\n"
      "0 255 \"a b\"  # trailing comment\n"
      "dump 65");
  std::vector<int> want = {129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 143,
                           144, 146, 147, 148, 150, 154, 155, 0,   255, 'a', ' ', 'b', 65};
  EXPECT_EQ(WiTestKeysLeft(), int(want.size()));
  for (int k : want) {
    ASSERT_TRUE(WiKeyReady());
    EXPECT_EQ(WiGetc(), k);
  }
  EXPECT_FALSE(WiKeyReady());
  struct Bad {
    char const* script;
    int line;
  } const bad[] = {{"enter\n256", 2}, {"x", 1}, {"up\n\n\"open", 3}, {"-1", 1}, {"Enter", 1}, {"dumpx", 1}};
  for (Bad const& b : bad) EXPECT_EQ(WiTestKeys(b.script), b.line) << b.script;
}

TEST_F(Layer, FieldEditing) {
  make(0, 0, 0, 2, 40, 0);
  WiMoveTo(0, 2);
  char buf[512] = "hello";
  giveKeys("end \"!\" home del \"J\" left bs right right bs enter");
  EXPECT_EQ(WiGetField(1, buf, 0, 20, 10, 0, "", ""), 132);
  EXPECT_STREQ(buf, "Jllo!");
  EXPECT_EQ(screenLine(0), "  Jllo!");
  // The field scrolls within its display width; the length is kept.
  std::strcpy(buf, "");
  giveKeys("\"abcdefgh\" tab");
  EXPECT_EQ(WiGetField(1, buf, 0, 6, 4, 0, "", ""), 146);
  EXPECT_STREQ(buf, "abcdef");
  EXPECT_EQ(screenRow(0).substr(0, 6), "  def ") << "the cursor after the last character stays in view";
  // Every end key ends; others do not.
  for (int k : {129, 133, 135, 148, 155}) {
    WiMoveTo(1, 0);
    std::string script = "pgup " + std::to_string(k);
    giveKeys(script.c_str());
    EXPECT_EQ(WiGetField(1, buf, 0, 6, 6, 0, "", ""), k);
  }
  // A maximum above what the buffer holds is kept to 511.
  std::memset(buf, 'q', 511);
  buf[511] = '\0';
  giveKeys("end \"z\" enter");
  int bells = WiTestBells();
  EXPECT_EQ(WiGetField(1, buf, 0, 4000, 10, 0, "", ""), 132);
  EXPECT_EQ(std::strlen(buf), 511u);
  EXPECT_EQ(WiTestBells(), bells + 1);
}

TEST_F(Layer, FieldWithAMaskKeepsLiteralsAndChecksEachPosition) {
  char checks[kMaskCheckSize], edit[kMaskEditSize];
  ASSERT_EQ(compileMask("3n-2a", checks, edit), 0);
  make(0, 0, 0, 1, 20, 0);
  char buf[512] = "";
  int bells = WiTestBells();
  giveKeys("\"1x23ab9\" enter");
  EXPECT_EQ(WiGetField(1, buf, 0, 50, 10, 0, checks, edit), 132);
  EXPECT_STREQ(buf, "123ab");
  EXPECT_EQ(screenLine(0), "123-ab");
  EXPECT_EQ(WiTestBells(), bells + 2) << "'x' in a digit place and a sixth character";
}

TEST_F(Layer, MoveAndResizeWithTheArrows) {
  int h = make(0, 5, 5, 3, 3, 242);
  giveKeys("down right right enter");
  EXPECT_NE(WiMove(h), 0);
  EXPECT_EQ(WiOrgRow(h), 6);
  EXPECT_EQ(WiOrgCol(h), 7);
  giveKeys("up up esc");
  EXPECT_EQ(WiMove(h), 0);
  EXPECT_EQ(WiOrgRow(h), 6) << "Esc restores";
  giveKeys("down right enter");
  EXPECT_NE(WiResize(h), 0);
  EXPECT_EQ(WiHeight(h), 4);
  EXPECT_EQ(WiWidth(h), 4);
  giveKeys("left esc");
  EXPECT_EQ(WiResize(h), 0);
  EXPECT_EQ(WiWidth(h), 4);
}

TEST_F(Layer, ServicesAndTheCallList) {
  EXPECT_EQ(WiService("NoSuchService"), 0);
  EXPECT_EQ(WiExecCmd("exit 4", ""), 4);
  WiSetRaw(1);
  WiSetServices(1);
  std::vector<std::string> want = {"WiService(NoSuchService)", "WiExecCmd(exit 4,)", "WiSetRaw(1)",
                                   "WiSetServices(1)"};
  EXPECT_EQ(zftest::wiCalls(), want);
  EXPECT_EQ(countCalls("WiSetRaw"), 1);
  {
    zftest::ScopedEnv shell("SHELL", "/bin/sh");
    EXPECT_EQ(WiService("GoToShell"), 1) << "the shell ran (it ends at once on no input)";
  }
  {
    zftest::ScopedEnv shell("SHELL", "/nonexistent/shell");
    EXPECT_EQ(WiService("GoToShell"), 0);
  }
}

}  // namespace
