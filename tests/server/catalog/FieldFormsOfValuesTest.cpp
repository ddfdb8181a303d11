// Field record, key and text forms: text round trips, key order against
// value order for every class, stamp fields, representation and shape
// rules, and the refusals of the factory and of the text stores.
#include "FieldFixture.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include <zfound/Boolean.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/TimeStamp.h>

namespace {

class FieldForms : public FieldTest {};

TEST_F(FieldForms, ElementSizes) {
  struct Size {
    int32_t type, len, dec, record, key, client;
  };
  for (Size const& z : {Size{SvField::STRING, 5, 0, 6, 5, 12}, Size{SvField::STRING, 8, 0, 9, 8, 12},
                         Size{SvField::NUM, 5, 2, 4, 4, Num::conLength(5, 2)},
                         Size{SvField::NUM, 4, 0, 2, 2, Num::conLength(4, 0)},
                         Size{SvField::NUM, 28, 10, 16, 16, Num::conLength(28, 10)}, Size{SvField::FLOAT, 0, 0, 16, 16, 16},
                         Size{SvField::INT, 0, 0, 4, 4, 4}, Size{SvField::TIME, 0, 0, 2, 2, 4},
                         Size{SvField::DATE, 0, 0, 2, 2, 4}, Size{SvField::BOOL, 0, 0, 1, 1, 4},
                         Size{SvField::OBJECT, 0, 0, 8, 8, 8}, Size{SvField::VSO, 0, 0, 12, 12, 12}}) {
    SCOPED_TRACE(z.type);
    auto t = makeTable();
    SvField* f = add(*t, z.type, z.len, z.dec, 3);
    EXPECT_EQ(f->ilength(true), z.record);
    EXPECT_EQ(f->ilength(false), z.key);
    EXPECT_EQ(f->clength(), z.client);
    EXPECT_EQ(t->nextOffset(), 20 + 3 * z.record);
    EXPECT_EQ(t->conRecLength(), 20 + 3 * z.client);
    EXPECT_EQ(f->getSqlType(), -1);
  }
}

struct TextCase {
  int32_t type, len, dec;
  std::string in, out;
};

TEST_F(FieldForms, TextRoundTrips) {
  std::vector<TextCase> const cases = {
      {SvField::STRING, 5, 0, "ab", "ab"},
      {SvField::STRING, 5, 0, "abcdefg", "abcde"},
      {SvField::STRING, 5, 0, "", ""},
      {SvField::NUM, 9, 2, "-1234.5", "-1234.5"},
      {SvField::NUM, 9, 2, "1.23456", "1.2345"},
      {SvField::NUM, 9, 2, "", ""},
      {SvField::FLOAT, 0, 0, "-1.25e-3", "-0.00125"},
      {SvField::FLOAT, 0, 0, "", ""},
      {SvField::INT, 0, 0, "-5", "-5"},
      {SvField::INT, 0, 0, "0x10", "16"},
      {SvField::INT, 0, 0, "2147483647", "2147483647"},
      {SvField::INT, 0, 0, "-2147483648", ""},
      {SvField::INT, 0, 0, "", ""},
      {SvField::TIME, 0, 0, "12:34:56", "12:34:56"},
      {SvField::TIME, 0, 0, "", ""},
      {SvField::DATE, 0, 0, "29/02/2000", "29/02/2000"},
      {SvField::DATE, 0, 0, "", ""},
      {SvField::BOOL, 0, 0, "1", "1"},
      {SvField::BOOL, 0, 0, "0", "0"},
      {SvField::BOOL, 0, 0, "", ""},
      {SvField::BOOL, 0, 0, "-1", ""},
      {SvField::OBJECT, 0, 0, "42", "<0, 42>"},
      {SvField::OBJECT, 0, 0, " < 12 ,34 > ", "<12, 34>"},
      {SvField::OBJECT, 0, 0, "<-1, 4294967295>", "<-1, -1>"},
      {SvField::OBJECT, 0, 0, "", "<0, 0>"},
      {SvField::VSO, 0, 0, "<1, -2, 3>", "<1, -2, 3>"},
      {SvField::VSO, 0, 0, "", "<0, 0, 0>"},
  };
  for (auto const& tc : cases) {
    SCOPED_TRACE(tc.in);
    auto t = makeTable();
    SvField* f = add(*t, tc.type, tc.len, tc.dec);
    auto rec = record(*t);
    fill(f, rec, {tc.in});
    EXPECT_EQ(pending(), 0) << pendingText();
    EXPECT_EQ(texts(f, rec)[0], tc.out);
    // The rendered text stores the same bytes again (copies through text keep the value).
    auto again = record(*t);
    fill(f, again, {tc.out});
    EXPECT_EQ(0, std::memcmp(rec.data(), again.data(), rec.size()));
  }
}

TEST_F(FieldForms, HighestTextsRoundTrip) {
  String high(String::kHighLength, nullptr);
  for (int32_t type : {SvField::STRING, SvField::TIME, SvField::DATE, SvField::NUM, SvField::FLOAT}) {
    SCOPED_TRACE(type);
    auto t = makeTable();
    SvField* f = add(*t, type, 6, 0);
    auto rec = record(*t);
    char* p = rec.data() + f->tableOffset();
    f->store(p, high, true, -1);
    String back;
    char const* q = rec.data() + f->tableOffset();
    f->load(back, q, true, -1);
    EXPECT_TRUE(back.isHighest()) << zftest::str(back);
  }
}

TEST_F(FieldForms, NullsAndValues) {
  auto t = makeTable();
  SvField* b = add(*t, SvField::BOOL, 0, 0, 3, 0, "b");
  SvField* i = add(*t, SvField::INT, 0, 0, 1, 0, "i");
  SvField* o = add(*t, SvField::OBJECT, 0, 0, 1, 0, "o");
  SvField* v = add(*t, SvField::VSO, 0, 0, 1, 0, "v");
  auto rec = record(*t);
  fill(b, rec, {"", "0", "1"});
  fill(i, rec, {""});
  fill(o, rec, {"<3, 4>"});
  fill(v, rec, {"<1, 2, 3>"});
  char const* e = rec.data() + b->tableOffset();
  EXPECT_EQ(std::string(e, 3), "\x7f\x80\x81");
  EXPECT_TRUE(b->isNull(e));
  EXPECT_FALSE(b->isNull(e + 1));
  EXPECT_TRUE(b->value(e).isNull());
  EXPECT_EQ(toBoolean(b->value(e + 1)), Boolean(false));
  EXPECT_EQ(toBoolean(b->value(e + 2)), Boolean(true));
  LoopConnection c;
  char* p = rec.data() + b->tableOffset();
  b->send(&c, p, true);
  EXPECT_EQ(c.words(), (std::vector<uint32_t>{uint32_t(-1), 0, 1}));
  char const* ie = rec.data() + i->tableOffset();
  EXPECT_TRUE(i->isNull(ie));
  EXPECT_TRUE(i->value(ie).isNull());
  AnyValue ov = o->value(rec.data() + o->tableOffset());
  EXPECT_EQ(ov.x(), 3);
  EXPECT_EQ(ov.y(), 4);
  AnyValue vv = v->value(rec.data() + v->tableOffset());
  EXPECT_EQ(vv.x(), 2);
  EXPECT_EQ(vv.y(), 3);
  int32_t l = 0;
  EXPECT_FALSE(i->loadInt(l, ie));
}

TEST_F(FieldForms, StoresFromALong) {
  auto t = makeTable();
  SvField* n = add(*t, SvField::NUM, 5, 1, 1, 0, "n");
  SvField* i = add(*t, SvField::INT, 0, 0, 1, 0, "i");
  SvField* o = add(*t, SvField::OBJECT, 0, 0, 1, 0, "o");
  SvField* s = add(*t, SvField::STRING, 4, 0, 1, 0, "s");
  SvField* v = add(*t, SvField::VSO, 0, 0, 1, 0, "v");
  auto rec = record(*t);
  char* p = rec.data() + n->tableOffset();
  EXPECT_TRUE(n->store(p, 123));
  EXPECT_TRUE(i->store(p, -9));
  EXPECT_TRUE(o->store(p, 77));
  EXPECT_FALSE(s->store(p, 1));
  EXPECT_EQ(pending(), 0);
  EXPECT_FALSE(v->store(p, 5));
  EXPECT_EQ(pendingText(), "Invalid data: s.t.v = 5");
  EXPECT_EQ(p, rec.data() + rec.size());
  EXPECT_EQ(texts(n, rec)[0], "123");
  EXPECT_EQ(texts(i, rec)[0], "-9");
  EXPECT_EQ(texts(o, rec)[0], "<0, 77>");
  int32_t back = 0;
  EXPECT_TRUE(n->loadInt(back, rec.data() + n->tableOffset()));
  EXPECT_EQ(back, 123);
  clearError();
  p = rec.data() + n->tableOffset();
  EXPECT_FALSE(n->store(p, 100000));
  EXPECT_EQ(pendingText(), "Invalid data: s.t.n = 100000");
}

TEST_F(FieldForms, MalformedObjectAndVsoTextsAreRefused) {
  struct Bad {
    int32_t type;
    char const* text;
  };
  for (Bad const& b : {Bad{SvField::OBJECT, "<1, x>"}, Bad{SvField::OBJECT, "<1, 2, 3>"},
                       Bad{SvField::OBJECT, "<1 2>"}, Bad{SvField::VSO, "5"}, Bad{SvField::VSO, "<1, 2>"},
                       Bad{SvField::VSO, "<1, 2, 3> x"}, Bad{SvField::VSO, "<1, 2, 99999999999>"}}) {
    SCOPED_TRACE(b.text);
    clearError();
    auto t = makeTable();
    SvField* f = add(*t, b.type);
    auto rec = record(*t);
    fill(f, rec, {"<7, 7, 7>"});
    fill(f, rec, {"7"});  // a bare number for the object; refused for the VSO (keeps <7, 7, 7>)
    std::string before = texts(f, rec)[0];
    clearError();
    char* p = rec.data() + f->tableOffset();
    EXPECT_FALSE(f->store(p, String(b.text), true, -1));
    EXPECT_EQ(p, rec.data() + f->tableOffset() + f->ilength(true));
    EXPECT_EQ(texts(f, rec)[0], before);
    EXPECT_EQ(pendingText(), std::string("Invalid data: s.t.f = ") + b.text);
  }
}

TEST_F(FieldForms, DamagedRecordBytesReadAsNullOrBounded) {
  auto t = makeTable();
  SvField* s = add(*t, SvField::STRING, 4, 0, 1, 0, "s");
  SvField* n = add(*t, SvField::NUM, 4, 0, 1, 0, "n");
  SvField* fl = add(*t, SvField::FLOAT, 0, 0, 1, 0, "fl");
  SvField* b = add(*t, SvField::BOOL, 0, 0, 1, 0, "b");
  auto rec = record(*t);
  // The string's terminating byte (offset L) is not 0.
  std::memset(rec.data() + s->tableOffset(), 'z', 5);
  // A packed number's unit above 9999 (0x8000 + 10000).
  rec[size_t(n->tableOffset())] = char(0xA7);
  rec[size_t(n->tableOffset()) + 1] = char(0x10);
  // A float whose exponent byte is out of range.
  rec[size_t(fl->tableOffset())] = char(0xFF);
  rec[size_t(b->tableOffset())] = char(0x05);
  EXPECT_EQ(texts(s, rec)[0], "zzzz");
  EXPECT_EQ(texts(n, rec)[0], "");
  EXPECT_TRUE(n->value(rec.data() + n->tableOffset()).isNull());
  EXPECT_EQ(texts(fl, rec)[0], "");
  EXPECT_TRUE(fl->isNull(rec.data() + fl->tableOffset()));
  EXPECT_EQ(texts(b, rec)[0], "-123");
  LoopConnection c;
  char* p = rec.data() + s->tableOffset();
  s->send(&c, p, true);
  std::vector<uint32_t> w = c.words();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], 4u);  // no more than L characters go out
}

