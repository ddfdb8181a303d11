// Process start-up and stop.
//
// startUp records who and what the process is, consumes the "!" start-up
// letters, reads the environment file, opens the catalogues, installs the
// reporting and signal handlers, expands an "@file" argument file and loads
// the national settings. stop is the process's only way out.
//
// Invariants:
//  - the process configuration is created once and never freed; accessors
//    refuse to run before it exists;
//  - stop runs its hooks at most once; an abnormal code (bit 31 of the 32-bit
//    code) also runs the abnormal hooks and writes the failure record;
//  - bad input from outside (a missing or unreadable argument file, a bad
//    environment file, a damaged settings file) ends the process with a
//    fatal report and a non-zero status, never a crash;
//  - the failure record is never created world-writable, and user and group
//    ids are kept whole.
#include <zfound/Process.h>

#include <zfound/Config.h>
#include <zfound/Environ.h>
#include <zfound/FileLock.h>
#include <zfound/LibraryInfo.h>
#include <zfound/Message.h>
#include <zfound/OsServ.h>
#include <zfound/StartArgs.h>
#include <zfound/Time.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The process configuration.
struct ProcessConfig {
  String appName;
  int argc = 0;
  char** argv = nullptr;
  Time initTime;        // null before startUp
  pid_t pid = 0;
  uid_t userId = 0;
  gid_t userGid = 0;
  bool addPerm = true;
  bool delPerm = true;
  bool updatePerm = true;
  int32_t sig = 0;
  String ttyName;
  String tty;
  String sysName;
  int32_t crackerClient = 0;
  bool msgCounts = false;
  bool userServer = false;
  String appVersion = "1.0";
};

ProcessConfig* pc = nullptr;

// A hook list entry; new entries go to the head.
struct Hook {
  void (*func)();
  Hook* next;
};
Hook* funcTab = nullptr;
Hook* abFuncTab = nullptr;

volatile sig_atomic_t stopping = 0;
volatile sig_atomic_t abortOnExit = 0;

// The argument file's contents and the vector built over them; kept for the
// life of the process because argv then points into them.
std::vector<char>* argFileText = nullptr;
std::vector<char*>* argFileVec = nullptr;

ProcessConfig& cfg() {
  if (!pc) _startUpMissing();
  return *pc;
}

void addHook(Hook*& list, void (*f)()) {
  for (Hook* h = list; h; h = h->next)
    if (h->func == f) return;
  list = new Hook{f, list};
}

void runHooks(Hook* list) {
  for (Hook* h = list; h; h = h->next) h->func();
}

}  // namespace

void _startUpMissing() {
  static char const msg[] = "startUp function must be called.\n";
  (void)!::write(2, msg, sizeof msg - 1);
  std::exit(1);
}

// ---------------------------------------------------------------------------
// The start name

StartName splitStartName(std::string const& name) {
  StartName r;
  std::string prog = name;
  size_t colon = name.find(':');
  if (colon != std::string::npos) {
    size_t end = name.find(':', colon + 1);
    std::string second = name.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
    if (!second.empty()) {
      r.sysName = name.substr(0, colon);
      prog = second;
    }
  }
  size_t slash = prog.rfind('/');
  if (slash != std::string::npos) prog = prog.substr(slash + 1);
  size_t dash = prog.rfind('-');
  if (dash != std::string::npos && dash + 1 < prog.size() && prog[dash + 1] >= '0' &&
      prog[dash + 1] <= '9') {
    r.version = prog.substr(dash + 1);
    prog.resize(dash);
  }
  r.name = prog;
  return r;
}

// ---------------------------------------------------------------------------
// Start-up letters and the argument file

