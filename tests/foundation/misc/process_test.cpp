// Process start-up and stop: the start-name split, the "!" start-up letters,
// the "@file" argument file, exit statuses, and, in forked children (start-up
// runs once per process and stop ends it), the hooks, the failure record,
// signals, daemonising and the refusal of bad input.
#include <gtest/gtest.h>

#include <zfound/Config.h>
#include <zfound/Environ.h>
#include <zfound/Process.h>
#include <zfound/StartArgs.h>
#include <zfound/StdStreams.h>
#include <zfound/Time.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "TestSupport.h"

using zftest::RunResult;
using zftest::runInChild;
using zftest::TempDir;

namespace {

// A writable argument vector, as main receives it.
struct Args {
  explicit Args(std::vector<std::string> words) : store(std::move(words)) {
    for (auto& w : store) vec.push_back(w.data());
    vec.push_back(nullptr);
    argc = int(store.size());
    argv = vec.data();
  }
  std::vector<std::string> words() const {
    std::vector<std::string> r;
    for (int i = 0; i < argc; ++i) r.push_back(argv[i]);
    return r;
  }
  std::vector<std::string> store;
  std::vector<char*> vec;
  int argc;
  char** argv;
};

// Writes a text to descriptor 1 at once (no buffering to lose at exit).
void say(std::string const& s) { (void)!::write(1, s.data(), s.size()); }

// The arguments that startUp left, one per line.
std::string argLines() {
  std::string r;
  for (int i = 0; i < argCnt(); ++i) r += std::string(toCharPtr(argVal(i))) + "\n";
  return r;
}

}  // namespace

TEST(StartName, SplitsSystemNameAndVersion) {
  struct Case {
    char const* start;
    char const* name;
    char const* version;
    char const* sys;
  };
  Case const cases[] = {
      {"ombrel-1.1.1", "ombrel", "1.1.1", ""},
      {"my-tool", "my-tool", "", ""},
      {"host:/opt/bin/srv-2.0", "srv", "2.0", "host"},
      {"/usr/x/tool", "tool", "", ""},
      {"srv-", "srv-", "", ""},
      {"a-b-3", "a-b", "3", ""},
      {":/bin/x-1", "x", "1", ""},
      {"host:", "host:", "", ""},
      {"", "", "", ""},
  };
  for (Case const& c : cases) {
    StartName s = splitStartName(c.start);
    EXPECT_EQ(s.name, c.name) << c.start;
    EXPECT_EQ(s.version, c.version) << c.start;
    EXPECT_EQ(s.sysName, c.sys) << c.start;
  }
}

TEST(StartLetters, ConsumesLeadingGroups) {
  struct Case {
    std::vector<std::string> in;
    std::vector<std::string> out;
    bool add, del, upd, counts;
    std::string tty;
    std::vector<std::string> env;
  };
  Case const cases[] = {
      {{"prog", "!ad", "-x"}, {"prog", "-x"}, false, false, true, false, "", {}},
      {{"prog", "!E", "/tmp/my.env", "file"}, {"prog", "file"}, true, true, true, false, "", {"/tmp/my.env"}},
      {{"prog", "!E/tmp/my.env", "file"}, {"prog", "file"}, true, true, true, false, "", {"/tmp/my.env"}},
      {{"prog", "!"}, {"prog"}, true, true, true, false, "", {}},
      {{"prog", "!uT", "pts/3", "x"}, {"prog", "x"}, true, true, false, false, "pts/3", {}},
      {{"prog", "!Ttty9u", "x"}, {"prog", "x"}, true, true, true, false, "tty9u", {}},
      {{"prog", "!m", "!I", "x"}, {"prog", "x"}, false, true, true, true, "", {}},
      {{"prog", "!zq?", "x"}, {"prog", "x"}, true, true, true, false, "", {}},
      {{"prog", "x", "!a"}, {"prog", "x", "!a"}, true, true, true, false, "", {}},
      {{"prog", "!E"}, {"prog"}, true, true, true, false, "", {""}},
      {{"prog"}, {"prog"}, true, true, true, false, "", {}},
  };
  for (Case const& c : cases) {
    Args a(c.in);
    StartLetters l = consumeStartLetters(a.argc, a.argv);
    std::string trace = c.in.size() > 1 ? c.in[1] : c.in[0];
    EXPECT_EQ(a.words(), c.out) << trace;
    EXPECT_EQ(a.argv[a.argc], nullptr) << trace;
    EXPECT_EQ(l.addPerm, c.add) << trace;
    EXPECT_EQ(l.delPerm, c.del) << trace;
    EXPECT_EQ(l.updatePerm, c.upd) << trace;
    EXPECT_EQ(l.msgCounts, c.counts) << trace;
    EXPECT_EQ(l.tty, c.tty) << trace;
    EXPECT_EQ(l.envFiles, c.env) << trace;
  }
}

