// The file and directory selectors: ready-made dialogs that ask for one or
// more file names (FileSelector: a name cell, a file list, a directory list,
// OK and CANCEL) or for a directory (DirSelector). Names are checked with the
// access rules of the file lists (UserAccess).
//
// A selection that the checks refuse keeps the dialog open after the box
// that says why: the name cell runs again, OK and the file list give the
// focus back. Relative names are checked against the starting directory,
// to which the selection is relative.
// Each selector owns its widgets, labels and actions.
#pragma once
#include <winkit/Buttons.h>
#include <winkit/Cell.h>
#include <winkit/Panel.h>
#include <winkit/ScrollMenu.h>
#include <winkit/StrHistory.h>

#include <zfound/String.h>

class DirSelector : public Panel {
public:
  // A cell holding the directory, a directory list on `start`, OK, CANCEL.
  DirSelector(String const& title, long height, long width, long row, long col, String const& start);
  ~DirSelector() override;
  // The chosen directory (environment references expanded).
  String const& value() const { return result_; }
  // Copies the list's directory into the cell; 0.
  long getDir();
  // 1 when the cell names another directory than the starting one, else -1.
  long ok();
  long cancel() { return -1; }

private:
  String start_;
  String result_;
  StrCell cell_;
  DirMenu dirs_;
  MemberAction<DirSelector> getDirAction_, okAction_, cancelAction_;
  DefaultButton okButton_;
  PushButton cancelButton_;
  WinObj* objs_[4];
};

class FileSelector : public Panel {
public:
  FileSelector(String const& title, long height, long width, long row, long col, String const& dir,
               String const& pattern, String const& path, StrHistory* history);
  ~FileSelector() override;
  // The accepted names, separated by blanks.
  String const& value() const { return selection_; }
  // 1 readable, 2 writable (for every accepted name).
  long perms() const { return perms_; }
  // Called with Space on a file of the list that passes the checks.
  void setUserFunc(void (*f)(FileSelector&)) { userFunc_ = f; }

  // A directory longer than 39 characters as its first 10, " ... " and its
  // last 23; drawn in the directory label.
  void shrunkDirLabel(String const& dir);
  void updateFilterLabel(String const& pattern);
  // The selection for a name typed in the cell / chosen in the file list.
  String calcCellStr(String const& name) const;
  String calcMenuStr(String const& name) const;
  // Checks every name of the selection, drops (with a message box) those in
  // a missing directory or that are not regular files; -1 when none is left.
  long checkPerms();

  long ok();
  long cancel() { return -1; }
  long setFile();
  long doSelection();
  long setDirectory();

private:
  String calcStr(String const& name, bool fromCell) const;
  // An absolute path for a name relative to the starting directory.
  String resolve(String const& name) const;
  void showError(char const* key, String const& text, long width);
  void clearCell();

  String start_;
  String curDir_;
  String selection_;
  long perms_ = 0;
  void (*userFunc_)(FileSelector&) = nullptr;
  String path_;
  StrCell cell_;
  FileMenu files_;
  DirMenu dirs_;
  MemberAction<FileSelector> setFileAction_, selectAction_, dirAction_, okAction_, cancelAction_;
  DefaultButton okButton_;
  PushButton cancelButton_;
  Label dirLabel_;
  Label filterLabel_;
  WinObj* objs_[5];
  Label* labels_[2];
};
