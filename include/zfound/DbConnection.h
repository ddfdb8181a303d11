// DbConnection: a client's link to one database server.
//
// It is at once a ClientObject addressing the server's control object
// (0x70000000) and a Connection that encodes requests. It frames requests
// (one header each; requests that expect no reply are batched, at most 10 to
// a part), completes a request by waiting for its reply and turns an error
// reply into the process's current exception, keeps the list of all open
// connections of the process, runs transactions over several servers with a
// two-phase end led by the client, and finds or opens the connection for a
// server or a schema from the client configuration. The transport (System V
// queues or a socket) is a subclass.
//
// Invariants:
//  - the buffer holds, from beginOfBuffer(), whole requests and at most one
//    request still being written (its header at buffer_, MSG_CONT set while
//    it may grow); every request but the last in a part is void; the last
//    part of a request sent in several parts holds nothing else;
//  - pending_ is set exactly while a request was begun and not yet
//    completed (retValue_ then reads kReplyPending); readers complete it
//    before reading. The reply's return word never sets it: a peer cannot
//    make the client send again or re-enter execute() while a reply is read;
//  - a part that could not be sent never leaves execute() waiting for a
//    reply: the request fails with an error object instead;
//  - a receive that fails on a live connection fails the request (an error
//    object is recorded), except after Stop, which gets no reply;
//  - readers never pass the body of the reply received.
#pragma once

#include <zfound/ClientObject.h>
#include <zfound/Connection.h>
#include <zfound/MsgHeader.h>
#include <zfound/String.h>
#include <zfound/TimeStamp.h>

#include <cstdint>

class DbConfigFile;
class StringRefStringRefBaseAction;

// Connection modes (bits).
enum ConnMode : int32_t {
  abortOnInit = 1,   // a failure to find, set up or connect is a fatal report
  reportErrors = 2   // transport failures and server death are reported as they happen
};

class DbConnection : public ClientObject, public Connection {
public:
  // The server's own control object.
  static constexpr int32_t kServerObject = 0x70000000;
  // The return value while a reply is outstanding.
  static constexpr int32_t kReplyPending = -1234;
  // Requests in one batch at most.
  static constexpr int32_t kMaxBatch = 10;

  // The handler of notifications: receives the notification's text.
  typedef void (*NotifHandler)(String const& msg);

  // A connection for the configuration cfg (host, type, server id and name
  // taken from it; a copy of it is kept).
  DbConnection(DbConfigFile const& cfg, ConnMode mode);
  // A connection of type ('i' local, 'r' remote) for host, server id and name.
  DbConnection(char type, String const& host, int32_t serverId, String const& serverName, ConnMode mode);
  // Leaves the list of open connections.
  ~DbConnection() override;

  // ---- transport operations ---------------------------------------------------
  // Asks the server to stop; false here.
  virtual bool stopSv();
  // True when the four values equal this connection's.
  virtual bool connExists(char type, String const& host, int32_t id, String const& name) const;
  // The start of the transport's buffer.
  virtual uint32_t* beginOfBuffer() = 0;
  virtual uint32_t* realBuffer() = 0;
  // Starts a request of op on object objid (precondition "objid != (-1)").
  virtual void begin(int32_t objid, SvMessage op);
  // True when the peer's byte order differs; false here.
  virtual bool isInvert();
  // Sends the connect request; nothing here.
  virtual void connect(bool secondary);
  // Waits until the server has ended; false here.
  virtual bool waitForServerHalt();
  // True while the server still runs, as far as the transport can tell
  // without a request; a server found ended makes the connection not valid
  // (its requests then fail quietly). Here: isValid().
  virtual bool serverAlive();
  // Update the kept configuration's schema list; true when there is none.
  virtual bool addSchema(String const& s);
  virtual bool delSchema(String const& s);

