// Scroll menus in a headless session: 100 entries scrolling with the frame
// marks, incremental search, string arrays with a null entry, directory
// lists (".." at the root, marks), the access rules over all the user's
// groups, and the history choosers.
#include <winkit/Cell.h>
#include <winkit/ScrollMenu.h>
#include <winkit/StrHistory.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildRun.h"
#include "WidgetSupport.h"

namespace {

using zftest::giveKeys;
using zftest::screenLine;
using zftest::screenText;
using ScrollMenuTest = zftest::WidgetTest;

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s)); }

String const hundred(long i) {
  if (i < 0 || i >= 100) return ScrollMenu::highest();
  return String(("entry" + std::to_string(i)).c_str());
}

TEST_F(ScrollMenuTest, HundredEntriesScrollWithMarks) {
  ScrollMenu m("List", hundred, 20, 12, 1, 1, true);
  struct {
    char const* keys;
    long opt;
  } cases[] = {
      {"enter", 0},
      {"down down enter", 2},
      {"up esc", -1},  // up on the first entry beeps
      {"pgdn pgdn enter", 40},
      {"\"e\"", 0},  // a letter chooses the first shown entry with it
  };
  for (auto const& c : cases) {
    giveKeys(c.keys);
    m.execute(0);
    EXPECT_EQ(m.currOpt(), c.opt) << c.keys;
  }
  EXPECT_EQ(bells(), 1);

  m.display(-1, -1);
  EXPECT_EQ(screenLine(1), "│ entry0     │");
  EXPECT_EQ(WiTestChar(21, 12), 0x25BC) << "more below: 0xAD on the bottom row";
  EXPECT_EQ(WiTestChar(0, 12), 0x2500) << "nothing above";
  std::string keys;
  for (int i = 0; i < 20; ++i) keys += "down ";
  giveKeys((keys + "enter").c_str());
  m.execute(0);
  EXPECT_EQ(m.currOpt(), 20) << "down on row 20 scrolled by one";
  m.unDisplay();
  m.setCurrent(20, false);
  m.display(-1, -1);
  EXPECT_EQ(m.first(), 1);
  EXPECT_EQ(WiTestChar(0, 12), 0x25B2) << "hidden entries above: 0xAC on the top row";
  EXPECT_EQ(screenLine(1), "│ entry1     │");
  EXPECT_EQ(screenLine(20), "│ entry20    │");
  m.unDisplay();
}

TEST_F(ScrollMenuTest, IncrementalSearch) {
  ScrollMenu m(hundred, 5, 12, 1, 1, true);
  struct {
    char const* keys;
    long opt;
    int bells;
  } cases[] = {
      {"k154 \"ry4\" enter", 4, 0},          {"k154 \"y42\" enter", 42, 0},
      {"k154 \"zz\" \"57\" enter", 57, 2},    // nothing has "Z": beep, start anew
      {"k154 \"4\" k154 \"9\" enter", 9, 0},  // 154 clears the text
      {"k154 \"4\" esc enter", 4, 0},         // Esc ends the search where it stood
      {"k154 \"ENTRY99\" enter", 99, 0},
  };
  for (auto const& c : cases) {
    int before = bells();
    giveKeys(c.keys);
    m.execute(0);
    EXPECT_EQ(m.currOpt(), c.opt) << c.keys;
    EXPECT_EQ(bells() - before, c.bells) << c.keys;
  }
}

TEST_F(ScrollMenuTest, StringMenuStopsAtANullEntryAndSizesItself) {
  String arr[] = {"one", "three", String(), "four"};
  StringMenu m("T", arr, 4, 2, 2, -1);
  giveKeys("down down enter");
  m.execute(0);
  EXPECT_EQ(m.currOpt(), 1) << "the null entry ends the list";
  EXPECT_EQ(bells(), 1);
  m.display(-1, -1);
  EXPECT_EQ(m.window()->width(), 7) << "the longest entry + 2";
  EXPECT_EQ(m.window()->height(), 4);
  m.unDisplay();
  std::string longText(600, 'x');
  String big[] = {String(longText.c_str())};
  StringMenu wide(String(), big, 1, 2, 2, -1);
  wide.display(-1, -1);
  EXPECT_EQ(wide.window()->width(), 78) << "an entry past the screen: screen width - 4, + 2";
  wide.unDisplay();
  StringMenu cut(String(), big, 1, 2, 2, 30);
  cut.display(-1, -1);
  EXPECT_EQ(cut.window()->width(), 32);
  cut.unDisplay();
}

