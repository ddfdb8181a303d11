// Fuzz target: the server's state file. The input is the file's bytes: the
// header and the version stamps are read as the server's start-up reads them
// (a damaged file is a fatal report, which ends the input), the stamp table
// walked, and what was read written back and read again: the writer must
// write what the reader reads the same.
#include "FuzzSupport.h"

#include <svcore/StateFile.h>

#include <cstdlib>
#include <string>

namespace {

struct Fields {
  int32_t parity, restartMarker, journalPos, cachePageSize, nStamps;
  std::string journalFile, secondName;
  bool operator==(Fields const&) const = default;
};

Fields fieldsOf(StateFile const& f) {
  auto str = [](String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s), size_t(s.length())); };
  return Fields{f.parity, f.restartMarker, f.journalPos, f.cachePageSize, f.nStamps, str(f.journalFile),
                str(f.secondName)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  std::string path = zffuzz::writeFile("state", data, size);
  StateFile f{String(path.c_str())};
  bool header = false, stamps = false;
  if (!zffuzz::guarded([&] { header = f.readHeader(); })) return 0;
  if (!zffuzz::guarded([&] { stamps = f.readStamps(); })) return 0;
  if (!header) return 0;
  if (stamps) {
    if (f.nStamps < 0 || f.nStamps > StateFile::kNStamps) std::abort();
    for (int32_t v = 0; v < f.nStamps; ++v) f.versionStamp(v);
  }
  Fields const before = fieldsOf(f);
  if (!f.writeHeader() || (stamps && !f.writeStamps())) return 0;
  StateFile back{String(path.c_str())};
  bool ok = zffuzz::guarded([&] {
    if (!back.readHeader() || (stamps && !back.readStamps())) std::abort();
  });
  if (!ok) std::abort();  // a file its own writer wrote is refused
  Fields after = fieldsOf(back);
  if (!stamps) after.nStamps = before.nStamps;
  if (!(after == before) || back.lastChkPoint.cmp(f.lastChkPoint) != 0) std::abort();
  for (int32_t v = 0; stamps && v < f.nStamps; ++v)
    if (back.versionStamp(v).cmp(f.versionStamp(v)) != 0) std::abort();
  return 0;
}
