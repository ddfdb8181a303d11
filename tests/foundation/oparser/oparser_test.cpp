// The command-line option parser: declared options, bundled short options,
// attached and separate arguments, long names and their abbreviations, the
// "--no-" form, the built-in options, the banner and every command-line
// error (a fatal report and a non-zero exit).
#include <gtest/gtest.h>

#include <zfound/LibraryInfo.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>
#include <zfound/Process.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "MsgBytes.h"
#include "TestSupport.h"

namespace {

using zftest::str;

// The process starts as "optprog" version 2.5 with its own catalogue in a
// private directory placed before the build's catalogues on DATADIR. The
// directory is removed by the parent only (children of death tests exit
// without reaching TearDownTestSuite).
class OptionParserTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir = new zftest::TempDir;
    dir->write("english/optprog.msg",
               zftest::msgFileBytes({{"main",
                                      {{"USAGE", "Usage: optprog [options] file..."},
                                       {"LEVELHELP", "Trace level"}}}}));
    char const* built = std::getenv("DATADIR");
    setenv("DATADIR", (dir->path() + ":" + (built ? built : "")).c_str(), 1);
    zftest::startUpOnce("optprog-2.5");
  }
  static void TearDownTestSuite() {
    delete dir;
    dir = nullptr;
  }

  // The program's options, bound to these variables.
  OptionParser* makeParser(bool showBanner = false) {
    auto* p = new OptionParser(showBanner);
    *p << new BoolOption(verbose, "verbose", "Be verbose")
       << new BoolOption(all, "all", 'a', "All of them")
       << new NumOption(num, "num", 'n', "A number", 1, 0, 100)
       << new NumOption(level, "level", 'l', "[LEVELHELP]", 3, 0, 10)
       << new StrOption(mode, modeIndex, "mode", 'm', "[NOKEY\tHow to work]", "fast",
                        "fast\tcareful")
       << new StrOption(out, "output", 'o', "[NOKEY]", String());
    return p;
  }

  // Parses `words` (the program name first); returns what stays in argv.
  std::vector<std::string> parse(std::vector<std::string> words, bool showBanner = false) {
    OptionParser* p = makeParser(showBanner);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int argc = int(words.size());
    EXPECT_EQ(p->parse(argc, argv.data()), 0);
    EXPECT_EQ(argv[size_t(argc)], nullptr);
    std::vector<std::string> rest;
    for (int i = 0; i < argc; ++i) rest.push_back(argv[size_t(i)]);
    delete p;
    return rest;
  }

  // Parses with standard error captured.
  std::string parseErr(std::vector<std::string> words, bool showBanner = false) {
    testing::internal::CaptureStderr();
    parse(std::move(words), showBanner);
    return testing::internal::GetCapturedStderr();
  }

  static zftest::TempDir* dir;
  bool verbose = true, all = true;
  int32_t num = -5, level = -5, modeIndex = -5;
  String mode, out;
};
zftest::TempDir* OptionParserTest::dir = nullptr;

using Words = std::vector<std::string>;

TEST_F(OptionParserTest, DefaultsAreStoredByTheConstructors) {
  delete makeParser();
  EXPECT_FALSE(verbose);
  EXPECT_FALSE(all);
  EXPECT_EQ(num, 1);
  EXPECT_EQ(level, 3);
  EXPECT_EQ(str(mode), "fast");
  EXPECT_EQ(modeIndex, 0);
  EXPECT_TRUE(out.isNull());
}

TEST_F(OptionParserTest, SwitchesLongNamesAbbreviationsAndNegation) {
  struct Case {
    Words words;
    bool verbose;
  } cases[] = {
      {{"p", "-v"}, true},           {{"p", "--verbose"}, true},
      {{"p", "--verb"}, true},       {{"p", "-v", "--no-verbose"}, false},
      {{"p", "-v", "--no-verb"}, false}, {{"p", "-v", "-no-v"}, false},
      {{"p"}, false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.words.back());
    EXPECT_EQ(parse(c.words), Words{"p"});
    EXPECT_EQ(verbose, c.verbose);
  }
}

