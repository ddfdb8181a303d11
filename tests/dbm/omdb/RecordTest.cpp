// Records through a live server: every value round-trips through add, get,
// find, update, put, delete and add-with-stamps; the wire forms of stamps,
// read flags and object ids; locks held by another process.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <zfound/LoopConnection.h>
#include <zfound/Num.h>

#include <zeph/Records.h>

#include "Omdb.h"
#include "OmdbRecords.h"
#include "RecordSupport.h"

namespace {

using namespace omtest;

// ---- wire forms (no server) -----------------------------------------------------------

TEST(OmdbWire, StampsTravelAsSecondsWithFloorDivisionAndSaturation) {
  struct Case {
    time_stamp ts;
    bool nullAsZero;
    int32_t seconds;
  };
  Case const cases[] = {
      {{0, -32768, 0, 0}, false, INT32_MIN},         // null
      {{43200, 32766, 0, 0}, false, INT32_MAX},      // highest
      {{1, 0, 0, 0}, false, 0},                      // day 0, 00:00:00
      {{21601, -1, 0, 0}, false, -43200},            // noon of the day before day 0
      {{1, 100, 0, 0}, true, 8640000},
      {{0, 100, 0, 0}, true, 8640000},               // a null time counts as 0 when allowed
      {{0, 100, 0, 0}, false, INT32_MIN},            // else the stamp is null
      {{1, -32767, 0, 0}, false, INT32_MIN},         // below the 32-bit range: saturates
      {{43199, 32765, 0, 0}, false, INT32_MAX},      // above it: saturates
  };
  for (Case const& c : cases)
    EXPECT_EQ(omdb::stampSeconds(c.ts, c.nullAsZero), c.seconds) << c.ts.date << " " << c.ts.time;

  struct Back {
    int32_t seconds;
    int32_t time, date;
  };
  Back const back[] = {{INT32_MIN, 0, -32768}, {INT32_MAX, 43200, 32766}, {-43200, 21601, -1},
                       {-1, 43200, -1},        {86399, 43200, 0},         {-2000000000, 36801, -23149}};
  for (Back const& b : back) {
    time_stamp ts = omdb::stampFromWire(b.seconds, int32_t(0x00070009));
    EXPECT_EQ(ts.time, b.time) << b.seconds;
    EXPECT_EQ(ts.date, b.date) << b.seconds;
    EXPECT_EQ(ts.spare, 7);
    EXPECT_EQ(ts.user, 9);
  }
}

TEST(OmdbWire, ReadModesAndLockFlagsBecomeServerModes) {
  struct Case {
    int32_t mode, flags, server;
  };
  Case const cases[] = {
      {1, 0, 0x80},           {2, 0, 0x100},     {3, 0, 0x180},          {8, 0, 0x400},
      {16, 0, 0x800},         {0x21, 0, 0x1080}, {0x41, 0, 0x80},        {1, 1, 0x89},
      {1, 3, 0x8b},           {1, 0x4001, 0x85}, {1, 0x2000, 0x2089},    {1, 4, 0xa0},
      {1, 0x100, 0xc0},       {0, 1, 0x9},
  };
  for (Case const& c : cases)
    EXPECT_EQ(omdb::convertFlags(c.mode, c.flags), c.server) << c.mode << "/" << c.flags;
}

TEST(OmdbWire, ObjectIdsAreTwoBigEndianWords) {
  uint32_t id[2] = {0x01020304u, 0xa0b0c0d0u};
  unsigned char b[8] = {};
  ASSERT_EQ(stDbObj(b, id), 0);
  unsigned char const want[8] = {1, 2, 3, 4, 0xa0, 0xb0, 0xc0, 0xd0};
  EXPECT_EQ(std::memcmp(b, want, 8), 0);
  uint32_t back[2] = {};
  ASSERT_EQ(ldDbObj(b, back), 0);
  EXPECT_EQ(back[0], id[0]);
  EXPECT_EQ(back[1], id[1]);
}

// ---- against a server ----------------------------------------------------------------

using Records = RecordFixture;

TEST_F(Records, EveryValueRoundTripsThroughAddGetFindUpdatePutAndDelete) {
  // An ordinary record, one of nulls and one of highest values.
  fill(1, "widget", 12345, 15000, 1801, 7, 7, 9);
  ASSERT_EQ(AddRecord(table_), 0);
  fill(2, "", INT32_MIN, -32768, 0, INT32_MIN, INT32_MIN, INT32_MIN);
  ASSERT_EQ(AddRecord(table_), 0);
  fill(3, "zzzz", INT32_MAX, 32766, 43200, INT32_MAX, 0, -5);
  ASSERT_EQ(AddRecord(table_), 0);
  EXPECT_EQ(TabNRecords(table_), 3);

  struct Want {
    int32_t id;
    char const* name;
    int32_t price, day, at, v0, v1, v2;
  };
  Want const want[] = {{1, "widget", 12345, 15000, 1801, 7, 7, 9},
                       {2, "", INT32_MIN, -32768, 0, INT32_MIN, INT32_MIN, INT32_MIN},
                       {3, "zzzz", INT32_MAX, 32766, 43200, INT32_MAX, 0, -5}};
  for (Want const& w : want) {
    int32_t r = readId(w.id);
    ASSERT_GT(r, 0) << w.id;
    EXPECT_EQ(recno(), r);
    EXPECT_EQ(getText(fName), w.name);
    EXPECT_EQ(getLong(fPrice), w.price);
    EXPECT_EQ(getShort(fDay), w.day);
    EXPECT_EQ(uint16_t(getShort(fAt)), w.at);
    EXPECT_EQ(getLong(fVals, 0), w.v0);
    EXPECT_EQ(getLong(fVals, 1), w.v1);
    EXPECT_EQ(getLong(fVals, 2), w.v2);
    // The stamp fields come from the record's prefix.
    EXPECT_NE(getShort(fCdate), -32768);
    EXPECT_EQ(getShort(fCdate), CTimeStamp(table_).date);
    EXPECT_EQ(getShort(fMdate), MTimeStamp(table_).date);
    // The record number follows the record, big-endian.
    unsigned char const* n = reinterpret_cast<unsigned char const*>(buf_ + tab()->d.len);
    EXPECT_EQ((n[0] << 24) | (n[1] << 16) | (n[2] << 8) | n[3], r);
  }

  // A raw reader sees the number itself: 123.45 where the buffer holds 12345.
  {
    Body key;
    key.w(0).w(0x80).w(0).w(0).w(0).w(1);
    zftest::RawReply r = raw().request(rawTable_, DBM_GETRECORD, key.words());
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.status, 0);
    LoopConnection in(4096);
    in.feed(r.body);
    int32_t inst = 0, w = 0, id = 0;
    String name;
    Num price;
    in >> inst >> w >> w >> w >> w >> id >> name >> price;
    EXPECT_EQ(id, 1);
    EXPECT_STREQ(toCharPtr(price), "123.45");
  }

