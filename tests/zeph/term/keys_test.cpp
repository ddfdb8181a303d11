// Key decoding on a real terminal: the helper program keyecho opens window
// mode on a pseudo-terminal of the test (TERM=xterm) and reports every key
// WiGetc gives; the test types byte sequences into the terminal and compares
// the codes. The same terminal shows that a failed assertion in window mode
// leaves the terminal as it was, with the text written after window mode
// ended.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// One step of typing: bytes, then a pause before the next step.
struct Typed {
  std::string bytes;
  int pauseMs;
  int resizeRows = 0;  // when set, the terminal is resized to this first
  int resizeCols = 0;
};

struct PtyRun {
  std::vector<int> keys;    // the codes keyecho reported
  std::vector<std::string> sizes;  // its "S rows cols" lines
  std::string terminal;     // everything it wrote to the terminal
  int status = -1;          // exit status, 128 + signal when killed
  bool modesKept = false;   // the terminal's settings are as before the run
};

bool sameModes(termios const& a, termios const& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Runs keyecho `mode` on a new pseudo-terminal, types `steps` and then 'q'.
PtyRun runKeyecho(char const* mode, std::vector<Typed> const& steps) {
  PtyRun run;
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return run;
  struct winsize ws {};
  ws.ws_row = 24;
  ws.ws_col = 80;
  ::ioctl(master, TIOCSWINSZ, &ws);
  std::string slave = ::ptsname(master);
  int slaveFd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  termios before {};
  ::tcgetattr(slaveFd, &before);
  int report[2];
  if (::pipe(report) != 0) return run;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    int fd = ::open(slave.c_str(), O_RDWR);
    ::ioctl(fd, TIOCSCTTY, 0);
    ::dup2(fd, 0);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::dup2(report[1], 3);
    ::setenv("TERM", "xterm", 1);
    ::unsetenv("ZEPH_HEADLESS");
    ::execl(ZEPH_KEYECHO, "keyecho", mode, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(report[1]);
  // The terminal's output is collected, so that keyecho never blocks on it.
  std::atomic<bool> done{false};
  std::mutex m;
  std::thread drain([&] {
    char buf[4096];
    for (;;) {
      struct pollfd p {master, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) {
        if (done) break;  // nothing more is pending
        continue;
      }
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(m);
      run.terminal.append(buf, size_t(n));
    }
  });
  char c = 0;
  struct pollfd ready {report[0], POLLIN, 0};
  if (::poll(&ready, 1, 20000) > 0 && ::read(report[0], &c, 1) == 1) {
    for (Typed const& t : steps) {
      if (t.resizeRows) {
        struct winsize nws {};
        nws.ws_row = static_cast<unsigned short>(t.resizeRows);
        nws.ws_col = static_cast<unsigned short>(t.resizeCols);
        ::ioctl(master, TIOCSWINSZ, &nws);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      (void)!::write(master, t.bytes.data(), t.bytes.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(t.pauseMs));
    }
    // An asserting keyecho ends by itself; a 'q' typed then would be echoed
    // into its report once the terminal's modes are given back.
    if (std::strcmp(mode, "assert") != 0) (void)!::write(master, "q", 1);
  }
  std::string out;
  char buf[256];
  for (;;) {
    struct pollfd p {report[0], POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) break;
    ssize_t n = ::read(report[0], buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, size_t(n));
  }
  int status = 0;
  for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  done = true;
  drain.join();
  termios after {};
  ::tcgetattr(slaveFd, &after);
  run.modesKept = sameModes(before, after);
  ::close(slaveFd);
  ::close(report[0]);
  ::close(master);
  size_t at = 0;
  while (at < out.size()) {
    size_t nl = out.find('\n', at);
    if (nl == std::string::npos) break;
    std::string line = out.substr(at, nl - at);
    if (line.rfind("S ", 0) == 0)
      run.sizes.push_back(line.substr(2));
    else
      run.keys.push_back(std::atoi(line.c_str()));
    at = nl + 1;
  }
  if (!run.keys.empty() && run.keys.back() == 'q') run.keys.pop_back();
  return run;
}

TEST(TerminalKeys, ByteSequencesGiveToolkitCodes) {
  struct Case {
    char const* what;
    std::string bytes;
    std::vector<int> codes;
  } const cases[] = {
      {"up", "\x1bOA", {133}},         {"down", "\x1bOB", {135}},      {"right", "\x1bOC", {136}},
      {"left", "\x1bOD", {134}},       {"home", "\x1bOH", {138}},      {"end", "\x1bOF", {140}},
      {"pgup", "\x1b[5~", {137}},      {"pgdn", "\x1b[6~", {139}},     {"ins", "\x1b[2~", {143}},
      {"del", "\x1b[3~", {144}},       {"F1", "\x1bOP", {148}},        {"F2", "\x1bOQ", {147}},
      {"F3", "\x1bOR", {150}},         {"F4", "\x1bOS", {130}},        {"F5", "\x1b[15~", {131}},
      {"F6", "\x1b[17~", {128}},       {"F9", "\x1b[20~", {154}},      {"F10", "\x1b[21~", {155}},
      {"enter", "\r", {132}},          {"tab", "\t", {146}},           {"backspace", "\x7f", {141}},
      {"ctrl-h", "\x08", {141}},       {"ctrl-k", "\x0b", {154}},      {"letter", "a", {'a'}},
      {"latin-1 é", "\xc3\xa9", {0xE9}}, {"beyond latin-1 is not a key", "\xe2\x82\xac", {}},
      {"alt-x", "\x1bx", {155, 'x'}},
  };
  std::vector<Typed> steps;
  std::vector<int> want;
  for (Case const& c : cases) {
    steps.push_back({c.bytes, 30});
    want.insert(want.end(), c.codes.begin(), c.codes.end());
  }
  steps.push_back({"\x1b", 1000});  // Esc alone: nothing follows within 100 ms
  want.push_back(129);
  PtyRun run = runKeyecho("", steps);
  EXPECT_EQ(run.keys, want);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.modesKept);
}

TEST(TerminalKeys, RawModeDeliversCtrlCAndCtrlZ) {
  std::vector<int> want = {3, 26};
  PtyRun run = runKeyecho("raw", {{"\x03", 30}, {"\x1a", 30}});
  EXPECT_EQ(run.keys, want);
  EXPECT_TRUE(run.modesKept);
}

TEST(TerminalKeys, ResizedTerminalResizesTheScreenWindow) {
  PtyRun run = runKeyecho("", {{"s", 100}, {"s", 100, 30, 100}, {"s", 100, 20, 60}});
  std::vector<std::string> want = {"24 80", "30 100", "20 60"};
  EXPECT_EQ(run.sizes, want);
  EXPECT_EQ(run.status, 0);
}

TEST(TerminalKeys, AssertionInWindowModeRestoresTheTerminalFirst) {
  PtyRun run = runKeyecho("assert", {});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.modesKept);
  size_t text = run.terminal.find("keyecho in window mode");
  size_t leave = run.terminal.rfind("\x1b[?1049l");
  ASSERT_NE(text, std::string::npos) << run.terminal;
  ASSERT_NE(leave, std::string::npos);
  EXPECT_GT(text, leave) << "the text comes after the screen was given back";
}

}  // namespace
