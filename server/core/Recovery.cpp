// Recovery and rollback: the start's forward replay of the journal, the
// end of the restart, and the undoing of one transaction along its
// client's chain of records.
//
// State machine of a restart:
//   idle --beginRestart--> replaying (restarting and logDisable set; the
//     journal reading forwards from the state file's position, or from the
//     oldest file)
//   replaying --readJournalFiles (one pass over every file there)--> replayed
//   replayed --endRestart--> idle (voted transactions decided once, every
//     rebuilt client deleted, its open transaction rolled back and then
//     journalled as ABORTTRANSACTION at the end of the file replayed)
//   A mirror stays in replaying and calls readJournalFiles again each round.
//
// Damage never reaches an assertion: a damaged record, a row to update or
// delete that is missing, a record of an unknown client or with a changed
// transaction number is a fatal report naming the file, the offset and the
// transaction; the process ends with status 1 before the state file is
// written, so the restart can be tried again (with -i to skip the
// transaction). A change made outside a transaction (number -1) is redone
// and never rolled back. A schema made after the last checkpoint is made
// again over the directory its creation left. The rows a transaction had
// deleted when the last checkpoint was taken (its ACTIVETRANS entry) are
// deleted when the replay commits it and stay when it is rolled back.
#include <svcore/Journal.h>
#include <svcore/Server.h>
#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>

#include <sindex/SvIndex.h>
#include <svcatalog/LockObject.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/SvTable.h>
#include <svcatalog/TableEnv.h>
#include <svobject/Client.h>

#include <zfound/Exception.h>
#include <zfound/Message.h>

#include <unistd.h>

#include <map>
#include <utility>
#include <vector>

int32_t Server::transFound = 0;
int32_t Server::transRolledBack = 0;
bool Server::activeTransSeen = false;
std::vector<Client*> Server::replayed;

namespace {

void verbose(String const& text) {
  if (Server::verboseLevel() > 0) warning(String("%S"), &text);
}

void setLogDisable(bool on) {
  Server::logDisable = on;
  svcatalog::TableEnv::logDisable = on;
}

// The fatal report of a journal that can't be replayed: what is wrong
// (file and offset included) and the transaction; the process ends with
// status 1 before any checkpoint, so the checkpoint state stays as it was.
[[noreturn]] void damaged(String const& what, int32_t transNum) {
  String text = String("Journal damaged: ") + what;
  if (transNum != -1)
    text = text + ", transaction #" + toString(transNum) + "; restart with -i " + toString(transNum) +
           " to skip it";
  error(String("%S"), &text);
  _exit(1);
}

// The deferred deletes of each replayed transaction, from the first
// ACTIVETRANS: rows deleted before the last checkpoint, still in the files.
std::map<Client*, std::vector<std::pair<SvTable*, int32_t>>> replayedDefDels;

void forgetDefDel(Client* c, SvTable* t, int32_t recno) {
  auto it = replayedDefDels.find(c);
  if (it == replayedDefDels.end()) return;
  auto& v = it->second;
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i].first == t && v[i].second == recno) {
      v.erase(v.begin() + long(i));
      return;
    }
}

// Ends a replayed transaction that commits, without the run-time
// follow-ups (no checkpoint is taken in the middle of a replay): the deletes
// it made before the last checkpoint are completed with its locks. (A
// rollback drops the transaction's list first: those rows stay.)
void endReplayed(Client* c) {
  auto it = replayedDefDels.find(c);
  if (it != replayedDefDels.end()) {
    for (auto const& [t, recno] : it->second) {
      svcatalog::LockObject* lk = t->tabRep()->findLock(recno);
      if (lk != nullptr && lk->client == c) t->tabRep()->deferDel(lk);
    }
    replayedDefDels.erase(it);
  }
  c->freeAllLocks(false);
  if (Server::activeTrans > 0) --Server::activeTrans;
}

// The slot of a journalled client id: the server's client table, or on a
// mirror a table of its own, so that the primary's replayed clients and
// the mirror's own readers never share an id.
Client*& replaySlot(int32_t id) {
  std::vector<Client*>& t = Server::mirror() ? Server::replayed : Server::clients;
  if (t.size() <= size_t(id)) t.resize(size_t(id) + 1, nullptr);
  return t[size_t(id)];
}

