// Blocked files: open and header copies, geometry, record access through the
// page cache, the two free lists, retained versions, the modified-file list,
// and the checks and dumps. See BlockedFile.h for the format and invariants.
#include <blkfile/BlockedFile.h>

#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>

#include <zfound/BoolArray.h>
#include <zfound/Exception.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/PhysLayout.h>
#include <zfound/Portable.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

using svstore::StorageEnv;

BlockedFile* BlockedFile::modList_ = nullptr;
int64_t BlockedFile::ntries = 0;
int64_t BlockedFile::nhits = 0;
char* BlockedFile::staging_ = nullptr;
int32_t BlockedFile::stagingLen_ = 0;
uint32_t BlockedFile::nextSerial_ = 1;

namespace {

constexpr uint32_t kVersionChainBit = 0x80000000u;

int32_t pageSize() { return StorageEnv::cachePageSize(); }

// Records the error of a refused storage operation: the catalogue text of
// key, filled with the arguments.
template <class... A>
void refuse(char const* key, A const&... a) {
  String fmt = appMsg(key);
  StorageEnv::exception(InvalidData(formatText(toCharPtr(fmt), a...)));
}

}  // namespace

BlockedFile::BlockedFile() : serial_(nextSerial_++) {
  if (nextSerial_ == 0)
    nextSerial_ = 1;
}

BlockedFile::~BlockedFile() { close(); }

void BlockedFile::close() {
  CacheBuffer::flushAll(this, true);
  CacheBuffer::discardFile(this);
  clearMicroCache();
  if (inModList_)
    delFromModList();
  OsFile::close();
}

bool BlockedFile::syncCache() { return OsFile::sync() == 0; }

int32_t BlockedFile::prefixSize() const { return 0; }

void BlockedFile::reRead(CacheBuffer*) {}

String BlockedFile::qualName() const { return nameExt(); }

bool BlockedFile::open(String const& name, String const& fileName, String const& ext, int32_t recLength,
                       int32_t parity) {
  close();
  SV_ASSERT(StorageEnv::physLayout_sd != nullptr, "physLayout_sd != (0)");
  hdr_ = Header();
  headerWritten_ = true;
  if (!OsFile::open(*StorageEnv::physLayout_sd, name, ext, Read | Write | Create, 0,
                    fileName.isNull() ? name : fileName))
    return false;
  clearMicroCache();
  listChecked_[0] = listChecked_[1] = false;
  setRecLength(recLength);
  if (!readHeaders(parity)) {
    OsFile::close();
    return false;
  }
  return ok();
}

// ---- header -------------------------------------------------------------

bool BlockedFile::readHeaders(int32_t parity) {
  if (parity == -1) {
    SV_ASSERT(StorageEnv::currCP != -1, "Server::currChkPoint() != (-1)");
    parity = 1 - StorageEnv::currCP;
  }
  SV_ASSERT(parity == 0 || parity == 1, "parity == 0 || parity == 1");
  char buf[kHeaderLength];
  std::memset(buf, 0, sizeof buf);
  int64_t n = OsFile::read(buf, int64_t(parity) * pageSize(), kHeaderLength);
  if (n < 0) {
    String file = qualName();
    warning(appMsg("CANTREADHEADER"), &file);
    refuse("CANTREADHEADER", &file);
    return false;
  }
  bool allZero = std::all_of(buf, buf + kHeaderLength, [](char c) { return c == 0; });
  if (n < kHeaderLength || allZero) {
    // That copy was never written: the file starts fresh.
    clearHeader();
    return true;
  }
  Header h = getHeader(buf);
  if (h.last < 0 || h.nReg < 0 || h.nReg > h.last) {
    // Numbers no file can hold: the copy is damaged, and nothing is
    // allocated or written on its word.
    String file = qualName();
    warning(appMsg("BADBLKHEADER"), &file, parity);
    refuse("BADBLKHEADER", &file, parity);
    return false;
  }
  hdr_ = h;
  hdr_.mlevel = 0;
  if (buf[20] != 0) {
    hdr_.mlevel = 2;
    addToModList();
  }
  return true;
}

