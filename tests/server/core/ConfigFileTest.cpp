// The server configuration file: every key read, checked and stored back in
// order; the edge cases; schema ids and the setters.
#include "CoreFixture.h"

#include <blkfile/CacheBuffer.h>

using namespace coretest;

namespace {

class ConfigFileTest : public CoreTest {};

char const kFullConfig[] =
    "ServerId\t7\n"
    "Schemas\tsales:1.2.3\n"
    "Backup\toff\n"
    "CachePageSize\t2\n"
    "CacheSize\t512\n"
    "CkPointFreq\t60\n"
    "CkPointLowBound\t30\n"
    "CkPointUpBound\t5\n"
    "CorruptionTolerant\tfalse\n"
    "Dbase\t/data/db/\n"
    "DiskConfiguration\t/etc/disks\n"
    "HandleVersions\ton\n"
    "HKeepingMsgBound\t50\n"
    "JournalBuffer\t64\n"
    "JournalDir\t/var/journal\n"
    "JournalFlushFreq\t9\n"
    "Locks\t2048\n"
    "LocksPerClient\t128\n"
    "LockUnifyBound\t100\n"
    "LockUnifyPercent\t150\n"
    "LockWait\t30\n"
    "MatureTime\t700\n"
    "MaxAttachsPerClient\t12\n"
    "Mirroring\t1\n"
    "NextSchemaId\t1.2.63\n"
    "Notifies\t99\n"
    "PendLockNotifTime\t4\n"
    "ProfileFile\t/tmp/prof\n"
    "ProfileFrequency\t3\n"
    "RunLogFile\t/tmp/run.log\n"
    "StateFile\t/tmp/ombrel.state\n"
    "TransTimeOut\t11\n";

TEST_F(ConfigFileTest, EveryKeyIsReadAndStoredBackInOrder) {
  writeConfig("full", kFullConfig);
  SvConfigFile c("full");
  ASSERT_FALSE(!c);
  EXPECT_TRUE(shown().empty()) << shown()[0];
  EXPECT_EQ(c.serverOptions(), 2);
  EXPECT_EQ(c.cachePageSize(), 2);
  EXPECT_EQ(c.cacheSz(), 512);
  EXPECT_EQ(c.ckPointFreq(), 60);
  EXPECT_EQ(c.ckPointLowBound(), 30);
  EXPECT_EQ(c.ckPointUpBound(), 5);
  EXPECT_FALSE(c.tolerant());
  EXPECT_EQ(zftest::str(c.dbase()), "/data/db");
  EXPECT_EQ(zftest::str(c.diskConfiguration()), "/etc/disks");
  EXPECT_TRUE(c.handleVersions());
  EXPECT_EQ(c.hkMsgBound(), 50);
  EXPECT_EQ(c.journalBuff(), 64);
  EXPECT_EQ(zftest::str(c.journalDir()), "/var/journal");
  EXPECT_EQ(c.journalFlushFreq(), 9);
  EXPECT_EQ(c.numLocks(), 2048);
  EXPECT_EQ(c.numLocksPClient(), 128);
  EXPECT_EQ(c.lkUnifyBound(), 100);
  EXPECT_EQ(c.lkUnifyPercent(), 100);
  EXPECT_EQ(c.lkWait(), 30);
  EXPECT_EQ(c.matureTime(), 700);
  EXPECT_EQ(c.maxAttachsPClient(), 12);
  EXPECT_EQ(c.getNextSchemaId(), SvConfigFile::schemaId(1, 2, 63));
  EXPECT_EQ(c.numNotifies(), 99);
  EXPECT_EQ(c.pendLockNotifTime(), 4);
  EXPECT_EQ(zftest::str(c.profFile()), "/tmp/prof");
  EXPECT_EQ(c.profileFreq(), 3);
  EXPECT_EQ(zftest::str(c.runLogFile()), "/tmp/run.log");
  EXPECT_EQ(zftest::str(c.stateFile()), "/tmp/ombrel.state");
  EXPECT_EQ(c.transTimeOut(), 11);

  EXPECT_EQ(c.nextSchemaId(), SvConfigFile::schemaId(1, 2, 63));
  ASSERT_TRUE(c.store());
  EXPECT_EQ(zftest::readFile(tmp.file("servers/full.sv")),
            "ServerId\t\t7\n"
            "Schemas\t\tsales:1.2.3\n"
            "NextSchemaId\t\t1.3.0\n"
            "CacheSize\t\t512\n"
            "CkPointFreq\t\t60\n"
            "CkPointLowBound\t\t30\n"
            "CkPointUpBound\t\t5\n"
            "CorruptionTolerant\t\t0\n"
            "Dbase\t\t/data/db\n"
            "HandleVersions\t\t1\n"
            "HKeepingMsgBound\t\t50\n"
            "Locks\t\t2048\n"
            "LocksPerClient\t\t128\n"
            "LockUnifyBound\t\t100\n"
            "LockUnifyPercent\t\t100\n"
            "LockWait\t\t30\n"
            "PendLockNotifTime\t\t4\n"
            "Backup\t\t0\n"
            "Mirroring\t\t1\n"
            "Notifies\t\t99\n"
            "RunLogFile\t\t/tmp/run.log\n"
            "StateFile\t\t/tmp/ombrel.state\n"
            "JournalBuffer\t\t64\n"
            "JournalDir\t\t/var/journal\n"
            "JournalFlushFreq\t\t9\n"
            "TransTimeOut\t\t11\n"
            "MatureTime\t\t700\n"
            "MaxAttachsPerClient\t\t12\n"
            "DiskConfiguration\t\t/etc/disks\n"
            "CachePageSize\t\t2\n"
            "ProfileFile\t\t/tmp/prof\n"
            "ProfileFrequency\t\t3\n"
            "ObjectRepository\t\t\n");
  // What was stored reads back as the same settings.
  SvConfigFile again("full");
  EXPECT_EQ(again.nextSchemaId(), SvConfigFile::schemaId(1, 3, 1));
  EXPECT_EQ(again.lkUnifyPercent(), 100);
  EXPECT_EQ(again.serverOptions(), 2);
}

TEST_F(ConfigFileTest, DefaultsWithoutKeys) {
  writeConfig("empty", "ServerId\t3\n");
  SvConfigFile c("empty");
  ASSERT_FALSE(!c);
  EXPECT_EQ(c.serverOptions(), 1);
  EXPECT_EQ(c.cachePageSize(), 1);
  EXPECT_EQ(c.cacheSz(), 256);
  EXPECT_EQ(c.ckPointFreq(), 3600);
  EXPECT_EQ(c.getNextSchemaId(), -1);
  EXPECT_EQ(zftest::str(c.runLogFile()), "/var/log/ombrel.log");
  EXPECT_EQ(zftest::str(c.stateFile()), "/etc/ombrel.state");
  EXPECT_TRUE(c.tolerant());
  EXPECT_FALSE(c.handleVersions());
  // An unset next id is not written back.
  ASSERT_TRUE(c.addSchema("a", SvConfigFile::schemaId(1, 1, 1)));
  ASSERT_TRUE(c.store());
  EXPECT_EQ(zftest::readFile(tmp.file("servers/empty.sv")).find("NextSchemaId"), std::string::npos);
  // What was stored starts the server again: no empty value is fatal.
  displayErrorHandler(old_);
  zftest::RunResult r = zftest::runInChild([] {
    SvConfigFile back("empty");
    return back.getSchId(0) == SvConfigFile::schemaId(1, 1, 1) ? 0 : 3;
  });
  displayErrorHandler(recordWarning);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  SvConfigFile missing("nosuch");
  EXPECT_TRUE(!missing);
  EXPECT_FALSE(missing.addSchema("x", 1));
}

// Edge cases of reading: value line, what it gives, a warning text part or
// "" for none.
struct ReadCase {
  char const* line;
  char const* check;
  int32_t expected;
  char const* warned;
};

TEST_F(ConfigFileTest, ReadEdgeCases) {
  ReadCase const cases[] = {
      {"LockUnifyPercent\t150\n", "unify", 100, ""},
      {"LockUnifyPercent\t-5\n", "unify", 0, ""},
      {"NextSchemaId\t1.2\n", "next", -1, "Invalid NextSchemaId"},
      {"NextSchemaId\t0.0.0\n", "next", -1, "Invalid NextSchemaId"},
      {"NextSchemaId\t1.x.3\n", "next", -1, "Invalid NextSchemaId"},
      {"NextSchemaId\t\n", "next", -1, "Invalid NextSchemaId"},
      {"cachesize\t300\n", "cache", 300, ""},
      {"CACHESIZE\t301\n", "cache", 301, ""},
      {"CacheSize\tlots\n", "cache", 0, ""},
      {"CorruptionTolerant\tOFF\n", "tolerant", 0, ""},
      {"CorruptionTolerant\t7\n", "tolerant", 1, ""},
      {"HandleVersions\tTrue\n", "versions", 1, ""},
      {"Frobnicate\t1\n", "cache", 256, "Frobnicate"},
      {"JournalDir\t\n", "cache", 256, ""},
      {"CachePageSize\t16\n", "page", 16, ""},
  };
  for (ReadCase const& c : cases) {
    SCOPED_TRACE(c.line);
    shown().clear();
    writeConfig("edge", std::string("ServerId\t1\n") + c.line);
    SvConfigFile f("edge");
    ASSERT_FALSE(!f);
    std::string what = c.check;
    int32_t got = what == "unify" ? f.lkUnifyPercent()
                  : what == "next" ? f.getNextSchemaId()
                  : what == "cache" ? f.cacheSz()
                  : what == "tolerant" ? f.tolerant()
                  : what == "versions" ? f.handleVersions()
                                       : f.cachePageSize();
    EXPECT_EQ(got, c.expected);
    if (*c.warned)
      EXPECT_TRUE(sawWarning(c.warned));
    else
      EXPECT_TRUE(shown().empty()) << shown()[0];
  }
  writeConfig("init", "NextSchemaId\t1.2\n");
  SvConfigFile f("init");
  f.initialSchemaId(SvConfigFile::schemaId(2, 0, 5));
  EXPECT_EQ(f.getNextSchemaId(), SvConfigFile::schemaId(2, 0, 5));
  f.initialSchemaId(SvConfigFile::schemaId(3, 0, 5));
  EXPECT_EQ(f.getNextSchemaId(), SvConfigFile::schemaId(2, 0, 5));
}

// Fatal reads end the server with their message.
TEST_F(ConfigFileTest, BadCachePageSizeAndProfileFrequencyAreFatal) {
  struct Case {
    char const* line;
    char const* text;
  } const cases[] = {
      {"CachePageSize\t0\n", "Invalid cache page size 0 KB"},
      {"CachePageSize\t17\n", "Invalid cache page size 17 KB"},
      {"CachePageSize\t-3\n", "Invalid cache page size -3 KB"},
      {"ProfileFrequency\t-1\n", "Invalid profile frequency -1"},
      {"CacheSize\t\n", ""},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.line);
    writeConfig("fatal", std::string("ServerId\t1\n") + c.line);
    displayErrorHandler(old_);
    zftest::RunResult r = zftest::runInChild([] {
      SvConfigFile f("fatal");
      return 0;
    });
    displayErrorHandler(recordWarning);
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find(c.text), std::string::npos) << r.out << r.err;
  }
}

