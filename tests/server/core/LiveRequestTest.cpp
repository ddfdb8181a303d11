// Schema and table requests against a running server: a raw client makes a
// schema and a table with two indexes, adds records with void requests,
// reads them back by key, and a second client's hostile request is
// answered while the data stays as it was. The server stops cleanly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <svcatalog/SvField.h>
#include <svcore/Journal.h>
#include <svobject/SvObject.h>
#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/LoopConnection.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <sys/stat.h>

#include "ChildRun.h"
#include "RawClient.h"
#include "RequestBody.h"
#include "SysVEndpoint.h"
#include "TestServer.h"

namespace {

constexpr int32_t kServerObject = 0x70000000;

using Body = zftest::RequestBody;

// One field of a table creation.
void field(Body& b, char const* name, int32_t type, int32_t len, int32_t dim) {
  b.s(name).s("").w(dim).w(type).w(0).w(len).w(0).w(0).e().s("").s("");
}

// A schema "shop" with table "T" (id, name, vals) made by `a`, indexes on
// id and name, records id*10 for id 1..n; the table's object id, or 0.
int32_t makeShopTable(zftest::RawClient& a, int32_t n, int32_t* schOut = nullptr) {
  Body schema;
  schema.w(16).w(0).w(1).s("shop").s("a shop");
  zftest::RawReply r = a.request(kServerObject, DBM_ATTACH, schema.words());
  if (!r.ok || r.status != 0) return 0;
  if (schOut != nullptr) *schOut = r.result;
  Body table;
  table.w(32).w(0).w(1).s("T").s("").w(0).w(0).w(3);
  field(table, "id", SvField::INT, 0, 1);
  field(table, "name", SvField::STRING, 10, 1);
  field(table, "vals", SvField::INT, 0, 4);
  r = a.request(r.result, DBM_ATTACH, table.words());
  if (!r.ok || r.status != 0) return 0;
  int32_t const tab = r.result;
  for (auto const& [name, fieldNo] : {std::pair<char const*, int32_t>{"pk", 0}, {"byname", 1}}) {
    Body ix;
    ix.s(name).w(0).w(1).w(fieldNo).w(0).w(0).w(0);
    r = a.request(tab, DBM_CREATE, ix.words());
    if (!r.ok || r.status != 0) return 0;
  }
  for (int32_t id = 1; id <= n; ++id) {
    std::string name = "n" + std::to_string(100 + id);
    Body add;
    add.w(1).w(id * 10).s(name.c_str()).w(id).w(id).w(id + 1).w(0);
    if (!a.send(tab, DBM_ADDRECORD, add.words())) return 0;
  }
  return tab;
}

// Attaches the existing table "T" of schema "shop" for `b`; its id, or 0.
int32_t attachShopTable(zftest::RawClient& b) {
  Body sb;
  sb.w(16).w(0).w(0).s("shop");
  zftest::RawReply r = b.request(kServerObject, DBM_ATTACH, sb.words());
  if (!r.ok || r.status != 0) return 0;
  Body tb;
  tb.w(32).w(0).w(0).s("T").w(0);  // version 0: the current data
  r = b.request(r.result, DBM_ATTACH, tb.words());
  return r.ok && r.status == 0 ? r.result : 0;
}

// GetRecord by the primary key: index 0, mode, wait seconds, server-wait
// flag 0, part count 0, the key.
std::vector<uint32_t> getByKey(int32_t mode, int32_t wait, int32_t key) {
  return Body().w(0).w(mode).w(wait).w(0).w(0).w(key).words();
}

constexpr int32_t kExactKey = 0x80;
constexpr int32_t kTakeX = kExactKey | 1 | 8;  // acquire, exclusive

// Stops the server; every data and index file it leaves must verify.
void expectStopsVerified(zftest::TestServer& server) {
  EXPECT_EQ(server.stop(), 0) << server.log();
  zftest::RunResult check = server.run({"-f", "-p", "-e", "1", server.name()});
  EXPECT_EQ(check.status, 255) << check.out << check.err;
}

// A record held by one client: another's waiting read gets no reply while
// a third client is served, and gets the record once it is freed; a no-wait
// read answers Locked; a wait of 3 seconds gives up with DeadLock; a table
// lock waits the same way.
TEST(LiveRequests, AHeldRecordMakesAReadWaitWhileOthersAreServed) {
  zftest::TestServer server("held");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId()), b(server.serverId()), c(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  ASSERT_EQ(b.connect().status, 0) << server.log();
  ASSERT_EQ(c.connect().status, 0) << server.log();
  int32_t const tabA = makeShopTable(a, 12);
  ASSERT_GT(tabA, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  int32_t const tabC = attachShopTable(c);
  ASSERT_GT(tabB, 0);
  ASSERT_GT(tabC, 0);

  zftest::RawReply r = a.request(tabA, DBM_GETRECORD, getByKey(kTakeX, 0, 50));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  EXPECT_EQ(r.result, 5);

  ASSERT_TRUE(b.send(tabB, DBM_GETRECORD, getByKey(kTakeX, -1, 50)));
  r = c.request(tabC, DBM_CARDINAL);  // served while b waits
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 12);
  r = c.request(tabC, DBM_GETRECORD, getByKey(kTakeX | 2, 0, 50));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(-r.status, kExcLocked);
  EXPECT_EQ(b.pendingReplies(), 0);

  ASSERT_TRUE(a.send(tabA, DBM_FREERECORD, Body().w(0).w(kExactKey).w(0).w(50).words()));  // void
  r = b.reply();
  ASSERT_TRUE(r.ok) << server.log();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 5);
  ASSERT_GE(r.body.size(), 4u);
  EXPECT_EQ(int32_t(r.body[3]), 50);  // the id after instance id and stamp

  // b holds record 5 now; a gives up after 3 seconds.
  auto const t0 = std::chrono::steady_clock::now();
  r = a.request(tabA, DBM_GETRECORD, getByKey(kTakeX, 3, 50), 20);
  auto const waited = std::chrono::steady_clock::now() - t0;
  ASSERT_TRUE(r.ok) << server.log();
  EXPECT_EQ(r.status, kExcDeadLock);
  EXPECT_GE(waited, std::chrono::seconds(2));

  // A table lock waits for the record b holds, and is granted when freed.
  ASSERT_TRUE(c.send(tabC, DBM_LOCK, Body().w(1 | 8).w(-1).w(0).words()));
  r = a.request(tabA, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(c.pendingReplies(), 0);
  ASSERT_TRUE(b.send(tabB, DBM_FREERECORD, Body().w(0).w(kExactKey).w(0).w(50).words()));
  r = c.reply();
  ASSERT_TRUE(r.ok) << server.log();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 0);

  expectStopsVerified(server);
}

// A cursor of limit 5 over keys 10..120 (12 records): forward blocks 5, 5,
// -2, then 0; backward from the end the same; Cardinal 12, and 4 over
// 30..60.
TEST(LiveRequests, ACursorReadsItsRangeBlockByBlockBothWays) {
  zftest::TestServer server("cursor");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t const tab = makeShopTable(a, 12);
  ASSERT_GT(tab, 0) << server.log();
  Body sb;
  sb.w(16).w(0).w(0).s("shop");
  zftest::RawReply r = a.request(kServerObject, DBM_ATTACH, sb.words());
  ASSERT_EQ(r.status, 0);
  int32_t const sch = r.result;
  // Cursor: kind 64, info, lock mode 0, table, index 0, limit 5.
  r = a.request(sch, DBM_ATTACH, Body().w(64).w(0).w(0).w(tab).w(0).w(5).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const cur = r.result;
  ASSERT_GT(cur, 0);
  auto setRange = [&](int32_t flags, int32_t from, int32_t to) {
    return a.send(cur, DBM_SETRANGE, Body().w(flags).w(0).w(from).w(to).words());  // void
  };
  constexpr int32_t kBoth = 2 | 8;  // start and end key included
  struct Step {
    int32_t op;
    int32_t result;
    int32_t firstId;  // the first record's id, 0 when no record
  };
  ASSERT_TRUE(setRange(kBoth, 10, 120));
  Step const forward[] = {{DBM_GETNEXTBLOCK, 5, 10},
                          {DBM_GETNEXTBLOCK, 5, 60},
                          {DBM_GETNEXTBLOCK, -2, 110},
                          {DBM_GETNEXTBLOCK, 0, 0}};
  for (Step const& k : forward) {
    r = a.request(cur, k.op);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 0) << server.log();
    EXPECT_EQ(r.result, k.result);
    if (k.firstId != 0) {
      ASSERT_GE(r.body.size(), 4u);
      EXPECT_EQ(int32_t(r.body[3]), k.firstId);
    }
  }
  ASSERT_TRUE(setRange(kBoth | 0x80, 10, 120));  // at the end
  Step const backward[] = {{DBM_GETPREVBLOCK, 5, 120},
                           {DBM_GETPREVBLOCK, 5, 70},
                           {DBM_GETPREVBLOCK, -2, 20},
                           {DBM_GETPREVBLOCK, 0, 0}};
  for (Step const& k : backward) {
    r = a.request(cur, k.op);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 0) << server.log();
    EXPECT_EQ(r.result, k.result);
    if (k.firstId != 0) {
      ASSERT_GE(r.body.size(), 4u);
      EXPECT_EQ(int32_t(r.body[3]), k.firstId);
    }
  }
  r = a.request(cur, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 12);
  ASSERT_TRUE(setRange(kBoth, 30, 60));
  r = a.request(cur, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 4);

  expectStopsVerified(server);
}

