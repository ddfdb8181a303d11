// The undo log: the byte size of a record, records that spill past the
// 4096-byte window and read back, purge, and the private temporary file.
#include <winkit/Log.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <string>

#include "TestSupport.h"

namespace {

// The log is process-wide: every test starts and ends with an empty stream.
class LogTest : public ::testing::Test {
protected:
  void SetUp() override { Log::purge(Log::currOffset()); }
  void TearDown() override { Log::purge(Log::currOffset()); }
};

int entries(std::string const& dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
    ::closedir(d);
  }
  return n;
}

TEST_F(LogTest, OneItemRecordIsTwentyBytes) {
  int32_t before = Log::currOffset();
  Log out;
  out.openOutput();
  out.put(LogItem(2, 5, 3, String("abc")));
  out.closeOutput();
  EXPECT_EQ(Log::currOffset() - before, 20);
  EXPECT_EQ(LogItem(2, 5, 3, String("abc")).storeSize(), 16);
  EXPECT_EQ(LogItem().storeSize(), 13);

  Log in;
  in.openInput();
  EXPECT_EQ(in.size(), 16);
  LogItem item = in.get();
  EXPECT_TRUE(item.isValid());
  EXPECT_EQ(item.row, 2);
  EXPECT_EQ(item.col, 5);
  EXPECT_EQ(item.length, 3);
  EXPECT_EQ(zftest::str(item.string), "abc");
  LogItem none = in.get();
  EXPECT_FALSE(none.isValid());
  EXPECT_TRUE(none.string.isNull());
  in.closeInput();
  EXPECT_EQ(Log::currOffset(), before);
}

TEST_F(LogTest, RecordsStackAndListsRoundTrip) {
  Log a;
  a.openOutput();
  a.put(LogItem(1, 1, 1, String("first")));
  a.closeOutput();
  Log b;
  b.openOutput();
  StringList lines;
  lines.add(String("x"));
  lines.add(String());
  lines.add(String("zz"));
  b.put(lines);
  b.closeOutput();
  EXPECT_EQ(b.size(), 14 + 13 + 15);

  Log in;
  in.openInput();
  StringList back;
  in.get(back);
  ASSERT_EQ(back.size(), 3);
  EXPECT_EQ(zftest::str(back.first()), "x");
  EXPECT_EQ(zftest::str(back.last()), "zz");
  in.closeInput();
  // A record closed before all its items were read is still dropped whole.
  Log again;
  again.openInput();
  EXPECT_EQ(again.size(), 18);
  EXPECT_EQ(zftest::str(again.get().string), "first");
  again.closeInput();
  EXPECT_EQ(Log::currOffset(), 0);
  // Nothing to read in an empty stream.
  Log empty;
  empty.openInput();
  EXPECT_FALSE(empty.get().isValid());
  empty.closeInput();
  EXPECT_EQ(Log::currOffset(), 0);
}

TEST_F(LogTest, SpillsPastTheWindowAndReadsBack) {
  zftest::TempDir tmp;
  zftest::ScopedEnv env("TMPDIR", tmp.path());
  // A small record first, so the big one starts inside the window.
  Log small;
  small.openOutput();
  small.put(LogItem(0, 0, 0, String("small")));
  small.closeOutput();
  int32_t afterSmall = Log::currOffset();

  Log big;
  big.openOutput();
  for (int i = 0; i < 150; ++i) {
    std::string text = "item " + std::to_string(i) + std::string(50, static_cast<char>('a' + i % 26));
    big.put(LogItem(i, i + 1, i + 2, String(text.c_str())));
  }
  big.closeOutput();
  EXPECT_GT(Log::currOffset(), 2 * Log::kWindow);
  EXPECT_TRUE(Log::spilled());
  // The temporary file has no name left in its directory.
  EXPECT_EQ(entries(tmp.path()), 0);

  Log in;
  in.openInput();
  for (int i = 0; i < 150; ++i) {
    LogItem it = in.get();
    ASSERT_TRUE(it.isValid()) << i;
    EXPECT_EQ(it.row, i);
    EXPECT_EQ(it.col, i + 1);
    EXPECT_EQ(it.length, i + 2);
    std::string text = "item " + std::to_string(i) + std::string(50, static_cast<char>('a' + i % 26));
    EXPECT_EQ(zftest::str(it.string), text);
  }
  EXPECT_FALSE(in.get().isValid());
  in.closeInput();
  EXPECT_EQ(Log::currOffset(), afterSmall);

  // Purging the oldest record keeps the newest one readable.
  Log next;
  next.openOutput();
  for (int i = 0; i < 100; ++i) next.put(LogItem(i, 0, 0, String(std::string(60, 'q').c_str())));
  next.closeOutput();
  int32_t end = Log::currOffset();
  Log::purge(afterSmall);
  EXPECT_EQ(Log::currOffset(), end - afterSmall);
  Log last;
  last.openInput();
  int n = 0;
  for (LogItem it = last.get(); it.isValid(); it = last.get()) {
    EXPECT_EQ(it.row, n);
    ++n;
  }
  EXPECT_EQ(n, 100);
  last.closeInput();
  EXPECT_EQ(Log::currOffset(), 0);
}

TEST_F(LogTest, PurgeEverythingEmptiesTheStream) {
  Log a;
  a.openOutput();
  a.put(LogItem(1, 2, 3, String("gone")));
  a.closeOutput();
  Log::purge(Log::currOffset());
  EXPECT_EQ(Log::currOffset(), 0);
  Log in;
  in.openInput();
  EXPECT_EQ(in.size(), 0);
  EXPECT_FALSE(in.get().isValid());
}

}  // namespace
