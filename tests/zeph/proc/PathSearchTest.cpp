// Finding names along a directory list and expanding environment references.
#include <zeph/PathSearch.h>

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

namespace {

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s)); }

TEST(FindInPath, SearchesTheListInOrder) {
  zftest::TempDir a, b;
  b.write("tool", "x");
  a.write("other", "y");
  std::string list = a.path() + ":" + b.path();
  EXPECT_EQ(str(findInPath("tool", list.c_str())), b.path() + "/tool");
  EXPECT_EQ(str(findInPath("other", list.c_str())), a.path() + "/other");
  EXPECT_EQ(str(findInPath("absent", list.c_str())), "");
  EXPECT_EQ(str(findInPath("dir/tool", list.c_str())), "dir/tool");
  EXPECT_EQ(str(findInPath("tool", String())), "tool");
}

TEST(ExpandEnvVars, Table) {
  zftest::ScopedEnv home("ZEPH_T_HOME", "/h/u");
  zftest::ScopedEnv unset("ZEPH_T_UNSET", "", true);
  struct {
    char const* in;
    char const* out;
  } cases[] = {
      {"$ZEPH_T_HOME/x", "/h/u/x"},
      {"${ZEPH_T_HOME}y", "/h/uy"},
      {"a$ZEPH_T_UNSET/b", "a/b"},
      {"${ZEPH_T_UNSET}", ""},
      {"cost $ 5", "cost $ 5"},
      {"end$", "end$"},
      {"${open", "${open"},
      {"plain", "plain"},
  };
  for (auto const& c : cases) EXPECT_EQ(str(expandEnvVars(c.in)), c.out) << c.in;
}

}  // namespace
