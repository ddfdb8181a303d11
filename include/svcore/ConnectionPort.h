// ConnectionPort: the server connection as the reply port of the server
// objects (replies, the rest of a request and clearing go to the
// connection). Used by the server start-up, the fuzz harnesses' in-process
// server and the transport tests.
#pragma once

#include <svcore/SvConnection.h>
#include <svobject/SvObject.h>

#include <cstdint>

class ConnectionPort : public SvReplyPort {
public:
  explicit ConnectionPort(SvConnection& c) : c_(c) {}
  Connection& channel() override { return c_; }
  void reply(int32_t clientId, int32_t status, int32_t result) override { c_.reply(clientId, status, result); }
  void reply() override { c_.reply(); }
  void getRemainder() override { c_.getRemainder(); }
  void clear() override { c_.clear(); }

private:
  SvConnection& c_;
};
