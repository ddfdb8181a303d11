// Schema and table requests as words on the connection: attaching and
// creating tables with their description, GetTables, record reads in every
// search mode, put, add, field-wise update and delete, waiting for a record
// lock, Clear, and a table of hostile requests each answered with the data
// unchanged.
#include <algorithm>
#include <array>

#include <svcatalog/CatalogTables.h>
#include <svcatalog/LockObject.h>

#include "RequestFixture.h"

namespace requesttest {
namespace {

TEST_F(RequestTest, AttachCreatesATableAndDescribesIt) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  // Create again: the table exists.
  Req again;
  again.w(32).w(0).w(1).s("T").s("").w(0).w(0).w(0);
  EXPECT_EQ(again.run(schema, DBM_ATTACH, &alice), -1);
  // Missing table with create 0 or replace.
  for (int32_t create : {0, 2}) {
    Req r;
    r.w(32).w(0).w(create).s("missing");
    if (create != 0) r.s("").w(0).w(0).w(0);
    EXPECT_EQ(r.run(schema, DBM_ATTACH, &alice), -1);
    EXPECT_EQ(r.error(), 0);
  }
  // Attach with info: the description, field by field, then the indexes.
  Req r;
  r.w(32).w(1).w(0).s("T").w(-1);
  long id = r.run(schema, DBM_ATTACH, &bob);
  ASSERT_EQ(r.error(), 0);
  EXPECT_EQ(uint32_t(id), t->getId());
  EXPECT_EQ(r.str(), "a table");
  EXPECT_EQ(r.word(), int32_t(TabFlag::kIndepKey));  // "byname" is unique without the primary key
  EXPECT_EQ(r.word(), 0);                             // size
  Expr e;
  r.out() >> e;
  EXPECT_TRUE(e.isNull());
  EXPECT_EQ(uint32_t(r.word()), t->tabRep()->memberClassId());
  ASSERT_EQ(r.word(), 3);
  struct F {
    char const* name;
    int32_t type, dim, length, indices;
  } const fields[] = {{"id", SvField::INT, 1, 0, 1}, {"name", SvField::STRING, 1, 10, 2}, {"vals", SvField::INT, 4, 0, 0}};
  for (F const& f : fields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(r.str(), f.name);
    EXPECT_EQ(r.word(), f.type);
    EXPECT_EQ(r.word(), 0);  // SQL type
    r.out() >> e;
    EXPECT_TRUE(e.isNull());
    EXPECT_EQ(r.str(), "");  // mask
    EXPECT_EQ(r.word(), f.dim);
    EXPECT_EQ(r.word(), f.length);
    EXPECT_EQ(r.word(), 0);  // decimals
    EXPECT_EQ(r.word(), f.indices);
    EXPECT_EQ(r.word(), 2);  // no check
    r.out() >> e;
    EXPECT_TRUE(e.isNull());
    EXPECT_EQ(r.str(), "");  // collating set
    ObjectId ref;
    r.out() >> ref;
    EXPECT_EQ(ref, ObjectId());
    EXPECT_EQ(r.str(), "");  // description
    EXPECT_EQ(r.word(), 0);  // flags
  }
  ASSERT_EQ(r.word(), 2);
  for (int32_t n : {0, 1}) {
    EXPECT_EQ(r.word(), n);
    EXPECT_EQ(r.str(), n == 0 ? "pk" : "byname");
    r.word();                 // index flags
    EXPECT_EQ(r.word(), 1);   // parts
    EXPECT_EQ(r.word(), n);   // field number
    r.word();                 // part flags
    EXPECT_EQ(r.word(), 0);   // offset in the field
    EXPECT_EQ(r.word(), n == 0 ? 4 : 10);
  }
  Privilege p;
  r.out() >> p;
  EXPECT_FALSE(r.out().bad());
  EXPECT_EQ(r.left(), 0);
}

// A table made in place of an existing one keeps its instance number, so
// the catalog's references to the table by object id stay valid.
TEST_F(RequestTest, ReplacingAttachKeepsTheInstanceNumber) {
  Req first;
  first.w(32).w(0).w(1).s("T2").s("").w(0).w(0).w(1);
  field(first, "id", SvField::INT, 0, 1);
  long const id = first.run(schema, DBM_ATTACH, &alice);
  ASSERT_GT(id, 0);
  uint32_t const inst = schema->findTabRep(String("T2"))->oid().instId();
  // Another table in between moves the counter on.
  Req other;
  other.w(32).w(0).w(1).s("T3").s("").w(0).w(0).w(1);
  field(other, "id", SvField::INT, 0, 1);
  ASSERT_GT(other.run(schema, DBM_ATTACH, &alice), 0);
  ASSERT_EQ(alice.delObject(GServObj::object(uint32_t(id))->getSvObject()), 0);
  Req rep;
  rep.w(32).w(0).w(1 | 2).s("T2").s("again").w(0).w(0).w(2);
  field(rep, "id", SvField::INT, 0, 1);
  field(rep, "more", SvField::INT, 0, 1);
  ASSERT_GT(rep.run(schema, DBM_ATTACH, &alice), 0);
  ASSERT_EQ(rep.error(), 0);
  SvTabRep* const now = schema->findTabRep(String("T2"));
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(now->nFields(), 2);
  EXPECT_EQ(now->oid().instId(), inst);
  EXPECT_NE(schema->findTabRep(String("T3"))->oid().instId(), inst);
}

TEST_F(RequestTest, GetTablesListsExactlyTheTables) {
  Req empty;
  EXPECT_EQ(empty.run(schema, DBM_GETTABLES, &alice), 0);
  EXPECT_EQ(empty.str(), "");
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  Req two;
  two.w(32).w(0).w(1).s("U").s("").w(0).w(0).w(1);
  field(two, "k", SvField::INT, 0, 1);
  ASSERT_GT(two.run(schema, DBM_ATTACH, &alice), 0);
  Req r;
  EXPECT_EQ(r.run(schema, DBM_GETTABLES, &alice), 2);
  std::string want = "T:" + std::to_string(t->tabRep()->memberClassId()) + "\tU:" +
                     std::to_string(schema->findTabRep(String("U"))->memberClassId());
  EXPECT_EQ(r.str(), want);
}

// Forty records; reads in every search mode give the expected numbers,
// records and keys.
TEST_F(RequestTest, RecordsAreFoundAndReadInEverySearchMode) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  std::map<int32_t, long> recno;
  for (int32_t id = 1; id <= 40; ++id) {
    std::string name = "n" + std::to_string(100 + id);
    recno[id] = add(t, id * 10, name.c_str(), {id, id, id + 1, 0});
    ASSERT_GT(recno[id], 0) << id;
  }
  Req card;
  EXPECT_EQ(card.run(t, DBM_CARDINAL, &alice), 40);

