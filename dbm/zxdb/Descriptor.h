// The schema descriptor file ("<schema>.sco"): its byte layout, reader and
// writer. All numbers little-endian; offsets count from the start of the
// string area, -1 for none.
//
//   header, 72 bytes                       table record, 44 bytes
//   @0  u16 magic 395                      @0  10  name, lower case
//   @2  u16 design lock user id            @16 u32 description (part 2)
//   @4  u16 version 24349                  @20 u16 flags (bit 0 temporary)
//   @34 10  schema name, lower case        @22 u8  field count
//   @48 u32 description (part 2)           @23 u8  stored index count
//   @52 u8  table records + 1              @24 u16 record length
//   @56 u32 string area size (low 16 used) @28 u32 table size
//   @60 u16 size of part 1                 @32 u32 longs (part 1)
//   @64 u32 longs of the schema (part 1)   @36 u16 number of longs
//   @68 u16 number of those longs          @40 u32 check expression (part 1)
//   @70 u8  number of enumerations
//   other bytes: kept as read.
//
//   field record, 44 bytes                 index record, 12 bytes
//   @0  u32 name (part 1)                  @0  u32 name (part 2)
//   @4  u32 description (part 2)           @4  u16 flags
//   @8  u16 dimension                      @6  u16 key length
//   @10 u16 offset in the record           @8  u16 key-part count
//   @12 u16 type                           @10 u16 node size
//   @14 u16 storage type                   key part, 12 bytes
//   @16 u16 attribute                      @0  u16 storage type
//   @18 u16 flags                          @2  u16 part flags
//   @20 u16 length                         @4  u8  length in the key
//   @22 u8  decimals                       @5  u8  kept as read
//   @24 u32 display mask text (part 1)     @6  u16 offset in the record
//   @28 u32 default expression (part 1)    @8  u32 field handle
//   @32 u32 value check (part 1)
//   @36 u32 check expression (part 1)
//   @40 u32 value-check text (part 1)
//
// File order: header, string area (part 1 then part 2), enumerations (8
// bytes: name offset, item count; then the items, 8 bytes: text offset,
// value), table records one per slot from 1 (an empty slot is 44 zero
// bytes), each followed by its fields, then its stored indexes each with its
// key parts. String area, part 1: schema longs; each enumeration's name and
// item texts; per stored table its longs and check expression, then per
// field its check expression, mask, default expression, value check, name
// and value-check text. Part 2: schema description; per stored table its
// description, each field's description, each stored index's name. Every
// item starts at a multiple of 4 (blank padding); strings keep their NUL.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <dbm/DbDescr.h>

namespace zxdb {

inline constexpr uint16_t kMagic = 395;
inline constexpr uint16_t kVersion = 24349;
inline constexpr int32_t kHeaderSize = 72;
inline constexpr int32_t kTableRecSize = 44;
inline constexpr int32_t kFieldRecSize = 44;
inline constexpr int32_t kIndexRecSize = 12;
inline constexpr int32_t kKeyPartSize = 12;
inline constexpr int64_t kMaxDescriptor = 64 << 20;  // bytes read at most

// Open codes of a damaged descriptor.
inline constexpr int32_t kDamagedTable = 5;
inline constexpr int32_t kBadVersion = 6;
inline constexpr int32_t kNotDescriptor = 9;

// What the design calls keep of a table beside its descriptor: the field
// capacity CreateTable was given, and the generated file names of a
// temporary table's data file and of temporary indexes (by index number).
// (The library's own comparison keeps the map's code out of the exported
// symbols.)
struct IndexNumberOrder {
  bool operator()(int32_t a, int32_t b) const { return a < b; }
};
struct TableDesign {
  int32_t capacity = 0;
  std::string dataName;
  std::map<int32_t, std::string, IndexNumberOrder> tempIndex;
};

// Library state of an open schema: every allocation made for it (freed at
// close) and whether the design texts were loaded.
struct SchemaState {
  std::vector<void*> allocs;
  bool designLoaded = false;
  std::string badTable;  // name of the damaged table, for the report
  // Schema lock: the semaphore set's id (-1: no lock held), whether this
  // process holds it exclusively, and the process that took it (a forked
  // child holds nothing of its parent's).
  int semid = -1;
  bool exclusive = false;
  int lockPid = 0;
  std::map<s_table const*, TableDesign> design;
};

// Builds `sp` (zeroed by the caller, u.zx set) from the file image: 0, or an
// open code (5 with st.badTable set, 6, 9). `name` is the expected schema
// name (lower case). Without `design`, part-2 texts are left null.
int32_t readDescriptor(std::vector<uint8_t> const& file, char const* name, bool design, s_schema* sp);
// The file image of `sp`; false (nothing made) when a count or the string
// area exceeds what the format holds.
bool writeDescriptor(s_schema const* sp, std::vector<uint8_t>& out);

// Copies of texts and bytes owned by the schema.
char* keepText(s_schema* sp, char const* text);
void* keepBytes(s_schema* sp, void const* bytes, size_t n);

}  // namespace zxdb

struct zx_schema : zxdb::SchemaState {};
