// Field wire forms over a LoopConnection: round trips of every class with
// null and highest values, the run-length array form, the run marker as a
// value, and hostile input that must be refused without writing past the
// field.
#include "FieldFixture.h"

#include <cstring>
#include <random>

#include <zfound/CollateSet.h>
#include <zfound/Connection.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>

namespace {

constexpr uint32_t kMarker = 0x7FFFFFFE;

// The words of a text on the channel: its bytes in words, the last padded.
std::vector<uint32_t> bytesWords(std::string const& s) {
  std::vector<uint32_t> w((s.size() + 3) / 4, 0);
  std::memcpy(w.data(), s.data(), s.size());
  return w;
}

// A length word followed by the text's words.
std::vector<uint32_t> pushed(std::vector<std::string> const& texts) {
  std::vector<uint32_t> out;
  for (auto const& t : texts) {
    out.push_back(uint32_t(t.size()));
    for (uint32_t w : bytesWords(t)) out.push_back(w);
  }
  return out;
}

// Sends f's elements from rec and returns the words written.
std::vector<uint32_t> sent(SvField* f, std::vector<char>& rec, bool zero = true) {
  LoopConnection c;
  char* p = rec.data() + f->tableOffset();
  f->send(&c, p, zero);
  EXPECT_EQ(p, rec.data() + f->tableOffset() + f->dim() * f->ilength(zero));
  return c.words();
}

struct WireCase {
  int32_t type, len, dec;
  std::vector<std::string> values;  // one per element, as texts
};

class FieldWire : public FieldTest {};

TEST_F(FieldWire, EveryClassRoundTripsThroughTheWire) {
  std::vector<WireCase> const cases = {
      {SvField::STRING, 5, 0, {"ab", "ab", "abcde", "", "\x7f"}},
      {SvField::NUM, 9, 2, {"1234567.89", "", "-0.01", "-0.01", "0"}},
      {SvField::FLOAT, 0, 0, {"1e40", "-3.25", "", "0", "0.000001"}},
      {SvField::INT, 0, 0, {"2147483647", "-2147483648", "0", "-1", "-1"}},
      {SvField::TIME, 0, 0, {"00:00:00", "", "23:59:58", "12:00:00", "12:00:00"}},
      {SvField::DATE, 0, 0, {"", "01/01/1984", "31/12/2040", "29/02/2000", "29/02/2000"}},
      {SvField::BOOL, 0, 0, {"", "0", "1", "1", ""}},
      {SvField::OBJECT, 0, 0, {"<0, 0>", "<-1, -1>", "<12, 34>", "<12, 34>", "7"}},
      {SvField::VSO, 0, 0, {"<1, 2, 3>", "<1, 2, 3>", "", "<-1, 0, 2147483647>", "<0, 0, 1>"}},
  };
  for (auto const& wc : cases) {
    SCOPED_TRACE(wc.type);
    auto t = makeTable();
    SvField* f = add(*t, wc.type, wc.len, wc.dec, int32_t(wc.values.size()));
    ASSERT_NE(f, nullptr);
    auto rec = record(*t);
    fill(f, rec, wc.values);
    ASSERT_EQ(pending(), 0) << pendingText();
    LoopConnection c;
    char* p = rec.data() + f->tableOffset();
    f->send(&c, p, true);
    c.rewind();
    auto back = record(*t);
    char* q = back.data() + f->tableOffset();
    EXPECT_TRUE(f->receive(&c, q, true, -1));
    EXPECT_EQ(q, back.data() + f->tableOffset() + f->dim() * f->ilength(true));
    EXPECT_FALSE(c.bad());
    EXPECT_EQ(c.wordsLeft(), 0);
    EXPECT_EQ(0, std::memcmp(rec.data(), back.data(), rec.size()));
  }
}

TEST_F(FieldWire, HighestValuesTravel) {
  // The highest string as the client sends it: the length word 0x7FFFFFFF.
  {
    auto t = makeTable();
    SvField* s = add(*t, SvField::STRING, 5);
    auto rec = record(*t);
    LoopConnection c;
    c << int32_t(0x7FFFFFFF);
    c.rewind();
    char* p = rec.data() + s->tableOffset();
    ASSERT_TRUE(s->receive(&c, p, true, -1));
    EXPECT_EQ(std::string(rec.data() + s->tableOffset(), 6), std::string("\xff\xff\xff\xff\xff\0", 6));
    EXPECT_EQ(texts(s, rec)[0], "(high)");
  }
  // Every class that has a highest text: text -> record -> wire -> record -> text.
  String high(String::kHighLength, nullptr);
  for (int32_t type : {SvField::STRING, SvField::NUM, SvField::FLOAT, SvField::TIME, SvField::DATE}) {
    SCOPED_TRACE(type);
    auto t = makeTable();
    SvField* f = add(*t, type, 6, 2, 2);
    auto rec = record(*t);
    char* p = rec.data() + f->tableOffset();
    f->store(p, high, true, -1);
    f->store(p, String(), true, -1);
    LoopConnection c;
    p = rec.data() + f->tableOffset();
    f->send(&c, p, true);
    c.rewind();
    auto back = record(*t);
    char* q = back.data() + f->tableOffset();
    ASSERT_TRUE(f->receive(&c, q, true, -1));
    EXPECT_EQ(0, std::memcmp(rec.data(), back.data(), rec.size()));
    EXPECT_EQ(texts(f, back), (std::vector<std::string>{"(high)", ""}));
  }
}

TEST_F(FieldWire, RunsOfEqualNeighbours) {
  auto t = makeTable();
  SvField* ten = add(*t, SvField::INT, 0, 0, 10, 0, "ten");
  SvField* mixed = add(*t, SvField::INT, 0, 0, 5, 0, "mixed");
  SvField* apart = add(*t, SvField::INT, 0, 0, 3, 0, "apart");
  auto rec = record(*t);
  fill(ten, rec, std::vector<std::string>(10, "77"));
  fill(mixed, rec, {"1", "1", "2", "3", "3"});
  fill(apart, rec, {"1", "2", "1"});
  EXPECT_EQ(sent(ten, rec), (std::vector<uint32_t>{kMarker, 10, 77}));
  EXPECT_EQ(sent(mixed, rec), (std::vector<uint32_t>{kMarker, 2, 1, 2, kMarker, 2, 3}));
  EXPECT_EQ(sent(apart, rec), (std::vector<uint32_t>{1, 2, 1}));

  // A receiver expands each run into as many copies.
  LoopConnection c;
  c.feed({kMarker, 2, 1, 2, kMarker, 2, 3});
  auto back = record(*t);
  char* p = back.data() + mixed->tableOffset();
  ASSERT_TRUE(mixed->receive(&c, p, true, -1));
  EXPECT_EQ(texts(mixed, back), (std::vector<std::string>{"1", "1", "2", "3", "3"}));
}

TEST_F(FieldWire, TimeAndNumberRunsUseTheirReadersCounts) {
  auto t = makeTable();
  SvField* tm = add(*t, SvField::TIME, 0, 0, 4, 0, "tm");
  SvField* n = add(*t, SvField::NUM, 5, 2, 4, 0, "n");
  auto rec = record(*t);
  fill(tm, rec, {"10:00:00", "10:00:00", "10:00:00", "11:00:00"});
  fill(n, rec, {"1.5", "1.5", "2", "2"});
  auto words = sent(tm, rec);
  ASSERT_EQ(words.size(), 4u);
  EXPECT_EQ(words[0], kMarker);
  EXPECT_EQ(words[1], 3u);
  LoopConnection c;
  char* p = rec.data() + tm->tableOffset();
  tm->send(&c, p, true);
  n->send(&c, p, true);
  c.rewind();
  auto back = record(*t);
  char* q = back.data() + tm->tableOffset();
  ASSERT_TRUE(tm->receive(&c, q, true, -1));
  ASSERT_TRUE(n->receive(&c, q, true, -1));
  EXPECT_EQ(texts(tm, back), (std::vector<std::string>{"10:00:00", "10:00:00", "10:00:00", "11:00:00"}));
  EXPECT_EQ(texts(n, back), (std::vector<std::string>{"1.5", "1.5", "2", "2"}));
}

TEST_F(FieldWire, AnElementEqualToTheMarkerComesBackAsItself) {
  auto t = makeTable();
  SvField* i1 = add(*t, SvField::INT, 0, 0, 1, 0, "i1");
  SvField* i3 = add(*t, SvField::INT, 0, 0, 3, 0, "i3");
  SvField* o = add(*t, SvField::OBJECT, 0, 0, 2, 0, "o");
  SvField* v = add(*t, SvField::VSO, 0, 0, 1, 0, "v");
  auto rec = record(*t);
  fill(i1, rec, {"2147483646"});
  fill(i3, rec, {"2147483646", "2147483646", "5"});
  fill(o, rec, {"<2147483646, 1>", "<2147483646, 2>"});
  fill(v, rec, {"<2147483646, 0, 9>"});
  EXPECT_EQ(sent(i1, rec), (std::vector<uint32_t>{kMarker, 1, kMarker}));
  EXPECT_EQ(sent(i3, rec), (std::vector<uint32_t>{kMarker, 2, kMarker, 5}));
  EXPECT_EQ(sent(o, rec), (std::vector<uint32_t>{kMarker, 1, kMarker, 1, kMarker, 1, kMarker, 2}));
  EXPECT_EQ(sent(v, rec), (std::vector<uint32_t>{kMarker, 1, kMarker, 0, 9}));

  LoopConnection c;
  char* p = rec.data() + i1->tableOffset();
  for (SvField* f : {i1, i3, o, v}) f->send(&c, p, true);
  c.rewind();
  auto back = record(*t);
  char* q = back.data() + i1->tableOffset();
  for (SvField* f : {i1, i3, o, v}) ASSERT_TRUE(f->receive(&c, q, true, -1));
  EXPECT_EQ(0, std::memcmp(rec.data(), back.data(), rec.size()));
}

TEST_F(FieldWire, VsoArraysTakeEveryElementWithRuns) {
  auto t = makeTable();
  SvField* v = add(*t, SvField::VSO, 0, 0, 3, 0, "v");
  SvField* after = add(*t, SvField::INT, 0, 0, 1, 0, "after");
  auto rec = record(*t);
  fill(v, rec, {"<1, 2, 3>", "<1, 2, 3>", "<4, 5, 6>"});
  fill(after, rec, {"99"});
  EXPECT_EQ(sent(v, rec), (std::vector<uint32_t>{kMarker, 2, 1, 2, 3, 4, 5, 6}));
  LoopConnection c;
  char* p = rec.data() + v->tableOffset();
  v->send(&c, p, true);
  after->send(&c, p, true);
  c.rewind();
  auto back = record(*t);
  char* q = back.data() + v->tableOffset();
  ASSERT_TRUE(v->receive(&c, q, true, -1));
  ASSERT_TRUE(after->receive(&c, q, true, -1));  // still in step with the record
  EXPECT_EQ(0, std::memcmp(rec.data(), back.data(), rec.size()));
}

TEST_F(FieldWire, StringsTravelElementByElement) {
  auto t = makeTable();
  SvField* s = add(*t, SvField::STRING, 5, 0, 3, 0, "s");
  auto rec = record(*t);
  fill(s, rec, {"ab", "ab", "abcde"});
  EXPECT_EQ(std::string(rec.data() + s->tableOffset(), 6), std::string("ab\0\0\0\0", 6));
  EXPECT_EQ(sent(s, rec), pushed({"ab", "ab", "abcde"}));

  // The key form (zero false): elements are L bytes apart.
  std::vector<char> keyForm = {'x', 'y', 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'q', 0, 0, 0, 0};
  LoopConnection c;
  char* p = keyForm.data();
  s->send(&c, p, false);
  EXPECT_EQ(p, keyForm.data() + 15);
  EXPECT_EQ(c.words(), pushed({"xy", "abcde", "q"}));
}

TEST_F(FieldWire, AStringOfLengthLPlusOneKeepsTheRecordTerminator) {
  auto t = makeTable();
  SvField* s = add(*t, SvField::STRING, 5, 0, 2, 0, "s");
  auto rec = record(*t);
  LoopConnection in;
  in.feed(pushed({"ABCDEF", "xy"}));
  char* p = rec.data() + s->tableOffset();
  ASSERT_TRUE(s->receive(&in, p, true, -1));
  // The record form's last byte of an element is always 0.
  EXPECT_EQ(std::string(rec.data() + s->tableOffset(), 12), std::string("ABCDE\0xy\0\0\0\0", 12));
  EXPECT_EQ(sent(s, rec), pushed({"ABCDE", "xy"}));
}

TEST_F(FieldWire, VirtualFieldsTakeNoBytes) {
  auto t = makeTable();
  SvField* a = add(*t, SvField::INT, 0, 0, 1, 0, "a");
  SvField* v = add(*t, SvField::NUM, 5, 0, 1, FldFlag::kVirtual | FldFlag::kMStamp, "v");
  SvField* b = add(*t, SvField::INT, 0, 0, 0, 0, "b");
  EXPECT_EQ(a->tableOffset(), 20);
  EXPECT_EQ(v->tableOffset(), 24);
  EXPECT_EQ(b->tableOffset(), 24);
  EXPECT_EQ(b->dim(), 1);
  EXPECT_EQ(t->nextOffset(), 28);
  EXPECT_EQ(t->conRecLength(), 20 + 4 + 4);
  auto stamped = makeTable(TabFlag::kCreationStamp);
  EXPECT_EQ(stamped->prefixSize(), 28);
  EXPECT_EQ(add(*stamped, SvField::STRING, 6)->tableOffset(), 28);
  EXPECT_EQ(stamped->conRecLength(), 28 + 12);
}

// ---- hostile input -------------------------------------------------------------------

struct Hostile {
  char const* what;
  int32_t type, len, dim;
  std::vector<uint32_t> words;
};

TEST_F(FieldWire, HostileInputIsRefusedWithoutWritingPastTheField) {
  std::vector<Hostile> const cases = {
      {"run past the array", SvField::INT, 0, 3, {kMarker, 5, 7}},
      {"run past the rest", SvField::INT, 0, 3, {1, kMarker, 3, 7}},
      {"negative count", SvField::INT, 0, 3, {kMarker, uint32_t(-2), 7}},
      {"zero count", SvField::OBJECT, 0, 2, {kMarker, 0, 1, 2}},
      {"number run past the array", SvField::NUM, 4, 2, {kMarker, 3, 0x32010005u}},
      {"number count -1", SvField::NUM, 4, 1, {kMarker, uint32_t(-1), 0x32010005u}},
      {"date count -1", SvField::DATE, 0, 1, {kMarker, uint32_t(-1), 100}},
      {"time run past the array", SvField::TIME, 0, 2, {kMarker, 9, 3600}},
      {"bool run past the array", SvField::BOOL, 0, 2, {kMarker, 3, 1}},
      {"vso run past the array", SvField::VSO, 0, 2, {kMarker, 3, 1, 2, 3}},
      {"string longer than L+z", SvField::STRING, 5, 2, {7, 0x41414141, 0x41414141}},
      {"second string longer than L+z", SvField::STRING, 5, 2, {6, 0x41414141, 0x4141, 9, 0, 0, 0}},
      {"string length negative", SvField::STRING, 5, 1, {uint32_t(-5)}},
      {"dry channel", SvField::INT, 0, 4, {1, 2}},
      {"dry string", SvField::STRING, 8, 1, {8, 0x41414141}},
      {"dry object", SvField::OBJECT, 0, 1, {5}},
  };
  constexpr size_t kGuard = 32;
  for (auto const& h : cases) {
    SCOPED_TRACE(h.what);
    clearError();
    auto t = makeTable();
    SvField* f = add(*t, h.type, h.len, 0, h.dim);
    ASSERT_NE(f, nullptr);
    size_t size = size_t(f->dim() * f->ilength(true));
    // The field's bytes and a guard area right behind them.
    std::vector<char> area(size + kGuard, char(0xAB));
    LoopConnection c;
    c.feed(h.words);
    char* p = area.data();
    EXPECT_FALSE(f->receive(&c, p, true, -1));
    EXPECT_TRUE(c.bad());
    for (size_t i = size; i < area.size(); ++i) ASSERT_EQ(area[i], char(0xAB)) << "guard byte " << i - size;
    EXPECT_EQ(pending(), 35);
    EXPECT_NE(pendingText().find("s.t.f"), std::string::npos) << pendingText();
  }
}

TEST_F(FieldWire, RandomWordsNeverReachPastTheField) {
  std::mt19937 rng(16);
  uint32_t const picks[] = {kMarker, 0x7FFFFFFF, 0, 1, 2, 3, 4, 5, uint32_t(-1), 0x80000000u, 0x32010005u,
                            0x33020001u, 0x64000000u};
  constexpr size_t kGuard = 32;
  for (int32_t type : {SvField::STRING, SvField::NUM, SvField::FLOAT, SvField::INT, SvField::TIME, SvField::DATE,
                       SvField::BOOL, SvField::OBJECT, SvField::VSO}) {
    SCOPED_TRACE(type);
    auto t = makeTable();
    SvField* f = add(*t, type, 5, 1, 4);
    size_t size = size_t(f->dim() * f->ilength(true));
    for (int round = 0; round < 300; ++round) {
      std::vector<uint32_t> words(rng() % 24);
      for (uint32_t& w : words) w = rng() % 3 == 0 ? uint32_t(rng()) : picks[rng() % (sizeof picks / 4)];
      std::vector<char> area(size + kGuard, char(0xAB));
      LoopConnection c;
      c.feed(words);
      char* p = area.data();
      bool ok = f->receive(&c, p, true, -1);
      EXPECT_EQ(p, area.data() + size);
      for (size_t i = size; i < area.size(); ++i) ASSERT_EQ(area[i], char(0xAB));
      if (ok) {
        EXPECT_FALSE(c.bad());
      }
      clearError();
    }
  }
}

TEST_F(FieldWire, ANumberThatDoesNotFitStopsTheReceive) {
  auto t = makeTable();
  SvField* n = add(*t, SvField::NUM, 4, 0, 3);
  auto rec = record(*t);
  fill(n, rec, {"1", "2", "3"});
  LoopConnection c;
  c << Num(5) << Num(10000) << Num(7);
  c.rewind();
  char* p = rec.data() + n->tableOffset();
  EXPECT_FALSE(n->receive(&c, p, true, -1));
  EXPECT_EQ(texts(n, rec), (std::vector<std::string>{"5", "2", "3"}));
  EXPECT_EQ(pendingText(), "Invalid data: s.t.f = 10000");
}

}  // namespace

