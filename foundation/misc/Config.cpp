// National settings: the per-language "config" file, found by the message
// catalogues' directory-path search.
//
// The file is read into a local copy of the settings and put in force only
// when every line read is sound, so a damaged file leaves the defaults.
// Lines are at most 1,023 characters; only a trailing newline is dropped.
#include <zfound/Config.h>

#include <zfound/Environ.h>
#include <zfound/MsgTable.h>
#include <zfound/Process.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

InternatConfig* theConfig = nullptr;

char const* const kDayDefaults[7] = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                                     "THURSDAY", "FRIDAY", "SATURDAY"};
char const* const kMonthDefaults[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",
                                        "MAY",     "JUNE",     "JULY",      "AUGUST",
                                        "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

// Longest line of the file, without its newline.
constexpr size_t kMaxLine = 1023;

InternatConfig& config() {
  if (!theConfig) _startUpMissing();
  return *theConfig;
}

// Reads one line into `line` without its trailing newline. Returns 1 for a
// line, 0 at the end of the file, -1 for a line longer than kMaxLine or one
// that holds a NUL byte.
int readLine(FILE* f, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') return 1;
    if (c == '\0' || line.size() >= kMaxLine) return -1;
    line.push_back(char(c));
  }
  return any ? 1 : 0;
}

}  // namespace

InternatConfig::InternatConfig() { setDefaults(); }

void InternatConfig::setDefaults() {
  for (int i = 0; i < 7; ++i) dayNames[i] = kDayDefaults[i];
  for (int i = 0; i < 12; ++i) monthNames[i] = kMonthDefaults[i];
  dateFmt = 0;
  decPoint = '.';
  thousandSep = ',';
}

void _createConfig() {
  if (!theConfig) theConfig = new InternatConfig;
}

char decPoint() { return config().decPoint; }
char thousandSep() { return config().thousandSep; }
int32_t dateFmt() { return config().dateFmt; }
void dateFmt(int32_t fmt) { config().dateFmt = fmt; }

String const& dayOfWeekName(long d) {
  static String const none;
  InternatConfig& c = config();
  return d >= 0 && d < 7 ? c.dayNames[d] : none;
}

String const& monthName(long m) {
  static String const none;
  InternatConfig& c = config();
  return m >= 0 && m < 12 ? c.monthNames[m] : none;
}

ConfigLoadResult _loadConfig() {
  InternatConfig& live = config();
  live.setDefaults();
  ConfigLoadResult result;

  char const* dataDir = readEnvVar("DATADIR");
  char const* language = readEnvVar("LANGUAGE");
  if (!language) language = "english";
  FILE* f = nullptr;
  std::string name;
  if (dataDir) {
    String found;
    f = openDataDirFile(String(dataDir), String(language), String("config"), &found);
    if (f) name = toCharPtr(found);
  } else {
    char const* zephra = readEnvVar("ZEPHRA");
    name = std::string(zephra ? zephra : "") + "/data/" + language + "/config";
    f = std::fopen(name.c_str(), "r");
  }
  if (f) result.file = name.c_str();
  if (!f) return result;

  InternatConfig next;
  std::string line;
  for (int32_t n = 1; n <= 22; ++n) {
    int got = readLine(f, line);
    if (got == 0) break;
    // Lines 1 and 2 each give one separator character and the day and month
    // names must not be empty; only the date format line may be.
    if (got < 0 || (line.empty() && n != 3)) {
      result.ok = false;
      result.line = n;
      break;
    }
    if (n == 1) {
      next.decPoint = line[0];
    } else if (n == 2) {
      next.thousandSep = line[0];
      if (next.thousandSep == next.decPoint) {
        result.ok = false;
        result.line = n;
        break;
      }
    } else if (n == 3) {
      next.dateFmt = String(line.c_str()).toUpper() == "INTER" ? 0 : 1;
    } else if (n <= 10) {
      next.dayNames[n - 4] = line.c_str();
    } else {
      next.monthNames[n - 11] = line.c_str();
    }
  }
  std::fclose(f);
  if (result.ok) live = next;
  return result;
}
