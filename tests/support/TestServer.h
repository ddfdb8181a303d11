// A real server process for tests: its directory, configuration, start,
// stop and output.
//
// The server directory lives in a TempDir (its own, or one that several
// servers share): servers/<name>.sv names ServerId (uniqueServerId()), the
// database directory <dir>/<name>.db, the disk layout, state file and run
// log in the directory, plus the test's extra keys. start() runs `ombrel
// -f` with OMBREL, DATADIR and LANGUAGE and waits until the request queue
// and the running-server lock exist. The destructor kills the process (by
// its pid) and removes the server's queues and semaphores even when the test
// failed.
#pragma once

#include "TestSupport.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zftest {

class TestServer {
public:
  // A server with a directory of its own.
  explicit TestServer(std::string name = "demo", std::string const& extraKeys = "");
  // A server in a shared directory.
  TestServer(TempDir& dir, std::string name, std::string const& extraKeys = "");
  ~TestServer();
  TestServer(TestServer const&) = delete;
  TestServer& operator=(TestServer const&) = delete;

  // Starts `ombrel -f <args> <name>`; true once the server is ready()
  // (its lock and queues exist), false when it ended first or took more
  // than timeoutSec.
  bool start(std::vector<std::string> const& args = {}, int timeoutSec = 30);
  // Sends Stop (force) as a fresh client and waits for the process; its
  // exit status, or -1 when it did not end in time.
  int stop(int32_t force = 1, int timeoutSec = 30);
  // Waits for the process to end; its exit status (128 + signal when
  // killed), -1 when it did not end in time.
  int wait(int timeoutSec = 30);
  // Kills the process (SIGKILL, by its pid) and reaps it.
  void kill();
  // True while the process runs.
  bool running();
  // Everything the process wrote on standard output and error.
  std::string log() const;
  // Runs ombrel to its end with the same environment (refusals, -p).
  RunResult run(std::vector<std::string> const& args, int timeoutSec = 60) const;
  // Removes the queues and semaphore set of the server id.
  void removeIpc() const;
  // True when any queue or the semaphore set of the server id exists.
  bool ipcExists() const;
  // True once a server of the id holds its running-server lock and has made
  // its three queues: requests sent from then on are read. The lock is
  // taken before the queues are made, so the lock alone is not enough.
  bool ready() const;

  // (Re)writes servers/<name>.sv with the given extra keys.
  void writeConfig(std::string const& extraKeys);
  TempDir& dir() { return *dir_; }
  std::string const& name() const { return name_; }
  int32_t serverId() const { return id_; }
  pid_t pid() const { return pid_; }
  std::string dbase() const { return dir_->file(name_ + ".db"); }
  std::string stateFile() const { return dir_->file(name_ + ".state"); }
  std::string runLogFile() const { return dir_->file(name_ + ".runlog"); }
  std::string configFile() const { return dir_->file("servers/" + name_ + ".sv"); }

private:
  void init(std::string const& extraKeys);

  std::unique_ptr<TempDir> own_;
  TempDir* dir_;
  std::string name_;
  int32_t id_;
  pid_t pid_ = -1;
  std::string logFile_;
};

}  // namespace zftest
