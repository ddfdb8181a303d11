// Messages, the two process-wide message tables and the four replaceable
// report handlers.
//
// Invariants: the tables exist from _initMsgTables() on and the handlers
// from _initHandlers() on (both called by startUp). Before that a report
// returns -1 and shows nothing, and a title falls back to its key so that a
// report never needs a table. A fatal report whose handler returns stops the
// process abnormally (stop(0x80000000), a non-zero exit status).
#include <zfound/Assert.h>
#include <zfound/CharClass.h>
#include <zfound/Message.h>
#include <zfound/MsgTable.h>
#include <zfound/ProcessHooks.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace {
MsgTable* _libMsg = nullptr;
MsgTable* _appMsg = nullptr;

MsgHandler displayH = nullptr;
MsgHandler displayErrorH = nullptr;
MsgHandler fatalErrorH = nullptr;
MsgHandler ariErrorH = nullptr;

int32_t pres_flag = 2;
bool abortChosen = false;

// The title of a report (or the answer prompt): the library text of `key`,
// or the key itself while the tables are not open.
String title(char const* key) { return _libMsg ? _libMsg->find(key) : String(key); }

// The characters handed to a handler: the highest String shows as
// "(high value)" (its character pointer is the sentinel 1, not a text).
char const* chars(String const& s) { return s.isHighest() ? "(high value)" : toCharPtr(s); }

int callHandler(MsgHandler h, int32_t flags, String const& t, String const& text) {
  if (!h) return -1;
  return h(int(pres_flag | flags), chars(t), chars(text));
}

// Hands a fatal report to the fatal-error handler and, when it returns,
// stops the process abnormally.
int fatal(String const& t, String const& text) {
  if (!fatalErrorH) return -1;
  int r = callHandler(fatalErrorH, MSG_FATAL, t, text);
  stop(STOP_ABNORMAL);
  return r;  // only while a stop is already under way
}

// m with its marks #0.. replaced by the texts of the first n values of v
// (n at most 10); marks beyond n become empty.
Message withArgs(Message const& m, AnyValue const* const* v, int n) {
  String args[10];
  for (int i = 0; i < n; ++i) args[i] = toString(*v[i]);
  return Message(m.replaceArgs(args, 10));
}

String lookup(MsgTable* t, String const& key) { return t ? t->find(key) : String(); }

Message lookupDefault(MsgTable* t, String const& key, char const* deflt) {
  return t ? t->dMsg(key, deflt) : Message(deflt);
}
}  // namespace

// --- Message ---------------------------------------------------------------

Message Message::operator()(AnyValue const& a0, AnyValue const& a1) const {
  AnyValue const* v[2] = {&a0, &a1};
  return withArgs(*this, v, 2);
}

Message Message::operator()(AnyValue const& a0, AnyValue const& a1, AnyValue const& a2,
                            AnyValue const& a3, AnyValue const& a4) const {
  AnyValue const* v[5] = {&a0, &a1, &a2, &a3, &a4};
  return withArgs(*this, v, 5);
}

Message Message::operator()(AnyValue const& a0, AnyValue const& a1, AnyValue const& a2,
                            AnyValue const& a3, AnyValue const& a4, AnyValue const& a5,
                            AnyValue const& a6, AnyValue const& a7, AnyValue const& a8,
                            AnyValue const& a9) const {
  AnyValue const* v[10] = {&a0, &a1, &a2, &a3, &a4, &a5, &a6, &a7, &a8, &a9};
  return withArgs(*this, v, 10);
}

int Message::display() const { return ::display(String(), *this); }
int Message::display(Message const& t) const { return ::display(t, *this); }
int Message::displayError() const { return ::displayError(*this); }
int Message::fatalError() const { return ::fatalError(*this); }

Message operator+(Message const& a, Message const& b) {
  return Message(static_cast<String const&>(a) + static_cast<String const&>(b));
}

// --- texts -----------------------------------------------------------------

String libMsg(char const* key) { return libMsg(String(key)); }
String libMsg(String const& key) {
  ZF_ASSERT(_libMsg != nullptr);
  return lookup(_libMsg, key);
}
Message libMsg(char const* key, char const* deflt) { return libMsg(String(key), deflt); }
Message libMsg(String const& key, char const* deflt) {
  ZF_ASSERT(_libMsg != nullptr);
  return lookupDefault(_libMsg, key, deflt);
}

String appMsg(char const* key) { return appMsg(String(key)); }
String appMsg(String const& key) {
  ZF_ASSERT(_appMsg != nullptr);
  return lookup(_appMsg, key);
}
Message appMsg(char const* key, char const* deflt) { return appMsg(String(key), deflt); }
Message appMsg(String const& key, char const* deflt) {
  ZF_ASSERT(_appMsg != nullptr);
  return lookupDefault(_appMsg, key, deflt);
}

bool msgTablesReady() { return _libMsg && _appMsg; }

void _initMsgTables() {
  if (!_libMsg) _libMsg = new MsgTable("lib", "main", false);
  if (!_appMsg) _appMsg = new MsgTable(appName(), "main", false);
}

// --- reports ---------------------------------------------------------------

