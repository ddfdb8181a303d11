// Resource: the reference count of shared objects. unRef() deletes the
// object through its virtual destructor when the last holder lets go; the
// destructor leaves the count at -1 so that a stale holder is caught.
#include <zfound/Assert.h>
#include <zfound/Resource.h>

Resource::~Resource() { refcount = -1; }

void Resource::unRef() {
  if (!ZF_ASSERT_TEXT(refcount > 0, "refcount > 0")) return;  // reached only without a fatal handler: keep the object alive
  if (--refcount == 0) delete this;
}
