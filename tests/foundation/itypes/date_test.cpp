// Date and Time: the calendar against an independent computation, parts and
// saturating arithmetic, text reading and writing with the national
// settings and CENTURY_WRAP, the mask form, the stored forms (golden bytes
// and byte order), clock conversions past 2038 and in two time zones.
#include <gtest/gtest.h>

#include <zfound/Date.h>
#include <zfound/Num.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "TestSupport.h"
#include "dates_support.h"

using dates_test::hex;
using dates_test::NationalSettings;
using dates_test::ScopedZone;
using dates_test::storedHex;
using zftest::ScopedEnv;
using zftest::TempDir;

namespace {

constexpr int32_t kNull = INT32_MIN;
constexpr int32_t kHigh = INT32_MAX;
char const* const kHighPtr = reinterpret_cast<char const*>(1);

// Day number of a proleptic Gregorian date by the standard library.
int64_t chronoDays(int y, unsigned m, unsigned d) {
  using namespace std::chrono;
  sys_days sd = year_month_day{year{y}, month{m}, day{d}};
  sys_days base = year_month_day{year{1984}, month{1}, day{1}};
  return (sd - base).count();
}

std::string str(char const* p) {
  if (p == nullptr) return "<null>";
  if (p == kHighPtr) return "<high>";
  return p;
}

// Date format code set for one scope.
struct ScopedFmt {
  explicit ScopedFmt(int32_t f) : old(Date::fmt()) { Date::setFmt(f); }
  ~ScopedFmt() { Date::setFmt(old); }
  int32_t old;
};

// CENTURY_WRAP set (or unset) for one scope, read again on both ends.
struct ScopedWrap {
  explicit ScopedWrap(char const* v) : env("CENTURY_WRAP", v ? v : "", v == nullptr) { _resetCenturyWrap(); }
  ~ScopedWrap() { _resetCenturyWrap(); }
  ScopedEnv env;
};

}  // namespace

// ------------------------------------------------------------ calendar

TEST(DateCalendar, KnownDaysAndRejections) {
  struct Case {
    int32_t d, m, y, value;
  } const cases[] = {
      {1, 1, 1984, 0},          {31, 12, 1983, -1},         {1, 1, 1970, -5113},
      {15, 10, 1582, -146540},  {4, 10, 1582, -146541},     {1, 1, -4712, -2445701},  // Julian day 0
      {29, 2, 1500, -176709},   {1, 3, 1500, -176708},      {29, 2, 2000, 5903},
      {30, 2, 2000, kNull},     {0, 1, 2000, kNull},        {1, 0, 2000, kNull},
      {29, 2, 1900, kNull},     {10, 10, 1582, kNull},      {32, 1, 2000, kHigh},
      {1, 13, 2000, kHigh},     {1, 1, 142001, kHigh},      {1, 1, -100001, kNull},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(Date(c.d, c.m, c.y).value(), c.value) << c.d << "." << c.m << "." << c.y;
  }
  Date d(15, 10, 1582);
  --d;
  EXPECT_EQ(d.day(), 4);
  EXPECT_EQ(d.month(), 10);
  EXPECT_EQ(d.year(), 1582);
  EXPECT_EQ(Date(1, 1, 1984).dayOfWeek(), 0);
  EXPECT_EQ(Date().day(), kNull);
  EXPECT_EQ(toDate(kHigh).year(), kHigh);
}

TEST(DateCalendar, GregorianMatchesStandardLibraryAndRoundTrips) {
  std::mt19937 rng(1984);
  std::uniform_int_distribution<int32_t> gregorian(-146540, 11000000);
  std::uniform_int_distribution<int32_t> anyDay(-37000000, 51000000);
  for (int i = 0; i < 20000; ++i) {
    int32_t v = gregorian(rng);
    Date d = toDate(v);
    ASSERT_EQ(chronoDays(d.year(), unsigned(d.month()), unsigned(d.day())), v) << v;
    // Weekday: 1984-01-01 was a Sunday.
    int64_t wd = ((int64_t(v) % 7) + 7) % 7;
    ASSERT_EQ(d.dayOfWeek(), wd) << v;
    int32_t w = anyDay(rng);
    Date e = toDate(w);
    ASSERT_EQ(Date(e.day(), e.month(), e.year()).value(), w) << w;
  }
}

