// Num stored forms: golden bytes of the natural and packed forms, byte order
// equal to value order for random values, round trips, and refusal of
// malformed stored bytes. Also the buffer form of String.
#include <zfound/Num.h>
#include <zfound/Portable.h>
#include <zfound/String.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes natural(Num const& n) {
  char buf[16];
  char* p = buf;
  n.store(p);
  EXPECT_EQ(p, buf + 16);
  return Bytes(buf, buf + 16);
}

Bytes packed(Num const& n, int32_t len, int32_t dec, bool* fits = nullptr) {
  char buf[128];
  std::memset(buf, 0x5A, sizeof buf);
  char* end = n._store(buf, len, dec);
  if (fits) *fits = end != nullptr;
  if (!end) return Bytes(buf, buf + 4);  // must be untouched
  return Bytes(buf, end);
}

std::string hex(Bytes const& b) {
  std::string s;
  char t[3];
  for (unsigned char c : b) {
    std::snprintf(t, sizeof t, "%02X", c);
    s += t;
  }
  return s;
}

std::string text(Num const& n) { return NumToStr(&n, 255, Num::kMaxPrecision); }

Num randomNum(std::mt19937& rng, int maxIntDigits, int maxDecDigits) {
  switch (rng() % 16) {
    case 0: return Num();
    case 1: return Num(INT32_MAX);
    case 2: return Num(0);
    default: break;
  }
  std::string s = rng() % 2 ? "-" : "";
  int ni = int(rng() % (maxIntDigits + 1)), nd = int(rng() % (maxDecDigits + 1));
  for (int i = 0; i < ni; ++i) s.push_back(char('0' + rng() % 10));
  s += ".";
  for (int i = 0; i < nd; ++i) s.push_back(char('0' + rng() % 10));
  return Num(s.c_str());
}

int sgn(int v) { return (v > 0) - (v < 0); }

