// The command-line option parser and the three option kinds.
//
// parse() walks argv from position 1 while the words begin with "-", hands
// each recognised option its value, then moves the remaining words down to
// argv[1] and lowers argc. Every command-line error is a fatal report (error,
// which ends the process once handlers are installed); should the report
// return (no handler yet), parsing goes on with the next word without reading
// beyond argv[argc].
#include <zfound/Assert.h>
#include <zfound/LibraryInfo.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>
#include <zfound/Process.h>
#include <zfound/StartArgs.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
int32_t dummyIndex = -1;  // the index variable of StrOptions declared without one

// A fatal report of a plain text (never used as a format).
void fatalText(String const& text) { error("%s", toCharPtr(text)); }
void warnText(String const& text) { warning("%s", toCharPtr(text)); }

char firstLetter(String const& name) { return name.length() > 0 ? name[0] : 0; }

void invalidOption(char const* arg) {
  fatalText(libMsg("INVOPT", "Invalid option: #0")(AnyValue(arg)));
}

void expectedArg(char const* arg) {
  fatalText(libMsg("EXPECTEDARG", "Option #0 expects an argument.")(AnyValue(arg)));
}

void invalidArgument(char const* arg, String const& name) {
  fatalText(String(arg) + " argument not valid for " + name + " option.");
}

// Reads a whole word as a 32-bit decimal number: optional white space, an
// optional sign, digits and nothing after them. False for anything else or
// a value outside the 32-bit range.
bool readNumber(char const* s, int32_t& out) {
  if (!s) return false;
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  bool neg = false;
  if (*s == '-' || *s == '+') neg = *s++ == '-';
  if (!*s) return false;
  int64_t v = 0;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
    v = v * 10 + (*s - '0');
    if (v > int64_t(INT32_MAX) + 1) return false;
  }
  if (neg) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  out = int32_t(v);
  return true;
}

// One help line: "-x, --name arg : description\n".
String helpLine(char letter, String const& name, bool args, String const& argRep,
                String const& description) {
  String line;
  if (letter) {
    line += "-";
    line += letter;
  }
  if (letter && !name.isNull()) line += ", ";
  if (!name.isNull()) {
    line += "--";
    line += name;
  }
  if (args) {
    line += " ";
    line += argRep;
  }
  line += " : ";
  line += description;
  line += "\n";
  return line;
}
}  // namespace

// --- Option ----------------------------------------------------------------

Option::Option(char letter, String const& name, String const& help)
    : letter_(letter), name_(name), help_(help) {}

Option::~Option() = default;

String Option::description() const {
  long n = help_.length();
  if (n < 2 || help_.isHighest() || help_[0] != '[' || help_[n - 1] != ']') return help_;
  String inner(help_(1, n - 2));
  long tab = inner.index('\t');
  if (tab < 0) return appMsg(inner);
  String key(inner(0, tab));
  String deflt(inner(tab + 1));
  return appMsg(key, toCharPtr(deflt));
}

// --- BoolOption ------------------------------------------------------------

BoolOption::BoolOption(bool& v, String const& name, String const& help, bool deflt)
    : Option(firstLetter(name), name, help), value(v) {
  value = deflt;
}

BoolOption::BoolOption(bool& v, String const& name, char letter, String const& help, bool deflt)
    : Option(letter, name, help), value(v) {
  value = deflt;
}

BoolOption::~BoolOption() = default;

void BoolOption::setValue(bool negate, char const*) { value = !negate; }

// --- NumOption -------------------------------------------------------------

NumOption::NumOption(int32_t& v, String const& name, String const& help, int32_t deflt,
                     int32_t mn, int32_t mx)
    : Option(firstLetter(name), name, help), value(v), min(mn), max(mx) {
  value = deflt;
}

NumOption::NumOption(int32_t& v, String const& name, char letter, String const& help,
                     int32_t deflt, int32_t mn, int32_t mx)
    : Option(letter, name, help), value(v), min(mn), max(mx) {
  value = deflt;
}

NumOption::~NumOption() = default;

void NumOption::setValue(bool, char const* arg) {
  int32_t n = 0;
  if (!readNumber(arg, n)) {
    invalidArgument(arg ? arg : "", name_);
    return;
  }
  if (n >= min && n <= max) {
    value = n;
    return;
  }
  warnText(String("Option '") + name_ + "' not between allowed range (" + toString(min) + " - " +
           toString(max) + "),\nassuming default (" + toString(value) + ")");
}

