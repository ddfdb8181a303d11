// SocketConnection: the client and acceptor steps of TCP and UNIX-domain
// sockets and the byte-order negotiation by test number.
#include <zfound/SocketConnection.h>

#include <zfound/Assert.h>
#include <zfound/OsServ.h>
#include <zfound/Process.h>
#include <zfound/ProcValues.h>
#include <zfound/RemoteConnection.h>  // the byte reversal (invI)

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <cstddef>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The first label (up to the first '.') of a host name.
std::string firstLabel(char const* name) {
  std::string s(name ? name : "");
  size_t dot = s.find('.');
  return dot == std::string::npos ? s : s.substr(0, dot);
}

bool fillUnixAddr(sockaddr_un& a, String const& path) {
  std::memset(&a, 0, sizeof a);
  a.sun_family = AF_UNIX;
  size_t n = std::strlen(toCharPtr(path));
  if (n == 0 || n >= sizeof a.sun_path) return false;
  std::memcpy(a.sun_path, toCharPtr(path), n);
  return true;
}

// Removes a socket name; false when it exists and cannot be removed.
bool removeName(String const& path) { return unlink(toCharPtr(path)) == 0 || errno == ENOENT; }

}  // namespace

String SocketConnection::sockName(char const* prefix, int32_t id) {
  char const* dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  char buf[512];
  std::snprintf(buf, sizeof buf, "%s/.%s%05d", dir, prefix, int(id));
  return String(buf);
}

int32_t SocketConnection::getSId(String const& service) {
  servent* s = getservbyname(toCharPtr(service), "tcp");
  return s ? int32_t(ntohs(uint16_t(s->s_port))) : kDefaultSId;
}

int32_t SocketConnection::hostLoc(String const& host) {
  char local[256] = {};
  if (gethostname(local, sizeof local - 1) != 0) return -1;
  char const* h = toCharPtr(host);
  hostent* he = nullptr;
  if (h[0] >= '0' && h[0] <= '9') {
    in_addr a {};
    if (inet_aton(h, &a) == 0) return -1;
    he = gethostbyaddr(&a, sizeof a, AF_INET);
  } else {
    he = gethostbyname(h);
  }
  if (!he || !he->h_name) return -1;
  return firstLabel(local) == firstLabel(he->h_name) ? 0 : 1;
}

bool SocketConnection::checkState(char const* what) {
  if (!ZF_PRECOND(status_ == OKEY)) return false;
  if (!ZF_PRECOND(sockDescr_ == -1)) return false;
  return true;
}

SocketConnection::SocketConnection(String const& service, String const& host, bool start) {
  int32_t loc = hostLoc(host);
  if (loc < 0) {
    status_ = NO_HOST;
    return;
  }
  if (loc == 0) {
    convType_ = SAME_TYPE;
    if (!start) {
      unixConnect(getSId(service));
      return;
    }
    String cmd;
    getCmdByService(cmd, service);
    if (cmd.isNull() || cmd.length() == 0) {
      status_ = NO_START;
      return;
    }
    char const* argv[50];
    cmdLineToArgv(cmd, argv, 50);
    pid_t pid = execProcess(argv);
    if (pid < 0) {
      status_ = NO_START;
      return;
    }
    unixConnect(int32_t(pid));
    if (status_ != OKEY) status_ = NO_START;
    return;
  }
  inetConnect(service, host);
  if (status_ == OKEY) defineConvType();
}

