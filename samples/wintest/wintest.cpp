// wintest FILE: shows FILE in a text view. It enters window mode, reads the
// file (an unreadable one is a fatal report naming it), runs a TextView
// titled with the file's base name at row 1, column 1 over its lines,
// leaves window mode and prints "result R lastkey K". Under ZEPH_HEADLESS
// its keys come from a key script and its screens go to ZEPH_SCREEN.
#include <winkit/TextView.h>
#include <winkit/Window.h>

#include <zeph/Wi.h>

#include <zfound/AppMain.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<String> fileLines;

String const lineOf(long n) {
  if (n < 1 || size_t(n) > fileLines.size()) return String(reinterpret_cast<char const*>(1));
  return fileLines[size_t(n - 1)];
}

// Reads the whole file into lines; false with errno set when it cannot.
bool readLines(char const* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string data;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      return false;
    }
    if (n == 0) break;
    data.append(buf, size_t(n));
  }
  ::close(fd);
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    fileLines.push_back(String(long(line.size()), line.data()));
    start = end + 1;
  }
  return true;
}

}  // namespace

class WinTestApp : public CVApp {
public:
  static String appName() { return String("wintest"); }
  static String appVersion() { return String("1.0"); }
  static OptionParser* cmdLine() {
    static OptionParser* parser = new OptionParser(false);
    return parser;
  }

  int32_t execute() override {
    String file = argVal(1);
    if (file.isNull()) {
      error(appMsg("USAGE"));
      return 1;
    }
    Window::rootWindow();
    if (!readLines(toCharPtr(file))) {
      char const* why = std::strerror(errno);
      error(appMsg("CANTOPEN"), toCharPtr(file), why);
      return 1;
    }
    TextView view(lineOf, file.baseName(), 1, 1);
    long result = view.execute(0);
    int key = view.lastKey();
    WiDisconnect();
    zfPrintf("result %ld lastkey %d\n", result, key);
    return 0;
  }
};

ZF_APP_MAIN(WinTestApp)