StartLetters consumeStartLetters(int& argc, char** argv) {
  StartLetters r;
  int consumed = 0;
  int i = 1;
  while (argc - consumed > 1 && i < argc && argv[i] && argv[i][0] == '!') {
    char const* a = argv[i++];
    ++consumed;
    for (char const* p = a + 1; *p; ++p) {
      char c = *p;
      if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
      if (c == 'A' || c == 'I') {
        r.addPerm = false;
      } else if (c == 'D') {
        r.delPerm = false;
      } else if (c == 'U') {
        r.updatePerm = false;
      } else if (c == 'M') {
        r.msgCounts = true;
      } else if (c == 'E' || c == 'T') {
        std::string value;
        if (p[1]) {
          value = p + 1;
        } else if (i < argc && argv[i]) {
          value = argv[i++];
          ++consumed;
        }
        if (c == 'E')
          r.envFiles.push_back(value);
        else
          r.tty = value;
        break;
      }
    }
  }
  dropArgs(argc, argv, consumed);
  return r;
}

void dropArgs(int& argc, char** argv, int n) {
  if (n <= 0) return;
  for (int k = 1; k + n <= argc; ++k) argv[k] = argv[k + n];
  argc -= n;
}

int readArgFile(char const* name, char* argv0, std::vector<char>& text, std::vector<char*>& vec) {
  int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  // Refuse what is not a regular file or is too large to be a list of words.
  constexpr off_t kMaxArgFile = off_t(16) << 20;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 || st.st_size > kMaxArgFile) {
    ::close(fd);
    return -1;
  }
  size_t size = size_t(st.st_size);
  text.assign(size + 1, '\0');
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, text.data() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  if (got < size) return -1;

  vec.clear();
  vec.push_back(argv0);
  char* p = text.data();
  char* end = p + size;
  auto isWhite = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
  while (p < end) {
    while (p < end && isWhite(*p)) ++p;
    if (p >= end) break;
    char* word;
    if (*p == '"') {
      word = ++p;
      while (p < end && *p != '"') ++p;
    } else {
      word = p;
      while (p < end && !isWhite(*p)) ++p;
    }
    // Terminate the word in place (the buffer has one spare byte at the end).
    *p++ = '\0';
    vec.push_back(word);
  }
  vec.push_back(nullptr);
  return int(vec.size()) - 1;
}

// ---------------------------------------------------------------------------
// Signals

namespace {

void fatalSignal(int s) {
  // The real user id is left alone: a privileged process does not give away
  // its privileges to whatever runs after this point.
  Signal(s, SIG_DFL);
  abortOnExit = 1;
  if (pc) pc->sig = s;
  String name = pc ? pc->appName : String();
  error(libMsg("INT_SIG"), toCharPtr(name), s);
  // Reached only when no fatal-error handler is installed.
  stop(STOP_ABNORMAL | s);
}

void brokenPipe(int) {
  String name = pc ? pc->appName : String();
  error(libMsg("BROKPIPE"), toCharPtr(name));
  stop(STOP_ABNORMAL | SIGPIPE);
}

void stopThisHandler(int s) { stopThis(s); }

void installSignals() {
  Signal(SIGHUP, SIG_IGN);
  // An interrupt that was ignored when the process started stays ignored
  // (a program started in the background by a shell).
  if (Signal(SIGINT, stopThisHandler) == SIG_IGN) Signal(SIGINT, SIG_IGN);
  for (int s : {SIGQUIT, SIGILL, SIGTRAP, SIGBUS, SIGFPE, SIGSEGV, SIGSYS}) Signal(s, fatalSignal);
  for (int s : {SIGABRT, SIGCHLD, SIGPWR}) Signal(s, SIG_DFL);
  for (int s : {SIGUSR1, SIGUSR2, SIGALRM}) Signal(s, SIG_IGN);
  Signal(SIGPIPE, brokenPipe);
  Signal(SIGTERM, stopThisHandler);
}

}  // namespace

// ---------------------------------------------------------------------------
// startUp