// ------------------------------------------------------- parts, arithmetic

TEST(DateParts, MonthsWeeksAndQuarters) {
  Date d(15, 8, 2024);
  EXPECT_EQ(d.dayOfYear(), 227);
  EXPECT_EQ(d.quarter(), 3);
  EXPECT_EQ(d.weekOfYear(), (227 + Date(1, 1, 2024).dayOfWeek()) / 7);
  EXPECT_EQ(d.firstOfMonth(), Date(1, 8, 2024));
  EXPECT_EQ(d.lastOfMonth(), Date(31, 8, 2024));
  EXPECT_EQ(Date(10, 2, 2000).lastOfMonth(), Date(29, 2, 2000));
  EXPECT_EQ(Date(10, 2, 1900).lastOfMonth(), Date(28, 2, 1900));
  EXPECT_EQ(Date(10, 12, 1999).lastOfMonth(), Date(31, 12, 1999));
  EXPECT_EQ(Date(1, 10, 1582).lastOfMonth(), Date(31, 10, 1582));
  EXPECT_EQ(Date(3, 3, 2001).monthsSince(Date(28, 11, 1999)), 16);
  EXPECT_EQ(Date(15, 11, 2023).addMonths(3), Date(15, 2, 2024));
  EXPECT_EQ(Date(15, 2, 2024).addMonths(-14), Date(15, 12, 2022));
  EXPECT_TRUE(Date(31, 1, 2001).addMonths(1).isNull());
  EXPECT_EQ(toDate(-1).dayOfWeek(), 6);
  EXPECT_EQ(toDate(-7).dayOfWeek(), 0);
  EXPECT_EQ(toDate(-8).dayOfWeek(), 6);
}

TEST(DateArithmetic, SaturatesAtNullAndHighest) {
  Date high = toDate(kHigh), null;
  EXPECT_TRUE((high + 1).isHigh());
  EXPECT_TRUE((null - 1).isNull());
  Date d = high;
  ++d;
  EXPECT_TRUE(d.isHigh());
  EXPECT_TRUE((toDate(2147483000) + 1000).isHigh());
  EXPECT_EQ((Date(1, 1, 1984) + 31).value(), 31);
  EXPECT_EQ(Date(1, 3, 2000) - Date(1, 2, 2000), 29);
  EXPECT_EQ((Date(1, 1, 1984) + toNum(int32_t(10))).value(), 10);
  Date m = toDate(100000);
  m *= 100000;
  EXPECT_TRUE(m.isHigh());
  Date q = toDate(-7);
  q /= 0;
  EXPECT_TRUE(q.isNull());
  EXPECT_LT(null, Date(1, 1, 1));
  EXPECT_GT(high, Date(31, 12, 9999));
  EXPECT_EQ(Date(2, 1, 1984).cmp(Date(1, 1, 1984)), 1);
}

