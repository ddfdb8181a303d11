// The window model: placement, frames, output, scrolling and composition.
// Everything here is pure state: no terminal is touched, so the terminal and
// the headless modes share it whole.
#include "Screen.h"

#include <algorithm>

namespace zeph::term {

namespace {

// Border 243 is a double line; every other non-zero code a single one.
constexpr int kDoubleBorder = 243;

struct FrameSet {
  char32_t tl, tr, bl, br, h, v;
};
constexpr FrameSet kSingle{U'┌', U'┐', U'└', U'┘', U'─', U'│'};
constexpr FrameSet kDouble{U'╔', U'╗', U'╚', U'╝', U'═', U'║'};

}  // namespace

char32_t glyphOf(unsigned char c) {
  switch (c) {
    case 0xA0: return U' ';
    case 0xA1: return U'─';
    case 0xA5: return U'┤';
    case 0xA7: return U'├';
    case 0xAB: return U'«';
    case 0xAC: return U'▲';
    case 0xAD: return U'▼';
    case 0xAE: return U'◄';
    case 0xAF: return U'►';
    case 0xB1: return U'▒';
    case 0xFF: return U'░';
    default: break;
  }
  if (c < 32 || (c >= 0x7F && c <= 0x9F)) return U'?';
  return char32_t(c);
}

void appendUtf8(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out += char(ch);
  } else if (ch < 0x800) {
    out += char(0xC0 | (ch >> 6));
    out += char(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += char(0xE0 | (ch >> 12));
    out += char(0x80 | ((ch >> 6) & 0x3F));
    out += char(0x80 | (ch & 0x3F));
  } else {
    out += char(0xF0 | (ch >> 18));
    out += char(0x80 | ((ch >> 12) & 0x3F));
    out += char(0x80 | ((ch >> 6) & 0x3F));
    out += char(0x80 | (ch & 0x3F));
  }
}

Cell* Window::at(int r, int c) {
  if (r < -1 || r > rows || c < -1 || c > cols) return nullptr;
  return &cells[size_t(r + 1) * size_t(cols + 2) + size_t(c + 1)];
}

Cell const* Window::at(int r, int c) const { return const_cast<Window*>(this)->at(r, c); }

void Screen::reset(int rows, int cols) {
  rows_ = rows;
  cols_ = cols;
  next_ = 1;
  windows_.clear();
  stack_.clear();
  Window root;
  root.handle = 0;
  root.rows = rows;
  root.cols = cols;
  root.cells.assign(size_t(rows + 2) * size_t(cols + 2), Cell{});
  root.sBottom = rows - 1;
  root.sRight = cols - 1;
  windows_.push_back(std::move(root));
  stack_.push_back(0);
}

void Screen::resize(int rows, int cols) {
  if (rows < 1 || cols < 1) return;
  rows_ = rows;
  cols_ = cols;
  // Windows are kept in creation order, so a parent is placed before its
  // children.
  for (Window& w : windows_) {
    if (w.handle == 0)
      place(w, 0, 0, rows, cols, false);
    else
      place(w, w.row, w.col, w.rows, w.cols, false);
  }
}

Window* Screen::find(int handle) {
  for (Window& w : windows_)
    if (w.handle == handle) return &w;
  return nullptr;
}

void Screen::origin(Window const& w, int& row, int& col) {
  row = 0;
  col = 0;
  for (Window const* p = &w; p && p->handle != 0; p = find(p->parent)) {
    row += p->row;
    col += p->col;
  }
}

// Fits the frame box of w into its parent's interior: -1 centres, a size of
// 0 or less reaches the far edge, a box that sticks out is shifted back and
// shrunk only when it is larger than the parent.
void Screen::place(Window& w, int row, int col, int rows, int cols, bool relayout) {
  Window* p = find(w.parent);
  int pr = p ? p->rows : rows_;
  int pc = p ? p->cols : cols_;
  int b = w.border ? 1 : 0;
  auto fit = [b](int pos, int size, int psize, int& outPos, int& outSize) {
    if (size <= 0) {
      if (pos < 0) pos = b;
      size = psize - pos - b;
    } else if (pos == -1) {
      pos = (psize - (size + 2 * b)) / 2 + b;
    }
    if (size < 1) size = 1;
    if (size + 2 * b > psize) {  // too large: shrink to the parent
      size = std::max(1, psize - 2 * b);
      pos = b;
    }
    if (pos + size - 1 + b > psize - 1) pos = psize - 1 - b - (size - 1);
    if (pos - b < 0) pos = b;
    outPos = pos;
    outSize = size;
  };
  int nr, nc, nrows, ncols;
  fit(row, rows, pr, nr, nrows);
  fit(col, cols, pc, nc, ncols);
  w.row = nr;
  w.col = nc;
  if (!relayout && nrows == w.rows && ncols == w.cols && !w.cells.empty()) return;
  // A new size: keep what fits of the old interior.
  std::vector<Cell> old = std::move(w.cells);
  int oldRows = w.rows, oldCols = w.cols;
  w.rows = nrows;
  w.cols = ncols;
  w.cells.assign(size_t(nrows + 2) * size_t(ncols + 2), Cell{U' ', w.back});
  if (!old.empty()) {
    for (int r = 0; r < std::min(oldRows, nrows); ++r)
      for (int c = 0; c < std::min(oldCols, ncols); ++c)
        *w.at(r, c) = old[size_t(r + 1) * size_t(oldCols + 2) + size_t(c + 1)];
  }
  w.sTop = 0;
  w.sBottom = nrows - 1;
  w.sLeft = 0;
  w.sRight = ncols - 1;
  w.curRow = std::min(w.curRow, nrows - 1);
  w.curCol = std::min(w.curCol, ncols - 1);
  drawFrame(w);
}

void Screen::drawFrame(Window& w) {
  if (!w.border) return;
  FrameSet const& f = w.border == kDoubleBorder ? kDouble : kSingle;
  Cell h{f.h, w.frameAttr}, v{f.v, w.frameAttr};
  for (int c = 0; c < w.cols; ++c) {
    *w.at(-1, c) = h;
    *w.at(w.rows, c) = h;
  }
  for (int r = 0; r < w.rows; ++r) {
    *w.at(r, -1) = v;
    *w.at(r, w.cols) = v;
  }
  *w.at(-1, -1) = Cell{f.tl, w.frameAttr};
  *w.at(-1, w.cols) = Cell{f.tr, w.frameAttr};
  *w.at(w.rows, -1) = Cell{f.bl, w.frameAttr};
  *w.at(w.rows, w.cols) = Cell{f.br, w.frameAttr};
  if (w.label.empty() || w.cols < 3) return;
  std::string text = w.label.substr(0, size_t(w.cols - 2));
  int len = int(text.size()) + 2;
  int start = (w.cols - len) / 2;
  *w.at(-1, start) = Cell{U' ', w.frameAttr};
  for (size_t i = 0; i < text.size(); ++i)
    *w.at(-1, start + 1 + int(i)) = Cell{glyphOf(static_cast<unsigned char>(text[i])), w.frameAttr};
  *w.at(-1, start + len - 1) = Cell{U' ', w.frameAttr};
}

int Screen::create(int parent, int row, int col, int rows, int cols, int border,
                   std::string const& label, int32_t attr) {
  if (!find(parent)) parent = 0;
  Window w;
  w.handle = next_++;
  w.parent = parent;
  w.border = border;
  w.label = label;
  w.attr = w.back = w.frameAttr = attr;
  place(w, row, col, rows, cols, true);
  windows_.push_back(std::move(w));
  stack_.push_back(windows_.back().handle);
  return windows_.back().handle;
}

bool Screen::isDescendant(int handle, int ancestor) {
  for (Window* w = find(handle); w; w = find(w->parent))
    if (w->handle == ancestor) return true;
  return false;
}

bool Screen::remove(int handle) {
  if (handle == 0 || !find(handle)) return false;
  std::vector<int> doomed;
  for (Window const& w : windows_)
    if (isDescendant(w.handle, handle)) doomed.push_back(w.handle);
  auto gone = [&doomed](int h) { return std::find(doomed.begin(), doomed.end(), h) != doomed.end(); };
  stack_.erase(std::remove_if(stack_.begin(), stack_.end(), gone), stack_.end());
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [&gone](Window const& w) { return gone(w.handle); }),
                 windows_.end());
  return true;
}

