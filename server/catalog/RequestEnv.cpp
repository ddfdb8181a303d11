// RequestEnv: the defaults of the server services that requests use, and
// the request answers (see RequestEnv.h).
#include <svcatalog/RequestEnv.h>

#include <svobject/Client.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

#include <memory>

namespace svcatalog {

namespace {
RequestServices defaults;
RequestServices* installed = nullptr;
}  // namespace

bool RequestServices::canAttach(Client*) { return true; }
void RequestServices::addObject(Client*, SvObject*) {}
bool RequestServices::delObject(Client*, SvObject*) { return false; }
bool RequestServices::checkVersion(int32_t&) { return true; }
int32_t RequestServices::lockWait() { return 0; }
bool RequestServices::hold(Client*, std::function<long(Client*)>, int32_t) { return false; }

SvObject* RequestServices::newCursor(Client*, SvTable*, int32_t, int32_t, int32_t) {
  Exception::last(InvalidData(String("cursors are not served")));
  return nullptr;
}

SvObject* RequestServices::newCopy(Client*, SvTable*, SvTable*) {
  Exception::last(InvalidData(String("table copies are not served")));
  return nullptr;
}

RequestServices& RequestEnv::services() { return installed != nullptr ? *installed : defaults; }
void RequestEnv::install(RequestServices* s) { installed = s; }

long replyError(Exception const& e) {
  Exception::last(e);
  return -1;
}

long replyAbort(Client* c, Exception const& e) {
  Exception::last(e);
  if (c != nullptr && c->hasTrans() && !c->transAborted())
    c->abortTrans(e);
  return -1;
}

long replyAbortPending(Client* c) {
  Exception& e = Exception::last();
  if (Locked const* l = e.getLocked()) {
    ModLocked m(l->owner());
    return replyAbort(c, m);
  }
  if (e.code() == 0)
    return replyAbort(c, InvalidData(String("request refused")));
  std::unique_ptr<Exception> keep(e.clone());
  return replyAbort(c, *keep);
}

long replyValue(long v) {
  Exception& e = Exception::last();
  if (e.code() != 0) {
    String line = String("SvObject::reply() found exception: ") + e.message();
    warning(String("%S"), &line);
    Exception::last(Exception(0));
  }
  return v;
}

bool errorPending() { return Exception::last().code() != 0; }

}  // namespace svcatalog
