// Helpers of the date, time and short-date tests: national settings read
// from a private directory, a time zone set for one scope, and hex dumps of
// stored forms.
#pragma once

#include <gtest/gtest.h>

#include <zfound/Config.h>
#include <zfound/Date.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "TestSupport.h"

namespace dates_test {

// Upper-case Spanish names, Saturday with a national letter (0xC1), so that
// the case rules of the mask form are seen on the upper half too.
inline std::string const kSpanishConfig =
    ",\n.\nus\n"
    "DOMINGO\nLUNES\nMARTES\nMIERCOLES\nJUEVES\nVIERNES\nS\xC1" "BADO\n"
    "ENERO\nFEBRERO\nMARZO\nABRIL\nMAYO\nJUNIO\nJULIO\nAGOSTO\nSEPTIEMBRE\nOCTUBRE\n"
    "NOVIEMBRE\nDICIEMBRE\n";

// National settings loaded from `text` (a "config" file in a private
// DATADIR) for the life of the object; the built-in defaults afterwards.
class NationalSettings {
public:
  explicit NationalSettings(std::string const& text) {
    dir_.write("english/config", text);
    zftest::ScopedEnv data("DATADIR", dir_.path());
    zftest::ScopedEnv lang("LANGUAGE", "english");
    _createConfig();
    _loadConfig();
  }
  ~NationalSettings() {
    zftest::ScopedEnv data("DATADIR", dir_.path() + "/none");
    _loadConfig();
  }

private:
  zftest::TempDir dir_;
};

// TZ set (and tzset called) for one scope; the previous zone afterwards.
class ScopedZone {
public:
  explicit ScopedZone(char const* tz) : env_("TZ", tz) { tzset(); }

private:
  // Declared first, so destroyed last: tzset runs after TZ is restored.
  struct Retz {
    ~Retz() { tzset(); }
  } retz_;
  zftest::ScopedEnv env_;
};

// Hex of n bytes.
inline std::string hex(char const* p, size_t n) {
  static char const digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

// The stored form of a value with a store(char*&) member, as hex.
template <class T>
std::string storedHex(T const& v, size_t n) {
  char buf[16] = {};
  char* p = buf;
  v.store(p);
  EXPECT_EQ(static_cast<size_t>(p - buf), n);
  return hex(buf, n);
}

}  // namespace dates_test