TEST(TimeParts, ComposeDecomposeAndSaturate) {
  EXPECT_EQ(Time(1, 2, 3).value(), 3723);
  EXPECT_EQ(Time(2, 1, 2, 3).value(), 2 * 86400 + 3723);
  EXPECT_TRUE(Time(30000, 0, 0, 0).isHigh());
  EXPECT_TRUE(Time(-30000, 0, 0, 0).isNull());
  EXPECT_TRUE(Time(0, 0, 0, 2147483647).isHigh());
  EXPECT_TRUE(Time(24855, 23, 0, 0).isHigh());  // each part fits, the sum does not
  Time t = toTime(-1);                           // 1983-12-31 23:59:59
  EXPECT_EQ(t.hour(), 23);
  EXPECT_EQ(t.minute(), 59);
  EXPECT_EQ(t.second(), 59);
  EXPECT_EQ(toDate(t), Date(31, 12, 1983));
  Time u = toTime(Date(2, 1, 1984)) + Time(10, 20, 30);
  EXPECT_EQ(u.days(), 1);
  EXPECT_EQ(u.hours(), 34);
  EXPECT_EQ(u.minutes(), 34 * 60 + 20);
  EXPECT_EQ(toDate(u), Date(2, 1, 1984));
  EXPECT_TRUE((toTime(kHigh) + 1).isHigh());
  EXPECT_TRUE((Time() - 1).isNull());
  EXPECT_TRUE(toTime(Date()).isNull());
  EXPECT_TRUE(toTime(toDate(kHigh)).isHigh());
  EXPECT_TRUE(toTime(toDate(30000)).isHigh());  // 30000 days pass 32-bit seconds
  EXPECT_TRUE(Time(uint16_t(0)).isNull());
  EXPECT_EQ(Time(uint16_t(1)).value(), 0);
  EXPECT_EQ(Time(uint16_t(43200)).value(), 86398);
}

// -------------------------------------------------------- clock, zones

TEST(DateClock, PastTwentyThirtyEight) {
  EXPECT_EQ(Date(1, 1, 2040).osDate(), int64_t(2208988800));
  EXPECT_EQ(Date(19, 1, 2038).osDate() + 86400, Date(20, 1, 2038).osDate());
  EXPECT_EQ(Date::osDate(int64_t(4102444800)), Date(1, 1, 2100));
  EXPECT_EQ(toTime(Date(1, 1, 2050)).osTime(), int64_t(2524608000));
  EXPECT_EQ(Date::osDate(-1), Date(31, 12, 1969));
  ScopedZone utc("UTC0");
  EXPECT_EQ(Time::osTime(int64_t(2524608000) + 3661), toTime(Date(1, 1, 2050)) + 3661);
  // A clock value beyond the 32-bit range of Time saturates.
  EXPECT_TRUE(Time::osTime(int64_t(441763200) + int64_t(3000000000)).isHigh());
}

TEST(DateClock, LocalConversionsInTwoZones) {
  for (char const* zone : {"UTC0", "XST-5:30", "YST8"}) {
    ScopedZone z(zone);
    time_t now = time(nullptr);
    struct tm lt;
    localtime_r(&now, &lt);
    int64_t offset = lt.tm_gmtoff;
    EXPECT_EQ(Time::osTime(int64_t(now)).value(), int64_t(now) + offset - 441763200) << zone;
    // "NOW" for a time is the clock without a zone step.
    Time t = Time::now();
    EXPECT_LE(std::abs(int64_t(t.osTime()) - int64_t(now)), 2) << zone;
    // Today is the local date.
    for (int attempt = 0; attempt < 3; ++attempt) {
      time_t before = time(nullptr);
      Date today = Date::today();
      Date fromText("NOW");
      time_t after = time(nullptr);
      struct tm a, b;
      localtime_r(&before, &a);
      localtime_r(&after, &b);
      if (a.tm_mday != b.tm_mday) continue;  // midnight passed: measure again
      EXPECT_EQ(today, Date(a.tm_mday, a.tm_mon + 1, a.tm_year + 1900)) << zone;
      EXPECT_EQ(fromText, today) << zone;
      break;
    }
  }
}

// ---------------------------------------------------------- text forms

