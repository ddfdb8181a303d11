// The system's own allocator: boundary-tagged blocks in 120 size bins,
// merging deferred to allocation, checked on release.
//
// Invariants:
//  - every region is tiled exactly by: a start marker word (kMarker), blocks,
//    and an end marker word (kMarker) at its break; markers read as in use,
//    so merging never crosses a region's edge;
//  - a block starts 8 bytes past a 16-byte boundary, so its user pointer is
//    16-byte aligned; its size is a multiple of 16, at least kMinBlock, and
//    the same in its first and last word;
//  - a free block (low bit clear) is in exactly the bin of its size, its
//    links in the first two words of its user area; no in-use block is in a
//    bin; maxbin is at least the highest non-empty bin;
//  - address space is reserved in regions and committed as the heap grows,
//    so bytes past the break fault instead of being silently used.
#include <zfound/Alloc.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr size_t kWord = sizeof(size_t);
// A marker word: an in-use block of one word.
constexpr size_t kMarker = kWord | 1;
// Address space reserved at a time (committed only as the heap grows).
constexpr size_t kReserve = size_t(1) << 30;

char const kNoTrace[] = "must compile trmalloc with TRACE_MEMORY\n";

AllocReportFn reportHandler = nullptr;

void defaultReport(char const* text) {
  size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t w = ::write(2, text, n);
    if (w <= 0) break;
    text += w;
    n -= size_t(w);
  }
  std::abort();
}

inline size_t& word(char* at) { return *reinterpret_cast<size_t*>(at); }
inline size_t word(char const* at) { return *reinterpret_cast<size_t const*>(at); }
inline size_t sizeOf(size_t w) { return w & ~size_t(15); }

// Calls the out-of-memory handler of operator new, when one is installed.
void outOfMemory() {
  std::new_handler h = std::get_new_handler();
  if (h != nullptr) h();
}

}  // namespace

AllocReportFn allocReportHandler(AllocReportFn h) {
  AllocReportFn old = reportHandler;
  reportHandler = h;
  return old;
}

// ---------------------------------------------------------------------------

MemHeap::MemHeap() : maxbin(0), last_sbrk_end(nullptr), nregions(0), heapBytes(0), walkNext(nullptr), ready(false) {}

MemHeap::~MemHeap() {
  for (int i = 0; i < nregions; ++i) ::munmap(regions[i].base, regions[i].reserved);
}

void MemHeap::init() {
  for (Bin& b : av) {
    b.head.fd = b.head.bk = &b.head;
    b.mergeable = false;
  }
  maxbin = 0;
  ready = true;
}

size_t MemHeap::blockSize(size_t n) {
  if (n > SIZE_MAX - 2 * kWord - 15) return 0;
  size_t b = (n + 2 * kWord + 15) & ~size_t(15);
  return b < kMinBlock ? kMinBlock : b;
}

int MemHeap::binOf(size_t s) {
  int halvings = 0;
  while (s > 31) {
    s >>= 1;
    ++halvings;
  }
  long bin = 4L * halvings + (long(s) - 16) / 4;
  if (bin < 0) bin = 0;
  return bin >= kBins ? kBins - 1 : int(bin);
}

void MemHeap::report(char const* prefix, char const* what) const {
  char text[128];
  std::strcpy(text, prefix);
  std::strcat(text, ": ");
  std::strcat(text, what);
  (reportHandler ? reportHandler : defaultReport)(text);
}

// --- bins --------------------------------------------------------------------

void MemHeap::link(char* blk, bool atFront) {
  int b = binOf(sizeOf(word(blk)));
  Links* n = reinterpret_cast<Links*>(blk + kWord);
  Links* head = &av[b].head;
  if (atFront) {
    n->fd = head->fd;
    n->bk = head;
  } else {
    n->fd = head;
    n->bk = head->bk;
  }
  n->fd->bk = n;
  n->bk->fd = n;
  if (b > maxbin) maxbin = b;
}

