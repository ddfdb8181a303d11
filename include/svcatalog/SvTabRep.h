// SvTabRep: the one shared in-memory representation of a table: its data
// file (the BlockedFile base), its typed fields and the record layout, its
// index definitions, privileges and table check, and the attachments made
// of it (one per structure version), and the lock manager of its records
// (the TableLocks base). Reading tables from the catalog and writing
// catalog rows is the schema's (svcatalog::TableSchema).
//
// Record slot (all longs big-endian):
//
//   bytes   content
//   0-3     first chain link of the blocked file (free slots only)
//   4-7     second chain link
//   8-15    TimeStamp of the last modification
//   16-19   instance id of the record
//   20-27   TimeStamp of creation; only when flags bit 0 is set
//   prefix  the fields, each at its offset
//
// prefixSize() is 28 with flags bit 0, else 20. The first field starts at the
// prefix; each further real field where the last real field before it ends
// (offset + ilength(true) * dim()); virtual fields take no bytes.
//
// Object id: class (schema id << 12) | 1, or for a temporary table
// ((((installation & 255) << 12) | ((server id & 63) << 6)) << 12) | 1;
// instance: the table's "$class.tab" row instance (its temporary number).
//
// Lifetime: the current attachment (version -1), and any attachment of a
// temporary table, owns the representation. Destroying it first destroys
// the attachments of older versions (taken from their clients), so none
// outlives the fields and index definitions it uses; the last open index of
// a definition destroys the definition.
//
// Invariants: the field array holds the fields in number order and owns
// them; offsets never change once a field is built; the wire record length
// is computed once, on first use after the last field was added; index slot
// n holds definition n or is empty; the attachment list is newest first and
// holds at most one attachment per version.
#pragma once

#include <cstdint>
#include <vector>

#include <blkfile/BlockedFile.h>
#include <sindex/IndexHost.h>
#include <svcatalog/TableLocks.h>
#include <zfound/ObjectId.h>
#include <zfound/PObject.h>
#include <zfound/Privilege.h>
#include <zfound/String.h>

class Client;
class SvField;
class SvExpr;
class SvIndRep;
class SvTable;

namespace svcatalog {
class TableSchema;
}

// Table flag bits.
using TabFlags = uint32_t;
namespace TabFlag {
constexpr TabFlags kCreationStamp = 1;  // records carry a creation stamp
constexpr TabFlags kStampInPKey = 2;    // the stamp is part of the primary key
constexpr TabFlags kIdInPKey = 4;       // the instance id is part of the primary key
constexpr TabFlags kIndepKey = 8;       // some index has an independent key
}  // namespace TabFlag

