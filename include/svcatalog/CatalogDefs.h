// The six catalog tables of a schema: their files, columns, record layout and
// indexes, and the checks every catalog value passes before a row is written.
//
// Record layout (prefix of 20 bytes; "string n" is n + 1 bytes, "number n" 2
// bytes per base-10,000 unit, (n + 3) / 4 units, "object" 8 bytes):
//
//   "$class.tab" (instance 1), record length 436
//     0 name s16 @20   1 file s64 @37     2 descr s64 @102   3 flags n3 @167
//     4 len n5 @169    5 size n9 @173     6 relcheck s256 @179
//   "$member.tab" (instance 2), record length 613
//     0 class obj @20  1 fldnum n3 @28    2 name s16 @30     3 descr s64 @47
//     4 dim n3 @112    5 type n3 @114     6 sqltype n3 @116  7 flags n3 @118
//     8 len n2 @120    9 ndec n2 @122     10 mask s128 @124  11 relcheck s128 @253
//     12 integtype n3 @382  13 integneg n1 @384  14 integind obj @386
//     15 deflt s128 @394    16 collset s16 @523  17 objRef obj @540
//     18 enunname s64 @548
//   "$mindex.tab" (instance 3), record length 72
//     0 class obj @20  1 indnum n3 @28    2 name s16 @30     3 file s16 @47
//     4 flags n3 @64   5 len n5 @66       6 nfields n3 @70
//   "$mimembr.tab" (instance 4), record length 46
//     0 index obj @20  1 indfldnum n3 @28 2 member obj @30   3 flags n3 @38
//     4 len n5 @40     5 offset n3 @44
//   "$privg.tab" (instance 5), record length 38
//     0 class obj @20  1 fldprivnum n3 @28  2 id n5 @30  3 idtype n4 @34  4 priv n4 @36
//   "$integr.tab" (instance 6), record length 97
//     0 member obj @20 1 fldinnum n3 @28  2 type n1 @30      3 value s64 @32
//
// The record length given to the data file is the offset after the last
// column (prefix included), and the file adds the prefix again to make its
// slot: stored catalog files have slots of record length + 20 bytes.
//
// Indexes: index 0 over the row's instance number (key length 4, flags 2),
// named "name" for "$class" and "iid" for the others, file "<table>.i00";
// index 1 (all but "$class") over columns 0 and 1 (key length 8 + 2 = 10,
// flags 1: duplicates), named "table", "table", "index", "table", "field",
// file "<table>.i01".
//
// Value checks: a number column holds what its units hold (one unit:
// -9999..9999; two: eight digits; three: any 32-bit value); a string column
// at most its declared length. A value that does not fit is refused with
// InvalidData naming the table and column before anything is written, so a
// row never comes back from the file different from what was meant.
#pragma once

#include <cstdint>

#include <zfound/String.h>

class SvTabRep;

namespace svcatalog {

// The six catalog tables, in instance-number order (instance = kind + 1).
enum class Cat : int32_t { Class = 0, Member, MIndex, MIMembr, Privg, Integr };
constexpr int32_t kNCatalogs = 6;
// Instance number of the schema's own "$class.tab" row.
constexpr uint32_t kSchemaRowInst = 16;

// Column kinds.
enum class ColKind : int32_t { Str, Num, Oid };

struct ColumnDef {
  char const* name;
  ColKind kind;
  int32_t length;  // declared length or digits; 0 for object ids
};

struct CatalogDef {
  char const* table;      // "$class" ...
  char const* file;       // "$class.tab" ...
  char const* index0;     // name of the object-id index
  char const* index1;     // name of the second index, or null
  int32_t capacity;       // initial field capacity
  int32_t nColumns;
  ColumnDef const* columns;
};

// The definition of one catalog table.
CatalogDef const& catalogDef(Cat c);
inline uint32_t catalogInst(Cat c) { return uint32_t(c) + 1; }

// Column numbers used by name in the catalog code.
namespace ClassCol { enum : int32_t { Name, File, Descr, Flags, Len, Size, RelCheck }; }
namespace MemberCol {
enum : int32_t {
  Class, FldNum, Name, Descr, Dim, Type, SqlType, Flags, Len, NDec, Mask, RelCheck,
  IntegType, IntegNeg, IntegInd, Deflt, CollSet, ObjRef, EnumName
};
}
namespace MIndexCol { enum : int32_t { Class, IndNum, Name, File, Flags, Len, NFields }; }
namespace MIMembrCol { enum : int32_t { Index, IndFldNum, Member, Flags, Len, Offset }; }
namespace PrivgCol { enum : int32_t { Class, FldPrivNum, Id, IdType, Priv }; }
namespace IntegrCol { enum : int32_t { Member, FldInNum, Type, Value }; }

// Builds the columns of catalog c on t (field id 0 each) in column order.
// False when a column could not be made (error recorded).
bool buildCatalogColumns(SvTabRep* t, Cat c);

// Largest magnitude a number column of `digits` declared digits keeps.
int32_t numColumnLimit(int32_t digits);

// True when value fits column col of catalog c; else InvalidData naming
// the table and the column, and false.
bool columnFits(Cat c, int32_t col, int32_t value);
bool columnFits(Cat c, int32_t col, String const& value);

// True when a "$class.tab" table row's record length and flags are what an
// open reads back (length not negative, flags within the four known bits);
// else InvalidData naming the table, and false.
bool tableRowFits(String const& table, int32_t recLength, int32_t flags);

}  // namespace svcatalog