void BlockedFile::clearHeader() {
  hdr_ = Header();
  markModified();
}

BlockedFile::Header BlockedFile::getHeader(char const* buf) {
  Header h;
  h.last = ldlong(buf);
  h.freeA = ldlong(buf + 4);
  h.freeB = ldlong(buf + 8);
  h.nReg = ldlong(buf + 12);
  h.rBegin = ldlong(buf + 16);
  h.mlevel = static_cast<uint8_t>(buf[20]);
  h.rDepth = static_cast<uint8_t>(buf[21]);
  if (h.rDepth == 0)
    h.rDepth = 2;
  h.rSlots = ldushort(buf + 22);
  for (int32_t i = 0; i < kNVersions; ++i) {
    h.vers[i].chain = ldlong(buf + 24 + 8 * i);
    h.vers[i].header = ldlong(buf + 28 + 8 * i);
  }
  h.lastRecId = ldlong(buf + 1000);
  char const* p = buf + 1004;
  h.lastMod.load(p);
  return h;
}

void BlockedFile::storeHeader(Header const* h, unsigned char level, bool versionForm, char* buf) {
  SV_ASSERT(h->mlevel <= 3, "mlevel <= 3");
  std::memset(buf, 0, versionForm ? kShortHeaderLength : kHeaderLength);
  stlong(h->last, buf);
  stlong(h->freeA, buf + 4);
  stlong(h->freeB, buf + 8);
  stlong(h->nReg, buf + 12);
  stlong(h->rBegin, buf + 16);
  buf[20] = level == 2 ? 2 : 0;
  buf[21] = static_cast<char>(h->rDepth);
  stshort(h->rSlots, buf + 22);
  int32_t nv = versionForm ? kNShortVersions : kNVersions;
  for (int32_t i = 0; i < nv; ++i) {
    stlong(h->vers[i].chain, buf + 24 + 8 * i);
    stlong(h->vers[i].header, buf + 28 + 8 * i);
  }
  char* p = buf + (versionForm ? 988 : 1004);
  h->lastMod.store(p);
  stlong(h->lastRecId, buf + 1000);
}

bool BlockedFile::writeHeader(bool advance) {
  if (hdr_.mlevel == 0)
    return true;
  SV_ASSERT(inModList_, "inModList_");
  SV_ASSERT(StorageEnv::currCP != -1, "Server::currChkPoint() != (-1)");
  if (!headerWritten_) {
    char buf[kHeaderLength];
    storeHeader(&hdr_, static_cast<unsigned char>(hdr_.mlevel - 1), false, buf);
    if (OsFile::write(buf, int64_t(StorageEnv::currCP) * pageSize(), kHeaderLength) != kHeaderLength) {
      // Nothing advances: the same copy is written again next time.
      String file = qualName();
      warning(appMsg("CANTWRITEHEADER"), &file);
      return false;
    }
    headerWritten_ = true;
  }
  if (advance) {
    --hdr_.mlevel;
    if (hdr_.mlevel == 0)
      delFromModList();
    else
      headerWritten_ = false;
  }
  return true;
}

int32_t BlockedFile::writeAllHeaders(TimeStamp const& limit) {
  int32_t count = 0;
  bool advance = limit.isNull();
  for (BlockedFile* f = modList_; f;) {
    BlockedFile* nx = f->nextMod_;
    if (advance || !(f->hdr_.lastMod > limit)) {
      f->writeHeader(advance);
      ++count;
    }
    f = nx;
  }
  return count;
}

// ---- geometry -----------------------------------------------------------

