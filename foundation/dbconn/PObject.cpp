// The persistent-object registry: one process-wide hash table of the
// registered PObjects keyed by their ObjectId.
//
// Invariant: an object is in the table exactly while it is not temporary and
// the table's element for its id is the object itself. A duplicate id (a
// failed assertion that returned) leaves the newcomer unregistered, so the
// object already registered under that id stays findable and is never
// unregistered by the newcomer's destruction.
#include <zfound/PObject.h>

#include <zfound/Assert.h>

PObjectPtrHashTab* PObject::hashtab = nullptr;

namespace {
// The requested size of the registry (97 buckets).
constexpr int kRegistrySize = 64;
}  // namespace

long PObject::cmp(void const* a, void const* b) {
  PObject const* x = *static_cast<PObject* const*>(a);
  PObject const* y = *static_cast<PObject* const*>(b);
  return x->oid_ == y->oid_ ? 0 : 1;
}

long PObject::hash(void const* a, long modulo) {
  if (modulo <= 0) return 0;
  PObject const* x = *static_cast<PObject* const*>(a);
  uint32_t h = (x->oid_.classId() << 16) + x->oid_.instId();
  return static_cast<long>(h % static_cast<uint32_t>(modulo));
}

PObject::PObject(uint32_t classId, uint32_t instId, bool temp) : oid_(classId, instId), temp_(temp) {
  if (!temp_) enter();
}

PObject::PObject(ObjectId const& id, bool temp) : oid_(id), temp_(temp) {
  if (!temp_) enter();
}

PObject::~PObject() {
  if (!temp_) leave();
}

void PObject::enter() {
  if (hashtab == nullptr) hashtab = new PObjectPtrHashTab(kRegistrySize, &PObject::cmp, &PObject::hash);
  if (!ZF_ASSERT_TEXT(hashtab->find(this) == nullptr, "hashtab->find(this) == (0)")) return;
  hashtab->add(this);
}

void PObject::leave() {
  if (hashtab != nullptr && hashtab->find(this) == this) hashtab->del(this);
}

PObject* PObject::find(ObjectId const& id) {
  if (hashtab == nullptr) return nullptr;
  PObject key(id, true);
  return hashtab->find(&key);
}

void PObject::setOid(ObjectId const& id) {
  if (temp_) return;
  if (!ZF_ASSERT(hashtab != nullptr)) return;
  if (!ZF_ASSERT(hashtab->find(this) == this)) return;
  hashtab->del(this);
  oid_ = id;
  enter();
}
