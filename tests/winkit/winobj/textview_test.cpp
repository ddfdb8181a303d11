// TextView in a headless session: pages, line moves, sideways shifts, the
// scroll marks in the frame, the hint line, bells and results.
#include <winkit/TextView.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WidgetSupport.h"

namespace {

using zftest::giveKeys;
using zftest::screenLine;
using zftest::screenRow;

long lineCount = 0;

// "line 01" ... with a long tail on line 3, so that shifts show.
String const lines(long n) {
  if (n < 1 || n > lineCount) return String(reinterpret_cast<char const*>(1));
  if (n == 5) return String();
  char buf[400];
  int len = std::snprintf(buf, sizeof buf, "line %02ld", n);
  std::string s(buf, size_t(len));
  if (n == 3)
    for (int i = 0; i < 30; ++i) s += char('A' + i % 26) + std::string(9, '.');
  return String(long(s.size()), s.data());
}

using TextViewTest = zftest::WidgetTest;

TEST_F(TextViewTest, ShortTextFirstPageAndPageDownBeeps) {
  lineCount = 10;
  TextView v(lines, "short", 1, 1);
  giveKeys("pgdn esc");
  EXPECT_EQ(v.execute(0), -1);
  EXPECT_EQ(v.lastKey(), 129);
  EXPECT_EQ(bells(), 1);
  EXPECT_TRUE(v.window()->hidden()) << "a view hidden at the start is hidden again";
  // Shown before, it stays: ten lines, six empty rows, no marks.
  v.display(-1, -1);
  giveKeys("pgdn tab");
  EXPECT_EQ(v.execute(0), 0);
  EXPECT_EQ(bells(), 2);
  EXPECT_EQ(screenLine(1), "  line 01");
  EXPECT_EQ(screenLine(10), "│ line 10" + std::string(70, ' ') + "│");
  for (int r = 11; r <= 15; ++r) EXPECT_EQ(screenLine(r), "│" + std::string(78, ' ') + "│") << r;
  EXPECT_EQ(screenLine(16), "") << "no next line: blanks in the bottom frame columns";
  v.unDisplay();
}

std::string rep(char const* piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

TEST_F(TextViewTest, LayoutMarksAndHint) {
  lineCount = 40;
  TextView v(lines, "forty", 1, 1);
  v.display(-1, -1);
  EXPECT_EQ(v.window()->height(), 16);
  EXPECT_EQ(v.window()->width(), 78);
  giveKeys("tab");
  EXPECT_EQ(v.execute(0), 0);
  EXPECT_EQ(v.lastKey(), 146);
  EXPECT_FALSE(v.window()->hidden()) << "a view shown before stays shown";
  EXPECT_EQ(screenLine(0), "┌" + rep("─", 35) + " forty " + rep("─", 36) + "┐");
  EXPECT_EQ(screenLine(1), "  line 01") << "no line above: blanks in the top frame columns";
  EXPECT_EQ(screenLine(5), "│" + std::string(78, ' ') + "│") << "a null line is an empty row";
  EXPECT_EQ(screenLine(16), "▼ line 16" + std::string(70, ' ') + "▼");
  EXPECT_EQ(screenLine(17), "└" + rep("─", 68) + "Esc Exit ─┘");
  EXPECT_EQ(WiTestAttr(17, 69), 512) << "the key name in reverse";
  EXPECT_EQ(WiTestAttr(17, 73), 0);
  v.unDisplay();
}

TEST_F(TextViewTest, LineAndPageMoves) {
  lineCount = 40;
  TextView v(lines, "forty", 1, 1);
  v.display(-1, -1);
  // Up on the first page beeps; PgDn, Down show 18..33 with both marks.
  giveKeys("up pgdn down tab");
  v.execute(0);
  EXPECT_EQ(bells(), 1);
  EXPECT_EQ(screenLine(1), "▲ line 18" + std::string(70, ' ') + "▲");
  EXPECT_EQ(screenLine(16), "▼ line 33" + std::string(70, ' ') + "▼");
  // Enter also moves down; PgUp goes back a page, not before line 1.
  giveKeys("enter enter pgup tab");
  v.execute(0);
  EXPECT_EQ(screenLine(1), "  line 01") << "execute starts again at the first page";
  giveKeys("pgdn enter enter pgup tab");
  v.execute(0);
  EXPECT_EQ(screenLine(1).substr(0, 11), "▲ line 03") << "from line 35 back by 32";
  EXPECT_EQ(screenLine(16), "▼ line 18" + std::string(70, ' ') + "▼");
  // The end of the text: Down and PgDn there beep.
  std::string keys = "pgdn";
  for (int i = 0; i < 8; ++i) keys += " down";
  keys += " down pgdn tab";
  giveKeys(keys.c_str());
  int before = bells();
  v.execute(0);
  EXPECT_EQ(screenLine(16), "  line 40");
  EXPECT_EQ(screenLine(1), "▲ line 25" + std::string(70, ' ') + "▲");
  EXPECT_EQ(bells() - before, 2);
  v.unDisplay();
}

TEST_F(TextViewTest, SidewaysShiftsStopAtTheLimits) {
  lineCount = 40;
  TextView v(lines, "forty", 1, 1);
  v.display(-1, -1);
  giveKeys("right tab");
  v.execute(0);
  EXPECT_EQ(screenLine(1), "") << "line 1 is shorter than the offset";
  EXPECT_EQ(screenLine(3).substr(0, 12), "│ .......B");
  giveKeys("left tab");
  v.execute(0);
  EXPECT_EQ(bells(), 1) << "Left at offset 0 beeps";
  std::string keys;
  for (int i = 0; i < 27; ++i) keys += "end ";
  keys += "tab";
  giveKeys(keys.c_str());
  int b0 = bells();
  v.execute(0);
  EXPECT_EQ(bells() - b0, 1) << "26 steps reach offset 256; the next beeps";
  EXPECT_EQ(screenLine(3).substr(0, 6), "│ .Z") << "line 3 from offset 256";
  giveKeys("end end end home tab");
  v.execute(0);
  EXPECT_EQ(screenLine(3).substr(0, 12), "│ .......C") << "Home steps back by 10";
  v.unDisplay();
}

}  // namespace
