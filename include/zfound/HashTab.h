// Chained hash tables.
//
// BaseHashTab keeps nodes in `modulo` bucket chains. Each node starts with
// the link to the next node of its chain (HashNode); derived node types put
// their key area right after the link, and the compare and hash functions
// receive the address of that key area. The table owns its nodes and frees
// them through its delete function. Each chain is kept in the order of the
// compare function, smallest first; a compare function that answers only 0
// or a positive value keeps chains in insertion order. A hash function must
// answer a bucket number from 0 to modulo - 1; any other answer fails an
// assertion and the operation is refused.
//
// BasePtrHashTab is a table of untyped pointers (PtrHashNode: the key area
// is the element pointer itself); its nodes are freed, never the elements.
// ZF_PTRHASHTAB(T) declares the typed table TPtrHashTab and its node TPTRN
// (e.g. CacheBufferPtrHashTab, CacheBufferPTRN), whose find(T*) looks up
// the registered element equal to a key element.
#pragma once

#include <cstddef>
#include <cstdint>

// The link at the front of every node; the key area follows it.
struct HashNode {
  HashNode* next = nullptr;
  // The address of the key area, right after the link.
  void* keyArea() { return reinterpret_cast<char*>(this) + sizeof(HashNode); }
  void const* keyArea() const { return reinterpret_cast<char const*>(this) + sizeof(HashNode); }
};

// Compare two key areas: negative, zero or positive.
typedef long (*HashCmpFn)(void const*, void const*);
// The bucket of a key area, 0 to modulo - 1.
typedef long (*HashFn)(void const*, long modulo);
// Frees a node.
typedef void (*HashDelFn)(HashNode*);

class BaseHashTab {
public:
  // Sized for about n entries (see bucketsFor); the buckets start empty.
  BaseHashTab(long n, HashCmpFn compare, HashFn hash, HashDelFn del);
  // Frees every node of every chain through the delete function.
  ~BaseHashTab();
  BaseHashTab(BaseHashTab const&) = delete;
  BaseHashTab& operator=(BaseHashTab const&) = delete;

  // Inserts the node (the table takes it over). A node comparing equal to
  // one present takes that node's place and the old one is freed. Returns
  // the node; null when the hash was out of range (the node is then freed).
  HashNode* addNode(HashNode* node);
  // Removes and frees the node equal to `key`; 0 when done, non-zero when
  // there is no such node (nothing changes).
  long delNode(HashNode const& key);
  // The node whose key equals the key at `key` (a key area), or null.
  HashNode* findNode(void const* key) const;

  // The bucket count for about n entries: n + n/2, made odd, then raised by
  // 2 until divisible by none of 3, 5 and 7 (64 gives 97, 256 gives 389).
  static long bucketsFor(long n);
  // The number of buckets.
  long modulo() const { return modulo_; }
  // The number of nodes held.
  long entries() const { return entries_; }
  // The first node of bucket i's chain (null for an empty bucket or i
  // outside 0..modulo()-1); walk on through HashNode::next.
  HashNode* chain(long i) const;

private:
  // The bucket of a key, or -1 (after the failed assertion) when the hash
  // function answers outside 0..modulo-1.
  long bucketOf(void const* key) const;

  HashNode** buckets;  // one chain head per bucket
  long modulo_;        // number of buckets
  HashCmpFn compare;
  HashFn hash;
  HashDelFn del;
  long entries_ = 0;
};

// A node whose key area is one untyped pointer, the element.
struct PtrHashNode : HashNode {
  explicit PtrHashNode(void* e = nullptr) : elem(e) {}
  void* elem;
  // Frees the node only, never the element.
  static void del(HashNode* n);
};

class BasePtrHashTab : public BaseHashTab {
public:
  // A table for about n entries whose compare and hash functions receive
  // the addresses of element pointers.
  BasePtrHashTab(int n, HashCmpFn compare, HashFn hash) : BaseHashTab(n, compare, hash, &PtrHashNode::del) {}
  // Adds the pointer in a new node (replacing an equal element); false when
  // refused.
  bool add(void* elem);
  // Removes the node holding an element equal to elem; 0 when done,
  // non-zero when there was none.
  long del(void* elem);
  // The element equal to the key at `key` (the address of an element
  // pointer), or null.
  void* pfind(void const* key) const;
};

// A typed table over BasePtrHashTab.
template <class T>
class PtrHashTabOf : public BasePtrHashTab {
public:
  PtrHashTabOf(int n, HashCmpFn compare, HashFn hash) : BasePtrHashTab(n, compare, hash) {}
  bool add(T* e) { return BasePtrHashTab::add(e); }
  long del(T* e) { return BasePtrHashTab::del(e); }
  // The registered element equal to e, or null (the key is &e).
  T* find(T* e) const { return static_cast<T*>(pfind(&e)); }
};

// Declares the typed node TPTRN and the typed table TPtrHashTab for T.
#define ZF_PTRHASHTAB(T)                                                      \
  class T;                                                                    \
  using T##PTRN = PtrHashNode;                                                \
  class T##PtrHashTab : public PtrHashTabOf<T> {                              \
  public:                                                                     \
    T##PtrHashTab(int n, HashCmpFn compare, HashFn hash) : PtrHashTabOf<T>(n, compare, hash) {} \
  }
