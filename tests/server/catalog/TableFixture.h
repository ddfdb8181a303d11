// Table test fixture: a real table over real files in a temporary directory
// (the storage fixture's layout and cache), owned by a small schema, with
// five fields of several types and three indexes made directly (as the
// catalog tables' own are), the real lock manager and clients, and a
// stand-in journal that records what it is asked.
//
// Record (no creation stamp): prefix 20, then
//   id     int (10)       at 20, 4 bytes     index 0 "pk" (unique)
//   name   string 12      at 24, 13 bytes    index 1 "byname" (dup)
//   code   string 6       at 37, 7 bytes     index 2 "bycode" (unique)
//   amount number 8.2     at 44
//   born   date           after amount
#pragma once

#include "../storage/StorageFixture.h"

#include <sindex/SvIndRep.h>
#include <sindex/SvIndex.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <svcatalog/TableEnv.h>
#include <svcatalog/TableSchema.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace tabletest {

using svcatalog::LockObject;
using svcatalog::LockTables;
using svcatalog::TableEnv;

class FakeSchema : public svcatalog::TableSchema {
public:
  String schemaName() const override { return "demo"; }
  String qualifiedName() const override { return "srv.demo"; }
  uint32_t schemaId() const override { return 0x123; }
  int32_t owner() const override { return 7; }
  String newFileName(String const& name, String const& ext) override {
    return String("_") + name + toString(long(++files)) + "." + ext;
  }
  void addTable(SvTabRep* t) override { tables.insert(t); }
  void delTable(SvTabRep* t) override { tables.erase(t); }
  void sortTables() override { ++sorts; }
  SvTabRep* classFile() override { return cls; }
  bool updateTableRow(Client*, SvTabRep*, svcatalog::TableRow const& row) override {
    rows.push_back(row);
    return true;
  }
  bool updateIndexRow(Client*, SvIndRep* r) override {
    indexRows.push_back(r->phName());
    return true;
  }

  int files = 0;
  int sorts = 0;
  SvTabRep* cls = nullptr;
  std::set<SvTabRep*> tables;
  std::vector<svcatalog::TableRow> rows;
  std::vector<String> indexRows;
};

class FakeJournal : public svcatalog::TableJournal {
public:
  void putAdd(Client*, SvTable*, int32_t recno, char const*) override { log.push_back({'A', recno, recno}); }
  void putUpdate(Client*, SvTable*, int32_t recno, int32_t old, char const*, char const*, bool pk) override {
    log.push_back({pk ? 'K' : 'U', recno, old});
  }
  void putDel(Client*, SvTable*, int32_t recno, char const*) override { log.push_back({'D', recno, recno}); }
  struct Entry {
    char kind;
    int32_t recno;
    int32_t old;
    bool operator==(Entry const& o) const { return kind == o.kind && recno == o.recno && old == o.old; }
  };
  std::vector<Entry> log;
};

class TableTest : public storagetest::StorageTest {
protected:
  void SetUp() override {
    StorageTest::SetUp();
    // Every logical name of the schema's files lies in the directory.
    tmp.write("tables", "*\tPACKED\t" + tmp.path() + "\n");
    layout_ = std::make_unique<PhysLayout>(String(tmp.file("tables").c_str()));
    svstore::StorageEnv::physLayout_sd = layout_.get();
    TableEnv::reset();
    ClientEnv::reset();
    ClientEnv::setStamp(&svstore::StorageEnv::timeStamp);
    ASSERT_TRUE(LockTables::initLocks(256, 64));
    svstore::StorageEnv::currVersion = -1;
  }
  void TearDown() override {
    delete current;  // destroys the representation and its older attachments
    current = nullptr;
    delete schema.cls;
    schema.cls = nullptr;
    for (Client* c : {&alice, &bob})
      if (c->hasTrans())
        c->delTrans();
    LockTables::cleanUpLocks();
    ClientEnv::reset();
    TableEnv::reset();
    StorageTest::TearDown();
  }

