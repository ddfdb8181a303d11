// Forked test bodies: see ChildRun.h.
#include "ChildRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <utility>

namespace zftest {

namespace {

// Forks a child running `body` with its output on two pipes; returns the
// child's id and the parent's read ends. A peer is killed when its parent dies.
pid_t forkChild(std::function<int()> const& body, bool peer, int& outFd, int& errFd) {
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (peer) prctl(PR_SET_PDEATHSIG, SIGKILL);
    int nullFd = open("/dev/null", O_RDONLY);
    if (nullFd >= 0) dup2(nullFd, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    // Only descriptors 1 and 2 lead to the pipes, so a process that closes or
    // redirects them (a daemon) lets the parent see the end of the output.
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], nullFd})
      if (fd > 2) close(fd);
    int code = body();
    std::fflush(nullptr);
    _exit(code & 255);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  outFd = outPipe[0];
  errFd = errPipe[0];
  return pid;
}

}  // namespace

RunResult runInChild(std::function<int()> const& body, int timeoutSec) {
  int outFd = -1, errFd = -1;
  pid_t pid = forkChild(body, false, outFd, errFd);
  return collectChild(pid, outFd, errFd, -1, "", timeoutSec);
}

int statusOfChild(std::function<int()> const& body, int timeoutSec) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = body();
    std::fflush(nullptr);
    _exit(code & 255);
  }
  int st = 0;
  time_t deadline = time(nullptr) + timeoutSec;
  for (;;) {
    pid_t w = waitpid(pid, &st, WNOHANG);
    if (w == pid || (w < 0 && errno != EINTR)) break;
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    usleep(10000);
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

ChildRun startChild(std::function<int()> const& body) {
  ChildRun c;
  c.pid_ = forkChild(body, true, c.out_, c.err_);
  return c;
}

ChildRun::ChildRun(ChildRun&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)), out_(std::exchange(o.out_, -1)), err_(std::exchange(o.err_, -1)) {}

ChildRun& ChildRun::operator=(ChildRun&& o) noexcept {
  if (this != &o) {
    if (pid_ > 0) stop();
    pid_ = std::exchange(o.pid_, -1);
    out_ = std::exchange(o.out_, -1);
    err_ = std::exchange(o.err_, -1);
  }
  return *this;
}

ChildRun::~ChildRun() {
  if (pid_ > 0) stop();
}

RunResult ChildRun::wait(int timeoutSec) {
  if (pid_ <= 0) return RunResult();
  RunResult r = collectChild(std::exchange(pid_, -1), std::exchange(out_, -1), std::exchange(err_, -1), -1, "",
                             timeoutSec);
  return r;
}

RunResult ChildRun::stop() {
  RunResult r;
  if (pid_ <= 0) return r;
  kill(pid_, SIGKILL);
  int st = 0;
  while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  r.signalled = WIFSIGNALED(st);
  r.status = r.signalled ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
  // Take what is already in the pipes, then close them.
  for (int* fd : {&out_, &err_}) {
    fcntl(*fd, F_SETFL, fcntl(*fd, F_GETFL) | O_NONBLOCK);
    char buf[4096];
    ssize_t got;
    while ((got = read(*fd, buf, sizeof buf)) > 0) (fd == &out_ ? r.out : r.err).append(buf, size_t(got));
    close(std::exchange(*fd, -1));
  }
  return r;
}

std::string ChildRun::readLine() {
  std::string line;
  char c;
  while (out_ >= 0 && read(out_, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace zftest