SocketConnection::SocketConnection(String const& service, bool unixSocket) {
  if (service.isNull() || service.length() == 0) {
    sockaddr_storage peer {};
    socklen_t len = sizeof peer;
    if (getpeername(0, reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
      // Started by the system's service daemon on a connected socket.
      sockDescr_ = 0;
      convType_ = SAME_TYPE;
      if (sendTestNum() < 0) status_ = NO_TESTNUM;
      return;
    }
    unixCreate(int32_t(getpid()));
    if (status_ != OKEY) return;
    processReady();
    unixAccept(listenDescr_);
    convType_ = SAME_TYPE;
    return;
  }
  if (!unixSocket) {
    inetCreate(service);
    if (status_ != OKEY) return;
    inetAccept(listenDescr_);
    if (status_ != OKEY) return;
    convType_ = SAME_TYPE;
    if (sendTestNum() < 0) status_ = NO_TESTNUM;
    return;
  }
  unixCreate(getSId(service));
  if (status_ != OKEY) return;
  unixAccept(listenDescr_);
  convType_ = SAME_TYPE;
}

SocketConnection::SocketConnection(int sd, ConvType ct) {
  if (ct == NULL_TYPE) {
    inetAccept(sd);
    if (status_ != OKEY) return;
    convType_ = SAME_TYPE;
    if (sendTestNum() < 0) status_ = NO_TESTNUM;
    return;
  }
  sockaddr_storage peer {};
  socklen_t len = sizeof peer;
  if (getpeername(sd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
    status_ = NO_PEER;
    return;
  }
  sockDescr_ = sd;
  convType_ = ct;
}

SocketConnection::~SocketConnection() {
  if (sockDescr_ > 0) close(sockDescr_);
  if (listenDescr_ >= 0) close(listenDescr_);
  removeOwn();
}

void SocketConnection::removeOwn() {
  for (String const& n : bound_) unlink(toCharPtr(n));
  bound_.clear();
}

void SocketConnection::shut(int32_t status) {
  if (sockDescr_ >= 0) {
    if (sockDescr_ > 0) close(sockDescr_);
    sockDescr_ = -1;
  }
  status_ = status;
}

int32_t SocketConnection::send(int32_t n, char const* p) {
  ZF_PRECOND(status_ == OKEY);
  ZF_PRECOND(sockDescr_ != -1);
  if (status_ != OKEY || sockDescr_ == -1 || n < 0) return -1;
  int32_t done = 0;
  while (done < n) {
    ssize_t w = ::send(sockDescr_, p + done, size_t(n - done), MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    done += int32_t(w);
  }
  return n;
}

int32_t SocketConnection::receive(int32_t n, char* p) {
  ZF_PRECOND(status_ == OKEY);
  ZF_PRECOND(sockDescr_ != -1);
  if (status_ != OKEY || sockDescr_ == -1 || n < 0) return -1;
  int32_t done = 0;
  while (done < n) {
    ssize_t r = ::read(sockDescr_, p + done, size_t(n - done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += int32_t(r);
  }
  return done;
}

int32_t SocketConnection::sendTestNum() {
  uint32_t t = kTestNum;
  char b[4];
  std::memcpy(b, &t, 4);
  return send(4, b) == 4 ? 0 : -1;
}

void SocketConnection::defineConvType() {
  ZF_PRECOND(status_ == OKEY);
  ZF_PRECOND(convType_ == NULL_TYPE);
  char b[4];
  if (receive(4, b) != 4) {
    status_ = BAD_ORDER;
    return;
  }
  uint32_t t;
  std::memcpy(&t, b, 4);
  if (t == kTestNum)
    convType_ = SAME_TYPE;
  else if (t == RemoteConnection::invI(kTestNum))
    convType_ = SWAP_TYPE;
  else
    status_ = BAD_ORDER;
}

void SocketConnection::inetCreate(String const& service) {
  if (!checkState("inetCreate")) return;
  servent* s = getservbyname(toCharPtr(service), "tcp");
  if (!s) {
    status_ = NO_SERVICE;
    return;
  }
  char local[256] = {};
  if (gethostname(local, sizeof local - 1) != 0 || !gethostbyname(local)) {
    status_ = NO_HOST;
    return;
  }
  int sd = socket(AF_INET, SOCK_STREAM, 0);
  if (sd < 0) {
    status_ = NO_SOCKET;
    return;
  }
  int on = 1;
  setsockopt(sd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a {};
  a.sin_family = AF_INET;
  a.sin_port = uint16_t(s->s_port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(sd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(sd);
    status_ = NO_BIND;
    return;
  }
  if (listen(sd, 1) != 0) {
    close(sd);
    status_ = NO_LISTEN;
    return;
  }
  listenDescr_ = sd;
}

void SocketConnection::inetAccept(int listenSd) {
  if (!checkState("inetAccept")) return;
  int sd;
  do {
    sd = accept(listenSd, nullptr, nullptr);
  } while (sd < 0 && errno == EINTR);
  if (sd < 0) {
    status_ = NO_ACCEPT;
    return;
  }
  sockDescr_ = sd;
}

void SocketConnection::inetConnect(String const& service, String const& host) {
  if (!checkState("inetConnect")) return;
  char const* h = toCharPtr(host);
  in_addr addr {};
  if (h[0] >= '0' && h[0] <= '9') {
    if (inet_aton(h, &addr) == 0) {
      status_ = NO_HOST;
      return;
    }
  } else {
    hostent* he = gethostbyname(h);
    if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) {
      status_ = NO_HOST;
      return;
    }
    std::memcpy(&addr, he->h_addr_list[0], sizeof addr);
  }
  // "name" or "name/port": the service database's port, else the number.
  std::string text(toCharPtr(service));
  size_t slash = text.find('/');
  std::string name = text.substr(0, slash);
  int port = 0;
  if (servent* s = getservbyname(name.c_str(), "tcp")) {
    port = ntohs(uint16_t(s->s_port));
  } else if (slash != std::string::npos) {
    char* end = nullptr;
    long v = std::strtol(text.c_str() + slash + 1, &end, 10);
    if (end && *end == '\0' && v > 0 && v < 65536) port = int(v);
  }
  if (port == 0) {
    status_ = NO_SERVICE;
    return;
  }
  int sd = socket(AF_INET, SOCK_STREAM, 0);
  if (sd < 0) {
    status_ = NO_SOCKET;
    return;
  }
  sockaddr_in a {};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr = addr;
  int r;
  do {
    r = ::connect(sd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    close(sd);
    status_ = NO_CONNECT;
    return;
  }
  sockDescr_ = sd;
}

void SocketConnection::unixCreate(int32_t id) {
  if (!checkState("unixCreate")) return;
  int sd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (sd < 0) {
    status_ = NO_SOCKET;
    return;
  }
  String name = sockName("sv", id);
  sockaddr_un a;
  if (!removeName(name)) {
    close(sd);
    status_ = NO_UNLINK;
    return;
  }
  // Bound under the process's own umask; then opened to every user, who
  // all may reach the service.
  if (!fillUnixAddr(a, name) || bind(sd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(sd);
    status_ = NO_BIND;
    return;
  }
  bound_.push_back(name);
  if (chmod(toCharPtr(name), 0777) != 0) {
    close(sd);
    status_ = NO_BIND;
    return;
  }
  if (listen(sd, 5) != 0) {
    close(sd);
    status_ = NO_LISTEN;
    return;
  }
  listenDescr_ = sd;
}

void SocketConnection::unixAccept(int listenSd) {
  if (!checkState("unixAccept")) return;
  sockaddr_un peer {};
  socklen_t len = sizeof peer;
  int sd;
  do {
    len = sizeof peer;
    sd = accept(listenSd, reinterpret_cast<sockaddr*>(&peer), &len);
  } while (sd < 0 && errno == EINTR);
  if (sd < 0) {
    status_ = NO_ACCEPT;
    return;
  }
  // The peer's own socket file: a socket, mode 0700, owned by the peer's
  // user, and fresh.
  ucred cred {};
  socklen_t clen = sizeof cred;
  struct stat st {};
  size_t pathLen = len > offsetof(sockaddr_un, sun_path) ? len - offsetof(sockaddr_un, sun_path) : 0;
  std::string path(peer.sun_path, strnlen(peer.sun_path, pathLen));
  bool ok = !path.empty() && getsockopt(sd, SOL_SOCKET, SO_PEERCRED, &cred, &clen) == 0 &&
            lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && (st.st_mode & 07777) == 0700 &&
            st.st_uid == cred.uid;
  if (ok) {
    // Ages to the nanosecond: whole seconds of a coarse clock could let a
    // file just over the limit pass.
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    for (timespec const& t : {st.st_atim, st.st_mtim, st.st_ctim}) {
      int64_t age = (int64_t(now.tv_sec) - int64_t(t.tv_sec)) * 1000000000 + (int64_t(now.tv_nsec) - int64_t(t.tv_nsec));
      if (age > int64_t(kMaxPeerAge) * 1000000000) ok = false;
    }
  }
  if (!ok) {
    close(sd);
    status_ = NO_ACCEPT;
    return;
  }
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    close(sd);
    status_ = NO_UNLINK;
    return;
  }
  sockDescr_ = sd;
}

void SocketConnection::unixConnect(int32_t id) {
  if (!checkState("unixConnect")) return;
  int sd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (sd < 0) {
    status_ = NO_SOCKET;
    return;
  }
  // The client's own name carries its process id: unique per client process.
  String own = sockName("cl", int32_t(getpid()));
  if (!removeName(own)) {
    close(sd);
    status_ = NO_UNLINK;
    return;
  }
  sockaddr_un a;
  if (!fillUnixAddr(a, own) || bind(sd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      chmod(toCharPtr(own), 0700) != 0) {
    close(sd);
    unlink(toCharPtr(own));
    status_ = NO_BIND;
    return;
  }
  sockaddr_un to;
  int r = -1;
  if (fillUnixAddr(to, sockName("sv", id))) {
    do {
      r = ::connect(sd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    } while (r != 0 && errno == EINTR);
  }
  if (r != 0) {
    close(sd);
    unlink(toCharPtr(own));
    status_ = NO_CONNECT;
    return;
  }
  sockDescr_ = sd;
}