void Screen::raise(int handle) {
  if (handle == 0) return;
  std::vector<int> moved, rest;
  for (int h : stack_) (isDescendant(h, handle) ? moved : rest).push_back(h);
  rest.insert(rest.end(), moved.begin(), moved.end());
  stack_ = std::move(rest);
}

// Moves the cursor to the next row: at the bottom of the scroll region the
// region scrolls up instead; at the window's last row it stays.
static void lineFeed(Screen& s, Window& w) {
  if (w.curRow == w.sBottom)
    s.scroll(w, 1);
  else if (w.curRow < w.rows - 1)
    ++w.curRow;
}

void Screen::put(Window& w, unsigned char c, int& bells) {
  switch (c) {
    case '\n':
      w.curCol = 0;
      lineFeed(*this, w);
      return;
    case '\r':
      w.curCol = 0;
      return;
    case 7:
      ++bells;
      return;
    default:
      break;
  }
  if (Cell* cell = w.at(w.curRow, w.curCol)) *cell = Cell{glyphOf(c), w.attr};
  bool atEdge = w.curCol == w.cols - 1;
  bool interiorRow = w.curRow >= 0 && w.curRow < w.rows;
  ++w.curCol;
  if (!atEdge) return;
  if (w.wrap && interiorRow) {
    w.curCol = 0;
    lineFeed(*this, w);
  } else {
    // Clipped: output that ran to the last interior column goes no further,
    // so it never lands on the frame column (only a cursor placed there does).
    w.curCol = w.cols + 1;
  }
}

