// Every key the code looks up is in the source of the catalogue it is looked
// up in, and every catalogue is built. The sources of the foundation (the
// library catalogue "lib") and of the programs on the common entry (each its
// own catalogue, named after the program) are read with a small C++ token
// reader that skips comments and literals; a lookup is a call of one of the
// lookup functions whose first argument is a string literal, or an option
// help text written "[KEY]" or "[KEY\tdefault]". A function that hands its
// first parameter on to a lookup function as the key is itself one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string sourceDir() {
  char const* s = std::getenv("ZF_SOURCE_DIR");
  return s ? s : "";
}

struct Token {
  enum Kind { Ident, Str, Punct } kind;
  std::string text;
};

// Identifiers, string literals (with their text) and punctuation of a C++
// source; comments, character literals and numbers are skipped.
std::vector<Token> tokens(std::string const& src) {
  std::vector<Token> out;
  size_t i = 0, n = src.size();
  auto isId = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  while (i < n) {
    char c = src[i];
    if (c == '/' && i + 1 < n && src[i + 1] == '/') {
      while (i < n && src[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && src[i + 1] == '*') {
      size_t e = src.find("*/", i + 2);
      i = e == std::string::npos ? n : e + 2;
    } else if (c == 'R' && i + 1 < n && src[i + 1] == '"') {  // raw string
      size_t open = src.find('(', i + 2);
      if (open == std::string::npos) break;
      std::string close = ")" + src.substr(i + 2, open - i - 2) + "\"";
      size_t e = src.find(close, open + 1);
      if (e == std::string::npos) break;
      out.push_back({Token::Str, src.substr(open + 1, e - open - 1)});
      i = e + close.size();
    } else if (c == '"' || c == '\'') {
      std::string text;
      ++i;
      while (i < n && src[i] != c) {
        if (src[i] == '\\' && i + 1 < n) {
          char e = src[++i];
          text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        } else {
          text += src[i];
        }
        ++i;
      }
      ++i;
      if (c == '"') out.push_back({Token::Str, text});
    } else if (isId(c)) {
      size_t b = i;
      while (i < n && isId(src[i])) ++i;
      if (!std::isdigit(static_cast<unsigned char>(c))) out.push_back({Token::Ident, src.substr(b, i - b)});
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else {
      if (c == '-' && i + 1 < n && src[i + 1] == '>') {
        out.push_back({Token::Punct, "->"});
        i += 2;
      } else {
        out.push_back({Token::Punct, std::string(1, c)});
        ++i;
      }
    }
  }
  return out;
}

// A key looked up: catalogue, section, key, and where.
struct Lookup {
  std::string catalogue, section, key, where;
};

// The lookup functions known in a body of sources: those of the library
// catalogue with the section each reads, and those of the program's own.
struct LookupFunctions {
  std::map<std::string, std::string> lib;
  std::set<std::string> app;
};

// The lookup functions of the foundation itself.
LookupFunctions const knownFunctions = {
    {{"libMsg", "main"},     {"keyNum", "main"},     {"keyParen", "main"},    {"keyFormat", "main"},
     {"exprMsg", "main"},    {"exprMsg2", "main"},   {"exprMessage", "main"}, {"title", "main"},
     {"__DbErrmsg", "db"},   {"__FmErrmsg", "fm"},   {"__GnErrmsg", "gn"},    {"__RpErrmsg", "rp"},
     {"__StErrmsg", "st"},   {"__WiErrmsg", "wi"}},
    {"appMsg", "catText"}};

bool isKey(std::string const& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

// A source file read into tokens.
struct Source {
  std::string where;
  std::vector<Token> tokens;
};

Source readSource(fs::path const& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream buf;
  buf << in.rdbuf();
  return {file.filename().string(), tokens(buf.str())};
}

// Adds to `f` every function of `t` that hands its first parameter on, as
// the key, to a known lookup function (such as a text(key, arg) that calls
// appMsg(key)): it looks keys up in the same catalogue (in both, when it
// hands the key to one of each). True when one was
// added, so that wrappers of wrappers are found by repeating.
bool addWrappers(std::vector<Token> const& t, LookupFunctions& f) {
  static std::set<std::string> const statements = {"if", "while", "for", "switch", "catch", "return", "sizeof"};
  bool added = false;
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    if (t[i].kind != Token::Ident || t[i + 1].text != "(" || statements.count(t[i].text)) continue;
    // The name of the first parameter: its last identifier before a default.
    std::string first;
    bool inFirst = true;
    size_t j = i + 2;
    for (int depth = 1; j < t.size() && depth > 0; ++j) {
      std::string const& x = t[j].text;
      if (x == "(") ++depth;
      else if (x == ")") --depth;
      else if (depth == 1 && (x == "," || x == "=")) inFirst = false;
      else if (depth == 1 && inFirst && t[j].kind == Token::Ident) first = x;
    }
    while (j < t.size() && (t[j].text == "const" || t[j].text == "noexcept" || t[j].text == "override")) ++j;
    if (first.empty() || j >= t.size() || t[j].text != "{") continue;
    size_t end = j + 1;
    for (int depth = 1; end < t.size() && depth > 0; ++end) {
      if (t[end].text == "{") ++depth;
      else if (t[end].text == "}") --depth;
    }
    std::string const& name = t[i].text;
    for (size_t k = j + 1; k + 2 < end; ++k) {
      if (t[k].kind != Token::Ident || t[k + 1].text != "(" || t[k - 1].text == "->" || t[k - 1].text == ".")
        continue;
      size_t a = k + 2;
      if (t[a].text == "String" && a + 2 < end && t[a + 1].text == "(") a += 2;
      if (t[a].kind != Token::Ident || t[a].text != first) continue;
      if (f.lib.count(t[k].text) && !f.lib.count(name)) {
        f.lib[name] = f.lib.at(t[k].text);
        added = true;
      }
      if (f.app.count(t[k].text) && !f.app.count(name)) {
        f.app.insert(name);
        added = true;
      }
    }
  }
  return added;
}

// `known` with the wrappers that `sources` define.
LookupFunctions withWrappers(std::vector<Source> const& sources, LookupFunctions known) {
  for (bool more = true; more;) {
    more = false;
    for (auto const& s : sources) more = addWrappers(s.tokens, known) || more;
  }
  return known;
}

// The lookups in one source file. Program-catalogue lookups are reported
// with the catalogue `app`.
void scan(Source const& src, std::string const& app, LookupFunctions const& fn, std::vector<Lookup>& out) {
  std::vector<Token> const& t = src.tokens;
  std::string const& where = src.where;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].kind == Token::Str) {
      // Option help texts "[KEY]" and "[KEY\tdefault]".
      std::string const& s = t[i].text;
      if (s.size() > 2 && s.front() == '[' && s.back() == ']') {
        std::string key = s.substr(1, std::min(s.find('\t'), s.size() - 1) - 1);
        if (isKey(key)) out.push_back({app, "main", key, where});
      }
      continue;
    }
    if (t[i].kind != Token::Ident || i + 2 >= t.size()) continue;
    if (t[i + 1].text != "(" || t[i + 2].kind != Token::Str || !isKey(t[i + 2].text)) continue;
    std::string const& f = t[i].text;
    std::string const& key = t[i + 2].text;
    bool member = i >= 2 && t[i - 1].text == "->";
    if (f == "find" && member && t[i - 2].text == "_libMsg") {
      out.push_back({"lib", "main", key, where});
    } else if (!member) {
      if (fn.lib.count(f)) out.push_back({"lib", fn.lib.at(f), key, where});
      if (fn.app.count(f)) out.push_back({app, "main", key, where});
    }
  }
}

