// The System V client transport against a test endpoint in another process:
// connect, batched void requests, requests and replies in several parts,
// error replies and notifications, transactions over two and three servers,
// a server that dies, hard queue errors, stop, and a server that is not there.
#include <gtest/gtest.h>

#include <zfound/IpcConnection.h>
#include <zfound/Process.h>
#include <zfound/ProcValues.h>
#include <zfound/TimeStamp.h>

#include <csignal>
#include <cstdio>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <unistd.h>

#include "ChildRun.h"
#include "dbconn_fixture.h"
#include "TestSupport.h"

using namespace dbconntest;
using zftest::EndpointReply;
using zftest::EndpointRequest;
using zftest::WireCodec;
using zftest::encodeWords;
using zftest::errorReply;

namespace {

using zftest::str;

class IpcTest : public EndpointFixture {};

TEST_F(IpcTest, ConnectsBatchesVoidRequestsAndReadsTheReply) {
  auto& ep = endpoint("alpha", [](EndpointRequest const& r) {
    EndpointReply rep;
    if (r.op == DBM_GETINFO) {
      rep.retValue = 1000 + firstLong(r);
      rep.body = encodeWords([](Connection& c) { c << String("answer") << int32_t(-5); });
    }
    return rep;
  });
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  ASSERT_EQ(c.status(), 0);
  c.connect(false);
  EXPECT_EQ(c.getClientId(), zftest::SysVEndpoint::kClientId);
  EXPECT_EQ(Exception::last().code(), 0);

  for (int32_t i = 0; i < 11; ++i) {
    c(100 + i, DBM_FREE) << i;
    EXPECT_EQ(c.execute(), -1) << "a void request waits for its batch";
  }
  c(DBM_GETINFO) << int32_t(42);
  EXPECT_EQ(int32_t(c), 1042);
  String s;
  int32_t v = 0;
  c >> s >> v;
  EXPECT_EQ(str(s), "answer");
  EXPECT_EQ(v, -5);
  EXPECT_FALSE(c.bad());

  std::vector<LogLine> log = readLog(logPath_);
  ASSERT_EQ(log.size(), 13u);
  // Connect: the version word, the effective ids, the process values, the
  // secondary flag.
  EXPECT_EQ(log[0].op, DBM_CONNECT);
  EXPECT_EQ(log[0].objId, DbConnection::kServerObject);
  WireCodec cc;
  cc.feed(log[0].words);
  int32_t version = 0, uid = 0, gid = 0, secondary = -1;
  String program, args, node, tty;
  cc >> version >> uid >> gid >> program >> args >> node >> tty >> secondary;
  EXPECT_EQ(version, PROC_VERSION_WORD);
  EXPECT_EQ(uid, int32_t(geteuid()));
  EXPECT_EQ(gid, int32_t(getegid()));
  EXPECT_EQ(str(program), "dbconntest");
  EXPECT_EQ(str(args), "first-argument");
  EXPECT_EQ(secondary, 0);
  // Ten void requests in one message; the eleventh goes with the request
  // that expects a reply.
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(log[i].op, DBM_FREE);
    EXPECT_EQ(log[i].objId, 100 + i - 1);
    EXPECT_EQ(log[i].msg, log[1].msg);
    EXPECT_EQ(log[i].words, std::vector<uint32_t>{uint32_t(i - 1)});
  }
  EXPECT_EQ(log[11].objId, 110);
  EXPECT_NE(log[11].msg, log[1].msg);
  EXPECT_EQ(log[12].op, DBM_GETINFO);
  EXPECT_EQ(log[12].msg, log[11].msg);
}

TEST_F(IpcTest, LongRequestAndLongReplyTravelInParts) {
  auto& ep = endpoint("alpha", [](EndpointRequest const& r) {
    EndpointReply rep;
    rep.retValue = int32_t(r.body.size());
    for (uint32_t i = 0; i < 600; ++i) rep.body.push_back(i * 3 + 1);
    return rep;
  });
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  auto write = [](Connection& w) {
    w << String("text with \xe9 and more") << int32_t(-1);
    for (int32_t i = 0; i < 600; ++i) w << i * 7 + 1;
  };
  std::vector<uint32_t> expected = encodeWords(write);
  write(c(5, DBM_GETRECORD));
  EXPECT_EQ(int32_t(c), int32_t(expected.size()));
  for (uint32_t i = 0; i < 600; ++i) {
    int32_t w = 0;
    c >> w;
    ASSERT_EQ(uint32_t(w), i * 3 + 1) << i;
  }
  EXPECT_FALSE(c.bad());
  int32_t past = 99;
  c >> past;  // nothing more was sent
  EXPECT_EQ(past, 0);
  EXPECT_TRUE(c.bad());

  std::vector<LogLine> log = readLog(logPath_);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].op, DBM_GETRECORD);
  EXPECT_EQ(log[1].parts, 3) << "first part, go-ahead, two continuation parts";
  EXPECT_EQ(log[1].words, expected);  // byte for byte
}

