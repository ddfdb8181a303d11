// zfrelay: the relay service behind the socket transport.
//
// It accepts client connections (on a TCP address and port, on the local
// socket of a service, or, started without either, on descriptor 0 or on the
// local socket named after its own process id, reporting ready to the
// program that started it) and serves each in a process of its own:
//   - it opens the byte-order negotiation (the test number, on TCP) and
//     announces its part capacity, 253 words, so that every part fits one
//     System V message;
//   - it reads parts whose first header's clientId word holds the part's
//     size in bytes, checking every size before anything is read into its
//     buffer, and closes a connection that breaks the form;
//   - the first request must be Connect: it reads the server name, the
//     client's process values and the secondary flag, finds the server's id
//     in the server's configuration, connects to it over the System V
//     transport and answers with the client id or the server's error;
//   - a client on a local socket must name the user the system reports for
//     its socket, and the server sees that user's ids; on TCP the relay
//     connects with its own ids;
//   - it passes every later part to the server unchanged but for the
//     headers' clientId words, and returns the reply parts; when the server
//     is found dead it answers ServerIsDead, as the System V transport
//     records it, and when it cannot be reached otherwise ShadowError with
//     the reason; then it closes.
// With --swap it presents itself as a machine of the other byte order:
// the test number, the capacity and every header are byte-reversed on the
// wire; bodies pass through untouched, as between two machines of one
// order, and the relay's own answers write their longs reversed.
#include <zfound/AppMain.h>
#include <zfound/DbConfigFile.h>
#include <zfound/Exception.h>
#include <zfound/IpcConnection.h>
#include <zfound/LoopConnection.h>
#include <zfound/Message.h>
#include <zfound/MsgHeader.h>
#include <zfound/OptionParser.h>
#include <zfound/OsServ.h>
#include <zfound/ProcValues.h>
#include <zfound/RemoteConnection.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

String tcpOpt;
String unixOpt;
bool swapOpt = false;

// Part capacity announced to clients: one System V part.
constexpr int32_t kCapacity = MSG_PART_WORDS;
constexpr int32_t kPartWords = kCapacity + 3;

// Values as this relay's wire holds them (longs reversed under --swap).
class RelayCodec : public LoopConnection {
public:
  explicit RelayCodec(bool swapped) : LoopConnection(4096), swapped_(swapped) {}
  Connection& operator<<(int32_t w) override {
    return LoopConnection::operator<<(swapped_ ? int32_t(RemoteConnection::invI(uint32_t(w))) : w);
  }
  Connection& operator>>(int32_t& w) override {
    LoopConnection::operator>>(w);
    if (swapped_) w = int32_t(RemoteConnection::invI(uint32_t(w)));
    return *this;
  }
  using LoopConnection::operator<<;
  using LoopConnection::operator>>;

private:
  bool swapped_;
};

// The program's text of key followed by a blank and arg.
String text(char const* key, String const& arg) {
  String t = appMsg(key);
  t += " ";
  t += arg;
  return t;
}

class Session {
public:
  // `local`: the client came through a local socket, whose peer's user the
  // system tells.
  Session(SocketConnection& s, bool swapped, bool local) : sock_(s), swapped_(swapped), local_(local) {}
  // A client that went away without disconnecting is disconnected from the
  // server here, so the server does not keep it.
  ~Session() {
    if (ipc_ && ipc_->isValid() && !disconnected_) {
      (*ipc_)(DbConnection::kServerObject, DBM_DISCONNECT);
      ipc_->execute();
    }
    delete ipc_;
  }

  void run() {
    uint32_t cap = uint32_t(kCapacity);
    if (swapped_) cap = RemoteConnection::invI(cap);
    if (sock_.send(4, reinterpret_cast<char const*>(&cap)) != 4) return;
    uint32_t part[kPartWords];
    for (;;) {
      int32_t n = readPart(part);
      if (n < 0) return;
      std::vector<MsgBatchItem> items;
      if (!splitMsgWords(part, n, items)) return;
      if (!ipc_) {
        if (!connect(part, items)) return;
        continue;
      }
      if (!pass(part, n, items)) return;
    }
  }

private:
  // One part from the client, headers in host order; its words, or -1 (the
  // connection is then to be closed).
  int32_t readPart(uint32_t* part) {
    if (sock_.receive(12, reinterpret_cast<char*>(part)) != 12) return -1;
    if (swapped_) RemoteConnection::invH(part);
    int64_t size = msgClientId(part);
    if (size < 12 || size > int64_t(kPartWords) * 4 || size % 4 != 0) return -1;
    int32_t body = int32_t(size - 12);
    if (body > 0 && sock_.receive(body, reinterpret_cast<char*>(part + 3)) != body) return -1;
    int32_t n = int32_t(size / 4);
    if (swapped_) {
      // The later headers of a batch, converted walking their lengths.
      int32_t at = 3 + s_MsgBuff::read(part).length();
      if (at + 3 <= n) RemoteConnection::invHeaders(part + at, n - at, true);
    }
    return n;
  }

