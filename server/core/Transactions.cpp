// The journal seen from the server, and the transaction requests with the
// server's part in two-phase commit.
//
// Transaction states, per client: none --BegTransact--> active
//   active --ReadyToEnd (vote, journalled and synced)--> ready to end
//     (on the leader also finished: locks freed, entry in the
//     complete-transactions table until its own EndTransact)
//   active | ready to end --EndTransact--> none (ENDTRANSACTION journalled,
//     synced when voted or asked)
//   active --AbortTransact or abort cause--> rolled back, none
//
// Journal: made at start from JournalDir; every checkpoint with no active
// transaction starts a new file (the old one listed for deletion after the
// checkpoint unless the options word keeps it), and writes the clients, the
// active transactions and the complete-transactions table into it.
#include <svcore/Journal.h>
#include <svcore/Server.h>
#include <svcore/ServerObject.h>

#include <svcore/HeldRequests.h>
#include <svcore/SvConfigFile.h>

#include <svcatalog/CatalogEnv.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvTabRep.h>
#include <svcatalog/TableEnv.h>
#include <svobject/Client.h>
#include <svobject/SvObject.h>
#include <svobject/Transaction.h>

#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/ProcessHooks.h>

#include <unistd.h>

#include <memory>

Journal* Server::journal_ = nullptr;
bool (*Server::rollbackHook)(Client* c) = nullptr;

namespace {

void putAddSchemaHook(Client* c, String const& name, int32_t id) {
  if (Server::journalOn()) Server::journal()->putAddSchema(c, name, id);
}

void putDelSchemaHook(Client* c, String const& name) {
  if (Server::journalOn()) Server::journal()->putDelSchema(c, name);
}

// The deferred deletes among c's locks, as (table word, record) pairs.
void putDefDels(Journal* j, Client* c) {
  svcatalog::LockObject* const first = c->locks();
  for (svcatalog::LockObject* l = first; l != nullptr;) {
    if ((l->type & svcatalog::LockObject::kDefDel) != 0 && l->record > 0) {
      SvTabRep* const rep = dynamic_cast<SvTabRep*>(l->table);
      if (rep != nullptr) j->putDefDel(Journal::tableWord(rep->oid()), l->record);
    }
    l = l->clNext;
    if (l == first) break;
  }
  j->putEndDefDels();
}

}  // namespace

void Server::openJournal() {
  if (journal_ != nullptr || configFile == nullptr || configFile->journalDir().isNull()) return;
  journal_ = new Journal(configFile->journalBuff(), configFile->journalDir());
  svcatalog::TableEnv::journal = journal_;
  svcatalog::CatalogHooks h = svcatalog::CatalogEnv::hooks();
  h.putAddSchema = putAddSchemaHook;
  h.putDelSchema = putDelSchemaHook;
  svcatalog::CatalogEnv::setHooks(h);
}

void Server::closeJournal() {
  if (svcatalog::TableEnv::journal == journal_) svcatalog::TableEnv::journal = nullptr;
  delete journal_;
  journal_ = nullptr;
}

bool Server::journalOn() { return journal_ != nullptr && !logDisable && !svcatalog::TableEnv::logDisable; }

bool Server::setJournalBuff(int32_t kb) { return journal_ != nullptr && journal_->setBuffLen(kb); }

void Server::journalFailed() {
  String text = appMsg("JOURNALFAILED", "JOURNALFAILED");
  if (journal_ != nullptr) text = text + " " + journal_->fileName();
  error(String("%S"), &text);
  ::stop(1);
  _exit(1);
}

int32_t Server::journalCheckpoint(String& file) {
  file = String("");
  if (journal_ == nullptr) return -1;
  Journal* const j = journal_;
  int32_t pos = -1;
  bool wrote = false;
  if (activeTrans == 0) {
    if (mirror()) {
      pos = j->currRdOffset();
    } else {
      // An idle checkpoint always starts a new file; the old one goes after
      // the checkpoint unless the options word keeps it.
      if (configFile != nullptr && configFile->serverOptions() == 0 && j->ok())
        deferUnlink(j->fileName(), String(), String());
      if (!j->newFile()) journalFailed();
      pos = j->currWrOffset();
    }
  }
  if (!j->ok()) journalFailed();
  if (!mirror()) {
    for (Client* c : clients) {
      if (c == nullptr) continue;
      int32_t const at = j->putAddClient(JournalClient::of(*c));
      if (pos == -1) pos = at;
      wrote = true;
    }
  }
  if (activeTrans > 0 && !mirror()) {
    int32_t const at = j->putActiveTransTable(activeTrans);
    if (pos == -1) pos = at;
    for (Client* c : clients) {
      if (c == nullptr || !c->hasTrans() || c->transAborted()) continue;
      if (c->hasLeaderTrans() && c->hasReadyToEndTrans()) continue;
      JournalTrans t;
      t.clientId = c->id();
      t.transNum = c->transNum();
      t.lastOffset = c->rollbackStart(0);
      t.lastLength = c->rollbackStart(1);
      t.leader = c->leader();
      t.leaderStamp = c->leaderTS();
      j->putTrans(t);
      putDefDels(j, c);
    }
    j->putEndActiveTrans();
    wrote = true;
  }
  if (ctrans != nullptr && !ctrans->empty()) {
    int32_t const at = j->putCompleteTransTable(int32_t(ctrans->size()));
    if (pos == -1) pos = at;
    for (CompleteTransaction const& t : *ctrans) j->putCompleteTransItem(t.stamp(), t.number());
    wrote = true;
  }
  if (wrote) j->flush();
  if (!mirror() && !j->ok()) journalFailed();
  file = j->baseName();
  return pos;
}

