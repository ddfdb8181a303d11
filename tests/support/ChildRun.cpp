// Forked test bodies: see ChildRun.h.
#include "ChildRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace zftest {

RunResult runInChild(std::function<int()> const& body, int timeoutSec) {
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
  return collectChild(pid, outPipe[0], errPipe[0], -1, "", timeoutSec);
}

}  // namespace zftest
