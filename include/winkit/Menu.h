// Menus: MenuItem (a code, a sub-menu, a function or a separator line), the
// abstract Menu of at most 20 items, PoppableMenu (a bordered vertical
// pop-up, also the drop-down of a menu bar) and PullDownMenu (the one-line
// menu bar). Choosing an item returns its value; the caller reads it with
// currOpt() and treats it as an event code.
//
// Menu key loop states: closed (current item -1) -> open (a current item,
// keys read) -> closed again, the chosen value in currOpt() (-1 when none).
// Invariants: at most kMaxItems items, each an owned copy; while open the
// current item is a valid index that is not a separator (unless the menu
// is empty or holds only separators).
#pragma once
#include <winkit/WinObj.h>

#include <zfound/String.h>

class PoppableMenu;

class MenuItem {
public:
  enum Kind { kMenu = 0, kCod = 1, kFunc = 2, kLine = 3 };
  // A code item with code -1. `marker` precedes the hot-key letter (0: none).
  MenuItem(String const& text, char marker, long attr);
  MenuItem(String const& text, long code, char marker, long attr);
  // The sub-menu is not owned.
  MenuItem(String const& text, PoppableMenu& sub, char marker, long attr);
  MenuItem(String const& text, long (*func)(), char marker, long attr);

  // The letter after the first marker becomes the hot key and the marker is
  // removed; no marker (or one at the end): the first letter.
  void setHotKey(char marker);
  String const& getText() const { return text_; }
  String const& getSecText() const { return secText_; }
  void setSecText(String const& s) { secText_ = s; }
  long getDspAttr() const { return attr_; }
  // The hot-key position in the text (-1: none).
  long getNHKey() const { return hotPos_; }
  void setNHKey(long pos) { hotPos_ = pos; }
  // The hot-key letter in upper case, 0 when none.
  int hotKeyChar() const;
  PoppableMenu* subMenu() const { return kind_ == kMenu ? sub_ : nullptr; }
  long retCod() const { return kind_ == kCod ? code_ : -1; }
  long (*retFunc() const)() { return kind_ == kFunc ? func_ : nullptr; }
  bool isMenu() const { return kind_ == kMenu; }
  bool isCod() const { return kind_ == kCod; }
  bool isFunc() const { return kind_ == kFunc; }
  bool isLine() const { return kind_ == kLine; }
  unsigned char lastKey() const { return lastKey_; }
  // Sub-menu: its result (its last key kept here); code: the code;
  // function: its value (-1 when null); separator: -1.
  long execute();

private:
  void init(String const& text, char marker, Kind kind);

  String text_;
  String secText_;
  long attr_;
  long hotPos_ = -1;
  unsigned char lastKey_ = 0;
  Kind kind_ = kCod;
  PoppableMenu* sub_ = nullptr;
  long code_ = -1;
  long (*func_)() = nullptr;
};

class Menu : public WinObj {
public:
  static constexpr long kMaxItems = 20;
  Menu(long row, long col);
  ~Menu() override;
  // Copies the item; ignored past kMaxItems.
  virtual void addItem(MenuItem const& item);
  // Called with the new current item whenever it changes.
  virtual void newCurrItem(long i);
  Menu& operator<<(MenuItem const& item);
  // A code item with marker '~', code -1, attribute 0.
  Menu& operator<<(String const& text);
  // The item the next execute starts on (-1: the first); with remember the
  // chosen item becomes it.
  void setCurrent(long start, bool remember);
  // The value of the last chosen item, -1 when none.
  long currOpt() const { return result_; }
  // Forgets the chosen value.
  void clearOpt() { result_ = -1; }
  // The remembered item (the last one chosen) of a remembering menu; -1
  // when none or when the menu does not remember.
  long remembered() const { return remember_ ? start_ : -1; }
  // Sets the secondary text of every code item with this code.
  void setSecText(String const& text, long code);
  void setOAttr(long a) { oAttr_ = a; }
  void setHKAttr(long a) { hkAttr_ = a; }
  void setDspAlways(bool on) { dspAlways_ = on; }
  // Hides the window and forgets the current item.
  void unDisplay() override;
  long nItems() const { return nitems_; }
  long currItem() const { return curr_; }
  MenuItem const& item(long i) const { return *items_[i]; }

protected:
  void clearItems();

  MenuItem* items_[kMaxItems] = {};
  long result_ = -1;
  long nitems_ = 0;
  long curr_ = -1;
  long start_ = -1;
  bool remember_ = false;
  bool dspAlways_ = false;
  long oAttr_ = 512;
  long hkAttr_ = 2048;
};

class PoppableMenu : public Menu {
public:
  PoppableMenu(String const& title, long row, long col, bool hilit);
  PoppableMenu(long row, long col, bool hilit);
  PoppableMenu* setPullDown(bool on) {
    pullDown_ = on;
    return this;
  }
  bool getPullDown() const { return pullDown_; }
  PoppableMenu* allowMovedKeys() {
    movedKeys_ = true;
    return this;
  }
  PoppableMenu* leaveHilit() {
    leaveHilit_ = true;
    return this;
  }
  // Moves a menu that has no position of its own (a drop-down of a bar).
  void placeIfOpen(long row, long col);

  // Rows = items; columns = longest text + secondary text + 2 (+2 more
  // with a sub-menu item).
  virtual void calcDim(long& rows, long& cols);
  // Moves n items down (cyclic, over separators); false when it cannot.
  virtual bool incCurrItem(long n);
  virtual bool decCurrItem(long n);
  // Draws the rows; `passive` marks the start item as the remembered choice.
  virtual void fillWindow(bool passive);
  // The incremental search of prefix key 154; true chooses the current item.
  virtual bool incFind();
  // Shown: front and redraw; an empty menu is not shown (false) unless
  // display-always is set.
  bool display(long row, long col) override;
  // The menu's key loop: -1 after Esc (or when inactive or not shown), else
  // 0; the chosen value is in currOpt().
  long execute(unsigned char key) override;

protected:
  // Sets the item the loop starts on.
  virtual void startItem();
  // The list index of the first row (scrolling menus show a window of a
  // longer list); start items and newCurrItem use list indexes.
  virtual long firstShown() const { return 0; }
  void drawRow(long i, long attr, bool hot);

  bool pullDown_ = false;
  bool movedKeys_ = false;
  bool hilit_;
  bool leaveHilit_ = false;
};

class PullDownMenu : public Menu {
public:
  // At most 20 rows high; drawn in attribute 512, the current title in 0.
  PullDownMenu(long row, long col, long height, long width);
  // A sub-menu item must name a menu; it becomes a pull-down child.
  void addItem(MenuItem const& item) override;
  void setRight(bool on) { right_ = on; }
  bool getRight() const { return right_; }
  bool display(long row, long col) override;
  // The bar's loop; `key` (non-zero) is the first key. -1 after Esc, else
  // 0; the value in currOpt(), the key that chose it in lastKey().
  long execute(unsigned char key) override;
  void fillWindow();

private:
  // Column of title i in the bar.
  long titleCol(long i) const;
  long choose(long& next);
  bool right_ = false;
};
