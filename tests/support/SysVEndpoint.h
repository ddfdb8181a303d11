// A test-only server endpoint on System V queues: the server's side of the
// client protocol, enough to test client connections until the server
// itself exists.
//
// It runs in a forked child. Like the server it removes queues left under
// its keys, creates the request, continuation and reply queues (key + 's',
// 'c', 'r', key = server id << 8) and the set of two semaphores under key,
// and holds semaphore 0 above zero (with SEM_UNDO) while it lives. It answers
// Connect with a client id, hands every other request that expects a reply
// to a handler of the test's choice, sends the go-ahead for requests in
// several parts and reads their continuation parts, gives no reply to void
// requests, Disconnect and Stop, and ends when semaphore 1 is raised.
//
// Every request is appended to a log file as one line:
//   "<tag> <message number> <op> <objId> <parts> <body words in hex...>"
// (requests batched in one queue message share its number) so that the test can check what arrived, in what order, byte for byte.
//
// The destructor kills the child and removes the queues and the semaphore
// set, so nothing is left behind even when a test fails; when the test
// process ends without it (a fatal report, a crash), the child removes them
// itself and ends.
#pragma once

#include <zfound/Exception.h>
#include <zfound/LoopConnection.h>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zftest {

// A server id whose System V keys are unique to this process and call.
int32_t uniqueServerId();

// Writes and reads values as the wire holds them: with `swapped`, every
// long (and length word) is byte-reversed, as a machine of the other byte
// order would have it; string characters are not.
class WireCodec : public LoopConnection {
public:
  explicit WireCodec(bool swapped = false) : LoopConnection(4096), swapped_(swapped) {}
  Connection& operator<<(int32_t w) override;
  Connection& operator>>(int32_t& w) override;
  using LoopConnection::operator<<;
  using LoopConnection::operator>>;

private:
  bool swapped_;
};

// One request as the endpoint received it (all its parts joined).
struct EndpointRequest {
  int32_t clientId = 0;  // the message type (client id + 1)
  int32_t objId = 0;
  int16_t op = 0;
  int32_t parts = 1;
  std::vector<uint32_t> body;
};

// The answer to a request.
struct EndpointReply {
  int32_t retValue = 0;
  int16_t status = 0;             // 0, or an error code (negative: raise too)
  std::vector<uint32_t> body;     // body words (may need several parts)
  std::vector<EndpointReply> before;  // sent first (notifications)
};

using EndpointHandler = std::function<EndpointReply(EndpointRequest const&)>;

// A reply carrying the error e (its code as status, its fields as body).
EndpointReply errorReply(Exception const& e, bool raise = false, bool swapped = false);
// Body words written by `write` through a WireCodec.
std::vector<uint32_t> encodeWords(std::function<void(Connection&)> const& write, bool swapped = false);

class SysVEndpoint {
public:
  // The client id the endpoint gives at Connect.
  static constexpr int32_t kClientId = 7;

  // An endpoint for serverId that logs to logFile, each line starting with
  // tag; `handler` answers requests other than Connect (by default the
  // return value 0 and an empty body). With `swapped` the endpoint reads
  // and writes longs in the other byte order.
  SysVEndpoint(int32_t serverId, std::string logFile, std::string tag, EndpointHandler handler = nullptr,
               bool swapped = false);
  ~SysVEndpoint();
  SysVEndpoint(SysVEndpoint const&) = delete;
  SysVEndpoint& operator=(SysVEndpoint const&) = delete;

  // Makes the endpoint refuse every Connect with the error e (before start()).
  void refuseConnects(Exception const& e) { refuse_.reset(e.clone()); }
  // Forks the endpoint and waits until its queues and semaphores exist.
  bool start();
  // Kills the endpoint (SIGKILL) and reaps it; the queues stay.
  void kill();
  // Removes the queues and the semaphore set.
  void removeIpc();
  // True while the child runs (reaps it when it has ended).
  bool running();
  pid_t pid() const { return pid_; }
  int32_t serverId() const { return serverId_; }
  int32_t key() const { return int32_t(uint32_t(serverId_) << 8); }

private:
  [[noreturn]] void serve(int readyFd);

  int32_t serverId_;
  std::string log_;
  std::string tag_;
  EndpointHandler handler_;
  bool swapped_;
  std::shared_ptr<Exception> refuse_;
  pid_t pid_ = -1;
};

}  // namespace zftest
