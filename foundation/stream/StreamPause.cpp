// Pauses on a descriptor stream: a prompt written to the stream and single
// keys read from the terminal.
#include <zfound/ProcessHooks.h>
#include <zfound/Report.h>
#include <zfound/Stream.h>
#include <zfound/String.h>

int OutputFdFile::pause() {
  *this << (msgTablesReady() ? libMsg("HITANY") : String("HITANY"));
  endl(*this);
  return getChar();
}

int OutputFdFile::pause(String const& a, String const& b) {
  *this << a << ' ' << b;
  endl(*this);
  char ca = a[0];
  char cb = b[0];
  for (;;) {
    int c = getChar();
    if (c == -1 && (ca != static_cast<char>(-1) && cb != static_cast<char>(-1))) return 1;  // no more input
    char k = static_cast<char>(c);
    if (k == ca) return 0;
    if (k == cb) return 1;
  }
}