void BlockedFile::setRecLength(int32_t n) {
  // Cached blocks were cut with the old geometry: they go back first.
  if (n != recLen_)
    CacheBuffer::flushAll(this, true);
  clearMicroCache();
  recLen_ = n;
  if (n <= 0 || n > INT32_MAX / 2 - prefixSize()) {
    slot_ = 0;
    slotsPerBlock_ = 0;
    OsFile::bsize(0);
    return;
  }
  int32_t slot = n + prefixSize();
  int32_t p = pageSize();
  int32_t bs;
  if (isPacked()) {
    bs = slot <= p ? (p / slot) * slot : slot;
    slotsPerBlock_ = bs / slot;
  } else if (slot <= p) {
    bs = p;
    slotsPerBlock_ = p / slot;
    slot += (p % slot) / slotsPerBlock_;
  } else {
    bs = slot;
    slotsPerBlock_ = 1;
  }
  slot_ = slot;
  OsFile::bsize(bs);
}

int64_t BlockedFile::dataOffset() const {
  return isPacked() ? 2 * int64_t(pageSize()) : 2 * int64_t(bsize());
}

// ---- free lists -----------------------------------------------------------

int32_t& BlockedFile::mFree() { return StorageEnv::currCP == 1 ? hdr_.freeB : hdr_.freeA; }

int32_t& BlockedFile::oFree() { return StorageEnv::currCP == 1 ? hdr_.freeA : hdr_.freeB; }

bool BlockedFile::checkRecno(int32_t recno, char const* op) {
  if (recno >= 1 && recno <= hdr_.last && slot_ > 0)
    return true;
  String file = qualName();
  refuse("BADRECNO", op, recno, hdr_.last, &file);
  return false;
}

bool BlockedFile::checkLink(int32_t n, char const* list) {
  if (n >= 1 && n <= hdr_.last)
    return true;
  String file = qualName();
  warning(appMsg("BADFREELINK"), &file, list, n, hdr_.last);
  return false;
}

bool BlockedFile::checkList(int32_t head, bool listA, char const* list) {
  // The records met: a set, not a flag per record up to `last` (see verify).
  std::unordered_set<int32_t> seen;
  for (int32_t n = head; n != 0;) {
    if (!checkLink(n, list))
      return false;
    if (!seen.insert(n).second) {
      String file = qualName();
      warning(appMsg("FREELISTCYCLE"), &file, list, n);
      return false;
    }
    if (!freeLink(n, listA, n))
      return false;
  }
  return true;
}

bool BlockedFile::freeLink(int32_t n, bool listA, int32_t& next) {
  char b[4];
  if (!getBytes(n, linkOffset(listA), b, 4))
    return false;
  next = ldlong(b);
  return true;
}

// ---- page access -----------------------------------------------------------

void BlockedFile::clearMicroCache() { micro_[0] = micro_[1] = micro_[2] = nullptr; }

void BlockedFile::rotateMicroCache() {
  CacheBuffer* first = micro_[0];
  micro_[0] = micro_[1];
  micro_[1] = micro_[2];
  micro_[2] = first;
}

CacheBuffer* BlockedFile::page(int32_t recno, bool lock) {
  int32_t block = (recno - 1) / slotsPerBlock_;
  ++ntries;
  ++objTries_;
  CacheBuffer* cb = nullptr;
  for (int i = 0; i < 3; ++i) {
    if (micro_[0] && micro_[0]->block == block) {
      cb = micro_[0];
      break;
    }
    if (i < 2)
      rotateMicroCache();
  }
  if (cb) {
    ++nhits;
    ++objHits_;
  } else {
    cb = CacheBuffer::find(this, block);
    if (!cb)
      cb = CacheBuffer::readBuffer(this, block);
    if (!cb) {
      String file = qualName();
      refuse("CANTREADBLOCK", block, &file);
      return nullptr;
    }
    micro_[2] = micro_[1];
    micro_[1] = micro_[0];
    micro_[0] = cb;
  }
  if (cb != CacheBuffer::head)
    cb->_markAsLastUsed();
  if (lock && !cb->locked) {
    cb->locked = true;
    ++CacheBuffer::nLocked_;
  }
  return cb;
}

