// Transactions and the before-image log: the log's records byte by byte,
// rollback of every kind of change (stamps included), damaged and cut logs,
// refused log writes, and real processes: a writer killed inside a
// transaction, a reader waiting for a writer, two writers at once.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Message.h>
#include <zfound/Portable.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChildRun.h"
#include "DescrEncoder.h"
#include "FaultFs.h"
#include "SchemaSets.h"
#include "TestSupport.h"

using namespace zftest;

namespace {

constexpr int32_t kTab = 0x10100;
constexpr int32_t kLen = 20;

// Table "acct": code (unique index 0), grp (index 1), val, and the creation
// and modification dates as stamps.
EncSchema bankSchema(uint16_t textLen = 0, uint16_t privileges = 1023) {
  EncSchema s;
  s.name = "bank";
  s.longs = {privEntry(0, 2, 8)};
  EncTable t;
  t.name = "acct";
  t.longs = {privEntry(0, 2, privileges)};
  t.size = 0;
  t.flags = 2 | 4;
  t.len = kLen;
  EncField code, grp, val, cday, mday;
  code.name = "code", code.itype = 3, code.len = 9, code.offset = 4;
  grp.name = "grp", grp.itype = 3, grp.len = 9, grp.offset = 8;
  val.name = "val", val.itype = 3, val.len = 9, val.offset = 12;
  cday.name = "cday", cday.type = 2, cday.itype = 5, cday.len = 8, cday.offset = 16, cday.flags = 0x40;
  mday.name = "mday", mday.type = 2, mday.itype = 5, mday.len = 8, mday.offset = 18, mday.flags = 0x80;
  t.fields = {code, grp, val, cday, mday};
  if (textLen) {
    EncField big;
    big.name = "note", big.type = 1, big.itype = 0, big.len = textLen, big.offset = 20;
    t.fields.push_back(big);
    t.len = uint16_t(20 + textLen + 1);
  }
  EncIndex i0;
  i0.name = "bycode", i0.flags = 1, i0.klen = 4, i0.parts = {{3, 0, 4, 0, 4, 0x101}};
  EncIndex i1;
  i1.name = "bygrp", i1.flags = 0, i1.klen = 4, i1.parts = {{3, 0, 4, 0, 8, 0x102}};
  t.indexes = {i0, i1};
  s.tables = {t};
  return s;
}

struct Rec {
  int32_t op, len;
};

// Reads a whole log: every record's operation and length, checking the
// length at both ends; `whole` is false when the file does not end at a
// record's end.
std::vector<Rec> parseLog(std::string const& bytes, bool& whole) {
  std::vector<Rec> out;
  size_t at = 0;
  whole = true;
  while (at + 6 <= bytes.size()) {
    auto p = reinterpret_cast<uint8_t const*>(bytes.data()) + at;
    uint32_t L = ldLe16(p);
    if (L < 6 || at + L > bytes.size() || ldLe16(p + L - 2) != L) {
      whole = false;
      return out;
    }
    out.push_back({int32_t(ldLe16(p + 2)), int32_t(L)});
    at += L;
  }
  whole = at == bytes.size();
  return out;
}

std::vector<std::string> filesIn(std::string const& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
  }
  return out;
}

class TransLog : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("zxdbtest-1.0");
    env_ = std::make_unique<ScopedEnv>("dbase", tmp_.path());
    logDir_ = tmp_.path() + "/log";
    mkdir(logDir_.c_str(), 0700);
    logEnv_ = std::make_unique<ScopedEnv>("LOGDIR", logDir_);
    oldHandler_ = displayErrorHandler(recordWarning);
    shown().clear();
    SetLogStatus(0);
  }
  void TearDown() override {
    EndTransaction();
    CloseAllSchemas();
    SetLogStatus(0);
    displayErrorHandler(oldHandler_);
  }
  void open(uint16_t textLen = 0, uint16_t privileges = 1023) {
    writeDescriptorFile(tmp_.path(), bankSchema(textLen, privileges));
    ASSERT_EQ(OpenSchema("bank", 0), 0x10000);
    buf_ = _GetTabBuff(kTab);
  }
  void set(int32_t code, int32_t grp, int32_t val) {
    stlong(code, buf_ + 4);
    stlong(grp, buf_ + 8);
    stlong(val, buf_ + 12);
  }
  // The record with `code` through index 0 (empty when absent).
  std::string get(int32_t code, int32_t index = 0) {
    set(code, code * 10, 0);
    if (GetRecord(kTab | index, 1, 0, 0) <= 0) return "";
    return std::string(buf_, kLen);
  }
  std::string logPath() {
    for (std::string const& f : filesIn(logDir_))
      if (f.rfind("l_", 0) == 0) return logDir_ + "/" + f;
    return "";
  }
  bool warned(std::string const& text) {
    for (std::string const& s : shown())
      if (s.find(text) != std::string::npos) return true;
    return false;
  }

  TempDir tmp_;
  SchemaSetSweep sweep_{tmp_.path()};
  std::unique_ptr<ScopedEnv> env_, logEnv_;
  std::string logDir_;
  MsgHandler oldHandler_ = nullptr;
  char* buf_ = nullptr;
};

