// TableEnv: what the tables ask of the parts of the server above them (the
// journal, the clients' object lists), behind interfaces that those parts
// install. The catalog never includes a server-core header.
//
// Without an installed piece each question gets the answer of a server
// that has it not: no journal (nothing appended), objects owned by nobody
// (a temporary index is destroyed directly).
//
// Invariants: every installed pointer outlives its use; reset() puts every
// piece back to "none".
#pragma once

#include <cstdint>

class Client;
class SvObject;
class SvTabRep;
class SvTable;

namespace svcatalog {

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
  static TableObjects* objects;

  // A journal exists and writing is not suspended.
  static bool journalActive() { return journal != nullptr && !logDisable; }
  // Everything back to "none".
  static void reset();
};

}  // namespace svcatalog
