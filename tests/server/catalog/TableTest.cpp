// Tables over real files: the record slot's bytes, the record primitives
// with their indexes kept in step, shadow slots, undo of a refused key,
// deferred deletes, attachments and their lifetime, readThis, alter's
// equivalence and the profile line.
#include "TableFixture.h"

#include <zfound/Portable.h>

#include <cstring>
#include <unistd.h>

namespace tabletest {
namespace {

// ---- record slot ---------------------------------------------------------------------------

TEST_F(TableTest, RecordSlotBytes) {
  struct Case {
    TabFlags flags;
    int32_t prefix;
  };
  for (Case const k : {Case{0, 20}, Case{TabFlag::kCreationStamp, 28}}) {
    SCOPED_TRACE(k.flags);
    makeTable(k.flags);
    EXPECT_EQ(rep->prefixSize(), k.prefix);
    EXPECT_EQ(rep->field(0)->tableOffset(), k.prefix);
    EXPECT_EQ(rep->field(1)->tableOffset(), k.prefix + 4);
    EXPECT_EQ(rep->field(2)->tableOffset(), k.prefix + 4 + 13);
    image(0x01020304, "ab", "c");
    ++svstore::StorageEnv::timeStamp;
    TimeStamp now = svstore::StorageEnv::timeStamp;
    int32_t recno = current->addCurrRecord(nullptr, true, true, -1, nullptr, 0x0A0B0C0D);
    ASSERT_EQ(recno, 1);
    char const* slot = rep->get(recno);
    ASSERT_NE(slot, nullptr);
    char stamp[8];
    char* sp = stamp;
    now.store(sp);
    struct Bytes {
      int32_t at;
      std::vector<unsigned char> want;
    };
    std::vector<Bytes> table = {
        {8, std::vector<unsigned char>(stamp, stamp + 8)},       // modification stamp
        {16, {0x0A, 0x0B, 0x0C, 0x0D}},                          // instance id, big-endian
        {k.prefix + 4, {'a', 'b', 0}},                           // name after the int
        {k.prefix + 17, {'c', 0}},                               // code
    };
    if (k.flags & TabFlag::kCreationStamp)
      table.push_back({20, std::vector<unsigned char>(stamp, stamp + 8)});  // creation stamp
    for (Bytes const& b : table)
      for (size_t i = 0; i < b.want.size(); ++i)
        EXPECT_EQ((unsigned char)slot[b.at + int32_t(i)], b.want[i]) << "byte " << b.at + int32_t(i);
    EXPECT_EQ(rep->recInstId(recno), 0x0A0B0C0Du);
    delete current;
    current = nullptr;
  }
}

TEST_F(TableTest, InstanceIdsComeFromTheCounterAndAFailedAddGivesItBack) {
  makeTable();
  int32_t before = rep->lastRecId();
  ASSERT_EQ(add(1, "x", "a"), 1);
  EXPECT_EQ(current->recInstId(), uint32_t(before + 1));
  EXPECT_EQ(add(1, "y", "b"), -1);  // duplicate primary key
  EXPECT_EQ(rep->lastRecId(), before + 1);
  EXPECT_EQ(add(2, "y", "b"), 3);  // a freed slot waits for the next checkpoint
  EXPECT_EQ(current->recInstId(), uint32_t(before + 2));
}

// ---- record primitives -------------------------------------------------------------------------

TEST_F(TableTest, AddUpdateDeleteKeepEveryIndexInStep) {
  makeTable();
  std::map<int32_t, Row> live;
  struct Step {
    char op;  // a add, u update (new name/code), k update with a new id, d delete
    int32_t id;
    char const* name;
    char const* code;
    int32_t newId;
  };
  std::vector<Step> const steps = {
      {'a', 5, "eve", "e1", 0},  {'a', 3, "bob", "b1", 0},   {'a', 9, "bob", "b2", 0}, {'a', 1, "amy", "a1", 0},
      {'u', 3, "zed", "b1", 0},  {'u', 9, "bob", "zz", 0},   {'k', 5, "eve", "e1", 7}, {'d', 1, "", "", 0},
      {'a', 1, "amy", "a9", 0},  {'d', 9, "", "", 0},        {'u', 7, "ann", "q", 0},
  };
  for (Step const& s : steps) {
    SCOPED_TRACE(std::string(1, s.op) + " " + std::to_string(s.id));
    ++svstore::StorageEnv::timeStamp;
    if (s.op == 'a') {
      int32_t r = add(s.id, s.name, s.code);
      ASSERT_GT(r, 0);
      live[s.id] = {s.name, s.code, r};
    } else if (s.op == 'u' || s.op == 'k') {
      Row& row = live[s.id];
      int32_t nid = s.op == 'k' ? s.newId : s.id;
      image(nid, s.name, s.code);
      int32_t r = current->updateRecNo(nullptr, row.recno, s.op == 'k', nullptr, false, 0);
      ASSERT_GT(r, 0);
      Row moved{s.name, s.code, r};
      live.erase(s.id);
      live[nid] = moved;
    } else {
      ASSERT_EQ(current->delRecordNo(nullptr, live[s.id].recno, nullptr, false), live[s.id].recno);
      live.erase(s.id);
    }
    expectInStep(live);
  }
  EXPECT_EQ(rep->nReg(), int32_t(live.size()));
}

TEST_F(TableTest, ARefusedKeyInTheThirdIndexUndoesTheFirstTwoAndFreesTheSlot) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "same"), 1);
  int32_t last = rep->last();
  int32_t nreg = rep->nReg();
  EXPECT_EQ(add(2, "bob", "same"), -1);
  EXPECT_EQ(Exception::last().code(), DuplicatedKey().code());
  Exception::last(Exception(0));
  EXPECT_EQ(rep->nReg(), nreg);
  expectInStep({{1, {"amy", "same", 1}}});
  // The slot went back to the free list, reused after the next checkpoint.
  EXPECT_EQ(add(2, "bob", "other"), last + 2);
  expectInStep({{1, {"amy", "same", 1}}, {2, {"bob", "other", last + 2}}});
}