int display(String const& t, String const& text) { return callHandler(displayH, MSG_DISPLAY, t, text); }

int displayError(String const& text) {
  if (!displayErrorH) return -1;
  return callHandler(displayErrorH, MSG_ERROR, title("ERROR"), text);
}

int fatalError(String const& text) {
  if (!fatalErrorH) return -1;
  return fatal(title("FATALERROR"), text);
}

namespace {
enum Kind { K_ERROR, K_NOTICE, K_WARNING, K_ARI };

// Sends a formatted text to the handler of its kind.
int report(Kind k, String const& text) {
  switch (k) {
    case K_ERROR: return fatal(title("ERROR"), text);
    case K_NOTICE: return callHandler(displayH, MSG_DISPLAY, title("NOTICE"), text);
    case K_WARNING: return callHandler(displayErrorH, MSG_DISPLAY, title("WARNING"), text);
    case K_ARI: return callHandler(ariErrorH, MSG_ERROR, title("ERROR"), text);
  }
  return -1;
}

bool installed(Kind k) {
  switch (k) {
    case K_ERROR: return fatalErrorH != nullptr;
    case K_NOTICE: return displayH != nullptr;
    case K_WARNING: return displayErrorH != nullptr;
    case K_ARI: return ariErrorH != nullptr;
  }
  return false;
}

int reportList(Kind k, String const& fmt, FmtArg const* list, size_t count) {
  if (!installed(k)) return -1;
  return report(k, toStrArgs(toCharPtr(fmt), list, count));
}

int reportVa(Kind k, char const* fmt, va_list ap) {
  if (!installed(k)) return -1;
  return report(k, toStr(fmt ? fmt : "", ap));
}
}  // namespace

int errorList(String const& fmt, FmtArg const* list, size_t count) {
  return reportList(K_ERROR, fmt, list, count);
}
int noticeList(String const& fmt, FmtArg const* list, size_t count) {
  return reportList(K_NOTICE, fmt, list, count);
}
int warningList(String const& fmt, FmtArg const* list, size_t count) {
  return reportList(K_WARNING, fmt, list, count);
}
int ariErrorList(String const& fmt, FmtArg const* list, size_t count) {
  return reportList(K_ARI, fmt, list, count);
}

#define ZF_PLAIN_REPORT(kind)          \
  {                                    \
    va_list ap;                        \
    va_start(ap, fmt);                 \
    int r = reportVa(kind, fmt, ap);   \
    va_end(ap);                        \
    return r;                          \
  }

int Error(char const* fmt, ...) ZF_PLAIN_REPORT(K_ERROR)
int Notice(char const* fmt, ...) ZF_PLAIN_REPORT(K_NOTICE)
int Warning(char const* fmt, ...) ZF_PLAIN_REPORT(K_WARNING)
int AriError(char const* fmt, ...) ZF_PLAIN_REPORT(K_ARI)

#undef ZF_PLAIN_REPORT

// --- handlers --------------------------------------------------------------

// Installs h in `slot` and returns what was there.
static MsgHandler exchange(MsgHandler& slot, MsgHandler h) {
  MsgHandler old = slot;
  slot = h;
  return old;
}

MsgHandler displayHandler(MsgHandler h) { return exchange(displayH, h); }
MsgHandler displayErrorHandler(MsgHandler h) { return exchange(displayErrorH, h); }
MsgHandler fatalErrorHandler(MsgHandler h) { return exchange(fatalErrorH, h); }
MsgHandler ariErrorHandler(MsgHandler h) { return exchange(ariErrorH, h); }

void msgCtrl(int32_t v) {
  pres_flag = v;
  if (v & MSG_CTRL) {
    if (displayH) displayH(MSG_CTRL, "", "");
    pres_flag = 2;
  }
}

int32_t presFlag() { return pres_flag; }

void _initHandlers() {
  displayH = defaultMsgHandler;
  displayErrorH = defaultMsgHandler;
  fatalErrorH = defaultMsgHandler;
  ariErrorH = defaultAriHandler;
}

namespace {
void writeText(char const* text) {
  for (unsigned char const* p = reinterpret_cast<unsigned char const*>(text ? text : ""); *p; ++p)
    std::fputc(zeph_toascii(*p), stderr);
  std::fputc('\n', stderr);
}
}  // namespace

int defaultMsgHandler(int flags, char const*, char const* text) {
  if (flags & MSG_CTRL) return -1;
  writeText(text);
  std::fflush(stderr);
  return -1;
}

int defaultAriHandler(int flags, char const*, char const* text) {
  if (abortChosen || (flags & MSG_CTRL)) return 0;
  writeText(text);
  String prompt = title("AB_RE_IG");
  std::fputs(toCharPtr(prompt), stderr);
  std::fflush(stderr);
  int c = std::getchar();
  int answer = (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c != EOF && c != '\n' && c != '\r') {
    int d;
    do d = std::getchar();
    while (d != EOF && d != '\n' && d != '\r');
  }
  if (answer == 'A') {
    abortChosen = true;
    stop(int32_t(uint32_t(errno) | 0x80000000u));
    return 0;
  }
  if (answer == 'I') return 0;
  return 1;
}