  struct Case {
    int32_t mode, parts, key;
    int32_t want;  // id expected (0: none)
  } const cases[] = {
      {0x80, 0, 200, 20}, {0x80, 0, 205, 0},  {0x100, 0, 200, 21}, {0x180, 0, 205, 21},
      {0x200, 0, 200, 19}, {0x400, 0, 0, 1},  {0x800, 0, 0, 40},   {0x1080, 1, 330, 33},
      {0x100, 0, 400, 0},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.mode);
    Req f;
    f.w(0).w(c.mode).w(c.parts);
    if ((c.mode & 0xC00) == 0) f.w(c.key);
    long got = f.run(t, DBM_FINDRECORD, &alice);
    EXPECT_EQ(f.error(), 0);
    EXPECT_EQ(got, c.want ? recno[c.want] : -1);
    if (c.want) {
      EXPECT_EQ(f.word(), c.want * 10);  // the key found
    }
    EXPECT_EQ(f.left(), 0);

    Req g;
    g.w(0).w(c.mode).w(0).w(0).w(c.parts);
    if ((c.mode & 0xC00) == 0) g.w(c.key);
    got = g.run(t, DBM_GETRECORD, &alice);
    EXPECT_EQ(g.error(), 0);
    EXPECT_EQ(got, c.want ? recno[c.want] : -1);
    if (!c.want) continue;
    g.word();  // instance id
    TimeStamp ts;
    g.out() >> ts;
    EXPECT_EQ(g.word(), c.want * 10);
    EXPECT_EQ(g.str(), "n" + std::to_string(100 + c.want));
    EXPECT_EQ(g.ints(4), (std::vector<int32_t>{c.want, c.want, c.want + 1, 0}));
    EXPECT_EQ(g.left(), 0);
  }
  // By the secondary index.
  Req s;
  s.w(1).w(0x80).w(0).s("n107");
  EXPECT_EQ(s.run(t, DBM_FINDRECORD, &alice), recno[7]);
}