CacheBuffer* BlockedFile::get(char*& p, int32_t recno, bool lock) {
  p = nullptr;
  if (!checkRecno(recno, "get"))
    return nullptr;
  CacheBuffer* cb = page(recno, lock);
  if (!cb)
    return nullptr;
  p = cb->data + ((recno - 1) % slotsPerBlock_) * slot_;
  return lock ? cb : nullptr;
}

char* BlockedFile::get(int32_t recno) {
  if (slot_ > pageSize()) {
    if (stagingLen_ < slot_) {
      delete[] staging_;
      staging_ = new char[slot_];
      stagingLen_ = slot_;
    }
    return fill(staging_, recno) ? staging_ : nullptr;
  }
  char* p;
  get(p, recno, false);
  return p;
}

bool BlockedFile::fill(char* dest, int32_t recno) {
  if (!checkRecno(recno, "fill"))
    return false;
  CacheBuffer* cb = CacheBuffer::find(this, (recno - 1) / slotsPerBlock_);
  bool wasPinned = cb && cb->locked;  // a caller's pin outlives the copy
  cb = page(recno, true);
  if (!cb)
    return false;
  bool ok = getBytes(recno, 0, dest, slot_);
  if (!wasPinned)
    cb->unlock();
  return ok;
}

bool BlockedFile::mark(int32_t recno) {
  if (!checkRecno(recno, "mark"))
    return false;
  CacheBuffer* cb = CacheBuffer::find(this, (recno - 1) / slotsPerBlock_);
  if (cb)
    cb->mod = true;
  return true;
}

void BlockedFile::flush(char* r, CacheBuffer* cbuff, char* cp, int32_t from) {
  SV_ASSERT(r && cbuff && cp, "r && cbuff && cp");
  cbuff->mod = true;
  int32_t p = pageSize();
  if (slot_ <= p) {
    if (from < slot_)
      std::memcpy(cp + from, r + from, slot_ - from);
    return;
  }
  // A slot of several pages: one slot per block, the chain holds it.
  int32_t pos = 0;
  for (CacheBuffer* c = cbuff; pos < slot_; c = c->chain) {
    SV_ASSERT(c != nullptr, "cbuff");
    int32_t len = std::min(p, slot_ - pos);
    int32_t lo = std::max(from, pos);
    if (lo < pos + len)
      std::memcpy(c->data + (lo - pos), r + lo, pos + len - lo);
    pos += len;
  }
  markModified();
}

bool BlockedFile::flush(bool release) {
  bool ok = writeHeader(false);
  CacheBuffer::takeWriteFailed();
  CacheBuffer::flushAll(this, release);
  return !CacheBuffer::takeWriteFailed() && ok;
}

// Bytes [off, off+len) counted from the first byte of record recno's slot
// within its block, through the cache. The run goes on through the block's
// pages and, past the block's end (its unused tail included), from the
// first byte of the next block, as the bytes lie in the file. Every block
// reached must hold a record within 1..last.
bool BlockedFile::moveBytes(int32_t recno, int32_t off, char* buf, int32_t len, bool write) {
  if (slot_ <= 0 || off < 0 || len < 0 || recno < 1)
    return false;
  int32_t p = pageSize();
  int32_t bs = bsize();
  int64_t pos = int64_t((recno - 1) % slotsPerBlock_) * slot_ + off;  // byte within the block
  int64_t block = (recno - 1) / slotsPerBlock_ + pos / bs;
  pos %= bs;
  while (len > 0) {
    // The record that holds byte pos (the block's last one for its tail).
    int64_t r = block * slotsPerBlock_ + std::min<int64_t>(pos / slot_, slotsPerBlock_ - 1) + 1;
    if (r > hdr_.last)
      return false;
    CacheBuffer* cb = page(int32_t(r), false);
    if (!cb)
      return false;
    if (write)
      cb->mod = true;
    int32_t n = int32_t(std::min<int64_t>(len, bs - pos));
    CacheBuffer* c = cb;
    for (int64_t k = pos / p; k > 0 && c; --k)
      c = c->chain;
    int32_t done = 0;
    while (done < n && c) {
      int32_t within = int32_t((pos + done) % p);
      int32_t m = std::min(n - done, p - within);
      if (write)
        std::memcpy(c->data + within, buf + done, m);
      else
        std::memcpy(buf + done, c->data + within, m);
      done += m;
      c = c->chain;
    }
    if (done < n) {
      SV_ASSERT(write, "cbuff != (0)");
      return false;
    }
    buf += n;
    len -= n;
    ++block;
    pos = 0;
  }
  return true;
}

