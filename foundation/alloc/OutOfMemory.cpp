// The fatal out-of-memory report and the new-handler that routes plain
// operator new to it. The report is built on the stack and written with
// write(2), since nothing may be allocated any more.
#include <zfound/OutOfMemory.h>

#include <cstdio>
#include <new>
#include <unistd.h>

void zfOutOfMemory(size_t bytes) {
  char text[64];
  int n = std::snprintf(text, sizeof text, "Out of memory (%zu bytes).\n", bytes);
  if (n > 0 && ::write(2, text, size_t(n)) < 0) {
    // Nothing else can be reported.
  }
  _exit(1);
}

namespace {

void newHandler() { zfOutOfMemory(0); }

// Installed once, when the foundation is linked into the program.
struct InstallNewHandler {
  InstallNewHandler() { std::set_new_handler(newHandler); }
} const installNewHandler;

}  // namespace
