// Batches of requests in one System V message: packing the words as they
// stand and walking the headers of a received message.
#include "zfound/MsgBatch.h"

#include <cstring>

bool splitMsgWords(uint32_t const* words, int32_t nWords, std::vector<MsgBatchItem>& items) {
  items.clear();
  if (!words || nWords < 3) return false;
  int32_t at = 0;
  while (at < nWords) {
    if (nWords - at < 3) return false;
    MsgBatchItem it;
    it.h = s_MsgBuff::read(words + at);
    it.bodyWord = at + 3;
    int32_t next = at + 3 + it.h.length();
    if (next > nWords) return false;
    items.push_back(it);
    at = next;
  }
  return true;
}

int32_t packSysVWords(SysVMsgPart& part, uint32_t const* words, int32_t nWords) {
  if (nWords < 3 || nWords > MSG_PART_BYTES / 4) return -1;
  std::vector<MsgBatchItem> items;
  if (!splitMsgWords(words, nWords, items)) return -1;
  int32_t type = msgClientId(words);
  if (type <= 0) return -1;
  part.mtype = type;
  std::memcpy(part.words, words, size_t(nWords) * 4);
  return nWords * 4;
}

bool splitSysVBatch(SysVMsgPart const& part, long size, std::vector<MsgBatchItem>& items) {
  items.clear();
  if (size < MSG_HEADER_BYTES || size > MSG_PART_BYTES || size % 4 != 0) return false;
  return splitMsgWords(part.words, int32_t(size / 4), items);
}
