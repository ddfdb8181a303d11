// Fuzz target: collating sequence files. The input becomes the file read by
// CollateSet; a set that reads maps texts to positions and back.
#include <zfound/CollateSet.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  std::string text = in.text(64);
  std::string body = in.rest();
  std::string path = zffuzz::writeFile("collate", body.data(), body.size());
  zffuzz::guarded([&] {
    CollateSet set{String(path.c_str())};
    CollateSet copy(set);
    if (!set.ok()) return;
    String t(long(text.size()), text.data());
    String mapped = set.map(t);
    copy.unMap(mapped);
    for (int c = 0; c < 256; ++c) set.character(uint8_t(set.position(uint8_t(c))));
  });
  return 0;
}
