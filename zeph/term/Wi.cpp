// The Wi functions: the terminal window layer over the window model, drawn
// through ncurses on a terminal or kept in memory in headless mode.
//
// States of the layer (one per process):
//   Closed    nothing opened; every output call does nothing, key calls
//             connect first (WiGetc) or answer 0.
//   Terminal  WiConnect found a terminal: ncurses is in program mode, the
//             composed screen is drawn at every flush.
//   Headless  WiConnect found ZEPH_HEADLESS: keys come from the parsed
//             script, the screen is only the model; every Wi call is logged.
//   Released  WiDisconnect, exit, stop, a fatal report or a fatal signal gave
//             the terminal back (endwin) / the headless session ended. The
//             model stays, so the final screen can still be written; a
//             released terminal is taken again by WiConnect.
// Transitions: Closed -> Terminal | Headless (WiConnect); Terminal ->
// Released (release: WiDisconnect, the end hooks, the fatal-report wrapper,
// the signal handlers); Released -> Terminal (WiConnect, and the return from
// a shell escape, which releases for its duration). Headless -> Released at
// the end of the process, after the final screen was appended.
//
// Invariants: release runs at most once per taking of the terminal and is
// safe at any time (end hooks, signal handlers); the final screen is
// appended once; a fatal report's text is written only after the terminal
// was given back.
#include <zeph/Wi.h>
#include <zeph/WiTest.h>

#include <zfound/EditMask.h>
#include <zfound/Format.h>
#include <zfound/Message.h>
#include <zfound/Process.h>

#include "KeyScript.h"
#include "Screen.h"

#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#define NCURSES_NOMACROS 1
#include <curses.h>