TEST_F(IpcTest, InterruptedWaitOnALiveServerGoesOnWaiting) {
  // The endpoint interrupts the waiting client as its alarm would, then
  // answers: the server is alive, so the client waits again and reads it.
  auto& ep = endpoint("alpha", [](EndpointRequest const&) {
    usleep(100000);
    kill(getppid(), SIGALRM);
    usleep(200000);
    EndpointReply rep;
    rep.retValue = 77;
    return rep;
  });
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  c(DBM_GETINFO) << int32_t(1);
  EXPECT_EQ(c.execute(), 77);
  EXPECT_EQ(Exception::last().code(), 0);
  EXPECT_TRUE(c.isValid());
  EXPECT_EQ(readLog(logPath_).size(), 2u) << "the request was sent once";
}

TEST_F(IpcTest, AfterARequestNoAlarmIsPendingAndAStraySignalIsHarmless) {
  // The alarm of the wait is cancelled when the reply comes; its empty
  // handler stays, so a SIGALRM sent later neither ends the program nor
  // disturbs the next request.
  auto& ep = endpoint("alpha", [](EndpointRequest const&) {
    EndpointReply rep;
    rep.retValue = 5;
    return rep;
  });
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  c(DBM_GETINFO) << int32_t(1);
  ASSERT_EQ(c.execute(), 5);
  EXPECT_EQ(alarm(0), 0u) << "an alarm was left pending";
  ASSERT_EQ(raise(SIGALRM), 0);
  c(DBM_GETINFO) << int32_t(2);
  EXPECT_EQ(c.execute(), 5);
  EXPECT_EQ(Exception::last().code(), 0);
  EXPECT_EQ(alarm(0), 0u);
}

TEST_F(IpcTest, EndpointOfATestThatEndsAbruptlyRemovesItsQueues) {
  int32_t id = zftest::uniqueServerId();
  std::string log = logPath_;
  zftest::RunResult r = zftest::runInChild([id, log]() -> int {
    auto* ep = new zftest::SysVEndpoint(id, log, "lost");  // never destroyed
    _exit(ep->start() ? 0 : 2);
  });
  ASSERT_EQ(r.status, 0);
  int32_t key = int32_t(uint32_t(id) << 8);
  bool gone = false;
  for (int i = 0; i < 250 && !gone; ++i) {
    gone = semget(key, 2, 0) < 0 && msgget(key + 's', 0) < 0 && msgget(key + 'c', 0) < 0 &&
           msgget(key + 'r', 0) < 0;
    if (!gone) usleep(20000);
  }
  EXPECT_TRUE(gone);
  if (!gone) zftest::SysVEndpoint(id, log, "lost").removeIpc();
}

TEST_F(IpcTest, ErrorRepliesBecomeTheRightErrorObject) {
  std::vector<std::shared_ptr<Exception>> errors = {
      std::make_shared<DuplicatedKey>("ix_name", "k1"), std::make_shared<InvalidMsgOnObject>(3, 4),
      std::make_shared<Locked>("ann"), std::make_shared<NoIntegrity>(),
      std::make_shared<InvalidTimeStamp>("tab", toTime(3600), toTime(7200), toTime(60))};
  auto& ep = endpoint("alpha", [errors](EndpointRequest const& r) {
    if (r.op == DBM_GETTABLES) {
      EndpointReply rep;
      rep.retValue = 5;
      rep.before.push_back(errorReply(PendLockNotif("waiting for", "bob")));
      return rep;
    }
    return errorReply(*errors.at(size_t(firstLong(r))));
  });
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  for (size_t i = 0; i < errors.size(); ++i) {
    c(DBM_LOCK) << int32_t(i);
    EXPECT_EQ(c.execute(), -1);
    Exception const& got = Exception::last();
    EXPECT_EQ(got.code(), errors[i]->code());
    EXPECT_EQ(typeid(got), typeid(*errors[i]));
    EXPECT_EQ(str(got.message()), str(errors[i]->message()));
  }
  // A notification before the reply is shown and the wait goes on.
  static std::vector<std::string> shown;
  shown.clear();
  DbConnection::NotifHandler old = DbConnection::setNotifHandler([](String const& m) { shown.push_back(str(m)); });
  c(DBM_GETTABLES);
  EXPECT_EQ(c.execute(), 5);
  DbConnection::setNotifHandler(old);
  EXPECT_EQ(Exception::last().code(), 0);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], str(PendLockNotif("waiting for", "bob").message()));
}

