// National settings of a process (decimal point, thousands separator, date
// format choice, day and month names), read once at start-up from the
// per-language "config" file on the catalogue search path, and the
// directory-path search that the catalogues use to find their files.
//
// Invariants: the settings object exists from startUp on; the accessors end
// the process with "startUp function must be called.\n" before that. A
// damaged file never leaves half-read settings in force: the defaults stay.
#pragma once

#include <zfound/String.h>

#include <cstdint>
#include <cstdio>

// The settings object: seven day names (Sunday first), twelve month names
// (January first), the date format choice and the two separators.
class InternatConfig {
public:
  InternatConfig();
  // Puts every setting back to its built-in default.
  void setDefaults();

  String dayNames[7];
  String monthNames[12];
  int32_t dateFmt;
  char decPoint;
  char thousandSep;
};

// The decimal point character.
char decPoint();
// The thousands separator character.
char thousandSep();
// The date format choice: 0 for "INTER", 1 otherwise.
int32_t dateFmt();
// Sets the date format choice.
void dateFmt(int32_t fmt);
// The name of day d (0 is Sunday); null outside 0..6.
String const& dayOfWeekName(long d);
// The name of month m (0 is January); null outside 0..11.
String const& monthName(long m);

// Creates the settings object with its defaults (first call only).
void _createConfig();

// Why a settings file was refused (empty text when it was read).
struct ConfigLoadResult {
  bool ok = true;       // false: the file is damaged; defaults are in force
  String file;          // the file that was read, null when none was found
  int32_t line = 0;     // the offending line (1-based) when !ok
};

// Reads the national settings: "config" in the sub-directory $LANGUAGE of
// the first $DATADIR entry that has one, or of $ZEPHRA/data when DATADIR is
// unset. Every setting is first put back to its default, so a missing file
// or missing lines leave defaults. A damaged file (an over-long line, an
// empty separator or name line, a NUL byte, equal separators) is refused
// whole and reported in the result.
ConfigLoadResult _loadConfig();

// Tries "<entry>/<subdir>/<file>" for each ":"-separated entry of `path` in
// order and returns the first that opens for reading; null when none does.
FILE* openDataDirFile(String const& path, String const& subdir, String const& file);
