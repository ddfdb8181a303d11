// fieldforms: shows the record, key and text forms of field values.
//
// Reads one case a line from standard input: type code, length and decimals
// separated by blanks, then a tab and the text (possibly empty). For each it
// makes a field of that shape in a table representation, stores the text
// into a record element and prints
//   record=<hex> key=<hex> text=[<text>]
// (the element's record form, its key-part form and its rendered text, hex
// in lower case), or error=<message> when the store left an error.
#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <zfound/AppMain.h>
#include <zfound/Exception.h>
#include <zfound/OptionParser.h>
#include <zfound/StdStreams.h>

#include <vector>

namespace {

String hex(char const* p, int32_t n) {
  static char const digits[] = "0123456789abcdef";
  String t;
  for (int32_t i = 0; i < n; ++i) {
    unsigned char b = static_cast<unsigned char>(p[i]);
    t += digits[b >> 4];
    t += digits[b & 15];
  }
  return t;
}

// Reads a signed decimal from s at i (blanks skipped first); false when there is none.
bool number(String const& s, long& i, int32_t& out) {
  char const* c = toCharPtr(s);
  long n = s.length();
  while (i < n && (c[i] == ' ' || c[i] == '\t')) ++i;
  bool neg = i < n && c[i] == '-';
  if (neg) ++i;
  if (i >= n || c[i] < '0' || c[i] > '9') return false;
  int64_t v = 0;
  while (i < n && c[i] >= '0' && c[i] <= '9' && v < 100000000) v = v * 10 + (c[i++] - '0');
  out = int32_t(neg ? -v : v);
  return true;
}

void oneCase(String const& line, int32_t caseNo) {
  long tab = line.index('\t');
  String head = tab < 0 ? line : String(toCharPtr(line), tab);
  String text = tab < 0 ? String() : String(long(line.length() - tab - 1), toCharPtr(line) + tab + 1);
  long i = 0;
  int32_t type = 0, length = 0, decimals = 0;
  if (!number(head, i, type) || !number(head, i, length) || !number(head, i, decimals)) {
    stdOut << "error=malformed case line\n";
    return;
  }
  Exception::last(Exception(0));
  SvTabRep table(ObjectId(0x1001, uint32_t(caseNo)), String("t"), String("fieldforms"), 0, 1, true);
  SvField* f = SvField::mkField(&table, 0, String("f"), String(), nullptr, String(), length, decimals, type, -1,
                                0, 0, nullptr, nullptr, nullptr, ObjectId(), String());
  if (f == nullptr) {
    stdOut << "error=" << Exception::last().message() << "\n";
    return;
  }
  std::vector<char> record(size_t(table.nextOffset()), 0);
  char* p = record.data() + f->tableOffset();
  f->store(p, text, true, -1);
  if (Exception::last().code() != 0) {
    stdOut << "error=" << Exception::last().message() << "\n";
    return;
  }
  char const* elem = record.data() + f->tableOffset();
  std::vector<char> key(size_t(f->ilength(false)) + 1, 0);
  char* k = key.data();
  f->store(nullptr, k, elem, f->ilength(false), record.data());
  String shown;
  char const* q = elem;
  f->load(shown, q, true, -1);
  stdOut << "record=" << hex(elem, f->ilength(true)) << " key=" << hex(key.data(), f->ilength(false))
         << " text=[" << (shown.isHighest() ? String("(high value)") : shown) << "]\n";
}

}  // namespace

class FieldFormsApp : public CVApp {
public:
  static String appName() { return String("fieldforms"); }
  static String appVersion() { return String("1.0"); }
  static OptionParser* cmdLine() {
    static OptionParser* parser = new OptionParser(true);
    return parser;
  }

  int32_t execute() override {
    Exception::init(true);
    int32_t caseNo = 1;
    for (;;) {
      String line;
      stdIn.get(line, '\n');
      bool end = stdIn.eof() || stdIn.withError();
      if (!line.isNull()) oneCase(line, caseNo++);
      if (end) break;
    }
    stdOut.flush();
    return 0;
  }
};

ZF_APP_MAIN(FieldFormsApp)
