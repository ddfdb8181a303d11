// The server object: the requests on the server as a whole (Connect,
// attaching and dropping schemas, the process lock, information, settings,
// stopping clients and the server, checkpoints on demand), the server's
// side of clients (hooks into the client layer) and of transactions.
//
// Every request reads its arguments from the request being served and
// answers through the dispatch's reply rule (SvObject.h): it returns its
// result word, leaves a pending error for an error reply, or starts a reply
// of its own when a body follows. Arguments come from clients: a request
// cut short (the channel turned bad) is answered -1 and changes nothing.
//
// Trust: a Connect is tied to the process the kernel knows (identityVerdict)
// before a client is made; Stop, Shut, SetAttrib and Debug, which end or
// reconfigure the service for everybody, are served only for root and the
// administrator uid of -a (NoPrivilege otherwise, nothing read or changed).
#include <svcore/Server.h>
#include <svcore/Journal.h>
#include <svcore/HeldRequests.h>
#include <svcore/ServerObject.h>

#include <svcore/RunLog.h>
#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>
#include <svcore/SvConnection.h>

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvCursor.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/SvTable.h>
#include <sindex/SvIndRep.h>
#include <svcatalog/TableLocks.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/Transaction.h>

#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/PhysLayout.h>
#include <zfound/Privilege.h>

#include <algorithm>
#include <climits>
#include <memory>

ServerObject* ServerObject::object_ = nullptr;
Time Server::nextClientEvent;
int64_t Server::nTrans_ = 0;
int32_t Server::transSerial = 0;

namespace {

// The server's lock-free reply to a Connect that is refused: sent on the
// connecting process's type, the rest of the request dropped.
void refuseConnect(int32_t headerId, Exception const& e) {
  String const text = e.message();
  if (!text.isNull()) warning(String("%S"), &text);
  SvReplyPort* const port = SvObject::port();
  if (port == nullptr) return;
  port->reply(headerId, -e.code(), -1);
  e.send(&port->channel());
  port->getRemainder();
  port->reply();
}

// Schema names become directory names: nothing that leaves the database
// directory or names it.
bool acceptableSchemaName(String const& name) {
  if (name.isNull() || name.length() == 0) return false;
  if (name.index('/') != -1) return false;
  return !(name == "." || name == "..");
}

// A schema may be locked for dropping when no other client has it attached
// and no other client holds its lock.
bool canLockSchema(SvSchema* s, Client* c) {
  if (s->lockedBy() != nullptr && s->lockedBy() != c) return false;
  int32_t const mine = c->findObject(s) >= 0 ? 1 : 0;
  return s->refCount() - mine <= 0;
}

String connectedFor(Client const* c) {
  // The times come from the clock or from a replayed run log: any two.
  int64_t const secs = int64_t(Server::tStamp().time().value()) - int64_t(c->connectTime().value());
  return toString(toTime(int32_t(std::clamp<int64_t>(secs, 0, INT32_MAX))), 2 | 4);
}

// The kind-specific part of detaching an object from a client.
bool detachObject(Client* c, SvObject* o) {
  switch (o->objectType()) {
  case 16: {
    SvSchema* const s = o->getSchema();
    if (s != nullptr && s->lockedBy() == c) s->unlock();
    return false;
  }
  case 32: {
    if (o->isTemp()) return true;
    SvTable* const t = o->getTable();
    return t != nullptr && o->refCount() <= 0 && t->vers() != -1;
  }
  case 64:
    // A half-done Build must not leave an index short of the table.
    if (SvCursor* const cu = o->getCursor()) cu->abandonBuilds(c);
    return true;
  default:
    return o->isTemp();
  }
}

void abortTransHook(Client* c, bool keep) { Server::abortTrans(c, keep); }

// A client leaving with a sound transaction: without a journal nothing can
// be undone, so the server is marked corrupt; the journal's rollback joins
// here when it exists.
void lostTransHook(Client* c) {
  // A voted transaction is never undone here: led here it stays complete;
  // led elsewhere, delClient had its leader decide it, and one still in
  // doubt when the server goes down stays in the journal for the next
  // start to decide.
  if (c->hasReadyToEndTrans()) return;
  if (Server::journal() == nullptr) {
    Server::markCorrupt(c);
    return;
  }
  Server::journalRollBack(c);
}

}  // namespace

