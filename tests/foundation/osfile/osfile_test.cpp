// Files over physical parts, checked on real files in a private directory:
// striped and ranged layouts, the descriptor pool under a low descriptor
// limit, 64-bit offsets on a sparse file, the error routine in a process
// without a terminal, record locks between processes (the waiting notice, a
// killed holder), and locks that survive the pool's recycling.
#include <zfound/FileLock.h>
#include <zfound/OsFile.h>
#include <zfound/PhysLayout.h>
#include <zfound/Process.h>
#include <zfound/Stream.h>
#include <zfound/String.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildRun.h"
#include "TestSupport.h"

namespace {

String S(std::string const& s) { return String(s.c_str()); }

// Runs f in a child through the shared helper (time-out, captured output)
// and returns its exit status (128 + signal when killed); a child that
// fails shows its standard error.
int inChild(std::function<int()> const& f) {
  zftest::RunResult r = zftest::runInChild(f);
  if (r.status != 0) std::fprintf(stderr, "child ended with %d:\n%s", r.status, r.err.c_str());
  return r.status;
}

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return s;
}

// ---- disk layout -------------------------------------------------------------------

TEST(PhysLayoutTest, LoadFindMapAndStore) {
  zftest::TempDir dir;
  std::string file = dir.write("layout",
                               "# layout of the test\n"
                               "*.idx\tpacked\t/d/idx\n"
                               "big*\tROUNDROBIN\t8K\t/d/a,/d/b\t# trailing comment\n"
                               "r*\tRanged\t/d/r1:4K,/d/r2\n");
  {
    PhysLayout lay(S(file));
    ASSERT_TRUE(lay.ok());
    ASSERT_EQ(3, lay.nEntries());
    EXPECT_EQ(lay.entry(0), lay.find("x.idx"));
    EXPECT_EQ(nullptr, lay.find("x.idxx"));
    EXPECT_EQ(lay.entry(1), lay.find("bigfile"));
    EXPECT_EQ(lay.entry(2), lay.find("rfile"));
    EXPECT_EQ(nullptr, lay.find("bigfile", 2));
    EXPECT_EQ(nullptr, lay.entry(7));

    PhysLayoutEntry* rr = lay.entry(1);
    ASSERT_NE(nullptr, rr->roundRobinEntry());
    EXPECT_EQ(2, rr->nParts());
    EXPECT_EQ("/d/b", std::string(toCharPtr(rr->part(1))));
    int64_t off = 20000;
    EXPECT_EQ(0, rr->part(off, 1024));
    EXPECT_EQ(11808, off);
    off = 8192 * 3 + 5;
    EXPECT_EQ(1, rr->part(off, 1024));
    EXPECT_EQ(8192 + 5, off);
    off = int64_t(6) << 30;  // far past 4 GiB: 64-bit arithmetic
    EXPECT_EQ(0, rr->part(off, 1024));
    EXPECT_EQ(int64_t(3) << 30, off);

    PhysLayoutEntry* rg = lay.entry(2);
    ASSERT_NE(nullptr, rg->rangeEntry());
    off = 4095;
    EXPECT_EQ(0, rg->part(off, 1024));
    EXPECT_EQ(4095, off);
    off = 5000;
    EXPECT_EQ(1, rg->part(off, 1024));
    EXPECT_EQ(904, off);
    off = 5000;
    EXPECT_EQ(0, rg->part(off, 4096));  // first range at least two blocks: 8192
    EXPECT_EQ(8192, RangedEntry::nBytes(0, 4096, 4096));
    EXPECT_EQ(1024, RangedEntry::nBytes(1, 1024, 100));

    PhysLayoutEntry* pk = lay.entry(0);
    pk->dirSuffix("sub");
    EXPECT_EQ("/d/idx/sub", std::string(toCharPtr(pk->part(0))));
  }
  // Nothing changed: the file is left as it was.
  EXPECT_NE(std::string::npos, zftest::readFile(file).find("# layout of the test"));
  {
    PhysLayout lay(S(file));
    lay.addPackedEntry("new*", "/d/new");
    delete lay.delEntry(0);
  }
  EXPECT_EQ("big*\tROUNDROBIN\t8K\t/d/a,/d/b\n"
            "r*\tRANGED\t/d/r1:4K,/d/r2\n"
            "new*\tPACKED\t/d/new\n",
            zftest::readFile(file));

  std::string missing = dir.file("none");
  {
    PhysLayout lay(S(missing));
    EXPECT_TRUE(lay.ok());
    EXPECT_EQ(nullptr, lay.find("anything"));
  }
  struct stat st;
  EXPECT_EQ(0, stat(missing.c_str(), &st));  // created empty
  EXPECT_EQ(0, st.st_size);

  // A last line without a newline keeps its last character.
  PhysLayout tail(S(dir.write("tail", "z*\tPACKED\t/d/z")));
  ASSERT_NE(nullptr, tail.find("zz"));
  EXPECT_EQ("/d/z", std::string(toCharPtr(tail.find("zz")->part(0))));
}

