// TableEnv: what the tables ask of the parts of the server above them (the
// journal, clients' transactions, the lock manager, the clients' object
// lists), gathered behind interfaces that those parts install. The catalog
// never includes a server-core header.
//
// Without an installed piece each question gets the answer of a server
// that has it not: no journal (nothing appended), no transaction, no lock
// manager (canWrite grants nothing and records nothing), objects owned by
// nobody (a temporary index is destroyed directly).
//
// Invariants: every installed pointer outlives its use; reset() puts every
// piece back to "none".
#pragma once

#include <zfound/TimeStamp.h>

#include <cstdint>

class Client;
class SvObject;
class SvTabRep;
class SvTable;

namespace svcatalog {

struct LockObject;

// The journal's record writers used by the record primitives.
class TableJournal {
public:
  virtual ~TableJournal() = default;
  // ADD: the new record's image (slot length, prefix included).
  virtual void putAdd(Client* c, SvTable* t, int32_t recno, char const* image) = 0;
  // UPDATE (UPDATEPKEY when pKeyChanged): the new image first, the old one
  // second; oldRecno differs from recno when the record moved.
  virtual void putUpdate(Client* c, SvTable* t, int32_t recno, int32_t oldRecno, char const* newImage,
                         char const* oldImage, bool pKeyChanged) = 0;
  // DEL: the deleted record's image.
  virtual void putDel(Client* c, SvTable* t, int32_t recno, char const* image) = 0;
};

// A client's transaction as the record primitives see it.
class TableTransactions {
public:
  virtual ~TableTransactions() = default;
  virtual bool inTrans(Client const* c) const = 0;
  virtual bool hasOptimisticTrans(Client const* c) const = 0;
  // The start stamp of the client's transaction.
  virtual TimeStamp transStamp(Client const* c) const = 0;
};

// The record-lock operations of a table's lock manager that the record
// primitives call, with the lock manager's own names and meanings.
class RecordLocks {
public:
  virtual ~RecordLocks() = default;
  // Asks for a lock of `type` on `record`; true: granted (out set) or an
  // error recorded; false: the client must wait.
  virtual bool applyLock(SvTabRep* t, Client* c, int32_t record, uint16_t type, int32_t wait, bool acquire,
                         LockObject** out, bool& created) = 0;
  // Sets the deferred-delete flag; false when it was already set.
  virtual bool deferDel(SvTabRep* t, LockObject* lk) = 0;
  // Clears it; false when it was not set.
  virtual bool unDeferDel(SvTabRep* t, LockObject* lk) = 0;
  // Tests it.
  virtual bool deferredDel(SvTabRep* t, LockObject* lk) = 0;
  // Re-keys a held lock under a new record number.
  virtual void changeLock(SvTabRep* t, LockObject* lk, int32_t record) = 0;
  // Tells the clients that asked to be notified that the record changed.
  virtual void notifyClients(SvTabRep* t, int32_t record) = 0;
  // True when the lock belongs to the client.
  virtual bool ownedBy(LockObject const* lk, Client const* c) const = 0;
  // The number of deferred deletes pending on the table.
  virtual int32_t nDefDels(SvTabRep const* t) const = 0;
};

// The clients' lists of the server objects they hold.
class TableObjects {
public:
  virtual ~TableObjects() = default;
  // Releases (and destroys) an object a client created (a temporary index).
  virtual void delObject(Client* c, SvObject* o) = 0;
  // Takes an attachment out of every client's list before it is destroyed.
  virtual void takeFromClients(SvTable* t) = 0;
};

class TableEnv {
public:
  // Null while the server keeps no journal.
  static TableJournal* journal;
  // Journal writing suspended (replay, schema construction).
  static bool logDisable;
  static TableTransactions* transactions;
  static RecordLocks* locks;
  static TableObjects* objects;

  // A journal exists and writing is not suspended.
  static bool journalActive() { return journal != nullptr && !logDisable; }
  static bool inTrans(Client const* c);
  static bool hasOptimisticTrans(Client const* c);
  static TimeStamp transStamp(Client const* c);
  // Everything back to "none".
  static void reset();
};

}  // namespace svcatalog
