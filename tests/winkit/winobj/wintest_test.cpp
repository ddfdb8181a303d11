// The wintest program: headless runs with key scripts and dumps, the ends
// of a run (script out of keys, malformed script, unreadable file, no
// terminal), and the same program in a real terminal under tmux, whose
// screens must equal the headless dumps row by row.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TermSupport.h"
#include "TestSupport.h"

namespace {

using zftest::binPath;
using zftest::has;
using zftest::paneCommand;
using zftest::rstrip;
using zftest::screens;
using zftest::splitLines;
using zftest::Tmux;
using zftest::waitForFile;
using zftest::readFile;
using zftest::runProgram;
using zftest::RunResult;
using zftest::ScopedEnv;
using zftest::TempDir;

std::string fortyLines() {
  std::string s;
  for (int i = 1; i <= 40; ++i) s += "line " + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\n";
  return s;
}

// Characters (code points) of a UTF-8 line.
size_t codePoints(std::string const& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The column (in characters) where `text` starts in `line`; -1 if absent.
long columnOf(std::string const& line, std::string const& text) {
  size_t at = line.find(text);
  return at == std::string::npos ? -1 : long(codePoints(line.substr(0, at)));
}

// Runs wintest headless over `file` with the key script `keys`.
RunResult headless(TempDir const& dir, std::string const& file, std::string const& keys,
                   std::string const& size = "") {
  std::string script = dir.write("keys", keys);
  std::map<std::string, std::string> env = {{"ZEPH_HEADLESS", script}, {"ZEPH_SCREEN", dir.file("screen")}};
  if (!size.empty()) env["ZEPH_SIZE"] = size;
  return runProgram({binPath("wintest"), file}, "", env, 30);
}

TEST(Wintest, HeadlessDumpsAreWholeScreens) {
  TempDir dir;
  std::string file = dir.write("lines.txt", fortyLines());
  RunResult r = headless(dir, file, "dump pgdn down dump right dump esc");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "result -1 lastkey 129\n");
  auto s = screens(dir.file("screen"), 24);
  ASSERT_EQ(s.size(), 4u) << "three dumps and the final screen";
  EXPECT_EQ(splitLines(readFile(dir.file("screen"))).size(), 96u);
  for (auto const& screen : s)
    for (std::string const& row : screen) EXPECT_EQ(codePoints(row), 80u) << row;
  for (int i = 1; i <= 16; ++i)
    EXPECT_NE(s[0][size_t(i)].find(" line " + std::string(i < 10 ? "0" : "") + std::to_string(i) + " "),
              std::string::npos)
        << s[0][size_t(i)];
  EXPECT_EQ(s[0][16].substr(0, 3), "▼");
  EXPECT_EQ(s[1][1].substr(0, 3), "▲");
  EXPECT_NE(s[1][1].find("line 18"), std::string::npos);
  EXPECT_NE(s[1][16].find("line 33"), std::string::npos);
  EXPECT_EQ(s[2][1].find("line"), std::string::npos) << "shifted 10 columns";
  EXPECT_EQ(rstrip(s[3][0]), "") << "the view is gone at the end";
}

TEST(Wintest, ScreenSizeFollowsZephSize) {
  TempDir dir;
  std::string file = dir.write("lines.txt", fortyLines());
  RunResult r = headless(dir, file, "dump tab", "20x50");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "result 0 lastkey 146\n");
  auto s = screens(dir.file("screen"), 20);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(codePoints(s[0][0]), 50u);
  EXPECT_EQ(s[0][0].substr(0, 3), "┌");
  EXPECT_EQ(rstrip(s[0][17]).substr(rstrip(s[0][17]).size() - 3), "┘");
  r = headless(dir, file, "esc", "20by50");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ZEPH_SIZE"), std::string::npos) << r.err;
}

TEST(Wintest, ScriptThatRunsOutEndsWithStatus3AndAFinalScreen) {
  TempDir dir;
  std::string file = dir.write("lines.txt", fortyLines());
  RunResult r = headless(dir, file, "down down");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("key script ended"), std::string::npos) << r.err;
  auto s = screens(dir.file("screen"), 24);
  ASSERT_EQ(s.size(), 1u) << "the final screen, once";
  EXPECT_NE(s[0][1].find("line 03"), std::string::npos);
}

TEST(Wintest, MalformedScriptIsRefusedNamingItsLine) {
  TempDir dir;
  std::string file = dir.write("lines.txt", fortyLines());
  RunResult r = headless(dir, file, "down\n# fine\n\"unclosed\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 3"), std::string::npos) << r.err;
  r = headless(dir, file, "down 300");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 1: 300"), std::string::npos) << r.err;
}

TEST(Wintest, UnusableScriptOrScreenFileIsRefusedNamingIt) {
  TempDir dir;
  std::string file = dir.write("lines.txt", fortyLines());
  RunResult r = runProgram({binPath("wintest"), file}, "", {{"ZEPH_HEADLESS", dir.path()}}, 30);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("key script " + dir.path()), std::string::npos) << r.err;
  std::string script = dir.write("keys", "esc");
  std::string screen = dir.file("no/such/dir/screen");
  r = runProgram({binPath("wintest"), file}, "", {{"ZEPH_HEADLESS", script}, {"ZEPH_SCREEN", screen}}, 30);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(screen), std::string::npos) << r.err;
}

TEST(Wintest, UnreadableFileIsAFatalReportNamingIt) {
  TempDir dir;
  RunResult r = headless(dir, dir.file("missing.txt"), "esc");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.txt"), std::string::npos) << r.err;
  r = headless(dir, dir.path(), "esc");
  EXPECT_EQ(r.status, 1) << "a directory cannot be read either";
}