  // Sends the buffer from beginOfBuffer() to the write position as one part;
  // afterwards the header is at the buffer start with the positions after it
  // and capacity - 1 words free. 0 when sent, -1 when not (nothing here).
  virtual int32_t sendPart();
  // Receives the next reply part into the buffer: positions after its header,
  // words left to read = its body words - 1. The bytes received, or -1.
  virtual int32_t fillPart();

  // ---- the Connection part ------------------------------------------------------
  void _flush() override;
  void _fill() override;
  // Buffer full while arguments are written: sends what is complete and goes on.
  void flushBuff() override;
  // The return value, after completing an outstanding request.
  explicit operator int32_t() override;

  Connection& operator>>(int32_t& w) override;
  Connection& operator>>(String& s) override;
  Connection& operator>>(char*& p) override;
  Connection& operator>>(Num& n) override;
  Connection& operator>>(Date& d) override;
  Connection& operator>>(Time& t) override;
  void pop(void* p, int32_t n) override;

  // Completes the request (sends it, waits for and takes its reply) and
  // returns its return value; -1 for a void request (sent later).
  int32_t execute();
  // Resets the buffer state: header at the buffer start, positions after it,
  // both counts the capacity, last-part length 8, header object id and
  // operation cleared.
  void setValues();

  // ---- accessors --------------------------------------------------------------------
  static DbConnection* head() { return head_; }
  DbConnection* next() const { return next_; }
  TimeStamp const& transTimeStamp() const { return transTS_; }
  bool isValid() const { return valid_; }
  // The Connect request was answered.
  bool isConnected() const { return connected_; }
  String const& serverName() const { return serverName_; }
  int32_t status() const { return status_; }
  char getType() const { return type_; }
  int32_t nMessages() const { return nMsgs_; }
  int32_t serverId() const { return serverId_; }
  ConnMode mode() const { return mode_; }
  bool inTransaction() const { return inTrans_; }
  void inTransaction(bool on) { inTrans_ = on; }
  bool readyToEnd() const { return readyToEnd_; }
  void readyToEnd(bool on) { readyToEnd_ = on; }
  // Sets the did-lock flag.
  void didLock() { didLock_ = true; }
  bool hasLocked() const { return didLock_; }
  static bool userBegTrans() { return userBeganTrans; }
  static void userBegTrans(bool on) { userBeganTrans = on; }
  void end() {}
  // Marks the connection not valid (the server was found dead).
  void setInvalid() { valid_ = false; }

  // Installs the notification handler; returns the previous one.
  static NotifHandler setNotifHandler(NotifHandler f);
  // Whether an error reply whose status asks for it is raised as it
  // arrives (the default) or only recorded as the current exception, for a
  // caller that decides itself what an error means (the database
  // interface library: a locked record is an answer, not the end of the
  // program).
  static void raiseOnReply(bool on) { raiseOnReply_ = on; }
  static bool raiseOnReply() { return raiseOnReply_; }
  // Hands msg to the notification handler, when one is set.
  static void notification(String const& msg);
  // Marks every open connection not valid (abnormal stop hook).
  static void invalidate();
  // True when a connection other than c took a lock.
  static bool multiServerLock(DbConnection* c);
  // True when any open connection is in a transaction.
  static bool inTransac();

  // ---- transactions ----------------------------------------------------------------
  // The program opens a transaction itself: sets the user flag.
  static void beginTransaction();
  // True when the user flag is clear.
  static bool didTransaction();
  // Begins a transaction on this connection (nothing when in one already).
  void begTrans();
  // Begins an optimistic transaction on every open connection; false when
  // one is in a transaction already.
  static bool optimisticTransaction();
  // False when a connection's transaction cannot end well (GetInfo 8 answers 0).
  static bool transOk();
  // commit when the user flag is set; else endTransaction(commit).
  static bool endTrans(bool commit);
  // Ends the transaction on every connection in one: two-phase with a leader
  // (the greatest server name, told last) when there are several. When a
  // participant fails to prepare, every participant is aborted (the leader
  // last), the failure stays the current exception and is reported as a
  // warning; the result is false.
  static bool endTransaction(bool commit);
  // Aborts the transaction on every valid connection in one; the last answer
  // (-1 when none was sent).
  static int32_t abortTransaction();

