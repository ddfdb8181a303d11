// The line lists and their cursors: ring operations and the notification of
// registered cursors on every insertion and deletion.
#include <winkit/List.h>

#include <zfound/Message.h>

namespace {

ListNode* deletePtrNode(ListNode* n) {
  delete static_cast<PtrNode*>(n);
  return nullptr;
}
ListNode* clonePtrNode(ListNode* n) { return new PtrNode(static_cast<PtrNode*>(n)->ptr); }

ListNode* deleteStringNode(ListNode* n) {
  delete static_cast<StringN*>(n);
  return nullptr;
}
ListNode* cloneStringNode(ListNode* n) { return new StringN(static_cast<StringN*>(n)->str); }

}  // namespace

// ---- BaseList -------------------------------------------------------------

BaseList::BaseList(NodeFunc deleteNode, NodeFunc cloneNode)
    : count_(0), modif_(false), delete_(deleteNode), clone_(cloneNode), nullNode_(nullptr), cursors_(nullptr),
      head_(nullptr), tail_(nullptr) {}

BaseList::BaseList(BaseList const& o)
    : count_(0), modif_(false), delete_(o.delete_), clone_(o.clone_), nullNode_(nullptr), cursors_(nullptr),
      head_(nullptr), tail_(nullptr) {
  if (o.nullNode_) nullNode_ = clone_(o.nullNode_);
  addList(o);
  modif_ = false;
}

BaseList& BaseList::operator=(BaseList const& o) {
  if (this != &o) {
    delAll();
    addList(o);
  }
  return *this;
}

BaseList::~BaseList() {
  delAll();
  if (nullNode_) delete_(nullNode_);
  // Cursors that outlive the list are detached so they never reach it again.
  for (BaseListCursor* c = cursors_; c;) {
    BaseListCursor* n = c->nextCur_;
    c->list_ = nullptr;
    c->node_ = nullptr;
    c->nextCur_ = c->prevCur_ = nullptr;
    c = n;
  }
  cursors_ = nullptr;
}

void BaseList::setNullNode(ListNode* node) {
  if (nullNode_) delete_(nullNode_);
  nullNode_ = node;
}

void BaseList::link(BaseListCursor* c) {
  c->prevCur_ = nullptr;
  c->nextCur_ = cursors_;
  if (cursors_) cursors_->prevCur_ = c;
  cursors_ = c;
}

// O(1): a text with many zones registers and drops cursors all the time.
void BaseList::unlink(BaseListCursor* c) {
  if (c->prevCur_)
    c->prevCur_->nextCur_ = c->nextCur_;
  else if (cursors_ == c)
    cursors_ = c->nextCur_;
  if (c->nextCur_) c->nextCur_->prevCur_ = c->prevCur_;
  c->nextCur_ = c->prevCur_ = nullptr;
}

void BaseList::linkFront(ListNode* node) {
  if (!head_) {
    node->next = node->prev = node;
    head_ = tail_ = node;
  } else {
    node->next = head_;
    node->prev = tail_;
    head_->prev = node;
    tail_->next = node;
    head_ = node;
  }
  ++count_;
  modif_ = true;
}

void BaseList::linkBack(ListNode* node) {
  if (!head_) {
    node->next = node->prev = node;
    head_ = tail_ = node;
  } else {
    node->prev = tail_;
    node->next = head_;
    tail_->next = node;
    head_->prev = node;
    tail_ = node;
  }
  ++count_;
  modif_ = true;
}

void BaseList::insNode(ListNode* node, bool notify) {
  bool wasEmpty = head_ == nullptr;
  linkFront(node);
  if (wasEmpty)
    takeFirstNode();
  else if (notify)
    for (BaseListCursor* c = cursors_; c; c = c->nextCur_)
      if (c->order_ >= 0) c->inc(1);
}

// The first node of a list that was empty: cursors waiting at position 0 get
// it, so that no cursor stands without a node on a position that exists.
void BaseList::takeFirstNode() {
  for (BaseListCursor* c = cursors_; c; c = c->nextCur_)
    if (!c->node_ && c->order_ == 0) c->node_ = head_;
}

void BaseList::addNode(ListNode* node, bool notify) {
  bool wasEmpty = head_ == nullptr;
  linkBack(node);
  if (wasEmpty)
    takeFirstNode();
  else if (notify)
    for (BaseListCursor* c = cursors_; c; c = c->nextCur_)
      if (!c->node_ && c->order_ >= 0) c->inc(1);
}

void BaseList::addList(BaseList const& o) {
  if (&o == this) return;
  ListNode* n = o.head_;
  for (int32_t i = 0; i < o.count_; ++i, n = n->next) addNode(clone_(n), true);
}

