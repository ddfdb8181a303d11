// The system commands: services of the terminal layer run by name
// (calculator, screen print, character-set print, shell) and a full redraw.
// They run on an empty desktop too; redo answers false, undo does nothing.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_SYS_COMMAND(C)        \
  class C : public EmptyDesktopCmd { \
    ZF_WINCMD_PLAIN(C)               \
    bool redo() override;            \
    void undo() override {}          \
  };

WINKIT_SYS_COMMAND(SysCalculator)
WINKIT_SYS_COMMAND(SysPrintScreen)
WINKIT_SYS_COMMAND(SysCharSet)
WINKIT_SYS_COMMAND(SysGotoShell)
WINKIT_SYS_COMMAND(SysDsktRefresh)

#undef WINKIT_SYS_COMMAND
