// Fuzz target: stored expression code. The input is loaded as a stored
// expression; code that loads is bound, stored again (the form must load
// again to the same bytes) and, when it has no loop, evaluated.
#include <zfound/AnyValue.h>
#include <zfound/Expr.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  if (size > (1 << 20)) return 0;
  zffuzz::guarded([&] {
    Expr e;
    if (!e.load(data, int32_t(size))) return;
    std::vector<char> once(size_t(e.storeLength()));
    e.store(once.data());
    Expr again;
    if (!again.load(once.data(), int32_t(once.size()))) std::abort();
    std::vector<char> twice(size_t(again.storeLength()));
    again.store(twice.data());
    if (once != twice) std::abort();
    e.resolveObjects();
    if (!e.isNull() && !zffuzz::hasLoop(e)) e.eval();
  });
  return 0;
}
