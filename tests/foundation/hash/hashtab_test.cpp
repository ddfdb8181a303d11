// Chained hash tables: sizing, ordered chains, replacement of equal keys,
// removal, look-up, and the typed pointer tables.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zfound/HashTab.h>

namespace {

struct Item {
  long key;
  int tag;
};
}  // namespace

using ItemPTRN = PtrHashNode;

namespace {

long cmpItems(void const* a, void const* b) {
  Item const* x = *static_cast<Item* const*>(a);
  Item const* y = *static_cast<Item* const*>(b);
  return x->key < y->key ? -1 : x->key > y->key ? 1 : 0;
}

// A poor hash on purpose: keys collide in few buckets, so chains get long.
long hashItems(void const* a, long modulo) { return (*static_cast<Item* const*>(a))->key % 3 % modulo; }

long badHash(void const*, long modulo) { return modulo; }

class ItemTab : public PtrHashTabOf<Item> {
public:
  explicit ItemTab(int n) : PtrHashTabOf<Item>(n, cmpItems, hashItems) {}
};

// Nodes with an int key right after the link, counting their frees.
int freed = 0;
struct IntNode : HashNode {
  explicit IntNode(int k) : key(k) {}
  int key;
};
void delInt(HashNode* n) {
  ++freed;
  delete static_cast<IntNode*>(n);
}
long cmpInt(void const* a, void const* b) { return long(*static_cast<int const*>(a)) - *static_cast<int const*>(b); }
long hashInt(void const* a, long modulo) { return *static_cast<int const*>(a) % 2; }

}  // namespace

TEST(HashTab, BucketCountFollowsSizingRule) {
  struct { long n, buckets; } cases[] = {{64, 97}, {256, 389}, {0, 1}, {-5, 1}, {1, 1}, {2, 11}, {10, 17}};
  for (auto const& c : cases) EXPECT_EQ(BaseHashTab::bucketsFor(c.n), c.buckets) << c.n;
  BaseHashTab t(64, cmpInt, hashInt, delInt);
  EXPECT_EQ(t.modulo(), 97);
}

TEST(HashTab, KeyAreaFollowsTheLink) {
  PtrHashNode n;
  EXPECT_EQ(n.keyArea(), static_cast<void*>(&n.elem));
  IntNode i(3);
  EXPECT_EQ(i.keyArea(), static_cast<void*>(&i.key));
}

TEST(HashTab, ChainsStayOrderedAndEqualKeysReplace) {
  freed = 0;
  {
    BaseHashTab t(8, cmpInt, hashInt, delInt);
    for (int k : {9, 3, 7, 1, 5, 4, 2}) ASSERT_NE(t.addNode(new IntNode(k)), nullptr);
    EXPECT_EQ(t.entries(), 7);
    std::vector<int> odd;
    for (HashNode* n = t.chain(1); n != nullptr; n = n->next) odd.push_back(static_cast<IntNode*>(n)->key);
    EXPECT_EQ(odd, (std::vector<int>{1, 3, 5, 7, 9}));

    // An equal key takes the old node's place; the old node is freed.
    IntNode* again = new IntNode(5);
    EXPECT_EQ(t.addNode(again), again);
    EXPECT_EQ(t.entries(), 7);
    EXPECT_EQ(freed, 1);
    int k = 5;
    EXPECT_EQ(t.findNode(&k), again);

    // Adding a node that is already in the table changes nothing.
    EXPECT_EQ(t.addNode(again), again);
    EXPECT_EQ(t.entries(), 7);
    EXPECT_EQ(freed, 1);

    // Removing an absent key answers non-zero and changes nothing.
    IntNode absent(6);
    EXPECT_NE(t.delNode(absent), 0);
    EXPECT_EQ(t.entries(), 7);
    EXPECT_EQ(freed, 1);

    IntNode three(3);
    EXPECT_EQ(t.delNode(three), 0);
    EXPECT_EQ(freed, 2);
    k = 3;
    EXPECT_EQ(t.findNode(&k), nullptr);
    k = 7;
    EXPECT_NE(t.findNode(&k), nullptr);
    EXPECT_EQ(t.entries(), 6);
  }
  // The destructor freed the six nodes left.
  EXPECT_EQ(freed, 8);
}

TEST(HashTab, HashOutOfRangeIsRefused) {
  freed = 0;
  BaseHashTab t(4, cmpInt, badHash, delInt);
  EXPECT_EQ(t.addNode(new IntNode(1)), nullptr);
  EXPECT_EQ(freed, 1);  // the refused node is not leaked
  int k = 1;
  EXPECT_EQ(t.findNode(&k), nullptr);
  IntNode key(1);
  EXPECT_NE(t.delNode(key), 0);
  EXPECT_EQ(t.entries(), 0);
}

TEST(HashTab, TypedPointerTable) {
  ItemTab t(10);
  Item probe{42, 0};
  EXPECT_EQ(t.find(&probe), nullptr);  // empty table

  std::vector<Item> items;
  for (int i = 0; i < 50; ++i) items.push_back({i * 7L, i});
  for (Item& it : items) ASSERT_TRUE(t.add(&it));
  EXPECT_EQ(t.entries(), 50);
  for (Item& it : items) {
    Item key{it.key, -1};
    EXPECT_EQ(t.find(&key), &it);
  }
  // Replacing an element frees the node only, never the elements.
  Item twin{14, 99};
  ASSERT_TRUE(t.add(&twin));
  Item key{14, -1};
  EXPECT_EQ(t.find(&key), &twin);
  EXPECT_EQ(t.entries(), 50);
  EXPECT_EQ(items[2].tag, 2);

  EXPECT_EQ(t.del(&key), 0);
  EXPECT_EQ(t.find(&key), nullptr);
  EXPECT_NE(t.del(&key), 0);
  EXPECT_EQ(t.entries(), 49);
}
