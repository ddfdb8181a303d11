// Environment variables: the lookup with built-in defaults, putting texts
// into the process environment, the environment file and the plain-function
// lookup with its missing-variable handler.
//
// Every text handed to putenv is a copy that stays alive (and reachable)
// for the life of the process. The environment file reader keeps each line
// within 2047 characters and each "$" name within 31; anything longer stops
// the reading with -1, the lines before it staying in effect.
#include <zfound/Environ.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/String.h>

namespace {

ReadEnvHandler readEnvHandler = defaultReadEnvHandler;

}  // namespace

int setEnvironment(char const* file) {
  if (file == nullptr || *file == '\0') file = kDefaultEnvFile;
  FILE* f = std::fopen(file, "r");
  if (f == nullptr) return -1;
  std::string line;
  int rc = 0;
  for (;;) {
    int c = std::getc(f);
    if (c == '$') {
      std::string name;
      for (;;) {
        c = std::getc(f);
        if (c == EOF || c == '\n' || c == ':' || c == '/') break;
        if (name.size() >= size_t(kEnvNameMax)) {
          rc = -1;
          break;
        }
        name += char(c);
      }
      if (rc != 0) break;
      char const* v = name.empty() ? nullptr : std::getenv(name.c_str());
      if (v != nullptr) line += v;
      if (c == ':' || c == '/') line += char(c);
    } else if (c != EOF && c != '\n') {
      line += char(c);
    }
    if (line.size() > size_t(kEnvLineMax)) {
      rc = -1;
      break;
    }
    if (c == EOF || c == '\n') {
      if (!line.empty() && line[0] != '#') putEnvVar(line.c_str());
      line.clear();
      if (c == EOF) break;
    }
  }
  // A file that could not be read to its end (a directory, an I/O error)
  // was not read.
  if (std::ferror(f)) rc = -1;
  std::fclose(f);
  return rc;
}

void defaultReadEnvHandler(char const* name, char const* file, int line) {
  // Before the catalogues are open the same text is used literally.
  String fmt = msgTablesReady() ? String(__GnErrmsg("NOENV")) : String();
  if (fmt.isNull()) fmt = "%s(%d): environment variable %s is not set.";
  Error(toCharPtr(fmt), file ? file : "", line, name ? name : "");
}

extern "C" char const* def_ReadEnv(char const* name, char const* file, int line) {
  char const* v = readEnvVar(name);
  if (v == nullptr && readEnvHandler != nullptr) readEnvHandler(name, file, line);
  return readEnvVar(name);
}

extern "C" ReadEnvHandler SetReadEnvHandler(ReadEnvHandler handler) {
  ReadEnvHandler old = readEnvHandler;
  readEnvHandler = handler;
  return old;
}
