// TimeStamp: stamps handed out strictly increasing (also past 65,536 in one
// second and against a clock that stands still), sequence stepping, the
// order that ignores the user id, the stored form (golden bytes and byte
// order) and the connection form on a loopback channel, together with the
// connection forms of Date, Time and Boolean.
#include <gtest/gtest.h>

#include <zfound/Boolean.h>
#include <zfound/Date.h>
#include <zfound/LoopConnection.h>
#include <zfound/String.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

#include <cstring>
#include <random>
#include <vector>

#include "dates_support.h"

using dates_test::storedHex;

namespace {

constexpr int32_t kNull = INT32_MIN;
constexpr int32_t kHigh = INT32_MAX;

TimeStamp stamp(int32_t t, int32_t seq, int32_t uid) {
  TimeStamp s{toTime(t)};
  s.setNSec(seq);
  s.setUserId(uid);
  return s;
}

}  // namespace

TEST(TimeStampOrder, SetNowStrictlyIncreasesPastOneSecondsNumbers) {
  TimeStamp first;
  first.setNow();
  TimeStamp prev = first;
  // More stamps than one second has sequence numbers: when the clock does
  // not move on, the stamps carry into the next second instead of wrapping.
  for (int i = 0; i < 140000; ++i) {
    TimeStamp s;
    bool fresh = s.setNow();
    ASSERT_GT(s, prev) << i;
    ASSERT_EQ(fresh, s.nSec() == 0) << i;
    if (s.time() == prev.time()) {
      ASSERT_EQ(s.nSec(), prev.nSec() + 1) << i;
    }
    prev = s;
  }
  EXPECT_EQ(TimeStamp::lastStamp().cmp(prev), 0);
}

TEST(TimeStampOrder, StampsStayAheadOfAClockThatWentBack) {
  // The last stamp lies in the future (as after the clock was set back).
  TimeStamp future = stamp(Time::now().value() + 100, 65534, 0);
  TimeStamp::lastStamp().setTime(future);
  TimeStamp a, b, c;
  EXPECT_FALSE(a.setNow());
  EXPECT_EQ(a.cmp(stamp(future.time().value(), 65535, 0)), 0);
  EXPECT_TRUE(b.setNow());
  EXPECT_EQ(b.cmp(stamp(future.time().value() + 1, 0, 0)), 0);
  c.setNow();
  EXPECT_EQ(c.cmp(stamp(future.time().value() + 1, 1, 0)), 0);
}

TEST(TimeStampOrder, IncrementDecrementAndCompare) {
  TimeStamp s = stamp(1000, 0, 7);
  --s;
  EXPECT_EQ(s.time().value(), 999);
  EXPECT_EQ(s.nSec(), 65535);
  EXPECT_EQ(s.userId(), 7);
  --s;
  EXPECT_EQ(s.nSec(), 65534);

  TimeStamp t = stamp(5000, 41, 1);
  ++t;
  EXPECT_EQ(t.nSec(), 42);
  EXPECT_EQ(t.time().value(), 5000);
  // At the last sequence number the next stamp is a later one.
  TimeStamp u = stamp(Time::now().value() + 1000, 65535, 0);
  TimeStamp before = u;
  ++u;
  EXPECT_GT(u, before);
  EXPECT_GE(TimeStamp::lastStamp(), u);

  EXPECT_EQ(stamp(10, 3, 1), stamp(10, 3, 2));  // the user id takes no part
  EXPECT_LT(stamp(10, 3, 9), stamp(10, 4, 0));
  EXPECT_LT(stamp(9, 65535, 0), stamp(10, 0, 0));
  EXPECT_EQ(stamp(10, 3, 0).cmp(stamp(10, 5, 0)), -2);
  EXPECT_EQ(stamp(10, 0, 0).cmp(stamp(-10, 9, 0)), 1);
  EXPECT_LT(TimeStamp(), stamp(-5, 0, 0));

  TimeStamp v = stamp(100, 2, 3);
  v += 50;
  EXPECT_EQ(v.time().value(), 150);
  EXPECT_EQ(v.nSec(), 2);
  v -= 200;
  EXPECT_EQ(v.time().value(), -50);
  TimeStamp w = stamp(kHigh, 1, 0);
  w += 1;
  EXPECT_TRUE(w.time().isHigh());

  TimeStamp x;
  x.setUserId(4);
  x.setTime(stamp(77, 8, 9));
  EXPECT_EQ(x.time().value(), 77);
  EXPECT_EQ(x.nSec(), 8);
  EXPECT_EQ(x.userId(), 4);
  EXPECT_TRUE(TimeStamp().isNull());
  EXPECT_EQ(toDate(stamp(86400 * 3 + 5, 0, 0)), Date(4, 1, 1984));
}

