// Names that become paths: the check that a schema or table name may name a
// directory or a file, and the choice of a table's data-file name.
//
// Invariants: a name that passes `checkObjectName` is 1..16 bytes, holds no
// "/" and no control character and is neither "." nor "..", so joining it to
// the database directory never leaves that directory. `newFileName` answers a
// name of at most 8 characters before the extension that `taken` refuses, or
// records an error; it never asserts.
#pragma once

#include <functional>

#include <zfound/String.h>

namespace svcatalog {

// Longest schema or table name: the width of the catalog's name column.
constexpr long kMaxObjectName = 16;

// True when `name` may name a schema or a table; otherwise records
// InvalidData naming `what` and the name, and answers false.
bool checkObjectName(String const& name, char const* what);

// checkObjectName for a new schema, and more: the name also becomes a
// file pattern of the disk layout ("<name>.*", owned by the part before the
// first "."), a field of the configuration's schema list ("<name>:<id>,...")
// and a word of the layout file, so it may hold no ".", ",", ":", space, nor
// a pattern character ("*", "?", "+", "{", "[", "\\"). Records InvalidData otherwise.
bool checkSchemaName(String const& name);

// True when `file` may name a data or index file of a schema: not empty, no
// "/" and no control character, neither "." nor "..".
bool isPlainFileName(String const& file);

// Tells whether a candidate data-file name is already used in the schema
// (claimed by a table, or waiting for deferred removal).
using FileNameTaken = std::function<bool(String const&)>;

// A data or index file name for a table called `name`: "_" and the first 7
// characters of the name in lower case (skipping a leading '2'), then "." and
// `ext`; a taken name is retried with a counter cut into the base. Answers
// the null string, with InvalidData recorded, when no name is left.
String newFileName(String const& name, String const& ext, FileNameTaken const& taken);

}  // namespace svcatalog
