// National settings of a process (decimal point, thousands separator, date
// format choice, day and month names), read once at start-up from the
// per-language "config" file on the catalogue search path (openDataDirFile,
// MsgTable.h).
//
// Invariants: the settings object exists from startUp on; the accessors end
// the process with "startUp function must be called.\n" before that. A
// damaged file never leaves half-read settings in force: the defaults stay.
#pragma once

#include <zfound/DateSettings.h>
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
// Sets the date format choice (read by dateFmt()). dateFmt(),
// dayOfWeekName(d) and monthName(m): DateSettings.h (included above).
void dateFmt(int32_t fmt);

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