bool BlockedFile::putBytes(int32_t recno, int32_t off, char const* src, int32_t len) {
  return moveBytes(recno, off, const_cast<char*>(src), len, true);
}

bool BlockedFile::getBytes(int32_t recno, int32_t off, char* dst, int32_t len) {
  return moveBytes(recno, off, dst, len, false);
}

// ---- allocation -------------------------------------------------------------

CacheBuffer* BlockedFile::add(char*& p, int32_t& recno, bool lock) {
  p = nullptr;
  if (slot_ <= 0) {
    String file = qualName();
    refuse("NORECLENGTH", "add", &file);
    return nullptr;
  }
  int32_t& head = mFree();
  bool listA = StorageEnv::currCP != 1;
  bool fromFree = false;
  if (listCheckedAt_ != StorageEnv::lastChkPoint) {
    listChecked_[0] = listChecked_[1] = false;
    listCheckedAt_ = StorageEnv::lastChkPoint;
  }
  if (head != 0 && !listChecked_[listA ? 0 : 1]) {
    listChecked_[listA ? 0 : 1] = true;
    if (!checkList(head, listA, "mFree"))
      head = 0;  // a damaged list is dropped; allocation goes on past last
  }
  if (head != 0) {
    if (checkLink(head, "mFree"))
      fromFree = true;
    else
      head = 0;
  }
  if (!fromFree && hdr_.last == INT32_MAX) {
    String file = qualName();
    refuse("NORECNOLEFT", &file);
    return nullptr;
  }
  if (fromFree) {
    recno = head;
  } else {
    ++hdr_.last;
    recno = hdr_.last;
  }
  CacheBuffer* pre = CacheBuffer::find(this, (recno - 1) / slotsPerBlock_);
  bool wasPinned = pre && pre->locked;
  CacheBuffer* cb = page(recno, true);
  if (!cb) {
    if (!fromFree)
      --hdr_.last;
    return nullptr;
  }
  ++hdr_.nReg;
  p = cb->data + ((recno - 1) % slotsPerBlock_) * slot_;
  if (fromFree) {
    int32_t nx = ldlong(p + linkOffset(listA));
    if (nx != 0 && !checkLink(nx, "mFree"))
      nx = 0;
    head = nx;
  }
  cb->mod = true;
  markModified();
  if (!lock && !wasPinned)
    cb->unpin();  // p must stay valid for the caller
  return lock ? cb : nullptr;
}

bool BlockedFile::del(int32_t recno) {
  if (!checkRecno(recno, "del"))
    return false;
  CacheBuffer* cb = CacheBuffer::find(this, (recno - 1) / slotsPerBlock_);
  bool wasPinned = cb && cb->locked;  // a caller's pin outlives the delete
  cb = page(recno, true);
  if (!cb)
    return false;
  char* p = cb->data + ((recno - 1) % slotsPerBlock_) * slot_;
  --hdr_.nReg;
  char const* sp = p + 8;
  TimeStamp stamp;
  if (slot_ >= 16)
    stamp.load(sp);
  if (!(stamp > StorageEnv::lastChkPoint))
    reRead(cb);
  cb->mod = true;
  markModified();
  int32_t q = StorageEnv::currCP;
  int32_t v = StorageEnv::versNum(stamp);
  char* link = p + (q == 1 ? 0 : 4);
  if (v == -1 || v == StorageEnv::currVersion || v < 0 || v >= kNVersions) {
    stlong(oFree(), link);
    oFree() = recno;
  } else {
    stlong(hdr_.vers[v].chain, link);
    hdr_.vers[v].chain = static_cast<int32_t>(static_cast<uint32_t>(recno) | (q == 0 ? kVersionChainBit : 0u));
  }
  if (!wasPinned)
    cb->unlock();
  return true;
}

