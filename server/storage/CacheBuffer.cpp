// The shared page cache: sizing, lookup, victim choice, write-back and its
// checks. See CacheBuffer.h for the buffer states and invariants.
#include <blkfile/CacheBuffer.h>

#include <blkfile/BlockedFile.h>
#include <blkfile/StorageEnv.h>

#include <zfound/Message.h>
#include <zfound/Portable.h>
#include <zfound/TimeStamp.h>

#include <algorithm>
#include <cstring>
#include <vector>

using svstore::StorageEnv;

CacheBuffer* CacheBuffer::head = nullptr;
CacheBuffer* CacheBuffer::fhead = nullptr;
int32_t CacheBuffer::nLocked_ = 0;
int32_t CacheBuffer::cacheTabSize = 0;
CacheBufferPtrHashTab* CacheBuffer::hashtab = nullptr;
int32_t CacheBuffer::pageSize_ = 0;
int32_t CacheBuffer::nExtra_ = 0;
int32_t CacheBuffer::nBuffers_ = 0;
bool CacheBuffer::warnedExtra_ = false;
bool CacheBuffer::writeFailed_ = false;

namespace {

// The smallest cache accepted, in KB.
constexpr int32_t kMinCacheKb = 64;
// The largest cache accepted, in KB (1 GB): far above any real use, and a
// size asked for beyond it is refused rather than allocated.
constexpr int32_t kMaxCacheKb = 1024 * 1024;
// Buffers looked at from the cold end before falling back to any unpinned.
constexpr int32_t kVictimWindow = 3;

// The ring's buffers from the head toward the cold end.
std::vector<CacheBuffer*> ringBuffers() {
  std::vector<CacheBuffer*> v;
  CacheBuffer* b = CacheBuffer::head;
  if (!b)
    return v;
  do {
    v.push_back(b);
    b = b->next;
  } while (b && b != CacheBuffer::head);
  return v;
}

}  // namespace

CacheBuffer::~CacheBuffer() { delete[] data; }

long CacheBuffer::cmp(void const* a, void const* b) {
  CacheBuffer const* x = *static_cast<CacheBuffer* const*>(a);
  CacheBuffer const* y = *static_cast<CacheBuffer* const*>(b);
  if (x->fileSerial != y->fileSerial)
    return x->fileSerial < y->fileSerial ? -1 : 1;
  if (x->block != y->block)
    return x->block < y->block ? -1 : 1;
  return 0;
}

long CacheBuffer::hash(void const* a, long modulo) {
  CacheBuffer const* x = *static_cast<CacheBuffer* const*>(a);
  uint32_t h = (x->fileSerial << 16) + static_cast<uint32_t>(x->block);
  return static_cast<long>(h % static_cast<uint32_t>(modulo));
}

CacheBuffer* CacheBuffer::make() {
  CacheBuffer* b = new CacheBuffer;
  b->data = new char[StorageEnv::cachePageSize()];
  std::memset(b->data, 0, StorageEnv::cachePageSize());
  ++nBuffers_;
  return b;
}

void CacheBuffer::resize(int32_t n) {
  cacheTabSize = n;
  while (nBuffers_ < n) {
    CacheBuffer* b = make();
    b->chain = fhead;
    fhead = b;
  }
  nExtra_ = nBuffers_ > n ? nBuffers_ - n : 0;
  trimExtras();
  // The table is sized for every buffer that exists, pinned ones included.
  delete hashtab;
  hashtab = new CacheBufferPtrHashTab(std::max(nBuffers_, 1), &CacheBuffer::cmp, &CacheBuffer::hash);
  for (CacheBuffer* b : ringBuffers())
    hashtab->add(b);
}

void CacheBuffer::trimExtras() {
  while (nExtra_ > 0 && fhead) {
    CacheBuffer* b = fhead;
    fhead = b->chain;
    delete b;
    --nBuffers_;
    --nExtra_;
  }
}

