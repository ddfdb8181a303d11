// The system commands, registered in the order of their table.
#include <winkit/SysCmds.h>

#include <winkit/Window.h>

using winkit_cmd::bindDefault;

ZF_WINCMD_DEFINE(SysCalculator)
ZF_WINCMD_REGISTER(SysCalculator, 0)
ZF_WINCMD_DEFINE(SysPrintScreen)
ZF_WINCMD_REGISTER(SysPrintScreen, 0)
ZF_WINCMD_DEFINE(SysCharSet)
ZF_WINCMD_REGISTER(SysCharSet, 0)
ZF_WINCMD_DEFINE(SysGotoShell)
ZF_WINCMD_REGISTER(SysGotoShell, 0x9A7A)
ZF_WINCMD_DEFINE(SysDsktRefresh)
ZF_WINCMD_REGISTER(SysDsktRefresh, 0x9A52)

bool SysCalculator::redo() {
  Window::execService(String("calculador"));
  return false;
}

bool SysPrintScreen::redo() {
  Window::execService(String("_print_scr"));
  return false;
}

bool SysCharSet::redo() {
  Window::execService(String("_print_ichset"));
  return false;
}

bool SysGotoShell::redo() {
  Window::execService(String("GoToShell"));
  return false;
}

bool SysDsktRefresh::redo() {
  Window::redraw();
  return false;
}

void bindSysCmds(CmdBinding* b) {
  bindDefault<SysCalculator>(b);
  bindDefault<SysCharSet>(b);
  bindDefault<SysPrintScreen>(b);
  bindDefault<SysGotoShell>(b);
  bindDefault<SysDsktRefresh>(b);
}
