// The descriptors shared by both database libraries and the run-time layer:
// schema, table, field, index, key part, cursor, time stamp and the schema's
// per-table slot, and the layout of a database handle.
//
// Each descriptor keeps its dictionary part in `d` (what a schema descriptor
// file stores, in host form) and the in-memory rest beside it. What only one
// library keeps hangs off `u` (the local library's state behind `u.zx`, the
// server-client library's behind `u.om`); neither library reads the other's.
//
// Handles (32 bits): schema = slot << 16 (slots 1 and 2), table = schema |
// table slot << 8 (slots from 1), field = table | (field number + 1),
// index = table | index number (from 0).
//
// Invariants: a table's `fields` has d.nfields entries, `indexes` has
// `nindexes` entries (stored ones first, d.nindex of them); every key part's
// field handle names a field of its table; a string pointer is null or a
// NUL-terminated text.
#pragma once

#include <cstdint>

class Expr;
class InCheck;
struct s_vfile;
struct zx_schema;
struct zx_table;
struct om_schema;
struct om_table;

// ---- handles ---------------------------------------------------------------
inline constexpr int32_t kDbMaxSchemas = 2;    // open schemas in a process
inline constexpr int32_t kDbMaxTables = 254;   // table slots of a schema, 1..254
inline constexpr int32_t kDbMaxFields = 254;   // fields of a table
inline constexpr int32_t kDbMaxIndexes = 255;  // indexes of a table

inline int32_t dbSchemaSlot(int32_t h) { return (h >> 16) & 0xff; }
inline int32_t dbTableSlot(int32_t h) { return (h >> 8) & 0xff; }
inline int32_t dbLowByte(int32_t h) { return h & 0xff; }
inline int32_t dbSchemaHandle(int32_t slot) { return slot << 16; }
inline int32_t dbTableHandle(int32_t schema, int32_t slot) { return (schema & 0xff0000) | (slot << 8); }

// ---- privileges --------------------------------------------------------------
// One entry of a privilege array, held as a 32-bit long: bits 0-15 the user or
// group id, bits 16-17 the id type, bits 18-31 the privilege.
enum : uint16_t { DB_PRIV_GROUP = 0, DB_PRIV_USER = 1, DB_PRIV_EVERYONE = 2 };
inline uint16_t dbPrivId(int32_t e) { return uint16_t(uint32_t(e) & 0xffff); }
inline uint16_t dbPrivType(int32_t e) { return uint16_t((uint32_t(e) >> 16) & 3); }
inline uint16_t dbPrivBits(int32_t e) { return uint16_t((uint32_t(e) >> 18) & 0x3fff); }
inline int32_t dbPrivEntry(uint16_t id, uint16_t type, uint16_t priv) {
  return int32_t(uint32_t(id) | (uint32_t(type & 3) << 16) | (uint32_t(priv & 0x3fff) << 18));
}
// Schema levels (one of them) and table bits.
enum : int32_t { DB_SCH_READ = 1, DB_SCH_WRITE = 2, DB_SCH_MANIP = 4, DB_SCH_DESIGN = 8 };
enum : int32_t { DB_TAB_INSERT = 1, DB_TAB_DELETE = 2, DB_TAB_UPDATE = 4, DB_TAB_SELECT = 8, DB_TAB_ALL = 1023 };

// ---- storage types of a field element (d.f_itype) --------------------------
enum : uint16_t {
  DB_IT_TEXT = 0, DB_IT_BYTE = 1, DB_IT_SHORT = 2, DB_IT_LONG = 3, DB_IT_DOUBLE = 4,
  DB_IT_DATE = 5, DB_IT_TIME = 6, DB_IT_FLOAT = 7, DB_IT_NUM = 8, DB_IT_BINARY = 9, DB_IT_OBJECT = 10,
};
// Bytes of one element of storage type `itype` and field length `len`; 0 for
// an unknown type.
inline int32_t dbElemSize(uint16_t itype, uint16_t len) {
  switch (itype) {
    case DB_IT_TEXT: return int32_t(len) + 1;
    case DB_IT_BYTE: return 1;
    case DB_IT_SHORT: case DB_IT_DATE: case DB_IT_TIME: return 2;
    case DB_IT_LONG: return 4;
    case DB_IT_DOUBLE: case DB_IT_FLOAT: case DB_IT_OBJECT: return 8;
    case DB_IT_BINARY: return 12;
    case DB_IT_NUM: return 16;
    default: return 0;
  }
}

// A stored form kept as bytes (expressions, value checks): null when absent.
struct s_blob {
  uint8_t const* data;
  int32_t len;
};

// ---- field -----------------------------------------------------------------
struct s_field {
  struct {
    char const* name;
    char const* descr;    // null when not loaded
    uint16_t dim;         // 0 scalar
    uint16_t offset;      // in the record, prefix included
    uint16_t type;        // 0 numeric, 1 string, 2 date, 3 time, ...
    uint16_t f_itype;     // storage type
    uint16_t attr;
    uint16_t flags;       // bit 0 not null; 0x40, 0x80, 0x100 stamps
    uint16_t len;
    uint8_t dec;
    char const* mask;     // source text of the display mask
    s_blob deflt;         // default expression, stored form
    s_blob incheck;       // value check, stored form (16-bit length first)
    s_blob check;         // check expression, stored form
    char const* inctext;  // text of the value check
  } d;
  uint8_t raw[44];        // the record as read, unlisted bytes kept
  char* cmask;            // compiled mask: edit text, NUL, check text, NUL
  Expr* deflt;
  Expr* check;
  InCheck* incheck;
};

