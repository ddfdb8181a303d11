// Key-script parsing and key names.
#include "KeyScript.h"

#include <cstring>

namespace zeph::term {

namespace {

struct NamedKey {
  char const* word;  // script word
  int code;
  char const* name;  // WiKeyHelp name
};

// Script words and display names of the special keys, in code order.
constexpr NamedKey kKeys[] = {
    {nullptr, 128, "F6"},     {"esc", 129, "Esc"},    {"close", 130, "F4"},   {"zoom", 131, "F5"},
    {"enter", 132, "Enter"},  {"up", 133, "Up"},      {"left", 134, "Left"},  {"down", 135, "Down"},
    {"right", 136, "Right"},  {"pgup", 137, "PgUp"},  {"home", 138, "Home"},  {"pgdn", 139, "PgDn"},
    {"end", 140, "End"},      {"bs", 141, "Backspace"}, {"ins", 143, "Ins"},  {"del", 144, "Del"},
    {"tab", 146, "Tab"},      {"save", 147, "F2"},    {"help", 148, "F1"},    {"open", 150, "F3"},
    {"k154", 154, "^K"},      {"k155", 155, "Alt"},
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

bool parseKeyScript(std::string const& text, std::vector<int>& out, int& badLine, std::string& badToken) {
  std::vector<int> keys;
  int line = 1;
  size_t i = 0, n = text.size();
  while (i < n) {
    char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (isSpace(c)) {
      ++i;
    } else if (c == '#') {
      while (i < n && text[i] != '\n') ++i;
    } else if (c == '"') {
      size_t end = text.find('"', i + 1);
      size_t eol = text.find('\n', i + 1);
      if (end == std::string::npos || (eol != std::string::npos && eol < end)) {
        badLine = line;
        badToken = text.substr(i, (eol == std::string::npos ? n : eol) - i);
        return false;
      }
      for (size_t k = i + 1; k < end; ++k) keys.push_back(static_cast<unsigned char>(text[k]));
      i = end + 1;
    } else {
      size_t b = i;
      while (i < n && !isSpace(text[i]) && text[i] != '#') ++i;
      std::string tok = text.substr(b, i - b);
      bool ok = false;
      if (tok == "dump") {
        keys.push_back(kDumpMark);
        ok = true;
      } else if (tok.find_first_not_of("0123456789") == std::string::npos && tok.size() <= 3) {
        int v = std::stoi(tok);
        if (v <= 255) {
          keys.push_back(v);
          ok = true;
        }
      } else {
        for (NamedKey const& k : kKeys) {
          if (k.word && tok == k.word) {
            keys.push_back(k.code);
            ok = true;
            break;
          }
        }
      }
      if (!ok) {
        badLine = line;
        badToken = tok;
        return false;
      }
    }
  }
  out = std::move(keys);
  return true;
}

std::string keyName(int key) {
  key &= 0xFF;
  for (NamedKey const& k : kKeys)
    if (k.code == key) return k.name;
  if (key < 32) return std::string("^") + char(key + 64);
  if (key == 127) return "^?";
  if (key < 127 || key >= 160) return std::string(1, char(key));
  return std::to_string(key);
}

}  // namespace zeph::term