// The C++ sources at `root` (a file, or every source under a directory).
std::vector<Source> sourcesAt(fs::path const& root) {
  std::vector<Source> out;
  if (fs::is_regular_file(root)) out.push_back(readSource(root));
  if (!fs::is_directory(root)) return out;
  for (auto const& e : fs::recursive_directory_iterator(root)) {
    auto ext = e.path().extension();
    if (e.is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".y")) out.push_back(readSource(e.path()));
  }
  return out;
}

// The programs built with zf_add_program and their sources, with the local
// headers those include ("..."), from every CMakeLists.txt of the tree.
std::map<std::string, std::vector<fs::path>> commonEntryPrograms() {
  std::map<std::string, std::vector<fs::path>> out;
  fs::path root = sourceDir();
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string name = it->path().filename().string();
    if (it->is_directory() && (name.rfind("build", 0) == 0 || name[0] == '.' || name == "tests")) {
      it.disable_recursion_pending();
      continue;
    }
    if (name != "CMakeLists.txt") continue;
    std::ifstream in(it->path());
    std::stringstream buf;
    buf << in.rdbuf();
    std::string text = buf.str();
    for (size_t at = text.find("zf_add_program("); at != std::string::npos;
         at = text.find("zf_add_program(", at + 1)) {
      if (at > 0 && text[at - 1] != '\n' && text[at - 1] != ' ') continue;  // the definition's own name
      size_t end = text.find(')', at);
      std::istringstream words(text.substr(at + 15, end - at - 15));
      std::string program, word;
      words >> program;
      bool inSources = false;
      std::vector<fs::path> files;
      while (words >> word) {
        if (word == "SOURCES" || word == "LIBS") {
          inSources = word == "SOURCES";
        } else if (inSources && word.find("${") == std::string::npos) {
          files.push_back(it->path().parent_path() / word);
        }
      }
      // Local headers included by the sources.
      for (size_t i = 0; i < files.size(); ++i) {
        std::ifstream f(files[i]);
        std::string line;
        while (std::getline(f, line)) {
          size_t q = line.find("#include \"");
          if (q == std::string::npos) continue;
          size_t e = line.find('"', q + 10);
          fs::path h = files[i].parent_path() / line.substr(q + 10, e - q - 10);
          if (fs::exists(h) && std::find(files.begin(), files.end(), h) == files.end()) files.push_back(h);
        }
      }
      if (!program.empty() && program[0] != '$') out[program] = files;
    }
  }
  return out;
}

