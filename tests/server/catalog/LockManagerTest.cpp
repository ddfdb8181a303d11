// The lock manager with several clients on one table: every scenario is a
// row of steps (requests with their expected answer and recorded error,
// checks of the table's rings and queues, of the clients woken and of lock
// counts). A notification is a real SIGUSR1 to client processes.
#include <gtest/gtest.h>

#include <svcatalog/LockObject.h>
#include <svcatalog/TableLocks.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>

#include <blkfile/StorageEnv.h>

#include <zfound/Exception.h>
#include <zfound/Message.h>

#include "ChildRun.h"
#include "ShowString.h"
#include "TestSupport.h"

#include <csignal>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using svcatalog::ClientLocks;
using svcatalog::LockObject;
using svcatalog::LockTables;
using svcatalog::TableLocks;

constexpr int R = 0;
constexpr int W = LockObject::kWrite;
constexpr int F = LockObject::kFree;
constexpr int P = LockObject::kExplicit;

class Tab : public TableLocks {
public:
  String lockTableName() const override { return "Orders"; }
  int32_t lockRecordCount() const override { return 1000; }
  bool completeDefDel(Client*, int32_t rec) override {
    deleted.push_back(rec);
    return true;
  }
  std::vector<int32_t> deleted;
};

enum Op {
  kLock,        // applyLock, may wait
  kTry,         // applyLock, may not wait
  kTest,        // applyLock, testing; text "own" when out must be the client's lock
  kTab,         // applyTabLock, may wait
  kFree,        // freeLock
  kFreeTab,     // freeTabLock
  kMany,        // shared locks on records 1..rec, each granted
  kBegin,       // the client begins a transaction (later than any before)
  kNotify,      // addNotify
  kDefer,       // deferDel on the client's lock of rec
  kResize,      // setNumLocks(rec)
  kSearch,      // deadlock search off (rec 0) or on (rec 1)
  kState,       // the table's rings and queues, and clients' counts, as text
  kWoken,       // the clients on the wake-up list, in order (taken off)
  kCount,       // the client's lock count is rec
  kDeleted,     // the deferred deletes completed so far are exactly {rec}
  kReplay,      // the journal is replayed (rec 1) or not (rec 0)
  kRekey,       // changeLock of the lock on rec to record `type`
  kTally,       // "table locks, record locks, deferred deletes" is text
  kLeave,       // the client's wait ends without a grant (given up, or gone)
  kFreeAll,     // Client::freeAllLocks, explicit locks too when rec is 1
  kNotifyHead,  // the client at the head of rec's notification chain (' ': none)
};

struct Step {
  char who;
  Op op;
  int32_t rec;
  int type;
  bool result;
  int32_t code;
  char const* text;
};

Step ok(char who, Op op, int32_t rec = 0, int type = R) { return {who, op, rec, type, true, 0, ""}; }
Step waits(char who, Op op, int32_t rec, int type) { return {who, op, rec, type, false, 0, ""}; }
Step err(char who, Op op, int32_t rec, int type, int32_t code) { return {who, op, rec, type, true, code, ""}; }
Step no(char who, Op op, int32_t rec) { return {who, op, rec, 0, false, 0, ""}; }
Step refused(char who, Op op, int32_t rec, int32_t code) { return {who, op, rec, 0, false, code, ""}; }
Step chk(Op op, char const* text) { return {' ', op, 0, 0, true, 0, text}; }
Step own(char who, int32_t rec, int type) { return {who, kTest, rec, type, true, 0, "own"}; }
Step st(char const* text) { return {' ', kState, 0, 0, true, 0, text}; }
Step wk(char const* text) { return {' ', kWoken, 0, 0, true, 0, text}; }
Step cnt(char who, int32_t n) { return {who, kCount, n, 0, true, 0, ""}; }
Step resize(int32_t n, bool result) { return {' ', kResize, n, 0, result, 0, ""}; }
Step search(bool on) { return {' ', kSearch, on ? 1 : 0, 0, true, 0, ""}; }

struct Settings {
  int32_t locksPerClient;
  int32_t unifyBound;
  int32_t unifyPercent;
  long poolLocks;
  long poolNotifies;
};

