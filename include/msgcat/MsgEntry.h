// One message of a message file in memory: its key, its text, and where the
// text was put by the last write.
//
// Invariant: `offset` is -1 until the entry's text has been written to the
// file being written, then the position of the text's length field there.
#pragma once

#include <zfound/PtrArray.h>
#include <zfound/String.h>

#include <cstdint>

class MsgEntry {
public:
  // An entry not written yet (offset -1).
  MsgEntry(String const& key, String const& text) : offset(-1), key(key), text(text) {}

  int32_t offset;  // position of the text in the file last written; -1 before
  String key;      // the message key
  String text;     // the message text
};

ZF_PTRARRAY(MsgEntry);
