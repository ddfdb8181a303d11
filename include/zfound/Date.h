// Date: a calendar day held as a signed 32-bit day number counted from
// 1984-01-01 (day 0, a Sunday).
//
// Invariants:
//  - -2147483648 is the null date (the default) and 2147483647 the highest;
//    under the saturating arithmetic they behave as minus and plus infinity,
//    and every conversion carries them across.
//  - The 4-byte stored form is big-endian of value + 0x80000000, so that the
//    bytes compare (unsigned) in the order of the values; the 2-byte short
//    form keeps the same property for short dates.
//  - Text forms are written into static buffers of 256 bytes that the next
//    call of the same function overwrites; nothing is written past them.
//  - Calculations that reach the operating system's clock are done in 64
//    bits, so that dates past 2038 convert correctly.
#pragma once

#include <cstdint>
#include <cstdio>

class String;
class InputStream;
class OutputStream;
class Num;
class Time;

class Date {
public:
  static constexpr int32_t kNull = INT32_MIN;
  static constexpr int32_t kHigh = INT32_MAX;

  // Bits of the date format code.
  enum : int32_t {
    MonthFirst = 1,     // month before day
    TwoDigitYear = 2,   // year as two digits
    Slashes = 4,        // "/" between the parts
    ShortDayName = 8,   // first 3 characters of the weekday name for the day
    FullDayName = 16,   // full weekday name for the day
    ShortMonthName = 32,// first 3 characters of the month name for the month
    FullMonthName = 64, // full month name for the month
  };

  // The null date.
  Date() : value_(kNull) {}
  // The day of the calendar (Gregorian from 1582-10-15, Julian before).
  // day < 1, month < 1 or year < -100000: null; day > 31, month > 12 or
  // year > 142000: highest; a day that does not exist (30 February): null.
  Date(int32_t day, int32_t month, int32_t year);
  // The text reader with the current format code (month first when its
  // bit 1 is set, like the writer); null when the text is unreadable.
  explicit Date(char const* text);
  // A short date: -32768 null, 32766 highest, else the value.
  explicit Date(int16_t shortDate);

  // The raw day number.
  int32_t value() const { return value_; }
  bool isNull() const { return value_ == kNull; }
  bool isHigh() const { return value_ == kHigh; }
  static int32_t storeLength() { return 4; }

  // Calendar parts; null or highest values give null or highest parts.
  int32_t day() const;
  int32_t month() const;
  int32_t year() const;
  // 0 = Sunday .. 6 = Saturday (also for days before 1984).
  int32_t dayOfWeek() const;
  // Days since 1 January of the date's year (0-based).
  int32_t dayOfYear() const;
  // (dayOfYear + dayOfWeek of 1 January) / 7.
  int32_t weekOfYear() const;
  // 1..4.
  int32_t quarter() const;
  Date firstOfMonth() const;
  Date lastOfMonth() const;
  // (year*12 + month) - (d.year*12 + d.month).
  int32_t monthsSince(Date d) const;
  // Year and month moved by n months, the day kept; a day the month lacks
  // gives null (31 January + 1 month).
  Date addMonths(int32_t n) const;
  // The names from the national settings.
  String const& dayOfWeekName() const;
  String const& monthName() const;

  // Saturating arithmetic in days.
  Date& operator+=(int32_t days);
  Date& operator-=(int32_t days);
  Date& operator+=(Num const& days);
  Date& operator-=(Num const& days);
  Date& operator*=(int32_t n);
  Date& operator/=(int32_t n);
  Date& operator++();
  Date& operator--();
  Date operator++(int);
  Date operator--(int);
  // -1, 0, 1 by the signed day numbers.
  int cmp(Date const& d) const { return value_ < d.value_ ? -1 : value_ > d.value_ ? 1 : 0; }

  // Seconds of the operating system's clock at the start of this day
  // ((day + 5113) * 86400), in 64 bits.
  int64_t osDate() const;
  // The day of a clock value (t / 86400 - 5113).
  static Date osDate(int64_t t);
  // Today's date of the local clock.
  static Date today();

