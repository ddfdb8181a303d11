// Attribute zones: splitting at range ends, filling gaps, removing bits, the
// attribute runs along a line, and zones following character and line edits.
#include <winkit/Text.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A text of six lines "abcdefghij".
void fillText(Text& t) {
  for (int i = 0; i < 6; ++i) t.add(String("abcdefghij"));
}

TextCursor at(Text& t, long line, long col) {
  TextCursor c(t);
  c.goTo(line, col);
  return c;
}

std::string dump(Text& t) {
  std::string out;
  AttributeZones& z = t.zones();
  char buf[80];
  for (long i = 0; i < z.count(); ++i) {
    AttributeBlock const& b = z.zone(i);
    std::snprintf(buf, sizeof buf, "%ld,%ld-%ld,%ld:%x;", b.begin.line(), b.begin.column(), b.end.line(),
                  b.end.column(), static_cast<unsigned>(b.attrib));
    out += buf;
  }
  return out;
}

struct Op {
  bool set;
  long l1, c1, l2, c2;
  int32_t bits;
};

struct ZoneCase {
  char const* name;
  std::vector<Op> ops;
  char const* zones;
};

TEST(AttributeZones, SetAndDeleteSplitZones) {
  ZoneCase const cases[] = {
      {"underline inside bold", {{true, 0, 0, 0, 3, 0x800}, {true, 0, 2, 0, 3, 0x100}}, "0,0-0,1:800;0,2-0,3:900;"},
      {"bold removed from the middle", {{true, 0, 0, 0, 3, 0x800}, {false, 0, 1, 0, 1, 0x800}},
       "0,0-0,0:800;0,2-0,3:800;"},
      {"every bit removed", {{true, 0, 0, 0, 3, 0x800}, {false, 0, 0, 0, 3, 0x800}}, ""},
      {"across lines", {{true, 2, 5, 4, 1, 0x100}}, "2,5-4,1:100;"},
      {"from after to", {{true, 0, 4, 0, 2, 0x800}}, ""},
      {"gaps filled around zones",
       {{true, 0, 2, 0, 3, 0x800}, {true, 0, 6, 0, 7, 0x100}, {true, 0, 0, 0, 9, 0x400}},
       "0,0-0,1:400;0,2-0,3:c00;0,4-0,5:400;0,6-0,7:500;0,8-0,9:400;"},
      {"split at a line start", {{true, 0, 5, 1, 4, 0x800}, {true, 1, 0, 1, 1, 0x100}},
       "0,5-0,9:800;1,0-1,1:900;1,2-1,4:800;"},
      {"tail after a line end", {{true, 0, 0, 1, 3, 0x800}, {true, 0, 0, 0, 9, 0x100}},
       "0,0-0,9:900;1,0-1,3:800;"},
      {"removal over two zones and a gap",
       {{true, 0, 0, 0, 3, 0x800}, {true, 0, 6, 0, 9, 0x800}, {false, 0, 2, 0, 7, 0x800}},
       "0,0-0,1:800;0,8-0,9:800;"},
      {"removal of one of two bits", {{true, 1, 0, 1, 5, 0x900}, {false, 1, 2, 1, 3, 0x100}},
       "1,0-1,1:900;1,2-1,3:800;1,4-1,5:900;"},
  };
  for (auto const& k : cases) {
    Text t;
    fillText(t);
    for (auto const& op : k.ops) {
      TextCursor a = at(t, op.l1, op.c1), b = at(t, op.l2, op.c2);
      bool done = op.set ? t.setAttr(a, b, op.bits) : t.delAttr(a, b, op.bits);
      EXPECT_EQ(done, !(op.l1 > op.l2 || (op.l1 == op.l2 && op.c1 > op.c2))) << k.name;
    }
    EXPECT_EQ(dump(t), k.zones) << k.name;
  }
}

TEST(AttributeZones, AttributeRunsAlongLines) {
  Text t;
  fillText(t);
  t.setAttr(at(t, 0, 2), at(t, 0, 3), 0x800);
  t.setAttr(at(t, 2, 5), at(t, 4, 1), 0x100);
  struct {
    long line, col;
    int32_t attr;
    long lastCol;
  } const probes[] = {
      {0, 0, 0, 1},          {0, 2, 0x800, 3}, {0, 3, 0x800, 3},     {0, 5, 0, 0x7fffffff},
      {2, 0, 0, 4},          {2, 7, 0x100, 0x7fffffff}, {3, 0, 0x100, 0x7fffffff},
      {4, 1, 0x100, 1},      {4, 2, 0, 0x7fffffff},     {0, 2, 0x800, 3},
  };
  for (auto const& p : probes) {
    long lastCol = -5;
    EXPECT_EQ(t.getAttr(at(t, p.line, p.col), lastCol), p.attr) << p.line << "," << p.col;
    EXPECT_EQ(lastCol, p.lastCol) << p.line << "," << p.col;
  }
  // Removing every bit of a zone deletes it; its positions answer 0.
  t.delAttr(at(t, 0, 2), at(t, 0, 3), 0x800);
  long lastCol = 0;
  EXPECT_EQ(t.getAttr(at(t, 0, 2), lastCol), 0);
  EXPECT_EQ(t.zones().count(), 1);
  // No zones, or a position without a line: 0 to the end.
  Text empty;
  empty.add(String("x"));
  EXPECT_EQ(empty.getAttr(at(empty, 0, 0), lastCol), 0);
  EXPECT_EQ(lastCol, 0x7fffffff);
  EXPECT_EQ(t.getAttr(at(t, 40, 0), lastCol), 0);
}

