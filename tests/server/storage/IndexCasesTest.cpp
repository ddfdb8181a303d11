// Index cases: node edge cases as one table, key layout and comparison,
// maintenance with every undo as one table, verification reports, and a
// fixture that damages named header and node fields of a real index file.
#include "IndexFixture.h"

#include "ChildRun.h"

#include <zfound/LoopConnection.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace storagetest {
namespace {

// A key of 246 bytes leaves 4 slots in a node of a 1 KB page, so small
// loads exercise splits, joins and depth changes. Its value is the first
// four bytes.
constexpr int32_t kWide = 246;

class IndexCases : public IndexTest {
public:
  SvIndex* wideIndex(FakeTable& t) {
    return makeIndex(t, "wide", 0, {{&wideF, 0, -1, 0}});
  }
  static std::vector<char> wideRec(int32_t v) {
    std::vector<char> r(size_t(20 + kWide), 0);
    stlong(v, r.data() + 20);
    return r;
  }
  static bool addWide(SvIndex* ix, FakeTable& t, int32_t v) {
    std::vector<char> r = wideRec(v);
    ix->buildKey(r.data(), v);
    t.lastRec = std::max(t.lastRec, v);
    ++t.nRecs;
    return ix->addKey(nullptr, v, true);
  }
  static bool delWide(SvIndex* ix, FakeTable& t, int32_t v) {
    std::vector<char> r = wideRec(v);
    ix->buildKey(r.data(), v);
    --t.nRecs;
    return ix->delKey(v);
  }
  // Count and first-key value of root slot i.
  static std::pair<int32_t, int32_t> rootSlot(SvIndex* ix, int32_t i) {
    RootNode* r = ix->root();
    r->get();
    char* s = r->slotAt(i);
    return {ldushort(s + r->sLen() - 6), ldlong(s)};
  }
  static int32_t rootChild(SvIndex* ix, int32_t i) {
    RootNode* r = ix->root();
    r->get();
    return ldlong(r->slotAt(i) + r->sLen() - 4);
  }

