// Schemas and their catalog: creation, names that become paths, values a
// column cannot hold, enumerations, reading back after a checkpoint, a
// replay of the same rows, damaged rows at open, and dropping a schema.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <svcatalog/CatalogOps.h>
#include <svcatalog/CatalogTables.h>
#include <sindex/SvIndex.h>
#include <svcatalog/SvExpr.h>
#include <svcatalog/SvInCheck.h>
#include <svcatalog/LockObject.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <zfound/LoopConnection.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTable.h>
#include <zfound/Message.h>

#include "SchemaFixture.h"
#include "TestSupport.h"

namespace {

using svcatalog::Cat;
using zftest::shown;

std::set<std::string> dirFiles(std::string const& d) {
  std::set<std::string> out;
  if (DIR* dp = ::opendir(d.c_str())) {
    while (dirent* e = ::readdir(dp))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.insert(e->d_name);
    ::closedir(dp);
  }
  return out;
}

// Every file of a directory with its bytes.
std::map<std::string, std::string> fileBytes(std::string const& d) {
  std::map<std::string, std::string> out;
  for (auto const& f : dirFiles(d)) out[f] = zftest::readFile(d + "/" + f);
  return out;
}

class SchemaTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    zftest::startUpOnce("ombrel-3.3.2");
    Exception::init(true);
  }
  void SetUp() override {
    env_ = std::make_unique<catalogtest::SchemaEnv>(tmp.path());
    old_ = displayErrorHandler(zftest::recordWarning);
    shown().clear();
    Exception::last(Exception(0));
  }
  void TearDown() override {
    env_.reset();
    displayErrorHandler(old_);
    Exception::last(Exception(0));
  }

  SvSchema* create(char const* name = "demo") {
    return SvSchema::consSchema(nullptr, String(name), String(env_->db().c_str()), String("the demo"), 7);
  }
  std::string dir(char const* name = "demo") const { return env_->db() + "/" + name; }
  static int32_t pending() { return Exception::last().code(); }
  static void clear() { Exception::last(Exception(0)); }

  // A table "Customers" with a text, a number and an int field, a unique
  // index on the text and a duplicate one on the int.
  static SvTable* customers(SvSchema* s) {
    Exception::last(Exception(0));
    SvTable* t = svcatalog::consTable(nullptr, s, String("Customers"), String("people"), 0, 0, 0);
    if (t == nullptr) return nullptr;
    SvTabRep* r = t->tabRep();
    auto add = [&](int32_t n, char const* name, int32_t type, int32_t len, int32_t dec) {
      return svcatalog::consField(nullptr, r, n, String(name), String(), nullptr, String(), len, dec, type, 0,
                                  ObjectId(), 0, 1, nullptr, nullptr, nullptr, String()) != nullptr;
    };
    if (!add(0, "name", SvField::STRING, 20, 0) || !add(1, "credit", SvField::NUM, 8, 2) ||
        !add(2, "age", SvField::INT, 0, 0))
      return nullptr;
    t->updateRecLength(nullptr, r->nextOffset() - r->prefixSize());
    SvIndRep* byName = svcatalog::consIndex(nullptr, r, 0, String("byName"), 20, 1, 0);
    SvIndRep* byAge = svcatalog::consIndex(nullptr, r, 1, String("byAge"), 4, 1, IndFlag::kDup);
    if (byName == nullptr || byAge == nullptr) return nullptr;
    svcatalog::consIndField(nullptr, byName, 0, r->field(0), 0, -1, 20);
    svcatalog::consIndField(nullptr, byAge, 0, r->field(2), 0, -1, 4);
    return r->attachment(-1);
  }

  // The structure listing of every table of the schema, as text.
  static std::string structure(SvSchema* s) {
    shown().clear();
    for (int32_t i = 0; i < s->tablesDim(); ++i)
      if (SvTabRep* t = s->table(i); t != nullptr && !s->isCatalogRep(t)) svcatalog::listStructure(nullptr, t);
    std::string out;
    for (auto const& l : shown()) out += l + "\n";
    shown().clear();
    return out;
  }

  zftest::TempDir tmp;
  std::unique_ptr<catalogtest::SchemaEnv> env_;
  MsgHandler old_ = nullptr;
};

