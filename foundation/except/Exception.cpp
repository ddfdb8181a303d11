// The error-object family: messages from the library catalogue, transfer of
// the fields on a Connection, the current exception and the prototype table.
//
// Catalogue texts are used as formats only through counted argument lists
// (formatText), so a text with more conversions than arguments prints
// nothing for the missing ones; fields, which may come from a peer, are
// passed as arguments and never read as formats.
#include <zfound/Exception.h>

#include <zfound/Assert.h>
#include <zfound/Connection.h>
#include <zfound/Format.h>
#include <zfound/Message.h>

#include <initializer_list>

Exception* Exception::last_ = nullptr;
Exception* Exception::prototypes_[Exception::kLastCode + 1] = {};

namespace {

// The characters of a String as a format argument: "" for null; the
// engine's %s shows the highest String as "(high value)".
char const* chars(String const& s) { return toCharPtr(s); }

// The concatenation of the pieces.
String join(std::initializer_list<String> parts) {
  String r;
  for (String const& p : parts) r += p;
  return r;
}
// A long in signed decimal.
String dec(int32_t n) { return toString(long(n), 0L, -10L); }
// KEY + sep + n.
String keyNum(char const* key, char const* sep, int32_t n) { return join({libMsg(key), sep, dec(n)}); }
// KEY + "(" + n + ")".
String keyParen(char const* key, int32_t n) { return join({libMsg(key), "(", dec(n), ")"}); }
// The key's text used as a format with the given arguments.
template <class... A>
String keyFormat(char const* key, A const&... a) {
  String f = libMsg(key);
  return formatText(chars(f), a...);
}
// A Time as its text of hh:mm:ss.
String timeText(Time const& t) { return toString(t, Time::Colons | Time::Seconds); }
// The owner of a lock, or the text of UNKNOWNM for a null one.
String ownerText(String const& owner) { return owner.isNull() ? libMsg("UNKNOWNM") : owner; }

}  // namespace

// ---- base ------------------------------------------------------------------

Exception::Exception(int32_t code) : code_(code) {}
Exception::~Exception() = default;
String Exception::message() const { return String(); }
void Exception::fill(Connection*) {}
void Exception::send(Connection*) const {}
void Exception::raise() const {
  String text = message();
  error("%s", chars(text));
}
Exception* Exception::clone() const { return new Exception(*this); }
bool Exception::isPendNotification() const { return false; }
Locked const* Exception::getLocked() const { return nullptr; }

// ---- process-wide state ------------------------------------------------------

void Exception::init(bool withPrototypes) {
  if (last_ != nullptr) return;
  last_ = new Exception(0);
  prototypes_[0] = new Exception(0);
  if (withPrototypes) {
    for (int32_t c = 1; c <= kLastCode; ++c) prototypes_[c] = make(c);
  }
}

void Exception::last(Exception const& e) {
  if (!ZF_ASSERT_TEXT(last_ != nullptr, "last_ != (0)")) return;
  Exception* copy = e.clone();
  delete last_;
  last_ = copy;
}

Exception& Exception::last() {
  if (!ZF_ASSERT_TEXT(last_ != nullptr, "last_ != (0)")) {
    // Only reached when the failure report returned (no handler yet): a
    // harmless object, so the caller reads "no error" instead of crashing.
    static Exception none(0);
    none = Exception(0);
    return none;
  }
  return *last_;
}

Exception* Exception::getException(unsigned short code) {
  if (code > kLastCode) return nullptr;
  return prototypes_[code];
}

void Exception::clear() {
  if (last_ == nullptr) return;
  delete last_;
  last_ = nullptr;
  for (Exception*& p : prototypes_) {
    delete p;
    p = nullptr;
  }
}

