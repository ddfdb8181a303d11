// Key decoding on a real terminal: a child process opens window mode on a
// pseudo-terminal (TERM=xterm) and reports every key WiGetc gives; the test
// types byte sequences into the terminal and compares the codes.
#include <zeph/Wi.h>

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
#include <string>
#include <thread>
#include <vector>

namespace {

// One step of typing: bytes, then a pause before the next step.
struct Typed {
  std::string bytes;
  int pauseMs;
};

// The key codes the layer reads while `steps` are typed; the child stops at
// the key 'q'. `raw` switches Ctrl-C and Ctrl-Z to keys first.
std::vector<int> keysRead(std::vector<Typed> const& steps, bool raw = false) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return {-1};
  struct winsize ws {};
  ws.ws_row = 24;
  ws.ws_col = 80;
  ::ioctl(master, TIOCSWINSZ, &ws);
  std::string slave = ::ptsname(master);
  int report[2];
  if (::pipe(report) != 0) return {-1};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    int fd = ::open(slave.c_str(), O_RDWR);
    ::ioctl(fd, TIOCSCTTY, 0);
    ::dup2(fd, 0);
    ::dup2(fd, 1);
    ::close(master);
    ::close(report[0]);
    ::setenv("TERM", "xterm", 1);
    ::unsetenv("ZEPH_HEADLESS");
    WiConnect(nullptr, nullptr, 0);
    if (raw) WiSetRaw(1);
    (void)!::write(report[1], "R", 1);
    for (;;) {
      int k = WiGetc();
      std::string line = std::to_string(k) + "\n";
      (void)!::write(report[1], line.data(), line.size());
      if (k == 'q') break;
    }
    WiDisconnect();
    ::_exit(0);
  }
  ::close(report[1]);
  // The child's screen output is read and dropped, so that it never blocks.
  std::atomic<bool> done{false};
  std::thread drain([&] {
    char buf[4096];
    while (!done) {
      struct pollfd p {master, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && ::read(master, buf, sizeof buf) <= 0) break;
    }
  });
  char c = 0;
  (void)!::read(report[0], &c, 1);  // ready
  for (Typed const& t : steps) {
    (void)!::write(master, t.bytes.data(), t.bytes.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(t.pauseMs));
  }
  (void)!::write(master, "q", 1);
  std::string out;
  char buf[256];
  for (;;) {
    struct pollfd p {report[0], POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    ssize_t n = ::read(report[0], buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, size_t(n));
  }
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  done = true;
  drain.join();
  ::close(report[0]);
  ::close(master);
  std::vector<int> keys;
  size_t at = 0;
  while (at < out.size()) {
    size_t nl = out.find('\n', at);
    if (nl == std::string::npos) break;
    keys.push_back(std::atoi(out.substr(at, nl - at).c_str()));
    at = nl + 1;
  }
  if (!keys.empty() && keys.back() == 'q') keys.pop_back();
  return keys;
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
  steps.push_back({"\x1b", 400});  // Esc alone: nothing follows within 100 ms
  want.push_back(129);
  EXPECT_EQ(keysRead(steps), want);
}

TEST(TerminalKeys, RawModeDeliversCtrlCAndCtrlZ) {
  std::vector<int> want = {3, 26};
  EXPECT_EQ(keysRead({{"\x03", 30}, {"\x1a", 30}}, true), want);
}

}  // namespace