  // Find: the key fields and the number.
  InitRecord(table_);
  setLong(fId, 3);
  int32_t r3 = FindRecord(table_, 1, 0);
  EXPECT_GT(r3, 0);
  EXPECT_EQ(recno(), r3);
  setLong(fId, 9);
  EXPECT_EQ(FindRecord(table_, 1, 0), -1);

  // Field updates: price + 1.50 (buffer form 150), a name, an element.
  ASSERT_GT(readId(1), 0);
  ASSERT_EQ(UpdateRecord(table_, fPrice, 0, 150, fName, 4, "gadget", fVals, 4, 2, 2, 11, 0), 0);
  ASSERT_GT(readId(1), 0);
  EXPECT_EQ(getLong(fPrice), 12495);
  EXPECT_EQ(getText(fName), "gadget");
  EXPECT_EQ(getLong(fVals, 2), 11);
  EXPECT_EQ(getLong(fVals, 0), 7);

  // Put replaces by the primary key.
  setText(fName, "gizmo");
  setShort(fDay, 16000);
  ASSERT_EQ(PutRecord(table_), 0);
  ASSERT_GT(readId(1), 0);
  EXPECT_EQ(getText(fName), "gizmo");
  EXPECT_EQ(getShort(fDay), 16000);

  // Delete; a missing key gives -1.
  ASSERT_EQ(DelRecord(table_), 0);
  EXPECT_EQ(readId(1), -1);
  EXPECT_EQ(readId(42), -1);
  EXPECT_EQ(TabNRecords(table_), 2);
}

TEST_F(Records, AddWithStampsKeepsStampsBeforeDayZero) {
  fill(5, "old", 100, 1, 1, 0, 0, 0);
  time_stamp created{21601, -1, 0, 0};  // noon of the day before day 0
  time_stamp modified{1, 10, 0, 0};
  ASSERT_EQ(AddRecordTS(table_, &created, &modified), 0);
  ASSERT_GT(readId(5), 0);
  time_stamp c = CTimeStamp(table_), m = MTimeStamp(table_);
  EXPECT_EQ(c.date, -1);
  EXPECT_EQ(c.time, 21601);
  EXPECT_EQ(m.date, 10);
  EXPECT_EQ(m.time, 1);
  EXPECT_EQ(getShort(fCdate), -1);
  EXPECT_EQ(getShort(fMdate), 10);
}

