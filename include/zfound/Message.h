// Messages and the four replaceable report handlers.
//
// Texts come from two process-wide message tables opened by startUp through
// _initMsgTables(): the library's ("lib") and the program's own (named after
// appName()), both on section "main". A Message is a String holding a text
// with the marks "#0".."#9", which its fill operators replace by values.
//
// Every report goes through one of four handler pointers (display,
// display-error, fatal-error, arithmetic-error), all null until startUp calls
// _initHandlers(). A report returns the handler's result, or -1 when that
// handler is not installed. A fatal report (fatalError, error, Error) whose
// handler returns stops the process with stop(0x80000000): an abnormal end
// with a non-zero exit status.
//
// Start-up calls, in this order: _initMsgTables() then _initHandlers().
#pragma once

#include <cstddef>
#include <cstdint>

#include <zfound/AnyValue.h>
#include <zfound/Format.h>
#include <zfound/Report.h>
#include <zfound/String.h>

// A report handler: flags, title and text as NUL-terminated strings.
typedef int (*MsgHandler)(int flags, char const* title, char const* text);

// Presentation flag bits or-ed into every report's flags.
enum : int32_t {
  MSG_CTRL = 4,      // control call with empty texts (msgCtrl)
  MSG_FATAL = 8,     // fatal error
  MSG_ERROR = 16,    // error
  MSG_DISPLAY = 64,  // plain display, notice, warning
};

class Message : public String {
public:
  Message() = default;
  Message(String const& s) : String(s) {}
  Message(char const* s) : String(s) {}

  // A new Message whose marks "#n" are replaced by the text of the n-th
  // value; marks beyond the given values become empty, "##" gives "#".
  Message operator()(AnyValue const& a0, AnyValue const& a1 = AnyValue()) const;
  Message operator()(AnyValue const& a0, AnyValue const& a1, AnyValue const& a2,
                     AnyValue const& a3 = AnyValue(), AnyValue const& a4 = AnyValue()) const;
  Message operator()(AnyValue const& a0, AnyValue const& a1, AnyValue const& a2,
                     AnyValue const& a3, AnyValue const& a4, AnyValue const& a5,
                     AnyValue const& a6 = AnyValue(), AnyValue const& a7 = AnyValue(),
                     AnyValue const& a8 = AnyValue(), AnyValue const& a9 = AnyValue()) const;

  // display(null title, *this).
  int display() const;
  // display(title, *this).
  int display(Message const& title) const;
  // displayError(*this).
  int displayError() const;
  // fatalError(*this): does not return when a fatal handler is installed.
  int fatalError() const;
};

// The concatenation of two messages.
Message operator+(Message const& a, Message const& b);

// libMsg(key) (the text of `key` in the library table), msgTablesReady(),
// error() and ariError() are declared in Report.h, which the layers below
// this one include.
// A quiet lookup: `deflt` when the key is missing.
Message libMsg(char const* key, char const* deflt);
Message libMsg(String const& key, char const* deflt);
// The program's table: the text of `key`, the not-found text when missing
// (asserts "_appMsg != (0)"), and the quiet lookups.
String appMsg(char const* key);
String appMsg(String const& key);
Message appMsg(char const* key, char const* deflt);
Message appMsg(String const& key, char const* deflt);

// Reports. Each returns the handler's result or -1 when it is not installed.
// display handler, title `title`, flags | 64.
int display(String const& title, String const& text);
// display-error handler, title libMsg("ERROR"), flags | 16.
int displayError(String const& text);
// fatal-error handler, title libMsg("FATALERROR"), flags | 8; then stops.
int fatalError(String const& text);

// The formatted reports: `fmt` is a format of the system's formatting engine
// (Format.h), often a catalogue text. The arguments travel as a counted list
// (FmtArg: integers, double, char const*, String const*, Num const*), so a
// conversion without a matching argument, or with one of another kind,
// prints nothing.
//   error:   fatal-error handler, title "ERROR", flags | 8; then stops.
//   notice:  display handler, title "NOTICE", flags | 64.
//   warning: display-error handler, title "WARNING", flags | 64.
//   ariError: arithmetic-error handler, title "ERROR", flags | 16.
// (errorList, ariErrorList and their forms error, ariError: Report.h.)
int noticeList(String const& fmt, FmtArg const* list, size_t count);
int warningList(String const& fmt, FmtArg const* list, size_t count);

inline int notice(String const& fmt) { return noticeList(fmt, nullptr, 0); }
inline int warning(String const& fmt) { return warningList(fmt, nullptr, 0); }

template <class... A>
int notice(String const& fmt, A const&... a) {
  FmtArg list[] = {FmtArg(a)...};
  return noticeList(fmt, list, sizeof...(A));
}
template <class... A>
int warning(String const& fmt, A const&... a) {
  FmtArg list[] = {FmtArg(a)...};
  return warningList(fmt, list, sizeof...(A));
}

extern "C" {
// Plain-function twins of error, notice, warning and ariError, for code of
// the plain-function interface: their arguments are a C variable list, which
// the format must match.
int Error(char const* fmt, ...);
int Notice(char const* fmt, ...);
int Warning(char const* fmt, ...);
int AriError(char const* fmt, ...);
}

// Install a handler (null allowed); each returns the previous one.
MsgHandler displayHandler(MsgHandler h);
MsgHandler displayErrorHandler(MsgHandler h);
MsgHandler fatalErrorHandler(MsgHandler h);
MsgHandler ariErrorHandler(MsgHandler h);

// Sets the presentation flags to v; when v has bit 4 the display handler is
// called once with flags 4 and empty texts, and the flags return to 2.
void msgCtrl(int32_t v);
// The current presentation flags (initially 2).
int32_t presFlag();

// Called by startUp: opens the library table "lib" and the program's table
// (appName()), both on section "main", not quiet.
void _initMsgTables();
// Called by startUp: display, display-error and fatal-error handlers become
// the default handler, the arithmetic handler the default arithmetic handler.
void _initHandlers();

// The default handler: writes the text (not the title), each character
// through the national-to-ASCII translation, and a newline to standard
// error; returns -1. Does nothing for a control call (flags bit 4).
int defaultMsgHandler(int flags, char const* title, char const* text);
// The default arithmetic handler: shows the text and the prompt "AB_RE_IG",
// reads one answer from standard input: A stops the process abnormally,
// I returns 0 (ignore), anything else returns 1 (retry).
int defaultAriHandler(int flags, char const* title, char const* text);
