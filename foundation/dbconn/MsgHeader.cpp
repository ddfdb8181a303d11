// Message header fields, the plan of the parts of a message, System V part
// packing and checking, and the operation-code table.
//
// Header fields are moved with a memcpy of each single field in host order,
// so any byte address may hold a header.
#include <zfound/MsgHeader.h>

#include <zfound/Assert.h>

#include <cstring>

// ---- header fields -----------------------------------------------------------

namespace {
template <class T>
T getField(void const* p, size_t offset) {
  T v;
  std::memcpy(&v, static_cast<unsigned char const*>(p) + offset, sizeof v);
  return v;
}
template <class T>
void putField(void* p, size_t offset, T v) {
  std::memcpy(static_cast<unsigned char*>(p) + offset, &v, sizeof v);
}
constexpr size_t kClientOff = 0, kObjOff = 4, kOpOff = 8, kLenOff = 10;
}  // namespace

int32_t msgClientId(void const* p) { return getField<int32_t>(p, kClientOff); }
void setMsgClientId(void* p, int32_t v) { putField(p, kClientOff, v); }
int32_t msgObjId(void const* p) { return getField<int32_t>(p, kObjOff); }
void setMsgObjId(void* p, int32_t v) { putField(p, kObjOff, v); }
int16_t msgServerOp(void const* p) { return getField<int16_t>(p, kOpOff); }
void setMsgServerOp(void* p, int16_t v) { putField(p, kOpOff, v); }
uint16_t msgLenFlags(void const* p) { return getField<uint16_t>(p, kLenOff); }
void setMsgLenFlags(void* p, uint16_t v) { putField(p, kLenOff, v); }

s_MsgBuff s_MsgBuff::read(void const* p) {
  s_MsgBuff h;
  h.clientId = msgClientId(p);
  h.objId = msgObjId(p);
  h.serverOp = msgServerOp(p);
  h.lenFlags = msgLenFlags(p);
  return h;
}

void s_MsgBuff::write(void* p) const {
  setMsgClientId(p, clientId);
  setMsgObjId(p, objId);
  setMsgServerOp(p, serverOp);
  setMsgLenFlags(p, lenFlags);
}

// ---- parts -----------------------------------------------------------------------

int32_t msgPartCount(int32_t bodyWords, int32_t capacity) {
  if (bodyWords < 0 || capacity < 1) return 0;
  if (bodyWords == 0) return 1;
  return bodyWords / capacity + (bodyWords % capacity != 0 ? 1 : 0);
}

MsgPartSpan msgPart(int32_t bodyWords, int32_t index, int32_t capacity) {
  MsgPartSpan span;
  int32_t parts = msgPartCount(bodyWords, capacity);
  if (index < 0 || index >= parts) return span;
  span.first = index * capacity;
  int32_t left = bodyWords - span.first;
  span.words = left < capacity ? left : capacity;
  span.continued = index < parts - 1;
  return span;
}

s_MsgBuff msgPartHeader(s_MsgBuff const& h, int32_t bodyWords, int32_t index, int32_t capacity) {
  MsgPartSpan span = msgPart(bodyWords, index, capacity);
  s_MsgBuff p = h;
  p.setLength(span.words);
  p.setContinued(span.continued);
  return p;
}

int32_t packSysVPart(SysVMsgPart& part, s_MsgBuff const& h, uint32_t const* body, int32_t n) {
  if (n < 0 || n > MSG_PART_WORDS || h.clientId <= 0 || (body == nullptr && n > 0)) return -1;
  s_MsgBuff ph = h;
  ph.setLength(n);
  part.mtype = h.clientId;
  ph.write(part.text());
  if (n > 0) std::memcpy(part.body(), body, size_t(n) * 4);
  return MSG_HEADER_BYTES + 4 * n;
}

int32_t packSysVMsgPart(SysVMsgPart& part, s_MsgBuff const& h, uint32_t const* body,
                        int32_t bodyWords, int32_t index) {
  int32_t parts = msgPartCount(bodyWords, MSG_PART_WORDS);
  if (index < 0 || index >= parts) return -1;
  MsgPartSpan span = msgPart(bodyWords, index, MSG_PART_WORDS);
  s_MsgBuff ph = msgPartHeader(h, bodyWords, index, MSG_PART_WORDS);
  return packSysVPart(part, ph, span.words > 0 ? body + span.first : nullptr, span.words);
}

SysVPartKind unpackSysVPart(SysVMsgPart const& part, long size, s_MsgBuff& h) {
  if (size == 0) return SysVPartKind::GoAhead;
  if (size < MSG_HEADER_BYTES || size > MSG_PART_BYTES || (size - MSG_HEADER_BYTES) % 4 != 0)
    return SysVPartKind::Malformed;
  s_MsgBuff got = s_MsgBuff::read(part.text());
  if (got.length() != (size - MSG_HEADER_BYTES) / 4) return SysVPartKind::Malformed;
  h = got;
  return SysVPartKind::Part;
}

