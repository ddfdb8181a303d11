// Fuzz target: the formatting engine and edit masks. The first byte chooses
// what the rest is: a format run over a fixed counted argument list of every
// kind (integers, doubles, texts, Strings, Nums, pointers, the highest
// String), or an edit mask laid over a value by String::format, compiled,
// measured and applied by processMask, or a mask given to the Date, Time
// and Boolean text forms.
#include <zfound/Boolean.h>
#include <zfound/Date.h>
#include <zfound/EditMask.h>
#include <zfound/Format.h>
#include <zfound/Num.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include "FuzzSupport.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  uint8_t kind = in.u8();
  switch (kind % 4) {
    case 0: {
      std::string fmt = in.rest();
      String s("text"), high(String::kHighLength, nullptr), null;
      Num n("-12345.678"), big("9.999e195"), nul;
      FmtArg args[] = {FmtArg(42),       FmtArg(-1),          FmtArg(int32_t(INT32_MIN)), FmtArg(3.25),
                       FmtArg(-1e300),   FmtArg("chars"),     FmtArg(&s),                 FmtArg(&high),
                       FmtArg(&null),    FmtArg(&n),          FmtArg(&big),               FmtArg(&nul),
                       FmtArg(nullptr),  FmtArg((char const*)nullptr), FmtArg(int64_t(1) << 40), FmtArg('x')};
      size_t count = sizeof args / sizeof args[0];
      toStrArgs(fmt.c_str(), args, count);
      // A sink that refuses after a few characters ends the format early.
      struct Bounded {
        size_t n = 0;
        size_t limit = 16;
      } bounded;
      FmtArgs list(args, count);
      doFormat([](int c, void* a) {
        Bounded* b = static_cast<Bounded*>(a);
        return b->n++ < b->limit ? c : -1;
      }, &bounded, fmt.c_str(), list);
      break;
    }
    case 1: {
      std::string mask = in.text(1024);
      std::string value = in.rest();
      String m(long(mask.size()), mask.data());
      String v(long(value.size()), value.data());
      v.format(m);
      String compiled = m;
      compiled.compileMask();
      v.format(compiled);
      sizeOfMask(mask.c_str());
      char edit[kMaskEditSize];
      char checks[kMaskCheckSize];
      if (compileMask(mask.c_str(), checks, edit) == 0) {
        std::vector<char> out(size_t(in.u8()) + 1);
        processMask(out.data(), out.size(), edit, value.c_str());
        MaskIsNum(checks);
      }
      break;
    }
    case 2: {
      std::string mask = in.text(1024);
      int32_t v = int32_t(in.u32());
      toDate(v).format(mask.c_str());
      toTime(v).format(mask.c_str());
      Boolean(int(v & 1)).format(mask.c_str());
      Boolean().format(mask.c_str());
      break;
    }
    default: {
      std::string whole = in.text(64);
      char flags = char(in.u8());
      TstChrMask(char(in.u8()), flags, whole.c_str());
      break;
    }
  }
  return 0;
}
