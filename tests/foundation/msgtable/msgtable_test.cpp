// Message catalogue lookup: not-found texts, references and their bounded
// chains, shared files, the search path, damaged files, and the catalogue
// that the build writes from catalogs/lib.
#include <gtest/gtest.h>

#include <zfound/MsgTable.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "MsgBytes.h"
#include "TestSupport.h"

using zftest::MsgSectionBytes;
using zftest::msgFileBytes;
using zftest::ScopedEnv;
using zftest::TempDir;

namespace {

using zftest::str;

// A private data directory holding <language>/<name>.msg files; each test
// points DATADIR at it.
class MsgTableTest : public ::testing::Test {
protected:

  void writeCatalogue(std::string const& name, std::string const& bytes,
                      std::string const& language = "english") {
    dir.write(language + "/" + name + ".msg", bytes);
  }

  TempDir dir;
  ScopedEnv lang{"LANGUAGE", "english"};
  // The later entries of the search path point into the private directory.
  ScopedEnv zephra{"ZEPHRA", dir.path() + "/zephra"};
  ScopedEnv corvane{"CORVANE", dir.path() + "/corvane"};
};

TEST_F(MsgTableTest, MissingKeyShowsItsFullNameOrTheQuietMarker) {
  writeCatalogue("prog", msgFileBytes({{"main", {{"HELLO", "Hi"}}}}));
  ScopedEnv d("DATADIR", dir.path());
  MsgTable t("prog", String(), false);
  EXPECT_EQ(str(t.find("HELLO")), "Hi");
  EXPECT_EQ(str(t.find("NOSUCH")), "prog.main.NOSUCH: Message not found.");
  EXPECT_TRUE(t.find("NOSUCH", true).isHighest());
  MsgTable quiet("prog", "main", true);
  EXPECT_TRUE(quiet.find("NOSUCH").isHighest());
  EXPECT_EQ(str(quiet.dMsg("NOSUCH", "fallback")), "fallback");
  EXPECT_EQ(str(quiet.dMsg("HELLO", "fallback")), "Hi");
  // A catalogue found nowhere: every key is missing.
  MsgTable none("nowhere", "main", false);
  EXPECT_FALSE(none.msgFile()->isOpen());
  EXPECT_EQ(str(none.find("X")), "nowhere.main.X: Message not found.");
}

TEST_F(MsgTableTest, ReferencesFollowAndChainsAreBounded) {
  std::vector<std::pair<std::string, std::string>> e = {
      {"OTHER", "the other text"}, {"REF", "~OTHER"},  {"SELF", "~SELF"},
      {"A", "~B"},                 {"B", "~A"},        {"C1", "~C2"},
      {"C2", "~C3"},               {"C3", "~OTHER"},   {"DANGLING", "~NOSUCH"},
      {"EMPTY", ""}};
  // A long chain that never returns to an earlier key.
  for (int i = 0; i < 100; ++i) e.push_back({"L" + std::to_string(i), "~L" + std::to_string(i + 1)});
  e.push_back({"L100", "end"});
  writeCatalogue("refs", msgFileBytes({{"main", e}}));
  ScopedEnv d("DATADIR", dir.path());
  MsgTable t("refs", "main", false);
  EXPECT_EQ(str(t.find("REF")), "the other text");
  EXPECT_EQ(str(t.find("C1")), "the other text");
  EXPECT_EQ(str(t.find("SELF")), "(ERROR: infinite recursion detected)");
  EXPECT_EQ(str(t.find("A")), "(ERROR: infinite recursion detected)");
  EXPECT_EQ(str(t.find("L0")), "(ERROR: infinite recursion detected)");
  EXPECT_EQ(str(t.find("L90")), "end");
  EXPECT_EQ(str(t.find("DANGLING")), "refs.main.NOSUCH: Message not found.");
  // An empty text is the null String, also on a second (uncached) lookup.
  EXPECT_TRUE(t.find("EMPTY").isNull());
  EXPECT_TRUE(t.find("EMPTY").isNull());
  EXPECT_EQ(str(t.find("REF")), "the other text");
}

TEST_F(MsgTableTest, SectionsAreSeparateAndAMissingSectionChangesNothingOnDisk) {
  std::string bytes = msgFileBytes({{"main", {{"K", "main K"}}}, {"db", {{"K", "db K"}}}});
  writeCatalogue("secs", bytes);
  ScopedEnv d("DATADIR", dir.path());
  MsgTable m("secs", "main", false);
  MsgTable db("secs", "db", false);
  EXPECT_EQ(str(m.find("K")), "main K");
  EXPECT_EQ(str(db.find("K")), "db K");
  EXPECT_EQ(str(m.find("db", "K")), "db K");
  MsgTable extra("secs", "extra", false);
  EXPECT_EQ(str(extra.find("K")), "secs.extra.K: Message not found.");
  EXPECT_EQ(extra.msgFile()->sectionNumber("extra"), 2);
  EXPECT_EQ(zftest::readFile(dir.file("english/secs.msg")), bytes);
}

TEST_F(MsgTableTest, TablesOnOneCatalogueShareOneFileUntilTheLastGoes) {
  writeCatalogue("shared", msgFileBytes({{"main", {{"K", "v"}}}}));
  ScopedEnv d("DATADIR", dir.path());
  int32_t before = MsgFile::TEST_openCount();
  {
    MsgTable a("shared", "main", false);
    EXPECT_EQ(MsgFile::TEST_openCount(), before + 1);
    {
      MsgTable b("shared", "main", true);
      MsgTable c(a);
      EXPECT_EQ(a.msgFile(), b.msgFile());
      EXPECT_EQ(a.msgFile()->count(), 3);
      EXPECT_EQ(MsgFile::TEST_openCount(), before + 1);
    }
    EXPECT_EQ(a.msgFile()->count(), 1);
    EXPECT_EQ(str(a.find("K")), "v");
  }
  EXPECT_EQ(MsgFile::TEST_openCount(), before);
}

// A catalogue open in one language is not handed out for another: a table
// opened after LANGUAGE changed reads that language's file.
TEST_F(MsgTableTest, OpenCataloguesAreSharedWithinOneLanguageOnly) {
  writeCatalogue("both", msgFileBytes({{"main", {{"K", "english text"}}}}), "english");
  writeCatalogue("both", msgFileBytes({{"main", {{"K", "spanish text"}}}}), "spanish");
  ScopedEnv d("DATADIR", dir.path());
  MsgTable english("both");
  {
    ScopedEnv l("LANGUAGE", "spanish");
    MsgTable spanish("both");
    EXPECT_NE(english.msgFile(), spanish.msgFile());
    EXPECT_EQ(str(spanish.find("K")), "spanish text");
  }
  EXPECT_EQ(str(english.find("K")), "english text");
  EXPECT_EQ(english.msgFile(), MsgTable("both").msgFile());
}

TEST_F(MsgTableTest, SearchPathOrderAndLanguage) {
  TempDir a, b, zephra, corvane;
  a.write("english/p1.msg", msgFileBytes({{"main", {{"K", "from a"}}}}));
  b.write("english/p1.msg", msgFileBytes({{"main", {{"K", "from b"}}}}));
  b.write("english/p2.msg", msgFileBytes({{"main", {{"K", "only b"}}}}));
  b.write("spanish/p3.msg", msgFileBytes({{"main", {{"K", "spanish"}}}}));
  ScopedEnv d("DATADIR", a.path() + ":" + b.path());
  EXPECT_EQ(str(MsgTable("p1").find("K")), "from a");
  EXPECT_EQ(str(MsgTable("p2").find("K")), "only b");
  // No fallback to another language.
  EXPECT_EQ(str(MsgTable("p3").find("K")), "p3.main.K: Message not found.");
  {
    ScopedEnv l("LANGUAGE", "spanish");
    EXPECT_EQ(str(MsgTable("p3").find("K")), "spanish");
  }
  {
    ScopedEnv l("LANGUAGE", "", true);  // unset: "english"
    EXPECT_EQ(str(MsgTable("p1").find("K")), "from a");
  }
  // Without DATADIR: the resources under CORVANE come before the data
  // directory under ZEPHRA.
  ScopedEnv nd("DATADIR", "", true);
  ScopedEnv z("ZEPHRA", zephra.path());
  ScopedEnv c("CORVANE", corvane.path());
  zephra.write("data/english/p4.msg", msgFileBytes({{"main", {{"K", "zephra"}}}}));
  EXPECT_EQ(str(MsgTable("p4").find("K")), "zephra");
  corvane.write("resources/english/p4.msg", msgFileBytes({{"main", {{"K", "corvane"}}}}));
  EXPECT_EQ(str(MsgTable("p4").find("K")), "corvane");
}

// A good catalogue cut or altered at a given place.
struct Damage {
  char const* what;
  std::string bytes;
  std::vector<std::pair<char const*, char const*>> expect;  // key, text (null: missing)
};

TEST_F(MsgTableTest, DamagedFilesNeverReadPastTheirEnd) {
  std::string good = msgFileBytes({{"main", {{"AA", "first"}, {"BB", "second"}}}});
  int32_t indexAt = (uint8_t(good[2]) << 8) | uint8_t(good[3]);
  auto with = [&](size_t at, std::string const& b) {
    std::string s = good;
    s.replace(at, b.size(), b);
    return s;
  };
  auto longBytes = [](int32_t v) {
    std::string s;
    zftest::putMsgLong(s, v);
    return s;
  };
  // Index entry 0 starts at indexAt: section (4), key "AA" (2+2), offset (4).
  size_t entry0Offset = size_t(indexAt) + 8;
  size_t entry1 = size_t(indexAt) + 12;
  std::vector<Damage> cases = {
      {"empty file", "", {{"AA", nullptr}}},
      {"two bytes", good.substr(0, 2), {{"AA", nullptr}}},
      {"index offset past the end", with(0, longBytes(1 << 30)), {{"AA", nullptr}}},
      {"negative index offset", with(0, longBytes(-5)), {{"AA", nullptr}}},
      {"section map cut", good.substr(0, 7), {{"AA", nullptr}}},
      {"section name length past the end", with(4, "\x7f\xff"), {{"AA", nullptr}}},
      {"no end of index", good.substr(0, good.size() - 4), {{"AA", "first"}, {"BB", "second"}}},
      {"index cut inside an entry", good.substr(0, entry1 + 6), {{"AA", "first"}, {"BB", nullptr}}},
      {"text offset past the end", with(entry0Offset, longBytes(100000)), {{"AA", nullptr}, {"BB", "second"}}},
      {"text offset at the end", with(entry0Offset, longBytes(int32_t(good.size()) - 1)), {{"AA", nullptr}, {"BB", "second"}}},
      {"text offset zero", with(entry0Offset, longBytes(0)), {{"AA", nullptr}, {"BB", "second"}}},
      {"section number out of range", with(size_t(indexAt), longBytes(7)), {{"AA", nullptr}, {"BB", "second"}}},
      {"text length past the end", with(12, "\x7f\xf0"), {{"AA", nullptr}, {"BB", "second"}}},
      {"key length past the end", with(size_t(indexAt) + 4, "\x7f\xf0"), {{"AA", nullptr}}},
  };
  ScopedEnv d("DATADIR", dir.path());
  int n = 0;
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name = "damaged" + std::to_string(n++);
    writeCatalogue(name, c.bytes);
    testing::internal::CaptureStderr();
    MsgTable t(name.c_str(), "main", false);
    std::string err = testing::internal::GetCapturedStderr();
    for (auto const& [key, text] : c.expect) {
      String got = t.find(key);
      if (text) {
        EXPECT_EQ(str(got), text);
      } else {
        EXPECT_EQ(str(got), name + ".main." + key + ": Message not found.");
      }
    }
    // Texts are read on demand, so only damage in the map or index is
    // reported when the file opens.
    if (std::string(c.what) != "text length past the end") {
      EXPECT_NE(err.find("damaged message file"), std::string::npos) << err;
    }
  }
}

