// Request framing, completion and the transaction rules of DbConnection over
// a transport in memory that records every part sent and answers from a
// script; and the client-side object handle.
#include <gtest/gtest.h>

#include <zfound/ClientObject.h>
#include <zfound/DbConnection.h>
#include <zfound/Exception.h>
#include <zfound/MsgHeader.h>

#include <deque>
#include <vector>

#include "ChildRun.h"
#include "dbconn_fixture.h"
#include "TestSupport.h"

namespace {

using zftest::str;

// A transport in memory: parts of `capacity` body words.
class MemConnection : public DbConnection {
public:
  explicit MemConnection(int32_t capacity, char const* name = "mem")
      : DbConnection('i', String(), 1, name, ConnMode(0)) {
    capacity_ = capacity;
    buf_.assign(size_t(capacity) + 3, 0);
    setValues();
  }
  uint32_t* beginOfBuffer() override { return buf_.data(); }
  uint32_t* realBuffer() override { return buf_.data(); }

  int32_t sendPart() override {
    if (failSend) return -1;
    sent.emplace_back(buf_.data(), writePos_);
    buffer_ = buf_.data();
    readPos_ = writePos_ = buffer_ + 3;
    writeLeft_ = readLeft_ = capacity_ - 1;
    return 0;
  }
  int32_t fillPart() override {
    ++fills;
    if (replies.empty()) return -1;
    std::vector<uint32_t> p = replies.front();
    replies.pop_front();
    std::copy(p.begin(), p.end(), buf_.begin());
    buffer_ = buf_.data();
    readPos_ = writePos_ = buffer_ + 3;
    writeLeft_ = capacity_ - 1;
    readLeft_ = int32_t(p.size()) - 4;
    return int32_t(p.size()) * 4;
  }
  // Queues a reply part.
  void reply(int32_t ret, int16_t status, std::vector<uint32_t> body = {}, bool more = false) {
    std::vector<uint32_t> p(3);
    s_MsgBuff h;
    h.objId = ret;
    h.serverOp = status;
    h.setLength(int32_t(body.size()));
    h.setContinued(more);
    h.write(p.data());
    p.insert(p.end(), body.begin(), body.end());
    replies.push_back(p);
  }
  // The headers of sent part i.
  std::vector<s_MsgBuff> headers(size_t i) const {
    std::vector<MsgBatchItem> items;
    EXPECT_TRUE(splitMsgWords(sent.at(i).data(), int32_t(sent.at(i).size()), items));
    std::vector<s_MsgBuff> h;
    for (auto const& it : items) h.push_back(it.h);
    return h;
  }

  std::vector<uint32_t> buf_;
  std::vector<std::vector<uint32_t>> sent;
  std::deque<std::vector<uint32_t>> replies;
  bool failSend = false;
  int fills = 0;
};

class DbConnectionTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { dbconntest::startUpOnce(); }
  void SetUp() override {
    Exception::init(true);
    Exception::last(Exception(0));
    DbConnection::userBegTrans(false);
  }
  void TearDown() override {
    while (DbConnection::head()) delete DbConnection::head();
  }
};

TEST_F(DbConnectionTest, TheTenthVoidRequestIsSentBeforeTheEleventhBegins) {
  MemConnection c(253);
  for (int32_t i = 0; i < 10; ++i) c(50 + i, DBM_PUTRECORD) << i << i;
  EXPECT_TRUE(c.sent.empty());
  c(60, DBM_FREE);
  ASSERT_EQ(c.sent.size(), 1u);
  std::vector<s_MsgBuff> h = c.headers(0);
  ASSERT_EQ(h.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(h[i].objId, 50 + i);
    EXPECT_EQ(h[i].serverOp, DBM_PUTRECORD);
    EXPECT_EQ(h[i].lenFlags, 2) << "length 2, flags cleared";
    EXPECT_EQ(h[i].clientId, DbConnection::kServerObject);
  }
  // The eleventh goes with the next request that expects a reply.
  c.reply(3, 0);
  c(DBM_GETINFO) << int32_t(1);
  EXPECT_EQ(c.execute(), 3);
  ASSERT_EQ(c.sent.size(), 2u);
  h = c.headers(1);
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0].serverOp, DBM_FREE);
  EXPECT_EQ(h[1].serverOp, DBM_GETINFO);
  EXPECT_EQ(h[1].lenFlags, 1);
}

