// Scroll menus: a PoppableMenu over a list of any length that holds only the
// rows it shows (at most 20) and reads the others by index through fpRead
// when the user scrolls, with incremental search. StringMenu and
// ExtStringMenu list an array of Strings, FileMenu the regular files of a
// directory, DirMenu its subdirectories (driving a FileMenu).
//
// Invariants: every shown item is a code item whose code is its index in
// the whole list, so the chosen value is that index; the shown rows are the
// list entries first()..first()+nItems()-1; an entry whose text and
// secondary text are both the highest String ends the list.
//
// UserAccess gives the access marks of the file and directory lists and the
// selectors' checks: the owner bits when the user owns the entry, else the
// group bits when the entry's group is one of all the user's groups (the
// effective one and every supplementary one), else the other bits; user id
// 0 may do everything.
#pragma once
#include <winkit/DirView.h>
#include <winkit/Menu.h>
#include <winkit/Panel.h>

#include <zfound/String.h>

#include <sys/types.h>

#include <vector>

class UserAccess {
public:
  enum { kRead = 1, kWrite = 2, kSearch = 4 };
  // The process's effective user and all its groups, read now.
  static UserAccess read();
  // The same, read once per process.
  static UserAccess const& current();
  // kRead | kWrite | kSearch as the entry's mode, owner and group allow.
  long rights(long mode, long uid, long gid) const;
  std::vector<gid_t> const& groups() const { return groups_; }

private:
  uid_t uid_ = 0;
  std::vector<gid_t> groups_;
};

class ScrollMenu : public PoppableMenu {
public:
  using TextFunc = String const (*)(long);
  static constexpr long kMaxRows = 20;

  // rows are limited to 20; width is the rows' width inside the frame.
  ScrollMenu(String const& title, TextFunc text, long rows, long width, long row, long col, bool hilit);
  ScrollMenu(TextFunc text, long rows, long width, long row, long col, bool hilit);
  // Entry i: text, secondary text and attribute. Here: the callback's text
  // (the highest String without one), secondary text highest, attribute 0.
  virtual void fpRead(long i, String& text, String& sec, long& attr);
  // New callback, rows and width; restarts at entry 0.
  void newSMenu(TextFunc text, long rows, long width);
  // The list index of the first shown row.
  long first() const { return top_; }

  void calcDim(long& rows, long& cols) override;
  // Moves inside the shown rows, scrolling one entry at a time past the
  // edges; false at the end of the list.
  bool incCurrItem(long n) override;
  bool decCurrItem(long n) override;
  // Frame and title, the rows, then the scroll marks: 0xAC on the top row
  // when entries are hidden above, 0xAD on the bottom row when one follows.
  void fillWindow(bool passive) override;
  // A search text grows by each printable key; the first entry from the
  // current one whose text contains it (case-insensitive) becomes current,
  // none beeps and starts the text anew. 154 clears it, Enter chooses
  // (true), Esc gives up (false).
  bool incFind() override;
  bool display(long row, long col) override;
  // Re-reads the shown window of entries.
  void refreshItems();
  // Restarts at the top of the list.
  void reFill();
  // Re-reads and redraws when shown.
  void refresh();
  static bool isEnd(String const& text, String const& sec) { return text.isHighest() && sec.isHighest(); }
  static String highest();

protected:
  void startItem() override;
  long firstShown() const override { return top_; }
  // Reads the rows that show entry `cur` and makes it current.
  void fillItems(long cur);
  MenuItem makeItem(long i, String const& text, String const& sec, long attr, char marker) const;

  TextFunc text_;
  long top_ = 0;
  long rows_;
  long width_;
};

class StringMenu : public ScrollMenu {
public:
  // Lists arr[0..count) up to its first null entry (the array is the
  // caller's); as wide as the longest entry (at most the screen width - 4,
  // and at most `width` unless that is -1) plus 2, min(count, 20) rows.
  StringMenu(String const& title, String const* arr, long count, long row, long col, long width);
  void fpRead(long i, String& text, String& sec, long& attr) override;

protected:
  static long widthFor(String const* arr, long count, long width);
  String const* arr_;
  long count_;
};

// A 5-row StringMenu showing entries trimmed, with an information panel
// above it that shows the current entry's whole text.
class ExtStringMenu : public StringMenu {
public:
  ExtStringMenu(String const& title, String const* arr, long count, long infoHeight, long row, long col, long width);
  ~ExtStringMenu() override;
  void fpRead(long i, String& text, String& sec, long& attr) override;
  void newCurrItem(long i) override;
  // Shows entry i's whole text in the information panel.
  void showInfo(long i);
  // 1 hides the information panel, anything else shows it.
  void dispinfo(long hide);
  bool infoShown() const { return infoWanted_; }
  // The list index of the last current entry (-1 before any).
  long lastItem() const { return last_; }
  bool display(long row, long col) override;
  void unDisplay() override;

private:
  InfoPanel* info_;
  bool infoWanted_ = true;
  long last_ = -1;
};

// The regular files of a directory matching a file-name pattern, sorted by
// name; "-" marks a file that cannot be read, 0xAB a read-only one.
class FileMenu : public ScrollMenu {
public:
  FileMenu(String const& title, String const& pattern, long rows, long width, long row, long col, String const& dir);
  FileMenu(String const& title, long rows, long width, long row, long col, String const& dir);
  FileMenu(long rows, long width, long row, long col, String const& dir, String const& pattern);
  // A null directory is the working directory at construction. Both restart
  // the list at its first entry and redraw it when shown.
  void setDir(String const& dir);
  void setFile(String const& pattern);
  String const& retDir() const { return dir_; }
  String const& retCwd() const { return cwd_; }
  String const& pattern() const { return pattern_; }
  // The name of entry i (null outside the list).
  String name(long i);
  void fpRead(long i, String& text, String& sec, long& attr) override;
  // -1 when inactive or not shown; else the menu's non-zero result, or the
  // action's result, or 0.
  long execute(unsigned char key) override;

private:
  void init(String const& dir);
  String cwd_;
  String dir_;
  String pattern_;
  DirView view_;
  bool read_ = false;
};

// The subdirectories of a directory ("..", not "."), sorted by name; "-"
// marks one that cannot be searched or read, 0xAB one that cannot be
// written. Choosing one with Enter enters it (the file menu follows).
class DirMenu : public ScrollMenu {
public:
  DirMenu(String const& title, FileMenu* files, long rows, long width, long row, long col, String const& dir);
  DirMenu(FileMenu* files, long rows, long width, long row, long col, String const& dir);
  DirMenu(long rows, long width, long row, long col, String const& dir);
  void setDir(String const& dir);
  String const& retDir() const { return dir_; }
  String const& retCwd() const { return cwd_; }
  // The directory reached from the current one by entry `name`: an
  // absolute name itself, ".." the part before the last "/" (the root
  // stays "/"), else the name appended.
  String buildDirStr(String const& name) const;
  void fpRead(long i, String& text, String& sec, long& attr) override;
  // Enter on an entry moves into it and the loop goes on (the action, if
  // any, runs after each move); any other end returns the menu's result.
  long execute(unsigned char key) override;

private:
  void init(String const& dir);
  String cwd_;
  String dir_;
  FileMenu* files_;
  DirView view_;
  bool read_ = false;
};
