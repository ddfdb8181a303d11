// Connection: the abstract, buffered, word-oriented binary channel over which
// requests and replies between a client and the database server travel.
//
// A Connection knows nothing of queues or sockets. It writes 32-bit words
// into a buffer that a transport owns, reads words from it, and calls the
// transport's _flush/_fill when the buffer is full or empty. Every value on
// the channel is a sequence of 32-bit words (int32_t/uint32_t; a 64-bit long
// never reaches the wire). The words sit in the buffer in host order; the
// transport settles the byte order on the wire.
//
// Invariants:
//  - the buffer starts with the 3-word (12-byte) message header; body words
//    follow it; the second header word is the return value of a reply;
//  - a word is stored only where the transport granted room (words left to
//    write >= 0 after the count), and taken only where it granted data;
//  - a received length word is accepted only in 0..65535 or 0x7FFFFFFF (the
//    highest marker); anything else marks the channel bad (bad()) and yields
//    a null value, so a hostile or corrupted peer can neither overrun a
//    buffer nor make the receiver allocate a huge block;
//  - a transport that fails to grant room or data marks the channel bad;
//    writes are then dropped and reads yield 0 words, never stray memory.
//
// Value encodings (in words):
//   32-bit integer  one word
//   String/char*    length word (0 null, 0x7FFFFFFF highest, else 1..65535),
//                   then the characters in ceil(length/4) words (last padded
//                   with zero bytes) when the length is a real length
//   raw bytes       (push) length word n, then ceil(n/4) words when n >= 1
//   counted value   optional prefix 0x7FFFFFFE, count (sent for count > 1)
//   Num             see Num.h (encoded in Num's own source)
//   Date, Time      one word, the value; reading accepts the counter prefix
//                   (recFirstInt), so a value equal to the marker is sent
//                   behind a prefix (count 1 unless sendCounter has just
//                   written one). These two operators are defined in
//                   the channel's own source over Date::value()/toDate()
//                   and Time::value()/toTime(); Date and Time add no others.
#pragma once

#include <cstdint>

class String;
class Num;
class Date;
class Time;

class Connection {
public:
  // Marker word that announces a count (or a return code) before a value.
  static constexpr int32_t kCounterMarker = 0x7FFFFFFE;
  // Length word of the highest String / the highest char pointer.
  static constexpr int32_t kHighLength = 0x7FFFFFFF;
  // Largest real length of a String or char string on the channel.
  static constexpr int32_t kMaxLength = 65535;
  // Words in the message header in front of the body.
  static constexpr int32_t kHeaderWords = 3;

  // All positions and counts zero, the counter -1; not bad.
  Connection();
  virtual ~Connection();
  Connection(Connection const&) = delete;
  Connection& operator=(Connection const&) = delete;

  // ---- transport hooks --------------------------------------------------
  // Sends what the buffer holds and leaves an empty part: write position
  // after the header, words left to write = capacity - 1 (the word about to
  // be written).
  virtual void _flush() = 0;
  // Brings in the next part: read position at its first body word, words
  // left to read = words in the part - 1 (the word about to be read).
  virtual void _fill() = 0;
  // Calls _flush() (transports may override).
  virtual void flushBuff();
  // Calls _fill() (transports may override).
  virtual void fillBuff();

  // 0 in the base class; a client connection completes its request and
  // returns the result.
  virtual explicit operator int32_t();

  // ---- encoders -----------------------------------------------------------
  // One word.
  virtual Connection& operator<<(int32_t w);
  // Length word, then the characters when the length is 1..65535.
  virtual Connection& operator<<(String const& s);
  // As a String: the null pointer and "" as 0, (char const*)1 as 0x7FFFFFFF,
  // else strlen (a text longer than 65535 characters is cut to 65535).
  virtual Connection& operator<<(char const* p);
  // The Num form (see Num.h).
  virtual Connection& operator<<(Num const& n);
  // One word, the day number.
  virtual Connection& operator<<(Date const& d);
  // One word, the seconds.
  virtual Connection& operator<<(Time const& t);
  // The word n, then the n bytes at p when n >= 1. n must be 0..65535.
  virtual void push(void const* p, int32_t n);

