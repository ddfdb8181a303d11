// The values of a message file on buffered streams: texts with their 16-bit
// signed length (null, highest, the longest that fits, refused past it, cut
// at a NUL) and dates and times as their plain 32-bit value.
#include <gtest/gtest.h>

#include <msgcat/MsgStore.h>
#include <zfound/Date.h>
#include <zfound/OsFile.h>
#include <zfound/Stream.h>
#include <zfound/Time.h>

#include <cstring>
#include <string>
#include <utility>

#include "TestSupport.h"

namespace {

// Writes through an OutputFile into a temporary file and returns its bytes.
template <class F>
std::string written(zftest::TempDir& dir, F body) {
  OsFile f(dir.path().c_str(), "out", "bin", OsFile::Write | OsFile::Create | OsFile::Truncate | OsFile::OpenNow);
  {
    OutputFile out(f, 64);
    body(out);
  }
  f.close();
  return zftest::readFile(dir.file("out.bin"));
}

TEST(MsgStore, TextsCarryASigned16BitLength) {
  zftest::TempDir dir;
  struct Case {
    char const* what;
    String text;
    std::string bytes;
  } cases[] = {
      {"null", String(), std::string("\x00\x00", 2)},
      {"highest", String(reinterpret_cast<char const*>(1)), "\xff\xff"},
      {"plain", String("Hi"), std::string("\x00\x02Hi", 4)},
      {"cut at a NUL", String(4L, "ab\0c"), std::string("\x00\x02" "ab", 4)},
      {"longest", String(32767L, 'x'), std::string("\x7f\xff") + std::string(32767, 'x')},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    bool ok = false;
    EXPECT_EQ(written(dir, [&](OutputFile& o) { ok = storeMsgText(o, c.text); }), c.bytes);
    EXPECT_TRUE(ok);
    InputString in(String(long(c.bytes.size()), c.bytes.data()));
    String back;
    EXPECT_TRUE(loadMsgText(in, back));
    EXPECT_EQ(back.isHighest(), c.text.isHighest());
    if (!back.isHighest()) {
      EXPECT_EQ(std::string(toCharPtr(back)), c.bytes.substr(2));
    }
  }
  bool ok = true;
  EXPECT_EQ(written(dir, [&](OutputFile& o) { ok = storeMsgText(o, String(32768L, 'x')); }), "");
  EXPECT_FALSE(ok);

  // Lengths the form cannot hold, cut texts and NUL bytes do not load.
  for (std::string bad : {std::string("\x80\x00", 2), std::string("\xff\xfe", 2), std::string("\x00\x03" "ab", 4),
                          std::string("\x00\x02" "a\0", 4), std::string("\x00", 1)}) {
    InputString in(String(long(bad.size()), bad.data()));
    String s("x");
    EXPECT_FALSE(loadMsgText(in, s));
    EXPECT_TRUE(s.isNull());
  }
}

// Hands out its bytes in one refill and counts every refill asked of it.
class CountingInput : public InputStream {
public:
  explicit CountingInput(std::string bytes) : InputStream(64), bytes_(std::move(bytes)) {}
  int fill() override {
    ++fills;
    cur_ = buf_;
    if (given_) return filled(0);
    given_ = true;
    std::memcpy(buf_, bytes_.data(), bytes_.size());
    return filled(int64_t(bytes_.size()));
  }
  int fills = 0;

private:
  std::string bytes_;
  bool given_ = false;
};

TEST(MsgStore, ACutTextStopsReadingAtTheEndOfTheFile) {
  // A length of 32,767 with five bytes behind it: one refill finds the end.
  CountingInput in(std::string("\x7f\xff" "abcde", 7));
  String s("x");
  EXPECT_FALSE(loadMsgText(in, s));
  EXPECT_TRUE(s.isNull());
  EXPECT_LE(in.fills, 2);
}

TEST(MsgStore, DatesAndTimesAreTheirPlainValue) {
  zftest::TempDir dir;
  Date d = toDate(-2);
  Time t = toTime(0x01020304);
  std::string bytes = written(dir, [&](OutputFile& o) {
    d.store(o);
    t.store(o);
  });
  EXPECT_EQ(bytes, std::string("\xff\xff\xff\xfe\x01\x02\x03\x04", 8));
  InputString in(String(long(bytes.size()), bytes.data()));
  Date d2;
  Time t2;
  d2.load(in);
  t2.load(in);
  EXPECT_EQ(d2.value(), -2);
  EXPECT_EQ(t2.value(), 0x01020304);
  t2.load(in);  // nothing left
  EXPECT_EQ(t2.value(), 0);
}

}  // namespace
