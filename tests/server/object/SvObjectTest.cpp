// Server objects: ids from registry slots with their check bits, slot
// reuse, the attribute table and names, and the default answer.
#include <svobject/Client.h>
#include <svobject/SvObject.h>

#include "TestSupport.h"

#include <zfound/Exception.h>
#include <zfound/UserInfo.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Plain : public SvObject {
public:
  int32_t objectType() const override { return 99; }
  String objType() override { return "Plain"; }
  long getInfo(Client*) override { return 42; }
};

class ServerObjects : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("ombrel-3.3.2");
    Exception::init(true);
    Exception::last(Exception(0));
  }
  void TearDown() override { Exception::last(Exception(0)); }
};

TEST_F(ServerObjects, IdsComeFromSlotsWithCheckBits) {
  std::vector<std::unique_ptr<Plain>> objs;
  for (int i = 0; i < 7; ++i)
    objs.push_back(std::make_unique<Plain>());
  EXPECT_EQ(objs[0]->getId(), 0x70000000u);
  EXPECT_EQ(objs[5]->getId(), 0x20000005u);
  EXPECT_TRUE(GServObj::validObject(0x70000000u));
  EXPECT_FALSE(GServObj::validObject(0x60000000u));  // slot 0, wrong check bits
  EXPECT_FALSE(GServObj::validObject(0x80000005u));
  EXPECT_FALSE(GServObj::validObject(0x7000ffffu));
  objs[5].reset();
  EXPECT_FALSE(GServObj::validObject(0x20000005u));
  Plain again;
  EXPECT_EQ(again.getId(), 0x20000005u);  // the freed slot, the same id
  EXPECT_EQ(GServObj::object(0x20000005u), &again);
  EXPECT_TRUE(again.wasAccessed());
  EXPECT_EQ(GServObj::nObjects(), 7);
}

TEST_F(ServerObjects, MessagesSelectOperationsAndDefaultToInvalid) {
  Plain p;
  EXPECT_EQ(p.execute(DBM_GETINFO, nullptr), 42);
  EXPECT_EQ(Exception::last().code(), 0);
  p.execute(DBM_GETRECORD, nullptr);
  EXPECT_NE(Exception::last().code(), 0);
  Exception::last(Exception(0));
  p.execute(-1, nullptr);
  EXPECT_NE(Exception::last().code(), 0);
  Exception::last(Exception(0));
  p.execute(48, nullptr);
  EXPECT_NE(Exception::last().code(), 0);
  EXPECT_EQ(p.getSvObject(), &p);
  EXPECT_EQ(p.refCount(), 0);
  p.incReference();
  p.incReference();
  p.decReference();
  EXPECT_EQ(p.refCount(), 1);
}

TEST_F(ServerObjects, AttributesAndNames) {
  struct Row {
    int32_t code;
    char const* name;
    bool isVoid, ends, connect, stop, disconnect, modify;
  };
  Row const rows[] = {
      {DBM_ATTACH, "Attach", false, false, false, false, false, false},
      {DBM_FREE, "Free", true, false, false, false, false, false},
      {DBM_GETINFO, "GetInfo", false, true, false, false, false, false},
      {DBM_CONNECT, "Connect", false, false, true, false, false, false},
      {DBM_DISCONNECT, "Disconnect", false, true, false, false, true, false},
      {DBM_ADDRECORD, "AddRecord", true, false, false, false, false, true},
      {DBM_STOP, "Stop", false, false, false, true, false, false},
      {DBM_ENDTRANSACT, "EndTransact", false, true, false, false, false, true},
      {DBM_DEBUG, "Debug", false, false, false, false, false, false},
      {DBM_ADDRECORDTEST, "AddRecordTest", false, false, false, false, false, false},
  };
  for (Row const& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_STREQ(GServObj::msgName(r.code), r.name);
    EXPECT_EQ(isVoid(r.code), r.isVoid);
    EXPECT_EQ(terminateTrans(r.code), r.ends);
    EXPECT_EQ(isConnect(r.code), r.connect);
    EXPECT_EQ(isStop(r.code), r.stop);
    EXPECT_EQ(isDisconnect(r.code), r.disconnect);
    EXPECT_EQ(mayModify(r.code), r.modify);
  }
  EXPECT_EQ(GServObj::msgName(48), nullptr);
  EXPECT_FALSE(mayModify(-3));
  EXPECT_STREQ(GServObjStats::statTypeDescr(0), "Invalid statistic type");
  EXPECT_STREQ(GServObjStats::statTypeDescr(8), "Write");
  EXPECT_EQ(GServObjStats::statTypeDescr(9), nullptr);
  GServObjStats s;
  EXPECT_EQ(s.nTimes(3), 3);
  EXPECT_EQ(s.nTimes(2), 5);
  s.resetNTimes();
  EXPECT_EQ(s.nTimes(), 0);
}

}  // namespace

namespace {

TEST(Clients, IdentityAndDescription) {
  zftest::startUpOnce("ombrel-3.3.2");
  zftest::TempDir tmp;
  tmp.write("passwd", "root:x:0:0:root:/root:/bin/sh\n");
  tmp.write("group", "root:x:0:\n");
  Password::TEST_setAccountFiles(tmp.file("passwd").c_str(), tmp.file("group").c_str());
  Client c(4242, "/usr/local/bin/report", "-x data", 0, 0, "hostA", "/dev/pts/3", true);
  EXPECT_EQ(c.id(), -1);
  EXPECT_TRUE(c.isReady());
  EXPECT_EQ(zftest::str(c.proc()), "report");
  EXPECT_EQ(zftest::str(c.descr()), "report -x data:root:hostA:/dev/pts/3:4242");
  Client bare(7, "prog", String(), 0, 0, "h", "t", false);
  EXPECT_EQ(zftest::str(bare.descr()), "prog:root:h:t:7");
  EXPECT_STREQ(Client::stateLetter(Client::STATE_ZOMBIE), "Z");
  EXPECT_STREQ(Client::stateLetter(9), "?");
  Password::TEST_setAccountFiles(nullptr, nullptr);
}

}  // namespace
