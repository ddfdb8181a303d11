// Design calls of the local library: schemas, tables, fields and indexes
// made, changed and dropped through the interface; the descriptor they
// write compared byte for byte with the test encoder's; refusals; and
// temporary objects.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <zfound/Expr.h>
#include <zfound/FileOps.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/Portable.h>
#include <zfound/ShortDate.h>
#include <zfound/String.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "DescrEncoder.h"
#include "FaultFs.h"
#include "SchemaSets.h"
#include "TestSupport.h"

using namespace zftest;

namespace {

// One field of a table definition, with the storage type and element size
// it must get.
struct FieldDef {
  char const* name;
  int32_t type, len, dec, dim, flags;
  uint16_t itype, size;  // expected
  uint16_t stamp;        // expected stamp flag
};
struct IndexDef {
  char const* name;
  std::vector<int32_t> fields;  // field numbers from 1
  uint16_t flags, klen;         // expected
};
struct TableDef {
  char const* name;
  char const* descr;
  std::vector<FieldDef> fields;
  std::vector<IndexDef> indexes;
  uint16_t flags;  // expected
};

// Schema "shop": every field type, the stamp names, three indexes.
std::vector<TableDef> shopTables() {
  return {
      {"item",
       "Items",
       {{"code", 0, 9, 0, 0, 1, 3, 4, 0},
        {"name", 1, 20, 0, 0, 0, 0, 21, 0},
        {"tiny", 0, 2, 0, 0, 0, 1, 1, 0},
        {"qty", 0, 4, 0, 0, 0, 2, 2, 0},
        {"price", 0, 12, 2, 0, 0, 4, 8, 0},
        {"big", 0, 20, 0, 0, 0, 8, 16, 0},
        {"sold", 2, 0, 0, 0, 0, 5, 2, 0},
        {"at", 3, 0, 0, 0, 0, 6, 2, 0},
        {"ratio", 4, 0, 0, 0, 0, 4, 8, 0},
        {"flag", 5, 0, 0, 0, 0, 1, 1, 0},
        {"hist", 10, 0, 0, 3, 0, 3, 4, 0},
        {"cdate", 2, 0, 0, 0, 0, 5, 2, 0x40},
        {"mdate", 2, 0, 0, 0, 0, 5, 2, 0x80},
        {"cuid", 0, 5, 0, 0, 0, 3, 4, 0x40}},
       {{"bycode", {1}, 5, 4}, {"byname", {2}, 4, 20}},
       6},
      {"sale",
       "Sales",
       {{"id", 0, 9, 0, 0, 0, 3, 4, 0},
        {"item", 0, 9, 0, 0, 0, 3, 4, 0},
        {"ctime", 3, 0, 0, 0, 0, 6, 2, 0x40},
        {"mtime", 3, 0, 0, 0, 0, 6, 2, 0x80},
        {"muid", 0, 5, 0, 0, 0, 3, 4, 0x80}},
       {{"byid", {1}, 5, 4}},
       6},
  };
}

// Makes the tables of `defs` in `schema` through the interface; false on
// the first refusal.
bool makeTables(int32_t schema, std::vector<TableDef> const& defs) {
  for (TableDef const& td : defs) {
    int32_t t = CreateTable(schema, td.name, td.descr, 0, 0, int32_t(td.fields.size()));
    if (t < 0) return false;
    for (FieldDef const& f : td.fields)
      if (AddTabField(t, f.name, nullptr, f.dim, f.type, 0, f.len, f.dec, f.flags, nullptr, nullptr) < 0) return false;
    for (IndexDef const& id : td.indexes) {
      int32_t ix = CreateIndex(t, id.name, 0, 0);
      if (ix < 0) return false;
      for (int32_t fno : id.fields)
        if (AddIndField(ix, t | fno, 0, 0, 0) != 0) return false;
    }
  }
  return true;
}

// What the test encoder makes of the same definition.
EncSchema shopEncoding(char const* descr) {
  EncSchema s;
  s.name = "shop";
  s.descr = std::string(descr);
  int32_t slot = 0;
  for (TableDef const& td : shopTables()) {
    ++slot;
    EncTable t;
    t.name = td.name;
    t.descr = std::string(td.descr);
    t.flags = td.flags;
    t.size = 1024;
    t.longs = {privEntry(uint16_t(ProcUserId()), 1, 1023)};
    uint16_t offset = 4;
    for (FieldDef const& f : td.fields) {
      EncField e;
      e.name = std::string(f.name);
      e.dim = uint16_t(f.dim), e.offset = offset, e.type = uint16_t(f.type), e.itype = f.itype;
      e.flags = uint16_t(f.flags | f.stamp), e.len = uint16_t(f.len), e.dec = uint8_t(f.dec);
      t.fields.push_back(e);
      offset = uint16_t(offset + f.size * (f.dim ? f.dim : 1));
    }
    t.len = offset;
    for (IndexDef const& id : td.indexes) {
      EncIndex x;
      x.name = std::string(id.name);
      x.flags = id.flags, x.klen = id.klen, x.node = 1024;
      for (int32_t fno : id.fields) {
        EncField const& f = t.fields[size_t(fno - 1)];
        x.parts.push_back({f.itype, 0, uint8_t(id.klen), 0, f.offset, slot << 8 | fno});
      }
      t.indexes.push_back(x);
    }
    s.tables.push_back(t);
  }
  return s;
}

std::vector<std::string> filesIn(std::string const& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

mode_t modeOf(std::string const& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class Design : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("zxdbtest-1.0");
    env_ = std::make_unique<ScopedEnv>("dbase", tmp_.path());
    oldHandler_ = displayErrorHandler(recordWarning);
    shown().clear();
  }
  void TearDown() override {
    CloseAllSchemas();
    displayErrorHandler(oldHandler_);
  }
  std::string dir() const { return tmp_.path() + "/shop"; }
  // Schema "shop" made here, with one table of `nfields` capacity.
  int32_t makeSchema() {
    int32_t s = CreateSchema("shop", "Shop data");
    EXPECT_EQ(s, 0x10000);
    return s;
  }

  TempDir tmp_;
  SchemaSetSweep sweep_{tmp_.path()};
  std::unique_ptr<ScopedEnv> env_;
  MsgHandler oldHandler_ = nullptr;
};

TEST_F(Design, ShopMadeByOneProcessIsOpenedByTheNextAsTheEncoderWritesIt) {
  mode_t old = umask(022);
  RunResult r = runInChild([&] {
    int32_t s = CreateSchema("shop", "Shop data");
    ZF_CHILD_CHECK(s == 0x10000);
    ZF_CHILD_CHECK(makeTables(s, shopTables()));
    mode_t now = umask(022);
    ZF_CHILD_CHECK(now == 022);
    Stop(0);
    return 2;
  });
  umask(old);
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_EQ(modeOf(dir()), 0755u);
  std::vector<std::string> files = filesIn(dir());
  for (std::string const& f : files) EXPECT_EQ(modeOf(dir() + "/" + f), 0644u) << f;
  EXPECT_EQ((std::set<std::string>(files.begin(), files.end())),
            (std::set<std::string>{"item.i00", "item.i01", "item.tab", "sale.i00", "sale.tab", "shop.sco"}));

  Bytes expected = encodeDescriptor(shopEncoding("Shop data"));
  std::string written = readFile(dir() + "/shop.sco");
  EXPECT_EQ(written, std::string(expected.begin(), expected.end()));

  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  int32_t item = FindDbTable(0, "item");
  ASSERT_EQ(item, 0x10100);
  char* buf = _GetTabBuff(item);
  InitRecord(item);
  stlong(17, buf + 4);
  ASSERT_GT(AddRecord(item), 0);
  stlong(17, buf + 4);
  ASSERT_GT(GetRecord(item, 1, 0, 0), 0);
  s_field* cdate = _GetFldPtr(FindDbField(item, "cdate"));
  ASSERT_NE(cdate, nullptr);
  EXPECT_EQ(ldshort(buf + cdate->d.offset), Today());
}

TEST_F(Design, StorageTypes) {
  struct Case {
    int32_t type, length, itype;
  } cases[] = {{0, 0, 1},  {0, 2, 1},  {0, 3, 2},  {0, 4, 2},  {0, 5, 3},  {0, 9, 3},  {0, 10, 4}, {0, 15, 4},
               {0, 16, 8}, {0, 28, 8}, {0, 29, -1}, {0, -1, -1}, {1, 30, 0}, {2, 0, 5},  {3, 0, 6},  {4, 0, 4},
               {5, 0, 1},  {10, 0, 3}, {8, 0, -1}, {9, 0, -1}, {6, 0, -1}};
  for (Case const& c : cases) EXPECT_EQ(CalcItype(c.type, c.length), c.itype) << c.type << " " << c.length;
}

// Node size of an index whose table has a size and no node size was given:
// square root of the size times (key length + 4) / 1000 kilobytes, at least
// one.
TEST_F(Design, NodeSizeFollowsTableSizeAndKeyLength) {
  struct Case {
    int32_t size, keylen, nodeKb;
  } cases[] = {{1024, 4, 1}, {1000000, 4, 8}, {1000000, 96, 63}, {250000, 20, 12}, {0, 20, 1},
               {4000000, 28, 63}};
  int32_t s = makeSchema();
  int n = 0;
  for (Case const& c : cases) {
    std::string name = "t" + std::to_string(n++);
    int32_t t = CreateTable(s, name.c_str(), nullptr, 0, 0, 1);
    ASSERT_GT(t, 0);
    ASSERT_GT(AddTabField(t, "k", nullptr, 0, 1, 0, c.keylen, 0, 0, nullptr, nullptr), 0);
    _GetTabPtr(t)->d.size = c.size;
    int32_t ix = CreateIndex(t, "pk", 0, 0);
    ASSERT_GE(ix, 0);
    ASSERT_EQ(AddIndField(ix, t | 1, 0, 0, 0), 0);
    EXPECT_EQ(_GetIndPtr(ix)->d.node, c.nodeKb * 1024) << c.size << " " << c.keylen;
  }
  // A node size given keeps it.
  int32_t t = CreateTable(s, "given", nullptr, 0, 0, 1);
  ASSERT_GT(AddTabField(t, "k", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  int32_t ix = CreateIndex(t, "pk", 0, 4);
  ASSERT_EQ(AddIndField(ix, t | 1, 0, 0, 0), 0);
  EXPECT_EQ(_GetIndPtr(ix)->d.node, 4096);
  EXPECT_EQ(CreateIndex(t, "huge", 0, 64), -1);
}

}  // namespace

namespace {

// Refusals: -1 (or -2) with the code and the report the caller expects, and
// nothing made.
TEST_F(Design, RefusalsChangeNothing) {
  int32_t s = makeSchema();
  int32_t two = CreateTable(s, "two", nullptr, 0, 0, 2);
  ASSERT_GT(two, 0);
  ASSERT_GT(AddTabField(two, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(two, "b", nullptr, 0, 1, 0, 10, 0, 0, nullptr, nullptr), 0);
  int32_t other = CreateTable(s, "other", nullptr, 0, 0, 4);
  ASSERT_GT(other, 0);
  ASSERT_GT(AddTabField(other, "a", nullptr, 0, 1, 0, 200, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(other, "b", nullptr, 0, 1, 0, 100, 0, 0, nullptr, nullptr), 0);
  uint16_t len = _GetTabPtr(other)->d.len;
  struct Case {
    char const* what;
    std::function<int32_t()> call;
    int32_t result, code;
    char const* report;
  } cases[] = {
      {"third field", [&] { return AddTabField(two, "c", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr); }, -1, 0,
       "made for 2 fields"},
      {"type 8", [&] { return AddTabField(other, "c", nullptr, 0, 8, 0, 9, 0, 0, nullptr, nullptr); }, -1, 0, nullptr},
      {"type 9", [&] { return AddTabField(other, "c", nullptr, 0, 9, 0, 9, 0, 0, nullptr, nullptr); }, -1, 0, nullptr},
      {"taken field name", [&] { return AddTabField(other, "A", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr); }, -1, 7,
       nullptr},
      {"bad mask", [&] { return AddTabField(other, "c", nullptr, 0, 0, 0, 9, 0, 2, nullptr, "\001ZXDB_NO_SUCH_MASK"); }, -1, 8, nullptr},
      {"record over 65535", [&] { return AddTabField(other, "c", nullptr, 300, 1, 0, 300, 0, 0, nullptr, nullptr); },
       -1, 0, nullptr},
      {"taken table name", [&] { return CreateTable(s, "TWO", nullptr, 0, 0, 1); }, -1, 7, nullptr},
      {"no fields", [&] { return CreateTable(s, "none", nullptr, 0, 0, 0); }, -1, 0, "at least one field"},
      {"too many fields", [&] { return CreateTable(s, "wide", nullptr, 0, 0, 255); }, -1, 0, nullptr},
      {"256-byte key",
       [&] {
         int32_t ix = CreateIndex(other, "long", 0, 0);
         if (ix < 0) return -9;
         if (AddIndField(ix, other | 1, 0, 0, 0) != 0) return -8;
         return AddIndField(ix, other | 2, 0, 0, 56);
       },
       -1, 0, nullptr},
      {"same offset twice",
       [&] {
         int32_t ix = FindDbIndex(other, "long");
         return AddIndField(ix, other | 1, 0, 0, 10);
       },
       -1, 7, nullptr},
      {"taken index name", [&] { return CreateIndex(other, "LONG", 0, 0); }, -1, 7, nullptr},
  };
  for (Case const& c : cases) {
    _io_errno_ = 0;
    shown().clear();
    if (c.report) {
      // Raised: the report ends the program.
      RunResult r = runInChild([&] {
        c.call();
        return 0;
      });
      EXPECT_NE(r.status, 0) << c.what;
      EXPECT_NE((r.out + r.err).find(c.report), std::string::npos) << c.what << r.out << r.err;
      continue;
    }
    EXPECT_EQ(c.call(), c.result) << c.what;
    if (c.code) {
      EXPECT_EQ(_io_errno_, c.code) << c.what;
    }
  }
  EXPECT_EQ(_GetTabPtr(two)->d.nfields, 2);
  EXPECT_EQ(_GetTabPtr(other)->d.nfields, 2);
  EXPECT_EQ(_GetTabPtr(other)->d.len, len);
  EXPECT_EQ(_GetIndPtr(FindDbIndex(other, "long"))->d.klen, 200);
}

TEST_F(Design, NamesThatAreNotFileNameComponentsAreRefusedBeforeAnyFile) {
  for (char const* bad : {"", ".", "..", "a/b/"}) {
    EXPECT_EQ(CreateSchema(bad, nullptr), -1) << bad;
  }
  EXPECT_EQ(filesIn(tmp_.path()), std::vector<std::string>{});
  int32_t s = makeSchema();
  std::vector<std::string> before = filesIn(dir());
  for (char const* bad : {"", ".", "..", "a/b", "../up"}) {
    EXPECT_EQ(CreateTable(s, bad, nullptr, 0, 0, 1), -1) << bad;
    EXPECT_EQ(CreateTable(s, bad, nullptr, 1, 0, 1), -1) << bad;
  }
  EXPECT_EQ(filesIn(dir()), before);
  int32_t t = CreateTable(s, "t", nullptr, 0, 0, 2);
  ASSERT_GT(AddTabField(t, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  before = filesIn(dir());
  for (char const* bad : {"", ".", "..", "a/b"}) {
    EXPECT_EQ(AddTabField(t, bad, nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), -1) << bad;
    EXPECT_EQ(CreateIndex(t, bad, 0, 0), -1) << bad;
    EXPECT_EQ(RenameTable(t, bad), -1) << bad;
  }
  EXPECT_EQ(filesIn(dir()), before);
  EXPECT_EQ(_GetTabPtr(t)->d.nfields, 1);
}

TEST_F(Design, EquivalenceWords) {
  int32_t s = makeSchema();
  struct F {
    char const* name;
    int32_t type, len, dec, dim, flags;
  };
  auto table = [&](char const* name, std::vector<F> const& fs) {
    int32_t t = CreateTable(s, name, nullptr, 0, 0, int32_t(fs.size()));
    for (F const& f : fs) EXPECT_GT(AddTabField(t, f.name, nullptr, f.dim, f.type, 0, f.len, f.dec, f.flags, nullptr, nullptr), 0);
    return t;
  };
  int32_t old = table("old", {{"same", 1, 10, 0, 0, 0},
                              {"gone", 0, 9, 0, 0, 0},
                              {"retyped", 0, 9, 0, 0, 0},
                              {"shorter", 1, 10, 0, 0, 0},
                              {"lessdec", 0, 9, 3, 0, 0},
                              {"lessdim", 0, 9, 0, 4, 0},
                              {"notnull", 0, 9, 0, 0, 0},
                              {"moredec", 0, 9, 1, 0, 0}});
  int32_t neu = table("neu", {{"same", 1, 10, 0, 0, 0},
                              {"moredec", 0, 9, 2, 0, 0},
                              {"retyped", 1, 9, 0, 0, 0},
                              {"shorter", 1, 5, 0, 0, 0},
                              {"lessdec", 0, 9, 1, 0, 0},
                              {"lessdim", 0, 9, 0, 2, 0},
                              {"notnull", 0, 9, 0, 0, 1}});
  uint32_t* w = GetTabEquiv(neu, old);
  ASSERT_NE(w, nullptr);
  uint32_t n = uint32_t(neu & 0xffffff);
  std::vector<uint32_t> expected = {n | 1 | 0x1000000u, 0x20000000u, n | 3 | 0x40000000u, n | 4 | 0x8000000u,
                                    n | 5 | 0x10000000u, n | 6 | 0x2000000u, n | 7 | 0x80000000u | 0x1000000u, n | 2};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(w[i], expected[i]) << i;
  def_Free(w, __FILE__, __LINE__);
}

TEST_F(Design, DroppingIndexOneOfThreeMovesTheLastDown) {
  int32_t s = makeSchema();
  int32_t t = CreateTable(s, "item", nullptr, 0, 0, 3);
  for (char const* f : {"a", "b", "c"}) ASSERT_GT(AddTabField(t, f, nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  for (int32_t i = 0; i < 3; ++i) {
    std::string name = std::string("by") + char('a' + i);
    int32_t ix = CreateIndex(t, name.c_str(), 0, 0);
    ASSERT_EQ(ix, t | i);
    ASSERT_EQ(AddIndField(ix, t | (i + 1), 0, 0, 0), 0);
  }
  char* buf = _GetTabBuff(t);
  for (int32_t k = 1; k <= 20; ++k) {
    stlong(k, buf + 4), stlong(100 + k, buf + 8), stlong(200 - k, buf + 12);
    ASSERT_GT(AddRecord(t), 0);
  }
  FlushTable(t);
  std::string oldThird = readFile(dir() + "/item.i02");
  ASSERT_EQ(DropIndex(t | 1), 0);
  EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"item.i00", "item.i01", "item.tab", "shop.sco"}));
  EXPECT_EQ(readFile(dir() + "/item.i01"), oldThird);
  CloseAllSchemas();
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  t = FindDbTable(0, "item");
  ASSERT_EQ(_GetTabPtr(t)->nindexes, 2);
  EXPECT_STREQ(_GetIndPtr(t | 1)->d.name, "byc");
  buf = _GetTabBuff(t);
  for (int32_t k = 1; k <= 20; ++k) {
    stlong(k, buf + 4);
    EXPECT_EQ(GetRecord(t | 0, 1, 0, 0), k);
    stlong(200 - k, buf + 12);
    EXPECT_EQ(GetRecord(t | 1, 1, 0, 0), k);
  }
}

// Reference checks name an index by (0, table handle | index). The library
// takes none from a program; a descriptor holds them as stored here. After
// index 1 of three is dropped, the check naming the last index follows it
// down to 1, the one naming the dropped index names none (0xff), the one
// naming index 0 stays; in memory and in the descriptor read again.
TEST_F(Design, ReferenceChecksFollowTheirIndexDownWhenAnEarlierIndexIsDropped) {
  int32_t s = makeSchema();
  int32_t item = CreateTable(s, "item", nullptr, 0, 0, 2);
  for (char const* f : {"a", "b"}) ASSERT_GT(AddTabField(item, f, nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  for (int32_t i = 0; i < 3; ++i) {
    int32_t ix = CreateIndex(item, (std::string("by") + char('a' + i)).c_str(), 0, 0);
    ASSERT_EQ(ix, item | i);
    ASSERT_EQ(AddIndField(ix, item | (i % 2 + 1), 0, 0, 0), 0);
  }
  int32_t ref = CreateTable(s, "ref", nullptr, 0, 0, 3);
  for (char const* f : {"r0", "r1", "r2"})
    ASSERT_GT(AddTabField(ref, f, nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  for (int32_t i = 0; i < 3; ++i) {
    s_field* f = _GetFldPtr(ref | (i + 1));
    Integrity check(false, ObjectId(0, uint32_t(item | i)));
    int32_t len = 0;
    uint8_t* bytes = StoreInCheck(&check, &len);
    ASSERT_NE(bytes, nullptr);
    f->d.incheck.data = static_cast<uint8_t const*>(_MemValPut(_GetSchPtr(s), bytes, len));
    f->d.incheck.len = len;
    def_Free(bytes, __FILE__, __LINE__);
  }
  _GetSchPtr(s)->rewrite = 1;
  CloseAllSchemas();
  // The index each check of "ref" names.
  auto named = [](int32_t table) {
    std::vector<uint32_t> out;
    for (int32_t i = 1; i <= 3; ++i) {
      s_field const* f = _GetFldPtr(table | i);
      InCheck* stored = f && f->d.incheck.data ? LoadInCheck(f->d.incheck.data, f->d.incheck.len) : nullptr;
      bool same = stored && f->incheck && f->incheck->getType() == InCheck::INTEGRITY &&
                  stored->getType() == InCheck::INTEGRITY &&
                  static_cast<Integrity*>(stored)->index() == static_cast<Integrity*>(f->incheck)->index();
      out.push_back(same ? static_cast<Integrity*>(stored)->index().instId() : 0u);
      delete stored;
    }
    return out;
  };

  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  item = FindDbTable(0, "item");
  ref = FindDbTable(0, "ref");
  ASSERT_GT(item, 0);
  ASSERT_GT(ref, 0);
  ASSERT_NE(_GetTabPtr(ref), nullptr);
  uint32_t const it = uint32_t(item);
  ASSERT_EQ(named(ref), (std::vector<uint32_t>{it, it | 1, it | 2}));
  ASSERT_EQ(DropIndex(item | 1), 0);
  EXPECT_STREQ(_GetIndPtr(item | 1)->d.name, "byc");
  std::vector<uint32_t> const moved{it, it | 0xff, it | 1};
  EXPECT_EQ(named(ref), moved);
  CloseAllSchemas();
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  ASSERT_NE(_GetTabPtr(ref), nullptr);
  EXPECT_EQ(named(ref), moved) << "as the descriptor holds them";
}

TEST_F(Design, ADesignCallWhileAnotherProcessHasTheSchemaOpenIsRefused) {
  int32_t s = makeSchema();
  int32_t t = CreateTable(s, "t", nullptr, 0, 0, 2);
  ASSERT_GT(AddTabField(t, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  CloseAllSchemas();
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  ChildRun holder = startChild([&] {
    ZF_CHILD_CHECK(OpenSchema("shop", 0) == 0x10000);
    char c = 1;
    ZF_CHILD_CHECK(write(ready[1], &c, 1) == 1);
    ZF_CHILD_CHECK(read(done[0], &c, 1) == 1);
    CloseAllSchemas();
    return 0;
  });
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  t = FindDbTable(0, "t");
  EXPECT_EQ(CreateTable(0x10000, "u", nullptr, 0, 0, 1), -2);
  EXPECT_EQ(RenameField(t | 1, "b"), -2);
  EXPECT_EQ(CreateIndex(t, "pk", 0, 0), -2);
  EXPECT_EQ(DeleteTable(t), -2);
  // A temporary table needs no lock.
  EXPECT_GT(CreateTable(0x10000, "tmp", nullptr, 1, 0, 1), 0);
  c = 1;
  ASSERT_EQ(write(done[1], &c, 1), 1);
  RunResult r = holder.wait();
  EXPECT_EQ(r.status, 0) << r.err;
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  EXPECT_GT(CreateTable(0x10000, "u", nullptr, 0, 0, 1), 0);
}

TEST_F(Design, TemporaryTablesAndIndexesLeaveNoFileAfterClosing) {
  int32_t s = makeSchema();
  int32_t keep = CreateTable(s, "keep", nullptr, 0, 0, 1);
  ASSERT_GT(AddTabField(keep, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  int32_t pk = CreateIndex(keep, "pk", 0, 0);
  ASSERT_EQ(AddIndField(pk, keep | 1, 0, 0, 0), 0);
  CloseAllSchemas();
  std::vector<std::string> before = filesIn(dir());

  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  keep = FindDbTable(0, "keep");
  int32_t tmp = CreateTable(0x10000, "scratch", nullptr, 1, 0, 2);
  ASSERT_GT(tmp, 0);
  ASSERT_GT(AddTabField(tmp, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(tmp, "b", nullptr, 0, 1, 0, 9, 0, 0, nullptr, nullptr), 0);
  int32_t ti = CreateIndex(tmp, "pk", 0, 0);
  ASSERT_GE(ti, 0);
  ASSERT_EQ(AddIndField(ti, tmp | 1, 0, 0, 0), 0);
  EXPECT_TRUE(_GetIndPtr(ti)->d.flags & 2);
  int32_t ki = CreateIndex(keep, "extra", 2, 0);
  ASSERT_GE(ki, 0);
  ASSERT_EQ(AddIndField(ki, keep | 1, 0, 0, 0), 0);
  char* buf = _GetTabBuff(tmp);
  for (int32_t k = 1; k <= 5; ++k) {
    stlong(k, buf + 4);
    ASSERT_GT(AddRecord(tmp), 0);
  }
  // A transaction's end writes the pending design change and keeps the
  // temporaries.
  ASSERT_GT(CreateTable(0x10000, "later", nullptr, 0, 0, 1), 0);
  BeginTransaction();
  EndTransaction();
  stlong(3, buf + 4);
  EXPECT_EQ(GetRecord(tmp, 1, 0, 0), 3);
  buf = _GetTabBuff(keep);
  stlong(9, buf + 4);
  ASSERT_GT(AddRecord(keep), 0);
  EXPECT_EQ(GetRecord(keep | 1, 1, 0, 0), 1);
  EXPECT_GT(filesIn(dir()).size(), before.size());
  CloseAllSchemas();
  before.push_back("later.tab");
  std::sort(before.begin(), before.end());
  EXPECT_EQ(filesIn(dir()), before);
}

// A process killed while it holds a temporary table and a temporary index
// leaves their files; the next open that finds no other holder removes them.
TEST_F(Design, TemporariesOfAKilledProcessGoAtTheNextOpen) {
  int32_t s = makeSchema();
  int32_t keep = CreateTable(s, "keep", nullptr, 0, 0, 1);
  ASSERT_GT(AddTabField(keep, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  CloseAllSchemas();
  std::vector<std::string> before = filesIn(dir());
  ChildRun holder = startChild([&] {
    CloseAllSchemas();
    ZF_CHILD_CHECK(OpenSchema("shop", 0x10) == 0x10000);
    int32_t tmp = CreateTable(0x10000, "scratch", nullptr, 1, 0, 1);
    ZF_CHILD_CHECK(tmp > 0);
    ZF_CHILD_CHECK(AddTabField(tmp, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr) > 0);
    ZF_CHILD_CHECK(AddRecord(tmp) > 0);
    FlushTable(tmp);
    int32_t k = FindDbTable(0, "keep");
    int32_t ki = CreateIndex(k, "extra", 2, 0);
    ZF_CHILD_CHECK(ki >= 0);
    ZF_CHILD_CHECK(AddIndField(ki, k | 1, 0, 0, 0) == 0);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) pause();
    return 0;
  });
  ASSERT_EQ(holder.readLine(), "ready");
  EXPECT_GT(filesIn(dir()).size(), before.size());
  holder.stop();
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  EXPECT_EQ(filesIn(dir()), before);
  CloseAllSchemas();
}

// Generated names: a clash with a file of another process whose id agrees
// modulo 65536 (or a 101st name) takes the next number; the other file is
// never touched.
TEST_F(Design, TemporaryNamesNeverShareAFile) {
  int32_t s = makeSchema();
  char name[32];
  // Every number but one is taken by "another process".
  int32_t pid = ProcPid() % 65536;
  for (int32_t n = 0; n < 100; ++n) {
    if (n == 42) continue;
    std::snprintf(name, sizeof name, "/t%02d%05d.tab", int(n), int(pid));
    tmp_.write("shop" + std::string(name), "theirs");
  }
  int32_t t = CreateTable(s, "mine", nullptr, 1, 0, 1);
  ASSERT_GT(t, 0);
  ASSERT_GT(AddTabField(t, "a", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddRecord(t), 0);
  FlushTable(t);
  std::snprintf(name, sizeof name, "/t42%05d.tab", int(pid));
  EXPECT_GT(readFile(dir() + name).size(), 1000u);
  for (int32_t n = 0; n < 100; ++n) {
    if (n == 42) continue;
    std::snprintf(name, sizeof name, "/t%02d%05d.tab", int(n), int(pid));
    EXPECT_EQ(readFile(dir() + name), "theirs") << name;
  }
  // All 100 taken: refused with code 5.
  int32_t again = CreateTable(s, "again", nullptr, 1, 0, 1);
  EXPECT_EQ(again, -1);
  EXPECT_EQ(_io_errno_, 5);
}

}  // namespace

namespace {

// Table conversion. "item": code (unique index 0), name (text, index 1),
// price (9 digits with decimals); the new forms widen, add and drop.
struct ItemForm {
  int32_t nameLen = 10, priceDec = 1;
  bool extra = false;       // a nullable field "extra" at the end
  bool priceIndex = false;  // a third index on price
  bool keyOnName = false;   // index 0 on name instead of code
};

int32_t makeItem(int32_t schema, char const* name, ItemForm const& f) {
  int32_t t = CreateTable(schema, name, nullptr, 0, 0, f.extra ? 4 : 3);
  if (t < 0) return t;
  if (AddTabField(t, "code", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr) < 0 ||
      AddTabField(t, "name", nullptr, 0, 1, 0, f.nameLen, 0, 0, nullptr, nullptr) < 0 ||
      AddTabField(t, "price", nullptr, 0, 0, 0, 9, f.priceDec, 0, nullptr, nullptr) < 0)
    return -10;
  if (f.extra && AddTabField(t, "extra", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr) < 0) return -11;
  int32_t i0 = CreateIndex(t, "bycode", 0, 0);
  if (i0 < 0 || AddIndField(i0, t | (f.keyOnName ? 2 : 1), 0, 0, 0) != 0) return -12;
  int32_t i1 = CreateIndex(t, "byname", 0, 0);
  if (i1 < 0 || AddIndField(i1, t | 2, 0, 0, 0) != 0) return -13;
  if (f.priceIndex) {
    int32_t i2 = CreateIndex(t, "byprice", 0, 0);
    if (i2 < 0 || AddIndField(i2, t | 3, 0, 0, 0) != 0) return -14;
  }
  return t;
}

std::string nameOf(int32_t k) { return "n" + std::to_string(k % 1000 + 1000); }

void fillItem(int32_t t, int32_t n) {
  char* buf = _GetTabBuff(t);
  s_table* tp = _GetTabPtr(t);
  for (int32_t k = 1; k <= n; ++k) {
    InitRecord(t);
    stlong(k, buf + 4);
    std::strncpy(buf + 8, nameOf(k).c_str(), 10);
    stlong(k * 10 + 5, buf + tp->fields[2].d.offset);
    ASSERT_GT(AddRecord(t), 0) << k;
  }
  FlushTable(t);
}

// Every record of "item" found through every index, in the old or the new
// form: the number of forms seen (1 old, 2 new).
int checkItem(int32_t n, int32_t* form = nullptr) {
  int32_t t = FindDbTable(0, "item");
  EXPECT_GT(t, 0);
  if (t <= 0) return 0;
  s_table* tp = _GetTabPtr(t);
  EXPECT_EQ(TabNRecords(t), n);
  bool wide = tp->fields[1].d.len == 20;
  if (form) *form = wide ? 2 : 1;
  int32_t priceAt = tp->fields[2].d.offset;
  int32_t scale = tp->fields[2].d.dec == 3 ? 100 : 1;
  char* buf = _GetTabBuff(t);
  for (int32_t k = 1; k <= n; ++k) {
    InitRecord(t);
    stlong(k, buf + 4);
    if (GetRecord(t | 0, 1, 0, 0) <= 0) {
      ADD_FAILURE() << "code " << k;
      continue;
    }
    EXPECT_EQ(std::string(buf + 8), nameOf(k));
    EXPECT_EQ(ldlong(buf + priceAt), (k * 10 + 5) * scale);
    for (int32_t i = 1; i < tp->nindexes; ++i) {
      int32_t want = ldlong(buf + 4);
      if (GetRecord(t | i, 1, 0, 0) <= 0 || ldlong(buf + 4) != want) ADD_FAILURE() << "index " << i << " code " << k;
    }
  }
  return 1;
}

std::vector<std::string> said;
int32_t answer = 0;
int32_t sayMessage(char const* text) {
  said.push_back(std::string("M ") + text);
  return answer;
}
void sayProgress(char const* text) { said.push_back(std::string("P ") + text); }

class Conversion : public Design {
protected:
  void SetUp() override {
    Design::SetUp();
    said.clear();
    answer = 0;
  }
  // Schema "shop" with "item" of `n` records in the old form; closed.
  void prepare(int32_t n) {
    int32_t s = makeSchema();
    int32_t t = makeItem(s, "item", ItemForm{});
    ASSERT_GT(t, 0);
    fillItem(t, n);
    CloseAllSchemas();
  }
  std::string snapshot() {
    std::string all;
    for (std::string const& f : filesIn(dir())) all += f + ":" + readFile(dir() + "/" + f) + "\n";
    return all;
  }
};

TEST_F(Conversion, WiderTextAddedFieldMoreDecimalsAndAnIndexKeepEveryRecord) {
  prepare(300);
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  int32_t old = FindDbTable(0, "item");
  ItemForm wide{20, 3, true, true, false};
  int32_t neu = makeItem(0x10000, "item2", wide);
  ASSERT_GT(neu, 0);
  ASSERT_EQ(ConvertTable(old, neu, 0, 0, sayMessage, sayProgress, 0, 16, 0), 0);
  EXPECT_EQ(said, (std::vector<std::string>{"P Converting table item.", "P Building index byname of table item.",
                                            "P Building index byprice of table item."}));
  EXPECT_EQ(FindDbTable(0, "item2"), -1);
  int32_t form = 0;
  checkItem(300, &form);
  EXPECT_EQ(form, 2);
  CloseAllSchemas();
  EXPECT_EQ(filesIn(dir()),
            (std::vector<std::string>{"item.i00", "item.i01", "item.i02", "item.tab", "shop.sco"}));
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  checkItem(300, &form);
  EXPECT_EQ(form, 2);
  EXPECT_EQ(_GetTabPtr(FindDbTable(0, "item"))->nindexes, 3);
}

TEST_F(Conversion, AShorterFieldAsksAndANonzeroAnswerLeavesTheTableUntouched) {
  prepare(50);
  std::string before = snapshot();
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  int32_t old = FindDbTable(0, "item");
  ItemForm narrow;
  narrow.nameLen = 5;
  int32_t neu = makeItem(0x10000, "item2", narrow);
  ASSERT_GT(neu, 0);
  answer = 1;
  EXPECT_EQ(ConvertTable(old, neu, 0, 0, sayMessage, sayProgress, 0, 0, 0), -1);
  EXPECT_EQ(said, (std::vector<std::string>{"M Table item: field name becomes shorter; longer values are cut."}));
  ASSERT_EQ(DeleteTable(neu), 0);
  CloseAllSchemas();
  EXPECT_EQ(snapshot(), before);
}

TEST_F(Conversion, AnIdenticalDefinitionRebuildsOnlyTheIndexThatDiffers) {
  prepare(80);
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  int32_t old = FindDbTable(0, "item");
  std::string data = readFile(dir() + "/item.tab"), first = readFile(dir() + "/item.i00");
  int32_t neu = CreateTable(0x10000, "item2", nullptr, 0, 0, 3);
  ASSERT_GT(AddTabField(neu, "code", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(neu, "name", nullptr, 0, 1, 0, 10, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(neu, "price", nullptr, 0, 0, 0, 9, 1, 0, nullptr, nullptr), 0);
  int32_t i0 = CreateIndex(neu, "bycode", 0, 0);
  ASSERT_EQ(AddIndField(i0, neu | 1, 0, 0, 0), 0);
  int32_t i1 = CreateIndex(neu, "byname", 0, 0);
  ASSERT_EQ(AddIndField(i1, neu | 3, 0, 0, 0), 0);  // on price now
  ASSERT_EQ(ConvertTable(old, neu, 0, 0, sayMessage, sayProgress, 0, 0, 0), 0);
  EXPECT_EQ(said, (std::vector<std::string>{"P Building index byname of table item."}));
  EXPECT_EQ(readFile(dir() + "/item.tab"), data);
  EXPECT_EQ(readFile(dir() + "/item.i00"), first);
  int32_t t = FindDbTable(0, "item");
  EXPECT_EQ(t, old);
  char* buf = _GetTabBuff(t);
  for (int32_t k = 1; k <= 80; ++k) {
    stlong(k * 10 + 5, buf + _GetTabPtr(t)->fields[2].d.offset);
    EXPECT_EQ(GetRecord(t | 1, 1, 0, 0), k);
  }
  CloseAllSchemas();
  EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"item.i00", "item.i01", "item.tab", "shop.sco"}));
}

// A new primary key that two records share: the conversion stops, the
// message function is told, and no record is lost.
TEST_F(Conversion, AClashingNewPrimaryKeyStopsWithTheOldTableWhole) {
  int32_t s = makeSchema();
  int32_t t = makeItem(s, "item", ItemForm{});
  fillItem(t, 40);
  char* buf = _GetTabBuff(t);
  stlong(7, buf + 4);
  ASSERT_EQ(GetRecord(t, 1, 0, 0), 7);
  std::strcpy(buf + 8, nameOf(8).c_str());  // code 7 and 8 share a name
  ASSERT_GT(PutRecord(t), 0);
  FlushTable(t);
  CloseAllSchemas();
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  ItemForm byName;
  byName.keyOnName = true;
  int32_t neu = makeItem(0x10000, "item2", byName);
  ASSERT_GT(neu, 0);
  CloseAllSchemas();  // the new table is part of the schema now
  std::string before = snapshot();
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  EXPECT_EQ(ConvertTable(FindDbTable(0, "item"), FindDbTable(0, "item2"), 0, 0, sayMessage, sayProgress, 0, 0, 0),
            -1);
  ASSERT_FALSE(said.empty());
  EXPECT_NE(said.back().find("same new primary key"), std::string::npos) << said.back();
  t = FindDbTable(0, "item");
  EXPECT_EQ(TabNRecords(t), 40);
  CloseAllSchemas();
  std::string after = snapshot();
  // The old table's files and the descriptor are as they were.
  EXPECT_EQ(after.substr(after.find("shop.sco:")), before.substr(before.find("shop.sco:")));
  EXPECT_EQ(after.substr(after.find("item.i00:"), after.find("item2") - after.find("item.i00:")),
            before.substr(before.find("item.i00:"), before.find("item2") - before.find("item.i00:")));
}

}  // namespace

namespace {

int32_t killAtCall = 0, progressCalls = 0;
void dieAtProgress(char const*) {
  if (++progressCalls == killAtCall) _exit(9);
}

// A conversion killed at several points (at each step it reports, and at
// moments in between): the next process finds the table whole, in its old or
// its new form, and no journal or side file is left.
TEST_F(Conversion, KilledAtAnyPointTheTableIsWholeAfterwards) {
  struct Point {
    int32_t atCall;  // progress report at which the child dies, 0 none
    int32_t delayUs; // else: killed this long after it starts converting
  } points[] = {{1, 0}, {2, 0}, {3, 0}, {99, 0}, {0, 0}, {0, 500}, {0, 2000}, {0, 5000}, {0, 15000}, {0, 40000}, {0, 100000}};
  std::set<int32_t> forms;
  for (Point const& p : points) {
    SCOPED_TRACE("call " + std::to_string(p.atCall) + " delay " + std::to_string(p.delayUs));
    prepare(400);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    ChildRun child = startChild([&] {
      ZF_CHILD_CHECK(OpenSchema("shop", 0x10) == 0x10000);
      int32_t neu = makeItem(0x10000, "item2", ItemForm{20, 3, true, true, false});
      ZF_CHILD_CHECK(neu > 0);
      killAtCall = p.atCall;
      progressCalls = 0;
      char c = 1;
      ZF_CHILD_CHECK(write(ready[1], &c, 1) == 1);
      ZF_CHILD_CHECK(ConvertTable(FindDbTable(0, "item"), neu, 0, 0, nullptr, dieAtProgress, 0, 0, 0) == 0);
      CloseAllSchemas();
      return 0;
    });
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    close(ready[1]);
    if (p.atCall) {
      EXPECT_EQ(child.wait().status, p.atCall == 99 ? 0 : 9);
    } else {
      usleep(useconds_t(p.delayUs));
      child.stop();
    }
    ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
    int32_t form = 0;
    checkItem(400, &form);
    forms.insert(form);
    CloseAllSchemas();
    for (std::string const& f : filesIn(dir())) {
      std::string ext = f.substr(f.find('.') + 1);
      EXPECT_TRUE(ext != "cnv" && ext != "cvs" && ext != "scw") << f;
    }
    std::filesystem::remove_all(dir());
  }
  EXPECT_EQ(forms, (std::set<int32_t>{1, 2}));
}

}  // namespace

namespace {

TEST_F(Design, AReferencedTableIsNotDropped) {
  writeDescriptorFile(tmp_.path(), sampleSchema("sample"));
  ASSERT_EQ(OpenSchema("sample", 0x10), 0x10000);
  int32_t clients = 0x10100;  // named by a reference check of "item"
  ASSERT_NE(_GetTabPtr(clients), nullptr);
  _io_errno_ = 0;
  EXPECT_EQ(DropTable(clients), -1);
  EXPECT_EQ(_io_errno_, 12);
  EXPECT_NE(_GetTabPtr(clients), nullptr);
  // With table flag 4 the refusal is raised.
  RunResult r = runInChild([&] {
    _GetTabPtr(clients)->d.flags |= 4;
    DropTable(clients);
    return 0;
  });
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("is referenced by table item"), std::string::npos) << r.out << r.err;
}

TEST_F(Design, PrivilegeRefusalsGiveTheirCodes) {
  int32_t s = makeSchema();
  _GetSchPtr(s)->privg = DB_SCH_READ;
  struct Case {
    int32_t flags, code;
  } cases[] = {{0, 1}, {1, 13}};
  for (Case const& c : cases) {
    _io_errno_ = 0;
    EXPECT_EQ(CreateTable(s, "t", nullptr, c.flags, 0, 1), -1);
    EXPECT_EQ(_io_errno_, c.code);
  }
  RunResult r = runInChild([&] {
    CreateTable(s, "t", nullptr, 4, 0, 1);
    return 0;
  });
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("may not change its design"), std::string::npos) << r.out << r.err;
  _GetSchPtr(s)->privg = DB_SCH_WRITE;
  EXPECT_GT(CreateTable(s, "t", nullptr, 1, 0, 1), 0);
  EXPECT_EQ(filesIn(dir()).size(), 2u);  // the descriptor and the temporary table's file
}

// Stored forms over their limits and a value check that is not a list are
// refused, and nothing is set.
TEST_F(Design, ExpressionsAndChecksOverTheirLimitsAreRefused) {
  int32_t s = makeSchema();
  int32_t t = CreateTable(s, "t", nullptr, 0, 0, 1);
  int32_t f = AddTabField(t, "a", nullptr, 0, 1, 0, 20, 0, 0, nullptr, nullptr);
  ASSERT_GT(f, 0);
  Expr big{String(("\"" + std::string(8200, 'x') + "\"").c_str())};
  ASSERT_GT(big.storeLength(), 8190);
  EXPECT_EQ(SetDeflt(f, &big), -1);
  EXPECT_EQ(SetRelCheck(f, &big), -1);
  EXPECT_EQ(SetTabRelCheck(t, &big), -1);
  std::vector<std::string> many(1200, "abcdefgh");
  Bytes wide = inListBytes(many);
  ASSERT_GT(wide.size(), 8192u);
  Bytes ref = integrityBytes(0x100);
  for (Bytes const* b : {&wide, &ref}) {
    InCheck* ic = LoadInCheck(b->data(), int32_t(b->size()));
    ASSERT_NE(ic, nullptr);
    EXPECT_EQ(_SetInCheck(f, ic, "text"), -1);
    delete ic;
  }
  s_field* fp = _GetFldPtr(f);
  EXPECT_EQ(fp->d.deflt.data, nullptr);
  EXPECT_EQ(fp->d.check.data, nullptr);
  EXPECT_EQ(fp->d.incheck.data, nullptr);
  // Within the limits: set once, then refused.
  Expr small{String("\"ok\"")};
  EXPECT_EQ(SetDeflt(f, &small), 0);
  EXPECT_EQ(SetDeflt(f, &small), -1);
  Bytes two = inListBytes({"A", "B"});
  InCheck* ic = LoadInCheck(two.data(), int32_t(two.size()));
  EXPECT_EQ(_SetInCheck(f, ic, "A, B"), 0);
  EXPECT_EQ(_SetInCheck(f, ic, "A, B"), -1);
  delete ic;
  CloseAllSchemas();
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  fp = _GetFldPtr(FindDbField(FindDbTable(0, "t"), "a"));
  EXPECT_NE(fp->deflt, nullptr);
  EXPECT_NE(fp->incheck, nullptr);
  EXPECT_STREQ(fp->d.inctext, "A, B");
}

TEST_F(Design, RenameEmptyAndDropKeepFilesAndDescriptorTogether) {
  int32_t s = makeSchema();
  int32_t t = makeItem(s, "item", ItemForm{});
  ASSERT_GT(t, 0);
  fillItem(t, 30);
  ASSERT_EQ(RenameTable(t, "goods"), 0);
  EXPECT_EQ(RenameTable(t, "goods"), -1);
  EXPECT_EQ(_io_errno_, 7);
  ASSERT_EQ(RenameField(t | 2, "title"), 0);
  EXPECT_EQ(RenameField(t | 3, "title"), -1);
  EXPECT_EQ(_io_errno_, 7);
  ASSERT_EQ(_AddEnumItem(s, "colour", "red", 1), 1);
  ASSERT_EQ(_AddEnumItem(s, "colour", "blue", 2), 1);
  EXPECT_EQ(ChownSchema(s, ProcUserId()), 1);
  if (geteuid() == 0) {
    // The owner is the descriptor file's: a new owner outlives the process's
    // view of the schema, and is given back the same way.
    ASSERT_EQ(ChownSchema(s, 1234), 1);
    CloseAllSchemas();
    ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
    EXPECT_EQ(_GetSchPtr(0x10000)->owner, 1234);
    s = 0x10000;
    ASSERT_EQ(ChownSchema(s, ProcUserId()), 1);
  }
  CloseAllSchemas();
  EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"goods.i00", "goods.i01", "goods.tab", "shop.sco"}));
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  t = FindDbTable(0, "goods");
  ASSERT_GT(t, 0);
  EXPECT_GE(FindDbField(t, "title"), 0);
  EXPECT_EQ(TabNRecords(t), 30);
  int32_t v = 0;
  EXPECT_TRUE(_FindEnumItem(_GetSchPtr(0x10000), "colour", "blue", &v));
  EXPECT_EQ(v, 2);
  ASSERT_EQ(DelAllRecords(t), 0);
  EXPECT_EQ(TabNRecords(t), 0);
  char* buf = _GetTabBuff(t);
  stlong(5, buf + 4);
  EXPECT_EQ(GetRecord(t, 1, 0, 0), -1);
  ASSERT_EQ(AddRecord(t), 1);
  ASSERT_EQ(DropTable(t), 0);
  EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"shop.sco"}));
  ASSERT_EQ(DropSchema(0x10000), 0);
  EXPECT_EQ(filesIn(tmp_.path()), std::vector<std::string>{});
  EXPECT_EQ(CurrentSchema(), -1);
}

TEST_F(Design, CopyTableConvertsFieldByFieldAndKeepsNumbersWithMoreDecimals) {
  int32_t s = makeSchema();
  int32_t from = makeItem(s, "item", ItemForm{});
  fillItem(from, 12);
  int32_t to = makeItem(s, "wide", ItemForm{20, 3, true, false, false});
  ASSERT_GT(to, 0);
  uint32_t* eq = GetTabEquiv(to, from);
  ASSERT_NE(eq, nullptr);
  EXPECT_EQ(CopyTable(to, from, eq, 1), 12);
  def_Free(eq, __FILE__, __LINE__);
  char* buf = _GetTabBuff(to);
  int32_t priceAt = _GetTabPtr(to)->fields[2].d.offset;
  for (int32_t k = 1; k <= 12; ++k) {
    stlong(k, buf + 4);
    ASSERT_GT(GetRecord(to, 1, 0, 0), 0);
    EXPECT_EQ(ldlong(buf + priceAt), (k * 10 + 5) * 100);
    EXPECT_EQ(std::string(buf + 8), nameOf(k));
  }
}

}  // namespace

namespace {

TEST_F(Design, ADescriptorThatCannotBeWrittenLeavesNothingBehind) {
  struct Case {
    char const* what;
    std::function<void(FaultFs&)> plan;
  };
  Case const cases[] = {
      {"first write", [](FaultFs& fs) { fs.failWrite(1, ENOSPC); }},
      {"descriptor write", [](FaultFs& fs) { fs.failWrite(1, EIO, ".sco"); }},
      {"first sync", [](FaultFs& fs) { fs.failSync(1); }},
      {"descriptor sync", [](FaultFs& fs) { fs.failSync(1, EIO, ".sco"); }},
  };
  for (Case const& c : cases) {
    int32_t result = 0;
    {
      FaultFs fs;
      c.plan(fs);
      _io_errno_ = 0;
      result = CreateSchema("shop", "Shop data");
    }
    EXPECT_EQ(result, -1) << c.what;
    EXPECT_EQ(_io_errno_, 3) << c.what;
    EXPECT_FALSE(std::filesystem::exists(tmp_.path() + "/shop")) << c.what;
    if (result > 0) {
      EXPECT_EQ(DropSchema(result), 0);
    }
  }
  // Without a fault the same call succeeds.
  int32_t s = CreateSchema("shop", "Shop data");
  ASSERT_GT(s, 0);
  EXPECT_EQ(DropSchema(s), 0);
}

TEST_F(Design, SchemaRefusalsGiveTheirCodes) {
  ASSERT_EQ(mkdir((tmp_.path() + "/taken").c_str(), 0777), 0);
  _io_errno_ = 0;
  EXPECT_EQ(CreateSchema("taken", nullptr), -1);
  EXPECT_EQ(_io_errno_, 4);
  EXPECT_EQ(filesIn(tmp_.path() + "/taken"), std::vector<std::string>{});
  ASSERT_EQ(CreateSchema("one", nullptr), 0x10000);
  ASSERT_EQ(CreateSchema((tmp_.path() + "/two").c_str(), nullptr), 0x20000);
  EXPECT_EQ(CreateSchema("three", nullptr), -1);
  EXPECT_EQ(_io_errno_, 14);
  EXPECT_FALSE(std::filesystem::exists(tmp_.path() + "/three"));
  // Another process has "one" open: dropping it is refused.
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  ChildRun holder = startChild([&] {
    CloseAllSchemas();
    ZF_CHILD_CHECK(OpenSchema("one", 0) == 0x10000);
    char c = 1;
    ZF_CHILD_CHECK(write(ready[1], &c, 1) == 1);
    ZF_CHILD_CHECK(read(done[0], &c, 1) == 1);
    return 0;
  });
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(DropSchema(0x10000), -2);
  c = 1;
  ASSERT_EQ(write(done[1], &c, 1), 1);
  EXPECT_EQ(holder.wait().status, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  EXPECT_EQ(DropSchema(0x10000), 0);
  EXPECT_FALSE(std::filesystem::exists(tmp_.path() + "/one"));
}

TEST_F(Design, EmptyingNeedsTheDeletePrivilege) {
  int32_t s = makeSchema();
  int32_t t = makeItem(s, "item", ItemForm{});
  fillItem(t, 5);
  _GetTabPtr(t)->privg = DB_TAB_SELECT;
  shown().clear();
  EXPECT_EQ(DelAllRecords(t), -1);
  EXPECT_TRUE(wasShown("no DELETE privilege"));
  EXPECT_EQ(TabNRecords(t), 5);
}

TEST_F(Conversion, ToATemporaryDefinitionLeavesNoGeneratedFile) {
  prepare(60);
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  int32_t old = FindDbTable(0, "item");
  int32_t neu = CreateTable(0x10000, "item2", nullptr, 1, 0, 4);
  ASSERT_GT(neu, 0);
  ASSERT_GT(AddTabField(neu, "code", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(neu, "name", nullptr, 0, 1, 0, 20, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(neu, "price", nullptr, 0, 0, 0, 9, 3, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(neu, "extra", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
  int32_t i0 = CreateIndex(neu, "bycode", 0, 0);
  ASSERT_EQ(AddIndField(i0, neu | 1, 0, 0, 0), 0);
  int32_t i1 = CreateIndex(neu, "byname", 0, 0);
  ASSERT_EQ(AddIndField(i1, neu | 2, 0, 0, 0), 0);
  ASSERT_EQ(ConvertTable(old, neu, 0, 0, sayMessage, sayProgress, 4, 16, 0), 0);
  int32_t form = 0;
  checkItem(60, &form);
  EXPECT_EQ(form, 2);
  CloseAllSchemas();
  EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"item.i00", "item.i01", "item.tab", "shop.sco"}));
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  checkItem(60, &form);
  EXPECT_EQ(form, 2);
}

}  // namespace

namespace {

// The state a conversion killed right after its journal leaves: the new
// table complete under its own name, the journal naming the renames and the
// new descriptor. The next open finishes it; a journal without its trailer
// is discarded and the old table stays.
TEST_F(Conversion, TheNextOpenFinishesAWrittenJournalAndDiscardsAPartOne) {
  // The descriptor a finished conversion writes, from a run elsewhere.
  std::string image;
  {
    prepare(40);
    ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
    int32_t neu = makeItem(0x10000, "item2", ItemForm{20, 3, true, true, false});
    ASSERT_EQ(ConvertTable(FindDbTable(0, "item"), neu, 0, 0, nullptr, nullptr, 0, 0, 0), 0);
    CloseAllSchemas();
    image = readFile(dir() + "/shop.sco");
    std::filesystem::remove_all(dir());
  }
  std::string goodOps = "R item2.tab item.tab\nR item2.i00 item.i00\nR item2.i01 item.i01\nR item2.i02 item.i02\n";
  std::string otherImage = image;
  otherImage.replace(34, 4, "shap");
  struct Case {
    char const* what;
    std::string image, ops;
    int32_t trailerLength;  // -1: no trailer; else added to the true length
    bool done;
  } cases[] = {
      {"complete", image, goodOps, 0, true},
      {"no trailer", image, goodOps, -1, false},
      {"trailer length lies", image, goodOps, 1, false},
      {"image of another schema", otherImage, goodOps, 0, false},
      {"a path in an operation", image, "R item2.tab ../item.tab\n" + goodOps, 0, false},
      {"unknown operation", image, goodOps + "X item.tab\n", 0, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    prepare(40);
    ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
    int32_t old = FindDbTable(0, "item");
    int32_t neu = makeItem(0x10000, "item2", ItemForm{20, 3, true, true, false});
    uint32_t* eq = GetTabEquiv(neu, old);
    ASSERT_EQ(CopyTable(neu, old, eq, 0), 40);
    def_Free(eq, __FILE__, __LINE__);
    CloseAllSchemas();
    std::string j(4, '\0');
    stLe32(uint32_t(c.image.size()), reinterpret_cast<uint8_t*>(&j[0]));
    j += c.image + c.ops;
    if (c.trailerLength >= 0) {
      std::string trailer(4, '\0');
      stLe32(uint32_t(j.size() + size_t(c.trailerLength)), reinterpret_cast<uint8_t*>(&trailer[0]));
      j += trailer + "CNV1";
    }
    tmp_.write("shop/shop.cnv", j);
    ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
    int32_t form = 0;
    checkItem(40, &form);
    EXPECT_EQ(form, c.done ? 2 : 1);
    CloseAllSchemas();
    std::vector<std::string> files = filesIn(dir());
    EXPECT_EQ(std::count(files.begin(), files.end(), "shop.cnv"), 0);
    if (c.done) {
      EXPECT_EQ(readFile(dir() + "/shop.sco"), image);
    }
    EXPECT_EQ(std::count(files.begin(), files.end(), "item2.tab"), c.done ? 0 : 1);
    EXPECT_FALSE(std::filesystem::exists(tmp_.path() + "/item.tab"));
    std::filesystem::remove_all(dir());
  }
}

}  // namespace

namespace {

// Each field that changes is said once, with its first fault in order, and
// the conversion goes on while the answers are 0.
TEST_F(Conversion, EachChangedFieldIsSaidWithItsFirstFault) {
  prepare(20);
  ASSERT_EQ(OpenSchema("shop", 0x10), 0x10000);
  int32_t old = FindDbTable(0, "item");
  int32_t neu = CreateTable(0x10000, "item2", nullptr, 0, 0, 4);
  ASSERT_GT(AddTabField(neu, "code", nullptr, 0, 1, 0, 5, 0, 0, nullptr, nullptr), 0);   // type, and shorter
  ASSERT_GT(AddTabField(neu, "name", nullptr, 0, 1, 0, 8, 0, 0, nullptr, nullptr), 0);   // shorter
  ASSERT_GT(AddTabField(neu, "price", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);  // fewer decimals
  ASSERT_GT(AddTabField(neu, "must", nullptr, 0, 0, 0, 9, 0, 1, nullptr, nullptr), 0);  // not null, no default
  int32_t i0 = CreateIndex(neu, "bycode", 0, 0);
  ASSERT_EQ(AddIndField(i0, neu | 1, 0, 0, 0), 0);
  ASSERT_EQ(ConvertTable(old, neu, 0, 0, sayMessage, nullptr, 0, 0, 0), 0);
  EXPECT_EQ(said, (std::vector<std::string>{"M Table item: field code changes its type.",
                                            "M Table item: field name becomes shorter; longer values are cut.",
                                            "M Table item: field price gets fewer decimals.",
                                            "M Table item: field must may not be null and has no default."}));
  int32_t t = FindDbTable(0, "item");
  EXPECT_EQ(TabNRecords(t), 20);
  // With `ignore` nothing is said.
  said.clear();
  int32_t back = makeItem(0x10000, "item3", ItemForm{});
  ASSERT_GT(back, 0);
  ASSERT_EQ(ConvertTable(t, back, 1, 0, sayMessage, nullptr, 0, 0, 0), 0);
  EXPECT_EQ(said, std::vector<std::string>{});
  EXPECT_EQ(TabNRecords(FindDbTable(0, "item")), 20);
}

TEST_F(Design, ADefaultTextBecomesTheDefaultWhenItCompiles) {
  int32_t s = makeSchema();
  int32_t t = CreateTable(s, "t", nullptr, 0, 0, 2);
  int32_t good = AddTabField(t, "a", nullptr, 0, 0, 0, 9, 0, 0, "1 + 1", nullptr);
  int32_t bad = AddTabField(t, "b", nullptr, 0, 0, 0, 9, 0, 0, "1 + + (", nullptr);
  ASSERT_GT(good, 0);
  ASSERT_GT(bad, 0);
  EXPECT_NE(_GetFldPtr(good)->d.deflt.data, nullptr);
  EXPECT_EQ(_GetFldPtr(bad)->d.deflt.data, nullptr);
}

}  // namespace

namespace {

// A conversion to a temporary new table killed midway: its generated files
// are gone after the next open.
TEST_F(Conversion, KilledWithATemporaryNewTableLeavesNoGeneratedFile) {
  for (int32_t atCall : {1, 2}) {
    SCOPED_TRACE(atCall);
    prepare(200);
    ChildRun child = startChild([&] {
      ZF_CHILD_CHECK(OpenSchema("shop", 0x10) == 0x10000);
      int32_t neu = CreateTable(0x10000, "item2", nullptr, 1, 0, 3);
      ZF_CHILD_CHECK(neu > 0);
      ZF_CHILD_CHECK(AddTabField(neu, "code", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr) > 0);
      ZF_CHILD_CHECK(AddTabField(neu, "name", nullptr, 0, 1, 0, 20, 0, 0, nullptr, nullptr) > 0);
      ZF_CHILD_CHECK(AddTabField(neu, "price", nullptr, 0, 0, 0, 9, 3, 0, nullptr, nullptr) > 0);
      int32_t i0 = CreateIndex(neu, "bycode", 0, 0);
      ZF_CHILD_CHECK(AddIndField(i0, neu | 1, 0, 0, 0) == 0);
      int32_t i1 = CreateIndex(neu, "byname", 0, 0);
      ZF_CHILD_CHECK(AddIndField(i1, neu | 2, 0, 0, 0) == 0);
      killAtCall = atCall;
      progressCalls = 0;
      ConvertTable(FindDbTable(0, "item"), neu, 0, 0, nullptr, dieAtProgress, 0, 0, 0);
      return 0;
    });
    EXPECT_EQ(child.wait().status, 9);
    ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
    int32_t form = 0;
    checkItem(200, &form);
    EXPECT_EQ(form, 1);
    CloseAllSchemas();
    EXPECT_EQ(filesIn(dir()), (std::vector<std::string>{"item.i00", "item.i01", "item.tab", "shop.sco"}));
    std::filesystem::remove_all(dir());
  }
}

}  // namespace

namespace {

// The same fields with one index changed, killed as the index is about to
// be rebuilt: the next process rebuilds it from the records.
TEST_F(Conversion, KilledWhileAnIndexIsRebuiltTheIndexIsBuiltAtTheNextUse) {
  prepare(150);
  ChildRun child = startChild([&] {
    ZF_CHILD_CHECK(OpenSchema("shop", 0x10) == 0x10000);
    int32_t neu = CreateTable(0x10000, "item2", nullptr, 0, 0, 3);
    ZF_CHILD_CHECK(AddTabField(neu, "code", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr) > 0);
    ZF_CHILD_CHECK(AddTabField(neu, "name", nullptr, 0, 1, 0, 10, 0, 0, nullptr, nullptr) > 0);
    ZF_CHILD_CHECK(AddTabField(neu, "price", nullptr, 0, 0, 0, 9, 1, 0, nullptr, nullptr) > 0);
    int32_t i0 = CreateIndex(neu, "bycode", 0, 0);
    ZF_CHILD_CHECK(AddIndField(i0, neu | 1, 0, 0, 0) == 0);
    int32_t i1 = CreateIndex(neu, "byname", 0, 0);
    ZF_CHILD_CHECK(AddIndField(i1, neu | 3, 0, 0, 0) == 0);  // on price now
    killAtCall = 1;
    progressCalls = 0;
    ConvertTable(FindDbTable(0, "item"), neu, 0, 0, nullptr, dieAtProgress, 0, 0, 0);
    return 0;
  });
  EXPECT_EQ(child.wait().status, 9);
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  int32_t t = FindDbTable(0, "item");
  char* buf = _GetTabBuff(t);
  int32_t priceAt = _GetTabPtr(t)->fields[2].d.offset;
  for (int32_t k = 1; k <= 150; ++k) {
    stlong(k * 10 + 5, buf + priceAt);
    EXPECT_EQ(GetRecord(t | 1, 1, 0, 0), k);
  }
  checkItem(150);
}

}  // namespace

namespace {

// Renames through the seam that kill the process at the nth one, before or
// after it is done.
int renameKillAt = 0, renamesSeen = 0;
bool killAfterRename = false;
FileOps killingOps;
int killingRename(char const* from, char const* to) {
  if (++renamesSeen == renameKillAt && !killAfterRename) _exit(9);
  int r = systemFileOps().rename(from, to);
  if (renamesSeen == renameKillAt) _exit(9);
  return r;
}

// A table rename killed before, between and after the renames of its files:
// the next process finds the table whole under one of its names.
TEST_F(Conversion, ARenameKilledBetweenItsFilesLeavesTheTableWhole) {
  struct Point {
    int at;
    bool after;
  } points[] = {{1, false}, {1, true}, {2, true}, {3, true}};
  std::set<std::string> names;
  for (Point const& p : points) {
    SCOPED_TRACE("rename " + std::to_string(p.at) + (p.after ? " after" : " before"));
    prepare(60);
    ChildRun child = startChild([&] {
      ZF_CHILD_CHECK(OpenSchema("shop", 0x10) == 0x10000);
      int32_t t = FindDbTable(0, "item");
      killingOps = systemFileOps();
      killingOps.rename = killingRename;
      renameKillAt = p.at, renamesSeen = 0, killAfterRename = p.after;
      setFileOps(&killingOps);
      RenameTable(t, "goods");
      return 0;
    });
    EXPECT_EQ(child.wait().status, 9);
    ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
    int32_t t = FindDbTable(0, "item");
    if (t > 0) names.insert("item");
    if (int32_t g = FindDbTable(0, "goods"); g > 0) {
      EXPECT_LT(t, 0);
      t = g;
      names.insert("goods");
    }
    ASSERT_GT(t, 0);
    EXPECT_EQ(TabNRecords(t), 60);
    char* buf = _GetTabBuff(t);
    for (int32_t k = 1; k <= 60; ++k) {
      InitRecord(t);
      stlong(k, buf + 4);
      EXPECT_EQ(GetRecord(t | 0, 1, 0, 0), k);
      std::strncpy(buf + 8, nameOf(k).c_str(), 10);
      EXPECT_EQ(GetRecord(t | 1, 1, 0, 0), k);
    }
    CloseAllSchemas();
    for (std::string const& f : filesIn(dir())) EXPECT_EQ(f.find(".cnv"), std::string::npos) << f;
    std::filesystem::remove_all(dir());
  }
  EXPECT_EQ(names, (std::set<std::string>{"goods"}));
}

}  // namespace

namespace {

// The same fields with a further index made unique over names that records
// share: building it raises the error and ends the converting process, and
// the old table stays as it was, usable by the next process with every
// record found through every index.
TEST_F(Conversion, ANewUniqueIndexMeetingSharedKeysLeavesTheOldTableUsable) {
  int32_t s = makeSchema();
  int32_t t = makeItem(s, "item", ItemForm{});
  ASSERT_GT(t, 0);
  char* buf = _GetTabBuff(t);
  for (int32_t k = 1; k <= 40; ++k) {
    InitRecord(t);
    stlong(k, buf + 4);
    std::strncpy(buf + 8, k % 2 ? "odd" : "even", 10);
    ASSERT_GT(AddRecord(t), 0);
  }
  CloseAllSchemas();
  auto files = [&] {
    return readFile(dir() + "/item.tab") + readFile(dir() + "/item.i00") + readFile(dir() + "/item.i01");
  };
  std::string before = files();
  RunResult conv = runInChild([&] {
    ZF_CHILD_CHECK(OpenSchema("shop", 0x10) == 0x10000);
    int32_t neu = CreateTable(0x10000, "item2", nullptr, 0, 0, 3);
    ZF_CHILD_CHECK(AddTabField(neu, "code", nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr) > 0);
    ZF_CHILD_CHECK(AddTabField(neu, "name", nullptr, 0, 1, 0, 10, 0, 0, nullptr, nullptr) > 0);
    ZF_CHILD_CHECK(AddTabField(neu, "price", nullptr, 0, 0, 0, 9, 1, 0, nullptr, nullptr) > 0);
    int32_t i0 = CreateIndex(neu, "bycode", 0, 0);
    ZF_CHILD_CHECK(AddIndField(i0, neu | 1, 0, 0, 0) == 0);
    int32_t i1 = CreateIndex(neu, "byname", 1, 0);
    ZF_CHILD_CHECK(AddIndField(i1, neu | 2, 0, 0, 0) == 0);
    ZF_CHILD_CHECK(ConvertTable(FindDbTable(0, "item"), neu, 0, 0, nullptr, nullptr, 0, 0, 0) == -1);
    return 0;
  });
  EXPECT_NE(conv.status, 0);
  EXPECT_TRUE(files() == before);
  RunResult use = runInChild([&] {
    ZF_CHILD_CHECK(OpenSchema("shop", 0) == 0x10000);
    int32_t h = FindDbTable(0, "item");
    ZF_CHILD_CHECK(h > 0);
    ZF_CHILD_CHECK((_GetIndPtr(h | 1)->d.flags & 1) == 0);
    ZF_CHILD_CHECK(TabNRecords(h) == 40);
    char* b = _GetTabBuff(h);
    for (int32_t k = 1; k <= 40; ++k) {
      InitRecord(h);
      stlong(k, b + 4);
      ZF_CHILD_CHECK(GetRecord(h | 0, 1, 0, 0) == k);
      ZF_CHILD_CHECK(GetRecord(h | 1, 1, 0, 0) > 0);
    }
    int32_t seen = 0;
    for (int32_t r = GetRecord(h | 1, 8, 0, 0); r > 0 && seen <= 40; r = GetRecord(h | 1, 2, 0, 0)) ++seen;
    ZF_CHILD_CHECK(seen == 40);
    InitRecord(h);
    stlong(41, b + 4);
    std::strncpy(b + 8, "odd", 10);
    ZF_CHILD_CHECK(AddRecord(h) > 0);
    CloseAllSchemas();
    return 0;
  });
  EXPECT_EQ(use.status, 0) << use.err << use.out;
}

}  // namespace

namespace {

// Dropping index 1 of four killed before, between and after the moves of
// the later index files: the next process finds every record through every
// index of whichever definition the descriptor holds, and no journal.
TEST_F(Design, ADropIndexKilledBetweenItsFileMovesLeavesEveryIndexRight) {
  struct Point {
    int at;
    bool after;
  } points[] = {{1, false}, {1, true}, {2, true}};
  for (Point const& p : points) {
    SCOPED_TRACE("rename " + std::to_string(p.at) + (p.after ? " after" : " before"));
    int32_t s = makeSchema();
    int32_t t = CreateTable(s, "item", nullptr, 0, 0, 4);
    for (char const* f : {"a", "b", "c", "d"})
      ASSERT_GT(AddTabField(t, f, nullptr, 0, 0, 0, 9, 0, 0, nullptr, nullptr), 0);
    for (int32_t i = 0; i < 4; ++i) {
      std::string name = std::string("by") + char('a' + i);
      int32_t ix = CreateIndex(t, name.c_str(), 0, 0);
      ASSERT_EQ(ix, t | i);
      ASSERT_EQ(AddIndField(ix, t | (i + 1), 0, 0, 0), 0);
    }
    char* buf = _GetTabBuff(t);
    for (int32_t k = 1; k <= 30; ++k) {
      stlong(k, buf + 4), stlong(100 + k, buf + 8), stlong(200 - k, buf + 12), stlong(1000 + 2 * k, buf + 16);
      ASSERT_GT(AddRecord(t), 0);
    }
    CloseAllSchemas();
    ChildRun child = startChild([&] {
      ZF_CHILD_CHECK(OpenSchema("shop", 0x10) == 0x10000);
      int32_t h = FindDbTable(0, "item");
      killingOps = systemFileOps();
      killingOps.rename = killingRename;
      renameKillAt = p.at, renamesSeen = 0, killAfterRename = p.after;
      setFileOps(&killingOps);
      DropIndex(h | 1);
      return 0;
    });
    EXPECT_EQ(child.wait().status, 9);
    ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
    t = FindDbTable(0, "item");
    ASSERT_GT(t, 0);
    int32_t n = _GetTabPtr(t)->nindexes;
    EXPECT_TRUE(n == 3 || n == 4) << n;
    buf = _GetTabBuff(t);
    for (int32_t k = 1; k <= 30; ++k) {
      stlong(k, buf + 4);
      ASSERT_EQ(GetRecord(t | 0, 1, 0, 0), k);
      for (int32_t i = 1; i < n; ++i) EXPECT_EQ(GetRecord(t | i, 1, 0, 0), k) << "index " << i;
    }
    CloseAllSchemas();
    for (std::string const& f : filesIn(dir())) EXPECT_EQ(f.find(".cnv"), std::string::npos) << f;
    std::filesystem::remove_all(dir());
  }
}

}  // namespace
