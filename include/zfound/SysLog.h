// SysLog: one-line messages to the operating system's logger under an
// identifier chosen by the program, one operation per priority.
//
// The text of each message is logged as it stands (a '%' included), with
// every newline turned into a blank, so that one message is one log line.
// The object that opened the log keeps the identifier's text alive, since
// the logger keeps a pointer to it, and only that object closes the log, and
// only while its opening is the one in force: destroying a copy, or an
// object whose log another object has since reopened, leaves the log open.
//
// All calls go through a replaceable sink (open, write, close); the default
// sink is the system logger (openlog, syslog with the text as an argument,
// closelog). Tests and programs without a logger install their own.
#pragma once

#include <zfound/String.h>

// Where log calls go. Each pointer may be null (that call does nothing).
struct SysLogSink {
  void (*open)(char const* ident, int option, int facility);
  void (*write)(int priority, char const* text);
  void (*close)();
};

class SysLog {
public:
  // Keeps the identifier and opens the log: option LOG_PID, facility
  // LOG_LOCAL0 when `local`, else LOG_USER.
  explicit SysLog(String const& ident, bool local = false);
  // Copy the identifier only: a copy does not open (nor close) the log.
  SysLog(SysLog const& s);
  SysLog& operator=(SysLog const& s);
  // Closes the log when this object opened the log that is in force.
  ~SysLog();

  // Log the text at LOG_ERR, LOG_WARNING, LOG_ALERT, LOG_DEBUG, LOG_INFO
  // and LOG_NOTICE.
  void logError(String const& text) const;
  void logWarning(String const& text) const;
  void logAlert(String const& text) const;
  void logDebug(String const& text) const;
  void logInfo(String const& text) const;
  void logNotice(String const& text) const;

  // The identifier.
  String const& ident() const { return ident_; }

  // Installs a sink and returns the one in force before.
  static SysLogSink setSink(SysLogSink const& sink);
  // The system logger's sink.
  static SysLogSink systemSink();

private:
  void log(int priority, String const& text) const;

  String ident_;      // the identifier
  String openIdent_;  // the text handed to open; null for a copy
};
