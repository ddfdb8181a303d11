// The desktop commands: zoom, move and size the current view, make another
// view current, tile or cascade the views. DsktSelect also runs on an empty
// desktop; the others beep there. Every redo answers false; undo does
// nothing.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_DESKTOP_COMMAND(C, Base) \
  class C : public Base {               \
    ZF_WINCMD_PLAIN(C)                  \
    bool redo() override;               \
    void undo() override {}             \
  };

WINKIT_DESKTOP_COMMAND(ViewZoom, NoEmptyDesktopCmd)
WINKIT_DESKTOP_COMMAND(ViewMove, NoEmptyDesktopCmd)
WINKIT_DESKTOP_COMMAND(ViewSize, NoEmptyDesktopCmd)
WINKIT_DESKTOP_COMMAND(DsktMosaic, NoEmptyDesktopCmd)
WINKIT_DESKTOP_COMMAND(DsktCascade, NoEmptyDesktopCmd)
WINKIT_DESKTOP_COMMAND(DsktNext, NoEmptyDesktopCmd)
WINKIT_DESKTOP_COMMAND(DsktPrev, NoEmptyDesktopCmd)
WINKIT_DESKTOP_COMMAND(DsktSelect, EmptyDesktopCmd)

#undef WINKIT_DESKTOP_COMMAND