bool CacheBuffer::init(int32_t kb) {
  if (kb < kMinCacheKb || kb > kMaxCacheKb || cacheTabSize > 0)
    return false;
  int32_t p = StorageEnv::cachePageSize() / 1024;
  if (p <= 0 || (nBuffers_ > 0 && pageSize_ != StorageEnv::cachePageSize()))
    return false;
  pageSize_ = StorageEnv::cachePageSize();
  int32_t n = kb / p;
  if (kb % p != 0) {
    if (n * p <= 63)
      ++n;
    warning(appMsg("CORRECTCACHESIZE"), n * p);
  }
  resize(n);
  return true;
}

bool CacheBuffer::setSize(int32_t kb) {
  // Refused before the present cache is let go, so a refusal changes nothing.
  if (kb < kMinCacheKb || kb > kMaxCacheKb)
    return false;
  cleanUp();
  return init(kb);
}

void CacheBuffer::cleanUp() {
  if (nBuffers_ == 0)
    return;
  flushAll(nullptr, true);
  // Free buffers go; what stays in the ring (pinned, or dirty after a
  // failed write) is kept and given back as it comes free.
  cacheTabSize = 0;
  nExtra_ = nBuffers_;
  trimExtras();
  if (nBuffers_ == 0) {
    delete hashtab;
    hashtab = nullptr;
    head = nullptr;
    fhead = nullptr;
    nLocked_ = 0;
    nExtra_ = 0;
    warnedExtra_ = false;
  }
}

CacheBuffer* CacheBuffer::find(BlockedFile* f, int32_t block) {
  if (!hashtab || !f)
    return nullptr;
  CacheBuffer key;
  key.fileSerial = f->serial();
  key.block = block;
  CacheBuffer* found = hashtab->find(&key);
  return found;
}

CacheBuffer* CacheBuffer::getFree() {
  if (!hashtab)
    return nullptr;
  if (fhead) {
    CacheBuffer* b = fhead;
    fhead = b->chain;
    b->chain = nullptr;
    warnedExtra_ = false;
    return b;
  }
  if (head) {
    // The window: the coldest few buffers, a clean one at once, else the
    // first dirty one seen.
    CacheBuffer* start = head->prev;
    CacheBuffer* c = start;
    CacheBuffer* firstDirty = nullptr;
    int32_t looked = 0;
    do {
      CacheBuffer* warmer = c->prev;
      if (!c->locked) {
        if (!c->mod && c->freeTail()) {
          warnedExtra_ = false;
          return c;
        }
        if (c->mod && !firstDirty)
          firstDirty = c;
      }
      c = warmer;
    } while (++looked < kVictimWindow && c != start);
    if (firstDirty && firstDirty->freeTail()) {
      warnedExtra_ = false;
      return firstDirty;
    }
    // Then on from where the window stopped, any buffer that can be freed.
    while (c != start) {
      CacheBuffer* warmer = c->prev;
      if (!c->locked && c->freeTail()) {
        warnedExtra_ = false;
        return c;
      }
      c = warmer;
    }
  }
  // Every buffer is pinned (or cannot be written back): one more buffer
  // keeps the server going; it is given back when a buffer comes free.
  if (!warnedExtra_) {
    warning(appMsg("CACHEALLPINNED"), cacheTabSize);
    warnedExtra_ = true;
  }
  ++nExtra_;
  return make();
}

