// Index files, table data files, record operations and the transaction calls
// of a process that runs without a log.
//
// Index file (numbers big-endian):
//   0    2  header sequence, raised on every header write
//   2    2  node count (highest node allocated)
//   4    4  free-node head (0 none); -1 while a process holds the index
//   8    4  root entry count; while held, from 8 the holder text
//   12 1012 root entries when they fit, else behind the last node
//   1024 + (n-1) x node size: node n. A free node holds the next free node
//   number in its first two bytes.
// A leaf slot is the key (klen bytes) and the record number (4 bytes); a
// root entry is the compared key (klen, or klen + 4 with the record number
// for a non-unique index), the leaf's key count and its node (16 bits each).
//
// Data file (numbers big-endian):
//   0   4  highest record number; -1 while a process holds the header
//   4   4  free-record head (0 none)
//   8   4  live records
//   12 500 holder text while held
//   512 12 download time stamp
//   1024 + (n-1) x record length: record n; prefix = record length when live,
//   minus the next free record when deleted.
//
// States of an index in a process: unloaded -> loaded (root cached with the
// sequence it was read at) -> held (header region locked and marked -1 by
// readRoot mode 1) -> loaded again by writeRoot. Leaves are only written
// while held. States of a table header: free -> held (lockTabHeader) ->
// free (freeTabHeader at the flush of the transaction's end).
//
// Invariants: every number read from a file is checked before it is used;
// damage is reported naming the file and nothing is written; a held index
// or header stays held until FreeTable.
#include "Design.h"
#include "TableAccess.h"
#include "Trans.h"
#include "VFile.h"

#include <dbm/DbInterface.h>
#include <zeph/Dict.h>
#include <zeph/Keys.h>
#include <zeph/Proc.h>
#include <zeph/Records.h>

#include <zfound/Environ.h>
#include <zfound/FileLock.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Date.h>
#include <zfound/Portable.h>
#include <zfound/ShortDate.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int32_t kHeader = 1024;
constexpr int32_t kRootInHeader = 1012;
constexpr int32_t kTabHeader = 512;
constexpr int32_t kMaxRoot = 32766;
constexpr int32_t kMaxNode = 65535;

// One node of an index's cache: node n always maps to entry n % size.
struct NodeEntry {
  int32_t node = 0;
  bool dirty = false;
  std::vector<uint8_t> buf;
};

struct IndexState {
  std::vector<NodeEntry> ncache;  // empty: no node cache
  bool loaded = false;
  bool held = false;
  uint16_t seq = 0;
  int32_t nodes = 0, freeHead = 0, nroot = 0;
  std::vector<uint8_t> root;  // nroot entries
  std::vector<uint8_t> leaf;  // the current leaf
  int32_t leafNode = 0;
  bool dirty = false;
  bool broken = false;  // a failed build: the header keeps its update mark
  bool blockHold = false;  // read-locked across a cursor's block (holdIndexForBlock)
  void const* caller = nullptr;  // of the last successful search
  int32_t posRoot = 0, posSlot = 0;
};

// PushRecord's record numbers of one table slot.
struct RecordStack {
  std::vector<int32_t> numbers;
};

// One record of a table's cache: its number (negative while dirty, 0 none).
struct CacheEntry {
  int32_t recno = 0;
  std::vector<char> buf;
};

struct TableState {
  bool held = false;
  bool whole = false;
  int32_t high = 0, freeHead = 0, count = 0;
  std::vector<CacheEntry> cache;  // record n in entry (n - 1) % size
  bool window = false;            // a miss loads the whole aligned window
  // PushRecord's record numbers, per table slot (an alias has its own).
  std::map<int32_t, RecordStack> pushed;
};

std::map<s_index const*, IndexState> gIndex;
std::map<s_table const*, TableState> gTable;



// ---- helpers ----------------------------------------------------------------
s_schema* schemaOf(s_table const* t) { return t->schema; }

void holderText(char* out, size_t n) {
  char** args = ProcArgs();
  char const* prog = args && args[0] ? args[0] : "";
  char const* slash = strrchr(prog, '/');
  if (slash) prog = slash + 1;
  char const* tty = ProcTtyName();
  time_t now = time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  char when[32];
  strftime(when, sizeof when, "%H:%M:%S %d/%m/%Y", &tmv);
  memset(out, 0, n);
  zfSnprintf(out, n, "%6d %-20.20s %6d %-15.15s %s", int(ProcPid()), prog, int(ProcUserId()), tty ? tty : "",
             when);
}

void damaged(char const* name, char const* ext, char const* what) {
  Error(__DbErrmsg("IO_DAMAGED_FILE"), name, ext, what);
}

}  // namespace

