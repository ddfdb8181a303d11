// Menus in a headless session: hot-key markers, the 21st item, wrapping
// over separators, the drawn rows, and the menu bar's drop-downs (left and
// right, a title letter on a plain command, choosing with the help key).
#include <winkit/Menu.h>

#include <gtest/gtest.h>

#include <string>

#include "WidgetSupport.h"

namespace {

using zftest::giveKeys;
using zftest::screenLine;
using MenuTest = zftest::WidgetTest;

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s)); }

TEST_F(MenuTest, ItemsTakeTheirHotKeyAndKind) {
  struct {
    char const* text;
    char marker;
    char const* shown;
    long pos;
  } cases[] = {{"Sa~ve", '~', "Save", 2},
               {"Open", '~', "Open", 0},
               {"End~", '~', "End", 0},
               {"Quit", 0, "Quit", 0},
               {"a&b", '&', "ab", 1}};
  for (auto const& c : cases) {
    MenuItem it(c.text, 7L, c.marker, 0L);
    EXPECT_EQ(str(it.getText()), c.shown) << c.text;
    EXPECT_EQ(it.getNHKey(), c.pos) << c.text;
    EXPECT_TRUE(it.isCod());
    EXPECT_EQ(it.execute(), 7);
  }
  MenuItem line(String(), '~', 0L);
  EXPECT_TRUE(line.isLine());
  EXPECT_EQ(line.execute(), -1);
  EXPECT_EQ(MenuItem("x", '~', 0L).retCod(), -1);
  MenuItem f("Fn", static_cast<long (*)()>(nullptr), '~', 0L);
  EXPECT_TRUE(f.isFunc());
  EXPECT_EQ(f.execute(), -1) << "a null function gives -1";
}

TEST_F(MenuTest, TwentyFirstItemIsIgnoredAndMovesWrapOverSeparators) {
  PoppableMenu m("Big", 1, 1, true);
  for (int i = 0; i < 21; ++i) m << MenuItem(String(("i" + std::to_string(i)).c_str()), long(i), '~', 0L);
  EXPECT_EQ(m.nItems(), 20);

  PoppableMenu s(1, 1, true);
  s << MenuItem("Alpha", 1L, '~', 0L) << MenuItem(String(), '~', 0L) << MenuItem("Beta", 2L, '~', 0L);
  struct {
    char const* keys;
    long opt;
    long result;
  } cases[] = {
      {"down enter", 2, 0}, {"down down enter", 1, 0},     {"up enter", 2, 0}, {"pgdn 32", 1, 0}, {"\"b\"", 2, 0},
      {"esc", -1, -1},      {"tab \"x\" left esc", -1, -1}};
  for (auto const& c : cases) {
    giveKeys(c.keys);
    EXPECT_EQ(s.execute(0), c.result) << c.keys;
    EXPECT_EQ(s.currOpt(), c.opt) << c.keys;
    EXPECT_TRUE(s.window()->hidden());
  }
  EXPECT_EQ(bells(), 3) << "Tab, a letter without item and Left beep in a plain pop-up";
}

TEST_F(MenuTest, RowsAreDrawnWithSeparatorsMarksAndSecondaryTexts) {
  PoppableMenu sub(10, 30, true);
  sub << MenuItem("Deep", 5L, '~', 0L);
  PoppableMenu m("M", 2, 4, true);
  m << MenuItem("~Open", 1L, '~', 0L) << MenuItem(String(), '~', 0L) << MenuItem("More", sub, '~', 0L);
  m.setSecText("F3", 1);
  m.display(-1, -1);
  EXPECT_EQ(m.window()->width(), 10) << "Open + F3, 2 blanks, 2 for a sub-menu";
  EXPECT_EQ(screenLine(1), "   ┌─── M ────┐");
  EXPECT_EQ(screenLine(2), "   │ Open  F3 │");
  EXPECT_EQ(screenLine(3), "   ├──────────┤");
  EXPECT_EQ(screenLine(4), "   │ More   ► │");
  EXPECT_TRUE(WiTestAttr(2, 5) & 2048) << "the hot-key letter";
  EXPECT_FALSE(WiTestAttr(2, 6) & 2048);
  giveKeys("down enter enter");
  EXPECT_EQ(m.execute(0), 0);
  EXPECT_EQ(m.currOpt(), 5) << "the sub-menu's choice";
  m.unDisplay();
}

struct Bar {
  Bar() : file(-1, -1, true), edit(-1, -1, true), view(-1, -1, true), bar(0, 0, 1, 80) {
    file << MenuItem("New", 11L, '~', 0L) << MenuItem("Close", 12L, '~', 0L);
    edit << MenuItem("Cut", 21L, '~', 0L);
    view << MenuItem("Zoom", 31L, '~', 0L);
    bar << MenuItem("File", file, '~', 0L) << MenuItem("Edit", edit, '~', 0L) << MenuItem("View", view, '~', 0L)
        << MenuItem("Quit", 99L, '~', 0L);
  }
  PoppableMenu file, edit, view;
  PullDownMenu bar;
};

TEST_F(MenuTest, MenuBarDropDowns) {
  Bar b;
  EXPECT_TRUE(b.file.getPullDown());
  struct {
    char const* keys;
    unsigned char first;
    long opt;
    unsigned char last;
  } cases[] = {
      {"enter down enter", 0, 12, 132},            // the first title's second item
      {"enter right enter", 0, 21, 132},           // right opens the next drop-down
      {"enter left enter", 0, 99, 132},            // left from the first: the last title, a plain command
      {"down left left enter enter", 0, 31, 132},  // past a plain title the bar waits
      {"\"v\" enter", 0, 31, 132},                 // a letter opens its title's drop-down
      {"enter", 'Q', 99, 132},                     // a title letter on a plain command waits for a key
      {"esc", 'Q', -1, 129},
      {"enter help", 0, 11, 148},  // choosing with help leaves 148
      {"help", 'q', 99, 148},
      {"enter esc", 0, -1, 129},  // Esc in a drop-down ends the bar
  };
  for (auto const& c : cases) {
    giveKeys(c.keys);
    long r = b.bar.execute(c.first);
    EXPECT_EQ(b.bar.currOpt(), c.opt) << c.keys;
    EXPECT_EQ(b.bar.lastKey(), c.last) << c.keys;
    EXPECT_EQ(r, c.last == 129 ? -1 : 0) << c.keys;
    EXPECT_EQ(WiTestKeysLeft(), 0) << c.keys;
  }
}

TEST_F(MenuTest, MenuBarTitlesAndDropDownPlace) {
  Bar b;
  b.bar.setRight(true);
  b.bar.display(-1, -1);
  EXPECT_EQ(screenLine(0), " File Edit View" + std::string(60, ' ') + " Quit") << "Quit pushed right";
  EXPECT_TRUE(WiTestAttr(0, 1) & 512) << "the bar in reverse";
  EXPECT_TRUE(WiTestAttr(0, 1) & 2048) << "its hot-key letter";
  giveKeys("right enter esc");
  EXPECT_EQ(b.bar.execute(0), -1);
  // The drop-down opened under its title and keeps that place.
  b.edit.display(-1, -1);
  EXPECT_EQ(WiTestChar(1, 5), 0x250C) << "the frame's corner under the title's blank";
  EXPECT_EQ(WiTestChar(2, 7), 'C');
  b.edit.unDisplay();
  b.bar.unDisplay();
}

}  // namespace
