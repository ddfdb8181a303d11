// Message catalogue file bytes for tests (see MsgBytes.h).
#include "MsgBytes.h"

namespace zftest {

void putMsgLong(std::string& out, int32_t v) {
  uint32_t u = uint32_t(v);
  out += char((u >> 24) & 0xff);
  out += char((u >> 16) & 0xff);
  out += char((u >> 8) & 0xff);
  out += char(u & 0xff);
}

void putMsgString(std::string& out, std::string const& s) {
  out += char((s.size() >> 8) & 0xff);
  out += char(s.size() & 0xff);
  out += s;
}

std::string msgFileBytes(std::vector<MsgSectionBytes> const& sections) {
  std::string out;
  putMsgLong(out, 0);
  for (auto const& s : sections) putMsgString(out, s.name);
  putMsgString(out, "");
  std::vector<std::vector<int32_t>> offsets;
  for (auto const& s : sections) {
    offsets.emplace_back();
    for (auto const& e : s.entries) {
      offsets.back().push_back(int32_t(out.size()));
      putMsgString(out, e.second);
    }
  }
  std::string head;
  putMsgLong(head, int32_t(out.size()));
  out.replace(0, 4, head);
  for (size_t n = 0; n < sections.size(); ++n)
    for (size_t k = 0; k < sections[n].entries.size(); ++k) {
      putMsgLong(out, int32_t(n));
      putMsgString(out, sections[n].entries[k].first);
      putMsgLong(out, offsets[n][k]);
    }
  putMsgLong(out, -1);
  return out;
}

}  // namespace zftest