TEST_F(DbConnectionTest, FullBufferSendsCompleteRequestsAndMovesTheCurrentOne) {
  MemConnection c(20);
  c(7, DBM_SETRANGE) << 1 << 2 << 3 << 4 << 5;  // 8 words with its header
  DbConnection& w = c(8, DBM_GETRECORD);
  for (int32_t i = 0; i < 15; ++i) w << 100 + i;  // does not fit behind it
  ASSERT_EQ(c.sent.size(), 1u);
  EXPECT_EQ(c.sent[0].size(), 8u);
  c.reply(0, 0);
  c.execute();
  ASSERT_EQ(c.sent.size(), 2u);
  std::vector<s_MsgBuff> h = c.headers(1);
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0].objId, 8);
  EXPECT_EQ(h[0].lenFlags, 15);
  EXPECT_EQ(c.sent[1][3], 100u);
  EXPECT_EQ(c.sent[1][17], 114u);
}

TEST_F(DbConnectionTest, MovedRequestNeverMakesAPartLongerThanItsCapacity) {
  // A void request of `first` body words, then a request of `second` words
  // behind it: the second fills the part exactly, goes one word past it (and
  // is moved to the buffer start), or fills the moved part exactly or one
  // word past it.
  struct Case {
    int32_t first, second;
  } const cases[] = {{5, 12}, {5, 13}, {5, 20}, {5, 21}, {5, 45}, {16, 1}, {16, 2},
                     {16, 20}, {16, 21}, {17, 1}, {17, 21}};
  int32_t const capacity = 20;
  for (Case const& k : cases) {
    MemConnection c(capacity);
    DbConnection& v = c(7, DBM_SETRANGE);
    for (int32_t i = 0; i < k.first; ++i) v << 1000 + i;
    DbConnection& w = c(8, DBM_GETRECORD);
    for (int32_t i = 0; i < k.second; ++i) w << 2000 + i;
    c.reply(0, 0);
    EXPECT_EQ(c.execute(), 0);
    std::vector<uint32_t> bodies, expect;
    for (int32_t i = 0; i < k.first; ++i) expect.push_back(uint32_t(1000 + i));
    for (int32_t i = 0; i < k.second; ++i) expect.push_back(uint32_t(2000 + i));
    for (auto const& part : c.sent) {
      EXPECT_LE(part.size(), size_t(3 + capacity)) << k.first << "+" << k.second;
      std::vector<MsgBatchItem> items;
      ASSERT_TRUE(splitMsgWords(part.data(), int32_t(part.size()), items)) << k.first << "+" << k.second;
      for (auto const& it : items)
        bodies.insert(bodies.end(), part.begin() + it.bodyWord, part.begin() + it.bodyWord + it.h.length());
    }
    EXPECT_EQ(bodies, expect) << k.first << "+" << k.second;
  }
}

TEST_F(DbConnectionTest, LongRequestGoesInPartsAndOnlyTheLastIsClosed) {
  MemConnection c(20);
  DbConnection& w = c(9, DBM_GETRECORD);
  for (int32_t i = 0; i < 45; ++i) w << i;
  c.reply(0, 0);
  c.execute();
  ASSERT_EQ(c.sent.size(), 3u);
  std::vector<uint16_t> lf;
  for (auto const& p : c.sent) {
    s_MsgBuff h = s_MsgBuff::read(p.data());
    EXPECT_EQ(h.objId, 9);
    EXPECT_EQ(h.serverOp, DBM_GETRECORD);
    lf.push_back(h.lenFlags);
  }
  EXPECT_EQ(lf, (std::vector<uint16_t>{uint16_t(MSG_CONT | 20), uint16_t(MSG_CONT | 20), 5}));
  EXPECT_EQ(c.sent[2].back(), 44u);
}

