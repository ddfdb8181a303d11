// fuzz_svseeds FUZZDIR: writes the seed corpora of the server's fuzz targets
// with the server's own writers: sessions of requests in the dispatch
// target's step form, the run log and the journal an in-process server
// records while it serves such sessions, state files from StateFile, the
// table and catalog files a schema creation leaves. Run by hand; its output
// is kept in the repository.
#include "FuzzSupport.h"
#include "ServerFuzz.h"

#include <svcore/Journal.h>
#include <svcore/Server.h>
#include <svcore/StateFile.h>

#include <blkfile/CacheBuffer.h>
#include <svcatalog/SvSchema.h>

#include <zfound/LoopConnection.h>
#include <zfound/MsgHeader.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
std::string out;

void put(std::string const& target, std::string const& name, std::string const& bytes) {
  fs::create_directories(out + "/" + target + "/corpus");
  std::ofstream f(out + "/" + target + "/corpus/" + name, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string readAll(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string u8(unsigned v) { return std::string(1, char(v & 0xff)); }
std::string be32(uint32_t v) { return u8(v >> 24) + u8(v >> 16) + u8(v >> 8) + u8(v); }

// A request body from the channel's own encoders.
struct Body {
  LoopConnection enc{4096};
  Body& w(int32_t v) {
    enc << v;
    return *this;
  }
  Body& s(char const* v) {
    enc << String(v);
    return *this;
  }
  std::vector<uint32_t> words() const { return enc.words(); }
};

// One step of the dispatch target's input (see fuzz/dispatch/dispatch.cpp).
struct Session {
  std::string bytes;
  std::vector<std::pair<int, std::vector<uint32_t>>> parts;  // for the live run
  Session& step(int c, int o, int op, Body const& b) {
    std::vector<uint32_t> w = b.words();
    if (w.size() > size_t(MSG_PART_WORDS)) w.resize(size_t(MSG_PART_WORDS));
    bytes += u8(unsigned(c)) + u8(unsigned(o)) + u8(unsigned(op)) + u8(unsigned(w.size()));
    for (uint32_t x : w) bytes += be32(x);
    return *this;
  }
  Session& connect(int slot, int32_t version = Server::kProtocolVersion) {
    Body b;
    b.w(version).w(int32_t(geteuid())).w(int32_t(getegid())).s("/usr/bin/fz").s("-x").s("node").s("tty").w(1);
    return step(4 | slot, 0, DBM_CONNECT, b);
  }
  // Attaches schema "fz" (its id the slot's last result), then table "T".
  Session& attach(int slot) {
    Body s, t;
    s.w(16).w(1).w(0).s("fz");
    t.w(32).w(0).w(0).s("T");
    return step(slot, 0, DBM_ATTACH, s).step(slot, 3, DBM_ATTACH, t);
  }
};

// Sessions of requests: the dispatch corpus, and what the live runs record.
std::vector<std::pair<std::string, Session>> sessions() {
  std::vector<std::pair<std::string, Session>> v;
  {
    Session s;
    s.connect(0).attach(0);
    Body add, info, cl, mon, cp;
    add.w(1).w(9).s("gnu").w(1).w(2).w(3).w(4);
    s.step(0, 3, DBM_ADDRECORD, add);
    info.w(1);
    s.step(0, 0, DBM_GETINFO, info);
    cl.w(2);
    s.step(0, 0, DBM_GETCLIENTSINFO, cl);
    s.step(0, 0, DBM_MONITOR, mon);
    cp.w(0);
    s.step(0, 0, DBM_CHECKPOINT, cp);
    v.emplace_back("session", s);
  }
  {
    Session s;
    s.connect(0).connect(1).attach(0).attach(1);
    Body beg, end, add, abort;
    beg.w(0);
    s.step(0, 0, DBM_BEGTRANSACT, beg);
    add.w(1).w(10).s("hen").w(5).w(6).w(7).w(8);
    s.step(0, 3, DBM_ADDRECORD, add);
    end.w(1);
    s.step(0, 0, DBM_ENDTRANSACT, end);
    s.step(1, 0, DBM_BEGTRANSACT, beg);
    Body add2;
    add2.w(1).w(11).s("owl").w(1).w(1).w(1).w(1);
    s.step(1, 3, DBM_ADDRECORD, add2);
    s.step(1, 0, DBM_ABORTTRANSACT, abort);
    v.emplace_back("transactions", s);
  }
  {
    Session s;
    s.connect(0).connect(1);
    Body lock, stop, shut, none;
    s.step(0, 0, DBM_LOCK, none);
    stop.w(0);
    s.step(1, 0, DBM_STOP, stop);
    shut.s("");
    s.step(1, 0, DBM_SHUT, shut);
    s.step(0, 0, DBM_FREE, none);
    s.step(1, 0, DBM_DISCONNECT, none);
    v.emplace_back("lockstop", s);
  }
  {
    Session s;
    s.connect(0);
    Body other, slash, drop, detach, create;
    other.w(32).w(1).w(0).s("fz");
    s.step(0, 0, DBM_ATTACH, other);
    slash.w(16).w(1).w(1).s("a/b").s("d");
    s.step(0, 0, DBM_ATTACH, slash);
    drop.s("nosuch");
    s.step(0, 0, DBM_DROP, drop);
    detach.w(12345);
    s.step(0, 0, DBM_DETACH, detach);
    create.w(16).w(1).w(1).s("fy").s("another");
    s.step(0, 0, DBM_ATTACH, create);
    s.connect(2, 999);
    v.emplace_back("hostile", s);
  }
  return v;
}

// Runs the sessions' steps through a live server (as the dispatch target
// reads them), with the given extra configuration and run log.
void runSessions(zffuzz::FuzzServer& server) {
  for (auto const& [name, s] : sessions()) {
    (void)name;
    int32_t ids[4] = {-1, -1, -1, -1};
    uint32_t last[4] = {0, 0, 0, 0};
    zffuzz::Input in(reinterpret_cast<uint8_t const*>(s.bytes.data()), s.bytes.size());
    while (!in.empty()) {
      int const c = in.u8(), o = in.u8(), op = int8_t(in.u8()), n = in.u8();
      std::vector<uint32_t> w;
      for (int k = 0; k < n; ++k) w.push_back(in.u32());
      int const slot = c & 3;
      long const type = (c & 4) ? zffuzz::FuzzServer::connectType() : long(ids[slot]) + 1;
      uint32_t const obj = o == 3 ? last[slot] : 0x70000000u;
      int32_t const r = server.call(type, obj, op, w);
      if (c & 4) ids[slot] = r;
      if (r >= 0) last[slot] = uint32_t(r);
    }
    server.dropClients();
  }
}

void dispatchSeeds() {
  for (auto const& [name, s] : sessions()) put("dispatch", name, s.bytes);
  // A request in two parts, and a raw batch of two void requests.
  Session m;
  m.connect(0);
  Body big;
  big.w(1).w(12).s(std::string(1200, 'x').c_str()).w(1).w(2).w(3).w(4);
  std::vector<uint32_t> w = big.words();
  std::string bytes = m.bytes;
  std::vector<uint32_t> first(w.begin(), w.begin() + MSG_PART_WORDS), rest(w.begin() + MSG_PART_WORDS, w.end());
  bytes += u8(32) + u8(2) + u8(DBM_ADDRECORD) + u8(unsigned(first.size()));
  for (uint32_t x : first) bytes += be32(x);
  bytes += u8(8) + u8(2) + u8(DBM_ADDRECORD) + u8(unsigned(rest.size()));
  for (uint32_t x : rest) bytes += be32(x);
  put("dispatch", "multipart", bytes);
  std::string raw = m.bytes + u8(16) + u8(0) + u8(24);
  s_MsgBuff h;
  h.clientId = 1;
  h.objId = int32_t(0x70000000);
  h.serverOp = DBM_FREE;
  h.setLength(0);
  unsigned char hb[12];
  h.write(hb);
  raw += std::string(reinterpret_cast<char*>(hb), 12) + std::string(reinterpret_cast<char*>(hb), 12);
  put("dispatch", "batch", raw);
  put("dispatch", "empty", "");
}

void stateSeeds() {
  std::string const path = zffuzz::init() + "/seedstate";
  fs::remove(path);
  {
    StateFile f{String(path.c_str())};
    f.parity = 1;
    f.lastChkPoint.setNow();
    f.restartMarker = -1;
    f.journalPos = 80;
    f.journalFile = String("rlog1");
    f.secondName = String("rlog0");
    f.cachePageSize = 1;
    f.writeHeader();
    put("statefile", "header", readAll(path));
    f.nStamps = 3;
    for (int32_t v = 0; v < 3; ++v) f.versionStamp(v).setNow();
    f.writeStamps();
    put("statefile", "stamps", readAll(path));
    f.nStamps = StateFile::kNStamps;
    f.writeStamps();
    put("statefile", "fullstamps", readAll(path));
  }
  put("statefile", "empty", "");
}

void liveSeeds() {
  zffuzz::idleChild();
  // The run log of a recorded run.
  {
    zffuzz::FuzzServer server;
    std::string const log = zffuzz::init() + "/seed.log";
    server.start(log, std::string(), true);
    server.makeSchema();
    runSessions(server);
    server.stop();
    put("runlog", "recorded", readAll(log));
  }
  // The journal files of a journalled run, and the files of its schema.
  {
    std::string const jdir = zffuzz::init() + "/seedjournal";
    fs::remove_all(jdir);
    fs::create_directories(jdir);
    zffuzz::FuzzServer server;
    server.start(std::string(), "JournalDir\t" + jdir + "\n");
    Server::openJournal();
    Server::chkPoint(false, -1);
    server.makeSchema();
    runSessions(server);
    Server::journal()->flush();
    int k = 0;
    for (auto const& e : fs::directory_iterator(jdir))
      put("journal", "journal" + std::to_string(k++), u8(0) + readAll(e.path().string()));

    SvSchema* s = SvSchema::find(String("fz"));
    delete s;
    CacheBuffer::flushAll(nullptr, false);
    k = 0;
    for (auto const& e : fs::recursive_directory_iterator(server.dir() + "/db")) {
      if (!e.is_regular_file() || e.file_size() < 2048) continue;
      if (k == 4) break;
      std::string const bytes = readAll(e.path().string());
      put("blockedfile", "file" + std::to_string(k) + "a", u8(0) + bytes);
      put("blockedfile", "file" + std::to_string(k) + "b", u8(0x4 | (9 << 3)) + bytes);
      ++k;
    }
    Server::closeJournal();
    server.stop();
  }
  put("catalog", "pristine", "");
  put("catalog", "cut", u8(0x80) + be32(100));
  put("catalog", "patch", u8(1) + be32(0) + u8(4) + "\xff\xff\xff\xff");
  put("journal", "empty", u8(0));
  put("blockedfile", "empty", u8(0));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_svseeds FUZZDIR\n");
    return 2;
  }
  out = argv[1];
  zffuzz::init();
  dispatchSeeds();
  stateSeeds();
  liveSeeds();
  return 0;
}
