// What the design calls share with the rest of the library: generated names
// of temporary files, the file names of an index, and the table-file
// operations a design change needs.
#pragma once

#include <dbm/DbDescr.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zxdb {

// Extension of a temporary index's file (its name is generated).
inline constexpr char kTempIndexExt[] = "idx";

// The generated file name of temporary index `number` of `t`; null when it
// is not a temporary index with a generated name.
char const* tempIndexName(s_table const* t, int32_t number);

// A generated name: `prefix`, then "%02d%05u" of a process-wide counter
// (from 1, modulo 100) and the process id modulo 65536. The file
// "<name>.<ext>" is created exclusively in the schema's directory; on a
// clash the next number is taken. The name, or empty when all 100 numbers
// of the process are taken or the file cannot be made.
std::string makeTempName(s_schema* sp, char const* prefix, char const* ext);

// True when `name` may be a file-name component: not null, not empty, not
// "." or "..", without '/'.
bool plainName(char const* name);

// Empties a table's data file and every stored index file in place (cut to
// nothing) and forgets what the process kept of them: 0, -1 on failure.
int32_t truncateTableFiles(s_table* t);
// Writes back what the process holds of `t` and forces its data and index
// files to disk: false when a write failed.
bool syncTableFiles(s_table* t);

// Writes a descriptor image durably over the schema's descriptor (through
// the side file): false when it could not be written.
bool rewriteImage(s_schema* sp, std::vector<uint8_t> const& image);

// True when `sp` has a temporary table or index.
bool hasTemporaries(s_schema* sp);
// Removes every temporary table of `sp` and every temporary index file,
// before the schema closes.
void dropTemporaries(s_schema* sp);
// Marks index file "<name>.<ext>" as needing a rebuild from the records
// (the held mark of a process that is gone), creating it when missing;
// synced. False when it could not be written.
bool markIndexForRebuild(s_schema* sp, char const* name, char const* ext);
// Writes the descriptor of what the process holds together with the file
// renames, removals and marks `ops` ("R <from> <to>", "U <file>",
// "M <file>" lines; a rename whose source is gone counts as done) as one
// synced journal, carries it out and removes it: a kill at any point leaves
// the old descriptor and files, or the journal that the next open finishes.
// 0 (a journal that could not be carried out now stays for the next open),
// -1 when the journal could not be written and nothing changed.
int32_t journalledChange(s_schema* sp, std::string const& ops);
// Completes or discards a table conversion a killed process left (its
// journal in the schema directory): called when a schema opens, before its
// descriptor is read.
void settleConversion(s_schema* sp);

}  // namespace zxdb