TEST_F(RequestTest, PutUpdateAndDeleteShowInTheNextRead) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  for (int32_t id = 1; id <= 5; ++id) ASSERT_GT(add(t, id, ("r" + std::to_string(id)).c_str()), 0);
  Req test;
  test.w(3).s("other").w(0).w(0).w(0).w(0);
  EXPECT_EQ(test.run(t, DBM_ADDRECORDTEST, &alice), -1);
  EXPECT_EQ(test.error(), 0);

  Req put;
  put.w(2).s("two").w(9).w(9).w(9).w(9);
  EXPECT_GT(put.run(t, DBM_PUTRECORD, &alice), 0);
  Req putNew;
  putNew.w(6).s("six").w(6).w(6).w(6).w(6);
  EXPECT_GT(putNew.run(t, DBM_PUTRECORD, &alice), 0);

  // Field-wise: add 5 to every element, set name, set elements 2..9 of the
  // array (clamped to 2..3), add 1 to id.
  Req up;
  up.w(1).w(3);
  up.w(2).w(SvField::ADD).w(0).w(3).w(5);
  up.w(1).w(SvField::SET) << String("three");
  up.w(2).w(SvField::SET).w(2).w(9).w(-1);
  up.w(-1);
  EXPECT_GT(up.run(t, DBM_UPDATERECORD, &alice), 0);
  EXPECT_EQ(up.error(), 0);

  Req del;
  del.w(4);
  EXPECT_GT(del.run(t, DBM_DELRECORD, &alice), 0);
  Req delAgain;
  delAgain.w(4);
  EXPECT_EQ(delAgain.run(t, DBM_DELRECORD, &alice), -1);

  EXPECT_EQ(dump(t), (std::vector<std::string>{"1 r1 1 2 3 4", "2 two 9 9 9 9", "3 three 6 7 -1 -1",
                                               "5 r5 1 2 3 4", "6 six 6 6 6 6"}));
}

// A record held exclusively makes another client's GetRecord wait without
// a reply; a third client is served; the waiter gets the record when the
// lock is freed. With "do not wait" the conflict answers Locked at once.
TEST_F(RequestTest, AGetRecordWaitsForARecordLock) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  for (int32_t id = 1; id <= 6; ++id) ASSERT_GT(add(t, id, ("r" + std::to_string(id)).c_str()), 0);
  auto get = [&](Client* c, int32_t mode, int32_t wait, Req& g) {
    g.w(0).w(0x80 | mode).w(wait).w(0).w(0).w(5);
    return g.run(t, DBM_GETRECORD, c);
  };
  Req a;
  long rec = get(&alice, 1 | 8, 0, a);
  ASSERT_GT(rec, 0);
  Req b;
  EXPECT_EQ(get(&bob, 1, 7, b), SvTable::kHeld);
  EXPECT_EQ(b.error(), 0);
  EXPECT_EQ(bob.state(), Client::STATE_BLK_LOCK);
  ASSERT_NE(bob.pending(), nullptr);
  EXPECT_FALSE(bob.lockGiveUpTime().isNull());
  Req c;
  EXPECT_EQ(get(&carol, 0, 0, c), rec);  // a plain read is served at once
  Req nowait;
  EXPECT_EQ(get(&carol, 3, 0, nowait), -1);
  EXPECT_EQ(nowait.error(), kExcLocked);

  Req freeIt;
  freeIt.w(0).w(0x80).w(0).w(5);
  freeIt.run(t, DBM_FREERECORD, &alice);
  EXPECT_EQ(bob.state(), Client::STATE_READY);
  EXPECT_EQ(ClientEnv::wakeUpClient(), &bob);
  LoopConnection resumed;
  SvObject::con = &resumed;
  Exception::last(Exception(0));
  EXPECT_TRUE(bob.pending()->resume(&bob));
  SvObject::con = nullptr;
  EXPECT_EQ(resumed.retValue(), rec);
  EXPECT_EQ(Exception::last().code(), 0);
}

TEST_F(RequestTest, ClearAnswersOnceAndNeverKeepsTheTableLock) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  ASSERT_GT(add(t, 1, "one"), 0);
  Req refused;
  EXPECT_EQ(refused.run(t, DBM_CLEAR, &dave), -1);
  EXPECT_EQ(refused.error(), kExcNoPrivilege);
  EXPECT_EQ(refused.left(), 0);
  svcatalog::LockObject* out = nullptr;
  Exception::last(Exception(0));
  EXPECT_TRUE(t->applyTabLock(&bob, 1, 0, true, &out));
  EXPECT_EQ(Exception::last().code(), 0);
  t->tabRep()->freeTabLock(&bob);
  Req ok;
  EXPECT_EQ(ok.run(t, DBM_CLEAR, &alice), 0);
  EXPECT_EQ(ok.error(), 0);
  EXPECT_TRUE(dump(t).empty());
  Req card;
  EXPECT_EQ(card.run(t, DBM_CARDINAL, &alice), 0);
}

// An optimistic transaction whose record changed since it began: the
// refused delete reaches the client as the abort of its transaction.
TEST_F(RequestTest, AnOptimisticDeleteRefusalAbortsTheTransaction) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  bob.beginTrans(1, 1);
  ++svstore::StorageEnv::timeStamp;
  ASSERT_GT(add(t, 1, "one"), 0);
  Req del;
  del.w(1);
  EXPECT_EQ(del.run(t, DBM_DELRECORD, &bob), -1);
  EXPECT_EQ(del.error(), kExcOptTransCorrupt);
  EXPECT_TRUE(bob.transAborted());
  EXPECT_EQ(dump(t).size(), 1u);
}