Client* replayClient(int32_t id) {
  if (id < 0 || id > Server::kMaxReplayedClient) return nullptr;
  std::vector<Client*> const& t = Server::mirror() ? Server::replayed : Server::clients;
  return size_t(id) < t.size() ? t[size_t(id)] : nullptr;
}

String where(Journal const* j, int32_t offset) { return j->fileName() + " at offset " + toString(offset); }

// The record number of the row in t's buffer by its primary key, or -1.
int32_t findRow(SvTable* t) {
  SvIndex* pk = t->index(0);
  if (pk == nullptr) return -1;
  pk->buildKey(t->buffer(), 0);
  int32_t const found = pk->findKey(nullptr, SvIndex::kExact);
  pk->unLock();
  Exception::last(Exception(0));
  return found > 0 ? found : -1;
}

void showRow(char const* what, SvTable* t) {
  if (Server::verboseLevel() <= 1) return;
  String row;
  t->load(row);
  verbose(String(what) + row);
}

}  // namespace

// The rollback of c's transaction from its chain, with the notice that
// names the client, the cause and the transaction.
bool Server::rollBackClient(Client* c) {
  if (c == nullptr || !c->hasTrans()) return false;
  String const cause = c->transAborted() && c->abortionCause().code() != 0
                           ? c->abortionCause().message()
                           : appMsg(restarting ? "FAILURE" : "UNKNOWN");
  String const d = c->descr();
  notice(appMsg("ROLLBACK"), &d, &cause, c->transNum());
  return rollBack(c, c->rollbackStart(0), c->rollbackStart(1));
}

void Server::useTimeStamp(TimeStamp const& ts) {
  timeStamp = ts;
  if (timeStamp.cmp(lastChkPoint) <= 0) {
    timeStamp.setTime(lastChkPoint);
    ++timeStamp;
  }
}

bool Server::restart() {
  rollbackHook = &rollBackClient;
  if (journal_ == nullptr) return false;
  beginRestart();
  bool const any = readJournalFiles();
  if (mirror_sd) return any;
  endRestart();
  chkPoint(false, -1);
  return any;
}

void Server::beginRestart() {
  restarting = true;
  setLogDisable(true);
  activeTransSeen = false;
  String name;
  int32_t offset = -1;
  if (stateFile != nullptr) {
    name = stateFile->journalFile;
    offset = stateFile->journalPos;
  }
  if (name.isNull() || offset < Journal::kPrefixSize || !journal_->restart(name, offset)) {
    // No position: replay from the oldest file of the directory.
    journal_->restart(String(), -1);
    journal_->nextFile();
  }
}

bool Server::readJournalFiles() {
  Journal* const j = journal_;
  TimeStamp const saved = timeStamp;
  transFound = 0;
  transRolledBack = 0;
  bool answer = false;
  for (;;) {
    if (verboseLevel() > 0) {
      if (j->ok())
        verbose(String("\nReading journal from file ") + j->baseName());
      else
        verbose(String("\nJournal file empty "));
    }
    for (;;) {
      int32_t cid = -1, nt = -1, offset = -1, length = -1;
      SvTable* t = nullptr;
      int32_t const kind = j->nextOp(cid, nt, t, offset, length);
      if (kind == -1) break;
      if (kind == Journal::kDamaged) damaged(j->damage(), j->lastTransNum());
      if (verboseLevel() > 0)
        verbose(String("C#") + toString(cid) + ", T#" + toString(nt) + ", op #" + toString(kind) + ", offset " +
                toString(offset) + ", len " + toString(length) + " " + Journal::opName(kind));
      if (nt != -1 && ignoreTrans(nt)) {
        warning(String("Ignoring transaction #%d"), nt);
        continue;
      }
      answer = true;
      Client* c = nullptr;
      if (cid != -1) {
        c = replayClient(cid);
        if (c == nullptr) damaged(where(j, offset) + ": client #" + toString(cid) + " is not registered", nt);
        if (nt != -1) {
          if (c->hasTrans() && c->transNum() != nt)
            damaged(where(j, offset) + ": transaction number " + toString(nt) + " of client #" + toString(cid) +
                        " differs from its transaction #" + toString(c->transNum()),
                    nt);
          if (!c->hasTrans()) {
            beginTrans(c, nt, 0);
            ++transFound;
          }
          c->setRollbackStart(offset, length);
          if (c->transAborted()) continue;
        }
        if (verboseLevel() > 1) {
          verbose(String("Client: ") + c->descr());
          if (t != nullptr) verbose(String("Table: ") + t->name());
        }
      }
      if (!replayRecord(kind, c, t, offset, nt)) damaged(where(j, offset) + ": " + j->damage(), nt);
    }
    if (j->ok()) {
      bool const deletable = configFile != nullptr && configFile->serverOptions() == 0;
      if (!mirror_sd && deletable) deferUnlink(j->fileName(), String(), String());
      if (mirror_sd && j->closed()) {
        // The primary closes a file before its checkpoint records the next
        // one in its state file, and a crash in between restarts it from
        // the closed file: a mirror deletes the file before the one it
        // finished, never the finished one itself.
        String const prev(j->prefix().prev);
        if (deletable && prev.length() > 0) deferUnlink(j->getDir() + String("/") + prev, String(), String());
        chkPoint(false, -1);
      }
    }
    if (!j->nextFile()) break;
  }
  timeStamp = saved;
  return answer;
}