  FakeField wideF{"wide", 20, kWide, false};
};

// ---- node edge cases --------------------------------------------------------

TEST_F(IndexCases, NodeEdgeCases) {
  struct Case {
    char const* name;
    void (*run)(IndexCases& f);
  };
  static Case const cases[] = {
      {"first key makes one leaf and a root of one slot",
       [](IndexCases& f) {
         FakeTable& t = f.table();
         SvIndex* ix = f.wideIndex(t);
         ASSERT_TRUE(addWide(ix, t, 7));
         EXPECT_EQ(ix->nKeys(), 1);
         EXPECT_EQ(ix->depth(), 2);
         EXPECT_EQ(ix->indRep()->last(), 1);
         EXPECT_EQ(ix->root()->slotsPerNode(), 4);
         EXPECT_EQ(rootSlot(ix, 0), std::make_pair(1, 7));
       }},
      {"a split at the end moves one slot",
       [](IndexCases& f) {
         FakeTable& t = f.table();
         SvIndex* ix = f.wideIndex(t);
         for (int32_t v : {10, 20, 30, 40, 50})
           ASSERT_TRUE(addWide(ix, t, v));
         ASSERT_EQ(ix->nKeys(), 2);
         EXPECT_EQ(rootSlot(ix, 0), std::make_pair(3, 10));
         EXPECT_EQ(rootSlot(ix, 1), std::make_pair(2, 40));
       }},
      {"a split in the middle moves half",
       [](IndexCases& f) {
         FakeTable& t = f.table();
         SvIndex* ix = f.wideIndex(t);
         for (int32_t v : {10, 20, 30, 40, 15})
           ASSERT_TRUE(addWide(ix, t, v));
         ASSERT_EQ(ix->nKeys(), 2);
         EXPECT_EQ(rootSlot(ix, 0), std::make_pair(3, 10));
         EXPECT_EQ(rootSlot(ix, 1), std::make_pair(2, 30));
       }},
      {"16 x spn + 1 root slots give depth 3 with 16 full nodes, and back",
       [](IndexCases& f) {
         FakeTable& t = f.table();
         SvIndex* ix = f.wideIndex(t);
         int32_t v = 0;
         while (ix->depth() == 2) {
           ASSERT_TRUE(addWide(ix, t, ++v));
           ASSERT_LE(ix->nKeys(), 64);
         }
         // The root grew a level of 16 full nodes; the insertion that
         // needed the 65th slot then split the last of them.
         EXPECT_EQ(ix->depth(), 3);
         ASSERT_EQ(ix->nKeys(), 17);
         for (int32_t i = 0; i < 15; ++i)
           EXPECT_EQ(rootSlot(ix, i).first, 4) << i;
         EXPECT_EQ(rootSlot(ix, 15).first + rootSlot(ix, 16).first, 5);
         EXPECT_TRUE(ix->verify(true));
         std::vector<int32_t> all = walk(ix);
         EXPECT_EQ(int32_t(all.size()), v);
         while (ix->depth() == 3 && v > 0)
           ASSERT_TRUE(delWide(ix, t, v--));
         EXPECT_EQ(ix->depth(), 2);
         EXPECT_LE(ix->nKeys(), 64);
         EXPECT_TRUE(ix->verify(true));
         EXPECT_EQ(int32_t(walk(ix).size()), v);
       }},
      {"a count over whole leaves reads only the two boundary leaves",
       [](IndexCases& f) {
         FakeTable& t = f.table();
         SvIndex* ix = f.wideIndex(t);
         for (int32_t v = 1; v <= 40; ++v)
           ASSERT_TRUE(addWide(ix, t, v));
         ASSERT_EQ(ix->depth(), 2);
         ASSERT_GE(ix->nKeys(), 10);
         std::vector<char> lo = wideRec(5), hi = wideRec(35);
         ix->unLock();
         int64_t before = ix->indRep()->nObjTries();
         EXPECT_EQ(ix->count(true, lo.data() + 20, true, hi.data() + 20), 31);
         EXPECT_EQ(ix->indRep()->nObjTries() - before, 2);
         EXPECT_EQ(ix->count(false, lo.data() + 20, false, hi.data() + 20), 29);
       }},
      {"a checkpointed node is copied, its old record freed",
       [](IndexCases& f) {
         FakeTable& t = f.table();
         SvIndex* ix = f.wideIndex(t);
         for (int32_t v : {10, 20, 30})
           ASSERT_TRUE(addWide(ix, t, v));
         int32_t leaf = rootChild(ix, 0);
         indexCheckpoint();
         ++StorageEnv::timeStamp;
         ASSERT_TRUE(addWide(ix, t, 25));
         EXPECT_NE(rootChild(ix, 0), leaf);
         EXPECT_EQ(ix->indRep()->oFree(), leaf);
         EXPECT_EQ(walk(ix), (std::vector<int32_t>{10, 20, 25, 30}));
         // A node made after the checkpoint changes in place.
         int32_t now = rootChild(ix, 0);
         ASSERT_TRUE(addWide(ix, t, 27));
         EXPECT_EQ(rootChild(ix, 0), now);
       }},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    c.run(*this);
    closeAll();
  }
}

TEST_F(IndexCases, RootLoadedSmallAtDepthThreeKeepsItsSlots) {
  FakeTable& t = table();
  SvIndex* ix = wideIndex(t);
  int32_t v = 0;
  while (ix->depth() == 2)
    ASSERT_TRUE(addWide(ix, t, ++v));
  indexCheckpoint();
  std::vector<std::string> before = tree(ix);
  String file = ix->indRep()->phName();
  closeAll();
  FakeTable& t2 = table();
  t2.lastRec = t2.nRecs = v;
  SvIndRep* rep = new SvIndRep(&t2, 0, "wide", file, kWide, 1, 0, nullptr);
  SvIndFld::consIndField(nullptr, rep, 0, &wideF, 0, -1, 0);
  SvIndex* again = new SvIndex(rep, &t2, -1);
  EXPECT_EQ(again->depth(), 3);
  EXPECT_EQ(tree(again), before);
  EXPECT_EQ(int32_t(walk(again).size()), v);
  ASSERT_TRUE(delWide(again, t2, v));
  EXPECT_EQ(again->depth(), 2);
  EXPECT_EQ(int32_t(walk(again).size()), v - 1);
  EXPECT_TRUE(again->verify(true));
}

// ---- keys -------------------------------------------------------------------

TEST_F(IndexCases, KeysCompareAndRender) {
  FakeTable& t = table();
  SvIndex* desc = makeIndex(t, "desc", 0, {{&intF, IndFldFlag::kDescending, -1, 0}, {&textF, 0, -1, 0}});
  SvIndex* dup = makeIndex(t, "dup", IndFlag::kDup, {{&intF, 0, -1, 0}, {&textF, 0, -1, 0}});
  ASSERT_TRUE(desc && dup);
  EXPECT_TRUE(desc->hasDescending());
  SvIndRep* d = desc->indRep();
  std::vector<char> a = record(1, 5, "b"), b = record(2, 9, "a");
  desc->buildKey(a.data(), 1);
  std::string ka(desc->getKey(), 16);
  desc->buildKey(b.data(), 2);
  std::string kb(desc->getKey(), 16);
  EXPECT_GT(d->cmpKeys(ka.data(), kb.data(), 0), 0);  // greater first byte sorts first
  std::vector<char> c = record(3, 5, "c");
  desc->buildKey(c.data(), 3);
  std::string kc(desc->getKey(), 16);
  EXPECT_LT(d->cmpKeys(ka.data(), kc.data(), 0), 0);  // the ascending part ascends
  EXPECT_EQ(d->cmpKeys(ka.data(), kc.data(), 1), 0);  // one part: equal

  SvIndRep* u = dup->indRep();
  std::vector<char> r = record(0, 12, "abc");
  dup->buildKey(r.data(), 2);
  std::string k2(dup->getKey(), 20);
  dup->buildKey(r.data(), 258);
  std::string k258(dup->getKey(), 20);
  EXPECT_EQ(std::string(k258.data() + 16, 4), std::string("\0\0\1\2", 4));
  EXPECT_LT(u->cmpKeys(k2.data(), k258.data(), 0), 0);
  EXPECT_EQ(u->cmpKeys(k2.data(), k258.data(), 2), 0);
  dup->buildKey(r.data(), 7);
  String text;
  char const* p = dup->getKey();
  u->load(text, p);
  EXPECT_EQ(zftest::str(text), "(12, abc, [7])");
  EXPECT_EQ(p, dup->getKey() + 20);

  // Two entries with equal parts order by record number.
  t.lastRec = t.nRecs = 300;
  dup->buildKey(r.data(), 258);
  ASSERT_TRUE(dup->addKey(nullptr, 258, true));
  dup->buildKey(r.data(), 2);
  ASSERT_TRUE(dup->addKey(nullptr, 2, true));
  EXPECT_EQ(walk(dup), (std::vector<int32_t>{2, 258}));
  // An exact search with another record number finds the first entry.
  dup->buildKey(r.data(), 100);
  EXPECT_EQ(dup->findKey(nullptr, SvIndex::kExact), 258);
  dup->buildKey(r.data(), 0);
  EXPECT_EQ(dup->findKey(nullptr, SvIndex::kExact), 2);
}

TEST_F(IndexCases, KeysTravelOnTheConnection) {
  FakeTable& t = table();
  SvIndex* dup = makeIndex(t, "dup", IndFlag::kDup, {{&intF, 0, -1, 0}, {nullptr, 0, -1, 0}});
  ASSERT_TRUE(dup);
  LoopConnection loop;
  SvObject::con = &loop;
  loop << int32_t(12) << int32_t(99);
  loop.rewind();
  char buf[12];
  ASSERT_TRUE(dup->receiveKey(buf, false));
  EXPECT_EQ(ldlong(buf + 8), 0);  // no record number: 0
  EXPECT_EQ(ldlong(buf + 4), 99);
  loop.rewind();
  dup->sendKey(buf);
  loop.rewind();
  int32_t a = 0, b = 0;
  loop >> a >> b;
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 99);
  // A negative record number from a client is refused with an error.
  loop.rewind();
  loop << int32_t(1) << int32_t(2) << int32_t(-5);
  loop.rewind();
  Exception::last(Exception(0));
  EXPECT_FALSE(dup->receiveKey(nullptr, true));
  EXPECT_NE(Exception::last().code(), 0);
  SvObject::con = nullptr;
}

