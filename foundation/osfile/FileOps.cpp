// The durable-I/O seam's production table (the plain system calls) and the
// pointer to the table in force.
#include <zfound/FileOps.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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
