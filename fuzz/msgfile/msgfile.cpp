// Fuzz target: message catalogue look-up. The input is a section name, keys
// to look up and the bytes of a ".msg" file, which is opened from the data
// directory as the catalogues are; every offset and length the file holds
// must be checked before it is used.
#include <zfound/MsgTable.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  std::string section = in.text(32);
  std::string keys[3] = {in.text(32), in.text(32), in.text(32)};
  std::string body = in.rest();
  zffuzz::writeFile("data/english/fz.msg", body.data(), body.size());
  zffuzz::guarded([&] {
    MsgTable table(String("fz"), String(long(section.size()), section.data()), true);
    MsgTable main(String("fz"), String("main"), true);
    for (std::string const& k : keys) {
      String key(long(k.size()), k.data());
      table.find(key, true);
      main.find(key, true);
    }
    MsgFile* f = MsgFile::find(String("fz"));
    for (int32_t n = -1; n < 4; ++n) f->sectionName(n);
    MsgFile::dispose(f);
  });
  return 0;
}
