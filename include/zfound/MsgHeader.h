// The message header, the server operation codes, and the marshalling of the
// parts of a message on System V queues.
//
// Every request and reply between a client and the database server travels
// as one or more parts, each beginning with the same 12-byte header:
//
//   offset 0  int32_t  clientId   client id + 1 (also the System V type)
//   offset 4  int32_t  objId      request: server object; reply: return value
//   offset 8  int16_t  serverOp   request: operation code; reply: status
//   offset 10 uint16_t length and flags: bits 0-13 the part's body length in
//                      4-byte words, bits 14-15 the flags; bit 14 (MSG_CONT)
//                      says the message goes on in the next part
//
// The header and body words are in host byte order on the System V
// transport. The helpers below read and write the header at any byte address
// field by field (never a struct copy), and plan how a body of n words is cut
// into parts: every part but the last carries MSG_CONT, and each part's
// length counts only its own body words.
//
// On a System V queue a part is the native message type (a `long`, equal to
// the header's clientId) followed by the header and the body: at most
// MSG_PART_BYTES (1024) bytes after the type, so at most 253 body words.
// An empty queue message (no bytes after the type) is the server's go-ahead
// for the continuation parts of a request.
//
// Operation codes: SvMessage, 0 to 47, each with a fixed attribute word in
// _SvCommandAttributes; the predicates check the range first (precondition
// "operation >= DBM_FIRSTMSG && operation < DBM_LASTMSG"). Codes read from a
// peer are checked with validSvMessage() before they are used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// ---- sizes and flags ---------------------------------------------------------

// Bytes of the header.
inline constexpr int32_t MSG_HEADER_BYTES = 12;
// Bytes of one System V part after the message type: header and body.
inline constexpr int32_t MSG_PART_BYTES = 1024;
// Body words of one System V part: (1024 - 12) / 4.
inline constexpr int32_t MSG_PART_WORDS = (MSG_PART_BYTES - MSG_HEADER_BYTES) / 4;
// The largest length the 14-bit length field holds.
inline constexpr int32_t MSG_MAX_LENGTH = 0x3FFF;
// Flag bit 14 of the length word: the message goes on in the next part.
inline constexpr uint16_t MSG_CONT = 0x4000;
// Mask of the length bits and of the two flag bits of the length word.
inline constexpr uint16_t MSG_LENGTH_MASK = 0x3FFF;
inline constexpr uint16_t MSG_FLAGS_MASK = 0xC000;

// ---- the header ----------------------------------------------------------------

// The header as values. read() and write() move it from and to the 12 bytes
// at a given address in host byte order, one field at a time.
struct s_MsgBuff {
  int32_t clientId = 0;  // client id + 1 (the System V message type)
  int32_t objId = 0;     // object addressed / return value of a reply
  int16_t serverOp = 0;  // operation code / reply status
  uint16_t lenFlags = 0; // body length in words (bits 0-13) and flags (14-15)

  // The reply's name for serverOp.
  int16_t status() const { return serverOp; }
  void setStatus(int16_t s) { serverOp = s; }
  // Body words of this part (bits 0-13).
  int32_t length() const { return lenFlags & MSG_LENGTH_MASK; }
  // Sets the length (cut to 14 bits); the flags are kept.
  void setLength(int32_t n) {
    lenFlags = uint16_t((lenFlags & MSG_FLAGS_MASK) | (uint32_t(n) & MSG_LENGTH_MASK));
  }
  // The two flag bits as a number 0..3 (1 is MSG_CONT).
  int32_t flags() const { return lenFlags >> 14; }
  // Sets the two flag bits from a number 0..3; the length is kept.
  void setFlags(int32_t f) { lenFlags = uint16_t((lenFlags & MSG_LENGTH_MASK) | ((uint32_t(f) & 3u) << 14)); }
  // True when MSG_CONT is set.
  bool continued() const { return (lenFlags & MSG_CONT) != 0; }
  // Sets or clears MSG_CONT; the length and the other flag are kept.
  void setContinued(bool on) { lenFlags = on ? uint16_t(lenFlags | MSG_CONT) : uint16_t(lenFlags & ~MSG_CONT); }

