// Limits and refusals of local tables that need a crafted file or a second
// process to reach: a header hold lost to a deadlock, the last node number,
// the last root entry, and stamps given by a user who does not own the
// schema.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>

#include <zfound/Portable.h>
#include <zfound/Process.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "LocalTable.h"

using namespace zxdbtest;

namespace {

std::string gRefusals;
void recordRefusal(int32_t, char const* key, char const* detail) {
  gRefusals += std::string(key) + " " + (detail ? detail : "") + ";";
}

// Whether /proc/locks shows process `pid` waiting for a lock.
bool waitingForLock(pid_t pid) {
  std::ifstream in("/proc/locks");
  std::string line, tag = " " + std::to_string(pid) + " ";
  while (std::getline(in, line))
    if (line.find("->") != std::string::npos && line.find(tag) != std::string::npos) return true;
  return false;
}

// Locks bytes 0..1023 of `path` for writing (waiting or not); 0 when had.
int lockHeader(int fd, bool wait) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1024;
  return fcntl(fd, wait ? F_SETLKW : F_SETLK, &fl);
}

// Tables "item" and "other", alike.
EncSchema twoTables() {
  EncSchema s = itemSchema(0);
  EncTable t = s.tables[0];
  t.name = "other";
  for (EncIndex& i : t.indexes)
    for (EncPart& p : i.parts) p.field = 0x200 | (p.field & 0xff);
  s.tables.push_back(t);
  return s;
}

// A process that holds item's headers for its transaction and then needs
// one of other's headers, which a second process holds while it waits for
// item's: the kernel reports the deadlock, and the add fails as it does on
// a locked record: the handler hears of it in transaction mode 4, else the
// transaction is marked for rollback. Nothing is added to "other", to none
// of its indexes.
TEST_F(LocalTable, HeaderHoldLostToADeadlockFailsLikeALockedRecord) {
  writeDescriptorFile(tmp_.path(), twoTables());
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  int32_t item = 0x10100, other = 0x10200;
  stlong(1, _GetTabBuff(other) + 4);
  ASSERT_EQ(AddRecord(other), 1);
  ASSERT_EQ(EndTransaction(), 1);
  std::string itemIndex = tmp_.path() + "/shop/item.i00";
  struct Row {
    char const* held;  // the file of "other" whose header the second process holds
    bool mode4;
  } const rows[] = {{"i00", true}, {"i00", false}, {"tab", true}, {"tab", false}, {"i01", true}, {"i01", false}};
  int32_t code = 10;
  for (Row const& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.held << (row.mode4 ? " mode 4" : " no mode"));
    std::string otherFile = tmp_.path() + "/shop/other." + row.held;
    gRefusals.clear();
    DbHandler old = SetDbHandler(recordRefusal);
    BeginTrans(row.mode4 ? 4 : 0);
    stlong(++code, _GetTabBuff(item) + 4);
    ASSERT_GT(AddRecord(item), 0);  // item's headers are held from here
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t p = fork();
    if (p == 0) {
      int a = ::open(otherFile.c_str(), O_RDWR), b = ::open(itemIndex.c_str(), O_RDWR);
      if (a < 0 || b < 0 || lockHeader(a, false) != 0) _exit(2);
      ssize_t w = ::write(ready[1], "x", 1);
      (void)w;
      _exit(lockHeader(b, true) == 0 ? 0 : 3);
    }
    char ch;
    ASSERT_EQ(::read(ready[0], &ch, 1), 1);
    while (!waitingForLock(p)) usleep(1000);
    stlong(2, _GetTabBuff(other) + 4);
    EXPECT_LE(AddRecord(other), 0);
    if (row.mode4) {
      EXPECT_NE(gRefusals.find("IO_LOCKED_RECORD AddRecord;"), std::string::npos) << gRefusals;
      EXPECT_EQ(EndTransaction(), 1);
    } else {
      EXPECT_EQ(gRefusals, "");
      EXPECT_EQ(TransOk(), 0);
      EXPECT_EQ(EndTransaction(), 0);
    }
    SetDbHandler(old);
    int st = 0;
    waitpid(p, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), 0);
    ::close(ready[0]), ::close(ready[1]);
    EXPECT_EQ(TabNRecords(other), 1);
    EXPECT_EQ(_DbVerifyConsist("t", 1, other), 0);
    EXPECT_EQ(_DbVerifyConsist("t", 1, other | 1), 0);
  }
}