TEST_F(SchemaTest, ANewSchemaHasItsOwnRowAndEmptyCatalogs) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr) << zftest::str(Exception::last().message());
  EXPECT_EQ(s->getOwnerId(), 7);
  EXPECT_EQ(zftest::str(s->descr()), "the demo");
  std::vector<int32_t> rows = s->tableStruct()->rows(nullptr);
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_TRUE(s->tableStruct()->load(rows[0]));
  EXPECT_EQ(s->tableStruct()->recInstId(), 16u);
  EXPECT_EQ(s->tableStruct()->num(svcatalog::ClassCol::Size), s->id());
  for (svcatalog::CatalogTable* t : std::vector<svcatalog::CatalogTable*>{
           s->fieldStruct(), s->indexStruct(), s->indFieldStruct(), s->privgStruct(), s->inStruct()})
    EXPECT_TRUE(t->rows(nullptr).empty());
  EXPECT_EQ(s->nTables(), 6);
  std::set<std::string> const want = {"$class.tab",   "$class.i00",   "$member.tab", "$member.i00", "$member.i01",
                                      "$mindex.tab",  "$mindex.i00",  "$mindex.i01", "$mimembr.tab",
                                      "$mimembr.i00", "$mimembr.i01", "$privg.tab",  "$privg.i00",
                                      "$privg.i01",   "$integr.tab",  "$integr.i00", "$integr.i01"};
  EXPECT_EQ(dirFiles(dir()), want);
}

// A creation refused after its directory was made leaves no directory, no
// file and no configured schema behind.
TEST_F(SchemaTest, ARefusedCreationLeavesNoDirectoryBehind) {
  static int32_t deleted;
  struct Case {
    char const* what;
    bool (*addSchema)(String const&, String const&, int32_t);
    int32_t wantDeleted;
  };
  Case const cases[] = {
      {"configuration refuses it", [](String const&, String const&, int32_t) { return false; }, 0},
      {"its catalog files cannot be placed",
       [](String const& d, String const& name, int32_t) {
         // The class catalog is placed in a directory that does not exist.
         svstore::StorageEnv::physLayout_sd->addPackedEntry(name + ".$*", d + "/missing", name);
         svstore::StorageEnv::physLayout_sd->addPackedEntry(name + ".*", d + "/missing", name);
         return true;
       },
       1},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(k.what);
    svcatalog::CatalogHooks h;
    h.addSchema = k.addSchema;
    h.delSchema = [](String const&) { ++deleted; return true; };
    svcatalog::CatalogEnv::setHooks(h);
    deleted = 0;
    clear();
    EXPECT_EQ(create("lost"), nullptr);
    EXPECT_EQ(dirFiles(env_->db()).count("lost"), 0u);
    EXPECT_EQ(deleted, k.wantDeleted);
  }
}

TEST_F(SchemaTest, NamesThatWouldNotBePlainFileNamesAreRefused) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  std::set<std::string> const before = dirFiles(env_->db());
  std::set<std::string> const filesBefore = dirFiles(dir());
  for (char const* bad : {"", "seventeen_chars_x", "../x", "a/b", "tab\x01", ".", ".."}) {
    SCOPED_TRACE(bad);
    clear();
    EXPECT_EQ(SvSchema::consSchema(nullptr, String(bad), String(env_->db().c_str()), String(), 0), nullptr);
    EXPECT_NE(pending(), 0);
    if (*bad == 0) continue;  // a table without a name is a temporary one
    clear();
    EXPECT_EQ(svcatalog::consTable(nullptr, s, String(bad), String(), 0, 0, 0), nullptr);
    EXPECT_NE(pending(), 0);
  }
  EXPECT_EQ(dirFiles(env_->db()), before);
  EXPECT_EQ(dirFiles(dir()), filesBefore);
  EXPECT_EQ(s->tableStruct()->rows(nullptr).size(), 1u);
}

