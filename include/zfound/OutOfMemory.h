// The foundation's one response to a failed allocation: a fatal report. A
// process that cannot get memory for its own data structures cannot go on
// safely, and a half-built object must never be used, so every allocation
// failure ends the process the same way, through zfOutOfMemory:
//  - the foundation's own explicit allocations (String blocks, container
//    growth) call it when the allocation fails;
//  - plain operator new (everywhere else) reaches it through the new-handler
//    installed when this unit is linked in, so new never throws.
// Sizes computed from outside data are checked before any allocation and
// refused with their own errors; they never get here.
#pragma once

#include <cstddef>

// Writes "Out of memory (<bytes> bytes)." to standard error and ends the
// process with status 1, without allocating.
[[noreturn]] void zfOutOfMemory(size_t bytes);
