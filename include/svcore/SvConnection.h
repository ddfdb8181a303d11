// SvConnection: the server end of the System V message-queue transport.
//
// Endpoint (keys from the server id: base = id << 8):
//   semaphore set  base        two semaphores: 0 the running-server lock
//                              (taken with SEM_UNDO), 1 the stop flag
//   request queue  base | 's'  first parts of every request
//   continuation   base | 'c'  further parts of a request
//   reply queue    base | 'r'  replies and go-ahead messages
// Queues are created with mode 0666 (every local user may be a client),
// the semaphore set with 0644: a client's liveness test (wait for zero)
// needs only read permission, while raising the stop flag or touching the
// running-server lock is left to the server's own user. Every object is
// created exclusively after any left under its key is removed. A part is a 12-byte header
// (MsgHeader.h) and at most 253 body words; its System V type is the client
// id + 1. A Connect comes with the type (pid | 0x40000000) + 1 and is
// answered on that type.
//
// Receive state machine (one request at a time):
//   Empty    -- receive(): fill from the run log (replay) or the queues -->
//   Request  (the current header and its body are being read)
//   Request  -- receive() with data left after a void request --> Request
//               (the next request of the same batch, no queue read)
//   Request  -- clear(), drain() of the owner, getRemainder() + reply() -->
//   Empty
// Reception of a request in several parts: the first part arrives on the
// request queue; after it the server sends an empty go-ahead on the reply
// queue; the other parts come on the continuation queue with the client's
// type. A client that stops sending for 30 housekeeping passes (or is gone)
// loses its partial request ("NOMSGCONT").
//
// Housekeeping: a pass runs when the server's request count asks for one,
// and at the latest two seconds (30 while a run log is recorded) after the
// last pass, whether the server waited all that time or kept taking
// requests: a mirror replays its primary's journal in these passes, also
// while readers keep it busy. The alarm only cuts the wait short at that
// time; a pass that fell due while a request was handled runs before the
// next request is taken.
//
// Untrusted input: nothing a client sends reaches an assertion. A request
// above kMaxRequestBytes, a continuation part that is not full, a part whose
// length field does not match its size, a batched request naming another
// client: the request gets an error reply (InvalidData) and its remaining
// parts are drained; a void request is dropped with a warning instead. A
// read past the received data marks the channel bad (Connection::bad())
// and yields zero words; the dispatch answers such a request with an error.
//
// Replies: the reply queue's byte limit is raised at creation; every send
// is made without blocking. When the queue is full the connection runs the
// dead-client check, drains the replies of clients that are dead or unknown
// and tries again; if the queue stays full, the client with the most unread
// replies is removed (warning "QUEUEFULL"). A dead or slow client never
// freezes the server.
#pragma once

#include <zfound/Connection.h>

#include <chrono>
#include <cstdint>
#include <vector>

class Client;
class Exception;
class RunLog;
struct SysVMsgPart;

// The queue calls of the transport, as msgrcv and msgsnd take them: queue
// 0 is the request queue, 1 the continuation queue, 2 the reply queue. A
// connection made with its own calls creates no IPC object and never reads
// the stop flag; the receive and reply code runs unchanged over them.
struct SvQueueCalls {
  // As msgrcv (MSG_NOERROR given): bytes received, or -1 with errno.
  long (*receive)(void* ctx, int queue, SysVMsgPart* part, long type, int flags) = nullptr;
  // As msgsnd: 0, or -1 with errno.
  int (*send)(void* ctx, int queue, SysVMsgPart const* part, unsigned long bytes, int flags) = nullptr;
  void* ctx = nullptr;
};

// What the connection asks of the server while it waits and sends. Every
// hook may be null (a connection of its own: nothing happens there).
struct SvConnectionHooks {
  // True when a housekeeping pass is due before the next wait.
  bool (*isHouseKeepingTime)() = nullptr;
  // One housekeeping pass (the connection calls it with no client).
  void (*houseKeeping)() = nullptr;
  // The dead-client check; true when a client was removed.
  bool (*heartBeat)() = nullptr;
  // True when a client of that id is registered.
  bool (*knownClient)(int32_t clientId) = nullptr;
  // Removes the client of that id (its replies were not read).
  void (*removeClient)(int32_t clientId) = nullptr;
  // Reports a warning text.
  void (*warning)(char const* text) = nullptr;
};

