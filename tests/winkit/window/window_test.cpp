// Window over the headless terminal layer: which layer calls each operation
// makes (switching only when needed), creation and destruction, the root,
// the guards, and the field buffer.
#include <winkit/WinObj.h>
#include <winkit/Window.h>

#include <zeph/WiTest.h>

#include <zfound/Num.h>
#include <zfound/Process.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildRun.h"
#include "HeadlessScreen.h"
#include "TestSupport.h"

namespace {

using zftest::countCalls;
using zftest::giveKeys;
using zftest::screenLine;
using zftest::wiCalls;

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    zftest::startUpOnce("windowtests-1.0");
    zftest::headlessOnce();
    Window* root = Window::rootWindow();
    root->front();
    root->erase();
    WiTestClearCalls();
  }
  void TearDown() override { WiTestKeys(""); }
};

TEST_F(WindowTest, CreationMakesTheWindowCurrentAndWritingSwitchesOnlyWhenNeeded) {
  Window a(1, 1, 3, 20, 242, "a", 0);
  Window b(6, 1, 3, 20, 0, "", 0);
  WiTestClearCalls();
  b << "to b";
  EXPECT_EQ(countCalls("WiSwitchTo"), 0) << "b is current after its creation";
  a << "to a";
  a << String("more");
  std::vector<std::string> want = {"WiPrintf(to b)", "WiSwitchTo(" + std::to_string(a.handle()) + ")",
                                   "WiPrintf(to a)", "WiPrintf(more)"};
  EXPECT_EQ(wiCalls(), want);
  EXPECT_EQ(screenLine(1), "│to amore            │");
  EXPECT_EQ(screenLine(6), " to b");
}

TEST_F(WindowTest, NullAndHighestStringsWriteNothing) {
  Window w(0, 0, 1, 10, 0, "", 0);
  WiTestClearCalls();
  w << String() << String(reinterpret_cast<char const*>(1)) << static_cast<char const*>(nullptr);
  EXPECT_TRUE(wiCalls().empty());
}

TEST_F(WindowTest, OutputOperatorsAndQueries) {
  Window w(2, 3, 2, 30, 0, "", 0);
  Num n;
  LToNum(1234, n);
  w << 'c' << static_cast<unsigned char>(0xAC) << 42L << 7 << n;
  EXPECT_EQ(screenLine(2), "   c▲4271234.0000000");
  EXPECT_EQ(w.orgRow(), 2);
  EXPECT_EQ(w.orgCol(), 3);
  EXPECT_EQ(w.height(), 2);
  EXPECT_EQ(w.width(), 30);
  EXPECT_EQ(w.line(), 0);
  EXPECT_EQ(w.column(), 17);
  w(1, 4);
  EXPECT_EQ(w.line(), 1);
  EXPECT_EQ(w.column(), 4);
  Window hidden;
  EXPECT_TRUE(hidden.hidden());
  EXPECT_EQ(hidden.height(), -1);
}

TEST_F(WindowTest, DestroyingTheLastCreatedWindowKeepsCurrwin) {
  {
    Window only(1, 1, 2, 10, 0, "", 0);
    WiTestClearCalls();
  }
  EXPECT_EQ(countCalls("WiDelete"), 1);
  EXPECT_EQ(countCalls("WiCurrent"), 0);
  // The root still works: the layer answers the deleted handle as the
  // previous one, which is what the toolkit believes current.
  *Window::rootWindow() << "root";
  EXPECT_EQ(screenLine(0), "root");
}

TEST_F(WindowTest, DestroyingAWindowWhileOthersRemainAsksForTheCurrentOne) {
  Window keep(1, 1, 2, 10, 0, "", 0);
  {
    Window gone(5, 1, 2, 10, 0, "", 0);
    WiTestClearCalls();
  }
  EXPECT_EQ(countCalls("WiCurrent"), 1);
  WiTestClearCalls();
  keep << "x";
  EXPECT_EQ(countCalls("WiSwitchTo"), 0) << "keep is the top remaining, already current";
}

TEST_F(WindowTest, RootIsNeverDeletedAndDisplayCreatesOnlyWhenHidden) {
  Window* root = Window::rootWindow();
  EXPECT_EQ(root->handle(), 0);
  EXPECT_EQ(Window::rootWindow(), root);
  root->unDisplay();
  EXPECT_EQ(countCalls("WiDelete"), 0);
  Window w;
  w.display(2, 2, 3, 3, 0, "", 0);
  long h = w.handle();
  w.display(5, 5, 3, 3, 0, "", 0);
  EXPECT_EQ(w.handle(), h);
  EXPECT_EQ(countCalls("WiCreate"), 1);
  w.unDisplay();
  EXPECT_TRUE(w.hidden());
  // A child under an explicit parent is placed in the parent's interior.
  Window parent(3, 10, 5, 20, 242, "", 0);
  Window child;
  child.display(&parent, 1, 1, 1, 5, 0, "", 0);
  EXPECT_EQ(child.orgRow(), 4);
  EXPECT_EQ(child.orgCol(), 11);
}

TEST_F(WindowTest, DefaultParent) {
  Window parent(3, 10, 5, 20, 242, "", 0);
  Window* old = Window::setDefPar(&parent);
  Window child(1, 2, 1, 3, 0, "", 0);
  EXPECT_EQ(Window::setDefPar(old), &parent);
  EXPECT_EQ(child.orgRow(), 4);
  EXPECT_EQ(child.orgCol(), 12);
}

