// The disk layout of schemas: old-style directories converted, entries and
// directories checked at start, a dropped schema listed for deferred
// removal, and stray files cleared with user files kept.
#include "CoreFixture.h"

#include <zfound/PhysLayout.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

using namespace coretest;

namespace {

class DiskLayoutTest : public CoreTest {
protected:
  void TearDown() override {
    Server::physLayout_sd = nullptr;
    layout_.reset();
    CoreTest::TearDown();
  }
  // A server "srv" with `schemas` and the layout file text `entries`.
  void setUp(std::string const& schemas, std::string const& entries) {
    writeConfig("srv", "ServerId\t5\nSchemas\t" + schemas + "\n");
    tmp.write("layout", entries);
    delete Server::configFile;
    Server::configFile = new SvConfigFile("srv");
    Server::physLayout_sd = nullptr;
    layout_ = std::make_unique<PhysLayout>(String(tmp.file("layout").c_str()));
    Server::physLayout_sd = layout_.get();
  }
  std::string db() const { return tmp.file("db"); }
  bool exists(std::string const& p) const { return ::access(p.c_str(), F_OK) == 0; }

  std::unique_ptr<PhysLayout> layout_;
};

TEST_F(DiskLayoutTest, OldStyleDirectoryBecomesTwoPackedEntries) {
  setUp("hr:1.1.1,sales:" + db() + ":1.2.3", "hr.*\tPACKED\t/data/hr\n");
  Server::convertIntoDiskConfig();
  EXPECT_EQ(zftest::str(Server::configFile->getSchemas()), "hr:1.1.1,sales:1.2.3");
  ASSERT_EQ(layout_->nEntries(), 3);
  EXPECT_EQ(zftest::str(layout_->entry(1)->pattern()), "sales.$*");
  EXPECT_EQ(zftest::str(layout_->entry(2)->pattern()), "sales.*");
  EXPECT_EQ(zftest::str(layout_->entry(2)->part(0)), db() + "/sales");
  // Converting again changes nothing.
  Server::convertIntoDiskConfig();
  EXPECT_EQ(layout_->nEntries(), 3);
}

// Each case: layout text, schema checked, whether the process must stop
// and the text it then reports.
TEST_F(DiskLayoutTest, EntriesAndDirectoriesAreCheckedAtStart) {
  ASSERT_EQ(::mkdir(db().c_str(), 0777), 0);
  ASSERT_EQ(::mkdir((db() + "/sales").c_str(), 0777), 0);
  struct Case {
    std::string layout;
    char const* schema;
    bool stops;
    std::string report;
  } const cases[] = {
      {"sales.$*\tPACKED\t" + db() + "\nsales.*\tPACKED\t" + db() + "\n", "sales", false, ""},
      {"sales.*\tPACKED\t" + db() + "\nhr.*\tPACKED\t" + db() + "\n", "sales", true,
       "entry 1 (hr.*) belongs to no configured schema"},
      {"sales.*\tPACKED\t" + db() + "/none\n", "sales", true, "sales.*: directory " + db() + "/none/sales"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.layout);
    setUp("sales:1.2.3", c.layout);
    displayErrorHandler(old_);
    zftest::RunResult r = zftest::runInChild([&] {
      Server::checkDiskConfigEntries();
      return Server::checkDiskConfigDirs(String(c.schema)) ? 0 : 3;
    });
    displayErrorHandler(recordWarning);
    EXPECT_EQ(r.status != 0, c.stops) << r.out << r.err;
    if (c.stops) {
      EXPECT_NE((r.out + r.err).find(c.report), std::string::npos) << r.out << r.err;
    }
  }
  EXPECT_FALSE(Server::checkDiskConfigDirs(String("hr")));  // no entry: not an error here
}

bool claimCatalog(void*, String const& f) {
  static std::set<std::string> const mine = {"$class.tab", "$class.i00", "_custome.tab", "_custome.i00"};
  return mine.count(toCharPtr(f)) != 0;
}

TEST_F(DiskLayoutTest, StrayServerFilesGoAndEverythingElseStays) {
  std::string const dir = db() + "/sales";
  tmp.write("db/sales/keep", "");
  setUp("sales:1.2.3", "sales.$*\tPACKED\t" + db() + "\nsales.*\tPACKED\t" + db() + "\n");
  ASSERT_TRUE(Server::checkDiskConfigDirs(String("sales")));
  // file, removed when the schema has tables
  struct Case {
    char const* name;
    bool removed;
  } const cases[] = {
      {"$class.tab", false},  {"_custome.tab", false}, {"_custome.i00", false},  // claimed
      {"_stray.tab", true},   {"_stray.i01", true},    {"$member.tab", true},    // server names
      {"notes.txt", false},   {"_stray.tab.bak", false}, {"_toolongname.tab", false},
      {"custome.tab", false}, {"_x.i0", false},
  };
  for (bool hasTables : {false, true}) {
    SCOPED_TRACE(hasTables);
    for (Case const& c : cases) tmp.write(std::string("db/sales/") + c.name, "x");
    ::mkdir((dir + "/_sub.tab").c_str(), 0777);
    shown().clear();
    Server::unlinkUnUsedFiles(String("sales"), claimCatalog, nullptr, hasTables);
    for (Case const& c : cases) {
      EXPECT_EQ(!exists(dir + "/" + c.name), hasTables && c.removed) << c.name;
      if (c.removed) {
        EXPECT_TRUE(sawWarning("Deleting unused file " + dir + "/" + c.name)) << c.name;
      }
    }
    EXPECT_TRUE(exists(dir + "/_sub.tab"));
    EXPECT_TRUE(sawWarning(dir + "/notes.txt is not a file of the server"));
    EXPECT_TRUE(sawWarning(dir + "/_sub.tab is not a file of the server"));
    EXPECT_FALSE(sawWarning(dir + "/$class.tab"));
  }
}

TEST_F(DiskLayoutTest, DroppedSchemaIsListedOnceForDeferredRemoval) {
  std::string const dir = db() + "/sales";
  tmp.write("db/sales/_a.tab", "x");
  tmp.write("db/sales/$class.tab", "x");
  setUp("sales:1.2.3", "sales.$*\tPACKED\t" + db() + "\nsales.*\tPACKED\t" + db() + "\n");
  ASSERT_TRUE(Server::checkDiskConfigDirs(String("sales")));
  Server::unlinkSchema(String("sales"));
  ASSERT_NE(Server::defunlink, nullptr);
  ASSERT_EQ(Server::defunlink->size(), 3u);
  EXPECT_EQ(zftest::str((*Server::defunlink)[0].path()), dir + "/$class.tab");
  EXPECT_EQ(zftest::str((*Server::defunlink)[1].path()), dir + "/_a.tab");
  EXPECT_EQ(zftest::str((*Server::defunlink)[2].path()), dir);
  Server::unlinkSchema(String("sales"));
  EXPECT_EQ(Server::defunlink->size(), 3u);
  Server::delDiskConfigEntries(String("sales"));
  EXPECT_EQ(layout_->nEntries(), 0);
}

}  // namespace
