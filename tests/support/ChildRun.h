// Runs a piece of a test in a forked child process, for code that may run
// only once per process (start-up) or that ends the process (stop, fatal
// reports, signals), or that must be another process (a lock holder, a peer
// on a socket). The child's standard output and error are collected; its
// standard input is the null device.
//
// A child started with startChild runs beside the parent: Running until the
// parent waits for it (wait) or ends it (stop, or the handle's destruction),
// then Reaped. A handle never outlives its child unreaped, and the child
// never outlives the test process.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>

#include "TestSupport.h"

namespace zftest {

// Forks; the child runs `body` and exits with its result (unless `body`
// ends the process itself). Returns the child's status and output as
// runProgram does; a child still running after `timeoutSec` is killed.
RunResult runInChild(std::function<int()> const& body, int timeoutSec = 60);

// Forks a child that runs `body` with no pipes of its own, for a child
// started where no descriptor can be spared (under a low descriptor limit);
// waits for it and returns its exit status (128 + signal number when killed).
// Its output goes where the caller's goes; it is killed after `timeoutSec`.
int statusOfChild(std::function<int()> const& body, int timeoutSec = 60);

// A child running beside the parent; move-only. Destroying a handle whose
// child was not waited for ends the child by its id and reaps it.
class ChildRun {
public:
  ChildRun() = default;
  ChildRun(ChildRun&& o) noexcept;
  ChildRun& operator=(ChildRun&& o) noexcept;
  ChildRun(ChildRun const&) = delete;
  ChildRun& operator=(ChildRun const&) = delete;
  ~ChildRun();

  // The child's process id; -1 once reaped or for an empty handle.
  pid_t pid() const { return pid_; }
  // Waits for the child to end (killing it after `timeoutSec`) and returns
  // its status and output as runInChild does.
  RunResult wait(int timeoutSec = 60);
  // Kills the child (SIGKILL, by its id), reaps it and returns its status
  // with the output it had written; never waits for processes the child
  // started, which may still hold its output open.
  RunResult stop();
  // Reads the child's standard output up to the end of a line (the newline
  // is not kept) or to the end of the output; waits as long as it takes.
  std::string readLine();

private:
  friend ChildRun startChild(std::function<int()> const& body);
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// Forks a child that runs `body` and exits with its result, and returns at
// once; the parent talks to it through its own pipes or files and later
// waits for it. Its output is read only then, so a child that writes more
// than a pipe holds blocks until the parent waits. The child is killed when the test process dies.
ChildRun startChild(std::function<int()> const& body);

}  // namespace zftest

// Inside a runInChild or startChild body: when `cond` is false, writes "failed: <cond>
// (<file>:<line>)" to standard error and ends the body with 1, so that the
// parent's EXPECT_EQ(0, r.status) << r.err shows which condition failed.
#define ZF_CHILD_CHECK(cond)                                                              \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);         \
      return 1;                                                                           \
    }                                                                                     \
  } while (0)
