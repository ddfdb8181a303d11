// TimeStamp: a unique, ordered mark of an event: a Time to the second, a
// 16-bit sequence number telling apart the stamps of one second, and the
// 16-bit id of the user who made it.
//
// Invariants:
//  - Order is by time, then sequence number; the user id takes no part.
//  - Stamps handed out by setNow() in one process strictly increase: when
//    the 65,536 sequence numbers of a second are used up, or the clock
//    stands still or goes back, the stamp carries into the next second
//    instead of wrapping back to an earlier stamp.
//  - The 8-byte stored form (time + 0x80000000, sequence, user; all
//    big-endian) compares byte-wise in the stamps' order.
#pragma once

#include <zfound/Time.h>

#include <cstdint>

class Connection;
class String;

class TimeStamp {
public:
  // Null time, sequence 0, user 0.
  TimeStamp() : time_(), nSec_(0), userId_(0) {}
  // That time, sequence 0, user 0.
  explicit TimeStamp(Time const& t) : time_(t), nSec_(0), userId_(0) {}

  // Takes the current time and the next sequence number of the process.
  // True when the stamp starts a new second (sequence 0).
  bool setNow();
  // The next stamp after this one (the process's last stamp follows it).
  TimeStamp& operator++();
  // The stamp before this one: sequence 0 becomes 65535 one second earlier.
  TimeStamp& operator--();
  // The time moved by seconds (saturating); the sequence kept.
  TimeStamp& operator+=(int32_t s);
  TimeStamp& operator-=(int32_t s);

  // Takes the other's time and sequence number, keeps the user id.
  void setTime(TimeStamp const& ts) { time_ = ts.time_; nSec_ = ts.nSec_; }
  void setNSec(int32_t n) { nSec_ = uint16_t(n); }
  uint16_t nSec() const { return nSec_; }
  void setUserId(int32_t id) { userId_ = uint16_t(id); }
  uint16_t userId() const { return userId_; }

  operator Time() const { return time_; }
  Time const& time() const { return time_; }
  bool isNull() const { return time_.isNull(); }
  static int32_t storeLength() { return 8; }

  // -1 or 1 by the times when they differ, else the difference of the
  // sequence numbers.
  int32_t cmp(TimeStamp const& ts) const;

  // "(Time: DD/MM/YY HH:MI:SS, seqn: n, uid: u)".
  String descr() const;

  // 8 bytes: the time's stored form, sequence and user id (2 bytes each,
  // big-endian); pos moves past them.
  void store(char*& pos) const;
  TimeStamp& load(char const*& pos);

  // The process's last stamp (null until the first stamp is handed out).
  static TimeStamp& lastStamp();

private:
  Time time_;
  uint16_t nSec_;
  uint16_t userId_;
};

inline Time toTime(TimeStamp const& ts) { return ts.time(); }
inline Date toDate(TimeStamp const& ts) { return toDate(ts.time()); }

inline bool operator==(TimeStamp const& a, TimeStamp const& b) { return a.cmp(b) == 0; }
inline bool operator!=(TimeStamp const& a, TimeStamp const& b) { return a.cmp(b) != 0; }
inline bool operator<(TimeStamp const& a, TimeStamp const& b) { return a.cmp(b) < 0; }
inline bool operator<=(TimeStamp const& a, TimeStamp const& b) { return a.cmp(b) <= 0; }
inline bool operator>(TimeStamp const& a, TimeStamp const& b) { return a.cmp(b) > 0; }
inline bool operator>=(TimeStamp const& a, TimeStamp const& b) { return a.cmp(b) >= 0; }

// Two words: the time, then sequence * 65536 + user id.
Connection& operator<<(Connection& c, TimeStamp const& ts);
Connection& operator>>(Connection& c, TimeStamp& ts);
