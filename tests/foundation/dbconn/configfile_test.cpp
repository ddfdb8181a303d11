// Server configuration files and the client's view of them: reading every
// key of a served (".sv") and a remote (".rsv") file, writing them back
// atomically, the keyword table, the server list of "SERVERS" and the
// reports of malformed lines.
#include <gtest/gtest.h>

#include <zfound/ConfigFile.h>
#include <zfound/DbConfigFile.h>
#include <zfound/Process.h>
#include <zfound/String.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "FaultFs.h"
#include "TestSupport.h"

namespace {

using zftest::str;

// A server directory of its own: OMBREL points at it while the test runs.
class ConfigFileTest : public testing::Test {
protected:
  zftest::TempDir dir;
  zftest::ScopedEnv ombrel{"OMBREL", dir.path()};

  // Writes servers/<name> and returns its path.
  std::string put(std::string const& name, std::string const& text) {
    return dir.write("servers/" + name, text);
  }
  std::string content(std::string const& name) { return zftest::readFile(dir.file("servers/" + name)); }
  ino_t inode(std::string const& name) {
    struct stat st{};
    ::stat(dir.file("servers/" + name).c_str(), &st);
    return st.st_ino;
  }
  std::set<std::string> serverFiles() {
    std::set<std::string> out;
    for (auto const& e : std::filesystem::directory_iterator(dir.file("servers")))
      out.insert(e.path().filename().string());
    return out;
  }
};

// Records what reaches the derived class and writes one line of its own.
class Recorder : public ConfigFile {
public:
  struct Call {
    int32_t token;
    std::string keyword, value;
    int32_t line;
    bool operator==(Call const&) const = default;
  };
  std::vector<Call> calls;
  void resolveOthers(Token t, String const& k, String const& v, int32_t line) override {
    calls.push_back({t, str(k), str(v), line});
  }
  void storeOthers(FILE* f) override { std::fputs("CacheSize\t\t512\n", f); }
};

TEST_F(ConfigFileTest, ServedFileReadsEveryKeyAndStoresThemBack) {
  std::string path = put("alpha.sv",
                         "# server alpha\n"
                         "\n"
                         "SERVERID\t\t7\n"
                         "Host\t\tignored.example\n"
                         "Schemas\t\ta,b:x,c\n"
                         "CacheSize\t\t256\n"
                         "Bogus\tv\n"
                         "ObjectRepository\t\t/repo\n");
  Recorder c;
  ASSERT_TRUE(c.read("alpha", 'i'));
  EXPECT_TRUE(static_cast<void*>(c) != nullptr);
  EXPECT_EQ(str(c.getFileName()), path);
  EXPECT_EQ(str(c.getServerName()), "alpha");
  EXPECT_EQ(c.getServerId(), 7);
  EXPECT_EQ(c.getType(), 'i');
  EXPECT_TRUE(c.getHost().isNull());  // a Host line of a served file is ignored
  EXPECT_EQ(c.getNSchs(), 3);
  EXPECT_EQ(str(c.getSchemas()), "a,b:x,c");
  EXPECT_FALSE(c.isNameSpace());
  EXPECT_EQ(str(c.objectRepository()), "/repo");
  EXPECT_EQ(str(c.getSchName(0)), "a");
  EXPECT_EQ(str(c.getSchName(1)), "b");
  EXPECT_EQ(str(c.getSchName(2)), "c");
  EXPECT_TRUE(c.getSchName(3).isNull());
  EXPECT_TRUE(c.getSchName(-1).isNull());
  EXPECT_TRUE(c.findSchema("b"));
  EXPECT_FALSE(c.findSchema("x"));
  EXPECT_FALSE(c.findSchema("b:x"));
  EXPECT_FALSE(c.findSchema(String()));
  std::vector<Recorder::Call> const expected = {{ConfigFile::TK_CACHESIZE, "CacheSize", "256", 6},
                                                {ConfigFile::TK_UNKNOWN, "Bogus", "v", 7}};
  EXPECT_EQ(c.calls, expected);
  EXPECT_FALSE(c.isModified());

  // Change two keys and write the file: the old permissions stay, no other
  // file is left beside it.
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  EXPECT_FALSE(c.delSchema("zz"));
  EXPECT_TRUE(c.delSchema("b"));
  EXPECT_EQ(c.getNSchs(), 2);
  c.setObjectRepository("/repo2");
  EXPECT_TRUE(c.isModified());
  ASSERT_TRUE(c.store());
  EXPECT_FALSE(c.isModified());
  EXPECT_EQ(content("alpha.sv"),
            "ServerId\t\t7\nSchemas\t\ta,c\nCacheSize\t\t512\nObjectRepository\t\t/repo2\n");
  struct stat st{};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(serverFiles(), std::set<std::string>{"alpha.sv"});

  Recorder back;
  ASSERT_TRUE(back.read("alpha", 0));
  EXPECT_EQ(back.getType(), 'i');
  EXPECT_EQ(back.getServerId(), 7);
  EXPECT_EQ(str(back.getSchemas()), "a,c");
  EXPECT_EQ(back.getNSchs(), 2);
  EXPECT_EQ(str(back.objectRepository()), "/repo2");
  EXPECT_EQ(back.calls, (std::vector<Recorder::Call>{{ConfigFile::TK_CACHESIZE, "CacheSize", "512", 3}}));
}

TEST_F(ConfigFileTest, LinesSplitIntoKeywordAndLastField) {
  struct Case {
    char const* text;
    int32_t svid;
    char const* schemas;
    int32_t nschs;
    bool nspace;
  } const cases[] = {
      {"SERVERID\t\t7\n", 7, "", 0, false},
      {"  serverid \t\t 9 \n", 9, "", 0, false},
      {"ServerId\t\t42", 42, "", 0, false},  // last line without a newline keeps its text
      {"ServerId\t\t5\r\n", 5, "", 0, false},
      {"ServerId\t1\t2\t3\n", 3, "", 0, false},
      {"#ServerId\t\t3\n\n", -1, "", 0, false},
      {"Schemas\t\ta,b\nSchemas\t\tc\n", -1, "a,b,c", 3, false},
      {"Namespaces\t\tn\n", -1, "n", 1, true},
      {"Schemas\t\t\n", -1, "", 0, false},
      {"Schemas\t\ta,,b\n", -1, "a,,b", 3, false},
      // Without report handlers (before start-up) a malformed line is
      // skipped and reading goes on.
      {"ServerId\n\t\t7\nServerId\t\t4\n", 4, "", 0, false},
  };
  for (Case const& k : cases) {
    put("p.sv", k.text);
    ConfigFile c;
    ASSERT_TRUE(c.read("p", 'i')) << k.text;
    EXPECT_EQ(c.getServerId(), k.svid) << k.text;
    EXPECT_EQ(str(c.getSchemas()), k.schemas) << k.text;
    EXPECT_EQ(c.getNSchs(), k.nschs) << k.text;
    EXPECT_EQ(c.isNameSpace(), k.nspace) << k.text;
  }
}

TEST_F(ConfigFileTest, ReadFindsTheFileOfItsType) {
  put("beta.rsv", "Host\t\tfar.example\nSchemas\t\ts\n");
  ConfigFile c;
  ASSERT_TRUE(c.read("beta", 0));
  EXPECT_EQ(c.getType(), 'r');
  EXPECT_EQ(str(c.getHost()), "far.example");
  EXPECT_EQ(str(c.getFileName()), dir.file("servers/beta.rsv"));
  EXPECT_FALSE(c.read("beta", 'i'));
  EXPECT_TRUE(!c);
  EXPECT_TRUE(c.getFileName().isNull());
  EXPECT_TRUE(c.read("beta", 'r'));

  put("both.sv", "ServerId\t\t1\n");
  put("both.rsv", "ServerId\t\t2\n");
  ASSERT_TRUE(c.read("both", 0));
  EXPECT_EQ(c.getType(), 'i');
  EXPECT_EQ(c.getServerId(), 1);

  EXPECT_FALSE(c.read("missing", 0));
  std::filesystem::create_directory(dir.file("servers/adir.sv"));
  EXPECT_FALSE(c.read("adir", 'i'));
  EXPECT_TRUE(c.getFileName().isNull());
  EXPECT_FALSE(c.read("beta", 'x'));  // before start-up the failed precondition returns
}

TEST_F(ConfigFileTest, StoreWritesOnlyAChangedFileThatWasRead) {
  put("alpha.sv", "ServerId\t\t7\nSchemas\t\ta,b\n");
  ConfigFile c;
  ASSERT_TRUE(c.read("alpha", 'i'));
  ino_t before = inode("alpha.sv");
  EXPECT_TRUE(c.store());
  EXPECT_EQ(inode("alpha.sv"), before);
  EXPECT_EQ(content("alpha.sv"), "ServerId\t\t7\nSchemas\t\ta,b\n");

  ConfigFile notRead('r', "h");
  EXPECT_EQ(str(notRead.getHost()), "h");
  EXPECT_EQ(notRead.getServerId(), -1);
  EXPECT_FALSE(notRead.delSchema("a"));
  EXPECT_TRUE(notRead.store());
  EXPECT_EQ(serverFiles(), std::set<std::string>{"alpha.sv"});

  // A file that cannot be written keeps the change pending.
  ASSERT_TRUE(c.delSchema("a"));
  std::filesystem::remove_all(dir.file("servers"));
  EXPECT_FALSE(c.store());
  EXPECT_TRUE(c.isModified());
}

// A store whose write, sync or rename fails leaves the old file whole, no
// new file beside it, and the change pending; one that succeeds syncs the
// new file before renaming it over the old one and then syncs the
// directory, so the new contents survive a crash.
TEST_F(ConfigFileTest, StoreFailuresKeepTheOldFileAndSuccessSurvivesACrash) {
  std::string const old = "ServerId\t\t7\nSchemas\t\ta,b\n";
  put("alpha.sv", old);
  enum Kind { Write, Sync, Rename };
  for (Kind kind : {Write, Sync, Rename}) {
    ConfigFile c;
    ASSERT_TRUE(c.read("alpha", 'i'));
    ASSERT_TRUE(c.delSchema("a"));
    zftest::FaultFs fs;
    if (kind == Write) fs.failWrite(1, ENOSPC);
    if (kind == Sync) fs.failSync(1);
    if (kind == Rename) fs.failRename(1);
    EXPECT_FALSE(c.store()) << kind;
    EXPECT_EQ(1, fs.injected()) << kind;
    EXPECT_TRUE(c.isModified()) << kind;
    EXPECT_EQ(content("alpha.sv"), old) << kind;
    EXPECT_EQ(serverFiles(), std::set<std::string>{"alpha.sv"}) << kind;
  }

  ConfigFile c;
  ASSERT_TRUE(c.read("alpha", 'i'));
  ASSERT_TRUE(c.delSchema("a"));
  zftest::FaultFs fs;
  ASSERT_TRUE(c.store());
  std::vector<std::string> const& ev = fs.events();
  ASSERT_EQ(3u, ev.size());
  std::string file = dir.file("servers/alpha.sv");
  std::string tmp = ev[0].substr(5);
  EXPECT_EQ(ev[0], "sync " + tmp);
  EXPECT_EQ(ev[1], "rename " + tmp + " " + file);
  EXPECT_EQ(ev[2], "sync " + dir.file("servers"));
  fs.crash();
  EXPECT_EQ(content("alpha.sv"), "ServerId\t\t7\nSchemas\t\tb\nObjectRepository\t\t\n");
}

TEST(ConfigFileTokens, TableIsSortedAndComplete) {
  std::pair<char const*, int32_t> const expected[] = {
      {"backup", 22},          {"cachepagesize", 32},     {"cachesize", 0},
      {"ckpointfreq", 1},      {"ckpointlowbound", 2},    {"ckpointupbound", 3},
      {"corruptiontolerant", 4}, {"dbase", 20},           {"diskconfiguration", 31},
      {"handleversions", 5},   {"hkeepingmsgbound", 6},   {"host", 7},
      {"journalbuffer", 8},    {"journaldir", 9},         {"journalflushfreq", 23},
      {"locks", 10},           {"locksperclient", 11},    {"lockunifybound", 12},
      {"lockunifypercent", 30}, {"lockwait", 25},         {"maturetime", 27},
      {"maxattachsperclient", 29}, {"mirroring", 21},     {"namespaces", 13},
      {"nextschemaid", 14},    {"notifies", 15},          {"objectrepository", 28},
      {"pendlocknotiftime", 26}, {"profilefile", 33},     {"profilefrequency", 34},
      {"runlogfile", 16},      {"schemas", 17},           {"serverid", 18},
      {"statefile", 19},       {"transtimeout", 24},
  };
  ASSERT_EQ(ConfigFile::tabsize, 35);
  for (int32_t i = 0; i < ConfigFile::tabsize; ++i) {
    EXPECT_STREQ(ConfigFile::table[i].name, expected[i].first);
    EXPECT_EQ(ConfigFile::table[i].token, expected[i].second);
    if (i > 0) {
      EXPECT_LT(ConfigFile::cmpTokens(&ConfigFile::table[i - 1], &ConfigFile::table[i]), 0);
    }
    String name(expected[i].first);
    EXPECT_EQ(ConfigFile::findToken(name), expected[i].second);
    EXPECT_EQ(ConfigFile::findToken(name.toUpper()), expected[i].second);
  }
  EXPECT_EQ(ConfigFile::findToken("ObjectRepository"), ConfigFile::TK_OBJECTREPOSITORY);
  for (char const* w : {"", "serverids", "a", "zzz", "server id"})
    EXPECT_EQ(ConfigFile::findToken(w), ConfigFile::TK_UNKNOWN) << w;
}

TEST_F(ConfigFileTest, RemoteFileKeepsItsOtherKeysWhenSchemasChange) {
  put("beta.rsv",
      "# remote beta\n"
      "Host\t\tdbhost.example\n"
      "ServerId\t\t3\n"
      "Namespaces\t\tn1,n2:extra\n"
      "LockWait\t\t30\n"
      "Unknown\tzz\n"
      "ObjectRepository\t\t/objrep\n");
  DbConfigFile c;
  ASSERT_TRUE(c.read("beta", 0));
  ASSERT_EQ(c.getType(), 'r');
  EXPECT_TRUE(c.addSchema("n3"));
  std::string const written =
      "ServerId\t\t3\nHost\t\tdbhost.example\nNamespaces\t\tn1,n2:extra,n3\n"
      "LockWait\t\t30\nUnknown\t\tzz\nObjectRepository\t\t/objrep\n";
  EXPECT_EQ(content("beta.rsv"), written);
  EXPECT_EQ(serverFiles(), std::set<std::string>{"beta.rsv"});

  DbConfigFile back;
  ASSERT_TRUE(back.read("beta", 'r'));
  EXPECT_EQ(str(back.getHost()), "dbhost.example");
  EXPECT_EQ(back.getServerId(), 3);
  EXPECT_TRUE(back.isNameSpace());
  EXPECT_EQ(back.getNSchs(), 3);
  EXPECT_TRUE(back.findSchema("n2"));
  EXPECT_EQ(str(back.objectRepository()), "/objrep");
  ASSERT_EQ(back.otherKeys().size(), 2u);
  EXPECT_EQ(str(back.otherKeys()[1].first), "Unknown");
  EXPECT_EQ(str(back.otherKeys()[1].second), "zz");

  // A schema already listed changes nothing; names that cannot be entries
  // are refused.
  ino_t before = inode("beta.rsv");
  EXPECT_TRUE(back.addSchema("n3"));
  EXPECT_EQ(inode("beta.rsv"), before);
  for (char const* bad : {"", "a,b", "a\tb", "a\nb"}) EXPECT_FALSE(back.addSchema(bad)) << bad;
  EXPECT_FALSE(back.addSchema(String(2100L, 'x')));  // the list line would not fit
  EXPECT_EQ(content("beta.rsv"), written);

  // A copy holds every field, the kept keys included, and writes them too.
  DbConfigFile copy(back);
  DbConfigFile assigned;
  assigned = back;
  for (DbConfigFile const* d : {&copy, &assigned}) {
    EXPECT_EQ(str(d->getSchemas()), str(back.getSchemas()));
    EXPECT_EQ(str(d->getFileName()), str(back.getFileName()));
    EXPECT_EQ(d->getType(), 'r');
    EXPECT_EQ(d->otherKeys().size(), 2u);
  }
  EXPECT_FALSE(copy.delSchema("nx"));
  EXPECT_TRUE(copy.delSchema("n1"));
  EXPECT_EQ(content("beta.rsv"),
            "ServerId\t\t3\nHost\t\tdbhost.example\nNamespaces\t\tn2:extra,n3\n"
            "LockWait\t\t30\nUnknown\t\tzz\nObjectRepository\t\t/objrep\n");

  DbConfigFile none;
  EXPECT_FALSE(none.addSchema("n4"));
  EXPECT_FALSE(none.delSchema("n2"));
}

TEST_F(ConfigFileTest, ServerListFindsTheServerOfASchema) {
  put("alpha.sv", "ServerId\t\t1\nSchemas\t\tshared,s1\n");
  put("beta.rsv", "Host\t\tfar\nSchemas\t\ts2:x\n");
  zftest::ScopedEnv servers("SERVERS", "alpha;;beta;");  // an empty entry hides nothing
  DbConfigFile c;
  EXPECT_EQ(str(DbConfigFile::accessiblesServers()), "alpha\tbeta");

  ASSERT_TRUE(c.find("s2"));
  EXPECT_EQ(str(c.getServerName()), "beta");
  EXPECT_EQ(c.getType(), 'r');
  ASSERT_TRUE(c.find("shared"));
  EXPECT_EQ(str(c.getServerName()), "alpha");
  EXPECT_FALSE(c.find("none"));
  EXPECT_TRUE(c.getFileName().isNull());
  EXPECT_FALSE(c.find("s2", 'i'));

  EXPECT_TRUE(c.findServer("", true));
  EXPECT_EQ(str(c.getServerName()), "alpha");
  EXPECT_FALSE(c.findServer("", false));
  EXPECT_TRUE(c.findServer("beta", true));
  EXPECT_EQ(str(c.getHost()), "far");
  EXPECT_FALSE(c.findServer("gamma", false));
  EXPECT_TRUE(c.getServer("alpha"));
  EXPECT_EQ(c.getServerId(), 1);
  EXPECT_FALSE(c.getServer("beta"));

  zftest::ScopedEnv unset("SERVERS", "", true);
  EXPECT_TRUE(DbConfigFile::accessiblesServers().isNull());
  EXPECT_FALSE(c.find("s2"));
}

// Starts the process as a program does, so that reports show their
// catalogue texts and end the process.
void startChild() {
  zftest::startUpOnce("cfgtest");
}

TEST_F(ConfigFileTest, ReportsNameTheFileAndLine) {
  std::string const bad = dir.file("servers/bad.sv");
  put("remote.rsv", "Schemas\t\ta\n");
  struct Case {
    std::string text;  // contents of bad.sv
    void (*run)();
    char const* expect;
  } const cases[] = {
      {"ServerId\t\t1\nServerId\n", [] { ConfigFile().read("bad", 'i'); },
       "Configuration file .*/servers/bad\\.sv: the key ServerId has no value \\(line 2\\)\\."},
      {"# c\n\t\t7\n", [] { ConfigFile().read("bad", 'i'); },
       "Malformed line in .*/servers/bad\\.sv, line 2\\."},
      {"ServerId\t\t1\n" + std::string(3000, 'x') + "\nServerId\t\t2\n", [] { ConfigFile().read("bad", 'i'); },
       "Malformed line in .*/servers/bad\\.sv, line 2\\."},
      {"", [] { ConfigFile().read("bad", 'x'); }, "Precondition failed \\(0\\)"},
      {"Schemas\t\ta\n", [] { DbConfigFile d; d.read("bad", 'i'); d.addSchema("b"); },
       "Precondition failed \\(ty == 'r'\\)"},
      {"", [] { DbConfigFile().findServer("gamma", true); },
       "The server gamma is not listed in the environment variable SERVERS\\."},
  };
  zftest::ScopedEnv servers("SERVERS", "alpha;beta");
  for (Case const& k : cases) {
    put("bad.sv", k.text);
    EXPECT_EXIT(
        {
          startChild();
          k.run();
          std::_Exit(0);
        },
        testing::ExitedWithCode(1), k.expect);
  }
  zftest::ScopedEnv none("SERVERS", ";");
  EXPECT_EXIT(
      {
        startChild();
        DbConfigFile().findServer("", true);
        std::_Exit(0);
      },
      testing::ExitedWithCode(1), "No server is listed in the environment variable SERVERS\\.");
}

}  // namespace

