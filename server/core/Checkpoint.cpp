// Checkpoints and data versions: the server's state file seen from the
// server, the checkpoint that toggles the parity of every blocked file's
// header copy, and the numbered data versions kept in the state file.
//
// State machine of a checkpoint (one call of chkPoint):
//   clock checked -> corrupt? (refused unless forced) -> schemas verified
//   -> headers written, cache flushed, files synced -> parity toggled,
//   state file written -> configuration and layout stored -> deferred
//   unlinks carried out (no transaction active) -> held begins resumed.
// The journal's part of a checkpoint (a new journal file and its records,
// journalCheckpoint) runs between verification and the header writes.
//
// Invariants: the parity toggles exactly once per completed checkpoint;
// the server stamp is never behind the last checkpoint's once a
// checkpoint or readState has run.
#include <svcore/Server.h>
#include <svcore/ServerObject.h>

#include <svcore/StateFile.h>
#include <svcore/SvConnection.h>
#include <svcore/SvConfigFile.h>

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <sindex/SvIndex.h>
#include <svcatalog/SvSchema.h>
#include <svobject/Client.h>

#include <zfound/Connection.h>
#include <zfound/Date.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/OsFile.h>
#include <zfound/OsServ.h>
#include <zfound/PhysLayout.h>
#include <zfound/ProcessHooks.h>

#include <unistd.h>

bool Server::corrupt = false;
int32_t Server::stopedBy = 0;
int32_t Server::clevel_ = -1;
bool (*Server::resumeBeginHook)(Client* c) = nullptr;

namespace {

// Seconds in 366 days: a longer gap between checkpoints is reported.
constexpr int32_t kLongGap = 31622400;

String timeText(Time const& t) { return toString(t, 2 | 4); }

// A clock behind the last checkpoint: the server stamp continues after the
// checkpoint's, so stamps keep their order, and the gap is reported.
void continueAfterLastCheckpoint() {
  String const last = timeText(Server::lastChkPoint.time());
  String const now = timeText(Server::timeStamp.time());
  warning(appMsg("CORRUPTEDTIME"), &last, &now);
  Server::timeStamp = Server::lastChkPoint;
  ++Server::timeStamp;
}

}  // namespace

int32_t Server::chkPoint(bool force, int32_t marker) {
  if (lastChkPoint.cmp(timeStamp) > 0) continueAfterLastCheckpoint();
  if (corrupt) {
    if (!force) return 2;
    corrupt = false;
  }
  if (!lastChkPoint.time().isNull() &&
      int64_t(timeStamp.time().value()) - int64_t(lastChkPoint.time().value()) > kLongGap)
    warning(appMsg("TOOMUCHTIME"));
  bool const exhaustive = clevel_ == 1 || (clevel_ == 0 && nMeth == 0);
  for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) {
    if (!s->verify(exhaustive)) {
      closeFiles();
      error(String("ERROR CONDITION!"));
      return 4;
    }
  }
  String journalFile;
  int32_t const journalPos = journalCheckpoint(journalFile);
  int32_t const nIndex = SvIndex::updateAllHeaders(Time());
  int32_t const nFiles = BlockedFile::writeAllHeaders(TimeStamp());
  int32_t const nBuffers = CacheBuffer::flushAll(nullptr, false);
  OsFile::syncAllCache();
  ++timeStamp;
  lastTry = timeStamp.time();
  lastChkPoint = timeStamp;
  currCP = currCP == 0 ? 1 : 0;
  // The configuration (its schema list) and the disk layout are stored
  // before the state file makes this checkpoint the one a restart starts
  // from: stored after it, a crash in between restarted with schemas that
  // the layout did not have yet, and dropped them.
  if (configFile != nullptr) configFile->store();
  if (physLayout_sd != nullptr) physLayout_sd->store();
  writeState(journalPos, marker, journalFile, String());
  cpTime = false;
  ++timeStamp;
  if (activeTrans == 0 && defunlink != nullptr) {
    for (DeferFile const& d : *defunlink) unlinkFile(d.path());
    delete defunlink;
    defunlink = nullptr;
  }
  notice(appMsg("EXECCHKPOINT"), long(nIndex), long(nFiles), long(nBuffers));
  resumeBegTrans();
  return 0;
}

// A timed checkpoint is due; CkPointFreq 0 turns timed checkpoints off.
bool Server::shouldDoCP() {
  if (configFile == nullptr || configFile->ckPointFreq() == 0) return false;
  int64_t const elapsed = int64_t(Time::now().value()) - int64_t(lastTry.value());
  return elapsed > int64_t(configFile->ckPointFreq()) - int64_t(configFile->ckPointLowBound());
}

