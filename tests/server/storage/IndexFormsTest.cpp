// Index stored forms byte for byte (record prefix, leaf and internal slots,
// the stored root chain, the header's root fields, key bytes of a dup index
// with a descending range part and a null part) and every findKey mode at
// its edges, as tables of cases.
#include "IndexFixture.h"

#include <zfound/LoopConnection.h>
#include <zfound/TimeStamp.h>

namespace storagetest {
namespace {

class IndexForms : public IndexTest {
public:
  // Adds record rec of values (v, text) to every index of t.
  static bool add(FakeTable& t, SvIndex* ix, int32_t rec, int32_t v, std::string const& text, bool intNull = false) {
    std::vector<char> r = record(rec, v, text, intNull);
    ix->buildKey(r.data(), rec);
    t.lastRec = std::max(t.lastRec, rec);
    ++t.nRecs;
    return ix->addKey(nullptr, rec, true);
  }
};

// ---- stored forms ---------------------------------------------------------------

TEST_F(IndexForms, StoredFormsByteForByte) {
  FakeTable& t = table();
  // Key: int (4 bytes) then bytes 2..4 of the text, descending; dup: the
  // record number follows. k = 7, K = 11; leaf slot 11, internal slot 17.
  SvIndex* ix =
      makeIndex(t, "d", IndFlag::kDup, {{&intF, 0, -1, 0}, {&textF, IndFldFlag::kDescending, 2, 3}});
  ASSERT_TRUE(ix);
  ++StorageEnv::timeStamp;
  TimeStamp stamp = StorageEnv::timeStamp;
  ASSERT_TRUE(add(t, ix, 258, 5, "abcde"));
  ASSERT_TRUE(add(t, ix, 2, 5, "abcde"));
  ASSERT_TRUE(add(t, ix, 3, 5, "abxyz"));
  ASSERT_TRUE(add(t, ix, 7, -1, "xxzz"));
  ASSERT_TRUE(add(t, ix, 9, 0, "", true));  // null int: its stored zero bytes
  StorageEnv::currCP = 0;                   // the checkpoint writes header copy 0
  indexCheckpoint();
  int32_t rBegin = ix->root()->getRecBegin();
  std::string bytes = zftest::readFile(zftest::str(ix->indRep()->fullName(0)));
  int32_t leaf = ldlong(bytes.data() + 2048 + (rBegin - 1) * 1024 + 16 + 4 + 11 + 2);
  auto rec = [](int32_t r) { return int64_t(2048 + (r - 1) * 1024); };
  char st[8];
  char* sp = st;
  stamp.store(sp);
  std::string key9 = std::string(4, '\0') + std::string(3, '\0') + be32(9);
  struct Row {
    char const* what;
    int64_t at;
    std::string bytes;
  };
  Row const rows[] = {
      {"header rBegin", 16, be32(rBegin)},
      {"header depth", 21, std::string("\2", 1)},
      {"header root slots", 22, be16(1)},
      {"leaf prefix stamp", rec(leaf) + 8, std::string(st, 8)},
      // Leaf: null int, then -1, then 5 with the descending part "xyz"
      // before "cde", then the equal keys by record number 2 before 258.
      {"leaf slot 0", rec(leaf) + 16, key9},
      {"leaf slot 1", rec(leaf) + 16 + 11, be32(0x7FFFFFFF) + std::string("zz\0", 3) + be32(7)},
      {"leaf slot 2", rec(leaf) + 16 + 22, be32(int32_t(0x80000005u)) + "xyz" + be32(3)},
      {"leaf slot 3", rec(leaf) + 16 + 33, be32(int32_t(0x80000005u)) + "cde" + be32(2)},
      {"leaf slot 4", rec(leaf) + 16 + 44, be32(int32_t(0x80000005u)) + "cde" + be32(258)},
      {"root chain link", rec(rBegin) + 16, be32(0)},
      {"root slot: first key, count, child", rec(rBegin) + 20, key9 + be16(5) + be32(leaf)},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_LE(r.at + int64_t(r.bytes.size()), int64_t(bytes.size()));
    EXPECT_EQ(bytes.substr(size_t(r.at), r.bytes.size()), r.bytes);
  }
}

// A root of more than one chain record: each holds the next record's number
// and the next page - 20 bytes of the slot array; the last link is 0.
TEST_F(IndexForms, RootChainSpansRecords) {
  FakeTable& t = table();
  SvIndex* ix = makeIndex(t, "u", 0, {{&intF, 0, -1, 0}});
  ASSERT_TRUE(ix);
  // 1 KB page: leaf spn (1008 / 8) = 126; root slots of 10 bytes, 100 per
  // chain record; 150 leaves need two records.
  int32_t v = 0;
  while (ix->nKeys() < 150) {
    ++v;
    ASSERT_TRUE(add(t, ix, v, v, ""));
  }
  StorageEnv::currCP = 0;
  indexCheckpoint();
  int32_t n = ix->nKeys();
  int32_t first = ix->root()->getRecBegin();
  std::string bytes = zftest::readFile(zftest::str(ix->indRep()->fullName(0)));
  EXPECT_EQ(bytes.substr(22, 2), be16(n));
  auto rec = [](int32_t r) { return size_t(2048 + (r - 1) * 1024); };
  int32_t second = ldlong(bytes.data() + rec(first) + 16);
  ASSERT_GE(second, 1);
  EXPECT_EQ(ldlong(bytes.data() + rec(second) + 16), 0);
  RootNode* root = ix->root();
  ASSERT_TRUE(root->get());
  size_t total = size_t(n) * 10;
  EXPECT_EQ(bytes.substr(rec(first) + 20, 1004), std::string(root->slotAt(0), 1004));
  EXPECT_EQ(bytes.substr(rec(second) + 20, total - 1004), std::string(root->slotAt(0) + 1004, total - 1004));
}

// ---- findKey ------------------------------------------------------------------

TEST_F(IndexForms, FindKeyModesAtTheEdges) {
  FakeTable& t = table();
  SvIndex* u = makeIndex(t, "u", 0, {{&intF, 0, -1, 0}, {&textF, 0, 0, 4}});
  ASSERT_TRUE(u);
  // Empty: every mode finds nothing, count 0.
  for (int32_t m : {SvIndex::kExact, SvIndex::kNext, SvIndex::kPrev, SvIndex::kFirst, SvIndex::kLast,
                    SvIndex::kNext | SvIndex::kPartial})
    EXPECT_EQ(u->findKey(nullptr, m), -1) << m;
  EXPECT_EQ(u->count(false, nullptr, false, nullptr), 0);
  ASSERT_TRUE(add(t, u, 1, 10, "aa"));
  ASSERT_TRUE(add(t, u, 2, 20, "bb"));
  ASSERT_TRUE(add(t, u, 3, 20, "cc"));
  ASSERT_TRUE(add(t, u, 4, 30, "dd"));
  constexpr int32_t X = SvIndex::kExact, N = SvIndex::kNext, P = SvIndex::kPrev, F = SvIndex::kFirst,
                    L = SvIndex::kLast, Q = SvIndex::kPartial;
  struct Case {
    int32_t mode;
    int32_t v;
    char const* text;
    int32_t nParts;
    std::set<int32_t> hidden;
    int32_t want;
  };
  Case const cases[] = {
      {F, 0, "", 0, {}, 1},
      {L, 0, "", 0, {}, 4},
      {F, 0, "", 0, {1, 2}, 3},
      {L, 0, "", 0, {4}, 3},
      {F, 0, "", 0, {1, 2, 3, 4}, -1},
      {X, 20, "bb", 0, {}, 2},
      {X, 20, "bc", 0, {}, -1},
      {X, 5, "", 0, {}, -1},
      {X, 40, "", 0, {}, -1},
      {X, 20, "bb", 0, {2}, -1},
      {X | N, 20, "bb", 0, {2}, 3},
      {X | P, 20, "bb", 0, {2}, 1},
      {X | N, 20, "bc", 0, {}, 3},
      {X | P, 20, "bc", 0, {}, 2},
      {N, 5, "", 0, {}, 1},
      {N, 10, "aa", 0, {}, 2},
      {N, 20, "bz", 0, {}, 3},
      {N, 30, "dd", 0, {}, -1},
      {N, 40, "", 0, {}, -1},
      {N, 5, "", 0, {1, 2}, 3},
      {P, 5, "", 0, {}, -1},
      {P, 10, "aa", 0, {}, -1},
      {P, 20, "cc", 0, {}, 2},
      {P, 25, "", 0, {}, 3},
      {P, 40, "", 0, {}, 4},
      {P, 40, "", 0, {4, 3}, 2},
      // Partial over the first part.
      {N | Q, 20, "", 1, {}, 2},
      {N | Q, 20, "bb", 1, {}, 3},
      {N | Q, 20, "cc", 1, {}, -1},
      {X | N | Q, 25, "", 1, {}, -1},
      {P | Q, 20, "zz", 1, {}, 3},
      {P | Q, 30, "", 1, {}, -1},
      {N | Q, 20, "bb", 2, {}, -1},  // both parts: (20, "cc") differs
      {F | Q, 0, "", 1, {}, 1},      // first ignores the rest of the mode
      {N | Q, 20, "", 0, {}, 2},     // nParts 0: no partial check
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << std::hex << c.mode << std::dec << " key (" << c.v << ", "
                                      << c.text << ") nParts " << c.nParts);
    t.hidden = c.hidden;
    u->setNParts(c.nParts);
    std::vector<char> r = record(0, c.v, c.text);
    u->buildKey(r.data(), 0);
    EXPECT_EQ(u->findKey(nullptr, c.mode), c.want);
  }
  t.hidden.clear();
  // An illegal part count warns and finds nothing.
  for (int32_t n : {-1, 3}) {
    u->setNParts(n);
    std::vector<char> r = record(0, 20, "");
    u->buildKey(r.data(), 0);
    shown().clear();
    EXPECT_EQ(u->findKey(nullptr, N | Q), -1) << n;
    ASSERT_EQ(shown().size(), 1u) << n;
  }
  u->setNParts(0);
  // Counts over the range part.
  std::vector<char> lo = record(0, 20, "bb"), hi = record(0, 30, "dd");
  u->buildKey(lo.data(), 0);
  std::string klo(u->getKey(), 8);
  u->buildKey(hi.data(), 0);
  std::string khi(u->getKey(), 8);
  EXPECT_EQ(u->count(true, klo.data(), true, khi.data()), 3);
  EXPECT_EQ(u->count(false, klo.data(), false, khi.data()), 1);
  EXPECT_EQ(u->count(false, nullptr, true, klo.data()), 2);
}

// A dup index whose run of equal keys spans several leaves: exact finds the
// first entry at or after the record number searched; next/prev step over
// the run's ends.
TEST_F(IndexForms, FindKeyInADuplicateRunAcrossLeaves) {
  FakeTable& t = table();
  FakeField wide{"wide", 20, 240, false};  // 4 slots a node
  SvIndex* d = makeIndex(t, "d", IndFlag::kDup, {{&wide, 0, -1, 0}});
  ASSERT_TRUE(d);
  auto rec = [](int32_t v) {
    std::vector<char> r(260, 0);
    stlong(v, r.data() + 20);
    return r;
  };
  auto put = [&](int32_t recno, int32_t v) {
    std::vector<char> r = rec(v);
    d->buildKey(r.data(), recno);
    t.lastRec = std::max(t.lastRec, recno);
    ++t.nRecs;
    return d->addKey(nullptr, recno, true);
  };
  // Value 10 at record 1, value 20 at records 2..13 (4 slots a leaf), value 30 at 14.
  ASSERT_TRUE(put(14, 30));
  for (int32_t r = 13; r >= 2; --r)
    ASSERT_TRUE(put(r, 20));
  ASSERT_TRUE(put(1, 10));
  ASSERT_GE(d->nKeys(), 4);
  constexpr int32_t X = SvIndex::kExact, N = SvIndex::kNext, P = SvIndex::kPrev;
  struct Case {
    int32_t mode;
    int32_t v;
    int32_t recno;
    std::set<int32_t> hidden;
    int32_t want;
  };
  Case const cases[] = {
      {X, 20, 0, {}, 2},           {X, 20, 5, {}, 5},         {X, 20, 13, {}, 13},
      {X, 20, 14, {}, -1},         {X | N, 20, 14, {}, 14},   {X | P, 20, 14, {}, 13},
      {X, 20, 0, {2, 3, 4, 5}, -1}, {X | N, 20, 0, {2, 3, 4, 5}, 6},
      {N, 20, 13, {}, 14},         {P, 20, 2, {}, 1},         {P, 20, 0, {}, 1},
      {N, 20, 0, {}, 2},           {X, 30, 99, {}, -1},       {X | P, 30, 99, {}, 14},
      {X | N, 30, 99, {}, -1},     {X, 5, 0, {}, -1},         {P | X, 5, 0, {}, -1},
      {N, 20, 5, {6, 7, 8, 9, 10}, 11},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << std::hex << c.mode << std::dec << " key (" << c.v << ", "
                                      << c.recno << ")");
    t.hidden = c.hidden;
    std::vector<char> r = rec(c.v);
    d->buildKey(r.data(), c.recno);
    EXPECT_EQ(d->findKey(nullptr, c.mode), c.want);
  }
}

