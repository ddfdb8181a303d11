// Tests of the environment lookup with its defaults, putting variables, the
// environment file (references, comments, long lines and names, a missing
// file) and the plain-function lookup with its handler.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include <zfound/Environ.h>
#include <zfound/Message.h>
#include <zfound/Process.h>

namespace {

std::string env(char const* name) {
  char const* v = std::getenv(name);
  return v ? v : "<unset>";
}

TEST(Environ, LookupFallsBackToDefaults) {
  {
    zftest::ScopedEnv l("LANGUAGE", "", true);
    EXPECT_STREQ(readEnvVar("LANGUAGE"), "english");
  }
  {
    zftest::ScopedEnv l("LANGUAGE", "");
    EXPECT_STREQ(readEnvVar("LANGUAGE"), "");
  }
  zftest::ScopedEnv z("ZEPHRA", "", true);
  EXPECT_STREQ(readEnvVar("ZEPHRA"), "/usr/zephra");
  zftest::ScopedEnv c("CORVANE", "", true);
  EXPECT_STREQ(readEnvVar("CORVANE"), "/usr/local/corvane");
  zftest::ScopedEnv m("MAXFILES", "", true);
  EXPECT_STREQ(readEnvVar("MAXFILES"), "16");
  zftest::ScopedEnv h("HOME", "", true);
  EXPECT_EQ(readEnvVar("HOME"), nullptr);
  EXPECT_EQ(readEnvVar(nullptr), nullptr);
}

TEST(Environ, PutEnvVar) {
  zftest::ScopedEnv v("ZF_ENV_T1", "", true);
  putEnvVar("");
  putEnvVar(nullptr);
  EXPECT_EQ(env("ZF_ENV_T1"), "<unset>");
  std::string text = "ZF_ENV_T1=abc";
  putEnvVar(text.c_str());
  text[10] = 'X';  // the environment holds its own copy
  EXPECT_EQ(env("ZF_ENV_T1"), "abc");
}

struct EnvFileCase {
  std::string file;                                     // contents of the file
  int rc;                                               // setEnvironment's result
  std::vector<std::pair<char const*, char const*>> expect;  // name, value ("<unset>")
};

TEST(Environ, EnvironmentFile) {
  zftest::TempDir dir;
  char const* names[] = {"ZF_EF_DATA", "ZF_EF_P", "ZF_EF_A", "ZF_EF_B", "ZF_EF_LAST",
                         "ZF_EF_REF", "ZF_EF_Z", "ZF_EF_JUST", "ZF_EF_OK", "ZF_EF_AFTER",
                         "ZF_EF_CR", "ZF_EF_EMPTY"};
  std::string longName(40, 'N');
  std::string longLine = "ZF_EF_AFTER=" + std::string(2100, 'x') + "\n";
  EnvFileCase cases[] = {
      {"ZF_EF_DATA=$ZF_EF_Z/data\n", 0, {{"ZF_EF_DATA", "/opt/z/data"}}},
      {"ZF_EF_DATA=$ZF_EF_NOPE/data\n", 0, {{"ZF_EF_DATA", "/data"}}},
      {"ZF_EF_P=$ZF_EF_A:$ZF_EF_B\n", 0, {{"ZF_EF_P", "1:2"}}},
      // An empty value counts as unset; a name runs to ":", "/" or the line's end.
      {"ZF_EF_P=[$ZF_EF_EMPTY/]\n", 0, {{"ZF_EF_P", "[/]"}}},
      {"ZF_EF_P=[$ZF_EF_A]\n", 0, {{"ZF_EF_P", "["}}},
      // Earlier lines of the same file are visible to later ones.
      {"ZF_EF_A=first\nZF_EF_REF=$ZF_EF_A/x\n", 0, {{"ZF_EF_REF", "first/x"}}},
      // Comments and empty lines put nothing; a name alone goes to putenv.
      {"# ZF_EF_OK=no\n\nZF_EF_JUST\n", 0, {{"ZF_EF_OK", "<unset>"}}},
      // The last line keeps its last character without a final newline.
      {"ZF_EF_LAST=abc", 0, {{"ZF_EF_LAST", "abc"}}},
      {"ZF_EF_LAST=abc\n", 0, {{"ZF_EF_LAST", "abc"}}},
      // No trimming: a carriage return and blanks stay.
      {"ZF_EF_CR= v \r\n", 0, {{"ZF_EF_CR", " v \r"}}},
      // A reference at the end of the file.
      {"ZF_EF_P=x$ZF_EF_A", 0, {{"ZF_EF_P", "x1"}}},
      // Too long a line: -1, the lines before it applied, none after.
      {"ZF_EF_OK=yes\n" + longLine + "ZF_EF_P=after\n", -1,
       {{"ZF_EF_OK", "yes"}, {"ZF_EF_AFTER", "<unset>"}, {"ZF_EF_P", "<unset>"}}},
      // Too long a reference name: rejected the same way.
      {"ZF_EF_OK=yes\nZF_EF_P=$" + longName + "/x\nZF_EF_B=after\n", -1,
       {{"ZF_EF_OK", "yes"}, {"ZF_EF_P", "<unset>"}, {"ZF_EF_B", "2"}}},
  };
  int n = 0;
  for (auto const& c : cases) {
    std::vector<std::unique_ptr<zftest::ScopedEnv>> keep;
    for (char const* name : names) keep.push_back(std::make_unique<zftest::ScopedEnv>(name, "", true));
    keep.push_back(std::make_unique<zftest::ScopedEnv>("ZF_EF_Z", "/opt/z"));
    keep.push_back(std::make_unique<zftest::ScopedEnv>("ZF_EF_A", "1"));
    keep.push_back(std::make_unique<zftest::ScopedEnv>("ZF_EF_B", "2"));
    keep.push_back(std::make_unique<zftest::ScopedEnv>("ZF_EF_EMPTY", ""));
    std::string path = dir.write("env" + std::to_string(n++), c.file);
    EXPECT_EQ(setEnvironment(path.c_str()), c.rc) << c.file;
    for (auto const& [name, value] : c.expect) EXPECT_EQ(env(name), value) << c.file;
  }
  EXPECT_EQ(setEnvironment(dir.file("missing").c_str()), -1);
  EXPECT_EQ(setEnvironment(dir.path().c_str()), -1);  // a directory cannot be read
  // A line of exactly 2047 characters is accepted.
  zftest::ScopedEnv a("ZF_EF_AFTER", "", true);
  std::string exact = "ZF_EF_AFTER=" + std::string(2047 - 12, 'y');
  EXPECT_EQ(setEnvironment(dir.write("exact", exact + "\n").c_str()), 0);
  EXPECT_EQ(env("ZF_EF_AFTER"), exact.substr(12));
}

std::vector<std::string> handlerCalls;
void recordingHandler(char const* name, char const* file, int line) {
  handlerCalls.push_back(std::string(name) + "@" + file + ":" + std::to_string(line));
}

TEST(Environ, PlainLookupCallsTheHandler) {
  zftest::ScopedEnv u("ZF_ENV_MISSING", "", true);
  zftest::ScopedEnv s("ZF_ENV_SET", "v");
  ReadEnvHandler old = SetReadEnvHandler(recordingHandler);
  EXPECT_EQ(old, &defaultReadEnvHandler);
  handlerCalls.clear();
  EXPECT_STREQ(def_ReadEnv("ZF_ENV_SET", "f.c", 3), "v");
  EXPECT_EQ(def_ReadEnv("ZF_ENV_MISSING", "f.c", 7), nullptr);
  EXPECT_EQ(handlerCalls, std::vector<std::string>{"ZF_ENV_MISSING@f.c:7"});
  EXPECT_EQ(SetReadEnvHandler(nullptr), &recordingHandler);
  EXPECT_EQ(def_ReadEnv("ZF_ENV_MISSING", "f.c", 9), nullptr);
  EXPECT_EQ(handlerCalls.size(), 1u);
  SetReadEnvHandler(old);
}

int printingFatalHandler(int, char const*, char const* text) {
  std::fprintf(stderr, "FATAL<%s>\n", text);
  return 0;
}

// Reports a missing variable through the default handler, after start-up
// when `started`; the report stops the process.
void reportMissing(bool started) {
  if (started) zftest::startUpOnce("environ_test");
  fatalErrorHandler(printingFatalHandler);
  SetReadEnvHandler(defaultReadEnvHandler);
  def_ReadEnv("ZF_ENV_MISSING", "f.c", 7);
  std::exit(0);  // not reached when the report stops the process
}

// Before start-up the text is built in; after it, it is the library
// catalogue's "NOENV" of section "gn".
TEST(EnvironDeathTest, DefaultHandlerIsAFatalReport) {
  zftest::ScopedEnv u("ZF_ENV_MISSING", "", true);
  for (bool started : {false, true})
    EXPECT_DEATH(reportMissing(started), "FATAL<f.c\\(7\\): environment variable ZF_ENV_MISSING is not set.")
        << (started ? "after start-up" : "before start-up");
}

}  // namespace