TEST_F(TransLog, LogHoldsEveryRecordAtBothEnds) {
  for (bool rollForward : {false, true}) {
    SCOPED_TRACE(rollForward);
    std::unique_ptr<ScopedEnv> keep;
    if (rollForward) keep = std::make_unique<ScopedEnv>("ROLLFORW", "1");
    else keep = std::make_unique<ScopedEnv>("ROLLFORW", "", true);
    SetLogStatus(0);
    open();
    int32_t base = rollForward ? 100 : 0;
    BeginTransaction();
    set(base + 1, 1, 1);
    ASSERT_GT(AddRecord(kTab), 0);
    set(base + 2, 2, 2);
    ASSERT_GT(AddRecord(kTab), 0);
    EXPECT_EQ(EndTransaction(), 1);
    set(base + 1, 1, 5);
    ASSERT_GT(PutRecord(kTab), 0);
    std::string path = logPath();
    ASSERT_FALSE(path.empty());
    bool whole = false;
    std::vector<Rec> recs = parseLog(readFile(path), whole);
    EXPECT_TRUE(whole);
    int32_t sch = 18 + int32_t(tmp_.path().size() + 1) + 4;
    std::vector<std::pair<int32_t, int32_t>> want = {{2, sch}, {8, 14}, {4, 6}, {2, sch}, {3, 6}, {7, 10 + kLen},
                                                     {7, 10 + kLen}, {4, 6}, {3, 6}, {6, 10 + 2 * kLen}, {4, 6}};
    ASSERT_EQ(recs.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(recs[i].op, want[i].first) << i;
      EXPECT_EQ(recs[i].len, want[i].second) << i;
    }
    std::string six = path.substr(path.size() - 6);
    CloseAllSchemas();
    EXPECT_TRUE(logPath().empty());
    std::vector<std::string> left = filesIn(logDir_);
    if (rollForward) {
      ASSERT_EQ(left.size(), 1u);
      EXPECT_EQ(left[0], "f_" + six);
      unlink((logDir_ + "/" + left[0]).c_str());
    } else {
      EXPECT_TRUE(left.empty());
    }
  }
}

TEST_F(TransLog, WithoutLogdirChangesAreFinalAndRollbackFails) {
  logEnv_ = std::make_unique<ScopedEnv>("LOGDIR", "", true);
  open();
  set(1, 10, 1);
  ASSERT_GT(AddRecord(kTab), 0);
  EXPECT_EQ(RollBack(), -1);
  EXPECT_EQ(LogStatus(), 2);
  EXPECT_EQ(EndTransaction(), 1);
  EXPECT_FALSE(get(1).empty());
  EXPECT_TRUE(filesIn(logDir_).empty());
}