TEST_F(DbConnectionTest, RequestAfterAVoidRequestInPartsStartsAPartOfItsOwn) {
  // The last part of a request in several parts is a continuation part: a
  // request behind it would never be seen as a request of its own.
  MemConnection c(20);
  DbConnection& w = c(9, DBM_PUTRECORD);
  for (int32_t i = 0; i < 45; ++i) w << i;
  EXPECT_EQ(c.execute(), -1);
  c.reply(3, 0);
  c(DBM_GETINFO) << int32_t(1);
  EXPECT_EQ(c.execute(), 3);
  ASSERT_EQ(c.sent.size(), 4u);
  std::vector<s_MsgBuff> tail = c.headers(2);
  ASSERT_EQ(tail.size(), 1u);
  EXPECT_EQ(tail[0].serverOp, DBM_PUTRECORD);
  EXPECT_EQ(tail[0].lenFlags, 5);
  std::vector<s_MsgBuff> next = c.headers(3);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0].serverOp, DBM_GETINFO);
}

TEST_F(DbConnectionTest, RepliesInPartsAreReadWholeAndNeverPastTheirEnd) {
  MemConnection c(4);
  c.reply(2, 0, {1, 2, 3, 4}, true);
  c.reply(2, 0, {5, 6}, false);
  c(DBM_GETRECORD);
  for (uint32_t i = 1; i <= 6; ++i) {
    int32_t v = 0;
    c >> v;
    EXPECT_EQ(v, int32_t(i));
  }
  EXPECT_FALSE(c.bad());
  int32_t past = 9;
  c >> past;
  EXPECT_EQ(past, 0);
  EXPECT_TRUE(c.bad());
  EXPECT_EQ(c.fills, 2) << "no receive is tried past a part without MSG_CONT";
}

TEST_F(DbConnectionTest, FailuresAreErrorsNotSuccesses) {
  {
    // A part that cannot be sent: no reply is awaited.
    MemConnection c(20);
    c.failSend = true;
    c(DBM_GETINFO) << int32_t(1);
    EXPECT_EQ(c.execute(), -1);
    EXPECT_EQ(c.fills, 0);
    EXPECT_EQ(Exception::last().code(), 20);
  }
  {
    // A failed receive on a live connection.
    MemConnection c(20);
    c(DBM_GETINFO);
    EXPECT_EQ(c.execute(), -1);
    EXPECT_EQ(Exception::last().code(), 20);
    // Stop gets no reply: its failed receive is the expected end.
    Exception::last(Exception(0));
    c(DBM_STOP);
    EXPECT_EQ(c.execute(), 0);
    EXPECT_EQ(Exception::last().code(), 0);
    // A dead server.
    c.setInvalid();
    c(DBM_GETINFO);
    EXPECT_EQ(c.execute(), -1);
    EXPECT_EQ(Exception::last().code(), 24);
    EXPECT_EQ(str(Exception::last().message()), str(ServerIsDead("mem").message()));
  }
  {
    // Disconnect gets no reply and does not wait.
    MemConnection c(20);
    c(DBM_DISCONNECT);
    EXPECT_EQ(c.execute(), 0);
    EXPECT_EQ(c.fills, 0);
  }
}

TEST_F(DbConnectionTest, RequestWhosePartCouldNotBeSentIsDroppedWhole) {
  MemConnection c(20);
  c.failSend = true;
  DbConnection& w = c(5, DBM_PUTRECORD);
  for (int32_t i = 0; i < 30; ++i) w << i;
  EXPECT_TRUE(c.bad());
  EXPECT_EQ(Exception::last().code(), 20);
  EXPECT_EQ(c.execute(), -1);
  c.failSend = false;
  c.reply(1, 0);
  c(DBM_GETINFO) << int32_t(7);
  EXPECT_EQ(c.execute(), 1);
  ASSERT_EQ(c.sent.size(), 1u) << "nothing of the dropped request goes out";
  EXPECT_EQ(c.sent[0], (std::vector<uint32_t>{uint32_t(DbConnection::kServerObject), uint32_t(DbConnection::kServerObject),
                                              c.sent[0][2], 7u}));
  EXPECT_EQ(c.headers(0)[0].serverOp, DBM_GETINFO);
}

