// Local schemas: descriptor files read and rewritten byte for byte, damaged
// descriptors refused, slots, listing, identity, virtual files and region
// locks, with real processes where more than one process is involved.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "DescrEncoder.h"
#include "SchemaSets.h"
#include "TestSupport.h"

using namespace zftest;

namespace {

int openFds() {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
  return n;
}

class LocalSchema : public ::testing::Test {
protected:
  void SetUp() override {
    startUpOnce("zxdbtest-1.0");
    mkdir(dir1().c_str(), 0777);
    mkdir(dir2().c_str(), 0777);
    env_ = std::make_unique<ScopedEnv>("dbase", dir1() + ":" + dir2());
  }
  void TearDown() override { CloseAllSchemas(); }
  std::string dir1() const { return tmp_.path() + "/one"; }
  std::string dir2() const { return tmp_.path() + "/two"; }
  void noneOpen() {
    EXPECT_EQ(CurrentSchema(), -1);
    EXPECT_EQ(FindNextSchema(0), -1);
  }

  TempDir tmp_;
  SchemaSetSweep sweep_{tmp_.path()};
  std::unique_ptr<ScopedEnv> env_;
};

TEST_F(LocalSchema, DescriptorIsRewrittenByteForByte) {
  EncSchema s = sampleSchema("shop");
  std::string path = writeDescriptorFile(dir2(), s);
  int32_t h = OpenSchema("shop", 0x10);
  ASSERT_EQ(h, 0x10000);
  s_schema* sp = _GetSchPtr(h);
  ASSERT_NE(sp, nullptr);
  EXPECT_STREQ(sp->d.descr, "Shop data");
  EXPECT_EQ(std::string(sp->dir), dir2() + "/");
  ASSERT_NE(sp->tables[3].tab, nullptr);
  EXPECT_EQ(sp->tables[2].tab, nullptr);
  EXPECT_STREQ(sp->tables[3].tab->indexes[1].d.name, "byQty");
  EXPECT_NE(sp->tables[3].tab->fields[0].incheck, nullptr);
  EXPECT_NE(sp->tables[3].tab->fields[0].cmask, nullptr);
  ASSERT_EQ(SetDescrSchema(h, "New shop text"), 0);
  ASSERT_EQ(CloseSchema(h), 0);
  s.descr = "New shop text";
  Bytes want = encodeDescriptor(s);
  EXPECT_EQ(readFile(path), std::string(want.begin(), want.end()));
  struct stat st{};
  EXPECT_NE(stat((dir2() + "/shop/shop.scw").c_str(), &st), 0);
  noneOpen();
}

TEST_F(LocalSchema, WithoutDesignFlagTextsAreAbsent) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  int32_t h = OpenSchema("shop", 0);
  ASSERT_EQ(h, 0x10000);
  s_schema* sp = _GetSchPtr(h);
  EXPECT_EQ(sp->d.descr, nullptr);
  EXPECT_EQ(sp->tables[3].tab->d.descr, nullptr);
  EXPECT_EQ(sp->tables[3].tab->fields[1].d.descr, nullptr);
  EXPECT_EQ(sp->tables[3].tab->indexes[0].d.name, nullptr);
  EXPECT_STREQ(sp->tables[3].tab->fields[1].d.name, "tiny");
}

