// Directory browsing by file-name pattern, on a private temporary directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include <zfound/DirBrowser.h>
#include <zfound/RegExp.h>

namespace {

std::vector<std::string> names(DirBrowser& b) {
  std::vector<std::string> v;
  for (; b; ++b) v.push_back(toCharPtr(b.name()));
  std::sort(v.begin(), v.end());
  return v;
}

class DirBrowserTest : public testing::Test {
protected:
  void SetUp() override {
    tmp.write("a.txt", "abc");
    tmp.write("b.txt", "0123456789");
    tmp.write("c.dat", "x");
    tmp.write("atxt", "");
    tmp.write("sub/inner.txt", "deep");
    ::chmod(tmp.file("b.txt").c_str(), 0640);
  }
  zftest::TempDir tmp;
};

}  // namespace

TEST_F(DirBrowserTest, PatternGivesExactlyTheMatchingNamesWithSizeAndMode) {
  LRegExp txt("*.txt");
  DirBrowser b(String(tmp.path().c_str()), &txt);
  std::map<std::string, std::pair<long, long>> seen;
  for (; b; ++b) {
    long mode = -1, size = -1, uid = -1, gid = -1;
    Time mtime;
    ASSERT_TRUE(b.info(mode, size, uid, gid, mtime));
    EXPECT_EQ(std::string(toCharPtr(b.fullName())), tmp.file(toCharPtr(b.name())));
    EXPECT_EQ(uid, long(::getuid()));
    EXPECT_FALSE(mtime.isNull());
    seen[toCharPtr(b.name())] = {size, mode};
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen["a.txt"].first, 3);
  EXPECT_EQ(seen["b.txt"].first, 10);
  EXPECT_EQ(seen["b.txt"].second, long(S_IFREG | 0640));
  EXPECT_TRUE(S_ISREG(seen["a.txt"].second));
  // At the end: false, null name, stream closed.
  EXPECT_EQ(b.status(), 2);
  EXPECT_TRUE(b.name().isNull());
  EXPECT_TRUE(b.fullName().isNull());
  ++b;  // advancing past the end stays at the end
  EXPECT_EQ(b.status(), 2);
}

TEST_F(DirBrowserTest, ResetSetDirAndSetFiles) {
  LRegExp all("*"), dat("*.dat"), none("*.none"), dots(".*");
  DirBrowser b(String(tmp.path().c_str()), &all);
  // "." and ".." are offered like any other name that matches.
  EXPECT_EQ(names(b), (std::vector<std::string>{".", "..", "a.txt", "atxt", "b.txt", "c.dat", "sub"}));
  b.reset();
  EXPECT_EQ(names(b).size(), 7u);
  b.setFiles(&dat);
  EXPECT_EQ(names(b), std::vector<std::string>{"c.dat"});
  b.setFiles(&dots);
  EXPECT_EQ(names(b), (std::vector<std::string>{".", ".."}));

  // A pattern matching nothing leaves the browser at the end at once.
  b.setFiles(&none);
  EXPECT_FALSE(b);
  EXPECT_EQ(b.status(), 2);

  // A directory given with its trailing '/' does not get a second one.
  b.reset(String((tmp.path() + "/sub/").c_str()), &all);
  while (b && b.name() != String("inner.txt")) ++b;
  ASSERT_TRUE(b);
  EXPECT_EQ(std::string(toCharPtr(b.fullName())), tmp.path() + "/sub/inner.txt");
}

TEST_F(DirBrowserTest, MissingDirectoryAndVanishedEntry) {
  LRegExp all("*"), a("a.txt");
  DirBrowser missing(String(tmp.file("nowhere").c_str()), &all);
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.status(), 1);
  EXPECT_TRUE(missing.name().isNull());
  long mode = 7, size = 7, uid = 7, gid = 7;
  Time mtime(1, 2, 3);
  EXPECT_FALSE(missing.info(mode, size, uid, gid, mtime));
  EXPECT_EQ(mode + size + uid + gid, 0);
  EXPECT_TRUE(mtime.isNull());

  // An entry removed after it was read: info says so and sets every value.
  DirBrowser b(String(tmp.path().c_str()), &a);
  ASSERT_TRUE(b);
  ASSERT_EQ(::unlink(tmp.file("a.txt").c_str()), 0);
  mode = size = uid = gid = 7;
  mtime = Time(1, 2, 3);
  EXPECT_FALSE(b.info(mode, size, uid, gid, mtime));
  EXPECT_EQ(mode + size + uid + gid, 0);
  EXPECT_TRUE(mtime.isNull());

  // Without a pattern nothing is browsed (the failed check returns before
  // start-up has installed the fatal handler).
  DirBrowser nopat(String(tmp.path().c_str()), nullptr);
  EXPECT_FALSE(nopat);
  EXPECT_EQ(nopat.status(), 1);

  // A null directory is the current one.
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(tmp.path().c_str()), 0);
  LRegExp dat("*.dat");
  DirBrowser cur(String(), &dat);
  EXPECT_EQ(cur.dir(), String("."));
  EXPECT_EQ(std::string(toCharPtr(cur.fullName())), "./c.dat");
  ASSERT_EQ(::chdir(old), 0);
}
