// blkdrive DIR: drives blocked files under DIR through the shared page
// cache the way the server does, and checks every result.
//
// For 1 KB and 8 KB pages, packed and round-robin layouts and a 64 KB cache:
// 20,000 records, a third deleted, freed numbers reused only after a parity
// flip, three simulated checkpoints (headers of the current parity, cache
// flush, flip, state file), a retained version and its chain, reopen at the
// last checkpoint's copy with every live record read back, list totals,
// verify, and 100,000 random accesses over several files with a clean
// cache check. It then leaves small files in DIR/inspect whose bytes can be
// compared with the documented formats. It prints each failure and exits 1
// when there was any.
#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>

#include <svcore/Server.h>
#include <svcore/StateFile.h>
#include <svcore/SvConfigFile.h>

#include <blkfile/StorageEnv.h>
#include <zfound/BoolArray.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>
#include <zfound/PhysLayout.h>
#include <zfound/Portable.h>
#include <zfound/Process.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

int failures = 0;

// The texts of the last reports, kept while a check wants them.
std::vector<std::string> reported;

int keepReport(int, char const*, char const* text) {
  reported.push_back(text ? text : "");
  std::fprintf(stderr, "%s\n", text ? text : "");
  return 0;
}

void fail(std::string const& what) {
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  ++failures;
}

