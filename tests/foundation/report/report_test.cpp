// Reports and handlers, message filling, assertions, verbose levels, the
// reference count of shared objects and the library registry.
#include <gtest/gtest.h>

#include <zfound/Assert.h>
#include <zfound/LibraryInfo.h>
#include <zfound/Message.h>
#include <zfound/Process.h>
#include <zfound/Resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

using zftest::ScopedEnv;
using zftest::TempDir;

namespace {

using zftest::str;

// Every test runs after startUp, with the default handlers installed.
class ReportTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    zftest::startUpOnce("reptest-1.2");
  }
};

// A handler that records what it was given.
struct Seen {
  int calls = 0;
  int flags = 0;
  std::string title, text;
};
Seen seen;
int recordingHandler(int flags, char const* title, char const* text) {
  ++seen.calls;
  seen.flags = flags;
  seen.title = title;
  seen.text = text;
  return 7;
}

// Installs the recording handler in one slot for a scope.
struct WithRecorder {
  explicit WithRecorder(MsgHandler (*install)(MsgHandler)) : install(install) {
    seen = Seen();
    old = install(recordingHandler);
  }
  ~WithRecorder() { install(old); }
  MsgHandler (*install)(MsgHandler);
  MsgHandler old;
};

TEST_F(ReportTest, MessageMarksAreFilledInOrder) {
  Message m("Value #0 of #1#2, ## #x");
  EXPECT_EQ(str(m(AnyValue(5), AnyValue("x"))), "Value 5 of x, # x");
  EXPECT_EQ(str(Message("#4-#0")(AnyValue("a"), AnyValue("b"), AnyValue("c"), AnyValue("d"),
                                 AnyValue("e"))),
            "e-a");
  EXPECT_EQ(str(Message("#9#5")(1, 2, 3, 4, 5, 6, 7, 8, 9, 10)), "106");
  EXPECT_EQ(str(Message("ab") + Message("cd")), "abcd");
}

TEST_F(ReportTest, TextsComeFromTheCatalogues) {
  EXPECT_EQ(str(libMsg("NOSUCH", "fallback")), "fallback");
  EXPECT_EQ(str(libMsg("NOSUCH")), "lib.main.NOSUCH: Message not found.");
  EXPECT_EQ(str(libMsg("ERROR")), "Error");
  EXPECT_EQ(str(appMsg("NOSUCH")), "reptest.main.NOSUCH: Message not found.");
  EXPECT_EQ(str(appMsg("NOSUCH", "d")), "d");
}

TEST_F(ReportTest, EachReportReachesItsHandlerWithTitleAndFlags) {
  struct Case {
    MsgHandler (*install)(MsgHandler);
    int (*report)();
    char const* title;
    int flags;
    char const* text;
  };
  Case cases[] = {
      {displayHandler, [] { return display("T", "shown"); }, "T", 2 | 64, "shown"},
      {displayErrorHandler, [] { return displayError("bad"); }, "Error", 2 | 16, "bad"},
      {displayHandler, [] { return notice("n=%d", 3); }, "Notice", 2 | 64, "n=3"},
      {displayErrorHandler, [] { return warning("w %s", "x"); }, "Warning", 2 | 64, "w x"},
      {ariErrorHandler, [] { return ariError("a %d", 1); }, "Error", 2 | 16, "a 1"},
      {displayHandler, [] { return Message("m").display(Message("MT")); }, "MT", 2 | 64, "m"},
      {displayHandler, [] { return Notice("plain %s", "x"); }, "Notice", 2 | 64, "plain x"},
      {displayHandler, [] { return display(String(), String(reinterpret_cast<char const*>(1))); },
       "", 2 | 64, "(high value)"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.text);
    WithRecorder r(c.install);
    EXPECT_EQ(c.report(), 7);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.title, c.title);
    EXPECT_EQ(seen.flags, c.flags);
    EXPECT_EQ(seen.text, c.text);
  }
}

