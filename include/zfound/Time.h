// Time: a point in time (or a duration) in whole seconds, held as a signed
// 32-bit count from 1984-01-01 00:00:00.
//
// Invariants:
//  - -2147483648 is the null time (the default) and 2147483647 the highest;
//    the saturating arithmetic keeps them as minus and plus infinity.
//  - The 4-byte stored form is big-endian of value + 0x80000000 (byte order
//    equals value order). The 2-byte short form counts two-second units of
//    the time of day plus 1 (1..43200), 0 for null and 43201 for highest,
//    so that highest stays apart from 23:59:58/59 and still sorts last.
//  - Operating-system clock values are 64-bit; a clock value outside the
//    32-bit range of Time becomes null or highest.
#pragma once

#include <zfound/Date.h>

#include <cstdint>
#include <cstdio>

class String;
class InputStream;
class OutputStream;

class Time {
public:
  static constexpr int32_t kNull = INT32_MIN;
  static constexpr int32_t kHigh = INT32_MAX;
  // Short-form codes.
  static constexpr uint16_t kShortNull = 0;
  static constexpr uint16_t kShortHigh = 43201;

  // Text flags.
  enum : int32_t {
    Colons = 2,   // ":" between the fields
    Seconds = 4,  // seconds as a third field
  };

  // The null time.
  Time() : value_(kNull) {}
  // h:m:s and d days h:m:s, each part saturating into null or highest.
  Time(int32_t h, int32_t m, int32_t s);
  Time(int32_t d, int32_t h, int32_t m, int32_t s);
  // The text reader; an unreadable text gives null.
  explicit Time(char const* text);
  // A short time: 0 null, 43201 and above highest, else 2 * s - 2 seconds.
  explicit Time(uint16_t shortTime);

  int32_t value() const { return value_; }
  bool isNull() const { return value_ == kNull; }
  bool isHigh() const { return value_ == kHigh; }
  static int32_t storeLength() { return 4; }

  // Parts of the time of day (from t mod 86400; null/highest carried).
  int32_t second() const;
  int32_t minute() const;
  int32_t hour() const;
  // Totals: t, t / 60, t / 3600, t / 86400.
  int32_t seconds() const { return value_; }
  int32_t minutes() const;
  int32_t hours() const;
  int32_t days() const;

  // The clock value of the operating system (t + 441763200), in 64 bits.
  int64_t osTime() const;
  // The local time of a clock value: os - 441763200 moved by the local
  // zone offset.
  static Time osTime(int64_t os);
  // The current clock ("NOW"): the clock value less 441763200, no zone step.
  static Time now();

  Time& operator+=(Time const& t);
  Time& operator-=(Time const& t);
  Time& operator+=(int32_t s);
  Time& operator-=(int32_t s);
  Time& operator*=(int32_t n);
  Time& operator/=(int32_t n);
  Time& operator++();
  Time& operator--();
  Time operator++(int);
  Time operator--(int);
  int cmp(Time const& t) const { return value_ < t.value_ ? -1 : value_ > t.value_ ? 1 : 0; }

  // The mask form with date and time codes.
  char const* format(char const* mask) const;
  char const* format(String const& mask) const;

  // 4 bytes big-endian of value + 0x80000000; pos moves past them.
  void store(char*& pos) const;
  Time& load(char const*& pos);
  void store(FILE* f) const;
  Time& load(FILE* f);
  // The plain value as 4 big-endian bytes on a buffered stream; a value cut
  // short by the end of the input loads as 0 with the stream's error bit.
  void store(OutputStream& os) const;
  Time& load(InputStream& is);
  // 2 bytes big-endian of the short form described above.
  void storeShort(char*& pos) const;
  Time& loadShort(char const*& pos);
  // The short form value (0 null, 1..43200, 43201 highest).
  uint16_t toShort() const;

  friend Time toTime(int32_t v);

private:
  int32_t value_;
};

inline Time toTime(int32_t v) { Time t; t.value_ = v; return t; }
// Null and highest kept, else day * 86400 (saturating).
Time toTime(Date d);
Time toTime(String const& s);
// Null and highest kept, else seconds / 86400 (truncating).
Date toDate(Time t);

inline bool operator==(Time const& a, Time const& b) { return a.value() == b.value(); }
inline bool operator!=(Time const& a, Time const& b) { return a.value() != b.value(); }
inline bool operator<(Time const& a, Time const& b) { return a.value() < b.value(); }
inline bool operator<=(Time const& a, Time const& b) { return a.value() <= b.value(); }
inline bool operator>(Time const& a, Time const& b) { return a.value() > b.value(); }
inline bool operator>=(Time const& a, Time const& b) { return a.value() >= b.value(); }

Time operator+(Time t, Time const& u);
Time operator-(Time t, Time const& u);
Time operator+(Time t, int32_t s);
Time operator-(Time t, int32_t s);

// Text form: hours and minutes, with flag 4 seconds, separated by ":" with
// flag 2; null gives a null pointer and highest the pointer 1.
char const* toCharPtr(Time t, int32_t flags = 0);
String toString(Time t, int32_t flags = 0);

// Composition of days, hours, minutes and seconds (saturating).
int32_t _dhms_to_time(int32_t d, int32_t h, int32_t m, int32_t s);
// Decomposition; null and highest give all parts null or highest.
void _time_to_dhms(int32_t t, int32_t* d, int32_t* h, int32_t* m, int32_t* s);
// The time text reader; unreadable gives null.
int32_t _str_to_time(char const* text);
// The time text writer (see toCharPtr).
char const* _time_to_str(int32_t t, char* buf, size_t bufSize, int32_t flags);
