// The application base class, the argument parsing step of the common entry
// and FramedObject's role checks.
#include <gtest/gtest.h>

#include <zfound/AppMain.h>
#include <zfound/CVApp.h>
#include <zfound/Process.h>

#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "ChildRun.h"

using zftest::RunResult;
using zftest::runInChild;

namespace {

// Starts up in the (forked) caller with the given arguments, which stay alive
// for the process.
void startWith(std::vector<std::string> words) {
  static std::vector<std::string> store;
  static std::vector<char*> vec;
  store = std::move(words);
  for (auto& w : store) vec.push_back(w.data());
  vec.push_back(nullptr);
  int argc = int(store.size());
  char** argv = vec.data();
  startUp(String("prog"), argc, argv);
}

class Plain : public CVApp {};

}  // namespace

TEST(CVApp, DefaultExecuteWithoutUserMainIsAFatalReport) {
  RunResult r = runInChild([] {
    startWith({"prog"});
    Plain app;
    int32_t code = app.execute();
    return code == -1 ? 50 : 51;  // reached only if the report returned
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("You should specify one of the following methods:\n"
                       "CVApp::mainObject(), CVApp::execute() or UserMain()"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Plain().mainObject(), nullptr);
}

TEST(CVApp, ProgramWithoutOptionsParsesNothing) {
  // This test program has no application class: no option parser, no build
  // text, no application object.
  EXPECT_EQ(getAppCmdLine(), nullptr);
  EXPECT_TRUE(getAppCompileData().isNull());
  EXPECT_EQ(createAppRootClass(), nullptr);
  RunResult r = runInChild([] {
    startWith({"prog", "-x", "--long", "file"});
    int rc = parseAppArgs();
    bool untouched = rc == 0 && argCnt() == 4 && argVal(1) == "-x" && argVal(3) == "file";
    return untouched && !crackerClient() && !CrackerClient() ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(CVApp, StartNameFromClassOrFirstArgument) {
  struct Case {
    char const* name;
    char const* version;
    char const* argv0;
    char const* start;
  };
  Case const cases[] = {
      {"ombrel", "1.1.1", "/x/whatever", "ombrel-1.1.1"},
      {nullptr, "1.0", "/usr/x/tool.bin", "tool-1.0"},
      {nullptr, nullptr, "/usr/x/tool.bin", "tool"},
      {nullptr, nullptr, "/links/srv-2.0", "srv-2.0"},
      {nullptr, nullptr, "my-tool", "my-tool"},
      {"named", nullptr, "x", "named"},
  };
  for (Case const& c : cases) {
    String got = appStartName(String(c.name), String(c.version), c.argv0);
    EXPECT_EQ(got, c.start) << c.argv0;
  }
}

TEST(FramedObject, RolesChangeOnlyThroughNone) {
  FramedObject f;
  EXPECT_EQ(f.remoteId(), -1);
  EXPECT_EQ(f.mainFrame(), nullptr);
  EXPECT_FALSE(f.canUseWxWindows());
  EXPECT_FALSE(f.canUseCracker());
  EXPECT_EQ(f.wxWindowsMainLoop(), INT32_MIN);
  f.setRemoteId(7);
  FramedObject copy(f);
  EXPECT_EQ(copy.remoteId(), 7);
  f.setRemoteId(-1);
  copy.setRemoteId(-1);
  EXPECT_EQ(f.remoteId(), -1);

  struct Case {
    char const* what;
    std::function<void()> act;
  };
  Case const failing[] = {
      {"id==(-1) || remoteId()==(-1)", [] {
         FramedObject o;
         o.setRemoteId(7);
         o.setRemoteId(5);
       }},
      {"!mainFrame() || !frame", [] {
         FramedObject o;
         o.setMainFrame(reinterpret_cast<wxFrame*>(8));
         o.setMainFrame(reinterpret_cast<wxFrame*>(16));
       }},
      {"remoteId()==(-1)", [] {
         FramedObject o;
         o.setRemoteId(3);
       }},
      {"Program reached an invalid address", [] {
         FramedObject o;
         o.wxWindowsCreate();
       }},
  };
  for (Case const& c : failing) {
    RunResult r = runInChild([&] {
      startWith({"prog"});
      c.act();
      return 0;
    });
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err.find(c.what), std::string::npos) << r.err;
  }
}
