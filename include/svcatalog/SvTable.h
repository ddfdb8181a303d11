// SvTable: one attachment of a table for one version of its structure, the
// server object through which clients reach the table's records. It holds
// what belongs to one attachment: the record buffer, the open indexes (slot
// n: the open index of definition n, or empty) and the statistics counters;
// everything shared lives in the representation (SvTabRep).
//
// Record primitives. Every change of a record goes through addCurrRecord,
// updateRecNo and delRecordNo (virtual: the catalog tables override them so
// that a catalog row change also changes the definition it describes). Each
// keeps the data file, every open index, the record locks and the journal
// consistent, and undoes its own partial work when an index refuses a key:
// a failed primitive leaves file and indexes as they were and appends no
// journal record.
//
// Shadow slots: a record whose modification stamp is not newer than the
// last checkpoint is never rewritten in place; the new image takes a fresh
// slot and the old slot is freed (onto the list reused after the next
// checkpoint).
//
// Deferred deletes, per record of a journalled, non-catalog table:
//   live --delRecordNo in a transaction--> deferred (lock flag "D"; record
//     and keys stay; the deleting client's searches skip it)
//   deferred --addCurrRecord(oldRec) by the same client--> live (the lock
//     becomes an ordinary write lock on the record that replaced it)
//   deferred --lock freed at the transaction's end--> completeDefDel: keys
//     and slot removed
//
// Invariants: the record buffer is recordLength() bytes (prefix included)
// or absent while the length is 0; the open-index array has no index twice;
// an older-version attachment never owns its representation.
#pragma once

#include <sindex/IndexHost.h>
#include <svcatalog/SvTabRep.h>
#include <svobject/SvObject.h>
#include <zfound/ObjectId.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>
#include <vector>

class Client;
class SvField;
class SvIndex;
class SvIndRep;

namespace svcatalog {
struct LockObject;
struct NotifyLock;
class TableSchema;
}  // namespace svcatalog

class SvTable : public SvObject, public svstore::IndexTable {
public:
  using LockObject = svcatalog::LockObject;
  static constexpr int32_t kObjectType = 32;
  // Most fields a table has: a field number fits the journal's byte.
  static constexpr int32_t kMaxFields = 255;
  // Table privilege bits.
  static constexpr int32_t kPrivAdd = 1;
  static constexpr int32_t kPrivDel = 2;
  static constexpr int32_t kPrivUpdate = 4;
  static constexpr int32_t kPrivRead = 8;
  // Lock type bits asked by canWrite: exclusive, kept to the transaction's end.
  static constexpr uint16_t kLockWrite = 1;
  static constexpr uint16_t kLockKeep = 2;

  // An attachment of rep (not null) for a version (-1 current): the record
  // buffer, an open index on each named definition, registration with rep.
  SvTable(SvTabRep* rep, int32_t version);
  // Destroys the open indexes; the current attachment (or one of a
  // temporary table) then destroys the older versions' attachments and the
  // representation; an older one only leaves it.
  ~SvTable() override;

  // ---- identity ---------------------------------------------------------
  int32_t objectType() const override { return kObjectType; }
  // "SvTable", with " - version " and the number for an older version.
  String objType() override;
  String name() const override { return rep_->name(); }
  String qualifiedName() const { return rep_->qualifiedName(); }
  String descr() const { return rep_->descr(); }
  TabFlags flags() const { return rep_->flags(); }
  int32_t size() const { return rep_->size(); }
  Privilege const& privileges() const { return rep_->privileges(); }
  svcatalog::TableSchema* schema() const { return rep_->schema(); }
  ObjectId const& oid() const { return rep_->oid(); }
  SvTabRep* tabRep() const { return rep_; }
  int32_t vers() const { return version_; }
  char* buffer() const { return buffer_.empty() ? nullptr : const_cast<char*>(buffer_.data()); }
  // Record length after the prefix, and with it.
  int32_t length() const { return rep_->length(); }
  int32_t recordLength() const { return rep_->recordLength(); }
  int32_t prefixSize() const { return rep_->prefixSize(); }
  SvExpr* expr() const { return rep_->expr(); }
  SvTable* getTable() override { return this; }
  // True in the catalog tables.
  virtual bool structTab() const { return false; }
  String phName() const { return rep_->phName(); }
  bool hasCreationStamp() const { return rep_->hasCreationStamp(); }
  bool hasStampInPKey() const { return rep_->hasStampInPKey(); }
  bool hasIdInPKey() const { return rep_->hasIdInPKey(); }
  bool hasIndepKey() const { return rep_->hasIndepKey(); }

