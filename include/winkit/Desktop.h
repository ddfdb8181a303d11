// Desktop: the open views of an application frame, which of them are
// displayed, which is current, and how they are laid out.
//
// The list runs from the least to the most recently used view; hidden views
// (window handle -1) come before displayed ones; the current view is the
// last one. The desktop owns every view on its list. At most maxViews views
// are displayed at once; a view pushed off stays on the list, hidden, and
// comes back when selected.
//
// View states on the desktop: (not added) -> add -> displayed -> pushed off
// by a newer view, or hidden by setAsCurrent -> hidden -> select /
// setAsCurrent / delCurrent -> displayed; any -> del / delCurrent /
// clearDesktop (when the view agrees to exit) -> deleted.
//
// Invariants: 0 <= actViews <= maxViews and actViews is the number of
// displayed views on the list; a view is on the list at most once.
#pragma once

#include <zfound/String.h>

#include <vector>

class View;
class EditableView;

class Desktop {
public:
  Desktop(long maxViews, long maxTile);
  Desktop(Desktop const&) = delete;
  Desktop& operator=(Desktop const&) = delete;
  // Deletes every view, from the front.
  virtual ~Desktop();

  // Adds `v` as the current view (-1 arguments take the defaults); true
  // when added. When the desktop is full and the oldest displayed view
  // refuses to leave, `v` is deleted and false is answered: the caller
  // must not touch it again.
  virtual bool add(View* v, long row, long col, long height, long width);
  // Deletes `v` when it agrees to exit (the current view: delCurrent).
  virtual void del(View* v);
  // Deletes the current view when it agrees; the next most recent view
  // becomes current (displayed when it was hidden).
  virtual void delCurrent();
  // Deletes every view when all agree to exit; else says "CANTPERFORM".
  virtual bool clearDesktop();
  virtual void prev();
  virtual void next();
  // The selection menu of the views.
  virtual void select();
  virtual void tile() const;
  virtual void cascade() const;

  // The current view (asserts one); as an editable view (null: cannot edit).
  View* getCurrView() const;
  EditableView* getCurrEdView() const;
  // The current view, null when there is none.
  View* currentOrNull() const { return list_.empty() ? nullptr : list_.back(); }
  long getActiveViews() const { return actViews_; }
  long getViews() const { return static_cast<long>(list_.size()); }
  // The view at list position i (0: least recently used), null outside.
  View* viewAt(long i) const;
  long maxViews() const { return maxViews_; }
  long maxTile() const { return maxTile_; }
  void setMaxViews(long n) { maxViews_ = n; }
  void setMaxTile(long n) { maxTile_ = n; }
  // The current view's next key.
  unsigned char getKey();

  void activate(View* v, long row, long col, long height, long width, bool current);
  void deActivate(View* v);
  // Moves `v` to the end of the list (it becomes the current view).
  void setLastView(View* v);
  // Makes `v` current (displaying it below the current one when hidden).
  void setAsCurrent(View* v);
  // Deletes `v` and counts it out when it was displayed (not its node).
  void delView(View* v);
  // Puts `v` on the list, pushing the oldest displayed view off when full;
  // actViews, or -1 (and `v` deleted) when the oldest refused to leave.
  long makeRoom(View* v);
  // The selection menu's line i.
  static String const fpViewNames(long i);

  // The desktop whose selection menu is open.
  static Desktop* currentDesktop;

private:
  long indexOf(View const* v) const;
  // The first displayed view from the front (null: none).
  View* firstDisplayed() const;
  void removeNode(View* v);
  // Default height of a view opened below `c` (at least one row).
  static long heightBelow(long rootHeight, long row);

  std::vector<View*> list_;
  long maxViews_;
  long maxTile_;
  long actViews_ = 0;
};
