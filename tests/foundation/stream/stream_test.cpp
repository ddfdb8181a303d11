// Streams: text and list sources, line and word input, unget, text output,
// descriptor output that survives partial writes, and file streams with seek,
// reopening and long buffers.
#include <zfound/OsFile.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildRun.h"
#include "TestSupport.h"

namespace {

using zftest::str;

// Collects everything an output stream writes into a std::string.
class Sink : public OutputStream {
public:
  explicit Sink(int32_t size) : OutputStream(size) {}
  ~Sink() override { flush(); }
  void flush() override {
    out.append(buf_, static_cast<size_t>(cur_ - buf_));
    cur_ = buf_;
    count_ = bsize_ - 1;
  }
  std::string out;
};

TEST(InputStringTest, TextListAndEnd) {
  InputString t("ab");
  char c;
  t >> c;
  EXPECT_EQ('a', c);
  t >> c;
  EXPECT_EQ('b', c);
  EXPECT_TRUE(t.ok());
  t >> c;
  EXPECT_EQ(0, c);
  EXPECT_TRUE(t.eof());

  char const* list[] = {"one", "", "two", nullptr};
  InputString l(list);
  std::string got;
  for (;;) {
    char x = l.getc();
    if (!l.ok()) break;
    got += x;
  }
  EXPECT_EQ("one\n\ntwo\n", got);
  EXPECT_TRUE(l.eof());
}

TEST(InputStringTest, GetLinesWordsAndLongLines) {
  InputString t(String(5L, "ab\r\nc"));
  String s;
  t.get(s, '\n');
  EXPECT_EQ("ab", str(s));
  EXPECT_EQ('c', t.getc());

  InputString w("abc def");
  w.get(s, '\0');
  EXPECT_EQ("abc", str(s));
  EXPECT_EQ('d', w.getc());  // the blank was consumed

  std::string longLine(40000, 'x');
  longLine[300] = 'y';
  InputString l(String(static_cast<long>(longLine.size()), longLine.data()) + "\nrest");
  l >> s;
  EXPECT_EQ(longLine, str(s));  // past 255 and past 32,767 characters
  l >> s;
  EXPECT_EQ("rest", str(s));
  EXPECT_TRUE(l.eof());
}

TEST(InputStringTest, Unget) {
  InputString t("xy");
  char c = t.getc();
  t.unget(c);
  EXPECT_EQ('x', t.getc());
  EXPECT_EQ('y', t.getc());
  t.unget('y');
  EXPECT_EQ('y', t.getc());
  EXPECT_TRUE(t.ok());
  t.unget('q');  // the text is not the stream's own to change
  EXPECT_TRUE(t.withError());

  InputString s("z");
  s.unget('a');  // at the buffer start
  EXPECT_TRUE(s.withError());
}

TEST(InputStreamTest, UngetBeforeAnyReadTouchesNothingOutsideTheBuffer) {
  // A text whose byte before it equals the byte put back: stepping back
  // would read it as the text's first.
  char const guarded[] = "qrs";
  InputString t(guarded + 1);
  t.unget('q');
  EXPECT_TRUE(t.withError());
  EXPECT_EQ('r', t.getc());

  // A stream with its own buffer: nothing is written before it (the
  // sanitizer build sees such a write) and nothing is put back.
  zftest::TempDir dir;
  int fd = ::open(dir.write("in.txt", "ab").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  {
    InputFdFile in(fd, 4);
    in.unget('z');
    EXPECT_TRUE(in.withError());
    EXPECT_NE('z', in.getc());
  }
  ::close(fd);
}

TEST(OutputStreamTest, TextForms) {
  Sink o(16);
  o << "n=" << 42L << ' ' << -7 << ' ' << true << ' ' << false << ' ' << static_cast<char const*>(nullptr)
    << String(reinterpret_cast<char const*>(1)) << '|' << String() << '|' << reinterpret_cast<char const*>(1);
  o << endl;
  EXPECT_EQ("n=42 -7 true false (high value)||(high value)\n", o.out);
  Sink p(8);
  p << reinterpret_cast<void const*>(0x1f);
  p.flush();
  EXPECT_EQ("        1f", p.out);
}

TEST(OutputFdFileTest, PartialWritesToAPipeArriveWhole) {
  // A pipe takes a limited amount per write, and a timer signal without
  // restart interrupts the writer while the slow reader keeps it waiting
  // (partial writes and EINTR); everything must still arrive.
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::string expect;
  for (int i = 0; i < 300000; ++i) expect += static_cast<char>('a' + i % 26);
  zftest::ChildRun writer = zftest::startChild([&]() -> int {
    ::close(fds[0]);
    struct sigaction sa = {};
    sa.sa_handler = [](int) {};
    sigaction(SIGALRM, &sa, nullptr);
    struct itimerval every = {{0, 1000}, {0, 1000}};
    setitimer(ITIMER_REAL, &every, nullptr);
    OutputFdFile o(fds[1], 100000);
    o.write(expect.data(), static_cast<int64_t>(expect.size()));
    o.flush();
    ZF_CHILD_CHECK(o.ok());
    return 0;
  });
  ::close(fds[1]);
  std::string got;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
    usleep(500);
  }
  ::close(fds[0]);
  zftest::RunResult r = writer.wait();
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(expect, got);
}

TEST(OutputFdFileTest, NoWriteIsLargerThanTheBuffer) {
  // Each write on a packet socket arrives as one packet, so the reader sees
  // the size of every write the stream made.
  std::string text;
  for (int i = 0; i < 40; ++i) text += static_cast<char>('a' + i % 26);
  for (int32_t size : {1, 2, 3, 7}) {
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv));
    {
      OutputFdFile o(sv[0], size);
      o.write(text.data(), static_cast<int64_t>(text.size()));
      o.flush();
      EXPECT_TRUE(o.ok());
    }
    ::shutdown(sv[0], SHUT_WR);
    std::string got;
    char packet[64];
    for (;;) {
      ssize_t n = ::recv(sv[1], packet, sizeof packet, 0);
      if (n <= 0) break;
      EXPECT_LE(n, size) << "a write of " << n << " bytes from a buffer of " << size;
      got.append(packet, static_cast<size_t>(n));
    }
    ::close(sv[0]);
    ::close(sv[1]);
    EXPECT_EQ(text, got) << "buffer of " << size;
  }
}