namespace {

TEST_F(ConfigFileTest, RewriteThatWouldNotReadBackIsRefusedAndTheOldFileKept) {
  std::string const longList(1200, 'x');
  struct Case {
    char const* what;
    std::string text;
    bool add;  // add a schema (else drop "s1")
  } const cases[] = {
      {"two list lines that make one too long",
       "Host\t\th\nSchemas\t\ts1," + longList + "\nSchemas\t\t" + longList + "y\n", false},
      {"a NUL byte in a value", std::string("Host\t\th\nSchemas\t\ts1\nLockWait\t\t3\0 0\n", 35), true},
      {"a key that begins with blanks and #", "Host\t\th\nSchemas\t\ts1\n  #Kept\t\t1\n", true},
  };
  for (Case const& c : cases) {
    put("gamma.rsv", c.text);
    DbConfigFile cfg;
    ASSERT_TRUE(cfg.read("gamma", 'r')) << c.what;
    ino_t before = inode("gamma.rsv");
    EXPECT_FALSE(c.add ? cfg.addSchema("s2") : cfg.delSchema("s1")) << c.what;
    EXPECT_EQ(content("gamma.rsv"), c.text) << c.what;
    EXPECT_EQ(inode("gamma.rsv"), before) << c.what;
    EXPECT_EQ(serverFiles(), std::set<std::string>{"gamma.rsv"}) << c.what;
  }
  // A schema name with blanks at its ends would read back without them.
  put("gamma.rsv", "Host\t\th\nSchemas\t\ts1\n");
  DbConfigFile blanks;
  ASSERT_TRUE(blanks.read("gamma", 'r'));
  EXPECT_FALSE(blanks.addSchema("s2 "));
  EXPECT_EQ(content("gamma.rsv"), "Host\t\th\nSchemas\t\ts1\n");
  // A sound file is still rewritten.
  put("gamma.rsv", "Host\t\th\nSchemas\t\ts1\n  Kept\t\t1\n");
  DbConfigFile cfg;
  ASSERT_TRUE(cfg.read("gamma", 'r'));
  EXPECT_TRUE(cfg.addSchema("s2"));
  EXPECT_EQ(content("gamma.rsv"), "Host\t\th\nSchemas\t\ts1,s2\nKept\t\t1\n");
}

}  // namespace
