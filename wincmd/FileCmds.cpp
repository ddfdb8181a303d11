// The file commands, registered in the order of their table.
//
// Saving: a text of a stream or of the administered store (type bits 2 and
// 4) may not be written. A store that fails leaves the text modified and is
// reported: "TEXTBEINGMOD" when another editor holds the file,
// "NOWRITEPERM" when it may not be written, "COULDNTWRITE" otherwise.
#include <winkit/FileCmds.h>

#include <winkit/Desktop.h>
#include <winkit/EditView.h>
#include <winkit/FileText.h>
#include <winkit/Selectors.h>
#include <winkit/StrHistory.h>
#include <winkit/WinApp.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

using winkit_cmd::askYes;
using winkit_cmd::bindDefault;
using winkit_cmd::deskEdView;
using winkit_cmd::errorBox;

ZF_WINCMD_DEFINE(FileNew)
ZF_WINCMD_REGISTER(FileNew, 0x9A6E)
ZF_WINCMD_DEFINE(FileOpen)
ZF_WINCMD_REGISTER(FileOpen, 0x96)
ZF_WINCMD_DEFINE(FileLoad)
ZF_WINCMD_REGISTER(FileLoad, 0x96)
ZF_WINCMD_DEFINE(FileReload)
ZF_WINCMD_REGISTER(FileReload, 0x9A96)
ZF_WINCMD_DEFINE(FileHardSave)
ZF_WINCMD_REGISTER(FileHardSave, 0x9A93)
ZF_WINCMD_DEFINE(FileSoftSave)
ZF_WINCMD_REGISTER(FileSoftSave, 0x93)
ZF_WINCMD_DEFINE(FileSaveAs)
ZF_WINCMD_REGISTER(FileSaveAs, 0x9A73)
ZF_WINCMD_DEFINE(FileInsert)
ZF_WINCMD_REGISTER(FileInsert, 0x9A69)
ZF_WINCMD_DEFINE(FileSaveAll)
ZF_WINCMD_REGISTER(FileSaveAll, 0x9A61)
ZF_WINCMD_DEFINE(FileClose)
ZF_WINCMD_REGISTER(FileClose, 0x82)
ZF_WINCMD_DEFINE(FileCloseAll)
ZF_WINCMD_REGISTER(FileCloseAll, 0x9A82)
ZF_WINCMD_DEFINE(FileChgWorkDir)
ZF_WINCMD_REGISTER(FileChgWorkDir, 0x9A63)

namespace {

// A new text: editable (type 1), empty, active so that no file is read for
// it, named "noname".
class NewText : public EditableText {
public:
  NewText() {
    name_ = String("noname");
    active_ = true;
  }
};

// The current editable view, or a beep and null.
EditableView* editView(WinApp* app) {
  EditableView* v = deskEdView(app);
  if (!v) app->beep();
  return v;
}

// Runs a file selector titled with the "disp" text of titleKey; false when
// it was left without acceptance.
bool selectFiles(char const* titleKey, WinApp* app, String const& filter, StrHistory* hst, String& names, long& perms) {
  FileSelector sel(WinApp::wappDispMsg(titleKey), 17, 42, 3, 16, app->getWorkingDir(), filter, String(), hst);
  long r = sel.execute(0);
  sel.unDisplay();
  if (r == -2 || !sel.isAccepted()) return false;
  names = sel.value();
  perms = sel.perms();
  return true;
}

// The names of a selection (separated by blanks), empty ones skipped.
template <class F>
void eachName(String const& names, F f) {
  long n = names.isHighest() ? 0 : names.length();
  char const* s = toCharPtr(names);
  for (long i = 0; i < n;) {
    while (i < n && s[i] == ' ') ++i;
    long from = i;
    while (i < n && s[i] != ' ') ++i;
    if (i > from) f(String(s + from, i - from));
  }
}

void remember(StrHistory* hst, String const& name) {
  if (hst) *hst << name;
}

// A name relative to the application's working directory made absolute.
String resolved(WinApp* app, String const& name) {
  if (!name.isNull() && name[0] == '/') return name;
  String dir = app->getWorkingDir();
  return dir + String("/") + name;
}

// Whether the text may be written at all (a box when not).
bool writable(EditableView* v) {
  if (v->isTextType(TextStream | TextAdmin)) {
    errorBox("NOWRITEPERM", 5, 35, 6, 20);
    return false;
  }
  return true;
}

// Stores the text; a failure is shown and leaves the text modified.
bool storeText(EditableView* v) {
  if (v->store()) {
    v->writeStLine();
    return true;
  }
  FileText* ft = v->getText().fileText();
  int err = v->getText().edText() ? v->getText().edText()->errNo() : 0;
  if (ft && ft->getFilePerm() == FileText::PermBusy)
    errorBox("TEXTBEINGMOD", 6, 40, 6, 20);
  else if (err == EACCES || err == EPERM || err == EROFS || (ft && ft->getFilePerm() == FileText::PermReadOnly))
    errorBox("NOWRITEPERM", 5, 35, 6, 20);
  else
    errorBox("COULDNTWRITE", 5, 32, 6, 20);
  return false;
}

// The process's working directory, whatever its length (null on failure).
String currentDir() {
  char* d = ::getcwd(nullptr, 0);
  if (!d) return String();
  String s(d);
  std::free(d);
  return s;
}

}  // namespace

bool FileNew::redo() {
  auto* v = new EditableView(String("noname"), new NewText());
  return app_->addView(v, nullptr, -1, -1, -1, -1);
}

