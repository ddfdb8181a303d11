// CmdBinding over a chained hash table of 16-bit keys.
#include <winkit/CmdBinding.h>

#include <zfound/CharClass.h>

namespace {

constexpr long kSizeHint = 255;
constexpr long kMenuPrefix = 0x9B00;
constexpr long kOpenMenu = -3;

long low16(long k) { return k & 0xFFFF; }

long keyOf(void const* keyArea) { return low16(*static_cast<long const*>(keyArea)); }

long compareKeys(void const* a, void const* b) { return keyOf(a) - keyOf(b); }

long hashKey(void const* k, long modulo) { return keyOf(k) % modulo; }

void deleteNode(HashNode* n) { delete static_cast<IntIntN*>(n); }

}  // namespace

IntIntHashTab::IntIntHashTab(long sizeHint) : BaseHashTab(sizeHint, compareKeys, hashKey, deleteNode) {}

long IntIntHashTab::add(long const& key, long const& value) {
  addNode(new IntIntN(key, value));
  return value;
}

long IntIntHashTab::del(long const& key) {
  IntIntN probe(key, 0);
  return delNode(probe);
}

long* IntIntHashTab::find(long const& key) const {
  HashNode* n = findNode(&key);
  return n ? &static_cast<IntIntN*>(n)->value : nullptr;
}

CmdBinding::CmdBinding() : table(new IntIntHashTab(kSizeHint)) {}

CmdBinding::~CmdBinding() { delete table; }

void CmdBinding::bind(long key, long id) { table->add(key, id); }

long CmdBinding::getCmdId(long key) const {
  long* id = table->find(key);
  return id ? *id : -1;
}

void CmdBinding::bindMenu(String const& title) {
  int c = title.isNull() || title.isHighest() || title.length() == 0 ? 0
                                                                      : static_cast<unsigned char>(toCharPtr(title)[0]);
  bind(kMenuPrefix + c, kOpenMenu);
  bind(kMenuPrefix + toLowerCase(c), kOpenMenu);
}
