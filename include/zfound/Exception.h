// Exception: the error-object family and the process's current exception.
//
// Errors are not thrown. A raiser builds an error object and records a copy
// of it as the current exception (Exception::last(e)); whoever wants to know
// whether the last operation failed reads Exception::last() and tests its
// code, 0 meaning no error. Between server and client an error travels as
// its code (in the reply header's status) and its fields (in the body, in
// the order of the class's constructor); the receiver rebuilds it from the
// table of prototypes indexed by code (Exception::receive).
//
// Invariants:
//  - codes 1 to 36 each name one class below; a plain Exception may carry
//    any code, and code 0 is the absence of an error;
//  - between init() and clear() there is exactly one current exception
//    (code 0 at first) and prototype 0 exists; prototypes 1 to 36 exist when
//    init was called with true;
//  - message() is built anew on each call from the current catalogue text
//    and the fields; catalogue texts are formatted through counted argument
//    lists and fields (which may come from a peer) are only ever arguments,
//    never formats;
//  - copies and clone() keep the code and every field.
//
// Empty field values: a long -1, a String null, a Time null.
#pragma once

#include <zfound/ExceptionCodes.h>
#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstdint>

// The codes of the family by class name: kExcDeadLock is 1, and so on.
enum ExceptionCode : int32_t {
#define ZF_EXC_ENUM(code, Class, key, fields) kExc##Class = code,
  ZF_EXCEPTION_CODES(ZF_EXC_ENUM)
#undef ZF_EXC_ENUM
};

class Connection;
class Locked;

class Exception {
public:
  // Highest code of the family: the length of the code list.
#define ZF_EXC_COUNT(code, Class, key, fields) +1
  static constexpr int32_t kLastCode = 0 ZF_EXCEPTION_CODES(ZF_EXC_COUNT);
#undef ZF_EXC_COUNT

  explicit Exception(int32_t code);
  Exception(Exception const& e) = default;
  Exception& operator=(Exception const& e) = default;
  virtual ~Exception();

  // The text shown to a user; the null String for a plain Exception.
  virtual String message() const;
  // Reads the class's fields from c, overwriting them (plain: nothing).
  virtual void fill(Connection* c);
  // Writes the class's fields to c (plain: nothing).
  virtual void send(Connection* c) const;
  // Reports message() as finished text through error() (a fatal report).
  virtual void raise() const;
  // A new heap copy of the same class, code and fields.
  virtual Exception* clone() const;
  // True for pending notifications (PendLockNotif).
  virtual bool isPendNotification() const;
  // The Locked error itself for a Locked, else null.
  virtual Locked const* getLocked() const;

  int32_t code() const { return code_; }
  operator int() const { return code_; }

  // --- process-wide state ---------------------------------------------------
  // Nothing when a current exception exists. Otherwise makes the current
  // exception and prototype 0 as Exception(0) and, with withPrototypes, one
  // default-made object of each code 1 to 36.
  static void init(bool withPrototypes);
  // Replaces the current exception with a clone of e (asserts "last_ != (0)",
  // i.e. init has run).
  static void last(Exception const& e);
  // The current exception (same assertion).
  static Exception& last();
  // The prototype of the code; null above 36 or when none was made.
  static Exception* getException(unsigned short code);
  // Destroys the current exception and every prototype: back to the state
  // before init.
  static void clear();
  // Rebuilds an error received from a peer: `status` is the reply header's
  // status (0 no error; c or -c error c, negative asking for raise()).
  // For a non-zero status the prototype of |status| reads its fields from c
  // and becomes the current exception, then is raised when the status was
  // negative. Returns the code recorded, 0 for status 0 (nothing changes),
  // or -1 when the code has no prototype: "UNKNOWNEXCEPTION" and the code are
  // then reported through error() and nothing is recorded. When c turns bad
  // while the fields are read, the error is recorded with empty fields.
  static int32_t receive(Connection* c, int32_t status);
  // A new default-made object of the class of `code` (1..36; a plain
  // Exception of that code otherwise).
  static Exception* make(int32_t code);

protected:
  int32_t code_;  // the error code

private:
  static Exception* last_;                   // the current exception
  static Exception* prototypes_[kLastCode + 1];  // one per code, 0..36
};

// Errors that are really notifications the client must be told of.
class PendNotification : public Exception {
public:
  explicit PendNotification(int32_t code) : Exception(code) {}
  bool isPendNotification() const override { return true; }
};

