// RequestEnv: what the request operations of schemas and tables ask of the
// server core above them (the clients' object lists, version checks, the
// lock wait setting, held requests, cursors and copy jobs), and the three
// ways a request answers.
//
// Answering a request: an operation reads its arguments from SvObject::con,
// writes the body of its reply there and returns the reply's result word.
// A failure records its error as the last exception and returns -1; the
// dispatch then sends the error reply instead (the body written is
// dropped). replyAbort also aborts the client's open transaction with the
// error, so that a void request (whose reply is dropped) still reaches the
// client, as the abort cause of its transaction. replyValue answers a value
// and drops (as a warning) an error left pending by the work before it.
//
// Without installed services each question gets the answer of a server
// that has none: attaching allowed, objects owned by nobody, every version
// accepted as sent, lock wait 0, no held requests (a request that would
// wait answers DeadLock at once), no cursors and no copy jobs (refused with
// InvalidData).
//
// Invariants: the installed services outlive their use; reset() puts the
// defaults back.
#pragma once

#include <cstdint>
#include <functional>

#include <zfound/String.h>

class Client;
class Exception;
class SvObject;
class SvTable;

namespace svcatalog {

class RequestServices {
public:
  virtual ~RequestServices() = default;
  // False (the client's last error recorded) when it may hold no more.
  virtual bool canAttach(Client* c);
  // Registers an object the client now holds (attachment, cursor, copy job,
  // temporary index) and raises its reference count.
  virtual void addObject(Client* c, SvObject* o);
  // Removes (and, when it was the last holder of a client-owned object,
  // destroys) an object of the client; false when the client did not hold it.
  virtual bool delObject(Client* c, SvObject* o);
  // The server's check of a table version; may adjust it. False: refused.
  virtual bool checkVersion(int32_t& version);
  // Seconds a held lock request waits when the client leaves it to the
  // server (configuration LockWait).
  virtual int32_t lockWait();
  // Holds the client's request: it waits for a lock (its entry queued by the
  // lock manager); `rerun` is the request to run again when the client is
  // woken, giving up after giveUp seconds (0: never). False: the server
  // cannot hold requests.
  virtual bool hold(Client* c, std::function<long(Client*)> rerun, int32_t giveUp);
  // A cursor over index `index` of t, registered with the client; null
  // (error recorded) when refused.
  virtual SvObject* newCursor(Client* c, SvTable* t, int32_t index, int32_t mode, int32_t limit);
  // A copy job from `from` to `to`; null (error recorded) when refused.
  virtual SvObject* newCopy(Client* c, SvTable* from, SvTable* to);
};

class RequestEnv {
public:
  static RequestServices& services();
  // Null puts the defaults back.
  static void install(RequestServices* s);
  static void reset() { install(nullptr); }
};

// Records e as the request's error; -1.
long replyError(Exception const& e);
// Records e and aborts the client's transaction (when it has one not yet
// aborted) with it; -1.
long replyAbort(Client* c, Exception const& e);
// replyAbort with the pending error, a lock conflict (Locked) turned into
// ModLocked first.
long replyAbortPending(Client* c);
// The value v; a pending error is reported as a warning and cleared.
long replyValue(long v);
// True while an error is pending.
bool errorPending();

}  // namespace svcatalog
