// The library half of the common program entry (see AppMain.h): the start
// name and the start-up steps before the application object is built.
#include <zfound/AppMain.h>

#include <cstring>

String appStartName(String const& name, String const& version, char const* argv0) {
  if (name.isNull()) {
    String start(argv0 ? argv0 : "");
    if (version.isNull()) {
      // Neither name nor version declared: the start name carries both when
      // its last "-"-field begins with a digit ("srv-2.0").
      String full = start.baseFullName();
      long dash = full.backIndex('-');
      if (dash >= 0 && full[dash + 1] >= '0' && full[dash + 1] <= '9') return full;
      return start.baseName();
    }
    return start.baseName() + "-" + version;
  }
  if (version.isNull()) return name;
  return name + "-" + version;
}

void appStart(int& argc, char**& argv, String const& name, String const& version) {
  startUp(appStartName(name, version, argc > 0 && argv ? argv[0] : nullptr), argc, argv);
  parseAppArgs();
}