// ---- definitions --------------------------------------------------------------

// A part that would make the parts longer than the key is refused (it would
// build keys past the key buffer and the leaf slots); so is a key length
// shorter than the parts.
TEST_F(IndexForms, PartsNeverOutgrowTheKey) {
  FakeTable& t = table();
  SvIndRep* rep = SvIndRep::consIndex(nullptr, &t, 0, "k", 4, 2, 0);
  ASSERT_TRUE(rep);
  ASSERT_TRUE(SvIndFld::consIndField(nullptr, rep, 0, &intF, 0, -1, 0));
  Exception::last(Exception(0));
  EXPECT_EQ(SvIndFld::consIndField(nullptr, rep, 1, &textF, 0, -1, 0), nullptr);
  EXPECT_EQ(SvIndFld::consIndField(nullptr, rep, 1, nullptr, 0, -1, 0), nullptr);
  EXPECT_EQ(rep->nFields(), 1);
  EXPECT_NE(Exception::last().code(), 0);
  EXPECT_FALSE(rep->index()->setLength(2));
  EXPECT_FALSE(rep->setData(rep->name(), rep->phName(), rep->flags(), 3));
  EXPECT_EQ(rep->length(), 4);
  // The index works with its one part.
  EXPECT_TRUE(add(t, rep->index(), 1, 7, ""));
  EXPECT_EQ(walk(rep->index()), std::vector<int32_t>{1});
}

