// Fuzz target: server configuration files. The input is a flag byte, a
// schema name and the file's bytes: the file is read as a served and as a
// remote configuration and as the server's own (every server key), the
// schema added or dropped, and whatever the writer rewrote must read back
// with the same schema list, server id, host and kept keys, and the same
// server settings (a writer never writes what its reader refuses or reads
// differently).
#include <svcore/SvConfigFile.h>

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

// Every server setting, as text.
std::string settings(SvConfigFile const& c) {
  auto str = [](String const& s) { return s.isNull() ? std::string("<null>") : std::string(toCharPtr(s)); };
  std::string out;
  for (int32_t v : {c.serverOptions(), c.cachePageSize(), c.cacheSz(), c.ckPointFreq(), c.ckPointLowBound(),
                    c.ckPointUpBound(), int32_t(c.tolerant()), int32_t(c.handleVersions()), c.hkMsgBound(),
                    c.journalBuff(), c.journalFlushFreq(), c.numLocks(), c.numLocksPClient(), c.lkUnifyBound(),
                    c.lkUnifyPercent(), c.lkWait(), c.matureTime(), c.maxAttachsPClient(), c.getNextSchemaId(),
                    c.numNotifies(), c.pendLockNotifTime(), c.profileFreq(), c.transTimeOut()})
    out += std::to_string(v) + ",";
  for (String const* s : {&c.dbase(), &c.diskConfiguration(), &c.journalDir(), &c.profFile(), &c.runLogFile(),
                          &c.stateFile()})
    out += str(*s) + ",";
  return out;
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
  // The server's own reading of the same file, and its rewrite.
  std::string svBefore;
  bool svStored = false;
  zffuzz::writeFile("servers/fzs.sv", body.data(), body.size());
  zffuzz::guarded([&] {
    SvConfigFile sv(String("fzs"));
    if (!sv) return;
    svBefore = settings(sv);
    String s(long(schema.size()), schema.data());
    svStored = (flags & 1) ? sv.addSchema(s, int32_t(flags >> 1)) : sv.delSchema(s);
  });
  if (svStored) {
    std::string svAfter;
    bool const read = zffuzz::guarded([&] {
      SvConfigFile back(String("fzs"));
      if (!back) std::abort();
      svAfter = settings(back);
    });
    if (!read || svAfter != svBefore) std::abort();
  }
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
