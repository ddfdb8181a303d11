// The command families in a headless session on a test application: the
// registry and binding tables, a movement that re-marks the block, undo of
// typing in both modes, the block commands and their undo, the file
// commands (soft save, save as, failed stores, new, insert, working
// directory), the desktop commands on an empty desktop, and the help index.
#include <winkit/BlockCmds.h>
#include <winkit/CmdBinding.h>
#include <winkit/Desktop.h>
#include <winkit/DesktopCmds.h>
#include <winkit/EditCmds.h>
#include <winkit/EditView.h>
#include <winkit/FileCmds.h>
#include <winkit/HelpCmds.h>
#include <winkit/HelpView.h>
#include <winkit/PosCmds.h>
#include <winkit/ScrollMenu.h>
#include <winkit/SysCmds.h>
#include <winkit/WinApp.h>

#include <zeph/WiTest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "FaultFs.h"
#include "HeadlessScreen.h"
#include "TestSupport.h"

namespace {

using zftest::giveKeys;
using zftest::TempDir;
typedef std::vector<std::string> Lines;

std::string str(String const& s) { return s.isNull() || s.isHighest() ? std::string() : std::string(toCharPtr(s)); }

std::string cwd() {
  char buf[PATH_MAX];
  return ::getcwd(buf, sizeof buf) ? buf : "";
}

// A frame whose file hooks open an editable view and insert a file into the
// current one; one command's "disp" label can be hidden.
class TestApp : public WinApp {
public:
  TestApp() : WinApp(String("wincmdtests")) {}
  void openFile(String const& name) override { addView(new EditableView(name), nullptr, -1, -1, -1, -1); }
  void loadFile(String const& name) override { getDesktop()->getCurrEdView()->insertFile(name); }
  String getHlpLabel(String const& name) override {
    if (str(name) == hidden) return ScrollMenu::highest();
    return WinApp::getHlpLabel(name);
  }
  std::string hidden;
};

class Families : public ::testing::Test {
public:
  void SetUp() override {
    zftest::startUpOnce("wincmdtests-1.0");
    zftest::headlessOnce();
    home_ = cwd();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    Text::tabSize(4);
    app = std::make_unique<TestApp>();
    bells_ = WiTestBells();
  }
  void TearDown() override {
    WiTestKeys("");
    app.reset();
    EXPECT_EQ(::chdir(home_.c_str()), 0);
  }
  template <class C>
  void run(unsigned char key = 0) {
    C::instance.execute(key, app.get());
  }
  int bells() const { return WiTestBells() - bells_; }
  // Opens a file holding `content` as the current editable view.
  EditableView* open(std::string const& content, std::string const& name = "f.txt") {
    app->openFile(String(dir.write(name, content).c_str()));
    return app->getDesktop()->getCurrEdView();
  }
  static Lines lines(View& v) {
    Lines out;
    TextCursor c(v.getText());
    for (c.goToFirst(); c.valid(); ++c) out.push_back(str(c.value()));
    return out;
  }
  static Lines clip() {
    Lines out;
    StringListCursor c(*WinApp::clipboard);
    for (c.goToFirst(); c.valid(); ++c) out.push_back(str(c.value()));
    return out;
  }
  // Closes the current view, changed or not.
  void close() {
    app->getDesktop()->getCurrView()->easyExit(true);
    run<FileClose>();
  }
  bool called(std::string const& text) const {
    for (std::string const& c : zftest::wiCalls())
      if (c.find(text) != std::string::npos) return true;
    return false;
  }