// ============================================================================
// Index files
// ============================================================================
namespace zxdb {

struct Ix {
  s_index* ip;
  s_table* t;
  int32_t number;
  IndexState& st;
  char ext[8];
  char const* fname;  // file name: the table's, or a temporary index's own
  bool unique() const { return ip->d.flags & 1; }
  bool temp() const { return ip->d.flags & 2; }
  int32_t klen() const { return ip->d.klen; }
  int32_t slot() const { return ip->d.klen + 4; }
  int32_t ckey() const { return unique() ? ip->d.klen : ip->d.klen + 4; }
  int32_t esize() const { return ckey() + 4; }
  int32_t node() const { return ip->d.node ? ip->d.node : 1024; }
  int32_t perLeaf() const { return node() / slot(); }
  uint8_t* entry(int32_t i) { return st.root.data() + size_t(i) * esize(); }
  int32_t ecount(int32_t i) { return ldushort(entry(i) + ckey()); }
  int32_t enode(int32_t i) { return ldushort(entry(i) + ckey() + 2); }
  void setCount(int32_t i, int32_t c) { stshort(c, entry(i) + ckey()); }
  int64_t nodeOff(int32_t n) const { return kHeader + int64_t(n - 1) * node(); }
};

Ix ixOf(s_table* t, int32_t number) {
  s_index* ip = &t->indexes[number];
  Ix x{ip, t, number, gIndex[ip], {}, t->d.name};
  // "i%02d", made by hand: every key operation names its index.
  if (number >= 0 && number < 100) {
    x.ext[0] = 'i', x.ext[1] = char('0' + number / 10), x.ext[2] = char('0' + number % 10), x.ext[3] = 0;
  } else {
    zfSnprintf(x.ext, sizeof x.ext, "i%02d", int(number));
  }
  if (char const* own = tempIndexName(t, number)) {
    x.fname = own;
    zfSnprintf(x.ext, sizeof x.ext, "%s", kTempIndexExt);
  }
  return x;
}

bool openIndexFile(Ix& x) {
  if (x.ip->file) return true;
  x.ip->file = _DbOpen(schemaOf(x.t), x.fname, x.ext, O_RDWR | O_CREAT);
  if (!x.ip->file) {
    Error(__DbErrmsg("IO_INDEX_OPEN"), int(x.number), x.t->d.name, schemaOf(x.t)->d.name);
    return false;
  }
  return true;
}

int32_t cmpKeys(s_index const* ip, void const* a, void const* b) {
  _SetKeyCmpIp(ip);
  return XKeyCmp(a, b);
}

// Binary search of `count` entries of `size` bytes: found index or ~insert.
int32_t bsearch(s_index const* ip, uint8_t const* key, uint8_t const* base, int32_t count, int32_t size) {
  _SetKeyCmpIp(ip);
  int32_t lo = 0, hi = count - 1;
  while (lo <= hi) {
    int32_t mid = (lo + hi) / 2;
    int c = XKeyCmp(key, base + size_t(mid) * size);
    if (c == 0) return mid;
    if (c < 0) hi = mid - 1;
    else lo = mid + 1;
  }
  return ~lo;
}

NodeEntry* cached(Ix& x, int32_t n) {
  if (x.st.ncache.empty() || n < 1) return nullptr;
  return &x.st.ncache[size_t(n) % x.st.ncache.size()];
}

// Forgets node n in the cache (it was freed or written directly).
void dropNode(Ix& x, int32_t n) {
  NodeEntry* e = cached(x, n);
  if (e && e->node == n) e->node = 0, e->dirty = false;
}

bool flushNodes(Ix& x) {
  bool ok = true;
  for (NodeEntry& e : x.st.ncache)
    if (e.dirty) {
      if (_DbWrite(x.ip->file, e.buf.data(), x.node(), x.nodeOff(e.node)) != 0) ok = false;
      e.dirty = false;
    }
  return ok;
}

// Puts the current leaf back: into its cache entry, or to its node.
bool writeLeaf(Ix& x) {
  if (!x.st.leafNode) return true;
  if (NodeEntry* e = cached(x, x.st.leafNode)) {
    if (e->node != x.st.leafNode) {
      if (e->dirty && _DbWrite(x.ip->file, e->buf.data(), x.node(), x.nodeOff(e->node)) != 0) return false;
      e->node = x.st.leafNode;
      e->dirty = false;
    }
    e->buf = x.st.leaf;
    e->dirty = e->dirty || x.st.dirty;
    x.st.dirty = false;
    return true;
  }
  if (!x.st.dirty) return true;
  x.st.dirty = false;
  return _DbWrite(x.ip->file, x.st.leaf.data(), x.node(), x.nodeOff(x.st.leafNode)) == 0;
}

// Reads node n into `out` (node size), from the cache when it holds it.
bool readNode(Ix& x, int32_t n, uint8_t* out) {
  NodeEntry* e = cached(x, n);
  if (e && e->node == n) {
    memcpy(out, e->buf.data(), size_t(x.node()));
    return true;
  }
  return _DbRead(x.ip->file, out, x.node(), x.nodeOff(n), 0) == 0;
}

// Makes node `n` the current leaf (0: flush only); -1 on a read failure.
int32_t readLeaf(Ix& x, int32_t n, bool noread = false) {
  if (n && n == x.st.leafNode) return 0;
  if (!writeLeaf(x)) return -1;
  if (!n) {
    x.st.leafNode = 0;
    return flushNodes(x) ? 0 : -1;
  }
  // A node read fills the whole buffer; a new one starts zeroed.
  if (noread) x.st.leaf.assign(size_t(x.node()), 0);
  else x.st.leaf.resize(size_t(x.node()));
  x.st.leafNode = 0;
  if (!noread && !readNode(x, n, x.st.leaf.data())) return -1;
  x.st.leafNode = n;
  return 0;
}

// Parses a header image into the state; false (reported) when damaged.
bool parseHeader(Ix& x, uint8_t const* h) {
  int32_t nodes = ldushort(h + 2);
  int32_t freeHead = ldlong(h + 4);
  s_schema* sp = schemaOf(x.t);
  if (freeHead == -1) {
    char who[1024];
    memcpy(who, h + 8, 1016);
    who[1016] = 0;
    Error(__DbErrmsg("IO_INV_POOL"), sp->d.name, x.t->d.name, int(x.number), who);
    return false;
  }
  int32_t nroot = ldlong(h + 8);
  int64_t size = _DbStat(x.ip->file, 1);
  if (nodes < 0 || (nodes > 0 && kHeader + int64_t(nodes) * x.node() > size)) {
    damaged(x.t->d.name, x.ext, "node count");
    return false;
  }
  if (freeHead < 0 || freeHead > nodes) {
    damaged(x.t->d.name, x.ext, "free-node head");
    return false;
  }
  if (nroot < 0 || nroot > nodes || nroot > kMaxRoot) {
    damaged(x.t->d.name, x.ext, "root count");
    return false;
  }
  std::vector<uint8_t> root(size_t(nroot) * x.esize());
  int32_t rbytes = int32_t(root.size());
  if (rbytes == 0) {
  } else if (rbytes <= kRootInHeader) {
    memcpy(root.data(), h + 12, size_t(rbytes));
  } else {
    int64_t off = kHeader + int64_t(nodes) * x.node();
    if (off + rbytes > size || _DbRead(x.ip->file, root.data(), rbytes, off, 0) != 0) {
      damaged(x.t->d.name, x.ext, "root entries");
      return false;
    }
  }
  x.st.root.swap(root);
  x.st.nroot = nroot;
  for (int32_t i = 0; i < nroot; ++i) {
    int32_t c = x.ecount(i), n = x.enode(i);
    if (c < 1 || c > x.perLeaf() || n < 1 || n > nodes) {
      x.st.nroot = 0;
      damaged(x.t->d.name, x.ext, "root entry");
      return false;
    }
    if (i && cmpKeys(x.ip, x.entry(i - 1), x.entry(i)) >= 0) {
      x.st.nroot = 0;
      damaged(x.t->d.name, x.ext, "root order");
      return false;
    }
  }
  x.st.nodes = nodes;
  x.st.freeHead = freeHead;
  x.st.seq = ldushort(h);
  x.st.loaded = true;
  x.st.leafNode = 0;
  x.st.dirty = false;
  x.st.caller = nullptr;
  for (NodeEntry& e : x.st.ncache) e.node = 0, e.dirty = false;
  return true;
}

// Reads and holds the header (mode 1, or 4 without waiting), or locks it for
// a search (mode 0, or 5 without waiting; released by releaseRoot). 0, -1
// error, -2 busy.
int32_t readRoot(Ix& x, int32_t mode) {
  if (x.st.held) return 0;
  if (!openIndexFile(x)) return -1;
  uint8_t h[kHeader];
  int32_t lk = x.temp() ? 0 : ((mode == 4 || mode == 5) ? 3 : 1);
  int32_t r = _DbRead(x.ip->file, h, kHeader, 0, lk);
  if (r == -2) return -2;
  if (r != 0) return -1;
  if (lk && ldlong(h + 4) == -1) {
    // The region was had, so the process that marked the header is gone.
    _DbFree(x.ip->file, kHeader, 0);
    if (repairDeadMark(x.t)) return readRoot(x, mode);
    r = _DbRead(x.ip->file, h, kHeader, 0, lk);
    if (r != 0) return r == -2 ? -2 : -1;
  }
  bool changed = !x.st.loaded || ldushort(h) != x.st.seq || ldlong(h + 4) == -1;
  if (changed && !parseHeader(x, h)) {
    if (lk) _DbFree(x.ip->file, kHeader, 0);
    return -1;
  }
  if (mode == 1 || mode == 4) {
    uint8_t mark[kHeader - 4];
    memset(mark, 0, sizeof mark);
    stlong(-1, mark);
    holderText(reinterpret_cast<char*>(mark) + 4, sizeof mark - 4);
    if (_DbWrite(x.ip->file, mark, sizeof mark, 4) != 0) {
      if (lk) _DbFree(x.ip->file, kHeader, 0);
      return -1;
    }
    x.st.held = true;
  }
  return 0;
}

// "INDEX_BAD", read once.
char const* indexBadSetting() {
  static bool read = false;
  static std::string value;
  static bool set = false;
  if (!read) {
    read = true;
    ReadEnvHandler old = SetReadEnvHandler(nullptr);
    char const* v = def_ReadEnv("INDEX_BAD", __FILE__, __LINE__);
    SetReadEnvHandler(old);
    if (v) value = v, set = true;
  }
  return set ? value.c_str() : nullptr;
}

int32_t tableCount(s_table* t);
int32_t badRootNode(s_table* t, s_index const* ip, int32_t kind, int64_t sum, int32_t count);

// Checks a held root: entries ascending and leaf counts summing to the
// table's records. With `report`, findings go to the report file first.
void checkRoot(Ix& x, int32_t report) {
  int64_t sum = 0;
  bool order = true;
  for (int32_t i = 0; i < x.st.nroot; ++i) {
    sum += x.ecount(i);
    if (i && cmpKeys(x.ip, x.entry(i - 1), x.entry(i)) >= 0) order = false;
  }
  int32_t n = tableCount(x.t);
  bool partial = (x.ip->d.flags & 2);
  for (int32_t p = 0; p < x.ip->d.nparts; ++p) partial |= (x.ip->parts[p].flags & 2) != 0;
  char iname[16];
  zfSnprintf(iname, sizeof iname, "%d", int(x.number));
  if (!order && !(report && badRootNode(x.t, x.ip, 1, sum, n) == 0))
    Error(__DbErrmsg("IO_BAD_ROOT_SEQ"), x.t->d.name, x.ip->d.name ? x.ip->d.name : iname);
  if (sum != n && !(partial && sum < n) && !(report && badRootNode(x.t, x.ip, 2, sum, n) == 0))
    Error(__DbErrmsg("IO_BAD_ROOT_NREC"), x.t->d.name, x.ip->d.name ? x.ip->d.name : iname, int(sum), int(n));
}

void releaseRoot(Ix& x) {
  if (!x.st.held && !x.temp()) _DbFree(x.ip->file, kHeader, 0);
}

// Writes back a held header and releases it (with `release` false: keeps
// holding it, its file complete).
int32_t writeRoot(Ix& x, bool release = true) {
  if (!x.st.held) return 0;
  int32_t rc = 0;
  if (!writeLeaf(x) || !flushNodes(x)) rc = -1;
  if (x.st.broken) {
    if (!x.temp()) _DbFree(x.ip->file, kHeader, 0);
    x.st.held = false;
    x.st.loaded = false;
    return -1;
  }
  if (char const* bad = indexBadSetting()) checkRoot(x, atoi(bad));
  uint8_t h[kHeader];
  memset(h, 0, sizeof h);
  x.st.seq = uint16_t(x.st.seq + 1);
  stshort(x.st.seq, h);
  stshort(x.st.nodes, h + 2);
  stlong(x.st.freeHead, h + 4);
  stlong(x.st.nroot, h + 8);
  int32_t rbytes = x.st.nroot * x.esize();
  if (rbytes == 0) {
  } else if (rbytes <= kRootInHeader) memcpy(h + 12, x.st.root.data(), size_t(rbytes));
  else if (_DbWrite(x.ip->file, x.st.root.data(), rbytes, kHeader + int64_t(x.st.nodes) * x.node()) != 0)
    rc = -1;
  if (rc == 0 && _DbWrite(x.ip->file, h, kHeader, 0) != 0) rc = -1;
  if (!release) return rc;
  if (!x.temp()) _DbFree(x.ip->file, kHeader, 0);
  x.st.held = false;
  return rc;
}

int32_t addNode(Ix& x) {
  if (x.st.freeHead >= 1 && x.st.freeHead <= x.st.nodes) {
    int32_t n = x.st.freeHead;
    uint8_t b[2];
    if (_DbRead(x.ip->file, b, 2, x.nodeOff(n), 0) != 0) return -1;
    int32_t next = ldushort(b);
    if (next > x.st.nodes) {
      damaged(x.t->d.name, x.ext, "free-node link");
      return -1;
    }
    x.st.freeHead = next;
    return n;
  }
  if (x.st.nodes >= kMaxNode) {
    Error(__DbErrmsg("IO_INDEX_FULL"), x.t->d.name, int(x.number));
    return -1;
  }
  return ++x.st.nodes;
}

void delNode(Ix& x, int32_t n) {
  uint8_t b[2];
  stshort(x.st.freeHead, b);
  if (x.st.leafNode == n) {
    x.st.leafNode = 0;
    x.st.dirty = false;
  }
  dropNode(x, n);
  _DbWrite(x.ip->file, b, 2, x.nodeOff(n));
  x.st.freeHead = n;
}

// A zeroed key of n bytes: on the stack for every key an index may have, so
// that a key operation allocates nothing.
class KeyBuf {
public:
  explicit KeyBuf(size_t n) {
    if (n > sizeof local_) big_.assign(n, 0);
    else memset(local_, 0, n);
  }
  uint8_t* data() { return big_.empty() ? local_ : big_.data(); }

private:
  uint8_t local_[512];
  std::vector<uint8_t> big_;
};

struct Pos {
  bool found;
  int32_t r, s, c;
};

// Searches the root and the leaf for `key`; the leaf becomes current.
bool search(Ix& x, uint8_t const* key, Pos& p) {
  p = {false, 0, 0, 0};
  if (!x.st.nroot) return true;
  int32_t r = bsearch(x.ip, key, x.st.root.data(), x.st.nroot, x.esize());
  if (r < 0) r = ~r - 1;
  if (r < 0) r = 0;
  if (readLeaf(x, x.enode(r)) != 0) return false;
  int32_t c = x.ecount(r);
  int32_t s = bsearch(x.ip, key, x.st.leaf.data(), c, x.slot());
  p.found = s >= 0;
  p.r = r;
  p.s = s >= 0 ? s : ~s;
  p.c = c;
  return true;
}

void insertEntry(Ix& x, int32_t at, uint8_t const* key, int32_t count, int32_t node) {
  x.st.root.insert(x.st.root.begin() + ptrdiff_t(at) * x.esize(), size_t(x.esize()), 0);
  ++x.st.nroot;
  memcpy(x.entry(at), key, size_t(x.ckey()));
  x.setCount(at, count);
  stshort(node, x.entry(at) + x.ckey() + 2);
}

void removeEntry(Ix& x, int32_t at) {
  auto b = x.st.root.begin() + ptrdiff_t(at) * x.esize();
  x.st.root.erase(b, b + x.esize());
  --x.st.nroot;
}

}  // namespace zxdb

