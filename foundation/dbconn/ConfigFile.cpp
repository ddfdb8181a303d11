// ConfigFile: reading and atomically rewriting a server configuration file.
//
// Lines are read byte by byte into a bounded buffer; only the newline that
// ends a line is dropped, so a last line without one keeps all its text. A
// line longer than kMaxLine is reported as malformed and skipped. store()
// writes a new file beside the old one (created exclusively), syncs it and
// renames it over the old one, so a reader sees either the old or the new
// file, never a part of one.
#include <zfound/Assert.h>
#include <zfound/ConfigFile.h>
#include <zfound/FileOps.h>
#include <zfound/Message.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Sorted by name: findToken searches it with bsearch.
ConfigFile::TokenEntry const ConfigFile::table[] = {
    {"backup", TK_BACKUP},
    {"cachepagesize", TK_CACHEPAGESIZE},
    {"cachesize", TK_CACHESIZE},
    {"ckpointfreq", TK_CKPOINTFREQ},
    {"ckpointlowbound", TK_CKPOINTLOWBOUND},
    {"ckpointupbound", TK_CKPOINTUPBOUND},
    {"corruptiontolerant", TK_CORRUPTIONTOLERANT},
    {"dbase", TK_DBASE},
    {"diskconfiguration", TK_DISKCONFIGURATION},
    {"handleversions", TK_HANDLEVERSIONS},
    {"hkeepingmsgbound", TK_HKEEPINGMSGBOUND},
    {"host", TK_HOST},
    {"journalbuffer", TK_JOURNALBUFFER},
    {"journaldir", TK_JOURNALDIR},
    {"journalflushfreq", TK_JOURNALFLUSHFREQ},
    {"locks", TK_LOCKS},
    {"locksperclient", TK_LOCKSPERCLIENT},
    {"lockunifybound", TK_LOCKUNIFYBOUND},
    {"lockunifypercent", TK_LOCKUNIFYPERCENT},
    {"lockwait", TK_LOCKWAIT},
    {"maturetime", TK_MATURETIME},
    {"maxattachsperclient", TK_MAXATTACHSPERCLIENT},
    {"mirroring", TK_MIRRORING},
    {"namespaces", TK_NAMESPACES},
    {"nextschemaid", TK_NEXTSCHEMAID},
    {"notifies", TK_NOTIFIES},
    {"objectrepository", TK_OBJECTREPOSITORY},
    {"pendlocknotiftime", TK_PENDLOCKNOTIFTIME},
    {"profilefile", TK_PROFILEFILE},
    {"profilefrequency", TK_PROFILEFREQUENCY},
    {"runlogfile", TK_RUNLOGFILE},
    {"schemas", TK_SCHEMAS},
    {"serverid", TK_SERVERID},
    {"statefile", TK_STATEFILE},
    {"transtimeout", TK_TRANSTIMEOUT},
};
static_assert(sizeof(ConfigFile::table) / sizeof(ConfigFile::table[0]) == ConfigFile::tabsize);

