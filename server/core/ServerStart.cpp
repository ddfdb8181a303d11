// Server start-up and teardown: the fixed order in which the server comes
// up (configuration, refusal of a second server, daemon, limits, disk
// layout, lock tables, directories, run log, connection, state file, time
// stamp, cache, schemas) and goes down again.
//
// A second server of the same ServerId is refused ("SVALREADYRUN") right
// after the configuration is read: before the daemon step and before any
// run log, journal, state or data file is opened, also under -p, which
// makes no IPC object of its own.
#include <svcore/Server.h>
#include <svcore/Journal.h>

#include <svcore/ConnectionPort.h>
#include <svcore/RunLog.h>
#include <svcore/SchemaFiles.h>
#include <svcore/ServerObject.h>
#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>
#include <svcore/SvConnection.h>

#include <blkfile/CacheBuffer.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvSchema.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/SvObject.h>

#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/OsFile.h>
#include <zfound/PhysLayout.h>
#include <zfound/Process.h>
#include <zfound/ProcessHooks.h>
#include <zfound/SysLog.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

SysLog* sysLog = nullptr;

ConnectionPort* port = nullptr;

bool isDirectory(String const& path) {
  struct stat st {};
  return !path.isNull() && stat(toCharPtr(path), &st) == 0 && S_ISDIR(st.st_mode);
}

// A fatal start-up report: the server catalogue's text of key, then the
// argument; the process ends with status 1 and leaves no IPC object.
[[noreturn]] void fatal(char const* key, String const& arg = String()) {
  String text = appMsg(key, key);
  if (!arg.isNull())
    text = text + " " + arg;
  // Queues and semaphores made before the refusal go with it.
  delete Server::svCon;
  Server::svCon = nullptr;
  error(String("%S"), &text);
  stop(1);
  _exit(1);
}

void removeIpcAtAbnormalStop() {
  if (Server::svCon != nullptr)
    Server::svCon->removeSystemObjects();
}

void warn(char const* key, String const& arg = String()) {
  String text = appMsg(key, key);
  if (!arg.isNull())
    text = text + " " + arg;
  warning(String("%S"), &text);
}

int logHandler(int prio, char const* title, char const* text) {
  if (!sysLog)
    sysLog = new SysLog(Server::name_sd.isNull() ? String("ombrel") : Server::name_sd);
  String t = String(title ? title : "") + ": " + (text ? text : "");
  if (prio & (MSG_FATAL | MSG_ERROR))
    sysLog->logError(t);
  else
    sysLog->logWarning(t);
  if (prio & MSG_FATAL)
    stop(1);
  return 0;
}


void svWarning(char const* text) { warning(String("%s"), text); }
void lineHouseKeeping() { Server::houseKeeping(nullptr); }
bool lineHeartBeat() { return Server::heartBeat(nullptr); }
bool knownClient(int32_t id) { return Server::clientOfId(id) != nullptr; }
void removeClient(int32_t id) { Server::delClient(Server::clientOfId(id)); }
// Where logClientDead reports a client it could not remove.
void (*clientDeadWarning)(char const*) = nullptr;
void logClientDead(int32_t id) {
  Client* c = Server::clientOfId(id);
  if (!c)
    return;
  String descr = c->descr();
  if (!Server::delClient(c) && clientDeadWarning != nullptr) {
    String text = String(appMsg("CLIENTDEATH", "Client died:")) + " " + descr;
    clientDeadWarning(toCharPtr(text));
  }
}

}  // namespace

uint64_t Server::raisedFileLimit(uint64_t cur) {
  uint64_t const want = 0x7fffffff;
  return (cur == uint64_t(RLIM_INFINITY) || cur >= want) ? cur : want;
}

int Server::logError(int prio, char const* title, char const* text) { return logHandler(prio | MSG_ERROR, title, text); }
int Server::logWarning(int prio, char const* title, char const* text) { return logHandler(prio, title, text); }
int Server::logNotice(int prio, char const* title, char const* text) { return logHandler(prio, title, text); }

bool Server::validServerId(int32_t id) { return id >= 1 && id <= kMaxServerId; }

void Server::installHooks() {
  installStorageHooks();
  installClientHooks();
  svcore::installCatalogHooks();
}

