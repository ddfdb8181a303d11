// Fuzz target: a run log, replayed. The input is the log's bytes: an
// in-process server (ServerFuzz.h) is started to replay it, so every
// recorded request goes through the server's own receive and dispatch
// code, every recorded housekeeping pass and value item is read back where
// the run asks for it. A log that breaks its form is refused (RunLogError,
// or the fatal report of the main loop that ends the input); nothing in it
// may reach an assertion, crash, overrun or allocate beyond the request
// bound. Each input gets a fresh server.
#include "FuzzSupport.h"
#include "ServerFuzz.h"

#include <svcore/RunLog.h>

namespace {

zffuzz::FuzzServer server;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::idleChild();
  std::string const path = zffuzz::writeFile("run.log", data, size);
  zffuzz::guarded([&] {
    try {
      server.start(path);
    } catch (RunLogError const&) {
      return;  // refused at the start
    }
    try {
      server.run();
    } catch (RunLogError const&) {
    }
  });
  server.stop();
  return 0;
}
