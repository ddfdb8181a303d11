// IpcConnection: the DbConnection for a server on the same machine, over
// the server's System V endpoint.
//
// The endpoint's keys derive from the server id (key = id << 8): request
// queue key + 's', continuation queue key + 'c', reply queue key + 'r', and a
// set of two semaphores under key itself: semaphore 0 is held above zero by
// the running server, semaphore 1 is the stop flag. The client only opens
// them. Parts are at most 1024 bytes after the message type (header and 253
// body words); the message type is the client id + 1. Every blocking queue
// call runs under a 10-second alarm; when it is interrupted, semaphore 0 tells
// a slow server (wait again) from a dead one (the connection becomes not
// valid).
//
// A request longer than one part goes out as its first part on the request
// queue; the client then waits for the server's empty go-ahead on the reply
// queue and sends the other parts on the continuation queue.
#pragma once

#include <zfound/DbConnection.h>
#include <zfound/MsgHeader.h>

#include <cstdint>

class IpcConnection : public DbConnection {
public:
  // Seconds of the alarm around each blocking queue call.
  static constexpr int32_t kAlarmSeconds = 10;

  // The connection for cfg; then initialize(server id of cfg).
  IpcConnection(DbConfigFile const& cfg, ConnMode mode);
  // Type 'i', empty host, that id and name; then initialize(id).
  IpcConnection(int32_t id, String const& name, ConnMode mode);
  ~IpcConnection() override;

  // Opens the endpoint of server id and checks that the server runs; the
  // status becomes -1 when it cannot (reported under abortOnInit).
  void initialize(int32_t id);
  // Sends the connect request (nothing when the status is -1) and takes the
  // client id from its answer; a refused connect sets the status to -1 and
  // leaves the error as the current exception.
  void connect(bool secondary) override;
  // DbConnection::begin, then the client word = client id + 1.
  void begin(int32_t objid, SvMessage op) override;
  // Raises semaphore 1 by 1; true on success.
  bool stopSv() override;
  // Waits until semaphore 0 is zero (or the set is gone): true; false on
  // other failures.
  bool waitForServerHalt() override;
  // False once semaphore 0 is zero or the set is gone (the server ended).
  bool serverAlive() override;
  bool addSchema(String const& s) override;
  bool delSchema(String const& s) override;
  uint32_t* beginOfBuffer() override { return buf_; }
  uint32_t* realBuffer() override { return buf_; }

  int32_t sendPart() override;
  int32_t fillPart() override;

  // ---- passing requests on (a relay) ---------------------------------------------
  // Sends the n message words at `words` (whole requests, or one part of a
  // request in several parts, headers in host order) as one part of the
  // request op; the go-ahead of a request in several parts is awaited as
  // for the client's own. 0, or -1 when it was not sent.
  int32_t passPart(uint32_t const* words, int32_t n, SvMessage op);
  // Receives one reply part to the request op into out (room for 256
  // words); the words received, or -1.
  int32_t takePart(uint32_t* out, SvMessage op);

  // ---- accessors ------------------------------------------------------------------
  int32_t ipcClientId() const { return peerId_ + 1; }
  int32_t getClientId() const { return peerId_; }
  uint32_t* getBuffer() { return buffer_; }
  // Write position = header + 12 + n bytes (n a multiple of 4).
  void setPtrBuff(int32_t n) { writePos_ = buffer_ + 3 + n / 4; }
  // Length field from the write position.
  void setDefCurrMsgLength();
  // Length field = n; flags kept.
  void setCurrMsgLength(int32_t n);
  // Flag bits = f; length kept.
  void setBuffFlags(int16_t f);
  // The two flag bits.
  int32_t getBuffFlags() const;
  void resetNMsgs() { nMsgs_ = 0; }
  int32_t getActBuffSize() const { return actBuffSize_; }
  // Seconds a reply (the Connect's included) is awaited from a server that
  // lives but does not answer, before the request fails with ETIMEDOUT and
  // timedOut() turns true; 0 (the default) waits as long as the server
  // lives.
  void setReplyLimit(int32_t seconds) { replyLimit_ = seconds > 0 ? seconds : 0; }
  bool timedOut() const { return timedOut_; }

  // After a failed queue call with error err: true to retry (the server is
  // alive and the alarm fired); false to give up (a hard error, reported as
  // `what` and err under reportErrors; or the server is dead: the connection
  // becomes not valid and "SERVERDEAD" is reported under reportErrors).
  bool checkIntr(char const* what, int err);
  // A failure to open the endpoint: under abortOnInit the connection leaves
  // the list and the failure is reported; otherwise the status becomes -1.
  void createError(char const* call, int expected);

private:
  // One blocking queue call under the alarm; retried while checkIntr says so.
  bool waitGoAhead();

  uint32_t buf_[MSG_PART_BYTES / 4];  // header and body of the part in hand
  int32_t contState_ = 0;   // 0 first part, 1 go-ahead awaited, 2 continuation parts
  int reqQ_ = -1;           // request queue id
  int contQ_ = -1;          // continuation queue id
  int repQ_ = -1;           // reply queue id
  int semId_ = -1;          // semaphore set id
  int32_t replyLimit_ = 0;  // seconds a reply is awaited; 0 no limit
  bool timedOut_ = false;   // a reply was given up for replyLimit_
};