RunLogHooks Server::runLogHooks(void (*warn)(char const*)) {
  clientDeadWarning = warn;
  RunLogHooks h;
  h.stamp = &timeStamp;
  h.houseKeeping = &Server::replayHouseKeeping;
  h.clientDead = &logClientDead;
  h.warning = warn;
  return h;
}

SvConnectionHooks Server::connectionHooks(void (*warn)(char const*)) {
  SvConnectionHooks h;
  h.isHouseKeepingTime = &Server::isHouseKeepingTime;
  h.houseKeeping = &lineHouseKeeping;
  h.heartBeat = &lineHeartBeat;
  h.knownClient = &knownClient;
  h.removeClient = &removeClient;
  h.warning = warn;
  return h;
}

void Server::startUp(ServerOptions const& o) {
  // Retained versions, deferred removals and assertion reports of the
  // storage engine go through the server from the first file on.
  installStorageHooks();
  // Settings first.
  ignore_sd = o.ignore;
  admin_sd = o.admin;
  mirror_sd = o.mirror;
  tqBehavior_sd = o.tqBehavior;
  name_sd = o.name;
  ClientEnv::serverName = o.name;
  verboseLevel_sd = o.verboseLevel;
  checkLevel_sd = o.checkLevel;
  foreground_sd = o.foreground;
  profiling_sd = o.profile;

  // The configuration, and the refusal of a second server of its id before
  // anything else is touched.
  configFile = new SvConfigFile(o.name);
  if (!*configFile)
    fatal("CANTRDCONFIG", o.name);
  int32_t id = configFile->getServerId();
  if (!validServerId(id))
    fatal("INVSERVERID", toString(id));
  if (SvConnection::serverRunning(id))
    fatal("SVALREADYRUN", o.name);

  if (!o.foreground)
    turnIntoDaemon(&Server::logError, &Server::logWarning, &Server::logNotice);
  if (setuid(geteuid()) != 0)
    warn("CANTSETUID", toString(errno));
  OsFile::setHandler(&Server::errHandler);
  struct rlimit rl {};
  if (getrlimit(RLIMIT_FSIZE, &rl) == 0) {
    struct rlimit want = {rlim_t(raisedFileLimit(rl.rlim_cur)), rlim_t(raisedFileLimit(rl.rlim_max))};
    if ((want.rlim_cur != rl.rlim_cur || want.rlim_max != rl.rlim_max) && setrlimit(RLIMIT_FSIZE, &want) != 0)
      warn("CANTCHGULIMIT", toString(errno));
  }
  umask(077);

  configFile->initialSchemaId(((instId() & 255) << 12) | ((id & 63) << 6) | 1);
  String layoutFile = configFile->diskConfiguration();
  struct stat lst {};
  if (layoutFile.isNull() || (stat(toCharPtr(layoutFile), &lst) == 0 && !S_ISREG(lst.st_mode)))
    fatal("CANTRDDISKCONFIG", layoutFile);
  physLayout_sd = new PhysLayout(layoutFile);
  installHooks();
  if (!svcatalog::LockTables::initLocks(configFile->numLocks(), configFile->numNotifies()))
    fatal("CANTINITLKTABS");
  static char tmpdir[] = "TMPDIR=";
  putenv(tmpdir);
  if (!configFile->journalDir().isNull() && !isDirectory(configFile->journalDir()))
    fatal("CANTFINDJOURNALDIR", configFile->journalDir());
  if (!isDirectory(configFile->dbase()))
    fatal("CANTFINDDBASEDIR", configFile->dbase());

  try {
    runLog = new RunLog(configFile->runLogFile(), o.readLog, o.writeLog, runLogHooks(&svWarning));
  } catch (RunLogError const& e) {
    fatal(e.key, e.file);
  }

  if (!o.prevCheckpoint) {
    try {
      svCon = new SvConnection(id, connectionHooks(&svWarning));
    } catch (SvConnectionError const& e) {
      if (*e.call) {
        String text = String(e.call) + String(libMsg(e.key, e.key));
        error(String("%S%d"), &text, e.err);
        stop(1);
        _exit(1);
      }
      if (std::string(e.key) == "SVALREADYRUN")
        fatal(e.key, o.name);
      String text = String(libMsg(e.key, e.key));
      error(String("%S"), &text);
      stop(1);
      _exit(1);
    }
    // A server ended by a signal (SIGTERM, SIGINT) or a fatal report leaves
    // no queue or semaphore set behind: its clients see it gone at once.
    onAbnormalStop(removeIpcAtAbnormalStop);
    svCon->setRunLog(runLog);
    SvObject::con = svCon;
    port = new ConnectionPort(*svCon);
    SvObject::setPort(port);
    svCon->setTrace(o.verboseLevel > 0 && o.foreground);
  }
  hkMsgBound = configFile->hkMsgBound();
  installRequests();

  // A state file that is a link ends the start here, where the queues
  // made so far are removed with the refusal.
  if (!StateFile::acceptablePath(configFile->stateFile()))
    fatal("STFILELINK", configFile->stateFile());
  stateFile = new StateFile(configFile->stateFile());
  timeStamp.setUserId(0);
  timeStamp.setNow();
  if (runLog->replaying())
    timeStamp.setTime(runLog->readTimeStamp());
  // Parity, last checkpoint and restart marker; a clock behind the last
  // checkpoint continues after it ("CORRUPTEDTIME").
  readState();
  readStamps();
  if (runLog->recording())
    runLog->writeTimeStamp(timeStamp);

  if (!CacheBuffer::init(configFile->cacheSz()))
    fatal("CANTINITCACHE");
  convertIntoDiskConfig();
  checkDiskConfigEntries();
  for (int32_t n = 0;;) {
    String sch = configFile->schemaName(n);
    if (sch.isNull())
      break;
    if (!checkDiskConfigDirs(sch)) {
      warn("SCHNOTINDCONFIG", sch);
      configFile->delSchema(sch);
      continue;
    }
    new SvSchema(nullptr, sch, configFile->getSchId(n));
    ++n;
  }
  if (profiling_sd) {
    if (configFile->profFile().isNull())
      fatal("PROFFILENOTSPEC");
    if (configFile->profileFreq() < 0)
      fatal("INVPROFFREQ", toString(configFile->profileFreq()));
    if (configFile->profileFreq() == 0) {
      warn("PROFFREQNOTPROF");
      profiling_sd = false;
    }
  }
  ++timeStamp;
  openProfile();

  if (!o.prevCheckpoint) {
    // The journal: made from JournalDir; what the data files lack is redone
    // and the rest rolled back. A server with no journal file open yet
    // (nothing to recover) starts one with a checkpoint. Only then are the
    // files no schema claims removed: a schema or table created after the
    // last checkpoint owns its files again once recovery replayed it.
    openJournal();
    restart();
    if (journal_ != nullptr && !journal_->ok())
      chkPoint(false, -1);
    svcore::unlinkUnUsedFiles();
    status_sd = 0;
    return;
  }
  // Check-previous-checkpoint: verify every schema's files; a schema whose
  // catalog could not be read has failed already.
  bool ok = true;
  for (SvSchema* s = SvSchema::first(); s; s = s->next())
    if (s->classFile() == nullptr || !s->verify(checkLevel_sd == 1)) {
      warn("CHKFILEFAILED", s->name());
      ok = false;
    }
  status_sd = ok ? -1 : 1;
}

