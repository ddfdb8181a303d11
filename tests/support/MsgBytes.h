// Builds the bytes of a message catalogue file for tests: section names,
// then texts, then the index {section, key, text offset} ended by -1, every
// integer 4 bytes and every length 2 bytes, most significant byte first.
// Tests write the result into a TempDir (DATADIR/<language>/<name>.msg), and
// may damage it first to check how readers cope.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zftest {

struct MsgSectionBytes {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;  // key, text
};

// The file bytes for `sections`, written in the given order.
std::string msgFileBytes(std::vector<MsgSectionBytes> const& sections);

// Appends a 4-byte big-endian value / a 2-byte length and the characters.
void putMsgLong(std::string& out, int32_t v);
void putMsgString(std::string& out, std::string const& s);

}  // namespace zftest
