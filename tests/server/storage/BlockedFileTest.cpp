// Blocked files: geometry, header copies and their levels, fresh and
// unreadable headers, record-number checks, damaged free lists, the
// version header page, and the dumps.
#include "StorageFixture.h"

#include <zfound/BoolArray.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace storagetest;

namespace {

class BlockedFileTest : public StorageTest {};

// Geometry cases: file name (p packed, n round-robin), record length,
// prefix, page KB, expected slot, block and slots per block.
struct GeoCase {
  char const* name;
  int32_t recLen;
  int32_t prefix;
  int32_t slot;
  int32_t bsize;
  int32_t spb;
};

TEST_F(BlockedFileTest, GeometryTable) {
  GeoCase const cases[] = {
      {"pg1", 80, 20, 100, 1000, 10},   // packed: whole slots only
      {"ng1", 80, 20, 102, 1024, 10},   // other: slots widened to fill the page
      {"pg2", 1500, 20, 1520, 1520, 1}, // longer than a page: one per block
      {"ng2", 1500, 20, 1520, 1520, 1},
      {"ng3", 100, 28, 128, 1024, 8},
  };
  for (GeoCase const& c : cases) {
    SCOPED_TRACE(c.name);
    PrefixFile& f = openFile(c.name, c.recLen, c.prefix);
    EXPECT_EQ(f.recordLength(), c.slot);
    EXPECT_EQ(f.blockLength(), c.bsize);
    EXPECT_EQ(f.slotsPerBlock(), c.spb);
    EXPECT_EQ(f.dataOffset(), c.name[0] == 'p' ? 2048 : 2 * c.bsize);
  }
}

TEST_F(BlockedFileTest, FreshFileOpensWithFreshHeaderOnTheModifiedList) {
  PrefixFile& f = openFile("pfresh", 80);
  EXPECT_EQ(f.last(), 0);
  EXPECT_EQ(f.rDepth(), 2);
  EXPECT_EQ(f.lastRecId(), 15);
  EXPECT_EQ(f.mlevel(), 3);
  EXPECT_TRUE(f.inModList());
}

TEST_F(BlockedFileTest, HeaderWrittenAtThreeCheckpointsWithLevelTwoThenZero) {
  PrefixFile& f = openFile("plevel", 80);
  for (int i = 0; i < 25; ++i)
    addRec(f);
  checkpoint();
  std::string b = fileBytes("plevel.blk");
  EXPECT_EQ(b[20], 2);
  EXPECT_EQ(b[21], 2);
  EXPECT_EQ(ldlong(b.data()), 25);
  checkpoint();
  b = fileBytes("plevel.blk");
  EXPECT_EQ(b[1024 + 20], 0);
  EXPECT_EQ(ldlong(b.data() + 1024), 25);
  EXPECT_TRUE(f.inModList());
  checkpoint();
  b = fileBytes("plevel.blk");
  EXPECT_EQ(b[20], 0);
  EXPECT_FALSE(f.inModList());
  // Housekeeping with a stamp writes without advancing.
  addRec(f);
  EXPECT_EQ(BlockedFile::writeAllHeaders(StorageEnv::timeStamp), 1);
  EXPECT_EQ(f.mlevel(), 3);
  EXPECT_EQ(ldlong(fileBytes("plevel.blk").data() + 1024 * StorageEnv::currCP), 26);
}

TEST_F(BlockedFileTest, ReopenReadsTheLastCheckpointCopyAndItsLevel) {
  {
    PrefixFile f(20);
    ASSERT_TRUE(f.open("preopen", String(), "blk", 80, 0));
    for (int i = 0; i < 12; ++i)
      addRec(f);
    checkpoint();  // copy 0, level 2
    addRec(f);     // a change never checkpointed
  }
  PrefixFile g(20);
  ASSERT_TRUE(g.open("preopen", String(), "blk", 80, -1));
  EXPECT_EQ(g.last(), 12);
  EXPECT_EQ(g.mlevel(), 2);
  EXPECT_TRUE(g.inModList());
}

// Copies that read short or all zero were never written: fresh header.
TEST_F(BlockedFileTest, ShortOrZeroCopyGivesFreshHeader) {
  tmp.write("pshort.blk", std::string(500, '\x07'));
  PrefixFile& a = openFile("pshort", 80);
  EXPECT_EQ(a.last(), 0);
  EXPECT_EQ(a.lastRecId(), 15);
  tmp.write("pzero.blk", std::string(1024 + 1012, '\0'));
  PrefixFile& b = openFile("pzero", 80, 20, 1);
  EXPECT_EQ(b.last(), 0);
  EXPECT_EQ(b.rDepth(), 2);
}

// Header copies damaged at named bytes.
TEST_F(BlockedFileTest, DamagedHeaderBytes) {
  auto copy = [](int32_t last, int32_t freeA, int32_t nReg, char depth) {
    std::string b(1012, '\0');
    stlong(last, b.data());
    stlong(freeA, b.data() + 4);
    stlong(nReg, b.data() + 12);
    b[21] = depth;
    stlong(15, b.data() + 1000);
    return b;
  };
  struct Case {
    char const* what;
    std::string bytes;
    bool opens;
  } const cases[] = {
      {"last (0-3) negative", copy(-5, 0, 0, 2), false},
      {"nReg (12-15) above last", copy(3, 0, 4, 2), false},
      {"nReg (12-15) negative", copy(3, 0, -1, 2), false},
      {"rDepth (21) zero reads as 2", copy(3, 0, 3, 0), true},
      {"free head A (4-7) past last", copy(3, 40, 2, 2), true},
  };
  int i = 0;
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name = "pdmg" + std::to_string(i++);
    tmp.write(name + ".blk", c.bytes);
    PrefixFile f(20);
    shown().clear();
    EXPECT_EQ(f.open(name.c_str(), String(), "blk", 80, 0), c.opens);
    if (!c.opens) {
      EXPECT_TRUE(sawWarning(name + ".blk"));
      EXPECT_EQ(zftest::readFile(tmp.file(name + ".blk")), c.bytes) << "nothing written";
      continue;
    }
    EXPECT_EQ(f.rDepth(), 2);
    EXPECT_EQ(addRec(f), 4) << "a damaged list is passed over";
  }
}

