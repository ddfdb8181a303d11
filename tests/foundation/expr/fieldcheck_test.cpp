// Field input checks: the null negation, owned values and their range
// checks, the longest display text, and the Connection form with its caps
// on hostile counts.
#include <gtest/gtest.h>

#include <zfound/Date.h>
#include <zfound/InCheck.h>
#include <zfound/LoopConnection.h>
#include <zfound/Process.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

std::string str(AnyValue const* v) {
  if (v == nullptr) return "(none)";
  String s = toString(*v);
  return s.isNull() ? std::string() : std::string(toCharPtr(s));
}

TEST(FieldCheck, NegationTellsWhetherThereIsACheck) {
  InCheck none;
  EXPECT_TRUE(!none);
  EXPECT_EQ(static_cast<void*>(none), nullptr);
  EXPECT_FALSE(none.negation());
  EXPECT_EQ(none.getType(), InCheck::NOCHECK);
  none.setNegation(false);
  EXPECT_FALSE(!none);
  EXPECT_NE(static_cast<void*>(none), nullptr);
  EXPECT_FALSE(none.negation());

  InList list(true);
  EXPECT_TRUE(list.negation());
  EXPECT_EQ(list.getType(), InCheck::INLIST);
  Integrity ref;
  EXPECT_TRUE(!ref);
  EXPECT_TRUE(ref.index().isNull());
  EXPECT_EQ(ref.getType(), InCheck::INTEGRITY);
  EXPECT_STREQ(toCharPtr(ref.tabName()), "tabName");
  EXPECT_STREQ(toCharPtr(ref.indName()), "indName");

  InList sized(3, 2, false);
  EXPECT_EQ(sized.nKeyValues(), 3);
  EXPECT_EQ(sized.nDspFields(), 2);
  EXPECT_EQ(sized.keyValue(2), nullptr);
  sized.setNValues(1);
  EXPECT_EQ(sized.nKeyValues(), 1);
}

TEST(FieldCheck, ValuesAreOwnedCopiesAndTheLongestDisplayTextCounts) {
  InList list(false);
  AnyValue a("x");
  list.addKeyVal(a);
  list.addKeyVal(AnyValue(7));
  a = AnyValue("changed");
  EXPECT_EQ(str(list.keyValue(0)), "x");
  EXPECT_EQ(str(list.keyValue(1)), "7");

  EXPECT_EQ(list.maxDspLen(), 0);
  list.addDspFld(AnyValue("a"));
  list.addDspFld(AnyValue("abc"));
  list.setNValues(2);
  InList withHole(0, 1, false);
  withHole.addDspFld(AnyValue("a"));
  withHole.addDspFld(AnyValue("abc"));
  EXPECT_EQ(withHole.dspField(0), nullptr);
  EXPECT_EQ(withHole.maxDspLen(), 3);
  EXPECT_EQ(list.maxDspLen(), 3);
  list.addDspFld(AnyValue(String(String::kHighLength, nullptr)));
  EXPECT_EQ(list.maxDspLen(), 2147483647);
}

// Reaching outside the values is a broken precondition that ends the program.
void keyOutside(int32_t n) {
  zftest::startUpOnce("fieldcheck");
  InList list(false);
  list.addKeyVal(AnyValue(1));
  if (n >= 0 && n < 100) {
    list.keyValue(n);
  } else {
    list.dspField(0);
  }
}

TEST(FieldCheckDeathTest, IndexOutsideTheValuesFailsTheRangeAssertion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(keyOutside(-1), testing::ExitedWithCode(1), "isInRange\\(n\\)");
  EXPECT_EXIT(keyOutside(1), testing::ExitedWithCode(1), "isInRange\\(n\\)");
  EXPECT_EXIT(keyOutside(100), testing::ExitedWithCode(1), "isInRange\\(n\\)");
}

TEST(FieldCheck, ChecksRoundTripOnAConnection) {
  Integrity ref(ObjectId(12, 34), 0, 0, true);
  ref.addKeyVal(AnyValue(5));
  ref.addKeyVal(AnyValue("key"));
  ref.addDspFld(AnyValue(toDate(100)));
  InList list;  // a null negation travels as an ordinary check
  list.addKeyVal(AnyValue(true));
  list.addDspFld(AnyValue("yes"));
  InCheck none;

  LoopConnection c(5);  // small parts: the checks span several
  ref.send(c);
  list.send(c);
  none.send(c);
  InCheck::sendEmpty(c);
  c.rewind();

  ASSERT_EQ(InCheck::receive(c), InCheck::INTEGRITY);
  Integrity r(c);
  EXPECT_TRUE(r.negation());
  EXPECT_EQ(r.index(), ObjectId(12, 34));
  ASSERT_EQ(r.nKeyValues(), 2);
  ASSERT_EQ(r.nDspFields(), 1);
  EXPECT_EQ(str(r.keyValue(0)), "5");
  EXPECT_EQ(str(r.keyValue(1)), "key");
  EXPECT_EQ(r.dspField(0)->getType(), AnyValue::T_DATE);
  EXPECT_EQ(toDate(*r.dspField(0)).value(), 100);

  ASSERT_EQ(InCheck::receive(c), InCheck::INLIST);
  InList l(c);
  EXPECT_FALSE(!l);
  EXPECT_FALSE(l.negation());
  ASSERT_EQ(l.nKeyValues(), 1);
  EXPECT_EQ(l.keyValue(0)->getType(), AnyValue::T_BOOL);
  EXPECT_EQ(l.maxDspLen(), 3);

  EXPECT_EQ(InCheck::receive(c), InCheck::NOCHECK);
  EXPECT_EQ(InCheck::receive(c), InCheck::NOCHECK);
  EXPECT_FALSE(c.bad());
  EXPECT_EQ(c.wordsLeft(), 0);

  // An empty list arrives empty, with its negation set.
  LoopConnection e;
  e.feed({1, 0, 0, 0});
  ASSERT_EQ(InCheck::receive(e), InCheck::INLIST);
  InList empty(e);
  EXPECT_FALSE(!empty);
  EXPECT_EQ(empty.nKeyValues(), 0);
  EXPECT_EQ(empty.nDspFields(), 0);
}

TEST(FieldCheck, HostileCountsAreRefused) {
  // Bodies after the kind word: negation, k, d, values.
  std::vector<std::vector<uint32_t>> bodies = {
      {1, 0xFFFFFFFFu, 0},           // negative key count
      {0, 0, 0x80000000u},           // negative display count
      {0, 70000, 0},                 // key count above the cap
      {0, 0x7FFFFFFFu, 0x7FFFFFFFu}, // absurd counts
      {0, 3, 0, 0, 5},               // three values announced, one tag sent
      {0, 1, 0},                     // a value announced, none sent
  };
  for (auto const& body : bodies) {
    SCOPED_TRACE(body[1]);
    LoopConnection c;
    c.feed(body);
    InList l(c);
    EXPECT_TRUE(c.bad());
    EXPECT_TRUE(!l);
    EXPECT_EQ(l.nKeyValues(), 0);
    EXPECT_EQ(l.nDspFields(), 0);

    LoopConnection d;
    d.feed(body);
    Integrity r(d);
    EXPECT_TRUE(d.bad());
    EXPECT_TRUE(!r);
    EXPECT_EQ(r.nKeyValues(), 0);
  }
  // A good body whose index is cut off leaves the referential check empty.
  LoopConnection c;
  c.feed({0, 1, 0, 1, 0});
  Integrity r(c);
  EXPECT_TRUE(c.bad());
  EXPECT_TRUE(!r);
  EXPECT_EQ(r.nKeyValues(), 0);
}

}  // namespace
