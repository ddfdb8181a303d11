// Circular doubly linked lists whose cursors are registered with the list.
//
// A list owns its nodes and destroys and copies them only through the two
// functions given to its constructor. Every cursor made on a list is linked
// into the list's chain of cursors until it is destroyed, cleared or given
// another list; the list tells the chain of every insertion and deletion so
// that a cursor keeps its node and its position number.
//
// Invariants:
//  - the nodes form a ring: tail->next is head and head->prev is tail; head
//    and tail are null exactly when count is 0;
//  - a cursor with a node has order equal to the node's position; a cursor
//    without a node may have any order (negative or not below count) and
//    regains a node when moved back into range;
//  - a list being destroyed detaches every cursor still registered (no list,
//    no node), so a cursor that outlives its list never touches it.
#pragma once
#include <zfound/String.h>

#include <cstdint>

// The links of a node. Typed nodes derive from it.
struct ListNode {
  ListNode* next;
  ListNode* prev;
  // Links left unset.
  ListNode() {}
  ListNode(ListNode const& o) = default;
  ListNode& operator=(ListNode const& o) = default;
};

// A node holding one untyped pointer (not owned).
struct PtrNode : ListNode {
  void* ptr;
  explicit PtrNode(void* p = nullptr) : ptr(p) {}
};

// A node holding one String.
struct StringN : ListNode {
  String str;
  explicit StringN(String const& s = String()) : str(s) {}
};

class BaseListCursor;

class BaseList {
public:
  // Destroys a node (returns null) / makes a copy of a node.
  typedef ListNode* (*NodeFunc)(ListNode*);

  // An empty list without a null node.
  BaseList(NodeFunc deleteNode, NodeFunc cloneNode);
  // An empty list with o's functions, a clone of o's null node and clones of
  // o's nodes; not modified.
  BaseList(BaseList const& o);
  // Unless o is this list: delAll, then clones of o's nodes appended.
  BaseList& operator=(BaseList const& o);
  // Deletes every node and the null node; detaches the cursors still registered.
  virtual ~BaseList();

  int32_t size() const { return count_; }
  bool modif() const { return modif_; }
  void setModif() { modif_ = true; }
  void resetModif() { modif_ = false; }
  // The first registered cursor (the chain continues through nextCursor();
  // it is linked both ways so that a cursor leaves it in constant time).
  BaseListCursor* listCursorHead() const { return cursors_; }
  ListNode* head() const { return head_; }
  ListNode* tail() const { return tail_; }

  // Puts node in front; with notify every cursor whose order is 0 or more
  // counts one more.
  void insNode(ListNode* node, bool notify = true);
  // Puts node at the end; with notify every cursor without a node whose order
  // is 0 or more counts one more.
  void addNode(ListNode* node, bool notify = true);
  // Appends / puts in front clones of o's nodes, in o's order.
  void addList(BaseList const& o);
  void insList(BaseList const& o);
  // Unlinks and destroys node (at position index): cursors on it move to the
  // next node (the previous one when it was the tail), later cursors count
  // one less. A list of one node is emptied with delAll.
  void delNode(ListNode* node, long index);
  void delFirst();
  void delLast();
  // Destroys every node; every cursor loses its node and is reset().
  void delAll();
  // Puts node at position n, replacing the node there, or padding with clones
  // of the null node when n lies outside the list (see the cursor rules).
  void setNode(ListNode* node, long n);
  // node itself, or the null node for a null node; without a null node that
  // is the fatal error "BaseList: NULLNODE required and not established!".
  ListNode* valNode(ListNode* node) const;
  // The node at position n, or null outside the list (walks from head).
  ListNode* nodeAt(long n) const;

protected:
  // Sets the node given for missing ones (owned; the old one is deleted).
  void setNullNode(ListNode* node);
  ListNode* nullNode() const { return nullNode_; }

private:
  friend class BaseListCursor;
  void link(BaseListCursor* c);
  void unlink(BaseListCursor* c);
  // Clone of the null node (through valNode, so a missing one is fatal).
  ListNode* nullClone() const;
  void linkFront(ListNode* node);
  void linkBack(ListNode* node);
  void takeFirstNode();

  int32_t count_;
  bool modif_;
  NodeFunc delete_;
  NodeFunc clone_;
  ListNode* nullNode_;
  BaseListCursor* cursors_;
  ListNode* head_;
  ListNode* tail_;
};

class BaseListCursor {
public:
  // No list, no node, order 0, not registered.
  BaseListCursor();
  // Registered with l, on its head with order 0 (no node on an empty list).
  explicit BaseListCursor(BaseList const& l);
  // Same list, node and order; registered.
  BaseListCursor(BaseListCursor const& o);
  virtual ~BaseListCursor();
  BaseListCursor& operator=(BaseListCursor const& o);
  // Registered with l, on its head with order 0.
  BaseListCursor& operator=(BaseList const& l);
  // Unregisters and forgets list, node and order.
  void clear();

  // Moves n nodes (negative: back); past either end the cursor loses its node
  // and keeps counting, and coming back within range puts it on a node again.
  virtual void next(long n);
  // Adds n to / takes n from order only (the list keeps positions right).
  virtual void inc(long n);
  virtual void dec(long n);
  // This cursor's order less o's.
  virtual long cmp(BaseListCursor const& o) const;
  // order 0; the node is left as it is.
  virtual void reset();