class SvConnection : public Connection {
public:
  // Body words of one part.
  static constexpr int32_t kPartWords = 253;
  // Bytes of one part after the System V type (header and body).
  static constexpr int32_t kPartBytes = 1024;
  // The largest request accepted, in bytes of parts (header and body).
  static constexpr int32_t kMaxRequestBytes = 1024 * 1024;
  // Housekeeping passes a partial request waits for its next part.
  static constexpr int32_t kContinuationPasses = 30;
  // The flag added to a connecting client's pid to form its reply type - 1.
  static constexpr int32_t kConnectFlag = 0x40000000;
  // Modes of the queues and of the semaphore set.
  static constexpr int kQueueMode = 0666;
  static constexpr int kSemMode = 0644;

  using Hooks = SvConnectionHooks;


  // Sets up the semaphore set and the three queues of the server id (see the
  // top of this file). Throws a startup refusal (SvConnectionError) with the
  // catalogue key and errno: "SVALREADYRUN" (another server holds the key),
  // "NOMSEM", "NOMQ", or a failed system call ("semget", "semop", "semctl",
  // "msgget").
  explicit SvConnection(int32_t serverId, Hooks const& hooks = Hooks());
  // A connection over `calls` (both set): no semaphore set, no queue.
  SvConnection(SvQueueCalls const& calls, Hooks const& hooks);
  // Removes the semaphore set and the queues it created.
  ~SvConnection() override;
  // Removes them now, once: system calls only, so a stop on a signal may
  // call it before the process ends.
  void removeSystemObjects();

  // True when a server of that id holds its running-server lock (semaphore
  // 0 above zero). Makes and changes nothing.
  static bool serverRunning(int32_t serverId);

  // ---- receiving -----------------------------------------------------------------
  // The client id of the next request (the System V type - 1; for a Connect
  // the pid | kConnectFlag), its object id and its message code. The body
  // is then read through the Connection operators.
  int32_t receive(int32_t& objectId, int32_t& msg);
  // Skips whatever is left unread of the current request.
  void getRemainder();
  // True when received data remains beyond the current request (a batch).
  bool isBufferingMsg() const;
  // Reads one body word, stepping to the next part when the current one is
  // used up (as popWord).
  void recInt(int32_t& w);
  // The client id of the request being handled; -1 between requests.
  int32_t clientId() const { return clientId_; }
  // The object id and message code of the request being handled.
  int32_t objectId() const { return objectId_; }
  int32_t message() const { return msg_; }

  // ---- replying ------------------------------------------------------------------
  // Starts a reply in the send part: type = clientId + 1, result word,
  // status, continuation flag set; the body follows through the Connection
  // operators. A status that does not fit 16 bits is sent as -1.
  void reply(int32_t clientId, int32_t status, int32_t result);
  // Clears the flag bits of the current part and sends it: the last (or
  // only) part of a reply.
  void reply();
  // reply(client id, code of e, -1) and e's fields into the body.
  void reply(Client* c, Exception const& e);
  // Warning with e's text, then reply(client id, -code, -1) and e's fields;
  // the caller sends it with reply().
  void replyError(Client* c, Exception const& e);
  // The same for a client id, then getRemainder() and reply().
  void replyError(int32_t clientId, Exception const& e);
  // Sets the status of the reply started (no body word written yet) to e's
  // code and writes its fields. With body words already written, the part
  // is restarted first.
  void sendException(Exception const& e);
  // Clears the flag bits of the send part and marks the received data as
  // consumed.
  void clear();

