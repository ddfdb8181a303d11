// The widgetdemo program: the history mode (the stored text form, entries
// with newlines, trimmed duplicates, a refused file left as it was), the
// yes/no/cancel box, and the file and directory selectors headless and in a
// real terminal.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TermSupport.h"
#include "TestSupport.h"

namespace {

using zftest::binPath;
using zftest::readFile;
using zftest::runProgram;
using zftest::RunResult;
using zftest::TempDir;

RunResult hist(std::vector<std::string> args) {
  args.insert(args.begin(), {binPath("widgetdemo"), "hist"});
  return runProgram(args, "", {}, 30);
}

TEST(WidgetDemoHist, StoresTheTextForm) {
  TempDir dir;
  std::string f = dir.file("h");
  RunResult r = hist({"4", f, "A", "B", "A"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(f), "4\nA\nB\n\n\n");
  r = hist({"4", f, "two\nlines"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(f), "4\ntwo\x01lines\nA\nB\n\n");
  // Read back with the newline: adding the same text again only moves it.
  r = hist({"4", f, "B", "two\nlines"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(f), "4\ntwo\x01lines\nB\nA\n\n");
}

TEST(WidgetDemoHist, TrimmedDuplicatesAreOneEntry) {
  TempDir dir;
  std::string f = dir.file("h");
  ASSERT_EQ(hist({"3", f, " x ", "x"}).status, 0);
  EXPECT_EQ(readFile(f), "3\nx\n\n\n");
}

TEST(WidgetDemoHist, RefusedFileIsLeftUnchanged) {
  TempDir dir;
  for (std::string form : {"999999999\nA\n", "-1\n", "", "junk\n"}) {
    std::string f = dir.write("bad", form);
    RunResult r = hist({"4", f, "new"});
    EXPECT_EQ(r.status, 1) << form;
    EXPECT_NE(r.err.find("not a valid history"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(f), form);
  }
}

// widgetdemo mld: the answer printed after keys from a script, and the box
// on the dumped screen.
TEST(WidgetDemoMld, Answers) {
  struct {
    char const* keys;
    char const* out;
  } cases[] = {{"enter", "opt 1\n"}, {"esc", "opt 2\n"}, {"left enter", "opt 0\n"}};
  for (auto const& c : cases) {
    TempDir dir;
    std::string script = dir.write("keys", std::string("dump ") + c.keys + "\n");
    std::string screen = dir.file("screen");
    RunResult r = runProgram({binPath("widgetdemo"), "mld", "q?\\nline2", "1"}, "",
                             {{"ZEPH_HEADLESS", script}, {"ZEPH_SCREEN", screen}}, 30);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out) << c.keys;
    std::string dump = readFile(screen);
    EXPECT_NE(dump.find("q?"), std::string::npos) << dump;
    EXPECT_NE(dump.find("line2"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[[  No  ]]"), std::string::npos) << dump;
  }
}

}  // namespace

// widgetdemo files and dir: the selectors driven by key scripts, their
// printed result and the dumped screens.
namespace {

struct DemoRun {
  RunResult r;
  std::vector<std::string> screens;  // one per dump, then the final screen
};

DemoRun selector(char const* mode, std::string const& dir, std::string const& keys) {
  TempDir t;
  std::string script = t.write("keys", keys + "\n");
  std::string screen = t.file("screen");
  DemoRun run;
  run.r = runProgram({binPath("widgetdemo"), mode, dir}, "", {{"ZEPH_HEADLESS", script}, {"ZEPH_SCREEN", screen}}, 30);
  for (auto const& rows : zftest::screens(screen, 24)) {
    std::string text;
    for (std::string const& row : rows) text += row + "\n";
    run.screens.push_back(text);
  }
  return run;
}

// A directory holding sub/a.txt, sub/b.c and top.txt.
struct Tree {
  Tree() {
    dir.write("sub/a.txt", "");
    dir.write("sub/b.c", "");
    dir.write("top.txt", "");
  }
  TempDir dir;
};

bool has(std::string const& screen, std::string const& what) { return screen.find(what) != std::string::npos; }

TEST(WidgetDemoFiles, CellMovesFiltersAndAccepts) {
  Tree t;
  DemoRun run = selector("files", t.dir.path(), "dump \"sub\" enter dump \"*.txt\" enter dump \"a.txt\" enter");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(run.r.out, "accepted 1 value sub/a.txt perms 3\n");
  ASSERT_GE(run.screens.size(), 3u);
  std::string const& start = run.screens[0];
  EXPECT_TRUE(has(start, "FileOpen")) << start;
  EXPECT_TRUE(has(start, "│ top.txt ")) << start;
  EXPECT_TRUE(has(start, "│ sub ")) << start;
  std::string const& inSub = run.screens[1];
  EXPECT_TRUE(has(inSub, "│  " + t.dir.path() + "/sub ")) << inSub;
  EXPECT_TRUE(has(inSub, "│ a.txt ") && has(inSub, "│ b.c ")) << inSub;
  EXPECT_FALSE(has(inSub, "top.txt")) << inSub;
  EXPECT_FALSE(has(inSub, "│  sub ")) << "the cell is cleared\n" << inSub;
  std::string const& filtered = run.screens[2];
  EXPECT_TRUE(has(filtered, "│ a.txt ")) << filtered;
  EXPECT_FALSE(has(filtered, "b.c")) << filtered;
  EXPECT_TRUE(has(filtered, "│  *.txt ")) << "the pattern under the directory\n" << filtered;
}

TEST(WidgetDemoFiles, MissingDirectoryKeepsTheSelectorOpen) {
  Tree t;
  std::string clear;
  for (int i = 0; i < 11; ++i) clear += " del";
  DemoRun run = selector("files", t.dir.path(), "\"nodir/x.txt\" enter dump enter" + clear + " \"top.txt\" enter");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(run.r.out, "accepted 1 value top.txt perms 3\n");
  ASSERT_GE(run.screens.size(), 1u);
  EXPECT_TRUE(has(run.screens[0], "│ Cannot access the directory ")) << run.screens[0];
  EXPECT_TRUE(has(run.screens[0], "│ (nodir/x.txt) ")) << run.screens[0];
  EXPECT_TRUE(has(run.screens[0], "Error")) << run.screens[0];
}

TEST(WidgetDemoFiles, ChoosingFromTheLists) {
  Tree t;
  struct {
    char const* keys;
    char const* out;
  } cases[] = {
      {"tab enter", "accepted 1 value top.txt perms 3\n"},
      {"tab 32 tab tab enter", "accepted 1 value top.txt perms 3\n"},  // Space chooses, OK takes the choice
      {"tab tab down enter left enter", "accepted 1 value sub/a.txt perms 3\n"},
      {"tab tab down enter left down enter", "accepted 1 value sub/b.c perms 3\n"},
      {"tab tab tab enter", "accepted 0\n"},  // OK with nothing chosen
  };
  for (auto const& c : cases) {
    DemoRun run = selector("files", t.dir.path(), c.keys);
    EXPECT_EQ(run.r.status, 0) << c.keys << run.r.err;
    EXPECT_EQ(run.r.out, c.out) << c.keys;
  }
}

TEST(WidgetDemoFiles, RefusedNameAtOkGivesTheFocusBack) {
  Tree t;
  // The name stays in the cell; OK refuses it after the box and keeps the
  // focus; Esc then cancels.
  DemoRun run = selector("files", t.dir.path(), "\"nodir/x.txt\" tab tab tab enter dump enter dump esc");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(run.r.out, "accepted 0\n");
  ASSERT_GE(run.screens.size(), 2u);
  EXPECT_TRUE(has(run.screens[0], "│ (nodir/x.txt) ")) << run.screens[0];
  EXPECT_FALSE(has(run.screens[1], "nodir/x.txt)")) << run.screens[1];
  EXPECT_TRUE(has(run.screens[1], "FileOpen")) << run.screens[1];
}

TEST(WidgetDemoFiles, EscCancelsAndLongDirectoriesAreShortened) {
  TempDir t;
  std::string dir = t.path() + "/";
  while (dir.size() < 60) dir += "d";
  dir.resize(60);
  t.write(dir.substr(t.path().size() + 1) + "/f", "");
  DemoRun run = selector("files", dir, "dump esc");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(run.r.out, "accepted 0\n");
  std::string shown = dir.substr(0, 10) + " ... " + dir.substr(60 - 23);
  EXPECT_TRUE(has(run.screens[0], "│  " + shown + " ")) << shown << "\n" << run.screens[0];
}

TEST(WidgetDemoDir, StartingDirectoryEndsLikeCancel) {
  Tree t;
  struct {
    std::string keys;
    std::string out;
  } cases[] = {
      {"tab tab enter", "accepted 0\n"},      // OK on the starting directory
      {"tab tab tab enter", "accepted 0\n"},  // CANCEL
      {"k155 enter", "accepted 0\n"},         // the default action is OK
      {"end \"/sub\" enter tab enter", "accepted 1 value " + t.dir.path() + "/sub\n"},
      {"tab down enter tab enter", "accepted 1 value " + t.dir.path() + "/sub\n"},  // chosen in the list
  };
  for (auto const& c : cases) {
    DemoRun run = selector("dir", t.dir.path(), c.keys);
    EXPECT_EQ(run.r.status, 0) << c.keys << run.r.err;
    EXPECT_EQ(run.r.out, c.out) << c.keys;
  }
}

// The file selector in a real terminal: the screens equal the headless
// dumps row by row, the result is printed after window mode and the
// terminal settings are given back.
TEST(WidgetDemoTmux, FileSelectorInATerminal) {
  if (!zftest::Tmux::available()) GTEST_SKIP() << "tmux is not installed";
  Tree t;
  TempDir dir;
  DemoRun h = selector("files", t.dir.path(), "dump \"sub\" enter dump \"a.txt\" enter");
  ASSERT_EQ(h.r.status, 0) << h.r.err;
  ASSERT_GE(h.screens.size(), 2u);
  zftest::Tmux tmux(dir);
  ASSERT_TRUE(tmux.start(zftest::paneCommand(dir, binPath("widgetdemo") + " files " + t.dir.path())));
  auto same = [](std::vector<std::string> const& pane, std::string const& dump) {
    std::string text;
    for (std::string const& row : pane) text += zftest::rstrip(row) + "\n";
    std::string want;
    for (std::string const& row : zftest::splitLines(dump)) want += zftest::rstrip(row) + "\n";
    return text == want;
  };
  for (size_t i = 0; i < 2; ++i) {
    auto pane = tmux.waitFor([&](auto const& p) { return same(p, h.screens[i]); });
    EXPECT_TRUE(same(pane, h.screens[i])) << "screen " << i << "\n" << h.screens[i];
    tmux.keys(i == 0 ? "sub" : "a.txt");
    tmux.keys("Enter");
  }
  EXPECT_EQ(zftest::waitForFile(dir.file("status")), "0\n");
  auto pane = tmux.waitFor([](auto const& p) { return zftest::has(p, "accepted 1 value sub/a.txt perms 3"); });
  EXPECT_TRUE(zftest::has(pane, "accepted 1 value sub/a.txt perms 3"));
  EXPECT_EQ(zftest::waitForFile(dir.file("after")), readFile(dir.file("before")));
}

// Another user's view of the directory list: a directory it cannot search
// is marked "-" and Enter on it is ignored, so the cell keeps the starting
// directory and OK ends like CANCEL. Needs root to run as that user.
TEST(WidgetDemoDir, DirectoryThatCannotBeSearchedIsIgnored) {
  if (::geteuid() != 0 || runProgram({"setpriv", "--version"}, "", {}, 10).status != 0)
    GTEST_SKIP() << "needs root and setpriv";
  TempDir t;
  std::string top = t.path() + "/top";
  t.write("top/locked/f", "");
  t.write("top/open/f", "");
  std::string keys = t.write("keys", "tab down dump enter dump tab enter\n");
  std::string screen = t.write("screen", "");
  for (auto const& [path, mode] : std::vector<std::pair<std::string, mode_t>>{
           {t.path(), 0755}, {top, 0755}, {top + "/open", 0755}, {top + "/locked", 0700}, {keys, 0644}, {screen, 0666}})
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
  RunResult r =
      runProgram({"setpriv", "--reuid=40100", "--regid=40100", "--clear-groups", binPath("widgetdemo"), "dir", top}, "",
                 {{"ZEPH_HEADLESS", keys}, {"ZEPH_SCREEN", screen}}, 30);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "accepted 0\n");
  auto shots = zftest::screens(screen, 24);
  ASSERT_GE(shots.size(), 2u);
  for (auto const& shot : {shots[0], shots[1]}) {
    EXPECT_TRUE(std::any_of(shot.begin(), shot.end(), [](std::string const& l) {
      return l.find("│ locked           - │") != std::string::npos;
    }));
    EXPECT_TRUE(std::any_of(shot.begin(), shot.end(), [](std::string const& l) {
      return l.find("│ open             « │") != std::string::npos;
    })) << "not writable by that user";
  }
}

}  // namespace