// The index needs node 65,536 for a split: refused with a clear error; a
// sparse file stands in for 65,535 nodes.
TEST_F(LocalTable, NodeNumberPastSixteenBitsIsRefused) {
  open(0);
  for (int32_t i = 1; i <= 128; ++i) {
    set(i, 0, 0);
    ASSERT_EQ(AddRecord(tab_), i);
  }
  EndTransaction();
  CloseAllSchemas();
  std::string index = tmp_.path() + "/shop/item.i00";
  poke(index, 2, be16(65535));
  ASSERT_EQ(truncate(index.c_str(), 1024 + 65535LL * 1024), 0);
  RunResult r = runInChild([] {
    if (OpenSchema("shop", 0) != 0x10000) return 2;
    stlong(129, _GetTabBuff(0x10100) + 4);
    AddRecord(0x10100);
    return 0;
  });
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("Table item: index 0 would need more than 65535 nodes."), std::string::npos)
      << r.out << r.err;
}

// An index of 32,766 leaves, the last full: a key for a leaf with room is
// added; one that needs a new leaf is refused with the root-limit text.
TEST_F(LocalTable, RootOfThirtyTwoThousandSevenHundredSixtySixLeaves) {
  open(0);
  set(1, 0, 0);
  ASSERT_EQ(AddRecord(tab_), 1);
  EndTransaction();
  CloseAllSchemas();
  // Leaf n < 32766 holds key 10n; leaf 32766 holds 128 keys from 327660.
  int32_t const leaves = 32766, per = 128;
  std::vector<uint8_t> file(1024 + size_t(leaves) * 1024 + size_t(leaves) * 8, 0);
  stshort(1, file.data());
  stshort(leaves, file.data() + 2);
  stlong(leaves, file.data() + 8);
  uint8_t* root = file.data() + 1024 + size_t(leaves) * 1024;
  for (int32_t n = 1; n <= leaves; ++n) {
    uint8_t* node = file.data() + 1024 + size_t(n - 1) * 1024;
    int32_t count = n < leaves ? 1 : per;
    for (int32_t k = 0; k < count; ++k) {
      stlong(10 * n + k, node + k * 8);
      stlong(1, node + k * 8 + 4);
    }
    uint8_t* e = root + size_t(n - 1) * 8;
    stlong(10 * n, e);
    stshort(count, e + 4);
    stshort(n, e + 6);
  }
  {
    std::ofstream out(tmp_.path() + "/shop/item.i00", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(file.data()), std::streamsize(file.size()));
  }
  RunResult r = runInChild([] {
    if (OpenSchema("shop", 0) != 0x10000) return 2;
    char* b = _GetTabBuff(0x10100);
    stlong(55, b + 4);  // into leaf 5, which has room
    if (AddRecord(0x10100) != 2) return 3;
    EndTransaction();
    std::printf("leaf 5 took the key\n");
    std::fflush(stdout);
    stlong(10 * 32766 + 500, b + 4);  // past the full last leaf
    AddRecord(0x10100);
    return 4;
  });
  EXPECT_NE(r.out.find("leaf 5 took the key"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.status, 4);
  EXPECT_NE((r.out + r.err).find("Root Node too Int Table     item\nIncrement separation\n"), std::string::npos)
      << r.out << r.err;
}

// Stamps may be given only by the schema's owner or the super-user.
TEST_F(LocalTable, GivenStampsNeedTheOwnerOrTheSuperUser) {
  open(0);
  uid_t self = procUserId();
  int32_t owner = _GetSchPtr(0x10000)->owner;
  time_stamp c{100, 200, 0, 7};
  struct Row {
    int32_t uid;
    bool added;
  } const rows[] = {{owner, true}, {0, true}, {owner == 0 ? 12345 : owner + 1, false}};
  int32_t code = 0, n = 0;
  for (Row const& row : rows) {
    SCOPED_TRACE(row.uid);
    setProcUserId(uid_t(row.uid));
    gRefusals.clear();
    DbHandler old = SetDbHandler(recordRefusal);
    set(++code, 0, 0);
    int32_t got = AddRecordTS(tab_, &c, &c);
    SetDbHandler(old);
    setProcUserId(self);
    EndTransaction();
    if (row.added) {
      EXPECT_EQ(got, ++n);
      EXPECT_EQ(gRefusals, "");
    } else {
      EXPECT_EQ(got, -1);
      EXPECT_EQ(gRefusals, "IO_NO_PERMS INSERT;");
    }
    EXPECT_EQ(TabNRecords(tab_), n);
  }
}

}  // namespace

