// User accounts from private account and group files: look-ups by id, by
// name and by process owner, unknown users, missing groups, odd lines.
#include <gtest/gtest.h>

#include <zfound/UserInfo.h>

#include "TestSupport.h"

#include <unistd.h>

#include <string>

namespace {

class PasswordTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string uid = std::to_string(getuid());
    passwd_ = dir_.write("passwd",
                         "root:x:0:0:root:/root:/bin/bash\n"
                         "broken line without fields\n"
                         "ann:x:1001:500:Ann A:/home/ann:/bin/sh\n"
                         "big:x:4000000000:4000000001:Big:/home/big:/bin/zsh\n"
                         "nogrp:x:1002:777::/home/nogrp:/bin/sh\n"
                         + (getuid() == 0 ? std::string() : "me:x:" + uid + ":500::/home/me:/bin/sh\n") +
                         "short:x:1003");
    group_ = dir_.write("group",
                        "root:x:0:\n"
                        "staff:x:500:ann\n"
                        "huge:x:4000000001:\n");
    Password::TEST_setAccountFiles(passwd_.c_str(), group_.c_str());
  }
  void TearDown() override { Password::TEST_setAccountFiles(nullptr, nullptr); }

  zftest::TempDir dir_;
  std::string passwd_, group_;
};

TEST_F(PasswordTest, ByUserId) {
  Password p(int64_t(1001));
  EXPECT_TRUE(bool(p));
  EXPECT_EQ(p.userId(), 1001);
  EXPECT_EQ(p.groupId(), 500);
  EXPECT_EQ(p.userName(), "ann");
  EXPECT_EQ(p.groupName(), "staff");
  EXPECT_EQ(p.homeDir(), "/home/ann");
  EXPECT_EQ(p.loginShell(), "/bin/sh");

  Password copy = p;
  EXPECT_EQ(copy.userName(), "ann");
  EXPECT_EQ(copy.groupName(), "staff");
}

TEST_F(PasswordTest, IdsAreKeptWhole) {
  Password p(int64_t(4000000000LL));
  EXPECT_EQ(p.userName(), "big");
  EXPECT_EQ(p.groupId(), 4000000001LL);
  EXPECT_EQ(p.groupName(), "huge");
  EXPECT_EQ(Password(String("big")).userId(), 4000000000LL);
}

TEST_F(PasswordTest, ByNameAndByProcess) {
  Password p(String("root"));
  EXPECT_TRUE(bool(p));
  EXPECT_EQ(p.userId(), 0);
  EXPECT_EQ(p.groupName(), "root");
  EXPECT_EQ(p.loginShell(), "/bin/bash");

  Password me;
  EXPECT_EQ(me.userId(), int64_t(getuid()));
  EXPECT_EQ(me.userName(), getuid() == 0 ? "root" : "me");

  EXPECT_EQ(uidFromPid(getpid()), int64_t(geteuid()));
  Password owner(int64_t(getpid()), 0);
  EXPECT_EQ(owner.userId(), int64_t(geteuid()));
}

TEST_F(PasswordTest, UnknownUsersTestFalse) {
  Password byId(int64_t(4242));
  EXPECT_FALSE(bool(byId));
  EXPECT_TRUE(!byId);
  EXPECT_EQ(byId.userId(), -1);
  EXPECT_EQ(byId.groupId(), -1);
  EXPECT_TRUE(byId.userName().isNull());
  EXPECT_TRUE(byId.groupName().isNull());

  Password byName(String("nobody-here"));
  EXPECT_FALSE(bool(byName));
  EXPECT_EQ(byName.groupId(), -1);

  EXPECT_FALSE(bool(Password(String())));
  EXPECT_FALSE(bool(Password(int64_t(-5))));
  EXPECT_EQ(uidFromPid(-1), -1);
  EXPECT_EQ(uidFromPid(int64_t(1) << 40), -1);
  EXPECT_FALSE(bool(Password(int64_t(1) << 40, 0)));
}

TEST_F(PasswordTest, MissingGroupAndShortLines) {
  Password p(int64_t(1002));
  EXPECT_TRUE(bool(p));
  EXPECT_EQ(p.groupId(), 777);
  EXPECT_TRUE(p.groupName().isNull());

  Password s(String("short"));
  EXPECT_EQ(s.userId(), 1003);
  EXPECT_EQ(s.groupId(), -1);
  EXPECT_TRUE(s.homeDir().isNull());

  Password::TEST_setAccountFiles(dir_.file("absent").c_str(), group_.c_str());
  EXPECT_FALSE(bool(Password(int64_t(0))));
}

}  // namespace