namespace {

using zeph::term::Cell;
using zeph::term::Screen;
using Win = zeph::term::Window;

enum class Mode { Closed, Terminal, Headless, Released };

constexpr int kFieldBuffer = 512;
constexpr int kMaxField = kFieldBuffer - 1;
constexpr int kEscWaitMs = 100;
constexpr size_t kMaxCalls = 100000;

struct Layer {
  Mode mode = Mode::Closed;
  bool wasHeadless = false;
  Screen screen;
  int current = 0;  // the handle made current last (may have been deleted)
  int bells = 0;
  bool raw = false;
  bool services = false;
  // headless
  std::vector<int> keys;
  size_t keyPos = 0;
  std::string screenFile;
  bool finalWritten = false;
  std::vector<std::string> calls;
  // terminal
  std::deque<int> pending;  // decoded keys read ahead
  SCREEN* term = nullptr;
  bool colors = false;
};

Layer& L() {
  static Layer* layer = new Layer;  // never destroyed: end hooks use it
  return *layer;
}

MsgHandler previousFatal = nullptr;

// --- call log ------------------------------------------------------------------

void logArg(std::string& s, int v) { s += std::to_string(v); }
void logArg(std::string& s, char const* v) { s += v ? v : "(null)"; }

template <class... A>
void logCall(char const* name, A const&... a) {
  Layer& l = L();
  if (l.mode != Mode::Headless) return;
  std::string s = name;
  s += '(';
  bool first = true;
  ((s += first ? "" : ",", first = false, logArg(s, a)), ...);
  s += ')';
  // A long session keeps only its newer calls.
  if (l.calls.size() >= kMaxCalls) l.calls.erase(l.calls.begin(), l.calls.begin() + long(kMaxCalls / 2));
  l.calls.push_back(std::move(s));
}

// --- ending ---------------------------------------------------------------------

void appendScreen() {
  Layer& l = L();
  if (l.screenFile.empty()) return;
  std::string text = l.screen.dump();
  int fd = ::open(l.screenFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
}

// Gives the terminal back (idempotent, callable from a signal handler).
void release() {
  Layer& l = L();
  if (l.mode == Mode::Terminal) {
    l.mode = Mode::Released;
    ::endwin();
  }
}

// Everything a process end owes: the terminal, then the final screen.
void atEnd() {
  Layer& l = L();
  release();
  if (l.mode == Mode::Headless) {
    if (!l.finalWritten) {
      l.finalWritten = true;
      appendScreen();
    }
    l.mode = Mode::Released;
  }
}

// A fatal report passes here first, so that its text lands on a restored
// terminal and stays readable.
int fatalWrapper(int flags, char const* title, char const* text) {
  release();
  return previousFatal ? previousFatal(flags, title, text) : -1;
}

void signalRelease(int sig) {
  release();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void installEndHooks() {
  static bool done = false;
  if (done) return;
  done = true;
  std::atexit(atEnd);
  if (startUpDone()) {
    onStop(atEnd);
    MsgHandler prev = fatalErrorHandler(fatalWrapper);
    if (prev)
      previousFatal = prev;
    else
      fatalErrorHandler(nullptr);
  }
  // Signals that nobody handles would end the process with the terminal in
  // program mode: give it back first.
  for (int s : {SIGTERM, SIGINT, SIGQUIT, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    struct sigaction old;
    if (::sigaction(s, nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL) {
      struct sigaction sa {};
      sa.sa_handler = signalRelease;
      sigemptyset(&sa.sa_mask);
      ::sigaction(s, &sa, nullptr);
    }
  }
}

// A fatal report from the layer: through the foundation's fatal handler
// when one is installed, else on standard error with status 1.
[[noreturn]] void fatal(std::string const& text) {
  release();
  Error("%s", text.c_str());
  std::string line = text + "\n";
  (void)!::write(2, line.data(), line.size());
  std::exit(1);
}

// --- terminal drawing -----------------------------------------------------------

attr_t cursesAttr(int32_t a) {
  attr_t r = A_NORMAL;
  if (a & 0x100) r |= A_UNDERLINE;
  if (a & 0x200) r |= A_REVERSE;
  if (a & 0x400) r |= A_BLINK;
  if (a & 0x800) r |= A_BOLD;
  if (a & 0x2000) r |= A_STANDOUT;
  return r;
}

short colorPair(int32_t a) {
  Layer& l = L();
  int fg = (a >> 16) & 7, bg = (a >> 20) & 7;
  if (!l.colors || (fg == 0 && bg == 0)) return 0;
  short pair = short(fg * 8 + bg);
  static bool made[64] = {};
  if (!made[pair]) {
    made[pair] = true;
    ::init_pair(pair, short(fg ? fg : -1), short(bg ? bg : -1));
  }
  return pair;
}

Win* cur() {
  Layer& l = L();
  Win* w = l.screen.find(l.current);
  return w ? w : l.screen.find(l.screen.top());
}

void draw() {
  Layer& l = L();
  if (l.mode != Mode::Terminal) return;
  std::vector<Cell> grid = l.screen.compose();
  int rows = l.screen.rows(), cols = l.screen.cols();
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      Cell const& cell = grid[size_t(r) * size_t(cols) + size_t(c)];
      wchar_t wc[2] = {wchar_t(cell.ch), 0};
      cchar_t cc;
      ::setcchar(&cc, wc, cursesAttr(cell.attr), colorPair(cell.attr), nullptr);
      ::mvwadd_wch(stdscr, r, c, &cc);
    }
  }
  Win* w = cur();
  int orow = 0, ocol = 0;
  if (w) l.screen.origin(*w, orow, ocol);
  if (w && w->cursorOn) {
    int sr = orow + w->curRow, sc = ocol + w->curCol;
    if (sr >= 0 && sr < rows && sc >= 0 && sc < cols) {
      ::curs_set(1);
      ::wmove(stdscr, sr, sc);
    } else {
      ::curs_set(0);
    }
  } else {
    ::curs_set(0);
  }
  ::wnoutrefresh(stdscr);
  ::doupdate();
}

// Takes the terminal: program mode, keypad, our key timing.
void takeTerminal() {
  Layer& l = L();
  if (l.raw)
    ::raw();
  else {
    ::noraw();
    ::cbreak();
  }
  ::noecho();
  ::nonl();
  ::keypad(stdscr, TRUE);
  ::intrflush(stdscr, FALSE);
  ::scrollok(stdscr, FALSE);
  l.mode = Mode::Terminal;
}

void connectTerminal() {
  Layer& l = L();
  if (!::isatty(0) || !::isatty(1)) fatal("Window mode needs a terminal: standard input or output is not one.");
  // Only the character type follows the environment; without a UTF-8
  // character set there, C.UTF-8 is used so the glyphs can be drawn.
  std::setlocale(LC_CTYPE, "");
  char const* cs = nl_langinfo(CODESET);
  if (!cs || (std::strcmp(cs, "UTF-8") != 0 && std::strcmp(cs, "utf8") != 0)) std::setlocale(LC_CTYPE, "C.UTF-8");
  ::set_escdelay(50);
  l.term = ::newterm(nullptr, stdout, stdin);
  if (!l.term) fatal("Window mode cannot use this terminal (TERM is unknown).");
  ::set_term(l.term);
  if (::has_colors()) {
    ::start_color();
    ::use_default_colors();
    l.colors = true;
  }
  l.screen.reset(LINES, COLS);
  l.current = 0;
  takeTerminal();
  ::clearok(curscr, TRUE);
  draw();
}

bool parseSize(char const* text, int& rows, int& cols) {
  if (!text || !*text) return true;
  char* end = nullptr;
  long r = std::strtol(text, &end, 10);
  if (end == text || (*end != 'x' && *end != 'X')) return false;
  char const* c0 = end + 1;
  long c = std::strtol(c0, &end, 10);
  if (end == c0 || *end != '\0') return false;
  if (r < 1 || r > 1000 || c < 1 || c > 1000) return false;
  rows = int(r);
  cols = int(c);
  return true;
}

void connectHeadless(char const* scriptFile) {
  Layer& l = L();
  int fd = ::open(scriptFile, O_RDONLY | O_CLOEXEC);
  if (fd < 0) fatal(std::string("Cannot read the key script ") + scriptFile + ": " + std::strerror(errno) + ".");
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fatal(std::string("Cannot read the key script ") + scriptFile + ": " + std::strerror(errno) + ".");
    if (n == 0) break;
    text.append(buf, size_t(n));
  }
  ::close(fd);
  int badLine = 0;
  std::string badToken;
  if (!zeph::term::parseKeyScript(text, l.keys, badLine, badToken))
    fatal(std::string("Key script ") + scriptFile + ", line " + std::to_string(badLine) + ": " + badToken +
          " is not a key.");
  int rows = 24, cols = 80;
  char const* size = std::getenv("ZEPH_SIZE");
  if (!parseSize(size, rows, cols))
    fatal(std::string("ZEPH_SIZE \"") + size + "\" is not ROWSxCOLS (each 1 to 1000).");
  char const* screenFile = std::getenv("ZEPH_SCREEN");
  l.screenFile = screenFile ? screenFile : "";
  if (!l.screenFile.empty()) {
    // Refused now rather than losing every dump later.
    int out = ::open(screenFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (out < 0) fatal(std::string("Cannot write the screen file ") + screenFile + ": " + std::strerror(errno) + ".");
    ::close(out);
  }
  l.screen.reset(rows, cols);
  l.current = 0;
  l.mode = Mode::Headless;
  l.wasHeadless = true;
}

void ensureConnected() {
  if (L().mode == Mode::Closed) WiConnect(nullptr, nullptr, 0);
}

// --- keys -------------------------------------------------------------------------

int mapFunctionKey(int k) {
  switch (k) {
    case KEY_UP: return 133;
    case KEY_DOWN: return 135;
    case KEY_LEFT: return 134;
    case KEY_RIGHT: return 136;
    case KEY_PPAGE: return 137;
    case KEY_NPAGE: return 139;
    case KEY_HOME: return 138;
    case KEY_END: return 140;
    case KEY_BACKSPACE: return 141;
    case KEY_IC: return 143;
    case KEY_DC: return 144;
    case KEY_ENTER: return 132;
    default: break;
  }
  if (k == KEY_F(1)) return 148;
  if (k == KEY_F(2)) return 147;
  if (k == KEY_F(3)) return 150;
  if (k == KEY_F(4)) return 130;
  if (k == KEY_F(5)) return 131;
  if (k == KEY_F(6)) return 128;
  if (k == KEY_F(9)) return 154;
  if (k == KEY_F(10)) return 155;
  return -1;
}

int mapCharacter(wint_t c) {
  switch (c) {
    case 10:
    case 13: return 132;
    case 9: return 146;
    case 8:
    case 127: return 141;
    case 11: return 154;
    case 27: return 129;
    default: break;
  }
  return c <= 0xFF ? int(c) : -1;
}

// One decoded terminal key; -2 when nothing came before the time-out.
int readTerminalKey(int timeoutMs) {
  for (;;) {
    wint_t wc = 0;
    ::wtimeout(stdscr, timeoutMs);
    int rc = ::wget_wch(stdscr, &wc);
    ::wtimeout(stdscr, -1);
    if (rc == ERR) {
      if (timeoutMs >= 0) return -2;
      if (errno == EINTR) continue;
      fatal("Window mode lost its terminal input.");
    }
    if (rc == KEY_CODE_YES) {
      if (wc == KEY_RESIZE) {
        L().screen.resize(LINES, COLS);
        ::clearok(curscr, TRUE);
        draw();
        continue;
      }
      int k = mapFunctionKey(int(wc));
      if (k >= 0) return k;
      continue;
    }
    if (wc == 27) {
      // Esc alone is Esc; Esc with another key soon after is the Alt prefix.
      int next = readTerminalKey(kEscWaitMs);
      if (next == -2) return 129;
      L().pending.push_back(next);
      return 155;
    }
    int k = mapCharacter(wc);
    if (k >= 0) return k;
    if (timeoutMs >= 0) return -2;
  }
}

int nextKey() {
  Layer& l = L();
  ensureConnected();
  if (l.mode == Mode::Headless) {
    while (l.keyPos < l.keys.size() && l.keys[l.keyPos] == zeph::term::kDumpMark) {
      appendScreen();
      ++l.keyPos;
    }
    if (l.keyPos >= l.keys.size()) {
      l.finalWritten = true;
      appendScreen();
      static char const kEnded[] = "key script ended\n";
      (void)!::write(2, kEnded, sizeof kEnded - 1);
      if (startUpDone()) stop(3);
      std::exit(3);
    }
    return l.keys[l.keyPos++];
  }
  if (l.mode == Mode::Released) WiConnect(nullptr, nullptr, 0);
  draw();
  if (!l.pending.empty()) {
    int k = l.pending.front();
    l.pending.pop_front();
    return k;
  }
  return readTerminalKey(-1);
}

// --- shell escapes -----------------------------------------------------------------

// Runs argv with window mode suspended; the exit status, or -1.
int runSuspended(char const* const* argv) {
  Layer& l = L();
  bool wasTerminal = l.mode == Mode::Terminal;
  if (wasTerminal) {
    ::def_prog_mode();
    release();
  }
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (l.mode == Mode::Headless) {
      int fd = ::open("/dev/null", O_RDONLY);
      if (fd > 0) {
        ::dup2(fd, 0);
        ::close(fd);
      }
    }
    ::execv(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
  }
  int status = -1;
  if (pid > 0) {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  if (wasTerminal) {
    ::reset_prog_mode();
    takeTerminal();
    ::clearok(curscr, TRUE);
    draw();
  }
  return status;
}

// --- field editor --------------------------------------------------------------------

struct MaskPos {
  bool slot;  // a placeholder
  char literal;
};

std::vector<MaskPos> maskPositions(char const* edit) {
  std::vector<MaskPos> out;
  if (!edit || !*edit) return out;
  char const* p = edit;
  if (*p == 'l' || *p == 'L' || *p == 'r' || *p == 'R') ++p;
  for (; *p; ++p) {
    if (*p == '\\' && p[1]) {
      out.push_back({false, *++p});
    } else if (*p == '_' || *p == '#' || *p == '\1') {
      out.push_back({true, 0});
    } else {
      out.push_back({false, *p});
    }
  }
  return out;
}

// The bell of a refused key.
void ring() {
  Layer& l = L();
  ++l.bells;
  if (l.mode == Mode::Terminal) ::beep();
}

bool isEndKey(int k) {
  return k == 129 || k == 132 || k == 133 || k == 135 || k == 146 || k == 148 || k == 155;
}

bool isTextKey(int k) { return (k >= 32 && k < 127) || (k >= 160 && k <= 255); }

int editField(char* buffer, int start, int maxLength, int width, char const* checks, char const* edit) {
  Layer& l = L();
  Win* w = cur();
  if (!w) return 129;
  int handle = w->handle;
  int fieldRow = w->curRow, fieldCol = w->curCol;
  if (maxLength <= 0 || maxLength > kMaxField) maxLength = kMaxField;
  std::vector<MaskPos> mask = maskPositions(edit);
  std::vector<int> slotAt;  // display position of each placeholder
  for (size_t i = 0; i < mask.size(); ++i)
    if (mask[i].slot) slotAt.push_back(int(i));
  bool masked = !mask.empty();
  if (masked) maxLength = std::min(maxLength, int(slotAt.size()));
  size_t checkLen = checks ? std::strlen(checks) : 0;
  std::string text(buffer, strnlen(buffer, kMaxField));
  if (int(text.size()) > maxLength) text.resize(size_t(maxLength));
  if (width <= 0) width = std::max(1, w->cols - fieldCol);
  int pos = std::clamp(start, 0, int(text.size()));
  int offset = 0;
  for (;;) {
    w = l.screen.find(handle);
    if (!w) return 129;
    // What is shown, and where the cursor stands in it.
    std::string shown;
    int cursorAt;
    if (masked) {
      for (size_t i = 0, k = 0; i < mask.size(); ++i) {
        if (mask[i].slot) {
          shown += k < text.size() ? text[k] : ' ';
          ++k;
        } else {
          shown += mask[i].literal;
        }
      }
      cursorAt = pos < int(slotAt.size()) ? slotAt[size_t(pos)] : int(mask.size());
    } else {
      shown = text;
      cursorAt = pos;
    }
    if (cursorAt < offset) offset = cursorAt;
    if (cursorAt >= offset + width) offset = cursorAt - width + 1;
    bool wrap = w->wrap;
    w->wrap = false;
    w->curRow = fieldRow;
    w->curCol = fieldCol;
    for (int i = 0; i < width; ++i) {
      size_t at = size_t(offset + i);
      l.screen.put(*w, at < shown.size() ? static_cast<unsigned char>(shown[at]) : ' ', l.bells);
    }
    w->wrap = wrap;
    w->curRow = fieldRow;
    w->curCol = fieldCol + cursorAt - offset;
    int key = nextKey() & 0xFF;
    w = l.screen.find(handle);
    if (!w) return key;
    if (isEndKey(key)) {
      std::memcpy(buffer, text.data(), text.size());
      buffer[text.size()] = '\0';
      w->curRow = fieldRow;
      w->curCol = fieldCol;
      return key;
    }
    switch (key) {
      case 134:  // left
        if (pos > 0) --pos; else ring();
        break;
      case 136:  // right
        if (pos < int(text.size())) ++pos; else ring();
        break;
      case 138:  // home
        pos = 0;
        break;
      case 140:  // end
        pos = int(text.size());
        break;
      case 141:  // backspace
        if (pos > 0) text.erase(size_t(--pos), 1); else ring();
        break;
      case 144:  // delete
        if (pos < int(text.size())) text.erase(size_t(pos), 1); else ring();
        break;
      default:
        if (!isTextKey(key)) {
          ring();
          break;
        }
        if (masked) {
          if (pos >= maxLength) {
            ring();
            break;
          }
          char flags = size_t(pos) < checkLen ? checks[pos] : char(MASK_ANY);
          char c = TstChrMask(char(key), flags, text.substr(0, size_t(pos)).c_str());
          if (!c) {
            ring();
            break;
          }
          if (size_t(pos) < text.size())
            text[size_t(pos)] = c;
          else
            text += c;
          ++pos;
        } else {
          if (int(text.size()) >= maxLength) {
            ring();
            break;
          }
          text.insert(size_t(pos), 1, char(key));
          ++pos;
        }
        break;
    }
  }
}

// Interactive move or resize of a window; true when kept.
int moveOrResize(int handle, bool resize) {
  Layer& l = L();
  Win* w = l.screen.find(handle);
  if (!w || handle == 0) return 0;
  Win saved = *w;
  for (;;) {
    int key = nextKey() & 0xFF;
    w = l.screen.find(handle);
    if (!w) return 0;
    if (key == 132) return 1;
    if (key == 129) {
      *w = saved;
      return 0;
    }
    int dr = key == 133 ? -1 : key == 135 ? 1 : 0;
    int dc = key == 134 ? -1 : key == 136 ? 1 : 0;
    if (!dr && !dc) continue;
    if (resize)
      l.screen.place(*w, w->row, w->col, std::max(1, w->rows + dr), std::max(1, w->cols + dc), false);
    else
      l.screen.place(*w, w->row + dr, w->col + dc, w->rows, w->cols, false);
  }
}

int formatSink(int c, void* arg) {
  static_cast<std::string*>(arg)->push_back(char(c));
  return c;
}

}  // namespace

// --- the interface ---------------------------------------------------------------------

extern "C" {

int WiConnect(char const* tty, char const* program, int flags) {
  Layer& l = L();
  if (l.mode == Mode::Terminal || l.mode == Mode::Headless) return 0;
  installEndHooks();
  if (l.mode == Mode::Released) {
    if (l.wasHeadless) return 0;
    ::reset_prog_mode();
    takeTerminal();
    ::clearok(curscr, TRUE);
    draw();
    return 0;
  }
  char const* script = std::getenv("ZEPH_HEADLESS");
  if (script && *script)
    connectHeadless(script);
  else
    connectTerminal();
  logCall("WiConnect", tty, program, flags);
  return 0;
}

void WiDisconnect(void) {
  logCall("WiDisconnect");
  release();
}

int WiCreate(int parent, int row, int col, int rows, int cols, int border, char const* label, int32_t attr) {
  ensureConnected();
  Layer& l = L();
  logCall("WiCreate", parent, row, col, rows, cols, border, label ? label : "", int(attr));
  int h = l.screen.create(parent, row, col, rows, cols, border, label ? label : "", attr);
  l.current = h;
  return h;
}

int WiDelete(int handle) {
  logCall("WiDelete", handle);
  L().screen.remove(handle);
  return 0;
}

int WiCurrent(void) {
  Layer& l = L();
  logCall("WiCurrent");
  l.current = l.screen.top();
  return l.current;
}

int WiSwitchTo(int handle) {
  Layer& l = L();
  logCall("WiSwitchTo", handle);
  if (!l.screen.find(handle)) return -1;
  int prev = l.current;
  l.screen.raise(handle);
  l.current = handle;
  return prev;
}

void WiFlush(void) {
  logCall("WiFlush");
  draw();
}

void WiRefresh(void) {
  logCall("WiRefresh");
  draw();
}

void WiRedraw(void) {
  logCall("WiRedraw");
  if (L().mode == Mode::Terminal) ::clearok(curscr, TRUE);
  draw();
}

int WiGetc(void) {
  logCall("WiGetc");
  return nextKey() & 0xFF;
}

int WiKeyReady(void) {
  Layer& l = L();
  logCall("WiKeyReady");
  if (l.mode == Mode::Headless) {
    for (size_t i = l.keyPos; i < l.keys.size(); ++i)
      if (l.keys[i] != zeph::term::kDumpMark) return 1;
    return 0;
  }
  if (l.mode != Mode::Terminal) return 0;
  if (!l.pending.empty()) return 1;
  int k = readTerminalKey(0);
  if (k == -2) return 0;
  l.pending.push_back(k);
  return 1;
}

char const* WiKeyHelp(int key, char* buffer) {
  logCall("WiKeyHelp", key);
  std::string name = zeph::term::keyName(key);
  if (name.size() > 15) name.resize(15);
  if (buffer) {
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
  }
  return buffer;
}

int WiPrintf(char const* format, ...) {
  Layer& l = L();
  std::string text;
  va_list ap;
  va_start(ap, format);
  if (format) doFormatV(formatSink, &text, format, ap);
  va_end(ap);
  logCall("WiPrintf", text.c_str());
  Win* w = cur();
  if (!w || l.mode == Mode::Closed) return 0;
  for (char c : text) l.screen.put(*w, static_cast<unsigned char>(c), l.bells);
  if (l.mode == Mode::Terminal && text.find('\a') != std::string::npos) ::beep();
  return int(text.size());
}

int WiPutc(int c) {
  Layer& l = L();
  logCall("WiPutc", c);
  Win* w = cur();
  if (!w || l.mode == Mode::Closed) return 0;
  l.screen.put(*w, static_cast<unsigned char>(c), l.bells);
  if (c == 7 && l.mode == Mode::Terminal) ::beep();
  return c;
}

int WiSetBorder(int border, char const* label) {
  Layer& l = L();
  logCall("WiSetBorder", border, label ? label : "");
  Win* w = cur();
  if (!w || w->handle == 0) return 0;
  bool hadFrame = w->border != 0;
  w->border = border;
  w->label = label ? label : "";
  // Gaining or losing the frame changes the box that must fit the parent.
  if (hadFrame != (border != 0))
    l.screen.place(*w, w->row, w->col, w->rows, w->cols, true);
  else
    l.screen.drawFrame(*w);
  return 0;
}

int WiScroll(int n) {
  logCall("WiScroll", n);
  if (Win* w = cur()) L().screen.scroll(*w, n);
  return 0;
}

int WiSetScroll(int top, int bottom, int left, int right) {
  logCall("WiSetScroll", top, bottom, left, right);
  if (Win* w = cur()) L().screen.setScroll(*w, top, bottom, left, right);
  return 0;
}

int WiSetAttr(int32_t attr) {
  logCall("WiSetAttr", int(attr));
  if (Win* w = cur()) w->attr = attr;
  return 0;
}

int WiSetBackGr(int32_t attr) {
  logCall("WiSetBackGr", int(attr));
  if (Win* w = cur()) w->back = attr;
  return 0;
}

int WiMoveTo(int row, int col) {
  logCall("WiMoveTo", row, col);
  if (Win* w = cur()) {
    w->curRow = row;
    w->curCol = col;
  }
  return 0;
}

int WiEraEol(void) {
  logCall("WiEraEol");
  if (Win* w = cur()) L().screen.eraseEol(*w);
  return 0;
}

int WiErase(void) {
  logCall("WiErase");
  if (Win* w = cur()) L().screen.erase(*w);
  return 0;
}

int WiInsLines(int row, int n) {
  logCall("WiInsLines", row, n);
  if (Win* w = cur()) L().screen.insLines(*w, row, n);
  return 0;
}

int WiDelLines(int row, int n) {
  logCall("WiDelLines", row, n);
  if (Win* w = cur()) L().screen.delLines(*w, row, n);
  return 0;
}

int WiInsChar(int n, int unused) {
  logCall("WiInsChar", n, unused);
  if (Win* w = cur()) L().screen.insChar(*w, n);
  return 0;
}

int WiDelChar(int n, int unused) {
  logCall("WiDelChar", n, unused);
  if (Win* w = cur()) L().screen.delChar(*w, n);
  return 0;
}

int WiCursor(int on) {
  logCall("WiCursor", on);
  if (Win* w = cur()) w->cursorOn = on != 0;
  return 0;
}

int WiWrap(int on) {
  logCall("WiWrap", on);
  if (Win* w = cur()) w->wrap = on != 0;
  return 0;
}

#define ZEPH_QUERY(name, expr)               \
  int name(int handle) {                     \
    logCall(#name, handle);                  \
    Win* w = L().screen.find(handle);        \
    if (!w) return -1;                       \
    return (expr);                           \
  }
ZEPH_QUERY(WiHeight, w->rows)
ZEPH_QUERY(WiWidth, w->cols)
ZEPH_QUERY(WiLine, w->curRow)
ZEPH_QUERY(WiCol, w->curCol)
#undef ZEPH_QUERY

int WiOrgRow(int handle) {
  logCall("WiOrgRow", handle);
  Win* w = L().screen.find(handle);
  if (!w) return -1;
  int r, c;
  L().screen.origin(*w, r, c);
  return r;
}

int WiOrgCol(int handle) {
  logCall("WiOrgCol", handle);
  Win* w = L().screen.find(handle);
  if (!w) return -1;
  int r, c;
  L().screen.origin(*w, r, c);
  return c;
}

int WiGetField(int type, char* buffer, int start, int maxLength, int width, int32_t flags, char const* checks,
               char const* edit) {
  logCall("WiGetField", type, buffer ? buffer : "", start, maxLength, width, int(flags), checks ? checks : "",
          edit ? edit : "");
  if (!buffer) return 129;
  ensureConnected();
  return editField(buffer, start, maxLength, width, checks, edit);
}

int WiMove(int handle) {
  logCall("WiMove", handle);
  return moveOrResize(handle, false);
}

int WiResize(int handle) {
  logCall("WiResize", handle);
  return moveOrResize(handle, true);
}

int WiSetRaw(int mode) {
  Layer& l = L();
  logCall("WiSetRaw", mode);
  l.raw = mode != 0;
  if (l.mode == Mode::Terminal) {
    if (l.raw)
      ::raw();
    else {
      ::noraw();
      ::cbreak();
    }
  }
  return 0;
}

int WiSetServices(int flag) {
  logCall("WiSetServices", flag);
  L().services = flag != 0;
  return 0;
}

int WiExecCmd(char const* command, char const* unused) {
  logCall("WiExecCmd", command ? command : "", unused ? unused : "");
  if (!command) return -1;
  char const* argv[] = {"/bin/sh", "-c", command, nullptr};
  return runSuspended(argv);
}

int WiService(char const* name) {
  logCall("WiService", name ? name : "");
  if (!name || std::strcmp(name, "GoToShell") != 0) return 0;
  char const* shell = std::getenv("SHELL");
  if (!shell || !*shell) shell = "/bin/sh";
  char const* argv[] = {shell, nullptr};
  return runSuspended(argv) == 127 ? 0 : 1;
}

// --- test access ------------------------------------------------------------------------------

int WiTestHeadless(void) { return L().wasHeadless ? 1 : 0; }
int WiTestRows(void) { return L().screen.rows(); }
int WiTestCols(void) { return L().screen.cols(); }

int WiTestChar(int row, int col) {
  Layer& l = L();
  if (row < 0 || row >= l.screen.rows() || col < 0 || col >= l.screen.cols()) return -1;
  return int(l.screen.compose()[size_t(row) * size_t(l.screen.cols()) + size_t(col)].ch);
}

int32_t WiTestAttr(int row, int col) {
  Layer& l = L();
  if (row < 0 || row >= l.screen.rows() || col < 0 || col >= l.screen.cols()) return -1;
  return l.screen.compose()[size_t(row) * size_t(l.screen.cols()) + size_t(col)].attr;
}

int WiTestRow(int row, char* buffer, int size) {
  Layer& l = L();
  if (row < 0 || row >= l.screen.rows() || !buffer || size <= 0) return -1;
  std::vector<Cell> grid = l.screen.compose();
  std::string text;
  for (int c = 0; c < l.screen.cols(); ++c)
    zeph::term::appendUtf8(text, grid[size_t(row) * size_t(l.screen.cols()) + size_t(c)].ch);
  if (int(text.size()) >= size) return -1;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return int(text.size());
}

int WiTestBells(void) { return L().bells; }
int WiTestCallCount(void) { return int(L().calls.size()); }

char const* WiTestCall(int i) {
  Layer& l = L();
  if (i < 0 || size_t(i) >= l.calls.size()) return nullptr;
  return l.calls[size_t(i)].c_str();
}

void WiTestClearCalls(void) { L().calls.clear(); }

int WiTestKeys(char const* script) {
  Layer& l = L();
  std::vector<int> keys;
  int badLine = 0;
  std::string badToken;
  if (!zeph::term::parseKeyScript(script ? script : "", keys, badLine, badToken)) return badLine;
  l.keys = std::move(keys);
  l.keyPos = 0;
  return 0;
}

int WiTestKeysLeft(void) {
  Layer& l = L();
  int n = 0;
  for (size_t i = l.keyPos; i < l.keys.size(); ++i)
    if (l.keys[i] != zeph::term::kDumpMark) ++n;
  return n;
}

}  // extern "C"
