// Fuzz target: argument files. The input becomes a file read by readArgFile,
// which splits it into words (quoted words included) over its own copy; the
// argument vector must end with a null pointer after the count it reports.
#include <zfound/StartArgs.h>

#include "FuzzSupport.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  std::string path = zffuzz::writeFile("args", data, size);
  char arg0[] = "prog";
  std::vector<char> text;
  std::vector<char*> vec;
  int n = readArgFile(path.c_str(), arg0, text, vec);
  if (n < 0) return 0;
  if (size_t(n) + 1 > vec.size() || vec[size_t(n)] != nullptr || vec[0] != arg0) std::abort();
  for (int i = 1; i < n; ++i) {
    if (vec[size_t(i)] == nullptr) std::abort();
    std::strlen(vec[size_t(i)]);
  }
  return 0;
}
