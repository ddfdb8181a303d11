// The window model of the terminal layer: windows with their cells, frames,
// cursors and scroll regions, their stacking, and the composed screen. The
// terminal and the headless modes draw the same composed grid, so a dump
// shows exactly the cells a terminal shows.
//
// Invariants: window 0 (the screen) always exists and is the bottom of the
// stack; every other window's parent exists (removing a window removes its
// children); a window's cells cover its interior and a one-cell frame ring
// around it whether or not the frame is drawn; the scroll region always lies
// inside the interior; the stack holds every window exactly once, and a
// raised window carries its children above it in their order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zeph::term {

// One screen cell: a Unicode code point and the attribute it is shown with.
struct Cell {
  char32_t ch = U' ';
  int32_t attr = 0;
  bool operator==(Cell const& o) const { return ch == o.ch && attr == o.attr; }
};

// The code point the terminal shows for a toolkit character code (0..255).
char32_t glyphOf(unsigned char c);

// Appends the UTF-8 form of `ch` to `out`.
void appendUtf8(std::string& out, char32_t ch);

struct Window {
  int handle = 0;
  int parent = -1;
  int row = 0, col = 0;    // interior origin relative to the parent's interior
  int rows = 0, cols = 0;  // interior size
  int border = 0;          // 0: no frame
  std::string label;
  int32_t attr = 0;        // attribute of following output
  int32_t back = 0;        // attribute of erased cells
  int32_t frameAttr = 0;   // attribute of the frame
  int curRow = 0, curCol = 0;
  bool wrap = true;
  bool cursorOn = true;
  int sTop = 0, sBottom = 0, sLeft = 0, sRight = 0;  // scroll region, inclusive
  std::vector<Cell> cells;                           // (rows + 2) x (cols + 2)

  // The cell at interior coordinates (frame: -1 and rows / cols); null
  // outside the frame ring.
  Cell* at(int r, int c);
  Cell const* at(int r, int c) const;
};

class Screen {
public:
  // A screen of rows x cols with the root window 0 covering it.
  void reset(int rows, int cols);
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // A new screen size (the terminal was resized): the root follows, and
  // every other window is brought back inside its parent.
  void resize(int rows, int cols);

  // A new window on top (see Wi.h for placement); its handle.
  int create(int parent, int row, int col, int rows, int cols, int border, std::string const& label,
             int32_t attr);
  // Removes the window and its children; false for 0 or an unknown handle.
  bool remove(int handle);
  // Moves the window and its children to the top of the stack.
  void raise(int handle);
  // The window of a handle, or null.
  Window* find(int handle);
  // The top of the stack.
  int top() const { return stack_.back(); }
  // Absolute screen position of a window's interior origin.
  void origin(Window const& w, int& row, int& col);
  // Re-applies placement rules after a move or resize (keeps it inside).
  void place(Window& w, int row, int col, int rows, int cols, bool relayout);
  // Redraws the frame and label of a window.
  void drawFrame(Window& w);

  // Output on window w.
  void put(Window& w, unsigned char c, int& bells);
  void eraseEol(Window& w);
  void erase(Window& w);
  void scroll(Window& w, int n);
  void insLines(Window& w, int row, int n);
  void delLines(Window& w, int row, int n);
  void insChar(Window& w, int n);
  void delChar(Window& w, int n);
  void setScroll(Window& w, int top, int bottom, int left, int right);

  // The composed screen (rows x cols, row-major).
  std::vector<Cell> compose();
  // The composed screen as text: rows lines of cols characters, each ended
  // by "\n".
  std::string dump();

private:
  // Shifts rows [top, bottom] of columns [left, right] by n (n > 0 up).
  void shiftRows(Window& w, int top, int bottom, int left, int right, int n);
  bool isDescendant(int handle, int ancestor);

  int rows_ = 24, cols_ = 80;
  int next_ = 1;
  std::vector<Window> windows_;
  std::vector<int> stack_;  // bottom to top
};

}  // namespace zeph::term
