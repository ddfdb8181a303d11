// ombrel: the database server program. One process per server name:
//   ombrel [options] name
// The options are class statics bound to the option parser; execute()
// checks the command line and the user, brings the server up, runs the
// main loop and returns the exit code: 0 after a normal stop, 255 after -p
// when every file verified, 1 for every refusal.
#include <svcore/Server.h>

#include <zfound/AppMain.h>
#include <zfound/Exception.h>
#include <zfound/LibraryInfo.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>
#include <zfound/ProcessHooks.h>

#include <climits>
#include <unistd.h>

class ombrel : public CVApp {
public:
  static String appName() { return String("ombrel"); }
  static String appVersion() { return versionStr(Server::kVersion); }
  static OptionParser* cmdLine() {
    if (!op_sd) {
      op_sd = new OptionParser(String());
      *op_sd << new BoolOption(readRunLog_sd, "read-log", 'r', "[O_READLOG]")
             << new NumOption(writeRunLog_sd, "write-log", 'w', "[O_WRITELOG]", -1, INT32_MIN, INT32_MAX)
             << new BoolOption(verbose_sd, "verbose", 'v', "[O_VERBOSE]")
             << new NumOption(verboseLevel_sd, "verbose-level", 'u', "[O_VERBOSELEVEL]", 0, INT32_MIN, INT32_MAX)
             << new BoolOption(foreground_sd, "foreground", 'f', "[O_FOREGROUND]")
             << new BoolOption(prevCheckpoint_sd, "check-previous-cp", 'p', "[O_CHKPREVCP]")
             << new NumOption(checkLevel_sd, "check-level", 'e', "[O_CHECKLEVEL]", -1, INT32_MIN, INT32_MAX)
             << new NumOption(admin_sd, "administrator", 'a', "[O_ADMIN]", -1, INT32_MIN, INT32_MAX)
             << new StrOption(ignore_sd, "ignore", 'i', "[O_IGNORE]", String())
             << new BoolOption(mirror_sd, "mirror", 'm', "[O_MIRRORING]")
             << new BoolOption(profile_sd, "profile", 'P', "[O_PROFILE]")
             << new NumOption(tqBehavior_sd, "trans-query-behavior", 't', "[O_TQBEHAVIOR]", -1, INT32_MIN,
                              INT32_MAX);
      onStop(dropParser);
    }
    return op_sd;
  }

  int32_t execute() override {
    if (argCnt() != 2) {
      String text = appMsg("USAGE", "Usage: ombrel [options] name");
      error(String("%S"), &text);
      return 1;
    }
    Exception::init(false);
    if (geteuid() != 0) {
      String text = appMsg("MUSTBEROOT", "The server must be started by root.");
      error(String("%S"), &text);
      return 1;
    }
    ServerOptions o;
    o.name = argVal(1);
    o.verboseLevel = (verbose_sd && verboseLevel_sd == 0) ? 1 : verboseLevel_sd;
    o.foreground = foreground_sd;
    o.readLog = readRunLog_sd;
    o.writeLog = writeRunLog_sd;
    o.checkLevel = checkLevel_sd;
    o.prevCheckpoint = prevCheckpoint_sd;
    o.tqBehavior = tqBehavior_sd;
    o.mirror = mirror_sd;
    o.ignore = ignore_sd;
    o.admin = admin_sd;
    o.profile = profile_sd;
    Server::makeObject();
    Server::startUp(o);
    if (Server::status() == 0)
      Server::execute();
    Exception::clear();
    int32_t status = Server::status();
    Server::tearDown();
    Server::dropObject();
    return status < 0 ? 255 : status;
  }

private:
  static void dropParser() {
    delete op_sd;
    op_sd = nullptr;
  }
  static OptionParser* op_sd;
  static bool readRunLog_sd, verbose_sd, foreground_sd, prevCheckpoint_sd, mirror_sd, profile_sd;
  static int32_t writeRunLog_sd, verboseLevel_sd, checkLevel_sd, admin_sd, tqBehavior_sd;
  static String ignore_sd;
};

OptionParser* ombrel::op_sd = nullptr;
bool ombrel::readRunLog_sd = false;
bool ombrel::verbose_sd = false;
bool ombrel::foreground_sd = false;
bool ombrel::prevCheckpoint_sd = false;
bool ombrel::mirror_sd = false;
bool ombrel::profile_sd = false;
int32_t ombrel::writeRunLog_sd = -1;
int32_t ombrel::verboseLevel_sd = 0;
int32_t ombrel::checkLevel_sd = -1;
int32_t ombrel::admin_sd = -1;
int32_t ombrel::tqBehavior_sd = -1;
String ombrel::ignore_sd;

ZF_APP_MAIN(ombrel)