void Server::readState() {
  currCP = 1;
  stopedBy = 0;
  int32_t const pageKb = configFile != nullptr ? configFile->cachePageSize() : cachePageSize_sd / 1024;
  if (stateFile != nullptr && stateFile->readHeader()) {
    currCP = stateFile->parity == 0 ? 0 : 1;
    lastChkPoint = stateFile->lastChkPoint;
    stopedBy = stateFile->restartMarker;
    if (stateFile->cachePageSize != pageKb) {
      // Pages of another size would be read across their bounds: start-up
      // ends here.
      delete svCon;
      svCon = nullptr;
      error(appMsg("INCCACHEPAGESIZE"), long(pageKb), long(stateFile->cachePageSize));
      stop(1);
      _exit(1);
    }
  } else {
    lastChkPoint = timeStamp;
  }
  if (pageKb > 0) cachePageSize_sd = pageKb * 1024;
  lastTry = lastChkPoint.time();
  if (lastChkPoint.cmp(timeStamp) > 0) continueAfterLastCheckpoint();
}

void Server::writeState(int32_t pos, int32_t marker, String const& file, String const& second) {
  stopedBy = marker;
  if (stateFile == nullptr) return;
  stateFile->parity = currCP;
  stateFile->lastChkPoint = lastChkPoint;
  stateFile->restartMarker = marker;
  stateFile->journalPos = pos;
  stateFile->journalFile = file;
  stateFile->secondName = second;
  stateFile->cachePageSize = cachePageSize_sd / 1024;
  if (!stateFile->writeHeader()) warning(appMsg("CANTWRITESTFILE"), toCharPtr(stateFile->path()));
}

void Server::readStamps() {
  if (configFile == nullptr || !configFile->handleVersions()) return;
  currVersion = stateFile != nullptr && stateFile->readStamps() ? stateFile->nStamps : 0;
}

void Server::writeStamps() {
  if (configFile == nullptr || !configFile->handleVersions() || stateFile == nullptr) return;
  stateFile->nStamps = currVersion < 0 ? 0 : currVersion;
  if (!stateFile->writeStamps()) warning(appMsg("CANTWRITESTFILE"), toCharPtr(stateFile->path()));
}

// ---- data versions ----------------------------------------------------------------------

int32_t Server::newVers() {
  if (configFile == nullptr || !configFile->handleVersions() || corrupt || stateFile == nullptr) return -1;
  if (currVersion == -1) currVersion = 0;
  // The state file keeps 122 stamps; a version beyond them is refused
  // rather than written past the table.
  if (currVersion >= StateFile::kNStamps) return -1;
  for (SvSchema* s = SvSchema::first(); s != nullptr; s = s->next()) s->newVers();
  stateFile->versionStamp(currVersion) = timeStamp;
  ++currVersion;
  nvTime = false;
  chkPoint(false, -1);
  writeStamps();
  return currVersion;
}

TimeStamp& Server::versStamp(int32_t n) {
  static TimeStamp none;
  if (stateFile == nullptr) return none = TimeStamp();
  bool const on = configFile != nullptr && configFile->handleVersions();
  if (on && n >= 0 && n < currVersion && n < StateFile::kNStamps) return stateFile->versionStamp(n);
  return stateFile->versionStamp(0);
}

int32_t Server::nVersions() {
  if (configFile == nullptr || !configFile->handleVersions()) return -1;
  return currVersion < 0 ? 0 : currVersion;
}

bool Server::checkVersion(int32_t& v) {
  int32_t const cur = currVersion;
  int32_t const n = cur + 1;
  if (v == 0) {
    v = -1;
    return true;
  }
  if (v >= 1 && v <= n) {
    v = v == n ? -1 : v - 1;
    return true;
  }
  if (v > n) return false;
  if (v + cur >= 0) {
    v += cur;
    return true;
  }
  return false;
}

long ServerObject::getVersInfo(Client* c) {
  int32_t flag = 0;
  *con >> flag;
  if (con->bad()) return -1;
  if (flag == 0) {
    int32_t v = 0;
    *con >> v;
    if (con->bad()) return -1;
    return checkVersion(v) ? v : 0;
  }
  Date d;
  *con >> d;
  if (con->bad()) return -1;
  if (d.isNull()) {
    reply(c, currVersion - 1);
    for (int32_t i = 0; i + 1 < currVersion; ++i) *con << toDate(versStamp(i).time());
    return currVersion - 1;
  }
  int32_t const n = versNum(TimeStamp(toTime(d)));
  return n == currVersion ? -1 : n;
}

void Server::resumeBegTrans() {
  for (Client* const cl : clients) {
    if (cl == nullptr || cl->state() != Client::STATE_BLK_TRANS) continue;
    Exception::last(Exception(0));
    if (resumeBeginHook == nullptr || !resumeBeginHook(cl)) cl->chgState(Client::STATE_READY);
  }
}
