// The socket transport: RemoteConnection, the DbConnection for a server
// reached through a relay over a stream socket, and SocketConnection, the
// socket endpoint underneath, usable as a client and as an acceptor.
//
// Roads: a TCP connection to another machine, where the two sides settle
// from a test number whether their byte orders differ; or a UNIX-domain
// socket on this machine, named "<dir>/.<prefix><id as 5 digits>" in the
// directory $TMPDIR (or "/tmp" when it is unset). After the socket is open
// the relay sends its part capacity in words; then parts travel in both
// directions, each a header whose clientId word holds the part's total size
// in bytes, followed by its body.
//
// Invariants:
//  - every size from the peer is checked before anything is read into the
//    buffer: a capacity in 1..16383 words, a part size from 12 bytes up to
//    the buffer's size, a whole number of words matching the header's length;
//    a peer that breaks this has its connection closed with an error;
//  - with swapped byte order every header field and every long is
//    byte-reversed both ways; string characters are not;
//  - a client's own socket name is unique to its process (it carries the
//    process id) and has mode 0700; the acceptor takes a local peer only when
//    its socket file is a socket of mode 0700, owned by the peer's user, and
//    no more than 30 seconds old; no socket is bound with a umask of 0.
#pragma once

#include <zfound/DbConnection.h>
#include <zfound/String.h>

#include <cstdint>
#include <sys/types.h>
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

// Conversion types of a socket.
enum ConvType : int32_t {
  NULL_TYPE = 0,  // not yet known
  SAME_TYPE = 1,  // same byte order
  SWAP_TYPE = 2   // swapped byte order
};

class SocketConnection {
public:
  enum Status : int32_t {
    OKEY = 0,
    NO_SERVICE = 1,    // service unknown and no port given
    NO_HOST = 2,       // host unknown
    NO_START = 3,      // no command for the service, or it could not be started
    NO_SOCKET = 4,     // socket could not be created
    NO_CONNECT = 7,    // connect failed
    NO_BIND = 8,       // bind (or setting the socket's mode) failed
    NO_LISTEN = 9,     // listen failed
    NO_ACCEPT = 10,    // accept failed, or the local peer failed the checks
    NO_TESTNUM = 11,   // the test number could not be sent
    BAD_ORDER = 12,    // byte order not recognised, or no test number came
    NO_PEER = 13,      // the descriptor given is not a connected socket
    NO_UNLINK = 14     // a stale socket name could not be removed
  };
  // The test number both sides compare.
  static constexpr uint32_t kTestNum = 12345678;  // 0x00BC614E
  // The service id of a service the service database does not know.
  static constexpr int32_t kDefaultSId = 55555;
  // Seconds a local peer's socket file may be old.
  static constexpr int32_t kMaxPeerAge = 30;

  // A blank endpoint (status OKEY, no socket) for running the socket steps
  // one by one.
  SocketConnection() = default;
  // The client: connects to `service` on `host`; on this machine it starts
  // the service's program first when `start` is set.
  SocketConnection(String const& service, String const& host, bool start);
  // The acceptor for a service (see the source for the three roads).
  SocketConnection(String const& service, bool unixSocket);
  // With ct NULL_TYPE, sd is a listening socket: accept a client on it and
  // send the test number. Otherwise sd is a connected socket of that type.
  SocketConnection(int sd, ConvType ct);
  // Closes the sockets and removes the socket names this object bound.
  ~SocketConnection();
  SocketConnection(SocketConnection const&) = delete;
  SocketConnection& operator=(SocketConnection const&) = delete;

  int32_t status() const { return status_; }
  ConvType convType() const { return convType_; }
  int sockDescr() const { return sockDescr_; }
  int listenDescr() const { return listenDescr_; }

  // Writes the n bytes at p; n, or -1.
  int32_t send(int32_t n, char const* p);
  // Reads until n bytes came or a read gives 0 or less; the bytes read, or -1
  // when the last read failed.
  int32_t receive(int32_t n, char* p);
  // Writes the 4-byte test number in the host's order; -1 on failure.
  int32_t sendTestNum();
  // Reads the peer's test number: same order, swapped, or status 12.
  void defineConvType();
  // Closes the connected socket and sets the status (a peer that broke the
  // protocol).
  void shut(int32_t status);

  // The socket steps; each requires status OKEY and no socket yet.
  void inetCreate(String const& service);
  void inetAccept(int listenSd);
  void inetConnect(String const& service, String const& host);
  void unixCreate(int32_t id);
  void unixAccept(int listenSd);
  void unixConnect(int32_t id);

  // -1 unknown host, 0 this machine, 1 another machine.
  static int32_t hostLoc(String const& host);
  // "<dir>/.<prefix><id as 5 digits>" with dir $TMPDIR or "/tmp".
  static String sockName(char const* prefix, int32_t id);
  static String svSockName(int32_t id) { return sockName("sv", id); }
  // The TCP port of a service name, or kDefaultSId.
  static int32_t getSId(String const& service);

private:
  bool checkState(char const* what);
  void removeOwn();

  int32_t status_ = OKEY;
  int sockDescr_ = -1;
  ConvType convType_ = NULL_TYPE;
  int listenDescr_ = -1;
  std::vector<String> bound_;  // socket names this object bound
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