class SvTabRep : public BlockedFile,
                 public PObject,
                 public svstore::IndexTableRep,
                 public svcatalog::TableLocks {
public:
  // Bytes of the record prefix without and with the creation stamp.
  static constexpr int32_t kPrefix = 20;
  static constexpr int32_t kPrefixWithStamp = 28;
  // Record prefix offsets.
  static constexpr int32_t kMStampAt = 8;
  static constexpr int32_t kInstIdAt = 16;
  static constexpr int32_t kCStampAt = 20;
  // Bits of an alter equivalence word; the low 24 bits hold the field number.
  static constexpr uint32_t kEqSame = 0x01000000;
  static constexpr uint32_t kEqLessDim = 0x02000000;
  static constexpr uint32_t kEqDiffMask = 0x04000000;
  static constexpr uint32_t kEqLessLen = 0x08000000;
  static constexpr uint32_t kEqLessNDec = 0x10000000;
  static constexpr uint32_t kEqNoField = 0x20000000;
  static constexpr uint32_t kEqBadType = 0x40000000;
  static constexpr uint32_t kEqNotNull = 0x80000000;

  // A table with no data file (field side only) in the schema qualified
  // `schemaName`, with the object id `id` and room for `nFields` fields. A
  // temporary table is not registered by its id.
  SvTabRep(ObjectId const& id, String const& name, String const& schemaName, TabFlags flags,
           int32_t nFields, bool temp);
  // A table of `schema` (null: none) whose "$class.tab" row has instance
  // `inst` (a temporary table: 0 takes the next temporary number): opens
  // its data file `file` (null: the logical name) with records of
  // `recLength` bytes after the prefix and joins the schema. opened() tells
  // whether the data file opened.
  SvTabRep(svcatalog::TableSchema* schema, uint32_t inst, String const& name, String const& file,
           String const& descr, int32_t recLength, int32_t nFields, int32_t nIndexes, TabFlags flags,
           int32_t size, bool temp);
  ~SvTabRep() override;
  SvTabRep(SvTabRep const&) = delete;
  SvTabRep& operator=(SvTabRep const&) = delete;

  // The object id of a table of a schema (or a temporary one).
  static ObjectId tableId(uint32_t schemaId, uint32_t inst, bool temp);
  // The data file's logical name: schema name, ".", the table name without
  // a leading digit 2.
  static String logicalName(String const& schemaName, String const& table);
  bool opened() const { return opened_; }

  String const& name() const { return name_; }
  String const& descr() const { return descr_; }
  TabFlags flags() const { return flags_; }
  int32_t size() const { return size_; }
  Privilege const& privileges() const { return privileges_; }
  void setPrivileges(Privilege const& p) { privileges_ = p; }
  svcatalog::TableSchema* schema() const { return schema_; }
  bool isTemp() const { return temp_; }
  bool hasCreationStamp() const { return (flags_ & TabFlag::kCreationStamp) != 0; }
  bool hasStampInPKey() const { return (flags_ & TabFlag::kStampInPKey) != 0; }
  bool hasIdInPKey() const { return (flags_ & TabFlag::kIdInPKey) != 0; }
  bool hasIndepKey() const { return (flags_ & TabFlag::kIndepKey) != 0; }
  // The schema's qualified name, "." and the table name.
  String qualifiedName() const override;
  // The schema's own name and the table's: the server name that may
  // qualify the schema is no part of a file's layout name.
  String layoutName() const override;
  // The data file's name, with "." and its extension when it has one; with
  // the directory.
  String phName() const;
  String phFullName() const;
  // True when file is the physical name of the data file or an index file.
  bool belongs(String const& file) const;
  // The class id of the table's fields and indexes: the table's class id
  // with its low 12 bits replaced by those of its instance id.
  uint32_t memberClassId() const;

  // A new slot whose modification stamp is the server's current one, so
  // that a slot given back at once is reused before the next checkpoint.
  CacheBuffer* add(char*& p, int32_t& recno, bool lock) override;
  // 28 when flags bit 0 is set, else 20.
  int32_t prefixSize() const override { return hasCreationStamp() ? kPrefixWithStamp : kPrefix; }

  // ---- fields ----------------------------------------------------------
  // Appends a field (called by the field's factory); the table owns it.
  void addField(SvField* f);
  // The offset a field added at the end would get; the record image length.
  int32_t nextOffset() const;
  int32_t nFields() const { return int32_t(fields_.size()); }
  // Field n, or null when n names no field.
  SvField* field(int32_t n) const;
  // The first field of that name, or null.
  SvField* field(String const& name) const;
  // The position of f, or -1.
  int32_t nField(SvField const* f) const;
  // Destroys every field.
  void emptyFields();
  // Destroys every index definition no open index uses, empties the index
  // array and destroys every field.
  void emptyStructure();
  // Binds each field's default and check expressions to this table and
  // field, and the table expression with field -1 (false when one fails).
  bool resolveExpressions();
  SvExpr* expr() const { return expr_; }
  // Replaces (and destroys) the table's check expression.
  void setExpression(SvExpr* e);

  // Prefix plus, over the real fields, clength() * dim(); computed once.
  int32_t conRecLength();

  // ---- index definitions ----------------------------------------------
  // Slots holding a definition that has a name.
  int32_t nIndices() const;
  int32_t nIndexSlots() const { return int32_t(indexes_.size()); }
  // Definition n, or null (out of range or an empty slot).
  SvIndRep* index(int32_t n) const;
  // The first definition of that name, or null.
  SvIndRep* index(String const& name) const;
  int32_t nIndex(SvIndRep const* r) const { return indexNumber(r); }
  // Appends a definition not yet present; re-derives flags bit 3.
  void addIndex(SvIndRep* r) { addIndexRep(r); }
  // Empties the definition's slot.
  void delIndex(SvIndRep* r) { delIndexRep(r); }
  // "i" and the number of index slots, at least 2 digits.
  String getNewIndExt() const;

  // ---- attachments ------------------------------------------------------
  // The attachment of a version (-1 current), or null.
  SvTable* attachment(int32_t version) const;
  // Attachments register and unregister themselves.
  void addTable(SvTable* t);
  void delTable(SvTable* t);
  std::vector<SvTable*> const& attachments() const { return tables_; }
  // Destroys every attachment of an older version (taken from its clients).
  void destroyOlderAttachments();

  // ---- records ----------------------------------------------------------
  // The instance id stored in record n (0 for a bad number).
  uint32_t recInstId(int32_t recno);
  // A new instance id from the counter kept in the data file's header; the
  // header is marked for the next checkpoint.
  uint32_t newInstId();
  // Gives back the instance id just taken (an add that failed).
  void dropInstId();
  // Each current attachment starts a new version, then the data file.
  bool newVers();
  // Verifies every current attachment and the data file.
  bool verify(bool check);
  // For two retained versions below 122: the free-chain head of version
  // `which` recorded in the header page saved for version `saved` (-1 when
  // unknown).
  int32_t getPool(int32_t saved, int32_t which);

  // ---- definition changes -------------------------------------------------
  // Name, file, description, flags, size, record length, new "$class.tab"
  // instance (0: unchanged) and expression text: the catalog row first
  // (when the schema has a table catalog and the table is not temporary),
  // then setData with an empty expression text. False (error recorded,
  // nothing in memory changed) when the row could not be written.
  bool updateData(Client* c, String const& name, String const& file, String const& descr, TabFlags flags,
                  int32_t size, int32_t recLength, uint32_t newRecord, String const& exprText);
  // The in-memory part: a non-empty text replaces the table check; a new
  // instance re-keys the object id; another file name reopens the data file
  // under it.
  bool setData(String const& name, String const& file, String const& descr, TabFlags flags, int32_t size,
               uint32_t newRecord, String const& exprText);
  // Moves the data file and every index file to files of the new base
  // name, each keeping its extension.
  bool rename(String const& base);
  // Deletes the data file and takes a fresh one from the schema.
  bool empty(Client* c);
  // Rewrites the catalog row's expression, or sets it directly without a
  // catalog.
  bool updateExpression(Client* c, SvExpr* e);
  // The equivalence word of field `f` of a new definition (see kEq...).
  uint32_t fieldEquiv(SvField const* f) const;
  // Whether a new definition keeps this table's record layout: fills the
  // messages (not with force) and changed; true when the primary keys are
  // the same.
  bool isEquiv(SvTabRep const* other, std::vector<uint32_t> const& words, bool force, String& msgs,
               bool& changed) const;
  // The numbers of this table's indexes missing or different in `other`,
  // ended by -1, in map (room for every index slot and the -1).
  void indexEquiv(SvTabRep const* other, int32_t* map) const;
  // Alters this table to the definition `other`: -1 refused (msgs tell
  // why), 0 the records must be copied, 1 the two exchanged identities.
  int32_t alter(Client* c, SvTabRep* other, String& msgs, bool force, int32_t* map);

  // ---- svstore::IndexTableRep ------------------------------------------
  String schemaName() const override;
  uint32_t schemaId() const override;
  String physName() const override { return phName(); }
  String newFileName(String const& base, String const& ext) override;
  String newIndExt() override { return getNewIndExt(); }
  int32_t lastTableRec() override { return last(); }
  int32_t nRecords() override { return nReg(); }
  int32_t nDefDels() const override { return TableLocks::nDefDels(); }
  int32_t verifyFree(BoolArray* marks) override { return BlockedFile::verifyFree(marks); }
  void addIndexRep(SvIndRep* r) override;
  void delIndexRep(SvIndRep* r) override;
  int32_t indexNumber(SvIndRep const* r) const override;
  svstore::IndexTable* findTable(int32_t version) override;
  void checkIndepKeys() override;

  // ---- svcatalog::TableLocks ---------------------------------------------
  String lockTableName() const override { return name_; }
  int32_t lockRecordCount() const override { return const_cast<SvTabRep*>(this)->nReg(); }
  // Completes a deferred delete through the current attachment.
  bool completeDefDel(Client* c, int32_t record) override;

  // ---- listings (warnings) ----------------------------------------------
  void listFields() const;
  void printPrivs() const;

  // ---- field access in a record image, for catalog and server rows -------
  // Each answers false (nothing changed) when n names no field or the
  // field's type does not match: text for string fields, a long for number
  // and int fields, an object id for object fields.
  bool getFld(int32_t n, String& value, char const* record) const;
  bool getFld(int32_t n, int32_t& value, char const* record) const;
  bool getFld(int32_t n, uint32_t& cls, uint32_t& inst, char const* record) const;
  bool setFld(int32_t n, String const& value, char* record) const;
  bool setFld(int32_t n, int32_t value, char* record) const;
  bool setFld(int32_t n, uint32_t cls, uint32_t inst, char* record) const;

  // The record as "(" + the fields' texts joined by ", " + ")".
  void load(String& text, char const* record) const;

  // The instance id at bytes 16-19 of a record image.
  static uint32_t recInstId(char const* record);

private:
  // Exchanges the physical files of two index definitions (catalog rows
  // rewritten through the schema).
  bool swapIndexFiles(Client* c, SvIndRep* a, SvIndRep* b);

  String name_;
  String schemaName_;
  String descr_;
  TabFlags flags_;
  int32_t size_ = 0;
  bool temp_;
  bool opened_ = false;
  svcatalog::TableSchema* schema_ = nullptr;
  Privilege privileges_;
  std::vector<SvField*> fields_;
  std::vector<SvIndRep*> indexes_;
  std::vector<SvTable*> tables_;
  SvExpr* expr_ = nullptr;
  int32_t conRecLength_ = 0;
};
