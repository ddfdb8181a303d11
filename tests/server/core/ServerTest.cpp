// Server services: temporary ids, the ignore list, logical names, deferred
// unlinks, schema registration, version numbers of stamps and the
// assertion report.
#include "CoreFixture.h"

#include <blkfile/CacheBuffer.h>

#include <zfound/PhysLayout.h>

#include <sys/resource.h>

using namespace coretest;

namespace {

class ServerTest : public CoreTest {};

TEST_F(ServerTest, NewTempIdSkipsZero) {
  Server::lastTempId = 0xfffffffeu;
  EXPECT_EQ(Server::newTempId(), 0xffffffffu);
  EXPECT_EQ(Server::newTempId(), 1u);
  EXPECT_EQ(Server::newTempId(), 2u);
}

TEST_F(ServerTest, IgnoreTrans) {
  struct Case {
    char const* list;
    int32_t n;
    bool result;
  } const cases[] = {{"3,12,40", 12, true}, {"3,120", 12, false}, {"", 12, false},
                     {"12", 12, true},      {"3,12", 3, true},    {"1,2", 12, false}};
  for (auto const& c : cases) {
    SCOPED_TRACE(c.list);
    Server::ignore_sd = c.list;
    EXPECT_EQ(Server::ignoreTrans(c.n), c.result);
  }
}

TEST_F(ServerTest, LogicalName) {
  EXPECT_EQ(zftest::str(svcore::logicalName("data", "2abc")), "data.abc");
  EXPECT_EQ(zftest::str(svcore::logicalName("data", "abc")), "data.abc");
  EXPECT_EQ(zftest::str(svcore::logicalName("data", "")), "data.");
}

TEST_F(ServerTest, DeferredUnlinks) {
  EXPECT_FALSE(Server::belongsDeferUnlink("/x/a.tab", ""));
  Server::deferUnlink("/x/a.tab", "sales", "a.tab");
  Server::deferUnlink("/x/dir", "", "");
  EXPECT_TRUE(Server::belongsDeferUnlink("/x/dir", ""));
  EXPECT_FALSE(Server::belongsDeferUnlink("/x/other", ""));
  EXPECT_TRUE(Server::belongsDeferUnlink("a.tab", "sales"));
  EXPECT_FALSE(Server::belongsDeferUnlink("a.tab", "hr"));
  // Storage reaches the same list through its hook.
  svstore::StorageEnv::deferUnlink("/y/b.tab", "hr", "b.tab");
  EXPECT_TRUE(Server::belongsDeferUnlink("b.tab", "hr"));
  ASSERT_NE(Server::defunlink, nullptr);
  EXPECT_EQ(Server::defunlink->size(), 3u);
}

TEST_F(ServerTest, AddAndDelSchemaKeepConfigurationAndLayoutInStep) {
  writeConfig("srv", "ServerId\t5\nSchemas\thr:1.1.1\n");
  tmp.write("layout", "hr.*\tPACKED\t/data/hr\n");
  Server::configFile = new SvConfigFile("srv");
  PhysLayout layout(String(tmp.file("layout").c_str()));
  Server::physLayout_sd = &layout;
  EXPECT_EQ(Server::id(), 5);
  EXPECT_EQ(Server::instId(), 1);

  ASSERT_TRUE(Server::addSchema("/data/sales", "sales", SvConfigFile::schemaId(1, 2, 3)));
  EXPECT_EQ(zftest::str(Server::configFile->getSchemas()), "hr:1.1.1,sales:1.2.3");
  ASSERT_EQ(layout.nEntries(), 3);
  EXPECT_EQ(zftest::str(layout.entry(1)->pattern()), "sales.$*");
  EXPECT_EQ(zftest::str(layout.entry(2)->pattern()), "sales.*");
  EXPECT_EQ(zftest::str(layout.entry(2)->part(0)), "/data/sales/sales");
  EXPECT_NE(layout.find("sales.$class"), nullptr);

  EXPECT_FALSE(Server::delSchema("nosuch"));
  EXPECT_EQ(layout.nEntries(), 3);
  EXPECT_EQ(zftest::str(Server::configFile->getSchemas()), "hr:1.1.1,sales:1.2.3");

  EXPECT_TRUE(Server::delSchema("sales"));
  EXPECT_EQ(layout.nEntries(), 1);
  EXPECT_EQ(zftest::str(Server::configFile->getSchemas()), "hr:1.1.1");
  Server::physLayout_sd = nullptr;
}

TEST_F(ServerTest, VersNumFindsTheVersionOfAStamp) {
  EXPECT_EQ(Server::versNum(TimeStamp()), -1) << "no configuration: no versions";
  Server::configFile = new SvConfigFile();
  EXPECT_EQ(Server::versNum(TimeStamp()), -1);
  Server::configFile->setHandleVersions(true);
  Server::stateFile = new StateFile(String(tmp.file("st").c_str()));
  TimeStamp t;
  t.setNow();
  TimeStamp s0 = t, s1 = t, s2 = t;
  s1 += 10;
  s2 += 20;
  Server::stateFile->versionStamp(0) = s0;
  Server::stateFile->versionStamp(1) = s1;
  Server::stateFile->versionStamp(2) = s2;
  Server::currVersion = 3;
  TimeStamp before = t, mid = t, after = t;
  before -= 5;
  mid += 15;
  after += 30;
  EXPECT_EQ(Server::versNum(before), 0);
  EXPECT_EQ(Server::versNum(s0), 0) << "not later than version 0";
  EXPECT_EQ(Server::versNum(mid), 2);
  EXPECT_EQ(Server::versNum(after), 3);
  // Storage asks through its hook.
  EXPECT_EQ(svstore::StorageEnv::versNum(mid), 2);
}

TEST_F(ServerTest, AssertionReport) {
  shown().clear();
  Server::_assert("x > 0", "file.cpp", 12, false);
  ASSERT_EQ(shown().size(), 1u);
  EXPECT_EQ(shown()[0], "Warning: file.cpp:12 assertion failed (x > 0).");
  displayErrorHandler(old_);
  zftest::RunResult r = zftest::runInChild([] {
    svstore::StorageEnv::_assert("n <= last()", "blk.cpp", 7, true);
    return 0;
  });
  displayErrorHandler(recordWarning);
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("Error: blk.cpp:7 assertion failed (n <= last())."), std::string::npos)
      << r.out << r.err;
}