constexpr Settings kPlain{256, 200, 0, 64, 8};
constexpr Settings kPool8{256, 200, 0, 8, 8};
constexpr Settings kPool16{256, 200, 0, 16, 8};
constexpr Settings kPool2{256, 200, 0, 2, 8};
constexpr Settings kNotify1{256, 200, 0, 8, 1};
constexpr Settings kAllow2{2, 200, 0, 8, 8};
constexpr Settings kAllow2Unify2{2, 2, 0, 8, 8};
constexpr Settings kUnify10{100, 200, 10, 256, 8};  // 10% of 1,000 records
constexpr Settings kBound101{100, 101, 0, 256, 8};
constexpr Settings kNoUnify{100, 200, 0, 256, 8};

struct Scenario {
  char const* name;
  Settings set;
  std::vector<Step> steps;
};

std::string typeText(LockObject const* e) {
  std::string s = e->exclusive() ? "W" : "R";
  if (e->type & LockObject::kDefDel) s += "D";
  if (e->type & LockObject::kFree) s += "F";
  if (e->type & LockObject::kExplicit) s += "P";
  return s;
}

std::string entryText(LockObject const* e) { return zftest::show(e->client->proc()) + "." + typeText(e); }

class Play {
public:
  explicit Play(Scenario const& s) {
    ClientEnv::reset();
    ClientEnv::locksPerClient = s.set.locksPerClient;
    ClientEnv::lockUnifyBound = s.set.unifyBound;
    ClientEnv::lockUnifyPercent = s.set.unifyPercent;
    svstore::StorageEnv::timeStamp.setNow();
    ok_ = LockTables::initLocks(s.set.poolLocks, s.set.poolNotifies);
    table_ = std::make_unique<Tab>();
  }
  ~Play() {
    table_.reset();  // may already be gone
    clients_.clear();
    TableLocks::TEST_deadlockSearch(true);
    svstore::StorageEnv::restarting = false;
    LockTables::cleanUpLocks();
    ClientEnv::reset();
    Exception::last(Exception(0));
  }
  bool ready() const { return ok_; }

  Client* client(char who) {
    std::unique_ptr<Client>& c = clients_[who];
    if (!c) {
      c = std::make_unique<Client>(int32_t(getpid()), String(std::string(1, who).c_str()), String(), int32_t(getuid()),
                                   int32_t(getgid()), "node", "tty", false);
      c->setId(who - 'A');
    }
    return c.get();
  }

  // The rings: "T:" or the record, holders joined by "+", waiters in <>;
  // then " | " and the table-level waiters; then [counts], "x" after a
  // client whose transaction was aborted.
  std::string state() {
    std::string s;
    if (LockObject* a = table_->firstAcqLock()) {
      LockObject* e = a;
      do {
        if (!s.empty()) s += " ";
        s += e->isTableLock() ? std::string("T") : std::to_string(e->record);
        s += ":";
        LockObject* h = e;
        do {
          s += (h == e ? "" : "+") + entryText(h);
          h = h->holdNext;
        } while (h != e);
        if (e->waitNext != e) {
          s += "<";
          for (LockObject* w = e->waitNext; w != e; w = w->waitNext) s += (w == e->waitNext ? "" : ",") + entryText(w);
          s += ">";
        }
        e = e->acqNext;
      } while (e != a);
    }
    if (LockObject* p = table_->pendLockList()) {
      s += " |";
      LockObject* w = p;
      do {
        s += " " + std::to_string(w->record) + ":" + entryText(w);
        w = w->waitNext;
      } while (w != p);
    }
    std::string counts;
    for (auto& [who, c] : clients_) {
      if (c->lockCount() == 0 && !c->transAborted()) continue;
      counts += (counts.empty() ? "" : " ") + std::string(1, who) + std::to_string(c->lockCount());
      if (c->transAborted()) counts += c->abortionCause().code() == kExcDeadLock ? "x" : "?";
    }
    if (!counts.empty()) s += (s.empty() ? "[" : " [") + counts + "]";
    return s;
  }

  static std::string woken() {
    std::string s;
    while (Client* c = ClientEnv::wakeUpClient()) s += zftest::show(c->proc());
    return s;
  }

