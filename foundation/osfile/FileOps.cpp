// The durable-I/O seam's production table (the plain system calls) and the
// pointer to the table in force.
#include <zfound/FileOps.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int sysOpen(char const* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int sysRename(char const* from, char const* to) { return std::rename(from, to); }

FileOps const kSystemOps = {
    sysOpen, ::close, ::pread, ::pwrite, ::write, ::fsync, ::ftruncate, sysRename, ::unlink,
};

}  // namespace

namespace zf_detail {
FileOps const* fileOps = &kSystemOps;
}

FileOps const& systemFileOps() { return kSystemOps; }

FileOps const* setFileOps(FileOps const* ops) {
  FileOps const* previous = zf_detail::fileOps;
  zf_detail::fileOps = ops ? ops : &kSystemOps;
  return previous;
}

bool syncDirectory(char const* dir) {
  int fd = fileOps().open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = fileOps().fsync(fd) == 0;
  int err = errno;
  fileOps().close(fd);
  errno = err;
  return ok;
}

bool writeAll(int fd, void const* buffer, size_t length) {
  char const* p = static_cast<char const*>(buffer);
  while (length > 0) {
    ssize_t n = fileOps().write(fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    length -= size_t(n);
  }
  return true;
}

int replaceFile(char const* path, void const* bytes, size_t length,
                std::function<bool(char const* newFile)> const& check) {
  static uint32_t counter = 0;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = std::string(path) + ".new" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    fd = fileOps().open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  struct stat st;
  if (::stat(path, &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  int err = 0;
  auto const failed = [] { return errno != 0 ? errno : EIO; };
  if (!writeAll(fd, bytes, length)) err = failed();
  if (err == 0 && fileOps().fsync(fd) != 0) err = failed();
  if (fileOps().close(fd) != 0 && err == 0) err = failed();
  if (err == 0 && check && !check(tmp.c_str())) err = kReplaceCheckFailed;
  if (err == 0 && fileOps().rename(tmp.c_str(), path) != 0) err = failed();
  if (err != 0) {
    fileOps().unlink(tmp.c_str());
    return err;
  }
  std::string dir = path;
  size_t const slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
  syncDirectory(dir.c_str());
  return 0;
}
