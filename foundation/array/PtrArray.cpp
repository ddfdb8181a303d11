// Growable pointer arrays, their cursors and the sorted-table search.
//
// Invariants: storage holds capacityFor(dimension) entries (a whole number
// of steps) and is null exactly when that capacity is 0; entries from the
// dimension up to the capacity are null; every index from a caller is checked
// before it is used.
#include <zfound/PtrArray.h>
#include <zfound/OutOfMemory.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include <zfound/Assert.h>

namespace {

// Largest number of entries an array may hold: keeps every capacity and
// byte-count computation far from overflow.
constexpr long kMaxEntries = LONG_MAX / long(sizeof(void*)) / 4;

}  // namespace

BasePtrArray::BasePtrArray(long n, long stp) : dimension(0), step(stp < 1 ? 1 : stp), data(nullptr) {
  reAlloc(n);
}

BasePtrArray::BasePtrArray(BasePtrArray const& a) : dimension(0), step(a.step), data(nullptr) {
  if (reAlloc(a.dimension) && a.dimension > 0)
    std::memcpy(data, a.data, size_t(a.dimension) * sizeof(void*));
}

BasePtrArray& BasePtrArray::operator=(BasePtrArray const& a) {
  if (this == &a) return *this;
  reAlloc(0);
  step = a.step;
  if (reAlloc(a.dimension) && a.dimension > 0)
    std::memcpy(data, a.data, size_t(a.dimension) * sizeof(void*));
  return *this;
}

BasePtrArray::~BasePtrArray() { reAlloc(0); }

long BasePtrArray::capacityFor(long n) const {
  if (n <= 0) return 0;
  return ((n + step - 1) / step) * step;
}

bool BasePtrArray::reAlloc(long n) {
  if (n < 0 || n > kMaxEntries) return false;
  long oldCap = capacityFor(dimension);
  long newCap = capacityFor(n);
  if (newCap == oldCap) {
    for (long i = n; i < dimension; ++i) data[i] = nullptr;
    dimension = n;
    return true;
  }
  void** fresh = nullptr;
  if (newCap > 0) {
    fresh = new (std::nothrow) void*[size_t(newCap)];
    if (fresh == nullptr) zfOutOfMemory(size_t(newCap) * sizeof(void*));
    long keep = n < dimension ? n : dimension;
    if (keep > 0) std::memcpy(fresh, data, size_t(keep) * sizeof(void*));
    for (long i = keep; i < newCap; ++i) fresh[i] = nullptr;
  }
  delete[] data;
  data = fresh;
  dimension = n;
  return true;
}

long BasePtrArray::nextFree() const {
  for (long i = 0; i < dimension; ++i)
    if (data[i] == nullptr) return i;
  return dimension;
}

long BasePtrArray::add(void const* p) {
  long i = nextFree();
  if (i == dimension && !reAlloc(dimension + 1)) return -1;
  data[i] = const_cast<void*>(p);
  return i;
}

bool BasePtrArray::ins(long i, void const* p) {
  if (i < 0 || i > dimension) {
    reportIndex(i, dimension);
    return false;
  }
  if (!reAlloc(dimension + 1)) return false;
  std::memmove(data + i + 1, data + i, size_t(dimension - 1 - i) * sizeof(void*));
  data[i] = const_cast<void*>(p);
  return true;
}

bool BasePtrArray::del(long i) {
  if (!isInRange(i)) {
    reportIndex(i, dimension - 1);
    return false;
  }
  std::memmove(data + i, data + i + 1, size_t(dimension - 1 - i) * sizeof(void*));
  data[dimension - 1] = nullptr;
  return reAlloc(dimension - 1);
}

long BasePtrArray::del(void const* p) {
  long i = find(p);
  if (i >= 0) data[i] = nullptr;
  return i;
}

long BasePtrArray::find(void const* p) const {
  for (long i = 0; i < dimension; ++i)
    if (data[i] == p) return i;
  return -1;
}

void BasePtrArray::clear() {
  for (long i = 0; i < dimension; ++i) data[i] = nullptr;
}