  // The header stored at p (12 bytes, host order, any alignment).
  static s_MsgBuff read(void const* p);
  // Stores the header at p (12 bytes, host order, any alignment).
  void write(void* p) const;
};

// Single fields of the header at p (host order, any alignment).
int32_t msgClientId(void const* p);
void setMsgClientId(void* p, int32_t v);
int32_t msgObjId(void const* p);
void setMsgObjId(void* p, int32_t v);
int16_t msgServerOp(void const* p);
void setMsgServerOp(void* p, int16_t v);
uint16_t msgLenFlags(void const* p);
void setMsgLenFlags(void* p, uint16_t v);

// ---- cutting a body into parts ---------------------------------------------------

// Where one part of a message lies in its body.
struct MsgPartSpan {
  int32_t first = 0;       // index of the part's first body word
  int32_t words = 0;       // body words in the part (its length field)
  bool continued = false;  // MSG_CONT: another part follows
};

// The number of parts a body of `bodyWords` words takes with `capacity`
// words a part: 1 for an empty body, else ceil(bodyWords / capacity).
// 0 when bodyWords < 0 or capacity < 1 (nothing can be sent).
int32_t msgPartCount(int32_t bodyWords, int32_t capacity = MSG_PART_WORDS);
// Part `index` (0-based) of such a body; a zero span for an index out of
// range or arguments msgPartCount refuses.
MsgPartSpan msgPart(int32_t bodyWords, int32_t index, int32_t capacity = MSG_PART_WORDS);
// The header of part `index`: `h` with the part's length and MSG_CONT set
// or cleared (the other flag bit kept).
s_MsgBuff msgPartHeader(s_MsgBuff const& h, int32_t bodyWords, int32_t index,
                        int32_t capacity = MSG_PART_WORDS);

// ---- System V parts ------------------------------------------------------------

// A System V queue message: the native message type in front of the header
// and body bytes, exactly what msgsnd and msgrcv move. The 12-byte header
// starts at `words` (words[0..2]); body word i is words[3 + i].
struct SysVMsgPart {
  long mtype = 0;                                 // System V message type
  uint32_t words[MSG_PART_BYTES / 4] = {};        // header and body, host order

  // The header bytes (what follows the type).
  void* text() { return words; }
  void const* text() const { return words; }
  // The body words after the header.
  uint32_t* body() { return words + MSG_HEADER_BYTES / 4; }
  uint32_t const* body() const { return words + MSG_HEADER_BYTES / 4; }
};

// Fills `part` with header h and the n body words at `body`: the type is
// h.clientId, the length field is set to n (flags as in h). Returns the size
// to hand to msgsnd (12 + 4n bytes), or -1 when n is outside 0..253, the type
// is not positive, or body is null with n > 0 (the part is then untouched).
int32_t packSysVPart(SysVMsgPart& part, s_MsgBuff const& h, uint32_t const* body, int32_t n);
// Fills `part` with part `index` of a whole body (h's length and MSG_CONT
// set by the plan); the msgsnd size, or -1 as packSysVPart.
int32_t packSysVMsgPart(SysVMsgPart& part, s_MsgBuff const& h, uint32_t const* body,
                        int32_t bodyWords, int32_t index);

// What a received queue message is.
enum class SysVPartKind {
  Part,      // a header and its body words
  GoAhead,   // an empty message: the go-ahead for continuation parts
  Malformed  // a size or length that no part can have
};
// Checks a message of `size` bytes (msgrcv's result) in `part`: a size of 0
// is the go-ahead; a part needs 12 to 1024 bytes, a body of whole words, and
// a length field equal to its body words. Gives the header in h for a Part.
SysVPartKind unpackSysVPart(SysVMsgPart const& part, long size, s_MsgBuff& h);

// Joins the bodies of consecutive parts into one message body, refusing a
// message that grows past `maxWords` words.
class MsgJoiner {
public:
  enum Result { More, Done, TooLong };
  explicit MsgJoiner(int32_t maxWords) : maxWords_(maxWords) {}
  // Appends the body of a part with header h; Done when h has no MSG_CONT,
  // More when parts follow, TooLong (and nothing appended) when the message
  // would pass maxWords.
  Result add(s_MsgBuff const& h, uint32_t const* body);
  // The words joined so far.
  std::vector<uint32_t> const& body() const { return body_; }
  // Starts a new message.
  void reset() { body_.clear(); }

private:
  int32_t maxWords_;
  std::vector<uint32_t> body_;
};

