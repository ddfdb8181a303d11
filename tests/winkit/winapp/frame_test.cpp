// The application frame: key codes from prefix keys, help mode, menu
// choices made with the help key, the application binding on an empty
// desktop, the help view of a command found again, and the working
// directory read whole.
#include <zfound/LibraryInfo.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "FrameSupport.h"

namespace {

using zftest::FrameTest;
using zftest::giveKeys;

// A command that counts its runs; reachable on an empty desktop.
class TestCounter : public EmptyDesktopCmd {
  ZF_WINCMD_CLASS(TestCounter)
public:
  TestCounter() = default;
  explicit TestCounter(char const* name) { cmdId = WinCmd::registerCmd(name, this, 0, eventId); }
  bool redo() override {
    ++runs;
    return true;
  }
  void undo() override {}
  static int runs;
};
ZF_WINCMD_DEFINE(TestCounter)
int TestCounter::runs = 0;

TEST_F(FrameTest, PrefixKeysMakeTwoByteCodes) {
  struct {
    char const* keys;
    long event;
  } cases[] = {
      {"k154 \"m\"", 0x9A6D},
      {"k154 k154", 0x9A9A},   // the second prefix is the code's low byte
      {"k155 \"m\"", 0x9B6D},
      {"\"a\"", 'a'},
      {"down", 135},
      {"k155 \"x\"", -1},
      {"k155 \"X\"", -1},
  };
  for (auto const& c : cases) {
    giveKeys(c.keys);
    unsigned short key = 0;
    EXPECT_EQ(app->sense(key), c.event) << c.keys;
  }
}

TEST_F(FrameTest, HelpKeyThenABoundKeyShowsItsHelpAndRunsNothing) {
  EditableView* v = open("f");
  run("help down k155 \"x\"");
  EXPECT_EQ(v->getRow(), 0) << "the movement did not run";
  ASSERT_EQ(desk().getViews(), 2);
  View* help = desk().getCurrView();
  ASSERT_NE(help->helpView(), nullptr);
  EXPECT_EQ(std::string(toCharPtr(help->getTextName())), "PosCursDown");
  EXPECT_EQ(v->flags() & View::FlagHelp, 0) << "the help mark is taken back";
  EXPECT_EQ(bells(), 1);
  // Asked again from the file's view: the open help view comes to the front.
  desk().setAsCurrent(v);
  run("help down k155 \"x\"");
  EXPECT_EQ(desk().getViews(), 2);
  EXPECT_EQ(desk().getCurrView(), help);
  EXPECT_EQ(v->getRow(), 0);
}

TEST_F(FrameTest, HelpKeyTwiceRingsTwiceAndLeavesHelpMode) {
  EditableView* v = open("f");
  run("help help down k155 \"x\"");
  EXPECT_EQ(bells(), 2);
  EXPECT_EQ(v->flags() & View::FlagHelp, 0);
  EXPECT_EQ(desk().getViews(), 1);
  EXPECT_EQ(v->getRow(), 1) << "out of help mode the key runs its command";
}

TEST_F(FrameTest, MenuChoiceWithTheHelpKeyShowsHelpInsteadOfRunning) {
  PoppableMenu tools(-1, -1, true);
  tools << MenuItem(String("Count"), TestCounter::eventId, '~', 0);
  app->getMenuBar()->addItem(MenuItem(String("Tools"), tools, '~', 0));
  app->getSpecialKeyBinding()->bindMenu(String("Tools"));
  app->getAppBinding()->bind(TestCounter::eventId, TestCounter::cmdId);
  TestCounter::runs = 0;
  run("k155 \"t\" help k155 \"x\"");
  EXPECT_EQ(TestCounter::runs, 0);
  ASSERT_EQ(desk().getViews(), 1);
  EXPECT_EQ(std::string(toCharPtr(desk().getCurrView()->getTextName())), "TestCounter");
  run("k155 \"t\" enter k155 \"x\"");
  EXPECT_EQ(TestCounter::runs, 1);
  EXPECT_EQ(desk().getViews(), 1);
}

TEST_F(FrameTest, EmptyDesktopUsesOnlyTheApplicationBinding) {
  app->getAppBinding()->bind('q', TestCounter::cmdId);
  TestCounter::runs = 0;
  // "a" types only in a view: here it is unbound and beeps.
  run("\"a\" \"q\" k155 \"x\"");
  EXPECT_EQ(TestCounter::runs, 1);
  EXPECT_EQ(bells(), 1);
  EXPECT_EQ(desk().getViews(), 0);
}

TEST_F(FrameTest, ViewCommandWithoutAViewBeeps) {
  long id = WinCmd::findCmd("PosCursDown");
  ASSERT_GE(id, 0);
  WinCmd::getCmd(id)->execute(135, app.get());
  EXPECT_EQ(bells(), 1);
}

TEST_F(FrameTest, MissingHelpSaysSoInABox) {
  giveKeys("enter");
  app->addHelpView(String("NoSuchCommand"));
  EXPECT_EQ(bells(), 1);
  EXPECT_EQ(desk().getViews(), 0);
}

TEST_F(FrameTest, ToolkitRegistersItsLibraryOnce) {
  app = std::make_unique<zftest::FrameApp>();
  std::string libs = toCharPtr(LibraryInfo::libraries());
  size_t at = libs.find("> libwinkit <");
  ASSERT_NE(at, std::string::npos) << libs;
  EXPECT_EQ(libs.find("> libwinkit <", at + 1), std::string::npos) << libs;
}

// A working directory longer than any fixed buffer is read whole.
TEST_F(FrameTest, WorkingDirectoryIsReadWhole) {
  app.reset();
  std::string deep = dir.path();
  for (int i = 0; deep.size() < 700; ++i) deep += "/" + std::string(60, char('a' + i % 26));
  dir.write(deep.substr(dir.path().size() + 1) + "/f", "");
  char* before = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(deep.c_str()), 0);
  app = std::make_unique<zftest::FrameApp>();
  std::string got = toCharPtr(app->getWorkingDir());
  EXPECT_EQ(::chdir(before), 0);
  ::free(before);
  EXPECT_EQ(got, std::filesystem::canonical(deep).string());
}

}  // namespace