TEST(PhysLayoutTest, Amounts) {
  EXPECT_EQ(10240, PhysLayout::nBytes("10"));
  EXPECT_EQ(10240, PhysLayout::nBytes(" 10K "));
  EXPECT_EQ(1048576, PhysLayout::nBytes("1m"));
  EXPECT_EQ(1536, PhysLayout::nBytes("1.5k"));
  EXPECT_EQ(Range::kOpenEnded, PhysLayout::nBytes(""));
  EXPECT_EQ(INT32_MIN, Range::kOpenEnded);
}

// A child that has run startUp, so that fatal reports show their catalogue text.
void startChild() {
  zftest::startUpOnce("osfiletest");
}

TEST(PhysLayoutDeathTest, MalformedLinesEndTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  zftest::TempDir dir;
  // The threadsafe style runs this body again in each child, which dies
  // without removing its own directory: children make theirs inside ours.
  zftest::ScopedEnv tmp("TMPDIR", dir.path());
  struct {
    std::string text;
    char const* expect;
  } const cases[] = {
      {"a\tPACKED\t/x\n\n", "line 2"},
      {std::string("a\tPACKED\t/x\0/y\n", 15), "line 1"},  // a NUL byte is never a cut
      {std::string("b\tPACKED\t/x\na\0b\tPACKED\t/y\n", 26), "line 2"},
      {"a\tSTRIPED\t/x\n", "line 1"},
      {"a\tROUNDROBIN\t8K\n", "line 1"},
      {"\tPACKED\t/x\n", "line 1"},
      {"a\tPACKED\t\n", "line 1"},  // no directory: never the root
      {"a\tROUNDROBIN\t8K\t/x,\n", "line 1"},
      {"a\tRANGED\t:1K,/y\n", "line 1"},
      {"a\tRANGED\t/x:1K,/y:2K\n", "only the last range"},
      {"a\tRANGED\t/x:1K,/y,/z\n", "only the last range"},
      {"a\tROUNDROBIN\t2g\t/x\n", "at most 2147483646"},
      {"a\tROUNDROBIN\t2x\t/x\n", "Unknown unit 'x'"},
  };
  for (auto const& c : cases) {
    std::string file = dir.write("bad", c.text);
    EXPECT_EXIT(
        {
          startChild();
          PhysLayout lay(S(file));
        },
        ::testing::ExitedWithCode(1), c.expect)
        << c.text;
  }
}

// ---- striped and ranged files --------------------------------------------------------

// Writes 100 KB through a layout-placed file (block size 1 KB) in pieces of
// writeChunk bytes, reads it back in pieces of readChunk bytes, and returns
// the bytes that landed in each part's file. Pieces that are not whole
// blocks cross stripe and range boundaries.
std::vector<std::string> writeThroughLayout(zftest::TempDir& dir, std::string const& line,
                                            std::string const& data, size_t writeChunk, size_t readChunk) {
  std::string file = dir.write("layout", line);
  PhysLayout lay(S(file));
  OsFile f(lay, "striped", "dat", OsFile::Read | OsFile::Write | OsFile::Create | OsFile::Truncate, 1024);
  EXPECT_TRUE(f.ok());
  for (size_t off = 0; off < data.size(); off += writeChunk) {
    int64_t n = std::min<int64_t>(static_cast<int64_t>(writeChunk), static_cast<int64_t>(data.size() - off));
    EXPECT_EQ(n, f.write(data.data() + off, static_cast<int64_t>(off), n));
  }
  std::string back(data.size(), '\0');
  for (size_t off = 0; off < data.size(); off += readChunk) {
    int64_t n = std::min<int64_t>(static_cast<int64_t>(readChunk), static_cast<int64_t>(data.size() - off));
    EXPECT_EQ(n, f.read(&back[off], static_cast<int64_t>(off), n));
  }
  EXPECT_TRUE(back == data) << writeChunk << "/" << readChunk;
  char tail[100];
  EXPECT_EQ(10, f.read(tail, static_cast<int64_t>(data.size()) - 10, 100));  // short at the end of the data
  std::vector<std::string> parts;
  for (int32_t i = 0; i < f.nparts(); ++i) parts.push_back(zftest::readFile(toCharPtr(f.fullName(i))));
  return parts;
}

