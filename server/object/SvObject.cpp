// Server objects: the registry, ids, message attributes and names, the
// table from message code to operation, and the default answer.
#include <svobject/SvObject.h>

#include <svobject/Client.h>

#include <zfound/Assert.h>
#include <zfound/Connection.h>
#include <zfound/Exception.h>
#include <zfound/Message.h>

#include <memory>

std::vector<GServObj*>* GServObj::objects_ = nullptr;
int32_t GServObj::nObjects_ = 0;
Connection* SvObject::con = nullptr;
SvReplyPort* SvObject::port_ = nullptr;
bool SvObject::replyStarted_ = false;
int32_t SvObject::replyClient_ = -1;

namespace {

enum : uint32_t { kVoid = 1, kEnds = 2, kConnect = 4, kStop = 8, kDisconnect = 16, kModify = 32 };

struct MsgRow {
  char const* name;
  uint32_t attrs;
  GServObj::Op op;
};

MsgRow const kRows[DBM_LASTMSG] = {
    {"Attach", 0, &GServObj::attach},
    {"Detach", 0, &GServObj::detach},
    {"Lock", 0, &GServObj::lock},
    {"Free", kVoid, &GServObj::free},
    {"Clear", kModify, &GServObj::clear},
    {"Rename", kModify, &GServObj::rename},
    {"GetInfo", kEnds, &GServObj::getInfo},
    {"GetTables", 0, &GServObj::getTables},
    {"Connect", kConnect, &GServObj::connect},
    {"Disconnect", kEnds | kDisconnect, &GServObj::disConnect},
    {"GetClientsInfo", 0, &GServObj::getClientsInfo},
    {"FindRecord", 0, &GServObj::findRecord},
    {"GetRecord", 0, &GServObj::getRecord},
    {"PutRecord", kVoid | kModify, &GServObj::putRecord},
    {"DelRecord", kVoid | kModify, &GServObj::delRecord},
    {"AddRecord", kVoid | kModify, &GServObj::addRecord},
    {"UpdateRecord", kVoid | kModify, &GServObj::updateRecord},
    {"GetNextBlock", 0, &GServObj::getNextBlock},
    {"GetPrevBlock", 0, &GServObj::getPrevBlock},
    {"SetRange", kVoid, &GServObj::setRange},
    {"FreeRecord", kVoid, &GServObj::freeRecord},
    {"Drop", kModify, &GServObj::drop},
    {"Create", kModify, &GServObj::create},
    {"Build", kModify, &GServObj::build},
    {"InsKey", kModify, &GServObj::insKey},
    {"Shut", 0, &GServObj::shut},
    {"Stop", kStop, &GServObj::stop},
    {"CheckPoint", kModify, &GServObj::checkPoint},
    {"BegTransact", kModify, &GServObj::begTransaction},
    {"EndTransact", kEnds | kModify, &GServObj::endTransaction},
    {"AbortTransact", kEnds | kModify, &GServObj::abortTransaction},
    {"NewVersion", kModify, &GServObj::newVersion},
    {"Cardinal", 0, &GServObj::cardinal},
    {"SetAttrib", kModify, &GServObj::setAttrib},
    {"Debug", 0, &GServObj::dbg},
    {"Monitor", 0, &GServObj::monitor},
    {"GetDataFiles", 0, &GServObj::getDataFiles},
    {"GetVersInfo", 0, &GServObj::getVersInfo},
    {"SetPrivg", kModify, &GServObj::setPrivg},
    {"Alter", kModify, &GServObj::alter},
    {"Copy", kModify, &GServObj::copy},
    {"Replace", kModify, &GServObj::replace},
    {"Estimation", 0, &GServObj::estimation},
    {"Activation", 0, &GServObj::activation},
    {"ObjMethodExec", 0, &GServObj::objMethodExec},
    {"ReadyToEnd", 0, &GServObj::readyToEnd},
    {"ShadowDbg", 0, &GServObj::shadowDbg},
    {"AddRecordTest", 0, &GServObj::addRecordTest},
};

bool has(int32_t code, uint32_t bit) { return code >= 0 && code < DBM_LASTMSG && (kRows[code].attrs & bit) != 0; }

}  // namespace

bool isVoid(int32_t code) { return has(code, kVoid); }
bool terminateTrans(int32_t code) { return has(code, kEnds); }
bool isConnect(int32_t code) { return has(code, kConnect); }
bool isStop(int32_t code) { return has(code, kStop); }
bool isDisconnect(int32_t code) { return has(code, kDisconnect); }
bool mayModify(int32_t code) { return has(code, kModify); }

char const* GServObjStats::statTypeDescr(int32_t t) {
  static char const* const texts[] = {"Invalid statistic type", "Add", "Del", "Fetch", "Find", "Get", "Put", "Read",
                                      "Write"};
  return t >= 0 && t <= 8 ? texts[t] : nullptr;
}

GServObj::GServObj() {
  if (!objects_)
    objects_ = new std::vector<GServObj*>(1, nullptr);
  size_t slot = 0;
  while (slot < objects_->size() && (*objects_)[slot])
    ++slot;
  if (slot == objects_->size())
    objects_->push_back(nullptr);
  ZF_ASSERT_TEXT((slot & ~size_t(0x0fffffff)) == 0, "(id & ~(0x8fffffff)) == 0");
  (*objects_)[slot] = this;
  id_ = idOf(uint32_t(slot));
  ++nObjects_;
}