// ---- definitions ---------------------------------------------------------------

TEST_F(IndexCases, DefinitionsAndTheirMends) {
  FakeTable& t = table();
  // A key that leaves a node fewer than 4 slots is refused, nothing made.
  Exception::last(Exception(0));
  EXPECT_EQ(SvIndRep::consIndex(nullptr, &t, 0, "big", 1000, 1, 0), nullptr);
  EXPECT_NE(Exception::last().code(), 0);
  EXPECT_TRUE(t.reps.empty());
  SvIndex* ix = makeIndex(t, "x", 0, {{&textF, 0, 0, 4}, {&textF, IndFldFlag::kNotNull, 4, 8}});
  ASSERT_TRUE(ix);
  EXPECT_FALSE(ix->setLength(900));
  EXPECT_EQ(ix->length(), 12);
  EXPECT_TRUE(ix->hasNotNull());
  // consIndField returns the part it made, the second range on one field
  // (the key first grows to hold it).
  ASSERT_TRUE(ix->setLength(14));
  SvIndFld* made = SvIndFld::consIndField(nullptr, ix->indRep(), 2, &textF, 0, 6, 2);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->offset(), 6);
  EXPECT_EQ(ix->indRep()->iField(2), made);
  EXPECT_EQ(ix->indRep()->iField(-1), nullptr);
  EXPECT_EQ(ix->indRep()->iField(3), nullptr);
  EXPECT_EQ(SvIndFld::consIndField(nullptr, ix->indRep(), 3, &textF, 0, 10, 4), nullptr);  // past the field
  EXPECT_FALSE(made->sameRep(ix->indRep()->iField(0)));
  EXPECT_NE(textF.uses, 0u);
  // Names and types.
  EXPECT_EQ(zftest::str(ix->objType()), "SvIndex");
  EXPECT_EQ(ix->objectType(), 8);
  // A temporary index: its definition and file go with its open index.
  Client* creator = reinterpret_cast<Client*>(&t);
  SvIndex* tmpIx = makeIndex(t, String(), 0, {{&intF, 0, -1, 0}}, creator);
  ASSERT_TRUE(tmpIx);
  EXPECT_TRUE(tmpIx->isTemporary());
  EXPECT_EQ(zftest::str(tmpIx->indRep()->ext()), "i01");
  size_t reps = t.reps.size();
  delete tmpIx;
  EXPECT_EQ(t.reps.size(), reps - 1);
  // An older version's index keeps the definition alive while the current
  // one goes.
  SvIndex* older = new SvIndex(ix->indRep(), nullptr, -1);
  SvIndRep* rep = ix->indRep();
  delete ix;
  EXPECT_EQ(older->indRep(), rep);
  EXPECT_EQ(rep->nOpen, 1);
  delete older;
  // Emptying keeps name, flags and key length and moves to a new file
  // with the same extension.
  SvIndex* e = makeIndex(t, "e", IndFlag::kDup, {{&intF, 0, -1, 0}});
  t.lastRec = t.nRecs = 3;
  for (int32_t v = 1; v <= 3; ++v) {
    std::vector<char> r = record(v, v, "a");
    e->buildKey(r.data(), v);
    ASSERT_TRUE(e->addKey(nullptr, v, true));
  }
  String oldFile = e->indRep()->phName();
  e->empty(nullptr);
  EXPECT_EQ(e->nKeys(), 0);
  EXPECT_NE(zftest::str(e->indRep()->phName()), zftest::str(oldFile));
  EXPECT_EQ(zftest::str(e->indRep()->ext()), zftest::str(String(oldFile(oldFile.index('.') + 1, 3))));
  EXPECT_EQ(zftest::str(e->name()), "e");
  EXPECT_TRUE(e->isDup());
  EXPECT_EQ(e->length(), 4);
  EXPECT_EQ(e->findKey(nullptr, SvIndex::kFirst), -1);
  EXPECT_EQ(e->count(false, nullptr, false, nullptr), 0);
  std::vector<char> r9 = record(9, 9, "a");
  e->buildKey(r9.data(), 1);
  ASSERT_TRUE(e->addKey(nullptr, 1, true));
  EXPECT_EQ(walk(e), std::vector<int32_t>{1});
  // Illegal partial part count.
  SvIndex* p = makeIndex(t, "p", 0, {{&intF, 0, -1, 0}});
  t.lastRec = t.nRecs = 1;
  std::vector<char> r = record(1, 1, "a");
  p->buildKey(r.data(), 1);
  ASSERT_TRUE(p->addKey(nullptr, 1, true));
  p->setNParts(5);
  r = record(0, 0, "a");
  p->buildKey(r.data(), 0);
  shown().clear();
  EXPECT_EQ(p->findKey(nullptr, SvIndex::kNext | SvIndex::kPartial), -1);
  EXPECT_TRUE(sawWarning("Illegal number of key parts"));
}

