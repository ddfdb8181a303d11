// Process and user values, memory, stop hooks and the system-error policy.
//
// State: `_io_errno_`, `_io_err_detail` (set by the database libraries), the
// run of consecutive retries granted by _SysError (reset whenever it declines,
// so no failing call is retried more than ZEPH_SYSERR_RETRIES times in a row),
// the interrupt hold and the conversion handler.
#include <zeph/Proc.h>

#include <zfound/Alloc.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/Process.h>
#include <zfound/Time.h>
#include <zfound/UserInfo.h>
// After the foundation: the interface's TimeStamp() call hides the class.
#include <dbm/DbInterface.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <grp.h>

int32_t _io_errno_ = 0;
int32_t _io_err_detail = 0;

namespace {

int retryRun = 0;
// Interrupts held off: SIGINT and SIGQUIT are noted and delivered when the
// hold ends, so a change in progress is never cut short.
int32_t holding = 0;
volatile sig_atomic_t pendingInterrupt = 0;
struct sigaction savedInt, savedQuit;
void noteInterrupt(int sig) { pendingInterrupt = sig; }
ZephConvHandler convHandler = nullptr;
char nameBuf[2][64];

void copyName(char* out, String const& s) {
  std::strncpy(out, toCharPtr(s), 63);
  out[63] = 0;
}

// Seconds from 1 January 1984 at start, floored into days and seconds.
void startMoment(int32_t& day, int32_t& sec) {
  int64_t t = procInitTime().value();
  int64_t d = t / 86400;
  int64_t s = t % 86400;
  if (s < 0) {
    s += 86400;
    --d;
  }
  day = int32_t(d);
  sec = int32_t(s);
}

}  // namespace

int _SysError(char const* text) {
  int e = errno;
  if ((e == EINTR || e == EAGAIN) && retryRun < ZEPH_SYSERR_RETRIES) {
    ++retryRun;
    return 1;
  }
  retryRun = 0;
  Warning(__DbErrmsg("IO_SYSERROR"), text ? text : "", std::strerror(e), e);
  errno = e;
  return 0;
}

void* def_Alloc(size_t size, char const* file, int line) {
  void* p = zfCalloc(1, size ? size : 1);
  if (!p) {
    // No memory left for a descriptor: nothing sensible can go on.
    Error(__DbErrmsg("IO_NO_MEMORY"), long(size), file ? file : "", line);
    stop(int32_t(0x80000000));
  }
  return p;
}

void def_Free(void* p, char const*, int) {
  if (p) zfFree(p);
}

void OnStop(void (*f)(void)) { onStop(f); }

int32_t ProcPid(void) { return int32_t(procPid()); }
int32_t ProcUserId(void) { return int32_t(procUserId()); }
char** ProcArgs(void) { return procArgs(); }
char const* ProcTtyName(void) { return toCharPtr(procTtyName()); }

char const* UserName(int32_t id) {
  Password p{int64_t(id)};
  copyName(nameBuf[0], p ? p.userName() : String());
  return nameBuf[0];
}

char const* GroupName(int32_t id) {
  struct group gr;
  struct group* found = nullptr;
  char buf[4096];
  nameBuf[1][0] = 0;
  if (id >= 0 && getgrgid_r(gid_t(id), &gr, buf, sizeof buf, &found) == 0 && found) {
    std::strncpy(nameBuf[1], found->gr_name, 63);
    nameBuf[1][63] = 0;
  }
  return nameBuf[1];
}

int32_t ProcStartDate(void) {
  int32_t d, s;
  startMoment(d, s);
  return d;
}

int32_t ProcStartTime(void) {
  int32_t d, s;
  startMoment(d, s);
  return s;
}

int32_t ProcSignal(void) { return procSig(); }

int32_t EnableInterrupts(int32_t hold) {
  int32_t old = holding;
  if (hold && !holding) {
    struct sigaction sa{};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = noteInterrupt;
    sigaction(SIGINT, &sa, &savedInt);
    sigaction(SIGQUIT, &sa, &savedQuit);
    holding = 1;
  } else if (!hold && holding) {
    sigaction(SIGINT, &savedInt, nullptr);
    sigaction(SIGQUIT, &savedQuit, nullptr);
    holding = 0;
    int sig = pendingInterrupt;
    pendingInterrupt = 0;
    if (sig) raise(sig);
  }
  return old;
}

ZephConvHandler _SetConvHandler(ZephConvHandler h) {
  ZephConvHandler old = convHandler;
  convHandler = h;
  return old;
}

void _ConvHandler(char const* key, char const* detail) {
  if (convHandler) {
    convHandler(key, detail);
    return;
  }
  Warning(__DbErrmsg(key), detail ? detail : "");
}

char const* _MakeFullDbFuncCall(char const* function, int32_t handle) {
  static char text[256];
  std::string names;
  // Only what names something open: a closed schema or a free slot ends
  // the text there, and nothing is reported.
  s_schema* sp = nullptr;
  for (int32_t h = FindNextSchema(0); h != -1 && !sp; h = FindNextSchema(h))
    if (dbSchemaSlot(h) == dbSchemaSlot(handle)) sp = _GetSchPtr(h);
  if (sp) {
    names = sp->d.name;
    int32_t slot = dbTableSlot(handle);
    s_table* t = slot >= 1 && slot <= kDbMaxTables && sp->tables ? sp->tables[slot].tab : nullptr;
    if (t) {
      names += std::string(".") + t->d.name;
      int32_t n = dbLowByte(handle);
      if (n >= 1 && n <= t->d.nfields && t->fields && t->fields[n - 1].d.name)
        names += std::string(".") + t->fields[n - 1].d.name;
    }
  }
  zfSnprintf(text, sizeof text, "%s(%s)", function ? function : "", names.c_str());
  return text;
}
