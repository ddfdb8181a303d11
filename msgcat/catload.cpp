// catload: reads records in the text exchange form from standard input and
// adds them to a section of a message file, then rewrites the file:
//   catload file language section <msgs.txt
// A record is a separator line "@(#)@", a key line and the text lines (a
// text of several lines is joined with newlines). Every line counts, the
// empty ones at the start of a text and a last one without its newline
// included, so a text comes back exactly as catdump wrote it. Records are
// added after the entries already there, even for a key present before.
// Input that does not begin with the separator or cannot be read, a record
// without a key or a text too long for a message file changes nothing and
// says why.
#include <msgcat/MsgEditor.h>
#include <msgcat/MsgStore.h>

#include "catcommon.h"

#include <zfound/AppMain.h>
#include <zfound/LibraryInfo.h>
#include <zfound/OptionParser.h>
#include <zfound/StdStreams.h>

#include <initializer_list>

namespace {
// Reads the next line into s; false when the input had nothing more (a last
// line without its newline still counts as a line).
bool readLine(InputStream& in, String& s) {
  s = String();
  if (!in.ok()) return false;
  in.get(s, '\n');
  if (in.withError()) return false;
  return !in.eof() || !s.isNull();
}

String lineNo(int32_t n) { return toString(long(n)); }

// The catalogue text of key (or deflt) with its marks #0, #1 replaced.
String catText(char const* key, char const* deflt, std::initializer_list<String> args) {
  return ::catText(key, deflt).replaceArgs(args.begin(), long(args.size()));
}
}  // namespace

class catload : public CVApp {
public:
  static String appName() { return String("catload"); }
  static String appVersion() { return versionStr(kCatVersion); }
  // The option parser, made at start-up and destroyed when the program stops.
  static OptionParser* cmdLine() {
    if (!op_sd) {
      op_sd = new OptionParser(String());
      onStop(dropParser);
    }
    return op_sd;
  }

  int32_t execute() override {
    if (argCnt() != 4) return catFail("Usage: catload file language section <msgs.txt\n");
    String file = argVal(1), language = argVal(2), sectionName = argVal(3);
    String problem = catOperandProblem(file, language, sectionName);
    if (!problem.isNull()) return catFail(problem);

    MsgEditor* editor = new MsgEditor(file, language);
    editor->read();
    if (editor->damaged()) return catGiveUp(editor, editor->errorText());
    MsgSection* section = editor->section(sectionName);

    InputStream& in = stdIn;
    String line;
    int32_t at = 0;  // number of the line last read
    if (readLine(in, line)) {
      ++at;
      if (cmp(line, kRecordMark) != 0)
        return catGiveUp(editor, catText("NOSEPARATOR", "The first line of the input is not \"@(#)@\"; "
                                                        "the message file was not changed."));
      bool more = true;
      while (more) {
        String key;
        if (!readLine(in, key)) break;
        int32_t keyLine = ++at;
        if (key.isNull() || msgTextLength(key) <= 0)
          return catGiveUp(editor, catText("NOKEY", "Line #0: a record without a key; "
                                                    "the message file was not changed.", {lineNo(keyLine)}));
        String text;
        bool first = true;
        more = false;
        while (readLine(in, line)) {
          ++at;
          if (cmp(line, kRecordMark) == 0) {
            more = true;
            break;
          }
          if (!first) text += '\n';
          text += line;
          first = false;
        }
        if (msgTextLength(text) > kMsgTextMax || msgTextLength(key) > kMsgTextMax)
          return catGiveUp(editor, catText("TOOLONG", "Line #0: the text of #1 is longer than 32767 bytes; "
                                                      "the message file was not changed.", {lineNo(keyLine), key}));
        section->add(key, text);
      }
    }
    if (in.withError())
      return catGiveUp(editor,
                       catText("CANTREAD", "The input could not be read; the message file was not changed."));
    if (!editor->write()) return catGiveUp(editor, editor->errorText());
    delete editor;
    return 0;
  }

private:
  static void dropParser() {
    delete op_sd;
    op_sd = nullptr;
  }
  static OptionParser* op_sd;  // the program's options (none of its own)
};

OptionParser* catload::op_sd = nullptr;

ZF_APP_MAIN(catload)
