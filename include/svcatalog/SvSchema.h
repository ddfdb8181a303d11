// SvSchema: one open schema of the server: a directory of table files with
// the six catalog tables that describe it, its table representations, its
// enumerations and its privileges.
//
// State machine of a schema object:
//   (none) --open ctor--> Open (catalog read; "CANTREADSCHEMA" on failure)
//   (none) --create ctor--> Open with empty catalog, or Failed (id -1,
//                           "CANTCREATESCHEMA"; consSchema destroys it)
//   Open --delete of its own "$class.tab" row--> destroyed (files unlinked)
//   Open --server end--> destroyed (files kept)
//
// Invariants:
//  - a schema is on the static list (schemaHead) for its whole life;
//  - the tables array is sorted: the catalog tables at positions 0-5 by
//    instance number, then the schema's tables by instance number,
//    temporary tables last;
//  - the enumerations array position is the enumeration number;
//  - while the catalog tables exist, every structure change is a row change
//    in them, and their hooks change memory, so replaying the same rows
//    rebuilds the same structure;
//  - a name that passed checkObjectName is the only kind of name that ever
//    becomes part of a path here.
//  - a catalog row read at open that names a missing object or holds a bad
//    value is reported and that object left out; the schema then counts as
//    damaged and loses no file to stray-file removal.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <svcatalog/SvEnum.h>
#include <svcatalog/TableSchema.h>
#include <svobject/SvObject.h>
#include <zfound/ObjectId.h>
#include <zfound/Privilege.h>
#include <zfound/String.h>

class Client;
class Connection;
class SvTabRep;
class SvTable;
class SvIndRep;
namespace svcatalog {
struct LockObject;
class SvTabTable;
class SvFldTable;
class SvIndTable;
class SvIndFldTable;
class SvPrivTable;
class SvInTable;
}  // namespace svcatalog

class SvSchema : public SvObject, public SvEnumSource, public svcatalog::TableSchema {
public:
  using SvTabTable = svcatalog::SvTabTable;
  using SvFldTable = svcatalog::SvFldTable;
  using SvIndTable = svcatalog::SvIndTable;
  using SvIndFldTable = svcatalog::SvIndFldTable;
  using SvPrivTable = svcatalog::SvPrivTable;
  using SvInTable = svcatalog::SvInTable;

  // Object kinds of the persistent object ids of a schema.
  static constexpr uint32_t kKindTable = 1;
  static constexpr uint32_t kKindField = 2;
  static constexpr uint32_t kKindIndex = 3;
  static constexpr uint32_t kKindEnum = 7;
  // Widest enumeration and item: what the "$integr.tab" columns keep.
  static constexpr int32_t kMaxEnumItems = 9999;
  static constexpr int32_t kMaxEnumValue = 9999;

  // Opens the existing schema `name` (its files found through the disk
  // layout) and reads its catalog.
  SvSchema(Client* c, String const& name, int32_t id);
  // Creates the schema directory dbase/name and an empty catalog; id -1 asks
  // for a new schema id. A failure leaves id() -1. redo (the journal's
  // replay of a creation after the last checkpoint) takes a directory that
  // the creation made before a crash as it is, with its files.
  SvSchema(Client* c, String const& name, String const& dbase, String const& descr, int32_t owner,
           int32_t id, bool redo = false);
  ~SvSchema() override;

  // Creates a schema for a client and writes its own row; null (error
  // recorded) when the name is refused or the directory cannot be made.
  static SvSchema* consSchema(Client* c, String const& name, String const& dbase, String const& descr,
                              int32_t owner);
  // Drops a schema: its enumerations, its tables, then its own row, which
  // destroys it and unlinks its files. False when the own row is missing
  // (the schema is then destroyed without unlinking).
  static bool destructSchema(Client* c, SvSchema* s);
  // The open schema of that name, or null.
  static SvSchema* find(String const& name);
  static SvSchema* first() { return schemaHead; }
  SvSchema* next() const { return next_; }

  // ---- identity ----
  String name() const override { return name_; }
  String const& descr() const { return descr_; }
  String const& dbase() const { return dbase_; }
  // dbase + "/" + name.
  String directory() const;
  int32_t id() const { return id_; }
  int32_t getOwnerId() const { return owner_; }
  Privilege& privileges() { return privs_; }
  Client* lockedBy() const { return lockedBy_; }
  void unlock() { lockedBy_ = nullptr; }
  bool damaged() const { return damaged_; }
  // Marks the schema as holding a catalog row that could not be used.
  void setDamaged() { damaged_ = true; }
  // The class word of this schema's objects of a kind.
  uint32_t classWord(uint32_t kind) const { return (uint32_t(id_) << 12) | kind; }
  void setData(String const& descr, int32_t owner, int32_t id);
  void setDbase(String const& d) { dbase_ = d; }
  // Rewrites the own row's description and owner (or assigns them while the
  // catalog does not exist yet).
  bool updateData(Client* c, String const& descr, int32_t owner);
  bool allowed(int32_t user, int32_t group, int32_t priv) const;

  // ---- svcatalog::TableSchema ----
  String schemaName() const override { return name_; }
  String qualifiedName() const override;
  uint32_t schemaId() const override { return uint32_t(id_); }
  int32_t owner() const override { return owner_; }
  SvEnumSource* enums() override { return this; }
  SvTabRep* classFile() override;
  bool updateTableRow(Client* c, SvTabRep* t, svcatalog::TableRow const& row) override;
  bool updateIndexRow(Client* c, SvIndRep* r) override;

