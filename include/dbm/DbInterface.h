// The database interface: the plain functions that both database libraries
// export with C linkage (`libomdb_s` through a server, `libzxdb_s` on local
// files). A program links one of the two; the run-time layer `libzeph_s`
// calls these for everything that touches data.
//
// Results: a call refused for a reason the caller may expect returns -1 with
// a code in `_io_errno_` (-2 when a lock could not be had); a condition that
// should not occur is reported through the foundation's Error with a text of
// the catalogue "lib", section "db". Handles are laid out in DbDescr.h.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include <dbm/DbDescr.h>

extern "C" {
#pragma GCC visibility push(default)

// ---- identity ----------------------------------------------------------------
// 1 for the server-client library, 2 for the local one.
int32_t dbmsType(void);
// Ends the program with `status` through the foundation's _stop.
void Stop(int32_t status);
void stop(long status);

// ---- schemas -----------------------------------------------------------------
// The schema handle (slot << 16), or -1 with _io_errno_ set. Flags: 1
// exclusive, 4 report failures, 0x10 load the design texts, 0x20 keep masks
// uncompiled, 0x800 lock test only.
int32_t OpenSchema(char const* path, int32_t flags);
int32_t OpenSchemaVersion(char const* path, int32_t flags, int32_t version);
// 0, or -1 for a handle that names no open schema.
int32_t CloseSchema(int32_t schema);
void CloseAllSchemas(void);
// Makes `schema` current; the previously current handle (-1 none).
int32_t SwitchToSchema(int32_t schema);
// The current schema's handle, -1 none.
int32_t CurrentSchema(void);
// The handle of an open schema by name (null: the current one), -1 none.
int32_t FindSchema(char const* name);
int32_t FindSchemaVersion(char const* name, int32_t version);
// The next open schema after `schema` (start with 0), -1 at the end.
int32_t FindNextSchema(int32_t schema);
// Every schema of the "dbase" directories, tab-separated, in an allocation
// of def_Alloc (the caller frees it with def_Free); null when there is none.
char* GetSchemas(void);
// Sets the description and marks the schema for rewriting; 0 or -1.
int32_t SetDescrSchema(int32_t schema, char const* text);
// Marks the schema for rewriting; 0 or -1.
int32_t _ModifySchema(int32_t schema);
// Writes a pending rewrite: 0, -1 none pending or failed, -2 lock refused.
int32_t _WriteSchema(int32_t schema);
// Flushes every open schema after slot `from` (see the library).
void _flush_schemas(int32_t from);
// The descriptor of an open schema; reports and gives null otherwise.
s_schema* _GetSchPtr(int32_t handle);
// Puts `schema` into slot 0..2 (null frees it).
void _SetSchPtr(int32_t slot, s_schema* schema);
// Splits the directory (with its '/') off a path beginning with '/' or '.'
// into `dir` (1024 bytes); the rest of the path, or null when the directory
// is too long.
char const* _ExtractDir(char const* path, char* dir);

// Copies of a text / of bytes owned by the schema (freed when it closes);
// null for a null source.
char* _StrValPut(s_schema* schema, char const* text);
void* _MemValPut(s_schema* schema, void const* bytes, int32_t length);

// ---- schema locks --------------------------------------------------------------
// Modes: 1 exclusive, 0x200 shared, 0x400 release the shared hold, 0x4000
// also record the user as the design holder (offset 2 of the descriptor);
// anything else only tests that no process holds the schema exclusively.
// 0 granted, -1 no descriptor file or refused for good, -2 refused.
int32_t LockSchema(int32_t schema, int32_t mode);
// Gives up the exclusive hold (back to shared) and the design holder mark.
int32_t FreeSchema(int32_t schema);
// The semaphore operations: the set's key from the descriptor's device and
// inode (never IPC_PRIVATE); one request as one semop (0, -1, -2 as
// LockSchema); an exclusive hold back to shared.
key_t _get_key(int fd);
int32_t _try_to_lock(int semid, int32_t mode, int32_t held);
int32_t _unlock(int semid);

// ---- tables --------------------------------------------------------------------
// Flushes a table's held headers and cache and releases its locks; FreeTable
// also releases a whole-table lock, _FlushTable (at a transaction's end)
// keeps it.
int32_t FreeTable(int32_t table);
int32_t _FlushTable(int32_t table, int32_t how);


// ---- records, keys and transactions ------------------------------------------
// The refusal handler: table handle, catalogue key, detail.
typedef void (*DbHandler)(int32_t table, char const* key, char const* detail);
// Sets the refusal handler (null: the default warning); the previous one.
DbHandler SetDbHandler(DbHandler h);
// Record calls on the table's record buffer: the record number, -1 none.
int32_t AddRecord(int32_t table);
int32_t AddRecordTest(int32_t table);
// By key (mode as _FindKey, number = key parts to match, 0 all) or, mode 0,
// by record number; -1 not found, -2 locked.
int32_t GetRecord(int32_t table, int32_t mode, int32_t lockflags, int32_t number);
// Adds the record or replaces the one with its primary key.
int32_t PutRecord(int32_t table);
// Deletes the record with the primary key in the buffer.
int32_t DelRecord(int32_t table);
// Finds by key (mode as GetRecord, never 0), locks the record and fills
// only the key fields and the record number; the number, -1 none, -2 locked.
int32_t FindRecord(int32_t table, int32_t mode, int32_t nparts);
// Releases the lock of the record the key finds; the number, -1 none.
int32_t FreeRecord(int32_t table, int32_t mode, int32_t nparts);
// A stack of record numbers per table: PushRecord saves the buffer's number,
// PopRecord reads that record again (1 found, 0 not), DiscardRecord drops it.
int32_t PushRecord(int32_t table);
int32_t PopRecord(int32_t table);
int32_t DiscardRecord(int32_t table);
// Locks the whole data file (mode 3 without waiting): 0, -2 refused, -1.
int32_t LockTable(int32_t table, int32_t mode);
int32_t InitRecord(int32_t table);
// Stamps: a stamp read back from the stamp fields of the record buffer
// whose table has a flag of `tableflags` and fields a flag of `fieldflags`
// (a null stamp otherwise); the modification and creation stamps.
time_stamp TimeStamp(int32_t table, int32_t tableflags, int32_t fieldflags);
time_stamp MTimeStamp(int32_t table);
time_stamp CTimeStamp(int32_t table);
// The data file's modification time as a stamp (both shorts -1).
time_stamp TableTimeStamp(int32_t table);
// Writes the given stamps (null: left alone) into the stamp fields of buffer.
int32_t SetFieldStamps(int32_t table, char* buffer, time_stamp const* creation, time_stamp const* modification);
// Adds the buffer's record with the given stamps (the schema's owner or the
// super-user only); the record number, -1 none.
int32_t AddRecordTS(int32_t table, time_stamp const* creation, time_stamp const* modification);
// The download stamp of the data file; the stamp stored or -1.
time_stamp GetDownLoadTS(int32_t table);
int32_t SetDownLoadTS(int32_t table, time_stamp const* stamp);
// Live records / highest record number; -1 when unreadable.
int32_t TabNRecords(int32_t table);
int32_t TabActualSize(int32_t table);
// Writes back held index and table headers and releases them.
int32_t FlushTable(int32_t table);
// A cache of kilobytes (at most 64 KB) of records; flags 1 lock the table
// whole first (-2 when refused), 0x1000 window mode. 0 or -1.
int32_t SetDataCache(int32_t table, int32_t kilobytes, int32_t flags);
// A node cache of kilobytes for an index (0: one leaf buffer); 0 or -1.
int32_t SetIndexCache(int32_t index, int32_t kilobytes);
// Forgets what the library keeps for a table being freed.
void _ForgetTableState(s_table* t);
// Key operations: the record number, the negated existing one, 0 refused.
int32_t _AddKey(int32_t index, int32_t recno, char* record, int32_t table);
int32_t _DelKey(int32_t index, int32_t recno, char const* record);
// Searches `index` (modes 1 equal, 2 next, 4 previous, 8 first, 16 last,
// 0x20 nparts, 0x40 continue): the record number, -1 none, -2 busy.
int32_t _FindKey(void const* caller, int32_t index, char const* record, int32_t mode, int32_t nparts,
                 char** keyout, int32_t lockmode);
// 0 when the index's root ascends and counts the table's records.
int32_t _DbVerifyConsist(char const* module, int32_t line, int32_t index);
int32_t BeginTrans(int32_t flags);
int32_t BeginTransaction(void);
int32_t OptimisticTransaction(void);
// 1 committed, 0 rolled back.
int32_t EndTransaction(void);
int32_t EndTrans(void);
int32_t EndSyncTransaction(void);
// 0, or -1 when no log is active.
int32_t RollBack(void);
int32_t InTransaction(void);
int32_t TransOk(void);
int32_t SaneTrans(void);
int32_t CorruptTrans(void);
int32_t GetTransMode(void);
int32_t LogStatus(void);
int32_t SetLogStatus(int32_t value);
// Logs an operation of the current transaction (starting the log and the
// transaction when needed) / writes a log record without that. Arguments:
// ops 1 and 2 (current, schema, dir, name, flags), 5 and 7 (table, record),
// 6 (table, before, after), 8 (previous, new). 0, or -1 when not logged.
int32_t _DbLog(int32_t op, ...);
int32_t _DbRLog(int32_t op, ...);
// The log file: opened (mode "w+" empties it) with its first byte locked;
// closed (rolling back an active transaction; removed, or kept as "f_..."
// with ROLLFORW); started from LOGDIR. 0 or -1.
int32_t OpenLog(char const* name, char const* mode);
int32_t CloseLog(void);
int32_t InitLog(void);
// Starts the transaction of the first change.
int32_t InitTrans(void);
// Builds an index from the data file (flags 2 only when marked damaged, 128
// repair, 256 progress): the records found, -1 on failure.
int32_t BuildIndex(int32_t index, int32_t flags);
// Forgets an index and closes its file (removing a temporary one).
int32_t EmptyIndex(int32_t index);
// Cursors over an index of a table (the run-time layer keeps them): the
// cursor handle, -1 without SELECT privilege (warning "(21)") or when no
// cursor can be made; flags 1 keep the block's records locked, 2 skip
// locked records.
int32_t CreateCursor(int32_t index, int32_t flags);
// Releases the cursor's locks and deletes it; 0, -1 for a bad handle.
int32_t DeleteCursor(int32_t cursor);
// The records of the cursor's range (without those skipped as locked); the
// cursor starts again at its first record.
int32_t CountCursor(int32_t cursor);
// Fill the block of a cursor with the records after (before) its last block,
// in index order going forward (backward); the count read (0 none, the
// block untouched), -1 on a bad cursor, -2 when the first record is locked.
int32_t _GetNextBlock(s_dbcurs* cursor);
int32_t _GetPrevBlock(s_dbcurs* cursor);
// Releases the records a cursor holds locked and forgets its position.
void _FreeCursorCache(s_dbcurs* cursor);

// ---- files (for the run-time layer) -------------------------------------------
// Bytes of a buffer that holds any path _DbFileName builds.
#define DB_PATH_MAX 1056
char* _DbFileName(char* buffer, s_schema* schema, char const* name, char const* ext);
s_vfile* _DbOpen(s_schema* schema, char const* name, char const* ext, int32_t flags);
void _DbClose(s_vfile* vf);
int32_t _DbRead(s_vfile* vf, void* buffer, int32_t length, int64_t offset, int32_t lockmode);
int32_t _DbWrite(s_vfile* vf, void const* buffer, int32_t length, int64_t offset);
int32_t _DbFree(s_vfile* vf, int32_t length, int64_t offset);
int32_t _DbLockf(s_vfile* vf, int32_t mode);
int64_t _DbStat(s_vfile* vf, int32_t what);
int32_t _DbUnlink(s_schema* schema, char const* name, char const* ext);
int32_t _DbRename(s_schema* schema, char const* name1, char const* ext1, char const* name2,
                  char const* ext2);
// The real descriptor of a virtual file; -1 (reported unless quiet) when the
// entry is not a live one.
int vfd(s_vfile* vf, int32_t quiet);
// Locks `length` bytes from fd's current position: false when obtained,
// true when another process holds them (or the lock could not be had).
int32_t zeph_lock(int fd, int32_t mode, int64_t length);
void _lockFlush(int32_t table);
void _releaseFlush(void);
void _FlushAll(void);

// ---- design: schemas, tables, fields, indexes -----------------------------------
// Names of schemas, tables, fields and indexes are plain file-name
// components (not empty, ".", ".." or containing '/'); others are refused
// with -1 before anything is made. A change to a stored object takes the
// schema's exclusive lock (-2 when another process has the schema open).
// Codes in _io_errno_: 1 / 13 no privilege (stored / temporary), 3
// descriptor not created, 4 directory not created, 5 data or index file not
// opened, 7 name exists, 8 mask does not compile, 12 table referenced, 14 no
// free schema slot.
//
// Creates schema directory and descriptor (in the path's directory, else the
// first "dbase" directory) and opens it: the schema handle, or -1.
int32_t CreateSchema(char const* path, char const* description);
// Deletes every table, the descriptor and the directory: 0, -1, -2.
int32_t DropSchema(int32_t schema);
// Gives the schema (and its descriptor file) to user `uid`: 1, 0 when the
// file's owner could not be changed, -1 when the caller may not.
int32_t ChownSchema(int32_t schema, int32_t uid);
// Adds item `name` = `value` to enumeration `enumeration` (made when new):
// 1, or -1. _DropAllEnums: forgets every enumeration; 0 or -1.
int32_t _AddEnumItem(int32_t schema, char const* enumeration, char const* name, int32_t value);
int32_t _DropAllEnums(int32_t schema);
// A new table with room for `nfields` fields (flags bit 0 temporary, bit 2
// report refusals): the table handle, or -1 / -2. _ReCreateTable deletes
// the table of that name first.
int32_t CreateTable(int32_t schema, char const* name, char const* description, int32_t flags, int32_t reserved,
                    int32_t nfields);
int32_t _ReCreateTable(int32_t schema, char const* name, char const* description, int32_t flags,
                       int32_t reserved, int32_t nfields);
// The storage type of a field of `type` and `length`; -1 for none.
int32_t CalcItype(int32_t type, int32_t length);
// Adds a field at the end of the record: the field handle, or -1 / -2.
// Flags bit 1 compiles the mask; fields named "cdate", "ctime", "cuid"
// ("mdate", "mtime", "muid") stamp creation (modification).
int32_t AddTabField(int32_t table, char const* name, char const* description, int32_t dimension, int32_t type,
                    int32_t attribute, int32_t length, int32_t decimals, int32_t flags, char const* deflt,
                    char const* mask);
int32_t RenameTable(int32_t table, char const* name);
int32_t RenameField(int32_t field, char const* name);
// DropTable refuses a table another table's reference check names (12);
// DeleteTable removes a table and its files. 0, -1, -2.
int32_t DropTable(int32_t table);
int32_t DeleteTable(int32_t table);
// Empties a table (data and index files cut), unlogged: 0, -1, -2.
int32_t DelAllRecords(int32_t table);
// Expressions and the value check of a field, the check of a table: 0, or
// -1 when one is set already or its stored form is over its limit.
int32_t SetTabRelCheck(int32_t table, Expr const* expression);
int32_t SetDeflt(int32_t field, Expr const* expression);
int32_t SetRelCheck(int32_t field, Expr const* expression);
int32_t _SetInCheck(int32_t field, InCheck const* check, char const* text);
// A new index (flags bit 0 unique, bit 1 temporary, bit 2 report refusals;
// index 0 is always unique), nodes of `nodekilobytes` KB (0: 1, or from the
// table size): the index handle, or -1 / -2. AddIndField adds a key part
// (`offset` and `length` within a text field): 0, -1, -2.
int32_t CreateIndex(int32_t table, char const* name, int32_t flags, int32_t nodekilobytes);
int32_t AddIndField(int32_t index, int32_t field, int32_t flags, int32_t offset, int32_t length);
// Removes an index; the following ones move down one number.
int32_t DropIndex(int32_t index);
// One word per field of the old table: the new field's handle and the
// difference bits (0x20000000 none, 0x40000000 type, 0x80000000 not null
// without a default, 0x8000000 shorter, 0x10000000 fewer decimals, 0x2000000
// smaller dimension, 0x1000000 identical). A def_Alloc allocation, null for
// a bad handle.
uint32_t* GetTabEquiv(int32_t newTable, int32_t oldTable);
// Copies every live record of `source` into `destination` field by field
// through the equivalence (flags bit 0 empties the destination first and
// keeps the records' stamps): the records copied, or -1.
int32_t CopyTable(int32_t destination, int32_t source, uint32_t const* equivalence, int32_t flags);
// The message function of a conversion: a nonzero answer stops it; the
// progress function is told each step.
typedef int32_t (*DbConvMessage)(char const* text);
typedef void (*DbConvProgress)(char const* text);
// Converts table `oldTable` to the definition of `newTable`, which takes
// the old table's name and slot: 0, or -1 with the old table unchanged.
int32_t ConvertTable(int32_t oldTable, int32_t newTable, int32_t ignore, int32_t reserved, DbConvMessage message,
                     DbConvProgress progress, int32_t indexkilobytes, int32_t datakilobytes, int32_t correctrefs);

// ---- the server-client library's own design calls ------------------------------
// (libomdb_s only.) Drops a schema on its server; `checkpoint` asks for a
// checkpoint after the drop: 0, -1, -2.
int32_t _DropSchema(int32_t schema, int32_t checkpoint);
// Sends a table / an index defined locally to the server: 0 / the index's
// number on the server, or -1.
int32_t _CreateTable(int32_t schema, s_table* table);
int32_t _CreateIndex(s_index* index);
// Compares the definition of `newTable` with `oldTable` on the server: 0
// the records must be copied, 1 the new table took the old one's place
// (*indices: the server's numbers of the indexes to build, ended by -1, a
// def_Alloc allocation), -1 refused.
int32_t AlterTable(int32_t oldTable, int32_t newTable, int32_t flag, int32_t** indices);
// The new table takes the old one's name and place; the old one goes.
int32_t ReplaceTable(int32_t oldTable, int32_t newTable);
// A fresh copy of a text / of bytes (def_Alloc; null for null) that
// replaces `old`, which is freed.
char* _StrValPutOrAlloc(char* old, char const* text);
void* _MemValPutOrAlloc(void* old, void const* bytes, int32_t length);

// ---- calls that do nothing or refuse here -----------------------------------
int32_t CompleteIndex(int32_t index);
int32_t VersionNumber(char const* name, int32_t version);
int32_t SchemaVersion(int32_t schema);
int32_t SetTableCache(int32_t table, int32_t n);
int32_t TableCacheSize(int32_t table);
int32_t SetCollateSet(int32_t field, char const* name);
int32_t SetObjReference(int32_t field, int32_t index);
int32_t _FlushSchPrivileges(s_schema* schema);
int32_t _FlushTabPrivileges(s_schema* schema);
int32_t DbFlushReq(int32_t schema);
int32_t DbCheckPoint(int32_t schema);
int32_t NMethods(char const* name);
void _ReOpenSchema(int32_t schema);
int32_t UpdateRecord(int32_t table, ...);
int32_t GetObject(uint32_t const* objectId, int32_t flags);
int32_t GetDbTable(int32_t number);
int32_t ObjFld(int32_t field, int32_t element, uint32_t* objectId);
int32_t SetObjFld(char* record, uint32_t const* objectId, int32_t field, int32_t element);
int32_t stDbObj(void* place, uint32_t const* objectId);
int32_t ldDbObj(void const* place, uint32_t* objectId);
s_table* _AttachTable(s_table* table);
// The table's whole name, as the run-time layer compares names: a table of
// the server-client library may have a name longer than d.name holds; the
// local library's names are d.name itself.
char const* _TabName(s_table const* table);

#pragma GCC visibility pop
}  // extern "C"