  // ---- decoders -----------------------------------------------------------
  // One word.
  virtual Connection& operator>>(int32_t& w);
  // Length word, then the characters; a length outside 0..65535 and not
  // 0x7FFFFFFF gives null and marks the channel bad.
  virtual Connection& operator>>(String& s);
  // Length word: 0x7FFFFFFF gives (char*)1, 0 a null pointer, 1..65535 a new
  // char[n + 4] with the characters and a NUL (the caller frees it with
  // delete[]); any other length gives a null pointer and marks the channel bad.
  virtual Connection& operator>>(char*& p);
  // The Num form (see Num.h); a malformed number gives null and marks bad.
  virtual Connection& operator>>(Num& n);
  // One word (after an optional counter prefix), the day number.
  virtual Connection& operator>>(Date& d);
  // One word (after an optional counter prefix), the seconds.
  virtual Connection& operator>>(Time& t);
  // Reads ceil(n/4) words and copies exactly n bytes to p (nothing for n <= 0).
  // No length word is read: the caller has read it.
  virtual void pop(void* p, int32_t n);

  // ---- words and bytes ------------------------------------------------------
  // Writes one word under the word discipline (flushes first when full).
  void pushWord(int32_t w);
  // Reads one word under the word discipline (fills first when empty).
  void popWord(int32_t& w);
  // Writes the n bytes at p as ceil(n/4) words, the last padded with zeros.
  // p may be unaligned. Nothing for n <= 0.
  void send(int32_t n, char const* p);
  // Reads ceil(n/4) words, copies exactly n bytes to p and stores a NUL at
  // p[n]; p must hold n + 1 bytes. Nothing but the NUL for n <= 0.
  void receive(int32_t n, char* p);

  // ---- counters and return value ----------------------------------------
  // When n > 1: the marker 0x7FFFFFFE, then n; else nothing. The value
  // written next is the counted one: a date or time sent right after it
  // gets no prefix of its own.
  void sendCounter(int32_t n);
  // Reads a word into x; when it is the marker, reads the count into the
  // counter (a count below 1 marks the channel bad) and x again; otherwise
  // sets the counter to -1.
  void recFirstInt(int32_t& x);
  // The count announced before the last counted value read (-1: none).
  int32_t& counter() { return counter_; }
  // Bytes still free for writing in the current part.
  int32_t getCnt() const { return writeLeft_ * 4; }
  // The second header word (a reply's return value); 0 without a buffer.
  int32_t retValue() const;
  // Stores v as the second header word (nothing without a buffer).
  void setRetValue(int32_t v);

  // ---- channel state ------------------------------------------------------
  // True once the channel met a malformed value or a transport that granted
  // no room or data; what was read after that is not to be trusted.
  bool bad() const { return bad_; }
  // Marks the channel bad (decoders and transports call this).
  void setBad() { bad_ = true; }
  // Clears the bad mark (a transport starting a fresh exchange).
  void clearBad() { bad_ = false; }

  // Peer id: the transport's client id of the current peer (-1 until connected).
  int32_t peerId() const { return peerId_; }
  void setPeerId(int32_t id) { peerId_ = id; }

protected:
  // Fields set by transports. `buffer` points at the 3-word header of the
  // message being written or read; positions point into the same buffer.
  uint32_t* buffer_ = nullptr;     // message header of the current part
  uint32_t* writePos_ = nullptr;   // next word to write
  uint32_t* readPos_ = nullptr;    // next word to read
  int32_t capacity_ = 0;           // body words a part can hold
  int32_t writeLeft_ = 0;          // words left to write in this part
  int32_t readLeft_ = 0;           // words left to read in this part
  int32_t peerId_ = 0;             // the peer's client id (transports set -1 until connected)
  int32_t counter_ = -1;           // count announced on the last value read

private:
  // Reads a length word and checks it; false (and bad) when it is neither a
  // real length nor the highest marker.
  bool recLength(int32_t& len);
  // Writes the one word of a date or time. Its reader takes a first word
  // equal to the counter marker as a prefix, so that value goes behind a
  // prefix with count 1 -- unless a counter prefix was written just before,
  // in which case the reader already takes the next word as the value.
  void sendValueWord(int32_t v);

  bool bad_ = false;
  bool counterSent_ = false;  // the last words written were a counter prefix
};
