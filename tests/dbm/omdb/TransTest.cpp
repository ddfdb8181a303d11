// The program's one transaction over two live servers: a write outside a
// transaction commits alone, a read outside one begins nothing, a read on
// one server and a write on the other commit together, and a write the
// second server refuses rolls back both.
#include <gtest/gtest.h>

#include <zfound/DbConnection.h>
#include <zfound/Message.h>

#include <sys/stat.h>

#include "RecordSupport.h"

namespace {

using namespace omtest;

class Trans : public RecordFixture {
protected:
  void SetUp() override {
    RecordFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A second server in the same directory, with a table "notes".
    b_ = std::make_unique<zftest::TestServer>(server().dir(), "omsrvb", journalKeys("jb"));
    ASSERT_TRUE(b_->start()) << b_->log();
    auto rb = std::make_unique<zftest::RawClient>(b_->serverId());
    ASSERT_EQ(rb->connect().status, 0) << b_->log();
    std::swap(raw_, rb);
    int32_t s = makeSchema("memo");
    rawNotes_ = s > 0 ? makeTable(s, "notes", {{"id", kInt}, {"text", kText, 10}}) : 0;
    bool ix = rawNotes_ > 0 && makeIndex(rawNotes_, "pk", {0});
    std::swap(raw_, rb);
    rawB_ = std::move(rb);
    ASSERT_TRUE(ix) << b_->log();
    memo_ = OpenSchema("omsrvb/memo", 0);
    ASSERT_EQ(memo_, 0x20000) << b_->log();
    notes_ = FindDbTable(memo_, "notes");
    ASSERT_GT(notes_, 0);
    ASSERT_NE(_GetTabPtr(notes_), nullptr);  // attached
  }

  void TearDown() override {
    CloseAllSchemas();
    rawB_.reset();
    if (b_) b_->stop();
    RecordFixture::TearDown();
  }

  // Both servers journal, so that an abort undoes what was written.
  std::string journalKeys(std::string const& sub) const {
    std::string d = journals_.file(sub);
    ::mkdir(d.c_str(), 0700);
    return "JournalDir\t" + d + "\nBackup\t1\n";
  }
  std::string serverKeys() const override { return journalKeys("ja"); }

  // Adds note id with text through the library.
  int32_t addNote(int32_t id, char const* text) {
    char* nb = _GetTabBuff(notes_);
    InitRecord(notes_);
    stlong(id, nb + _GetFldPtr(notes_ | 1)->d.offset);
    std::strncpy(nb + _GetFldPtr(notes_ | 2)->d.offset, text, 10);
    return AddRecord(notes_);
  }
  // The number of notes as another client sees them.
  int32_t rawNotes() {
    zftest::RawReply r = rawB_->request(rawNotes_, DBM_CARDINAL);
    return r.ok && r.status == 0 ? r.result : -1;
  }
  int32_t rawItems() {
    zftest::RawReply r = raw().request(rawTable_, DBM_CARDINAL);
    return r.ok && r.status == 0 ? r.result : -1;
  }

  zftest::TempDir journals_;
  std::unique_ptr<zftest::TestServer> b_;
  std::unique_ptr<zftest::RawClient> rawB_;
  int32_t rawNotes_ = 0, memo_ = -1, notes_ = -1;
};

TEST_F(Trans, AWriteOutsideATransactionCommitsAloneAndAReadBeginsNothing) {
  fill(1, "one", 1, 1, 1, 0, 0, 0);
  ASSERT_EQ(AddRecord(table_), 0);
  EXPECT_EQ(InTransaction(), 0);
  EXPECT_EQ(rawItems(), 1);  // committed: another client sees it

  // The read alone goes out: no begin, no end.
  EXPECT_EQ(sent([&] { EXPECT_GT(readId(1), 0); }), 1);
  EXPECT_EQ(InTransaction(), 0);
}

TEST_F(Trans, AReadOnOneServerAndAWriteOnTheOtherCommitTogether) {
  fill(1, "one", 1, 1, 1, 0, 0, 0);
  ASSERT_EQ(AddRecord(table_), 0);
  BeginTransaction();
  ASSERT_GT(readId(1), 0);
  ASSERT_EQ(addNote(7, "seven"), 0);
  fill(2, "two", 2, 1, 1, 0, 0, 0);
  ASSERT_EQ(AddRecord(table_), 0);
  EXPECT_EQ(InTransaction(), 1);
  int32_t inTrans = 0;
  for (DbConnection* c = DbConnection::head(); c; c = c->next()) inTrans += c->inTransaction() ? 1 : 0;
  EXPECT_EQ(inTrans, 2);
  EXPECT_EQ(EndTransaction(), 1);
  EXPECT_EQ(InTransaction(), 0);
  EXPECT_EQ(rawNotes(), 1);
  EXPECT_EQ(rawItems(), 2);
}

TEST_F(Trans, ARefusedWriteRollsBackBothServers) {
  ASSERT_EQ(addNote(7, "seven"), 0);
  ASSERT_EQ(rawNotes(), 1);
  BeginTrans(0);  // a corrupt end is a warning, not an error
  fill(3, "three", 3, 1, 1, 0, 0, 0);
  ASSERT_EQ(AddRecord(table_), 0);
  ASSERT_EQ(addNote(7, "again"), 0);  // the key exists: the server refuses
  zftest::shown().clear();
  MsgHandler old = displayErrorHandler(zftest::recordWarning);
  int32_t ended = EndTransaction();
  displayErrorHandler(old);
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(InTransaction(), 0);
  EXPECT_EQ(rawItems(), 0);
  EXPECT_EQ(rawNotes(), 1);
  EXPECT_TRUE(zftest::wasShown("rolled back"));
  // The next write commits again.
  fill(4, "four", 4, 1, 1, 0, 0, 0);
  ASSERT_EQ(AddRecord(table_), 0);
  EXPECT_EQ(rawItems(), 1);
}

}  // namespace
