// The file commands: create, open, load, reload, save, insert and close the
// texts of the desktop's views and change the working directory. FileNew,
// FileOpen and FileChgWorkDir run on an empty desktop; the others beep
// there. Names are asked for with the file and directory selectors, which
// start in the application's working directory; failures are shown in a
// message box and end the command.
#pragma once
#include <winkit/CmdFamily.h>

class StrHistory;

// The names chosen with one command class (not owned; null: none) and the
// file pattern its selector offers ("*" until set).
template <class C>
class FileChoice {
public:
  static void setHistory(StrHistory* h) { fileHst = h; }
  static StrHistory* history() { return fileHst; }
  static void setFilter(String const& f) { filterText() = f; }
  static String const& filter() { return filterText(); }

protected:
  static inline StrHistory* fileHst = nullptr;

private:
  static String& filterText() {
    static String f("*");
    return f;
  }
};

class FileNew : public EmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileNew)
  bool redo() override;
  void undo() override {}
};

class FileOpen : public EmptyDesktopCmd, public FileChoice<FileOpen> {
  ZF_WINCMD_PLAIN(FileOpen)
  bool redo() override;
  void undo() override {}
};

class FileLoad : public NoEmptyDesktopCmd, public FileChoice<FileLoad> {
  ZF_WINCMD_PLAIN(FileLoad)
  bool redo() override;
  void undo() override {}
};

class FileReload : public NoEmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileReload)
  bool redo() override;
  void undo() override {}
};

class FileHardSave : public NoEmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileHardSave)
  bool redo() override;
  void undo() override {}
};

class FileSoftSave : public NoEmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileSoftSave)
  bool redo() override;
  void undo() override {}
};

class FileSaveAs : public NoEmptyDesktopCmd, public FileChoice<FileSaveAs> {
  ZF_WINCMD_PLAIN(FileSaveAs)
  bool redo() override;
  void undo() override {}
};

class FileInsert : public NoEmptyDesktopCmd, public FileChoice<FileInsert> {
  ZF_WINCMD_PLAIN(FileInsert)
  void clear() override;
  bool redo() override;
  void undo() override;

private:
  String name_;
  long count_ = 0;  // lines inserted
};

class FileSaveAll : public NoEmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileSaveAll)
  bool redo() override { return false; }
  void undo() override {}
};

class FileClose : public NoEmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileClose)
  bool redo() override;
  void undo() override {}
};

class FileCloseAll : public NoEmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileCloseAll)
  bool redo() override;
  void undo() override {}
};

// Changes the process's and the application's working directory; undo
// returns to the directory it left.
class FileChgWorkDir : public EmptyDesktopCmd {
  ZF_WINCMD_PLAIN(FileChgWorkDir)
  void clear() override;
  bool redo() override;
  void undo() override;

private:
  String dir_;   // the directory to change to (null: ask)
  String back_;  // the directory to return to
};