TEST_F(IpcTest, ErrorToBeRaisedIsReportedAndEndsTheProgram) {
  auto& ep = endpoint("alpha", [](EndpointRequest const&) { return errorReply(DeadLock("cycle"), true); });
  int32_t id = ep.serverId();
  zftest::RunResult r = zftest::runInChild([id] {
    IpcConnection c(id, "alpha", ConnMode(0));
    c.connect(false);
    c(DBM_LOCK);
    c.execute();
    return 0;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(str(DeadLock("cycle").message())), std::string::npos) << r.err;
}

// Endpoint behaviour of a transaction participant: BegTransact answers a
// time stamp, the others 0, and ReadyToEnd from `failing` an error.
zftest::EndpointHandler participant(std::string const& failing, std::string const& me) {
  return [failing, me](EndpointRequest const& r) {
    EndpointReply rep;
    if (r.op == DBM_BEGTRANSACT) {
      TimeStamp ts(toTime(1000 + int32_t(me[0])));
      rep.body = encodeWords([&](Connection& c) { c << ts; });
    }
    if (r.op == DBM_READYTOEND && me == failing) return errorReply(DeadLock("cannot prepare"));
    return rep;
  };
}

TEST_F(IpcTest, TwoServerTransactionPreparesThenEndsWithTheLeaderLast) {
  auto& b = endpoint("b", participant("", "b"));
  auto& a = endpoint("a", participant("", "a"));
  DbConnection* cb = DbConnection::findIpc(b.serverId(), "b", true, false, ConnMode(0));
  DbConnection* ca = DbConnection::findIpc(a.serverId(), "a", true, false, ConnMode(0));
  ASSERT_TRUE(ca && cb);
  EXPECT_EQ(DbConnection::findIpc(a.serverId(), "a", true, false, ConnMode(0)), ca) << "reused";
  EXPECT_EQ(ca->nRef(), 2);
  ca->detach();
  ca->begTrans();
  cb->begTrans();
  EXPECT_TRUE(ca->inTransaction() && cb->inTransaction());
  EXPECT_EQ(ca->transTimeStamp().time().value(), 1000 + 'a');
  EXPECT_TRUE(DbConnection::endTransaction(true));
  EXPECT_FALSE(ca->inTransaction() || cb->inTransaction());

  std::vector<LogLine> log = readLog(logPath_);
  EXPECT_EQ(opsOf(log, {DBM_READYTOEND, DBM_ENDTRANSACT, DBM_ABORTTRANSACT}),
            (std::vector<std::string>{"a 45", "b 45", "a 29", "b 29"}));
  for (LogLine const& l : log) {
    if (l.op == DBM_READYTOEND) {
      WireCodec rc;
      rc.feed(l.words);
      String leader;
      int32_t n = 0;
      TimeStamp ts;
      rc >> leader >> n >> ts;
      EXPECT_EQ(str(leader), "b");
      EXPECT_EQ(n, 2);
      EXPECT_EQ(ts.time().value(), 1000 + 'b');
    }
    if (l.op == DBM_ENDTRANSACT) {
      EXPECT_EQ(l.words, std::vector<uint32_t>{1u});
    }
  }
  DbConnection::dispose(ca);
  DbConnection::dispose(cb);
  EXPECT_EQ(DbConnection::head(), nullptr);
  size_t before = log.size();
  EXPECT_EQ(opsOf(logOf(before + 2), {DBM_DISCONNECT}).size(), 2u);
}

TEST_F(IpcTest, FailedPrepareAbortsEveryParticipantAndTellsTheLeaderLast) {
  std::vector<zftest::SysVEndpoint*> eps;
  for (std::string t : {"c", "a", "b"}) eps.push_back(&endpoint(t, participant("b", t)));
  std::vector<DbConnection*> cs;
  for (auto* e : eps) {
    std::string t = e == eps[0] ? "c" : e == eps[1] ? "a" : "b";
    cs.push_back(DbConnection::findIpc(e->serverId(), String(t.c_str()), true, false, ConnMode(0)));
    ASSERT_TRUE(cs.back());
    cs.back()->begTrans();
  }
  EXPECT_FALSE(DbConnection::endTransaction(true));
  EXPECT_EQ(Exception::last().code(), 1);
  EXPECT_EQ(str(Exception::last().message()), str(DeadLock("cannot prepare").message()));
  for (DbConnection* c : cs) EXPECT_FALSE(c->inTransaction() || c->readyToEnd());
  // a prepared, b failed: all three are aborted, c (the leader) last.
  EXPECT_EQ(opsOf(readLog(logPath_), {DBM_READYTOEND, DBM_ENDTRANSACT, DBM_ABORTTRANSACT}),
            (std::vector<std::string>{"a 45", "b 45", "a 30", "b 30", "c 30"}));
}

// A participant that fails EndTransact after every vote: the leader is not
// told EndTransact (it keeps the transaction as complete for the
// participant's question) and its connection is no longer used.
TEST_F(IpcTest, LeaderIsToldEndOnlyAfterEveryParticipantEnded) {
  auto endFails = [](std::string const& me) {
    zftest::EndpointHandler base = participant("", me);
    return [base, me](EndpointRequest const& r) {
      if (r.op == DBM_ENDTRANSACT && me == "a") return errorReply(DeadLock("cannot end"));
      return base(r);
    };
  };
  auto& b = endpoint("b", endFails("b"));
  auto& a = endpoint("a", endFails("a"));
  DbConnection* cb = DbConnection::findIpc(b.serverId(), "b", true, false, ConnMode(0));
  DbConnection* ca = DbConnection::findIpc(a.serverId(), "a", true, false, ConnMode(0));
  ASSERT_TRUE(ca && cb);
  ca->begTrans();
  cb->begTrans();
  EXPECT_FALSE(DbConnection::endTransaction(true));
  EXPECT_FALSE(ca->inTransaction() || cb->inTransaction());
  EXPECT_FALSE(cb->isValid());
  EXPECT_TRUE(ca->isValid());
  EXPECT_EQ(opsOf(readLog(logPath_), {DBM_READYTOEND, DBM_ENDTRANSACT, DBM_ABORTTRANSACT}),
            (std::vector<std::string>{"a 45", "b 45", "a 29"}));
  DbConnection::dispose(ca);
  DbConnection::dispose(cb);
}

TEST_F(IpcTest, KilledServerIsFoundDead) {
  auto& ep = endpoint("alpha");
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  ASSERT_TRUE(c.isValid());
  ep.kill();
  c(DBM_GETINFO) << int32_t(1);
  EXPECT_EQ(c.execute(), -1);  // after at most one alarm period
  EXPECT_FALSE(c.isValid());
  EXPECT_EQ(Exception::last().code(), 24);
  EXPECT_EQ(str(Exception::last().message()), str(ServerIsDead("alpha").message()));
  // Every later request fails the same way at once.
  Exception::last(Exception(0));
  c(DBM_GETINFO);
  EXPECT_EQ(c.execute(), -1);
  EXPECT_EQ(Exception::last().code(), 24);
}

TEST_F(IpcTest, FullRequestQueueOfAKilledServerIsFoundDead) {
  // A request queue with room takes a part at once; a full one makes the
  // send wait under the alarm, which finds the server gone.
  auto& ep = endpoint("alpha");
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  ASSERT_TRUE(c.isValid());
  ep.kill();
  int q = msgget(ep.key() + 's', 0);
  ASSERT_GE(q, 0);
  struct msqid_ds ds {};
  ASSERT_EQ(msgctl(q, IPC_STAT, &ds), 0);
  ds.msg_qbytes = 64;
  ASSERT_EQ(msgctl(q, IPC_SET, &ds), 0);
  struct {
    long type;
    char text[64];
  } filler {1, {}};
  ASSERT_EQ(msgsnd(q, &filler, sizeof filler.text, IPC_NOWAIT), 0);
  c(DBM_GETINFO) << int32_t(1);
  EXPECT_EQ(c.execute(), -1);  // after one alarm period
  EXPECT_FALSE(c.isValid());
  EXPECT_EQ(Exception::last().code(), 24);
}

// The connection a stop hook below uses.
IpcConnection* hookConn = nullptr;

// A stop hook that checkpoints, as a client program's end-of-run code does.
void checkPointAtStop() {
  (*hookConn)(DBM_CHECKPOINT) << int32_t(0);
  int32_t const r = hookConn->execute();
  std::printf("hook %d %d\n", int(r), int(Exception::last().code()));
  std::fflush(stdout);
}

TEST_F(IpcTest, RequestOfAStopHookRunByTheDeathReportFailsCleanly) {
  // Under reportErrors the report of a dead server stops the program, and
  // its stop hooks run while the failed send is still on the stack: their
  // requests fail with ServerIsDead instead of finding the half-sent one in
  // the buffer.
  auto& ep = endpoint("alpha");
  int32_t const id = ep.serverId();
  int32_t const key = ep.key();
  zftest::RunResult r = zftest::runInChild([id, key, &ep] {
    IpcConnection c(id, "alpha", reportErrors);
    c.connect(false);
    ZF_CHILD_CHECK(c.isValid());
    hookConn = &c;
    onStop(checkPointAtStop);
    ep.kill();
    // A full request queue makes the send wait under the alarm, which finds
    // the server gone.
    int q = msgget(key + 's', 0);
    ZF_CHILD_CHECK(q >= 0);
    struct msqid_ds ds {};
    ZF_CHILD_CHECK(msgctl(q, IPC_STAT, &ds) == 0);
    ds.msg_qbytes = 64;
    ZF_CHILD_CHECK(msgctl(q, IPC_SET, &ds) == 0);
    struct {
      long type;
      char text[64];
    } filler {1, {}};
    ZF_CHILD_CHECK(msgsnd(q, &filler, sizeof filler.text, IPC_NOWAIT) == 0);
    c(DBM_GETINFO) << int32_t(1);
    c.execute();
    return 0;
  });
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("hook -1 24\n"), std::string::npos) << r.out << r.err;
  EXPECT_EQ(r.err.find("isVoid"), std::string::npos) << r.err;
}

