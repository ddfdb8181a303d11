// Process and user values and the system-error retry policy.
#include <zeph/Proc.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <unistd.h>

#include "TestSupport.h"

namespace {

TEST(SysError, RetriesOnlyInterruptionsAndABoundedNumberOfTimes) {
  zftest::startUpOnce("zephtest-1.0");
  int granted = 0;
  for (int i = 0; i < 20; ++i) {
    errno = EINTR;
    if (!_SysError("test")) break;
    ++granted;
  }
  EXPECT_EQ(granted, ZEPH_SYSERR_RETRIES);
  errno = ENOENT;
  EXPECT_EQ(_SysError("test"), 0);
}


TEST(ProcessValues, MatchTheProcess) {
  zftest::startUpOnce("zephtest-1.0");
  EXPECT_EQ(ProcPid(), int32_t(getpid()));
  EXPECT_EQ(ProcUserId(), int32_t(getuid()));
  ASSERT_NE(ProcArgs(), nullptr);
  EXPECT_NE(ProcArgs()[0], nullptr);
  EXPECT_STREQ(UserName(0), "root");
  EXPECT_STREQ(GroupName(0), "root");
  EXPECT_STREQ(UserName(-5), "");
  EXPECT_GT(ProcStartDate(), 14000);  // days from 1 January 1984
  EXPECT_GE(ProcStartTime(), 0);
  EXPECT_LT(ProcStartTime(), 86400);
}

TEST(ProcessValues, InterruptsAndConversionHandler) {
  zftest::startUpOnce("zephtest-1.0");
  static volatile sig_atomic_t got = 0;
  struct sigaction mine{};
  mine.sa_handler = [](int) { got = 1; };
  struct sigaction before{};
  sigaction(SIGINT, &mine, &before);
  EXPECT_EQ(EnableInterrupts(1), 0);
  raise(SIGINT);
  EXPECT_EQ(got, 0);  // held off
  EXPECT_EQ(EnableInterrupts(0), 1);
  EXPECT_EQ(got, 1);  // delivered at the end of the hold
  sigaction(SIGINT, &before, nullptr);
  static std::string seen;
  ZephConvHandler old = _SetConvHandler([](char const* key, char const* detail) { seen = std::string(key) + ":" + detail; });
  _ConvHandler("IO_NOT_OBJECT", "f");
  EXPECT_EQ(seen, "IO_NOT_OBJECT:f");
  EXPECT_NE(_SetConvHandler(old), nullptr);
}

}  // namespace
