// Fuzz target: a blocked file's headers and version pages. The input is a
// settings byte (page size 1, 2 or 4 KB; header parity; record length) and
// the file's bytes. The file is opened as the server opens a table's data
// file, both header copies read, every version's entry, root fields and
// header page read, the free lists verified, the records read, one added
// and one deleted, a new version started and the headers written and read
// back. Counts no file can hold are refused; nothing reaches an
// assertion, a crash or a read past a page.
#include "FuzzSupport.h"

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>

#include <zfound/Exception.h>
#include <zfound/PhysLayout.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A table's data file: records after a 20-byte prefix.
class TableFile : public BlockedFile {
public:
  int32_t prefixSize() const override { return 20; }
  void reRead(CacheBuffer*) override {}
};

std::unique_ptr<PhysLayout> layout;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  using svstore::StorageEnv;
  std::string const& dir = zffuzz::init();
  zffuzz::Input in(data, size);
  uint8_t const settings = in.u8();
  std::string const body = in.rest();
  if (!layout) {
    std::string text = "p*\tPACKED\t" + dir + "/blk\n";
    std::string path = zffuzz::writeFile("blk/layout", text.data(), text.size());
    layout = std::make_unique<PhysLayout>(String(path.c_str()));
  }
  Exception::init(true);
  StorageEnv::reset();
  StorageEnv::cachePageSize_sd = 1024 << (settings % 3);
  StorageEnv::currCP = (settings >> 2) & 1;
  StorageEnv::timeStamp.setNow();
  StorageEnv::lastChkPoint = StorageEnv::timeStamp;
  ++StorageEnv::timeStamp;
  StorageEnv::physLayout_sd = layout.get();
  CacheBuffer::init(64 << (settings % 3));
  int32_t const recLength = 20 + 4 * (1 + ((settings >> 3) & 31));
  zffuzz::writeFile("blk/pfz.blk", body.data(), body.size());
  zffuzz::guarded([&] {
    TableFile f;
    if (!f.open("pfz", String(), "blk", recLength, -1)) return;
    f.readHeaders(0);
    f.readHeaders(1);
    for (int32_t v = -1; v < BlockedFile::kNVersions; ++v) {
      f.rDepth(v);
      f.rBegin(v);
      f.rSlots(v);
    }
    for (int32_t v = -2; v <= BlockedFile::kNVersions; ++v) {
      f.versionChain(v, 0);
      f.versionChain(0, v);
    }
    f.verify(true);
    std::vector<char> rec(size_t(recLength) + 64);
    int32_t const last = f.last();
    for (int32_t r = 0; r <= last && r < 40; ++r) f.fill(rec.data(), r);
    f.fill(rec.data(), last + 1);
    char* p = nullptr;
    int32_t recno = 0;
    if (CacheBuffer* cb = f.add(p, recno, false)) (void)cb;
    if (last > 0) f.del(1);
    f.newVers(-1);
    f.writeHeader(true);
    f.flush(true);
    f.readHeaders(-1);
  });
  CacheBuffer::cleanUp();
  StorageEnv::physLayout_sd = nullptr;
  StorageEnv::reset();
  return 0;
}