  // ---- clients and the stop flag --------------------------------------------------
  // Removes every message of the client from the three queues; true when a
  // Disconnect request was among them. Nothing in run-log replay.
  bool drain(Client* c);
  bool drain(int32_t clientId);
  // True when the stop flag (semaphore 1) is set.
  bool stopTime();
  // The last process that sent on the request queue when the queue is now
  // empty (right after a request was taken: its sender); 0 when other
  // messages wait, so the sender is not known; -1 when it cannot be read.
  int32_t idleRequestSender() const;
  // Waits up to `ms` milliseconds for the replies on the reply queue to be
  // read (the stopping client's last reply), before the queues go.
  void awaitRepliesRead(int32_t ms);

  // ---- run log and counters ---------------------------------------------------------
  // Records every request received to the log, or takes requests from it
  // while it replays (null: neither). Not owned.
  void setRunLog(RunLog* log) { runLog_ = log; }
  // Trace marks (">", "|", "B>", "<") on standard error when on.
  void setTrace(bool on) { trace_ = on; }
  // Parts sent so far.
  int32_t nFlushs() const { return nFlushs_; }
  // The send part: header words then body words.
  uint32_t* beginOfBuffer() { return send_; }
  // The queue and semaphore identifiers (tests, ipc clean-up).
  int requestQueue() const { return reqQ_; }
  int continuationQueue() const { return contQ_; }
  int replyQueue() const { return repQ_; }
  int semaphores() const { return semId_; }

  // ---- Connection transport hooks -----------------------------------------------------
  void _flush() override;
  void _fill() override;
  void fillBuff() override;

private:
  enum class Fill { Ok, Retry };
  // Receives a whole request from the queues into rcv_.
  void receiveFromQueues();
  // Reads the next request from the run log; false when it is exhausted.
  bool receiveFromLog();
  // Makes the header at word index `at` current; false when it is not a
  // whole part inside the received data.
  bool setCurrent(int32_t at);
  // Refuses the request received from clientId (error reply or, void,
  // dropped with a warning) and empties the buffer.
  void refuse(int32_t clientId, int32_t msg, char const* why);
  // One non-blocking send of n bytes after the type; retries under the
  // queue-full policy. False when the message could not be sent.
  bool sendPart(long type, void const* text, int32_t n);
  // Reads and drops every message of `type` on queue q; counts Disconnects
  // when `disconnects` is set.
  void drainQueue(int q, long type, int32_t* disconnects);
  // The client with the most replies waiting on the reply queue; -1 none.
  int32_t heaviestReader();
  void warn(char const* text) const;
  void startSendPart();
  // The seconds between housekeeping passes of a connection on the queues.
  unsigned houseKeepingPeriod() const;
  // One housekeeping pass; the next falls due a period later.
  void passHouseKeeping();
  // msgrcv / msgsnd, or the connection's own calls.
  long rcvPart(int q, SysVMsgPart* m, long type, int flags);
  int sndPart(int q, SysVMsgPart const* m, unsigned long bytes, int flags);

  Hooks hooks_;
  SvQueueCalls calls_;
  RunLog* runLog_ = nullptr;
  bool trace_ = false;
  int reqQ_ = -1, contQ_ = -1, repQ_ = -1, semId_ = -1;
  int32_t nFlushs_ = 0;
  int32_t clientId_ = -1;
  int32_t objectId_ = 0;
  int32_t msg_ = 0;
  uint32_t send_[kPartBytes / 4] = {};
  std::vector<uint32_t> rcv_;  // received words: parts back to back
  int32_t rcvEnd_ = 0;         // words of received data
  int32_t cur_ = -1;           // word index of the current part's header
  int32_t reqStart_ = -1;      // word index of the current request's header
  bool curVoid_ = false;       // the current request expects no reply
  // Tries to take a queued request without waiting: receives left before
  // the next try, and the current spacing of tries that found nothing.
  static constexpr int32_t kNoWaitSkipMax = 16;
  int32_t noWaitSkip_ = 0;
  int32_t noWaitBackoff_ = 0;
  // When the next housekeeping pass falls due (unset before the first wait).
  std::chrono::steady_clock::time_point houseKeepingDue_{};
};

// A failure to set up the endpoint: the catalogue key (server or library
// catalogue), the system call that failed (may be empty) and errno.
struct SvConnectionError {
  char const* key;
  char const* call;
  int err;
};
