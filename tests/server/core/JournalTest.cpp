// The journal in process: the exact bytes of every record kind, the client
// chain read backwards, damaged files answered without a crash, records
// larger than the buffer, the 32-bit offset limit, and the writer through
// the fault-injecting file seam.
#include <svcore/Journal.h>
#include <svobject/Client.h>

#include "FaultFs.h"
#include "TestSupport.h"

#include <zfound/Portable.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A small row: prefix of 20 bytes (stamp at 8, OID at 16), field 0 (key)
// at 20 (4 bytes), field 1 at 24 (8 bytes), field 2 at 32 (8 bytes).
JournalRowLayout smallLayout() {
  JournalRowLayout l;
  l.recordLength = 40;
  l.prefixSize = 20;
  l.keyParts = {{20, 4}};
  l.fields = {{0, 20, 4}, {1, 24, 8}, {2, 32, 8}};
  return l;
}

std::vector<char> row(JournalRowLayout const& l, int32_t oid, int32_t key, char fill) {
  std::vector<char> r(size_t(l.recordLength), fill);
  std::memset(r.data(), 0, 8);
  for (int i = 8; i < 16; ++i) r[size_t(i)] = char(0x10 + i);
  stlong(oid, r.data() + 16);
  stlong(key, r.data() + 20);
  return r;
}

void be(Bytes& b, int32_t v) {
  unsigned char x[4];
  stlong(v, x);
  b.insert(b.end(), x, x + 4);
}

void put(Bytes& b, char const* p, size_t n) { b.insert(b.end(), p, p + n); }

Bytes header(int32_t kind, int32_t len, int32_t cid, int32_t tn, int32_t po, int32_t pl, int32_t w, int32_t oid) {
  Bytes b;
  for (int32_t v : {kind, len, cid, tn, po, pl, w, oid}) be(b, v);
  return b;
}

Bytes fileBytes(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(std::string const& path, Bytes const& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<char const*>(b.data()), std::streamsize(b.size()));
}

std::vector<std::string> journalFiles(std::string const& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (std::strncmp(e->d_name, "rlog", 4) == 0) out.push_back(e->d_name);
  closedir(d);
  return out;
}

constexpr int32_t kWord = 0x00105007;
// Any non-null table pointer: the row readers below go through layouts.
SvTable* const kSomeTable = reinterpret_cast<SvTable*>(std::uintptr_t(0x1000));
SvTable* findWord(int32_t w) { return w == kWord ? kSomeTable : nullptr; }

class JournalTest : public ::testing::Test {
protected:
  JournalTest() : j(32, String(tmp.path().c_str())), client(getpid(), "prog", "", 0, 0, "node", "tty", false) {
    client.setId(3);
    client.setRollbackStart(-1, -1);
    j.setTableFinder(findWord);
  }
  std::string path() const { return std::string(toCharPtr(j.fileName())); }

  zftest::TempDir tmp;
  Journal j;
  Client client;
};

TEST_F(JournalTest, NewFileHasAnOpenPrefixAndRotationChainsNames) {
  EXPECT_EQ(32768, Journal(8, String("x")).buffLen());
  Journal big(40, String("x"));
  EXPECT_EQ(40960, big.buffLen());
  EXPECT_FALSE(big.setBuffLen(16));
  EXPECT_EQ(40960, big.buffLen());

  ASSERT_TRUE(j.newFile());
  std::string const first = path();
  Bytes b = fileBytes(first);
  ASSERT_EQ(80u, b.size());
  EXPECT_EQ((Bytes{0x7F, 0x83, 0x2B, 0xC1, 0, 0, 0, 0, 0, 0, 0, 0}), Bytes(b.begin(), b.begin() + 12));
  EXPECT_EQ(Bytes(64, 0), Bytes(b.begin() + 16, b.end()));

  ASSERT_TRUE(j.newFile());
  std::string const firstBase = first.substr(first.rfind('/') + 1);
  std::string const second = std::string(toCharPtr(j.baseName()));
  b = fileBytes(first);
  EXPECT_EQ(1, ldlong(b.data() + 8));
  EXPECT_EQ(second, std::string(reinterpret_cast<char*>(b.data() + 16)));
  b = fileBytes(path());
  EXPECT_EQ(0, ldlong(b.data() + 8));
  EXPECT_EQ(firstBase, std::string(reinterpret_cast<char*>(b.data() + 48)));
  EXPECT_EQ(2u, journalFiles(tmp.path()).size());
  EXPECT_EQ(String("rlog.*"), Journal::filePattern());
}