bool Server::replayRecord(int32_t kind, Client* c, SvTable* t, int32_t offset, int32_t nt) {
  Journal* const j = journal_;
  switch (kind) {
  case Journal::ADD: {
    if (t == nullptr) return false;
    if (!j->getAdd(t, t->buffer())) return false;
    TimeStamp ts;
    char const* p = t->buffer() + 8;
    ts.load(p);
    useTimeStamp(ts);
    int32_t const found = findRow(t);
    showRow("Add\n", t);
    // A row that the transaction deleted before the last checkpoint and
    // adds again stays, as at run time.
    if (found != -1 && c != nullptr) forgetDefDel(c, t, found);
    t->addCurrRecord(nullptr, false, false, found, nullptr, 0);
    Exception::last(Exception(0));
    return true;
  }
  case Journal::DEL: {
    if (t == nullptr) return false;
    if (!j->getDel(t, t->buffer())) return false;
    int32_t const found = findRow(t);
    if (found == -1) damaged(where(j, offset) + ": the row to delete is missing", nt);
    showRow("Delete\n", t);
    t->delRecordNo(nullptr, found, nullptr, false);
    Exception::last(Exception(0));
    return true;
  }
  case Journal::UPDATE:
  case Journal::UPDATEPKEY: {
    if (t == nullptr) return false;
    if (kind == Journal::UPDATEPKEY && !j->getUpdateKey(t, nullptr)) return false;
    if (!j->getUpdateKey(t, t->buffer())) return false;
    int32_t const found = findRow(t);
    if (found == -1) damaged(where(j, offset) + ": the row to update is missing", nt);
    t->fillBuffer(found);
    showRow("Update\n", t);
    if (!j->getUpdateNew(t, t->buffer())) return false;
    TimeStamp ts;
    char const* p = t->buffer() + 8;
    ts.load(p);
    useTimeStamp(ts);
    showRow("", t);
    t->updateRecNo(nullptr, found, true, nullptr, false, 0);
    Exception::last(Exception(0));
    return true;
  }
  case Journal::ENDTRANSACTION:
    if (c == nullptr || !c->hasTrans()) return true;
    if (c->hasReadyToEndTrans() && c->leader() == name_sd) {
      dropCompleteTrans(c->leaderTS());
    } else if (!c->hasReadyToEndTrans() || c->leader() != name_sd) {
      endReplayed(c);
    }
    c->delTrans();
    return true;
  case Journal::ABORTTRANSACTION: {
    if (c == nullptr || !c->hasTrans()) return true;
    ++transRolledBack;
    int32_t const resume = j->currRdOffset();
    replayedDefDels.erase(c);
    abortTrans(c, false);
    j->resetRestart(resume);
    return true;
  }
  case Journal::ACTIVETRANS: {
    int32_t const n = j->getActiveTransTable();
    if (n < 0) return false;
    bool const apply = !activeTransSeen;
    activeTransSeen = true;
    for (int32_t i = 0; i < n; ++i) {
      JournalTrans e;
      if (!j->getTrans(e)) return false;
      Client* ec = apply ? replayClient(e.clientId) : nullptr;
      if (apply && ec == nullptr)
        damaged(where(j, offset) + ": client #" + toString(e.clientId) + " is not registered", e.transNum);
      if (ec != nullptr && !ec->hasTrans()) {
        beginTrans(ec, e.transNum, 0);
        ec->setRollbackStart(e.lastOffset, e.lastLength);
        ec->setTransLeader(e.leader, e.leaderStamp);
        if (!e.leader.isNull()) ec->readyToEnd();
        ++transFound;
      }
      for (;;) {
        int32_t word = 0, recno = -1;
        if (!j->getDefDel(word, recno)) return false;
        if (recno == -1) break;
        SvTable* dt = ec != nullptr ? j->locateTable(word) : nullptr;
        if (dt == nullptr) continue;
        // The row is still there as the checkpoint wrote it: held for
        // the transaction, and deleted when a replayed end commits it.
        bool created = false;
        dt->canWrite(ec, recno, created);
        Exception::last(Exception(0));
        replayedDefDels[ec].push_back({dt, recno});
      }
    }
    return true;
  }
  case Journal::READYTOEND: {
    String leader;
    int32_t count = 0;
    TimeStamp ls;
    if (!j->getReadyToEnd(leader, count, ls)) return false;
    if (c == nullptr || !c->hasTrans()) return true;
    c->setTransLeader(leader, ls);
    c->readyToEnd();
    if (leader == name_sd) {
      if (ctrans == nullptr) ctrans = new std::vector<CompleteTransaction>;
      ctrans->push_back(CompleteTransaction(count, ls));
      endReplayed(c);
    }
    return true;
  }
  case Journal::COMPLETETRANS: {
    int32_t const n = j->getCompleteTransTable();
    if (n < 0) return false;
    if (ctrans == nullptr) ctrans = new std::vector<CompleteTransaction>;
    ctrans->clear();
    for (int32_t i = 0; i < n; ++i) {
      TimeStamp ts;
      int32_t count = 0;
      if (!j->getCompleteTransItem(ts, count)) return false;
      if (int64_t(timeStamp.time().osTime()) - int64_t(ts.time().osTime()) <= kCompleteTransKeep)
        ctrans->push_back(CompleteTransaction(count, ts));
    }
    return true;
  }
  case Journal::ADDSCHEMA: {
    String name;
    int32_t id = 0;
    if (!j->getAddSchema(name, id)) return false;
    // Another schema's id would give the new schema's catalog objects the
    // object ids of that schema's: only a damaged record names one.
    for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next())
      if (s->id() == id && !(s->name() == name))
        damaged(where(j, offset) + ": schema id " + toString(id) + " belongs to schema " + s->name(), nt);
    if (SvSchema::find(name) == nullptr && configFile != nullptr) {
      // Made after the last checkpoint: its directory and files are there
      // and taken as they are; its rows follow in the journal.
      new SvSchema(nullptr, name, configFile->dbase(), String(), 0, id, true);
      configFile->usedSchemaId(id);
    }
    Exception::last(Exception(0));
    return true;
  }
  case Journal::DELSCHEMA: {
    String name;
    if (!j->getDelSchema(name)) return false;
    // A schema dropped after the last checkpoint stays dropped.
    if (SvSchema* s = SvSchema::find(name)) SvSchema::destructSchema(nullptr, s);
    Exception::last(Exception(0));
    return true;
  }
  case Journal::ADDCLIENT: {
    JournalClient id;
    if (!j->getAddClient(id)) return false;
    if (id.id < 0 || id.id > kMaxReplayedClient)
      damaged(where(j, offset) + ": client id " + toString(id.id) + " out of range", -1);
    Client*& slot = replaySlot(id.id);
    if (slot == nullptr) {
      slot = new Client(id.pid, id.path, id.args, id.uid, id.gid, id.node, id.tty, false);
      slot->setId(id.id);
    } else if (slot->id() != id.id) {
      damaged(where(j, offset) + ": client slot " + toString(id.id) + " holds another client", -1);
    }
    return true;
  }
  case Journal::DELCLIENT: {
    int32_t id = -1;
    if (!j->getDelClient(id)) return false;
    Client* dc = replayClient(id);
    if (dc != nullptr) replayedDefDels.erase(dc);
    if (dc != nullptr && mirror_sd) {
      replaySlot(id) = nullptr;
      delete dc;
    } else if (dc != nullptr) {
      delClient(dc);
    }
    return true;
  }
  default:
    damaged(where(j, offset) + ": unknown record kind " + toString(kind), nt);
  }
}

