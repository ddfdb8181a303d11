// The library's identity and its registration with the foundation.
#include <dbm/DbInterface.h>

#include <zfound/BuildInfo.h>
#include <zfound/LibraryInfo.h>
#include <zfound/Process.h>

#include "Omdb.h"

namespace {

// Registers the library with its build text when it is loaded.
struct Registration {
  Registration() { LibraryInfo("libomdb_s", ZF_BUILD_INFO_TEXT); }
} registration;

}  // namespace

int32_t dbmsType(void) { return 1; }
void Stop(int32_t status) { ::stop(status); }
void stop(long status) { ::stop(int32_t(status)); }
