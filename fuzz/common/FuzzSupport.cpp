// The shared harness pieces: private start-up, the fatal-report guard and the
// input reader.
#include "FuzzSupport.h"

#include <zfound/Expr.h>
#include <zfound/Message.h>
#include <zfound/Process.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

// A harness that ends an input early through a fatal report leaves that
// input's objects behind on purpose: leaks are not what the fuzzing looks for.
extern "C" char const* __asan_default_options() { return "detect_leaks=0"; }

namespace zffuzz {

namespace {

std::jmp_buf* current = nullptr;

int onFatal(int, char const*, char const* text) {
  if (current == nullptr) {
    std::fprintf(stderr, "zffuzz: fatal report outside a guarded run: %s\n", text ? text : "(no text)");
    std::abort();
  }
  std::longjmp(*current, 1);
}

[[noreturn]] void failedCheck(char const* what, char const* expr, char const* file, int line) {
  std::fprintf(stderr, "zffuzz: %s (%s) at %s:%d\n", what, expr ? expr : "", file ? file : "?", line);
  std::abort();
}

int quiet(int, char const*, char const*) { return 0; }

std::string dir;

void removeDir() {
  std::error_code ec;
  if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

}  // namespace

// The failed checks are linked to these (the harnesses link with --wrap), so
// that they are told from the fatal reports that refuse outside data without
// looking at a text, which the input may have chosen.
extern "C" {
void __wrap__assert(char const* expr, char const* file, int line) { failedCheck("Assertion failed", expr, file, line); }
void __wrap__precond(char const* expr, char const* file, int line) {
  failedCheck("Precondition failed", expr, file, line);
}
void __wrap__postcond(char const* expr, char const* file, int line) {
  failedCheck("Postcondition failed", expr, file, line);
}
void __wrap__abnormal(char const* file, int line) { failedCheck("Invalid address reached", "", file, line); }
}

std::string const& init() {
  if (!dir.empty()) return dir;
  char const* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zffuzz-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    std::perror("zffuzz: mkdtemp");
    std::abort();
  }
  dir = buf.data();
  std::atexit(removeDir);
  std::filesystem::create_directories(dir + "/data/english");
  std::filesystem::create_directories(dir + "/servers");
  std::filesystem::create_directories(dir + "/tmp");
  ::setenv("DATADIR", (dir + "/data").c_str(), 1);
  ::setenv("LANGUAGE", "english", 1);
  ::setenv("OMBREL", dir.c_str(), 1);
  ::setenv("HOME", dir.c_str(), 1);
  ::setenv("TMPDIR", (dir + "/tmp").c_str(), 1);

  // Start-up installs handlers of its own for the crash signals; the
  // sanitizers' and the fuzzer's are put back after it.
  int const kept[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGINT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2,
                      SIGPIPE};
  struct sigaction saved[sizeof kept / sizeof kept[0]];
  for (size_t i = 0; i < sizeof kept / sizeof kept[0]; ++i) sigaction(kept[i], nullptr, &saved[i]);
  static char arg0[] = "zffuzz";
  static char* argv0[] = {arg0, nullptr};
  int argc = 1;
  char** argv = argv0;
  startUp("zffuzz-1.0", argc, argv);
  for (size_t i = 0; i < sizeof kept / sizeof kept[0]; ++i) sigaction(kept[i], &saved[i], nullptr);

  fatalErrorHandler(onFatal);
  displayHandler(quiet);
  displayErrorHandler(quiet);
  ariErrorHandler(quiet);
  return dir;
}

namespace {

// The descriptors open now.
std::vector<int> openDescriptors() {
  std::vector<int> fds;
  std::error_code ec;
  for (auto const& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    int fd = std::atoi(e.path().filename().c_str());
    fds.push_back(fd);
  }
  return fds;
}

}  // namespace

bool guarded(std::function<void()> const& body) {
  // A report ends the input without the reader's clean-up: the files it had
  // open are closed here, or a long run would run out of descriptors.
  static std::vector<int> before;
  before = openDescriptors();
  std::jmp_buf here;
  if (setjmp(here) != 0) {
    current = nullptr;
    for (int fd : openDescriptors())
      if (fd > 2 && std::find(before.begin(), before.end(), fd) == before.end()) ::close(fd);
    return false;
  }
  current = &here;
  body();
  current = nullptr;
  return true;
}

std::string writeFile(std::string const& name, void const* data, size_t size) {
  std::string path = init() + "/" + name;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<char const*>(data), std::streamsize(size));
  return path;
}

std::string Input::text(size_t max) {
  size_t n = u8();
  if (n > max) n = max;
  if (n > left()) n = left();
  std::string s(reinterpret_cast<char const*>(p_), n);
  p_ += n;
  return s;
}

std::string Input::rest() {
  std::string s(reinterpret_cast<char const*>(p_), left());
  p_ = end_;
  return s;
}

bool hasLoop(Expr const& e) {
  for (int32_t i = 0; i < e.codeLength(); ++i) {
    uint16_t u = e.code()[i];
    if (u == Instruction::while_inst || u == Instruction::foreach_inst) return true;
    if (u <= Instruction::kLast) i += Instruction::operandUnits(u);
  }
  return false;
}

}  // namespace zffuzz
