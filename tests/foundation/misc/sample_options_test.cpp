// The sample program's command line as a real process: the built-in
// options, bundled short options, attached and separate arguments,
// abbreviated long names, the "--no-" form, every command-line error (its
// text and a non-zero status), the trace levels of ZXVERBOSELEVEL and texts
// from the program's catalogue under DATADIR and LANGUAGE.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "MsgBytes.h"
#include "TestSupport.h"

using zftest::binPath;
using zftest::RunResult;
using zftest::runProgram;

namespace {

struct Case {
  std::vector<std::string> args;
  std::map<std::string, std::string> env;
  int status;
  std::string err;  // the whole of standard error
  std::string out;  // a part of standard output ("" when nothing is required)
};

TEST(SampleOptions, CommandLineBehaviour) {
  std::string const banner = "zsample: 1.0 (Linux 1.3.X)\n";
  std::map<std::string, std::string> const noLevels = {{"ZXVERBOSELEVEL", ""}};
  Case const cases[] = {
      {{}, {}, 0, banner, "arguments: 0\n"},
      {{"--hide-banner"}, {}, 0, "", "arguments: 0\n"},
      {{"--version"}, {}, 1, "zsample version 1.0\n", ""},
      {{"-V"}, {}, 1, "zsample version 1.0\n", ""},
      // Switches: short, long, abbreviated, and the "--no-" form.
      {{"-b", "-v"}, noLevels, 0, "", "trace levels:\nexit code: 0\n"},
      {{"-b", "--verb", "--no-verbose"}, {}, 0, "", "arguments: 0\nexit code: 0\n"},
      // Arguments: separate, attached, bundled after a switch, long and
      // abbreviated; scanning stops at the first word that is no option.
      {{"-b", "-x", "6"}, {}, 6, "", "exit code: 6\n"},
      {{"-b", "-x5"}, {}, 5, "option arguments should be separated by white space\n", ""},
      {{"-b", "-vx", "5"}, noLevels, 5, "options with arguments can not be combined with other options\n",
       "trace levels:\n"},
      {{"-b", "--ex", "7", "file", "-q"}, {}, 7, "", "arguments: 2\n  1: file\n  2: -q\n"},
      // Errors: the text on standard error and status 1; the program never runs.
      {{"-b", "-q"}, {}, 1, "Invalid option: -q\n", ""},
      {{"-b", "-vq"}, {}, 1, "Invalid option: -vq\n", ""},
      {{"-b", "--nosuch"}, {}, 1, "Invalid option: --nosuch\n", ""},
      {{"-b", "-x"}, {}, 1, "Option -x expects an argument.\n", ""},
      {{"-b", "--exit"}, {}, 1, "Option --exit expects an argument.\n", ""},
      {{"-b", "--exit", "abc"}, {}, 1, "abc argument not valid for exit option.\n", ""},
      {{"-b", "--no-exit", "3"}, {}, 1, "Negation only applies to bool values.\n", ""},
      // ZXVERBOSELEVEL selects the trace levels.
      {{"-b", "-v"}, {{"ZXVERBOSELEVEL", "3+5-1"}}, 0, "", "trace levels: 0 2 5\n"},
      {{"-b", "-v"}, {{"ZXVERBOSELEVEL", "2+0+4"}}, 0, "", "trace levels: 0 1\n"},
      // Texts of the program's own catalogue; a missing key names itself.
      {{"-b", "-m", "GREETING"}, {}, 0, "", "message: Hello from the sample program.\n"},
      {{"-b", "--message", "NOSUCH"}, {}, 0, "", "message: zsample.main.NOSUCH: Message not found.\n"},
  };
  for (Case const& c : cases) {
    std::vector<std::string> argv = {binPath("zsample")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string trace;
    for (auto const& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    RunResult r = runProgram(argv, "", c.env);
    EXPECT_FALSE(r.signalled);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    if (!c.out.empty()) {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
    if (c.status == 1) {
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST(SampleOptions, HelpListsBuiltInsAndDeclaredOptions) {
  RunResult r = runProgram({binPath("zsample"), "--he"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  for (char const* line : {"\n-H, --help : Show this help text\n", "\n-V, --version : Show the program's version\n",
                           "\n-b, --hide-banner : Do not show the banner line\n",
                           "\n-v, --verbose : show the trace levels that are on\n",
                           "\n-m, --message str : show the program's text of this key\n"})
    EXPECT_NE(r.err.find(line), std::string::npos) << line << r.err;
}

// The catalogue is the one of LANGUAGE in the first DATADIR directory that
// has it; another language's catalogue is never used in its place.
TEST(SampleOptions, TextsFollowDataDirAndLanguage) {
  zftest::TempDir dir;
  dir.write("deutsch/zsample.msg", zftest::msgFileBytes({{"main", {{"GREETING", "Hallo."}}}}));
  char const* built = std::getenv("DATADIR");
  std::string dataDir = dir.path() + ":" + (built ? built : "");
  struct Lang {
    char const* language;
    char const* text;
  } const langs[] = {
      {"deutsch", "message: Hallo.\n"},
      {"english", "message: Hello from the sample program.\n"},
      {"spanish", "message: zsample.main.GREETING: Message not found.\n"},
  };
  for (Lang const& l : langs) {
    RunResult r = runProgram({binPath("zsample"), "-b", "-m", "GREETING"}, "",
                             {{"DATADIR", dataDir}, {"LANGUAGE", l.language}});
    EXPECT_EQ(r.status, 0) << l.language << r.err;
    EXPECT_NE(r.out.find(l.text), std::string::npos) << l.language << "\n" << r.out;
  }
}

}  // namespace