void Server::dropCompleteTrans(TimeStamp const& ts) {
  if (ctrans == nullptr) return;
  for (size_t i = 0; i < ctrans->size(); ++i)
    if ((*ctrans)[i].stamp().cmp(ts) == 0) {
      ctrans->erase(ctrans->begin() + long(i));
      return;
    }
}

void Server::endRestart() {
  verbose(String("Rolling back incomplete transactions"));
  // The transactions rolled back here, journalled as aborted once writing
  // resumes, so that a reader of this journal (a mirror) undoes them too.
  std::vector<JournalTrans> undone;
  for (size_t i = clients.size(); i-- > 0;) {
    Client* c = clients[i];
    if (c == nullptr) continue;
    if (c->hasTrans() && c->hasReadyToEndTrans()) {
      bool keep = c->leader() == name_sd;
      // Decided once: the answer required here, forced by -t when given.
      if (!keep) keep = isCompleteTrans(tqBehavior_sd, c->leader(), c->leaderTS(), true) == 1;
      if (keep) {
        if (c->leader() != name_sd) endReplayed(c);
        c->delTrans();
      }
    }
    if (c->hasTrans() && !c->transAborted()) {
      JournalTrans t;
      t.clientId = c->id();
      t.transNum = c->transNum();
      t.lastOffset = c->rollbackStart(0);
      t.lastLength = c->rollbackStart(1);
      if (t.lastOffset != -1) undone.push_back(t);
      replayedDefDels.erase(c);
      abortTrans(c, false);
    }
    delClient(c);
  }
  if (transFound < 1)
    verbose(String("No transactions were found."));
  else
    verbose(String("Rolled back ") + toString(transRolledBack) + " out of " + toString(transFound) +
            " transactions.");
  clients.clear();
  replayedDefDels.clear();
  activeTrans = 0;
  setLogDisable(false);
  restarting = false;
  // Appended to the file just replayed (the chains point into it), before
  // the checkpoint closes it.
  if (!undone.empty() && journal_ != nullptr && !mirror_sd && journal_->resumeWriting()) {
    for (JournalTrans const& t : undone) journal_->putAbortTransaction(t);
    journal_->flush();
    if (!journal_->ok()) journalFailed();
  }
}

