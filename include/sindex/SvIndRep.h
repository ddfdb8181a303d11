// SvIndRep: the definition of one index of one table, with the index file
// that holds its B-tree, and its key parts (SvIndFld and its three kinds).
//
// Index file: a blocked file whose records are one page long (record length
// page size - 16 after a 16-byte prefix). Each record is one B-tree node or
// one piece of the stored root chain.
//
//   record bytes  content
//   0-3           LINK1 (free chains, the blocked file's)
//   4-7           LINK2
//   8-15          TimeStamp stored form: when the record was taken or copied
//   16-           node slots, or a root-chain piece (see IndexNode.h)
//
// The file header's root fields (rBegin, rDepth, rSlots) hold the first
// record of the root chain, the tree depth and the root's slot count.
//
// Key (what the key buffer and every slot hold): the parts one after the
// other, each exactly its length; a duplicate-key index appends the record
// number, 4 bytes big-endian. Keys compare part by part as unsigned bytes,
// reversed within a descending part; the record number compares last.
//
// Invariants: the part array is in key order and owned; the key length is
// the sum of the parts' lengths once every part is added; a definition
// lives until its last open index goes (the open-index count).
#pragma once

#include <blkfile/BlockedFile.h>
#include <sindex/IndexHost.h>

#include <zfound/ObjectId.h>
#include <zfound/PObject.h>
#include <zfound/String.h>

#include <cstdint>
#include <vector>

class CacheBuffer;
class Client;
class Connection;
class SvIndex;
class SvIndRep;
class SvTable;

using IndFlags = uint32_t;
namespace IndFlag {
constexpr IndFlags kDup = 1;         // duplicates: keys carry the record number
constexpr IndFlags kDescending = 4;  // some part is descending
constexpr IndFlags kNotNull = 8;     // some part is notNull
constexpr IndFlags kPublic = 16;     // a temporary index takes every client's entries
constexpr IndFlags kIndep = 32;      // independent key
}  // namespace IndFlag

using IndFldFlags = uint32_t;
namespace IndFldFlag {
constexpr IndFldFlags kDescending = 2;
constexpr IndFldFlags kNotNull = 4;
}  // namespace IndFldFlag

class SvIndTabFld;
class SvIndRangeFld;
class SvIndObject;

// One key part: where its bytes come from and how they travel and show.
class SvIndFld : public PObject {
public:
  // Appends itself to the definition (number n of the table's indexes).
  SvIndFld(SvIndRep* rep, uint32_t inst, IndFldFlags flags, int32_t length);
  ~SvIndFld() override = default;

  virtual svstore::IndexField* field() const { return nullptr; }
  // Offset of the part's bytes in a record image.
  virtual int32_t tableOffset() const = 0;
  virtual int32_t offset() const { return -1; }
  virtual bool receive(Connection*, char*&) { return true; }
  virtual void send(Connection*, char*&) {}
  virtual void load(String& s, char const*& p) const;
  virtual bool store(SvTable* t, char*& key, char const* record) = 0;
  virtual bool differ(SvTable* t, char const* a, char const* b) = 0;
  virtual bool isTabField() const { return false; }
  virtual bool isNull(char const* p) const = 0;
  virtual bool sameRep(SvIndFld const* o) const { return flags_ == o->flags_; }
  virtual SvIndTabFld* tabFld() { return nullptr; }
  virtual SvIndObject* oidFld() { return nullptr; }
  virtual SvIndRangeFld* rangeFld() { return nullptr; }
  virtual SvIndTabFld const* tabFld() const { return nullptr; }
  virtual SvIndObject const* oidFld() const { return nullptr; }
  virtual SvIndRangeFld const* rangeFld() const { return nullptr; }

  bool notNull() const { return (flags_ & IndFldFlag::kNotNull) != 0; }
  bool descending() const { return (flags_ & IndFldFlag::kDescending) != 0; }
  IndFldFlags flags() const { return flags_; }
  int32_t length() const { return length_; }
  SvIndRep* indRep() const { return rep_; }
  void idStart() {}
  void idStop() {}
  void idCheck() const {}

  // Creates part n of a definition: without a field the object-id part,
  // with offset -1 a whole-field part, else a range part. Catalogued
  // definitions get their parts through the catalog tables; both kinds are
  // built directly here. Returns the part made.
  static SvIndFld* consIndField(Client* c, SvIndRep* rep, int32_t n, svstore::IndexField* f, IndFldFlags flags,
                                int32_t offset, int32_t length);
  // Removes a part's catalog record (nothing for a temporary index).
  static void destructIndField(Client* c, SvIndFld* part);

protected:
  IndFldFlags flags_;
  SvIndRep* rep_;
  int32_t length_;
};