void BaseList::insList(BaseList const& o) {
  if (&o == this) return;
  ListNode* n = o.tail_;
  for (int32_t i = 0; i < o.count_; ++i, n = n->prev) insNode(clone_(n), true);
}

void BaseList::delNode(ListNode* node, long index) {
  if (!head_ || !node) return;
  if (count_ == 1) {
    delAll();
    return;
  }
  bool wasTail = node == tail_;
  ListNode* repl = wasTail ? node->prev : node->next;
  node->prev->next = node->next;
  node->next->prev = node->prev;
  if (node == head_) head_ = node->next;
  if (wasTail) tail_ = node->prev;
  --count_;
  modif_ = true;
  for (BaseListCursor* c = cursors_; c; c = c->nextCur_) {
    if (c->node_ == node) {
      c->node_ = repl;
      if (repl == tail_) c->order_ = count_ - 1;
    } else if (c->order_ > index) {
      c->dec(1);
    }
  }
  delete_(node);
}

void BaseList::delFirst() { delNode(head_, 0); }

void BaseList::delLast() { delNode(tail_, count_); }

void BaseList::delAll() {
  ListNode* n = head_;
  for (int32_t i = 0; i < count_; ++i) {
    ListNode* nx = n->next;
    delete_(n);
    n = nx;
  }
  head_ = tail_ = nullptr;
  count_ = 0;
  modif_ = true;
  for (BaseListCursor* c = cursors_; c; c = c->nextCur_) {
    c->node_ = nullptr;
    c->reset();
  }
}

ListNode* BaseList::valNode(ListNode* node) const {
  if (node) return node;
  if (!nullNode_) error(String("BaseList: NULLNODE required and not established!"));
  return nullNode_;
}

ListNode* BaseList::nullClone() const {
  ListNode* n = valNode(nullptr);
  return n ? clone_(n) : nullptr;
}

ListNode* BaseList::nodeAt(long n) const {
  if (n < 0 || n >= count_) return nullptr;
  ListNode* p;
  if (n <= count_ / 2) {
    p = head_;
    for (long i = 0; i < n; ++i) p = p->next;
  } else {
    p = tail_;
    for (long i = count_ - 1; i > n; --i) p = p->prev;
  }
  return p;
}

void BaseList::setNode(ListNode* node, long n) {
  modif_ = true;
  if (count_ > 0 && n >= 0 && n < count_) {
    ListNode* old = nodeAt(n);
    if (count_ == 1) {
      node->next = node->prev = node;
      head_ = tail_ = node;
    } else {
      node->next = old->next;
      node->prev = old->prev;
      old->prev->next = node;
      old->next->prev = node;
      if (old == head_) head_ = node;
      if (old == tail_) tail_ = node;
    }
    for (BaseListCursor* c = cursors_; c; c = c->nextCur_)
      if (c->node_ == old) c->node_ = node;
    delete_(old);
    return;
  }
  if (n > 0) {
    while (count_ < n) {
      ListNode* pad = nullClone();
      if (!pad) {  // no null node: the fatal report returned (no handler)
        delete_(node);
        return;
      }
      linkBack(pad);
    }
    linkBack(node);
  } else {
    for (long i = 0; i < -n - 1; ++i) {
      ListNode* pad = nullClone();
      if (!pad) {
        delete_(node);
        return;
      }
      linkFront(pad);
    }
    linkFront(node);
    for (BaseListCursor* c = cursors_; c; c = c->nextCur_) {
      if (c->node_)
        c->inc(-n);
      else if (c->order_ >= n && c->order_ <= -1)
        c->order_ = static_cast<int32_t>(c->order_ - n);
    }
  }
  for (BaseListCursor* c = cursors_; c; c = c->nextCur_)
    if (!c->node_ && c->order_ >= 0 && c->order_ < count_) c->goTo(c->order_);
}

// ---- BaseListCursor -------------------------------------------------------

BaseListCursor::BaseListCursor() : order_(0), node_(nullptr), list_(nullptr), nextCur_(nullptr), prevCur_(nullptr) {}

BaseListCursor::BaseListCursor(BaseList const& l)
    : order_(0), node_(l.head_), list_(const_cast<BaseList*>(&l)), nextCur_(nullptr), prevCur_(nullptr) {
  list_->link(this);
}

BaseListCursor::BaseListCursor(BaseListCursor const& o)
    : order_(o.order_), node_(o.node_), list_(o.list_), nextCur_(nullptr), prevCur_(nullptr) {
  if (list_) list_->link(this);
}

BaseListCursor::~BaseListCursor() {
  if (list_) list_->unlink(this);
}

