// The sample program run as a real process: what the common entry makes of
// its start name and command line, its exit status, and its refusal of bad
// input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"

using zftest::binPath;
using zftest::RunResult;
using zftest::runProgram;
using zftest::TempDir;

namespace {

bool has(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(Sample, NameAndVersionFromTheStartName) {
  TempDir dir;
  ASSERT_EQ(::symlink(binPath("zsample").c_str(), dir.file("srv-2.0").c_str()), 0);
  RunResult r = runProgram({dir.file("srv-2.0"), "--hide-banner"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "name: srv\nversion: 2.0\n")) << r.out;

  RunResult plain = runProgram({binPath("zsample")});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_TRUE(has(plain.out, "name: zsample\nversion: 1.0\n")) << plain.out;
  EXPECT_TRUE(has(plain.err, "zsample: 1.0 (Linux")) << plain.err;  // the banner
}

TEST(Sample, StartLettersArgumentFileAndEnvironmentFile) {
  TempDir dir;
  std::string args = dir.write("args", "--hide-banner one \"two words\"\n");
  std::string env = dir.write("demo.env", "ZF_GREETING=hello $ZF_WHO/x\n");

  RunResult letters = runProgram({binPath("zsample"), "!adM", "!T", "pts/9", "--hide-banner", "first"});
  EXPECT_EQ(letters.status, 0) << letters.err;
  EXPECT_TRUE(has(letters.out, "may add: no, delete: no, update: yes\n")) << letters.out;
  EXPECT_TRUE(has(letters.out, "message counts: yes\nterminal: pts/9\n")) << letters.out;
  EXPECT_TRUE(has(letters.out, "arguments: 1\n  1: first\n")) << letters.out;

  RunResult file = runProgram({binPath("zsample"), "@" + args, "more"});
  EXPECT_EQ(file.status, 0) << file.err;
  EXPECT_TRUE(has(file.out, "arguments: 2\n  1: one\n  2: two words\nexit code")) << file.out;

  RunResult envFile = runProgram({binPath("zsample"), "!E" + env, "-b", "--show", "ZF_GREETING"}, "",
                                 {{"ZF_WHO", "world"}});
  EXPECT_EQ(envFile.status, 0) << envFile.err;
  EXPECT_TRUE(has(envFile.out, "ZF_GREETING=hello world/x\n")) << envFile.out;
}

TEST(Sample, ExitStatusIsTheLowByteOfTheResult) {
  struct Case {
    char const* code;
    int status;
  };
  Case const cases[] = {{"0", 0}, {"7", 7}, {"300", 44}, {"-1", 255}, {"512", 0}};
  for (Case const& c : cases) {
    RunResult r = runProgram({binPath("zsample"), "-b", "--exit", c.code});
    EXPECT_EQ(r.status, c.status) << c.code << "\n" << r.err;
    EXPECT_FALSE(r.signalled);
  }
}

TEST(Sample, CompileInfoShowsTheBuildText) {
  RunResult r = runProgram({binPath("zsample"), "--compile-info"});
  for (char const* label : {"User: ", "O.S.: ", "Comp: ", "Date: ", "P.L.: "})
    EXPECT_TRUE(has(r.err, std::string("\n") + label) || r.err.rfind(label, 0) == 0) << label << r.err;
  EXPECT_TRUE(has(r.err, "libzeph")) << r.err;
  EXPECT_FALSE(has(r.out, "name:"));  // the program did not run on
}

TEST(Sample, HelpComesFromTheProgramsCatalogue) {
  RunResult r = runProgram({binPath("zsample"), "--help"});
  EXPECT_EQ(r.status, 1);  // help is a fatal report: the program does not run on
  EXPECT_TRUE(has(r.err, "Usage: zsample")) << r.err;
  EXPECT_TRUE(has(r.err, "-x, --exit num : end with this exit code\n")) << r.err;
  EXPECT_TRUE(has(r.err, "-s, --show str : show this environment variable\n")) << r.err;
  EXPECT_FALSE(has(r.err, "Message not found")) << r.err;
}

TEST(Sample, BadInputIsRefusedWithAClearError) {
  TempDir dir;
  std::string longEnv = dir.write("long.env", "X=" + std::string(4000, 'v') + "\n");
  dir.write("bad/english/config", ",\n,\n");
  char const* data = std::getenv("DATADIR");
  std::string badData = dir.file("bad") + ":" + (data ? data : "");
  struct Case {
    std::vector<std::string> args;
    std::string dataDir;
    std::string mention;
  };
  Case const cases[] = {
      {{"@" + dir.file("missing")}, "", dir.file("missing")},
      {{"!E", longEnv}, "", longEnv},
      {{"-b"}, badData, dir.file("bad/english/config")},
      {{"--no-such-option"}, "", "--no-such-option"},
  };
  for (Case const& c : cases) {
    std::vector<std::string> argv = {binPath("zsample")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::map<std::string, std::string> env;
    if (!c.dataDir.empty()) env["DATADIR"] = c.dataDir;
    RunResult r = runProgram(argv, "", env);
    EXPECT_EQ(r.status, 1) << c.mention << "\n" << r.err;
    EXPECT_FALSE(r.signalled);
    EXPECT_TRUE(has(r.err, c.mention)) << r.err;
    EXPECT_FALSE(has(r.err, "Message not found")) << r.err;
    EXPECT_FALSE(has(r.out, "name:")) << r.out;
  }
}
