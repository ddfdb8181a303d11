// Command pipes: reading a command's output with its exit status, writing
// to a command that stopped reading, both ways through cat, a missing
// command, the printer, and the run-time layer's ioPipe.
#include <winkit/Pipes.h>
#include <zeph/IoPipe.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

std::vector<std::string> readAll(InputStream& in) {
  std::vector<std::string> out;
  for (;;) {
    String s;
    in.get(s, '\n');
    if (!in.ok() && s.isNull()) break;
    out.push_back(zftest::str(s));
    if (!in.ok()) break;
  }
  return out;
}

TEST(InputPipe, OutputAndExitStatus) {
  struct {
    char const* command;
    std::vector<std::string> lines;
    bool error;
  } const cases[] = {
      {"true", {}, false},
      {"false", {}, true},
      {"printf 'a\\nb\\n'", {"a", "b"}, false},
      {"echo partial; exit 3", {"partial"}, true},
      {"/nonexistent/command", {}, true},
      {"echo to-stderr >&2; echo out", {"out"}, false},
  };
  for (auto const& k : cases) {
    InputPipe in(String(k.command), true, true, 1024);
    EXPECT_FALSE(!in) << k.command;
    EXPECT_EQ(readAll(in), k.lines) << k.command;
    EXPECT_EQ((in.state() & Stream::ErrorBit) != 0, k.error) << k.command;
  }
  // No command: no child, the error state at once.
  InputPipe none{String(), true, true, 1024};
  EXPECT_TRUE(!none);
  EXPECT_TRUE(none.state() & Stream::ErrorBit);
  EXPECT_TRUE(readAll(none).empty());
}

TEST(InOutPipe, CatReturnsWhatWasWritten) {
  InOutPipe cat(String("cat"), true, true, 1024);
  ASSERT_FALSE(!cat);
  std::string big(5000, 'x');
  cat.output() << "hello\n" << String(big.c_str()) << "\nworld\n";
  cat.close();
  EXPECT_EQ(readAll(cat.input()), (std::vector<std::string>{"hello", big, "world"}));
  // Writing after close goes nowhere and says so.
  cat.output() << "late\n";
  cat.flush();
  EXPECT_TRUE(cat.output().state() & Stream::ErrorBit);
}

TEST(OutputPipe, CommandThatStopsReadingSetsTheErrorBit) {
  zftest::TempDir dir;
  {
    OutputPipe out(String(("cat > '" + dir.file("got") + "'").c_str()), true, true, 1024);
    out << "line one\nline two\n";
  }
  EXPECT_EQ(zftest::readFile(dir.file("got")), "line one\nline two\n");
  // "true" reads nothing: the writes fail with the error bit, no SIGPIPE.
  OutputPipe gone(String("true"), true, true, 1024);
  ASSERT_FALSE(!gone);
  std::string chunk(4096, 'y');
  for (int i = 0; i < 256 && gone.ok(); ++i) gone << String(chunk.c_str());
  gone.flush();
  EXPECT_TRUE(gone.state() & Stream::ErrorBit);
}

TEST(Printer, CommandFromTheEnvironment) {
  {
    zftest::ScopedEnv unset("PRINTER", "", true);
    Printer p;
    EXPECT_TRUE(!p);
    EXPECT_TRUE(p.state() & Stream::ErrorBit);
    p << "nothing\n";
  }
  zftest::TempDir dir;
  {
    zftest::ScopedEnv env("PRINTER", "cat > '" + dir.file("printed") + "'");
    Printer p;
    EXPECT_FALSE(!p);
    p << "to paper\n";
  }
  EXPECT_EQ(zftest::readFile(dir.file("printed")), "to paper\n");
}

TEST(IoPipe, ChildDescriptorsAndWait) {
  // Standard input and error are the null device; output is the pipe.
  int rfd = -1;
  int pid = ioPipe("readlink /proc/self/fd/0 /proc/self/fd/2; cat", &rfd, nullptr, true, true);
  ASSERT_GT(pid, 0);
  std::string got;
  char buf[256];
  ssize_t n;
  while ((n = ::read(rfd, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  ::close(rfd);
  EXPECT_EQ(got, "/dev/null\n/dev/null\n");
  EXPECT_EQ(wait_for_child(pid), 0);
  EXPECT_EQ(wait_for_child(pid), -1);  // already waited for
  EXPECT_EQ(ioPipe(nullptr, &rfd, nullptr, true, true), -1);

  struct {
    char const* path;
    bool absolute;
  } const paths[] = {{"/etc", true}, {"etc", false}, {"./x", false}, {"", false}, {nullptr, false}};
  for (auto const& p : paths) EXPECT_EQ(isAbsolutePath(p.path), p.absolute) << (p.path ? p.path : "(null)");
}

}  // namespace