MsgJoiner::Result MsgJoiner::add(s_MsgBuff const& h, uint32_t const* body) {
  int32_t n = h.length();
  if (n > 0 && body == nullptr) return TooLong;
  if (int64_t(body_.size()) + n > int64_t(maxWords_)) return TooLong;
  body_.insert(body_.end(), body, body + n);
  return h.continued() ? More : Done;
}

// ---- operation codes -------------------------------------------------------------

int32_t const _SvCommandAttributes[DBM_LASTMSG] = {
    0,   // 0 Attach
    0,   // 1 Detach
    0,   // 2 Lock
    1,   // 3 Free: void
    32,  // 4 Clear: modify
    32,  // 5 Rename: modify
    2,   // 6 GetInfo: ends transaction
    0,   // 7 GetTables
    4,   // 8 Connect: connect
    18,  // 9 Disconnect: disconnect, ends transaction
    0,   // 10 GetClientsInfo
    0,   // 11 FindRecord
    0,   // 12 GetRecord
    33,  // 13 PutRecord: modify, void
    33,  // 14 DelRecord: modify, void
    33,  // 15 AddRecord: modify, void
    33,  // 16 UpdateRecord: modify, void
    0,   // 17 GetNextBlock
    0,   // 18 GetPrevBlock
    1,   // 19 SetRange: void
    1,   // 20 FreeRecord: void
    32,  // 21 Drop: modify
    32,  // 22 Create: modify
    32,  // 23 Build: modify
    32,  // 24 InsKey: modify
    0,   // 25 Shut
    8,   // 26 Stop: stop
    32,  // 27 CheckPoint: modify
    32,  // 28 BegTransact: modify
    34,  // 29 EndTransact: modify, ends transaction
    34,  // 30 AbortTransact: modify, ends transaction
    32,  // 31 NewVersion: modify
    0,   // 32 Cardinal
    32,  // 33 SetAttrib: modify
    0,   // 34 Debug
    0,   // 35 Monitor
    0,   // 36 GetDataFiles
    0,   // 37 GetVersInfo
    32,  // 38 SetPrivg: modify
    32,  // 39 Alter: modify
    32,  // 40 Copy: modify
    32,  // 41 Replace: modify
    0,   // 42 Estimation
    0,   // 43 Activation
    0,   // 44 ObjMethodExec
    0,   // 45 ReadyToEnd
    0,   // 46 ShadowDbg
    0,   // 47 AddRecordTest
};

namespace {
char const* const kNames[DBM_LASTMSG] = {
    "Attach",       "Detach",        "Lock",         "Free",          "Clear",
    "Rename",       "GetInfo",       "GetTables",    "Connect",       "Disconnect",
    "GetClientsInfo", "FindRecord",  "GetRecord",    "PutRecord",     "DelRecord",
    "AddRecord",    "UpdateRecord",  "GetNextBlock", "GetPrevBlock",  "SetRange",
    "FreeRecord",   "Drop",          "Create",       "Build",         "InsKey",
    "Shut",         "Stop",          "CheckPoint",   "BegTransact",   "EndTransact",
    "AbortTransact", "NewVersion",   "Cardinal",     "SetAttrib",     "Debug",
    "Monitor",      "GetDataFiles",  "GetVersInfo",  "SetPrivg",      "Alter",
    "Copy",         "Replace",       "Estimation",   "Activation",    "ObjMethodExec",
    "ReadyToEnd",   "ShadowDbg",     "AddRecordTest",
};

// The attribute bit `bit` of the operation, after the range check.
bool attribute(SvMessage operation, int32_t bit) {
  if (!ZF_PRECOND(operation >= DBM_FIRSTMSG && operation < DBM_LASTMSG)) return false;
  return (_SvCommandAttributes[operation] & bit) != 0;
}
}  // namespace

char const* svMessageName(int32_t code) { return validSvMessage(code) ? kNames[code] : ""; }

bool isVoid(SvMessage operation) { return attribute(operation, SV_VOID); }
bool terminateTrans(SvMessage operation) { return attribute(operation, SV_ENDTRANS); }
bool isConnect(SvMessage operation) { return attribute(operation, SV_CONNECT); }
bool isStop(SvMessage operation) { return attribute(operation, SV_STOP); }
bool isDisconnect(SvMessage operation) { return attribute(operation, SV_DISCONNECT); }
bool mayModify(SvMessage operation) { return attribute(operation, SV_MODIFY); }

// ---- batches -----------------------------------------------------------------

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
