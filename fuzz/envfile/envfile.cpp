// Fuzz target: environment files. The input becomes a file read by
// setEnvironment (lines put into the environment after "$NAME"
// expansion); the variables the harness itself relies on are put back after
// each input.
#include <zfound/Environ.h>

#include "FuzzSupport.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string const& dir = zffuzz::init();
  std::string path = zffuzz::writeFile("env", data, size);
  zffuzz::guarded([&] { setEnvironment(path.c_str()); });
  ::setenv("DATADIR", (dir + "/data").c_str(), 1);
  ::setenv("LANGUAGE", "english", 1);
  ::setenv("OMBREL", dir.c_str(), 1);
  ::setenv("HOME", dir.c_str(), 1);
  ::setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
  return 0;
}
