// RemoteConnection: the DbConnection for a server reached through a relay
// over a stream socket (the endpoint underneath is a SocketConnection,
// SocketConnection.h).
//
// After the socket is open the relay sends its part capacity in words; then
// parts travel in both directions, each a header whose clientId word holds
// the part's total size in bytes, followed by its body.
//
// Invariants:
//  - every size from the peer is checked before anything is read into the
//    buffer: a capacity in 1..16383 words, a part size from 12 bytes up to
//    the buffer's size, a whole number of words matching the header's length;
//    a peer that breaks this has its connection closed with an error;
//  - with swapped byte order every header field and every long is
//    byte-reversed both ways; string characters are not.
#pragma once

#include <zfound/DbConnection.h>
#include <zfound/SocketConnection.h>
#include <zfound/String.h>

#include <cstdint>
#include <vector>

// The login callback: fills in the password for a user (and may change the
// user); -1 cancels the login.
class StringRefStringRefBaseAction {
public:
  virtual ~StringRefStringRefBaseAction() = default;
  // A copy of the action.
  virtual StringRefStringRefBaseAction* clone() const = 0;
  // user: the user name (may be changed); password: holds the host name on
  // entry, the password on return. -1 cancels.
  virtual int32_t execute(String& user, String& password) = 0;
};

class RemoteConnection : public DbConnection {
public:
  // The default service.
  static constexpr char const* kDefaultService = "vod-ade";
  // Largest part capacity (words) a relay may announce.
  static constexpr int32_t kMaxCapacity = 0x3FFF;

  RemoteConnection(DbConfigFile const& cfg, ConnMode mode, String const& service,
                   StringRefStringRefBaseAction* action);
  RemoteConnection(String const& host, String const& serverName, ConnMode mode, String const& service,
                   StringRefStringRefBaseAction* action);
  ~RemoteConnection() override;

  // Opens the socket to the relay and reads its capacity; status -1 when
  // that fails.
  void initialize(String const& host, String const& service);
  // The login and the connect request; status -1 when it is refused.
  void connect(bool secondary) override;
  bool isInvert() override { return needConvert_; }
  uint32_t* beginOfBuffer() override { return buf_.empty() ? nullptr : buf_.data(); }
  uint32_t* realBuffer() override { return beginOfBuffer(); }

  int32_t sendPart() override;
  int32_t fillPart() override;

  Connection& operator<<(int32_t w) override;
  Connection& operator>>(int32_t& w) override;
  using Connection::operator<<;
  using DbConnection::operator>>;

  // Converts every header in the size bytes from first (precondition
  // "needConvert").
  void convertHeaders(uint32_t* first, int32_t size);
  // Writes the buffer up to the write position as one part; 0, or -7.
  int32_t sendTo();
  // Reads one part into the buffer; its body bytes, or -8.
  int32_t receiveFrom();
  String const& hostName() const { return name_; }
  SocketConnection* socket() const { return scon_; }

  // Byte reversal of a 16-bit and a 32-bit value, and of a header in place.
  static uint16_t invS(uint16_t v);
  static uint32_t invI(uint32_t v);
  static void invH(void* header);
  // Reverses in place every header of the batch in `words` words from first,
  // walking the headers' lengths: toHost when they arrive reversed (the
  // length is read after the reversal), else before they leave.
  static void invHeaders(uint32_t* first, int32_t words, bool toHost);

private:
  std::vector<uint32_t> buf_;                // (capacity + 3) words
  SocketConnection* scon_ = nullptr;         // the socket
  StringRefStringRefBaseAction* action_ = nullptr;  // login action (owned copy)
  bool needConvert_ = false;                 // byte orders differ
};
