// Views: bordered windows that show a Text through a TextCursor.
//
// A view scrolls both ways, draws each line with the text's attribute zones
// and its own decorations, writes a status line into its bottom frame row
// and moves the cursor by characters, words, lines, pages and screen
// positions. Several views may show one text; they are numbered in their
// labels ("name [n]") while the text has more than one view.
//
// Every live view is on one process-wide list (View::head) from construction
// to destruction, in order of creation, so that opening a file already shown
// shares its text.
//
// View states: undisplayed (window hidden; the cursor position kept in
// savedLine/savedCol) -> activate -> displayed (the text active) ->
// deActivate -> undisplayed. A stream view whose output is still to be read
// reads it while displayed (reading) and is readDone afterwards.
//
// Invariants: a view's text counts this view among its nroViews() for the
// view's whole life; viewNumber lies in 0 .. nroViews()-1 and the numbers of
// the views of one text are distinct; while displayed, topOrigin <= cursor
// line < topOrigin + height after every movement operation.
#pragma once
#include <winkit/Text.h>
#include <winkit/Window.h>

#include <zfound/String.h>
#include <zfound/Time.h>

#include <cstdint>

class CmdBinding;
class MsgTable;
class EditableView;
class HelpView;

// An attribute laid over a word of a drawn line (columns start..end).
struct Decoration {
  // end = start + length - 1.
  Decoration(long s, long length, int32_t a) : start(s), end(s + length - 1), attrib(a), next(nullptr) {}
  long start;
  long end;
  int32_t attrib;
  Decoration* next;
};

class View : public Window {
public:
  enum : int32_t { FlagInsert = 1, FlagControl = 2, FlagOwnSize = 4, FlagCurrent = 8, FlagHelp = 16 };

  // A view of the file `name`: the text of a view already showing that file,
  // else a new Text(name) (unless text is given); a new cursor unless given.
  View(String const& name, Text* text = nullptr, TextCursor* cursor = nullptr);
  // A stream view of a command's output; unless deferRead the whole output
  // is read now, else while the view is displayed.
  View(String const& command, bool deferRead, Text* text = nullptr, TextCursor* cursor = nullptr);
  View(View const&) = delete;
  View& operator=(View const&) = delete;
  // Counts the view out of its text, renumbers the others and destroys the
  // text with its last view.
  ~View() override;

  virtual EditableText* edText() { return nullptr; }
  virtual EditableTextCursor* edCursor() { return nullptr; }
  virtual EditableView* edView() { return nullptr; }
  virtual View* fileView() { return nullptr; }
  virtual HelpView* helpView() { return nullptr; }
  // The attribute of a keyword (-1: none).
  virtual long keyWordAttrib(String const& word, String const& extension);
  // The decorations of a line (owned by the caller; null for none).
  virtual Decoration* getDecoration(char const* line, String& extension);
  // Whether the view may close.
  virtual bool exit(bool force);
  // Displays the view in the views' parent window (nothing when displayed).
  virtual void activate(long row, long col, long height, long width, bool current);
  // Removes the window, keeping the cursor position.
  virtual void deActivate();
  // Writes the status line with an optional message.
  virtual void writeStLine(String const& message = String());
  virtual void _writeStLine();

  // The first view whose text is the same file as name (null: none).
  static View* existText(String const& name);
  // Another displayed view showing this view's text.
  View* existActText() const;
  // Same name, or same last component in the same directory (device, inode).
  static bool sameFile(String const& a, String const& b);

  // The label, numbered " [n]" when asked and the text has several views.
  String getLabel(bool numbered) const;
  // Sets the label; redraws the frame and the status line when displayed.
  void chgLabel(String const& label);
  void setCurrent(bool on);
  void update();
  void redraw();
  void redrawCurrLine();
  void updateOtherViews();
  static void refresh() { Window::refresh(); }
  // Draws the cursor's line at its row (erased first by the caller).
  void redrawLine(TextCursor& line, String& extension);
  // The text of a key of the message table, or "(No message table)".
  String msg(String const& key) const;
  void chgCtrolMode();
  void chgHelpMode();
  void setSize(long row, long col, long height, long width);
  void chgOrgSize(long row, long col, long height, long width);
  void setOrgSize();
  void resize();
  void move();