// A refused add gives back only an instance id taken from the counter.
TEST_F(RequestTest, ARefusedAddWithAGivenIdKeepsTheCounter) {
  Req r;
  r.w(32).w(0).w(1).s("O").s("").w(0).w(0).w(2);
  field(r, "k", SvField::INT, 0, 1);
  field(r, "name", SvField::STRING, 8, 1);
  long id = r.run(schema, DBM_ATTACH, &alice);
  ASSERT_GT(id, 0);
  SvTable* t = GServObj::object(uint32_t(id))->getSvObject()->getTable();
  Req pk;
  pk.s("pk").w(0).w(2).w(-1).w(0).w(0).w(0).w(0).w(0).w(0).w(0);
  ASSERT_EQ(pk.run(t, DBM_CREATE, &alice), 0);
  ASSERT_TRUE(t->hasIdInPKey());
  ASSERT_EQ(index(t, "byname", 0, {1}), 1);
  auto addId = [&](int32_t inst, int32_t k, char const* name) {
    Req a;
    a.w(1).w(inst).w(k).s(name);
    return a.run(t, DBM_ADDRECORD, &alice);
  };
  ASSERT_GT(addId(0, 1, "a"), 0);
  uint32_t first = t->tabRep()->lastRecId();
  EXPECT_EQ(addId(int32_t(first), 2, "a"), -1);  // unique name refused
  EXPECT_EQ(uint32_t(t->tabRep()->lastRecId()), first);
  ASSERT_GT(addId(0, 3, "b"), 0);
  EXPECT_EQ(uint32_t(t->tabRep()->lastRecId()), first + 1);
}

// Replace and Alter never destroy a table that someone else holds.
TEST_F(RequestTest, ReplaceAndAlterAnswerBeingUsedWhileOthersHoldTheTable) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  Req r;
  r.w(32).w(0).w(1).s("T2").s("").w(0).w(0).w(1);
  field(r, "id", SvField::INT, 0, 1);
  long other = r.run(schema, DBM_ATTACH, &alice);
  ASSERT_GT(other, 0);
  Req b;
  b.w(32).w(0).w(0).s("T2").w(-1);
  ASSERT_EQ(b.run(schema, DBM_ATTACH, &bob), other);
  Req rep;
  rep.w(int32_t(other));
  EXPECT_EQ(rep.run(t, DBM_REPLACE, &alice), -1);
  EXPECT_EQ(rep.error(), kExcBeingUsed);
  Req alt;
  alt.w(int32_t(other)).w(1);
  EXPECT_EQ(alt.run(t, DBM_ALTER, &alice), -1);
  EXPECT_EQ(alt.error(), kExcBeingUsed);
  EXPECT_NE(schema->findTabRep(String("T2")), nullptr);
  // Once bob lets go, Replace takes the name.
  ASSERT_EQ(bob.delObject(GServObj::object(uint32_t(other))->getSvObject()), 0);
  Req again;
  again.w(int32_t(other));
  EXPECT_EQ(again.run(t, DBM_REPLACE, &alice), 0);
  EXPECT_EQ(again.error(), 0);
  EXPECT_EQ(zftest::str(t->name()), "T2");
}