TEST_F(Records, BadUpdatesAndLocalOnlyCallsAreRefusedWithoutSending) {
  fill(1, "a", 1, 1, 1, 1, 1, 1);
  ASSERT_EQ(AddRecord(table_), 0);
  ASSERT_GT(readId(1), 0);
  // Refused with a report, nothing sent.
  EXPECT_EQ(sent([&] {
              EXPECT_EQ(UpdateRecord(table_, fPrice, 6, 1, 0), -1);   // no operation 6
              EXPECT_EQ(UpdateRecord(table_, fPrice, -1, 1, 0), -1);  // nor -1
              EXPECT_EQ(UpdateRecord(table_, 99, 0, 1, 0), -1);       // no field 99
              EXPECT_EQ(UpdateRecord(table_, fPrice, 5, 42, 0), -1);  // no field 42 to copy
              EXPECT_EQ(SaneTrans(), -1);
              EXPECT_EQ(SetDownLoadTS(table_, nullptr), -1);
              EXPECT_EQ(GetDownLoadTS(table_).date, -32768);
              EXPECT_EQ(GetRecord(table_, 0, 0, 1), -1);  // records are read by key only
            }),
            0);
  ASSERT_GT(readId(1), 0);
  EXPECT_EQ(getLong(fPrice), 1);

  // A not-null field left null: the record goes to the refusal handler,
  // not to the server.
  static std::string refused;
  DbHandler old = SetDbHandler([](int32_t, char const* key, char const* detail) {
    refused = std::string(key) + ": " + detail;
  });
  fill(2, "b", 2, 1, 1, 1, 1, 1);
  setLong(fCode, INT32_MIN);
  EXPECT_EQ(sent([&] { EXPECT_EQ(AddRecord(table_), -1); }), 0);
  EXPECT_EQ(sent([&] { EXPECT_EQ(PutRecord(table_), -1); }), 0);
  SetDbHandler(old);
  EXPECT_NE(refused.find("IO_REC_REFUSED"), std::string::npos) << refused;
  EXPECT_NE(refused.find("code"), std::string::npos) << refused;
  EXPECT_EQ(readId(2), -1);
}

// A number operand of UpdateRecord comes in the buffer's form of the
// field: for a short field -32768 is null and 32767 the highest, which the
// server must receive as such (as numbers they would not fit 4 digits).
TEST_F(Records, UpdateOperandsOfSmallNumbersKeepNullAndHighest) {
  fill(1, "a", 1, 1, 1, 1, 1, 1);
  setShort(fSmall, 5);
  ASSERT_EQ(AddRecord(table_), 0);
  struct Case {
    int32_t operand, stored;
  } const cases[] = {{-32768, -32768}, {7, 7}, {32767, 32767}, {-99, -99}};
  for (Case const& c : cases) {
    ASSERT_GT(readId(1), 0);
    ASSERT_EQ(UpdateRecord(table_, fSmall, 4, c.operand, 0), 0) << c.operand;
    ASSERT_GT(readId(1), 0);
    EXPECT_EQ(getShort(fSmall), c.stored) << c.operand;
  }
}

// An object field takes any id; one naming another table than the field
// refers to is reported (and stored all the same), the lowest and the
// highest id never are.
TEST_F(Records, ObjectFieldsReportIdsOfOtherTables) {
  static std::vector<std::string> reports;
  reports.clear();
  ZephConvHandler old = _SetConvHandler([](char const* key, char const*) { reports.push_back(key); });
  om_table* ot = omOf(tab());
  ASSERT_NE(ot, nullptr);
  ot->fields[fObj - 1].refClass = uint32_t(ot->number);  // the field refers to its own table
  ot->fields[fObj - 1].refInst = 0;
  uint32_t const own = uint32_t(ot->number);
  struct Case {
    uint32_t id[2];
    bool reported;
  } const cases[] = {{{own, 5}, false},
                     {{own + 1, 5}, true},
                     {{0, 0}, false},
                     {{0xffffffffu, 0xffffffffu}, false}};
  fill(1, "a", 1, 1, 1, 1, 1, 1);
  for (Case const& c : cases) {
    reports.clear();
    EXPECT_EQ(SetObjFld(buf_, c.id, table_ | fObj, 0), 0);
    EXPECT_EQ(reports, c.reported ? std::vector<std::string>{"IO_DIFF_DBOBJECT"} : std::vector<std::string>{})
        << c.id[0];
    uint32_t back[2] = {};
    ASSERT_EQ(ObjFld(table_ | fObj, 0, back), 0);
    EXPECT_EQ(back[0], c.id[0]);
    EXPECT_EQ(back[1], c.id[1]);
  }
  // The id travels to the server and back.
  ASSERT_EQ(SetObjFld(buf_, cases[1].id, table_ | fObj, 0), 0);
  ASSERT_EQ(AddRecord(table_), 0);
  ASSERT_GT(readId(1), 0);
  uint32_t back[2] = {};
  ASSERT_EQ(ObjFld(table_ | fObj, 0, back), 0);
  EXPECT_EQ(back[0], own + 1);
  EXPECT_EQ(back[1], 5u);
  // Another field type is no object field.
  reports.clear();
  EXPECT_EQ(ObjFld(table_ | fId, 0, back), -1);
  EXPECT_EQ(SetObjFld(buf_, back, table_ | fId, 0), -1);
  EXPECT_EQ(reports, (std::vector<std::string>{"IO_NOT_OBJECT", "IO_NOT_OBJECT"}));
  _SetConvHandler(old);
}

