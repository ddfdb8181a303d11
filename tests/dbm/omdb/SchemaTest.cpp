// Schemas through a server: names, connections, the open-schema table, the
// protocol check and the table list.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>

#include "OmdbFixture.h"

#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include "ChildRun.h"
#include "Omdb.h"

namespace {

using omtest::FieldDef;
using omtest::kInt;
using omtest::kNumber;
using omtest::kText;
using omtest::OmdbFixture;

TEST(OmdbFrame, TellsItIsTheServerClientLibrary) { EXPECT_EQ(dbmsType(), 1); }

class OmdbSchema : public OmdbFixture {};

TEST_F(OmdbSchema, OpensOnceAndListsItsTables) {
  int32_t sch = makeSchema("sales");
  ASSERT_GT(sch, 0);
  ASSERT_GT(makeTable(sch, "orders", {{"id", kInt}, {"name", kText, 20}}), 0);
  ASSERT_GT(makeTable(sch, "lines", {{"id", kInt}, {"qty", kNumber, 9, 2}}), 0);

  int32_t h = OpenSchema(path("sales").c_str(), 0);
  ASSERT_EQ(h, 0x10000) << _io_errno_;
  DbConnection* conn = omConnection(h);
  ASSERT_NE(conn, nullptr);
  int32_t before = ClientMonitor::nMethods(conn);
  EXPECT_EQ(OpenSchema(path("sales").c_str(), 0), h);
  // Only the count's own request reached the server.
  EXPECT_EQ(ClientMonitor::nMethods(conn), before + 1);
  EXPECT_EQ(CurrentSchema(), h);
  EXPECT_EQ(FindSchema(path("sales").c_str()), h);
  EXPECT_EQ(FindSchema("sales"), h);
  EXPECT_EQ(FindNextSchema(0), h);
  EXPECT_EQ(FindNextSchema(h), -1);
  EXPECT_EQ(SchemaVersion(h), 0);

  s_schema* sp = _GetSchPtr(h);
  ASSERT_NE(sp, nullptr);
  EXPECT_STREQ(sp->d.name, "sales");
  EXPECT_EQ(sp->d.n_tables, 3);
  int32_t orders = -1, lines = -1;
  for (int32_t slot = 1; slot <= 2; ++slot) {
    om_table* ot = omOf(sp->tables[slot].tab);
    ASSERT_NE(ot, nullptr);
    EXPECT_EQ(sp->tables[slot].tab->d.len, 0) << "described lazily";
    EXPECT_EQ(findDbTable(ot->number), h | slot << 8);
    EXPECT_EQ(GetDbTable(ot->number), h | slot << 8);
    (ot->name == "orders" ? orders : lines) = h | slot << 8;
  }
  EXPECT_EQ(FindDbTable(h, "orders"), orders);
  EXPECT_EQ(FindDbTable(h, "lines"), lines);
  int32_t number = omOf(sp->tables[1].tab)->number;

  EXPECT_EQ(CloseSchema(h), 0);
  EXPECT_EQ(CurrentSchema(), -1);
  EXPECT_EQ(findDbTable(number), -1);
  EXPECT_EQ(FindSchema("sales"), -1);
}

TEST_F(OmdbSchema, AThirdSchemaFindsNoSlot) {
  for (char const* n : {"one", "two", "three"}) ASSERT_GT(makeSchema(n), 0);
  int32_t a = OpenSchema(path("one").c_str(), 0);
  int32_t b = OpenSchema(path("two").c_str(), 0);
  EXPECT_EQ(a, 0x10000);
  EXPECT_EQ(b, 0x20000);
  EXPECT_EQ(CurrentSchema(), b);
  EXPECT_EQ(SwitchToSchema(a), b);
  EXPECT_EQ(CurrentSchema(), a);
  _io_errno_ = 0;
  EXPECT_EQ(OpenSchema(path("three").c_str(), 0), -1);
  EXPECT_EQ(_io_errno_, 14);
  EXPECT_EQ(CurrentSchema(), a);
}

// Two schemas on one server share its connection; closing one closes it
// (its slot is free again) and leaves the other working.
TEST_F(OmdbSchema, SchemasSharingAConnectionCloseApart) {
  int32_t sa = makeSchema("alpha"), sb = makeSchema("beta");
  ASSERT_GT(sa, 0);
  ASSERT_GT(sb, 0);
  ASSERT_GT(makeSchema("gamma"), 0);
  ASSERT_GT(makeTable(sb, "things", {{"id", kInt}}), 0);
  int32_t a = OpenSchema(path("alpha").c_str(), 0);
  int32_t b = OpenSchema(path("beta").c_str(), 0);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_EQ(omConnection(a), omConnection(b));
  EXPECT_EQ(CloseSchema(a), 0);
  EXPECT_EQ(FindSchema("alpha"), -1);
  int32_t c = OpenSchema(path("gamma").c_str(), 0);
  EXPECT_EQ(c, a) << _io_errno_;
  s_table* tp = _GetTabPtr(FindDbTable(b, "things"));
  ASSERT_NE(tp, nullptr);
  EXPECT_EQ(tp->d.nfields, 1);
}

// Schemas and tables are told apart by their whole names.
TEST_F(OmdbSchema, NamesAreComparedWhole) {
  int32_t s1 = makeSchema("salesdepartment1");
  ASSERT_GT(s1, 0);
  ASSERT_GT(makeSchema("salesdepartment2"), 0);
  ASSERT_GT(makeTable(s1, "customerlist_a", {{"a", kInt}}), 0);
  ASSERT_GT(makeTable(s1, "customerlist_b", {{"b", kInt}, {"c", kInt}}), 0);
  int32_t a = OpenSchema(path("salesdepartment1").c_str(), 0);
  int32_t b = OpenSchema(path("salesdepartment2").c_str(), 0);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(FindSchema("salesdepartment1"), a);
  EXPECT_EQ(FindSchema("salesdepartment2"), b);
  EXPECT_EQ(OpenSchema(path("salesdepartment2").c_str(), 0), b);
  for (int32_t slot = 1; slot <= 2; ++slot) {
    s_table* tp = _GetTabPtr(a | slot << 8);
    ASSERT_NE(tp, nullptr);
    EXPECT_EQ(tp->d.nfields, omOf(tp)->name == "customerlist_a" ? 1 : 2) << omOf(tp)->name;
  }
  // The run-time layer's lookup by name compares the whole names too.
  int32_t ta = FindDbTable(a, "customerlist_a"), tb = FindDbTable(a, "CustomerList_B");
  ASSERT_GT(ta, 0);
  ASSERT_GT(tb, 0);
  EXPECT_NE(ta, tb);
  EXPECT_EQ(omOf(_GetTabPtr(ta))->name, "customerlist_a");
  EXPECT_EQ(omOf(_GetTabPtr(tb))->name, "customerlist_b");
  EXPECT_EQ(FindDbTable(a, "customerli"), -1);
  EXPECT_EQ(FindDbTable(a, "customerlist_c"), -1);
}

// A name without a server: an open finds the server that lists the schema;
// a new schema goes to the first listed server. No server to go to is a
// refusal with _io_errno_ 2, and the program goes on.
TEST_F(OmdbSchema, ANameWithoutAServerGoesThroughTheConfiguration) {
  ASSERT_GT(makeSchema("sales"), 0);
  // A checkpoint writes the server's configuration with its schema list.
  omtest::Body cp;
  cp.w(0);
  ASSERT_TRUE(raw().request(omtest::kServerObj, DBM_CHECKPOINT, cp.words()).ok);
  EXPECT_EQ(OpenSchema("sales", 0), 0x10000) << _io_errno_;
  int32_t made = CreateSchema("fresh", "made bare");
  ASSERT_EQ(made, 0x20000) << _io_errno_;
  EXPECT_EQ(omOf(_GetSchPtr(made))->conn, omConnection(0x10000)) << "the listed server";
  CloseAllSchemas();
  EXPECT_EQ(OpenSchema(path("fresh").c_str(), 0), 0x10000) << "made on " << serverName();
  CloseAllSchemas();
  // Each refusal runs in a child: without the mend it would end the program.
  std::string unknown = "nosuchserver/other";
  struct Case {
    char const* servers;  // "SERVERS", null: unset
    std::string name;
  } const cases[] = {{nullptr, "other"}, {"", "other"}, {"nosuchserver", "other"}, {nullptr, unknown}};
  for (Case const& c : cases) {
    zftest::ScopedEnv servers("SERVERS", c.servers ? c.servers : "", c.servers == nullptr);
    zftest::RunResult r = zftest::runInChild([&] {
      _io_errno_ = 0;
      ZF_CHILD_CHECK(CreateSchema(c.name.c_str(), "") == -1);
      ZF_CHILD_CHECK(_io_errno_ == 2);
      ZF_CHILD_CHECK(CurrentSchema() == -1);
      ZF_CHILD_CHECK(DbConnection::findSchema(String(unknown.c_str()), true, ConnMode(reportErrors)) == nullptr);
      return 0;
    });
    EXPECT_EQ(r.status, 0) << (c.servers ? c.servers : "unset") << " " << c.name << ": " << r.err;
  }
}

TEST_F(OmdbSchema, UnreachableServerIsARefusal) {
  ASSERT_GT(makeSchema("sales"), 0);
  _io_errno_ = 0;
  EXPECT_EQ(OpenSchema("nosuchserver/sales", 0), -1);
  EXPECT_EQ(_io_errno_, 2);
  EXPECT_EQ(server().stop(), 0);
  _io_errno_ = 0;
  EXPECT_EQ(OpenSchema(path("sales").c_str(), 4), -1);
  EXPECT_EQ(_io_errno_, 2);
  EXPECT_EQ(CurrentSchema(), -1);
}

// A server that stopped while a schema of it is open: the connection kept
// for that schema no longer reaches it, and opening another schema there
// is the same refusal. The first schema closes without a word to it.
TEST_F(OmdbSchema, AServerStoppedUnderAnOpenSchemaIsARefusal) {
  ASSERT_GT(makeSchema("sales"), 0);
  ASSERT_GT(makeSchema("other"), 0);
  ASSERT_EQ(OpenSchema(path("sales").c_str(), 0), 0x10000);
  EXPECT_EQ(server().stop(), 0);
  zftest::RunResult r = zftest::runInChild([&] {
    for (int i = 0; i < 2; ++i) {
      _io_errno_ = 0;
      ZF_CHILD_CHECK(OpenSchema(path("other").c_str(), 0) == -1);
      ZF_CHILD_CHECK(_io_errno_ == 2);
      ZF_CHILD_CHECK(CurrentSchema() == 0x10000);
    }
    ZF_CHILD_CHECK(VersionNumber(path("other").c_str(), 3) == -1);
    ZF_CHILD_CHECK(CreateSchema(path("third").c_str(), "") == -1);
    ZF_CHILD_CHECK(_io_errno_ == 2);
    ZF_CHILD_CHECK(CloseSchema(0x10000) == 0);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(OmdbSchema, UnknownOrLockedSchemaIsRefused) {
  int32_t sch = makeSchema("sales");
  ASSERT_GT(sch, 0);
  _io_errno_ = 0;
  EXPECT_EQ(OpenSchema(path("nosuch").c_str(), 0), -1);
  EXPECT_EQ(_io_errno_, 11);
  zftest::RawReply r = raw().request(sch, DBM_LOCK);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.result, 0);
  _io_errno_ = 0;
  EXPECT_EQ(OpenSchema(path("sales").c_str(), 0), -1);
  EXPECT_EQ(_io_errno_, 10);
  EXPECT_EQ(CurrentSchema(), -1);
  ASSERT_TRUE(raw().send(sch, DBM_FREE));  // a void request
  EXPECT_EQ(OpenSchema(path("sales").c_str(), 0), 0x10000);
}

// A user without privileges on the schema gets 16 with the owner's uid.
TEST_F(OmdbSchema, UnprivilegedUserGetsTheOwner) {
  // The schema is made by a process of user 1234, its owner.
  int32_t id = server().serverId();
  zftest::RunResult made = zftest::runInChild([id] {
    ZF_CHILD_CHECK(setgid(1234) == 0 && setuid(1234) == 0);
    zftest::RawClient owner(id);
    ZF_CHILD_CHECK(owner.ok() && owner.connect().status == 0);
    omtest::Body b;
    b.w(16).w(0).w(1).s("private").s("");
    zftest::RawReply r = owner.request(omtest::kServerObj, DBM_ATTACH, b.words());
    ZF_CHILD_CHECK(r.ok && r.status == 0);
    return 0;
  });
  ASSERT_EQ(made.status, 0) << made.err << server().log();
  std::string p = path("private");
  // The other user reads the client configuration of the server.
  ASSERT_EQ(chmod(server().dir().path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(server().dir().file("servers").c_str(), 0755), 0);
  ASSERT_EQ(chmod(server().configFile().c_str(), 0644), 0);
  zftest::RunResult run = zftest::runInChild([&] {
    ZF_CHILD_CHECK(setgid(65534) == 0 && setuid(65534) == 0);
    _io_errno_ = 0;
    ZF_CHILD_CHECK(OpenSchema(p.c_str(), 0) == -1);
    ZF_CHILD_CHECK(_io_errno_ == 16);
    ZF_CHILD_CHECK(_io_err_detail == 1234);
    ZF_CHILD_CHECK(CurrentSchema() == -1);
    return 0;
  });
  EXPECT_EQ(run.status, 0) << run.out << run.err;
}

}  // namespace

namespace {

std::string outputOf(std::string const& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// The shared library exports the interface only, names neither the
// foundation nor the run-time layer as needed, and resolves both against
// the program.
TEST(OmdbFrame, ExportsTheInterfaceOnly) {
  std::string lib = OMDB_LIB;
  std::string defined = outputOf("nm -D --defined-only " + lib);
  ASSERT_NE(defined.find(" OpenSchema"), std::string::npos) << defined;
  for (char const* hidden : {" error", " add\n", "String", "Connection", "omBegin", "ZxField", "Exception"})
    EXPECT_EQ(defined.find(hidden), std::string::npos) << hidden;
  std::string undefined = outputOf("nm -D -u " + lib);
  for (char const* needed : {"_GetTabPtr", "_BuildKey", "_KeyCmp", "def_Alloc", "_FindSchPrivg"})
    EXPECT_NE(undefined.find(needed), std::string::npos) << needed;
  std::string dynamic = outputOf("readelf -d " + lib);
  ASSERT_NE(dynamic.find("NEEDED"), std::string::npos) << dynamic;
  EXPECT_EQ(dynamic.find("zeph"), std::string::npos);
  EXPECT_EQ(dynamic.find("zfound"), std::string::npos);
}

}  // namespace

