// TestServer: a real ombrel process in a temporary server directory.
#include "TestServer.h"

#include "RawClient.h"
#include "SysVEndpoint.h"

#include <zfound/MsgHeader.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace zftest {

namespace {

key_t keyOf(int32_t id, int what) { return key_t((uint32_t(id) << 8) | uint32_t(what)); }

std::map<std::string, std::string> serverEnv(std::string const& dir) {
  std::map<std::string, std::string> env = {{"OMBREL", dir}};
  for (char const* v : {"DATADIR", "LANGUAGE"})
    if (char const* s = getenv(v))
      env[v] = s;
  return env;
}

}  // namespace

TestServer::TestServer(std::string name, std::string const& extraKeys)
    : own_(new TempDir), dir_(own_.get()), name_(std::move(name)), id_(uniqueServerId()) {
  init(extraKeys);
}

TestServer::TestServer(TempDir& dir, std::string name, std::string const& extraKeys)
    : dir_(&dir), name_(std::move(name)), id_(uniqueServerId()) {
  init(extraKeys);
}

void TestServer::init(std::string const& extraKeys) {
  logFile_ = dir_->file(name_ + ".out");
  mkdir(dbase().c_str(), 0700);
  writeConfig(extraKeys);
  removeIpc();
}

void TestServer::writeConfig(std::string const& extraKeys) {
  std::string text = "ServerId\t" + std::to_string(id_) + "\n" + "Dbase\t" + dbase() + "\n" +
                     "DiskConfiguration\t" + dir_->file(name_ + ".disks") + "\n" + "StateFile\t" + stateFile() +
                     "\n" + "RunLogFile\t" + runLogFile() + "\n" + extraKeys;
  dir_->write("servers/" + name_ + ".sv", text);
}

TestServer::~TestServer() {
  kill();
  removeIpc();
}

bool TestServer::start(std::vector<std::string> const& args, int timeoutSec) {
  std::vector<std::string> argv = {binPath("ombrel"), "-f"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(name_);
  std::map<std::string, std::string> env = serverEnv(dir_->path());
  pid_t const parent = getpid();
  pid_t pid = fork();
  if (pid < 0)
    return false;
  if (pid == 0) {
    // A test that ends without its destructor (killed, timed out) takes its
    // server with it: SIGTERM stops ombrel, which then removes its queues
    // and semaphore set.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
      _exit(127);
    int fd = open(logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    int nul = open("/dev/null", O_RDONLY);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    if (nul >= 0)
      dup2(nul, 0);
    for (auto const& e : env)
      setenv(e.first.c_str(), e.second.c_str(), 1);
    std::vector<char*> av;
    for (std::string const& a : argv)
      av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    execv(av[0], av.data());
    _exit(127);
  }
  pid_ = pid;
  time_t end = time(nullptr) + timeoutSec;
  while (time(nullptr) <= end) {
    if (ready())
      return true;
    if (!running())
      return false;
    usleep(10000);
  }
  return false;
}

int TestServer::wait(int timeoutSec) {
  if (pid_ < 0)
    return -1;
  time_t end = time(nullptr) + timeoutSec;
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    if (r < 0 || time(nullptr) > end)
      return -1;
    usleep(10000);
  }
}

int TestServer::stop(int32_t force, int timeoutSec) {
  RawClient c(id_);
  if (!c.ok())
    return -1;
  RawReply r = c.connect();
  if (!r.ok || r.status != 0)
    return -1;
  c.send(0x70000000, DBM_STOP, {uint32_t(force)});
  return wait(timeoutSec);
}

void TestServer::kill() {
  if (pid_ < 0)
    return;
  ::kill(pid_, SIGKILL);
  int st = 0;
  waitpid(pid_, &st, 0);
  pid_ = -1;
}

bool TestServer::running() {
  if (pid_ < 0)
    return false;
  int st = 0;
  if (waitpid(pid_, &st, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

std::string TestServer::log() const { return readFile(logFile_); }

RunResult TestServer::run(std::vector<std::string> const& args, int timeoutSec) const {
  std::vector<std::string> argv = {binPath("ombrel")};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, "", serverEnv(dir_->path()), timeoutSec);
}

void TestServer::removeIpc() const {
  for (int w : {'s', 'c', 'r'}) {
    int q = msgget(keyOf(id_, w), 0);
    if (q >= 0)
      msgctl(q, IPC_RMID, nullptr);
  }
  int s = semget(keyOf(id_, 0), 2, 0);
  if (s >= 0)
    semctl(s, 0, IPC_RMID);
}

bool TestServer::ready() const {
  int sem = semget(keyOf(id_, 0), 2, 0);
  if (sem < 0 || semctl(sem, 0, GETVAL) <= 0)
    return false;
  for (int w : {'s', 'c', 'r'})
    if (msgget(keyOf(id_, w), 0) < 0)
      return false;
  return true;
}

bool TestServer::ipcExists() const {
  for (int w : {'s', 'c', 'r'})
    if (msgget(keyOf(id_, w), 0) >= 0)
      return true;
  return semget(keyOf(id_, 0), 2, 0) >= 0;
}

}  // namespace zftest
