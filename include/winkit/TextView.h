// TextView: a read-only viewer of a text of any length, supplied line by
// line through a callback: 16 rows, scrolling by line and by page, shifting
// sideways in steps of 10 columns (offset 0 to 256), scroll marks in the
// frame and the name of the leave key in the bottom frame line.
//
// State: `nextLine` is the number of the line just below the bottom row, so
// rows 0..15 show lines nextLine - 16 .. nextLine - 1 once a page is shown;
// the line above exists when nextLine > 17, the next line when the callback
// gives anything but the highest value for nextLine.
#pragma once

#include <winkit/WinObj.h>

class TextView : public WinObj {
public:
  // The text of line n (from 1); the highest String value past the end, a
  // null String for an empty line.
  typedef String const (*LineFn)(long);

  // A viewer over `lines` titled `title` at (row, col).
  TextView(LineFn lines, String const& title, long row, long col);

  // Shows the window (16 rows, the layer's width) with its hint line.
  bool display(long row, long col) override;
  // Runs the viewer until Esc (129, result -1) or Tab (146, result 0).
  long execute(unsigned char key) override;

private:
  void displayLine(long row, String const& text);
  void updateScrBars();
  void showPage();
  void showAgain();
  bool exists(long n) const;

  LineFn lines_;
  long nextLine_ = 1;
  long offset_ = 0;
};
