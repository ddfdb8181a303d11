// National settings: the "config" file on the DATADIR path (or under
// $ZEPHRA/data), its defaults, partial and damaged files, and the directory
// path search.
#include <gtest/gtest.h>

#include <zfound/Config.h>
#include <zfound/MsgTable.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"

using zftest::ScopedEnv;
using zftest::TempDir;

namespace {

char const* const kDays[7] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
char const* const kMonths[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                 "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

// Settings read from a private directory: DATADIR and LANGUAGE point there.
class ConfigTest : public ::testing::Test {
protected:
  void SetUp() override { _createConfig(); }
  ConfigLoadResult load(std::string const& text, char const* language = "english") {
    dir.write(std::string(language) + "/config", text);
    ScopedEnv lang("LANGUAGE", language);
    return _loadConfig();
  }
  void expectDefaults() {
    EXPECT_EQ(decPoint(), '.');
    EXPECT_EQ(thousandSep(), ',');
    EXPECT_EQ(dateFmt(), 0);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(dayOfWeekName(i), kDays[i]) << i;
    for (int i = 0; i < 12; ++i) EXPECT_EQ(monthName(i), kMonths[i]) << i;
  }
  TempDir dir;
  ScopedEnv dataDir{"DATADIR", dir.path()};
};

std::string fullFile() {
  std::string t = ",\n.\ninter\n";
  for (char const* d : {"dom", "lun", "mar", "mie", "jue", "vie", "sab"}) t += std::string(d) + "\n";
  for (int m = 1; m <= 12; ++m) t += "mes" + std::to_string(m) + "\n";
  return t + "ignored line\n";
}

}  // namespace

TEST_F(ConfigTest, NoFileKeepsDefaults) {
  ConfigLoadResult r = _loadConfig();
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.file.isNull());
  expectDefaults();
}

TEST_F(ConfigTest, FullFileSetsEverything) {
  ConfigLoadResult r = load(fullFile());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.file, (dir.path() + "/english/config").c_str());
  EXPECT_EQ(decPoint(), ',');
  EXPECT_EQ(thousandSep(), '.');
  EXPECT_EQ(dateFmt(), 0);
  EXPECT_EQ(dayOfWeekName(0), "dom");
  EXPECT_EQ(dayOfWeekName(6), "sab");
  EXPECT_EQ(monthName(0), "mes1");
  EXPECT_EQ(monthName(11), "mes12");
}

TEST_F(ConfigTest, PartialFilesLeaveTheRestAtDefaults) {
  struct Case {
    char const* text;
    char dec, sep;
    int32_t fmt;
    int namedDays;  // days taken from the file (named d0, d1, ...)
  };
  Case const cases[] = {
      {",\n.\ninter\n", ',', '.', 0, 0},
      {",\n.\nINTER", ',', '.', 0, 0},  // last line without newline
      {",\n.\nus\n", ',', '.', 1, 0},
      {",\n.\n\n", ',', '.', 1, 0},  // an empty format line is "anything else"
      {"'\n", '\'', ',', 0, 0},
      {",\n.\nus\nd0\nd1\nd2\nd3\nd4\n", ',', '.', 1, 5},  // ends after the fifth day
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(load(c.text).ok);
    EXPECT_EQ(decPoint(), c.dec);
    EXPECT_EQ(thousandSep(), c.sep);
    EXPECT_EQ(dateFmt(), c.fmt);
    for (int i = 0; i < 7; ++i) {
      std::string want = i < c.namedDays ? "d" + std::to_string(i) : kDays[i];
      EXPECT_EQ(dayOfWeekName(i), want.c_str()) << i;
    }
    for (int i = 0; i < 12; ++i) EXPECT_EQ(monthName(i), kMonths[i]) << i;
  }
}