TEST_F(IpcTest, HardQueueErrorsFailTheRequestWithoutWaiting) {
  // Receiving: the reply queue disappears while the server still runs.
  auto& ep = endpoint("alpha", [](EndpointRequest const& r) {
    int32_t key = int32_t(uint32_t(firstLong(r)) << 8);
    msgctl(msgget(key + 'r', 0), IPC_RMID, nullptr);
    sleep(3);
    return EndpointReply();
  });
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  c(DBM_GETINFO) << ep.serverId();
  EXPECT_EQ(c.execute(), -1) << "a failed receive is not a success";
  EXPECT_EQ(Exception::last().code(), 20);
  EXPECT_TRUE(c.isValid());

  // Sending: the request queue is gone; no reply is awaited.
  auto& ep2 = endpoint("beta");
  IpcConnection c2(ep2.serverId(), "beta", ConnMode(0));
  c2.connect(false);
  msgctl(msgget(ep2.key() + 's', 0), IPC_RMID, nullptr);
  c2(DBM_GETINFO) << int32_t(1);
  EXPECT_EQ(c2.execute(), -1);
  EXPECT_EQ(Exception::last().code(), 20);
}

TEST_F(IpcTest, StopEndsTheServerAndAbsentServersGiveNoConnection) {
  auto& ep = endpoint("alpha");
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  ASSERT_TRUE(c.stopSv()) << "else the wait below would not end";
  EXPECT_TRUE(c.waitForServerHalt());
  for (int i = 0; i < 50 && ep.running(); ++i) usleep(20000);
  EXPECT_FALSE(ep.running());
  // The semaphore set is left with semaphore 0 at zero: not running.
  IpcConnection gone(ep.serverId(), "alpha", ConnMode(0));
  EXPECT_EQ(gone.status(), -1);
  // Nothing at all under the keys.
  int32_t none = zftest::uniqueServerId();
  IpcConnection absent(none, "nobody", ConnMode(0));
  EXPECT_EQ(absent.status(), -1);
  EXPECT_EQ(DbConnection::findIpc(none, "nobody", true, false, ConnMode(0)), nullptr);
  EXPECT_EQ(DbConnection::findServer("nowhere", true, ConnMode(0)), nullptr);
}

