// Forward replay of hand-made journal files without tables: clients,
// transactions, votes, completed two-phase entries, the ignore list, the end
// of the restart, and damage fixtures that must end the start with a report
// naming file, offset and transaction (status 1), never an assertion.
#include "CoreFixture.h"

#include <cstdio>

#include <svcore/Journal.h>
#include <svcore/SvConfigFile.h>
#include <svobject/Client.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace coretest {
namespace {

// Reports of a child reach its collected output.
int toStderr(int, char const*, char const* text) {
  std::fprintf(stderr, "%s\n", text);
  return 0;
}

class RecoveryTest : public CoreTest {
protected:
  void SetUp() override {
    CoreTest::SetUp();
    Server::name_sd = "self";
    jdir = tmp.file("jrnl");
    tmp.write("jrnl/.keep", "");
    w = std::make_unique<Journal>(32, String(jdir.c_str()));
    ASSERT_TRUE(w->newFile());
  }
  void TearDown() override {
    for (Client* c : writers) delete c;
    writers.clear();
    w.reset();
    Server::closeJournal();
    CoreTest::TearDown();
  }

  // A client of the writing side, journalled as ADDCLIENT.
  Client* writer(int32_t id) {
    Client* c = new Client(100 + id, "prog", "", 0, 0, "node", "tty", false);
    c->setId(id);
    writers.push_back(c);
    JournalClient jc;
    jc.id = id;
    jc.pid = 100 + id;
    jc.path = "prog";
    w->putAddClient(jc);
    return c;
  }
  static void begin(Client* c, int32_t n) {
    c->beginTrans(n, 0);
    c->setRollbackStart(-1, -1);
  }

  // Flushes the writer and replays its file from the first record.
  bool replay(String base = String()) {
    w->flush();
    delete Server::journal_;
    Server::journal_ = new Journal(32, String(jdir.c_str()));
    Server::rollbackHook = &Server::rollBackClient;
    Server::restarting = true;
    Server::logDisable = true;
    EXPECT_TRUE(Server::journal_->restart(base.isNull() ? w->baseName() : base, Journal::kPrefixSize));
    return Server::readJournalFiles();
  }

