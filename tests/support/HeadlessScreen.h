// The render-and-compare helpers of the terminal-layer and toolkit tests: a
// headless session opened once per test process (keys given per test, no
// terminal touched), the composed screen as text rows, and the Wi calls
// made. Header-only, so only the suites that link the run-time layer see it.
#pragma once

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace zftest {

// Opens the headless session of this process on a rows x cols screen (the
// first call decides the size) with an empty key script; later calls only
// clear the call list.
inline void headlessOnce(int rows = 24, int cols = 80) {
  static bool done = false;
  if (!done) {
    done = true;
    static TempDir dir;
    std::string script = dir.write("keys", "");
    ::setenv("ZEPH_HEADLESS", script.c_str(), 1);
    ::setenv("ZEPH_SIZE", (std::to_string(rows) + "x" + std::to_string(cols)).c_str(), 1);
    ::unsetenv("ZEPH_SCREEN");
    WiConnect(nullptr, nullptr, 0);
  }
  WiTestClearCalls();
}

// Screen row r as UTF-8 text.
inline std::string screenRow(int r) {
  std::vector<char> buf(size_t(WiTestCols()) * 4 + 1);
  int n = WiTestRow(r, buf.data(), int(buf.size()));
  return n < 0 ? std::string() : std::string(buf.data(), size_t(n));
}

// Screen row r with trailing blanks removed.
inline std::string screenLine(int r) {
  std::string s = screenRow(r);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// The Wi calls since the last clear.
inline std::vector<std::string> wiCalls() {
  std::vector<std::string> out;
  for (int i = 0; i < WiTestCallCount(); ++i) out.emplace_back(WiTestCall(i));
  return out;
}

// The calls whose name is `name` (as "Name(...)").
inline int countCalls(std::string const& name) {
  int n = 0;
  for (std::string const& c : wiCalls())
    if (c.compare(0, name.size() + 1, name + "(") == 0) ++n;
  return n;
}

// Gives the session the keys of a key-script text.
inline void giveKeys(char const* script) { ASSERT_EQ(WiTestKeys(script), 0) << script; }

}  // namespace zftest