TEST(TimeStampText, Describe) {
  TimeStamp s = stamp(Time(0, 14, 3, 9).value() + 86400 * 31, 12, 345);
  EXPECT_EQ(s.descr(), "(Time: 01/02/84 14:03:09, seqn: 12, uid: 345)");
  EXPECT_EQ(TimeStamp().descr(), "(Time: , seqn: 0, uid: 0)");
}

TEST(TimeStampStored, GoldenBytesAndByteOrder) {
  struct Case {
    TimeStamp s;
    char const* hex;
  } const cases[] = {
      {TimeStamp(), "0000000000000000"},
      {stamp(kHigh, 65535, 65535), "FFFFFFFFFFFFFFFF"},
      {stamp(0, 1, 2), "8000000000010002"},
      {stamp(-1, 0x1234, 0xABCD), "7FFFFFFF1234ABCD"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(storedHex(c.s, 8), c.hex);
    char buf[8];
    char* p = buf;
    c.s.store(p);
    char const* q = buf;
    TimeStamp back;
    back.load(q);
    EXPECT_EQ(q, buf + 8);
    EXPECT_EQ(back.time(), c.s.time());
    EXPECT_EQ(back.nSec(), c.s.nSec());
    EXPECT_EQ(back.userId(), c.s.userId());
  }
  EXPECT_EQ(TimeStamp::storeLength(), 8);

  std::mt19937 rng(3);
  std::uniform_int_distribution<int32_t> times(-5, 5), seqs(0, 65535);
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (int i = 0; i < 20000; ++i) {
    // Narrow time and wide sequence ranges, so that both decide often.
    TimeStamp a = stamp(times(rng), seqs(rng) % 4, 0), b = stamp(times(rng), seqs(rng) % 4, 0);
    char sa[8], sb[8];
    char *pa = sa, *pb = sb;
    a.store(pa);
    b.store(pb);
    ASSERT_EQ(sign(memcmp(sa, sb, 6)), sign(a.cmp(b)));
    TimeStamp c = stamp(times(rng) * 100000, seqs(rng), seqs(rng)), d = stamp(times(rng) * 100000, seqs(rng), 0);
    pa = sa;
    pb = sb;
    c.store(pa);
    d.store(pb);
    ASSERT_EQ(sign(memcmp(sa, sb, 6)), sign(c.cmp(d)));
  }
}

TEST(DateConnection, LoopbackRoundTripsEveryValue) {
  LoopConnection c(5);  // small parts: values cross part boundaries
  Date const dates[] = {Date(), toDate(kHigh), Date(1, 1, 1984), Date(15, 10, 1582), Date(31, 12, 9999)};
  Time const times[] = {Time(), toTime(kHigh), Time(0, 0, 0), toTime(-1), Time(23, 59, 59)};
  TimeStamp const stamps[] = {TimeStamp(), stamp(kHigh, 65535, 65535), stamp(12, 3, 4)};
  Boolean const bools[] = {Boolean(), Boolean(true), Boolean(false)};
  for (Date const& d : dates) c << d;
  for (Time const& t : times) c << t;
  for (TimeStamp const& s : stamps) c << s;
  for (Boolean const& b : bools) c << b;

  std::vector<uint32_t> expect = {0x80000000u, 0x7FFFFFFFu, 0u, uint32_t(-146540), uint32_t(Date(31, 12, 9999).value()),
                                  0x80000000u, 0x7FFFFFFFu, 0u, 0xFFFFFFFFu, 86399u,
                                  0x80000000u, 0u, 0x7FFFFFFFu, 0xFFFFFFFFu, 12u, 0x00030004u,
                                  0xFFFFFFFFu, 1u, 0u};
  EXPECT_EQ(c.words(), expect);

  c.rewind();
  for (Date const& d : dates) {
    Date got(1, 1, 2000);
    c >> got;
    EXPECT_EQ(got, d);
    EXPECT_EQ(c.counter(), -1);
  }
  for (Time const& t : times) {
    Time got(1, 1, 1);
    c >> got;
    EXPECT_EQ(got, t);
  }
  for (TimeStamp const& s : stamps) {
    TimeStamp got = stamp(1, 1, 1);
    c >> got;
    EXPECT_EQ(got.time(), s.time());
    EXPECT_EQ(got.nSec(), s.nSec());
    EXPECT_EQ(got.userId(), s.userId());
  }
  for (Boolean const& b : bools) {
    Boolean got(true);
    c >> got;
    EXPECT_EQ(got, b);
  }
  EXPECT_EQ(c.wordsLeft(), 0);
  EXPECT_FALSE(c.bad());

  // A counter prefix before a date is read into the connection's counter.
  c.feed({0x7FFFFFFEu, 3u, 42u});
  Date d;
  c >> d;
  EXPECT_EQ(d.value(), 42);
  EXPECT_EQ(c.counter(), 3);
  // Any negative word is a null logical value; any positive one true.
  c.feed({uint32_t(-7), 9u});
  Boolean n(true), t;
  c >> n >> t;
  EXPECT_TRUE(n.isNull());
  EXPECT_EQ(t, Boolean(true));
}
