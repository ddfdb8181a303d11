// Resource: the reference-counted base of objects shared by several holders
// (such as open message catalogue files). A new object has count 0; each
// holder calls ref() and, when it lets go, unRef(); the object deletes itself
// when the count returns to 0. The destructor leaves the count at -1.
// Copying is forbidden: no shared object is ever copied.
#pragma once

#include <cstdint>

class Resource {
public:
  Resource() : id(0), refcount(0) {}
  Resource(Resource const&) = delete;
  Resource& operator=(Resource const&) = delete;
  virtual ~Resource();

  // Adds one holder.
  void ref() { ++refcount; }
  // Drops one holder (asserts "refcount > 0"); deletes the object at 0.
  void unRef();
  // ref() / unRef() on a pointer that may be null (null is ignored).
  static void ref(Resource* r) { if (r) r->ref(); }
  static void unRef(Resource* r) { if (r) r->unRef(); }
  // The current number of holders.
  int32_t count() const { return refcount; }

  // Debugging identity hooks; they do nothing.
  void idCheck() {}
  void idStart() {}
  void idStop() {}

protected:
  int32_t id;        // debugging identity slot
  int32_t refcount;  // number of holders
};
