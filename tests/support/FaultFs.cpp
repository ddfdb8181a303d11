// The fault-injecting file-operations table (see FaultFs.h).
#include "FaultFs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zftest {

namespace {

FaultFs* current = nullptr;

// The whole content of `path` read with the system calls; empty when absent.
std::string contentOf(std::string const& path) {
  std::string out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[8192];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  ::close(fd);
  return out;
}

bool isRegular(std::string const& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

FaultFs::FaultFs()
    : ops_{&FaultFs::open, &FaultFs::close, &FaultFs::pread, &FaultFs::pwrite, &FaultFs::write,
           &FaultFs::fsync, &FaultFs::ftruncate, &FaultFs::rename, &FaultFs::unlink} {
  current = this;
  previous_ = setFileOps(&ops_);
}

FaultFs::~FaultFs() {
  setFileOps(previous_);
  current = nullptr;
}

void FaultFs::failWrite(int n, int err, std::string match, int times) {
  write_ = Plan{n, err, std::move(match), times};
}
void FaultFs::failSync(int n, int err, std::string match, int times) {
  sync_ = Plan{n, err, std::move(match), times};
}
void FaultFs::failRename(int n, int err, std::string match, int times) {
  rename_ = Plan{n, err, std::move(match), times};
}

int FaultFs::writes(std::string const& path) const {
  auto it = writes_.find(path);
  return it == writes_.end() ? 0 : it->second;
}

int FaultFs::syncs(std::string const& path) const {
  auto it = syncs_.find(path);
  return it == syncs_.end() ? 0 : it->second;
}

std::string FaultFs::pathOf(int fd) const {
  auto it = fds_.find(fd);
  return it == fds_.end() ? std::string() : it->second;
}

// Counts a call on `path` against the plan; true when this call must fail.
bool FaultFs::fire(Plan& plan, std::string const& path) {
  if (plan.times <= 0 || plan.countdown <= 0) return false;
  if (!plan.match.empty() && path.find(plan.match) == std::string::npos) return false;
  if (plan.countdown > 1) {
    --plan.countdown;
    return false;
  }
  --plan.times;
  ++injected_;
  errno = plan.err;
  return true;
}

bool FaultFs::writeFails(int fd) { return fire(write_, pathOf(fd)); }

int FaultFs::open(char const* path, int flags, mode_t mode) {
  FaultFs& self = *current;
  std::string p(path);
  bool existed = ::access(path, F_OK) == 0;
  std::string before = existed && isRegular(p) ? contentOf(p) : std::string();
  int fd = ::open(path, flags, mode);
  if (fd < 0) return fd;
  self.fds_[fd] = p;
  if (isRegular(p) && self.files_.find(p) == self.files_.end()) {
    File f;
    f.existed = existed;
    f.durable = existed ? before : std::string();
    self.files_[p] = f;
  }
  return fd;
}

int FaultFs::close(int fd) {
  current->fds_.erase(fd);
  return ::close(fd);
}

ssize_t FaultFs::pread(int fd, void* buffer, size_t length, off_t offset) {
  return ::pread(fd, buffer, length, offset);
}

ssize_t FaultFs::pwrite(int fd, void const* buffer, size_t length, off_t offset) {
  FaultFs& self = *current;
  if (self.writeFails(fd)) return -1;
  ssize_t n = ::pwrite(fd, buffer, length, offset);
  if (n >= 0) ++self.writes_[self.pathOf(fd)];
  return n;
}

ssize_t FaultFs::write(int fd, void const* buffer, size_t length) {
  FaultFs& self = *current;
  if (self.writeFails(fd)) return -1;
  ssize_t n = ::write(fd, buffer, length);
  if (n >= 0) ++self.writes_[self.pathOf(fd)];
  return n;
}

int FaultFs::fsync(int fd) {
  FaultFs& self = *current;
  std::string p = self.pathOf(fd);
  if (self.fire(self.sync_, p)) return -1;
  int r = ::fsync(fd);
  if (r != 0) return r;
  ++self.syncs_[p];
  self.events_.push_back("sync " + p);
  auto it = self.files_.find(p);
  if (it != self.files_.end()) {
    it->second.durable = contentOf(p);
    it->second.synced = true;
  }
  return 0;
}

int FaultFs::ftruncate(int fd, off_t length) {
  FaultFs& self = *current;
  if (self.writeFails(fd)) return -1;
  return ::ftruncate(fd, length);
}

int FaultFs::rename(char const* from, char const* to) {
  FaultFs& self = *current;
  std::string f(from), t(to);
  if (self.fire(self.rename_, f)) return -1;
  int r = ::rename(from, to);
  if (r != 0) return r;
  self.events_.push_back("rename " + f + " " + t);
  auto it = self.files_.find(f);
  if (it != self.files_.end()) {
    File moved = it->second;
    self.files_.erase(it);
    self.files_[t] = moved;
  } else {
    self.files_.erase(t);
  }
  for (auto& fd : self.fds_)
    if (fd.second == f) fd.second = t;
  return 0;
}

int FaultFs::unlink(char const* path) {
  FaultFs& self = *current;
  int r = ::unlink(path);
  if (r == 0) {
    self.events_.push_back("unlink " + std::string(path));
    self.files_.erase(path);
  }
  return r;
}

void FaultFs::crash() {
  for (auto it = files_.begin(); it != files_.end();) {
    File const& f = it->second;
    if (!f.existed && !f.synced) {
      ::unlink(it->first.c_str());
      it = files_.erase(it);
      continue;
    }
    // Rewritten in place, so that descriptors still open see the loss too.
    int fd = ::open(it->first.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      if (::ftruncate(fd, 0) == 0) {
        size_t done = 0;
        while (done < f.durable.size()) {
          ssize_t n = ::pwrite(fd, f.durable.data() + done, f.durable.size() - done, off_t(done));
          if (n <= 0) break;
          done += size_t(n);
        }
      }
      ::close(fd);
    }
    ++it;
  }
}

}  // namespace zftest
