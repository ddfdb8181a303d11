// IndexNode: the levels of an open index's B-tree: one RootNode, depth - 2
// MiddleNodes and one LeafNode, chained root to leaf along the current path.
//
// Node record (a record of the index file; numbers big-endian):
//
//   bytes     content
//   0-7       the blocked file's links
//   8-15      TimeStamp: when the record was taken (copy on write compares it
//             with the last checkpoint)
//   16-       slots, slot i at 16 + i x slot length; nodes store no count
//
//   leaf slot (k + 4):         key (k)  | table record number (4)
//   internal slot (K + 6):     first key of the child (K) | child's slot
//                              count (2, unsigned) | child's record (4)
//
// k is the key length, K = k + 4 with duplicates (the leaf's record number
// is then the key's last part), else k. Slots per node = (page - 16) / slot
// length. The root is an in-memory array of up to 16 nodes' worth of slots,
// stored as a chain of records: each holds the next record's number (4
// bytes, 0 in the last) and up to page - 20 bytes of slots.
//
// Copy on write: a child whose stamp is not later than the last checkpoint
// is never written in place; the parent copies it to a new record
// (chgIdent), drops the old page unwritten and frees the old record. Other
// children are marked modified.
//
// Invariants: a parent slot's count equals its child's slot count and its
// key the child's first key; a node object holds at most one locked page;
// every count, record number, depth and chain link read from the file is
// checked before use, and a bad one fails the operation (SvIndex::failed).
#pragma once

#include <cstdint>

class BoolArray;
class CacheBuffer;
class SvIndex;
class TimeStamp;

class IndexNode {
public:
  // Results of addKey.
  static constexpr int32_t kFull = -1;
  static constexpr int32_t kDone = 0;
  static constexpr int32_t kSame = 1;
  static constexpr int32_t kChanged = 2;
  static constexpr int32_t kError = -2;

  IndexNode(SvIndex* ix, IndexNode* son, uint16_t sLen);
  virtual ~IndexNode();
  IndexNode(IndexNode const&) = delete;
  IndexNode& operator=(IndexNode const&) = delete;

  // Writes key (K bytes, unless null), count and record into slot i.
  virtual void setSlotValues(uint16_t i, char const* key, int32_t rec, uint16_t n);
  // Loads node record rec with lock; false (index failed) when it cannot.
  virtual bool get(int32_t rec);
  // Selects slot i; sets the son's count and nRec from the slot; nRec.
  virtual int32_t setSlot(int32_t i, char* key = nullptr);
  virtual int32_t goToFirst() { return -1; }
  virtual int32_t goToLast() { return -1; }
  virtual int32_t next() { return -1; }
  virtual int32_t prev() { return -1; }
  virtual int32_t addKey(int32_t) { return kError; }
  virtual int32_t delKey();
  virtual int32_t count(bool loInc, char* lo, bool hiInc, char* hi);
  // 0 correct, 1 inter-level, 2 level order, 3 duplicated record, 4 out of
  // range; 5 a damaged node (with the index's error).
  virtual int32_t verify(uint16_t n, int32_t rec, int32_t level, bool exh, BoolArray* marks, int32_t& badRec,
                         int32_t& badLevel, int32_t& badSlot, int32_t& count, char const* parentKey);
  virtual void printTree(uint16_t n, int32_t rec, int32_t level);
  virtual bool isLeaf() const { return false; }

  // Positions on the first slot not below key (internal: the child whose
  // first key is not above it); true when key itself is there.
  bool find(char const* key);
  bool splitSon();
  bool joinSons(int32_t i);
  // Copies the son to a new record (copy on write); rec gets its number.
  bool chgIdent(int32_t& rec);
  void insSlot(uint16_t i, char const* key, int32_t rec, uint16_t n);
  void delSlot(int32_t i);
  // False (index failed) when n exceeds what the node may hold.
  bool setNumSlots(int32_t n);
  void zeroNumSlots() { setNumSlots(0); }
  void incNumSlots() { setNumSlots(nSlots_ + 1); }
  void decNumSlots() { setNumSlots(nSlots_ - 1); }
  int32_t numSlots(bool loInc, char* lo, bool hiInc, char* hi);
  CacheBuffer* unLock();
  void markSon();
  // After a change below: mark or copy the son, rewrite its slot; false
  // when the copy failed. `copied` tells which happened.
  bool settleSon(bool& copied);