namespace {

TEST_F(FieldWire, ACollatingSetMapsStoredTextAndUnmapsWhatLeaves) {
  zftest::TempDir tmp;
  CollateSet cs(String(tmp.write("cba.col", "c\nb\na\n").c_str()));
  ASSERT_TRUE(cs.ok());
  auto t = makeTable();
  SvField* s = SvField::mkField(t.get(), 0, String("s"), String(), nullptr, String(), 4, 0, SvField::STRING, -1, 0,
                                2, nullptr, nullptr, &cs, ObjectId(), String());
  auto rec = record(*t);
  fill(s, rec, {"ab", "c"});
  // In the record: positions (c 32, b 33, a 34), so the key order is the set's.
  EXPECT_EQ(std::string(rec.data() + s->tableOffset(), 10), std::string("\x22\x21\0\0\0\x20\0\0\0\0", 10));
  EXPECT_EQ(texts(s, rec), (std::vector<std::string>{"ab", "c"}));
  EXPECT_EQ(sent(s, rec), pushed({"ab", "c"}));
  LoopConnection c;
  for (uint32_t w : pushed({"ca", "b"})) c << int32_t(w);
  c.rewind();
  char* p = rec.data() + s->tableOffset();
  ASSERT_TRUE(s->receive(&c, p, true, -1));
  EXPECT_EQ(std::string(rec.data() + s->tableOffset(), 10), std::string("\x20\x22\0\0\0\x21\0\0\0\0", 10));
  LoopConnection set;
  set << String("bcaab");
  set.rewind();
  ASSERT_TRUE(s->receiveSet(&set, rec.data() + s->tableOffset(), 2));
  EXPECT_EQ(texts(s, rec), (std::vector<std::string>{"bcaa", "bcaa"}));
}

}  // namespace
