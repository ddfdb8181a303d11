// Boolean: construction from text and the mask form of the logical value
// (its stored form is with the other stored forms, its connection form with
// the word channel).
//
// The default mask comes from the library catalogue ("BOOLMASK") and is
// looked up once for the life of the process.
#include <zfound/Boolean.h>
#include <zfound/Report.h>
#include <zfound/Num.h>
#include <zfound/String.h>

#include <cstdlib>
#include <cstring>

Boolean::Boolean(char const* s) : value_(kNull) {
  if (s == nullptr || s == reinterpret_cast<char const*>(1) || *s == '\0') return;
  long v = atol(s);
  value_ = v < 0 ? kNull : v != 0 ? 1 : 0;
}

Boolean toBoolean(Num const& n) { return toBoolean(toInt(n)); }

char const* toCharPtr(Boolean b) {
  if (b.isNull()) return nullptr;
  return b.value() ? "1" : "0";
}

char const* Boolean::format(char const* mask) const {
  static char buf[256];
  static String defaultMask;
  static bool haveDefault = false;
  if (mask == reinterpret_cast<char const*>(1) || mask == nullptr || *mask == '\0') {
    if (!haveDefault) {
      defaultMask = libMsg("BOOLMASK");
      haveDefault = true;
    }
    mask = defaultMask ? toCharPtr(defaultMask) : "";
  }
  // Part 0 is the true text, part 1 the false text, part 2 the null text.
  int part = value_ == 1 ? 0 : value_ == 0 ? 1 : 2;
  char const* p = mask;
  for (int i = 0; i < part && p; ++i) {
    p = strchr(p, '\n');
    if (p) ++p;
  }
  size_t n = 0;
  if (p) {
    char const* e = strchr(p, '\n');
    n = e ? size_t(e - p) : strlen(p);
  }
  if (n >= sizeof buf) n = sizeof buf - 1;
  if (n) memcpy(buf, p, n);
  buf[n] = '\0';
  return buf;
}

char const* Boolean::format(String const& mask) const { return format(mask ? toCharPtr(mask) : ""); }
