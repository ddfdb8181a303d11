// Input cells in a headless session: typed text, padding to the display
// width, Esc keeping the edit and cancelling even with an action, and help
// ending a cell without history.
#include <winkit/Cell.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <string>

#include "WidgetSupport.h"

namespace {

using zftest::FixedAction;
using zftest::giveKeys;
using zftest::screenLine;

using CellTest = zftest::WidgetTest;

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s)); }

TEST_F(CellTest, EditsPadsAndCancels) {
  StrCell c(20, 10, 0, 3, 5, nullptr);
  c.display(-1, -1);
  giveKeys("\"abc\" enter");
  EXPECT_EQ(c.execute(0), 0);
  EXPECT_EQ(str(c.value()), "abc");
  EXPECT_EQ(c.lastKey(), 132);
  EXPECT_EQ(screenLine(3), "     abc");
  EXPECT_EQ(WiTestChar(3, 14), ' ');
  FixedAction accept(1);
  c.setAction(&accept);
  giveKeys("\"d\" esc");
  EXPECT_EQ(c.execute(0), -1) << "Esc cancels whatever the action says";
  EXPECT_EQ(str(c.value()), "dabc") << "and keeps the edited value (editing starts at the start value 0)";
  giveKeys("help");
  EXPECT_EQ(c.execute(0), 1) << "help without history ends the cell";
  EXPECT_EQ(c.lastKey(), 148);
  c.setActive(false);
  EXPECT_EQ(c.execute(0), -2);
  c.unDisplay();
}

}  // namespace