// ---- the 36 error classes, by code --------------------------------------------

#define ZF_EXC_COMMON(Name)                                  \
  Exception* clone() const override { return new Name(*this); } \
  String message() const override

#define ZF_EXC_WIRE                         \
  void fill(Connection* c) override;        \
  void send(Connection* c) const override

// 1: DEADLOCK + " " + detail.
class DeadLock : public Exception {
public:
  DeadLock();
  explicit DeadLock(String const& detail);
  String const& detail() const { return detail_; }
  ZF_EXC_COMMON(DeadLock);
  ZF_EXC_WIRE;
private:
  String detail_;
};

// 2: LOCKTABLEFULL + " " + size of the server's lock table.
class LockTableFull : public Exception {
public:
  LockTableFull();
  explicit LockTableFull(int32_t size);
  int32_t size() const { return size_; }
  ZF_EXC_COMMON(LockTableFull);
  ZF_EXC_WIRE;
private:
  int32_t size_;
};

// 3: NOPRIVILEGE + " " + a + " " + b.
class NoPrivilege : public Exception {
public:
  NoPrivilege();
  NoPrivilege(int32_t a, int32_t b);
  int32_t a() const { return a_; }
  int32_t b() const { return b_; }
  ZF_EXC_COMMON(NoPrivilege);
  ZF_EXC_WIRE;
private:
  int32_t a_, b_;
};

// 4: LOCKED formatted with the owner (the text of UNKNOWNM for a null one).
class Locked : public Exception {
public:
  Locked();
  explicit Locked(String const& owner);
  String const& owner() const { return owner_; }
  Locked const* getLocked() const override { return this; }
  ZF_EXC_COMMON(Locked);
  ZF_EXC_WIRE;
private:
  String owner_;
};

// 5: NOINTEGRITY.
class NoIntegrity : public Exception {
public:
  NoIntegrity();
  ZF_EXC_COMMON(NoIntegrity);
};

// 6: BEINGUSED + ": " + n.
class BeingUsed : public Exception {
public:
  BeingUsed();
  explicit BeingUsed(int32_t n);
  int32_t n() const { return n_; }
  ZF_EXC_COMMON(BeingUsed);
  ZF_EXC_WIRE;
private:
  int32_t n_;
};

// 7: NOTIFYTABLEFULL + " " + size of the notification table.
class NotifyTableFull : public Exception {
public:
  NotifyTableFull();
  explicit NotifyTableFull(int32_t size);
  int32_t size() const { return size_; }
  ZF_EXC_COMMON(NotifyTableFull);
  ZF_EXC_WIRE;
private:
  int32_t size_;
};

// 8: BADVERSION + " " + version.
class BadVersion : public Exception {
public:
  BadVersion();
  explicit BadVersion(int32_t version);
  int32_t version() const { return version_; }
  ZF_EXC_COMMON(BadVersion);
  ZF_EXC_WIRE;
private:
  int32_t version_;
};

// 9: CLLOCKTABLEFULL + " " + the client's lock allowance.
class ClLockTableFull : public Exception {
public:
  ClLockTableFull();
  explicit ClLockTableFull(int32_t allowance);
  int32_t allowance() const { return allowance_; }
  ZF_EXC_COMMON(ClLockTableFull);
  ZF_EXC_WIRE;
private:
  int32_t allowance_;
};

// 10: NOINDEXES.
class NoIndexes : public Exception {
public:
  NoIndexes();
  ZF_EXC_COMMON(NoIndexes);
};

// 11: INVALIDINDEXNUM + " " + index number.
class InvalidIndexNum : public Exception {
public:
  InvalidIndexNum();
  explicit InvalidIndexNum(int32_t index);
  int32_t index() const { return index_; }
  ZF_EXC_COMMON(InvalidIndexNum);
  ZF_EXC_WIRE;
private:
  int32_t index_;
};

// 12: INVALIDTABLE + " " + table number.
class InvalidTable : public Exception {
public:
  InvalidTable();
  explicit InvalidTable(int32_t table);
  int32_t table() const { return table_; }
  ZF_EXC_COMMON(InvalidTable);
  ZF_EXC_WIRE;
private:
  int32_t table_;
};

// 13: INTRANS.
class InTrans : public Exception {
public:
  InTrans();
  ZF_EXC_COMMON(InTrans);
};

