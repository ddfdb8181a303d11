// Starting a shell command as a child with pipes to its standard input and
// output. The parent's ends are made close-on-exec before the fork, the
// child's ends are moved onto descriptors 0 and 1, and any standard
// descriptor the caller did not ask for can be pointed at the null device,
// so the child neither reads the terminal nor writes over the screen.
#include <zeph/IoPipe.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace {

void closeIf(int fd) {
  if (fd >= 0) ::close(fd);
}

// In the child: puts fd on target (or the null device when fd is -1 and
// toNull is set).
void placeIn(int fd, int target, bool toNull, int flags) {
  if (fd >= 0) {
    if (fd != target) ::dup2(fd, target);
    return;
  }
  if (!toNull) return;
  int nul = ::open("/dev/null", flags);
  if (nul >= 0 && nul != target) {
    ::dup2(nul, target);
    ::close(nul);
  }
}

}  // namespace

extern "C" int ioPipe(char const* command, int* readFd, int* writeFd, bool errToNull, bool stdToNull) {
  if (command == nullptr) return -1;
  int out[2] = {-1, -1};  // child's standard output -> parent
  int in[2] = {-1, -1};   // parent -> child's standard input
  if (readFd && ::pipe2(out, O_CLOEXEC) != 0) return -1;
  if (writeFd && ::pipe2(in, O_CLOEXEC) != 0) {
    closeIf(out[0]);
    closeIf(out[1]);
    return -1;
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    int e = errno;
    closeIf(out[0]);
    closeIf(out[1]);
    closeIf(in[0]);
    closeIf(in[1]);
    errno = e;
    return -1;
  }
  if (pid == 0) {
    // A command behaves as from a shell: default SIGPIPE and no blocked signals.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // A caller running with a standard descriptor closed may have been given
    // one of 0..2 for a pipe: lift both ends first so placing one cannot
    // overwrite the other.
    for (int* fd : {&in[0], &out[1]})
      if (*fd >= 0 && *fd < 3) {
        int lifted = ::fcntl(*fd, F_DUPFD_CLOEXEC, 3);
        if (lifted >= 0) *fd = lifted;
      }
    placeIn(in[0], 0, stdToNull, O_RDONLY);
    placeIn(out[1], 1, stdToNull, O_WRONLY);
    placeIn(-1, 2, errToNull, O_WRONLY);
    // dup2 clears close-on-exec on the targets; the originals close at exec.
    ::execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (readFd) {
    ::close(out[1]);
    *readFd = out[0];
  }
  if (writeFd) {
    ::close(in[0]);
    *writeFd = in[1];
  }
  return static_cast<int>(pid);
}

extern "C" bool isAbsolutePath(char const* path) { return path != nullptr && path[0] == '/'; }