// A part over a whole table field.
class SvIndTabFld : public SvIndFld {
public:
  SvIndTabFld(SvIndRep* rep, uint32_t inst, svstore::IndexField* f, IndFldFlags flags);
  svstore::IndexField* field() const override { return field_; }
  int32_t tableOffset() const override { return field_->fieldOffset(); }
  bool receive(Connection* c, char*& p) override { return field_->keyReceive(c, p, length_); }
  void send(Connection* c, char*& p) override { field_->keySend(c, p); }
  void load(String& s, char const*& p) const override { field_->keyLoad(s, p, length_); }
  bool store(SvTable* t, char*& key, char const* record) override;
  bool differ(SvTable* t, char const* a, char const* b) override;
  bool isTabField() const override { return true; }
  bool isNull(char const* p) const override { return field_->keyIsNull(p); }
  bool sameRep(SvIndFld const* o) const override;
  SvIndTabFld* tabFld() override { return this; }
  SvIndTabFld const* tabFld() const override { return this; }

protected:
  SvIndTabFld(SvIndRep* rep, uint32_t inst, svstore::IndexField* f, IndFldFlags flags, int32_t length);
  svstore::IndexField* field_;
};

// A byte range of a table field's stored value.
class SvIndRangeFld : public SvIndTabFld {
public:
  SvIndRangeFld(SvIndRep* rep, uint32_t inst, svstore::IndexField* f, IndFldFlags flags, int32_t offset,
                int32_t length);
  int32_t tableOffset() const override { return field_->fieldOffset() + offset_; }
  int32_t offset() const override { return offset_; }
  // The key holds only the range: the field's send and null test see a
  // whole value that begins with the range (as receive stores it) and is
  // zero after it, never the key bytes after the part.
  void send(Connection* c, char*& p) override;
  bool isNull(char const* p) const override;
  bool sameRep(SvIndFld const* o) const override;
  SvIndRangeFld* rangeFld() override { return this; }
  SvIndRangeFld const* rangeFld() const override { return this; }

private:
  std::vector<char> whole(char const* p) const;
  int32_t offset_;
};

// The record's 4-byte instance number at offset 16 of its prefix.
class SvIndObject : public SvIndFld {
public:
  static constexpr int32_t kAt = 16;
  SvIndObject(SvIndRep* rep, uint32_t inst);
  int32_t tableOffset() const override { return kAt; }
  bool receive(Connection* c, char*& p) override;
  void send(Connection* c, char*& p) override;
  void load(String& s, char const*& p) const override;
  bool store(SvTable* t, char*& key, char const* record) override;
  bool differ(SvTable* t, char const* a, char const* b) override;
  bool isNull(char const* p) const override;
  bool sameRep(SvIndFld const* o) const override { return SvIndFld::sameRep(o) && o->oidFld(); }
  SvIndObject* oidFld() override { return this; }
  SvIndObject const* oidFld() const override { return this; }
};

class SvIndRep : public BlockedFile, public PObject {
public:
  static constexpr int32_t kPrefix = 16;
  static constexpr int32_t kKindIndex = 3;
  static constexpr int32_t kKindPart = 4;
  // Fewest slots a node must hold; a longer key is refused.
  static constexpr int32_t kMinSlots = 4;

  // The table, the instance number, the name (null: temporary), the file
  // name, the key length, the declared part count, the flags and the
  // creating client. Opens the index file; ok() tells whether it opened.
  SvIndRep(svstore::IndexTableRep* tab, uint32_t inst, String const& name, String const& file, int32_t length,
           int32_t nParts, IndFlags flags, Client* creator);
  ~SvIndRep() override;

  // ---- BlockedFile slots ----
  // Allocates a node record stamped with the server's current stamp; p
  // points past the prefix.
  CacheBuffer* add(char*& p, int32_t& recno, bool lock) override;
  int32_t prefixSize() const override { return kPrefix; }
  // A page handed back unmodified is read again (checkpointed state).
  void reRead(CacheBuffer* cb) override;
  // Record recno; p points past the prefix (null on a bad number).
  CacheBuffer* get(char*& p, int32_t recno, bool lock);

