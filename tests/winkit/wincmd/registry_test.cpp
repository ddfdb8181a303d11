// The command registry (full, duplicate names, ids out of range, default
// keys) and how the command bases run a command: desktop commands on an
// empty desktop, block and edit commands around a marked block, and view
// commands in a view that cannot edit.
#include <deque>
#include <sstream>
#include <string>

#include "../winapp/FrameSupport.h"
#include "ChildRun.h"

namespace {

using zftest::FrameTest;

// Probes of each base: they count clear and redo and answer `result`.
template <class Base>
struct Probe : Base {
  int clears = 0, redos = 0;
  bool result = true;
  void clear() override { ++clears; }
  long id() const override { return -1; }
  WinCmd* clone() override { return nullptr; }
  void undo() override {}
};

struct DeskProbe : Probe<NoEmptyDesktopCmd> {
  bool redo() override { return ++redos, result; }
};
struct EmptyProbe : Probe<EmptyDesktopCmd> {
  bool redo() override { return ++redos, result; }
};
struct EditProbe : Probe<EditCmd> {
  bool redo() override { return ++redos, result; }
};
struct BlockProbe : Probe<BlockCmd> {
  long anchorLine = -1, anchorCol = -1;
  bool redo(TextCursor& anchor) override {
    anchorLine = anchor.line();
    anchorCol = anchor.column();
    return ++redos, result;
  }
};

TEST(Registry, FullRegistryDuplicatesAndIdsOutOfRange) {
  zftest::RunResult r = zftest::runInChild([] {
    std::ostringstream bad;
    auto check = [&bad](bool ok, char const* what) {
      if (!ok) bad << what << "\n";
    };
    static std::deque<std::string> names;
    EmptyProbe probe, other;
    long n = 0;
    while (!WinCmd::getName(n).isNull()) ++n;
    check(n > 0 && n < WinCmd::kMaxCmds, "the families registered");
    // A name registered again keeps its command and answers its id.
    long id = WinCmd::findCmd("PosCursDown");
    WinCmd* before = WinCmd::getCmd(id);
    check(WinCmd::addCmd("PosCursDown", &other) == id && WinCmd::getCmd(id) == before, "duplicate name");
    // Default keys: a key-less command gets its id | 0x8000.
    long ev = 0;
    long keyless = WinCmd::registerCmd("ProbeKeyless", &probe, 0, ev);
    check(keyless == n && ev == (keyless | 0x8000) && WinCmd::getEventId(keyless) == ev, "key-less event id");
    long keyed = WinCmd::registerCmd("ProbeKeyed", &probe, 0x9A84, ev);
    check(keyed == n + 1 && ev == 0x9A84, "keyed event id");
    for (long i = n + 2; i < WinCmd::kMaxCmds; ++i) {
      names.push_back("Probe" + std::to_string(i));
      check(WinCmd::addCmd(names.back().c_str(), &probe) == i, "ids fill upwards without gaps");
    }
    check(WinCmd::addCmd("OneTooMany", &probe) == -1, "the 256th registration");
    check(WinCmd::registerCmd("OneTooMany", &probe, 0, ev) == -1 && ev == -1, "event id of a failed registration");
    check(WinCmd::addCmd("ProbeKeyed", &other) == keyed, "a duplicate when full");
    check(WinCmd::getCmd(254) == &probe, "getCmd(254)");
    check(WinCmd::getCmd(255) == nullptr && WinCmd::getCmd(-1) == nullptr, "getCmd out of range");
    check(WinCmd::getName(300).isNull() && WinCmd::getName(-1).isNull(), "getName out of range");
    check(WinCmd::getEventId(255) == -1 && WinCmd::findCmd("OneTooMany") == -1, "lookups of what is not there");
    std::string out = bad.str();
    std::fputs(out.c_str(), stdout);
    return out.empty() ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

class CmdBases : public FrameTest {};

TEST_F(CmdBases, DesktopCommandOnAnEmptyDesktop) {
  DeskProbe needsView;
  EmptyProbe anyDesk;
  open("f");
  needsView.execute('z', app.get());
  EXPECT_EQ(needsView.key(), 'z');
  desk().delCurrent();
  needsView.execute('a', app.get());
  EXPECT_EQ(bells(), 1);
  EXPECT_EQ(needsView.clears, 1) << "no clear on an empty desktop";
  EXPECT_EQ(needsView.redos, 1);
  EXPECT_EQ(needsView.key(), 'z') << "the key is not stored";
  anyDesk.execute(0x81, app.get());
  EXPECT_EQ(anyDesk.clears, 1);
  EXPECT_EQ(anyDesk.redos, 1);
  EXPECT_EQ(anyDesk.key(), 0x81) << "keys are carried unsigned";
  EXPECT_EQ(bells(), 1);
}

TEST_F(CmdBases, BlockCommandGetsTheAnchorAndAFailureKeepsTheBlock) {
  EditableView* v = open("f");
  BlockProbe block;
  block.execute(0, app.get());
  EXPECT_EQ(block.redos, 0) << "no block: redo is not called";
  v->cursRight(2);
  v->beginBlock();
  v->cursDown(1);
  block.result = false;
  block.execute(0, app.get());
  EXPECT_EQ(block.redos, 1);
  EXPECT_EQ(block.anchorLine, 0);
  EXPECT_EQ(block.anchorCol, 2);
  ASSERT_TRUE(v->hasBlock()) << "false from redo lays the block again";
  EXPECT_EQ(v->getBlock().line(), 0);
  EXPECT_EQ(v->getBlock().column(), 2);
  block.result = true;
  block.execute(0, app.get());
  EXPECT_FALSE(v->hasBlock());
}

TEST_F(CmdBases, EditCommandThatFailsLeavesTheBlockAsItWas) {
  EditableView* v = open("f");
  EditProbe edit;
  v->beginBlock();
  v->cursDown(2);
  edit.result = false;
  edit.execute('x', app.get());
  ASSERT_TRUE(v->hasBlock());
  EXPECT_EQ(v->getBlock().line(), 0);
  edit.result = true;
  edit.execute('x', app.get());
  EXPECT_EQ(edit.redos, 2);
  EXPECT_FALSE(v->hasBlock());
  // Without a block redo runs as well.
  edit.execute('x', app.get());
  EXPECT_EQ(edit.redos, 3);
}

// A view that cannot edit (a plain view) answers editing keys with a beep.
TEST_F(CmdBases, EditingKeysInAViewThatCannotEditBeep) {
  auto* plain = new View(String(dir.write("plain", "text\n").c_str()));
  ASSERT_TRUE(app->addView(plain, nullptr, -1, -1, -1, -1));
  EditProbe edit;
  BlockProbe block;
  edit.execute('x', app.get());
  block.execute(0, app.get());
  EXPECT_EQ(edit.redos + block.redos, 0);
  EXPECT_EQ(bells(), 2);
}

}  // namespace