// A table's name and file change through its row: the same checks as at
// creation, and a refused change leaves the row and the files as they were.
TEST_F(SchemaTest, ARenameToANameThatWouldNotBeAPlainFileNameIsRefused) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  SvTabRep* r = t->tabRep();
  String const file = r->nameExt();
  std::set<std::string> const filesBefore = dirFiles(dir());
  std::set<std::string> const dbBefore = dirFiles(env_->db());
  struct Case {
    char const* name;
    char const* file;
  } const cases[] = {{"", "_custome.tab"},   {"../x", "_custome.tab"}, {"a/b", "_custome.tab"},
                     {"..", "_custome.tab"}, {"tab\x01", "_custome.tab"}, {"Clients", "../x.tab"},
                     {"Clients", "a/b.tab"}, {"Clients", ".."}};
  for (Case const& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.file);
    clear();
    EXPECT_FALSE(r->updateData(nullptr, String(c.name), String(c.file), r->descr(), r->flags(), r->size(),
                               r->length(), 0, String()));
    EXPECT_NE(pending(), 0);
    EXPECT_EQ(zftest::str(r->name()), "Customers");
    EXPECT_EQ(zftest::str(r->nameExt()), zftest::str(file));
  }
  ASSERT_GE(s->tableStruct()->readThis(nullptr, r->instId()), 0);
  EXPECT_EQ(zftest::str(s->tableStruct()->str(svcatalog::ClassCol::Name)), "Customers");
  EXPECT_EQ(zftest::str(s->tableStruct()->str(svcatalog::ClassCol::File)), zftest::str(file));
  EXPECT_EQ(dirFiles(dir()), filesBefore);
  EXPECT_EQ(dirFiles(env_->db()), dbBefore);
  // An expression that does not compile is refused before the row too.
  clear();
  EXPECT_FALSE(r->updateData(nullptr, String("Customers"), file, r->descr(), r->flags(), r->size(), r->length(), 0,
                             String("1 +")));
  EXPECT_NE(pending(), 0);
  ASSERT_GE(s->tableStruct()->readThis(nullptr, r->instId()), 0);
  EXPECT_EQ(zftest::str(s->tableStruct()->str(svcatalog::ClassCol::RelCheck)), "");
  clear();
  EXPECT_TRUE(r->updateData(nullptr, String("Clients"), file, r->descr(), r->flags(), r->size(), r->length(), 0,
                            String()));
  EXPECT_EQ(zftest::str(r->name()), "Clients");
}

TEST_F(SchemaTest, AnIndexRowChangeToAnEmptyNameOrAnEscapingFileIsRefused) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  SvIndRep* ir = t->tabRep()->index(String("byName"));
  ASSERT_NE(ir, nullptr);
  String const file = ir->phName();
  std::set<std::string> const dbBefore = dirFiles(env_->db());
  std::set<std::string> const filesBefore = dirFiles(dir());
  for (auto const& [name, f] : std::vector<std::pair<char const*, char const*>>{
           {"", "_custome.i00"}, {"byName", "../y.i00"}, {"byName", "a/b.i00"}, {"byName", ".."}}) {
    SCOPED_TRACE(std::string(name) + " " + f);
    clear();
    EXPECT_FALSE(svcatalog::updateIndexData(nullptr, ir, ObjectId(), String(name), String(f), ir->flags(),
                                            ir->length()));
    EXPECT_NE(pending(), 0);
    EXPECT_EQ(zftest::str(ir->name()), "byName");
    EXPECT_EQ(zftest::str(ir->phName()), zftest::str(file));
  }
  // A key shorter than its parts, or too long for a node: the hook would
  // refuse it, so no row changes.
  for (int32_t len : {2, 100000}) {
    clear();
    EXPECT_FALSE(svcatalog::updateIndexData(nullptr, ir, ObjectId(), String("byName"), file, ir->flags(), len));
    EXPECT_NE(pending(), 0);
  }
  EXPECT_FALSE(s->damaged());
  ASSERT_GE(s->indexStruct()->readThis(nullptr, ir->instId()), 0);
  EXPECT_EQ(zftest::str(s->indexStruct()->str(svcatalog::MIndexCol::Name)), "byName");
  EXPECT_EQ(s->indexStruct()->num(svcatalog::MIndexCol::Len), 20);
  EXPECT_EQ(dirFiles(env_->db()), dbBefore);
  EXPECT_EQ(dirFiles(dir()), filesBefore);
}

// What the rows would not read back at the next open is refused before
// any row is written.
TEST_F(SchemaTest, AnIndexWithANegativePartCountWritesNoRow) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  size_t const rows = s->indexStruct()->rows(nullptr).size();
  clear();
  EXPECT_EQ(svcatalog::consIndex(nullptr, t->tabRep(), 2, String("neg"), 4, -1, IndFlag::kDup), nullptr);
  EXPECT_NE(pending(), 0);
  EXPECT_EQ(s->indexStruct()->rows(nullptr).size(), rows);
  EXPECT_EQ(t->tabRep()->nIndices(), 2);
}

