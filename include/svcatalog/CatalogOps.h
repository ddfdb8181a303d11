// The structure changes of a schema as catalog rows: tables, fields with
// their checks, indexes with their key parts, privileges; and the reading
// of a schema's structure from its catalog at open.
//
// Every change writes rows through the catalog attachments' record
// primitives, whose hooks change memory (CatalogTables.h); so the journal
// replays a change as the same rows. Every value is checked against its
// column before the first row of a change is written: a refused change
// (InvalidData) writes nothing.
//
// Temporary tables and indexes have no rows: their operations change memory
// directly.
#pragma once

#include <cstdint>

#include <sindex/SvIndRep.h>
#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <zfound/ObjectId.h>
#include <zfound/Privilege.h>
#include <zfound/String.h>

class Client;
class CollateSet;
class InCheck;
class SvExpr;
class SvField;
class SvIndex;
class SvIndFld;
class SvIndRep;
class SvSchema;
class SvTable;

namespace svcatalog {

class SvInTable;

// ---- reading at open -------------------------------------------------------
// Reads the schema's privileges, its own row and every table (each with its
// current attachment). False when "$class.tab" has no row at all.
bool readTables(Client* c, SvSchema* s);
// Reads the table whose "$class.tab" row has instance inst, with its fields,
// indexes, privileges and current attachment; null (reported) when the row
// is missing or unusable.
SvTable* readTable(Client* c, SvSchema* s, uint32_t inst);

// Reads the field whose "$member.tab" row has instance inst into table t,
// with its check values; null (reported) when the row is unusable.
SvField* readField(Client* c, SvSchema* s, SvTabRep* t, uint32_t inst);
// Adds the field's "$integr.tab" values to its check (none without one).
void readCheckValues(Client* c, SvSchema* s, SvField* f);
// Reads the index definition of "$mindex.tab" row inst of table t (with its
// key parts when withParts); null (reported) when unusable. Not added.
SvIndRep* readIndex(Client* c, SvSchema* s, SvTabRep* t, uint32_t inst, bool withParts);
// Adds the key part of "$mimembr.tab" row inst (in the buffer) to ir.
SvIndFld* readIndexField(SvSchema* s, SvIndRep* ir, uint32_t inst);
// Schedules removal of the table's data and index files.
void unlinkTableFiles(SvTabRep* t);
// "<class, instance>".
String oidText(ObjectId const& id);

// ---- tables -----------------------------------------------------------------
// A new table of the schema: its "$class.tab" row (name checked as a path
// name). Null (error recorded) when refused. A null name makes a temporary
// table with no row. A non-zero inst gives the row that instance number (a
// table made in place of a destroyed one keeps its object id); 0 takes the
// next one.
SvTable* consTable(Client* c, SvSchema* s, String const& name, String const& descr, int32_t recLength,
                   TabFlags flags, int32_t size, uint32_t inst = 0);
// Drops a table: its fields' and privileges' rows, then its own row (whose
// hook destroys it). A temporary table's attachment is destroyed.
bool destructTable(Client* c, SvTable* t);
// Removes each field's rows (last first), then the table's privilege rows.
bool clearStructure(Client* c, SvTabRep* t);
// Replaces the table's privilege rows with the list.
bool updateTablePrivg(Client* c, SvTabRep* t, Privilege const& list);

// ---- fields -------------------------------------------------------------------
// A new field of a table: its "$member.tab" row and its check's "$integr.tab"
// rows. Takes check and expressions (freed on failure). Null when refused.
SvField* consField(Client* c, SvTabRep* t, int32_t number, String const& name, String const& descr,
                   SvExpr* deflt, String const& mask, int32_t length, int32_t decimals, int32_t type,
                   int32_t sqlType, ObjectId const& objRef, TabFldFlags flags, int32_t dim, InCheck* check,
                   SvExpr* expression, CollateSet* collate, String const& enumName);
bool destructField(Client* c, SvField* f);
// The check values of a field as "$integr.tab" rows: keys (type 0) from 0,
// then display values (type 1).
bool consIn(Client* c, SvInTable* in, ObjectId const& field, InCheck const* check);
// Removes every "$integr.tab" row of the field.
bool delIn(Client* c, SvInTable* in, ObjectId const& field);
// Changes of a live field through its row (or directly without a catalog).
bool updateData(Client* c, SvField* f, ObjectId const& table, String const& name, String const& descr,
                int32_t dim, String const& mask, int32_t length, int32_t decimals, TabFldFlags flags, int32_t type,
                int32_t sqlType);
bool updateInCheck(Client* c, SvField* f, InCheck* check, String const& enumName);
bool updateDeflt(Client* c, SvField* f, SvExpr* deflt);
bool updateExpression(Client* c, SvField* f, SvExpr* expression);
bool updateCollateSet(Client* c, SvField* f, CollateSet* collate);
bool updateObjReference(Client* c, SvField* f, ObjectId const& ref);

// ---- indexes ----------------------------------------------------------------
// A catalogued index (name not null) as its "$mindex.tab" row, whose hook
// makes the definition and opens it; a null name makes a temporary index.
SvIndRep* consIndex(Client* c, SvTabRep* t, int32_t number, String const& name, int32_t length, int32_t nParts,
                    IndFlags flags);
// Drops an index: its key parts' rows, then its own row.
bool destructIndex(Client* c, SvIndex* ix);
// Part n of a definition as a "$mimembr.tab" row (null field: the
// object-id part; offset -1: the whole field).
SvIndFld* consIndField(Client* c, SvIndRep* r, int32_t n, SvField* f, IndFldFlags flags, int32_t offset,
                       int32_t length);
bool destructIndField(Client* c, SvIndFld* part);
// Moves the index to a new, empty file.
bool emptyIndex(Client* c, SvIndRep* r);
// Name, file, flags and key length through the row (table id when not null).
bool updateIndexData(Client* c, SvIndRep* r, ObjectId const& table, String const& name, String const& file,
                     IndFlags flags, int32_t length);

// ---- listings -------------------------------------------------------------------
// The table's structure read from the catalog, as warnings.
void listStructure(Client* c, SvTabRep* t);

}  // namespace svcatalog
