// Fuzz target: the national settings file. The input becomes
// "$DATADIR/english/config", which is loaded (a damaged file is refused
// whole); the settings in force are then used by the formatting engine and
// the date forms, and the defaults are put back.
#include <zfound/Config.h>
#include <zfound/Date.h>
#include <zfound/Format.h>
#include <zfound/Num.h>
#include <zfound/String.h>

#include "FuzzSupport.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string const& dir = zffuzz::init();
  std::string path = zffuzz::writeFile("data/english/config", data, size);
  zffuzz::guarded([&] {
    _loadConfig();
    Num n("-1234567.891");
    formatText("%#,2N %d", &n, 1234567);
    for (long m = -1; m < 13; ++m) monthName(m);
    for (long d = -1; d < 8; ++d) dayOfWeekName(d);
    Date(1, 2, 2003).format("dd mmm yyyy");
    toDate(String("12/31/1999"));
  });
  std::remove(path.c_str());
  _loadConfig();
  (void)dir;
  return 0;
}
