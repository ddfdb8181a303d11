// CacheBuffer: the one page cache of the server process, shared by every
// blocked file.
//
// A buffer holds one page of one block of one file; a block longer than a
// page is a chain of buffers, of which only the first is in the hash table
// and in the least-recently-used ring. Writes are delayed until a buffer is
// evicted or the server flushes. The class is static: `init` makes the
// cache, `setSize` resizes it, `cleanUp` ends it.
//
// State machine of one buffer:
//   Free (on fhead) --readBuffer--> Ring head (or chained behind one)
//   Ring --getFree victim / free--> Free, after a successful write-back
//   any --set mod--> Dirty --flush ok--> Clean; a failed write stays Dirty
//   Unlocked <--locked--> Locked (never evicted, never freed by a resize)
//
// Invariants:
//  - a buffer is in exactly one of: the free list, the ring (heading a
//    block), the chain of a block in the ring, or the out-of-use list of a
//    resize;
//  - the hash key is (file serial, block): equal files give equal keys and a
//    destroyed file's serial is never reused;
//  - a dirty buffer whose write failed stays dirty and in the ring: it is
//    never chosen as a victim nor freed, so no change is lost;
//  - nLocked_ counts the locked buffers of the ring and its chains;
//  - extras: when every buffer is pinned one more buffer is made (one
//    warning per episode) and given back as soon as a buffer comes free, so
//    the cache returns to cacheTabSize buffers.
#pragma once

#include <zfound/HashTab.h>
#include <zfound/String.h>

#include <cstdint>

class BlockedFile;
ZF_PTRHASHTAB(CacheBuffer);

class CacheBuffer {
public:
  BlockedFile* bfile = nullptr;  // the owner of the block; null when free
  int32_t block = 0;             // block number within the file
  bool mod = false;              // changed since read or written
  bool locked = false;           // pinned: never evicted
  int32_t offset = 0;            // byte position of this page in its block
  CacheBuffer* chain = nullptr;  // next page of the block / next free buffer
  CacheBuffer* next = nullptr;   // ring: toward less recently used
  CacheBuffer* prev = nullptr;   // ring: toward more recently used
  char* data = nullptr;          // one page, owned
  uint32_t fileSerial = 0;       // the owner's serial: the hash key's file part

  // ---- sizing ----
  // Makes kb / page-KB buffers (kb below 64 or above 1 GB refused; a size not a whole
  // number of pages is corrected with "CORRECTCACHESIZE"). False when the
  // cache already exists, the size is refused, or pinned buffers of another
  // page size are still held.
  static bool init(int32_t kb);
  // Writes everything back and rebuilds the cache at kb; pinned buffers are
  // kept. False, nothing changed, below 64 KB or above 1 GB.
  static bool setSize(int32_t kb);
  // Writes everything back and frees every unpinned buffer; pinned ones
  // stay until their users let go. Clears the statics when none remain.
  static void cleanUp();

  // ---- lookup ----
  static CacheBuffer* find(BlockedFile* f, int32_t block);
  // Reads the block into fresh buffers and enters it at the ring's head;
  // null when no buffer can be had or the read fails.
  static CacheBuffer* readBuffer(BlockedFile* f, int32_t block);
  // A buffer out of every list; null only when the cache does not exist.
  static CacheBuffer* getFree();

  // ---- one buffer ----
  // Writes the block back when modified; false (still modified) when a
  // write failed or came short.
  bool flush();
  // Reads the page again, discarding changes.
  void reRead();
  // Writes back and returns the buffer and its chain to the free list;
  // false (nothing freed) when it is pinned or the write-back failed.
  bool free();
  // Like free, leaving this buffer out of every list for reuse.
  bool freeTail();
  void addToFree();
  void _markAsLastUsed();
  void addBuffer();
  void delBuffer();
  // Unpins the buffer (lowering nLocked_); while the cache holds more than
  // its size the page is also written back and its buffer given up, so a
  // pointer into it is no longer valid.
  void unlock();
  // Unpins the buffer and nothing more: a pointer into it stays valid until
  // the next cache operation.
  void unpin() {
    if (locked) {
      locked = false;
      --nLocked_;
    }
  }

  // ---- many buffers ----
  // Writes back the ring's buffers (of f, or all for null), freeing them
  // with release; the count of buffers that were modified.
  static int32_t flushAll(BlockedFile* f, bool release);
  // Drops every buffer of f that flushAll could not free (pinned, or dirty
  // after a failed write), with a warning naming the file; the count.
  static int32_t discardFile(BlockedFile* f);
  // Writes up to n modified buffers from the cold end.
  static void flushSome(int32_t n);

  // ---- counts and checks ----
  static int32_t size() { return cacheTabSize; }
  static int32_t nFree();
  static int32_t nUsed();
  static int32_t nMod();
  static int32_t nLocked() { return nLocked_; }
  // Buffers made beyond the configured size while everything was pinned.
  static int32_t nExtra() { return nExtra_; }
  // True when a write-back failed since the last call; clears the mark.
  static bool takeWriteFailed() {
    bool f = writeFailed_;
    writeFailed_ = false;
    return f;
  }
  // Checks pins, links and duplicates; each problem is a warning and the
  // answer false.
  static bool checkCache();
  static void list();
  String descr() const;

  // ---- statics ----
  static CacheBuffer* head;
  static CacheBuffer* fhead;
  static int32_t nLocked_;
  static int32_t cacheTabSize;
  static CacheBufferPtrHashTab* hashtab;

  // The table functions: order by file serial, then block.
  static long cmp(void const* a, void const* b);
  static long hash(void const* a, long modulo);

private:
  CacheBuffer() = default;
  ~CacheBuffer();
  // Writes one page of this buffer; false on failure or a short write.
  bool writePage(int64_t at, int32_t len);
  // Makes a new buffer with its page.
  static CacheBuffer* make();
  // Sets the configured size to n buffers: makes or drops free buffers and
  // rebuilds the hash table over the ring.
  static void resize(int32_t n);
  // Gives back extra buffers from the free list while the cache is over
  // its size.
  static void trimExtras();

  static int32_t pageSize_;      // page size of the buffers that exist
  static int32_t nExtra_;        // buffers beyond cacheTabSize
  static int32_t nBuffers_;      // buffers that exist
  static bool warnedExtra_;      // the all-pinned warning was shown
  static bool writeFailed_;
};
