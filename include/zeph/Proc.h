// Process and user values, memory, stop hooks and the system-error policy of
// the run-time layer, with C linkage for the database libraries.
//
// `_io_errno_` holds the code of the last refused database call and
// `_io_err_detail` the errno of the last failed open; both are 32-bit.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#pragma GCC visibility push(default)

extern int32_t _io_errno_;
extern int32_t _io_err_detail;

// Most retries _SysError grants in a row for one failing call.
#define ZEPH_SYSERR_RETRIES 5

// Called after a failed system call with errno still set: nonzero when the
// call is to be tried again (EINTR and EAGAIN, at most ZEPH_SYSERR_RETRIES
// times in a row), else 0 after reporting `text` and the system's reason.
int _SysError(char const* text);

// Memory for descriptors: a fatal report when none is left, so callers do
// not test the result. def_Free of null does nothing.
void* def_Alloc(size_t size, char const* file, int line);
void def_Free(void* p, char const* file, int line);

// Registers f to run once at stop (the foundation's stop hooks).
void OnStop(void (*f)(void));

int32_t ProcPid(void);
int32_t ProcUserId(void);
// The program's arguments, element 0 the program; null-terminated.
char** ProcArgs(void);
char const* ProcTtyName(void);
// The name of user / group `id`; "" when unknown.
char const* UserName(int32_t id);
char const* GroupName(int32_t id);
// Date (day number from 1 January 1984) and time (seconds of the day) at
// which the process started; the last signal the process received.
int32_t ProcStartDate(void);
int32_t ProcStartTime(void);
int32_t ProcSignal(void);
// With 1, holds off SIGINT and SIGQUIT (a change in progress must not be
// cut short): they are noted and delivered, with the program's own handling,
// when a later call with 0 ends the hold. Returns the previous setting.
int32_t EnableInterrupts(int32_t hold);

// The handler that conversion errors are reported through; returns the
// previous one (null: report through Warning).
typedef void (*ZephConvHandler)(char const* key, char const* detail);
ZephConvHandler _SetConvHandler(ZephConvHandler h);
void _ConvHandler(char const* key, char const* detail);
// The text naming a database call on a handle for a conversion report:
// "function(schema.table.field)", as much of the handle as names something
// open ("function()" for none). Kept in a buffer of the layer until the
// next call.
char const* _MakeFullDbFuncCall(char const* function, int32_t handle);

#pragma GCC visibility pop
}  // extern "C"
