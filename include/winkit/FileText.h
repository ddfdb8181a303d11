// The file text: an editable text bound to a file that other editors may
// share, locked while edited and kept in a preserve file for restoring.
//
// Preserve file format (text, from the start of the file):
//   1. header line: the data file's last path component, a tab, the number
//      of lines in decimal, "\n";
//   2. the lines, each followed by "\n", with attribute escape sequences
//      put back and the fill bytes (0x1F) of the tab layout kept.
//
// States: inactive (no files held) -> activate -> active: the preserve file
// exists (created exclusively, mode 0600, locked) and the data file is held
// open; filePerm 1 means it is open for writing and locked by this text
// (a data file that did not exist is created for that and removed again at
// rmFiles unless it was stored), 0 read-only access, 2 locked by another
// editor -> deActivate / rmFiles -> inactive (preserve file removed, data
// file released). A process that ends without deactivating leaves its
// preserve file behind, which is what restoring reads; its lock goes with
// the process.
//
// Invariants: the data file's lock is held on the descriptor that the text
// keeps open for its whole active life (it is never closed and reopened, so
// the lock is never dropped); store() writes only under filePerm 1, and a
// failed write leaves the text modified.
#pragma once
#include <winkit/EditText.h>

class FileText : public EditableText {
public:
  enum : int32_t { PermReadOnly = 0, PermLocked = 1, PermBusy = 2 };

  // With restore, `name` is a preserve file to read back; otherwise the file
  // to edit.
  FileText(String name, bool restore);
  ~FileText() override;

  FileText* fileText() override { return this; }
  void setFile(String const& name, bool reload) override;
  bool load() override;
  bool activate() override;
  void deActivate() override;
  // Rewrites the preserve file, then the data file through its locked
  // descriptor. False (still modified) unless filePerm is 1 and every byte
  // reached the disk.
  bool store() override;

  // The preserve file's name for an inactive restored text, else the name.
  String textName() const;
  // Creates the preserve file and opens (and locks) the data file.
  bool mkFiles();
  // Removes the preserve file and releases the data file.
  bool rmFiles();
  // Rewrites the preserve file and forces it to disk.
  bool storePreserve();
  // Makes the text name absolute against the working directory.
  void addPath();
  // The template of a new preserve file's name.
  static String tempFile();

  int32_t getFilePerm() const { return filePerm_; }
  String const& getPreserveName() const { return preserveName_; }
  static String const& getPreserveDir() { return preserveDir; }
  static void setPreserveDir(String const& dir) { preserveDir = dir; }
  static void setCwd(String const& dir) { cwdir = dir; }
  // The working directory for relative names (the process's when unset).
  static String const& getCwd();

private:
  // The data file's full path.
  String dataPath() const;
  void closeData();

  int preserveFd_ = -1;
  String preserveName_;
  int32_t filePerm_ = PermReadOnly;
  int dataFd_ = -1;
  bool createdData_ = false;  // the data file was made by mkFiles

  static String preserveDir;
  static String cwdir;
};
