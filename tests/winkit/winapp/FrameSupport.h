// What the frame and command-base suites share: a headless session started
// once per process, an application frame made afresh for each test (with
// help texts of its own for the test commands), files in a temporary
// directory, and the bells rung since the test began.
#pragma once

#include <winkit/CmdBinding.h>
#include <winkit/Desktop.h>
#include <winkit/EditView.h>
#include <winkit/Menu.h>
#include <winkit/WinApp.h>
#include <winkit/WinCmd.h>
#include <winkit/Window.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HeadlessScreen.h"
#include "TestSupport.h"

namespace zftest {

// A frame whose help knows the names in `helpTexts` besides the catalogue's.
class FrameApp : public WinApp {
public:
  FrameApp() : WinApp(String("frametest")) {}
  String getHlpContents(String const& name) override {
    if (name == String("TestCounter")) return String("Counts its runs.");
    return WinApp::getHlpContents(name);
  }
  String getHlpLabel(String const& name) override {
    if (name == String("TestCounter")) return String("Counter");
    return WinApp::getHlpLabel(name);
  }
};

class FrameTest : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("winapptests-1.0");
    headlessOnce();
    Window::rootWindow()->front();
    Window::rootWindow()->erase();
    app = std::make_unique<FrameApp>();
    app->init();
    bells_ = WiTestBells();
  }
  void TearDown() override {
    app.reset();
    WiTestKeys("");
  }
  int bells() const { return WiTestBells() - bells_; }
  Desktop& desk() { return *app->getDesktop(); }
  // A new editable view on the file `name` of the test directory holding
  // `content`, added with the default placement; the view.
  EditableView* open(std::string const& name, std::string const& content = "one\ntwo\nthree\n") {
    auto* v = new EditableView(String(dir.write(name, content).c_str()));
    EXPECT_TRUE(app->addView(v, nullptr, -1, -1, -1, -1));
    return v;
  }
  // Runs the frame's key loop over a key script.
  void run(char const* keys) {
    giveKeys(keys);
    EXPECT_EQ(app->execute(), 0);
  }

  TempDir dir;
  std::unique_ptr<FrameApp> app;
  int bells_ = 0;
};

}  // namespace zftest