// --- StrOption -------------------------------------------------------------

StrOption::StrOption(String& v, String const& name, String const& help, String const& deflt,
                     String const& vals)
    : StrOption(v, dummyIndex, name, firstLetter(name), help, deflt, vals) {}

StrOption::StrOption(String& v, String const& name, char letter, String const& help,
                     String const& deflt, String const& vals)
    : StrOption(v, dummyIndex, name, letter, help, deflt, vals) {}

StrOption::StrOption(String& v, int32_t& idx, String const& name, String const& help,
                     String const& deflt, String const& vals)
    : StrOption(v, idx, name, firstLetter(name), help, deflt, vals) {}

StrOption::StrOption(String& v, int32_t& idx, String const& name, char letter,
                     String const& help, String const& deflt, String const& vals)
    : Option(letter, name, help), value(v), index(idx), values(vals) {
  value = deflt;
  index = findVal(deflt);
}

StrOption::~StrOption() = default;

int32_t StrOption::findVal(String const& v) const {
  if (!v || !values) return -1;
  char const* all = toCharPtr(values);
  char const* key = toCharPtr(v);
  size_t klen = std::strlen(key);
  int32_t prefix = -1;
  int32_t pos = 0;
  for (char const* p = all;; ++pos) {
    char const* end = std::strchr(p, '\t');
    size_t len = end ? size_t(end - p) : std::strlen(p);
    if (len == klen && std::strncmp(p, key, len) == 0) return pos;
    if (prefix < 0 && klen <= len && std::strncmp(p, key, klen) == 0) prefix = pos;
    if (!end) break;
    p = end + 1;
  }
  return prefix;
}

void StrOption::setValue(bool, char const* arg) {
  if (!values) {
    value = arg;
    index = -1;
    return;
  }
  int32_t i = findVal(String(arg));
  if (i < 0) {
    index = -1;
    invalidArgument(arg ? arg : "", name_);
    return;
  }
  index = i;
  value = String(values.field(i, "\t"));
}

// --- OptionParser ----------------------------------------------------------

OptionParser::OptionParser(bool banner) : showBanner(banner), options(0, 8), listBox_(0) {}

OptionParser::OptionParser(String const&) : showBanner(true), options(0, 8), listBox_(0) {}

OptionParser::~OptionParser() {
  for (long i = 0; i < options.dim(); ++i) delete options.at(i);
}

bool OptionParser::execute() { return true; }

void OptionParser::addOption(Option* o) {
  if (o) options.add(o);
}

OptionParser& OptionParser::operator<<(Option* o) {
  addOption(o);
  return *this;
}

void OptionParser::compileData(String const& s) { compileData_ = s; }

int32_t OptionParser::assign() {
  int32_t r = 0;
  for (long i = 0; i < options.dim(); ++i)
    if (options.at(i)) r = options.at(i)->assignItem();
  return r;
}

Option* OptionParser::findLetter(char c) const {
  for (long i = 0; i < options.dim(); ++i) {
    Option* o = options.at(i);
    if (o && o->letter() != 0 && o->letter() == c) return o;
  }
  return nullptr;
}

String OptionParser::help() const {
  String h;
  h += helpLine('H', "help", false, String(), libMsg("HELPOPT"));
  h += helpLine('V', "version", false, String(), libMsg("VERSOPT"));
  h += helpLine('b', "hide-banner", false, String(), libMsg("BANNEROPT"));
  for (long i = 0; i < options.dim(); ++i) {
    Option* o = options.at(i);
    if (o) h += helpLine(o->letter(), o->sequence(), o->hasArguments(), o->argRep(), o->description());
  }
  return h;
}

namespace {
enum Builtin { B_NONE, B_HELP, B_VERSION, B_COMPILE, B_BANNER, B_WINDOW };

char const* const builtinNames[] = {"help", "version", "compile-info", "hide-banner", "window"};

Builtin builtinExact(String const& name) {
  for (int i = 0; i < 5; ++i)
    if (cmp(name, builtinNames[i]) == 0) return Builtin(i + 1);
  return B_NONE;
}
}  // namespace

