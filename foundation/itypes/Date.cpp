// Date: calendar conversion, the text reader and writer and arithmetic of a
// day number counted from 1984-01-01 (its stored forms are with the other
// stored forms).
//
// The calendar is Gregorian from 1582-10-15 (day -146540) and Julian before
// it; years are numbered astronomically (year 0 is 1 BC). Every conversion
// is done in 64-bit integers with floor division, so negative day numbers
// and far years convert exactly. Null and highest never reach the calendar:
// they pass through every operation as themselves.
#include <zfound/Date.h>
#include <zfound/Time.h>
#include <zfound/Num.h>

#include "DateTimeImpl.h"

#include <cstdlib>

using namespace dtx;

namespace {

// Julian day number of 1984-01-01.
constexpr int64_t kJdnBase = 2445701;
// Day number of 1582-10-15, the first Gregorian day.
constexpr int32_t kGregorianStart = -146540;
constexpr int32_t kYearMin = -100000;
constexpr int32_t kYearMax = 142000;

int64_t gregorianJdn(int64_t d, int64_t m, int64_t y) {
  int64_t a = fdiv(14 - m, 12);
  int64_t yy = y + 4800 - a;
  int64_t mm = m + 12 * a - 3;
  return d + fdiv(153 * mm + 2, 5) + 365 * yy + fdiv(yy, 4) - fdiv(yy, 100) + fdiv(yy, 400) - 32045;
}

int64_t julianJdn(int64_t d, int64_t m, int64_t y) {
  int64_t a = fdiv(14 - m, 12);
  int64_t yy = y + 4800 - a;
  int64_t mm = m + 12 * a - 3;
  return d + fdiv(153 * mm + 2, 5) + 365 * yy + fdiv(yy, 4) - 32083;
}

void jdnToDmy(int64_t jdn, bool gregorian, int32_t* day, int32_t* month, int32_t* year) {
  int64_t b = 0, c;
  if (gregorian) {
    int64_t a = jdn + 32044;
    b = fdiv(4 * a + 3, 146097);
    c = a - fdiv(146097 * b, 4);
  } else {
    c = jdn + 32082;
  }
  int64_t d = fdiv(4 * c + 3, 1461);
  int64_t e = c - fdiv(1461 * d, 4);
  int64_t m = fdiv(5 * e + 2, 153);
  *day = int32_t(e - fdiv(153 * m + 2, 5) + 1);
  *month = int32_t(m + 3 - 12 * fdiv(m, 10));
  *year = int32_t(100 * b + d - 4800 + fdiv(m, 10));
}

// The parts of the date asked for last (kept process-wide).
int32_t cacheDate = kNull;
int32_t cacheDay = kNull, cacheMonth = kNull, cacheYear = kNull;

int32_t dateFmtCode = 0;

int32_t centuryPivot = -1;

// Case-insensitive equality of n characters through the system's classes.
bool sameText(char const* a, char const* b, size_t n) { return memCmpI(a, b, long(n)) == 0; }

// The month (1..12) whose full name or first three characters are the n
// characters at p; 0 when none matches.
int32_t monthOfName(char const* p, size_t n) {
  for (int32_t m = 0; m < 12; ++m) {
    char const* name = monName(m);
    size_t len = strlen(name);
    if (len == 0) continue;
    size_t shortLen = len < 3 ? len : 3;
    if ((n == len || n == shortLen) && sameText(p, name, n)) return m + 1;
  }
  return 0;
}

// One day or month part of a date text: digits (at most `maxDigits`, at
// least `minDigits`) or, when names are allowed, a month name. Returns the
// number or -1 when unreadable; *isName tells a name.
int32_t readPart(char const*& p, char const* end, size_t minDigits, size_t maxDigits,
                 bool* isName) {
  *isName = false;
  char const* q = p;
  if (q < end && isAlphaChar(*q)) {
    while (q < end && isAlphaChar(*q)) ++q;
    int32_t m = monthOfName(p, size_t(q - p));
    if (m == 0) return -1;
    *isName = true;
    p = q;
    return m;
  }
  size_t n;
  int32_t v = readDigits(q, end, maxDigits, n);
  if (n < minDigits || n == 0) return -1;
  p = q;
  return v;
}

}  // namespace

// ---------------------------------------------------------------- calendar

int32_t _dmy_to_date(int32_t day, int32_t month, int32_t year) {
  if (day == kNull || month == kNull || year == kNull) return kNull;
  if (day < 1 || month < 1 || year < kYearMin) return kNull;
  if (day > 31 || month > 12 || year > kYearMax) return kHigh;
  bool gregorian = year > 1582 || (year == 1582 && (month > 10 || (month == 10 && day >= 15)));
  int64_t jdn = gregorian ? gregorianJdn(day, month, year) : julianJdn(day, month, year);
  int32_t date = int32_t(jdn - kJdnBase);
  int32_t d, m, y;
  _date_to_dmy(date, &d, &m, &y);
  if (d != day || m != month || y != year) return kNull;
  return date;
}