TEST_F(LocalSchema, SlotsAndListing) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  writeDescriptorFile(dir2(), sampleSchema("stock"));
  writeDescriptorFile(dir2(), sampleSchema("third"));
  mkdir((dir2() + "/notaschema").c_str(), 0777);
  EXPECT_EQ(OpenSchema("nothere", 0), -1);
  EXPECT_EQ(_io_errno_, 11);
  int32_t a = OpenSchema("shop", 0);
  int32_t b = OpenSchema("stock", 0);
  EXPECT_EQ(a, 0x10000);
  EXPECT_EQ(b, 0x20000);
  EXPECT_EQ(CurrentSchema(), b);
  EXPECT_EQ(OpenSchema("SHOP", 0), a);
  EXPECT_EQ(CurrentSchema(), a);
  SwitchToSchema(b);
  EXPECT_EQ(OpenSchema((dir1() + "/shop").c_str(), 0), a);
  EXPECT_EQ(CurrentSchema(), a);
  EXPECT_EQ(OpenSchema("third", 0), -1);
  EXPECT_EQ(_io_errno_, 14);
  char* list = GetSchemas();
  ASSERT_NE(list, nullptr);
  std::string l = list;
  def_Free(list, __FILE__, __LINE__);
  EXPECT_NE(l.find("shop"), std::string::npos);
  EXPECT_NE(l.find("stock"), std::string::npos);
  EXPECT_NE(l.find("third"), std::string::npos);
  EXPECT_EQ(l.find("notaschema"), std::string::npos);
  EXPECT_EQ(CurrentSchema(), a);
  EXPECT_EQ(FindSchema("stock"), b);
  EXPECT_EQ(FindNextSchema(a), b);
  EXPECT_EQ(FindNextSchema(b), -1);
}

// Damaged descriptors, each a change of a good image and the code it gives.
TEST_F(LocalSchema, OverlongDirectoriesAreSkipped) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  ScopedEnv longer("dbase", "/" + std::string(997, 'd') + ":" + dir1());
  EXPECT_EQ(OpenSchema("shop", 0), 0x10000);
  char* list = GetSchemas();
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list, "shop");
  def_Free(list, __FILE__, __LINE__);
  std::string path = "/" + std::string(1100, 'p') + "/shop";
  // A directory over 1023 characters is refused, never cut.
  EXPECT_EQ(OpenSchema(path.c_str(), 0), -1);
  EXPECT_EQ(_io_errno_, 11);
}

TEST_F(LocalSchema, DamagedDescriptorsAreRefused) {
  EncSchema s = sampleSchema("shop");
  Bytes good = encodeDescriptor(s);
  std::string path = writeDescriptorFile(dir1(), s);
  auto tryOpen = [&](Bytes const& img) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!img.empty()) std::fwrite(img.data(), 1, img.size(), f);
    std::fclose(f);
    int32_t h = OpenSchema("shop", 0x10);
    int32_t code = h < 0 ? _io_errno_ : 0;
    if (h >= 0) CloseSchema(h);
    return code;
  };
  int fdsBefore = openFds();
  // Every cut of the file is refused.
  for (size_t n = 0; n < good.size(); n += (n < 200 ? 1 : 7)) {
    int32_t code = tryOpen(Bytes(good.begin(), good.begin() + long(n)));
    EXPECT_TRUE(code == 9 || code == 5) << "cut at " << n << " gave " << code;
    noneOpen();
  }
  struct Case {
    char const* what;
    size_t at;
    uint8_t value;
    int32_t code;
  } cases[] = {
      {"magic", 0, 0x8c, 9},          {"name", 34, 'x', 9},           {"version", 4, 0, 6},
      {"description offset", 51, 0x7f, 9}, {"area size", 57, 0xff, 9}, {"part 1 size", 61, 0xff, 9},
      {"longs count", 68, 0xff, 9},   {"table count", 52, 200, 5},   {"enum count", 70, 40, 9},
  };
  for (auto const& c : cases) {
    Bytes img = good;
    img[c.at] = c.value;
    EXPECT_EQ(tryOpen(img), c.code) << c.what;
    noneOpen();
  }
  // Named bytes of the table records: slot 1 "clients" (one field), slot 2
  // empty, slot 3 "item" (fields, then its two indexes with key parts).
  size_t tables = 72 + (good[56] | (good[57] << 8)) + 8 * 5;
  size_t clients = tables, item = tables + 2 * 44 + 44;
  size_t itemFields = item + 44, index0 = itemFields + 44 * s.tables[2].fields.size();
  struct TableCase {
    char const* what;
    size_t at;
    std::vector<uint8_t> bytes;
  } tcases[] = {
      {"no fields", clients + 22, {0}},
      {"record shorter than its prefix", clients + 24, {2, 0}},
      {"field past the record", itemFields + 10, {0xf0, 0}},
      {"unknown storage type", itemFields + 14, {11, 0}},
      {"field without a name", itemFields, {0xff, 0xff, 0xff, 0xff}},
      {"name offset outside part 1", itemFields, {0xf0, 0xff, 0, 0}},
      {"node size not a multiple of 1024", index0 + 10, {0xe8, 0x03}},
      {"node size 0", index0 + 10, {0, 0}},
      {"no key parts", index0 + 8, {0, 0}},
      {"key part naming no field", index0 + 12 + 8, {99}},
      {"key part of another table", index0 + 12 + 9, {1}},
      {"key part outside the record", index0 + 12 + 6, {0xf0, 0}},
      {"key length not the parts' sum", index0 + 6, {9, 0}},
      {"field count past the file", item + 22, {250}},
  };
  for (auto const& c : tcases) {
    Bytes img = good;
    std::copy(c.bytes.begin(), c.bytes.end(), img.begin() + long(c.at));
    EXPECT_EQ(tryOpen(img), 5) << c.what;
    noneOpen();
  }
  // Flips in every byte of the table records: refused or read, never a crash.
  for (size_t at = tables; at < good.size(); ++at) {
    Bytes img = good;
    img[at] ^= 0xff;
    int32_t code = tryOpen(img);
    EXPECT_TRUE(code == 0 || code == 5 || code == 9) << "flip at " << at << " gave " << code;
    noneOpen();
  }
  EXPECT_EQ(openFds(), fdsBefore);
}