// Each hostile request gets its answer and leaves the data as it was.
TEST_F(RequestTest, HostileNumbersAreAnsweredAndChangeNothing) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  for (int32_t id = 1; id <= 4; ++id) ASSERT_GT(add(t, id, ("r" + std::to_string(id)).c_str()), 0);
  std::vector<std::string> const before = dump(t);
  int32_t const slots = t->nIndexSlots();
  uint32_t const self = t->getId();

  struct Case {
    char const* what;
    GServObj* target;
    int32_t msg;
    std::function<void(Req&)> words;
    long result;
    int32_t error;
  };
  std::string longText(40, 'x');
  std::vector<Case> const cases = {
      {"find: index 7", t, DBM_FINDRECORD, [](Req& r) { r.w(7).w(0x80).w(0).w(1); }, -1, kExcInvalidIndexNum},
      {"find: index -1", t, DBM_FINDRECORD, [](Req& r) { r.w(-1).w(0x400).w(0); }, -1, kExcInvalidIndexNum},
      {"find: part count 0", t, DBM_FINDRECORD, [](Req& r) { r.w(0).w(0x1080).w(0).w(1); }, -1, kExcInvalidData},
      {"find: part count 9", t, DBM_FINDRECORD, [](Req& r) { r.w(0).w(0x1080).w(9).w(1); }, -1, kExcInvalidData},
      {"get: index 5", t, DBM_GETRECORD, [](Req& r) { r.w(5).w(0x80).w(0).w(0).w(0).w(1); }, -1,
       kExcInvalidIndexNum},
      {"free record: index 99", t, DBM_FREERECORD, [](Req& r) { r.w(99).w(0x80).w(0).w(1); }, -1,
       kExcInvalidIndexNum},
      {"update: field 9", t, DBM_UPDATERECORD, [](Req& r) { r.w(1).w(1).w(9).w(4).w(5).w(-1); }, -1,
       kExcInvalidData},
      {"update: field -5", t, DBM_UPDATERECORD, [](Req& r) { r.w(1).w(1).w(-5).w(4).w(5).w(-1); }, -1,
       kExcInvalidData},
      {"update: first above last", t, DBM_UPDATERECORD,
       [](Req& r) { r.w(1).w(1).w(0).w(0).w(5).w(2).w(3).w(7).w(-1); }, -1, kExcInvalidData},
      {"update: code 6", t, DBM_UPDATERECORD, [](Req& r) { r.w(1).w(1).w(0).w(6).w(5).w(-1); }, -1,
       kExcInvalidData},
      {"update: code -1", t, DBM_UPDATERECORD, [](Req& r) { r.w(1).w(1).w(0).w(-1).w(5).w(-1); }, -1,
       kExcInvalidData},
      {"update: copy from field 30", t, DBM_UPDATERECORD, [](Req& r) { r.w(1).w(1).w(0).w(5).w(30).w(-1); },
       -1, kExcInvalidData},
      {"update: a good item before a bad one", t, DBM_UPDATERECORD,
       [](Req& r) { r.w(1).w(1).w(2).w(4).w(0).w(3).w(50).w(0).w(6).w(1).w(-1); }, -1, kExcInvalidData},
      {"update mode 0: record 0", t, DBM_UPDATERECORD,
       [](Req& r) { r.w(0).w(0).w(9).s("z").w(1).w(1).w(1).w(1); }, -1, kExcInvalidData},
      {"update mode 0: record -3", t, DBM_UPDATERECORD,
       [](Req& r) { r.w(0).w(-3).w(9).s("z").w(1).w(1).w(1).w(1); }, -1, kExcInvalidData},
      {"update mode 0: record 1000", t, DBM_UPDATERECORD,
       [](Req& r) { r.w(0).w(1000).w(9).s("z").w(1).w(1).w(1).w(1); }, -1, kExcInvalidData},
      {"add: text longer than its field", t, DBM_ADDRECORD,
       [&](Req& r) { r.w(1).w(9) << String(longText.c_str()); r.w(1).w(1).w(1).w(1); }, -1, kExcInvalidData},
      {"put: text longer than its field", t, DBM_PUTRECORD,
       [&](Req& r) { r.w(1) << String(longText.c_str()); r.w(1).w(1).w(1).w(1); }, -1, kExcInvalidData},
      {"ins key: index 9", t, DBM_INSKEY, [](Req& r) { r.w(9).w(1).w(1); }, -1, kExcInvalidIndexNum},
      {"ins key: record -1", t, DBM_INSKEY, [](Req& r) { r.w(0).w(77).w(-1); }, -1, kExcInvalidData},
      {"ins key: record 500", t, DBM_INSKEY, [](Req& r) { r.w(0).w(77).w(500); }, -1, kExcInvalidData},
      {"create: field 50", t, DBM_CREATE, [](Req& r) { r.s("bad").w(0).w(2).w(0).w(0).w(0).w(0).w(50).w(0).w(0).w(0); },
       -1, kExcInvalidData},
      {"create: 100000 parts", t, DBM_CREATE, [](Req& r) { r.s("bad").w(0).w(100000); }, -1, kExcInvalidData},
      {"drop: index 40", t, DBM_DROP, [](Req& r) { r.w(40); }, -1, kExcInvalidIndexNum},
      {"set attrib: table with other bits", t, DBM_SETATTRIB, [](Req& r) { r.w(-1).w(0x11).w(2) << Expr(); }, -1,
       kExcInvalidData},
      {"set attrib: bad check kind", t, DBM_SETATTRIB, [](Req& r) { r.w(0).w(1).w(7); }, -1, kExcInvalidData},
      {"alter: no object", t, DBM_ALTER, [](Req& r) { r.w(0x12345).w(1); }, -1, kExcInvalidObjectId},
      {"alter: itself", t, DBM_ALTER, [&](Req& r) { r.w(int32_t(self)).w(1); }, -1, 0},
      {"alter: the schema", t, DBM_ALTER, [&](Req& r) { r.w(int32_t(schema->getId())).w(1); }, -1,
       kExcInvalidObjectId},
      {"copy: no object", t, DBM_COPY, [](Req& r) { r.w(-7); }, -1, kExcInvalidObjectId},
      {"replace: itself", t, DBM_REPLACE, [&](Req& r) { r.w(int32_t(self)); }, -1, kExcInvalidObjectId},
      {"replace: the schema", t, DBM_REPLACE, [&](Req& r) { r.w(int32_t(schema->getId())); }, -1,
       kExcInvalidObjectId},
      {"attach: kind 5", schema, DBM_ATTACH, [](Req& r) { r.w(5).w(0); }, -1, 0},
      {"set privg: unknown code", schema, DBM_SETPRIVG, [](Req& r) { r.w(9).w(4).w(3).w(0); }, -1, 0},
      {"drop: kind 3", schema, DBM_DROP, [](Req& r) { r.w(3); }, -1, 0},
      {"cursor: index 8", schema, DBM_ATTACH, [&](Req& r) { r.w(64).w(0).w(0).w(int32_t(self)).w(8).w(0); }, -1,
       kExcInvalidIndexNum},
      {"cursor: no table", schema, DBM_ATTACH, [](Req& r) { r.w(64).w(0).w(0).w(99).w(0).w(0); }, -1,
       kExcInvalidTable},
      {"request cut short", t, DBM_GETRECORD, [](Req& r) { r.w(0); }, -1, kExcInvalidData},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    Req r;
    c.words(r);
    EXPECT_EQ(r.run(c.target, c.msg, &alice), c.result);
    EXPECT_EQ(r.error(), c.error);
    EXPECT_EQ(dump(t), before);
    EXPECT_EQ(t->nIndexSlots(), slots);
    EXPECT_EQ(t->nFields(), 3);
    Req card;
    EXPECT_EQ(card.run(t, DBM_CARDINAL, &alice), 4);
  }
  EXPECT_EQ(schema->findTabRep(String("T")), t->tabRep());
  EXPECT_EQ(schema->getOwnerId(), 7);  // the payload after the unknown code was not run as code 4
}