void MemHeap::unlink(char* blk) {
  Links* n = reinterpret_cast<Links*>(blk + kWord);
  if (n == walkNext) walkNext = n->fd;
  n->bk->fd = n->fd;
  n->fd->bk = n->bk;
  n->fd = n->bk = nullptr;
}

// Merges the free, unlinked block blk with the free blocks around it (which are
// unlinked from their bins); returns the merged block, itself unlinked.
char* MemHeap::coalesce(char* blk, bool* merged) {
  size_t size = sizeOf(word(blk));
  *merged = false;
  Region const* r = regionOf(blk);
  char* first = r->base + kWord;
  char* end = r->base + r->used - kWord;
  // Runs of free blocks on either side are taken in whole.
  for (;;) {
    size_t before = word(blk - kWord);
    if ((before & 1) != 0) break;
    size_t ps = sizeOf(before);
    char* prev = blk - ps;
    // Only a neighbour inside the region whose two size words agree is
    // trusted.
    if (ps < kMinBlock || ps > size_t(blk - first) || word(prev) != before) break;
    unlink(prev);
    blk = prev;
    size += ps;
    *merged = true;
  }
  for (;;) {
    char* next = blk + size;
    size_t after = word(next);
    if ((after & 1) != 0) break;
    size_t ns = sizeOf(after);
    if (ns < kMinBlock || ns > size_t(end - next) || word(next + ns - kWord) != after) break;
    unlink(next);
    size += ns;
    *merged = true;
  }
  word(blk) = size;
  word(blk + size - kWord) = size;
  return blk;
}

// Walks bin `bin` for the first block of at least b bytes, merging each
// block with its free neighbours on the way when `merge` is set. Returns
// the block, unlinked, or null.
char* MemHeap::takeFrom(int bin, size_t b, bool merge) {
  Links* head = &av[bin].head;
  Links* n = head->fd;
  while (n != head) {
    walkNext = n->fd;
    char* blk = reinterpret_cast<char*>(n) - kWord;
    bool free_neighbour =
        merge && ((word(blk - kWord) & 1) == 0 || (word(blk + sizeOf(word(blk))) & 1) == 0);
    if (free_neighbour) {
      unlink(blk);
      bool merged = false;
      blk = coalesce(blk, &merged);
      if (sizeOf(word(blk)) >= b) {
        walkNext = nullptr;
        return blk;
      }
      link(blk, false);
    } else if (sizeOf(word(blk)) >= b) {
      unlink(blk);
      walkNext = nullptr;
      return blk;
    }
    n = walkNext;
  }
  walkNext = nullptr;
  return nullptr;
}

// Hands out the first b bytes of the unlinked block blk; a rest of at least
// kMinBlock bytes becomes a free block at the end of its bin.
char* MemHeap::split(char* blk, size_t b) {
  size_t size = sizeOf(word(blk));
  if (size - b >= kMinBlock) {
    char* rest = blk + b;
    word(rest) = size - b;
    word(rest + (size - b) - kWord) = size - b;
    link(rest, false);
    size = b;
  }
  word(blk) = size | 1;
  word(blk + size - kWord) = size | 1;
  return blk;
}

// --- growing -------------------------------------------------------------------

MemHeap::Region const* MemHeap::regionOf(char const* addr) const {
  for (int i = 0; i < nregions; ++i)
    if (addr >= regions[i].base && addr < regions[i].base + regions[i].used) return &regions[i];
  return nullptr;
}

