// Client: one connected client process as the server sees it: its
// identity (what the Connect request sends), its state, its transaction and
// the lock side the lock manager keeps for it. Held requests and attached
// objects join it with the parts that use them.
//
// State machine: ready -> waiting for a lock (`waitFor`) or for a
// transaction to begin -> ready again (`toBeWaken`, `clearPending`); ready
// -> zombie (final). The lock and notify lists and the waiting entry are
// data here: the lock manager (one layer up, a friend) links and unlinks
// them, since only it knows the entries' layout.
//
// Invariants: the client id is -1 until the registry assigns a slot; the
// identity never changes after construction; the lock count equals the
// length of the lock list; a client holds at most one transaction; the
// next event is the earlier of the lock give-up and the pending-lock
// notification times, null when both are.
#pragma once

#include <svobject/Coroutine.h>
#include <zfound/Exception.h>
#include <zfound/String.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

#include <cstdint>
#include <memory>
#include <vector>

class SvObject;
class Transaction;

namespace svcatalog {
struct LockObject;
struct NotifyLock;
class ClientLocks;
}  // namespace svcatalog

class Client {
public:
  enum ClientState : int32_t { STATE_READY = 0, STATE_BLK_LOCK = 1, STATE_BLK_TRANS = 2, STATE_ZOMBIE = 3 };

  // pid, program path, arguments, uid, gid, node, terminal, stoppable.
  Client(int32_t pid, String const& path, String const& args, int32_t uid, int32_t gid, String const& node,
         String const& tty, bool stoppable);
  // Leaves the wake-up list, frees every lock, hands a sound transaction to
  // the server (rollback, or the server marked corrupt without a journal),
  // then detaches its cursors and every other object, last first.
  ~Client();
  Client(Client const&) = delete;
  Client& operator=(Client const&) = delete;

  // proc [" " args] ":" user name ":" node ":" tty ":" pid.
  String descr() const;
  // User and group names of the client's uid and gid.
  void getUser(String& user, String& group) const;
  // False when the process is gone: kill(pid, 0) fails other than with
  // EPERM, or the pid now belongs to a process started after the Connect.
  // A sound transaction idle for TransTimeOut seconds is aborted with
  // ZombieClient and the client becomes a zombie.
  bool heartBeat();
  // Sends SIGTERM to the client's process.
  void stopAsap() const;
  // True when pid names a single live process (kill(pid, 0) succeeds or
  // fails with EPERM); pid <= 0 never does.
  static bool processExists(int32_t pid);
  // The start time of process pid in clock ticks since boot, -1 when it
  // cannot be read.
  static int64_t processStartTime(int32_t pid);
  // The effective user and group ids of process pid as the kernel reports
  // them (/proc/<pid>/status); false when they cannot be read (no such
  // process, pid <= 0).
  static bool processIds(int32_t pid, int32_t& uid, int32_t& gid);
  // The start time recorded at Connect (-1: unknown, not checked); set
  // directly to stand for a pid handed on to another process.
  int64_t processStart() const { return procStart_; }
  void setProcessStart(int64_t t) { procStart_ = t; }

  // ---- attached objects ----
  // False, with TooManyAttachs(MaxAttachsPerClient) as the pending error,
  // when the limit (above 0) is reached.
  bool canAttach() const;
  // Appends o and counts one attach more on it; false when it cannot.
  bool addObject(SvObject* o);
  // Detaches o: out of the list, one attach less, destroyed as its kind
  // asks; -1 when it was not attached, else 0.
  int32_t delObject(SvObject* o);
  // Takes every entry of o out of the list, one attach less each, without
  // destroying it (its owner is about to); the number of entries taken.
  int32_t takeObject(SvObject const* o);
  // Index of o in the list, -1 when absent.
  int32_t findObject(SvObject const* o) const;
  int32_t nObjects() const { return int32_t(objects_.size()); }
  SvObject* object(int32_t i) const { return i >= 0 && i < nObjects() ? objects_[size_t(i)] : nullptr; }

  // ---- process lock and journal positions ----
  bool serverLock() const { return serverLock_; }
  void setServerLock(bool on) { serverLock_ = on; }
  // Where the journal rollback of the current transaction starts.
  int32_t rollbackStart(int32_t i) const { return rbStart_[i & 1]; }
  void setRollbackStart(int32_t a, int32_t b) {
    rbStart_[0] = a;
    rbStart_[1] = b;
  }
  // "N", "L", "B", "Z" by state, "?" for any other value.
  static char const* stateLetter(int32_t st);

