// Environment variables: the one lookup with built-in defaults for the
// variables that locate the installation, and putting a variable into the
// process environment. Lookups never return storage the caller must free.
#pragma once

// One built-in default; the table ends with a null name.
struct DefaultEnvEntry {
  char const* name;
  char const* value;
};
// PATH, ZEPHRA, CORVANE, LANGUAGE, MAXFILES and their defaults.
extern DefaultEnvEntry const DefaultEnv[];

// The process environment's value of name when set (an empty value counts as
// set); else its built-in default; else nullptr. Not to be freed.
char const* readEnvVar(char const* name);
// Puts "name=value" into the process environment (a never-freed copy); an
// empty or null text is ignored.
void putEnvVar(char const* text);
