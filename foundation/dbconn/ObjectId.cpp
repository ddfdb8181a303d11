// ObjectId: stored, stream, text and channel forms, and the look-up of the
// registered object an id names; the plain-function DbObject's comparisons
// and text forms.
#include <zfound/ObjectId.h>

#include <zfound/CharClass.h>
#include <zfound/Connection.h>
#include <zfound/Format.h>
#include <zfound/PObject.h>
#include <zfound/Portable.h>
#include <zfound/String.h>

#include <cstring>

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

// --- object ids of the plain-function interface ----------------------------

bool __eq(DbObject const& a, DbObject const& b) { return a.classId == b.classId && a.instId == b.instId; }
bool __ne(DbObject const& a, DbObject const& b) { return !__eq(a, b); }
bool _isMinDbObject(DbObject const& a) { return __eq(a, MIN_DBOBJECT); }
bool _isMaxDbObject(DbObject const& a) { return __eq(a, MAX_DBOBJECT); }
bool _isNullDbObject(DbObject const& a) { return __eq(a, NULL_DBOBJECT); }
bool DbObjectCmp(uint32_t a1, uint32_t a2, uint32_t b1, uint32_t b2) { return a1 == b1 && a2 == b2; }

extern "C" {

DbObject StrToObj(char const* s) {
  if (s == nullptr) return NULL_DBOBJECT;
  bool high = s == reinterpret_cast<char const*>(1) || strcmp(s, "(high value)") == 0;
  if (high) return MAX_DBOBJECT;
  uint32_t words[2] = {0, 0};
  char const* p = s;
  while (*p == ' ') ++p;
  for (int w = 0; w < 2; ++w) {
    int n = 0;
    for (;; ++p, ++n) {
      int v = hexDigitValue(*p);
      if (v < 0) break;
      if (n == 8) return NULL_DBOBJECT;
      words[w] = words[w] << 4 | uint32_t(v);
    }
    if (n == 0) return NULL_DBOBJECT;
    if (w == 0) {
      if (*p != '.') return NULL_DBOBJECT;
      ++p;
    }
  }
  while (*p == ' ') ++p;
  if (*p != '\0') return NULL_DBOBJECT;
  return DbObject{words[0], words[1]};
}

char* ObjToStr(DbObject id, char* buffer) {
  if (_isNullDbObject(id)) {
    buffer[0] = '\0';
  } else if (_isMaxDbObject(id)) {
    strcpy(buffer, "(high value)");
  } else {
    static char const digits[] = "0123456789ABCDEF";
    uint32_t words[2] = {id.classId, id.instId};
    char* p = buffer;
    for (int w = 0; w < 2; ++w) {
      for (int shift = 28; shift >= 0; shift -= 4) *p++ = digits[(words[w] >> shift) & 15];
      if (w == 0) *p++ = '.';
    }
    *p = '\0';
  }
  return buffer;
}

}  // extern "C"
