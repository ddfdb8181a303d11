// The report calls of the layers below the reports: the value types, the
// streams and the files take their catalogue texts and make their fatal and
// arithmetic-error reports through this header alone. It only declares;
// the report layer implements every call (Message.h includes this header and
// declares the rest of the reports).
//
// Before startUp the catalogues are not open and no handler is installed:
// libMsg then asserts (a report that returns), and error/ariError return -1
// without showing anything, so a caller checks msgTablesReady() first when
// it has a text of its own to fall back on.
#pragma once

#include <cstddef>

#include <zfound/Format.h>
#include <zfound/String.h>

// True once start-up has opened the library's and the program's catalogues.
bool msgTablesReady();

// The text of `key` in the library table; the not-found text when missing.
// Asserts "_libMsg != (0)" (i.e. startUp has run).
String libMsg(char const* key);
String libMsg(String const& key);

// Formatted reports (`fmt` is a format of Format.h, its arguments a counted
// list), each returning the handler's result or -1 when it is not installed:
//   error:    fatal-error handler, title "ERROR", flags | 8; then stops.
//   ariError: arithmetic-error handler, title "ERROR", flags | 16.
int errorList(String const& fmt, FmtArg const* list, size_t count);
int ariErrorList(String const& fmt, FmtArg const* list, size_t count);

inline int error(String const& fmt) { return errorList(fmt, nullptr, 0); }
inline int ariError(String const& fmt) { return ariErrorList(fmt, nullptr, 0); }

template <class... A>
int error(String const& fmt, A const&... a) {
  FmtArg list[] = {FmtArg(a)...};
  return errorList(fmt, list, sizeof...(A));
}
template <class... A>
int ariError(String const& fmt, A const&... a) {
  FmtArg list[] = {FmtArg(a)...};
  return ariErrorList(fmt, list, sizeof...(A));
}