  // Sends one part (host-order header) to the client.
  bool writePart(uint32_t* part, int32_t n) {
    setMsgClientId(part, n * 4);
    if (swapped_) RemoteConnection::invH(part);
    return sock_.send(n * 4, reinterpret_cast<char const*>(part)) == n * 4;
  }

  // Answers with return value ret, status st and the body words.
  bool reply(int32_t ret, int16_t st, std::vector<uint32_t> const& body) {
    uint32_t part[kPartWords] = {};
    int32_t n = int32_t(body.size());
    s_MsgBuff h;
    h.objId = ret;
    h.serverOp = st;
    int32_t parts = msgPartCount(n, kCapacity);
    for (int32_t i = 0; i < parts; ++i) {
      MsgPartSpan sp = msgPart(n, i, kCapacity);
      msgPartHeader(h, n, i, kCapacity).write(part);
      if (sp.words > 0) std::memcpy(part + 3, body.data() + sp.first, size_t(sp.words) * 4);
      if (!writePart(part, 3 + sp.words)) return false;
    }
    return true;
  }

  // Answers with an error object.
  bool replyError(Exception const& e) {
    RelayCodec c(swapped_);
    e.send(&c);
    return reply(-1, int16_t(e.code()), c.words());
  }

  bool connect(uint32_t const* part, std::vector<MsgBatchItem> const& items) {
    MsgBatchItem const& it = items.front();
    if (items.size() != 1 || it.h.serverOp != DBM_CONNECT || it.h.continued()) {
      replyError(ShadowError(appMsg("RELAYBADCONN")));
      return false;
    }
    RelayCodec c(swapped_);
    c.feed(std::vector<uint32_t>(part + it.bodyWord, part + it.bodyWord + it.h.length()));
    int32_t version = 0, secondary = 0, withPassword = 0;
    String server, node, program, args, tty, user, password;
    c >> version >> server >> node >> program >> args >> tty >> secondary >> user >> withPassword;
    if (withPassword == 1) c >> password;
    if (c.bad()) {
      replyError(ShadowError(appMsg("RELAYBADCONN")));
      return false;
    }
    DbConfigFile cfg;
    if (server.length() == 0 || !cfg.read(server, 'i')) {
      replyError(ShadowError(text("RELAYNOSERVER", server)));
      return false;
    }
    if (local_ && !actAsPeer(user)) {
      replyError(InvalidLogin(user, String("local")));
      return false;
    }
    server_ = server;
    setProcessValues(version, node, program, args, tty);
    Exception::init(true);
    Exception::last(Exception(0));
    ipc_ = new IpcConnection(cfg.getServerId(), server, ConnMode(0));
    if (ipc_->status() == -1) {
      replyError(ShadowError(text("RELAYNOTRUN", server)));
      return false;
    }
    ipc_->connect(secondary != 0);
    if (ipc_->status() == -1) {
      Exception const& e = Exception::last();
      if (e.code() != 0)
        replyError(e);
      else
        replyError(ShadowError(text("RELAYNOTRUN", server)));
      return false;
    }
    return reply(ipc_->getClientId(), 0, {});
  }

  bool pass(uint32_t* part, int32_t n, std::vector<MsgBatchItem> const& items) {
    int32_t type = ipc_->ipcClientId();
    for (MsgBatchItem const& it : items) setMsgClientId(part + it.bodyWord - 3, type);
    s_MsgBuff last = items.back().h;
    SvMessage op = validSvMessage(last.serverOp) ? SvMessage(last.serverOp) : DBM_ATTACH;
    bool wantsReply = !last.continued() && validSvMessage(last.serverOp) && !isVoid(op) &&
                      op != DBM_DISCONNECT && op != DBM_STOP;
    if (ipc_->passPart(part, n, op) != 0) {
      if (wantsReply) replyLost();
      return false;
    }
    if (op == DBM_DISCONNECT && !last.continued()) {
      disconnected_ = true;
      return false;
    }
    if (!wantsReply) return true;
    for (;;) {
      uint32_t in[MSG_PART_BYTES / 4];
      int32_t got = ipc_->takePart(in, op);
      if (got < 3) {
        replyLost();
        return false;
      }
      s_MsgBuff h = s_MsgBuff::read(in);
      // A pending notification comes before the real reply: wait on.
      int32_t code = h.status() < 0 ? -h.status() : h.status();
      Exception* proto = code != 0 ? Exception::getException(uint16_t(code)) : nullptr;
      bool more = h.continued() || (proto && proto->isPendNotification());
      if (!writePart(in, got)) return false;
      if (!more) return true;
    }
  }

