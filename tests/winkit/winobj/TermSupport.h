// What the full-screen program tests share: dump files split into screens,
// and a private tmux server in which a program runs in a real terminal, its
// pane read back row by row.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace zftest {

// The lines of a text, without their newlines.
inline std::vector<std::string> splitLines(std::string const& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// s without its trailing blanks.
inline std::string rstrip(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// Screens of a dump file of `rows` lines each.
inline std::vector<std::vector<std::string>> screens(std::string const& file, size_t rows) {
  std::vector<std::string> all = splitLines(readFile(file));
  std::vector<std::vector<std::string>> out;
  for (size_t i = 0; i + rows <= all.size(); i += rows)
    out.emplace_back(all.begin() + long(i), all.begin() + long(i + rows));
  return out;
}

// A private tmux server on its own socket inside the test's directory (so
// nothing is left behind), killed when done.
class Tmux {
public:
  explicit Tmux(TempDir const& dir) : sock_(dir.file("tmux.sock")) {}
  ~Tmux() { run({"kill-server"}); }
  static bool available() { return runProgram({"tmux", "-V"}, "", {}, 10).status == 0; }
  RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), {"tmux", "-S", sock_, "-f", "/dev/null"});
    return runProgram(args, "", {{"LC_ALL", "C.UTF-8"}}, 20);
  }
  // Starts an 80x24 session running `command` in a shell.
  bool start(std::string const& command) {
    return run({"new-session", "-d", "-x", "80", "-y", "24", "-s", "t", command}).status == 0;
  }
  std::vector<std::string> capture() { return splitLines(run({"capture-pane", "-p", "-t", "t"}).out); }
  void keys(std::string const& key) { run({"send-keys", "-t", "t", key}); }
  // Waits (at most 30 s) until the pane satisfies `ok`; the last capture.
  std::vector<std::string> waitFor(std::function<bool(std::vector<std::string> const&)> const& ok) {
    std::vector<std::string> pane;
    for (int i = 0; i < 600; ++i) {
      pane = capture();
      if (ok(pane)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pane;
  }

private:
  std::string sock_;
};

inline bool has(std::vector<std::string> const& pane, std::string const& text) {
  for (std::string const& l : pane)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

// Waits (at most 30 s) until a file has content.
inline std::string waitForFile(std::string const& path) {
  for (int i = 0; i < 600; ++i) {
    std::string s = readFile(path);
    if (!s.empty()) return s;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

// The shell line that runs `program` in the pane between two snapshots of
// the terminal settings, and records its status.
inline std::string paneCommand(TempDir const& dir, std::string const& program) {
  char const* datadir = std::getenv("DATADIR");
  return "cd " + dir.path() +
         " && unset ZEPH_HEADLESS ZEPH_SCREEN ZEPH_SIZE; export DATADIR=" + std::string(datadir ? datadir : "") +
         " LANGUAGE=english; stty -g > before; " + program + "; echo $? > status; stty -g > after; exec sleep 600";
}

}  // namespace zftest
