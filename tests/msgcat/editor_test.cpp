// The message-file editor: the exact bytes it writes, reading a file back,
// the section and entry lists, finding the file's directory, and the
// refusals that keep a file intact (texts too long, unnamed sections,
// damaged files) with the whole-file replacement on writing.
#include <gtest/gtest.h>

#include <msgcat/MsgEditor.h>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <string>
#include <vector>

#include "FaultFs.h"
#include "MsgBytes.h"
#include "TestSupport.h"

namespace {

using zftest::MsgSectionBytes;

// A data directory of its own, with DATADIR and LANGUAGE pointing at it.
class EditorTest : public ::testing::Test {
protected:
  EditorTest() : data_("DATADIR", dir.path()), lang_("LANGUAGE", "english") {
    dir.write("english/.keep", "");
  }
  std::string msgPath(std::string const& name) { return dir.file("english/" + name + ".msg"); }
  std::string bytesOf(std::string const& name) { return zftest::readFile(msgPath(name)); }
  // The names in the language directory (to see that no temporary file stays).
  std::vector<std::string> listing() {
    std::vector<std::string> names;
    DIR* d = opendir(dir.file("english").c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && n != ".keep") names.push_back(n);
    }
    if (d) closedir(d);
    return names;
  }
  // Every section of an editor as names and (key, text) pairs.
  static std::vector<MsgSectionBytes> contents(MsgEditor& ed) {
    std::vector<MsgSectionBytes> out;
    for (int32_t n = 0; n < ed.nSections(); ++n) {
      MsgSection* s = ed.section(n);
      out.push_back({toCharPtr(s->name), {}});
      for (int32_t i = 0; i < s->nEntries(); ++i)
        out.back().entries.emplace_back(toCharPtr(s->entry(i)->key), toCharPtr(s->entry(i)->text));
    }
    return out;
  }

  zftest::TempDir dir;
  zftest::ScopedEnv data_;
  zftest::ScopedEnv lang_;
};

TEST_F(EditorTest, WritesTheExactBytesOfTheLayout) {
  MsgEditor empty("none", "english");
  empty.path();
  ASSERT_TRUE(empty.write()) << toCharPtr(empty.errorText());
  EXPECT_EQ(bytesOf("none"), std::string("\x00\x00\x00\x06\x00\x00\xff\xff\xff\xff", 10));
  MsgEditor again("none", "english");
  EXPECT_TRUE(again.read());
  EXPECT_EQ(again.nSections(), 0);

  MsgEditor one("one", "english");
  one.path();
  one.section("main")->add("HELLO", "Hi");
  ASSERT_TRUE(one.write());
  EXPECT_EQ(bytesOf("one"), std::string("\x00\x00\x00\x10\x00\x04main\x00\x00\x00\x02Hi"
                                        "\x00\x00\x00\x00\x00\x05HELLO\x00\x00\x00\x0c\xff\xff\xff\xff",
                                        35));
  EXPECT_EQ(one.section("main")->entry(0)->offset, 12);
  EXPECT_EQ(listing(), (std::vector<std::string>{"none.msg", "one.msg"}));
}

TEST_F(EditorTest, WritingReplacesTheFileThroughANewExclusiveOne) {
  dir.write("english/cat.msg", zftest::msgFileBytes({{"main", {{"OLD", "old"}}}}));
  // A file already holding the first name the writer would try is left alone.
  std::string clash = "english/.cat-" + std::to_string(::getpid()) + "-0.tmp";
  dir.write(clash, "someone else's");
  MsgEditor ed("cat", "english");
  ASSERT_TRUE(ed.read());
  ed.section("main")->add("NEW", "new");
  ASSERT_TRUE(ed.write()) << toCharPtr(ed.errorText());
  EXPECT_EQ(zftest::readFile(dir.file(clash)), "someone else's");
  EXPECT_EQ(bytesOf("cat"), zftest::msgFileBytes({{"main", {{"OLD", "old"}, {"NEW", "new"}}}}));
  std::remove(dir.file(clash).c_str());
  EXPECT_EQ(listing(), std::vector<std::string>{"cat.msg"});

  // A directory that cannot take the new file: refused, nothing left behind.
  MsgEditor lost("cat", "nolanguage");
  lost.path();
  EXPECT_FALSE(lost.write());
  EXPECT_NE(std::string(toCharPtr(lost.errorText())).find("cannot create"), std::string::npos);
}

