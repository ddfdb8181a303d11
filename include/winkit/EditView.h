// The editable view: the view in which the user types.
//
// It edits its text through an EditableTextCursor, so the tab layout (fill
// bytes 0x1F before each tab up to its stop) holds after every operation.
// Insert mode is view flag 1 and is on when a view is made.
//
// Block states: none (the mark has no text) -> beginBlock/setBlock ->
// marked (the mark is a registered cursor that follows every edit) ->
// delBlock -> none. While marked, showBlock() lays the display attribute
// 0x2000 over the region; that attribute never marks the text modified.
//
// Region rule: a region runs from the earlier of the mark and the cursor to
// the later; the earlier end always belongs to it, the later end only when
// it is the mark.
#pragma once
#include <winkit/EditText.h>
#include <winkit/View.h>

class EditableView : public View {
public:
  // A view of the file `name` (the text of a view showing it, else a new
  // EditableText) with an EditableTextCursor unless given.
  explicit EditableView(String const& name, Text* text = nullptr, TextCursor* cursor = nullptr);
  // A stream view over a new stream EditableText unless given.
  EditableView(String const& command, bool deferRead, Text* text = nullptr, TextCursor* cursor = nullptr);
  EditableView(EditableView const&) = delete;
  EditableView& operator=(EditableView const&) = delete;
  ~EditableView() override;

  EditableText* edText() override;
  EditableTextCursor* edCursor() override;
  EditableView* edView() override { return this; }
  bool exit(bool force) override;
  void _writeStLine() override;

  bool inInsMode() const { return (flags_ & FlagInsert) != 0; }
  // Toggles insert mode; rewrites the status line when asked.
  void chgInsMode(bool redrawStatus = true);
  bool isTextMod() const { return text_->modif(); }
  // Writes the text back to its file (never a help view's text).
  bool store();
  // Gives the text the file `name`: false when another view shows that file.
  bool chgFileName(String const& name);

  void insChar(unsigned char c);
  void delChar();
  void tab();
  void backSpace();
  void backTab();
  void insNewLine(bool indent);
  void delLine();
  // A line before the cursor's line; the cursor moves onto it.
  void insLine(String const& line);
  void setLine(String const& line);
  void joinLines();
  void delWord();
  void delEndOfLine();

  // The mark goes to the cursor (beep without a line).
  void beginBlock();
  void setBlock(TextCursor& mark);
  bool hasBlock() const { return block_->list() != nullptr; }
  TextCursor& getBlock() { return *block_; }
  // Removes the display attribute and clears the mark.
  void delBlock(bool redraw);
  // Lays / removes the display attribute over the region and redraws.
  void blockOn(bool redraw);
  void blockOff(bool redraw);
  // Moves the shown region to the current cursor (after a movement).
  void showBlock();
  // Adds / removes bits over the region between mark and cursor.
  void setAttribute(TextCursor& mark, long bits);
  void delAttribute(TextCursor& mark, long bits);
  // The region between mark and cursor as lines with attribute sequences.
  bool getRegion(StringList& out, TextCursor& mark);
  // Deletes (remove) or blanks the region; the cursor goes to its start.
  bool delRegion(TextCursor& mark, bool remove);
  bool insertText(StringList& lines);
  // Inserts the file's lines before the cursor's line; their number.
  long insertFile(String const& name);

protected:
  // The text of a view showing the file, else a new EditableText.
  Text* constructText(String const& name) override { return editText(name, nullptr); }
  static Text* editText(String const& name, Text* given);
  // The region's ends: from, to and whether `to` belongs to it.
  bool regionEnds(TextCursor const& mark, TextCursor& from, TextCursor& to, bool& inclusive) const;
  // Redraws the cursor's line, or the view when an origin moved.
  void redrawAfterEdit();

  TextCursor* block_;
};
