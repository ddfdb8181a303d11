// Pipe streams over the run-time layer's ioPipe: the child is started before
// the stream base is made, waited for exactly once, and writes are made with
// SIGPIPE held back so that a command that stopped reading sets the stream's
// error bit instead of ending this process.
#include <winkit/Pipes.h>

#include <zeph/IoPipe.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs the base flush with SIGPIPE blocked; a SIGPIPE raised by it is taken
// back, so only the write's EPIPE (the error bit) remains.
void flushWithoutSigpipe(OutputFdFile& out) {
  sigset_t pipeSet, old, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  sigpending(&pending);
  bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  sigprocmask(SIG_BLOCK, &pipeSet, &old);
  out.OutputFdFile::flush();
  if (!wasPending) {
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      struct timespec zero = {0, 0};
      sigtimedwait(&pipeSet, nullptr, &zero);
    }
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

long wait_for_child(long pid) {
  if (pid <= 0) return -1;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(static_cast<pid_t>(pid), &status, 0);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -1 : status;
}

PipeChild::PipeChild(String const& command, bool wantRead, bool wantWrite, bool errToNull, bool stdToNull)
    : pid_(-1), readFd_(-1), writeFd_(-1), waited_(false), status_(-1) {
  if (command.isNull() || command.isHighest()) return;
  pid_ = ioPipe(toCharPtr(command), wantRead ? &readFd_ : nullptr, wantWrite ? &writeFd_ : nullptr, errToNull,
                stdToNull);
  if (pid_ < 0) {
    pid_ = -1;
    readFd_ = writeFd_ = -1;
  }
}

long PipeChild::waitChild() {
  if (!waited_ && pid_ > 0) {
    status_ = wait_for_child(pid_);
    waited_ = true;
  }
  return status_;
}

// ---- InputPipe ------------------------------------------------------------

InputPipe::InputPipe(String const& command, bool errToNull, bool stdToNull, short bufferSize)
    : PipeChild(command, true, false, errToNull, stdToNull), InputFdFile(readFd_, bufferSize) {
  if (pid_ == -1) addState(ErrorBit);
}

InputPipe::~InputPipe() {
  closeFd(readFd_);
  waitChild();
}

int InputPipe::fill() {
  int c = InputFdFile::fill();
  if ((state() & EofBit) && pid_ > 0 && !waited_) {
    if (waitChild() != 0) addState(ErrorBit);
  }
  return c;
}

// ---- OutputPipe -----------------------------------------------------------

OutputPipe::OutputPipe(String const& command, bool errToNull, bool stdToNull, short bufferSize)
    : PipeChild(command, false, true, errToNull, stdToNull), OutputFdFile(writeFd_, bufferSize) {
  if (pid_ == -1) addState(ErrorBit);
}

OutputPipe::~OutputPipe() {
  flush();
  closeFd(writeFd_);
  waitChild();
}

void OutputPipe::flush() { flushWithoutSigpipe(*this); }

// ---- InOutPipe ------------------------------------------------------------

InOutPipe::InOutPipe(String const& command, bool errToNull, bool stdToNull, short bufferSize)
    : PipeChild(command, true, true, errToNull, stdToNull), InputFdFile(readFd_, bufferSize),
      OutputFdFile(writeFd_, bufferSize) {
  if (pid_ == -1) {
    InputFdFile::addState(ErrorBit);
    OutputFdFile::addState(ErrorBit);
  }
}

InOutPipe::~InOutPipe() {
  flush();
  closeFd(writeFd_);
  closeFd(readFd_);
  waitChild();
}

void InOutPipe::flush() { flushWithoutSigpipe(*this); }

void InOutPipe::close() {
  flush();
  closeFd(writeFd_);
  // Later writes have nowhere to go.
  OutputFdFile::addState(ErrorBit);
}

// ---- Printer --------------------------------------------------------------

Printer::Printer() : OutputPipe(String("PRINTER").getEnv(), true, true, 1024) {}