  char* slots() const { return slots_; }
  uint16_t sLen() const { return sLen_; }
  int32_t cSlot() const { return cSlot_; }
  IndexNode* son() const { return son_; }
  void setSon(IndexNode* s) { son_ = s; }
  char* key() const { return key_; }
  char* firstKey() const { return slots_; }
  int32_t nRec() const { return nRec_; }
  void setNRec(int32_t r) { nRec_ = r; }
  TimeStamp* tStamp() const { return tStamp_; }
  // True while the node holds its page locked.
  bool held() const { return cb_ != nullptr; }
  int32_t nSlots() const { return nSlots_; }
  int32_t slotsPerNode() const;
  char* slotAt(int32_t i) const { return slots_ + int64_t(i) * sLen_; }
  void idStart() {}
  void idStop() {}
  void idCheck() const {}

protected:
  // Points the node at the shared zero area after a failed load, so no
  // later step reads or writes outside memory.
  void poison();
  uint16_t slotCount(int32_t i) const;
  int32_t slotRec(int32_t i) const;
  // Sets this node's count from the parent's slot, checked.
  int32_t cmp(char const* a, char const* b) const;
  // True when the son's stamp is later than the last checkpoint.
  bool sonIsNew() const;
  // What every node's verify checks first: node rec loads with n slots (else
  // 5), its first key is the parent's (else 1), its keys ascend (else 2,
  // badSlot the first out of order); 0 when all hold.
  int32_t verifyNode(uint16_t n, int32_t rec, int32_t level, int32_t& badRec, int32_t& badLevel, int32_t& badSlot,
                     char const* parentKey);
  // Internal nodes: loads slot i's son and puts it on its first (last) key;
  // -1 when i lies outside the node or the son cannot be read.
  int32_t descendTo(int32_t i, bool first);
  // Internal nodes: moves the son one key on (back); past its end, onto the
  // neighbouring slot's son.
  int32_t stepSon(bool forward);

  int32_t nSlots_ = 0;
  SvIndex* sindex;
  IndexNode* son_;
  int32_t nRec_ = 0;
  int32_t cSlot_ = 0;
  uint16_t sLen_;
  char* key_ = nullptr;
  char* slots_ = nullptr;
  int32_t lastOff_ = 0;
  TimeStamp* tStamp_;
  CacheBuffer* cb_ = nullptr;
};

class RootNode : public IndexNode {
public:
  RootNode(SvIndex* ix, IndexNode* son, uint16_t sLen, int32_t rBegin);
  ~RootNode() override;
  void setSlotValues(uint16_t i, char const* key, int32_t rec, uint16_t n) override;
  // Loads the stored root chain when the array does not exist yet.
  bool get(int32_t rec = 0) override;
  int32_t goToFirst() override;
  int32_t goToLast() override;
  int32_t next() override;
  int32_t prev() override;
  int32_t addKey(int32_t rec) override;
  int32_t delKey() override;

  // Sizes the array for n slots; with adjust may change the depth instead
  // (true then).
  bool realloc(int32_t n, bool adjust);
  bool incDepth();
  bool decDepth();
  // Writes the chain when the index is modified; false on failure.
  bool write();
  bool flush();
  int32_t getRecBegin() const { return rBegin_; }
  bool loaded() const { return arr_ != nullptr; }
  void setCount(int32_t n) { nSlots_ = n; lastOff_ = (n - 1) * sLen_; }
  int32_t maxSlots() const;
  // The stored root could not be read: the index only looks empty, and an
  // insertion would replace the stored tree with a new one.
  bool unreadable() const { return unreadable_; }
  void setUnreadable() { unreadable_ = true; }

private:
  // Depth changes wait while the array is being read from the chain.
  bool loading_ = false;
  bool unreadable_ = false;
  int32_t min_ = 0;
  int32_t max_ = 0;
  int32_t nodeSize_;
  int32_t rBegin_;
  char* arr_ = nullptr;
};

class MiddleNode : public IndexNode {
public:
  MiddleNode(SvIndex* ix, IndexNode* son, uint16_t sLen) : IndexNode(ix, son, sLen) {}
  int32_t goToFirst() override;
  int32_t goToLast() override;
  int32_t next() override;
  int32_t prev() override;
  int32_t addKey(int32_t rec) override;
};

class LeafNode : public IndexNode {
public:
  LeafNode(SvIndex* ix, uint16_t sLen) : IndexNode(ix, nullptr, sLen) {}
  void setSlotValues(uint16_t i, char const* key, int32_t rec, uint16_t n) override;
  int32_t setSlot(int32_t i, char* key = nullptr) override;
  int32_t goToFirst() override;
  int32_t goToLast() override;
  int32_t next() override;
  int32_t prev() override;
  int32_t addKey(int32_t rec) override;
  int32_t delKey() override;
  int32_t count(bool loInc, char* lo, bool hiInc, char* hi) override;
  int32_t verify(uint16_t n, int32_t rec, int32_t level, bool exh, BoolArray* marks, int32_t& badRec,
                 int32_t& badLevel, int32_t& badSlot, int32_t& count, char const* parentKey) override;
  void printTree(uint16_t n, int32_t rec, int32_t level) override;
  bool isLeaf() const override { return true; }
};
