// Window: a thin handle on one window of the terminal window layer
// of the run-time library. Every per-window operation first makes its window
// the layer's current window, then calls one layer function.
//
// States of a Window: hidden (handle -1, nothing on the screen) or shown
// (a handle from WiCreate); the root window (handle 0, the whole screen) is
// made by connect and lives for the process.
//
// Invariants kept by the statics: `currwin` is the handle that the layer
// holds current, as far as the toolkit made it so (creation, a switch, or
// WiCurrent after a deletion while created windows remain); every shown
// Window made through creation is on the chain from `headwin`, newest first;
// the connection, once open, is never closed by the toolkit, and the root
// window is never deleted.
#pragma once

#include <zfound/String.h>

class Num;

class Window {
public:
  // A hidden window: nothing is created.
  Window();
  // Creates the terminal window at once under `parent`.
  Window(Window& parent, long row, long col, long rows, long cols, long border, String const& label, long attr);
  // Creates it at once under the default parent (the root when none is set).
  Window(long row, long col, long rows, long cols, long border, String const& label, long attr);
  // As above with row and column -1 (the layer places it).
  Window(long rows, long cols, long border, String const& label, long attr);
  // Destroys the terminal window unless it is hidden or the root.
  virtual ~Window();
  Window(Window const&) = delete;
  // Copies handle and link (the chain itself is not changed).
  Window& operator=(Window const& other);

  // Creates the terminal window under the default parent when hidden.
  void display(long row, long col, long rows, long cols, long border, String const& label, long attr);
  // Creates it under `parent` when hidden (asserts "parent != (0)").
  void display(Window* parent, long row, long col, long rows, long cols, long border, String const& label,
               long attr);
  // Destroys the terminal window if it exists (never the root's).
  void unDisplay();
  // True while no terminal window exists.
  bool hidden() const { return handle_ == -1; }
  // The layer's handle (-1 when hidden).
  long handle() const { return handle_; }

  // Opens the connection to the layer (asserts it is not open yet).
  static void connect();
  // The whole-screen window, connecting on first use.
  static Window* rootWindow();
  // Sets the default parent of new windows (null: the root); the old one.
  static Window* setDefPar(Window* parent);
  // Sends pending output.
  // True while the terminal connection is open.
  static bool connected() { return wmConnection; }
  static void flush();
  // Sends pending output and repaints the screen (asserts "wmConnection").
  static void refresh();
  // Redraws the whole screen (asserts "wmConnection").
  static void redraw();
  // Keyboard mode (1: Ctrl-C and Ctrl-Z arrive as keys).
  static void setRaw(long mode);
  // Enables the layer's services.
  static void setServices(bool on);
  // Runs a command through the layer.
  static void execCommand(char* command, char* other);
  // Runs a layer service; true when the layer reports success.
  static bool execService(String const& name);
  // Fills `name` with the printable name of `key` and returns it.
  static String& keyHelp(unsigned char key, String& name);

  // Per-window operations; each first makes the window current and does
  // nothing when that fails.
  void goTo(long row, long col);
  Window& operator()(long row, long col) {
    goTo(row, col);
    return *this;
  }
  // A null or highest String writes nothing.
  Window& operator<<(String const& s);
  Window& operator<<(char const* s);
  Window& operator<<(Num const& n);
  Window& operator<<(char c);
  Window& operator<<(unsigned char c);
  Window& operator<<(long v);
  Window& operator<<(int v);
  void setAttr(long attr);
  void setBackGr(long attr);
  void eraseEol();
  void erase();
  void scroll(long n);
  void setScroll(long top, long bottom, long left, long right);
  void insLines(long row, long n);
  void delLines(long row, long n);
  void insChar(long n);
  void delChar(long n);
  void cursor(bool on);
  void wrap(bool on);
  void setBorder(long border, String const& label);
  void beep();
  // The next key (0 when the window cannot be made current).
  unsigned char getKey();
  Window& operator>>(unsigned char& key);
  // Edits `datum` in place through the layer's field editor; the key that
  // ended the edit, or -1 when the window cannot be made current. A datum of
  // 512 characters or more is cut to 511, and the maximum length is at most
  // 511.
  long getField(long type, String& datum, long start, long length, long width, long flags,
                String const& mask1, String const& mask2);
  // Brings the window to the front (makes it current).
  void front();

  // Queries, without bringing the window to the front (-1 when hidden).
  long height() const;
  long width() const;
  long line() const;
  long column() const;
  long orgRow() const;
  long orgCol() const;
  bool keyReady() const;
  // Lets the user move / resize the window.
  void move();
  bool resize();

private:
  explicit Window(long handle, bool);  // the root
  // Makes this window the layer's current one; false when that fails.
  bool makeCurrent();
  void create(long parentHandle, long row, long col, long rows, long cols, long border, String const& label,
              long attr);
  void destroy();

  long handle_ = -1;
  Window* next_ = nullptr;

  static bool wmConnection;
  static Window* rootWindow_;
  static long currwin;
  static Window* headwin;
  static Window* defWinPar;
};