void _date_to_dmy(int32_t date, int32_t* day, int32_t* month, int32_t* year) {
  if (date != cacheDate) {
    if (date == kNull || date == kHigh) {
      cacheDay = cacheMonth = cacheYear = date;
    } else {
      jdnToDmy(int64_t(date) + kJdnBase, date >= kGregorianStart, &cacheDay, &cacheMonth, &cacheYear);
    }
    cacheDate = date;
  }
  if (day) *day = cacheDay;
  if (month) *month = cacheMonth;
  if (year) *year = cacheYear;
}

// ---------------------------------------------------------- century pivot

int32_t _centuryWrap() {
  if (centuryPivot < 0) {
    int32_t pivot = -1;
    char const* env = readEnvVar("CENTURY_WRAP");
    if (env && *env) {
      char* end = nullptr;
      long v = strtol(env, &end, 10);
      while (end && *end == ' ') ++end;
      if (end && *end == '\0' && v >= 1000 && v <= 9999) pivot = int32_t(v);
    }
    if (pivot < 0) {
      int32_t y;
      _date_to_dmy(Date::today().value(), nullptr, nullptr, &y);
      pivot = y + 20;
    }
    centuryPivot = pivot;
  }
  return centuryPivot;
}

void _resetCenturyWrap() { centuryPivot = -1; }

// ------------------------------------------------------------- text reader

int32_t _str_to_date(char const* text, bool monthFirst) {
  if (text == reinterpret_cast<char const*>(1)) return kHigh;
  if (text == nullptr) return kNull;
  char const* p = text;
  char const* end = text + strlen(text);
  trimText(p, end);
  if (p == end) return kNull;
  if (end - p == 3 && memcmp(p, "NOW", 3) == 0) return Date::today().value();

  bool slashes = memchr(p, '/', size_t(end - p)) != nullptr;
  bool name1, name2;
  // With "/" each part holds one or two digits; packed, exactly two.
  size_t minDigits = slashes ? 1 : 2;
  int32_t first = readPart(p, end, minDigits, 2, &name1);
  if (first < 0) return kNull;
  if (slashes) {
    if (p >= end || *p != '/') return kNull;
    ++p;
  }
  int32_t second = readPart(p, end, minDigits, 2, &name2);
  if (second < 0) return kNull;
  if (slashes) {
    if (p >= end || *p != '/') return kNull;
    ++p;
  }
  // A month name fixes the order whatever the flag says.
  bool mFirst = monthFirst;
  if (name1 && name2) return kNull;
  if (name1) mFirst = true;
  if (name2) mFirst = false;
  int32_t day = mFirst ? second : first;
  int32_t month = mFirst ? first : second;

  // The year: optional sign, then digits to the end.
  bool neg = false;
  if (p < end && (*p == '-' || *p == '+')) {
    neg = *p == '-';
    ++p;
  }
  int64_t year = 0;
  size_t digits = 0;
  while (p < end && isDigitChar(*p)) {
    if (year < 100000000) year = year * 10 + (*p - '0');
    ++p;
    ++digits;
  }
  if (p != end || digits == 0) return kNull;
  if (digits < 3 && !neg) {
    int32_t pivot = _centuryWrap();
    int32_t century = pivot / 100 * 100;
    int32_t wrap = pivot % 100;
    year += year > wrap ? century - 100 : century;
  }
  if (neg) year = -year;
  return _dmy_to_date(day, month, clamp32(year));
}

// ------------------------------------------------------------- text writer

char const* _date_to_str(int32_t date, char* buf, size_t bufSize, int32_t fmt) {
  if (date == kNull) return nullptr;
  if (date == kHigh) return reinterpret_cast<char const*>(1);
  int32_t d, m, y;
  _date_to_dmy(date, &d, &m, &y);
  Out out(buf, bufSize);
  auto dayPart = [&] {
    if (fmt & Date::FullDayName)
      out.put(dayName(toDate(date).dayOfWeek()));
    else if (fmt & Date::ShortDayName)
      out.put(dayName(toDate(date).dayOfWeek()), 3);
    else
      out.num(d, 2);
  };
  auto monthPart = [&] {
    if (fmt & Date::FullMonthName)
      out.put(monName(m - 1));
    else if (fmt & Date::ShortMonthName)
      out.put(monName(m - 1), 3);
    else
      out.num(m, 2);
  };
  if (fmt & Date::MonthFirst) monthPart(); else dayPart();
  if (fmt & Date::Slashes) out.put('/');
  if (fmt & Date::MonthFirst) dayPart(); else monthPart();
  if (fmt & Date::Slashes) out.put('/');
  // A full year has at least 4 digits, so that it never reads back as a
  // two-digit year of another century.
  if (fmt & Date::TwoDigitYear)
    out.num(fmod64(y, 100), 2);
  else
    out.num(y, 4);
  return buf;
}

// ------------------------------------------------------------------ Date

Date::Date(int32_t day, int32_t month, int32_t year) : value_(_dmy_to_date(day, month, year)) {}

Date::Date(char const* text) : value_(_str_to_date(text, (dateFmtCode & MonthFirst) != 0)) {}