TEST_F(TableTest, AnUpdateRefusedByAUniqueIndexLeavesRecordAndIndexes) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  ASSERT_EQ(add(2, "bob", "b"), 2);
  ++svstore::StorageEnv::timeStamp;
  image(2, "bobby", "a");  // code "a" is amy's
  EXPECT_EQ(current->updateRecNo(nullptr, 2, false, nullptr, false, 0), -1);
  Exception::last(Exception(0));
  expectInStep({{1, {"amy", "a", 1}}, {2, {"bob", "b", 2}}});
}

TEST_F(TableTest, ACheckpointedRecordMovesOnceUntilTheNextCheckpoint) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  ASSERT_EQ(add(2, "bob", "b"), 2);
  checkpoint();
  image(1, "amy2", "a");
  int32_t moved = current->updateRecNo(nullptr, 1, false, nullptr, false, 0);
  EXPECT_EQ(moved, 3);
  ++svstore::StorageEnv::timeStamp;
  image(1, "amy3", "a");
  EXPECT_EQ(current->updateRecNo(nullptr, moved, false, nullptr, false, 0), moved);
  expectInStep({{1, {"amy3", "a", 3}}, {2, {"bob", "b", 2}}});
  // The old slot is reused only after the next checkpoint.
  EXPECT_EQ(add(4, "cy", "c"), 4);
}

TEST_F(TableTest, UpdatesAndDeletesAreJournalledOnlyWhenTheyHappen) {
  makeTable();
  journalled();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  ASSERT_EQ(add(2, "bob", "b"), 2);
  EXPECT_EQ(add(3, "cy", "a"), -1);  // refused: nothing journalled
  Exception::last(Exception(0));
  image(1, "amy", "a2");
  ASSERT_EQ(current->updateRecNo(&alice, 1, false, nullptr, false, 0), 1);
  image(5, "bob", "b");
  ASSERT_EQ(current->updateRecNo(&alice, 2, true, nullptr, false, 0), 2);
  ASSERT_EQ(current->delRecordNo(&alice, 1, nullptr, false), 1);
  std::vector<FakeJournal::Entry> want = {{'A', 1, 1}, {'A', 2, 2}, {'U', 1, 1}, {'K', 2, 2}, {'D', 1, 1}};
  EXPECT_EQ(journal.log, want);
}

