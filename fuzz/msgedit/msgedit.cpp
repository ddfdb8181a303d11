// Fuzz target: the message-file editor's round trip. The input is a ".msg"
// file; when the editor reads it, it writes it back, and the file it wrote
// must read again with the same sections, keys and texts.
#include <msgcat/MsgEditor.h>
#include <msgcat/MsgSection.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::writeFile("data/english/fe.msg", data, size);
  zffuzz::guarded([&] {
    MsgEditor first(String("fe"), String("english"));
    if (!first.read()) return;
    if (!first.write()) return;  // refused (a name or text it cannot write): the file is kept
    MsgEditor again(String("fe"), String("english"));
    if (!again.read() || again.nSections() != first.nSections()) std::abort();
    for (int32_t s = 0; s < first.nSections(); ++s) {
      MsgSection* a = first.section(s);
      MsgSection* b = again.section(s);
      if (!(a->name == b->name) || a->nEntries() != b->nEntries()) std::abort();
      for (int32_t i = 0; i < a->nEntries(); ++i) {
        MsgEntry* x = a->entry(i);
        MsgEntry* y = b->entry(i);
        if (!(x->key == y->key) || !(x->text == y->text)) std::abort();
      }
    }
  });
  return 0;
}