// The plain entries keep their "lib" tables for the life of the process, so
// this runs in a child process of its own.
TEST(MsgTableErrmsg, PlainEntriesKeepTenResultsValid) {
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> e;
  for (int i = 0; i < 10; ++i) e.push_back({"K" + std::to_string(i), "text " + std::to_string(i)});
  dir.write("english/lib.msg", msgFileBytes({{"main", {}}, {"db", e}}));
  auto child = [&] {
    setenv("DATADIR", dir.path().c_str(), 1);
    setenv("LANGUAGE", "english", 1);
    char const* got[10];
    for (int i = 0; i < 10; ++i) got[i] = __DbErrmsg(("K" + std::to_string(i)).c_str());
    int bad = 0;
    for (int i = 0; i < 10; ++i)
      if (std::string(got[i]) != "text " + std::to_string(i)) ++bad;
    if (std::string(__DbErrmsg("NOSUCH")) != "lib.db.NOSUCH: Message not found.") ++bad;
    if (std::string(__WiErrmsg("NOSUCH")) != "lib.wi.NOSUCH: Message not found.") ++bad;
    std::fprintf(stderr, "bad=%d\n", bad);
    std::exit(bad == 0 ? 0 : 1);
  };
  EXPECT_EXIT(child(), testing::ExitedWithCode(0), "bad=0");
}