TEST(DateText, WriterFormatCodes) {
  NationalSettings spanish(dates_test::kSpanishConfig);
  Date d(5, 3, 2007);  // a Monday
  struct Case {
    int32_t fmt;
    char const* text;
  } const cases[] = {
      {0, "05032007"},        {4, "05/03/2007"},         {5, "03/05/2007"},
      {6, "05/03/07"},        {7, "03/05/07"},           {4 | 8, "LUN/03/2007"},
      {4 | 16, "LUNES/03/2007"}, {4 | 32, "05/MAR/2007"}, {4 | 64 | 1, "MARZO/05/2007"},
  };
  for (auto const& c : cases) EXPECT_EQ(str(toCharPtr(d, c.fmt)), c.text) << c.fmt;
  {
    ScopedFmt f(4);
    EXPECT_EQ(str(toCharPtr(d, 2)), "05/03/07");
  }
  EXPECT_EQ(str(toCharPtr(Date())), "<null>");
  EXPECT_EQ(str(toCharPtr(toDate(kHigh))), "<high>");
  EXPECT_TRUE(toString(Date()).isNull());
  EXPECT_TRUE(toString(toDate(kHigh)).isHighest());
  // A year below 1000 keeps four digits, so it never reads as a short year.
  EXPECT_EQ(str(toCharPtr(Date(1, 2, 84), 4)), "01/02/0084");
}

TEST(DateText, ReaderWithCenturyWrap) {
  NationalSettings defaults("");  // month names are looked up for letters
  ScopedWrap wrap("2050");
  struct Case {
    char const* text;
    bool monthFirst;
    int32_t d, m, y;  // d == 0: null
  } const cases[] = {
      {"01/02/49", false, 1, 2, 2049},   {"01/02/51", false, 1, 2, 1951},
      {"01/02/50", false, 1, 2, 2050},   {"1/2/1984", false, 1, 2, 1984},
      {"01/02/49", true, 2, 1, 2049},    {"01021984", false, 1, 2, 1984},
      {"010284", false, 1, 2, 1984},     {"12311999", true, 31, 12, 1999},
      {" 05/03/2007 ", false, 5, 3, 2007}, {"1/2/-44", false, 1, 2, -44},
      {"30/02/2000", false, 0, 0, 0},    {"01/02", false, 0, 0, 0},
      {"1x/02/2000", false, 0, 0, 0},    {"01/02/20a0", false, 0, 0, 0},
      {"123/02/2000", false, 0, 0, 0},   {"0102", false, 0, 0, 0},
      {"garbage", false, 0, 0, 0},       {"", false, 0, 0, 0},
  };
  for (auto const& c : cases) {
    Date expect = c.d ? Date(c.d, c.m, c.y) : Date();
    EXPECT_EQ(_str_to_date(c.text, c.monthFirst), expect.value()) << c.text << " " << c.monthFirst;
  }
  EXPECT_EQ(_str_to_date(kHighPtr, false), kHigh);
  EXPECT_EQ(_str_to_date(nullptr, false), kNull);
  EXPECT_EQ(toDate(String("01/02/51")), Date(1, 2, 1951));
  {
    ScopedWrap wrap2("1999");
    EXPECT_EQ(Date("01/02/99"), Date(1, 2, 1999));
    EXPECT_EQ(Date("01/02/00"), Date(1, 2, 1900));
  }
  {
    // Without CENTURY_WRAP the pivot is this year plus 20.
    ScopedWrap unset(nullptr);
    int32_t pivot = Date::today().year() + 20;
    EXPECT_EQ(_centuryWrap(), pivot);
    int yy = pivot % 100;
    char text[16];
    snprintf(text, sizeof text, "01/01/%02d", yy);
    EXPECT_EQ(Date(text).year(), pivot);
  }
}

TEST(DateText, WhatIsWrittenReadsBackInTheSameOrder) {
  NationalSettings spanish(dates_test::kSpanishConfig);
  ScopedWrap wrap("2050");
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> days(Date(1, 1, 1951).value(), Date(31, 12, 2050).value());
  // Every format without weekday names, month first or not, with or without
  // separators, short or full year, numbers or month names.
  for (int32_t fmt = 0; fmt < 128; ++fmt) {
    if (fmt & (8 | 16)) continue;
    ScopedFmt f(fmt);
    for (int i = 0; i < 50; ++i) {
      Date d = toDate(days(rng));
      char const* text = toCharPtr(d);
      ASSERT_EQ(Date(text), d) << "fmt " << fmt << " text " << text;
    }
  }
  // Month names are found whatever their case.
  EXPECT_EQ(_str_to_date("05/marzo/2007", false), Date(5, 3, 2007).value());
  EXPECT_EQ(_str_to_date("Mar/05/2007", false), Date(5, 3, 2007).value());
  EXPECT_EQ(_str_to_date("05/XYZ/2007", false), kNull);
}

