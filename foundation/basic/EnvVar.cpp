// Environment variable lookup with the installation's built-in defaults, and
// putting variables into the process environment. The lowest layers (the
// character classes, String, the catalogues) find their data directories
// through these without reaching start-up code.
//
// Texts handed to putenv are copies that are never freed (putenv keeps the
// pointer).
#include <zfound/EnvVar.h>

#include <cstdlib>
#include <cstring>
#include <vector>

DefaultEnvEntry const DefaultEnv[] = {
    {"PATH", ":/bin:/usr/zephra/bin"},
    {"ZEPHRA", "/usr/zephra"},
    {"CORVANE", "/usr/local/corvane"},
    {"LANGUAGE", "english"},
    {"MAXFILES", "16"},
    {nullptr, nullptr},
};

namespace {

// The copies given to putenv; never freed.
std::vector<char*>* putTexts = nullptr;

}  // namespace

char const* readEnvVar(char const* name) {
  if (name == nullptr) return nullptr;
  if (char const* v = std::getenv(name)) return v;
  for (DefaultEnvEntry const* e = DefaultEnv; e->name != nullptr; ++e)
    if (std::strcmp(e->name, name) == 0) return e->value;
  return nullptr;
}

void putEnvVar(char const* text) {
  if (text == nullptr || *text == '\0') return;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy == nullptr) return;
  std::memcpy(copy, text, n);
  if (putTexts == nullptr) putTexts = new std::vector<char*>;
  putTexts->push_back(copy);
  putenv(copy);
}
