// Shared pieces of the client-connection tests: start-up, the endpoint log
// reader, and a fixture that runs test endpoints under keys unique to the
// test, points the server configuration at a private directory and removes
// every queue, semaphore set, child process and connection at the end.
#pragma once

#include <gtest/gtest.h>

#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/Process.h>

#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SysVEndpoint.h"
#include "TestSupport.h"

namespace dbconntest {

inline void startUpOnce() { zftest::startUpOnce("dbconntest-1.0", {"first-argument"}); }

// The first long of a request's body, as a wire of the given order holds it.
inline int32_t firstLong(zftest::EndpointRequest const& r, bool swapped = false) {
  zftest::WireCodec c(swapped);
  c.feed(r.body);
  int32_t v = 0;
  c >> v;
  return v;
}

// One line of an endpoint's log.
struct LogLine {
  std::string tag;
  int msg = 0;
  int op = 0;
  int32_t objId = 0;
  int parts = 0;
  std::vector<uint32_t> words;
};

inline std::vector<LogLine> readLog(std::string const& path) {
  std::vector<LogLine> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    LogLine l;
    s >> l.tag >> l.msg >> l.op >> l.objId >> l.parts;
    std::string hex;
    while (s >> hex) l.words.push_back(uint32_t(std::stoul(hex, nullptr, 16)));
    out.push_back(l);
  }
  return out;
}

// "tag op" of every line whose op is in ops, in order.
inline std::vector<std::string> opsOf(std::vector<LogLine> const& log, std::vector<int> const& ops) {
  std::vector<std::string> r;
  for (LogLine const& l : log)
    for (int o : ops)
      if (l.op == o) r.push_back(l.tag + " " + std::to_string(l.op));
  return r;
}

class EndpointFixture : public ::testing::Test {
protected:
  static void SetUpTestSuite() { startUpOnce(); }

  void SetUp() override {
    Exception::init(true);
    Exception::last(Exception(0));
    DbConnection::userBegTrans(false);
    logPath_ = dir_.file("requests.log");
  }

  void TearDown() override {
    while (DbConnection::head()) delete DbConnection::head();
    endpoints_.clear();  // kills the children, removes queues and semaphores
  }

  // Starts an endpoint named tag and writes its server configuration.
  zftest::SysVEndpoint& endpoint(std::string const& tag, zftest::EndpointHandler h = nullptr,
                                 bool swapped = false) {
    int32_t id = zftest::uniqueServerId();
    endpoints_.push_back(std::make_unique<zftest::SysVEndpoint>(id, logPath_, tag, h, swapped));
    zftest::SysVEndpoint& ep = *endpoints_.back();
    EXPECT_TRUE(ep.start());
    dir_.write("servers/" + tag + ".sv", "ServerId\t" + std::to_string(id) + "\nSchemas\ts1\n");
    return ep;
  }

  std::vector<LogLine> log() const { return readLog(logPath_); }

  // The log once it holds at least n lines: requests without a reply are
  // logged by the endpoint on its own time (gives up after 10 seconds).
  std::vector<LogLine> logOf(size_t n) const {
    std::vector<LogLine> l = readLog(logPath_);
    for (int i = 0; i < 500 && l.size() < n; ++i) {
      usleep(20000);
      l = readLog(logPath_);
    }
    return l;
  }

  zftest::TempDir dir_;
  zftest::ScopedEnv ombrel_{"OMBREL", dir_.path()};
  zftest::ScopedEnv tmpdir_{"TMPDIR", dir_.path()};
  std::string logPath_;
  std::vector<std::unique_ptr<zftest::SysVEndpoint>> endpoints_;
};

}  // namespace dbconntest