  // Creates a definition directly (as the catalog tables' own indexes and
  // temporary indexes are made) and, for a temporary one, opens its index
  // on the current attachment. Null, nothing made, when the key length
  // leaves a node fewer than kMinSlots slots or the file cannot be opened.
  static SvIndRep* consIndex(Client* c, svstore::IndexTableRep* tab, int32_t number, String const& name,
                             int32_t length, int32_t nParts, IndFlags flags);
  // Drops an index: a temporary one goes with its open index.
  static void destructIndex(Client* c, SvIndex* ix);
  // Moves the index to a new, empty file with the same extension.
  void empty(Client* c);
  // Name, file, flags and key length (last: the key length). False, nothing
  // changed, when the key length is refused.
  bool setData(String const& name, String const& file, IndFlags flags, int32_t length);

  // Appends a part (n: this index's number in its table); false (error
  // recorded, nothing changed) when the parts would outgrow the key length.
  bool addField(SvIndFld* f, int32_t n);
  SvIndFld* iField(int32_t n) const;
  svstore::IndexField* field(int32_t n) const;
  // The whole-field or range part on the field of that name; with two
  // range parts on one field, the one at `occurrence`.
  SvIndFld* iField(String const& name, int32_t occurrence = 0) const;
  SvIndFld* iField(svstore::IndexField const* f) const;
  SvIndFld* objField() const;
  int32_t nFields() const { return int32_t(parts_.size()); }
  // Removes a part from the array (not destroyed).
  void removeField(SvIndFld* f);

  // ---- keys ----
  // Sign of a vs b over n parts (0: all, record number included).
  int32_t cmpKeys(char const* a, char const* b, int32_t n) const;
  // "(" parts ", " ... [", [recno]"] ")"; p advances over the key.
  void load(String& s, char const*& p) const;
  bool same(SvIndRep const* o) const;

  // ---- identity and state ----
  int32_t number() const { return tab_->indexNumber(this); }
  // The number the definition is to take in its table when added: the one
  // it was made with, or its catalog row's when read; -1 the next number.
  int32_t wantedNumber() const { return wanted_; }
  void setWantedNumber(int32_t n) { wanted_ = n < 0 ? -1 : n; }
  // The open index of the current attachment, or null.
  SvIndex* index() const;
  svstore::IndexTableRep* tableRep() const { return tab_; }
  Client* creator() const { return creator_; }
  IndFlags flags() const { return flags_; }
  int32_t length() const { return length_; }
  // Takes a key length; false (error recorded) when a node would hold
  // fewer than kMinSlots slots or the parts would not fit.
  bool setLength(int32_t l);
  // The bytes the parts take in a key.
  int32_t partsLength() const;
  // True when key length l gives every node at least kMinSlots slots.
  static bool lengthFits(int32_t l, bool dup);
  String const& name() const { return name_; }
  bool isTemp() const { return name_.isNull(); }
  bool isDup() const { return (flags_ & IndFlag::kDup) != 0; }
  bool hasDescending() const { return (flags_ & IndFlag::kDescending) != 0; }
  bool hasNotNull() const { return (flags_ & IndFlag::kNotNull) != 0; }
  bool isPublic() const { return (flags_ & IndFlag::kPublic) != 0; }
  bool isIndep() const { return (flags_ & IndFlag::kIndep) != 0; }
  int32_t lastTableRec() const { return tab_->lastTableRec(); }
  String qualifiedName() const;
  String phName() const { return nameExt(); }
  String ext() const;
  // Schedules removal of the file under the schema's name.
  void unlink();
  // Stores the root fields in the header and marks it modified.
  void updateHeader(uint16_t depth, uint16_t slots, int32_t rootRec);
  // Object-id class word for kind k and this definition's owner.
  uint32_t classWord(int32_t kind) const;
  // The next temporary id (never 0).
  static uint32_t nextTempId();

  // Notes of the last change (forward operation to its reverse).
  int32_t nParts = 0;
  bool modifByUpdate = false;
  int32_t prevRec = -1;
  bool indepChanged_ = false;
  // The record whose entry the last addKey inserted, -1 when it made none
  // (its undo removes only that entry).
  int32_t addedRec = -1;
  // Open indexes on this definition (it is destroyed with the last), and
  // the one serving the current version.
  int32_t nOpen = 0;
  SvIndex* current = nullptr;

private:
  IndFlags flags_;
  int32_t length_;
  String name_;
  std::vector<SvIndFld*> parts_;
  svstore::IndexTableRep* tab_;
  Client* creator_;
  int32_t wanted_ = -1;
};
