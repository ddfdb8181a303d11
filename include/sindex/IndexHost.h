// IndexHost: what the indexes need of the tables and fields above them.
//
// Storage lies below the catalog and the server core, so an index never
// includes their headers. A table representation, a table attachment and a
// table field each implement the matching interface here (the catalog's
// classes derive from them); tests implement them with small fakes. `Client`
// and `SvTable` stay opaque: an index only passes them on and compares them.
//
// Invariants: every interface pointer handed to an index outlives it, and a
// field's key form orders correctly under unsigned byte comparison.
#pragma once

#include <zfound/String.h>

#include <cstdint>

class BoolArray;
class Client;
class Connection;
class SvIndex;
class SvIndRep;
class SvTable;

namespace svstore {

// A table field as a key part sees it.
class IndexField {
public:
  virtual ~IndexField() = default;
  // The field's name (key part look-up by name, printTree's field list).
  virtual String fieldName() const = 0;
  // Offset of the field's value in a record image, prefix included.
  virtual int32_t fieldOffset() const = 0;
  // Bytes a whole-field key part occupies.
  virtual int32_t keyLength() const = 0;
  // Stores len key bytes at key from src (the value in `record`); advances key.
  virtual bool keyStore(SvTable* t, char*& key, char const* src, int32_t len, char const* record) = 0;
  // Renders len key bytes at p as text; advances p.
  virtual void keyLoad(String& text, char const*& p, int32_t len) const = 0;
  // Sends the key value at p on the connection; advances p.
  virtual void keySend(Connection* c, char*& p) = 0;
  // Reads a key value of len bytes from the connection to p; advances p.
  // False (channel bad, error recorded) on bad input.
  virtual bool keyReceive(Connection* c, char*& p, int32_t len) = 0;
  // The field's null test on the value at p.
  virtual bool keyIsNull(char const* p) const = 0;
  // Whether the value differs between two record images (len bytes).
  virtual bool keyDiffer(SvTable* t, char const* a, char const* b, int32_t len) const = 0;
  // Same stored representation as another field.
  virtual bool sameField(IndexField const* other) const = 0;
  // Notes that index number n uses (or no longer uses) the field.
  virtual void useIndex(int32_t n) = 0;
  virtual void unuseIndex(int32_t n) = 0;
};

// A table attachment (one version) as its open indexes see it.
class IndexTable {
public:
  virtual ~IndexTable() = default;
  // The attachment as the opaque table that key parts pass to their fields.
  virtual SvTable* table() = 0;
  // True when the record is hidden by the client's deferred delete.
  virtual bool isDeferredDel(Client* c, int32_t recno) = 0;
  // True while the server replays its journal, or when the client itself
  // deleted the record in its open transaction.
  virtual bool delByMe(Client* c, int32_t recno) = 0;
  // The open-index array: add (definition included) and remove.
  virtual void addIndex(SvIndex* ix) = 0;
  virtual void delIndex(SvIndex* ix) = 0;
  // The table's name (profile line).
  virtual String tableName() const = 0;
};

// A table representation as its index definitions see it.
class IndexTableRep {
public:
  virtual ~IndexTableRep() = default;
  // Schema and table, "." between.
  virtual String qualifiedName() const = 0;
  // The name under which the table's files are found in the disk layout
  // (the data file's and every index file's); by default the qualified name.
  virtual String layoutName() const { return qualifiedName(); }
  virtual String schemaName() const = 0;
  // The 20-bit schema id (owner number of catalogued indexes).
  virtual uint32_t schemaId() const = 0;
  // The data file's physical name ("_base.tab").
  virtual String physName() const = 0;
  // A file name not yet taken in the schema's directory.
  virtual String newFileName(String const& base, String const& ext) = 0;
  // The extension of the table's next index file ("i00", "i01", ...).
  virtual String newIndExt() = 0;
  // Highest record number and record count of the data file.
  virtual int32_t lastTableRec() = 0;
  virtual int32_t nRecords() = 0;
  // Pending deferred-delete record locks.
  virtual int32_t nDefDels() const = 0;
  // The first marked record that is free in the data file, or 0.
  virtual int32_t verifyFree(BoolArray* marks) = 0;
  // The index-definition array.
  virtual void addIndexRep(SvIndRep* r) = 0;
  virtual void delIndexRep(SvIndRep* r) = 0;
  // Position of a definition in the array, or -1.
  virtual int32_t indexNumber(SvIndRep const* r) const = 0;
  // The attachment of a version (-1: current), or null.
  virtual IndexTable* findTable(int32_t version) = 0;
  // Re-derives the independent-key table flag from the definitions.
  virtual void checkIndepKeys() = 0;
};

}  // namespace svstore
