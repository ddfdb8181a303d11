// Connection: the word discipline, byte transfer, counters and the encoders
// and decoders of integers, texts, raw bytes, numbers, dates and times.
//
// Every composite value writes and reads its length and count words through
// the virtual integer operators, so a transport that converts byte order in
// those two converts every such word. A length word read from the peer is
// checked before anything is allocated or copied.
#include <zfound/Connection.h>

#include <zfound/Date.h>
#include <zfound/Num.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstring>

Connection::Connection() = default;

Connection::~Connection() = default;

void Connection::flushBuff() { _flush(); }

void Connection::fillBuff() { _fill(); }

Connection::operator int32_t() { return 0; }

// ---- word discipline ----------------------------------------------------------

void Connection::pushWord(int32_t w) {
  counterSent_ = false;
  if (writeLeft_-- <= 0) {
    flushBuff();
    // The transport left room for this word: count = capacity - 1.
    if (writePos_ == nullptr || writeLeft_ < 0) {
      writeLeft_ = 0;
      setBad();
      return;
    }
  }
  if (writePos_ == nullptr) {
    setBad();
    return;
  }
  *writePos_++ = static_cast<uint32_t>(w);
}

void Connection::popWord(int32_t& w) {
  if (readLeft_-- <= 0) {
    fillBuff();
    if (readPos_ == nullptr || readLeft_ < 0) {
      readLeft_ = 0;
      setBad();
      w = 0;
      return;
    }
  }
  if (readPos_ == nullptr) {
    setBad();
    w = 0;
    return;
  }
  w = static_cast<int32_t>(*readPos_++);
}

// ---- bytes ------------------------------------------------------------------------

void Connection::send(int32_t n, char const* p) {
  for (int32_t off = 0; off < n; off += 4) {
    uint32_t w = 0;  // pad bytes are zero
    int32_t k = n - off < 4 ? n - off : 4;
    std::memcpy(&w, p + off, size_t(k));
    pushWord(static_cast<int32_t>(w));
  }
}

void Connection::receive(int32_t n, char* p) {
  pop(p, n);
  p[n > 0 ? n : 0] = '\0';
}

void Connection::pop(void* p, int32_t n) {
  char* out = static_cast<char*>(p);
  for (int32_t off = 0; off < n; off += 4) {
    if (bad_) {
      // The channel gave out: the rest is zeros, without asking the
      // transport for every missing word.
      std::memset(out + off, 0, size_t(n - off));
      break;
    }
    int32_t w = 0;
    popWord(w);
    int32_t k = n - off < 4 ? n - off : 4;
    std::memcpy(out + off, &w, size_t(k));
  }
}

void Connection::push(void const* p, int32_t n) {
  *this << n;
  if (n >= 1) send(n, static_cast<char const*>(p));
}

// ---- counters and return value ----------------------------------------------------

void Connection::sendCounter(int32_t n) {
  if (n > 1) {
    *this << kCounterMarker;
    *this << n;
    counterSent_ = true;
  }
}

void Connection::recFirstInt(int32_t& x) {
  *this >> x;
  if (x == kCounterMarker) {
    *this >> counter_;
    // A count announces at least one value; a smaller one is a protocol
    // fault (and -1 would pass for "no count").
    if (counter_ < 1) setBad();
    *this >> x;
  } else {
    counter_ = -1;
  }
}

int32_t Connection::retValue() const { return buffer_ ? static_cast<int32_t>(buffer_[1]) : 0; }

void Connection::setRetValue(int32_t v) {
  if (buffer_) buffer_[1] = static_cast<uint32_t>(v);
}

// ---- integers ---------------------------------------------------------------------

Connection& Connection::operator<<(int32_t w) {
  pushWord(w);
  return *this;
}

Connection& Connection::operator>>(int32_t& w) {
  popWord(w);
  return *this;
}

// ---- texts ------------------------------------------------------------------------

bool Connection::recLength(int32_t& len) {
  *this >> len;
  if (len == kHighLength || (len >= 0 && len <= kMaxLength)) return true;
  setBad();
  return false;
}