// A changed definition keeps the bits its parts set: the flags word given
// (as stored before the parts were added) need not carry them.
TEST_F(IndexForms, ChangedDefinitionKeepsTheBitsOfItsParts) {
  FakeTable& t = table();
  SvIndex* ix = makeIndex(t, "d", 0, {{&intF, IndFldFlag::kDescending | IndFldFlag::kNotNull, -1, 0}});
  ASSERT_TRUE(ix);
  SvIndRep* rep = ix->indRep();
  ASSERT_TRUE(rep->hasDescending() && rep->hasNotNull());
  for (int32_t v : {1, 3, 2})
    ASSERT_TRUE(add(t, ix, v, v, ""));
  ASSERT_TRUE(rep->setData("e", rep->phName(), IndFlag::kIndep, rep->length()));
  EXPECT_TRUE(rep->hasDescending());
  EXPECT_TRUE(rep->hasNotNull());
  EXPECT_TRUE(rep->isIndep());
  EXPECT_TRUE(add(t, ix, 4, 4, ""));
  EXPECT_EQ(walk(ix), (std::vector<int32_t>{4, 3, 2, 1}));
  EXPECT_TRUE(ix->verify(true));
}

// A range part's null test and send look at the range only: a null range
// followed by a non-null part gets no entry in a notNull index, and a key
// sent from a range at the end of the buffer reads nothing after it.
TEST_F(IndexForms, RangePartNullAndSendSeeOnlyTheRange) {
  FakeTable& t = table();
  SvIndex* ix = makeIndex(t, "r", 0, {{&textF, IndFldFlag::kNotNull, 2, 4}, {&intF, 0, -1, 0}});
  ASSERT_TRUE(ix);
  EXPECT_TRUE(add(t, ix, 1, 5, "ab"));  // range bytes 2..5 all zero: null
  EXPECT_TRUE(add(t, ix, 2, 5, "abcd"));
  EXPECT_EQ(walk(ix), std::vector<int32_t>{2});
  SvIndex* tail = makeIndex(t, "s", 0, {{&intF, 0, -1, 0}, {&textF, 0, 8, 4}});
  ASSERT_TRUE(tail);
  std::vector<char> r = record(0, 9, "01234567wxyz");
  std::vector<char> key(16, 'Q');  // bytes after the key are not the part's
  tail->buildKey(r.data(), 0);
  std::memcpy(key.data(), tail->getKey(), 8);
  LoopConnection loop;
  SvIndex::con = &loop;
  tail->sendKey(key.data());
  loop.rewind();
  int32_t v = 0;
  String text;
  loop >> v >> text;
  SvIndex::con = nullptr;
  EXPECT_EQ(v, 9);
  EXPECT_EQ(zftest::str(text), "wxyz");
}

}  // namespace
}  // namespace storagetest
