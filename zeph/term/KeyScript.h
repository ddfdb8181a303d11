// Key scripts of the headless mode, and the names and codes of keys.
//
// A script is read whole into a list of entries: a key code 0..255, or the
// dump mark (kDumpMark). Parsing is all or nothing: a malformed token leaves
// the list untouched and names its line.
#pragma once

#include <string>
#include <vector>

namespace zeph::term {

inline constexpr int kDumpMark = -1;

// Parses `text` into `out`; true on success, else false with `badLine` the
// 1-based line of the first malformed token and `badToken` that token.
bool parseKeyScript(std::string const& text, std::vector<int>& out, int& badLine, std::string& badToken);

// The name of a key code as WiKeyHelp gives it (at most 15 characters).
std::string keyName(int key);

}  // namespace zeph::term