  void step(Step const& st, size_t i) {
    SCOPED_TRACE("step " + std::to_string(i));
    Client* c = st.who == ' ' || st.op == kNotifyHead ? nullptr : client(st.who);
    bool res = true;
    LockObject* out = nullptr;
    bool created = false;
    switch (st.op) {
      case kLock: res = table_->applyLock(c, st.rec, uint16_t(st.type), 1, true, &out, created); break;
      case kTry: res = table_->applyLock(c, st.rec, uint16_t(st.type), 0, true, &out, created); break;
      case kTest: res = table_->applyLock(c, st.rec, uint16_t(st.type), 1, false, &out, created); break;
      case kTab: res = table_->applyTabLock(c, uint16_t(st.type), 1, true, &out); break;
      case kFree: res = table_->freeLock(c, st.rec); break;
      case kFreeTab: res = table_->freeTabLock(c); break;
      case kMany:
        for (int32_t r = 1; r <= st.rec; ++r) {
          ASSERT_TRUE(table_->applyLock(c, r, uint16_t(st.type), 1, true, &out, created)) << r;
          ASSERT_NE(out, nullptr) << r;
        }
        break;
      case kBegin:
        ++svstore::StorageEnv::timeStamp;
        c->beginTrans(-1, 0);
        break;
      case kNotify: res = table_->addNotify(c, st.rec); break;
      case kDefer: res = table_->deferDel(table_->findLock(st.rec)); break;
      case kResize: res = LockTables::setNumLocks(st.rec); break;
      case kSearch: TableLocks::TEST_deadlockSearch(st.rec != 0); break;
      case kState: EXPECT_EQ(state(), st.text); break;
      case kWoken: EXPECT_EQ(woken(), st.text); break;
      case kCount: EXPECT_EQ(c->lockCount(), st.rec); break;
      case kRekey: table_->changeLock(table_->findLock(st.rec), st.type); break;
      case kTally: {
        int32_t t = 0, r = 0;
        table_->nLocks(t, r);
        EXPECT_EQ(std::to_string(t) + "," + std::to_string(r) + "," + std::to_string(table_->nDefDels()), st.text);
        break;
      }
      case kFreeAll: c->freeAllLocks(st.rec == 1); break;
      case kNotifyHead: {
        svcatalog::NotifyLock* n = table_->findNotifyLock(st.rec);
        EXPECT_EQ(n != nullptr ? char('A' + n->client->id()) : ' ', st.who);
        break;
      }
      case kLeave: c->clearPendLock(); break;
      case kReplay: svstore::StorageEnv::restarting = st.rec != 0; break;
      case kDeleted: EXPECT_EQ(table_->deleted, std::vector<int32_t>{st.rec}); break;
    }
    EXPECT_EQ(res, st.result);
    EXPECT_EQ(Exception::last().code(), st.code);
    if (st.op == kTest && res && st.code == 0) {
      EXPECT_EQ(out != nullptr && out->client == c, std::string(st.text) == "own");
    }
    if ((st.op == kLock || st.op == kTab) && res && st.code == 0) {
      EXPECT_NE(out, nullptr);
    }
    Exception::last(Exception(0));
  }

  Tab& table() { return *table_; }
  void dropTable() { table_.reset(); }

private:
  bool ok_ = false;
  std::unique_ptr<Tab> table_;
  std::map<char, std::unique_ptr<Client>> clients_;
};

class LockManager : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("ombrel-3.3.2");
    Exception::init(true);
    Exception::last(Exception(0));
  }
};

