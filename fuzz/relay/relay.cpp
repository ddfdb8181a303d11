// Fuzz target: the relay's session with one client. The relay's source is
// built in here (without its main); a session is served over a socket pair
// whose other end holds the input and is then closed, so every part size,
// batch and Connect request comes from the input. No server runs: a Connect
// that decodes is refused as for a server that is not there.
#include <zfound/AppMain.h>
#undef ZF_APP_MAIN
#define ZF_APP_MAIN(AppClass)

#include "zfrelay.cpp"  // from the relay directory, on this target's include path

#include "FuzzSupport.h"

#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  if (size < 1 || size > 64 * 1024) return 0;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
  int big = 1 << 20;
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  bool swapped = data[0] & 1;
  size_t off = 1;
  while (off < size) {
    ssize_t w = ::write(sv[1], data + off, size - off);
    if (w <= 0) break;
    off += size_t(w);
  }
  ::shutdown(sv[1], SHUT_WR);
  {
    SocketConnection s(sv[0], SAME_TYPE);
    if (s.status() == SocketConnection::OKEY) {
      zffuzz::guarded([&] {
        Session session(s, swapped, false);
        session.run();
      });
    } else {
      ::close(sv[0]);  // not taken over
    }
  }
  ::close(sv[1]);
  return 0;
}
