// WinApp: the application frame, its bindings and its key loop.
#include <winkit/WinApp.h>

#include <winkit/Buttons.h>
#include <winkit/Cell.h>
#include <winkit/CmdBinding.h>
#include <winkit/Desktop.h>
#include <winkit/HelpView.h>
#include <winkit/List.h>
#include <winkit/Menu.h>
#include <winkit/Panel.h>
#include <winkit/View.h>
#include <winkit/WinCmd.h>
#include <winkit/Window.h>

#include <zfound/Assert.h>
#include <zfound/BuildInfo.h>
#include <zfound/Format.h>
#include <zfound/LibraryInfo.h>
#include <zfound/MsgTable.h>
#include <zfound/Report.h>

#include <unistd.h>

#include <cerrno>
#include <string>

StringList* WinApp::clipboard = nullptr;
MsgTable* WinApp::wappMsg_ = nullptr;
MsgTable* WinApp::wappErrMsg_ = nullptr;
MsgTable* WinApp::wappDispMsg_ = nullptr;
MsgTable* WinApp::wappHlpMsg_ = nullptr;
MsgTable* WinApp::wappHlpLabelMsg_ = nullptr;

namespace {

// Pseudo ids of the special-key binding.
constexpr long kUnbound = -1;
constexpr long kPrefix = -2;
constexpr long kMenuBar = -3;
constexpr long kLeave = -4;
constexpr long kHelpMode = -5;

constexpr unsigned char kHelpKey = 148;

// The toolkit's build text, registered once as "libwinkit".
struct Registration {
  Registration() { LibraryInfo("libwinkit", ZF_BUILD_INFO_TEXT); }
};

// The working directory, whatever its length (empty when it cannot be read).
String currentDirectory() {
  std::string buf(256, '\0');
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return String(buf.c_str());
    if (errno != ERANGE || buf.size() >= (size_t(1) << 20)) return String();
    buf.resize(buf.size() * 2);
  }
}

// The table of a section of "winapp", opened on first use.
MsgTable& table(MsgTable*& t, char const* section, bool quiet) {
  if (!t) t = new MsgTable(String("winapp"), String(section), quiet);
  return *t;
}

// The default keys of the commands that work in help views.
char const* const kHelpViewCmds[] = {"BlockBegin", "BlockEndMode", "BlockCopy", "FileClose",
                                     "HelpOnCmd",  "XRefNext",     "XRefPrev",  "XRefGo"};

}  // namespace

void foolink() { static Registration once; }

WinApp::WinApp(String const&) {
  foolink();
  appBinding_ = new CmdBinding;
  helpBinding_ = new CmdBinding;
  defViewBinding_ = new CmdBinding;
  specialKeyBinding_ = new CmdBinding;
  desktop_ = new Desktop(10, 4);
  menuBar_ = new PullDownMenu(0, 0, 1, 0);
  if (!clipboard) clipboard = new StringList(String());
  Window::setRaw(1);
  Window* root = Window::rootWindow();
  long H = root->height(), W = root->width();
  background_ = new Window(1, 1, H - 2, W, 0, String(), 0);
  String line(W, static_cast<char>(0xFF));
  background_->wrap(true);
  for (long i = 0; i < H - 3; ++i) *background_ << line;
  background_->wrap(false);
  *background_ << line;
  background_->wrap(true);
  background_->goTo(0, 0);
  Window::refresh();
  View::setViewPar(background_);
  workingDir_ = currentDirectory();
}

WinApp::~WinApp() {
  // The views first: they live in the background window.
  delete desktop_;
  desktop_ = nullptr;
  View::setViewPar(nullptr);
  delete background_;
  delete clipboard;
  clipboard = nullptr;
  delete menuBar_;
  delete helpBinding_;
  delete appBinding_;
  delete defViewBinding_;
  delete specialKeyBinding_;
}

void WinApp::loadMenus() {}

void WinApp::bindCmds() {
  bindSysCmds(appBinding_);
  bindPosCmds(defViewBinding_);
  bindEditCmds(defViewBinding_);
  bindBlockCmds(defViewBinding_);
  specialKeyBinding_->bind(kHelpKey, kHelpMode);
  bindPosCmds(helpBinding_);
  for (char const* name : kHelpViewCmds) {
    long id = WinCmd::findCmd(name);
    if (id >= 0) helpBinding_->bind(WinCmd::getEventId(id), id);
  }
  specialKeyBinding_->bind(0x9B78, kLeave);
  specialKeyBinding_->bind(0x9B58, kLeave);
  specialKeyBinding_->bind(155, kPrefix);
  specialKeyBinding_->bind(154, kPrefix);
}

bool WinApp::init() {
  bindCmds();
  loadMenus();
  menuBar_->display(0, 0);
  return true;
}

String WinApp::getHlpContents(String const& name) { return wappHlpMsg(name); }
String WinApp::getHlpLabel(String const& name) { return wappHlpLabelMsg(name); }
void WinApp::newFile(String const&) {}
void WinApp::openFile(String const&) {}
void WinApp::loadFile(String const&) {}
void WinApp::saveFile(String const&) {}
ZqlApp* WinApp::zqlApp() { return nullptr; }

