// Runs a piece of a test in a forked child process, for code that may run
// only once per process (start-up) or that ends the process (stop, fatal
// reports, signals). The child's standard output and error are collected;
// its standard input is the null device.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "TestSupport.h"

namespace zftest {

// Forks; the child runs `body` and exits with its result (unless `body`
// ends the process itself). Returns the child's status and output as
// runProgram does; a child still running after `timeoutSec` is killed.
RunResult runInChild(std::function<int()> const& body, int timeoutSec = 60);

}  // namespace zftest

// Inside a runInChild body: when `cond` is false, writes "failed: <cond>
// (<file>:<line>)" to standard error and ends the body with 1, so that the
// parent's EXPECT_EQ(0, r.status) << r.err shows which condition failed.
#define ZF_CHILD_CHECK(cond)                                                              \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);         \
      return 1;                                                                           \
    }                                                                                     \
  } while (0)

namespace zftest {

}  // namespace zftest