// ---- transaction requests ---------------------------------------------------

long Server::begTransaction(Client* c, int32_t options) {
  if (c->hasTrans()) {
    Exception::last(InTrans());
    return -1;
  }
  ++nTrans_;
  svcore::BeginTransaction begin(nullptr, options);
  if (begin.exec(c)) return 0;
  c->setPending(begin, Client::STATE_BLK_TRANS, -1);
  return 0;
}

long Server::endTransaction(Client* c, int32_t syncWish) {
  if (!c->hasTrans()) {
    SvObject::replyAbort(c, NotInTrans());
    return -1;
  }
  if (c->transAborted()) {
    std::unique_ptr<Exception> const cause(c->abortionCause().clone());
    SvObject::reply(c, *cause);
    c->delTrans();
    return -1;
  }
  bool const voted = c->hasReadyToEndTrans();
  if (voted && c->hasLeaderTrans()) {
    // The leader finished the transaction at its vote; its entry may have
    // been dropped meanwhile (aged out at a restart).
    deleteCompleteTrans(c->transStamp());
  } else {
    finishTransaction(c);
  }
  if (journalOn()) {
    journal_->putEndTransaction(c);
    if (voted || syncWish != 0) journal_->sync();
    if (!journal_->ok()) journalFailed();
  }
  c->delTrans();
  return 0;
}

long Server::readyToEnd(Client* c, String const& leader, int32_t nServers, TimeStamp const& stamp) {
  if (!c->hasTrans()) {
    Exception::last(NotInTrans());
    return -1;
  }
  if (c->transAborted()) return -1;
  if (c->hasReadyToEndTrans()) {
    // A second vote changes nothing.
    return 0;
  }
  bool const leads = !leader.isNull() && leader == name();
  if (leads && c->transStamp().cmp(stamp) != 0) {
    // The leader's stamp must be the transaction's own: a vote naming
    // another transaction is refused and nothing is journalled.
    Exception::last(InvalidData(String("ReadyToEnd: the leader stamp is not the transaction's")));
    return -1;
  }
  c->setTransLeader(leader, stamp);
  if (c->hasLeaderTrans()) {
    addCompleteTrans(stamp, nServers);
    finishTransaction(c);
  }
  if (journalOn()) {
    journal_->putReadyToEnd(c, leader, nServers, stamp);
    journal_->sync();
    if (!journal_->ok()) journalFailed();
  }
  c->readyToEnd();
  return 0;
}

long Server::abortTransaction(Client* c) {
  if (!c->hasTrans()) {
    Exception::last(NotInTrans());
    return -1;
  }
  if (c->transAborted()) {
    c->delTrans();
    return 0;
  }
  bool const undone = abortTrans(c, false);
  return undone ? 0 : -1;
}

// ---- complete-transactions table --------------------------------------------

void Server::addCompleteTrans(TimeStamp const& ts, int32_t n) {
  if (ctrans == nullptr) ctrans = new std::vector<CompleteTransaction>;
  ctrans->push_back(CompleteTransaction(n, ts));
}

bool Server::deleteCompleteTrans(TimeStamp const& ts) {
  if (ctrans == nullptr) return false;
  for (auto it = ctrans->begin(); it != ctrans->end(); ++it) {
    if (it->stamp().cmp(ts) == 0) {
      ctrans->erase(it);
      return true;
    }
  }
  return false;
}

void Server::clearCompleteTransTable() {
  if (ctrans != nullptr) ctrans->clear();
}

int32_t Server::nCompleteTrans() { return ctrans != nullptr ? int32_t(ctrans->size()) : 0; }

// ---- the requests on the server object --------------------------------------

long ServerObject::begTransaction(Client* c) {
  int32_t options = 0;
  *con >> options;
  if (con->bad()) return -1;
  return Server::begTransaction(c, options);
}

long ServerObject::endTransaction(Client* c) {
  int32_t syncWish = 0;
  *con >> syncWish;
  if (con->bad()) return -1;
  return Server::endTransaction(c, syncWish);
}

long ServerObject::readyToEnd(Client* c) {
  String leader;
  int32_t nServers = 0;
  TimeStamp stamp;
  *con >> leader >> nServers >> stamp;
  if (con->bad()) return -1;
  return Server::readyToEnd(c, leader, nServers, stamp);
}

long ServerObject::abortTransaction(Client* c) { return Server::abortTransaction(c); }
