// Forked test bodies: see ChildRun.h.
#include "ChildRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace zftest {

RunResult runInChild(std::function<int()> const& body, int timeoutSec) {
  RunResult r;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
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
  int fds[2] = {outPipe[0], errPipe[0]};
  time_t deadline = time(nullptr) + timeoutSec;
  bool killed = false;
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd p[2];
    int map[2];
    int n = 0;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0) continue;
      p[n].fd = fds[i];
      p[n].events = POLLIN;
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
      if (!p[k].revents) continue;
      int i = map[k];
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

}  // namespace zftest
