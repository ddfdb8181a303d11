// The database interface as a program sees it, the same for both
// libraries: schemas, tables with every field type, unique and non-unique
// indexes, records, cursors, committed and rolled-back transactions, and
// refusals with their _io_errno_.
#include <algorithm>
#include <numeric>

#include "InterfaceFixture.h"

#include <zfound/Message.h>

using namespace ifacetest;

namespace {

TEST_F(Interface, IdentityAndSchemaHandles) {
  EXPECT_EQ(dbmsType(), kLib.dbmsType);
  EXPECT_EQ(CurrentSchema(), kSchema);
  EXPECT_EQ(FindSchema("shop"), kSchema);
  EXPECT_EQ(FindSchema(nullptr), kSchema);
  EXPECT_EQ(FindSchema("other"), -1);
  s_schema* sp = _GetSchPtr(kSchema);
  ASSERT_NE(sp, nullptr);
  EXPECT_STREQ(sp->d.name, "shop");
  EXPECT_EQ(FindDbIndex(item_, "bycode"), item_ | 0);
  EXPECT_EQ(FindDbIndex(item_, "byqty"), item_ | 1);
  EXPECT_EQ(FindDbTable(kSchema, "nosuch"), -1);
  // Closing and opening again by bare name gives the same tables.
  ASSERT_EQ(CloseSchema(kSchema), 0);
  EXPECT_EQ(CurrentSchema(), -1);
  ASSERT_EQ(OpenSchema(schemaPath("shop").c_str(), 0), kSchema);
  EXPECT_EQ(FindDbTable(kSchema, "item"), item_);
  // A field is found by name and by handle before anything else touched
  // the freshly opened table.
  EXPECT_EQ(FindDbField(item_, "qty"), item_ | 3);
  s_field* qty = _GetFldPtr(item_ | 3);
  ASSERT_NE(qty, nullptr);
  EXPECT_STREQ(qty->d.name, "qty");
}

TEST_F(Interface, LockSchemaAsTheLibraryDoes) {
  if (kLib.lockSchemaUsesMode) {
    EXPECT_EQ(LockSchema(kSchema, 1), 0);
    EXPECT_EQ(FreeSchema(kSchema), 0);
  } else {
    EXPECT_EQ(LockSchema(kSchema, 3), 0);
  }
}

// Every field type: its storage type, its place in the record, and a value
// set as text that a fresh read gives back.
TEST_F(Interface, EveryFieldTypeKeepsItsValue) {
  s_table* tp = _GetTabPtr(item_);
  int32_t offset = kLib.prefix;
  for (FieldDef const& f : itemFields()) {
    SCOPED_TRACE(f.name);
    s_field* fp = _GetFldPtr(field(item_, f.name));
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(fp->d.f_itype, f.itype);
    EXPECT_EQ(CalcItype(f.type, f.length), f.itype);
    EXPECT_EQ(fp->d.offset, offset);
    static int32_t const elem[] = {0, 1, 2, 4, 8, 2, 2, 8, 16, 12, 8};
    offset += f.itype == 0 ? f.length + 1 : elem[f.itype];
  }
  EXPECT_EQ(tp->d.len, offset);
  EXPECT_EQ(tp->d.size, kLib.newTableSize);

  InitRecord(item_);
  for (FieldDef const& f : itemFields()) put(item_, f.name, f.value);
  ASSERT_TRUE(added(AddRecord(item_)));
  ASSERT_GT(find(1), 0);
  for (FieldDef const& f : itemFields()) EXPECT_EQ(get(item_, f.name), f.value) << f.name;
}

// Unique index 0 refuses a second record of a key; the non-unique index
// keeps duplicates and finds the first of them.
TEST_F(Interface, UniqueAndNonUniqueIndexes) {
  struct Row {
    int32_t code, qty;
  } rows[] = {{5, 2}, {3, 1}, {9, 2}, {1, 3}, {7, 2}};
  for (Row r : rows) {
    item(r.code, r.qty);
    ASSERT_TRUE(added(AddRecord(item_))) << r.code;
  }
  if (kLib.writesGiveNumber) {
    item(3, 8);
    EXPECT_EQ(AddRecord(item_), -1);
    EXPECT_EQ(get(item_, "qty"), "8");  // the buffer is left as it was
  }
  EXPECT_EQ(TabNRecords(item_), 5);
  ASSERT_GT(find(3), 0);
  EXPECT_EQ(get(item_, "qty"), "1");

  InitRecord(item_);
  put(item_, "qty", "2");
  ASSERT_GT(GetRecord(item_ | 1, 1, 0, 0), 0);
  EXPECT_EQ(get(item_, "code"), "5");  // first of the duplicates, by record number
  EXPECT_EQ(walk(0), (std::vector<int32_t>{1, 3, 5, 7, 9}));
  EXPECT_EQ(walk(1), (std::vector<int32_t>{3, 5, 9, 7, 1}));
  EXPECT_EQ(walk(0, false), (std::vector<int32_t>{9, 7, 5, 3, 1}));
}

// Put replaces by key, Del removes by key, Get by number and by key.
TEST_F(Interface, RecordsAddPutGetDelete) {
  item(10, 1, "first");
  ASSERT_TRUE(added(AddRecord(item_)));
  int32_t n = find(10);
  ASSERT_GT(n, 0);
  item(10, 4, "second");
  EXPECT_EQ(PutRecord(item_), wrote(n));
  if (kLib.getByNumber) {
    InitRecord(item_);
    EXPECT_EQ(GetRecord(item_, 0, 0, n), n);
  } else {
    EXPECT_EQ(find(10), n);
  }
  EXPECT_EQ(get(item_, "name"), "second");
  EXPECT_EQ(get(item_, "qty"), "4");
  item(11, 1);
  EXPECT_TRUE(added(PutRecord(item_)));  // a new key adds
  EXPECT_EQ(TabNRecords(item_), 2);
  item(10, 0);
  EXPECT_EQ(DelRecord(item_), wrote(n));
  EXPECT_EQ(find(10), -1);
  EXPECT_GT(find(11), 0);
  if (kLib.getByNumber) {
    EXPECT_EQ(GetRecord(item_, 0, 0, n), -1);
  }
  EXPECT_EQ(TabNRecords(item_), 1);
  // The other table is a table of its own.
  InitRecord(note_);
  put(note_, "id", "10");
  put(note_, "text", "a note");
  EXPECT_TRUE(added(AddRecord(note_)));
  EXPECT_EQ(TabNRecords(note_), 1);
  EXPECT_EQ(TabNRecords(item_), 1);
}

// Cursors over enough records for several blocks, with a range, both ways,
// and counted.
TEST_F(Interface, CursorsWalkRangesBothWays) {
  std::vector<int32_t> codes(400);
  std::iota(codes.begin(), codes.end(), 1);
  std::vector<int32_t> shuffled = codes;
  std::reverse(shuffled.begin(), shuffled.end());
  std::rotate(shuffled.begin(), shuffled.begin() + 150, shuffled.end());
  BeginTransaction();
  for (int32_t c : shuffled) {
    item(c, c % 7);
    ASSERT_TRUE(added(AddRecord(item_)));
  }
  ASSERT_EQ(EndTransaction(), 1);
  EXPECT_EQ(walk(0), codes);
  std::vector<int32_t> back = codes;
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(walk(0, false), back);

  struct Case {
    int32_t low, high, which;  // which: SetCursorFromFld's bits for the ends
    int32_t first, last;
  } cases[] = {
      {100, 200, 1 | 2, 100, 200},
      {100, 200, 1 | 2 | 4 | 8, 101, 199},
      {390, 0, 1, 390, 400},
      {0, 5, 2, 1, 5},
  };
  for (Case k : cases) {
    SCOPED_TRACE(k.low);
    int32_t c = CreateCursor(item_, 0);
    ASSERT_GT(c, 0);
    if (k.which & 1) {
      item(k.low, 0);
      ASSERT_EQ(SetCursorFromFld(c, 1 | (k.which & 4)), 0);
    }
    if (k.which & 2) {
      item(k.high, 0);
      ASSERT_EQ(SetCursorFromFld(c, 2 | (k.which & 8)), 0);
    }
    std::vector<int32_t> got;
    while (FetchCursor(c) > 0) got.push_back(std::stoi(get(item_, "code")));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), k.first);
    EXPECT_EQ(got.back(), k.last);
    EXPECT_EQ(int32_t(got.size()), k.last - k.first + 1);
    EXPECT_EQ(CountCursor(c), k.last - k.first + 1);
    DeleteCursor(c);
  }
  // Non-unique index: every record of one value, in record-number order.
  InitRecord(item_);
  put(item_, "qty", "3");
  int32_t c = CreateCursor(item_ | 1, 0);
  ASSERT_GT(c, 0);
  ASSERT_EQ(SetCursorFromFld(c, 1 | 2), 0);
  int32_t seen = 0;
  while (FetchCursor(c) > 0) {
    EXPECT_EQ(get(item_, "qty"), "3");
    ++seen;
  }
  EXPECT_EQ(seen, int32_t(std::count_if(codes.begin(), codes.end(), [](int32_t v) { return v % 7 == 3; })));
  DeleteCursor(c);
}

