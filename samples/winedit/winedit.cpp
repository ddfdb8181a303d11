// winedit [FILE...]: a text editor on the toolkit's application frame, with
// no commands of its own. Each FILE opens in an editable view; the menus
// "File", "Edit", "Desktop" and "Help" (prefix 155 with their first letter)
// reach every command family; F3 opens files, prefix 155 "i" shows the help
// index and prefix 155 "x" leaves (status 0).
// Under ZEPH_HEADLESS the keys come from a key script and the screens go to
// ZEPH_SCREEN.
#include <winkit/CmdBinding.h>
#include <winkit/Desktop.h>
#include <winkit/EditView.h>
#include <winkit/Menu.h>
#include <winkit/WinApp.h>
#include <winkit/WinCmd.h>

#include <zeph/Wi.h>

#include <zfound/AppMain.h>
#include <zfound/OptionParser.h>

#include <memory>
#include <vector>

namespace {

constexpr long kOpenKey = 150;
constexpr long kHelpIndexKey = 0x9B69;  // prefix 155, "i"

// The commands each menu offers, in menu order.
char const* const kFileItems[] = {"FileNew",      "FileOpen",     "FileLoad",   "FileReload",
                                  "FileSoftSave", "FileHardSave", "FileSaveAs", "FileSaveAll",
                                  "FileInsert",   "FileChgWorkDir", "FileClose", "FileCloseAll"};
char const* const kEditItems[] = {"BlockBegin",    "BlockEndMode", "BlockCopy",   "BlockCut",      "BlockPaste",
                                  "BlockDelete",   "BlockClear",   "EditDelLine", "EditDelWord",   "EditJoinLines",
                                  "EditInsNewLine", "ChgInsMode",  "ChgCtrolMode", "PosBegOfFile", "PosEndOfFile"};
char const* const kDsktItems[] = {"ViewZoom",   "ViewMove",   "ViewSize",       "DsktMosaic",   "DsktCascade",
                                  "DsktNext",   "DsktPrev",   "DsktSelect",     "SysDsktRefresh", "SysGotoShell",
                                  "SysCalculator", "SysPrintScreen", "SysCharSet"};
char const* const kHelpItems[] = {"HelpIndex", "HelpHelp", "HelpOnCmd"};

class WinEdit : public WinApp {
public:
  WinEdit() : WinApp(String("winedit")) {}

  void bindCmds() override {
    WinApp::bindCmds();
    bindFileCmds(getAppBinding());
    bindDesktopCmds(getAppBinding());
    bindByName(kOpenKey, "FileOpen");
    bindByName(kHelpIndexKey, "HelpIndex");
  }

  void loadMenus() override {
    addMenu("FILE", kFileItems, std::size(kFileItems));
    addMenu("EDIT", kEditItems, std::size(kEditItems));
    addMenu("DSKT", kDsktItems, std::size(kDsktItems));
    addMenu("HELP", kHelpItems, std::size(kHelpItems));
  }

  void openFile(String const& name) override { addView(new EditableView(name), nullptr, -1, -1, -1, -1); }

  void loadFile(String const& name) override {
    if (getDesktop()->getViews() == 0) return;
    if (EditableView* v = getDesktop()->getCurrEdView()) v->insertFile(name);
  }

private:
  void bindByName(long key, char const* name) {
    long id = WinCmd::findCmd(name);
    if (id >= 0) getAppBinding()->bind(key, id);
  }

  // The event code a menu item of command `id` carries: its default key when
  // that key reaches the command, else 0x8000 | id, bound to it.
  long itemCode(long id) {
    long key = WinCmd::getEventId(id);
    if (key >= 0 && (getAppBinding()->getCmdId(key) == id || getDefViewBinding()->getCmdId(key) == id)) return key;
    long code = id | WinCmd::kNoKey;
    getAppBinding()->bind(code, id);
    return code;
  }

  void addMenu(char const* titleKey, char const* const* names, size_t n) {
    String title = wappDispMsg(titleKey);
    auto menu = std::make_unique<PoppableMenu>(-1, -1, true);
    for (size_t i = 0; i < n; ++i) {
      long id = WinCmd::findCmd(names[i]);
      if (id < 0) continue;
      *menu << MenuItem(wappDispMsg(names[i]), itemCode(id), '~', 0);
    }
    getMenuBar()->addItem(MenuItem(title, *menu, '~', 0));
    getSpecialKeyBinding()->bindMenu(title);
    menus_.push_back(std::move(menu));
  }

  std::vector<std::unique_ptr<PoppableMenu>> menus_;
};

}  // namespace

class WinEditProgram : public CVApp {
public:
  static String appName() { return String("winedit"); }
  static String appVersion() { return String("1.0"); }
  static OptionParser* cmdLine() {
    static OptionParser* parser = new OptionParser(false);
    return parser;
  }

  int32_t execute() override {
    long status;
    {
      WinEdit app;
      app.init();
      for (long i = 1; i < argCnt(); ++i) app.openFile(argVal(i));
      Window::refresh();
      status = app.execute();
    }
    WiDisconnect();
    return static_cast<int32_t>(status);
  }
};

ZF_APP_MAIN(WinEditProgram)