// 14: NOTINTRANS.
class NotInTrans : public Exception {
public:
  NotInTrans();
  ZF_EXC_COMMON(NotInTrans);
};

// 15: MODLOCKED formatted with the owner (UNKNOWNM for a null one).
class ModLocked : public Exception {
public:
  ModLocked();
  explicit ModLocked(String const& owner);
  // The lock against modification behind a Locked error: its owner.
  explicit ModLocked(Locked const& l);
  String const& owner() const { return owner_; }
  ZF_EXC_COMMON(ModLocked);
  ZF_EXC_WIRE;
private:
  String owner_;
};

// 16: the text when not null, else TRANSCORRUPT.
class CantConvertTable : public Exception {
public:
  CantConvertTable();
  explicit CantConvertTable(String const& text);
  String const& text() const { return text_; }
  ZF_EXC_COMMON(CantConvertTable);
  ZF_EXC_WIRE;
private:
  String text_;
};

// 17: INVALIDOBJECTID + "(" + object id + ")".
class InvalidObjectId : public Exception {
public:
  InvalidObjectId();
  explicit InvalidObjectId(int32_t objId);
  int32_t objId() const { return objId_; }
  ZF_EXC_COMMON(InvalidObjectId);
  ZF_EXC_WIRE;
private:
  int32_t objId_;
};

// 18: MSGOUTOFBOUNDS + "(" + request code + ")".
class MsgOutOfBounds : public Exception {
public:
  MsgOutOfBounds();
  explicit MsgOutOfBounds(int32_t request);
  int32_t request() const { return request_; }
  ZF_EXC_COMMON(MsgOutOfBounds);
  ZF_EXC_WIRE;
private:
  int32_t request_;
};

// 19: INVALIDCLIENTID + "(" + client id + ")".
class InvalidClientId : public Exception {
public:
  InvalidClientId();
  explicit InvalidClientId(int32_t clientId);
  int32_t clientId() const { return clientId_; }
  ZF_EXC_COMMON(InvalidClientId);
  ZF_EXC_WIRE;
private:
  int32_t clientId_;
};

// 20: the text when not null, else SHADOWERROR.
class ShadowError : public Exception {
public:
  ShadowError();
  explicit ShadowError(String const& text);
  String const& text() const { return text_; }
  ZF_EXC_COMMON(ShadowError);
  ZF_EXC_WIRE;
private:
  String text_;
};

// 21: NOTIFICATION.
class Notification : public Exception {
public:
  Notification();
  ZF_EXC_COMMON(Notification);
};

// 22: INVALIDMSGONOBJECT + "(" + a + ", " + b + ")".
class InvalidMsgOnObject : public Exception {
public:
  InvalidMsgOnObject();
  InvalidMsgOnObject(int32_t a, int32_t b);
  int32_t a() const { return a_; }
  int32_t b() const { return b_; }
  ZF_EXC_COMMON(InvalidMsgOnObject);
  ZF_EXC_WIRE;
private:
  int32_t a_, b_;
};

// 23: TOOMANYCLIENTS + " " + client limit.
class TooManyClients : public Exception {
public:
  TooManyClients();
  explicit TooManyClients(int32_t limit);
  int32_t limit() const { return limit_; }
  ZF_EXC_COMMON(TooManyClients);
  ZF_EXC_WIRE;
private:
  int32_t limit_;
};

// 24: SERVERDEAD formatted with the server name. Made on the client side;
// nothing travels.
class ServerIsDead : public Exception {
public:
  ServerIsDead();
  explicit ServerIsDead(String const& server);
  String const& server() const { return server_; }
  ZF_EXC_COMMON(ServerIsDead);
private:
  String server_;
};

// 25: INCOMPATIBLEVERSIONS formatted with the client's and the server's
// versions.
class IncompatibleVersions : public Exception {
public:
  IncompatibleVersions();
  IncompatibleVersions(int32_t client, int32_t server);
  int32_t clientVersion() const { return client_; }
  int32_t serverVersion() const { return server_; }
  ZF_EXC_COMMON(IncompatibleVersions);
  ZF_EXC_WIRE;
private:
  int32_t client_, server_;
};

// 26: INVALIDFORMIRROR formatted with the text.
class InvalidForMirror : public Exception {
public:
  InvalidForMirror();
  explicit InvalidForMirror(String const& text);
  String const& text() const { return text_; }
  ZF_EXC_COMMON(InvalidForMirror);
  ZF_EXC_WIRE;
private:
  String text_;
};