TEST_F(Records, ARecordLockedByAnotherClientGivesMinusTwoWithoutWaiting) {
  fill(1, "a", 1, 1, 1, 1, 1, 1);
  ASSERT_EQ(AddRecord(table_), 0);
  // Another client (its own process id on the server) takes record 1.
  zftest::RawReply r = raw().request(rawTable_, DBM_GETRECORD, Body().w(0).w(0x80 | 1 | 8).w(0).w(0).w(0).w(1).words());
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.status, 0) << server().log();
  EXPECT_EQ(readId(1, 3), -2);  // lock, no wait
  EXPECT_GT(readId(1), 0);      // a plain read is served
  ASSERT_TRUE(raw().send(rawTable_, DBM_FREERECORD, Body().w(0).w(0x80).w(0).w(1).words()));
  EXPECT_GT(readId(1, 3), 0);
  FreeRecord(table_, 1, 0);
}

// A table related to another through that table's index reads the related
// record with each of its own; a missing one leaves an initialised record;
// relations in a circle end after one step.
TEST_F(Records, ATableWithARelationReadsTheRelatedRecord) {
  int32_t rawNotes = makeTable(rawSchema_, "notes", {{"id", kInt}, {"label", kText, 10}});
  ASSERT_GT(rawNotes, 0);
  ASSERT_TRUE(makeIndex(rawNotes, "pk", {0}));
  ASSERT_TRUE(makeIndex(rawNotes, "bylabel", {1}, 1));
  CloseSchema(schema_);
  schema_ = OpenSchema(path("sales").c_str(), 0);
  ASSERT_EQ(schema_, 0x10000);
  table_ = FindDbTable(schema_, "items");
  int32_t notes = FindDbTable(schema_, "notes");
  ASSERT_GT(table_, 0);
  ASSERT_GT(notes, 0);
  ASSERT_NE(_GetTabPtr(notes), nullptr);
  ASSERT_NE(_GetTabPtr(table_), nullptr);
  buf_ = _GetTabBuff(table_);
  int32_t noteId = FindDbField(notes, "id"), label = FindDbField(notes, "label");
  ASSERT_GT(label, 0);
  for (int32_t id = 1; id <= 2; ++id) {
    fill(id, "x", 1, 1, 1, 1, 1, 1);
    ASSERT_EQ(AddRecord(table_), 0);
  }
  InitRecord(notes);
  stlong(1, _GetFldBuff(noteId, 0));
  std::strcpy(_GetFldBuff(label, 0), "first");
  ASSERT_EQ(AddRecord(notes), 0);

  EXPECT_EQ(_SetRel(table_, notes | 1), -1) << "items has no field label";
  ASSERT_EQ(_SetRel(table_, notes), 0);
  InitRecord(notes);
  int32_t r = 0;
  EXPECT_EQ(sent([&] { r = readId(1); }), 2);
  EXPECT_GT(r, 0);
  EXPECT_STREQ(_GetFldBuff(label, 0), "first");
  EXPECT_EQ(ldlong(_GetFldBuff(noteId, 0)), 1);
  std::strcpy(_GetFldBuff(label, 0), "stale");
  EXPECT_GT(readId(2), 0) << "the item is read without its note";
  EXPECT_STREQ(_GetFldBuff(label, 0), "");

  // Notes related back to items: one step each way, not a loop.
  ASSERT_EQ(_SetRel(notes, table_), 0);
  EXPECT_EQ(sent([&] { r = readId(1); }), 2);
  EXPECT_STREQ(_GetFldBuff(label, 0), "first");
  ASSERT_EQ(_SetRel(table_, 0), 0);
  EXPECT_EQ(sent([&] { r = readId(1); }), 1);
}

}  // namespace
