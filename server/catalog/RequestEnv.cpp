// RequestEnv: the defaults of the server services that requests use, and
// the request answers (see RequestEnv.h).
#include <svcatalog/RequestEnv.h>

#include <sindex/SvIndex.h>
#include <svcatalog/SvCursor.h>
#include <svcatalog/SvTable.h>
#include <svobject/Client.h>
#include <svobject/SvObject.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>

#include <memory>

namespace svcatalog {

namespace {
RequestServices defaults;
RequestServices* installed = nullptr;
}  // namespace

bool RequestServices::canAttach(Client* c) { return c == nullptr || c->canAttach(); }

void RequestServices::addObject(Client* c, SvObject* o) {
  if (c != nullptr && o != nullptr)
    c->addObject(o);
}

bool RequestServices::delObject(Client* c, SvObject* o) { return c != nullptr && o != nullptr && c->delObject(o) == 0; }

bool RequestServices::hold(Client*, std::function<long(Client*)>, int32_t) { return false; }

SvObject* RequestServices::newCursor(Client* c, SvTable* t, int32_t index, int32_t mode, int32_t limit) {
  SvIndex* ix = t != nullptr ? t->index(index) : nullptr;
  if (ix == nullptr) {
    Exception::last(InvalidIndexNum(index));
    return nullptr;
  }
  (void)c;  // the schema registers it with the client (addObject)
  return new SvCursor(t, ix, mode, limit);
}

bool RequestServices::checkVersion(int32_t&) { return true; }
int32_t RequestServices::lockWait() { return 0; }

SvObject* RequestServices::newCopy(Client*, SvTable*, SvTable*) {
  Exception::last(InvalidData(String("table copies are not served")));
  return nullptr;
}

RequestServices& RequestEnv::services() { return installed != nullptr ? *installed : defaults; }
void RequestEnv::install(RequestServices* s) { installed = s; }

long failWith(Exception const& e) {
  Exception::last(e);
  if (SvObject::con != nullptr)
    SvObject::con->setRetValue(-1);
  return -1;
}

long abortWith(Client* c, Exception const& e) {
  if (SvObject::port() != nullptr) {
    Exception::last(Exception(0));
    SvObject::replyAbort(c, e);
    return -1;
  }
  Exception::last(e);
  if (SvObject::con != nullptr)
    SvObject::con->setRetValue(-1);
  if (c != nullptr && c->hasTrans() && !c->transAborted())
    c->abortTrans(e);
  return -1;
}

long abortPending(Client* c) {
  Exception& e = Exception::last();
  if (Locked const* l = e.getLocked()) {
    ModLocked m(l->owner());
    return abortWith(c, m);
  }
  if (e.code() == 0)
    return abortWith(c, InvalidData(String("request refused")));
  std::unique_ptr<Exception> keep(e.clone());
  return abortWith(c, *keep);
}

long answer(Client* c, long v) {
  SvObject::reply(c, int32_t(v));
  if (SvObject::con != nullptr)
    SvObject::con->setRetValue(int32_t(v));
  return v;
}

bool errorPending() { return Exception::last().code() != 0; }

}  // namespace svcatalog
