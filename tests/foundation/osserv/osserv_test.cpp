// Operating-system services: signals that interrupt blocking calls, account
// look-ups with whole ids, the zone offset across daylight saving, file
// status and removal, exclusive temporary names and the raw terminal mode
// on a pseudo-terminal.
#include <gtest/gtest.h>

#include <zfound/LibraryInfo.h>
#include <zfound/OsServ.h>

#include "TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

volatile sig_atomic_t gotSignal = 0;
void onSignal(int s) { gotSignal = s; }

TEST(OsServ, SignalsInterruptBlockingCalls) {
  SigHandler before = Signal(SIGALRM, onSignal);
  struct sigaction act {};
  sigaction(SIGALRM, nullptr, &act);
  EXPECT_EQ(act.sa_handler, onSignal);
  EXPECT_EQ(act.sa_flags & SA_RESTART, 0);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  gotSignal = 0;
  alarm(1);
  char c;
  ssize_t n = read(fds[0], &c, 1);  // nobody writes: only the alarm ends it
  int err = errno;
  alarm(0);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(err, EINTR);
  EXPECT_EQ(gotSignal, SIGALRM);
  close(fds[0]);
  close(fds[1]);

  EXPECT_EQ(Signal(SIGALRM, before), onSignal);
  EXPECT_EQ(Signal(SIGKILL, onSignal), SIG_ERR);
}

TEST(OsServ, RegistersItsBuildStamp) {
  std::string all = toCharPtr(LibraryInfo::libraries());
  EXPECT_NE(all.find("\n> libzext <\nUser: "), std::string::npos) << all;
}

TEST(OsServ, MachineByteOrder) {
  uint16_t v = 0x0102;
  unsigned char first;
  std::memcpy(&first, &v, 1);
  EXPECT_EQ(isBigEndian(), first == 0x01);
}

TEST(OsServ, AccountLookups) {
  EXPECT_EQ(userId("root"), 0);
  EXPECT_STREQ(userName(0), "root");
  EXPECT_EQ(userGid(0), 0);
  EXPECT_EQ(groupId("root"), 0);
  EXPECT_STREQ(groupName(0), "root");

  // Unknown ids come back whole in decimal; unknown names give -1.
  EXPECT_STREQ(userName(4000000123LL), "4000000123");
  EXPECT_STREQ(userHomeDir(4000000123LL), "4000000123");
  EXPECT_STREQ(fullUserName(4000000123LL), "4000000123");
  EXPECT_STREQ(groupName(4000000123LL), "4000000123");
  EXPECT_STREQ(userName(-7), "-7");
  EXPECT_EQ(userGid(4000000123LL), -1);
  EXPECT_EQ(userId("no-such-user-zf"), -1);
  EXPECT_EQ(groupId("no-such-group-zf"), -1);
  EXPECT_EQ(userId(String()), -1);
}

TEST(OsServ, ZoneOffsetFollowsDaylightSaving) {
  zftest::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  int64_t winter = 1705276800;  // 2024-01-15 00:00 UTC
  int64_t summer = 1721001600;  // 2024-07-15 00:00 UTC
  EXPECT_EQ(_osTimeZoneAdj(winter), winter + 3600);
  EXPECT_EQ(_osTimeZoneAdj(summer), summer + 7200);
  EXPECT_EQ(_osTimeZoneAdj(winter), winter + 3600);
  {
    zftest::ScopedEnv utc("TZ", "UTC0");
    EXPECT_EQ(_osTimeZoneAdj(summer), summer);
  }
  tzset();
}

