// The editing commands: type, delete and split text in the current editable
// view and switch its modes. The EditCmd base lifts a marked block before
// the change (laying it again when redo answers false) and rewrites the
// status line; each redo records what its undo needs to reverse that one
// change. Tabs are kept as a tab preceded by fill bytes (0x1F) up to its
// stop, so a deleted tab or fill byte is saved with its "tab cell": the
// characters from the start of its tab stop up to the cursor.
#pragma once
#include <winkit/CmdFamily.h>

class EditInsChar : public EditCmd {
  ZF_WINCMD_PLAIN(EditInsChar)
  bool redo() override;
  void undo() override;

private:
  bool insMode_ = false;
  // Where added text began: line >= 0 when typing past the text's end
  // added lines; line -1 and column >= 0 when it padded the line past its
  // end; both -1 when typed inside a line.
  long addLine_ = -1, addCol_ = -1;
  long linesBefore_ = 0;
  char under_ = 0;  // the character that was under the cursor
  String tabCell_;
};

class EditInsAsciiChar : public EditCmd {
  ZF_WINCMD_PLAIN(EditInsAsciiChar)
  bool redo() override { return true; }
  void undo() override {}

private:
  bool insMode_ = false;
  long addLine_ = -1, addCol_ = -1;
  char under_ = 0;
  String tabCell_;
};

class EditDelChar : public EditCmd {
  ZF_WINCMD_PLAIN(EditDelChar)
  bool redo() override;
  void undo() override;

private:
  char ch_ = 0;  // the deleted character, 0 when the delete joined lines
  bool joined_ = false;
  String tabCell_;
};

class EditDelLine : public EditCmd {
  ZF_WINCMD_PLAIN(EditDelLine)
  bool redo() override;
  void undo() override;

private:
  String saved_;
  long col_ = 0;
};

class EditDelWord : public EditCmd {
  ZF_WINCMD_PLAIN(EditDelWord)
  bool redo() override;
  void undo() override;

private:
  String line_, next_;
  bool joined_ = false;
  long col_ = 0;
};

class EditDelEndOfLine : public EditCmd {
  ZF_WINCMD_PLAIN(EditDelEndOfLine)
  bool redo() override;
  void undo() override;

private:
  String tail_;
};

class EditBackSpace : public EditCmd {
  ZF_WINCMD_PLAIN(EditBackSpace)
  bool redo() override;
  void undo() override;

private:
  char ch_ = 0;  // the character before the cursor (0 in column 0)
  String tabCell_;
  bool joined_ = false;
  long line_ = 0, col_ = 0;
};

class EditEnter : public EditCmd {
  ZF_WINCMD_PLAIN(EditEnter)
  bool redo() override;
  void undo() override;

private:
  long count_ = 0;  // indentation put on the new line
};

class EditAddNewLine : public EditCmd {
  ZF_WINCMD_PLAIN(EditAddNewLine)
  bool redo() override;
  void undo() override;

private:
  long line_ = 0, col_ = 0, count_ = 0;
};

class EditInsNewLine : public EditCmd {
  ZF_WINCMD_PLAIN(EditInsNewLine)
  bool redo() override;
  void undo() override;

private:
  long line_ = 0, col_ = 0, count_ = 0;
};

class EditJoinLines : public EditCmd {
  ZF_WINCMD_PLAIN(EditJoinLines)
  bool redo() override;
  void undo() override;

private:
  long line_ = 0, col_ = 0;
};

class EditTab : public EditCmd {
  ZF_WINCMD_PLAIN(EditTab)
  bool redo() override;
  void undo() override;
};

class EditBackTab : public EditCmd {
  ZF_WINCMD_PLAIN(EditBackTab)
  bool redo() override;
  void undo() override;
};

class ChgInsMode : public EditCmd {
  ZF_WINCMD_PLAIN(ChgInsMode)
  bool redo() override;
  void undo() override;
};

class ChgCtrolMode : public EditCmd {
  ZF_WINCMD_PLAIN(ChgCtrolMode)
  bool redo() override;
  void undo() override {}
};
