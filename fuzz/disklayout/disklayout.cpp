// Fuzz target: the disk layout. The input is a file name and the layout
// file's bytes: the layout is loaded (a malformed line is a fatal report,
// which ends the input), the name looked up, and the parts and offsets of
// the entry that holds it walked.
#include <zfound/PhysLayout.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  std::string name = in.text(64);
  int64_t offset = int64_t(in.u32()) << (in.u8() % 24);
  int32_t block = 1 + in.u16();
  std::string body = in.rest();
  std::string path = zffuzz::writeFile("layout", body.data(), body.size());
  zffuzz::guarded([&] {
    PhysLayout layout{String(path.c_str())};
    for (int32_t i = 0; i < layout.nEntries(); ++i) {
      PhysLayoutEntry* e = layout.entry(i);
      if (e == nullptr) continue;
      for (int32_t k = 0; k < e->nParts() && k < 64; ++k) e->part(k);
      int64_t o = offset;
      int32_t p = e->part(o, block);
      if (p < 0 || p >= e->nParts() || o < 0) std::abort();
    }
    layout.find(String(long(name.size()), name.data()));
  });
  return 0;
}
