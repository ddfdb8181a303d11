// A server-core fixture with an in-process server: the configuration "srv"
// (ServerId 9, a cache of 256 one-kilobyte pages, database directory and
// state file in the temporary directory, plus what the test adds), its
// state file read, an empty disk layout, the cache and the catalog's hooks.
// The test makes the server object and its reply port; TearDown undoes the
// rest.
#pragma once

#include "CoreFixture.h"

#include <svcore/SchemaFiles.h>
#include <svcore/ServerObject.h>

#include <blkfile/CacheBuffer.h>
#include <svobject/ClientEnv.h>

#include <zfound/PhysLayout.h>

#include <memory>
#include <string>

namespace coretest {

class InProcessTest : public CoreTest {
protected:
  // CoreTest's set-up, then the server's; extraConfig: further lines of the
  // configuration, each ended by a newline.
  void startServer(std::string const& extraConfig = std::string()) {
    CoreTest::SetUp();
    tmp.write("db/.keep", "");
    writeConfig("srv", "ServerId\t9\nCachePageSize\t1\nCacheSize\t256\nDbase\t" + tmp.file("db") + "\nStateFile\t" +
                           tmp.file("state") + "\nCorruptionTolerant\toff\n" + extraConfig);
    Server::configFile = new SvConfigFile("srv");
    Server::stateFile = new StateFile(String(tmp.file("state").c_str()));
    tmp.write("layout", "");
    layout_ = std::make_unique<PhysLayout>(String(tmp.file("layout").c_str()));
    Server::physLayout_sd = layout_.get();
    Server::cachePageSize_sd = 1024;
    CacheBuffer::init(256);
    svcore::installCatalogHooks();
    Server::timeStamp.setNow();
    Server::readState();
  }
  // The client layer, the cache and the layout go; then CoreTest's
  // tear-down. The test has dropped its clients, server object and port.
  void TearDown() override {
    ClientEnv::reset();
    CacheBuffer::cleanUp();
    Server::physLayout_sd = nullptr;
    layout_.reset();
    CoreTest::TearDown();
  }

  std::unique_ptr<PhysLayout> layout_;
  std::unique_ptr<ServerObject> server_;
};

}  // namespace coretest