TEST_F(WindowTest, GetKeyFlushesAndReads) {
  Window w(1, 1, 1, 10, 0, "", 0);
  WiTestClearCalls();
  giveKeys("\"q\" esc");
  unsigned char k = 0;
  w >> k;
  EXPECT_EQ(k, 'q');
  EXPECT_EQ(w.getKey(), 129);
  std::vector<std::string> want = {"WiFlush()", "WiGetc()", "WiFlush()", "WiGetc()"};
  EXPECT_EQ(wiCalls(), want);
}

TEST_F(WindowTest, BeepAndBorderFlush) {
  Window w(1, 1, 2, 10, 242, "old", 0);
  int bells = WiTestBells();
  WiTestClearCalls();
  w.beep();
  w.setBorder(243, "new");
  std::vector<std::string> want = {"WiPutc(7)", "WiFlush()", "WiSetBorder(243,new)", "WiFlush()"};
  EXPECT_EQ(wiCalls(), want);
  EXPECT_EQ(WiTestBells(), bells + 1);
  EXPECT_EQ(screenLine(0), "╔══ new ═══╗");
}

TEST_F(WindowTest, GetFieldCutsALongDatumInsteadOfFailing) {
  Window w(1, 1, 1, 40, 0, "", 0);
  String datum(600, 'd');
  giveKeys("end \"X\" enter");
  EXPECT_EQ(w.getField(1, datum, 0, 700, 20, 0, String(), String()), 132);
  EXPECT_EQ(datum.length(), 511);
  std::string call;
  for (std::string const& c : wiCalls())
    if (c.rfind("WiGetField(", 0) == 0) call = c;
  EXPECT_NE(call.find(",0,511,20,0,,)"), std::string::npos) << call;
  // A short datum is edited and given back.
  String s("abc");
  giveKeys("bs \"Z\" tab");
  EXPECT_EQ(w.getField(1, s, 3, 10, 10, 0, String(), String()), 146);
  EXPECT_EQ(zftest::str(s), "abZ");
}

TEST_F(WindowTest, KeyHelpFillsTheName) {
  String name;
  EXPECT_EQ(zftest::str(Window::keyHelp(129, name)), "Esc");
  EXPECT_EQ(zftest::str(name), "Esc");
  EXPECT_EQ(zftest::str(Window::keyHelp(3, name)), "^C");
}

TEST_F(WindowTest, StaticCallsReachTheLayer) {
  Window::setRaw(1);
  Window::setServices(true);
  EXPECT_FALSE(Window::execService("Unknown"));
  Window::refresh();
  Window::redraw();
  std::vector<std::string> want = {"WiSetRaw(1)", "WiSetServices(1)", "WiService(Unknown)", "WiFlush()",
                                   "WiRefresh()", "WiRedraw()"};
  EXPECT_EQ(wiCalls(), want);
}

class Probe : public WinObj {
public:
  Probe(long row, long col) : WinObj(row, col) {
    border = 0;
    height = 1;
    width = 4;
  }
  long execute(unsigned char) override { return 0; }
  long shownWidth() const { return width; }
  long shownHeight() const { return height; }
};

TEST_F(WindowTest, WinObjWithoutAPositionOpensBelowTheRootCursor) {
  Window::rootWindow()->goTo(5, 7);
  Probe p(-1, -1);
  EXPECT_TRUE(p.window()->hidden());
  EXPECT_TRUE(p.display(-1, -1));
  EXPECT_EQ(p.window()->orgRow(), 7);
  EXPECT_EQ(p.window()->orgCol(), 8);
  EXPECT_EQ(p.shownWidth(), 4);
  EXPECT_EQ(p.shownHeight(), 1);
  p.unDisplay();
  EXPECT_TRUE(p.window()->hidden());
  // A fixed position wins over the cursor; an explicit one over both.
  Probe q(2, 3);
  q.display(-1, -1);
  EXPECT_EQ(q.window()->orgRow(), 2);
  EXPECT_EQ(q.window()->orgCol(), 3);
  Probe r(2, 3);
  r.display(9, -1);
  EXPECT_EQ(r.window()->orgRow(), 9);
  EXPECT_EQ(r.window()->orgCol(), 3);
  EXPECT_FALSE(r.isDefault());
  EXPECT_EQ(r.hotKey(), -1);
  EXPECT_TRUE(r.isActive());
}

// The guards are fatal assertions naming their expression.
TEST_F(WindowTest, GuardsAreFatalAssertions) {
  struct Case {
    char const* text;
    int (*body)();
  } const cases[] = {
      {"parent != (0)",
       [] {
         Window w;
         w.display(nullptr, 1, 1, 1, 1, 0, "", 0);
         return 0;
       }},
      {"!wmConnection && !rootWindow_",
       [] {
         Window::connect();
         return 0;
       }},
      {"prevwin == currwin",
       [] {
         Window a(1, 1, 1, 5, 0, "", 0);
         Window b(3, 1, 1, 5, 0, "", 0);
         WiSwitchTo(int(a.handle()));  // behind the toolkit's back
         Window c(5, 1, 1, 5, 0, "", 0);
         WiSwitchTo(int(b.handle()));
         a << "x";
         return 0;
       }},
      {"! wi->hidden()",
       [] {
         Probe p(1, 1);
         p.front();
         return 0;
       }},
  };
  for (Case const& c : cases) {
    zftest::RunResult r = zftest::runInChild(c.body, 20);
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << c.text << ": " << r.err;
  }
}

}  // namespace
