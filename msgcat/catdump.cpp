// catdump: writes the texts of one section of a message file, or one
// message, to standard output in the text exchange form:
//   catdump [-k] file language section key|*
// For "*" every entry of the section is written as a record (separator
// line, key line, text lines); with -k only the keys, one per line. For a
// key, the separator and the text as the catalogue lookup gives it (a
// missing key gives the lookup's not-found text). The message file is never
// changed.
#include <msgcat/MsgEditor.h>

#include "catcommon.h"

#include <zfound/AppMain.h>
#include <zfound/Environ.h>
#include <zfound/LibraryInfo.h>
#include <zfound/MsgTable.h>
#include <zfound/OptionParser.h>
#include <zfound/StdStreams.h>

class catdump : public CVApp {
public:
  static String appName() { return String("catdump"); }
  static String appVersion() { return versionStr(kCatVersion); }
  // The option parser, made at start-up and destroyed when the program stops.
  static OptionParser* cmdLine() {
    if (!op_sd) {
      op_sd = new OptionParser(String());
      op_sd->addOption(new BoolOption(keys, "keys", 'k', "Show only keys", false));
      onStop(dropParser);
    }
    return op_sd;
  }

  int32_t execute() override {
    if (argCnt() != 5) return catFail("Usage: catdump [-k] file language section key|* >msgs.txt\n");
    String file = argVal(1), language = argVal(2), sectionName = argVal(3), key = argVal(4);
    String problem = catOperandProblem(file, language, sectionName);
    if (!problem.isNull()) return catFail(problem);
    if (cmp(key, "*") != 0) {
      // One message, through the catalogue lookup of that language.
      putEnvVar(toCharPtr(String("LANGUAGE=") + language));
      MsgTable* table = new MsgTable(file, sectionName, false);
      stdOut << kRecordMark << "\n" << table->find(key) << "\n";
      delete table;
      stdOut << flush;
      return 0;
    }
    MsgEditor* editor = new MsgEditor(file, language);
    editor->read();
    if (editor->damaged()) return catGiveUp(editor, editor->errorText());
    MsgSection* section = editor->section(sectionName);
    for (int32_t i = 0; section && i < section->nEntries(); ++i) {
      MsgEntry const* e = section->entries.at(i);
      if (!e) continue;
      if (!keys) stdOut << kRecordMark << "\n";
      stdOut << e->key << "\n";
      if (!keys) stdOut << e->text << "\n";
    }
    delete editor;
    stdOut << flush;
    return 0;
  }

private:
  static void dropParser() {
    delete op_sd;
    op_sd = nullptr;
  }
  static OptionParser* op_sd;  // the program's options
  static bool keys;            // -k: write only the keys
};

OptionParser* catdump::op_sd = nullptr;
bool catdump::keys = false;

ZF_APP_MAIN(catdump)