void Server::installRequests() {
  installClientHooks();
}

// ---- the server object -------------------------------------------------------------

ServerObject::ServerObject() {
  if (getId() != kServerObjectId) warning(String("The server object was not registered first."));
  object_ = this;
}

ServerObject::~ServerObject() {
  if (object_ == this) object_ = nullptr;
}

String ServerObject::name() const { return Server::name(); }

void ServerObject::getMethInfo(String& out) {
  String head = Server::name() + "(" + objType() + ")";
  out = head.center(50) + "\n";
}

long ServerObject::invalid(Client*) { return -1; }

// ---- Connect and clients ----------------------------------------------------------------

int32_t Server::identityVerdict(int32_t pid, int32_t uid, int32_t gid) {
  if (pid <= 0 || !Client::processExists(pid)) return kIdentityNoProcess;
  int32_t realUid = -1, realGid = -1;
  if (!Client::processIds(pid, realUid, realGid)) {
    // Gone between the two looks, or its ids cannot be read.
    return Client::processExists(pid) ? kIdentityOtherIds : kIdentityNoProcess;
  }
  if (uint32_t(realUid) != uint32_t(uid) || uint32_t(realGid) != uint32_t(gid)) return kIdentityOtherIds;
  // Nothing else waits on the request queue: its last sender is the one
  // whose Connect was just taken, and that must be the process named.
  if (svCon != nullptr) {
    int32_t const sender = svCon->idleRequestSender();
    if (sender > 0 && sender != pid) return kIdentityOtherSender;
  }
  return kIdentityOk;
}

bool Server::mayAdminister(Client const* c) {
  return c != nullptr && (c->uid() == 0 || (admin_sd != -1 && c->uid() == admin_sd));
}

bool Server::administrationRefused(Client const* c) {
  if (mayAdminister(c)) return false;
  exception(NoPrivilege(0, admin_sd != -1 ? admin_sd : 0));
  return true;
}

void Server::connectClient(int32_t headerId) {
  Connection* const con = SvObject::con;
  if (con == nullptr) return;
  int32_t word = 0;
  *con >> word;
  if (incompatibleVersions(word & 0x3fffffff)) {
    refuseConnect(headerId, IncompatibleVersions(word, kProtocolVersion));
    return;
  }
  int32_t uid = -1, gid = -1, stoppable = 0;
  String path, args, node, tty;
  *con >> uid >> gid >> path >> args >> node >> tty >> stoppable;
  if (con->bad()) {
    refuseConnect(headerId, InvalidData(String("Connect request cut short")));
    return;
  }
  if (verboseLevel_sd > 0)
    warning(String("== CONNECT(%d) == %S"), long(headerId & ~0x40000000), &path);
  // The identity claimed is checked against the kernel before anything
  // depends on it; a replayed run takes the recorded verdict, since its
  // processes are gone.
  int32_t const pid = headerId & ~0x40000000;
  int32_t verdict = kIdentityOk;
  if (runLog != nullptr && runLog->replaying()) {
    verdict = runLog->readInt();
  } else {
    verdict = identityVerdict(pid, uid, gid);
    if (runLog != nullptr && runLog->recording()) runLog->writeInt(verdict);
  }
  if (verdict == kIdentityNoProcess) {
    // kill of 0 or -1 reaches process groups, and a pid naming no process
    // could never be watched.
    refuseConnect(headerId, InvalidClientId(headerId));
    return;
  }
  if (verdict != kIdentityOk) {
    String const who = String("process ") + toString(long(pid)) + " as uid " + toString(long(uid)) + " gid " +
                       toString(long(gid));
    refuseConnect(headerId, InvalidLogin(who, String(verdict == kIdentityOtherSender
                                                          ? "the request was sent by another process"
                                                          : "the process runs under other ids")));
    return;
  }
  if (admin_sd != -1 && uid != admin_sd) {
    refuseConnect(headerId, AdminMode(toString(long(admin_sd))));
    return;
  }
  Client* const c = new Client(pid, path, args, uid, gid, node, tty, stoppable != 0);
  addClient(c);
  if (c->id() < 0) {
    for (size_t i = 0; i < clients.size(); ++i)
      if (clients[i] == c) c->setId(int32_t(i));
  }
  journalAddClient(c);
  SvReplyPort* const port = SvObject::port();
  if (port == nullptr) return;
  port->reply(headerId, 0, c->id());
  port->getRemainder();
  port->reply();
}