TEST_F(SchemaTest, ATableWithANegativeLengthOrUnknownFlagsWritesNoRow) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  SvTabRep* r = t->tabRep();
  for (auto const& [len, flags] : std::vector<std::pair<int32_t, int32_t>>{{-1, 0}, {0, 16}, {0, -1}}) {
    SCOPED_TRACE(std::to_string(len) + " " + std::to_string(flags));
    clear();
    EXPECT_EQ(svcatalog::consTable(nullptr, s, String("T2"), String(), len, TabFlags(flags), 0), nullptr);
    EXPECT_NE(pending(), 0);
    EXPECT_EQ(s->tableStruct()->rows(nullptr).size(), 2u);
    clear();
    EXPECT_FALSE(r->updateData(nullptr, r->name(), r->nameExt(), r->descr(), TabFlags(flags), r->size(),
                               len, 0, String()));
    EXPECT_NE(pending(), 0);
    ASSERT_GE(s->tableStruct()->readThis(nullptr, r->instId()), 0);
    EXPECT_GE(s->tableStruct()->num(svcatalog::ClassCol::Len), 0);
    EXPECT_EQ(s->tableStruct()->num(svcatalog::ClassCol::Flags), int32_t(r->flags()));
  }
}

// A field's row change that the field cannot take (another type, length
// or dimension would move bytes) is refused before its row is written.
TEST_F(SchemaTest, AFieldRowChangeTheFieldCannotTakeWritesNoRow) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  SvField* name = t->tabRep()->field(0);
  struct Case {
    char const* what;
    int32_t dim, len, type;
  } const cases[] = {{"type", 1, 20, SvField::INT}, {"length", 1, 30, SvField::STRING}, {"dim", 3, 20, SvField::STRING}};
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    clear();
    EXPECT_FALSE(svcatalog::updateData(nullptr, name, ObjectId(), String("renamed"), String(), c.dim, String(), c.len,
                                       0, 0, c.type, 0));
    EXPECT_NE(pending(), 0);
    ASSERT_GE(s->fieldStruct()->readThis(nullptr, name->instId()), 0);
    EXPECT_EQ(s->fieldStruct()->num(svcatalog::MemberCol::Type), SvField::STRING);
    EXPECT_EQ(s->fieldStruct()->num(svcatalog::MemberCol::Len), 20);
    EXPECT_EQ(s->fieldStruct()->num(svcatalog::MemberCol::Dim), 1);
    EXPECT_EQ(zftest::str(s->fieldStruct()->str(svcatalog::MemberCol::Name)), "name");
    EXPECT_FALSE(s->damaged());
  }
}

TEST_F(SchemaTest, ValuesAColumnCannotHoldWriteNoRow) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  SvTabRep* r = t->tabRep();
  std::string const longText(65, 'x');
  size_t const members = s->fieldStruct()->rows(nullptr).size();
  size_t const classes = s->tableStruct()->rows(nullptr).size();
  // A changed file stays on the modified list for three checkpoints.
  for (int i = 0; i < 4; ++i) catalogtest::SchemaEnv::checkpoint();
  std::map<std::string, std::string> const bytes = fileBytes(dir());
  clear();
  EXPECT_EQ(svcatalog::consTable(nullptr, s, String("T2"), String(longText.c_str()), 0, 0, 0), nullptr);
  EXPECT_EQ(pending(), InvalidData(String()).code());
  struct Case {
    char const* what;
    int32_t len, dim, type;
  } const cases[] = {
      {"string of 10000", 10000, 1, SvField::STRING},
      {"dimension 10000", 4, 10000, SvField::INT},
      {"type code 7", 4, 1, 7},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    clear();
    EXPECT_EQ(svcatalog::consField(nullptr, r, 3, String("f"), String(), nullptr, String(), c.len, 0, c.type, 0,
                                   ObjectId(), 0, c.dim, nullptr, nullptr, nullptr, String()),
              nullptr);
    EXPECT_NE(pending(), 0);
  }
  EXPECT_EQ(s->fieldStruct()->rows(nullptr).size(), members);
  EXPECT_EQ(s->tableStruct()->rows(nullptr).size(), classes);
  EXPECT_EQ(r->nFields(), 3);
  EXPECT_FALSE(s->damaged());
  for (int i = 0; i < 4; ++i) catalogtest::SchemaEnv::checkpoint();
  std::map<std::string, std::string> const after = fileBytes(dir());
  for (auto const& [f, b] : bytes) EXPECT_TRUE(after.at(f) == b) << f;
  EXPECT_EQ(after.size(), bytes.size());
}