#define CHECK(cond, what)                                              \
  do {                                                                 \
    if (!(cond))                                                       \
      fail(std::string(what) + " [" #cond "] line " + std::to_string(__LINE__)); \
  } while (0)

// A table-like file: a 20-byte prefix (links, stamp, object id).
class DriveFile : public BlockedFile {
public:
  int32_t prefixSize() const override { return 20; }
};

constexpr int32_t kPrefix = 20;

// The content byte j of record n (after the number at offset 20).
char fillByte(int32_t n, int32_t j) { return char((n * 31 + j * 7) & 0xff); }

// Writes record n's image: the stamp, the number big-endian at 20, then
// the fill pattern.
void makeImage(std::vector<char>& r, int32_t slot, int32_t n) {
  r.assign(size_t(slot), 0);
  char* sp = r.data() + 8;
  Server::timeStamp.store(sp);
  stlong(n, r.data() + kPrefix);
  for (int32_t j = kPrefix + 4; j < slot; ++j)
    r[size_t(j)] = fillByte(n, j);
}

bool imageOk(char const* r, int32_t slot, int32_t n) {
  if (ldlong(r + kPrefix) != n)
    return false;
  for (int32_t j = kPrefix + 4; j < slot; ++j)
    if (r[j] != fillByte(n, j))
      return false;
  return true;
}

// Adds one record holding n's image; the record number it got.
int32_t addRecord(BlockedFile& f, int32_t n, int32_t* recOut = nullptr) {
  ++Server::timeStamp;
  char* p;
  int32_t recno = 0;
  CacheBuffer* cb = f.add(p, recno, true);
  if (!cb || !p) {
    fail("add refused on " + std::string(toCharPtr(f.nameExt())));
    return 0;
  }
  std::vector<char> r;
  (void)n;
  makeImage(r, f.recordLength(), recno);  // the record holds its own number
  f.flush(r.data(), cb, p, 0);
  cb->unlock();
  if (recOut)
    *recOut = recno;
  return recno;
}

bool recordOk(BlockedFile& f, int32_t recno) {
  std::vector<char> buf(size_t(f.recordLength()));
  if (!f.fill(buf.data(), recno))
    return false;
  return imageOk(buf.data(), f.recordLength(), recno);
}

std::string dirOf(std::string const& base, char const* sub) {
  std::string d = base + "/" + sub;
  ::mkdir(d.c_str(), 0777);
  return d;
}

// The checkpoint as the server takes it: headers of the current parity,
// every dirty page written and synced, the parity flipped, the state file.
void checkpoint(StateFile& st) {
  BlockedFile::writeAllHeaders(TimeStamp());
  CacheBuffer::takeWriteFailed();
  CacheBuffer::flushAll(nullptr, false);
  CHECK(!CacheBuffer::takeWriteFailed(), "checkpoint write-back");
  OsFile::syncAllCache();
  ++Server::timeStamp;
  Server::lastChkPoint = Server::timeStamp;
  Server::currCP = 1 - Server::currCP;
  st.parity = Server::currCP;
  st.lastChkPoint = Server::lastChkPoint;
  st.restartMarker = -1;
  st.journalPos = -1;
  st.journalFile = String();
  st.secondName = String();
  st.cachePageSize = Server::cachePageSize() / 1024;
  CHECK(st.writeHeader(), "state file written");
  ++Server::timeStamp;
}

// Counts a free list by walking its link word, bounded.
int32_t countList(BlockedFile& f, int32_t head, int32_t linkOff, std::set<int32_t>* out = nullptr) {
  int32_t n = 0;
  for (int32_t r = head; r != 0 && n <= f.last(); ++n) {
    if (r < 1 || r > f.last())
      return -1;
    if (out)
      out->insert(r);
    char* p = f.get(r);
    if (!p)
      return -1;
    r = ldlong(p + linkOff);
  }
  return n;
}

struct Scenario {
  int32_t pageKb;
  bool packed;
};

void runScenario(std::string const& dir, Scenario sc) {
  std::string tag = std::to_string(sc.pageKb) + "K " + (sc.packed ? "packed" : "round-robin");
  std::fprintf(stderr, "== %s\n", tag.c_str());
  Server::reset();
  Server::cachePageSize_sd = sc.pageKb * 1024;
  Server::currCP = 0;
  Server::timeStamp.setNow();
  Server::lastChkPoint = Server::timeStamp;
  ++Server::timeStamp;

  std::string work = dirOf(dir, ("s" + std::to_string(sc.pageKb) + (sc.packed ? "p" : "n")).c_str());
  std::string d1 = dirOf(work, "d1"), d2 = dirOf(work, "d2");
  std::string layoutText;
  for (char const* f : {"fa", "fb", "fc", "fd"}) {
    if (sc.packed)
      layoutText += std::string(f) + "\tPACKED\t" + d1 + "\n";
    else
      layoutText += std::string(f) + "\tROUNDROBIN\t16K\t" + d1 + "," + d2 + "\n";
  }
  std::string layoutPath = work + "/layout";
  FILE* lf = std::fopen(layoutPath.c_str(), "w");
  std::fputs(layoutText.c_str(), lf);
  std::fclose(lf);
  auto layout = std::make_unique<PhysLayout>(String(layoutPath.c_str()));
  Server::physLayout_sd = layout.get();
  Server::configFile = new SvConfigFile();
  Server::configFile->setHandleVersions(true);
  Server::currVersion = 0;  // as read from a state file without stamps
  Server::stateFile = new StateFile(String((work + "/ombrel.state").c_str()));
  StateFile& st = *Server::stateFile;
  CHECK(CacheBuffer::init(64), "cache of 64 KB");

  // ---- fill: 20,000 small records and 600 large ones ----
  auto fa = std::make_unique<DriveFile>();
  auto fb = std::make_unique<DriveFile>();
  CHECK(fa->open("fa", String(), "blk", 80, 0), tag + " open fa");
  CHECK(fb->open("fb", String(), "blk", 1500, 0), tag + " open fb");
  std::set<int32_t> liveA, liveB;
  for (int32_t i = 0; i < 20000; ++i)
    liveA.insert(addRecord(*fa, i));
  for (int32_t i = 0; i < 600; ++i)
    liveB.insert(addRecord(*fb, i));
  CHECK(fa->last() == 20000 && fa->nReg() == 20000, tag + " fa counts after fill");

  // ---- delete a third; no freed number is reused before the flip ----
  std::set<int32_t> freedA;
  for (int32_t r = 3; r <= 20000; r += 3) {
    ++Server::timeStamp;
    CHECK(fa->del(r), "del");
    freedA.insert(r);
    liveA.erase(r);
  }
  for (int32_t r = 2; r <= 600; r += 3) {
    ++Server::timeStamp;
    CHECK(fb->del(r), "del fb");
    liveB.erase(r);
  }
  CHECK(fa->nReg() == int32_t(liveA.size()), tag + " nReg after deletes");
  for (int32_t i = 0; i < 50; ++i) {
    int32_t r = addRecord(*fa, i);
    CHECK(freedA.count(r) == 0, tag + " freed number reused before a checkpoint");
    liveA.insert(r);
  }
  CHECK(fa->last() == 20050, tag + " allocation past last before the flip");

  // ---- checkpoint 1; freed numbers come back after the flip ----
  checkpoint(st);
  CHECK(Server::currCP == 1, "parity flipped");
  int32_t reused = 0;
  for (int32_t i = 0; i < 100; ++i) {
    int32_t r = addRecord(*fa, i);
    reused += freedA.count(r) ? 1 : 0;
    liveA.insert(r);
  }
  CHECK(reused == 100 && fa->last() == 20050, tag + " freed numbers reused after the flip");

  // ---- a retained version and its chain ----
  CHECK(fa->newVers(-1), tag + " newVers");
  int32_t vpage = fa->version(0).header;
  CHECK(vpage > 0 && (vpage - 1) % fa->slotsPerBlock() == 0, tag + " version page starts a block");
  CHECK(fa->rDepth(0) == fa->rDepth() && fa->rSlots(0) == fa->rSlots() && fa->rBegin(0) == fa->rBegin(),
        tag + " version page header read back");
  ++Server::timeStamp;
  st.versionStamp(0) = Server::timeStamp;
  Server::currVersion = 1;
  ++Server::timeStamp;
  checkpoint(st);  // checkpoint 2 (parity back to 0)
  // Records older than version 0 go on its chain when deleted.
  std::set<int32_t> chained;
  int32_t q = Server::currCP;
  int k = 0;
  for (int32_t r : std::set<int32_t>(liveA)) {
    if (r >= vpage || ++k > 40)
      break;
    ++Server::timeStamp;
    CHECK(fa->del(r), "del into version chain");
    chained.insert(r);
    liveA.erase(r);
  }
  uint32_t chainHead = uint32_t(fa->version(0).chain);
  CHECK(((chainHead & 0x80000000u) != 0) == (q == 0), tag + " chain top bit tells the parity");
  std::set<int32_t> onChain;
  for (uint32_t c = chainHead; c != 0 && onChain.size() <= chained.size();) {
    int32_t r = int32_t(c & 0x7fffffffu);
    onChain.insert(r);
    char* p = fa->get(r);
    if (!p)
      break;
    c = uint32_t(ldlong(p + ((c & 0x80000000u) ? 4 : 0)));
  }
  CHECK(onChain == chained, tag + " version chain holds the deleted old records");
  // A record made after the version goes on oFree.
  int32_t young = addRecord(*fa, 7);
  int32_t oBefore = fa->oFree();
  CHECK(fa->del(young), "del young");
  CHECK(fa->oFree() == young && oBefore != young, tag + " young record on oFree");
  liveA.erase(young);

  checkpoint(st);  // checkpoint 3
  CHECK(fa->verify(true) && fb->verify(true), tag + " verify");

  // ---- totals ----
  bool mA = Server::currCP != 1;
  std::set<int32_t> mSet, oSet;
  int32_t m = countList(*fa, fa->mFree(), mA ? 0 : 4, &mSet);
  int32_t o = countList(*fa, fa->oFree(), mA ? 4 : 0, &oSet);
  CHECK(m >= 0 && o >= 0, tag + " lists walk");
  int32_t reserved = fa->sizeOfVersionHeader();
  CHECK(m + o + fa->nReg() + reserved + int32_t(chained.size()) == fa->last(),
        tag + " every record is live, free, chained or reserved");
  reported.clear();
  MsgHandler oldHandler = displayErrorHandler(keepReport);
  fa->printNRecs();
  displayErrorHandler(oldHandler);
  std::string want = "last: " + std::to_string(fa->last()) + ", total: " + std::to_string(m + o + fa->nReg()) +
                     ", nrecs: " + std::to_string(fa->nReg()) + ", mfree: " + std::to_string(m) +
                     ", ofree: " + std::to_string(o);
  CHECK(reported.size() == 1 && reported[0].find(want) != std::string::npos, tag + " printNRecs totals");
  BoolArray seen(fa->last() + 1);
  for (int32_t r : liveA)
    seen[r] = 1;
  CHECK(fa->verifyFree(&seen) == 0, tag + " no live record on a free list");

  // ---- reopen at the last checkpoint's copy ----
  int32_t lastA = fa->last(), nRegA = fa->nReg(), lastB = fb->last();
  fa.reset();
  fb.reset();
  CHECK(CacheBuffer::nUsed() == 0, tag + " closing drops every page");
  StateFile st2(String((work + "/ombrel.state").c_str()));
  CHECK(st2.readHeader(), tag + " state file read");
  Server::currCP = st2.parity;
  fa = std::make_unique<DriveFile>();
  fb = std::make_unique<DriveFile>();
  CHECK(fa->open("fa", String(), "blk", 80, -1), tag + " reopen fa");
  CHECK(fb->open("fb", String(), "blk", 1500, -1), tag + " reopen fb");
  CHECK(fa->last() == lastA && fa->nReg() == nRegA && fb->last() == lastB, tag + " header read back");
  CHECK(!fb->inModList() && fa->inModList(), tag + " modified list as the stored level bytes say");
  int32_t bad = 0;
  for (int32_t r : liveA)
    bad += recordOk(*fa, r) ? 0 : 1;
  for (int32_t r : liveB)
    bad += recordOk(*fb, r) ? 0 : 1;
  CHECK(bad == 0, tag + " every live record read back (" + std::to_string(bad) + " bad)");

  // ---- random accesses over several files ----
  auto fc = std::make_unique<DriveFile>();
  auto fd = std::make_unique<DriveFile>();
  CHECK(fc->open("fc", String(), "blk", 300, 0), "open fc");
  CHECK(fd->open("fd", String(), "blk", 4000, 0), "open fd");
  std::set<int32_t> liveC, liveD;
  for (int32_t i = 0; i < 3000; ++i)
    liveC.insert(addRecord(*fc, i));
  for (int32_t i = 0; i < 300; ++i)
    liveD.insert(addRecord(*fd, i));
  std::vector<std::pair<BlockedFile*, std::vector<int32_t>>> files = {
      {fa.get(), {liveA.begin(), liveA.end()}}, {fb.get(), {liveB.begin(), liveB.end()}},
      {fc.get(), {liveC.begin(), liveC.end()}}, {fd.get(), {liveD.begin(), liveD.end()}}};
  std::mt19937 rng(12345);
  bad = 0;
  for (int32_t i = 0; i < 100000; ++i) {
    auto& [f, recs] = files[rng() % files.size()];
    int32_t r = recs[rng() % recs.size()];
    if (f->recordLength() <= Server::cachePageSize() && (i & 1)) {
      char* p;
      f->get(p, r, false);
      bad += (p && imageOk(p, f->recordLength(), r)) ? 0 : 1;
    } else {
      bad += recordOk(*f, r) ? 0 : 1;
    }
  }
  CHECK(bad == 0, tag + " random accesses (" + std::to_string(bad) + " bad)");
  CHECK(CacheBuffer::checkCache(), tag + " cache check clean");
  CHECK(CacheBuffer::nExtra() == 0 && CacheBuffer::nLocked() == 0, tag + " no pins, no extra buffers");
  CHECK(BlockedFile::nTries() > 0 && BlockedFile::nHits() > 0, tag + " micro cache counts");

  // A record number outside 1..last is refused, not followed.
  Exception::last(Exception(0));
  char* p = nullptr;
  CHECK(fa->get(p, fa->last() + 1, false) == nullptr && p == nullptr, tag + " get past last refused");
  CHECK(!fa->del(0) && !fa->mark(-5), tag + " bad record numbers refused");
  CHECK(Exception::last().code() != 0, tag + " refusal recorded");
  Exception::last(Exception(0));

  fa.reset();
  fb.reset();
  fc.reset();
  fd.reset();
  CacheBuffer::cleanUp();
  Server::physLayout_sd = nullptr;
  Server::reset();
}

// The inspection files: page 1 KB, slot 100, 25 records each holding its
// number at slot offset 20, started at parity 0.
void makeInspectFiles(std::string const& dir) {
  std::string in = dirOf(dir, "inspect");
  Server::reset();
  Server::cachePageSize_sd = 1024;
  Server::currCP = 0;
  Server::timeStamp.setNow();
  Server::lastChkPoint = Server::timeStamp;
  std::string layoutPath = dir + "/inspect.layout";
  FILE* lf = std::fopen(layoutPath.c_str(), "w");
  std::fprintf(lf, "hdr1p\tPACKED\t%s\nhdr3p\tPACKED\t%s\nhdr1n\tROUNDROBIN\t2K\t%s\n", in.c_str(), in.c_str(),
               in.c_str());
  std::fclose(lf);
  auto layout = std::make_unique<PhysLayout>(String(layoutPath.c_str()));
  Server::physLayout_sd = layout.get();
  CHECK(CacheBuffer::init(64), "inspect cache");
  StateFile st(String((in + "/ombrel.state").c_str()));
  auto p1 = std::make_unique<DriveFile>();
  auto n1 = std::make_unique<DriveFile>();
  auto p3 = std::make_unique<DriveFile>();
  CHECK(p1->open("hdr1p", String(), "blk", 80, 0), "open hdr1p");
  CHECK(n1->open("hdr1n", String(), "blk", 80, 0), "open hdr1n");
  CHECK(p3->open("hdr3p", String(), "blk", 80, 0), "open hdr3p");
  for (int32_t i = 1; i <= 25; ++i) {
    addRecord(*p1, i);
    addRecord(*n1, i);
    addRecord(*p3, i);
  }
  CHECK(p1->blockToOffset(1) == 3048 && n1->blockToOffset(1) == 3072, "record 11 placement");
  checkpoint(st);
  p1.reset();
  n1.reset();
  checkpoint(st);
  checkpoint(st);
  p3.reset();
  CHECK(st.parity == 1, "state parity after three checkpoints");

  // The bytes as the formats give them.
  auto bytesOf = [](std::string const& path) {
    std::string s;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
      return s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
      s.append(buf, n);
    std::fclose(f);
    return s;
  };
  auto be = [](std::string const& s, size_t at) { return at + 4 <= s.size() ? ldlong(s.data() + at) : -999; };
  for (char const* name : {"hdr1p.blk", "hdr1n.blk"}) {
    std::string s = bytesOf(in + "/" + name);
    std::string t = std::string(name);
    CHECK(be(s, 0) == 25 && be(s, 12) == 25 && be(s, 1000) == 15, t + " copy 0 last, nReg, lastRecId");
    CHECK(s.size() > 21 && s[20] == 2 && s[21] == 2, t + " copy 0 bytes 20-21");
    size_t rec11 = std::string(name) == "hdr1p.blk" ? 3048 : 3072;
    CHECK(be(s, rec11 + 20) == 11, t + " record 11 placement");
  }
  std::string s3 = bytesOf(in + "/hdr3p.blk");
  CHECK(s3.size() > 1044 && s3[20] == 0 && s3[1024 + 20] == 0, "hdr3p both copies level 0");
  CHECK(be(s3, 0) == 25 && be(s3, 1024) == 25, "hdr3p both copies hold last");
  std::string sf = bytesOf(in + "/ombrel.state");
  CHECK(sf.size() == 92 && uint32_t(be(sf, 0)) == 0xCABE9010u && be(sf, 4) == 1 && be(sf, 16) == -1 &&
            be(sf, 20) == -1 && sf[24] == 0 && sf[56] == 0 && be(sf, 88) == 1,
        "state file bytes");
  CacheBuffer::cleanUp();
  Server::physLayout_sd = nullptr;
  Server::reset();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: blkdrive DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  svstore::StorageEnv::startUpAsServer();
  for (Scenario sc : {Scenario{1, true}, Scenario{1, false}, Scenario{8, true}, Scenario{8, false}})
    runScenario(dir, sc);
  makeInspectFiles(dir);
  if (failures) {
    std::fprintf(stderr, "blkdrive: %d failures\n", failures);
    return 1;
  }
  std::fprintf(stderr, "blkdrive: all checks passed\n");
  return 0;
}
