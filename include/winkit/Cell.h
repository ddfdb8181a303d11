// Input cells: one-line fields edited by the terminal layer's field editor.
// The cell keeps the value, its limits and an optional display mask, and
// writes the value back after editing (padded with blanks to the display
// width). StrCell is the plain text cell, FStrCell one with a display mask.
//
// A cell left with Esc (129) answers -1 even when it has an action, and
// keeps the edited value.
#pragma once
#include <winkit/StrHistory.h>
#include <winkit/WinObj.h>

#include <zfound/String.h>

class Cell : public WinObj {
public:
  Cell(long start, long maxLen, long dispWidth, long flags, String const& mask2, String const& mask1, long row,
       long col, StrHistory* history);
  // Creates the window without wrapping.
  bool display(long row, long col) override;
  // Writes the value (through the mask when there is one) and pads it.
  void writeStr();

protected:
  String value_;
  long start_;
  long maxLen_;
  long dispWidth_;
  long flags_;
  String mask2_;
  String mask1_;
  StrHistory* history_;  // not owned
};

class StrCell : public Cell {
public:
  // maxLen characters shown in dispWidth columns; history is not owned.
  StrCell(long maxLen, long dispWidth, long start, long row, long col, StrHistory* history);
  bool display(long row, long col) override;
  // Edits the value until a key other than help ends it; -2 when inactive,
  // -1 after Esc, else the action's result or 0.
  long execute(unsigned char key) override;
  String const& value() const { return value_; }
  void setValue(String const& v) { value_ = v; }
};

class FStrCell : public StrCell {
public:
  // mask is an edit mask (not yet compiled); the cell is as wide as it.
  FStrCell(String const& mask, long start, long row, long col);
};