// The catalog tables change only through structure requests: a client's
// record change there is refused, even for user 0, and no row changes.
TEST_F(RequestTest, ClientRecordChangesOnCatalogTablesAreRefused) {
  ASSERT_NE(makeTable(), nullptr);
  SvTable* cat = schema->tableStruct();
  ASSERT_NE(cat, nullptr);
  Req card;
  long const rows = card.run(cat, DBM_CARDINAL, &alice);
  ASSERT_GT(rows, 0);
  Req clear;
  EXPECT_EQ(clear.run(cat, DBM_CLEAR, &alice), -1);
  EXPECT_EQ(clear.error(), kExcNoPrivilege);
  Req up;
  up.w(1).s("T").w(-1);
  EXPECT_EQ(up.run(cat, DBM_UPDATERECORD, &alice), -1);
  EXPECT_EQ(up.error(), kExcNoPrivilege);
  Req ix;
  ix.s("x").w(0).w(1).w(0).w(0).w(0).w(0);
  EXPECT_EQ(ix.run(cat, DBM_CREATE, &alice), -1);
  EXPECT_EQ(ix.error(), kExcNoPrivilege);
  Req again;
  EXPECT_EQ(again.run(cat, DBM_CARDINAL, &alice), rows);
  EXPECT_NE(schema->findTabRep(String("T")), nullptr);
}

// Record requests check the table privileges of the client's user; a
// refused void request reaches the client as its transaction's abort.
TEST_F(RequestTest, RecordRequestsWithoutPrivilegeAbortTheTransaction) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  ASSERT_GT(add(t, 1, "one"), 0);
  dave.beginTrans(1, 0);
  EXPECT_EQ(add(t, 2, "two", {1, 2, 3, 4}, &dave), -1);
  EXPECT_EQ(Exception::last().code(), kExcNoPrivilege);
  EXPECT_TRUE(dave.transAborted());
  Req get;
  get.w(0).w(0x400).w(0).w(0).w(0);
  EXPECT_EQ(get.run(t, DBM_GETRECORD, &dave), -1);
  EXPECT_EQ(get.error(), kExcNoPrivilege);
  EXPECT_EQ(dump(t).size(), 1u);
}

// A record lock names a record: record 0 (the table) or a negative number
// is refused; a table lock never moves to a record.
TEST_F(RequestTest, RecordLocksNeedARecordNumber) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  ASSERT_GT(add(t, 1, "one"), 0);
  for (int32_t rec : {0, -1, int32_t(0x80000000u)}) {
    SCOPED_TRACE(rec);
    Exception::last(Exception(0));
    svcatalog::LockObject* out = nullptr;
    bool created = false;
    EXPECT_TRUE(t->applyLock(&alice, rec, 1, 0, true, &out, created));
    EXPECT_EQ(Exception::last().code(), kExcInvalidData);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(alice.lockCount(), 0);
  }
  Exception::last(Exception(0));
  svcatalog::LockObject* tab = nullptr;
  ASSERT_TRUE(t->applyTabLock(&alice, 1, 0, true, &tab));
  ASSERT_NE(tab, nullptr);
  t->tabRep()->changeLock(tab, 1);
  EXPECT_EQ(tab->record, 0);
  EXPECT_EQ(t->findLock(0), tab);
  t->tabRep()->freeTabLock(&alice);
}

