// A raw-protocol client of a running server, for tests: it opens the
// server's queues by key and sends and receives parts exactly as given, so
// a test can send any Connect, any request, hand-made or malformed parts,
// and read replies of any type.
//
// Requests longer than one part follow the transport's rule: first part on
// the request queue, the server's empty go-ahead on the reply queue, the
// other parts on the continuation queue. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>


namespace zftest {

// One reply as received (all its parts joined).
struct RawReply {
  bool ok = false;        // a reply arrived in time and was well formed
  long type = 0;          // its System V type
  int32_t result = 0;     // the header's second word
  int16_t status = 0;     // 0, or an error code (negative: an error reply)
  int32_t parts = 0;
  std::vector<uint32_t> body;
};

class RawClient {
public:
  // Opens the endpoint of serverId; ok() false when it does not exist.
  explicit RawClient(int32_t serverId);
  bool ok() const { return reqQ_ >= 0 && contQ_ >= 0 && repQ_ >= 0; }

  // Stands for the calling process's own effective uid or gid.
  static constexpr int32_t kOwnId = INT32_MIN;
  // The body of a Connect: version, uid, gid, program, args, node, tty,
  // stoppable. The server checks the ids against the process: by default
  // they are the caller's own.
  static std::vector<uint32_t> connectBody(int32_t version, int32_t uid = kOwnId, int32_t gid = kOwnId,
                                           std::string const& program = "rawclient");
  // Sends Connect with `body` under the type (pid | 0x40000000) + 1 and
  // reads its reply (waiting up to timeoutSec); on success the client id is
  // the reply's result.
  RawReply connect(std::vector<uint32_t> const& body, int32_t pid = -1, int timeoutSec = 20);
  RawReply connect(int32_t version = 1101) { return connect(connectBody(version)); }
  int32_t clientId() const { return clientId_; }
  void setClientId(int32_t id) { clientId_ = id; }

  // Sends a request (cut into parts as needed); false when it could not be
  // sent (or no go-ahead came).
  bool send(int32_t objId, int32_t op, std::vector<uint32_t> const& body = {});
  // send, then the reply of the own type.
  RawReply request(int32_t objId, int32_t op, std::vector<uint32_t> const& body = {}, int timeoutSec = 20);
  // Sends one queue message as given: `words` after the type on the
  // request ('s') or continuation ('c') queue.
  bool sendRaw(char queue, long type, std::vector<uint32_t> const& words);
  // Reads one reply (all its parts) of `type` (0: the own type).
  RawReply reply(long type = 0, int timeoutSec = 20);
  // Waits for the empty go-ahead of the own type.
  bool goAhead(int timeoutSec = 20);
  // Messages waiting on the reply queue (all types).
  int32_t pendingReplies() const;

  // A header word triple: type, object id, code, length and flags.
  static std::vector<uint32_t> header(long type, int32_t objId, int32_t op, int32_t words, bool continued);
  // One String as its wire words.
  static std::vector<uint32_t> text(std::string const& s);

  long ownType() const { return long(clientId_) + 1; }

private:
  int reqQ_ = -1, contQ_ = -1, repQ_ = -1;
  int32_t clientId_ = -1;
};

}  // namespace zftest
