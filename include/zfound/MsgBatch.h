// Batches on System V queues: one queue message that holds several requests
// back to back, each with its own 12-byte header and body. Clients batch
// requests that expect no reply; the receiving side walks the headers.
//
// These complete the single-part helpers of MsgHeader.h: packing takes the
// message words as they stand (every header already carries its own length
// and flags), and splitting checks that the headers' lengths chain exactly
// to the size received before any body is used.
#pragma once

#include <zfound/MsgHeader.h>

#include <cstdint>
#include <vector>

// One request of a batch: its header and where its body starts.
struct MsgBatchItem {
  s_MsgBuff h;           // the request's header
  int32_t bodyWord = 0;  // index in SysVMsgPart::words of its first body word
};

// Fills `part` with the nWords message words at `words` (first header
// first); the type is the first header's clientId. Returns the size to hand
// to msgsnd (4 * nWords), or -1 when the words do not form whole requests
// (a length running past the end, fewer than 3 words, more than 256), or the
// type is not positive (the part is then untouched).
int32_t packSysVWords(SysVMsgPart& part, uint32_t const* words, int32_t nWords);

// The requests of a received message of `size` bytes: false when the size
// is not a whole number of words in 12..1024 or the headers' lengths do not
// chain exactly to it.
bool splitSysVBatch(SysVMsgPart const& part, long size, std::vector<MsgBatchItem>& items);

// The same walk over nWords words at `words` (any host-order buffer).
bool splitMsgWords(uint32_t const* words, int32_t nWords, std::vector<MsgBatchItem>& items);