Desktop* WinApp::getDesktop() const {
  ZF_ASSERT_TEXT(desktop_ != nullptr, "desktop != (0)");
  return desktop_;
}
CmdBinding* WinApp::getAppBinding() const {
  ZF_ASSERT_TEXT(appBinding_ != nullptr, "appBinding != (0)");
  return appBinding_;
}
CmdBinding* WinApp::getDefViewBinding() const {
  ZF_ASSERT_TEXT(defViewBinding_ != nullptr, "defViewBinding != (0)");
  return defViewBinding_;
}
CmdBinding* WinApp::getHlpBinding() const {
  ZF_ASSERT_TEXT(helpBinding_ != nullptr, "helpBinding != (0)");
  return helpBinding_;
}
CmdBinding* WinApp::getSpecialKeyBinding() const {
  ZF_ASSERT_TEXT(specialKeyBinding_ != nullptr, "specialKeyBinding != (0)");
  return specialKeyBinding_;
}

bool WinApp::addView(View* v, CmdBinding* b, long row, long col, long height, long width) {
  v->setCmdBinding(b ? b : defViewBinding_);
  return desktop_->add(v, row, col, height, width);
}

void WinApp::addHelpView(String const& name) {
  String contents = getHlpContents(name);
  String label = getHlpLabel(name);
  if (contents.isHighest() || label.isHighest()) {
    beep();
    String text = doFormat(wappDispMsg("HELPNOTAVAILABLE"), toCharPtr(name));
    MsgBox box(libMsg("ERROR"), text, 5, 50, -1, -1);
    box.execute(0);
    return;
  }
  // The open help view of this command, if any.
  for (long i = desktop_->getViews() - 1; i >= 0; --i) {
    View* v = desktop_->viewAt(i);
    if (v->helpView() && v->getTextName() == name) {
      desktop_->setAsCurrent(v);
      return;
    }
  }
  addView(new HelpView(name, contents, label, this), helpBinding_, -1, -1, -1, -1);
}

long WinApp::dialogLine(String const& prompt, String& result, StrHistory* history) {
  long H = Window::rootWindow()->height(), W = Window::rootWindow()->width();
  long plen = prompt.length();
  Label label(prompt, H, 1, plen, 0);
  label.display(H, 1);
  StrCell cell(160, W - plen - 5, 0, H, plen + 4, history);
  long r = cell.execute(0);
  long answer = -1;
  if (r == 0 || r == 1) {
    result = cell.value();
    answer = 0;
  }
  return answer;
}

View* WinApp::displayedView() const {
  View* v = desktop_ && desktop_->getActiveViews() > 0 ? desktop_->currentOrNull() : nullptr;
  return v && !v->hidden() ? v : nullptr;
}

unsigned char WinApp::getKey() {
  if (View* v = displayedView()) return v->getKey();
  unsigned char k = 0;
  *background_ >> k;
  return k;
}

long WinApp::sense(unsigned short& key) {
  bool helpMode = false;
  key = 0;
  for (;;) {
    unsigned char byte = getKey();
    key = static_cast<unsigned short>((key << 8) | byte);
    long special = specialKeyBinding_->getCmdId(key);
    switch (special) {
      case kPrefix: continue;
      case kLeave: key = 0; return -1;
      case kHelpMode:
        beep();
        helpMode = !helpMode;
        if (View* v = displayedView()) v->chgHelpMode();
        key = 0;
        continue;
      case kMenuBar: {
        long r = menuBar_->execute(static_cast<unsigned char>(key & 0xFF));
        long value = menuBar_->currOpt();
        if (r == -1 || value == -1) {
          key = 0;
          continue;
        }
        if (menuBar_->lastKey() == kHelpKey) {
          long id = getCmdId(value);
          if (id >= 0) addHelpView(WinCmd::getName(id));
          key = 0;
          continue;
        }
        if (value == kLeave) return -1;
        return value;
      }
      default: break;
    }
    if (!helpMode) return key;
    if (View* v = displayedView()) v->chgHelpMode();
    long id = getCmdId(key);
    if (id >= 0) addHelpView(WinCmd::getName(id));
    helpMode = false;
    key = 0;
  }
}

long WinApp::getCmdId(long event) {
  long id = kUnbound;
  if (View* v = displayedView())
    if (CmdBinding const* b = v->getCmdBinding()) id = b->getCmdId(event);
  if (id == kUnbound) id = appBinding_->getCmdId(event);
  return id;
}

long WinApp::execute() {
  for (;;) {
    unsigned short key = 0;
    long e = sense(key);
    if (e == -1) return 0;
    long id = getCmdId(e);
    if (id < 0) {
      beep();
      continue;
    }
    WinCmd* cmd = WinCmd::getCmd(id);
    ZF_ASSERT_TEXT(cmd != nullptr, "WinCmd::getCmd(cmdId) != (0)");
    cmd->execute(static_cast<unsigned char>(key & 0xFF), this);
    Window::refresh();
  }
}

void WinApp::beep() { background_->beep(); }

String WinApp::wappMsg(String const& key) { return table(wappMsg_, "main", false).find(key); }
String WinApp::wappErrMsg(String const& key) { return table(wappErrMsg_, "error", false).find(key); }
String WinApp::wappDispMsg(String const& key) { return table(wappDispMsg_, "disp", false).find(key); }
String WinApp::wappHlpMsg(String const& key) { return table(wappHlpMsg_, "help", true).find(key); }
String WinApp::wappHlpLabelMsg(String const& key) { return table(wappHlpLabelMsg_, "disp", true).find(key); }
