// The process services that the layers below the system layer call: whether
// start-up has run, the program's name and version, the one way out of the
// process, and a single key from the terminal. This header only declares;
// the system layer implements every call (Process.h and OsServ.h include
// this header and declare the rest of the process services).
#pragma once

#include <cstdint>

#include <zfound/String.h>

// The abnormal-end bit of a stop code.
constexpr int32_t STOP_ABNORMAL = INT32_MIN;

// True once startUp has run.
bool startUpDone();
// The program name, without version (ends the process before startUp).
String const& appName();
// The version from the start name; "1.0" when it had none (ends the process
// before startUp).
String const& appVersion();

// Ends the process: abnormal hooks (when bit 31 of `code` is set), stop
// hooks, failure record (abnormal only), then exit. Returns at once only when
// a stop is already under way (a hook calling stop does not recurse).
void stop(int32_t code);

// One byte from standard input as a signed character (-1 at the end of the
// input); sets the terminal for this one read when it was not set.
int getChar();
