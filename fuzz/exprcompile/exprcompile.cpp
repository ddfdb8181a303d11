// Fuzz target: expression source text. The input is compiled; code that
// compiles is bound, sent over a loopback channel and read back (the same
// code must arrive), and, when it has no loop, evaluated.
#include <zfound/AnyValue.h>
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  if (size > 65535) return 0;
  zffuzz::guarded([&] {
    Expr e{String(long(size), reinterpret_cast<char const*>(data))};
    if (e.isNull()) return;
    LoopConnection c(64);
    c << e;
    c.rewind();
    Expr sent;
    c >> sent;
    if (c.bad() || sent.codeLength() != e.codeLength() ||
        (e.codeLength() > 0 && std::memcmp(sent.code(), e.code(), size_t(e.codeLength()) * 2) != 0))
      std::abort();
    if (!e.resolveObjects()) return;
    if (!zffuzz::hasLoop(e)) e.eval();
  });
  return 0;
}
