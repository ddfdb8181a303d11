// Fuzz target: a schema's catalog table files, opened as a schema. An
// in-process server (ServerFuzz.h) makes schema "fz" with a table, indexes
// and records through requests; the files of its directory, as the writers
// left them, are kept. Each input is a list of patches to those files:
//   byte f      file number (modulo the files, sorted by name); with bit 7
//               the file is cut to the u32 size that follows (mod 1 MB)
//   otherwise   u32 offset (mod 1 MB), byte n, n bytes written there
// The patched files are opened as the server opens a schema at start-up,
// then verified (every table, index and free list walked). A catalog row
// that names a missing object or holds a bad value is reported and left
// out; a refusal is a fatal report that ends the input (the server is made
// afresh); nothing may reach an assertion, crash or overrun.
#include "FuzzSupport.h"
#include "ServerFuzz.h"

#include <svcatalog/SvSchema.h>
#include <svcore/Server.h>

#include <blkfile/CacheBuffer.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

zffuzz::FuzzServer server;
std::map<std::string, std::string> pristine;
int32_t schemaNumber = 0;

std::string readAll(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(std::string const& path, std::string const& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The server with its schema, closed, and the files it wrote.
void build() {
  server.stop();
  server.start();
  server.makeSchema();
  SvSchema* s = SvSchema::find(String("fz"));
  if (s == nullptr) std::abort();
  schemaNumber = s->id();
  delete s;
  CacheBuffer::flushAll(nullptr, false);
  pristine.clear();
  for (auto const& e : std::filesystem::recursive_directory_iterator(server.dir() + "/db"))
    if (e.is_regular_file()) pristine[e.path().string()] = readAll(e.path().string());
  if (pristine.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::idleChild();
  if (!server.running()) build();
  std::map<std::string, std::string> files = pristine;
  std::vector<std::string> names;
  for (auto const& f : files) names.push_back(f.first);
  zffuzz::Input in(data, size);
  for (int k = 0; k < 64 && !in.empty(); ++k) {
    uint8_t const f = in.u8();
    std::string& bytes = files[names[(f & 0x7f) % names.size()]];
    if (f & 0x80) {
      bytes.resize(in.u32() % (1u << 20), '\0');
      continue;
    }
    size_t const at = in.u32() % (1u << 20);
    std::string const patch = in.text(255);
    if (bytes.size() < at + patch.size()) bytes.resize(at + patch.size(), '\0');
    bytes.replace(at, patch.size(), patch);
  }
  for (auto const& f : files) writeAll(f.first, f.second);
  bool const ok = zffuzz::guarded([] {
    SvSchema* s = new SvSchema(nullptr, String("fz"), schemaNumber);
    if (s->classFile() != nullptr) s->verify(true);
    delete s;
    CacheBuffer::flushAll(nullptr, false);
  });
  if (!ok) server.stop();  // refused part-way: made afresh
  return 0;
}