  long orgColumn() const { return orgCol_; }
  long orgRowPos() const { return orgRow_; }
  long orgHeight() const { return orgHeight_; }
  long orgWidth() const { return orgWidth_; }
  long getHeight() const { return height_; }
  long getWidth() const { return width_; }
  long getRow() const { return cursor_->line(); }
  long getCol() const { return cursor_->column(); }
  TextCursor& getCursor() const;
  Text& getText() const;
  long colOrigin() const { return colOrigin_; }
  long topOrigin() const { return topOrigin_; }
  long viewNumber() const { return viewNumber_; }
  int32_t flags() const { return flags_; }
  bool isCurrent() const { return (flags_ & FlagCurrent) != 0; }
  bool inOrgSize() const { return (flags_ & FlagOwnSize) != 0; }
  bool isActive() const { return !hidden(); }
  bool isReading() const { return reading_; }
  void easyExit(bool on) { easyExit_ = on; }
  void dontExit(bool on) { dontExit_ = on; }
  void setCmdBinding(CmdBinding const* b) { cmdBinding_ = b; }
  CmdBinding const* getCmdBinding() const { return cmdBinding_; }
  String const& getTextName() const { return text_->getTextName(); }
  long sizeOfText() const { return text_->nLines(); }
  bool isTextType(long bits) const { return text_->isType(bits); }
  View* nextView() const { return next_; }
  // Gives the view another number among its text's views.
  void renumber(long n);
  static View* firstView() { return head; }
  static void tabSize(long n) { Text::tabSize(n); }
  static void setMessages(MsgTable* m) { msgs = m; }
  static void setViewPar(Window* w) { defViewPar = w; }
  static void setFullRedraw(bool const& on) { fullRedraw = on; }
  void beep() { Window::beep(); }
  unsigned char getKey() { return Window::getKey(); }
  View& operator>>(unsigned char& key) {
    key = getKey();
    return *this;
  }

  // With a key waiting: reads it and answers whether it is 129.
  bool isAborted();
  // Appends a line and moves the cursor past the end of the text.
  void appendLine(String const& line);
  // Deletes every line.
  void clear();
  // Shows the file `name` in this displayed view (false when undisplayed).
  bool load(String name);
  void reload();
  // Removes a file view's files when it is its text's last view; destroys v.
  static void deleteView(View* v);
  // The word under the cursor, highlighted a moment (null: not on a word).
  String getToken();
  bool findTokenBounds(long& first, long& last);
  void highlightToken(long first, long last);

  // Movement; impossible moves beep and change nothing.
  void cursDown(long n = 1);
  void cursUp(long n = 1);
  void cursLeft(long n = 1, bool redrawStatus = true);
  void cursRight(long n = 1, bool redrawStatus = true);
  void wordRight(long n = 1);
  void wordLeft(long n = 1);
  void goFirstNonSp();
  void goToBegOfFile();
  void goToEndOfFile();
  void goToBegOfScreen();
  void goToMiddleOfScreen();
  void goToEndOfScreen();
  void pageDown(long n = 1);
  void pageUp(long n = 1);
  void goCursor(long line, long col, bool center);
  // A 1-based line range put in order and inside 1..line count (last -1: the count).
  void adjustRanges(long& first, long& last) const;
  // The n-th next / previous word start; false (-1, -1) without a line.
  bool findNextWord(long n, long& line, long& col) const;
  bool findPrevWord(long n, long& line, long& col) const;

protected:
  // Shows the view's window there with its label and the border of a
  // current or other view, wrapping off.
  void displayFramed(long row, long col, long height, long width);
  // The cursor onto the n-th word start on (back); a beep when none moves it.
  void moveToWord(long n, bool forward);
  // The shared text of a view of the same file, else a new one.
  virtual Text* constructText(String const& name);
  // Registers the view with its text and the list (both constructors).
  void registerView();
  // Relabels the displayed views of this text (their numbers changed).
  void relabelTextViews();
  // Draws the label with the current border style.
  void drawLabel();
  // Puts the terminal cursor on the text cursor.
  void placeCursor();
  // Origins follow the cursor; each answers whether it moved.
  bool actTopOrigin();
  bool actBotOrigin();
  bool actColOrigin();
  bool actOrigins();
  // Moves the cursor n lines, scrolling one row when an origin moved.
  void actCurrLine(long n);
  // Ends a movement: redraws when an origin moved, else the status line.
  void endMove(bool moved);
  // The last line a cursor may go down to.
  long lastReachable() const;
  // Reads a deferred stream view's output while displayed.
  void readStream();
  String extension() const;

  Text* text_;
  TextCursor* cursor_;
  int32_t flags_;
  int32_t reserved_ = 3;
  int32_t viewNumber_;
  String label_;
  long width_ = 0, height_ = 0;
  long savedLine_ = 0, savedCol_ = 0;
  long colOrigin_ = 0, topOrigin_ = 0;
  long orgHeight_ = 0, orgWidth_ = 0, orgRow_ = 0, orgCol_ = 0;
  bool easyExit_ = false, dontExit_ = false;
  CmdBinding const* cmdBinding_ = nullptr;
  Time created_;
  bool reading_ = false, readDone_ = true;
  View* next_ = nullptr;

  static View* head;
  static MsgTable* msgs;
  static Window* defViewPar;
  static bool fullRedraw;
};
