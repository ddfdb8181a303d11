// File texts with real processes: the lock that a second editor meets, the
// preserve file (its form, its mode, restoring from it, surviving a killed
// editor), new files that are never stored, and stores that fail or are
// refused leaving the data file as it was.
#include <winkit/FileText.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "ChildRun.h"
#include "FaultFs.h"
#include "TestSupport.h"

namespace {

using zftest::readFile;
using zftest::TempDir;

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s), size_t(s.length())); }

bool exists(std::string const& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

// Appends a line to an active text.
void addLine(FileText& t, char const* s) {
  t.add(Text::encodeTabs(String(s)));
  t.setModif();
}

class FileTextTest : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("filetexttests-1.0");
    ::mkdir(tmp.file("pres").c_str(), 0700);
    FileText::setPreserveDir(String(tmp.file("pres").c_str()));
    FileText::setCwd(String(tmp.path().c_str()));
  }
  void TearDown() override {
    for (pid_t p : children) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
  }
  // Forks an editor of `name` that adds `line`, stores it (or, without
  // storeData, only its preserve file), tells its preserve file's name through
  // `ready` and waits to be killed.
  pid_t editor(std::string const& name, char const* line, bool storeData, std::string const& ready) {
    pid_t pid = ::fork();
    if (pid == 0) {
      FileText t(String(name.c_str()), false);
      t.activate();
      addLine(t, line);
      bool ok = storeData ? t.store() : t.storePreserve();
      std::string msg = str(t.getPreserveName()) + (ok ? "" : " FAILED");
      int fd = ::open((ready + ".tmp").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (::write(fd, msg.data(), msg.size()) < 0) _exit(2);
      ::close(fd);
      ::rename((ready + ".tmp").c_str(), ready.c_str());
      for (;;) ::pause();
    }
    children.push_back(pid);
    for (int i = 0; i < 3000 && !exists(ready); ++i) ::usleep(10000);
    return pid;
  }
  void kill(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    children.erase(std::remove(children.begin(), children.end(), pid), children.end());
  }
  TempDir tmp;
  std::vector<pid_t> children;
};

TEST_F(FileTextTest, SecondEditorFindsTheFileLockedAndCannotStore) {
  std::string f = tmp.write("data.txt", "old\n");
  pid_t first = editor(f, "first", true, tmp.file("ready"));
  std::string pres = readFile(tmp.file("ready"));
  ASSERT_EQ(pres.find("FAILED"), std::string::npos);
  EXPECT_EQ(readFile(f), "old\nfirst\n");
  {
    FileText second(String(f.c_str()), false);
    ASSERT_TRUE(second.activate());
    EXPECT_EQ(second.getFilePerm(), FileText::PermBusy);
    EXPECT_EQ(second.nLines(), 2) << "read read-only";
    addLine(second, "second");
    EXPECT_FALSE(second.store());
    EXPECT_TRUE(second.modif());
    EXPECT_EQ(readFile(f), "old\nfirst\n") << "the first editor's file";
  }
  // Killed: the preserve file stays, the lock goes with the process.
  kill(first);
  EXPECT_TRUE(exists(pres));
  EXPECT_EQ(readFile(pres), "data.txt\t2\nold\nfirst\n");
  FileText third(String(f.c_str()), false);
  ASSERT_TRUE(third.activate());
  EXPECT_EQ(third.getFilePerm(), FileText::PermLocked);
  ::unlink(pres.c_str());
}