  int32_t id() const { return id_; }
  void setId(int32_t id) { id_ = id; }
  int32_t pid() const { return pid_; }
  String const& proc() const { return proc_; }
  String const& args() const { return args_; }
  int32_t uid() const { return uid_; }
  int32_t gid() const { return gid_; }
  String const& node() const { return node_; }
  String const& tty() const { return tty_; }
  Time const& connectTime() const { return connTime_; }
  ClientState state() const { return state_; }
  void setState(ClientState s) { state_ = s; }
  // Sets the state; leaving for any state but waiting-for-a-lock clears the
  // lock give-up time.
  void chgState(ClientState s);
  bool isReady() const { return state_ == STATE_READY; }
  bool isZombie() const { return state_ == STATE_ZOMBIE; }
  bool stoppable() const { return stoppable_; }
  int32_t nMessages() const { return nMsgs_; }
  void countMessage() { ++nMsgs_; }

  // ---- locks ----
  // Sends SIGUSR1 to the client's process (a notify lock fired).
  void notify() const;
  // Waits for `lock` (a waiting entry the client now owns): state waiting
  // for a lock, and the pending-lock notification armed when set.
  void waitFor(svcatalog::LockObject* lock);
  // The entry the client waits for, null when none.
  svcatalog::LockObject* pendingLock() const { return pendLock_; }
  // Destroys the waiting entry, if any.
  void clearPendLock();
  // Ends the wait: no waiting entry, state ready, appended to the wake-up
  // list so that its held request runs again.
  void toBeWaken();
  // Frees the waiting entry, every lock (forced; explicit ones only with
  // freeP) and every notify lock.
  void freeAllLocks(bool freeP);
  svcatalog::LockObject* locks() const { return locks_; }
  svcatalog::NotifyLock* notifyLocks() const { return notifyLocks_; }
  int32_t lockCount() const { return nLocks_; }
  // Deadlock victim choice against `cl` for `requester`: true when this
  // client should rather be the victim (its transaction is younger; a
  // client outside a transaction only when it is the requester).
  bool workedLess(Client const* cl, Client const* requester) const;

  // ---- held request ----
  // Stores a copy of co (its clone) as the held request, sets the state to
  // st and the lock give-up time to the server time plus seconds
  // (saturating), or none when seconds is -1 (any negative value).
  void setPending(Coroutine const& co, ClientState st, int32_t seconds);
  // Back to ready, pending-lock notification cleared, held request deleted.
  void clearPending();
  // The held request, null when none.
  Coroutine* pending() const { return pending_.get(); }

  // ---- time-outs ----
  // The time a held lock wait is given up; null for none.
  void lockGiveUp(Time const& t);
  // The time the holder of the awaited lock is told; null for none.
  void pendLockNotif(Time const& t);
  Time const& lockGiveUpTime() const { return giveUp_; }
  Time const& pendLockNotifTime() const { return notifAt_; }
  Time const& nextEvent() const { return nextEvent_; }

  // ---- transaction ----
  // Creates the transaction; asserts there is none.
  void beginTrans(int32_t number, int32_t options);
  void delTrans();
  Transaction* trans() const { return trans_.get(); }
  bool hasTrans() const { return trans_ != nullptr; }
  // Aborts the sound transaction with cause e and has the server roll it back.
  void abortTrans(Exception const& e);
  // The cause of the aborted transaction.
  Exception const& abortionCause() const;
  bool transAborted() const;
  bool hasOptimisticTrans() const;
  void transTic();
  // -1 without a transaction.
  int32_t transNum() const;
  TimeStamp const& transStamp() const;
  // The leader stamp / name; defaults without a transaction.
  TimeStamp leaderTS() const;
  String leader() const;
  void setTransLeader(String const& name, TimeStamp const& stamp);
  void readyToEnd();
  bool hasLeaderTrans() const;
  bool hasReadyToEndTrans() const;

private:
  friend class ClientEnv;
  friend class svcatalog::ClientLocks;

  void updateEvent(Time const& t);

  int32_t id_ = -1;
  int32_t pid_;
  String proc_;
  String args_;
  int32_t uid_;
  int32_t gid_;
  String node_;
  String tty_;
  Time connTime_;
  ClientState state_ = STATE_READY;
  int32_t nMsgs_ = 0;
  bool stoppable_;
  bool serverLock_ = false;
  int32_t rbStart_[2] = {-1, 0};
  int64_t procStart_ = -1;
  std::vector<SvObject*> objects_;
  Client* resumeNext_ = nullptr;
  Time giveUp_;
  Time notifAt_;
  Time nextEvent_;
  svcatalog::LockObject* pendLock_ = nullptr;
  svcatalog::LockObject* locks_ = nullptr;
  svcatalog::NotifyLock* notifyLocks_ = nullptr;
  int32_t nLocks_ = 0;
  std::unique_ptr<Transaction> trans_;
  std::unique_ptr<Coroutine> pending_;
};
