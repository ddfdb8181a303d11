// Data definition and privileges through a live server: schemas, tables
// defined locally and sent with their last field, the refusals that send
// nothing, the schema lock on the schema's own object, privilege levels.
#include "OmdbFixture.h"

#include <zfound/Exception.h>
#include <zfound/InCheck.h>
#include <zfound/Message.h>
#include <zfound/Portable.h>
#include <zeph/Cursors.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include "ChildRun.h"
#include "Omdb.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace omtest {
namespace {

// How the server goes down before it is started again.
enum class Restart { Stop, CheckpointAndKill };

class Design : public OmdbFixture {
protected:
  // Three indexes on the server, the middle one dropped, then a restart
  // `how`: references to the third and reads through it still work.
  void expectIndexNumbersSurviveARestart(char const* schema, Restart how);

  // Requests this process sent to the schema's server so far.
  int32_t sent(int32_t schema) { return ClientMonitor::nMethods(omConnection(schema)); }

  // Refuses a copy part-way into a new schema `schema` and checks that the
  // destination is left empty and sound, through a checkpoint, a stop, the
  // check of the stopped server and a restart.
  void expectARefusedCopyLeavesTheDestinationSound(char const* schema);

  // A table "t" of two fields (a number key and a text) on the server.
  int32_t twoFieldTable(int32_t s, char const* name) {
    int32_t t = CreateTable(s, name, "two fields", 0, 0, 2);
    if (t < 0) return -1;
    if (AddTabField(t, "code", "", 0, 0, 0, 6, 0, 1, nullptr, nullptr) < 0) return -1;
    if (AddTabField(t, "name", "", 0, 1, 0, 20, 0, 0, nullptr, nullptr) < 0) return -1;
    return t;
  }
};

// Runs `body` in a child process that ends as a client does, whatever the
// body returned (a failed check returns early): its transaction aborted
// and its schemas closed, detached on the server, so that the parent never
// finds the schema held by a process that is gone. The parent has closed
// its schemas first: a connection inherited through the fork would be the
// parent's client on the server, which the child must neither use nor end.
zftest::RunResult inClient(std::function<int()> const& body) {
  return zftest::runInChild([&] {
    ZF_CHILD_CHECK(DbConnection::head() == nullptr);
    int r = body();
    if (InTransaction()) RollBack();
    CloseAllSchemas();
    return r;
  });
}

TEST_F(Design, TablesAreDefinedLocallyAndSentWithTheirLastField) {
  int32_t s = CreateSchema(path("s1").c_str(), "d");
  ASSERT_EQ(s, 0x10000) << _io_errno_;
  std::string all = GetSchemas();
  EXPECT_NE(all.find("s1"), std::string::npos) << all;

  int32_t t = CreateTable(s, "Orders", "", 0, 0, 2);
  ASSERT_GT(t, 0);
  int32_t before = sent(s);
  ASSERT_GT(AddTabField(t, "code", "", 0, 0, 0, 6, 0, 1, nullptr, nullptr), 0);
  // Only the count's own request reached the server.
  EXPECT_EQ(sent(s), before + 1) << "a field before the last is only defined here";
  ASSERT_GT(AddTabField(t, "cdate", "", 0, 2, 0, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_GT(sent(s), before + 1);
  EXPECT_NE(omOf(_GetTabPtr(t))->objId, -1);
  EXPECT_NE(_GetFldPtr(t | 2)->d.flags & 0x40, 0) << "cdate stamps the creation";
  // The third field of a two-field table is refused.
  EXPECT_EQ(AddTabField(t, "more", "", 0, 0, 0, 4, 0, 0, nullptr, nullptr), -1);

  // A fresh open sees the table on the server.
  CloseSchema(s);
  int32_t h = OpenSchema(path("s1").c_str(), 0x10);
  ASSERT_GT(h, 0) << _io_errno_;
  EXPECT_GT(FindDbTable(h, "orders"), 0);
}

TEST_F(Design, RefusalsSendNothing) {
  int32_t s = CreateSchema(path("s2").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = twoFieldTable(s, "customers1");
  ASSERT_GT(t, 0);
  int32_t before = sent(s);

  // A name whose first 10 characters name a table is taken.
  _io_errno_ = 0;
  EXPECT_EQ(CreateTable(s, "customers12345", "", 0, 0, 1), -1);
  EXPECT_EQ(_io_errno_, 7);
  // A field type that is none.
  int32_t u = CreateTable(s, "other", "", 0, 0, 1);
  ASSERT_GT(u, 0);
  EXPECT_EQ(AddTabField(u, "x", "", 0, 7, 0, 4, 0, 0, nullptr, nullptr), -1);
  // A schema privilege that is no level.
  s_schema* sp = _GetSchPtr(s);
  int32_t privs[1] = {dbPrivEntry(1234, DB_PRIV_USER, 3)};
  int32_t* oldPrivs = sp->d.privs;
  uint16_t oldN = sp->d.nprivs;
  sp->d.privs = privs;
  sp->d.nprivs = 1;
  EXPECT_EQ(_FlushSchPrivileges(sp), 0);
  sp->d.privs = oldPrivs;
  sp->d.nprivs = oldN;
  // A value check whose stored form passes 8 KB.
  InList big(false);
  for (int i = 0; i < 1200; ++i) big.addKeyVal(AnyValue(String("a value of some length")));
  EXPECT_EQ(_SetInCheck(t | 2, &big, "big"), -1);
  EXPECT_EQ(sent(s), before + 1);

  // Renaming onto an existing name.
  int32_t v = twoFieldTable(s, "third");
  ASSERT_GT(v, 0);
  _io_errno_ = 0;
  EXPECT_EQ(RenameTable(v, "customers1"), -1);
  EXPECT_EQ(_io_errno_, 7);
  EXPECT_EQ(RenameTable(v, "fourth"), 0);
  EXPECT_EQ(DropTable(v), 0);
  EXPECT_EQ(DropSchema(s), 0);
}

TEST_F(Design, TheSchemaLockIsTheSchemasOwnAndCheckpointsGoOn) {
  int32_t s = CreateSchema(path("s3").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t schemaObj = omOf(_GetSchPtr(s))->objId;
  ASSERT_EQ(LockSchema(s, 3), 0);
  // Another client's attach of the locked schema is refused as locked.
  Body b;
  b.w(16).w(1).w(0).s("s3");
  zftest::RawReply r = raw().request(kServerObj, DBM_ATTACH, b.words());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status < 0 ? -r.status : r.status, 4) << "Locked";
  // The process lock is not taken: a checkpoint is still taken.
  zftest::RawReply cp = raw().request(kServerObj, DBM_CHECKPOINT, {0});
  ASSERT_TRUE(cp.ok);
  EXPECT_NE(cp.result & 8, 0) << cp.result;
  FreeSchema(s);
  EXPECT_EQ(DbCheckPoint(s), 1);

  // While another client has the schema attached, the lock is refused.
  Body a;
  a.w(16).w(1).w(0).s("s3");
  ASSERT_EQ(raw().request(kServerObj, DBM_ATTACH, a.words()).result, schemaObj);
  EXPECT_EQ(LockSchema(s, 3), -2);
}

TEST_F(Design, ADroppedSchemaIsForgottenWhenTheCheckpointAfterItIsDeferred) {
  int32_t s = CreateSchema(path("s4").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  // Another client holds the process lock: the checkpoint is deferred.
  ASSERT_TRUE(raw().request(kServerObj, DBM_LOCK).ok);
  EXPECT_EQ(_DropSchema(s, 1), -1);
  EXPECT_EQ(FindSchema(path("s4").c_str()), -1);
  EXPECT_EQ(FindNextSchema(0), -1);
  Body b;
  b.w(16).w(1).w(0).s("s4");
  EXPECT_EQ(raw().request(kServerObj, DBM_ATTACH, b.words()).result, -1) << "gone on the server";
}

// The record number of table t's buffer.
int32_t recno(int32_t t) { return ldlong(_GetTabBuff(t) + _GetTabPtr(t)->d.len); }

// Field handle `n` (from 1) of table handle t, and its bytes in the buffer.
int32_t fld(int32_t t, int32_t n) { return (t & 0xffff00) | n; }
char* at(int32_t t, int32_t n) { return _GetTabBuff(t) + _GetFldPtr(fld(t, n))->d.offset; }
void setText(int32_t t, int32_t n, char const* v) {
  s_field* f = _GetFldPtr(fld(t, n));
  std::memset(at(t, n), 0, size_t(f->d.len) + 1);
  std::strncpy(at(t, n), v, f->d.len);
}

// An index of `parts` (field numbers from 1; part flags 1 descending) made
// on the server: its handle, -1 on failure.
int32_t serverIndex(int32_t t, char const* name, int32_t unique, std::vector<std::pair<int32_t, int32_t>> parts) {
  int32_t ix = CreateIndex(t, name, unique, 0);
  if (ix < 0) return -1;
  for (auto const& p : parts)
    if (AddIndField(ix, fld(t, p.first), p.second, 0, 0) != 0) return -1;
  return CompleteIndex(ix) >= 0 ? ix : -1;
}

// Ids read walking index `ix` forward.
std::vector<int32_t> idsThrough(int32_t t, int32_t ix) {
  std::vector<int32_t> ids;
  int32_t cur = CreateCursor(ix, 0);
  if (cur < 0) return ids;
  while (FetchCursor(cur) >= 0) ids.push_back(ldlong(at(t, 1)));
  DeleteCursor(cur);
  return ids;
}

TEST_F(Design, IndexesStampsAndDropsReachTheServer) {
  MsgHandler old = displayErrorHandler(zftest::recordWarning);
  zftest::shown().clear();
  int32_t s = CreateSchema(path("s5").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = CreateTable(s, "stock", "", 0, 0, 4);
  ASSERT_GT(t, 0);
  ASSERT_GT(AddTabField(t, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(t, "grp", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(t, "cdate", "", 0, kDate, 0, 0, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(t, "muid", "", 0, kNumber, 0, 5, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(AddTabField(t, "more", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), -1);
  // Reported as a warning: the program goes on.
  EXPECT_TRUE(zftest::wasShown("was made for 4 fields")) << (zftest::shown().empty() ? "" : zftest::shown()[0]);
  displayErrorHandler(old);

  int32_t pk = serverIndex(t, "pk", 1, {{1, 0}});
  int32_t byGrp = serverIndex(t, "bygrp", 0, {{2, 0}});
  int32_t down = serverIndex(t, "down", 1, {{1, 1}});
  ASSERT_GT(down, 0);
  ASSERT_GE(pk, 0);
  ASSERT_GT(byGrp, 0);
  for (int32_t id = 1; id <= 5; ++id) {
    InitRecord(t);
    stlong(id, at(t, 1));
    stlong(id % 2, at(t, 2));
    ASSERT_GT(AddRecordTest(t), 0) << id;  // the index with duplicates takes each group twice
  }
  // The unique index refuses a second record of id 3.
  DbHandler quiet = SetDbHandler([](int32_t, char const*, char const*) {});
  InitRecord(t);
  stlong(3, at(t, 1));
  stlong(7, at(t, 2));
  EXPECT_LT(AddRecordTest(t), 0);
  SetDbHandler(quiet);
  EXPECT_EQ(TabNRecords(t), 5);

  // The stamps are the server's.
  InitRecord(t);
  stlong(2, at(t, 1));
  ASSERT_GE(GetRecord(t, 1, 0, 0), 0);
  EXPECT_EQ(_IsNull(_GetFldPtr(fld(t, 3)), _GetTabBuff(t), 0), 0) << "cdate";
  EXPECT_EQ(_IsNull(_GetFldPtr(fld(t, 4)), _GetTabBuff(t), 0), 0) << "muid";

  EXPECT_EQ(idsThrough(t, pk), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  std::vector<int32_t> byGroup = idsThrough(t, byGrp);
  EXPECT_EQ(byGroup, (std::vector<int32_t>{2, 4, 1, 3, 5}));
  // The descending index lists in reverse in the process that made it.
  EXPECT_EQ(idsThrough(t, down), (std::vector<int32_t>{5, 4, 3, 2, 1}));

  ASSERT_EQ(DropIndex(byGrp), 0);
  ASSERT_GT(twoFieldTable(s, "gone"), 0);
  CloseSchema(s);
  int32_t h = OpenSchema(path("s5").c_str(), 0x10);
  ASSERT_GT(h, 0) << _io_errno_;
  int32_t t2 = FindDbTable(h, "stock");
  ASSERT_GT(t2, 0);
  ASSERT_NE(_GetTabPtr(t2), nullptr) << "attached, with its indexes";
  EXPECT_EQ(FindDbIndex(t2, "bygrp"), -1) << "dropped on the server";
  int32_t downAgain = FindDbIndex(t2, "down");
  ASSERT_GT(downAgain, 0);
  EXPECT_EQ(_GetTabPtr(t2)->indexes[dbLowByte(downAgain)].parts[0].flags & 1, 1) << "descending";
  EXPECT_EQ(idsThrough(t2, downAgain), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  EXPECT_EQ(FindDbIndex(t2, "pk"), t2);
  int32_t gone = FindDbTable(h, "gone");
  ASSERT_GT(gone, 0);
  EXPECT_EQ(DropTable(gone), 0);
  CloseSchema(h);
  h = OpenSchema(path("s5").c_str(), 0x10);
  ASSERT_GT(h, 0) << _io_errno_;
  EXPECT_EQ(FindDbTable(h, "gone"), -1) << "dropped on the server";
  EXPECT_GT(FindDbTable(h, "stock"), 0);
}

// A table made here (a number key with a unique index, a text, a price, a
// creation date) takes a transaction of ten records once its index is on
// the server. While the index is only defined here the server has none to
// write through: each write is refused at once, not every one at the end
// of the transaction.
TEST_F(Design, WritesWaitForTheIndexToReachTheServer) {
  int32_t s = CreateSchema(path("s10").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = CreateTable(s, "item", "", 0, 0, 4);
  ASSERT_GT(t, 0);
  int32_t code = AddTabField(t, "code", "", 0, kNumber, 0, 6, 0, 1, nullptr, nullptr);
  int32_t name = AddTabField(t, "name", "", 0, kText, 0, 20, 0, 0, nullptr, nullptr);
  int32_t price = AddTabField(t, "price", "", 0, kNumber, 0, 8, 2, 0, nullptr, nullptr);
  ASSERT_GT(AddTabField(t, "cdate", "", 0, kDate, 0, 0, 0, 0, nullptr, nullptr), 0);
  int32_t ix = CreateIndex(t, "bycode", 1, 0);
  ASSERT_GT(ix, 0);
  ASSERT_EQ(AddIndField(ix, code, 0, 0, 0), 0);
  std::vector<std::string> refusals;
  static std::vector<std::string>* seen = nullptr;
  seen = &refusals;
  DbHandler old = SetDbHandler([](int32_t, char const* key, char const* detail) {
    seen->push_back(std::string(key) + " " + (detail ? detail : ""));
  });
  auto addTen = [&](int32_t first) {
    int32_t added = 0;
    BeginTrans(0);
    for (int32_t i = first; i < first + 10; ++i) {
      InitRecord(t);
      std::string k = std::to_string(i);
      SFld(code, 0, k.c_str());
      SFld(name, 0, ("n" + k).c_str());
      SFld(price, 0, "995");
      if (AddRecord(t) == 0) ++added;
    }
    int32_t ended = EndTransaction();
    return std::make_pair(added, ended);
  };
  MsgHandler quiet = displayErrorHandler(zftest::recordWarning);
  std::pair<int32_t, int32_t> first = addTen(1);
  displayErrorHandler(quiet);
  SetDbHandler(old);
  EXPECT_EQ(first, std::make_pair(0, 1)) << "nothing was sent";
  ASSERT_EQ(refusals.size(), 10u);
  EXPECT_NE(refusals[0].find("CompleteIndex"), std::string::npos) << refusals[0];
  ASSERT_GE(CompleteIndex(ix), 0);
  EXPECT_EQ(addTen(1), std::make_pair(10, 1));
  EXPECT_EQ(TabNRecords(t), 10);
}

// Tables "src" and "dst" of schema s, each with a unique index "pk" on id;
// "dst" also with a unique index "bygrp" on grp, which refuses a copy of
// src's 300 records (id % 7 in grp) at its eighth record.
struct CopyPair {
  int32_t from = -1;
  int32_t to = -1;
  int32_t toPk = -1;
  int32_t byGrp = -1;
};
CopyPair refusingCopyPair(int32_t s) {
  auto table = [&](char const* name, int32_t* pk) {
    int32_t t = CreateTable(s, name, "", 0, 0, 2);
    if (t < 0 || AddTabField(t, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr) < 0 ||
        AddTabField(t, "grp", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr) < 0)
      return -1;
    *pk = serverIndex(t, "pk", 1, {{1, 0}});
    return *pk < 0 ? -1 : t;
  };
  CopyPair p;
  int32_t fromPk = -1;
  p.from = table("src", &fromPk);
  p.to = table("dst", &p.toPk);
  if (p.from < 0 || p.to < 0) return CopyPair{};
  p.byGrp = serverIndex(p.to, "bygrp", 1, {{2, 0}});
  BeginTransaction();
  for (int32_t id = 1; id <= 300; ++id) {
    InitRecord(p.from);
    stlong(id, at(p.from, 1));
    stlong(id % 7, at(p.from, 2));
    if (AddRecordTest(p.from) <= 0) {
      RollBack();
      return CopyPair{};
    }
  }
  if (EndTransaction() != 1) return CopyPair{};
  return p;
}

// A copy of `p` that the server refuses: -1, quietly.
int32_t refusedCopy(CopyPair const& p) {
  MsgHandler old = displayErrorHandler(zftest::recordWarning);
  int32_t r = CopyTable(p.to, p.from, nullptr, 1);
  displayErrorHandler(old);
  return r;
}

// A copy the server refuses part-way (a key the destination's unique index
// holds twice) fails: -1 with the server's error and a report, in a
// process that goes on, and the copy job is let go, so that nothing holds
// the destination and a later copy runs whole.
TEST_F(Design, ACopyRefusedPartWayFailsAndLetsItsJobGo) {
  int32_t s = CreateSchema(path("s11").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  CopyPair p = refusingCopyPair(s);
  ASSERT_GT(p.from, 0);
  ASSERT_GT(p.byGrp, 0);

  MsgHandler old = displayErrorHandler(zftest::recordWarning);
  zftest::shown().clear();
  Exception::last(Exception(0));
  EXPECT_EQ(CopyTable(p.to, p.from, nullptr, 1), -1);
  EXPECT_NE(Exception::last().code(), 0);
  EXPECT_FALSE(zftest::shown().empty());
  displayErrorHandler(old);

  // Nothing holds the destination: its index goes, and a copy runs whole.
  EXPECT_EQ(DropIndex(p.byGrp), 0);
  EXPECT_EQ(CopyTable(p.to, p.from, nullptr, 1), 300);
  EXPECT_EQ(DropTable(p.to), 0);
}

// A server that journals, so that a refused copy's abort rolls back.
class JournalledDesign : public Design {
protected:
  std::string serverKeys() const override {
    std::string d = journals_.file("j");
    ::mkdir(d.c_str(), 0700);
    return "JournalDir\t" + d + "\nBackup\t1\n";
  }
  zftest::TempDir journals_;
};

// The copy writes outside the transaction, so the rollback of a copy
// refused part-way does not take its records back: the server empties the
// destination again, and it is sound: no record that an index misses, a
// checkpoint, a stop and the check of the stopped server pass, and after a
// restart the destination is still empty and takes a whole copy; with a
// journal and without.
void Design::expectARefusedCopyLeavesTheDestinationSound(char const* name) {
  std::string const schema = path(name);
  int32_t s = CreateSchema(schema.c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  CopyPair p = refusingCopyPair(s);
  ASSERT_GT(p.from, 0);
  ASSERT_GT(p.byGrp, 0);
  ASSERT_EQ(refusedCopy(p), -1);

  EXPECT_EQ(TabNRecords(p.to), 0);
  EXPECT_EQ(idsThrough(p.to, p.toPk), std::vector<int32_t>{});
  EXPECT_EQ(idsThrough(p.to, p.byGrp), std::vector<int32_t>{});
  EXPECT_EQ(DbCheckPoint(s), 1);
  CloseAllSchemas();
  raw_.reset();
  ASSERT_EQ(server().stop(), 0) << server().log();
  zftest::RunResult check = server().run({"-f", "-p", "-e", "1", server().name()});
  EXPECT_EQ(check.status, 255) << check.out << check.err;

  ASSERT_TRUE(server().start()) << server().log();
  s = OpenSchema(schema.c_str(), 0x10);
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t to = FindDbTable(s, "dst");
  int32_t from = FindDbTable(s, "src");
  ASSERT_GT(to, 0);
  ASSERT_GT(from, 0);
  EXPECT_EQ(TabNRecords(to), 0);
  EXPECT_EQ(TabNRecords(from), 300);
  ASSERT_EQ(DropIndex(FindDbIndex(to, "bygrp")), 0);
  EXPECT_EQ(CopyTable(to, from, nullptr, 1), 300);
  EXPECT_EQ(idsThrough(to, FindDbIndex(to, "pk")).size(), 300u);
}

TEST_F(Design, ACopyRefusedPartWayLeavesTheDestinationEmptyAndSound) {
  expectARefusedCopyLeavesTheDestinationSound("s12");
}
TEST_F(JournalledDesign, ACopyRefusedPartWayLeavesTheDestinationEmptyAndSound) {
  expectARefusedCopyLeavesTheDestinationSound("s12");
}

// Refused inside the program's own transaction, the copy's job cannot be
// detached (the aborted transaction takes nothing but its end), yet it
// holds neither table: once the program ends its transaction, the
// destination's index can be dropped and a copy runs whole.
TEST_F(JournalledDesign, ACopyRefusedInTheProgramsTransactionHoldsNeitherTable) {
  int32_t s = CreateSchema(path("s13").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  CopyPair p = refusingCopyPair(s);
  ASSERT_GT(p.from, 0);
  ASSERT_GT(p.byGrp, 0);
  BeginTransaction();
  EXPECT_EQ(refusedCopy(p), -1);
  RollBack();
  EXPECT_EQ(TabNRecords(p.to), 0);
  EXPECT_EQ(DropIndex(p.byGrp), 0);
  EXPECT_EQ(CopyTable(p.to, p.from, nullptr, 1), 300);
  EXPECT_EQ(DropTable(p.to), 0);
  EXPECT_EQ(DropTable(p.from), 0);
}

std::string convMessage;
std::vector<std::string> convProgress;

TEST_F(Design, IndexBuildsAndConversionsKeepEveryRow) {
  constexpr int32_t kRows = 1000;
  int32_t s = CreateSchema(path("s6").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  auto table = [&](char const* name, int32_t nameLen, bool withByName, int32_t nameType = kText) {
    int32_t t = CreateTable(s, name, "", 0, 0, 2);
    if (t < 0 || AddTabField(t, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr) < 0 ||
        AddTabField(t, "name", "", 0, nameType, 0, nameLen, 0, 0, nullptr, nullptr) < 0 ||
        serverIndex(t, "pk", 1, {{1, 0}}) < 0 || (withByName && serverIndex(t, "byname", 0, {{2, 0}}) < 0))
      return -1;
    return t;
  };
  int32_t t = table("big", 10, false);
  ASSERT_GT(t, 0);
  std::vector<int32_t> recnos(kRows + 1);
  char name[16];
  BeginTransaction();
  for (int32_t id = 1; id <= kRows; ++id) {
    InitRecord(t);
    stlong(id, at(t, 1));
    std::snprintf(name, sizeof name, "n%05d", id);
    setText(t, 2, name);
    recnos[size_t(id)] = AddRecordTest(t);
    ASSERT_GT(recnos[size_t(id)], 0);
  }
  ASSERT_EQ(EndTransaction(), 1);

  // A new index built over the loaded rows finds every one.
  int32_t ix = CreateIndex(t, "byname", 0, 0);
  ASSERT_GT(ix, 0);
  ASSERT_EQ(AddIndField(ix, fld(t, 2), 0, 0, 0), 0);
  EXPECT_GE(BuildIndex(ix, 0), 0);
  auto findsEvery = [&](int32_t index) {
    int32_t found = 0;
    for (int32_t id = 1; id <= kRows; ++id) {
      InitRecord(t);
      std::snprintf(name, sizeof name, "n%05d", id);
      setText(t, 2, name);
      if (FindRecord(index, 1, 0) == recnos[size_t(id)]) ++found;
      FreeRecord(index, 1, 0);
    }
    return found;
  };
  EXPECT_EQ(findsEvery(ix), kRows);

  // Widened: copied and replaced, every row under its number.
  int32_t wide = table("big2", 20, false);
  ASSERT_GT(wide, 0);
  convMessage.clear();
  convProgress.clear();
  auto message = [](char const* text) {
    convMessage = text;
    return int32_t(1);
  };
  auto progress = [](char const* text) { convProgress.push_back(text); };
  ASSERT_EQ(ConvertTable(t, wide, 1, 0, message, progress, 0, 0, 0), 0) << convMessage;
  EXPECT_EQ(FindDbTable(s, "big"), t);
  EXPECT_EQ(_GetFldPtr(fld(t, 2))->d.len, 20);
  EXPECT_EQ(TabNRecords(t), kRows);
  int32_t same = 0;
  for (int32_t id = 1; id <= kRows; ++id) {
    InitRecord(t);
    stlong(id, at(t, 1));
    if (GetRecord(t, 1, 0, 0) >= 0 && recno(t) == recnos[size_t(id)]) ++same;
  }
  EXPECT_EQ(same, kRows);

  // Only an index more: the definitions trade places and the index is built.
  int32_t more = table("big3", 20, true);
  ASSERT_GT(more, 0);
  convProgress.clear();
  ASSERT_EQ(ConvertTable(t, more, 0, 0, message, progress, 0, 0, 0), 0) << convMessage;
  EXPECT_EQ(FindDbTable(s, "big"), t);
  int32_t byName = FindDbIndex(t, "byname");
  ASSERT_GT(byName, 0);
  EXPECT_EQ(findsEvery(byName), kRows);

  // Refused (a text field become a date): the server's text goes to `message`, whose answer drops the
  // new table.
  int32_t refused = table("big4", 0, false, kDate);
  ASSERT_GT(refused, 0);
  convMessage.clear();
  EXPECT_EQ(ConvertTable(t, refused, 0, 0, message, progress, 0, 0, 0), -1);
  EXPECT_FALSE(convMessage.empty());
  EXPECT_EQ(FindDbTable(s, "big4"), -1);
  EXPECT_EQ(TabNRecords(t), kRows);
}

TEST_F(Design, PrivilegesAndTheOwnerAreStored) {
  int32_t s = CreateSchema(path("s7").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = twoFieldTable(s, "priv");
  ASSERT_GT(t, 0);
  int32_t tabPrivs[1] = {dbPrivEntry(1234, DB_PRIV_USER, 0x3ff)};
  int32_t schPrivs[1] = {dbPrivEntry(1234, DB_PRIV_USER, 4)};
  s_schema* sp = _GetSchPtr(s);
  s_table* tp = _GetTabPtr(t);
  int32_t* oldTab = tp->d.privs;
  uint16_t oldTabN = tp->d.nprivs;
  int32_t* oldSch = sp->d.privs;
  uint16_t oldSchN = sp->d.nprivs;
  tp->d.privs = tabPrivs;
  tp->d.nprivs = 1;
  sp->d.privs = schPrivs;
  sp->d.nprivs = 1;
  EXPECT_EQ(_FlushTabPrivileges(sp), 1);
  EXPECT_EQ(_FlushSchPrivileges(sp), 1);
  tp->d.privs = oldTab;
  tp->d.nprivs = oldTabN;
  sp->d.privs = oldSch;
  sp->d.nprivs = oldSchN;
  EXPECT_EQ(ChownSchema(s, 1234), 1);
  CloseSchema(s);

  int32_t h = OpenSchema(path("s7").c_str(), 0x10);
  ASSERT_GT(h, 0) << _io_errno_;
  sp = _GetSchPtr(h);
  EXPECT_EQ(sp->owner, 1234);
  int32_t level = -1;
  for (int32_t i = 0; i < sp->d.nprivs; ++i)
    if (dbPrivId(sp->d.privs[i]) == 1234) level = dbPrivBits(sp->d.privs[i]);
  EXPECT_EQ(level, 4) << "the server's bits 0-2 are level 4";
  int32_t t2 = FindDbTable(h, "priv");
  ASSERT_GT(t2, 0);
  tp = _GetTabPtr(t2);
  int32_t bits = -1;
  for (int32_t i = 0; i < tp->d.nprivs; ++i)
    if (dbPrivId(tp->d.privs[i]) == 1234) bits = dbPrivBits(tp->d.privs[i]);
  EXPECT_EQ(bits, 0x3cf) << "bits 4 and 5 are not kept";
}

// Gives user 65534 schema level `level` on schema s: true when stored.
bool grant(int32_t s, int32_t level) {
  s_schema* sp = _GetSchPtr(s);
  int32_t privs[1] = {dbPrivEntry(65534, DB_PRIV_USER, uint16_t(level))};
  int32_t* old = sp->d.privs;
  uint16_t oldN = sp->d.nprivs;
  sp->d.privs = privs;
  sp->d.nprivs = 1;
  bool ok = _FlushSchPrivileges(sp) == 1;
  sp->d.privs = old;
  sp->d.nprivs = oldN;
  return ok;
}

// A process of user 65534 opens the schema, makes a named index on table
// "open" (expecting the result and _io_errno_) and tries ChownSchema.
TEST_F(Design, DesignNeedsLevelEightAndOnlyTheOwnerGivesTheSchemaAway) {
  int32_t s = CreateSchema(path("s8").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  ASSERT_GT(twoFieldTable(s, "open"), 0);
  int32_t owner = _GetSchPtr(s)->owner;
  ASSERT_TRUE(grant(s, 1));
  CloseAllSchemas();
  // The other user reads the client configuration of the server.
  ASSERT_EQ(chmod(server().dir().path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(server().dir().file("servers").c_str(), 0755), 0);
  ASSERT_EQ(chmod(server().configFile().c_str(), 0644), 0);
  std::string p = path("s8");
  auto asOther = [&](int32_t expectIndex, int32_t expectErrno) {
    return inClient([&] {
      ZF_CHILD_CHECK(setgid(65534) == 0 && setuid(65534) == 0);
      int32_t h = OpenSchema(p.c_str(), 0);
      ZF_CHILD_CHECK(h > 0);
      int32_t t = FindDbTable(h, "open");
      ZF_CHILD_CHECK(t > 0);
      int32_t ix = CreateIndex(t, "byname", 0, 0);
      ZF_CHILD_CHECK(ix > 0 && AddIndField(ix, fld(t, 2), 0, 0, 0) == 0);
      _io_errno_ = 0;
      int32_t r = CompleteIndex(ix);
      ZF_CHILD_CHECK(expectIndex < 0 ? r == -1 : r >= 0);
      ZF_CHILD_CHECK(_io_errno_ == expectErrno);
      ZF_CHILD_CHECK(ChownSchema(h, 65534) == 0);
      CloseAllSchemas();
      return 0;
    });
  };
  zftest::RunResult level1 = asOther(-1, 1);
  EXPECT_EQ(level1.status, 0) << level1.out << level1.err << server().log();

  s = OpenSchema(p.c_str(), 0);
  ASSERT_GT(s, 0) << _io_errno_;
  EXPECT_EQ(_GetSchPtr(s)->owner, owner) << "the other user's ChownSchema changed nothing";
  // Level 4 goes to the server as bits 0-2: the schema opens (bit 0), a
  // named index still needs 8.
  ASSERT_TRUE(grant(s, 4));
  CloseAllSchemas();
  zftest::RunResult level4 = asOther(-1, 1);
  EXPECT_EQ(level4.status, 0) << level4.out << level4.err << server().log();
  s = OpenSchema(p.c_str(), 0);
  ASSERT_GT(s, 0) << _io_errno_;
  ASSERT_TRUE(grant(s, 8));
  CloseAllSchemas();
  zftest::RunResult level8 = asOther(0, 0);
  EXPECT_EQ(level8.status, 0) << level8.out << level8.err << server().log();

  s = OpenSchema(p.c_str(), 0);
  ASSERT_GT(s, 0) << _io_errno_;
  EXPECT_EQ(ChownSchema(s, 1234), 1);
  CloseAllSchemas();
  s = OpenSchema(p.c_str(), 0);
  ASSERT_GT(s, 0) << _io_errno_;
  EXPECT_EQ(_GetSchPtr(s)->owner, 1234);
}

// A process that opens the schema anew, before and after a server restart,
// sees every part of the definition; then DropSchema removes it.
TEST_F(Design, ATableAnotherRefersToIsNotDropped) {
  int32_t s = CreateSchema(path("s10").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t master = twoFieldTable(s, "master");
  int32_t detail = twoFieldTable(s, "detail");
  ASSERT_GT(master, 0);
  ASSERT_GT(detail, 0);
  ASSERT_GE(serverIndex(master, "pk", 1, {{1, 0}}), 0);
  Integrity ref(false, ObjectId(0, uint32_t(master & 0xffff00)));
  ASSERT_EQ(_SetInCheck(fld(detail, 1), &ref, nullptr), 0);
  _io_errno_ = 0;
  EXPECT_EQ(DropTable(master), -1);
  EXPECT_EQ(_io_errno_, 12);
  // Opened again, the referring table is not described yet: it is seen all
  // the same.
  CloseAllSchemas();
  s = OpenSchema(path("s10").c_str(), 0x10);
  ASSERT_GT(s, 0) << _io_errno_;
  master = FindDbTable(s, "master");
  detail = FindDbTable(s, "detail");
  ASSERT_GT(master, 0);
  ASSERT_GT(detail, 0);
  _io_errno_ = 0;
  EXPECT_EQ(DropTable(master), -1);
  EXPECT_EQ(_io_errno_, 12);
  EXPECT_EQ(DropTable(detail), 0);
  EXPECT_EQ(DropTable(master), 0);
  EXPECT_EQ(FindDbTable(s, "master"), -1);
}

// The index a value check looks keys up in, or an object field refers to,
// goes to the server by the server's number and comes back as the
// library's. The server keeps the number each index got when it was made,
// a drop leaving a gap; the library numbers its indexes in order. References
// to the third of three indexes set before and after the second is dropped
// name that index here at once and after a fresh open; so do a table's
// references to its own index and to a table that refers back to it.
TEST_F(Design, ReferencesNameTheServersIndexAfterADroppedIndex) {
  int32_t s = CreateSchema(path("sx").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t master = twoFieldTable(s, "master");
  ASSERT_GT(master, 0);
  int32_t detail = CreateTable(s, "detail", "", 0, 0, 4);
  ASSERT_GT(detail, 0);
  for (char const* name : {"early", "late"})
    ASSERT_GT(AddTabField(detail, name, "", 0, kObject, 0, 0, 0, 0, nullptr, nullptr), 0);
  for (char const* name : {"ecode", "lcode"})
    ASSERT_GT(AddTabField(detail, name, "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GE(serverIndex(master, "pk", 1, {{1, 0}}), 0);
  int32_t middle = serverIndex(master, "byname", 0, {{2, 0}});
  int32_t third = serverIndex(master, "third", 1, {{2, 0}, {1, 0}});
  ASSERT_EQ(third, (master & 0xffff00) | 2);
  ASSERT_GE(serverIndex(detail, "dpk", 1, {{3, 0}}), 0);
  auto refer = [](int32_t field, int32_t index) {
    Integrity check(false, ObjectId(0, uint32_t(index)));
    return _SetInCheck(field, &check, nullptr);
  };
  // The index handle a field's check names, -1 without a check or in the
  // server's numbering.
  auto checkIndex = [](int32_t field) {
    s_field const* f = _GetFldPtr(field);
    if (f == nullptr || f->incheck == nullptr || f->incheck->getType() != InCheck::INTEGRITY) return int64_t(-1);
    ObjectId const& ix = static_cast<Integrity*>(f->incheck)->index();
    return ix.classId() == 0 ? int64_t(ix.instId()) : int64_t(-1);
  };
  auto refIndex = [](int32_t table, int32_t n) { return omOf(_GetTabPtr(table))->fields[size_t(n - 1)].refInst; };

  // Set while the numbers agree.
  ASSERT_EQ(SetObjReference(fld(detail, 1), third), 0);
  ASSERT_EQ(refer(fld(detail, 3), third), 0);
  ASSERT_EQ(DropIndex(middle), 0);
  third = FindDbIndex(master, "third");
  ASSERT_EQ(third, (master & 0xffff00) | 1) << "the later index moved down";
  EXPECT_EQ(checkIndex(fld(detail, 3)), third) << "renumbered here as well";
  EXPECT_EQ(refIndex(detail, 1), 1u);
  // Set after the drop: library index 1 is the server's index 2.
  ASSERT_EQ(SetObjReference(fld(detail, 2), third), 0);
  ASSERT_EQ(refer(fld(detail, 4), third), 0);
  ASSERT_EQ(refer(fld(master, 1), third), 0) << "the table's own index";
  ASSERT_EQ(refer(fld(master, 2), FindDbIndex(detail, "dpk")), 0) << "a table that refers back";
  // An index the server does not hold is refused, nothing stored.
  int32_t local = CreateIndex(master, "local", 0, 0);
  ASSERT_EQ(local, (master & 0xffff00) | 2);
  EXPECT_EQ(SetObjReference(fld(detail, 2), local), -1);
  EXPECT_EQ(refer(fld(detail, 4), local), -1);
  EXPECT_EQ(refIndex(detail, 2), 1u);

  CloseAllSchemas();
  s = OpenSchema(path("sx").c_str(), 0x10);
  ASSERT_GT(s, 0) << _io_errno_;
  master = FindDbTable(s, "master");
  detail = FindDbTable(s, "detail");
  ASSERT_GT(master, 0);
  ASSERT_GT(detail, 0);
  // The referring table first: its references attach the table they name.
  EXPECT_EQ(checkIndex(fld(detail, 3)), master | 1) << "set before the drop";
  EXPECT_EQ(checkIndex(fld(detail, 4)), master | 1) << "set after the drop";
  ASSERT_EQ(FindDbIndex(master, "third"), master | 1);
  EXPECT_EQ(checkIndex(fld(master, 1)), master | 1);
  EXPECT_EQ(checkIndex(fld(master, 2)), FindDbIndex(detail, "dpk"));
  uint32_t masterNumber = uint32_t(omOf(_GetTabPtr(master))->number);
  for (int32_t n : {1, 2}) {
    EXPECT_EQ(omOf(_GetTabPtr(detail))->fields[size_t(n - 1)].refClass, masterNumber) << n;
    EXPECT_EQ(refIndex(detail, n), 1u) << n;
  }
}

// Three indexes, the middle one dropped: the third keeps the server's
// number 2. A value check and an object reference naming it, and reads
// through it, still name and reach the same index after the server reads
// the schema again at its next start.
void Design::expectIndexNumbersSurviveARestart(char const* name, Restart how) {
  std::string const schema = path(name);
  zftest::TestServer& sv = server();
  int32_t s = CreateSchema(schema.c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t master = CreateTable(s, "master", "", 0, 0, 2);
  ASSERT_GT(master, 0);
  ASSERT_GT(AddTabField(master, "code", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(master, "name", "", 0, kText, 0, 20, 0, 0, nullptr, nullptr), 0);
  int32_t detail = CreateTable(s, "detail", "", 0, 0, 2);
  ASSERT_GT(detail, 0);
  ASSERT_GT(AddTabField(detail, "ref", "", 0, kObject, 0, 0, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(detail, "code", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GE(serverIndex(master, "pk", 1, {{1, 0}}), 0);
  int32_t middle = serverIndex(master, "byname", 0, {{2, 0}});
  ASSERT_GT(middle, 0);
  ASSERT_GT(serverIndex(master, "third", 1, {{2, 0}, {1, 0}}), 0);
  ASSERT_GE(serverIndex(detail, "dpk", 1, {{2, 0}}), 0);
  for (auto const& [code, text] : std::vector<std::pair<int32_t, char const*>>{{1, "c"}, {2, "a"}, {3, "b"}}) {
    InitRecord(master);
    stlong(code, at(master, 1));
    setText(master, 2, text);
    ASSERT_GT(AddRecordTest(master), 0) << code;
  }
  ASSERT_EQ(DropIndex(middle), 0);
  int32_t third = FindDbIndex(master, "third");
  ASSERT_EQ(third, (master & 0xffff00) | 1);
  ASSERT_EQ(SetObjReference(fld(detail, 1), third), 0);
  Integrity check(false, ObjectId(0, uint32_t(third)));
  ASSERT_EQ(_SetInCheck(fld(detail, 2), &check, nullptr), 0);
  std::vector<int32_t> const byName{2, 3, 1};
  ASSERT_EQ(idsThrough(master, third), byName);

  if (how == Restart::CheckpointAndKill) {
    ASSERT_EQ(DbCheckPoint(s), 1);
  }
  CloseAllSchemas();
  raw_.reset();
  if (how == Restart::Stop) {
    ASSERT_EQ(sv.stop(), 0) << sv.log();
  } else {
    sv.kill();
    sv.removeIpc();
  }
  ASSERT_TRUE(sv.start()) << sv.log();

  s = OpenSchema(schema.c_str(), 0x10);
  ASSERT_GT(s, 0) << _io_errno_;
  master = FindDbTable(s, "master");
  detail = FindDbTable(s, "detail");
  ASSERT_GT(master, 0);
  ASSERT_GT(detail, 0);
  third = FindDbIndex(master, "third");
  ASSERT_GT(third, 0);
  EXPECT_EQ(omIndexNumber(omOf(_GetTabPtr(master)), dbLowByte(third), true), 2) << "the server's number is kept";
  EXPECT_EQ(omOf(_GetTabPtr(detail))->fields[0].refInst, uint32_t(dbLowByte(third))) << "the object reference";
  s_field const* f = _GetFldPtr(fld(detail, 2));
  ASSERT_TRUE(f != nullptr && f->incheck != nullptr && f->incheck->getType() == InCheck::INTEGRITY);
  EXPECT_EQ(static_cast<Integrity*>(f->incheck)->index(), ObjectId(0, uint32_t(third))) << "the check names it";
  EXPECT_EQ(idsThrough(master, third), byName);
  // A record found by its key through the index of that number.
  InitRecord(master);
  setText(master, 2, "b");
  stlong(3, at(master, 1));
  EXPECT_GE(GetRecord(third, 1, 0, 0), 0);
  // The dropped index's number goes to the next index made.
  int32_t again = serverIndex(master, "again", 0, {{2, 0}});
  ASSERT_GT(again, 0);
  EXPECT_EQ(omIndexNumber(omOf(_GetTabPtr(master)), dbLowByte(again), true), 1);
  EXPECT_EQ(idsThrough(master, third), byName);
}

// An index made after a drop takes the dropped index's number on the
// server, and records written afterwards are read through it.
TEST_F(Design, AnIndexMadeAfterADropTakesTheFreeNumber) {
  int32_t s = CreateSchema(path("sr0").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = twoFieldTable(s, "t");
  ASSERT_GT(t, 0);
  ASSERT_GE(serverIndex(t, "pk", 1, {{1, 0}}), 0);
  int32_t middle = serverIndex(t, "byname", 0, {{2, 0}});
  ASSERT_GT(middle, 0);
  ASSERT_GT(serverIndex(t, "third", 1, {{2, 0}, {1, 0}}), 0);
  ASSERT_EQ(DropIndex(middle), 0);
  int32_t again = serverIndex(t, "again", 0, {{2, 0}});
  ASSERT_GT(again, 0);
  EXPECT_EQ(omIndexNumber(omOf(_GetTabPtr(t)), dbLowByte(again), true), 1);
  for (auto const& [code, text] : std::vector<std::pair<int32_t, char const*>>{{1, "c"}, {2, "a"}, {3, "b"}}) {
    InitRecord(t);
    stlong(code, at(t, 1));
    setText(t, 2, text);
    ASSERT_GT(AddRecordTest(t), 0) << code;
  }
  EXPECT_EQ(idsThrough(t, again), (std::vector<int32_t>{2, 3, 1}));
}

TEST_F(Design, IndexNumbersSurviveAStop) {
  expectIndexNumbersSurviveARestart("sr1", Restart::Stop);
}
TEST_F(Design, IndexNumbersSurviveACheckpointAndAKill) {
  expectIndexNumbersSurviveARestart("sr2", Restart::CheckpointAndKill);
}

// A design made through the library, records added and an index dropped,
// then the server killed before any checkpoint and started again. Work
// ended without a sync wish stays in the journal's buffer, so the kill
// takes the whole design with it (the schema is not found and its name can
// be made again); the same work ended with EndSyncTransaction is on disk
// and is replayed at the start: schema, tables, indexes and records.
TEST_F(JournalledDesign, AKillKeepsTheDesignOnlyWhenItsEndWasSynced) {
  for (bool synced : {false, true}) {
    SCOPED_TRACE(synced);
    std::string const schema = path(synced ? "ks1" : "ks0");
    if (synced) BeginTransaction();
    int32_t s = CreateSchema(schema.c_str(), "");
    ASSERT_GT(s, 0) << _io_errno_;
    int32_t t = twoFieldTable(s, "t");
    ASSERT_GT(t, 0);
    ASSERT_GE(serverIndex(t, "pk", 1, {{1, 0}}), 0);
    int32_t byName = serverIndex(t, "byname", 0, {{2, 0}});
    ASSERT_GT(byName, 0);
    for (auto const& [code, text] : std::vector<std::pair<int32_t, char const*>>{{1, "c"}, {2, "a"}, {3, "b"}}) {
      InitRecord(t);
      stlong(code, at(t, 1));
      setText(t, 2, text);
      ASSERT_GT(AddRecordTest(t), 0) << code;
    }
    ASSERT_EQ(DropIndex(byName), 0);
    if (synced) {
      ASSERT_EQ(EndSyncTransaction(), 1);
    }
    CloseAllSchemas();
    raw_.reset();
    server().kill();
    server().removeIpc();
    ASSERT_TRUE(server().start()) << server().log();

    s = OpenSchema(schema.c_str(), 0x10);
    if (!synced) {
      EXPECT_LT(s, 0) << server().log();
      s = CreateSchema(schema.c_str(), "");
      ASSERT_GT(s, 0) << _io_errno_ << server().log();
      EXPECT_GT(twoFieldTable(s, "t"), 0);
      CloseAllSchemas();
      continue;
    }
    ASSERT_GT(s, 0) << _io_errno_ << server().log();
    t = FindDbTable(s, "t");
    ASSERT_GT(t, 0);
    EXPECT_EQ(TabNRecords(t), 3);
    EXPECT_LT(FindDbIndex(t, "byname"), 0);
    int32_t pk = FindDbIndex(t, "pk");
    ASSERT_GT(pk, 0);
    EXPECT_EQ(idsThrough(t, pk), (std::vector<int32_t>{1, 2, 3}));
  }
}

// A mask beginning with the byte 1 names the environment variable that
// holds it: the descriptor keeps the value, as a described table does, and
// the server keeps the name, so a later open reads the variable again.
TEST_F(Design, AMaskIsReadFromTheVariableItNames) {
  zftest::ScopedEnv maskVar("OMTEST_DESIGN_MASK", "3n");
  zftest::ScopedEnv noVar("OMTEST_DESIGN_NOMASK", "", true);
  int32_t s = CreateSchema(path("sm").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = CreateTable(s, "masked", "", 0, 0, 2);
  ASSERT_GT(t, 0);
  // A variable that is not set is a bad mask, never the end of the program.
  _io_errno_ = 0;
  EXPECT_EQ(AddTabField(t, "code", "", 0, kNumber, 0, 3, 0, 2, nullptr, "\001OMTEST_DESIGN_NOMASK"), -1);
  EXPECT_EQ(_io_errno_, 8);
  ASSERT_GT(AddTabField(t, "code", "", 0, kNumber, 0, 3, 0, 2, nullptr, "\001OMTEST_DESIGN_MASK"), 0);
  s_field const* f = _GetFldPtr(fld(t, 1));
  EXPECT_STREQ(f->d.mask, "3n");
  EXPECT_NE(f->cmask, nullptr);
  ASSERT_GT(AddTabField(t, "name", "", 0, kText, 0, 8, 0, 0, nullptr, "8x"), 0);
  ASSERT_NE(omOf(_GetTabPtr(t))->objId, -1);

  zftest::ScopedEnv changed("OMTEST_DESIGN_MASK", "4n");
  CloseSchema(s);
  int32_t h = OpenSchema(path("sm").c_str(), 0);
  ASSERT_GT(h, 0) << _io_errno_;
  int32_t g = FindDbTable(h, "masked");
  ASSERT_GT(g, 0);
  EXPECT_STREQ(_GetFldPtr(fld(g, 1))->d.mask, "4n");
  EXPECT_STREQ(_GetFldPtr(fld(g, 2))->d.mask, "8x");
  EXPECT_EQ(DropSchema(h), 0);
}

// Table names are compared whole, as the server and the table lookups
// compare them: names sharing their first 10 characters are two names.
// A new name is cut to 14 characters and kept as the server keeps it.
TEST_F(Design, TableNamesAreComparedWhole) {
  int32_t s = CreateSchema(path("sr").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = twoFieldTable(s, "short");
  ASSERT_GT(t, 0);
  ASSERT_EQ(RenameTable(t, "A_Rather_Long_Table_Name"), 0) << _io_errno_;
  char const* whole = "a_rather_long_";
  EXPECT_STREQ(_TabName(_GetTabPtr(t)), whole);
  EXPECT_STREQ(_GetTabPtr(t)->d.name, "a_rather_l");
  EXPECT_EQ(FindDbTable(s, whole), t & 0xffff00);
  // The first 10 characters name no table of their own.
  int32_t u = twoFieldTable(s, "a_rather_l");
  ASSERT_GT(u, 0) << _io_errno_;
  _io_errno_ = 0;
  EXPECT_EQ(RenameTable(u, whole), -1);
  EXPECT_EQ(_io_errno_, 7);
  // A name whose cut form names a table is taken.
  _io_errno_ = 0;
  EXPECT_EQ(CreateTable(s, "a_rather_long", "", 0, 0, 1), -1);
  EXPECT_EQ(_io_errno_, 7);

  CloseSchema(s);
  int32_t h = OpenSchema(path("sr").c_str(), 0);
  ASSERT_GT(h, 0) << _io_errno_;
  int32_t g = FindDbTable(h, whole);
  ASSERT_GT(g, 0);
  EXPECT_STREQ(_TabName(_GetTabPtr(g)), whole);
  int32_t k = FindDbTable(h, "a_rather_l");
  EXPECT_GT(k, 0);
  EXPECT_NE(k, g);
  EXPECT_EQ(DropSchema(h), 0);
}

// Attributes other than a collating set are not part of the create request:
// on a table still defined only here they are refused, never taken and lost.
TEST_F(Design, AttributesWaitForTheTableOnTheServer) {
  int32_t s = CreateSchema(path("sa").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = CreateTable(s, "later", "", 0, 0, 2);
  ASSERT_GT(t, 0);
  ASSERT_GT(AddTabField(t, "qty", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  Expr five{String("5")};
  InList list(false);
  list.addKeyVal(AnyValue(String("A")));
  int32_t before = sent(s);
  EXPECT_EQ(SetDeflt(fld(t, 1), &five), -1);
  EXPECT_EQ(SetRelCheck(fld(t, 1), &five), -1);
  EXPECT_EQ(SetTabRelCheck(t, &five), -1);
  EXPECT_EQ(_SetInCheck(fld(t, 1), &list, "A"), -1);
  EXPECT_EQ(sent(s), before + 1) << "only the count's own request";
  s_field const* f = _GetFldPtr(fld(t, 1));
  EXPECT_EQ(f->deflt, nullptr);
  EXPECT_EQ(f->check, nullptr);
  EXPECT_EQ(f->incheck, nullptr);
  EXPECT_EQ(_GetTabPtr(t)->check, nullptr);

  ASSERT_GT(AddTabField(t, "name", "", 0, kText, 0, 8, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(SetDeflt(fld(t, 1), &five), 0);
  CloseSchema(s);
  int32_t h = OpenSchema(path("sa").c_str(), 0);
  ASSERT_GT(h, 0) << _io_errno_;
  int32_t g = FindDbTable(h, "later");
  ASSERT_GT(g, 0);
  EXPECT_NE(_GetFldPtr(fld(g, 1))->deflt, nullptr);
  EXPECT_EQ(DropSchema(h), 0);
}

// An index is built through another index of the table: the only index of
// a table holding rows cannot be rebuilt, and saying so is not a success.
TEST_F(Design, AnIndexWithNoOtherToWalkTheRowsIsNotBuilt) {
  int32_t s = CreateSchema(path("sb").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = CreateTable(s, "alone", "", 0, 0, 1);
  ASSERT_GT(t, 0);
  ASSERT_GT(AddTabField(t, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  int32_t pk = serverIndex(t, "pk", 1, {{1, 0}});
  ASSERT_GE(pk, 0);
  EXPECT_EQ(BuildIndex(pk, 0x80), 0) << "no rows: nothing to build";
  InitRecord(t);
  stlong(7, at(t, 1));
  ASSERT_GT(AddRecordTest(t), 0);
  EXPECT_EQ(BuildIndex(pk, 0x80), -1);
  EXPECT_EQ(idsThrough(t, pk), std::vector<int32_t>{7});
  EXPECT_EQ(DropSchema(s), 0);
}

TEST_F(Design, DefinitionsOutliveTheProcessAndAServerRestart) {
  int32_t s = CreateSchema(path("s9").c_str(), "kept");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = CreateTable(s, "goods", "", 0, 0, 4);
  ASSERT_GT(t, 0);
  ASSERT_GT(AddTabField(t, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(t, "code", "", 0, kText, 0, 10, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(t, "qty", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(t, "cdate", "", 0, kDate, 0, 0, 0, 0, nullptr, nullptr), 0);
  ASSERT_GE(serverIndex(t, "pk", 1, {{1, 0}}), 0);
  ASSERT_GT(serverIndex(t, "bycode", 0, {{2, 1}, {1, 0}}), 0);
  // Declared with its count; sent with its last item.
  ASSERT_EQ(_AddEnumItem(s, "colour", nullptr, 3), 1);
  ASSERT_EQ(_AddEnumItem(s, "colour", "red", 1), 1);
  ASSERT_EQ(_AddEnumItem(s, "colour", "blue", 2), 1);
  ASSERT_EQ(_AddEnumItem(s, "colour", "green", 3), 1);
  int32_t value = 0;
  EXPECT_TRUE(_FindEnumItem(_GetSchPtr(s), "colour", "blue", &value) && value == 2) << "kept locally";
  InList list(false);
  list.addKeyVal(AnyValue(String("A")));
  list.addKeyVal(AnyValue(String("B")));
  EXPECT_EQ(_SetInCheck(fld(t, 2), &list, "A, B"), 0);
  Expr five{String("5")};
  Expr positive{String("1")};
  EXPECT_EQ(SetDeflt(fld(t, 3), &five), 0);
  EXPECT_EQ(SetRelCheck(fld(t, 3), &positive), 0);
  ASSERT_TRUE(grant(s, 2));
  int32_t owner = _GetSchPtr(s)->owner;
  CloseAllSchemas();

  std::string p = path("s9");
  auto seen = [&] {
    return inClient([&] {
      int32_t h = OpenSchema(p.c_str(), 0);
      ZF_CHILD_CHECK(h > 0);
      ZF_CHILD_CHECK(_GetSchPtr(h)->owner == owner);
      s_schema* sp = _GetSchPtr(h);
      bool granted = false;
      for (int32_t i = 0; i < sp->d.nprivs; ++i)
        granted = granted || (dbPrivId(sp->d.privs[i]) == 65534 && dbPrivBits(sp->d.privs[i]) == 2);
      ZF_CHILD_CHECK(granted);
      int32_t v = 0;
      ZF_CHILD_CHECK(_FindEnumItem(_GetSchPtr(h), "colour", "green", &v) && v == 3);
      ZF_CHILD_CHECK(_FindEnumItem(_GetSchPtr(h), "colour", "red", &v) && v == 1);
      int32_t g = FindDbTable(h, "goods");
      ZF_CHILD_CHECK(g > 0);
      s_table* tp = _GetTabPtr(g);
      ZF_CHILD_CHECK(tp != nullptr && tp->d.nfields == 4);
      ZF_CHILD_CHECK((_GetFldPtr(fld(g, 4))->d.flags & 0x40) != 0);  // the creation stamp
      ZF_CHILD_CHECK(_GetFldPtr(fld(g, 2))->incheck != nullptr);
      ZF_CHILD_CHECK(_GetFldPtr(fld(g, 3))->deflt != nullptr);
      ZF_CHILD_CHECK(_GetFldPtr(fld(g, 3))->check != nullptr);
      int32_t ix = FindDbIndex(g, "bycode");
      ZF_CHILD_CHECK(ix > 0);
      s_index const& bc = tp->indexes[dbLowByte(ix)];
      ZF_CHILD_CHECK(bc.d.nparts == 2 && (bc.d.flags & 1) == 0);
      ZF_CHILD_CHECK((bc.parts[0].flags & 1) == 1 && dbLowByte(bc.parts[0].field) == 2);
      ZF_CHILD_CHECK((bc.parts[1].flags & 1) == 0 && dbLowByte(bc.parts[1].field) == 1);
      CloseAllSchemas();
      return 0;
    });
  };
  zftest::RunResult fresh = seen();
  EXPECT_EQ(fresh.status, 0) << fresh.out << fresh.err;
  raw_.reset();
  ASSERT_EQ(server().stop(), 0) << server().log();
  ASSERT_TRUE(server().start()) << server().log();
  zftest::RunResult restarted = seen();
  EXPECT_EQ(restarted.status, 0) << restarted.out << restarted.err << server().log();

  int32_t h = OpenSchema(p.c_str(), 0);
  ASSERT_GT(h, 0) << _io_errno_;
  EXPECT_EQ(DropSchema(h), 0);
  std::string all = GetSchemas();
  EXPECT_EQ(all.find("s9"), std::string::npos) << all;
}

// A server whose data directory is a temporary one: the build's
// catalogues linked in, and the collation file of the set "nat" (the
// letters c, b, a in that order) written as the server reads it.
class DesignCollation : public Design {
protected:
  DesignCollation() {
    if (char const* real = std::getenv("DATADIR"))
      if (DIR* d = opendir(real)) {
        while (dirent* e = readdir(d)) {
          std::string n = e->d_name;
          if (n == "." || n == "..") continue;
          int linked = symlink((std::string(real) + "/" + n).c_str(), data_.file(n).c_str());
          (void)linked;  // an entry not linked shows in the server's log
        }
        closedir(d);
      }
    data_.write("nat/nat.cs", "# national order\nc\nb\na\n");
    dataDir_ = std::make_unique<zftest::ScopedEnv>("DATADIR", data_.path());
  }

  zftest::TempDir data_;
  std::unique_ptr<zftest::ScopedEnv> dataDir_;
};

std::string const& collateOf(int32_t t, int32_t n) { return omOf(_GetTabPtr(t))->fields[size_t(n - 1)].collate; }

TEST_F(DesignCollation, ACollatingSetIsStoredOnlyWhenTheServerHasIt) {
  int32_t s = CreateSchema(path("s12").c_str(), "");
  ASSERT_GT(s, 0) << _io_errno_;
  int32_t t = CreateTable(s, "words", "", 0, 0, 2);
  ASSERT_GT(t, 0);
  ASSERT_GT(AddTabField(t, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  ASSERT_GT(AddTabField(t, "word", "", 0, kText, 0, 10, 0, 0, nullptr, nullptr), 0);
  ASSERT_GE(serverIndex(t, "pk", 1, {{1, 0}}), 0);
  // A set the server cannot load is refused, with the server's error.
  Exception::last(Exception(0));
  EXPECT_EQ(SetCollateSet(fld(t, 2), "nosuch"), -1);
  EXPECT_NE(Exception::last().code(), 0);
  EXPECT_EQ(collateOf(t, 2), "");
  EXPECT_NE(server().log().find("nosuch"), std::string::npos) << server().log();
  EXPECT_EQ(SetCollateSet(fld(t, 2), "nat"), 0);
  EXPECT_EQ(collateOf(t, 2), "nat");
  // The texts sort in the set's order.
  int32_t byWord = serverIndex(t, "byword", 1, {{2, 0}});
  ASSERT_GT(byWord, 0);
  int32_t id = 0;
  for (char const* w : {"a", "b", "c"}) {
    InitRecord(t);
    stlong(++id, at(t, 1));
    setText(t, 2, w);
    ASSERT_GT(AddRecordTest(t), 0) << w;
  }
  EXPECT_EQ(idsThrough(t, byWord), (std::vector<int32_t>{3, 2, 1}));
  // A set given before the table reaches the server goes with it; one the
  // server cannot load refuses the table.
  int32_t early = CreateTable(s, "early", "", 0, 0, 2);
  ASSERT_GT(early, 0);
  ASSERT_GT(AddTabField(early, "word", "", 0, kText, 0, 10, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(SetCollateSet(fld(early, 1), "nat"), 0);
  ASSERT_GT(AddTabField(early, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), 0);
  int32_t lost = CreateTable(s, "lost", "", 0, 0, 2);
  ASSERT_GT(lost, 0);
  ASSERT_GT(AddTabField(lost, "word", "", 0, kText, 0, 10, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(SetCollateSet(fld(lost, 1), "nosuch"), 0) << "kept here until the table is sent";
  EXPECT_EQ(AddTabField(lost, "id", "", 0, kInt, 0, 9, 0, 0, nullptr, nullptr), -1);
  CloseAllSchemas();

  std::string p = path("s12");
  auto seen = [&] {
    return inClient([&] {
      int32_t h = OpenSchema(p.c_str(), 0);
      ZF_CHILD_CHECK(h > 0);
      int32_t w = FindDbTable(h, "words");
      ZF_CHILD_CHECK(w > 0 && _GetTabPtr(w) != nullptr);
      ZF_CHILD_CHECK(collateOf(w, 2) == "nat");
      ZF_CHILD_CHECK(collateOf(w, 1).empty());
      int32_t e = FindDbTable(h, "early");
      ZF_CHILD_CHECK(e > 0 && _GetTabPtr(e) != nullptr && collateOf(e, 1) == "nat");
      ZF_CHILD_CHECK(FindDbTable(h, "lost") == -1);
      InitRecord(w);
      stlong(1, at(w, 1));
      ZF_CHILD_CHECK(GetRecord(w, 1, 0, 0) >= 0);
      ZF_CHILD_CHECK(std::string(at(w, 2)) == "a");
      ZF_CHILD_CHECK(idsThrough(w, FindDbIndex(w, "byword")) == (std::vector<int32_t>{3, 2, 1}));
      return 0;
    });
  };
  zftest::RunResult fresh = seen();
  EXPECT_EQ(fresh.status, 0) << fresh.out << fresh.err;
  raw_.reset();
  ASSERT_EQ(server().stop(), 0) << server().log();
  ASSERT_TRUE(server().start()) << server().log();
  zftest::RunResult restarted = seen();
  EXPECT_EQ(restarted.status, 0) << restarted.out << restarted.err << server().log();
}

}  // namespace
}  // namespace omtest