  // ---- fields and indexes -------------------------------------------------
  SvField* field(int32_t n) const { return rep_->field(n); }
  SvField* field(String const& name) const { return rep_->field(name); }
  int32_t nFields() const { return rep_->nFields(); }
  int32_t nField(SvField const* f) const { return rep_->nField(f); }
  void addField(SvField* f) { rep_->addField(f); }
  // The open index in slot n, or null.
  SvIndex* index(int32_t n) const;
  // The first open index with that (non-null) name, or null.
  SvIndex* index(String const& name) const;
  // The number of the index's definition in the representation.
  int32_t nIndex(SvIndex const* ix) const;
  // Open indexes that are not temporary.
  int32_t nIndices() const;
  int32_t nIndexSlots() const { return int32_t(indexes_.size()); }

  // ---- record image (the buffer unless an image is given) ---------------
  uint32_t recInstId() const;
  void setRecInstId(uint32_t id);
  TimeStamp mTimeStamp(char const* image = nullptr) const;
  void setMTimeStamp(TimeStamp const& ts);
  // The creation stamp; the table must carry one.
  TimeStamp cTimeStamp(char const* image = nullptr) const;
  void setCTimeStamp(TimeStamp const& ts);
  // Copies record n into the buffer; false (error recorded) for a bad n.
  bool fillBuffer(int32_t recno);
  // Record n's bytes in the page cache, or null.
  char* get(int32_t recno) { return rep_->get(recno); }
  int32_t getLast() { return rep_->last(); }
  bool getFld(int32_t n, String& v) const { return rep_->getFld(n, v, buffer()); }
  bool getFld(int32_t n, int32_t& v) const { return rep_->getFld(n, v, buffer()); }
  bool getFld(int32_t n, uint32_t& cls, uint32_t& inst) const { return rep_->getFld(n, cls, inst, buffer()); }
  bool setFld(int32_t n, String const& v) { return rep_->setFld(n, v, buffer()); }
  bool setFld(int32_t n, int32_t v) { return rep_->setFld(n, v, buffer()); }
  bool setFld(int32_t n, uint32_t cls, uint32_t inst) { return rep_->setFld(n, cls, inst, buffer()); }
  void load(String& text, char const* image = nullptr) const { rep_->load(text, image ? image : buffer()); }
  int32_t conRecLength() { return rep_->conRecLength(); }
  uint32_t recInstId(int32_t recno) { return rep_->recInstId(recno); }
  // Every element of every field takes its default (null without one).
  void initRecord(char* image);
  // Finds the primary key built from the buffer; loads that record into
  // the buffer and answers its number, or -1 (nothing loaded) when the
  // table has no primary index or no record holds the key.
  int32_t readThis(Client* c);
  // The data file's record length, and a buffer of the new length.
  void setRecLength(int32_t length);
  // Through the table's catalog row (column 4, "len") when the schema has
  // a table catalog and the table is not temporary; else directly.
  bool updateRecLength(Client* c, int32_t length);

  // ---- locks (the representation's lock manager) -------------------------
  bool applyLock(Client* c, int32_t recno, uint16_t type, int32_t wait, bool acquire, LockObject** out,
                 bool& created) {
    return rep_->applyLock(c, recno, type, wait, acquire, out, created);
  }
  bool applyTabLock(Client* c, uint16_t type, int32_t wait, bool acquire, LockObject** out) {
    return rep_->applyTabLock(c, type, wait, acquire, out);
  }
  bool freeLock(Client* c, int32_t recno) { return rep_->freeLock(c, recno); }
  bool addNotify(Client* c, int32_t recno) { return rep_->addNotify(c, recno); }
  LockObject* findLock(int32_t recno) const { return rep_->findLock(recno); }
  svcatalog::NotifyLock* findNotifyLock(int32_t recno) const { return rep_->findNotifyLock(recno); }
  void listLocks() const { rep_->listLocks(); }

