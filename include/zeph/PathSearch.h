// Path look-ups of the run-time layer: finding a program or file along a
// ":"-separated directory list, and expanding environment references in a
// name typed by a user.
#pragma once
#include <zfound/String.h>

#define ZEPH_PATH_EXPORT __attribute__((visibility("default")))

// A name holding "/", or a null path: the name itself. Otherwise the first
// directory of the ":" list that holds name (an empty element is the current
// directory), joined to it with "/"; the null String when none does.
ZEPH_PATH_EXPORT String findInPath(String const& name, String const& path);

// text with every "$VAR" (a name of letters, digits and "_") and "${VAR}"
// replaced by the variable's value; an unset variable gives nothing. A "$"
// that starts no reference, or a "${" with no closing "}", stays as it is.
ZEPH_PATH_EXPORT String expandEnvVars(String const& text);
