// catdump and catload run as real processes on a data directory of their
// own: the text exchange form both ways, the loader's line rules, and the
// refusals that leave the message file as it was.
#include <gtest/gtest.h>

#include <msgcat/MsgEditor.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "MsgBytes.h"
#include "TestSupport.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class CatProgramsTest : public ::testing::Test {
protected:
  CatProgramsTest()
      : built_(std::getenv("DATADIR") ? std::getenv("DATADIR") : ""),
        data_("DATADIR", dir.path()),
        lang_("LANGUAGE", "english") {
    dir.write("english/.keep", "");
  }
  zftest::RunResult run(std::string const& program, std::vector<std::string> const& args,
                        std::string const& input = "") {
    std::vector<std::string> argv = {zftest::binPath(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    return zftest::runProgram(argv, input, {{"DATADIR", searchPath()}, {"LANGUAGE", "english"}});
  }
  // The test's directory first, then the build's catalogues (for the
  // programs' own texts).
  std::string searchPath() const { return dir.path() + ":" + built_; }
  std::string bytesOf(std::string const& name) { return zftest::readFile(dir.file("english/" + name + ".msg")); }
  // The entries of one section as the editor reads them (key order).
  static Entries entries(std::string const& file, std::string const& section) {
    MsgEditor ed(file.c_str(), "english");
    EXPECT_TRUE(ed.read()) << toCharPtr(ed.errorText());
    Entries out;
    MsgSection* s = ed.section(section.c_str());
    for (int32_t i = 0; i < s->nEntries(); ++i)
      out.emplace_back(toCharPtr(s->entry(i)->key), toCharPtr(s->entry(i)->text));
    return out;
  }

  std::string built_;
  zftest::TempDir dir;
  zftest::ScopedEnv data_;
  zftest::ScopedEnv lang_;
};

TEST_F(CatProgramsTest, DumpFedToLoadRebuildsTheSection) {
  Entries texts = {{"EMPTYLINES", "a\n\n\nb"},   {"LEAD", "\n\nafter two empty lines"},
                   {"MULTI", "line one\nline two"}, {"NOTEXT", ""},
                   {"REF", "~MULTI"},               {"TABS", "\tone\ttwo\t"},
                   {"TRAIL", "ends with a newline\n"}};
  std::vector<zftest::MsgSectionBytes> src = {{"other", {{"X", "x"}}}, {"main", texts}};
  dir.write("english/src.msg", zftest::msgFileBytes(src));

  auto dump = run("catdump", {"src", "english", "main", "*"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out.substr(0, 33), "@(#)@\nEMPTYLINES\na\n\n\nb\n@(#)@\nLEAD");
  auto load = run("catload", {"dst", "english", "main"}, dump.out);
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(entries("dst", "main"), texts);
  EXPECT_EQ(bytesOf("dst"), zftest::msgFileBytes({{"main", texts}}));

  auto keys = run("catdump", {"-k", "src", "english", "main", "*"});
  ASSERT_EQ(keys.status, 0) << keys.err;
  EXPECT_EQ(keys.out, "EMPTYLINES\nLEAD\nMULTI\nNOTEXT\nREF\nTABS\nTRAIL\n");

  // A section or file that does not exist dumps nothing and is not created.
  auto none = run("catdump", {"src", "english", "absent", "*"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(run("catdump", {"nofile", "english", "main", "*"}).out, "");
  EXPECT_EQ(bytesOf("src"), zftest::msgFileBytes(src));
}

TEST_F(CatProgramsTest, DumpOfOneKeyGivesTheLookedUpText) {
  dir.write("english/src.msg",
            zftest::msgFileBytes({{"main", {{"MULTI", "one\ntwo"}, {"REF", "~MULTI"}}}}));
  struct Case {
    char const* key;
    char const* out;
  } cases[] = {
      {"MULTI", "@(#)@\none\ntwo\n"},
      {"REF", "@(#)@\none\ntwo\n"},
      {"NOPE", "@(#)@\nsrc.main.NOPE: Message not found.\n"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.key);
    auto r = run("catdump", {"-k", "src", "english", "main", c.key});  // -k has no effect here
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }

  // A catalogue the program has open already (its own, the library's) is
  // read in the language asked for, not in the one it started in.
  dir.write("spanish/lib.msg", zftest::msgFileBytes({{"main", {{"VERSOPT", "texto de lib"}}}}));
  dir.write("spanish/catdump.msg", zftest::msgFileBytes({{"main", {{"USAGE", "texto de catdump"}}}}));
  EXPECT_EQ(run("catdump", {"lib", "spanish", "main", "VERSOPT"}).out, "@(#)@\ntexto de lib\n");
  EXPECT_EQ(run("catdump", {"catdump", "spanish", "main", "USAGE"}).out, "@(#)@\ntexto de catdump\n");
}

TEST_F(CatProgramsTest, BothProgramsTellTheirVersion) {
  for (char const* program : {"catdump", "catload"}) {
    auto r = run(program, {"-V"});
    EXPECT_NE(r.err.find(std::string(program) + " version 4.3.20"), std::string::npos) << r.err;
  }
}

TEST_F(CatProgramsTest, LoadKeepsEveryLineOfTheInput) {
  struct Case {
    char const* what;
    char const* input;
    Entries expected;
  } cases[] = {
      {"last line without newline", "@(#)@\nK\nfirst\nlast", {{"K", "first\nlast"}}},
      {"key without newline at the end", "@(#)@\nA\na\n@(#)@\nB", {{"A", "a"}, {"B", ""}}},
      {"leading empty lines", "@(#)@\nK\n\n\nafter\n", {{"K", "\n\nafter"}}},
      {"no text lines", "@(#)@\nK\n", {{"K", ""}}},
      {"carriage returns", "@(#)@\r\nK\r\none\r\ntwo\r\n", {{"K", "one\ntwo"}}},
      {"empty input", "", {}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = run("catload", {"new", "english", "main"}, c.input);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entries("new", "main"), c.expected);
    std::remove(dir.file("english/new.msg").c_str());
  }
}

TEST_F(CatProgramsTest, LoadAddsAfterTheEntriesThereAndSortsThem) {
  dir.write("english/cat.msg", zftest::msgFileBytes({{"main", {{"Z", "z"}, {"B", "b"}}}, {"db", {{"D", "d"}}}}));
  // Empty input: the same content, entries in key order.
  ASSERT_EQ(run("catload", {"cat", "english", "main"}).status, 0);
  EXPECT_EQ(bytesOf("cat"), zftest::msgFileBytes({{"main", {{"B", "b"}, {"Z", "z"}}}, {"db", {{"D", "d"}}}}));
  // Records follow the entries there, in input order, even for a key present.
  ASSERT_EQ(run("catload", {"cat", "english", "main"}, "@(#)@\nZ\nnew z\n@(#)@\nA\na\n").status, 0);
  EXPECT_EQ(bytesOf("cat"),
            zftest::msgFileBytes(
                {{"main", {{"B", "b"}, {"Z", "z"}, {"Z", "new z"}, {"A", "a"}}}, {"db", {{"D", "d"}}}}));
  // A new section is appended to the map.
  ASSERT_EQ(run("catload", {"cat", "english", "enum"}, "@(#)@\nE\ne\n").status, 0);
  EXPECT_EQ(entries("cat", "enum"), (Entries{{"E", "e"}}));
  MsgEditor ed("cat", "english");
  ASSERT_TRUE(ed.readSectionMap());
  EXPECT_EQ(ed.findSection("enum"), 2);
}

TEST_F(CatProgramsTest, RefusedInputChangesNothingAndSaysWhy) {
  std::string old = zftest::msgFileBytes({{"main", {{"K", "v"}}}});
  std::string longText(32768, 'x');
  std::string longLanguage(256, 'l');
  struct Case {
    char const* what;
    char const* program;
    std::vector<std::string> args;
    std::string input;
    char const* message;
  } cases[] = {
      {"first line not the separator", "catload", {"cat", "english", "main"}, "K\ntext\n@(#)@\n", "\"@(#)@\""},
      {"record without a key", "catload", {"cat", "english", "main"}, "@(#)@\nA\na\n@(#)@\n\ntext\n", "Line 5"},
      {"text too long", "catload", {"cat", "english", "main"}, "@(#)@\nBIG\n" + longText + "\n", "32767"},
      {"language too long (load)", "catload", {"cat", longLanguage, "main"}, "@(#)@\nA\na\n", "too long"},
      {"language too long (dump)", "catdump", {"cat", longLanguage, "main", "K"}, "", "too long"},
      {"empty section operand", "catload", {"cat", "english", ""}, "@(#)@\nA\na\n", "must not be empty"},
      {"empty file operand", "catdump", {"", "english", "main", "K"}, "", "must not be empty"},
      {"catload without a section", "catload", {"cat", "english"}, "@(#)@\nA\na\n",
       "Usage: catload file language section <msgs.txt"},
      {"catload with one operand too many", "catload", {"cat", "english", "main", "x"}, "",
       "Usage: catload file language section <msgs.txt"},
      {"catdump without a key", "catdump", {"cat", "english", "main"}, "",
       "Usage: catdump [-k] file language section key|* >msgs.txt"},
      {"catdump with nothing", "catdump", {}, "", "Usage: catdump [-k] file language section key|* >msgs.txt"},
      {"catdump with an unknown option", "catdump", {"-z", "cat", "english", "main", "*"}, "", "z"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("english/cat.msg", old);
    auto r = run(c.program, c.args, c.input);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(bytesOf("cat"), old);
  }
  // Input that cannot be read (a directory) writes nothing.
  auto unreadable = zftest::runProgram({"/bin/sh", "-c", "exec \"$0\" cat english main < \"$1\"",
                                        zftest::binPath("catload"), dir.path()},
                                       "", {{"DATADIR", searchPath()}, {"LANGUAGE", "english"}});
  EXPECT_NE(unreadable.status, 0);
  EXPECT_NE(unreadable.err.find("could not be read"), std::string::npos) << unreadable.err;
  EXPECT_EQ(bytesOf("cat"), old);

  // A damaged file is not overwritten.
  std::string damaged = old.substr(0, old.size() - 4);
  dir.write("english/cat.msg", damaged);
  auto r = run("catload", {"cat", "english", "main"}, "@(#)@\nA\na\n");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
  EXPECT_EQ(bytesOf("cat"), damaged);
}

}  // namespace