bool FileOpen::redo() {
  String names;
  long perms = 0;
  if (!selectFiles("FileOpen", app_, filter(), fileHst, names, perms)) return false;
  if (!(perms & 1)) {
    errorBox("NOREADPERM", 5, 35, 6, 20);
    return false;
  }
  eachName(names, [this](String const& name) {
    app_->openFile(name);
    remember(fileHst, name);
  });
  return false;
}

bool FileLoad::redo() {
  EditableView* v = editView(app_);
  if (!v) return false;
  String names;
  long perms = 0;
  if (!selectFiles("FileLoad", app_, filter(), fileHst, names, perms)) return false;
  if (!(perms & 1)) {
    errorBox("NOREADPERM", 5, 35, 6, 20);
    return false;
  }
  v->clear();
  String last;
  eachName(names, [this, &last](String const& name) {
    app_->loadFile(name);
    remember(fileHst, name);
    last = name;
  });
  if (!last.isNull()) v->chgLabel(last);
  return false;
}

bool FileReload::redo() {
  EditableView* v = editView(app_);
  if (!v || v->isTextType(TextStream | TextAdmin)) return false;
  if (v->isTextMod() && !askYes(v->getLabel(false) + String("\n") + WinApp::wappDispMsg("EXITRDONLY4"))) return false;
  long line = v->getRow(), col = v->getCol();
  v->reload();
  v->goCursor(line, col, true);
  return true;
}

bool FileHardSave::redo() {
  EditableView* v = editView(app_);
  if (!v || !writable(v)) return false;
  return storeText(v);
}

bool FileSoftSave::redo() {
  EditableView* v = editView(app_);
  if (!v || !writable(v)) return false;
  if (!v->isTextMod()) return false;
  return storeText(v);
}

bool FileSaveAs::redo() {
  EditableView* v = editView(app_);
  if (!v) return false;
  if (v->isTextType(TextStream)) {
    app_->beep();
    return false;
  }
  String names;
  long perms = 0;
  if (!selectFiles("FileSaveAs", app_, filter(), fileHst, names, perms)) return false;
  String name;
  eachName(names, [&name](String const& n) {
    if (name.isNull()) name = n;
  });
  if (name.isNull()) return false;
  remember(fileHst, name);
  struct stat st;
  if (::stat(toCharPtr(resolved(app_, name)), &st) == 0) {
    if (!askYes(WinApp::wappDispMsg("FILEEXISTS"))) return false;
  } else if (errno != ENOENT) {
    errorBox("COULDNTWRITE", 5, 32, 6, 20);
    return false;
  }
  if (!(perms & 2)) {
    errorBox("NOWRITEPERM", 5, 35, 6, 20);
    return false;
  }
  if (!v->chgFileName(name)) {
    errorBox("TEXTBEINGMOD", 6, 40, 6, 20);
    return false;
  }
  return storeText(v);
}

void FileInsert::clear() {
  name_ = String();
  count_ = 0;
}

bool FileInsert::redo() {
  EditableView* v = editView(app_);
  if (!v) return false;
  String names;
  long perms = 0;
  if (!selectFiles("FileInsert", app_, filter(), fileHst, names, perms)) return false;
  eachName(names, [this](String const& n) {
    if (name_.isNull()) name_ = n;
  });
  if (name_.isNull()) return false;
  remember(fileHst, name_);
  count_ = v->insertFile(name_);
  return count_ > 0;
}

void FileInsert::undo() {
  EditableView* v = deskEdView(app_);
  if (!v || count_ <= 0) return;
  EditableTextCursor from(*v->edCursor());
  long line = from.line();
  TextCursor last(from);
  last.goTo(line + count_ - 1);
  long len = last.valid() ? last.value().length() : 0;
  from.goTo(line, 0);
  from.delTo(line + count_ - 1, len, true, true);
  v->getText().setModif();
  v->redraw();
}

bool FileClose::redo() {
  app_->getDesktop()->delCurrent();
  return false;
}

bool FileCloseAll::redo() {
  app_->getDesktop()->clearDesktop();
  return false;
}

void FileChgWorkDir::clear() { dir_ = String(); }

bool FileChgWorkDir::redo() {
  if (dir_.isNull()) {
    DirSelector sel(WinApp::wappDispMsg("FileChgWorkDir"), 15, 29, 6, 15, app_->getWorkingDir());
    long r = sel.execute(0);
    sel.unDisplay();
    if (r == -2 || !sel.isAccepted()) return false;
    dir_ = sel.value();
  }
  if (dir_.isNull() || ::chdir(toCharPtr(dir_)) != 0) {
    errorBox("COULDNTCHDIR", 5, 40, 6, 20);
    return false;
  }
  back_ = app_->getWorkingDir();
  String now = currentDir();
  app_->setWorkingDir(now.isNull() ? dir_ : now);
  return true;
}

void FileChgWorkDir::undo() {
  if (back_.isNull()) return;
  if (::chdir(toCharPtr(back_)) != 0) {
    errorBox("COULDNTCHDIR", 5, 40, 6, 20);
    return;
  }
  String leaving = app_->getWorkingDir();
  app_->setWorkingDir(back_);
  back_ = leaving;
}

void bindFileCmds(CmdBinding* b) {
  bindDefault<FileNew>(b);
  bindDefault<FileOpen>(b);
  bindDefault<FileLoad>(b);
  bindDefault<FileReload>(b);
  bindDefault<FileHardSave>(b);
  bindDefault<FileSoftSave>(b);
  bindDefault<FileSaveAs>(b);
  bindDefault<FileSaveAll>(b);
  bindDefault<FileClose>(b);
  bindDefault<FileChgWorkDir>(b);
  bindDefault<FileInsert>(b);
}