// ---- key order ---------------------------------------------------------------------

// Checks that the keys of `values` (already in ascending value order, equal
// values next to each other, `same(a, b)` telling equal ones) are in the same
// memcmp order.
void checkKeyOrder(SvField* f, SvTabRep& t, std::vector<std::string> const& values,
                   std::function<bool(size_t, size_t)> same) {
  std::vector<std::string> keys;
  for (auto const& v : values) {
    std::vector<char> rec(size_t(t.nextOffset()), 0);
    char* p = rec.data() + f->tableOffset();
    f->store(p, String(long(v.size()), v.data()), true, -1);
    std::string key(size_t(f->ilength(false)), '\0');
    char* k = key.data();
    ASSERT_TRUE(f->store(nullptr, k, rec.data() + f->tableOffset(), f->ilength(false), rec.data()));
    keys.push_back(key);
  }
  for (size_t i = 1; i < keys.size(); ++i) {
    int c = std::memcmp(keys[i - 1].data(), keys[i].data(), keys[i].size());
    if (same(i - 1, i))
      EXPECT_EQ(c, 0) << values[i - 1] << " / " << values[i];
    else
      EXPECT_LT(c, 0) << values[i - 1] << " / " << values[i];
  }
}

TEST_F(FieldForms, KeyFormsOrderLikeTheValues) {
  std::mt19937 rng(20261210);
  auto t = makeTable();
  String high(String::kHighLength, nullptr);
  std::string highText = "\x01HIGH";  // replaced by the highest String below

  {  // int: signed order, null (0x80000000) first
    SvField* f = add(*t, SvField::INT, 0, 0, 1, 0, "i");
    std::vector<int32_t> v = {INT32_MIN, INT32_MAX, -1, 0, 1, 0x7FFFFFFE};
    for (int k = 0; k < 200; ++k) v.push_back(int32_t(rng()));
    std::sort(v.begin(), v.end());
    std::vector<std::string> s;
    for (int32_t x : v) s.push_back(std::to_string(x));
    checkKeyOrder(f, *t, s, [&](size_t a, size_t b) { return v[a] == v[b]; });
  }
  {  // number 11,3 and float: Num order, null first, highest last
    for (int32_t type : {SvField::NUM, SvField::FLOAT}) {
      SvField* f = add(*t, type, 11, 3, 1, 0, "n");
      std::vector<Num> v = {Num(), -Num(), Num(0), toNum("0.001"), toNum("-0.001"), toNum("99999999.999"),
                            toNum("-99999999.999")};
      std::uniform_int_distribution<int64_t> d(-99999999999LL, 99999999999LL);
      for (int k = 0; k < 200; ++k) v.push_back(toNum(std::to_string(d(rng)).c_str()).shift(-int32_t(3 + rng() % 2)));
      std::sort(v.begin(), v.end(), [](Num const& a, Num const& b) { return NumCmp(&a, &b) < 0; });
      std::vector<std::string> s;
      for (Num const& x : v) s.push_back(x.isMax() ? std::string("(high value)") : zftest::str(toString(x)));
      std::vector<char> recs;
      // The highest number has no text that toNum reads back: store it directly.
      SvField* g = f;
      std::vector<std::string> keys;
      for (Num const& x : v) {
        std::vector<char> rec(size_t(t->nextOffset()), 0);
        char* p = rec.data() + g->tableOffset();
        if (type == SvField::NUM)
          ASSERT_TRUE(g->numField()->put(p, x)) << zftest::str(toString(x));
        else
          SvFloatField::put(p, x);
        std::string key(size_t(g->ilength(false)), '\0');
        char* k = key.data();
        g->store(nullptr, k, p, g->ilength(false), rec.data());
        keys.push_back(key);
      }
      for (size_t i = 1; i < keys.size(); ++i) {
        int c = std::memcmp(keys[i - 1].data(), keys[i].data(), keys[i].size());
        if (NumCmp(&v[i - 1], &v[i]) == 0)
          EXPECT_EQ(c, 0);
        else
          EXPECT_LT(c, 0) << s[i - 1] << " / " << s[i];
      }
    }
  }
  {  // string: byte order of the characters, null first, highest last
    SvField* f = add(*t, SvField::STRING, 6, 0, 1, 0, "s");
    std::vector<std::string> v = {"", "a", "a\x01", "\xfe\xfe\xfe\xfe\xfe\xfe", "\x01"};
    for (int k = 0; k < 200; ++k) {
      std::string x(rng() % 7, ' ');
      for (char& ch : x) ch = char(1 + rng() % 254);
      v.push_back(x);
    }
    std::sort(v.begin(), v.end(), [](std::string const& a, std::string const& b) {
      return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                          [](char x, char y) { return uint8_t(x) < uint8_t(y); });
    });
    std::vector<std::string> keys;
    auto keyOf = [&](String const& text) {
      std::vector<char> rec(size_t(t->nextOffset()), 0);
      char* p = rec.data() + f->tableOffset();
      f->store(p, text, true, -1);
      std::string key(6, '\0');
      char* k = key.data();
      f->store(nullptr, k, rec.data() + f->tableOffset(), 6, rec.data());
      return key;
    };
    for (auto const& x : v) keys.push_back(keyOf(String(long(x.size()), x.data())));
    keys.push_back(keyOf(high));
    for (size_t i = 1; i < keys.size(); ++i) {
      int c = std::memcmp(keys[i - 1].data(), keys[i].data(), 6);
      if (i < v.size() && v[i - 1] == v[i])
        EXPECT_EQ(c, 0);
      else
        EXPECT_LT(c, 0) << i;
    }
  }
  {  // time (two-second steps of the day): null first, highest last
    SvField* f = add(*t, SvField::TIME, 0, 0, 1, 0, "tm");
    std::vector<int32_t> v = {Time::kNull, Time::kHigh, 0, 86398};
    for (int k = 0; k < 200; ++k) v.push_back(int32_t(rng() % 43200) * 2);
    std::sort(v.begin(), v.end());
    std::vector<std::string> s;
    for (int32_t x : v) s.push_back(zftest::str(String(toCharPtr(toTime(x), 6))));
    for (auto& x : s)
      if (x == "(high)") x = "";
    std::vector<std::string> keys;
    for (int32_t x : v) {
      std::vector<char> rec(size_t(t->nextOffset()), 0);
      char* p = rec.data() + f->tableOffset();
      toTime(x).storeShort(p);
      std::string key(2, '\0');
      char* k = key.data();
      f->store(nullptr, k, rec.data() + f->tableOffset(), 2, rec.data());
      keys.push_back(key);
    }
    for (size_t i = 1; i < keys.size(); ++i) {
      int c = std::memcmp(keys[i - 1].data(), keys[i].data(), 2);
      if (v[i - 1] == v[i])
        EXPECT_EQ(c, 0);
      else
        EXPECT_LT(c, 0) << v[i - 1] << " / " << v[i];
    }
  }
  {  // date: day order, null first, highest last
    SvField* f = add(*t, SvField::DATE, 0, 0, 1, 0, "d");
    std::vector<int32_t> v = {Date::kNull, Date::kHigh, 0, -1, 1, 32765, -32767};
    for (int k = 0; k < 200; ++k) v.push_back(int32_t(rng() % 65531) - 32765);
    std::sort(v.begin(), v.end());
    std::vector<std::string> keys;
    for (int32_t x : v) {
      std::vector<char> rec(size_t(t->nextOffset()), 0);
      char* p = rec.data() + f->tableOffset();
      toDate(x).storeShort(p);
      std::string key(2, '\0');
      char* k = key.data();
      f->store(nullptr, k, rec.data() + f->tableOffset(), 2, rec.data());
      keys.push_back(key);
    }
    for (size_t i = 1; i < keys.size(); ++i) {
      int c = std::memcmp(keys[i - 1].data(), keys[i].data(), 2);
      if (v[i - 1] == v[i])
        EXPECT_EQ(c, 0);
      else
        EXPECT_LT(c, 0) << v[i - 1] << " / " << v[i];
    }
  }
  {  // bool: null < false < true
    SvField* f = add(*t, SvField::BOOL, 0, 0, 1, 0, "b");
    checkKeyOrder(f, *t, {"", "", "0", "1", "1"}, [](size_t a, size_t b) { return (a == 0 && b == 1) || a == 3; });
  }
  {  // object and VSO: the words in unsigned order
    for (int n : {2, 3}) {
      SvField* f = add(*t, n == 2 ? SvField::OBJECT : SvField::VSO, 0, 0, 1, 0, "o");
      std::vector<std::vector<uint32_t>> v = {std::vector<uint32_t>(size_t(n), 0),
                                              std::vector<uint32_t>(size_t(n), 0xFFFFFFFFu)};
      for (int k = 0; k < 200; ++k) {
        std::vector<uint32_t> w;
        for (int j = 0; j < n; ++j) w.push_back(rng() % 3 == 0 ? rng() % 3 : rng());
        v.push_back(w);
      }
      std::sort(v.begin(), v.end());
      std::vector<std::string> s;
      for (auto const& w : v) {
        std::string x = "<";
        for (int j = 0; j < n; ++j) x += (j ? ", " : "") + std::to_string(w[size_t(j)]);
        s.push_back(x + ">");
      }
      checkKeyOrder(f, *t, s, [&](size_t a, size_t b) { return v[a] == v[b]; });
    }
  }
  EXPECT_EQ(pending(), 0) << pendingText();
}