TEST_F(SchemaTest, Enumerations) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  using Items = std::vector<std::pair<String, int32_t>>;
  EXPECT_EQ(s->enumCreate(nullptr, String("COLORS"), Items{{String("Red"), 1}, {String("Blue"), -9999}}), 0);
  EXPECT_EQ(s->enumCreate(nullptr, String("Empty"), Items{}), 0);
  size_t const rows = s->inStruct()->rows(nullptr).size();
  EXPECT_EQ(rows, 4u);
  struct Case {
    char const* name;
    Items items;
  } const refused[] = {
      {"Colors", {}},                                // exists in another case
      {"", {}},                                      // no name
      {"Big", {{String("a"), 1}, {String("b"), 10000}}},
      {"Low", {{String("a"), -10000}}},
      {"Unnamed", {{String(), 1}}},
      {"Long", {{String(std::string(65, 'n').c_str()), 1}}},
  };
  for (Case const& c : refused) {
    SCOPED_TRACE(c.name);
    clear();
    EXPECT_EQ(s->enumCreate(nullptr, String(c.name), c.items), -1);
    EXPECT_NE(pending(), 0);  // the client is told why
  }
  EXPECT_EQ(s->inStruct()->rows(nullptr).size(), rows);  // nothing of a refused one written
  EXPECT_EQ(s->nEnums(), 2);
  int32_t* values = nullptr;
  EXPECT_FALSE(s->getEnumInfo(String("Empty"), String(), values));
  ASSERT_TRUE(s->getEnumInfo(String("colors"), String("Blue"), values));
  EXPECT_EQ(values[0], -9999);
  delete[] values;
  // What a client opening the schema receives.
  LoopConnection con;
  s->sendEnums(&con);
  con.rewind();
  int32_t n = 0, items = 0, v = 0;
  String name, item;
  con >> n >> name >> items >> item >> v;
  EXPECT_EQ(n, 2);
  EXPECT_EQ(zftest::str(name), "COLORS");
  EXPECT_EQ(items, 2);
  EXPECT_EQ(zftest::str(item), "Red");
  EXPECT_EQ(v, 1);
  // An expression naming an item evaluates against the schema.
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message()) << ::testing::PrintToString(shown());
  SvExpr e(String("COLORS::Red + 2"), s);
  ASSERT_TRUE(e.resolveFields(t->tabRep(), -1)) << zftest::str(e.errorDescr());
  e.setInfo(t->tabRep(), -1, t->buffer());
  EXPECT_EQ(zftest::str(toString(e.eval())), "3");
  // Read back after a checkpoint; then all deleted.
  int32_t const id = s->id();
  catalogtest::SchemaEnv::checkpoint();
  catalogtest::SchemaEnv::closeAll();
  env_->addLayout(String("demo"));
  s = new SvSchema(nullptr, String("demo"), id);
  ASSERT_EQ(s->nEnums(), 2);
  EXPECT_EQ(zftest::str(s->enumAt(0)->name()), "COLORS");
  EXPECT_EQ(s->enumAt(0)->nItems(), 2);
  EXPECT_EQ(s->enumAt(0)->item(1)->value(), -9999);
  EXPECT_TRUE(s->deleteEnums(nullptr));
  EXPECT_EQ(s->nEnums(), 0);
  EXPECT_TRUE(s->inStruct()->rows(nullptr).empty());
}

// The request form reads name, count and items; a refused item leaves
// nothing written, and the request's reply is -1.
TEST_F(SchemaTest, EnumCreateRequestReadsItsArguments) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  struct Case {
    char const* name;
    int32_t value;
    long reply;
    int32_t enums;
  } const cases[] = {{"Sizes", 7, 0, 1}, {"SIZES", 7, -1, 1}, {"Bad", 10000, -1, 1}};
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    LoopConnection con;
    con << String(c.name) << int32_t(2) << String("S") << int32_t(1) << String("L") << c.value;
    con.rewind();
    SvObject::con = &con;
    EXPECT_EQ(s->enumCreate(nullptr), c.reply);
    SvObject::con = nullptr;
    EXPECT_EQ(s->nEnums(), c.enums);
  }
  EXPECT_EQ(s->inStruct()->rows(nullptr).size(), 3u);
}