// ---- index -------------------------------------------------------------------
struct s_index_field {
  uint16_t itype;   // storage type of the part
  uint16_t flags;   // part flags
  uint8_t len;      // bytes in the key
  uint8_t spare;    // stored as read
  uint16_t offset;  // in the record
  int32_t field;    // field handle (table and field number used)
};

struct s_index {
  struct {
    char const* name;  // null when not loaded
    uint16_t flags;    // bit 0 unique, bit 1 temporary
    uint16_t klen;     // key length
    uint16_t nparts;
    uint16_t node;     // node size in bytes (0: not stored)
  } d;
  s_index_field* parts;
  int32_t state;
  s_vfile* file;
};

// ---- table -------------------------------------------------------------------
struct s_schema;

struct s_table {
  struct {
    char name[11];       // lower case, NUL-terminated
    char const* descr;   // null when not loaded
    uint16_t flags;      // bit 0 temporary
    uint8_t nfields;
    uint8_t nindex;      // stored indexes
    uint16_t len;        // record length, 4-byte prefix included
    int32_t size;        // declared number of records
    int32_t* privs;      // privilege array (host order)
    uint16_t nprivs;
    s_blob check;        // table check expression, stored form
  } d;
  uint8_t raw[44];       // the record as read, unlisted bytes kept
  s_schema* schema;
  s_field* fields;       // d.nfields entries
  s_index* indexes;      // nindexes entries
  int32_t nindexes;
  int32_t privg;         // the user's privileges on the table
  Expr* check;
  s_vfile* data;         // data file
  int32_t rel;           // relation: index handle of the related table, 0 none
  union {
    zx_table* zx;
    om_table* om;
  } u;
};

// The schema's slot of one table.
struct tab_array {
  char* buffer;      // record buffer: record, then its big-endian number
  s_table* tab;      // null: free slot
  uint8_t alias;     // slot names another slot's table
  void* cache;       // record cache (library's own)
  uint16_t ncache;
  uint16_t cmode;
};

// ---- enumerations --------------------------------------------------------------
struct s_enum_item {
  char const* text;
  int32_t value;
};
struct s_enum {
  char const* name;
  int32_t nitems;
  s_enum_item* items;
};

// ---- schema ------------------------------------------------------------------
struct s_schema {
  struct {
    uint16_t magic;      // 395
    uint16_t lockuid;    // user holding the schema for design changes
    uint16_t version;    // 24349
    char name[11];       // lower case
    char const* descr;   // null when not loaded
    uint8_t n_tables;    // table records stored + 1
    int32_t* privs;      // privilege array (host order)
    uint16_t nprivs;
    uint8_t nenums;
  } d;
  uint8_t raw[72];       // the header as read, unlisted bytes kept
  char dir[1024];        // directory with its '/', empty for none
  s_enum* enums;
  tab_array* tables;     // kDbMaxTables + 1 entries; slot 0 unused
  int32_t handle;        // slot << 16
  int32_t owner;         // user id of the descriptor file's owner
  int32_t privg;         // the user's schema level
  int32_t oflags;        // open flags
  int32_t rewrite;       // a rewrite is pending
  union {
    zx_schema* zx;
    om_schema* om;
  } u;
};

// ---- time stamp and cursor -----------------------------------------------------
struct time_stamp {
  int32_t time;    // short time form: 0 null, else 1 + seconds / 2
  int32_t date;    // day number, -32768 null
  int16_t spare;   // kept 0
  int16_t user;    // user id
};

// A cursor walks a table through one index between two range records. The
// run-time layer owns it and moves through its block; the database library
// fills the block. A block filled forward holds entries 0..|fnrec|-1, one
// filled backward entries capacity-|bnrec|..capacity-1, both in index order
// (at most one of the two counts is nonzero). A count is negative when its
// block reached the end of the index or of the range in its direction.
struct s_dbcurs {
  int32_t handle;     // cursor handle: slot << 24 | index handle
  int32_t table;      // table handle
  int32_t index;      // index handle
  int32_t flags;      // bit 0 keep the block's records locked, 2 skip locked
  char* block;        // fetched records (record length + 4 each, the number last)
  int32_t capacity;   // records the block holds
  int32_t fnrec;      // records of the last forward block
  int32_t bnrec;      // records of the last backward block
  int32_t pos;        // current entry; -1 / capacity before any fetch
  int32_t nlocked;    // records the library holds locked for the block
  char* low;          // range records (record + number), null: open end
  char* high;
  uint8_t lowx;       // 1: the range excludes the low record's key
  uint8_t highx;      // 1: the range excludes the high record's key
  void* u;            // library's own
};