  void prev(long n) { next(-n); }
  BaseListCursor& operator++() { next(1); return *this; }
  BaseListCursor& operator--() { next(-1); return *this; }
  BaseListCursor& operator+=(long n) { next(n); return *this; }
  BaseListCursor& operator-=(long n) { next(-n); return *this; }

  // order = n; on the node at n when 0 <= n < count, else without a node.
  void goTo(long n);
  void goToFirst();
  void goToLast();
  bool isFirst() const { return node_ && list_ && node_ == list_->head_; }
  bool isLast() const { return node_ && list_ && node_ == list_->tail_; }
  bool operator!() const { return node_ == nullptr; }
  bool valid() const { return node_ != nullptr; }
  explicit operator bool() const { return node_ != nullptr; }
  long order() const { return order_; }
  ListNode* node() const { return node_; }
  BaseList* list() const { return list_; }
  BaseListCursor* nextCursor() const { return nextCur_; }
  // The list's valNode of the current node.
  ListNode* currNode() const;

  // Inserts p before / after the current node (setNode at order without one);
  // the cursor stays on its node.
  void insNode(ListNode* p);
  void addNode(ListNode* p);
  // The list's setNode at this cursor's order.
  void setNode(ListNode* p);
  // Deletes the current node (nothing without one).
  void del();
  // Clones of o's nodes after / before the current node, in o's order.
  void addList(BaseList const& o);
  void insList(BaseList const& o);

  // Puts the cursor on node with position order, without moving the node;
  // for list-aware code that moves cursors between lines of its own list.
  void place(ListNode* node, long order) {
    node_ = node;
    order_ = static_cast<int32_t>(order);
  }

protected:
  int32_t order_;
  ListNode* node_;
  BaseList* list_;

private:
  friend class BaseList;
  BaseListCursor* nextCur_;
  BaseListCursor* prevCur_;  // makes unregistering O(1)
};

// The free comparisons all go through the first cursor's virtual cmp.
inline long operator-(BaseListCursor const& a, BaseListCursor const& b) { return a.cmp(b); }
inline bool operator==(BaseListCursor const& a, BaseListCursor const& b) { return a.cmp(b) == 0; }
inline bool operator!=(BaseListCursor const& a, BaseListCursor const& b) { return a.cmp(b) != 0; }
inline bool operator<(BaseListCursor const& a, BaseListCursor const& b) { return a.cmp(b) < 0; }
inline bool operator>(BaseListCursor const& a, BaseListCursor const& b) { return a.cmp(b) > 0; }
inline bool operator<=(BaseListCursor const& a, BaseListCursor const& b) { return a.cmp(b) <= 0; }
inline bool operator>=(BaseListCursor const& a, BaseListCursor const& b) { return a.cmp(b) >= 0; }

// A list of untyped pointers (not owned); its null node holds a null pointer.
class BasePtrList : public BaseList {
public:
  BasePtrList();
  BasePtrList(BasePtrList const& o) : BaseList(o) {}
  BasePtrList& operator=(BasePtrList const& o) {
    BaseList::operator=(o);
    return *this;
  }
  void addNode(void* p) { BaseList::addNode(new PtrNode(p), true); }
  void insNode(void* p) { BaseList::insNode(new PtrNode(p), true); }
  void setNode(void* p, long n) { BaseList::setNode(new PtrNode(p), n); }
};

class BasePtrListCursor : public BaseListCursor {
public:
  BasePtrListCursor() {}
  explicit BasePtrListCursor(BasePtrList const& l) : BaseListCursor(l) {}
  void addNode(void* p) { BaseListCursor::addNode(new PtrNode(p)); }
  void insNode(void* p) { BaseListCursor::insNode(new PtrNode(p)); }
  void setNode(void* p) { BaseListCursor::setNode(new PtrNode(p)); }
  // The pointer of the current node (null outside the list).
  void* value() const { return static_cast<PtrNode*>(currNode())->ptr; }
};

// A list of String lines.
class StringList : public BaseList {
public:
  // No null node.
  StringList();
  // A null node holding nullLine: missing lines read as it.
  explicit StringList(String const& nullLine);
  StringList(StringList const& o) : BaseList(o) {}
  StringList& operator=(StringList const& o) {
    BaseList::operator=(o);
    return *this;
  }
  // Appends / puts in front a copy (cursors are told).
  void add(String const& s) { addNode(new StringN(s), true); }
  StringList& operator<<(String const& s) {
    add(s);
    return *this;
  }
  void ins(String const& s) { insNode(new StringN(s), true); }
  void add(StringList const& o) { addList(o); }
  StringList& operator+=(StringList const& o) {
    addList(o);
    return *this;
  }
  void ins(StringList const& o) { insList(o); }
  // Copies of the first / last line (the null node's line when empty).
  String first() const;
  String last() const;
};

class StringListCursor : public BaseListCursor {
public:
  StringListCursor() {}
  explicit StringListCursor(StringList const& l) : BaseListCursor(l) {}
  // The line of the current node (the null node's outside the list).
  String& value() const { return static_cast<StringN*>(currNode())->str; }
  String& operator*() const { return value(); }
  String* operator->() const { return &value(); }
  // A copy after / before the current node; set replaces it.
  void add(String const& s) { addNode(new StringN(s)); }
  void ins(String const& s) { insNode(new StringN(s)); }
  void set(String const& s) { setNode(new StringN(s)); }
  void add(StringList const& o) { addList(o); }
  void ins(StringList const& o) { insList(o); }
};