  // The fixture table "fix" of schema "demo" with its current attachment.
  void makeTable(TabFlags flags = 0, bool withIndexes = true) {
    rep = new SvTabRep(&schema, 20, "fix", "_fix.tab", "a fixture", 0, 5, 3, flags, 100, false);
    ASSERT_TRUE(rep->opened());
    addField(SvField::INT, 0, 0, "id");
    addField(SvField::STRING, 12, 0, "name");
    addField(SvField::STRING, 6, 0, "code");
    addField(SvField::NUM, 8, 2, "amount");
    addField(SvField::DATE, 0, 0, "born");
    rep->setRecLength(rep->nextOffset() - rep->prefixSize());
    current = new SvTable(rep, -1);
    if (withIndexes) {
      ASSERT_NE(addIndex("pk", 0, {"id"}), nullptr);
      ASSERT_NE(addIndex("byname", IndFlag::kDup, {"name"}), nullptr);
      ASSERT_NE(addIndex("bycode", 0, {"code"}), nullptr);
    }
  }
  SvField* addField(int32_t type, int32_t len, int32_t dec, char const* name) {
    return SvField::mkField(rep, 0, String(name), String(), nullptr, String(), len, dec, type, -1, 0, 1, nullptr,
                            nullptr, nullptr, ObjectId(), String());
  }
  SvIndRep* addIndex(char const* name, IndFlags flags, std::vector<char const*> const& fields) {
    int32_t len = 0;
    for (char const* f : fields)
      len += rep->field(String(f))->keyLength();
    SvIndRep* r = SvIndRep::consIndex(nullptr, rep, rep->nIndexSlots(), String(name), len,
                                      int32_t(fields.size()), flags);
    if (r == nullptr)
      return nullptr;
    for (size_t i = 0; i < fields.size(); ++i)
      SvIndFld::consIndField(nullptr, r, int32_t(i), rep->field(String(fields[i])), 0, -1, -1);
    return r;
  }

  // Fills the current buffer: a fresh image with the three key fields.
  void image(int32_t id, char const* name, char const* code, char const* amount = "12.5") {
    std::fill(current->buffer(), current->buffer() + current->recordLength(), 0);
    current->initRecord(current->buffer());
    current->setFld(0, id);
    current->setFld(1, String(name));
    current->setFld(2, String(code));
    char* p = current->buffer() + rep->field(3)->tableOffset();
    rep->field(3)->store(p, String(amount), true, -1);
  }
  // Adds a record through the primitive (new instance id, stamped now).
  int32_t add(int32_t id, char const* name, char const* code, Client* c = nullptr) {
    image(id, name, code);
    ++svstore::StorageEnv::timeStamp;
    return current->addCurrRecord(c, true, true, -1, nullptr, 0);
  }

  // Each index agrees with `live` (id -> {name, code, recno}): verify
  // passes, every key finds its record, and the counts match.
  struct Row {
    std::string name, code;
    int32_t recno;
  };
  void expectInStep(std::map<int32_t, Row> const& live, Client* c = nullptr) {
    for (int32_t n = 0; n < current->nIndexSlots(); ++n) {
      SvIndex* ix = current->index(n);
      ASSERT_NE(ix, nullptr);
      EXPECT_TRUE(ix->verify(true)) << zftest::str(ix->name());
      EXPECT_EQ(ix->count(false, nullptr, false, nullptr), int32_t(live.size())) << zftest::str(ix->name());
      ix->unLock();
    }
    std::vector<char> save(current->buffer(), current->buffer() + current->recordLength());
    for (auto const& [id, row] : live) {
      for (int32_t n = 0; n < current->nIndexSlots(); ++n) {
        image(id, row.name.c_str(), row.code.c_str());
        SvIndex* ix = current->index(n);
        ix->buildKey(current->buffer(), row.recno);
        EXPECT_EQ(ix->findKey(c, SvIndex::kExact), row.recno) << zftest::str(ix->name()) << " id " << id;
        ix->unLock();
      }
      ASSERT_TRUE(current->fillBuffer(row.recno));
      int32_t got = 0;
      String name;
      current->getFld(0, got);
      current->getFld(1, name);
      EXPECT_EQ(got, id);
      EXPECT_EQ(zftest::str(name), row.name);
    }
    std::copy(save.begin(), save.end(), current->buffer());
  }

  // Installs the journal.
  void journalled() { TableEnv::journal = &journal; }
  // The number of record locks held on the table.
  int32_t recordLocks() const {
    int32_t tab = 0, rec = 0;
    rep->nLocks(tab, rec);
    return rec;
  }

  FakeSchema schema;
  FakeJournal journal;
  SvTabRep* rep = nullptr;
  SvTable* current = nullptr;
  Client alice{101, "/bin/a", "", 7, 7, "node", "tty1", true};
  Client bob{102, "/bin/b", "", 8, 8, "node", "tty2", true};
};

}  // namespace tabletest
