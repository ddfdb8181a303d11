// What dates and times read from the system layer: the national day and
// month names and date format choice, and the local clock. This header only
// declares; the system layer implements every call (Config.h and OsServ.h
// include this header). The national settings exist from startUp on: the
// three accessors end the process with "startUp function must be called.\n"
// before that.
#pragma once

#include <cstdint>

#include <zfound/String.h>

// The date format choice: 0 for "INTER", 1 otherwise.
int32_t dateFmt();
// The name of day d (0 is Sunday); null outside 0..6.
String const& dayOfWeekName(long d);
// The name of month m (0 is January); null outside 0..11.
String const& monthName(long m);

// t (seconds since 1970) plus the local zone offset in force at t,
// daylight saving included.
int64_t _osTimeZoneAdj(int64_t t);
// The current local time in seconds: _osTimeZoneAdj(time(0)).
int64_t _osTime();
