// The formatting engine: conversions, widths, flags, case marks, implied
// decimals with thousands separators, national separators, the printf
// family's sinks and the safety of counted argument lists.
#include <gtest/gtest.h>

#include <zfound/Config.h>
#include <zfound/Format.h>
#include <zfound/Num.h>
#include <zfound/String.h>

#include "ChildRun.h"
#include "TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// National settings from a "config" file in a private directory (none: the
// defaults "." and ",").
class FormatTest : public ::testing::Test {
protected:
  void SetUp() override { useSettings(""); }
  void TearDown() override { useSettings(""); }

  void useSettings(std::string const& configText) {
    zftest::TempDir dir;
    if (!configText.empty()) dir.write("english/config", configText);
    zftest::ScopedEnv data("DATADIR", dir.path());
    zftest::ScopedEnv lang("LANGUAGE", "english");
    _createConfig();
    _loadConfig();
  }
};

std::string fmt(char const* f, ...) {
  va_list ap;
  va_start(ap, f);
  String s = toStr(f, ap);
  va_end(ap);
  return toCharPtr(s);
}

TEST_F(FormatTest, IntegerWidthsFlagsAndBases) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {fmt("%5d|", 42), "   42|"},
      {fmt("%-5d|", 42), "42   |"},
      {fmt("%05d", -42), "-0042"},
      {fmt("%05d", 42), "00042"},
      {fmt("%.5d", 42), "00042"},
      {fmt("%*d|", 6, 7), "     7|"},
      {fmt("%*d|", -3, 7), "7  |"},
      {fmt("%d", -7), "-7"},
      {fmt("%u", -1), "4294967295"},
      {fmt("%x %X", 255, 255), "ff FF"},
      {fmt("%o", 8), "10"},
      {fmt("%b", 5), "101"},
      {fmt("%hd", 65535), "-1"},
      {fmt("%ld", 123456L), "123456"},
      {fmt("%lx", long(0x80000000u)), "80000000"},
      {fmt("%lld", 1LL << 40), "1099511627776"},
      // The null long prints nothing but keeps its column.
      {fmt("%d", INT_MIN), ""},
      {fmt("%5d|", INT_MIN), "     |"},
      {fmt("%ld", long(INT32_MIN)), ""},
      // An int whose low 16 bits are 0x8000 is an ordinary value.
      {fmt("%d", 32768), "32768"},
      {fmt("%d", -32768), "-32768"},
      {fmt("%d", 0x18000), "98304"},
  };
  for (auto const& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST_F(FormatTest, TextCharactersAndCaseMarks) {
  String high(reinterpret_cast<char const*>(1));
  String abc("abc");
  struct Case {
    std::string got, want;
  } cases[] = {
      {fmt("%>s", "abc"), "ABC"},
      {fmt("%<s", "AbC"), "abc"},
      {fmt("%>S", &abc), "ABC"},
      {fmt("%.2s", "abc"), "ab"},
      {fmt("%.*s", 1, "abc"), "a"},
      {fmt("%6s|", "abc"), "   abc|"},
      {fmt("%-6s|", "abc"), "abc   |"},
      {fmt("%6.2s|", "abc"), "    ab|"},
      {fmt("%s", static_cast<char const*>(nullptr)), "(null)"},
      {fmt("%S", &high), "(high value)"},
      {fmt("%S|", &abc), "abc|"},
      {fmt("%c%c", 'o', 'k'), "ok"},
      {fmt("%.3c", 'a'), "aaa"},
      {fmt("%.3%="), "==="},
      {fmt("%4%-|"), "   -|"},
      {fmt("100%%"), "100%"},
      {fmt("%.2q|"), "qq|"},
      {fmt("%>\xe9"), "\xc9"},  // national letters upper-case by the system's table
      {fmt("%\"3n-4n\"s", "1234567"), "123-4567"},
      {fmt("%\"*\"s", "3n-4n", "1234567"), "123-4567"},
      {fmt("a%"), "a"},
  };
  for (auto const& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST_F(FormatTest, LongTextsAreNotCut) {
  std::string longText(300, 'x');
  longText += "end";
  EXPECT_EQ(fmt("%s", longText.c_str()), longText);
  EXPECT_EQ(fmt("%.250s", longText.c_str()), longText.substr(0, 250));
  EXPECT_EQ(fmt("%.300c", 'y'), std::string(300, 'y'));
  EXPECT_EQ(fmt("%.254d", 7), std::string(253, '0') + "7");
}

TEST_F(FormatTest, ImpliedDecimalsAndThousands) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {fmt("%#,2d", 1234567), "12,345.67"},
      {fmt("%#2d", 12345), "123.45"},
      {fmt("%#2d", 5), "0.05"},
      {fmt("%#2d", 0), "0.00"},
      {fmt("%#,0d", 1234567), "1,234,567"},
      {fmt("%#,2d", -1234567), "-12,345.67"},
      {fmt("%12#,2d|", 1234567), "   12,345.67|"},
      {fmt("%-12#,2d|", 1234567), "12,345.67   |"},
      {fmt("%#*d", 3, 1234), "1.234"},
      {fmt("%6#2d|", INT_MIN), "      |"},
      // A double's own point moves the shown point further left.
      {fmt("%#2f", 1.5), "0.015"},
  };
  for (auto const& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST_F(FormatTest, NationalSeparatorsComeFromTheSettings) {
  useSettings(",\n.\n");
  EXPECT_EQ(fmt("%#,2d", 1234567), "12.345,67");
  EXPECT_EQ(fmt("%f", 2.5), "2,5");
  EXPECT_EQ(fmt("%d", 1234567), "1234567");
}

TEST_F(FormatTest, Doubles) {
  char big[400];
  std::snprintf(big, sizeof big, "%.0f", 1e300);
  struct Case {
    std::string got, want;
  } cases[] = {
      {fmt("%f", 3.14159265), "3.1415927"},
      {fmt("%.2f", 2.5), "2.5"},
      {fmt("%.2f", -1.25), "-1.25"},
      {fmt("%f", 100.0), "100"},
      {fmt("%8.1f|", 2.25), "     2.2|"},
      {fmt("%08.2f", -3.5), "-00003.5"},
      {fmt("%g", 0.0001234), "0.0001234"},
      {fmt("%g", 1234567.0), "1234567"},
      {fmt("%g", 12345678.0), "1.234568e+07"},
      {fmt("%e", 1234.5), "1.2345e+03"},
      {fmt("%f", -1e50), ""},
      {fmt("%f", 1e50), "(high value)"},
      {fmt("%f", 1e300), big},  // a large value prints whole
  };
  for (auto const& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST_F(FormatTest, EnvironmentConversion) {
  zftest::ScopedEnv v("ZFT_FMT_VAR", "abc");
  zftest::ScopedEnv u("ZFT_FMT_UNSET", "", true);
  EXPECT_EQ(fmt("<%$ZFT_FMT_VAR>"), "<_FMT_VAR>");  // a bare name is letters and digits only
  EXPECT_EQ(fmt("<%${ZFT_FMT_VAR}>"), "<abc>");
  EXPECT_EQ(fmt("<%$*>", "ZFT_FMT_VAR"), "<abc>");
  EXPECT_EQ(fmt("<%${ZFT_FMT_UNSET}>"), "<>");
  EXPECT_EQ(fmt("<%5${ZFT_FMT_VAR}>"), "<  abc>");
  zftest::ScopedEnv w("ZFTVAR2", "xy");
  EXPECT_EQ(fmt("%$ZFTVAR2/z"), "xy/z");
}

TEST_F(FormatTest, BooleanConversion) {
  EXPECT_EQ(fmt("[%B]", -1), "[]");
  EXPECT_EQ(fmt("%B/%B/%B", 1, 0, 7), "TRUE/FALSE/TRUE");
  EXPECT_EQ(fmt("%-6B|%<B", 1, 0), "TRUE  |false");
}

TEST_F(FormatTest, NumConversion) {
  Num n("12.5"), neg("-1234.5"), none;
  EXPECT_EQ(fmt("%N", &n), "12.5000000");
  EXPECT_EQ(fmt("%.2N", &n), "12.50");
  EXPECT_EQ(fmt("%.0N", &n), "13");
  EXPECT_EQ(fmt("%08.1N", &neg), "-01234.5");
  EXPECT_EQ(fmt("[%N]", &none), "[]");
  EXPECT_EQ(fmt("[%N]", static_cast<Num const*>(nullptr)), "[]");
  Num big("-123456.7");
  EXPECT_EQ(fmt("%.1#,1N", &big), "-12,345.67");
  useSettings(",\n.\n");
  EXPECT_EQ(fmt("%.2N", &n), "12,50");
}

TEST_F(FormatTest, CountedArgumentsPrintNothingWhenMissingOrMismatched) {
  EXPECT_EQ(toCharPtr(formatText("a%sb%dc%Sd%fe", "x")), std::string("axbcde"));
  EXPECT_EQ(toCharPtr(formatText("[%5d][%s]")), std::string("[][]"));
  EXPECT_EQ(toCharPtr(formatText("[%s]", 5)), std::string("[]"));
  EXPECT_EQ(toCharPtr(formatText("%d %ld %.1f", 5.7, 9, 2)), std::string("5 9 2"));
  String s("txt");
  EXPECT_EQ(toCharPtr(formatText("%S/%s/%c", &s, "p", 'q')), std::string("txt/p/q"));
  // A pointer of another kind than the conversion reads is never read as it.
  Num n("1.5");
  EXPECT_EQ(toCharPtr(formatText("[%N][%S][%s][%s][%\"*\"s]", "x", "y", &s, &n, &s, "z")),
            std::string("[][][][][z]"));  // a refused mask leaves the text as it is
  EXPECT_EQ(toCharPtr(formatText("[%s][%.1N][%N]", static_cast<char const*>(nullptr), &n,
                                 static_cast<Num const*>(nullptr))),
            std::string("[(null)][1.5][]"));
  // %S over a null pointer (a catalogue text may ask %S where the program
  // passes a text pointer) prints nothing.
  EXPECT_EQ(toCharPtr(formatText("[%S][%S]", static_cast<char const*>(nullptr), static_cast<String const*>(nullptr))),
            std::string("[][]"));
}

int stopAfterThree(int c, void* arg) {
  auto* out = static_cast<std::string*>(arg);
  if (out->size() == 3) return -1;
  out->push_back(char(c));
  return c;
}

int collect(int c, void* arg) {
  static_cast<std::string*>(arg)->push_back(char(c));
  return c;
}

int callDoFormat(FmtSink sink, void* arg, char const* f, ...) {
  va_list ap;
  va_start(ap, f);
  int n = doFormatV(sink, arg, f, ap);
  va_end(ap);
  return n;
}

TEST_F(FormatTest, SinkRefusalEndsWithMinusOne) {
  std::string out;
  EXPECT_EQ(callDoFormat(stopAfterThree, &out, "%s", "abcdef"), -1);
  EXPECT_EQ(out, "abc");
  out.clear();
  EXPECT_EQ(callDoFormat(collect, &out, "x%5dy", 1), 7);
  EXPECT_EQ(out, "x    1y");
}

char const* starConversion(int, char const*&, char, int32_t& precision, FmtArgs& args, char* work,
                           char const* quoted, int32_t&) {
  int32_t n = 0;
  if (!args.nextInt(n)) return nullptr;
  std::snprintf(work, kFmtWorkSize, "<%d:%s>", n, quoted ? quoted : "");
  precision = kFmtNoPrecision;
  return work;
}

TEST_F(FormatTest, ConversionTableCanBeExtended) {
  EXPECT_EQ(functionPointer('Q'), nullptr);
  EXPECT_NE(functionPointer('d'), nullptr);
  EXPECT_EQ(functionPointer(31), nullptr);
  EXPECT_EQ(functionPointer(127), nullptr);
  addConvertFunction('Q', starConversion);
  EXPECT_EQ(fmt("%\"m\"Q", 4), "<4:m>");
  addConvertFunction('Q', nullptr);
  EXPECT_EQ(fmt("%Q"), "Q");
  addConvertFunction(200, starConversion);  // refused (assertion before start-up returns)
  EXPECT_EQ(functionPointer(200), nullptr);
}

int conversionCalls = 0;
char const* countedConversion(int, char const*&, char, int32_t&, FmtArgs&, char*, char const*, int32_t&) {
  ++conversionCalls;
  return "x";
}

TEST_F(FormatTest, AStringFormatEndsOnceTheStringIsFull) {
  // The first conversion fills the String: the ones after it are not worked
  // out (they made up to 16.7 million characters to be cut away).
  addConvertFunction('Q', countedConversion);
  conversionCalls = 0;
  std::string f = "%.65535q";
  for (int i = 0; i < 100; ++i) f += "%Q";
  std::string got = fmt(f.c_str());
  addConvertFunction('Q', nullptr);
  EXPECT_EQ(got, std::string(65535, 'q'));
  EXPECT_LE(conversionCalls, 1);
  EXPECT_EQ(fmt("%.65534q%Q%Q", 1, 2), std::string(65534, 'q') + "Q");
}

TEST_F(FormatTest, PrintfFamily) {
  char buf[8];
  EXPECT_EQ(zfSnprintf(buf, sizeof buf, "%s", "abcdefghij"), 10);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(zfSnprintf(buf, sizeof buf, "%d", 12), 2);
  EXPECT_STREQ(buf, "12");
  EXPECT_EQ(zfSnprintf(nullptr, 0, "%d", 123), 3);

  char big[32];
  EXPECT_EQ(zfSprintf(big, "%#,2d|%s", 123456, "x"), 10);
  EXPECT_STREQ(big, "1,234.56|x");

  zftest::TempDir dir;
  std::string path = dir.file("out.txt");
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(zfFprintf(f, "%3d;", 5), 4);
  EXPECT_EQ(aprintf(f, "caf\xe9 %s", "\xc0"), 6);
  std::fclose(f);
  EXPECT_EQ(zftest::readFile(path), "  5;cafe A");

  // Standard output, seen from a child process.
  zftest::RunResult r = zftest::runInChild([] {
    int n = zfPrintf("%03d|%>s", 7, "x");
    std::fflush(stdout);
    ZF_CHILD_CHECK(n == 5);
    return 0;
  });
  EXPECT_EQ(r.out, "007|X");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(FormatTest, StringBuilders) {
  EXPECT_EQ(toCharPtr(doFormat("%s-%d", "a", 1)), std::string("a-1"));
  EXPECT_EQ(toCharPtr(doFormat(String("%05d"), 42)), std::string("00042"));
  EXPECT_TRUE(doFormat("%s", "").isNull());
}

TEST_F(FormatTest, SmallConversions) {
  char b[kFmtSmallBuffer];
  char w[128];
  EXPECT_STREQ(IToStr(-32768, b), "");
  EXPECT_STREQ(IToStr(32767, b), "(high value)");
  EXPECT_STREQ(IToStr(-12, b), "-12");
  EXPECT_STREQ(LToStr(INT32_MIN, b), "");
  EXPECT_STREQ(LToStr(INT32_MAX, b), "(high value)");
  EXPECT_STREQ(LToStr(40000, b), "40000");
  EXPECT_STREQ(FToStr(-1e50, b), "");
  EXPECT_STREQ(FToStr(1e50, b), "(high value)");
  EXPECT_STREQ(FToStr(1e16, b), "(Overflow)");
  EXPECT_STREQ(FToStr(-2.6, b), "-3");
  EXPECT_STREQ(FmtFloat(w, -1e50, 6), "");
  EXPECT_STREQ(FmtFloat(w, 3.5, 6), "   3.5");
  EXPECT_STREQ(floatToStr(1e300, b, 16, 7, 1), "1e+300");  // too wide: exponent form
  EXPECT_STREQ(floatToStr(-0.5, b, sizeof b, 3, 1), "-0.5");

  char n[64];
  EXPECT_STREQ(FmtNum(n, sizeof n, "1234567", 0, 2, true), "12,345.67");
  EXPECT_STREQ(FmtNum(n, sizeof n, "  42", 6, 3, false), " 0.042");
  EXPECT_STREQ(FmtNum(n, sizeof n, "", 3, 2, false), "   ");
  EXPECT_STREQ(FmtNum(n, 5, "1234567", 0, 0, true), "1,23");  // bounded by the buffer
}

}  // namespace
