// Names that become paths and the choice of a table's data-file name.
#include "FieldFixture.h"

#include <set>
#include <string>

#include <svcatalog/SchemaNames.h>

namespace {

using svcatalog::checkObjectName;
using svcatalog::newFileName;

class SchemaNamesTest : public FieldTest {};

TEST_F(SchemaNamesTest, NamesThatWouldLeaveTheDirectoryAreRefused) {
  struct Case {
    char const* name;
    bool ok;
  } const cases[] = {
      {"demo", true},         {"Customers", true},  {"2Orders", true},
      {"a b.c", true},        {"abcdefghijklmnop", true},  // 16: the column's width
      {"", false},            {".", false},         {"..", false},
      {"../x", false},        {"a/b", false},       {"/etc", false},
      {"a\nb", false},        {"tab\there", false}, {"del\x7f", false},
      {"abcdefghijklmnopq", false},  // 17
  };
  for (Case const& c : cases) {
    Exception::last(Exception(0));
    EXPECT_EQ(checkObjectName(String(c.name), "table"), c.ok) << c.name;
    EXPECT_EQ(Exception::last().code() == 0, c.ok) << c.name;
  }
  Exception::last(Exception(0));
  EXPECT_FALSE(checkObjectName(String(), "schema"));
  EXPECT_NE(Exception::last().code(), 0);
}

// A schema's name also becomes a disk-layout pattern and an entry of the
// configuration's schema list.
TEST_F(SchemaNamesTest, SchemaNamesFitTheLayoutAndTheConfiguration) {
  struct Case {
    char const* name;
    bool ok;
  } const cases[] = {
      {"demo", true},  {"Shop_2-x", true}, {"a$b", true}, {"a/b", false}, {"a b", false}, {"a.b", false},
      {"a,b", false},  {"a:1", false},     {"a*", false}, {"a?", false},  {"[ab", false}, {"a\\", false},
      {"a+b", false},  {"a{2}", false},
  };
  for (Case const& c : cases) {
    Exception::last(Exception(0));
    EXPECT_EQ(svcatalog::checkSchemaName(String(c.name)), c.ok) << c.name;
    EXPECT_EQ(Exception::last().code() == 0, c.ok) << c.name;
  }
}

// Each case: table name, names already taken, expected result.
TEST_F(SchemaNamesTest, DataFileNamesSkipTakenNames) {
  struct Case {
    char const* name;
    std::set<std::string> taken;
    char const* want;
  } const cases[] = {
      {"Customers", {}, "_custome.tab"},
      {"Customers", {"_custome.tab"}, "_custom1.tab"},
      {"Customers", {"_custome.tab", "_custom1.tab"}, "_custom2.tab"},
      {"2Orders", {}, "_orders.tab"},
      {"A", {}, "_a.tab"},
      {"A", {"_a.tab"}, "_a1.tab"},
      {"2", {}, "_.tab"},
      {"22abc", {}, "_2abc.tab"},
  };
  for (Case const& c : cases) {
    auto taken = [&](String const& f) { return c.taken.count(toCharPtr(f)) != 0; };
    String got = newFileName(String(c.name), String("tab"), taken);
    EXPECT_STREQ(toCharPtr(got), c.want) << c.name;
  }
  // With nine numbered names taken the counter reaches two digits and the
  // base gives up one more character.
  std::set<std::string> taken = {"_custome.tab"};
  for (int i = 1; i <= 9; ++i) taken.insert("_custom" + std::to_string(i) + ".tab");
  String got = newFileName(String("Customers"), String("tab"),
                           [&](String const& f) { return taken.count(toCharPtr(f)) != 0; });
  EXPECT_STREQ(toCharPtr(got), "_custo10.tab");
  // An index extension goes the same way.
  EXPECT_STREQ(toCharPtr(newFileName(String("Customers"), String("i00"), nullptr)), "_custome.i00");
}

TEST_F(SchemaNamesTest, NoNameLeftIsAnErrorNotAnAssertion) {
  Exception::last(Exception(0));
  String got = newFileName(String("Customers"), String("tab"), [](String const&) { return true; });
  EXPECT_TRUE(got.isNull());
  EXPECT_NE(Exception::last().code(), 0);
}

}  // namespace