int32_t Exception::receive(Connection* c, int32_t status) {
  if (status == 0) return 0;
  int64_t code = status < 0 ? -int64_t(status) : int64_t(status);
  Exception* p = code <= kLastCode ? getException(static_cast<unsigned short>(code)) : nullptr;
  if (p == nullptr) {
    String text = libMsg("UNKNOWNEXCEPTION");
    error("%s %lld", chars(text), static_cast<long long>(code));
    return -1;
  }
  bool wasBad = c == nullptr || c->bad();
  if (c != nullptr) p->fill(c);
  if (c == nullptr || (!wasBad && c->bad())) {
    // The fields could not be read whole: keep none of them.
    Exception* fresh = make(static_cast<int32_t>(code));
    delete prototypes_[code];
    prototypes_[code] = fresh;
    p = fresh;
  }
  last(*p);
  if (status < 0) last().raise();
  return static_cast<int32_t>(code);
}

Exception* Exception::make(int32_t code) {
  switch (code) {
#define ZF_EXC_MAKE(code, Class, key, fields) \
  case code: return new Class();
    ZF_EXCEPTION_CODES(ZF_EXC_MAKE)
#undef ZF_EXC_MAKE
    default: return new Exception(code);
  }
}

// The list holds codes 1 to kLastCode in order, without gaps.
namespace {
constexpr int32_t kListedCodes[] = {
#define ZF_EXC_CODE(code, Class, key, fields) code,
    ZF_EXCEPTION_CODES(ZF_EXC_CODE)
#undef ZF_EXC_CODE
};
constexpr bool codesInOrder() {
  for (int32_t i = 0; i < Exception::kLastCode; ++i)
    if (kListedCodes[i] != i + 1) return false;
  return true;
}
static_assert(codesInOrder(), "ZF_EXCEPTION_CODES must list codes 1, 2, 3, ... in order");
}  // namespace

// ---- the classes -------------------------------------------------------------
// Each class: default constructor (empty fields), field constructor, message,
// and for classes with fields on the wire, fill and send in field order.

#define ZF_LONG1(Name, Code, f)                                            \
  Name::Name() : Exception(Code), f(-1) {}                                 \
  Name::Name(int32_t v) : Exception(Code), f(v) {}                         \
  void Name::fill(Connection* c) { *c >> f; }                              \
  void Name::send(Connection* c) const { *c << f; }

#define ZF_STR1(Name, Code, f)                                             \
  Name::Name() : Exception(Code) {}                                        \
  Name::Name(String const& v) : Exception(Code), f(v) {}                   \
  void Name::fill(Connection* c) { *c >> f; }                              \
  void Name::send(Connection* c) const { *c << f; }

#define ZF_STR2(Name, Base, Code, f, g)                                    \
  Name::Name() : Base(Code) {}                                             \
  Name::Name(String const& v, String const& w) : Base(Code), f(v), g(w) {} \
  void Name::fill(Connection* c) { *c >> f >> g; }                         \
  void Name::send(Connection* c) const { *c << f << g; }

#define ZF_NONE(Name, Code) \
  Name::Name() : Exception(Code) {}

ZF_STR1(DeadLock, kExcDeadLock, detail_)
String DeadLock::message() const { return join({libMsg("DEADLOCK"), " ", detail_}); }

ZF_LONG1(LockTableFull, kExcLockTableFull, size_)
String LockTableFull::message() const { return keyNum("LOCKTABLEFULL", " ", size_); }

NoPrivilege::NoPrivilege() : Exception(kExcNoPrivilege), a_(-1), b_(-1) {}
NoPrivilege::NoPrivilege(int32_t a, int32_t b) : Exception(kExcNoPrivilege), a_(a), b_(b) {}
void NoPrivilege::fill(Connection* c) { *c >> a_ >> b_; }
void NoPrivilege::send(Connection* c) const { *c << a_ << b_; }
String NoPrivilege::message() const {
  return join({libMsg("NOPRIVILEGE"), " ", dec(a_), " ", dec(b_)});
}

ZF_STR1(Locked, kExcLocked, owner_)
String Locked::message() const { return keyFormat("LOCKED", chars(ownerText(owner_))); }