CacheBuffer* CacheBuffer::readBuffer(BlockedFile* f, int32_t block) {
  int32_t page = StorageEnv::cachePageSize();
  int64_t at = f->blockToOffset(block);
  int32_t remaining = f->bsize();
  CacheBuffer* first = getFree();
  if (!first)
    return nullptr;
  CacheBuffer* cur = first;
  int32_t off = 0;
  bool ok = true;
  for (;;) {
    int32_t len = remaining > page ? page : remaining;
    cur->offset = off;
    cur->mod = false;
    cur->locked = false;
    std::memset(cur->data, 0, page);
    // Bytes past the end of the file read as zero: a block never written.
    int64_t got = f->OsFile::read(cur->data, at + off, len);
    if (got < 0)
      ok = false;
    remaining -= len;
    off += len;
    if (remaining <= 0)
      break;
    CacheBuffer* more = getFree();
    if (!more) {
      ok = false;
      break;
    }
    cur->chain = more;
    cur = more;
  }
  cur->chain = nullptr;
  if (!ok) {
    first->bfile = nullptr;
    first->addToFree();
    return nullptr;
  }
  first->bfile = f;
  first->fileSerial = f->serial();
  first->block = block;
  first->addBuffer();
  hashtab->add(first);
  return first;
}

bool CacheBuffer::writePage(int64_t at, int32_t len) {
  int64_t n = bfile->OsFile::write(data, at, len);
  return n == len;
}

bool CacheBuffer::flush() {
  if (!mod)
    return true;
  SV_ASSERT(bfile != nullptr, "bfile != (0)");
  int32_t page = StorageEnv::cachePageSize();
  int64_t at = bfile->blockToOffset(block);
  int32_t remaining = bfile->bsize();
  bool ok = true;
  for (CacheBuffer* c = this; c && remaining > 0; c = c->chain) {
    int32_t len = remaining > page ? page : remaining;
    c->bfile = bfile;
    if (!c->writePage(at + c->offset, len))
      ok = false;
    remaining -= len;
  }
  if (ok && remaining > 0)
    ok = false;  // the chain was cut short
  if (!ok) {
    writeFailed_ = true;
    String name = bfile->nameExt();
    warning(appMsg("CACHEWRITEFAILED"), &name, block);
    return false;
  }
  mod = false;
  return true;
}

void CacheBuffer::reRead() {
  SV_ASSERT(bfile != nullptr, "bfile != (0)");
  SV_ASSERT(bfile->bsize() <= StorageEnv::cachePageSize(), "bfile->bsize <= Server::cachePageSize()");
  int64_t at = bfile->blockToOffset(block);
  std::memset(data, 0, StorageEnv::cachePageSize());
  bfile->OsFile::read(data, at, bfile->bsize());
  mod = false;
}

bool CacheBuffer::freeTail() {
  if (locked)
    return false;
  if (!flush())
    return false;
  if (hashtab)
    hashtab->del(this);
  if (next)
    delBuffer();
  if (chain) {
    chain->addToFree();
    chain = nullptr;
  }
  bfile = nullptr;
  return true;
}

bool CacheBuffer::free() {
  if (mod && !flush())
    return false;
  if (!freeTail())
    return false;
  addToFree();
  return true;
}

void CacheBuffer::addToFree() {
  CacheBuffer* end = this;
  for (CacheBuffer* c = this; c; c = c->chain) {
    if (c->locked) {
      c->locked = false;
      --nLocked_;
    }
    c->bfile = nullptr;
    c->mod = false;
    end = c;
  }
  end->chain = fhead;
  fhead = this;
  trimExtras();
}

void CacheBuffer::_markAsLastUsed() {
  SV_ASSERT(next != nullptr && prev != nullptr, "next != (0) && prev != (0)");
  SV_ASSERT(head != this, "head != this");
  prev->next = next;
  next->prev = prev;
  next = head;
  prev = head->prev;
  head->prev->next = this;
  head->prev = this;
  head = this;
}

void CacheBuffer::addBuffer() {
  SV_ASSERT(prev == nullptr && next == nullptr, "prev == (0) && next == (0)");
  if (!head) {
    next = prev = this;
  } else {
    next = head;
    prev = head->prev;
    head->prev->next = this;
    head->prev = this;
  }
  head = this;
}

void CacheBuffer::delBuffer() {
  SV_ASSERT(next != nullptr && prev != nullptr, "next != (0) && prev != (0)");
  if (bfile)
    bfile->clearMicroCache();
  if (next == this) {
    head = nullptr;
  } else {
    prev->next = next;
    next->prev = prev;
    if (head == this)
      head = next;
  }
  next = prev = nullptr;
  bfile = nullptr;
}