// Two adds, a replace and a delete, undone: every record, field and stamp
// as before, through both indexes; the next transaction overwrites the
// undone part.
TEST_F(TransLog, CorruptedTransactionPutsEverythingBack) {
  for (bool corruptFirst : {true, false}) {
    SCOPED_TRACE(corruptFirst);
    open();
    int32_t b = corruptFirst ? 0 : 100;
    std::vector<std::string> before;
    for (int32_t i = 1; i <= 3; ++i) {
      set(b + i, (b + i) * 10, i);
      time_stamp c{0, 100 + i, 0, 7}, m{0, 200 + i, 0, 7};
      ASSERT_GT(AddRecordTS(kTab, &c, &m), 0);
      before.push_back(get(b + i));
    }
    off_t logSize = off_t(readFile(logPath()).size());
    int32_t records = TabNRecords(kTab);
    BeginTransaction();
    if (corruptFirst) CorruptTrans();
    set(b + 10, 1, 1);
    ASSERT_GT(AddRecord(kTab), 0);
    set(b + 11, 2, 2);
    ASSERT_GT(AddRecord(kTab), 0);
    set(b + 1, (b + 1) * 10, 999);
    ASSERT_GT(PutRecord(kTab), 0);
    set(b + 2, 0, 0);
    ASSERT_GT(DelRecord(kTab), 0);
    if (!corruptFirst) CorruptTrans();
    EXPECT_EQ(EndTransaction(), 0);
    for (int32_t i = 1; i <= 3; ++i) {
      EXPECT_EQ(get(b + i), before[size_t(i - 1)]) << i;
      EXPECT_EQ(get(b + i, 1), before[size_t(i - 1)]) << i;
    }
    EXPECT_TRUE(get(b + 10).empty());
    EXPECT_TRUE(get(b + 11).empty());
    EXPECT_EQ(TabNRecords(kTab), records);
    EXPECT_EQ(_DbVerifyConsist("t", 1, kTab), 0);
    EXPECT_EQ(_DbVerifyConsist("t", 1, kTab | 1), 0);
    // Cut back to the undone transaction's op 3; the next one goes there.
    EXPECT_EQ(off_t(readFile(logPath()).size()), logSize);
    set(b + 20, 5, 5);
    ASSERT_GT(AddRecord(kTab), 0);
    bool whole = false;
    std::vector<Rec> recs = parseLog(readFile(logPath()), whole);
    EXPECT_TRUE(whole);
    ASSERT_GE(recs.size(), 3u);
    EXPECT_EQ(recs[recs.size() - 3].op, 3);
    EXPECT_EQ(recs[recs.size() - 2].op, 7);
    EXPECT_EQ(recs[recs.size() - 1].op, 4);
    EXPECT_EQ(off_t(readFile(logPath()).size()), logSize + 6 + 10 + kLen + 6);
    CloseAllSchemas();
    SetLogStatus(0);
  }
}