using namespace zxdb;

// ============================================================================
// Table data files
// ============================================================================
namespace {

TableState& tstate(s_table* t) { return gTable[t]; }

int64_t recOff(s_table const* t, int32_t n) { return kHeader + int64_t(n - 1) * t->d.len; }

// Holds the header; 0, -1 when it is damaged or unreadable, -2 when its
// lock could not be had.
int32_t lockTabHeader(s_table* t, bool check) {
  TableState& ts = tstate(t);
  if (ts.held) return 0;
  uint8_t h[kTabHeader];
  int32_t lk = (t->d.flags & 1) ? 0 : 1;
  if (int32_t r = _DbRead(t->data, h, kTabHeader, 0, lk); r != 0) return r == -2 ? -2 : -1;
  int32_t high = ldlong(h), fh = ldlong(h + 4), cnt = ldlong(h + 8);
  auto fail = [&](char const* what) {
    if (lk) _DbFree(t->data, kTabHeader, 0);
    if (what) damaged(t->d.name, "tab", what);
    return -1;
  };
  if (high == -1) {
    // The region was had, so the process that marked the header is gone.
    fail(nullptr);
    if (zxdb::repairDeadMark(t)) return lockTabHeader(t, check);
    if (_DbRead(t->data, h, kTabHeader, 0, lk) != 0) return -1;
    if (check) {
      char who[501];
      memcpy(who, h + 12, 500);
      who[500] = 0;
      Error(__DbErrmsg("IO_BAD_POOL"), schemaOf(t)->d.name, t->d.name, who);
      return fail(nullptr);
    }
    return fail(nullptr);
  }
  int64_t size = _DbStat(t->data, 1);
  if (high < 0 || (high > 0 && recOff(t, high + 1) > size)) return fail("highest record number");
  if (fh < 0 || fh > high) return fail("free-record head");
  if (cnt < 0 || cnt > high) return fail("record count");
  uint8_t mark[kTabHeader];
  memset(mark, 0, sizeof mark);
  stlong(-1, mark);
  stlong(fh, mark + 4);
  stlong(cnt, mark + 8);
  holderText(reinterpret_cast<char*>(mark) + 12, 500);
  if (_DbWrite(t->data, mark, kTabHeader, 0) != 0) return fail(nullptr);
  ts.high = high;
  ts.freeHead = fh;
  ts.count = cnt;
  ts.held = true;
  return 0;
}

int32_t freeTabHeader(s_table* t, bool release = true) {
  TableState& ts = tstate(t);
  if (!ts.held) return 0;
  uint8_t h[kTabHeader];
  memset(h, 0, sizeof h);
  stlong(ts.high, h);
  stlong(ts.freeHead, h + 4);
  stlong(ts.count, h + 8);
  int32_t rc = _DbWrite(t->data, h, kTabHeader, 0);
  if (!release) return rc;
  if (!(t->d.flags & 1) && !ts.whole) _DbFree(t->data, kTabHeader, 0);
  ts.held = false;
  return rc;
}

// Writes every dirty cached record, each run of consecutive record numbers
// with one write; false when a write failed.
bool flushCache(s_table* t) {
  std::vector<CacheEntry*> dirty;
  for (CacheEntry& e : tstate(t).cache)
    if (e.recno < 0) dirty.push_back(&e);
  if (dirty.empty()) return true;
  std::sort(dirty.begin(), dirty.end(), [](CacheEntry const* a, CacheEntry const* b) { return a->recno > b->recno; });
  size_t const len = size_t(t->d.len);
  bool ok = true;
  std::vector<char> run;
  for (size_t i = 0; i < dirty.size();) {
    size_t j = i + 1;
    while (j < dirty.size() && dirty[j]->recno == dirty[j - 1]->recno - 1) ++j;
    run.resize((j - i) * len);
    for (size_t k = i; k < j; ++k) memcpy(run.data() + (k - i) * len, dirty[k]->buf.data(), len);
    if (_DbWrite(t->data, run.data(), int32_t(run.size()), recOff(t, -dirty[i]->recno)) != 0) ok = false;
    for (size_t k = i; k < j; ++k) dirty[k]->recno = -dirty[k]->recno;
    i = j;
  }
  return ok;
}

// Makes the cache entry of record n hold it; null on a read failure. With
// `whole` the caller replaces the whole record: outside window mode it is
// not read first.
CacheEntry* cacheLoad(s_table* t, int32_t n, bool whole = false) {
  TableState& ts = tstate(t);
  int32_t size = int32_t(ts.cache.size());
  CacheEntry& e = ts.cache[size_t((n - 1) % size)];
  if (e.recno == n || e.recno == -n) return &e;
  int32_t len = t->d.len;
  if (ts.window) {
    if (!flushCache(t)) return nullptr;
    int32_t first = ((n - 1) / size) * size + 1;
    std::vector<char> all(size_t(size) * len);
    if (_DbRead(t->data, all.data(), int32_t(all.size()), recOff(t, first), 0) != 0) return nullptr;
    for (int32_t i = 0; i < size; ++i) {
      CacheEntry& w = ts.cache[size_t((first + i - 1) % size)];
      memcpy(w.buf.data(), all.data() + size_t(i) * len, size_t(len));
      w.recno = first + i;
    }
    return &e;
  }
  // A dirty record in the way goes out with every other dirty one: records
  // added in order leave one write per cache of them.
  if (e.recno < 0 && !flushCache(t)) return nullptr;
  e.recno = 0;
  if (!whole && _DbRead(t->data, e.buf.data(), len, recOff(t, n), 0) != 0) return nullptr;
  e.recno = n;
  return &e;
}

// Reads the raw slot of record n (through the cache when there is one and
// no lock is asked for): 0, -1, -2 locked.
int32_t slotRead(s_table* t, int32_t n, char* out, int32_t lockmode) {
  TableState& ts = tstate(t);
  if (!ts.cache.empty()) {
    if (lockmode & 3) {
      CacheEntry& e = ts.cache[size_t((n - 1) % int32_t(ts.cache.size()))];
      if (e.recno == -n) {
        if (_DbWrite(t->data, e.buf.data(), t->d.len, recOff(t, n)) != 0) return -1;
        e.recno = n;
      }
    } else {
      CacheEntry* e = cacheLoad(t, n);
      if (!e) return -1;
      memcpy(out, e->buf.data(), size_t(t->d.len));
      return 0;
    }
  }
  int32_t r = _DbRead(t->data, out, t->d.len, recOff(t, n), lockmode & 3);
  return r == -2 ? -2 : (r == 0 ? 0 : -1);
}

// Writes `len` bytes from the start of record n's slot.
int32_t slotWrite(s_table* t, int32_t n, char const* data, int32_t len) {
  TableState& ts = tstate(t);
  if (ts.cache.empty()) return _DbWrite(t->data, data, len, recOff(t, n));
  CacheEntry* e = cacheLoad(t, n, len == t->d.len);
  if (!e) return -1;
  memcpy(e->buf.data(), data, size_t(len));
  e->recno = -n;
  return 0;
}

// Reads the counters without holding the header.
bool peekCounters(s_table* t, int32_t& high, int32_t& fh, int32_t& cnt) {
  TableState& ts = tstate(t);
  if (ts.held) {
    high = ts.high, fh = ts.freeHead, cnt = ts.count;
    return true;
  }
  uint8_t h[12];
  if (_DbRead(t->data, h, 12, 0, 0) != 0) return false;
  high = ldlong(h), fh = ldlong(h + 4), cnt = ldlong(h + 8);
  return true;
}

// Bytes a stamp field takes: a short date or time, else the user's long.
int32_t stampBytes(s_field const* f) { return (f->d.type == 2 || f->d.type == 3) ? 2 : 4; }

void fillStamps(s_table* t, char* rec, uint16_t which, bool onlyNull) {
  // Short forms: days from 1 January 1984 and two-second units of the day
  // plus 1, both of the local clock.
  int32_t day = Today();
  int32_t tm2 = Hour();
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field* f = &t->fields[i];
    if (!(f->d.flags & which)) continue;
    if (onlyNull && !_IsNull(f, rec, 0)) continue;
    char* p = rec + f->d.offset;
    if (f->d.offset + stampBytes(f) > t->d.len) continue;
    if (f->d.type == 2) stshort(day, p);
    else if (f->d.type == 3) stshort(tm2, p);
    else if (f->d.type == 0 && f->d.len == 5) stlong(ProcUserId(), p);
  }
}

}  // namespace