  // The date format code read by the text forms (0 until set).
  static void setFmt(int32_t fmt);
  static int32_t fmt();

  // The mask form with date codes only; null gives a null pointer and
  // highest the pointer 1.
  char const* format(char const* mask) const;
  char const* format(String const& mask) const;
  // The mask form; with a time, the time codes are recognised too.
  char const* form(char const* mask, Time const* time = nullptr) const;

  // 4 bytes big-endian of value + 0x80000000; pos moves past them.
  void store(char*& pos) const;
  Date& load(char const*& pos);
  // The plain value as 4 big-endian bytes on a C stream.
  void store(FILE* f) const;
  Date& load(FILE* f);
  // The plain value as 4 big-endian bytes on a buffered stream; a value cut
  // short by the end of the input loads as 0 with the stream's error bit.
  void store(OutputStream& os) const;
  Date& load(InputStream& is);
  // 2 bytes: the short date with its top bit inverted; null 0x0000,
  // highest 0xFFFE.
  void storeShort(char*& pos) const;
  Date& loadShort(char const*& pos);

  friend Date toDate(int32_t v);

private:
  int32_t value_;
};

inline Date toDate(int32_t v) { Date d; d.value_ = v; return d; }
// Text to date as Date(char const*).
Date toDate(String const& s);

inline bool operator==(Date const& a, Date const& b) { return a.value() == b.value(); }
inline bool operator!=(Date const& a, Date const& b) { return a.value() != b.value(); }
inline bool operator<(Date const& a, Date const& b) { return a.value() < b.value(); }
inline bool operator<=(Date const& a, Date const& b) { return a.value() <= b.value(); }
inline bool operator>(Date const& a, Date const& b) { return a.value() > b.value(); }
inline bool operator>=(Date const& a, Date const& b) { return a.value() >= b.value(); }

Date operator+(Date d, int32_t days);
Date operator-(Date d, int32_t days);
Date operator+(Date d, Num const& days);
Date operator-(Date d, Num const& days);
// The difference in days (saturating).
int32_t operator-(Date const& a, Date const& b);

// The text form with the current format code or-ed with `flags`: null gives
// a null pointer, highest the pointer 1.
char const* toCharPtr(Date d, int32_t flags = 0);
// The same as a String (null and highest carried across).
String toString(Date d, int32_t flags = 0);

// Calendar conversion: Julian day number based; null/highest as Date().
int32_t _dmy_to_date(int32_t day, int32_t month, int32_t year);
// The reverse; null and highest give all three parts null or highest.
void _date_to_dmy(int32_t date, int32_t* day, int32_t* month, int32_t* year);
// The date text reader: month first when monthFirst is set; the pointer 1
// gives highest, a null or empty text null, "NOW" today; an unreadable text
// null.
int32_t _str_to_date(char const* text, bool monthFirst);
// The date text writer into buf (at least bufSize bytes, NUL-terminated):
// returns buf, a null pointer for null or the pointer 1 for highest.
char const* _date_to_str(int32_t date, char* buf, size_t bufSize, int32_t fmt);
// The two-digit year pivot: CENTURY_WRAP (read once) or the current year
// plus 20.
int32_t _centuryWrap();
// Forgets the remembered CENTURY_WRAP, so that the next use reads it again.
void _resetCenturyWrap();

// --- saturating 32-bit arithmetic of day numbers and seconds ---------------
// 2147483647 and -2147483648 act as plus and minus infinity (the highest and
// null values of Date and Time).
// Sum: a + -a gives 0; overflow saturates; an infinite operand is the result.
int32_t add(int32_t a, int32_t b);
// Product saturated to 2147483647 / -2147483648.
int32_t mult(int32_t a, int32_t b);
// Quotient truncated toward zero, saturated like mult; b = 0 gives
// -2147483648 for a negative a and 2147483647 otherwise. (Not named div: the
// C library's div owns that name.)
int32_t intDiv(int32_t a, int32_t b);