TEST(ArgFile, WordsAndQuotedWords) {
  TempDir dir;
  struct Case {
    std::string text;
    std::vector<std::string> words;
  };
  Case const cases[] = {
      {"one \"two words\"\n", {"prog", "one", "two words"}},
      {"  a\tb\n\nc  ", {"prog", "a", "b", "c"}},
      {"\"unterminated rest", {"prog", "unterminated rest"}},
      {"\"\" x", {"prog", "", "x"}},
      {"", {"prog"}},
      {"\n \t\n", {"prog"}},
  };
  char prog[] = "prog";
  for (Case const& c : cases) {
    std::string path = dir.write("args", c.text);
    std::vector<char> text;
    std::vector<char*> vec;
    int n = readArgFile(path.c_str(), prog, text, vec);
    ASSERT_EQ(n, int(c.words.size())) << c.text;
    ASSERT_EQ(vec.size(), c.words.size() + 1);
    EXPECT_EQ(vec.back(), nullptr);
    for (size_t i = 0; i < c.words.size(); ++i) EXPECT_EQ(vec[i], c.words[i]) << c.text;
  }
  std::vector<char> text;
  std::vector<char*> vec;
  EXPECT_EQ(readArgFile(dir.file("missing").c_str(), prog, text, vec), -1);
  EXPECT_EQ(readArgFile(dir.path().c_str(), prog, text, vec), -1);  // a directory
}

TEST(StopCode, ExitStatusIsTheLowByteAndNeverZeroWhenAbnormal) {
  struct Case {
    int32_t code;
    int status;
  };
  Case const cases[] = {
      {0, 0},           {3, 3},           {300, 44},         {256, 0},   {-1, 255},
      {INT32_MIN, 1},   {int32_t(0x80000000u | 15u), 15}, {-256, 1},  {-2, 254},
  };
  for (Case const& c : cases) EXPECT_EQ(exitStatusOf(c.code), c.status) << c.code;
}

// --- start-up and stop in a child process ----------------------------------