// 27: ZOMBIECLIENT + "(" + client id + ")".
class ZombieClient : public Exception {
public:
  ZombieClient();
  explicit ZombieClient(int32_t clientId);
  int32_t clientId() const { return clientId_; }
  ZF_EXC_COMMON(ZombieClient);
  ZF_EXC_WIRE;
private:
  int32_t clientId_;
};

// 28: DUPLICATEDKEY formatted with the index name and the key text.
class DuplicatedKey : public Exception {
public:
  DuplicatedKey();
  DuplicatedKey(String const& index, String const& key);
  String const& index() const { return index_; }
  String const& key() const { return key_; }
  ZF_EXC_COMMON(DuplicatedKey);
  ZF_EXC_WIRE;
private:
  String index_, key_;
};

// 29: PENDLOCKNOTIF formatted with a and b; a pending notification.
class PendLockNotif : public PendNotification {
public:
  PendLockNotif();
  PendLockNotif(String const& a, String const& b);
  String const& a() const { return a_; }
  String const& b() const { return b_; }
  ZF_EXC_COMMON(PendLockNotif);
  ZF_EXC_WIRE;
private:
  String a_, b_;
};

// 30: KEYDOESNOTEXIST formatted with the index name and the key text.
class KeyDoesNotExist : public Exception {
public:
  KeyDoesNotExist();
  KeyDoesNotExist(String const& index, String const& key);
  String const& index() const { return index_; }
  String const& key() const { return key_; }
  ZF_EXC_COMMON(KeyDoesNotExist);
  ZF_EXC_WIRE;
private:
  String index_, key_;
};

// 31: INVALIDTIMESTAMP formatted with the table and three times (hh:mm:ss).
class InvalidTimeStamp : public Exception {
public:
  InvalidTimeStamp();
  InvalidTimeStamp(String const& table, Time const& t1, Time const& t2, Time const& t3);
  String const& table() const { return table_; }
  Time const& t1() const { return t1_; }
  Time const& t2() const { return t2_; }
  Time const& t3() const { return t3_; }
  ZF_EXC_COMMON(InvalidTimeStamp);
  ZF_EXC_WIRE;
private:
  String table_;
  Time t1_, t2_, t3_;
};

// 32: OPTTRANSCORRUPT formatted with the table and two times (hh:mm:ss).
class OptTransCorrupt : public Exception {
public:
  OptTransCorrupt();
  OptTransCorrupt(String const& table, Time const& t1, Time const& t2);
  String const& table() const { return table_; }
  Time const& t1() const { return t1_; }
  Time const& t2() const { return t2_; }
  ZF_EXC_COMMON(OptTransCorrupt);
  ZF_EXC_WIRE;
private:
  String table_;
  Time t1_, t2_;
};

// 33: INVALIDLOGIN formatted with a and b.
class InvalidLogin : public Exception {
public:
  InvalidLogin();
  InvalidLogin(String const& a, String const& b);
  String const& a() const { return a_; }
  String const& b() const { return b_; }
  ZF_EXC_COMMON(InvalidLogin);
  ZF_EXC_WIRE;
private:
  String a_, b_;
};

// 34: TOOMANYATTACHS formatted with the attach limit.
class TooManyAttachs : public Exception {
public:
  TooManyAttachs();
  explicit TooManyAttachs(int32_t limit);
  int32_t limit() const { return limit_; }
  ZF_EXC_COMMON(TooManyAttachs);
  ZF_EXC_WIRE;
private:
  int32_t limit_;
};

// 35: INVALIDDATA formatted with the description.
class InvalidData : public Exception {
public:
  InvalidData();
  explicit InvalidData(String const& description);
  String const& description() const { return description_; }
  ZF_EXC_COMMON(InvalidData);
  ZF_EXC_WIRE;
private:
  String description_;
};

// 36: ADMINMODE formatted with the administrator's id as text.
class AdminMode : public Exception {
public:
  AdminMode();
  explicit AdminMode(String const& admin);
  String const& admin() const { return admin_; }
  ZF_EXC_COMMON(AdminMode);
  ZF_EXC_WIRE;
private:
  String admin_;
};

#undef ZF_EXC_COMMON
#undef ZF_EXC_WIRE
