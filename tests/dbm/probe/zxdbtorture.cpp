// The program behind scripts/zxdb-torture: a writer that commits random
// transactions until it is killed, and a checker that opens the schema
// afterwards and compares it with what the writer committed.
//   init DIR               writes schema "tort" (table "item": code with a
//                          unique index, grp with a non-unique one, val)
//   write DIR JOURNAL SEED commits random transactions for ever; before each
//                          commit it appends the transaction to JOURNAL
//                          ("T", then "A|P|D code grp val" lines, then "E"),
//                          and "C" once the commit returned
//   check DIR JOURNAL      opens the schema (recovering a killed writer's
//                          log), and checks that the table holds exactly
//                          the committed transactions (one whose commit
//                          raced the kill whole or not at all), that both
//                          indexes agree with the data, that no header is
//                          left marked and no log left behind; settles the
//                          journal ("C" or "X" after a raced one)
//   clean DIR              removes the schema's semaphore set
// The schema's directory is DIR, its log directory DIR/log.
#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Proc.h>

#include <zfound/Portable.h>
#include <zfound/Process.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "DescrEncoder.h"

namespace {

using Model = std::map<int32_t, std::pair<int32_t, int32_t>>;  // code -> grp, val
constexpr int32_t kTab = 0x10100;

zftest::EncSchema tortSchema() {
  zftest::EncSchema s;
  s.name = "tort";
  s.longs = {zftest::privEntry(0, 2, 8)};
  zftest::EncTable t;
  t.name = "item";
  t.longs = {zftest::privEntry(0, 2, 1023)};
  t.size = 0;
  t.len = 16;
  zftest::EncField code, grp, val;
  code.name = "code", code.itype = 3, code.len = 9, code.offset = 4;
  grp.name = "grp", grp.itype = 3, grp.len = 9, grp.offset = 8;
  val.name = "val", val.itype = 3, val.len = 9, val.offset = 12;
  t.fields = {code, grp, val};
  zftest::EncIndex i0;
  i0.name = "bycode", i0.flags = 1, i0.klen = 4, i0.parts = {{3, 0, 4, 0, 4, 0x101}};
  zftest::EncIndex i1;
  i1.name = "bygrp", i1.flags = 0, i1.klen = 4, i1.parts = {{3, 0, 4, 0, 8, 0x102}};
  t.indexes = {i0, i1};
  s.tables = {t};
  return s;
}

// Every record through index `index` in its order.
Model scan(int32_t index, bool& ordered) {
  Model m;
  char* b = _GetTabBuff(kTab);
  ordered = true;
  int32_t last = 0;
  bool first = true;
  for (int32_t r = GetRecord(kTab | index, 8, 0, 0); r > 0; r = GetRecord(kTab | index, 2, 0, 0)) {
    int32_t code = ldlong(b + 4), grp = ldlong(b + 8);
    int32_t key = index == 0 ? code : grp;
    if (!first && key < last) ordered = false;
    first = false, last = key;
    if (m.count(code)) ordered = false;  // a record seen twice
    m[code] = {grp, ldlong(b + 12)};
  }
  return m;
}

void append(int fd, std::string const& line) {
  std::string l = line + "\n";
  if (write(fd, l.data(), l.size()) != ssize_t(l.size())) _exit(9);
}

int writer(char const* journal, unsigned seed) {
  if (OpenSchema("tort", 0) != 0x10000) return 2;
  bool ordered;
  Model m = scan(0, ordered);
  int fd = ::open(journal, O_WRONLY | O_APPEND | O_CREAT, 0600);
  if (fd < 0) return 3;
  std::mt19937 rng(seed);
  int32_t next = m.empty() ? 1 : m.rbegin()->first + 1;
  char* b = _GetTabBuff(kTab);
  for (;;) {
    BeginTransaction();
    std::vector<std::string> ops;
    int n = 1 + int(rng() % 6);
    for (int i = 0; i < n; ++i) {
      int kind = int(rng() % 4);
      InitRecord(kTab);
      if (kind <= 1 || m.empty()) {
        int32_t code = next++, grp = int32_t(rng() % 50), val = int32_t(rng() % 100000);
        stlong(code, b + 4), stlong(grp, b + 8), stlong(val, b + 12);
        if (AddRecord(kTab) <= 0) return 4;
        m[code] = {grp, val};
        ops.push_back("A " + std::to_string(code) + " " + std::to_string(grp) + " " + std::to_string(val));
      } else {
        auto it = m.begin();
        std::advance(it, long(rng() % m.size()));
        int32_t code = it->first;
        if (kind == 2) {
          int32_t grp = int32_t(rng() % 50), val = int32_t(rng() % 100000);
          stlong(code, b + 4), stlong(grp, b + 8), stlong(val, b + 12);
          if (PutRecord(kTab) <= 0) return 5;
          it->second = {grp, val};
          ops.push_back("P " + std::to_string(code) + " " + std::to_string(grp) + " " + std::to_string(val));
        } else {
          stlong(code, b + 4);
          if (DelRecord(kTab) <= 0) return 6;
          m.erase(it);
          ops.push_back("D " + std::to_string(code) + " 0 0");
        }
      }
    }
    std::string t = "T";
    for (std::string const& o : ops) t += "\n" + o;
    append(fd, t + "\nE");
    if (EndTransaction() != 1) return 7;
    append(fd, "C");
  }
}

void applyOps(Model& m, std::vector<std::tuple<char, int32_t, int32_t, int32_t>> const& ops) {
  for (auto const& [k, code, grp, val] : ops) {
    if (k == 'D') m.erase(code);
    else m[code] = {grp, val};
  }
}

bool marked(std::string const& path, size_t at) {
  std::ifstream in(path, std::ios::binary);
  char b[8] = {};
  in.read(b, 8);
  return in.gcount() == 8 && ldlong(b + at) == -1;
}

int checker(std::string const& dir, char const* journal) {
  // The journal: committed transactions, and at most one whose commit
  // raced the kill (its "E" without "C").
  Model committed;
  std::vector<std::tuple<char, int32_t, int32_t, int32_t>> cur, raced;
  bool inT = false, ended = false, hasRaced = false;
  std::ifstream in(journal);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "T") {
      if (ended && !hasRaced) raced = cur, hasRaced = true;  // left unsettled: not possible
      inT = true, ended = false, cur.clear();
    } else if (line == "E") {
      ended = true;
    } else if (line == "C" || line == "X") {
      if (line == "C") applyOps(committed, cur);
      inT = false, ended = false, cur.clear();
    } else if (inT && !ended) {
      std::istringstream ls(line);
      char k;
      int32_t c, g, v;
      if (ls >> k >> c >> g >> v) cur.emplace_back(k, c, g, v);
    }
  }
  bool pending = inT && ended;
  if (OpenSchema("tort", 0) != 0x10000) {
    std::printf("open failed (%d)\n", int(_io_errno_));
    return 1;
  }
  bool o0, o1;
  Model a = scan(0, o0), bIdx = scan(1, o1);
  int rc = 0;
  Model withRaced = committed;
  if (pending) applyOps(withRaced, cur);
  bool isCommitted = a == committed, isRaced = pending && a == withRaced;
  if (!isCommitted && !isRaced) {
    std::printf("table differs from the committed transactions: %zu records, %zu expected\n", a.size(),
                committed.size());
    rc = 1;
  }
  if (!o0 || !o1 || a != bIdx || TabNRecords(kTab) != int32_t(a.size())) {
    std::printf("indexes disagree: %zu by code, %zu by group, %d counted\n", a.size(), bIdx.size(),
                int(TabNRecords(kTab)));
    rc = 1;
  }
  if (_DbVerifyConsist("torture", 0, kTab) != 0 || _DbVerifyConsist("torture", 0, kTab | 1) != 0) rc = 1;
  CloseAllSchemas();
  std::string base = dir + "/tort/item.";
  if (marked(base + "tab", 0) || marked(base + "i00", 4) || marked(base + "i01", 4)) {
    std::printf("a held mark is left\n");
    rc = 1;
  }
  if (DIR* d = opendir((dir + "/log").c_str())) {
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, "l_", 2) == 0) {
        std::printf("a dead log is left: %s\n", e->d_name);
        rc = 1;
      }
    closedir(d);
  }
  if (pending) {
    int fd = ::open(journal, O_WRONLY | O_APPEND);
    if (fd >= 0) append(fd, isRaced && !isCommitted ? "C" : "X"), ::close(fd);
  } else if (inT) {
    int fd = ::open(journal, O_WRONLY | O_APPEND);
    if (fd >= 0) append(fd, "X"), ::close(fd);
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string dir = argv[2];
  std::string logdir = dir + "/log";
  mkdir(logdir.c_str(), 0700);
  setenv("dbase", dir.c_str(), 1);
  setenv("LOGDIR", logdir.c_str(), 1);
  startUp("zxdbtorture-1.0", argc, argv);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::string cmd = argv[1];
  if (cmd == "init") {
    zftest::writeDescriptorFile(dir, tortSchema());
    return 0;
  }
  if (cmd == "write" && argc > 4) return writer(argv[3], unsigned(std::strtoul(argv[4], nullptr, 10)));
  if (cmd == "check" && argc > 3) return checker(dir, argv[3]);
  if (cmd == "clean") {
    int fd = ::open((dir + "/tort/tort.sco").c_str(), O_RDONLY);
    if (fd < 0) return 0;
    int id = semget(_get_key(fd), 2, 0);
    if (id >= 0) semctl(id, 0, IPC_RMID);
    ::close(fd);
    return 0;
  }
  return 2;
}