TEST_F(TableTest, AnOptimisticTransactionRefusesARecordChangedSinceItBegan) {
  makeTable();
  journalled();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  ++svstore::StorageEnv::timeStamp;
  alice.beginTrans(1, 1);  // optimistic, begun after record 1 changed
  ASSERT_TRUE(alice.hasOptimisticTrans());
  ASSERT_EQ(add(2, "bob", "b"), 2);
  image(2, "bob2", "b");
  EXPECT_EQ(current->updateRecNo(&alice, 2, false, nullptr, true, 0), -1);
  EXPECT_EQ(Exception::last().code(), OptTransCorrupt().code());
  Exception::last(Exception(0));
  EXPECT_EQ(current->delRecordNo(&alice, 2, nullptr, true), -1);
  Exception::last(Exception(0));
  EXPECT_EQ(current->delRecordNo(&bob, 2, nullptr, true), 2);  // bob has no transaction
  EXPECT_EQ(current->delRecordNo(&alice, 1, nullptr, true), 1);
  expectInStep({});
}

// ---- deferred deletes ---------------------------------------------------------------------------

TEST_F(TableTest, ADeferredDeleteHidesTheRecordFromItsClientUntilCompleted) {
  makeTable();
  journalled();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  ASSERT_EQ(add(2, "bob", "b"), 2);
  alice.beginTrans(1, 0);
  bool created = false;
  LockObject* lk = current->canWrite(&alice, 1, created);
  ASSERT_NE(lk, nullptr);
  EXPECT_TRUE(created);
  EXPECT_EQ(lk->type, 3);  // exclusive, kept to the transaction's end
  EXPECT_TRUE(current->isDeferrable(lk));
  ASSERT_EQ(current->delRecordNo(&alice, 1, lk, false), 1);
  EXPECT_EQ(rep->nReg(), 2);  // record and keys stay
  EXPECT_EQ(current->deferredDel(&alice, 1), lk);
  EXPECT_TRUE(current->delByMe(&alice, 1));
  EXPECT_EQ(current->deferredDel(&bob, 1), nullptr);  // bob meets the write lock
  EXPECT_EQ(Exception::last().code(), 0);
  EXPECT_FALSE(current->delByMe(&bob, 1));
  image(1, "amy", "a");
  SvIndex* pk = current->index(0);
  pk->buildKey(current->buffer(), 0);
  EXPECT_EQ(pk->findKey(&alice, SvIndex::kExact), -1);
  EXPECT_EQ(pk->findKey(&bob, SvIndex::kExact), 1);
  pk->unLock();
  EXPECT_EQ(current->readThis(&alice), -1);
  EXPECT_EQ(journal.log.back(), (FakeJournal::Entry{'D', 1, 1}));

  // The transaction ends: the lock manager completes the delete.
  current->completeDefDel(&alice, 1);
  EXPECT_EQ(rep->nReg(), 1);
  expectInStep({{2, {"bob", "b", 2}}});
}

TEST_F(TableTest, AddingTheDeletedKeyAgainReplacesTheRecordUnderOneLock) {
  makeTable();
  journalled();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  alice.beginTrans(1, 0);
  bool created = false;
  LockObject* lk = current->canWrite(&alice, 1, created);
  ASSERT_EQ(current->delRecordNo(&alice, 1, lk, false), 1);
  ++svstore::StorageEnv::timeStamp;
  image(1, "amy again", "a");
  LockObject* def = current->deferredDel(&alice, 1);
  ASSERT_EQ(def, lk);
  // Added since the last checkpoint: the slot is reused.
  int32_t r = current->addCurrRecord(&alice, true, false, 1, def, 0);
  EXPECT_EQ(r, 1);
  EXPECT_FALSE(lk->type & LockObject::kDefDel);
  EXPECT_EQ(recordLocks(), 1);
  expectInStep({{1, {"amy again", "a", 1}}}, &alice);

  // After a checkpoint the replacement takes a new slot and the lock moves.
  ASSERT_EQ(current->delRecordNo(&alice, 1, lk, false), 1);
  checkpoint();
  image(1, "amy third", "a3");
  r = current->addCurrRecord(&alice, true, false, 1, current->deferredDel(&alice, 1), 0);
  EXPECT_EQ(r, 2);
  EXPECT_EQ(rep->findLock(1), nullptr);
  EXPECT_EQ(rep->findLock(2), lk);
  EXPECT_EQ(recordLocks(), 1);
  EXPECT_EQ(rep->nReg(), 1);
  expectInStep({{1, {"amy third", "a3", 2}}}, &alice);
}