// The new file is synced before it is renamed over the old one, so a crash
// right after the write keeps the new contents; a sync that fails ends the
// write with the old file in place and no new file left beside it.
TEST_F(EditorTest, TheNewFileIsSyncedBeforeItReplacesTheOldOne) {
  dir.write("english/cat.msg", zftest::msgFileBytes({{"main", {{"OLD", "old"}}}}));
  std::string const written = zftest::msgFileBytes({{"main", {{"OLD", "old"}, {"NEW", "new"}}}});
  {
    zftest::FaultFs fs;
    MsgEditor ed("cat", "english");
    ASSERT_TRUE(ed.read());
    ed.section("main")->add("NEW", "new");
    ASSERT_TRUE(ed.write()) << toCharPtr(ed.errorText());
    std::vector<std::string> const& ev = fs.events();
    ASSERT_FALSE(ev.empty());
    std::string const& rename = ev.back();
    ASSERT_EQ(0u, rename.find("rename ")) << rename;
    std::string tmp = rename.substr(7, rename.find(' ', 7) - 7);
    EXPECT_NE(ev.end(), std::find(ev.begin(), ev.end(), "sync " + tmp));
    fs.crash();
    EXPECT_EQ(bytesOf("cat"), written);
  }
  {
    zftest::FaultFs fs;
    fs.failSync(1);
    MsgEditor ed("cat", "english");
    ASSERT_TRUE(ed.read());
    ed.section("main")->add("THIRD", "3");
    EXPECT_FALSE(ed.write());
    EXPECT_NE(std::string(toCharPtr(ed.errorText())).find("cannot sync"), std::string::npos);
    EXPECT_EQ(1, fs.injected());
  }
  EXPECT_EQ(bytesOf("cat"), written);
  EXPECT_EQ(listing(), std::vector<std::string>{"cat.msg"});
}

TEST_F(EditorTest, ReadingSortsEntriesAndWritingKeepsEveryText) {
  // Entries out of key order, an empty section, a null text, a reference.
  std::vector<MsgSectionBytes> in = {
      {"main", {{"ZED", "last\nline two"}, {"ALPHA", "first\twith tab"}, {"MID", ""}}},
      {"empty", {}},
      {"db", {{"B", "~A"}, {"A", "a"}}}};
  dir.write("english/cat.msg", zftest::msgFileBytes(in));
  MsgEditor ed("cat", String());
  ASSERT_TRUE(ed.read());
  std::vector<MsgSectionBytes> sorted = {
      {"main", {{"ALPHA", "first\twith tab"}, {"MID", ""}, {"ZED", "last\nline two"}}},
      {"empty", {}},
      {"db", {{"A", "a"}, {"B", "~A"}}}};
  EXPECT_EQ(zftest::msgFileBytes(contents(ed)), zftest::msgFileBytes(sorted));
  ASSERT_TRUE(ed.write());
  EXPECT_EQ(bytesOf("cat"), zftest::msgFileBytes(sorted));

  // The section map alone.
  MsgEditor map("cat", "english");
  ASSERT_TRUE(map.readSectionMap());
  ASSERT_EQ(map.nSections(), 3);
  EXPECT_EQ(map.section(2)->name, "db");
  EXPECT_EQ(map.section(2)->nEntries(), 0);

  // A file that does not exist: false, not damaged, empty.
  MsgEditor none("absent", "english");
  EXPECT_FALSE(none.read());
  EXPECT_FALSE(none.damaged());
  EXPECT_EQ(none.nSections(), 0);
}