// ============================================================================
// Key operations
// ============================================================================
namespace {

DbHandler dbHandler = nullptr;
// The table handle of the record call under way: the handler is told the
// slot the caller used, an alias's or the table's own.
int32_t callHandle = 0;

void refuse(s_table* t, char const* key, char const* detail) {
  s_schema* sp = schemaOf(t);
  int32_t h = 0, slot = dbTableSlot(callHandle);
  if (dbSchemaSlot(callHandle) == dbSchemaSlot(sp->handle) && slot >= 1 && sp->tables[slot].tab == t)
    h = callHandle;
  for (int32_t s = 1; !h && s <= kDbMaxTables; ++s)
    if (sp->tables[s].tab == t && !sp->tables[s].alias) h = dbTableHandle(sp->handle, s);
  if (dbHandler) dbHandler(h, key, detail);
  else Warning(__DbErrmsg(key), sp->d.name, t->d.name, detail ? detail : "");
}

// A header hold that could not be had fails the operation as a locked
// record does.
void lockedRecord(s_table* t, char const* op) {
  if (zxdb::trans().mode & 4) refuse(t, "IO_LOCKED_RECORD", op);
  else zxdb::trans().ok = false;
}

bool maintained(s_index const* ip);

// Holds, in one order for every change, the primary index's header, the
// table header and the other maintained indexes' headers, so that a change
// starts only once it can finish: a hold that cannot be had fails the
// operation as a locked record does and changes nothing. 0 or -1.
int32_t holdAll(s_table* t, char const* op) {
  auto failed = [&](int32_t r) {
    if (r == -2) lockedRecord(t, op);
    return -1;
  };
  for (int32_t i = 0; i < t->nindexes; ++i) {
    if (!maintained(&t->indexes[i])) continue;
    Ix x = ixOf(t, i);
    if (int32_t r = readRoot(x, 1); r != 0) return failed(r);
    if (i == 0)
      if (int32_t r = lockTabHeader(t, true); r != 0) return failed(r);
  }
  if (int32_t r = lockTabHeader(t, true); r != 0) return failed(r);
  return 0;
}

void warnFill(s_table* t, int32_t n) {
  int32_t cap = t->d.size;
  if (cap <= 0) return;
  static int32_t const marks[] = {75, 85, 90, 95, 98};
  int64_t before = int64_t(n - 1) * 100, after = int64_t(n) * 100;
  for (int32_t m : marks)
    if (before < int64_t(m) * cap && after >= int64_t(m) * cap && n < cap)
      Warning(__DbErrmsg("IO_ALMOST_FULL"), t->d.name, int(m));
  if (n == cap) Warning(__DbErrmsg("IO_ALMOST_FULL"), t->d.name, 100);
}

// Allocates and writes a record; its number, or -1.
int32_t allocRecord(s_table* t, char* rec) {
  if (lockTabHeader(t, true) != 0) return -1;
  TableState& ts = tstate(t);
  if (t->d.size > 0 && ts.count >= t->d.size) {
    Error(__DbErrmsg("IO_FULL"), t->d.name, int(t->d.size));
    return -1;
  }
  int32_t n;
  int32_t const high0 = ts.high, free0 = ts.freeHead;
  if (ts.freeHead >= 1 && ts.freeHead <= ts.high) {
    uint8_t p[4];
    std::vector<char> raw(size_t(t->d.len));
    if (slotRead(t, ts.freeHead, raw.data(), 0) != 0) return -1;
    memcpy(p, raw.data(), 4);
    int32_t next = -ldlong(p);
    if (next < 0 || next > ts.high || ldlong(p) > 0) {
      damaged(t->d.name, "tab", "free-record link");
      return -1;
    }
    n = ts.freeHead;
    ts.freeHead = next;
  } else {
    if (ts.high == INT32_MAX) return -1;
    n = ++ts.high;
  }
  stlong(t->d.len, rec);
  if (!logRecord(t, 7, nullptr, rec)) {
    ts.high = high0, ts.freeHead = free0;
    return -1;
  }
  ++ts.count;
  warnFill(t, ts.count);
  if (slotWrite(t, n, rec, t->d.len) != 0) return -1;
  stlong(n, rec + t->d.len);
  return n;
}

int32_t freeRecord(s_table* t, int32_t n) {
  if (lockTabHeader(t, true) != 0) return -1;
  TableState& ts = tstate(t);
  uint8_t p[4];
  stlong(-ts.freeHead, p);
  if (slotWrite(t, n, reinterpret_cast<char*>(p), 4) != 0) return -1;
  ts.freeHead = n;
  --ts.count;
  return 0;
}

// Reads record `n` into `out`; 0, -1 not a live record, -2 locked. A number
// that an index gave (`indexed`) names a slot of the file already; another
// is first checked against the highest record number.
int32_t readSlot(s_table* t, int32_t n, char* out, int32_t lockmode, bool indexed = false) {
  int32_t high, fh, cnt;
  if (n < 1) return -1;
  if (!indexed && (!peekCounters(t, high, fh, cnt) || (high >= 0 && n > high && !tstate(t).held))) return -1;
  if (tstate(t).held && n > tstate(t).high) return -1;
  int32_t r = slotRead(t, n, out, lockmode);
  if (r != 0) return r;
  if (ldlong(out) != t->d.len) return -1;
  stlong(n, out + t->d.len);
  return 0;
}

bool checkRecord(s_table* t, char const* rec, std::string& detail) {
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field* f = &t->fields[i];
    if ((f->d.flags & 1) && !(f->d.flags & 0x1c0) && _IsNull(f, rec, 0)) {
      detail = f->d.name ? f->d.name : "";
      return false;
    }
  }
  return true;
}

bool maintained(s_index const* ip) { return ip->d.nparts > 0 && !(ip->d.flags & 8); }

// Inserts the key of `rec`: the record number, -existing, or 0.
int32_t addKey(s_table* t, int32_t number, int32_t recno, char* rec) {
  Ix x = ixOf(t, number);
  if (!_CheckKey(x.ip, rec, t->d.len)) return 0;
  if (readRoot(x, 1) != 0) {
    lockedRecord(t, "AddRecord");
    return 0;
  }
  KeyBuf key(size_t(x.slot()));
  auto build = [&](int32_t n) {
    _BuildKey(reinterpret_cast<char*>(key.data()), x.ip, rec, n);
    stlong(n, key.data() + x.klen());
  };
  build(recno < 0 ? 0x7fffffff : recno);
  Pos p{};
  if (!search(x, key.data(), p)) return 0;
  if (x.unique() && p.found) return -ldlong(x.st.leaf.data() + size_t(p.s) * x.slot() + x.klen());
  // A key that needs a new leaf needs a root entry too; the root holds at
  // most kMaxRoot of them.
  if (x.st.nroot >= kMaxRoot && p.c >= x.perLeaf()) {
    Error("Root Node too Int Table %8.8s\nIncrement separation\n", t->d.name);
    return 0;
  }
  if (recno < 0) {
    recno = allocRecord(t, rec);
    if (recno < 0) return 0;
    build(recno);
    if (!x.unique() && !search(x, key.data(), p)) return 0;
  }
  if (!x.st.nroot) {
    int32_t n = addNode(x);
    if (n < 0) return 0;
    readLeaf(x, 0);
    readLeaf(x, n, true);
    memcpy(x.st.leaf.data(), key.data(), size_t(x.slot()));
    x.st.dirty = true;
    x.st.root.clear();
    insertEntry(x, 0, key.data(), 1, n);
    x.st.caller = nullptr;
    return recno;
  }
  int32_t r = p.r, s = p.s, c = p.c;
  if (c >= x.perLeaf()) {
    int32_t nn = addNode(x);
    if (nn < 0) return 0;
    int32_t move = s == c ? 0 : c / 2, keep = c - move;
    std::vector<uint8_t> moved(size_t(x.node()), 0);
    memcpy(moved.data(), x.st.leaf.data() + size_t(keep) * x.slot(), size_t(move) * x.slot());
    x.setCount(r, keep);
    insertEntry(x, r + 1, move ? moved.data() : key.data(), move, nn);
    if (move == 0 || s > keep) {
      x.st.dirty = true;
      readLeaf(x, 0);
      readLeaf(x, nn, true);
      memcpy(x.st.leaf.data(), moved.data(), moved.size());
      r = r + 1;
      s -= keep;
      c = move;
    } else {
      dropNode(x, nn);
      if (_DbWrite(x.ip->file, moved.data(), x.node(), x.nodeOff(nn)) != 0) return 0;
      c = keep;
    }
  }
  uint8_t* base = x.st.leaf.data();
  memmove(base + size_t(s + 1) * x.slot(), base + size_t(s) * x.slot(), size_t(c - s) * x.slot());
  memcpy(base + size_t(s) * x.slot(), key.data(), size_t(x.slot()));
  x.setCount(r, c + 1);
  memcpy(x.entry(r), base, size_t(x.ckey()));
  x.st.dirty = true;
  x.st.caller = nullptr;
  return recno;
}

int32_t delKey(s_table* t, int32_t number, int32_t recno, char const* rec) {
  Ix x = ixOf(t, number);
  if (readRoot(x, 1) != 0) {
    lockedRecord(t, "DelRecord");
    return -1;
  }
  KeyBuf key(size_t(x.slot()));
  _BuildKey(reinterpret_cast<char*>(key.data()), x.ip, rec, recno);
  stlong(recno, key.data() + x.klen());
  Pos p{};
  if (!search(x, key.data(), p)) return -1;
  x.st.caller = nullptr;
  if (!p.found) return 0;
  uint8_t* base = x.st.leaf.data();
  if (ldlong(base + size_t(p.s) * x.slot() + x.klen()) != recno) return 0;
  int32_t sl = x.slot(), c = p.c - 1, r = p.r;
  memmove(base + size_t(p.s) * sl, base + size_t(p.s + 1) * sl, size_t(c - p.s) * sl);
  x.setCount(r, c);
  x.st.dirty = true;
  if (x.st.nroot == 1 && c == 0) {
    int32_t n = x.enode(0);
    removeEntry(x, 0);
    delNode(x, n);
    return 0;
  }
  std::vector<uint8_t> other(size_t(x.node()));
  if (r + 1 < x.st.nroot && c + x.ecount(r + 1) <= x.perLeaf()) {
    int32_t n2 = x.enode(r + 1), c2 = x.ecount(r + 1);
    if (!readNode(x, n2, other.data())) return -1;
    memcpy(base + size_t(c) * sl, other.data(), size_t(c2) * sl);
    c += c2;
    x.setCount(r, c);
    removeEntry(x, r + 1);
    delNode(x, n2);
  } else if (r > 0 && c + x.ecount(r - 1) <= x.perLeaf()) {
    int32_t n0 = x.enode(r - 1), c0 = x.ecount(r - 1);
    if (!readNode(x, n0, other.data())) return -1;
    memmove(base + size_t(c0) * sl, base, size_t(c) * sl);
    memcpy(base, other.data(), size_t(c0) * sl);
    c += c0;
    x.setCount(r, c);
    removeEntry(x, r - 1);
    delNode(x, n0);
    --r;
  }
  if (c > 0) memcpy(x.entry(r), base, size_t(x.ckey()));
  return 0;
}