// Table creations that no field class takes, or with too many fields, make
// no table.
TEST_F(RequestTest, RefusedTableCreationsMakeNoTable) {
  struct Case {
    char const* what;
    int32_t nFields;
    int32_t type;
    int32_t length;
  } const cases[] = {{"type 6", 1, 6, 0}, {"type 77", 1, 77, 0}, {"string of -4", 1, SvField::STRING, -4},
                     {"256 fields", 256, SvField::INT, 0}, {"negative count", -1, SvField::INT, 0}};
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    Req r;
    r.w(32).w(0).w(1).s("X").s("").w(0).w(0).w(c.nFields);
    for (int32_t i = 0; i < c.nFields; ++i) field(r, ("f" + std::to_string(i)).c_str(), c.type, c.length, 1);
    EXPECT_EQ(r.run(schema, DBM_ATTACH, &alice), -1);
    EXPECT_NE(r.error(), 0);
    EXPECT_EQ(schema->findTabRep(String("X")), nullptr);
  }
  Req ok;
  ok.w(32).w(0).w(1).s("X").s("").w(0).w(0).w(255);
  for (int32_t i = 0; i < 255; ++i) field(ok, ("f" + std::to_string(i)).c_str(), SvField::INT, 0, 1);
  EXPECT_GT(ok.run(schema, DBM_ATTACH, &alice), 0);
  EXPECT_EQ(ok.error(), 0);
}

// SetPrivg: an unknown table warns and the sequence goes on; the result is
// -1 when any operation failed. An owner change by someone else is refused.
TEST_F(RequestTest, SetPrivgRunsItsSequence) {
  Privilege list;
  Req r;
  r.w(2).s("nosuch") << list;
  r.w(1) << list;
  r.w(4).w(12).w(0);
  EXPECT_EQ(r.run(schema, DBM_SETPRIVG, &alice), -1);
  EXPECT_EQ(schema->getOwnerId(), 12);
  EXPECT_NE(std::find(zftest::shown().begin(), zftest::shown().end(), "Could not find table nosuch"),
            zftest::shown().end());
  Req other;
  other.w(4).w(3).w(0);
  EXPECT_EQ(other.run(schema, DBM_SETPRIVG, &dave), -1);
  EXPECT_EQ(schema->getOwnerId(), 12);
}

TEST_F(RequestTest, DropOfATableHeldByTwoClientsIsRefusedEvenWithForce) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  Req b;
  b.w(32).w(0).w(0).s("T").w(-1);
  ASSERT_GT(b.run(schema, DBM_ATTACH, &bob), 0);
  Req d;
  d.w(32).w(1).s("T");
  EXPECT_EQ(d.run(schema, DBM_DROP, &alice), -1);
  EXPECT_EQ(d.error(), kExcBeingUsed);
  bob.delObject(t);
  Req noForce;
  noForce.w(32).w(0).s("T");
  EXPECT_EQ(noForce.run(schema, DBM_DROP, &alice), -1);
  EXPECT_EQ(noForce.error(), kExcBeingUsed);
  Req force;
  force.w(32).w(1).s("T");
  EXPECT_EQ(force.run(schema, DBM_DROP, &alice), 0);
  EXPECT_EQ(schema->findTabRep(String("T")), nullptr);
}

}  // namespace
}  // namespace requesttest

namespace requesttest {
namespace {

// Index Create: independence, range parts brought into the field, an
// existing name, the schema's privileges; Drop while another client holds
// the table.
TEST_F(RequestTest, IndexCreateAndDrop) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  auto create = [&](Client* c, char const* name, int32_t flags, std::vector<std::array<int32_t, 4>> parts, Req& r) {
    r.s(name).w(flags).w(int32_t(parts.size()));
    for (auto const& p : parts) r.w(p[0]).w(p[1]).w(p[2]).w(p[3]);
    return r.run(t, DBM_CREATE, c);
  };
  Req both;
  long n = create(&alice, "both", 0, {{1, 0, 0, 0}, {0, 0, 0, 0}}, both);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(t->index(2)->flags() & IndFlag::kIndep, 0u);
  EXPECT_NE(t->index(1)->flags() & IndFlag::kIndep, 0u);
  Req range;
  n = create(&alice, "range", IndFlag::kDup, {{1, 0, 30, 4}, {1, 0, 3, 0}}, range);
  ASSERT_EQ(n, 3);
  SvIndRep* r = t->index(3)->indRep();
  EXPECT_EQ(r->iField(0)->tableOffset() - t->field(1)->tableOffset(), 0);
  EXPECT_EQ(r->iField(0)->length(), 4);
  EXPECT_EQ(r->iField(1)->tableOffset() - t->field(1)->tableOffset(), 3);
  EXPECT_EQ(r->iField(1)->length(), 7);
  Req exists;
  EXPECT_EQ(create(&alice, "range", 0, {{0, 0, 0, 0}}, exists), -1);
  EXPECT_EQ(exists.error(), 0);
  Req named, temp;
  EXPECT_EQ(create(&dave, "mine", 0, {{0, 0, 0, 0}}, named), -1);
  EXPECT_EQ(named.error(), kExcNoPrivilege);
  EXPECT_EQ(create(&dave, "", 0, {{0, 0, 0, 0}}, temp), -1);
  EXPECT_EQ(temp.error(), kExcNoPrivilege);