// A damaged tail of the process's own log stops the rollback with its
// warning, and RollBack says it failed.
TEST_F(TransLog, DamagedLogStopsTheRollback) {
  struct Case {
    char const* name;
    int32_t fromEnd;  // offset of the poked 16 bits, counted back from the end
    uint16_t value;
    char const* warning;
  } const cases[] = {
      {"last length before the start", 2, 0xfff0, "Log file corrupted     3"},
      {"last length below a record", 2, 3, "Log file corrupted     3"},
      {"unknown operation", 10 + kLen - 2, 99, "LOG-FILE: Operador 99 DESCONOCIDO"},
      {"leading length differs", 10 + kLen, 12, "Log file corrupted     4"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    open();
    BeginTransaction();
    set(1, 1, 1);
    ASSERT_GT(AddRecord(kTab), 0);
    std::string path = logPath();
    off_t size = off_t(readFile(path).size());
    int fd = ::open(path.c_str(), O_WRONLY);
    uint8_t v[2];
    stLe16(c.value, v);
    ASSERT_EQ(pwrite(fd, v, 2, size - c.fromEnd), 2);
    ::close(fd);
    shown().clear();
    EXPECT_EQ(RollBack(), -1);
    EXPECT_TRUE(warned(c.warning)) << (shown().empty() ? "" : shown()[0]);
    EndTransaction();
    CloseAllSchemas();
    SetLogStatus(0);
    std::remove((tmp_.path() + "/bank/acct.tab").c_str());
    std::remove((tmp_.path() + "/bank/acct.i00").c_str());
    std::remove((tmp_.path() + "/bank/acct.i01").c_str());
  }
}

// A dead log made by hand, cut at every length and with every byte
// garbled in turn: the next open recovers what it can and never reads past
// a record.
TEST_F(TransLog, CutAndGarbledDeadLogsNeverCrash) {
  logEnv_ = std::make_unique<ScopedEnv>("LOGDIR", "", true);
  open();
  set(50, 500, 5);
  ASSERT_GT(AddRecord(kTab), 0);
  EndTransaction();
  std::string image = get(50);
  CloseAllSchemas();
  logEnv_ = std::make_unique<ScopedEnv>("LOGDIR", logDir_);
  std::string dir = tmp_.path() + "/";
  auto rec = [](int32_t op, std::string const& body) {
    std::string r(4, '\0');
    stLe16(uint16_t(body.size() + 6), reinterpret_cast<uint8_t*>(&r[0]));
    stLe16(uint16_t(op), reinterpret_cast<uint8_t*>(&r[2]));
    r += body;
    std::string l(2, '\0');
    stLe16(uint16_t(body.size() + 6), reinterpret_cast<uint8_t*>(&l[0]));
    return r + l;
  };
  auto longs = [](std::vector<int32_t> v) {
    std::string s(v.size() * 4, '\0');
    for (size_t i = 0; i < v.size(); ++i) stLe32(uint32_t(v[i]), reinterpret_cast<uint8_t*>(&s[i * 4]));
    return s;
  };
  std::string opened = dir + std::string(1, '\0') + "bank" + std::string(1, '\0') + std::string(2, '\0');
  std::string log = rec(2, longs({0, 0x10000}) + opened) + rec(8, longs({0, -1})) + rec(4, "") +
                    rec(2, longs({-1, 0x10000}) + opened) + rec(3, "") + rec(7, longs({kTab}) + image);
  std::string dead = logDir_ + "/l_dead01";
  auto run = [&](std::string const& bytes) {
    TempDir unused;
    int fd = ::open(dead.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
    SetLogStatus(2);
    ASSERT_EQ(OpenSchema("bank", 0), 0x10000);
    CloseAllSchemas();
    unlink(dead.c_str());
  };
  for (size_t cut = 0; cut < log.size(); ++cut) run(log.substr(0, cut));
  for (size_t i = 0; i < log.size(); ++i) {
    std::string g = log;
    g[i] = char(g[i] ^ 0xa5);
    run(g);
  }
  // The whole log: its unfinished add is undone and the log removed.
  ASSERT_EQ(OpenSchema("bank", 0), 0x10000);
  buf_ = _GetTabBuff(kTab);
  set(50, 500, 5);
  ASSERT_GT(AddRecord(kTab), 0);
  EndTransaction();
  CloseAllSchemas();
  int fd = ::open(dead.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_EQ(write(fd, log.data(), log.size()), ssize_t(log.size()));
  ::close(fd);
  SetLogStatus(2);
  ASSERT_EQ(OpenSchema("bank", 0), 0x10000);
  buf_ = _GetTabBuff(kTab);
  EXPECT_TRUE(get(50).empty());
  EXPECT_TRUE(filesIn(logDir_).empty());
  EXPECT_EQ(_DbVerifyConsist("t", 1, kTab), 0);
}

// A log write that fails refuses the change and dooms the transaction.
TEST_F(TransLog, FailedLogWriteRefusesTheChange) {
  for (int n : {1, 2}) {
    SCOPED_TRACE(n);
    FaultFs fs;
    SetLogStatus(0);
    open();
    set(n, 1, 1);
    ASSERT_GT(AddRecord(kTab), 0);  // opens the log through the injector
    int32_t records = TabNRecords(kTab);
    BeginTransaction();
    fs.failWrite(n, ENOSPC, "/l_");  // 1: its op 3, 2: its op 7
    set(n + 10, 1, 1);
    int32_t r = AddRecord(kTab);
    EXPECT_EQ(r == -1, n == 2);
    EXPECT_EQ(TransOk(), 0);
    EXPECT_EQ(EndTransaction(), 0);
    EXPECT_TRUE(get(n + 10).empty());
    EXPECT_EQ(TabNRecords(kTab), records);
    bool whole = false;
    parseLog(readFile(logPath()), whole);
    EXPECT_TRUE(whole);
    CloseAllSchemas();
  }
}

TEST_F(TransLog, LogStartsWithNoSchemaOpen) {
  EXPECT_EQ(LogStatus(), 1);
  bool whole = false;
  std::vector<Rec> recs = parseLog(readFile(logPath()), whole);
  EXPECT_TRUE(whole);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].op, 8);
  EXPECT_EQ(recs[1].op, 4);
}

// Undo is not a change of the user's: a user who may add but not delete
// still has an add undone.
TEST_F(TransLog, UndoIsNotRefusedByPrivileges) {
  open(0, 1 | 8);
  BeginTransaction();
  set(1, 10, 1);
  ASSERT_GT(AddRecord(kTab), 0);
  CorruptTrans();
  EXPECT_EQ(EndTransaction(), 0);
  EXPECT_TRUE(get(1).empty());
  EXPECT_EQ(TabNRecords(kTab), 0);
}

TEST_F(TransLog, ReplaceTooBigForTheLogIsRefused) {
  open(32780);
  set(1, 1, 1);
  ASSERT_GT(AddRecord(kTab), 0);  // 10 + 32,801 bytes still fit
  set(1, 1, 2);
  EXPECT_EQ(PutRecord(kTab), -1);
  EXPECT_TRUE(warned("cannot be logged"));
  EXPECT_EQ(ldlong(get(1).data() + 12), 1);
}

// ---- real processes ----------------------------------------------------------

// Commits `n` single adds from `from`, then begins a transaction that adds,
// replaces and deletes; reports on `ready` and waits to be killed.
[[noreturn]] void doomedWriter(int32_t from, int32_t n, int ready) {
  if (OpenSchema("bank", 0) != 0x10000) _exit(2);
  char* b = _GetTabBuff(kTab);
  auto set = [b](int32_t code, int32_t val) {
    stlong(code, b + 4);
    stlong(code * 10, b + 8);
    stlong(val, b + 12);
  };
  for (int32_t i = from; i < from + n; ++i) {
    set(i, i);
    if (AddRecord(kTab) <= 0) _exit(3);
  }
  BeginTransaction();
  for (int32_t i = 1000; i < 1040; ++i) {
    set(i, i);
    if (AddRecord(kTab) <= 0) _exit(4);
  }
  set(from, -1);
  if (PutRecord(kTab) <= 0) _exit(5);
  set(from + 1, 0);
  if (DelRecord(kTab) <= 0) _exit(6);
  if (write(ready, "r", 1) != 1) _exit(7);
  for (;;) pause();
}

// Runs doomedWriter(from, n) in a child, waits until it stands inside its
// transaction and kills it there; false (with its status) when it never
// got there.
::testing::AssertionResult killDoomedWriter(int32_t from, int32_t n) {
  int p[2];
  if (pipe(p) != 0) return ::testing::AssertionFailure() << "pipe";
  pid_t w = fork();
  if (w == 0) doomedWriter(from, n, p[1]);
  close(p[1]);
  char c = 0;
  bool ready = read(p[0], &c, 1) == 1;
  close(p[0]);
  kill(w, SIGKILL);
  int st = 0;
  waitpid(w, &st, 0);
  if (ready) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the writer ended with status " << st << " before its transaction";
}

TEST_F(TransLog, WriterKilledInsideATransactionIsUndoneByTheNextOpener) {
  writeDescriptorFile(tmp_.path(), bankSchema());
  ASSERT_TRUE(killDoomedWriter(1, 30));
  std::string dir = tmp_.path() + "/bank/acct.";
  EXPECT_EQ(ldlong(readFile(dir + "tab").data()), -1);
  EXPECT_EQ(filesIn(logDir_).size(), 1u);
  open();
  for (int32_t i = 1; i <= 30; ++i) {
    std::string r = get(i);
    ASSERT_FALSE(r.empty()) << i;
    EXPECT_EQ(ldlong(r.data() + 12), i) << i;
    EXPECT_EQ(get(i, 1), r) << i;
  }
  EXPECT_TRUE(get(1000).empty());
  EXPECT_EQ(TabNRecords(kTab), 30);
  EXPECT_EQ(_DbVerifyConsist("t", 1, kTab), 0);
  EXPECT_EQ(_DbVerifyConsist("t", 1, kTab | 1), 0);
  EXPECT_NE(ldlong(readFile(dir + "tab").data()), -1);
  EXPECT_NE(ldlong(readFile(dir + "i00").data() + 4), -1);
  EXPECT_NE(ldlong(readFile(dir + "i01").data() + 4), -1);
  EXPECT_TRUE(filesIn(logDir_).empty());
}

// Ends a child of the test that is still running when a failed assertion
// leaves the scope (by its id); a reaped child is forgotten.
struct ChildGuard {
  pid_t& pid;
  ~ChildGuard() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

// A reader meets the writer's transaction, waits, and sees all of it after a
// commit, none of it after a rollback.
TEST_F(TransLog, ReaderWaitsForTheWriterAndSeesAllOrNothing) {
  writeDescriptorFile(tmp_.path(), bankSchema());
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit);
    int r[2], g[2];
    ASSERT_EQ(pipe(r), 0);
    ASSERT_EQ(pipe(g), 0);
    int32_t code = commit ? 7 : 8;
    pid_t w = fork();
    pid_t wLive = w;
    ChildGuard wg{wLive};
    if (w == 0) {
      close(r[0]), close(g[1]);
      if (OpenSchema("bank", 0) != 0x10000) _exit(2);
      char* b = _GetTabBuff(kTab);
      BeginTransaction();
      stlong(code, b + 4), stlong(code * 10, b + 8), stlong(1, b + 12);
      if (AddRecord(kTab) <= 0) _exit(3);
      if (write(r[1], "r", 1) != 1) _exit(4);
      char c;
      if (read(g[0], &c, 1) != 1) _exit(5);
      if (!commit) CorruptTrans();
      _exit(EndTransaction() == (commit ? 1 : 0) ? 0 : 6);
    }
    close(r[1]), close(g[0]);
    char c;
    ASSERT_EQ(read(r[0], &c, 1), 1);
    std::string out = tmp_.path() + "/reader.out";
    pid_t rd = fork();
    pid_t rdLive = rd;
    ChildGuard rg{rdLive};
    if (rd == 0) {
      int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1), dup2(fd, 2);
      displayErrorHandler(oldHandler_);  // the wait is reported as a user sees it
      if (OpenSchema("bank", 0) != 0x10000) _exit(2);
      char* b = _GetTabBuff(kTab);
      stlong(code, b + 4);
      _exit(GetRecord(kTab, 1, 0, 0) > 0 ? 10 : 11);
    }
    // Long enough for the reader's wait to be reported once.
    sleep(4);
    ASSERT_EQ(write(g[1], "g", 1), 1);
    int ws = 0, rs = 0;
    waitpid(w, &ws, 0);
    waitpid(rd, &rs, 0);
    wLive = rdLive = -1;
    close(r[0]), close(g[1]);
    EXPECT_EQ(WEXITSTATUS(ws), 0);
    EXPECT_EQ(WEXITSTATUS(rs), commit ? 10 : 11);
    std::string said = readFile(out);
    EXPECT_NE(said.find("Process " + std::to_string(w) + " holds a lock"), std::string::npos) << said;
  }
}

