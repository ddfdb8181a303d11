// Time: composition and decomposition of seconds, the text reader and
// writer, arithmetic and clock conversions (the stored forms are with the
// other stored forms).
//
// Composition saturates into null and highest; the time of day is always
// taken with floor division, so a time before 1984 still has its hours,
// minutes and seconds in 0..23, 0..59 and 0..59. Clock values are 64-bit.
#include <zfound/Time.h>

#include "DateTimeImpl.h"

using namespace dtx;

namespace {

// Reads 1..maxDigits digits (exactly `exact` when exact > 0); -1 when none.
int32_t readNum(char const*& p, char const* end, int maxDigits, int exact) {
  size_t n;
  int32_t v = readDigits(p, end, size_t(maxDigits), n);
  if (n == 0 || (exact > 0 && n != size_t(exact))) return -1;
  return v;
}

// Time of day in 0..86399 of a time that is neither null nor highest.
int32_t timeOfDay(int32_t t) { return int32_t(fmod64(t, 86400)); }

}  // namespace

// ----------------------------------------------------- compose, decompose

int32_t _dhms_to_time(int32_t d, int32_t h, int32_t m, int32_t s) {
  int64_t parts[3] = {int64_t(d) * 86400, int64_t(h) * 3600, int64_t(m) * 60};
  for (int64_t p : parts) {
    if (p > int64_t(kHigh)) return kHigh;
    if (p < int64_t(kNull)) return kNull;
  }
  if (s > 2147483646) return kHigh;
  if (s < -2147483647) return kNull;
  return clamp32(parts[0] + parts[1] + parts[2] + s);
}

void _time_to_dhms(int32_t t, int32_t* d, int32_t* h, int32_t* m, int32_t* s) {
  if (t == kNull || t == kHigh) {
    if (d) *d = t;
    if (h) *h = t;
    if (m) *m = t;
    if (s) *s = t;
    return;
  }
  int32_t tod = timeOfDay(t);
  if (d) *d = int32_t(fdiv(t, 86400));
  if (h) *h = tod / 3600;
  if (m) *m = tod / 60 % 60;
  if (s) *s = tod % 60;
}

// --------------------------------------------------------------- reader

int32_t _str_to_time(char const* text) {
  if (text == reinterpret_cast<char const*>(1)) return kHigh;
  if (text == nullptr) return kNull;
  char const* p = text;
  char const* end = text + strlen(text);
  trimText(p, end);
  if (p == end) return kNull;
  if (end - p == 3 && memcmp(p, "NOW", 3) == 0) return Time::now().value();

  int32_t days = 0;
  if (end - p >= 11) {
    // Four characters of days (blanks and a sign allowed), then a separator.
    char buf[5];
    memcpy(buf, p, 4);
    buf[4] = '\0';
    char const* q = buf;
    while (*q == ' ') ++q;
    bool neg = false;
    if (*q == '-' || *q == '+') {
      neg = *q == '-';
      ++q;
    }
    char const* qe = buf + 4;
    int32_t v = readNum(q, qe, 4, 0);
    if (v < 0 || q != qe) return kNull;
    days = neg ? -v : v;
    p += 5;
  }

  int32_t fields[3];
  int n = 0;
  bool colons = end - p > 2 && p[2] == ':';
  if (!colons && end - p > 1 && p[1] == ':') colons = true;
  while (p < end && n < 3) {
    int32_t v = colons ? readNum(p, end, 2, 0) : readNum(p, end, 2, 2);
    if (v < 0) return kNull;
    fields[n++] = v;
    if (p == end) break;
    if (colons) {
      if (*p != ':') return kNull;
      ++p;
      if (p == end) return kNull;
    }
  }
  if (p != end || n < 2) return kNull;
  // The fields are composed as they stand, like a duration: 12:60 is 13:00.
  return _dhms_to_time(days, fields[0], fields[1], n == 3 ? fields[2] : 0);
}

// --------------------------------------------------------------- writer