// Moves the position one slot on (dir 1) or back (-1); false at either end.
bool step(Ix& x, int32_t& r, int32_t& s, int32_t dir) {
  if (dir > 0) {
    if (++s < x.ecount(r)) return true;
    if (r + 1 >= x.st.nroot) return false;
    ++r, s = 0;
    return true;
  }
  if (--s >= 0) return true;
  if (r == 0) return false;
  --r, s = x.ecount(r) - 1;
  return true;
}

int32_t findKey(void const* caller, s_table* t, int32_t number, char const* rec, int32_t mode, int32_t nparts,
                char** keyout, int32_t lockmode) {
  Ix x = ixOf(t, number);
  if (nparts > x.ip->d.nparts || nparts < 0) {
    Error(__DbErrmsg("IO_ILLEGAL_NPARTS"), t->d.name, int(number), int(nparts));
    return -1;
  }
  // Every part asked for is the whole key: a search without the part count,
  // so that a non-unique index's record number is not compared.
  if (nparts >= x.ip->d.nparts) nparts = 0;
  if (!nparts) mode &= ~0x20;
  // Inside a cursor's block the header is read and locked once for all.
  bool const blockHeld = x.st.blockHold;
  int32_t rr = blockHeld ? 0 : readRoot(x, (lockmode & 2) ? 5 : 0);
  if (rr != 0) return rr;
  struct Release {
    Ix& x;
    bool skip;
    ~Release() {
      if (!skip) releaseRoot(x);
    }
  } release{x, blockHeld};
  if (!x.st.nroot) {
    x.st.caller = nullptr;
    return -1;
  }
  KeyBuf key(size_t(x.slot()));
  int32_t r = 0, s = 0;
  bool found = false, atInsert = false;
  if (mode == 8) {
    found = true;
  } else if (mode == 16) {
    r = x.st.nroot - 1, s = x.ecount(r) - 1, found = true;
  } else if ((mode & 0x40) && caller && caller == x.st.caller) {
    r = x.st.posRoot, s = x.st.posSlot, found = true;
  } else {
    int32_t suffix = mode == 5 ? 0x7fffffff : (mode & 1) ? 0 : ldlong(rec + t->d.len);
    _BuildKey(reinterpret_cast<char*>(key.data()), x.ip, rec, suffix);
    stlong(suffix, key.data() + x.klen());
    _SetKeyParts((mode & 0x20) ? nparts : 0);
    Pos p{};
    bool ok = search(x, key.data(), p);
    _SetKeyParts(0);
    if (!ok) return -1;
    r = p.r, s = p.s, found = p.found, atInsert = !p.found;
    if (!found && (mode & 1) && (!x.unique() || (mode & 0x20))) {
      int32_t rr2 = r, ss = s;
      bool there = ss < x.ecount(rr2) || step(x, rr2, --ss, 1);
      if (there && readLeaf(x, x.enode(rr2)) == 0) {
        uint8_t const* k = x.st.leaf.data() + size_t(ss) * x.slot();
        bool same;
        if ((mode & 0x20) && nparts) {
          _SetKeyCmpIp(x.ip);
          _SetKeyParts(nparts);
          same = XKeyCmp(key.data(), k) == 0;
          _SetKeyParts(0);
        } else {
          same = memcmp(key.data(), k, size_t(x.klen())) == 0;
        }
        if (same) found = true, r = rr2, s = ss, atInsert = false;
      }
    }
  }
  if (mode != 8 && mode != 16) {
    if (mode & 1) {
      if (!found && !(mode & 6)) {
        x.st.caller = nullptr;
        return -1;
      }
    }
    if (!(mode & 1) || !found) {
      if (mode & 2) {
        if (!atInsert) {
          if (!step(x, r, s, 1)) found = false;
          else found = true;
        } else {
          found = s < x.ecount(r) || step(x, r, --s, 1);
        }
      } else if (mode & 4) {
        found = step(x, r, s, -1);
      }
    }
  }
  if (!found) {
    x.st.caller = nullptr;
    return -1;
  }
  if (readLeaf(x, x.enode(r)) != 0) return -1;
  uint8_t* k = x.st.leaf.data() + size_t(s) * x.slot();
  if ((mode & 0x20) && nparts && mode != 8 && mode != 16 && !(mode & 0x40)) {
    _SetKeyCmpIp(x.ip);
    _SetKeyParts(nparts);
    int c = XKeyCmp(key.data(), k);
    _SetKeyParts(0);
    if (c != 0) {
      x.st.caller = nullptr;
      return -1;
    }
  }
  x.st.caller = caller;
  x.st.posRoot = r, x.st.posSlot = s;
  if (keyout) *keyout = reinterpret_cast<char*>(k);
  return ldlong(k + x.klen());
}

// Raises "IO_REC_NOT_FOUND" with the key of `rec` through index `idx`,
// each part's display text followed by a blank.
void notFound(s_table* t, int32_t idx, char const* rec) {
  s_index const* ip = &t->indexes[idx];
  std::vector<char> key(size_t(ip->d.klen) + 4, 0);
  std::string shown;
  if (_CheckKey(ip, rec, t->d.len)) {
    _BuildKey(key.data(), ip, rec, 0);
    char text[1024];
    _KeyText(ip, key.data(), text, sizeof text);
    shown = text;
    if (ip->d.nparts > 0) shown += ' ';
  }
  Error(__DbErrmsg("IO_REC_NOT_FOUND"), schemaOf(t)->d.name, t->d.name, shown.c_str());
}

s_table* recTable(int32_t table) {
  s_table* t = _GetTabPtr(table);
  if (!t || !t->data) return nullptr;
  callHandle = table & 0xffff00;
  return t;
}

// The open table of a handle whose records the user may read; null (with
// the refusal raised) otherwise.
s_table* readableTable(int32_t table) {
  s_table* t = recTable(table);
  if (t && !(t->privg & DB_TAB_SELECT)) {
    refuse(t, "IO_NO_PERMS", "SELECT");
    return nullptr;
  }
  return t;
}

// The record number the key in `rec` names through the handle's index
// (FindRecord, FreeRecord): -1 none, -2 busy; mode 0 is refused.
int32_t locateByKey(s_table* t, int32_t table, char const* rec, int32_t mode, int32_t nparts, char const* op) {
  if (mode == 0) {
    Error(__DbErrmsg("IO_NO_MORE_RECNO"), op, schemaOf(t)->d.name, t->d.name);
    return -1;
  }
  int32_t idx = dbLowByte(table);
  if (idx >= t->nindexes) return -1;
  int32_t n = findKey(t, t, idx, rec, nparts ? (mode | 0x20) : mode, nparts, nullptr, 0);
  return n < 0 ? n : (n == 0 ? -1 : n);
}

// Starts the transaction of the first change.
void logChange() { zxdb::beginChange(); }

int32_t putInternal(int32_t table);
int32_t delInternal(int32_t table);

int32_t addInternal(int32_t table, char const* name, bool autoStamps = true) {
  s_table* t = recTable(table);
  if (!t) return 0;
  s_schema* sp = schemaOf(t);
  // Undo puts a before image back exactly, whoever runs it.
  bool const undo = undoing();
  autoStamps = autoStamps && !undo;
  if (!undo && sp->privg < DB_SCH_MANIP) {
    Error(__DbErrmsg("IO_MANIP_PERM"), name, sp->d.name, t->d.name);
    return 0;
  }
  char* rec = _GetTabBuff(table);
  if (autoStamps && (t->d.flags & 8)) fillStamps(t, rec, 0x100, true);
  if (autoStamps && (t->d.flags & 4)) fillStamps(t, rec, 0x80, false);
  if (autoStamps && (t->d.flags & 2)) fillStamps(t, rec, 0x40, false);
  // Refusals come before a slot is taken: nothing moves for a refused add.
  std::string detail;
  bool exists = false;
  if (t->nindexes > 0) {
    Ix x = ixOf(t, 0);
    int32_t f = findKey(nullptr, t, 0, rec, 1, 0, nullptr, 0);
    if (f == -2) {
      lockedRecord(t, name);
      return 0;
    }
    exists = f > 0;
    if (exists) return -f;
    (void)x;
  }
  if (!undo && !(t->privg & DB_TAB_INSERT)) {
    refuse(t, "IO_NO_PERMS", "INSERT");
    return 0;
  }
  if (!undo && !checkRecord(t, rec, detail)) {
    refuse(t, "IO_BAD_CHECK", detail.c_str());
    return 0;
  }
  logChange();
  if (holdAll(t, name) != 0) return 0;
  int32_t n;
  if (t->nindexes > 0 && maintained(&t->indexes[0])) n = addKey(t, 0, -1, rec);
  else n = allocRecord(t, rec);
  if (n <= 0) return n < 0 && t->nindexes > 0 ? n : 0;
  for (int32_t i = 1; i < t->nindexes; ++i)
    if (maintained(&t->indexes[i])) addKey(t, i, n, rec);
  return n;
}

}  // namespace

// ============================================================================
// Exported calls
// ============================================================================
extern "C" {

DbHandler SetDbHandler(DbHandler h) {
  DbHandler old = dbHandler;
  dbHandler = h;
  return old;
}

int32_t _AddKey(int32_t index, int32_t recno, char* record, int32_t) {
  s_table* t = recTable(index);
  if (!t || dbLowByte(index) >= t->nindexes) return 0;
  logChange();
  return addKey(t, dbLowByte(index), recno, record);
}

int32_t _DelKey(int32_t index, int32_t recno, char const* record) {
  s_table* t = recTable(index);
  if (!t || dbLowByte(index) >= t->nindexes) return -1;
  logChange();
  return delKey(t, dbLowByte(index), recno, record);
}

int32_t _FindKey(void const* caller, int32_t index, char const* record, int32_t mode, int32_t nparts, char** keyout,
                 int32_t lockmode) {
  s_table* t = recTable(index);
  if (!t || dbLowByte(index) >= t->nindexes) return -1;
  return findKey(caller, t, dbLowByte(index), record, mode, nparts, keyout, lockmode);
}

int32_t AddRecord(int32_t table) {
  int32_t n = addInternal(table, "AddRecord");
  endSingleChange();
  return n > 0 ? n : -1;
}

int32_t AddRecordTest(int32_t table) {
  int32_t n = addInternal(table, "AddRecordTest");
  endSingleChange();
  return n > 0 ? n : -1;
}

int32_t GetRecord(int32_t table, int32_t mode, int32_t lockflags, int32_t number) {
  s_table* t = readableTable(table);
  if (!t) return -1;
  char* rec = _GetTabBuff(table);
  int32_t n = number;
  if (mode) {
    int32_t idx = dbLowByte(table);
    if (idx >= t->nindexes) return -1;
    n = findKey(t, t, idx, rec, number ? (mode | 0x20) : mode, number, nullptr, lockflags);
    if (n == -2) return -2;
    if (n < 0) {
      if (lockflags & 4) notFound(t, idx, rec);
      return -1;
    }
  }
  std::vector<char> work(size_t(t->d.len) + 4);
  int32_t r = readSlot(t, n, work.data(), lockflags & 3, mode != 0);
  if (r != 0) return r;
  memcpy(rec, work.data(), work.size());
  // A table with a relation reads the related record too.
  _GetRel(table & 0xffff00);
  return n;
}

int32_t PutRecord(int32_t table) {
  int32_t n = putInternal(table);
  endSingleChange();
  return n;
}

}  // extern "C"