  Req attach;
  attach.w(32).w(0).w(0).s("T").w(-1);
  ASSERT_GT(attach.run(schema, DBM_ATTACH, &bob), 0);
  Req busy;
  busy.w(3);
  EXPECT_EQ(busy.run(t, DBM_DROP, &alice), -1);
  EXPECT_EQ(busy.error(), kExcBeingUsed);
  EXPECT_NE(t->index(3), nullptr);
  bob.delObject(t);
  Req drop;
  drop.w(3);
  EXPECT_EQ(drop.run(t, DBM_DROP, &alice), 0);
  EXPECT_EQ(t->index(3), nullptr);
}

}  // namespace
}  // namespace requesttest

namespace requesttest {
namespace {

// Alter to a structure with one more field: the records must be copied
// (0); an alter into another schema's table or a non-table is refused.
TEST_F(RequestTest, AlterToOneMoreFieldAnswersZero) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  ASSERT_GT(add(t, 1, "one"), 0);
  Req r;
  r.w(32).w(0).w(1).s("T2").s("").w(0).w(0).w(4);
  field(r, "id", SvField::INT, 0, 1);
  field(r, "name", SvField::STRING, 10, 1);
  field(r, "vals", SvField::INT, 0, 4);
  field(r, "extra", SvField::INT, 0, 1);
  long other = r.run(schema, DBM_ATTACH, &alice);
  ASSERT_GT(other, 0);
  SvTable* t2 = GServObj::object(uint32_t(other))->getSvObject()->getTable();
  ASSERT_EQ(index(t2, "pk", 0, {0}), 0);
  ASSERT_EQ(index(t2, "byname", 0, {1}), 1);
  Req alt;
  alt.w(int32_t(other)).w(1);
  EXPECT_EQ(alt.run(t, DBM_ALTER, &alice), 0);
  EXPECT_EQ(alt.error(), 0);
  EXPECT_EQ(dump(t).size(), 1u);
  EXPECT_NE(schema->findTabRep(String("T2")), nullptr);
}

}  // namespace
}  // namespace requesttest

namespace requesttest {
namespace {

// Rename, GetInfo, Detach and the schema's Lock and Free.
TEST_F(RequestTest, RenameGetInfoDetachAndSchemaLocks) {
  SvTable* t = makeTable();
  ASSERT_NE(t, nullptr);
  Req b;
  b.w(32).w(0).w(0).s("T").w(-1);
  ASSERT_GT(b.run(schema, DBM_ATTACH, &bob), 0);
  Req busy;
  busy.s("U");
  EXPECT_EQ(busy.run(t, DBM_RENAME, &alice), -1);
  EXPECT_EQ(busy.error(), kExcBeingUsed);
  Req detach;
  detach.w(int32_t(t->getId()));
  EXPECT_EQ(detach.run(t, DBM_DETACH, &bob), 0);
  Req again;
  again.w(int32_t(t->getId()));
  EXPECT_EQ(again.run(t, DBM_DETACH, &bob), -1);  // bob holds it no more
  Req ren;
  ren.s("U");
  EXPECT_EQ(ren.run(t, DBM_RENAME, &alice), 0);
  EXPECT_EQ(zftest::str(t->name()), "U");
  EXPECT_EQ(schema->findTabRep(String("T")), nullptr);

  Req info;
  info.w(32);
  EXPECT_EQ(info.run(t, DBM_GETINFO, &alice), 0);
  TimeStamp ts;
  info.out() >> ts;
  EXPECT_FALSE(info.out().bad());
  Req other;
  other.w(16);
  EXPECT_EQ(other.run(t, DBM_GETINFO, &alice), -1);

  Req lockA, lockB, freeB, freeA, lockB2;
  EXPECT_EQ(lockA.run(schema, DBM_LOCK, &alice), 0);
  EXPECT_EQ(lockB.run(schema, DBM_LOCK, &bob), -1);
  EXPECT_EQ(freeB.run(schema, DBM_FREE, &bob), -1);
  EXPECT_EQ(freeA.run(schema, DBM_FREE, &alice), 0);
  EXPECT_EQ(lockB2.run(schema, DBM_LOCK, &bob), 0);
  schema->unlock();
}

}  // namespace
}  // namespace requesttest