TEST_F(IndexCases, ProfileLineAddsOnlyNewCounts) {
  FakeTable& t = table();
  SvIndex* ix = makeIndex(t, "pr", 0, {{&intF, 0, -1, 0}});
  t.lastRec = t.nRecs = 1;
  std::vector<char> r = record(1, 1, "a");
  ix->buildKey(r.data(), 1);
  ASSERT_TRUE(ix->addKey(nullptr, 1, true));
  int64_t hits = 0, tries = 0;
  String s;
  ix->getMethInfo(s, &hits, &tries);
  EXPECT_NE(zftest::str(s).find("pr(SvIndex) Related Table: t"), std::string::npos);
  int64_t firstTries = tries;
  EXPECT_GT(firstTries, 0);
  ix->getMethInfo(s, &hits, &tries);
  EXPECT_EQ(tries, firstTries);  // nothing new, nothing added
  ix->searchKey();
  ix->getMethInfo(s, &hits, &tries);
  EXPECT_GT(tries, firstTries);
}

// ---- maintenance and undo -------------------------------------------------------

TEST_F(IndexCases, MaintenanceAndUndo) {
  FakeTable& t = table();
  Client* me = reinterpret_cast<Client*>(&t);
  Client* other = reinterpret_cast<Client*>(&intF);
  SvIndex* uniq = makeIndex(t, "u", 0, {{&intF, 0, -1, 0}});
  SvIndex* nn = makeIndex(t, "nn", 0, {{&textF, IndFldFlag::kNotNull, -1, 0}});
  SvIndex* indep = makeIndex(t, "in", IndFlag::kIndep | IndFlag::kDup, {{&textF, 0, -1, 0}});
  SvIndex* tmp = makeIndex(t, String(), 0, {{&intF, 0, -1, 0}}, me);
  ASSERT_TRUE(uniq && nn && indep && tmp);
  std::vector<SvIndex*> all = {uniq, nn, indep, tmp};
  auto add = [&](SvIndex* ix, Client* c, std::vector<char> const& rec, int32_t n) {
    ix->buildKey(rec.data(), n);
    return ix->addKey(c, n, true);
  };
  std::vector<char> r1 = record(1, 1, "a"), r2 = record(2, 2, "b");
  t.lastRec = 10;
  t.nRecs = 2;
  for (SvIndex* ix : all) {
    ASSERT_TRUE(add(ix, me, r1, 1));
    ASSERT_TRUE(add(ix, me, r2, 2));
  }
  auto dumps = [&] {
    std::vector<std::vector<std::string>> v;
    for (SvIndex* ix : all)
      v.push_back(tree(ix));
    return v;
  };
  auto const start = dumps();

  struct Case {
    char const* name;
    std::function<bool()> forward;  // true when the change was taken
    bool takes;
    std::function<void()> reverse;
  };
  std::vector<char> r3 = record(3, 1, "c");   // collides with r1 in u
  std::vector<char> r4 = record(4, 4, "");    // null notNull part
  std::vector<char> r5 = record(5, 1, "e");   // tmp: key of r1, other client
  std::vector<char> r2moved = record(2, 7, "b");
  std::vector<char> r2clash = record(2, 1, "b");
  std::vector<char> r2text = record(2, 2, "z");
  Case cases[] = {
      {"take-over while restarting",
       [&] {
         StorageEnv::restarting = true;
         bool ok = add(uniq, me, r3, 3);
         StorageEnv::restarting = false;
         return ok && uniq->prevRec() == 1 && walk(uniq) == std::vector<int32_t>{3, 2};
       },
       true, [&] { uniq->reverseAdd(r3.data(), 3); }},
      {"take-over of a record the client deleted",
       [&] {
         t.mine = {1};
         bool ok = add(uniq, me, r3, 3);
         t.mine.clear();
         return ok && walk(uniq) == std::vector<int32_t>{3, 2};
       },
       true, [&] { uniq->reverseAdd(r3.data(), 3); }},
      {"null notNull part", [&] { return add(nn, me, r4, 4); }, true, [&] { nn->reverseAdd(r4.data(), 4); }},
      {"another client's temporary index", [&] { return add(tmp, other, r5, 5); }, true,
       [&] { tmp->reverseAdd(r5.data(), 5); }},
      {"update without change", [&] { return uniq->update(me, r1.data(), r1.data(), 1, 1); }, true,
       [&] { uniq->reverseUpdate(me, r1.data(), r1.data(), 1, 1); }},
      {"moving update", [&] { return uniq->update(me, r2.data(), r2moved.data(), 2, 2) && walk(uniq).size() == 2; },
       true, [&] { uniq->reverseUpdate(me, r2.data(), r2moved.data(), 2, 2); }},
      {"colliding update",
       [&] {
         Exception::last(Exception(0));
         bool ok = uniq->update(me, r2.data(), r2clash.data(), 2, 2);
         return ok || Exception::last().code() == 0 ? true : false;
       },
       false, [] {}},
      {"independent key",
       [&] {
         indep->indepChanged(r2.data(), r2text.data());
         bool ok = indep->update(me, r2.data(), r2text.data(), 2, 3);
         indep->resetIndepChanged();
         return ok && walk(indep).size() == 3;
       },
       true,
       [&] {
         indep->indepChanged(r2.data(), r2text.data());
         indep->reverseUpdate(me, r2.data(), r2text.data(), 2, 3);
         indep->resetIndepChanged();
       }},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.forward(), c.takes);
    c.reverse();
    EXPECT_EQ(dumps(), start);
    for (SvIndex* ix : all)
      EXPECT_TRUE(ix->verify(false));
  }
  // The null entry is not there to delete.
  nn->buildKey(r4.data(), 4);
  EXPECT_FALSE(nn->delKey(4));
  // A delete with another record number leaves the entry.
  uniq->buildKey(r1.data(), 2);
  EXPECT_FALSE(uniq->delKey(2));
  EXPECT_EQ(walk(uniq).size(), 2u);
}