// Catalogue -> section -> keys of the sources under catalogs/, with any key
// given twice in one section reported.
std::map<std::string, std::map<std::string, std::set<std::string>>> readCatalogues(
    std::vector<std::string>& twice) {
  std::map<std::string, std::map<std::string, std::set<std::string>>> out;
  for (auto const& d : fs::directory_iterator(sourceDir() + "/catalogs")) {
    if (!d.is_directory()) continue;
    for (auto const& f : fs::directory_iterator(d.path())) {
      if (f.path().extension() != ".txt") continue;
      auto& keys = out[d.path().filename().string()][f.path().stem().string()];
      std::ifstream in(f.path(), std::ios::binary);
      std::string line;
      bool wantKey = false;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (wantKey && !keys.insert(line).second) twice.push_back(f.path().string() + ": " + line);
        wantKey = line == "@(#)@";
      }
    }
  }
  return out;
}

// Keys looked up through a function that hands its key on to a lookup
// function, directly or through another such function, are found in the
// catalogue the innermost lookup reads; other calls are not lookups.
TEST(CatalogueKeys, LookupsThroughWrappersAreFound) {
  Source src = {"wrappers.cpp", tokens(
      "String text(char const* key, String const& arg) { String t = appMsg(key); return t + arg; }\n"
      "String DbThing::msgText(char const* key) const { return ready() ? libMsg(key) : String(key); }\n"
      "String both(String const& k) { return msgText(String(k)) + text(k, x); }\n"
      "String notOne(char const* what) { return appMsg(other); }\n"
      "void f() { if (x) { text(\"ONE\", a); } both(\"TWO\"); notOne(\"NOTKEY\"); obj->text(\"MEMBER\"); }\n")};
  std::vector<Lookup> found;
  scan(src, "prog", withWrappers({src}, knownFunctions), found);
  std::set<std::string> got;
  for (auto const& l : found) got.insert(l.catalogue + "." + l.section + "." + l.key);
  EXPECT_EQ(got, (std::set<std::string>{"prog.main.ONE", "lib.main.TWO", "prog.main.TWO"}));
}

TEST(CatalogueKeys, EveryKeyLookedUpIsInItsCatalogueSource) {
  ASSERT_FALSE(sourceDir().empty());
  fs::path src = sourceDir();
  std::vector<Lookup> lookups;
  // The library's own lookups; appMsg there reads the running program's
  // catalogue, so it is checked for each program below.
  std::vector<Source> foundation = sourcesAt(src / "foundation");
  for (auto& s : sourcesAt(src / "include" / "zfound")) foundation.push_back(std::move(s));
  LookupFunctions libraryFunctions = withWrappers(foundation, knownFunctions);
  std::vector<Lookup> library;
  for (auto const& s : foundation) scan(s, "*", libraryFunctions, library);
  // The programs on the common entry, each reading its own catalogue.
  std::map<std::string, std::vector<fs::path>> programs = commonEntryPrograms();
  EXPECT_TRUE(programs.count("catload"));
  for (auto const& l : library) {
    if (l.catalogue != "*") {
      lookups.push_back(l);
      continue;
    }
    for (auto const& p : programs) lookups.push_back({p.first, l.section, l.key, l.where});
  }
  for (auto const& [program, paths] : programs) {
    std::vector<Source> sources;
    for (auto const& p : paths)
      for (auto& s : sourcesAt(p)) sources.push_back(std::move(s));
    LookupFunctions fn = withWrappers(sources, libraryFunctions);
    for (auto const& s : sources) scan(s, program, fn, lookups);
  }

  // The scan must have found the lookups of the reporting and option code.
  auto has = [&lookups](char const* cat, char const* key) {
    return std::any_of(lookups.begin(), lookups.end(),
                       [&](Lookup const& l) { return l.catalogue == cat && l.key == key; });
  };
  EXPECT_TRUE(has("lib", "FATALERROR"));
  EXPECT_TRUE(has("lib", "VERSOPT"));
  EXPECT_TRUE(has("catload", "USAGE"));
  EXPECT_TRUE(has("catload", "NOSEPARATOR"));

  std::vector<std::string> twice;
  auto catalogues = readCatalogues(twice);
  EXPECT_TRUE(twice.empty()) << "keys given twice in one section: " << ::testing::PrintToString(twice);
  std::set<std::string> missing;
  for (auto const& l : lookups) {
    auto c = catalogues.find(l.catalogue);
    bool found = c != catalogues.end() && c->second.count(l.section) && c->second.at(l.section).count(l.key);
    if (!found) missing.insert("catalogs/" + l.catalogue + "/" + l.section + ".txt: " + l.key + " (" + l.where + ")");
  }
  EXPECT_TRUE(missing.empty()) << "keys looked up but missing from their catalogue source:\n"
                               << ::testing::PrintToString(missing);
}

