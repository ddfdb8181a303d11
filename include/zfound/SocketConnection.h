// SocketConnection: the socket endpoint of the socket transport, usable as
// a client and as an acceptor.
//
// Roads: a TCP connection to another machine, where the two sides settle
// from a test number whether their byte orders differ; or a UNIX-domain
// socket on this machine, named "<dir>/.<prefix><id as 5 digits>" in the
// directory $TMPDIR (or "/tmp" when it is unset).
//
// Invariants:
//  - a client's own socket name is unique to its process (it carries the
//    process id) and has mode 0700; the acceptor takes a local peer only when
//    its socket file is a socket of mode 0700, owned by the peer's user, and
//    no more than 30 seconds old; no socket is bound with a umask of 0;
//  - the destructor closes both descriptors and removes every socket name
//    this object bound.
#pragma once

#include <zfound/String.h>

#include <cstdint>
#include <vector>

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
