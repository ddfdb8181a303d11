// Field converters: wire forms of every field type, runs of equal array
// elements, decimals, null and highest values, and hostile replies that
// must not make the library write past a field.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <zfound/LoopConnection.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>

#include "Omdb.h"

namespace {

s_field makeField(int32_t type, int32_t len, int32_t dim = 0, int32_t dec = 0) {
  s_field f{};
  f.d.type = uint16_t(type);
  f.d.len = uint16_t(type == 10 ? 9 : len);
  f.d.f_itype = uint16_t(CalcItype(type, f.d.len));
  f.d.dim = uint16_t(dim < 2 ? 0 : dim);
  f.d.dec = uint8_t(dec);
  return f;
}

int32_t bytesOf(s_field const& f) { return dbElemSize(f.d.f_itype, f.d.len) * (f.d.dim > 1 ? f.d.dim : 1); }

// The wire words of a number.
std::vector<uint32_t> numWords(char const* text) {
  LoopConnection c;
  c << toNum(text);
  return c.words();
}
uint32_t numWord(char const* text) { return numWords(text).at(0); }

// Sends the field held in `buffer`; the words that went out.
std::vector<uint32_t> sent(s_field const& f, std::vector<char> const& buffer, int32_t n = 0, bool full = false) {
  std::unique_ptr<ZxField> z(BuildZxField(&f));
  EXPECT_NE(z, nullptr);
  LoopConnection c;
  if (z) z->send(c, buffer.data(), n, full);
  return c.words();
}

// Receives `words` into a buffer of the field's size with guard bytes after
// it; false when the receive refused. The guard must never change.
bool received(s_field const& f, std::vector<uint32_t> const& words, std::vector<char>& out) {
  std::unique_ptr<ZxField> z(BuildZxField(&f));
  EXPECT_NE(z, nullptr);
  if (!z) return false;
  int32_t const size = bytesOf(f);
  std::vector<char> buf(size_t(size) + 64, char(0x5a));
  LoopConnection c;
  c.feed(words);
  bool ok = z->receive(c, buf.data());
  for (size_t i = size_t(size); i < buf.size(); ++i) EXPECT_EQ(buf[i], char(0x5a)) << "byte " << i << " past the field";
  out.assign(buf.begin(), buf.begin() + size);
  return ok;
}

std::vector<char> longs(std::vector<int32_t> const& v) {
  std::vector<char> b(v.size() * 4);
  for (size_t i = 0; i < v.size(); ++i) stlong(v[i], &b[i * 4]);
  return b;
}

std::vector<char> shorts(std::vector<int32_t> const& v) {
  std::vector<char> b(v.size() * 2);
  for (size_t i = 0; i < v.size(); ++i) stshort(v[i], &b[i * 2]);
  return b;
}

constexpr uint32_t kMarker = 0x7ffffffe;

TEST(OmdbConvert, InternalTypes) {
  struct Case {
    int32_t type, len, itype;
  } const cases[] = {
      {0, 2, DB_IT_BYTE},  {0, 4, DB_IT_SHORT}, {0, 9, DB_IT_LONG},   {0, 15, DB_IT_DOUBLE}, {0, 28, DB_IT_NUM},
      {0, 29, -1},         {1, 20, DB_IT_TEXT}, {2, 0, DB_IT_DATE},   {3, 0, DB_IT_TIME},    {4, 8, DB_IT_DOUBLE},
      {5, 1, DB_IT_BYTE},  {8, 0, DB_IT_OBJECT}, {9, 0, DB_IT_BINARY}, {10, 9, DB_IT_LONG},  {6, 0, -1},
      {7, 0, -1},          {-1, 0, -1},
  };
  for (Case const& c : cases) EXPECT_EQ(CalcItype(c.type, c.len), c.itype) << c.type << "/" << c.len;
}

TEST(OmdbConvert, RunsOfEqualElementsGoOnce) {
  s_field tenLongs = makeField(0, 9, 10);
  EXPECT_EQ(sent(tenLongs, longs(std::vector<int32_t>(10, 7))), (std::vector<uint32_t>{kMarker, 10, numWord("7")}));
  s_field three = makeField(0, 9, 3);
  EXPECT_EQ(sent(three, longs({1, 1, 2})), (std::vector<uint32_t>{kMarker, 2, numWord("1"), numWord("2")}));
  EXPECT_EQ(sent(three, longs({1, 2, 2})), (std::vector<uint32_t>{numWord("1"), kMarker, 2, numWord("2")}));
  // Integers go as plain words; one equal to the marker behind a count of 1.
  s_field ints = makeField(10, 9, 3);
  EXPECT_EQ(sent(ints, longs({5, int32_t(kMarker), int32_t(kMarker)})),
            (std::vector<uint32_t>{5, kMarker, 2, kMarker}));
  s_field one = makeField(10, 9);
  EXPECT_EQ(sent(one, longs({int32_t(kMarker)})), (std::vector<uint32_t>{kMarker, 1, kMarker}));
  std::vector<char> back;
  ASSERT_TRUE(received(one, {kMarker, 1, kMarker}, back));
  EXPECT_EQ(ldlong(back.data()), int32_t(kMarker));
}

TEST(OmdbConvert, DecimalsShiftTheNumber) {
  s_field price = makeField(0, 9, 0, 2);
  EXPECT_EQ(sent(price, longs({12345})), numWords("123.45"));
  std::vector<char> back;
  ASSERT_TRUE(received(price, numWords("1.5"), back));
  EXPECT_EQ(ldlong(back.data()), 150);
  // Null and highest are not shifted.
  ASSERT_TRUE(received(price, {uint32_t(uint8_t(Num::kNullExp)) << 24}, back));
  EXPECT_EQ(ldlong(back.data()), INT32_MIN);
  ASSERT_TRUE(received(price, {uint32_t(uint8_t(Num::kHighExp)) << 24}, back));
  EXPECT_EQ(ldlong(back.data()), INT32_MAX);
}

// Every type goes out and comes back as it was, null and highest included.
TEST(OmdbConvert, EveryTypeRoundTrips) {
  std::vector<char> dbl(8), num(16), obj(8), bin(12);
  stdbl(-2.5, dbl.data());
  Num big = toNum("1234567890.123");
  stnum(&big, num.data());
  stlong(7, obj.data());
  stlong(42, obj.data() + 4);
  stlong(1, bin.data());
  stlong(-2, bin.data() + 4);
  stlong(3, bin.data() + 8);
  struct Case {
    char const* what;
    s_field f;
    std::vector<char> value;
  } const cases[] = {
      {"byte", makeField(0, 2), {char(-12)}},
      {"byte null", makeField(0, 2), {char(-128)}},
      {"short", makeField(0, 4), shorts({-1234})},
      {"short highest", makeField(0, 4), shorts({32767})},
      {"long", makeField(0, 9), longs({-987654})},
      {"long null", makeField(0, 9), longs({INT32_MIN})},
      {"long highest", makeField(0, 9), longs({INT32_MAX})},
      {"double", makeField(0, 15), dbl},
      {"number", makeField(0, 20, 0, 3), num},
      {"date", makeField(2, 0), shorts({15000})},
      {"date null", makeField(2, 0), shorts({-32768})},
      {"date highest", makeField(2, 0), shorts({32766})},
      {"time", makeField(3, 0), shorts({1801})},
      {"time null", makeField(3, 0), shorts({0})},
      {"bool", makeField(5, 1), {char(1)}},
      {"integer", makeField(10, 9), longs({-5})},
      {"object", makeField(8, 0), obj},
      {"binary", makeField(9, 0), bin},
      {"text", makeField(1, 5), {'a', 'b', 'c', 0, 0, 0}},
      {"dates array", makeField(2, 0, 3), shorts({1, 1, -32768})},
  };
  for (Case const& c : cases) {
    std::vector<char> back;
    ASSERT_EQ(int32_t(c.value.size()), bytesOf(c.f)) << c.what;
    ASSERT_TRUE(received(c.f, sent(c.f, c.value, c.f.d.len, true), back)) << c.what;
    EXPECT_EQ(back, c.value) << c.what;
  }
}

TEST(OmdbConvert, DateAndTimeWireValues) {
  EXPECT_EQ(sent(makeField(2, 0), shorts({-32768})), (std::vector<uint32_t>{0x80000000u}));
  EXPECT_EQ(sent(makeField(2, 0), shorts({32766})), (std::vector<uint32_t>{0x7fffffffu}));
  EXPECT_EQ(sent(makeField(3, 0), shorts({0})), (std::vector<uint32_t>{0x80000000u}));
  EXPECT_EQ(sent(makeField(3, 0), shorts({1801})), (std::vector<uint32_t>{3600}));
  struct Case {
    int32_t type;
    uint32_t wire;
    int32_t buffer;
  } const cases[] = {
      {2, 0x80000000u, -32768}, {2, 0x7fffffffu, 32766}, {2, uint32_t(-40000), -32768}, {2, 40000, 32766},
      {2, 123, 123},            {3, 0x80000000u, 0},     {3, 0x7fffffffu, 43200},      {3, 3600, 1801},
      {3, 86400 + 3600, 1801},  {3, uint32_t(-2), 43200},
  };
  for (Case const& c : cases) {
    std::vector<char> back;
    ASSERT_TRUE(received(makeField(c.type, 0), {c.wire}, back)) << c.wire;
    EXPECT_EQ(ldshort(back.data()), int16_t(c.buffer)) << c.type << " " << c.wire;
  }
}

TEST(OmdbConvert, TextsAreBoundedByTheFieldLength) {
  s_field text = makeField(1, 5);
  // Not sent with `full`: at most n characters, never more than the field.
  std::vector<char> value = {'a', 'b', 'c', 'd', 'e', 0};
  LoopConnection expect;
  expect << String("abc");
  EXPECT_EQ(sent(text, value, 3, false), expect.words());
  LoopConnection five;
  five << String("abcde");
  EXPECT_EQ(sent(text, value, 99, false), five.words());
  // With `full` a buffer without its NUL still sends only the field length.
  std::vector<char> unterminated(6, 'x');
  LoopConnection xs;
  xs << String("xxxxx");
  EXPECT_EQ(sent(text, unterminated, 0, true), xs.words());
}

// Replies that would overrun the field are refused or cut, and nothing is
// written past the field (the guard bytes of `received`).
TEST(OmdbConvert, HostileRepliesStayInsideTheField) {
  std::vector<char> back;
  s_field three = makeField(10, 9, 3);
  EXPECT_FALSE(received(three, {kMarker, 4, 1}, back));
  EXPECT_FALSE(received(three, {kMarker, 0x7fffffff, 1}, back));
  EXPECT_FALSE(received(three, {kMarker, 0, 1}, back));
  EXPECT_FALSE(received(three, {1, kMarker, 3, 2}, back));
  s_field nums = makeField(0, 9, 3);
  EXPECT_FALSE(received(nums, {kMarker, 5, numWord("1")}, back));
  s_field dates = makeField(2, 0, 2);
  EXPECT_FALSE(received(dates, {kMarker, 3, 1}, back));
  // Too few words: refused, not read past the reply.
  EXPECT_FALSE(received(three, {1}, back));
  // An over-long text is cut to the field length.
  s_field text = makeField(1, 5, 2);
  LoopConnection longText;
  longText << String("abcdefghijklmnopqrstuvwxyz") << String("xy");
  ASSERT_TRUE(received(text, longText.words(), back));
  EXPECT_EQ(std::string(back.data()), "abcde");
  EXPECT_EQ(back[5], 0);
  EXPECT_EQ(std::string(back.data() + 6), "xy");
  // A binary field is never an array.
  s_field binArray = makeField(9, 0, 2);
  EXPECT_EQ(BuildZxField(&binArray), nullptr);
}

}  // namespace

