// The server's main loop and housekeeping: one request at a time from the
// connection, checked and handed to the addressed object; the periodic work
// (heartbeat, checkpoint timing, cache trickle) runs while the connection
// waits. Also the client registry (addClient / delClient), the assertion
// report's request context and the file-error handler.
//
// Loop state: Waiting (in the connection, housekeeping on every alarm) ->
// Dispatching (one request) -> Resuming (woken clients) -> Waiting; a Stop
// whose reply carried a result other than -1 leaves the loop.
#include <svcore/Server.h>
#include <svcore/HeldRequests.h>
#include <svcore/Journal.h>

#include <svcore/RunLog.h>
#include <svcore/SvConfigFile.h>
#include <svcore/SvConnection.h>

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <sindex/SvIndex.h>
#include <svobject/Client.h>
#include <svobject/ClientEnv.h>
#include <svobject/SvObject.h>

#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/MsgHeader.h>
#include <zfound/ProcessHooks.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <unistd.h>

SvConnection* Server::svCon = nullptr;
RunLog* Server::runLog = nullptr;
int64_t Server::nMethodsSinceLast = 0;
Client* Server::lastClient = nullptr;
int32_t Server::lastOId = 0;
int32_t Server::lastMsg = -1;
Time Server::lastTry;
bool Server::cpTime = false;
bool Server::nvTime = false;
int32_t Server::activeTrans = 0;
int32_t Server::nProcessLock = 0;
std::vector<Client*> Server::clients;
int32_t Server::admin_sd = -1;
int32_t Server::tqBehavior_sd = -1;
int32_t Server::checkLevel_sd = -1;
int32_t Server::hkMsgBound = 0;
void (*Server::resumeClientsHook)() = nullptr;
int32_t Server::retrySeconds = 30;

namespace {

// A housekeeping pass is replaying a recorded round (called by the run log).
bool replayRound = false;

// Consecutive EACCES / EFBIG retries, and when the last one came.
int32_t hardTries = 0;
time_t lastHardError = 0;

int32_t elapsedSince(Time const& t) {
  if (t.isNull())
    return 0;
  // A time read back from a file or a run log may lie any distance away:
  // the difference is taken in 64 bits and held to the 32-bit range.
  int64_t const d = int64_t(Time::now().value()) - int64_t(t.value());
  return int32_t(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));
}

String reportDescr(Client* c) { return c ? c->descr() : String("?"); }

// A request the loop refuses before dispatch gets an error reply; a void one
// is dropped with a warning instead: its sender reads no reply, so one sent
// anyway would answer the client's next request. A known client keeps the
// error, and its next request that waits for a reply gets it.
void refuseRequest(SvConnection* con, int32_t cid, int32_t msg, Exception const& e, Client* c = nullptr) {
  if (validSvMessage(msg) && isVoid(SvMessage(msg))) {
    String text = e.message() + " (dropped)";
    warning(String("%S"), &text);
    con->getRemainder();
    if (c != nullptr) c->setRefusal(e);
    return;
  }
  con->replyError(cid, e);
}

}  // namespace

// ---- the client registry -------------------------------------------------------

Client* Server::clientOfId(int32_t id) {
  if (id < 0 || size_t(id) >= clients.size())
    return nullptr;
  return clients[size_t(id)];
}

int32_t Server::clientCount() {
  int32_t n = 0;
  for (Client* c : clients)
    n += c != nullptr;
  return n;
}

void Server::addClient(Client* c) {
  for (size_t i = 0; i < clients.size(); ++i)
    if (!clients[i]) {
      clients[i] = c;
      c->setId(int32_t(i));
      return;
    }
  c->setId(int32_t(clients.size()));
  clients.push_back(c);
}

bool Server::delClient(Client* c) {
  if (!c)
    return true;
  bool disconnect = svCon ? svCon->drain(c) : false;
  if (c->serverLock()) {
    SV_ASSERT(nProcessLock > 0, "nProcessLock > 0");
    c->setServerLock(false);
    lockCheckpoints(false);
  }
  // A voted transaction led elsewhere is decided by its leader before the
  // client goes; undecided, the client stays in doubt with its locks.
  if (!restarting && c->hasTrans() && !c->transAborted() && c->hasReadyToEndTrans() && !c->hasLeaderTrans() &&
      !settleVoted(c))
    return disconnect;
  if (c->hasTrans() && !c->transAborted() && !(c->hasLeaderTrans() && c->hasReadyToEndTrans()) &&
      activeTrans > 0)
    --activeTrans;
  if (c->id() >= 0 && size_t(c->id()) < clients.size() && clients[size_t(c->id())] == c)
    clients[size_t(c->id())] = nullptr;
  if (lastClient == c)
    lastClient = nullptr;
  int32_t const id = c->id();
  delete c;
  if (journalOn() && id >= 0)
    journal_->putDelClient(id);
  return disconnect;
}