TEST_F(DbConnectionTest, ReplyPendingWordFromThePeerIsAnOrdinaryValue) {
  constexpr int32_t kMarker = DbConnection::kReplyPending;
  MemConnection c(20);
  // With an error status: the error's fields come from the reply in hand
  // (two 12-byte parts), never from a nested request.
  c.reply(kMarker, 12, {}, true);
  c.reply(kMarker, 12, {}, false);
  c(DBM_GETINFO);
  EXPECT_EQ(c.execute(), kMarker);
  EXPECT_EQ(Exception::last().code(), 12);
  EXPECT_EQ(c.sent.size(), 1u);
  EXPECT_EQ(c.fills, 2);
  // Without one: the body is this reply's, and no stray request goes out.
  Exception::last(Exception(0));
  c.reply(kMarker, 0, {7, 8});
  c(DBM_GETINFO);
  int32_t a = 0, b = 0;
  c >> a >> b;
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 8);
  EXPECT_EQ(int32_t(c), kMarker);
  EXPECT_EQ(c.sent.size(), 2u);
  EXPECT_EQ(c.fills, 3);
}

TEST_F(DbConnectionTest, StatusMinus24RecordsServerIsDeadAndRaisesIt) {
  zftest::RunResult r = zftest::runInChild([] {
    MemConnection c(20);
    c.reply(-1, -24);
    c(DBM_GETINFO);
    c.execute();
    return 0;
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is not running any more"), std::string::npos) << r.err;
}

TEST_F(DbConnectionTest, UserTransactionIsLeftToTheProgram) {
  MemConnection c(20);
  c.inTransaction(true);
  DbConnection::beginTransaction();
  EXPECT_FALSE(DbConnection::didTransaction());
  EXPECT_FALSE(DbConnection::endTrans(false));
  EXPECT_TRUE(DbConnection::endTrans(true));
  EXPECT_TRUE(c.sent.empty());
  EXPECT_TRUE(c.inTransaction());
  // Once the program ends it: EndTransact with the commit flag.
  c.reply(0, 0);
  DbConnection::userBegTrans(false);
  EXPECT_TRUE(DbConnection::endTrans(true));
  ASSERT_EQ(c.sent.size(), 1u);
  EXPECT_EQ(c.headers(0)[0].serverOp, DBM_ENDTRANSACT);
  EXPECT_EQ(c.sent[0][3], 1u);
  EXPECT_FALSE(c.inTransaction());
}

TEST_F(DbConnectionTest, OptimisticTransactionAndAbortReachEveryConnection) {
  MemConnection b(20, "b"), a(20, "a");
  for (MemConnection* c : {&a, &b}) c->reply(0, 0, {uint32_t(3600), 0});
  EXPECT_TRUE(DbConnection::optimisticTransaction());
  EXPECT_TRUE(a.inTransaction() && b.inTransaction());
  EXPECT_FALSE(DbConnection::didTransaction());
  EXPECT_EQ(a.transTimeStamp().time().value(), 3600);
  EXPECT_FALSE(DbConnection::optimisticTransaction()) << "one is open already";
  a.readyToEnd(true);  // a prepared participant is aborted too
  for (MemConnection* c : {&a, &b}) c->reply(0, 0);
  EXPECT_EQ(DbConnection::abortTransaction(), 0);
  EXPECT_FALSE(a.inTransaction() || b.inTransaction() || a.readyToEnd());
  for (MemConnection* c : {&a, &b}) {
    ASSERT_EQ(c->sent.size(), 2u);
    EXPECT_EQ(c->headers(0)[0].serverOp, DBM_BEGTRANSACT);
    EXPECT_EQ(c->sent[0][3], 1u);
    EXPECT_EQ(c->headers(1)[0].serverOp, DBM_ABORTTRANSACT);
  }
}

TEST_F(DbConnectionTest, ObjectHandle) {
  ClientObject none("orphan", nullptr);
  EXPECT_TRUE(none.ok());
  EXPECT_EQ(none.objId(), 0);
  EXPECT_EQ(none.flush(), -1);
  none.attach();
  EXPECT_EQ(none.detach(), 0);
  EXPECT_EQ(none.detach(), 0);
  none.setObjId(-1);
  EXPECT_FALSE(none.ok());

  MemConnection c(20);
  ClientObject obj("table", &c);
  obj.setObjId(77);
  c.reply(5, 0);
  obj(DBM_CARDINAL) << int32_t(3);
  EXPECT_EQ(obj.flush(), 5);
  EXPECT_EQ(c.headers(0)[0].objId, 77);
  EXPECT_EQ(c.headers(0)[0].serverOp, DBM_CARDINAL);
}

}  // namespace