CacheBuffer* BlockedFile::addPage(char*& p, int32_t& recno, bool lock) {
  p = nullptr;
  if (slot_ <= 0) {
    String file = qualName();
    refuse("NORECLENGTH", "addPage", &file);
    return nullptr;
  }
  markModified();
  int32_t oLink = linkOffset(StorageEnv::currCP == 1);  // oFree's link word
  while (hdr_.last % slotsPerBlock_ != 0) {
    ++hdr_.last;
    CacheBuffer* pre = CacheBuffer::find(this, (hdr_.last - 1) / slotsPerBlock_);
    bool wasPinned = pre && pre->locked;  // a caller's pin outlives the padding
    char* r;
    CacheBuffer* cb = get(r, hdr_.last, true);
    if (!cb)
      return nullptr;
    stlong(oFree(), r + oLink);
    oFree() = hdr_.last;
    cb->mod = true;
    if (!wasPinned)
      cb->unlock();
  }
  recno = hdr_.last + 1;
  hdr_.last += sizeOfVersionHeader();
  CacheBuffer* cb = get(p, recno, true);
  if (!cb)
    return nullptr;
  cb->mod = true;
  if (!lock)
    cb->unpin();  // p must stay valid for the caller
  return lock ? cb : nullptr;
}

// ---- versions -------------------------------------------------------------

int32_t BlockedFile::sizeOfVersionHeader() const {
  if (slot_ <= 0)
    return 0;
  // A whole page, and at least the prefix and the short header.
  int32_t need = std::max(pageSize(), prefixSize() + kShortHeaderLength);
  return (need + slot_ - 1) / slot_;
}

bool BlockedFile::newVers(int32_t v) {
  if (v == -1)
    v = StorageEnv::currVersion;
  if (v == -1)
    return false;
  SV_ASSERT(v >= 0 && v < kNVersions, "v >= 0 && v < 122");
  char* p;
  int32_t recno;
  CacheBuffer* cb = addPage(p, recno, true);
  if (!cb)
    return false;
  char prefix[12];
  TimeStamp ts;
  ts.setUserId(v);
  char* sp = prefix;
  ts.store(sp);
  stlong(-2, prefix + 8);
  putBytes(recno, 8, prefix, 12);
  hdr_.vers[v].chain = 0;
  hdr_.vers[v].header = recno;
  char buf[kShortHeaderLength];
  storeHeader(&hdr_, hdr_.mlevel, true, buf);
  bool ok = putBytes(recno, prefixSize(), buf, kShortHeaderLength);
  for (int32_t i = 0; i < v; ++i)
    hdr_.vers[i].chain = 0;
  cb->unlock();
  return ok;
}

BlockedFile::Version& BlockedFile::version(int32_t n) {
  SV_ASSERT(n >= 0 && n < kNVersions, "n >= 0 && n < 122");
  return hdr_.vers[n];
}

uint8_t BlockedFile::rDepth(int32_t v) {
  if (v == -1)
    return hdr_.rDepth;
  SV_ASSERT(v >= 0 && v < kNVersions, "v >= 0 && v < 122");
  char b = 0;
  getBytes(hdr_.vers[v].header, prefixSize() + 21, &b, 1);
  return static_cast<uint8_t>(b);
}

