// The winedit program end to end: two files opened through the file
// selector, a block copied from one and pasted into the other, the views
// tiled and help shown on a command, headless and in a real terminal with
// equal screens; the help index.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../winobj/TermSupport.h"
#include "TestSupport.h"

namespace {

using zftest::binPath;
using zftest::readFile;
using zftest::runProgram;
using zftest::RunResult;
using zftest::TempDir;

char const kA[] = "alpha one\nalpha two\nalpha three\n";
char const kB[] = "beta one\nbeta two\n";

struct EditRun {
  RunResult r;
  std::vector<std::vector<std::string>> screens;
};

// Runs winedit in `dir` with a key script; its dumped screens.
EditRun winedit(TempDir& dir, std::string const& keys) {
  std::string script = dir.write("keys", keys + "\n");
  std::string screen = dir.file("screen");
  EditRun run;
  run.r = runProgram({"/bin/sh", "-c", "cd '" + dir.path() + "' && exec '" + binPath("winedit") + "'"}, "",
                     {{"ZEPH_HEADLESS", script}, {"ZEPH_SCREEN", screen}, {"ZEPH_SIZE", "24x80"}}, 60);
  run.screens = zftest::screens(screen, 24);
  return run;
}

// The rows without trailing blanks, joined.
std::string text(std::vector<std::string> const& rows) {
  std::string out;
  for (std::string const& row : rows) out += zftest::rstrip(row) + "\n";
  return out;
}

// The session's steps; the screens are dumped after the tile and after the
// help request.
char const* const kSteps[] = {
    "open \"a.txt\" enter",         // F3, a.txt
    "open \"b.txt\" enter",         // F3, b.txt
    "k154 k154 down k154 ins",      // mark a line of b.txt and copy it
    "k155 \"n\" k154 enter save",   // to a.txt, paste, save
    "k155 \"m\"",                   // tile
    "help k154 ins",                // help on the copy command
};

TEST(WinEdit, CopiesALineBetweenFilesTilesAndShowsHelp) {
  TempDir dir;
  dir.write("a.txt", kA);
  dir.write("b.txt", kB);
  std::string keys;
  for (size_t i = 0; i < std::size(kSteps); ++i) keys += std::string(kSteps[i]) + (i >= 4 ? " dump\n" : "\n");
  EditRun run = winedit(dir, keys + "k155 \"x\"");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(readFile(dir.file("a.txt")), std::string("beta one\n") + kA);
  EXPECT_EQ(readFile(dir.file("b.txt")), kB);
  ASSERT_GE(run.screens.size(), 2u);
  std::vector<std::string> const& tiled = run.screens[0];
  EXPECT_EQ(zftest::rstrip(tiled[0]), " File Edit Desktop Help");
  EXPECT_NE(tiled[1].find(" a.txt "), std::string::npos) << tiled[1];
  EXPECT_NE(tiled[12].find(" b.txt "), std::string::npos) << tiled[12];
  std::vector<std::string> const& help = run.screens[1];
  EXPECT_NE(help[2].find(" Copy block "), std::string::npos) << text(help);
  EXPECT_NE(help[3].find("Copies the marked block to the clipboard."), std::string::npos) << text(help);
}

// The same keys in an 80x24 terminal: the panes equal the headless dumps.
TEST(WinEdit, TerminalShowsTheHeadlessScreens) {
  if (!zftest::Tmux::available()) GTEST_SKIP() << "tmux is not installed";
  TempDir h;
  h.write("a.txt", kA);
  h.write("b.txt", kB);
  std::string keys;
  for (char const* step : kSteps) keys += std::string(step) + " dump\n";
  EditRun run = winedit(h, keys + "k155 \"x\"");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  ASSERT_GE(run.screens.size(), std::size(kSteps));

  TempDir dir;
  dir.write("a.txt", kA);
  dir.write("b.txt", kB);
  zftest::Tmux tmux(dir);
  ASSERT_TRUE(tmux.start(zftest::paneCommand(dir, binPath("winedit"))));
  // tmux key names for each step.
  std::vector<std::vector<std::string>> const tmuxSteps = {
      {"F3", "a.txt", "Enter"},
      {"F3", "b.txt", "Enter"},
      {"F9", "F9", "Down", "F9", "IC"},
      {"F10", "n", "F9", "Enter", "F2"},
      {"F10", "m"},
      {"F1", "F9", "IC"},
  };
  tmux.waitFor([](auto const& p) { return zftest::has(p, " File Edit Desktop Help"); });
  for (size_t i = 0; i < tmuxSteps.size(); ++i) {
    for (std::string const& k : tmuxSteps[i]) tmux.keys(k);
    std::string want = text(run.screens[i]);
    auto pane = tmux.waitFor([&](auto const& p) { return text(p) == want; });
    EXPECT_EQ(text(pane), want) << "after step " << i;
  }
  tmux.keys("F10");
  tmux.keys("x");
  EXPECT_EQ(zftest::waitForFile(dir.file("status")), "0\n");
  EXPECT_EQ(readFile(dir.file("a.txt")), std::string("beta one\n") + kA);
  EXPECT_EQ(readFile(dir.file("b.txt")), kB);
  EXPECT_EQ(zftest::waitForFile(dir.file("after")), readFile(dir.file("before")));
}

// A menu item whose command lost its key to another (FileLoad's key opens
// files) still reaches it: the text of b.txt is loaded into a.txt's view.
TEST(WinEdit, MenuItemReachesACommandWithoutItsKey) {
  TempDir dir;
  dir.write("a.txt", kA);
  dir.write("b.txt", kB);
  EditRun run = winedit(dir, "open \"a.txt\" enter k155 \"f\" down down enter \"b.txt\" enter dump k155 \"x\"");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  ASSERT_GE(run.screens.size(), 1u);
  std::vector<std::string> const& s = run.screens[0];
  EXPECT_NE(s[1].find(" b.txt "), std::string::npos) << text(s);
  EXPECT_NE(s[2].find("beta one"), std::string::npos) << text(s);
  EXPECT_EQ(s[4].find("alpha"), std::string::npos) << text(s);
  EXPECT_EQ(readFile(dir.file("a.txt")), kA);
}

TEST(WinEdit, HelpIndexListsEveryCommand) {
  TempDir dir;
  EditRun run = winedit(dir, "k155 \"i\" dump esc k155 \"x\"");
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  ASSERT_GE(run.screens.size(), 1u);
  EXPECT_TRUE(zftest::has(run.screens[0], " Help index (68) ")) << text(run.screens[0]);
}

}  // namespace
