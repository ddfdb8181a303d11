// The desktop commands: zoom, move and size the current view, make another
// view current, tile or cascade the views. DsktSelect also runs on an empty
// desktop; the others beep there. Every redo answers false; undo does
// nothing.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_DESKTOP_COMMAND(C, Base, key) \
  class C : public Base {                    \
    ZF_WINCMD_PLAIN(C)                       \
    bool redo() override;                    \
    void undo() override {}                  \
  };

WINKIT_DESKTOP_COMMAND(ViewZoom, NoEmptyDesktopCmd, 0x83)
WINKIT_DESKTOP_COMMAND(ViewMove, NoEmptyDesktopCmd, 0x9B4D)
WINKIT_DESKTOP_COMMAND(ViewSize, NoEmptyDesktopCmd, 0x9B5A)
WINKIT_DESKTOP_COMMAND(DsktMosaic, NoEmptyDesktopCmd, 0x9B6D)
WINKIT_DESKTOP_COMMAND(DsktCascade, NoEmptyDesktopCmd, 0x9B63)
WINKIT_DESKTOP_COMMAND(DsktNext, NoEmptyDesktopCmd, 0x9B6E)
WINKIT_DESKTOP_COMMAND(DsktPrev, NoEmptyDesktopCmd, 0x9B70)
WINKIT_DESKTOP_COMMAND(DsktSelect, EmptyDesktopCmd, 0x9B6C)

#undef WINKIT_DESKTOP_COMMAND