void CacheBuffer::unlock() {
  unpin();
  // While the cache holds buffers beyond its size, a page that comes free
  // is written back and its buffer given up.
  if (nExtra_ > 0 && bfile && next)
    free();
}

int32_t CacheBuffer::flushAll(BlockedFile* f, bool release) {
  int32_t count = 0;
  for (CacheBuffer* b : ringBuffers()) {
    if (f && b->bfile != f)
      continue;
    if (b->mod)
      ++count;
    if (!b->flush())
      continue;
    if (release && !b->locked)
      b->free();
  }
  return count;
}

void CacheBuffer::flushSome(int32_t n) {
  if (n <= 0 || !head)
    return;
  CacheBuffer* start = head->prev;
  CacheBuffer* b = start;
  int32_t written = 0;
  do {
    CacheBuffer* p = b->prev;
    if (b->mod && b->flush())
      ++written;
    b = p;
  } while (written < n && b != start);
}

int32_t CacheBuffer::nFree() {
  int32_t n = 0;
  for (CacheBuffer* b = fhead; b && n <= nBuffers_; b = b->chain)
    ++n;
  return n;
}

int32_t CacheBuffer::nUsed() {
  int32_t n = 0;
  for (CacheBuffer* b : ringBuffers())
    for (CacheBuffer* c = b; c && n <= nBuffers_; c = c->chain)
      ++n;
  return n;
}

int32_t CacheBuffer::nMod() {
  int32_t n = 0;
  for (CacheBuffer* b : ringBuffers())
    if (b->mod)
      ++n;
  return n;
}

String CacheBuffer::descr() const {
  if (!bfile)
    return String("File: (none), blk: ") + toString(block);
  char const* d = data + 8;
  TimeStamp ts;
  ts.load(d);
  return String("File: ") + bfile->nameExt() + ", blk: " + toString(block) + ", lk: " + toString(locked) +
         ", mod: " + toString(mod) + ", ts: " + ts.descr() + ", link1: " + toString(ldlong(data)) +
         ", link2: " + toString(ldlong(data + 4));
}

void CacheBuffer::list() {
  for (CacheBuffer* b : ringBuffers()) {
    String d = b->descr();
    warning(String("%S"), &d);
  }
}

bool CacheBuffer::checkCache() {
  bool ok = true;
  if (nLocked_ != 0) {
    warning(appMsg("CACHEPINNED"), nLocked_);
    ok = false;
  }
  if (head) {
    CacheBuffer* prv = head->prev;
    CacheBuffer* aux = head;
    int32_t steps = 0;
    do {
      if (!aux || aux->prev != prv || steps > nBuffers_) {
        warning(appMsg("CACHEBADRING"));
        return false;
      }
      prv = aux;
      aux = aux->next;
      ++steps;
    } while (aux != head);
  }
  std::vector<CacheBuffer*> v = ringBuffers();
  std::sort(v.begin(), v.end(), [](CacheBuffer* a, CacheBuffer* b) { return cmp(&a, &b) < 0; });
  for (size_t i = 1; i < v.size(); ++i) {
    if (cmp(&v[i - 1], &v[i]) == 0) {
      String a = v[i - 1]->descr();
      String b = v[i]->descr();
      warning(String("A duplicated block was found in the cache\n%S\n%S"), &a, &b);
      ok = false;
    }
  }
  return ok;
}

int32_t CacheBuffer::discardFile(BlockedFile* f) {
  int32_t n = 0;
  for (CacheBuffer* b : ringBuffers()) {
    if (b->bfile != f)
      continue;
    if (hashtab)
      hashtab->del(b);
    b->mod = false;
    b->delBuffer();
    b->addToFree();
    ++n;
  }
  if (n > 0) {
    String name = f->nameExt();
    warning(appMsg("CACHEDISCARDED"), n, &name);
  }
  return n;
}
