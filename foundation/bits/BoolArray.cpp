// Packed flag arrays.
//
// Invariants: bits holds wordsFor(dimension) words and is null exactly when
// the dimension is 0; bits of the last word past the dimension are clear, so
// word-wide tests (any, intersects) never see stale flags.
#include <zfound/BoolArray.h>
#include <zfound/OutOfMemory.h>

#include <climits>
#include <cstring>
#include <new>

namespace {
// Largest dimension: keeps the word and byte counts far from overflow.
constexpr long kMaxFlags = LONG_MAX / 8;
}  // namespace

BoolArray::BoolArray(long n) : bits(nullptr), dimension(0), selected(0) { realloc(n); }

BoolArray::BoolArray(BoolArray const& a) : bits(nullptr), dimension(0), selected(a.selected) {
  if (realloc(a.dimension) && bits != nullptr)
    std::memcpy(bits, a.bits, size_t(wordsFor(dimension)) * sizeof(uint32_t));
}

BoolArray& BoolArray::operator=(BoolArray const& a) {
  if (this == &a) return *this;
  if (realloc(a.dimension)) {
    if (bits != nullptr) std::memcpy(bits, a.bits, size_t(wordsFor(dimension)) * sizeof(uint32_t));
    selected = a.selected;
  }
  return *this;
}

BoolArray::~BoolArray() { delete[] bits; }

BoolArray::operator int() const {
  if (bits == nullptr || selected < 0 || selected >= dimension) return 0;
  return (bits[selected / 32] >> (selected % 32)) & 1u;
}

int BoolArray::operator=(int v) {
  if (bits == nullptr || selected < 0 || selected >= dimension) return v;
  uint32_t mask = uint32_t(1) << (selected % 32);
  if (v) bits[selected / 32] |= mask;
  else bits[selected / 32] &= ~mask;
  return v;
}

void BoolArray::trimTail() {
  if (bits == nullptr || dimension % 32 == 0) return;
  bits[wordsFor(dimension) - 1] &= (uint32_t(1) << (dimension % 32)) - 1;
}

bool BoolArray::realloc(long n) {
  if (n < 0) n = 0;
  if (n > kMaxFlags) return false;
  long oldWords = wordsFor(dimension);
  long newWords = wordsFor(n);
  if (newWords != oldWords) {
    uint32_t* fresh = nullptr;
    if (newWords > 0) {
      fresh = new (std::nothrow) uint32_t[size_t(newWords)]();
      if (fresh == nullptr) zfOutOfMemory(size_t(newWords) * sizeof(uint32_t));
      long keep = oldWords < newWords ? oldWords : newWords;
      if (keep > 0) std::memcpy(fresh, bits, size_t(keep) * sizeof(uint32_t));
    }
    delete[] bits;
    bits = fresh;
  }
  // Flags between the old and the new dimension must read clear: cut the
  // tail at the smaller of the two.
  long common = n < dimension ? n : dimension;
  dimension = common;
  trimTail();
  dimension = n;
  return true;
}

void BoolArray::setAll(bool v) {
  long w = wordsFor(dimension);
  for (long i = 0; i < w; ++i) bits[i] = v ? ~uint32_t(0) : 0;
  trimTail();
}

bool BoolArray::any() const {
  long w = wordsFor(dimension);
  for (long i = 0; i < w; ++i)
    if (bits[i] != 0) return true;
  return false;
}

BoolArray BoolArray::operator&(BoolArray const& a) const {
  BoolArray r(*this);
  r &= a;
  return r;
}

BoolArray& BoolArray::operator&=(BoolArray const& a) {
  long w = wordsFor(dimension < a.dimension ? dimension : a.dimension);
  for (long i = 0; i < w; ++i) bits[i] &= a.bits[i];
  return *this;
}

bool BoolArray::intersects(BoolArray const& a) const {
  long w = wordsFor(dimension < a.dimension ? dimension : a.dimension);
  for (long i = 0; i < w; ++i)
    if (bits[i] & a.bits[i]) return true;
  return false;
}
