// ObjectId: the identifier of a persistent server object (a table, a table
// representation, an index, a key part, a field, a schema).
//
// Invariants:
//  - two unsigned 32-bit words, the class id then the instance id;
//  - the null id has both words 0 (and only that id is null); the highest id
//    has both words all ones: MAX_DBOBJECT, the object id of the plain-function
//    interface (DbObject, below), which converts to an ObjectId;
//  - the stored form is 8 bytes, each word most significant byte first;
//    on a Connection the two words travel as two longs, class id first;
//  - ids are ordered by class id, then instance id, both unsigned, so ids
//    far apart still order correctly.
#pragma once

#include <cstdint>
#include <cstdio>

class String;
class Connection;
class PObject;

// --- object ids of the plain-function interface ---------------------------------
// The same pair of words as a plain struct, with its comparisons and text
// forms, for code of the plain-function interface.
struct DbObject {
  uint32_t classId;
  uint32_t instId;
};
inline constexpr DbObject MIN_DBOBJECT{0u, 0u};
inline constexpr DbObject MAX_DBOBJECT{0xFFFFFFFFu, 0xFFFFFFFFu};
inline constexpr DbObject NULL_DBOBJECT{0u, 0u};
bool __eq(DbObject const& a, DbObject const& b);
bool __ne(DbObject const& a, DbObject const& b);
bool _isMinDbObject(DbObject const& a);
bool _isMaxDbObject(DbObject const& a);
bool _isNullDbObject(DbObject const& a);
// True when (a1, a2) and (b1, b2) are the same pair.
bool DbObjectCmp(uint32_t a1, uint32_t a2, uint32_t b1, uint32_t b2);

extern "C" {
// Text to object id: "%08X.%08X" (one to eight hexadecimal digits each);
// a null pointer, an empty or unreadable text the null id (0, 0); the
// pointer 1 or "(high value)" the highest id.
DbObject StrToObj(char const* s);
// The text of an object id into buffer (at least 18 bytes): the empty text
// for the null id, "(high value)" for the highest.
char* ObjToStr(DbObject id, char* buffer);
}

class ObjectId {
public:
  // Bytes of the stored form.
  static constexpr int32_t kStoreLength = 8;

  // The null id.
  ObjectId() : classId_(0), instId_(0) {}
  // The id (classId, instId).
  ObjectId(uint32_t classId, uint32_t instId) : classId_(classId), instId_(instId) {}
  // The same pair as an object id of the plain-function interface.
  ObjectId(DbObject const& o) : classId_(o.classId), instId_(o.instId) {}
  ObjectId(ObjectId const& o) = default;
  // Class id 0, instance id the integer value of the text (toInt, base 0).
  explicit ObjectId(String const& s);

  // Copies both words.
  ObjectId& operator=(ObjectId const& o) = default;

  // Both words equal.
  bool operator==(ObjectId const& o) const { return classId_ == o.classId_ && instId_ == o.instId_; }
  bool operator!=(ObjectId const& o) const { return !(*this == o); }
  // True for the null id (both words 0).
  bool operator!() const { return isNull(); }
  bool isNull() const { return classId_ == 0 && instId_ == 0; }
  // Null for the null id, non-null otherwise.
  operator void*() const { return isNull() ? nullptr : const_cast<ObjectId*>(this); }

  uint32_t classId() const { return classId_; }
  uint32_t instId() const { return instId_; }
  void setClassId(uint32_t c) { classId_ = c; }
  void setInstId(uint32_t i) { instId_ = i; }

  // -1, 0 or 1: class ids compared first, then instance ids, as unsigned
  // values.
  friend int32_t cmp(ObjectId const& a, ObjectId const& b);

  // 8, the bytes of the stored form.
  static int32_t storeLength() { return kStoreLength; }
  // Writes the stored form at p; p advances by 8.
  void store(char*& p) const;
  // Reads the stored form at p; p advances by 8.
  void load(char const*& p);
  // Writes the two words to f, class id first; true when both were written.
  bool store(FILE* f) const;
  // Reads the two words from f; on a short read the id becomes null and
  // false is returned (ldFailed(f) is then true).
  bool load(FILE* f);

  // The registered persistent object with this id (PObject::find), or null.
  PObject* operator*() const;
  PObject* operator->() const;

private:
  uint32_t classId_;  // class id
  uint32_t instId_;   // instance id
};

// ObjectId(s).
ObjectId toObjectId(String const& s);

// The text form in one static buffer, overwritten by every call:
// "%08X.%08X" of class id and instance id, "" for the null id and
// "(high value)" for the highest id.
char const* toCharPtr(ObjectId const& id);

// Sends the class id, then the instance id, each as one long.
Connection& operator<<(Connection& c, ObjectId const& id);
// Reads them in the same order.
Connection& operator>>(Connection& c, ObjectId& id);