TEST_F(IpcTest, ReportsUnderTheModesEndTheProgram) {
  // No server, under abortOnInit: one report naming the cause and the call.
  int32_t none = zftest::uniqueServerId();
  zftest::RunResult r = zftest::runInChild([none] {
    IpcConnection c(none, "nobody", abortOnInit);
    return 0;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("The server is not running."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("semget"), std::string::npos) << r.err;

  // A server whose endpoint vanishes while a client waits, under reportErrors.
  auto& ep = endpoint("alpha", [](EndpointRequest const& r) {
    int32_t key = int32_t(uint32_t(firstLong(r)) << 8);
    semctl(semget(key, 2, 0), 0, IPC_RMID);  // first, so the client finds it gone
    for (int32_t k : {key + 's', key + 'c', key + 'r'}) msgctl(msgget(k, 0), IPC_RMID, nullptr);
    sleep(3);
    return EndpointReply();
  });
  int32_t id = ep.serverId();
  r = zftest::runInChild([id] {
    IpcConnection c(id, "alpha", reportErrors);
    c.connect(false);
    c(DBM_GETINFO) << id;
    c.execute();
    return 0;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(str(ServerIsDead("alpha").message())), std::string::npos) << r.err;
}

TEST_F(IpcTest, RefusedConnectGivesNoConnection) {
  int32_t id = zftest::uniqueServerId();
  endpoints_.push_back(std::make_unique<zftest::SysVEndpoint>(id, logPath_, "old"));
  endpoints_.back()->refuseConnects(IncompatibleVersions(1101, 900));
  ASSERT_TRUE(endpoints_.back()->start());
  EXPECT_EQ(DbConnection::findIpc(id, "old", true, false, ConnMode(0)), nullptr);
  EXPECT_EQ(Exception::last().code(), 25);
  EXPECT_EQ(str(Exception::last().message()), str(IncompatibleVersions(1101, 900).message()));
  EXPECT_EQ(DbConnection::head(), nullptr);
}

TEST_F(IpcTest, SchemasLeadToTheirServerWhichCanBeStopped) {
  auto& ep = endpoint("delta", [](EndpointRequest const& r) {
    EndpointReply rep;
    if (r.op == DBM_GETINFO && firstLong(r) == 1) rep.body = encodeWords([](Connection& c) { c << String("s1\ts2"); });
    return rep;
  });
  zftest::ScopedEnv servers("SERVERS", "nothere;delta");
  DbConnection* bySchema = DbConnection::findSchema("s1", true, ConnMode(0));
  ASSERT_NE(bySchema, nullptr);
  EXPECT_EQ(str(bySchema->serverName()), "delta");
  EXPECT_EQ(DbConnection::findSchema("delta/s1", true, ConnMode(0)), bySchema) << "the open one is reused";
  EXPECT_EQ(DbConnection::findSchema("unknown", true, ConnMode(0)), nullptr);
  EXPECT_EQ(str(DbConnection::accessiblesSchemas("delta")), "s1\ts2");
  DbConnection::dispose(bySchema);
  DbConnection::dispose(bySchema);
  EXPECT_EQ(DbConnection::head(), nullptr);
  EXPECT_TRUE(DbConnection::stopServer("delta"));
  for (int i = 0; i < 100 && ep.running(); ++i) usleep(20000);
  EXPECT_FALSE(ep.running());
}

TEST_F(IpcTest, RequestCountOfThisProcess) {
  auto& ep = endpoint("alpha", [](EndpointRequest const& r) {
    EndpointReply rep;
    if (r.op != DBM_GETCLIENTSINFO) return rep;
    // As the server answers: the number of records is the result.
    rep.retValue = 2;
    rep.body = encodeWords([](Connection& c) {
      for (int32_t pid : {int32_t(1), int32_t(getppid())}) {
        c << pid;
        for (int k = 0; k < 6; ++k) c << String("x");
        c << int32_t(pid == 1 ? 3 : 17);
      }
    });
    return rep;
  });
  IpcConnection c(ep.serverId(), "alpha", ConnMode(0));
  c.connect(false);
  // The endpoint runs in a child of this process and names its parent.
  EXPECT_EQ(ClientMonitor::nMethods(&c), 17);
  EXPECT_EQ(str(ClientMonitor::nMethods(String("alpha"))), "alpha:17\t");
}

TEST_F(IpcTest, FindServerReadsTheConfigurationAndConnects) {
  auto& ep = endpoint("gamma");
  DbConnection* c = DbConnection::findServer("gamma", true, ConnMode(0));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->serverId(), ep.serverId());
  EXPECT_EQ(c->getType(), 'i');
  EXPECT_EQ(static_cast<IpcConnection*>(c)->getClientId(), zftest::SysVEndpoint::kClientId);
  DbConnection::dispose(c);
}

}  // namespace
