// Binding functions of the command families not yet in this tree: weak, so
// that a family's own definition replaces each.
#include <winkit/WinCmd.h>

__attribute__((weak)) void bindPosCmds(CmdBinding*) {}
__attribute__((weak)) void bindEditCmds(CmdBinding*) {}
__attribute__((weak)) void bindBlockCmds(CmdBinding*) {}
__attribute__((weak)) void bindFileCmds(CmdBinding*) {}
__attribute__((weak)) void bindDesktopCmds(CmdBinding*) {}
__attribute__((weak)) void bindSysCmds(CmdBinding*) {}