TEST(TimeText, ReaderAndWriter) {
  struct Case {
    char const* text;
    int32_t value;
  } const cases[] = {
      {"12:30", 45000},         {"1230", 45000},          {"12:30:15", 45015},
      {"123015", 45015},        {"8:05", 29100},          {"0001 12:30:00", 86400 + 45000},
      {"0002-123000", 2 * 86400 + 45000},                 {"99:00", 99 * 3600},
      {"12:60", 13 * 3600},     {"12", kNull},            {"12:30:15:01", kNull},
      {"1230x", kNull},         {"ab:cd", kNull},         {"12:", kNull},
      {"123", kNull},           {"", kNull},              {"abcd 12:30:00", kNull},
      {"009075", 90 * 60 + 75},
  };
  for (auto const& c : cases) EXPECT_EQ(_str_to_time(c.text), c.value) << c.text;
  EXPECT_EQ(_str_to_time(nullptr), kNull);
  EXPECT_EQ(_str_to_time(kHighPtr), kHigh);
  EXPECT_TRUE(Time("not a time").isNull());
  EXPECT_EQ(toTime(String("08:30")).value(), 8 * 3600 + 1800);

  Time t(9, 5, 7);
  EXPECT_EQ(str(toCharPtr(t)), "0905");
  EXPECT_EQ(str(toCharPtr(t, Time::Colons)), "09:05");
  EXPECT_EQ(str(toCharPtr(t, Time::Colons | Time::Seconds)), "09:05:07");
  EXPECT_EQ(str(toCharPtr(t, Time::Seconds)), "090507");
  EXPECT_EQ(str(toCharPtr(Time())), "<null>");
  EXPECT_EQ(str(toCharPtr(toTime(kHigh))), "<high>");
  // What is written reads back.
  Time back(toCharPtr(t, Time::Colons | Time::Seconds));
  EXPECT_EQ(back, t);
}

// ----------------------------------------------------------- mask form

TEST(DateMask, CodesCaseAndLiterals) {
  NationalSettings spanish(dates_test::kSpanishConfig);
  Date d(1, 1, 1984);
  struct Case {
    char const* mask;
    char const* text;
  } const dateCases[] = {
      {"Day DD-Mon-YYYY", "Domingo 01-Ene-1984"},
      {"day dd-mon-yyyy", "domingo 01-ene-1984"},
      {"DAY, DN MONTH YY", "DOMINGO, 1 ENERO 84"},
      {"YYYYYY QUART DDD YDAY WNUM", "001984 1 00000 000 000"},
      {"\\DD=DD \\\\", "DD=01 \\"},
      {"HH:MI", "HH:MI"},  // time codes need a time
      {"Dy", "Dom"},
      {"", ""},
  };
  for (auto const& c : dateCases) EXPECT_EQ(str(d.format(c.mask)), c.text) << c.mask;
  // The national letter of Saturday follows the case rules too.
  EXPECT_EQ(str(Date(7, 1, 1984).format("day")), "s\xE1" "bado");
  EXPECT_EQ(str(Date(7, 1, 1984).format("Day")), "S\xE1" "bado");
  EXPECT_EQ(str(Date(7, 1, 1984).format(String("DAY"))), "S\xC1" "BADO");

  Time t = toTime(Date(15, 8, 2024)) + Time(13, 5, 9);
  struct Case const timeCases[] = {
      {"YYYY-MM-DD HH:MI:SS", "2024-08-15 13:05:09"},
      {"H12:MI AM", "01:05 PM"},
      {"h12 am", "01 pm"},
      {"H12 Am", "01 Pm"},
      {"SSS", "1281963909"},
      {"MIN HHH", "21366065 356101"},
  };
  for (auto const& c : timeCases) EXPECT_EQ(str(t.format(c.mask)), c.text) << c.mask;
  // The twelve-hour clock: midnight and noon are 12.
  EXPECT_EQ(str(toTime(Date(1, 1, 1984)).format("H12 AM")), "12 AM");
  EXPECT_EQ(str(Time(12, 0, 0).format("H12 AM")), "12 PM");
  EXPECT_EQ(str(Time(11, 59, 0).format("H12 AM")), "11 AM");
  EXPECT_EQ(str(Date().format("DD")), "<null>");
  EXPECT_EQ(str(toDate(kHigh).format("DD")), "<high>");
  EXPECT_EQ(str(Time().format("HH")), "<null>");
  EXPECT_EQ(str(toTime(kHigh).format("HH")), "<high>");
}

