// WinObj: placement defaults and the widget's window.
#include <winkit/WinObj.h>

#include <zfound/Assert.h>

WinObj::WinObj(long row, long col) : wi(new Window), row(row), col(col) {}

WinObj::~WinObj() { delete wi; }

void WinObj::front() {
  if (wi->hidden()) _assert("! wi->hidden()", __FILE__, __LINE__);
  wi->front();
}

void WinObj::unDisplay() { wi->unDisplay(); }

bool WinObj::display(long r, long c) {
  if (r == -1) r = row;
  if (c == -1) c = col;
  if (r == -1) r = Window::rootWindow()->line() + 2;
  if (c == -1) c = Window::rootWindow()->column() + 1;
  wi->display(r, c, height, width, border, label, nAttr);
  width = wi->width();
  height = wi->height();
  return true;
}

bool WinObj::isDefault() const { return false; }

long WinObj::hotKey() const { return hotKey_; }

void WinObj::enter() {}

void WinObj::leave() {}
