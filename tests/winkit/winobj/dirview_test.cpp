// Directory names normalised by name, and directory snapshots selected by
// kind and sorted.
#include <winkit/DirView.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "TestSupport.h"

namespace {

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s)); }

TEST(DirName, CompressTable) {
  struct {
    char const* in;
    char const* out;
  } cases[] = {
      {"/usr/lib/../bin/./x", "/usr/bin/x"},
      {"a/b/../c", "a/c"},
      {"/usr/..", "/"},  // never above the root
      {"/..", "/"},
      {"/../../etc", "/etc"},
      {"/a//b/", "/a/b"},
      {"plain", "plain"},
  };
  for (auto const& c : cases) EXPECT_EQ(str(DirName(c.in, true).value()), c.out) << c.in;
  EXPECT_EQ(str(DirName("/usr/lib/../x", false).value()), "/usr/lib/../x");
}

TEST(DirName, ChDir) {
  DirName d("/home/u", false);
  d.chDir("sub/..", false);
  EXPECT_EQ(str(d.value()), "/home/u");
  d.chDir("x/./y", false);
  EXPECT_EQ(str(d.value()), "/home/u/x/y");
  d.chDir("/etc", false);
  EXPECT_EQ(str(d.value()), "/etc");
  d.chDir("skipped/a", true);
  EXPECT_EQ(str(d.value()), "/etc/a");
  DirName root("/", false);
  root.chDir("..", false);
  EXPECT_EQ(str(root.value()), "/");
  root.chDir("bin", false);
  EXPECT_EQ(str(root.value()), "/bin");
}

class DirViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    tmp.write("big.txt", std::string(300, 'x'));
    tmp.write("small.txt", "1");
    tmp.write("mid.c", std::string(20, 'y'));
    ::mkdir(tmp.file("sub").c_str(), 0777);
  }
  std::vector<std::string> names(DirView const& v) {
    std::vector<std::string> out;
    for (long i = 0; i < v.nElems(); ++i) {
      String n;
      long a, b, c, d;
      v.elem(i, n, a, b, c, d);
      out.push_back(str(n));
    }
    return out;
  }
  zftest::TempDir tmp;
};

TEST_F(DirViewTest, SelectionBits) {
  String dir(tmp.path().c_str());
  DirView files(dir, "*", DirView::kRegular, DirView::kByName);
  EXPECT_EQ(names(files), (std::vector<std::string>{"big.txt", "mid.c", "small.txt"}));
  DirView dirs(dir, "*", DirView::kDirs, DirView::kByName);
  EXPECT_EQ(names(dirs), (std::vector<std::string>{"sub"}));
  DirView dots(dir, "*", DirView::kDirs | DirView::kDotDot, DirView::kByName);
  EXPECT_EQ(names(dots), (std::vector<std::string>{"..", "sub"}));
  DirView pattern(dir, "*.txt", DirView::kRegular, DirView::kByName);
  EXPECT_EQ(names(pattern), (std::vector<std::string>{"big.txt", "small.txt"}));
  EXPECT_EQ(str(pattern.rexp()), "*.txt");
  // "." in a file-name pattern is itself: a plain name matches only itself.
  DirView plain(dir, "mid.c", DirView::kRegular, DirView::kByName);
  EXPECT_EQ(names(plain), (std::vector<std::string>{"mid.c"}));
}

TEST_F(DirViewTest, SortBySizeAndOutOfRange) {
  DirView v(String(tmp.path().c_str()), "*", DirView::kRegular, DirView::kBySize);
  EXPECT_EQ(names(v), (std::vector<std::string>{"small.txt", "mid.c", "big.txt"}));
  String n;
  long size, mode, uid, gid;
  Time t;
  v.elem(-1, n, size, mode, uid, gid, t);
  EXPECT_TRUE(n.isHighest());
  EXPECT_EQ(size, -1);
  EXPECT_EQ(mode, -1);
  EXPECT_EQ(uid, -1);
  EXPECT_EQ(gid, -1);
  EXPECT_TRUE(t.isNull());
  EXPECT_EQ(v.elem(2).size, 300);
  EXPECT_TRUE(DirView().dir().isHighest());
}

}  // namespace