TEST_F(LocalSchema, UserWithoutPrivilegesIsRefused) {
  EncSchema s = sampleSchema("shop");
  s.longs.clear();
  writeDescriptorFile(dir1(), s);
  chmod(tmp_.path().c_str(), 0755);
  RunResult r = runInChild([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 90;
    execl(ZXDB_PROBE, ZXDB_PROBE, "open", "shop", (char*)nullptr);
    return 91;
  });
  EXPECT_EQ(r.out, "open -1 code 16\n") << r.err;
  // The owner of the descriptor holds every right.
  RunResult own = runProgram({ZXDB_PROBE, "open", "shop"}, "", {{"dbase", dir1()}});
  EXPECT_EQ(own.out, "open 65536 code 0\n") << own.err;
}

TEST_F(LocalSchema, ProgramOnTheHeader) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  RunResult r = runProgram({ZXDB_PROBE, "info", "shop"}, "", {{"dbase", dir1()}});
  EXPECT_EQ(r.status, 3) << r.err;
  for (char const* s : {"dbmsType 2", "libzxdb_s", "User:", "O.S.:", "Comp:", "Date:", "P.L.:", "open 65536"})
    EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
  EncSchema s = sampleSchema("shop");
  s.descr = "written at stop";
  Bytes want = encodeDescriptor(s);
  EXPECT_EQ(readFile(dir1() + "/shop/shop.sco"), std::string(want.begin(), want.end()));
}