long ServerObject::disConnect(Client* c) {
  delClient(c);
  return 0;
}

long ServerObject::getClientsInfo(Client* c) {
  int32_t level = 0;
  *con >> level;
  if (con->bad()) return -1;
  houseKeeping(c);
  reply(c, clientCount());
  for (Client* const cl : clients) {
    if (cl == nullptr) continue;
    String proc = cl->proc();
    if (!cl->args().isNull()) proc += String(" ") + cl->args();
    *con << cl->pid() << cl->tty() << connectedFor(cl) << proc;
    if (level > 0) {
      String user, group;
      cl->getUser(user, group);
      *con << cl->node() << user << toString(cl->connectTime(), 2 | 4) << cl->nMessages();
      if (level > 1)
        *con << group << cl->nObjects() << cl->id() << int32_t(Client::stateLetter(cl->state())[0]);
    }
  }
  return 0;
}

long ServerObject::shut(Client* c) {
  if (administrationRefused(c)) return -1;
  String prog;
  *con >> prog;
  if (con->bad()) return -1;
  int32_t n = 0;
  for (Client* const cl : clients) {
    // A zombie can only disconnect; it is left alone here.
    if (cl == nullptr || !cl->stoppable() || cl->isZombie()) continue;
    if (prog.isNull() || prog == cl->proc()) {
      cl->stopAsap();
      ++n;
    }
  }
  return n;
}

// ---- schemas ------------------------------------------------------------------------------

long ServerObject::attach(Client* c) {
  if (!c->canAttach()) return -1;
  int32_t kind = 0, info = 0, create = 0;
  *con >> kind >> info >> create;
  if (con->bad() || kind != 16) return -1;
  String name;
  *con >> name;
  if (con->bad() || !acceptableSchemaName(name)) return -1;
  SvSchema* s = SvSchema::find(name);
  if (s == nullptr) {
    if (create == 0) return -1;
    String descr;
    *con >> descr;
    if (con->bad()) return -1;
    String const dbase = configFile != nullptr ? configFile->dbase() : String();
    s = SvSchema::consSchema(c, name, dbase, descr, c->uid());
    if (s == nullptr) {
      reply(c, -1);
      return -1;
    }
    if (s->id() == -1) {
      delete s;
      reply(c, -1);
      return -1;
    }
    c->addObject(s);
    reply(c, int32_t(s->getId()));
    *con << kVersion;
    return 0;
  }
  if (create != 0) return -1;
  if (s->lockedBy() != nullptr) {
    reply(c, Locked(s->lockedBy()->descr()));
  } else if (!s->allowed(c->uid(), c->gid(), 1)) {
    reply(c, NoPrivilege(1, s->getOwnerId()));
  } else {
    c->addObject(s);
    reply(c, int32_t(s->getId()));
  }
  *con << kProtocolVersion;
  if (info != 0) *con << s->getOwnerId() << s->descr();
  *con << s->privileges();
  s->sendEnums(con);
  return 0;
}

long ServerObject::detach(Client* c) {
  int32_t id = 0;
  *con >> id;
  if (con->bad()) return -1;
  GServObj* const o = GServObj::object(uint32_t(id));
  SvObject* const so = o != nullptr ? o->getSvObject() : nullptr;
  if (so == nullptr || so == this) return -1;
  return c->delObject(so);
}

long ServerObject::drop(Client* c) {
  String name;
  *con >> name;
  if (con->bad()) return -1;
  SvSchema* const s = SvSchema::find(name);
  if (s == nullptr) return -1;
  if (!s->allowed(c->uid(), c->gid(), 8)) {
    exception(NoPrivilege(8, -1));
    return -1;
  }
  if (!canLockSchema(s, c)) {
    exception(BeingUsed(s->refCount()));
    return -1;
  }
  // The caller's own attachment goes first: its list must not keep the
  // schema that is destroyed.
  c->delObject(s);
  SvSchema::destructSchema(c, s);
  return 0;
}

// ---- process lock, stop, checkpoints -------------------------------------------------

void Server::lockCheckpoints(bool on) {
  if (on)
    ++nProcessLock;
  else if (nProcessLock > 0)
    --nProcessLock;
}

long ServerObject::lock(Client* c) {
  if (!c->serverLock()) {
    c->setServerLock(true);
    lockCheckpoints(true);
  }
  return 0;
}