void Server::makeObject() {
  if (!ServerObject::object())
    new ServerObject;
  SV_ASSERT(ServerObject::object()->getId() == 0x70000000u, "getId() == 0x70000000");
}

void Server::dropObject() { delete ServerObject::object(); }

void Server::tearDown() {
  closeJournal();
  closeProfile();
  // Clients left (in doubt after a Stop) go while the tables their locks
  // name still exist.
  resetLoop();
  // A mirror's replayed clients of a primary that crashed never saw their
  // DELCLIENT. Their destructors would run the lost-transaction hook with
  // the journal closed (marking the server corrupt) and free locks that
  // carry out postponed deletes after the final checkpoint, so they are
  // kept, reachable, until the process ends.
  static std::vector<Client*>* const keptReplayed = new std::vector<Client*>;
  keptReplayed->insert(keptReplayed->end(), replayed.begin(), replayed.end());
  replayed.clear();
  while (SvSchema* s = SvSchema::first())
    delete s;
  delete runLog;
  runLog = nullptr;
  if (svCon)
    svCon->awaitRepliesRead(2000);
  delete svCon;
  svCon = nullptr;
  SvObject::con = nullptr;
  SvObject::setPort(nullptr);
  delete port;
  port = nullptr;
  OsFile::setHandler(nullptr);
  delete sysLog;
  sysLog = nullptr;
}
