// Path look-ups and environment references (see PathSearch.h).
#include <zeph/PathSearch.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

String findInPath(String const& name, String const& path) {
  if (!name) return String();
  if (!path || name.index('/') >= 0) return name;
  std::string list(toCharPtr(path), static_cast<size_t>(path.length()));
  std::string base(toCharPtr(name), static_cast<size_t>(name.length()));
  size_t start = 0;
  while (start <= list.size()) {
    size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    std::string dir = list.substr(start, colon - start);
    std::string full = dir.empty() ? base : (dir.back() == '/' ? dir : dir + "/") + base;
    struct stat st;
    if (::stat(full.c_str(), &st) == 0) return String(full.c_str());
    start = colon + 1;
  }
  return String();
}

namespace {

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

void appendVar(std::string& out, std::string const& var) {
  if (char const* v = std::getenv(var.c_str())) out += v;
}

}  // namespace

String expandEnvVars(String const& text) {
  if (!text || text.index('$') < 0) return text;
  std::string in(toCharPtr(text), static_cast<size_t>(text.length()));
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '$' || i + 1 >= in.size()) {
      out += in[i];
      continue;
    }
    if (in[i + 1] == '{') {
      size_t close = in.find('}', i + 2);
      if (close == std::string::npos) {
        out += in[i];
        continue;
      }
      appendVar(out, in.substr(i + 2, close - i - 2));
      i = close;
      continue;
    }
    size_t j = i + 1;
    while (j < in.size() && isNameChar(in[j])) ++j;
    if (j == i + 1) {
      out += in[i];
      continue;
    }
    appendVar(out, in.substr(i + 1, j - i - 1));
    i = j - 1;
  }
  // Texts stop at 65,535 characters like every String.
  return String(out.c_str(), static_cast<long>(out.size() > 65535 ? 65535 : out.size()));
}