long ServerObject::free(Client* c) {
  if (c->serverLock()) {
    c->setServerLock(false);
    lockCheckpoints(false);
  }
  return 0;
}

long ServerObject::stop(Client* c) {
  if (administrationRefused(c)) return -1;
  int32_t force = 0;
  *con >> force;
  if (con->bad()) return -1;
  houseKeeping(c);
  if (clientCount() > 1 && force == 0) return -1;
  // The caller's own process lock and transaction are released first, so
  // that the server stops with neither.
  free(c);
  if (c->hasTrans()) {
    if (!c->transAborted())
      abortTrans(c, false);
    else
      c->delTrans();
  }
  for (Client* const cl : std::vector<Client*>(clients))
    if (cl != nullptr && cl != c) delClient(cl);
  if (nProcessLock != 0 || activeTrans != 0)
    warning(String("Stop: %d process locks and %d transactions remain."), long(nProcessLock), long(activeTrans));
  int32_t result = 0;
  if (corrupt && force == 0) {
    result = -1;
  } else {
    // A forced stop of a corrupt server still writes its final checkpoints:
    // the state file records the parity and the stopping user.
    bool const forced = force != 0;
    if (currCP != 1) {
      chkPoint(forced, -1);
      ++timeStamp;
    }
    chkPoint(forced, c->uid());
  }
  // The reply is begun before the caller goes and sent by the dispatch
  // after it: removing a client drains what is already queued for it.
  reply(c, result);
  delClient(c);
  return result;
}

long ServerObject::checkPoint(Client*) {
  int32_t flags = 0;
  *con >> flags;
  if (con->bad()) return -1;
  cpTime = true;
  bool const noJournal = journal_ == nullptr;
  bool const prevented = nProcessLock > 0 || (activeTrans > 0 && ((flags & 1) != 0 || noJournal));
  if (prevented) return (currCP & 1) | 16;
  int32_t const r = chkPoint((flags & 2) != 0, -1);
  return (currCP & 1) | (r == 0 ? 8 : r);
}

long ServerObject::newVersion(Client*) {
  nvTime = true;
  if (activeTrans == 0 && nProcessLock == 0) return newVers();
  return 0;
}

// ---- information and settings --------------------------------------------------------

long ServerObject::getInfo(Client* c) {
  int32_t kind = 0;
  *con >> kind;
  if (con->bad()) return -1;
  switch (kind) {
  case 1: {
    int32_t n = 0;
    String names;
    for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) {
      if (n++ > 0) names += "\t";
      names += s->name();
    }
    // No schema: the count alone, no body.
    if (n == 0) return 0;
    reply(c, n);
    *con << names;
    return n;
  }
  case 2: {
    reply(c, 0);
    SvConfigFile const* const f = configFile;
    if (f == nullptr) return 0;
    *con << f->getServerId() << f->getSchemas() << f->ckPointFreq() << f->ckPointLowBound()
         << f->ckPointUpBound() << f->numLocks() << f->numLocksPClient() << f->lkUnifyBound() << f->numNotifies()
         << f->journalDir() << f->journalBuff() << f->journalFlushFreq() << f->dbase() << f->stateFile()
         << f->cacheSz() << f->hkMsgBound() << int32_t((f->serverOptions() & 1) != 0 ? 1 : 0)
         << int32_t(f->tolerant() ? 1 : 0) << int32_t((f->serverOptions() & 2) != 0 ? 2 : 0)
         << int32_t(f->handleVersions() ? 1 : 0) << f->runLogFile() << f->transTimeOut()
         << f->pendLockNotifTime() << f->getNextSchemaId();
    return 0;
  }
  case 4: {
    TimeStamp ts;
    *con >> ts;
    if (con->bad() || ctrans == nullptr) return -1;
    for (CompleteTransaction const& t : *ctrans)
      if (t.stamp().cmp(ts) == 0) return 0;
    return -1;
  }
  case 8:
    return c->transAborted() ? 0 : 1;
  case 16:
    return 0;
  default:
    return -1;
  }
}

