// Window: each operation makes its window current, then calls one function
// of the terminal window layer. The guard keeps `currwin` in step with the
// layer: a switch must answer the handle the toolkit believed current.
#include <winkit/Window.h>

#include <zeph/Wi.h>

#include <zfound/Assert.h>
#include <zfound/Num.h>
#include <zfound/Process.h>

#include <cstdint>
#include <cstring>

namespace {

// Buffers of the layer calls that fill text: key names and field input.
constexpr int kKeyNameSize = 16;
constexpr int kFieldSize = 512;
char keyNameBuffer[kKeyNameSize];
char fieldBuffer[kFieldSize];

// The layer takes positions and sizes as 16-bit values.
int short16(long v) { return int16_t(v); }

char const* text(String const& s) { return s.isNull() || s.isHighest() ? "" : toCharPtr(s); }

}  // namespace

bool Window::wmConnection = false;
Window* Window::rootWindow_ = nullptr;
long Window::currwin = 0;
Window* Window::headwin = nullptr;
Window* Window::defWinPar = nullptr;

Window::Window() = default;

Window::Window(long handle, bool) : handle_(handle) {}

Window::Window(Window& parent, long row, long col, long rows, long cols, long border, String const& label,
               long attr) {
  create(parent.handle_, row, col, rows, cols, border, label, attr);
}

Window::Window(long row, long col, long rows, long cols, long border, String const& label, long attr) {
  create(defWinPar ? defWinPar->handle_ : 0, row, col, rows, cols, border, label, attr);
}

Window::Window(long rows, long cols, long border, String const& label, long attr)
    : Window(-1L, -1L, rows, cols, border, label, attr) {}

Window::~Window() {
  if (handle_ > 0) destroy();
}

Window& Window::operator=(Window const& other) {
  handle_ = other.handle_;
  next_ = other.next_;
  return *this;
}

void Window::create(long parentHandle, long row, long col, long rows, long cols, long border, String const& label,
                    long attr) {
  if (!wmConnection) connect();
  handle_ = WiCreate(int(parentHandle), short16(row), short16(col), short16(rows), short16(cols), int(border),
                     text(label), int32_t(attr));
  currwin = handle_;
  next_ = headwin;
  headwin = this;
}