Date::Date(int16_t s) : value_(s == INT16_MIN ? kNull : s == 32766 ? kHigh : int32_t(s)) {}

Date toDate(String const& s) { return Date(toCharPtr(s)); }

int32_t Date::day() const { int32_t d; _date_to_dmy(value_, &d, nullptr, nullptr); return d; }
int32_t Date::month() const { int32_t m; _date_to_dmy(value_, nullptr, &m, nullptr); return m; }
int32_t Date::year() const { int32_t y; _date_to_dmy(value_, nullptr, nullptr, &y); return y; }

int32_t Date::dayOfWeek() const {
  if (isNull() || isHigh()) return value_;
  return int32_t(fmod64(value_, 7));
}

int32_t Date::dayOfYear() const {
  if (isNull() || isHigh()) return value_;
  return value_ - _dmy_to_date(1, 1, year());
}

int32_t Date::weekOfYear() const {
  if (isNull() || isHigh()) return value_;
  return (dayOfYear() + toDate(_dmy_to_date(1, 1, year())).dayOfWeek()) / 7;
}

int32_t Date::quarter() const {
  if (isNull() || isHigh()) return value_;
  return (month() - 1) / 3 + 1;
}

Date Date::firstOfMonth() const {
  if (isNull() || isHigh()) return *this;
  int32_t m, y;
  _date_to_dmy(value_, nullptr, &m, &y);
  return Date(1, m, y);
}

Date Date::lastOfMonth() const {
  if (isNull() || isHigh()) return *this;
  int32_t m, y;
  _date_to_dmy(value_, nullptr, &m, &y);
  Date next = m == 12 ? Date(1, 1, y + 1) : Date(1, m + 1, y);
  if (next.isNull() || next.isHigh()) return next;
  return toDate(next.value_ - 1);
}

int32_t Date::monthsSince(Date d) const {
  if (isNull() || d.isHigh()) return kNull;
  if (isHigh() || d.isNull()) return kHigh;
  int32_t m1, y1, m2, y2;
  _date_to_dmy(value_, nullptr, &m1, &y1);
  _date_to_dmy(d.value_, nullptr, &m2, &y2);
  return clamp32((int64_t(y1) * 12 + m1) - (int64_t(y2) * 12 + m2));
}

Date Date::addMonths(int32_t n) const {
  if (isNull() || isHigh()) return *this;
  int32_t d, m, y;
  _date_to_dmy(value_, &d, &m, &y);
  int64_t total = int64_t(y) * 12 + (m - 1) + n;
  int64_t ny = fdiv(total, 12);
  int32_t nm = int32_t(fmod64(total, 12)) + 1;
  return Date(d, nm, clamp32(ny));
}

String const& Date::dayOfWeekName() const {
  static String const none;
  if (isNull() || isHigh()) return none;
  return ::dayOfWeekName(dayOfWeek());
}

String const& Date::monthName() const {
  static String const none;
  if (isNull() || isHigh()) return none;
  return ::monthName(month() - 1);
}

Date& Date::operator+=(int32_t days) { value_ = sadd(value_, days); return *this; }
Date& Date::operator-=(int32_t days) { value_ = sadd(value_, sneg(days)); return *this; }
Date& Date::operator+=(Num const& days) { return *this += toInt(days); }
Date& Date::operator-=(Num const& days) { return *this -= toInt(days); }
Date& Date::operator*=(int32_t n) { value_ = smul(value_, n); return *this; }
Date& Date::operator/=(int32_t n) { value_ = sdiv(value_, n); return *this; }
Date& Date::operator++() { return *this += 1; }
Date& Date::operator--() { return *this -= 1; }
Date Date::operator++(int) { Date old = *this; *this += 1; return old; }
Date Date::operator--(int) { Date old = *this; *this -= 1; return old; }

Date operator+(Date d, int32_t days) { return d += days; }
Date operator-(Date d, int32_t days) { return d -= days; }
Date operator+(Date d, Num const& days) { return d += days; }
Date operator-(Date d, Num const& days) { return d -= days; }
int32_t operator-(Date const& a, Date const& b) { return sadd(a.value(), sneg(b.value())); }

int64_t Date::osDate() const { return (int64_t(value_) + kEpochDays) * 86400; }

Date Date::osDate(int64_t t) { return toDate(clamp32(fdiv(t, 86400) - kEpochDays)); }

Date Date::today() { return osDate(localNow()); }

void Date::setFmt(int32_t fmt) { dateFmtCode = fmt; }
int32_t Date::fmt() { return dateFmtCode; }

char const* Date::format(char const* mask) const { return form(mask, nullptr); }

char const* Date::format(String const& mask) const {
  return form(mask ? toCharPtr(mask) : "", nullptr);
}

char const* toCharPtr(Date d, int32_t flags) {
  static char buf[256];
  return _date_to_str(d.value(), buf, sizeof buf, Date::fmt() | flags);
}

String toString(Date d, int32_t flags) { return String(toCharPtr(d, flags)); }
