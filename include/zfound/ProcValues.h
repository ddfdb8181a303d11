// Process values and starting a local service.
//
// A client introduces itself to a server with a fixed record of process
// values: the protocol version word, the machine's node name, the program,
// its arguments (cut a little past 70 characters) and its terminal. The
// record is made once per process, on first use, and kept.
//
// The socket transport starts the program that serves a service on this
// machine and waits for it to say it is ready (SIGUSR1 to its parent). The
// ready signal is blocked from before the fork until it is waited for, so it
// cannot be lost; the wait is bounded (30 seconds) and a child that does not
// report ready in time is killed and reaped, never left running.
#pragma once

#include <zfound/String.h>

#include <cstdint>
#include <sys/types.h>

// The version word sent at connect: protocol version 1101 with the top bit set.
inline constexpr int32_t PROC_VERSION_WORD = int32_t(0x8000044D);
// Seconds execProcess waits for the started program to report ready.
inline constexpr int32_t EXEC_READY_SECONDS = 30;
// The file that names the command of each service.
inline constexpr char const* INETD_CONF = "/etc/inetd.conf";

// The last signal recorded by setProcSignal (-1 before any).
extern int processSig;

// Copies out the process values, computing and storing them on first use.
void getProcessValues(int32_t& version, String& node, String& program, String& args, String& tty);
// Creates the record when absent and sets its five values.
void setProcessValues(int32_t version, String const& node, String const& program, String const& args,
                      String const& tty);

// The arguments text of the process values: arguments 1 to argc - 1 joined
// with single blanks; no argument is added once the text is longer than 70
// characters.
String joinProcessArgs(int argc, char const* const* argv);

// Starts argv[0] (searched on PATH) with the vector argv (null-terminated)
// and waits until it reports ready; its process id, or -1 when the fork
// fails, the program cannot be run, ends, or is not ready within
// EXEC_READY_SECONDS (the child is then killed and reaped).
pid_t execProcess(char const** argv);
// The same with a wait of `seconds` for the ready signal.
pid_t execProcess(char const** argv, int32_t seconds);
// A started service tells its starter that it is ready: SIGUSR1 to the parent.
void processReady();
// Records sig as the last signal caught during execProcess.
void setProcSignal(int sig);

// Sets cmd to the command line for a service from /etc/inetd.conf, or null.
void getCmdByService(String& cmd, String const& service);
// The same from the given file.
void getCmdByService(String& cmd, String const& service, char const* file);

// Splits a command line into at most max - 1 words followed by a null entry.
// The words point into a copy of the line kept for the life of the process. A word
// after the first that begins with a single or double quote runs to the
// matching quote; the quotes are dropped. Returns the number of words.
int cmdLineToArgv(String const& line, char const** argv, int max);