void startUp(String const& name, int& argc, char**& argv) {
  if (pc) return;
  pc = new ProcessConfig;
  _createConfig();
  _registerFoundationLibrary();

  StartName split = splitStartName(name ? toCharPtr(name) : "");
  pc->appName = split.name.c_str();
  pc->sysName = split.sysName.c_str();
  if (!split.version.empty()) pc->appVersion = split.version.c_str();

  StartLetters letters;
  if (argv) letters = consumeStartLetters(argc, argv);
  pc->addPerm = letters.addPerm;
  pc->delPerm = letters.delPerm;
  pc->updatePerm = letters.updatePerm;
  pc->msgCounts = letters.msgCounts;
  pc->tty = letters.tty.c_str();
  // Environment files are read now, before the catalogues are opened, so that
  // they may set DATADIR and LANGUAGE; a failure is reported once the
  // reporting handlers are in place.
  std::string badEnvFile;
  for (std::string const& f : letters.envFiles) {
    if (setEnvironment(f.c_str()) != 0 && badEnvFile.empty())
      badEnvFile = f.empty() ? std::string(kDefaultEnvFile) : f;
  }

  _initMsgTables();

  pc->argv = argv;
  pc->argc = argc;
  pc->initTime = Time::now();
  if (::isatty(0)) {
    if (char const* t = ::ttyname(0)) pc->ttyName = t;
  }
  pc->pid = ::getpid();
  pc->userId = ::geteuid();
  pc->userGid = ::getegid();

  _initHandlers();
  installSignals();

  if (!badEnvFile.empty()) error(libMsg("BADENVFILE"), badEnvFile.c_str());

  if (pc->argc > 1 && pc->argv && pc->argv[1] && pc->argv[1][0] == '@') {
    argFileText = new std::vector<char>;
    argFileVec = new std::vector<char*>;
    char const* file = pc->argv[1] + 1;
    int n = readArgFile(file, pc->argv[0], *argFileText, *argFileVec);
    if (n < 0) {
      error(libMsg("CANTOPENARGF"), file);
    } else {
      pc->argc = n;
      pc->argv = argFileVec->data();
    }
  }
  argc = pc->argc;
  argv = pc->argv;

  ConfigLoadResult loaded = _loadConfig();
  if (!loaded.ok) error(libMsg("BADCONFIG"), toCharPtr(loaded.file), int(loaded.line));
}

bool startUpDone() { return pc != nullptr; }

// ---------------------------------------------------------------------------
// Accessors

String const& appName() { return cfg().appName; }
String const& appVersion() { return cfg().appVersion; }
String const& sysName() { return cfg().sysName; }
int argCnt() { return cfg().argc; }
int& argRefCnt() { return cfg().argc; }
char** argRefVal() { return cfg().argv; }
char** procArgs() { return cfg().argv; }

String argVal(long n) {
  ProcessConfig& c = cfg();
  if (n < 0 || n >= c.argc || !c.argv) return String();
  return String(c.argv[n]);
}

void setArgs(int argc, char** argv) {
  ProcessConfig& c = cfg();
  c.argc = argc;
  c.argv = argv;
}

pid_t procPid() { return cfg().pid; }
pid_t getPid() { return cfg().pid; }
uid_t procUserId() { return cfg().userId; }
gid_t procUserGid() { return cfg().userGid; }
void setProcUserId(uid_t uid) { cfg().userId = uid; }
void setProcUserGid(gid_t gid) { cfg().userGid = gid; }
String const& procTtyName() { return cfg().ttyName; }
String const& getTty() { return cfg().ttyName; }
String const& procTty() { return cfg().tty; }
int32_t procSig() { return cfg().sig; }
bool procAddPerm() { return cfg().addPerm; }
bool procDelPerm() { return cfg().delPerm; }
bool procUpdatePerm() { return cfg().updatePerm; }
void setProcAddPerm(bool on) { cfg().addPerm = on; }
void setProcDelPerm(bool on) { cfg().delPerm = on; }
void setProcUpdatePerm(bool on) { cfg().updatePerm = on; }
bool procMsgCounts() { return cfg().msgCounts; }
void setUserServer(bool on) { cfg().userServer = on; }
bool procUserServer() { return cfg().userServer; }
int32_t procCrackerClient() { return cfg().crackerClient; }
Time procInitTime() { return cfg().initTime; }

