// Desktop: the views of an application frame, their order of use and their
// layout on the background window.
#include <winkit/Desktop.h>

#include <winkit/EditView.h>
#include <winkit/Panel.h>
#include <winkit/ScrollMenu.h>
#include <winkit/View.h>
#include <winkit/WinApp.h>

#include <zfound/Assert.h>
#include <zfound/Report.h>

#include <algorithm>

Desktop* Desktop::currentDesktop = nullptr;

namespace {

long rootHeight() { return Window::rootWindow()->height(); }
long rootWidth() { return Window::rootWindow()->width(); }

bool displayed(View const* v) { return v && !v->hidden(); }

}  // namespace

Desktop::Desktop(long maxViews, long maxTile) : maxViews_(maxViews), maxTile_(maxTile) {}

Desktop::~Desktop() {
  while (!list_.empty()) {
    View* v = list_.front();
    list_.erase(list_.begin());
    delView(v);
  }
}

long Desktop::indexOf(View const* v) const {
  auto it = std::find(list_.begin(), list_.end(), v);
  return it == list_.end() ? -1 : static_cast<long>(it - list_.begin());
}

View* Desktop::viewAt(long i) const { return i >= 0 && i < getViews() ? list_[static_cast<size_t>(i)] : nullptr; }

View* Desktop::firstDisplayed() const {
  for (View* v : list_)
    if (displayed(v)) return v;
  return nullptr;
}

void Desktop::removeNode(View* v) {
  long i = indexOf(v);
  ZF_ASSERT_TEXT(i >= 0, "vlc");
  list_.erase(list_.begin() + i);
}

long Desktop::heightBelow(long rootH, long row) { return std::max(1L, rootH - (row + 6)); }

View* Desktop::getCurrView() const {
  ZF_ASSERT_TEXT(!list_.empty(), "*(*currview_)");
  return list_.back();
}

EditableView* Desktop::getCurrEdView() const { return getCurrView()->edView(); }

unsigned char Desktop::getKey() {
  ZF_ASSERT_TEXT(currentOrNull() != nullptr, "getCurrView() != (0)");
  return getCurrView()->getKey();
}

void Desktop::activate(View* v, long row, long col, long height, long width, bool current) {
  ZF_ASSERT_TEXT(v != nullptr, "v != (0)");
  bool was = displayed(v);
  v->activate(row, col, height, width, current);
  if (!was && displayed(v)) ++actViews_;
  ZF_ASSERT_TEXT(actViews_ <= maxViews_, "actViews <= maxViews");
}

void Desktop::deActivate(View* v) {
  ZF_ASSERT_TEXT(v != nullptr, "v != (0)");
  bool was = displayed(v);
  v->deActivate();
  if (was && !displayed(v)) --actViews_;
  ZF_ASSERT_TEXT(actViews_ >= 0, "actViews >= 0");
}

void Desktop::setLastView(View* v) {
  long i = indexOf(v);
  if (i < 0) return;
  list_.erase(list_.begin() + i);
  list_.push_back(v);
}

void Desktop::setAsCurrent(View* v) {
  View* c = currentOrNull();
  setLastView(v);
  if (!displayed(v)) {
    if (displayed(c) && c != v) {
      long row = c->orgRowPos(), col = c->orgColumn(), height = c->getHeight(), width = c->getWidth();
      deActivate(c);
      activate(v, row + 1, col, std::max(1L, height - 1), width, true);
    } else {
      activate(v, 1, 1, std::max(1L, rootHeight() - 4), std::max(1L, rootWidth() - 2), true);
    }
  } else {
    if (c && c != v) c->setCurrent(false);
    v->setCurrent(true);
  }
  getCurrView()->redraw();
}

void Desktop::delView(View* v) {
  bool was = displayed(v);
  View::deleteView(v);
  if (was) --actViews_;
  ZF_ASSERT_TEXT(actViews_ >= 0, "actViews >= 0");
}

long Desktop::makeRoom(View* v) {
  if (actViews_ == 0) {
    list_.push_back(v);
    return 0;
  }
  View* c = currentOrNull();
  if (actViews_ >= maxViews_) {
    View* oldest = firstDisplayed();
    if (oldest && !oldest->exit(true)) {
      View::deleteView(v);
      return -1;
    }
    if (c) c->setCurrent(false);
    if (oldest) deActivate(oldest);
  } else if (c) {
    c->setCurrent(false);
  }
  list_.push_back(v);
  return actViews_;
}

bool Desktop::add(View* v, long row, long col, long height, long width) {
  ZF_ASSERT_TEXT(v != nullptr, "v != (0)");
  View* c = displayed(currentOrNull()) ? currentOrNull() : nullptr;
  long cRow = c ? c->orgRowPos() : 0, cCol = c ? c->orgColumn() : 0;
  long cWidth = c ? c->getWidth() : 0;
  if (makeRoom(v) < 0) return false;
  if (c) {
    if (width == -1) width = cWidth;
    if (height == -1) height = heightBelow(rootHeight(), cRow);
    if (col == -1) col = cCol;
    if (row == -1) row = cRow + 1;
  } else {
    if (width == -1) width = std::max(1L, rootWidth() - 2);
    if (height == -1) height = std::max(1L, rootHeight() - 4);
    if (col == -1) col = 1;
    if (row == -1) row = 1;
  }
  activate(v, row, col, height, width, true);
  return true;
}

void Desktop::del(View* v) {
  if (!v) return;
  if (v == currentOrNull()) {
    delCurrent();
    return;
  }
  if (!v->exit(true)) return;
  removeNode(v);
  delView(v);
}