TEST(FileStreamTest, WriteSeekReadAndReopen) {
  zftest::TempDir dir;
  String base = String(dir.path().c_str()) + "/data";
  {
    OutputFile o(base, "txt", false, 64);
    ASSERT_TRUE(o.ok());
    for (int i = 0; i < 1000; ++i) o << i << '\n';
    EXPECT_EQ(o.tell(), o.seek(o.tell()));
    o.seek(0);
    o << "X";
    EXPECT_EQ(1, o.tell());
  }
  std::string expect;
  for (int i = 0; i < 1000; ++i) expect += std::to_string(i) + "\n";
  expect[0] = 'X';
  EXPECT_EQ(expect, zftest::readFile(toCharPtr(base) + std::string(".txt")));

  InputFile in(base, "txt", 64);
  ASSERT_TRUE(in.ok());
  String line;
  in >> line;
  EXPECT_EQ("X", str(line));
  int64_t reads = OsFile::nReads();
  EXPECT_EQ(2, in.seek(2));  // inside the buffered block: no read
  EXPECT_EQ(reads, OsFile::nReads());
  in >> line;
  EXPECT_EQ("1", str(line));
  EXPECT_EQ(3000, in.seek(3000));
  EXPECT_EQ(expect[3000], in.getc());
  EXPECT_EQ(3001, in.tell());
  EXPECT_FALSE(in.open(String(toCharPtr(base)), "missing"));
  EXPECT_TRUE(in.withError());

  // Reopening an output stream writes out what it held for the first file and
  // starts the second one clean.
  OutputFile o(base, "a", false, 1024);
  o << "first";
  ASSERT_TRUE(o.open(base, "b"));
  o << "second";
  o.flush();
  EXPECT_EQ("first", zftest::readFile(toCharPtr(base) + std::string(".a")));
  EXPECT_EQ("second", zftest::readFile(toCharPtr(base) + std::string(".b")));
  ASSERT_TRUE(o.open(base, "b", true));
  o << "+more";
  o.flush();
  EXPECT_EQ("second+more", zftest::readFile(toCharPtr(base) + std::string(".b")));
}

