// zsample: a small program on the common entry. It shows what start-up made
// of its command line: the program name and version taken from its start
// name, the "!" start-up letters, the arguments (after an "@file" argument
// file), variables read from an environment file with "!E", the trace levels
// that ZXVERBOSELEVEL switches on (--verbose), a text of its own catalogue
// (--message KEY), and it ends with the exit code asked for by --exit (the
// status is that code's low byte).
#include <zfound/AppMain.h>
#include <zfound/Assert.h>
#include <zfound/Environ.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>
#include <zfound/StdStreams.h>

namespace {

int32_t exitCode = 0;
String showVar;
bool verbose = false;
String messageKey;

// Trace levels looked at by --verbose.
constexpr unsigned kTraceLevels = 32;

char const* yesNo(bool b) { return b ? "yes" : "no"; }

}  // namespace

class SampleApp : public CVApp {
public:
  // Name and version come from the start name ("srv-2.0": srv, 2.0).
  static String appName() { return String(); }
  static String appVersion() { return String(); }

  static OptionParser* cmdLine() {
    static OptionParser* parser = nullptr;
    if (!parser) {
      parser = new OptionParser(true);
      *parser << new NumOption(exitCode, "exit", 'x', "[HELPEXIT\tend with this exit code]", 0,
                               -2147483647, 2147483647)
              << new StrOption(showVar, "show", 's',
                               "[HELPSHOW\tshow this environment variable]", String())
              << new BoolOption(verbose, "verbose", 'v',
                                "[HELPVERBOSE\tshow the trace levels that are on]")
              << new StrOption(messageKey, "message", 'm',
                               "[HELPMESSAGE\tshow the program's text of this key]", String());
    }
    return parser;
  }

  int32_t execute() override {
    stdOut << "name: " << ::appName() << "\n";
    stdOut << "version: " << ::appVersion() << "\n";
    if (!sysName().isNull()) stdOut << "system: " << sysName() << "\n";
    stdOut << "may add: " << yesNo(procAddPerm()) << ", delete: " << yesNo(procDelPerm())
           << ", update: " << yesNo(procUpdatePerm()) << "\n";
    stdOut << "message counts: " << yesNo(procMsgCounts()) << "\n";
    if (!procTty().isNull()) stdOut << "terminal: " << procTty() << "\n";
    stdOut << "arguments: " << long(argCnt() - 1) << "\n";
    for (long i = 1; i < argCnt(); ++i) stdOut << "  " << i << ": " << argVal(i) << "\n";
    if (!showVar.isNull()) {
      char const* v = readEnvVar(toCharPtr(showVar));
      stdOut << showVar << "=" << (v ? v : "(unset)") << "\n";
    }
    if (verbose) {
      stdOut << "trace levels:";
      for (unsigned l = 0; l < kTraceLevels; ++l)
        if (ZxVerboseLevel(l)) stdOut << " " << long(l);
      stdOut << "\n";
    }
    if (!messageKey.isNull()) stdOut << "message: " << appMsg(messageKey) << "\n";
    stdOut << "exit code: " << long(exitCode) << "\n";
    stdOut << flush;
    return exitCode;
  }
};

ZF_APP_MAIN(SampleApp)
