// The object-id kind of AnyValue: the two unsigned words of an ObjectId held
// as two 32-bit values, class id first. An id is null only when both words
// are 0 (AnyValue::isNull).
#include <zfound/AnyValue.h>
#include <zfound/ObjectId.h>

AnyValue::AnyValue(ObjectId const& id) : ty(T_OBJID) {
  setLongs(int32_t(id.classId()), int32_t(id.instId()));
}

ObjectId toObjectId(AnyValue const& av) {
  AnyValue const& v = av.deref();
  if (v.getType() != AnyValue::T_OBJID) return ObjectId();
  return ObjectId(uint32_t(v.x()), uint32_t(v.y()));
}
