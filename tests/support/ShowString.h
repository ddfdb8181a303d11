// A String as assertion text that tells null and highest apart from any text:
// "<null>", "<high>", otherwise the characters (NULs included).
#pragma once

#include <zfound/String.h>

#include <cstddef>
#include <string>

namespace zftest {

inline std::string show(String const& s) {
  if (s.isNull()) return "<null>";
  if (s.isHighest()) return "<high>";
  return std::string(toCharPtr(s), size_t(s.length()));
}

}  // namespace zftest