// Whole blocks, and one transfer of everything read back in 1000-byte pieces.
size_t const kChunks[][2] = {{1024, 1024}, {100 * 1024, 1000}};

TEST(OsFileTest, RoundRobinStripesAlternate) {
  zftest::TempDir dir;
  std::string data = pattern(100 * 1024);
  std::string a = dir.file("a"), b = dir.file("b");
  mkdir(a.c_str(), 0777);
  mkdir(b.c_str(), 0777);
  // Stripe k of 8 KB lies in part k % 2 at (k / 2) * 8 KB.
  std::string expect[2];
  for (size_t k = 0; k * 8192 < data.size(); ++k) expect[k % 2] += data.substr(k * 8192, 8192);
  for (auto const& c : kChunks) {
    auto parts = writeThroughLayout(dir, "stri*\tROUNDROBIN\t8K\t" + a + "," + b + "\n", data, c[0], c[1]);
    ASSERT_EQ(2u, parts.size());
    EXPECT_TRUE(expect[0] == parts[0]);
    EXPECT_TRUE(expect[1] == parts[1]);
    EXPECT_EQ(53248u, parts[0].size());
  }
}

TEST(OsFileTest, RangedPartsFollowEachOther) {
  zftest::TempDir dir;
  std::string data = pattern(100 * 1024);
  std::string r[3] = {dir.file("r1"), dir.file("r2"), dir.file("r3")};
  for (auto const& d : r) mkdir(d.c_str(), 0777);
  for (auto const& c : kChunks) {
    auto parts = writeThroughLayout(dir, "str*\tRANGED\t" + r[0] + ":16K," + r[1] + ":32K," + r[2] + "\n", data,
                                    c[0], c[1]);
    ASSERT_EQ(3u, parts.size());
    EXPECT_TRUE(data.substr(0, 16384) == parts[0]);
    EXPECT_TRUE(data.substr(16384, 32768) == parts[1]);
    EXPECT_TRUE(data.substr(49152) == parts[2]);
  }
}

TEST(OsFileTest, ALockingReadOverAStripeBoundaryLocksBothParts) {
  zftest::TempDir dir;
  std::string data = pattern(20 * 1024);
  std::string file = dir.write("layout", "lk*\tROUNDROBIN\t8K\t" + dir.path() + "/a," + dir.path() + "/b\n");
  mkdir(dir.file("a").c_str(), 0777);
  mkdir(dir.file("b").c_str(), 0777);
  PhysLayout lay(S(file));
  OsFile f(lay, "lkfile", "dat", OsFile::Read | OsFile::Write | OsFile::Create, 1024);
  ASSERT_EQ(static_cast<int64_t>(data.size()), f.write(data.data(), 0, static_cast<int64_t>(data.size())));
  char buf[400];
  ASSERT_EQ(400, f.read(buf, 8000, 400, OsFile::LockNoWait));
  EXPECT_EQ(data.substr(8000, 400), std::string(buf, 400));
  EXPECT_EQ(1u, f.pfiles(0).lockCount());
  EXPECT_EQ(1u, f.pfiles(1).lockCount());
  EXPECT_EQ(0, inChild([&]() -> int {  // another process finds both runs taken
              PhysLayout l(S(file));
              OsFile g(l, "lkfile", "dat", OsFile::Read | OsFile::Write, 1024);
              return (g.lock(8191, 1, OsFile::LockTest) == kRangeLockBusy ? 0 : 1) +
                     (g.lock(8192, 1, OsFile::LockTest) == kRangeLockBusy ? 0 : 2);
            }));
}