long ServerObject::setAttrib(Client* c) {
  if (administrationRefused(c)) return -1;
  int32_t ckFreq = 0, ckLow = 0, ckUp = 0, locks = 0, locksPC = 0, unify = 0, notifies = 0;
  String journalDir, dbase, runLog;
  int32_t jBuff = 0, jFlush = 0, cache = 0, hkBound = 0, backup = 0, tolerant = 0, mirroring = 0, versions = 0;
  *con >> ckFreq >> ckLow >> ckUp >> locks >> locksPC >> unify >> notifies >> journalDir >> jBuff >> jFlush >>
      dbase >> cache >> hkBound >> backup >> tolerant >> mirroring >> versions >> runLog;
  if (con->bad() || configFile == nullptr) return -1;
  SvConfigFile* const f = configFile;
  // Every setter runs, even after one refused.
  bool ok = true;
  ok = f->setCkPointFreq(ckFreq) && ok;
  ok = f->setCkPointLowBound(ckLow) && ok;
  ok = f->setCkPointUpBound(ckUp) && ok;
  ok = f->setHkMsgBound(hkBound) && ok;
  ok = f->setRunLogFile(runLog) && ok;
  ok = f->setCacheSz(cache) && ok;
  ok = f->setNumLocks(locks) && ok;
  ok = f->setNumLocksPClient(locksPC) && ok;
  ok = f->setLkUnifyBound(unify) && ok;
  ok = f->setNumNotifies(notifies) && ok;
  ok = f->setHandleVersions(versions != 0) && ok;
  ok = f->setJournalDir(journalDir) && ok;
  ok = f->setJournalBuff(jBuff) && ok;
  ok = f->setTolerant(tolerant != 0) && ok;
  ok = f->setDbase(dbase) && ok;
  ok = f->setServerOptions((backup != 0 ? 1 : 0) | (mirroring != 0 ? 2 : 0)) && ok;
  ok = f->setJournalFlushFreq(jFlush) && ok;
  ClientEnv::locksPerClient = f->numLocksPClient();
  ClientEnv::lockUnifyBound = f->lkUnifyBound();
  return ok ? 0 : -1;
}

long ServerObject::monitor(Client* c) {
  int32_t tabLocks = 0, recLocks = 0;
  for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) {
    int32_t t = 0, r = 0;
    s->nLocks(t, r);
    tabLocks += t;
    recLocks += r;
  }
  reply(c, 0);
  *con << Time::now() << int32_t(nTrans_) << int32_t(nMeth) << activeTrans << tabLocks << recLocks
       << int32_t(svcatalog::LockTables::lockPool().size()) << CacheBuffer::nMod() << CacheBuffer::size()
       << int32_t(BlockedFile::nTries()) << int32_t(BlockedFile::nHits());
  return 0;
}

long ServerObject::getDataFiles(Client* c) {
  int32_t flags = 0;
  *con >> flags;
  if (con->bad()) return -1;
  reply(c, 0);
  *con << int32_t(0) << int32_t(configFile != nullptr ? configFile->serverOptions() : 0);
  if ((flags & 1) != 0) {
    for (SvSchema* s = SvSchema::first(); s != nullptr && physLayout_sd != nullptr; s = s->next()) {
      for (int32_t i = 0; i < s->tablesDim(); ++i) {
        SvTabRep* const t = s->table(i);
        if (t == nullptr) continue;
        // A table without a layout entry has no file to list.
        PhysLayoutEntry* const e = physLayout_sd->find(svcore::logicalName(s->name(), t->name()));
        if (e == nullptr) continue;
        for (int32_t p = 0; p < e->nParts(); ++p) {
          *con << e->part(p) << t->phName();
          for (int32_t n = 0; n < t->nIndexSlots(); ++n)
            if (SvIndRep* const r = t->index(n)) *con << r->phName();
          *con << String();
        }
      }
    }
    *con << String();
  }
  String const highest(reinterpret_cast<char const*>(1));
  if ((flags & 2) != 0) *con << highest << (stateFile != nullptr ? stateFile->path() : String()) << String();
  if ((flags & 4) != 0)
    *con << highest << (configFile != nullptr ? configFile->getFileName() : String()) << String();
  if ((flags & 8) != 0) *con << String();
  return 0;
}

void Server::resetRequests() {
  corrupt = false;
  stopedBy = 0;
  clevel_ = -1;
  nTrans_ = 0;
  transSerial = 0;
  nextClientEvent = Time();
  resumeBeginHook = nullptr;
}

void Server::clearException() { Exception::last(Exception(0)); }