namespace {

// Object ids in received value checks take the library's numbering:
// (server table number, n) becomes (0, table handle | (n + 1)), and the
// index of a referential check the library's number of the server's index.
TEST(OmdbConvert, ValueChecksTakeTheLibrarysObjectIds) {
  addDbTable(0x5001, 0x10100);
  ZxInList list;
  list.setNegation(false);
  list.addKeyVal(AnyValue(ObjectId(0x5001, 2)));
  list.addKeyVal(AnyValue(String("plain")));
  list.addDspFld(AnyValue(ObjectId(0, 7)));
  // Table 1 of the schema, attached, with the server's indexes 0 and 2
  // (its index 1 was dropped).
  s_table tab{};
  om_table extra;
  extra.number = 0x5001;
  extra.indexes.resize(2);
  extra.indexes[0].kept = 0;
  extra.indexes[1].kept = 2;
  tab.u.om = &extra;
  tab.d.len = kOmPrefixBytes;
  tab.nindexes = 2;
  std::vector<tab_array> tables(kDbMaxTables + 1);
  tables[1].tab = &tab;
  s_schema sp{};
  sp.handle = 0x10000;
  sp.tables = tables.data();
  ASSERT_TRUE(convertZx(list, &sp));
  EXPECT_EQ(toObjectId(*list.keyValue(0)), ObjectId(0, 0x10103));
  EXPECT_EQ(toObjectId(*list.dspField(0)), ObjectId(0, 7));
  struct {
    uint32_t server;
    uint32_t library;
  } const indexes[] = {{0, 0x10100}, {2, 0x10101}, {1, 0x10100 | kOmNoIndex}, {300, 0x10100 | kOmNoIndex}};
  for (auto const& c : indexes) {
    ZxIntegrity ref;
    ref.setIndex(ObjectId(0x5001, c.server));
    ASSERT_TRUE(convertZx(ref, &sp)) << c.server;
    EXPECT_EQ(ref.index(), ObjectId(0, c.library)) << c.server;
  }
  // A table the schema does not know refuses the check.
  ZxInList unknown;
  unknown.addKeyVal(AnyValue(ObjectId(0x7777, 1)));
  EXPECT_FALSE(convertZx(unknown, &sp));
  EXPECT_FALSE(convertZx(list, nullptr));
  // A refused check is left as it came, the ids before the unknown one too,
  // and so is an integrity check whose index names an unknown table.
  ZxInList mixed;
  mixed.addKeyVal(AnyValue(ObjectId(0x5001, 2)));
  mixed.addKeyVal(AnyValue(ObjectId(0x7777, 1)));
  EXPECT_FALSE(convertZx(mixed, &sp));
  EXPECT_EQ(toObjectId(*mixed.keyValue(0)), ObjectId(0x5001, 2));
  ZxIntegrity badRef;
  badRef.addKeyVal(AnyValue(ObjectId(0x5001, 3)));
  badRef.setIndex(ObjectId(0x7777, 1));
  EXPECT_FALSE(convertZx(badRef, &sp));
  EXPECT_EQ(toObjectId(*badRef.keyValue(0)), ObjectId(0x5001, 3));
  // The number is looked up in the check's own schema only: another
  // server's schema may use the same number for a table of its own.
  s_schema other{};
  other.handle = 0x20000;
  ZxInList elsewhere;
  elsewhere.addKeyVal(AnyValue(ObjectId(0x5001, 2)));
  EXPECT_FALSE(convertZx(elsewhere, &other));
  delDbTable(0x5001, 0x10000);
  EXPECT_EQ(findDbTable(0x5001), -1);
}

}  // namespace