TEST_F(TransLog, TwoWritersCommitAtOnceAndLoseNothing) {
  writeDescriptorFile(tmp_.path(), bankSchema());
  auto writer = [](int32_t base) {
    if (OpenSchema("bank", 0) != 0x10000) _exit(2);
    char* b = _GetTabBuff(kTab);
    for (int32_t i = 0; i < 150; ++i) {
      BeginTransaction();
      for (int32_t k = 0; k < 2; ++k) {
        int32_t code = base + 2 * i + k;
        stlong(code, b + 4), stlong(code % 7, b + 8), stlong(code, b + 12);
        if (AddRecord(kTab) <= 0) _exit(3);
      }
      if (EndTransaction() != 1) _exit(4);
    }
    CloseAllSchemas();
    _exit(0);
  };
  pid_t a = fork();
  if (a == 0) writer(10000);
  pid_t b = fork();
  if (b == 0) writer(20000);
  int sa = 0, sb = 0;
  waitpid(a, &sa, 0);
  waitpid(b, &sb, 0);
  EXPECT_EQ(sa, 0);
  EXPECT_EQ(sb, 0);
  open();
  EXPECT_EQ(TabNRecords(kTab), 600);
  for (int32_t base : {10000, 20000})
    for (int32_t i = 0; i < 300; ++i) {
      set(base + i, 0, 0);
      EXPECT_EQ(GetRecord(kTab, 1, 0, 0) > 0, true) << base + i;
    }
  EXPECT_EQ(_DbVerifyConsist("t", 1, kTab), 0);
  EXPECT_EQ(_DbVerifyConsist("t", 1, kTab | 1), 0);
  EXPECT_TRUE(filesIn(logDir_).empty());
}

}  // namespace

