// Environment files read at start-up and the missing-variable handler. The
// lookup with built-in defaults and putting a variable into the environment
// are in EnvVar.h (included here), low enough for every layer.
#pragma once

#include <zfound/EnvVar.h>

// The default environment file (read when setEnvironment gets an empty name).
inline constexpr char const kDefaultEnvFile[] = "/etc/omb.env";
// Longest line of an environment file after expansion, and of a "$" name.
inline constexpr int kEnvLineMax = 2047;
inline constexpr int kEnvNameMax = 31;

// Reads an environment file: each line not empty and not starting with "#" is
// put into the environment after "$NAME" references (ending at ":", "/" or
// the line's end) are replaced by their values (getenv; unset or empty: no
// text). Only the newline ending a line is dropped. Returns 0 after reading
// the file to its end; -1 when it cannot be opened or read, a line exceeds 2047
// characters after expansion, or a "$" name exceeds 31 characters (the lines
// before the bad one stay in effect). A null or empty file means
// "/etc/omb.env".
int setEnvironment(char const* file);

// Handler called for a missing variable: (name, source file, line).
typedef void (*ReadEnvHandler)(char const* name, char const* file, int line);

extern "C" {
// readEnvVar(name); when null and a handler is installed, the handler is
// called with the three arguments. The result is readEnvVar's.
char const* def_ReadEnv(char const* name, char const* file, int line);
// Installs a missing-variable handler (nullptr: none); returns the previous.
ReadEnvHandler SetReadEnvHandler(ReadEnvHandler handler);
}

// The initial handler: a fatal report "NOENV" of the library catalogue
// (section "gn") naming the source file, the line and the variable.
void defaultReadEnvHandler(char const* name, char const* file, int line);