int32_t Server::newSchId() { return configFile != nullptr ? configFile->nextSchemaId() : -1; }

int32_t Server::nLocks() {
  int32_t n = 0;
  for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) {
    int32_t t = 0, r = 0;
    s->nLocks(t, r);
    n += t + r;
  }
  return n;
}

// ---- the client layer's hooks -------------------------------------------------------------

void Server::installClientHooks() {
  if (configFile != nullptr) {
    ClientEnv::locksPerClient = configFile->numLocksPClient();
    ClientEnv::lockUnifyBound = configFile->lkUnifyBound();
    ClientEnv::lockUnifyPercent = configFile->lkUnifyPercent();
    ClientEnv::pendLockNotifTime = configFile->pendLockNotifTime();
    ClientEnv::maxAttachsPerClient = configFile->maxAttachsPClient();
    ClientEnv::transTimeOut = configFile->transTimeOut();
  }
  ClientEnv::serverName = name_sd;
  ClientEnv::setStamp(&timeStamp);
  ClientHooks& h = ClientEnv::hooks();
  h.abortTrans = abortTransHook;
  h.eventAt = eventAt;
  h.unifyLocks = unifyLocks;
  h.detachObject = detachObject;
  h.lostTrans = lostTransHook;
  svcore::installHeldRequests();
}

void Server::unifyLocks(Client* c, svcatalog::LockObject*& lock) {
  for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) s->unifyLocks(c, lock);
}

void Server::eventAt(Time const& t) {
  if (t.isNull()) return;
  if (nextClientEvent.isNull() || t < nextClientEvent) nextClientEvent = t;
}

void Server::toBeWaken(Client* c) {
  if (c != nullptr) c->toBeWaken();
}

void Server::clearPendLock(Client* c) {
  if (c != nullptr) c->clearPendLock();
}

// ---- transactions --------------------------------------------------------------------------

bool Server::beginTrans(Client* c, int32_t number, int32_t options) {
  if (c == nullptr || c->hasTrans()) return false;
  if (cpTime && c->lockCount() == 0) return false;
  ++activeTrans;
  if (number == -1) number = ++transSerial;
  c->beginTrans(number, options);
  c->setRollbackStart(-1, -1);
  return true;
}

void Server::finishTransaction(Client* c) {
  c->freeAllLocks(false);
  if (activeTrans > 0) --activeTrans;
  if (activeTrans == 0 && nProcessLock == 0 && (cpTime || nvTime || shouldDoCP())) {
    if (nvTime)
      newVers();
    else
      chkPoint(false, -1);
  }
}

bool Server::abortTrans(Client* c, bool keep) {
  if (c == nullptr || !c->hasTrans()) return false;
  bool undone = false;
  if (journal_ != nullptr) {
    undone = journalRollBack(c);
  } else {
    c->freeAllLocks(false);
    markCorrupt(c);
  }
  // A leader that voted finished its transaction then.
  if (!(c->hasLeaderTrans() && c->hasReadyToEndTrans()))
    finishTransaction(c);
  if (!keep) c->delTrans();
  return undone;
}

void Server::markCorrupt(Client* c) {
  String const d = c != nullptr ? c->descr() : String();
  warning(appMsg("CORRUPTED"), &d);
  if (configFile == nullptr || !configFile->tolerant()) corrupt = true;
}

// ADDCLIENT for a new client.
void Server::journalAddClient(Client* c) {
  if (!journalOn() || c == nullptr) return;
  journal_->putAddClient(JournalClient::of(*c));
}

// Frees c's locks, journals the abort and undoes c's transaction through
// the installed rollback; without a rollback the server is marked corrupt.
// The locks go first: freeing them completes the transaction's deferred
// deletes (the rows it deleted, the slots its updates left), so the tables
// hold every change of the chain as a redo would, and undoing the chain
// from the ABORTTRANSACTION record back restores exactly what was there.
bool Server::journalRollBack(Client* c) {
  if (journal_ == nullptr || c == nullptr) return false;
  c->freeAllLocks(false);
  if (journalOn()) {
    journal_->putAbortTransaction(c);
    if (!journal_->ok()) journalFailed();
  }
  bool const undone = rollbackHook != nullptr && rollbackHook(c);
  c->freeAllLocks(false);
  if (!undone) {
    markCorrupt(c);
    return false;
  }
  return true;
}