TEST_F(TableTest, WithoutATransactionOrAJournalNothingIsDeferred) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  bool created = false;
  LockObject* lk = current->canWrite(&alice, 1, created);
  ASSERT_NE(lk, nullptr);
  EXPECT_EQ(lk->type, 1);  // no journal: not kept to the end
  EXPECT_FALSE(current->isDeferrable(lk));
  EXPECT_EQ(current->deferredDel(&alice, 1), nullptr);
  ASSERT_EQ(current->delRecordNo(&alice, 1, lk, false), 1);
  EXPECT_EQ(rep->nReg(), 0);
  svstore::StorageEnv::restarting = true;
  EXPECT_TRUE(current->delByMe(&bob, 1));
  svstore::StorageEnv::restarting = false;
}

TEST_F(TableTest, CanWriteAnswersNullWithLockedForAnotherClientsRecord) {
  makeTable();
  journalled();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  bool created = false;
  ASSERT_NE(current->canWrite(&alice, 1, created), nullptr);
  EXPECT_EQ(current->canWrite(&bob, 1, created), nullptr);
  EXPECT_EQ(Exception::last().code(), Locked().code());
}

// ---- attachments ------------------------------------------------------------------------------

class Taken : public svcatalog::TableObjects {
public:
  void delObject(Client*, SvObject* o) override { delete o; }
  void takeFromClients(SvTable* t) override { taken.push_back(t->vers()); }
  std::vector<int32_t> taken;
};

TEST_F(TableTest, AttachmentsOfOlderVersionsAndTheirLifetime) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  Taken objects;
  TableEnv::objects = &objects;
  SvTable* v3 = new SvTable(rep, 3);
  SvTable* v4 = new SvTable(rep, 4);
  EXPECT_EQ(zftest::str(current->objType()), "SvTable");
  EXPECT_EQ(zftest::str(v3->objType()), "SvTable - version 3");
  EXPECT_EQ(current->objectType(), 32);
  EXPECT_EQ(rep->attachment(3), v3);
  EXPECT_EQ(rep->attachments().front(), v4);  // newest first
  EXPECT_EQ(v3->nIndices(), 3);
  for (int32_t n : {-1, 3, 99})
    EXPECT_EQ(current->index(n), nullptr) << n;

  // Dropping an older attachment leaves the table whole.
  delete v4;
  EXPECT_EQ(rep->attachment(4), nullptr);
  image(42, "", "");
  EXPECT_EQ(current->readThis(nullptr), -1);
  image(1, "", "");
  EXPECT_EQ(current->readThis(nullptr), 1);

  // Modifying requests only on the current version.
  EXPECT_TRUE(current->allowed(&alice, SvTable::kPrivAdd));  // alice owns the schema
  EXPECT_FALSE(v3->allowed(&alice, SvTable::kPrivAdd));
  EXPECT_TRUE(v3->allowed(&alice, SvTable::kPrivRead));
  EXPECT_FALSE(current->allowed(&bob, SvTable::kPrivRead));

  // The current attachment takes the older ones down first.
  int32_t objectsBefore = GServObj::nObjects();
  delete current;
  current = nullptr;
  EXPECT_EQ(objects.taken, std::vector<int32_t>{3});
  EXPECT_EQ(GServObj::nObjects(), objectsBefore - 1 - 1 - 3 - 3);  // two tables, six indexes
  EXPECT_TRUE(schema.tables.empty());
}

