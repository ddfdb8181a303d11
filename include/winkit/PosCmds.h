// The cursor-movement commands: each moves the cursor of the current view
// by one operation of View; the PosCmd base records the cursor first, keeps
// a marked block's anchor so the region follows the cursor, and rewrites
// the status line. Every redo answers true; undo is the base's.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_POS_COMMAND(C) \
  class C : public PosCmd {   \
    ZF_WINCMD_PLAIN(C)        \
    bool redo() override;     \
  };

WINKIT_POS_COMMAND(PosCursDown)
WINKIT_POS_COMMAND(PosCursUp)
WINKIT_POS_COMMAND(PosCursLeft)
WINKIT_POS_COMMAND(PosPageUp)
WINKIT_POS_COMMAND(PosPageDown)
WINKIT_POS_COMMAND(PosCursRight)
WINKIT_POS_COMMAND(PosWordRight)
WINKIT_POS_COMMAND(PosWordLeft)
WINKIT_POS_COMMAND(PosBegOfLine)
WINKIT_POS_COMMAND(PosEndOfLine)
WINKIT_POS_COMMAND(PosBegOfFile)
WINKIT_POS_COMMAND(PosEndOfFile)
WINKIT_POS_COMMAND(PosBegOfScr)
WINKIT_POS_COMMAND(PosMidOfScr)
WINKIT_POS_COMMAND(PosEndOfScr)

#undef WINKIT_POS_COMMAND
