// The in-doubt question: a transaction this server voted for (ready to
// end) whose outcome lies with its leader server is ended or aborted.
//
// Decision order: a forced behaviour (2 end, 4 abort) answers at once; the
// run log being replayed answers next; otherwise the leader is asked as an
// ordinary client (GetInfo 4 with the leader's stamp; 0 means the leader
// completed the transaction). An unreachable leader is decided by
// behaviour 0 (end) or 1 (abort); without one, a caller that must have an
// answer (the end of recovery) ends the server with CANTCONNECT, and any
// other caller gets "undecided" at once so that the server's only thread
// never waits: the transaction stays in doubt with its locks and is asked
// about again later. A leader that dies while answering counts as
// unreachable.
//
// A removed client (its process dead, or disconnected) whose voted
// transaction is led elsewhere moves through these states:
//   voted --leader answers 0--> ended (ENDTRANSACTION journalled, synced),
//     the client removed
//   voted --leader answers otherwise--> rolled back, the client removed
//   voted --leader unreachable or undecided--> in doubt: the client keeps
//     its slot (state zombie, so nothing is served under its id), its
//     transaction and its locks; checkpoints carry it as any active
//     transaction. Housekeeping asks again every inDoubtRetry seconds
//     (askInDoubt) and settles it as above.
//   A restart decides what is still in doubt once, at its end.
#include <svcore/Journal.h>
#include <svcore/RunLog.h>
#include <svcore/Server.h>

#include <svobject/Client.h>

#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/IpcConnection.h>
#include <zfound/Message.h>
#include <zfound/MsgHeader.h>

#include <unistd.h>

namespace {

void verbose(String const& text) {
  if (Server::verboseLevel() > 0) warning(String("%S"), &text);
}

// Outcome of the leader being unreachable.
int32_t unreachable(int32_t behaviour, String const& leader, bool mustAnswer) {
  if (behaviour == 0 || behaviour == 1) {
    verbose(String("\n\n*** Can't connect to server ") + leader +
            (behaviour == 0 ? "\nAssuming EndTransaction in a two phase commit transaction."
                            : "\nAssuming AbortTransaction in a two phase commit transaction."));
    return behaviour == 0 ? 1 : 0;
  }
  if (mustAnswer) {
    // Fatal: nothing of the restart is kept; it can be tried again.
    String const text = appMsg("CANTCONNECT") + " " + leader;
    error(String("%S"), &text);
    _exit(1);
  }
  String const text = appMsg("CANTCONNECT") + " " + leader;
  warning(String("%S"), &text);
  return -1;
}

}  // namespace

std::vector<Client*> Server::inDoubt;
int32_t Server::inDoubtRetry = 30;
int32_t Server::leaderReplyWait = 10;
Time Server::inDoubtAsked;

int32_t Server::isCompleteTrans(int32_t behaviour, String const& leader, TimeStamp const& ts, bool mustAnswer) {
  if (behaviour == 2) {
    verbose("\n\n*** Forcing EndTransaction in a two phase commit transaction.");
    return 1;
  }
  if (behaviour == 4) {
    verbose("\n\n*** Forcing AbortTransaction in a two phase commit transaction.");
    return 0;
  }
  String const asking = appMsg("QUERYINGLEADER") + " " + leader;
  notice(String("%S"), &asking);
  int32_t answer = -1;
  if (runLog != nullptr && runLog->replaying()) {
    answer = runLog->readInt();
  } else {
    Exception::last(Exception(0));
    // Found without connecting, so that a caller that may not wait bounds
    // the Connect's reply as well as the answer's: a leader that lives but
    // does not answer (busy asking this server in turn) is unreachable.
    DbConnection* const conn = DbConnection::findServer(leader, false, ConnMode(0));
    IpcConnection* const ipc = dynamic_cast<IpcConnection*>(conn);
    if (ipc != nullptr && !mustAnswer) ipc->setReplyLimit(leaderReplyWait);
    if (conn != nullptr && conn->status() != -1 && !conn->isConnected()) conn->connect(false);
    if (conn == nullptr || !conn->isValid() || conn->status() == -1) {
      if (conn != nullptr) DbConnection::dispose(conn);
      Exception::last(Exception(0));
      return unreachable(behaviour, leader, mustAnswer);
    }
    conn->begin(DbConnection::kServerObject, DBM_GETINFO);
    *conn << int32_t(4) << ts;
    answer = conn->execute();
    bool const dead = Exception::last().code() == ServerIsDead().code() || !conn->isValid() ||
                      (ipc != nullptr && ipc->timedOut());
    DbConnection::dispose(conn);
    if (dead) {
      Exception::last(Exception(0));
      return unreachable(behaviour, leader, mustAnswer);
    }
    if (runLog != nullptr && runLog->recording()) runLog->writeInt(answer);
  }
  if (answer == 0) {
    verbose("END");
    return 1;
  }
  Exception& e = Exception::last();
  if (e.code() != 0) {
    String const text = e.message();
    warning(String("%S"), &text);
    Exception::last(Exception(0));
    return 0;
  }
  verbose("ABORT");
  return 0;
}

bool Server::isInDoubt(Client const* c) {
  for (Client const* d : inDoubt)
    if (d == c) return true;
  return false;
}

bool Server::settleVoted(Client* c) {
  int32_t const decision = isCompleteTrans(-1, c->leader(), c->leaderTS(), false);
  if (decision == -1) {
    if (!isInDoubt(c)) {
      inDoubt.push_back(c);
      inDoubtAsked = Time::now();
    }
    c->chgState(Client::STATE_ZOMBIE);
    return false;
  }
  for (auto it = inDoubt.begin(); it != inDoubt.end(); ++it)
    if (*it == c) {
      inDoubt.erase(it);
      break;
    }
  if (decision == 1)
    endTransaction(c, 1);
  else
    abortTrans(c, false);
  Exception::last(Exception(0));
  return true;
}

bool Server::askInDoubt() {
  if (inDoubt.empty()) return false;
  Time const now = Time::now();
  if (!inDoubtAsked.isNull() && now.value() - inDoubtAsked.value() < inDoubtRetry) return false;
  inDoubtAsked = now;
  bool settled = false;
  for (Client* c : std::vector<Client*>(inDoubt)) {
    if (!settleVoted(c)) continue;
    delClient(c);
    settled = true;
  }
  return settled;
}