int32_t BlockedFile::rBegin(int32_t v) {
  if (v == -1)
    return hdr_.rBegin;
  SV_ASSERT(v >= 0 && v < kNVersions, "v >= 0 && v < 122");
  char b[4] = {0, 0, 0, 0};
  getBytes(hdr_.vers[v].header, prefixSize() + 16, b, 4);
  return ldlong(b);
}

int32_t BlockedFile::versionChain(int32_t saved, int32_t which) {
  if (saved < 0 || saved >= kNVersions || which < 0 || which >= kNShortVersions)
    return -1;
  int32_t page = hdr_.vers[saved].header;
  if (page < 1 || page > hdr_.last)
    return -1;
  char b[4] = {0, 0, 0, 0};
  if (!getBytes(page, prefixSize() + 24 + which * 8, b, 4))
    return -1;
  return ldlong(b);
}

uint16_t BlockedFile::rSlots(int32_t v) {
  if (v == -1)
    return hdr_.rSlots;
  SV_ASSERT(v >= 0 && v < kNVersions, "v >= 0 && v < 122");
  char b[2] = {0, 0};
  getBytes(hdr_.vers[v].header, prefixSize() + 22, b, 2);
  return ldushort(b);
}

// ---- modified list ------------------------------------------------------------

void BlockedFile::addToModList() {
  if (!inModList_) {
    nextMod_ = modList_;
    modList_ = this;
  }
  hdr_.lastMod = StorageEnv::timeStamp;
  headerWritten_ = false;
  inModList_ = true;
}

void BlockedFile::markModified() {
  hdr_.mlevel = 3;
  addToModList();
}

void BlockedFile::delFromModList() {
  BlockedFile** pp = &modList_;
  while (*pp && *pp != this)
    pp = &(*pp)->nextMod_;
  if (*pp) {
    SV_WARN_ASSERT(inModList_, "inModList_");
    *pp = nextMod_;
  } else {
    SV_WARN_ASSERT(!inModList_, "!inModList_");
  }
  nextMod_ = nullptr;
  inModList_ = false;
}

void BlockedFile::unlink(String const& schemaName) {
  String file = nameExt();
  for (int32_t i = 0; i < nparts(); ++i)
    StorageEnv::deferUnlink(fullName(i), schemaName, file);
}

bool BlockedFile::chgPhName(String const& fileName) {
  flush(true);
  String logical = logicalName();
  String e = ext();
  return open(logical, fileName, e, recLen_, StorageEnv::currCP);
}

// ---- checks and dumps ---------------------------------------------------------

bool BlockedFile::verify(bool check) {
  if (!check)
    return true;
  int32_t q = StorageEnv::currCP;
  // The records met on the list walked: a set of those, not a flag per
  // record up to `last`, so a damaged header claiming two billion records
  // costs no 256 MB before a single link is read.
  std::unordered_set<int32_t> seen;
  for (int pass = 0; pass < 2; ++pass) {
    bool mList = pass == 0;
    bool listA = mList ? q != 1 : q == 1;
    seen.clear();
    for (int32_t n = mList ? mFree() : oFree(); n != 0;) {
      if (!checkLink(n, mList ? "mFree" : "oFree"))
        return false;
      if (!seen.insert(n).second) {
        String file = qualName();
        String text = String("Free pool inconsistency in blocked file ") + file + "\nCycle in " +
                      (mList ? "mFree" : "oFree") + " w/recno " + toString(n) + ", link " + (listA ? "1" : "2") +
                      ", CP " + toString(q) + ".  nMethods " + toString(long(StorageEnv::nMeth)) + ".";
        warning(String("%S"), &text);
        return false;
      }
      if (!freeLink(n, listA, n))
        return false;
    }
  }
  return true;
}

bool BlockedFile::markRecord(BoolArray& marks, int32_t n) {
  if (long(n) >= marks.dim()) {
    long const twice = marks.dim() < long(INT32_MAX) ? 2 * marks.dim() : long(INT32_MAX) + 1;
    marks.realloc(std::max(long(n) + 1, twice));
  }
  if (marks[n])
    return false;
  marks[n] = 1;
  return true;
}

