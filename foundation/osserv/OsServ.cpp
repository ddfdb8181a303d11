// Operating-system services: signals, byte order, account look-ups, local
// time, file status and removal, the raw terminal mode and temporary names.
//
// Invariants: handlers go in through sigaction without SA_RESTART; ids are
// never narrowed; the zone offset is the one in force at the moment asked;
// a temporary name is handed out only after its file was created with
// O_CREAT|O_EXCL by this process.
#include <zfound/OsServ.h>

#include <zfound/LibraryInfo.h>
#include <zfound/BuildInfo.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// Registers the foundation's operating-system layer with its build stamp.
class libzext : public LibraryInfo {
public:
  libzext() : LibraryInfo("libzext", ZF_BUILD_INFO_TEXT) {}
};
libzext libzextInfo;

// The id as decimal text in the given static buffer.
char const* idText(char* buf, size_t size, int64_t id) {
  std::snprintf(buf, size, "%lld", static_cast<long long>(id));
  return buf;
}

// Copies text into a static buffer of the caller.
char const* keep(std::string& buf, char const* text) {
  buf = text ? text : "";
  return buf.c_str();
}

bool validId(int64_t id) { return id >= 0 && id < int64_t(UINT32_MAX); }

// An account record filled by getpwuid_r, getgrgid_r or their kin into
// local storage; the storage grows while the call answers ERANGE, up to
// 1 MiB. run is true when the record was found.
template <class Rec, int SizeKey>
struct AccountEntry {
  Rec rec{};
  std::string storage;
  template <class F>
  bool run(F call) {
    long size = sysconf(SizeKey);
    storage.assign(size > 0 ? size_t(size) : 16384, '\0');
    Rec* res = nullptr;
    for (;;) {
      int rc = call(&rec, storage.data(), storage.size(), &res);
      if (rc == ERANGE && storage.size() < (1u << 20)) {
        storage.assign(storage.size() * 2, '\0');
        continue;
      }
      return rc == 0 && res != nullptr;
    }
  }
};

struct PwEntry : AccountEntry<passwd, _SC_GETPW_R_SIZE_MAX> {
  bool find(int64_t uid) {
    return validId(uid) &&
           run([&](passwd* p, char* b, size_t s, passwd** r) { return getpwuid_r(uid_t(uid), p, b, s, r); });
  }
  bool find(char const* name) {
    return run([&](passwd* p, char* b, size_t s, passwd** r) { return getpwnam_r(name, p, b, s, r); });
  }
};

using GrEntry = AccountEntry<group, _SC_GETGR_R_SIZE_MAX>;

// One text field of uid's account, kept in the caller's static `buf`; the
// uid as decimal text in the caller's static `num` when there is no account.
char const* pwText(int64_t uid, char* passwd::*field, std::string& buf, char (&num)[32]) {
  PwEntry e;
  return e.find(uid) ? keep(buf, e.rec.*field) : idText(num, sizeof num, uid);
}

// Terminal state saved by setTerminal.
struct TermState {
  bool set = false;
  bool saved = false;
  termios old{};
};
TermState term;

// The temporary-name counter: time plus process id at first use.
int64_t tempCounter = -1;

}  // namespace

SigHandler Signal(int sig, SigHandler handler) {
  struct sigaction act {}, old{};
  act.sa_handler = handler;
  sigemptyset(&act.sa_mask);
  act.sa_flags = 0;  // no SA_RESTART: a signal interrupts a blocking call
  if (sigaction(sig, &act, &old) != 0) return SIG_ERR;
  return old.sa_handler;
}

bool isBigEndian() {
  uint32_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 0;
}

int64_t userId(String const& name) {
  if (!name) return -1;
  PwEntry e;
  return e.find(toCharPtr(name)) ? int64_t(e.rec.pw_uid) : -1;
}

int64_t userGid(int64_t uid) {
  PwEntry e;
  return e.find(uid) ? int64_t(e.rec.pw_gid) : -1;
}

char const* userName(int64_t uid) {
  static std::string buf;
  static char num[32];
  return pwText(uid, &passwd::pw_name, buf, num);
}

