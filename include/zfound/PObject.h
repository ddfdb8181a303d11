// PObject: the base of the server's persistent catalog objects, and the
// process-wide registry that turns an ObjectId into the object it names.
//
// Invariants:
//  - every object that is not temporary is registered in PObject::hashtab
//    under its id from construction (or its last setOid) to destruction;
//    temporary objects are never registered, so several may share an id;
//  - no two registered objects carry the same id;
//  - the table is created at the first registration (about 64 entries, 97
//    buckets) and does not own the objects it lists.
#pragma once

#include <zfound/HashTab.h>
#include <zfound/ObjectId.h>

#include <cstdint>

ZF_PTRHASHTAB(PObject);

class PObject {
public:
  // Sets the id and the flag; unless temp, registers the object (asserting
  // "hashtab->find(this) == (0)": no object with this id is registered).
  PObject(uint32_t classId, uint32_t instId, bool temp);
  PObject(ObjectId const& id, bool temp);
  // Unregisters a registered object.
  virtual ~PObject();
  PObject(PObject const&) = delete;
  PObject& operator=(PObject const&) = delete;

  // The registered object with this id, or null (also before any object
  // was registered).
  static PObject* find(ObjectId const& id);
  // A registered object is re-keyed under the new id (asserting
  // "hashtab != (0)" and "hashtab->find(this) != (0)"); a temporary one
  // keeps its id.
  void setOid(ObjectId const& id);

  ObjectId const& oid() const { return oid_; }
  uint32_t classId() const { return oid_.classId(); }
  uint32_t instId() const { return oid_.instId(); }
  bool isTemp() const { return temp_; }

  // The table's functions; each receives the address of an element pointer.
  // cmp: 0 when both ids are equal, 1 otherwise.
  static long cmp(void const* a, void const* b);
  // ((class id << 16) + instance id) modulo `modulo`, in 32-bit arithmetic.
  static long hash(void const* a, long modulo);

  // The registry (null until the first registration).
  static PObjectPtrHashTab* hashtab;

private:
  // Registers this object when the id is free.
  void enter();
  // Unregisters this object when it is the one registered under its id.
  void leave();

  ObjectId oid_;  // the object's id
  bool temp_;     // temporary: never registered
};
