// widgetdemo: the toolkit's dialogs at work.
//   widgetdemo hist CAPACITY FILE TEXT...  (no screen) a StrHistory of
//     CAPACITY, loaded from FILE when it exists, each TEXT added, stored
//     back to FILE in text form. A FILE that is not a valid history is
//     reported, left unchanged, and the status is 1.
//   widgetdemo files DIR  a file selector titled "FileOpen" on DIR with
//     pattern "*"; prints "accepted 1 value V perms P", or "accepted 0"
//     when cancelled.
//   widgetdemo dir DIR  a directory selector titled "FileChgWorkDir" on DIR;
//     prints "accepted 1 value V", or "accepted 0".
//   widgetdemo mld TEXT DEFAULT  a yes/no/cancel box on TEXT (a backslash
//     and "n" in TEXT end a line) with DEFAULT (0 yes, 1 no, 2 cancel) as
//     the default answer; prints "opt N" after leaving window mode.
// Under ZEPH_HEADLESS the keys come from a key script and the screens go to
// ZEPH_SCREEN.
// FILE is replaced through a new file created exclusively beside it and
// renamed over it, so a failed run never leaves it half written.
#include <winkit/Panel.h>
#include <winkit/Selectors.h>
#include <winkit/StrHistory.h>
#include <winkit/Window.h>

#include <zeph/Wi.h>

#include <zfound/AppMain.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>
#include <zfound/Stream.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Writes h in text form to path through a temporary file renamed over it;
// false with errno set on failure (path untouched then).
bool storeHistory(StrHistory const& h, std::string const& path) {
  std::string tmp = path + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok;
  {
    OutputFdFile out(fd);
    h.store(out);
    out.flush();
    ok = out.ok();
  }
  int e = ok ? 0 : EIO;
  if (ok && ::fsync(fd) != 0) ok = false, e = errno;
  // mkstemp makes the file 0600; give it the mode a new file gets.
  mode_t mask = ::umask(022);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false, e = errno;
  if (!ok) {
    ::unlink(tmp.c_str());
    errno = e;
  }
  return ok;
}

}  // namespace

class WidgetDemoApp : public CVApp {
public:
  static String appName() { return String("widgetdemo"); }
  static String appVersion() { return String("1.0"); }
  static OptionParser* cmdLine() {
    static OptionParser* parser = new OptionParser(false);
    return parser;
  }

  int32_t execute() override {
    String mode = argVal(1);
    if (mode && cmp(mode, "hist") == 0) return hist();
    if (mode && cmp(mode, "mld") == 0) return mld();
    if (mode && cmp(mode, "files") == 0) return files();
    if (mode && cmp(mode, "dir") == 0) return dir();
    error(appMsg("USAGE"));
    return 1;
  }

private:
  int32_t files() {
    String dir = argVal(2);
    if (!dir) {
      error(appMsg("USAGE"));
      return 1;
    }
    Window::rootWindow();
    bool accepted;
    String value;
    long perms;
    {
      FileSelector sel("FileOpen", 17, 42, 3, 16, dir, "*", String(), nullptr);
      sel.execute(0);
      accepted = sel.isAccepted();
      value = sel.value();
      perms = sel.perms();
    }
    WiDisconnect();
    if (accepted)
      zfPrintf("accepted 1 value %s perms %ld\n", value ? toCharPtr(value) : "", perms);
    else
      zfPrintf("accepted 0\n");
    return 0;
  }

  int32_t dir() {
    String start = argVal(2);
    if (!start) {
      error(appMsg("USAGE"));
      return 1;
    }
    Window::rootWindow();
    bool accepted;
    String value;
    {
      DirSelector sel("FileChgWorkDir", 15, 29, 6, 15, start);
      sel.execute(0);
      accepted = sel.isAccepted();
      value = sel.value();
    }
    WiDisconnect();
    if (accepted)
      zfPrintf("accepted 1 value %s\n", value ? toCharPtr(value) : "");
    else
      zfPrintf("accepted 0\n");
    return 0;
  }

  int32_t mld() {
    String text = argVal(2);
    String def = argVal(3);
    if (!def) {
      error(appMsg("USAGE"));
      return 1;
    }
    // "\n" in the argument stands for a line break.
    std::string msg;
    for (char const* p = text ? toCharPtr(text) : ""; *p; ++p) {
      if (p[0] == '\\' && p[1] == 'n') {
        msg += '\n';
        ++p;
      } else {
        msg += *p;
      }
    }
    Window::rootWindow();
    long opt;
    {
      MLDBox box(appName(), String(msg.c_str()), std::strtol(toCharPtr(def), nullptr, 10));
      box.execute(0);
      opt = box.getOpt();
    }
    WiDisconnect();
    zfPrintf("opt %ld\n", opt);
    return 0;
  }

  int32_t hist() {
    String capText = argVal(2);
    String file = argVal(3);
    if (!capText || !file) {
      error(appMsg("USAGE"));
      return 1;
    }
    char* end = nullptr;
    long cap = std::strtol(toCharPtr(capText), &end, 10);
    if (*end != '\0' || cap < 1 || cap > StrHistory::kMaxCapacity) {
      error(appMsg("BADCAPACITY"), toCharPtr(capText));
      return 1;
    }
    StrHistory h(cap);
    int fd = ::open(toCharPtr(file), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      bool loaded;
      {
        InputFdFile in(fd);
        loaded = h.load(in) && !in.withError();
      }
      ::close(fd);
      if (!loaded) {
        error(appMsg("HISTREFUSED"), toCharPtr(file));
        return 1;
      }
    } else if (errno != ENOENT) {
      error(appMsg("CANTOPEN"), toCharPtr(file), std::strerror(errno));
      return 1;
    }
    for (long i = 4; argVal(i); ++i) h << argVal(i);
    if (!storeHistory(h, toCharPtr(file))) {
      error(appMsg("CANTWRITE"), toCharPtr(file), std::strerror(errno));
      return 1;
    }
    return 0;
  }
};

ZF_APP_MAIN(WidgetDemoApp)