TEST_F(ReportTest, CatalogueFormatsWithMissingArgumentsPrintNothingForThem) {
  WithRecorder r(displayErrorHandler);
  warning("a%sb%dc%Sd");
  EXPECT_EQ(seen.text, "abcd");
  warning(String("x=%d y=%s."), 5);
  EXPECT_EQ(seen.text, "x=5 y=.");
}

TEST_F(ReportTest, DefaultHandlerWritesOnlyTheText) {
  testing::internal::CaptureStderr();
  notice("hello %s", "world");
  displayError("oops");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "hello world\noops\n");
}

TEST_F(ReportTest, ControlCallAndPresentationFlags) {
  WithRecorder r(displayHandler);
  msgCtrl(4);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.flags, 4);
  EXPECT_EQ(seen.title, "");
  EXPECT_EQ(seen.text, "");
  EXPECT_EQ(presFlag(), 2);
  msgCtrl(1);
  display("t", "x");
  EXPECT_EQ(seen.flags, 1 | 64);
  msgCtrl(2);
  // The default handler shows nothing for a control call.
  displayHandler(defaultMsgHandler);
  testing::internal::CaptureStderr();
  msgCtrl(4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ReportTest, FatalReportsEndTheProcessWithANonZeroStatus) {
  EXPECT_EXIT(error("boom %d", 7), testing::ExitedWithCode(1), "^boom 7\n$");
  EXPECT_EXIT(Error("plain %s", "boom"), testing::ExitedWithCode(1), "plain boom");
  EXPECT_EXIT(fatalError("fatal text"), testing::ExitedWithCode(1), "fatal text");
  EXPECT_EXIT(Message("msg").fatalError(), testing::ExitedWithCode(1), "msg");
  // The abnormal-stop hooks run.
  EXPECT_EXIT(
      {
        onAbnormalStop([] { std::fputs("hook ran\n", stderr); });
        error("x");
      },
      testing::ExitedWithCode(1), "x\nhook ran");
}

TEST_F(ReportTest, FatalReportWithoutHandlerReturns) {
  MsgHandler old = fatalErrorHandler(nullptr);
  EXPECT_EQ(error("x"), -1);
  EXPECT_EQ(fatalError("x"), -1);
  EXPECT_EQ(fatalErrorHandler(old), nullptr);
}

// Runs the default arithmetic handler in a child with `answer` on its
// standard input and exits with 40 + its result.
// Runs in a death-test child, which ends through exit: the input file lives
// in the parent's directory, since no destructor of the child runs.
void ariAnswer(TempDir const& dir, std::string const& answer) {
  std::string in = dir.write("in", answer);
  if (!std::freopen(in.c_str(), "r", stdin)) std::exit(99);
  int r = defaultAriHandler(16, "", "overflow");
  std::exit(40 + r);
}

TEST_F(ReportTest, ArithmeticPromptAnswers) {
  TempDir dir;
  EXPECT_EXIT(ariAnswer(dir, "i\n"), testing::ExitedWithCode(40), "overflow\nAbort, Retry or Ignore");
  EXPECT_EXIT(ariAnswer(dir, "I"), testing::ExitedWithCode(40), "");
  EXPECT_EXIT(ariAnswer(dir, "r\n"), testing::ExitedWithCode(41), "");
  EXPECT_EXIT(ariAnswer(dir, "x\n"), testing::ExitedWithCode(41), "");
  EXPECT_EXIT(ariAnswer(dir, ""), testing::ExitedWithCode(41), "");
  EXPECT_EXIT(
      {
        onAbnormalStop([] { std::fputs("abnormal\n", stderr); });
        errno = 0;  // the stop code carries errno; 0 ends with status 1
        ariAnswer(dir, "a\n");
      },
      testing::ExitedWithCode(1), "abnormal");
}

