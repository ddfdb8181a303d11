// Helpers shared by the test suites: a private temporary directory removed
// with everything in it, an environment variable set for one scope, and a
// runner that starts a program and collects its status and output.
// Tests use these so that they never touch fixed paths or leave files behind.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

class String;

namespace zftest {

// A String as test output: "" for null, "(high)" for the highest value,
// otherwise its characters (NULs included).
std::string str(String const& s);

// A fresh directory under $TMPDIR (or /tmp); removed recursively on destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(TempDir const&) = delete;
  TempDir& operator=(TempDir const&) = delete;

  // The directory's absolute path.
  std::string const& path() const { return path_; }
  // path() + "/" + name.
  std::string file(std::string const& name) const;
  // Writes `text` to path()/name (creating parent directories) and returns the path.
  std::string write(std::string const& name, std::string const& text) const;

private:
  std::string path_;
};

// Sets (or, with unset=true, removes) an environment variable for the life
// of the object and restores the previous state afterwards.
class ScopedEnv {
public:
  ScopedEnv(std::string name, std::string const& value, bool unset = false);
  ~ScopedEnv();
  ScopedEnv(ScopedEnv const&) = delete;
  ScopedEnv& operator=(ScopedEnv const&) = delete;

private:
  std::string name_;
  bool hadOld_ = false;
  std::string old_;
};

// What a finished child process left.
struct RunResult {
  int status = -1;     // exit status, or 128 + signal number when killed
  bool signalled = false;
  std::string out;     // everything written to standard output
  std::string err;     // everything written to standard error
};

// Runs `argv` (argv[0] is a path or a name looked up on PATH) with `input`
// on its standard input and `env` added to the environment; kills it after
// `timeoutSec` seconds.
RunResult runProgram(std::vector<std::string> const& argv, std::string const& input = "",
                     std::map<std::string, std::string> const& env = {}, int timeoutSec = 60);

// Collects what the child `pid` writes on `outFd` and `errFd` (both closed
// here), writes `input` to `inFd` (-1 for none), waits for the child and
// returns its status; kills it after `timeoutSec` seconds.
RunResult collectChild(pid_t pid, int outFd, int errFd, int inFd, std::string const& input, int timeoutSec);

// Reads a whole file; empty when it cannot be read.
std::string readFile(std::string const& path);

// Bytes from..from+n of s (cut at its end) as upper-case hex pairs
// separated by blanks: "7E 3A C1 C0".
std::string hexBytes(std::string const& s, size_t from, size_t n);

// The path of a program built into the build tree's bin directory.
std::string binPath(std::string const& program);

// The texts that recordWarning received, in order; tests clear it as they go.
std::vector<std::string>& shown();
// True when one of the texts in shown() holds `part`.
bool wasShown(std::string const& part);

// A report handler (display, warning, error) that keeps the text in shown()
// and lets the program go on.
int recordWarning(int, char const*, char const* text);

// Runs the foundation's start-up once for this test process, as the program
// `name` (a "name-version" text) with the given further arguments; later
// calls do nothing. Every suite that needs started-up state calls this.
void startUpOnce(char const* name, std::vector<std::string> const& args = {});

}  // namespace zftest