GServObj::~GServObj() {
  uint32_t slot = id_ & 0x0fffffffu;
  if (objects_ && slot < objects_->size() && (*objects_)[slot] == this) {
    (*objects_)[slot] = nullptr;
    if (--nObjects_ == 0) {
      delete objects_;
      objects_ = nullptr;
    }
  }
}

long GServObj::execute(int32_t msg, Client* c) {
  if (msg < 0 || msg >= DBM_LASTMSG)
    return invalid(c);
  return (this->*kRows[msg].op)(c);
}

bool GServObj::validObject(uint32_t id) {
  uint32_t slot = id & 0x0fffffffu;
  return objects_ && (id & 0x80000000u) == 0 && slot < objects_->size() && (*objects_)[slot] &&
         (*objects_)[slot]->id_ == id;
}

GServObj* GServObj::object(uint32_t id) {
  if (!validObject(id))
    return nullptr;
  GServObj* o = (*objects_)[id & 0x0fffffffu];
  o->accessed_ = true;
  return o;
}

char const* GServObj::msgName(int32_t code) { return code >= 0 && code < DBM_LASTMSG ? kRows[code].name : nullptr; }

long SvObject::defa(Client*) {
  if (Exception::last().code() == 0)
    Exception::last(InvalidMsgOnObject(0, 0));
  return 0;
}

void SvObject::setPort(SvReplyPort* p) {
  port_ = p;
  con = p != nullptr ? &p->channel() : nullptr;
}

namespace {

int32_t clientIdOf(Client const* c) { return c != nullptr ? c->id() : -1; }

}  // namespace

// Dispatch of one request, as a small state machine over the reply:
//   void message --operation--> nothing sent (a failure reported only)
//   nothing begun --operation--> begun by the operation | nothing begun
//   nothing begun --dispatch--> error reply (pending error) | result reply
//   then: held request -> cleared (it answers later); else sent.
long SvObject::execute(int32_t msg, Client* c) {
  if (port_ == nullptr) return GServObj::execute(msg, c);
  replyStarted_ = false;
  if (isDisconnect(msg)) {
    long const r = GServObj::execute(msg, c);
    port_->clear();
    return r;
  }
  long result = -1;
  if (c == nullptr) {
    Exception::last(InvalidClientId(-1));
  } else if (getId() != kServerObjectId && c->findObject(this) < 0) {
    // Only objects the client attached may be addressed; an id that merely
    // names a live object (another client's, a catalog table's) is refused.
    Exception::last(InvalidObjectId(int32_t(getId())));
  } else if (c->transAborted() && !terminateTrans(msg)) {
    reply(c, c->abortionCause());
  } else {
    result = GServObj::execute(msg, c);
  }
  if (isVoid(msg)) {
    // A void request is never answered: its failure is reported here and
    // reaches the client only through an aborted transaction.
    if (Exception::last().code() != 0) {
      String const text = Exception::last().message();
      if (!text.isNull()) warning(String("%S"), &text);
      Exception::last(Exception(0));
    }
    port_->getRemainder();
    replyStarted_ = false;
    return result;
  }
  if (!replyStarted_) {
    if (Exception::last().code() != 0) {
      std::unique_ptr<Exception> const keep(Exception::last().clone());
      Exception::last(Exception(0));
      replyError(c, *keep);
    } else {
      reply(c, int32_t(result));
    }
  }
  port_->getRemainder();
  if (isStop(msg) || c == nullptr || c->isReady()) {
    port_->reply();
  } else {
    // The request is held: it answers when it runs again.
    port_->clear();
  }
  replyStarted_ = false;
  return result;
}

void SvObject::reply(Client* c, int32_t result) {
  if (Exception::last().code() != 0) {
    String const text = Exception::last().message();
    warning(String("SvObject::reply() found exception: %S"), &text);
    Exception::last(Exception(0));
  }
  if (port_ == nullptr) return;
  port_->reply(clientIdOf(c), 0, result);
  replyStarted_ = true;
  replyClient_ = clientIdOf(c);
}

void SvObject::reply(Client* c, Exception const& e) {
  if (port_ == nullptr) return;
  port_->reply(clientIdOf(c), e.code(), -1);
  e.send(&port_->channel());
  replyStarted_ = true;
  replyClient_ = clientIdOf(c);
}

void SvObject::replyError(Client* c, Exception const& e) {
  String const text = e.message();
  if (!text.isNull()) warning(String("%S"), &text);
  if (port_ == nullptr) return;
  port_->reply(clientIdOf(c), -e.code(), -1);
  e.send(&port_->channel());
  replyStarted_ = true;
  replyClient_ = clientIdOf(c);
}

void SvObject::replyAbort(Client* c, Exception const& e) {
  if (e.code() == 0) {
    // An abort without a cause would leave the transaction sound; answer
    // the request as failed instead of aborting nothing.
    reply(c, -1);
    return;
  }
  reply(c, e);
  if (c != nullptr && c->hasTrans() && !c->transAborted()) c->abortTrans(e);
}

// The reply begun is started again with e's code as its status, so that no
// body word written before can precede e's fields.
void SvObject::sendException(Exception const& e) {
  if (port_ == nullptr) return;
  port_->reply(replyClient_, e.code(), -1);
  replyStarted_ = true;
  e.send(&port_->channel());
}
