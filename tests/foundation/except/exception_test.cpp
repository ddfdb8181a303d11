// Error objects: messages from the shipped library catalogue, transfer of
// the fields over a loopback Connection, rebuilding a received error as the
// current exception, the prototype table and safe formatting.
#include <gtest/gtest.h>

#include <zfound/Exception.h>
#include <zfound/LoopConnection.h>
#include <zfound/Message.h>
#include <zfound/Process.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "ChildRun.h"
#include "TestSupport.h"

namespace {

using zftest::str;

// A catalogue whose texts have more conversions than the classes pass: the
// missing ones print nothing. Runs first, in a child that starts up on it.
TEST(ExceptionCatalogue, ConversionsBeyondTheArgumentsPrintNothing) {
  if (startUpDone()) GTEST_SKIP() << "needs a process that has not started up";
  zftest::TempDir dir;
  std::string src = "@(#)@\nLOCKED\n[%s|%s|%d]\n"
                    "@(#)@\nTOOMANYATTACHS\n[%d|%s|%d]\n"
                    "@(#)@\nUNKNOWNM\nnobody %s %d\n"
                    "@(#)@\nDUPLICATEDKEY\n[%s|%s|%s|%N]\n";
  std::filesystem::create_directories(dir.file("english"));
  zftest::RunResult mk = zftest::runProgram({zftest::binPath("catload"), "-b", "lib", "english", "main"}, src,
                                            {{"DATADIR", dir.path()}, {"LANGUAGE", "english"}});
  ASSERT_EQ(mk.status, 0) << mk.err;
  zftest::RunResult r = zftest::runInChild([&] {
    setenv("DATADIR", dir.path().c_str(), 1);
    setenv("LANGUAGE", "english", 1);
    zftest::startUpOnce("exctest-1.0");
    std::printf("%s\n", toCharPtr(Locked("ann").message()));
    std::printf("%s\n", toCharPtr(Locked().message()));
    std::printf("%s\n", toCharPtr(TooManyAttachs(9).message()));
    std::printf("%s\n", toCharPtr(DuplicatedKey("ix", "k").message()));
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[ann||]\n[nobody %s %d||]\n[9||]\n[ix|k||]\n");
}

class ExceptionTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { zftest::startUpOnce("exctest-1.0"); }
  void SetUp() override {
    Exception::clear();
    Exception::init(true);
  }
  void TearDown() override { Exception::clear(); }
};

// One object of every class with its fields set, and its message from the
// shipped catalogue.
struct Sample {
  int32_t code;
  std::function<Exception*()> make;
  char const* text;
};

Time t(int h, int m, int s) { return Time(h, m, s); }

std::vector<Sample> samples() {
  return {
      {1, [] { return new DeadLock("on table t"); }, "Deadlock detected: on table t"},
      {2, [] { return new LockTableFull(500); }, "The server's lock table is full; its size is 500"},
      {3, [] { return new NoPrivilege(3, -7); }, "Not enough privileges for this operation: 3 -7"},
      {4, [] { return new Locked("ann@host"); }, "Locked by ann@host."},
      {5, [] { return new NoIntegrity(); }, "The operation would break the integrity of the data."},
      {6, [] { return new BeingUsed(5); }, "The object is being used: 5"},
      {7, [] { return new NotifyTableFull(64); }, "The server's notification table is full; its size is 64"},
      {8, [] { return new BadVersion(12); }, "The table does not have the version expected; its version is 12"},
      {9, [] { return new ClLockTableFull(100); }, "The client has used up its allowance of locks: 100"},
      {10, [] { return new NoIndexes(); }, "The table has no indexes."},
      {11, [] { return new InvalidIndexNum(4); }, "Invalid index number: 4"},
      {12, [] { return new InvalidTable(-2); }, "Invalid table number: -2"},
      {13, [] { return new InTrans(); }, "A transaction is already in progress."},
      {14, [] { return new NotInTrans(); }, "No transaction is in progress."},
      {15, [] { return new ModLocked("bob"); }, "Locked against modification by bob."},
      {16, [] { return new CantConvertTable("field f is too short"); }, "field f is too short"},
      {17, [] { return new InvalidObjectId(1879048192); }, "Invalid object id(1879048192)"},
      {18, [] { return new MsgOutOfBounds(48); }, "Request code out of bounds(48)"},
      {19, [] { return new InvalidClientId(-1); }, "Invalid client id(-1)"},
      {20, [] { return new ShadowError("mirror lost"); }, "mirror lost"},
      {21, [] { return new Notification(); }, "Notification from the server."},
      {22, [] { return new InvalidMsgOnObject(0, 0); }, "Request not valid on this object(0, 0)"},
      {23, [] { return new TooManyClients(32); }, "Too many clients; the server's limit is 32"},
      {24, [] { return new ServerIsDead("sv1"); }, "The server sv1 is not running any more."},
      {25, [] { return new IncompatibleVersions(900, 1101); },
       "Incompatible versions: the client has version 900 and the server version 1101."},
      {26, [] { return new InvalidForMirror("update"); }, "Not allowed on a mirror server: update"},
      {27, [] { return new ZombieClient(17); }, "The client is no longer known to the server(17)"},
      {28, [] { return new DuplicatedKey("pk", "42"); }, "Duplicated key in index pk: 42"},
      {29, [] { return new PendLockNotif("t1", "carl"); }, "Waiting for a lock on t1 held by carl."},
      {30, [] { return new KeyDoesNotExist("ix", "7"); }, "Key not found in index ix: 7"},
      {31, [] { return new InvalidTimeStamp("orders", t(1, 2, 3), t(10, 20, 30), t(23, 59, 59)); },
       "Invalid time stamp in table orders: 01:02:03, 10:20:30, 23:59:59."},
      {32, [] { return new OptTransCorrupt("stock", t(0, 0, 0), t(12, 0, 5)); },
       "Table stock was changed by another transaction: 00:00:00, 12:00:05."},
      {33, [] { return new InvalidLogin("dave", "bad password"); }, "Invalid login of dave: bad password"},
      {34, [] { return new TooManyAttachs(8); }, "Too many tables attached; the limit is 8."},
      {35, [] { return new InvalidData("number 1e99"); }, "Invalid data: number 1e99"},
      {36, [] { return new AdminMode("0"); }, "The server is in administrator mode; only 0 may connect."},
  };
}

TEST_F(ExceptionTest, EveryClassShowsItsCatalogueTextAndSurvivesCloning) {
  std::vector<Sample> all = samples();
  ASSERT_EQ(all.size(), 36u);
  for (Sample const& s : all) {
    SCOPED_TRACE(s.code);
    std::unique_ptr<Exception> e(s.make());
    EXPECT_EQ(e->code(), s.code);
    EXPECT_EQ(int(*e), s.code);
    EXPECT_EQ(str(e->message()), s.text);
    // The prototype of the code is of the same class.
    ASSERT_NE(Exception::getException(uint16_t(s.code)), nullptr);
    EXPECT_EQ(typeid(*Exception::getException(uint16_t(s.code))), typeid(*e));
    // The current exception is a copy that keeps every field.
    Exception::last(*e);
    e.reset();
    EXPECT_EQ(Exception::last().code(), s.code);
    EXPECT_EQ(str(Exception::last().message()), s.text);
  }
}

// The code list (ExceptionCodes.h) and the family agree: each listed class
// has its code, the factory and the prototype table make that class for it,
// its key has a catalogue text, and the codes past the list are plain.
TEST_F(ExceptionTest, TheFactoryAndThePrototypesFollowTheCodeList) {
  int32_t listed = 0;
#define ZF_EXC_CHECK(c, Class, key, fields)                                                    \
  {                                                                                           \
    SCOPED_TRACE(#Class);                                                                     \
    ++listed;                                                                                 \
    EXPECT_EQ(kExc##Class, c);                                                                \
    EXPECT_EQ(Class().code(), c);                                                             \
    std::unique_ptr<Exception> made(Exception::make(c));                                      \
    EXPECT_EQ(typeid(*made), typeid(Class));                                                  \
    EXPECT_EQ(made->code(), c);                                                               \
    Exception* proto = Exception::getException(uint16_t(c));                                 \
    ASSERT_NE(proto, nullptr);                                                                \
    EXPECT_EQ(typeid(*proto), typeid(Class));                                                 \
    EXPECT_EQ(str(libMsg(key)).find("Message not found"), std::string::npos) << key;          \
  }
  ZF_EXCEPTION_CODES(ZF_EXC_CHECK)
#undef ZF_EXC_CHECK
  EXPECT_EQ(listed, Exception::kLastCode);
  EXPECT_EQ(Exception::getException(uint16_t(Exception::kLastCode + 1)), nullptr);
  std::unique_ptr<Exception> plain(Exception::make(Exception::kLastCode + 1));
  EXPECT_EQ(typeid(*plain), typeid(Exception));
  EXPECT_EQ(plain->code(), Exception::kLastCode + 1);
}

TEST_F(ExceptionTest, EveryClassRoundTripsAndBecomesTheCurrentException) {
  for (Sample const& s : samples()) {
    SCOPED_TRACE(s.code);
    std::unique_ptr<Exception> e(s.make());
    LoopConnection c(5);  // small parts: the fields cross part boundaries
    c << int32_t(0x5EED);  // a word before the fields
    e->send(&c);
    c << int32_t(0x7A11);  // and one after them
    c.rewind();
    int32_t w = 0;
    c >> w;
    ASSERT_EQ(w, 0x5EED);
    Exception::last(Exception(0));
    EXPECT_EQ(Exception::receive(&c, s.code), s.code);
    c >> w;
    EXPECT_EQ(w, 0x7A11);
    EXPECT_EQ(c.wordsLeft(), 0);
    EXPECT_FALSE(c.bad());
    Exception& got = Exception::last();
    EXPECT_EQ(got.code(), s.code);
    EXPECT_EQ(typeid(got), typeid(*e));
    if (s.code == 24) {
      // Made on the client side: nothing travels, the name stays empty.
      EXPECT_EQ(str(got.message()), "The server  is not running any more.");
    } else {
      EXPECT_EQ(str(got.message()), s.text);
    }
  }
}

TEST_F(ExceptionTest, ReceivedFieldsAreReadable) {
  LoopConnection c;
  InvalidTimeStamp(String("orders"), t(1, 2, 3), t(4, 5, 6), Time()).send(&c);
  DuplicatedKey(String(), String("k")).send(&c);
  c.rewind();
  ASSERT_EQ(Exception::receive(&c, 31), 31);
  auto* its = dynamic_cast<InvalidTimeStamp*>(&Exception::last());
  ASSERT_NE(its, nullptr);
  EXPECT_EQ(str(its->table()), "orders");
  EXPECT_EQ(its->t2().value(), t(4, 5, 6).value());
  EXPECT_EQ(its->t3().value(), Time::kNull);
  ASSERT_EQ(Exception::receive(&c, 28), 28);
  auto* dk = dynamic_cast<DuplicatedKey*>(&Exception::last());
  ASSERT_NE(dk, nullptr);
  EXPECT_TRUE(dk->index().isNull());
  EXPECT_EQ(str(dk->key()), "k");
  // The current exception is a copy: the prototype may be refilled.
  EXPECT_NE(&Exception::last(), Exception::getException(28));
}

TEST_F(ExceptionTest, MalformedFieldsAreRecordedEmpty) {
  // A length word no String can have.
  LoopConnection c;
  c.feed({0x00100000u});
  EXPECT_EQ(Exception::receive(&c, 26), 26);
  EXPECT_TRUE(c.bad());
  auto* m = dynamic_cast<InvalidForMirror*>(&Exception::last());
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->text().isNull());
  // The prototype holds no partial field either.
  auto* p = dynamic_cast<InvalidForMirror*>(Exception::getException(26));
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(p->text().isNull());
  // Fields cut short by the end of the input.
  LoopConnection d;
  d.feed({7u});
  EXPECT_EQ(Exception::receive(&d, 3), 3);
  auto* np = dynamic_cast<NoPrivilege*>(&Exception::last());
  ASSERT_NE(np, nullptr);
  EXPECT_EQ(np->a(), -1);
  EXPECT_EQ(np->b(), -1);
}

TEST_F(ExceptionTest, StatusZeroChangesNothingAndUnknownCodesAreReported) {
  Exception::last(BeingUsed(2));
  LoopConnection c;
  EXPECT_EQ(Exception::receive(&c, 0), 0);
  EXPECT_EQ(Exception::last().code(), 6);
  for (int32_t status : {37, -37, 32767, -32768, INT32_MIN}) {
    SCOPED_TRACE(status);
    EXPECT_EXIT(Exception::receive(&c, status), testing::ExitedWithCode(1),
                "^Unknown error code received from the server: [0-9]+\n");
  }
  // Without a fatal handler the report returns and nothing is recorded.
  MsgHandler old = fatalErrorHandler(nullptr);
  EXPECT_EQ(Exception::receive(&c, 40), -1);
  fatalErrorHandler(old);
  EXPECT_EQ(Exception::last().code(), 6);
}

TEST_F(ExceptionTest, NegativeStatusRecordsAndRaises) {
  LoopConnection c;
  ServerIsDead("sv9").send(&c);  // writes nothing
  c.rewind();
  EXPECT_EXIT(Exception::receive(&c, -24), testing::ExitedWithCode(1),
              "^The server  is not running any more\\.\n");
  // The error is recorded before it is raised.
  MsgHandler old = fatalErrorHandler(nullptr);
  LoopConnection d;
  BeingUsed(4).send(&d);
  d.rewind();
  EXPECT_EQ(Exception::receive(&d, -6), 6);
  fatalErrorHandler(old);
  EXPECT_EQ(str(Exception::last().message()), "The object is being used: 4");
}

TEST_F(ExceptionTest, PeerTextsAreShownLiterally) {
  // Conversions inside fields are characters, never formats.
  EXPECT_EQ(str(DuplicatedKey("%s%n", "%d%%").message()), "Duplicated key in index %s%n: %d%%");
  EXPECT_EQ(str(ShadowError("50% %s done").message()), "50% %s done");
  // A long field makes a message of at most the longest String.
  EXPECT_EQ(InvalidLogin(String(), String(65534L, 'x')).message().length(), 65535);
  // The highest String, which a peer may send, is shown by name.
  EXPECT_EQ(str(InvalidData(String(reinterpret_cast<char const*>(1))).message()),
            "Invalid data: (high value)");
  EXPECT_EXIT(ShadowError("50% %s %n done").raise(), testing::ExitedWithCode(1), "^50% %s %n done\n");
  EXPECT_EXIT(Exception(0).raise(), testing::ExitedWithCode(1), "^\n");
}

TEST_F(ExceptionTest, EmptyFieldsAndSpecialTexts) {
  // Null owners show the text of UNKNOWNM.
  EXPECT_EQ(str(Locked().message()), "Locked by an unknown user.");
  EXPECT_EQ(str(ModLocked().message()), "Locked against modification by an unknown user.");
  // Without their own text these show the key's.
  EXPECT_EQ(str(CantConvertTable().message()), "The table cannot be converted.");
  EXPECT_EQ(str(ShadowError().message()), "Error on the mirror server.");
  // Default fields: longs -1.
  EXPECT_EQ(str(BeingUsed().message()), "The object is being used: -1");
  EXPECT_EQ(InvalidMsgOnObject().a(), -1);
  // A plain Exception shows nothing and may carry any code.
  EXPECT_TRUE(Exception(99).message().isNull());
  EXPECT_EQ(Exception(99).code(), 99);
  // ModLocked from a Locked keeps the owner.
  Locked l("eve");
  EXPECT_EQ(str(ModLocked(l).owner()), "eve");
  EXPECT_EQ(ModLocked(l).code(), 15);
}

TEST_F(ExceptionTest, OnlyLockedAndPendLockNotifAnswerTheirQueries) {
  for (int32_t code = 0; code <= 36; ++code) {
    Exception* p = Exception::getException(uint16_t(code));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->code(), code);
    EXPECT_EQ(p->isPendNotification(), code == 29) << code;
    EXPECT_EQ(p->getLocked() != nullptr, code == 4) << code;
    if (code == 4) {
      EXPECT_EQ(p->getLocked(), p);
    }
  }
  Exception::last(Locked("x"));
  ASSERT_NE(Exception::last().getLocked(), nullptr);
  EXPECT_EQ(str(Exception::last().getLocked()->owner()), "x");
}

TEST_F(ExceptionTest, InitLastAndClear) {
  EXPECT_EQ(Exception::last().code(), 0);
  EXPECT_EQ(Exception::getException(0)->code(), 0);
  EXPECT_EQ(Exception::getException(37), nullptr);
  EXPECT_EQ(Exception::getException(65535), nullptr);
  // A second init changes nothing.
  Exception* p = Exception::getException(12);
  Exception::last(InTrans());
  Exception::init(true);
  EXPECT_EQ(Exception::getException(12), p);
  EXPECT_EQ(Exception::last().code(), 13);
  // The argument of last() stays the caller's.
  {
    NotInTrans local;
    Exception::last(local);
  }
  EXPECT_EQ(str(Exception::last().message()), "No transaction is in progress.");
  // After init(false) only code 0 has a prototype.
  Exception::clear();
  Exception::init(false);
  EXPECT_NE(Exception::getException(0), nullptr);
  for (unsigned short code = 1; code <= 36; ++code) EXPECT_EQ(Exception::getException(code), nullptr);
  LoopConnection c;
  MsgHandler old = fatalErrorHandler(nullptr);
  EXPECT_EQ(Exception::receive(&c, 5), -1);
  fatalErrorHandler(old);
  // Before init (after clear) the current exception is a failed assertion.
  Exception::clear();
  EXPECT_EQ(Exception::getException(0), nullptr);
  EXPECT_EXIT(Exception::last(), testing::ExitedWithCode(1), "Assertion failed \\(last_ != \\(0\\)\\)");
  EXPECT_EXIT(Exception::last(Exception(1)), testing::ExitedWithCode(1), "last_ != \\(0\\)");
}

}  // namespace