  void patch(int32_t offset, uint32_t v) {
    w->flush();
    std::fstream f(toCharPtr(w->fileName()), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    f.write(b, 4);
  }

  std::string jdir;
  std::unique_ptr<Journal> w;
  std::vector<Client*> writers;
};

TEST_F(RecoveryTest, ClientsAreRebuiltAndRemoved) {
  writer(0);
  writer(2);
  writer(2);  // an id already registered: accepted, no second client
  w->putDelClient(0);
  EXPECT_TRUE(replay());
  EXPECT_EQ(Server::clientOfId(0), nullptr);
  ASSERT_NE(Server::clientOfId(2), nullptr);
  EXPECT_EQ(Server::clientOfId(2)->pid(), 102);
  EXPECT_EQ(Server::clientCount(), 1);
  EXPECT_EQ(Server::transFound, 0);
}

TEST_F(RecoveryTest, VotesEndsAndTheEndOfTheRestart) {
  Server::verboseLevel_sd = 1;
  Client* ended = writer(1);
  Client* led = writer(2);
  Client* voted = writer(3);
  TimeStamp ls;
  ls.setNow();
  begin(ended, 7);
  w->putReadyToEnd(ended, "other", 2, ls);
  w->putEndTransaction(ended);
  begin(led, 8);
  w->putReadyToEnd(led, "self", 2, ls);
  begin(voted, 9);
  w->putReadyToEnd(voted, "other", 2, ls);
  EXPECT_TRUE(replay());
  EXPECT_EQ(Server::transFound, 3);
  EXPECT_FALSE(Server::clientOfId(1)->hasTrans());
  ASSERT_NE(Server::ctrans, nullptr);
  EXPECT_EQ(Server::ctrans->size(), 1u);
  ASSERT_TRUE(Server::clientOfId(3)->hasReadyToEndTrans());
  EXPECT_EQ(Server::clientOfId(3)->transNum(), 9);
  // Aborting is forced: the voted transaction of another leader is rolled
  // back, the one this server leads stays.
  Server::tqBehavior_sd = 4;
  shown().clear();
  Server::endRestart();
  EXPECT_TRUE(sawWarning("Rolling back incomplete transactions"));
  EXPECT_TRUE(sawWarning("*** Forcing AbortTransaction in a two phase commit transaction."));
  EXPECT_EQ(Server::clientCount(), 0);
  EXPECT_EQ(Server::activeTrans, 0);
  EXPECT_FALSE(Server::isRestarting());
  EXPECT_FALSE(Server::logDisabled());
  EXPECT_EQ(Server::ctrans->size(), 1u);
}

// On a mirror the primary's replayed clients keep their own ids apart from
// the mirror's readers: a reader in slot 0 meets none of client 0's records.
TEST_F(RecoveryTest, MirrorKeepsReplayedClientsApartFromItsReaders) {
  Client* c = writer(0);
  begin(c, 5);
  w->putReadyToEnd(c, "other", 2, TimeStamp());
  Server::mirror_sd = true;
  Client* reader = new Client(4242, "reader", "", 0, 0, "node", "tty", false);
  Server::addClient(reader);
  ASSERT_EQ(reader->id(), 0);
  replay();
  EXPECT_EQ(Server::clientOfId(0), reader);
  EXPECT_FALSE(reader->hasTrans());
  ASSERT_GT(Server::replayed.size(), 0u);
  ASSERT_NE(Server::replayed[0], nullptr);
  EXPECT_EQ(Server::replayed[0]->pid(), 100);
  EXPECT_EQ(Server::replayed[0]->transNum(), 5);
  w->putDelClient(0);
  w->flush();
  Server::readJournalFiles();
  EXPECT_EQ(Server::replayed[0], nullptr);
  EXPECT_EQ(Server::clientOfId(0), reader);
}

// A mirror deletes a closed file of its primary only once the next file is
// closed too: until the primary's checkpoint records its next file, a
// restart of the primary starts from the closed one.
TEST_F(RecoveryTest, MirrorDeletesAPrimaryFileOnceItsSuccessorIsClosed) {
  writeConfig("mirror", "Backup\t0\n");
  Server::configFile = new SvConfigFile(String("mirror"));
  ASSERT_EQ(Server::configFile->serverOptions(), 0);
  Server::mirror_sd = true;
  writer(0);
  String const a = w->baseName();
  std::string const pathA = toCharPtr(w->fileName());
  ASSERT_TRUE(w->newFile());
  writer(1);
  std::string const pathB = toCharPtr(w->fileName());
  ASSERT_TRUE(w->newFile());
  writer(2);
  replay(a);
  EXPECT_FALSE(std::filesystem::exists(pathA));
  EXPECT_TRUE(std::filesystem::exists(pathB));
  EXPECT_TRUE(std::filesystem::exists(toCharPtr(w->fileName())));
}

TEST_F(RecoveryTest, NoTransactionFoundIsReportedVerbose) {
  Server::verboseLevel_sd = 1;
  writer(0);
  replay();
  Server::endRestart();
  EXPECT_TRUE(sawWarning("No transactions were found."));
}

TEST_F(RecoveryTest, IgnoredTransactionIsNeitherReplayedNorCounted) {
  Client* c = writer(0);
  begin(c, 5);
  w->putReadyToEnd(c, "other", 2, TimeStamp());
  Server::ignore_sd = "4,5";
  replay();
  EXPECT_TRUE(sawWarning("Ignoring transaction #5"));
  EXPECT_EQ(Server::transFound, 0);
  EXPECT_FALSE(Server::clientOfId(0)->hasTrans());
}

TEST_F(RecoveryTest, CompletedEntriesAreKeptThirtyOneDays) {
  TimeStamp now;
  now.setNow();
  TimeStamp keep = now, drop = now;
  keep -= 2678400;
  drop -= 2678401;
  w->putCompleteTransTable(2);
  w->putCompleteTransItem(keep, 2);
  w->putCompleteTransItem(drop, 3);
  Server::timeStamp = now;
  replay();
  ASSERT_NE(Server::ctrans, nullptr);
  ASSERT_EQ(Server::ctrans->size(), 1u);
  EXPECT_EQ((*Server::ctrans)[0].number(), 2);
}

TEST_F(RecoveryTest, CutRecordEndsReplayOfTheFileBeingWritten) {
  writer(0);
  int32_t const at = w->putDelClient(0);
  patch(at + 4, 0xFFFFFFFFu);  // length never stored back
  replay();
  ASSERT_NE(Server::clientOfId(0), nullptr);  // the cut DELCLIENT not applied
}

// Damage: the start ends with status 1 and a report naming the file, the
// offset and, where there is one, the transaction.
TEST_F(RecoveryTest, DamagedJournalEndsTheStartWithAReport) {
  enum Fix { UnknownKind, ChangedTransaction, UnknownClient, LengthBeyondRecord, CutInClosedFile };
  struct Case {
    Fix fix;
    char const* text;
  } const cases[] = {
      {UnknownKind, "transaction #6"},
      {ChangedTransaction, "transaction #7"},
      {UnknownClient, "client #4 is not registered"},
      {LengthBeyondRecord, "transaction #6"},
      {CutInClosedFile, "transaction #6"},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(int(k.fix));
    for (auto const& e : std::filesystem::directory_iterator(jdir))
      if (e.path().filename().string().rfind("rlog", 0) == 0) std::filesystem::remove(e.path());
    w = std::make_unique<Journal>(32, String(jdir.c_str()));
    ASSERT_TRUE(w->newFile());
    String const first = w->baseName();
    Client* c = writer(0);
    begin(c, 5);
    w->putReadyToEnd(c, "other", 2, TimeStamp());
    w->putEndTransaction(c);
    c->delTrans();
    begin(c, 6);
    int32_t at = -1;
    switch (k.fix) {
    case UnknownKind:
      at = w->putEndTransaction(c);
      patch(at, 13);
      break;
    case ChangedTransaction:
      w->putReadyToEnd(c, "other", 2, TimeStamp());
      at = w->putEndTransaction(c);
      patch(at + 12, 7);
      break;
    case UnknownClient:
      c->setId(4);
      w->putEndTransaction(c);
      break;
    case LengthBeyondRecord:
      at = w->putReadyToEnd(c, "other", 2, TimeStamp());
      patch(at + 32, 0x7FFFFFF0u);  // the leader name's length
      break;
    case CutInClosedFile: {
      at = w->putReadyToEnd(c, "other", 2, TimeStamp());
      w->flush();
      std::string const old = toCharPtr(w->fileName());
      ASSERT_TRUE(w->newFile());
      ASSERT_EQ(::truncate(old.c_str(), at + 40), 0);
      break;
    }
    }
    w->flush();
    zftest::RunResult r = zftest::runInChild([&] {
      displayErrorHandler(toStderr);
      replay(first);
      return 3;
    });
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(k.text), std::string::npos) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("rlog"), std::string::npos) << r.out << r.err;
    for (Client* x : writers) delete x;
    writers.clear();
  }
}

