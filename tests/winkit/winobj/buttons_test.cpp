// Labels and buttons in a headless session: hot-key letters, push buttons
// with and without actions, check boxes, radio groups (wrap, the 11th
// option, hot keys), Esc always cancelling, and label wrapping.
#include <winkit/Buttons.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <string>

#include "WidgetSupport.h"

namespace {

using zftest::FixedAction;
using zftest::giveKeys;
using zftest::screenLine;

using ButtonsTest = zftest::WidgetTest;

TEST_F(ButtonsTest, HotKeyLettersAreMarkedAndHighlighted) {
  PushButton save(2, 10, "Sa~ve", 10, nullptr);
  PushButton open(4, 10, "Open", -1, nullptr);
  EXPECT_EQ(save.text().length(), 4);
  EXPECT_EQ(save.hotKey(), 'v');
  EXPECT_EQ(open.hotKey(), 'O');
  save.display(-1, -1);
  open.display(-1, -1);
  EXPECT_EQ(screenLine(2), std::string(10, ' ') + "[  Save  ]");
  EXPECT_EQ(screenLine(4), std::string(10, ' ') + "Open") << "the label covers a frame as wide as itself";
  EXPECT_TRUE(WiTestAttr(2, 15) & 0x800) << "the hot-key letter v";
  EXPECT_FALSE(WiTestAttr(2, 14) & 0x800);
}

TEST_F(ButtonsTest, PushButtonResults) {
  PushButton bare(2, 2, "Bare", 8, nullptr);
  giveKeys("enter enter down");
  EXPECT_EQ(bare.execute(0), -2) << "no action: stays on Enter, leaves on a cursor key";
  EXPECT_EQ(bare.lastKey(), 135);
  EXPECT_TRUE(bare.window()->hidden());

  FixedAction goOn(0), accept(1);
  PushButton b(2, 2, "Go", 8, &goOn);
  giveKeys("enter tab");
  EXPECT_EQ(b.execute(0), 0);
  EXPECT_EQ(goOn.runs, 1);
  PushButton ok(2, 2, "OK", 8, &accept);
  giveKeys("enter");
  EXPECT_EQ(ok.execute(0), 1);
  giveKeys("");
  EXPECT_EQ(ok.execute('o'), 1) << "its hot key presses it";
  EXPECT_EQ(accept.runs, 2);
  giveKeys("esc");
  EXPECT_EQ(ok.execute(0), -1);
  DefaultButton d(2, 2, "OK", 10, nullptr);
  EXPECT_TRUE(d.isDefault());
  d.display(-1, -1);
  EXPECT_EQ(screenLine(2), "  [[  OK  ]]");
}

TEST_F(ButtonsTest, CheckBoxFlipsAndEscCancelsEvenWithAnAction) {
  CheckBox c(3, 4, "Bold", false, -1);
  giveKeys("32 32 32 enter");
  EXPECT_EQ(c.execute(0), 0);
  EXPECT_TRUE(c.value());
  c.display(-1, -1);
  EXPECT_EQ(screenLine(3), "    [X] Bold");
  FixedAction accept(1);
  c.setAction(&accept);
  giveKeys("tab");
  EXPECT_EQ(c.execute(0), 1);
  giveKeys("esc");
  EXPECT_EQ(c.execute(0), -1) << "left with Esc: cancel, not the action's answer";
  EXPECT_EQ(accept.runs, 1);
  c.setActive(false);
  c.display(-1, -1);
  c.draw(false);
  EXPECT_EQ(WiTestChar(3, 4), '[');
  EXPECT_NE(WiTestChar(3, 5), 'X') << "inactive: the inactive pattern";
  c.unDisplay();
}

TEST_F(ButtonsTest, RadioGroupWrapsAndIgnoresAnEleventhOption) {
  RadioButton r(2, 2, "Size", -1, '*');
  char const* names[] = {"Small", "Medium", "Large", "Huge", "e", "f", "g", "h", "i", "j", "k"};
  for (int i = 0; i < 11; ++i) r.addItem(names[i], i == 0);
  EXPECT_EQ(r.nopts(), 9);
  giveKeys("up enter");
  EXPECT_EQ(r.execute(0), 0);
  EXPECT_EQ(r.value(), 9) << "up on the first selects the last";
  giveKeys("down enter");
  r.execute(0);
  EXPECT_EQ(r.value(), 0) << "down on the last selects the first";
  giveKeys("\"l\" enter");
  r.execute(0);
  EXPECT_EQ(r.value(), 2) << "a letter picks its option";
  r.display(-1, -1);
  EXPECT_EQ(screenLine(6), "    (*) Large");
  EXPECT_EQ(screenLine(4), "    ( ) Small");
  giveKeys("\"s\" esc");
  EXPECT_EQ(r.execute(0), -1);
  EXPECT_EQ(r.value(), 3) << "the group's hot key steps to the next option";
  r.setValue(1);
  EXPECT_EQ(r.value(), 1);
  r.unDisplay();
}

TEST_F(ButtonsTest, RadioSetValueRefusesOutOfRange) {
  RadioButton r(2, 2, "Size", -1, '*');
  r.addItem("A", true);
  r.addItem("B", false);
  EXPECT_DEATH(r.setValue(-1), "v >= 0");
  EXPECT_DEATH(r.setValue(2), "v <= nopts_");
}

TEST_F(ButtonsTest, LabelWrapping) {
  Label l("one two three four", 1, 1, 10, -1);
  l.display(-1, -1);
  EXPECT_EQ(l.window()->height(), 4) << "two lines: wordWrap gives 3, the height one more";
  EXPECT_EQ(screenLine(1), " one two");
  EXPECT_EQ(screenLine(2), " three four");
  String longWord("abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(Label::wordWrap(longWord, 10), 4);
  EXPECT_STREQ(toCharPtr(longWord), "abcdefghij\nklmnopqrst\nuvwxyz ");  // words keep their blank
  Label plain("short", 5, 3, -1, -1);
  plain.display(-1, -1);
  EXPECT_EQ(plain.window()->width(), 5);
  EXPECT_EQ(screenLine(5), "   short");
  l.unDisplay();
  plain.unDisplay();
}

}  // namespace
