// The block commands: mark a region of the current editable view, copy or
// cut it to the application's clipboard, paste the clipboard, delete or
// blank the region. What a command replaces (the old clipboard, removed
// text) goes to its own Log so that its undo can put it back.
#pragma once
#include <winkit/CmdFamily.h>
#include <winkit/Log.h>

class BlockBegin : public NoEmptyDesktopCmd {
  ZF_WINCMD_PLAIN(BlockBegin)
  bool redo() override;
  void undo() override;
};

class BlockEndMode : public BlockCmd {
  ZF_WINCMD_PLAIN(BlockEndMode)
  bool redo(TextCursor& anchor) override;
  void undo() override {}
};

class BlockCopy : public BlockCmd {
  ZF_WINCMD_PLAIN(BlockCopy)
  bool redo(TextCursor& anchor) override;
  void undo() override;

private:
  Log log_;  // the clipboard before the copy
};

class BlockCut : public BlockCmd {
  ZF_WINCMD_PLAIN(BlockCut)
  bool redo(TextCursor& anchor) override;
  void undo() override;

private:
  Log log_;  // the clipboard before the cut
  long curLine_ = 0, curCol_ = 0;
};

class BlockPaste : public EditCmd {
  ZF_WINCMD_PLAIN(BlockPaste)
  bool redo() override;
  void undo() override;

private:
  long endLine_ = 0, endCol_ = 0;  // the last pasted character
};

class BlockDelete : public BlockCmd {
  ZF_WINCMD_PLAIN(BlockDelete)
  bool redo(TextCursor& anchor) override;
  void undo() override;

private:
  Log log_;  // the deleted region
  long curLine_ = 0, curCol_ = 0;
};

class BlockClear : public BlockCmd {
  ZF_WINCMD_PLAIN(BlockClear)
  bool redo(TextCursor& anchor) override;
  void undo() override;

private:
  Log log_;  // the blanked region
  long ancLine_ = 0, ancCol_ = 0;
  long curLine_ = 0, curCol_ = 0;
};