BaseListCursor& BaseListCursor::operator=(BaseListCursor const& o) {
  if (this == &o) return *this;
  if (list_) list_->unlink(this);
  list_ = o.list_;
  node_ = o.node_;
  order_ = o.order_;
  if (list_) list_->link(this);
  return *this;
}

BaseListCursor& BaseListCursor::operator=(BaseList const& l) {
  if (list_) list_->unlink(this);
  list_ = const_cast<BaseList*>(&l);
  node_ = l.head_;
  order_ = 0;
  list_->link(this);
  return *this;
}

void BaseListCursor::clear() {
  if (list_) list_->unlink(this);
  list_ = nullptr;
  node_ = nullptr;
  order_ = 0;
}

void BaseListCursor::next(long n) {
  if (!list_ || !node_) {
    goTo(order_ + n);
    return;
  }
  bool fell = false;
  if (n < 0) {
    for (long i = 0; i < -n; ++i) {
      if (node_ == list_->head_) {
        fell = true;
        break;
      }
      node_ = node_->prev;
    }
  } else {
    for (long i = 0; i < n; ++i) {
      if (node_ == list_->tail_) {
        fell = true;
        break;
      }
      node_ = node_->next;
    }
  }
  order_ = static_cast<int32_t>(order_ + n);
  if (fell) node_ = nullptr;
}

void BaseListCursor::inc(long n) { order_ = static_cast<int32_t>(order_ + n); }

void BaseListCursor::dec(long n) { order_ = static_cast<int32_t>(order_ - n); }

long BaseListCursor::cmp(BaseListCursor const& o) const { return static_cast<long>(order_) - o.order_; }

void BaseListCursor::reset() { order_ = 0; }

void BaseListCursor::goTo(long n) {
  order_ = static_cast<int32_t>(n);
  node_ = list_ ? list_->nodeAt(n) : nullptr;
}

void BaseListCursor::goToFirst() {
  if (!list_) return;
  node_ = list_->head_;
  order_ = 0;
}

void BaseListCursor::goToLast() {
  if (!list_) return;
  node_ = list_->tail_;
  order_ = list_->count_ - 1;
}

ListNode* BaseListCursor::currNode() const {
  if (!list_) return nullptr;
  return list_->valNode(node_);
}

void BaseListCursor::insNode(ListNode* p) {
  if (!list_) return;
  if (!node_) {
    setNode(p);
    return;
  }
  if (node_ == list_->head_) {
    list_->insNode(p, true);
    return;
  }
  p->next = node_;
  p->prev = node_->prev;
  node_->prev->next = p;
  node_->prev = p;
  ++list_->count_;
  list_->modif_ = true;
  int32_t from = order_;
  for (BaseListCursor* c = list_->cursors_; c; c = c->nextCur_)
    if (c->order_ >= from) c->inc(1);
}

void BaseListCursor::addNode(ListNode* p) {
  if (!list_) return;
  if (!node_) {
    setNode(p);
    return;
  }
  if (node_ == list_->tail_) {
    list_->addNode(p, true);
    return;
  }
  p->prev = node_;
  p->next = node_->next;
  node_->next->prev = p;
  node_->next = p;
  ++list_->count_;
  list_->modif_ = true;
  int32_t from = order_ + 1;
  for (BaseListCursor* c = list_->cursors_; c; c = c->nextCur_)
    if (c->order_ >= from) c->inc(1);
}

void BaseListCursor::setNode(ListNode* p) {
  if (list_) list_->setNode(p, order_);
}

void BaseListCursor::del() {
  if (list_ && node_) list_->delNode(node_, order_);
}

void BaseListCursor::addList(BaseList const& o) {
  if (!list_ || &o == list_) return;
  ListNode* n = o.tail_;
  for (int32_t i = 0; i < o.count_; ++i, n = n->prev) addNode(list_->clone_(n));
}

void BaseListCursor::insList(BaseList const& o) {
  if (!list_ || &o == list_) return;
  ListNode* n = o.head_;
  for (int32_t i = 0; i < o.count_; ++i, n = n->next) insNode(list_->clone_(n));
}

// ---- typed lists ----------------------------------------------------------

BasePtrList::BasePtrList() : BaseList(deletePtrNode, clonePtrNode) { setNullNode(new PtrNode(nullptr)); }

StringList::StringList() : BaseList(deleteStringNode, cloneStringNode) {}

StringList::StringList(String const& nullLine) : BaseList(deleteStringNode, cloneStringNode) {
  setNullNode(new StringN(nullLine));
}

String StringList::first() const { return static_cast<StringN*>(valNode(head()))->str; }

String StringList::last() const { return static_cast<StringN*>(valNode(tail()))->str; }
