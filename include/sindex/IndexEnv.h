// IndexEnv: the two server numbers that index object ids carry, set by the
// server core at start (any fixed numbers per server serve).
#pragma once

#include <cstdint>

namespace svstore {

struct IndexEnv {
  // The installation number; its low 8 bits top temporary owner numbers.
  static int32_t installation;
  // The server id; its low 6 bits follow them.
  static int32_t serverId;
};

}  // namespace svstore