bool Server::rollBack(Client* c, int32_t offset, int32_t length) {
  Journal* const j = journal_;
  if (j == nullptr) return false;
  TimeStamp const saved = timeStamp;
  bool const wasDisabled = logDisable;
  setLogDisable(true);
  bool ok = true;
  while (ok && offset != -1) {
    SvTable* t = nullptr;
    int32_t const at = offset;
    int32_t const kind = j->prevOp(t, offset, length);
    if (kind == -1) break;
    if (kind == Journal::kDamaged) {
      ok = false;
      break;
    }
    if (t == nullptr) continue;
    switch (kind) {
    case Journal::ADD: {
      if (!j->getAdd(t, t->buffer())) { ok = false; break; }
      int32_t const found = findRow(t);
      if (found != -1) t->delRecordNo(c, found, nullptr, false);
      break;
    }
    case Journal::DEL: {
      if (!j->getDel(t, t->buffer())) { ok = false; break; }
      TimeStamp ts;
      char const* p = t->buffer() + 8;
      ts.load(p);
      useTimeStamp(ts);
      t->addCurrRecord(c, false, false, findRow(t), nullptr, 0);
      break;
    }
    case Journal::UPDATE:
    case Journal::UPDATEPKEY: {
      if (!j->getUpdateKey(t, t->buffer())) { ok = false; break; }
      if (kind == Journal::UPDATEPKEY && !j->getUpdateKey(t, nullptr)) { ok = false; break; }
      int32_t const found = findRow(t);
      if (found == -1) { ok = false; break; }
      t->fillBuffer(found);
      if (!j->getUpdateOld(t, t->buffer())) { ok = false; break; }
      TimeStamp ts;
      char const* p = t->buffer() + 8;
      ts.load(p);
      useTimeStamp(ts);
      t->updateRecNo(c, found, true, nullptr, false, 0);
      break;
    }
    default:
      ok = false;
      break;
    }
    Exception::last(Exception(0));
    if (!ok) {
      String text = String("Rollback stopped: ") + where(j, at) + ": " + j->damage();
      warning(String("%S"), &text);
    }
  }
  if (!wasDisabled) setLogDisable(false);
  timeStamp = saved;
  return ok;
}
