// Connection over the loopback transport: the exact words of every value
// form, the word discipline at part boundaries, counters, byte transfer, and
// refusal of hostile length words and malformed numbers.
#include <zfound/Connection.h>
#include <zfound/Date.h>
#include <zfound/LoopConnection.h>
#include <zfound/Num.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>
#include "TestSupport.h"

namespace {

using Words = std::vector<uint32_t>;

// The host word holding these (up to four) bytes, zero padded.
uint32_t w4(char const* bytes, size_t n) {
  uint32_t w = 0;
  std::memcpy(&w, bytes, n);
  return w;
}

using zftest::str;

TEST(ConnectionWords, EveryValueFormRoundTripsWithItsExactWords) {
  LoopConnection c(5);  // small parts: values cross part boundaries
  String text5("abcde"), text4("abcd"), high(reinterpret_cast<char const*>(1));
  Num num28("1234567890123456789012345678");
  unsigned char raw[3] = {1, 2, 3};

  c << int32_t(42) << int32_t(-1);
  c << String() << high << text5 << text4;
  c << static_cast<char const*>(nullptr) << "" << reinterpret_cast<char const*>(1) << "xy";
  c.push(raw, 3);
  c.push(raw, 0);
  c.sendCounter(1);
  c.sendCounter(0);
  c.sendCounter(7);
  c << Num() << Num(INT32_MAX) << Num(0) << Num(-3) << Num("1234.5678") << num28;
  c.sendCounter(2);
  c << toDate(12345) << toTime(-7);

  Words want = {
      42, 0xFFFFFFFF,                                          // integers
      0, 0x7FFFFFFF, 5, w4("abcd", 4), w4("e", 1), 4, w4("abcd", 4),  // Strings
      0, 0, 0x7FFFFFFF, 2, w4("xy", 2),                        // char strings
      3, w4("\1\2\3", 3), 0,                                   // raw bytes
      0x7FFFFFFE, 7,                                           // counter (1 and 0 send nothing)
      0x9C000000, 0x64000000, 0, 0xCD010003, 0x330204D2, 0x162E0000,
      0x390704D2, (5678u << 16) | 9012, (3456u << 16) | 7890, (1234u << 16) | 5678,
      0x7FFFFFFE, 2, 12345, 0xFFFFFFF9,                       // counted date, time
  };
  EXPECT_EQ(c.words(), want);
  EXPECT_GT(c.flushes(), 0);

  c.rewind();
  int32_t i1 = 0, i2 = 0;
  c >> i1 >> i2;
  EXPECT_EQ(i1, 42);
  EXPECT_EQ(i2, -1);
  String s[4];
  for (auto& x : s) c >> x;
  EXPECT_TRUE(s[0].isNull());
  EXPECT_TRUE(s[1].isHighest());
  EXPECT_EQ(str(s[2]), "abcde");
  EXPECT_EQ(str(s[3]), "abcd");
  char* p[4];
  for (auto& x : p) c >> x;
  EXPECT_EQ(p[0], nullptr);
  EXPECT_EQ(p[1], nullptr);
  EXPECT_EQ(p[2], reinterpret_cast<char*>(1));
  ASSERT_NE(p[3], nullptr);
  EXPECT_STREQ(p[3], "xy");
  delete[] p[3];
  int32_t n = 0;
  unsigned char back[4] = {9, 9, 9, 9};
  c >> n;
  c.pop(back, n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(std::memcmp(back, "\1\2\3\x09", 4), 0);
  c >> n;
  EXPECT_EQ(n, 0);
  int32_t first = 0;
  c.recFirstInt(first);  // the counter, then the first word of the null Num
  EXPECT_EQ(c.counter(), 7);
  EXPECT_EQ(uint32_t(first), 0x9C000000u);
  Num nums[5];
  for (auto& x : nums) c >> x;
  EXPECT_TRUE(nums[0].isMax());
  EXPECT_TRUE(nums[1].isZero());
  EXPECT_EQ(toInt(nums[2]), -3);
  EXPECT_STREQ(NumToStr(&nums[3], 255, Num::kMaxPrecision), "1234.5678");
  EXPECT_EQ(NumCmp(&nums[4], &num28), 0);
  EXPECT_EQ(c.counter(), -1);
  Date d;
  Time t;
  c >> d;
  EXPECT_EQ(c.counter(), 2);
  c >> t;
  EXPECT_EQ(c.counter(), -1);
  EXPECT_EQ(d.value(), 12345);
  EXPECT_EQ(t.value(), -7);
  EXPECT_EQ(c.wordsLeft(), 0);
  EXPECT_FALSE(c.bad());
}

TEST(ConnectionWords, CounterPrefixOnDecoders) {
  LoopConnection c;
  int32_t x = 0;
  c.feed({0x7FFFFFFE, 3, 42});
  c.recFirstInt(x);
  EXPECT_EQ(x, 42);
  EXPECT_EQ(c.counter(), 3);
  c.feed({42});
  c.recFirstInt(x);
  EXPECT_EQ(x, 42);
  EXPECT_EQ(c.counter(), -1);
  Num n;
  c.feed({0x7FFFFFFE, 5, 0x33010007});
  c >> n;
  EXPECT_EQ(toInt(n), 7);
  EXPECT_EQ(c.counter(), 5);
  EXPECT_FALSE(c.bad());
}

TEST(ConnectionWords, ACounterBelowOneMarksTheChannelBad) {
  // No sender announces fewer than one value; -1 would pass for "no count".
  for (uint32_t count : {0u, uint32_t(-1), 0x80000000u}) {
    LoopConnection c;
    int32_t x = 0;
    c.feed({0x7FFFFFFE, count, 42});
    c.recFirstInt(x);
    EXPECT_TRUE(c.bad()) << count;
  }
}

// A date or time whose value equals the counter marker still reads back as
// itself, not as a counter prefix, also right behind a counter of its own.
TEST(ConnectionWords, DateAndTimeEqualToTheMarkerRoundTrip) {
  LoopConnection c;
  c << toTime(0x7FFFFFFE) << toDate(0x7FFFFFFE) << toTime(5);
  c.sendCounter(4);
  c << toDate(0x7FFFFFFE) << toDate(6);
  EXPECT_EQ(c.words(), (Words{0x7FFFFFFE, 1, 0x7FFFFFFE, 0x7FFFFFFE, 1, 0x7FFFFFFE, 5,
                              0x7FFFFFFE, 4, 0x7FFFFFFE, 6}));
  c.rewind();
  Time t, t2;
  Date d, d2, d3;
  c >> t >> d >> t2;
  EXPECT_EQ(t.value(), 0x7FFFFFFE);
  EXPECT_EQ(d.value(), 0x7FFFFFFE);
  EXPECT_EQ(t2.value(), 5);
  c >> d2;
  EXPECT_EQ(c.counter(), 4);
  c >> d3;
  EXPECT_EQ(d2.value(), 0x7FFFFFFE);
  EXPECT_EQ(d3.value(), 6);
  EXPECT_EQ(c.wordsLeft(), 0);
  EXPECT_FALSE(c.bad());
}

TEST(ConnectionDiscipline, FlushesOnlyWhenTheNextWordFindsThePartFull) {
  LoopConnection c(4);
  EXPECT_EQ(c.getCnt(), 16);
  for (int32_t i = 0; i < 4; ++i) c << i;
  EXPECT_EQ(c.flushes(), 0);
  EXPECT_EQ(c.getCnt(), 0);
  c << int32_t(4);
  EXPECT_EQ(c.flushes(), 1);
  EXPECT_EQ(c.getCnt(), 12);
  c << String("0123456789");  // 1 + 3 words across the next boundary
  EXPECT_EQ(c.flushes(), 2);
  c.setRetValue(77);
  EXPECT_EQ(c.retValue(), 77);
  c.rewind();
  for (int32_t i = 0; i < 5; ++i) {
    int32_t w = -1;
    c >> w;
    EXPECT_EQ(w, i);
  }
  String s;
  c >> s;
  EXPECT_EQ(str(s), "0123456789");
  EXPECT_EQ(c.wordsLeft(), 0);
  int32_t past = 5;
  c >> past;  // nothing more was written
  EXPECT_EQ(past, 0);
  EXPECT_TRUE(c.bad());
}

TEST(ConnectionBytes, PopWritesExactlyTheBytesAsked) {
  LoopConnection c;
  c.feed({w4("ABCD", 4), w4("EFGH", 4), 99});
  alignas(4) char buf[12];
  std::memset(buf, '.', sizeof buf);
  c.pop(buf + 1, 6);  // odd address, partial last word
  EXPECT_EQ(std::string(buf, 12), ".ABCDEF.....");
  EXPECT_EQ(c.wordsLeft(), 1);
  c.pop(buf, 0);
  EXPECT_EQ(c.wordsLeft(), 1);
  // send from an unaligned source pads the last word with zeros.
  LoopConnection d;
  char src[8] = {'x', 'a', 'b', 'c', 'd', 'e', 'f', 'g'};
  d.send(5, src + 1);
  EXPECT_EQ(d.words(), (Words{w4("abcd", 4), w4("e", 1)}));
  char out[8];
  std::memset(out, '#', sizeof out);
  d.rewind();
  d.receive(5, out);
  EXPECT_EQ(std::string(out, 7), std::string("abcde\0#", 7));
}

TEST(ConnectionBytes, LongestStringRoundTrips) {
  LoopConnection c(1024);
  String longest(std::string(65535, 'q').c_str());
  ASSERT_EQ(longest.length(), 65535);
  c << longest << reinterpret_cast<char const*>(toCharPtr(longest));
  EXPECT_EQ(c.words().size(), 2u * (1 + 16384));
  c.rewind();
  String a;
  char* b = nullptr;
  c >> a >> b;
  EXPECT_EQ(cmp(a, longest), 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::strlen(b), 65535u);
  delete[] b;
  EXPECT_FALSE(c.bad());
}

TEST(ConnectionBytes, LongerCStringArrivesCutToTheLongestLength) {
  LoopConnection c(1024);
  std::string text(70000, 'r');
  for (size_t i = 0; i < text.size(); i += 1000) text[i] = char('A' + i / 1000 % 26);
  c << text.c_str() << int32_t(4711);
  EXPECT_EQ(c.words().size(), 1 + 16384 + 1u);
  c.rewind();
  char* b = nullptr;
  int32_t after = 0;
  c >> b >> after;
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::string(b), text.substr(0, 65535));
  delete[] b;
  EXPECT_EQ(after, 4711) << "the word after the text is the next value";
  EXPECT_FALSE(c.bad());
}

TEST(ConnectionLengths, HostileLengthWordsAreRefused) {
  uint32_t const bad[] = {65536, 0x7FFFFFFE, 0x80000000, 0xFFFFFFFF, 0x40000000};
  for (uint32_t len : bad) {
    LoopConnection c;
    c.feed({len, w4("abcd", 4)});
    String s("keep");
    c >> s;
    EXPECT_TRUE(s.isNull()) << len;
    EXPECT_TRUE(c.bad()) << len;
    EXPECT_EQ(c.wordsLeft(), 1) << "no characters read after length " << len;

    c.feed({len, w4("abcd", 4)});
    char* p = reinterpret_cast<char*>(8);
    c >> p;
    EXPECT_EQ(p, nullptr) << len;
    EXPECT_TRUE(c.bad()) << len;
  }
  LoopConnection c;
  c.feed({0, 99});
  char* p = reinterpret_cast<char*>(8);
  c >> p;
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(c.wordsLeft(), 1);  // a length of 0 reads nothing further
  EXPECT_FALSE(c.bad());
}

// Counts the refills that the reader asks of the transport.
class CountingLoop : public LoopConnection {
public:
  void _fill() override {
    ++fills;
    LoopConnection::_fill();
  }
  int fills = 0;
};

TEST(ConnectionBytes, ReadingStopsOnceTheChannelGaveOut) {
  // A length of 60,000 followed by one word: the text reads as its one word
  // then zeros, and the transport is asked once more, not once per word.
  CountingLoop c;
  c.feed({60000, w4("abcd", 4)});
  String s;
  c >> s;
  EXPECT_TRUE(c.bad());
  EXPECT_EQ(s.length(), 60000);
  EXPECT_EQ(std::string(toCharPtr(s), 5), std::string("abcd\0", 5));
  EXPECT_LE(c.fills, 3);
}

TEST(ConnectionNum, MalformedNumbersAreRefused) {
  Words const bad[] = {
      {0x33090001},              // count 9
      {0x33000001},              // finite exponent with count 0
      {0x33022710, 0x00010000},  // first digit 10000
      {0x33020001, 0x27100000},  // second digit 10000
      {0x7F010001},              // exponent byte 127
      {0x9B010001},              // exponent byte -101
  };
  for (auto const& w : bad) {
    LoopConnection c;
    c.feed(w);
    Num n(5);
    c >> n;
    EXPECT_TRUE(n.isNull()) << std::hex << w[0];
    EXPECT_TRUE(c.bad()) << std::hex << w[0];
  }
  LoopConnection c;
  c.feed({0x33030001, 0x00020000});  // trailing zero digit: accepted, normalised
  Num n;
  c >> n;
  EXPECT_FALSE(c.bad());
  EXPECT_EQ(n.count(), 2);
  EXPECT_STREQ(NumToStr(&n, 255, Num::kMaxPrecision), "1.0002");
}

// A transport that keeps its integer words in the opposite byte order: every
// length and count word goes through its integer operators, the characters
// do not.
class SwappedLoop : public LoopConnection {
public:
  using Connection::operator<<;
  using Connection::operator>>;
  Connection& operator<<(int32_t w) override {
    pushWord(int32_t(__builtin_bswap32(uint32_t(w))));
    return *this;
  }
  Connection& operator>>(int32_t& w) override {
    popWord(w);
    w = int32_t(__builtin_bswap32(uint32_t(w)));
    return *this;
  }
};

TEST(ConnectionWords, LengthAndCountWordsGoThroughTheIntegerOperators) {
  SwappedLoop c;
  c << String("abcde");
  c.sendCounter(3);
  c << Num(-3);
  EXPECT_EQ(c.words(), (Words{0x05000000, w4("abcd", 4), w4("e", 1), 0xFEFFFF7F, 0x03000000, 0x030001CD}));
  c.rewind();
  String s;
  Num n;
  c >> s >> n;
  EXPECT_EQ(str(s), "abcde");
  EXPECT_EQ(c.counter(), 3);
  EXPECT_EQ(toInt(n), -3);
  EXPECT_FALSE(c.bad());
}

}  // namespace

namespace {

// A transport that grants neither room nor data: words are dropped and reads
// give 0, with the channel marked bad, instead of touching stray memory.
class DeadTransport : public Connection {
public:
  int32_t flushes = 0, fills = 0;
  void _flush() override { ++flushes; }
  void _fill() override { ++fills; }
};

TEST(ConnectionDiscipline, ATransportWithoutRoomOrDataMarksTheChannelBad) {
  DeadTransport c;
  EXPECT_EQ(c.retValue(), 0);
  c.setRetValue(5);  // no buffer: nothing to store into
  c << int32_t(1) << String("abcdef");
  EXPECT_TRUE(c.bad());
  EXPECT_EQ(c.flushes, 4);
  c.clearBad();
  String s("x");
  int32_t w = 9;
  c >> w >> s;
  EXPECT_EQ(w, 0);
  EXPECT_TRUE(s.isNull());
  EXPECT_TRUE(c.bad());
  EXPECT_EQ(int32_t(c), 0);
}

}  // namespace
