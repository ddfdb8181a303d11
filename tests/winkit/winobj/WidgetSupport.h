// What the widget suites share: a fixture that starts the process once,
// opens the headless session and clears the screen before each test (and
// drops unread keys after it), an action with a fixed answer that counts
// its runs, and the whole screen as text.
#pragma once

#include <winkit/BaseAction.h>
#include <winkit/Window.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <string>

#include "HeadlessScreen.h"
#include "TestSupport.h"

namespace zftest {

class WidgetTest : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("winobjtests-1.0");
    headlessOnce();
    Window::rootWindow()->front();
    Window::rootWindow()->erase();
    bells_ = WiTestBells();
  }
  void TearDown() override { WiTestKeys(""); }
  // Bells rung since the test began.
  int bells() const { return WiTestBells() - bells_; }
  int bells_ = 0;
};

// An action answering `result`.
struct FixedAction : BaseAction {
  explicit FixedAction(long r) : result(r) {}
  long execute() override {
    ++runs;
    return result;
  }
  long result;
  int runs = 0;
};

// Every screen row (trailing blanks removed), one per line.
inline std::string screenText() {
  std::string all;
  for (int r = 0; r < WiTestRows(); ++r) all += screenLine(r) + "\n";
  return all;
}

}  // namespace zftest