TEST(OsFileDeathTest, SingleFileOperationsRefuseALayoutPlacedFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  zftest::TempDir dir;
  // The threadsafe style runs this body again in each child, which dies
  // without removing its own directory: children make theirs inside ours.
  zftest::ScopedEnv tmp("TMPDIR", dir.path());
  std::string file = dir.write("layout", "x*\tROUNDROBIN\t8K\t" + dir.path() + "," + dir.path() + "\n");
  EXPECT_EXIT(
      {
        startChild();
        PhysLayout lay(S(file));
        OsFile f(lay, "xfile", "dat", OsFile::Read | OsFile::Write | OsFile::Create, 1024);
        f.size();
      },
      ::testing::ExitedWithCode(1), "Operation size is not allowed");
  EXPECT_EXIT(
      {
        startChild();
        PhysLayout lay(S(file));
        OsFile f(lay, "nomatch", "dat", OsFile::Read, 1024);
      },
      ::testing::ExitedWithCode(1), "No disk layout entry for the file nomatch.dat");
}

// ---- single files --------------------------------------------------------------------

TEST(OsFileTest, OffsetsPastFourGigabytesDoNotWrap) {
  zftest::TempDir dir;
  OsFile f(S(dir.path()), "sparse", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
  int64_t far = (int64_t(5) << 30) + 12345;
  ASSERT_EQ(1, f.write("A", 0, 1));
  ASSERT_EQ(4, f.write("high", far, 4));
  char buf[8] = {};
  EXPECT_EQ(4, f.read(buf, far, 4));
  EXPECT_EQ(0, std::memcmp(buf, "high", 4));
  EXPECT_EQ(1, f.read(buf, 0, 1));
  EXPECT_EQ('A', buf[0]);  // the start is untouched
  EXPECT_EQ(far + 4, f.size());

  // The streams over the file keep 64-bit positions as well.
  {
    OutputFile o(f, 512);
    EXPECT_EQ(far + 4, o.seek(far + 4));
    o << "tail";
    EXPECT_EQ(far + 8, o.tell());
  }
  InputFile in(f, 512);
  EXPECT_EQ(far, in.seek(far));
  std::string got;
  for (int i = 0; i < 8; ++i) got += in.getc();
  EXPECT_EQ("hightail", got);
  EXPECT_EQ(far + 8, in.tell());
}

TEST(OsFileTest, OpenNamesAndRemoval) {
  zftest::TempDir dir;
  OsFile none(S(dir.path()), "absent", "x", OsFile::Read | OsFile::OpenNow);
  EXPECT_FALSE(none.ok());
  EXPECT_EQ(ENOENT, none.errNo());

  OsFile f(S(dir.path()), "name", "ext", OsFile::Read | OsFile::Write | OsFile::Create | OsFile::Exclusive);
  EXPECT_EQ("name.ext", std::string(toCharPtr(f.nameExt())));
  EXPECT_EQ(dir.file("name.ext"), std::string(toCharPtr(f.fullName())));
  EXPECT_FALSE(f.isOpen());  // descriptors open on first use
  EXPECT_EQ(3, f.write("abc", 0, 3));
  EXPECT_TRUE(f.isOpen());
  f.close();
  EXPECT_FALSE(f.isOpen());
  char back[4] = {};
  EXPECT_EQ(3, f.read(back, 0, 3));  // reopens without O_EXCL
  EXPECT_STREQ("abc", back);
  f.rename("other", "e2");
  EXPECT_EQ("abc", zftest::readFile(dir.file("other.e2")));
  f.unLink();
  f.unLink();  // a file that is gone: no report
  EXPECT_TRUE(f.ok());
  EXPECT_EQ(-1, ::access(dir.file("other.e2").c_str(), F_OK));

  OsFile e(S(dir.path()), "full", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
  EXPECT_EQ(4, e.write("data", 0, 4));
  e.empty();
  EXPECT_TRUE(e.ok());
  EXPECT_EQ(0, e.size());
  EXPECT_TRUE(e.isOpen());
}

TEST(OsFileTest, ErrorsWithoutATerminalGiveUp) {
  zftest::TempDir dir;
  std::string path = dir.path();
  int st = inChild([&]() -> int {
    int nul = ::open("/dev/null", O_RDONLY);
    dup2(nul, 0);  // no terminal to answer from
    static int calls = 0;
    static std::string lastReport;
    OsFile::setHandler([](char const* report, int err) -> int {
      ++calls;
      lastReport = report;
      return 0;  // always "retry"
    });
    OsFile quiet(S(path), "missing", "dat", OsFile::Read | OsFile::OpenNow);
    if (quiet.ok() || calls != 0) return 7;  // opening now fails quietly
    OsFile f(S(path), "missing", "dat", OsFile::Read);
    char b[4];
    if (f.read(b, 0, 4) != -1) return 2;
    if (f.errNo() != ENOENT) return 3;
    if (calls < 1 || calls > 10) return 4;
    if (lastReport != "read:  (2)\n\tOsFile: " + path + "/missing.dat\n") return 6;
    OsFile::setHandler(nullptr);
    // Without a handler the report goes to the arithmetic-error handler,
    // which is not installed here: the operation gives up at once.
    OsFile g(S(path), "missing2", "dat", OsFile::Read);
    if (g.read(b, 0, 4) != -1) return 5;
    return 0;
  });
  EXPECT_EQ(0, st);

  // A write cut short (here by the file-size limit) goes on with the rest at
  // the advanced offset, where the failure is reported.
  st = inChild([&]() -> int {
    int nul = ::open("/dev/null", O_RDONLY);
    dup2(nul, 0);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {10, 10};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 2;
    static std::string lastReport;
    OsFile::setHandler([](char const* report, int) -> int {
      lastReport = report;
      return 0;
    });
    OsFile f(S(path), "limited", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
    if (f.write("0123456789ABCDEFGHIJ", 0, 20) != -1) return 3;
    if (f.errNo() != EFBIG) return 4;
    if (lastReport.find(", 10, 20):  (27)") == std::string::npos) return 5;
    char back[10];
    if (f.read(back, 0, 10) != 10 || std::string(back, 10) != "0123456789") return 6;
    return 0;
  });
  EXPECT_EQ(0, st);
}

TEST(OsFileTest, ManyFilesUnderALowDescriptorLimit) {
  zftest::TempDir dir;
  std::string path = dir.path();
  int st = inChild([&]() -> int {
    struct rlimit rl = {20, 20};
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0) return 2;
    std::vector<OsFile*> files;
    for (int i = 0; i < 200; ++i)
      files.push_back(new OsFile(S(path), S("f" + std::to_string(i)), "dat",
                                 OsFile::Read | OsFile::Write | OsFile::Create | OsFile::Exclusive));
    // Interleaved writes and reads over all files, several rounds.
    for (int round = 0; round < 3; ++round)
      for (int i = 0; i < 200; ++i) {
        std::string rec = "file " + std::to_string(i) + " round " + std::to_string(round) + ";";
        if (files[static_cast<size_t>(i)]->write(rec.data(), round * 64, static_cast<int64_t>(rec.size())) !=
            static_cast<int64_t>(rec.size()))
          return 3;
      }
    for (int i = 199; i >= 0; --i)
      for (int round = 0; round < 3; ++round) {
        std::string rec = "file " + std::to_string(i) + " round " + std::to_string(round) + ";";
        char buf[64] = {};
        if (files[static_cast<size_t>(i)]->read(buf, round * 64, static_cast<int64_t>(rec.size())) !=
            static_cast<int64_t>(rec.size()))
          return 4;
        if (rec != std::string(buf, rec.size())) return 5;
      }
    if (PhysFile::maxFiles() == -1 || PhysFile::openFiles() > PhysFile::maxFiles()) return 6;
    for (OsFile* f : files) delete f;
    if (PhysFile::openFiles() != 0 || PhysFile::first() != nullptr) return 7;
    return 0;
  });
  EXPECT_EQ(0, st);
}

TEST(OsFileTest, PoolOfOneOrNoDescriptors) {
  zftest::TempDir dir;
  std::string path = dir.path();
  int st = inChild([&]() -> int {
    // The limit lies a few descriptors above the lowest free one, so that
    // descriptors inherited from the test runner can never take them all.
    int lowest = ::open("/dev/null", O_RDONLY);
    if (lowest < 0) return 2;
    ::close(lowest);
    rlim_t limit = static_cast<rlim_t>(lowest) + 8;
    struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0) return 2;
    // (Built first: a sanitizer's type checks need descriptors on first sight.)
    OsFile a(S(path), "a", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
    OsFile b(S(path), "b", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
    // Use up every descriptor but one.
    std::vector<int> held;
    for (;;) {
      int fd = ::open("/dev/null", O_RDONLY);
      if (fd < 0) break;
      held.push_back(fd);
    }
    if (held.empty()) return 9;
    ::close(held.back());
    held.pop_back();
    for (int i = 0; i < 5; ++i) {
      if (a.write("aa", i * 2, 2) != 2) return 3;
      if (b.write("bb", i * 2, 2) != 2) return 4;
    }
    char buf[10];
    if (a.read(buf, 0, 10) != 10 || std::string(buf, 10) != "aaaaaaaaaa") return 5;
    if (b.read(buf, 0, 10) != 10 || std::string(buf, 10) != "bbbbbbbbbb") return 6;
    // No descriptor at all: the error is recorded, nothing crashes.
    a.close();
    b.close();
    int last = ::open("/dev/null", O_RDONLY);
    if (last < 0) return 7;
    if (a.read(buf, 0, 2) != -1 || a.errNo() != EMFILE) return 8;
    return 0;
  });
  EXPECT_EQ(0, st);
}

TEST(OsFileTest, APoolOfLockedFilesSaysSo) {
  zftest::TempDir dir;
  std::string path = dir.path();
  int st = inChild([&]() -> int {
    int nul = ::open("/dev/null", O_RDONLY);
    dup2(nul, 0);
    ::close(nul);
    struct rlimit rl = {16, 16};
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0) return 2;
    static std::vector<int> errs;
    OsFile::setHandler([](char const*, int err) -> int {
      errs.push_back(err);
      return 0;
    });
    {
      std::vector<std::unique_ptr<OsFile>> warm;  // learn the pool size
      for (int i = 0; i < 30; ++i) {
        warm.emplace_back(new OsFile(S(path), S("w" + std::to_string(i)), "dat",
                                     OsFile::Read | OsFile::Write | OsFile::Create));
        if (warm.back()->write("w", 0, 1) != 1) return 3;
      }
    }
    if (PhysFile::maxFiles() < 1) return 4;
    std::vector<std::unique_ptr<OsFile>> locked;
    for (int i = 0; i < PhysFile::maxFiles(); ++i) {
      locked.emplace_back(new OsFile(S(path), S("l" + std::to_string(i)), "dat",
                                     OsFile::Read | OsFile::Write | OsFile::Create));
      if (locked.back()->lock(0, 1, OsFile::LockNoWait) != kRangeLocked) return 5;
    }
    if (!errs.empty()) return 6;
    OsFile extra(S(path), "extra", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
    extra.write("x", 0, 1);
    if (std::find(errs.begin(), errs.end(), ENOLCK) == errs.end()) return 7;
    for (auto& l : locked)  // every lock is still held
      if (l->pfiles(0).lockCount() != 1 || !l->isOpen()) return 8;
    return 0;
  });
  EXPECT_EQ(0, st);
}

// ---- record locks --------------------------------------------------------------------

// A helper process that holds a lock until told to go.
struct Holder {
  zftest::ChildRun child;
  int go[2] = {-1, -1};
};

Holder holdLock(std::string const& dir, int64_t offset, int64_t length, std::string const& marker) {
  Holder h;
  int ready[2];
  EXPECT_EQ(0, pipe(ready));
  EXPECT_EQ(0, pipe(h.go));
  h.child = zftest::startChild([&]() -> int {
    ::close(ready[0]);
    ::close(h.go[1]);
    OsFile f(S(dir), "locked", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
    char ok = f.lock(offset, length, OsFile::LockNoWait) == kRangeLocked ? 'y' : 'n';
    ssize_t w = write(ready[1], &ok, 1);
    (void)w;
    char c;
    ssize_t r = read(h.go[0], &c, 1);
    (void)r;
    if (!marker.empty()) {
      int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT, 0666);
      ::close(fd);
    }
    f.free(offset, length);
    return 0;
  });
  ::close(ready[1]);
  ::close(h.go[0]);
  char c = 0;
  EXPECT_EQ(1, read(ready[0], &c, 1));
  EXPECT_EQ('y', c);
  ::close(ready[0]);
  return h;
}

void release(Holder& h) {
  ssize_t w = write(h.go[1], "x", 1);
  (void)w;
  ::close(h.go[1]);
  h.child.wait();
}

TEST(FileLockTest, BusyRangesTestsAndOwner) {
  zftest::TempDir dir;
  Holder h = holdLock(dir.path(), 100, 10, "");
  OsFile f(S(dir.path()), "locked", "dat", OsFile::Read | OsFile::Write);
  EXPECT_EQ(kRangeLockBusy, f.lock(105, 1, OsFile::LockNoWait));
  EXPECT_EQ(kRangeLockBusy, f.lock(100, 10, OsFile::LockTest));
  EXPECT_EQ(kRangeLocked, f.lock(0, 50, OsFile::LockTest));  // elsewhere: free
  EXPECT_EQ(h.child.pid(), f.lockOwner(100, 1));
  EXPECT_EQ(0, f.lockOwner(0, 1));
  EXPECT_EQ(kFileLockBusy, f.lock(OsFile::LockNoWait));  // the whole file
  EXPECT_EQ(-2, f.read(nullptr, 100, 1, OsFile::LockNoWait));
  EXPECT_EQ(kFileLocked, f.lock(int32_t(0)));  // no locking asked
  EXPECT_EQ(1u, f.pfiles(0).lockCount());
  release(h);
  EXPECT_EQ(kRangeLocked, f.lock(100, 10, OsFile::LockNoWait));
  EXPECT_EQ(kRangeLocked, f.lock(200, 10, OsFile::LockNoWait));
  EXPECT_EQ(3u, f.pfiles(0).lockCount());  // every range taken counts
  f.free(100, 10);
  EXPECT_EQ(2u, f.pfiles(0).lockCount());
  f.free(0, 0);
  EXPECT_EQ(0u, f.pfiles(0).lockCount());
  f.free(0, 0);
  EXPECT_EQ(0u, f.pfiles(0).lockCount());

  // A lock that fails with an error (a read-only descriptor cannot take an
  // exclusive lock) is not held.
  OsFile ro(S(dir.path()), "locked", "dat", OsFile::Read);
  EXPECT_EQ(kRangeLockError, ro.lock(0, 10, OsFile::LockNoWait));
  EXPECT_EQ(EBADF, ro.errNo());
  EXPECT_EQ(kFileLockError, ro.lock(OsFile::LockNoWait));
  EXPECT_EQ(0u, ro.pfiles(0).lockCount());

  // A locking read that fails (a write-only descriptor) lets its range go.
  OsFile w(S(dir.path()), "locked", "dat", OsFile::Write);
  char buf[10];
  EXPECT_EQ(-1, w.read(buf, 0, 10, OsFile::LockNoWait));
  EXPECT_EQ(0u, w.pfiles(0).lockCount());
  std::string path = dir.path();
  EXPECT_EQ(kRangeLocked, inChild([&]() -> int {
              OsFile probe(S(path), "locked", "dat", OsFile::Read | OsFile::Write);
              return probe.lock(0, 10, OsFile::LockTest);
            }));
}

TEST(FileLockTest, WaitingLockShowsNoticeAndKeepsAPendingAlarm) {
  zftest::TempDir dir;
  std::string marker = dir.file("released");
  std::string errFile = dir.file("stderr.txt");
  Holder h = holdLock(dir.path(), 0, 100, marker);

  std::string path = dir.path();
  zftest::ChildRun waiter = zftest::startChild([&]() -> int {
    // The notice goes to a file the parent watches; the checks report on
    // the captured error output.
    int checks = dup(2);
    int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(fd, 2);
    struct sigaction sa = {};
    sa.sa_handler = [](int) {};
    sigaction(SIGALRM, &sa, nullptr);
    alarm(60);  // a pending alarm of the program's own
    OsFile f(S(path), "locked", "dat", OsFile::Read | OsFile::Write);
    int r = f.lock(50, 10, OsFile::LockWait);
    unsigned left = alarm(0);
    dup2(checks, 2);
    ZF_CHILD_CHECK(r == kRangeLocked);
    ZF_CHILD_CHECK(::access(marker.c_str(), F_OK) == 0);  // got it only after the release
    ZF_CHILD_CHECK(left != 0);  // the pending alarm was kept
    ZF_CHILD_CHECK(!had_alarm);
    return 0;
  });
  // Release once the waiter has shown its notice.
  for (int i = 0; i < 600; ++i) {
    if (zftest::readFile(errFile).find("TRYLOCK") != std::string::npos) break;
    usleep(20000);
  }
  EXPECT_NE(std::string::npos, zftest::readFile(errFile).find("TRYLOCK"));
  release(h);
  zftest::RunResult r = waiter.wait();
  EXPECT_EQ(0, r.status) << r.err;
}

TEST(FileLockTest, AKilledHolderReleasesItsLocks) {
  zftest::TempDir dir;
  Holder h = holdLock(dir.path(), 0, 0, "");
  OsFile f(S(dir.path()), "locked", "dat", OsFile::Read | OsFile::Write);
  EXPECT_EQ(kRangeLockBusy, f.lock(10, 1, OsFile::LockNoWait));
  h.child.stop();
  ::close(h.go[1]);
  EXPECT_EQ(kRangeLocked, f.lock(10, 1, OsFile::LockNoWait));
}

TEST(FileLockTest, ThePoolKeepsDescriptorsOfFilesWithLocks) {
  zftest::TempDir dir;
  std::string path = dir.path();
  int st = inChild([&]() -> int {
    struct rlimit rl = {12, 12};
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0) return 2;
    OsFile locker(S(path), "shared", "dat", OsFile::Read | OsFile::Write | OsFile::Create);
    OsFile reader(S(path), "shared", "dat", OsFile::Read | OsFile::Write);
    if (locker.lock(0, 10, OsFile::LockNoWait) != kRangeLocked) return 3;
    char b[4];
    reader.read(b, 0, 1);  // a second descriptor of the same file, no locks of its own
    std::vector<OsFile*> others;
    for (int i = 0; i < 40; ++i) {
      others.push_back(new OsFile(S(path), S("o" + std::to_string(i)), "dat",
                                  OsFile::Read | OsFile::Write | OsFile::Create));
      if (others.back()->write("x", 0, 1) != 1) return 4;
    }
    // Another process must still find the range locked.
    int child = zftest::statusOfChild([&]() -> int {
      OsFile probe(S(path), "shared", "dat", OsFile::Read | OsFile::Write);
      return probe.lock(0, 10, OsFile::LockTest) == kRangeLockBusy ? 0 : 1;
    });
    for (OsFile* o : others) delete o;
    if (child != 0) return 5;
    // Closing the other file object explicitly, even with locks of its own,
    // keeps the locker's lock too, until the locker lets it go; then the
    // closed object's locks go as well.
    if (reader.lock(20, 10, OsFile::LockNoWait) != kRangeLocked) return 8;
    reader.close();
    if (zftest::statusOfChild([&]() -> int {
          OsFile probe(S(path), "shared", "dat", OsFile::Read | OsFile::Write);
          return probe.lock(0, 10, OsFile::LockTest) == kRangeLockBusy ? 0 : 1;
        }) != 0)
      return 6;
    // Objects of the locked file come and go: their descriptors wait aside
    // and are taken up again instead of piling up.
    for (int i = 0; i < 50; ++i) {
      OsFile t(S(path), "shared", "dat", OsFile::Read | OsFile::Write);
      if (t.read(b, 0, 1) < 0) return 9;
    }
    locker.free(0, 10);
    if (zftest::statusOfChild([&]() -> int {
          OsFile probe(S(path), "shared", "dat", OsFile::Read | OsFile::Write);
          return probe.lock(0, 30, OsFile::LockTest) == kRangeLocked ? 0 : 1;
        }) != 0)
      return 7;
    return 0;
  });
  EXPECT_EQ(0, st);
}

}  // namespace
