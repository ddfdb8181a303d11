// Growable arrays of untyped pointers, their cursors, and the binary search
// of a key in a sorted table.
//
// BasePtrArray keeps `dimension` entries (null entries included) in storage
// that is always a whole number of `step` entries; the storage is null while
// the capacity is 0. Every entry between the dimension and the capacity is
// null. The array does not own what its entries point to.
//
// BasePtrArrayScanner walks an array's entries and skips the null ones; it
// holds the address of the first entry, the current position and the number
// of entries, all null/0 for a cursor over nothing. A cursor that ran off
// either side is false. Cursors hold addresses into the array's storage, so
// they must not be used after the array has been resized.
//
// Typed arrays: ZF_PTRARRAY(T) declares the classes TPtrArray and
// TPtrArrayCursor (e.g. StringPtrArray, StringPtrArrayCursor) over the two
// untyped classes; they add typed access and no behaviour of their own.
// StringPtrArray is declared here; other element types declare theirs next
// to the type with the same macro.
#pragma once

#include <cstddef>
#include <cstdint>

// Empty tag: selects a cursor that starts at the last entry.
struct GoToLast {};

// Compare function of sort() and find(key, cmp): receives the addresses of
// two entries (for find: the key's address first), answers <0, 0 or >0.
typedef int (*PtrArrayCmp)(void const*, void const*);

class BasePtrArray {
public:
  // An empty array resized to n null entries, growing by `step` entries
  // (a step below 1 counts as 1).
  explicit BasePtrArray(long n = 0, long step = 8);
  // Copies the entries (the pointers, not what they point to).
  BasePtrArray(BasePtrArray const& a);
  BasePtrArray& operator=(BasePtrArray const& a);
  // Resizes to 0.
  ~BasePtrArray();

  // Sets the dimension to n, keeping the first min(dim, n) entries; new
  // entries are null. Storage changes only when the capacity for n differs
  // from the capacity for the current dimension. A negative n, or one whose
  // storage cannot be had, changes nothing and answers false.
  bool reAlloc(long n);
  // Stores p in the first null entry, or appends it after growing by one;
  // returns its index (-1 when the array could not grow).
  long add(void const* p);
  // The index of the first null entry, or dim() when there is none.
  long nextFree() const;
  // Grows by one, shifts entries i onward up by one and stores p at i
  // (0 <= i <= dim()); an index outside that range is reported and refused.
  bool ins(long i, void const* p);
  // Shifts the entries after i down by one and shrinks by one; an index
  // outside 0..dim()-1 is reported and refused.
  bool del(long i);
  // Nulls the first entry equal to p, without shifting; its index or -1.
  long del(void const* p);
  // The index of the first entry equal to p, or -1.
  long find(void const* p) const;
  // Nulls every entry; the dimension stays.
  void clear();
  // Sorts the entries with qsort; cmp receives the addresses of two entries.
  void sort(PtrArrayCmp cmp);
  // Binary search (locate) of the key over the entries, which must be
  // sorted by cmp; cmp receives the key's address and an entry's address.
  // A found index, or ~(insertion point); -1 when there is no storage.
  long find(void const* key, PtrArrayCmp cmp) const;

  // Checked access to entry i. An index outside 0..dim()-1 is reported
  // ("OUTOFBOUNDS") and answers a scratch entry that is null on each such
  // call and is not part of the array.
  void*& elemTest(long i);
  void* elemTest(long i) const;

  // 0 <= i < dim() and entry i is not null.
  bool isValid(long i) const { return isInRange(i) && data[i] != nullptr; }
  // 0 <= i < dim().
  bool isInRange(long i) const { return i >= 0 && i < dimension; }
  // The number of entries in use, null ones included.
  long dim() const { return dimension; }
  // The growth quantum.
  long stepSize() const { return step; }
  // The number of entries the storage holds.
  long capacity() const { return capacityFor(dimension); }
  // The entries (null while the capacity is 0).
  void* const* entries() const { return data; }

protected:
  long capacityFor(long n) const;
  // Reports an index outside [lo, hi] through the OUTOFBOUNDS message.
  void reportIndex(long i, long hi) const;

  long dimension;  // entries in use, null ones included
  long step;       // growth quantum
  void** data;     // the entries; null while the capacity is 0
};

class BasePtrArrayScanner {
public:
  // A cursor over nothing (false).
  BasePtrArrayScanner() = default;
  // A cursor at the first non-null entry of a (false when there is none).
  explicit BasePtrArrayScanner(BasePtrArray const& a);
  // A cursor at the last non-null entry of a.
  BasePtrArrayScanner(BasePtrArray const& a, GoToLast);
  BasePtrArrayScanner(BasePtrArrayScanner const&) = default;
  BasePtrArrayScanner& operator=(BasePtrArrayScanner const&) = default;

