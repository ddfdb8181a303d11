// Fixture of the server-client library's tests: a real server on a
// temporary directory with a ServerId of its own, the client environment
// pointing there (OMBREL, SERVERS), and helpers that make schemas, tables
// and indexes with a raw client, written as the library writes its
// requests. The program links libomdb_s and libzeph_s through
// zf_link_db_runtime.
//
// A test names the schema "<server>/<schema>" (server() gives the server's
// name). Every schema the library opened is closed in TearDown, before the
// server is stopped and its queues and semaphores removed.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <zfound/DbConnection.h>
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/MsgHeader.h>
#include <zfound/String.h>
// After the foundation: the interface's function TimeStamp hides the class.
#include <dbm/DbInterface.h>

#include "RawClient.h"
#include "RequestBody.h"
#include "TestServer.h"
#include "TestSupport.h"

namespace omtest {

inline constexpr int32_t kServerObj = 0x70000000;

// Server field types of a table creation.
enum : int32_t { kNumber = 0, kText = 1, kDate = 2, kTime = 3, kFloat = 4, kBool = 5, kObject = 8, kInt = 10 };

using Body = zftest::RequestBody;

// One field of a table made by makeTable.
struct FieldDef {
  std::string name;
  int32_t type = kInt;
  int32_t length = 0;
  int32_t decimals = 0;
  int32_t dim = 0;
  int32_t flags = 0;  // server field flags (4: not null, ...)
};

class OmdbFixture : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("omdbtest");
    if (geteuid() != 0) GTEST_SKIP() << "the server must be started by root";
    server_ = std::make_unique<zftest::TestServer>(serverName(), serverKeys());
    ASSERT_TRUE(server_->start()) << server_->log();
    ombrel_ = std::make_unique<zftest::ScopedEnv>("OMBREL", server_->dir().path());
    servers_ = std::make_unique<zftest::ScopedEnv>("SERVERS", serverName());
    raw_ = std::make_unique<zftest::RawClient>(server_->serverId());
    ASSERT_TRUE(raw_->ok());
    ASSERT_EQ(raw_->connect().status, 0) << server_->log();
  }

  void TearDown() override {
    CloseAllSchemas();
    raw_.reset();
    if (server_) server_->stop();
  }

  // The server's name; a test fixture may choose another.
  virtual std::string serverName() const { return "omsrv"; }
  // Further keys of its configuration file (a journal directory, ...).
  virtual std::string serverKeys() const { return ""; }
  std::string path(std::string const& schema) const { return serverName() + "/" + schema; }
  zftest::TestServer& server() { return *server_; }
  zftest::RawClient& raw() { return *raw_; }

  // Makes schema `name`; its object id for the raw client, 0 on failure.
  int32_t makeSchema(std::string const& name, std::string const& descr = "") {
    Body b;
    b.w(16).w(0).w(1).s(name.c_str()).s(descr.c_str());
    zftest::RawReply r = raw_->request(kServerObj, DBM_ATTACH, b.words());
    return r.ok && r.status == 0 && r.result > 0 ? r.result : 0;
  }

  // Makes table `name` with `fields` in the schema of raw object `schema`;
  // the table's raw object id, 0 on failure.
  int32_t makeTable(int32_t schema, std::string const& name, std::vector<FieldDef> const& fields,
                    int32_t tableFlags = 0) {
    Body b;
    b.w(32).w(0).w(1).s(name.c_str()).s("").w(tableFlags).w(0).w(int32_t(fields.size()));
    for (FieldDef const& f : fields)
      b.s(f.name.c_str()).s("").w(f.dim).w(f.type).w(0).w(f.length).w(f.decimals).w(f.flags).e().s("").s("");
    zftest::RawReply r = raw_->request(schema, DBM_ATTACH, b.words());
    return r.ok && r.status == 0 && r.result > 0 ? r.result : 0;
  }

  // Adds index `name` over the fields numbered `parts` (from 0) to raw
  // table `table`; flags 0 unique, 1 duplicates. True when made.
  bool makeIndex(int32_t table, std::string const& name, std::vector<int32_t> const& parts, int32_t flags = 0) {
    Body b;
    b.s(name.c_str()).w(flags).w(int32_t(parts.size()));
    for (int32_t p : parts) b.w(p).w(0).w(0).w(0);
    zftest::RawReply r = raw_->request(table, DBM_CREATE, b.words());
    return r.ok && r.status == 0;
  }

  std::unique_ptr<zftest::TestServer> server_;
  std::unique_ptr<zftest::ScopedEnv> ombrel_;
  std::unique_ptr<zftest::ScopedEnv> servers_;
  std::unique_ptr<zftest::RawClient> raw_;
};

}  // namespace omtest
