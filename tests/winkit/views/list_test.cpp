// Line lists and their registered cursors: moves past both ends, deletion
// under a cursor, insertion in front of a cursor, placing past the end, delAll
// and a cursor that outlives its list.
#include <winkit/List.h>

#include <gtest/gtest.h>

#include <memory>

#include "ChildRun.h"
#include "TestSupport.h"

namespace {

// A list of the lines "0" .. "n-1" with a null node holding the null String.
void fill(StringList& l, int n) {
  for (int i = 0; i < n; ++i) l.add(String(std::to_string(i).c_str()));
}

std::string lineOf(StringListCursor const& c) { return zftest::str(c.value()); }

std::string linesOf(StringList& l) {
  std::string out;
  StringListCursor c(l);
  for (c.goToFirst(); c.valid(); ++c) out += (c.value().isNull() ? std::string("-") : zftest::str(c.value())) + ",";
  return out;
}

TEST(ListCursor, MovesPastBothEndsKeepCounting) {
  StringList l{String()};
  fill(l, 5);
  StringListCursor c(l);
  struct Step {
    long move;
    long order;
    bool hasNode;
    char const* line;
  } steps[] = {
      {-3, -3, false, ""}, {3, 0, true, "0"}, {4, 4, true, "4"},  {2, 6, false, ""},
      {-1, 5, false, ""},  {-1, 4, true, "4"}, {-4, 0, true, "0"}, {-1, -1, false, ""},
  };
  for (auto const& s : steps) {
    c += s.move;
    EXPECT_EQ(c.order(), s.order) << "after move " << s.move;
    EXPECT_EQ(c.valid(), s.hasNode) << "after move " << s.move;
    EXPECT_EQ(lineOf(c), s.line) << "after move " << s.move;
  }
}

TEST(ListCursor, DeletingUnderCursors) {
  StringList l{String()};
  fill(l, 6);
  StringListCursor onLast(l), onMid(l), after(l), before(l);
  onLast.goTo(5);
  onMid.goTo(2);
  after.goTo(4);
  before.goTo(1);
  // The last node: the cursor goes to the new last node, count - 1.
  onLast.del();
  EXPECT_EQ(l.size(), 5);
  EXPECT_EQ(onLast.order(), 4);
  EXPECT_EQ(lineOf(onLast), "4");
  EXPECT_EQ(after.order(), 4);
  // A middle node: its cursor moves to the next node, later cursors count down.
  onMid.del();
  EXPECT_EQ(linesOf(l), "0,1,3,4,");
  EXPECT_EQ(onMid.order(), 2);
  EXPECT_EQ(lineOf(onMid), "3");
  EXPECT_EQ(after.order(), 3);
  EXPECT_EQ(lineOf(after), "4");
  EXPECT_EQ(before.order(), 1);
  EXPECT_EQ(lineOf(before), "1");
  EXPECT_TRUE(l.modif());
}

TEST(ListCursor, InsertionsKeepOtherCursorsOnTheirNodes) {
  StringList l{String()};
  fill(l, 8);
  StringListCursor five(l), two(l), outside(l);
  five.goTo(5);
  two.goTo(2);
  outside.goTo(10);
  l.ins(String("front"));
  EXPECT_EQ(five.order(), 6);
  EXPECT_EQ(lineOf(five), "5");
  EXPECT_EQ(outside.order(), 11);
  // Through a cursor: before and after its node.
  two.ins(String("b2"));
  EXPECT_EQ(two.order(), 4);
  EXPECT_EQ(lineOf(two), "2");
  EXPECT_EQ(five.order(), 7);
  two.add(String("a2"));
  EXPECT_EQ(two.order(), 4);
  EXPECT_EQ(five.order(), 8);
  EXPECT_EQ(lineOf(five), "5");
  EXPECT_EQ(linesOf(l), "front,0,1,b2,2,a2,3,4,5,6,7,");
  // Appending moves only cursors without a node.
  EXPECT_EQ(outside.order(), 13);
  l.add(String("end"));
  EXPECT_EQ(five.order(), 8);
  EXPECT_EQ(outside.order(), 14);
}

TEST(ListCursor, SetNodePastTheEndPadsWithNullLines) {
  StringList l{String()};
  fill(l, 3);
  StringListCursor waiting(l), past(l);
  waiting.goTo(5);
  past.goTo(9);
  l.setNode(new StringN(String("seven")), 7);
  EXPECT_EQ(l.size(), 8);
  EXPECT_EQ(linesOf(l), "0,1,2,-,-,-,-,seven,");
  EXPECT_TRUE(waiting.valid());
  EXPECT_EQ(waiting.order(), 5);
  EXPECT_FALSE(past.valid());
  // In range: the node is replaced and its cursors move to the new one.
  StringListCursor onOne(l);
  onOne.goTo(1);
  onOne.set(String("one"));
  EXPECT_EQ(lineOf(onOne), "one");
  EXPECT_EQ(l.size(), 8);
}

TEST(ListCursor, SetNodeBeforeTheStart) {
  StringList l{String()};
  fill(l, 2);
  StringListCursor first(l), before(l);
  before.goTo(-2);
  l.setNode(new StringN(String("new")), -3);
  // The new node at 0, two null lines, then the old first node at 3.
  EXPECT_EQ(linesOf(l), "new,-,-,0,1,");
  EXPECT_EQ(first.order(), 3);
  EXPECT_EQ(lineOf(first), "0");
  EXPECT_TRUE(before.valid());
  EXPECT_EQ(before.order(), 1);
}

TEST(ListCursor, DelAllAndReset) {
  StringList l{String()};
  fill(l, 4);
  StringListCursor c(l);
  c.goTo(2);
  c.reset();
  EXPECT_EQ(c.order(), 0);
  EXPECT_EQ(lineOf(c), "2");  // reset keeps the node
  l.delAll();
  EXPECT_FALSE(c.valid());
  EXPECT_EQ(c.order(), 0);
  EXPECT_EQ(l.size(), 0);
  // The next line of the empty list is taken by the cursor waiting at 0.
  l.add(String("x"));
  l.add(String("y"));
  EXPECT_TRUE(c.valid());
  EXPECT_EQ(lineOf(c), "x");
  EXPECT_EQ(c.order(), 0);
}

TEST(ListCursor, DelFirstLastAndCopies) {
  StringList l{String()};
  fill(l, 4);
  l.delFirst();
  l.delLast();
  EXPECT_EQ(linesOf(l), "1,2,");
  StringList copy(l);
  EXPECT_EQ(linesOf(copy), "1,2,");
  EXPECT_FALSE(copy.modif());
  copy.ins(l);
  copy += l;
  EXPECT_EQ(linesOf(copy), "1,2,1,2,1,2,");
  EXPECT_EQ(zftest::str(l.first()), "1");
  EXPECT_EQ(zftest::str(l.last()), "2");
  StringList empty{String()};
  EXPECT_TRUE(empty.first().isNull());
  // Inserting another list through a cursor keeps its order.
  StringListCursor c(l);
  c.add(copy);
  EXPECT_EQ(linesOf(l), "1,1,2,1,2,1,2,2,");
  EXPECT_EQ(lineOf(c), "1");
}

TEST(ListCursor, CursorOutlivingItsListIsDetached) {
  auto l = std::make_unique<StringList>(String());
  fill(*l, 3);
  StringListCursor c(*l);
  c.goTo(1);
  l.reset();
  EXPECT_EQ(c.list(), nullptr);
  EXPECT_FALSE(c.valid());
  c += 1;  // does nothing harmful without a list
  c.clear();
}

TEST(ListCursor, ValNodeWithAndWithoutNullNode) {
  BasePtrList pl;
  ListNode* n = pl.valNode(nullptr);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(static_cast<PtrNode*>(n)->ptr, nullptr);
  int x = 0;
  pl.addNode(&x);
  BasePtrListCursor pc(pl);
  EXPECT_EQ(pc.value(), &x);

  zftest::RunResult r = zftest::runInChild([] {
    zftest::startUpOnce("winkit_views-1.0");
    StringList noNull;
    noNull.valNode(nullptr);
    return 0;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("BaseList: NULLNODE required and not established!"), std::string::npos) << r.err;
}

}  // namespace