  // Clears the three positions: a cursor over nothing.
  void reset();
  // Covers a's entries (first entry, end after the last); resets when a has
  // none. The position is left at the first entry, unskipped.
  void assign(BasePtrArray const& a);
  // To the first entry, then forward over null entries.
  void goToFirst();
  // To the last entry, then backward over null entries.
  void goToLast();
  // To entry i, then forward over null entries.
  void goTo(long i);
  // Forward n entries, then forward over null entries.
  BasePtrArrayScanner& operator+=(long n);
  // Back n entries, then backward over null entries.
  BasePtrArrayScanner& operator-=(long n);
  BasePtrArrayScanner& operator++() { return *this += 1; }
  BasePtrArrayScanner& operator--() { return *this -= 1; }
  // True while the position lies on an entry (first <= current < end).
  explicit operator bool() const { return first != nullptr && current >= 0 && current < count; }
  bool operator!() const { return !static_cast<bool>(*this); }
  // The position in entries from the first.
  long index() const { return current; }
  // The current entry, or null when the cursor is off the entries.
  void* item() const { return *this ? first[current] : nullptr; }

protected:
  void skipForward();
  void skipBackward();

  void** first = nullptr;  // address of the first entry
  long current = 0;        // position, in entries from first
  long count = 0;          // entries covered (end = first + count)
};

// Binary search of `key` in the n elements of `size` bytes at `base`, sorted
// by cmp (called with the key first, then an element's address). Probes by
// powers of two. A result >= 0 is a found index; a negative result r gives
// the insertion point ~r; an empty table gives -1. A null base, a zero size
// or a table larger than the address space answers -1.
long locate(char const* key, char const* base, unsigned long n, unsigned long size,
            int (*cmp)(char*, char*));
// The same with a compare function on const addresses.
long locate(void const* key, void const* base, unsigned long n, unsigned long size,
            int (*cmp)(void const*, void const*));

// A typed array over BasePtrArray: entries are T*.
template <class T>
class PtrArrayOf : public BasePtrArray {
public:
  explicit PtrArrayOf(long n = 0, long step = 8) : BasePtrArray(n, step) {}

  // Checked access (see elemTest).
  T*& operator[](long i) { return reinterpret_cast<T*&>(elemTest(i)); }
  T* operator[](long i) const { return static_cast<T*>(elemTest(i)); }
  long add(T* p) { return BasePtrArray::add(p); }
  bool ins(long i, T* p) { return BasePtrArray::ins(i, p); }
  bool del(long i) { return BasePtrArray::del(i); }
  long del(T* p) { return BasePtrArray::del(static_cast<void const*>(p)); }
  long find(T const* p) const { return BasePtrArray::find(static_cast<void const*>(p)); }
  // Binary search; key is the address of a T* (like the entries' addresses).
  long find(T* const* key, PtrArrayCmp cmp) const { return BasePtrArray::find(key, cmp); }
  // Unchecked access to entry i for 0 <= i < dim().
  T* at(long i) const { return static_cast<T*>(data[i]); }
};

// A typed cursor over BasePtrArrayScanner.
template <class T>
class PtrArrayCursorOf : public BasePtrArrayScanner {
public:
  PtrArrayCursorOf() = default;
  explicit PtrArrayCursorOf(PtrArrayOf<T> const& a) : BasePtrArrayScanner(a) {}
  PtrArrayCursorOf(PtrArrayOf<T> const& a, GoToLast g) : BasePtrArrayScanner(a, g) {}

  // Covers a's entries from entry 0 (resets when a has none).
  void assign(PtrArrayOf<T> const& a) { BasePtrArrayScanner::assign(a); }
  // The current element, or null when the cursor is off the entries.
  T* operator()() const { return static_cast<T*>(item()); }
  T* operator->() const { return static_cast<T*>(item()); }
  T& operator*() const { return *static_cast<T*>(item()); }
};

// Declares TPtrArray and TPtrArrayCursor for the element type T.
#define ZF_PTRARRAY(T)                                                     \
  class T;                                                                 \
  class T##PtrArray : public PtrArrayOf<T> {                               \
  public:                                                                  \
    explicit T##PtrArray(long n = 0, long step = 8) : PtrArrayOf<T>(n, step) {} \
  };                                                                       \
  class T##PtrArrayCursor : public PtrArrayCursorOf<T> {                   \
  public:                                                                  \
    T##PtrArrayCursor() = default;                                         \
    explicit T##PtrArrayCursor(PtrArrayOf<T> const& a) : PtrArrayCursorOf<T>(a) {} \
    T##PtrArrayCursor(PtrArrayOf<T> const& a, GoToLast g) : PtrArrayCursorOf<T>(a, g) {} \
  }

ZF_PTRARRAY(String);