TEST_F(ConfigTest, OnlyTheTrailingNewlineIsDropped) {
  // A last line without a newline keeps its last character; a carriage
  // return is part of the name.
  ASSERT_TRUE(load(".\n,\ninter\nDOMINGO\nLUNES").ok);
  EXPECT_EQ(dayOfWeekName(0), "DOMINGO");
  EXPECT_EQ(dayOfWeekName(1), "LUNES");
  ASSERT_TRUE(load(".\n,\ninter\nDOMINGO\r\n").ok);
  EXPECT_EQ(dayOfWeekName(0), "DOMINGO\r");
  // A line of exactly 1,023 characters is whole.
  std::string longName(1023, 'N');
  ASSERT_TRUE(load(".\n,\ninter\n" + longName + "\n").ok);
  EXPECT_EQ(dayOfWeekName(0), longName.c_str());
}

TEST_F(ConfigTest, DamagedFileIsRefusedWholeAndNamed) {
  struct Case {
    std::string text;
    int32_t line;
  };
  Case const cases[] = {
      {"\n,\ninter\n", 1},                                  // no decimal point
      {".\n\ninter\n", 2},                                  // no thousands separator
      {".\n.\ninter\n", 2},                                 // both separators the same
      {".\n,\ninter\nSUN\n\n", 5},                          // an empty day name
      {".\n,\ninter\n" + std::string(1024, 'X') + "\n", 4}, // a line too long
      {std::string(".\n,\nin\0ter\n", 12), 3},              // a NUL byte
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.line);
    // A sound file first, so that refusing the damaged one must restore the
    // defaults rather than keep what an earlier load set.
    ASSERT_TRUE(load(fullFile()).ok);
    ConfigLoadResult r = load(c.text);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.line, c.line);
    EXPECT_EQ(r.file, (dir.path() + "/english/config").c_str());
    expectDefaults();
  }
}

TEST_F(ConfigTest, NamesOutsideTheirRangeAreNull) {
  EXPECT_TRUE(dayOfWeekName(7).isNull());
  EXPECT_TRUE(dayOfWeekName(-1).isNull());
  EXPECT_TRUE(monthName(12).isNull());
  EXPECT_TRUE(monthName(-1).isNull());
  dateFmt(1);
  EXPECT_EQ(dateFmt(), 1);
}

TEST_F(ConfigTest, SearchPathLanguageAndZephraFallback) {
  TempDir a, b, z;
  b.write("english/config", ";\n:\n");
  b.write("deutsch/config", "!\n?\n");
  z.write("data/english/config", "_\n+\n");
  {
    ScopedEnv path("DATADIR", a.path() + "::" + b.path());
    ScopedEnv lang("LANGUAGE", "english");
    ConfigLoadResult r = _loadConfig();
    EXPECT_EQ(r.file, (b.path() + "/english/config").c_str());
    EXPECT_EQ(decPoint(), ';');
  }
  {
    ScopedEnv path("DATADIR", a.path() + ":" + b.path());
    ScopedEnv lang("LANGUAGE", "deutsch");
    _loadConfig();
    EXPECT_EQ(decPoint(), '!');
  }
  {
    ScopedEnv path("DATADIR", "", true);
    ScopedEnv lang("LANGUAGE", "", true);  // defaults to english
    ScopedEnv zephra("ZEPHRA", z.path());
    _loadConfig();
    EXPECT_EQ(decPoint(), '_');
    EXPECT_EQ(thousandSep(), '+');
  }
}

TEST(OpenDataDirFile, FirstEntryThatHasTheFile) {
  TempDir a, b;
  a.write("sub/other", "x");
  // A directory of the file's name is no file: the search goes on past it.
  a.write("sub/file/inside", "x");
  b.write("sub/file", "from b");
  FILE* f = openDataDirFile(String((a.path() + ":" + b.path()).c_str()), String("sub"), String("file"));
  ASSERT_NE(f, nullptr);
  char buf[16] = {};
  ASSERT_NE(std::fgets(buf, sizeof buf, f), nullptr);
  EXPECT_STREQ(buf, "from b");
  std::fclose(f);
  EXPECT_EQ(openDataDirFile(String(a.path().c_str()), String("sub"), String("file")), nullptr);
  EXPECT_EQ(openDataDirFile(String(), String("sub"), String("file")), nullptr);
}
