// ObjectId: stored, stream, text and channel forms, and the look-up of the
// registered object an id names.
#include <zfound/ObjectId.h>

#include <zfound/Connection.h>
#include <zfound/Format.h>
#include <zfound/PObject.h>
#include <zfound/Portable.h>
#include <zfound/String.h>

ObjectId::ObjectId(String const& s) : classId_(0), instId_(static_cast<uint32_t>(toInt(s, 0))) {}

ObjectId toObjectId(String const& s) { return ObjectId(s); }

int32_t cmp(ObjectId const& a, ObjectId const& b) {
  if (a.classId_ != b.classId_) return a.classId_ < b.classId_ ? -1 : 1;
  if (a.instId_ != b.instId_) return a.instId_ < b.instId_ ? -1 : 1;
  return 0;
}

void ObjectId::store(char*& p) const {
  stlong(static_cast<int32_t>(classId_), p);
  stlong(static_cast<int32_t>(instId_), p + 4);
  p += kStoreLength;
}

void ObjectId::load(char const*& p) {
  classId_ = static_cast<uint32_t>(ldlong(p));
  instId_ = static_cast<uint32_t>(ldlong(p + 4));
  p += kStoreLength;
}

bool ObjectId::store(FILE* f) const {
  bool ok = stInt(f, static_cast<int32_t>(classId_));
  return stInt(f, static_cast<int32_t>(instId_)) && ok;
}

bool ObjectId::load(FILE* f) {
  uint32_t c = static_cast<uint32_t>(ldInt(f));
  uint32_t i = static_cast<uint32_t>(ldInt(f));
  if (ldFailed(f)) {
    classId_ = instId_ = 0;
    return false;
  }
  classId_ = c;
  instId_ = i;
  return true;
}

PObject* ObjectId::operator*() const { return PObject::find(*this); }
PObject* ObjectId::operator->() const { return PObject::find(*this); }

char const* toCharPtr(ObjectId const& id) {
  static char text[24];
  if (id.isNull()) {
    text[0] = '\0';
  } else if (id == ObjectId(MAX_DBOBJECT)) {
    zfSnprintf(text, sizeof text, "%s", "(high value)");
  } else {
    zfSnprintf(text, sizeof text, "%08X.%08X", static_cast<unsigned>(id.classId()),
               static_cast<unsigned>(id.instId()));
  }
  return text;
}

Connection& operator<<(Connection& c, ObjectId const& id) {
  c << static_cast<int32_t>(id.classId());
  c << static_cast<int32_t>(id.instId());
  return c;
}

Connection& operator>>(Connection& c, ObjectId& id) {
  int32_t cls = 0, inst = 0;
  c >> cls >> inst;
  id = ObjectId(static_cast<uint32_t>(cls), static_cast<uint32_t>(inst));
  return c;
}
