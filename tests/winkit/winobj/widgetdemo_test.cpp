// The widgetdemo program's history mode: the stored text form, entries with
// newlines, trimmed duplicates, and a history file it refuses left as it was.
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
