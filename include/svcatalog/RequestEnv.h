// RequestEnv: what the request operations of schemas and tables ask of the
// server core above them (version checks, the lock wait setting, copy
// jobs), and the ways a request answers.
//
// Answering a request: an operation reads its arguments from SvObject::con
// and answers with `answer` (the reply's result word) before it writes the
// reply's body there; it returns the result. A failure records its error
// with `failWith` and returns -1; the dispatch then sends the error reply.
// `abortWith` answers an error that also aborts the client's transaction,
// so that a void request (whose reply is dropped) still reaches the
// client, as the abort cause of its transaction. Without a reply port (in
// process tests) the error of an abort stays pending for the caller to see.
//
// Without installed services each question gets the answer of a server
// that has none besides the clients' own object lists: every version
// accepted as sent, lock wait 0, cursors made directly, no copy jobs
// (refused with InvalidData).
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
  // temporary index); one holder more on it.
  virtual void addObject(Client* c, SvObject* o);
  // Detaches an object of the client; false when the client did not hold it.
  virtual bool delObject(Client* c, SvObject* o);
  // Holds a request that the server runs again through `rerun` when the
  // client is woken (kept for servers that hold requests that way; the
  // table requests hold themselves through Client::setPending). False:
  // not held.
  virtual bool hold(Client* c, std::function<long(Client*)> rerun, int32_t giveUp);
  // A cursor over index `index` of t, registered with the client; null
  // (error recorded) when refused.
  virtual SvObject* newCursor(Client* c, SvTable* t, int32_t index, int32_t mode, int32_t limit);
  // The server's check of a table version; may adjust it. False: refused.
  virtual bool checkVersion(int32_t& version);
  // Seconds a held lock request waits when the client leaves it to the
  // server (configuration LockWait).
  virtual int32_t lockWait();
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
long failWith(Exception const& e);
// Answers e and aborts the client's sound transaction with it; -1.
long abortWith(Client* c, Exception const& e);
// abortWith the pending error, a lock conflict (Locked) turned into
// ModLocked first.
long abortPending(Client* c);
// Starts the reply with the result v (a pending error is reported as a
// warning and cleared); v.
long answer(Client* c, long v);
// True while an error is pending.
bool errorPending();

// The earlier names of failWith and abortWith, kept for callers outside
// the schema and table requests.
inline long replyError(Exception const& e) { return failWith(e); }
inline long replyAbort(Client* c, Exception const& e) { return abortWith(c, e); }

}  // namespace svcatalog