TEST_F(ConfigFileTest, SchemaIdsAreHandedOutWithoutALastFieldOfZero) {
  writeConfig("ids", "ServerId\t1\nSchemas\ta:1.2.3,b:/srv/b:1.2.4,c:1.2.0,d\nNextSchemaId\t1.2.63\n");
  SvConfigFile c("ids");
  EXPECT_EQ(c.nextSchemaId(), SvConfigFile::schemaId(1, 2, 63));
  EXPECT_EQ(c.nextSchemaId(), SvConfigFile::schemaId(1, 3, 1));
  EXPECT_TRUE(c.isModified());
  EXPECT_EQ(c.getSchId(0), SvConfigFile::schemaId(1, 2, 3));
  EXPECT_EQ(c.getSchId(1), SvConfigFile::schemaId(1, 2, 4));
  shown().clear();
  EXPECT_EQ(c.getSchId(2), -1);
  EXPECT_TRUE(sawWarning("1.2.0"));
  EXPECT_EQ(c.getSchId(3), -1);
  EXPECT_EQ(c.getSchId(9), -1);
  EXPECT_EQ(zftest::str(c.hasSchDbase(0)), "");
  EXPECT_EQ(zftest::str(c.hasSchDbase(1)), "/srv/b");
  EXPECT_FALSE(c.removeSchDbase(0));
  EXPECT_TRUE(c.removeSchDbase(1));
  EXPECT_EQ(zftest::str(c.getSchemas()), "a:1.2.3,b:1.2.4,c:1.2.0,d");
  EXPECT_EQ(zftest::str(SvConfigFile::schemaIdText(SvConfigFile::schemaId(300, 70, 65))), "44.6.1");

  // The last id of the 20-bit space, then nothing more.
  writeConfig("top", "NextSchemaId\t255.63.63\n");
  SvConfigFile t("top");
  EXPECT_EQ(t.nextSchemaId(), 0xFFFFF);
  shown().clear();
  EXPECT_EQ(t.nextSchemaId(), -1);
  EXPECT_FALSE(shown().empty());
}