TEST(AttributeZones, ZonesFollowEdits) {
  Text t;
  fillText(t);
  t.setAttr(at(t, 0, 2), at(t, 0, 5), 0x800);
  t.setAttr(at(t, 3, 0), at(t, 3, 9), 0x100);
  long lastCol = 0;
  t.getAttr(at(t, 0, 3), lastCol);  // fills the cache before the edits
  TextCursor c = at(t, 0, 0);
  EXPECT_TRUE(c.insChar('X'));
  EXPECT_EQ(dump(t), "0,3-0,6:800;3,0-3,9:100;");
  EXPECT_EQ(t.getAttr(at(t, 0, 2), lastCol), 0);
  EXPECT_EQ(t.getAttr(at(t, 0, 6), lastCol), 0x800);
  c.delChar();
  c.delChar();
  EXPECT_EQ(dump(t), "0,1-0,4:800;3,0-3,9:100;");
  t.ins(String("new first line"));
  EXPECT_EQ(dump(t), "1,1-1,4:800;4,0-4,9:100;");
  TextCursor two = at(t, 2, 0);
  two.del();
  EXPECT_EQ(dump(t), "1,1-1,4:800;3,0-3,9:100;");
  EXPECT_TRUE(t.modif());
  // The display mark does not mark the text modified.
  t.resetModif();
  t.setAttr(at(t, 0, 0), at(t, 0, 3), AttrDisplayMark);
  EXPECT_FALSE(t.modif());
  t.delAttr(at(t, 0, 0), at(t, 0, 3), AttrDisplayMark);
  EXPECT_FALSE(t.modif());
  t.setAttr(at(t, 0, 0), at(t, 0, 3), AttrBold);
  EXPECT_TRUE(t.modif());
}

// Deleted characters take their zones with them: no zone is left on the
// characters that move into their place, and zones never come to overlap.
TEST(AttributeZones, DeletedCharactersTakeTheirZones) {
  struct {
    char const* name;
    long col, n;  // n characters deleted at col of line 0
    char const* result;
  } const cases[] = {
      {"a one-character zone", 3, 1, "0,0-0,2:800;0,3-0,5:100;"},
      {"a zone's last characters", 2, 2, "0,0-0,1:800;0,2-0,4:100;"},
      {"a zone's first characters", 4, 2, "0,0-0,2:800;0,3-0,3:400;0,4-0,4:100;"},
      {"a whole zone and more", 2, 5, "0,0-0,1:800;"},
      {"inside a zone", 5, 1, "0,0-0,2:800;0,3-0,3:400;0,4-0,5:100;"},
  };
  for (auto const& k : cases) {
    Text t;
    fillText(t);
    t.setAttr(at(t, 0, 0), at(t, 0, 2), 0x800);
    t.setAttr(at(t, 0, 3), at(t, 0, 3), 0x400);
    t.setAttr(at(t, 0, 4), at(t, 0, 6), 0x100);
    TextCursor c = at(t, 0, k.col);
    if (k.n == 1)
      EXPECT_TRUE(c.delChar());
    else
      EXPECT_EQ(c.delChars(k.n), k.n);
    EXPECT_EQ(dump(t), k.result) << k.name;
  }
}

TEST(AttributeZones, AddFindAndInZone) {
  Text t;
  fillText(t);
  AttributeZones& z = t.zones();
  AttributeBlock b(at(t, 1, 1), at(t, 1, 4), 0x400);
  z.add(b);
  AttributeBlock same(at(t, 1, 1), at(t, 1, 2), 0x200);
  z.add(same);  // replaces the zone that begins at the same place
  EXPECT_EQ(dump(t), "1,1-1,2:200;");
  EXPECT_EQ(z.find(same), 0);
  AttributeBlock later(at(t, 2, 0));
  EXPECT_EQ(z.find(later), ~1L);
  EXPECT_TRUE(AttributeZones::inZone(at(t, 1, 2), same.begin, same.end));
  EXPECT_FALSE(AttributeZones::inZone(at(t, 1, 3), same.begin, same.end));
  EXPECT_FALSE(AttributeZones::inZone(at(t, 1, 1), TextCursor(), same.end));
  EXPECT_FALSE(z.delAttribute(at(t, 1, 1), 0x200));
  z.del(0);
  EXPECT_EQ(z.count(), 0);
}

}  // namespace