TEST_F(TableTest, IndexSlotsAndExtensions) {
  makeTable();
  EXPECT_EQ(zftest::str(rep->getNewIndExt()), "i03");
  SvIndex* byname = current->index(String("byname"));
  ASSERT_NE(byname, nullptr);
  EXPECT_EQ(current->nIndex(byname), 1);
  delete byname;
  EXPECT_EQ(current->index(1), nullptr);
  EXPECT_EQ(rep->nIndices(), 2);
  EXPECT_EQ(current->nIndices(), 2);
  EXPECT_EQ(zftest::str(rep->getNewIndExt()), "i03");
  EXPECT_EQ(current->index(String("bycode")), current->index(2));
  EXPECT_TRUE(rep->belongs(String("_fix.tab")));
  EXPECT_TRUE(rep->belongs(rep->index(2)->phName()));
  EXPECT_FALSE(rep->belongs(String("_other.tab")));
}

// ---- definition changes ---------------------------------------------------------------------------

TEST_F(TableTest, UpdateRecLengthGoesThroughTheCatalogRowWhenThereIsOne) {
  makeTable(0, false);
  int32_t len = rep->length();
  ASSERT_TRUE(current->updateRecLength(nullptr, len + 8));  // no catalog: directly
  EXPECT_EQ(rep->length(), len + 8);
  EXPECT_EQ(current->recordLength(), len + 8 + 20);
  EXPECT_TRUE(schema.rows.empty());
  schema.cls = new SvTabRep(ObjectId(0x123001, 1), "$class", "srv.demo", 0, 0, true);
  ASSERT_TRUE(current->updateRecLength(nullptr, len + 16));
  ASSERT_EQ(schema.rows.size(), 1u);
  EXPECT_EQ(schema.rows[0].recLength, len + 16);
  EXPECT_EQ(zftest::str(schema.rows[0].name), "fix");
  EXPECT_EQ(rep->length(), len + 16);
}

TEST_F(TableTest, AlterEquivalenceWords) {
  makeTable();
  // A second definition of the same fields, each changed as the row says.
  struct Case {
    char const* name;
    int32_t type, len, dec;
    uint32_t want;
  };
  std::vector<Case> const cases = {
      {"id", SvField::INT, 0, 0, SvTabRep::kEqSame | 0},
      {"name", SvField::STRING, 20, 0, SvTabRep::kEqLessLen | 1},
      {"code", SvField::STRING, 4, 0, 2},  // shorter: changed, no message
      {"amount", SvField::NUM, 8, 4, SvTabRep::kEqLessNDec | 3},
      {"born", SvField::INT, 0, 0, SvTabRep::kEqBadType | 4},
      {"extra", SvField::INT, 0, 0, SvTabRep::kEqNoField},
  };
  SvTabRep other(ObjectId(0x123001, 99), "other", "srv.demo", 0, 6, true);
  std::vector<uint32_t> words;
  for (Case const& k : cases) {
    SvField* f = SvField::mkField(&other, 0, String(k.name), String(), nullptr, String(), k.len, k.dec, k.type, -1,
                                  0, 1, nullptr, nullptr, nullptr, ObjectId(), String());
    ASSERT_NE(f, nullptr);
    words.push_back(rep->fieldEquiv(f));
    EXPECT_EQ(words.back(), k.want) << k.name;
  }
  String msgs;
  bool changed = false;
  EXPECT_FALSE(rep->isEquiv(&other, words, false, msgs, changed));  // no primary key on other
  EXPECT_TRUE(changed);
  // One line for each field that grew, changed type or is new.
  std::string lines = zftest::str(msgs);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;
  // The server's catalogue (this process may have started as another program).
  if (zftest::str(appMsg("EQ_LESS_LEN")).find("becomes longer") != std::string::npos) {
    EXPECT_NE(lines.find("Table fix: field name becomes longer.\n"), std::string::npos) << lines;
  }
  rep->isEquiv(&other, words, true, msgs, changed);
  EXPECT_TRUE(msgs.isNull());
  int32_t map[8];
  EXPECT_EQ(rep->alter(nullptr, &other, msgs, false, map), -1);
  EXPECT_EQ(rep->alter(nullptr, &other, msgs, true, map), 0);
}