namespace {

int32_t putInternal(int32_t table) {
  s_table* t = recTable(table);
  if (!t) return -1;
  int32_t n = addInternal(table, "PutRecord");
  if (n > 0) return n;
  if (n == 0) return -1;
  n = -n;
  char* rec = _GetTabBuff(table);
  bool const undo = undoing();
  if (!undo && !(t->privg & DB_TAB_UPDATE)) {
    refuse(t, "(21)", "UPDATE");
    return -1;
  }
  std::string detail;
  if (!undo && !checkRecord(t, rec, detail)) {
    refuse(t, "IO_BAD_CHECK", detail.c_str());
    return -1;
  }
  std::vector<char> old(size_t(t->d.len) + 4);
  if (readSlot(t, n, old.data(), 0) != 0) return -1;
  logChange();
  if (holdAll(t, "PutRecord") != 0) return -1;
  for (int32_t i = 0; i < t->d.nfields && !undo; ++i) {
    s_field* f = &t->fields[i];
    if (f->d.flags & 0x40) {
      int32_t sz = dbElemSize(f->d.f_itype, f->d.len) * (f->d.dim ? f->d.dim : 1);
      if (f->d.offset + sz <= t->d.len) memcpy(rec + f->d.offset, old.data() + f->d.offset, size_t(sz));
    }
  }
  stlong(t->d.len, rec);
  if (!logRecord(t, 6, old.data(), rec)) return -1;
  for (int32_t i = 1; i < t->nindexes; ++i) {
    s_index* ip = &t->indexes[i];
    if (!maintained(ip)) continue;
    std::vector<char> a(size_t(ip->d.klen) + 4), b(size_t(ip->d.klen) + 4);
    _BuildKey(a.data(), ip, old.data(), n);
    _BuildKey(b.data(), ip, rec, n);
    if (_KeyCmp(ip, a.data(), b.data()) == 0) continue;
    delKey(t, i, n, old.data());
    addKey(t, i, n, rec);
  }
  if (slotWrite(t, n, rec, t->d.len) != 0) return -1;
  stlong(n, rec + t->d.len);
  return n;
}

int32_t delInternal(int32_t table) {
  s_table* t = recTable(table);
  if (!t) return -1;
  s_schema* sp = schemaOf(t);
  bool const undo = undoing();
  if (!undo && sp->privg < DB_SCH_MANIP) {
    Error(__DbErrmsg("IO_MANIP_PERM"), "DelRecord", sp->d.name, t->d.name);
    return -1;
  }
  if (!undo && !(t->privg & DB_TAB_DELETE)) {
    refuse(t, "IO_NO_PERMS", "DELETE");
    return -1;
  }
  if (t->nindexes < 1) return -1;
  char* rec = _GetTabBuff(table);
  logChange();
  if (holdAll(t, "DelRecord") != 0) return -1;
  int32_t n = findKey(nullptr, t, 0, rec, 1, 0, nullptr, 0);
  if (n <= 0) return -1;
  std::vector<char> old(size_t(t->d.len) + 4);
  if (readSlot(t, n, old.data(), 0) != 0) return -1;
  // Undoing an add removes only the record the add wrote.
  if (undo && memcmp(old.data(), rec, t->d.len) != 0) return -1;
  if (!logRecord(t, 5, old.data(), nullptr)) return -1;
  for (int32_t i = 0; i < t->nindexes; ++i)
    if (maintained(&t->indexes[i])) delKey(t, i, n, old.data());
  if (freeRecord(t, n) != 0) return -1;
  return n;
}

}  // namespace

extern "C" {

int32_t DelRecord(int32_t table) {
  int32_t n = delInternal(table);
  endSingleChange();
  return n;
}

int32_t FindRecord(int32_t table, int32_t mode, int32_t nparts) {
  s_table* t = readableTable(table);
  if (!t) return -1;
  char* rec = _GetTabBuff(table);
  int32_t n = locateByKey(t, table, rec, mode, nparts, "FindRecord");
  if (n <= 0) return n;
  // The slot is read under the record lock only to see that it is live.
  std::vector<char> work(size_t(t->d.len) + 4);
  int32_t r = readSlot(t, n, work.data(), 1);
  if (r != 0) return r;
  s_index const* ip = &t->indexes[dbLowByte(table)];
  if (!_CheckKey(ip, work.data(), t->d.len)) return -1;
  for (int32_t i = 0; i < ip->d.nparts; ++i) {
    s_index_field const& p = ip->parts[i];
    memcpy(rec + p.offset, work.data() + p.offset, p.len);
  }
  stlong(n, rec + t->d.len);
  return n;
}

int32_t FreeRecord(int32_t table, int32_t mode, int32_t nparts) {
  s_table* t = recTable(table);
  if (!t) return -1;
  char* rec = _GetTabBuff(table);
  int32_t n = locateByKey(t, table, rec, mode, nparts, "FreeRecord");
  if (n <= 0) return n;
  TableState& ts = tstate(t);
  if (ts.whole || (t->d.flags & 1)) return n;
  return _DbFree(t->data, t->d.len, recOff(t, n)) == 0 ? n : -1;
}

int32_t PushRecord(int32_t table) {
  s_table* t = recTable(table);
  if (!t) return -1;
  tstate(t).pushed[table & 0xffff00].numbers.push_back(ldlong(_GetTabBuff(table) + t->d.len));
  return 0;
}

int32_t PopRecord(int32_t table) {
  s_table* t = recTable(table);
  if (!t) return 0;
  std::vector<int32_t>& st = tstate(t).pushed[table & 0xffff00].numbers;
  if (st.empty()) return 0;
  int32_t n = st.back();
  st.pop_back();
  return GetRecord(table, 0, 0, n) == n ? 1 : 0;
}

int32_t DiscardRecord(int32_t table) {
  s_table* t = recTable(table);
  if (!t) return -1;
  std::vector<int32_t>& st = tstate(t).pushed[table & 0xffff00].numbers;
  if (st.empty()) return -1;
  st.pop_back();
  return 0;
}

int32_t LockTable(int32_t table, int32_t mode) {
  s_table* t = recTable(table);
  if (!t) return -1;
  TableState& ts = tstate(t);
  if (ts.whole) return 0;
  int32_t r = _DbLockf(t->data, mode == 3 ? 3 : 1);
  if (r != 0) return r == -2 ? -2 : -1;
  ts.whole = true;
  return 0;
}

// ---- time stamps ---------------------------------------------------------------
time_stamp TimeStamp(int32_t table, int32_t tableflags, int32_t fieldflags) {
  time_stamp ts{0, -32768, 0, 0};
  s_table* t = _GetTabPtr(table);
  if (!t || !(t->d.flags & tableflags)) return ts;
  char const* rec = _GetTabBuff(table);
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field const* f = &t->fields[i];
    if (!(f->d.flags & fieldflags)) continue;
    char const* p = rec + f->d.offset;
    if (f->d.offset + stampBytes(f) > t->d.len) continue;
    if (f->d.type == 2) ts.date = ldshort(p);
    else if (f->d.type == 3) ts.time = uint16_t(ldshort(p));
    else if (f->d.type == 0 && f->d.len == 5) ts.user = int16_t(ldlong(p));
  }
  return ts;
}

time_stamp MTimeStamp(int32_t table) { return TimeStamp(table, 4, 0x80); }

time_stamp CTimeStamp(int32_t table) { return TimeStamp(table, 10, 0x140); }

time_stamp TableTimeStamp(int32_t table) {
  time_stamp ts{0, -32768, -1, -1};
  s_table* t = recTable(table);
  if (!t) return ts;
  int64_t m = _DbStat(t->data, 0);
  if (m < 0) return ts;
  time_t when = time_t(m);
  struct tm tmv;
  if (!localtime_r(&when, &tmv)) return ts;
  int32_t day = _dmy_to_date(tmv.tm_mday, tmv.tm_mon + 1, tmv.tm_year + 1900);
  ts.date = std::clamp<int32_t>(day, -32768, 32766);
  ts.time = (tmv.tm_hour * 3600 + tmv.tm_min * 60 + tmv.tm_sec) / 2 + 1;
  return ts;
}

int32_t SetFieldStamps(int32_t table, char* buffer, time_stamp const* creation, time_stamp const* modification) {
  s_table* t = _GetTabPtr(table);
  if (!t || !buffer) return -1;
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field const* f = &t->fields[i];
    time_stamp const* ts = (f->d.flags & 0x140) ? creation : (f->d.flags & 0x80) ? modification : nullptr;
    if (!ts || f->d.offset + stampBytes(f) > t->d.len) continue;
    char* p = buffer + f->d.offset;
    if (f->d.type == 2) stshort(ts->date, p);
    else if (f->d.type == 3) stshort(ts->time, p);
    else if (f->d.type == 0 && f->d.len == 5) stlong(ts->user, p);
  }
  return 0;
}

int32_t AddRecordTS(int32_t table, time_stamp const* creation, time_stamp const* modification) {
  s_table* t = recTable(table);
  if (!t) return -1;
  int32_t uid = ProcUserId();
  if (uid != 0 && uid != schemaOf(t)->owner) {
    refuse(t, "IO_NO_PERMS", "INSERT");
    return -1;
  }
  SetFieldStamps(table, _GetTabBuff(table), creation, modification);
  int32_t n = addInternal(table, "AddRecordTS", false);
  endSingleChange();
  return n > 0 ? n : -1;
}

