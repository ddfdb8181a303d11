// textrt: the toolkit's text model without a screen.
//
//   textrt show FILE        a Text read from FILE (or the administered store)
//   textrt cmd COMMAND      a stream Text of the command's output
//   textrt copy IN OUT      IN as an EditableText, renamed to OUT and stored
//
// show and cmd print each line as "N: TEXT" (N from 0; bytes below 32 and
// 0x7F in caret form) and then each zone as "zone L1,C1-L2,C2 0xBITS". copy
// exits 1 with the reason when the text could not be stored.
#include <winkit/EditText.h>
#include <winkit/Text.h>

#include <zfound/AppMain.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>
#include <zfound/StdStreams.h>

#include <cstring>

namespace {

void printLine(long n, String const& line) {
  stdOut << n << ": ";
  char const* p = toCharPtr(line);
  for (long i = 0; i < line.length(); ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 32) {
      stdOut << '^' << static_cast<char>(c + 64);
    } else if (c == 0x7F) {
      stdOut << "^?";
    } else {
      stdOut << static_cast<char>(c);
    }
  }
  stdOut << "\n";
}

void printText(Text& t) {
  TextCursor c(t);
  for (c.goToFirst(); c.valid(); ++c) printLine(c.line(), c.value());
  AttributeZones& z = t.zones();
  for (long i = 0; i < z.count(); ++i) {
    AttributeBlock const& b = z.zone(i);
    stdOut << "zone " << b.begin.line() << "," << b.begin.column() << "-" << b.end.line() << ","
           << b.end.column() << " 0x" << toString(long(static_cast<uint32_t>(b.attrib)), 0L, 16L).toLower() << "\n";
  }
  stdOut << flush;
}

int usage() {
  stdErr << appMsg("USAGE") << "\n" << flush;
  return 1;
}

}  // namespace

class TextRtApp : public CVApp {
public:
  static String appName() { return String("textrt"); }
  static String appVersion() { return String("1.0"); }
  static OptionParser* cmdLine() {
    static OptionParser* parser = new OptionParser(false);
    return parser;
  }

  int32_t execute() override {
    String what = argVal(1);
    if (what == "show" && argCnt() == 3) {
      Text t(argVal(2));
      t.activate();
      printText(t);
      return 0;
    }
    if (what == "cmd" && argCnt() == 3) {
      Text t(argVal(2), false);
      printText(t);
      return 0;
    }
    if (what == "copy" && argCnt() == 4) {
      EditableText t(argVal(2));
      t.activate();
      t.setFile(argVal(3), false);
      if (!t.store()) {
        stdErr << "textrt: cannot store " << argVal(3) << ": " << std::strerror(t.errNo()) << "\n" << flush;
        return 1;
      }
      return 0;
    }
    return usage();
  }
};

ZF_APP_MAIN(TextRtApp)