std::vector<Scenario> const& scenarios() {
  static std::vector<Scenario> const rows = {
      {"a shared re-request shares nothing new",
       kPlain,
       {ok('A', kLock, 5, R), ok('A', kLock, 5, R), own('A', 5, R), st("5:A.R [A1]")}},
      {"the only holder upgrades in place",
       kPlain,
       {ok('A', kLock, 5, R), ok('A', kLock, 5, W | F), st("5:A.WF [A1]")}},
      {"the only holder upgrades in place even while another waits",
       kPlain,
       {ok('A', kLock, 5, R), waits('B', kLock, 5, W), ok('A', kLock, 5, W), st("5:A.W<B.W> [A1]"), wk("")}},
      {"an upgrade with another holder queues and goes on once it leaves",
       kPlain,
       {ok('A', kLock, 5, R), ok('B', kLock, 5, R), waits('A', kLock, 5, W), st("5:A.R+B.R<A.W> [A1 B1]"),
        ok('B', kFree, 5), wk("A"), st("5:A.R [A1]"), ok('A', kLock, 5, W), st("5:A.W [A1]")}},
      {"a table-level waiter queues everyone behind it",
       kPlain,
       {ok('A', kLock, 5, W), waits('B', kTab, 0, R), waits('C', kLock, 7, R), waits('D', kTab, 0, W),
        st("5:A.W | 0:B.R 7:C.R 0:D.W [A1]"), ok('A', kFree, 5), wk("BCD"), st("")}},
      {"an exclusive table lock frees the record locks and inherits F",
       kPlain,
       {ok('A', kLock, 5, R | F), ok('A', kLock, 6, W), ok('A', kTab, 0, W), st("T:A.WF [A1]"), ok('A', kFreeTab),
        st("T:A.WF [A1]")}},
      {"a shared table lock frees only the shared record locks",
       kPlain,
       {ok('A', kLock, 5, R), ok('A', kLock, 6, W), ok('A', kTab, 0, R), st("T:A.R 6:A.W [A2]")}},
      {"a deferred delete completes when a table lock takes it over",
       kPlain,
       {ok('A', kLock, 5, W | F), ok(' ', kDefer, 5), no('A', kFree, 5), st("5:A.WDF [A1]"), chk(kTally, "0,1,1"),
        ok('A', kTab, 0, W), st("T:A.WF [A1]"), ok('A', kDeleted, 5)}},
      {"a lock re-keyed keeps its holders and waiters",
       kPlain,
       {ok('A', kLock, 5, R), ok('B', kLock, 5, R), waits('C', kLock, 5, W), ok(' ', kRekey, 5, 9),
        st("9:A.R+B.R<C.W> [A1 B1]"), chk(kTally, "0,2,0"), ok('A', kFree, 9), ok('B', kFree, 9), wk("C"), st("")}},
      {"explicit and end-of-transaction locks at a free",
       kPlain,
       {ok('A', kLock, 5, R | P), ok('A', kLock, 6, R | F), ok('A', kLock, 7, W | P), ok('A', kFree, 5),
        st("6:A.RF 7:A.WP [A2]"), ok('A', kFreeTab), st("6:A.RF [A1]"), ok('A', kLock, 8, R | P), ok('A', kFreeAll, 0),
        st("8:A.RP [A1]"), ok('A', kFreeAll, 1), st("")}},
      {"notification requests: one per client and record, the next takes the head",
       kPlain,
       {ok('A', kNotify, 5), ok('B', kNotify, 5), ok('A', kNotify, 5), ok('A', kNotifyHead, 5), ok('A', kLock, 5, R),
        ok('A', kFree, 5), ok('B', kNotifyHead, 5), ok('B', kFreeAll, 0), ok(' ', kNotifyHead, 5)}},
      {"a table lock already held covers a repeated or weaker request; a shared one upgrades",
       kPlain,
       {ok('A', kTab, 0, R), ok('B', kTab, 0, R), ok('A', kTab, 0, R | F), st("T:A.RF+B.R [A1 B1]"),
        waits('A', kTab, 0, W), ok('B', kFreeTab), wk("A"), ok('A', kTab, 0, W), ok('A', kTab, 0, R),
        st("T:A.WF [A1]")}},
      {"under another client's shared table lock a record keeps one ring",
       kPlain,
       {ok('B', kLock, 5, R), ok('A', kTab, 0, R), ok('C', kLock, 5, R), ok('B', kLock, 5, R),
        st("T:A.R 5:B.R+C.R [A1 B1 C1]")}},
      {"a shared table lock does not upgrade over another client's lock",
       kPlain,
       {ok('B', kLock, 9, R), ok('A', kTab, 0, R), waits('A', kLock, 5, W), st("T:A.R 9:B.R<A.W> [A1 B1]"),
        ok('B', kFree, 9), wk("A"), ok('A', kLock, 5, W), st("T:A.W [A1]")}},
      {"a table lock waits for another client's record lock",
       kPlain,
       {ok('B', kLock, 9, R), waits('A', kTab, 0, W), st("9:B.R | 0:A.W [B1]"), err('C', kTry, 9, W, kExcLocked)}},
      {"the first shared holder goes quietly, the last wakes every waiter",
       kPlain,
       {ok('A', kLock, 5, R), ok('B', kLock, 5, R), waits('C', kLock, 5, W), waits('D', kTab, 0, W),
        st("5:A.R+B.R<C.W> | 0:D.W [A1 B1]"), ok('A', kFree, 5), wk(""), st("5:B.R<C.W> | 0:D.W [B1]"),
        ok('B', kFree, 5), wk("CD"), st("")}},
      {"101 locks of 1,000 records unify at 10%",
       kUnify10,
       {ok('A', kMany, 100, R), cnt('A', 100), ok('A', kLock, 101, R), st("T:A.R [A1]"), ok('A', kLock, 102, R),
        cnt('A', 1)}},
      {"without a percentage only the bound unifies",
       kBound101,
       {ok('A', kMany, 100, R), ok('A', kLock, 101, R), st("T:A.R [A1]")}},
      {"past the allowance without unification ClLockTableFull",
       kNoUnify,
       {ok('A', kMany, 100, W), err('A', kLock, 101, W, kExcClLockTableFull), cnt('A', 100)}},
      {"explicit locks survive unification, which does not start again",
       kAllow2Unify2,
       {ok('A', kLock, 1, W | P), ok('A', kLock, 2, W | P), err('A', kLock, 3, W | P, kExcClLockTableFull),
        st("T:A.W 1:A.WP 2:A.WP [A3]")}},
      {"while the journal is replayed no allowance applies",
       kAllow2,
       {ok(' ', kReplay, 1), ok('A', kMany, 3, W), cnt('A', 3), ok(' ', kReplay, 0),
        err('A', kLock, 4, W, kExcClLockTableFull), cnt('A', 3)}},
      {"the youngest transaction is the victim",
       kPlain,
       {ok('A', kBegin), ok('B', kBegin), ok('A', kLock, 5, W), ok('B', kLock, 6, W), waits('A', kLock, 6, W),
        waits('B', kLock, 5, W), wk("B"), st("5:A.W 6:B.W<A.W> [A1 B1x]")}},
      {"a younger holder is the victim of an older requester",
       kPlain,
       {ok('B', kBegin), ok('A', kBegin), ok('A', kLock, 5, W), ok('B', kLock, 6, W), waits('A', kLock, 6, W),
        waits('B', kLock, 5, W), wk("AB"), st("5:A.W 6:B.W [A1x B1]")}},
      {"a requester outside a transaction gets DeadLock",
       kPlain,
       {ok('A', kLock, 5, W), ok('B', kLock, 6, W), waits('A', kLock, 6, W), err('B', kLock, 5, W, kExcDeadLock),
        wk(""), st("5:A.W 6:B.W<A.W> [A1 B1]")}},
      {"outside a transaction the requester is the victim even against one",
       kPlain,
       {ok('A', kBegin), ok('A', kLock, 5, W), ok('B', kLock, 6, W), waits('A', kLock, 6, W),
        err('B', kLock, 5, W, kExcDeadLock), st("5:A.W 6:B.W<A.W> [A1 B1]")}},
      {"queueing behind a table-level waiter that waits for the requester is a deadlock",
       kPlain,
       {ok('A', kLock, 5, W), waits('B', kTab, 0, R), err('A', kLock, 7, R, kExcDeadLock), st("5:A.W | 0:B.R [A1]")}},
      {"there the younger transaction is the victim",
       kPlain,
       {ok('A', kBegin), ok('B', kBegin), ok('A', kLock, 5, R), waits('B', kTab, 0, W), waits('A', kLock, 7, R),
        wk("BA"), st("5:A.R [A1 B0x]")}},
      {"a table-level waiter that leaves lets those behind it go on",
       kPlain,
       {ok('A', kLock, 5, W), waits('B', kTab, 0, W), waits('C', kLock, 7, R), waits('D', kLock, 8, R), ok('B', kLeave),
        wk("CD"), st("5:A.W [A1]")}},
      {"a cycle not through the requester ends the search",
       kPlain,
       {search(false), ok('A', kLock, 5, W), ok('B', kLock, 6, W), waits('A', kLock, 6, W), waits('B', kLock, 5, W),
        search(true), waits('C', kLock, 5, R), st("5:A.W<B.W,C.R> 6:B.W<A.W> [A1 B1]")}},
      {"no waiting: Locked",
       kPlain,
       {ok('A', kLock, 5, W), err('B', kTry, 5, R, kExcLocked), err('B', kTest, 5, R, kExcLocked), own('A', 5, R),
        st("5:A.W [A1]")}},
      {"a full lock pool refuses grants and waits",
       kPool2,
       {ok('A', kLock, 1, R), ok('A', kLock, 2, R), err('A', kLock, 3, R, kExcLockTableFull),
        err('B', kLock, 1, W, kExcLockTableFull), st("1:A.R 2:A.R [A2]")}},
      {"a full notification pool",
       kNotify1,
       {ok('A', kNotify, 5), ok('A', kNotify, 5), refused('B', kNotify, 5, kExcNotifyTableFull)}},
      {"an own shared table lock does not keep its upgrade waiting once the other lock goes",
       kPlain,
       {ok('B', kLock, 5, R), ok('A', kTab, 0, R), waits('A', kTab, 0, W), st("T:A.R 5:B.R | 0:A.W [A1 B1]"),
        ok('B', kFree, 5), wk("A"), ok('A', kTab, 0, W), st("T:A.W [A1]")}},
      {"under a shared table lock a table-level waiter goes on once its blocker leaves",
       kPlain,
       {ok('A', kLock, 6, W), ok('A', kTab, 0, R), waits('B', kTab, 0, R), ok('A', kFree, 6), wk("B"),
        ok('B', kTab, 0, R), st("T:A.R+B.R [A1 B1]")}},
      {"a table lock does not wait for the waiters behind the client's own lock",
       kPlain,
       {ok('A', kLock, 5, W), waits('B', kLock, 5, R), ok('A', kTab, 0, W), wk("B"), st("T:A.W [A1]")}},
      {"the victim is on the cycle, never a sharing holder that waits for nobody",
       kPlain,
       {ok('A', kBegin), ok('B', kBegin), ok('C', kBegin), ok('C', kLock, 5, R), ok('A', kLock, 5, R),
        ok('B', kLock, 6, W), waits('A', kLock, 6, W), waits('B', kLock, 5, W), wk("B"),
        st("5:C.R+A.R 6:B.W<A.W> [A1 B1x C1]")}},
      {"a table lock waiting for the waiters of a lock whose holder waits for it is a deadlock",
       kPlain,
       {ok('D', kLock, 5, R), ok('A', kLock, 7, W), waits('B', kLock, 5, W), waits('D', kLock, 7, W),
        err('A', kTab, 0, R, kExcDeadLock), st("5:D.R<B.W> 7:A.W<D.W> [A1 D1]")}},
      {"two sharing holders both upgrading: the second is refused with DeadLock",
       kPlain,
       {ok('A', kLock, 5, R), ok('B', kLock, 5, R), waits('A', kLock, 5, W), err('B', kLock, 5, W, kExcDeadLock),
        ok('B', kFree, 5), wk("A"), ok('A', kLock, 5, W), st("5:A.W [A1]")}},
      {"a resize is refused while a lock is in use",
       kPool8,
       {ok('A', kLock, 5, R), resize(64, false), st("5:A.R [A1]"), ok('A', kFree, 5), resize(64, true), st("")}},
  };
  return rows;
}

