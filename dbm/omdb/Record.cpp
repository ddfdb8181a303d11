// Records, keys, stamps and the client table cache of a table on its server.
// (Bodies to come: each call refuses with -1 until then.)
#include <dbm/DbInterface.h>

#include "Omdb.h"

int32_t FreeTable(int32_t) { return -1; }
int32_t _FlushTable(int32_t, int32_t) { return -1; }
DbHandler SetDbHandler(DbHandler) { return nullptr; }
int32_t AddRecord(int32_t) { return -1; }
int32_t AddRecordTest(int32_t) { return -1; }
int32_t GetRecord(int32_t, int32_t, int32_t, int32_t) { return -1; }
int32_t PutRecord(int32_t) { return -1; }
int32_t DelRecord(int32_t) { return -1; }
int32_t FindRecord(int32_t, int32_t, int32_t) { return -1; }
int32_t FreeRecord(int32_t, int32_t, int32_t) { return -1; }
int32_t PushRecord(int32_t) { return -1; }
int32_t PopRecord(int32_t) { return -1; }
int32_t DiscardRecord(int32_t) { return -1; }
int32_t LockTable(int32_t, int32_t) { return -1; }
int32_t InitRecord(int32_t) { return -1; }
time_stamp TimeStamp(int32_t, int32_t, int32_t) { return time_stamp{0, -32768, 0, 0}; }
time_stamp MTimeStamp(int32_t) { return time_stamp{0, -32768, 0, 0}; }
time_stamp CTimeStamp(int32_t) { return time_stamp{0, -32768, 0, 0}; }
time_stamp TableTimeStamp(int32_t) { return time_stamp{0, -32768, 0, 0}; }
int32_t SetFieldStamps(int32_t, char*, time_stamp const*, time_stamp const*) { return -1; }
int32_t AddRecordTS(int32_t, time_stamp const*, time_stamp const*) { return -1; }
time_stamp GetDownLoadTS(int32_t) { return time_stamp{0, -32768, 0, 0}; }
int32_t SetDownLoadTS(int32_t, time_stamp const*) { return -1; }
int32_t TabNRecords(int32_t) { return -1; }
int32_t TabActualSize(int32_t) { return -1; }
int32_t FlushTable(int32_t) { return -1; }
int32_t SetDataCache(int32_t, int32_t, int32_t) { return -1; }
int32_t SetIndexCache(int32_t, int32_t) { return -1; }
void _ForgetTableState(s_table*) {}
int32_t _AddKey(int32_t, int32_t, char*, int32_t) { return -1; }
int32_t _DelKey(int32_t, int32_t, char const*) { return -1; }
int32_t _FindKey(void const*, int32_t, char const*, int32_t, int32_t, char**, int32_t) { return -1; }
int32_t SetTableCache(int32_t, int32_t) { return -1; }
int32_t TableCacheSize(int32_t) { return -1; }
int32_t UpdateRecord(int32_t, ...) { return -1; }
int32_t GetObject(uint32_t const*, int32_t) { return -1; }
int32_t ObjFld(int32_t, int32_t, uint32_t*) { return -1; }
int32_t SetObjFld(char*, uint32_t const*, int32_t, int32_t) { return -1; }
int32_t stDbObj(void*, uint32_t const*) { return -1; }
int32_t ldDbObj(void const*, uint32_t*) { return -1; }
