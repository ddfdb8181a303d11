// Input histories: order without duplicates, stepping, and the text and
// binary forms with the forms that are refused.
#include <winkit/StrHistory.h>

#include <zfound/Portable.h>
#include <zfound/Stream.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s), s.length()); }

std::vector<std::string> entries(StrHistory const& h) {
  std::vector<std::string> out;
  for (long i = 0; i < h.capacity(); ++i) out.push_back(str(h.entry(i)));
  return out;
}

// The text form, written through a pipe (forms here are far below its size).
std::string textForm(StrHistory const& h) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  {
    OutputFdFile out(fds[1]);
    h.store(out);
    out.flush();
  }
  ::close(fds[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  return text;
}

TEST(StrHistory, OrderAndDuplicates) {
  StrHistory h(3);
  h << "A" << "B" << "A";
  EXPECT_EQ(entries(h), (std::vector<std::string>{"A", "B", ""}));
  EXPECT_EQ(h.fullslots(), 2);
  h << "C" << "D";  // full: the oldest goes
  EXPECT_EQ(entries(h), (std::vector<std::string>{"D", "C", "A"}));
  EXPECT_EQ(h.fullslots(), 3);
  StrHistory t(4);
  t << " x " << "x" << String();
  EXPECT_EQ(entries(t), (std::vector<std::string>{"x", "", "", ""}));
  EXPECT_EQ(t.fullslots(), 1);
  StrHistory none(0);
  none << "a";
  EXPECT_EQ(none.fullslots(), 0);
}

TEST(StrHistory, TextForm) {
  StrHistory h(4);
  h << "B" << "A";
  EXPECT_EQ(textForm(h), "4\nA\nB\n\n\n");
  StrHistory nl(2);
  nl << "one\ntwo";
  std::string form = textForm(nl);
  EXPECT_EQ(form, "2\none\x01two\n\n");
  StrHistory back(5);
  InputString in(form.c_str());
  ASSERT_TRUE(back.load(in));
  EXPECT_EQ(back.capacity(), 2);
  EXPECT_EQ(str(back.entry(0)), "one\ntwo");
  EXPECT_EQ(back.fullslots(), 1);
}

TEST(StrHistory, RefusedCapacities) {
  for (char const* form : {"999999999\nA\n", "0\n", "-3\nA\n", "\nA\n", "65536\n", "x4\n", ""}) {
    StrHistory h(2);
    h << "keep";
    InputString in(form);
    EXPECT_FALSE(h.load(in)) << form;
    EXPECT_EQ(entries(h), (std::vector<std::string>{"keep", ""})) << form;
  }
}

TEST(StrHistory, BinaryForm) {
  StrHistory h(3);
  h << "abc" << "de";
  std::vector<char> buf(static_cast<size_t>(h.storeLength()));
  char* w = buf.data();
  h.store(w);
  ASSERT_EQ(w, buf.data() + buf.size());
  StrHistory back(1);
  char const* r = buf.data();
  ASSERT_TRUE(back.load(r, buf.data() + buf.size()));
  EXPECT_EQ(r, buf.data() + buf.size());
  EXPECT_EQ(entries(back), (std::vector<std::string>{"de", "abc", ""}));
  // Cut anywhere: refused, nothing read, history unchanged.
  for (size_t cut = 0; cut < buf.size(); ++cut) {
    StrHistory c(1);
    c << "keep";
    char const* p = buf.data();
    EXPECT_FALSE(c.load(p, buf.data() + cut)) << cut;
    EXPECT_EQ(p, buf.data());
    EXPECT_EQ(str(c.entry(0)), "keep");
  }
  // A damaged capacity or entry length.
  std::vector<char> bad = buf;
  stlong(70000, bad.data());
  char const* p = bad.data();
  EXPECT_FALSE(back.load(p, bad.data() + bad.size()));
  bad = buf;
  stlong(-5, bad.data() + 4);
  p = bad.data();
  EXPECT_FALSE(back.load(p, bad.data() + bad.size()));
  EXPECT_EQ(str(back.entry(0)), "de");
}

TEST(ExtStrHistory, Stepping) {
  ExtStrHistory h(5, 4);
  h << "c" << "b" << "a";
  EXPECT_EQ(h.currPos(), 0);
  EXPECT_TRUE((++h).isNull());
  EXPECT_EQ(str(--h), "a");
  EXPECT_EQ(str(--h), "b");
  EXPECT_EQ(str(--h), "c");
  EXPECT_TRUE((--h).isNull());  // the next slot is empty
  EXPECT_EQ(h.currPos(), 3);
  EXPECT_EQ(str(++h), "b");
  EXPECT_EQ(str(++h), "a");
  EXPECT_TRUE((++h).isNull());
  EXPECT_EQ(h.currPos(), 0);
  --h;
  h << "d";
  EXPECT_EQ(h.currPos(), 0);
}

}  // namespace