TEST_F(TableTest, AlterOfTheSameLayoutExchangesIdentitiesAndAdvancesTheCatalogCounter) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  schema.cls = new SvTabRep(&schema, 1, "$class", "_class.tab", "", 64, 0, 0, 0, 0, false);
  ASSERT_TRUE(schema.cls->opened());
  int32_t before = schema.cls->lastRecId();
  // The new definition: the same fields and primary key, another index 1.
  auto* nrep = new SvTabRep(&schema, 30, "fix_new", "_fixnew.tab", "new", 0, 5, 3, 0, 5, false);
  SvTabRep* keep = rep;
  rep = nrep;
  addField(SvField::INT, 0, 0, "id");
  addField(SvField::STRING, 12, 0, "name");
  addField(SvField::STRING, 6, 0, "code");
  addField(SvField::NUM, 8, 2, "amount");
  addField(SvField::DATE, 0, 0, "born");
  nrep->setRecLength(nrep->nextOffset() - nrep->prefixSize());
  SvTable* ncur = new SvTable(nrep, -1);
  std::swap(current, ncur);
  ASSERT_NE(addIndex("pk", 0, {"id"}), nullptr);
  ASSERT_NE(addIndex("bycode", 0, {"code"}), nullptr);
  std::swap(current, ncur);
  rep = keep;
  String oldPk = rep->index(0)->phName();
  String newPk = nrep->index(0)->phName();

  String msgs;
  int32_t map[8];
  ASSERT_EQ(rep->alter(nullptr, nrep, msgs, false, map), 1);
  EXPECT_TRUE(msgs.isNull());
  EXPECT_EQ(std::vector<int32_t>(map, map + 3), (std::vector<int32_t>{1, 2, -1}));
  // The new definition is the table now, under a fresh catalog instance.
  EXPECT_EQ(zftest::str(nrep->name()), "fix");
  EXPECT_EQ(zftest::str(nrep->phName()), "_fix.tab");
  EXPECT_EQ(nrep->instId(), uint32_t(before + 1));
  EXPECT_EQ(schema.cls->lastRecId(), before + 1);
  EXPECT_EQ(zftest::str(rep->name()), "fix_new");
  EXPECT_EQ(rep->instId(), 30u);
  // The primary index files changed hands; the records came along.
  EXPECT_EQ(zftest::str(nrep->index(0)->phName()), zftest::str(oldPk));
  EXPECT_EQ(zftest::str(rep->index(0)->phName()), zftest::str(newPk));
  EXPECT_EQ(nrep->nReg(), 1);
  image(1, "", "");
  std::copy(current->buffer(), current->buffer() + current->recordLength(), ncur->buffer());
  EXPECT_EQ(ncur->readThis(nullptr), 1);
  delete ncur;
}

// ---- statistics ---------------------------------------------------------------------------------

TEST_F(TableTest, TheProfileLineAddsOnlyWhatHappenedSinceTheLastLine) {
  svstore::StorageEnv::profiling_sd = true;
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  current->profile(GServObjStats::kDel);
  current->profile(GServObjStats::kDel);
  rep->get(1);
  String line;
  int64_t hits = 0, tries = 0;
  current->getMethInfo(line, &hits, &tries);
  EXPECT_GT(tries, 0);
  std::string s = zftest::str(line);
  EXPECT_EQ(s.rfind("fix(SvTable)", 50) != std::string::npos, true);
  EXPECT_NE(s.find("------------"), std::string::npos);  // the Add column
  EXPECT_EQ(std::count(s.begin(), s.end(), '\t'), 2 + 8);
  int64_t again = 0;
  current->getMethInfo(line, &again, &again);
  EXPECT_EQ(again, 0);
  svstore::StorageEnv::profiling_sd = false;
}

TEST_F(TableTest, WithoutProfilingTheLineHasOnlyTheName) {
  makeTable(0, false);
  String line;
  current->getMethInfo(line);
  std::string s = zftest::str(line);
  EXPECT_EQ(std::count(s.begin(), s.end(), '\t'), 2);
  EXPECT_EQ(s.back(), '\n');
}

}  // namespace
}  // namespace tabletest