  // ---- finding connections --------------------------------------------------------
  // An open connection matching cfg, attached; else a new one for it
  // (connected when `connect`); null when it cannot be set up or connected.
  static DbConnection* find(DbConfigFile const& cfg, bool connect, bool secondary, ConnMode mode,
                            String const& service, StringRefStringRefBaseAction* action);
  // The same for a local server given by id and name.
  static DbConnection* findIpc(int32_t id, String const& name, bool connect, bool secondary, ConnMode mode);
  // The connection for a server name from its configuration.
  static DbConnection* findServer(String const& name, bool connect, ConnMode mode);
  // The connection for a schema ("server/schema" or a plain schema name).
  static DbConnection* findSchema(String const& schema, bool connect, ConnMode mode);
  // A secondary connection to the named server.
  static DbConnection* createSecConn(String const& server);
  // The TAB-separated accessible servers.
  static String accessiblesServers();
  // The TAB-separated schemas of one server, or of every accessible one.
  static String accessiblesSchemas(String const& server);
  // Asks the named server to stop.
  static bool stopServer(String const& server);
  // Drops one reference of c; at the last one, ends its use (aborting an open
  // transaction), disconnects and destroys it.
  static void dispose(DbConnection* c);

protected:
  // Closes the current header: flags cleared, length = body words written.
  void closeHeader();
  // The header being written or read.
  s_MsgBuff header() const { return s_MsgBuff::read(buffer_); }
  void setHeader(s_MsgBuff const& h) { h.write(buffer_); }
  // A report through error() when the mode asks for it.
  void reportFailure(String const& text);
  // The library text of key (the key itself before the catalogues are open).
  static String msgText(char const* key);

  // Fields, in order.
  DbConnection* next_ = nullptr;   // next in the process's list
  char type_;                      // 'i' local, 'r' remote
  int32_t serverId_;               // server id
  TimeStamp transTS_;              // stamp of the transaction begun
  bool inTrans_ = false;           // in a transaction
  bool readyToEnd_ = false;        // prepared in a two-phase end
  String serverName_;              // server name
  int32_t nMsgs_ = 0;              // requests in the current batch
  int32_t retValue_ = 0;           // return value; kReplyPending while outstanding
  bool pending_ = false;           // a request was begun and not yet completed
  int32_t actBuffSize_ = 8;        // length of the last part received
  bool valid_ = true;              // false once the server is found dead
  bool didLock_ = false;           // a lock was taken through this connection
  int32_t status_ = 0;             // -1: could not be set up or connected
  ConnMode mode_;                  // reporting mode
  DbConfigFile* config_ = nullptr; // copy of the configuration, or none

  int32_t curOp_ = 0;              // operation of the request being written
  bool sendFailed_ = false;        // a part of the current batch was not sent
  bool partsSent_ = false;         // parts of the request being written went out
  int32_t lastErrno_ = 0;          // error of the transport's last failed call
  bool replyInHand_ = false;       // a reply was received and may be read
  bool connected_ = false;         // the connect request was answered
  String failText_;                // the transport's text of its last failure, or null

  static DbConnection* head_;
  static bool userBeganTrans;
  static bool raiseOnReply_;
  static NotifHandler notifHandler;

  // After a failed send: drops the batch and fails the current request.
  void dropBatch();
  // Takes the connection out of the process's list (nothing when it is not in it).
  void unlinkFromList();

private:
  void registerConnection();
  // Records the failure of the request being completed.
  void recordFailure(bool sending);
};

// Request counts of this process on its connections.
class ClientMonitor {
public:
  // This process's request count on c (GetClientsInfo 1); -1 when not found.
  static int32_t nMethods(DbConnection* c);
  // "server:count\t" for every open connection, or those to the named server.
  static String nMethods(String const& server);
};