TEST_F(JournalTest, EveryRecordKindHasItsExactBytes) {
  ASSERT_TRUE(j.newFile());
  JournalRowLayout const l = smallLayout();
  std::vector<char> const a = row(l, 77, 5, 'a');
  std::vector<char> b = row(l, 77, 5, 'a');
  std::memset(b.data() + 24, 'b', 8);  // field 1 changed, field 2 kept
  std::vector<char> k = row(l, 77, 6, 'a');  // the key changed only

  TimeStamp ts;
  char tsb[8];
  char* tp = tsb;
  ts.store(tp);

  struct Case {
    char const* name;
    std::function<int32_t()> write;
    std::function<Bytes(int32_t at)> expect;
  };
  int32_t prevOff = -1, prevLen = -1;
  auto chainHdr = [&](int32_t kind, int32_t len, int32_t w, int32_t oid, int32_t at) {
    Bytes h = header(kind, len, 3, -1, prevOff, prevLen, w, oid);
    prevOff = at;
    prevLen = len + 32;
    return h;
  };
  std::vector<Case> const cases = {
      {"ADD", [&] { return j.putRow(Journal::ADD, &client, l, kWord, a.data()); },
       [&](int32_t at) {
         Bytes e = chainHdr(0, 32, kWord, 77, at);
         put(e, a.data() + 8, 32);
         return e;
       }},
      {"DEL", [&] { return j.putRow(Journal::DEL, &client, l, kWord, a.data()); },
       [&](int32_t at) {
         Bytes e = chainHdr(1, 32, kWord, 77, at);
         put(e, a.data() + 8, 32);
         return e;
       }},
      {"UPDATE", [&] { return j.putUpdateRow(&client, l, kWord, b.data(), a.data(), false); },
       [&](int32_t at) {
         Bytes body;
         put(body, b.data() + 20, 4);
         put(body, b.data() + 8, 12);
         put(body, a.data() + 8, 12);
         body.push_back(1);
         put(body, b.data() + 24, 8);
         put(body, a.data() + 24, 8);
         body.push_back(0xFF);
         Bytes e = chainHdr(2, int32_t(body.size()), kWord, 77, at);
         e.insert(e.end(), body.begin(), body.end());
         return e;
       }},
      {"UPDATE nothing changed", [&] { return j.putUpdateRow(&client, l, kWord, a.data(), a.data(), false); },
       [&](int32_t at) {
         Bytes body;
         put(body, a.data() + 20, 4);
         put(body, a.data() + 8, 12);
         put(body, a.data() + 8, 12);
         body.push_back(0xFF);
         Bytes e = chainHdr(2, int32_t(body.size()), kWord, 77, at);
         e.insert(e.end(), body.begin(), body.end());
         return e;
       }},
      {"UPDATEPKEY", [&] { return j.putUpdateRow(&client, l, kWord, k.data(), a.data(), true); },
       [&](int32_t at) {
         Bytes body;
         put(body, k.data() + 20, 4);
         put(body, a.data() + 20, 4);
         put(body, k.data() + 8, 12);
         put(body, a.data() + 8, 12);
         body.push_back(0);
         put(body, k.data() + 20, 4);
         put(body, a.data() + 20, 4);
         body.push_back(0xFF);
         Bytes e = chainHdr(6, int32_t(body.size()), kWord, 77, at);
         e.insert(e.end(), body.begin(), body.end());
         return e;
       }},
      {"READYTOEND", [&] { return j.putReadyToEnd(&client, String("lead"), 2, ts); },
       [&](int32_t at) {
         Bytes body;
         be(body, 4);
         put(body, "lead", 4);
         be(body, 2);
         put(body, tsb, 8);
         Bytes e = chainHdr(7, int32_t(body.size()), 0, 0, at);
         e.insert(e.end(), body.begin(), body.end());
         return e;
       }},
      {"ADDSCHEMA", [&] { return j.putAddSchema(&client, String("sch"), 0x1234); },
       [&](int32_t at) {
         Bytes body;
         be(body, 3);
         put(body, "sch", 3);
         be(body, 0x1234);
         Bytes e = chainHdr(9, int32_t(body.size()), 0, 0, at);
         e.insert(e.end(), body.begin(), body.end());
         return e;
       }},
      {"DELSCHEMA empty name", [&] { return j.putDelSchema(&client, String("")); },
       [&](int32_t at) {
         Bytes e = chainHdr(10, 4, 0, 0, at);
         be(e, 0);
         return e;
       }},
      {"ENDTRANSACTION", [&] { return j.putEndTransaction(&client); },
       [&](int32_t at) { return chainHdr(3, 0, 0, 0, at); }},
      {"ABORTTRANSACTION", [&] { return j.putAbortTransaction(&client); },
       [&](int32_t at) { return chainHdr(4, 0, 0, 0, at); }},
      {"ADDCLIENT",
       [&] {
         JournalClient c;
         c.id = 3;
         c.pid = 99;
         c.path = String("p");
         c.uid = 5;
         c.gid = 6;
         c.node = String("nd");
         c.tty = String("t");
         return j.putAddClient(c);
       },
       [&](int32_t) {
         Bytes body;
         for (int32_t v : {3, 99, 1}) be(body, v);
         body.push_back('p');
         for (int32_t v : {0, 5, 6, 2}) be(body, v);
         put(body, "nd", 2);
         be(body, 1);
         body.push_back('t');
         Bytes e = header(11, int32_t(body.size()), -1, -1, -1, -1, 0, 0);
         e.insert(e.end(), body.begin(), body.end());
         return e;
       }},
      {"DELCLIENT", [&] { return j.putDelClient(3); },
       [&](int32_t) {
         Bytes e = header(12, 4, -1, -1, -1, -1, 0, 0);
         be(e, 3);
         return e;
       }},
      {"ACTIVETRANS",
       [&] {
         int32_t const at = j.putActiveTransTable(1);
         JournalTrans t;
         t.clientId = 3;
         t.transNum = 8;
         t.lastOffset = 200;
         t.lastLength = 64;
         t.leaderStamp = ts;
         j.putTrans(t);
         j.putDefDel(kWord, 12);
         j.putEndDefDels();
         j.putEndActiveTrans();
         return at;
       },
       [&](int32_t) {
         Bytes body;
         for (int32_t v : {1, 3, 8, 200, 64, 0}) be(body, v);
         put(body, tsb, 8);
         for (int32_t v : {12, kWord, -1}) be(body, v);
         Bytes e = header(5, int32_t(body.size()), -1, -1, -1, -1, 0, 0);
         e.insert(e.end(), body.begin(), body.end());
         return e;
       }},
      {"COMPLETETRANS",
       [&] {
         int32_t const at = j.putCompleteTransTable(2);
         j.putCompleteTransItem(ts, 2);
         j.putCompleteTransItem(ts, 3);
         return at;
       },
       [&](int32_t) {
         Bytes e = header(8, 28, -1, -1, -1, -1, 0, 0);
         be(e, 2);
         put(e, tsb, 8);
         be(e, 2);
         put(e, tsb, 8);
         be(e, 3);
         return e;
       }},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t const at = c.write();
    ASSERT_GE(at, 80);
    ASSERT_TRUE(j.flush());
    Bytes const all = fileBytes(path());
    Bytes const expect = c.expect(at);
    ASSERT_EQ(size_t(at) + expect.size(), all.size());
    EXPECT_EQ(expect, Bytes(all.begin() + at, all.end()));
  }
  EXPECT_STREQ("ADD", Journal::opName(0));
  EXPECT_STREQ("DELCLIENT", Journal::opName(12));
  EXPECT_STREQ("<<<INVALID>>>", Journal::opName(13));
  EXPECT_STREQ("<<<INVALID>>>", Journal::opName(-1));
}

