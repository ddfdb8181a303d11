// The editable text and the cursor that edits it.
//
// EditableText is a Text that can be changed and written back byte for byte:
// store() puts attribute sequences back and removes fill bytes. Its states
// are those of Text; store() moves an active text to "stored, unmodified,
// type 1" only when every byte reached the file.
//
// EditableTextCursor changes a text while keeping its tab layout: after
// every change each tab touched still ends at the last column of its tab
// stop, preceded by the fill bytes (0x1F) that reach it. Characters and
// lines are inserted and deleted through the list and text cursors, so every
// other cursor (zone ends included) follows the change.
#pragma once
#include <winkit/Text.h>

class EditableTextCursor;

class EditableText : public Text {
public:
  // As the Text constructors, with type bit 1 set.
  explicit EditableText(String const& name);
  EditableText();
  EditableText(String const& command, bool deferRead);

  EditableText* edText() override { return this; }
  // Text's deActivate, then type 1 again.
  void deActivate() override;

  // Writes every line of an active text to the file `name` (sequences put
  // back, fill bytes removed, each line ended by "\n"). True when every byte
  // was written and the file closed: then stored, type 1 and not modified.
  // False otherwise, with the state unchanged and errNo() telling why.
  virtual bool store();
  // The errno of the last failed store (0 when it succeeded).
  int errNo() const { return errNo_; }

  // Inserts lines at the cursor (the first joins the cursor's line, the last
  // is put before the rest of it) and turns their escape sequences into
  // zones; the cursor stays where it was. False for a cursor of another text.
  bool insertText(StringList& lines, EditableTextCursor& at);
  // Appends the lines from `from` to `to` (to without a line: the end of the
  // text; its column only with inclusiveEnd) with sequences put back.
  bool getRegion(StringList& out, TextCursor const& from, TextCursor const& to, bool inclusiveEnd);
  // Deletes from `from` to `to` (exclusiveEnd: up to the character before
  // it); remove clear blanks within lines and empties the lines between.
  bool delRegion(EditableTextCursor& from, TextCursor& to, bool remove, bool exclusiveEnd);

protected:
  // Replaces the whole content of fd in place (the lock on it stays): space
  // reserved first, written from offset 0, cut to its length, synced. False
  // with errno on a failure; one found before the first byte changes nothing.
  static bool rewriteFile(int fd, std::string const& data);
  // After a successful store: no error, stored, editable, not modified.
  void markStored();

  int errNo_ = 0;
};

class EditableTextCursor : public TextCursor {
public:
  EditableTextCursor() {}
  explicit EditableTextCursor(Text const& t) : TextCursor(t) {}
  explicit EditableTextCursor(TextCursor const& c) : TextCursor(c) {}
  EditableTextCursor(EditableTextCursor const& o) : TextCursor(o) {}
  EditableTextCursor& operator=(TextCursor const& o) {
    TextCursor::operator=(o);
    return *this;
  }
  EditableTextCursor& operator=(EditableTextCursor const& o) {
    TextCursor::operator=(o);
    return *this;
  }
  EditableTextCursor* edTextCur() override { return this; }

  // Replaces the character at the column (making the line when missing).
  void setChar(char c);
  // The character at the column; 0 beyond the line or without a line.
  char getChar() const;
  // Inserts s at the column (the cursor stays before it); the fill run before
  // the cursor becomes blanks and the tabs after are realigned.
  void insString(String const& s);
  // Deletes the cursor's line (its flag attributes first); the cursor keeps
  // its line number and column.
  void del();
  // Deletes (or, unless remove, blanks when inside the line) the columns
  // first..last of the cursor's line; true when the line changed.
  bool delRange(long first, long last, bool remove);
  // Deletes from the cursor to (line, col) inclusive; with join and remove a
  // col past the last character also takes that line's end (joining).
  void delTo(long line, long col, bool join, bool remove);
  // Appends the next line to this one (its tabs laid out again for their new
  // columns); the cursor goes to the old line end.
  bool joinLines();
  // The fill bytes just before the column become blanks.
  void delFillTabs();
  // Realigns the next count tabs from column from (the column is kept).
  void reAssignNextTab(long from, long count);
  // On a tab: deletes the fill bytes before it, moving left; true.
  bool backTab();
  // Moves back by the length of s and writes its characters with setChar.
  void rebuildTab(String& s);
  // Splits the line at the cursor (see the editing rules); the new column.
  long insNewLine(bool indent);
  // The leading blanks and fill bytes of the line (null when none).
  String findIndentSpace() const;
  // Makes the cursor's line (an empty one) when it has none.
  void makeLine();
  // Inserts s at the column without touching tabs; the cursor stays before it.
  void insRaw(String const& s);
};
