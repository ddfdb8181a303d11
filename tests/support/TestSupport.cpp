// Test helpers: temporary directories, scoped environment, child processes.
#include "TestSupport.h"

#include <zfound/Process.h>
#include <zfound/String.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zftest {

std::string str(String const& s) {
  if (s.isHighest()) return "(high)";
  if (s.isNull()) return std::string();
  return std::string(toCharPtr(s), size_t(s.length()));
}

TempDir::TempDir() {
  char const* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zftest-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(std::string const& name) const { return path_ + "/" + name; }

std::string TempDir::write(std::string const& name, std::string const& text) const {
  std::string p = file(name);
  std::filesystem::create_directories(std::filesystem::path(p).parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
  return p;
}

ScopedEnv::ScopedEnv(std::string name, std::string const& value, bool unset) : name_(std::move(name)) {
  if (char const* old = std::getenv(name_.c_str())) {
    hadOld_ = true;
    old_ = old;
  }
  if (unset)
    ::unsetenv(name_.c_str());
  else
    ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (hadOld_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

std::string readFile(std::string const& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string hexBytes(std::string const& s, size_t from, size_t n) {
  static char const digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = from; i < from + n && i < s.size(); ++i) {
    if (!out.empty())
      out += ' ';
    out += digits[uint8_t(s[i]) >> 4];
    out += digits[uint8_t(s[i]) & 15];
  }
  return out;
}

std::string binPath(std::string const& program) {
  char const* dir = std::getenv("ZF_BIN_DIR");
  return std::string(dir ? dir : ".") + "/" + program;
}

RunResult runProgram(std::vector<std::string> const& argv, std::string const& input,
                     std::map<std::string, std::string> const& env, int timeoutSec) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (auto const& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (auto const& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (input.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  }
  return collectChild(pid, outPipe[0], errPipe[0], inPipe[1], input, timeoutSec);
}

RunResult collectChild(pid_t pid, int outFd, int errFd, int inFd, std::string const& input, int timeoutSec) {
  RunResult r;
  // Feed the input and drain both outputs without deadlocking on full pipes.
  size_t written = 0;
  signal(SIGPIPE, SIG_IGN);
  int fds[3] = {outFd, errFd, inFd};
  time_t deadline = time(nullptr) + timeoutSec;
  bool killed = false;
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd p[3];
    int n = 0;
    int map[3];
    for (int i = 0; i < 3; ++i) {
      if (fds[i] < 0) continue;
      p[n].fd = fds[i];
      p[n].events = i == 2 ? POLLOUT : POLLIN;
      p[n].revents = 0;
      map[n++] = i;
    }
    int rc = poll(p, n, 500);
    if (time(nullptr) > deadline && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (rc <= 0) continue;
    for (int k = 0; k < n; ++k) {
      int i = map[k];
      if (!p[k].revents) continue;
      if (i == 2) {
        ssize_t w = write(fds[2], input.data() + written, input.size() - written);
        if (w > 0) written += size_t(w);
        if (w < 0 || written == input.size()) {
          close(fds[2]);
          fds[2] = -1;
        }
      } else {
        char buf[4096];
        ssize_t got = read(fds[i], buf, sizeof buf);
        if (got > 0) {
          (i == 0 ? r.out : r.err).append(buf, size_t(got));
        } else {
          close(fds[i]);
          fds[i] = -1;
        }
      }
    }
  }
  if (fds[2] >= 0) close(fds[2]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(st)) {
    r.status = WEXITSTATUS(st);
  } else if (WIFSIGNALED(st)) {
    r.signalled = true;
    r.status = 128 + WTERMSIG(st);
  }
  return r;
}

void startUpOnce(char const* name, std::vector<std::string> const& args) {
  if (startUpDone()) return;
  // startUp keeps pointers into argv for the life of the process.
  static std::vector<std::string> words;
  static std::vector<char*> argv;
  std::string prog(name);
  words.assign(1, prog.substr(0, prog.find('-')));
  words.insert(words.end(), args.begin(), args.end());
  argv.clear();
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = int(words.size());
  char** av = argv.data();
  startUp(String(name), argc, av);
}

std::vector<std::string>& shown() {
  static std::vector<std::string> texts;
  return texts;
}

bool wasShown(std::string const& part) {
  for (std::string const& s : shown())
    if (s.find(part) != std::string::npos)
      return true;
  return false;
}

int recordWarning(int, char const*, char const* text) {
  shown().push_back(text ? text : "");
  return 0;
}

}  // namespace zftest
