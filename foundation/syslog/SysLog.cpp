// The system log writer.
//
// Invariants: the text handed to the logger's open stays alive in
// openIdent_ of the opening object for as long as that opening is in force
// (`current` points to that object); a message is written as an argument of
// a fixed "%s" format, never as a format itself.
#include <zfound/SysLog.h>

#include <syslog.h>

namespace {

void sysOpen(char const* ident, int option, int facility) { ::openlog(ident, option, facility); }
void sysWrite(int priority, char const* text) { ::syslog(priority, "%s", text); }
void sysClose() { ::closelog(); }

SysLogSink sink = {sysOpen, sysWrite, sysClose};
// The object whose opening is in force, or null.
SysLog const* current = nullptr;

}  // namespace

SysLogSink SysLog::systemSink() { return SysLogSink{sysOpen, sysWrite, sysClose}; }

SysLogSink SysLog::setSink(SysLogSink const& s) {
  SysLogSink old = sink;
  sink = s;
  return old;
}

SysLog::SysLog(String const& ident, bool local) : ident_(ident), openIdent_(ident) {
  if (sink.open) sink.open(toCharPtr(openIdent_), LOG_PID, local ? LOG_LOCAL0 : LOG_USER);
  current = this;
}

SysLog::SysLog(SysLog const& s) : ident_(s.ident_) {}

SysLog& SysLog::operator=(SysLog const& s) {
  if (this != &s) ident_ = s.ident_;
  return *this;
}

SysLog::~SysLog() {
  if (current == this) {
    if (sink.close) sink.close();
    current = nullptr;
  }
}

void SysLog::log(int priority, String const& text) const {
  if (!sink.write) return;
  String line = text.replace(String("\n"), String(" "));
  sink.write(priority, line.isHighest() ? "(high value)" : toCharPtr(line));
}

void SysLog::logError(String const& text) const { log(LOG_ERR, text); }
void SysLog::logWarning(String const& text) const { log(LOG_WARNING, text); }
void SysLog::logAlert(String const& text) const { log(LOG_ALERT, text); }
void SysLog::logDebug(String const& text) const { log(LOG_DEBUG, text); }
void SysLog::logInfo(String const& text) const { log(LOG_INFO, text); }
void SysLog::logNotice(String const& text) const { log(LOG_NOTICE, text); }
