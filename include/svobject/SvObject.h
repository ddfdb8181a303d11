// Server objects: everything a client can name on the server. Each lives in
// one process-wide registry whose slot, with three check bits, is its id;
// a request's message code selects one of 48 virtual operations, each of
// which answers InvalidMsgOnObject unless a derived class replaces it.
//
// Object id: slot | (((slot & 7) ^ 7) << 28); bits 28-30 check the slot,
// bit 31 stays clear. Slot 0 (the server object) has id 0x70000000.
//
// Invariants: a registered object sits in exactly one slot until its base
// destructor nulls it; nObjects counts the occupied slots; the registry
// exists while nObjects is above 0; every statistic record is owned by its
// object.
#pragma once

#include <zfound/MsgHeader.h>
#include <zfound/String.h>

#include <cstdint>
#include <memory>
#include <vector>

class Client;
class Connection;
class Exception;
class SvTable;
class SvSchema;
class SvField;
class SvCursor;

// Attribute tests of a message code; a code outside 0..47 has none.
bool isVoid(int32_t code);
bool terminateTrans(int32_t code);
bool isConnect(int32_t code);
bool isStop(int32_t code);
bool isDisconnect(int32_t code);
bool mayModify(int32_t code);

// One statistic of an object: type 1..8, count, extra amount.
class GServObjStats {
public:
  enum sttype : int32_t { kInvalid = 0, kAdd, kDel, kFetch, kFind, kGet, kPut, kRead, kWrite };
  int32_t nTimes() const { return n_; }
  // Adds n; the sum.
  int32_t nTimes(int32_t n) { return n_ += n; }
  void resetNTimes() { n_ = 0; }
  int32_t extraInfo() const { return extra_; }
  int32_t extraInfo(int32_t n) { return extra_ += n; }
  sttype statType() const { return type_; }
  void statType(sttype t) { type_ = t; }
  // The type's text, null above 8.
  static char const* statTypeDescr(int32_t t);

private:
  sttype type_ = kInvalid;
  int32_t n_ = 0;
  int32_t extra_ = 0;
};

class GServObj {
public:
  using Op = long (GServObj::*)(Client*);

  // Registers the object in the first free slot and gives it its id.
  GServObj();
  // Unregisters it; the registry goes with the last object.
  virtual ~GServObj();
  GServObj(GServObj const&) = delete;
  GServObj& operator=(GServObj const&) = delete;

  virtual long defa(Client* c) = 0;
  virtual long attach(Client* c) { return defa(c); }
  virtual long detach(Client* c) { return defa(c); }
  virtual long lock(Client* c) { return defa(c); }
  virtual long free(Client* c) { return defa(c); }
  virtual long clear(Client* c) { return defa(c); }
  virtual long rename(Client* c) { return defa(c); }
  virtual long getInfo(Client* c) { return defa(c); }
  virtual long getTables(Client* c) { return defa(c); }
  virtual long connect(Client* c) { return defa(c); }
  virtual long disConnect(Client* c) { return defa(c); }
  virtual long getClientsInfo(Client* c) { return defa(c); }
  virtual long findRecord(Client* c) { return defa(c); }
  virtual long getRecord(Client* c) { return defa(c); }
  virtual long putRecord(Client* c) { return defa(c); }
  virtual long delRecord(Client* c) { return defa(c); }
  virtual long addRecord(Client* c) { return defa(c); }
  virtual long addRecordTest(Client* c) { return defa(c); }
  virtual long updateRecord(Client* c) { return defa(c); }
  virtual long getNextBlock(Client* c) { return defa(c); }
  virtual long getPrevBlock(Client* c) { return defa(c); }
  virtual long setRange(Client* c) { return defa(c); }
  virtual long freeRecord(Client* c) { return defa(c); }
  virtual long create(Client* c) { return defa(c); }
  virtual long drop(Client* c) { return defa(c); }
  virtual long build(Client* c) { return defa(c); }
  virtual long insKey(Client* c) { return defa(c); }
  virtual long shut(Client* c) { return defa(c); }
  virtual long stop(Client* c) { return defa(c); }
  virtual long checkPoint(Client* c) { return defa(c); }
  virtual long begTransaction(Client* c) { return defa(c); }
  virtual long endTransaction(Client* c) { return defa(c); }
  virtual long readyToEnd(Client* c) { return defa(c); }
  virtual long abortTransaction(Client* c) { return defa(c); }
  virtual long newVersion(Client* c) { return defa(c); }
  virtual long cardinal(Client* c) { return defa(c); }
  virtual long setAttrib(Client* c) { return defa(c); }
  virtual long shadowDbg(Client* c) { return defa(c); }
  virtual long invalid(Client* c) { return defa(c); }
  virtual long monitor(Client* c) { return defa(c); }
  virtual long getDataFiles(Client* c) { return defa(c); }
  virtual long getVersInfo(Client* c) { return defa(c); }
  virtual long setPrivg(Client* c) { return defa(c); }
  virtual long alter(Client* c) { return defa(c); }
  virtual long copy(Client* c) { return defa(c); }
  virtual long replace(Client* c) { return defa(c); }
  virtual long estimation(Client* c) { return defa(c); }
  virtual long activation(Client* c) { return defa(c); }
  virtual long objMethodExec(Client* c) { return defa(c); }
  virtual long dbg(Client* c) { return defa(c); }
  virtual void getMethInfo(String&) {}
  virtual String name() const { return String(); }
  virtual int32_t objectType() const = 0;
  virtual class SvObject* getSvObject() { return nullptr; }
  virtual GServObj* getShadowObject() { return nullptr; }
  virtual void* getShTube() { return nullptr; }
  virtual String objType() = 0;