void Window::destroy() {
  WiDelete(int(handle_));
  for (Window** p = &headwin; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
  next_ = nullptr;
  if (headwin) currwin = WiCurrent();
  handle_ = -1;
}

void Window::display(long row, long col, long rows, long cols, long border, String const& label, long attr) {
  if (hidden()) create(defWinPar ? defWinPar->handle_ : 0, row, col, rows, cols, border, label, attr);
}

void Window::display(Window* parent, long row, long col, long rows, long cols, long border, String const& label,
                     long attr) {
  if (!parent) {
    _assert("parent != (0)", __FILE__, __LINE__);
    return;
  }
  if (hidden()) create(parent->handle_, row, col, rows, cols, border, label, attr);
}

void Window::unDisplay() {
  if (handle_ > 0) destroy();
}

void Window::connect() {
  if (wmConnection || rootWindow_) {
    _assert("!wmConnection && !rootWindow_", __FILE__, __LINE__);
    return;
  }
  String tty = startUpDone() ? getTty() : String();
  String prog = startUpDone() ? argVal(0) : String();
  WiConnect(text(tty), text(prog), 0);
  wmConnection = true;
  rootWindow_ = new Window(0L, true);
  currwin = 0;
}

Window* Window::rootWindow() {
  if (!wmConnection) connect();
  if (!rootWindow_) _assert("rootWindow_ != (0)", __FILE__, __LINE__);
  return rootWindow_;
}

Window* Window::setDefPar(Window* parent) {
  Window* old = defWinPar;
  defWinPar = parent;
  return old;
}

void Window::flush() { WiFlush(); }

void Window::refresh() {
  if (!wmConnection) _assert("wmConnection", __FILE__, __LINE__);
  WiFlush();
  WiRefresh();
}

void Window::redraw() {
  if (!wmConnection) _assert("wmConnection", __FILE__, __LINE__);
  WiRedraw();
}

void Window::setRaw(long mode) {
  if (!wmConnection) connect();
  WiSetRaw(int(mode));
}

void Window::setServices(bool on) {
  if (!wmConnection) connect();
  WiSetServices(on ? 1 : 0);
}

void Window::execCommand(char* command, char* other) {
  if (!wmConnection) connect();
  WiExecCmd(command, other);
}

bool Window::execService(String const& name) {
  if (!wmConnection) connect();
  return WiService(text(name)) != 0;
}

String& Window::keyHelp(unsigned char key, String& name) {
  if (!wmConnection) connect();
  name = String(WiKeyHelp(key, keyNameBuffer));
  return name;
}

bool Window::makeCurrent() {
  if (handle_ == currwin) return true;
  if (hidden()) return false;
  long prevwin = WiSwitchTo(int(handle_));
  if (prevwin == -1) return false;
  if (prevwin != currwin) _assert("prevwin == currwin", __FILE__, __LINE__);
  currwin = handle_;
  return true;
}

void Window::goTo(long row, long col) {
  if (makeCurrent()) WiMoveTo(int(row), int(col));
}

Window& Window::operator<<(String const& s) {
  if (s.isNull() || s.isHighest()) return *this;
  if (makeCurrent()) WiPrintf("%s", toCharPtr(s));
  return *this;
}

Window& Window::operator<<(char const* s) {
  if (s && makeCurrent()) WiPrintf("%s", s);
  return *this;
}

Window& Window::operator<<(Num const& n) {
  if (makeCurrent()) WiPrintf("%N", &n);
  return *this;
}

Window& Window::operator<<(char c) { return *this << static_cast<unsigned char>(c); }

Window& Window::operator<<(unsigned char c) {
  if (makeCurrent()) WiPrintf("%c", int(c));
  return *this;
}

Window& Window::operator<<(long v) {
  if (makeCurrent()) WiPrintf("%ld", v);
  return *this;
}

Window& Window::operator<<(int v) { return *this << long(v); }

void Window::setAttr(long attr) {
  if (makeCurrent()) WiSetAttr(int32_t(attr));
}

void Window::setBackGr(long attr) {
  if (makeCurrent()) WiSetBackGr(int32_t(attr));
}

void Window::eraseEol() {
  if (makeCurrent()) WiEraEol();
}

void Window::erase() {
  if (makeCurrent()) WiErase();
}

void Window::scroll(long n) {
  if (makeCurrent()) WiScroll(int(n));
}

void Window::setScroll(long top, long bottom, long left, long right) {
  if (makeCurrent()) WiSetScroll(int(top), int(bottom), int(left), int(right));
}

void Window::insLines(long row, long n) {
  if (makeCurrent()) WiInsLines(int(row), int(n));
}

void Window::delLines(long row, long n) {
  if (makeCurrent()) WiDelLines(int(row), int(n));
}

void Window::insChar(long n) {
  if (makeCurrent()) WiInsChar(int(n), 0);
}

void Window::delChar(long n) {
  if (makeCurrent()) WiDelChar(int(n), 0);
}

void Window::cursor(bool on) {
  if (makeCurrent()) WiCursor(on ? 1 : 0);
}

void Window::wrap(bool on) {
  if (makeCurrent()) WiWrap(on ? 1 : 0);
}

void Window::setBorder(long border, String const& label) {
  if (!makeCurrent()) return;
  WiSetBorder(int(border), text(label));
  WiFlush();
}

void Window::beep() {
  if (!makeCurrent()) return;
  WiPutc(7);
  WiFlush();
}

unsigned char Window::getKey() {
  if (!makeCurrent()) return 0;
  WiFlush();
  return static_cast<unsigned char>(WiGetc() & 0xFF);
}

Window& Window::operator>>(unsigned char& key) {
  key = getKey();
  return *this;
}

long Window::getField(long type, String& datum, long start, long length, long width, long flags,
                      String const& mask1, String const& mask2) {
  if (!makeCurrent()) return -1;
  // The datum comes from user data (histories, paths): a longer one is cut
  // rather than refused, and the length never exceeds what the buffer holds.
  long have = datum.isNull() || datum.isHighest() ? 0 : datum.length();
  if (have > kFieldSize - 1) have = kFieldSize - 1;
  if (length > kFieldSize - 1) length = kFieldSize - 1;
  if (have) std::memcpy(fieldBuffer, toCharPtr(datum), size_t(have));
  fieldBuffer[have] = '\0';
  long key = WiGetField(int(type), fieldBuffer, int(start), int(length), int(width), int32_t(flags), text(mask1),
                        text(mask2));
  datum = String(fieldBuffer);
  return key;
}

void Window::front() { makeCurrent(); }

long Window::height() const { return WiHeight(int(handle_)); }
long Window::width() const { return WiWidth(int(handle_)); }
long Window::line() const { return WiLine(int(handle_)); }
long Window::column() const { return WiCol(int(handle_)); }
long Window::orgRow() const { return WiOrgRow(int(handle_)); }
long Window::orgCol() const { return WiOrgCol(int(handle_)); }
bool Window::keyReady() const { return WiKeyReady() != 0; }
void Window::move() { WiMove(int(handle_)); }
bool Window::resize() { return WiResize(int(handle_)) != 0; }