// Changes of live fields and indexes go through their rows and read back
// the same after a checkpoint and reopen.
TEST_F(SchemaTest, FieldAndIndexChangesThroughTheirRows) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  SvTabRep* r = t->tabRep();
  SvField* name = r->field(0);
  SvField* age = r->field(2);
  ASSERT_TRUE(svcatalog::updateData(nullptr, name, ObjectId(), String("fullname"), String("who"), 1, String(), 20, 0,
                                    FldFlag::kNotNull, SvField::STRING, 0));
  auto* list = new SvInList(true);
  list->addKeyVal(AnyValue(long(18)));
  list->addKeyVal(AnyValue(long(21)));
  ASSERT_TRUE(svcatalog::updateInCheck(nullptr, age, list, String()));
  ASSERT_TRUE(svcatalog::updateDeflt(nullptr, age, new SvExpr(String("18"), s)));
  // An enumeration goes only with a list of values.
  clear();
  EXPECT_FALSE(svcatalog::updateInCheck(nullptr, name, nullptr, String("Colors")));
  EXPECT_NE(pending(), 0);
  // The key length comes from the row's len column, not its part count.
  SvIndRep* byName = r->index(String("byName"));
  ASSERT_NE(byName, nullptr);
  String const oldFile = byName->phName();
  ASSERT_TRUE(svcatalog::emptyIndex(nullptr, byName));
  EXPECT_EQ(byName->length(), 20);
  EXPECT_NE(zftest::str(byName->phName()), zftest::str(oldFile));
  SvIndRep* byAge = r->index(String("byAge"));
  ASSERT_TRUE(svcatalog::destructIndex(nullptr, byAge->index()));
  EXPECT_EQ(r->index(String("byAge")), nullptr);
  auto check = [&](SvSchema* sc) {
    SvTabRep* rr = sc->findTabRep(String("Customers"));
    ASSERT_NE(rr, nullptr);
    EXPECT_EQ(zftest::str(rr->field(0)->name()), "fullname");
    EXPECT_EQ(zftest::str(rr->field(0)->descr()), "who");
    EXPECT_TRUE(rr->field(0)->notNull());
    InCheck* in = rr->field(2)->inCheck();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->getType(), 1);
    EXPECT_TRUE(in->negation());
    EXPECT_EQ(in->nKeyValues(), 2);
    ASSERT_NE(rr->field(2)->deflt(), nullptr);
    EXPECT_EQ(zftest::str(rr->field(2)->deflt()->getExpr()), "18");
    EXPECT_EQ(rr->nIndices(), 1);
    ASSERT_NE(rr->index(String("byName")), nullptr);
    EXPECT_EQ(rr->index(String("byName"))->length(), 20);
  };
  check(s);
  int32_t const id = s->id();
  catalogtest::SchemaEnv::checkpoint();
  catalogtest::SchemaEnv::closeAll();
  env_->addLayout(String("demo"));
  s = new SvSchema(nullptr, String("demo"), id);
  check(s);
  EXPECT_FALSE(s->damaged());
}

// The schema's lock count is the sum over its tables.
TEST_F(SchemaTest, LocksAreCountedOverTheSchemasTables) {
  ClientEnv::reset();
  ASSERT_TRUE(svcatalog::LockTables::initLocks(100, 10));
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr);
  Client a(1, "a", String(), 0, 0, "n", "t", false);
  svcatalog::LockObject* out = nullptr;
  bool created = false;
  ASSERT_TRUE(t->tabRep()->applyLock(&a, 3, 0, 0, true, &out, created));
  ASSERT_TRUE(t->tabRep()->applyLock(&a, 4, 1, 0, true, &out, created));
  int32_t tabs = -1, recs = -1;
  s->nLocks(tabs, recs);
  EXPECT_EQ(tabs, 0);
  EXPECT_EQ(recs, 2);
  t->tabRep()->freeTabLock(&a);
  s->nLocks(tabs, recs);
  EXPECT_EQ(recs, 0);
  catalogtest::SchemaEnv::closeAll();
  svcatalog::LockTables::cleanUpLocks();
  ClientEnv::reset();
}

