// The cursor-movement commands: each moves the cursor of the current view
// by one operation of View; the PosCmd base records the cursor first, keeps
// a marked block's anchor so the region follows the cursor, and rewrites
// the status line. Every redo answers true; undo is the base's.
#pragma once
#include <winkit/CmdFamily.h>

#define WINKIT_POS_COMMAND(C, key) \
  class C : public PosCmd {        \
    ZF_WINCMD_PLAIN(C)             \
    bool redo() override;          \
  };

WINKIT_POS_COMMAND(PosCursDown, 0x87)
WINKIT_POS_COMMAND(PosCursUp, 0x85)
WINKIT_POS_COMMAND(PosCursLeft, 0x86)
WINKIT_POS_COMMAND(PosPageUp, 0x89)
WINKIT_POS_COMMAND(PosPageDown, 0x8B)
WINKIT_POS_COMMAND(PosCursRight, 0x88)
WINKIT_POS_COMMAND(PosWordRight, 0x9B88)
WINKIT_POS_COMMAND(PosWordLeft, 0x9B86)
WINKIT_POS_COMMAND(PosBegOfLine, 0x9A86)
WINKIT_POS_COMMAND(PosEndOfLine, 0x9A88)
WINKIT_POS_COMMAND(PosBegOfFile, 0x9A89)
WINKIT_POS_COMMAND(PosEndOfFile, 0x9A8B)
WINKIT_POS_COMMAND(PosBegOfScr, 0x9A85)
WINKIT_POS_COMMAND(PosMidOfScr, 0x9A6D)
WINKIT_POS_COMMAND(PosEndOfScr, 0x9A87)

#undef WINKIT_POS_COMMAND