TEST_F(EditorTest, SectionsAreNumberedByTheirPlaceInTheList) {
  dir.write("english/cat.msg", zftest::msgFileBytes({{"main", {{"K", "v"}}}, {"db", {{"D", "d"}}}}));
  MsgEditor ed("cat", "english");
  ASSERT_TRUE(ed.read());
  MsgSection* en = ed.section("enum");
  EXPECT_EQ(ed.findSection("enum"), 2);
  EXPECT_EQ(ed.section("enum"), en);  // found, not added again
  en->ins(0, "E2", "two");
  en->ins(0, "E1", "one");
  EXPECT_EQ(ed.delSection("main"), 0);
  EXPECT_EQ(ed.delSection("main"), -1);
  EXPECT_EQ(ed.findSection("db"), 0);
  ASSERT_TRUE(ed.write());
  // Inserted entries stay where they were put; sections renumbered.
  EXPECT_EQ(bytesOf("cat"), zftest::msgFileBytes({{"db", {{"D", "d"}}}, {"enum", {{"E1", "one"}, {"E2", "two"}}}}));
}

TEST_F(EditorTest, EntryListsGrowAndKeepDuplicates) {
  MsgSection s("main");
  s.add("K", "first");
  s.add("K", "second");  // a key added twice is there twice
  EXPECT_EQ(s.nEntries(), 2);
  MsgEntry* e = s.entry(4);  // grows to 5 slots; 2 and 3 stay empty
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(s.nEntries(), 5);
  EXPECT_TRUE(e->key.isNull());
  EXPECT_EQ(e->offset, -1);
  EXPECT_EQ(s.entries.at(2), nullptr);
  s.add("A", "fills slot 2");
  EXPECT_EQ(s.entries.at(2)->key, "A");
  EXPECT_FALSE(s.ins(7, "X", "x"));
  EXPECT_FALSE(s.del(5));
  EXPECT_EQ(s.entry(-1), nullptr);
  EXPECT_TRUE(s.del(0));
  EXPECT_EQ(s.entry(0)->text, "second");
  s.sort();  // null key first, then by key; the empty slot last
  std::vector<std::string> keys;
  for (int32_t i = 0; i < s.nEntries(); ++i) keys.push_back(s.entries.at(i) ? toCharPtr(s.entries.at(i)->key) : "-");
  EXPECT_EQ(keys, (std::vector<std::string>{"", "A", "K", "-"}));
  s.clear();
  EXPECT_EQ(s.nEntries(), 0);
}

TEST_F(EditorTest, FindsTheDirectoryAlongDataDir) {
  zftest::TempDir a, b;
  b.write("english/cat.msg", zftest::msgFileBytes({}));
  zftest::ScopedEnv both("DATADIR", a.path() + ":" + b.path());
  MsgEditor ed("cat", "english");
  EXPECT_EQ(std::string(toCharPtr(ed.path())), b.path() + "/english");
  MsgEditor other("new", "english");
  EXPECT_EQ(std::string(toCharPtr(other.path())), a.path() + "/english");

  // A null language takes the environment's and forgets the path found.
  zftest::ScopedEnv lang("LANGUAGE", "spanish");
  ed.language(String());
  EXPECT_EQ(ed.language(), "spanish");
  EXPECT_EQ(std::string(toCharPtr(ed.path())), a.path() + "/spanish");
}