namespace {

// The log a recoverer opened and that another recoverer then removed: the
// open below removes `gGoneLog` right after opening it.
std::string gGoneLog;
int openThenGone(char const* path, int flags, mode_t mode) {
  int fd = systemFileOps().open(path, flags, mode);
  if (fd >= 0 && !gGoneLog.empty() && gGoneLog == path) {
    unlink(path);
    gGoneLog.clear();
  }
  return fd;
}

// A dead log that another process recovered (and removed) between this
// process's open and its lock is not undone a second time: a change
// committed after the first recovery stays.
TEST_F(TransLog, LogRemovedBeforeItsLockIsNotRecoveredAgain) {
  writeDescriptorFile(tmp_.path(), bankSchema());
  ASSERT_TRUE(killDoomedWriter(1, 5));
  std::string dead = logPath();
  ASSERT_FALSE(dead.empty());
  std::string bytes = readFile(dead);
  // The first recoverer undoes the tail, then commits record 1 as 77.
  pid_t r = fork();
  if (r == 0) {
    if (OpenSchema("bank", 0) != 0x10000) _exit(2);
    char* b = _GetTabBuff(kTab);
    stlong(1, b + 4), stlong(10, b + 8), stlong(77, b + 12);
    if (PutRecord(kTab) <= 0) _exit(3);
    CloseAllSchemas();
    _exit(0);
  }
  int st = 0;
  waitpid(r, &st, 0);
  ASSERT_EQ(st, 0);
  ASSERT_TRUE(filesIn(logDir_).empty());
  // This process opened the log before the first recoverer removed it.
  int fd = ::open(dead.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  close(fd);
  gGoneLog = dead;
  FileOps ops = systemFileOps();
  ops.open = openThenGone;
  FileOps const* old = setFileOps(&ops);
  open();
  setFileOps(old);
  gGoneLog.clear();
  EXPECT_EQ(ldlong(get(1).data() + 12), 77);
}

}  // namespace

namespace {

// A table without indexes: an add rolled back is gone again.
TEST_F(TransLog, RolledBackAddOnATableWithoutIndexesIsGone) {
  EncSchema s = bankSchema();
  s.tables[0].indexes.clear();
  writeDescriptorFile(tmp_.path(), s);
  ASSERT_EQ(OpenSchema("bank", 0), 0x10000);
  buf_ = _GetTabBuff(kTab);
  set(1, 10, 1);
  ASSERT_GT(AddRecord(kTab), 0);
  BeginTransaction();
  set(2, 20, 2);
  ASSERT_GT(AddRecord(kTab), 0);
  set(3, 30, 3);
  ASSERT_GT(AddRecord(kTab), 0);
  CorruptTrans();
  EXPECT_EQ(EndTransaction(), 0);
  EXPECT_EQ(TabNRecords(kTab), 1);
  ASSERT_EQ(GetRecord(kTab, 0, 0, 1), 1);
  EXPECT_EQ(ldlong(buf_ + 12), 1);
  EXPECT_EQ(GetRecord(kTab, 0, 0, 2), -1);
  EXPECT_EQ(GetRecord(kTab, 0, 0, 3), -1);
}

}  // namespace

namespace {

// A writer killed inside a transaction on a table without indexes: the next
// opener finds the committed records only, and no held mark.
TEST_F(TransLog, KilledWriterOnATableWithoutIndexesIsUndone) {
  EncSchema s = bankSchema();
  s.tables[0].indexes.clear();
  writeDescriptorFile(tmp_.path(), s);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  pid_t w = fork();
  if (w == 0) {
    if (OpenSchema("bank", 0) != 0x10000) _exit(2);
    char* b = _GetTabBuff(kTab);
    for (int32_t i = 1; i <= 4; ++i) {
      if (i == 3) BeginTransaction();
      stlong(i, b + 4), stlong(i, b + 8), stlong(i, b + 12);
      if (AddRecord(kTab) <= 0) _exit(3);
    }
    if (write(p[1], "r", 1) != 1) _exit(4);
    for (;;) pause();
  }
  close(p[1]);
  char c = 0;
  bool ready = read(p[0], &c, 1) == 1;
  close(p[0]);
  kill(w, SIGKILL);
  int st = 0;
  waitpid(w, &st, 0);
  ASSERT_TRUE(ready) << st;
  ASSERT_EQ(OpenSchema("bank", 0), 0x10000);
  buf_ = _GetTabBuff(kTab);
  EXPECT_EQ(TabNRecords(kTab), 2);
  ASSERT_EQ(GetRecord(kTab, 0, 0, 2), 2);
  EXPECT_EQ(GetRecord(kTab, 0, 0, 3), -1);
  EXPECT_EQ(GetRecord(kTab, 0, 0, 4), -1);
  CloseAllSchemas();
  EXPECT_NE(ldlong(readFile(tmp_.path() + "/bank/acct.tab").data()), -1);
  EXPECT_TRUE(filesIn(logDir_).empty());
}

}  // namespace