char const* userHomeDir(int64_t uid) {
  static std::string buf;
  static char num[32];
  return pwText(uid, &passwd::pw_dir, buf, num);
}

char const* fullUserName(int64_t uid) {
  static std::string buf;
  static char num[32];
  return pwText(uid, &passwd::pw_gecos, buf, num);
}

int64_t groupId(String const& name) {
  if (!name) return -1;
  std::string n = toCharPtr(name);
  GrEntry e;
  bool ok = e.run([&](group* g, char* b, size_t s, group** r) { return getgrnam_r(n.c_str(), g, b, s, r); });
  return ok ? int64_t(e.rec.gr_gid) : -1;
}

char const* groupName(int64_t gid) {
  static std::string buf;
  static char num[32];
  GrEntry e;
  bool ok = validId(gid) &&
            e.run([&](group* g, char* b, size_t s, group** r) { return getgrgid_r(gid_t(gid), g, b, s, r); });
  return ok ? keep(buf, e.rec.gr_name) : idText(num, sizeof num, gid);
}

int64_t _osTimeZoneAdj(int64_t t) {
  time_t tt = time_t(t);
  tm local{};
  tzset();  // follow a changed TZ as well
  if (!localtime_r(&tt, &local)) return t;
  return t + int64_t(local.tm_gmtoff);
}

int64_t _osTime() { return _osTimeZoneAdj(int64_t(time(nullptr))); }

int statFile(String const& path, struct stat* buf) {
  static struct stat own;
  if (!path) return -1;
  return stat(toCharPtr(path), buf ? buf : &own) == 0 ? 0 : -1;
}

int unlinkFile(String const& path) {
  struct stat st;
  if (!path || lstat(toCharPtr(path), &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? rmdir(toCharPtr(path)) : unlink(toCharPtr(path));
}

int setTerminal() {
  termios t{};
  if (tcgetattr(0, &t) != 0) return -1;
  term.old = t;
  term.saved = true;
  t.c_lflag = ISIG;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 1;
  t.c_iflag &= ~tcflag_t(ICRNL);
  t.c_oflag ^= OPOST;
  long disable = fpathconf(0, _PC_VDISABLE);
  t.c_cc[VSUSP] = cc_t(disable < 0 ? 0 : disable);
  int rc = tcsetattr(0, TCSANOW, &t);
  if (rc == 0) term.set = true;
  return rc;
}

int resetTerminal() {
  if (!term.saved) {
    term.set = false;
    return -1;
  }
  int rc = tcsetattr(0, TCSANOW, &term.old);
  term.set = false;
  return rc;
}

bool terminalIsSet() { return term.set; }

int getChar() {
  bool mine = !term.set && setTerminal() == 0;
  unsigned char c = 0;
  ssize_t n;
  do {
    n = read(0, &c, 1);
  } while (n < 0 && errno == EINTR);
  if (mine) resetTerminal();
  if (n != 1) return -1;
  return static_cast<signed char>(c);
}

char* zfTempnam(char const* dir, char const* prefix) {
  if (tempCounter < 0) tempCounter = int64_t(time(nullptr)) + int64_t(getpid());
  std::string d = dir ? dir : "/tmp";
  std::string pre = prefix ? prefix : "";
  for (int attempt = 0; attempt < 10000; ++attempt) {
    ++tempCounter;
    std::string name = d + "/" + pre + std::to_string(tempCounter);
    int fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return strdup(name.c_str());
    }
    if (errno != EEXIST) return nullptr;  // the directory refuses: no retry helps
  }
  return nullptr;
}

char* zfTmpnam(char* buffer) {
  char* name = zfTempnam("/tmp", "");
  if (!name || !buffer) return name;
  if (std::strlen(name) >= kTmpNameSize) {
    unlink(name);
    std::free(name);
    return nullptr;
  }
  std::strcpy(buffer, name);
  std::free(name);
  return buffer;
}

FILE* zfTmpfile() {
  char* name = zfTmpnam(nullptr);
  if (!name) return nullptr;
  FILE* f = std::fopen(name, "w+b");
  unlink(name);
  std::free(name);
  return f;
}
