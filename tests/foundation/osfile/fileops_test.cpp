// Files through the durable-I/O seam: a sync reaches every physical part
// that was written, a failing write or sync is reported and leaves the file
// as the caller was told, and writes never synced are lost in a crash while
// synced ones survive it.
#include <zfound/FileOps.h>
#include <zfound/OsFile.h>
#include <zfound/PhysLayout.h>
#include <zfound/String.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/stat.h>

#include "ChildRun.h"
#include "FaultFs.h"
#include "TestSupport.h"

namespace {

String S(std::string const& s) { return String(s.c_str()); }

int const kRw = OsFile::Read | OsFile::Write | OsFile::Create;

TEST(FileOpsTest, SyncReachesEveryPartWritten) {
  zftest::TempDir dir;
  std::string a = dir.file("a"), b = dir.file("b"), c = dir.file("c");
  for (auto const& d : {a, b, c}) mkdir(d.c_str(), 0777);
  PhysLayout lay(S(dir.write("layout", "s*\tROUNDROBIN\t8K\t" + a + "," + b + "," + c + "\n")));
  zftest::FaultFs fs;
  OsFile f(lay, "striped", "dat", kRw | OsFile::Truncate, 1024);
  ASSERT_TRUE(f.ok());
  // 12 KB from offset 0: the first stripe in part 0, the start of the second
  // in part 1; part 2 is never written.
  std::string data(12 * 1024, 'x');
  ASSERT_EQ(int64_t(data.size()), f.write(data.data(), 0, int64_t(data.size())));
  EXPECT_EQ(0, f.sync());
  std::string part[3] = {toCharPtr(f.fullName(0)), toCharPtr(f.fullName(1)), toCharPtr(f.fullName(2))};
  EXPECT_EQ(1, fs.syncs(part[0]));
  EXPECT_EQ(1, fs.syncs(part[1]));
  EXPECT_EQ(0, fs.syncs(part[2]));
  // A second write to part 1 only: the next sync syncs that part alone.
  ASSERT_EQ(10, f.write("0123456789", 8192 + 100, 10));
  f.sync();
  EXPECT_EQ(1, fs.syncs(part[0]));
  EXPECT_EQ(2, fs.syncs(part[1]));
}

// A layout is stored whole or not at all: a crash right after the store
// finds the new text, and a store that fails leaves the old file as it was
// and no file beside it.
TEST(FileOpsTest, AStoredLayoutReplacesTheOldFileWhole) {
  zftest::TempDir dir;
  std::string const file = dir.write("layout", "old*\tPACKED\t/d/old\n");
  zftest::RunResult r = zftest::runInChild([&]() -> int {
    zftest::FaultFs fs;
    PhysLayout lay(S(file));
    lay.addPackedEntry("new*", "/d/new");
    fs.failRename(1);
    lay.store();
    _exit(0);  // before the layout's destructor stores it again
  });
  EXPECT_EQ("old*\tPACKED\t/d/old\n", zftest::readFile(file)) << r.err;
  EXPECT_EQ(1u, std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()));
  {
    zftest::FaultFs fs;
    {
      PhysLayout lay(S(file));
      lay.addPackedEntry("new*", "/d/new");
      lay.store();
    }
    fs.crash();
  }
  EXPECT_EQ("old*\tPACKED\t/d/old\nnew*\tPACKED\t/d/new\n", zftest::readFile(file));
}

// A write or sync that keeps failing is reported to the handler with the
// operation and the file; without a terminal the file gives up after the
// retries the handler asks for: the call fails with the error recorded, and
// the bytes written before stay as they were.
TEST(FileOpsTest, AFailedWriteOrSyncIsReportedAndChangesNothingElse) {
  zftest::TempDir dir;
  std::string path = dir.path();
  zftest::RunResult r = zftest::runInChild([&]() -> int {
    static std::string reports;
    OsFile::setHandler([](char const* report, int) -> int {
      reports += report;
      return 0;
    });
    zftest::FaultFs fs;
    OsFile f(S(path), "data", "dat", kRw);
    ZF_CHILD_CHECK(f.write("AAAA", 0, 4) == 4);
    fs.failWrite(1, ENOSPC, "", 100);
    ZF_CHILD_CHECK(f.write("BBBB", 4, 4) == -1);
    ZF_CHILD_CHECK(f.errNo() == ENOSPC);
    ZF_CHILD_CHECK(reports.find("write(") != std::string::npos);
    ZF_CHILD_CHECK(reports.find(path + "/data.dat") != std::string::npos);
    fs.failWrite(0);
    char back[8] = {};
    ZF_CHILD_CHECK(f.read(back, 0, 8) == 4);
    ZF_CHILD_CHECK(std::string(back, 4) == "AAAA");
    // The sync that fails leaves its error on the file.
    std::string file = path + "/data.dat";
    reports.clear();
    fs.failSync(1, EIO, "", 100);
    f.sync();
    ZF_CHILD_CHECK(f.errNo() == EIO);
    ZF_CHILD_CHECK(fs.syncs(file) == 0);
    ZF_CHILD_CHECK(reports.find("sync:  (5)") != std::string::npos);
    return 0;
  });
  EXPECT_EQ(0, r.status) << r.err;
}

