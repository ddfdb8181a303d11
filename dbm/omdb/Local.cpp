// Calls of the common interface that only the local library serves: its
// files, semaphores and journal. Here they refuse.
#include <dbm/DbInterface.h>

#include "Omdb.h"

int32_t _WriteSchema(int32_t) { return -1; }
void _flush_schemas(int32_t) {}
char const* _ExtractDir(char const*, char*) { return nullptr; }
key_t _get_key(int) { return -1; }
int32_t _try_to_lock(int, int32_t, int32_t) { return -1; }
int32_t _unlock(int) { return -1; }
int32_t _DbVerifyConsist(char const*, int32_t, int32_t) { return -1; }
int32_t LogStatus(void) { return -1; }
int32_t SetLogStatus(int32_t) { return -1; }
int32_t _DbLog(int32_t, ...) { return -1; }
int32_t _DbRLog(int32_t, ...) { return -1; }
int32_t OpenLog(char const*, char const*) { return -1; }
int32_t CloseLog(void) { return -1; }
int32_t InitLog(void) { return -1; }
int32_t InitTrans(void) { return -1; }
char* _DbFileName(char*, s_schema*, char const*, char const*) { return nullptr; }
s_vfile* _DbOpen(s_schema*, char const*, char const*, int32_t) { return nullptr; }
void _DbClose(s_vfile*) {}
int32_t _DbRead(s_vfile*, void*, int32_t, int64_t, int32_t) { return -1; }
int32_t _DbWrite(s_vfile*, void const*, int32_t, int64_t) { return -1; }
int32_t _DbFree(s_vfile*, int32_t, int64_t) { return -1; }
int32_t _DbLockf(s_vfile*, int32_t) { return -1; }
int64_t _DbStat(s_vfile*, int32_t) { return -1; }
int32_t _DbUnlink(s_schema*, char const*, char const*) { return -1; }
int32_t _DbRename(s_schema*, char const*, char const*, char const*, char const*) { return -1; }
int vfd(s_vfile*, int32_t) { return -1; }
int32_t zeph_lock(int, int32_t, int64_t) { return -1; }
void _lockFlush(int32_t) {}
void _releaseFlush(void) {}
void _FlushAll(void) {}
