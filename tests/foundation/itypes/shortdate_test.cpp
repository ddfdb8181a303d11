// Short dates and times of the plain-function interface: reading and
// writing with the date order flag and the national names, AM/PM, the
// markers for today and the current time, limits of the 16-bit range,
// bounded output, and the clock functions in two time zones.
#include <gtest/gtest.h>

#include <zfound/Date.h>
#include <zfound/Process.h>
#include <zfound/ShortDate.h>
#include <zfound/String.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "ChildRun.h"
#include "dates_support.h"

using dates_test::NationalSettings;
using dates_test::ScopedZone;

namespace {

char const* const kHighPtr = reinterpret_cast<char const*>(1);

std::string dtos(int16_t d, int flags) {
  char buf[SHORT_TEXT_SIZE];
  return DToStr(d, buf, flags);
}

std::string ttos(uint16_t t, int flags) {
  char buf[SHORT_TEXT_SIZE];
  return TToStr(t, buf, flags);
}

// The date order flag for one scope; afterwards the national settings
// decide again.
struct ScopedOrder {
  explicit ScopedOrder(int n) { SetDateFmt(n); }
  ~ScopedOrder() { TEST_resetDateFmt(); }
};

}  // namespace

TEST(ShortTime, ReadTexts) {
  struct Case {
    char const* text;
    uint16_t value;
  } const cases[] = {
      {"08:30", 15301},      {"0830", 15301},        {"08:30:01", 15301},    {"08:30:03", 15302},
      {"08.30", 15301},      {"12:30 PM", 22501},    {"12:30PM", 22501},     {"12:30 AM", 901},
      {"12:00 am", 1},       {"01:15 pm", 23851},    {"11:59:59 PM", 43200}, {"23:59:59", 43200},
      {"00:00", 1},          {"25:00", 0},           {"13:00 PM", 0},        {"00:30 AM", 0},
      {"12:60", 0},          {"ab", 0},              {"8:30", 0},            {"08:30 XM", 0},
      {"", 0},               {"(high value)", 43200},
  };
  for (auto const& c : cases) EXPECT_EQ(StrToT(c.text), c.value) << c.text;
  EXPECT_EQ(StrToT(nullptr), 0);
  EXPECT_EQ(StrToT(kHighPtr), 43200);
  EXPECT_EQ(StrNXToT("HOUR"), 65535);
  EXPECT_EQ(StrNXToT("08:30"), 15301);
  EXPECT_EQ(StrNXToT(nullptr), 0);
}

TEST(ShortTime, WriteTextsAndReadThemBack) {
  struct Case {
    uint16_t t;
    int flags;
    char const* text;
  } const cases[] = {
      {15301, 1, "08:30"},        {15301, 0, "0830"},          {15302, 3, "08:30:02"},
      {21601, 5, "12:00 PM"},     {1, 5, "12:00 AM"},          {23551, 5, "01:05 PM"},
      {21600, 7, "11:59:58 AM"},  {43200, 3, "23:59:58"},      {0, 1, ""},
      {43201, 1, ""},             {65535, 64, "HOUR"},
  };
  for (auto const& c : cases) EXPECT_EQ(ttos(c.t, c.flags), c.text) << c.t << " " << c.flags;
  for (uint16_t t = 1; t <= 43200; ++t) {
    char buf[SHORT_TEXT_SIZE];
    ASSERT_EQ(StrToT(TToStr(t, buf, 3)), t) << buf;
    ASSERT_EQ(StrToT(TToStr(t, buf, 7)), t) << buf;
  }
}

TEST(ShortDate, ReadAndWriteWithTheDateOrder) {
  NationalSettings spanish(dates_test::kSpanishConfig);
  int16_t d = DMYToD(5, 3, 2007);  // a Monday
  EXPECT_EQ(d, Date(5, 3, 2007).value());
  {
    ScopedOrder dayFirst(0);
    struct Case {
      int flags;
      char const* text;
    } const cases[] = {
        {0, "050307"},     {1, "05/03/07"},          {3, "05/03/2007"},       {2, "05032007"},
        {1 | 4, "05/MAR/07"}, {3 | 8, "05/MARZO/2007"}, {1 | 32, "LUNES/03/07"}, {1 | 16, "LUN/03/07"},
    };
    for (auto const& c : cases) EXPECT_EQ(dtos(d, c.flags), c.text) << c.flags;
    EXPECT_EQ(StrToD("05/03/2007"), d);
    EXPECT_EQ(StrToD("05/MARZO/2007"), d);
  }
  {
    ScopedOrder monthFirst(1);
    EXPECT_EQ(dtos(d, 3), "03/05/2007");
    EXPECT_EQ(dtos(d, 3 | 4), "MAR/05/2007");
    EXPECT_EQ(StrToD("03/05/2007"), d);
    EXPECT_EQ(StrToD("05/03/2007"), DMYToD(3, 5, 2007));
  }
  // What is written reads back, in both orders, with numbers or names.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> days(-32767, 32765);
  for (int order = 0; order < 2; ++order) {
    ScopedOrder o(order);
    for (int flags : {3, 2, 3 | 4, 3 | 8, 2 | 8}) {
      for (int i = 0; i < 300; ++i) {
        int16_t v = int16_t(days(rng));
        std::string text = dtos(v, flags);
        ASSERT_EQ(StrToD(text.c_str()), v) << text << " order " << order << " flags " << flags;
      }
    }
  }
}

