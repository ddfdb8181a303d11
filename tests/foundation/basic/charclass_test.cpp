// Tests of the character class table, case mappings, the national-letter
// translation (built-in and from a translation file), saturating 32-bit
// arithmetic, integer-to-text conversion, search and check digits.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include <zfound/CharClass.h>
#include <zfound/Date.h>

namespace {

TEST(CharClass, Table) {
  struct Case { int c; unsigned bits; } cases[] = {
      {-1, 0},
      {'A', ZFX_UPPER | ZFX_XDIGIT},
      {'G', ZFX_UPPER},
      {'f', ZFX_LOWER | ZFX_XDIGIT},
      {'z', ZFX_LOWER},
      {'7', ZFX_DIGIT | ZFX_XDIGIT},
      {' ', ZFX_SPACE | ZFX_BLANK},
      {'\t', ZFX_SPACE | ZFX_CNTRL},
      {'\r', ZFX_SPACE | ZFX_CNTRL},
      {0, ZFX_CNTRL},
      {0x7F, ZFX_CNTRL},
      {0x85, ZFX_CNTRL},
      {'!', ZFX_PUNCT},
      {'~', ZFX_PUNCT},
      {0xA0, ZFX_PUNCT},
      {0xBF, ZFX_PUNCT},
      {0xC0, ZFX_UPPER},
      {0xDE, ZFX_UPPER},
      {0xD7, ZFX_PUNCT},
      {0xDF, ZFX_LOWER},
      {0xF7, ZFX_PUNCT},
      {0xFF, ZFX_LOWER},
  };
  for (auto const& c : cases) EXPECT_EQ(charClass(c.c), c.bits) << c.c;
  EXPECT_TRUE(isAlphaChar('\xe9'));
  EXPECT_TRUE(isSpaceChar('\n'));
  EXPECT_FALSE(isSpaceChar('\xa0'));
  EXPECT_TRUE(isAlnumChar('5'));
}

TEST(CharClass, CaseMappingKeepsLettersWithoutPartners) {
  struct Case { int c, upper, lower; } cases[] = {
      {'a', 'A', 'a'},   {'Z', 'Z', 'z'},   {'5', '5', '5'},   {0xE9, 0xC9, 0xE9},
      {0xC9, 0xC9, 0xE9}, {0xDE, 0xDE, 0xFE}, {0xFE, 0xDE, 0xFE},
      {0xDF, 0xDF, 0xDF}, {0xFF, 0xFF, 0xFF}, {0xD7, 0xD7, 0xD7}, {0xF7, 0xF7, 0xF7},
      {-1, -1, -1},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(toUpperCase(c.c), c.upper) << c.c;
    EXPECT_EQ(toLowerCase(c.c), c.lower) << c.c;
  }
  EXPECT_EQ(toUpperCase('\xe9'), '\xc9');
  // No character maps to another class through either mapping.
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(isAlphaChar(toUpperCase(c)), isAlphaChar(c)) << c;
    EXPECT_EQ(isAlphaChar(toLowerCase(c)), isAlphaChar(c)) << c;
  }
  EXPECT_EQ(memCmpI("ab\xe9", "AB\xc9", 3), 0);
  EXPECT_LT(memCmpI("abc", "ABD", 3), 0);
  EXPECT_EQ(memCmpI("abc", "xyz", 0), 0);
}

TEST(CharClass, NationalToAscii) {
  zftest::TempDir dir;
  zftest::ScopedEnv z("ZEPHRA", dir.path());
  zftest::ScopedEnv l("LANGUAGE", "english");
  resetAsciiTables();
  EXPECT_EQ(zeph_toascii(0xE9), 'e');
  EXPECT_EQ(zeph_toascii(0xC7), 'C');
  EXPECT_EQ(zeph_toascii(0xD1), 'N');
  EXPECT_EQ(zeph_toascii(0xDF), ' ');
  EXPECT_EQ(zeph_toascii(0xBF), 0xBF);
  EXPECT_EQ(zeph_toascii('q'), 'q');
  EXPECT_EQ(fromascii('e'), 'e');
  EXPECT_EQ(fromascii(0x90), 0x90);
  char text[] = "caf\xe9 \xc0";
  StrToAscii(text);
  EXPECT_STREQ(text, "cafe A");

  // A translation file replaces the table; its high bytes translate back.
  std::string tab(64, '?');
  tab[0x29] = char(0x82);  // 0xE9 -> 0x82
  dir.write("data/english/codetab.bin", tab);
  resetAsciiTables();
  EXPECT_EQ(zeph_toascii(0xE9), 0x82);
  EXPECT_EQ(zeph_toascii(0xC0), '?');
  EXPECT_EQ(fromascii(0x82), 0xE9);
  EXPECT_EQ(fromascii(0x83), 0x83);
  char back[] = "\x82x";
  StrFromAscii(back);
  EXPECT_STREQ(back, "\xe9x");

  // A short file is not a table: the built-in one stays.
  dir.write("data/english/codetab.bin", "abc");
  resetAsciiTables();
  EXPECT_EQ(zeph_toascii(0xE9), 'e');
  resetAsciiTables();
}