  // Answers a request that found no server: a server found dead gives the
  // client the same error as on the System V transport; any other failure
  // is the relay's own.
  bool replyLost() {
    if (!ipc_->isValid()) return replyError(ServerIsDead(server_));
    return replyError(ShadowError(text("RELAYLOST", server_)));
  }

  // A local client connects to the server as the user the system reports
  // for its socket, who must be the user it names; a relay running as the
  // super-user takes on that user's ids for the connection.
  bool actAsPeer(String const& user) {
    ucred cred {};
    socklen_t len = sizeof cred;
    if (getsockopt(sock_.sockDescr(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    if (userId(user) != int64_t(cred.uid)) return false;
    if (geteuid() == 0 && cred.uid != 0) {
      if (setegid(cred.gid) != 0 || seteuid(cred.uid) != 0) return false;
    }
    return geteuid() == cred.uid || geteuid() == 0;
  }

  SocketConnection& sock_;
  bool swapped_;
  bool local_;
  IpcConnection* ipc_ = nullptr;
  bool disconnected_ = false;  // the client's Disconnect was passed on
  String server_;
};

// Serves one accepted client in a process of its own.
void serveChild(SocketConnection& s, bool swapped, bool local) {
  Session session(s, swapped, local);
  session.run();
}

int listenTcp(String const& spec, int& port) {
  std::string t(toCharPtr(spec));
  size_t colon = t.rfind(':');
  if (colon == std::string::npos) return -1;
  sockaddr_in a {};
  a.sin_family = AF_INET;
  if (inet_aton(t.substr(0, colon).c_str(), &a.sin_addr) == 0) return -1;
  a.sin_port = htons(uint16_t(std::atoi(t.c_str() + colon + 1)));
  int sd = socket(AF_INET, SOCK_STREAM, 0);
  if (sd < 0) return -1;
  int on = 1;
  setsockopt(sd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(sd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(sd, 16) != 0) {
    close(sd);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(sd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return sd;
}

}  // namespace

class RelayApp : public CVApp {
public:
  static String appName() { return String("zfrelay"); }
  static String appVersion() { return String("1.0"); }

  static OptionParser* cmdLine() {
    static OptionParser* parser = nullptr;
    if (!parser) {
      parser = new OptionParser(true);
      *parser << new StrOption(tcpOpt, "tcp", 't', "[HELPTCP\tlisten on this address and port]", String())
              << new StrOption(unixOpt, "unix", 'u', "[HELPUNIX\tlisten on the local socket of this service]",
                               String())
              << new BoolOption(swapOpt, "swap", 's', "[HELPSWAP\tpresent the other byte order]");
    }
    return parser;
  }

  int32_t execute() override {
    // Children are reaped by the system; each serves one client.
    Signal(SIGCHLD, SIG_IGN);
    if (tcpOpt.length() > 0) {
      int port = 0;
      int sd = listenTcp(tcpOpt, port);
      if (sd < 0) {
        std::fprintf(stderr, "zfrelay: cannot listen on %s\n", toCharPtr(tcpOpt));
        return 1;
      }
      std::printf("port %d\n", port);
      std::fflush(stdout);
      for (;;) {
        int c = accept(sd, nullptr, nullptr);
        if (c < 0) {
          if (errno == EINTR) continue;
          return 1;
        }
        pid_t p = fork();
        if (p == 0) {
          close(sd);
          SocketConnection s(c, SAME_TYPE);
          if (s.status() == SocketConnection::OKEY) {
            uint32_t t = SocketConnection::kTestNum;
            if (swapOpt) t = RemoteConnection::invI(t);
            if (s.send(4, reinterpret_cast<char const*>(&t)) == 4) serveChild(s, swapOpt, false);
          }
          _exit(0);
        }
        close(c);
      }
    }
    if (unixOpt.length() > 0) {
      SocketConnection l;
      l.unixCreate(SocketConnection::getSId(unixOpt));
      if (l.status() != SocketConnection::OKEY) {
        std::fprintf(stderr, "zfrelay: cannot listen on the socket of %s (status %d)\n", toCharPtr(unixOpt),
                     int(l.status()));
        return 1;
      }
      std::printf("ready\n");
      std::fflush(stdout);
      for (;;) {
        SocketConnection s;
        s.unixAccept(l.listenDescr());
        if (s.status() != SocketConnection::OKEY) continue;  // a refused peer
        pid_t p = fork();
        if (p == 0) {
          serveChild(s, false, true);
          _exit(0);
        }
      }
    }
    // Started by a client or by the system's service daemon: one client.
    SocketConnection s(String(), true);
    if (s.status() != SocketConnection::OKEY) return 1;
    sockaddr_storage self {};
    socklen_t slen = sizeof self;
    bool local = getsockname(s.sockDescr(), reinterpret_cast<sockaddr*>(&self), &slen) == 0 &&
                 self.ss_family == AF_UNIX;
    serveChild(s, false, local);
    return 0;
  }
};

ZF_APP_MAIN(RelayApp)