// ---- verification ------------------------------------------------------------------

TEST_F(IndexCases, VerifyReports) {
  FakeTable& t = table();
  SvIndex* ix = makeIndex(t, "v", 0, {{&intF, 0, -1, 0}});
  t.lastRec = t.nRecs = 5;
  shown().clear();
  EXPECT_TRUE(ix->verify(true));  // empty: consistent, silent
  EXPECT_TRUE(shown().empty());
  for (int32_t v = 1; v <= 5; ++v) {
    std::vector<char> r = record(v, v, "x");
    ix->buildKey(r.data(), v);
    ASSERT_TRUE(ix->addKey(nullptr, v, true));
  }
  EXPECT_TRUE(ix->verify(true));
  EXPECT_TRUE(ix->verify(false));
  // Fewer records than keys: always reported; fewer keys with deferred
  // deletes pending: not reported.
  t.nRecs = 4;
  shown().clear();
  EXPECT_FALSE(ix->verify(false));
  EXPECT_TRUE(sawWarning("Count: table says 4, index says 5"));
  t.nRecs = 6;
  t.defDels = 1;
  EXPECT_TRUE(ix->verify(false));
  t.defDels = 0;
  EXPECT_FALSE(ix->verify(false));
  t.nRecs = 5;
  // A marked record that the table has free.
  t.freeRecs = {3};
  shown().clear();
  EXPECT_FALSE(ix->verify(true));
  EXPECT_TRUE(sawWarning("Found free table recno 3"));
  t.freeRecs.clear();
  // A corrupted order byte in the leaf.
  int32_t leaf = rootChild(ix, 0);
  ix->unLock();
  char* p;
  CacheBuffer* cb = ix->indRep()->get(p, leaf, true);
  ASSERT_TRUE(cb);
  p[8] = char(0xFF);  // slot 1's first key byte: above slot 2
  cb->mod = true;
  cb->unlock();
  shown().clear();
  EXPECT_TRUE(ix->verify(false));  // the light check reads no leaf
  EXPECT_FALSE(ix->verify(true));
  EXPECT_TRUE(sawWarning(std::string("Inconsistency in index 'p.t.v'\nLevel disordered: recno ") +
                         std::to_string(leaf) + ", level 1, slot 1.  nMethods 0.\n"));
  shown().clear();
  ix->printTree();
  EXPECT_TRUE(sawWarning("Tree for index 'p.t.v' (depth: 2, root slots: 1, root recno: 0)"));
  EXPECT_TRUE(sawWarning("Fields: (num)"));
  EXPECT_TRUE(sawWarning("   Key: (3), Data recno: 3"));
  shown().clear();
  ix->list();
  EXPECT_TRUE(sawWarning("Level: 0, cslot: 0, nslots: 1"));
}