TEST_F(ReportTest, FailedChecksNameExpressionFileAndLine) {
  int x = 0;
  EXPECT_EXIT(ZF_ASSERT(x > 0), testing::ExitedWithCode(1),
              "^Assertion failed \\(x > 0\\)\\.\n.*report_test\\.cpp:[0-9]+\\.\n\n$");
  EXPECT_EXIT(_assert("x > 0", "t", 12), testing::ExitedWithCode(1),
              "^Assertion failed \\(x > 0\\)\\.\nt:12\\.\n");
  EXPECT_EXIT(ZF_PRECOND(x == 1), testing::ExitedWithCode(1), "^Precondition failed \\(x == 1\\)");
  EXPECT_EXIT(ZF_POSTCOND(x != 0), testing::ExitedWithCode(1), "^Postcondition failed \\(x != 0\\)");
  EXPECT_EXIT(_abnormal("f.cpp", 9), testing::ExitedWithCode(1),
              "^Program reached an invalid address at f\\.cpp:9\\.\n");
  ZF_ASSERT(x == 0);  // a true check does nothing
}

TEST(VerboseLevel, LevelListsSwitchLevels) {
  struct Case {
    char const* value;  // null: unset
    std::vector<unsigned> on;
  } cases[] = {
      {nullptr, {}},     {"", {}},           {"3", {0, 1, 2}},   {"3+5-1", {0, 2, 5}},
      {"2+0+4", {0, 1}}, {"300", {}},        {"0+7", {7}},       {"2x5+6", {0, 1}},
      {"1-9", {0}},      {"256", {0, 255}},  {"257", {}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    ScopedEnv e("ZXVERBOSELEVEL", c.value ? c.value : "", c.value == nullptr);
    TEST_resetVerboseLevels();
    std::vector<unsigned> on;
    for (unsigned l = 0; l < 300; ++l)
      if (ZxVerboseLevel(l)) on.push_back(l);
    if (std::string(c.value ? c.value : "") == "256") {
      EXPECT_EQ(on.size(), 256u);
    } else {
      EXPECT_EQ(on, c.on);
    }
  }
  TEST_resetVerboseLevels();
}

TEST(VerboseLevel, GetNumTakesLeadingDigits) {
  String s("42abc");
  EXPECT_EQ(getNum(s), 42);
  EXPECT_EQ(str(s), "abc");
  EXPECT_EQ(getNum(s), 0);
  EXPECT_EQ(str(s), "abc");
  String big("99999999999999999999x");
  EXPECT_EQ(getNum(big), 0);
  EXPECT_EQ(str(big), "x");
}

int destroyed = 0;
struct Counted : Resource {
  ~Counted() override { ++destroyed; }
};

TEST_F(ReportTest, ResourceDeletesItselfAtTheLastUnRef) {
  destroyed = 0;
  Counted* c = new Counted;
  EXPECT_EQ(c->count(), 0);
  c->ref();
  Resource::ref(c);
  EXPECT_EQ(c->count(), 2);
  c->unRef();
  EXPECT_EQ(destroyed, 0);
  Resource::unRef(c);
  EXPECT_EQ(destroyed, 1);
  Resource::unRef(nullptr);
  Resource::ref(nullptr);
  Counted zero;
  EXPECT_EXIT(zero.unRef(), testing::ExitedWithCode(1), "Assertion failed \\(refcount > 0\\)");
}

TEST(LibraryRegistry, VersionTextsBannerAndRegistrations) {
  struct V {
    int32_t v;
    char const* text;
  } versions[] = {{1101, "1.1.1"}, {1100, "1.1"}, {3302, "3.3.2"}, {1110, "1.1.10"},
                  {999, "0.9.99"}, {0, "0.0"},    {4320, "4.3.20"}};
  for (auto const& v : versions) EXPECT_EQ(str(versionStr(v.v)), v.text) << v.v;

  testing::internal::CaptureStderr();
  banner("/usr/bin/ombrel", "1.1.1");
  banner("tool", "2.0");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ombrel: 1.1.1 (Linux 1.3.X)\ntool: 2.0 (Linux 1.3.X)\n");

  String before = LibraryInfo::libraries();
  LibraryInfo a("a", "stamp a");
  LibraryInfo b("b", "stamp b");
  EXPECT_EQ(str(LibraryInfo::libraries()), str(before) + "\n> a <\nstamp a\n\n> b <\nstamp b\n");
}

}  // namespace
