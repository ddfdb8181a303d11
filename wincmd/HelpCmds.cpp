// The help commands, registered in the order of their table.
//
// The help index is built once, on the first HelpIndex, from the registry
// in id order; a command whose "disp" label is missing is listed under its
// name, so that no entry can be the highest String that ends the menu's
// list early.
#include <winkit/HelpCmds.h>

#include <winkit/Desktop.h>
#include <winkit/HelpView.h>
#include <winkit/ScrollMenu.h>
#include <winkit/View.h>
#include <winkit/WinApp.h>

#include <zfound/Assert.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using winkit_cmd::deskView;

ZF_WINCMD_DEFINE(HelpIndex)
ZF_WINCMD_REGISTER(HelpIndex, 0)
ZF_WINCMD_DEFINE(HelpHelp)
ZF_WINCMD_REGISTER(HelpHelp, 0)
ZF_WINCMD_DEFINE(HelpOnCmd)
ZF_WINCMD_REGISTER(HelpOnCmd, 0x9A94)
ZF_WINCMD_DEFINE(XRefNext)
ZF_WINCMD_REGISTER(XRefNext, 0x92)
ZF_WINCMD_DEFINE(XRefPrev)
ZF_WINCMD_REGISTER(XRefPrev, 0x9A92)
ZF_WINCMD_DEFINE(XRefGo)
ZF_WINCMD_REGISTER(XRefGo, 0x84)

namespace {

struct IndexEntry {
  String name;
  String label;
};

// Built on the first HelpIndex; never freed.
std::vector<IndexEntry>* fhitems = nullptr;

String const indexLine(long n) { return winkit_cmd::helpIndexLabel(n); }

// The current view as a help view; a beep and null when it is another view
// (a menu may reach these commands from any view).
HelpView* currHelpView(WinApp* app) {
  HelpView* hv = deskView(app)->helpView();
  if (!hv) app->beep();
  return hv;
}

}  // namespace

namespace winkit_cmd {

long helpIndexSize() { return fhitems ? static_cast<long>(fhitems->size()) : 0; }

String const helpIndexLabel(long n) {
  if (!fhitems || n < 0 || n >= helpIndexSize()) return ScrollMenu::highest();
  return (*fhitems)[static_cast<size_t>(n)].label;
}

}  // namespace winkit_cmd

bool HelpIndex::redo() {
  if (!fhitems) {
    fhitems = new std::vector<IndexEntry>;
    for (long i = 0; i < 255; ++i) {
      String name = WinCmd::getName(i);
      if (name.isNull()) break;
      String label = app_->getHlpLabel(name);
      if (label.isHighest() || label.isNull()) label = name;
      fhitems->push_back(IndexEntry{name, label});
    }
  }
  ZF_ASSERT_TEXT(fhitems != nullptr, "fhitems != (0)");
  long n = winkit_cmd::helpIndexSize();
  if (n == 0) return false;
  String title = WinApp::wappDispMsg("HelpIndex") + String(" (") + String(std::to_string(n).c_str()) + String(")");
  ScrollMenu menu(title, indexLine, n < 12 ? n : 12, 78, -1, -1, true);
  menu.execute(0);
  long chosen = menu.currOpt();
  menu.unDisplay();
  if (chosen < 0) return false;
  ZF_ASSERT_TEXT(chosen < n, "isInRange(n)");
  app_->addHelpView((*fhitems)[static_cast<size_t>(chosen)].name);
  return false;
}

bool HelpHelp::redo() {
  app_->addHelpView(String("HelpHelp"));
  return false;
}

bool HelpOnCmd::redo() {
  View* v = deskView(app_);
  String word = v->getToken();
  if (!word.isNull())
    app_->addHelpView(word);
  else
    app_->beep();
  if (v->isActive()) v->redraw();
  return false;
}

bool XRefNext::redo() {
  if (HelpView* hv = currHelpView(app_)) hv->goToNext();
  return false;
}

bool XRefPrev::redo() {
  if (HelpView* hv = currHelpView(app_)) hv->goToPrev();
  return false;
}

bool XRefGo::redo() {
  HelpView* hv = currHelpView(app_);
  if (!hv) return false;
  String key = hv->getXRefKey();
  if (!key.isNull()) app_->addHelpView(key);
  return false;
}