TEST(Wintest, WithoutTerminalAndNotHeadlessConnectingIsFatal) {
  TempDir dir;
  std::string file = dir.write("lines.txt", fortyLines());
  ScopedEnv noScript("ZEPH_HEADLESS", "", true);
  RunResult r = runProgram({binPath("wintest"), file}, "", {}, 30);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("terminal"), std::string::npos) << r.err;
}

// --- the same program in a real terminal -----------------------------------

TEST(WintestTmux, TerminalScreensEqualTheHeadlessDumps) {
  if (!Tmux::available()) GTEST_SKIP() << "tmux is not installed";
  TempDir dir;
  std::string file = dir.write("lines.txt", fortyLines());
  RunResult h = headless(dir, file, "dump pgdn down dump right dump esc");
  ASSERT_EQ(h.status, 0) << h.err;
  auto dumps = screens(dir.file("screen"), 24);
  ASSERT_EQ(dumps.size(), 4u);

  Tmux tmux(dir);
  ASSERT_TRUE(tmux.start(paneCommand(dir, binPath("wintest") + " lines.txt")));
  // Each screen is awaited until it equals its dump (the terminal may show
  // an update in pieces); a difference left at the time-out is reported
  // below, row by row.
  auto same = [](std::vector<std::string> const& pane, std::vector<std::string> const& dump) {
    if (pane.size() != dump.size()) return false;
    for (size_t r = 0; r < pane.size(); ++r)
      if (rstrip(pane[r]) != rstrip(dump[r])) return false;
    return true;
  };
  std::vector<std::vector<std::string>> panes;
  panes.push_back(tmux.waitFor([&](auto const& p) { return same(p, dumps[0]); }));
  tmux.keys("PgDn");
  tmux.waitFor([](auto const& p) { return has(p, "line 32"); });
  tmux.keys("Down");
  panes.push_back(tmux.waitFor([&](auto const& p) { return same(p, dumps[1]); }));
  tmux.keys("Right");
  panes.push_back(tmux.waitFor([&](auto const& p) { return same(p, dumps[2]); }));
  // What the terminal shows, read from the pane itself.
  ASSERT_EQ(panes.size(), 3u);
  for (int i = 1; i <= 16; ++i)
    EXPECT_EQ(columnOf(panes[0][size_t(i)], "line " + std::string(i < 10 ? "0" : "") + std::to_string(i)), 2)
        << panes[0][size_t(i)];
  EXPECT_EQ(panes[0][16].substr(0, 3), "▼");
  EXPECT_EQ(panes[0][16].substr(panes[0][16].size() - 3), "▼");
  EXPECT_EQ(panes[1][1].substr(0, 3), "▲");
  EXPECT_EQ(panes[1][1].substr(panes[1][1].size() - 3), "▲");
  EXPECT_EQ(columnOf(panes[1][1], "line 18"), 2);
  EXPECT_EQ(columnOf(panes[1][16], "line 33"), 2);
  for (char const* l : {"line 1", "line 2", "line 3"})
    EXPECT_FALSE(has(panes[2], l)) << "Right shifted the lines 10 columns out of view";
  for (size_t i = 0; i < panes.size(); ++i) {
    ASSERT_EQ(panes[i].size(), 24u) << "screen " << i;
    for (size_t r = 0; r < 24; ++r) EXPECT_EQ(rstrip(panes[i][r]), rstrip(dumps[i][r])) << "screen " << i << " row " << r;
  }
  tmux.keys("Escape");
  EXPECT_EQ(waitForFile(dir.file("status")), "0\n");
  auto pane = tmux.waitFor([](auto const& p) { return has(p, "result -1 lastkey 129"); });
  EXPECT_TRUE(has(pane, "result -1 lastkey 129"));
  EXPECT_FALSE(has(pane, "line 01")) << "window mode left the screen as it was";
  EXPECT_EQ(waitForFile(dir.file("after")), readFile(dir.file("before")));
}

TEST(WintestTmux, UnreadableFileReportIsReadableAndTheTerminalRestored) {
  if (!Tmux::available()) GTEST_SKIP() << "tmux is not installed";
  TempDir dir;
  Tmux tmux(dir);
  ASSERT_TRUE(tmux.start(paneCommand(dir, binPath("wintest") + " nosuch.txt")));
  EXPECT_EQ(waitForFile(dir.file("status")), "1\n");
  auto pane = tmux.waitFor([](auto const& p) { return has(p, "nosuch.txt"); });
  EXPECT_TRUE(has(pane, "Cannot open the file nosuch.txt")) << "the report stays on the screen";
  EXPECT_EQ(waitForFile(dir.file("after")), readFile(dir.file("before")));
}

TEST(WintestTmux, TerminalIsRestoredAfterSigterm) {
  if (!Tmux::available()) GTEST_SKIP() << "tmux is not installed";
  TempDir dir;
  dir.write("lines.txt", fortyLines());
  Tmux tmux(dir);
  ASSERT_TRUE(tmux.start(paneCommand(dir, "sh -c 'echo $$ > pid; exec " + binPath("wintest") + " lines.txt'")));
  tmux.waitFor([](auto const& p) { return has(p, "line 16"); });
  std::string pid = waitForFile(dir.file("pid"));
  ASSERT_FALSE(pid.empty());
  ASSERT_EQ(::kill(pid_t(std::stol(pid)), SIGTERM), 0);
  EXPECT_EQ(waitForFile(dir.file("status")), "15\n") << "an abnormal stop carrying the signal";
  EXPECT_EQ(waitForFile(dir.file("after")), readFile(dir.file("before")));
  auto pane = tmux.capture();
  EXPECT_FALSE(has(pane, "line 01")) << "window mode was left";
}

}  // namespace