TEST_F(OptionParserTest, ScanStopsAtTheFirstWordThatIsNoOption) {
  EXPECT_EQ(parse({"prog", "-v", "file", "-x"}), (Words{"prog", "file", "-x"}));
  EXPECT_TRUE(verbose);
  EXPECT_EQ(parse({"prog", "-v", "-- ", "-x"}), (Words{"prog", "-x"}));
  EXPECT_EQ(parse({"prog", "-n", "7", "-a", "x", "y"}), (Words{"prog", "x", "y"}));
  EXPECT_EQ(num, 7);
  EXPECT_TRUE(all);
}

TEST_F(OptionParserTest, ArgumentsAttachedSeparateAndBundled) {
  EXPECT_EQ(parseErr({"p", "-n", "8"}), "");
  EXPECT_EQ(num, 8);
  EXPECT_EQ(parseErr({"p", "--num", "9"}), "");
  EXPECT_EQ(num, 9);
  EXPECT_EQ(parseErr({"p", "-va"}), "");
  EXPECT_TRUE(verbose && all);
  EXPECT_EQ(parseErr({"p", "-an", "5"}),
            "options with arguments can not be combined with other options\n");
  EXPECT_TRUE(all);
  EXPECT_EQ(num, 5);
  EXPECT_EQ(parseErr({"p", "-n6"}), "option arguments should be separated by white space\n");
  EXPECT_EQ(num, 6);
  EXPECT_EQ(parseErr({"p", "-n", "+012"}), "");
  EXPECT_EQ(num, 12);
  EXPECT_EQ(parseErr({"p", "-n", "-0"}), "");
  EXPECT_EQ(num, 0);
}

TEST_F(OptionParserTest, NumberOutOfRangeKeepsTheValueWithAWarning) {
  EXPECT_EQ(parseErr({"p", "--level", "20"}),
            "Option 'level' not between allowed range (0 - 10),\nassuming default (3)\n");
  EXPECT_EQ(level, 3);
  EXPECT_EQ(parseErr({"p", "-l", "-1"}),
            "Option 'level' not between allowed range (0 - 10),\nassuming default (3)\n");
  EXPECT_EQ(parseErr({"p", "-l", "10"}), "");
  EXPECT_EQ(level, 10);
}

TEST_F(OptionParserTest, TextAlternativesExpandAbbreviations) {
  parse({"p", "--mode", "car"});
  EXPECT_EQ(str(mode), "careful");
  EXPECT_EQ(modeIndex, 1);
  parse({"p", "-m", "fast"});
  EXPECT_EQ(str(mode), "fast");
  EXPECT_EQ(modeIndex, 0);
  parse({"p", "-o", "any text"});
  EXPECT_EQ(str(out), "any text");

  String v;
  int32_t idx = 0;
  StrOption o(v, idx, "x", "", "careful", "ca\tcareful\tcar");
  EXPECT_EQ(idx, 1);
  EXPECT_EQ(o.findVal("car"), 2);
  EXPECT_EQ(o.findVal("c"), 0);
  EXPECT_EQ(o.findVal("z"), -1);
  EXPECT_EQ(o.findVal(String()), -1);
}

// Each command-line error is a fatal report with its text and status 1.
TEST_F(OptionParserTest, CommandLineErrorsEndTheProgram) {
  struct Case {
    Words words;
    char const* text;
  } cases[] = {
      {{"p", "-x"}, "^Invalid option: -x\n$"},
      {{"p", "-vx"}, "^Invalid option: -vx\n$"},
      {{"p", "--nosuch"}, "^Invalid option: --nosuch\n$"},
      {{"p", "--"}, "^Invalid option: --\n$"},
      {{"p", "-"}, "^Invalid option: -\n$"},
      {{"p", "--o"}, "^Option --o expects an argument\\.\n$"},  // abbreviates "output"
      {{"p", "-n"}, "^Option -n expects an argument\\.\n$"},
      {{"p", "--num"}, "^Option --num expects an argument\\.\n$"},
      {{"p", "-vn"}, "expects an argument"},
      {{"p", "--no-num", "5"}, "^Negation only applies to bool values\\.\n$"},
      {{"p", "-no-n", "5"}, "^Negation only applies to bool values\\.\n$"},
      {{"p", "--level", "abc"}, "^abc argument not valid for level option\\.\n$"},
      {{"p", "-l", "12x"}, "^12x argument not valid for level option\\.\n$"},
      {{"p", "-l", ""}, "^ argument not valid for level option\\.\n$"},
      {{"p", "-n", "99999999999"}, "^99999999999 argument not valid for num option\\.\n$"},
      {{"p", "-n", "0x1f"}, "^0x1f argument not valid for num option\\.\n$"},
      {{"p", "-n", "-"}, "^- argument not valid for num option\\.\n$"},
      {{"p", "--mode", "text"}, "^text argument not valid for mode option\\.\n$"},
      {{"p", "--h"}, "^Invalid option: --h\n$"},  // help or hide-banner
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.words.back());
    EXPECT_EXIT(parse(c.words), testing::ExitedWithCode(1), c.text);
  }
}

