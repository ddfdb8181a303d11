// AnyValue: null rules, conversions, comparison, arithmetic and the wire form
// through a loopback connection.
#include <gtest/gtest.h>

#include <zfound/AnyValue.h>
#include <zfound/Boolean.h>
#include <zfound/LoopConnection.h>
#include <zfound/ObjectId.h>

#include <cstdint>
#include <string>

namespace {

std::string str(AnyValue const& v) {
  String s = toString(v);
  if (s.isHighest()) return "(high)";
  return s.isNull() ? std::string() : std::string(toCharPtr(s));
}

TEST(AnyValue, NullOfEveryKindAndClearKeepsTheKind) {
  EXPECT_TRUE(AnyValue().isNull());
  EXPECT_TRUE(AnyValue(Num()).isNull());
  EXPECT_TRUE(AnyValue(String()).isNull());
  EXPECT_TRUE(AnyValue(Date()).isNull());
  EXPECT_TRUE(AnyValue(Time()).isNull());
  EXPECT_TRUE(AnyValue(Boolean()).isNull());
  EXPECT_TRUE(AnyValue(long(-1), long(3)).isNull());
  EXPECT_TRUE(AnyValue(ObjectId()).isNull());
  // An object id is null only when both words are 0.
  EXPECT_FALSE(AnyValue(ObjectId(0, 5)).isNull());
  EXPECT_FALSE(AnyValue(ObjectId(5, 0)).isNull());

  AnyValue values[] = {AnyValue(5), AnyValue("x"), AnyValue(toDate(100)), AnyValue(toTime(7)),
                       AnyValue(true), AnyValue(long(1), long(2)), AnyValue(ObjectId(1, 2))};
  for (AnyValue& v : values) {
    int16_t ty = v.getType();
    EXPECT_FALSE(v.isNull()) << ty;
    v.clear();
    EXPECT_TRUE(v.isNull()) << ty;
    EXPECT_EQ(v.getType(), ty);
  }
  AnyValue logical(true);
  logical.clear();
  EXPECT_EQ(toInt(logical), INT32_MIN);
}

TEST(AnyValue, NullLogicalStaysNullThroughConversions) {
  AnyValue v{Boolean()};
  EXPECT_EQ(toInt(v), INT32_MIN);
  EXPECT_TRUE(toBoolean(v).isNull());
  EXPECT_TRUE(toNum(v).isNull());
  EXPECT_TRUE(toString(v).isNull());
  EXPECT_EQ(toCharPtr(v), nullptr);
  EXPECT_TRUE(toBool(v));  // a condition of a null logical is taken as true
}

TEST(AnyValue, Conversions) {
  EXPECT_EQ(str(AnyValue(long(3), long(-4))), "(3,-4)");
  EXPECT_EQ(str(AnyValue(ObjectId(7, 12))), "*(7,12)");
  EXPECT_EQ(toCharPtr(AnyValue(long(3), long(-4))), nullptr);
  EXPECT_EQ(toCharPtr(AnyValue(ObjectId(7, 12))), nullptr);
  EXPECT_EQ(toCharPtr(AnyValue()), nullptr);
  EXPECT_EQ(std::string(toCharPtr(AnyValue(Num("12.5")))), "12.5");
  EXPECT_EQ(toInt(AnyValue("42")), 42);
  EXPECT_EQ(toInt(AnyValue(long(1), long(2))), INT32_MIN);
  EXPECT_EQ(toDate(AnyValue(1000)).value(), 1000);
  EXPECT_EQ(toTime(AnyValue(90)).value(), 90);
  EXPECT_TRUE(toDate(AnyValue(true)).isNull());
  EXPECT_TRUE(toNum(AnyValue(toDate(0))).isZero());
  EXPECT_FALSE(toBool(AnyValue(0)));
  EXPECT_TRUE(toBool(AnyValue("7")));
  EXPECT_TRUE(toBool(AnyValue()));
  EXPECT_EQ(toBoolean(AnyValue(3)).value(), 1);
  EXPECT_TRUE(toBoolean(AnyValue(toDate(1))).isNull());
  EXPECT_EQ(toObjectId(AnyValue(ObjectId(0xFFFFFFFFu, 2))), ObjectId(0xFFFFFFFFu, 2));
  EXPECT_TRUE(toObjectId(AnyValue(5)).isNull());
  AnyValue p(long(9), long(8));
  AnyValue ref(&p);
  EXPECT_EQ(ref.x(), 9);
  EXPECT_EQ(ref.y(), 8);
  EXPECT_EQ(AnyValue(5).x(), -1);
}

TEST(AnyValue, Compare) {
  EXPECT_EQ(cmp(AnyValue(), AnyValue()), 0);
  EXPECT_LT(cmp(AnyValue(), AnyValue(1)), 0);
  EXPECT_EQ(cmp(AnyValue(long(1), long(5)), AnyValue(long(2), long(4))), 0);
  EXPECT_LT(cmp(AnyValue(2), AnyValue("10")), 0);        // the left kind decides: numbers
  EXPECT_GT(cmp(AnyValue("2"), AnyValue(10)), 0);        // texts
  EXPECT_EQ(cmp(AnyValue(toDate(5)), AnyValue(5)), 0);
  EXPECT_EQ(cmp(AnyValue(toDate(INT32_MIN)), AnyValue(toDate(INT32_MAX))), -1);
  EXPECT_EQ(cmp(AnyValue(toTime(9)), AnyValue(toTime(3))), 1);
  EXPECT_EQ(cmp(AnyValue(true), AnyValue(false)), 1);
  // Ids far apart order by their unsigned words.
  EXPECT_LT(cmp(AnyValue(ObjectId(1, 0)), AnyValue(ObjectId(0xF0000000u, 0))), 0);
  EXPECT_GT(cmp(AnyValue(ObjectId(1, 0xFFFFFFFFu)), AnyValue(ObjectId(1, 1))), 0);
  // Point differences that pass 32 bits keep their sign.
  EXPECT_GT(cmp(AnyValue(long(INT32_MAX), long(INT32_MAX)), AnyValue(long(INT32_MIN), long(0))), 0);
}

TEST(AnyValue, Arithmetic) {
  AnyValue d1(toDate(100)), d2(toDate(40));
  d1 -= d2;
  EXPECT_EQ(d1.getType(), AnyValue::T_NUM);
  EXPECT_EQ(toInt(d1), 60);
  AnyValue d(toDate(100));
  d -= AnyValue(30);
  EXPECT_EQ(d.getType(), AnyValue::T_DATE);
  EXPECT_EQ(toInt(d), 70);
  d -= AnyValue("5");
  EXPECT_EQ(toInt(d), 70);
  AnyValue t("abc");
  t -= AnyValue(1);
  EXPECT_EQ(t.getType(), AnyValue::T_STRING);
  EXPECT_TRUE(t.isNull());
  AnyValue n(3);
  n += AnyValue(toDate(10));
  EXPECT_EQ(n.getType(), AnyValue::T_DATE);
  EXPECT_EQ(toInt(n), 13);
  AnyValue n2(3);
  n2 += AnyValue("x");
  EXPECT_EQ(str(n2), "3");
  AnyValue tm(toTime(100));
  tm -= AnyValue(toTime(40));
  EXPECT_EQ(tm.getType(), AnyValue::T_NUM);
  EXPECT_EQ(toInt(tm), 60);
  AnyValue s("ab");
  s += AnyValue(12);
  EXPECT_EQ(str(s), "ab12");
  AnyValue big(toDate(INT32_MAX - 1));
  big += AnyValue(5);  // saturates at the highest date
  EXPECT_EQ(toInt(big), INT32_MAX);
  AnyValue nul(toDate(INT32_MIN));
  nul -= AnyValue(1);
  EXPECT_EQ(toInt(nul), INT32_MIN);
  AnyValue q(7);
  q /= AnyValue(2);
  EXPECT_EQ(str(q), "3.5");
  AnyValue dd(toDate(10));
  dd *= AnyValue(3);
  EXPECT_EQ(toInt(dd), 30);
  AnyValue lg(true);
  lg += AnyValue(1);
  EXPECT_TRUE(lg.isNull());
  EXPECT_EQ(lg.getType(), AnyValue::T_BOOL);

  AnyValue target(10);
  AnyValue ref(&target);
  ref += AnyValue(5);
  EXPECT_EQ(ref.getType(), AnyValue::T_REF);
  EXPECT_EQ(toInt(target), 15);
  ref = AnyValue("now text");  // assignment writes through the reference
  EXPECT_EQ(str(target), "now text");
}

TEST(AnyValue, WireFormOfEveryKind) {
  AnyValue pointed(77);
  AnyValue values[] = {
      AnyValue(),
      AnyValue(Num("-123.4567")), AnyValue(Num()), AnyValue(toNum("1e40")),
      AnyValue("text"), AnyValue(String()), AnyValue(String((char const*)1)),
      AnyValue(toDate(3000)), AnyValue(toDate(INT32_MIN)), AnyValue(toDate(INT32_MAX)),
      AnyValue(toTime(3600)), AnyValue(toTime(INT32_MIN)), AnyValue(toTime(INT32_MAX)),
      AnyValue(true), AnyValue(false), AnyValue(Boolean()),
      AnyValue(long(3), long(-4)), AnyValue(long(-1), long(-1)),
      AnyValue(ObjectId(7, 12)), AnyValue(ObjectId()), AnyValue(ObjectId(0xFFFFFFFFu, 0xFFFFFFFFu)),
  };
  LoopConnection c(5);  // small parts: values cross part boundaries
  for (AnyValue const& v : values) c << v;
  c << AnyValue(&pointed);
  c.rewind();
  for (AnyValue const& v : values) {
    AnyValue got("junk");
    c >> got;
    EXPECT_EQ(got.getType(), v.getType()) << str(v);
    EXPECT_EQ(got.isNull(), v.isNull()) << str(v);
    if (v.getType() != AnyValue::T_VOID) {
      EXPECT_EQ(cmp(got, v), 0) << str(v);
    }
    EXPECT_EQ(str(got), str(v));
  }
  AnyValue got;
  c >> got;
  EXPECT_EQ(got.getType(), AnyValue::T_NUM);
  EXPECT_EQ(toInt(got), 77);
  EXPECT_FALSE(c.bad());
  EXPECT_EQ(c.wordsLeft(), 0);
}

TEST(AnyValue, DateAndTimeTravelAsOnePlainWord) {
  // Values next to the highest, the channel's counter marker among them, are
  // one word each and read back as themselves.
  LoopConnection c;
  for (int32_t v : {INT32_MAX - 1, INT32_MAX - 2}) {
    c << AnyValue(toDate(v)) << AnyValue(toTime(v));
  }
  EXPECT_EQ(c.words().size(), 4u * 2u);  // tag and value
  c << AnyValue(9);
  c.rewind();
  for (int32_t v : {INT32_MAX - 1, INT32_MAX - 2}) {
    AnyValue d, t;
    c >> d >> t;
    EXPECT_EQ(d.getType(), AnyValue::T_DATE);
    EXPECT_EQ(toInt(d), v);
    EXPECT_EQ(t.getType(), AnyValue::T_TIME);
    EXPECT_EQ(toInt(t), v);
  }
  AnyValue n;
  c >> n;
  EXPECT_EQ(toInt(n), 9);
  EXPECT_FALSE(c.bad());
  EXPECT_EQ(c.wordsLeft(), 0);
}

TEST(AnyValue, WireFormReceiverRefusesUnknownTags) {
  LoopConnection c;
  c.feed({4u, 10u, 11u, 0x12345u});
  AnyValue v(5);
  c >> v;
  EXPECT_TRUE(v.isVoid());
  c >> v;
  EXPECT_TRUE(v.isVoid());
  EXPECT_FALSE(c.bad());
  c >> v;  // a reference cannot arrive
  EXPECT_TRUE(v.isVoid());
  EXPECT_TRUE(c.bad());
  // A truncated value does not read past the input.
  LoopConnection t;
  t.feed({uint32_t(AnyValue::T_POINT), 3u});
  t >> v;
  EXPECT_TRUE(t.bad());
}

TEST(AnyValue, ReceivedValueIsAssignedThroughAReference) {
  LoopConnection c;
  c << AnyValue("abc");
  c.rewind();
  AnyValue target(1);
  AnyValue ref(&target);
  c >> ref;
  EXPECT_EQ(ref.getType(), AnyValue::T_REF);
  EXPECT_EQ(str(target), "abc");
}

}  // namespace
