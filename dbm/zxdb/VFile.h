// Virtual files of the local database library: many files of the open
// schemas share a small budget of real descriptors.
//
// State machine of an entry: free (owner null) -> named (owner set,
// descriptor -1) <-> open (descriptor >= 6, linked in the ring of open
// entries, most recently used at `first`) -> free. An entry with a positive
// lock count is never closed by the budget logic, since closing any
// descriptor of a file drops every lock the process holds on it.
#pragma once

#include <cstdint>

#include <dbm/DbDescr.h>

struct s_vfile {
  s_schema* owner;   // null: free entry
  char name[10];     // table or schema name, not necessarily terminated
  char ext[4];       // "sco", "tab", "i%02d"
  int32_t flags;     // open flags (O_CREAT, O_EXCL, O_TRUNC cleared once opened)
  int fd;            // real descriptor, -1 while closed
  int16_t locks;     // region locks held by the process on the file
  s_vfile* next;     // ring of open entries
  s_vfile* prev;
};

namespace zxdb {

// The budget of real descriptors and the table size, read from "NFILES" on
// first use.
int32_t vfileBudget();
int32_t vfileTableSize();
// Real descriptors open now.
int32_t vfileOpenCount();
// Cuts the file to `length` bytes / forces its contents to disk; false when
// the system call failed for good.
bool truncateFile(s_vfile* vf, int64_t length);
bool syncFile(s_vfile* vf);
// Closes every virtual file of `owner`.
void closeSchemaFiles(s_schema* owner);

}  // namespace zxdb
