// Process values and the start of a local service: the record a client sends
// at connect, the lookup and split of a service's command, the start of its
// program and the ready signal.
//
// execProcess blocks SIGUSR1 and SIGCHLD before it forks and takes them with
// sigtimedwait, so a ready signal sent before the parent waits stays pending
// instead of being lost; only a SIGUSR1 sent by the started child counts. A
// child that ends is reaped; one that is not ready in time is killed and
// reaped.
#include <zfound/ProcValues.h>

#include <zfound/OsServ.h>
#include <zfound/Process.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <vector>

int processSig = -1;

namespace {

struct PValues {
  int32_t version;
  String node, program, args, tty;
};
PValues* pvalues = nullptr;

}  // namespace

void setProcessValues(int32_t version, String const& node, String const& program, String const& args,
                      String const& tty) {
  if (!pvalues) pvalues = new PValues;
  pvalues->version = version;
  pvalues->node = node;
  pvalues->program = program;
  pvalues->args = args;
  pvalues->tty = tty;
}

void getProcessValues(int32_t& version, String& node, String& program, String& args, String& tty) {
  if (!pvalues) {
    struct utsname u {};
    String n = uname(&u) == 0 ? String(u.nodename) : String("Node name ERROR");
    String prog, a;
    if (startUpDone()) {
      prog = argVal(0);
      a = joinProcessArgs(argCnt(), procArgs());
    }
    char const* t = ttyname(0);
    setProcessValues(PROC_VERSION_WORD, n, prog, a, t ? String(t) : String());
  }
  version = pvalues->version;
  node = pvalues->node;
  program = pvalues->program;
  args = pvalues->args;
  tty = pvalues->tty;
}

String joinProcessArgs(int argc, char const* const* argv) {
  String a;
  for (int i = 1; i < argc && argv && argv[i]; ++i) {
    if (a.length() > 70) break;
    if (i > 1) a += " ";
    a += argv[i];
  }
  return a;
}

void setProcSignal(int sig) { processSig = sig; }

void processReady() { kill(getppid(), SIGUSR1); }

pid_t execProcess(char const** argv) { return execProcess(argv, EXEC_READY_SECONDS); }

pid_t execProcess(char const** argv, int32_t seconds) {
  processSig = -1;
  if (!argv || !argv[0]) return -1;
  sigset_t wanted, old;
  sigemptyset(&wanted);
  sigaddset(&wanted, SIGUSR1);
  sigaddset(&wanted, SIGCHLD);
  sigprocmask(SIG_BLOCK, &wanted, &old);
  // A child's end must raise SIGCHLD and leave a status to reap.
  SigHandler oldUsr1 = Signal(SIGUSR1, setProcSignal);
  SigHandler oldChld = Signal(SIGCHLD, SIG_DFL);
  auto restore = [&] {
    Signal(SIGUSR1, oldUsr1 == SIG_ERR ? SIG_DFL : oldUsr1);
    Signal(SIGCHLD, oldChld == SIG_ERR ? SIG_DFL : oldChld);
    sigprocmask(SIG_SETMASK, &old, nullptr);
  };

  pid_t child = fork();
  if (child < 0) {
    restore();
    return -1;
  }
  if (child == 0) {
    sigprocmask(SIG_SETMASK, &old, nullptr);
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }

  pid_t result = -1;
  timespec deadline {};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += seconds;
  for (;;) {
    int st = 0;
    if (waitpid(child, &st, WNOHANG) == child) {
      child = -1;  // ended: nothing left to kill
      break;
    }
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec)) {
      processSig = SIGALRM;
      break;
    }
    // Short slices: a missed SIGCHLD only delays the check by one slice.
    timespec slice {1, 0};
    siginfo_t info {};
    int sig = sigtimedwait(&wanted, &info, &slice);
    if (sig == SIGUSR1) {
      if (info.si_pid != child) continue;  // not from the program we started
      setProcSignal(sig);
      result = child;
      break;
    }
  }
  if (result < 0 && child > 0) {
    kill(child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  restore();
  return result;
}

void getCmdByService(String& cmd, String const& service) { getCmdByService(cmd, service, INETD_CONF); }

void getCmdByService(String& cmd, String const& service, char const* file) {
  cmd = String();
  FILE* f = std::fopen(file, "r");
  if (!f) return;
  char line[2048];
  while (std::fgets(line, sizeof line, f)) {
    size_t n = std::strlen(line);
    if (n > 0) line[n - 1] = '\0';  // the newline
    String text(line);
    text.fullTrim();
    if (text.isNull() || text.length() == 0 || toCharPtr(text)[0] == '#') continue;
    // Fields separated by single blanks (or tabs).
    std::vector<String> fields;
    char const* p = toCharPtr(text);
    char const* start = p;
    for (;; ++p) {
      if (*p == ' ' || *p == '\t' || *p == '\0') {
        fields.emplace_back(start, long(p - start));
        if (*p == '\0') break;
        start = p + 1;
      }
    }
    if (fields.empty() || !(fields[0] == service)) continue;
    if (fields.size() < 6) break;
    String c = fields[5];
    for (size_t i = 7; i < fields.size() && fields[i].length() > 0; ++i) {
      c += " ";
      c += fields[i];
    }
    cmd = c;
    break;
  }
  std::fclose(f);
}

int cmdLineToArgv(String const& line, char const** argv, int max) {
  if (max < 1) return 0;
  String t = line;
  t.fullTrim();
  char const* src = toCharPtr(t);
  size_t len = std::strlen(src);
  // The vector points into the copy, which is kept for the life of the process.
  static std::vector<std::unique_ptr<char[]>> copies;
  copies.emplace_back(new char[len + 1]);
  char* copy = copies.back().get();
  std::memcpy(copy, src, len + 1);
  int n = 0;
  char* p = copy;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (*p && n < max - 1) {
    while (blank(*p)) ++p;
    if (!*p) break;
    if (n > 0 && (*p == '"' || *p == '\'')) {
      char q = *p++;
      argv[n++] = p;
      while (*p && *p != q) ++p;
      if (*p) *p++ = '\0';
    } else {
      argv[n++] = p;
      while (*p && !blank(*p)) ++p;
      if (*p) *p++ = '\0';
    }
  }
  argv[n] = nullptr;
  return n;
}