TEST_F(JournalTest, ReadsForwardsAndAlongTheClientChainBackwards) {
  ASSERT_TRUE(j.newFile());
  JournalRowLayout const l = smallLayout();
  std::vector<char> const a = row(l, 1, 5, 'a');
  std::vector<char> b = row(l, 1, 5, 'a');
  std::memset(b.data() + 32, 'z', 8);
  j.putRow(Journal::ADD, &client, l, kWord, a.data());
  j.putRow(Journal::ADD, &client, l, 0x7770F001, a.data());  // a table that is gone
  j.putUpdateRow(&client, l, kWord, b.data(), a.data(), false);
  j.putEndTransaction(&client);
  int32_t off = client.rollbackStart(0), len = client.rollbackStart(1);

  // Backwards from the last record, without a flush first.
  std::vector<int32_t> kinds;
  SvTable* t = nullptr;
  for (int32_t k; (k = j.prevOp(t, off, len)) != -1;) {
    ASSERT_NE(Journal::kDamaged, k) << toCharPtr(j.damage());
    kinds.push_back(k);
    if (k == Journal::UPDATE) {
      std::vector<char> r = b;
      ASSERT_TRUE(j.getUpdateKey(l, nullptr));
      ASSERT_TRUE(j.getUpdateOld(l, r.data()));
      EXPECT_EQ(a, r);
    }
  }
  EXPECT_EQ((std::vector<int32_t>{3, 2, 0, 0}), kinds);

  // Forwards from the start: the gone table's record is skipped.
  ASSERT_TRUE(j.restart(j.baseName(), 80));
  kinds.clear();
  int32_t cid = 0, tn = 0;
  for (int32_t k; (k = j.nextOp(cid, tn, t, off, len)) != -1;) {
    ASSERT_NE(Journal::kDamaged, k) << toCharPtr(j.damage());
    kinds.push_back(k);
    EXPECT_EQ(3, cid);
    if (k == Journal::ADD) {
      std::vector<char> r(40, 0);
      ASSERT_TRUE(j.getRow(l, r.data()));
      EXPECT_EQ(0, std::memcmp(r.data() + 8, a.data() + 8, 32));
      EXPECT_EQ(kSomeTable, t);
    } else if (k == Journal::UPDATE) {
      std::vector<char> r = a;
      ASSERT_TRUE(j.getUpdateKey(l, r.data()));
      ASSERT_TRUE(j.getUpdateNew(l, r.data()));
      EXPECT_EQ(b, r);
    }
  }
  EXPECT_EQ((std::vector<int32_t>{0, 2, 3}), kinds);
  EXPECT_FALSE(j.nextFile());  // still open: no successor
}