ZF_NONE(NoIntegrity, kExcNoIntegrity)
String NoIntegrity::message() const { return libMsg("NOINTEGRITY"); }

ZF_LONG1(BeingUsed, kExcBeingUsed, n_)
String BeingUsed::message() const { return keyNum("BEINGUSED", ": ", n_); }

ZF_LONG1(NotifyTableFull, kExcNotifyTableFull, size_)
String NotifyTableFull::message() const { return keyNum("NOTIFYTABLEFULL", " ", size_); }

ZF_LONG1(BadVersion, kExcBadVersion, version_)
String BadVersion::message() const { return keyNum("BADVERSION", " ", version_); }

ZF_LONG1(ClLockTableFull, kExcClLockTableFull, allowance_)
String ClLockTableFull::message() const { return keyNum("CLLOCKTABLEFULL", " ", allowance_); }

ZF_NONE(NoIndexes, kExcNoIndexes)
String NoIndexes::message() const { return libMsg("NOINDEXES"); }

ZF_LONG1(InvalidIndexNum, kExcInvalidIndexNum, index_)
String InvalidIndexNum::message() const { return keyNum("INVALIDINDEXNUM", " ", index_); }

ZF_LONG1(InvalidTable, kExcInvalidTable, table_)
String InvalidTable::message() const { return keyNum("INVALIDTABLE", " ", table_); }

ZF_NONE(InTrans, kExcInTrans)
String InTrans::message() const { return libMsg("INTRANS"); }

ZF_NONE(NotInTrans, kExcNotInTrans)
String NotInTrans::message() const { return libMsg("NOTINTRANS"); }

ZF_STR1(ModLocked, kExcModLocked, owner_)
ModLocked::ModLocked(Locked const& l) : Exception(kExcModLocked), owner_(l.owner()) {}
String ModLocked::message() const { return keyFormat("MODLOCKED", chars(ownerText(owner_))); }

ZF_STR1(CantConvertTable, kExcCantConvertTable, text_)
String CantConvertTable::message() const { return text_.isNull() ? libMsg("TRANSCORRUPT") : text_; }

ZF_LONG1(InvalidObjectId, kExcInvalidObjectId, objId_)
String InvalidObjectId::message() const { return keyParen("INVALIDOBJECTID", objId_); }

ZF_LONG1(MsgOutOfBounds, kExcMsgOutOfBounds, request_)
String MsgOutOfBounds::message() const { return keyParen("MSGOUTOFBOUNDS", request_); }

ZF_LONG1(InvalidClientId, kExcInvalidClientId, clientId_)
String InvalidClientId::message() const { return keyParen("INVALIDCLIENTID", clientId_); }

ZF_STR1(ShadowError, kExcShadowError, text_)
String ShadowError::message() const { return text_.isNull() ? libMsg("SHADOWERROR") : text_; }

ZF_NONE(Notification, kExcNotification)
String Notification::message() const { return libMsg("NOTIFICATION"); }

InvalidMsgOnObject::InvalidMsgOnObject() : Exception(kExcInvalidMsgOnObject), a_(-1), b_(-1) {}
InvalidMsgOnObject::InvalidMsgOnObject(int32_t a, int32_t b) : Exception(kExcInvalidMsgOnObject), a_(a), b_(b) {}
void InvalidMsgOnObject::fill(Connection* c) { *c >> a_ >> b_; }
void InvalidMsgOnObject::send(Connection* c) const { *c << a_ << b_; }
String InvalidMsgOnObject::message() const {
  return join({libMsg("INVALIDMSGONOBJECT"), "(", dec(a_), ", ", dec(b_), ")"});
}

ZF_LONG1(TooManyClients, kExcTooManyClients, limit_)
String TooManyClients::message() const { return keyNum("TOOMANYCLIENTS", " ", limit_); }

ServerIsDead::ServerIsDead() : Exception(kExcServerIsDead) {}
ServerIsDead::ServerIsDead(String const& server) : Exception(kExcServerIsDead), server_(server) {}
String ServerIsDead::message() const { return keyFormat("SERVERDEAD", chars(server_)); }