// CopyTable of 40 records in slices: the first Activation answers 30, the
// last 0, and 0 again after the end; the target has every record under the
// source's record number, and its extra field.
TEST(LiveRequests, ACopyJobCopiesATableInSlices) {
  zftest::TestServer server("copy");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t sch = 0;
  int32_t const tab = makeShopTable(a, 40, &sch);
  ASSERT_GT(tab, 0) << server.log();
  Body table;
  table.w(32).w(0).w(1).s("U").s("").w(0).w(0).w(4);
  field(table, "id", SvField::INT, 0, 1);
  field(table, "name", SvField::STRING, 10, 1);
  field(table, "vals", SvField::INT, 0, 4);
  field(table, "extra", SvField::INT, 0, 1);
  zftest::RawReply r = a.request(sch, DBM_ATTACH, table.words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const to = r.result;
  r = a.request(to, DBM_CREATE, Body().s("pk").w(0).w(1).w(0).w(0).w(0).w(0).words());
  ASSERT_EQ(r.status, 0) << server.log();

  r = a.request(tab, DBM_COPY, Body().w(to).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const job = r.result;
  ASSERT_GT(job, 0);
  std::vector<int32_t> answers;
  for (int round = 0; round < 50; ++round) {
    r = a.request(job, DBM_ACTIVATION);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.status, 0) << server.log();
    answers.push_back(r.result);
    if (r.result != 30) break;
  }
  ASSERT_GE(answers.size(), 2u);
  EXPECT_EQ(answers.front(), 30);
  EXPECT_EQ(answers.back(), 0);
  r = a.request(job, DBM_ACTIVATION);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 0);

  r = a.request(to, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 40);
  for (int32_t id : {1, 20, 40}) {
    r = a.request(to, DBM_GETRECORD, getByKey(kExactKey, 0, id * 10));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 0) << server.log();
    EXPECT_EQ(r.result, id);  // the source's record number
  }

  expectStopsVerified(server);
}