  // The operation of message msg on this object; a code outside 0..47 is
  // answered as an invalid message. Server objects replace it with their
  // dispatch (SvObject::execute), so a caller holding a GServObj* gets it.
  virtual long execute(int32_t msg, Client* c);
  // True when id names a registered object by slot and check bits.
  static bool validObject(uint32_t id);
  // The object of a valid id (accessed flag set), else null.
  static GServObj* object(uint32_t id);
  static uint32_t idOf(uint32_t slot) { return slot | (((slot & 7u) ^ 7u) << 28); }
  uint32_t getId() const { return id_; }
  bool wasAccessed() const { return accessed_; }
  std::vector<std::unique_ptr<GServObjStats>>& getSObjs() { return stats_; }
  // "Attach" ... "AddRecordTest"; null outside 0..47.
  static char const* msgName(int32_t code);
  static int32_t nObjects() { return nObjects_; }

private:
  uint32_t id_ = 0;
  bool accessed_ = false;
  std::vector<std::unique_ptr<GServObjStats>> stats_;

  static std::vector<GServObj*>* objects_;
  static int32_t nObjects_;
};

// The server end of the request channel as server objects use it: the
// request being served is read, and its reply written, through channel().
// The server core installs its transport behind this; tests install a loop.
class SvReplyPort {
public:
  virtual ~SvReplyPort() = default;
  virtual Connection& channel() = 0;
  // Starts a reply to clientId (message type clientId + 1) with a status
  // and a result word; the body follows through channel().
  virtual void reply(int32_t clientId, int32_t status, int32_t result) = 0;
  // Sends the reply begun (its last part).
  virtual void reply() = 0;
  // Skips what is left unread of the request being served.
  virtual void getRemainder() = 0;
  // Drops the reply begun and marks the received data consumed.
  virtual void clear() = 0;
};

// Reply rule of the dispatch: an operation either starts its reply itself
// (reply, replyError, replyAbort) or leaves it to the dispatch, which then
// answers a pending error as an error reply and otherwise replies the
// operation's result as the result word.
class SvObject : public GServObj {
public:
  // Records InvalidMsgOnObject (0, 0) as the request's error; the reply is
  // made by the dispatch.
  long defa(Client* c) override;
  SvObject* getSvObject() override { return this; }
  virtual SvTable* getTable() { return nullptr; }
  virtual SvSchema* getSchema() { return nullptr; }
  virtual SvField* getField() { return nullptr; }
  virtual SvCursor* getCursor() { return nullptr; }

  // The dispatch of message msg from client c: the aborted-transaction rule,
  // the reply rule above, void messages answered with nothing, held
  // requests answered later. A client that has not attached this object
  // (the server object excepted) gets InvalidObjectId. Without a port it is
  // the plain operation call.
  long execute(int32_t msg, Client* c) override;

  // Starts the reply: status 0 and result. A still pending error is
  // reported as a warning and cleared first.
  static void reply(Client* c, int32_t result);
  // Starts a reply carrying e (status e's code, result -1, e's fields).
  static void reply(Client* c, Exception const& e);
  // Starts the error reply of e (status minus e's code, result -1, e's
  // fields); e's text is reported as a warning.
  static void replyError(Client* c, Exception const& e);
  // Replies e and aborts c's sound transaction with it.
  static void replyAbort(Client* c, Exception const& e);
  // Writes e into the reply begun: its code as the status, its fields.
  static void sendException(Exception const& e);
  // True once a reply was started for the request being served.
  static bool replyStarted() { return replyStarted_; }

  // Installs the port (null: none); con follows it.
  static void setPort(SvReplyPort* p);
  static SvReplyPort* port() { return port_; }

  Connection* connection() const { return con; }
  bool isTemp() const { return temporary_; }
  int32_t refCount() const { return refs_; }
  void incReference() { ++refs_; }
  void decReference() { --refs_; }

  // The connection of the client whose request is being served.
  static Connection* con;

protected:
  // The id of the server object, which every client may address.
  static constexpr uint32_t kServerObjectId = 0x70000000u;

  bool temporary_ = false;

private:
  int32_t refs_ = 0;
  static SvReplyPort* port_;
  static bool replyStarted_;
  static int32_t replyClient_;
};
