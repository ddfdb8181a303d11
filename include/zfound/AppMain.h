// The common program entry. A program on the application frame writes its
// application class (a CVApp with static appName(), appVersion() and
// cmdLine(), a constructor without arguments and an execute() override) and
// then, once, at file scope:
//
//   ZF_APP_MAIN(MyApp)
//
// That line defines main() and the three hooks through which the foundation
// reaches the class without knowing it: getAppCmdLine(),
// getAppCompileData() (the program's five-line build text) and
// createAppRootClass().
//
// main: name and version from the class (a null name is taken from argv[0];
// a class with neither name nor version takes both from its start name, so
// a program started as "srv-2.0" runs as "srv" version "2.0"), startUp,
// parseAppArgs, one application object, execute(), and stop() with its
// result. main never returns normally.
#pragma once

#include <zfound/BuildInfo.h>
#include <zfound/CVApp.h>
#include <zfound/Process.h>
#include <zfound/String.h>

// The start name handed to startUp for a program whose class gives `name`
// and `version` and that was started as `argv0`.
String appStartName(String const& name, String const& version, char const* argv0);

// Steps 1 to 4 of the entry: start name, startUp (which may change argc and
// argv) and the option parser.
void appStart(int& argc, char**& argv, String const& name, String const& version);

// The entry itself: starts up, builds the one application object, runs it
// and stops with its result.
template <class App>
int appMain(int argc, char** argv) {
  appStart(argc, argv, App::appName(), App::appVersion());
  App app;
  stop(app.execute());
  return 0;
}

#define ZF_APP_MAIN(AppClass)                                                \
  OptionParser* getAppCmdLine() { return AppClass::cmdLine(); }              \
  String getAppCompileData() { return String(ZF_BUILD_INFO_TEXT); }          \
  CVApp* createAppRootClass() { return new AppClass; }                       \
  int main(int argc, char** argv) { return appMain<AppClass>(argc, argv); }