namespace tabletest {
namespace {

TEST_F(TableTest, GetPoolReadsTheHeaderPageSavedForAVersion) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  svstore::StorageEnv::currVersion = 0;
  rep->newVers();
  struct Row {
    int32_t saved, which, want;
  };
  for (Row const r : {Row{0, 0, 0}, Row{0, 119, 0}, Row{0, 120, -1}, Row{5, 0, -1}, Row{122, 0, -1}, Row{-1, 0, -1}})
    EXPECT_EQ(rep->getPool(r.saved, r.which), r.want) << r.saved << " " << r.which;
}

TEST_F(TableTest, AnIndependentKeyChangeKeepsTheOldRecordAsADeferredDelete) {
  makeTable(0, false);
  ASSERT_NE(addIndex("pk", 0, {"id"}), nullptr);
  ASSERT_NE(addIndex("byname", IndFlag::kDup | IndFlag::kIndep, {"name"}), nullptr);
  EXPECT_TRUE(rep->hasIndepKey());
  journalled();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  alice.beginTrans(1, 0);
  bool created = false;
  LockObject* lk = current->canWrite(&alice, 1, created);
  ASSERT_NE(lk, nullptr);
  ++svstore::StorageEnv::timeStamp;
  image(1, "ann", "a");
  int32_t r = current->updateRecNo(&alice, 1, false, lk, false, 0);
  ASSERT_EQ(r, 2);
  EXPECT_TRUE(rep->deferredDel(lk));  // the old record waits for the end
  EXPECT_NE(rep->findLock(2), nullptr);
  EXPECT_EQ(rep->nReg(), 2);
  EXPECT_TRUE(current->delByMe(&alice, 1));
  // The independent index holds both names until the delete completes.
  SvIndex* byname = current->index(1);
  EXPECT_EQ(byname->count(false, nullptr, false, nullptr), 2);
  byname->unLock();
  current->completeDefDel(&alice, 1);
  EXPECT_EQ(rep->nReg(), 1);
  expectInStep({{1, {"ann", "a", 2}}}, &alice);
}

}  // namespace
}  // namespace tabletest

namespace tabletest {
namespace {

TEST_F(TableTest, ANewRecordLengthReachesEveryAttachmentsBuffer) {
  makeTable(0, false);
  SvTable* older = new SvTable(rep, 2);
  int32_t len = rep->length();
  ASSERT_TRUE(current->updateRecLength(nullptr, len + 64));
  // Written whole: a buffer left at the old length overflows (sanitizer).
  std::memset(older->buffer(), 0x5A, size_t(older->recordLength()));
  EXPECT_EQ(older->recordLength(), len + 64 + 20);
}

TEST_F(TableTest, RenameMovesTheDataAndIndexFilesKeepingTheirExtensions) {
  makeTable();
  ASSERT_EQ(add(1, "amy", "a"), 1);
  std::string ext0 = zftest::str(rep->index(0)->phName());
  ext0 = ext0.substr(ext0.find('.'));
  ASSERT_TRUE(rep->rename("_moved"));
  EXPECT_EQ(zftest::str(rep->phName()), "_moved.tab");
  EXPECT_EQ(zftest::str(rep->index(0)->phName()), "_moved" + ext0);
  EXPECT_TRUE((access(tmp.file("_moved.tab").c_str(), F_OK) == 0));
  EXPECT_FALSE((access(tmp.file("_fix.tab").c_str(), F_OK) == 0));
  EXPECT_TRUE((access(tmp.file("_moved" + ext0).c_str(), F_OK) == 0));
  image(1, "", "");
  EXPECT_EQ(current->readThis(nullptr), 1);
}

TEST_F(TableTest, DumpTableListsTheRecordsInPrimaryKeyOrder) {
  makeTable();
  ASSERT_EQ(add(5, "eve", "e"), 1);
  ASSERT_EQ(add(2, "bob", "b"), 2);
  zftest::shown().clear();
  current->dumpTable(nullptr);
  std::vector<std::string> const& lines = zftest::shown();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("Contents of table 'srv.demo.fix'..."), std::string::npos);
  EXPECT_NE(lines[1].find("(2): (2, bob, b"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("(1): (5, eve, e"), std::string::npos) << lines[2];
}

}  // namespace
}  // namespace tabletest
