// Process start-up and stop: the one-time set-up of a process (who and what it
// is, its start-up letters, environment file, argument file, catalogues,
// handlers, signals and national settings) and its only way out.
//
// Invariants: startUp does its work once; every accessor below ends the
// process with "startUp function must be called.\n" (status 1) when called
// before it. stop runs its hooks at most once. A stop code is a 32-bit value
// whose bit 31 marks an abnormal end; the exit status is the code's low
// byte, except that an abnormal end whose low byte is 0 exits with 1.
#pragma once

#include <zfound/ProcessHooks.h>
#include <zfound/String.h>

#include <cstdint>
#include <sys/types.h>

class Time;

// Sets up the process. `name` is "[system:]path/program[-version]"; leading
// "!" arguments are consumed, an "@file" first argument is expanded, and
// argc/argv are updated to what remains. Only the first call does anything.
void startUp(String const& name, int& argc, char**& argv);

// startUpDone, appName and appVersion: ProcessHooks.h (included above).

// The system part of the start name (text before ":"); null when none.
String const& sysName();

// The current argument count.
int argCnt();
// The count itself, which an option parser may lower.
int& argRefCnt();
// The argument vector.
char** argRefVal();
// Argument n; null when n < 0 or n >= argCnt().
String argVal(long n);
// The argument vector (same as argRefVal).
char** procArgs();
// Replaces the recorded count and vector.
void setArgs(int argc, char** argv);

// The process id (updated by turnIntoDaemon).
pid_t procPid();
pid_t getPid();
// The effective user and group id at start-up, kept whole.
uid_t procUserId();
gid_t procUserGid();
// Overwrite the recorded ids.
void setProcUserId(uid_t uid);
void setProcUserGid(gid_t gid);

// The terminal name of descriptor 0; null when it is not a terminal.
String const& procTtyName();
String const& getTty();
// The terminal given by the start-up letter T; null otherwise.
String const& procTty();

// The time at which startUp ran.
Time procInitTime();
// The signal that ended the process; 0 when none.
int32_t procSig();

// The add, delete and update permissions (cleared by the letters A/I, D, U).
bool procAddPerm();
bool procDelPerm();
bool procUpdatePerm();
void setProcAddPerm(bool on);
void setProcDelPerm(bool on);
void setProcUpdatePerm(bool on);

// Set by the start-up letter M: client connections count their requests.
bool procMsgCounts();
// The user-server flag read by client connections.
void setUserServer(bool on);
bool procUserServer();
// The request-processing client flag; nothing in this system sets it.
int32_t procCrackerClient();

// stop(code), the process's one way out, and STOP_ABNORMAL: ProcessHooks.h.
// Signal handler: an abnormal stop carrying the signal number.
void stopThis(int sig);

// Registers a hook for every stop / for abnormal stops only. A function
// already registered is not added again; hooks run newest first.
void onStop(void (*f)());
void onAbnormalStop(void (*f)());

// A reporting handler as installed by turnIntoDaemon.
typedef int (*ProcHandler)(int flags, char const* title, char const* text);

// Detaches the process from its terminal: the parent stops with 0, the child
// starts a new session, closes descriptors 0-2, changes to "/" and installs
// the non-null handlers as fatal-error, display-error and display handler.
// Returns the previous handler of the last one installed.
ProcHandler turnIntoDaemon(ProcHandler fatal, ProcHandler displayError, ProcHandler display);

// Ends the process with "startUp function must be called.\n" on descriptor 2
// and status 1: what every accessor of start-up state does before startUp.
[[noreturn]] void _startUpMissing();

// The exit status a stop code gives (low byte; 1 for an abnormal code whose
// low byte is 0).
int exitStatusOf(int32_t code);