TEST_F(JournalTest, RecordsLargerThanTheBufferAreWrittenAndReadBack) {
  ASSERT_TRUE(j.newFile());
  JournalRowLayout l;
  l.recordLength = 100000;
  l.prefixSize = 20;
  l.fields = {{0, 20, 99980}};
  std::vector<char> a(100000, 'q');
  stlong(9, a.data() + 16);
  std::vector<char> b = a;
  b[50000] = 'r';
  j.putRow(Journal::ADD, &client, l, kWord, a.data());
  j.putUpdateRow(&client, l, kWord, b.data(), a.data(), false);
  j.putEndTransaction(&client);
  ASSERT_TRUE(j.ok());
  ASSERT_TRUE(j.restart(j.baseName(), 80));
  int32_t cid, tn, off, len;
  SvTable* t;
  ASSERT_EQ(Journal::ADD, j.nextOp(cid, tn, t, off, len));
  std::vector<char> r(100000, 0);
  ASSERT_TRUE(j.getRow(l, r.data()));
  EXPECT_EQ(0, std::memcmp(r.data() + 8, a.data() + 8, 99992));
  ASSERT_EQ(Journal::UPDATE, j.nextOp(cid, tn, t, off, len));
  ASSERT_TRUE(j.getUpdateKey(l, nullptr));
  ASSERT_TRUE(j.getUpdateNew(l, r.data()));
  EXPECT_EQ('r', r[50000]);
  EXPECT_EQ(Journal::ENDTRANSACTION, j.nextOp(cid, tn, t, off, len));
}

