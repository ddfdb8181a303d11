// Panels in a headless session: focus moves, prefix 155 then Enter with and
// without a refusing default action, Esc in a widget with an action, a
// panel of inactive objects, and the message boxes' layout.
#include <winkit/Panel.h>
#include <winkit/Text.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <string>

#include "WidgetSupport.h"

namespace {

using zftest::FixedAction;
using zftest::giveKeys;
using zftest::screenLine;

using PanelTest = zftest::WidgetTest;

struct TwoBoxes {
  TwoBoxes() : a(1, 2, "Alpha", false, -1), b(2, 2, "Beta", false, -1), p("Opts", 8, 30, 3, 5) {
    objs[0] = &a;
    objs[1] = &b;
    p.InitObjs(objs, 2);
  }
  CheckBox a, b;
  Panel p;
  WinObj* objs[2];
};

TEST_F(PanelTest, FocusMovesAndPrefixEnterAccepts) {
  TwoBoxes t;
  giveKeys("down 32 155 enter");
  EXPECT_EQ(t.p.execute(0), 0);
  EXPECT_TRUE(t.p.isAccepted());
  EXPECT_FALSE(t.a.value());
  EXPECT_TRUE(t.b.value()) << "Down moved the focus to the second box";
  EXPECT_TRUE(t.p.window()->hidden());

  FixedAction refuse(0);
  t.p.setDefaultAction(&refuse);
  giveKeys("155 enter 32 esc");
  EXPECT_EQ(t.p.execute(0), -2) << "the refusing default action kept the focus; Esc cancelled";
  EXPECT_EQ(refuse.runs, 1);
  EXPECT_TRUE(t.a.value()) << "the focus stayed on the first box";
  EXPECT_FALSE(t.p.isAccepted());
}

TEST_F(PanelTest, EscInAWidgetWithAnActionCancels) {
  TwoBoxes t;
  FixedAction goOn(0);
  t.a.setAction(&goOn);
  giveKeys("esc");
  EXPECT_EQ(t.p.execute(0), -2);
  EXPECT_FALSE(t.p.isAccepted());
  EXPECT_EQ(goOn.runs, 0);
}

TEST_F(PanelTest, InactiveObjectsAreSkippedAndAllInactiveEndsAtOnce) {
  TwoBoxes t;
  FixedAction accept(1);
  CheckBox c(3, 2, "Gamma", false, -1);
  WinObj* objs[3] = {&t.a, &t.b, &c};
  t.p.InitObjs(objs, 3);
  t.b.setActive(false);
  c.setAction(&accept);
  giveKeys("tab tab");
  EXPECT_EQ(t.p.execute(0), 0);
  EXPECT_TRUE(t.p.isAccepted()) << "Tab skipped the inactive box to the third";
  t.a.setActive(false);
  c.setActive(false);
  giveKeys("");
  EXPECT_EQ(t.p.execute(0), -2);
}

TEST_F(PanelTest, MsgBoxAndCntrBoxLayout) {
  MsgBox m("Note", "hello", 5, 20, 2, 10);
  giveKeys("enter");
  m.display(-1, -1);
  std::string rows;
  for (int r = 2; r <= 6; ++r) rows += screenLine(r) + "\n";
  m.unDisplay();
  EXPECT_NE(rows.find("hello"), std::string::npos) << rows;
  EXPECT_EQ(rows, "         │                    │\n"
                  "         │ hello              │\n"
                  "         │                    │\n"
                  "         │     [[  OK  ]]     │\n"
                  "         │                    │\n");
  EXPECT_NE(rows.find("[[  OK  ]]"), std::string::npos) << rows;
  EXPECT_EQ(m.execute(0), 0);
  EXPECT_TRUE(m.isAccepted());

  CntrBox c("Title", "a text long enough to need more than eight columns");
  c.display(-1, -1);
  EXPECT_EQ(c.window()->width(), 40);
  std::string all = zftest::screenText();
  // Centred at rows 9..13, columns 20..59; the button centred on row 12.
  std::string okRow = screenLine(12);
  c.unDisplay();
  EXPECT_NE(all.find("a text long enough to need more than"), std::string::npos) << all;
  EXPECT_EQ(okRow, std::string(19, ' ') + "│" + std::string(15, ' ') + "[[  OK  ]]" + std::string(15, ' ') + "│")
      << all;
}

TEST_F(PanelTest, MLDBoxAnswers) {
  struct {
    char const* keys;
    long opt;
  } cases[] = {{"enter", 1}, {"esc", 2}, {"left enter", 0}, {"right enter", 2}};
  for (auto const& c : cases) {
    MLDBox box("Ask", "q?\nline2", 1);
    giveKeys(c.keys);
    box.execute(0);
    EXPECT_EQ(box.getOpt(), c.opt) << c.keys;
  }
}

TEST_F(PanelTest, MLDBoxShowsTenLines) {
  std::string text;
  for (int i = 1; i <= 12; ++i) text += "row" + std::to_string(i) + (i < 12 ? "\n" : "");
  MLDBox box("Ask", String(text.c_str()), 0);
  box.display(-1, -1);
  EXPECT_EQ(box.window()->height(), 14);
  std::string all = zftest::screenText();
  box.unDisplay();
  EXPECT_NE(all.find("row10"), std::string::npos) << all;
  EXPECT_EQ(all.find("row11"), std::string::npos) << all;
}

TEST_F(PanelTest, InfoPanelClearsRows) {
  InfoPanel p("Info", 4, 30, 2, 2);
  p.display(-1, -1);
  p.show("one\ntwo\nthree\nfour");
  std::string before = zftest::screenText();
  p.show("only");
  std::string after = zftest::screenText();
  p.unDisplay();
  EXPECT_NE(before.find("four"), std::string::npos) << before;
  EXPECT_NE(after.find("only"), std::string::npos) << after;
  EXPECT_EQ(after.find("two"), std::string::npos) << after;
  EXPECT_EQ(after.find("four"), std::string::npos) << after;
}

TEST_F(PanelTest, TextWaitHookShowsAWaitMessage) {
  ASSERT_NE(textWaitMsg, nullptr);
  textWaitMsg("Processing InputStream ...");
  std::string all = zftest::screenText();
  textWaitMsg(nullptr);
  EXPECT_NE(all.find("  Processing InputStream ..."), std::string::npos) << all;
  std::string after = zftest::screenText();
  EXPECT_EQ(after.find("Processing"), std::string::npos) << after;
}

}  // namespace
