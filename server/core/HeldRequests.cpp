// Held requests on the server side: the core's request kinds, the services
// of the table and schema requests, and the resumers.
#include <svcore/HeldRequests.h>

#include <svcore/CopyTable.h>

#include <svcatalog/RequestEnv.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvCursor.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <svcatalog/TableEnv.h>
#include <sindex/SvIndex.h>
#include <svcore/Server.h>
#include <svcore/SvConfigFile.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/SvObject.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/TimeStamp.h>

#include <memory>

namespace svcore {

namespace {

// A table's answer of a request that must wait.
constexpr long kHeldMark = SvTable::kHeld;

class CoreServices : public svcatalog::RequestServices {
public:
  bool canAttach(Client* c) override { return c == nullptr || c->canAttach(); }
  void addObject(Client* c, SvObject* o) override {
    if (c != nullptr && o != nullptr) c->addObject(o);
  }
  bool delObject(Client* c, SvObject* o) override { return c != nullptr && o != nullptr && c->delObject(o) == 0; }
  bool checkVersion(int32_t& v) override { return Server::checkVersion(v); }
  int32_t lockWait() override { return Server::configFile != nullptr ? Server::configFile->lkWait() : 120; }
  bool hold(Client* c, std::function<long(Client*)> rerun, int32_t giveUp) override {
    if (c == nullptr) return false;
    c->setPending(HeldCall(std::move(rerun)), Client::STATE_BLK_LOCK, giveUp > 0 ? giveUp : -1);
    return true;
  }
  SvObject* newCursor(Client* c, SvTable* t, int32_t index, int32_t mode, int32_t limit) override {
    SvIndex* const ix = t != nullptr ? t->index(index) : nullptr;
    if (ix == nullptr) {
      Exception::last(InvalidIndexNum(index));
      return nullptr;
    }
    // The schema registers it with the client (addObject).
    return new SvCursor(t, ix, mode, limit);
  }
  SvObject* newCopy(Client*, SvTable* from, SvTable* to) override {
    if (from == nullptr || to == nullptr || from == to) {
      Exception::last(InvalidData(String("table copy onto itself")));
      return nullptr;
    }
    return new CopyTable(from, to);
  }
};

// The clients' object lists as the tables see them: a table about to be
// destroyed (Replace, Alter, Drop, a dropped schema) leaves every list
// first, so no client keeps a pointer to it.
class ClientTables : public svcatalog::TableObjects {
public:
  // The object is handed over to be destroyed: through its client when
  // the client lists it, else here.
  void delObject(Client* c, SvObject* o) override {
    if (o != nullptr && (c == nullptr || c->delObject(o) != 0)) delete o;
  }
  void takeFromClients(SvTable* t) override {
    if (t == nullptr) return;
    for (Client* const c : Server::clients) take(c, t);
    for (Client* const c : Server::replayed) take(c, t);
  }

private:
  // The client's cursors and copy jobs over t go (they point at it), then
  // its entries of t leave the list.
  static void take(Client* c, SvTable* t) {
    if (c == nullptr) return;
    for (int32_t i = c->nObjects(); i-- > 0;) {
      SvObject* const o = c->object(i);
      if (o == nullptr || o == t) continue;
      SvCursor* const cur = o->getCursor();
      auto* const job = dynamic_cast<CopyTable*>(o);
      if ((cur != nullptr && cur->table() == t) || (job != nullptr && job->uses(t))) c->delObject(o);
    }
    c->takeObject(t);
  }
};

}  // namespace

bool HeldCall::exec(Client* c) {
  long const v = rerun_(c);
  if (v == kHeldMark) return false;
  if (SvObject::con != nullptr && Exception::last().code() == 0) SvObject::con->setRetValue(int32_t(v));
  return true;
}

bool BeginTransaction::exec(Client* c) {
  (void)server_;
  if (c->hasTrans()) {
    Exception::last(InTrans());
    if (SvObject::con != nullptr) SvObject::con->setRetValue(-1);
    return true;
  }
  if (!Server::beginTrans(c, -1, options_)) return false;
  SvObject::reply(c, 0);
  if (SvObject::con != nullptr) *SvObject::con << c->transStamp();
  return true;
}

bool resumeClient(Client* c) {
  Exception::last(Exception(0));
  Coroutine* const co = c != nullptr ? c->pending() : nullptr;
  if (co == nullptr) return false;
  SvReplyPort* const port = SvObject::port();
  if (c->transAborted()) {
    c->clearPending();
    SvObject::reply(c, c->abortionCause());
    if (port != nullptr) port->reply();
    return true;
  }
  // The reply is begun before the request runs, so that the words it
  // writes follow the header.
  SvObject::reply(c, 0);
  if (!co->resume(c)) {
    if (port != nullptr) port->clear();
    return false;
  }
  if (Exception::last().code() != 0) {
    std::unique_ptr<Exception> const keep(Exception::last().clone());
    Exception::last(Exception(0));
    SvObject::replyError(c, *keep);
  }
  c->clearPending();
  if (port != nullptr) port->reply();
  return true;
}

void resumeWakeUpClients() {
  while (Client* const c = ClientEnv::wakeUpClient()) resumeClient(c);
}

void giveUpWaits() {
  Time const now = Server::tStamp().time();
  bool woken = false;
  for (Client* const c : Server::clients) {
    if (c == nullptr || c->state() != Client::STATE_BLK_LOCK) continue;
    Time const& at = c->lockGiveUpTime();
    if (at.isNull() || now < at) continue;
    c->clearPendLock();
    if (c->hasTrans() && !c->transAborted()) {
      // The abort cause is the answer, sent when the client is resumed.
      c->abortTrans(DeadLock(String()));
      ClientEnv::addWakeUpClient(c);
      woken = true;
      continue;
    }
    c->clearPending();
    SvObject::reply(c, DeadLock(String()));
    if (SvReplyPort* const port = SvObject::port()) port->reply();
  }
  if (woken) resumeWakeUpClients();
  // A client still waiting past its notification time is told, once, which
  // table it waits on and who holds the lock; its request keeps waiting.
  for (Client* const c : Server::clients) {
    if (c == nullptr || c->state() != Client::STATE_BLK_LOCK) continue;
    Time const& at = c->pendLockNotifTime();
    if (at.isNull() || now < at) continue;
    svcatalog::LockObject* const waiting = c->pendingLock();
    svcatalog::LockObject* const owner = waiting != nullptr ? waiting->lockOwner() : nullptr;
    String table;
    if (waiting != nullptr && waiting->table != nullptr) {
      auto* const rep = dynamic_cast<SvTabRep*>(waiting->table);
      table = rep != nullptr ? rep->qualifiedName() : waiting->table->lockTableName();
    }
    String const holder = owner != nullptr && owner->client != nullptr ? owner->client->descr() : String();
    c->pendLockNotif(Time());
    SvObject::reply(c, PendLockNotif(table, holder));
    if (SvReplyPort* const port = SvObject::port()) port->reply();
  }
}

void installHeldRequests() {
  static CoreServices services;
  svcatalog::RequestEnv::install(&services);
  static ClientTables tables;
  svcatalog::TableEnv::objects = &tables;
  Server::resumeClientsHook = resumeWakeUpClients;
  Server::resumeBeginHook = resumeClient;
}

}  // namespace svcore