// ---------------------------------------------------------------------------
// The failure record

namespace {

// A field of the record: tabs, newlines and other control characters would
// break the one-line layout, so they are shown as '?'.
std::string recordField(char const* s) {
  std::string r = s && s != reinterpret_cast<char const*>(1) ? s : "";
  for (char& c : r)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  return r;
}

// Appends one line about this abnormal end to $ZEPHRA/adm/<PFA>.pfa when
// PFA is set and not empty. A file that cannot be opened or locked is
// skipped silently.
void writeFailureRecord() {
  if (!pc) return;
  char const* pfa = readEnvVar("PFA");
  if (!pfa || !*pfa || std::strchr(pfa, '/')) return;
  char const* zephra = readEnvVar("ZEPHRA");
  std::string path = std::string(zephra ? zephra : "") + "/adm/" + pfa + ".pfa";
  // Owner and group may append; the record is never world-writable.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0660);
  if (fd < 0) return;
  if (lockFile(fd, true, false, 0, 0) != 0) {
    ::close(fd);
    return;
  }
  std::string line = recordField(toCharPtr(toDate(pc->initTime), 4));
  line += '\t';
  line += recordField(toCharPtr(pc->initTime, 6));
  line += '\t';
  line += recordField(toCharPtr(Time::now(), 6));
  line += '\t';
  line += std::to_string(pc->pid);
  line += '\t';
  line += recordField(pc->argv && pc->argc > 0 ? pc->argv[0] : "");
  line += '\t';
  line += std::to_string(pc->sig);
  line += '\t';
  line += recordField(userName(pc->userId));
  line += '\t';
  line += recordField(toCharPtr(pc->ttyName));
  line += '\n';
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
}

}  // namespace

// ---------------------------------------------------------------------------
// Stop

void onStop(void (*f)()) { addHook(funcTab, f); }
void onAbnormalStop(void (*f)()) { addHook(abFuncTab, f); }

int exitStatusOf(int32_t code) {
  int low = int(uint32_t(code) & 0xFFu);
  if (code < 0 && low == 0) return 1;
  return low;
}

void stop(int32_t code) {
  if (stopping) return;
  stopping = 1;
  bool abnormal = code < 0;
  if (abnormal) runHooks(abFuncTab);
  runHooks(funcTab);
  if (abnormal) writeFailureRecord();
  if (abortOnExit) std::abort();
  std::exit(exitStatusOf(code));
}

void stopThis(int sig) { stop(int32_t(uint32_t(sig) | 0x80000000u)); }

// ---------------------------------------------------------------------------
// Daemon

ProcHandler turnIntoDaemon(ProcHandler fatal, ProcHandler displayError, ProcHandler display) {
  ProcessConfig& c = cfg();
  pid_t child = ::fork();
  if (child < 0) {
    error(libMsg("CANTFORK1ST"));
    return nullptr;
  }
  if (child > 0) stop(0);
  ::setsid();
  c.pid = ::getpid();
  // The standard descriptors are pointed at the null device rather than left
  // closed, so that no file opened later takes their numbers and receives
  // output meant for the terminal.
  int nullFd = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) {
    if (nullFd >= 0 && nullFd != fd)
      ::dup2(nullFd, fd);
    else if (nullFd < 0)
      ::close(fd);
  }
  if (nullFd > 2) ::close(nullFd);
  (void)!::chdir("/");
  // Files the daemon creates are not writable by everyone.
  ::umask(022);
  ProcHandler prev = nullptr;
  if (fatal) prev = fatalErrorHandler(fatal);
  if (displayError) prev = displayErrorHandler(displayError);
  if (display) prev = displayHandler(display);
  return prev;
}