TEST(ShortDate, MarkersLimitsAndParts) {
  ScopedOrder dayFirst(0);
  EXPECT_EQ(dtos(SHORT_DATE_NULL, 1), "");
  EXPECT_EQ(dtos(SHORT_DATE_HIGH, 1), "(high value)");
  EXPECT_EQ(dtos(SHORT_DATE_TODAY, 64 | 1), "TODAY");
  for (int attempt = 0; attempt < 3; ++attempt) {
    int16_t before = Today();
    std::string text = dtos(SHORT_DATE_TODAY, 3);
    int16_t after = Today();
    if (before != after) continue;
    EXPECT_EQ(text, dtos(before, 3));
    break;
  }
  EXPECT_EQ(StrNXToD("TODAY"), SHORT_DATE_TODAY);
  EXPECT_EQ(StrNXToD("01/01/1984"), 0);
  EXPECT_EQ(StrToD(nullptr), SHORT_DATE_NULL);
  EXPECT_EQ(StrToD(""), SHORT_DATE_NULL);
  EXPECT_EQ(StrToD("31/02/2000"), SHORT_DATE_NULL);
  EXPECT_EQ(StrToD(kHighPtr), SHORT_DATE_HIGH);
  EXPECT_EQ(StrToD("(high value)"), SHORT_DATE_HIGH);
  EXPECT_EQ(StrToD("01/01/2100"), SHORT_DATE_HIGH);  // beyond 32766 days
  EXPECT_EQ(StrToD("01/01/1800"), SHORT_DATE_NULL);
  EXPECT_EQ(DMYToD(1, 1, 2100), SHORT_DATE_HIGH);
  EXPECT_EQ(DMYToD(1, 1, 1984), 0);
  EXPECT_EQ(DMYToD(15, 9, 2073), 32765);

  int day, month, year;
  DToDMY(DMYToD(29, 2, 2000), &day, &month, &year);
  EXPECT_EQ(day, 29);
  EXPECT_EQ(month, 2);
  EXPECT_EQ(year, 2000);
  DToDMY(SHORT_DATE_NULL, &day, nullptr, nullptr);
  EXPECT_EQ(day, INT32_MIN);
  EXPECT_EQ(Year(SHORT_DATE_HIGH), INT32_MAX);
  EXPECT_EQ(Day(-1), 31);
  EXPECT_EQ(Month(-1), 12);
  EXPECT_EQ(Year(-1), 1983);
}

TEST(ShortDate, NamesAndBoundedOutput) {
  {
    NationalSettings spanish(dates_test::kSpanishConfig);
    EXPECT_STREQ(DayName(0), "DOMINGO");
    EXPECT_STREQ(DayName(-1), "S\xC1" "BADO");
    EXPECT_STREQ(DayName(15), "LUNES");
    EXPECT_STREQ(MonthName(12), "DICIEMBRE");
    EXPECT_EQ(MonthName(0), nullptr);
    EXPECT_EQ(MonthName(13), nullptr);
  }
  std::string longName(1000, 'L');
  std::string config = ",\n.\ninter\n";
  for (int i = 0; i < 19; ++i) config += longName + "\n";
  NationalSettings huge(config);
  char buf[SHORT_TEXT_SIZE + 32];
  memset(buf, '#', sizeof buf);
  DToStr(0, buf, 1 | 8 | 32);
  EXPECT_EQ(strlen(buf), size_t(SHORT_TEXT_SIZE - 1));
  for (size_t i = SHORT_TEXT_SIZE; i < sizeof buf; ++i) ASSERT_EQ(buf[i], '#') << i;
}

TEST(ShortDate, OrderFollowsTheNationalSettings) {
  if (getenv("DATADIR") == nullptr) GTEST_SKIP() << "DATADIR must point at the built catalogues";
  zftest::TempDir dir;
  dir.write("english/config", dates_test::kSpanishConfig);
  std::string path = dir.path() + ":" + getenv("DATADIR");
  zftest::RunResult r = zftest::runInChild([&] {
    setenv("DATADIR", path.c_str(), 1);
    setenv("LANGUAGE", "english", 1);
    zftest::startUpOnce("shortdate_test");
    char buf[SHORT_TEXT_SIZE];
    printf("%d|%s|%d", GetDateFmt(), DToStr(DMYToD(5, 3, 2007), buf, 3), StrToD("03/05/2007") == DMYToD(5, 3, 2007));
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1|03/05/2007|1");
}

TEST(ShortClock, TodayAndHourInTwoZones) {
  for (char const* zone : {"UTC0", "XST-5:30", "YST8"}) {
    ScopedZone z(zone);
    for (int attempt = 0; attempt < 5; ++attempt) {
      time_t before = time(nullptr);
      int16_t today = Today();
      uint16_t hour = Hour();
      time_t after = time(nullptr);
      if (before != after) continue;  // the second changed: measure again
      struct tm lt;
      localtime_r(&before, &lt);
      EXPECT_EQ(today, DMYToD(lt.tm_mday, lt.tm_mon + 1, lt.tm_year + 1900)) << zone;
      EXPECT_EQ(hour, (lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec) / 2 + 1) << zone;
      break;
    }
  }
}
