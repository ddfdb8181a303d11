// The library's identity and the calls of the common interface that do
// nothing here or are refused.
//
// Calls that have no meaning without a server refuse with a report and -1
// (null for a pointer) instead of ending the program.
#include <dbm/DbInterface.h>
#include <zeph/Proc.h>

#include <zfound/BuildInfo.h>
#include <zfound/LibraryInfo.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Process.h>

namespace {

// Registers the library with its build text when it is loaded.
struct Registration {
  Registration() { LibraryInfo("libzxdb_s", ZF_BUILD_INFO_TEXT); }
} registration;

int32_t unsupported(char const* call) {
  Warning(__DbErrmsg("IO_NOT_SUPPORTED"), call, "libzxdb_s");
  _io_errno_ = 17;
  return -1;
}

}  // namespace

int32_t dbmsType(void) { return 2; }
void Stop(int32_t status) { ::stop(status); }
void stop(long status) { ::stop(int32_t(status)); }

int32_t CompleteIndex(int32_t) { return 0; }
int32_t VersionNumber(char const*, int32_t) { return 0; }
int32_t SchemaVersion(int32_t) { return 0; }
int32_t SetTableCache(int32_t, int32_t) { return 0; }
int32_t TableCacheSize(int32_t) { return -1; }
int32_t SetCollateSet(int32_t, char const*) { return -1; }
int32_t SetObjReference(int32_t, int32_t) { return -1; }
int32_t _FlushSchPrivileges(s_schema*) { return 1; }
int32_t _FlushTabPrivileges(s_schema*) { return 1; }
int32_t DbFlushReq(int32_t) { return 0; }
int32_t DbCheckPoint(int32_t) { return 1; }
int32_t NMethods(char const*) { return 0; }
void _ReOpenSchema(int32_t) {}

int32_t UpdateRecord(int32_t, ...) { return unsupported("UpdateRecord"); }
int32_t GetObject(uint32_t const*, int32_t) { return unsupported("GetObject"); }
int32_t GetDbTable(int32_t) { return unsupported("GetDbTable"); }
int32_t ObjFld(int32_t, int32_t, uint32_t*) { return unsupported("ObjFld"); }
int32_t SetObjFld(char*, uint32_t const*, int32_t, int32_t) { return unsupported("SetObjFld"); }
int32_t stDbObj(void*, uint32_t const*) { return unsupported("stDbObj"); }
int32_t ldDbObj(void const*, uint32_t*) { return unsupported("ldDbObj"); }
s_table* _AttachTable(s_table*) {
  unsupported("_AttachTable");
  return nullptr;
}
char const* _TabName(s_table const* table) { return table ? table->d.name : nullptr; }
