// Shared helpers for the view tests: a printable form of a line (control
// bytes as ^X) and a one-line dump of a text's attribute zones.
#pragma once

#include <winkit/Text.h>

#include <cstdio>
#include <string>

namespace viewstest {

// The line with each control byte shown as a caret and its letter.
inline std::string caret(String const& s) {
  std::string out;
  for (long i = 0; i < s.length(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 32)
      out += std::string("^") + static_cast<char>(c + 64);
    else
      out += static_cast<char>(c);
  }
  return out;
}

// The zones as "line,col-line,col:attr;" in their stored order.
inline std::string zones(Text& t) {
  std::string out;
  char buf[80];
  for (long i = 0; i < t.zones().count(); ++i) {
    AttributeBlock const& b = t.zones().zone(i);
    std::snprintf(buf, sizeof buf, "%ld,%ld-%ld,%ld:%x;", b.begin.line(), b.begin.column(), b.end.line(),
                  b.end.column(), static_cast<unsigned>(b.attrib));
    out += buf;
  }
  return out;
}

}  // namespace viewstest