// Resolves a long name: a built-in name, else a declared name, each exact;
// else an abbreviation that begins exactly one name among the built-ins and
// the declared options. An empty name never abbreviates.
int OptionParser::resolveLong(String const& name, Option*& opt) const {
  opt = nullptr;
  if (Builtin b = builtinExact(name)) return b;
  for (long i = 0; i < options.dim(); ++i) {
    Option* o = options.at(i);
    if (o && cmp(o->sequence(), name) == 0) {
      opt = o;
      return B_NONE;
    }
  }
  if (name.isNull()) return B_NONE;
  int hits = 0;
  Builtin b = B_NONE;
  Option* found = nullptr;
  for (int i = 0; i < 5; ++i)
    if (String(builtinNames[i]).startsWith(name)) ++hits, b = Builtin(i + 1);
  for (long i = 0; i < options.dim(); ++i) {
    Option* o = options.at(i);
    if (o && !o->sequence().isNull() && o->sequence().startsWith(name)) ++hits, found = o, b = B_NONE;
  }
  if (hits != 1) return B_NONE;
  opt = found;
  return b;
}

int OptionParser::parse(int& argc, char** argv) {
  bool banner = showBanner;
  bool window = false;
  int i = 1;
  while (i < argc && argv[i] && argv[i][0] == '-') {
    char const* arg = argv[i];
    bool isLong = arg[1] == '-';
    if (isLong && arg[2] != '\0' && std::isspace(static_cast<unsigned char>(arg[2]))) {
      ++i;
      break;
    }
    char const* text = arg + (isLong ? 2 : 1);
    Builtin b = B_NONE;
    Option* longOpt = nullptr;
    if (isLong) {
      b = Builtin(resolveLong(String(text), longOpt));
    } else {
      switch (text[0]) {
        case 'H': b = B_HELP; break;
        case 'V': b = B_VERSION; break;
        case 'W': b = B_WINDOW; break;
        case 'b': b = B_BANNER; break;
        default: break;
      }
    }
    switch (b) {
      case B_HELP:
        fatalText(appMsg("USAGE") + "\n" + help());
        ++i;
        continue;
      case B_VERSION:
        error(libMsg("VERSION"), toCharPtr(appName()), toCharPtr(appVersion()));
        ++i;
        continue;
      case B_COMPILE:
        if (compileData_.isNull())
          fatalText("No compile-info available.");
        else
          fatalText(compileData_ + LibraryInfo::libraries());
        ++i;
        continue;
      case B_BANNER:
        banner = false;
        ++i;
        continue;
      case B_WINDOW:
        window = true;
        ++i;
        continue;
      case B_NONE:
        break;
    }

    bool negate = false;
    if (std::strncmp(text, "no-", 3) == 0) {
      text += 3;
      negate = true;
    }

    if (isLong) {
      Option* o = longOpt;
      if (negate && resolveLong(String(text), o) != B_NONE) o = nullptr;
      if (!o) {
        invalidOption(arg);
        ++i;
        continue;
      }
      if (o->hasArguments()) {
        if (negate) {
          fatalText("Negation only applies to bool values.");
        } else if (i + 1 >= argc) {
          expectedArg(arg);
        } else {
          o->setValue(false, argv[i + 1]);
          ++i;
        }
      } else {
        o->setValue(negate, nullptr);
      }
      ++i;
      continue;
    }

    // A group of short options.
    if (*text == '\0') {
      invalidOption(arg);
      ++i;
      continue;
    }
    for (char const* p = text; *p; ++p) {
      Option* o = findLetter(*p);
      if (!o) {
        invalidOption(arg);
        break;
      }
      if (!o->hasArguments()) {
        o->setValue(negate, nullptr);
        continue;
      }
      if (negate) {
        fatalText("Negation only applies to bool values.");
        break;
      }
      if (p != text) warnText("options with arguments can not be combined with other options");
      if (p[1] != '\0') {
        warnText("option arguments should be separated by white space");
        o->setValue(false, p + 1);
      } else if (i + 1 >= argc) {
        expectedArg(arg);
      } else {
        o->setValue(false, argv[i + 1]);
        ++i;
      }
      break;
    }
    ++i;
  }

  // Move the remaining words (and the terminating null) down to argv[1].
  dropArgs(argc, argv, i - 1);
  if (banner) ::banner(appName(), appVersion());
  if (window) warnText("Can't edit options on non-GUI application.");
  return 0;
}