// ---- stamps ------------------------------------------------------------------------

TEST_F(FieldForms, StampFieldsKeyThePrefixStamps) {
  auto t = makeTable(TabFlag::kCreationStamp);
  SvField* user = add(*t, SvField::NUM, 5, 0, 1, FldFlag::kVirtual | FldFlag::kCStamp, "user");
  SvField* mtime = add(*t, SvField::TIME, 0, 0, 1, FldFlag::kVirtual | FldFlag::kMStamp, "mtime");
  SvField* cdate = add(*t, SvField::DATE, 0, 0, 1, FldFlag::kVirtual | FldFlag::kCStamp, "cdate");
  SvField* name = add(*t, SvField::STRING, 4, 0, 1, 0, "name");
  EXPECT_EQ(name->tableOffset(), 28);

  auto makeRec = [&](int32_t creator, Time created, Time modified) {
    std::vector<char> rec(size_t(t->nextOffset()), 0);
    TimeStamp c(created), m(modified);
    c.setUserId(creator);
    m.setUserId(9);
    char* p = rec.data() + SvTabRep::kCStampAt;
    c.store(p);
    p = rec.data() + SvTabRep::kMStampAt;
    m.store(p);
    return rec;
  };
  Time day1(10, 0, 0);  // 10:00 on the first day
  auto a = makeRec(42, day1, day1 + 3600);
  auto b = makeRec(0, day1 + 86400, day1 + 3600);
  auto keyOf = [&](SvField* f, std::vector<char> const& rec) {
    std::string key(size_t(f->ilength(false)), '\0');
    char* k = key.data();
    EXPECT_TRUE(f->store(nullptr, k, nullptr, f->ilength(false), rec.data()));
    return key;
  };
  std::string k42(4, '\0');
  Num(42)._store(k42.data(), 5, 0);
  EXPECT_EQ(keyOf(user, a), k42);
  EXPECT_EQ(keyOf(user, b), std::string(4, '\0'));  // user 0: the null number
  std::string t11(2, '\0');
  char* q = t11.data();
  (day1 + 3600).storeShort(q);
  EXPECT_EQ(keyOf(mtime, a), t11);
  EXPECT_TRUE(cdate->differ(nullptr, a.data(), b.data(), 2));
  EXPECT_TRUE(user->differ(nullptr, a.data(), b.data(), 4));
  EXPECT_FALSE(mtime->differ(nullptr, a.data(), b.data(), 2));
  String text;
  t->load(text, a.data());
  EXPECT_EQ(zftest::str(text), "(42, 11:00:00, " + zftest::str(String(toCharPtr(Date(day1.days()), 4))) + ", )");

  // A virtual field of another type has no bytes to key: refused.
  SvField* vs = add(*t, SvField::STRING, 4, 0, 1, FldFlag::kVirtual, "vs");
  std::string key(4, 'x');
  char* k = key.data();
  EXPECT_FALSE(vs->store(nullptr, k, nullptr, 4, a.data()));
  EXPECT_EQ(key, std::string(4, '\0'));
  EXPECT_EQ(pending(), 35);
}