TEST_F(SchemaTest, StructureReadsBackAfterACheckpointAndFromAReplayOfItsRows) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* t = customers(s);
  ASSERT_NE(t, nullptr) << zftest::str(Exception::last().message());
  Privilege p;
  p.add(5, 1, 8);
  ASSERT_TRUE(svcatalog::updateTablePrivg(nullptr, t->tabRep(), p));
  ASSERT_EQ(s->enumCreate(nullptr, String("Colors"), {{String("Red"), 1}}), 0);
  std::string const before = structure(s);
  EXPECT_NE(before.find("Name : Customers"), std::string::npos) << before;
  EXPECT_NE(before.find("Ph. Name: _custome.i01"), std::string::npos) << before;
  int32_t const id = s->id();
  // Every catalog row, in the order a replay needs them.
  std::vector<std::pair<int32_t, std::vector<char>>> images;
  svcatalog::CatalogTable* const order[] = {s->tableStruct(),    s->fieldStruct(), s->inStruct(),
                                            s->indexStruct(),    s->indFieldStruct(), s->privgStruct()};
  for (int32_t k = 0; k < 6; ++k)
    for (int32_t r : order[k]->rows(nullptr)) {
      ASSERT_TRUE(order[k]->load(r));
      images.emplace_back(k, std::vector<char>(order[k]->buffer(), order[k]->buffer() + order[k]->recordLength()));
    }
  catalogtest::SchemaEnv::checkpoint();
  catalogtest::SchemaEnv::closeAll();
  env_->addLayout(String("demo"));
  s = new SvSchema(nullptr, String("demo"), id);
  EXPECT_EQ(structure(s), before);
  EXPECT_EQ(s->findTabRep(String("Customers"))->privileges().size(), p.size());
  EXPECT_FALSE(s->damaged());
  // Replay: the same rows on an empty schema of the same id.
  catalogtest::SchemaEnv::closeAll();
  for (auto const& f : dirFiles(dir())) ::unlink((dir() + "/" + f).c_str());
  ::rmdir(dir().c_str());
  s = new SvSchema(nullptr, String("demo"), String(env_->db().c_str()), String(), 0, id);
  ASSERT_EQ(s->id(), id);
  svcatalog::CatalogTable* const order2[] = {s->tableStruct(),    s->fieldStruct(), s->inStruct(),
                                             s->indexStruct(),    s->indFieldStruct(), s->privgStruct()};
  for (auto const& [k, img] : images) {
    std::copy(img.begin(), img.end(), order2[k]->buffer());
    ASSERT_GE(order2[k]->addCurrRecord(nullptr, false, true, -1, nullptr, 0), 0);
  }
  EXPECT_EQ(structure(s), before);
  EXPECT_EQ(s->nEnums(), 1);
  EXPECT_EQ(zftest::str(s->descr()), "the demo");
}

TEST_F(SchemaTest, DamagedRowsAreReportedAndLeftOutAndTheSchemaKeepsItsFiles) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  ASSERT_NE(customers(s), nullptr);
  uint32_t const tableClass = s->classWord(SvSchema::kKindTable);
  // Rows that the catalog operations would never write, put in through the
  // plain record operation.
  svcatalog::CatalogTable* ft = s->fieldStruct();
  ft->clearRow();
  ft->set(svcatalog::MemberCol::Class, ObjectId(tableClass, 999));
  ft->set(svcatalog::MemberCol::Name, String("orphan"));
  ASSERT_GE(ft->SvTable::addCurrRecord(nullptr, true, true, -1, nullptr, 0), 0);
  svcatalog::CatalogTable* ct = s->tableStruct();
  ct->clearRow();
  ct->setFld(svcatalog::ClassCol::Name, String(".."));
  ct->setFld(svcatalog::ClassCol::File, String("../../x.tab"));
  ASSERT_GE(ct->SvTable::addCurrRecord(nullptr, true, true, -1, nullptr, 0), 0);
  svcatalog::CatalogTable* it = s->indexStruct();
  it->clearRow();
  it->set(svcatalog::MIndexCol::Class, s->findTabRep(String("Customers"))->oid());
  it->set(svcatalog::MIndexCol::Name, String("huge"));
  it->set(svcatalog::MIndexCol::File, String("_custome.i09"));
  it->set(svcatalog::MIndexCol::Len, 99999);
  ASSERT_GE(it->SvTable::addCurrRecord(nullptr, true, true, -1, nullptr, 0), 0);
  int32_t const id = s->id();
  catalogtest::SchemaEnv::checkpoint();
  catalogtest::SchemaEnv::closeAll();
  env_->addLayout(String("demo"));
  shown().clear();
  s = new SvSchema(nullptr, String("demo"), id);
  EXPECT_TRUE(s->damaged());
  EXPECT_FALSE(s->mayRemoveStrayFiles());
  SvTabRep* r = s->findTabRep(String("Customers"));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->nFields(), 3);
  EXPECT_EQ(r->nIndices(), 2);
  EXPECT_EQ(s->nTables(), 7);
  int reports = 0;
  for (auto const& l : shown()) reports += l.find("is left out") != std::string::npos;
  EXPECT_EQ(reports, 3) << ::testing::PrintToString(shown());
}

