// Assertions and verbose-trace levels.
//
// A check is made at the call site: the condition is evaluated there and,
// only when it is false, one of the report functions below is called with
// the condition's source text, the source file and the line. Every report is
// a fatal report through error() (Message.h): once startUp has installed the
// handlers it ends the process with a non-zero status. Before startUp the
// report returns and the program goes on. Checks stay active in every build.
//
// Use the macros:
//   ZF_ASSERT(x > 0);      "Assertion failed (x > 0).\n<file>:<line>.\n"
//   ZF_PRECOND(p != 0);    "Precondition failed (...)..."
//   ZF_POSTCOND(n >= 0);   "Postcondition failed (...)..."
//   ZF_ABNORMAL();         "Program reached an invalid address at <file>:<line>.\n"
//   ZF_ASSERT_TEXT(p != nullptr, "p != (0)");   a fixed text (see below)
// Code never calls the report functions below directly.
#pragma once

#include <cstdint>

class String;

extern "C" {
// Fatal report "Assertion failed (%s).\n%s:%d.\n" with expr, file, line.
void _assert(char const* expr, char const* file, int line);
// Fatal report "Precondition failed (%s).\n%s:%d.\n".
void _precond(char const* expr, char const* file, int line);
// Fatal report "Postcondition failed (%s).\n%s:%d.\n".
void _postcond(char const* expr, char const* file, int line);
// Fatal report "Program reached an invalid address at %s:%d.\n": for places
// control must never reach.
void _abnormal(char const* file, int line);
}

namespace zf_detail {
// Reports a failed check through `report`; the check's result.
inline bool check(bool held, void (*report)(char const*, char const*, int), char const* text, char const* file,
                  int line) {
  if (!held) report(text, file, line);
  return held;
}
}  // namespace zf_detail

// Each check is an expression that is true when the condition holds, so a
// caller that must go on after a failed check (a report returns before
// start-up) writes: if (!ZF_PRECOND(p != nullptr)) return false;
#define ZF_ASSERT(cond) zf_detail::check(static_cast<bool>(cond), _assert, #cond, __FILE__, __LINE__)
#define ZF_PRECOND(cond) zf_detail::check(static_cast<bool>(cond), _precond, #cond, __FILE__, __LINE__)
#define ZF_POSTCOND(cond) zf_detail::check(static_cast<bool>(cond), _postcond, #cond, __FILE__, __LINE__)
#define ZF_ABNORMAL() _abnormal(__FILE__, __LINE__)
// The same checks with a fixed report text, only where a text that users or
// tests rely on differs from the condition as written.
#define ZF_ASSERT_TEXT(cond, text) zf_detail::check(static_cast<bool>(cond), _assert, text, __FILE__, __LINE__)
#define ZF_PRECOND_TEXT(cond, text) zf_detail::check(static_cast<bool>(cond), _precond, text, __FILE__, __LINE__)
#define ZF_POSTCOND_TEXT(cond, text) zf_detail::check(static_cast<bool>(cond), _postcond, text, __FILE__, __LINE__)

// Fatal report of an index outside 0..high-1 of a container: the library
// text "OUTOFBOUNDS" ("Index #0 is out of bounds (#1 - #2)." while the
// catalogues are not open) filled with index, 0 and high. Containers call it
// directly: it is their one report.
void _outOfBounds(long index, long high);

// True when verbose-trace level `level` is switched on by ZXVERBOSELEVEL:
// a count n switches on levels 0..n-1, then "+m" adds level m and "-m"
// removes it ("3+5-1" gives 0, 2 and 5). Read once, on the first call.
bool ZxVerboseLevel(unsigned level);

// The value of the decimal digits at the start of `s`, which are removed
// from it; 0 when there are none or the value is above 256.
int32_t getNum(String& s);

// Forgets the level set so that the next ZxVerboseLevel() reads
// ZXVERBOSELEVEL again (for tests).
void TEST_resetVerboseLevels();