TEST(StartUp, RecordsNameLettersEnvironmentAndArgumentFile) {
  TempDir dir;
  std::string env = dir.write("my.env", "ZF_T_ONE=first\nZF_T_TWO=$ZF_T_ONE/second\n# comment\n");
  std::string argFile = dir.write("args", "one \"two words\"");
  RunResult r = runInChild([&] {
    Args a({"/opt/bin/prog", "!aE" + env, "!Mtpts/7", "@" + argFile, "more"});
    startUp(String("host:/opt/bin/prog-3.2"), a.argc, a.argv);
    say("name=" + std::string(toCharPtr(appName())) + " version=" + toCharPtr(appVersion()) +
        " sys=" + toCharPtr(sysName()) + "\n");
    say(std::string("perm=") + (procAddPerm() ? "a" : "-") + (procDelPerm() ? "d" : "-") +
        (procUpdatePerm() ? "u" : "-") + (procMsgCounts() ? " counts" : "") + " tty=" +
        toCharPtr(procTty()) + "\n");
    say(std::string("env=") + (getenv("ZF_T_TWO") ? getenv("ZF_T_TWO") : "unset") + "\n");
    say("argc=" + std::to_string(a.argc) + " same=" + (a.argv == argRefVal() ? "yes" : "no") + "\n");
    say(argLines());
    bool bounds = argVal(-1).isNull() && argVal(argCnt()).isNull();
    say(std::string("bounds=") + (bounds ? "ok" : "bad") + " pid=" +
        (procPid() == getpid() ? "ok" : "bad") + " uid=" + (procUserId() == geteuid() ? "ok" : "bad") +
        " init=" + (procInitTime().isNull() ? "null" : "set") + "\n");
    // Only the first call does anything.
    Args b({"other", "!d"});
    startUp(String("other-9"), b.argc, b.argv);
    say("again=" + std::string(toCharPtr(appName())) + " argc=" + std::to_string(b.argc) + "\n");
    stop(0);
    return 99;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "name=prog version=3.2 sys=host\n"
            "perm=-du counts tty=pts/7\n"
            "env=first/second\n"
            "argc=3 same=yes\n"
            "/opt/bin/prog\none\ntwo words\n"
            "bounds=ok pid=ok uid=ok init=set\n"
            "again=prog argc=2\n");
}

TEST(StartUp, IdsAreKeptWhole) {
  RunResult r = runInChild([] {
    Args a({"prog"});
    startUp(String("prog"), a.argc, a.argv);
    setProcUserId(uid_t(100000));
    setProcUserGid(gid_t(70000));
    return procUserId() == uid_t(100000) && procUserGid() == gid_t(70000) ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0);
}

namespace {
void hookA() { say("A "); }
void hookB() { say("B "); }
void abnormalHook() { say("abnormal "); }
void reentrantHook() {
  say("reenter ");
  stop(9);  // returns at once: a stop is already under way
  say("back ");
}
}  // namespace

TEST(Stop, HooksRunOnceNewestFirst) {
  struct Case {
    int32_t code;
    char const* out;
    int status;
  };
  Case const cases[] = {
      {3, "B A ", 3},
      {300, "B A ", 44},
      {-1, "abnormal B A ", 255},
      {INT32_MIN, "abnormal B A ", 1},
  };
  for (Case const& c : cases) {
    RunResult r = runInChild([&] {
      Args a({"prog"});
      startUp(String("prog"), a.argc, a.argv);
      onStop(hookA);
      onStop(hookB);
      onStop(hookA);  // already registered: not added again
      onAbnormalStop(abnormalHook);
      stop(c.code);
      say("returned");
      return 77;
    });
    EXPECT_EQ(r.out, c.out) << c.code;
    EXPECT_EQ(r.status, c.status) << c.code;
  }
}

TEST(Stop, StopFromAHookReturnsAndTheFirstCodeStands) {
  RunResult r = runInChild([] {
    Args a({"prog"});
    startUp(String("prog"), a.argc, a.argv);
    onStop(reentrantHook);
    stop(3);
    return 77;
  });
  EXPECT_EQ(r.out, "reenter back ");
  EXPECT_EQ(r.status, 3);
}

TEST(Stop, PendingStandardStreamOutputIsFlushed) {
  for (int32_t code : {0, -1}) {
    RunResult r = runInChild([code] {
      Args a({"prog"});
      startUp(String("prog"), a.argc, a.argv);
      stdOut << "to out";
      stdErr << "to err";
      stop(code);
      return 0;
    });
    EXPECT_EQ(r.out, "to out") << code;
    EXPECT_EQ(r.err, "to err") << code;
  }
}

TEST(Stop, AbnormalStopWritesTheFailureRecord) {
  TempDir dir;
  ::mkdir(dir.file("adm").c_str(), 0777);
  auto abnormalEnd = [&](bool withPfa) {
    return runInChild([&, withPfa] {
      ::setenv("ZEPHRA", dir.path().c_str(), 1);
      if (withPfa)
        ::setenv("PFA", "srv", 1);
      else
        ::unsetenv("PFA");
      ::umask(0);  // the record must not become world-writable even so
      Args a({"/bin/srv-prog", "x"});
      startUp(String("srv"), a.argc, a.argv);
      say(std::to_string(getpid()));
      stop(-1);
      return 0;
    });
  };
  RunResult none = abnormalEnd(false);
  EXPECT_EQ(none.status, 255);
  EXPECT_NE(::access(dir.file("adm/srv.pfa").c_str(), F_OK), 0);

  RunResult first = abnormalEnd(true);
  RunResult second = abnormalEnd(true);
  EXPECT_EQ(first.status, 255);
  std::string text = zftest::readFile(dir.file("adm/srv.pfa"));
  size_t nl = text.find('\n');
  ASSERT_NE(nl, std::string::npos);
  EXPECT_EQ(text.size(), text.find('\n', nl + 1) + 1) << "two lines expected: " << text;
  // start date, start time, stop time, pid, argv[0], signal, user, terminal
  std::vector<std::string> fields;
  std::string line = text.substr(0, nl);
  for (size_t p = 0;;) {
    size_t t = line.find('\t', p);
    fields.push_back(line.substr(p, t == std::string::npos ? std::string::npos : t - p));
    if (t == std::string::npos) break;
    p = t + 1;
  }
  ASSERT_EQ(fields.size(), 8u) << line;
  EXPECT_EQ(fields[3], first.out);
  EXPECT_EQ(fields[4], "/bin/srv-prog");
  EXPECT_EQ(fields[5], "0");
  EXPECT_FALSE(fields[6].empty());
  struct stat st;
  ASSERT_EQ(::stat(dir.file("adm/srv.pfa").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0002, 0u);
  EXPECT_NE(second.out, first.out);
}

namespace {
// Starts up with DATADIR extended by `dir` and runs `then`; for the tests
// of signals and bad input.
RunResult startThen(std::vector<std::string> args, std::function<void()> then,
                    std::string const& extraDataDir = "") {
  return runInChild([=] {
    if (!extraDataDir.empty()) {
      char const* old = getenv("DATADIR");
      std::string path = extraDataDir + (old ? ":" + std::string(old) : "");
      ::setenv("DATADIR", path.c_str(), 1);
    }
    Args a(args);
    startUp(String("prog"), a.argc, a.argv);
    onAbnormalStop(abnormalHook);
    then();
    say("went on ");
    stop(0);
    return 0;
  });
}
}  // namespace

TEST(Signals, TerminationInterruptAndFatalSignals) {
  RunResult term = startThen({"prog"}, [] { ::raise(SIGTERM); });
  EXPECT_EQ(term.out, "abnormal ");
  EXPECT_EQ(term.status, SIGTERM);

  RunResult intr = startThen({"prog"}, [] { ::raise(SIGINT); });
  EXPECT_EQ(intr.out, "abnormal ");
  EXPECT_EQ(intr.status, SIGINT);

  // Signals that are ignored: hang-up, user signals, alarm.
  RunResult ignored = startThen({"prog"}, [] {
    ::raise(SIGHUP);
    ::raise(SIGUSR1);
    ::raise(SIGALRM);
  });
  EXPECT_EQ(ignored.out, "went on ");
  EXPECT_EQ(ignored.status, 0);

  // A fatal signal: the report names the program and the signal, the
  // abnormal hooks run, and the process ends with abort().
  RunResult segv = startThen({"prog"}, [] { ::raise(SIGSEGV); });
  EXPECT_EQ(segv.out, "abnormal ");
  EXPECT_TRUE(segv.signalled);
  EXPECT_EQ(segv.status, 128 + SIGABRT);
  EXPECT_NE(segv.err.find("prog"), std::string::npos) << segv.err;
  EXPECT_NE(segv.err.find("11"), std::string::npos) << segv.err;

  // A broken pipe is a fatal report.
  RunResult pipeEnd = startThen({"prog"}, [] {
    int p[2];
    if (::pipe(p) != 0) return;
    ::close(p[0]);
    (void)!::write(p[1], "x", 1);
  });
  EXPECT_EQ(pipeEnd.out, "abnormal ");
  EXPECT_EQ(pipeEnd.status, 1);
  EXPECT_NE(pipeEnd.err.find("prog"), std::string::npos) << pipeEnd.err;
}

// A process whose real and effective users differ keeps its real user when a
// fatal signal ends it: the handler gives nobody the effective user's rights.
TEST(Signals, FatalSignalKeepsTheRealUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to change its real user id";
  RunResult r = runInChild([] {
    if (::setresuid(4321, 0, 0) != 0) return 3;
    Args a({"prog"});
    startUp(String("prog"), a.argc, a.argv);
    onAbnormalStop([] { say("real=" + std::to_string(::getuid())); });
    ::raise(SIGSEGV);
    return 0;
  });
  EXPECT_TRUE(r.signalled) << r.err;
  EXPECT_EQ(r.out, "real=4321");
}

TEST(Signals, InterruptIgnoredAtStartStaysIgnored) {
  RunResult r = runInChild([] {
    ::signal(SIGINT, SIG_IGN);
    Args a({"prog"});
    startUp(String("prog"), a.argc, a.argv);
    ::raise(SIGINT);
    say("went on");
    stop(0);
    return 1;
  });
  EXPECT_EQ(r.out, "went on");
  EXPECT_EQ(r.status, 0);
}

TEST(StartUp, BadInputIsAClearErrorAndAnAbnormalEnd) {
  TempDir dir;
  std::string longLine = "X=" + std::string(3000, 'v') + "\n";
  std::string longEnv = dir.write("long.env", "GOOD=1\n" + longLine);
  std::string longName = dir.write("name.env", "A=$" + std::string(40, 'N') + "\n");
  dir.write("bad/english/config", ".\n.\n");
  struct Case {
    std::vector<std::string> args;
    std::string dataDir;
    std::string mention;  // what the error text must name
  };
  Case const cases[] = {
      {{"prog", "@" + dir.file("missing")}, "", dir.file("missing")},
      {{"prog", "@" + dir.path()}, "", dir.path()},
      {{"prog", "!E" + dir.file("none.env")}, "", dir.file("none.env")},
      {{"prog", "!E", longEnv}, "", longEnv},
      {{"prog", "!E", longName}, "", longName},
      {{"prog"}, dir.file("bad"), dir.file("bad/english/config")},
  };
  for (Case const& c : cases) {
    RunResult r = startThen(c.args, [] {}, c.dataDir);
    EXPECT_EQ(r.status, 1) << c.mention << "\n" << r.err;
    EXPECT_FALSE(r.signalled);
    EXPECT_EQ(r.out, "") << c.mention;  // start-up never finished
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Message not found"), std::string::npos) << r.err;
  }
}

TEST(Daemon, ParentStopsAndChildDetaches) {
  TempDir dir;
  std::string report = dir.file("daemon");
  RunResult r = runInChild([&] {
    Args a({"prog"});
    startUp(String("prog"), a.argc, a.argv);
    onStop(hookA);
    turnIntoDaemon(nullptr, nullptr, nullptr);
    // Only the detached child gets here.
    char cwd[8] = {};
    bool inRoot = ::getcwd(cwd, sizeof cwd) && std::strcmp(cwd, "/") == 0;
    struct stat null0, devNull;
    bool nullIn = ::fstat(0, &null0) == 0 && ::stat("/dev/null", &devNull) == 0 &&
                  null0.st_rdev == devNull.st_rdev;
    mode_t mask = ::umask(022);
    std::string text = std::string(getsid(0) == getpid() ? "session " : "no-session ") +
                       (procPid() == getpid() ? "pid " : "old-pid ") + (inRoot ? "root " : "cwd ") +
                       (nullIn ? "null " : "fd0 ") + (mask == 0 ? "umask0" : "umask");
    std::string tmp = report + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
    ::rename(tmp.c_str(), report.c_str());
    stop(0);
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "A ");  // the parent's stop hook
  // The child ends on its own; wait (bounded) for its report.
  for (int i = 0; i < 200 && ::access(report.c_str(), F_OK) != 0; ++i) ::usleep(50000);
  EXPECT_EQ(zftest::readFile(report), "session pid root null umask");
}

// Accessors refuse to run before startUp: checked in a fresh process (this
// test program run again with only this test selected).
TEST(ProcessFresh, AccessorsBeforeStartUp) {
  if (char const* which = getenv("ZF_FRESH_ACCESSOR")) {
    if (std::strcmp(which, "argCnt") == 0) argCnt();
    if (std::strcmp(which, "appName") == 0) appName();
    if (std::strcmp(which, "decPoint") == 0) decPoint();
    if (std::strcmp(which, "monthName") == 0) monthName(0);
    _exit(0);
  }
  for (char const* which : {"argCnt", "appName", "decPoint", "monthName"}) {
    RunResult r = zftest::runProgram({"/proc/self/exe", "--gtest_filter=ProcessFresh.AccessorsBeforeStartUp"},
                                     "", {{"ZF_FRESH_ACCESSOR", which}});
    EXPECT_EQ(r.status, 1) << which;
    EXPECT_NE(r.err.find("startUp function must be called.\n"), std::string::npos) << which << r.err;
  }
}
