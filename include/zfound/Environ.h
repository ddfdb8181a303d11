// Environment variables: the one lookup with built-in defaults for the
// variables that locate the installation, putting variables into the
// process environment, and reading an environment file at start-up.
//
// Texts handed to putenv are copies that are never freed (putenv keeps the
// pointer). Lookups never return storage the caller must free.
#pragma once

// One built-in default; the table ends with a null name.
struct DefaultEnvEntry {
  char const* name;
  char const* value;
};
// PATH, ZEPHRA, CORVANE, LANGUAGE, MAXFILES and their defaults.
extern DefaultEnvEntry const DefaultEnv[];

// The default environment file (read when setEnvironment gets an empty name).
inline constexpr char const kDefaultEnvFile[] = "/etc/omb.env";
// Longest line of an environment file after expansion, and of a "$" name.
inline constexpr int kEnvLineMax = 2047;
inline constexpr int kEnvNameMax = 31;

// The process environment's value of name when set (an empty value counts as
// set); else its built-in default; else nullptr. Not to be freed.
char const* readEnvVar(char const* name);
// Puts "name=value" into the process environment (a never-freed copy); an
// empty or null text is ignored.
void putEnvVar(char const* text);
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
