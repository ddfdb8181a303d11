// The message header: field layout, the parts of a long body, System V part
// packing and checking (also through a real private queue), and the
// operation-code table with its predicates.
#include <gtest/gtest.h>

#include <zfound/MsgHeader.h>
#include <zfound/Process.h>

#include <sys/ipc.h>
#include <sys/msg.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <vector>

#include "TestSupport.h"

namespace {

TEST(MsgHeaderTest, FieldsSitAtTheirOffsetsInHostOrder) {
  unsigned char raw[1 + MSG_HEADER_BYTES] = {};
  unsigned char* p = raw + 1;  // any alignment
  s_MsgBuff h;
  h.clientId = 0x40001235;
  h.objId = -7;
  h.serverOp = -24;
  h.lenFlags = uint16_t(MSG_CONT | 253);
  h.write(p);
  int32_t i32;
  int16_t i16;
  uint16_t u16;
  std::memcpy(&i32, p + 0, 4);
  EXPECT_EQ(i32, 0x40001235);
  std::memcpy(&i32, p + 4, 4);
  EXPECT_EQ(i32, -7);
  std::memcpy(&i16, p + 8, 2);
  EXPECT_EQ(i16, -24);
  std::memcpy(&u16, p + 10, 2);
  EXPECT_EQ(u16, 0x4000 | 253);
  s_MsgBuff r = s_MsgBuff::read(p);
  EXPECT_EQ(r.clientId, h.clientId);
  EXPECT_EQ(r.objId, -7);
  EXPECT_EQ(r.status(), -24);
  EXPECT_EQ(r.length(), 253);
  EXPECT_TRUE(r.continued());
  EXPECT_EQ(r.flags(), 1);
  // Single fields.
  setMsgObjId(p, 0x70000000);
  setMsgServerOp(p, 44);
  setMsgClientId(p, 3);
  setMsgLenFlags(p, 0x8001);
  EXPECT_EQ(msgObjId(p), 0x70000000);
  EXPECT_EQ(msgServerOp(p), 44);
  EXPECT_EQ(msgClientId(p), 3);
  EXPECT_EQ(msgLenFlags(p), 0x8001);
}

TEST(MsgHeaderTest, LengthAndFlagsKeepEachOther) {
  s_MsgBuff h;
  h.setFlags(3);
  h.setLength(0x3FFF);
  EXPECT_EQ(h.flags(), 3);
  EXPECT_EQ(h.length(), 0x3FFF);
  h.setLength(0x4005);  // cut to 14 bits; the flags stay
  EXPECT_EQ(h.length(), 5);
  EXPECT_EQ(h.flags(), 3);
  h.setContinued(false);
  EXPECT_EQ(h.flags(), 2);
  EXPECT_EQ(h.length(), 5);
  h.setFlags(0);
  EXPECT_EQ(h.lenFlags, 5);
  h.setContinued(true);
  EXPECT_EQ(h.lenFlags, MSG_CONT | 5);
}

TEST(MsgHeaderTest, BodiesAreCutIntoParts) {
  EXPECT_EQ(MSG_PART_WORDS, 253);
  struct Case {
    int32_t words, capacity;
    std::vector<int32_t> lengths;  // every part but the last continues
  } const cases[] = {
      {0, 253, {0}},       {1, 253, {1}},
      {253, 253, {253}},   {254, 253, {253, 1}},
      {506, 253, {253, 253}}, {507, 253, {253, 253, 1}},
      {7, 3, {3, 3, 1}},   {6, 3, {3, 3}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.words);
    int32_t n = msgPartCount(c.words, c.capacity);
    ASSERT_EQ(n, int32_t(c.lengths.size()));
    int32_t next = 0;
    s_MsgBuff h;
    h.setFlags(2);  // the other flag bit is carried through
    for (int32_t i = 0; i < n; ++i) {
      MsgPartSpan s = msgPart(c.words, i, c.capacity);
      EXPECT_EQ(s.first, next);
      EXPECT_EQ(s.words, c.lengths[size_t(i)]);
      EXPECT_EQ(s.continued, i < n - 1);
      s_MsgBuff ph = msgPartHeader(h, c.words, i, c.capacity);
      EXPECT_EQ(ph.length(), s.words);
      EXPECT_EQ(ph.continued(), s.continued);
      EXPECT_EQ(ph.flags() & 2, 2);
      next += s.words;
    }
    EXPECT_EQ(next, c.words);
    EXPECT_EQ(msgPart(c.words, n, c.capacity).words, 0);
  }
  EXPECT_EQ(msgPartCount(-1), 0);
  EXPECT_EQ(msgPartCount(5, 0), 0);
  EXPECT_EQ(msgPart(5, -1).words, 0);
}

// A body of n words 1000, 1001, ...
std::vector<uint32_t> body(int32_t n) {
  std::vector<uint32_t> b;
  for (int32_t i = 0; i < n; ++i) b.push_back(1000u + uint32_t(i));
  return b;
}

TEST(MsgHeaderTest, SysVPartsPackCheckAndJoin) {
  EXPECT_EQ(offsetof(SysVMsgPart, words), sizeof(long));  // the native type first
  s_MsgBuff h;
  h.clientId = 18;
  h.objId = 0x70000000;
  h.serverOp = DBM_GETRECORD;
  for (int32_t words : {0, 253, 254, 600}) {
    SCOPED_TRACE(words);
    std::vector<uint32_t> b = body(words);
    MsgJoiner join(1000);
    int32_t n = msgPartCount(words);
    for (int32_t i = 0; i < n; ++i) {
      SysVMsgPart part;
      int32_t size = packSysVMsgPart(part, h, b.data(), words, i);
      MsgPartSpan s = msgPart(words, i);
      EXPECT_EQ(size, 12 + 4 * s.words);
      EXPECT_LE(size, MSG_PART_BYTES);
      EXPECT_EQ(part.mtype, 18);
      s_MsgBuff got;
      ASSERT_EQ(unpackSysVPart(part, size, got), SysVPartKind::Part);
      EXPECT_EQ(got.clientId, 18);
      EXPECT_EQ(got.objId, 0x70000000);
      EXPECT_EQ(got.serverOp, DBM_GETRECORD);
      EXPECT_EQ(got.length(), s.words);
      EXPECT_EQ(got.continued(), i < n - 1);
      EXPECT_EQ(join.add(got, part.body()), i < n - 1 ? MsgJoiner::More : MsgJoiner::Done);
    }
    EXPECT_EQ(join.body(), b);
  }
  // 254 words: the first part full and continued, the second one word.
  std::vector<uint32_t> b = body(254);
  SysVMsgPart p0, p1;
  EXPECT_EQ(packSysVMsgPart(p0, h, b.data(), 254, 0), 1024);
  EXPECT_EQ(packSysVMsgPart(p1, h, b.data(), 254, 1), 16);
  EXPECT_EQ(msgLenFlags(p0.text()), MSG_CONT | 253);
  EXPECT_EQ(msgLenFlags(p1.text()), 1);
  EXPECT_EQ(p1.body()[0], 1253u);
  EXPECT_EQ(packSysVMsgPart(p1, h, b.data(), 254, 2), -1);
}

TEST(MsgHeaderTest, BadPartsAreRefused) {
  s_MsgBuff h;
  h.clientId = 5;
  SysVMsgPart part;
  std::vector<uint32_t> b = body(254);
  EXPECT_EQ(packSysVPart(part, h, b.data(), 254), -1);
  EXPECT_EQ(packSysVPart(part, h, b.data(), -1), -1);
  EXPECT_EQ(packSysVPart(part, h, nullptr, 1), -1);
  s_MsgBuff noType = h;
  noType.clientId = 0;
  EXPECT_EQ(packSysVPart(part, noType, b.data(), 1), -1);

  ASSERT_EQ(packSysVPart(part, h, b.data(), 2), 20);
  s_MsgBuff got;
  got.objId = 99;
  EXPECT_EQ(unpackSysVPart(part, 0, got), SysVPartKind::GoAhead);
  for (long size : {-1L, 4L, 11L, 13L, 16L, 24L, 1028L}) {
    EXPECT_EQ(unpackSysVPart(part, size, got), SysVPartKind::Malformed) << size;
  }
  EXPECT_EQ(got.objId, 99);  // untouched on refusal
  EXPECT_EQ(unpackSysVPart(part, 20, got), SysVPartKind::Part);
  // A length field larger than what arrived.
  setMsgLenFlags(part.text(), 0x3FFF);
  EXPECT_EQ(unpackSysVPart(part, 20, got), SysVPartKind::Malformed);

  // A joined message is bounded.
  MsgJoiner join(300);
  s_MsgBuff ph;
  ph.setLength(253);
  ph.setContinued(true);
  EXPECT_EQ(join.add(ph, b.data()), MsgJoiner::More);
  EXPECT_EQ(join.add(ph, b.data()), MsgJoiner::TooLong);
  EXPECT_EQ(join.body().size(), 253u);
  join.reset();
  EXPECT_TRUE(join.body().empty());
}

// A private queue removed at the end of the test.
struct PrivateQueue {
  int id = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
  ~PrivateQueue() {
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
  }
};

TEST(MsgHeaderTest, PartsTravelThroughARealQueue) {
  PrivateQueue q;
  ASSERT_GE(q.id, 0);
  s_MsgBuff h;
  h.clientId = 7;
  h.objId = 0x70000000;
  h.serverOp = DBM_PUTRECORD;
  std::vector<uint32_t> b = body(254);
  for (int32_t i = 0; i < 2; ++i) {
    SysVMsgPart part;
    int32_t size = packSysVMsgPart(part, h, b.data(), 254, i);
    ASSERT_EQ(msgsnd(q.id, &part, size_t(size), IPC_NOWAIT), 0);
  }
  SysVMsgPart goAhead;
  goAhead.mtype = 7;
  ASSERT_EQ(msgsnd(q.id, &goAhead, 0, IPC_NOWAIT), 0);

  MsgJoiner join(1000);
  MsgJoiner::Result r = MsgJoiner::More;
  while (r == MsgJoiner::More) {
    SysVMsgPart in;
    ssize_t got = msgrcv(q.id, &in, MSG_PART_BYTES, 7, IPC_NOWAIT);
    ASSERT_GT(got, 0);
    EXPECT_EQ(in.mtype, 7);
    s_MsgBuff ih;
    ASSERT_EQ(unpackSysVPart(in, got, ih), SysVPartKind::Part);
    EXPECT_EQ(ih.serverOp, DBM_PUTRECORD);
    r = join.add(ih, in.body());
  }
  EXPECT_EQ(r, MsgJoiner::Done);
  EXPECT_EQ(join.body(), b);
  SysVMsgPart in;
  ssize_t got = msgrcv(q.id, &in, MSG_PART_BYTES, 7, IPC_NOWAIT);
  s_MsgBuff ih;
  EXPECT_EQ(got, 0);
  EXPECT_EQ(unpackSysVPart(in, got, ih), SysVPartKind::GoAhead);
}

std::set<int32_t> codesWith(bool (*pred)(SvMessage)) {
  std::set<int32_t> s;
  for (int32_t c = DBM_FIRSTMSG; c < DBM_LASTMSG; ++c)
    if (pred(SvMessage(c))) s.insert(c);
  return s;
}

TEST(SvMessageTest, AttributeTable) {
  EXPECT_EQ(codesWith(isVoid), (std::set<int32_t>{3, 13, 14, 15, 16, 19, 20}));
  EXPECT_EQ(codesWith(mayModify), (std::set<int32_t>{4, 5, 13, 14, 15, 16, 21, 22, 23, 24, 27, 28, 29,
                                                     30, 31, 33, 38, 39, 40, 41}));
  EXPECT_EQ(codesWith(terminateTrans), (std::set<int32_t>{6, 9, 29, 30}));
  EXPECT_EQ(codesWith(isConnect), (std::set<int32_t>{8}));
  EXPECT_EQ(codesWith(isStop), (std::set<int32_t>{26}));
  EXPECT_EQ(codesWith(isDisconnect), (std::set<int32_t>{9}));
  EXPECT_EQ(_SvCommandAttributes[DBM_ENDTRANSACT], 34);
  EXPECT_EQ(_SvCommandAttributes[DBM_DISCONNECT], 18);
}

TEST(SvMessageTest, Names) {
  struct Case {
    int32_t code;
    char const* name;
  } const cases[] = {{0, "Attach"},        {8, "Connect"},      {9, "Disconnect"}, {13, "PutRecord"},
                     {26, "Stop"},         {29, "EndTransact"}, {44, "ObjMethodExec"},
                     {47, "AddRecordTest"}, {48, ""},           {-1, ""}};
  for (Case const& c : cases) EXPECT_STREQ(svMessageName(c.code), c.name) << c.code;
  EXPECT_TRUE(validSvMessage(0));
  EXPECT_TRUE(validSvMessage(47));
  EXPECT_FALSE(validSvMessage(48));
  EXPECT_FALSE(validSvMessage(-1));
}

TEST(SvMessageTest, CodesOutOfRangeFailThePrecondition) {
  auto startThenAsk = [](int32_t code) {
    zftest::startUpOnce("hdrtest");
    mayModify(SvMessage(code));
  };
  char const* text = "^Precondition failed \\(operation >= DBM_FIRSTMSG && operation < DBM_LASTMSG\\)";
  EXPECT_EXIT(startThenAsk(48), testing::ExitedWithCode(1), text);
  EXPECT_EXIT(startThenAsk(-1), testing::ExitedWithCode(1), text);
  // When the report returns (no handlers installed), the answer is false.
  if (!startUpDone()) {
    EXPECT_FALSE(isVoid(SvMessage(48)));
    EXPECT_FALSE(isStop(SvMessage(1000)));
  }
}

}  // namespace
