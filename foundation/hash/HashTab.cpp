// Chained hash tables with ordered chains.
//
// Invariants: every node of bucket b's chain hashes to b; each chain is in
// the compare function's order (smallest first); no two nodes of the table
// compare equal; entries_ counts the nodes held. A hash answer outside the
// bucket range fails an assertion and the operation changes nothing.
#include <zfound/HashTab.h>
#include <zfound/OutOfMemory.h>

#include <climits>
#include <new>

#include <zfound/Assert.h>

long BaseHashTab::bucketsFor(long n) {
  if (n < 0) n = 0;
  if (n > LONG_MAX / 4) n = LONG_MAX / 4;
  long m = n + n / 2;
  if (m % 2 == 0) ++m;
  while (m % 3 == 0 || m % 5 == 0 || m % 7 == 0) m += 2;
  return m;
}

BaseHashTab::BaseHashTab(long n, HashCmpFn cmp, HashFn hsh, HashDelFn dl)
    : buckets(nullptr), modulo_(0), compare(cmp), hash(hsh), del(dl) {
  long m = bucketsFor(n);
  buckets = new (std::nothrow) HashNode*[size_t(m)]();
  if (buckets == nullptr) zfOutOfMemory(size_t(m) * sizeof(HashNode*));
  modulo_ = m;
}

BaseHashTab::~BaseHashTab() {
  for (long i = 0; i < modulo_; ++i) {
    HashNode* n = buckets[i];
    while (n != nullptr) {
      HashNode* next = n->next;
      if (del != nullptr) del(n);
      n = next;
    }
  }
  delete[] buckets;
}

long BaseHashTab::bucketOf(void const* key) const {
  if (modulo_ <= 0 || hash == nullptr || compare == nullptr) return -1;
  long hash_value = hash(key, modulo_);
  long modulo = modulo_;
  if (!ZF_ASSERT(hash_value >= 0 && hash_value < modulo)) return -1;
  return hash_value;
}

HashNode* BaseHashTab::chain(long i) const {
  if (i < 0 || i >= modulo_) return nullptr;
  return buckets[i];
}

HashNode* BaseHashTab::addNode(HashNode* node) {
  if (node == nullptr) return nullptr;
  long b = bucketOf(node->keyArea());
  if (b < 0) {
    if (del != nullptr) del(node);
    return nullptr;
  }
  HashNode** link = &buckets[b];
  long c = 1;
  while (*link != nullptr && (c = compare(node->keyArea(), (*link)->keyArea())) > 0) link = &(*link)->next;
  if (*link == node) return node;  // already in the table
  if (*link != nullptr && c == 0) {
    HashNode* old = *link;
    node->next = old->next;
    *link = node;
    if (del != nullptr) del(old);
  } else {
    node->next = *link;
    *link = node;
    ++entries_;
  }
  return node;
}

long BaseHashTab::delNode(HashNode const& key) {
  long b = bucketOf(key.keyArea());
  if (b < 0) return 1;
  HashNode** link = &buckets[b];
  long c = 1;
  while (*link != nullptr && (c = compare(key.keyArea(), (*link)->keyArea())) > 0) link = &(*link)->next;
  if (*link == nullptr || c != 0) return 1;
  HashNode* found = *link;
  *link = found->next;
  --entries_;
  if (del != nullptr) del(found);
  return 0;
}

HashNode* BaseHashTab::findNode(void const* key) const {
  long b = bucketOf(key);
  if (b < 0) return nullptr;
  HashNode* n = buckets[b];
  long c = 1;
  while (n != nullptr && (c = compare(key, n->keyArea())) > 0) n = n->next;
  return n != nullptr && c == 0 ? n : nullptr;
}

// ---------------------------------------------------------------------------

void PtrHashNode::del(HashNode* n) { delete static_cast<PtrHashNode*>(n); }

bool BasePtrHashTab::add(void* elem) {
  PtrHashNode* n = new (std::nothrow) PtrHashNode(elem);
  if (n == nullptr) zfOutOfMemory(sizeof(PtrHashNode));
  return addNode(n) != nullptr;
}

long BasePtrHashTab::del(void* elem) {
  PtrHashNode key(elem);
  return delNode(key);
}

void* BasePtrHashTab::pfind(void const* key) const {
  HashNode* n = findNode(key);
  return n != nullptr ? static_cast<PtrHashNode*>(n)->elem : nullptr;
}