void Desktop::delCurrent() {
  View* v = currentOrNull();
  if (!v || !v->exit(true)) return;
  list_.pop_back();
  delView(v);
  View* last = currentOrNull();
  if (!last) return;
  if (!displayed(last))
    activate(last, 1, 1, std::max(1L, rootHeight() - 4), std::max(1L, rootWidth() - 2), true);
  last->setCurrent(true);
}

bool Desktop::clearDesktop() {
  for (View* v : list_) {
    if (!v->exit(false)) {
      MsgBox box(libMsg("ERR"), WinApp::wappErrMsg("CANTPERFORM"), 7, 40, 6, 20);
      box.execute(0);
      return false;
    }
  }
  while (!list_.empty()) {
    View* v = list_.front();
    list_.erase(list_.begin());
    delView(v);
  }
  return true;
}

void Desktop::prev() {
  if (actViews_ < 2) return;
  ZF_ASSERT_TEXT(!list_.empty(), "(*currview_)");
  View* old = list_.back();
  old->setCurrent(false);
  list_.pop_back();
  list_.back()->setCurrent(true);
  auto first = std::find_if(list_.begin(), list_.end(), [](View* v) { return displayed(v); });
  list_.insert(first, old);
}

void Desktop::next() {
  if (actViews_ < 2) return;
  View* c = currentOrNull();
  if (c) c->setCurrent(false);
  View* first = firstDisplayed();
  ZF_ASSERT_TEXT(first != nullptr, "vlc");
  setLastView(first);
  first->setCurrent(true);
}

String const Desktop::fpViewNames(long i) {
  ZF_ASSERT_TEXT(currentDesktop != nullptr, "currentDesktop != (0)");
  long n = currentDesktop->getViews();
  if (i < 0 || i >= n) return ScrollMenu::highest();
  View* v = currentDesktop->viewAt(n - i - 1);
  String line = displayed(v) ? String("\xAB ") : String("  ");
  line += v->getLabel(true);
  return line.length() > 60 ? String(toCharPtr(line), 60) : line;
}

void Desktop::select() {
  long n = getViews();
  String title = String("Select (") + toString(n) + String(")");
  long width = title.length() + 1;
  for (View* v : list_) width = std::max(width, static_cast<long>(v->getLabel(true).length()));
  currentDesktop = this;
  long chosen;
  {
    ScrollMenu menu(title, fpViewNames, std::min(n, 10L), width + 4, 7, 25, true);
    menu.execute(0);
    chosen = menu.currOpt();
    menu.unDisplay();
  }
  currentDesktop = nullptr;
  if (chosen < 0 || chosen >= n) return;
  View* v = list_[static_cast<size_t>(n - chosen - 1)];
  View* c = currentOrNull();
  if (actViews_ == 0) {
    activate(v, 1, 1, std::max(1L, rootHeight() - 4), std::max(1L, rootWidth() - 2), true);
    setLastView(v);
  } else if (v == c) {
    return;
  } else if (displayed(v)) {
    c->setCurrent(false);
    setLastView(v);
    v->setCurrent(true);
  } else if (actViews_ >= maxViews_) {
    View* oldest = firstDisplayed();
    if (!oldest->exit(true)) return;
    long row = v->orgRowPos(), col = v->orgColumn(), height = v->orgHeight(), width = v->orgWidth();
    c->setCurrent(false);
    setLastView(v);
    deActivate(oldest);
    activate(v, row, col, std::max(1L, height), std::max(1L, width), true);
  } else {
    long row = c->orgRowPos(), col = c->orgColumn(), height = c->getHeight(), width = c->getWidth();
    c->setCurrent(false);
    setLastView(v);
    activate(v, row + 1, col, std::max(1L, height - 1), width, true);
  }
}

void Desktop::tile() const {
  if (actViews_ < 1) return;
  long H = rootHeight(), W = rootWidth();
  long a = std::min(actViews_, maxTile_);
  long odd = a == 2 ? 0 : a % 2;
  long rows = a == 2 ? 2 : std::min(a, maxTile_) / 2;
  long h = (H - 2) / (rows + odd), hr = (H - 2) % (rows + odd);
  long w = W / 2, wr = W % 2;
  // The displayed views from the current one backwards.
  std::vector<View*> shown;
  for (auto it = list_.rbegin(); it != list_.rend(); ++it)
    if (displayed(*it)) shown.push_back(*it);
  if (a == 2) {
    shown[0]->chgOrgSize(1, 1, h - 2, W - 2);
    shown[1]->chgOrgSize(1 + h, 1, h + hr - 2, W - 2);
    return;
  }
  size_t k = odd ? 1 : 0;
  for (long r = 0; r < rows; ++r) {
    bool last = r == rows - 1 && !odd;
    for (long c = 0; c < 2 && k < static_cast<size_t>(a); ++c, ++k)
      shown[k]->chgOrgSize(1 + r * h, 1 + c * w, last ? h + hr - 2 : h - 2, last ? w + wr - 2 : w - 2);
  }
  if (odd) shown[0]->chgOrgSize(rows * h + 1, 1, h + hr - 2, W - 2);
}

void Desktop::cascade() const {
  ZF_ASSERT_TEXT(firstDisplayed() != nullptr, "vlc");
  long H = rootHeight(), W = rootWidth();
  View::setFullRedraw(false);
  long k = 0;
  for (View* v : list_) {
    if (!displayed(v)) continue;
    v->chgOrgSize(k + 1, 1, std::max(1L, H - k - 4), W - 2);
    ++k;
  }
  View::setFullRedraw(true);
}