  // ---- privileges ------------------------------------------------------
  // A modifying request (bits 1, 2, 4) only on the current version; then
  // user 0, the schema's owner, or the table's privilege list.
  bool allowed(Client* c, int32_t priv) const;

  // ---- maintenance ---------------------------------------------------------
  bool flush(bool release);
  // Each open index that is not temporary starts a new version.
  bool newVers();
  // Each open index that is not temporary; true when all pass.
  bool verify(bool check);
  // Destroys each open index object.
  void emptyStructure();
  void unlink();
  int64_t nReads() const { return rep_->nObjTries(); }
  int64_t nWrites() const { return writes_; }

  // ---- statistics --------------------------------------------------------
  // Counts one request of type 1..6 (types 7 and 8 refreshed); only while
  // the server profiles.
  void profile(int32_t type);
  // Counts one block read on the first Fetch statistic and adds `records`
  // to its record total; only while the server profiles.
  void countFetch(int32_t records);
  // The table's line of the method report; adds only the counts since the
  // last line to the schema's totals.
  void getMethInfo(String& s) override;
  void getMethInfo(String& s, int64_t* schemaHits, int64_t* schemaTries);

  // ---- diagnostics (warnings) --------------------------------------------
  void debug() const;
  void listIndices() const;
  void listContents() const;
  void dumpTable(Client* c);

  // ---- record primitives ------------------------------------------------
  // A write lock on the record now (type 1, with 2 when the server keeps a
  // journal); null with the error recorded (Locked on a conflict). created
  // tells whether a new lock was made. Not for temporary tables.
  LockObject* canWrite(Client* c, int32_t recno, bool& created);
  // The journal is active, this is no catalog table, lk a record lock and
  // its client inside a transaction (a change that may be rolled back).
  bool isDeferrable(LockObject const* lk) const;
  // The client's deferred-delete lock on the record, or null (no
  // transaction, no such lock; an error met is cleared).
  LockObject* deferredDel(Client* c, int32_t recno);
  // Removes a deferred-deleted record: its key from every open index, then
  // its slot. Nothing is journalled.
  void completeDefDel(Client* c, int32_t recno);
  // The image in the buffer as a record: a new slot (oldRec -1) or in place
  // of the client's deferred-deleted record oldRec. Record number or -1.
  virtual int32_t addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                                uint32_t instId);
  // The image in the buffer replaces record recno (moved to a fresh slot
  // when checkpointed). Record number (possibly new) or -1.
  virtual int32_t updateRecNo(Client* c, int32_t recno, bool keyMayChange, LockObject* lk, bool optCheck,
                              uint32_t instId);
  // Deletes record recno (deferred when isDeferrable(lk)). recno or -1.
  virtual int32_t delRecordNo(Client* c, int32_t recno, LockObject* lk, bool optCheck);

  // ---- requests (arguments from SvObject::con; see RequestEnv.h) ----------
  // Mode bits of GetRecord and Lock besides the search modes.
  static constexpr int32_t kModeAcquire = 1;     // take the lock; hold the request while busy
  static constexpr int32_t kModeNoWait = 2;      // a busy lock fails at once
  static constexpr int32_t kModeExclusive = 8;   // lock type 1 instead of 0
  static constexpr int32_t kModeNotify = 16;     // a notification instead of a lock
  static constexpr int32_t kModeOtherType = 0x2000;  // lock type 8 or 9
  // The answer of a request that is held (no reply now).
  static constexpr long kHeld = -2;
  // What a held GetRecord keeps to run again.
  struct HeldRead {
    int32_t index = 0;
    int32_t mode = 0;
    int32_t parts = 0;
    std::vector<char> key;  // empty for the first or last key
  };

  long detach(Client* c) override;
  long lock(Client* c) override;
  long free(Client* c) override;
  long clear(Client* c) override;
  long rename(Client* c) override;
  long getInfo(Client* c) override;
  long findRecord(Client* c) override;
  long getRecord(Client* c) override;
  long putRecord(Client* c) override;
  long delRecord(Client* c) override;
  long addRecord(Client* c) override;
  long addRecordTest(Client* c) override;
  long updateRecord(Client* c) override;
  long freeRecord(Client* c) override;
  long create(Client* c) override;
  long drop(Client* c) override;
  long insKey(Client* c) override;
  long cardinal(Client* c) override;
  long setAttrib(Client* c) override;
  long alter(Client* c) override;
  long copy(Client* c) override;
  long replace(Client* c) override;

  // Runs a (held) GetRecord: privilege, search, lock or notification, then
  // the record. held: it must wait (kHeld answered).
  long execGetRecord(Client* c, HeldRead const& req, bool& held);
  // Runs a (held) Lock of the whole table.
  long execLockTable(Client* c, int32_t mode, bool& held);
  // The lock type a mode asks for.
  static uint16_t lockType(int32_t mode);
  // Sends the prefix and every real field of record recno; its number, or
  // -1 (nothing sent) when it is outside 1..last.
  int32_t sendRecord(Client* c, int32_t recno);
  // The prefix and the listed fields; -1 (nothing sent) for a bad number or
  // a listed field that is missing or virtual.
  int32_t sendFields(int32_t const* list, int32_t n, int32_t recno);
  // The prefix of the buffer: instance id, modification and creation stamp.
  void sendPrefix();
  // Reads [record number] and every real field into the buffer; false (the
  // buffer unchanged, the error pending) when a value does not fit.
  bool receiveRecord(bool withRecno, int32_t& recno);
  // True when recno is a record in use (its primary key finds it).
  bool liveRecord(Client* c, int32_t recno);

  // ---- svstore::IndexTable ----------------------------------------------
  SvTable* table() override { return this; }
  bool isDeferredDel(Client* c, int32_t recno) override { return deferredDel(c, recno) != nullptr; }
  // While the server restarts; else the record is the client's deferred
  // delete.
  bool delByMe(Client* c, int32_t recno) override;
  // Puts the index in the slot of its definition (adding the definition).
  void addIndex(SvIndex* ix) override;
  // Empties its slot.
  void delIndex(SvIndex* ix) override;
  String tableName() const override { return name(); }

  // Called by a representation destroyed directly: this attachment no
  // longer owns it.
  void releaseRep() { ownsRep_ = false; }
  // A buffer of the representation's present record length.
  void resizeBuffer();