// The catalogue the build writes holds every text of catalogs/lib, exactly.
TEST(LibraryCatalogue, BuiltFileHoldsEverySourceText) {
  // The source tree: ZF_SOURCE_DIR, else four levels above this file.
  std::string srcDir = std::getenv("ZF_SOURCE_DIR") ? std::getenv("ZF_SOURCE_DIR") : "";
  if (srcDir.empty()) {
    srcDir = __FILE__;
    for (int i = 0; i < 4; ++i) srcDir = srcDir.substr(0, srcDir.rfind('/'));
  }
  char const* src = srcDir.c_str();
  char const* sections[] = {"main", "db", "fm", "gn", "rp", "st", "wi"};
  int checked = 0;
  for (char const* section : sections) {
    std::ifstream in(std::string(src) + "/catalogs/lib/" + section + ".txt", std::ios::binary);
    if (!in) continue;
    std::map<std::string, std::string> texts;
    std::string line, key, text;
    bool inRecord = false;
    auto flush = [&] {
      if (inRecord) texts[key] = text;
    };
    bool wantKey = false;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "@(#)@") {
        flush();
        inRecord = false;
        wantKey = true;
      } else if (wantKey) {
        key = line;
        text.clear();
        inRecord = true;
        wantKey = false;
      } else {
        if (!text.empty()) text += '\n';
        text += line;
      }
    }
    flush();
    MsgTable t("lib", section, false);
    for (auto const& [k, v] : texts) {
      String got = t.find(k.c_str());
      EXPECT_EQ(v.empty() ? std::string() : str(got), v) << section << "." << k;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
  // The keys the reporting and the option parser look up.
  MsgTable lib("lib", "main", true);
  for (char const* k : {"ERROR", "FATALERROR", "NOTICE", "WARNING", "AB_RE_IG", "VERSION", "INVOPT",
                        "EXPECTEDARG", "HELPOPT", "VERSOPT", "BANNEROPT"})
    EXPECT_FALSE(lib.find(k).isHighest()) << k;
}

}  // namespace
