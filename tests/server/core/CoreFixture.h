// A server-core test fixture: started up as the server, every Server static
// at its start value, OMBREL pointing at a temporary server directory, and
// the warnings of the test captured.
#pragma once

#include <svcore/Server.h>
#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>

#include "ChildRun.h"
#include "TestSupport.h"

#include <zfound/Exception.h>
#include <zfound/Message.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace coretest {

using zftest::recordWarning;
using zftest::shown;

class CoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("ombrel-3.3.2");
    Exception::init(true);
    Server::reset();
    env_ = std::make_unique<zftest::ScopedEnv>("OMBREL", tmp.path());
    shown().clear();
    old_ = displayErrorHandler(recordWarning);
  }
  void TearDown() override {
    displayErrorHandler(old_);
    Server::reset();
    env_.reset();
  }

  // Writes servers/<name>.sv under the temporary server directory.
  void writeConfig(std::string const& name, std::string const& text) { tmp.write("servers/" + name + ".sv", text); }

  static bool sawWarning(std::string const& part) { return zftest::wasShown(part); }

  zftest::TempDir tmp;
  std::unique_ptr<zftest::ScopedEnv> env_;
  MsgHandler old_ = nullptr;
};

}  // namespace coretest
