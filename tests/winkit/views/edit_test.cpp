// The editable text and its cursor: inserting and deleting around tabs,
// delTo across lines, joinLines and insNewLine moving other cursors, region
// copy, deletion and insertion, and store reporting a failed write.
#include <winkit/EditText.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "FaultFs.h"
#include "TestSupport.h"
#include "ViewsSupport.h"

namespace {

typedef std::vector<std::string> Lines;

using viewstest::caret;
using viewstest::zones;

Lines lines(StringList& t) {
  Lines out;
  StringListCursor c(t);
  for (c.goToFirst(); c.valid(); ++c) out.push_back(caret(c.value()));
  return out;
}

// Lines given in their in-memory form ("\037" fill bytes), no file.
std::unique_ptr<EditableText> make(std::vector<char const*> const& ls) {
  auto t = std::make_unique<EditableText>();
  for (char const* l : ls) t->add(String(l));
  t->resetModif();
  return t;
}

class EditFiles : public ::testing::Test {
protected:
  zftest::TempDir dir;
  // An active EditableText read from a file holding content.
  std::unique_ptr<EditableText> load(std::string const& content, std::string const& name = "in.txt") {
    auto t = std::make_unique<EditableText>(String(dir.write(name, content).c_str()));
    t->activate();
    return t;
  }
};

TEST(EditCursor, InsStringKeepsTabsAligned) {
  struct {
    char const* line;
    long col;
    char const* ins;
    char const* result;
  } const cases[] = {
      {"\037\037\037\t", 0, "x", "x^_^_^I"},
      {"a\037\037\tb", 1, "xy", "axy^Ib"},
      {"a\037\037\tb", 2, "x", "a x^Ib"},
      {"ab", 1, "\t", "a^_^_^Ib"},
      {"abc\td", 0, "x", "xabc^_^_^_^Id"},
      {"a\037\037\tb\037\037\tc", 0, "12", "12a^Ib^_^_^Ic"},
      {"ab", 5, "x", "ab   x"},
      {"", 0, "q", "q"},
  };
  for (auto const& k : cases) {
    auto t = make({k.line});
    EditableTextCursor c(*t);
    c.goToCol(k.col);
    c.insString(String(k.ins));
    EXPECT_EQ(lines(*t), Lines{k.result}) << caret(String(k.line)) << " at " << k.col;
    EXPECT_EQ(c.column(), k.col);
    EXPECT_TRUE(t->modif());
  }
  // Past the end of the text the line is made.
  auto t = make({"a"});
  EditableTextCursor c(*t);
  c.goTo(2, 1);
  c.insString(String("z"));
  EXPECT_EQ(lines(*t), (Lines{"a", "", " z"}));
}

TEST(EditCursor, DelRangeAndBackTab) {
  struct {
    char const* line;
    long first, last;
    bool remove;
    char const* result;
    bool changed;
  } const cases[] = {
      {"abcdef", 1, 2, true, "adef", true},
      {"abcdef", 1, 2, false, "a  def", true},
      {"abcdef", 3, 9, false, "abc", true},
      {"ab\037\tc", 0, 0, true, "b^_^_^Ic", true},
      {"a\037\037\tb", 3, 3, true, "a  b", true},
      {"a\037\037\tb", 1, 1, false, "a ^_^Ib", true},
      {"abc", 5, 7, true, "abc", false},
      {"abc", 2, 1, true, "abc", false},
  };
  for (auto const& k : cases) {
    auto t = make({k.line});
    EditableTextCursor c(*t);
    EXPECT_EQ(c.delRange(k.first, k.last, k.remove), k.changed) << k.line;
    EXPECT_EQ(lines(*t), Lines{k.result}) << caret(String(k.line)) << " " << k.first << "-" << k.last;
  }
  auto t = make({"a\037\037\tb"});
  EditableTextCursor c(*t);
  c.goToCol(3);
  EXPECT_TRUE(c.backTab());
  EXPECT_EQ(lines(*t), Lines{"a^Ib"});
  EXPECT_EQ(c.column(), 1);
  c.goToCol(0);
  EXPECT_FALSE(c.backTab());
}

TEST(EditCursor, SetCharGetCharAndIndent) {
  auto t = make({"  \037\tab", "x"});
  EditableTextCursor c(*t);
  EXPECT_EQ(caret(c.findIndentSpace()), "  ^_^I");
  c.goToCol(4);
  EXPECT_EQ(c.getChar(), 'a');
  c.goToCol(40);
  EXPECT_EQ(c.getChar(), 0);
  c.goTo(1, 3);
  c.setChar('y');
  EXPECT_EQ(lines(*t)[1], "x  y");
  c.goTo(3, 0);
  EXPECT_EQ(c.getChar(), 0);
  c.setChar('n');
  EXPECT_EQ(lines(*t), (Lines{"  ^_^Iab", "x  y", "", "n"}));
  EXPECT_TRUE(c.findIndentSpace().isNull());
  String s("pq");
  c.goToCol(3);
  c.rebuildTab(s);
  EXPECT_EQ(lines(*t)[3], "npq");
  EXPECT_EQ(c.column(), 3);
}

struct DelToCase {
  char const* name;
  long line, col;        // where the cursor stands
  long toLine, toCol;    // the other end
  bool join, remove;
  Lines result;
  long curLine, curCol;  // the cursor afterwards
};

TEST(EditCursor, DelToWithinAndAcrossLines) {
  DelToCase const cases[] = {
      {"across, removed", 0, 2, 2, 1, true, true, {"abmno", "pqrst"}, 0, 2},
      {"ends given backwards", 2, 1, 0, 2, true, true, {"abmno", "pqrst"}, 0, 2},
      {"across, kept", 0, 2, 2, 1, true, false, {"ab", "", "  mno", "pqrst"}, 0, 2},
      {"across to a line end", 0, 2, 2, 5, true, true, {"abpqrst"}, 0, 2},
      {"across to a line end, no join", 0, 2, 2, 5, false, true, {"ab", "pqrst"}, 0, 2},
      {"across to a last character", 0, 2, 2, 4, true, true, {"ab", "pqrst"}, 0, 2},
      {"across from column 0", 1, 0, 2, 2, true, true, {"abcde", "no", "pqrst"}, 1, 0},
      {"whole line", 1, 0, 1, 5, true, true, {"abcde", "klmno", "pqrst"}, 1, 0},
      {"every character of a line", 1, 0, 1, 4, true, true, {"abcde", "", "klmno", "pqrst"}, 1, 0},
      {"to the line end joins", 1, 3, 1, 5, true, true, {"abcde", "fghklmno", "pqrst"}, 1, 3},
      {"to the last character", 1, 3, 1, 4, true, true, {"abcde", "fgh", "klmno", "pqrst"}, 1, 3},
      {"inside a line", 1, 1, 1, 2, true, true, {"abcde", "fij", "klmno", "pqrst"}, 1, 1},
      {"inside a line, kept", 1, 1, 1, 2, true, false, {"abcde", "f  ij", "klmno", "pqrst"}, 1, 1},
  };
  for (auto const& k : cases) {
    auto t = make({"abcde", "fghij", "klmno", "pqrst"});
    EditableTextCursor c(*t);
    c.goTo(k.line, k.col);
    c.delTo(k.toLine, k.toCol, k.join, k.remove);
    EXPECT_EQ(lines(*t), k.result) << k.name;
    EXPECT_EQ(c.line(), k.curLine) << k.name;
    EXPECT_EQ(c.column(), k.curCol) << k.name;
  }
}

TEST(EditCursor, DelKeepsLineNumberAndDropsZones) {
  auto t = make({"abc", "def", "ghi"});
  t->setAttr(TextCursor(*t), [&] {
    TextCursor e(*t);
    e.goTo(1, 1);
    return e;
  }(), AttrBold | 0x10000);
  EditableTextCursor c(*t);
  c.goTo(1, 2);
  c.del();
  EXPECT_EQ(lines(*t), (Lines{"abc", "ghi"}));
  EXPECT_EQ(c.line(), 1);
  EXPECT_EQ(c.column(), 2);
  // The deleted line's part, colour included, did not move onto the next line.
  EXPECT_EQ(zones(*t), "0,0-0,2:10800;");
  c.goTo(1, 0);
  c.del();
  EXPECT_EQ(c.line(), 1);
  EXPECT_FALSE(c.valid());

  // Zones past the last character (a block marked beyond the line's end)
  // and on an empty line go with their line as well.
  auto u = make({"ab", "", "cdefgh", "ijkl"});
  auto pos = [&](long l, long col) {
    TextCursor p(*u);
    p.goTo(l, col);
    return p;
  };
  u->setAttr(pos(0, 4), pos(0, 6), AttrUnderline);
  u->setAttr(pos(1, 0), pos(1, 0), AttrReverse);
  u->setAttr(pos(2, 4), pos(2, 5), AttrBold);
  EditableTextCursor d(*u);
  d.del();
  d.del();
  EXPECT_EQ(lines(*u), (Lines{"cdefgh", "ijkl"}));
  EXPECT_EQ(zones(*u), "0,4-0,5:800;");
}

TEST(EditCursor, JoinLinesMovesOtherCursors) {
  auto t = make({"abc", "defg", "h"});
  EditableTextCursor c(*t);
  TextCursor onNext(*t), below(*t);
  onNext.goTo(1, 2);
  below.goTo(2, 0);
  c.goToCol(1);
  EXPECT_TRUE(c.joinLines());
  EXPECT_EQ(lines(*t), (Lines{"abcdefg", "h"}));
  EXPECT_EQ(c.column(), 3);
  EXPECT_EQ(onNext.line(), 0);
  EXPECT_EQ(onNext.column(), 5);
  EXPECT_EQ(zftest::str(onNext.value()), "abcdefg");
  EXPECT_EQ(below.line(), 1);
  c.goTo(1, 0);
  EXPECT_FALSE(c.joinLines());
  // A join that would pass the String limit is refused and loses nothing.
  auto big = make({});
  big->add(String(40000L, 'a'));
  big->add(String(40000L, 'b'));
  EditableTextCursor b(*big);
  EXPECT_FALSE(b.joinLines());
  EXPECT_EQ(big->size(), 2);
}

// The joined line's tabs were laid out for column 0: after the join each
// still ends at its tab stop, and a cursor on the joined part follows.
TEST(EditCursor, JoinLinesLaysTheJoinedTabsOut) {
  struct {
    char const* first;
    char const* next;
    char const* result;
  } const cases[] = {
      {"yqn", "\037\037\037\tj", "yqn^Ij"},
      {"a", "\037\037\037\tb\037\037\tc", "a^_^_^Ib^_^_^Ic"},
      {"abcd", "\037\037\037\tx\037\037\t", "abcd^_^_^_^Ix^_^_^I"},
      {"ab", "cd", "abcd"},
  };
  for (auto const& k : cases) {
    auto t = make({k.first, k.next});
    EditableTextCursor c(*t);
    TextCursor onTab(*t);
    long tabCol = String(k.next).index('\t');
    onTab.goTo(1, tabCol < 0 ? 0 : tabCol);
    ASSERT_TRUE(c.joinLines());
    EXPECT_EQ(lines(*t), Lines{k.result}) << k.first;
    EXPECT_EQ(c.column(), String(k.first).length());
    if (tabCol >= 0) {
      EXPECT_EQ(t->first()[onTab.column()], '\t') << k.first;
    }
  }
}

TEST(EditCursor, InsNewLineMovesOtherCursors) {
  struct {
    char const* name;
    std::vector<char const*> text;
    long col;
    bool indent;
    Lines result;
    long curLine, curCol;
  } const cases[] = {
      {"middle", {"abcdef"}, 3, false, {"abc", "def"}, 1, 0},
      {"indented", {"  abcd"}, 4, true, {"  ab", "  cd"}, 1, 2},
      {"column 0", {"abc"}, 0, false, {"", "abc"}, 1, 0},
      {"past the end", {"ab"}, 4, false, {"ab  ", ""}, 1, 0},
      {"before a tab", {"ab\037\tc"}, 1, false, {"a", "b^_^_^Ic"}, 1, 0},
      {"inside a fill run", {"a\037\037\tb"}, 2, false, {"a ", "^_^_^_^Ib"}, 1, 0},
  };
  for (auto const& k : cases) {
    auto t = make(k.text);
    EditableTextCursor c(*t);
    c.goToCol(k.col);
    EXPECT_EQ(c.insNewLine(k.indent), k.curCol) << k.name;
    EXPECT_EQ(lines(*t), k.result) << k.name;
    EXPECT_EQ(c.line(), k.curLine) << k.name;
    EXPECT_EQ(c.column(), k.curCol) << k.name;
  }
  auto t = make({"abcdef", "next"});
  EditableTextCursor c(*t);
  TextCursor after(*t), before(*t), next(*t);
  after.goTo(0, 4);
  before.goTo(0, 1);
  next.goTo(1, 2);
  c.goToCol(3);
  c.insNewLine(false);
  EXPECT_EQ(after.line(), 1);
  EXPECT_EQ(after.column(), 1);
  EXPECT_EQ(before.line(), 0);
  EXPECT_EQ(before.column(), 1);
  EXPECT_EQ(next.line(), 2);
  // Without a line: an empty line is made and the cursor moves past it.
  c.goTo(5, 3);
  c.insNewLine(false);
  EXPECT_EQ(t->size(), 6);
  EXPECT_EQ(c.line(), 6);
}

TEST(EditRegion, GetRegion) {
  auto t = make({"abcdef", "ghijkl", "mnopqr"});
  TextCursor b1(*t), b2(*t);
  b1.goTo(0, 1);
  b2.goTo(0, 2);
  t->setAttr(b1, b2, AttrBold);
  auto at = [&](long l, long c) {
    TextCursor x(*t);
    x.goTo(l, c);
    return x;
  };
  struct {
    long l1, c1, l2, c2;
    bool inclusive;
    Lines out;
  } const cases[] = {
      {0, 1, 0, 4, false, {"^[[1mbc^[[0md"}},
      {0, 1, 0, 4, true, {"^[[1mbc^[[0mde"}},
      {0, 4, 2, 2, false, {"ef", "ghijkl", "mn"}},
      {0, 4, 2, 0, false, {"ef", "ghijkl", ""}},
      {1, 3, 9, 0, false, {"jkl", "mnopqr"}},
      {0, 2, 1, 0, false, {"^[[1mc^[[0mdef", ""}},
  };
  for (auto const& k : cases) {
    StringList out;
    EXPECT_TRUE(t->getRegion(out, at(k.l1, k.c1), at(k.l2, k.c2), k.inclusive));
    EXPECT_EQ(lines(out), k.out) << k.l1 << "," << k.c1 << "-" << k.l2 << "," << k.c2;
  }
  StringList out;
  EXPECT_FALSE(t->getRegion(out, at(1, 0), at(0, 5), false));
  EXPECT_FALSE(t->getRegion(out, at(1, 0), at(1, 0), true));
  auto other = make({"x"});
  EXPECT_FALSE(t->getRegion(out, at(0, 0), TextCursor(*other), false));
  EXPECT_EQ(out.size(), 0);
}

TEST(EditRegion, DelRegion) {
  struct {
    char const* name;
    long l1, c1, l2, c2;
    bool remove, exclusive;
    Lines result;
  } const cases[] = {
      {"across, removed", 0, 2, 2, 3, true, true, {"abpqr"}},
      {"across, kept", 0, 2, 2, 3, false, true, {"ab", "", "   pqr"}},
      {"to column 0 takes the line end", 0, 2, 1, 0, true, true, {"abghijkl", "mnopqr"}},
      {"inclusive end", 0, 2, 0, 3, true, false, {"abef", "ghijkl", "mnopqr"}},
      {"to the end of the text", 1, 2, 9, 0, true, true, {"abcdef", "gh"}},
  };
  for (auto const& k : cases) {
    auto t = make({"abcdef", "ghijkl", "mnopqr"});
    EditableTextCursor from(*t);
    TextCursor to(*t);
    from.goTo(k.l1, k.c1);
    to.goTo(k.l2, k.c2);
    EXPECT_TRUE(t->delRegion(from, to, k.remove, k.exclusive)) << k.name;
    EXPECT_EQ(lines(*t), k.result) << k.name;
  }
  auto t = make({"abc"});
  EditableTextCursor from(*t);
  TextCursor to(*t);
  from.goToCol(2);
  EXPECT_FALSE(t->delRegion(from, to, true, true));
  EXPECT_EQ(lines(*t), Lines{"abc"});
}

// Cutting a region (copy, then delete with an exclusive end) and inserting
// the copy at the same place gives the text back: the line end belongs to
// the region exactly when the copy ends with an empty line.
TEST(EditRegion, CutAndPasteRestoresTheText) {
  struct {
    long l1, c1, l2, c2;
  } const cases[] = {
      {1, 2, 1, 4}, {1, 2, 1, 5}, {1, 0, 1, 5}, {1, 2, 2, 0}, {1, 0, 2, 0},
      {0, 3, 2, 2}, {0, 2, 2, 5}, {0, 0, 2, 5}, {0, 5, 1, 5}, {0, 5, 2, 0},
  };
  Lines const original{"abcde", "fghij", "klmno"};
  for (auto const& k : cases) {
    auto t = make({"abcde", "fghij", "klmno"});
    EditableTextCursor from(*t);
    TextCursor to(*t);
    from.goTo(k.l1, k.c1);
    to.goTo(k.l2, k.c2);
    StringList clip;
    ASSERT_TRUE(t->getRegion(clip, from, to, false));
    ASSERT_TRUE(t->delRegion(from, to, true, true));
    from.goTo(k.l1, k.c1);
    ASSERT_TRUE(t->insertText(clip, from));
    EXPECT_EQ(lines(*t), original) << k.l1 << "," << k.c1 << "-" << k.l2 << "," << k.c2;
  }
}

TEST(EditRegion, InsertText) {
  {
    auto t = make({"abcdef"});
    EditableTextCursor at(*t);
    at.goToCol(2);
    StringList in;
    in.add(String("X\033[1mY\033[0mZ"));
    EXPECT_TRUE(t->insertText(in, at));
    EXPECT_EQ(lines(*t), Lines{"abXYZcdef"});
    EXPECT_EQ(zones(*t), "0,3-0,3:800;");
    EXPECT_EQ(at.line(), 0);
    EXPECT_EQ(at.column(), 2);
  }
  {
    auto t = make({"abcdef", "ghi"});
    EditableTextCursor at(*t);
    at.goToCol(2);
    StringList in;
    in.add(String("12"));
    in.add(String("34"));
    in.add(String("56"));
    EXPECT_TRUE(t->insertText(in, at));
    EXPECT_EQ(lines(*t), (Lines{"ab12", "34", "56cdef", "ghi"}));
    EXPECT_EQ(at.line(), 0);
    EXPECT_EQ(at.column(), 2);
  }
  {
    auto t = make({"abcdef", "ghi"});
    EditableTextCursor at(*t);
    at.goToCol(2);
    StringList in;
    in.add(String("\033[4m1\t2"));
    in.add(String("34\033[0m5"));
    EXPECT_TRUE(t->insertText(in, at));
    EXPECT_EQ(lines(*t), (Lines{"ab1^I2", "345cdef", "ghi"}));
    EXPECT_EQ(zones(*t), "0,2-1,1:100;");
  }
  {
    // A region copied out and inserted elsewhere comes back with its zones.
    auto t = make({"abcdef", "ghijkl"});
    TextCursor b1(*t), b2(*t);
    b1.goTo(0, 1);
    b2.goTo(1, 1);
    t->setAttr(b1, b2, AttrUnderline);
    StringList clip;
    TextCursor from(*t), to(*t);
    from.goTo(0, 4);
    to.goTo(1, 3);
    ASSERT_TRUE(t->getRegion(clip, from, to, false));
    EditableTextCursor at(*t);
    at.goTo(1, 6);
    ASSERT_TRUE(t->insertText(clip, at));
    EXPECT_EQ(lines(*t), (Lines{"abcdef", "ghijklef", "ghi"}));
    EXPECT_EQ(zones(*t), "0,1-1,1:100;1,6-2,1:100;");
  }
  {
    // A tab after a decoded sequence is laid out for the line without it.
    auto t = make({""});
    EditableTextCursor at(*t);
    StringList in;
    in.add(String("\033[31mab\tc"));
    EXPECT_TRUE(t->insertText(in, at));
    EXPECT_EQ(lines(*t), Lines{"ab^_^Ic"});
    EXPECT_EQ(zones(*t), "0,0-0,4:10000;");
  }
  auto t = make({"x"});
  auto other = make({"y"});
  EditableTextCursor foreign(*other);
  StringList in;
  in.add(String("z"));
  EXPECT_FALSE(t->insertText(in, foreign));
}

TEST_F(EditFiles, StoreWritesTheStoredForm) {
  auto t = load("\033[1mab\033[4mcd\033[0mef\n");
  EXPECT_TRUE(t->isType(TextEditable));
  t->setFile(String(dir.file("out.txt").c_str()), false);
  ASSERT_TRUE(t->store());
  EXPECT_EQ(zftest::readFile(dir.file("out.txt")), "\033[1mab\033[0m\033[1;4mcd\033[0mef\n");
  EXPECT_TRUE(t->isStored());
  EXPECT_EQ(t->type(), TextEditable);
  EXPECT_FALSE(t->modif());

  std::string stored =
      "\tx\na\tb\nabc\td\n\n\033[1mbold\033[0m plain \033[1;4mbu\n\033[0mstart \033[31;42mcol\n"
      "across\033[0m end\n\351t\351\n\033[7mto the end\nlast\n";
  auto s = load(stored, "stored.txt");
  s->setFile(String(dir.file("copy.txt").c_str()), false);
  ASSERT_TRUE(s->store());
  EXPECT_EQ(zftest::readFile(dir.file("copy.txt")), stored);
}

TEST_F(EditFiles, FailedWriteKeepsTheOldFile) {
  std::string keep = dir.write("keep.txt", "the old contents\n");
  auto t = load("new\n");
  t->setFile(String(keep.c_str()), false);
  t->setModif();
  {
    zftest::FaultFs fs;
    fs.failWrite(1, ENOSPC, "keep.txt");
    EXPECT_FALSE(t->store());
  }
  EXPECT_EQ(t->errNo(), ENOSPC);
  EXPECT_TRUE(t->modif());
  EXPECT_EQ(zftest::readFile(keep), "the old contents\n") << "not truncated before the write";
  ASSERT_TRUE(t->store());
  EXPECT_EQ(zftest::readFile(keep), "new\n") << "a shorter text cuts the file";
  t->setFile(String("/dev/null"), false);
  EXPECT_TRUE(t->store()) << "a device takes the bytes";
}

TEST_F(EditFiles, FailedStoreChangesNothing) {
  auto t = load("one\ttwo\n");
  t->setFile(String("/dev/full"), false);
  EditableTextCursor c(*t);
  c.insString(String("x"));
  ASSERT_TRUE(t->modif());
  TextType type = t->type();
  EXPECT_FALSE(t->store());
  EXPECT_EQ(t->errNo(), ENOSPC);
  EXPECT_TRUE(t->modif());
  EXPECT_FALSE(t->isStored());
  EXPECT_EQ(t->type(), type);

  t->setFile(String(dir.file("no/such/dir/f").c_str()), false);
  t->setModif();
  EXPECT_FALSE(t->store());
  EXPECT_EQ(t->errNo(), ENOENT);
  EXPECT_TRUE(t->modif());

  EditableText inactive(String(dir.file("in.txt").c_str()));
  EXPECT_FALSE(inactive.store());
  // Dropping the lines keeps the text editable.
  t->deActivate();
  EXPECT_EQ(t->type(), TextEditable);
  EXPECT_EQ(t->size(), 0);
}

}  // namespace
