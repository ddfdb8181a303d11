// Object ids (text, stored, stream and channel forms, order, null rule), the
// plain-function object id, and the registry of persistent objects.
#include <gtest/gtest.h>

#include <zfound/LoopConnection.h>
#include <zfound/Message.h>
#include <zfound/ObjectId.h>
#include <zfound/PObject.h>
#include <zfound/Portable.h>
#include <zfound/Process.h>
#include <zfound/String.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "TestSupport.h"

namespace {

// The highest id.
ObjectId const kHigh(MAX_DBOBJECT);

// The plain-function object id: comparisons and text forms.
TEST(PlainObjectId, Comparisons) {
  DbObject a{1, 2}, b{1, 2}, c{1, 3};
  EXPECT_TRUE(__eq(a, b));
  EXPECT_TRUE(__ne(a, c));
  EXPECT_TRUE(_isMinDbObject(DbObject{0, 0}));
  EXPECT_TRUE(_isNullDbObject(DbObject{0, 0}));
  EXPECT_TRUE(_isMaxDbObject(DbObject{0xFFFFFFFFu, 0xFFFFFFFFu}));
  EXPECT_FALSE(_isMaxDbObject(DbObject{0xFFFFFFFFu, 0}));
  EXPECT_TRUE(DbObjectCmp(1, 2, 1, 2));
  EXPECT_FALSE(DbObjectCmp(1, 2, 2, 1));
}

TEST(PlainObjectId, TextForms) {
  struct Case {
    char const* text;
    uint32_t classId, instId;
  } const cases[] = {
      {"0000000A.FFFFFFFE", 10, 0xFFFFFFFE}, {"a.1f", 10, 0x1F},       {" 00000001.00000002 ", 1, 2},
      {"", 0, 0},                            {"123456789.1", 0, 0},    {"12.", 0, 0},
      {"12-34", 0, 0},                       {"1.2x", 0, 0},           {"(high value)", 0xFFFFFFFF, 0xFFFFFFFF},
  };
  for (auto const& c : cases) {
    DbObject id = StrToObj(c.text);
    EXPECT_EQ(id.classId, c.classId) << c.text;
    EXPECT_EQ(id.instId, c.instId) << c.text;
  }
  EXPECT_TRUE(_isNullDbObject(StrToObj(nullptr)));
  EXPECT_TRUE(_isMaxDbObject(StrToObj(reinterpret_cast<char const*>(1))));
  char buf[32];
  EXPECT_STREQ(ObjToStr(DbObject{10, 0xFFFFFFFE}, buf), "0000000A.FFFFFFFE");
  EXPECT_STREQ(ObjToStr(NULL_DBOBJECT, buf), "");
  EXPECT_STREQ(ObjToStr(MAX_DBOBJECT, buf), "(high value)");
  EXPECT_TRUE(__eq(StrToObj(ObjToStr(DbObject{0x12345678, 0x9ABCDEF0}, buf)), DbObject{0x12345678, 0x9ABCDEF0}));
}

TEST(ObjectIdTest, TextForms) {
  struct Case {
    ObjectId id;
    char const* text;
  } const cases[] = {
      {ObjectId(0x1003, 7), "00001003.00000007"},
      {ObjectId(), ""},
      {kHigh, "(high value)"},
      {ObjectId(0xFFFFFFFFu, 0), "FFFFFFFF.00000000"},
      {ObjectId(0, 0xABCDEF01u), "00000000.ABCDEF01"},
  };
  for (Case const& c : cases) EXPECT_STREQ(toCharPtr(c.id), c.text);
  // From a text: class 0, the integer value as instance.
  EXPECT_EQ(toObjectId(String("42")), ObjectId(0, 42));
  EXPECT_EQ(ObjectId(String("0x1F")), ObjectId(0, 31));
  EXPECT_EQ(ObjectId(String("abc")), ObjectId());
}

TEST(ObjectIdTest, NullRuleIsBothWordsZero) {
  EXPECT_TRUE(ObjectId().isNull());
  EXPECT_TRUE(!ObjectId(0, 0));
  EXPECT_EQ(static_cast<void*>(ObjectId()), nullptr);
  for (ObjectId id : {ObjectId(0, 1), ObjectId(1, 0), kHigh}) {
    EXPECT_FALSE(id.isNull());
    EXPECT_FALSE(!id);
    EXPECT_NE(static_cast<void*>(id), nullptr);
  }
  ObjectId a(3, 4);
  a.setClassId(0);
  EXPECT_FALSE(a.isNull());
  a.setInstId(0);
  EXPECT_TRUE(a.isNull());
}

TEST(ObjectIdTest, OrderHoldsForIdsFarApart) {
  // Sorted ascending: differences of these overflow 32-bit arithmetic.
  std::vector<ObjectId> const sorted = {
      ObjectId(), ObjectId(0, 1), ObjectId(0, 0x7FFFFFFF), ObjectId(0, 0x80000000u),
      ObjectId(0, 0xFFFFFFFFu), ObjectId(1, 0), ObjectId(0x7FFFFFFF, 5), ObjectId(0x80000001u, 0),
      kHigh,
  };
  for (size_t i = 0; i < sorted.size(); ++i) {
    for (size_t j = 0; j < sorted.size(); ++j) {
      int32_t r = cmp(sorted[i], sorted[j]);
      int32_t want = i < j ? -1 : i > j ? 1 : 0;
      EXPECT_EQ(r, want) << i << " " << j;
      EXPECT_EQ(sorted[i] == sorted[j], i == j);
      EXPECT_EQ(sorted[i] != sorted[j], i != j);
    }
  }
}

TEST(ObjectIdTest, StoredForm) {
  char buf[16] = {};
  char* p = buf;
  ObjectId(0x1003, 7).store(p);
  EXPECT_EQ(p, buf + 8);
  EXPECT_EQ(ObjectId::storeLength(), 8);
  unsigned char const want[8] = {0x00, 0x00, 0x10, 0x03, 0x00, 0x00, 0x00, 0x07};
  EXPECT_EQ(std::memcmp(buf, want, 8), 0);
  kHigh.store(p);
  char const* q = buf;
  ObjectId a, b;
  a.load(q);
  b.load(q);
  EXPECT_EQ(q, buf + 16);
  EXPECT_EQ(a, ObjectId(0x1003, 7));
  EXPECT_EQ(b, kHigh);
  EXPECT_EQ(b, ObjectId(0xFFFFFFFFu, 0xFFFFFFFFu));
}

TEST(ObjectIdTest, FileFormAndShortRead) {
  zftest::TempDir dir;
  std::string path = dir.file("ids");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(ObjectId(0x80000000u, 0x1234).store(f));
  std::fputc(0x01, f);  // a second id cut short
  std::fclose(f);
  EXPECT_EQ(zftest::readFile(path).substr(0, 8), std::string("\x80\0\0\0\0\0\x12\x34", 8));
  f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ObjectId id;
  EXPECT_TRUE(id.load(f));
  EXPECT_EQ(id, ObjectId(0x80000000u, 0x1234));
  EXPECT_FALSE(id.load(f));
  EXPECT_TRUE(id.isNull());
  EXPECT_TRUE(ldFailed(f));
  std::fclose(f);
}

TEST(ObjectIdTest, RoundTripOverAConnection) {
  std::vector<ObjectId> const ids = {ObjectId(), ObjectId(0x1003, 7), kHigh,
                                     ObjectId(0x80000000u, 1), ObjectId(0, 0xFFFFFFFEu)};
  LoopConnection c(3);  // parts of 3 words: ids straddle parts
  for (ObjectId const& id : ids) c << id;
  std::vector<uint32_t> const words = c.words();
  ASSERT_EQ(words.size(), 2 * ids.size());
  EXPECT_EQ(words[2], 0x1003u);  // class id first
  EXPECT_EQ(words[3], 7u);
  c.rewind();
  for (ObjectId const& id : ids) {
    ObjectId got(9, 9);
    c >> got;
    EXPECT_EQ(got, id);
  }
  EXPECT_EQ(c.wordsLeft(), 0);
  EXPECT_FALSE(c.bad());
}

// A persistent object of the tests.
struct Obj : PObject {
  Obj(uint32_t c, uint32_t i, bool temp = false) : PObject(c, i, temp) {}
};

TEST(PObjectTest, RegistryFindsRegisteredObjectsOnly) {
  EXPECT_EQ(PObject::find(ObjectId(77, 1)), nullptr);
  {
    Obj a(77, 1);
    Obj b(77, 2);
    Obj t1(77, 3, true), t2(77, 3, true);  // temporaries may share an id
    ASSERT_NE(PObject::hashtab, nullptr);
    EXPECT_EQ(PObject::hashtab->modulo(), 97);
    EXPECT_EQ(PObject::find(ObjectId(77, 1)), &a);
    EXPECT_EQ(*ObjectId(77, 2), &b);
    EXPECT_EQ(ObjectId(77, 2).operator->(), &b);
    EXPECT_EQ(PObject::find(ObjectId(77, 3)), nullptr);
    EXPECT_EQ(a.oid(), ObjectId(77, 1));
    EXPECT_EQ(a.classId(), 77u);
    EXPECT_EQ(b.instId(), 2u);
    // Re-keying moves the registration.
    a.setOid(ObjectId(78, 9));
    EXPECT_EQ(PObject::find(ObjectId(77, 1)), nullptr);
    EXPECT_EQ(PObject::find(ObjectId(78, 9)), &a);
    // A temporary keeps its id.
    t1.setOid(ObjectId(78, 10));
    EXPECT_EQ(t1.oid(), ObjectId(77, 3));
    EXPECT_EQ(PObject::find(ObjectId(78, 10)), nullptr);
  }
  EXPECT_EQ(PObject::find(ObjectId(78, 9)), nullptr);
  EXPECT_EQ(PObject::find(ObjectId(77, 2)), nullptr);
  EXPECT_EQ(PObject::hashtab->entries(), 0);
}

TEST(PObjectTest, ManyObjectsAcrossBuckets) {
  std::vector<std::unique_ptr<Obj>> objs;
  for (uint32_t i = 0; i < 500; ++i) objs.push_back(std::make_unique<Obj>(i % 7, i * 0x10001u));
  for (uint32_t i = 0; i < 500; ++i) EXPECT_EQ(PObject::find(ObjectId(i % 7, i * 0x10001u)), objs[i].get());
  objs.erase(objs.begin(), objs.begin() + 250);
  EXPECT_EQ(PObject::find(ObjectId(0, 0)), nullptr);
  EXPECT_EQ(PObject::find(ObjectId(499 % 7, 499 * 0x10001u)), objs.back().get());
}

TEST(PObjectTest, DuplicateIdFailsTheAssertion) {
  // After start-up a failed assertion ends the process.
  zftest::RunResult r = zftest::runInChild([] {
    zftest::startUpOnce("pobjtest");
    Obj a(5, 5);
    Obj b(5, 5);
    return 0;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Assertion failed (hashtab->find(this) == (0))"), std::string::npos) << r.err;
  // When the report returns (no fatal handler installed, as before start-up),
  // the first object stays registered and outlives the newcomer's
  // destruction. A child without the handler sees it whatever this process
  // has started.
  r = zftest::runInChild([] {
    fatalErrorHandler(nullptr);
    Obj a(6, 6);
    { Obj b(6, 6); }
    ZF_CHILD_CHECK(PObject::find(ObjectId(6, 6)) == &a);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(PObjectTest, ReKeyingAnUnregisteredObjectChangesNothing) {
  // Without handlers: the loser of a clash is unregistered; re-keying it
  // reports and changes nothing.
  zftest::RunResult r = zftest::runInChild([] {
    fatalErrorHandler(nullptr);
    Obj a(8, 2);
    Obj b(8, 2);
    b.setOid(ObjectId(8, 3));
    ZF_CHILD_CHECK(b.oid() == ObjectId(8, 2));
    ZF_CHILD_CHECK(PObject::find(ObjectId(8, 3)) == nullptr);
    ZF_CHILD_CHECK(PObject::find(ObjectId(8, 2)) == &a);
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