TEST_F(ScrollMenuTest, DirectoryListsAndDotDotAtTheRoot) {
  zftest::TempDir d;
  d.write("b/x.txt", "");
  d.write("a/y.c", "");
  d.write("top.txt", "");
  d.write("z.c", "");
  String root(d.path().c_str());
  FileMenu files(5, 16, 1, 1, root, "*.txt");
  DirMenu dirs(&files, 5, 16, 1, 30, root);
  EXPECT_EQ(str(files.name(0)), "top.txt");
  EXPECT_TRUE(files.name(1).isNull()) << "only regular files matching the pattern";
  giveKeys("down down enter esc");
  EXPECT_EQ(dirs.execute(0), -1);
  EXPECT_EQ(str(dirs.retDir()), d.path() + "/b") << ".., a, b: into b";
  EXPECT_EQ(str(files.retDir()), d.path() + "/b");
  EXPECT_EQ(str(files.name(0)), "x.txt");
  EXPECT_TRUE(files.window()->hidden() && dirs.window()->hidden());
  files.setFile("*");
  files.setDir(String());
  EXPECT_EQ(str(files.retDir()), str(files.retCwd()));

  DirMenu top(5, 16, 1, 1, "/");
  giveKeys("enter esc");
  top.execute(0);
  EXPECT_EQ(str(top.retDir()), "/") << ".. at the root stays at the root";
  struct {
    char const* dir;
    char const* name;
    char const* want;
  } cases[] = {{"/", "..", "/"}, {"/usr", "..", "/"},    {"/a/b", "..", "/a"}, {"/a", "x", "/a/x"},
               {"/", "x", "/x"}, {"/a", "/abs", "/abs"}, {"rel", "..", "."},   {"..", "..", "../.."}};
  for (auto const& c : cases) {
    DirMenu m(5, 16, 1, 1, c.dir);
    EXPECT_EQ(str(m.buildDirStr(c.name)), c.want) << c.dir << " + " << c.name;
  }
}

// Access over every group of the user: a user in more than 16 groups reads a
// file through its 24th group. Needs root to set up such a user.
TEST_F(ScrollMenuTest, AccessReadsAllTheUsersGroups) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to take other groups";
  zftest::RunResult r = zftest::runInChild([] {
    std::vector<gid_t> groups;
    for (gid_t g = 40000; g < 40024; ++g) groups.push_back(g);
    ZF_CHILD_CHECK(::setgroups(groups.size(), groups.data()) == 0);
    ZF_CHILD_CHECK(::setegid(40000) == 0);
    ZF_CHILD_CHECK(::seteuid(40100) == 0);
    UserAccess u = UserAccess::read();
    ZF_CHILD_CHECK(u.groups().size() >= 24);
    long all = UserAccess::kRead | UserAccess::kWrite | UserAccess::kSearch;
    ZF_CHILD_CHECK(u.rights(0070, 1, 40023) == all);
    ZF_CHILD_CHECK(u.rights(0070, 1, 50000) == 0);
    ZF_CHILD_CHECK(u.rights(0750, 40100, 50000) == all);
    ZF_CHILD_CHECK(u.rights(0704, 1, 50000) == UserAccess::kRead);
    ZF_CHILD_CHECK(u.rights(0742, 1, 40005) == UserAccess::kRead);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(ScrollMenuTest, HistoryChoosers) {
  StrHistory h(5);
  String out = "keep";
  EXPECT_FALSE(h.execute(out)) << "no entries: no menu";
  h << "first"
    << "second"
    << "third";
  giveKeys("down enter");
  EXPECT_TRUE(h.execute(out));
  EXPECT_EQ(str(out), "second");
  giveKeys("esc");
  EXPECT_FALSE(h.execute(out));
  EXPECT_EQ(str(out), "second");

  ExtStrHistory e(5, 3);
  e << "alpha"
    << "a much longer entry\nwith two lines"
    << "gamma";
  giveKeys("down tab tab down enter");
  String got;
  EXPECT_TRUE(e.execute(got));
  EXPECT_EQ(str(got), "alpha") << "Tab kept the menu open and its place";
  EXPECT_EQ(e.currPos(), 3) << "browsing continues from the chosen entry";
  giveKeys("esc");
  got = "unchanged";
  EXPECT_FALSE(e.execute(got));
  EXPECT_EQ(str(got), "unchanged");
}

TEST_F(ScrollMenuTest, ExtChooserShowsTheWholeEntryAbove) {
  String arr[] = {"  spaced  out  ", "a much longer entry\nwith two lines"};
  ExtStringMenu menu("Query Selector", arr, 2, 3, 19, 20, 50);
  menu.display(-1, -1);
  std::string all = screenText();
  EXPECT_NE(all.find("Query Selector"), std::string::npos) << all;
  EXPECT_NE(all.find("│ spaced out"), std::string::npos) << "shown trimmed\n" << all;
  EXPECT_NE(all.find("  spaced  out"), std::string::npos) << "whole in the panel\n" << all;
  menu.setCurrent(1, false);
  giveKeys("esc");
  menu.execute(0);
  all = screenText();
  EXPECT_NE(all.find("│  with two lines"), std::string::npos) << all;
  menu.dispinfo(1);
  EXPECT_EQ(screenText().find("│  with two lines"), std::string::npos);
  menu.dispinfo(0);
  EXPECT_NE(screenText().find("│  with two lines"), std::string::npos);
  menu.unDisplay();
}

TEST_F(ScrollMenuTest, LongHistoryEntryChosenIntoACell) {
  std::string longText(600, 'q');
  StrHistory h(3);
  h << String(longText.c_str()) << "short";
  StrCell c(64, 39, 0, 3, 5, &h);
  giveKeys("help down enter enter");
  EXPECT_EQ(c.execute(0), 0);
  EXPECT_EQ(c.lastKey(), 132);
  EXPECT_EQ(str(c.value()), std::string(64, 'q')) << "kept within the cell's length";
  c.unDisplay();
}

}  // namespace