TEST_F(EditorTest, RefusesWhatTheLayoutCannotHoldAndKeepsTheOldFile) {
  std::string old = zftest::msgFileBytes({{"main", {{"K", "v"}}}});
  dir.write("english/cat.msg", old);
  struct Case {
    char const* what;
    void (*spoil)(MsgEditor&);
    char const* message;
  } cases[] = {
      {"text past 32767 bytes",
       [](MsgEditor& e) { e.section("main")->add("BIG", String(32768L, 'x')); }, "at most 32767"},
      {"section without a name", [](MsgEditor& e) { e.section(1); }, "has no name"},
      {"section named by a NUL only",
       [](MsgEditor& e) { e.section(String(2L, "\0x"))->add("A", "a"); }, "has no name"},
      {"empty entry slot", [](MsgEditor& e) { e.section("main")->entries.reAlloc(3); }, "is empty"},
      {"empty section slot", [](MsgEditor& e) { e.section(2); }, "slot 1 is empty"},
      {"entry without a key", [](MsgEditor& e) { e.section("main")->add(String(), "t"); }, "has no key"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    MsgEditor ed("cat", "english");
    ASSERT_TRUE(ed.read());
    c.spoil(ed);
    EXPECT_FALSE(ed.write());
    EXPECT_NE(std::string(toCharPtr(ed.errorText())).find(c.message), std::string::npos)
        << toCharPtr(ed.errorText());
    EXPECT_EQ(bytesOf("cat"), old);
    EXPECT_EQ(listing(), std::vector<std::string>{"cat.msg"});
  }
  // The longest text that fits is written and read back whole.
  MsgEditor ed("cat", "english");
  ASSERT_TRUE(ed.read());
  ed.section("main")->add("MAX", String(32767L, 'y'));
  ASSERT_TRUE(ed.write()) << toCharPtr(ed.errorText());
  MsgEditor back("cat", "english");
  ASSERT_TRUE(back.read());
  EXPECT_EQ(back.section("main")->entry(1)->text.length(), 32767);
}

TEST_F(EditorTest, DamagedFilesAreReportedNotTakenAsEmpty) {
  std::string good = zftest::msgFileBytes({{"main", {{"K", "v"}}}});
  // good: 00 00 00 0F | 00 04 main | 00 00 | @12: 00 01 v | @15: 00 00 00 00, 00 01 K, 00 00 00 0C | FF FF FF FF
  auto with = [&good](size_t at, std::string const& bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  struct Case {
    char const* what;
    std::string bytes;
    char const* message;
  } cases[] = {
      {"too short", std::string("\x00\x00", 2), "too short"},
      {"section number past the map", with(15, std::string("\x00\x00\x00\x01", 4)), "section 1"},
      {"negative section number", with(15, std::string("\xff\xff\xff\xfe", 4)), "section -2"},
      {"index position past the end", with(0, std::string("\x00\x00\x01\x00", 4)), "index position"},
      {"text position past the texts", with(22, std::string("\x00\x00\x00\x30", 4)), "lies outside"},
      {"negative length word", with(12, std::string("\x80\x00", 2)), "runs past"},
      {"index without its end", good.substr(0, good.size() - 4), "past the end"},
      {"map without its end", good.substr(0, 10), "section map"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("english/bad.msg", c.bytes);
    MsgEditor ed("bad", "english");
    EXPECT_FALSE(ed.read());
    EXPECT_TRUE(ed.damaged());
    EXPECT_EQ(ed.nSections(), 0);
    EXPECT_NE(std::string(toCharPtr(ed.errorText())).find(c.message), std::string::npos)
        << toCharPtr(ed.errorText());
  }
  dir.write("english/bad.msg", good);
  MsgEditor ed("bad", "english");
  EXPECT_TRUE(ed.read());
  EXPECT_FALSE(ed.damaged());

  // A file that is there but cannot be opened (a socket: no device) is not
  // taken for a missing one that a writer may create.
  std::string sock = msgPath("sock");
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  sock.copy(addr.sun_path, sock.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  MsgEditor there("sock", "english");
  EXPECT_FALSE(there.read());
  EXPECT_TRUE(there.damaged());
  EXPECT_NE(std::string(toCharPtr(there.errorText())).find("cannot open"), std::string::npos);
  ::close(fd);
  std::remove(sock.c_str());
}

}  // namespace
