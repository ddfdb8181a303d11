// SvTabRep: the one shared in-memory representation of a table: here its
// field side (the field array, the record layout and field access by number);
// the catalog side (data file, indexes, attachments, locks, catalog rows)
// joins it later.
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
// Invariants: the field array holds the fields in number order and owns
// them; offsets never change once a field is built; the wire record length
// is computed once, on first use after the last field was added.
#pragma once

#include <cstdint>
#include <vector>

#include <blkfile/BlockedFile.h>
#include <zfound/ObjectId.h>
#include <zfound/PObject.h>
#include <zfound/String.h>

class SvField;
class SvExpr;

// Table flag bits.
using TabFlags = uint32_t;
namespace TabFlag {
constexpr TabFlags kCreationStamp = 1;  // records carry a creation stamp
constexpr TabFlags kStampInPKey = 2;    // the stamp is part of the primary key
constexpr TabFlags kIdInPKey = 4;       // the instance id is part of the primary key
constexpr TabFlags kIndepKey = 8;       // some index has an independent key
}  // namespace TabFlag

// The data file is the BlockedFile base (opened by the catalog side); the
// field side needs none of it but the record prefix size.
class SvTabRep : public BlockedFile, public PObject {
public:
  // Bytes of the record prefix without and with the creation stamp.
  static constexpr int32_t kPrefix = 20;
  static constexpr int32_t kPrefixWithStamp = 28;
  // Record prefix offsets.
  static constexpr int32_t kMStampAt = 8;
  static constexpr int32_t kInstIdAt = 16;
  static constexpr int32_t kCStampAt = 20;

  // A table of the schema named `schemaName` (its qualified name) with the
  // object id `id` and room for `nFields` fields. A temporary table is not
  // registered by its id.
  SvTabRep(ObjectId const& id, String const& name, String const& schemaName, TabFlags flags,
           int32_t nFields, bool temp);
  ~SvTabRep() override;
  SvTabRep(SvTabRep const&) = delete;
  SvTabRep& operator=(SvTabRep const&) = delete;

  String const& name() const { return name_; }
  TabFlags flags() const { return flags_; }
  bool isTemp() const { return temp_; }
  bool hasCreationStamp() const { return (flags_ & TabFlag::kCreationStamp) != 0; }
  bool hasStampInPKey() const { return (flags_ & TabFlag::kStampInPKey) != 0; }
  bool hasIdInPKey() const { return (flags_ & TabFlag::kIdInPKey) != 0; }
  bool hasIndepKey() const { return (flags_ & TabFlag::kIndepKey) != 0; }
  // The schema's qualified name, "." and the table name.
  String qualifiedName() const;
  // The class id of the table's fields and indexes: the table's class id
  // with its low 12 bits replaced by those of its instance id.
  uint32_t memberClassId() const;

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
  // Binds each field's default and check expressions to this table and
  // field, and the table expression with field -1 (false when one fails).
  bool resolveExpressions();
  SvExpr* expr() const { return expr_; }
  // Replaces (and destroys) the table's check expression.
  void setExpression(SvExpr* e);

  // Prefix plus, over the real fields, clength() * dim(); computed once.
  int32_t conRecLength();

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
  String name_;
  String schemaName_;
  TabFlags flags_;
  bool temp_;
  std::vector<SvField*> fields_;
  SvExpr* expr_ = nullptr;
  int32_t conRecLength_ = 0;
};