Connection& Connection::operator<<(String const& s) {
  int32_t n = static_cast<int32_t>(s.length());
  *this << n;
  if (n >= 1 && n != kHighLength) send(n, toCharPtr(s));
  return *this;
}

Connection& Connection::operator<<(char const* p) {
  int32_t n = 0;
  if (p == reinterpret_cast<char const*>(1)) {
    n = kHighLength;
  } else if (p != nullptr) {
    size_t l = std::strlen(p);
    n = l > size_t(kMaxLength) ? kMaxLength : static_cast<int32_t>(l);
  }
  *this << n;
  if (n >= 1 && n != kHighLength) send(n, p);
  return *this;
}

Connection& Connection::operator>>(String& s) {
  int32_t n = 0;
  if (!recLength(n)) {
    s = String();
    return *this;
  }
  char* area = s.getBuffer(n);
  if (n >= 1 && n != kHighLength && area != nullptr) receive(n, area);
  return *this;
}

Connection& Connection::operator>>(char*& p) {
  int32_t n = 0;
  p = nullptr;
  if (!recLength(n) || n == 0) return *this;
  if (n == kHighLength) {
    p = reinterpret_cast<char*>(1);
    return *this;
  }
  p = new char[size_t(n) + 4];
  receive(n, p);
  return *this;
}

// ---- dates and times: one word, the value --------------------------------------

// A date or time travels as its value, which its decoder reads through
// recFirstInt. The one value equal to the counter marker would be taken for
// a counter prefix, so it is sent behind an explicit prefix with count 1
// followed by the value itself. After a prefix the reader takes the next
// word as the value whatever it is, so a value that follows sendCounter
// needs no second prefix (a second one would be left unread).
void Connection::sendValueWord(int32_t v) {
  if (v == kCounterMarker && !counterSent_) {
    *this << kCounterMarker;
    *this << int32_t{1};
  }
  *this << v;
}

Connection& Connection::operator<<(Date const& d) {
  sendValueWord(d.value());
  return *this;
}

Connection& Connection::operator<<(Time const& t) {
  sendValueWord(t.value());
  return *this;
}

Connection& Connection::operator>>(Date& d) {
  int32_t v = 0;
  recFirstInt(v);
  d = toDate(v);
  return *this;
}

Connection& Connection::operator>>(Time& t) {
  int32_t v = 0;
  recFirstInt(v);
  t = toTime(v);
  return *this;
}

// The Num form: see Num.h.
Connection& Connection::operator<<(Num const& n) {
  uint32_t c = n.count();
  uint32_t first = (uint32_t(uint8_t(n.expByte())) << 24) | (c << 16) | (c != 0 ? n.digit(0) : 0u);
  *this << static_cast<int32_t>(first);
  for (uint32_t i = 1; i < c; i += 2) {
    uint32_t w = uint32_t(n.digit(int(i))) << 16;
    if (i + 1 < c) w |= n.digit(int(i + 1));
    *this << static_cast<int32_t>(w);
  }
  return *this;
}

Connection& Connection::operator>>(Num& n) {
  int32_t first = 0;
  recFirstInt(first);
  uint32_t w0 = static_cast<uint32_t>(first);
  int8_t x = static_cast<int8_t>(w0 >> 24);
  uint16_t d[Num::kDigits] = {};
  if (x == 0 || x == Num::kNullExp || x == Num::kHighExp) {
    n.setRaw(d, x, 0);
    return *this;
  }
  uint32_t c = (w0 >> 16) & 0xFF;
  if (c < 1 || c > uint32_t(Num::kDigits)) {
    // The digit words that follow cannot be counted: the channel is lost.
    n = Num();
    setBad();
    return *this;
  }
  d[0] = static_cast<uint16_t>(w0 & 0xFFFF);
  for (uint32_t i = 1; i < c; i += 2) {
    int32_t w = 0;
    *this >> w;
    d[i] = static_cast<uint16_t>(static_cast<uint32_t>(w) >> 16);
    if (i + 1 < c) d[i + 1] = static_cast<uint16_t>(static_cast<uint32_t>(w) & 0xFFFF);
  }
  if (!n.setRaw(d, x, static_cast<uint8_t>(c))) setBad();
  return *this;
}