void Screen::eraseEol(Window& w) {
  if (w.curRow < 0 || w.curRow >= w.rows) return;
  for (int c = std::max(0, w.curCol); c < w.cols; ++c) *w.at(w.curRow, c) = Cell{U' ', w.back};
}

void Screen::erase(Window& w) {
  for (int r = 0; r < w.rows; ++r)
    for (int c = 0; c < w.cols; ++c) *w.at(r, c) = Cell{U' ', w.back};
  w.curRow = w.curCol = 0;
}

void Screen::shiftRows(Window& w, int top, int bottom, int left, int right, int n) {
  if (top > bottom || left > right || n == 0) return;
  Cell blank{U' ', w.back};
  int height = bottom - top + 1;
  if (n > 0) {
    for (int r = top; r <= bottom; ++r)
      for (int c = left; c <= right; ++c) *w.at(r, c) = (n < height && r + n <= bottom) ? *w.at(r + n, c) : blank;
  } else {
    int m = -n;
    for (int r = bottom; r >= top; --r)
      for (int c = left; c <= right; ++c) *w.at(r, c) = (m < height && r - m >= top) ? *w.at(r - m, c) : blank;
  }
}

void Screen::scroll(Window& w, int n) { shiftRows(w, w.sTop, w.sBottom, w.sLeft, w.sRight, n); }

void Screen::insLines(Window& w, int row, int n) {
  if (row < 0 || row >= w.rows || n <= 0) return;
  bool inRegion = row >= w.sTop && row <= w.sBottom;
  int bottom = inRegion ? w.sBottom : w.rows - 1;
  shiftRows(w, row, bottom, inRegion ? w.sLeft : 0, inRegion ? w.sRight : w.cols - 1, -n);
}

void Screen::delLines(Window& w, int row, int n) {
  if (row < 0 || row >= w.rows || n <= 0) return;
  bool inRegion = row >= w.sTop && row <= w.sBottom;
  int bottom = inRegion ? w.sBottom : w.rows - 1;
  shiftRows(w, row, bottom, inRegion ? w.sLeft : 0, inRegion ? w.sRight : w.cols - 1, n);
}

void Screen::insChar(Window& w, int n) {
  if (w.curRow < 0 || w.curRow >= w.rows || w.curCol < 0 || w.curCol >= w.cols || n <= 0) return;
  for (int c = w.cols - 1; c >= w.curCol; --c)
    *w.at(w.curRow, c) = c - n >= w.curCol ? *w.at(w.curRow, c - n) : Cell{U' ', w.back};
}

void Screen::delChar(Window& w, int n) {
  if (w.curRow < 0 || w.curRow >= w.rows || w.curCol < 0 || w.curCol >= w.cols || n <= 0) return;
  for (int c = w.curCol; c < w.cols; ++c)
    *w.at(w.curRow, c) = c + n < w.cols ? *w.at(w.curRow, c + n) : Cell{U' ', w.back};
}

void Screen::setScroll(Window& w, int top, int bottom, int left, int right) {
  top = std::clamp(top, 0, w.rows - 1);
  bottom = std::clamp(bottom, 0, w.rows - 1);
  left = std::clamp(left, 0, w.cols - 1);
  right = std::clamp(right, 0, w.cols - 1);
  if (top > bottom || left > right) {
    top = 0, bottom = w.rows - 1, left = 0, right = w.cols - 1;
  }
  w.sTop = top;
  w.sBottom = bottom;
  w.sLeft = left;
  w.sRight = right;
}

std::vector<Cell> Screen::compose() {
  std::vector<Cell> grid(size_t(rows_) * size_t(cols_), Cell{});
  for (int h : stack_) {
    Window* w = find(h);
    if (!w) continue;
    int orow, ocol;
    origin(*w, orow, ocol);
    int b = w->border ? 1 : 0;
    for (int r = -b; r < w->rows + b; ++r) {
      int sr = orow + r;
      if (sr < 0 || sr >= rows_) continue;
      for (int c = -b; c < w->cols + b; ++c) {
        int sc = ocol + c;
        if (sc < 0 || sc >= cols_) continue;
        grid[size_t(sr) * size_t(cols_) + size_t(sc)] = *w->at(r, c);
      }
    }
  }
  return grid;
}

std::string Screen::dump() {
  std::vector<Cell> grid = compose();
  std::string out;
  out.reserve(size_t(rows_) * size_t(cols_ + 1));
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) appendUtf8(out, grid[size_t(r) * size_t(cols_) + size_t(c)].ch);
    out += '\n';
  }
  return out;
}

}  // namespace zeph::term
