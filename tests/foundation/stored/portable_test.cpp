// Stored forms in memory, on FILE streams and on descriptor and text streams:
// exact bytes, round trips including the String edge lengths, and loads that
// report a cut-short or impossible input instead of yielding garbage.
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/Stream.h>
#include <zfound/String.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "TestSupport.h"

namespace {

String highString() { return String(reinterpret_cast<char const*>(1)); }
String text(long n, char c) {
  String s;
  char* p = s.getBuffer(n);
  for (long i = 0; i < n; ++i) p[i] = static_cast<char>(c + i % 7);
  return s;
}

TEST(PortableMemory, BigEndianAndSortableForms) {
  unsigned char b[8];
  stlong(0x01020304, b);
  EXPECT_EQ(std::string("\x01\x02\x03\x04", 4), std::string(reinterpret_cast<char*>(b), 4));
  EXPECT_EQ(0x01020304, ldlong(b));
  stlong(-1, b);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(0xFF, b[i]);
  EXPECT_EQ(-1, ldlong(b));
  stlong(INT32_MIN, b);
  EXPECT_EQ(INT32_MIN, ldlong(b));

  unsigned char* p = b;
  stInt(-1, p);
  stInt(0, p);
  EXPECT_EQ(b + 8, p);
  unsigned char const expect[8] = {0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(expect, b, 8));
  EXPECT_LT(std::memcmp(b, b + 4, 4), 0);  // -1 sorts before 0
  unsigned char const* q = b;
  EXPECT_EQ(-1, ldInt(q));
  EXPECT_EQ(0, ldInt(q));

  stshort(-2, b);
  EXPECT_EQ(0xFF, b[0]);
  EXPECT_EQ(0xFE, b[1]);
  EXPECT_EQ(-2, ldshort(b));
  EXPECT_EQ(65534, ldushort(b));

  double d = -1234.5e-7;
  stdbl(d, b);
  EXPECT_EQ(0, std::memcmp(&d, b, 8));  // memory order, not swapped
  EXPECT_EQ(d, lddbl(b));
}

// The sortable key family writes the memory stInt form, whose bytes sort as
// the values do; the FILE stInt of the same name writes the plain form.
TEST(PortableMemory, SortKeysSortAndDifferFromTheFileForm) {
  int32_t const values[] = {INT32_MIN, -70000, -1, 0, 1, 255, 256, 70000, INT32_MAX};
  unsigned char keys[9][4];
  for (int i = 0; i < 9; ++i) {
    unsigned char* p = keys[i];
    stSortKey(values[i], p);
    EXPECT_EQ(keys[i] + 4, p);
    unsigned char mem[4];
    unsigned char* m = mem;
    stInt(values[i], m);
    EXPECT_EQ(0, std::memcmp(mem, keys[i], 4)) << values[i];
    unsigned char const* q = keys[i];
    EXPECT_EQ(values[i], ldSortKey(q));
    if (i > 0) { EXPECT_LT(std::memcmp(keys[i - 1], keys[i], 4), 0) << values[i]; }
  }
  zftest::TempDir dir;
  std::string path = dir.file("int.bin");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  EXPECT_TRUE(stInt(f, -1));
  std::fclose(f);
  EXPECT_EQ(zftest::readFile(path), std::string("\xFF\xFF\xFF\xFF", 4));
}

// Every String shape that the 16-bit length word must keep apart.
std::vector<String> stringCases(bool withLong = true) {
  if (!withLong) return {String(), String(""), highString(), String("abc"), text(1000, 'd'), String(3L, "a\0b")};
  return {String(), String(""), highString(), String("abc"), text(65533, 'a'), text(65534, 'b'),
          text(65535, 'c'), String(3L, "a\0b")};
}

TEST(PortableFile, RoundTripOfEveryForm) {
  zftest::TempDir dir;
  std::string path = dir.file("forms.bin");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  EXPECT_TRUE(stShort(f, -2));
  EXPECT_TRUE(stUnShort(f, 65535));
  EXPECT_TRUE(stInt(f, -123456789));
  EXPECT_TRUE(stChar(f, -5));
  EXPECT_TRUE(stByte(f, 7));
  EXPECT_TRUE(stUnByte(f, 200));
  EXPECT_TRUE(stBool(f, true));
  EXPECT_TRUE(stBool(f, false));
  for (String const& s : stringCases()) {
    EXPECT_TRUE(stString(f, s));
    EXPECT_TRUE(stInt(f, 0x5A5A5A5A));  // framing check after each string
  }
  std::fclose(f);

  long expectSize = 2 + 2 + 4 + 1 + 1 + 1 + 1 + 1;
  for (String const& s : stringCases()) expectSize += stStringLength(s) + 4;
  EXPECT_EQ(expectSize, static_cast<long>(zftest::readFile(path).size()));
  // The forms of null, highest and short texts are the plain length word.
  EXPECT_EQ(2, stStringLength(String()));
  EXPECT_EQ(2, stStringLength(highString()));
  EXPECT_EQ(5, stStringLength(String("abc")));
  EXPECT_EQ(2 + 65533, stStringLength(text(65533, 'a')));
  EXPECT_EQ(3 + 65535, stStringLength(text(65535, 'a')));

  f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(-2, ldShort(f));
  EXPECT_EQ(65535, ldUnShort(f));
  EXPECT_EQ(-123456789, ldInt(f));
  EXPECT_EQ(-5, ldChar(f));
  EXPECT_EQ(7, ldByte(f));
  EXPECT_EQ(200, ldUnByte(f));
  EXPECT_TRUE(ldBool(f));
  EXPECT_FALSE(ldBool(f));
  for (String const& s : stringCases()) {
    String r = ldString(f);
    EXPECT_EQ(s.length(), r.length());
    EXPECT_EQ(s.isHighest(), r.isHighest());
    EXPECT_EQ(0, cmp(s, r));
    if (!s.isHighest() && s.length() > 0) { EXPECT_EQ(0, std::memcmp(toCharPtr(s), toCharPtr(r), s.length())); }
    EXPECT_EQ(0x5A5A5A5A, ldInt(f));
  }
  EXPECT_FALSE(ldFailed(f));
  std::fclose(f);
}

TEST(PortableFile, ExactStringBytes) {
  zftest::TempDir dir;
  std::string path = dir.file("s.bin");
  FILE* f = std::fopen(path.c_str(), "wb");
  stString(f, String());
  stString(f, String(""));
  stString(f, highString());
  stString(f, String("hi"));
  std::fclose(f);
  EXPECT_EQ(std::string("\0\0\0\0\xFF\xFF\0\x02hi", 10), zftest::readFile(path));
}

TEST(PortableFile, TruncatedAndImpossibleInputIsReported) {
  zftest::TempDir dir;
  struct Case {
    std::string bytes;
    int what;  // 0 ldInt, 1 ldString, 2 ldShort
  } cases[] = {
      {std::string("\x01\x02", 2), 0},
      {std::string("\0\x0a" "abc", 5), 1},       // 10 characters announced, 3 there
      {std::string("\xFF", 1), 1},               // half a length word
      {std::string("\xFF\xFE\x02xyz", 6), 1},    // escape byte other than 0 or 1
      {std::string("\xFF\xFE", 2), 1},           // escape byte missing
      {std::string(), 2},
  };
  for (auto const& c : cases) {
    std::string path = dir.write("t.bin", c.bytes);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    if (c.what == 0) { EXPECT_EQ(0, ldInt(f)); }
    if (c.what == 1) { EXPECT_TRUE(ldString(f).isNull()); }
    if (c.what == 2) { EXPECT_EQ(0, ldShort(f)); }
    EXPECT_TRUE(ldFailed(f)) << "case of " << c.bytes.size() << " bytes";
    std::fclose(f);
  }
}

// Writes every stream form to `os`.
void storeAll(OutputStream& os, bool withLong) {
  store(os, static_cast<int16_t>(-300));
  store(os, static_cast<uint16_t>(65000));
  store(os, static_cast<int32_t>(-7));
  store(os, static_cast<uint32_t>(0x80000001u));
  double d = 3.25e300;
  store(os, d);
  store(os, true);
  store(os, 'x');
  store(os, Num("-123.456"));
  store(os, Num());
  for (String const& s : stringCases(withLong)) store(os, s);
}

void loadAll(InputStream& is, bool withLong) {
  int16_t s16;
  uint16_t u16;
  int32_t s32;
  uint32_t u32;
  double d;
  bool b;
  char c;
  load(is, s16);
  load(is, u16);
  load(is, s32);
  load(is, u32);
  load(is, d);
  load(is, b);
  load(is, c);
  EXPECT_EQ(-300, s16);
  EXPECT_EQ(65000, u16);
  EXPECT_EQ(-7, s32);
  EXPECT_EQ(0x80000001u, u32);
  EXPECT_EQ(3.25e300, d);
  EXPECT_TRUE(b);
  EXPECT_EQ('x', c);
  Num n(1), null(1);
  load(is, n);
  load(is, null);
  EXPECT_TRUE(n == Num("-123.456"));
  EXPECT_TRUE(null.isNull());
  for (String const& s : stringCases(withLong)) {
    String r;
    load(is, r);
    EXPECT_EQ(0, cmp(s, r));
    EXPECT_EQ(s.length(), r.length());
  }
  EXPECT_TRUE(is.ok());
  int32_t more = 5;
  load(is, more);  // a clean end: end of file, no error, value 0
  EXPECT_EQ(0, more);
  EXPECT_TRUE(is.eof());
  EXPECT_FALSE(is.withError());
}

TEST(PortableStream, RoundTripThroughDescriptorsAndStrings) {
  zftest::TempDir dir;
  std::string path = dir.file("stream.bin");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  ASSERT_GE(fd, 0);
  {
    OutputFdFile os(fd, 100);  // small buffer: many flushes
    storeAll(os, true);
    os.flush();
    EXPECT_TRUE(os.ok());
  }
  ::close(fd);
  fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  {
    InputFdFile is(fd, 64);
    loadAll(is, true);
  }
  ::close(fd);

  // A String holds at most 65,535 bytes: the text path carries the shorter set.
  fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  {
    OutputFdFile os(fd, 100);
    storeAll(os, false);
  }  // the destructor flushes
  ::close(fd);
  std::string bytes = zftest::readFile(path);
  String held(static_cast<long>(bytes.size()), bytes.data());
  InputString is(held);
  loadAll(is, false);
}

TEST(PortableStream, CutShortValueSetsError) {
  std::string cases[] = {std::string("\x01\x02\x03", 3), std::string("\0\x05" "ab", 4),
                         std::string("\xFF\xFE", 2), std::string("\xFF\xFE\x07", 3)};
  for (std::string const& c : cases) {
    String held(static_cast<long>(c.size()), c.data());
    InputString is(held);
    if (c.size() == 3 && c[0] == 1) {
      int32_t v = 9;
      load(is, v);
      EXPECT_EQ(0, v);
    } else {
      String s("old");
      load(is, s);
      EXPECT_TRUE(s.isNull());
    }
    EXPECT_TRUE(is.withError());
  }
}

TEST(PortableStream, OneByteOfAnIntegerSetsError) {
  // One byte of a 2- or 4-byte value is a value cut short, not a clean end.
  int64_t (*const loads[])(InputStream&) = {
      [](InputStream& is) { int16_t v = 9; load(is, v); return int64_t(v); },
      [](InputStream& is) { uint16_t v = 9; load(is, v); return int64_t(v); },
      [](InputStream& is) { int32_t v = 9; load(is, v); return int64_t(v); },
      [](InputStream& is) { uint32_t v = 9; load(is, v); return int64_t(v); },
  };
  for (size_t i = 0; i < std::size(loads); ++i) {
    InputString is(String(1L, "\x7F"));
    EXPECT_EQ(0, loads[i](is)) << "load " << i;
    EXPECT_TRUE(is.withError()) << "load " << i;
  }
}

TEST(PortableBool, AnyNonZeroByteIsTrue) {
  std::string const bytes("\x00\x01\x02\xFF\x80", 5);
  bool const expect[] = {false, true, true, true, true};
  zftest::TempDir dir;
  FILE* f = std::fopen(dir.write("bool.bin", bytes).c_str(), "rb");
  ASSERT_NE(nullptr, f);
  InputString is(String(static_cast<long>(bytes.size()), bytes.data()));
  for (size_t i = 0; i < bytes.size(); ++i) {
    EXPECT_EQ(expect[i], ldBool(f)) << "byte " << int(static_cast<unsigned char>(bytes[i]));
    bool b = !expect[i];
    load(is, b);
    EXPECT_EQ(expect[i], b) << "byte " << int(static_cast<unsigned char>(bytes[i]));
  }
  EXPECT_FALSE(ldFailed(f));
  EXPECT_TRUE(is.ok());
  std::fclose(f);
}

}  // namespace