TEST(NumNaturalForm, GoldenBytes) {
  struct Case {
    Num n;
    char const* bytes;
  } cases[] = {
      {Num(), "0000FFFFFFFFFFFFFFFFFFFFFFFFFFFF"},
      {Num(INT32_MAX), "00C80000000000000000000000000000"},
      {Num(0), "00640000000000000000000000000000"},
      {Num(1), "00970001000000000000000000000000"},
      {Num(-1), "0031FFFEFFFFFFFFFFFFFFFFFFFFFFFF"},
      {Num("0.5"), "00961388000000000000000000000000"},
      {Num("-0.5"), "0032EC77FFFFFFFFFFFFFFFFFFFFFFFF"},
      {Num("1234.5678"), "009704D2162E00000000000000000000"},
      {Num("9999999999999999999999999999"), "009D270F270F270F270F270F270F270F"},
      {Num("-1e-196"), "0062FFFEFFFFFFFFFFFFFFFFFFFFFFFF"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(hex(natural(c.n)), c.bytes) << text(c.n);
    Bytes b = natural(c.n);
    Num back(5);
    char const* p = reinterpret_cast<char const*>(b.data());
    EXPECT_TRUE(back.load(p));
    EXPECT_EQ(p, reinterpret_cast<char const*>(b.data()) + 16);
    EXPECT_EQ(NumCmp(&back, &c.n), 0) << text(c.n);
    EXPECT_EQ(back.count(), c.n.count());
  }
  char buf[16];
  Num x("-42.5");
  stnum(&x, buf);
  Num y;
  EXPECT_EQ(ldnum(&y, buf), 0);
  EXPECT_EQ(text(y), "-42.5");
}

TEST(NumNaturalForm, RefusesMalformedBytes) {
  auto load = [](std::string const& hexText, Num& n) {
    Bytes b;
    for (size_t i = 0; i < hexText.size(); i += 2) b.push_back((unsigned char)std::stoi(hexText.substr(i, 2), nullptr, 16));
    char const* p = reinterpret_cast<char const*>(b.data());
    return n.load(p);
  };
  char const* bad[] = {
      "01970001000000000000000000000000",  // byte 0 not zero
      "00C90000000000000000000000000000",  // exponent past highest
      "00972710000000000000000000000000",  // digit 10000
      "0031D8EFFFFFFFFFFFFFFFFFFFFFFFFF",  // negative digit 10000 (complemented)
      "00970000000000000000000000000000",  // finite exponent without digits
      // Forms no store writes, which would give a value a second byte form:
      "00640123000000000000000000000000",  // digits under zero
      "0000FFFFFFFFFFFFFFFFFFFFFFFF0000",  // digits under null
      "00000000000000000000000000000000",  // null with uncomplemented words
      "00C80000000000000000000000000001",  // digits under highest
      "00970000000100000000000000000000",  // leading zero digit
      "0031FFFFFFFEFFFFFFFFFFFFFFFFFFFF",  // negative, leading zero digit
  };
  for (char const* h : bad) {
    Num n(7);
    EXPECT_FALSE(load(h, n)) << h;
    EXPECT_TRUE(n.isNull()) << h;
  }
  Num n;
  char zeros[16] = {};
  zeros[1] = 0x97;
  EXPECT_EQ(ldnum(&n, zeros), -1);
  // The forms a store writes load.
  EXPECT_TRUE(load("00640000000000000000000000000000", n));
  EXPECT_TRUE(n.isZero());
  EXPECT_TRUE(load("0000FFFFFFFFFFFFFFFFFFFFFFFFFFFF", n));
  EXPECT_TRUE(n.isNull());
  EXPECT_TRUE(load("00C80000000000000000000000000000", n));
  EXPECT_TRUE(n.isMax());
}

TEST(NumNaturalForm, ByteOrderIsValueOrder) {
  std::mt19937 rng(1136);
  std::vector<Num> v;
  for (int i = 0; i < 400; ++i) {
    Num n = randomNum(rng, 30, 30);
    if (rng() % 3 == 0) n.shift(int32_t(rng() % 300) - 150);
    v.push_back(n);
  }
  for (size_t i = 0; i < v.size(); ++i)
    for (size_t j = i + 1; j < v.size(); j += 7) {
      Bytes a = natural(v[i]), b = natural(v[j]);
      ASSERT_EQ(sgn(std::memcmp(a.data(), b.data(), 16)), sgn(NumCmp(&v[i], &v[j])))
          << text(v[i]) << " vs " << text(v[j]);
    }
}

TEST(NumPackedForm, GoldenBytes) {
  struct Case {
    char const* value;  // nullptr: null, "hi": highest
    int32_t len, dec;
    char const* bytes;  // nullptr: does not fit
    char const* reloads;
  } cases[] = {
      {"123.45", 5, 2, "807B1194", "123.45"},
      {"-1", 5, 2, "7FFEFFFF", "-1"},
      {nullptr, 5, 2, "00000000", ""},
      {"0", 5, 2, "80000000", "0"},
      {"hi", 5, 2, "FFFF0000", "(high value)"},
      {"10000.5", 5, 2, nullptr, nullptr},
      {"1.23456", 5, 2, "80010929", "1.2345"},
      {"0.0001", 10, 4, "800000000001", "0.0001"},
      {"-0.0001", 10, 4, "7FFFFFFFFFFE", "-0.0001"},
      {"0.00001", 10, 4, "800000000000", "0"},
      {"-0.00001", 10, 4, "800000000000", "0"},
      {"12345678", 8, 0, "84D2162E", "12345678"},
      {"0.25", 4, 4, "89C4", "0.25"},
      {"1", 4, 4, nullptr, nullptr},
      {"99999999", 8, 0, "A70F270F", "99999999"},
      // Seven non-zero digit words: every digit a Num holds, in a field of
      // exactly seven words and in one a word wider.
      {"-1111222233334444.555566667777", 28, 12, "7BA8F751F2FAEEA3EA4CE5F5E19E",
       "-1111222233334444.555566667777"},
      {"1111222233334444.555566667777", 32, 12, "8000045708AE0D05115C15B31A0A1E61",
       "1111222233334444.555566667777"},
  };
  for (auto const& c : cases) {
    Num n = !c.value ? Num() : std::strcmp(c.value, "hi") == 0 ? Num(INT32_MAX) : Num(c.value);
    bool fits = false;
    Bytes b = packed(n, c.len, c.dec, &fits);
    if (!c.bytes) {
      EXPECT_FALSE(fits) << c.value;
      EXPECT_EQ(hex(b), "5A5A5A5A") << "nothing is written";
      continue;
    }
    ASSERT_TRUE(fits) << c.value;
    EXPECT_EQ(hex(b), c.bytes) << (c.value ? c.value : "null");
    char const* p = reinterpret_cast<char const*>(b.data());
    Num back(p, c.len, c.dec);
    EXPECT_EQ(p, reinterpret_cast<char const*>(b.data() + b.size()));
    EXPECT_EQ(text(back), c.reloads);
  }
}

TEST(NumPackedForm, ByteOrderIsValueOrderAndReloadCutsDecimals) {
  std::mt19937 rng(5136);
  int32_t const len = 24, dec = 8;
  std::vector<std::pair<Bytes, Num>> v;
  for (int i = 0; i < 300; ++i) {
    Num n = randomNum(rng, 16, 12);
    bool fits = false;
    Bytes b = packed(n, len, dec, &fits);
    ASSERT_TRUE(fits) << text(n);
    char const* p = reinterpret_cast<char const*>(b.data());
    Num back;
    ASSERT_TRUE(back.load(p, len, dec));
    // The reloaded value is n with the decimals past the field's words cut.
    Num cut = n;
    NumTrunc(&cut, 8, false);
    ASSERT_EQ(NumCmp(&back, &cut), 0) << text(n) << " reloads as " << text(back);
    v.emplace_back(b, back);
  }
  for (size_t i = 0; i < v.size(); ++i)
    for (size_t j = i + 1; j < v.size(); ++j)
      ASSERT_EQ(sgn(std::memcmp(v[i].first.data(), v[j].first.data(), v[i].first.size())),
                sgn(NumCmp(&v[i].second, &v[j].second)))
          << text(v[i].second) << " vs " << text(v[j].second);
}

TEST(NumPackedForm, RefusesMalformedBytesAndDeclarations) {
  struct Case {
    Bytes bytes;
    int32_t len, dec;
  } cases[] = {
      {{0x00, 0x00, 0x00, 0x01}, 5, 2},                        // null with a non-zero rest
      {{0xFF, 0xFF, 0x10, 0x00}, 5, 2},                        // highest with a non-zero rest
      {{0xA7, 0x10, 0x00, 0x00}, 5, 2},                        // first digit 10000
      {{0x80, 0x01, 0x27, 0x10}, 5, 2},                        // decimal digit 10000
      {{0x58, 0xEF, 0xFF, 0xFF}, 5, 2},                        // negative first digit 10000
      {{0x80, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}, 40, 0},  // ten digits, more than a Num holds
      {{0x80, 0x01, 0, 0}, 0, 0},                              // no digits declared
      {{0x80, 0x01, 0, 0}, 2, 3},                              // more decimals than digits
      {{0x80, 0x01, 0, 0}, 300, 0},                            // declaration too long
  };
  for (auto const& c : cases) {
    Num n(3);
    EXPECT_EQ(n._load(reinterpret_cast<char const*>(c.bytes.data()), c.len, c.dec), nullptr) << hex(c.bytes);
    EXPECT_TRUE(n.isNull());
  }
  char buf[8];
  EXPECT_EQ(Num(1)._store(buf, 0, 0), nullptr);
  char* p = buf;
  EXPECT_FALSE(Num(1).store(p, 3, 4));
  EXPECT_EQ(p, buf);
}

TEST(NumPackedForm, LengthsAndSameRepresentation) {
  struct Case {
    int32_t len, dec, words, decWords, con;
  } cases[] = {{5, 2, 2, 1, 16}, {24, 8, 6, 2, 24}, {4, 4, 1, 1, 16}, {1, 0, 1, 0, 16},
               {28, 0, 7, 0, 28}, {9, 0, 3, 0, 20}, {0, 0, 0, 0, 0},  {3, 4, 0, 0, 0}};
  for (auto const& c : cases) {
    int32_t w = -1, d = -1;
    Num::intLength(c.len, c.dec, w, d);
    EXPECT_EQ(w, c.words) << c.len << "," << c.dec;
    EXPECT_EQ(d, c.decWords) << c.len << "," << c.dec;
    EXPECT_EQ(Num::conLength(c.len, c.dec), c.con) << c.len << "," << c.dec;
  }
  EXPECT_TRUE(Num::sameRep(5, 2, 6, 3));
  EXPECT_TRUE(Num::sameRep(6, 2, 8, 4));
  EXPECT_FALSE(Num::sameRep(5, 2, 9, 2));
  EXPECT_FALSE(Num::sameRep(8, 4, 8, 5));
}

TEST(StringBufferForm, GoldenBytesAndRoundTrips) {
  struct Case {
    String s;
    char const* bytes;
  } cases[] = {
      {String(), "00000000"},
      {String(reinterpret_cast<char const*>(1)), "7FFFFFFF"},
      {String("abc"), "00000003616263"},
  };
  for (auto const& c : cases) {
    char buf[16];
    char* p = buf;
    c.s.store(p);
    Bytes b(buf, p);
    EXPECT_EQ(hex(b), c.bytes);
    char const* q = buf;
    String back("x");
    back.load(q);
    EXPECT_EQ(q, p);
    EXPECT_EQ(cmp(back, c.s), 0);
  }
  String longest(std::string(65535, 'z').c_str());
  ASSERT_EQ(longest.length(), 65535);
  std::vector<char> buf(65535 + 4);
  char* p = buf.data();
  longest.store(p);
  char const* q = buf.data();
  String back;
  back.load(q);
  EXPECT_EQ(back.length(), 65535);
  EXPECT_EQ(cmp(back, longest), 0);
  // A length no store writes reads as null and consumes only the length.
  unsigned char bad[8] = {0x00, 0x01, 0x11, 0x70, 'a', 'b', 'c', 'd'};
  q = reinterpret_cast<char const*>(bad);
  back = "x";
  back.load(q);
  EXPECT_TRUE(back.isNull());
  EXPECT_EQ(q, reinterpret_cast<char const*>(bad) + 4);
  // So does a negative length: it neither moves the position back nor takes
  // the characters behind it.
  for (int32_t negative : {-1, -4, INT32_MIN}) {
    unsigned char neg[8] = {0, 0, 0, 0, 'a', 'b', 'c', 'd'};
    stlong(negative, neg);
    q = reinterpret_cast<char const*>(neg);
    back = "x";
    back.load(q);
    EXPECT_TRUE(back.isNull()) << negative;
    EXPECT_EQ(q, reinterpret_cast<char const*>(neg) + 4) << negative;
  }
}

}  // namespace