TEST_F(LocalSchema, DescriptorBudget) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  mode_t oldMask = umask(022);
  // Two table files of the schema and two more: four files in use.
  RunResult r = runProgram({ZXDB_PROBE, "files", "shop", "2"}, "", {{"dbase", dir1()}, {"NFILES", "2:4"}});
  EXPECT_EQ(r.status, 0) << r.err;
  size_t fds = 0;
  for (size_t at = r.out.find("fd "); at != std::string::npos; at = r.out.find("fd ", at + 1)) {
    ++fds;
    EXPECT_EQ(r.out.substr(r.out.find("cloexec", at), 9), "cloexec 1");
    EXPECT_GT(std::stoi(r.out.substr(at + 3)), 5);
  }
  EXPECT_LE(fds, 2u) << r.out;
  EXPECT_NE(r.out.find("table clients read 0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("table item read 0"), std::string::npos) << r.out;
  size_t reads = 0;
  for (size_t at = r.out.find("read 0 abcdefg zeros 1"); at != std::string::npos;
       at = r.out.find("read 0 abcdefg zeros 1", at + 1))
    ++reads;
  EXPECT_EQ(reads, 2u) << r.out;
  struct stat st{};
  ASSERT_EQ(stat((dir1() + "/shop/f0.tab").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  umask(oldMask);

  r = runProgram({ZXDB_PROBE, "files", "shop", "3"}, "", {{"dbase", dir1()}, {"NFILES", "2:4"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Too many open database files"), std::string::npos) << r.err;

  std::string cwd = tmp_.path();
  RunResult k = runProgram({"/bin/sh", "-c", std::string("cd ") + cwd + " && exec " + ZXDB_PROBE + " locks shop"}, "",
                           {{"dbase", dir1()}, {"NFILES", "1"}});
  EXPECT_EQ(k.status, 1) << k.out << k.err;
  EXPECT_NE(k.err.find("hold locks"), std::string::npos) << k.err;
  EXPECT_EQ(readFile(cwd + "/locks.lis"), "shop\titem.tab\tLocks=1\n");
}

volatile sig_atomic_t programAlarm = 0;
void onProgramAlarm(int) { programAlarm = 1; }

TEST_F(LocalSchema, RegionLockHeldByAnotherProcess) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  std::string file = dir1() + "/shop/item.tab";
  int fd = open(file.c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  if (holder == 0) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_start = 1024;
    fl.l_len = 100;
    fcntl(fd, F_SETLK, &fl);
    ssize_t w = write(ready[1], "x", 1);
    (void)w;
    sleep(6);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  close(ready[1]);
  close(fd);

  int32_t h = OpenSchema("shop", 0);
  ASSERT_GE(h, 0);
  s_schema* sp = _GetSchPtr(h);
  s_vfile* vf = _DbOpen(sp, "item", "tab", O_RDWR);
  char buf[100];
  EXPECT_EQ(_DbRead(vf, buf, 100, 1024, 3), -2);
  EXPECT_EQ(_DbRead(vf, buf, 10, 0, 3), 0);
  _DbFree(vf, 10, 0);

  RunResult r = runInChild([&] {
    struct sigaction sa{};
    sa.sa_handler = onProgramAlarm;
    sigaction(SIGALRM, &sa, nullptr);
    alarm(4);
    int32_t got = _DbRead(vf, buf, 100, 1024, 1);
    std::printf("got %d alarm %d\n", int(got), int(programAlarm));
    std::fflush(stdout);
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("got 0 alarm 1"), std::string::npos) << r.out << r.err;
  std::string want = "Process " + std::to_string(holder) + " holds a lock on item.tab";
  size_t at = r.err.find(want);
  EXPECT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(want, at + 1), std::string::npos) << r.err;
  int st;
  waitpid(holder, &st, 0);
}

}  // namespace

namespace {

// The side file a rewrite leaves when it stops between its two writes.
void writeSide(std::string const& path, Bytes const& image, bool complete) {
  Bytes b = image;
  if (complete) {
    uint8_t t[8] = {uint8_t(image.size()), uint8_t(image.size() >> 8), uint8_t(image.size() >> 16),
                    uint8_t(image.size() >> 24), 'S', 'C', 'W', '1'};
    b.insert(b.end(), t, t + 8);
  } else {
    b.resize(b.size() / 2);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

TEST_F(LocalSchema, InterruptedRewriteIsCompletedOrDiscarded) {
  EncSchema s = sampleSchema("shop");
  std::string path = writeDescriptorFile(dir1(), s);
  std::string side = dir1() + "/shop/shop.scw";
  EncSchema changed = s;
  changed.descr = "finished";
  Bytes want = encodeDescriptor(changed);
  struct stat before{}, after{};
  stat(path.c_str(), &before);

  writeSide(side, want, false);
  int32_t h = OpenSchema("shop", 0x10);
  ASSERT_GE(h, 0);
  EXPECT_STREQ(_GetSchPtr(h)->d.descr, "Shop data");
  CloseSchema(h);
  EXPECT_NE(stat(side.c_str(), &after), 0);

  writeSide(side, want, true);
  h = OpenSchema("shop", 0x10);
  ASSERT_GE(h, 0);
  EXPECT_STREQ(_GetSchPtr(h)->d.descr, "finished");
  CloseSchema(h);
  EXPECT_EQ(readFile(path), std::string(want.begin(), want.end()));
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_NE(stat(side.c_str(), &after), 0);
}

TEST_F(LocalSchema, OversizedRewriteKeepsTheOldFile) {
  EncSchema s = sampleSchema("shop");
  std::string path = writeDescriptorFile(dir1(), s);
  std::string old = readFile(path);
  RunResult r = runInChild([&] {
    int32_t h = OpenSchema("shop", 0x10);
    std::string big(70000, 'x');
    SetDescrSchema(h, big.c_str());
    return CloseSchema(h) == 0 ? 0 : 2;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("does not fit"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(path), old);
}

TEST_F(LocalSchema, RefusedCallsReportInsteadOfEnding) {
  RunResult r = runInChild([&] {
    uint32_t id[2] = {1, 2};
    std::printf("%d %d %d\n", int(GetDbTable(3)), int(ldDbObj(id, id)), _AttachTable(nullptr) == nullptr);
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "-1 -1 1\n");
  EXPECT_NE(r.err.find("GetDbTable is not supported by libzxdb_s"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("_AttachTable is not supported by libzxdb_s"), std::string::npos) << r.err;
  EXPECT_EQ(dbmsType(), 2);
  EXPECT_EQ(SetTableCache(0, 3), 0);
  EXPECT_EQ(TableCacheSize(0), -1);
  EXPECT_EQ(SetCollateSet(0, "x"), -1);
}

}  // namespace

namespace {

TEST_F(LocalSchema, InvalidHandlesAreReported) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  ASSERT_EQ(OpenSchema("shop", 0), 0x10000);
  struct Case {
    char const* what;
    int32_t handle;
    char const* text;
  } cases[] = {
      {"schema slot 3", 0x30000, "Invalid schema handle"},
      {"closed slot 2", 0x20000, "Invalid schema handle"},
      {"handle with a table", 0x10100, "Invalid schema handle"},
  };
  for (auto const& c : cases) {
    RunResult r = runInChild([&] { return _GetSchPtr(c.handle) ? 0 : 3; });
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << c.what << ": " << r.err;
  }
  struct DictCase {
    char const* what;
    std::function<bool()> call;
  } dict[] = {
      {"empty table slot", [] { return _GetTabPtr(0x10200) != nullptr; }},
      {"table slot 255", [] { return _GetTabPtr(0x1ff00) != nullptr; }},
      {"field 99", [] { return _GetFldPtr(0x10363) != nullptr; }},
      {"field 0", [] { return _GetFldPtr(0x10300) != nullptr; }},
      {"index 5", [] { return _GetIndPtr(0x10305) != nullptr; }},
  };
  for (auto const& c : dict) {
    RunResult r = runInChild([&] { return c.call() ? 0 : 3; });
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err.find("Invalid database handle"), std::string::npos) << c.what << ": " << r.err;
  }
  EXPECT_NE(_GetFldPtr(0x1030e), nullptr);  // the last field of "item"
  EXPECT_NE(_GetIndPtr(0x10301), nullptr);
  RunResult none = runInChild([&] {
    CloseAllSchemas();
    return _GetSchPtr(0) ? 0 : 3;
  });
  EXPECT_NE(none.err.find("No current schema"), std::string::npos) << none.err;
  EXPECT_EQ(_GetSchPtr(0), _GetSchPtr(0x10000));
}

TEST_F(LocalSchema, VirtualFilesAndFailedLocks) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  int32_t h = OpenSchema("shop", 0);
  s_schema* sp = _GetSchPtr(h);
  s_vfile* a = _DbOpen(sp, "item", "tab", O_RDWR);
  EXPECT_EQ(_DbOpen(sp, "item", "tab", O_RDWR), a);
  EXPECT_EQ(_DbOpen(sp, "item", "tab", O_RDWR), sp->tables[3].tab->data);
  EXPECT_EQ(_DbOpen(sp, "missing", "i00", O_RDWR), nullptr);
  char path[DB_PATH_MAX];
  EXPECT_STREQ(_DbFileName(path, sp, "ITEM", "I01"), (dir1() + "/shop/item.i01").c_str());
  EXPECT_EQ(_DbWrite(a, "12345678", 8, 0), 0);
  EXPECT_EQ(_DbStat(a, 1), 8);
  EXPECT_EQ(_DbRename(sp, "item", "tab", "copy", "tab"), 0);
  EXPECT_EQ(_DbUnlink(sp, "copy", "tab"), 0);
  EXPECT_EQ(_DbUnlink(sp, "copy", "tab"), 0);  // a missing file is no error
  // A lock that fails for a reason no retry helps is not obtained.
  RunResult r = runInChild([] { return int(zeph_lock(-1, 3, 10)) * 10 + int(zeph_lock(-1, 1, 10)); });
  EXPECT_EQ(r.status, 11) << r.err;
  EXPECT_EQ(vfd(reinterpret_cast<s_vfile*>(path), 1), -1);
}

// A file entered unopened with create-and-truncate flags is made empty once,
// at its first opening; a reopening after the budget closed it keeps its data.
TEST_F(LocalSchema, LazyFileIsNotTruncatedWhenReopened) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  int32_t h = OpenSchema("shop", 0);
  s_schema* sp = _GetSchPtr(h);
  ASSERT_NE(sp, nullptr);
  s_vfile* lazy = _DbOpen(sp, "lazy", "tab", O_RDWR | O_CREAT | O_TRUNC | 0x1000);
  ASSERT_NE(lazy, nullptr);
  ASSERT_EQ(_DbWrite(lazy, "kept", 4, 0), 0);
  // Enough other files to make the budget close the least recently used one.
  std::vector<s_vfile*> others;
  for (int i = 0; i < 40; ++i) {
    std::string name = "o" + std::to_string(i);
    s_vfile* vf = _DbOpen(sp, name.c_str(), "tab", O_RDWR | O_CREAT);
    ASSERT_NE(vf, nullptr);
    others.push_back(vf);
  }
  char back[5] = {};
  ASSERT_EQ(_DbRead(lazy, back, 4, 0, 0), 0);
  EXPECT_STREQ(back, "kept");
  EXPECT_EQ(_DbStat(lazy, 1), 4);
  for (s_vfile* vf : others) _DbClose(vf);
  _DbClose(lazy);
}

TEST_F(LocalSchema, FlushRewritesAndReopensInTheSameSlot) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  writeDescriptorFile(dir2(), sampleSchema("stock"));
  int32_t a = OpenSchema("shop", 0x10);
  int32_t b = OpenSchema("stock", 0x10);
  ASSERT_EQ(SetDescrSchema(a, "flushed"), 0);
  SwitchToSchema(b);
  _flush_schemas(0);
  EXPECT_EQ(FindSchema("shop"), a);
  EXPECT_EQ(CurrentSchema(), b);
  EXPECT_STREQ(_GetSchPtr(a)->d.descr, "flushed");
  EXPECT_EQ(_GetSchPtr(a)->rewrite, 0);
  EncSchema s = sampleSchema("shop");
  s.descr = "flushed";
  Bytes want = encodeDescriptor(s);
  EXPECT_EQ(readFile(dir1() + "/shop/shop.sco"), std::string(want.begin(), want.end()));
}

TEST_F(LocalSchema, BudgetValuesOutOfRangeTakeTheDefaults) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  // A table size of 0 or past 65,535 becomes 100 (so 16 files fit); a
  // budget past the descriptor limit, or none, becomes 12.
  for (char const* v : {"2:0", "2:70000", "0:x", "999999999:100"}) {
    RunResult r = runProgram({ZXDB_PROBE, "files", "shop", "14"}, "", {{"dbase", dir1()}, {"NFILES", v}});
    EXPECT_EQ(r.status, 0) << v << ": " << r.err;
    size_t fds = 0;
    for (size_t at = r.out.find("fd "); at != std::string::npos; at = r.out.find("fd ", at + 1)) ++fds;
    EXPECT_LE(fds, v[0] == '2' ? 2u : 12u) << v;
  }
}

TEST(LibraryImage, ExportsTheInterfaceOnly) {
  RunResult d = runProgram({"readelf", "-d", ZXDB_LIB});
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.out.find("libzeph"), std::string::npos) << d.out;
  EXPECT_EQ(d.out.find("zfound"), std::string::npos) << d.out;
  RunResult n = runProgram({"nm", "-D", "--defined-only", ZXDB_LIB});
  ASSERT_EQ(n.status, 0);
  for (char const* s : {" OpenSchema\n", " _DbOpen\n", " dbmsType\n", " stop\n", " Stop\n", " zeph_lock\n"})
    EXPECT_NE(n.out.find(s), std::string::npos) << s;
  // No C++ name of the library's own (the C++ library's unique objects aside).
  for (char const* kind : {" T _Z", " D _Z", " B _Z", " R _Z", " W _Z", " V _Z"})
    EXPECT_EQ(n.out.find(kind), std::string::npos) << kind << "\n" << n.out;
  RunResult z = runProgram({"readelf", "-d", ZEPH_LIB});
  EXPECT_EQ(z.out.find("libzxdb"), std::string::npos);
  EXPECT_EQ(z.out.find("zfound"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(LocalSchema, FailuresAreReportedWhenAsked) {
  EncSchema s = sampleSchema("shop");
  s.tables[0].fields.clear();
  writeDescriptorFile(dir1(), s);
  struct Case {
    char const* name;
    char const* text;
  } cases[] = {{"shop", "Schema descriptor damaged in table clients."},
               {"nothere", "Schema nothere not found in the database directories."}};
  for (auto const& c : cases) {
    RunResult r = runInChild([&] { return OpenSchema(c.name, 4) == -1 ? 0 : 2; });
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
  }
  // Without flag 4 the same failures are quiet.
  RunResult q = runInChild([&] { return OpenSchema("shop", 0) == -1 && _io_errno_ == 5 ? 0 : 2; });
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.err, "");
}

}  // namespace

namespace {

// The budget closes least recently used files, but never one on which the
// process holds a lock: closing any descriptor of a file drops its locks.
TEST_F(LocalSchema, LockedFilesSurviveTheBudget) {
  writeDescriptorFile(dir1(), sampleSchema("shop"));
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    setenv("NFILES", "2", 1);
    execl(ZXDB_PROBE, ZXDB_PROBE, "keep", "shop", "5", (char*)nullptr);
    _exit(91);
  }
  close(in[0]);
  close(out[1]);
  std::string got;
  char c;
  while (got.find("ready\n") == std::string::npos && read(out[0], &c, 1) == 1) got += c;
  EXPECT_EQ(got, "ready\n");

  int32_t h = OpenSchema("shop", 0);
  s_vfile* vf = _DbOpen(_GetSchPtr(h), "item", "tab", O_RDWR);
  char buf[10];
  EXPECT_EQ(_DbRead(vf, buf, 10, 0, 3), -2);
  close(in[1]);
  int st = 0;
  waitpid(pid, &st, 0);
  close(out[0]);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
  EXPECT_EQ(_DbRead(vf, buf, 10, 0, 3), 0);
}

}  // namespace