// ---- representation, shape and the factory --------------------------------------------

TEST_F(FieldForms, CopyFromNeedsTheSameRepresentation) {
  auto t = makeTable();
  SvField* s10 = add(*t, SvField::STRING, 10, 0, 1, 0, "s10");
  SvField* s12 = add(*t, SvField::STRING, 12, 0, 1, 0, "s12");
  SvField* s10b = add(*t, SvField::STRING, 10, 0, 1, 0, "s10b");
  SvField* n52 = add(*t, SvField::NUM, 5, 2, 1, 0, "n52");
  SvField* n62 = add(*t, SvField::NUM, 6, 2, 1, 0, "n62");
  SvField* n92 = add(*t, SvField::NUM, 9, 2, 1, 0, "n92");
  auto rec = record(*t);
  fill(s10, rec, {"hello"});
  fill(n52, rec, {"123.45"});
  auto before = rec;
  EXPECT_FALSE(s12->copyFrom(rec.data(), s10));
  EXPECT_EQ(rec, before);
  EXPECT_TRUE(s10b->copyFrom(rec.data(), s10));
  EXPECT_EQ(texts(s10b, rec)[0], "hello");
  EXPECT_TRUE(n62->copyFrom(rec.data(), n52));
  EXPECT_EQ(texts(n62, rec)[0], "123.45");
  EXPECT_FALSE(n92->copyFrom(rec.data(), n52));
  EXPECT_FALSE(s10->sameRep(n52));
}