// A damaged file never reaches an assertion: the reader answers the end of
// the data (a cut tail of the file being written) or damage.
TEST_F(JournalTest, DamagedFilesAreReportedNotTrusted) {
  ASSERT_TRUE(j.newFile());
  JournalRowLayout const l = smallLayout();
  std::vector<char> const a = row(l, 1, 5, 'a');
  j.putRow(Journal::ADD, &client, l, kWord, a.data());  // 80..144
  j.putAddSchema(&client, String("sch"), 7);            // 144..
  j.flush();
  Bytes const good = fileBytes(path());
  std::string const base = std::string(toCharPtr(j.baseName()));

  struct Case {
    char const* name;
    std::function<void(Bytes&)> damage;
    int32_t closed;
    int32_t expectFirst;   // first nextOp answer
    bool schemaReadOk;     // when the first answer is ADD: the second's body
  };
  std::vector<Case> const cases = {
      {"sound, closed", [](Bytes&) {}, 1, Journal::ADD, true},
      {"unknown kind", [](Bytes& b) { stlong(13, b.data() + 80); }, 0, Journal::kDamaged, true},
      {"cut tail of an open file", [](Bytes& b) { b.resize(100); }, 0, -1, true},
      {"cut tail of a closed file", [](Bytes& b) { b.resize(100); }, 1, Journal::kDamaged, true},
      {"length never stored, open", [](Bytes& b) { stlong(-1, b.data() + 84); }, 0, -1, true},
      {"length never stored, closed", [](Bytes& b) { stlong(-1, b.data() + 84); }, 1, Journal::kDamaged, true},
      {"negative length", [](Bytes& b) { stlong(-7, b.data() + 84); }, 0, Journal::kDamaged, true},
      {"length past the end of a closed file", [](Bytes& b) { stlong(0x10000000, b.data() + 84); }, 1,
       Journal::kDamaged, true},
      {"length past the end of an open file", [](Bytes& b) { stlong(0x10000000, b.data() + 84); }, 0, -1, true},
      {"string longer than its record", [](Bytes& b) { stlong(5000, b.data() + 144 + 32); }, 1, Journal::ADD,
       false},
      {"string length negative", [](Bytes& b) { stlong(-2, b.data() + 144 + 32); }, 1, Journal::ADD, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = good;
    c.damage(b);
    stlong(c.closed, b.data() + 8);
    writeBytes(path(), b);
    ASSERT_TRUE(j.restart(String(base.c_str()), 80));
    int32_t cid, tn, off, len;
    SvTable* t;
    int32_t const k = j.nextOp(cid, tn, t, off, len);
    EXPECT_EQ(c.expectFirst, k);
    // A claimed length never sizes the buffer beyond what the file holds.
    EXPECT_LE(j.buffLen(), int32_t(b.size()) + 32768);
    if (k == Journal::kDamaged) {
      EXPECT_NE(std::string::npos, std::string(toCharPtr(j.damage())).find(base));
    }
    if (k != Journal::ADD) continue;
    {
      // A chain link claiming more than the file holds is damage.
      SvTable* pt = nullptr;
      int32_t poff = 80, plen = 0x10000000;
      EXPECT_EQ(Journal::kDamaged, j.prevOp(pt, poff, plen));
      EXPECT_LE(j.buffLen(), int32_t(b.size()) + 32768);
      ASSERT_TRUE(j.restart(String(base.c_str()), 80));
      ASSERT_EQ(Journal::ADD, j.nextOp(cid, tn, t, off, len));
    }
    ASSERT_TRUE(j.getRow(l, nullptr));
    ASSERT_EQ(Journal::ADDSCHEMA, j.nextOp(cid, tn, t, off, len));
    String name;
    int32_t id = 0;
    EXPECT_EQ(c.schemaReadOk, j.getAddSchema(name, id));
    if (c.schemaReadOk) {
      EXPECT_EQ(String("sch"), name);
    }
  }

  // An update naming a field the table lacks, and a wrong magic.
  std::vector<char> bb = a;
  bb[30] = 'x';
  ASSERT_TRUE(j.newFile());
  j.putUpdateRow(&client, l, kWord, bb.data(), a.data(), false);
  j.flush();
  Bytes u = fileBytes(path());
  u[80 + 32 + 4 + 24] = 9;  // the changed field's number
  writeBytes(path(), u);
  ASSERT_TRUE(j.restart(j.baseName(), 80));
  int32_t cid, tn, off, len;
  SvTable* t;
  ASSERT_EQ(Journal::UPDATE, j.nextOp(cid, tn, t, off, len));
  ASSERT_TRUE(j.getUpdateKey(l, nullptr));
  std::vector<char> r(40, 0);
  EXPECT_FALSE(j.getUpdateNew(l, r.data()));
  u[0] = 0;
  writeBytes(path(), u);
  EXPECT_FALSE(j.restart(j.baseName(), 80));
  EXPECT_NE(std::string::npos, std::string(toCharPtr(j.damage())).find("magic"));
}

TEST_F(JournalTest, NewFileAfterRestartCutsTheCutTailBeforeClosing) {
  ASSERT_TRUE(j.newFile());
  JournalRowLayout const l = smallLayout();
  std::vector<char> const a = row(l, 1, 5, 'a');
  j.putRow(Journal::ADD, &client, l, kWord, a.data());
  j.flush();
  Bytes b = fileBytes(path());
  b.resize(b.size() + 10, 0xEE);  // a record cut by a crash
  writeBytes(path(), b);
  std::string const first = path();
  ASSERT_TRUE(j.restart(j.baseName(), 80));
  int32_t cid, tn, off, len;
  SvTable* t;
  ASSERT_EQ(Journal::ADD, j.nextOp(cid, tn, t, off, len));
  EXPECT_EQ(-1, j.nextOp(cid, tn, t, off, len));
  ASSERT_TRUE(j.newFile());
  Bytes const closed = fileBytes(first);
  EXPECT_EQ(144u, closed.size());
  EXPECT_EQ(1, ldlong(closed.data() + 8));
}

TEST_F(JournalTest, OffsetsNeverPassTheirLimit) {
  ASSERT_TRUE(j.newFile());
  j.setOffsetLimit(400, 200);
  JournalRowLayout const l = smallLayout();
  std::vector<char> const a = row(l, 1, 5, 'a');
  EXPECT_FALSE(j.nearLimit());
  for (int i = 0; i < 3; ++i) EXPECT_GE(j.putRow(Journal::ADD, &client, l, kWord, a.data()), 0);
  EXPECT_TRUE(j.nearLimit());
  for (int i = 0; i < 3; ++i) j.putRow(Journal::ADD, &client, l, kWord, a.data());
  EXPECT_FALSE(j.ok());
  EXPECT_LE(fileBytes(path()).size(), 400u);
}

TEST_F(JournalTest, FlushedRecordsSurviveACrashAndAFailedWriteMakesTheJournalUnsound) {
  zftest::FaultFs fs;
  ASSERT_TRUE(j.newFile());
  JournalRowLayout const l = smallLayout();
  std::vector<char> const a = row(l, 1, 5, 'a');
  j.putRow(Journal::ADD, &client, l, kWord, a.data());
  j.putEndTransaction(&client);
  ASSERT_TRUE(j.sync());
  j.putRow(Journal::ADD, &client, l, kWord, a.data());  // buffered only: lost
  fs.crash();
  // A second reader sees what reached the disk.
  Journal r(32, String(tmp.path().c_str()));
  r.setTableFinder(findWord);
  ASSERT_TRUE(r.restart(j.baseName(), 80));
  int32_t cid, tn, off, len;
  SvTable* t;
  std::vector<int32_t> kinds;
  for (int32_t k; (k = r.nextOp(cid, tn, t, off, len)) >= 0;) kinds.push_back(k);
  EXPECT_EQ((std::vector<int32_t>{0, 3}), kinds);

  ASSERT_TRUE(j.newFile());
  fs.failWrite(1, 5, "rlog");
  j.putEndTransaction(&client);
  EXPECT_FALSE(j.sync());
  EXPECT_FALSE(j.ok());
  EXPECT_EQ(-1, j.putEndTransaction(&client));
}

// Power loss after a failing write or sync at each point of a run of
// transactions, each ended and synced: a reader of the file finds every
// transaction whose end was synced, whole, and the end of no other.
TEST_F(JournalTest, PowerLossKeepsEverySyncedCommitWholeAndNothingElse) {
  enum Fault { None, Write, Sync };
  JournalRowLayout const l = smallLayout();
  for (Fault fault : {None, Write, Sync}) {
    for (int n = 1; n <= (fault == None ? 1 : 6); ++n) {
      SCOPED_TRACE(std::to_string(int(fault)) + " at " + std::to_string(n));
      zftest::FaultFs fs;
      Journal w(32, String(tmp.path().c_str()));
      ASSERT_TRUE(w.newFile());
      if (fault == Write) fs.failWrite(n, 5, "rlog");
      if (fault == Sync) fs.failSync(n, 5, "rlog");
      Client c(getpid(), "prog", "", 0, 0, "node", "tty", false);
      c.setId(4);
      std::vector<int32_t> acknowledged;
      for (int32_t tn = 1; tn <= 6; ++tn) {
        c.beginTrans(tn, 0);
        c.setRollbackStart(-1, -1);
        for (int32_t k = 0; k <= tn % 3; ++k) {
          std::vector<char> const a = row(l, tn * 10 + k, tn * 10 + k, 'a');
          w.putRow(Journal::ADD, &c, l, kWord, a.data());
        }
        w.putEndTransaction(&c);
        bool const synced = w.sync() && w.ok();
        c.delTrans();
        if (!synced) break;
        acknowledged.push_back(tn);
      }
      // An unsound journal accepts nothing more.
      if (fault != None) {
        EXPECT_FALSE(w.ok());
      }
      fs.crash();

      Journal r(32, String(tmp.path().c_str()));
      r.setTableFinder(findWord);
      ASSERT_TRUE(r.restart(w.baseName(), 80));
      std::vector<int32_t> ended;
      std::vector<int32_t> rows(8, 0);
      int32_t cid, tn, off, len;
      SvTable* t;
      for (int32_t k; (k = r.nextOp(cid, tn, t, off, len)) != -1;) {
        ASSERT_NE(k, Journal::kDamaged) << toCharPtr(r.damage());
        ASSERT_TRUE(tn >= 1 && tn <= 6);
        if (k == Journal::ADD) ++rows[size_t(tn)];
        if (k == Journal::ENDTRANSACTION) ended.push_back(tn);
      }
      EXPECT_EQ(ended, acknowledged);
      for (int32_t e : ended) EXPECT_EQ(rows[size_t(e)], e % 3 + 1) << e;
      if (fault == None) {
        EXPECT_EQ(acknowledged.size(), 6u);
      }
    }
  }
}

}  // namespace