TEST_F(LockManager, Scenarios) {
  for (Scenario const& s : scenarios()) {
    SCOPED_TRACE(s.name);
    Play run(s);
    ASSERT_TRUE(run.ready());
    for (size_t i = 0; i < s.steps.size(); ++i) run.step(s.steps[i], i);
  }
}

// The held and queued locks, listed with their literal texts.
TEST_F(LockManager, ListingsNameTableClientTypeAndFlags) {
  Play run({"", kPool16, {}});
  ASSERT_TRUE(run.ready());
  MsgHandler old = displayErrorHandler(zftest::recordWarning);
  zftest::shown().clear();
  for (Step const& s :
       {ok('A', kLock, 5, R | P), ok('B', kLock, 5, R), waits('C', kLock, 5, W), waits('D', kTab, 0, R)})
    run.step(s, 0);
  run.table().listLocks();
  ClientLocks::listLocks(run.client('A'));
  displayErrorHandler(old);
  std::vector<std::string> const want = {
      "+++ Locks queued at table 'Orders' +++",
      "Table: 'Orders', Record: 0, Client: '(3) D', Type: R, Flags: ",
      "+++ Acquired locks in table 'Orders' +++",
      "Table: 'Orders', Record: 5, Client: '(0) A', Type: R, Flags: P",
      "Table: 'Orders', Record: 5, Client: '(1) B', Type: R, Flags: ",
      "Pending for this lock:",
      "Table: 'Orders', Record: 5, Client: '(2) C', Type: W, Flags: ",
      "+++ Locks acquired by client 'A' +++",
      "Table: 'Orders', Record: 5, Client: '(0) A', Type: R, Flags: P",
      "--- Locks acquired by client 'A' ---",
  };
  ASSERT_EQ(zftest::shown().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NE(zftest::shown()[i].find(want[i]), std::string::npos) << i;
  // A Locked error names the holder and the table.
  bool created = false;
  EXPECT_TRUE(run.table().applyLock(run.client('E'), 5, W, 0, true, nullptr, created));
  ASSERT_NE(Exception::last().getLocked(), nullptr);
  EXPECT_EQ(zftest::show(Exception::last().getLocked()->owner()),
            zftest::show(run.client('A')->descr()) + ", table: Orders");
  Exception::last(Exception(0));
}

// A client gone frees everything it held, wakes whom it blocked, and a
// table gone leaves no entry in any client's list.
TEST_F(LockManager, ClientAndTableEndsReleaseEverything) {
  Play run({"", kPool16, {}});
  ASSERT_TRUE(run.ready());
  for (Step const& s :
       {ok('A', kLock, 5, W | F | P), waits('C', kLock, 5, R), ok('A', kNotify, 9), ok('B', kLock, 6, W)})
    run.step(s, 0);
  EXPECT_EQ(ClientLocks::waitsForAcquired(run.client('C')), run.table().findLock(5));
  EXPECT_EQ(ClientLocks::waitsForAcquired(run.client('A')), nullptr);
  run.client('A')->freeAllLocks(true);
  run.step(wk("C"), 0);
  run.step(st("6:B.W [B1]"), 0);
  EXPECT_EQ(run.client('A')->notifyLocks(), nullptr);
  EXPECT_EQ(run.table().findNotifyLock(9), nullptr);
  // The table goes first: B's list no longer names its entry.
  run.dropTable();
  EXPECT_EQ(run.client('B')->lockCount(), 0);
  EXPECT_EQ(run.client('B')->locks(), nullptr);
  EXPECT_EQ(LockTables::lockPool().inUse(), 0);
}

// notifyClients sends SIGUSR1 to each client process of the record's chain
// and to no other.
TEST_F(LockManager, ANotificationIsSigusr1ToTheClientProcess) {
  zftest::RunResult r = zftest::runInChild([] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    // Each client process exits 1 when SIGUSR1 comes first, 2 for SIGUSR2.
    pid_t pids[3];
    for (pid_t& p : pids) {
      p = fork();
      if (p == 0) {
        timespec limit{30, 0};
        int sig = sigtimedwait(&set, nullptr, &limit);
        _exit(sig == SIGUSR1 ? 1 : sig == SIGUSR2 ? 2 : 3);
      }
      ZF_CHILD_CHECK(p > 0);
    }
    ClientEnv::reset();
    ZF_CHILD_CHECK(LockTables::initLocks(8, 8));
    {
      Tab t;
      std::vector<std::unique_ptr<Client>> cl;
      for (pid_t p : pids)
        cl.push_back(std::make_unique<Client>(int32_t(p), String("c"), String(), 0, 0, "n", "t", false));
      ZF_CHILD_CHECK(t.addNotify(cl[0].get(), 5));
      ZF_CHILD_CHECK(t.addNotify(cl[1].get(), 5));
      ZF_CHILD_CHECK(t.addNotify(cl[2].get(), 6));
      t.notifyClients(5);
      ZF_CHILD_CHECK(t.findNotifyLock(5) == nullptr);
      ZF_CHILD_CHECK(cl[0]->notifyLocks() == nullptr && cl[1]->notifyLocks() == nullptr);
      ZF_CHILD_CHECK(LockTables::notifyPool().inUse() == 1);
      for (pid_t p : pids) kill(p, SIGUSR2);
    }
    ZF_CHILD_CHECK(LockTables::notifyPool().inUse() == 0);
    int want[3] = {1, 1, 2};
    for (int i = 0; i < 3; ++i) {
      int status = 0;
      ZF_CHILD_CHECK(waitpid(pids[i], &status, 0) == pids[i]);
      ZF_CHILD_CHECK(WIFEXITED(status) && WEXITSTATUS(status) == want[i]);
    }
    LockTables::cleanUpLocks();
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
}

// A pid that names no single process (0 or negative: a process group, or
// every process) is never signalled; the child runs in a group of its own
// so that a fault stays inside it.
TEST_F(LockManager, ANotificationNeverSignalsAGroup) {
  zftest::RunResult r = zftest::runInChild([] {
    ZF_CHILD_CHECK(setpgid(0, 0) == 0);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    for (int32_t pid : {0, -int32_t(getpid()), int32_t(0x80000000u | 0x12345u)})
      Client(pid, String("c"), String(), 0, 0, "n", "t", false).notify();
    sigset_t pending;
    sigpending(&pending);
    ZF_CHILD_CHECK(!sigismember(&pending, SIGUSR1));
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
}

// Transactions: numbers, ages within one second, leaders, the abort cause.
TEST_F(LockManager, TransactionsOrderByStampAndKeepTheirAbortCause) {
  ClientEnv::reset();
  TimeStamp now;
  now.setNow();
  ClientEnv::setStamp(&now);
  ClientEnv::serverName = "srv";
  Client a(1, "a", String(), 0, 0, "n", "t", false), b(2, "b", String(), 0, 0, "n", "t", false);
  EXPECT_EQ(a.transNum(), -1);
  a.beginTrans(7, 1);
  ++now;
  b.beginTrans(8, 0);
  EXPECT_EQ(a.transNum(), 7);
  EXPECT_TRUE(a.hasOptimisticTrans());
  EXPECT_FALSE(b.hasOptimisticTrans());
  EXPECT_TRUE(b.workedLess(&a, &a));
  EXPECT_FALSE(a.workedLess(&b, &a));
  b.setTransLeader("srv", now);
  a.setTransLeader("other", now);
  EXPECT_TRUE(b.hasLeaderTrans());
  EXPECT_FALSE(a.hasLeaderTrans());
  int rolledBack = 0;
  static int* counter;
  counter = &rolledBack;
  ClientEnv::hooks().abortTrans = [](Client*, bool) { ++*counter; };
  EXPECT_FALSE(a.transAborted());
  a.abortTrans(DeadLock(String()));
  EXPECT_TRUE(a.transAborted());
  EXPECT_EQ(a.abortionCause().code(), kExcDeadLock);
  EXPECT_EQ(rolledBack, 1);
  a.delTrans();
  EXPECT_EQ(a.transNum(), -1);
  ClientEnv::reset();
}

// A waiting client's pending-lock notification and give-up times make its
// next event, and the server hears of the earliest.
TEST_F(LockManager, WaitingArmsTheNotificationTimeAndTheNextEvent) {
  ClientEnv::reset();
  TimeStamp now;
  now.setNow();
  ClientEnv::setStamp(&now);
  ClientEnv::pendLockNotifTime = 30;
  static std::vector<Time> told;
  told.clear();
  ClientEnv::hooks().eventAt = [](Time const& t) { told.push_back(t); };
  Client a(1, "a", String(), 0, 0, "n", "t", false);
  a.waitFor(nullptr);
  EXPECT_EQ(a.state(), Client::STATE_BLK_LOCK);
  Time const notif = now.time() + 30;
  EXPECT_EQ(a.pendLockNotifTime().cmp(notif), 0);
  EXPECT_EQ(a.nextEvent().cmp(notif), 0);
  a.lockGiveUp(now.time() + 10);
  EXPECT_EQ(a.nextEvent().cmp(now.time() + 10), 0);
  ASSERT_EQ(told.size(), 2u);
  a.chgState(Client::STATE_READY);  // the give-up time goes with the wait
  EXPECT_TRUE(a.lockGiveUpTime().isNull());
  EXPECT_EQ(a.nextEvent().cmp(notif), 0);
  a.pendLockNotif(Time());
  EXPECT_TRUE(a.nextEvent().isNull());
  ClientEnv::reset();
}

// The wake-up list is first in, first out, lists a client once and lets any
// member go.
TEST_F(LockManager, WakeUpListKeepsOrderAndListsOnce) {
  ClientEnv::reset();
  Client a(1, "A", String(), 0, 0, "n", "t", false), b(2, "B", String(), 0, 0, "n", "t", false),
      c(3, "C", String(), 0, 0, "n", "t", false);
  for (Client* x : {&a, &b, &a, &c}) ClientEnv::addWakeUpClient(x);
  ClientEnv::delWakeUpClient(&b);
  EXPECT_EQ(Play::woken(), "AC");
  ClientEnv::addWakeUpClient(&c);
  ClientEnv::delWakeUpClient(&c);
  EXPECT_EQ(ClientEnv::wakeUpClient(), nullptr);
}

}  // namespace
