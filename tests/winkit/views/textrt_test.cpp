// textrt as a real process: showing files and command output, copying texts
// byte for byte, a failed store, a hostile name for the administered store
// and an over-long line.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

namespace {

zftest::RunResult textrt(std::vector<std::string> args, std::string const& cwd = "") {
  std::string prog = zftest::binPath("textrt");
  if (cwd.empty()) {
    args.insert(args.begin(), prog);
    return zftest::runProgram(args);
  }
  // Run from cwd: the shell changes directory, then starts the program.
  std::vector<std::string> sh = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd, prog};
  sh.insert(sh.end(), args.begin(), args.end());
  return zftest::runProgram(sh);
}

TEST(TextRt, ShowFiles) {
  zftest::TempDir dir;
  struct {
    char const* content;
    char const* out;
  } const cases[] = {
      {"a\tb\n", "0: a^_^_^Ib\n"},
      {"\033[1mab\033[4mcd\033[0mef", "0: abcdef\nzone 0,0-0,1 0x800\nzone 0,2-0,3 0x900\n"},
      {"x\033[9my\n", "0: x^[[9my\n"},
      {"a\033[31mbc\nde\n", "0: abc\n1: de\nzone 0,1-1,1 0x10000\n"},
      {"\n\n", "0: \n1: \n"},
      {"\177\351\n", "0: ^?\351\n"},
  };
  for (auto const& k : cases) {
    std::string f = dir.write("in.txt", k.content);
    zftest::RunResult r = textrt({"show", f});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, k.out) << k.content;
  }
}

TEST(TextRt, ShowCommands) {
  zftest::RunResult r = textrt({"cmd", "printf 'a\\tb\\n'"});
  EXPECT_EQ(r.out, "0: a^_^_^Ib\n");
  r = textrt({"cmd", "false"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = textrt({"cmd", "seq 100000"});
  EXPECT_EQ(r.status, 0);
  size_t lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_EQ(lines, 100000u);
  EXPECT_EQ(r.out.substr(0, 6), "0: 1\n1");
  EXPECT_NE(r.out.find("\n99999: 100000\n"), std::string::npos);
}

TEST(TextRt, CopyIsByteForByte) {
  zftest::TempDir dir;
  std::string stored =
      "\tx\n a\tb\n  ab\tc\n   abc\td\n\t\t\n\n"
      "\033[1mbold\033[0m plain \033[1;4mbu\n\033[0mstart \033[31;42mcolour\n"
      "across\033[0m end\n\033[44mbg\n\033[0m\351t\351 caf\351\n"
      "\033[5;7mto the end\nlast\n";
  std::string in = dir.write("in.txt", stored);
  zftest::RunResult r = textrt({"copy", in, dir.file("out.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zftest::readFile(dir.file("out.txt")), stored);

  dir.write("seq.txt", "\033[1mab\033[4mcd\033[0mef\n");
  r = textrt({"copy", dir.file("seq.txt"), dir.file("seq.out")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zftest::readFile(dir.file("seq.out")), "\033[1mab\033[0m\033[1;4mcd\033[0mef\n");

  r = textrt({"copy", in, "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
}

TEST(TextRt, HostileAdministeredNameRunsNothing) {
  zftest::TempDir dir;
  zftest::RunResult r = textrt({"show", "x;touch PWNED"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_NE(::access(dir.file("PWNED").c_str(), F_OK), 0);
  r = textrt({"show", "$(touch PWNED2)'\"`touch PWNED3`"}, dir.path());
  EXPECT_EQ(r.out, "");
  EXPECT_NE(::access(dir.file("PWNED2").c_str(), F_OK), 0);
  EXPECT_NE(::access(dir.file("PWNED3").c_str(), F_OK), 0);
}

TEST(TextRt, OverlongLineIsReported) {
  zftest::TempDir dir;
  std::string f = dir.write("long.txt", "short\n" + std::string(65530, 'a') + "\t\tb\n");
  zftest::RunResult r = textrt({"show", f});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("line 2 is longer than 65535"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("long.txt"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("1: aaaa"), std::string::npos);
}

TEST(TextRt, Usage) {
  zftest::RunResult r = textrt({"bogus"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Usage: textrt show FILE"), std::string::npos) << r.err;
}

}  // namespace
