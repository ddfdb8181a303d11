// ClientEnv: what clients and the lock manager read of the server, kept in
// the layer below them so that neither includes the server core: the lock
// settings, the server time stamp, the server's name, the wake-up list and
// a table of hooks into the layers above.
//
// The server core copies its configured settings here and installs the
// hooks it owns (transaction rollback, event times, unification over every
// schema); the catalog installs the lock manager's own hooks when its pools
// are set up. A null hook is a server that does nothing there.
//
// Wake-up list: a first-in first-out list of clients linked through each
// client's resume link. Invariants: a client is listed when its resume link
// is set or it is the tail; head and tail are both null or both set; a
// client is listed at most once.
#pragma once

#include <zfound/String.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

#include <cstdint>

class Client;
class Exception;
class SvObject;

namespace svcatalog {
struct LockObject;
}

struct ClientHooks {
  // Rolls back the client's aborted transaction (the server's abortTrans).
  void (*abortTrans)(Client* c, bool rollBack) = nullptr;
  // Lowers the server's next client event to t when earlier or unset.
  void (*eventAt)(Time const& t) = nullptr;
  // Merges the client's record locks into table locks in every open table;
  // `lock` is replaced by a table lock that covered it.
  void (*unifyLocks)(Client* c, svcatalog::LockObject*& lock) = nullptr;
  // Destroys a waiting lock entry (the lock manager's side).
  void (*destroyWaiting)(svcatalog::LockObject* lock) = nullptr;
  // Frees every lock and notify lock of the client; `freeP` also frees
  // explicitly asked locks.
  void (*freeAllLocks)(Client* c, bool freeP) = nullptr;
  // The kind-specific part of detaching o from c (o already out of c's
  // list); true when o is to be destroyed. Null: destroyed when temporary.
  bool (*detachObject)(Client* c, SvObject* o) = nullptr;
  // A client goes away with a sound transaction: the server rolls it back,
  // or marks itself corrupt when it cannot.
  void (*lostTrans)(Client* c) = nullptr;
};

class ClientEnv {
public:
  // Lock settings, defaults as the configuration's.
  static int32_t locksPerClient;     // allowance of locks per client
  static int32_t lockUnifyBound;     // record locks of a table that unify
  static int32_t lockUnifyPercent;   // 0..100 of a table's records; 0 off
  static int32_t pendLockNotifTime;  // seconds before a holder is told; 0 off
  static int32_t maxAttachsPerClient;  // objects a client may attach; 0 no limit
  static int32_t transTimeOut;       // idle seconds before a transaction is aborted; 0 off
  // The server's name (a transaction led by it is marked as leader).
  static String serverName;

  // The server time stamp: the one set by `setStamp`, else a stamp of this
  // layer's own that stays null.
  static TimeStamp const& stamp();
  // Points the server time stamp at `ts` (null: back to this layer's own).
  static void setStamp(TimeStamp const* ts);

  static ClientHooks& hooks();

  // ---- the wake-up list ----
  // Appends c unless it is listed already.
  static void addWakeUpClient(Client* c);
  // The head of the list, taken off; null when empty.
  static Client* wakeUpClient();
  // Unlinks c from any position; nothing when it is not listed.
  static void delWakeUpClient(Client* c);
  static bool isListed(Client const* c);

  // Settings, stamp, hooks and list back to their start values.
  static void reset();

private:
  static Client* head_;
  static Client* tail_;
};