// A committed transaction stays; one marked for rollback, or rolled back,
// leaves the tables as they were before it.
TEST_F(Interface, TransactionsCommitAndRollBack) {
  item(1, 1, "kept");
  ASSERT_TRUE(added(AddRecord(item_)));
  BeginTransaction();
  item(2, 1);
  ASSERT_TRUE(added(AddRecord(item_)));
  item(1, 5, "changed");
  ASSERT_TRUE(added(PutRecord(item_)));
  EXPECT_TRUE(InTransaction());
  EXPECT_EQ(EndTransaction(), 1);
  EXPECT_GT(find(2), 0);
  ASSERT_GT(find(1), 0);
  EXPECT_EQ(get(item_, "name"), "changed");

  struct Case {
    char const* how;
    bool corrupt;  // CorruptTrans then EndTransaction, else RollBack
  } cases[] = {{"CorruptTrans", true}, {"RollBack", false}};
  for (Case k : cases) {
    SCOPED_TRACE(k.how);
    // Mode 0: the end of a transaction that did not commit is reported as
    // a warning (mode 4 makes it an error, which ends the program).
    BeginTrans(0);
    item(3, 1);
    ASSERT_TRUE(added(AddRecord(item_)));
    item(1, 9, "lost");
    ASSERT_TRUE(added(PutRecord(item_)));
    item(2, 0);
    ASSERT_TRUE(added(DelRecord(item_)));
    int32_t rolled = 0;
    shown().clear();
    MsgHandler old = displayErrorHandler(recordWarning);
    if (k.corrupt) {
      CorruptTrans();
      EXPECT_EQ(EndTransaction(), 0);
    } else {
      rolled = RollBack();
      EndTransaction();
    }
    displayErrorHandler(old);
    EXPECT_EQ(rolled, 0);
    EXPECT_EQ(find(3), -1);
    EXPECT_GT(find(2), 0);
    ASSERT_GT(find(1), 0);
    EXPECT_EQ(get(item_, "name"), "changed");
    EXPECT_EQ(get(item_, "qty"), "5");
    EXPECT_EQ(TabNRecords(item_), 2);
  }
}

