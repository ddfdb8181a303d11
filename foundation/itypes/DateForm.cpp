// The mask form of dates and times: a mask whose codes (YYYY, MM, DD, HH,
// MI, ...) are replaced by the parts of the value, everything else copied.
//
// The result lives in one static buffer of 256 bytes; output that would
// pass its end is cut, so no mask and no national name can overrun it.
// Codes are tried in table order at every position whose character can
// start one; time codes count only when a time is given.
#include <zfound/Date.h>
#include <zfound/Time.h>

#include "DateTimeImpl.h"

using namespace dtx;

namespace {

enum Code {
  YYYYYY, YYYY, YY, QUART, MM, MONTH, MON, DDD, DD, DN, YDAY, DY, DAY, WNUM,
  SSS, MIN, HHH, SS, MI, HH, H12, AM,
  kCodes
};

// The codes in the order in which they are tried; longer codes stand before
// their prefixes. The first kFirstTimeCode are date codes.
char const* const kCodeText[kCodes] = {
  "YYYYYY", "YYYY", "YY", "QUART", "MM", "MONTH", "MON", "DDD", "DD", "DN", "YDAY", "DY", "DAY",
  "WNUM", "SSS", "MIN", "HHH", "SS", "MI", "HH", "H12", "AM",
};
constexpr int kFirstTimeCode = SSS;

bool startsCode(char c) { return c != '\0' && strchr("ADHMQSWYadhmqswy", c) != nullptr; }

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }
bool isLowerAscii(char c) { return c >= 'a' && c <= 'z'; }
bool isUpperAscii(char c) { return c >= 'A' && c <= 'Z'; }

// Length of the code matching at p (case-insensitive), 0 when none.
size_t matches(char const* p, char const* code) {
  size_t n = 0;
  for (; code[n]; ++n)
    if (upper(p[n]) != code[n]) return 0;
  return n;
}

// Writes a name in the case the mask asks for: a lower-case first letter
// gives all lower case, two upper-case letters all upper case, an upper case
// followed by a lower case a capital and lower case. n limits the characters.
void putCased(Out& out, char const* maskAt, char const* name, size_t n) {
  enum { Lower, Upper, Capital } mode;
  if (isLowerAscii(maskAt[0]))
    mode = Lower;
  else if (isUpperAscii(maskAt[1]))
    mode = Upper;
  else
    mode = Capital;
  for (size_t i = 0; i < n && name[i]; ++i) {
    int c = (unsigned char)name[i];
    if (mode == Lower || (mode == Capital && i > 0))
      c = toLowerCase(c);
    else
      c = toUpperCase(c);
    out.put(char(c));
  }
}

}  // namespace

char const* Date::form(char const* mask, Time const* time) const {
  static char buf[256];
  if (isNull()) return nullptr;
  if (isHigh()) return reinterpret_cast<char const*>(1);
  if (time && time->isNull()) return nullptr;
  if (time && time->isHigh()) return reinterpret_cast<char const*>(1);
  if (mask == reinterpret_cast<char const*>(1)) mask = nullptr;
  Out out(buf, sizeof buf);
  if (!mask) return buf;

  int32_t d, m, y;
  _date_to_dmy(value_, &d, &m, &y);
  int32_t t = time ? time->value() : 0;
  int32_t h = 0, mi = 0, s = 0;
  if (time) _time_to_dhms(t, nullptr, &h, &mi, &s);
  int lastCode = time ? kCodes : kFirstTimeCode;

  char const* p = mask;
  while (*p) {
    if (*p == '\\') {
      ++p;
      if (*p) out.put(*p++);
      continue;
    }
    int code = -1;
    size_t len = 0;
    if (startsCode(*p)) {
      for (int c = 0; c < lastCode; ++c) {
        len = matches(p, kCodeText[c]);
        if (len) {
          code = c;
          break;
        }
      }
    }
    if (code < 0) {
      out.put(*p++);
      continue;
    }
    switch (code) {
      case YYYYYY: out.num(y, 6); break;
      case YYYY: out.num(fmod64(y, 10000), 4); break;
      case YY: out.num(fmod64(y, 100), 2); break;
      case QUART: out.num(quarter(), 1); break;
      case MM: out.num(m, 2); break;
      case MONTH: putCased(out, p, monName(m - 1), SIZE_MAX); break;
      case MON: putCased(out, p, monName(m - 1), 3); break;
      case DDD: out.num(value_, 5); break;
      case DD: out.num(d, 2); break;
      case DN: out.num(d, 0); break;
      case YDAY: out.num(dayOfYear(), 3); break;
      case DY: putCased(out, p, dayName(dayOfWeek()), 3); break;
      case DAY: putCased(out, p, dayName(dayOfWeek()), SIZE_MAX); break;
      case WNUM: out.num(weekOfYear(), 3); break;
      case SSS: out.num(t, 10); break;
      case MIN: out.num(t / 60, 8); break;
      case HHH: out.num(t / 3600, 6); break;
      case SS: out.num(s, 2); break;
      case MI: out.num(mi, 2); break;
      case HH: out.num(h, 2); break;
      // Twelve-hour clock: midnight and noon both show as 12.
      case H12: out.num(h == 0 ? 12 : h > 12 ? h - 12 : h, 2); break;
      case AM: putCased(out, p, h < 12 ? "am" : "pm", 2); break;
    }
    p += len;
  }
  return buf;
}
