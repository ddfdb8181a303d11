// The system commands: services of the terminal layer run by name
// (calculator, screen print, character-set print, shell) and a full redraw.
// They run on an empty desktop too; redo answers false, undo does nothing.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_SYS_COMMAND(C, key) \
  class C : public EmptyDesktopCmd { \
    ZF_WINCMD_PLAIN(C)             \
    bool redo() override;          \
    void undo() override {}        \
  };

WINKIT_SYS_COMMAND(SysCalculator, 0)
WINKIT_SYS_COMMAND(SysPrintScreen, 0)
WINKIT_SYS_COMMAND(SysCharSet, 0)
WINKIT_SYS_COMMAND(SysGotoShell, 0x9A7A)
WINKIT_SYS_COMMAND(SysDsktRefresh, 0x9A52)

#undef WINKIT_SYS_COMMAND

