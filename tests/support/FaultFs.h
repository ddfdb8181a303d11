// A fault-injecting file-operations table for tests: installed over the
// durable-I/O seam (zfound/FileOps.h), it passes every call to the system,
// counts writes and syncs per path, logs the order of syncs, renames and
// removals, fails a chosen write, sync or rename, and can "crash": put every
// file it saw back to what had reached the disk by its last sync.
//
//   zftest::FaultFs fs;                 // installed until fs goes away
//   fs.failWrite(2);                    // the 2nd write from now fails (EIO)
//   fs.failWrite(1, ENOSPC, "", 1000); // every write fails from now on
//   fs.failSync(1, ENOSPC, "data.tmp"); // the next sync of a path containing
//                                       // "data.tmp" fails with ENOSPC
//   ... run the code under test ...
//   EXPECT_EQ(1, fs.syncs(path));       // successful syncs of that path
//   fs.crash();                         // drop what was never synced
//
// Paths are the texts the code passed to open (or rename). Writes are write
// and pwrite; syncs are fsync, of files and directories alike. A failing
// call does nothing and sets errno, as the system call would.
//
// The crash model: a file's durable content is its content when the
// injector first saw it opened (empty for a file the open created) and,
// after each successful sync, its content at that sync. crash() rewrites
// every such file to its durable content in place (open descriptors see the
// change) and removes the files that were created and never synced.
// Renames and removals count as durable at once, and a rename carries the
// durable content to the new name; directory syncs are counted but not
// needed for that.
//
// One injector at a time, on the test's thread; not for forked children.
#pragma once

#include <zfound/FileOps.h>

#include <map>
#include <string>
#include <vector>

namespace zftest {

class FaultFs {
public:
  FaultFs();
  ~FaultFs();
  FaultFs(FaultFs const&) = delete;
  FaultFs& operator=(FaultFs const&) = delete;

  // The nth write (1 = the next) to a path containing `match` fails with
  // `err` and writes nothing, and so do the `times - 1` such writes after it
  // (a disk that stays full). One plan per kind at a time; a new one
  // replaces it, and n = 0 cancels it.
  void failWrite(int n, int err = 5 /* EIO */, std::string match = "", int times = 1);
  // The same for syncs (fsync of a file or directory).
  void failSync(int n, int err = 5 /* EIO */, std::string match = "", int times = 1);
  // The same for renames, matched on the source path.
  void failRename(int n, int err = 5 /* EIO */, std::string match = "", int times = 1);

  // Successful writes and syncs of `path` since installation.
  int writes(std::string const& path) const;
  int syncs(std::string const& path) const;
  // Failures injected so far.
  int injected() const { return injected_; }
  // Events in order: "sync <path>", "rename <from> <to>", "unlink <path>".
  std::vector<std::string> const& events() const { return events_; }

  // Puts every file seen back to its durable content (see above).
  void crash();

private:
  struct Plan {
    int countdown = 0;  // matching calls left until the first failure
    int err = 0;
    std::string match;
    int times = 0;      // failures left to inject
  };
  struct File {
    std::string durable;
    bool existed = true;  // false: created by an open seen here
    bool synced = false;
  };
  static int open(char const* path, int flags, mode_t mode);
  static int close(int fd);
  static ssize_t pread(int fd, void* buffer, size_t length, off_t offset);
  static ssize_t pwrite(int fd, void const* buffer, size_t length, off_t offset);
  static ssize_t write(int fd, void const* buffer, size_t length);
  static int fsync(int fd);
  static int ftruncate(int fd, off_t length);
  static int rename(char const* from, char const* to);
  static int unlink(char const* path);
  bool fire(Plan& plan, std::string const& path);
  bool writeFails(int fd);
  std::string pathOf(int fd) const;

  FileOps ops_;
  FileOps const* previous_;
  Plan write_, sync_, rename_;
  int injected_ = 0;
  std::map<int, std::string> fds_;
  std::map<std::string, File> files_;
  std::map<std::string, int> writes_, syncs_;
  std::vector<std::string> events_;
};

}  // namespace zftest