// A copy of a table with a retained data version: the target keeps the
// version, so its attachment of version 1 reads what the source held when
// the version was made (the deleted record, the old name, not the record
// added after), and its current attachment reads the current data.
TEST(LiveRequests, ACopyCarriesTheRetainedVersionsOfItsSource) {
  zftest::TestServer server("copyvers", "HandleVersions\t1\n");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t sch = 0;
  int32_t const tab = makeShopTable(a, 40, &sch);
  ASSERT_GT(tab, 0) << server.log();
  zftest::RawReply r = a.request(kServerObject, DBM_NEWVERSION);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.result, 1) << server.log();
  // After the version: record 2 deleted, record 5 renamed, 41 added.
  ASSERT_TRUE(a.send(tab, DBM_DELRECORD, Body().w(20).words()));
  ASSERT_TRUE(a.send(tab, DBM_PUTRECORD, Body().w(50).s("renamed").w(5).w(5).w(6).w(0).words()));
  ASSERT_TRUE(a.send(tab, DBM_ADDRECORD, Body().w(1).w(410).s("n141").w(41).w(41).w(42).w(0).words()));
  r = a.request(tab, DBM_CARDINAL);
  ASSERT_EQ(r.result, 40) << server.log();

  Body table;
  table.w(32).w(0).w(1).s("U").s("").w(0).w(0).w(4);
  field(table, "id", SvField::INT, 0, 1);
  field(table, "name", SvField::STRING, 10, 1);
  field(table, "vals", SvField::INT, 0, 4);
  field(table, "extra", SvField::INT, 0, 1);
  r = a.request(sch, DBM_ATTACH, table.words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const to = r.result;
  for (auto const& [name, fieldNo] : {std::pair<char const*, int32_t>{"pk", 0}, {"byname", 1}}) {
    r = a.request(to, DBM_CREATE, Body().s(name).w(0).w(1).w(fieldNo).w(0).w(0).w(0).words());
    ASSERT_EQ(r.status, 0) << server.log();
  }
  r = a.request(tab, DBM_COPY, Body().w(to).words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const job = r.result;
  for (int round = 0; round < 50; ++round) {
    r = a.request(job, DBM_ACTIVATION);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.status, 0) << server.log();
    if (r.result == 0) break;
  }
  r = a.request(kServerObject, DBM_DETACH, Body().w(job).words());
  ASSERT_TRUE(r.ok);

  // U as of version 1 and as it is now, for a second client.
  zftest::RawClient b(server.serverId());
  ASSERT_EQ(b.connect().status, 0) << server.log();
  r = b.request(kServerObject, DBM_ATTACH, Body().w(16).w(0).w(0).s("shop").words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const schB = r.result;
  auto attachU = [&](int32_t version) {
    zftest::RawReply u = b.request(schB, DBM_ATTACH, Body().w(32).w(0).w(0).s("U").w(version).words());
    EXPECT_EQ(u.status, 0) << server.log();
    return u.result;
  };
  // The source itself reads the version so.
  zftest::RawReply tv = b.request(schB, DBM_ATTACH, Body().w(32).w(0).w(0).s("T").w(1).words());
  ASSERT_EQ(tv.status, 0) << server.log();
  zftest::RawReply tf = b.request(tv.result, DBM_FINDRECORD, Body().w(0).w(kExactKey).w(0).w(20).words());
  EXPECT_EQ(tf.result, 2) << server.log();
  tf = b.request(tv.result, DBM_CARDINAL);
  EXPECT_EQ(tf.result, 40) << server.log();
  int32_t const old = attachU(1);
  int32_t const now = attachU(0);
  ASSERT_GT(old, 0);
  ASSERT_GT(now, 0);
  ASSERT_NE(old, now);
  auto find = [&](int32_t t, int32_t index, int32_t key) {
    zftest::RawReply f = b.request(t, DBM_FINDRECORD, Body().w(index).w(kExactKey).w(0).w(key).words());
    EXPECT_TRUE(f.ok);
    return f.result;
  };
  auto findName = [&](int32_t t, char const* name) {
    zftest::RawReply f = b.request(t, DBM_FINDRECORD, Body().w(1).w(kExactKey).w(0).s(name).words());
    EXPECT_TRUE(f.ok);
    return f.result;
  };
  EXPECT_EQ(find(old, 0, 20), 2) << server.log();
  EXPECT_EQ(find(now, 0, 20), -1);
  EXPECT_EQ(find(old, 0, 410), -1);
  EXPECT_GT(find(now, 0, 410), 0);
  EXPECT_EQ(find(old, 0, 50), 5);
  EXPECT_EQ(findName(old, "n105"), 5);
  EXPECT_EQ(findName(now, "n105"), -1);
  EXPECT_GT(findName(now, "renamed"), 0);
  EXPECT_EQ(findName(old, "renamed"), -1);
  r = b.request(old, DBM_CARDINAL);
  EXPECT_EQ(r.result, 40);
  r = b.request(now, DBM_CARDINAL);
  EXPECT_EQ(r.result, 40);
  for (int32_t id = 1; id <= 41; ++id) {
    if (id == 2) continue;
    SCOPED_TRACE(id);
    EXPECT_GT(find(now, 0, id * 10), 0);
  }

  expectStopsVerified(server);
}

// Debug on a running server: "echo" answers 0 and the text; a wrong count
// and an unknown command log their texts; after "cpoff" a CheckPoint is
// deferred (parity | 16), after "cpon" it is taken (parity | 8).
TEST(LiveRequests, DebugCommandsEchoLogAndHoldCheckpoints) {
  zftest::TestServer server("debug");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  zftest::RawReply r = a.request(kServerObject, DBM_DEBUG, Body().s("echo").w(1).s("hi").words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.body, Body().s("hi").words());
  for (char const* command : {"echo", "frob"}) {
    r = a.request(kServerObject, DBM_DEBUG, Body().s(command).w(0).words());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result, 0);
  }
  r = a.request(kServerObject, DBM_DEBUG, Body().s("cpoff").w(0).words());
  ASSERT_TRUE(r.ok);
  r = a.request(kServerObject, DBM_CHECKPOINT, Body().w(0).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const parity = r.result & 7;
  EXPECT_EQ(r.result, parity | 16);
  r = a.request(kServerObject, DBM_DEBUG, Body().s("cpon").w(0).words());
  ASSERT_TRUE(r.ok);
  r = a.request(kServerObject, DBM_CHECKPOINT, Body().w(0).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result & 8, 8);

  EXPECT_EQ(server.stop(), 0) << server.log();
  std::string const log = server.log();
  for (char const* text : {"Wrong number of parameters for dbg message, expected 1 and received 0",
                           "Debug type 'frob' is not known", "Checkpoints disabled", "Checkpoints enabled"})
    EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
  zftest::RunResult check = server.run({"-f", "-p", "-e", "1", server.name()});
  EXPECT_EQ(check.status, 255) << check.out << check.err;
}

// -P with ProfileFrequency 1 for 5 seconds: the header and at least two
// groups of sections, no "nan"; without -P no profile file is made.
TEST(LiveRequests, ProfilingWritesSectionGroupsOnlyWithTheOption) {
  for (bool const on : {true, false}) {
    SCOPED_TRACE(on);
    zftest::TempDir dir;
    std::string const prof = dir.file("sv.prof");
    zftest::TestServer server(dir, "prof", "ProfileFile\t" + prof + "\nProfileFrequency\t1\n");
    ASSERT_TRUE(server.start(on ? std::vector<std::string>{"-P"} : std::vector<std::string>{})) << server.log();
    zftest::RawClient a(server.serverId());
    ASSERT_EQ(a.connect().status, 0) << server.log();
    ASSERT_GT(makeShopTable(a, 3), 0) << server.log();
    sleep(5);  // the behaviour is a timed write
    EXPECT_EQ(server.stop(), 0) << server.log();
    if (!on) {
      EXPECT_NE(access(prof.c_str(), F_OK), 0);
      continue;
    }
    std::string const text = zftest::readFile(prof);
    auto count = [&](std::string const& what) {
      size_t n = 0;
      for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(text.rfind("\n\nStatistics of the server started at ", 0), 0u) << text;
    EXPECT_GE(count("Requests per server object"), 2u) << text;
    EXPECT_GE(count("-----------------------------------------------------------\n\n"), 4u) << text;
    EXPECT_EQ(text.find("nan"), std::string::npos) << text;
    zftest::RunResult check = server.run({"-f", "-p", "-e", "1", server.name()});
    EXPECT_EQ(check.status, 255) << check.out << check.err;
  }
}

// Reads by each search mode and with a part count, then Put, field-wise
// updates (add, set, an element range clamped to the dimension), a test add
// of an existing key, a delete, and hostile requests that change nothing.
TEST(LiveRequests, ReadModesAndUpdatesShowInTheNextRead) {
  zftest::TestServer server("modes");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t sch = 0;
  int32_t const tab = makeShopTable(a, 40, &sch);
  ASSERT_GT(tab, 0) << server.log();

  struct Read {
    char const* what;
    int32_t op;
    int32_t mode;
    int32_t parts;
    int32_t key;
    int32_t recno;
  };
  constexpr int32_t kNext = 0x100, kPrev = 0x200, kFirst = 0x400, kLast = 0x800, kPartial = 0x1000;
  Read const reads[] = {
      {"get exact", DBM_GETRECORD, kExactKey, 0, 200, 20},
      {"get next", DBM_GETRECORD, kNext, 0, 200, 21},
      {"get prev", DBM_GETRECORD, kPrev, 0, 200, 19},
      {"get next of a missing key", DBM_GETRECORD, kExactKey | kNext, 0, 205, 21},
      {"get first", DBM_GETRECORD, kFirst, 0, 0, 1},
      {"get last", DBM_GETRECORD, kLast, 0, 0, 40},
      {"get with a part count", DBM_GETRECORD, kExactKey | kPartial, 1, 330, 33},
      {"find next", DBM_FINDRECORD, kNext, 0, 390, 40},
      {"find prev", DBM_FINDRECORD, kPrev, 0, 20, 1},
      {"find first", DBM_FINDRECORD, kFirst, 0, 0, 1},
      {"find last", DBM_FINDRECORD, kLast, 0, 0, 40},
      {"find with a part count", DBM_FINDRECORD, kExactKey | kPartial, 1, 70, 7},
      {"find past the end", DBM_FINDRECORD, kNext, 0, 400, -1},
  };
  for (Read const& k : reads) {
    SCOPED_TRACE(k.what);
    Body b;
    b.w(0).w(k.mode);
    if (k.op == DBM_GETRECORD) b.w(0).w(0);
    b.w(k.parts);
    if ((k.mode & (kFirst | kLast)) == 0) b.w(k.key);
    zftest::RawReply r = a.request(tab, k.op, b.words());
    ASSERT_TRUE(r.ok) << server.log();
    ASSERT_EQ(r.status, 0) << server.log();
    EXPECT_EQ(r.result, k.recno);
    if (k.recno == -1) continue;
    // Get: instance id, two stamp words, then the id; Find: the key.
    size_t const at = k.op == DBM_GETRECORD ? 3 : 0;
    ASSERT_GT(r.body.size(), at);
    EXPECT_EQ(int32_t(r.body[at]), k.recno * 10);
  }

  // The vals of the record with key `key`, read back: an array comes as
  // words, a run of equal elements as the run mark, a count and the value.
  size_t const nameWords = Body().s("n120").words().size();
  auto vals = [&](int32_t key, std::string const& name) {
    zftest::RawReply r = a.request(tab, DBM_GETRECORD, getByKey(kExactKey, 0, key));
    std::vector<int32_t> v;
    if (!r.ok || r.status != 0 || r.body.size() < 4 + nameWords) return v;
    EXPECT_EQ(std::vector<uint32_t>(r.body.begin() + 4, r.body.begin() + 4 + long(nameWords)),
              Body().s(name.c_str()).words());
    for (size_t i = 4 + nameWords; i < r.body.size() && v.size() < 4; ++i) {
      if (int32_t(r.body[i]) == 0x7FFFFFFE && i + 2 < r.body.size()) {
        v.insert(v.end(), size_t(r.body[i + 1]) <= 4 ? r.body[i + 1] : 0, int32_t(r.body[i + 2]));
        i += 2;
      } else {
        v.push_back(int32_t(r.body[i]));
      }
    }
    return v;
  };
  ASSERT_TRUE(a.send(tab, DBM_PUTRECORD, Body().w(200).s("putx").w(7).w(7).w(7).w(7).words()));
  EXPECT_EQ(vals(200, "putx"), (std::vector<int32_t>{7, 7, 7, 7}));
  // By key: add 5 to elements 0..1, set elements 2..99 (clamped to 2..3) to 9.
  ASSERT_TRUE(a.send(tab, DBM_UPDATERECORD,
                     Body()
                         .w(1)
                         .w(200)
                         .w(2).w(SvField::ADD).w(0).w(1).w(5)
                         .w(2).w(SvField::SET).w(2).w(99).w(9)
                         .w(-1)
                         .words()));
  EXPECT_EQ(vals(200, "putx"), (std::vector<int32_t>{12, 12, 9, 9}));
  zftest::RawReply r = a.request(tab, DBM_ADDRECORDTEST, Body().w(200).s("dup").w(0).w(0).w(0).w(0).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(vals(200, "putx"), (std::vector<int32_t>{12, 12, 9, 9}));
  ASSERT_TRUE(a.send(tab, DBM_DELRECORD, Body().w(300).words()));
  r = a.request(tab, DBM_FINDRECORD, Body().w(0).w(kExactKey).w(0).w(300).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, -1);
  r = a.request(tab, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 39);
  r = a.request(sch, DBM_GETTABLES);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 1);  // only "T": catalog tables are not listed

  // Hostile: a text longer than its field of 10, an unknown privilege code.
  r = a.request(tab, DBM_ADDRECORDTEST, Body().w(999).s("a text well over ten bytes").w(0).w(0).w(0).w(0).words());
  ASSERT_TRUE(r.ok) << server.log();
  EXPECT_TRUE(r.status != 0 || r.result == -1) << r.status << " " << r.result;
  r = a.request(sch, DBM_SETPRIVG, Body().w(77).w(1).w(2).words());
  ASSERT_TRUE(r.ok) << server.log();
  EXPECT_TRUE(r.status != 0 || r.result == -1) << r.status << " " << r.result;
  r = a.request(tab, DBM_FINDRECORD, Body().w(0).w(kExactKey).w(0).w(999).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, -1);
  r = a.request(tab, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 39);
  EXPECT_EQ(vals(200, "putx"), (std::vector<int32_t>{12, 12, 9, 9}));

  expectStopsVerified(server);
}

// Whether the text `what` is among the bytes of a reply body.
bool bodyHas(std::vector<uint32_t> const& body, std::string const& what) {
  std::string bytes(body.size() * 4, '\0');
  for (size_t i = 0; i < body.size(); ++i)
    for (size_t k = 0; k < 4; ++k) bytes[i * 4 + k] = char((body[i] >> (8 * k)) & 0xFF);
  std::string swapped(bytes);
  for (size_t i = 0; i + 3 < swapped.size(); i += 4) std::swap(swapped[i], swapped[i + 3]), std::swap(swapped[i + 1], swapped[i + 2]);
  return bytes.find(what) != std::string::npos || swapped.find(what) != std::string::npos;
}

// A locking cursor frees the previous block's records when it reads the
// next; Build fills a new index from the cursor's range.
TEST(LiveRequests, ALockingCursorFreesItsPreviousBlockAndBuildFillsAnIndex) {
  zftest::TestServer server("lockcur");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId()), b(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  ASSERT_EQ(b.connect().status, 0) << server.log();
  int32_t sch = 0;
  int32_t const tab = makeShopTable(a, 12, &sch);
  ASSERT_GT(tab, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_GT(tabB, 0);
  zftest::RawReply r = a.request(sch, DBM_ATTACH, Body().w(64).w(0).w(1 | 8).w(tab).w(0).w(5).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const cur = r.result;
  ASSERT_TRUE(a.send(cur, DBM_SETRANGE, Body().w(2 | 8).w(0).w(10).w(120).words()));
  auto noWaitRead = [&](int32_t key) {
    zftest::RawReply g = b.request(tabB, DBM_GETRECORD, getByKey(kTakeX | 2, 0, key));
    EXPECT_TRUE(g.ok);
    return g.status == 0 ? g.result : -g.status;
  };
  r = a.request(cur, DBM_GETNEXTBLOCK);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.result, 5) << server.log();
  EXPECT_EQ(noWaitRead(10), kExcLocked);
  EXPECT_EQ(noWaitRead(50), kExcLocked);
  r = a.request(cur, DBM_GETNEXTBLOCK);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.result, 5) << server.log();
  EXPECT_EQ(noWaitRead(60), kExcLocked);
  EXPECT_EQ(noWaitRead(10), 1);  // freed with the first block
  ASSERT_TRUE(b.send(tabB, DBM_FREERECORD, Body().w(0).w(kExactKey).w(0).w(10).words()));

  r = a.request(tab, DBM_CREATE, Body().s("byname2").w(0).w(1).w(1).w(0).w(0).w(0).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  auto firstByName2 = [&] {
    zftest::RawReply f = a.request(tab, DBM_FINDRECORD, Body().w(2).w(0x400).w(0).words());
    EXPECT_TRUE(f.ok);
    EXPECT_EQ(f.status, 0) << server.log();
    return f.result;
  };
  EXPECT_EQ(firstByName2(), -1);  // made empty
  r = a.request(sch, DBM_ATTACH, Body().w(64).w(0).w(0).w(tab).w(0).w(5).words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const cur2 = r.result;
  ASSERT_TRUE(a.send(cur2, DBM_SETRANGE, Body().w(2 | 8).w(0).w(10).w(120).words()));
  int32_t built = 0;
  for (int round = 0; round < 20; ++round) {
    r = a.request(cur2, DBM_BUILD, Body().w(2).w(1).words());
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.status, 0) << server.log();
    if (r.result == 0) break;
    built += r.result < 0 ? -r.result : r.result;
  }
  EXPECT_EQ(built, 12);
  EXPECT_EQ(firstByName2(), 1);  // "n101"

  expectStopsVerified(server);
}

// Build from a cursor whose range covers only part of the table: a named
// index must hold every record (the check at every checkpoint and at Stop
// counts its keys against the table), so Build goes on past the range
// until it does; a temporary index keeps just the range's keys.
TEST(LiveRequests, BuildOverPartOfTheTableCompletesANamedIndex) {
  zftest::TestServer server("partbuild");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t sch = 0;
  int32_t const tab = makeShopTable(a, 12, &sch);
  ASSERT_GT(tab, 0) << server.log();
  zftest::RawReply r = a.request(tab, DBM_CREATE, Body().s("byname2").w(0).w(1).w(1).w(0).w(0).w(0).words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const named = r.result;
  r = a.request(tab, DBM_CREATE, Body().s("").w(0).w(1).w(1).w(0).w(0).w(0).words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const temp = r.result;
  ASSERT_NE(named, temp);

  // Builds index `number` from a cursor over keys 30..60 of the primary
  // index (records 3 to 6); the keys added in all.
  auto buildFromPart = [&](int32_t number) {
    zftest::RawReply cr = a.request(sch, DBM_ATTACH, Body().w(64).w(0).w(0).w(tab).w(0).w(5).words());
    EXPECT_EQ(cr.status, 0) << server.log();
    EXPECT_TRUE(a.send(cr.result, DBM_SETRANGE, Body().w(2 | 8).w(0).w(30).w(60).words()));
    int32_t built = 0;
    for (int round = 0; round < 40; ++round) {
      zftest::RawReply b = a.request(cr.result, DBM_BUILD, Body().w(number).w(1).words());
      EXPECT_TRUE(b.ok);
      EXPECT_EQ(b.status, 0) << server.log();
      if (!b.ok || b.status != 0 || b.result == 0) break;
      built += b.result < 0 ? -b.result : b.result;
      if (b.result < 0) break;
    }
    a.request(kServerObject, DBM_DETACH, Body().w(cr.result).words());
    return built;
  };
  EXPECT_EQ(buildFromPart(temp), 4);
  EXPECT_EQ(buildFromPart(named), 12);
  r = a.request(tab, DBM_FINDRECORD, Body().w(named).w(0x400).w(0).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 1) << server.log();  // "n101", outside the range
  r = a.request(tab, DBM_FINDRECORD, Body().w(named).w(0x800).w(0).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 12) << server.log();

  expectStopsVerified(server);
}

// A Build into a named index that its client leaves half done, by
// detaching the cursor or by disconnecting, must not leave the index short
// of the table: the next checkpoint's check would stop the server. The
// cursor completes the index as it goes.
TEST(LiveRequests, AnAbandonedBuildLeavesNoNamedIndexShort) {
  zftest::TestServer server("abandon");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId()), b(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  ASSERT_EQ(b.connect().status, 0) << server.log();
  int32_t sch = 0;
  constexpr int32_t kRows = 300;  // more than one Build batch
  int32_t const tab = makeShopTable(a, kRows, &sch);
  ASSERT_GT(tab, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_GT(tabB, 0) << server.log();
  zftest::RawReply r = b.request(kServerObject, DBM_ATTACH, Body().w(16).w(0).w(0).s("shop").words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const schB = r.result;
  for (auto const& [name, byDetach] : {std::pair<char const*, bool>{"bydetach", true}, {"byleaving", false}}) {
    SCOPED_TRACE(name);
    r = a.request(tab, DBM_CREATE, Body().s(name).w(0).w(1).w(1).w(0).w(0).w(0).words());
    ASSERT_EQ(r.status, 0) << server.log();
    int32_t const named = r.result;
    zftest::RawClient& who = byDetach ? a : b;
    int32_t const whoSch = byDetach ? sch : schB;
    r = who.request(whoSch, DBM_ATTACH, Body().w(64).w(0).w(0).w(byDetach ? tab : tabB).w(0).w(0).words());
    ASSERT_EQ(r.status, 0) << server.log();
    int32_t const cur = r.result;
    ASSERT_TRUE(who.send(cur, DBM_SETRANGE, Body().w(2 | 8).w(0).w(10).w(kRows * 10).words()));
    r = who.request(cur, DBM_BUILD, Body().w(named).w(1).words());
    ASSERT_EQ(r.status, 0) << server.log();
    ASSERT_GT(r.result, 0) << server.log();
    ASSERT_LT(r.result, kRows);  // half done
    if (byDetach)
      ASSERT_EQ(a.request(kServerObject, DBM_DETACH, Body().w(cur).words()).status, 0) << server.log();
    else
      ASSERT_TRUE(b.send(kServerObject, DBM_DISCONNECT, {}));
    r = a.request(kServerObject, DBM_CHECKPOINT, Body().w(0).words());
    ASSERT_TRUE(r.ok) << server.log();
    EXPECT_EQ(r.status, 0) << server.log();
    r = a.request(tab, DBM_FINDRECORD, Body().w(named).w(0x800).w(0).words());
    ASSERT_TRUE(r.ok) << server.log();
    EXPECT_EQ(r.result, kRows) << server.log();  // the last name: complete
  }
  expectStopsVerified(server);
}

// A schema made outside a transaction and lost when the server is killed
// before a checkpoint recorded it leaves its directory behind; no
// configuration claims it, so creating the schema again reuses it.
TEST(LiveRequests, ASchemaLostInACrashCanBeCreatedAgain) {
  zftest::TempDir dir;
  dir.write("jrnl/.keep", "");
  zftest::TestServer server(dir, "lostsch", "JournalDir\t" + dir.file("jrnl") + "\n");
  std::vector<uint32_t> const schema = Body().w(16).w(0).w(1).s("gone").s("lost in a crash").words();
  {
    ASSERT_TRUE(server.start()) << server.log();
    zftest::RawClient a(server.serverId());
    ASSERT_EQ(a.connect().status, 0) << server.log();
    zftest::RawReply r = a.request(kServerObject, DBM_ATTACH, schema);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.status, 0) << server.log();
    server.kill();
    server.removeIpc();
  }
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  zftest::RawReply r = a.request(kServerObject, DBM_ATTACH, schema);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  Body table;
  table.w(32).w(0).w(1).s("T").s("").w(0).w(0).w(1);
  field(table, "id", SvField::INT, 0, 1);
  r = a.request(r.result, DBM_ATTACH, table.words());
  ASSERT_EQ(r.status, 0) << server.log();
  expectStopsVerified(server);
}

// Alter to a structure with one more field answers 0 (a copy is needed);
// Copy and Replace then leave the old name with the new field and every
// record, and GetTables lists exactly that table. The replacing client
// still holds the replaced table's attachment: Replace takes it out of the
// client's objects, so the server stops cleanly.
TEST(LiveRequests, AlterCopyAndReplaceKeepTheNameWithTheNewField) {
  zftest::TestServer server("alter");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t sch = 0;
  int32_t const tab = makeShopTable(a, 40, &sch);
  ASSERT_GT(tab, 0) << server.log();
  ASSERT_TRUE(a.send(tab, DBM_DELRECORD, Body().w(70).words()));  // a gap at record 7
  Body table;
  table.w(32).w(0).w(1).s("U").s("").w(0).w(0).w(4);
  field(table, "id", SvField::INT, 0, 1);
  field(table, "name", SvField::STRING, 10, 1);
  field(table, "vals", SvField::INT, 0, 4);
  field(table, "extra", SvField::INT, 0, 1);
  zftest::RawReply r = a.request(sch, DBM_ATTACH, table.words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const to = r.result;
  for (auto const& [name, fieldNo] : {std::pair<char const*, int32_t>{"pk", 0}, {"byname", 1}}) {
    r = a.request(to, DBM_CREATE, Body().s(name).w(0).w(1).w(fieldNo).w(0).w(0).w(0).words());
    ASSERT_EQ(r.status, 0) << server.log();
  }
  std::vector<size_t> before(41, 0);
  for (int32_t id : {1, 20, 40}) {
    r = a.request(tab, DBM_GETRECORD, getByKey(kExactKey, 0, id * 10));
    ASSERT_EQ(r.status, 0) << server.log();
    before[size_t(id)] = r.body.size();
  }
  r = a.request(tab, DBM_ALTER, Body().w(to).w(1).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 0) << server.log();
  EXPECT_EQ(r.result, 0);

  r = a.request(tab, DBM_COPY, Body().w(to).words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const job = r.result;
  for (int round = 0; round < 50; ++round) {
    r = a.request(job, DBM_ACTIVATION);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.status, 0) << server.log();
    if (r.result == 0) break;
  }
  // While the copy job or a cursor holds the table, Replace is refused.
  r = a.request(to, DBM_REPLACE, Body().w(tab).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, -kExcBeingUsed) << server.log();
  r = a.request(kServerObject, DBM_DETACH, Body().w(job).words());
  ASSERT_TRUE(r.ok);
  r = a.request(sch, DBM_ATTACH, Body().w(64).w(0).w(0).w(tab).w(0).w(5).words());
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const cur = r.result;
  r = a.request(to, DBM_REPLACE, Body().w(tab).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, -kExcBeingUsed) << server.log();
  r = a.request(kServerObject, DBM_DETACH, Body().w(cur).words());
  ASSERT_TRUE(r.ok);
  r = a.request(to, DBM_REPLACE, Body().w(tab).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  EXPECT_EQ(r.result, 0);

  r = a.request(sch, DBM_GETTABLES);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(bodyHas(r.body, "T:"));
  EXPECT_FALSE(bodyHas(r.body, "U:"));

  // A second client finds every record under the old name, with the field.
  zftest::RawClient b(server.serverId());
  ASSERT_EQ(b.connect().status, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_GT(tabB, 0) << server.log();
  r = b.request(tabB, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 39);
  for (int32_t id = 1; id <= 40; ++id) {
    if (id == 7) continue;
    SCOPED_TRACE(id);
    r = b.request(tabB, DBM_GETRECORD, getByKey(kExactKey, 0, id * 10));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.status, 0) << server.log();
    EXPECT_EQ(r.result, id);
    if (before[size_t(id)] != 0) {
      EXPECT_GT(r.body.size(), before[size_t(id)]);  // the new field is there
    }
  }
  r = b.request(tabB, DBM_FINDRECORD, Body().w(0).w(kExactKey).w(0).w(70).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, -1);

  expectStopsVerified(server);
}

TEST(LiveRequests, ATableIsMadeFilledAndReadByTwoClients) {
  zftest::TestServer server("live");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_TRUE(a.ok());
  zftest::RawReply cr = a.connect();
  ASSERT_TRUE(cr.ok);
  ASSERT_EQ(cr.status, 0) << server.log();

  Body schema;
  schema.w(16).w(0).w(1).s("shop").s("a shop");
  zftest::RawReply r = a.request(kServerObject, DBM_ATTACH, schema.words());
  ASSERT_TRUE(r.ok) << server.log() << " type " << r.type << " status " << r.status << " result " << r.result;
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const sch = r.result;
  ASSERT_GT(sch, 0);

  Body table;
  table.w(32).w(0).w(1).s("T").s("").w(0).w(0).w(3);
  field(table, "id", SvField::INT, 0, 1);
  field(table, "name", SvField::STRING, 10, 1);
  field(table, "vals", SvField::INT, 0, 4);
  r = a.request(sch, DBM_ATTACH, table.words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server.log();
  int32_t const tab = r.result;
  ASSERT_GT(tab, 0);
  for (auto const& [name, fieldNo] : {std::pair<char const*, int32_t>{"pk", 0}, {"byname", 1}}) {
    Body ix;
    ix.s(name).w(0).w(1).w(fieldNo).w(0).w(0).w(0);
    r = a.request(tab, DBM_CREATE, ix.words());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 0) << server.log();
  }
  for (int32_t id = 1; id <= 40; ++id) {
    std::string name = "n" + std::to_string(100 + id);
    Body add;
    add.w(1).w(id * 10).s(name.c_str()).w(id).w(id).w(id + 1).w(0);
    ASSERT_TRUE(a.send(tab, DBM_ADDRECORD, add.words()));
  }
  r = a.request(tab, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 40);

  // Read by key: the record number, then instance id, stamp and fields.
  Body get;
  get.w(0).w(0x80).w(0).w(0).w(0).w(200);
  r = a.request(tab, DBM_GETRECORD, get.words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 0);
  EXPECT_GT(r.result, 0);
  ASSERT_GE(r.body.size(), 4u);
  EXPECT_EQ(int32_t(r.body[3]), 200);

  // A second client attaches the table; its hostile read is answered and
  // changes nothing.
  zftest::RawClient b(server.serverId());
  ASSERT_TRUE(b.connect().ok);
  Body sb;
  sb.w(16).w(0).w(0).s("shop");
  r = b.request(kServerObject, DBM_ATTACH, sb.words());
  ASSERT_TRUE(r.ok);
  int32_t const schB = r.result;
  Body tb;
  tb.w(32).w(0).w(0).s("T").w(0);  // version 0: the current data
  r = b.request(schB, DBM_ATTACH, tb.words());
  ASSERT_TRUE(r.ok);
  int32_t const tabB = r.result;
  ASSERT_GT(tabB, 0) << r.status << server.log();
  r = b.request(tabB, DBM_FINDRECORD, Body().w(7).w(0x80).w(0).w(1).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(-r.status, kExcInvalidIndexNum);
  // Hostile numbers each get an error answer and change nothing.
  struct Hostile {
    char const* what;
    int32_t obj;
    int32_t op;
    std::vector<uint32_t> body;
  };
  std::vector<Hostile> const hostile = {
      {"attach kind 5", schB, DBM_ATTACH, Body().w(5).w(0).w(0).words()},
      {"read by index 9", tabB, DBM_GETRECORD, Body().w(9).w(0x80).w(0).w(0).w(0).w(200).words()},
      {"read by index -1", tabB, DBM_GETRECORD, Body().w(-1).w(0x80).w(0).w(0).w(0).w(200).words()},
      {"index over field 99", tabB, DBM_CREATE, Body().s("bad").w(0).w(1).w(99).w(0).w(0).w(0).words()},
      {"cursor on index 9", schB, DBM_ATTACH, Body().w(64).w(0).w(0).w(tabB).w(9).w(5).words()},
      {"cursor on object 12345", schB, DBM_ATTACH, Body().w(64).w(0).w(0).w(12345).w(0).w(5).words()},
      {"copy onto object 12345", tabB, DBM_COPY, Body().w(12345).words()},
      {"alter of object 12345", tabB, DBM_ALTER, Body().w(12345).words()},
      {"replace by object 12345", tabB, DBM_REPLACE, Body().w(12345).words()},
  };
  for (Hostile const& h : hostile) {
    SCOPED_TRACE(h.what);
    r = b.request(h.obj, h.op, h.body);
    ASSERT_TRUE(r.ok) << server.log();
    EXPECT_TRUE(r.status != 0 || r.result == -1) << r.status << " " << r.result;
  }
  r = b.request(tabB, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 40);
  r = b.request(tabB, DBM_GETRECORD, getByKey(kExactKey, 0, 200));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 20);
  ASSERT_GE(r.body.size(), 4u);
  EXPECT_EQ(int32_t(r.body[3]), 200);

  expectStopsVerified(server);
}

// ---- a journalled server: rows through an abort and a crash ----------------

std::string journalKeys(zftest::TempDir& dir, std::string const& name);

// A journalled server that deletes its closed journal files.
std::string journalKeys(zftest::TempDir& dir) {
  return journalKeys(dir, "jrnl") + "Backup\t0\n";
}

// The stored words of each key's row (none when absent); without the
// modification stamp when `stamps` is false (an undo of a row changed since
// a checkpoint stamps it anew).
std::vector<std::vector<uint32_t>> rowsOf(zftest::RawClient& a, int32_t tab, std::vector<int32_t> const& keys,
                                          bool stamps = true) {
  std::vector<std::vector<uint32_t>> out;
  for (int32_t k : keys) {
    zftest::RawReply r = a.request(tab, DBM_GETRECORD, getByKey(kExactKey, 0, k));
    out.push_back(r.ok && r.status == 0 && r.result != -1 ? r.body : std::vector<uint32_t>());
    if (!stamps && out.back().size() > 3) out.back()[1] = out.back()[2] = 0;
  }
  return out;
}

// AbortTransact undoes an add, an update and a delete of its own and
// touches no other row, on rows made since the last checkpoint and on rows
// a checkpoint wrote; the undone state survives a restart.
TEST(LiveRequests, AbortTransactUndoesItsAddUpdateAndDelete) {
  for (bool checkpointed : {false, true}) {
  SCOPED_TRACE(checkpointed);
  zftest::TempDir dir;
  zftest::TestServer server(dir, "abrt", journalKeys(dir));
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t const tab = makeShopTable(a, 4);
  ASSERT_NE(tab, 0) << server.log();
  std::vector<int32_t> const keys = {10, 20, 30, 40, 50};
  auto const before = rowsOf(a, tab, keys, !checkpointed);
  ASSERT_TRUE(before[4].empty());
  if (checkpointed) {
    ASSERT_EQ(a.request(kServerObject, DBM_CHECKPOINT, {0}).status, 0) << server.log();
  }

  ASSERT_EQ(a.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  ASSERT_TRUE(a.send(tab, DBM_ADDRECORD, Body().w(1).w(50).s("n150").w(1).w(2).w(3).w(4).words()));
  ASSERT_TRUE(a.send(tab, DBM_UPDATERECORD,
                     Body().w(1).w(20).w(2).w(SvField::SET).w(0).w(3).w(99).w(-1).words()));
  ASSERT_TRUE(a.send(tab, DBM_DELRECORD, Body().w(30).words()));
  auto const inside = rowsOf(a, tab, keys);
  EXPECT_FALSE(inside[4].empty());
  EXPECT_NE(inside[1], before[1]);
  EXPECT_TRUE(inside[2].empty());
  zftest::RawReply r = a.request(kServerObject, DBM_ABORTTRANSACT);
  ASSERT_TRUE(r.ok) << server.log();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(rowsOf(a, tab, keys, !checkpointed), before) << server.log();
  r = a.request(tab, DBM_CARDINAL);
  EXPECT_EQ(r.result, 4);

  // A client after the abort sees the same, and so does a restart.
  ASSERT_EQ(server.stop(), 0) << server.log();
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient b(server.serverId());
  ASSERT_EQ(b.connect().status, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_NE(tabB, 0);
  EXPECT_EQ(rowsOf(b, tabB, keys, !checkpointed), before) << server.log();
  expectStopsVerified(server);
  }
}

// A client process killed with kill -9 while it holds locks: a record it
// changed and locked in an open transaction, or the whole table outside
// one. Another process's locking read waits for it, and the server's
// housekeeping, finding the process gone, rolls the transaction back and
// frees its locks: the waiter gets the record as it was before the dead
// client's change. The bound on the wait only tells "never" from "soon".
TEST(LiveRequests, AWaiterOnAKilledClientsLocksGoesOn) {
  zftest::TempDir dir;
  zftest::TestServer server(dir, "kill", journalKeys(dir));
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId()), b(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  ASSERT_EQ(b.connect().status, 0) << server.log();
  ASSERT_EQ(a.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  int32_t const tab = makeShopTable(a, 8);
  ASSERT_NE(tab, 0) << server.log();
  ASSERT_EQ(a.request(kServerObject, DBM_ENDTRANSACT, {0}).status, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_NE(tabB, 0);
  std::vector<int32_t> const keys = {10, 50, 60};
  auto const before = rowsOf(b, tabB, keys);

  struct Case {
    char const* what;
    bool inTransaction;  // else a table lock
    int32_t key;
  } const cases[] = {{"a changed record in an open transaction", true, 50}, {"a table lock", false, 60}};
  for (Case const& k : cases) {
    SCOPED_TRACE(k.what);
    zftest::ChildRun holder = zftest::startChild([&] {
      zftest::RawClient h(server.serverId());
      ZF_CHILD_CHECK(h.connect().status == 0);
      int32_t const tabH = attachShopTable(h);
      ZF_CHILD_CHECK(tabH != 0);
      if (k.inTransaction) {
        ZF_CHILD_CHECK(h.request(kServerObject, DBM_BEGTRANSACT, {0}).status == 0);
        ZF_CHILD_CHECK(h.send(tabH, DBM_UPDATERECORD,
                              Body().w(1).w(k.key).w(2).w(SvField::SET).w(0).w(3).w(99).w(-1).words()));
        ZF_CHILD_CHECK(h.request(tabH, DBM_GETRECORD, getByKey(kTakeX, 0, k.key)).status == 0);
      } else {
        ZF_CHILD_CHECK(h.request(tabH, DBM_LOCK, Body().w(1 | 8).w(0).w(0).words()).status == 0);
      }
      std::printf("holding\n");
      std::fflush(stdout);
      for (;;) pause();
    });
    ASSERT_EQ(holder.readLine(), "holding");

    ASSERT_TRUE(b.send(tabB, DBM_GETRECORD, getByKey(kTakeX, -1, k.key)));
    zftest::RawReply r = a.request(tab, DBM_CARDINAL);  // served while b waits
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result, 8);
    EXPECT_EQ(b.pendingReplies(), 0);

    holder.stop();  // kill -9
    r = b.reply(0, 30);
    ASSERT_TRUE(r.ok) << server.log();
    EXPECT_EQ(r.status, 0) << server.log();
    ASSERT_GE(r.body.size(), 4u);
    EXPECT_EQ(int32_t(r.body[3]), k.key);  // the id after instance id and stamp
    ASSERT_TRUE(b.send(tabB, DBM_FREERECORD, Body().w(0).w(kExactKey).w(0).w(k.key).words()));  // void
  }
  EXPECT_EQ(rowsOf(b, tabB, keys), before) << server.log();
  // Nothing of the dead clients is left: a table lock is granted at once.
  zftest::RawReply r = a.request(tab, DBM_LOCK, Body().w(1 | 8).w(0).w(0).words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 0) << server.log();
  expectStopsVerified(server);
}

// A delete outside a transaction is a change committed alone: it is done at
// once, not deferred to the end of a transaction that does not exist.
// Another client no longer finds the record, and a checkpoint taken before
// the deleting client goes and a crash after it do not bring it back.
TEST(LiveRequests, ADeleteOutsideATransactionIsDoneAtOnceAndStaysDoneAfterACrash) {
  zftest::TempDir dir;
  zftest::TestServer server(dir, "dlot", journalKeys(dir));
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId()), b(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  ASSERT_EQ(b.connect().status, 0) << server.log();
  ASSERT_EQ(a.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  int32_t const tab = makeShopTable(a, 3);
  ASSERT_NE(tab, 0) << server.log();
  ASSERT_EQ(a.request(kServerObject, DBM_ENDTRANSACT, {0}).status, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_NE(tabB, 0);
  std::vector<int32_t> const keys = {10, 20, 30};

  ASSERT_TRUE(a.send(tab, DBM_DELRECORD, Body().w(20).words()));  // void, no transaction
  auto const seen = rowsOf(b, tabB, keys);
  EXPECT_FALSE(seen[0].empty());
  EXPECT_TRUE(seen[1].empty()) << "the deleted record is still found by another client";
  EXPECT_FALSE(seen[2].empty());
  zftest::RawReply r = b.request(tabB, DBM_CARDINAL);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, 2);

  ASSERT_EQ(b.request(kServerObject, DBM_CHECKPOINT, {0}).status, 0) << server.log();
  server.kill();
  server.removeIpc();
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient c(server.serverId());
  ASSERT_EQ(c.connect().status, 0) << server.log();
  int32_t const tabC = attachShopTable(c);
  ASSERT_NE(tabC, 0) << server.log();
  auto const after = rowsOf(c, tabC, keys);
  EXPECT_TRUE(after[1].empty()) << "the delete was lost in the crash";
  EXPECT_EQ(after[0].empty(), seen[0].empty());
  EXPECT_EQ(after[2].empty(), seen[2].empty());
  expectStopsVerified(server);
}

// kill -9 with one transaction committed and one open, no checkpoint
// between them and the making of the schema and table: the restart
// (verbose) has the schema, its files and the committed rows, not the open
// one's changes, and reports its recovery; the open transaction is
// journalled as aborted.
TEST(LiveRequests, CrashKeepsTheCommittedTransactionOfANewTableAndUndoesTheOpenOne) {
  zftest::TempDir dir;
  dir.write("jrnl/.keep", "");
  zftest::TestServer server(dir, "crsh", "JournalDir\t" + dir.file("jrnl") + "\nBackup\t1\n");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId()), b(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  ASSERT_EQ(b.connect().status, 0) << server.log();
  int32_t const tab = makeShopTable(a, 3);
  ASSERT_NE(tab, 0) << server.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_NE(tabB, 0);
  std::vector<int32_t> const keys = {10, 20, 30, 40, 50};
  auto const before = rowsOf(a, tab, keys);

  // a's transaction (on the rows a made) stays open; its records reach
  // the file with b's end.
  ASSERT_EQ(a.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  ASSERT_TRUE(a.send(tab, DBM_ADDRECORD, Body().w(1).w(50).s("n150").w(1).w(2).w(3).w(4).words()));
  ASSERT_TRUE(a.send(tab, DBM_UPDATERECORD,
                     Body().w(1).w(10).w(2).w(SvField::SET).w(0).w(3).w(77).w(-1).words()));
  ASSERT_TRUE(a.send(tab, DBM_DELRECORD, Body().w(20).words()));
  ASSERT_EQ(b.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  ASSERT_TRUE(b.send(tabB, DBM_ADDRECORD, Body().w(1).w(40).s("n140").w(4).w(4).w(4).w(4).words()));
  zftest::RawReply r = b.request(kServerObject, DBM_ENDTRANSACT, {1});
  ASSERT_EQ(r.status, 0) << server.log();
  EXPECT_EQ(server.log().find("Rolling back"), std::string::npos) << server.log();
  auto const committed = rowsOf(b, tabB, keys);
  ASSERT_FALSE(committed[3].empty());
  server.kill();
  server.removeIpc();

  ASSERT_TRUE(server.start({"-v"})) << server.log();
  zftest::RawClient c(server.serverId());
  ASSERT_EQ(c.connect().status, 0) << server.log();
  int32_t const tabC = attachShopTable(c);
  ASSERT_NE(tabC, 0) << server.log();
  auto const after = rowsOf(c, tabC, keys);
  for (size_t i = 0; i < keys.size(); ++i) {
    SCOPED_TRACE(keys[i]);
    EXPECT_EQ(after[i].empty(), keys[i] == 50) << server.log();
    if (i < 3) {
      EXPECT_EQ(after[i], before[i]);
    }
  }
  EXPECT_EQ(after[3], committed[3]);
  std::string const log = server.log();
  for (char const* text : {"Reading journal from file rlog", "Rolling back incomplete transactions",
                           " out of 2 transactions.", "ADDSCHEMA", "ENDTRANSACTION"})
    EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
  EXPECT_EQ(log.find("assertion"), std::string::npos) << log;
  expectStopsVerified(server);

  // The file replayed ends with the abort of b's transaction.
  int aborts = 0;
  for (auto const& e : std::filesystem::directory_iterator(dir.file("jrnl"))) {
    std::string const base = e.path().filename().string();
    if (base.rfind("rlog", 0) != 0) continue;
    Journal j(32, String(dir.file("jrnl").c_str()));
    ASSERT_TRUE(j.restart(String(base.c_str()), Journal::kPrefixSize));
    int32_t cid, tn, off, len;
    SvTable* t;
    for (int32_t k; (k = j.nextOp(cid, tn, t, off, len)) != -1;) {
      ASSERT_NE(k, Journal::kDamaged) << base;
      if (k == Journal::ABORTTRANSACTION) ++aborts;
    }
  }
  EXPECT_EQ(aborts, 1);
}

// A mirror reading the primary's journal across the primary's kill and
// restart: it first shows the open transaction's changes as replayed, and
// once the restarted primary has rolled that transaction back (journalled
// as an abort), the mirror undoes it too and ends with the primary's rows.
// The mirror starts before the primary's changes, or after them: then its
// last checkpoint is later than the rows' stamps, the rows it replays are
// copied on write, and the row it restores gets a stamp after that
// checkpoint, so the rows are compared by their values.
TEST(LiveRequests, AMirrorUndoesWhatThePrimaryRolledBackAtItsRestart) {
  for (bool lateMirror : {false, true}) {
  SCOPED_TRACE(lateMirror);
  zftest::TempDir dir;
  dir.write("jrnl/.keep", "");
  std::string const keys = "JournalDir\t" + dir.file("jrnl") + "\nBackup\t1\n";
  zftest::TestServer primary(dir, "prim", keys);
  zftest::TestServer mirror(dir, "mirr", keys);
  ASSERT_TRUE(primary.start()) << primary.log();
  if (!lateMirror) {
    ASSERT_TRUE(mirror.start({"-m"})) << mirror.log();
  }
  zftest::RawClient a(primary.serverId()), b(primary.serverId());
  ASSERT_EQ(a.connect().status, 0) << primary.log();
  ASSERT_EQ(b.connect().status, 0) << primary.log();
  int32_t const tab = makeShopTable(a, 3);
  ASSERT_NE(tab, 0) << primary.log();
  int32_t const tabB = attachShopTable(b);
  ASSERT_NE(tabB, 0);
  std::vector<int32_t> const keysRead = {10, 20, 30, 40, 50};
  auto const before = rowsOf(a, tab, keysRead, false);
  ASSERT_EQ(a.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  ASSERT_TRUE(a.send(tab, DBM_ADDRECORD, Body().w(1).w(50).s("n150").w(1).w(2).w(3).w(4).words()));
  ASSERT_TRUE(a.send(tab, DBM_UPDATERECORD,
                     Body().w(1).w(10).w(2).w(SvField::SET).w(0).w(3).w(77).w(-1).words()));
  ASSERT_EQ(b.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  ASSERT_TRUE(b.send(tabB, DBM_ADDRECORD, Body().w(1).w(40).s("n140").w(4).w(4).w(4).w(4).words()));
  ASSERT_EQ(b.request(kServerObject, DBM_ENDTRANSACT, {1}).status, 0) << primary.log();
  auto const committed = rowsOf(b, tabB, keysRead, false);
  if (lateMirror) {
    ::sleep(1);  // the mirror's first checkpoint falls in a later second
    ASSERT_TRUE(mirror.start({"-m"})) << mirror.log();
  }

  // The mirror's rows, read by a client of its own (none while the schema
  // is not there yet).
  auto mirrorRows = [&] {
    zftest::RawClient m(mirror.serverId());
    if (m.connect().status != 0) return std::vector<std::vector<uint32_t>>();
    int32_t const t = attachShopTable(m);
    return t != 0 ? rowsOf(m, t, keysRead, false) : std::vector<std::vector<uint32_t>>();
  };
  auto waitFor = [&](auto const& done) {
    for (int i = 0; i < 300; ++i) {
      std::vector<std::vector<uint32_t>> const rows = mirrorRows();
      if (rows.size() == keysRead.size() && done(rows)) return true;
      ::usleep(200000);
    }
    return false;
  };
  // Replayed so far: b's row and a's open changes.
  EXPECT_TRUE(waitFor([&](auto const& rows) { return !rows[3].empty() && !rows[4].empty(); })) << mirror.log();

  primary.kill();
  primary.removeIpc();
  ASSERT_TRUE(primary.start()) << primary.log();
  EXPECT_TRUE(waitFor([&](auto const& rows) {
    return rows[4].empty() && rows[0] == before[0] && rows[3] == committed[3];
  })) << mirror.log();
  EXPECT_EQ(mirror.log().find("assertion"), std::string::npos) << mirror.log();
  EXPECT_EQ(primary.stop(), 0);
  EXPECT_EQ(mirror.stop(), 0) << mirror.log();
  }
}

// A checkpoint taken while a transaction that deleted a row is open (an
// overdue one) writes the delete into ACTIVETRANS; the server is killed
// after the transaction committed, or while it is still open: the restart
// has the row deleted, or back.
TEST(LiveRequests, ADeleteOpenAcrossACheckpointIsRedoneOrUndoneAfterACrash) {
  for (bool commit : {true, false}) {
  SCOPED_TRACE(commit);
  zftest::TempDir dir;
  dir.write("jrnl/.keep", "");
  zftest::TestServer server(dir, "dcp",
                            "JournalDir\t" + dir.file("jrnl") +
                                "\nBackup\t1\nCkPointFreq\t2\nCkPointLowBound\t1\nCkPointUpBound\t1\n");
  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient a(server.serverId());
  ASSERT_EQ(a.connect().status, 0) << server.log();
  int32_t const tab = makeShopTable(a, 3);
  ASSERT_NE(tab, 0) << server.log();
  std::vector<int32_t> const keys = {10, 20, 30};
  auto const before = rowsOf(a, tab, keys);
  ASSERT_EQ(a.request(kServerObject, DBM_BEGTRANSACT, {0}).status, 0);
  ASSERT_TRUE(a.send(tab, DBM_DELRECORD, Body().w(20).words()));
  // Housekeeping finds the checkpoint overdue and takes it with the
  // transaction open.
  bool written = false;
  for (int i = 0; i < 100 && !written; ++i) {
    ::usleep(200000);
    for (auto const& e : std::filesystem::directory_iterator(dir.file("jrnl"))) {
      std::string const base = e.path().filename().string();
      if (base.rfind("rlog", 0) != 0) continue;
      Journal j(32, String(dir.file("jrnl").c_str()));
      if (!j.restart(String(base.c_str()), Journal::kPrefixSize)) continue;
      int32_t cid, tn, off, len;
      SvTable* t;
      for (int32_t k; (k = j.nextOp(cid, tn, t, off, len)) >= 0;) written = written || k == Journal::ACTIVETRANS;
    }
  }
  ASSERT_TRUE(written) << server.log();
  if (commit) {
    ASSERT_EQ(a.request(kServerObject, DBM_ENDTRANSACT, {1}).status, 0) << server.log();
  }
  server.kill();
  server.removeIpc();

  ASSERT_TRUE(server.start()) << server.log();
  zftest::RawClient c(server.serverId());
  ASSERT_EQ(c.connect().status, 0) << server.log();
  int32_t const tabC = attachShopTable(c);
  ASSERT_NE(tabC, 0) << server.log();
  auto const after = rowsOf(c, tabC, keys);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_EQ(after[1].empty(), commit) << server.log();
  if (!commit) {
    EXPECT_EQ(after[1], before[1]);
  }
  EXPECT_EQ(after[2], before[2]);
  EXPECT_EQ(c.request(tabC, DBM_CARDINAL).result, commit ? 2 : 3);
  expectStopsVerified(server);
  }
}

// ---- two-phase commit across two live servers ----------------------------------

// A server with a journal, in a directory shared with its peer so that a
// participant finds its leader by name.
std::string journalKeys(zftest::TempDir& dir, std::string const& name) {
  std::string const j = dir.file(name + ".jrnl");
  mkdir(j.c_str(), 0700);
  return "JournalDir\t" + j + "\n";
}

// A client of `server` with the table of schema "shop", made (and
// checkpointed, so that a kill keeps it) or attached.
struct ShopClient {
  ShopClient(zftest::TestServer& server, bool make) : c(server.serverId()) {
    if (c.connect().status != 0) return;
    tab = make ? makeShopTable(c, 0) : attachShopTable(c);
    if (make && tab > 0 && c.request(kServerObject, DBM_CHECKPOINT, {0}).status != 0) tab = 0;
  }
  bool has(int32_t key) {
    zftest::RawReply r = c.request(tab, DBM_GETRECORD, getByKey(kExactKey, 0, key));
    return r.ok && r.status == 0 && r.result > 0;
  }
  zftest::RawClient c;
  int32_t tab = 0;
};

// The AddRecord body of a row with key `key` and a name of its own.
std::vector<uint32_t> rowOf(int32_t key) {
  std::string const name = "k" + std::to_string(key);
  return Body().w(1).w(key).s(name.c_str()).w(1).w(2).w(3).w(4).words();
}

TimeStamp stampOf(zftest::RawReply const& r) {
  zftest::WireCodec rc;
  rc.feed(r.body);
  TimeStamp ts;
  rc >> ts;
  return ts;
}

// Begins a transaction through each client, adds the row `key` through
// each and votes, the participant first, for leader `leader` (the first
// client's server). The leader's stamp; a null stamp when a step failed.
TimeStamp writeAndVote(ShopClient& lead, ShopClient& part, std::string const& leader, int32_t key) {
  zftest::RawReply const begin = lead.c.request(kServerObject, DBM_BEGTRANSACT, {0});
  if (!begin.ok || begin.status != 0) return TimeStamp();
  if (part.c.request(kServerObject, DBM_BEGTRANSACT, {0}).status != 0) return TimeStamp();
  TimeStamp const ts = stampOf(begin);
  for (ShopClient* sc : {&lead, &part})
    if (!sc->c.send(sc->tab, DBM_ADDRECORD, rowOf(key))) return TimeStamp();
  std::vector<uint32_t> const vote = Body().s(leader.c_str()).w(2).t(ts).words();
  for (ShopClient* sc : {&part, &lead}) {
    zftest::RawReply const r = sc->c.request(kServerObject, DBM_READYTOEND, vote);
    if (!r.ok || r.status != 0 || r.result != 0) return TimeStamp();
  }
  return ts;
}

int32_t askComplete(zftest::RawClient& c, TimeStamp const& ts) {
  return c.request(kServerObject, DBM_GETINFO, Body().w(4).t(ts).words()).result;
}

// B, killed after its vote, asks its live leader A at the restart and keeps
// its row; A keeps the transaction complete until its own EndTransact.
TEST(LiveTwoPhase, ARestartedParticipantAsksItsLeaderAndKeepsItsRow) {
  zftest::TempDir dir;
  zftest::TestServer a(dir, "tpa", journalKeys(dir, "tpa"));
  zftest::TestServer b(dir, "tpb", journalKeys(dir, "tpb"));
  ASSERT_TRUE(a.start()) << a.log();
  ASSERT_TRUE(b.start()) << b.log();
  ShopClient ca(a, true), cb(b, true);
  ASSERT_GT(ca.tab, 0) << a.log();
  ASSERT_GT(cb.tab, 0) << b.log();
  TimeStamp const ts = writeAndVote(ca, cb, "tpa", 510);
  ASSERT_FALSE(ts.isNull()) << a.log() << b.log();

  b.kill();
  b.removeIpc();
  ASSERT_TRUE(b.start({"-v"})) << b.log();
  ShopClient cb2(b, false);
  ASSERT_GT(cb2.tab, 0) << b.log();
  EXPECT_TRUE(cb2.has(510)) << b.log();
  std::string const log = b.log();
  EXPECT_NE(log.find("Asking the leader server about an in-doubt transaction: tpa"), std::string::npos) << log;
  EXPECT_NE(log.find("END"), std::string::npos) << log;

  EXPECT_EQ(0, askComplete(ca.c, ts));
  zftest::RawReply const end = ca.c.request(kServerObject, DBM_ENDTRANSACT, {1});
  EXPECT_EQ(0, end.status);
  EXPECT_EQ(0, end.result);
  EXPECT_EQ(-1, askComplete(ca.c, ts));
  EXPECT_TRUE(ca.has(510));
  expectStopsVerified(b);
  expectStopsVerified(a);
}

// With the leader down, the restart's decision is the option's: -t 2 ends
// (the row stays), -t 4 aborts (the row goes), none ends the start with
// CANTCONNECT.
TEST(LiveTwoPhase, WithTheLeaderDownTheOptionDecides) {
  zftest::TempDir dir;
  zftest::TestServer a(dir, "tpa", journalKeys(dir, "tpa"));
  zftest::TestServer b(dir, "tpb", journalKeys(dir, "tpb"));
  ASSERT_TRUE(b.start()) << b.log();
  {
    ShopClient made(b, true);
    ASSERT_GT(made.tab, 0) << b.log();
  }
  struct Round {
    std::vector<std::string> args;
    int32_t key;
    bool kept;
  } const rounds[] = {{{"-t", "2"}, 520, true}, {{"-t", "4"}, 530, false}, {{}, 540, false}};
  bool first = true;
  for (Round const& r : rounds) {
    SCOPED_TRACE(r.key);
    ASSERT_TRUE(a.start()) << a.log();
    if (!b.running()) {
      ASSERT_TRUE(b.start()) << b.log();
    }
    ShopClient ca(a, first), cb(b, false);
    first = false;
    ASSERT_GT(ca.tab, 0) << a.log();
    ASSERT_GT(cb.tab, 0) << b.log();
    ASSERT_FALSE(writeAndVote(ca, cb, "tpa", r.key).isNull()) << a.log() << b.log();
    b.kill();
    b.removeIpc();
    a.kill();
    a.removeIpc();
    if (r.args.empty()) {
      zftest::RunResult const ended = b.run({"-f", "tpb"});
      b.removeIpc();
      EXPECT_EQ(1, ended.status) << ended.out << ended.err;
      EXPECT_NE((ended.out + ended.err).find("Cannot connect to the leader server tpa"), std::string::npos)
          << ended.out << ended.err;
      break;
    }
    ASSERT_TRUE(b.start(r.args)) << b.log();
    ShopClient check(b, false);
    ASSERT_GT(check.tab, 0) << b.log();
    EXPECT_EQ(r.kept, check.has(r.key)) << b.log();
  }
}

// A client that dies after voting on B: B's heartbeat asks the leader A
// without stopping its other clients. A that completed the transaction ends
// it (the row stays, free); A that did not aborts it (the row goes); A down
// leaves it in doubt with its lock.
TEST(LiveTwoPhase, AClientDeadAfterItsVoteLeavesTheParticipantServing) {
  struct Case {
    char const* what;
    bool leaderUp;
    bool leaderVotes;
    bool rowThere;
    bool rowLocked;
  } const cases[] = {
      {"leader completed", true, true, true, false},
      {"leader never voted", true, false, false, false},
      {"leader down", false, false, true, true},
  };
  int32_t key = 600;
  for (Case const& k : cases) {
    SCOPED_TRACE(k.what);
    ++key;
    zftest::TempDir dir;
    zftest::TestServer a(dir, "tpa", journalKeys(dir, "tpa"));
    zftest::TestServer b(dir, "tpb", journalKeys(dir, "tpb"));
    ASSERT_TRUE(b.start()) << b.log();
    if (k.leaderUp) {
      ASSERT_TRUE(a.start()) << a.log();
    }
    {
      ShopClient made(b, true);
      ASSERT_GT(made.tab, 0) << b.log();
      if (k.leaderUp) {
        ShopClient madeA(a, true);
        ASSERT_GT(madeA.tab, 0) << a.log();
      }
    }
    zftest::RunResult voter = zftest::runInChild([&] {
      ShopClient cb(b, false);
      if (cb.tab <= 0) return 2;
      if (!k.leaderVotes) {
        if (cb.c.request(kServerObject, DBM_BEGTRANSACT, {0}).status != 0) return 3;
        if (!cb.c.send(cb.tab, DBM_ADDRECORD, rowOf(key))) return 4;
        zftest::RawReply const r =
            cb.c.request(kServerObject, DBM_READYTOEND, Body().s("tpa").w(2).t(TimeStamp()).words());
        return r.ok && r.status == 0 && r.result == 0 ? 0 : 5;
      }
      ShopClient ca(a, false);
      if (ca.tab <= 0) return 6;
      return writeAndVote(ca, cb, "tpa", key).isNull() ? 7 : 0;
    });
    ASSERT_EQ(0, voter.status) << voter.out << voter.err << b.log();

    ShopClient other(b, false);
    ASSERT_GT(other.tab, 0) << b.log();
    // The heartbeat finds the voter gone and asks the leader.
    bool asked = false;
    for (int i = 0; i < 100 && !asked; ++i) {
      asked = b.log().find("Asking the leader server about an in-doubt transaction: tpa") != std::string::npos;
      if (!asked) usleep(100000);
    }
    EXPECT_TRUE(asked) << b.log();
    zftest::RawReply r = other.c.request(other.tab, DBM_GETRECORD, getByKey(kTakeX | 2, 0, key));
    ASSERT_TRUE(r.ok) << b.log();
    if (k.rowLocked) {
      EXPECT_EQ(kExcLocked, -r.status) << b.log();
      EXPECT_NE(b.log().find("Cannot connect to the leader server tpa"), std::string::npos) << b.log();
    } else {
      EXPECT_EQ(k.rowThere, r.status == 0 && r.result > 0) << r.status << " " << r.result << b.log();
    }
    // Served meanwhile: another client's add and read.
    ASSERT_TRUE(other.c.send(other.tab, DBM_ADDRECORD, rowOf(key + 50)));
    EXPECT_TRUE(other.has(key + 50)) << b.log();
    EXPECT_TRUE(b.running());
    EXPECT_EQ(0, b.stop()) << b.log();
    if (k.rowLocked) {
      // Stopped in doubt, the transaction is in the journal for the next
      // start to decide: ended by -t 2, its row is there and free.
      ASSERT_TRUE(b.start({"-t", "2"})) << b.log();
      ShopClient again(b, false);
      ASSERT_GT(again.tab, 0) << b.log();
      r = again.c.request(again.tab, DBM_GETRECORD, getByKey(kTakeX | 2, 0, key));
      EXPECT_TRUE(r.ok && r.status == 0 && r.result > 0) << r.status << " " << b.log();
      EXPECT_EQ(0, b.stop()) << b.log();
    }
    if (k.leaderUp) {
      EXPECT_EQ(0, a.stop()) << a.log();
    }
  }
}

// ---- a mirror on the primary's journal ------------------------------------------

// The mirror shows the primary's committed rows once the primary closed
// the journal file that holds them, and refuses every change.
TEST(LiveMirror, AMirrorShowsCommittedRowsAndRefusesChanges) {
  zftest::TempDir dir;
  std::string const keys = journalKeys(dir, "mprim") + "Backup\t1\n";
  zftest::TestServer p(dir, "mprim", keys);
  zftest::TestServer m(dir, "mmirr", keys);
  ASSERT_TRUE(p.start()) << p.log();
  ASSERT_TRUE(m.start({"-m", "-v"})) << m.log();
  ShopClient cp(p, false);
  cp.tab = makeShopTable(cp.c, 0);
  ASSERT_GT(cp.tab, 0) << p.log();

  ASSERT_EQ(0, cp.c.request(kServerObject, DBM_BEGTRANSACT, {0}).status) << p.log();
  for (int32_t key : {701, 702}) ASSERT_TRUE(cp.c.send(cp.tab, DBM_ADDRECORD, rowOf(key)));
  ASSERT_EQ(0, cp.c.request(kServerObject, DBM_ENDTRANSACT, {1}).status) << p.log();
  ASSERT_EQ(0, cp.c.request(kServerObject, DBM_BEGTRANSACT, {0}).status) << p.log();
  ASSERT_TRUE(cp.c.send(cp.tab, DBM_ADDRECORD, rowOf(703)));
  ASSERT_EQ(0, cp.c.request(kServerObject, DBM_ABORTTRANSACT).status) << p.log();
  // The checkpoint closes the primary's file.
  ASSERT_EQ(0, cp.c.request(kServerObject, DBM_CHECKPOINT, {0}).status) << p.log();

  // The mirror replays in its housekeeping rounds, which run while it is
  // idle: the schema and the rows appear within a bounded wait of quiet
  // spells.
  zftest::RawClient cm(m.serverId());
  ASSERT_EQ(0, cm.connect().status) << m.log();
  int32_t mtab = 0;
  for (int i = 0; i < 12 && mtab <= 0; ++i) {
    usleep(2500000);
    mtab = attachShopTable(cm);
  }
  ASSERT_GT(mtab, 0) << m.log();
  auto has = [&](int32_t key) {
    zftest::RawReply r = cm.request(mtab, DBM_GETRECORD, getByKey(kExactKey, 0, key));
    return r.ok && r.status == 0 && r.result > 0;
  };
  bool seen = false;
  for (int i = 0; i < 12 && !seen; ++i) {
    seen = has(701) && has(702);
    if (!seen) usleep(2500000);
  }
  EXPECT_TRUE(seen) << m.log();
  EXPECT_FALSE(has(703)) << m.log();
  // AddRecord is void: the mirror drops it and its refusal answers the
  // client's next request; the one after is served.
  ASSERT_TRUE(cm.send(mtab, DBM_ADDRECORD, rowOf(704))) << m.log();
  zftest::RawReply r = cm.request(mtab, DBM_GETRECORD, getByKey(kExactKey, 0, 701));
  ASSERT_TRUE(r.ok) << m.log();
  EXPECT_EQ(InvalidForMirror(String()).code(), -r.status) << m.log();
  EXPECT_TRUE(has(701));
  EXPECT_FALSE(has(704));
  EXPECT_TRUE(m.running());
  EXPECT_EQ(0, p.stop()) << p.log();
}

}  // namespace
