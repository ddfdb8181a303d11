// The help commands: the help index, help on help, help on the word under
// the cursor, and the cross references of a help view. HelpIndex and
// HelpHelp run on an empty desktop (reached from menus, no default key); the
// others need a view. redo answers false; undo does nothing.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_HELP_COMMAND(C, Base) \
  class C : public Base {            \
    ZF_WINCMD_PLAIN(C)               \
    bool redo() override;            \
    void undo() override {}          \
  };

WINKIT_HELP_COMMAND(HelpIndex, EmptyDesktopCmd)
WINKIT_HELP_COMMAND(HelpHelp, EmptyDesktopCmd)
WINKIT_HELP_COMMAND(HelpOnCmd, NoEmptyDesktopCmd)
WINKIT_HELP_COMMAND(XRefNext, NoEmptyDesktopCmd)
WINKIT_HELP_COMMAND(XRefPrev, NoEmptyDesktopCmd)
WINKIT_HELP_COMMAND(XRefGo, NoEmptyDesktopCmd)

#undef WINKIT_HELP_COMMAND

namespace winkit_cmd {
// The help index's entries (name and label), built on the first HelpIndex
// and kept for the process: their number, and entry n's label (the highest
// String outside the list).
long helpIndexSize();
String const helpIndexLabel(long n);
}  // namespace winkit_cmd
