// The short dates and times of the plain-function interface, on top of the
// 32-bit Date and Time.
//
// Every text is first built in a local buffer of SHORT_TEXT_SIZE bytes that
// cuts what does not fit, then copied to the caller; nothing is written
// past SHORT_TEXT_SIZE bytes of the caller's buffer.
#include <zfound/ShortDate.h>
#include <zfound/Date.h>
#include <zfound/ProcessHooks.h>
#include <zfound/Time.h>

#include "DateTimeImpl.h"

using namespace dtx;

namespace {

// -1 until set: then the national settings decide.
int dateOrderFlag = -1;

int16_t limitShort(int32_t v) {
  if (v <= -32768) return SHORT_DATE_NULL;
  if (v >= 32766) return SHORT_DATE_HIGH;
  return int16_t(v);
}

// Exactly two digits at p; -1 otherwise.
int twoDigits(char const* p) {
  if (!isDigitChar(p[0]) || !isDigitChar(p[1])) return -1;
  return (p[0] - '0') * 10 + (p[1] - '0');
}

char* copyOut(char* buffer, char const* text) {
  size_t n = strlen(text);
  if (n >= SHORT_TEXT_SIZE) n = SHORT_TEXT_SIZE - 1;
  memcpy(buffer, text, n);
  buffer[n] = '\0';
  return buffer;
}

bool isHighText(char const* s) {
  return s == reinterpret_cast<char const*>(1) || strcmp(s, "(high value)") == 0;
}

}  // namespace

extern "C" {

void SetDateFmt(int n) { dateOrderFlag = n != 0 ? 1 : 0; }

void TEST_resetDateFmt(void) { dateOrderFlag = -1; }

int GetDateFmt(void) {
  if (dateOrderFlag < 0) return startUpDone() && dateFmt() != 0 ? 1 : 0;
  return dateOrderFlag;
}

int16_t Today(void) { return limitShort(Date::today().value()); }

uint16_t Hour(void) { return uint16_t(fmod64(localNow(), 86400) / 2 + 1); }

char const* DayName(int16_t n) { return dayName(int32_t(fmod64(n, 7))); }

char const* MonthName(int m) {
  if (m < 1 || m > 12) return nullptr;
  return monName(m - 1);
}

int16_t StrToD(char const* s) {
  if (s == nullptr) return SHORT_DATE_NULL;
  if (isHighText(s)) return SHORT_DATE_HIGH;
  if (*s == '\0') return SHORT_DATE_NULL;
  if (strcmp(s, "TODAY") == 0) return Today();
  return limitShort(_str_to_date(s, GetDateFmt() == 1));
}

int16_t StrNXToD(char const* s) {
  if (s && s != reinterpret_cast<char const*>(1) && strcmp(s, "TODAY") == 0) return SHORT_DATE_TODAY;
  return StrToD(s);
}

int16_t DMYToD(int day, int month, int year) { return limitShort(_dmy_to_date(day, month, year)); }

void DToDMY(int16_t d, int* day, int* month, int* year) {
  int32_t dd, mm, yy;
  _date_to_dmy(Date(d).value(), &dd, &mm, &yy);
  if (day) *day = dd;
  if (month) *month = mm;
  if (year) *year = yy;
}

int Day(int16_t d) { int v; DToDMY(d, &v, nullptr, nullptr); return v; }
int Month(int16_t d) { int v; DToDMY(d, nullptr, &v, nullptr); return v; }
int Year(int16_t d) { int v; DToDMY(d, nullptr, nullptr, &v); return v; }

char* DToStr(int16_t d, char* buffer, int flags) {
  if (d == SHORT_DATE_NULL) return copyOut(buffer, "");
  if (d == SHORT_DATE_TODAY) {
    if (flags & 64) return copyOut(buffer, "TODAY");
    d = Today();
  }
  if (d == SHORT_DATE_HIGH) return copyOut(buffer, "(high value)");
  int32_t fmt = 0;
  if (GetDateFmt() == 1) fmt |= Date::MonthFirst;
  if (flags & 1) fmt |= Date::Slashes;
  if (!(flags & 2)) fmt |= Date::TwoDigitYear;
  if (flags & 8) fmt |= Date::FullMonthName;
  if (flags & 4) fmt |= Date::ShortMonthName;
  if (flags & 32) fmt |= Date::FullDayName;
  if (flags & 16) fmt |= Date::ShortDayName;
  char text[SHORT_TEXT_SIZE];
  char const* r = _date_to_str(Date(d).value(), text, sizeof text, fmt);
  return copyOut(buffer, r && r != reinterpret_cast<char const*>(1) ? r : "");
}

uint16_t StrToT(char const* s) {
  if (s == nullptr) return SHORT_TIME_NULL;
  if (isHighText(s)) return SHORT_TIME_HIGH;
  if (*s == '\0') return SHORT_TIME_NULL;
  if (strcmp(s, "HOUR") == 0) return Hour();
  char const* p = s;
  while (*p == ' ') ++p;
  int h = twoDigits(p);
  if (h < 0) return SHORT_TIME_NULL;
  p += 2;
  if (*p && !isDigitChar(*p) && isDigitChar(p[1])) ++p;
  int m = twoDigits(p);
  if (m < 0) return SHORT_TIME_NULL;
  p += 2;
  int sec = 0;
  if (*p && !isDigitChar(*p) && isDigitChar(p[1])) {
    sec = twoDigits(p + 1);
    if (sec < 0) return SHORT_TIME_NULL;
    p += 3;
  }
  while (*p == ' ') ++p;
  // An "AM" or "PM" after the time: 12 AM is midnight, 12 PM noon.
  char ampm = 0;
  if (*p == 'A' || *p == 'a' || *p == 'P' || *p == 'p') {
    ampm = char(*p == 'a' || *p == 'A' ? 'A' : 'P');
    ++p;
    if (*p == 'M' || *p == 'm') ++p;
    while (*p == ' ') ++p;
  }
  if (*p != '\0') return SHORT_TIME_NULL;
  if (m > 59 || sec > 59) return SHORT_TIME_NULL;
  if (ampm) {
    if (h < 1 || h > 12) return SHORT_TIME_NULL;
    if (h == 12) h = 0;
    if (ampm == 'P') h += 12;
  } else if (h > 23) {
    return SHORT_TIME_NULL;
  }
  return uint16_t(h * 1800 + m * 30 + sec / 2 + 1);
}

uint16_t StrNXToT(char const* s) {
  if (s && s != reinterpret_cast<char const*>(1) && strcmp(s, "HOUR") == 0) return SHORT_TIME_NOW;
  return StrToT(s);
}

char* TToStr(uint16_t t, char* buffer, int flags) {
  if (t == SHORT_TIME_NOW) {
    if (flags & 64) return copyOut(buffer, "HOUR");
    t = Hour();
  }
  if (t < 1 || t > 43200) return copyOut(buffer, "");
  int32_t secs = 2 * (int32_t(t) - 1);
  int32_t h = secs / 3600, m = secs / 60 % 60, s = secs % 60;
  char text[SHORT_TEXT_SIZE];
  Out out(text, sizeof text);
  char const* sep = (flags & 1) ? ":" : "";
  if (flags & 4) out.num(h == 0 ? 12 : h > 12 ? h - 12 : h, 2);
  else out.num(h, 2);
  out.put(sep);
  out.num(m, 2);
  if (flags & 2) {
    out.put(sep);
    out.num(s, 2);
  }
  if (flags & 4) out.put(h >= 12 ? " PM" : " AM");
  return copyOut(buffer, text);
}


}  // extern "C"
