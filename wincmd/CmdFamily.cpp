// The services the command families share.
#include <winkit/CmdFamily.h>

#include <winkit/Desktop.h>
#include <winkit/Panel.h>
#include <winkit/View.h>
#include <winkit/WinApp.h>

#include <zfound/Message.h>

namespace winkit_cmd {

View* deskView(WinApp* app) { return app->getDesktop()->getCurrView(); }

EditableView* deskEdView(WinApp* app) { return app->getDesktop()->getCurrEdView(); }

void errorBox(char const* key, long height, long width, long row, long col) {
  MsgBox box(libMsg("ERR", "Error"), WinApp::wappErrMsg(key), height, width, row, col);
  box.execute(0);
  box.unDisplay();
}

bool askYes(String const& message) {
  MLDBox box(libMsg("MESSAGE", "Message"), message, 0);
  box.execute(0);
  box.unDisplay();
  return box.getOpt() == 0;
}

}  // namespace winkit_cmd