// The download stamp at 512: time and date as longs, then the spare and
// the user as shorts.
time_stamp GetDownLoadTS(int32_t table) {
  time_stamp ts{0, -32768, 0, 0};
  s_table* t = recTable(table);
  uint8_t b[12];
  if (!t || _DbRead(t->data, b, 12, kTabHeader, 0) != 0) return ts;
  ts.time = ldlong(b), ts.date = ldlong(b + 4);
  ts.spare = int16_t(ldshort(b + 8)), ts.user = int16_t(ldshort(b + 10));
  return ts;
}

int32_t SetDownLoadTS(int32_t table, time_stamp const* stamp) {
  s_table* t = recTable(table);
  if (!t || !stamp) return -1;
  uint8_t b[12];
  stlong(stamp->time, b);
  stlong(stamp->date, b + 4);
  stshort(stamp->spare, b + 8);
  stshort(stamp->user, b + 10);
  return _DbWrite(t->data, b, 12, kTabHeader) == 0 ? 0 : -1;
}

int32_t InitRecord(int32_t table) {
  s_table* t = recTable(table);
  if (!t) return -1;
  char* rec = _GetTabBuff(table);
  memset(rec, 0, size_t(t->d.len) + 4);
  return 0;
}

int32_t TabNRecords(int32_t table) {
  s_table* t = recTable(table);
  int32_t high, fh, cnt;
  if (!t || !peekCounters(t, high, fh, cnt)) return -1;
  return high == -1 ? -1 : cnt;
}

int32_t TabActualSize(int32_t table) {
  s_table* t = recTable(table);
  int32_t high, fh, cnt;
  if (!t || !peekCounters(t, high, fh, cnt)) return -1;
  return high;
}

int32_t _FlushTable(int32_t table, int32_t) {
  s_table* t = _GetTabPtr(table);
  if (!t) return -1;
  int32_t rc = 0;
  for (int32_t i = 0; i < t->nindexes; ++i) {
    auto it = gIndex.find(&t->indexes[i]);
    if (it == gIndex.end()) continue;
    Ix x = ixOf(t, i);
    if (x.st.held && writeRoot(x) != 0) rc = -1;
  }
  if (!flushCache(t)) rc = -1;
  if (freeTabHeader(t) != 0) rc = -1;
  // Record locks go with the flush; a whole-table lock stays until FreeTable.
  if (t->data && !tstate(t).whole && !(t->d.flags & 1)) _DbFree(t->data, 0, 0);
  return rc;
}

int32_t FreeTable(int32_t table) {
  s_table* t = _GetTabPtr(table);
  if (!t) return -1;
  int32_t rc = _FlushTable(table, -1);
  if (t->data && !(t->d.flags & 1)) {
    _DbFree(t->data, 0, 0);
    tstate(t).whole = false;
  }
  return rc;
}

int32_t FlushTable(int32_t table) {
  s_table* t = _GetTabPtr(table);
  if (!t) return -1;
  int32_t rc = FreeTable(table);
  for (int32_t i = 0; i < t->nindexes; ++i) gIndex.erase(&t->indexes[i]);
  tstate(t).cache.clear();
  return rc;
}

int32_t SetIndexCache(int32_t index, int32_t kilobytes) {
  s_table* t = recTable(index);
  if (!t || dbLowByte(index) >= t->nindexes || kilobytes < 0) return -1;
  Ix x = ixOf(t, dbLowByte(index));
  int32_t entries = int32_t(std::min<int64_t>(int64_t(kilobytes) * 1024 / x.node(), 65536));
  if (entries == int32_t(x.st.ncache.size())) return 0;
  if (x.ip->file && readLeaf(x, 0) != 0) return -1;
  x.st.ncache.assign(size_t(entries), NodeEntry{});
  for (NodeEntry& e : x.st.ncache) e.buf.assign(size_t(x.node()), 0);
  return 0;
}

int32_t SetDataCache(int32_t table, int32_t kilobytes, int32_t flags) {
  s_table* t = recTable(table);
  if (!t || kilobytes < 0) return -1;
  TableState& ts = tstate(t);
  int32_t size = std::min<int32_t>(int32_t(std::min<int64_t>(int64_t(kilobytes) * 1024, 65535)) / t->d.len, 65535);
  if (size == int32_t(ts.cache.size())) return 0;
  if (!flushCache(t)) return -1;
  ts.cache.clear();
  if ((flags & 1) && !ts.whole) {
    if (_DbLockf(t->data, 3) != 0) return -2;
    ts.whole = true;
  }
  ts.window = (flags & 0x1000) != 0;
  ts.cache.resize(size_t(size));
  for (CacheEntry& e : ts.cache) e.buf.assign(size_t(t->d.len), 0);
  return 0;
}

void _ForgetTableState(s_table* t) {
  for (int32_t i = 0; i < t->nindexes; ++i) gIndex.erase(&t->indexes[i]);
  gTable.erase(t);
}

int32_t _DbVerifyConsist(char const* module, int32_t line, int32_t index) {
  s_table* t = recTable(index);
  if (!t || dbLowByte(index) >= t->nindexes) return -1;
  Ix x = ixOf(t, dbLowByte(index));
  if (readRoot(x, 0) != 0) return -1;
  int64_t sum = 0;
  bool order = true;
  for (int32_t i = 0; i < x.st.nroot; ++i) {
    sum += x.ecount(i);
    if (i && cmpKeys(x.ip, x.entry(i - 1), x.entry(i)) >= 0) order = false;
  }
  releaseRoot(x);
  if (!order) {
    Error("\n\tFallo Chequeo Indice\n\tModulo: %s, linea: %d\n\tIndice fuera de Orden (1)\n", module, int(line));
    return -1;
  }
  int32_t n = TabNRecords(index);
  bool partial = (x.ip->d.flags & 2);
  for (int32_t p = 0; p < x.ip->d.nparts; ++p) partial |= (x.ip->parts[p].flags & 2) != 0;
  if (sum != n && !(partial && sum < n)) {
    Error("\n\tFallo Chequeo Indice\n\tModulo: %s, linea: %d\n\tDiferencia en la Cantidad de Registros (2)\n\tcount "
          "%d  nreg %d\n",
          module, int(line), int(sum), int(n));
    return -1;
  }
  return 0;
}

}  // extern "C"

// ============================================================================
// Index checks, building and the report file
// ============================================================================
namespace zxdb {

int32_t tableCount(s_table* t) {
  int32_t high, fh, cnt;
  return peekCounters(t, high, fh, cnt) ? cnt : -1;
}

// Appends one line about a faulty root to "$ZEPHRA/adm/index.bad": 0, or -1
// when the file cannot be opened or locked.
int32_t badRootNode(s_table* t, s_index const* ip, int32_t kind, int64_t sum, int32_t count) {
  ReadEnvHandler old = SetReadEnvHandler(nullptr);
  char const* home = def_ReadEnv("ZEPHRA", __FILE__, __LINE__);
  SetReadEnvHandler(old);
  if (!home) return -1;
  std::string path = std::string(home) + "/adm/index.bad";
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (lockFile(fd, true, false, 0, 0) != 0) {
    ::close(fd);
    return -1;
  }
  char sd[16], st[16], now[16];
  zfSnprintf(sd, sizeof sd, "%d", int(ProcStartDate()));
  zfSnprintf(st, sizeof st, "%d", int(ProcStartTime()));
  time_t tnow = time(nullptr);
  struct tm tmv;
  localtime_r(&tnow, &tmv);
  strftime(now, sizeof now, "%H:%M:%S", &tmv);
  char** args = ProcArgs();
  char const* prog = args && args[0] ? args[0] : "";
  char const* user = UserName(ProcUserId());
  char const* tty = ProcTtyName();
  char iname[16];
  zfSnprintf(iname, sizeof iname, "%d", int(ip - t->indexes));
  char line[2048];
  int32_t len = zfSnprintf(line, sizeof line, "%s\t%s\t%s\t%d\t%s\t%d\t%s\t%s\t%s\t%s\t%d\t%ld\t%ld\n", sd, st, now,
                           int(ProcPid()), prog, int(ProcSignal()), user ? user : "", tty ? tty : "", t->d.name,
                           ip->d.name ? ip->d.name : iname, int(kind), long(sum), long(count));
  bool ok = len > 0 && ::write(fd, line, size_t(std::min<int32_t>(len, int32_t(sizeof line) - 1))) > 0;
  freeFile(fd, 0, 0);
  ::close(fd);
  return ok ? 0 : -1;
}

}  // namespace zxdb

