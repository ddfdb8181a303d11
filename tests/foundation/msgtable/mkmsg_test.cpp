// The build's catalogue writer: the exact file form, the text exchange rules
// it reads, and the source errors that stop the build.
#include <gtest/gtest.h>

#include <zfound/MsgTable.h>

#include <cstdlib>
#include <string>

#include "MsgBytes.h"
#include "TestSupport.h"

namespace {

// The writer lives in <build>/tools; the catalogues it writes in <build>/data.
std::string writerPath() {
  char const* data = std::getenv("DATADIR");
  std::string d = data ? data : "";
  d = d.substr(0, d.find(':'));
  return d + "/../tools/zfmkmsg";
}

zftest::RunResult runWriter(std::string const& out, std::vector<std::string> const& sources) {
  std::vector<std::string> argv = {writerPath(), out};
  argv.insert(argv.end(), sources.begin(), sources.end());
  return zftest::runProgram(argv);
}

TEST(CatalogueWriter, WritesTheExactFileForm) {
  zftest::TempDir dir;
  std::string src = dir.write("main.txt", "@(#)@\nHELLO\nHi\n");
  auto r = runWriter(dir.file("one.msg"), {src});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected("\x00\x00\x00\x10\x00\x04main\x00\x00\x00\x02Hi\x00\x00\x00\x00\x00\x05HELLO"
                       "\x00\x00\x00\x0c\xff\xff\xff\xff",
                       35);
  EXPECT_EQ(zftest::readFile(dir.file("one.msg")), expected);

  // Sections in name order, entries in key order, as the test builder lays
  // them out.
  std::string db = dir.write("db.txt", "@(#)@\nZ\nlast\n@(#)@\nA\nfirst\n");
  r = runWriter(dir.file("two.msg"), {src, db});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zftest::readFile(dir.file("two.msg")),
            zftest::msgFileBytes({{"db", {{"A", "first"}, {"Z", "last"}}}, {"main", {{"HELLO", "Hi"}}}}));
}

TEST(CatalogueWriter, ReadsTextsAsTheLoaderDoes) {
  zftest::TempDir dir;
  std::string src = dir.write("english-src/main.txt",
                              "@(#)@\r\nMULTI\r\nline one\r\n\r\nline three\r\n"
                              "@(#)@\nLEAD\n\n\nafter blanks\n"
                              "@(#)@\nNOTEXT\n"
                              "@(#)@\nTRAIL\nends with newline\n\n"
                              "@(#)@\nREF\n~MULTI\n"
                              "@(#)@\nCUT\nkept\nno newline");
  dir.write("english/.keep", "");
  auto r = runWriter(dir.file("english/cat.msg"), {src});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("no newline"), std::string::npos);
  zftest::ScopedEnv d("DATADIR", dir.path());
  zftest::ScopedEnv l("LANGUAGE", "english");
  MsgTable t("cat", "main", false);
  auto text = [&t](char const* k) { return std::string(toCharPtr(t.find(k))); };
  EXPECT_EQ(text("MULTI"), "line one\n\nline three");
  EXPECT_EQ(text("LEAD"), "after blanks");
  EXPECT_EQ(text("NOTEXT"), "");
  EXPECT_EQ(text("TRAIL"), "ends with newline\n");
  EXPECT_EQ(text("REF"), "line one\n\nline three");
  EXPECT_EQ(text("CUT"), "kept");
}

TEST(CatalogueWriter, SourceErrorsStopTheBuild) {
  struct Case {
    char const* what;
    char const* text;
    char const* message;
  } cases[] = {
      {"no separator first", "KEY\ntext\n", "main.txt:1: first line must be"},
      {"key twice", "@(#)@\nK\na\n@(#)@\nK\nb\n", "main.txt:5: key K given twice"},
      {"empty key", "@(#)@\n\ntext\n", "main.txt:2: empty key"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    zftest::TempDir dir;
    std::string src = dir.write("main.txt", c.text);
    auto r = runWriter(dir.file("bad.msg"), {src});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(zftest::readFile(dir.file("bad.msg")), "");
  }
}

}  // namespace
