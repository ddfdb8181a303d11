// Fuzz target: message parts and headers as they arrive from a queue or a
// socket. The input is a received size and the part's bytes: the part is
// checked (unpackSysVPart), its batch split and walked, joined with the
// parts after it under a size limit, and its headers byte-reversed as the
// socket transport does for a peer of the other order.
#include <zfound/MsgHeader.h>
#include <zfound/RemoteConnection.h>

#include "FuzzSupport.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  zffuzz::Input in(data, size);
  int32_t maxWords = in.u16();
  MsgJoiner joiner(maxWords);
  while (!in.empty()) {
    long received = long(in.u16()) - 4;  // sizes around the limits, -4 included
    std::string bytes = in.text(255);
    bytes += in.text(255);
    bytes += in.text(255);
    bytes += in.text(255);
    bytes += in.text(255);
    SysVMsgPart part;
    std::memcpy(part.words, bytes.data(), std::min(bytes.size(), sizeof part.words));
    s_MsgBuff h;
    SysVPartKind kind = unpackSysVPart(part, received, h);
    std::vector<MsgBatchItem> items;
    if (splitSysVBatch(part, received, items)) {
      for (MsgBatchItem const& it : items) {
        if (it.bodyWord < 3 || it.bodyWord + it.h.length() > int32_t(sizeof part.words / 4)) std::abort();
        // The operation's attributes are asked only of a valid code, as the
        // relay does.
        if (validSvMessage(it.h.serverOp)) isVoid(SvMessage(it.h.serverOp));
        svMessageName(it.h.serverOp);
      }
    }
    int32_t n = int32_t(bytes.size() / 4);
    if (n > int32_t(sizeof part.words / 4)) n = int32_t(sizeof part.words / 4);
    splitMsgWords(part.words, n, items);
    if (n >= 3) {
      SysVMsgPart copy = part;
      RemoteConnection::invHeaders(copy.words, n, (received & 1) != 0);
    }
    if (kind == SysVPartKind::Part && joiner.add(h, part.body()) != MsgJoiner::More) joiner.reset();
  }
  return 0;
}