TEST_F(FieldForms, SetDataKeepsTheShapeOfALiveField) {
  auto t = makeTable();
  SvField* n = add(*t, SvField::NUM, 5, 2, 1, 0, "n");
  SvField* s = add(*t, SvField::STRING, 8, 0, 1, 0, "s");
  SvField* after = add(*t, SvField::INT, 0, 0, 1, 0, "after");
  int32_t offset = after->tableOffset();

  EXPECT_TRUE(n->setData(String(), String("d"), 1, String(), 6, 2, 0, SvField::NUM, 3));
  EXPECT_EQ(zftest::str(n->name()), "n");  // a null name keeps the old one
  EXPECT_EQ(n->length(), 6);
  EXPECT_EQ(zftest::str(n->descr()), "d");

  struct Change {
    char const* what;
    SvField* f;
    int32_t dim, len, dec, type;
    TabFldFlags flags;
  };
  for (Change const& c : {Change{"more units", n, 1, 9, 2, SvField::NUM, 0},
                          Change{"other fraction", n, 1, 6, 5, SvField::NUM, 0},
                          Change{"string length", s, 1, 12, 0, SvField::STRING, 0},
                          Change{"dimension", s, 3, 8, 0, SvField::STRING, 0},
                          Change{"type", s, 1, 8, 0, SvField::INT, 0},
                          Change{"virtual", s, 1, 8, 0, SvField::STRING, FldFlag::kVirtual}}) {
    SCOPED_TRACE(c.what);
    clearError();
    int32_t len = c.f->length(), dec = c.f->nDecimals(), dim = c.f->getDim();
    EXPECT_FALSE(c.f->setData(String("renamed"), String(), c.dim, String(), c.len, c.dec, c.flags, c.type, 0));
    EXPECT_EQ(pending(), 35);
    EXPECT_NE(zftest::str(c.f->name()), "renamed");
    EXPECT_EQ(c.f->length(), len);
    EXPECT_EQ(c.f->nDecimals(), dec);
    EXPECT_EQ(c.f->getDim(), dim);
  }
  EXPECT_EQ(after->tableOffset(), offset);
  EXPECT_EQ(t->nextOffset(), offset + 4);
}

