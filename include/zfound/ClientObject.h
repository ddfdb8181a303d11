// ClientObject: a client-side handle of one object that lives in a database
// server: its name, its server object id, a reference count and the
// DbConnection that reaches the server.
//
// Its call operators begin a request of an operation on the object and hand
// back the connection, so that arguments are pushed with << and results read
// with >> or int32_t(conn); flush() completes the request.
//
// Invariants: an object id of -1 means "no object"; a fresh handle holds 0;
// the reference count starts at 0 and never goes below 0.
#pragma once

#include <zfound/String.h>

#include <cstdint>

class DbConnection;

class ClientObject {
public:
  // Copies the name; object id 0, reference count 0, connection conn (may be null).
  ClientObject(String const& name, DbConnection* conn);
  virtual ~ClientObject();
  ClientObject(ClientObject const&) = delete;
  ClientObject& operator=(ClientObject const&) = delete;

  // True unless the object id is -1.
  bool ok() const { return objId_ != -1; }
  // Adds one reference.
  void attach() { ++nRef_; }
  // Removes one reference (never below 0) and returns the new count.
  int32_t detach() { return nRef_ > 0 ? --nRef_ : 0; }
  // The reference count.
  int32_t nRef() const { return nRef_; }

  // Begins a request of operation op on this handle's object and returns the
  // connection (precondition "conn != (0)").
  DbConnection& operator()(int32_t op);
  // Begins a request of operation op on object objid and returns the connection.
  DbConnection& operator()(int32_t objid, int32_t op);
  // Completes the pending requests on the connection and returns the result;
  // -1 without a connection (nothing is sent).
  int32_t flush();

  int32_t objId() const { return objId_; }
  void setObjId(int32_t id) { objId_ = id; }
  String const& name() const { return name_; }
  DbConnection* getConnection() const { return conn_; }

protected:
  String name_;          // the object's name (a connection: its host)
  int32_t objId_;        // server object id; -1 none
  int32_t nRef_;         // references held
  DbConnection* conn_;   // the connection reaching the server; may be null
};