TEST_F(ServerTest, ResetRestoresStartValues) {
  Server::currCP = 1;
  Server::cachePageSize_sd = 8192;
  Server::nMeth = 5;
  Server::deferUnlink("/a", "", "");
  Server::disableLog();
  Server::reset();
  EXPECT_EQ(Server::currChkPoint(), -1);
  EXPECT_EQ(Server::cachePageSize(), 1024);
  EXPECT_EQ(Server::nMethods(), 0);
  EXPECT_EQ(Server::defunlink, nullptr);
  EXPECT_FALSE(Server::logDisabled());
  EXPECT_EQ(Server::protocolVersion(), 1101);
  EXPECT_EQ(Server::version(), 3302);
  EXPECT_EQ(Server::currVers(), -1);
}

TEST_F(ServerTest, ConvLastExceptionTurnsLockedIntoModLocked) {
  Exception::last(Locked("client 7"));
  Exception& e = Server::convLastException();
  EXPECT_EQ(e.code(), 15);
  EXPECT_EQ(zftest::str(static_cast<ModLocked&>(e).owner()), "client 7");
  Exception::last(NoIntegrity());
  EXPECT_EQ(Server::convLastException().code(), 5);
  Exception::last(Exception(0));
}

TEST_F(ServerTest, SetCacheSizeGoesToThePageCache) {
  EXPECT_FALSE(Server::setCacheSize(10));
  EXPECT_TRUE(Server::setCacheSize(128));
  EXPECT_EQ(CacheBuffer::size(), 128);
  CacheBuffer::cleanUp();
}

// Start-up raises the file-size limit to 2 GB - 1 but never lowers one
// that is already higher or unlimited.
TEST(ServerLimits, FileSizeLimitOnlyRaised) {
  struct Case {
    uint64_t cur;
    uint64_t want;
  } const cases[] = {{0, 0x7fffffff},
                     {4096, 0x7fffffff},
                     {0x7fffffff, 0x7fffffff},
                     {0x80000000ull, 0x80000000ull},
                     {uint64_t(1) << 40, uint64_t(1) << 40},
                     {uint64_t(RLIM_INFINITY), uint64_t(RLIM_INFINITY)}};
  for (Case const& c : cases)
    EXPECT_EQ(Server::raisedFileLimit(c.cur), c.want) << c.cur;
}

}  // namespace