TEST(OsServ, FileStatusAndRemoval) {
  zftest::TempDir dir;
  std::string file = dir.write("f.txt", "12345");
  struct stat st;
  EXPECT_EQ(statFile(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 5);
  EXPECT_EQ(statFile(file.c_str()), 0);
  EXPECT_EQ(statFile(dir.file("none").c_str(), &st), -1);
  EXPECT_EQ(statFile(String(), &st), -1);
  EXPECT_EQ(statFile(String(reinterpret_cast<char const*>(1)), &st), -1);

  std::string sub = dir.file("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0777), 0);
  EXPECT_EQ(unlinkFile(sub.c_str()), 0);
  EXPECT_EQ(unlinkFile(file.c_str()), 0);
  EXPECT_EQ(statFile(sub.c_str()), -1);
  EXPECT_EQ(statFile(file.c_str()), -1);
  EXPECT_EQ(unlinkFile(file.c_str()), -1);
  EXPECT_EQ(unlinkFile(String()), -1);
}

TEST(OsServ, TemporaryNamesAreCreatedExclusively) {
  zftest::TempDir dir;
  std::string prefix = dir.path() + "/pre";
  char* first = zfTempnam(dir.path().c_str(), "pre");
  ASSERT_NE(first, nullptr);
  std::string a = first;
  std::free(first);
  ASSERT_EQ(a.compare(0, prefix.size(), prefix), 0);
  EXPECT_EQ(statFile(a.c_str()), 0);  // the file exists: it was created

  // The next two numbers are taken by someone else: they are skipped.
  long long n = std::atoll(a.c_str() + prefix.size());
  dir.write("pre" + std::to_string(n + 1), "x");
  dir.write("pre" + std::to_string(n + 2), "y");
  char* second = zfTempnam(dir.path().c_str(), "pre");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(std::string(second), prefix + std::to_string(n + 3));
  EXPECT_EQ(zftest::readFile(prefix + std::to_string(n + 1)), "x");
  std::free(second);

  EXPECT_EQ(zfTempnam(dir.file("missing-dir").c_str(), "p"), nullptr);

  char buf[kTmpNameSize];
  ASSERT_EQ(zfTmpnam(buf), buf);
  EXPECT_EQ(std::strncmp(buf, "/tmp/", 5), 0);
  EXPECT_EQ(statFile(buf), 0);
  EXPECT_EQ(unlinkFile(buf), 0);
}

TEST(OsServ, TemporaryFileHasNoName) {
  FILE* f = zfTmpfile();
  ASSERT_NE(f, nullptr);
  std::string link = "/proc/self/fd/" + std::to_string(fileno(f));
  char target[512] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_NE(std::strstr(target, "(deleted)"), nullptr) << target;
  std::fputs("data", f);
  std::rewind(f);
  char back[8] = {};
  EXPECT_EQ(std::fread(back, 1, 4, f), 4u);
  EXPECT_STREQ(back, "data");
  std::fclose(f);
}

// Standard input replaced by the slave side of a pseudo-terminal.
class PtyStdin {
public:
  PtyStdin() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave_ < 0) return;
    saved_ = dup(0);
    ok_ = saved_ >= 0 && dup2(slave_, 0) == 0;
  }
  ~PtyStdin() {
    if (saved_ >= 0) {
      dup2(saved_, 0);
      close(saved_);
    }
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return ok_; }
  void type(char c) { ASSERT_EQ(write(master_, &c, 1), 1); }

private:
  int master_ = -1, slave_ = -1, saved_ = -1;
  bool ok_ = false;
};

TEST(OsServ, RawTerminalMode) {
  PtyStdin pty;
  ASSERT_TRUE(pty.ok());
  termios before{};
  ASSERT_EQ(tcgetattr(0, &before), 0);

  // A single key is read without waiting for a line, then the terminal is
  // left as it was.
  EXPECT_FALSE(terminalIsSet());
  pty.type('k');
  EXPECT_EQ(getChar(), 'k');
  EXPECT_FALSE(terminalIsSet());
  termios after{};
  ASSERT_EQ(tcgetattr(0, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);

  ASSERT_EQ(setTerminal(), 0);
  EXPECT_TRUE(terminalIsSet());
  termios raw{};
  ASSERT_EQ(tcgetattr(0, &raw), 0);
  EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(ISIG));
  EXPECT_EQ(raw.c_iflag & ICRNL, 0u);
  EXPECT_EQ(raw.c_cc[VMIN], 1);
  pty.type('\r');
  EXPECT_EQ(getChar(), '\r');  // CR is not turned into NL
  pty.type('\xe9');
  EXPECT_EQ(getChar(), int(static_cast<signed char>('\xe9')));
  EXPECT_TRUE(terminalIsSet());
  EXPECT_EQ(resetTerminal(), 0);
  EXPECT_FALSE(terminalIsSet());
  ASSERT_EQ(tcgetattr(0, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST(OsServ, GetCharFromAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int saved = dup(0);
  ASSERT_EQ(dup2(fds[0], 0), 0);
  ASSERT_EQ(write(fds[1], "z", 1), 1);
  close(fds[1]);
  EXPECT_EQ(setTerminal(), -1);  // not a terminal
  EXPECT_EQ(getChar(), 'z');
  EXPECT_EQ(getChar(), -1);
  EXPECT_FALSE(terminalIsSet());
  dup2(saved, 0);
  close(saved);
  close(fds[0]);
}

}  // namespace
