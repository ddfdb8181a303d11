// Assertion reports, the containers' index report and the verbose-trace
// level set.
//
// Every report is a fatal report through error(), which stops the process
// when a fatal-error handler is installed. The level set is built once, on
// the first ZxVerboseLevel() call, from ZXVERBOSELEVEL; it holds at most 257
// flags (levels 0..256), since getNum() reads larger values as 0.
#include <zfound/Assert.h>
#include <zfound/EnvVar.h>
#include <zfound/Message.h>
#include <zfound/String.h>

#include <vector>

void _assert(char const* expr, char const* file, int line) {
  error("Assertion failed (%s).\n%s:%d.\n", expr, file, line);
}

void _precond(char const* expr, char const* file, int line) {
  error("Precondition failed (%s).\n%s:%d.\n", expr, file, line);
}

void _postcond(char const* expr, char const* file, int line) {
  error("Postcondition failed (%s).\n%s:%d.\n", expr, file, line);
}

void _abnormal(char const* file, int line) {
  error("Program reached an invalid address at %s:%d.\n", file, line);
}

void _outOfBounds(long index, long high) {
  static char const deflt[] = "Index #0 is out of bounds (#1 - #2).";
  Message text = msgTablesReady() ? libMsg("OUTOFBOUNDS", deflt) : Message(deflt);
  String args[3] = {toString(index), toString(0), toString(high)};
  String filled = text.replaceArgs(args, 3);
  error(String("%s"), toCharPtr(filled));
}

int32_t getNum(String& s) {
  long n = 0;
  int32_t value = 0;
  bool tooBig = false;
  while (n < s.length() && s[n] >= '0' && s[n] <= '9') {
    if (!tooBig) {
      value = value * 10 + (s[n] - '0');
      if (value > 256) tooBig = true;
    }
    ++n;
  }
  if (n > 0) s = String(s(n));
  return tooBig ? 0 : value;
}

namespace {
bool levelsBuilt = false;
std::vector<bool> levels;  // levels[i]: trace level i switched on

void buildLevels() {
  levelsBuilt = true;
  levels.clear();
  String v(readEnvVar("ZXVERBOSELEVEL"));
  int32_t n = getNum(v);
  levels.assign(size_t(n), true);
  while (v.length() > 0) {
    char c = v[0];
    v = String(v(1));
    int32_t m = getNum(v);
    if (m == 0) break;
    if (c == '+') {
      if (size_t(m) >= levels.size()) levels.resize(size_t(m) + 1, false);
      levels[size_t(m)] = true;
    } else if (c == '-') {
      if (size_t(m) < levels.size()) levels[size_t(m)] = false;
    } else {
      break;
    }
  }
}
}  // namespace

bool ZxVerboseLevel(unsigned level) {
  if (!levelsBuilt) buildLevels();
  return level < levels.size() && levels[level];
}

void TEST_resetVerboseLevels() {
  levelsBuilt = false;
  levels.clear();
}