  // ---- tables ----
  void addTable(SvTabRep* t) override;
  void delTable(SvTabRep* t) override;
  void sortTables() override;
  // Position i of the tables array, or null outside it.
  SvTabRep* table(int32_t i) const;
  int32_t tablesDim() const { return int32_t(tables_.size()); }
  SvTabRep* findTabRep(String const& name) const;
  SvTabRep* findTabRep(ObjectId const& id) const;
  int32_t nTables() const;
  bool belongs(String const& file) const;
  // True when stray files of the schema's directories may be removed: it
  // has tables of its own and its catalog read back whole.
  bool mayRemoveStrayFiles() const { return nTables() > 6 && !damaged_; }
  // A data or index file name for a table (null, error recorded, when none
  // is left).
  String newFileName(String const& name, String const& ext) override;

  // ---- catalog tables ----
  SvTabTable* tableStruct() const { return tabTable_; }
  SvFldTable* fieldStruct() const { return fldTable_; }
  SvIndTable* indexStruct() const { return indTable_; }
  SvIndFldTable* indFieldStruct() const { return indFldTable_; }
  SvPrivTable* privgStruct() const { return privTable_; }
  SvInTable* inStruct() const { return inTable_; }
  bool hasCatalog() const { return tabTable_ != nullptr; }
  // True for the representation of one of the six catalog tables.
  bool isCatalogRep(SvTabRep const* t) const;
  // Builds the six catalog tables (false when one cannot be made).
  bool buildTabTable();
  void destructTabTable();
  bool storeSchema(Client* c);
  bool readSc1(Client* c);
  void unlink();

  // ---- privileges ----
  // Grants one entry: inMemoryOnly adds it to `list`; otherwise a "$privg"
  // row for `object` whose hook adds it.
  bool add(Client* c, ObjectId const& object, Privilege& list, uint16_t id, uint16_t idType, uint16_t priv,
           bool inMemoryOnly);
  bool updatePrivg(Client* c, Privilege const& list);
  bool delPrivgs(Client* c, ObjectId const& object);
  bool consPrivgs(Client* c, ObjectId const& object, Privilege const& list);

  // ---- enumerations ----
  // The request form: name, count, then name and value per item, read from
  // the connection; answers 0, or -1 when refused (nothing written).
  long enumCreate(Client* c);
  // True when an enumeration of that name and items may be stored; else
  // InvalidData naming what is refused.
  static bool checkEnum(String const& name, std::vector<std::pair<String, int32_t>> const& items);
  // Checks name, count and every item, then writes the header and item rows.
  // -1 (InvalidData, or the name exists in any case: nothing written) or 0.
  long enumCreate(Client* c, String const& name, std::vector<std::pair<String, int32_t>> const& items);
  bool readEnums(Client* c);
  bool deleteEnums(Client* c);
  SvEnum* findEnum(String const& name) const;
  int32_t addEnum(String const& name);
  int32_t addEnum(SvEnum* e);
  // -1 when enumeration `number` does not exist.
  int32_t addEnumItem(int32_t number, String const& name, int32_t value);
  bool delEnum(String const& name);
  int32_t nEnums() const { return int32_t(enums_.size()); }
  SvEnum* enumAt(int32_t n) const;
  void sendEnums(Connection* c) const;
  bool getEnumInfo(String const& enumName, String const& itemName, int32_t*& values) override;

  // ---- whole-schema passes ----
  // Verifies every non-temporary table; false when any failed (all run).
  bool verify(bool exhaustive);
  // Every non-temporary table starts a new version.
  bool newVers();
  // Each table merges the client's record locks where they reach the
  // unification bound; `lock` follows into a resulting table lock.
  void unifyLocks(Client* c, svcatalog::LockObject*& lock);
  // Held table and record locks over every table.
  void nLocks(int32_t& tabLocks, int32_t& recLocks) const;
  // Each table's lock listing.
  void listLocks() const;

  // ---- diagnostics ----
  // For every open schema: its privileges, then each table's.
  static void printPrivs();
  // Each table's current attachment's listing.
  void listContents() const;
  static void listSchemas();
  void listTables() const;
  void dumpStructureTables(Client* c);
  void getMethInfo(String& out) override;

  // ---- requests (arguments from SvObject::con; see RequestEnv.h) ----
  long attach(Client* c) override;
  long detach(Client* c) override;
  long lock(Client* c) override;
  long free(Client* c) override;
  long getTables(Client* c) override;
  long drop(Client* c) override;
  long setPrivg(Client* c) override;
  // Attaches the table for the version read next and replies its
  // description (with descriptions and flags when info is not 0).
  long tableAttach(Client* c, int32_t info, SvTabRep* rep);
  // Creates the table from the arguments read next, over oldRep when it is
  // given (replace); no table is made when an argument is refused.
  long tableCreate(Client* c, SvTabRep* oldRep, String const& name);
  long cursorAttach(Client* c);
  // At most one client holds the schema object and no other its lock.
  bool canLock(Client* c) const;

  // ---- server object ----
  int32_t objectType() const override { return 16; }
  String objType() override { return String("SvSchema"); }
  SvSchema* getSchema() override { return this; }

private:
  void init(String const& descr, int32_t owner, int32_t id);
  void pushOnList();
  void addStats();

  String name_;
  String descr_;
  String dbase_;
  std::vector<SvTabRep*> tables_;
  std::vector<SvEnum*> enums_;
  Privilege privs_;
  int32_t nTabs_ = 0;
  int32_t owner_ = 0;
  Client* lockedBy_ = nullptr;
  int32_t id_ = -1;
  bool damaged_ = false;
  SvTabTable* tabTable_ = nullptr;
  SvFldTable* fldTable_ = nullptr;
  SvIndTable* indTable_ = nullptr;
  SvIndFldTable* indFldTable_ = nullptr;
  SvPrivTable* privTable_ = nullptr;
  SvInTable* inTable_ = nullptr;
  SvSchema* next_ = nullptr;

  static SvSchema* schemaHead;
};
