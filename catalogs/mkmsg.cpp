// Build-time writer of message catalogue files.
//
//   zfmkmsg OUTPUT.msg SECTION.txt...
//
// Each SECTION.txt is one section of the catalogue, named after the file's
// base name, in the text exchange form: a line "@(#)@", a line with the key,
// then the text lines (several lines are joined with newlines); the first
// line of a file must be the separator. Carriage returns are ignored, leading
// empty text lines are dropped and a last line without its newline does not
// count, as the catalogue loader reads them.
//
// The output holds: the 4-byte index offset; the section names and an empty
// name; every text; the index {section, key, text offset} ended by -1. All
// integers are 4 bytes and lengths 2 bytes, most significant byte first.
// Sections are written in name order and entries in key order. Any problem
// (a missing separator, an empty key, a key given twice in one section, a
// text too long for the form) stops the build with a message naming the file
// and line.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kSeparator[] = "@(#)@";
constexpr size_t kMaxText = 32767;

struct Section {
  std::string name;
  std::map<std::string, std::string> entries;  // key -> text, in key order
};

[[noreturn]] void fail(std::string const& where, std::string const& what) {
  std::cerr << where << ": " << what << "\n";
  std::exit(1);
}

std::string baseName(std::string const& path) {
  size_t slash = path.rfind('/');
  std::string b = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = b.find('.');
  return dot == std::string::npos ? b : b.substr(0, dot);
}

Section readSection(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path, "cannot open");
  std::stringstream buf;
  buf << in.rdbuf();
  std::string all = buf.str();

  // Complete lines only; carriage returns dropped.
  std::vector<std::string> lines;
  std::string cur;
  for (char c : all) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) std::cerr << path << ": warning: last line has no newline and is ignored\n";

  Section s;
  s.name = baseName(path);
  if (s.name.empty()) fail(path, "empty section name");
  if (lines.empty()) return s;
  if (lines[0] != kSeparator) fail(path + ":1", "first line must be \"@(#)@\"");
  size_t i = 1;
  while (i < lines.size()) {
    size_t keyLine = i + 1;
    std::string key = lines[i++];
    if (key.empty() || key == kSeparator) fail(path + ":" + std::to_string(keyLine), "empty key");
    std::string text;
    while (i < lines.size() && lines[i] != kSeparator) {
      if (!text.empty()) text += '\n';
      text += lines[i++];
    }
    if (i < lines.size()) ++i;  // the separator of the next record
    if (text.size() > kMaxText || key.size() > kMaxText)
      fail(path + ":" + std::to_string(keyLine), "text too long");
    if (text.find('\0') != std::string::npos || key.find('\0') != std::string::npos)
      fail(path + ":" + std::to_string(keyLine), "NUL byte in key or text");
    if (!s.entries.emplace(key, text).second)
      fail(path + ":" + std::to_string(keyLine), "key " + key + " given twice");
  }
  return s;
}

void putLong(std::string& out, int32_t v) {
  uint32_t u = uint32_t(v);
  out += char((u >> 24) & 0xff);
  out += char((u >> 16) & 0xff);
  out += char((u >> 8) & 0xff);
  out += char(u & 0xff);
}

void putString(std::string& out, std::string const& s) {
  uint32_t n = uint32_t(s.size());
  out += char((n >> 8) & 0xff);
  out += char(n & 0xff);
  out += s;
}

void setLong(std::string& out, size_t at, int32_t v) {
  std::string b;
  putLong(b, v);
  out.replace(at, 4, b);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: zfmkmsg OUTPUT.msg SECTION.txt...\n";
    return 2;
  }
  std::vector<Section> sections;
  for (int i = 2; i < argc; ++i) sections.push_back(readSection(argv[i]));
  std::sort(sections.begin(), sections.end(),
            [](Section const& a, Section const& b) { return a.name < b.name; });
  for (size_t i = 1; i < sections.size(); ++i)
    if (sections[i].name == sections[i - 1].name) fail(sections[i].name, "section given twice");

  std::string out;
  putLong(out, 0);  // index offset, set below
  for (auto const& s : sections) putString(out, s.name);
  putString(out, "");
  std::vector<std::vector<int32_t>> offsets(sections.size());
  for (size_t n = 0; n < sections.size(); ++n)
    for (auto const& [key, text] : sections[n].entries) {
      if (out.size() > size_t(INT32_MAX) - 65536) fail(argv[1], "catalogue too large");
      offsets[n].push_back(int32_t(out.size()));
      putString(out, text);
    }
  setLong(out, 0, int32_t(out.size()));
  for (size_t n = 0; n < sections.size(); ++n) {
    size_t k = 0;
    for (auto const& entry : sections[n].entries) {
      putLong(out, int32_t(n));
      putString(out, entry.first);
      putLong(out, offsets[n][k++]);
    }
  }
  putLong(out, -1);

  std::string tmp = std::string(argv[1]) + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) fail(tmp, "cannot create");
    f.write(out.data(), std::streamsize(out.size()));
    if (!f) fail(tmp, "cannot write");
  }
  if (std::rename(tmp.c_str(), argv[1]) != 0) fail(argv[1], "cannot rename the new file into place");
  return 0;
}