private:
  // Whether an independent-key index sees a key change between oldImage
  // and the buffer (only with table flag bit 3); clearIndepChanged forgets.
  bool indepIndChanged(char const* oldImage);
  void clearIndepChanged();
  // Removes the image's key from every open index.
  void delKeys(char const* image, int32_t recno);
  // The optimistic check: false (OptTransCorrupt recorded) when the record
  // changed since the client's optimistic transaction began.
  bool optimisticOk(Client* c, TimeStamp const& recStamp) const;
  // Copies the buffer into slot recno from byte 8.
  bool writeImage(int32_t recno);

  void sendPrefixOf(char const* image);
  bool readSearch(int32_t& ind, int32_t& mode, int32_t& parts, SvIndex*& ix);
  bool readStamps(Client* c, bool normal, TimeStamp& cStamp, TimeStamp& mStamp, uint32_t& instId);
  long addCommon(Client* c, bool normal, bool test);
  // The answer of a record written in place of record r's old image (r -1:
  // refused, the pending error as an abort): without a journal the
  // record's lock goes at once; the reply is r and the record prefix.
  long finishUpdate(Client* c, int32_t r, LockObject* lk);
  // The answer of an added record r (-1: refused): with a journal the new
  // record is locked for the transaction first; the reply is r, with the
  // record prefix when asked.
  long finishAdd(Client* c, int32_t r, bool withPrefix);
  // The field items of a field-wise update applied to the buffer (all or
  // nothing); false with the error pending.
  bool receiveItems();
  // An index Create's arguments checked, then the definition made.
  long createIndex(Client* c, String const& name, int32_t flags, int32_t nParts);
  // True while another holder than the requester uses the table.
  bool usedByOthers() const;

  SvTabRep* rep_;
  int32_t version_;
  std::vector<char> buffer_;
  std::vector<SvIndex*> indexes_;
  bool ownsRep_ = true;
  // The instance id in the buffer came from the counter (a refused add gives
  // it back); false while a client-given id is added.
  bool idFromCounter_ = true;
  int64_t writes_ = 0;
  // Counts already reported by getMethInfo.
  int64_t shownHits_ = 0;
  int64_t shownTries_ = 0;
};
