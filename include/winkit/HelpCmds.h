// The help commands: the help index, help on help, help on the word under
// the cursor, and the cross references of a help view. HelpIndex and
// HelpHelp run on an empty desktop (reached from menus, no default key); the
// others need a view. redo answers false; undo does nothing.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_HELP_COMMAND(C, Base, key) \
  class C : public Base {                 \
    ZF_WINCMD_PLAIN(C)                    \
    bool redo() override;                 \
    void undo() override {}               \
  };

WINKIT_HELP_COMMAND(HelpIndex, EmptyDesktopCmd, 0)
WINKIT_HELP_COMMAND(HelpHelp, EmptyDesktopCmd, 0)
WINKIT_HELP_COMMAND(HelpOnCmd, NoEmptyDesktopCmd, 0x9A94)
WINKIT_HELP_COMMAND(XRefNext, NoEmptyDesktopCmd, 0x92)
WINKIT_HELP_COMMAND(XRefPrev, NoEmptyDesktopCmd, 0x9A92)
WINKIT_HELP_COMMAND(XRefGo, NoEmptyDesktopCmd, 0x84)

#undef WINKIT_HELP_COMMAND

namespace winkit_cmd {
// The help index's entries (name and label), built on the first HelpIndex
// and kept for the process: their number, and entry n's label (the highest
// String outside the list).
long helpIndexSize();
String const helpIndexLabel(long n);
}  // namespace winkit_cmd
