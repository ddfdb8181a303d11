// The server's side of the fuzz harnesses: an in-process server on a
// temporary directory whose connection runs over simulated queues, and an
// idle child process whose pid the fuzzed clients carry.
//
// The in-process server is the real one (configuration, state file, cache,
// lock tables, server object, request table, main loop); only the System V
// calls of its connection are replaced (SvQueueCalls). Parts put on the
// simulated request and continuation queues are taken by the server's own
// receive code; every part it sends lands in the reply sink, which checks
// that a reply goes to a type that sent a request, in whole parts, and never
// twice for one request.
//
// A storage assertion reached from outside data is a finding: the harnesses
// that link this abort on it (never a clean refusal).
//
// Invariants: one server per process at a time; start() after stop() makes
// it afresh; the idle child lives until the process exits and is then ended
// by its pid.
#pragma once

#include <zfound/MsgHeader.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zffuzz {

// A live child that ignores every signal it may be sent; made on first use
// (again when it died), killed by its pid at exit.
pid_t idleChild();

// Thrown by the simulated queues when the input has nothing more for a
// receive that would wait: it ends the server's main loop.
struct InputDone {};

class FuzzServer {
public:
  // One part on a queue: the type and the bytes after it.
  struct Part {
    long type = 0;
    std::vector<uint8_t> bytes;
    int tag = -1;  // the harness's own mark, for resolve
  };
  // A whole reply seen by the sink: type, result word, status.
  struct Reply {
    long type = 0;
    int32_t result = 0;
    int32_t status = 0;
  };

  // Starts the server on a fresh directory under the fuzz directory:
  // configuration, state file, an empty disk layout, the cache and the lock
  // tables, the server object, the requests and a connection over the
  // simulated queues. With a run log name, requests come from that log
  // (replay) before the queues, or with record set everything received is
  // recorded there. extraConfig: more configuration lines.
  void start(std::string const& runLog = std::string(), std::string const& extraConfig = std::string(),
             bool record = false);
  // Through requests of a client of the idle child, as a client library
  // makes them: schema "fz" with table "T" (id int, name string 10, vals
  // int[4]), a primary index on id, a unique one on name and six records.
  // The client is dropped after. Ends the process when the server refuses.
  void makeSchema();
  uint32_t schemaId() const { return schemaId_; }
  uint32_t tableId() const { return tableId_; }
  // Queues one request (in parts when long) and runs the server until the
  // input is used up: the result word of its reply, -1 for none or an error.
  int32_t call(long type, uint32_t obj, int32_t op, std::vector<uint32_t> const& body);
  // The type of a Connect of the idle child.
  static long connectType();

  // Drops every client and takes the server down (schemas, cache, objects).
  void stop();
  bool running() const { return running_; }
  std::string const& dir() const { return dir_; }

  // Queues parts for the server: queue 0 requests, 1 continuations. The
  // parts are made visible one per receive call, in order, so requests of
  // several clients interleave as given.
  void push(int queue, Part const& p) { input_.push_back({queue, p}); }
  // Runs the main loop until the input is used up or a Stop was accepted;
  // false when a run-log replay was refused.
  bool run();
  // Drops every client with its locks, objects and transactions; the
  // simulated queues are emptied.
  void dropClients();
  // Replies completed since the last call.
  std::vector<Reply> takeReplies();
  // Called for every whole reply as it completes (may be empty).
  std::function<void(Reply const&)> onReply;
  // Called for a part as it becomes visible on its queue (may be empty): the
  // harness fills in what depends on earlier replies (a client's type).
  std::function<void(Part&)> resolve;

  // A request part: header (type as client id, object, operation, body
  // length, MSG_CONT when cont) and body words.
  static Part part(long type, uint32_t obj, int32_t op, std::vector<uint32_t> const& body, bool cont = false);

private:
  static long receive(void* ctx, int queue, SysVMsgPart* part, long type, int flags);
  static int send(void* ctx, int queue, SysVMsgPart const* part, unsigned long bytes, int flags);
  void expect(Part const& p);
  void sink(long type, uint32_t const* words, unsigned long bytes);

  bool running_ = false;
  uint32_t schemaId_ = 0, tableId_ = 0;
  std::string dir_;
  int generation_ = 0;
  std::deque<std::pair<int, Part>> input_;
  std::deque<Part> queues_[2];
  std::map<long, int64_t> expected_, answered_;
  std::map<long, bool> midReply_;
  std::vector<Reply> replies_;
};

}  // namespace zffuzz