TEST_F(FieldForms, TheFactoryRefusesUnknownTypesAndShapes) {
  auto t = makeTable();
  add(*t, SvField::INT, 0, 0, 1, 0, "a");
  struct Bad {
    int32_t type, len, dec, dim;
  };
  for (Bad const& b : {Bad{6, 0, 0, 1}, Bad{7, 0, 0, 1}, Bad{11, 0, 0, 1}, Bad{-1, 0, 0, 1},
                       Bad{SvField::NUM, 0, 0, 1}, Bad{SvField::NUM, 4, 5, 1}, Bad{SvField::STRING, 0, 0, 1},
                       Bad{SvField::INT, 0, 0, -2}}) {
    SCOPED_TRACE(b.type);
    clearError();
    EXPECT_EQ(add(*t, b.type, b.len, b.dec, b.dim), nullptr);
    EXPECT_EQ(pending(), 35);
    EXPECT_NE(pendingText().find("s.t.f = "), std::string::npos) << pendingText();
  }
  EXPECT_EQ(t->nFields(), 1);
  EXPECT_EQ(t->nextOffset(), 24);
}

TEST_F(FieldForms, FieldAccessByNumber) {
  auto t = makeTable();
  add(*t, SvField::STRING, 10, 0, 1, 0, "name");
  add(*t, SvField::NUM, 9, 0, 1, 0, "count");
  add(*t, SvField::OBJECT, 0, 0, 1, 0, "table");
  add(*t, SvField::INT, 0, 0, 1, 0, "flags");
  auto rec = record(*t);
  EXPECT_TRUE(t->setFld(0, String("abc"), rec.data()));
  EXPECT_TRUE(t->setFld(1, int32_t(12345), rec.data()));
  EXPECT_TRUE(t->setFld(2, 0x5001u, 0xFFFFFFF0u, rec.data()));
  EXPECT_TRUE(t->setFld(3, int32_t(-3), rec.data()));
  EXPECT_FALSE(t->setFld(0, int32_t(1), rec.data()));
  EXPECT_FALSE(t->setFld(4, String("x"), rec.data()));
  EXPECT_FALSE(t->setFld(-1, int32_t(1), rec.data()));
  String s;
  int32_t n = 0, f = 0;
  uint32_t c = 0, i = 0;
  EXPECT_TRUE(t->getFld(0, s, rec.data()));
  EXPECT_TRUE(t->getFld(1, n, rec.data()));
  EXPECT_TRUE(t->getFld(2, c, i, rec.data()));
  EXPECT_TRUE(t->getFld(3, f, rec.data()));
  EXPECT_FALSE(t->getFld(1, s, rec.data()));
  EXPECT_EQ(zftest::str(s), "abc");
  EXPECT_EQ(n, 12345);
  EXPECT_EQ(c, 0x5001u);
  EXPECT_EQ(i, 0xFFFFFFF0u);
  EXPECT_EQ(f, -3);
  EXPECT_EQ(t->field(String("count")), t->field(1));
  EXPECT_EQ(t->field(String("none")), nullptr);
  EXPECT_EQ(t->field(9), nullptr);
  EXPECT_EQ(t->field(1)->number(), 1);
  EXPECT_EQ(zftest::str(t->field(1)->qualifiedName()), "s.t.count");
  String text;
  t->load(text, rec.data());
  EXPECT_EQ(zftest::str(text), "(abc, 12345, <20481, -16>, -3)");
}

TEST_F(FieldForms, FieldIdentity) {
  auto t = std::make_unique<SvTabRep>(ObjectId((3u << 12) | 1, 40), String("t"), String("s"), 0, 2, false);
  SvField* f = SvField::mkField(t.get(), 77, String("f"), String(), nullptr, String(), 0, 0, SvField::INT, -1, 0,
                                1, nullptr, nullptr, nullptr, ObjectId(), String());
  EXPECT_EQ(f->oid(), ObjectId((3u << 12) | 2, 77));
  EXPECT_EQ(*ObjectId((3u << 12) | 2, 77), static_cast<PObject*>(f));
  EXPECT_EQ(t->memberClassId(), (3u << 12) | 40);
  SvField* tmp = add(*t, SvField::INT, 0, 0, 1, 0, "g");
  EXPECT_TRUE(tmp->isTemp());
  t.reset();
  EXPECT_EQ(*ObjectId((3u << 12) | 2, 77), nullptr);
}

}  // namespace