// The schema's own row naming another schema id is reported; the schema
// keeps its id and reads its tables.
TEST_F(SchemaTest, AnOwnRowWithAnotherSchemaIdIsReported) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  ASSERT_NE(customers(s), nullptr);
  int32_t const id = s->id();
  svcatalog::CatalogTable* ct = s->tableStruct();
  int32_t const r = ct->readThis(nullptr, svcatalog::kSchemaRowInst);
  ASSERT_GE(r, 0);
  ct->setFld(svcatalog::ClassCol::Size, id + 1);
  ASSERT_GE(ct->SvTable::updateRecNo(nullptr, r, true, nullptr, false, 0), 0);
  catalogtest::SchemaEnv::checkpoint();
  catalogtest::SchemaEnv::closeAll();
  env_->addLayout(String("demo"));
  shown().clear();
  s = new SvSchema(nullptr, String("demo"), id);
  EXPECT_EQ(s->id(), id);
  EXPECT_TRUE(s->damaged());
  SvTabRep* t = s->findTabRep(String("Customers"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->nFields(), 3);
  EXPECT_EQ(t->nIndices(), 2);
}

// A catalog outside a packed layout entry is reported and used.
TEST_F(SchemaTest, ACatalogOutsideAPackedEntryIsReportedAndUsed) {
  env_.reset();
  env_ = std::make_unique<catalogtest::SchemaEnv>(tmp.path(), "demo.*\tROUNDROBIN\t64K\t" + tmp.path() + "/rr\n");
  ::mkdir((tmp.path() + "/rr").c_str(), 0777);
  shown().clear();
  SvSchema* s = create();
  ASSERT_NE(s, nullptr) << zftest::str(Exception::last().message());
  int reports = 0;
  for (auto const& l : shown()) reports += l.find("packed entry") != std::string::npos;
  EXPECT_EQ(reports, 6) << ::testing::PrintToString(shown());
  EXPECT_NE(customers(s), nullptr) << zftest::str(Exception::last().message());
}

TEST_F(SchemaTest, DroppingASchemaDropsEveryTableEvenOneWithoutAnAttachment) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  ASSERT_NE(customers(s), nullptr);
  SvTable* other = svcatalog::consTable(nullptr, s, String("A"), String(), 8, 0, 0);
  ASSERT_NE(other, nullptr);
  SvTabRep* rep = other->tabRep();
  other->releaseRep();
  delete other;  // the representation stays, without a current attachment
  ASSERT_EQ(rep->attachment(-1), nullptr);
  std::vector<std::string> unlinked;
  static std::vector<std::string>* sink = nullptr;
  sink = &unlinked;
  svcatalog::CatalogHooks h;
  h.unlinkSchema = [](String const& n) { sink->push_back(zftest::str(n)); };
  svcatalog::CatalogEnv::setHooks(h);
  EXPECT_TRUE(SvSchema::destructSchema(nullptr, s));
  EXPECT_EQ(SvSchema::find(String("demo")), nullptr);
  EXPECT_EQ(unlinked, std::vector<std::string>{"demo"});
}

}  // namespace

// The journal names a table by a word that keeps 12 bits of its instance
// number: a new table skips numbers whose low 12 bits a live table of the
// schema has.
TEST_F(SchemaTest, ANewTableSkipsInstanceNumbersWhoseLow12BitsAreTaken) {
  SvSchema* s = create();
  ASSERT_NE(s, nullptr);
  SvTable* a = svcatalog::consTable(nullptr, s, String("A"), String(), 0, 0, 0);
  ASSERT_NE(a, nullptr);
  uint32_t const instA = a->tabRep()->instId();
  // The next number drawn would be instA + 4096.
  s->tableStruct()->tabRep()->lastRecId() = int32_t(instA + 4095);
  SvTable* b = svcatalog::consTable(nullptr, s, String("B"), String(), 0, 0, 0);
  ASSERT_NE(b, nullptr);
  uint32_t const instB = b->tabRep()->instId();
  EXPECT_NE(instA & 0xFFFu, instB & 0xFFFu);
  EXPECT_EQ(instA + 4097, instB);
  EXPECT_EQ(s->findTabRep(String("A"))->instId(), instA);
}