// Refusals: -1 and the code in _io_errno_, nothing changed.
TEST_F(Interface, RefusalsAndTheirCodes) {
  struct Case {
    char const* what;
    int32_t (*call)(int32_t item);
    int32_t result, code;
  } cases[] = {
      {"table name taken", [](int32_t) { return CreateTable(kSchema, "item", "", 0, 0, 1); }, -1, 7},
      {"field name taken",
       [](int32_t) {
         int32_t t = CreateTable(kSchema, "fresh", "", 0, 0, 2);
         if (t < 0) return -100;
         AddTabField(t, "a", "", 0, 0, 0, 9, 0, 0, nullptr, nullptr);
         return AddTabField(t, "a", "", 0, 0, 0, 9, 0, 0, nullptr, nullptr);
       },
       -1, 7},
      {"index name taken", [](int32_t item) { return CreateIndex(item, "byqty", 0, 0); }, -1, 7},
  };
  for (Case k : cases) {
    SCOPED_TRACE(k.what);
    _io_errno_ = 0;
    EXPECT_EQ(k.call(item_), k.result);
    EXPECT_EQ(_io_errno_, k.code);
  }
  for (char const* bad : {"", ".", "..", "a/b"}) {
    SCOPED_TRACE(bad);
    if (kLib.namesAreFiles || *bad == 0) {
      EXPECT_EQ(CreateTable(kSchema, bad, "", 0, 0, 1), -1);
    }
    EXPECT_EQ(CreateSchema(schemaPath(bad).c_str(), ""), -1);
  }
  EXPECT_EQ(OpenSchema(schemaPath("nosuch").c_str(), 0x10), -1);
  EXPECT_EQ(FindDbTable(kSchema, "item"), item_);
  EXPECT_EQ(TabNRecords(item_), 0);
}

TEST_F(Interface, TableEquivalence) {
  if (!kLib.tabEquiv) GTEST_SKIP() << "GetTabEquiv does no work in this library";
  uint32_t* eq = GetTabEquiv(item_, item_);
  ASSERT_NE(eq, nullptr);
  for (size_t i = 0; i < itemFields().size(); ++i) {
    SCOPED_TRACE(itemFields()[i].name);
    EXPECT_EQ(eq[i] & 0x1000000u, 0x1000000u);  // identical
    EXPECT_EQ(eq[i] & 0xe0000000u, 0u);
  }
  def_Free(eq, __FILE__, __LINE__);
}

}  // namespace