extern "C" {

int32_t EmptyIndex(int32_t index) {
  s_table* t = recTable(index);
  if (!t || dbLowByte(index) >= t->nindexes) return -1;
  Ix x = ixOf(t, dbLowByte(index));
  bool cached = x.ip->file != nullptr;
  if (x.st.held && !x.temp() && cached) _DbFree(x.ip->file, kHeader, 0);
  if (cached) _DbClose(x.ip->file);
  x.ip->file = nullptr;
  if (x.temp()) _DbUnlink(schemaOf(t), x.fname, x.ext);
  gIndex.erase(x.ip);
  return 0;
}

int32_t BuildIndex(int32_t index, int32_t flags) {
  s_table* t = recTable(index);
  if (!t || dbLowByte(index) >= t->nindexes) return -1;
  int32_t number = dbLowByte(index);
  TableState& ts = tstate(t);
  // The pass reads and writes the file directly.
  if (!flushCache(t)) return -1;
  for (CacheEntry& e : ts.cache) e.recno = 0;
  // Hold the table header, accepting the mark a dead writer left.
  bool rebuild = false;
  if (!ts.held) {
    uint8_t h[kTabHeader];
    int32_t lk = (t->d.flags & 1) ? 0 : 1;
    if (_DbRead(t->data, h, kTabHeader, 0, lk) != 0) return -1;
    int32_t high = ldlong(h), fh = ldlong(h + 4), cnt = ldlong(h + 8);
    int64_t size = _DbStat(t->data, 1);
    int32_t fileHigh = size > kHeader ? int32_t(std::min<int64_t>((size - kHeader) / t->d.len, INT32_MAX)) : 0;
    // The slots in the file decide: a header that counts fewer (or more)
    // is rebuilt, so that no live record is left out of the index.
    if (high != fileHigh || fh < 0 || fh > high || cnt < 0 || cnt > high) {
      rebuild = true;
      high = fileHigh;
      fh = 0;
    }
    ts.high = high, ts.freeHead = fh, ts.count = cnt;
    ts.held = true;
    uint8_t mark[kTabHeader];
    memset(mark, 0, sizeof mark);
    stlong(-1, mark);
    holderText(reinterpret_cast<char*>(mark) + 12, 500);
    _DbWrite(t->data, mark, 4, 0);
    _DbWrite(t->data, mark + 12, 500, 12);
  }
  int32_t n = ts.high;
  Ix x = ixOf(t, number);
  if (flags & 2) {
    bool marked = true;
    if (openIndexFile(x)) {
      uint8_t h[8];
      marked = _DbRead(x.ip->file, h, 8, 0, 0) == 0 && ldlong(h + 4) == -1;
    }
    if (!marked && !rebuild) {
      freeTabHeader(t);
      return 0;
    }
  }
  if (x.st.held) {
    x.st.held = false;
    if (!x.temp() && x.ip->file) _DbFree(x.ip->file, kHeader, 0);
  }
  // Reset in place: a caller up the stack may hold a reference to it.
  x.st = IndexState{};
  Ix& y = x;
  if (!openIndexFile(y) || !truncateFile(y.ip->file, 0)) return -1;
  if (readRoot(y, 1) != 0) return -1;
  if (flags & 256) {
    zfPrintf(__DbErrmsg("IO_DOING"), t->d.name, y.ip->d.name ? y.ip->d.name : y.ext);
    zfPrintf("%s", __DbErrmsg("IO_PERCENT"));
    fflush(stdout);
  }
  std::vector<char> rec(size_t(t->d.len) + 4);
  int32_t live = 0, prevFree = 0, every = std::max<int32_t>(1, n / 100), lastPct = -1;
  for (int32_t i = 1; i <= n; ++i) {
    if (_DbRead(t->data, rec.data(), t->d.len, recOff(t, i), 0) != 0) return -1;
    if (ldlong(rec.data()) == t->d.len) {
      stlong(i, rec.data() + t->d.len);
      int32_t r = addKey(t, number, i, rec.data());
      if (r < 0) {
        y.st.broken = true;
        freeTabHeader(t);
        Error(__DbErrmsg("IO_BUILD_DUP"), t->d.name, y.ip->d.name ? y.ip->d.name : y.ext, int(-r), int(i));
        return -1;
      }
      ++live;
    } else if (rebuild) {
      stlong(-prevFree, rec.data());
      _DbWrite(t->data, rec.data(), 4, recOff(t, i));
      prevFree = i;
    }
    if ((flags & 256) && i % every == 0) {
      int32_t pct = int32_t(int64_t(i) * 100 / n);
      if (pct != lastPct && pct < 100) zfPrintf("\b\b\b%3.3d", int(pct)), fflush(stdout);
      lastPct = pct;
    }
  }
  if (flags & 256) {
    zfPrintf("\b\b\b100");
    zfPrintf(__DbErrmsg("IO_DONE"), int(live));
    fflush(stdout);
  }
  ts.count = live;
  if (rebuild) ts.freeHead = prevFree, ts.high = n;
  int32_t rc = writeRoot(y);
  if (freeTabHeader(t) != 0) rc = -1;
  return rc == 0 ? live : -1;
}

}  // extern "C"

// ============================================================================
// What the cursor code uses
// ============================================================================
namespace zxdb {

s_table* openTable(int32_t handle) { return recTable(handle); }

int32_t searchIndex(void const* caller, s_table* t, int32_t number, char const* record, int32_t mode,
                    char** keyout, int32_t lockmode) {
  return findKey(caller, t, number, record, mode, 0, keyout, lockmode);
}

int32_t readRecord(s_table* t, int32_t n, char* out, int32_t lockmode) {
  return readSlot(t, n, out, lockmode, true);
}

bool holdIndexForBlock(s_table* t, int32_t number) {
  Ix x = ixOf(t, number);
  if (x.st.blockHold || readRoot(x, 0) != 0) return false;
  x.st.blockHold = true;
  return true;
}

void releaseIndexForBlock(s_table* t, int32_t number) {
  Ix x = ixOf(t, number);
  if (!x.st.blockHold) return;
  x.st.blockHold = false;
  releaseRoot(x);
}

void freeRecordLock(s_table* t, int32_t n) { _DbFree(t->data, t->d.len, recOff(t, n)); }

bool recordLockedElsewhere(s_table* t, int32_t n) {
  int fd = vfd(t->data, 1);
  if (fd < 0) return false;
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(recOff(t, n));
  fl.l_len = off_t(t->d.len);
  return fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

}  // namespace zxdb

// ============================================================================
// What the log asks of the tables
// ============================================================================
namespace zxdb {

int32_t writeKeepingHolds(s_table* t) {
  int32_t rc = 0;
  for (int32_t i = 0; i < t->nindexes; ++i) {
    if (gIndex.find(&t->indexes[i]) == gIndex.end()) continue;
    Ix x = ixOf(t, i);
    if (x.st.held && writeRoot(x, false) != 0) rc = -1;
  }
  if (gTable.find(t) == gTable.end()) return rc;
  if (!flushCache(t)) rc = -1;
  if (freeTabHeader(t, false) != 0) rc = -1;
  return rc;
}

int32_t tableHandle(s_table const* t) {
  s_schema* sp = t->schema;
  for (int32_t s = 1; s <= kDbMaxTables; ++s)
    if (sp->tables[s].tab == t) return dbTableHandle(sp->handle, s);
  return 0;
}

// Rebuilds the header of a table that no index pass rebuilds (it has no
// index to build): counters from the slots in the file, the free list made
// again. Held like an index pass; a header no longer marked stays.
void rebuildTableHeader(s_table* t) {
  TableState& ts = tstate(t);
  if (ts.held || !flushCache(t)) return;
  for (CacheEntry& e : ts.cache) e.recno = 0;
  uint8_t h[kTabHeader];
  int32_t lk = (t->d.flags & 1) ? 0 : 1;
  if (_DbRead(t->data, h, kTabHeader, 0, lk) != 0) return;
  ts.held = true;
  if (ldlong(h) != -1) {
    ts.high = ldlong(h), ts.freeHead = ldlong(h + 4), ts.count = ldlong(h + 8);
    freeTabHeader(t);
    return;
  }
  int64_t size = _DbStat(t->data, 1);
  int32_t n = size > kHeader ? int32_t(std::min<int64_t>((size - kHeader) / t->d.len, INT32_MAX)) : 0;
  std::vector<char> rec(size_t(t->d.len) + 4);
  int32_t live = 0, prevFree = 0;
  for (int32_t i = 1; i <= n; ++i) {
    if (_DbRead(t->data, rec.data(), t->d.len, recOff(t, i), 0) != 0) {
      n = i - 1;
      break;
    }
    if (ldlong(rec.data()) == t->d.len) {
      ++live;
    } else {
      stlong(-prevFree, rec.data());
      _DbWrite(t->data, rec.data(), 4, recOff(t, i));
      prevFree = i;
    }
  }
  ts.high = n, ts.freeHead = prevFree, ts.count = live;
  freeTabHeader(t);
}

int32_t undoKeylessAdd(s_table* t, char const* image) {
  if (holdAll(t, "DelRecord") != 0) return -1;
  std::vector<char> slot(size_t(t->d.len) + 4);
  // The newest copy goes: an add takes the free slot freed last or the next
  // one past the high mark.
  for (int32_t n = tstate(t).high; n >= 1; --n) {
    if (readSlot(t, n, slot.data(), 0) != 0 || memcmp(slot.data(), image, size_t(t->d.len)) != 0) continue;
    return freeRecord(t, n) == 0 ? n : -1;
  }
  return 0;
}

bool rebuildMarked(s_table* t) {
  if (!t->data || tstate(t).held) return true;
  auto marked = [t] {
    uint8_t b[8];
    if (_DbRead(t->data, b, 4, 0, 0) == 0 && ldlong(b) == -1) return true;
    for (int32_t i = 0; i < t->nindexes; ++i) {
      Ix x = ixOf(t, i);
      if (x.temp() || x.st.held || !openIndexFile(x)) continue;
      if (_DbRead(x.ip->file, b, 8, 0, 0) == 0 && ldlong(b + 4) == -1) return true;
    }
    return false;
  };
  if (!marked()) return true;
  int32_t h = tableHandle(t);
  bool built = false;
  for (int32_t i = 0; i < t->nindexes; ++i)
    if (!(t->indexes[i].d.flags & 2) && t->indexes[i].d.nparts > 0) BuildIndex(h | i, 2 | 128), built = true;
  if (!built) rebuildTableHeader(t);
  return !marked();
}
}  // namespace zxdb

// ============================================================================
// What the design calls ask of the tables
// ============================================================================
namespace zxdb {

int32_t truncateTableFiles(s_table* t) {
  int32_t rc = 0;
  for (int32_t i = 0; i < t->nindexes; ++i) {
    s_index* ip = &t->indexes[i];
    if (!ip->d.nparts) continue;
    Ix x = ixOf(t, i);
    if (x.st.held && ip->file && !x.temp()) _DbFree(ip->file, kHeader, 0);
    x.st = IndexState{};
    if (!openIndexFile(x) || !truncateFile(ip->file, 0)) rc = -1;
  }
  TableState& ts = tstate(t);
  for (CacheEntry& e : ts.cache) e.recno = 0;
  bool wasHeld = ts.held;
  ts.high = ts.freeHead = ts.count = 0;
  ts.held = false;
  if (!truncateFile(t->data, 0)) rc = -1;
  if (wasHeld && !(t->d.flags & 1) && !ts.whole) _DbFree(t->data, kTabHeader, 0);
  return rc;
}

bool syncTableFiles(s_table* t) {
  bool ok = writeKeepingHolds(t) == 0;
  for (int32_t i = 0; i < t->nindexes; ++i)
    if (t->indexes[i].file && !syncFile(t->indexes[i].file)) ok = false;
  return (!t->data || syncFile(t->data)) && ok;
}

}  // namespace zxdb