TEST_F(BlockedFileTest, UnreadableHeaderFailsOpenAndWritesNothing) {
  ASSERT_EQ(::mkdir(tmp.file("pdir.blk").c_str(), 0777), 0);
  PrefixFile f(20);
  EXPECT_FALSE(f.open("pdir", String(), "blk", 80, 0));
  EXPECT_FALSE(f.inModList());
  EXPECT_EQ(BlockedFile::modList(), nullptr);
  struct stat st;
  ASSERT_EQ(::stat(tmp.file("pdir.blk").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(BlockedFileTest, RecordNumbersOutsideTheFileAreRefused) {
  PrefixFile& f = openFile("prange", 80);
  for (int i = 0; i < 5; ++i)
    addRec(f);
  int32_t const bad[] = {0, -1, 6, 1 << 30, INT32_MIN};
  for (int32_t r : bad) {
    SCOPED_TRACE(r);
    Exception::last(Exception(0));
    char* p = reinterpret_cast<char*>(1);
    EXPECT_EQ(f.get(p, r, true), nullptr);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(f.get(r), nullptr);
    char buf[100];
    EXPECT_FALSE(f.fill(buf, r));
    EXPECT_FALSE(f.mark(r));
    EXPECT_FALSE(f.del(r));
    EXPECT_NE(Exception::last().code(), 0);
  }
  Exception::last(Exception(0));
  EXPECT_FALSE(f.del(6));
  EXPECT_NE(zftest::str(Exception::last().message()).find("del: record 6 is outside 1..5 of blocked file prange.blk"),
            std::string::npos)
      << zftest::str(Exception::last().message());
  EXPECT_EQ(f.nReg(), 5);
  EXPECT_EQ(CacheBuffer::nLocked(), 0);
}

TEST_F(BlockedFileTest, FreedRecordWaitsForTheFlipThenIsReused) {
  PrefixFile& f = openFile("preuse", 80);
  for (int i = 0; i < 10; ++i)
    addRec(f);
  ASSERT_TRUE(f.del(4));
  EXPECT_EQ(f.oFree(), 4);
  EXPECT_EQ(addRec(f), 11);
  checkpoint();
  EXPECT_EQ(f.mFree(), 4);
  EXPECT_EQ(addRec(f), 4);
  EXPECT_EQ(f.mFree(), 0);
}

TEST_F(BlockedFileTest, DelOfARecordUnchangedSinceTheCheckpointCallsReRead) {
  PrefixFile& f = openFile("preread", 80);
  addRec(f);
  addRec(f);
  checkpoint();
  addRec(f);
  f.del(1);
  EXPECT_EQ(f.reReads, 1);
  f.del(3);
  EXPECT_EQ(f.reReads, 1);
}

TEST_F(BlockedFileTest, DamagedFreeListHeadIsDroppedAndAllocationGoesPastLast) {
  PrefixFile& f = openFile("pdamage", 80);
  for (int i = 0; i < 10; ++i)
    addRec(f);
  f.mFree() = 99;  // beyond last
  shown().clear();
  EXPECT_EQ(addRec(f), 11);
  EXPECT_EQ(f.mFree(), 0);
  EXPECT_TRUE(sawWarning("pdamage.blk"));
  // A link beyond last, and a cycle: the whole list is dropped the first
  // time add takes from it.
  f.del(2);
  f.del(5);
  checkpoint();
  char* p;
  f.get(p, 2, false);
  stlong(5000, p + 4);  // list B, chained through LINK2
  shown().clear();
  EXPECT_EQ(addRec(f), 12);
  EXPECT_EQ(f.mFree(), 0);
  EXPECT_TRUE(sawWarning("pdamage.blk"));
  f.del(3);
  f.del(7);  // oFree (list A at parity 1): 7 -> 3 through LINK1
  f.get(p, 3, false);
  stlong(7, p + 0);  // 3 -> 7: a cycle
  checkpoint();
  shown().clear();
  EXPECT_EQ(addRec(f), 13);
  EXPECT_EQ(f.mFree(), 0);
  EXPECT_TRUE(sawWarning("cycle"));
}

TEST_F(BlockedFileTest, VerifyReportsACycleAndABadLinkInsteadOfAsserting) {
  PrefixFile& f = openFile("pcycle", 80);
  for (int i = 0; i < 10; ++i)
    addRec(f);
  EXPECT_TRUE(f.verify(true));
  f.del(3);
  f.del(7);  // oFree: 7 -> 3 through LINK2 at parity 0
  EXPECT_TRUE(f.verify(true));
  char* p;
  f.get(p, 3, false);
  stlong(7, p + 4);  // 3 -> 7: a cycle
  shown().clear();
  EXPECT_FALSE(f.verify(true));
  EXPECT_TRUE(sawWarning("Free pool inconsistency in blocked file pcycle.blk\nCycle in oFree w/recno 7, link 2, CP 0."));
  BoolArray seen(f.last() + 1);
  EXPECT_EQ(f.verifyFree(&seen), 7);
  stlong(4000, p + 4);
  EXPECT_FALSE(f.verify(true));
  EXPECT_TRUE(f.verify(false));
}

// The short form: laid from the header record's first byte after the
// prefix; where it runs past the record's page (28-byte prefix at 1 KB) or
// block (packed blocks of 1000 bytes) it continues in the next ones.
TEST_F(BlockedFileTest, VersionHeaderPageShortFormCrossesPagesAndBlocks) {
  struct Case {
    char const* name;
    int32_t recLen;
    int32_t prefix;
    int32_t reserved;
  } const cases[] = {{"pvers", 80, 20, 11}, {"nvers", 100, 28, 9}};
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    PrefixFile& f = openFile(c.name, c.recLen, c.prefix);
    for (int i = 0; i < 13; ++i)
      addRec(f);
    f.rSlots() = 0x1234;
    f.rBegin() = 77;
    f.lastRecId() = 4242;
    StorageEnv::currVersion = 3;
    ASSERT_TRUE(f.newVers(-1));
    EXPECT_EQ(f.sizeOfVersionHeader(), c.reserved);
    int32_t h = f.version(3).header;
    EXPECT_EQ((h - 1) % f.slotsPerBlock(), 0);
    EXPECT_EQ(f.last(), h - 1 + c.reserved);
    EXPECT_EQ(f.rSlots(3), 0x1234);
    EXPECT_EQ(f.rBegin(3), 77);
    EXPECT_EQ(f.rDepth(3), 2);
    CacheBuffer::flushAll(nullptr, false);
    std::string b = fileBytes(std::string(c.name) + ".blk");
    // Contiguous on disk in both layouts: blocks and pages follow each other.
    int64_t at = f.blockToOffset((h - 1) / f.slotsPerBlock()) + c.prefix;
    ASSERT_GE(int64_t(b.size()), at + 1004);
    EXPECT_EQ(ldlong(b.data() + at), f.last());
    EXPECT_EQ(ldushort(b.data() + at + 22), 0x1234);
    EXPECT_EQ(ldlong(b.data() + at + 24 + 3 * 8 + 4), h);
    EXPECT_EQ(ldlong(b.data() + at + 984), 0);
    EXPECT_EQ(ldlong(b.data() + at + 996), 0);
    EXPECT_EQ(ldlong(b.data() + at + 1000), 4242);
    char const* sp = b.data() + at + 988;
    TimeStamp ts;
    ts.load(sp);
    EXPECT_EQ(ts, f.lastMod());
    // The record prefix: stamp {null, 0, v} and -2.
    if (c.prefix >= 20) {
      EXPECT_EQ(ldushort(b.data() + at - c.prefix + 14), 3);
    }
    StorageEnv::currVersion = -1;
  }
}

TEST_F(BlockedFileTest, DeletedOldRecordGoesOnItsVersionChainWithTheParityBit) {
  PrefixFile& f = openFile("pchain", 80);
  for (int i = 0; i < 6; ++i)
    addRec(f);
  struct Hook {
    static int32_t versNum(TimeStamp const&) { return 0; }
  };
  svstore::StorageHooks h;
  h.versNum = &Hook::versNum;
  StorageEnv::setHooks(h);
  StorageEnv::currVersion = 1;
  ASSERT_TRUE(f.del(2));  // parity 0: LINK2 and the top bit
  EXPECT_EQ(uint32_t(f.version(0).chain), 0x80000002u);
  checkpoint();
  ASSERT_TRUE(f.del(5));  // parity 1: LINK1, no top bit
  EXPECT_EQ(f.version(0).chain, 5);
  char* p;
  f.get(p, 5, false);
  EXPECT_EQ(uint32_t(ldlong(p)), 0x80000002u);
  StorageEnv::setHooks(svstore::StorageHooks());
}

TEST_F(BlockedFileTest, FlushAllReleasesEveryPageOfTheFile) {
  PrefixFile& f = openFile("prelease", 80);
  PrefixFile& g = openFile("pkeep", 80);
  for (int i = 0; i < 40; ++i) {
    addRec(f);
    addRec(g);
  }
  CacheBuffer::flushAll(&f, true);
  for (int32_t b = 0; b < 4; ++b)
    EXPECT_EQ(CacheBuffer::find(&f, b), nullptr);
  EXPECT_NE(CacheBuffer::find(&g, 0), nullptr);
  char* p;
  f.get(p, 15, false);
  EXPECT_EQ(ldlong(p + 20), 15);
}

std::vector<std::string>& unlinked() {
  static std::vector<std::string> v;
  return v;
}

TEST_F(BlockedFileTest, UnlinkHandsEveryPartToTheDeferredList) {
  svstore::StorageHooks h;
  h.deferUnlink = [](String const& path, String const& schema, String const& file) {
    unlinked().push_back(zftest::str(path) + "|" + zftest::str(schema) + "|" + zftest::str(file));
  };
  StorageEnv::setHooks(h);
  unlinked().clear();
  PrefixFile& f = openFile("nunlink", 80);
  addRec(f);
  f.unlink("sales");
  ASSERT_EQ(unlinked().size(), 1u);
  EXPECT_EQ(unlinked()[0], tmp.file("nunlink.blk") + "|sales|nunlink.blk");
  EXPECT_EQ(::access(tmp.file("nunlink.blk").c_str(), F_OK), 0) << "nothing removed at the call";
  StorageEnv::setHooks(svstore::StorageHooks());
}

TEST_F(BlockedFileTest, NoRecordLengthRefusesEveryRecordOperation) {
  PrefixFile& f = openFile("pnolen", 0, 20);
  char* p;
  int32_t r;
  EXPECT_EQ(f.add(p, r, false), nullptr);
  EXPECT_EQ(f.addPage(p, r, false), nullptr);
  EXPECT_EQ(f.get(p, 1, false), nullptr);
  StorageEnv::currVersion = 0;
  EXPECT_FALSE(f.newVers(-1));
  EXPECT_EQ(f.rDepth(0), 0);
  EXPECT_TRUE(f.verify(true));
  StorageEnv::currVersion = -1;
}

TEST_F(BlockedFileTest, ChgPhNameReopensUnderTheNewPhysicalName) {
  PrefixFile& f = openFile("pold", 80);
  for (int i = 0; i < 5; ++i)
    addRec(f);
  checkpoint();
  ASSERT_TRUE(f.flush(true));  // header of the current parity and every page
  tmp.write("pcopy.blk", fileBytes("pold.blk"));
  ASSERT_TRUE(f.chgPhName("pcopy"));
  EXPECT_EQ(zftest::str(f.fullName(0)), tmp.file("pcopy.blk"));
  EXPECT_EQ(f.last(), 5);
  EXPECT_EQ(f.length(), 80);
  char* p;
  f.get(p, 5, false);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(ldlong(p + 20), 5);
}

TEST_F(BlockedFileTest, DumpsUseTheirTexts) {
  PrefixFile& f = openFile("pdump", 80);
  for (int i = 0; i < 4; ++i)
    addRec(f);
  f.del(2);
  shown().clear();
  f.printNRecs();
  f.printOFree();
  f.printMFree();
  f.dumpContents(false, -1, -1);
  std::string all;
  for (auto& s : shown())
    all += s + "|";
  EXPECT_NE(all.find("Records for file pdump.blk\nlast: 4, total: 4, nrecs: 3, mfree: 0, ofree: 1|"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("Other free list for file pdump.blk|Uso LINK2|2|End of list.|"), std::string::npos) << all;
  EXPECT_NE(all.find("Free list for file pdump.blk|Using LINK1|End of list.|"), std::string::npos) << all;
  EXPECT_NE(all.find("Table pdump.blk, range: 1 - 4 reclen 100|RECNO\tLK1\tLK2\tMTS\tOID|1\t"), std::string::npos)
      << all;
  EXPECT_NE(all.find("|4\t0\t0\t"), std::string::npos) << all;
}

}  // namespace
