// The state file: the bytes of header and stamps, empty and header-only
// files, damage that gives "CORRUPTSTFILE", and atomic replacement through
// the durable-I/O seam.
#include "CoreFixture.h"
#include "FaultFs.h"

#include <zfound/Portable.h>

#include <zfound/FileOps.h>

#include <cerrno>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

using namespace coretest;

namespace {

class StateFileTest : public CoreTest {
protected:
  std::string path() { return tmp.file("ombrel.state"); }
  std::string bytes() { return zftest::readFile(path()); }
  // The names in the state file's directory.
  std::vector<std::string> dirNames() {
    std::vector<std::string> v;
    DIR* d = ::opendir(tmp.path().c_str());
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.')
        v.push_back(e->d_name);
    ::closedir(d);
    return v;
  }
};

TEST_F(StateFileTest, HeaderAndStampsBytes) {
  TimeStamp cp;
  cp.setNow();
  cp.setUserId(9);
  {
    StateFile s(String(path().c_str()));
    s.parity = 1;
    s.lastChkPoint = cp;
    s.restartMarker = -1;
    s.journalPos = 4096;
    s.journalFile = String(std::string(40, 'j').c_str());
    s.secondName = String();
    s.cachePageSize = 8;
    ASSERT_TRUE(s.writeHeader());
  }
  std::string b = bytes();
  ASSERT_EQ(b.size(), 92u);
  EXPECT_EQ(uint32_t(ldlong(b.data())), 0xCABE9010u);
  EXPECT_EQ(ldlong(b.data() + 4), 1);
  char stamp[8];
  char* sp = stamp;
  cp.store(sp);
  EXPECT_EQ(b.substr(8, 8), std::string(stamp, 8));
  EXPECT_EQ(ldlong(b.data() + 16), -1);
  EXPECT_EQ(ldlong(b.data() + 20), 4096);
  EXPECT_EQ(b.substr(24, 32), std::string(31, 'j') + '\0');
  EXPECT_EQ(b.substr(56, 32), std::string(32, '\0'));
  EXPECT_EQ(ldlong(b.data() + 88), 8);

  StateFile s(String(path().c_str()));
  EXPECT_FALSE(s.readStamps());  // exactly 92 bytes
  ASSERT_TRUE(s.readHeader());
  EXPECT_EQ(s.parity, 1);
  EXPECT_EQ(s.lastChkPoint, cp);
  EXPECT_EQ(s.journalPos, 4096);
  EXPECT_EQ(zftest::str(s.journalFile), std::string(31, 'j'));
  EXPECT_EQ(s.cachePageSize, 8);

  TimeStamp v0(cp), v1(cp);
  ++v1;
  s.versionStamp(0) = v0;
  s.versionStamp(1) = v1;
  s.nStamps = 2;
  ASSERT_TRUE(s.writeStamps());
  b = bytes();
  ASSERT_EQ(b.size(), 1072u);
  EXPECT_EQ(ldlong(b.data() + 92), 2);
  sp = stamp;
  v1.store(sp);
  EXPECT_EQ(b.substr(104, 8), std::string(stamp, 8));
  EXPECT_EQ(b.substr(112), std::string(1072 - 112, '\0'));
  EXPECT_EQ(uint32_t(ldlong(b.data())), 0xCABE9010u) << "header kept";

  // A new header keeps the stamps area; the file is a new one renamed into
  // place, never the old one rewritten.
  struct stat before, after;
  ASSERT_EQ(::stat(path().c_str(), &before), 0);
  s.parity = 0;
  ASSERT_TRUE(s.writeHeader());
  ASSERT_EQ(::stat(path().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  b = bytes();
  ASSERT_EQ(b.size(), 1072u);
  EXPECT_EQ(ldlong(b.data() + 4), 0);
  EXPECT_EQ(ldlong(b.data() + 92), 2);
  StateFile r(String(path().c_str()));
  ASSERT_TRUE(r.readHeader());
  ASSERT_TRUE(r.readStamps());
  EXPECT_EQ(r.nStamps, 2);
  EXPECT_EQ(r.versionStamp(1), v1);
  // Every write replaced the file whole: nothing else is left beside it.
  EXPECT_EQ(dirNames(), std::vector<std::string>{"ombrel.state"});
}

TEST_F(StateFileTest, EmptyFileReadsNothingWithoutAMessage) {
  StateFile s(String(path().c_str()));
  EXPECT_FALSE(s.readHeader());
  EXPECT_FALSE(s.readStamps());
  EXPECT_EQ(s.parity, -1);
  EXPECT_EQ(s.cachePageSize, -1);
  EXPECT_TRUE(shown().empty());
}

TEST_F(StateFileTest, StampsWithoutAHeaderWriteAValidHeader) {
  StateFile s(String(path().c_str()));
  s.parity = 1;
  s.cachePageSize = 1;
  s.nStamps = 0;
  ASSERT_TRUE(s.writeStamps());
  StateFile r(String(path().c_str()));
  ASSERT_TRUE(r.readHeader());
  EXPECT_EQ(r.parity, 1);
  ASSERT_TRUE(r.readStamps());
  EXPECT_EQ(r.nStamps, 0);
}

// Damage: each case writes a file and expects "CORRUPTSTFILE" (fatal) from
// reading header and stamps.
TEST_F(StateFileTest, DamagedFilesAreCorrupt) {
  auto header = [](uint32_t magic, int32_t parity) {
    std::string b(92, '\0');
    stlong(int32_t(magic), b.data());
    stlong(parity, b.data() + 4);
    stlong(1, b.data() + 88);
    return b;
  };
  auto withCount = [&](int32_t n) {
    std::string b = header(0xCABE9010u, 0) + std::string(980, '\0');
    stlong(n, b.data() + 92);
    return b;
  };
  struct Case {
    char const* what;
    std::string bytes;
  } const cases[] = {
      {"bad magic", header(0xCABE9011u, 0)},
      {"short header", header(0xCABE9010u, 0).substr(0, 50)},
      {"parity 2", header(0xCABE9010u, 2)},
      {"count 123", withCount(123)},
      {"count -1", withCount(-1)},
      {"short stamps", withCount(1).substr(0, 500)},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    tmp.write("ombrel.state", c.bytes);
    std::string p = path();
    displayErrorHandler(old_);
    zftest::RunResult r = zftest::runInChild([p] {
      StateFile s(String(p.c_str()));
      s.readHeader();
      s.readStamps();
      return 0;
    });
    displayErrorHandler(recordWarning);
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("is corrupt"), std::string::npos) << r.out << r.err;
  }
  tmp.write("ombrel.state", withCount(122));
  StateFile ok(String(path().c_str()));
  EXPECT_TRUE(ok.readHeader());
  EXPECT_TRUE(ok.readStamps());
  EXPECT_EQ(ok.nStamps, 122);
}


TEST_F(StateFileTest, AnUnreadableFileIsNotReplaced) {
  tmp.write("ombrel.state", "unreadable");
  // Every read of a stored file fails with an I/O error.
  FileOps failing = systemFileOps();
  failing.pread = [](int, void*, size_t, off_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  FileOps const* before = setFileOps(&failing);
  MsgHandler oldAri = ariErrorHandler(recordWarning);
  {
    StateFile s(String(path().c_str()));
    s.parity = 0;
    s.nStamps = 0;
    EXPECT_FALSE(s.writeHeader());
    EXPECT_FALSE(s.writeStamps());
  }
  ariErrorHandler(oldAri);
  setFileOps(before);
  EXPECT_EQ(bytes(), "unreadable") << "what could not be read stays in place";
  EXPECT_EQ(dirNames().size(), 1u);
}

// The state file is root's own: created 0600 (also each replacement,
// whatever the umask), and never opened through a symbolic link. A link,
// dangling or not, or a name that is no regular file stops the start with a
// report naming it, and the link's target is left as it was.
TEST_F(StateFileTest, CreatedPrivateAndALinkOrNonRegularFileIsRefused) {
  mode_t const oldMask = ::umask(022);
  {
    StateFile s(String(path().c_str()));
    struct stat st {};
    ASSERT_EQ(::stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    s.parity = 1;
    s.cachePageSize = 1;
    ASSERT_TRUE(s.writeHeader());
    ASSERT_EQ(::stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the replacement";
  }
  ::umask(oldMask);
  std::string const target = tmp.write("target", "kept");
  struct Case {
    char const* what;
    std::function<void(std::string const&)> make;
  } const cases[] = {
      {"link to a file", [&](std::string const& p) { ASSERT_EQ(::symlink(target.c_str(), p.c_str()), 0); }},
      {"dangling link", [&](std::string const& p) { ASSERT_EQ(::symlink(tmp.file("none").c_str(), p.c_str()), 0); }},
      {"directory", [](std::string const& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }},
      {"pipe", [](std::string const& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string const p = tmp.file(std::string("st-") + c.what);
    c.make(p);
    displayErrorHandler(old_);
    zftest::RunResult r = zftest::runInChild([p] {
      StateFile s(String(p.c_str()));
      s.readHeader();
      s.parity = 0;
      s.writeHeader();
      return 0;
    });
    displayErrorHandler(recordWarning);
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("is a symbolic link or not a regular file; the server does not start: " + p), std::string::npos)
        << r.out << r.err;
  }
  EXPECT_EQ(zftest::readFile(target), "kept");
  EXPECT_FALSE(std::filesystem::exists(tmp.file("none")));
}

// A replacement goes through the seam: the new file is synced, renamed over
// the old one, then the directory is synced. When the sync of the new file
// or the rename fails, the write is reported and the old file stays whole
// with nothing left beside it.
TEST_F(StateFileTest, ReplacementGoesThroughTheSeamAndAFailedStepKeepsTheOldFile) {
  {
    StateFile s(String(path().c_str()));
    s.parity = 1;
    s.cachePageSize = 8;
    s.nStamps = 0;
    zftest::FaultFs fs;
    ASSERT_TRUE(s.writeStamps());
    std::vector<std::string> const& ev = fs.events();
    ASSERT_EQ(ev.size(), 3u);
    std::string fresh = ev[0].substr(5);
    EXPECT_EQ(ev[0], "sync " + fresh);
    EXPECT_EQ(ev[1], "rename " + fresh + " " + path());
    EXPECT_EQ(ev[2], "sync " + tmp.path());
  }
  std::string const before = bytes();
  ASSERT_EQ(before.size(), size_t(StateFile::storeLength));
  for (char const* step : {"sync", "rename"}) {
    shown().clear();
    {
      zftest::FaultFs fs;
      if (std::string(step) == "sync")
        fs.failSync(1, EIO, ".new");
      else
        fs.failRename(1, EIO, ".new");
      StateFile s(String(path().c_str()));
      ASSERT_TRUE(s.readHeader()) << step;
      s.parity = 0;
      s.cachePageSize = 16;
      EXPECT_FALSE(s.writeHeader()) << step;
      EXPECT_EQ(fs.injected(), 1) << step;
      fs.crash();
    }
    EXPECT_TRUE(sawWarning("Cannot write the state file " + path())) << step;
    EXPECT_EQ(bytes(), before) << step;
    EXPECT_EQ(dirNames(), std::vector<std::string>{"ombrel.state"}) << step;
  }
}

}  // namespace