char const* _time_to_str(int32_t t, char* buf, size_t bufSize, int32_t flags) {
  if (t == kNull) return nullptr;
  if (t == kHigh) return reinterpret_cast<char const*>(1);
  int32_t h, m, s;
  _time_to_dhms(t, nullptr, &h, &m, &s);
  Out out(buf, bufSize);
  char const* sep = (flags & Time::Colons) ? ":" : "";
  out.num(h, 2);
  out.put(sep);
  out.num(m, 2);
  if (flags & Time::Seconds) {
    out.put(sep);
    out.num(s, 2);
  }
  return buf;
}

// ------------------------------------------------------------------ Time

Time::Time(int32_t h, int32_t m, int32_t s) : value_(_dhms_to_time(0, h, m, s)) {}
Time::Time(int32_t d, int32_t h, int32_t m, int32_t s) : value_(_dhms_to_time(d, h, m, s)) {}
Time::Time(char const* text) : value_(_str_to_time(text)) {}

Time::Time(uint16_t s)
    : value_(s == kShortNull ? kNull : s >= kShortHigh ? kHigh : 2 * int32_t(s) - 2) {}

Time toTime(Date d) {
  if (d.isNull() || d.isHigh()) return toTime(d.value());
  return toTime(smul(d.value(), 86400));
}

Time toTime(String const& s) { return Time(toCharPtr(s)); }

// The date of a time point: floor division, so that a time before 1984
// falls on its own day rather than on the day after.
Date toDate(Time t) {
  if (t.isNull() || t.isHigh()) return toDate(t.value());
  return toDate(int32_t(fdiv(t.value(), 86400)));
}

int32_t Time::second() const { int32_t s; _time_to_dhms(value_, nullptr, nullptr, nullptr, &s); return s; }
int32_t Time::minute() const { int32_t m; _time_to_dhms(value_, nullptr, nullptr, &m, nullptr); return m; }
int32_t Time::hour() const { int32_t h; _time_to_dhms(value_, nullptr, &h, nullptr, nullptr); return h; }
int32_t Time::minutes() const { return isNull() || isHigh() ? value_ : value_ / 60; }
int32_t Time::hours() const { return isNull() || isHigh() ? value_ : value_ / 3600; }
int32_t Time::days() const { return isNull() || isHigh() ? value_ : value_ / 86400; }

int64_t Time::osTime() const { return int64_t(value_) + kEpochSeconds; }

Time Time::osTime(int64_t os) { return toTime(clamp32(localOf(os) - kEpochSeconds)); }

Time Time::now() { return toTime(clamp32(clockNow() - kEpochSeconds)); }

Time& Time::operator+=(Time const& t) { value_ = sadd(value_, t.value_); return *this; }
Time& Time::operator-=(Time const& t) { value_ = sadd(value_, sneg(t.value_)); return *this; }
Time& Time::operator+=(int32_t s) { value_ = sadd(value_, s); return *this; }
Time& Time::operator-=(int32_t s) { value_ = sadd(value_, sneg(s)); return *this; }
Time& Time::operator*=(int32_t n) { value_ = smul(value_, n); return *this; }
Time& Time::operator/=(int32_t n) { value_ = sdiv(value_, n); return *this; }
Time& Time::operator++() { return *this += 1; }
Time& Time::operator--() { return *this -= 1; }
Time Time::operator++(int) { Time old = *this; *this += 1; return old; }
Time Time::operator--(int) { Time old = *this; *this -= 1; return old; }

Time operator+(Time t, Time const& u) { return t += u; }
Time operator-(Time t, Time const& u) { return t -= u; }
Time operator+(Time t, int32_t s) { return t += s; }
Time operator-(Time t, int32_t s) { return t -= s; }

char const* Time::format(char const* mask) const {
  return toDate(*this).form(mask, this);
}

char const* Time::format(String const& mask) const { return format(mask ? toCharPtr(mask) : ""); }

char const* toCharPtr(Time t, int32_t flags) {
  static char buf[256];
  return _time_to_str(t.value(), buf, sizeof buf, flags);
}

String toString(Time t, int32_t flags) { return String(toCharPtr(t, flags)); }

uint16_t Time::toShort() const {
  if (isNull()) return kShortNull;
  if (isHigh()) return kShortHigh;
  return uint16_t(timeOfDay(value_) / 2 + 1);
}