TEST(CatalogueKeys, EveryCatalogueSourceIsBuilt) {
  char const* data = std::getenv("DATADIR");
  ASSERT_NE(data, nullptr);
  std::vector<std::string> twice;
  for (auto const& [name, sections] : readCatalogues(twice)) {
    SCOPED_TRACE(name);
    std::string built = zftest::readFile(std::string(data) + "/english/" + name + ".msg");
    EXPECT_FALSE(built.empty());
    for (auto const& [section, keys] : sections) {
      // Each section's name is in the file's section map.
      std::string stored = std::string(1, char(section.size() >> 8)) + char(section.size() & 0xff) + section;
      EXPECT_NE(built.find(stored), std::string::npos) << section;
    }
  }
}

}  // namespace

namespace {

// The toolkit looks its texts up in the sections of the catalogue "winapp"
// (and the library's "lib"); a key may be given as a literal or as
// String("..."), and a function that hands its key on is a lookup too.
TEST(CatalogueKeys, EveryKeyTheToolkitLooksUpIsInItsCatalogueSource) {
  ASSERT_FALSE(sourceDir().empty());
  fs::path src = sourceDir();
  std::vector<Source> sources;
  for (char const* dir : {"window", "winobj", "views", "winapp", "wincmd", "include/winkit", "samples/winedit"})
    for (auto& s : sourcesAt(src / dir)) sources.push_back(std::move(s));
  // Sections are written "catalogue:section".
  LookupFunctions toolkit;
  toolkit.lib = {{"libMsg", "lib:main"},           {"wappMsg", "winapp:main"},
                 {"wappErrMsg", "winapp:error"},   {"wappDispMsg", "winapp:disp"},
                 {"wappHlpMsg", "winapp:help"},    {"wappHlpLabelMsg", "winapp:disp"},
                 {"__WiErrmsg", "lib:wi"}};
  LookupFunctions fn = withWrappers(sources, toolkit);
  auto isName = [](std::string const& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
  };
  std::vector<Lookup> lookups;
  for (auto const& s : sources) {
    std::vector<Token> const& t = s.tokens;
    for (size_t i = 0; i + 2 < t.size(); ++i) {
      if (t[i].kind != Token::Ident || !fn.lib.count(t[i].text) || t[i + 1].text != "(") continue;
      if (i > 0 && (t[i - 1].text == "->" || t[i - 1].text == ".")) continue;
      size_t a = i + 2;
      if (t[a].text == "String" && a + 2 < t.size() && t[a + 1].text == "(") a += 2;
      if (t[a].kind != Token::Str || !isName(t[a].text)) continue;
      std::string const& where = fn.lib.at(t[i].text);
      size_t colon = where.find(':');
      lookups.push_back({where.substr(0, colon), where.substr(colon + 1), t[a].text, s.where});
    }
  }
  auto has = [&lookups](char const* cat, char const* key) {
    return std::any_of(lookups.begin(), lookups.end(),
                       [&](Lookup const& l) { return l.catalogue == cat && l.key == key; });
  };
  EXPECT_TRUE(has("winapp", "HELPNOTAVAILABLE"));
  EXPECT_TRUE(has("winapp", "CANTPERFORM"));
  EXPECT_TRUE(has("winapp", "FILE"));
  EXPECT_TRUE(has("lib", "ERR"));
  std::vector<std::string> twice;
  auto catalogues = readCatalogues(twice);
  std::set<std::string> missing;
  for (auto const& l : lookups) {
    auto c = catalogues.find(l.catalogue);
    bool found = c != catalogues.end() && c->second.count(l.section) && c->second.at(l.section).count(l.key);
    if (!found) missing.insert("catalogs/" + l.catalogue + "/" + l.section + ".txt: " + l.key + " (" + l.where + ")");
  }
  EXPECT_TRUE(missing.empty()) << "keys looked up but missing from their catalogue source:\n"
                               << ::testing::PrintToString(missing);
}

}  // namespace