TEST_F(OptionParserTest, HelpListsBuiltInsThenDeclaredOptions) {
  char const* expected =
      "^Usage: optprog \\[options\\] file\\.\\.\\.\n"
      "-H, --help : Show this help text\n"
      "-V, --version : Show the program's version\n"
      "-b, --hide-banner : Do not show the banner line\n"
      "-v, --verbose : Be verbose\n"
      "-a, --all : All of them\n"
      "-n, --num num : A number\n"
      "-l, --level num : Trace level\n"
      "-m, --mode str : How to work\n"
      "-o, --output str : optprog\\.main\\.NOKEY: Message not found\\.\n\n$";
  EXPECT_EXIT(parse({"p", "--help"}), testing::ExitedWithCode(1), expected);
  EXPECT_EXIT(parse({"p", "-H"}), testing::ExitedWithCode(1), expected);
  EXPECT_EXIT(parse({"p", "-Hxyz"}), testing::ExitedWithCode(1), expected);
  EXPECT_EXIT(parse({"p", "--he"}), testing::ExitedWithCode(1), expected);

  OptionParser bare(false);
  bool b = false;
  bare << new BoolOption(b, "", '\0', "no names");
  EXPECT_NE(str(bare.help()).find("\n : no names\n"), std::string::npos) << str(bare.help());
}

TEST_F(OptionParserTest, VersionAndCompileInfo) {
  EXPECT_EXIT(parse({"p", "--version"}), testing::ExitedWithCode(1), "^optprog version 2\\.5\n$");
  EXPECT_EXIT(parse({"p", "-V"}), testing::ExitedWithCode(1), "^optprog version 2\\.5\n$");
  EXPECT_EXIT(parse({"p", "--compile-info"}), testing::ExitedWithCode(1),
              "^No compile-info available\\.\n$");
  auto withData = [this] {
    OptionParser* p = makeParser();
    p->compileData("User: me\n");
    char a0[] = "p", a1[] = "--compile-info";
    char* argv[] = {a0, a1, nullptr};
    int argc = 2;
    p->parse(argc, argv);
  };
  EXPECT_EXIT(withData(), testing::ExitedWithCode(1), "^User: me\n.*\n> libzeph <\nUser: ");
}

TEST_F(OptionParserTest, BannerWindowAndTheirSwitches) {
  std::string banner = "optprog: 2.5 (Linux 1.3.X)\n";
  EXPECT_EQ(parseErr({"p"}, true), banner);
  EXPECT_EQ(parseErr({"p", "file"}, true), banner);
  EXPECT_EQ(parseErr({"p", "--hide-banner"}, true), "");
  EXPECT_EQ(parseErr({"p", "-b"}, true), "");
  EXPECT_EQ(parseErr({"p"}, false), "");
  EXPECT_EQ(parseErr({"p", "--window"}), "Can't edit options on non-GUI application.\n");
  EXPECT_EQ(parseErr({"p", "-W"}), "Can't edit options on non-GUI application.\n");
  testing::internal::CaptureStderr();
  {
    OptionParser p(String("ignored"));
    char a0[] = "p";
    char* argv[] = {a0, nullptr};
    int argc = 1;
    p.parse(argc, argv);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), banner);
}

}  // namespace