// ---- damaged files --------------------------------------------------------------------

// Named fields of an index file of 1 KB pages: header copy 0 at 0, copy 1
// at 1024; record n at 2048 + (n - 1) x 1024, its slots after 16 bytes.
class DamagedIndex : public IndexCases {
protected:
  struct Built {
    String file;
    std::string path;
    int32_t keys = 0;
    int32_t rootBegin = 0;
    int32_t aMiddle = 0;
    int32_t aLeaf = 0;
  };

  Built build() {
    FakeTable& t = table();
    SvIndex* ix = wideIndex(t);
    int32_t v = 0;
    while (ix->nKeys() < 20 || ix->depth() < 3)
      EXPECT_TRUE(addWide(ix, t, ++v));
    Built b;
    b.keys = v;
    b.aMiddle = rootChild(ix, 1);
    StorageEnv::currCP = 0;  // the checkpoint writes header copy 0
    indexCheckpoint();
    b.rootBegin = ix->root()->getRecBegin();
    b.file = ix->indRep()->phName();
    b.path = zftest::str(ix->indRep()->fullName(0));
    ix->root()->setSon(ix->root()->son());
    closeAll();
    // A leaf under the second middle node.
    std::string bytes = zftest::readFile(b.path);
    b.aLeaf = ldlong(bytes.data() + 2048 + (b.aMiddle - 1) * 1024 + 16 + kWide + 2);
    return b;
  }

  void poke(std::string const& path, int64_t at, std::string const& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), ssize_t(bytes.size()));
    ::close(fd);
  }


  // Opens the index again and runs every operation; none may crash, and
  // at least one reports the damage.
  void exercise(Built const& b, char const* what) {
    SCOPED_TRACE(what);
    FakeTable& t = table();
    t.lastRec = t.nRecs = b.keys;
    Exception::last(Exception(0));
    SvIndRep* rep = new SvIndRep(&t, 0, "wide", b.file, kWide, 1, 0, nullptr);
    SvIndFld::consIndField(nullptr, rep, 0, &wideF, 0, -1, 0);
    SvIndex* ix = new SvIndex(rep, &t, -1);
    bool bad = !ix->ok();
    shown().clear();
    bad |= !ix->verify(true);
    bad |= int32_t(walk(ix).size()) != b.keys;
    bad |= int32_t(walkBack(ix).size()) != b.keys;
    bad |= ix->count(false, nullptr, false, nullptr) != b.keys;
    for (int32_t v = 1; v <= b.keys; v += 7) {
      std::vector<char> r = wideRec(v);
      ix->buildKey(r.data(), v);
      bad |= ix->findKey(nullptr, SvIndex::kExact) != v;
    }
    std::vector<char> r = wideRec(b.keys + 1);
    ix->buildKey(r.data(), b.keys + 1);
    ix->addKey(nullptr, b.keys + 1, true);
    r = wideRec(3);
    ix->buildKey(r.data(), 3);
    ix->delKey(3);
    ix->printTree();
    EXPECT_TRUE(bad);
    delete ix;
  }
};