int32_t BlockedFile::verifyFree(BoolArray* seen) {
  int32_t q = StorageEnv::currCP;
  for (int pass = 0; pass < 2; ++pass) {
    bool listA = pass == 0 ? q != 1 : q == 1;
    for (int32_t n = pass == 0 ? mFree() : oFree(); n != 0;) {
      if (!checkLink(n, pass == 0 ? "mFree" : "oFree"))
        return n;
      if (!markRecord(*seen, n))
        return n;
      if (!freeLink(n, listA, n))
        return n;
    }
  }
  return 0;
}

namespace {

// Walks one free list from head through the link at linkOff, at most last
// steps and only through numbers in 1..last, calling f on each number.
template <class F>
int32_t walkList(BlockedFile& bf, int32_t head, int32_t linkOff, F f) {
  int32_t count = 0;
  for (int32_t n = head; n >= 1 && n <= bf.last() && count <= bf.last();) {
    f(n);
    ++count;
    char* r = bf.get(n);
    if (!r)
      break;
    n = ldlong(r + linkOff);
  }
  return count;
}

}  // namespace

void BlockedFile::printNRecs() {
  bool mA = StorageEnv::currCP != 1;
  int32_t m = walkList(*this, mFree(), linkOffset(mA), [](int32_t) {});
  int32_t o = walkList(*this, oFree(), linkOffset(!mA), [](int32_t) {});
  String text = String("Records for file ") + nameExt() + "\n" + "last: " + toString(hdr_.last) +
                ", total: " + toString(m + hdr_.nReg + o) + ", nrecs: " + toString(hdr_.nReg) +
                ", mfree: " + toString(m) + ", ofree: " + toString(o);
  warning(String("%S"), &text);
}

void BlockedFile::printMFree() {
  bool mA = StorageEnv::currCP != 1;
  String t = String("Free list for file ") + nameExt();
  warning(String("%S"), &t);
  warning(String(mA ? "Using LINK1" : "Using LINK2"));
  walkList(*this, mFree(), linkOffset(mA), [](int32_t n) { warning(String("%d"), n); });
  warning(String("End of list."));
}

void BlockedFile::printOFree() {
  bool oA = StorageEnv::currCP == 1;
  String t = String("Other free list for file ") + nameExt();
  warning(String("%S"), &t);
  warning(String(oA ? "Uso LINK1" : "Uso LINK2"));
  walkList(*this, oFree(), linkOffset(oA), [](int32_t n) { warning(String("%d"), n); });
  warning(String("End of list."));
}

void BlockedFile::dumpContents(bool withCreation, int32_t from, int32_t to) {
  if (from == -1)
    from = 1;
  if (to == -1 || to > hdr_.last)
    to = hdr_.last;
  if (from < 1)
    from = 1;
  String t = String("Table ") + name() + "." + ext() + ", range: " + toString(from) + " - " + toString(to) +
             " reclen " + toString(slot_);
  warning(String("%S"), &t);
  warning(String(withCreation ? "RECNO\tLK1\tLK2\tMTS\tOID\tCTS" : "RECNO\tLK1\tLK2\tMTS\tOID"));
  for (int32_t n = from; n <= to; ++n) {
    char pre[28];
    std::memset(pre, 0, sizeof pre);
    int32_t want = std::min<int32_t>(slot_, withCreation ? 28 : 20);
    if (!getBytes(n, 0, pre, want))
      break;
    char const* sp = pre + 8;
    TimeStamp mts;
    mts.load(sp);
    String line = toString(n) + "\t" + toString(ldlong(pre)) + "\t" + toString(ldlong(pre + 4)) + "\t" +
                  mts.descr() + "\t" + toString(ldlong(pre + 16));
    if (withCreation) {
      char const* cp = pre + 20;
      TimeStamp cts;
      cts.load(cp);
      line += "\t";
      line += cts.descr();
    }
    warning(String("%S"), &line);
  }
}