// A sync that failed says so, and leaves the part's writes due: the next
// sync tries them again instead of answering at once.
TEST(FileOpsTest, AFailedSyncIsRetriedByTheNextSync) {
  zftest::TempDir dir;
  std::string path = dir.path();
  zftest::RunResult r = zftest::runInChild([&]() -> int {
    OsFile::setHandler([](char const*, int) -> int { return 0; });
    zftest::FaultFs fs;
    OsFile f(S(path), "data", "dat", kRw);
    std::string file = path + "/data.dat";
    ZF_CHILD_CHECK(f.write("AAAA", 0, 4) == 4);
    fs.failSync(1, EIO, "", 100);  // fails until the disk recovers
    ZF_CHILD_CHECK(f.sync() == -1);
    ZF_CHILD_CHECK(f.errNo() == EIO);
    ZF_CHILD_CHECK(fs.syncs(file) == 0);
    fs.failSync(0);
    ZF_CHILD_CHECK(f.sync() == 0);
    ZF_CHILD_CHECK(fs.syncs(file) == 1);
    fs.crash();
    ZF_CHILD_CHECK(zftest::readFile(file) == "AAAA");
    return 0;
  });
  EXPECT_EQ(0, r.status) << r.err;
}

// With a handler that asks for a retry, the failed write is reported once
// and the retry completes it: the file holds every byte.
TEST(FileOpsTest, ARetriedWriteCompletesTheFile) {
  zftest::TempDir dir;
  std::string path = dir.path();
  zftest::RunResult r = zftest::runInChild([&]() -> int {
    static int reports = 0;
    OsFile::setHandler([](char const*, int err) -> int {
      if (err == EIO) ++reports;
      return 0;
    });
    zftest::FaultFs fs;
    OsFile f(S(path), "data", "dat", kRw);
    fs.failWrite(2);
    ZF_CHILD_CHECK(f.write("AAAA", 0, 4) == 4);
    ZF_CHILD_CHECK(f.write("BBBB", 4, 4) == 4);
    ZF_CHILD_CHECK(reports == 1);
    ZF_CHILD_CHECK(zftest::readFile(path + "/data.dat") == "AAAABBBB");
    return 0;
  });
  EXPECT_EQ(0, r.status) << r.err;
}

TEST(FileOpsTest, UnsyncedWritesAreLostInACrashAndSyncedOnesKept) {
  zftest::TempDir dir;
  std::string kept = dir.file("kept.dat"), fresh = dir.file("fresh.dat");
  {
    zftest::FaultFs fs;
    OsFile f(S(dir.path()), "kept", "dat", kRw);
    ASSERT_EQ(5, f.write("first", 0, 5));
    f.sync();
    ASSERT_EQ(11, f.write("second text", 0, 11));
    OsFile g(S(dir.path()), "fresh", "dat", kRw);
    ASSERT_EQ(3, g.write("new", 0, 3));
    fs.crash();
    // The descriptor still open sees what survived, as a reopened one does.
    char back[16] = {};
    EXPECT_EQ(5, f.read(back, 0, 16));
    EXPECT_EQ("first", std::string(back, 5));
  }
  EXPECT_EQ("first", zftest::readFile(kept));
  struct stat st;
  EXPECT_NE(0, ::stat(fresh.c_str(), &st));  // created, never synced: gone
  OsFile again(S(dir.path()), "kept", "dat", OsFile::Read);
  char back[16] = {};
  EXPECT_EQ(5, again.read(back, 0, 16));
  EXPECT_EQ(&systemFileOps(), &fileOps());  // the injector put the system calls back
}

}  // namespace
