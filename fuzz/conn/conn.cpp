// Fuzz target: the Connection decoders. The input gives the part capacity,
// a list of value kinds to decode in order, and the words of the channel;
// every decoder reads from it as it would from a peer: integers, texts, Nums,
// dates and times, AnyValues, object ids, time stamps, privilege lists, field
// input checks, error objects and expression code.
#include <zfound/AnyValue.h>
#include <zfound/Date.h>
#include <zfound/Exception.h>
#include <zfound/Expr.h>
#include <zfound/InCheck.h>
#include <zfound/LoopConnection.h>
#include <zfound/Num.h>
#include <zfound/ObjectId.h>
#include <zfound/Privilege.h>
#include <zfound/String.h>
#include <zfound/Time.h>
#include <zfound/TimeStamp.h>

#include "FuzzSupport.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  int32_t capacity = 1 + in.u8();
  std::string kinds = in.text(32);
  std::vector<uint32_t> words;
  while (in.left() >= 4) words.push_back(in.u32());
  LoopConnection c(capacity);
  c.feed(words);
  zffuzz::guarded([&] {
    for (char k : kinds) {
      switch (uint8_t(k) % 14) {
        case 0: { int32_t v; c >> v; break; }
        case 1: { String s; c >> s; break; }
        case 2: { char* p = nullptr; c >> p; if (p != reinterpret_cast<char*>(1)) delete[] p; break; }
        case 3: { Num n; c >> n; break; }
        case 4: { Date d; c >> d; break; }
        case 5: { Time t; c >> t; break; }
        case 6: { AnyValue v; c >> v; break; }
        case 7: { ObjectId id; c >> id; break; }
        case 8: { TimeStamp ts; c >> ts; break; }
        case 9: { Privilege p; c >> p; break; }
        case 10: {
          int32_t kind = InCheck::receive(c);
          if (kind == InCheck::INTEGRITY) Integrity ic(c);
          else if (kind == InCheck::INLIST) InList il(c);
          break;
        }
        case 11: Exception::receive(&c, 1 + uint8_t(k) / 14 % 40); break;
        case 12: { Expr e; c >> e; break; }
        default: { char buf[64]; c.pop(buf, uint8_t(k) / 14 % 64); break; }
      }
    }
  });
  return 0;
}
