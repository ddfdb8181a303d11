// The system's own memory allocator, with its corruption checks.
//
// It is called explicitly (zfMalloc, zfFree, zfRealloc, zfCalloc,
// zfMallocUsableSize on the process-wide heap, or the members of a MemHeap
// of one's own); it never takes the place of the C library's allocator.
// Memory from one allocator must go back to the same allocator.
//
// Blocks: a size word (size_t), the user's bytes, and a copy of the size
// word at the end. The size counts the whole block, both words included, is
// a multiple of 16 and has its lowest bit set while the block is in use. The
// user's pointer follows the first size word and is 16-byte aligned; the
// usable size is the block size - 16. A request of n bytes gets a block of
// n + 16 rounded up to 16, at least 32 bytes, so that a free block holds its
// two free-list links (two 64-bit pointers) in its user area.
//
// Free blocks are kept in 120 size bins, four to each power of two, each a
// circular doubly linked list with a flag marking it as possibly holding
// blocks that could be merged. Merging with free neighbours is deferred to
// allocation. The heap grows in whole 32 KB steps from a private address
// range (never the process break), bounded by in-use marker words.
//
// Checks: releasing or resizing a block whose in-use bit is clear ("already
// freed (or never malloc'ed)"), a pointer outside the heap or misaligned
// (the same), or a block whose size words disagree ("clobbered space
// detected") is reported through the report handler. The default handler
// writes the text to standard error and aborts; an installed handler that
// returns makes the operation refuse (release does nothing, resize answers
// null and keeps the block).
//
// Every size computation is checked for overflow: a request too large to
// represent fails like exhausted memory (the out-of-memory handler that
// operator new uses is called, when there is one, and null is returned).
// Single-threaded, like the rest of the process.
#pragma once

#include <cstddef>
#include <cstdint>

// Receives a report text (ending in a newline). The default writes it to
// standard error and aborts; a handler that returns makes the operation
// refuse.
typedef void (*AllocReportFn)(char const* text);

// Installs h as the report handler (null restores the default); returns
// the previous one (null for the default).
AllocReportFn allocReportHandler(AllocReportFn h);

class MemHeap {
public:
  // Number of size bins.
  static constexpr int kBins = 120;
  // Smallest block: size word, two links, end copy.
  static constexpr size_t kMinBlock = 32;
  // The heap grows by whole multiples of this.
  static constexpr size_t kGrowStep = 32768;

  MemHeap();
  // Gives every region back to the system: all blocks become invalid.
  ~MemHeap();
  MemHeap(MemHeap const&) = delete;
  MemHeap& operator=(MemHeap const&) = delete;

  // A block of at least n usable bytes, or null when memory is exhausted.
  void* allocate(size_t n);
  // Releases the block (null does nothing); misuse is reported.
  void release(void* p);
  // A new block of n bytes holding the old block's bytes (up to the
  // smaller usable size); the old block is released. Null p acts as
  // allocate. Null when allocation fails (the old block is kept) or when the
  // old block is reported.
  void* resize(void* p, size_t n);
  // count * size zero bytes; null on overflow or exhausted memory.
  void* allocateZeroed(size_t count, size_t size);
  // The usable size; 0 for null, a block not in use, a pointer outside the
  // heap or a block whose size words disagree.
  size_t usableSize(void const* p) const;

  // The block size for a request of n bytes; 0 when it cannot be
  // represented.
  static size_t blockSize(size_t n);
  // The bin of a block size.
  static int binOf(size_t size);
  // Bytes obtained from the system so far.
  size_t heapSize() const { return heapBytes; }
  // Walks every block of every region and every bin: true when all size
  // words agree, blocks tile the regions exactly, and the bins hold exactly
  // the free blocks, each in the bin of its size.
  bool verify() const;

private:
  struct Links {
    Links* fd;
    Links* bk;
  };
  struct Bin {
    Links head;      // sentinel of the circular list
    bool mergeable;  // may hold blocks that could be merged
  };
  struct Region {
    char* base;      // start of the reserved range
    size_t reserved; // bytes reserved
    size_t used;     // bytes committed from base (the private break)
  };
  static constexpr int kMaxRegions = 64;

  void init();
  char* grow(size_t b);
  char* takeFrom(int bin, size_t b, bool merge);
  char* coalesce(char* blk, bool* merged);
  void link(char* blk, bool atFront);
  void unlink(char* blk);
  char* split(char* blk, size_t b);
  // The block of a user pointer, or null after reporting (prefix "free" or
  // "malloc"); when report is false, nothing is reported.
  char* checkBlock(void const* p, char const* prefix, bool report) const;
  Region const* regionOf(char const* addr) const;
  void report(char const* prefix, char const* what) const;

  Bin av[kBins];
  int maxbin;             // highest bin that may be non-empty
  char* last_sbrk_end;    // where the current end marker stands
  Region regions[kMaxRegions];
  int nregions;
  size_t heapBytes;
  Links* walkNext;        // next node of a bin walk in progress
  bool ready;
};

// The process-wide heap.
void* zfMalloc(size_t n);
void zfFree(void* p);
void* zfRealloc(void* p, size_t n);
void* zfCalloc(size_t count, size_t size);
size_t zfMallocUsableSize(void const* p);

// Entry points of the memory-tracing facility, switched off in this build.
extern "C" {
// Write "must compile trmalloc with TRACE_MEMORY\n" to standard error.
void tr_mem_check();
void tr_mem_used_list();
// Returns "must compile trmalloc with TRACE_MEMORY\n".
char const* tr_type_name();
// Do nothing.
void tr_set_mem_id(long id);
void _tr_called_from(char const* file, int line);
void _tr_push(char const* file, int line);
// Records an id that nothing reads.
void tr_dont_free(long id);
// zfMalloc(n); the source position is ignored.
void* _tr_malloc(size_t n, char const* file, int line);
}

// Allocates like operator new(n) (release with delete); the source position
// is ignored.
void* operator new(size_t n, char const* file, int line);
void operator delete(void* p, char const* file, int line) noexcept;
