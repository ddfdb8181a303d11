// Fuzz target: server configuration files. The input is a flag byte, a
// schema name and the file's bytes: the file is read as a served and as a
// remote configuration, the schema added or dropped, and whatever the writer
// rewrote must read back with the same schema list, server id, host and kept
// keys (a writer never writes what its reader refuses or reads differently).
#include <zfound/ConfigFile.h>
#include <zfound/DbConfigFile.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

#include <cstdlib>

namespace {

bool same(DbConfigFile const& a, DbConfigFile const& b) {
  if (!(a.getSchemas() == b.getSchemas()) || a.getNSchs() != b.getNSchs() || a.getServerId() != b.getServerId() ||
      !(a.getHost() == b.getHost()) || !(a.objectRepository() == b.objectRepository()) ||
      a.isNameSpace() != b.isNameSpace() || a.otherKeys().size() != b.otherKeys().size())
    return false;
  for (size_t i = 0; i < a.otherKeys().size(); ++i)
    if (!(a.otherKeys()[i].first == b.otherKeys()[i].first) || !(a.otherKeys()[i].second == b.otherKeys()[i].second))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  uint8_t flags = in.u8();
  std::string schema = in.text(64);
  std::string body = in.rest();
  zffuzz::writeFile("servers/fz.sv", body.data(), body.size());
  zffuzz::writeFile("servers/fz.rsv", body.data(), body.size());
  DbConfigFile remote;
  bool stored = false;
  zffuzz::guarded([&] {
    DbConfigFile served;
    if (served.read("fz", 'i')) {
      served.findSchema(String(long(schema.size()), schema.data()));
      served.getSchName(flags);
    }
    if (!remote.read("fz", 'r')) return;
    String s(long(schema.size()), schema.data());
    stored = (flags & 1) ? remote.addSchema(s) : remote.delSchema(s);
  });
  if (!stored) return 0;
  // What was written reads back whole: a report while reading it (a
  // malformed line) is a finding here, not a refusal.
  bool same_ = false;
  bool read = zffuzz::guarded([&] {
    DbConfigFile back;
    same_ = back.read("fz", 'r') && same(remote, back);
  });
  if (!read || !same_) std::abort();
  return 0;
}