void Server::resumeWokenClients() {
  if (resumeClientsHook) {
    resumeClientsHook();
    return;
  }
  while (ClientEnv::wakeUpClient() != nullptr) {
  }
}

// ---- the main loop ------------------------------------------------------------------

void Server::execute() {
  for (;;) {
    int32_t oid = 0, msg = 0;
    int32_t cid = -1;
    try {
      cid = svCon->receive(oid, msg);
    } catch (RunLogError const& e) {
      // A replayed log that breaks its form ends the server.
      String text = String(appMsg(e.key, e.key)) + " " + e.file;
      error(String("%S"), &text);
      stop(1);
      return;
    }
    Exception::last(Exception(0));
    if (msg < 0 || msg >= DBM_LASTMSG) {
      refuseRequest(svCon, cid, msg, MsgOutOfBounds(msg));
      continue;
    }
    if (isConnect(msg)) {
      connectClient(cid);
      continue;
    }
    Client* c = clientOfId(cid);
    if (!c) {
      refuseRequest(svCon, cid, msg, InvalidClientId(cid));
      continue;
    }
    if (c->state() == Client::STATE_ZOMBIE) {
      refuseRequest(svCon, cid, msg, ZombieClient(cid));
      continue;
    }
    if (!GServObj::validObject(uint32_t(oid))) {
      refuseRequest(svCon, cid, msg, InvalidObjectId(oid), c);
      continue;
    }
    if (mirror_sd && mayModify(msg)) {
      refuseRequest(svCon, cid, msg, InvalidForMirror(String()), c);
      continue;
    }
    if (!isVoid(SvMessage(msg)) && !isDisconnect(SvMessage(msg))) {
      if (std::unique_ptr<Exception> refused = c->takeRefusal()) {
        refuseRequest(svCon, cid, msg, *refused);
        continue;
      }
    }
    ++nMeth;
    ++nMethodsSinceLast;
    lastOId = int32_t(uint32_t(oid) & ~0x70000000u);
    lastMsg = msg;
    lastClient = c;
    if (verboseLevel_sd > 0) {
      String text = toString(long(nMeth)) + ": oId(" + toString(lastOId) + ")." + GServObj::msgName(msg) +
                    " - Client " + toString(cid) + " (" + reportDescr(c) + ").";
      warning(String("%S"), &text);
    }
    c->countMessage();
    timeStamp.setUserId(c->uid());
    ++timeStamp;
    if (configFile && configFile->transTimeOut() != 0)
      c->transTic();
    GServObj* o = GServObj::object(uint32_t(oid));
    o->execute(msg, c);
    resumeWokenClients();
    // The result word of the Stop's reply: -1 refused, else accepted.
    if (isStop(msg) && int32_t(svCon->beginOfBuffer()[1]) != -1)
      return;
  }
}

// ---- housekeeping ---------------------------------------------------------------------

bool Server::isHouseKeepingTime() { return nMethodsSinceLast > int64_t(hkMsgBound); }

bool Server::heartBeat(Client* spare) {
  bool removed = false;
  for (size_t i = 0; i < clients.size(); ++i) {
    Client* c = clients[i];
    if (!c || c == spare || isInDoubt(c))
      continue;
    if (c->heartBeat())
      continue;
    if (runLog && runLog->recording())
      runLog->writeInt(int32_t(i));
    String descr = reportDescr(c);
    bool disconnected = delClient(c);
    if (!disconnected) {
      String text = String(appMsg("CLIENTDEATH", "Client died:")) + " " + descr;
      warning(String("%S"), &text);
    }
    removed = true;
  }
  return removed;
}

