// The desktop commands, registered in the order of their table.
#include <winkit/DesktopCmds.h>

#include <winkit/Desktop.h>
#include <winkit/View.h>
#include <winkit/WinApp.h>

using winkit_cmd::bindDefault;
using winkit_cmd::deskView;

ZF_WINCMD_DEFINE(ViewZoom)
ZF_WINCMD_REGISTER(ViewZoom, 0x83)
ZF_WINCMD_DEFINE(ViewMove)
ZF_WINCMD_REGISTER(ViewMove, 0x9B4D)
ZF_WINCMD_DEFINE(ViewSize)
ZF_WINCMD_REGISTER(ViewSize, 0x9B5A)
ZF_WINCMD_DEFINE(DsktMosaic)
ZF_WINCMD_REGISTER(DsktMosaic, 0x9B6D)
ZF_WINCMD_DEFINE(DsktCascade)
ZF_WINCMD_REGISTER(DsktCascade, 0x9B63)
ZF_WINCMD_DEFINE(DsktNext)
ZF_WINCMD_REGISTER(DsktNext, 0x9B6E)
ZF_WINCMD_DEFINE(DsktPrev)
ZF_WINCMD_REGISTER(DsktPrev, 0x9B70)
ZF_WINCMD_DEFINE(DsktSelect)
ZF_WINCMD_REGISTER(DsktSelect, 0x9B6C)

bool ViewZoom::redo() {
  View* v = deskView(app_);
  if (v->inOrgSize()) {
    Window* root = Window::rootWindow();
    v->setSize(1, 1, root->height() - 4, root->width() - 2);
  } else {
    v->setOrgSize();
  }
  return false;
}

bool ViewMove::redo() {
  deskView(app_)->move();
  return false;
}

bool ViewSize::redo() {
  deskView(app_)->resize();
  return false;
}

bool DsktMosaic::redo() {
  app_->getDesktop()->tile();
  return false;
}

bool DsktCascade::redo() {
  app_->getDesktop()->cascade();
  return false;
}

bool DsktNext::redo() {
  app_->getDesktop()->next();
  return false;
}

bool DsktPrev::redo() {
  app_->getDesktop()->prev();
  return false;
}

bool DsktSelect::redo() {
  app_->getDesktop()->select();
  return false;
}

void bindDesktopCmds(CmdBinding* b) {
  bindDefault<ViewMove>(b);
  bindDefault<ViewSize>(b);
  bindDefault<ViewZoom>(b);
  bindDefault<DsktNext>(b);
  bindDefault<DsktPrev>(b);
  bindDefault<DsktSelect>(b);
  bindDefault<DsktMosaic>(b);
  bindDefault<DsktCascade>(b);
}
