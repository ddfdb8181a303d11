// The application hooks for a process that has no application class (a
// test, a tool that calls startUp itself). ZF_APP_MAIN defines the real ones
// for a program; these weak definitions give way to them at link time.
// Without a class there is no option parser, no build text and no
// application object to create.
#include <zfound/CVApp.h>

__attribute__((weak)) OptionParser* getAppCmdLine() { return nullptr; }
__attribute__((weak)) String getAppCompileData() { return String(); }
__attribute__((weak)) CVApp* createAppRootClass() { return nullptr; }
