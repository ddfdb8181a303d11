// Data dictionary of the run-time layer: handles to descriptors, table and
// index slots of a schema, lookups by name, enumerations and the user's
// privileges. The schema behind a handle comes from the database library the
// program links (_GetSchPtr).
//
// The accessors (_GetTabPtr, _GetFldPtr, _GetIndPtr, _GetTabBuff) report an
// invalid handle ("IO_INV_HANDLE") and give null; they never index outside a
// descriptor's arrays.
#pragma once

#include <cstdint>

#include <dbm/DbDescr.h>

extern "C" {
#pragma GCC visibility push(default)

s_table* _GetTabPtr(int32_t handle);
s_field* _GetFldPtr(int32_t handle);
s_index* _GetIndPtr(int32_t handle);
char* _GetTabBuff(int32_t handle);
// The place of element `elem` of field handle `field` in its table's record
// buffer; null (reported as _GetFldPtr reports) for a bad handle or an
// element outside the field.
char* _GetFldBuff(int32_t field, int32_t elem);

// Handles by name (compared case-blind on the stored length), -1 when none.
// FindDbTable looks in `schema` (0: the current schema).
int32_t FindDbTable(int32_t schema, char const* name);
int32_t FindDbField(int32_t table, char const* name);
int32_t FindDbIndex(int32_t table, char const* name);

// Table slots: _NewTabSlot takes the first free slot for `tab` (the table
// handle, -1 when all are taken); _FindTabSlot the slot of a table by name
// (0 none); _SetTabPtr puts a table into a slot; _FreeTbSlot empties it;
// _ChangeTabSlot moves a table to another free slot (the new handle, -1).
int32_t _NewTabSlot(s_schema* sp, s_table* tab);
int32_t _FindTabSlot(s_schema* sp, char const* name);
void _SetTabPtr(s_schema* sp, int32_t slot, s_table* tab);
void _FreeTbSlot(s_schema* sp, int32_t slot);
int32_t _ChangeTabSlot(s_schema* sp, int32_t from, int32_t to);
// The first index slot of `tab` with no index (its number, -1 none).
int32_t _FindIndSlot(s_table* tab);

// The schema name as slots compare it: the last path component, lower case,
// at most 10 characters, into `out` (11 bytes); returns out.
char* _AddSchemaSuffix(char* out, char const* name);

// The user's level on the schema (8, 4, 2, 1, 0 none): the descriptor's
// owner and the super-user hold 8.
int32_t _FindSchPrivg(s_schema* sp);
// The user's privilege bits on a table (owner and super-user: 1023).
int32_t _FindUserPrivg(s_table* tab);
// The user's privilege from a privilege array: the highest level (schema)
// or all bits (table) of the entries naming the user, a group of the user
// or everyone.
int32_t _PrivgOf(int32_t const* privs, int32_t count, int32_t schemaLevel);

// The value of item `name` of enumeration `enumName` in `sp`; false when
// there is none.
int32_t _FindEnumItem(s_schema* sp, char const* enumName, char const* name, int32_t* value);

// Enumerations kept in the schema descriptor: __AddEnumItem appends item
// `text` = `value` to enumeration `enumName`, making the enumeration (after
// the others) when it is new; a null text only makes it. 1, or 0 when
// refused (no name, 255 enumerations, 65535 items). __DropAllEnums frees
// them all. Names, texts and arrays are held with new[] (as the server-client
// library holds the enumerations it reads) and freed by __DropAllEnums.
int32_t __AddEnumItem(s_schema* sp, char const* enumName, char const* text, int32_t value);
void __DropAllEnums(s_schema* sp);

// The handle of another table of the table's schema with a field whose
// reference check looks its keys up in this table (tables not yet described
// are described first); -1 when none refers to it.
int32_t FindTabReference(int32_t table);

#pragma GCC visibility pop
}  // extern "C"
