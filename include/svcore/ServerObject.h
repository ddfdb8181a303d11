// ServerObject: the server as a server object, the one object every client
// may address (id 0x70000000, the first registered). It answers the
// requests on the server as a whole: attaching and dropping schemas, the
// process lock, information, settings, clients, stopping clients and the
// server, checkpoints and data versions on demand. The server-wide state
// these requests read and change is Server's.
//
// Invariants: at most one exists; start-up makes it before any other server
// object, so it holds slot 0.
#pragma once

#include <svcore/Server.h>
#include <svobject/SvObject.h>

#include <zfound/String.h>

#include <cstdint>

class Client;

// The server-wide state is reached through the private Server base.
class ServerObject : public SvObject, private Server {
public:
  ServerObject();
  ~ServerObject() override;
  ServerObject(ServerObject const&) = delete;
  ServerObject& operator=(ServerObject const&) = delete;
  // The one server object, null before it is made.
  static ServerObject* object() { return object_; }

  long attach(Client* c) override;
  long detach(Client* c) override;
  long lock(Client* c) override;
  long free(Client* c) override;
  long getInfo(Client* c) override;
  long disConnect(Client* c) override;
  long getClientsInfo(Client* c) override;
  long drop(Client* c) override;
  long shut(Client* c) override;
  long stop(Client* c) override;
  long checkPoint(Client* c) override;
  long setAttrib(Client* c) override;
  long monitor(Client* c) override;
  long getDataFiles(Client* c) override;
  long newVersion(Client* c) override;
  long getVersInfo(Client* c) override;
  long invalid(Client* c) override;
  // ---- journal and transactions ----
  long begTransaction(Client* c) override;
  long endTransaction(Client* c) override;
  long readyToEnd(Client* c) override;
  long abortTransaction(Client* c) override;
  // The Debug request: a command and its argument count, then the
  // arguments; answered 0 ("echo": 0 and the text).
  long dbg(Client* c) override;
  using SvObject::execute;
  String name() const override;
  int32_t objectType() const override { return 1; }
  String objType() override { return String("Server"); }
  // The server name and type centred in 50 columns, then a newline.
  void getMethInfo(String& out) override;

private:
  static ServerObject* object_;
};