TEST(CharClass, SaturatingArithmetic) {
  struct Case { int32_t a, b, sum, prod, quot; } cases[] = {
      {2147483000, 1000, INT32_MAX, INT32_MAX, 2147483},
      {-5, INT32_MAX, INT32_MAX, INT32_MIN, 0},
      {7, -7, 0, -49, -1},
      {100000, 100000, 200000, INT32_MAX, 1},
      {-100000, 100000, 0, INT32_MIN, -1},
      {7, 0, 7, 0, INT32_MAX},
      {-7, 0, -7, 0, INT32_MIN},
      {INT32_MIN, -1, INT32_MIN, INT32_MAX, INT32_MAX},
      {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX, 1},
      {-2147483000, -1000, INT32_MIN, INT32_MAX, 2147483},
      {INT32_MIN, 5, INT32_MIN, INT32_MIN, -429496729},
      {20, 22, 42, 440, 0},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(add(c.a, c.b), c.sum) << c.a << " + " << c.b;
    EXPECT_EQ(mult(c.a, c.b), c.prod) << c.a << " * " << c.b;
    EXPECT_EQ(intDiv(c.a, c.b), c.quot) << c.a << " / " << c.b;
  }
  int32_t x = 1, y = 2;
  swap(x, y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 1);
  EXPECT_EQ(toInt("  -42x"), -42);
  EXPECT_EQ(toInt(static_cast<char const*>(nullptr)), 0);
}

TEST(CharClass, IntegerText) {
  struct Case { long v, width, base; char const* out; } cases[] = {
      {5, -3, -10, "005"},
      {255, 0, 16, "ff"},
      {-2147483648L, 0, -10, ""},
      {-2147483648L, 0, 10, ""},
      {-42, 6, -10, "   -42"},
      {-42, -6, -10, "-00042"},
      {-1, 0, 16, "ffffffff"},   // unsigned through 32 bits
      {-1, 0, 10, "4294967295"},
      {0x1234567890L, 0, 16, "34567890"},
      {5, 0, 2, "101"},
      {0, 0, -10, "0"},
      {7, 0, 99, "7"},
      {1, 400, -10, nullptr},
  };
  for (auto const& c : cases) {
    char const* t = toCharPtr(c.v, c.width, c.base);
    if (c.out) EXPECT_STREQ(t, c.out) << c.v;
    else EXPECT_EQ(std::string(t).size(), 255u);
  }
}

TEST(CharClass, Search) {
  char const* t = "abcabc";
  EXPECT_EQ(strStr(t, "ca"), t + 2);
  EXPECT_EQ(strStr(t, "x"), nullptr);
  EXPECT_EQ(strStr("", "a"), nullptr);
  EXPECT_EQ(strStrBackw(t, "bc", t + 6), t + 4);
  EXPECT_EQ(strStrBackw(t, "bc", t + 4), t + 1);
  EXPECT_EQ(strStrBackw(t + 2, "bc", t + 4), nullptr);
  EXPECT_EQ(strStrBackw(t, "bc", t), nullptr);
}

TEST(CharClass, CheckDigit) {
  {
    zftest::ScopedEnv e("CHECKDIGIT", "", true);
    TEST_resetCheckDigit();
    EXPECT_EQ(CheckDigit(0), 0);
    EXPECT_EQ(CheckDigit(-5), -1);
    // 7 * 3 = 21 -> 1, 4 * 1 = 4: sum 5 -> 5.
    EXPECT_EQ(CheckDigit(47), 5);
    SetCheckFactor(2);
    EXPECT_EQ(CheckDigit(7), 6);  // 14 -> 4 -> 6
  }
  {
    zftest::ScopedEnv e("CHECKDIGIT", "21:11:1");
    TEST_resetCheckDigit();
    EXPECT_EQ(CheckDigit(7), 4);   // 7*1 = 7 -> 11 - 7
    EXPECT_EQ(CheckDigit(97), 8);  // 7*1 + 9*2 = 25 -> 11 - 3
    EXPECT_EQ(CheckDigit(1), -1);  // 11 - 1 = 10: no single digit
  }
  {
    zftest::ScopedEnv e("CHECKDIGIT", "9:10:2");
    TEST_resetCheckDigit();
    EXPECT_EQ(CheckDigit(8), 1);  // 72 -> 7 + 2 = 9 -> 10 - 9
  }
  TEST_resetCheckDigit();
}

}  // namespace