namespace {

// A header that counts fewer slots than the file holds: the build takes the
// file's slots, indexes the live record past the header's highest number
// and sets the counters from what it found.
TEST_F(LocalTable, BuildTakesEverySlotTheFileHolds) {
  open(0);
  for (int32_t i = 1; i <= 3; ++i) {
    set(i, 0, 0);
    ASSERT_EQ(AddRecord(tab_), i);
  }
  EndTransaction();
  CloseAllSchemas();
  std::string data = tmp_.path() + "/shop/item.tab";
  poke(data, 0, be32(2));
  poke(data, 8, be32(2));
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  EXPECT_EQ(BuildIndex(tab_, 2 | 128), 3);
  EXPECT_EQ(BuildIndex(tab_ | 1, 2 | 128), 0);  // sound now: nothing to do
  EXPECT_EQ(BuildIndex(tab_ | 1, 128), 3);
  std::string f = file("tab");
  EXPECT_EQ(at(f, 0), 3);
  EXPECT_EQ(at(f, 4), 0);
  EXPECT_EQ(at(f, 8), 3);
  set(3, 0, 0);
  EXPECT_EQ(GetRecord(tab_, 1, 0, 0), 3);
  EXPECT_EQ(_DbVerifyConsist("t", 1, tab_), 0);
  set(4, 0, 0);
  EXPECT_EQ(AddRecord(tab_), 4);
}

}  // namespace

namespace {

// Index 1 leaves records with a null grp out; they stay live records of the
// table, reached through index 0, and a build keeps them.
TEST_F(LocalTable, NullsLeftOutOfAnIndexStayLiveRecords) {
  EncSchema s = itemSchema(0);
  s.tables[0].indexes[1].parts[0].flags = 2;
  writeDescriptorFile(tmp_.path(), s);
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  tab_ = 0x10100;
  buf_ = _GetTabBuff(tab_);
  int32_t const null = int32_t(0x80000000u);
  for (int32_t i = 1; i <= 6; ++i) {
    set(i, i % 2 ? null : i, 0);
    ASSERT_EQ(AddRecord(tab_), i);
  }
  EndTransaction();
  auto count = [&](int32_t idx) {
    int32_t h = CreateCursor(tab_ | idx, 0);
    int32_t n = CountCursor(h);
    DeleteCursor(h);
    return n;
  };
  EXPECT_EQ(count(0), 6);
  EXPECT_EQ(count(1), 3);
  EXPECT_EQ(_DbVerifyConsist("t", 1, tab_ | 1), 0);
  // A put that gives a record a grp brings it into the index; one that
  // takes it away takes it out.
  set(1, 7, 0);
  EXPECT_EQ(PutRecord(tab_), 1);
  set(2, null, 0);
  EXPECT_EQ(PutRecord(tab_), 2);
  EndTransaction();
  EXPECT_EQ(count(1), 3);
  set(0, 7, 0);
  EXPECT_EQ(GetRecord(tab_ | 1, 1, 0, 0), 1);
  // Deleting a record the index leaves out.
  set(3, 0, 0);
  EXPECT_EQ(DelRecord(tab_), 3);
  EndTransaction();
  EXPECT_EQ(BuildIndex(tab_ | 1, 128), 5);
  EXPECT_EQ(TabNRecords(tab_), 5);
  EXPECT_EQ(count(1), 3);
  set(5, 0, 0);
  EXPECT_EQ(GetRecord(tab_, 1, 0, 0), 5);
}

}  // namespace