namespace {

// The entry's name: the text before its first ':'.
String entryName(String const& entry) {
  long colon = entry.index(':');
  return colon < 0 ? entry : String(entry(0, colon));
}

// A String of len bytes at s, trimmed of white space at both ends.
String trimmed(char const* s, size_t len) {
  String v(static_cast<long>(len), s);
  v.fullTrim();
  return v;
}

// True when the line "key<TAB><TAB>value" reads back as this key and value:
// no NUL byte or line break in either, no TAB in the value, neither with
// white space at its ends (the reader trims it), a key that is neither
// empty nor taken for a comment, and the line within kMaxLine bytes.
bool lineReadsBack(String const& key, String const& value) {
  String k = key;
  k.fullTrim();
  String v = value;
  v.fullTrim();
  if (k.isNull() || k.isHighest() || value.isHighest() || toCharPtr(k)[0] == '#') return false;
  if (!(k == key) || !(v == value)) return false;
  if (key.index('\0') >= 0 || key.index('\n') >= 0 || key.index('\t') >= 0) return false;
  if (value.index('\0') >= 0 || value.index('\n') >= 0 || value.index('\t') >= 0) return false;
  return key.length() + 2 + value.length() + 1 <= ConfigFile::kMaxLine;
}

// True when every line of the file at path fits the reader's line buffer
// and holds no NUL byte.
bool linesReadBack(String const& path) {
  FILE* f = std::fopen(toCharPtr(path), "r");
  if (f == nullptr) return false;
  bool ok = true;
  long len = 0;
  int c;
  while (ok && (c = std::getc(f)) != EOF) {
    if (c == '\n') {
      len = 0;
      continue;
    }
    ok = c != 0 && ++len < ConfigFile::kMaxLine;
  }
  ok = ok && !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace

ConfigFile::ConfigFile() { clear(); }

ConfigFile::ConfigFile(ConfigFile const& o) { copyFrom(o); }

ConfigFile& ConfigFile::operator=(ConfigFile const& o) {
  if (this != &o) copyFrom(o);
  return *this;
}

ConfigFile::ConfigFile(char type, String const& h) {
  clear();
  ty = type;
  host = h;
}

ConfigFile::~ConfigFile() = default;

void ConfigFile::copyFrom(ConfigFile const& o) {
  filename = o.filename;
  svid = o.svid;
  ty = o.ty;
  host = o.host;
  nschs = o.nschs;
  schemas = o.schemas;
  modified = o.modified;
  nspace = o.nspace;
  objRepository = o.objRepository;
  others = o.others;
}

void ConfigFile::resolveOthers(Token, String const&, String const&, int32_t) {}

void ConfigFile::storeOthers(FILE*) {}

void ConfigFile::clear() {
  filename = String();
  host = String();
  schemas = String();
  objRepository = String();
  svid = -1;
  ty = 0;
  nschs = 0;
  nspace = false;
  modified = false;
  others.clear();
}

bool ConfigFile::read(String const& name, char type) {
  clear();
  // A server name is a plain file name: it may come from a peer, and must not
  // lead the look-up out of the servers directory.
  if (name.isNull() || name.isHighest() || name.index('/') >= 0 || name.index('\0') >= 0 || name == "." ||
      name == "..")
    return false;
  String base = String("OMBREL").getEnv() + "/servers/" + name;
  switch (type) {
    case 'i':
      ty = 'i';
      return readFile(base + ".sv");
    case 'r':
      ty = 'r';
      return readFile(base + ".rsv");
    case 0:
      ty = 'i';
      if (readFile(base + ".sv")) return true;
      ty = 'r';
      return readFile(base + ".rsv");
    default:
      ZF_PRECOND(0);
      return false;
  }
}

bool ConfigFile::readFile(String const& file) {
  char const type = ty;
  clear();
  ty = type;
  FILE* f = std::fopen(toCharPtr(file), "r");
  if (f == nullptr) {
    if (errno == EMFILE) error(libMsg("CLOSE012FILESPROBLEM"));
    return false;
  }
  filename = file;  // the reports below name it
  char buf[kMaxLine];
  int32_t line = 0;
  for (;;) {
    size_t len = 0;
    bool tooLong = false;
    int c;
    while ((c = std::getc(f)) != EOF && c != '\n') {
      if (len < sizeof buf - 1)
        buf[len++] = static_cast<char>(c);
      else
        tooLong = true;
    }
    if (c == EOF && len == 0 && !tooLong) break;
    if (line < INT32_MAX) ++line;
    if (tooLong)
      error(libMsg("CNFMALFORMED2"), &filename, line);
    else
      parseLine(buf, len, line);
    if (c == EOF) break;
  }
  bool failed = std::ferror(f) != 0;  // e.g. the name is a directory
  std::fclose(f);
  if (failed) {
    clear();
    ty = type;
    return false;
  }
  modified = false;
  return true;
}

void ConfigFile::parseLine(char const* text, size_t len, int32_t line) {
  if (len == 0 || text[0] == '#') return;
  char const* firstTab = static_cast<char const*>(std::memchr(text, '\t', len));
  size_t keyLen = firstTab ? static_cast<size_t>(firstTab - text) : len;
  String keyword = trimmed(text, keyLen);
  String value;
  if (firstTab) {
    size_t lastTab = len;
    while (lastTab > 0 && text[lastTab - 1] != '\t') --lastTab;
    value = trimmed(text + lastTab, len - lastTab);
  }
  if (keyword.isNull()) {
    error(libMsg("CNFMALFORMED2"), &filename, line);
    return;
  }
  Token token = findToken(keyword);
  switch (token) {
    case TK_HOST:
      if (ty == 'r') host = value;
      break;
    case TK_SCHEMAS:
    case TK_NAMESPACES:
      if (!value.isNull()) {
        int32_t n = static_cast<int32_t>(value.count(',')) + 1;
        if (schemas.isNull()) {
          schemas = value;
          nschs = n;
        } else {  // a further list line: its entries follow the earlier ones
          schemas += ',';
          schemas += value;
          nschs = static_cast<int32_t>(schemas.count(',')) + 1;
        }
      }
      nspace = token == TK_NAMESPACES;
      break;
    case TK_SERVERID:
      if (checkNullValue(keyword, value, line)) svid = toInt(value, 10);
      break;
    case TK_OBJECTREPOSITORY:
      objRepository = value;
      break;
    default:
      others.emplace_back(keyword, value);
      resolveOthers(token, keyword, value, line);
      break;
  }
}

void ConfigFile::setObjectRepository(String const& s) {
  if (s == objRepository) return;
  objRepository = s;
  modified = true;
}

String ConfigFile::getServerName() const { return filename.baseName(); }

std::vector<String> ConfigFile::splitList(String const& list, char sep) {
  std::vector<String> out;
  if (!list) return out;
  char const* s = toCharPtr(list);
  long n = list.length();
  long start = 0;
  for (long i = 0; i <= n; ++i) {
    if (i == n || s[i] == sep) {
      out.emplace_back(i - start, s + start);
      start = i + 1;
    }
  }
  return out;
}

String ConfigFile::getSchName(int32_t n) const {
  if (n < 0 || n >= nschs) return String();
  std::vector<String> entries = splitList(schemas, ',');
  if (static_cast<size_t>(n) >= entries.size()) return String();
  return entryName(entries[static_cast<size_t>(n)]);
}

bool ConfigFile::findSchema(String const& s) const {
  if (s.isNull()) return false;
  std::vector<String> entries = splitList(schemas, ',');
  size_t limit = nschs < 0 ? 0 : static_cast<size_t>(nschs);
  for (size_t i = 0; i < entries.size() && i < limit; ++i)
    if (entryName(entries[i]) == s) return true;
  return false;
}

bool ConfigFile::checkNullValue(String const& keyword, String const& value, int32_t line) const {
  if (!value.isNull()) return true;
  error(libMsg("CNFMALFORMED1"), &filename, &keyword, line);
  return false;
}

bool ConfigFile::delSchema(String const& s) {
  if (filename.isNull() || schemas.isNull()) return false;
  std::vector<String> entries = splitList(schemas, ',');
  String kept;
  int32_t removed = 0;
  bool first = true;
  for (String const& e : entries) {
    if (entryName(e) == s) {
      ++removed;
      continue;
    }
    if (!first) kept += ',';
    kept += e;
    first = false;
  }
  if (removed == 0) return false;
  if (!ZF_PRECOND(nschs > 0)) return false;
  schemas = kept;
  nschs = static_cast<int32_t>(entries.size()) - removed;
  modified = true;
  return true;
}

void ConfigFile::storeOtherKeys(FILE* f) const {
  for (auto const& kv : others)
    std::fprintf(f, "%s\t\t%s\n", toCharPtr(kv.first), toCharPtr(kv.second));
}

bool ConfigFile::store() {
  if (filename.isNull() || !modified) return true;
  // A rewrite that the reader would refuse or read differently is refused
  // whole: the old file stays as it is.
  bool readable = lineReadsBack(nspace ? "Namespaces" : "Schemas", schemas) &&
                  (ty != 'r' || lineReadsBack("Host", host)) &&
                  (objRepository.isNull() || lineReadsBack("ObjectRepository", objRepository));
  for (auto const& kv : others) readable = readable && lineReadsBack(kv.first, kv.second);
  if (!readable) {
    String why = libMsg("CNFNOTREADABLE");
    warning(libMsg("CNFNOTSTORED"), &filename, toCharPtr(why));
    return false;
  }
  // The text is built in memory, then replaces the file through the file
  // seam (a crash leaves the old file or the new one).
  char* text = nullptr;
  size_t textLength = 0;
  FILE* f = ::open_memstream(&text, &textLength);
  if (f == nullptr) {
    warning(libMsg("CNFNOTSTORED"), &filename, std::strerror(errno));
    return false;
  }
  // A remote file keeps the server id and repository it was read with.
  if (ty == 'i' || svid != -1) std::fprintf(f, "ServerId\t\t%ld\n", static_cast<long>(svid));
  if (ty == 'r') std::fprintf(f, "Host\t\t%s\n", toCharPtr(host));
  std::fprintf(f, nspace ? "Namespaces\t\t%s\n" : "Schemas\t\t%s\n", toCharPtr(schemas));
  storeOthers(f);
  if (ty == 'i' || !objRepository.isNull())
    std::fprintf(f, "ObjectRepository\t\t%s\n", toCharPtr(objRepository));
  bool const written = !std::ferror(f);
  int err = written ? 0 : errno;
  if (std::fclose(f) != 0 && written) err = errno != 0 ? errno : EIO;
  if (written && err == 0)
    // a derived class's own lines included
    err = replaceFile(toCharPtr(filename), text, textLength, [](char const* tmp) { return linesReadBack(String(tmp)); });
  std::free(text);
  if (err == kReplaceCheckFailed) {
    String why = libMsg("CNFNOTREADABLE");
    warning(libMsg("CNFNOTSTORED"), &filename, toCharPtr(why));
    return false;
  }
  if (err == EMFILE) {
    error(libMsg("CLOSE012FILESPROBLEM"));
    return false;
  }
  if (err != 0 || !written) {
    warning(libMsg("CNFNOTSTORED"), &filename, std::strerror(err != 0 ? err : EIO));
    return false;
  }
  modified = false;
  return true;
}

int ConfigFile::cmpTokens(void const* a, void const* b) {
  return std::strcmp(static_cast<TokenEntry const*>(a)->name, static_cast<TokenEntry const*>(b)->name);
}

ConfigFile::Token ConfigFile::findToken(String const& keyword) {
  String lower = keyword.toLower();
  TokenEntry key{toCharPtr(lower), TK_UNKNOWN};
  void const* hit = std::bsearch(&key, table, tabsize, sizeof(TokenEntry), cmpTokens);
  return hit ? static_cast<TokenEntry const*>(hit)->token : TK_UNKNOWN;
}