TEST_F(DamagedIndex, EveryDamagedFieldGivesAnErrorNeverACrash) {
  struct Damage {
    char const* name;
    int64_t (*at)(Built const& b);
    std::string (*bytes)(Built const& b);
  };
  // Header copy 0 holds the checkpoint (parity 0 written, then flipped).
  static Damage const damages[] = {
      {"root slots beyond 16 nodes", [](Built const&) -> int64_t { return 22; },
       [](Built const&) { return be16(65); }},
      {"depth 1", [](Built const&) -> int64_t { return 21; }, [](Built const&) { return std::string("\1", 1); }},
      {"depth 17", [](Built const&) -> int64_t { return 21; }, [](Built const&) { return std::string("\21", 1); }},
      {"root chain begins at 0", [](Built const&) -> int64_t { return 16; }, [](Built const&) { return be32(0); }},
      {"root chain begins past last", [](Built const&) -> int64_t { return 16; },
       [](Built const&) { return be32(99999); }},
      {"depth one less than the tree's", [](Built const&) -> int64_t { return 21; },
       [](Built const&) { return std::string("\2", 1); }},
      {"depth one more than the tree's", [](Built const&) -> int64_t { return 21; },
       [](Built const&) { return std::string("\4", 1); }},
      {"root chain ends early", [](Built const& b) -> int64_t { return 2048 + (b.rootBegin - 1) * 1024 + 16; },
       [](Built const&) { return be32(0); }},
      {"root chain loops", [](Built const& b) -> int64_t { return 2048 + (b.rootBegin - 1) * 1024 + 16; },
       [](Built const& b) { return be32(b.rootBegin); }},
      {"middle slot count 0",
       [](Built const& b) -> int64_t { return 2048 + (b.aMiddle - 1) * 1024 + 16 + kWide; },
       [](Built const&) { return be16(0); }},
      {"middle slot count above slots per node",
       [](Built const& b) -> int64_t { return 2048 + (b.aMiddle - 1) * 1024 + 16 + kWide; },
       [](Built const&) { return be16(900); }},
      {"child record 0", [](Built const& b) -> int64_t { return 2048 + (b.aMiddle - 1) * 1024 + 16 + kWide + 2; },
       [](Built const&) { return be32(0); }},
      {"child record past last",
       [](Built const& b) -> int64_t { return 2048 + (b.aMiddle - 1) * 1024 + 16 + kWide + 2; },
       [](Built const&) { return be32(1 << 30); }},
      {"root slot's child record negative",
       [](Built const& b) -> int64_t { return 2048 + (b.rootBegin - 1) * 1024 + 16 + 4 + kWide + 2; },
       [](Built const&) { return be32(-4); }},
      {"leaf record number 0", [](Built const& b) -> int64_t { return 2048 + (b.aLeaf - 1) * 1024 + 16 + kWide; },
       [](Built const&) { return be32(0); }},
  };
  for (Damage const& d : damages) {
    Built b = build();
    poke(b.path, d.at(b), d.bytes(b));
    exercise(b, d.name);
    closeAll();
  }
}

// An index whose stored root cannot be read only looks empty: no insertion
// may start a new tree over it (a checkpoint would then drop the stored one
// and free its chain); emptying it makes it usable again.
TEST_F(DamagedIndex, UnreadableRootRefusesInsertionsUntilEmptied) {
  struct Damage {
    char const* name;
    int64_t (*at)(Built const& b);
    std::string (*bytes)(Built const& b);
  };
  static Damage const damages[] = {
      {"root chain begins past last", [](Built const&) -> int64_t { return 16; },
       [](Built const&) { return be32(99999); }},
      {"root slots beyond 16 nodes", [](Built const&) -> int64_t { return 22; },
       [](Built const&) { return be16(65); }},
  };
  for (Damage const& d : damages) {
    SCOPED_TRACE(d.name);
    Built b = build();
    poke(b.path, d.at(b), d.bytes(b));
    std::string before = zftest::readFile(b.path).substr(0, 24);
    FakeTable& t = table();
    t.lastRec = t.nRecs = b.keys;
    SvIndRep* rep = new SvIndRep(&t, 0, "wide", b.file, kWide, 1, 0, nullptr);
    SvIndFld::consIndField(nullptr, rep, 0, &wideF, 0, -1, 0);
    SvIndex* ix = new SvIndex(rep, &t, -1);
    for (int32_t v : {b.keys + 1, b.keys + 2}) {
      std::vector<char> r = wideRec(v);
      ix->buildKey(r.data(), v);
      EXPECT_FALSE(ix->addKey(nullptr, v, true)) << v;
    }
    StorageEnv::currCP = 0;
    indexCheckpoint();
    std::string after = zftest::readFile(b.path);
    EXPECT_EQ(after.substr(16, 4), before.substr(16, 4)) << "rBegin kept";
    EXPECT_EQ(after.substr(21, 3), before.substr(21, 3)) << "depth and root slots kept";
    ix->empty(nullptr);
    std::vector<char> r = wideRec(1);
    ix->buildKey(r.data(), 1);
    EXPECT_TRUE(ix->addKey(nullptr, 1, true));
    EXPECT_EQ(walk(ix), std::vector<int32_t>{1});
    closeAll();
  }
}


