// Data definition and privileges through a live server: schemas, tables
// defined locally and sent with their last field, the refusals that send
// nothing, the schema lock on the schema's own object, privilege levels.
#include "OmdbFixture.h"

#include <zfound/InCheck.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include "Omdb.h"

#include <string>

namespace omtest {
namespace {

class Design : public OmdbFixture {
protected:
  // Requests this process sent to the schema's server so far.
  int32_t sent(int32_t schema) { return ClientMonitor::nMethods(omConnection(schema)); }

  // A table "t" of two fields (a number key and a text) on the server.
  int32_t twoFieldTable(int32_t s, char const* name) {
    int32_t t = CreateTable(s, name, "two fields", 0, 0, 2);
    if (t < 0) return -1;
    if (AddTabField(t, "code", "", 0, 0, 0, 6, 0, 1, nullptr, nullptr) < 0) return -1;
    if (AddTabField(t, "name", "", 0, 1, 0, 20, 0, 0, nullptr, nullptr) < 0) return -1;
    return t;
  }
};

TEST_F(Design, TablesAreDefinedLocallyAndSentWithTheirLastField) {
  int32_t s = CreateSchema(path("s1").c_str(), "d");
  ASSERT_EQ(s, 0x10000) << _io_errno_;
  std::string all = GetSchemas();
  EXPECT_NE(all.find("s1"), std::string::npos) << all;

  int32_t t = CreateTable(s, "Orders", "", 0, 0, 2);
  ASSERT_GT(t, 0);
  int32_t before = sent(s);
  ASSERT_GT(AddTabField(t, "code", "", 0, 0, 0, 6, 0, 1, nullptr, nullptr), 0);
  // Only the count's own request reached the server.
  EXPECT_EQ(sent(s), before + 1) << "a field before the last is only defined here";
  ASSERT_GT(AddTabField(t, "cdate", "", 0, 2, 0, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_GT(sent(s), before + 1);
  EXPECT_NE(omOf(_GetTabPtr(t))->objId, -1);
  EXPECT_NE(_GetFldPtr(t | 2)->d.flags & 0x40, 0) << "cdate stamps the creation";
  // The third field of a two-field table is refused.
  EXPECT_EQ(AddTabField(t, "more", "", 0, 0, 0, 4, 0, 0, nullptr, nullptr), -1);

  // A fresh open sees the table on the server.
  CloseSchema(s);
  int32_t h = OpenSchema(path("s1").c_str(), 0x10);
  ASSERT_GT(h, 0) << _io_errno_;
  EXPECT_GT(FindDbTable(h, "orders"), 0);
}

TEST_F(Design, RefusalsSendNothing) {
  int32_t s = CreateSchema(path("s2").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = twoFieldTable(s, "customers1");
  ASSERT_GT(t, 0);
  int32_t before = sent(s);

  // A name whose first 10 characters name a table is taken.
  _io_errno_ = 0;
  EXPECT_EQ(CreateTable(s, "customers12345", "", 0, 0, 1), -1);
  EXPECT_EQ(_io_errno_, 7);
  // A field type that is none.
  int32_t u = CreateTable(s, "other", "", 0, 0, 1);
  ASSERT_GT(u, 0);
  EXPECT_EQ(AddTabField(u, "x", "", 0, 7, 0, 4, 0, 0, nullptr, nullptr), -1);
  // A schema privilege that is no level.
  s_schema* sp = _GetSchPtr(s);
  int32_t privs[1] = {dbPrivEntry(1234, DB_PRIV_USER, 3)};
  int32_t* oldPrivs = sp->d.privs;
  uint16_t oldN = sp->d.nprivs;
  sp->d.privs = privs;
  sp->d.nprivs = 1;
  EXPECT_EQ(_FlushSchPrivileges(sp), 0);
  sp->d.privs = oldPrivs;
  sp->d.nprivs = oldN;
  // A value check whose stored form passes 8 KB.
  InList big(false);
  for (int i = 0; i < 1200; ++i) big.addKeyVal(AnyValue(String("a value of some length")));
  EXPECT_EQ(_SetInCheck(t | 2, &big, "big"), -1);
  EXPECT_EQ(sent(s), before + 1);

  // Renaming onto an existing name.
  int32_t v = twoFieldTable(s, "third");
  ASSERT_GT(v, 0);
  _io_errno_ = 0;
  EXPECT_EQ(RenameTable(v, "customers1"), -1);
  EXPECT_EQ(_io_errno_, 7);
  EXPECT_EQ(RenameTable(v, "fourth"), 0);
  EXPECT_EQ(DropTable(v), 0);
  EXPECT_EQ(DropSchema(s), 0);
}

TEST_F(Design, TheSchemaLockIsTheSchemasOwnAndCheckpointsGoOn) {
  int32_t s = CreateSchema(path("s3").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t schemaObj = omOf(_GetSchPtr(s))->objId;
  ASSERT_EQ(LockSchema(s, 3), 0);
  // Another client's attach of the locked schema is refused as locked.
  Body b;
  b.w(16).w(1).w(0).s("s3");
  zftest::RawReply r = raw().request(kServerObj, DBM_ATTACH, b.words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status < 0 ? -r.status : r.status, 4) << "Locked";
  // The process lock is not taken: a checkpoint is still taken.
  zftest::RawReply cp = raw().request(kServerObj, DBM_CHECKPOINT, {0});
  ASSERT_TRUE(cp.ok);
  EXPECT_NE(cp.result & 8, 0) << cp.result;
  FreeSchema(s);
  EXPECT_EQ(DbCheckPoint(s), 1);

  // While another client has the schema attached, the lock is refused.
  Body a;
  a.w(16).w(1).w(0).s("s3");
  ASSERT_EQ(raw().request(kServerObj, DBM_ATTACH, a.words()).result, schemaObj);
  EXPECT_EQ(LockSchema(s, 3), -2);
}

TEST_F(Design, ADroppedSchemaIsForgottenWhenTheCheckpointAfterItIsDeferred) {
  int32_t s = CreateSchema(path("s4").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  // Another client holds the process lock: the checkpoint is deferred.
  ASSERT_TRUE(raw().request(kServerObj, DBM_LOCK).ok);
  EXPECT_EQ(_DropSchema(s, 1), -1);
  EXPECT_EQ(FindSchema(path("s4").c_str()), -1);
  EXPECT_EQ(FindNextSchema(0), -1);
  Body b;
  b.w(16).w(1).w(0).s("s4");
  EXPECT_EQ(raw().request(kServerObj, DBM_ATTACH, b.words()).result, -1) << "gone on the server";
}

}  // namespace
}  // namespace omtest