namespace {

TEST(PortableNum, FileAndStreamRoundTripAndBadDigits) {
  zftest::TempDir dir;
  std::string path = dir.file("num.bin");
  Num values[] = {Num(), Num(0), Num("-123.456"), Num("99999999999999999999.12345678"), Num(2147483647)};
  FILE* f = std::fopen(path.c_str(), "wb");
  for (Num const& n : values) EXPECT_TRUE(stNum(f, n));
  std::fclose(f);
  EXPECT_EQ(16u * 5, zftest::readFile(path).size());
  f = std::fopen(path.c_str(), "rb");
  for (Num const& n : values) {
    Num r = ldNum(f);
    EXPECT_EQ(n.isNull(), r.isNull());
    if (!n.isNull()) { EXPECT_TRUE(r == n); }
  }
  EXPECT_FALSE(ldFailed(f));
  std::fclose(f);

  // A digit word of 10000 cannot be held by a Num; a cut-short form neither.
  std::string bad(16, '\0');
  bad[0] = 0x27;
  bad[1] = 0x10;
  bad[14] = 1;
  bad[15] = 1;
  // Forms no store writes: a leading zero digit, a digit past the count,
  // digits under zero.
  auto form = [](std::vector<int> words, int expByte, int count) {
    std::string b(16, '\0');
    for (size_t i = 0; i < words.size(); ++i) {
      b[2 * i] = char(words[i] >> 8);
      b[2 * i + 1] = char(words[i] & 0xFF);
    }
    b[14] = char(expByte);
    b[15] = char(count);
    return b;
  };
  for (std::string const& bytes : {bad, bad.substr(0, 9), form({0, 1}, 51, 2), form({1, 0, 5}, 51, 1),
                                    form({1, 0}, 51, 2), form({7}, 0, 0), form({0, 0, 0, 0, 0, 0, 1}, 100, 0)}) {
    f = std::fopen(dir.write("bad.bin", bytes).c_str(), "rb");
    EXPECT_TRUE(ldNum(f).isNull());
    EXPECT_TRUE(ldFailed(f));
    std::fclose(f);
    String held(static_cast<long>(bytes.size()), bytes.data());
    InputString is(held);
    Num r(5);
    load(is, r);
    EXPECT_TRUE(r.isNull());
    EXPECT_TRUE(is.withError());
  }

}

}  // namespace