IncompatibleVersions::IncompatibleVersions() : Exception(kExcIncompatibleVersions), client_(-1), server_(-1) {}
IncompatibleVersions::IncompatibleVersions(int32_t client, int32_t server)
    : Exception(kExcIncompatibleVersions), client_(client), server_(server) {}
void IncompatibleVersions::fill(Connection* c) { *c >> client_ >> server_; }
void IncompatibleVersions::send(Connection* c) const { *c << client_ << server_; }
String IncompatibleVersions::message() const { return keyFormat("INCOMPATIBLEVERSIONS", client_, server_); }

ZF_STR1(InvalidForMirror, kExcInvalidForMirror, text_)
String InvalidForMirror::message() const { return keyFormat("INVALIDFORMIRROR", chars(text_)); }

ZF_LONG1(ZombieClient, kExcZombieClient, clientId_)
String ZombieClient::message() const { return keyParen("ZOMBIECLIENT", clientId_); }

ZF_STR2(DuplicatedKey, Exception, kExcDuplicatedKey, index_, key_)
String DuplicatedKey::message() const { return keyFormat("DUPLICATEDKEY", chars(index_), chars(key_)); }

ZF_STR2(PendLockNotif, PendNotification, kExcPendLockNotif, a_, b_)
String PendLockNotif::message() const { return keyFormat("PENDLOCKNOTIF", chars(a_), chars(b_)); }

ZF_STR2(KeyDoesNotExist, Exception, kExcKeyDoesNotExist, index_, key_)
String KeyDoesNotExist::message() const { return keyFormat("KEYDOESNOTEXIST", chars(index_), chars(key_)); }

InvalidTimeStamp::InvalidTimeStamp() : Exception(kExcInvalidTimeStamp) {}
InvalidTimeStamp::InvalidTimeStamp(String const& table, Time const& t1, Time const& t2, Time const& t3)
    : Exception(kExcInvalidTimeStamp), table_(table), t1_(t1), t2_(t2), t3_(t3) {}
void InvalidTimeStamp::fill(Connection* c) { *c >> table_ >> t1_ >> t2_ >> t3_; }
void InvalidTimeStamp::send(Connection* c) const { *c << table_ << t1_ << t2_ << t3_; }
String InvalidTimeStamp::message() const {
  String a = timeText(t1_), b = timeText(t2_), d = timeText(t3_);
  return keyFormat("INVALIDTIMESTAMP", chars(table_), chars(a), chars(b), chars(d));
}

OptTransCorrupt::OptTransCorrupt() : Exception(kExcOptTransCorrupt) {}
OptTransCorrupt::OptTransCorrupt(String const& table, Time const& t1, Time const& t2)
    : Exception(kExcOptTransCorrupt), table_(table), t1_(t1), t2_(t2) {}
void OptTransCorrupt::fill(Connection* c) { *c >> table_ >> t1_ >> t2_; }
void OptTransCorrupt::send(Connection* c) const { *c << table_ << t1_ << t2_; }
String OptTransCorrupt::message() const {
  String a = timeText(t1_), b = timeText(t2_);
  return keyFormat("OPTTRANSCORRUPT", chars(table_), chars(a), chars(b));
}

ZF_STR2(InvalidLogin, Exception, kExcInvalidLogin, a_, b_)
String InvalidLogin::message() const { return keyFormat("INVALIDLOGIN", chars(a_), chars(b_)); }

ZF_LONG1(TooManyAttachs, kExcTooManyAttachs, limit_)
String TooManyAttachs::message() const { return keyFormat("TOOMANYATTACHS", limit_); }

ZF_STR1(InvalidData, kExcInvalidData, description_)
String InvalidData::message() const { return keyFormat("INVALIDDATA", chars(description_)); }

ZF_STR1(AdminMode, kExcAdminMode, admin_)
String AdminMode::message() const { return keyFormat("ADMINMODE", chars(admin_)); }