bool Server::houseKeeping(Client* spare) {
  bool work = false;
  bool replaying = runLog && runLog->replaying();
  bool logInUse = runLog && runLog->mode() != RunLog::Off;
  if (!replaying) {
    bool newSecond = timeStamp.setNow();
    if (!newSecond && !logInUse)
      return false;
  }
  if (replaying) {
    if (replayRound) {
      runLog->readHouseKeeping();
      resumeWokenClients();
    }
  } else {
    if (runLog)
      runLog->beginHouseKeeping();
    if (heartBeat(spare))
      resumeWokenClients();
    if (runLog)
      runLog->endHouseKeeping();
  }
  int32_t elapsed = elapsedSince(lastTry);
  int32_t freq = configFile ? configFile->ckPointFreq() : 0;
  if (!mirror_sd && configFile) {
    if (!cpTime && !nvTime) {
      if (freq != 0 && elapsed > freq - configFile->ckPointLowBound()) {
        cpTime = true;
        if (activeTrans == 0 && nProcessLock == 0) {
          chkPoint(false, -1);
          work = true;
        }
      }
    } else if (elapsed > freq + configFile->ckPointUpBound() && journal_ != nullptr) {
      // With a journal an overdue checkpoint runs now: the active
      // transactions go into the new journal file.
      cpTime = nvTime = false;
      chkPoint(false, -1);
      work = true;
    } else if (elapsed > freq + configFile->ckPointUpBound()) {
      // Without a journal a pending checkpoint or version is given up.
      String text = appMsg(nvTime ? "CANTDONEWVERS" : "CANTDOCHKPOINT", nvTime ? "Cannot take a new version."
                                                                              : "Cannot take a checkpoint.");
      warning(String("%S"), &text);
      lastTry = Time::now();
      cpTime = nvTime = false;
    }
  }
  // Removed clients whose voted transaction is still in doubt: their
  // leaders are asked again when due.
  if (!replaying && askInDoubt()) work = true;
  // A mirror replays what its primary journalled since the last round.
  if (mirror_sd && journal_ != nullptr) {
    if ((!journal_->ok() || journal_->updateHeader()) && readJournalFiles()) work = true;
  }
  // The journal: flushed every JournalFlushFreq seconds, and a checkpoint
  // (a new file) before its offsets near their 32-bit limit.
  if (journal_ != nullptr && !mirror_sd && configFile) {
    static Time lastJournalFlush;
    bool rotated = false;
    if (journal_->nearLimit()) {
      // Only an idle checkpoint starts a new file: with transactions active
      // the checkpoint is made pending, so that new transactions are held
      // and the last one to finish takes it.
      if (activeTrans == 0 && nProcessLock == 0) {
        chkPoint(false, -1);
        work = rotated = true;
      } else {
        cpTime = true;
      }
    }
    if (!rotated && configFile->journalFlushFreq() > 0 && elapsedSince(lastJournalFlush) >= configFile->journalFlushFreq()) {
      lastJournalFlush = Time::now();
      if (journal_->flush()) work = true;
      if (!journal_->ok()) journalFailed();
    }
  }
  if (!work) {
    // Headers of files left alone for MatureTime seconds go to disk, so a
    // crash loses little of a file nobody touches any more.
    int32_t mature = configFile ? configFile->matureTime() : 0;
    if (mature > 0 && !timeStamp.isNull()) {
      Time limit = timeStamp.time() - mature;
      SvIndex::updateAllHeaders(limit);
      BlockedFile::writeAllHeaders(TimeStamp(limit));
    }
    int32_t nMod = CacheBuffer::nMod();
    int32_t left = freq - elapsed;
    if (nMod > 0 && left > 0) {
      int32_t k = 2 * (nMod / left);
      if (k < 1)
        k = 1;
      if (k > 10)
        k = 10;
      if (k > nMod)
        k = nMod;
      CacheBuffer::flushSome(k);
      work = true;
    }
  }
  if (!nextClientEvent.isNull() && nextClientEvent <= timeStamp.time()) {
    svcore::giveUpWaits();
    // The next event, from every client's times.
    nextClientEvent = Time();
    for (Client* cl : clients)
      if (cl)
        eventAt(cl->nextEvent());
  }
  if (profiling_sd)
    profilePass();
  nMethodsSinceLast = 0;
  return work;
}

void Server::replayHouseKeeping() {
  replayRound = true;
  houseKeeping(nullptr);
  replayRound = false;
}

// ---- stop flag and file errors -----------------------------------------------------------

void Server::checkStopTime() {
  if (svCon && svCon->stopTime())
    stop(1);
}

int Server::errHandler(char const* text, int err) {
  if (!svcore::canRecover(err)) {
    error(String("%s"), text);
    return 1;
  }
  if (err == EACCES || err == EFBIG) {
    time_t now = time(nullptr);
    if (now - lastHardError > time_t(2 * retrySeconds + 5))
      hardTries = 0;
    lastHardError = now;
    if (++hardTries >= kHardErrorTries) {
      hardTries = 0;
      error(String("%s"), text);
      return 1;
    }
  }
  checkStopTime();
  warning(String("%s"), text);
  String retry = String(appMsg("RETRYMSG", "Retrying in seconds:"));
  warning(String("%S %d"), &retry, retrySeconds);
  if (retrySeconds > 0)
    sleep(unsigned(retrySeconds));
  return 0;
}

// The assertion report's request context: the last request dispatched.
void Server::reportLastRequest() {
  if (lastMsg < 0)
    return;
  warning(String("Last received method is..."));
  String text = toString(long(nMeth)) + ": oId(" + toString(lastOId) + ")." + GServObj::msgName(lastMsg) + " - " +
                reportDescr(lastClient);
  warning(String("%S"), &text);
}

void Server::resetLoop() {
  for (Client*& c : clients) {
    delete c;
    c = nullptr;
  }
  clients.clear();
  inDoubt.clear();
  inDoubtAsked = Time();
  nMethodsSinceLast = 0;
  lastClient = nullptr;
  lastOId = 0;
  lastMsg = -1;
  lastTry = Time();
  cpTime = nvTime = false;
  activeTrans = nProcessLock = 0;
  admin_sd = tqBehavior_sd = checkLevel_sd = -1;
  hkMsgBound = 0;
  replayRound = false;
  hardTries = 0;
}
