// Reading a request's arguments from the server connection, shared by the
// schema and table requests: each reader fails (false) when the channel is
// missing or went bad, so a cut-short request never yields a stray value.
#pragma once

#include <svobject/SvObject.h>

#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/String.h>

#include <cstdint>

namespace svcatalog::args {

// One word of the request; false when the channel is missing or failed.
inline bool readWord(int32_t& w) {
  w = 0;
  if (SvObject::con == nullptr)
    return false;
  *SvObject::con >> w;
  return !SvObject::con->bad();
}

// One text of the request; false when the channel is missing or failed.
inline bool readString(String& s) {
  if (SvObject::con == nullptr)
    return false;
  *SvObject::con >> s;
  return !SvObject::con->bad();
}

// The error of a request whose arguments end early.
inline InvalidData truncated(char const* what) { return InvalidData(String("request cut short: ") + what); }

// True while an error is recorded and not yet answered.
inline bool pending() { return Exception::last().code() != 0; }

}  // namespace svcatalog::args