// Adds at least b bytes to the heap: the new memory (merged with a free
// block just before it) is returned as one free, unlinked block; null when
// the system gives no more memory.
char* MemHeap::grow(size_t b) {
  if (b > SIZE_MAX - 2 * kWord - kGrowStep) return nullptr;
  size_t g = (b + 2 * kWord + kGrowStep - 1) & ~(kGrowStep - 1);
  Region* r = nregions > 0 ? &regions[nregions - 1] : nullptr;
  if (r != nullptr && r->reserved - r->used >= g) {
    // Contiguous: the old end marker and the new memory become one block.
    char* top = r->base + r->used;
    if (::mprotect(top, g, PROT_READ | PROT_WRITE) != 0) return nullptr;
    r->used += g;
    heapBytes += g;
    char* blk = last_sbrk_end;
    size_t size = g;
    size_t before = word(blk - kWord);
    size_t ps = sizeOf(before);
    if ((before & 1) == 0 && ps >= kMinBlock && ps <= size_t(blk - (r->base + kWord)) && word(blk - ps) == before) {
      blk -= ps;
      unlink(blk);
      size += ps;
    }
    word(blk) = size;
    word(blk + size - kWord) = size;
    last_sbrk_end = blk + size;
    word(last_sbrk_end) = kMarker;
    return blk;
  }
  if (nregions == kMaxRegions) return nullptr;
  size_t reserve = g > kReserve ? g : kReserve;
  void* m = ::mmap(nullptr, reserve, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  while (m == MAP_FAILED && reserve > g) {
    // Address space is limited: reserve less, down to what this step needs.
    reserve = reserve / 2 > g ? (reserve / 2) & ~(kGrowStep - 1) : g;
    m = ::mmap(nullptr, reserve, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  }
  if (m == MAP_FAILED) return nullptr;
  char* base = static_cast<char*>(m);
  if (::mprotect(base, g, PROT_READ | PROT_WRITE) != 0) {
    ::munmap(base, reserve);
    return nullptr;
  }
  regions[nregions++] = Region{base, reserve, g};
  heapBytes += g;
  // A start marker, one free block, the end marker.
  word(base) = kMarker;
  char* blk = base + kWord;
  size_t size = g - 2 * kWord;
  word(blk) = size;
  word(blk + size - kWord) = size;
  last_sbrk_end = blk + size;
  word(last_sbrk_end) = kMarker;
  return blk;
}

// --- the operations ------------------------------------------------------------

void* MemHeap::allocate(size_t n) {
  if (!ready) init();
  size_t b = blockSize(n);
  if (b == 0) {
    outOfMemory();
    return nullptr;
  }
  int bin = binOf(b);
  char* blk = takeFrom(bin, b, av[bin].mergeable);
  if (blk == nullptr) av[bin].mergeable = false;
  for (int i = bin + 1; blk == nullptr && i <= maxbin; ++i) {
    if (av[i].head.fd != &av[i].head) {
      blk = reinterpret_cast<char*>(av[i].head.fd) - kWord;
      unlink(blk);
    }
  }
  for (int i = maxbin; blk == nullptr && i >= 0; --i) {
    blk = takeFrom(i, b, true);
    while (maxbin > 0 && av[maxbin].head.fd == &av[maxbin].head) --maxbin;
  }
  if (blk == nullptr) blk = grow(b);
  if (blk == nullptr) {
    outOfMemory();
    return nullptr;
  }
  return split(blk, b) + kWord;
}

char* MemHeap::checkBlock(void const* p, char const* prefix, bool rep) const {
  char* blk = const_cast<char*>(static_cast<char const*>(p)) - kWord;
  Region const* r = (reinterpret_cast<uintptr_t>(p) & 15) == 0 ? regionOf(blk) : nullptr;
  // The block must lie after the start marker and before the end marker.
  if (r == nullptr || blk < r->base + kWord || blk + kMinBlock > r->base + r->used - kWord) {
    if (rep) report(prefix, "memory block already freed (or never malloc'ed).\n");
    return nullptr;
  }
  size_t w = word(blk);
  if ((w & 1) == 0) {
    if (rep) report(prefix, "memory block already freed (or never malloc'ed).\n");
    return nullptr;
  }
  size_t size = sizeOf(w);
  if ((w & 14) != 0 || size < kMinBlock || size > size_t(r->base + r->used - kWord - blk) ||
      word(blk + size - kWord) != w) {
    if (rep) report(prefix, "clobbered space detected.\n");
    return nullptr;
  }
  return blk;
}

void MemHeap::release(void* p) {
  if (p == nullptr) return;
  char* blk = checkBlock(p, "free", true);
  if (blk == nullptr) return;
  size_t size = sizeOf(word(blk));
  word(blk) = size;
  word(blk + size - kWord) = size;
  int bin = binOf(size);
  link(blk, true);
  av[bin].mergeable = true;
}

void* MemHeap::resize(void* p, size_t n) {
  if (p == nullptr) return allocate(n);
  char* blk = checkBlock(p, "malloc", true);
  if (blk == nullptr) return nullptr;
  size_t oldUsable = sizeOf(word(blk)) - 2 * kWord;
  void* q = allocate(n);
  if (q == nullptr) return nullptr;
  size_t newUsable = usableSize(q);
  std::memcpy(q, p, oldUsable < newUsable ? oldUsable : newUsable);
  release(p);
  return q;
}

void* MemHeap::allocateZeroed(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) {
    outOfMemory();
    return nullptr;
  }
  void* p = allocate(count * size);
  if (p != nullptr) std::memset(p, 0, count * size);
  return p;
}

size_t MemHeap::usableSize(void const* p) const {
  if (p == nullptr) return 0;
  char* blk = checkBlock(p, "", false);
  return blk == nullptr ? 0 : sizeOf(word(blk)) - 2 * kWord;
}

bool MemHeap::verify() const {
  if (!ready) return nregions == 0;
  long freeBlocks = 0;
  for (int i = 0; i < nregions; ++i) {
    Region const& r = regions[i];
    char* at = r.base;
    char* end = r.base + r.used - kWord;
    if (word(at) != kMarker || word(end) != kMarker) return false;
    at += kWord;
    while (at < end) {
      size_t w = word(at);
      size_t size = sizeOf(w);
      if ((w & 14) != 0 || size < kMinBlock || size > size_t(end - at) || word(at + size - kWord) != w) return false;
      if ((w & 1) == 0) {
        ++freeBlocks;
        Links const* n = reinterpret_cast<Links const*>(at + kWord);
        if (n->fd == nullptr || n->fd->bk != n || n->bk->fd != n) return false;
      }
      at += size;
    }
    if (at != end) return false;
  }
  long linked = 0;
  for (int b = 0; b < kBins; ++b) {
    Links const* head = &av[b].head;
    for (Links const* n = head->fd; n != head; n = n->fd) {
      char const* blk = reinterpret_cast<char const*>(n) - kWord;
      if ((word(blk) & 1) != 0 || binOf(sizeOf(word(blk))) != b || regionOf(blk) == nullptr) return false;
      if (b > maxbin) return false;
      if (++linked > freeBlocks) return false;
    }
  }
  return linked == freeBlocks;
}

// --- the process-wide heap ----------------------------------------------------

namespace {
MemHeap& processHeap() {
  // Never destroyed: blocks may be released during the process's exit.
  static MemHeap* heap = new MemHeap();
  return *heap;
}
long dontFreeId = 0;
}  // namespace

void* zfMalloc(size_t n) { return processHeap().allocate(n); }
void zfFree(void* p) { processHeap().release(p); }
void* zfRealloc(void* p, size_t n) { return processHeap().resize(p, n); }
void* zfCalloc(size_t count, size_t size) { return processHeap().allocateZeroed(count, size); }
size_t zfMallocUsableSize(void const* p) { return processHeap().usableSize(p); }

extern "C" {
void tr_mem_check() { (void)!::write(2, kNoTrace, sizeof kNoTrace - 1); }
void tr_mem_used_list() { (void)!::write(2, kNoTrace, sizeof kNoTrace - 1); }
char const* tr_type_name() { return kNoTrace; }
void tr_set_mem_id(long) {}
void _tr_called_from(char const*, int) {}
void _tr_push(char const*, int) {}
void tr_dont_free(long id) { dontFreeId = id; }
void* _tr_malloc(size_t n, char const*, int) { return zfMalloc(n); }
}

void* operator new(size_t n, char const*, int) { return ::operator new(n); }
void operator delete(void* p, char const*, int) noexcept { ::operator delete(p); }
