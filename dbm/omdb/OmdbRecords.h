// Record, key and stamp marshalling between a table's record buffer and
// its server, shared by the record calls and the cursor blocks.
//
// Record buffer of a table on a server (d.len bytes, then the record
// number, 4 bytes big-endian):
//   0-3    the table's server number   } the record's object id
//   4-7    the record's instance id    }
//   8-19   creation time_stamp         (time, date as longs; spare, user
//   20-31  modification time_stamp      as shorts; all big-endian)
//   32-    the fields at their positions
// Wire time stamp: seconds since day 0 (0x80000000 null, 0x7fffffff
// highest), then spare << 16 | user.
#pragma once

#include <cstdint>

#include <dbm/DbDescr.h>
#include <zfound/Portable.h>

class Connection;
class DbConnection;

namespace omdb {

inline constexpr int32_t kPfxTable = 0;
inline constexpr int32_t kPfxInst = 4;
inline constexpr int32_t kPfxCreated = 8;
inline constexpr int32_t kPfxModified = 20;

// Stamp field bits of s_field d.flags, and the table flags (interface
// form) that the prefix depends on.
inline constexpr uint16_t kStampBits = 0x1c0;
inline constexpr int32_t kTabCreation = 2;   // records carry a creation stamp
inline constexpr int32_t kTabModStamp = 4;   // a field shows the modification stamp
inline constexpr int32_t kTabStampKey = 8;   // the creation stamp is part of the primary key
inline constexpr int32_t kTabIdKey = 0x20;   // the instance id is part of the primary key

inline constexpr int32_t kWireDay = 86400;
inline constexpr int16_t kWireDateNull = -32768;
inline constexpr int16_t kWireDateHigh = 32766;
inline constexpr int32_t kWireTimeHigh = 43200;  // the highest time short

// The buffer form of a stamp at p (12 bytes) and back.
// The wire seconds of a stamp (computed in 64 bits, saturating); with
// nullPartsAsZero a single null part counts as 0, else it makes the whole
// stamp null. stampFromWire: a stamp from its two wire words (floor
// division: a time before day 0 lies on the day before).
// convertFlags: the server's search and lock mode of an interface read
// mode and lock flags.
inline time_stamp loadStamp(char const* p) {
  time_stamp ts;
  ts.time = ldlong(p);
  ts.date = ldlong(p + 4);
  ts.spare = int16_t(ldshort(p + 8));
  ts.user = int16_t(ldshort(p + 10));
  return ts;
}

inline void storeStamp(time_stamp const& ts, char* p) {
  stlong(ts.time, p);
  stlong(ts.date, p + 4);
  stshort(ts.spare, p + 8);
  stshort(ts.user, p + 10);
}

inline int32_t stampSeconds(time_stamp const& ts, bool nullPartsAsZero) {
  bool tNull = ts.time == 0, dNull = ts.date == kWireDateNull;
  bool tHigh = ts.time >= kWireTimeHigh, dHigh = ts.date >= kWireDateHigh;
  if (tHigh && dHigh) return 0x7fffffff;
  if (tNull && dNull) return int32_t(0x80000000);
  if ((tNull || dNull) && !nullPartsAsZero) return int32_t(0x80000000);
  int64_t day = dNull ? 0 : int64_t(ts.date);
  int64_t sod = tNull ? 0 : (int64_t(ts.time) - 1) * 2;
  int64_t s = day * kWireDay + sod;
  if (s >= 0x7fffffff) return 0x7fffffff;
  if (s <= INT32_MIN) return int32_t(0x80000000);
  return int32_t(s);
}

inline time_stamp stampFromWire(int32_t seconds, int32_t third) {
  time_stamp ts;
  ts.spare = int16_t(uint32_t(third) >> 16);
  ts.user = int16_t(uint32_t(third) & 0xffff);
  if (seconds == int32_t(0x80000000)) {
    ts.time = 0;
    ts.date = kWireDateNull;
  } else if (seconds == 0x7fffffff) {
    ts.time = kWireTimeHigh;
    ts.date = kWireDateHigh;
  } else {
    // Floor division: a time before day 0 lies on the day before.
    int64_t s = seconds;
    int64_t day = s / kWireDay;
    if (s % kWireDay < 0) --day;
    int64_t sod = s - day * kWireDay;
    ts.time = int32_t(sod / 2 + 1);
    ts.date = day < -32767 ? kWireDateNull : (day > 32765 ? kWireDateHigh : int32_t(day));
  }
  return ts;
}

inline int32_t convertFlags(int32_t mode, int32_t flags) {
  int32_t r = (mode << 7) & 0x1fff;
  r |= flags & 3;
  if (flags & 0x2000) r |= 0x2001;
  if (flags & 0x4000) r |= 4;
  if ((r & 3) && !(r & 4)) r |= 8;
  if (flags & 4) r |= 0x20;
  if (flags & 0x100) r |= 0x40;
  return r;
}

void sendStamp(Connection& c, time_stamp const& ts, bool nullPartsAsZero);

// True when a key part is the record-number part.
bool isRecnoPart(s_index_field const& p);
// The field a key part names, null when it names none of t's fields.
s_field* partField(s_table* t, s_index_field const& p);

// Sends the key of index `ip` of t from `buf` (modes 8 and 16: nothing).
// With `trailer` an index that is not unique gets one more long:
// 0x7fffffff for mode 5, 0 for an odd mode, else the buffer's number.
void sendKey(DbConnection& c, s_table* t, s_index const* ip, char const* buf, int32_t mode, bool trailer);
// Sends the lowest (high false) or highest key of `ip`: an open range end.
void sendEndKey(DbConnection& c, s_table* t, s_index const* ip, bool high);
// Receives the parts of a key of `ip` into buf; false when malformed.
bool receiveKeyParts(DbConnection& c, s_table* t, s_index const* ip, char* buf);

// Sends the prefix of a write: the instance id (table flag 0x20) and the
// creation stamp (table flag 8).
void sendPrefix(DbConnection& c, s_table* t, char const* buf);
// Receives the instance id, the modification stamp and, for a table with
// creation stamps, the creation stamp into the prefix; false when malformed.
bool receivePrefix(DbConnection& c, s_table* t, char* buf);
// Fills the stamp fields of buf from its prefix.
void resolveStamps(s_table* t, char* buf);
// Every field that is not a stamp field, in field order.
void sendRecord(DbConnection& c, s_table* t, char const* buf);
// The fields of a record (all non-stamp ones, or the n 1-based numbers of
// `list`) into buf; false when a value is malformed or a number is
// outside the table.
bool receiveFields(DbConnection& c, s_table* t, char* buf, int32_t const* list, int32_t n);

// The refusal handler of the record calls.
void refuse(int32_t table, char const* key, char const* detail);
// After a failed request: the result that the error code gives (-1 code
// 0, -2 locked, -3 refused inside a transaction, which becomes corrupt;
// outside one, or in transaction mode 4, another error is raised).
int32_t failure(int32_t table, int32_t code);

}  // namespace omdb

// Builds index handle `index` from the records of the cursor's range:
// Build requests on the cursor while the server answers a positive count;
// the entries added, or -1 (with _io_errno_ 15 when the transaction
// refused the request).
int32_t _CursorBuildIndex(s_dbcurs* cursor, int32_t index, int32_t flag);
