// Stray files of open schemas: a schema whose catalog read back whole loses
// a stray server-named file; one with a damaged catalog row keeps it.
#include <sys/stat.h>

#include <svcatalog/CatalogOps.h>
#include <svcatalog/CatalogTables.h>
#include <svcatalog/SvTable.h>
#include <svcore/SchemaFiles.h>

#include "../catalog/SchemaFixture.h"
#include "CoreFixture.h"

namespace {

class SchemaFilesTest : public coretest::CoreTest {};

bool exists(std::string const& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

TEST_F(SchemaFilesTest, OnlyASchemaReadBackWholeLosesStrayFiles) {
  for (bool damaged : {false, true}) {
    SCOPED_TRACE(damaged ? "damaged" : "whole");
    zftest::TempDir dir;
    catalogtest::SchemaEnv env(dir.path());
    SvSchema* s = SvSchema::consSchema(nullptr, String("demo"), String(env.db().c_str()), String(), 0);
    ASSERT_NE(s, nullptr);
    SvTable* t = svcatalog::consTable(nullptr, s, String("T"), String(), 4, 0, 0);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(svcatalog::consField(nullptr, t->tabRep(), 0, String("n"), String(), nullptr, String(), 0, 0,
                                   SvField::INT, 0, ObjectId(), 0, 1, nullptr, nullptr, nullptr, String()),
              nullptr);
    if (damaged) {
      svcatalog::CatalogTable* ft = s->fieldStruct();
      ft->clearRow();
      ft->set(svcatalog::MemberCol::Class, ObjectId(s->classWord(SvSchema::kKindTable), 999));
      ft->set(svcatalog::MemberCol::Name, String("orphan"));
      ASSERT_GE(ft->SvTable::addCurrRecord(nullptr, true, true, -1, nullptr, 0), 0);
    }
    int32_t const id = s->id();
    catalogtest::SchemaEnv::checkpoint();
    catalogtest::SchemaEnv::closeAll();
    env.addLayout(String("demo"));
    std::string const stray = env.db() + "/demo/_stray.tab";
    dir.write("db/demo/_stray.tab", "x");
    s = new SvSchema(nullptr, String("demo"), id);
    EXPECT_EQ(s->damaged(), damaged);
    svcore::unlinkUnUsedFiles();
    EXPECT_EQ(exists(stray), damaged);
    EXPECT_TRUE(exists(env.db() + "/demo/_t.tab"));
    EXPECT_TRUE(exists(env.db() + "/demo/$class.tab"));
    catalogtest::SchemaEnv::closeAll();
  }
}

}  // namespace
