// The library registry, the banner line and the dotted version text.
//
// Each library registers its name and build text once; the registry is one
// process-wide String that each registration extends with
// "\n> " name " <\n" stamp "\n". The option "compile-info" shows it.
#pragma once

#include <cstdint>

#include <zfound/String.h>

class LibraryInfo {
public:
  // Appends the block of (name, stamp) to the registry.
  LibraryInfo(String const& name, String const& stamp);
  // The registry; null when nothing has registered.
  static String libraries();
  // Empties the registry (for tests).
  static void TEST_reset();
};

// Registers the foundation library as "libzeph" with its build text; called
// by startUp. Only the first call registers.
void _registerFoundationLibrary();

// v / 1000 "." (v % 1000) / 100, then "." v % 100 when that is not 0:
// 1101 -> "1.1.1", 1100 -> "1.1", 1110 -> "1.1.10".
String versionStr(int32_t v);

// Writes "<base name of name>: <version> (Linux 1.3.X)\n" to standard error.
void banner(String const& name, String const& version);