// A transaction that the end of the restart rolls back is journalled as
// aborted at the end of the file just replayed (a cut record cut off
// first), chained to its last record, so that a reader of the journal
// undoes it too; an ended one gets nothing.
TEST_F(RecoveryTest, RolledBackAtTheEndOfTheRestartIsJournalledAsAborted) {
  for (bool cut : {false, true}) {
    SCOPED_TRACE(cut);
    for (auto const& e : std::filesystem::directory_iterator(jdir))
      if (e.path().filename().string().rfind("rlog", 0) == 0) std::filesystem::remove(e.path());
    w = std::make_unique<Journal>(32, String(jdir.c_str()));
    ASSERT_TRUE(w->newFile());
    Client* ended = writer(1);
    Client* open = writer(2);
    begin(ended, 6);
    w->putAddSchema(ended, "a", 1);
    w->putEndTransaction(ended);
    begin(open, 7);
    int32_t const last = w->putAddSchema(open, "b", 2);
    int32_t const end = w->currWrOffset();
    if (cut) {
      int32_t const at = w->putDelClient(2);
      patch(at + 4, 0xFFFFFFFFu);  // length never stored back
    }
    replay();
    Server::endRestart();
    Server::journal_->flush();

    Journal r(32, String(jdir.c_str()));
    ASSERT_TRUE(r.restart(w->baseName(), end));
    int32_t cid = 0, tn = 0, off = 0, len = 0;
    SvTable* t = nullptr;
    ASSERT_EQ(r.nextOp(cid, tn, t, off, len), Journal::ABORTTRANSACTION);
    EXPECT_EQ(off, end);
    EXPECT_EQ(cid, 2);
    EXPECT_EQ(tn, 7);
    EXPECT_EQ(r.nextOp(cid, tn, t, off, len), -1);
    EXPECT_EQ(std::filesystem::file_size(toCharPtr(w->fileName())), uintmax_t(end + 32));
    // Read back along the chain, the abort leads to the transaction's last
    // record.
    int32_t o = end, l = 32;
    EXPECT_EQ(r.prevOp(t, o, l), Journal::ABORTTRANSACTION);
    EXPECT_EQ(o, last);
    EXPECT_EQ(r.prevOp(t, o, l), Journal::ADDSCHEMA);
    EXPECT_EQ(o, -1);
    for (Client* x : writers) delete x;
    writers.clear();
    Server::reset();
  }
}

}  // namespace
}  // namespace coretest
