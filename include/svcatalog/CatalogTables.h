// The attachments of the six catalog tables. Each runs the ordinary record
// primitive of SvTable and then applies the same change to the schema's
// in-memory structure, so that a journal replay of the same rows rebuilds
// the same structure.
//
// Hooks (after the ordinary operation):
//   $class   add: own row (inst 16) sets the schema's data; another row
//                 reads that table from the catalog
//            update: own row sets the schema's data; another row the
//                 table's (setData, record length)
//            delete: own row unlinks and destroys the schema; another row
//                 unlinks and destroys the table
//   $member  add: reads the field; update: applies the row to the field
//   $mindex  add: reads the definition and opens it; update: setData with
//                 the len column; delete: unlinks and destroys the index
//   $mimembr add: adds the key part
//   $privg   add: adds the entry; delete: clears the owner's list
//   $integr  add: adds a check value or an enumeration (item);
//            delete: a header row deletes the enumeration
//
// A row that names an object not in memory, or holds a value that cannot be
// used, is reported ("BADCATROW") and left out of memory; the schema is
// marked damaged. It never reaches an assertion.
#pragma once

#include <cstdint>
#include <vector>

#include <svcatalog/CatalogDefs.h>
#include <svcatalog/SvTable.h>
#include <zfound/ObjectId.h>

class SvSchema;

namespace svcatalog {

// The catalog attachment base: the catalog kind, the schema, readThis and
// the row access shared by the six.
class CatalogTable : public SvTable {
public:
  CatalogTable(SvTabRep* rep, SvSchema* schema, Cat kind);
  bool structTab() const override { return true; }
  String objType() override;
  Cat kind() const { return kind_; }
  SvSchema* owner() const { return schema_; }

  // Reads the row of that instance number into the buffer; its record
  // number, or -1.
  int32_t readThis(Client* c, uint32_t inst);
  // Record numbers of every row in instance order.
  std::vector<int32_t> rows(Client* c);
  // Loads row recno into the buffer.
  bool load(int32_t recno);
  // Zeroes the buffer for a new row.
  void clearRow();
  // Column access on the buffer.
  String str(int32_t col) const;
  int32_t num(int32_t col) const;
  ObjectId oid(int32_t col) const;
  // Checked stores (InvalidData, false when the value does not fit).
  bool set(int32_t col, String const& v);
  bool set(int32_t col, int32_t v);
  bool set(int32_t col, ObjectId const& v);
  // Adds the row in the buffer for the client (stamps now, new instance).
  int32_t addRow(Client* c);

protected:
  // Reports a row that cannot be applied and marks the schema damaged.
  void badRow(String const& why);

private:
  SvSchema* schema_;
  Cat kind_;
};

class SvTabTable : public CatalogTable {
public:
  SvTabTable(SvTabRep* rep, SvSchema* s) : CatalogTable(rep, s, Cat::Class) {}
  int32_t updateRecNo(Client* c, int32_t rec, bool keyMayChange, LockObject* lk, bool optCheck,
                      uint32_t inst) override;
  int32_t addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                        uint32_t inst) override;
  int32_t delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) override;
};

class SvFldTable : public CatalogTable {
public:
  SvFldTable(SvTabRep* rep, SvSchema* s) : CatalogTable(rep, s, Cat::Member) {}
  int32_t updateRecNo(Client* c, int32_t rec, bool keyMayChange, LockObject* lk, bool optCheck,
                      uint32_t inst) override;
  int32_t addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                        uint32_t inst) override;
};

class SvIndTable : public CatalogTable {
public:
  SvIndTable(SvTabRep* rep, SvSchema* s) : CatalogTable(rep, s, Cat::MIndex) {}
  int32_t updateRecNo(Client* c, int32_t rec, bool keyMayChange, LockObject* lk, bool optCheck,
                      uint32_t inst) override;
  int32_t addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                        uint32_t inst) override;
  int32_t delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) override;
};

class SvIndFldTable : public CatalogTable {
public:
  SvIndFldTable(SvTabRep* rep, SvSchema* s) : CatalogTable(rep, s, Cat::MIMembr) {}
  int32_t addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                        uint32_t inst) override;
};

class SvPrivTable : public CatalogTable {
public:
  SvPrivTable(SvTabRep* rep, SvSchema* s) : CatalogTable(rep, s, Cat::Privg) {}
  int32_t addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                        uint32_t inst) override;
  int32_t delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) override;
};

class SvInTable : public CatalogTable {
public:
  SvInTable(SvTabRep* rep, SvSchema* s) : CatalogTable(rep, s, Cat::Integr) {}
  int32_t addCurrRecord(Client* c, bool stampNow, bool keyFirst, int32_t oldRec, LockObject* lk,
                        uint32_t inst) override;
  int32_t delRecordNo(Client* c, int32_t rec, LockObject* lk, bool optCheck) override;
};

}  // namespace svcatalog