TEST(DateMask, OutputNeverPassesItsBuffer) {
  std::string longName(1000, 'N');
  std::string config = ",\n.\ninter\n";
  for (int i = 0; i < 7; ++i) config += longName + "\n";
  for (int i = 0; i < 12; ++i) config += longName + "\n";
  NationalSettings huge(config);
  std::string mask;
  for (int i = 0; i < 200; ++i) mask += "YYYYYY";
  char const* a = Date(1, 1, 1984).format(mask.c_str());
  EXPECT_EQ(strlen(a), 255u);
  EXPECT_EQ(std::string(a, 12), "001984001984");
  char const* b = Date(1, 1, 1984).format("MONTH DAY");
  EXPECT_EQ(strlen(b), 255u);
  char const* c = toCharPtr(Date(1, 1, 1984), Date::FullDayName | Date::FullMonthName);
  EXPECT_EQ(strlen(c), 255u);
  char const* e = (toTime(Date(1, 1, 1984)) + 1).format((mask + "SSSSSS").c_str());
  EXPECT_EQ(strlen(e), 255u);
}

// -------------------------------------------------------- stored forms

TEST(DateStored, GoldenBytes) {
  struct Case {
    int32_t value;
    char const* hex;
  } const cases[] = {
      {kNull, "00000000"}, {kHigh, "FFFFFFFF"}, {0, "80000000"},
      {-1, "7FFFFFFF"},    {1, "80000001"},     {-146540, "7FFDC394"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(storedHex(toDate(c.value), 4), c.hex) << c.value;
    EXPECT_EQ(storedHex(toTime(c.value), 4), c.hex) << c.value;
    char buf[4];
    char* p = buf;
    toDate(c.value).store(p);
    char const* q = buf;
    Date d;
    d.load(q);
    EXPECT_EQ(d.value(), c.value);
    EXPECT_EQ(q, buf + 4);
  }
  EXPECT_EQ(Date::storeLength(), 4);
  EXPECT_EQ(Time::storeLength(), 4);
}

TEST(DateStored, ShortDateGoldenBytes) {
  struct Case {
    int32_t value;
    char const* hex;
    int32_t loaded;
  } const cases[] = {
      {kNull, "0000", kNull},     {-40000, "0000", kNull},    {-32768, "0000", kNull},
      {-32767, "0001", -32767},   {-1, "7FFF", -1},           {0, "8000", 0},
      {1, "8001", 1},             {32765, "FFFD", 32765},     {32766, "FFFE", kHigh},
      {40000, "FFFE", kHigh},     {kHigh, "FFFE", kHigh},
  };
  for (auto const& c : cases) {
    char buf[2];
    char* p = buf;
    toDate(c.value).storeShort(p);
    EXPECT_EQ(p, buf + 2);
    EXPECT_EQ(hex(buf, 2), c.hex) << c.value;
    char const* q = buf;
    EXPECT_EQ(Date().loadShort(q).value(), c.loaded) << c.value;
  }
  EXPECT_TRUE(Date(int16_t(-32768)).isNull());
  EXPECT_TRUE(Date(int16_t(32766)).isHigh());
  EXPECT_EQ(Date(int16_t(-5)).value(), -5);
  EXPECT_EQ(Date(int16_t(32767)).value(), 32767);  // only 32766 stands for highest
}

TEST(DateStored, ShortTimeGoldenBytesKeepHighestApart) {
  struct Case {
    Time t;
    char const* hex;
    int32_t loaded;
  } const cases[] = {
      {Time(), "0000", kNull},
      {Time(0, 0, 0), "0001", 0},
      {Time(0, 0, 1), "0001", 0},
      {Time(8, 30, 0), "3BC5", 30600},
      {Time(23, 59, 58), "A8C0", 86398},
      {Time(23, 59, 59), "A8C0", 86398},
      {toTime(kHigh), "A8C1", kHigh},
      {toTime(-2), "A8C0", 86398},  // the time of day of a time before 1984
      {Time(3, 0, 0, 10), "0006", 10},
  };
  for (auto const& c : cases) {
    char buf[2];
    char* p = buf;
    c.t.storeShort(p);
    EXPECT_EQ(p, buf + 2);
    EXPECT_EQ(hex(buf, 2), c.hex) << c.t.value();
    char const* q = buf;
    EXPECT_EQ(Time().loadShort(q).value(), c.loaded) << c.t.value();
  }
}

TEST(DateStored, ByteOrderIsValueOrder) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<int32_t> shortDays(-40000, 40000);
  std::uniform_int_distribution<int32_t> dayTimes(0, 86399);
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (int i = 0; i < 20000; ++i) {
    int32_t a = any(rng), b = i % 10 == 0 ? a : any(rng);
    char sa[4], sb[4];
    char *pa = sa, *pb = sb;
    toDate(a).store(pa);
    toDate(b).store(pb);
    ASSERT_EQ(sign(memcmp(sa, sb, 4)), toDate(a).cmp(toDate(b))) << a << " " << b;
    pa = sa;
    pb = sb;
    toTime(a).store(pa);
    toTime(b).store(pb);
    ASSERT_EQ(sign(memcmp(sa, sb, 4)), toTime(a).cmp(toTime(b))) << a << " " << b;

    // Short dates: the order of the values limited to the short range.
    int32_t c = shortDays(rng), d = shortDays(rng);
    auto limit = [](int32_t v) { return v < -32767 ? -32768 : v > 32766 ? 32766 : v; };
    pa = sa;
    pb = sb;
    toDate(c).storeShort(pa);
    toDate(d).storeShort(pb);
    ASSERT_EQ(sign(memcmp(sa, sb, 2)), sign(limit(c) - limit(d))) << c << " " << d;

    // Short times: the order of the times of day in two-second units.
    int32_t e = dayTimes(rng), f = dayTimes(rng);
    pa = sa;
    pb = sb;
    toTime(e).storeShort(pa);
    toTime(f).storeShort(pb);
    ASSERT_EQ(sign(memcmp(sa, sb, 2)), sign(e / 2 - f / 2)) << e << " " << f;
  }
}

TEST(DateStored, StreamFormIsThePlainValue) {
  TempDir dir;
  std::string path = dir.file("dates.bin");
  FILE* f = fopen(path.c_str(), "w+b");
  ASSERT_NE(f, nullptr);
  Date(2, 1, 1984).store(f);
  Time(0, 0, 0, 2).store(f);
  Date().store(f);
  rewind(f);
  unsigned char bytes[12];
  ASSERT_EQ(fread(bytes, 1, 12, f), 12u);
  EXPECT_EQ(hex(reinterpret_cast<char*>(bytes), 12), "000000010000000280000000");
  rewind(f);
  Date d;
  Time t;
  Date n = Date(1, 1, 1984);
  d.load(f);
  t.load(f);
  n.load(f);
  fclose(f);
  EXPECT_EQ(d, Date(2, 1, 1984));
  EXPECT_EQ(t.value(), 2);
  EXPECT_TRUE(n.isNull());
}
