// Field values in a record buffer, value checks, field expressions and the
// relation through which a table's related record is read.
//
// Field elements keep the buffer forms: texts of length + 1 bytes ending in
// NUL, big-endian integers, 2-byte dates (-32768 null) and times (0 null),
// 8-byte doubles and 16-byte numbers in their stored forms.
#pragma once

#include <cstddef>
#include <cstdint>

#include <dbm/DbDescr.h>

class AnyValue;
class InCheck;
class Expr;

extern "C" {
#pragma GCC visibility push(default)

// Reads a value check stored as its 16-bit little-endian length followed by
// the check's words (big-endian); null when the form is damaged or longer
// than `avail`.
InCheck* LoadInCheck(void const* stored, int32_t avail);
// The stored form of `check` in a def_Alloc allocation; its length in *len.
uint8_t* StoreInCheck(InCheck const* check, int32_t* len);
// An expression rebuilt from its stored form (checked as it is loaded), or
// null when the form is damaged or longer than `avail`.
Expr* DbExpr(void const* stored, int32_t avail);

// Reading a value check: whether it is a list (else a reference to another
// table), whether it is negated, its key and display values (null outside
// the counts).
int32_t InCheckIsInList(InCheck const* check);
int32_t InCheckIsNegated(InCheck const* check);
int32_t InCheckNKeyVal(InCheck const* check);
int32_t InCheckNDspFld(InCheck const* check);
AnyValue const* InCheckGetKeyVal(InCheck const* check, int32_t n);
AnyValue const* InCheckGetDspVal(InCheck const* check, int32_t n);
// 1 when a list check accepts `value` (among the key values, or not among
// them when negated); a field without a check, or a reference check, which
// needs the referenced table, accepts every value here.
int32_t InCheckAccepts(InCheck const* check, AnyValue const* value);

// Reference correction after a table moved from slot `from` to slot `to`
// of `sp`: every reference check naming the old table names the new one
// (its stored form rewritten, the schema marked for rewriting). Returns the
// number of checks changed.
int32_t _CorrectRefs(s_schema* sp, int32_t from, int32_t to);

// Reference correction after index `number` of the table in slot `slot`
// of `sp` was dropped and the table's later indexes moved down one number:
// a reference check naming a later index names it by its new number, one
// naming the dropped index names no index (number 0xff); stored forms are
// rewritten and the schema marked as above. Returns the number changed.
int32_t _CorrectIndexRefs(s_schema* sp, int32_t slot, int32_t number);

// Compiles a display mask: 0 and the two texts (edit first) in one
// allocation at *out; a mask beginning with byte 1 names an environment
// variable holding the mask. Nonzero when it does not compile.
int32_t CompileMask(char const* mask, char** out);

// Element `elem` of field `fld` in `record`: its address, null when the
// element lies outside the field.
char* _FldAddr(s_field const* fld, char* record, int32_t elem);
// True when the element holds the null value of its storage type.
int32_t _IsNull(s_field const* fld, char const* record, int32_t elem);
// Text of the element into `out` (outSize bytes): texts as they stand,
// numbers in decimal, dates and times in their day and second counts.
int32_t GetFld(int32_t field, int32_t elem, char* out, size_t outSize);
// Sets the element from a text (the inverse of GetFld); -1 when refused.
int32_t SFld(int32_t field, int32_t elem, char const* text);
// Sets the element from its buffer form (`len` bytes); -1 when refused.
int32_t SetFld(int32_t field, int32_t elem, void const* value, int32_t len);

// The record stack of a table slot (handle `table`, alias slots apart):
// _PushRecord saves `len` bytes of `record` (0, -1 for no record);
// _PopRecord copies the last saved one back (at most `len` bytes) and
// drops it: 1, or 0 when the stack is empty. _ForgetRecordStack empties it.
int32_t _PushRecord(int32_t table, char const* record, int32_t len);
int32_t _PopRecord(int32_t table, char* record, int32_t len);
void _ForgetRecordStack(int32_t table);
// Checks the record of table handle `table` before a write: 0, or a detail
// number (1: a not-null field other than a stamp field is null) with the
// field's name in `field` (fieldSize bytes). _detailMsg gives the text of a
// detail number (catalogue key "(D<n>)").
int32_t _CheckRecord(int32_t table, char const* record, char* field, size_t fieldSize);
char const* _detailMsg(int32_t code);
// Sets element `elem` of `fld` in `record` to the null value of its type.
void _InitDbField(s_field const* fld, char* record, int32_t elem);
// The value of a one-byte element (storage type 1) at `p`, signed.
int32_t BtoI(void const* p);
// Display text of the element into `out` (outSize bytes): as GetFld, except
// that a number kept as a scaled integer shows its decimal point
// (12345 with 2 decimals: "123.45"). 0, -1 for a bad handle or element.
int32_t GetDspFld(int32_t field, int32_t elem, char* out, size_t outSize);

// The relation of a table: the index of another table through which the
// record related to the table's current record is read. _SetRel relates
// table handle `table` to index handle `index` (0 removes the relation):
// every key part of that index needs a field of the same name, storage type
// and length in `table`; 0, or -1 when refused. _GetRel reads the related
// record after a record of `table` was read: the key parts are taken from
// the fields of those names in the table's buffer and the related record is
// read by the index (no lock) into its table's buffer. The related record's
// number; 0 when the table has no relation; -1 (the related buffer holding
// an initialised record) when none has that key. The relation of a record
// read by a relation is not followed, so relations in a circle end.
int32_t _SetRel(int32_t table, int32_t index);
int32_t _GetRel(int32_t table);

#pragma GCC visibility pop
}  // extern "C"
