// Data definition through a server: schemas, tables, fields, indexes,
// enumerations, checks and table conversion.
// (Bodies to come: each call refuses with -1 until then.)
#include <dbm/DbInterface.h>

#include "Omdb.h"

char* GetSchemas(void) { return nullptr; }
int32_t LockSchema(int32_t, int32_t) { return -1; }
int32_t FreeSchema(int32_t) { return -1; }
int32_t BuildIndex(int32_t, int32_t) { return -1; }
int32_t EmptyIndex(int32_t) { return -1; }
int32_t CreateSchema(char const*, char const*) { return -1; }
int32_t DropSchema(int32_t) { return -1; }
int32_t _AddEnumItem(int32_t, char const*, char const*, int32_t) { return -1; }
int32_t _DropAllEnums(int32_t) { return -1; }
int32_t CreateTable(int32_t, char const*, char const*, int32_t, int32_t, int32_t) { return -1; }
int32_t _ReCreateTable(int32_t, char const*, char const*, int32_t, int32_t, int32_t) { return -1; }
int32_t AddTabField(int32_t, char const*, char const*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, char const*, char const*) { return -1; }
int32_t RenameTable(int32_t, char const*) { return -1; }
int32_t RenameField(int32_t, char const*) { return -1; }
int32_t DropTable(int32_t) { return -1; }
int32_t DeleteTable(int32_t) { return -1; }
int32_t DelAllRecords(int32_t) { return -1; }
int32_t SetTabRelCheck(int32_t, Expr const*) { return -1; }
int32_t SetDeflt(int32_t, Expr const*) { return -1; }
int32_t SetRelCheck(int32_t, Expr const*) { return -1; }
int32_t _SetInCheck(int32_t, InCheck const*, char const*) { return -1; }
int32_t CreateIndex(int32_t, char const*, int32_t, int32_t) { return -1; }
int32_t AddIndField(int32_t, int32_t, int32_t, int32_t, int32_t) { return -1; }
int32_t DropIndex(int32_t) { return -1; }
uint32_t* GetTabEquiv(int32_t, int32_t) { return nullptr; }
int32_t CopyTable(int32_t, int32_t, uint32_t const*, int32_t) { return -1; }
int32_t ConvertTable(int32_t, int32_t, int32_t, int32_t, DbConvMessage, DbConvProgress, int32_t, int32_t, int32_t) { return -1; }
int32_t CompleteIndex(int32_t) { return -1; }
int32_t SetCollateSet(int32_t, char const*) { return -1; }
int32_t SetObjReference(int32_t, int32_t) { return -1; }
int32_t DbFlushReq(int32_t) { return -1; }
int32_t DbCheckPoint(int32_t) { return -1; }
int32_t NMethods(char const*) { return -1; }
