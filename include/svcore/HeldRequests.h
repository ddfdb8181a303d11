// The server side of held requests: the request kinds the core builds
// itself, the services the table and schema requests ask of the core (hold
// a request, make cursors and copy jobs, the LockWait setting), and the
// resumers the main loop and the checkpoint run.
//
// Life of a held request:
//   handler runs it --answered--> reply sent by the dispatch
//   handler runs it --must wait--> Client::setPending (state L or B), no reply
//   L: lock granted --> Client::toBeWaken (wake-up list) --> resumeWakeUpClients
//      runs it again: answered -> reply sent, pending cleared; must wait ->
//      stays held (the lock manager queued a new wait)
//   L: give-up time passed --> housekeeping answers DeadLock, pending cleared
//   B: checkpoint done --> resumeBegin runs it (it must answer)
//   transaction aborted meanwhile --> the abort cause is the answer
#pragma once

#include <svobject/Coroutine.h>

#include <cstdint>
#include <functional>

class Client;
class Server;

namespace svcore {

// A held request given as the function that runs it again: the request
// answers unless the function returns the table's held mark (-2). Its
// result becomes the reply's result word; a pending error the error reply.
class HeldCall : public Coroutine {
public:
  explicit HeldCall(std::function<long(Client*)> rerun) : rerun_(std::move(rerun)) {}
  HeldCall(HeldCall const&) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new HeldCall(*this); }

private:
  std::function<long(Client*)> rerun_;
};

// Begins the client's transaction, held while a checkpoint is due and the
// client holds no locks; answers 0 and the transaction's start stamp.
class BeginTransaction : public Coroutine {
public:
  BeginTransaction(Server* server, int32_t options) : server_(server), options_(options) {}
  BeginTransaction(BeginTransaction const&) = default;
  bool exec(Client* c) override;
  bool resume(Client* c) override { return exec(c); }
  Coroutine* clone() const override { return new BeginTransaction(*this); }
  int32_t options() const { return options_; }

private:
  Server* server_;
  int32_t options_;
};

// Runs the request of a client taken off the wake-up list, or of a client
// held at a transaction begin: the reply is started and, when the request
// answers, sent and the pending request cleared. True when it answered.
bool resumeClient(Client* c);
// Every client of the wake-up list, first in first out.
void resumeWakeUpClients();

// Gives up every held lock wait whose time has come: without a transaction
// the client is answered DeadLock (empty text) at once; with one, the
// transaction is aborted with DeadLock and the client resumed, so the abort
// cause is its answer. Then every client still waiting whose notification
// time has come gets PendLockNotif (the waited table's qualified name and
// the holder's description) at once, its time cleared and its request still
// held. Run by every housekeeping pass.
void giveUpWaits();

// Installs the services of the table and schema requests and the two
// resumers into the main loop and the checkpoint.
void installHeldRequests();

}  // namespace svcore