// ---- operation codes -------------------------------------------------------------

enum SvMessage : int32_t {
  DBM_FIRSTMSG = 0,
  DBM_ATTACH = 0,
  DBM_DETACH = 1,
  DBM_LOCK = 2,
  DBM_FREE = 3,
  DBM_CLEAR = 4,
  DBM_RENAME = 5,
  DBM_GETINFO = 6,
  DBM_GETTABLES = 7,
  DBM_CONNECT = 8,
  DBM_DISCONNECT = 9,
  DBM_GETCLIENTSINFO = 10,
  DBM_FINDRECORD = 11,
  DBM_GETRECORD = 12,
  DBM_PUTRECORD = 13,
  DBM_DELRECORD = 14,
  DBM_ADDRECORD = 15,
  DBM_UPDATERECORD = 16,
  DBM_GETNEXTBLOCK = 17,
  DBM_GETPREVBLOCK = 18,
  DBM_SETRANGE = 19,
  DBM_FREERECORD = 20,
  DBM_DROP = 21,
  DBM_CREATE = 22,
  DBM_BUILD = 23,
  DBM_INSKEY = 24,
  DBM_SHUT = 25,
  DBM_STOP = 26,
  DBM_CHECKPOINT = 27,
  DBM_BEGTRANSACT = 28,
  DBM_ENDTRANSACT = 29,
  DBM_ABORTTRANSACT = 30,
  DBM_NEWVERSION = 31,
  DBM_CARDINAL = 32,
  DBM_SETATTRIB = 33,
  DBM_DEBUG = 34,
  DBM_MONITOR = 35,
  DBM_GETDATAFILES = 36,
  DBM_GETVERSINFO = 37,
  DBM_SETPRIVG = 38,
  DBM_ALTER = 39,
  DBM_COPY = 40,
  DBM_REPLACE = 41,
  DBM_ESTIMATION = 42,
  DBM_ACTIVATION = 43,
  DBM_OBJMETHODEXEC = 44,
  DBM_READYTOEND = 45,
  DBM_SHADOWDBG = 46,
  DBM_ADDRECORDTEST = 47,
  DBM_LASTMSG = 48  // one past the last code
};

// Attribute bits of an operation.
enum : int32_t {
  SV_VOID = 1,        // no reply is sent
  SV_ENDTRANS = 2,    // ends the current transaction
  SV_CONNECT = 4,     // connects a client
  SV_STOP = 8,        // stops the server
  SV_DISCONNECT = 16, // disconnects a client
  SV_MODIFY = 32      // may modify stored data
};

// The attribute word of each code.
extern int32_t const _SvCommandAttributes[DBM_LASTMSG];

// True when `code` (as read from a peer) is an operation code, 0 to 47.
inline bool validSvMessage(int32_t code) { return code >= DBM_FIRSTMSG && code < DBM_LASTMSG; }
// The server's trace name of the code ("Attach" .. "AddRecordTest"); "" for
// a code out of range.
char const* svMessageName(int32_t code);

// Each gives its attribute bit. A code out of range fails the precondition
// "operation >= DBM_FIRSTMSG && operation < DBM_LASTMSG" and, when the
// failure report returns, answers false.
bool isVoid(SvMessage operation);
bool terminateTrans(SvMessage operation);
bool isConnect(SvMessage operation);
bool isStop(SvMessage operation);
bool isDisconnect(SvMessage operation);
bool mayModify(SvMessage operation);

// ---- batches -----------------------------------------------------------------
// One queue message can hold several requests back to back, each with its
// own 12-byte header and body: clients batch requests that expect no reply,
// and the receiving side walks the headers. Packing takes the message words
// as they stand (every header already carries its own length and flags);
// splitting checks that the headers' lengths chain exactly to the size
// received before any body is used.

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