void BasePtrArray::sort(PtrArrayCmp cmp) {
  if (data != nullptr && dimension > 1) std::qsort(data, size_t(dimension), sizeof(void*), cmp);
}

long BasePtrArray::find(void const* key, PtrArrayCmp cmp) const {
  if (data == nullptr) return -1;
  return locate(key, data, (unsigned long)dimension, sizeof(void*), cmp);
}

void BasePtrArray::reportIndex(long i, long hi) const { _outOfBounds(i, hi); }

void*& BasePtrArray::elemTest(long i) {
  if (isInRange(i)) return data[i];
  reportIndex(i, dimension);
  static void* scratch;
  scratch = nullptr;
  return scratch;
}

void* BasePtrArray::elemTest(long i) const {
  if (isInRange(i)) return data[i];
  reportIndex(i, dimension);
  return nullptr;
}

// ---------------------------------------------------------------------------

BasePtrArrayScanner::BasePtrArrayScanner(BasePtrArray const& a) {
  assign(a);
  goToFirst();
}

BasePtrArrayScanner::BasePtrArrayScanner(BasePtrArray const& a, GoToLast) {
  assign(a);
  goToLast();
}

void BasePtrArrayScanner::reset() {
  first = nullptr;
  current = 0;
  count = 0;
}

void BasePtrArrayScanner::assign(BasePtrArray const& a) {
  if (a.dim() <= 0 || a.entries() == nullptr) {
    reset();
    return;
  }
  first = const_cast<void**>(a.entries());
  current = 0;
  count = a.dim();
}

void BasePtrArrayScanner::skipForward() {
  if (first == nullptr) return;
  while (current >= 0 && current < count && first[current] == nullptr) ++current;
}

void BasePtrArrayScanner::skipBackward() {
  if (first == nullptr) return;
  while (current >= 0 && current < count && first[current] == nullptr) --current;
}

void BasePtrArrayScanner::goToFirst() {
  current = 0;
  skipForward();
}

void BasePtrArrayScanner::goToLast() {
  current = count - 1;
  skipBackward();
}

void BasePtrArrayScanner::goTo(long i) {
  current = i;
  skipForward();
}

BasePtrArrayScanner& BasePtrArrayScanner::operator+=(long n) {
  if (n > LONG_MAX - current) current = LONG_MAX;
  else current += n;
  skipForward();
  return *this;
}

BasePtrArrayScanner& BasePtrArrayScanner::operator-=(long n) {
  if (current < LONG_MIN + n) current = LONG_MIN;
  else current -= n;
  skipBackward();
  return *this;
}

// ---------------------------------------------------------------------------

namespace {

// The search itself, over a comparison on element indexes.
template <class Compare>
long locateBy(unsigned long n, Compare compare) {
  if (n == 0) return -1;
  if (n > (unsigned long)LONG_MAX / 2) return -1;
  long p = 1;
  while ((unsigned long)p <= n) p <<= 1;
  long step = p / 2;
  long probe = step - 1;
  int r = 0;
  for (;;) {
    // A probe beyond the table counts as a key below the element there.
    r = (unsigned long)probe >= n ? -1 : compare(probe);
    if (r == 0) return probe;
    step >>= 1;
    if (step == 0) break;
    probe += r > 0 ? step : -step;
  }
  return r > 0 ? ~(probe + 1) : ~probe;
}

}  // namespace

long locate(char const* key, char const* base, unsigned long n, unsigned long size,
            int (*cmp)(char*, char*)) {
  if (base == nullptr || size == 0 || cmp == nullptr) return -1;
  if (n > (unsigned long)LONG_MAX / size) return -1;
  return locateBy(n, [&](long i) {
    return cmp(const_cast<char*>(key), const_cast<char*>(base) + (unsigned long)i * size);
  });
}

long locate(void const* key, void const* base, unsigned long n, unsigned long size,
            int (*cmp)(void const*, void const*)) {
  if (base == nullptr || size == 0 || cmp == nullptr) return -1;
  if (n > (unsigned long)LONG_MAX / size) return -1;
  char const* b = static_cast<char const*>(base);
  return locateBy(n, [&](long i) { return cmp(key, b + (unsigned long)i * size); });
}
