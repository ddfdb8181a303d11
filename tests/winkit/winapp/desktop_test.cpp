// The desktop: default placement, the eleventh view and a view that refuses
// to leave, next and previous, tiling, the selection menu, deleting the
// current view, and heights that stay on the screen.
#include <string>
#include <vector>

#include "FrameSupport.h"

namespace {

using zftest::FrameTest;
using zftest::giveKeys;

struct Place {
  long row, col, height, width;
  bool operator==(Place const&) const = default;
};

Place placeOf(View const* v) { return {v->orgRowPos(), v->orgColumn(), v->getHeight(), v->getWidth()}; }

std::string str(String const& s) { return s.isNull() ? std::string() : std::string(toCharPtr(s), size_t(s.length())); }

class DesktopTest : public FrameTest {
protected:
  std::vector<EditableView*> openMany(int n) {
    std::vector<EditableView*> out;
    for (int i = 0; i < n; ++i) out.push_back(open("f" + std::to_string(i)));
    return out;
  }
};

TEST_F(DesktopTest, DefaultPlacementOpensBelowTheCurrentView) {
  EditableView* a = open("a");
  EXPECT_EQ(placeOf(a), (Place{1, 1, 20, 78}));
  EditableView* b = open("b");
  EXPECT_EQ(placeOf(b), (Place{2, 1, 17, 78}));
  EXPECT_TRUE(b->isCurrent());
  EXPECT_FALSE(a->isCurrent());
  EXPECT_EQ(desk().getActiveViews(), 2);
}

TEST_F(DesktopTest, EleventhViewHidesTheOldestUnlessItRefuses) {
  std::vector<EditableView*> v = openMany(10);
  EditableView* eleventh = open("f10");
  EXPECT_EQ(desk().getViews(), 11);
  EXPECT_EQ(desk().getActiveViews(), 10);
  EXPECT_TRUE(v[0]->hidden());
  EXPECT_EQ(desk().getCurrView(), eleventh);
  // The oldest displayed view now refuses: the new view is not added.
  v[1]->dontExit(true);
  auto* refused = new EditableView(String(dir.write("f11", "x\n").c_str()));
  EXPECT_FALSE(app->addView(refused, nullptr, -1, -1, -1, -1));
  EXPECT_EQ(desk().getViews(), 11);
  EXPECT_EQ(desk().getActiveViews(), 10);
  EXPECT_FALSE(v[1]->hidden());
  EXPECT_EQ(desk().getCurrView(), eleventh);
  EXPECT_TRUE(eleventh->isCurrent());
  v[1]->dontExit(false);
}

TEST_F(DesktopTest, NextThenPrevComesBack) {
  std::vector<EditableView*> v = openMany(3);
  desk().next();
  EXPECT_EQ(desk().getCurrView(), v[0]);
  EXPECT_TRUE(v[0]->isCurrent());
  EXPECT_FALSE(v[2]->isCurrent());
  desk().prev();
  EXPECT_EQ(desk().getCurrView(), v[2]);
  EXPECT_TRUE(v[2]->isCurrent());
  EXPECT_FALSE(v[0]->isCurrent());
  // A single view: nothing moves.
  desk().delCurrent();
  desk().delCurrent();
  desk().next();
  desk().prev();
  EXPECT_EQ(desk().getCurrView(), v[0]);
}

TEST_F(DesktopTest, TileOneAndThreeViews) {
  EditableView* one = open("a");
  desk().tile();
  EXPECT_EQ(placeOf(one), (Place{1, 1, 20, 78}));
  EditableView* two = open("b");
  EditableView* three = open("c");
  desk().tile();
  // Two side by side on top, the current one across the bottom.
  EXPECT_EQ(placeOf(two), (Place{1, 1, 9, 38}));
  EXPECT_EQ(placeOf(one), (Place{1, 41, 9, 38}));
  EXPECT_EQ(placeOf(three), (Place{12, 1, 9, 78}));
  // Four: two rows of two, the last row taking the rest.
  EditableView* four = open("d");
  desk().tile();
  EXPECT_EQ(placeOf(four), (Place{1, 1, 9, 38}));
  EXPECT_EQ(placeOf(three), (Place{1, 41, 9, 38}));
  EXPECT_EQ(placeOf(two), (Place{12, 1, 9, 38}));
  EXPECT_EQ(placeOf(one), (Place{12, 41, 9, 38}));
}

TEST_F(DesktopTest, CascadeStepsEachViewDown) {
  std::vector<EditableView*> v = openMany(3);
  desk().cascade();
  for (long k = 0; k < 3; ++k) EXPECT_EQ(placeOf(v[size_t(k)]), (Place{k + 1, 1, 20 - k, 78})) << k;
}

TEST_F(DesktopTest, SelectionMenuMarksDisplayedViewsMostRecentFirst) {
  std::vector<EditableView*> v = openMany(10);
  EditableView* last = open(std::string(70, 'n'));
  Desktop::currentDesktop = &desk();
  EXPECT_EQ(str(Desktop::fpViewNames(0)), std::string("\xAB ") + str(last->getLabel(true)).substr(0, 58));
  EXPECT_EQ(str(Desktop::fpViewNames(1)), "\xAB " + str(v[9]->getLabel(true)));
  EXPECT_EQ(str(Desktop::fpViewNames(10)), "  " + str(v[0]->getLabel(true))) << "hidden";
  EXPECT_TRUE(Desktop::fpViewNames(11).isHighest());
  EXPECT_EQ(Desktop::fpViewNames(0).length(), 60);
  Desktop::currentDesktop = nullptr;
  // Choosing the second entry makes that view current.
  giveKeys("down enter");
  desk().select();
  EXPECT_EQ(desk().getCurrView(), v[9]);
  EXPECT_TRUE(v[9]->isCurrent());
  EXPECT_FALSE(last->isCurrent());
  // The hidden one, chosen on a full desktop, takes its own last place.
  giveKeys("pgdn end enter");
  desk().select();
  EXPECT_EQ(desk().getCurrView(), v[0]);
  EXPECT_FALSE(v[0]->hidden());
  EXPECT_EQ(placeOf(v[0]), (Place{1, 1, 20, 78}));
  EXPECT_EQ(desk().getActiveViews(), 10);
  // Esc changes nothing.
  giveKeys("esc");
  desk().select();
  EXPECT_EQ(desk().getCurrView(), v[0]);
}

TEST_F(DesktopTest, DeletingTheCurrentViewShowsAHiddenNext) {
  desk().setMaxViews(1);
  EditableView* a = open("a");
  EditableView* b = open("b");
  EXPECT_TRUE(a->hidden());
  desk().delCurrent();
  EXPECT_EQ(desk().getViews(), 1);
  EXPECT_EQ(desk().getCurrView(), a);
  EXPECT_FALSE(a->hidden());
  EXPECT_TRUE(a->isCurrent());
  (void)b;
  // A view that refuses stays.
  a->dontExit(true);
  desk().delCurrent();
  EXPECT_EQ(desk().getViews(), 1);
  a->dontExit(false);
  desk().setMaxViews(10);
}

TEST_F(DesktopTest, ClearDesktopNeedsEveryViewToAgree) {
  std::vector<EditableView*> v = openMany(2);
  v[0]->dontExit(true);
  giveKeys("enter");
  EXPECT_FALSE(desk().clearDesktop());
  EXPECT_EQ(desk().getViews(), 2);
  v[0]->dontExit(false);
  EXPECT_TRUE(desk().clearDesktop());
  EXPECT_EQ(desk().getViews(), 0);
  EXPECT_EQ(desk().getActiveViews(), 0);
}

// Default heights near the bottom of the screen stay at one row at least
// (a height below one would let the terminal stretch the view).
TEST_F(DesktopTest, DefaultHeightsNeverFallBelowOneRow) {
  auto* low = new EditableView(String(dir.write("low", "x\n").c_str()));
  ASSERT_TRUE(app->addView(low, nullptr, 18, 1, 1, 78));
  EditableView* below = open("below");
  EXPECT_EQ(below->getHeight(), 1);
  // A hidden view made current opens one row below, one row shorter.
  desk().setMaxViews(2);
  EditableView* third = open("third");  // hides `low`
  ASSERT_TRUE(low->hidden());
  desk().setAsCurrent(low);
  EXPECT_FALSE(low->hidden());
  EXPECT_TRUE(third->hidden());
  EXPECT_EQ(low->getHeight(), 1);
  EXPECT_EQ(desk().getCurrView(), low);
  desk().setMaxViews(10);
}

}  // namespace