TEST_F(ConfigFileTest, Setters) {
  writeConfig("set", "ServerId\t1\nRunLogFile\t/tmp/a.log\n");
  SvConfigFile c("set");
  EXPECT_FALSE(c.setRunLogFile("/tmp/b.log"));
  EXPECT_EQ(zftest::str(c.runLogFile()), "/tmp/a.log");
  EXPECT_TRUE(c.setRunLogFile("/tmp/a.log"));
  EXPECT_FALSE(c.isModified());
  EXPECT_TRUE(c.setJournalBuff(128));  // no journal: accepted, not stored
  EXPECT_EQ(c.journalBuff(), 32);
  EXPECT_FALSE(c.setCachePageSize(1));
  EXPECT_FALSE(c.setDiskConfiguration("x"));
  EXPECT_FALSE(c.setDbase("/x"));  // refused while Dbase is empty
  EXPECT_FALSE(c.setLkUnifyPercent(101));
  EXPECT_FALSE(c.setLkUnifyPercent(-1));
  EXPECT_FALSE(c.setCkPointFreq(-1));
  EXPECT_FALSE(c.setProfileFile(""));
  EXPECT_FALSE(c.isModified());
  EXPECT_TRUE(c.setLkUnifyPercent(40));
  EXPECT_TRUE(c.setCkPointFreq(10));
  EXPECT_TRUE(c.isModified());
  EXPECT_EQ(c.ckPointFreq(), 10);
  EXPECT_TRUE(c.setServerOptions(1));
  EXPECT_FALSE(c.setServerOptions(3));
  // The cache size is asked of the page cache first.
  EXPECT_FALSE(c.setCacheSz(10));
  EXPECT_EQ(c.cacheSz(), 256);
  EXPECT_TRUE(c.setCacheSz(128));
  EXPECT_EQ(c.cacheSz(), 128);
  EXPECT_EQ(CacheBuffer::size(), 128);
  CacheBuffer::cleanUp();
}

}  // namespace