TEST(FileStreamTest, StoredFormsRoundTripAndTruncation) {
  zftest::TempDir dir;
  String base = String(dir.path().c_str()) + "/forms";
  {
    OutputFile o(base, "bin", false, 50);
    store(o, static_cast<int32_t>(-5));
    store(o, String("hello"));
    double d = 0.1;
    store(o, d);
  }
  InputFile in(base, "bin", 50);
  int32_t v;
  String s;
  double d;
  in >> v;
  load(in, s);
  load(in, d);
  EXPECT_EQ(-5, v);
  EXPECT_EQ("hello", str(s));
  EXPECT_EQ(0.1, d);
  EXPECT_TRUE(in.ok());

  std::string full = zftest::readFile(toCharPtr(base) + std::string(".bin"));
  dir.write("cut.bin", full.substr(0, 8));  // the String's characters cut short
  InputFile cut(String(dir.path().c_str()) + "/cut", "bin");
  cut >> v;
  load(cut, s);
  EXPECT_TRUE(s.isNull());
  EXPECT_TRUE(cut.withError());
}

TEST(FileStreamTest, DirectoryListSearch) {
  zftest::TempDir dir;
  dir.write("b/target.cfg", "found");
  std::string list = dir.file("a") + ":" + dir.file("b");
  InputFile in(list.c_str(), "target", "cfg");
  ASSERT_TRUE(in.ok());
  String s;
  in >> s;
  EXPECT_EQ("found", str(s));
  InputFile none(dir.file("a").c_str(), "target", "cfg");
  EXPECT_TRUE(none.withError());
}

}  // namespace

namespace {

// Runs pause(a, b) (or pause() when a is null) in a child whose standard input
// holds `keys`; returns the child's answer and what it wrote.
int pauseWith(char const* a, char const* b, std::string const& keys, std::string& out) {
  zftest::TempDir dir;
  std::string outFile = dir.file("out");
  int in[2];
  if (pipe(in) != 0) return -100;
  ssize_t w = ::write(in[1], keys.data(), keys.size());
  (void)w;
  ::close(in[1]);
  zftest::RunResult r = zftest::runInChild([&]() -> int {
    dup2(in[0], 0);
    int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    OutputFdFile o(fd, 64);
    return a ? o.pause(String(a), String(b)) : o.pause();
  });
  ::close(in[0]);
  out = zftest::readFile(outFile);
  return r.signalled ? -1 : r.status;
}

TEST(OutputFdFileTest, PauseAnswers) {
  std::string out;
  EXPECT_EQ(0, pauseWith("yes", "no", "xqy", out));
  EXPECT_EQ("yes no\n", out);
  EXPECT_EQ(1, pauseWith("yes", "no", "zn", out));
  EXPECT_EQ(1, pauseWith("yes", "no", "", out));  // no more input: no endless wait
  EXPECT_EQ('k', pauseWith(nullptr, nullptr, "k", out));
  EXPECT_NE(std::string::npos, out.find("HITANY"));
}

TEST(FileStreamTest, CaptureSyncAndModificationTime) {
  zftest::TempDir dir;
  String base = String(dir.path().c_str()) + "/cap";
  zftest::RunResult r = zftest::runInChild([&]() -> int {
    OutputFile o(base, "log", true);  // append: both writers add at the end
    ZF_CHILD_CHECK(o.capture(1) == 0);
    ssize_t w = ::write(1, "via fd 1\n", 9);
    (void)w;
    o << "via stream\n";
    ZF_CHILD_CHECK(o.sync() == 0);
    return 0;
  });
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, zftest::readFile(dir.file("cap.log")).find("via fd 1"));
  EXPECT_NE(std::string::npos, zftest::readFile(dir.file("cap.log")).find("via stream"));
  InputFile in(base, "log");
  EXPECT_FALSE(in.mtime().isNull());
  OutputFile none;
  EXPECT_EQ(-1, none.capture(5));
  EXPECT_EQ(0, none.sync());
}

}  // namespace