  TempDir dir;
  std::unique_ptr<TestApp> app;
  std::string home_;
  int bells_ = 0;
};

struct Registered {
  char const* name;
  long id;
  long event;
  long key;  // 0: none
};

#define REG(C, key) \
  { #C, C::cmdId, C::eventId, key }

TEST(FamiliesRegistry, EveryCommandUnderItsNameInTableOrderWithItsKey) {
  std::vector<std::vector<Registered>> families = {
      {REG(PosCursDown, 0x87), REG(PosCursUp, 0x85), REG(PosCursLeft, 0x86), REG(PosPageUp, 0x89),
       REG(PosPageDown, 0x8B), REG(PosCursRight, 0x88), REG(PosWordRight, 0x9B88), REG(PosWordLeft, 0x9B86),
       REG(PosBegOfLine, 0x9A86), REG(PosEndOfLine, 0x9A88), REG(PosBegOfFile, 0x9A89), REG(PosEndOfFile, 0x9A8B),
       REG(PosBegOfScr, 0x9A85), REG(PosMidOfScr, 0x9A6D), REG(PosEndOfScr, 0x9A87)},
      {REG(EditInsChar, 0x8F), REG(EditInsAsciiChar, 0x9B23), REG(EditDelChar, 0x90), REG(EditDelLine, 0x9A64),
       REG(EditDelWord, 0x9A77), REG(EditDelEndOfLine, 0x9A65), REG(EditBackSpace, 0x8D), REG(EditEnter, 0x84),
       REG(EditAddNewLine, 0x9A6F), REG(EditInsNewLine, 0x9A4F), REG(EditJoinLines, 0x9A6A), REG(EditTab, 0x92),
       REG(EditBackTab, 0x9A8D), REG(ChgInsMode, 0x8F), REG(ChgCtrolMode, 0x9A6C)},
      {REG(BlockBegin, 0x9A9A), REG(BlockEndMode, 0x81), REG(BlockCopy, 0x9A8F), REG(BlockCut, 0x9A90),
       REG(BlockPaste, 0x9A84), REG(BlockDelete, 0x9A44), REG(BlockClear, 0x9A20)},
      {REG(FileNew, 0x9A6E), REG(FileOpen, 0x96), REG(FileLoad, 0x96), REG(FileReload, 0x9A96),
       REG(FileHardSave, 0x9A93), REG(FileSoftSave, 0x93), REG(FileSaveAs, 0x9A73), REG(FileInsert, 0x9A69),
       REG(FileSaveAll, 0x9A61), REG(FileClose, 0x82), REG(FileCloseAll, 0x9A82), REG(FileChgWorkDir, 0x9A63)},
      {REG(ViewZoom, 0x83), REG(ViewMove, 0x9B4D), REG(ViewSize, 0x9B5A), REG(DsktMosaic, 0x9B6D),
       REG(DsktCascade, 0x9B63), REG(DsktNext, 0x9B6E), REG(DsktPrev, 0x9B70), REG(DsktSelect, 0x9B6C)},
      {REG(HelpIndex, 0), REG(HelpHelp, 0), REG(HelpOnCmd, 0x9A94), REG(XRefNext, 0x92), REG(XRefPrev, 0x9A92),
       REG(XRefGo, 0x84)},
      {REG(SysCalculator, 0), REG(SysPrintScreen, 0), REG(SysCharSet, 0), REG(SysGotoShell, 0x9A7A),
       REG(SysDsktRefresh, 0x9A52)},
  };
  size_t total = 0;
  for (auto const& family : families) {
    long previous = -1;
    for (Registered const& r : family) {
      ASSERT_GE(r.id, 0) << r.name;
      EXPECT_GT(r.id, previous) << r.name << " registers after the one before it in its table";
      previous = r.id;
      EXPECT_EQ(str(WinCmd::getName(r.id)), r.name);
      ASSERT_NE(WinCmd::getCmd(r.id), nullptr) << r.name;
      EXPECT_EQ(WinCmd::getCmd(r.id)->id(), r.id) << r.name;
      EXPECT_EQ(r.event, r.key ? r.key : (r.id | 0x8000)) << r.name;
      ++total;
    }
  }
  EXPECT_EQ(total, 68u);
  long named = 0;
  while (named < 255 && !WinCmd::getName(named).isNull()) ++named;
  EXPECT_EQ(named, 68) << "the registry holds the families' commands and no others";
}

TEST(FamiliesRegistry, BindingFunctionsAndTheKeysALaterBindingReplaces) {
  CmdBinding b;
  bindPosCmds(&b);
  bindEditCmds(&b);
  bindBlockCmds(&b);
  bindFileCmds(&b);
  bindDesktopCmds(&b);
  bindSysCmds(&b);
  struct {
    long key;
    long id;
  } const cases[] = {
      {0x87, PosCursDown::cmdId},
      {0x9A6D, PosMidOfScr::cmdId},
      {'a', EditInsChar::cmdId},
      {' ', EditInsChar::cmdId},
      {'~', EditInsChar::cmdId},
      {0xE9, EditInsChar::cmdId},
      {0x8F, ChgInsMode::cmdId},
      {0x9A, -1},
      {0x1F, -1},
      {0x9A9A, BlockBegin::cmdId},
      {0x9A20, BlockClear::cmdId},
      {0x96, FileLoad::cmdId},
      {0x9A82, -1},
      {0x82, FileClose::cmdId},
      {0x9B6C, DsktSelect::cmdId},
      {0x8000 | SysCalculator::cmdId, SysCalculator::cmdId},
      {0x9A52, SysDsktRefresh::cmdId},
      {0x92, EditTab::cmdId},
      {0x84, EditEnter::cmdId},
  };
  for (auto const& c : cases) EXPECT_EQ(b.getCmdId(c.key), c.id) << std::hex << c.key;
}

TEST_F(Families, MovementKeepsTheAnchorAndReMarksTheBlock) {
  EditableView* v = open("alpha\nbeta\n\ngamma\n");
  v->goCursor(0, 2, false);
  run<BlockBegin>();
  ASSERT_TRUE(v->hasBlock());
  run<PosCursDown>();
  ASSERT_TRUE(v->hasBlock()) << "the block stays marked";
  EXPECT_EQ(v->getBlock().line(), 0);
  EXPECT_EQ(v->getBlock().column(), 2);
  EXPECT_EQ(v->getRow(), 1);
  StringList region;
  ASSERT_TRUE(v->getRegion(region, v->getBlock()));
  EXPECT_EQ(str(region.first()), "pha") << "the region reaches the new cursor";
  EXPECT_EQ(str(region.last()), "be");
  run<BlockEndMode>();
  EXPECT_FALSE(v->hasBlock());

  struct {
    long line, col;
    void (Families::*cmd)(unsigned char);
    long toLine, toCol;
  } const moves[] = {
      {1, 2, &Families::run<PosEndOfLine>, 1, 4}, {2, 0, &Families::run<PosEndOfLine>, 2, 0},
      {1, 2, &Families::run<PosBegOfLine>, 1, 0}, {1, 0, &Families::run<PosBegOfLine>, 1, 0},
      {2, 0, &Families::run<PosBegOfFile>, 0, 0}, {0, 3, &Families::run<PosEndOfFile>, 3, 0},
      {0, 0, &Families::run<PosWordRight>, 1, 0}, {1, 3, &Families::run<PosCursRight>, 1, 4},
  };
  for (auto const& m : moves) {
    v->goCursor(m.line, m.col, false);
    (this->*m.cmd)(0);
    EXPECT_EQ(v->getRow(), m.toLine) << m.line << "," << m.col;
    EXPECT_EQ(v->getCol(), m.toCol) << m.line << "," << m.col;
  }
  // Undo puts the cursor back where the last movement started.
  v->goCursor(1, 1, false);
  run<PosCursDown>();
  PosCursDown::instance._undo();
  EXPECT_EQ(v->getRow(), 1);
  EXPECT_EQ(v->getCol(), 1);
}

TEST_F(Families, UndoOfTypingInBothModes) {
  struct {
    char const* content;
    long line, col;
    bool insert;
    Lines typed;
  } const cases[] = {
      {"abc\n", 0, 1, true, {"axbc"}}, {"abc\n", 0, 1, false, {"axc"}},        {"abc\n", 0, 3, false, {"abcx"}},
      {"ab\n", 0, 4, true, {"ab  x"}}, {"ab\n", 2, 1, true, {"ab", "", " x"}}, {"", 0, 0, true, {"x"}},
      {"", 1, 2, false, {"", "  x"}},  {"a\tb\n", 0, 1, false, {"ax\x1f\tb"}},
  };
  for (auto const& c : cases) {
    EditableView* v = open(c.content);
    Lines before = lines(*v);
    if (v->inInsMode() != c.insert) run<ChgInsMode>();
    ASSERT_EQ(v->inInsMode(), c.insert);
    v->goCursor(c.line, c.col, false);
    run<EditInsChar>('x');
    EXPECT_EQ(lines(*v), c.typed) << c.content << " at " << c.line << "," << c.col;
    EditInsChar::instance._undo();
    EXPECT_EQ(lines(*v), before) << c.content << " at " << c.line << "," << c.col << (c.insert ? " ins" : " ovr");
    EXPECT_EQ(v->getRow(), c.line);
    EXPECT_EQ(v->getCol(), c.col);
    close();
  }
}

TEST_F(Families, DeletionsAndNewLinesUndo) {
  struct {
    long line, col;
    void (Families::*cmd)(unsigned char);
    WinCmd* instance;
    Lines done;
  } const cases[] = {
      {0, 1, &Families::run<EditDelChar>, &EditDelChar::instance, {"ac", "de"}},
      {0, 3, &Families::run<EditDelChar>, &EditDelChar::instance, {"abcde"}},
      {1, 1, &Families::run<EditBackSpace>, &EditBackSpace::instance, {"abc", "e"}},
      {1, 0, &Families::run<EditBackSpace>, &EditBackSpace::instance, {"abcde"}},
      {0, 1, &Families::run<EditDelLine>, &EditDelLine::instance, {"de"}},
      {0, 1, &Families::run<EditDelEndOfLine>, &EditDelEndOfLine::instance, {"a", "de"}},
      {0, 1, &Families::run<EditEnter>, &EditEnter::instance, {"a", "bc", "de"}},
      {0, 1, &Families::run<EditAddNewLine>, &EditAddNewLine::instance, {"abc", "", "de"}},
      {0, 1, &Families::run<EditJoinLines>, &EditJoinLines::instance, {"abcde"}},
      {0, 1, &Families::run<EditInsNewLine>, &EditInsNewLine::instance, {"", "abc", "de"}},
      {1, 1, &Families::run<EditDelWord>, &EditDelWord::instance, {"abc", "d"}},
  };
  for (auto const& c : cases) {
    EditableView* v = open("abc\nde\n");
    v->goCursor(c.line, c.col, false);
    (this->*c.cmd)(0);
    EXPECT_EQ(lines(*v), c.done) << c.line << "," << c.col;
    dynamic_cast<ViewCmd*>(c.instance)->_undo();
    EXPECT_EQ(lines(*v), (Lines{"abc", "de"})) << c.line << "," << c.col;
    EXPECT_EQ(v->getRow(), c.line);
    EXPECT_EQ(v->getCol(), c.col);
    close();
  }
}

TEST_F(Families, DeletedTabsAndFillBytesComeBackWithTheirCell) {
  Lines const text{"a\x1f\x1f\tb"};  // "a\tb" laid out with tab size 4
  struct {
    long col;
    void (Families::*cmd)(unsigned char);
    WinCmd* instance;
    Lines done;
  } const cases[] = {
      {1, &Families::run<EditDelChar>, &EditDelChar::instance, {"ab"}},
      {3, &Families::run<EditDelChar>, &EditDelChar::instance, {"a  b"}},
      {4, &Families::run<EditBackSpace>, &EditBackSpace::instance, {"a  b"}},
  };
  int n = 0;
  for (auto const& c : cases) {
    EditableView* v = open("a\tb\n", "t" + std::to_string(n++) + ".txt");
    ASSERT_EQ(lines(*v), text);
    v->goCursor(0, c.col, false);
    (this->*c.cmd)(0);
    EXPECT_EQ(lines(*v), c.done) << c.col;
    dynamic_cast<ViewCmd*>(c.instance)->_undo();
    EXPECT_EQ(lines(*v), text) << c.col;
    EXPECT_EQ(v->getCol(), c.col);
    close();
  }
}

TEST_F(Families, BlockCommandsAndTheirUndo) {
  Lines const text{"one", "two", "three"};
  struct {
    void (Families::*cmd)(unsigned char);
    WinCmd* instance;
    Lines done;
    Lines clipboard;
    long row, col;
    bool backwards = false;  // the block marked from its end
  } const cases[] = {
      {&Families::run<BlockCopy>, &BlockCopy::instance, text, {"ne", "two", "th"}, 2, 2},
      {&Families::run<BlockCut>, &BlockCut::instance, {"oree"}, {"ne", "two", "th"}, 0, 1},
      {&Families::run<BlockCut>, &BlockCut::instance, {"oee"}, {"ne", "two", "thr"}, 0, 1, true},
      {&Families::run<BlockDelete>, &BlockDelete::instance, {"oree"}, {"old"}, 0, 1},
      {&Families::run<BlockClear>, &BlockClear::instance, {"o", "", "  ree"}, {"old"}, 0, 1},
  };
  for (auto const& c : cases) {
    EditableView* v = open("one\ntwo\nthree\n");
    WinApp::clipboard->delAll();
    WinApp::clipboard->add(String("old"));
    v->goCursor(c.backwards ? 2 : 0, c.backwards ? 2 : 1, false);
    run<BlockBegin>();
    v->goCursor(c.backwards ? 0 : 2, c.backwards ? 1 : 2, false);
    (this->*c.cmd)(0);
    EXPECT_EQ(lines(*v), c.done);
    EXPECT_EQ(clip(), c.clipboard);
    EXPECT_FALSE(v->hasBlock()) << "the mark is gone";
    EXPECT_EQ(v->getRow(), c.row);
    EXPECT_EQ(v->getCol(), c.col);
    dynamic_cast<ViewCmd*>(c.instance)->_undo();
    EXPECT_EQ(lines(*v), text) << "undo gives the text back";
    EXPECT_EQ(clip(), Lines{"old"}) << "undo gives the clipboard back";
    close();
  }

  // Paste inserts the clipboard and undo takes it out again.
  EditableView* v = open("one\ntwo\nthree\n");
  WinApp::clipboard->delAll();
  WinApp::clipboard->add(String("ne"));
  WinApp::clipboard->add(String("tw"));
  v->goCursor(1, 1, false);
  run<BlockPaste>();
  EXPECT_EQ(lines(*v), (Lines{"one", "tne", "twwo", "three"}));
  BlockPaste::instance._undo();
  EXPECT_EQ(lines(*v), text);

  // A clipboard of whole lines ends on an empty line: undo takes the line
  // breaks out with the text.
  for (long col : {0L, 1L}) {
    WinApp::clipboard->delAll();
    WinApp::clipboard->add(String("ne"));
    WinApp::clipboard->add(String(""));
    v->goCursor(1, col, false);
    run<BlockPaste>();
    EXPECT_EQ(lines(*v), (col == 0 ? Lines{"one", "ne", "two", "three"} : Lines{"one", "tne", "wo", "three"}));
    BlockPaste::instance._undo();
    EXPECT_EQ(lines(*v), text) << "paste at column " << col;
  }

  // Paste with an empty clipboard changes nothing and leaves the block marked.
  WinApp::clipboard->delAll();
  v->goCursor(0, 0, false);
  run<BlockBegin>();
  v->goCursor(1, 0, false);
  run<BlockPaste>();
  EXPECT_EQ(lines(*v), text);
  EXPECT_TRUE(v->hasBlock());
  EXPECT_EQ(v->getBlock().line(), 0);
  run<BlockEndMode>();

  // Without a block the block commands do nothing.
  WinApp::clipboard->add(String("kept"));
  run<BlockCut>();
  run<BlockDelete>();
  EXPECT_EQ(lines(*v), text);
  EXPECT_EQ(clip(), Lines{"kept"});
}

TEST_F(Families, SoftSaveOfAnUnchangedTextWritesNothing) {
  EditableView* v = open("one\n");
  std::string path = dir.file("f.txt");
  {
    zftest::FaultFs fs;
    run<FileSoftSave>();
    EXPECT_EQ(fs.writes(path), 0);
    run<FileHardSave>();
    EXPECT_GT(fs.writes(path), 0) << "a hard save writes all the same";
  }
  v->goCursor(0, 0, false);
  run<EditInsChar>('x');
  ASSERT_TRUE(v->isTextMod());
  run<FileSoftSave>();
  EXPECT_FALSE(v->isTextMod());
  EXPECT_EQ(zftest::readFile(path), "xone\n");
}

TEST_F(Families, AFailedStoreIsReportedAndTheTextStaysModified) {
  struct {
    int err;
    char const* text;  // of the box
  } const cases[] = {{ENOSPC, "could not be written"}, {EACCES, "may not write"}};
  for (auto const& c : cases) {
    EditableView* v = open("one\n");
    v->goCursor(0, 0, false);
    run<EditInsChar>('x');
    WiTestClearCalls();
    giveKeys("enter");
    {
      zftest::FaultFs fs;
      fs.failWrite(1, c.err, "f.txt");
      run<FileHardSave>();
    }
    EXPECT_TRUE(called(c.text)) << c.text;
    EXPECT_TRUE(v->isTextMod());
    EXPECT_EQ(zftest::readFile(dir.file("f.txt")), "one\n");
    close();
  }
}

TEST_F(Families, SaveAsAsksBeforeWritingOverAFile) {
  EditableView* v = open("mine\n", "a.txt");
  std::string other = dir.write("b.txt", "theirs\n");
  giveKeys("\"b.txt\" enter tab enter");  // No
  run<FileSaveAs>();
  EXPECT_EQ(zftest::readFile(other), "theirs\n");
  EXPECT_EQ(str(v->getLabel(false)), dir.file("a.txt"));
  giveKeys("\"b.txt\" enter enter");  // Yes
  run<FileSaveAs>();
  EXPECT_EQ(zftest::readFile(other), "mine\n");
  EXPECT_EQ(str(v->getLabel(false)), "b.txt");
  giveKeys("\"c.txt\" enter");  // a new file: no question
  run<FileSaveAs>();
  EXPECT_EQ(zftest::readFile(dir.file("c.txt")), "mine\n");
  EXPECT_EQ(WiTestKeysLeft(), 0);
}

TEST_F(Families, ReloadAsksBeforeDroppingChanges) {
  EditableView* v = open("one\ntwo\n");
  v->goCursor(1, 2, false);
  run<EditInsChar>('x');
  dir.write("f.txt", "new\nfile\n");
  giveKeys("tab enter");  // No
  run<FileReload>();
  EXPECT_EQ(lines(*v), (Lines{"one", "twxo"}));
  EXPECT_TRUE(v->isTextMod());
  giveKeys("enter");  // Yes
  run<FileReload>();
  EXPECT_EQ(lines(*v), (Lines{"new", "file"}));
  EXPECT_EQ(v->getRow(), 1) << "the cursor stays where it was";
  EXPECT_EQ(v->getCol(), 3);
  EXPECT_EQ(WiTestKeysLeft(), 0);
}

TEST_F(Families, NewTextIsEmptyEditableAndNamedNoname) {
  dir.write("noname", "not read\n");
  run<FileNew>();
  EditableView* v = app->getDesktop()->getCurrEdView();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(str(v->getLabel(false)), "noname");
  EXPECT_EQ(v->sizeOfText(), 0);
  EXPECT_TRUE(v->isTextType(TextEditable));
  EXPECT_FALSE(v->isTextType(TextStream | TextAdmin));
  run<EditInsChar>('n');
  run<FileHardSave>();
  EXPECT_EQ(zftest::readFile(dir.file("noname")), "n\n");
}

TEST_F(Families, OpenAndLoadTwoChosenFiles) {
  dir.write("a.txt", "alpha\n");
  dir.write("b.txt", "beta\n");
  giveKeys("\"a.txt b.txt\" enter");
  run<FileOpen>();
  ASSERT_EQ(app->getDesktop()->getViews(), 2) << "one view each, also on an empty desktop";
  EXPECT_EQ(lines(*app->getDesktop()->getCurrView()), Lines{"beta"});
  EditableView* v = open("gamma\n", "c.txt");
  giveKeys("esc");
  run<FileLoad>();
  EXPECT_EQ(lines(*v), Lines{"gamma"}) << "a cancelled load keeps the text";
  giveKeys("\"a.txt b.txt\" enter");
  run<FileLoad>();
  EXPECT_EQ(app->getDesktop()->getViews(), 3);
  Lines loaded = lines(*v);
  EXPECT_NE(std::find(loaded.begin(), loaded.end(), "alpha"), loaded.end()) << "both loaded into the one view";
  EXPECT_NE(std::find(loaded.begin(), loaded.end(), "beta"), loaded.end());
  EXPECT_EQ(std::find(loaded.begin(), loaded.end(), "gamma"), loaded.end()) << "the old text went";
  EXPECT_EQ(str(v->getLabel(false)), "b.txt");
  EXPECT_EQ(WiTestKeysLeft(), 0);
}

TEST_F(Families, InsertFileAndItsUndo) {
  EditableView* v = open("one\ntwo\n");
  dir.write("ins.txt", "x\ny\n");
  v->goCursor(1, 1, false);
  giveKeys("\"ins.txt\" enter");
  run<FileInsert>();
  EXPECT_EQ(lines(*v), (Lines{"one", "x", "y", "two"}));
  FileInsert::instance._undo();
  EXPECT_EQ(lines(*v), (Lines{"one", "two"}));
}

TEST_F(Families, ChangingTheWorkingDirectoryMovesTheSelectorsAndUndoReturns) {
  std::string start = cwd();
  ASSERT_EQ(str(app->getWorkingDir()), start);
  dir.write("sub/x", "");
  std::string keys;
  for (size_t i = 0; i < start.size() + 4; ++i) keys += "del ";
  giveKeys((keys + "\"" + start + "/sub\" k155 enter").c_str());
  run<FileChgWorkDir>();
  EXPECT_EQ(cwd(), start + "/sub");
  EXPECT_EQ(str(app->getWorkingDir()), start + "/sub") << "the selectors start there";
  FileChgWorkDir::instance._undo();
  EXPECT_EQ(cwd(), start);
  EXPECT_EQ(str(app->getWorkingDir()), start);
}

TEST_F(Families, CommandsThatNeedAViewBeepOnAnEmptyDesktop) {
  struct {
    char const* name;
    void (Families::*cmd)(unsigned char);
  } const cases[] = {
      {"ViewZoom", &Families::run<ViewZoom>},       {"ViewMove", &Families::run<ViewMove>},
      {"ViewSize", &Families::run<ViewSize>},       {"DsktMosaic", &Families::run<DsktMosaic>},
      {"DsktCascade", &Families::run<DsktCascade>}, {"DsktNext", &Families::run<DsktNext>},
      {"DsktPrev", &Families::run<DsktPrev>},       {"FileLoad", &Families::run<FileLoad>},
      {"FileClose", &Families::run<FileClose>},     {"FileSoftSave", &Families::run<FileSoftSave>},
      {"FileSaveAs", &Families::run<FileSaveAs>},   {"HelpOnCmd", &Families::run<HelpOnCmd>},
      {"XRefGo", &Families::run<XRefGo>},           {"BlockBegin", &Families::run<BlockBegin>},
      {"PosCursDown", &Families::run<PosCursDown>}, {"EditInsChar", &Families::run<EditInsChar>},
      {"BlockCopy", &Families::run<BlockCopy>},
  };
  ASSERT_EQ(app->getDesktop()->getViews(), 0);
  for (auto const& c : cases) {
    int before = bells();
    (this->*c.cmd)('a');
    EXPECT_EQ(bells(), before + 1) << c.name;
  }
  EXPECT_EQ(WiTestKeysLeft(), 0);
  int before = bells();
  run<SysDsktRefresh>();
  EXPECT_EQ(bells(), before) << "the redraw runs on an empty desktop";
}

TEST_F(Families, SystemCommandsAndTheSelectionRunOnAnEmptyDesktop) {
  std::string shell = dir.write("shell", "#!/bin/sh\necho ran > " + dir.file("shell.out") + "\n");
  ASSERT_EQ(::chmod(shell.c_str(), 0755), 0);
  zftest::ScopedEnv env("SHELL", shell);
  struct {
    void (Families::*cmd)(unsigned char);
    char const* call;
  } const cases[] = {
      {&Families::run<SysCalculator>, "WiService(calculador)"},
      {&Families::run<SysPrintScreen>, "WiService(_print_scr)"},
      {&Families::run<SysCharSet>, "WiService(_print_ichset)"},
      {&Families::run<SysGotoShell>, "WiService(GoToShell)"},
  };
  for (auto const& c : cases) {
    WiTestClearCalls();
    (this->*c.cmd)(0);
    EXPECT_TRUE(called(c.call)) << c.call;
  }
  EXPECT_EQ(zftest::readFile(dir.file("shell.out")), "ran\n") << "the shell service ran the user's shell";
  giveKeys("esc");
  run<DsktSelect>();
  EXPECT_EQ(bells(), 0) << "the selection runs on an empty desktop";
}

TEST_F(Families, ZoomTwiceGivesTheViewItsPlaceBack) {
  EditableView* v = open("one\n");
  long row = v->orgRowPos(), col = v->orgColumn(), h = v->getHeight(), w = v->getWidth();
  run<ViewZoom>();
  EXPECT_EQ(v->getHeight(), Window::rootWindow()->height() - 4);
  EXPECT_EQ(v->getWidth(), Window::rootWindow()->width() - 2);
  run<ViewZoom>();
  EXPECT_EQ(v->orgRowPos(), row);
  EXPECT_EQ(v->orgColumn(), col);
  EXPECT_EQ(v->getHeight(), h);
  EXPECT_EQ(v->getWidth(), w);
}

TEST_F(Families, HelpIndexListsEveryCommandAndOneWithoutALabelUnderItsName) {
  app->hidden = "BlockCopy";
  WiTestClearCalls();
  giveKeys("esc");
  run<HelpIndex>();
  ASSERT_EQ(winkit_cmd::helpIndexSize(), 68) << "a missing label does not end the list";
  EXPECT_TRUE(called("Help index (68)"));
  for (long i = 0; i < 68; ++i) {
    String label = winkit_cmd::helpIndexLabel(i);
    ASSERT_FALSE(label.isHighest()) << i;
    if (i == BlockCopy::cmdId)
      EXPECT_EQ(str(label), "BlockCopy");
    else
      EXPECT_EQ(str(label), str(WinApp::wappDispMsg(WinCmd::getName(i)))) << i;
  }
  EXPECT_TRUE(winkit_cmd::helpIndexLabel(68).isHighest());
  EXPECT_EQ(app->getDesktop()->getViews(), 0) << "nothing chosen";
  // Choosing an entry shows that command's help.
  giveKeys("down enter");
  run<HelpIndex>();
  ASSERT_EQ(app->getDesktop()->getViews(), 1);
  View* hv = app->getDesktop()->getCurrView();
  ASSERT_NE(hv->helpView(), nullptr);
  EXPECT_EQ(str(hv->getLabel(false)), str(WinApp::wappDispMsg(WinCmd::getName(1))));
}

TEST_F(Families, HelpOnTheWordUnderTheCursor) {
  EditableView* v = open("BlockCopy  x\n");
  v->goCursor(0, 10, false);
  int before = bells();
  run<HelpOnCmd>();
  EXPECT_EQ(bells(), before + 1) << "a blank names nothing";
  EXPECT_EQ(app->getDesktop()->getViews(), 1);
  v->goCursor(0, 2, false);
  run<HelpOnCmd>();
  ASSERT_EQ(app->getDesktop()->getViews(), 2);
  View* hv = app->getDesktop()->getCurrView();
  ASSERT_NE(hv->helpView(), nullptr);
  EXPECT_EQ(str(hv->getLabel(false)), "Copy block");
  // Outside a reference, following one does nothing.
  run<XRefGo>();
  EXPECT_EQ(app->getDesktop()->getViews(), 2);
}

}  // namespace
