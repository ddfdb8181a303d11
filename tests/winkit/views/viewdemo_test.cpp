// The viewdemo program headless: typing, joining, splitting, blocks, tabs
// and overwrite leave the expected bytes in the stored file; the labels of
// two views of one file, the control mode and the status line on screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using zftest::binPath;
using zftest::readFile;
using zftest::runProgram;
using zftest::RunResult;
using zftest::TempDir;

// Runs viewdemo on files of `dir` with a key script; the dumped screens.
RunResult viewdemo(TempDir& dir, std::vector<std::string> files, std::string const& keys, std::string& screens) {
  std::string script = dir.write("keys", keys + "\n");
  std::string screen = dir.file("screen");
  std::vector<std::string> argv{binPath("viewdemo")};
  argv.insert(argv.end(), files.begin(), files.end());
  RunResult r = runProgram(argv, "", {{"ZEPH_HEADLESS", script}, {"ZEPH_SCREEN", screen}}, 30);
  screens = readFile(screen);
  return r;
}

// The screen rows (80 columns in UTF-8) of the first dump.
std::vector<std::string> rows(std::string const& dump) {
  std::vector<std::string> out;
  size_t start = 0;
  for (int i = 0; i < 24 && start < dump.size(); ++i) {
    size_t nl = dump.find('\n', start);
    out.push_back(dump.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

TEST(ViewDemo, StoredBytesAfterEditing) {
  struct {
    char const* before;
    char const* keys;
    char const* after;
  } cases[] = {
      {"hello\nworld\n", "\"X\" down \"Y\"", "Xhello\nwYorld\n"},
      {"one\ntwo\n", "down bs", "onetwo\n"},
      {"hello\n", "right right enter", "he\nllo\n"},
      {"abc\ndef\n", "k155 \"b\" right right k155 \"c\" down k155 \"v\"", "abc\ndeabf\n"},
      {"aaa\nbbb\nccc\n", "right k155 \"b\" down down k155 \"d\"", "acc\n"},
      {"\t\n", "\"x\"", "x\t\n"},
      {"abc\n", "ins \"X\"", "Xbc\n"},
      // The mark after the cursor: its own character belongs to the region.
      {"abcdefgh\n", "right right right right right right k155 \"b\" left left left left k155 \"d\"", "abh\n"},
      {"ab\n", "del del", "\n"},
      {"x\n", "tab \"y\"", "\tyx\n"},
  };
  for (auto const& c : cases) {
    TempDir dir;
    std::string f = dir.write("f", c.before);
    std::string screens;
    RunResult r = viewdemo(dir, {f}, std::string(c.keys) + " save esc", screens);
    EXPECT_EQ(r.status, 0) << c.keys << "\n" << r.err;
    EXPECT_EQ(readFile(f), c.after) << c.keys;
  }
}

TEST(ViewDemo, TwoViewsOfOneFileAreNumbered) {
  TempDir dir;
  std::string f = dir.write("f", "shared\n");
  std::string screens;
  RunResult r = viewdemo(dir, {"f", "f"}, "dump esc", screens);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> s = rows(screens);
  ASSERT_EQ(s.size(), 24u);
  EXPECT_NE(s[0].find(" f [0] "), std::string::npos) << s[0];
  EXPECT_NE(s[11].find(" f [1] "), std::string::npos) << s[11];
  EXPECT_EQ(s[10].rfind("└───Ins─1:1─", 0), 0u) << "not current: a single frame, lines: " << s[10];
}

TEST(ViewDemo, ControlModeAndStatusLine) {
  TempDir dir;
  std::string f = dir.write("f", "");
  std::string screens;
  RunResult r = viewdemo(dir, {f}, "dump \"a\" tab \"b\" k155 \"t\" dump ins dump esc", screens);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string all = screens;
  std::vector<std::string> first = rows(all);
  ASSERT_EQ(first.size(), 24u);
  // Current view: the bottom frame row filled with the shade, "Ins" at 3, "1:1" at 7.
  EXPECT_EQ(first[10].substr(0, 12), "╚▒▒▒") << "the current view: double frame, shaded";
  EXPECT_NE(first[10].find("Ins▒1:1▒"), std::string::npos) << first[10];
  size_t secondAt = 0;
  for (int i = 0; i < 24; ++i) secondAt = all.find('\n', secondAt) + 1;
  std::vector<std::string> second = rows(all.substr(secondAt));
  EXPECT_EQ(second[1].substr(0, std::string("║a..«b$").size()), "║a..«b$") << second[1];
  EXPECT_NE(second[10].find("Ins▒1:6▒"), std::string::npos) << second[10];
  size_t thirdAt = secondAt;
  for (int i = 0; i < 24; ++i) thirdAt = all.find('\n', thirdAt) + 1;
  std::vector<std::string> third = rows(all.substr(thirdAt));
  EXPECT_NE(third[10].find("Ovr"), std::string::npos) << third[10];
}

TEST(ViewDemo, SharedTextRedrawsBothViewsAndNextViewTakesTheKeys) {
  TempDir dir;
  std::string f = dir.write("f", "abc\n");
  std::string g = dir.write("g", "xyz\n");
  std::string screens;
  // Two views of f: typing in the current one shows in both.
  RunResult r = viewdemo(dir, {f, f}, "\"Q\" dump esc", screens);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> s = rows(screens);
  ASSERT_EQ(s.size(), 24u);
  EXPECT_EQ(s[1].substr(0, 7), "│Qabc") << s[1];
  EXPECT_EQ(s[12].substr(0, 7), "║Qabc") << s[12];
  // f then g: g is current; Alt n makes f current, and the keys go there.
  r = viewdemo(dir, {f, g}, "k155 \"n\" \"Z\" save esc", screens);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(f), "Zabc\n");
  EXPECT_EQ(readFile(g), "xyz\n");
}

TEST(ViewDemo, WithoutFilesShowsItsUsage) {
  RunResult r = runProgram({binPath("viewdemo")}, "", {}, 30);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Usage: viewdemo FILE..."), std::string::npos) << r.err;
}

}  // namespace
