// Coroutine: a request that may have to wait (for a record or table lock,
// or for a checkpoint before a transaction may begin) without stopping the
// server's one thread.
//
// A handler builds the request on its stack and runs `exec` once. `exec`
// answers true when the request is answered: its reply words are in the
// server connection (SvObject::con), its result word set there
// (Connection::setRetValue), and an error, if any, is the pending exception
// (Exception::last). It answers false when it must wait: the lock manager
// has queued the client's wait, nothing was answered, and the handler hands
// a copy to the client (Client::setPending). When the wait ends the client
// joins the wake-up list and the server runs the stored copy's `resume`,
// which answers the same way.
//
// Life: the stack object lives for one request; its clone lives in the
// client from setPending until clearPending (answered, wait given up, or
// client destroyed).
#pragma once

class Client;

class Coroutine {
public:
  Coroutine() = default;
  virtual ~Coroutine() = default;
  // True: answered; false: must wait.
  virtual bool exec(Client* c) = 0;
  // Runs the request again after its wait; every kind simply calls exec.
  virtual bool resume(Client* c) = 0;
  // A new copy made by the copy constructor (owned by the caller).
  virtual Coroutine* clone() const = 0;

protected:
  Coroutine(Coroutine const&) = default;
  Coroutine& operator=(Coroutine const&) = delete;
};
