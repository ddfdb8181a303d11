// Buffered streams connected to a shell command run as a child process:
// InputPipe reads its standard output, OutputPipe writes its standard input,
// InOutPipe does both, Printer writes to the command named by "PRINTER".
//
// Child states: not started (process id -1, the stream in the error state
// from construction) / running -> ended (waited for once: at the end of its
// output for an InputPipe, at destruction otherwise). A command that ends
// with a non-zero status sets the error bit of an InputPipe at the end of
// its output. Writing to a command that has ended sets the error bit; it
// never ends the process by SIGPIPE.
#pragma once
#include <zfound/Stream.h>
#include <zfound/String.h>

// Waits for the child pid; its wait status, or -1 when waiting failed.
long wait_for_child(long pid);

// The child process behind a pipe stream (a base made before the stream so
// that the stream gets the descriptors).
class PipeChild {
public:
  bool operator!() const { return pid_ == -1; }
  long pid() const { return pid_; }

protected:
  // Starts the command (a null command starts nothing) with the pipes asked for.
  PipeChild(String const& command, bool wantRead, bool wantWrite, bool errToNull, bool stdToNull);
  // The wait status, waiting once.
  long waitChild();
  long pid_;
  int readFd_;
  int writeFd_;
  bool waited_;
  long status_;
};

class InputPipe : public PipeChild, public InputFdFile {
public:
  // Reads the command's standard output (flags as ioPipe's).
  InputPipe(String const& command, bool errToNull, bool stdToNull, short bufferSize);
  // Closes the descriptor and waits for the child.
  ~InputPipe() override;
  // Refills the buffer; at the end of the output waits for the child and sets
  // the error bit when its status is not 0.
  int fill() override;
  using PipeChild::operator!;
};

class OutputPipe : public PipeChild, public OutputFdFile {
public:
  // Writes the command's standard input.
  OutputPipe(String const& command, bool errToNull, bool stdToNull, short bufferSize);
  // Flushes, closes the descriptor and waits for the child.
  ~OutputPipe() override;
  // Writes the buffer; a command that has ended sets the error bit.
  void flush() override;
  using PipeChild::operator!;
};

class InOutPipe : public PipeChild, public InputFdFile, public OutputFdFile {
public:
  InOutPipe(String const& command, bool errToNull, bool stdToNull, short bufferSize);
  // Flushes, closes both descriptors and waits for the child.
  ~InOutPipe() override;
  void flush() override;
  // Flushes the output part and closes its descriptor (the child sees the
  // end of its input).
  void close();
  InputStream& input() { return *this; }
  OutputStream& output() { return *this; }
  using PipeChild::operator!;
};

class Printer : public OutputPipe {
public:
  // The command named by "PRINTER"; with it unset, no child and the error state.
  Printer();
};