// ---- version indexes ---------------------------------------------------------

TEST_F(IndexCases, VersionIndexReadsTheTreeOfItsVersion) {
  FakeTable& t = table();
  SvIndex* cur = makeIndex(t, "u", 0, {{&intF, 0, -1, 0}});
  ASSERT_TRUE(cur);
  auto add = [&](int32_t v) {
    std::vector<char> r = record(v, v, "");
    cur->buildKey(r.data(), v);
    t.lastRec = std::max(t.lastRec, v);
    ++t.nRecs;
    return cur->addKey(nullptr, v, true);
  };
  for (int32_t v = 1; v <= 300; ++v)
    ASSERT_TRUE(add(v));
  std::vector<int32_t> before = walk(cur);
  std::vector<std::string> treeBefore = tree(cur);
  indexCheckpoint();
  StorageEnv::currVersion = 0;
  ASSERT_TRUE(cur->newVers(-1));
  StorageEnv::currVersion = -1;
  indexCheckpoint();
  // The current tree moves on: new keys, half of the old ones gone.
  for (int32_t v = 301; v <= 500; ++v)
    ASSERT_TRUE(add(v));
  for (int32_t v = 1; v <= 300; v += 2) {
    std::vector<char> r = record(v, v, "");
    cur->buildKey(r.data(), v);
    --t.nRecs;
    ASSERT_TRUE(cur->delKey(v));
  }
  indexCheckpoint();
  std::vector<int32_t> after = walk(cur);

  SvIndex* old = new SvIndex(cur->indRep(), &t, 0);
  EXPECT_EQ(old->objType(), "SvIndex - version 0");
  EXPECT_EQ(old->vers(), 0);
  EXPECT_EQ(walk(old), before);
  std::vector<std::string> treeOld = tree(old);
  ASSERT_EQ(treeOld.size(), treeBefore.size());
  EXPECT_NE(treeOld[0].find("'p.t.u'[0] (depth: 2"), std::string::npos) << treeOld[0];
  EXPECT_TRUE(std::equal(treeOld.begin() + 1, treeOld.end(), treeBefore.begin() + 1));
  EXPECT_EQ(old->findKey(nullptr, SvIndex::kLast), 300);
  EXPECT_EQ(walk(cur), after) << "reading the version leaves the current tree alone";
  EXPECT_TRUE(cur->verify(true));
  delete old;  // the definition stays with the current index
  EXPECT_EQ(walk(cur), after);
  EXPECT_EQ(cur->objType(), "SvIndex");
}

// A table header whose last record number is damaged (as high as a long
// goes) does not make the exhaustive check allocate a flag per claimed
// record: it runs under an address-space limit far below that.
// The path lets go of its pages at the end of a request, and a cache resize
// (SetAttrib's CacheSize) frees every page let go. A second unLock after it
// (a later request, a checkpoint) keeps the position saved the first time
// instead of reading the freed page, and next goes on from there.
TEST_F(IndexCases, PositionSavedOnceSurvivesACacheResize) {
  FakeTable& t = table();
  SvIndex* ix = wideIndex(t);
  for (int32_t v = 1; v <= 40; ++v)
    ASSERT_TRUE(addWide(ix, t, v));
  ix->unLock();
  CacheBuffer::flushAll(nullptr, false);
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward);
    ASSERT_EQ(ix->findKey(nullptr, forward ? SvIndex::kFirst : SvIndex::kLast), forward ? 1 : 40);
    ix->unLock();
    ASSERT_TRUE(CacheBuffer::setSize(forward ? 128 : 64));
    ix->unLock();
    EXPECT_EQ(forward ? ix->next() : ix->prev(), forward ? 2 : 39);
    ix->unLock();
  }
}

TEST_F(IndexCases, AnExhaustiveCheckAllocatesForTheRecordsMetNotForADamagedLast) {
  FakeTable& t = table();
  SvIndex* ix = wideIndex(t);
  for (int32_t v = 1; v <= 40; ++v)
    ASSERT_TRUE(addWide(ix, t, v));
  for (int32_t last : {int32_t(40), INT32_MAX}) {
    SCOPED_TRACE(last);
    t.lastRec = last;
    zftest::RunResult r = zftest::runInChild([&] {
      long pages = 0;
      std::FILE* f = std::fopen("/proc/self/statm", "r");
      ZF_CHILD_CHECK(f != nullptr && std::fscanf(f, "%ld", &pages) == 1);
      std::fclose(f);
      rlimit lim{};
      lim.rlim_cur = lim.rlim_max = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (64u << 20);
      ZF_CHILD_CHECK(setrlimit(RLIMIT_AS, &lim) == 0);
      ZF_CHILD_CHECK(ix->verify(true));
      return 0;
    });
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }
}

}  // namespace
}  // namespace storagetest
