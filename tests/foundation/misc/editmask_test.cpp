// Edit masks: the source language, laying values into edit strings in the
// four modes, position checks, check digits, String's compileMask/format,
// and the bounds of every output buffer.
#include <gtest/gtest.h>

#include <zfound/CharClass.h>
#include <zfound/EditMask.h>
#include <zfound/Format.h>
#include <zfound/String.h>

#include "ChildRun.h"
#include "TestSupport.h"

#include <string>

namespace {

std::string compiled(char const* source, std::string* checks = nullptr, int* rc = nullptr) {
  char edit[kMaskEditSize];
  char chk[kMaskCheckSize];
  int r = compileMask(source, chk, edit);
  if (rc) *rc = r;
  if (checks) *checks = chk;
  return edit;
}

std::string laid(char const* edit, char const* value) {
  char out[kMaskEditSize];
  size_t n = processMask(out, sizeof out, edit, value);
  EXPECT_EQ(n, std::string(out).size());
  return out;
}

std::string formatted(char const* value, String const& mask) {
  return toCharPtr(String(value).format(mask));
}

TEST(EditMask, CompilesTheSourceLanguage) {
  struct Case {
    char const* source;
    char const* edit;
    std::string checks;
    int size;
  } cases[] = {
      {"3n-4n", "l___-____", std::string(7, '\4'), 8},
      {"3N", "l___", std::string(3, char(4 | 64)), 3},
      {"2>a<x", "l___", std::string{char(2 | 16), char(2 | 16), char(1 | 32)}, 3},
      {"4#X", "l####", std::string(4, char(1 | 64)), 4},
      {"2h2H", "l____", std::string{8, 8, char(8 | 64), char(8 | 64)}, 4},
      {"2x\\_2_", "l__\\___", std::string(4, '\1'), 5},   // an escaped placeholder is a literal
      {"(3n)", "l(___)", std::string(3, '\4'), 5},
      {"3\\\\", "l\\\\\\\\\\\\", "", 3},                     // three literal backslashes
      {"3nc", "L___\1", std::string{4, 4, 4, char(128)}, 4},
      {"2nC", "L__\1", std::string{4, 4, char(128 | 64)}, 3},
      {"511x", nullptr, std::string(511, '\1'), 511},
  };
  for (auto const& c : cases) {
    std::string checks;
    int rc = -2;
    std::string edit = compiled(c.source, &checks, &rc);
    EXPECT_EQ(rc, 0) << c.source;
    if (c.edit) { EXPECT_EQ(edit, c.edit) << c.source; }
    EXPECT_EQ(checks, c.checks) << c.source;
    EXPECT_EQ(sizeOfMask(c.source), c.size) << c.source;
  }
}

TEST(EditMask, RefusesInvalidMasks) {
  for (char const* bad : {"512x", "511x1x", "300x300x", "3nc5n", "2c", "3", "#", "2n>", "a\\", "99999999999x"}) {
    int rc = 0;
    std::string checks = "?";
    std::string edit = compiled(bad, &checks, &rc);
    EXPECT_EQ(rc, -1) << bad;
    EXPECT_EQ(edit, "") << bad;
    EXPECT_EQ(checks, "") << bad;
    EXPECT_EQ(sizeOfMask(bad), -1) << bad;
  }
  EXPECT_EQ(sizeOfMask(""), 0);
  EXPECT_TRUE(String("512x").compileMask().isNull());
}

TEST(EditMask, LaysValuesInEveryMode) {
  struct Case {
    char const* edit;
    char const* value;
    char const* want;
  } cases[] = {
      {"l___-____", "1234567", "123-4567"},
      {"l___-____", "12", "12"},              // "l" stops when the value ends
      {"l(___)", "12", "(12"},
      {"L___-____", "12", "12 -    "},        // "L" goes on to the end
      {"___", "abcdef", "abc"},               // no mode letter: "l"
      {"l####", "pass", "####"},
      {"L####", "pw", "##  "},
      {"l__\1", "12\1", "12 "},               // a value character 1 shows as a blank
      {"l\\__", "ab", "_a"},                  // escaped "_" is a literal
      {"r_____", "42", "   42"},
      {"r___-____", "1234567", "123-4567"},
      {"r___-____", "42", "      42"},
      {"R___-____", "42", "   -  42"},        // "R" keeps literals without a value
      {"r___", "123456", "456"},
      {"r#__", "1234", "#34"},                // only "_" takes a value on the right
      {"r___", "", "   "},
  };
  for (auto const& c : cases) EXPECT_EQ(laid(c.edit, c.value), c.want) << c.edit << " / " << c.value;
}

TEST(EditMask, OutputNeverPassesItsBuffer) {
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(processMask(out, sizeof out, "l___-____", "1234567"), 3u);
  EXPECT_STREQ(out, "123");
  EXPECT_EQ(processMask(out, sizeof out, "r_______", "12345"), 3u);
  EXPECT_STREQ(out, "  1");
  EXPECT_EQ(processMask(out, 1, "l___", "1"), 0u);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(processMask(out, 0, "l___", "1"), 0u);

  // A value far longer than the mask, and the widest mask.
  std::string longValue(70000, '7');
  String wide("511x");
  String out511 = String(longValue.c_str()).format(wide);
  EXPECT_EQ(out511.length(), 511);
}

TEST(EditMask, ChecksOneCharacter) {
  struct Case {
    char c;
    int flags;
    char want;
  } cases[] = {
      {' ', MASK_DIGIT, ' '},
      {' ', MASK_DIGIT | MASK_REQUIRED, 0},
      {'\x85', MASK_ANY, '\x85'},
      {'\x85', MASK_ANY | MASK_REQUIRED, 0},
      {'5', MASK_DIGIT, '5'},
      {'a', MASK_DIGIT, 0},
      {'a', MASK_ALPHA, 'a'},
      {'\xe9', MASK_ALPHA, '\xe9'},                  // national letter
      {'\xe9', MASK_ALPHA | MASK_UPPER, '\xc9'},     // the system's own case mapping
      {'A', MASK_ANY | MASK_LOWER, 'a'},
      {'F', MASK_HEX, 'F'},
      {'g', MASK_HEX, 0},
      {'%', MASK_ANY, '%'},
      {'%', MASK_ALPHA | MASK_DIGIT, 0},
  };
  for (auto const& c : cases)
    EXPECT_EQ(TstChrMask(c.c, char(c.flags), ""), c.want) << int(c.c) << " " << c.flags;
}

TEST(EditMask, CheckDigitPosition) {
  zftest::ScopedEnv env("CHECKDIGIT", "", true);
  TEST_resetCheckDigit();
  int32_t digit = CheckDigit(123);
  ASSERT_GE(digit, 0);
  char good = char('0' + digit), bad = char('0' + (digit + 1) % 10);
  EXPECT_EQ(TstChrMask(good, char(MASK_CHECK), "123"), good);
  EXPECT_EQ(TstChrMask(bad, char(MASK_CHECK), "123"), 0);
  EXPECT_EQ(TstChrMask(good, char(MASK_CHECK), "1-2-3"), good);  // digits only count

  std::string value = std::string("123") + good;
  EXPECT_EQ(formatted(value.c_str(), "3nc"), value);
  value.back() = bad;
  EXPECT_EQ(formatted(value.c_str(), "3nc"), "123");
}

TEST(EditMask, StringFormatAppliesTheChecks) {
  struct Case {
    char const* value;
    char const* mask;
    char const* want;
  } cases[] = {
      {"1234567", "3n-4n", "123-4567"},
      {"12", "3n-4n", "12      "},          // blank output of the mask's width
      {"1 3", "3n", "1 3"},                 // optional position keeps a blank
      {"1 3", "3N", "1"},                   // required position refuses it
      {"12a4", "4n", "12"},                 // cut at the first refused character
      {"abc", "3>a", "ABC"},
      {"secret", "8#x", "######  "},        // hidden positions
      {"ab", "2x\\_2x", "ab   "},
      {"abcd", "2x\\_2x", "ab_cd"},
  };
  for (auto const& c : cases) EXPECT_EQ(formatted(c.value, c.mask), c.want) << c.value << " / " << c.mask;

  EXPECT_TRUE(String("x").format(String("3").compileMask()).isNull());
  EXPECT_TRUE(String("x").format(String()).isNull());
}

TEST(EditMask, CompiledMasksInStrings) {
  String m("3n-4n");
  m.compileMask();
  EXPECT_EQ(std::string(toCharPtr(m), m.length()), std::string("\1l___-____\1") + std::string(7, '\4'));
  EXPECT_EQ(formatted("1234567", m), "123-4567");
  String again = m;
  again.compileMask();  // already compiled: unchanged
  EXPECT_TRUE(again == m);

  // A check digit placeholder is the character 1 too; the split stays sound.
  String c("3nc");
  c.compileMask();
  size_t editLen = 0;
  char const* checks = nullptr;
  ASSERT_TRUE(splitCompiledMask(toCharPtr(c) + 1, size_t(c.length()) - 1, &editLen, &checks));
  EXPECT_EQ(std::string(toCharPtr(c) + 1, editLen), "L___\1");
  EXPECT_EQ(std::string(checks), std::string({4, 4, 4, char(128)}));

  // A damaged compiled mask (no separator) fails its check and gives null.
  EXPECT_TRUE(String("1234").format(String("\1l___")).isNull());
}

TEST(EditMask, MaskBeginningWithTheMarkerNeverEndsTheProgram) {
  // With start-up done an assertion is fatal: a mask from a catalogue text or
  // a format that begins with byte 1 and does not split is refused instead.
  zftest::RunResult r = zftest::runInChild([] {
    zftest::startUpOnce("editmask");
    if (!String("1234").format(String("\1l___")).isNull()) return 2;
    if (!String("1234").format(String("\1")).isNull()) return 3;
    char buf[64];
    zfSnprintf(buf, sizeof buf, "<%\"\1x\"s>", "abc");
    if (std::string(buf) != "<>") return 4;
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Assertion"), std::string::npos) << r.err;
}

TEST(EditMask, NumericMasks) {
  std::string checks;
  compiled("3N-4n", &checks);
  EXPECT_TRUE(MaskIsNum(checks.c_str()));
  compiled("3n-a", &checks);
  EXPECT_FALSE(MaskIsNum(checks.c_str()));
}

}  // namespace