TEST_F(FileTextTest, TheLockOutlivesAStore) {
  std::string f = tmp.write("data.txt", "a\n");
  FileText t(String(f.c_str()), false);
  ASSERT_TRUE(t.activate());
  ASSERT_EQ(t.getFilePerm(), FileText::PermLocked);
  addLine(t, "b");
  ASSERT_TRUE(t.store());
  EXPECT_FALSE(t.modif());
  EXPECT_EQ(readFile(f), "a\nb\n");
  zftest::RunResult r = zftest::runInChild([&] {
    FileText other(String(f.c_str()), false);
    other.activate();
    ZF_CHILD_CHECK(other.getFilePerm() == FileText::PermBusy);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(FileTextTest, NewFileLeavesNoDataFileUnlessStored) {
  struct {
    bool store;
    bool kept;
  } cases[] = {{false, false}, {true, true}};
  for (auto const& c : cases) {
    std::string f = tmp.file("new.txt");
    ::unlink(f.c_str());
    FileText t(String(f.c_str()), false);
    ASSERT_TRUE(t.activate());
    EXPECT_EQ(t.getFilePerm(), FileText::PermLocked);
    std::string pres = str(t.getPreserveName());
    struct stat st;
    ASSERT_EQ(::stat(pres.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "preserve file mode";
    addLine(t, "x");
    if (c.store) {
      ASSERT_TRUE(t.store());
    }
    t.deActivate();
    EXPECT_EQ(exists(f), c.kept) << c.store;
    EXPECT_FALSE(exists(pres)) << "the preserve file goes with deactivation";
  }
}

TEST_F(FileTextTest, PreserveFileFormAndRestoring) {
  ::mkdir(tmp.file("src").c_str(), 0777);
  std::string body;
  for (int i = 1; i <= 11; ++i) body += "line " + std::to_string(i) + "\n";
  tmp.write("src/a.txt", body);
  pid_t ed = editor("src/a.txt", "\tnew", false, tmp.file("ready"));
  std::string pres = readFile(tmp.file("ready"));
  ASSERT_EQ(pres.find("FAILED"), std::string::npos);
  kill(ed);
  std::string saved = readFile(pres);
  EXPECT_EQ(saved.substr(0, 9), "a.txt\t12\n");
  EXPECT_NE(saved.find("\x1f\x1f\x1f\tnew\n"), std::string::npos) << "fill bytes kept";
  FileText r(String(pres.c_str()), true);
  EXPECT_EQ(str(r.textName()), pres);
  ASSERT_TRUE(r.activate());
  EXPECT_EQ(str(r.getTextName()), "a.txt");
  EXPECT_EQ(r.nLines(), 12);
  EXPECT_EQ(str(r.last()), "\x1f\x1f\x1f\tnew");
  ASSERT_TRUE(r.store());
  EXPECT_EQ(readFile(tmp.file("a.txt")), body + "\tnew\n") << "stored as a.txt in the working directory";
  r.deActivate();
  EXPECT_FALSE(exists(pres));
}

TEST_F(FileTextTest, DamagedPreserveFilesRestoreWithinTheWorkingDirectory) {
  struct {
    std::string content;
    char const* name;
    long lines;
  } cases[] = {
      {"", "", 0},
      {"no header line", "no header line", 0},
      {"b.txt\t-5\nx\n", "b.txt", 0},
      {"b.txt\t99999999999999999999999\nx\ny", "b.txt", 2},
      {"b.txt\t5\nonly\n", "b.txt", 1},
      {"../../up/c.txt\t1\n\x1f\x1f\x1fx\t\x1b[1\n", "c.txt", 1},
      {"b.txt\t1\n" + std::string(70000, 'z') + "\n", "b.txt", 1},
  };
  for (auto const& c : cases) {
    std::string pres = tmp.write("pres/damaged", c.content);
    FileText r(String(pres.c_str()), true);
    ASSERT_TRUE(r.activate()) << c.content.substr(0, 40);
    EXPECT_EQ(str(r.getTextName()), c.name) << c.content.substr(0, 40);
    EXPECT_EQ(r.nLines(), c.lines) << c.content.substr(0, 40);
    if (r.getFilePerm() == FileText::PermLocked) {
      EXPECT_TRUE(r.store()) << c.content.substr(0, 40);
    }
    r.deActivate();
    EXPECT_FALSE(exists(pres));
  }
  EXPECT_FALSE(exists(tmp.file("../up/c.txt")));
  EXPECT_TRUE(exists(tmp.file("c.txt"))) << "the header's last component, in the working directory";
}

TEST_F(FileTextTest, FailedWriteKeepsTheOldFileAndTheText) {
  std::string f = tmp.write("data.txt", "old\n");
  FileText t(String(f.c_str()), false);
  {
    zftest::FaultFs fs;  // sees the data file opened
    ASSERT_TRUE(t.activate());
    addLine(t, "new");
    fs.failWrite(1, ENOSPC, "data.txt");
    EXPECT_FALSE(t.store());
  }
  EXPECT_EQ(t.errNo(), ENOSPC);
  EXPECT_TRUE(t.modif());
  EXPECT_EQ(readFile(f), "old\n");
  EXPECT_TRUE(t.store()) << "once the disk has room";
  EXPECT_EQ(readFile(f), "old\nnew\n");
}

TEST_F(FileTextTest, ReadOnlyFileIsNeverWritten) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes any file";
  std::string f = tmp.write("data.txt", "keep\n");
  ::chmod(f.c_str(), 0444);
  FileText t(String(f.c_str()), false);
  ASSERT_TRUE(t.activate());
  EXPECT_EQ(t.getFilePerm(), FileText::PermReadOnly);
  EXPECT_EQ(t.nLines(), 1);
  addLine(t, "more");
  EXPECT_FALSE(t.store());
  EXPECT_EQ(readFile(f), "keep\n");
}

TEST_F(FileTextTest, AdministeredTextHasNoFiles) {
  tmp.write("bin/checkout", "#!/bin/sh\necho from the store\n");
  ASSERT_EQ(::chmod(tmp.file("bin/checkout").c_str(), 0755), 0);
  zftest::ScopedEnv path("PATH", tmp.file("bin") + ":/usr/bin:/bin");
  std::string f = tmp.file("adm.txt");
  FileText t(String(f.c_str()), false);
  EXPECT_TRUE(t.isType(TextAdmin));
  EXPECT_TRUE(t.getPreserveName().isNull());
  EXPECT_EQ(str(t.first()), "from the store");
  EXPECT_FALSE(t.activate());
  EXPECT_FALSE(t.store()) << "never locked, never written";
  EXPECT_FALSE(exists(f));
}

TEST_F(FileTextTest, AddPathResolvesAgainstTheWorkingDirectory) {
  struct {
    char const* name;
    char const* path;
  } cases[] = {{"f.txt", "/home/u/f.txt"}, {"x/../y/f.txt", "/home/u/y/f.txt"}, {"/abs/f", "/abs/f"}};
  FileText::setCwd(String("/home/u"));
  for (auto const& c : cases) {
    FileText t(String(c.name), false);
    t.addPath();
    EXPECT_EQ(str(t.getTextName()), c.path) << c.name;
  }
}

}  // namespace
