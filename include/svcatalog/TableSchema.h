// TableSchema: what a table representation needs of the schema that owns
// it. The schema class derives from it; tests implement it with a small
// fixture. A table made without a schema (as the field tests make them)
// answers from its own names.
//
// Invariants: a schema outlives its tables; it knows a table from its
// construction to its destruction (addTable/delTable).
#pragma once

#include <zfound/String.h>

#include <cstdint>

class Client;
class SvEnumSource;
class SvIndRep;
class SvTabRep;

namespace svcatalog {

// The columns of a table's "$class.tab" row.
struct TableRow {
  String name;
  String file;
  String descr;
  uint32_t flags = 0;
  int32_t recLength = 0;
  int32_t size = 0;
  String expr;
  // The row's new instance number; 0 keeps it.
  uint32_t newRecord = 0;
};

class TableSchema {
public:
  virtual ~TableSchema() = default;
  // The schema's name (the first part of a data file's logical name).
  virtual String schemaName() const = 0;
  // The name that qualifies the schema's tables.
  virtual String qualifiedName() const = 0;
  // The 20-bit schema id.
  virtual uint32_t schemaId() const = 0;
  // The user id of the schema's owner.
  virtual int32_t owner() const = 0;
  // A file name not yet used in the schema's directory.
  virtual String newFileName(String const& name, String const& ext) = 0;
  // A table joins and leaves the schema.
  virtual void addTable(SvTabRep* t) = 0;
  virtual void delTable(SvTabRep* t) = 0;
  // The table's instance number changed; the schema re-sorts its tables.
  virtual void sortTables() {}
  // Enumerations for compiling expressions (none by default).
  virtual SvEnumSource* enums() { return nullptr; }

  // ---- the table catalog ---------------------------------------------
  // The representation of "$class.tab", or null while the schema has no
  // table catalog (the catalog tables themselves are built first).
  virtual SvTabRep* classFile() { return nullptr; }
  // Rewrites the table's "$class.tab" row (and, when the instance number
  // changes, the rows of its fields and indexes) and applies the record
  // length. False with an error recorded when it fails.
  virtual bool updateTableRow(Client* c, SvTabRep* t, TableRow const& row) = 0;
  // Rewrites an index definition's "$mindex.tab" row (name, file, flags,
  // key length).
  virtual bool updateIndexRow(Client* c, SvIndRep* r) = 0;
};

}  // namespace svcatalog
